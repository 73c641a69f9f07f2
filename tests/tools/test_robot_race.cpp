// A field of robots on the data set's Rabbit Hill, riding the shipped
// expert lines from a full gate: every robot gets through the first gates
// and none stands still on the way (a pile-up at the start or in the first
// turns, a robot hung on a bank or on another bike, would); the time a
// rider is down after a crash is not riding. DV_RUNNER_DATA
// names another copy of the data set.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bike/bike.h"
#include "bike/rider.h"
#include "robot/line_store.h"
#include "tests/race/race_fixture.h"
#include "tools/race_runner/runner.h"

namespace {

constexpr int ROBOTS = 19;
constexpr double RIDDEN_SECONDS = 60;
constexpr int FIRST_GATES = 6;             // every robot passes gates 0 .. 5
constexpr double LONGEST_GAP_SECONDS = 25;  // riding between a robot's gates (or the drop and its first)

std::string shipped_data() {
  const char* other = getenv("DV_RUNNER_DATA");  // another copy of the data set
  return other && *other ? other : DV_GAME_DIR;
}

// One expert alone for a lap of Rabbit Hill; `knock` runs before every step
// with the seconds since the gate drop. The lap's ticks, -1 unfinished.
template <typename Knock>
int solo_lap(Knock knock) {
  RunnerOptions options;
  options.track = "rabbithill";
  options.lineup.assign(MAX_BIKES, LINEUP_EMPTY);
  options.lineup[3] = LINEUP_ROBOT;
  options.laps = 1;
  options.skill = ROBOT_EXPERT;
  auto runner = std::make_unique<Runner>();
  char error[256];
  EXPECT_TRUE(start_runner(runner.get(), options, error, sizeof error)) << error;
  Race& race = runner->race;
  while (!runner_done(*runner)) {
    if (race.bikes[3] && race.tick >= race.gate_drop_tick)
      knock(race.bikes[3], (race.tick - race.gate_drop_tick) * TICK_SECONDS);
    step_runner(runner.get());
  }
  int lap = race_bike_finished(race, 3) ? race_lap_time(race, 3, 1) : -1;
  end_runner(runner.get());
  return lap;
}

}  // namespace

TEST(RobotRace, FullGateOfExpertsGetsThroughTheFirstGatesOfRabbithill) {
  const std::string game = shipped_data();
  if (!std::filesystem::exists(game + "/rabbithill/lines_expert")) GTEST_SKIP() << "no shipped lines in " << game;
  LogCapture log;
  ScratchData home;
  set_search_directories({home.root, game});
  RunnerOptions options;
  options.track = "rabbithill";
  options.lineup.assign(MAX_BIKES, LINEUP_EMPTY);
  for (int s = 0; s < ROBOTS; s++) options.lineup[(size_t)s] = LINEUP_ROBOT;
  options.laps = 1;
  options.skill = ROBOT_EXPERT;
  auto runner = std::make_unique<Runner>();
  char error[256];
  ASSERT_TRUE(start_runner(runner.get(), options, error, sizeof error)) << error;
  // The robots ride what was shipped, not paths through the checkpoints.
  ASSERT_GT(line_count(runner->robots.store), 0);
  ASSERT_EQ(runner->robots.store.skill, ROBOT_EXPERT);
  const Race& race = runner->race;
  const int end = race.gate_drop_tick + (int)(RIDDEN_SECONDS * TICKS_PER_SECOND);
  // Ticks each robot has spent riding (not down after a crash) since its
  // latest gate, and the most it went so between two.
  int riding[MAX_BIKES] = {}, longest[MAX_BIKES] = {}, seen[MAX_BIKES] = {};
  while (race.tick < end) {
    step_runner(runner.get());
    for (int s = 0; s < ROBOTS; s++) {
      if (!race.bikes[s]) continue;
      if (race.timing[s].gates_passed != seen[s]) seen[s] = race.timing[s].gates_passed, riding[s] = 0;
      if (race.tick > race.gate_drop_tick && race.bikes[s]->crash_timer == 0) riding[s]++;
      longest[s] = std::max(longest[s], riding[s]);
    }
  }

  for (int s = 0; s < ROBOTS; s++) {
    ASSERT_NE(race.bikes[s], nullptr) << s;
    EXPECT_EQ(race.mode[s], RACE_SLOT_ROBOT) << s;
    EXPECT_GE(race.timing[s].gates_passed, FIRST_GATES) << "slot " << s;
    EXPECT_LE(longest[s] * TICK_SECONDS, LONGEST_GAP_SECONDS) << "slot " << s << " stood still";
  }
  end_runner(runner.get());
}

// Moved 10 ft sideways at speed, or thrown off, the robot finds the shipped
// lines again from where it is and finishes the lap not far behind its
// clean time.
TEST(RobotRace, KnockedOffItsLineOrCrashedAnExpertRejoinsAndFinishes) {
  const std::string game = shipped_data();
  if (!std::filesystem::exists(game + "/rabbithill/lines_expert")) GTEST_SKIP() << "no shipped lines in " << game;
  LogCapture log;
  ScratchData home;
  set_search_directories({home.root, game});
  const int clean = solo_lap([](Bike*, double) {});
  ASSERT_GT(clean, 0);

  bool moved = false;
  const int knocked = solo_lap([&](Bike* b, double t) {
    if (moved || t < 40 || bike_speed(*b) < 20) return;
    DVec f = bike_forward(*b);
    DVec side = normalized(DVec{-f.z, 0, f.x}, DVec{1, 0, 0}) * 10.0;
    for (int i = 0; i < BODY_COUNT; i++) {
      DVec q = body_position(*b, i);
      dBodySetPosition(b->body[i], q.x + side.x, q.y + 0.5, q.z + side.z);
    }
    moved = true;
  });
  EXPECT_TRUE(moved);
  EXPECT_GT(knocked, 0) << "not finished after being moved";
  EXPECT_LT(knocked, clean + 15 * TICKS_PER_SECOND);

  bool crashed = false;
  const int thrown = solo_lap([&](Bike* b, double t) {
    if (crashed || t < 80) return;
    start_crash(b);
    crashed = true;
  });
  EXPECT_TRUE(crashed);
  EXPECT_GT(thrown, 0) << "not finished after the crash";
  EXPECT_LT(thrown, clean + 25 * TICKS_PER_SECOND);
  printf("lap: clean %.2f s, moved 10 ft %.2f s, thrown off %.2f s\n", clean * TICK_SECONDS, knocked * TICK_SECONDS,
         thrown * TICK_SECONDS);
}
