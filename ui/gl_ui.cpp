// The interface joined to the shell: its section of the hook table, the
// assets it loads once the GL context exists, and the order of one frame's
// 2-D drawing (the screenshot is read back before the menus go on top).
#include <cstring>
#include <vector>

#include "core/command_line.h"
#include "core/game_hooks.h"
#include "core/main_loop.h"
#include "core/message.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "render/image.h"
#include "ui/gl_ui.h"
#include "ui/screenshot.h"
#include "ui/ui.h"

UiAssets g_ui_assets;

namespace {

constexpr float BANNER_UNITS = 480.0f;     // banner positions and sizes are in 1/480 of the height
constexpr float BANNER_TEXT_UNITS = 24.0f; // the usual banner size

bool g_screenshot_pending = false;

void load_image(const char* name, UiTexture* texture) {
  free_ui_texture(texture);
  // "!" asks the texture loader for full resolution; these are read whole anyway.
  const char* file = name[0] == '!' ? name + 1 : name;
  Image image;
  if (!read_png_file(file, &image, nullptr)) {
    log_printf("No HUD image '%s': drawn without it\n", file);
    return;
  }
  *texture = upload_ui_texture(image);
}

void window_size(int* width, int* height) {
  *width = *height = 0;
  drawable_size(width, height);
  g_ui.width = *width;
  g_ui.height = *height;
}

ChatSink chat_sink() {
  ChatSink sink = {};
  sink.connected = [] {
    NetState net = {};
    if (g_game_hooks.net.state) g_game_hooks.net.state(&net);
    return net.connected;
  };
  sink.send = g_game_hooks.net.console_line;
  sink.text_input = [](bool on) { on ? start_text_input() : stop_text_input(); };
  sink.clock = [] { return g_game_clock; };
  return sink;
}

// --- the hooks --------------------------------------------------------------------

void ui_load_assets() {
  load_ui_assets();
  g_ui.menus.actions = game_menu_actions();
  open_menu(&g_ui.menus, MENU_MAIN);
}

bool ui_menu_open() { return menu_is_open(g_ui.menus) || g_ui.chat.open; }

void ui_open_main_menu() {
  if (g_ui.chat.open) close_chat_line(&g_ui.chat, chat_sink());
  open_menu(&g_ui.menus, MENU_MAIN);
}

void ui_close_menu() {
  if (g_ui.chat.open) {
    close_chat_line(&g_ui.chat, chat_sink());
    return;
  }
  menu_back(&g_ui.menus);
}

void ui_menu_key(const InputEvent& event) {
  if (g_ui.chat.open) {
    chat_key(&g_ui.chat, event, chat_sink());
    return;
  }
  menu_key(&g_ui.menus, event);
  if (g_run_options.debug_level >= 2 && event.kind == INPUT_KEY) {
    const MenuItem* item = selected_item(g_ui.menus);
    log_printf("Menu key '%s': %s, at '%s'\n", key_name(event.key),
               menu_is_open(g_ui.menus) ? g_ui.menus.page.title.c_str() : "closed", item ? item->label.c_str() : "");
  }
}

void ui_menu_pointer(const MenuPointer& pointer) {
  if (g_ui.chat.open || g_ui.width <= 0 || g_ui.height <= 0) return;
  // Raw axis values span the window: -32768 at the left or top edge.
  int x = (int)((pointer.x + 32768.0) * g_ui.width / 65536.0);
  int y = (int)((pointer.y + 32768.0) * g_ui.height / 65536.0);
  menu_pointer(&g_ui.menus, x, y, pointer.drag, g_ui.width, g_ui.height);
}

void ui_open_chat() {
  open_chat_line(&g_ui.chat, chat_sink());
  if (g_run_options.debug_level >= 2) log_printf("Chat line open\n");
}

void ui_screenshot() { g_screenshot_pending = true; }

void ui_draw_hud(int slot) {
  int width, height;
  window_size(&width, &height);
  begin_2d(width, height);
  draw_hud_frame(slot, width, height);
  end_2d();
}

void ui_draw_banner(const char* text, float below_top, float scale) {
  int width, height;
  window_size(&width, &height);
  if (!text || height <= 0) return;
  float unit = height / BANNER_UNITS;
  float size = (scale > 0 ? scale : BANNER_TEXT_UNITS) * unit;
  begin_2d(width, height);
  draw_text_shadowed(g_ui_assets.text, text, width / 2.0f, below_top * unit, size, RGBA_WHITE, ALIGN_CENTRE);
  end_2d();
}

void take_pending_screenshot() {
  if (!g_screenshot_pending) return;
  g_screenshot_pending = false;
  std::vector<uint8_t> rgb;
  int width = 0, height = 0;
  if (!read_frame_rgb(&rgb, &width, &height)) {
    show_message("Can't take a screenshot: the frame can't be read");
    return;
  }
  save_screenshot(rgb.data(), width, height);
}

void ui_draw_menus() {
  int width, height;
  window_size(&width, &height);
  // The picture as the player saw it, before this frame's menus and messages.
  take_pending_screenshot();
  menu_poll_axes(&g_ui.menus);
  begin_2d(width, height);
  bool menu_screen = g_main_loop.mode == VIEW_MENU_SCREEN;
  if (menu_screen) draw_title(width, height);
  draw_message_lines(width, height);
  draw_menu_screen(width, height);
  draw_chat_line(width, height);
  end_2d();
}

void ui_free() {
  close_all_menus(&g_ui.menus);
  free_ui_assets();
}

}  // namespace

void load_ui_assets() {
  if (!start_draw2d()) return;
  load_ui_font(&g_ui_assets.text, FONT_FILE_TEXT);
  load_ui_font(&g_ui_assets.mono, FONT_FILE_MONO);
  // The fixed-pitch face stands in for the text face and back, so one file
  // missing still leaves readable text.
  if (!g_ui_assets.text.loaded && g_ui_assets.mono.loaded) use_ui_font(&g_ui_assets.text, g_ui_assets.mono.font);
  if (!g_ui_assets.mono.loaded && g_ui_assets.text.loaded) use_ui_font(&g_ui_assets.mono, g_ui_assets.text.font);
  load_image("!@tach.png", &g_ui_assets.tach);
  load_image("!@shifter.png", &g_ui_assets.shifter);
  load_image("!@pitboard.png", &g_ui_assets.pitboard);
  load_image("!@title.png", &g_ui_assets.title);
}

void free_ui_assets() {
  UiAssets& a = g_ui_assets;
  free_ui_font(&a.text);
  free_ui_font(&a.mono);
  for (UiTexture* t : {&a.tach, &a.shifter, &a.pitboard, &a.title, &a.map}) free_ui_texture(t);
  a.map_track.clear();
  a.map_reset = ~0u;
}

MenuActions game_menu_actions() {
  MenuActions a = {};
  a.run = run_menu_action;
  a.apply_setup = apply_menu_setup;
  a.text_input = [](bool on) { on ? start_text_input() : stop_text_input(); };
  a.start_axis_watch = start_axis_watch;
  a.moved_axis = moved_axis;
  a.read_axis = read_axis;
  return a;
}

void install_ui_hooks() {
  UiHooks& ui = g_game_hooks.ui;
  ui.load_assets = ui_load_assets;
  ui.menu_open = ui_menu_open;
  ui.open_main_menu = ui_open_main_menu;
  ui.close_menu = ui_close_menu;
  ui.menu_key = ui_menu_key;
  ui.menu_pointer = ui_menu_pointer;
  ui.open_chat = ui_open_chat;
  ui.screenshot = ui_screenshot;
  ui.draw_hud = ui_draw_hud;
  ui.draw_banner = ui_draw_banner;
  ui.draw_menus = ui_draw_menus;
  ui.free = ui_free;
}
