#include "core/controls.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/message.h"
#include "core/types.h"

const BindingDefault CONTROL_BINDING_DEFAULTS[CONTROL_BINDING_COUNT] = {
    {"Left", "left", BINDING_LEFT, CONTROL_STEER, +1.0f},
    {"Right", "right", BINDING_RIGHT, CONTROL_STEER, -1.0f},
    {"Throttle", "x", BINDING_THROTTLE, CONTROL_THROTTLE, +1.0f},
    {"Front Brake", "c", BINDING_FRONT_BRAKE, CONTROL_FRONT_BRAKE, +1.0f},
    {"Rear Brake", "v", BINDING_REAR_BRAKE, CONTROL_REAR_BRAKE, +1.0f},
    {"Upshift", "up", BINDING_UPSHIFT, CONTROL_SHIFT, +1.0f},
    {"Downshift", "down", BINDING_DOWNSHIFT, CONTROL_SHIFT, -1.0f},
    {"Clutch", "z", BINDING_CLUTCH, CONTROL_CLUTCH, +1.0f},
    {"Sit/Dab", "right ctrl", BINDING_DAB, CONTROL_DAB, +1.0f},
    {"Back up", "b", BINDING_BACK_UP, CONTROL_BACK_UP, +1.0f},
    {"Lean Forward", "n", BINDING_LEAN_FORWARD, CONTROL_LEAN, -1.0f},
    {"Lean Backward", "m", BINDING_LEAN_BACKWARD, CONTROL_LEAN, +1.0f},
};

const BindingDefault COMMAND_BINDING_DEFAULTS[COMMAND_COUNT] = {
    {"Pause", "pause", BINDING_PAUSE, -1, 0.0f},
    {"Step", ".", BINDING_STEP, -1, 0.0f},
    {"Rewind", "\\", BINDING_REWIND, -1, 0.0f},
    {"Skip", "/", BINDING_SKIP, -1, 0.0f},
    {"Previous Bike", "[", BINDING_PREVIOUS_BIKE, -1, 0.0f},
    {"Next Bike", "]", BINDING_NEXT_BIKE, -1, 0.0f},
    {"Chat", "t", BINDING_CHAT, -1, 0.0f},
    {"Screenshot", "s", BINDING_SCREENSHOT, -1, 0.0f},
};

MenuKeys g_menu_keys;

namespace {

const char* binding_label(int index) {
  for (const BindingDefault& d : CONTROL_BINDING_DEFAULTS)
    if (d.binding == index) return d.label;
  for (const BindingDefault& d : COMMAND_BINDING_DEFAULTS)
    if (d.binding == index) return d.label;
  return "?";
}

}  // namespace

bool bind_control(Binding* binding) {
  binding->key_code = -1;
  binding->axis = -1;
  if (!binding->key_name.empty()) {
    int code = key_code_from_name(binding->key_name.c_str());
    if (code == KEY_NONE) return false;
    binding->key_code = code;
    return true;
  }
  if (!binding->axis_name.empty()) {
    binding->axis = axis_from_name(binding->axis_name.c_str());
    return binding->axis != AXIS_NONE;
  }
  return true;  // an empty binding is valid: it just does nothing
}

void bind_all_controls(Binding bindings[BINDING_COUNT]) {
  for (int i = 0; i < BINDING_COUNT; i++) {
    Binding& b = bindings[i];
    if (bind_control(&b)) continue;
    if (!b.key_name.empty()) {
      show_message("Unknown key '%.60s' for %s\n", b.key_name.c_str(), binding_label(i));
    } else {
      show_message("Unknown axis '%.60s' for %s\n", b.axis_name.c_str(), binding_label(i));
    }
  }
}

void bind_menu_keys(MenuKeys* keys) {
  keys->up = key_code_from_name("up");
  keys->down = key_code_from_name("down");
  keys->left = key_code_from_name("left");
  keys->right = key_code_from_name("right");
  keys->enter = key_code_from_name("enter");
  keys->keypad_enter = key_code_from_name("keypad enter");
  keys->esc = key_code_from_name("esc");
  keys->pause = key_code_from_name("pause");
  keys->cursor_left = key_code_from_name("cursor-left");
  keys->cursor_right = key_code_from_name("cursor-right");
  keys->page_up = key_code_from_name("page up");
  keys->page_down = key_code_from_name("page down");
  keys->cursor_x = axis_from_name("cursor-x");
  keys->cursor_y = axis_from_name("cursor-y");
}

bool binding_pressed(const Binding& binding, const InputEvent& event) {
  return event.kind == INPUT_KEY && event.pressed && binding.key_code > KEY_NONE && event.key == binding.key_code;
}

void make_control_table(ControlTable* table, const Binding bindings[BINDING_COUNT]) {
  for (int i = 0; i < CONTROL_BINDING_COUNT; i++) {
    const BindingDefault& d = CONTROL_BINDING_DEFAULTS[i];
    table->entries[i] = {&bindings[d.binding], d.control, d.scale, 0.0f};
  }
}

void clear_key_state(KeyState* keys) { memset(keys->down, 0, sizeof keys->down); }

void apply_key_event(KeyState* keys, const InputEvent& event) {
  if (event.kind != INPUT_KEY || event.key <= KEY_NONE || event.key >= KEY_CODE_COUNT) return;
  keys->down[event.key] = event.pressed;
}

float axis_binding_value(int raw, double lo, double hi) {
  if (!std::isfinite(lo) || !std::isfinite(hi)) return 0.0f;
  double x = raw * (1.0 / 32768.0);
  if (hi == lo) return x >= lo ? 1.0f : 0.0f;
  return (float)std::clamp((x - lo) / (hi - lo), 0.0, 1.0);
}

void build_control_vector(ControlTable* table, const KeyState& keys, AxisReader read_axis,
                          float controls[CONTROL_COUNT]) {
  for (int c = 0; c < CONTROL_COUNT; c++) controls[c] = 0.0f;
  for (ControlEntry& e : table->entries) {
    const Binding* b = e.binding;
    e.value = 0.0f;
    if (!b) continue;
    if (b->axis >= 0) {
      e.value = read_axis ? axis_binding_value(read_axis(b->axis), b->low, b->high) : 0.0f;
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
