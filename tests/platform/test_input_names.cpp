#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/input.h"

namespace {

TEST(InputNames, EveryNameRoundTripsAndIsUnique) {
  std::set<std::string> keys;
  for (int code = 1; code < KEY_CODE_COUNT; code++) {
    const char* name = key_name(code);
    if (!name[0]) continue;
    EXPECT_TRUE(keys.insert(name).second) << "duplicate " << name;
    EXPECT_EQ(key_code_from_name(name), code) << name;
  }
  // Printable ASCII less upper case, 43 fixed keys, f1-f24, keypad digits, joysticks.
  EXPECT_EQ(keys.size(), 68u + 43 + 24 + 10 + JOYSTICK_SLOTS * (JOYSTICK_BUTTONS + 4 + JOYSTICK_PAD_BUTTONS));
  int axes = 0;
  for (int h = 0; h < AXIS_COUNT; h++) {
    if (!axis_name(h)[0]) continue;
    axes++;
    EXPECT_EQ(axis_from_name(axis_name(h)), h) << axis_name(h);
  }
  EXPECT_EQ(axes, 4 + JOYSTICK_SLOTS * (JOYSTICK_RAW_AXES + JOYSTICK_PAD_AXES));
}

TEST(InputNames, TheNamesBindingsUse) {
  const std::pair<const char*, int> keys[] = {
      {"left", KEY_LEFT},           {"right ctrl", KEY_RIGHT_CTRL},
      {"keypad enter", KEY_KEYPAD_ENTER}, {"page up", KEY_PAGE_UP},
      {"esc", KEY_ESC},             {"pause", KEY_PAUSE},
      {"cursor-left", KEY_CURSOR_LEFT}, {"\\", '\\'},
      {"[", '['},                   {"f12", KEY_F1 + 11},
      {"joystick-h-button-32", joystick_key(7, 31)},
      {"joystick-c-pad-start", joystick_key(2, JOYSTICK_PAD_KEY + 6)},
  };
  for (const auto& k : keys) {
    EXPECT_EQ(key_code_from_name(k.first), k.second) << k.first;
    EXPECT_STREQ(key_name(k.second), k.first);
  }
  EXPECT_EQ(axis_from_name("cursor-x"), AXIS_CURSOR_X);
  EXPECT_EQ(axis_from_name("mouse-y"), AXIS_MOUSE_Y);
  EXPECT_EQ(axis_from_name("Joystick-B-V"), joystick_axis(1, 5));
  EXPECT_EQ(axis_from_name("joystick-a-axis-7"), joystick_axis(0, 6));

  // Case, aliases (read, never written) and names that are no key.
  EXPECT_EQ(key_code_from_name("X"), 'x');
  EXPECT_EQ(key_code_from_name("ESCAPE"), KEY_ESC);
  EXPECT_STREQ(key_name(KEY_ESC), "esc");
  for (const char* bad : {"", "f25", "joystick-i-button-1", "joystick-a-button-33", "\x01", "\xc3\xa9"})
    EXPECT_EQ(key_code_from_name(bad), KEY_NONE) << bad;
  EXPECT_EQ(key_code_from_name(nullptr), KEY_NONE);
  EXPECT_EQ(axis_from_name("joystick-a-axis-17"), AXIS_NONE);
  EXPECT_STREQ(key_name('A'), "");
  EXPECT_STREQ(key_name(KEY_CODE_COUNT), "");
  EXPECT_STREQ(axis_name(AXIS_NONE), "");
}

}  // namespace
