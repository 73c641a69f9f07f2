#include <gtest/gtest.h>

#include <string>

#include "core/config.h"
#include "core/game_hooks.h"
#include "race/series_menu.h"
#include "tests/race/series_test_util.h"

namespace {

Series cup() {
  Series s;
  std::string text = series_text("\"Summer Cup\"", "Amateur", {7, 12, 3},
                                 {{"Opener", "tracks/b", 0, 3, cup_points(), {1, 2, 5, 1002, 4, -1}},
                                  {"Final", "tracks/a", 12, 2, {50, 40, 30}, {}}});
  EXPECT_TRUE(parse_series(text, &s));
  return s;
}

TEST(SeriesMenu, LabelsAndThePage) {
  Series s = cup();
  EXPECT_EQ(next_event_label(s), "Next Event: Opener");
  SeriesPage page = series_page(s);
  EXPECT_EQ(page.title, "Next Event: Opener");
  EXPECT_FALSE(page.finished);
  ASSERT_EQ(page.standings.size(), 3u);
  EXPECT_EQ(page.standings[2].number, 3);
  EXPECT_EQ(page.standings[2].points, 0);

  // Opener: 12 first, 3 second, 7 not placed. Final: 7, 3, 12.
  s.events[0].positions[0] = 3;
  s.events[0].positions[1] = 0;
  s.events[0].positions[2] = 1;
  s.events[1].positions[0] = 0;
  s.events[1].positions[1] = 2;
  s.events[1].positions[2] = 1;
  s.events_completed = 1;
  update_series_rankings(&s);
  page = series_page(s);
  EXPECT_EQ(page.title, "Next Event: Final");
  EXPECT_EQ(page.standings[0].number, 12);
  EXPECT_EQ(page.standings[0].points, 25);
  EXPECT_EQ(page.standings[0].last_position, 1);
  EXPECT_EQ(page.standings[2].number, 7);
  EXPECT_EQ(page.standings[2].last_position, 0);
  EXPECT_EQ(standings_line(page.standings[0]), " 1. #12      25 points");

  s.events_completed = 2;
  update_series_rankings(&s);
  page = series_page(s);
  EXPECT_TRUE(page.finished);
  EXPECT_EQ(page.title, "Summer Cup Final Standings");
  // 12: 25 + 30, 3: 20 + 40, 7: 0 + 50. The final's lineup is empty, so
  // it stores no ranking and the page orders by the points after it.
  EXPECT_EQ(page.standings[0].number, 3);
  EXPECT_EQ(page.standings[0].points, 60);
  EXPECT_EQ(page.standings[1].number, 12);
  EXPECT_EQ(page.standings[2].number, 7);

  // Names are cut to 900 characters.
  s.name = std::string(1000, 'x');
  EXPECT_EQ(final_standings_label(s), std::string(900, 'x') + " Final Standings");
  s.events_completed = 0;
  s.events[0].name = std::string(950, 'y');
  EXPECT_EQ(next_event_label(s).size(), 12u + 900u);
}

TEST(SeriesMenu, ChoosingASeries) {
  SeriesList list;
  SeriesMenu menu;
  series_menu_move(&menu, list, 1);
  EXPECT_EQ(menu.selected, 0);
  list.series = {cup(), cup(), cup()};
  list.series[1].name = "Winter Cup";
  EXPECT_EQ(series_menu_items(list), (std::vector<std::string>{"Summer Cup", "Winter Cup", "Summer Cup"}));
  series_menu_move(&menu, list, -1);
  EXPECT_EQ(menu.selected, 2);
  series_menu_move(&menu, list, 2);
  EXPECT_EQ(menu.selected, 1);
}

TEST(SeriesMenu, TheNextEventsRaceSettings) {
  Series s = cup();
  TrackList tracks = two_tracks();
  RaceReset reset{};
  int lineup[MAX_BIKES];
  ASSERT_TRUE(next_event_reset(s, tracks, &reset, lineup));
  EXPECT_STREQ(reset.track, "tracks/b");
  EXPECT_EQ(reset.laps, 3);
  EXPECT_EQ(reset.minutes, 0);
  EXPECT_EQ(reset.skill, SKILL_AMATEUR);
  EXPECT_FALSE(reset.playback);
  // Only the codes of a local race stay.
  EXPECT_EQ(std::vector<int>(lineup, lineup + 7), (std::vector<int>{1, 2, 0, 0, 4, 0, 0}));
  EXPECT_EQ(lineup[MAX_BIKES - 1], 0);

  // The track list was rebuilt since discovery: the path still finds it.
  tracks.paths = {"tracks/0", "tracks/a", "tracks/b"};
  ASSERT_TRUE(next_event_reset(s, tracks, &reset, lineup));
  EXPECT_STREQ(reset.track, "tracks/b");
  tracks.paths = {"tracks/a"};
  EXPECT_FALSE(next_event_reset(s, tracks, &reset, lineup));

  // An event without a lineup takes the configured one.
  tracks = two_tracks();
  reset_config();
  g_config.slot[0] = 1;
  g_config.slot[39] = 3;
  s.events_completed = 1;
  ASSERT_TRUE(next_event_reset(s, tracks, &reset, lineup));
  EXPECT_EQ(reset.minutes, 12);
  EXPECT_EQ(lineup[0], 1);
  EXPECT_EQ(lineup[39], 3);
  EXPECT_EQ(lineup[40], 0);
  s.events_completed = 2;
  EXPECT_FALSE(next_event_reset(s, tracks, &reset, lineup));
  reset_config();
}

// A race flow that only counts resets.
unsigned g_resets;
std::string g_reset_track;
bool g_load_fails;
void count_reset(const RaceReset& reset) {
  g_resets++;
  g_reset_track = reset.track ? reset.track : "";
}
void report_state(RaceState* state) {
  *state = RaceState{};
  state->track_loaded = !g_load_fails;
  state->reset_count = g_resets;
}

TEST(SeriesMenu, StartingTheNextEventRemembersItsRace) {
  SeriesList list;
  list.series = {cup()};
  TrackList tracks = two_tracks();
  GameHooks saved = g_game_hooks;
  g_game_hooks = GameHooks{};
  EXPECT_FALSE(start_next_event(&list, 0, tracks));  // no race flow to start

  g_game_hooks.race.reset = count_reset;
  g_game_hooks.race.state = report_state;
  g_resets = 40;
  g_load_fails = false;
  ASSERT_TRUE(start_next_event(&list, 0, tracks));
  EXPECT_EQ(g_reset_track, "tracks/b");
  EXPECT_EQ(list.running_series, 0);
  EXPECT_EQ(list.running_event, 0);
  EXPECT_EQ(list.running_race, 41u);
  EXPECT_FALSE(start_next_event(&list, 1, tracks));

  g_load_fails = true;
  list.running_race = NO_SERIES_RACE;
  EXPECT_FALSE(start_next_event(&list, 0, tracks));
  EXPECT_EQ(list.running_race, NO_SERIES_RACE);
  g_game_hooks = saved;
}

}  // namespace
