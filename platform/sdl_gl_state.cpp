// The game's own few GL calls; drawing belongs to the renderer.
#include <GL/gl.h>

#include "platform/gl_state.h"
#include "platform/log.h"
#include "platform/platform.h"

namespace {

typedef const GLubyte* (*GetStringFn)(GLenum);
typedef void (*ClearColorFn)(GLclampf, GLclampf, GLclampf, GLclampf);
typedef void (*ClearFn)(GLbitfield);
typedef void (*EnableFn)(GLenum);
typedef void (*CullFaceFn)(GLenum);
typedef void (*PixelStoreiFn)(GLenum, GLint);
typedef void (*ShadeModelFn)(GLenum);
typedef void (*FinishFn)();

template <typename F>
F gl(const char* name) {
  return reinterpret_cast<F>(gl_proc_address(name));
}

}  // namespace

bool log_gl_strings() {
  auto get_string = gl<GetStringFn>("glGetString");
  const char* names[4] = {"GL_VENDOR", "GL_RENDERER", "GL_VERSION", "GL_EXTENSIONS"};
  const GLenum which[4] = {GL_VENDOR, GL_RENDERER, GL_VERSION, GL_EXTENSIONS};
  bool have_version = false;
  for (int i = 0; i < 4; i++) {
    const GLubyte* text = get_string ? get_string(which[i]) : nullptr;
    if (i == 2) have_version = text != nullptr;
    log_printf("%s: %s\n", names[i], text ? reinterpret_cast<const char*>(text) : "(none)");
  }
  return have_version;
}

void set_initial_gl_state(bool flat_shading) {
  auto clear_color = gl<ClearColorFn>("glClearColor");
  auto enable = gl<EnableFn>("glEnable");
  auto cull_face = gl<CullFaceFn>("glCullFace");
  auto pixel_store = gl<PixelStoreiFn>("glPixelStorei");
  auto shade_model = gl<ShadeModelFn>("glShadeModel");
  clear_gl_frame();
  if (clear_color) clear_color(0.196078f, 0.6f, 0.8f, 0.0f);
  if (enable) enable(GL_CULL_FACE);
  if (cull_face) cull_face(GL_BACK);
  if (pixel_store) {
    pixel_store(GL_PACK_ALIGNMENT, 1);
    pixel_store(GL_UNPACK_ALIGNMENT, 1);
  }
  if (flat_shading && shade_model) shade_model(GL_FLAT);
}

void clear_gl_frame() {
  if (auto clear = gl<ClearFn>("glClear")) clear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

void finish_gl_frame() {
  if (auto finish = gl<FinishFn>("glFinish")) finish();
}
