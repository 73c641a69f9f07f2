// The headless race runner: a race on a track of the data set (or on an
// in-code course) with a lineup of scripted players, robots and idle bikes,
// run step after step as fast as the machine allows, with a timing log, the
// running order and lap times at the end, and the race-step benchmark.
//
// The player is driven by a ride script (tools/ride/ride.h): its "at" and
// "ramp" keys run on the race clock from the reset, and "follow SPEED"
// steers along the track's riding line (through the checkpoints in order).
// The script's duration is not used: the race decides when it ends.
//
// Robot slots are ridden by the robot riders (robot/race_robots.h) on the
// lines of the chosen skill read from the data files; with follow_robots
// they chase the riding line instead, which is what the benchmark uses.
// That stand-in is the runner's own, not a robot rider. With learn, every
// bike's passages feed the line store, which the next reset (or the end of
// the run) saves into the home directory.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "race/race.h"
#include "replay/race_replay.h"
#include "robot/race_robots.h"
#include "tools/ride/ride.h"
#include "tools/ruts/rut_ride.h"

struct Terrain;

constexpr int TRACE_ALL = -2;

// Who rides the player's bike: the ride script (with its follower), a
// robot rider of the chosen skill, or nobody (it waits at its gate).
enum PlayerRider : int { PLAYER_SCRIPTED, PLAYER_ROBOT, PLAYER_IDLE };

struct RunnerOptions {
  std::string track;              // directory in the data set
  std::string course;             // or an in-code course ("proving_ground", ...)
  std::vector<int> lineup;        // codes per slot (LINEUP_*); empty: a player alone
  bool time_trial = false;        // a time trial instead of the lineup
  bool practice = false;          // practice: lap demos and the fast lap's ghost, as a time trial
  RideScript script;              // the player's rider
  int player_rider = PLAYER_SCRIPTED;
  bool follow_robots = false;
  bool learn = false;             // robot line learning ("--learn")
  int ticks = 0;                  // steps to run; 0: until every bike has finished
  int max_ticks = 30 * 60 * 128;  // the limit when running to the finish
  int laps = 2;
  double minutes = 0;
  int skill = 0;
  int trace_every = 0;            // > 0: the player's position and speed every so many steps
  int trace_slot = -1;            // the bike traced: -1 the player's, TRACE_ALL every bike
  std::string record_demo;        // record the race and save the demo here at the end
  std::string play_demo;          // play this demo on its own track instead of racing
  float erosion = 0;              // the "--erode" strength, 0..100: wheels dig ruts
  bool record_ground = false;     // keep the heights from before and where the wheels ran
};

// A playback's check against the demo: every state the file holds for a
// mapped rider, at its tick, against the played bike's frame position right
// after it was posed. Crashed states are counted apart: a crashed bike
// follows its records softly.
struct PlaybackCheck {
  int riders = 0;              // header riders mapped to bikes
  int states = 0;              // states compared
  int crashed_states = 0;      // states of crashed bikes, not compared
  int missed_states = 0;       // states whose tick the playback never posed
  int last_tick = -1;          // the newest state's tick
  double largest_error[3] = {0, 0, 0};  // largest frame position difference per axis, ft
  double step[3] = {0, 0, 0};           // the quantisation step per axis, ft
  double largest_turn = 0;              // largest angle between played and recorded frame orientation, rad
  double largest_rider_error = 0;       // largest rider body position difference, ft
  std::string problem;         // why the file could not be checked (empty when it could)
};

struct TimingEvent {
  int tick;
  int slot;
  int gate;        // overall gate index
  int checkpoint;
  int lap;         // the lap completed by this gate, 0 for none
  int lap_ticks;   // its time, -1 when unknown
  bool finished;
};

struct Runner {
  RunnerOptions options;
  Race race;
  bool own_track = false;  // the course was built here, not loaded
  std::vector<Vec3> line;  // the riding line
  bool line_by_gates = false;  // the line runs gate by gate (a track's), not round a course
  // Planned speeds along a track's line (plan_follow_speeds) for the
  // player's follower and for the stand-in robots.
  std::vector<float> player_limits, robot_limits;
  PathFollower player_follower;
  PathFollower robot_followers[MAX_BIKES];
  RaceRobots robots;
  BikeSetup player_setup;
  ControlOptions player_options{true, false};
  int start_tick = 0;
  std::vector<TimingEvent> events;
  RaceReplay replay;
  // Playback: the file's states by rider, tick and record, and the check.
  struct DemoState {
    int rider;
    int tick;
    StateRecord record;
    bool posed;
  };
  std::vector<DemoState> demo_states;
  size_t next_demo_state = 0;
  PlaybackCheck check;
  bool demo_saved = false;
  // With record_ground: the heights at the reset and every wheel contact
  // since, summarised by end_ground_record().
  RutRideResult ground;
};

// Turns "h,r,2,4,0,t,f" (h human, r robot, t two-stroke robot, f
// four-stroke robot, e empty, or the codes themselves) into a lineup.
bool parse_lineup(const char* text, std::vector<int>* lineup, char* error, size_t error_size);

// The riding line of a timed track: a smooth curve from the start through
// the checkpoints of the first `laps` laps in riding order, six points per
// gate (overall gate g's checkpoint is point 6 (g + 1)); empty for an
// untimed track.
std::vector<Vec3> track_riding_line(const TimingGates& gates, Vec3 start, int laps);

// An in-code course as the loaded track: its terrain and, for the proving
// ground, a timed loop of eight checkpoints along its line with a row of ten
// starting gates across the start.
bool build_course_track(LoadedTrack* track, const char* course);

// Creates the world, takes the data set's part shapes, loads the track (or
// builds the course) and resets the race. False with a reason when something is missing.
bool start_runner(Runner* runner, const RunnerOptions& options, char* error, size_t error_size);
// After a race reset: the riding line and the player's follower for a race
// of that many laps (0: a timed race), and a fresh robot on the player's
// bike when a robot rides it. start_runner calls it; a race reset from
// elsewhere (a race server's) needs it again.
void prepare_player(Runner* runner, int laps);
// One step: the player's and the stand-in robots' controls, the race step,
// the timing log.
void step_runner(Runner* runner);
// Steps until the options' end; each timing event is written to `log` as it
// happens (null: not written).
void run_runner(Runner* runner, FILE* log);
bool runner_done(const Runner& runner);
// Completes the recording (saved to the record_demo file, demo_saved tells
// whether that worked) and frees the race.
void end_runner(Runner* runner);
// The playback check's figures and verdict; true when every compared state
// lies within one quantisation step on each axis and none was missed.
bool write_playback_check(FILE* out, const PlaybackCheck& check);
// Settles the ruts' re-baking and sums up what the race did to the ground
// (runner.ground); with erosion 0 nothing may have changed.
void end_ground_record(Runner* runner);
// The ground summary: vertices changed, off the wheel tracks, deepest rut,
// highest pile, soil moved.
void write_ground_report(FILE* out, const Runner& runner);

void write_timing_event(FILE* out, const Runner& runner, const TimingEvent& event);
void write_trace(FILE* out, const Runner& runner);
// The running order, every bike's lap times and the crashes of each.
void write_race_report(FILE* out, const Runner& runner);

// The benchmark: ticks per second of the full race step with `count` bikes
// chasing the line of the proving ground, spread along it, and of the bare
// bike simulation (controls, contacts, bike pairs, world step, roost, force
// update) on the same bikes in the same process, the two alternating tick
// by tick so that both time the same riding.
struct RaceBenchFigures {
  int bikes;
  int ticks;
  double race_ticks_per_second;
  double bike_ticks_per_second;
  double race_cpu_ticks_per_second;  // race steps per second of this thread's processor time
};
bool bench_race_step(int count, double seconds, RaceBenchFigures* out, char* error, size_t error_size);
