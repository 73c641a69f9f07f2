// Text in window pixels from a font atlas (render/font.h) uploaded as a
// texture of the interface's own. Sizes are the em height in pixels; y is
// the top of the line box. Without a font every character is a small box,
// so a missing font file is obvious without taking the menus away.
#pragma once

#include "render/font.h"
#include "ui/gl_draw2d.h"

struct UiFont {
  Font font;
  UiTexture texture;
  bool loaded = false;
};

enum TextAlign { ALIGN_LEFT, ALIGN_CENTRE, ALIGN_RIGHT };

// Reads the font file and uploads its atlas; false (with a message) when the
// file is missing or damaged.
bool load_ui_font(UiFont* font, const char* name);
// Takes a font made in memory (tests, tools).
bool use_ui_font(UiFont* font, const Font& made);
void free_ui_font(UiFont* font);

double ui_text_width(const UiFont& font, const char* text, float size);
double ui_line_height(const UiFont& font, float size);
// Draws one line; returns its width.
double draw_text(const UiFont& font, const char* text, float x, float y, float size, Rgba colour,
                 TextAlign align = ALIGN_LEFT);
// The same with a dark copy one pixel down and right, for text over the
// 3-D view.
double draw_text_shadowed(const UiFont& font, const char* text, float x, float y, float size, Rgba colour,
                          TextAlign align = ALIGN_LEFT);
