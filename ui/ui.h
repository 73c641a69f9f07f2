// The user interface as the game installs it: the menus (ui/menu.h), the
// heads-up display (ui/hud.h), the message lines, the results board
// (ui/results.h), the chat line (ui/chat.h) and screenshots
// (ui/screenshot.h), joined to the shell through the ui section of
// g_game_hooks. The gl_* files draw; everything else runs headless.
#pragma once

#include "ui/chat.h"
#include "ui/menu.h"

// Everything the interface keeps between frames.
struct UiState {
  MenuSystem menus;
  ChatLine chat;
  bool suspension_graph = false;  // "togglegraph"
  int width = 0, height = 0;      // the drawable size of the last frame drawn
};

extern UiState g_ui;

// The menus' actions on the game (menu_actions.cpp).
void run_menu_action(MenuAction action, int arg);
void apply_menu_setup();
// MenuActions pointing at the functions above and the platform's axis
// learning (the game's); tests install their own.
MenuActions game_menu_actions();

// Fills g_game_hooks.ui with the interface (gl_ui.cpp).
void install_ui_hooks();
