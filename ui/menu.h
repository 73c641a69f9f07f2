// The menu system without any drawing: the menu tree, the stack of open
// menus with their cursors, key, joystick and pointer handling, the editing
// of setting records (numbers, choices, texts, key and axis bindings with
// axis range calibration), the screen layout that hit-testing and drawing
// share, and the actions a menu starts. The drawing is in menu_draw.cpp.
#pragma once

#include <string>
#include <vector>

#include "core/config.h"
#include "platform/input.h"

enum MenuId : int {
  MENU_MAIN,
  MENU_PRACTICE,
  MENU_RACE,
  MENU_LINEUP,
  MENU_TIME_TRIAL,
  MENU_SERIES,
  MENU_SERIES_EVENT,
  MENU_MULTIPLAYER,
  MENU_DEMOS,
  MENU_BIKE_SETUP,
  MENU_SUSPENSION,
  MENU_STABILITY,
  MENU_CONTROLS,
  MENU_GRAPHICS,
  MENU_SOUND,
  MENU_COUNT
};

enum MenuItemKind : int {
  ITEM_SUBMENU,  // opens `target`
  ITEM_ACTION,   // runs MenuAction `target` with `arg`
  ITEM_SETTING,  // edits `row` (element `element`)
  ITEM_TRACK,    // the track choice, by display name
  ITEM_READOUT,  // a label and a value, not selectable
  ITEM_HEADING,  // a label, not selectable
};

enum MenuAction : int {
  ACTION_START_PRACTICE,
  ACTION_START_RACE,
  ACTION_START_TIME_TRIAL,
  ACTION_START_SERIES_EVENT,  // arg: series index
  ACTION_CONNECT,             // to "server_name"
  ACTION_CONNECT_HISTORY,     // arg: history entry
  ACTION_DISCONNECT,
  ACTION_PLAY_DEMO,           // arg: index into the demo list
  ACTION_DEMO_PAGE,           // arg: -1 previous page, +1 next page
  ACTION_FILL_LINEUP,         // arg: the slot code every gate gets
  ACTION_DEFAULT_BINDINGS,
  ACTION_QUIT,
};

struct MenuItem {
  MenuItemKind kind = ITEM_HEADING;
  std::string label;
  int target = 0;  // MenuId or MenuAction
  int arg = 0;
  const SettingRow* row = nullptr;
  int element = 0;
  // A read-out shown beside the value ("0.452 kg/mm"), or for ITEM_READOUT
  // the value itself; null for none.
  std::string (*detail)(const MenuItem& item) = nullptr;
  std::string value;  // a fixed read-out's value
  std::string help;
};

struct MenuPage {
  MenuId id = MENU_MAIN;
  std::string title;
  std::vector<MenuItem> items;
};

// What a menu asks the game to do. Every entry may be null (then nothing
// happens); the game installs the real ones, tests their own.
struct MenuActions {
  void (*run)(MenuAction action, int arg);
  // Leaving a setup menu in which something changed.
  void (*apply_setup)();
  // Text input on while a text is edited.
  void (*text_input)(bool on);
  // Axis learning for the controls menu (platform/platform.h).
  void (*start_axis_watch)();
  int (*moved_axis)(int threshold);
  int (*read_axis)(int handle);
};

enum class MenuEdit {
  none,
  text,       // typing into a text or number item
  binding,    // waiting for a key press or an axis movement
  axis_low,   // calibrating: the axis at rest, Enter takes it
  axis_high,  // calibrating: the axis fully applied, Enter takes it
};

struct MenuFrame {
  MenuId id;
  int context;   // which series an event menu shows
  int cursor;
  int scroll;    // first item shown
  bool changed;  // a setting in this menu was edited
};

struct MenuSystem {
  std::vector<MenuFrame> stack;  // empty: no menu open
  MenuPage page;                 // the top menu's items
  MenuEdit edit = MenuEdit::none;
  std::string edit_text;         // the text being typed
  size_t caret = 0;              // byte offset into edit_text
  int axis = -1;                 // the axis being calibrated
  double axis_low = 0.0;
  int hover = -1;                // item under the pointer, -1 none
  int pointer_x = -1, pointer_y = -1;  // pixels, -1 before the first report
  bool dragging = false;         // a number is being dragged
  std::string note;              // one line under the items (prompts, refusals)
  MenuActions actions;
};

// Raw axis units an axis must move before the controls menu takes it.
constexpr int AXIS_LEARN_THRESHOLD = 8192;
// Items shown at once; longer menus scroll with the cursor.
constexpr int MENU_VISIBLE_ITEMS = 20;

// --- the tree ---------------------------------------------------------------------

// Fills the page for a menu from the configuration, the track, demo and
// series lists and the server history.
void build_menu(MenuId id, int context, MenuPage* page);
const char* menu_title(MenuId id);
// Menus whose leaving applies the bike setup.
bool is_setup_menu(MenuId id);

// --- opening and closing ------------------------------------------------------------

bool menu_is_open(const MenuSystem& menus);
void open_menu(MenuSystem* menus, MenuId id, int context = 0);
// One level back (an edit in progress is cancelled instead); leaving a setup
// menu with changes applies the setup. Closing the last menu closes all.
void menu_back(MenuSystem* menus);
void close_all_menus(MenuSystem* menus);
// Rebuilds the top page (lists changed underneath it), keeping the cursor.
void refresh_menu(MenuSystem* menus);

// --- input -------------------------------------------------------------------------

// Every key-down (and typed text) while a menu is open. Esc is the shell's:
// it calls menu_back. Returns true when the key was used.
bool menu_key(MenuSystem* menus, const InputEvent& event);
// Per frame while a menu is open: moves the hover, or drags a number.
void menu_pointer(MenuSystem* menus, int x, int y, bool drag, int width, int height);
// While waiting for an axis: takes the axis that moved, once per frame.
void menu_poll_axes(MenuSystem* menus);

const MenuItem* selected_item(const MenuSystem& menus);
bool item_selectable(const MenuItem& item);

// --- values ------------------------------------------------------------------------

// The value column of an item ("50", "Yes", "left", "(0.00,1.00) joystick-a-x").
std::string item_value_text(const MenuItem& item);
// Steps a number or choice item by `direction` (+1 or -1): numbers by their
// step within their range, choices around their list. False for other items.
bool step_item(MenuSystem* menus, int direction);
// Sets a number item to the fraction 0..1 of its range, on its step.
void set_number_fraction(MenuSystem* menus, const MenuItem& item, double fraction);

// --- layout --------------------------------------------------------------------------

// Text measuring the layout needs; the drawing passes the real font's.
struct MenuMetrics {
  double (*text_width)(const char* text, void* user);
  void* user;
  double line_height;  // pixels per item row
};

struct MenuRect {
  double x, y, width, height;
  bool contains(double px, double py) const {
    return px >= x && py >= y && px < x + width && py < y + height;
  }
};

struct MenuItemBox {
  int item;        // index into page.items
  MenuRect row;    // the whole row
  MenuRect value;  // the value column (the slider of a number)
};

struct MenuLayout {
  MenuRect panel;
  double title_y;
  double label_x, value_x;
  std::vector<MenuItemBox> boxes;  // the visible items, top to bottom
  double note_y, help_y;
  bool more_above, more_below;
};

MenuLayout layout_menu(const MenuSystem& menus, int width, int height, const MenuMetrics& metrics);
// Fixed metrics for the pointer handling (the same the drawing uses when no
// font is loaded); the drawing sets the real ones with set_menu_metrics.
void set_menu_metrics(const MenuMetrics& metrics);
const MenuMetrics& menu_metrics();
