// Where the state history meets the bike simulation: the record of a live
// bike, posing a history-driven bike from its history, rider visibility,
// the every-fourth-tick sampling of the simulated bikes and the demo
// writer's tick over the race's bike slots.
#pragma once

#include "core/types.h"
#include "replay/demo.h"
#include "replay/history.h"
#include "replay/state_record.h"

struct Bike;
struct BikeModel;
struct Terrain;

// The quantisation ranges of the game's loaded track; the race sets them
// right after each track load (record_scale_for_terrain).
extern RecordScale g_record_scale;
// Heights run from the terrain's lowest point to its highest plus this much:
// a bike stands and jumps above the ground, and on a flat track the ground
// alone would leave no height to record at all.
constexpr double RECORD_HEIGHT_HEADROOM = 64.0;  // ft
RecordScale record_scale_for_terrain(const Terrain& terrain);
// The client's integrity value for the records it sends; null until the
// network client forms one.
extern const IntegrityValue* g_record_integrity;

RecordModel record_model_for(const BikeModel& model);

BikeState read_bike_state(const Bike& bike);
StateRecord encode_bike(const Bike& bike, const RecordScale& scale, const IntegrityValue* integrity);

// Poses all seven bodies from the chosen record, with velocities from the
// bracketing records over their span, and takes over the engine speed,
// gear, throttle, brakes and crash timer; the rider is detached while the
// record shows a crash. While crashed, the bodies follow the record softly
// (their velocities close the gap over a few ticks) instead of jumping with
// every coarse record, unless they are too far off to blend.
void pose_bike_from_choice(Bike* bike, const ReplayChoice& choice, const RecordScale& scale);

// Replays one history-driven bike at a tick; false (the bike is left alone)
// when its history is empty.
bool replay_bike(Bike* bike, const StateHistory& history, int tick, int version, const RecordScale& scale);
// Every slot in mode 1 with a bike.
void replay_bikes(Bike* const bikes[MAX_BIKES], const int mode[MAX_BIKES], const StateHistory histories[MAX_BIKES],
                  int tick, int version, const RecordScale& scale);

// False for a history-driven bike with no history entry within a second of
// the tick: it is not drawn.
bool rider_visible(int mode, const StateHistory& history, int tick);

// Samples the simulated bikes (modes 0 and 2) into their histories.
void sample_bikes(StateHistory histories[MAX_BIKES], Bike* const bikes[MAX_BIKES], const int mode[MAX_BIKES],
                  int tick, bool forced, const RecordScale& scale, const IntegrityValue* integrity);

// The demo writer's step: sampling, then the state chunk on multiples of 16
// ticks (or when forced).
void record_tick(DemoRecorder* recorder, StateHistory histories[MAX_BIKES], Bike* const bikes[MAX_BIKES],
                 const int mode[MAX_BIKES], int tick, bool forced, const RecordScale& scale,
                 const IntegrityValue* integrity);
// Forced sampling and chunk, close, and the pending name's rename.
void stop_recording_bikes(DemoRecorder* recorder, StateHistory histories[MAX_BIKES], Bike* const bikes[MAX_BIKES],
                          const int mode[MAX_BIKES], int tick, const RecordScale& scale,
                          const IntegrityValue* integrity);

// The header block of a bike's rider (offline: from the bike itself).
DemoRider demo_rider_for_bike(const Bike& bike, const char* rider_name);
