// The results and the points series joined to the race: what the results
// are computed from, the race's final-results seam (penalties,
// "results.txt", the series event), the results board's entries and the
// series section of the hook table.
#pragma once

#include "race/results.h"

struct Race;
struct ResultsEntry;
struct SeriesList;

// The race's bikes, gates, drop tick, length and track as results input.
// The input points into the race: use it before the race changes.
ResultsInput race_results_input(const Race& race);

// Final results of the race: penalties charged, "results.txt" written and
// the series event recorded when the series started this race. The results
// are kept for the board until the next race's are in.
const RaceResults& race_final_results(const Race& race, SeriesList* series);

// The board: the kept final results when they are this race's, otherwise
// the running order as unofficial results. Fills at most MAX_BIKES entries,
// whose texts stay valid until the next call; 0 without bikes.
int race_results_board(const Race& race, ResultsEntry* entries, bool* final);

// Fills g_race's final-results seam, the race hooks' results board entry
// and the series hooks over g_series and g_tracks.
void install_results_hooks();
