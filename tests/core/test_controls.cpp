#include <gtest/gtest.h>

#include "core/controls.h"

namespace {

int g_axes[AXIS_COUNT];
int fake_axis(int handle) { return g_axes[handle]; }

class ControlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < CONTROL_BINDING_COUNT; i++) {
      set_default_binding(&bindings[i], CONTROL_BINDING_DEFAULTS[i]);
      ASSERT_TRUE(bind_control(&bindings[i])) << bindings[i].label;
    }
    make_control_table(&table, bindings);
    clear_key_state(&keys);
    for (int& a : g_axes) a = 0;
  }
  void build() { build_control_vector(&table, keys, fake_axis, controls); }
  void press(const char* name, bool down = true) {
    InputEvent e = {INPUT_KEY, key_code_from_name(name), down};
    apply_key_event(&keys, e);
  }

  ControlBinding bindings[CONTROL_BINDING_COUNT];
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
  bindings[2] = ControlBinding();
  for (int k = 1; k < KEY_CODE_COUNT; k++) keys.down[k] = true;
  build();
  EXPECT_EQ(controls[CONTROL_THROTTLE], 0.0f);
  EXPECT_EQ(controls[CONTROL_SHIFT], 0.0f);  // upshift + downshift
}

TEST_F(ControlsTest, AxisRangesMapOntoZeroToOne) {
  EXPECT_EQ(axis_binding_value(16384, 0, 1), 0.5f);
  EXPECT_EQ(axis_binding_value(-32768, 0, 1), 0.0f);
  EXPECT_EQ(axis_binding_value(-16384, -1, 1), 0.25f);
  EXPECT_EQ(axis_binding_value(30000, 0, 0.5), 1.0f);   // held at the end
  EXPECT_EQ(axis_binding_value(8192, 1, 0), 0.75f);     // reversed range inverts
  EXPECT_EQ(axis_binding_value(16384, 0.5, 0.5), 1.0f);  // empty range: a switch,
  EXPECT_EQ(axis_binding_value(16383, 0.5, 0.5), 0.0f);  // not a division by zero

  // The stick's halves on Left and Right, beside the Front Brake key.
  bindings[0] = ControlBinding{"Left", "", KEY_NONE, "joystick-a-x", AXIS_NONE, 0.0, -1.0};
  bindings[1] = ControlBinding{"Right", "", KEY_NONE, "joystick-a-x", AXIS_NONE, 0.0, 1.0};
  ASSERT_TRUE(bind_control(&bindings[0]) && bind_control(&bindings[1]));
  g_axes[bindings[0].axis] = -16384;
  press("c");
  build();
  EXPECT_EQ(controls[CONTROL_STEER], 0.5f);
  EXPECT_EQ(controls[CONTROL_FRONT_BRAKE], 1.0f);
  g_axes[bindings[0].axis] = 24576;
  build();
  EXPECT_EQ(controls[CONTROL_STEER], -0.75f);

  ControlBinding bad;
  bad.key_name = "hyper-turbo";
  EXPECT_FALSE(bind_control(&bad));
  bad = ControlBinding();
  bad.axis_name = "joystick-z-x";
  EXPECT_FALSE(bind_control(&bad));
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
