#include "core/controls.h"

#include <algorithm>
#include <cstring>

#include "core/types.h"

const BindingDefault CONTROL_BINDING_DEFAULTS[CONTROL_BINDING_COUNT] = {
    {"Left", "left", CONTROL_STEER, +1.0f},
    {"Right", "right", CONTROL_STEER, -1.0f},
    {"Throttle", "x", CONTROL_THROTTLE, +1.0f},
    {"Front Brake", "c", CONTROL_FRONT_BRAKE, +1.0f},
    {"Rear Brake", "v", CONTROL_REAR_BRAKE, +1.0f},
    {"Upshift", "up", CONTROL_SHIFT, +1.0f},
    {"Downshift", "down", CONTROL_SHIFT, -1.0f},
    {"Clutch", "z", CONTROL_CLUTCH, +1.0f},
    {"Sit/Dab", "right ctrl", CONTROL_DAB, +1.0f},
    {"Back up", "b", CONTROL_BACK_UP, +1.0f},
    {"Lean Forward", "n", CONTROL_LEAN, -1.0f},
    {"Lean Backward", "m", CONTROL_LEAN, +1.0f},
};

const BindingDefault COMMAND_BINDING_DEFAULTS[COMMAND_COUNT] = {
    {"Pause", "pause", -1, 0.0f},      {"Step", ".", -1, 0.0f},          {"Rewind", "\\", -1, 0.0f},
    {"Skip", "/", -1, 0.0f},           {"Previous Bike", "[", -1, 0.0f}, {"Next Bike", "]", -1, 0.0f},
    {"Chat", "t", -1, 0.0f},           {"Screenshot", "s", -1, 0.0f},
};

void set_default_binding(ControlBinding* binding, const BindingDefault& d) {
  *binding = ControlBinding();
  binding->label = d.label;
  binding->key_name = d.key_name;
}

bool bind_control(ControlBinding* binding) {
  binding->key_code = KEY_NONE;
  binding->axis = AXIS_NONE;
  if (!binding->key_name.empty()) {
    binding->key_code = key_code_from_name(binding->key_name.c_str());
    return binding->key_code != KEY_NONE;
  }
  if (!binding->axis_name.empty()) {
    binding->axis = axis_from_name(binding->axis_name.c_str());
    return binding->axis != AXIS_NONE;
  }
  return true;  // an empty binding is valid: it just does nothing
}

void make_control_table(ControlTable* table, ControlBinding* bindings) {
  for (int i = 0; i < CONTROL_BINDING_COUNT; i++) {
    table->entries[i] = {&bindings[i], CONTROL_BINDING_DEFAULTS[i].control, CONTROL_BINDING_DEFAULTS[i].scale, 0.0f};
  }
}

void clear_key_state(KeyState* keys) { memset(keys->down, 0, sizeof keys->down); }

void apply_key_event(KeyState* keys, const InputEvent& event) {
  if (event.kind != INPUT_KEY || event.key <= KEY_NONE || event.key >= KEY_CODE_COUNT) return;
  keys->down[event.key] = event.pressed;
}

float axis_binding_value(int raw, double lo, double hi) {
  double x = raw * (1.0 / 32768.0);
  if (hi == lo) return x >= lo ? 1.0f : 0.0f;
  return (float)std::clamp((x - lo) / (hi - lo), 0.0, 1.0);
}

void build_control_vector(ControlTable* table, const KeyState& keys, AxisReader read_axis,
                          float controls[CONTROL_COUNT]) {
  for (int c = 0; c < CONTROL_COUNT; c++) controls[c] = 0.0f;
  for (ControlEntry& e : table->entries) {
    const ControlBinding* b = e.binding;
    e.value = 0.0f;
    if (!b) continue;
    if (b->axis != AXIS_NONE) {
      e.value = read_axis ? axis_binding_value(read_axis(b->axis), b->axis_lo, b->axis_hi) : 0.0f;
    } else if (b->key_code > KEY_NONE && b->key_code < KEY_CODE_COUNT) {
      e.value = keys.down[b->key_code] ? 1.0f : 0.0f;
    }
    if (e.control >= 0 && e.control < CONTROL_COUNT) controls[e.control] += e.scale * e.value;
  }
}

BikeControls apply_control_vector(const float controls[CONTROL_COUNT], const ControlOptions& options,
                                  ControlLatch* latch, float engagement) {
  BikeControls out = {};
  out.steer = options.reverse_steering ? -controls[CONTROL_STEER] : controls[CONTROL_STEER];
  out.front_brake = controls[CONTROL_FRONT_BRAKE];
  out.rear_brake = controls[CONTROL_REAR_BRAKE];
  out.throttle = controls[CONTROL_THROTTLE];

  float dab = controls[CONTROL_DAB];
  bool high = dab > 0.5f;
  if (options.sticky_dab) {
    if (high && !latch->dab_was_high) latch->dab_latched = !latch->dab_latched;
    out.dab = latch->dab_latched ? 1.0f : 0.0f;
  } else {
    out.dab = dab;
  }
  latch->dab_was_high = high;

  out.back_up = controls[CONTROL_BACK_UP];
  out.lean = controls[CONTROL_LEAN];

  // 8/7: the last eighth of the lever's travel already disengages fully.
  float target = std::clamp(1.0f - controls[CONTROL_CLUTCH] * (8.0f / 7.0f), 0.0f, 1.0f);
  // Engagement never passes the lever's target (above 1 the clutch would
  // pass more torque than the engine makes).
  out.clutch_engagement = engagement < target ? std::min(engagement + 4.0f * (float)TICK_SECONDS, target) : target;

  float shift = controls[CONTROL_SHIFT];
  out.shift = shift > 0.5f ? 1 : shift < -0.5f ? -1 : 0;
  return out;
}
