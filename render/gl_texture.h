// Textures on the GPU: the OpenGL backend of the texture cache (upload of
// the mip chain, wrapping by name suffix, filtering, compression, the border
// colour), binding, and the small white texture that stands in for "no
// texture" wherever a program samples one.
#pragma once

#include "render/texture.h"

extern const TextureBackend g_gl_texture_backend;

// Makes the white texture and routes every texture upload to the GPU.
// Needs probe_gl() first.
void start_gl_textures();
// Back to the recording backend; the white texture goes.
void stop_gl_textures();

// Binds the texture on the active unit, or the white texture for nullptr.
void bind_texture(const Texture* texture);
unsigned white_texture_handle();

// The GL enums an upload uses, for tests and the ground painter.
struct TextureParameters {
  int wrap_s, wrap_t;
  int min_filter, mag_filter;
  int internal_format;
};
TextureParameters texture_parameters(const TextureUpload& upload);
