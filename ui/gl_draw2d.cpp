#include "ui/gl_draw2d.h"

#include <GL/gl.h>

#include <cmath>
#include <vector>

#include "core/command_line.h"
#include "platform/log.h"
#include "platform/platform.h"

#ifndef GL_ARRAY_BUFFER
#define GL_ARRAY_BUFFER 0x8892
#define GL_ARRAY_BUFFER_BINDING 0x8894
#endif
#ifndef GL_CURRENT_PROGRAM
#define GL_CURRENT_PROGRAM 0x8B8D
#endif
#ifndef GL_TEXTURE0
#define GL_TEXTURE0 0x84C0
#define GL_ACTIVE_TEXTURE 0x84E0
#endif
#ifndef GL_CLAMP_TO_EDGE
#define GL_CLAMP_TO_EDGE 0x812F
#endif
#ifndef GL_FRAMEBUFFER
#define GL_FRAMEBUFFER 0x8D40
#define GL_FRAMEBUFFER_BINDING 0x8CA6
#endif

namespace {

struct Gl {
  void (*Enable)(GLenum);
  void (*Disable)(GLenum);
  void (*BlendFunc)(GLenum, GLenum);
  void (*MatrixMode)(GLenum);
  void (*LoadIdentity)();
  void (*Ortho)(GLdouble, GLdouble, GLdouble, GLdouble, GLdouble, GLdouble);
  void (*PushMatrix)();
  void (*PopMatrix)();
  void (*PushAttrib)(GLbitfield);
  void (*PopAttrib)();
  void (*PushClientAttrib)(GLbitfield);
  void (*PopClientAttrib)();
  void (*Viewport)(GLint, GLint, GLsizei, GLsizei);
  void (*GenTextures)(GLsizei, GLuint*);
  void (*DeleteTextures)(GLsizei, const GLuint*);
  void (*BindTexture)(GLenum, GLuint);
  void (*TexImage2D)(GLenum, GLint, GLint, GLsizei, GLsizei, GLint, GLenum, GLenum, const void*);
  void (*TexSubImage2D)(GLenum, GLint, GLint, GLint, GLsizei, GLsizei, GLenum, GLenum, const void*);
  void (*TexParameteri)(GLenum, GLenum, GLint);
  void (*TexEnvi)(GLenum, GLenum, GLint);
  void (*PixelStorei)(GLenum, GLint);
  void (*EnableClientState)(GLenum);
  void (*DisableClientState)(GLenum);
  void (*VertexPointer)(GLint, GLenum, GLsizei, const void*);
  void (*TexCoordPointer)(GLint, GLenum, GLsizei, const void*);
  void (*ColorPointer)(GLint, GLenum, GLsizei, const void*);
  void (*DrawArrays)(GLenum, GLint, GLsizei);
  void (*Begin)(GLenum);
  void (*End)();
  void (*Vertex2f)(GLfloat, GLfloat);
  void (*TexCoord2f)(GLfloat, GLfloat);
  void (*Color4f)(GLfloat, GLfloat, GLfloat, GLfloat);
  void (*GetIntegerv)(GLenum, GLint*);
  void (*DepthMask)(GLboolean);
  // Optional: only where the GL has them.
  void (*UseProgram)(GLuint);
  void (*BindBuffer)(GLenum, GLuint);
  void (*ActiveTexture)(GLenum);
  void (*BindFramebuffer)(GLenum, GLuint);
};

Gl gl = {};
bool g_ready = false;

template <typename F>
bool fetch(F* slot, const char* name, bool required) {
  *slot = reinterpret_cast<F>(gl_proc_address(name));
  if (!*slot && required) log_printf("2-D drawing: no %s\n", name);
  return *slot || !required;
}

struct Vertex {
  float x, y, u, v;
  float r, g, b, a;
};

std::vector<Vertex> g_batch;
unsigned g_batch_texture = 0;
bool g_in_pass = false;
GLint g_saved_program = 0, g_saved_buffer = 0, g_saved_active = GL_TEXTURE0, g_saved_framebuffer = 0;

void flush() {
  if (g_batch.empty() || !g_ready) {
    g_batch.clear();
    return;
  }
  if (g_batch_texture) {
    gl.Enable(GL_TEXTURE_2D);
    gl.BindTexture(GL_TEXTURE_2D, g_batch_texture);
  } else {
    gl.Disable(GL_TEXTURE_2D);
  }
  if (g_run_options.no_vertex_arrays) {
    gl.Begin(GL_TRIANGLES);
    for (const Vertex& v : g_batch) {
      gl.Color4f(v.r, v.g, v.b, v.a);
      gl.TexCoord2f(v.u, v.v);
      gl.Vertex2f(v.x, v.y);
    }
    gl.End();
  } else {
    const GLsizei stride = sizeof(Vertex);
    gl.VertexPointer(2, GL_FLOAT, stride, &g_batch[0].x);
    gl.TexCoordPointer(2, GL_FLOAT, stride, &g_batch[0].u);
    gl.ColorPointer(4, GL_FLOAT, stride, &g_batch[0].r);
    gl.DrawArrays(GL_TRIANGLES, 0, (GLsizei)g_batch.size());
  }
  g_batch.clear();
}

void use_texture(unsigned id) {
  if (id != g_batch_texture) {
    flush();
    g_batch_texture = id;
  }
}

void vertex(float x, float y, float u, float v, Rgba c) { g_batch.push_back({x, y, u, v, c.r, c.g, c.b, c.a}); }

void quad(float x0, float y0, float x1, float y1, float x2, float y2, float x3, float y3, float u0, float v0,
          float u1, float v1, Rgba c) {
  if (!g_in_pass) return;
  // Corners 0..3 clockwise from the top left: (u0,v0) (u1,v0) (u1,v1) (u0,v1).
  vertex(x0, y0, u0, v0, c);
  vertex(x1, y1, u1, v0, c);
  vertex(x2, y2, u1, v1, c);
  vertex(x0, y0, u0, v0, c);
  vertex(x2, y2, u1, v1, c);
  vertex(x3, y3, u0, v1, c);
}

GLenum format_of(int channels) { return channels == 1 ? GL_ALPHA : channels == 3 ? GL_RGB : GL_RGBA; }

}  // namespace

bool start_draw2d() {
  bool ok = true;
  ok &= fetch(&gl.Enable, "glEnable", true);
  ok &= fetch(&gl.Disable, "glDisable", true);
  ok &= fetch(&gl.BlendFunc, "glBlendFunc", true);
  ok &= fetch(&gl.MatrixMode, "glMatrixMode", true);
  ok &= fetch(&gl.LoadIdentity, "glLoadIdentity", true);
  ok &= fetch(&gl.Ortho, "glOrtho", true);
  ok &= fetch(&gl.PushMatrix, "glPushMatrix", true);
  ok &= fetch(&gl.PopMatrix, "glPopMatrix", true);
  ok &= fetch(&gl.PushAttrib, "glPushAttrib", true);
  ok &= fetch(&gl.PopAttrib, "glPopAttrib", true);
  ok &= fetch(&gl.PushClientAttrib, "glPushClientAttrib", true);
  ok &= fetch(&gl.PopClientAttrib, "glPopClientAttrib", true);
  ok &= fetch(&gl.Viewport, "glViewport", true);
  ok &= fetch(&gl.GenTextures, "glGenTextures", true);
  ok &= fetch(&gl.DeleteTextures, "glDeleteTextures", true);
  ok &= fetch(&gl.BindTexture, "glBindTexture", true);
  ok &= fetch(&gl.TexImage2D, "glTexImage2D", true);
  ok &= fetch(&gl.TexSubImage2D, "glTexSubImage2D", true);
  ok &= fetch(&gl.TexParameteri, "glTexParameteri", true);
  ok &= fetch(&gl.TexEnvi, "glTexEnvi", true);
  ok &= fetch(&gl.PixelStorei, "glPixelStorei", true);
  ok &= fetch(&gl.EnableClientState, "glEnableClientState", true);
  ok &= fetch(&gl.DisableClientState, "glDisableClientState", true);
  ok &= fetch(&gl.VertexPointer, "glVertexPointer", true);
  ok &= fetch(&gl.TexCoordPointer, "glTexCoordPointer", true);
  ok &= fetch(&gl.ColorPointer, "glColorPointer", true);
  ok &= fetch(&gl.DrawArrays, "glDrawArrays", true);
  ok &= fetch(&gl.Begin, "glBegin", true);
  ok &= fetch(&gl.End, "glEnd", true);
  ok &= fetch(&gl.Vertex2f, "glVertex2f", true);
  ok &= fetch(&gl.TexCoord2f, "glTexCoord2f", true);
  ok &= fetch(&gl.Color4f, "glColor4f", true);
  ok &= fetch(&gl.GetIntegerv, "glGetIntegerv", true);
  ok &= fetch(&gl.DepthMask, "glDepthMask", true);
  fetch(&gl.UseProgram, "glUseProgram", false);
  fetch(&gl.BindBuffer, "glBindBuffer", false);
  fetch(&gl.ActiveTexture, "glActiveTexture", false);
  fetch(&gl.BindFramebuffer, "glBindFramebuffer", false);
  if (!gl.BindFramebuffer) fetch(&gl.BindFramebuffer, "glBindFramebufferEXT", false);
  g_ready = ok;
  if (!ok) log_printf("The menus and the HUD are not drawn: this GL lacks what they need\n");
  return ok;
}

bool draw2d_ready() { return g_ready; }

UiTexture upload_ui_texture(const Image& image) {
  UiTexture texture;
  if (!g_ready || image.width <= 0 || image.height <= 0 || image.pixels.empty()) return texture;
  if (image.channels != 1 && image.channels != 3 && image.channels != 4) return texture;
  GLuint id = 0;
  gl.GenTextures(1, &id);
  if (!id) return texture;
  gl.BindTexture(GL_TEXTURE_2D, id);
  gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  gl.PixelStorei(GL_UNPACK_ALIGNMENT, 1);
  GLenum format = format_of(image.channels);
  gl.TexImage2D(GL_TEXTURE_2D, 0, (GLint)format, image.width, image.height, 0, format, GL_UNSIGNED_BYTE,
                image.pixels.data());
  gl.BindTexture(GL_TEXTURE_2D, 0);
  texture.id = id;
  texture.width = image.width;
  texture.height = image.height;
  return texture;
}

void update_ui_texture(UiTexture* texture, const Image& image) {
  if (!g_ready || !texture->id || image.width != texture->width || image.height != texture->height) return;
  flush();
  gl.BindTexture(GL_TEXTURE_2D, texture->id);
  gl.PixelStorei(GL_UNPACK_ALIGNMENT, 1);
  gl.TexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, image.width, image.height, format_of(image.channels),
                   GL_UNSIGNED_BYTE, image.pixels.data());
  gl.BindTexture(GL_TEXTURE_2D, g_in_pass ? g_batch_texture : 0);
}

void free_ui_texture(UiTexture* texture) {
  if (g_ready && texture->id) {
    GLuint id = texture->id;
    gl.DeleteTextures(1, &id);
  }
  *texture = UiTexture{};
}

void begin_2d(int width, int height) {
  if (!g_ready || g_in_pass || width <= 0 || height <= 0) return;
  gl.PushAttrib(GL_ALL_ATTRIB_BITS);
  gl.PushClientAttrib(GL_CLIENT_ALL_ATTRIB_BITS);
  // Whatever program, buffer, texture unit or render target the renderer
  // left bound would change or swallow our quads.
  if (gl.UseProgram) {
    gl.GetIntegerv(GL_CURRENT_PROGRAM, &g_saved_program);
    gl.UseProgram(0);
  }
  if (gl.BindBuffer) {
    gl.GetIntegerv(GL_ARRAY_BUFFER_BINDING, &g_saved_buffer);
    gl.BindBuffer(GL_ARRAY_BUFFER, 0);
  }
  if (gl.BindFramebuffer) {
    gl.GetIntegerv(GL_FRAMEBUFFER_BINDING, &g_saved_framebuffer);
    gl.BindFramebuffer(GL_FRAMEBUFFER, 0);
  }
  if (gl.ActiveTexture) {
    gl.GetIntegerv(GL_ACTIVE_TEXTURE, &g_saved_active);
    for (int unit = 1; unit < 4; unit++) {
      gl.ActiveTexture(GL_TEXTURE0 + unit);
      gl.Disable(GL_TEXTURE_2D);
    }
    gl.ActiveTexture(GL_TEXTURE0);
  }
  gl.Viewport(0, 0, width, height);
  gl.MatrixMode(GL_PROJECTION);
  gl.PushMatrix();
  gl.LoadIdentity();
  gl.Ortho(0, width, height, 0, -1, 1);
  gl.MatrixMode(GL_MODELVIEW);
  gl.PushMatrix();
  gl.LoadIdentity();
  gl.MatrixMode(GL_TEXTURE);
  gl.PushMatrix();
  gl.LoadIdentity();
  gl.Disable(GL_DEPTH_TEST);
  gl.DepthMask(GL_FALSE);
  gl.Disable(GL_CULL_FACE);
  gl.Disable(GL_LIGHTING);
  gl.Disable(GL_FOG);
  gl.Disable(GL_ALPHA_TEST);
  gl.Disable(GL_SCISSOR_TEST);
  gl.Disable(GL_STENCIL_TEST);
  gl.Disable(GL_TEXTURE_GEN_S);
  gl.Disable(GL_TEXTURE_GEN_T);
  gl.Enable(GL_BLEND);
  gl.BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  gl.TexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
  if (!g_run_options.no_vertex_arrays) {
    gl.EnableClientState(GL_VERTEX_ARRAY);
    gl.EnableClientState(GL_TEXTURE_COORD_ARRAY);
    gl.EnableClientState(GL_COLOR_ARRAY);
    gl.DisableClientState(GL_NORMAL_ARRAY);
  }
  g_in_pass = true;
  g_batch_texture = 0;
  g_batch.clear();
}

void end_2d() {
  if (!g_in_pass) return;
  flush();
  g_in_pass = false;
  gl.BindTexture(GL_TEXTURE_2D, 0);
  gl.MatrixMode(GL_TEXTURE);
  gl.PopMatrix();
  gl.MatrixMode(GL_PROJECTION);
  gl.PopMatrix();
  gl.MatrixMode(GL_MODELVIEW);
  gl.PopMatrix();
  if (gl.ActiveTexture) gl.ActiveTexture((GLenum)g_saved_active);
  if (gl.BindFramebuffer) gl.BindFramebuffer(GL_FRAMEBUFFER, (GLuint)g_saved_framebuffer);
  if (gl.BindBuffer) gl.BindBuffer(GL_ARRAY_BUFFER, (GLuint)g_saved_buffer);
  if (gl.UseProgram) gl.UseProgram((GLuint)g_saved_program);
  gl.PopClientAttrib();
  gl.PopAttrib();
}

void draw_rect(float x, float y, float w, float h, Rgba colour) {
  use_texture(0);
  quad(x, y, x + w, y, x + w, y + h, x, y + h, 0, 0, 0, 0, colour);
}

void draw_rect_outline(float x, float y, float w, float h, float t, Rgba colour) {
  draw_rect(x, y, w, t, colour);
  draw_rect(x, y + h - t, w, t, colour);
  draw_rect(x, y + t, t, h - 2 * t, colour);
  draw_rect(x + w - t, y + t, t, h - 2 * t, colour);
}

void draw_image(const UiTexture& texture, float x, float y, float w, float h, Rgba tint, float u0, float v0,
                float u1, float v1) {
  if (!texture.id) return;
  use_texture(texture.id);
  quad(x, y, x + w, y, x + w, y + h, x, y + h, u0, v0, u1, v1, tint);
}

void draw_image_rotated(const UiTexture& texture, float cx, float cy, float w, float h, float px, float py,
                        float angle, Rgba tint) {
  if (!texture.id) return;
  use_texture(texture.id);
  float c = std::cos(angle), s = std::sin(angle);
  auto corner = [&](float lx, float ly, float* ox, float* oy) {
    float dx = lx - px, dy = ly - py;
    *ox = cx + dx * c - dy * s;
    *oy = cy + dx * s + dy * c;
  };
  float x0, y0, x1, y1, x2, y2, x3, y3;
  corner(0, 0, &x0, &y0);
  corner(w, 0, &x1, &y1);
  corner(w, h, &x2, &y2);
  corner(0, h, &x3, &y3);
  quad(x0, y0, x1, y1, x2, y2, x3, y3, 0, 0, 1, 1, tint);
}

void draw_line(float x0, float y0, float x1, float y1, float thickness, Rgba colour) {
  float dx = x1 - x0, dy = y1 - y0;
  float length = std::sqrt(dx * dx + dy * dy);
  if (length <= 0) return;
  float nx = -dy / length * thickness * 0.5f, ny = dx / length * thickness * 0.5f;
  use_texture(0);
  quad(x0 + nx, y0 + ny, x1 + nx, y1 + ny, x1 - nx, y1 - ny, x0 - nx, y0 - ny, 0, 0, 0, 0, colour);
}

void draw_triangle(float x0, float y0, float x1, float y1, float x2, float y2, Rgba colour) {
  if (!g_in_pass) return;
  use_texture(0);
  vertex(x0, y0, 0, 0, colour);
  vertex(x1, y1, 0, 0, colour);
  vertex(x2, y2, 0, 0, colour);
}

void draw_disc(float cx, float cy, float radius, Rgba colour, int segments) {
  if (segments < 3) segments = 3;
  for (int i = 0; i < segments; i++) {
    float a0 = 6.2831853f * i / segments, a1 = 6.2831853f * (i + 1) / segments;
    draw_triangle(cx, cy, cx + radius * std::cos(a0), cy + radius * std::sin(a0), cx + radius * std::cos(a1),
                  cy + radius * std::sin(a1), colour);
  }
}
