// The interface's own small 2-D drawing layer over OpenGL: textures it owns
// (font atlases, HUD images, the track map), and rectangles, images, lines and
// triangles in window pixels with the origin at the top left, batched into
// vertex arrays (immediate mode with "--novertexarrays"). Text is drawn
// through gl_text.h on top of it. Entry points are fetched by name once the
// context exists; the renderer's own GL state is saved and restored around
// every 2-D pass.
#pragma once

#include <cstdint>

#include "render/image.h"

struct Rgba {
  float r, g, b, a;
};

constexpr Rgba RGBA_WHITE = {1, 1, 1, 1};

struct UiTexture {
  unsigned id = 0;
  int width = 0, height = 0;
};

// Fetches the entry points; false (and a log line) when one is missing, and
// every call below then does nothing.
bool start_draw2d();
bool draw2d_ready();

// One channel uploads as alpha (coverage tinted by the colour), three as RGB,
// four as RGBA; linear filtering, clamped edges, no mipmaps.
UiTexture upload_ui_texture(const Image& image);
// Replaces the pixels of a texture of the same size and channel count.
void update_ui_texture(UiTexture* texture, const Image& image);
void free_ui_texture(UiTexture* texture);

// A 2-D pass over a window of width x height pixels.
void begin_2d(int width, int height);
void end_2d();

void draw_rect(float x, float y, float w, float h, Rgba colour);
void draw_rect_outline(float x, float y, float w, float h, float thickness, Rgba colour);
// Part of a texture (u, v in 0..1 of the texture) into a rectangle.
void draw_image(const UiTexture& texture, float x, float y, float w, float h, Rgba tint, float u0 = 0,
                float v0 = 0, float u1 = 1, float v1 = 1);
// A texture rotated by `angle` radians (clockwise on screen) about the point
// (cx, cy), which sits at (px, py) of the w x h rectangle.
void draw_image_rotated(const UiTexture& texture, float cx, float cy, float w, float h, float px, float py,
                        float angle, Rgba tint);
void draw_line(float x0, float y0, float x1, float y1, float thickness, Rgba colour);
void draw_triangle(float x0, float y0, float x1, float y1, float x2, float y2, Rgba colour);
// A filled circle as a fan of `segments` triangles.
void draw_disc(float cx, float cy, float radius, Rgba colour, int segments = 20);
