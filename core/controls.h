// The player's control vector: the table of control bindings with their
// scales, the held-key state the ticks update from input events, the vector
// each step builds from keys and axes, and its hand-over to the bike (reverse
// steering, sticky dab, clutch engagement rate, shift thresholds). Headless.
#pragma once

#include <string>

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

// One key or axis binding as the configuration and the controls menu keep it.
// A binding uses either a key or an axis; its range maps the axis onto 0..1.
struct ControlBinding {
  std::string label;
  std::string key_name;
  int key_code = KEY_NONE;
  std::string axis_name;
  int axis = AXIS_NONE;
  double axis_lo = 0.0;
  double axis_hi = 1.0;
};

struct BindingDefault {
  const char* label;
  const char* key_name;
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

// Label and default key of d, with no axis and the range 0..1 (unbound
// codes; bind_control resolves them).
void set_default_binding(ControlBinding* binding, const BindingDefault& d);

// Resolves the names: a key name becomes its key code, otherwise an axis name
// its handle. False when the binding names a key or axis that does not exist
// (the binding then does nothing; the caller tells the player).
bool bind_control(ControlBinding* binding);

struct ControlEntry {
  ControlBinding* binding;
  int control;
  float scale;
  float value;  // this step's value, 0..1
};

struct ControlTable {
  ControlEntry entries[CONTROL_BINDING_COUNT];
};

// Points the table at bindings[0..11], in CONTROL_BINDING_DEFAULTS order.
void make_control_table(ControlTable* table, ControlBinding* bindings);

// Which keys are down, updated from the key events each step takes.
struct KeyState {
  bool down[KEY_CODE_COUNT];
};
void clear_key_state(KeyState* keys);
void apply_key_event(KeyState* keys, const InputEvent& event);

// An axis binding's value: clamp((raw x 2^-15 - lo) / (hi - lo), 0, 1). A
// reversed range (lo > hi) inverts the axis; an empty one (lo == hi) is a
// switch that is on at and beyond lo.
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

struct ControlOptions {
  bool reverse_steering;
  bool sticky_dab;
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
