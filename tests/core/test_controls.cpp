#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "core/config.h"
#include "core/controls.h"
#include "core/message.h"

namespace {

int g_axes[AXIS_COUNT];
int fake_axis(int handle) { return g_axes[handle]; }

class ControlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_config();
    clear_message_lines();
    bind_all_controls(g_config.bindings);
    EXPECT_EQ(g_messages.total, 0) << message_line(0);
    make_control_table(&table, g_config.bindings);
    clear_key_state(&keys);
    for (int& a : g_axes) a = 0;
  }
  void build() { build_control_vector(&table, keys, fake_axis, controls); }
  void press(const char* name, bool down = true) {
    InputEvent e = {INPUT_KEY, key_code_from_name(name), down};
    apply_key_event(&keys, e);
  }
  // A configuration line, then the start-up binding pass.
  void configure(const char* line) {
    read_config_line(line);
    bind_all_controls(g_config.bindings);
  }

  ControlTable table;
  KeyState keys;
  float controls[CONTROL_COUNT];
};

TEST_F(ControlsTest, DefaultKeysAccumulateWithTheirScales) {
  press("left");
  press("x");
  press("n");
  build();
  EXPECT_EQ(controls[CONTROL_STEER], 1.0f);
  EXPECT_EQ(controls[CONTROL_THROTTLE], 1.0f);
  EXPECT_EQ(controls[CONTROL_LEAN], -1.0f);
  EXPECT_EQ(controls[CONTROL_FRONT_BRAKE], 0.0f);
  // Opposite keys of one control cancel; released keys stop counting.
  press("right");
  press("x", false);
  build();
  EXPECT_EQ(controls[CONTROL_STEER], 0.0f);
  EXPECT_EQ(controls[CONTROL_THROTTLE], 0.0f);
  // An unbound entry never contributes, whatever is held.
  g_config.bindings[BINDING_THROTTLE] = Binding{};
  for (int k = 1; k < KEY_CODE_COUNT; k++) keys.down[k] = true;
  build();
  EXPECT_EQ(controls[CONTROL_THROTTLE], 0.0f);
  EXPECT_EQ(controls[CONTROL_SHIFT], 0.0f);  // upshift + downshift
}

TEST_F(ControlsTest, ConfiguredNamesBindTheKeysAndAxesTheyName) {
  configure("throttle_key=(k)q");
  configure("pause_key=(k)keypad enter");
  configure("front_brake_key=(-0.5,0.5)joystick-b-y");
  EXPECT_EQ(g_config.bindings[BINDING_THROTTLE].key_code, 'q');
  EXPECT_EQ(g_config.bindings[BINDING_PAUSE].key_code, KEY_KEYPAD_ENTER);
  EXPECT_EQ(g_config.bindings[BINDING_FRONT_BRAKE].key_code, -1);
  EXPECT_EQ(g_config.bindings[BINDING_FRONT_BRAKE].axis, axis_from_name("joystick-b-y"));

  press("x");
  press("q");
  g_axes[axis_from_name("joystick-b-y")] = 8192;  // 0.25 on a -0.5..0.5 range
  build();
  EXPECT_EQ(controls[CONTROL_THROTTLE], 1.0f);  // q, not x any more
  EXPECT_EQ(controls[CONTROL_FRONT_BRAKE], 0.75f);

  InputEvent enter = {INPUT_KEY, KEY_KEYPAD_ENTER, true};
  EXPECT_TRUE(binding_pressed(g_config.bindings[BINDING_PAUSE], enter));
  enter.pressed = false;
  EXPECT_FALSE(binding_pressed(g_config.bindings[BINDING_PAUSE], enter));
  // An axis binding is never pressed, whatever key arrives.
  InputEvent stray = {INPUT_KEY, KEY_NONE, true};
  EXPECT_FALSE(binding_pressed(g_config.bindings[BINDING_FRONT_BRAKE], stray));

  // Names that are no key or axis bind nothing and say which setting they spoil.
  clear_message_lines();
  configure("clutch_key=(k)hyper-turbo");
  configure("left_key=(0,1)joystick-z-x");
  EXPECT_EQ(g_config.bindings[BINDING_CLUTCH].key_code, -1);
  EXPECT_EQ(g_config.bindings[BINDING_LEFT].axis, -1);
  ASSERT_GE(g_messages.total, 2);
  bool clutch = false, left = false;
  for (int age = 0; age < g_messages.total; age++) {
    std::string line = message_line(age);
    clutch |= line == "Unknown key 'hyper-turbo' for Clutch\n";
    left |= line == "Unknown axis 'joystick-z-x' for Left\n";
  }
  EXPECT_TRUE(clutch && left);
}

TEST_F(ControlsTest, AxisRangesMapOntoZeroToOne) {
  EXPECT_EQ(axis_binding_value(16384, 0, 1), 0.5f);
  EXPECT_EQ(axis_binding_value(-32768, 0, 1), 0.0f);
  EXPECT_EQ(axis_binding_value(-16384, -1, 1), 0.25f);
  EXPECT_EQ(axis_binding_value(30000, 0, 0.5), 1.0f);   // held at the end
  EXPECT_EQ(axis_binding_value(8192, 1, 0), 0.75f);     // reversed range inverts
  EXPECT_EQ(axis_binding_value(16384, 0.5, 0.5), 1.0f);  // empty range: a switch,
  EXPECT_EQ(axis_binding_value(16383, 0.5, 0.5), 0.0f);  // not a division by zero
  EXPECT_EQ(axis_binding_value(16384, NAN, 1), 0.0f);    // never NaN into the bike
  EXPECT_EQ(axis_binding_value(16384, 0, INFINITY), 0.0f);

  // The stick's halves on Left and Right, beside the Front Brake key.
  configure("left_key=(0,-1)joystick-a-x");
  configure("right_key=(0,1)joystick-a-x");
  int stick = g_config.bindings[BINDING_LEFT].axis;
  ASSERT_NE(stick, -1);
  g_axes[stick] = -16384;
  press("c");
  build();
  EXPECT_EQ(controls[CONTROL_STEER], 0.5f);
  EXPECT_EQ(controls[CONTROL_FRONT_BRAKE], 1.0f);
  g_axes[stick] = 24576;
  build();
  EXPECT_EQ(controls[CONTROL_STEER], -0.75f);
}

TEST(MenuKeys, FixedNamesResolve) {
  MenuKeys keys;
  bind_menu_keys(&keys);
  EXPECT_EQ(keys.esc, KEY_ESC);
  EXPECT_EQ(keys.keypad_enter, KEY_KEYPAD_ENTER);
  EXPECT_EQ(keys.cursor_left, KEY_CURSOR_LEFT);
  EXPECT_EQ(keys.page_down, KEY_PAGE_DOWN);
  EXPECT_EQ(keys.cursor_y, AXIS_CURSOR_Y);
}

TEST(ApplyControls, SteeringShiftAndStickyDab) {
  float c[CONTROL_COUNT] = {0.7f, 0.4f, 0.2f, 0.1f, 0.6f, 0, 0.3f, 1.0f, -1.0f};
  ControlLatch latch = {};
  BikeControls out = apply_control_vector(c, {true, false}, &latch, 1.0f);
  EXPECT_EQ(out.steer, -0.7f);
  EXPECT_EQ(out.throttle, 0.4f);
  EXPECT_EQ(out.shift, 1);
  EXPECT_EQ(out.dab, 0.3f);
  c[CONTROL_SHIFT] = 0.5f;  // the threshold itself is not a shift
  EXPECT_EQ(apply_control_vector(c, {}, &latch, 1.0f).shift, 0);

  const float presses[] = {0.0f, 0.8f, 1.0f, 0.2f, 0.9f, 0.4f, 0.6f};
  const float latched[] = {0, 1, 1, 1, 0, 0, 1};
  latch = {};
  for (int i = 0; i < 7; i++) {
    c[CONTROL_DAB] = presses[i];
    EXPECT_EQ(apply_control_vector(c, {false, true}, &latch, 1.0f).dab, latched[i]) << "step " << i;
  }
}

TEST(ApplyControls, ClutchEngagesAtFourPerSecondAndReleasesAtOnce) {
  float c[CONTROL_COUNT] = {};
  ControlLatch latch = {};
  c[CONTROL_CLUTCH] = 0.875f;  // 7/8 of the lever already disengages fully
  EXPECT_NEAR(apply_control_vector(c, {}, &latch, 1.0f).clutch_engagement, 0.0f, 1e-6);
  c[CONTROL_CLUTCH] = 0.0f;
  float e = 0.0f;
  int steps = 0;
  for (; e < 1.0f && steps < 1000; steps++) e = apply_control_vector(c, {}, &latch, e).clutch_engagement;
  EXPECT_EQ(steps, 32);  // 1 / (4 x 1/128)
  EXPECT_EQ(e, 1.0f);
  c[CONTROL_CLUTCH] = 0.5f;  // approached from below, the target is never passed
  float target = 1.0f - 0.5f * (8.0f / 7.0f);
  EXPECT_FLOAT_EQ(apply_control_vector(c, {}, &latch, target - 0.01f).clutch_engagement, target);
}

}  // namespace
