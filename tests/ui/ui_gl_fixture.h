// What the interface's window tests share: a private Xvfb, fonts rasterised
// from the system's DejaVu faces through FreeType and written as font files
// (the way the data set's builder makes them), HUD images made in code, and
// PNG output of what was drawn for a person to look at.
#pragma once

#include <ft2build.h>
#include FT_FREETYPE_H
#include <png.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "render/font.h"
#include "render/image.h"

constexpr const char* DEJAVU_SANS = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr const char* DEJAVU_MONO = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf";

// Latin-1 printable characters at `pixels` em size; false when the face is
// not installed.
inline bool rasterise_font(const char* face_path, int pixels, Font* font, std::string* why) {
  FT_Library library;
  if (FT_Init_FreeType(&library)) {
    *why = "FreeType does not start";
    return false;
  }
  FT_Face face;
  if (FT_New_Face(library, face_path, 0, &face)) {
    FT_Done_FreeType(library);
    *why = std::string("no font file ") + face_path + " (apt-get install fonts-dejavu-core)";
    return false;
  }
  FT_Set_Pixel_Sizes(face, 0, (FT_UInt)pixels);
  std::vector<GlyphBitmap> glyphs;
  std::vector<uint32_t> codepoints;
  for (uint32_t c = 32; c < 127; c++) codepoints.push_back(c);
  for (uint32_t c = 160; c < 256; c++) codepoints.push_back(c);
  for (uint32_t c : codepoints) {
    if (FT_Load_Char(face, c, FT_LOAD_RENDER)) continue;
    FT_GlyphSlot slot = face->glyph;
    GlyphBitmap g;
    g.codepoint = c;
    g.width = (int)slot->bitmap.width;
    g.height = (int)slot->bitmap.rows;
    g.bearing_x = slot->bitmap_left;
    g.bearing_y = slot->bitmap_top;
    g.advance = (int32_t)slot->advance.x;
    g.coverage.resize((size_t)g.width * g.height);
    for (int y = 0; y < g.height; y++)
      for (int x = 0; x < g.width; x++)
        g.coverage[(size_t)y * g.width + x] = slot->bitmap.buffer[y * slot->bitmap.pitch + x];
    glyphs.push_back(std::move(g));
  }
  int ascent = (int)(face->size->metrics.ascender >> 6);
  int descent = (int)(-face->size->metrics.descender >> 6);
  int line = (int)(face->size->metrics.height >> 6);
  FT_Done_Face(face);
  FT_Done_FreeType(library);
  return pack_font(glyphs, pixels, ascent, descent, line, 1, font, why);
}

// RGBA PNG through libpng's simplified writer.
inline bool write_rgba_png(const std::string& path, const Image& image) {
  png_image png = {};
  png.version = PNG_IMAGE_VERSION;
  png.width = (png_uint_32)image.width;
  png.height = (png_uint_32)image.height;
  png.format = image.channels == 4 ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
  return png_image_write_to_file(&png, path.c_str(), 0, image.pixels.data(), 0, nullptr) != 0;
}

// A dial: dark face, a white rim, 16 ticks from -135 to +135 degrees.
inline Image make_tach_image(int size) {
  Image image;
  init_image(&image, size, size, 4);
  float c = size / 2.0f;
  for (int y = 0; y < size; y++)
    for (int x = 0; x < size; x++) {
      float dx = x + 0.5f - c, dy = y + 0.5f - c, r = std::sqrt(dx * dx + dy * dy) / c;
      uint8_t* p = &image.pixels[((size_t)y * size + x) * 4];
      double angle = std::atan2(dx, -dy);  // clockwise from up
      double step = 2.356194490192345 * 2 / 15;
      double k = (angle + 2.356194490192345) / step;
      bool tick = r > 0.80f && r < 0.93f && std::fabs(k - std::round(k)) < 0.05 && std::fabs(angle) <= 2.40;
      if (r > 1) {
        p[3] = 0;
      } else if (r > 0.95f || tick) {
        p[0] = p[1] = p[2] = 235;
        p[3] = 255;
      } else {
        p[0] = 20, p[1] = 22, p[2] = 28, p[3] = 215;
      }
    }
  return image;
}

inline Image make_plate_image(int w, int h, uint8_t r, uint8_t g, uint8_t b) {
  Image image;
  init_image(&image, w, h, 4);
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      uint8_t* p = &image.pixels[((size_t)y * w + x) * 4];
      bool edge = x < 4 || y < 4 || x >= w - 4 || y >= h - 4;
      p[0] = edge ? 200 : r, p[1] = edge ? 200 : g, p[2] = edge ? 200 : b, p[3] = 230;
    }
  return image;
}
