// Race results: the order the race finished in, with cutting penalties
// charged once the results are final, "results.txt" in the home directory,
// and the lines the results board shows.
#pragma once

#include <string>
#include <vector>

#include "race/penalty.h"
#include "race/timing.h"
#include "track/timing_gates.h"

struct SeriesList;

// One bike of the race as the results see it.
struct ResultsBike {
  int slot;
  const BikeTiming* timing;
  const char* number;     // race number as the rider set it ("7", "999")
  const char* bike_name;  // the bike model's name
  const char* rider;      // the rider's name, null for none
};

// Everything the results are computed from; the race flow fills it in.
struct ResultsInput {
  const TimingGates* gates;
  std::vector<ResultsBike> bikes;  // the bikes present, in any order
  int gate_drop_tick;              // D
  int time_limit_ticks;            // T, 0 for a lap race
  int laps;                        // the configured lap count
  const char* track;               // the track directory
  unsigned race_id;                // which race this is (the reset count)
};

struct RaceResultEntry {
  int slot;
  int gates_passed;  // laps taken away for cutting already subtracted
  int last_tick;     // tick of the last passed gate, penalty included
  int penalty_ticks;
  int laps_taken;
  bool finished;
  int completed_laps;
  int best_lap;        // number of the fastest lap, 0 for none
  int best_lap_ticks;  // its time, 0 for none
  std::string number, bike_name, rider;
  const BikeTiming* timing;  // the gate record behind the line
};

struct RaceResults {
  std::vector<RaceResultEntry> entries;  // result order
  bool final;                         // penalties are charged
  unsigned race_id;                   // the race they are of
};

// Gates passed descending, then the last tick ascending, then the slot.
void sort_results(std::vector<RaceResultEntry>* entries);

// The running order as results: no penalties, not final.
RaceResults unofficial_results(const ResultsInput& input);
// Charges the cutting penalties and settles the order; final.
RaceResults compute_final_results(const ResultsInput& input);

// Penalised for cutting (time or laps).
bool is_penalised(const RaceResultEntry& entry);

// "Final Results" or "Unofficial Results".
const char* results_board_title(const RaceResults& results);
// "  7 penalized 1 lap 3.00 seconds for cutting track", or "" when the
// bike was not penalised.
std::string penalty_board_line(const RaceResultEntry& entry);

// "results.txt" as it is written, with CR LF line ends; date is the time
// in seconds since 1970.
std::string results_file_text(const RaceResults& results, const ResultsInput& input, long date);
// Writes "@results.txt"; false (logged, nothing else) when it cannot.
bool write_results_file(const RaceResults& results, const ResultsInput& input);

// What the standings update calls once every bike is finished: computes
// the final results, writes "results.txt" and records the result of the
// series event when this race is the one the series started.
RaceResults final_results(const ResultsInput& input, SeriesList* series);
