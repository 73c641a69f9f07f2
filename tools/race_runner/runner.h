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
#include "robot/race_robots.h"
#include "tools/ride/ride.h"
#include "tools/ruts/rut_ride.h"

struct Terrain;

struct RunnerOptions {
  std::string track;              // directory in the data set
  std::string course;             // or an in-code course ("proving_ground", ...)
  std::vector<int> lineup;        // codes per slot (LINEUP_*); empty: a player alone
  bool time_trial = false;        // a time trial instead of the lineup
  RideScript script;              // the player's rider
  bool follow_robots = false;
  bool learn = false;             // robot line learning ("--learn")
  int ticks = 0;                  // steps to run; 0: until every bike has finished
  int max_ticks = 30 * 60 * 128;  // the limit when running to the finish
  int laps = 2;
  double minutes = 0;
  int skill = 0;
  int trace_every = 0;            // > 0: the player's position and speed every so many steps
  int trace_slot = -1;            // the slot traced instead of the player's (-1: the player)
  float erosion = 0;              // the "--erode" strength, 0..100: wheels dig ruts
  bool record_ground = false;     // keep the heights from before and where the wheels ran
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
  PathFollower player_follower;
  PathFollower robot_followers[MAX_BIKES];
  RaceRobots robots;
  BikeSetup player_setup;
  ControlOptions player_options{true, false};
  int start_tick = 0;
  std::vector<TimingEvent> events;
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
// One step: the player's and the stand-in robots' controls, the race step,
// the timing log.
void step_runner(Runner* runner);
// Steps until the options' end; each timing event is written to `log` as it
// happens (null: not written).
void run_runner(Runner* runner, FILE* log);
bool runner_done(const Runner& runner);
void end_runner(Runner* runner);
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
};
bool bench_race_step(int count, double seconds, RaceBenchFigures* out, char* error, size_t error_size);
