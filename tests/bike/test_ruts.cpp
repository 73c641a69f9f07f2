#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "bike/bike.h"
#include "bike/bike_sim.h"
#include "bike/proving_ground.h"
#include "bike/ruts.h"
#include "bike/tyre_contact.h"
#include "bike_test_util.h"
#include "track/deform.h"
#include "track/terrain.h"

namespace {

TEST(WheelTerrainOrder, RotatesTheOccupiedSlotsByTheTick) {
  Bike* bikes[MAX_BIKES] = {};
  static Bike dummy[3];
  bikes[2] = &dummy[0];
  bikes[5] = &dummy[1];
  bikes[9] = &dummy[2];
  int order[MAX_BIKES];
  auto order_at = [&](int64_t tick) {
    int n = wheel_terrain_order(bikes, tick, order);
    return std::vector<int>(order, order + n);
  };
  EXPECT_EQ(order_at(0), (std::vector<int>{2, 5, 9}));
  // The k-th occupied slot goes to position (k + tick) mod n.
  EXPECT_EQ(order_at(1), (std::vector<int>{9, 2, 5}));
  EXPECT_EQ(order_at(2), (std::vector<int>{5, 9, 2}));
  EXPECT_EQ(order_at(3), order_at(0));
  EXPECT_EQ(order_at(3000000001LL), order_at(1));  // past 32 bits
  Bike* none[MAX_BIKES] = {};
  EXPECT_EQ(wheel_terrain_order(none, 7, order), 0);
}

// A bike at full throttle from rest on a private copy of the flat course.
struct RutTest : BikeWorldTest {
  Terrain ground;
  void SetUp() override {
    BikeWorldTest::SetUp();
    ground = course_terrain(COURSE_FLAT);
  }
  // Rides `ticks` ticks at full throttle with the erosion setting; calls
  // check() after every tick.
  template <class Check>
  void ride(float erosion, int ticks, Check check) {
    make("crf450(2016)", COURSE_FLAT);
    Bike* bikes[MAX_BIKES] = {};
    bikes[0] = bike;
    ControlOptions options{true, false};
    for (int64_t tick = 0; tick < ticks; tick++) {
      float control[CONTROL_COUNT] = {};
      control[CONTROL_THROTTLE] = tick > 64 ? 1.0f : 0.0f;
      apply_control_vector(bike, control, options);
      run_bike_tick(bikes, &ground, tick, erosion);
      check();
    }
  }
};

TEST_F(RutTest, NoChangeAtErosionZero) {
  std::vector<float> before = ground.heights;
  ride(0, 512, [] {});
  EXPECT_GT(bike_speed(*bike), 30.0);  // it did ride hard
  EXPECT_EQ(ground.heights, before);
  EXPECT_EQ(ground.modification_count, 0);
  EXPECT_EQ(erosion_queue_length(bike->erosion), 0);
  EXPECT_EQ(erosion_step(bike, &ground, 0), 0);
  EXPECT_EQ(erosion_step(bike, &ground, std::nanf("")), 0);
  EXPECT_EQ(erosion_queue_length(bike->erosion), 0);
}

TEST_F(RutTest, AcceleratingDigsBehindTheBikeOnlyOnceItHasMovedOn) {
  std::vector<float> before = ground.heights;
  const int N = ground.N;
  const float s = ground.spacing;
  // Each tick, nothing may change closer to the chassis than the clear
  // distance less the reach of one record (brush radius 4 plus pile 2),
  // less what the bike moves in the tick after the check (under 0.6 ft).
  const float keep_clear = EROSION_CLEAR_DISTANCE - 4 - 2 - 0.6f;
  std::vector<float> window;
  int window_c = 0, window_r = 0;
  const int half = 8;
  auto snapshot = [&] {
    DVec p = body_position(*bike, BODY_FRAME);
    window_c = (int)std::lround(p.x / s);
    window_r = (int)std::lround(p.z / s);
    window.clear();
    for (int r = window_r - half; r <= window_r + half; r++)
      for (int c = window_c - half; c <= window_c + half; c++) window.push_back(ground.heights[c + N * r]);
  };
  int violations = 0;
  bool first = true;
  ride(100, 640, [&] {
    if (!first) {
      DVec p = body_position(*bike, BODY_FRAME);
      size_t i = 0;
      for (int r = window_r - half; r <= window_r + half; r++)
        for (int c = window_c - half; c <= window_c + half; c++, i++) {
          if (ground.heights[c + N * r] == window[i]) continue;
          if (std::hypot(c * s - p.x, r * s - p.z) < keep_clear) violations++;
        }
    }
    first = false;
    snapshot();
  });
  EXPECT_EQ(violations, 0);
  EXPECT_GT(ground.modification_count, 0);
  // The bike went towards -z from z = 1900; every change lies along its
  // track, behind where it is now.
  DVec end = body_position(*bike, BODY_FRAME);
  ASSERT_LT(end.z, 1900 - 60);
  int changed = 0;
  for (int r = 0; r < N; r++)
    for (int c = 0; c < N; c++) {
      if (ground.heights[c + N * r] == before[c + N * r]) continue;
      changed++;
      EXPECT_NEAR(c * s, 1024, 12) << c << "," << r;
      EXPECT_GT(r * s, end.z + keep_clear) << c << "," << r;
      EXPECT_LT(r * s, 1900 + 8) << c << "," << r;
    }
  EXPECT_GT(changed, 20);
  // The height range follows the ruts.
  EXPECT_LT(ground.low, 0.0f);
  EXPECT_GT(ground.high, 0.0f);
}

TEST_F(RutTest, AWheelInTheAirForgetsItsLastPush) {
  make("crf450(2016)", COURSE_FLAT);
  WheelShape& w = bike->wheel[WHEEL_REAR];
  w.feedback.f1[0] = 400;
  w.feedback.f1[2] = -300;
  CourseStart start = course_start(COURSE_FLAT);
  place_bike(bike, Vec3{start.position.x, 20, start.position.z}, start.heading);
  make_wheel_contact(bike, WHEEL_REAR, ground);
  EXPECT_EQ(w.depth, 0);
  EXPECT_EQ(w.feedback.f1[0], 0);
  EXPECT_EQ(w.feedback.f1[2], 0);
  EXPECT_FALSE(record_wheel_contact(bike, WHEEL_REAR, ground));
}

}  // namespace
