#include "race/penalty.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

// No penalty grows past this; it keeps the rounding to ticks in range
// whatever pass ticks a network peer sent.
constexpr double MAX_PENALTY_TICKS = INT_MAX / 2;

}  // namespace

int best_normal_lap(const TimingGates& gates, const BikeTiming& bike) {
  if (!gates.timed) return -1;
  const int laps = lap_state(gates, bike).completed_laps;
  int best = -1;
  for (int lap = 2; lap <= laps; lap++) {
    // Lap 1's start (the gate drop) is never read for laps from 2 on.
    const int ticks = lap_time(gates, bike, lap, 0);
    if (ticks > 0 && (best < 0 || ticks < best)) best = ticks;
  }
  return best;
}

double cutting_gain(const TimingGates& gates, const BikeTiming* const* field, int field_count,
                    const BikeTiming& bike, int gate_drop_tick) {
  if (!gates.timed) return 0;
  double gain = 0;
  int previous = -1;  // the last passed gate; -1 stands for the gate drop
  for (int gate = 0; gate < bike.gates_passed; gate++) {
    const int tick = pass_tick(bike, gate);
    if (tick < 0) continue;
    if (gate - previous > 1) {
      const int start = previous < 0 ? gate_drop_tick : pass_tick(bike, previous);
      const double taken = std::max(0, tick - start);
      const double allowed =
          stretch_reference_time(gates, field, field_count, previous, gate, gate_drop_tick) + CUTTING_GRACE_TICKS;
      if (taken < allowed) gain += allowed - taken;
    }
    previous = gate;
  }
  return std::min(gain, MAX_PENALTY_TICKS);
}

CuttingPenalty cutting_penalty(const TimingGates& gates, const BikeTiming* const* field, int field_count,
                               const BikeTiming& bike, int gate_drop_tick) {
  CuttingPenalty penalty{0, 0, bike.gates_passed};
  double remaining = cutting_gain(gates, field, field_count, bike, gate_drop_tick);
  if (remaining <= 0) return penalty;
  const int best = best_normal_lap(gates, bike);
  // A best lap of zero ticks could never use the penalty up.
  if (best > 0) {
    while (remaining > best && penalty.gates_passed > gates.first_lap) {
      penalty.gates_passed = std::max(0, penalty.gates_passed - gates.normal_lap);
      penalty.laps_taken++;
      remaining -= best;
    }
  }
  penalty.ticks = (int)std::lround(remaining);
  return penalty;
}

int last_pass_tick(const BikeTiming& bike, int gates_passed, int gate_drop_tick) {
  // After laps are taken away the gate that is now last may be one the bike
  // missed on that lap; the latest passed gate before it stands in.
  for (int gate = std::min(gates_passed, bike.gates_passed) - 1; gate >= 0; gate--) {
    const int tick = pass_tick(bike, gate);
    if (tick >= 0) return tick;
  }
  return gate_drop_tick;
}
