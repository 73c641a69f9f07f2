#include <gtest/gtest.h>

#include <string>

#include "core/config.h"
#include "core/datafile.h"
#include "core/discovery.h"
#include "race/results.h"
#include "race/series.h"
#include "tests/core/data_test_util.h"
#include "tests/race/series_test_util.h"

namespace {

std::string cup_text(const std::string& skill = "Amateur") {
  return series_text("\"Summer Cup\"", skill, {7, 12, 3, 99},
                     {{"\"Opening Round\"", "tracks/b", 0, 3, cup_points(), {1, 2, 2, 2}},
                      {"Final", "tracks/a", 10, 2, {50, 40, 30, 20, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5},
                       {0, 2, 9, 1}}});
}

// Where each token of a text ends (a quoted string is one token).
std::vector<size_t> token_ends(const std::string& text) {
  std::vector<size_t> ends;
  bool quoted = false;
  for (size_t i = 0; i < text.size(); i++) {
    if (text[i] == '"') quoted = !quoted;
    bool space = !quoted && isspace((unsigned char)text[i]);
    bool next_space = i + 1 == text.size() || (!quoted && isspace((unsigned char)text[i + 1]));
    if (!space && next_space) ends.push_back(i + 1);
  }
  return ends;
}

TEST(SeriesFile, ReadsEveryField) {
  Series s;
  ASSERT_TRUE(parse_series(cup_text(), &s));
  EXPECT_EQ(s.name, "Summer Cup");
  EXPECT_EQ(s.skill, SKILL_AMATEUR);
  ASSERT_EQ(s.rider_count, 4);
  EXPECT_EQ(s.riders[3], 99);
  ASSERT_EQ(s.events.size(), 2u);
  EXPECT_EQ(s.events_completed, 0);
  const SeriesEvent& first = s.events[0];
  EXPECT_EQ(first.name, "Opening Round");
  EXPECT_EQ(first.track_path, "tracks/b");
  EXPECT_EQ(first.track, 1);
  EXPECT_EQ(first.minutes, 0);
  EXPECT_EQ(first.laps, 3);
  EXPECT_EQ(first.points[0], 25);
  EXPECT_EQ(first.points[4], 11);
  EXPECT_EQ(first.lineup[3], 2);
  const SeriesEvent& last = s.events[1];
  EXPECT_EQ(last.name, "Final");
  EXPECT_EQ(last.track, 0);
  EXPECT_EQ(last.minutes, 10);
  EXPECT_EQ(last.points[39], 5);
  EXPECT_EQ(last.points[40], 0);
  EXPECT_EQ(last.points[SERIES_TABLE_SIZE - 1], 0);
  EXPECT_EQ(last.lineup[2], 9);  // kept as written; the race start filters codes
  EXPECT_EQ(last.positions[0], 4);  // nobody placed yet

  // Skill words are the setting's value names; anything else is Expert.
  ASSERT_TRUE(parse_series(cup_text("Novice"), &s));
  EXPECT_EQ(s.skill, SKILL_NOVICE);
  ASSERT_TRUE(parse_series(cup_text("novice"), &s));
  EXPECT_EQ(s.skill, SKILL_EXPERT);
  ASSERT_TRUE(parse_series(cup_text("Legend"), &s));
  EXPECT_EQ(s.skill, SKILL_EXPERT);

  // No riders and no events is still a series.
  ASSERT_TRUE(parse_series(series_text("Empty", "Expert", {}, {}), &s));
  EXPECT_EQ(s.rider_count, 0);
  EXPECT_TRUE(s.events.empty());
}

TEST(SeriesFile, AnyMissingOrUnacceptableValueRejectsTheFile) {
  const std::string good = cup_text();
  const std::vector<size_t> ends = token_ends(good);
  ASSERT_GT(ends.size(), 170u);
  Series s;
  for (size_t k = 0; k + 1 < ends.size(); k++)
    EXPECT_FALSE(parse_series(good.substr(0, ends[k]), &s)) << "cut after token " << k;
  EXPECT_TRUE(parse_series(good.substr(0, ends.back()), &s));

  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string text = good;
    text.replace(text.find(from), from.size(), to);
    return text;
  };
  EXPECT_FALSE(parse_series(replaced("tracks/b", "tracks/c"), &s));   // not a listed track
  EXPECT_FALSE(parse_series(replaced("tracks/b", "Tracks/B"), &s));
  EXPECT_FALSE(parse_series(replaced("0 3\n", "0 three\n"), &s));
  EXPECT_FALSE(parse_series(replaced("\"Opening Round\"", "\"Opening Round"), &s));
  EXPECT_FALSE(parse_series(replaced("\n2\n", "\n-1\n"), &s));  // event count
  EXPECT_FALSE(parse_series(series_text("X", "Expert", std::vector<int>(161, 1), {}), &s));
  EXPECT_FALSE(parse_series("X\n-1 Expert\n0\n", &s));
  EXPECT_TRUE(parse_series(series_text("X", "Expert", std::vector<int>(160, 1), {}), &s));
  // A claimed event count far beyond the file runs out of values.
  EXPECT_FALSE(parse_series(replaced("\n2\n", "\n2000000000\n"), &s));

  // Quoted texts hold up to 1023 characters.
  EXPECT_TRUE(parse_series(series_text("\"" + std::string(1023, 'n') + "\"", "Expert", {}, {}), &s));
  EXPECT_EQ(s.name.size(), 1023u);
  EXPECT_FALSE(parse_series(series_text("\"" + std::string(1024, 'n') + "\"", "Expert", {}, {}), &s));
  // An empty quoted name is a value.
  EXPECT_TRUE(parse_series(series_text("\"\"", "Expert", {}, {}), &s));
}

class Standings : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(parse_series(cup_text(), &series)); }
  int read(const std::string& text) {
    DataStream* s = data_open_memory(text.data(), text.size());
    int n = read_standings(&series, s);
    data_close(s);
    return n;
  }
  Series series;
};

TEST_F(Standings, OnlyCompleteLinesCountAsEvents) {
  // R = 4, so a line needs five numbers.
  EXPECT_EQ(read("2 1 5 3 5 \n"), 1);
  EXPECT_EQ(series.events[0].positions[0], 1);
  EXPECT_EQ(series.events[0].positions[2], 4);  // not placed
  EXPECT_EQ(read("2 1 5 3\n"), 0);
  EXPECT_EQ(read("2 1 5 3\n1 2 3 4 5\n"), 1);
  EXPECT_EQ(series.events[0].positions[0], 0);
  // No final newline; CR LF line ends; more lines than events.
  EXPECT_EQ(read("1 2 3 4 5"), 1);
  EXPECT_EQ(read("1 2 3 4 5\r\n4 3 2 1 5\r\n1 2 3 4 5\r\n"), 2);
  EXPECT_EQ(series.events[1].positions[0], 3);
  // Numbers that are not places of this series read as not placed.
  EXPECT_EQ(read("0 6 -3 99999999999 5\n"), 1);
  for (int i = 0; i < 4; i++) EXPECT_EQ(series.events[0].positions[i], 4) << i;
  EXPECT_EQ(read(""), 0);
  EXPECT_EQ(read("x 2 3 4 5\n"), 0);
}

TEST_F(Standings, WrittenThroughARenameAndReadBack) {
  ScratchDirectory home;
  set_search_directories({home.path()});
  series.file = "series/cup.series";
  series.standings = "@series/cup.series_standings";
  read("2 1 5 3 5\n");
  EXPECT_EQ(standings_text(series), "2 1 5 3 5 \n");
  ASSERT_TRUE(write_standings(series));
  EXPECT_EQ(read_file(home / "series/cup.series_standings"), "2 1 5 3 5 \n");
  EXPECT_FALSE(file_exists(home / "series/cup.series_standings.new"));

  Series again;
  ASSERT_TRUE(parse_series(cup_text(), &again));
  again.standings = series.standings;
  load_standings(&again);
  EXPECT_EQ(again.events_completed, 1);
  EXPECT_EQ(again.events[0].positions[3], 2);

  // A home that takes nothing: the old standings stay as they were.
  set_search_directories({"/dev/null/home"});
  EXPECT_FALSE(write_standings(series));
  set_search_directories({});
  EXPECT_EQ(read_file(home / "series/cup.series_standings"), "2 1 5 3 5 \n");
}

TEST_F(Standings, PointsSkipRidersNotPlaced) {
  // Four riders; the points table pays places 1 to 5, so "not placed"
  // (position 4) lines up with a paying place and must still score nothing.
  read("1 2 3 5 5\n2 1 5 3 5\n");
  EXPECT_EQ(series_points(series, 0, 0), 25);
  EXPECT_EQ(series_points(series, 3, 0), 0);
  EXPECT_EQ(series_points(series, 0, 1), 25 + 40);
  EXPECT_EQ(series_points(series, 1, 1), 20 + 50);
  EXPECT_EQ(series_points(series, 2, 1), 16);
  EXPECT_EQ(series_points(series, 3, 1), 30);
}

TEST_F(Standings, RankingTiesGoToTheBetterPlaceInThatEvent) {
  // After the opener (25, 20, 16, 13 for places 1 to 4) the totals are
  // 25, 13, 20, 16.
  read("1 4 2 3 5\n5 2 3 1 5\n");
  EXPECT_EQ(series_ranking(series, 0), (std::vector<int>{0, 2, 3, 1}));
  // The final pays 50, 27, 20: riders 1 (2nd) and 2 (3rd) are level on 40.
  series.events[1].points[1] = 27;
  series.events[1].points[2] = 20;
  ASSERT_EQ(series_points(series, 1, 1), 40);
  ASSERT_EQ(series_points(series, 2, 1), 40);
  EXPECT_EQ(series_points(series, 0, 1), 25);  // not placed in the final
  EXPECT_EQ(series_ranking(series, 1), (std::vector<int>{3, 1, 2, 0}));
  // The same totals with 2 ahead of 1 in the final: 2 ranks first of the
  // two although it was behind after the opener.
  read("1 4 2 3 5\n5 3 2 1 5\n");
  series.events[1].points[1] = 20;
  series.events[1].points[2] = 27;
  ASSERT_EQ(series_points(series, 1, 1), series_points(series, 2, 1));
  EXPECT_EQ(series_ranking(series, 1), (std::vector<int>{3, 2, 1, 0}));

  // Only events whose lineup has a rider at the first gate store a ranking.
  update_series_rankings(&series);
  EXPECT_TRUE(series.events[0].ranked);
  EXPECT_FALSE(series.events[1].ranked);
  EXPECT_EQ(current_ranking(series), (std::vector<int>{3, 2, 1, 0}));
  series.events_completed = 1;
  EXPECT_EQ(current_ranking(series), (std::vector<int>{0, 2, 3, 1}));
}

RaceResultEntry entry(const char* number, int penalty = 0) {
  RaceResultEntry e{};
  e.number = number;
  e.penalty_ticks = penalty;
  e.finished = true;
  return e;
}

TEST_F(Standings, RecordingAnEventPlacesRidersByNumber) {
  ScratchDirectory home;
  set_search_directories({home.path()});
  series.standings = "@series/cup.series_standings";
  SeriesList list;
  list.series.push_back(series);
  RaceResults results{{entry("5"), entry("12", 384), entry("07"), entry("99"), entry("7"), entry("A")}, true};

  // Results of a race the series did not start are not the event's.
  EXPECT_FALSE(record_series_result(&list, results, 41));
  start_series_race(&list, 0, 0, 42);
  EXPECT_FALSE(record_series_result(&list, results, 41));
  EXPECT_EQ(list.series[0].events_completed, 0);

  ASSERT_TRUE(record_series_result(&list, results, 42));
  const Series& s = list.series[0];
  EXPECT_EQ(s.events_completed, 1);
  // "07" is rider 7 and takes the first series place; "12" cut the track
  // and is not placed; a second "7" does not move rider 7; 3 did not race.
  EXPECT_EQ(s.events[0].positions[0], 0);
  EXPECT_EQ(s.events[0].positions[1], 4);
  EXPECT_EQ(s.events[0].positions[2], 4);
  EXPECT_EQ(s.events[0].positions[3], 1);
  EXPECT_EQ(read_file(home / "series/cup.series_standings"), "1 5 5 2 5 \n");
  EXPECT_TRUE(s.events[0].ranked);
  EXPECT_EQ(current_ranking(s)[0], 0);

  // Once recorded, the same race does not count twice.
  EXPECT_FALSE(record_series_result(&list, results, 42));
  // A series started for an event that is no longer next records nothing.
  start_series_race(&list, 0, 0, 43);
  EXPECT_FALSE(record_series_result(&list, results, 43));
  start_series_race(&list, 0, 1, 44);
  EXPECT_TRUE(record_series_result(&list, results, 44));
  start_series_race(&list, 0, 2, 45);
  EXPECT_FALSE(record_series_result(&list, results, 45));
  EXPECT_EQ(list.series[0].events_completed, 2);
  set_search_directories({});
}

TEST(SeriesDiscovery, ListedSeriesFilesWithTheirStandings) {
  ScratchDirectory data, home;
  write_file(data / "tracks/a/terrain.hf", "x");
  write_file(data / "tracks/b/terrain.hf", "x");
  write_file(data / "series/cup.series", cup_text());
  write_file(data / "series/broken.series", cup_text().substr(0, 40));
  write_file(data / "series/notes.txt", cup_text());
  write_file(home / "series/cup.series_standings", "1 2 3 4 5 \n1 2\n");
  set_search_directories({home.path(), data.path()});
  TrackList tracks;
  discover_tracks(&tracks, 0);
  ASSERT_EQ(tracks.paths.size(), 2u);

  SeriesList list;
  list.running_series = 3;
  discover_series(&list, tracks, 0);
  ASSERT_EQ(list.series.size(), 1u);
  EXPECT_EQ(list.running_series, -1);
  const Series& s = list.series[0];
  EXPECT_EQ(s.file, "series/cup.series");
  EXPECT_EQ(s.standings, "@series/cup.series_standings");
  EXPECT_EQ(s.events_completed, 1);
  EXPECT_EQ(s.events[0].positions[3], 3);
  EXPECT_TRUE(s.events[0].ranked);
  set_search_directories({});
}

}  // namespace
