// The results board: the finishing order of the race as the race reports it
// ("Unofficial Results" until every bike is in, then "Final Results"), as
// rows of columns and the cutting-penalty lines. Drawn by gl_hud.cpp.
#pragma once

#include <string>
#include <vector>

#include "core/game_hooks.h"

struct ResultsRow {
  int slot = NO_BIKE;
  std::string place, number, name, bike, laps, time, best_lap;
};

struct ResultsBoard {
  std::string title;  // "Unofficial Results" or "Final Results"
  std::vector<ResultsRow> rows;
  std::vector<std::string> penalties;  // " 12 penalized 1 lap 3.25 seconds for cutting track"
};

// The board for the entries in result order.
ResultsBoard make_results_board(const ResultsEntry* entries, int count, bool final);
// From the race's hook; empty when there are no results.
ResultsBoard current_results_board();
// The penalty line of one entry, "" when it was not penalised.
std::string penalty_line(const ResultsEntry& entry);
