// Robot riders: the per-bike robot that chooses a stored line at every split
// gate and rides it through the same control vector a human fills, once per
// tick. It owns its style (pace, braking, line choice, mistakes, drawn from
// the skill and the personality), the path it is following, and its
// recovery after a crash or when it is knocked off its line. With no line
// to follow it rides a bootstrap path through the checkpoints ahead.
//
// Per tick, for a robot's bike, in the controller step of the race:
//   1. Gate bookkeeping: a split passed closes the line being ridden (its
//      ridden time goes to the store) and picks the next one.
//   2. Position on the path; off the path by more than REJOIN_DISTANCE, or
//      back up after a crash, it picks again from where it stands.
//   3. Steering: pure pursuit of a point ahead on the path, moved sideways
//      to pass or keep clear of other bikes, turned into a lean request.
//   4. Speed: the path's speed at the robot's pace, capped by what braking
//      allows before every slower point ahead; throttle and brakes follow.
//   5. In the air: pitch for the ground at the landing point.
#pragma once

#include <cstdint>
#include <vector>

#include "core/types.h"
#include "robot/line_store.h"

struct Bike;
struct BikeTiming;

// Length of the control vector (bike/bike_sim.h's CONTROL_COUNT; the
// entries are its ControlIndex). Robots fill it in the bike's own terms:
// +1 steer turns right, and it is applied with no reversal and no latch.
constexpr int ROBOT_CONTROLS = 9;
struct Checkpoint;
struct Terrain;
struct TimingGates;

// How a robot rides: from its skill, its personality and, in training, a
// push beyond the lines' own pace.
struct RobotStyle {
  double pace;              // share of a line's recorded speed aimed for
  double braking;           // ft/s^2 it plans its braking with
  double corner_grip;       // ft/s^2 sideways it trusts on a bootstrap path
  double choice_noise;      // 0 always the best line .. 1 nearly any line
  double mistake_interval;  // mean seconds between mistakes (0: none)
  double aggression;        // 0 keeps clear of others .. 1 passes close
  double consistency;       // 0 erratic .. 1 steady
};

// Pace, braking, choice and mistakes of a skill, shaded by the personality's
// aggression and consistency (0..1 each).
RobotStyle robot_style(int skill, double aggression, double consistency);

// One point of the path the robot follows: positions every 8 ticks along a
// line (cubic between the recorded samples), or along a bootstrap curve.
struct PathPoint {
  Vec3 position;
  float speed;  // ft/s aimed for here at pace 1
  float s;      // horizontal distance from the path's start
  float curve;  // |curvature| here, 1/ft
  float keep_in;  // ft the robot rides inside the point in a bend that drops away outside, + right
};

enum RobotMode {
  ROBOT_WAITING,    // before the gate drop
  ROBOT_FOLLOWING,  // on a stored line
  ROBOT_BOOTSTRAP,  // on a path through the checkpoints
  ROBOT_DOWN,       // the rider is down
  ROBOT_BACKING,    // stuck: backing up to turn away
};

constexpr float REJOIN_DISTANCE = 25.0f;  // ft off the path before choosing again

struct Robot {
  bool active;
  int slot;
  RobotStyle style;
  uint32_t random;
  RobotMode mode;

  // The line being ridden (group -1 on a bootstrap path).
  int group, line_slot;
  int target_gate;       // overall index of the split the path leads to
  int line_start_tick;   // when it was picked
  bool ridden_clean;     // no crash since it was picked at its start
  bool from_start;       // picked at the split the line starts at
  bool line_open;        // a ride on it from its start is under way
  std::vector<PathPoint> path;
  int path_end;          // points past it preview the next stretch
  int nearest;           // path index of the nearest point
  float lateral;         // signed distance from the path, + right

  int seen_gates;        // gates passed when last looked at
  int seen_crashes;
  double throttle_integral;
  float throttle_cap;    // lowered while the rear wheel spins
  float side_offset;     // ft the aim point is moved to the right
  float gate_aside;      // ft more it is moved so as not to miss the checkpoint ahead
  float steer;           // last steering request, bike terms
  int stuck_ticks, backing_ticks, power_ticks;
  int spin_ticks;        // ticks at a standstill on the throttle
  int backing_side;      // -1 or +1: the way it turns while backing and goes round after
  float progress_s;      // distance to the split ahead at the last sign of headway
  int progress_gate;     // the split it was measured to
  int path_serial;       // counts the paths built
  int progress_serial;   // the path progress_along was measured on
  float progress_along;  // path distance at the last sign of headway
  int topple_ticks;      // ticks spent with a foot down standing a toppled bike up
  int touch_ticks;       // ticks in touch with another bike, with gaps under TOUCH_GAP
  int last_touch_tick;
  int touch_side;        // -1 the bike touched is on the left, +1 on the right
  int touch_slot;
  bool touch_yield;      // it is the one to give way
  bool in_trouble;       // the next bootstrap path starts by the way out (escape_route)
  int mistake_ticks;     // ticks left of the current mistake
  float mistake_steer, mistake_pace;
  int next_mistake_tick;
  int picks;             // lines picked so far (tests, statistics)
  int start_tick;        // the gate drop
  int start_delay;       // ticks it waits after it before setting off
  Vec3 start_position, start_heading;  // where it stood and faced then
};

// Everything a robot looks at besides its own bike.
struct RobotWorld {
  LineStore* store;            // its lines and their record
  const TimingGates* gates;
  const Terrain* terrain;
  Bike* const* bikes;          // MAX_BIKES entries, null where empty
  int tick;
  bool racing;                 // the gates have dropped
  bool keep_record;            // note picks and ridden times in the store
};

void init_robot(Robot* robot, int slot, const RobotStyle& style, uint32_t seed);

// One tick: fills the control vector (zeroed first) for the robot's bike.
// The caller hands it to the bike with apply_control_vector, as for a
// human, with ControlOptions{false, false}.
void robot_controls(Robot* robot, const RobotWorld& world, const Bike& bike, const BikeTiming& timing,
                    float control[ROBOT_CONTROLS]);

// --- parts, for tests and tools ---------------------------------------------------

// Chooses the line of the group that ends at overall split `target` for a
// bike at this position and velocity, logging the pick, and builds the
// path from the nearest point of it. False (and a bootstrap path) when the
// group holds no line that passes near.
bool pick_line(Robot* robot, const RobotWorld& world, const Bike& bike, int target);

// Builds the path through the checkpoints of overall gates `from` .. `to`
// (and two beyond for the look ahead), starting at the bike.
// `via`, when given, is a first point to make for (the way out of where
// the robot was stuck).
// `through`, when given, replaces the centre of gate `from` as the point
// the path passes it at.
void build_bootstrap_path(Robot* robot, const RobotWorld& world, Vec3 start, int from, int to,
                          const Vec3* via = nullptr, const Vec3* through = nullptr);

// The way out for a robot stuck at p short of gate `gate`: a point of the
// gate's half-disc to pass through, and a first point to make for on the
// way there (`*via`, when `*has_via`), chosen so the steepest climb on the
// way is as gentle as can be. False when the straight way to the gate's
// centre is as good.
bool escape_route(const Terrain& terrain, Vec3 p, const Checkpoint& gate, Vec3* via, bool* has_via, Vec3* through);

// Of two bikes caught fast on each other, true for the one (`bike`) that
// is to back out while `other` drives on: the two always get opposite
// answers.
bool backs_out_of_lock(const RobotWorld& world, const Bike& bike, int other);

// Fills keep_in along the path: in a bend whose ground falls away close
// outside the path (a berm's lip), the robot keeps up to 2 ft inside it.
void fill_edges(std::vector<PathPoint>* path, const Terrain& terrain);

// The path of a line from sample `first` on, cubic between the samples,
// every 8 ticks.
void append_line_path(std::vector<PathPoint>* path, const RobotLine& line, int first);

// Speed the robot aims for at path index i, looking ahead over its braking
// distance at `speed` (ft/s).
double planned_speed(const Robot& robot, int i, double speed);
