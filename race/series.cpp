#include "race/series.h"

#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/config.h"
#include "core/datafile.h"
#include "core/discovery.h"
#include "platform/log.h"
#include "race/results.h"

SeriesList g_series;

namespace {

// A standings line longer than this is cut; R + 1 numbers fit many times over.
constexpr size_t STANDINGS_LINE_MAX = 65536;

bool is_space(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

void skip_space(DataStream* s) {
  while (is_space(data_peekc(s))) data_getc(s);
}

// A double-quoted string (up to 1023 characters, no escapes) or one word.
bool read_text(DataStream* s, std::string* out) {
  skip_space(s);
  int c = data_peekc(s);
  if (c < 0) return false;
  out->clear();
  if (c == '"') {
    data_getc(s);
    for (;;) {
      c = data_getc(s);
      if (c < 0 || (c != '"' && out->size() >= (size_t)SERIES_TEXT_MAX)) return false;
      if (c == '"') return true;
      out->push_back((char)c);
    }
  }
  char word[SERIES_TEXT_MAX + 1];
  if (data_scanf(s, "%1023s", word) != 1) return false;
  *out = word;
  return true;
}

bool read_int(DataStream* s, int* value) { return data_scanf(s, "%d", value) == 1; }

bool read_list(DataStream* s, int* table) {
  std::fill(table, table + SERIES_TABLE_SIZE, 0);
  for (int i = 0; i < SERIES_LIST_VALUES; i++)
    if (!read_int(s, &table[i])) return false;
  return true;
}

int skill_of_word(const char* word) {
  if (strcmp(word, "Novice") == 0) return SKILL_NOVICE;
  if (strcmp(word, "Amateur") == 0) return SKILL_AMATEUR;
  return SKILL_EXPERT;
}

int track_index(const TrackList& tracks, const std::string& path) {
  for (size_t i = 0; i < tracks.paths.size(); i++)
    if (tracks.paths[i] == path) return (int)i;
  return -1;
}

bool ends_with_series(const char* name) {
  size_t n = strlen(name);
  return n > 7 && strcasecmp(name + n - 7, ".series") == 0;
}

void clear_event_results(Series* series, SeriesEvent* event) {
  std::fill(std::begin(event->positions), std::end(event->positions), series->rider_count);
  event->ranked = false;
  std::fill(std::begin(event->ranking), std::end(event->ranking), 0);
}

// The integer a race number text stands for ("7", " 07"), or -1 when the
// text is not a whole number.
long number_value(const char* text) {
  if (!text) return -1;
  errno = 0;
  char* end = nullptr;
  long value = strtol(text, &end, 10);
  if (end == text || errno != 0) return -1;
  while (is_space(*end)) end++;
  return *end ? -1 : value;
}

}  // namespace

bool read_series(Series* series, DataStream* s, const TrackList& tracks) {
  Series out;
  out.events_completed = 0;
  if (!read_text(s, &out.name)) return false;
  char skill[SERIES_TEXT_MAX + 1];
  if (data_scanf(s, "%d %1023s", &out.rider_count, skill) != 2) return false;
  if (out.rider_count < 0 || out.rider_count > MAX_SERIES_RIDERS) return false;
  out.skill = skill_of_word(skill);
  std::fill(std::begin(out.riders), std::end(out.riders), 0);
  for (int i = 0; i < out.rider_count; i++)
    if (!read_int(s, &out.riders[i])) return false;
  int event_count = 0;
  if (!read_int(s, &event_count) || event_count < 0) return false;
  // No room is reserved from the count: a file claiming millions of events
  // runs out of values long before it runs out of memory.
  for (int e = 0; e < event_count; e++) {
    SeriesEvent event;
    if (!read_text(s, &event.name) || !read_text(s, &event.track_path)) return false;
    event.track = track_index(tracks, event.track_path);
    if (event.track < 0) return false;
    if (data_scanf(s, "%d %d", &event.minutes, &event.laps) != 2) return false;
    if (!read_list(s, event.points) || !read_list(s, event.lineup)) return false;
    clear_event_results(&out, &event);
    out.events.push_back(event);
  }
  if (data_stream_failed(s)) return false;
  out.file = series->file;
  out.standings = series->standings;
  *series = std::move(out);
  return true;
}

void discover_series(SeriesList* list, const TrackList& tracks, int debug_level) {
  free_series(list);
  const int count = data_file_count();
  for (int i = 0; i < count; i++) {
    const char* file = data_file_name(i);
    if (!ends_with_series(file)) continue;
    const std::string name = std::string("@") + file;
    DataStream* stream = data_open(name.c_str(), "rb");
    if (!stream) continue;
    Series series;
    series.file = file;
    series.standings = name + "_standings";
    const bool ok = read_series(&series, stream, tracks);
    data_close(stream);
    if (!ok) continue;
    load_standings(&series);
    update_series_rankings(&series);
    if (debug_level >= 1) {
      log_printf("series %s (%s)\n", series.file.c_str(), series.name.c_str());
      for (const SeriesEvent& event : series.events)
        log_printf("  event %s (%s)\n", event.track_path.c_str(), event.name.c_str());
    }
    list->series.push_back(std::move(series));
  }
}

void discover_game_series(int debug_level) { discover_series(&g_series, g_tracks, debug_level); }

void free_series(SeriesList* list) {
  list->series.clear();
  list->running_series = -1;
  list->running_event = -1;
  list->running_race = NO_SERIES_RACE;
}

int read_standings(Series* series, DataStream* s) {
  const int r = series->rider_count;
  for (SeriesEvent& event : series->events) clear_event_results(series, &event);
  int completed = 0;
  std::string line;
  bool more = true;
  while (more && completed < (int)series->events.size()) {
    line.clear();
    int c;
    while ((c = data_getc(s)) >= 0 && c != '\n')
      if (line.size() < STANDINGS_LINE_MAX) line.push_back((char)c);
    more = c >= 0;
    if (!more && line.empty()) break;

    int values[MAX_SERIES_RIDERS + 1];
    int found = 0;
    const char* p = line.c_str();
    while (found < r + 1) {
      char* end = nullptr;
      errno = 0;
      long v = strtol(p, &end, 10);
      if (end == p) break;
      // Anything that is not a position of this series reads as not placed.
      values[found++] = (errno != 0 || v < 1 || v > r + 1) ? r : (int)(v - 1);
      p = end;
    }
    if (found < r + 1) continue;
    std::copy(values, values + r + 1, series->events[(size_t)completed].positions);
    completed++;
  }
  series->events_completed = completed;
  return completed;
}

std::string standings_text(const Series& series) {
  std::string text;
  for (int e = 0; e < series.events_completed && e < (int)series.events.size(); e++) {
    for (int i = 0; i <= series.rider_count; i++) {
      text += std::to_string(series.events[(size_t)e].positions[i] + 1);
      text += ' ';
    }
    text += '\n';
  }
  return text;
}

void load_standings(Series* series) {
  DataStream* stream = data_open(series->standings.c_str(), "rb");
  if (!stream) {
    read_standings(series, nullptr);
    return;
  }
  read_standings(series, stream);
  data_close(stream);
}

bool write_standings(const Series& series) {
  const char* home = home_directory();
  if (!home || series.standings.size() < 2 || series.standings[0] != '@') return false;
  const std::string path = std::string(home) + series.standings.substr(1);
  const std::string temporary = path + ".new";
  const std::string text = standings_text(series);
  DataStream* stream = data_open(temporary.c_str(), "wb");
  if (!stream) {
    log_printf("Can't write '%s'\n", series.standings.c_str() + 1);
    return false;
  }
  bool written = data_write(stream, text.data(), text.size()) == text.size();
  written = data_flush(stream) == 0 && written;
  data_close(stream);
  if (!written || !data_rename(temporary.c_str(), path.c_str())) {
    remove(temporary.c_str());
    log_printf("Can't write '%s'\n", series.standings.c_str() + 1);
    return false;
  }
  return true;
}

long long series_points(const Series& series, int rider, int through) {
  long long total = 0;
  if (rider < 0 || rider >= series.rider_count) return 0;
  for (int e = 0; e <= through && e < (int)series.events.size(); e++) {
    const SeriesEvent& event = series.events[(size_t)e];
    const int position = event.positions[rider];
    // Not placed is position R, which may well be inside the points table;
    // it must not score that place's points.
    if (position >= 0 && position < series.rider_count && position < SERIES_TABLE_SIZE)
      total += event.points[position];
  }
  return total;
}

std::vector<int> series_ranking(const Series& series, int through) {
  const int r = series.rider_count;
  std::vector<long long> totals((size_t)r);
  for (int i = 0; i < r; i++) totals[(size_t)i] = series_points(series, i, through);
  const int* positions = through >= 0 && through < (int)series.events.size()
                             ? series.events[(size_t)through].positions
                             : nullptr;
  std::vector<int> order((size_t)r);
  for (int i = 0; i < r; i++) order[(size_t)i] = i;
  std::sort(order.begin(), order.end(), [&](int a, int b) {
    if (totals[(size_t)a] != totals[(size_t)b]) return totals[(size_t)a] > totals[(size_t)b];
    if (positions && positions[a] != positions[b]) return positions[a] < positions[b];
    return a < b;
  });
  return order;
}

void update_series_rankings(Series* series) {
  for (int e = 0; e < (int)series->events.size(); e++) {
    SeriesEvent& event = series->events[(size_t)e];
    event.ranked = e < series->events_completed && event.lineup[0] != 0;
    if (!event.ranked) continue;
    std::vector<int> order = series_ranking(*series, e);
    std::copy(order.begin(), order.end(), event.ranking);
  }
}

std::vector<int> current_ranking(const Series& series) {
  const int last = std::min(series.events_completed, (int)series.events.size()) - 1;
  if (last >= 0 && series.events[(size_t)last].ranked)
    return std::vector<int>(series.events[(size_t)last].ranking, series.events[(size_t)last].ranking + series.rider_count);
  return series_ranking(series, last);
}

int series_rider_of_number(const Series& series, const char* number) {
  const long value = number_value(number);
  if (value < 0) return -1;
  for (int i = 0; i < series.rider_count; i++)
    if (series.riders[i] == value) return i;
  return -1;
}

void start_series_race(SeriesList* list, int series, int event, unsigned race_id) {
  list->running_series = series;
  list->running_event = event;
  list->running_race = race_id;
}

bool record_series_result(SeriesList* list, const RaceResults& results, unsigned race_id) {
  if (race_id == NO_SERIES_RACE || race_id != list->running_race) return false;
  if (list->running_series < 0 || list->running_series >= (int)list->series.size()) return false;
  Series& series = list->series[(size_t)list->running_series];
  // Only the event that is next can be completed; a series started from an
  // older menu state must not overwrite a result.
  if (list->running_event != series.events_completed || series.events_completed >= (int)series.events.size())
    return false;
  list->running_race = NO_SERIES_RACE;

  SeriesEvent& event = series.events[(size_t)series.events_completed];
  clear_event_results(&series, &event);
  std::vector<bool> placed((size_t)series.rider_count, false);
  int next = 0;
  for (const RaceResultEntry& entry : results.entries) {
    const int rider = series_rider_of_number(series, entry.number.c_str());
    // Two bikes with one number: the first to finish holds the place.
    if (rider < 0 || placed[(size_t)rider] || is_penalised(entry)) continue;
    placed[(size_t)rider] = true;
    event.positions[rider] = next++;
  }
  series.events_completed++;
  update_series_rankings(&series);
  write_standings(series);
  return true;
}
