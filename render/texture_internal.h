// Pieces the texture cache, the animation reader and the backends share.
#pragma once

#include <cstdint>

#include "render/texture.h"

struct DataStream;

// Readies a freshly read image for upload: the mip chain (hand-drawn or
// generated), power-of-two resampling with its warning, detail reduction.
// `name` is used in warnings; nullptr keeps them quiet (later frames of an
// animation, which share the first frame's size).
void prepare_texture_image(Image* image, const char* name, bool max_alpha, bool custom, bool full_res);

// Uploads through the backend and counts the memory; nullptr when the
// backend refuses. The texture is not cached.
Texture* upload_texture(const Image& image, unsigned flags);

// Reads the rest of an "ANIM1" file (the magic already read) and creates its
// texture with the first sequence frame uploaded. Registers the animation.
Texture* load_animation(DataStream* stream, const char* name, unsigned flags);

// Drops animations whose texture has left the cache (all: every one).
void purge_animations(bool all);

// Grey to RGB for textures read from PGM files.
void expand_grey_to_rgb(Image* image);
