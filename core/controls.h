// The player's control vector: the table of control bindings with their
// scales, the held-key state the ticks update from input events, the vector
// each step builds from keys and axes, and its hand-over to the bike (reverse
// steering, sticky dab, clutch engagement rate, shift thresholds). Headless.
#pragma once

#include "core/config.h"
#include "platform/input.h"

constexpr int CONTROL_COUNT = 9;
enum ControlIndex : int {
  CONTROL_STEER = 0,
  CONTROL_THROTTLE = 1,
  CONTROL_FRONT_BRAKE = 2,
  CONTROL_REAR_BRAKE = 3,
  CONTROL_SHIFT = 4,
  CONTROL_CLUTCH = 5,
  CONTROL_DAB = 6,
  CONTROL_BACK_UP = 7,
  CONTROL_LEAN = 8,
};

// Control and command bindings are the configuration's Binding records
// (g_config.bindings, in BindingIndex order): one record per "_key" setting,
// edited by the controls menu and written back to the file.
struct BindingDefault {
  const char* label;
  const char* key_name;
  int binding;  // BindingIndex of the record in g_config.bindings
  int control;  // CONTROL_* for control bindings, -1 for commands
  float scale;
};

constexpr int CONTROL_BINDING_COUNT = 12;
extern const BindingDefault CONTROL_BINDING_DEFAULTS[CONTROL_BINDING_COUNT];

enum CommandIndex : int {
  COMMAND_PAUSE,
  COMMAND_STEP,
  COMMAND_REWIND,
  COMMAND_SKIP,
  COMMAND_PREVIOUS_BIKE,
  COMMAND_NEXT_BIKE,
  COMMAND_CHAT,
  COMMAND_SCREENSHOT,
  COMMAND_COUNT,
};
extern const BindingDefault COMMAND_BINDING_DEFAULTS[COMMAND_COUNT];

// Resolves the names: a key name becomes its key code, otherwise an axis name
// its handle (the other stays -1). False when the binding names a key or axis
// that does not exist; the binding then does nothing and the caller tells the
// player.
bool bind_control(Binding* binding);

// Binds every control and command binding of the configuration; each name
// that is no key or axis gets a message line naming the setting.
void bind_all_controls(Binding bindings[BINDING_COUNT]);

// The keys the menus answer to, bound by their fixed names, and the pointer
// axes.
struct MenuKeys {
  int up, down, left, right;
  int enter, keypad_enter, esc, pause;
  int cursor_left, cursor_right;
  int page_up, page_down;
  int cursor_x, cursor_y;  // axis handles
};
extern MenuKeys g_menu_keys;
void bind_menu_keys(MenuKeys* keys);

// True when the event is the key-down of a key binding.
bool binding_pressed(const Binding& binding, const InputEvent& event);

struct ControlEntry {
  const Binding* binding;
  int control;
  float scale;
  float value;  // this step's value, 0..1
};

struct ControlTable {
  ControlEntry entries[CONTROL_BINDING_COUNT];
};

// Points the table at the control bindings among bindings[0..BINDING_COUNT-1].
void make_control_table(ControlTable* table, const Binding bindings[BINDING_COUNT]);

// Which keys are down, updated from the key events each step takes.
struct KeyState {
  bool down[KEY_CODE_COUNT];
};
void clear_key_state(KeyState* keys);
void apply_key_event(KeyState* keys, const InputEvent& event);

// An axis binding's value: clamp((raw x 2^-15 - lo) / (hi - lo), 0, 1). A
// reversed range (lo > hi) inverts the axis; an empty one (lo == hi) is a
// switch that is on at and beyond lo; a range end that is no number gives 0,
// so a damaged configuration line can never feed NaN to the bike.
float axis_binding_value(int raw, double lo, double hi);

typedef int (*AxisReader)(int handle);

// Rebuilds the control vector from zero: every entry takes its binding's
// value (axis as above, key 1 while held), and each control accumulates
// scale x value over its entries.
void build_control_vector(ControlTable* table, const KeyState& keys, AxisReader read_axis,
                          float controls[CONTROL_COUNT]);

// What the player's bike receives each step, in the order it receives them.
struct BikeControls {
  float steer;
  float front_brake;
  float rear_brake;
  float throttle;
  float dab;
  float back_up;
  float lean;
  float clutch_engagement;  // the bike's new engagement, 0 (slipping) .. 1
  int shift;                // +1 up, -1 down, 0 none
};

// Per-rider state carried between steps.
struct ControlLatch {
  bool dab_latched;
  bool dab_was_high;
};

// engagement is the bike's current clutch engagement. Letting the clutch out
// raises it by 4 steps' worth of 1/s toward the lever's target; pulling the
// lever drops it at once.
BikeControls apply_control_vector(const float controls[CONTROL_COUNT], const ControlOptions& options,
                                  ControlLatch* latch, float engagement);
