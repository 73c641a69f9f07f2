// Per-bike timing: the gates a bike has passed and when, the per-tick gate
// step that counts passages through the track's checkpoints, lap state,
// lap times and the reference time of a stretch of gates.
#pragma once

#include <cstdint>
#include <vector>

#include "core/types.h"
#include "track/timing_gates.h"

// Highest overall gate index a bike's timing accepts. Far beyond any race
// (a thousand laps of a thousand gates); it keeps an index from the network
// from reserving gigabytes of pass ticks.
constexpr int MAX_GATE_INDEX = 1 << 20;

// Stored with each bike; everything else (laps, positions, finishing) is
// derived from it.
struct BikeTiming {
  int gates_passed;                 // overall index of the next gate
  std::vector<int32_t> pass_ticks;  // by overall gate index; -1 = not passed (missed)
  bool finished;
};

void reset_bike_timing(BikeTiming* timing);

// The tick at which overall gate `gate` was passed, or -1.
int pass_tick(const BikeTiming& timing, int gate);
// Sets it, growing the array with -1 entries (network updates). Indices
// outside 0 .. MAX_GATE_INDEX are ignored.
void set_pass_tick(BikeTiming* timing, int gate, int tick);
// Sets the count and truncates the pass ticks to it; going back clears
// the finished flag (rewind, network updates). Clamped to 0 .. MAX_GATE_INDEX.
void set_gates_passed(BikeTiming* timing, int count);

struct LapState {
  int completed_laps;
  int gates_into_lap;  // gates passed within the lap being ridden
};
LapState lap_state(const TimingGates& gates, const BikeTiming& timing);

// What the gate step needs to know of the race.
struct RaceProgress {
  bool leader_passed_finishing_gate;  // the running order's leader has passed it
  int lap_total;                      // L
};

struct GateStepResult {
  int gate;            // the overall gate accepted this tick, -1 for none
  bool lap_completed;  // the standings must be updated
  bool finished;       // the bike took the chequered flag this tick
};

// One tick of timing for one bike at its frame position. Untimed tracks
// and finished bikes change nothing.
GateStepResult gate_step(const TimingGates& gates, BikeTiming* timing, Vec3 frame_position, int tick,
                         const RaceProgress& race);

// True when the half-disc of the checkpoint holds (x, z); heights are ignored.
bool checkpoint_contains(const Checkpoint& checkpoint, float x, float z);

// True when the bike has passed the gate that ends a race of `laps` laps.
bool passed_finishing_gate(const TimingGates& gates, const BikeTiming& timing, int laps);

// Ticks taken for lap `lap` (1-based; lap 1 from the gate drop), or -1 when
// a needed pass tick is missing.
int lap_time(const TimingGates& gates, const BikeTiming& timing, int lap, int gate_drop_tick);

// Reference duration in ticks of the stretch from overall gate a (-1: the
// gate drop) to gate b, averaged per bike over every clean passage of it
// and then over the bikes that have one; 7680 (60 s) when none has.
double stretch_reference_time(const TimingGates& gates, const BikeTiming* const* bikes, int bike_count, int a, int b,
                              int gate_drop_tick);
