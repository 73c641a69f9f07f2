// Cutting penalties: the time a bike gained over a stretch where it skipped
// gates, measured against the field's reference time for that stretch plus a
// second of grace, and the laps it loses when that time exceeds its best lap.
#pragma once

#include "race/timing.h"
#include "track/timing_gates.h"

// Grace added to the reference time of a stretch before a gain counts.
constexpr int CUTTING_GRACE_TICKS = TICKS_PER_SECOND;

struct CuttingPenalty {
  int ticks;         // what is left after the laps taken away; added to the last gate's tick
  int laps_taken;    // whole laps taken away
  int gates_passed;  // the bike's gates passed once those laps are gone
};

// The fastest lap from lap 2 on in ticks, or -1 when the bike has none.
// Lap 1 starts at the gate drop and may follow its own path, so it never
// counts here.
int best_normal_lap(const TimingGates& gates, const BikeTiming& bike);

// Ticks the bike gained on stretches that end a run of missed gates, each
// against the stretch's reference over the field plus the grace. The field
// is every bike in the race (the bike itself included).
double cutting_gain(const TimingGates& gates, const BikeTiming* const* field, int field_count,
                    const BikeTiming& bike, int gate_drop_tick);

// The gain turned into the penalty: while it exceeds the best normal lap and
// the bike has more gates than the first lap, one lap is taken away and the
// best lap is subtracted from it.
CuttingPenalty cutting_penalty(const TimingGates& gates, const BikeTiming* const* field, int field_count,
                               const BikeTiming& bike, int gate_drop_tick);

// The tick of the bike's last passed gate among its first `gates_passed`
// gates; gate_drop_tick when it has passed none of them.
int last_pass_tick(const BikeTiming& bike, int gates_passed, int gate_drop_tick);
