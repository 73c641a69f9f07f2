#include "ui/results.h"

#include <algorithm>
#include <cstdio>

#include "ui/hud.h"

std::string penalty_line(const ResultsEntry& entry) {
  if (entry.penalty_ticks <= 0 && entry.laps_taken <= 0) return "";
  char text[160];
  int n = snprintf(text, sizeof text, "%3s penalized ", entry.number ? entry.number : "");
  if (entry.laps_taken > 0 && n > 0 && n < (int)sizeof text)
    n += snprintf(text + n, sizeof text - (size_t)n, "%d %s ", entry.laps_taken, entry.laps_taken == 1 ? "lap" : "laps");
  if (n > 0 && n < (int)sizeof text)
    snprintf(text + n, sizeof text - (size_t)n, "%.2f seconds for cutting track",
             std::max(0, entry.penalty_ticks) * TICK_SECONDS);
  return text;
}

ResultsBoard make_results_board(const ResultsEntry* entries, int count, bool final) {
  ResultsBoard board;
  board.title = final ? "Final Results" : "Unofficial Results";
  count = std::clamp(count, 0, MAX_BIKES);
  const ResultsEntry* leader = count > 0 ? &entries[0] : nullptr;
  for (int i = 0; i < count; i++) {
    const ResultsEntry& e = entries[i];
    ResultsRow row;
    row.slot = e.slot;
    row.place = std::to_string(i + 1);
    row.number = e.number ? e.number : "";
    row.name = e.name ? e.name : "";
    row.bike = e.bike ? e.bike : "";
    row.laps = std::to_string(e.laps);
    if (!e.finished) {
      row.time = "Racing";
    } else if (i == 0 || !leader->finished) {
      row.time = format_lap_time(e.total_ticks);
    } else if (e.laps < leader->laps) {
      int down = leader->laps - e.laps;
      row.time = "+" + std::to_string(down) + (down == 1 ? " lap" : " laps");
    } else {
      char gap[32];
      snprintf(gap, sizeof gap, "+%.3f", std::max(0, e.total_ticks - leader->total_ticks) * TICK_SECONDS);
      row.time = gap;
    }
    row.best_lap = e.best_lap > 0 ? format_lap_time(e.best_lap_ticks) + " (" + std::to_string(e.best_lap) + ")" : "";
    board.rows.push_back(row);
    std::string penalty = penalty_line(e);
    if (!penalty.empty()) board.penalties.push_back(penalty);
  }
  return board;
}

ResultsBoard current_results_board() {
  if (!g_game_hooks.race.results) return ResultsBoard{};
  static ResultsEntry entries[MAX_BIKES];
  bool final = false;
  int count = g_game_hooks.race.results(entries, &final);
  if (count <= 0) return ResultsBoard{};
  return make_results_board(entries, count, final);
}
