// The decisions taken from the driver's strings: the whole-word extension
// rule, the version, the shader capability rule and the ground method the GL
// can paint with.
#include <gtest/gtest.h>

#include "render/capabilities.h"
#include "track/terrain.h"

TEST(Capabilities, ExtensionCountsOnlyAsAWholeWord) {
  const char* list = "GL_ARB_fragment_shader_interlock GL_ARB_multitexture GL_EXT_framebuffer_object";
  EXPECT_FALSE(extension_present(list, "GL_ARB_fragment_shader"));  // only the start of a longer word
  EXPECT_TRUE(extension_present(list, "GL_ARB_multitexture"));
  EXPECT_TRUE(extension_present(list, "GL_EXT_framebuffer_object"));  // last, no blank after it
  EXPECT_TRUE(extension_present("GL_ARB_fragment_shader", "GL_ARB_fragment_shader"));
  EXPECT_FALSE(extension_present("XGL_ARB_multitexture", "GL_ARB_multitexture"));  // end of a longer word
  // A later whole occurrence still counts after a partial one.
  EXPECT_TRUE(extension_present("GL_ARB_fragment_shaderX GL_ARB_fragment_shader", "GL_ARB_fragment_shader"));
  EXPECT_FALSE(extension_present(nullptr, "GL_ARB_multitexture"));
  EXPECT_FALSE(extension_present("GL_ARB_multitexture", ""));
}

TEST(Capabilities, StringsDecideVersionFlagsAndNulls) {
  GlInfo info;
  describe_gl(&info, nullptr, "llvmpipe", "4.5 (Compatibility Profile) Mesa 22.3.6",
              "GL_ARB_multitexture GL_SGIS_generate_mipmap GL_ARB_vertex_shader GL_ARB_fragment_shader "
              "GL_ARB_shader_objects");
  EXPECT_EQ(info.vendor, "NULL");
  EXPECT_EQ(info.major * 10 + info.minor, 45);
  EXPECT_TRUE(info.generate_mipmap && info.multitexture && info.fragment_shader && info.texture_compression);
  EXPECT_FALSE(info.framebuffer_object);

  describe_gl(&info, "v", "r", "1.1 Old", "GL_ARB_multitexture");
  EXPECT_EQ(info.major * 10 + info.minor, 11);
  EXPECT_FALSE(info.texture_compression);  // compression needs a major version above 1
  EXPECT_FALSE(info.clamp_to_edge);
  describe_gl(&info, "v", "r", "1.1", "GL_EXT_texture_edge_clamp");
  EXPECT_TRUE(info.clamp_to_edge);
  describe_gl(&info, "v", "r", "garbage", "");
  EXPECT_EQ(info.major, 0);
}

TEST(Capabilities, ShadersNeedTheFragmentExtensionAndFourUnits) {
  GlInfo info;
  describe_gl(&info, "v", "r", "2.1", "GL_ARB_vertex_shader GL_ARB_fragment_shader GL_ARB_shader_objects");
  info.texture_units = 2;
  EXPECT_FALSE(shader_capable(info));
  info.texture_units = 4;
  EXPECT_TRUE(shader_capable(info));
  describe_gl(&info, "v", "r", "2.1", "GL_ARB_vertex_shader GL_ARB_fragment_shader_x GL_ARB_shader_objects");
  info.texture_units = 8;
  EXPECT_FALSE(shader_capable(info));
}

TEST(Capabilities, FramebufferPaintingFallsBackToSoftware) {
  GlInfo info;
  describe_gl(&info, "v", "r", "2.1", "GL_ARB_multitexture");
  EXPECT_EQ(usable_ground_method(info, GROUND_DIRECT), GROUND_SOFTWARE);
  EXPECT_EQ(usable_ground_method(info, GROUND_COPY), GROUND_COPY);
  describe_gl(&info, "v", "r", "2.1", "GL_EXT_framebuffer_object");
  EXPECT_EQ(usable_ground_method(info, GROUND_DIRECT), GROUND_DIRECT);
}
