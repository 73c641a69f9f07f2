#include "ui/gl_text.h"

#include <cmath>
#include <cstring>

namespace {

// Box characters of the missing-font fallback, as fractions of the size.
constexpr double FALLBACK_ADVANCE = 0.6;
constexpr double FALLBACK_LINE = 1.2;

double scale_of(const UiFont& font, float size) {
  return font.loaded && font.font.pixel_size > 0 ? size / font.font.pixel_size : 1.0;
}

}  // namespace

bool use_ui_font(UiFont* font, const Font& made) {
  free_ui_font(font);
  font->font = made;
  font->texture = upload_ui_texture(font->font.atlas);
  font->loaded = font->texture.id != 0;
  return font->loaded;
}

bool load_ui_font(UiFont* font, const char* name) {
  Font read;
  if (!read_font_file(name, &read)) {
    free_ui_font(font);
    return false;
  }
  return use_ui_font(font, read);
}

void free_ui_font(UiFont* font) {
  free_ui_texture(&font->texture);
  font->font = Font{};
  font->loaded = false;
}

double ui_text_width(const UiFont& font, const char* text, float size) {
  if (!font.loaded) {
    size_t count = 0, pos = 0, length = strlen(text);
    while (pos < length && next_codepoint(text, length, &pos)) count++;
    return count * size * FALLBACK_ADVANCE;
  }
  return font_text_width(font.font, text) * scale_of(font, size);
}

double ui_line_height(const UiFont& font, float size) {
  return font.loaded ? font.font.line_height * scale_of(font, size) : size * FALLBACK_LINE;
}

double draw_text(const UiFont& font, const char* text, float x, float y, float size, Rgba colour, TextAlign align) {
  double width = ui_text_width(font, text, size);
  if (align == ALIGN_CENTRE) x -= (float)(width / 2);
  if (align == ALIGN_RIGHT) x -= (float)width;
  size_t length = strlen(text), pos = 0;
  if (!font.loaded) {
    float advance = size * (float)FALLBACK_ADVANCE;
    while (pos < length) {
      uint32_t cp = next_codepoint(text, length, &pos);
      if (cp != ' ') draw_rect_outline(x + advance * 0.1f, y + size * 0.2f, advance * 0.8f, size * 0.9f, 1, colour);
      x += advance;
    }
    return width;
  }
  const Font& f = font.font;
  double scale = scale_of(font, size);
  // At the atlas's own size glyphs land on whole pixels and stay crisp.
  bool snap = std::fabs(scale - 1.0) < 1e-3;
  double baseline = y + f.ascent * scale;
  if (snap) baseline = std::round(baseline);
  double pen = snap ? std::round(x) : x;
  uint32_t previous = 0;
  float aw = (float)f.atlas.width, ah = (float)f.atlas.height;
  while (pos < length) {
    uint32_t cp = next_codepoint(text, length, &pos);
    const FontGlyph* g = glyph_or_replacement(f, cp);
    if (!g) continue;
    if (previous) pen += font_kerning(f, previous, g->codepoint) / 64.0 * scale;
    if (g->width && g->height) {
      double gx = pen + g->bearing_x * scale, gy = baseline - g->bearing_y * scale;
      if (snap) gx = std::round(gx);
      draw_image(font.texture, (float)gx, (float)gy, (float)(g->width * scale), (float)(g->height * scale), colour,
                 g->x / aw, g->y / ah, (g->x + g->width) / aw, (g->y + g->height) / ah);
    }
    pen += g->advance / 64.0 * scale;
    previous = g->codepoint;
  }
  return width;
}

double draw_text_shadowed(const UiFont& font, const char* text, float x, float y, float size, Rgba colour,
                          TextAlign align) {
  float offset = size >= 24 ? 2.0f : 1.0f;
  draw_text(font, text, x + offset, y + offset, size, {0, 0, 0, colour.a * 0.75f}, align);
  return draw_text(font, text, x, y, size, colour, align);
}
