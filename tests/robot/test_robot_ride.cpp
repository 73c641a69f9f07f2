// Robots riding the proving ground: the bootstrap driver, following learnt
// lines, rejoining after being knocked off or crashing, determinism, and the
// skills' order after a short training.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "bike/bike.h"
#include "bike/proving_ground.h"
#include "bike/rider.h"
#include "robot/practice_ride.h"
#include "robot/training.h"
#include "robot/training_ground.h"
#include "robot_test_util.h"
#include "track/terrain.h"
#include "track/track.h"

namespace {

struct Ground {
  Terrain terrain;
  TimingGates gates;
  Ground() {
    build_course(&terrain, COURSE_PROVING_GROUND);
    training_ground_gates(&gates);
  }
};
Ground& ground() {
  static Ground* g = new Ground();
  return *g;
}

RobotStyle steady(int skill = ROBOT_EXPERT) {
  RobotStyle s = robot_style(skill, 0.5, 1.0);
  s.mistake_interval = 0;
  return s;
}

// Rides until everyone finished or the limit (seconds), calling `each`.
template <typename F>
void ride_out(PracticeRide* ride, double seconds, F each) {
  while (!practice_finished(*ride) && ride->tick < seconds * TICKS_PER_SECOND) {
    step_practice(ride);
    each();
  }
}
void ride_out(PracticeRide* ride, double seconds) {
  ride_out(ride, seconds, [] {});
}

TEST(RobotRide, TrainingGroundIsTimedWithMarkedGates) {
  const TimingGates& g = ground().gates;
  ASSERT_TRUE(g.timed);
  EXPECT_EQ(g.first_lap, g.normal_lap);
  EXPECT_LT(g.normal_lap_splits, g.normal_lap);  // some gates are marked
  EXPECT_TRUE(is_split_gate(g, g.first_lap - 1));  // the lap end is a split
}

TEST(RobotRide, BootstrapRidesTwoLapsAndItsLinesReplay) {
  LogCapture log;
  Ground& gr = ground();
  LineStore store;
  size_line_store(&store, gr.gates, "proving_ground", ROBOT_EXPERT);
  RobotStyle style = steady();
  PracticeRide ride;
  ASSERT_TRUE(start_practice(&ride, gr.terrain, gr.gates, &store, 1, &style, 2, true, 1));
  ride_out(&ride, 200);
  ASSERT_TRUE(practice_finished(ride));
  EXPECT_EQ(ride.crashes[0], 0);
  int bootstrap = practice_lap_ticks(ride, 0, 2);
  EXPECT_GT(bootstrap, 0);
  EXPECT_LT(bootstrap * TICK_SECONDS, 75.0);
  end_practice(&ride);
  // Every split of both laps got its line.
  EXPECT_EQ(line_count(store), (int)store.groups.size());
  for (size_t g = 0; g < store.groups.size(); g++) EXPECT_TRUE(store.groups[g].lines[0].used) << g;

  // Ridden again from its own lines, at the pace they were ridden at, the
  // lap comes out within a few percent; pushed, it is faster.
  style.pace = 1.0;
  ASSERT_TRUE(start_practice(&ride, gr.terrain, gr.gates, &store, 1, &style, 2, false, 1));
  ride_out(&ride, 200);
  int replay = practice_lap_ticks(ride, 0, 2);
  EXPECT_EQ(ride.crashes[0], 0);
  EXPECT_NEAR(replay, bootstrap, 0.03 * bootstrap);
  end_practice(&ride);
  style.pace = 1.08;
  ASSERT_TRUE(start_practice(&ride, gr.terrain, gr.gates, &store, 1, &style, 2, false, 1));
  ride_out(&ride, 200);
  int pushed = practice_lap_ticks(ride, 0, 2);
  end_practice(&ride);
  EXPECT_GT(pushed, 0);
  EXPECT_LT(pushed, replay * 0.99);
  EXPECT_GT(log.count_prefix("auto pilot: picking "), 20);
  // Following a line records its rides: the lines picked at their start
  // were ridden to their ends.
  int ridden = 0;
  for (const LineGroup& g : store.groups) ridden += g.lines[0].completed;
  EXPECT_GT(ridden, 20);
}

TEST(RobotRide, KnockedOffOrCrashedItRejoinsAndFinishes) {
  Ground& gr = ground();
  LineStore store;
  size_line_store(&store, gr.gates, "proving_ground", ROBOT_EXPERT);
  RobotStyle style = steady();
  PracticeRide ride;
  ASSERT_TRUE(start_practice(&ride, gr.terrain, gr.gates, &store, 1, &style, 1, true, 2));
  ride_out(&ride, 200);
  ASSERT_TRUE(practice_finished(ride));
  int clean = practice_lap_ticks(ride, 0, 1);
  end_practice(&ride);

  // 10 ft sideways in the middle of the back straight, at speed.
  ASSERT_TRUE(start_practice(&ride, gr.terrain, gr.gates, &store, 1, &style, 1, false, 2));
  bool moved = false;
  ride_out(&ride, 200, [&] {
    Bike* b = ride.bikes[0];
    DVec p = body_position(*b, BODY_FRAME);
    if (!moved && p.x < 900 && p.z > 900 && p.z < 1000) {
      for (int i = 0; i < BODY_COUNT; i++) {
        DVec q = body_position(*b, i);
        dBodySetPosition(b->body[i], q.x + 10, q.y, q.z);
      }
      moved = true;
    }
  });
  EXPECT_TRUE(moved);
  EXPECT_TRUE(practice_finished(ride));
  EXPECT_LT(practice_lap_ticks(ride, 0, 1), clean + 10 * TICKS_PER_SECOND);
  end_practice(&ride);

  // Thrown off on the near turn: the rider gets up and rides on.
  ASSERT_TRUE(start_practice(&ride, gr.terrain, gr.gates, &store, 1, &style, 1, false, 2));
  bool crashed = false;
  ride_out(&ride, 200, [&] {
    DVec p = body_position(*ride.bikes[0], BODY_FRAME);
    if (!crashed && p.z < 500) {
      start_crash(ride.bikes[0]);
      crashed = true;
    }
  });
  EXPECT_TRUE(crashed);
  EXPECT_GE(ride.crashes[0], 1);
  EXPECT_TRUE(practice_finished(ride));
  EXPECT_LT(practice_lap_ticks(ride, 0, 1), clean + 20 * TICKS_PER_SECOND);
  end_practice(&ride);
}

TEST(RobotRide, SameStartSameRide) {
  Ground& gr = ground();
  auto run = [&] {
    LineStore store;
    size_line_store(&store, gr.gates, "proving_ground", ROBOT_EXPERT);
    RobotStyle styles[3] = {robot_style(ROBOT_NOVICE, 0.2, 0.3), robot_style(ROBOT_AMATEUR, 0.9, 0.5),
                            robot_style(ROBOT_EXPERT, 0.5, 0.9)};
    PracticeRide ride;
    start_practice(&ride, gr.terrain, gr.gates, &store, 3, styles, 1, true, 9);
    ride_out(&ride, 25);
    std::vector<double> state;
    for (int i = 0; i < 3; i++) {
      DVec p = body_position(*ride.bikes[i], BODY_FRAME);
      state.insert(state.end(), {p.x, p.y, p.z, (double)ride.timing[i].gates_passed});
    }
    end_practice(&ride);
    std::vector<unsigned char> bytes = encode_lines(store);
    state.push_back((double)bytes.size());
    for (unsigned char c : bytes) state.push_back(c);
    return state;
  };
  std::vector<double> a = run(), b = run();
  ASSERT_EQ(a.size(), b.size());
  EXPECT_EQ(memcmp(a.data(), b.data(), a.size() * sizeof(double)), 0);
}

// A short training in the race flow, then a practice of each skill on its
// own store.
TEST(RobotRide, TrainedSkillsKeepTheirOrder) {
  Ground& gr = ground();
  static LoadedTrack track;
  build_course(&track.terrain, COURSE_PROVING_GROUND);
  training_ground_gates(&track.gates);
  track.name = "proving_ground";
  create_bike_world();
  TrainingOptions o;
  o.generations = 2;
  o.runs = 3;
  o.laps = 2;
  o.elite = 3;
  o.grid_slots = 3;
  LineStore stores[SKILL_COUNT];
  TrainingResult expert = train_expert_lines(&track, o, &stores[ROBOT_EXPERT]);
  ASSERT_GT(expert.best_lap, 0);
  EXPECT_GT(expert.clean_runs, 0);
  EXPECT_EQ(expert.generation_best.size(), 2u);
  for (int s = ROBOT_NOVICE; s <= ROBOT_AMATEUR; s++) train_skill_lines(&track, stores[ROBOT_EXPERT], s, o, &stores[s]);
  destroy_bike_world();
  double mean[SKILL_COUNT] = {};
  for (int s = 0; s < SKILL_COUNT; s++) {
    ASSERT_GT(line_count(stores[s]), 0) << s;
    EXPECT_EQ(stores[s].skill, s);
    RobotStyle styles[3] = {robot_style(s, 0.3, 0.4), robot_style(s, 0.5, 0.6), robot_style(s, 0.8, 0.8)};
    PracticeRide ride;
    ASSERT_TRUE(start_practice(&ride, gr.terrain, gr.gates, &stores[s], 3, styles, 2, false, 5));
    ride_out(&ride, 400);
    EXPECT_TRUE(practice_finished(ride)) << s;
    int n = 0;
    for (int i = 0; i < 3; i++)
      for (int lap = 1; lap <= 2; lap++)
        if (int t = practice_lap_ticks(ride, i, lap); t > 0) {
          mean[s] += t * TICK_SECONDS;
          n++;
        }
    mean[s] /= n > 0 ? n : 1;
    end_practice(&ride);
  }
  EXPECT_GT(mean[ROBOT_NOVICE], mean[ROBOT_AMATEUR] * 1.04);
  EXPECT_GT(mean[ROBOT_AMATEUR], mean[ROBOT_EXPERT] * 1.04);
  EXPECT_LT(mean[ROBOT_EXPERT], expert.best_lap * 1.15);
}

}  // namespace
