// Robots getting out of trouble: the way up from below a bank too steep to
// climb, with the gate on top; two bikes caught on each other at the gate.
#include <gtest/gtest.h>

#include <cmath>

#include "bike/bike.h"
#include "bike/proving_ground.h"
#include "robot/practice_ride.h"
#include "robot_test_util.h"
#include "track/terrain.h"
#include "track/track.h"

namespace {

constexpr float SHELF = 10;  // ft the track stands above the hollow

// The track is a shelf (z < 1000); below it lies a hollow whose floor
// rises gently towards +x until it meets the shelf at x = 1047.5. Its bank
// is a 7.6 ft drop over 5 ft at x = 1000 and fades to nothing along the
// floor.
float shelf_height(float x, float z) {
  if (z <= 1000) return SHELF;
  float floor = std::fmin(SHELF, std::fmax(0.0f, (x - 985) * 0.16f));
  return floor + (SHELF - floor) * std::fmax(0.0f, 1 - (z - 1000) / 5);
}

struct Shelf {
  Terrain terrain;
  TimingGates gates;
  Shelf() {
    build_course(&terrain, COURSE_FLAT);
    for (int r = 0; r < terrain.N; r++)
      for (int c = 0; c < terrain.N; c++)
        terrain.heights[(size_t)c + (size_t)terrain.N * (size_t)r] = shelf_height(c * terrain.spacing, r * terrain.spacing);
    terrain.low = 0;
    terrain.high = SHELF;
    clear_timing_gates(&gates);
    // The gate on the shelf just above the steep part of the bank, then the
    // finish on along it; the robot starts in the hollow facing the bank.
    gates.checkpoints.push_back(Checkpoint{{1005, SHELF, 985}, {0, 0, -1}, 19, false});
    gates.checkpoints.push_back(Checkpoint{{1000, SHELF, 800}, {0, 0, -1}, 19, false});
    gates.sequence = {0, 1, 0, 1};
    gates.first_lap = gates.normal_lap = 2;
    StartingGate s;
    s.position = Vec3{1000, 0, 1008};
    s.heading = 0;
    gates.starting_gates.push_back(s);
    normalise_timing_gates(&gates, 0);
  }
};

TEST(RobotUnstick, EscapeRouteAvoidsTheSheerFace) {
  Shelf shelf;
  const Checkpoint& gate = shelf.gates.checkpoints[0];
  Vec3 via{}, through{};
  bool has_via = false;
  const Vec3 stuck{1000, shelf_height(1000, 1008), 1008};
  ASSERT_TRUE(escape_route(shelf.terrain, stuck, gate, &via, &has_via, &through));
  // It passes the gate inside its half-disc...
  float dx = through.x - gate.point.x, dz = through.z - gate.point.z;
  EXPECT_LE(dx * dx + dz * dz, gate.radius * gate.radius);
  EXPECT_GE(dx * gate.direction.x + dz * gate.direction.z, 0);
  // ...and climbs the bank where it is lower, up the floor's slope.
  Vec3 from = has_via ? via : stuck;
  double t = (1002 - from.z) / (through.z - from.z);
  double cross_x = from.x + t * (through.x - from.x);
  EXPECT_GT(cross_x, 1015) << cross_x;
  // On the shelf itself, or with the gate straight up a gentle slope, the
  // straight way is kept.
  EXPECT_FALSE(escape_route(shelf.terrain, Vec3{1000, SHELF, 1000 - 40}, shelf.gates.checkpoints[1], &via, &has_via,
                            &through));
}

TEST(RobotUnstick, TwoBikesStartingTouchingBothGetAway) {
  // Two starting gates 2 ft apart on flat ground: the bikes' bars overlap.
  Terrain terrain;
  build_course(&terrain, COURSE_FLAT);
  TimingGates gates;
  clear_timing_gates(&gates);
  gates.checkpoints.push_back(Checkpoint{{1024, 0, 1700}, {0, 0, -1}, 19, false});
  gates.checkpoints.push_back(Checkpoint{{1024, 0, 1400}, {0, 0, -1}, 19, false});
  gates.sequence = {0, 1, 0, 1};
  gates.first_lap = gates.normal_lap = 2;
  for (float x : {1023.0f, 1025.0f}) {
    StartingGate s;
    s.position = Vec3{x, 0, 1900};
    s.heading = 0;
    gates.starting_gates.push_back(s);
  }
  normalise_timing_gates(&gates, 0);
  LineStore store;
  size_line_store(&store, gates, "flat", ROBOT_EXPERT);
  RobotStyle styles[2] = {robot_style(ROBOT_EXPERT, 0.5, 1.0), robot_style(ROBOT_EXPERT, 0.5, 1.0)};
  styles[0].mistake_interval = styles[1].mistake_interval = 0;
  PracticeRide ride;
  ASSERT_TRUE(start_practice(&ride, terrain, gates, &store, 2, styles, 1, false, 4));
  int first_gate[2] = {-1, -1};
  while (ride.tick < 40 * TICKS_PER_SECOND && !(ride.timing[0].gates_passed >= 2 && ride.timing[1].gates_passed >= 2)) {
    step_practice(&ride);
    for (int i = 0; i < 2; i++)
      if (first_gate[i] < 0 && ride.timing[i].gates_passed >= 1) first_gate[i] = ride.tick - ride.drop_tick;
  }
  // Neither waits for the other to move first (200 ft takes a bike about
  // 5 s from a standing start, 500 ft about 12 s).
  EXPECT_GT(first_gate[0], 0);
  EXPECT_GT(first_gate[1], 0);
  EXPECT_LT(first_gate[0], 7 * TICKS_PER_SECOND);
  EXPECT_LT(first_gate[1], 7 * TICKS_PER_SECOND);
  EXPECT_GE(ride.timing[0].gates_passed, 2);
  EXPECT_GE(ride.timing[1].gates_passed, 2);
  EXPECT_LT(ride.tick - ride.drop_tick, 16 * TICKS_PER_SECOND);
  end_practice(&ride);
}

}  // namespace

namespace {

TEST(RobotUnstick, StandingOnTheThrottleAtAWallBacksOffSoon) {
  // Flat ground through the first gate, then a 10 ft wall across the whole
  // way at z = 960 with the finish beyond: the robot rides into its foot,
  // stops, and spins there.
  Shelf shelf;
  for (int r = 0; r < shelf.terrain.N; r++)
    for (int c = 0; c < shelf.terrain.N; c++)
      shelf.terrain.heights[(size_t)c + (size_t)shelf.terrain.N * (size_t)r] =
          r * shelf.terrain.spacing <= 960 ? SHELF : 0.0f;
  LineStore store;
  size_line_store(&store, shelf.gates, "wall", ROBOT_EXPERT);
  RobotStyle style = robot_style(ROBOT_EXPERT, 0.5, 1.0);
  style.mistake_interval = 0;
  PracticeRide ride;
  ASSERT_TRUE(start_practice(&ride, shelf.terrain, shelf.gates, &store, 1, &style, 1, false, 4));
  int moving = -1, backing = -1;  // the last tick it moved at the wall; when it backed off
  while (ride.tick < 20 * TICKS_PER_SECOND && backing < 0) {
    step_practice(&ride);
    const Bike& b = *ride.bikes[0];
    DVec v = body_velocity(b, BODY_FRAME);
    double speed = std::sqrt(v.x * v.x + v.z * v.z);
    bool at_wall = body_position(b, BODY_FRAME).z < 975;
    if (at_wall && speed >= 1.5) moving = ride.tick;
    if (moving >= 0 && ride.robots[0].mode == ROBOT_BACKING) backing = ride.tick;
  }
  ASSERT_GE(moving, 0) << "never reached the wall";
  ASSERT_GE(backing, 0) << "never backed off";
  // Once it stands there for good it backs off after about a second (waiting
  // for STUCK_TICKS without headway it stands there two).
  EXPECT_LT(backing - moving, 3 * TICKS_PER_SECOND / 2) << (backing - moving) * TICK_SECONDS << " s";
  end_practice(&ride);
}

}  // namespace
