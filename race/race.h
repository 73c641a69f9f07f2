// The race: the 160 bike slots and their riders, the race reset that loads
// the track and lines the riders up on the starting gates, the race step
// that advances every bike by one tick in the fixed order, the gate drop and
// the starting gates, timing and the running order, finishing, the length of
// timed races, and the time-trial attempts.
//
// Order of one race step (slots in increasing order unless said):
//   1. history: the replay's hook records the simulated bikes and poses the
//      history-driven ones;
//   2. the contact step of every bike not driven by recorded data;
//   3. bike-to-bike contacts; the starting gates push bikes until 10 s after
//      the drop;
//   4. the wheel-terrain effects, in an order rotated by the tick, a rate
//      setting's number of times;
//   5. the world step;
//      (online: the false start check of the local player)
//   6. per bike: roost, the controller (robot, local player or recorded
//      data), the force update, the gate step with the robot line recording;
//   then the thrown dirt moves, the gates fall, the tick advances.
//
// The robot riders, the network client, the demo code, the results and the
// engine sound join through RaceSeams; every entry may be null. Until a robot
// controller is installed, robot bikes hold still with zero controls.
//
// The header stays clear of the bike and configuration headers so that the
// game's hook code (which sees the configuration) can include it.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/types.h"
#include "race/timing.h"

struct Bike;
struct LoadedTrack;

// Entries of the control vector (the bike's ControlIndex).
constexpr int RACE_CONTROLS = 9;

// Lineup codes: the "slot" setting's choices, then the online ones.
constexpr int LINEUP_EMPTY = 0;
constexpr int LINEUP_HUMAN = 1;  // the local player; only the first is kept
constexpr int LINEUP_ROBOT = 2;
constexpr int LINEUP_ROBOT_2_STROKE = 3;  // a robot on a 125
constexpr int LINEUP_ROBOT_4_STROKE = 4;
constexpr int LINEUP_REMOTE_PLAYER = 5;   // another player (online)
constexpr int LINEUP_ROBOT_NUMBER = 1000; // + n: robot number n (online)

// Slot modes (the state history's numbering).
constexpr int RACE_SLOT_EMPTY = -1;
constexpr int RACE_SLOT_LOCAL = 0;    // racing under local control
constexpr int RACE_SLOT_HISTORY = 1;  // driven by a replay or remote data
constexpr int RACE_SLOT_ROBOT = 2;

constexpr int OPEN_LAPS = 1000000;  // L and H of a timed race before they are known
constexpr int TIME_TRIAL_START_TICK = 38400;  // 300 s
constexpr int GATE_PUSH_TICKS = 10 * TICKS_PER_SECOND;  // gates push until 10 s after the drop
constexpr int ONLINE_STANDINGS_INTERVAL = 512;
constexpr int FALSE_START_PENALTY_TICKS = 15 * TICKS_PER_SECOND;
constexpr float FALSE_START_DISTANCE_SQUARED = 9.0f;
constexpr float ROW_SPACING = 10.0f;       // between rows behind the gate line
constexpr float ROW_OFFSET = 0.0625f;      // row 0 stands this share of a row behind the line
constexpr float NO_GATE_SPACING = 5.0f;    // bikes at the terrain centre, along x
constexpr float RESTART_RAISE_STEP = 0.25f;

// A rider's bike and looks (the names a demo header carries).
struct RaceRider {
  std::string model;        // bike model name
  std::string rider_skin;   // riding gear
  std::string bike_skin;
  std::string wheel_skin;
  std::string helmet_skin;
  std::string number;       // race number
  std::string name;
  // Bike setup keys and values (the setup block's keys; choices as indices).
  std::vector<std::pair<std::string, double>> setup;
};

// The player's controls as the shell hands them over each step (already
// through the bindings, the dab latch and the clutch lever).
struct RaceControls {
  float steer, front_brake, rear_brake, throttle, dab, back_up, lean;
  float clutch_engagement;
  int shift;
};

// One entry of the running order.
struct RunningEntry {
  int slot;
  int gates_passed;
  int last_tick;  // tick of its last passed gate, -1 before the first
};

// A starting gate's fall: angle 1 closed .. 0 down, angular speed.
struct GateFall {
  float angle;
  float speed;
  bool touched;  // a bike touched it this tick: it stops falling
};

struct Race;

struct RaceRobotSeams {
  void* context;
  // "Remembering lines": save and clear the line store of the track loaded.
  void (*remember_lines)(void* context, const char* track);
  // "Analyzing lines": read the chosen skill's lines for the track.
  void (*analyze_lines)(void* context, const char* track, int skill);
  // A robot bike was created in the slot with its personality.
  void (*robot_created)(void* context, int slot, int personality, int skill);
  // Once per tick for every robot bike: its control vector (zeroed before).
  void (*controls)(void* context, const Race& race, int slot, float control[RACE_CONTROLS]);
  // After every gate step of a learning rider; gate is the overall gate
  // passed this tick or -1.
  void (*record_line)(void* context, const Race& race, int slot, int gate);
};

struct RaceNetSeams {
  void* context;
  bool (*online)(void* context);
  const char* (*track)(void* context);        // the server's track
  int (*gate_drop_tick)(void* context);       // the server's drop tick
  bool (*server_race_running)(void* context); // false in warmup: no bike contacts
  // Codes 5 and 1000 + n: the rider the server's tables give the slot, then
  // driven by the states the server relays. False leaves a 5 empty and
  // puts robot personality n, ridden locally, in a 1000 + n.
  bool (*slot_rider)(void* context, int slot, int code, RaceRider* rider);
  // Racing locally: forget the per-slot online data and the server race.
  void (*clear_online_data)(void* context);
  // True once after the console asked for the track to be read afresh
  // ("forcereload"): the next reset reloads it even when it is the one
  // loaded.
  bool (*take_forced_reload)(void* context);
  // A rider whose states come from the server and who has sent nothing for
  // a second or more: the results need not wait for it.
  bool (*slot_inactive)(void* context, int slot);
};

struct RaceReplaySeams {
  void* context;
  // Step 1 of every race step.
  void (*history_step)(void* context, Race* race);
  // Reset and time-trial restart: close any open demo.
  void (*close_demos)(void* context);
  // The playing demo's track, when a demo plays.
  const char* (*playback_track)(void* context);
  // Playback: creates the demo's riders (race_add_bike, history-driven).
  void (*create_playback_riders)(void* context, Race* race);
  // After a reset: recording, the practice ghost.
  void (*race_started)(void* context, Race* race);
  // Time trial and practice: the rider completed a lap (lap_ticks -1 for
  // the untimed first lap from the gates). faster is set when it beats
  // the session's best; the demo code keeps "fastlap.dvdemo" by its own
  // rule, reloads the ghost and recreates the other bikes.
  void (*time_trial_lap)(void* context, Race* race, int lap_ticks, bool faster);
  void (*attempt_restarted)(void* context, Race* race);
};

struct RaceSeams {
  RaceRobotSeams robot;
  RaceNetSeams net;
  RaceReplaySeams replay;
  void* context;
  // Every bike finished: the results become final.
  void (*final_results)(void* context, Race* race);
  // Engine sound states: made with the bike, advanced every step after its
  // force update, freed with it.
  void (*bike_created)(void* context, int slot, const Bike& bike);
  void (*bike_stepped)(void* context, int slot, const Bike& bike);
  void (*bike_freed)(void* context, int slot);
  // The wheel-terrain effects of one bike (the terrain deformation).
  void (*wheel_terrain)(void* context, Bike* bike, LoadedTrack* track);
};

// What a race reset is given.
struct RaceSetup {
  const char* track;   // track directory; null or "": the one loaded
  const int* lineup;   // 160 codes; null: time trial
  bool playback;       // a demo plays
  bool record;         // record a demo
  int time_limit;      // ticks, 0 = none
  int laps;            // L0
  int skill;           // 0 novice, 1 amateur, 2 expert
  bool practice = false;  // practice: each lap of the player is a lap demo (like a time trial's)
};

struct Race {
  // Set once by the owner.
  LoadedTrack* track = nullptr;   // the loaded track the race runs on
  int ground_method = 3;          // for track loads
  bool shader_path = false;
  int debug_level = 0;
  bool learn = false;             // robot line learning from human riders
  int wheel_terrain_rate = 100;   // hundredths: 100 = once per tick
  RaceRider player;               // the local player's bike and looks
  RaceSeams seams = {};

  // The race.
  int tick = 0;
  int gate_drop_tick = 0;  // D
  int time_limit = 0;      // T, ticks
  int configured_laps = 0; // L0
  int lap_total = 0;       // L
  int half_way_lap = 0;    // H
  int skill = 0;
  bool playback = false, record = false;
  bool time_trial = false;
  bool practice = false;  // the player's laps call time_trial_lap as a time trial's do
  bool results_final = false;
  unsigned reset_count = 0;
  uint32_t random = 1;
  int lineup[MAX_BIKES] = {};
  int personality_order[80] = {};
  int personality_cursor = 0;

  // The slots.
  Bike* bikes[MAX_BIKES] = {};
  int mode[MAX_BIKES] = {};
  int personality[MAX_BIKES] = {};  // -1 for none
  RaceRider riders[MAX_BIKES];
  BikeTiming timing[MAX_BIKES];
  int local_slot = NO_BIKE;

  RunningEntry running_order[MAX_BIKES] = {};
  int running_count = 0;

  std::vector<GateFall> gates;

  // Online false start.
  Vec3 start_position = {0, 0, 0};
  int penalty_hold = 0;

  // Time trial.
  int best_lap = -1;          // shown on the HUD; cleared by a restart
  int session_best_lap = -1;  // kept across restarts
  int last_lap = -1;
};

// Empty slots and defaults; the owner sets track and the settings after.
void init_race(Race* race);

// The race reset in its phases; false when the track does not load (the
// race then has no bikes).
bool reset_race(Race* race, const RaceSetup& setup);
// One race step.
void race_step(Race* race);
// Frees every bike (shutdown).
void free_race(Race* race);

// The running order as it stands now, without touching the race.
int current_running_order(const Race& race, RunningEntry out[MAX_BIKES]);
// Rebuilds the running order and the length of a timed race; makes the
// results final once every bike has finished.
void update_standings(Race* race);
// Time trial: the back-up control aborts the attempt.
void restart_attempt(Race* race);

bool race_bike_finished(const Race& race, int slot);
// The leader's completed laps reached the race's lap total.
bool race_over(const Race& race);
// Completed laps and gates into the lap of a slot.
LapState race_lap_state(const Race& race, int slot);
// Ticks of a bike's lap (1-based; lap 1 from the drop), -1 when unknown.
int race_lap_time(const Race& race, int slot, int lap);
// Fastest lap from lap 2 on, -1 when none.
int race_best_lap(const Race& race, int slot, int* lap_number);

// Creates a bike in the slot (deleting what was there) with the rider's
// model and looks, placed at its place in the lineup; for the demo code's
// history-driven riders and ghosts, too. False when the slot is out of range.
bool race_add_bike(Race* race, int slot, int mode, const RaceRider& rider);
void race_remove_bike(Race* race, int slot);

// The local player's controls for the coming step.
void set_player_controls(Race* race, const RaceControls& controls);

// The rigid-body world (created once, freed at shutdown), and the editor's
// settling of a bike: moved up or down, and whether it reaches into the ground.
void race_create_world();
void race_free_world();
void race_move_bike(Race* race, int slot, float dy);
bool race_bike_collides(const Race& race, int slot);

// What the shell and the views read of a bike. The rotation is the frame's,
// row-major, body to world.
struct RaceBikeInfo {
  Vec3 position;
  float rotation[9];
  Vec3 velocity;
  float clutch_engagement;
  int checkpoint;  // checkpoint of the last gate passed, -1 before the first
  const char* status_line;
};
bool race_bike_info(const Race& race, int slot, RaceBikeInfo* out);

// --- rules, for the reset and for tests ----------------------------------------------

// The race's random numbers: a 32-bit linear congruential generator.
uint32_t next_race_random(uint32_t* state);
// D = trunc(128 x (2u + 13)), u uniform in [0, 1): 13 to 15 s.
int random_gate_drop_tick(uint32_t* state);
// The personality order for a reset: for j = 79 .. 1 swap entry j with
// entry (r / 65536) mod j, r the generator's next number (the reset seeds it
// with the tick).
void shuffle_personalities(int order[80], uint32_t* random);
// The lineup as the reset takes it: only the first human stays; with no
// demo playing an empty lineup gets a robot in slot 0.
void normalise_lineup(const int* in, bool playback, int out[MAX_BIKES]);
// Where slot P stands: at gate P mod G in row P div G, (row + 1/16) x 10
// behind the gate line along its heading; without gates at the terrain
// centre, 5 apart along x. The height is the ground's there.
struct StartPlace {
  Vec3 position;
  float heading;
};
StartPlace starting_place(const LoadedTrack& track, int slot);
// L and H for a time limit and lap count.
void set_race_length(Race* race, int time_limit, int laps);
// The time-limit rule of the standings update.
void update_race_length(Race* race);
