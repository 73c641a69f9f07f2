// A scripted rider: a bike that glides along the track's timing gates at a
// steady speed instead of being simulated, with the gate step counting its
// passages like any bike's. It gives the race server's robots and the race
// runner's headless riders believable states and laps at almost no cost, so
// races with many riders can run on one machine.
#pragma once

#include "race/timing.h"
#include "replay/state_record.h"

struct LoadedTrack;

struct ScriptedRider {
  const LoadedTrack* track = nullptr;
  RecordScale scale = {};
  RecordModel model = {};
  Vec3 position = {};
  float heading = 0.0f;  // radians; the bike travels along (-sin h, 0, -cos h)
  float speed = 40.0f;   // ft/s
  float lateral = 0.0f;  // ft to the side of each gate's centre, so riders do not stack
  BikeTiming timing;
};

// Placed like an offline race places slot `slot` (row behind its starting
// gate), or at the terrain centre without gates. The scale must be the one
// every peer decodes with (taken right after the track load).
void start_scripted_rider(ScriptedRider* rider, const LoadedTrack& track, const RecordScale& scale, int slot,
                          float speed);
// One tick: before the gate drop the bike waits at its gate; after it moves
// toward the next gate's half-disc and the gate step counts the passage.
GateStepResult step_scripted_rider(ScriptedRider* rider, int tick, int gate_drop_tick, const RaceProgress& race);
StateRecord scripted_record(const ScriptedRider& rider);
