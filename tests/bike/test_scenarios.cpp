// Whole rides on the test courses, checked against broad physical
// plausibility. Tolerances are stated next to each check with the figure of
// a real motocross bike they stand for.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "bike/part_shapes.h"
#include "bike/rider.h"
#include "bike/roost.h"
#include "ride_test_util.h"

namespace {

// FNV-1a over the raw bytes of every body's state.
uint64_t state_hash(const Bike& b, uint64_t h) {
  auto mix = [&](const void* p, size_t n) {
    const unsigned char* c = (const unsigned char*)p;
    for (size_t i = 0; i < n; i++) h = (h ^ c[i]) * 1099511628211ull;
  };
  for (int i = 0; i < BODY_COUNT; i++) {
    mix(dBodyGetPosition(b.body[i]), 3 * sizeof(double));
    mix(dBodyGetQuaternion(b.body[i]), 4 * sizeof(double));
    mix(dBodyGetLinearVel(b.body[i]), 3 * sizeof(double));
    mix(dBodyGetAngularVel(b.body[i]), 3 * sizeof(double));
  }
  mix(&b.engine_speed, sizeof b.engine_speed);
  mix(&b.drivetrain_angle, sizeof b.drivetrain_angle);
  return h;
}

SprintFigures full_throttle(const char* model) {
  SprintFigures a;
  char error[128];
  EXPECT_TRUE(measure_full_throttle(model, course_terrain(COURSE_FLAT), &a, error, sizeof error)) << error;
  return a;
}

}  // namespace

TEST(Scenario, SettlesToItsSagWithoutOscillating) {
  std::vector<double> fork, arm;
  ride_script("course flat\nduration 4\n", [&](const Ride& r) {
    fork.push_back(fork_position(*r.bike));
    arm.push_back(swingarm_angle(*r.bike));
  });
  ASSERT_EQ(fork.size(), 512u);
  double fork_sag = -fork.back() / 1.0, rear_sag = -arm.back() / 0.530304;
  // Rider sag: about a fifth of the fork's travel and a third of the rear's
  // (a race setup puts 25-35 % at the rear).
  EXPECT_GT(fork_sag, 0.12);
  EXPECT_LT(fork_sag, 0.35);
  EXPECT_GT(rear_sag, 0.25);
  EXPECT_LT(rear_sag, 0.42);
  // Dropped onto its tyres from the build pose, the bike swings through its
  // sag once or twice, each swing well under half the one before, and is
  // still within 6/1000 ft after a second and a half.
  for (const std::vector<double>* trace : {&fork, &arm}) {
    double final_value = trace->back();
    auto worst = [&](size_t from, size_t to) {
      double m = 0;
      for (size_t i = from; i < to; i++) m = std::fmax(m, std::fabs((*trace)[i] - final_value));
      return m;
    };
    EXPECT_LT(worst(128, 192), 0.4 * worst(32, 96));
    EXPECT_LT(worst(192, trace->size()), 0.006);
    int crossings = 0, side = 0;
    for (double v : *trace) {
      double d = v - final_value;
      int s = d > 0.004 ? 1 : (d < -0.004 ? -1 : 0);
      if (s != 0 && side != 0 && s != side) crossings++;
      if (s != 0) side = s;
    }
    EXPECT_LE(crossings, 3);
  }
}

TEST(Scenario, FullThrottleFromRestPerClass) {
  // Full throttle from rest on loose dirt spins the rear tyre in first gear,
  // so the sprints are traction-limited (about 0.4 g); top speed is the rev
  // limit in top gear, there being no aerodynamic drag in the model.
  struct Expect {
    const char* model;
    double to30_max, to60_max, top_min, top_max;
  } classes[] = {
      {"crf450(2016)", 4.0, 6.5, 85, 94},   // a 450 tops out near 88 mph
      {"crf250(2016)", 4.0, 6.5, 69, 78},   // a 250F near 72 mph
      {"yz250(2012)", 4.0, 6.5, 69, 78},    // a 250 two-stroke near 75 mph
      {"cr125", 4.5, 8.0, 60, 69},          // a 125 near 65 mph
      {"rs50cr", 8.0, 99, 44, 53},          // the 50 never reaches 60 mph
  };
  for (const Expect& e : classes) {
    SprintFigures a = full_throttle(e.model);
    EXPECT_FALSE(a.crashed) << e.model;
    EXPECT_GT(a.to30, 1.5) << e.model;
    EXPECT_LT(a.to30, e.to30_max) << e.model;
    if (e.to60_max < 99) {
      EXPECT_GT(a.to60, a.to30) << e.model;
      EXPECT_LT(a.to60, e.to60_max) << e.model;
    } else {
      EXPECT_EQ(a.to60, 0) << e.model;
    }
    EXPECT_GT(a.top, e.top_min) << e.model;
    EXPECT_LT(a.top, e.top_max) << e.model;
  }
}

TEST(Scenario, BrakingFromFortyMph) {
  BrakingFigures f;
  char error[128];
  ASSERT_TRUE(measure_braking("crf450(2016)", course_terrain(COURSE_FLAT), 40, &f, error, sizeof error)) << error;
  ASSERT_TRUE(f.stopped);
  EXPECT_FALSE(f.crashed);
  double distance = f.distance;
  // 40 mph at 0.6 to 0.9 g stops in 60 to 90 ft; allow 45 to 110.
  EXPECT_GT(distance, 45);
  EXPECT_LT(distance, 110);
}

TEST(Scenario, SteadyTurnWithTheSteeringHeldStaysUp) {
  double turned = 0, last_heading = 0, lean_sum = 0, rate_sum = 0, speed_sum = 0;
  int samples = 0;
  bool crashed = false, started = false;
  ride_script("course flat\nstart 1024 1024 0\nduration 16\nat 0.5 throttle=0.6\nat 3 throttle=0.3 steer=-0.6\n",
              [&](const Ride& r) {
                if (r.bike->crash_timer > 0) crashed = true;
                DVec f = bike_forward(*r.bike);
                double h = std::atan2(-f.x, -f.z);
                if (seconds(r) > 6) {
                  if (started) turned += std::remainder(h - last_heading, 2 * PI_D);
                  started = true;
                  double lean = bike_lean_angle(*r.bike);
                  // Held steady: a right-hand lean of 10 to 30 degrees, never falling.
                  EXPECT_GT(lean, 0.17);
                  EXPECT_LT(lean, 0.55);
                  lean_sum += lean;
                  rate_sum += body_angular_velocity(*r.bike, BODY_FRAME).y;
                  speed_sum += bike_speed(*r.bike);
                  samples++;
                }
                last_heading = h;
              });
  EXPECT_FALSE(crashed);
  EXPECT_LT(turned, -1.5);  // a 21 degree lean at 35 mph is a 220 ft radius: 130 degrees in 10 s
  // The lean balances the turn: tan(lean) = v x yaw rate / g within 20 %.
  double lean = lean_sum / samples, v = speed_sum / samples, rate = -rate_sum / samples;
  EXPECT_NEAR(std::tan(lean), v * rate / 32, 0.2 * std::tan(lean));
}

TEST(Scenario, JumpIsLandedWithoutCrashing) {
  double highest = 0;
  bool crashed = false, landed_past_gap = false;
  ride_script("course jump\nstart 1024 800 0\nduration 8\nat 0.5 throttle=1\nat 3 throttle=0.5\n", [&](const Ride& r) {
    DVec p = body_position(*r.bike, BODY_FRAME);
    highest = std::fmax(highest, p.y);
    if (r.bike->crash_timer > 0) crashed = true;
    if (p.z < 640 && r.bike->wheel[WHEEL_REAR].depth > 0) landed_past_gap = true;
  });
  EXPECT_GT(highest, 8);  // it flew
  EXPECT_TRUE(landed_past_gap);
  EXPECT_FALSE(crashed);
}

TEST(Scenario, WallCrashIsRealignedAndRiddenOn) {
  int crashed_at = -1, back_at = -1;
  double lean_when_back = 9;
  ride_script("course wall\nduration 20\nat 0.5 throttle=1\n", [&](const Ride& r) {
    if (crashed_at < 0 && r.bike->crash_timer > 0) crashed_at = (int)r.tick;
    if (crashed_at >= 0 && back_at < 0 && r.bike->crash_timer == 0) {
      back_at = (int)r.tick;
      lean_when_back = bike_lean_angle(*r.bike);
      EXPECT_TRUE(r.bike->rider_attached);
    }
  });
  ASSERT_GE(crashed_at, 0);
  ASSERT_GT(back_at, crashed_at + 512);  // at least the 4 s sequence
  EXPECT_LT(back_at, crashed_at + 128 * 12);
  EXPECT_LT(std::fabs(lean_when_back), 0.15);  // stood back up
}

TEST(Scenario, UpsideDownRiderCrashesAndIsPutBack) {
  bool crashed = false;
  int back = -1;
  ride_script(
      "course flat\nduration 9\n",
      [&](const Ride& r) {
        if (r.bike->crash_timer > 0) crashed = true;
        if (crashed && back < 0 && r.bike->crash_timer == 0) back = (int)r.tick;
      },
      [](Ride& r) {
        // Rolled over and thrown along the ground at 10 ft/s, wheels up.
        Bike* b = r.bike;
        BikePose p = read_bike_pose(*b);
        DQuat flip = quat_axis_angle(DVec{0, 0, 1}, PI_D);
        DVec centre = p.body[BODY_FRAME].position;
        for (BodyPose& body : p.body) {
          body.position = centre + quat_rotate(flip, body.position - centre) + DVec{0, 3, 0};
          body.orientation = quat_mul(flip, body.orientation);
        }
        restore_bike_pose(b, p, nullptr, nullptr, 0);
        for (int i = 0; i < BODY_COUNT; i++) dBodySetLinearVel(b->body[i], 0, 0, -10);
        b->crash_guard = 0;
      });
  EXPECT_TRUE(crashed);
  EXPECT_GT(back, 0);
}

TEST(Scenario, SameInputsGiveBitIdenticalStates) {
  auto run = [](std::vector<uint64_t>* hashes) {
    uint64_t h = 1469598103934665603ull;
    ride_script("course proving_ground\nduration 20\nfollow 35\nat 12 sit=1\n", [&](const Ride& r) {
      h = state_hash(*r.bike, h);
      if (r.tick % 128 == 0) hashes->push_back(h);
    });
    hashes->push_back(h);
  };
  std::vector<uint64_t> first, second;
  run(&first);
  run(&second);
  ASSERT_EQ(first.size(), second.size());
  for (size_t i = 0; i < first.size(); i++) ASSERT_EQ(first[i], second[i]) << "diverged by second " << i;
}

TEST(Scenario, KeyboardRiderLapsTheProvingGroundWithoutCrashing) {
  // A keyboard rider: steering is full left, full right or nothing.
  bool crashed = false, far_turn = false, near_turn = false, home = false;
  ride_script("course proving_ground\nduration 80\nfollow 35 keys\n", [&](const Ride& r) {
    DVec p = body_position(*r.bike, BODY_FRAME);
    if (r.bike->crash_timer > 0) crashed = true;
    if (p.z < 450) near_turn = true;
    if (near_turn && p.z > 1600) far_turn = true;
    if (far_turn && p.x > 1150 && p.z < 1300) home = true;
  });
  EXPECT_FALSE(crashed);
  EXPECT_TRUE(home);
}

TEST(Scenario, RidingOffTheFieldRollsOnFlatGround) {
  // From 30 ft inside the far edge, heading out across it: past the edge
  // the ground goes on level with the edge, so the bike rides on instead of
  // dropping out of the world.
  double lowest = 1e9, furthest = 0;
  ride_script("course flat\nstart 1024 2018 180\nduration 6\nat 0.5 throttle=0.4\n", [&](const Ride& r) {
    DVec p = body_position(*r.bike, BODY_FRAME);
    if (seconds(r) > 1) lowest = std::min(lowest, p.y);
    furthest = std::max(furthest, p.z);
  });
  EXPECT_GT(furthest, 2048 + 20);  // well past the last row of the field
  EXPECT_GT(lowest, 0.5);          // the frame still rides above the ground
}

TEST(Scenario, SpinningTyreThrowsRoost) {
  int most = 0;
  ride_script("course flat\nduration 2\nat 0.2 throttle=1\n", [&](const Ride&) { most = std::max(most, g_roost.live); });
  EXPECT_GT(most, 20);
  int live_flying = 0;
  for (const RoostParticle& p : g_roost.particle)
    if (p.mode != ROOST_DISABLED) {
      live_flying++;
      EXPECT_GT(p.position.y, -0.5f);
    }
  EXPECT_EQ(live_flying, g_roost.live);
}

TEST(Scenario, RoostFliesBackFromTheSpinningRearWheelOnly) {
  // Full throttle from a standstill spins the rear tyre: its dirt goes back
  // against the bike's travel, from the rear contact; the rolling front
  // tyre throws none.
  int against = 0, along = 0, near_rear = 0, near_front = 0;
  ride_script("course flat\nduration 1.5\nat 0.2 throttle=1\n", [&](const Ride& r) {
    DVec v = body_velocity(*r.bike, BODY_FRAME);
    if (v.x * v.x + v.z * v.z < 4) return;  // the heading is not yet clear
    DVec rear = r.bike->wheel[WHEEL_REAR].contact_point, front = r.bike->wheel[WHEEL_FRONT].contact_point;
    for (const RoostParticle& p : g_roost.particle) {
      if (p.mode == ROOST_DISABLED) continue;
      double way = p.velocity.x * v.x + p.velocity.z * v.z;
      (way < 0 ? against : along)++;
      auto d2 = [&](DVec w) { return (p.position.x - w.x) * (p.position.x - w.x) + (p.position.z - w.z) * (p.position.z - w.z); };
      // Newly thrown particles are still beside the contact they left.
      if (d2(rear) < 0.25) near_rear++;
      if (d2(front) < 0.25) near_front++;
    }
  });
  EXPECT_GT(against, 100);
  EXPECT_GT(against, 5 * along);
  EXPECT_GT(near_rear, 10);
  EXPECT_EQ(near_front, 0);
}

struct CrashSequence : BikeWorldTest {};

TEST_F(CrashSequence, TimerHoldsWhileTheRiderSlidesAndUsesTheDelayTable) {
  make("crf450(2016)", COURSE_FLAT);
  int64_t tick = 0;
  run(COURSE_FLAT, 100, &tick);
  bike->extra_crash_delay[3] = 40;
  bike->crash_count = 3;
  start_crash(bike);
  EXPECT_EQ(bike->crash_timer, 512 + 40);
  EXPECT_EQ(bike->crash_count, 4);
  EXPECT_FALSE(bike->rider_attached);
  // The rider keeps sliding at 3 ft/s: the clock holds.
  for (int i = 0; i < 100; i++) {
    dBodySetLinearVel(bike->body[BODY_RIDER], 3, 0, 0);
    run(COURSE_FLAT, 1, &tick);
    dBodySetLinearVel(bike->body[BODY_RIDER], 3, 0, 0);
  }
  EXPECT_EQ(bike->crash_timer, 552);
  run(COURSE_FLAT, 200, &tick);  // once it rests, it counts
  EXPECT_LT(bike->crash_timer, 552 - 100);
  // The feet stay on or above the ground and within a leg's length of the hips.
  for (int i = 0; i < 200; i++) {
    run(COURSE_FLAT, 1, &tick);
    for (int side = 0; side < 2; side++) {
      const Foot& f = bike->feet[side];
      EXPECT_GE(f.position.y, 0.25 - 1e-9);
      DVec hip = body_position(*bike, BODY_RIDER) +
                 mat_mul(body_rotation(*bike, BODY_RIDER),
                         dvec(bike->model.rider_figure[FIGURE_RIGHT_HIP + side]) - bike->build_position[BODY_RIDER]);
      EXPECT_LE(length(f.position - hip), 2.9 + 1e-9);
    }
  }
  run(COURSE_FLAT, 900, &tick);
  EXPECT_EQ(bike->crash_timer, 0);
  EXPECT_TRUE(bike->rider_attached);

  // The 17th and later crashes use the 16th entry.
  bike->extra_crash_delay[15] = 7;
  bike->crash_count = 20;
  start_crash(bike);
  EXPECT_EQ(bike->crash_timer, 519);
}

TEST_F(CrashSequence, TimerCountsOnceARiderHasSlidTooLong) {
  make("crf450(2016)", COURSE_FLAT);
  int64_t tick = 0;
  run(COURSE_FLAT, 100, &tick);
  start_crash(bike);
  const int start = bike->crash_timer;
  // Dragged along at 3 ft/s (a bike rolling down a long slope): the clock
  // holds for CRASH_HOLD_LIMIT ticks, then counts as if the rider lay still.
  auto slide = [&](int ticks) {
    for (int i = 0; i < ticks; i++) {
      dBodySetLinearVel(bike->body[BODY_RIDER], 3, 0, 0);
      run(COURSE_FLAT, 1, &tick);
      dBodySetLinearVel(bike->body[BODY_RIDER], 3, 0, 0);
    }
  };
  slide(CRASH_HOLD_LIMIT - 10);
  EXPECT_EQ(bike->crash_timer, start);
  slide(110);
  EXPECT_LE(bike->crash_timer, start - 99);
  EXPECT_GE(bike->crash_timer, start - 101);
  // A new crash waits for its rider again.
  run(COURSE_FLAT, 2000, &tick);
  ASSERT_EQ(bike->crash_timer, 0);
  start_crash(bike);
  slide(50);
  EXPECT_EQ(bike->crash_timer, start);
}
