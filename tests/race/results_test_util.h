// Helpers of the results and series tests: timing data built in code and
// rides given as pass ticks in seconds after the gate drop.
#pragma once

#include <cmath>
#include <vector>

#include "race/timing.h"
#include "track/timing_gates.h"

// A timed track whose first lap has `first` gates and whose normal lap has
// `normal`, each gate its own checkpoint.
inline TimingGates lap_gates(int first, int normal) {
  TimingGates t;
  clear_timing_gates(&t);
  t.checkpoints.resize((size_t)(first + normal), Checkpoint{});
  for (int i = 0; i < first + normal; i++) t.sequence.push_back(i);
  t.first_lap = t.first_lap_splits = first;
  t.normal_lap = t.normal_lap_splits = normal;
  t.timed = true;
  return t;
}

// Pass ticks from seconds after the gate drop; a negative entry is a missed gate.
inline BikeTiming ride(const std::vector<double>& seconds, int gate_drop_tick, bool finished = true) {
  BikeTiming b;
  reset_bike_timing(&b);
  for (double s : seconds)
    b.pass_ticks.push_back(s < 0 ? -1 : gate_drop_tick + (int)std::lround(s * TICKS_PER_SECOND));
  b.gates_passed = (int)seconds.size();
  b.finished = finished;
  return b;
}
