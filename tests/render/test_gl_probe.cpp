// The probe and the shader programs on a real (software) GL, and on the same
// GL with doctored answers: a driver with two texture units, one whose
// extension string only starts like the fragment-shader extension.
#include <cstring>
#include <string>

#include "render/gl_shaders.h"
#include "tests/render/gl_fixture.h"

// Leak checking covers our code, not the desktop libraries SDL and Mesa load.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libdbus-1.so\nleak:_dri.so\nleak:libLLVM\nleak:libgallium\nleak:libGLX\n";
}

namespace {

// A doctored driver: the real entry points, except that the unit count and
// the extension string are ours and every shader object made is counted.
GLint g_fake_units = 2;
std::string g_fake_extensions;
int g_shader_objects_made = 0;
decltype(gl.GetString) g_real_get_string;
decltype(gl.GetIntegerv) g_real_get_integerv;
decltype(gl.CreateShaderObjectARB) g_real_create_shader;

const GLubyte* fake_get_string(GLenum name) {
  if (name == GL_EXTENSIONS) return reinterpret_cast<const GLubyte*>(g_fake_extensions.c_str());
  return g_real_get_string(name);
}
void fake_get_integerv(GLenum name, GLint* v) {
  if (name == GL_MAX_TEXTURE_UNITS_ARB) {
    *v = g_fake_units;
    return;
  }
  g_real_get_integerv(name, v);
}
GLhandleARB fake_create_shader(GLenum type) {
  g_shader_objects_made++;
  return g_real_create_shader(type);
}

void* doctored_lookup(const char* name) {
  if (!strcmp(name, "glGetString")) {
    g_real_get_string = reinterpret_cast<decltype(g_real_get_string)>(gl_proc_address(name));
    return reinterpret_cast<void*>(fake_get_string);
  }
  if (!strcmp(name, "glGetIntegerv")) {
    g_real_get_integerv = reinterpret_cast<decltype(g_real_get_integerv)>(gl_proc_address(name));
    return reinterpret_cast<void*>(fake_get_integerv);
  }
  if (!strcmp(name, "glCreateShaderObjectARB")) {
    g_real_create_shader = reinterpret_cast<decltype(g_real_create_shader)>(gl_proc_address(name));
    return reinterpret_cast<void*>(fake_create_shader);
  }
  return gl_proc_address(name);
}

const char* const SHADER_EXTENSIONS =
    "GL_ARB_multitexture GL_ARB_shader_objects GL_ARB_vertex_shader GL_ARB_fragment_shader";

}  // namespace

class GlProbeTest : public GlTest {
 protected:
  void TearDown() override {
    free_shaders();
    GlTest::TearDown();
  }
};

TEST_F(GlProbeTest, MesaGivesShadersAndAllSevenProgramsBuild) {
  EXPECT_GE(g_gl_info.major, 2) << g_gl_info.version;
  EXPECT_TRUE(g_gl_info.multitexture);
  EXPECT_GE(g_gl_info.texture_units, 4);
  EXPECT_TRUE(g_gl_info.clamp_to_edge);
  ASSERT_TRUE(shader_capable(g_gl_info)) << g_gl_info.extensions;
  ASSERT_TRUE(start_shader_programs(true));
  EXPECT_TRUE(shaders_active());
  for (int p = PROGRAM_FIXED; p < PROGRAM_COUNT; p++) {
    use_program(p);
    EXPECT_EQ(current_program(), p);
    EXPECT_EQ(gl_errors(), (GLenum)GL_NO_ERROR) << program_name(p);
  }
  use_program(PROGRAM_FIXED);
  // The setting off keeps everything fixed function even on a capable GL.
  EXPECT_FALSE(start_shader_programs(false));
  EXPECT_FALSE(shaders_active());
  use_program(PROGRAM_LIT);
  EXPECT_EQ(current_program(), PROGRAM_FIXED);
}

TEST_F(GlProbeTest, TwoTextureUnitsNeverActivateShaders) {
  g_fake_units = 2;
  g_fake_extensions = SHADER_EXTENSIONS;
  g_shader_objects_made = 0;
  ASSERT_TRUE(probe_gl(doctored_lookup));
  EXPECT_EQ(g_gl_info.texture_units, 2);
  EXPECT_TRUE(g_gl_info.fragment_shader);
  EXPECT_FALSE(start_shader_programs(true));
  EXPECT_FALSE(shaders_active());
  EXPECT_EQ(g_shader_objects_made, 0);  // not even tried

  // The same driver with four units builds them.
  g_fake_units = 4;
  ASSERT_TRUE(probe_gl(doctored_lookup));
  EXPECT_TRUE(start_shader_programs(true));
  EXPECT_EQ(g_shader_objects_made, 14);
}

TEST_F(GlProbeTest, AFragmentShaderPrefixIsNotTheExtension) {
  g_fake_units = 8;
  g_fake_extensions = "GL_ARB_multitexture GL_ARB_shader_objects GL_ARB_vertex_shader GL_ARB_fragment_shader_x";
  ASSERT_TRUE(probe_gl(doctored_lookup));
  EXPECT_FALSE(g_gl_info.fragment_shader);
  EXPECT_FALSE(start_shader_programs(true));
  // Without GL_EXT_framebuffer_object in the string the entry points do not count either.
  EXPECT_FALSE(g_gl_info.framebuffer_object);
}

TEST_F(GlProbeTest, EverySourceStartsWithTheBoneCount) {
  for (int p = 1; p < PROGRAM_COUNT; p++) {
    EXPECT_EQ(std::string(shader_source(p, false)).rfind("#define MAX_BONE 10\n", 0), 0u) << p;
    EXPECT_EQ(std::string(shader_source(p, true)).rfind("#define MAX_BONE 10\n", 0), 0u) << p;
  }
}

namespace {

// A full-screen quad drawn with "lit": flat ambient colour, no diffuse, no
// specular, a white texture; fog as given. Returns the centre pixel.
Rgb draw_lit_quad(float fog_density, float depth) {
  static const GLubyte white[4] = {255, 255, 255, 255};
  GLuint texture = 0;
  gl.GenTextures(1, &texture);
  gl.BindTexture(GL_TEXTURE_2D, texture);
  gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  gl.TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, white);
  gl.Enable(GL_TEXTURE_2D);
  gl.MatrixMode(GL_PROJECTION);
  gl.LoadIdentity();
  gl.Frustum(-1, 1, -1, 1, 1, 1000);
  gl.MatrixMode(GL_MODELVIEW);
  gl.LoadIdentity();
  const float light_ambient[4] = {1, 1, 1, 1}, black[4] = {0, 0, 0, 1}, position[4] = {0, 0, 1, 0};
  const float material[4] = {0.2f, 0.5f, 0.8f, 1.0f};
  gl.Lightfv(GL_LIGHT0, GL_POSITION, position);
  gl.Lightfv(GL_LIGHT0, GL_AMBIENT, light_ambient);
  gl.Lightfv(GL_LIGHT0, GL_DIFFUSE, black);
  gl.Lightfv(GL_LIGHT0, GL_SPECULAR, black);
  gl.Materialfv(GL_FRONT_AND_BACK, GL_AMBIENT, material);
  gl.Materialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, black);
  gl.Materialfv(GL_FRONT_AND_BACK, GL_SPECULAR, black);
  const float fog_colour[4] = {1, 0, 0, 1};
  gl.Fogfv(GL_FOG_COLOR, fog_colour);
  gl.Fogf(GL_FOG_DENSITY, fog_density);
  gl.ClearColor(0, 0, 0, 1);
  gl.Clear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  gl.Disable(GL_CULL_FACE);
  gl.Disable(GL_DEPTH_TEST);
  use_program(PROGRAM_LIT);
  gl.Begin(GL_QUADS);
  gl.Normal3f(0, 0, 1);
  gl.TexCoord2f(0, 0);
  gl.Vertex3f(-depth, -depth, -depth);
  gl.TexCoord2f(1, 0);
  gl.Vertex3f(depth, -depth, -depth);
  gl.TexCoord2f(1, 1);
  gl.Vertex3f(depth, depth, -depth);
  gl.TexCoord2f(0, 1);
  gl.Vertex3f(-depth, depth, -depth);
  gl.End();
  use_program(PROGRAM_FIXED);
  Rgb centre = GlTest::pixel(GlTest::read_back(), GlTest::WIDTH / 2, GlTest::HEIGHT / 2);
  gl.Disable(GL_TEXTURE_2D);
  gl.DeleteTextures(1, &texture);
  return centre;
}

}  // namespace

TEST_F(GlProbeTest, LitProgramShowsAmbientAndFogDensityZeroChangesNothing) {
  ASSERT_TRUE(start_shader_programs(true));
  Rgb clear = draw_lit_quad(0.0f, 10.0f);
  EXPECT_NEAR(clear.r, 51, 2);
  EXPECT_NEAR(clear.g, 128, 2);
  EXPECT_NEAR(clear.b, 204, 2);
  // Density 0.1 at depth 10: e^-1 of the colour stays, the rest is fog red.
  Rgb fogged = draw_lit_quad(0.1f, 10.0f);
  const double f = 0.36787944;
  EXPECT_NEAR(fogged.r, 255 * (1 - f) + 51 * f, 3);
  EXPECT_NEAR(fogged.g, 128 * f, 3);
  EXPECT_NEAR(fogged.b, 204 * f, 3);
  EXPECT_EQ(gl_errors(), (GLenum)GL_NO_ERROR);
}
