// Headless riders: network clients without a window, each carrying one
// scripted (or idle) bike through the whole client protocol, so a race with
// many players can run on one machine. Every rider keeps its own race clock
// (stretched toward the server's like the game's frame timing), its own view
// of every slot's timing and running order, and counts what it receives:
// states per slot, the worst delay of a state, bytes each way.
#pragma once

#include <string>
#include <vector>

#include "core/discovery.h"
#include "core/frame_timing.h"
#include "net/client.h"
#include "tools/net_riders/scripted_rider.h"
#include "track/track.h"

// What every rider of one process shares: the installed tracks and the one
// track loaded for all of them.
struct RunnerWorld {
  TrackList tracks;
  LoadedTrack track;
  RecordScale scale = {};
  bool loaded = false;
};

void init_runner_world(RunnerWorld* world);
void free_runner_world(RunnerWorld* world);

enum RiderMode : int {
  RIDER_SCRIPTED,  // glides along the timing gates
  RIDER_IDLE,      // waits at its starting gate
};

struct HeadlessRider {
  RunnerWorld* world = nullptr;
  NetClient client;
  int mode = RIDER_SCRIPTED;
  float speed = 45.0f;
  bool quiet = true;  // messages kept, not shown

  // The race as this rider's game would see it.
  int tick = 0;
  RealTimeSteps clock;
  int requests[MAX_BIKES] = {};
  BikeTiming timing[MAX_BIKES];  // other slots from the server, our own from the scripted bike
  ScriptedRider bike;
  bool has_bike = false;
  int races_set_up = 0;
  int race_slot = NO_BIKE;  // the slot of the race set up last

  // What arrived.
  std::vector<std::string> messages;
  long states_received[MAX_BIKES] = {};
  int worst_delay = 0;             // ticks between a state's stamp and its arrival
  // States of other riders that never arrived: a slot's stamps go up by one
  // state interval, so a larger step between two taken stamps is a loss.
  int last_seen_stamp[MAX_BIKES] = {};
  long states_missed = 0;
  long delay_sum = 0, delay_count = 0;
  bool results_seen = false;       // the server's "Results:" line
  std::vector<std::string> results;  // the lines after it
  std::vector<int> final_order;    // this rider's running order when the results came
  bool final_finished = false;     // and whether its own bike had finished
  int final_slot = NO_BIKE;        // and the slot it rode in
};

// Hooks the rider's client to its race and sets its appearance.
void init_headless_rider(HeadlessRider* rider, RunnerWorld* world, int index, const char* name_prefix);
// Once per loop: advances the rider's clock to real time `now` (with the
// connected stretch), running the network service and a race step per tick.
void run_headless_rider(HeadlessRider* rider, double now);
// The running order as this rider sees it: slots with a bike, leader first.
std::vector<int> rider_running_order(const HeadlessRider& rider);
// True when the rider's own bike has finished the race.
bool rider_finished(const HeadlessRider& rider);
