// A headless ride of robots over a terrain with timing gates, without the
// race layer: bikes on the starting gates, a gate drop, the bike tick, the
// gate step, line recording when learning, and per-bike crash counts. The
// robot tests, the robot benchmark and the trainer ride it.
#pragma once

#include <cstdint>
#include <string>

#include "race/timing.h"
#include "robot/line_store.h"
#include "robot/robot.h"

struct Bike;
struct Terrain;
struct TimingGates;

struct PracticeRide {
  const Terrain* terrain;
  const TimingGates* gates;
  LineStore* store;         // the lines the robots ride
  LineStore* record_store;  // where passages are recorded (the same by default)
  int first_slot;           // bike i stands in grid slot first_slot + i
  int bike_count;
  Bike* bikes[MAX_BIKES];
  BikeTiming timing[MAX_BIKES];
  Robot robots[MAX_BIKES];
  LineRecorder recorders[MAX_BIKES];
  int crashes[MAX_BIKES];
  bool was_down[MAX_BIKES];
  bool learn;      // every bike's passages feed the store
  int laps;        // the race length; bikes finish after the leader
  int tick;
  int drop_tick;   // the robots set off here
};

// Creates the world and `count` robot bikes of the model on the starting
// gates (rows of G behind them, as a race places them; at the terrain's
// centre without gates), each with its style. The terrain, gates and store
// must outlive the ride.
bool start_practice(PracticeRide* ride, const Terrain& terrain, const TimingGates& gates, LineStore* store,
                    int count, const RobotStyle* styles, int laps, bool learn, uint32_t seed,
                    const char* bike_model = "crf450(2016)", int first_slot = 0);
// One tick: robot controls, the bikes' tick, the gate step, recording.
void step_practice(PracticeRide* ride);
// True when every bike has finished.
bool practice_finished(const PracticeRide& ride);
void end_practice(PracticeRide* ride);

// Lap k (1-based) of bike i in ticks, -1 when not ridden or not timed.
int practice_lap_ticks(const PracticeRide& ride, int bike, int lap);
