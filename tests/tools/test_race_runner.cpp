// The race runner: lineup texts, the riding line, and scripted riders
// completing laps of a written track and of the proving ground the same way
// twice.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "tests/race/race_fixture.h"
#include "tests/tools/follow_script.h"
#include "tools/race_runner/runner.h"

namespace {

// Runs the options to the end; returns the timing log and the report.
std::string run(const RunnerOptions& options, std::unique_ptr<Runner>* kept = nullptr) {
  auto runner = std::make_unique<Runner>();
  char error[256];
  EXPECT_TRUE(start_runner(runner.get(), options, error, sizeof error)) << error;
  char* text = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&text, &size);
  run_runner(runner.get(), out);
  write_race_report(out, *runner);
  fclose(out);
  std::string result(text, size);
  free(text);
  if (kept) *kept = std::move(runner);
  else end_runner(runner.get());
  return result;
}

}  // namespace

TEST(RunnerLineup, LettersCodesAndBadEntries) {
  std::vector<int> lineup;
  char error[128];
  ASSERT_TRUE(parse_lineup("h,r,t,f,e,2", &lineup, error, sizeof error));
  ASSERT_EQ(lineup.size(), (size_t)MAX_BIKES);
  EXPECT_EQ(lineup[0], LINEUP_HUMAN);
  EXPECT_EQ(lineup[1], LINEUP_ROBOT);
  EXPECT_EQ(lineup[2], LINEUP_ROBOT_2_STROKE);
  EXPECT_EQ(lineup[3], LINEUP_ROBOT_4_STROKE);
  EXPECT_EQ(lineup[4], LINEUP_EMPTY);
  EXPECT_EQ(lineup[5], LINEUP_ROBOT);
  EXPECT_EQ(lineup[6], LINEUP_EMPTY);
  EXPECT_FALSE(parse_lineup("h,x", &lineup, error, sizeof error));
  EXPECT_FALSE(parse_lineup("h,,r", &lineup, error, sizeof error));
  EXPECT_FALSE(parse_lineup("7", &lineup, error, sizeof error));
  std::string long_lineup = "r";
  for (int i = 0; i < MAX_BIKES; i++) long_lineup += ",r";
  EXPECT_FALSE(parse_lineup(long_lineup.c_str(), &lineup, error, sizeof error));
}

TEST(RunnerLine, FromTheStartThroughTheCheckpointsOfEveryLap) {
  TimingGates gates;
  clear_timing_gates(&gates);
  for (const Checkpoint& c : FIXTURE_CHECKPOINTS) gates.checkpoints.push_back(c);
  gates.sequence = {0, 1, 2, 3, 2, 3, 0};  // first lap 0 1 2 3, normal lap 2 3 0
  gates.first_lap = 4;
  gates.normal_lap = 3;
  normalise_timing_gates(&gates, 0);
  const Vec3 start{250, 0, 300};
  std::vector<Vec3> line = track_riding_line(gates, start, 2);
  // The start, then checkpoints 0 1 2 3 2 3 0, six points per span.
  ASSERT_EQ(line.size(), 7u * 6 + 1);
  auto on = [&](size_t i, Vec3 p) { return std::hypot(line[i].x - p.x, line[i].z - p.z) < 1e-3; };
  EXPECT_TRUE(on(0, start));
  const int expected[7] = {0, 1, 2, 3, 2, 3, 0};
  for (int k = 0; k < 7; k++) EXPECT_TRUE(on((size_t)(6 * k + 6), FIXTURE_CHECKPOINTS[expected[k]].point)) << k;
  clear_timing_gates(&gates);
  EXPECT_TRUE(track_riding_line(gates, start, 2).empty());
}

class RunnerRace : public ::testing::Test {
 protected:
  LogCapture log;
  ScratchData data;
};

TEST_F(RunnerRace, AScriptedRiderCompletesTwoLapsTheSameWayTwice) {
  write_race_track(data, "flat", 10);
  RunnerOptions options;
  options.track = "flat";
  options.script = follow_script(25);
  options.laps = 2;
  char error[128];
  ASSERT_TRUE(parse_lineup("r,h", &options.lineup, error, sizeof error));
  std::unique_ptr<Runner> runner;
  std::string first = run(options, &runner);
  const Race& race = runner->race;
  ASSERT_EQ(race.local_slot, 1);
  EXPECT_TRUE(race_bike_finished(race, 1)) << first;
  EXPECT_EQ(race_lap_state(race, 1).completed_laps, 2);
  EXPECT_EQ(race.running_order[0].slot, 1);
  int lap1 = race_lap_time(race, 1, 1), lap2 = race_lap_time(race, 1, 2);
  EXPECT_GT(lap1, 5 * 128);
  EXPECT_GT(lap2, 5 * 128);
  EXPECT_GE(race_lap_state(race, 0).completed_laps, 1);  // the robot rides its own race
  EXPECT_NE(first.find("lap 2 in"), std::string::npos) << first;
  EXPECT_NE(first.find("finished"), std::string::npos);
  end_runner(runner.get());

  std::string second = run(options);
  EXPECT_EQ(first, second);
}

TEST_F(RunnerRace, ProvingGroundLapsAndATimeTrial) {
  RunnerOptions options;
  options.course = "proving_ground";
  options.script = follow_script(30);
  options.laps = 1;
  std::unique_ptr<Runner> runner;
  std::string report = run(options, &runner);
  EXPECT_TRUE(race_bike_finished(runner->race, 0)) << report;
  EXPECT_GT(race_lap_time(runner->race, 0, 1), 30 * 128);
  end_runner(runner.get());

  options.time_trial = true;
  options.laps = 2;
  report = run(options, &runner);
  EXPECT_TRUE(runner->race.time_trial);
  EXPECT_EQ(race_lap_state(runner->race, 0).completed_laps, 2) << report;
  EXPECT_GT(runner->race.best_lap, 30 * 128);  // the flying lap
  EXPECT_NE(report.find("Best lap"), std::string::npos);
  end_runner(runner.get());
}

// The race step's wheel-terrain seam: ruts at --erode strength, where the
// wheels ran and nowhere else, and none at all at 0.
TEST_F(RunnerRace, TheRaceDigsRutsAtItsErosionSetting) {
  RunnerOptions options;
  options.course = "proving_ground";
  options.script = follow_script(30);
  options.lineup.assign(MAX_BIKES, LINEUP_EMPTY);
  options.lineup[0] = LINEUP_HUMAN;
  options.lineup[1] = options.lineup[2] = LINEUP_ROBOT;
  options.follow_robots = true;
  options.ticks = 20 * 128;
  options.record_ground = true;
  for (float erosion : {0.0f, 100.0f}) {
    SCOPED_TRACE(erosion);
    options.erosion = erosion;
    std::unique_ptr<Runner> runner;
    std::string report = run(options, &runner);
    end_ground_record(runner.get());
    const RutRideResult& g = runner->ground;
    EXPECT_TRUE(g.all_finite);
    EXPECT_EQ(g.changed_off_track, 0);
    if (erosion == 0) {
      EXPECT_EQ(g.changed, 0);
      EXPECT_EQ(g.modifications, 0);
    } else {
      EXPECT_GT(g.changed, 100) << report;
      EXPECT_LT(g.deepest_dig, 0.0f);
      EXPECT_GT(g.highest_pile, 0.0f);
    }
    end_runner(runner.get());
  }
}

TEST_F(RunnerRace, AMissingTrackIsReported) {
  RunnerOptions options;
  options.track = "nowhere";
  auto runner = std::make_unique<Runner>();
  char error[128];
  EXPECT_FALSE(start_runner(runner.get(), options, error, sizeof error));
  EXPECT_STREQ(error, "the track did not load");
  end_runner(runner.get());
  options.track.clear();
  options.course = "no such course";
  EXPECT_FALSE(start_runner(runner.get(), options, error, sizeof error));
  end_runner(runner.get());
}

// The data set's Rabbit Hill, when the data set has been built (or
// DV_RUNNER_DATA names another copy): the scripted rider of the runner's
// scenario completes both laps, and a second run gives the same times.
TEST(RunnerRabbithill, TwoLapsOfTheDataSetTrackTheSameWayTwice) {
  const char* other = getenv("DV_RUNNER_DATA");
  const std::string game = other && *other ? other : DV_GAME_DIR;
  if (!std::filesystem::exists(game + "/rabbithill/timing_gates")) GTEST_SKIP() << "no rabbithill in " << game;
  LogCapture log;
  ScratchData home;
  set_search_directories({home.root, game});
  RunnerOptions options;
  options.track = "rabbithill";
  options.laps = 2;
  FILE* f = fopen(DV_SOURCE_DIR "/tools/race_runner/scripts/rabbithill_two_laps.ride", "rb");
  ASSERT_NE(f, nullptr);
  char buffer[4096];
  size_t n = fread(buffer, 1, sizeof buffer, f);
  fclose(f);
  char error[128];
  ASSERT_TRUE(parse_ride_script(buffer, n, &options.script, error, sizeof error)) << error;
  std::unique_ptr<Runner> runner;
  std::string first = run(options, &runner);
  EXPECT_TRUE(race_bike_finished(runner->race, 0)) << first;
  EXPECT_GT(race_lap_time(runner->race, 0, 1), 0);
  EXPECT_GT(race_lap_time(runner->race, 0, 2), 0);
  EXPECT_NE(first.find("lap 2 in"), std::string::npos);
  end_runner(runner.get());
  EXPECT_EQ(run(options), first);
}
