// A points series raced through the race flow: three events of robot
// riders on the test tracks, each started from the series code through the
// race reset, ridden gate by gate on the race clock, finished by the race's
// own standings update and written out by its final-results seam. The
// standings file after every event and the final ranking must match what a
// person works out from the results files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "core/discovery.h"
#include "core/game_hooks.h"
#include "race/race_results.h"
#include "race/series.h"
#include "race/series_menu.h"
#include "robot/personalities.h"
#include "tests/race/race_fixture.h"
#include "tests/race/series_test_util.h"

namespace {

const std::vector<int> POINTS{20, 16, 13, 11, 10, 9, 8, 7};

Race* g_test_race;
SeriesList* g_test_series;

void reset_test_race(const RaceReset& reset) {
  RaceSetup setup = {reset.track, reset.lineup, false, false, (int)(reset.minutes * 60 * TICKS_PER_SECOND),
                     reset.laps, reset.skill};
  reset_race(g_test_race, setup);
}

void test_race_state(RaceState* state) {
  *state = RaceState{};
  state->track_loaded = g_test_race->bikes[0] != nullptr;
  state->reset_count = g_test_race->reset_count;
}

void results_seam(void*, Race* race) { race_final_results(*race, g_test_series); }

class SeriesRace : public RaceTest {
 protected:
  // Every robot rides its laps at its own pace: slot s's rank in `pace`
  // decides its time per gate (1 s plus a sixteenth per rank). The cutter
  // leaves out checkpoint 2 of its second lap and is a gate's time early
  // from there on.
  void ride(const std::vector<int>& pace, int cutter) {
    const int laps = race->configured_laps;
    const int gates = race->track->gates.first_lap + race->track->gates.normal_lap * (laps - 1);
    std::vector<std::vector<int>> due(pace.size());
    for (size_t rank = 0; rank < pace.size(); rank++) {
      const int slot = pace[rank];
      const int per_gate = TICKS_PER_SECOND + (int)rank * TICKS_PER_SECOND / 16;
      for (int g = 0; g < gates; g++) {
        int tick = race->gate_drop_tick + (g + 1) * per_gate;
        if (slot == cutter && g == 6) tick = -1;
        if (slot == cutter && g > 6) tick -= per_gate;
        due[(size_t)slot].push_back(tick);
      }
    }
    std::vector<size_t> next(pace.size(), 0);
    for (int guard = 0; !race->results_final && guard < 60 * 60 * TICKS_PER_SECOND; guard++) {
      for (size_t slot = 0; slot < pace.size(); slot++) {
        while (next[slot] < due[slot].size() && due[slot][next[slot]] < 0) next[slot]++;
        if (next[slot] < due[slot].size() && due[slot][next[slot]] == race->tick) {
          place_bike(race->bikes[slot], inside_checkpoint((int)(next[slot] % 4)), 0.0f);
          next[slot]++;
        }
      }
      race_step(race.get());
    }
  }
};

TEST_F(SeriesRace, ThreeRobotEventsThroughTheRaceFlow) {
  write_race_track(data, "flat", 10);
  write_race_track(data, "flat2", 10);
  // The series riders are every robot's race number.
  std::vector<int> riders;
  for (const RobotPersonality& p : g_robot_personalities) riders.push_back(atoi(p.number));
  const std::vector<int> lineup{2, 2, 2, 2, 2};
  data.write("series/robots.series",
             series_text("\"Robot Cup\"", "Expert", riders,
                         {{"\"Round 1\"", "flat", 0, 2, POINTS, lineup},
                          {"\"Round 2\"", "flat2", 0, 2, POINTS, lineup},
                          {"\"Round 3\"", "flat", 0, 3, POINTS, lineup}}));
  TrackList tracks;
  discover_tracks(&tracks, 0);
  SeriesList list;
  discover_series(&list, tracks, 0);
  ASSERT_EQ(list.series.size(), 1u);

  GameHooks saved = g_game_hooks;
  g_game_hooks = GameHooks{};
  g_game_hooks.race.reset = reset_test_race;
  g_game_hooks.race.state = test_race_state;
  g_test_race = race.get();
  g_test_series = &list;

  const std::vector<std::vector<int>> pace = {{3, 0, 4, 1, 2}, {1, 2, 0, 3, 4}, {4, 3, 1, 0, 2}};
  const int cutters[] = {-1, 1, -1};  // round 2's fastest cuts
  std::vector<std::vector<int>> places;
  std::string expected;
  for (size_t event = 0; event < pace.size(); event++) {
    SCOPED_TRACE("round " + std::to_string(event + 1));
    ASSERT_TRUE(start_next_event(&list, 0, tracks));
    ASSERT_EQ(race->configured_laps, list.series[0].events[event].laps);
    race->seams.final_results = results_seam;
    // Before anyone has passed a gate the board shows the lineup, unofficially.
    ResultsEntry board[MAX_BIKES];
    bool final = true;
    ASSERT_EQ(race_results_board(*race, board, &final), 5);
    EXPECT_FALSE(final);
    EXPECT_EQ(board[0].slot, 0);
    ride(pace[event], cutters[event]);
    ASSERT_TRUE(race->results_final);

    const auto from_file = read_results_file(data.read("results.txt"));
    ASSERT_EQ(from_file.size(), 5u);
    for (const auto& [number, penalised] : from_file)
      EXPECT_EQ(penalised, cutters[event] >= 0 && number == race->riders[cutters[event]].number) << number;
    places.push_back(places_from(from_file, riders));
    expected += standings_file_line(places.back());
    EXPECT_EQ(data.read("series/robots.series_standings"), expected);

    // The board shows the final results, the cutter's penalty among them.
    ASSERT_EQ(race_results_board(*race, board, &final), 5);
    EXPECT_TRUE(final);
    EXPECT_EQ(std::string(board[0].number), from_file[0].first);
    for (int i = 0; i < 5; i++) EXPECT_EQ(board[i].penalty_ticks > 0, board[i].slot == cutters[event]) << i;
  }

  std::vector<long long> totals;
  const std::vector<int> expected_ranking = hand_ranking(places, POINTS, riders, &totals);
  SeriesPage page = series_page(list.series[0]);
  EXPECT_TRUE(page.finished);
  EXPECT_EQ(page.title, "Robot Cup Final Standings");
  std::vector<int> shown;
  for (const SeriesStandingsRow& row : page.standings) {
    shown.push_back(row.number);
    EXPECT_EQ(row.points, totals[(size_t)row.rider]);
  }
  EXPECT_EQ(shown, expected_ranking);
  EXPECT_GT(totals[(size_t)(std::find(riders.begin(), riders.end(), expected_ranking[0]) - riders.begin())], 0);

  // The menus see the same through the series hooks.
  g_series = list;
  install_results_hooks();
  ASSERT_EQ(g_game_hooks.series.count(), 1);
  SeriesView view;
  ASSERT_TRUE(g_game_hooks.series.view(0, &view));
  EXPECT_EQ(view.name, "Robot Cup");
  EXPECT_EQ(view.next_event, "");
  ASSERT_EQ(view.standings.size(), riders.size());
  EXPECT_EQ(view.standings[0], standings_line(page.standings[0]));
  EXPECT_FALSE(g_game_hooks.series.view(1, &view));
  free_series(&g_series);
  g_game_hooks = saved;
}

}  // namespace
