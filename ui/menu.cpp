// The menu stack, input handling and value editing.
#include "ui/menu.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/controls.h"
#include "core/discovery.h"
#include "render/font.h"

namespace {

MenuFrame* top(MenuSystem* menus) { return menus->stack.empty() ? nullptr : &menus->stack.back(); }

int item_count(const MenuSystem& menus) { return (int)menus.page.items.size(); }

// The cursor's item within the page, or -1.
int cursor_index(const MenuSystem& menus) {
  if (menus.stack.empty()) return -1;
  int c = menus.stack.back().cursor;
  return c >= 0 && c < item_count(menus) ? c : -1;
}

void keep_cursor_visible(MenuSystem* menus) {
  MenuFrame* frame = top(menus);
  if (!frame) return;
  int count = item_count(*menus);
  int visible = MENU_VISIBLE_ITEMS;
  if (frame->cursor < frame->scroll) frame->scroll = frame->cursor;
  if (frame->cursor >= frame->scroll + visible) frame->scroll = frame->cursor - visible + 1;
  // A heading just above the first visible item comes into view with it.
  while (frame->scroll > 0 && frame->scroll == frame->cursor &&
         menus->page.items[(size_t)frame->scroll - 1].kind == ITEM_HEADING)
    frame->scroll--;
  frame->scroll = std::clamp(frame->scroll, 0, std::max(0, count - visible));
}

// The first selectable item at or after `from` going in `direction`, wrapping.
int find_selectable(const MenuSystem& menus, int from, int direction) {
  int count = item_count(menus);
  for (int n = 0; n < count; n++) {
    int i = ((from + direction * n) % count + count) % count;
    if (item_selectable(menus.page.items[(size_t)i])) return i;
  }
  return -1;
}

void place_cursor(MenuSystem* menus, int index) {
  MenuFrame* frame = top(menus);
  if (!frame) return;
  frame->cursor = index < 0 ? 0 : index;
  keep_cursor_visible(menus);
}

void move_cursor(MenuSystem* menus, int direction) {
  int at = cursor_index(*menus);
  int next = find_selectable(*menus, (at < 0 ? 0 : at + direction), direction);
  if (next >= 0) place_cursor(menus, next);
}

// Moves by whole screens, stopping at the ends instead of wrapping.
void move_page(MenuSystem* menus, int direction) {
  int count = item_count(*menus);
  if (count == 0) return;
  int at = std::max(0, cursor_index(*menus));
  int target = std::clamp(at + direction * (MENU_VISIBLE_ITEMS - 1), 0, count - 1);
  int found = find_selectable(*menus, target, direction > 0 ? -1 : 1);
  if (found >= 0) place_cursor(menus, found);
}

void build_top(MenuSystem* menus) {
  const MenuFrame* frame = top(menus);
  if (!frame) {
    menus->page = MenuPage{};
    return;
  }
  build_menu(frame->id, frame->context, &menus->page);
}

void stop_edit(MenuSystem* menus) {
  if (menus->edit == MenuEdit::text && menus->actions.text_input) menus->actions.text_input(false);
  menus->edit = MenuEdit::none;
  menus->edit_text.clear();
  menus->caret = 0;
  menus->axis = -1;
}

void mark_changed(MenuSystem* menus, const MenuItem& item) {
  if (MenuFrame* frame = top(menus)) frame->changed = true;
  if (item.row) setting_changed(*item.row);
}

// Leaves the top frame, applying the setup when it was a setup menu with changes.
void pop_frame(MenuSystem* menus) {
  MenuFrame frame = menus->stack.back();
  menus->stack.pop_back();
  if (frame.changed && is_setup_menu(frame.id)) {
    if (menus->actions.apply_setup) menus->actions.apply_setup();
  }
  // A change made in a submenu counts for the menus it was opened from, so
  // leaving the bike setup through the main menu still applies it once.
  if (frame.changed && !menus->stack.empty() && !is_setup_menu(frame.id)) menus->stack.back().changed = true;
}

char* text_target(const MenuItem& item) {
  const SettingRow& row = *item.row;
  return row.text + (size_t)item.element * (size_t)(row.max_length + 1);
}

double* number_target(const MenuItem& item) { return item.row->number + item.element; }

std::string number_text(double value, double step) {
  char text[64];
  // As many decimals as the step needs: 0.03125 shows five, 0.25 two, 1 none.
  int decimals = 0;
  while (decimals < 6 && std::fabs(step * std::pow(10.0, decimals) - std::round(step * std::pow(10.0, decimals))) > 1e-9)
    decimals++;
  snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

void start_text_edit(MenuSystem* menus, const MenuItem& item) {
  menus->edit = MenuEdit::text;
  if (item.row->kind == SettingKind::number) {
    menus->edit_text = number_text(*number_target(item), item.row->step);
  } else {
    menus->edit_text = text_target(item);
  }
  menus->caret = menus->edit_text.size();
  menus->note = "Type, then Enter; Esc cancels";
  if (menus->actions.text_input) menus->actions.text_input(true);
}

void commit_text_edit(MenuSystem* menus) {
  const MenuItem* item = selected_item(*menus);
  if (!item || !item->row) {
    stop_edit(menus);
    return;
  }
  const SettingRow& row = *item->row;
  if (row.kind == SettingKind::number) {
    char* end = nullptr;
    double value = strtod(menus->edit_text.c_str(), &end);
    while (end && *end == ' ') end++;
    if (menus->edit_text.empty() || !end || *end || !std::isfinite(value)) {
      menus->note = "Not a number: \"" + menus->edit_text + "\"";
      stop_edit(menus);
      return;
    }
    *number_target(*item) = std::clamp(value, row.minimum, row.maximum);
  } else {
    // The buffer holds max_length bytes; never cut inside a UTF-8 sequence.
    std::string text = menus->edit_text;
    size_t limit = (size_t)row.max_length;
    if (text.size() > limit) {
      text.resize(limit);
      while (!text.empty() && ((unsigned char)text.back() & 0xC0) == 0x80) text.pop_back();
      if (!text.empty() && (unsigned char)text.back() >= 0xC0) text.pop_back();
    }
    char* target = text_target(*item);
    memcpy(target, text.c_str(), text.size() + 1);
  }
  menus->note.clear();
  stop_edit(menus);
  mark_changed(menus, *item);
}

// Byte length of the UTF-8 sequence that ends at `end` (for backspace).
size_t previous_codepoint_length(const std::string& text, size_t end) {
  size_t start = end;
  while (start > 0) {
    start--;
    if (((unsigned char)text[start] & 0xC0) != 0x80) break;
  }
  return end - start;
}

size_t next_codepoint_length(const std::string& text, size_t at) {
  size_t pos = at;
  next_codepoint(text.data(), text.size(), &pos);
  return pos - at;
}

void insert_text(MenuSystem* menus, const char* typed) {
  const MenuItem* item = selected_item(*menus);
  if (!item || !item->row) return;
  bool number = item->row->kind == SettingKind::number;
  size_t limit = number ? 32 : (size_t)item->row->max_length;
  for (size_t pos = 0, length = strlen(typed); pos < length;) {
    size_t start = pos;
    uint32_t cp = next_codepoint(typed, length, &pos);
    if (cp < 32 || cp == 127) continue;
    if (number && !strchr("0123456789.-+eE", (int)cp)) continue;
    std::string piece(typed + start, pos - start);
    if (menus->edit_text.size() + piece.size() > limit) break;
    menus->edit_text.insert(menus->caret, piece);
    menus->caret += piece.size();
  }
}

bool text_edit_key(MenuSystem* menus, const InputEvent& event) {
  if (event.kind == INPUT_TEXT) {
    insert_text(menus, event.text);
    return true;
  }
  std::string& text = menus->edit_text;
  switch (event.key) {
    case KEY_ENTER:
    case KEY_KEYPAD_ENTER: commit_text_edit(menus); break;
    case KEY_BACKSPACE:
      if (menus->caret > 0) {
        size_t n = previous_codepoint_length(text, menus->caret);
        text.erase(menus->caret - n, n);
        menus->caret -= n;
      }
      break;
    case KEY_DELETE:
      if (menus->caret < text.size()) text.erase(menus->caret, next_codepoint_length(text, menus->caret));
      break;
    case KEY_LEFT:
      if (menus->caret > 0) menus->caret -= previous_codepoint_length(text, menus->caret);
      break;
    case KEY_RIGHT:
      if (menus->caret < text.size()) menus->caret += next_codepoint_length(text, menus->caret);
      break;
    case KEY_HOME: menus->caret = 0; break;
    case KEY_END: menus->caret = text.size(); break;
    default: break;  // typed characters arrive as text events
  }
  return true;
}

// The other binding that already uses the key or axis, for a warning.
std::string shared_binding_note(const Binding* changed) {
  for (const SettingRow& row : config_rows()) {
    if (row.kind != SettingKind::binding || row.binding == changed) continue;
    const Binding& b = *row.binding;
    bool same = (!changed->key_name.empty() && b.key_code == changed->key_code && b.key_code > 0) ||
                (!changed->axis_name.empty() && b.axis == changed->axis && b.axis >= 0);
    if (same) return std::string("Also used by ") + row.label;
  }
  return "";
}

void finish_binding(MenuSystem* menus, const MenuItem& item) {
  Binding* binding = item.row->binding;
  bind_control(binding);
  menus->note = shared_binding_note(binding);
  stop_edit(menus);
  mark_changed(menus, item);
}

void bind_key(MenuSystem* menus, const MenuItem& item, int code) {
  const char* name = key_name(code);
  if (!name[0]) return;  // a key without a name cannot be stored
  Binding* binding = item.row->binding;
  *binding = Binding{};
  binding->key_name = name;
  finish_binding(menus, item);
}

void start_binding(MenuSystem* menus) {
  menus->edit = MenuEdit::binding;
  menus->note = "Press a key or button, or move an axis; Esc cancels";
  if (menus->actions.start_axis_watch) menus->actions.start_axis_watch();
}

double axis_position(MenuSystem* menus) {
  int raw = menus->actions.read_axis ? menus->actions.read_axis(menus->axis) : 0;
  return raw / 32768.0;
}

void calibration_key(MenuSystem* menus, const InputEvent& event) {
  const MenuItem* item = selected_item(*menus);
  if (!item || !item->row) {
    stop_edit(menus);
    return;
  }
  if (event.key != KEY_ENTER && event.key != KEY_KEYPAD_ENTER) return;
  if (menus->edit == MenuEdit::axis_low) {
    menus->axis_low = axis_position(menus);
    menus->edit = MenuEdit::axis_high;
    menus->note = "Now hold the axis fully applied and press Enter";
    return;
  }
  double high = axis_position(menus);
  // A range this small would make the control an on/off switch at a random
  // point; the player most likely pressed Enter twice.
  if (std::fabs(high - menus->axis_low) < 0.05) {
    menus->edit = MenuEdit::axis_low;
    menus->note = "The axis hardly moved; let it rest and press Enter again";
    return;
  }
  Binding* binding = item->row->binding;
  *binding = Binding{};
  binding->axis_name = axis_name(menus->axis);
  binding->low = menus->axis_low;
  binding->high = high;
  finish_binding(menus, *item);
}

void fill_lineup(MenuSystem* menus, int code) {
  g_config.slot[0] = SLOT_HUMAN;
  for (int i = 1; i < CONFIG_LINEUP_SLOTS; i++) g_config.slot[i] = code;
  if (MenuFrame* frame = top(menus)) frame->changed = true;
}

void default_bindings(MenuSystem* menus) {
  for (const SettingRow& row : config_rows()) {
    if (row.kind != SettingKind::binding) continue;
    parse_binding(row.binding, row.default_text ? row.default_text : "");
    bind_control(row.binding);
  }
  menus->note = "Every control is on its default key";
  if (MenuFrame* frame = top(menus)) frame->changed = true;
}

void run_action(MenuSystem* menus, MenuItem item) {
  MenuAction act = (MenuAction)item.target;
  switch (act) {
    case ACTION_DEMO_PAGE:
      g_demos.first_shown = std::max(0, g_demos.first_shown + item.arg * DEMO_PAGE_ENTRIES);
      refresh_menu(menus);
      place_cursor(menus, find_selectable(*menus, 0, 1));
      return;
    case ACTION_FILL_LINEUP: fill_lineup(menus, item.arg); return;
    case ACTION_DEFAULT_BINDINGS: default_bindings(menus); return;
    default: break;
  }
  // The player leaves the menus for what the action starts; a setup edited
  // on the way is applied before the race resets.
  bool leaves = act != ACTION_QUIT && act != ACTION_DISCONNECT;
  if (leaves) close_all_menus(menus);
  if (menus->actions.run) menus->actions.run(act, item.arg);
}

void step_track(int direction) {
  int count = (int)g_tracks.paths.size();
  if (count == 0) return;
  g_tracks.selected = ((g_tracks.selected + direction) % count + count) % count;
  snprintf(g_config.track, sizeof g_config.track, "%s", g_tracks.paths[(size_t)g_tracks.selected].c_str());
}

// By value: an action may rebuild the page the item came from.
void activate(MenuSystem* menus, MenuItem item) {
  switch (item.kind) {
    case ITEM_SUBMENU: open_menu(menus, (MenuId)item.target, item.arg); break;
    case ITEM_ACTION: run_action(menus, item); break;
    case ITEM_TRACK: step_track(+1); break;
    case ITEM_SETTING:
      switch (item.row->kind) {
        case SettingKind::choice: step_item(menus, +1); break;
        case SettingKind::number:
        case SettingKind::text: start_text_edit(menus, item); break;
        case SettingKind::binding: start_binding(menus); break;
        default: break;
      }
      break;
    default: break;
  }
}

bool is_joystick_key(int key, int index) {
  if (key < KEY_JOYSTICK_FIRST || key >= KEY_CODE_COUNT) return false;
  return (key - KEY_JOYSTICK_FIRST) % JOYSTICK_KEYS_PER_SLOT == index;
}

// Menu directions from a joystick's hat, a game controller's pad and its
// first two buttons.
enum PadMove { PAD_NONE, PAD_UP, PAD_DOWN, PAD_LEFT, PAD_RIGHT, PAD_ENTER, PAD_BACK };
PadMove pad_move(int key) {
  if (key < KEY_JOYSTICK_FIRST || key >= KEY_CODE_COUNT) return PAD_NONE;
  // Game controller: a = pad 0, b = pad 1, d-pad up/down/left/right = pad 11..14.
  static const int hat[4] = {JOYSTICK_HAT_KEY, JOYSTICK_HAT_KEY + 1, JOYSTICK_HAT_KEY + 2, JOYSTICK_HAT_KEY + 3};
  static const int dpad[4] = {JOYSTICK_PAD_KEY + 11, JOYSTICK_PAD_KEY + 12, JOYSTICK_PAD_KEY + 13, JOYSTICK_PAD_KEY + 14};
  static const PadMove moves[4] = {PAD_UP, PAD_DOWN, PAD_LEFT, PAD_RIGHT};
  for (int i = 0; i < 4; i++)
    if (is_joystick_key(key, hat[i]) || is_joystick_key(key, dpad[i])) return moves[i];
  if (is_joystick_key(key, 0) || is_joystick_key(key, JOYSTICK_PAD_KEY + 0)) return PAD_ENTER;
  if (is_joystick_key(key, 1) || is_joystick_key(key, JOYSTICK_PAD_KEY + 1)) return PAD_BACK;
  return PAD_NONE;
}

const MenuItemBox* box_at(const MenuLayout& layout, int x, int y) {
  for (const MenuItemBox& box : layout.boxes)
    if (box.row.contains(x, y)) return &box;
  return nullptr;
}

int last_width = 800, last_height = 600;

void click(MenuSystem* menus, int direction) {
  MenuLayout layout = layout_menu(*menus, last_width, last_height, menu_metrics());
  const MenuItemBox* box = box_at(layout, menus->pointer_x, menus->pointer_y);
  if (!box || !item_selectable(menus->page.items[(size_t)box->item])) {
    if (direction < 0) menu_back(menus);  // a right click off the items goes back
    return;
  }
  place_cursor(menus, box->item);
  MenuItem item = menus->page.items[(size_t)box->item];
  bool on_value = box->value.contains(menus->pointer_x, menus->pointer_y);
  if (item.kind == ITEM_SETTING && item.row->kind == SettingKind::number && on_value) {
    double fraction = (menus->pointer_x - box->value.x) / std::max(1.0, box->value.width);
    set_number_fraction(menus, item, fraction);
    menus->dragging = direction > 0;
    return;
  }
  if (direction < 0) {
    step_item(menus, -1);
    return;
  }
  activate(menus, item);
}

}  // namespace

bool item_selectable(const MenuItem& item) { return item.kind != ITEM_READOUT && item.kind != ITEM_HEADING; }

bool menu_is_open(const MenuSystem& menus) { return !menus.stack.empty(); }

void open_menu(MenuSystem* menus, MenuId id, int context) {
  stop_edit(menus);
  menus->note.clear();
  menus->dragging = false;
  menus->stack.push_back(MenuFrame{id, context, 0, 0, false});
  build_top(menus);
  place_cursor(menus, find_selectable(*menus, 0, 1));
}

void refresh_menu(MenuSystem* menus) {
  MenuFrame* frame = top(menus);
  if (!frame) return;
  build_top(menus);
  int count = item_count(*menus);
  if (frame->cursor >= count || (count > 0 && !item_selectable(menus->page.items[(size_t)frame->cursor]))) {
    frame->cursor = std::max(0, find_selectable(*menus, std::min(frame->cursor, count - 1), -1));
  }
  keep_cursor_visible(menus);
}

void menu_back(MenuSystem* menus) {
  if (menus->stack.empty()) return;
  if (menus->edit != MenuEdit::none) {
    stop_edit(menus);
    menus->note.clear();
    return;
  }
  pop_frame(menus);
  menus->note.clear();
  menus->dragging = false;
  build_top(menus);
  if (!menus->stack.empty()) keep_cursor_visible(menus);
}

void close_all_menus(MenuSystem* menus) {
  stop_edit(menus);
  while (!menus->stack.empty()) pop_frame(menus);
  menus->note.clear();
  menus->dragging = false;
  menus->hover = -1;
  build_top(menus);
}

const MenuItem* selected_item(const MenuSystem& menus) {
  int i = cursor_index(menus);
  return i < 0 ? nullptr : &menus.page.items[(size_t)i];
}

bool menu_key(MenuSystem* menus, const InputEvent& event) {
  if (menus->stack.empty()) return false;
  if (menus->edit == MenuEdit::text) return text_edit_key(menus, event);
  if (event.kind != INPUT_KEY || !event.pressed) return false;
  const MenuItem* item = selected_item(*menus);
  if (menus->edit == MenuEdit::binding) {
    // The key that started the capture may still be repeating.
    if (event.repeat || !item || !item->row) return true;
    bind_key(menus, *item, event.key);
    return true;
  }
  if (menus->edit == MenuEdit::axis_low || menus->edit == MenuEdit::axis_high) {
    calibration_key(menus, event);
    return true;
  }

  int key = event.key;
  switch (pad_move(key)) {
    case PAD_UP: key = KEY_UP; break;
    case PAD_DOWN: key = KEY_DOWN; break;
    case PAD_LEFT: key = KEY_LEFT; break;
    case PAD_RIGHT: key = KEY_RIGHT; break;
    case PAD_ENTER: key = KEY_ENTER; break;
    case PAD_BACK: menu_back(menus); return true;
    case PAD_NONE: break;
  }
  menus->note.clear();
  switch (key) {
    case KEY_UP:
    case KEY_WHEEL_UP: move_cursor(menus, -1); return true;
    case KEY_DOWN:
    case KEY_WHEEL_DOWN: move_cursor(menus, +1); return true;
    case KEY_PAGE_UP: move_page(menus, -1); return true;
    case KEY_PAGE_DOWN: move_page(menus, +1); return true;
    case KEY_HOME: place_cursor(menus, find_selectable(*menus, 0, 1)); return true;
    case KEY_END: place_cursor(menus, find_selectable(*menus, item_count(*menus) - 1, -1)); return true;
    case KEY_LEFT: step_item(menus, -1); return true;
    case KEY_RIGHT: step_item(menus, +1); return true;
    case KEY_ENTER:
    case KEY_KEYPAD_ENTER:
      if (item) activate(menus, *item);
      return true;
    case KEY_CURSOR_LEFT: click(menus, +1); return true;
    case KEY_CURSOR_RIGHT: click(menus, -1); return true;
    case KEY_DELETE:
    case KEY_BACKSPACE:
      if (item && item->kind == ITEM_SETTING && item->row->kind == SettingKind::binding) {
        *item->row->binding = Binding{};
        menus->note = "Unbound";
        mark_changed(menus, *item);
        return true;
      }
      menu_back(menus);
      return true;
    default: return false;
  }
}

void menu_poll_axes(MenuSystem* menus) {
  if (menus->edit != MenuEdit::binding || !menus->actions.moved_axis) return;
  int axis = menus->actions.moved_axis(AXIS_LEARN_THRESHOLD);
  // The pointer moves whenever the mouse does; it is no control.
  if (axis == AXIS_NONE || axis == AXIS_CURSOR_X || axis == AXIS_CURSOR_Y || !axis_name(axis)[0]) return;
  menus->axis = axis;
  menus->edit = MenuEdit::axis_low;
  menus->note = std::string("Axis ") + axis_name(axis) + ": let it rest and press Enter";
}

void menu_pointer(MenuSystem* menus, int x, int y, bool drag, int width, int height) {
  last_width = width;
  last_height = height;
  // Only a pointer that moves takes the cursor: one resting over the menu
  // must not undo every key press.
  // The first report only says where the pointer rests.
  bool moved = menus->pointer_x >= 0 && (x != menus->pointer_x || y != menus->pointer_y);
  menus->pointer_x = x;
  menus->pointer_y = y;
  if (menus->stack.empty() || menus->edit != MenuEdit::none) return;
  MenuLayout layout = layout_menu(*menus, width, height, menu_metrics());
  const MenuItemBox* box = box_at(layout, x, y);
  if (!drag) {
    menus->dragging = false;
    menus->hover = box && item_selectable(menus->page.items[(size_t)box->item]) ? box->item : -1;
    if (moved && menus->hover >= 0 && menus->hover != cursor_index(*menus)) {
      menus->stack.back().cursor = menus->hover;  // hovering selects, without scrolling
    }
    return;
  }
  if (!menus->dragging) return;
  const MenuItem* item = selected_item(*menus);
  if (!item || item->kind != ITEM_SETTING || item->row->kind != SettingKind::number) return;
  for (const MenuItemBox& b : layout.boxes) {
    if (b.item != cursor_index(*menus)) continue;
    set_number_fraction(menus, *item, (x - b.value.x) / std::max(1.0, b.value.width));
  }
}

std::string item_value_text(const MenuItem& item) {
  switch (item.kind) {
    case ITEM_TRACK:
      if (g_tracks.names.empty()) return "(none)";
      return g_tracks.names[(size_t)std::clamp(g_tracks.selected, 0, (int)g_tracks.names.size() - 1)];
    case ITEM_READOUT: return item.detail ? item.detail(item) : item.value;
    case ITEM_SETTING: break;
    default: return "";
  }
  const SettingRow& row = *item.row;
  switch (row.kind) {
    case SettingKind::number: return number_text(*number_target(item), row.step);
    case SettingKind::choice: {
      const char* name = choice_name(row, item.element);
      return name && name[0] ? name : "(none)";
    }
    case SettingKind::text: return text_target(item);
    case SettingKind::binding: {
      const Binding& b = *row.binding;
      if (!b.axis_name.empty()) {
        char text[128];
        snprintf(text, sizeof text, "%.60s (%.2f to %.2f)", b.axis_name.c_str(), b.low, b.high);
        return text;
      }
      return b.key_name.empty() ? "(unbound)" : b.key_name;
    }
    default: return "";
  }
}

bool step_item(MenuSystem* menus, int direction) {
  const MenuItem* selected = selected_item(*menus);
  if (!selected) return false;
  MenuItem item = *selected;
  if (item.kind == ITEM_TRACK) {
    step_track(direction);
    if (MenuFrame* frame = top(menus)) frame->changed = true;
    return true;
  }
  if (item.kind != ITEM_SETTING) return false;
  const SettingRow& row = *item.row;
  if (row.kind == SettingKind::number) {
    double* value = number_target(item);
    double step = row.step > 0 ? row.step : 1.0;
    // Counted in whole steps from the minimum, so repeated steps never drift.
    double n = std::round((*value - row.minimum) / step) + direction;
    *value = std::clamp(row.minimum + n * step, row.minimum, row.maximum);
  } else if (row.kind == SettingKind::choice) {
    int count = (int)row.choices->names.size();
    if (count == 0) return false;
    int& index = row.choice[item.element];
    index = ((index + direction) % count + count) % count;
  } else {
    return false;
  }
  mark_changed(menus, item);
  refresh_menu(menus);  // a new bike changes the graphics list and the read-outs
  // The window is made once, at start-up.
  if (row.key && strcmp(row.key, "video_mode") == 0) menus->note = "The video mode changes when the game starts again";
  return true;
}

void set_number_fraction(MenuSystem* menus, const MenuItem& item, double fraction) {
  if (item.kind != ITEM_SETTING || item.row->kind != SettingKind::number) return;
  const SettingRow& row = *item.row;
  double step = row.step > 0 ? row.step : 1.0;
  double value = row.minimum + std::clamp(fraction, 0.0, 1.0) * (row.maximum - row.minimum);
  value = std::clamp(row.minimum + std::round((value - row.minimum) / step) * step, row.minimum, row.maximum);
  double* target = number_target(item);
  if (*target == value) return;
  *target = value;
  mark_changed(menus, item);
}

// --- layout ---------------------------------------------------------------------------

namespace {

double fixed_width(const char* text, void*) { return 9.0 * (double)strlen(text); }
MenuMetrics g_metrics = {fixed_width, nullptr, 24.0};

}  // namespace

void set_menu_metrics(const MenuMetrics& metrics) { g_metrics = metrics; }
const MenuMetrics& menu_metrics() { return g_metrics; }

MenuLayout layout_menu(const MenuSystem& menus, int width, int height, const MenuMetrics& metrics) {
  MenuLayout layout = {};
  int count = (int)menus.page.items.size();
  int first = menus.stack.empty() ? 0 : menus.stack.back().scroll;
  first = std::clamp(first, 0, std::max(0, count - 1));
  int shown = std::min(count - first, MENU_VISIBLE_ITEMS);
  // Title, the rows, the note and the help line; the rows shrink to fit a
  // small window rather than falling off it.
  double line = metrics.line_height;
  double needed = (shown + 5) * line;
  if (needed > height * 0.96 && shown + 5 > 0) line = height * 0.96 / (shown + 5);
  double panel_width = std::min(width * 0.96, std::max(760.0, width * 0.7));
  layout.panel = {(width - panel_width) / 2, (height - (shown + 5) * line) / 2, panel_width, (shown + 5) * line};
  layout.title_y = layout.panel.y + line * 0.2;
  layout.label_x = layout.panel.x + line * 0.8;
  // The values start after the longest label with a value beside it, but
  // never leave them less than a third of the panel.
  double longest = 0;
  for (const MenuItem& item : menus.page.items) {
    if (item.kind == ITEM_SETTING || item.kind == ITEM_TRACK || item.kind == ITEM_READOUT)
      longest = std::max(longest, metrics.text_width(item.label.c_str(), metrics.user) * line / metrics.line_height);
  }
  layout.value_x = std::clamp(layout.label_x + longest + line, layout.panel.x + panel_width * 0.4,
                              layout.panel.x + panel_width * 0.64);
  double y = layout.panel.y + line * 1.6;
  for (int i = first; i < first + shown; i++) {
    MenuItemBox box;
    box.item = i;
    box.row = {layout.panel.x + line * 0.3, y, panel_width - line * 0.6, line};
    box.value = {layout.value_x, y, layout.panel.x + panel_width - line * 0.8 - layout.value_x, line};
    layout.boxes.push_back(box);
    y += line;
  }
  layout.more_above = first > 0;
  layout.more_below = first + shown < count;
  layout.note_y = y + line * 0.4;
  layout.help_y = y + line * 1.5;
  return layout;
}
