// "timing_gates", then a few gate steps and the derived lap figures over
// whatever sequence it produced.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_track_common.h"
#include "race/timing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quiet_track_fuzzing();
  TimingGates gates;
  DataStream* s = data_open_memory(data, size);
  read_timing_gates(&gates, s, 0);
  data_close(s);
  if (gates.starting_gates.size() > MAX_STARTING_GATES || gates.checkpoints.size() > MAX_CHECKPOINTS) __builtin_trap();
  if (!gates.timed) return 0;
  for (int e : gates.sequence)
    if (e < 0 || e % NO_SPLIT_MARK >= (int)gates.checkpoints.size()) __builtin_trap();
  BikeTiming bike;
  reset_bike_timing(&bike);
  const RaceProgress race{false, 3};
  // Visit every checkpoint in sequence order twice over, as a rider would.
  int steps = 2 * (gates.first_lap + 3 * gates.normal_lap);
  for (int i = 0; i < steps && !bike.finished; i++) {
    const Checkpoint& c = checkpoint_of_gate(gates, bike.gates_passed);
    gate_step(gates, &bike, c.point, i, race);
    if (bike.gates_passed < 0) __builtin_trap();
  }
  LapState lap = lap_state(gates, bike);
  if (lap.completed_laps < 0) __builtin_trap();
  for (int k = 1; k <= lap.completed_laps + 1; k++) lap_time(gates, bike, k, 0);
  const BikeTiming* order[] = {&bike};
  stretch_reference_time(gates, order, 1, -1, bike.gates_passed - 1, 0);
  return 0;
}
