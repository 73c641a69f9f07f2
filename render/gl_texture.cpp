#include "render/gl_texture.h"

#include "platform/log.h"
#include "render/gl_api.h"
#include "render/gl_probe.h"

namespace {

GLuint g_white = 0;

GLenum pixel_format(int channels) {
  switch (channels) {
    case 1:
      return GL_LUMINANCE;
    case 4:
      return GL_RGBA;
    default:
      return GL_RGB;
  }
}

bool compressed(const TextureUpload& u) {
  return (u.flags & TEXTURE_COMPRESS) && g_gl_info.texture_compression && u.channels >= 3;
}

void drain_errors() {
  for (int i = 0; i < 16 && gl.GetError() != GL_NO_ERROR; i++) {
  }
}

void upload_levels(const TextureUpload& u, bool replace) {
  GLenum format = pixel_format(u.channels);
  GLint internal = texture_parameters(u).internal_format;
  for (int l = 0; l < u.levels; l++) {
    int w = level_size(u.width, l), h = level_size(u.height, l);
    const uint8_t* p = u.pixels + level_offset(u.width, u.height, u.channels, l);
    if (replace) {
      gl.TexSubImage2D(GL_TEXTURE_2D, l, 0, 0, w, h, format, GL_UNSIGNED_BYTE, p);
    } else {
      gl.TexImage2D(GL_TEXTURE_2D, l, internal, w, h, 0, format, GL_UNSIGNED_BYTE, p);
    }
  }
}

// Bytes the GL keeps for the levels: its own figure for compressed levels.
uint64_t level_memory(const TextureUpload& u) {
  uint64_t bytes = 0;
  for (int l = 0; l < u.levels; l++) {
    int w = level_size(u.width, l), h = level_size(u.height, l);
    GLint is_compressed = 0, size = 0;
    if (compressed(u)) {
      gl.GetTexLevelParameteriv(GL_TEXTURE_2D, l, GL_TEXTURE_COMPRESSED_ARB, &is_compressed);
      if (is_compressed) gl.GetTexLevelParameteriv(GL_TEXTURE_2D, l, GL_TEXTURE_COMPRESSED_IMAGE_SIZE_ARB, &size);
    }
    bytes += is_compressed && size > 0 ? (uint64_t)size : uint64_t(w) * h * u.channels;
  }
  return bytes;
}

unsigned gl_create(const TextureUpload& u, uint64_t* memory) {
  *memory = 0;
  if (!gl.core || u.width <= 0 || u.height <= 0 || u.levels < 1 || !u.pixels) return 0;
  drain_errors();
  GLuint handle = 0;
  gl.GenTextures(1, &handle);
  if (!handle) return 0;
  TextureParameters p = texture_parameters(u);
  gl.BindTexture(GL_TEXTURE_2D, handle);
  gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, p.wrap_s);
  gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, p.wrap_t);
  gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, p.min_filter);
  gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, p.mag_filter);
  // A chain cut short (detail reduction keeps the small end) must still be
  // complete, so the GL is told where it ends.
  if (g_gl_info.major > 1 || g_gl_info.minor >= 2) gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, u.levels - 1);
  if (u.channels == 3) gl.TexParameterfv(GL_TEXTURE_2D, GL_TEXTURE_BORDER_COLOR, u.border);
  upload_levels(u, false);
  *memory = level_memory(u);
  GLenum error = gl.GetError();
  drain_errors();
  if (error != GL_NO_ERROR) {
    log_printf("Texture upload of %dx%d failed (GL error %x)\n", u.width, u.height, error);
    gl.DeleteTextures(1, &handle);
    *memory = 0;
    return 0;
  }
  return handle;
}

void gl_update(unsigned handle, const TextureUpload& u) {
  if (!gl.core || !handle) return;
  gl.BindTexture(GL_TEXTURE_2D, handle);
  if (u.channels == 3) gl.TexParameterfv(GL_TEXTURE_2D, GL_TEXTURE_BORDER_COLOR, u.border);
  upload_levels(u, true);
}

void gl_destroy(unsigned handle) {
  if (!gl.core || !handle) return;
  GLuint h = handle;
  gl.DeleteTextures(1, &h);
}

}  // namespace

const TextureBackend g_gl_texture_backend = {"opengl", gl_create, gl_update, gl_destroy};

TextureParameters texture_parameters(const TextureUpload& u) {
  TextureParameters p{};
  GLint clamp = g_gl_info.clamp_to_edge ? GL_CLAMP_TO_EDGE : GL_CLAMP;
  p.wrap_s = (u.flags & TEXTURE_REPEAT_S) ? GL_REPEAT : clamp;
  p.wrap_t = (u.flags & TEXTURE_REPEAT_T) ? GL_REPEAT : clamp;
  bool mipmaps = u.levels > 1 && !(u.flags & TEXTURE_NO_MIPMAPS);
  if (g_gl_info.clamp_to_edge) {
    p.min_filter = mipmaps ? GL_LINEAR_MIPMAP_NEAREST : GL_LINEAR;
  } else {
    p.min_filter = mipmaps ? GL_NEAREST_MIPMAP_NEAREST : GL_NEAREST;
  }
  p.mag_filter = GL_LINEAR;
  if (compressed(u)) {
    p.internal_format = u.channels == 4 ? GL_COMPRESSED_RGBA_ARB : GL_COMPRESSED_RGB_ARB;
  } else {
    p.internal_format = u.channels == 4 ? GL_RGBA : (u.channels == 1 ? GL_LUMINANCE : GL_RGB);
  }
  return p;
}

void start_gl_textures() {
  set_texture_backend(&g_gl_texture_backend);
  if (g_white || !gl.core) return;
  static const GLubyte white[4] = {255, 255, 255, 255};
  gl.GenTextures(1, &g_white);
  gl.BindTexture(GL_TEXTURE_2D, g_white);
  gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  gl.TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, white);
  gl.BindTexture(GL_TEXTURE_2D, 0);
}

void stop_gl_textures() {
  if (g_white && gl.core) gl.DeleteTextures(1, &g_white);
  g_white = 0;
  set_texture_backend(nullptr);
}

void bind_texture(const Texture* texture) {
  gl.BindTexture(GL_TEXTURE_2D, texture && texture->handle ? texture->handle : g_white);
}

unsigned white_texture_handle() { return g_white; }
