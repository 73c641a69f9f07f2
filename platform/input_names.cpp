#include <cstdio>
#include <cstring>
#include <strings.h>

#include "platform/input.h"

namespace {

constexpr int NAME_CHARS = 32;

struct FixedName {
  int code;
  const char* name;
};

const FixedName FIXED_KEYS[] = {
    {KEY_BACKSPACE, "backspace"},
    {KEY_TAB, "tab"},
    {KEY_ENTER, "enter"},
    {KEY_ESC, "esc"},
    {KEY_SPACE, "space"},
    {KEY_DELETE, "delete"},
    {KEY_UP, "up"},
    {KEY_DOWN, "down"},
    {KEY_LEFT, "left"},
    {KEY_RIGHT, "right"},
    {KEY_INSERT, "insert"},
    {KEY_HOME, "home"},
    {KEY_END, "end"},
    {KEY_PAGE_UP, "page up"},
    {KEY_PAGE_DOWN, "page down"},
    {KEY_KEYPAD_PERIOD, "keypad ."},
    {KEY_KEYPAD_DIVIDE, "keypad /"},
    {KEY_KEYPAD_MULTIPLY, "keypad *"},
    {KEY_KEYPAD_MINUS, "keypad -"},
    {KEY_KEYPAD_PLUS, "keypad +"},
    {KEY_KEYPAD_ENTER, "keypad enter"},
    {KEY_KEYPAD_EQUALS, "keypad ="},
    {KEY_LEFT_SHIFT, "left shift"},
    {KEY_RIGHT_SHIFT, "right shift"},
    {KEY_LEFT_CTRL, "left ctrl"},
    {KEY_RIGHT_CTRL, "right ctrl"},
    {KEY_LEFT_ALT, "left alt"},
    {KEY_RIGHT_ALT, "right alt"},
    {KEY_LEFT_SUPER, "left super"},
    {KEY_RIGHT_SUPER, "right super"},
    {KEY_MENU, "menu"},
    {KEY_CAPS_LOCK, "caps lock"},
    {KEY_NUM_LOCK, "num lock"},
    {KEY_SCROLL_LOCK, "scroll lock"},
    {KEY_PRINT_SCREEN, "print screen"},
    {KEY_PAUSE, "pause"},
    {KEY_CURSOR_LEFT, "cursor-left"},
    {KEY_CURSOR_MIDDLE, "cursor-middle"},
    {KEY_CURSOR_RIGHT, "cursor-right"},
    {KEY_CURSOR_X1, "cursor-x1"},
    {KEY_CURSOR_X2, "cursor-x2"},
    {KEY_WHEEL_UP, "wheel-up"},
    {KEY_WHEEL_DOWN, "wheel-down"},
};

// Other spellings accepted when reading a name; never produced.
const FixedName KEY_ALIASES[] = {
    {KEY_ESC, "escape"},          {KEY_ENTER, "return"},         {KEY_PAGE_UP, "page-up"},
    {KEY_PAGE_UP, "pageup"},      {KEY_PAGE_DOWN, "page-down"},  {KEY_PAGE_DOWN, "pagedown"},
    {KEY_LEFT_CTRL, "ctrl"},      {KEY_LEFT_SHIFT, "shift"},     {KEY_LEFT_ALT, "alt"},
    {KEY_RIGHT_CTRL, "right control"}, {KEY_LEFT_CTRL, "left control"}, {KEY_KEYPAD_ENTER, "keypad-enter"},
    {KEY_SPACE, " "},
};

const char* const PAD_BUTTON_NAMES[JOYSTICK_PAD_BUTTONS] = {
    "pad-a",     "pad-b",          "pad-x",           "pad-y",       "pad-back",
    "pad-guide", "pad-start",      "pad-left-stick",  "pad-right-stick",
    "pad-left-shoulder", "pad-right-shoulder", "pad-up", "pad-down", "pad-left", "pad-right",
};

const char* const HAT_NAMES[4] = {"hat-up", "hat-down", "hat-left", "hat-right"};
const char* const RAW_AXIS_LETTERS[6] = {"x", "y", "z", "r", "u", "v"};
const char* const PAD_AXIS_NAMES[JOYSTICK_PAD_AXES] = {
    "left-x", "left-y", "right-x", "right-y", "trigger-left", "trigger-right",
};

struct NameTables {
  char keys[KEY_CODE_COUNT][NAME_CHARS];
  char axes[AXIS_COUNT][NAME_CHARS];
};

void build_key_names(NameTables& t) {
  for (const FixedName& k : FIXED_KEYS) snprintf(t.keys[k.code], NAME_CHARS, "%s", k.name);
  for (int c = 33; c < 127; c++) {
    if (c >= 'A' && c <= 'Z') continue;
    t.keys[c][0] = (char)c;
  }
  for (int n = 1; n <= 24; n++) snprintf(t.keys[KEY_F1 + n - 1], NAME_CHARS, "f%d", n);
  for (int d = 0; d <= 9; d++) snprintf(t.keys[KEY_KEYPAD_0 + d], NAME_CHARS, "keypad %d", d);
  for (int s = 0; s < JOYSTICK_SLOTS; s++) {
    char letter = (char)('a' + s);
    for (int b = 0; b < JOYSTICK_BUTTONS; b++)
      snprintf(t.keys[joystick_key(s, b)], NAME_CHARS, "joystick-%c-button-%d", letter, b + 1);
    for (int h = 0; h < 4; h++)
      snprintf(t.keys[joystick_key(s, JOYSTICK_HAT_KEY + h)], NAME_CHARS, "joystick-%c-%s", letter, HAT_NAMES[h]);
    for (int p = 0; p < JOYSTICK_PAD_BUTTONS; p++)
      snprintf(t.keys[joystick_key(s, JOYSTICK_PAD_KEY + p)], NAME_CHARS, "joystick-%c-%s", letter,
               PAD_BUTTON_NAMES[p]);
  }
}

void build_axis_names(NameTables& t) {
  snprintf(t.axes[AXIS_CURSOR_X], NAME_CHARS, "cursor-x");
  snprintf(t.axes[AXIS_CURSOR_Y], NAME_CHARS, "cursor-y");
  snprintf(t.axes[AXIS_MOUSE_X], NAME_CHARS, "mouse-x");
  snprintf(t.axes[AXIS_MOUSE_Y], NAME_CHARS, "mouse-y");
  for (int s = 0; s < JOYSTICK_SLOTS; s++) {
    char letter = (char)('a' + s);
    for (int a = 0; a < JOYSTICK_RAW_AXES; a++) {
      if (a < 6)
        snprintf(t.axes[joystick_axis(s, a)], NAME_CHARS, "joystick-%c-%s", letter, RAW_AXIS_LETTERS[a]);
      else
        snprintf(t.axes[joystick_axis(s, a)], NAME_CHARS, "joystick-%c-axis-%d", letter, a + 1);
    }
    for (int p = 0; p < JOYSTICK_PAD_AXES; p++)
      snprintf(t.axes[joystick_axis(s, JOYSTICK_PAD_AXIS + p)], NAME_CHARS, "joystick-%c-%s", letter,
               PAD_AXIS_NAMES[p]);
  }
}

const NameTables& tables() {
  struct Built : NameTables {
    Built() : NameTables() {
      build_key_names(*this);
      build_axis_names(*this);
    }
  };
  static const Built built;
  return built;
}

}  // namespace

const char* key_name(int code) {
  if (code <= KEY_NONE || code >= KEY_CODE_COUNT) return "";
  return tables().keys[code];
}

int key_code_from_name(const char* name) {
  if (!name || !name[0]) return KEY_NONE;
  // A single character is that key; upper case letters name the same key.
  if (name[1] == '\0') {
    unsigned char c = (unsigned char)name[0];
    if (c >= 'A' && c <= 'Z') return c - 'A' + 'a';
    if (c > 32 && c < 127) return c;
  }
  const NameTables& t = tables();
  for (int code = 1; code < KEY_CODE_COUNT; code++) {
    if (t.keys[code][0] && strcasecmp(t.keys[code], name) == 0) return code;
  }
  for (const FixedName& k : KEY_ALIASES) {
    if (strcasecmp(k.name, name) == 0) return k.code;
  }
  return KEY_NONE;
}

const char* axis_name(int handle) {
  if (handle < 0 || handle >= AXIS_COUNT) return "";
  return tables().axes[handle];
}

int axis_from_name(const char* name) {
  if (!name || !name[0]) return AXIS_NONE;
  const NameTables& t = tables();
  for (int h = 0; h < AXIS_COUNT; h++) {
    if (t.axes[h][0] && strcasecmp(t.axes[h], name) == 0) return h;
  }
  return AXIS_NONE;
}
