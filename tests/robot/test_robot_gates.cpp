// Robots keeping their checkpoints: ridden wide of a line that passes near
// a checkpoint's edge, a robot moves over in time to pass inside it.
#include <gtest/gtest.h>

#include <cmath>

#include "bike/bike.h"
#include "bike/proving_ground.h"
#include "robot/practice_ride.h"
#include "robot_test_util.h"
#include "track/terrain.h"
#include "track/track.h"

namespace {

constexpr float CENTRE_X = 1024, LINE_X = 1032, RADIUS = 10;  // the line passes 2 ft inside the edge
constexpr float START_Z = 1900, GATE_Z[2] = {1700, 1400};
constexpr float SPEED = 25;  // ft/s along the line

// A straight line towards -z at x = LINE_X from z0 to z1, ridden at
// `speed` ft/s, from a standing start at `accel` ft/s^2 (0: at speed).
RobotLine line_past_the_edge(int from_gate, float z0, float z1, float speed, float accel = 0) {
  RobotLine l;
  clear_line(&l);
  l.from_gate = from_gate;
  float ramp = accel > 0 ? speed / accel : 0;  // seconds to reach speed
  float ramp_length = 0.5f * accel * ramp * ramp;
  l.ticks = (int)((ramp + (z0 - z1 - ramp_length) / speed) * TICKS_PER_SECOND);
  int count = (l.ticks + LINE_SAMPLE_TICKS - 1) / LINE_SAMPLE_TICKS + 1;
  for (int i = 0; i < count; i++) {
    float t = (float)((i + 1 < count ? i * LINE_SAMPLE_TICKS : l.ticks) * TICK_SECONDS);
    float gone = t < ramp ? 0.5f * accel * t * t : ramp_length + speed * (t - ramp);
    float v = t < ramp ? accel * t : speed;
    l.points.push_back(LinePoint{{LINE_X, 0, z0 - gone}, {0, 0, -v}});
  }
  return l;
}

struct Straight {
  Terrain terrain;
  TimingGates gates;
  LineStore store;
  Straight() {
    build_course(&terrain, COURSE_FLAT);
    clear_timing_gates(&gates);
    for (float z : GATE_Z) gates.checkpoints.push_back(Checkpoint{{CENTRE_X, 0, z}, {0, 0, -1}, RADIUS, false});
    gates.sequence = {0, 1, 0, 1};
    gates.first_lap = gates.normal_lap = 2;
    StartingGate s;
    s.position = Vec3{LINE_X, 0, START_Z};
    s.heading = 0;
    gates.starting_gates.push_back(s);
    normalise_timing_gates(&gates, 0);
    size_line_store(&store, gates, "straight", ROBOT_EXPERT);
    // Every checkpoint is a split: a line from the start to the first, one
    // from there to the second.
    EXPECT_EQ(offer_line(&store, split_group(gates, 0), line_past_the_edge(GATE_DROP, START_Z, GATE_Z[0], SPEED, 8)),
              LINE_STORED);
    EXPECT_EQ(offer_line(&store, split_group(gates, 1), line_past_the_edge(0, GATE_Z[0], GATE_Z[1], SPEED)),
              LINE_STORED);
  }
};

// Rides one lap with the robot's aim held `wide` ft to the right of its
// line (as if it had moved over for a bike); where it crossed each
// checkpoint's plane (x), and ticks to the lap's end (-1 not reached).
struct WideRide {
  float cross_x[2] = {0, 0};
  bool on_line = false;  // it rode the stored line
  int lap_ticks = -1;
};
WideRide ride_wide(Straight& s, float wide) {
  WideRide out;
  RobotStyle style = robot_style(ROBOT_EXPERT, 0.5, 1.0);
  style.mistake_interval = 0;
  PracticeRide ride;
  EXPECT_TRUE(start_practice(&ride, s.terrain, s.gates, &s.store, 1, &style, 1, false, 3));
  DVec last = body_position(*ride.bikes[0], BODY_FRAME);
  while (ride.tick < 30 * TICKS_PER_SECOND && ride.timing[0].gates_passed < 2) {
    if (ride.tick >= ride.drop_tick) ride.robots[0].side_offset = wide;
    step_practice(&ride);
    out.on_line = out.on_line || ride.robots[0].mode == ROBOT_FOLLOWING;
    DVec p = body_position(*ride.bikes[0], BODY_FRAME);
    for (int k = 0; k < 2; k++)
      if (last.z > GATE_Z[k] && p.z <= GATE_Z[k]) out.cross_x[k] = (float)(last.x + (p.x - last.x) * (last.z - GATE_Z[k]) / (last.z - p.z));
    last = p;
  }
  if (ride.timing[0].gates_passed >= 2) out.lap_ticks = ride.tick - ride.drop_tick;
  end_practice(&ride);
  return out;
}

TEST(RobotGates, RiddenWideOfALineNearACheckpointEdgeItMovesOverToPassInside) {
  Straight s;
  // On its line it passes both checkpoints where the line does.
  WideRide plain = ride_wide(s, 0);
  ASSERT_TRUE(plain.on_line);
  ASSERT_GT(plain.lap_ticks, 0);
  EXPECT_NEAR(plain.cross_x[0], LINE_X, 1.5);
  // Aimed 2 ft wider (and carried a little further by the bike's own lag)
  // it would cross just outside the edge; it moves over to pass inside
  // both, no further than it must, and the lap takes no longer than a
  // plain one (missing one, it would have to turn back for it).
  WideRide wide = ride_wide(s, 2);
  ASSERT_TRUE(wide.on_line);
  ASSERT_GT(wide.lap_ticks, 0) << "missed a checkpoint";
  // The first checkpoint may be skipped: it moves over no further than it
  // must. The second ends the lap and may not (missed, the robot must turn
  // back for it): that one it passes well inside.
  EXPECT_LT(std::fabs(wide.cross_x[0] - CENTRE_X), RADIUS) << "checkpoint 0 crossed at x " << wide.cross_x[0];
  EXPECT_GT(wide.cross_x[0], LINE_X) << "moved over further than it needed";
  EXPECT_LT(std::fabs(wide.cross_x[1] - CENTRE_X), RADIUS - 3) << "lap end crossed at x " << wide.cross_x[1];
  EXPECT_LT(wide.lap_ticks, plain.lap_ticks + TICKS_PER_SECOND);
}

}  // namespace
