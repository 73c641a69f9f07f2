// Points series: the ".series" files found in the data (a name, a skill, the
// riders by race number and a list of events, each a track with its race
// settings and points table), the "_standings" file beside each that keeps
// the finishing positions of every completed event, the points and ranking
// worked out from them, and the series event that the race now running
// belongs to.
//
// A ".series" file, read token by token (a text is a double-quoted string
// of up to 1023 characters or a single word):
//
//   <series name>
//   <rider count R, 0..160> <skill: Novice, Amateur or Expert>
//   <R race numbers>
//   <event count>
//   then per event:
//     <event name> <track directory>
//     <minutes> <laps>          the race length (minutes 0: a lap race)
//     <40 points>               for finishing positions 1 to 40
//     <40 gate codes>           the start lineup, codes of the "slot" settings
//                               (0 empty, 1 human, 2 robot, 3 two-stroke robot,
//                               4 four-stroke robot)
//
// Any value missing, or a track that is not in the track list, and the file
// is not a series. An unknown skill word means Expert.
#pragma once

#include <string>
#include <vector>

struct DataStream;
struct RaceResults;
struct TrackList;

constexpr int MAX_SERIES_RIDERS = 160;
constexpr int SERIES_TABLE_SIZE = 160;       // points and lineup tables
constexpr int SERIES_LIST_VALUES = 40;       // of which the file gives the first 40
constexpr int SERIES_TEXT_MAX = 1023;
constexpr unsigned NO_SERIES_RACE = 0xffffffffu;

struct SeriesEvent {
  std::string name;
  std::string track_path;  // the directory as listed
  int track;               // index into the track list at discovery
  int minutes, laps;
  int points[SERIES_TABLE_SIZE];  // by finishing position, 0-based
  int lineup[SERIES_TABLE_SIZE];  // by gate slot
  // Finishing position of each series rider, 0-based; the rider count means
  // "not placed". One entry beyond the riders is kept (always "not placed")
  // because the standings file carries it.
  int positions[MAX_SERIES_RIDERS + 1];
  // After events that rank (lineup[0] != 0): rider indices, best first.
  bool ranked;
  int ranking[MAX_SERIES_RIDERS];
};

struct Series {
  std::string file;       // the listed name, "series/pro.series"
  std::string name;       // display name
  std::string standings;  // "@" + file + "_standings"
  int skill;              // SKILL_NOVICE, SKILL_AMATEUR or SKILL_EXPERT
  int rider_count;        // R
  int riders[MAX_SERIES_RIDERS];  // race numbers
  std::vector<SeriesEvent> events;
  int events_completed;
};

struct SeriesList {
  std::vector<Series> series;
  // The race a series started: results of that race (and only that race)
  // are recorded as that event's result.
  int running_series = -1;
  int running_event = -1;
  unsigned running_race = NO_SERIES_RACE;
};

extern SeriesList g_series;

// Reads one ".series" file body; false when any value is missing or the
// rider count or a track is not acceptable (nothing reported).
bool read_series(Series* series, DataStream* stream, const TrackList& tracks);

// Every listed name ending in ".series" that reads, with its standings.
// At debug level 1 and up logs "series %s (%s)\n" and "  event %s (%s)\n".
void discover_series(SeriesList* list, const TrackList& tracks, int debug_level);
void free_series(SeriesList* list);
// Start-up's series step: g_series from the name list against g_tracks.
void discover_game_series(int debug_level);

// Standings file body: one line per completed event with R + 1 numbers
// (finishing position + 1, R + 1 for not placed). Lines with fewer numbers
// do not count; no more lines count than there are events. Positions out of
// range read as not placed. Returns the completed events read.
int read_standings(Series* series, DataStream* stream);
std::string standings_text(const Series& series);
// Reads series.standings when it exists (none: no event completed).
void load_standings(Series* series);
// Rewrites series.standings with every completed event through a new file
// renamed over the old one, so a failed write keeps the last standings.
bool write_standings(const Series& series);

// Points of rider `rider` over events 0..through (inclusive); a rider who was
// not placed scores nothing.
long long series_points(const Series& series, int rider, int through);
// Rider indices by points after event `through`, ties to the better
// finishing position in that event, then to the lower rider index.
std::vector<int> series_ranking(const Series& series, int through);
// Fills the ranking of every completed event that ranks.
void update_series_rankings(Series* series);
// The ranking the standings show: after the latest completed event (the
// stored one when that event ranks), the riders in order before the first.
std::vector<int> current_ranking(const Series& series);

// The rider index whose race number is the text's integer value, or -1.
int series_rider_of_number(const Series& series, const char* number);

// Places the series riders from the results in order (a bike penalised for
// cutting is not placed), completes the event, ranks and rewrites the
// standings. Does nothing unless race_id is the race the series started for
// the event that is next. True when an event was recorded.
bool record_series_result(SeriesList* list, const RaceResults& results, unsigned race_id);

// Remembers that race_id runs event `event` of series `series`.
void start_series_race(SeriesList* list, int series, int event, unsigned race_id);
