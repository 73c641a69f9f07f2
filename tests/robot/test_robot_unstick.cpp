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

namespace {

// Two bikes on flat ground for judging a lock between them; notes set by
// hand stand in for the contacts of the tick.
struct LockPair {
  Terrain terrain;
  Bike* bikes[MAX_BIKES] = {};
  RobotWorld world{};
  LockPair() {
    build_course(&terrain, COURSE_FLAT);
    create_bike_world();
    for (int i = 0; i < 2; i++) bikes[i] = create_bike("crf450(2016)", i, nullptr, nullptr, nullptr, nullptr, "1");
    world.terrain = &terrain;
    world.bikes = bikes;
  }
  ~LockPair() {
    for (int i = 0; i < 2; i++) delete_bike(bikes[i]);
    destroy_bike_world();
  }
  // Places bike i at p facing `forward` (horizontal), with no contacts.
  void place(int i, DVec p, DVec forward) {
    float best = 0;
    double best_dot = -2;
    for (int k = 0; k < 64; k++) {
      float h = (float)(k * 2 * 3.14159265358979 / 64);
      place_bike(bikes[i], to_vec3(p), h);
      double d = dot(bike_forward(*bikes[i]), forward);
      if (d > best_dot) best_dot = d, best = h;
    }
    place_bike(bikes[i], to_vec3(p), best);
    bikes[i]->bike_note_count = 0;
  }
  void touch(int i, int body) {
    Bike& b = *bikes[i];
    b.bike_notes[b.bike_note_count++] = ContactNote{(int16_t)body, (int16_t)(1 - i), 0.05f, 0, 0};
  }
  bool backs_out(int i) { return backs_out_of_lock(world, *bikes[i], 1 - i); }
};

TEST(RobotUnstick, OfTwoBikesCaughtOnEachOtherExactlyOneBacksOut) {
  LockPair pair;
  const DVec north{0, 0, -1}, east{1, 0, 0}, at{1024, 0, 1024};
  // A T-bone: bike 1 faces bike 0's side with its front wheel in it. From
  // where each stands the other is ahead of it (the frame of a bike at
  // right angles lies ahead of its wheels), so judged by that alone both
  // gave way, or both pushed, together.
  pair.place(0, at, north);
  pair.place(1, at - east * 3.5 + north * 2.0, east);
  pair.touch(0, BODY_FRAME);
  pair.touch(1, BODY_FRONT_WHEEL);
  DVec p0 = body_position(*pair.bikes[0], BODY_FRAME), p1 = body_position(*pair.bikes[1], BODY_FRAME);
  ASSERT_GT(dot(p1 - p0, bike_forward(*pair.bikes[0])), 1.0);
  ASSERT_GT(dot(p0 - p1, bike_forward(*pair.bikes[1])), 1.0);
  EXPECT_TRUE(pair.backs_out(1));
  EXPECT_FALSE(pair.backs_out(0));
  // The same with the notes the other way round (bike 0's fork caught in
  // bike 1's wheel): the roles follow the fronts.
  pair.place(0, at, north);
  pair.place(1, at - east * 3.5 + north * 2.0, east);
  pair.touch(0, BODY_FORK_LOWER);
  pair.touch(1, BODY_FRAME);
  EXPECT_TRUE(pair.backs_out(0));
  EXPECT_FALSE(pair.backs_out(1));
  // Fronts in each other, at right angles, head on, side by side level
  // and one a little ahead: always one of each.
  struct Case {
    const char* what;
    DVec p1, f1;
    int body0, body1;
  } cases[] = {
      {"right angles, fronts", at - east * 3.5 + north * 2.0, east, BODY_FRONT_WHEEL, BODY_FRONT_WHEEL},
      {"right angles, frames", at + east * 3.0 + north * 2.0, east * -1.0, BODY_FRAME, BODY_FRAME},
      {"head on", at + north * 6.0, north * -1.0, BODY_FRONT_WHEEL, BODY_FRONT_WHEEL},
      {"side by side", at + east * 2.0, north, BODY_RIDER, BODY_RIDER},
      {"a little ahead", at + east * 2.0 + north * 1.5, north, BODY_SWINGARM, BODY_FORK_UPPER},
  };
  for (const Case& c : cases) {
    pair.place(0, at, north);
    pair.place(1, c.p1, c.f1);
    pair.touch(0, c.body0);
    pair.touch(1, c.body1);
    EXPECT_NE(pair.backs_out(0), pair.backs_out(1)) << c.what;
  }
}

}  // namespace
