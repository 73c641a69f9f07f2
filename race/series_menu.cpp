#include "race/series_menu.h"

#include <algorithm>
#include <cstdio>

#include "core/config.h"
#include "core/discovery.h"
#include "core/game_hooks.h"

namespace {

// The codes a local lineup may hold: empty, human and the three robots.
constexpr int MAX_LOCAL_LINEUP_CODE = 4;

std::string cut_format(const char* format, const std::string& text) {
  char buffer[1024];
  snprintf(buffer, sizeof buffer, format, text.c_str());
  return buffer;
}

// The event's track as listed now; the index taken at discovery is checked
// against the path in case the list was rebuilt since.
int event_track(const SeriesEvent& event, const TrackList& tracks) {
  if (event.track >= 0 && event.track < (int)tracks.paths.size() && tracks.paths[(size_t)event.track] == event.track_path)
    return event.track;
  for (size_t i = 0; i < tracks.paths.size(); i++)
    if (tracks.paths[i] == event.track_path) return (int)i;
  return -1;
}

}  // namespace

std::string next_event_label(const Series& series) {
  if (series.events_completed >= (int)series.events.size()) return final_standings_label(series);
  return cut_format("Next Event: %.900s", series.events[(size_t)series.events_completed].name);
}

std::string final_standings_label(const Series& series) { return cut_format("%.900s Final Standings", series.name); }

SeriesPage series_page(const Series& series) {
  SeriesPage page;
  page.event_count = (int)series.events.size();
  page.events_completed = std::min(series.events_completed, page.event_count);
  page.finished = page.events_completed >= page.event_count;
  page.title = page.finished ? final_standings_label(series) : next_event_label(series);
  const std::vector<int> order = current_ranking(series);
  const int last = page.events_completed - 1;
  for (size_t i = 0; i < order.size(); i++) {
    const int rider = order[i];
    SeriesStandingsRow row{};
    row.place = (int)i + 1;
    row.rider = rider;
    row.number = series.riders[rider];
    row.points = series_points(series, rider, last);
    if (last >= 0) {
      const int position = series.events[(size_t)last].positions[rider];
      row.last_position = position < series.rider_count ? position + 1 : 0;
    }
    page.standings.push_back(row);
  }
  return page;
}

std::string standings_line(const SeriesStandingsRow& row) {
  char line[96];
  snprintf(line, sizeof line, "%2d. #%-4d %5lld %s", row.place, row.number, row.points, row.points == 1 ? "point" : "points");
  return line;
}

std::vector<std::string> series_menu_items(const SeriesList& list) {
  std::vector<std::string> items;
  for (const Series& series : list.series) items.push_back(series.name);
  return items;
}

void series_menu_move(SeriesMenu* menu, const SeriesList& list, int step) {
  const int count = (int)list.series.size();
  if (count == 0) {
    menu->selected = 0;
    return;
  }
  menu->selected = ((menu->selected + step) % count + count) % count;
}

bool next_event_reset(const Series& series, const TrackList& tracks, RaceReset* reset, int lineup[MAX_BIKES]) {
  if (series.events_completed < 0 || series.events_completed >= (int)series.events.size()) return false;
  const SeriesEvent& event = series.events[(size_t)series.events_completed];
  const int track = event_track(event, tracks);
  if (track < 0) return false;

  bool anyone = false;
  for (int slot = 0; slot < MAX_BIKES; slot++) {
    const int code = slot < SERIES_TABLE_SIZE ? event.lineup[slot] : 0;
    lineup[slot] = code >= 0 && code <= MAX_LOCAL_LINEUP_CODE ? code : 0;
    anyone = anyone || lineup[slot] != 0;
  }
  if (!anyone) {
    for (int slot = 0; slot < MAX_BIKES; slot++) lineup[slot] = slot < CONFIG_LINEUP_SLOTS ? g_config.slot[slot] : 0;
  }
  reset->track = tracks.paths[(size_t)track].c_str();
  reset->lineup = lineup;
  reset->playback = false;
  reset->minutes = std::max(0, event.minutes);
  reset->laps = std::max(0, event.laps);
  reset->skill = series.skill;
  return true;
}

bool start_next_event(SeriesList* list, int series, const TrackList& tracks) {
  if (series < 0 || series >= (int)list->series.size()) return false;
  if (!g_game_hooks.race.reset || !g_game_hooks.race.state) return false;
  const Series& chosen = list->series[(size_t)series];
  RaceReset reset{};
  int lineup[MAX_BIKES];
  if (!next_event_reset(chosen, tracks, &reset, lineup)) return false;
  g_game_hooks.race.reset(reset);
  RaceState state{};
  g_game_hooks.race.state(&state);
  // A track that failed to load leaves no race for the event.
  if (!state.track_loaded) return false;
  start_series_race(list, series, chosen.events_completed, state.reset_count);
  return true;
}
