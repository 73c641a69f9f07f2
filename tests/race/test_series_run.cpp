// A series of three events from the file on disk to the final standings:
// each event is started from the series menu, raced, and its results go
// to "results.txt" and the standings file. The standings after every event
// and the final ranking are checked against what a person would work out
// from the results files alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>

#include "core/config.h"
#include "core/datafile.h"
#include "core/discovery.h"
#include "core/game_hooks.h"
#include "race/results.h"
#include "race/series.h"
#include "race/series_menu.h"
#include "tests/core/data_test_util.h"
#include "tests/race/results_test_util.h"
#include "tests/race/series_test_util.h"

namespace {

constexpr int GATE_DROP = 1792;
const std::vector<int> POINTS{10, 8, 6, 5, 4, 3, 2, 1};
const std::vector<int> SERIES_RIDERS{7, 21, 22, 23, 99};  // 99 never turns up
const char* const ROBOT_NUMBERS[] = {"21", "22", "23", "30"};  // 30 is not in the series

// The race behind the race hooks: the lineup's bikes ride scripted laps in
// the order each event's script gives; in the second event the leader on
// the road cuts the track.
struct ScriptedRace {
  TimingGates gates = lap_gates(3, 4);
  unsigned resets = 0;
  int laps = 0;
  std::string track;
  std::vector<int> slots;
  std::vector<std::string> numbers;
  std::vector<BikeTiming> timing;
};
ScriptedRace g_scripted;

void scripted_reset(const RaceReset& reset) {
  g_scripted.resets++;
  g_scripted.laps = reset.laps;
  g_scripted.track = reset.track;
  g_scripted.slots.clear();
  g_scripted.numbers.clear();
  int robot = 0;
  for (int slot = 0; slot < MAX_BIKES; slot++) {
    if (reset.lineup[slot] == 0) continue;
    g_scripted.slots.push_back(slot);
    g_scripted.numbers.push_back(reset.lineup[slot] == 1 ? g_bike_setup.number : ROBOT_NUMBERS[robot++]);
  }
}

void scripted_state(RaceState* state) {
  *state = RaceState{};
  state->track_loaded = true;
  state->reset_count = g_scripted.resets;
}

// Every bike rides g_scripted.laps laps; the bike at road position k laps in
// 40 + k seconds. The cutter skips gates 4 and 5 and saves 12 s on lap 2.
void ride_event(const std::vector<std::string>& road_order, const std::string& cutter) {
  const int gate_count = g_scripted.gates.first_lap + g_scripted.gates.normal_lap * (g_scripted.laps - 1);
  g_scripted.timing.assign(g_scripted.numbers.size(), BikeTiming{});
  for (size_t b = 0; b < g_scripted.numbers.size(); b++) {
    const int k = (int)(std::find(road_order.begin(), road_order.end(), g_scripted.numbers[b]) - road_order.begin());
    const double lap = 40 + k;
    std::vector<double> seconds;
    for (int g = 0; g < gate_count; g++) {
      // Gates split each lap evenly; the first lap is the same length.
      const int lap_index = g < 3 ? 0 : 1 + (g - 3) / 4;
      const int within = g < 3 ? g + 1 : (g - 3) % 4 + 1;
      const int per_lap = g < 3 ? 3 : 4;
      double t = lap * lap_index + lap * within / per_lap;
      seconds.push_back(t);
    }
    if (g_scripted.numbers[b] == cutter) {
      seconds[4] = seconds[5] = -1;
      for (int g = 6; g < gate_count; g++) seconds[(size_t)g] -= 12;
    }
    g_scripted.timing[b] = ride(seconds, GATE_DROP);
  }
}

RaceResults finish_event(SeriesList* list) {
  ResultsInput input;
  input.gates = &g_scripted.gates;
  input.gate_drop_tick = GATE_DROP;
  input.time_limit_ticks = 0;
  input.laps = g_scripted.laps;
  input.track = g_scripted.track.c_str();
  input.race_id = g_scripted.resets;
  for (size_t b = 0; b < g_scripted.timing.size(); b++)
    input.bikes.push_back({g_scripted.slots[b], &g_scripted.timing[b], g_scripted.numbers[b].c_str(), "yz250f"});
  return final_results(input, list);
}

TEST(SeriesRun, ThreeEventsAgainstTheResultsFiles) {
  ScratchDirectory data, home;
  write_file(data / "tracks/a/terrain.hf", "x");
  write_file(data / "tracks/b/terrain.hf", "x");
  const std::vector<int> lineup{1, 2, 2, 2, 2};
  write_file(data / "series/cup.series",
             series_text("\"Club Cup\"", "Novice", SERIES_RIDERS,
                         {{"\"Round 1\"", "tracks/a", 0, 3, POINTS, lineup},
                          {"\"Round 2\"", "tracks/b", 0, 3, POINTS, lineup},
                          {"\"Round 3\"", "tracks/a", 0, 2, POINTS, lineup}}));
  set_search_directories({home.path(), data.path()});
  reset_config();
  snprintf(g_bike_setup.number, sizeof g_bike_setup.number, "7");
  TrackList tracks;
  discover_tracks(&tracks, 0);
  SeriesList list;
  discover_series(&list, tracks, 0);
  ASSERT_EQ(list.series.size(), 1u);

  GameHooks saved = g_game_hooks;
  g_game_hooks = GameHooks{};
  g_game_hooks.race.reset = scripted_reset;
  g_game_hooks.race.state = scripted_state;

  const std::vector<std::vector<std::string>> road = {
      {"21", "7", "30", "22", "23"},
      {"7", "23", "22", "21", "30"},  // 7 cuts and is not placed
      {"7", "22", "30", "23", "21"},
  };
  std::string expected_standings;
  std::vector<std::vector<int>> places;
  for (size_t event = 0; event < road.size(); event++) {
    SCOPED_TRACE("event " + std::to_string(event + 1));
    EXPECT_EQ(series_page(list.series[0]).title, next_event_label(list.series[0]));
    ASSERT_TRUE(start_next_event(&list, 0, tracks));
    EXPECT_EQ(g_scripted.track, event == 1 ? "tracks/b" : "tracks/a");
    ride_event(road[event], event == 1 ? "7" : "");
    finish_event(&list);

    const auto from_file = read_results_file(read_file(home / "results.txt"));
    ASSERT_EQ(from_file.size(), 5u);
    // Only the cutter's total runs past its last gate's time.
    for (const auto& [number, penalised] : from_file) EXPECT_EQ(penalised, event == 1 && number == "7") << number;
    places.push_back(places_from(from_file, SERIES_RIDERS));
    expected_standings += standings_file_line(places.back());
    EXPECT_EQ(read_file(home / "series/cup.series_standings"), expected_standings);
    EXPECT_EQ(list.series[0].events_completed, (int)event + 1);
  }
  EXPECT_EQ(places[1][0], 6);  // rider 7 not placed in round 2

  // Points by hand, then the ranking with ties to the better place in the
  // last round.
  std::vector<long long> totals;
  const std::vector<int> expected_numbers = hand_ranking(places, POINTS, SERIES_RIDERS, &totals);
  // 21 and 23 are level on 21 points; 23 was ahead of 21 in round 3.
  EXPECT_EQ(expected_numbers, (std::vector<int>{22, 23, 21, 7, 99}));

  SeriesPage page = series_page(list.series[0]);
  EXPECT_TRUE(page.finished);
  EXPECT_EQ(page.title, "Club Cup Final Standings");
  std::vector<int> shown;
  for (const SeriesStandingsRow& row : page.standings) {
    shown.push_back(row.number);
    EXPECT_EQ(row.points, totals[(size_t)row.rider]);
  }
  EXPECT_EQ(shown, expected_numbers);
  EXPECT_FALSE(start_next_event(&list, 0, tracks));

  // The standings survive a restart.
  SeriesList again;
  discover_series(&again, tracks, 0);
  ASSERT_EQ(again.series.size(), 1u);
  EXPECT_EQ(again.series[0].events_completed, 3);
  EXPECT_EQ(current_ranking(again.series[0]), current_ranking(list.series[0]));

  g_game_hooks = saved;
  set_search_directories({});
  reset_config();
}

}  // namespace
