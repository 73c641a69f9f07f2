#include "race/race_results.h"

#include <algorithm>

#include "core/discovery.h"
#include "core/game_hooks.h"
#include "race/race.h"
#include "race/race_game.h"
#include "race/series.h"
#include "race/series_menu.h"
#include "track/track.h"

namespace {

RaceResults g_kept;  // the latest final results
bool g_kept_valid = false;
RaceResults g_board;  // the running order behind the board's texts

void final_results_seam(void* context, Race* race) { race_final_results(*race, &g_series); }

int board_results(ResultsEntry* entries, bool* final) { return race_results_board(g_race, entries, final); }

int series_count() { return (int)g_series.series.size(); }

bool series_view(int index, SeriesView* out) {
  if (index < 0 || index >= (int)g_series.series.size()) return false;
  const Series& series = g_series.series[(size_t)index];
  const SeriesPage page = series_page(series);
  out->name = series.name;
  out->next_event = page.finished ? "" : series.events[(size_t)page.events_completed].name;
  out->standings.clear();
  if (page.events_completed > 0)
    for (const SeriesStandingsRow& row : page.standings) out->standings.push_back(standings_line(row));
  return true;
}

bool series_start(int index) { return start_next_event(&g_series, index, g_tracks); }

}  // namespace

ResultsInput race_results_input(const Race& race) {
  ResultsInput input;
  input.gates = &race.track->gates;
  input.gate_drop_tick = race.gate_drop_tick;
  input.time_limit_ticks = race.time_limit;
  input.laps = race.configured_laps;
  input.track = race.track->name.c_str();
  input.race_id = race.reset_count;
  for (int slot = 0; slot < MAX_BIKES; slot++) {
    if (race.mode[slot] == RACE_SLOT_EMPTY) continue;
    const RaceRider& rider = race.riders[slot];
    input.bikes.push_back(
        {slot, &race.timing[slot], rider.number.c_str(), rider.model.c_str(), rider.name.c_str()});
  }
  return input;
}

const RaceResults& race_final_results(const Race& race, SeriesList* series) {
  g_kept = final_results(race_results_input(race), series);
  g_kept_valid = true;
  return g_kept;
}

int race_results_board(const Race& race, ResultsEntry* entries, bool* final) {
  const bool use_kept = g_kept_valid && race.results_final && !g_kept.entries.empty() &&
                        g_kept.race_id == race.reset_count;
  if (!use_kept) {
    if (!race.track) return 0;
    g_board = unofficial_results(race_results_input(race));
  }
  const RaceResults& results = use_kept ? g_kept : g_board;
  const int count = std::min((int)results.entries.size(), MAX_BIKES);
  for (int i = 0; i < count; i++) {
    const RaceResultEntry& e = results.entries[(size_t)i];
    ResultsEntry& out = entries[i];
    out.slot = e.slot;
    out.number = e.number.c_str();
    out.name = e.rider.c_str();
    out.bike = e.bike_name.c_str();
    out.laps = e.completed_laps;
    out.total_ticks = std::max(0, e.last_tick - race.gate_drop_tick);
    out.best_lap = e.best_lap;
    out.best_lap_ticks = e.best_lap_ticks;
    out.penalty_ticks = e.penalty_ticks;
    out.laps_taken = e.laps_taken;
    out.finished = e.finished;
  }
  *final = use_kept;
  return count;
}

void install_results_hooks() {
  g_race.seams.final_results = final_results_seam;
  if (!g_game_hooks.race.results) g_game_hooks.race.results = board_results;
  g_game_hooks.series.count = series_count;
  g_game_hooks.series.view = series_view;
  g_game_hooks.series.start_next_event = series_start;
}
