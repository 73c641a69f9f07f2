// Each aid setting changes the ride in its own direction.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "bike/aids.h"
#include "bike/rider.h"
#include "ride_test_util.h"

namespace {

// Lean reached a given time after a lean request at about 30 mph.
double lean_after_request(const std::string& setup, double after) {
  double lean = 0;
  ride_script("course flat\nduration 8\nat 0.5 throttle=1\nat 3.2 throttle=0.4\nat 5 steer=-0.6\n" + setup,
              [&](const Ride& r) {
                if (r.tick == std::lround((5 + after) * TICKS_PER_SECOND)) lean = bike_lean_angle(*r.bike);
              });
  return lean;
}

double max_lean(const std::string& setup) {
  double most = 0;
  ride_script("course flat\nduration 9\nat 0.5 throttle=1\nat 3.2 throttle=0.4\nat 4 steer=-1\n" + setup,
              [&](const Ride& r) { most = std::fmax(most, bike_lean_angle(*r.bike)); });
  return most;
}

// Bar angle a short time after a full right input at walking pace.
double bars_after(const std::string& setup, double after) {
  double bars = 0;
  ride_script("course flat\nduration 3\nat 2 steer=-1\n" + setup, [&](const Ride& r) {
    if (r.tick == std::lround((2 + after) * TICKS_PER_SECOND)) bars = steering_angle(*r.bike);
  });
  return bars;
}

// Lean of a bike left standing still for a few seconds.
double standing_lean(const std::string& setup) {
  double lean = 0;
  ride_script("course flat\nduration 5\n" + setup,
              [&](const Ride& r) { lean = bike_lean_angle(*r.bike); },
              [](Ride& r) {
                // A nudge sideways to start it tipping.
                dBodySetAngularVel(r.bike->body[BODY_FRAME], 0, 0, -0.4);
              });
  return std::fabs(lean);
}

}  // namespace

TEST(Aids, LockNarrowsWithSpeed) {
  BikeTuning t{};
  t.full_lock_speed = 10;
  t.restricted_lock_speed = 50;
  t.restricted_lock = 5 * PI_D / 180;
  EXPECT_DOUBLE_EQ(lock_angle(t, 0), PI_D / 4);
  EXPECT_DOUBLE_EQ(lock_angle(t, 10), PI_D / 4);
  EXPECT_NEAR(lock_angle(t, 30), 0.5 * (PI_D / 4 + t.restricted_lock), 1e-12);
  EXPECT_DOUBLE_EQ(lock_angle(t, 80), t.restricted_lock);
  t.restricted_lock = 2;  // never more than full lock
  EXPECT_DOUBLE_EQ(lock_angle(t, 80), PI_D / 4);
}

TEST(Aids, SlowAndLandingDampingMultiply) {
  BikeTuning t{};
  t.slow_damping_speed = 40;
  t.slow_damping_factor = 2;
  t.land_damping_falloff = 0.25;
  t.land_damping_factor = 3;
  EXPECT_DOUBLE_EQ(damping_multiplier(t, 50, 9), 1);
  EXPECT_DOUBLE_EQ(damping_multiplier(t, 10, 9), 2);
  EXPECT_DOUBLE_EQ(damping_multiplier(t, 35, 9), 1.5);
  EXPECT_DOUBLE_EQ(damping_multiplier(t, 50, 0), 3);
  EXPECT_DOUBLE_EQ(damping_multiplier(t, 50, 0.125), 2);
  EXPECT_DOUBLE_EQ(damping_multiplier(t, 10, 0.25), 2);
  t.slow_damping_factor = 1;
  t.land_damping_falloff = 0;
  EXPECT_DOUBLE_EQ(damping_multiplier(t, 10, 0), 1);
}

TEST(Aids, LeanRequestCounterSteersThenLeansIn) {
  double first_bars = 0, lean_1s = 0;
  ride_script("course flat\nduration 7\nat 0.5 throttle=1\nat 3.2 throttle=0.4\nat 5 steer=-0.6\n", [&](const Ride& r) {
    double t = seconds(r);
    if (t > 5 && t < 5.15) first_bars = std::fmax(first_bars, steering_angle(*r.bike));
    if (std::fabs(t - 6) < 1e-9) lean_1s = bike_lean_angle(*r.bike);
  });
  EXPECT_GT(first_bars, 0.003);  // a right turn starts with the bars turned left
  EXPECT_GT(lean_1s, 0.25);      // and most of the 21 degrees asked for within a second
}

TEST(Aids, RollDampingSlowsTheLean) {
  double soft = lean_after_request("setup roll_damping 10\n", 0.4);
  double stiff = lean_after_request("setup roll_damping 100\n", 0.4);
  EXPECT_GT(soft, stiff * 1.1);
}

TEST(Aids, RollLimitCapsTheLean) {
  double narrow = max_lean("setup roll_limit_angle 20\n");
  double wide = max_lean("setup roll_limit_angle 45\n");
  EXPECT_LT(narrow, 25 * PI_D / 180);
  EXPECT_GT(wide, narrow + 0.1);
  double soft = max_lean("setup roll_limit_angle 20\nsetup roll_limit_factor 0\n");
  EXPECT_GT(soft, narrow);  // the factor is what makes the limit bite
}

TEST(Aids, DirectSteeringTurnsTheBarsStraightFromTheInput) {
  // A right turn at speed: direct steering turns the bars right at once, the
  // lean controller first turns them left to tip the bike into the turn.
  double bars[2] = {0, 0};
  for (int direct = 0; direct <= 1; direct++)
    ride_script("course flat\nduration 5.2\nat 0.5 throttle=1\nat 3.2 throttle=0.4\nat 5 steer=-1\n"
                "setup direct_steering " + std::to_string(direct) + "\n",
                [&](const Ride& r) {
                  if (r.tick == 5 * TICKS_PER_SECOND + 8) bars[direct] = steering_angle(*r.bike);
                });
  EXPECT_LT(bars[1], -0.02);
  EXPECT_GT(bars[0], 0.0);
}

TEST(Aids, SteeringServoStrengthDampingAndForce) {
  double normal = bars_after("", 0.1);
  EXPECT_LT(normal, -0.3);  // at walking pace the bars follow the input
  EXPECT_GT(bars_after("setup steering_strength 10\n", 0.1), normal + 0.05);  // weaker: slower
  EXPECT_GT(bars_after("setup steering_damping 100\n", 0.05), bars_after("", 0.05) + 0.02);
  EXPECT_GT(bars_after("setup max_steering_force 20\n", 0.1), normal + 0.05);
}

TEST(Aids, DabbingHoldsAStoppedBikeUp) {
  EXPECT_LT(standing_lean(""), 0.15);                    // "Dab When Stopped"
  EXPECT_GT(standing_lean("setup auto_dab 0\n"), 0.6);   // falls over without it
  EXPECT_LT(standing_lean("setup auto_dab 0\nsetup leveling 100\n"), 0.3);  // strong leveling holds it
  bool dabbing = false;
  ride_script("course flat\nduration 2\n", [&](const Ride& r) {
    dabbing = r.bike->dabbing && r.bike->status_text && std::string(r.bike->status_text) == "Dabbing!";
  });
  EXPECT_TRUE(dabbing);
}

TEST(Aids, RealignAfterFallTurnsTheBikeBackOnItsWay) {
  for (int align = 0; align <= 1; align++) {
    double heading_before = 0, heading_after = 0;
    bool started = false;
    ride_script("course flat\nduration 7\nsetup auto_align " + std::to_string(align) + "\n",
                [&](const Ride& r) {
                  Ride& ride = const_cast<Ride&>(r);
                  DVec f = bike_forward(*r.bike);
                  double h = std::atan2(-f.x, -f.z);
                  if (!started && seconds(r) >= 1) {
                    started = true;
                    heading_before = h;
                    start_crash(ride.bike);
                    ride.bike->crash_heading = h + 1.0;  // it was going elsewhere
                  }
                  heading_after = h;
                });
    double turned = std::remainder(heading_after - heading_before, 2 * PI_D);
    EXPECT_NEAR(turned, align ? 1.0 : 0.0, 0.15) << "auto_align " << align;
  }
}

TEST(Aids, ArcadeLetsTheRiderPitchInTheAir) {
  for (int arcade = 0; arcade <= 1; arcade++) {
    double pitch_rate = 0;
    ride_script("course flat\nduration 0.3\nat 0 lean=1\nsetup arcade " + std::to_string(arcade) + "\n",
                [&](const Ride& r) {
                  DVec w = body_angular_velocity(*r.bike, BODY_FRAME);
                  pitch_rate = dot(w, mat_column(body_rotation(*r.bike, BODY_FRAME), 0));
                },
                [](Ride& r) { place_bike(r.bike, Vec3{1024, 60, 1900}, 0); });  // high in the air
    if (arcade) {
      EXPECT_GT(pitch_rate, 0.3);
    } else {
      EXPECT_LT(std::fabs(pitch_rate), 0.2);
    }
  }
}

TEST(Aids, BackingUpPaddlesBackwards) {
  double z0 = 0, z1 = 0;
  ride_script("course flat\nduration 4\nat 1 back_up=1\n", [&](const Ride& r) {
    if (r.tick == 128) z0 = body_position(*r.bike, BODY_FRAME).z;
    z1 = body_position(*r.bike, BODY_FRAME).z;
  });
  EXPECT_GT(z1 - z0, 3);  // the bike faces -z, so backwards is +z
}
