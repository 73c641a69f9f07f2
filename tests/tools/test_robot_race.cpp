// A field of robots on the data set's Rabbit Hill, riding the shipped
// expert lines from a full gate: every robot gets through the first gates
// and none stands still on the way (a pile-up at the start or in the first
// turns, a robot hung on a bank or on another bike, would). DV_RUNNER_DATA
// names another copy of the data set.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "robot/line_store.h"
#include "tests/race/race_fixture.h"
#include "tools/race_runner/runner.h"

namespace {

constexpr int ROBOTS = 19;
constexpr double RIDDEN_SECONDS = 45;
constexpr int FIRST_GATES = 6;             // every robot passes gates 0 .. 5
constexpr double LONGEST_GAP_SECONDS = 25;  // between a robot's gates (or the drop and its first)

}  // namespace

TEST(RobotRace, FullGateOfExpertsGetsThroughTheFirstGatesOfRabbithill) {
  const char* other = getenv("DV_RUNNER_DATA");  // another copy of the data set
  const std::string game = other && *other ? other : DV_GAME_DIR;
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
  while (race.tick < end) step_runner(runner.get());

  for (int s = 0; s < ROBOTS; s++) {
    ASSERT_NE(race.bikes[s], nullptr) << s;
    EXPECT_EQ(race.mode[s], RACE_SLOT_ROBOT) << s;
    EXPECT_GE(race.timing[s].gates_passed, FIRST_GATES) << "slot " << s;
    int last = race.gate_drop_tick, longest = 0;
    for (const TimingEvent& e : runner->events)
      if (e.slot == s) {
        longest = std::max(longest, e.tick - last);
        last = e.tick;
      }
    longest = std::max(longest, race.tick - last);
    EXPECT_LE(longest * TICK_SECONDS, LONGEST_GAP_SECONDS) << "slot " << s << " stood still";
  }
  end_runner(runner.get());
}
