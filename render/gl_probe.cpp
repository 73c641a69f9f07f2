#include "render/gl_probe.h"

#include "platform/log.h"
#include "render/gl_shaders.h"

GlInfo g_gl_info;

namespace {

const char* gl_text(GLenum name) { return reinterpret_cast<const char*>(gl.GetString(name)); }

}  // namespace

bool probe_gl(GlProcLookup lookup) {
  g_gl_info = GlInfo{};
  if (!load_gl_api(lookup)) return false;
  describe_gl(&g_gl_info, gl_text(GL_VENDOR), gl_text(GL_RENDERER), gl_text(GL_VERSION), gl_text(GL_EXTENSIONS));
  // An extension only counts when its entry points came with it.
  g_gl_info.multitexture = g_gl_info.multitexture && gl.multitexture;
  g_gl_info.framebuffer_object = g_gl_info.framebuffer_object && gl.framebuffer;
  g_gl_info.shader_objects = g_gl_info.shader_objects && gl.shaders;
  if (g_gl_info.multitexture) {
    GLint units = 1;
    gl.GetIntegerv(GL_MAX_TEXTURE_UNITS_ARB, &units);
    g_gl_info.texture_units = units > 0 ? units : 1;
  }
  log_printf("%d texture units\n", g_gl_info.texture_units);
  // Whatever the queries left behind must not be blamed on the first frame.
  for (int i = 0; i < 16 && gl.GetError() != GL_NO_ERROR; i++) {
  }
  return g_gl_info.major > 0;
}

bool start_shader_programs(bool use_shaders_setting) {
  set_shaders_active(false);
  if (!use_shaders_setting || !shader_capable(g_gl_info)) return false;
  if (!compile_shaders()) return false;
  set_shaders_active(true);
  return true;
}
