#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "bike/bike_setup.h"
#include "bike_test_util.h"
#include "core/message.h"

TEST(Setup, StabilityPresetsInterpolate) {
  BikeSetup s;
  apply_stability(&s, 50);
  EXPECT_DOUBLE_EQ(s.roll_damping, 65);
  EXPECT_DOUBLE_EQ(s.restricted_lock, 7.5);
  EXPECT_DOUBLE_EQ(s.direct_steering, 1);
  apply_stability(&s, 100);
  EXPECT_DOUBLE_EQ(s.roll_damping, 80);
  EXPECT_DOUBLE_EQ(s.direct_steering, 0);
  EXPECT_DOUBLE_EQ(s.restricted_lock, 5);
  apply_stability(&s, 0);
  EXPECT_DOUBLE_EQ(s.roll_limit_angle, 90);
  EXPECT_DOUBLE_EQ(s.roll_limit_factor, 0);
  EXPECT_DOUBLE_EQ(s.restricted_lock, 45);
  apply_stability(&s, 250);  // beyond the range: the last column
  EXPECT_DOUBLE_EQ(s.roll_damping, 80);
  // The stock defaults are the stability-100 row.
  BikeSetup stock, preset;
  apply_stability(&preset, 100);
  EXPECT_DOUBLE_EQ(stock.land_damping_falloff, preset.land_damping_falloff);
  EXPECT_DOUBLE_EQ(stock.slow_damping_factor, preset.slow_damping_factor);
}

TEST(Setup, Derivations) {
  EXPECT_DOUBLE_EQ(damping_scale(50), 1);
  EXPECT_DOUBLE_EQ(damping_scale(0), 0.25);
  EXPECT_DOUBLE_EQ(damping_scale(100), 4);
  EXPECT_DOUBLE_EQ(damping_scale(200), 4);
  EXPECT_DOUBLE_EQ(slow_offset(50), 0);
  EXPECT_DOUBLE_EQ(slow_offset(0), -1);
  EXPECT_DOUBLE_EQ(slow_offset(100), 1);
  EXPECT_DOUBLE_EQ(range_fraction(25), 0.25);
  EXPECT_DOUBLE_EQ(range_fraction(-5), 0);
  EXPECT_DOUBLE_EQ(final_drive_ratio(13, 48, 0, 0), 48.0 / 13);
  EXPECT_DOUBLE_EQ(final_drive_ratio(13, 48, -20, 0), 48.0 / 11);  // clamped to -2 teeth
  EXPECT_DOUBLE_EQ(final_drive_ratio(13, 48, 1.5, -0.5), 47.0 / 14);  // whole teeth only
  EXPECT_DOUBLE_EQ(final_drive_ratio(4, 48, -2, 0), 48.0 / 3);       // never below 3 teeth
}

TEST(Setup, SetByKey) {
  BikeSetup s;
  EXPECT_TRUE(set_setup_value(&s, "fork_preload_adjustment", 75));
  EXPECT_DOUBLE_EQ(s.fork_preload_adjustment, 75);
  EXPECT_TRUE(set_setup_value(&s, "stop_wheelies", 2));
  EXPECT_EQ(s.stop_wheelies, 2);
  EXPECT_FALSE(set_setup_value(&s, "stop_wheelies", 3));
  EXPECT_FALSE(set_setup_value(&s, "auto_shift", 0.5));
  EXPECT_FALSE(set_setup_value(&s, "no_such_key", 1));
  EXPECT_FALSE(set_setup_value(&s, "leveling", NAN));
  EXPECT_TRUE(set_setup_value(&s, "stability", 50));
  EXPECT_DOUBLE_EQ(s.roll_damping, 65);
}

struct SetupTest : BikeWorldTest {};

TEST_F(SetupTest, CreationDefaults) {
  make("crf450(2016)", COURSE_FLAT);
  const BikeModel& m = bike->model;
  const BikeTuning& t = bike->tuning;
  EXPECT_DOUBLE_EQ(t.fork_compression, m.fork_compression_damping);
  EXPECT_DOUBLE_EQ(t.fork_slow_compression, 0);
  EXPECT_DOUBLE_EQ(t.fork_air_length, m.fork_air_length[0]);  // the long end
  EXPECT_NEAR(t.shock_spring, 0.5 * (m.shock_spring_rate[0] + m.shock_spring_rate[1]), 1e-3);
  EXPECT_NEAR(t.mass_distribution, 1.0 / 3, 1e-12);
  EXPECT_NEAR(t.max_dab_speed, 20 * 1.4666666666666666, 1e-12);
  EXPECT_NEAR(t.restricted_lock, 5 * 0.017453292519943295, 1e-12);
  EXPECT_DOUBLE_EQ(t.final_drive, 48.0 / 13);
}

TEST_F(SetupTest, ApplyDerivesEveryValueAndFlagsOutOfRange) {
  make("crf450(2016)", COURSE_FLAT);
  BikeSetup s;
  s.fork_compression_adjustment = 0;
  s.fork_slow_rebound_adjustment = 100;
  s.shock_spring_rate_adjustment = 100;
  s.fork_oil_level_adjustment = 100;
  s.rider_mass_distribution = 0.5;
  s.rider_zdamping = 20;
  s.max_dab_speed = 30;
  s.roll_limit_angle = 90;
  g_setup_out_of_range = false;
  ASSERT_TRUE(apply_setup(bike, s, 0));
  const BikeModel& m = bike->model;
  const BikeTuning& t = bike->tuning;
  EXPECT_DOUBLE_EQ(t.fork_compression, 0.25 * m.fork_compression_damping);
  EXPECT_DOUBLE_EQ(t.fork_slow_rebound, m.fork_slow_rebound);
  EXPECT_FLOAT_EQ((float)t.shock_spring, m.shock_spring_rate[1]);
  EXPECT_FLOAT_EQ((float)t.fork_air_length, m.fork_air_length[1]);
  EXPECT_DOUBLE_EQ(t.rider_zdamping, 0.2);
  EXPECT_NEAR(t.max_dab_speed, 44, 1e-12);
  EXPECT_NEAR(t.roll_limit_angle, PI_D / 2, 1e-12);
  EXPECT_FALSE(g_setup_out_of_range);
  // Half the rider on the frame, half in the rider sphere.
  dMass frame, rider;
  dBodyGetMass(bike->body[BODY_FRAME], &frame);
  dBodyGetMass(bike->body[BODY_RIDER], &rider);
  EXPECT_NEAR(rider.mass, 0.5 * m.rider_mass, 1e-9);
  EXPECT_NEAR(frame.mass, m.frame_mass + 0.5 * m.rider_mass, 1e-5);

  // Values clearly outside their bands raise the flag, which stays raised.
  for (auto key : {"front_sprocket_adjustment", "fork_compression_adjustment", "shock_slow_rebound_adjustment",
                   "fork_spring_rate_adjustment", "rider_mass_distribution"}) {
    BikeSetup bad;
    double value = std::string(key) == "front_sprocket_adjustment" ? 2.6
                   : std::string(key) == "rider_mass_distribution" ? 0.3
                                                                   : 120;
    set_setup_value(&bad, key, value);
    g_setup_out_of_range = false;
    ASSERT_TRUE(apply_setup(bike, bad, 0));
    EXPECT_TRUE(g_setup_out_of_range) << key;
    ASSERT_TRUE(apply_setup(bike, BikeSetup(), 0));
    EXPECT_TRUE(g_setup_out_of_range) << key;
  }
  g_setup_out_of_range = false;
  BikeSetup edge;
  edge.rear_sprocket_adjustment = -2.5;  // inside the band, clamped to -2
  edge.fork_preload_adjustment = 110;
  ASSERT_TRUE(apply_setup(bike, edge, 0));
  EXPECT_FALSE(g_setup_out_of_range);
  EXPECT_DOUBLE_EQ(bike->tuning.final_drive, 46.0 / 13);
}

TEST_F(SetupTest, MechanicRefusesWhileMoving) {
  make("crf450(2016)", COURSE_FLAT);
  g_last_setup_refusal = -20;
  clear_message_lines();
  BikeSetup s;
  s.brake_torque = 400;
  dBodySetLinearVel(bike->body[BODY_FRAME], 0, 0, 0.1);
  EXPECT_TRUE(apply_setup(bike, s, 0));  // slower than 0.125 ft/s still applies
  EXPECT_DOUBLE_EQ(bike->tuning.brake_torque, 400);

  dBodySetLinearVel(bike->body[BODY_FRAME], 0, 0, -3);
  s.brake_torque = 100;
  EXPECT_FALSE(apply_setup(bike, s, 5));
  EXPECT_DOUBLE_EQ(bike->tuning.brake_torque, 400);
  EXPECT_EQ(message_line(0), nullptr);  // a first refusal is quiet
  EXPECT_FALSE(apply_setup(bike, s, 12));
  ASSERT_NE(message_line(0), nullptr);
  EXPECT_STREQ(message_line(0), "Settings not applied.  Mechanic can't keep up error.");
  clear_message_lines();
  EXPECT_FALSE(apply_setup(bike, s, 30));  // 18 s later: quiet again
  EXPECT_EQ(message_line(0), nullptr);
}
