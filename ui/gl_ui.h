// What the interface's drawing files share: the fonts and HUD images once
// the GL context exists, the text sizes, and the drawing entry points of
// each part (menus, HUD, results board, message and chat lines, banners).
#pragma once

#include <string>

#include "ui/gl_draw2d.h"
#include "ui/gl_text.h"
#include "ui/hud.h"

struct UiAssets {
  UiFont text;   // menus and HUD
  UiFont mono;   // results board, chat line, statistics
  UiTexture tach, shifter, pitboard, title;
  UiTexture map;  // the track map, painted from the ground heights
  std::string map_track;  // the track the map was painted for
  unsigned map_reset = ~0u;
};

extern UiAssets g_ui_assets;

// Loads both fonts and the four images; what is missing is reported and
// drawn without (boxes for text, plain shapes for the HUD).
void load_ui_assets();
void free_ui_assets();

// Text sizes in pixels for a window height.
float ui_text_size(int height);
float ui_small_text_size(int height);

void draw_menu_screen(int width, int height);
void draw_hud_frame(int slot, int width, int height);
// The viewed bike's row is highlighted.
void draw_results_board(int viewed_slot, int width, int height);
void draw_message_lines(int width, int height);
void draw_chat_line(int width, int height);
void draw_title(int width, int height);
