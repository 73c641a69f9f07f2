// Scripted rides: a small text format of timed control values, a path
// follower, and the ride loop that feeds them to one bike on a course and
// writes per-tick telemetry. Used by the ride harness tool, the scenario
// tests and the benchmark.
//
// Script format, one statement per line, "#" starts a comment:
//
//   bike crf450(2016)          model name (default crf450(2016))
//   course flat                in-code course (see bike/proving_ground.h)
//   start 1024 1900 0          x z heading-in-degrees (default: the course's)
//   duration 12                seconds to ride (default 10)
//   setup auto_shift 0         a bike setup key and its number or choice index
//   at 0 throttle=1 steer=0    from this time on, hold these control values
//   ramp 2 3 steer=0:0.5       from t0 to t1 move a control linearly
//   follow 30 [keys]           steer and throttle along the course's line at
//                              this speed (mph); "keys" steers only with full
//                              left, full right or nothing, like a keyboard;
//                              "at" values other than zero override
//
// Controls are the entries of the control vector: steer, throttle,
// front_brake, rear_brake, shift, clutch, sit, back_up, lean. Values pass
// through the same application as the player's keys, so "steer=1" is the
// Left key and "clutch=1" holds the clutch lever in.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "bike/bike_setup.h"
#include "bike/bike_sim.h"
#include "core/types.h"

struct Bike;
struct Terrain;

struct RideKey {
  double time;     // "at": from; "ramp": start
  double end;      // "ramp": end
  int control;     // ControlIndex
  double value;    // "at": value; "ramp": start value
  double to;       // "ramp": end value
  bool ramp;
};

struct RideScript {
  std::string bike = "crf450(2016)";
  std::string course = "flat";
  bool has_start = false;
  double start_x = 0, start_z = 0, start_heading = 0;  // heading in degrees
  double duration = 10;
  std::vector<std::pair<std::string, double>> setup;
  std::vector<RideKey> keys;
  double follow_speed = 0;  // mph; 0 = no path following
  bool follow_keys = false; // steer like a keyboard rider
  // A line to follow instead of the course's (a track's gates, set by the
  // harness rather than the script).
  std::vector<Vec3> line;
};

// Parses script text. On failure returns false with "line N: reason".
bool parse_ride_script(const char* text, size_t size, RideScript* script, char* error, size_t error_size);

// Control vector the script asks for at time t (before path following).
void script_controls(const RideScript& script, double t, float control[CONTROL_COUNT]);

// A simple pure-pursuit rider along a line of points.
struct PathFollower {
  const Vec3* points = nullptr;
  int count = 0;
  int next = 0;          // index of the point being chased
  double speed = 0;      // target speed, ft/s
  double integral = 0;   // throttle integrator
  bool keys = false;     // steer only -1, 0 or +1
  // Optional speed limits per point (ft/s, see plan_follow_speeds): the
  // follower rides no faster than the limits just ahead allow.
  const float* limits = nullptr;
};
// Speed limits along a line for a follower that wants `top` ft/s: slow
// enough for each bend's radius, and slowing in time (at a braking rate a
// rider can hold on dirt) for the bends and take-offs ahead. With a
// terrain, every ramp whose lip throws the bike is ridden at the speed
// whose flight lands on the ground beyond rather than short of it or flat
// past it (closed: the line is a loop). Without `bends` only the take-offs
// and the braking for them are planned (for a caller with its own rule for
// corners).
std::vector<float> plan_follow_speeds(const Vec3* points, int count, double top, const Terrain* terrain,
                                      bool closed, bool bends = true);
// Writes steer and throttle/brake (control vector terms) for the bike.
void follow_path(PathFollower* follower, const Bike& bike, const ControlOptions& options,
                 float control[CONTROL_COUNT]);

struct Ride {
  Bike* bike = nullptr;
  const Terrain* terrain = nullptr;
  RideScript script;
  BikeSetup setup;
  ControlOptions options{true, false};
  PathFollower follower;
  std::vector<float> limits;  // the follower's, on a track's line
  int64_t tick = 0;
  float control[CONTROL_COUNT] = {};
};

// A track of the data files for a ride: its terrain (headless, no
// textures), and in the script the middle starting gate as the start (unless
// the script has one) and a smooth line through the first lap's gates and
// the next lap's. False with a reason when the track is missing or untimed.
bool load_ride_track(const char* track, Terrain* terrain, RideScript* script, char* error, size_t error_size);

// Creates the world and the bike, applies the setup and places the bike.
// The terrain must outlive the ride.
bool start_ride(Ride* ride, const Terrain& terrain, const RideScript& script, char* error, size_t error_size);
// One tick: controls, then the bike's tick. False once the duration is over.
bool step_ride(Ride* ride);
void end_ride(Ride* ride);

void write_telemetry_header(FILE* out);
void write_telemetry_row(FILE* out, const Ride& ride);

// Rides a parsed script on the terrain to its end: `before` once after the
// start, `each` after every tick. False with a reason when the ride cannot
// start.
bool run_ride(const RideScript& script, const Terrain& terrain, const std::function<void(Ride&)>& each,
              const std::function<void(Ride&)>& before, char* error, size_t error_size);

// Full throttle from rest (from 0.5 s, for 16 s) on a level course: the
// times from opening the throttle to 30 and 60 mph (0 when not reached) and
// the top speed.
struct SprintFigures {
  double to30 = 0, to60 = 0, top = 0;  // s, s, mph
  double top_rpm = 0;                  // engine speed at the top speed
  bool crashed = false;
};
bool measure_full_throttle(const char* model, const Terrain& flat, SprintFigures* out, char* error,
                           size_t error_size);

// Full throttle until `from_mph`, then throttle shut and both brakes full on
// until below 0.5 mph: the frame's travel along the course meanwhile.
struct BrakingFigures {
  double distance = 0;  // ft
  bool stopped = false, crashed = false;
};
bool measure_braking(const char* model, const Terrain& flat, double from_mph, BrakingFigures* out, char* error,
                     size_t error_size);
