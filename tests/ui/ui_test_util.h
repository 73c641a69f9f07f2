// Shared pieces of the interface tests: key and text events, a configuration
// with bikes and texture sets, and a menu system whose actions are recorded.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/discovery.h"
#include "core/game_hooks.h"
#include "core/message.h"
#include "ui/ui.h"

inline InputEvent key_down(int key, bool repeat = false) {
  InputEvent e = {};
  e.kind = INPUT_KEY;
  e.key = key;
  e.pressed = true;
  e.repeat = repeat;
  return e;
}

inline InputEvent typed(const char* text) {
  InputEvent e = {};
  e.kind = INPUT_TEXT;
  snprintf(e.text, sizeof e.text, "%s", text);
  return e;
}

// True when one of the stored message lines contains the text.
inline bool shown(const std::string& text) {
  for (int i = 0; const char* line = message_line(i); i++)
    if (std::string(line).find(text) != std::string::npos) return true;
  return false;
}

struct RecordedActions {
  std::vector<std::pair<MenuAction, int>> runs;
  int setups_applied = 0;
  std::vector<bool> text_input;
  int axis_watches = 0;
  int moved = AXIS_NONE;   // what moved_axis reports
  int raw[AXIS_COUNT] = {};  // what read_axis reports
};

extern RecordedActions* g_recorded;

inline MenuActions recording_actions() {
  MenuActions a = {};
  a.run = [](MenuAction action, int arg) { g_recorded->runs.push_back({action, arg}); };
  a.apply_setup = [] { g_recorded->setups_applied++; };
  a.text_input = [](bool on) { g_recorded->text_input.push_back(on); };
  a.start_axis_watch = [] { g_recorded->axis_watches++; };
  a.moved_axis = [](int) { return g_recorded->moved; };
  a.read_axis = [](int handle) { return handle >= 0 && handle < AXIS_COUNT ? g_recorded->raw[handle] : 0; };
  return a;
}

class UiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_config();
    set_choice_values(ChoiceListId::bike_models, {"450sxf(2016)", "crf450(2016)", "yz250f(2008)", "rs50yz"});
    set_choice_values(ChoiceListId::rider_textures, {"default", "red"});
    set_choice_values(ChoiceListId::head_textures, {"default", "white"});
    set_choice_values(ChoiceListId::bike_textures, {"default", "team"});
    set_choice_values(ChoiceListId::wheel_textures, {"default", "gold"});
    set_choice_values(ChoiceListId::video_modes, {"Default Fullscreen", "Windowed", "1024x768"});
    for (const SettingRow& row : config_rows())
      if (row.kind == SettingKind::binding) bind_control(row.binding);
    g_tracks = TrackList{};
    g_tracks.paths = {"dunes", "rabbithill", "woods"};
    g_tracks.names = {"Desert Dunes", "Rabbit Hill", "Woodland Loop"};
    g_tracks.selected = 1;
    g_demos = DemoList{};
    clear_message_lines();
    g_recorded = &recorded;
    menus = MenuSystem{};
    menus.actions = recording_actions();
    g_game_hooks = {};
  }
  void TearDown() override {
    g_game_hooks = {};
    g_recorded = nullptr;
  }

  void press(int key, int times = 1) {
    for (int i = 0; i < times; i++) menu_key(&menus, key_down(key));
  }
  void type(const char* text) { menu_key(&menus, typed(text)); }
  // Moves the cursor to the item with the label (fails the test when absent).
  void select(const std::string& label) {
    for (size_t i = 0; i < menus.page.items.size(); i++) {
      if (menus.page.items[i].label == label && item_selectable(menus.page.items[i])) {
        menus.stack.back().cursor = (int)i;
        return;
      }
    }
    ADD_FAILURE() << "no item \"" << label << "\" in " << menus.page.title;
  }
  std::string value(const std::string& label) {
    for (const MenuItem& item : menus.page.items)
      if (item.label == label) return item_value_text(item);
    ADD_FAILURE() << "no item \"" << label << "\"";
    return "";
  }
  std::string cursor_label() {
    const MenuItem* item = selected_item(menus);
    return item ? item->label : "";
  }

  MenuSystem menus;
  RecordedActions recorded;
};
