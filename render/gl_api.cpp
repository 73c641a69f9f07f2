#include "render/gl_api.h"

#include "platform/log.h"

GlApi gl;

namespace {

template <typename F>
bool fetch(GlProcLookup lookup, const char* name, F* out) {
  *out = reinterpret_cast<F>(lookup(name));
  return *out != nullptr;
}

}  // namespace

bool load_gl_api(GlProcLookup lookup) {
  gl = GlApi{};
  if (!lookup) return false;
  bool ok = true;
  // Only a missing core function is news; extensions are often absent.
  bool report = true;
#define DV_GL_FETCH(ret, name, params)                                   \
  if (!fetch(lookup, "gl" #name, &gl.name)) {                            \
    if (report) log_printf("Missing GL entry point gl%s\n", #name);      \
    ok = false;                                                          \
  }
  DV_GL_CORE_FUNCTIONS(DV_GL_FETCH)
  gl.core = ok;
  report = false;
  ok = true;
  DV_GL_MULTITEXTURE_FUNCTIONS(DV_GL_FETCH)
  gl.multitexture = ok;
  ok = true;
  DV_GL_FRAMEBUFFER_FUNCTIONS(DV_GL_FETCH)
  gl.framebuffer = ok;
  ok = true;
  DV_GL_SHADER_FUNCTIONS(DV_GL_FETCH)
  gl.shaders = ok;
#undef DV_GL_FETCH
  return gl.core;
}

void unload_gl_api() { gl = GlApi{}; }
