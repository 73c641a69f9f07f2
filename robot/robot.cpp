// The robot controller: gate bookkeeping, path tracking, steering, speed,
// flight, recovery and keeping clear of other bikes.
#include "robot/robot.h"

#include <cmath>

#include "bike/bike.h"
#include "bike/bike_sim.h"
#include "platform/log.h"
#include "race/timing.h"
#include "track/deform.h"
#include "track/terrain.h"
#include "track/timing_gates.h"

static_assert(ROBOT_CONTROLS == CONTROL_COUNT, "robots fill the bike's control vector");

namespace {

constexpr double G = 32.0;
constexpr double PI = 3.14159265358979323846;

struct SkillRow {
  double pace, braking, corner_grip, choice_noise, mistake_interval;
};
// Each skill rides its own store (novice lines are slower to begin with,
// see robot/training.h) a little below the pace it was ridden at; novices
// also plan gentler braking, take whatever line comes, and wobble or come
// in too fast every twenty seconds or so, where experts rarely err. The
// braking planned is well short of what the tyres give in a straight line:
// much of it is done leaned over, where they give less.
const SkillRow SKILLS[SKILL_COUNT] = {
    {0.93, 9.5, 12, 0.6, 20},
    {0.95, 11, 15, 0.3, 45},
    {0.97, 13, 18, 0.08, 150},
};

// After choosing, a robot waits this long before it may choose again for
// being off its path, so it cannot flit between lines.
constexpr int REPICK_COOLDOWN = 64;
constexpr double STEER_RATE = 4.0 * TICK_SECONDS;  // full lock either way in half a second
// A new line that starts beside the robot is joined gradually: the aim
// starts where the robot is and moves onto the line at this rate (ft/s).
constexpr double MERGE_RATE = 4.0;
constexpr double MAX_SIDE_OFFSET = 10.0;
constexpr double FINISHED_PACE = 0.6;  // share of a line's pace ridden after the finish
// A bend of this curvature (1/ft) or more ahead keeps the aim off its inside.
constexpr double INSIDE_CURVATURE = 1.0 / 250;
constexpr double BEND_OFFSET = 1.5;  // ft off the line it moves aside at most in a bend
constexpr double SLOW_BIKE_SPEED = 8;
// A checkpoint ahead within GATE_LOOK ft of path is passed at least
// GATE_MARGIN ft inside its edge; further than GATE_LATERAL ft off its line
// a robot makes for the line first.
constexpr double GATE_LOOK = 40, GATE_MARGIN = 1.0, GATE_LATERAL = 12;
// A lap's end cannot be skipped (missing it costs a turn back for it):
// the robot looks for it further ahead, passes it further inside, and
// slows while it would still miss it.
constexpr double LAP_END_MARGIN = 4.0, LAP_END_LOOK = 150, LAP_END_SLOWING = 0.04;
// A bend's ground that falls more than EDGE_DROP ft within EDGE_NEAR..EDGE_FAR
// ft outside the path keeps the robot up to EDGE_KEEP_IN ft inside it.
constexpr double EDGE_NEAR = 6, EDGE_FAR = 10, EDGE_DROP = 1.0, EDGE_KEEP_IN = 2.0;
// A way out of a hollow is judged by its steepest climb, plus this much
// grade per foot of it; it must beat the straight way by ESCAPE_GAIN.
constexpr double ESCAPE_LENGTH_COST = 0.0008;
constexpr double ESCAPE_GAIN = 0.03;  // ft/s: a bike slower than this is an obstacle, not traffic
// How far (ft) and how much faster or slower (ft/s) a line may start from
// the robot before it fits only a third as well.
constexpr double MATCH_DISTANCE = 6.0;
constexpr double MATCH_SPEED = 20.0;
// Passes of the smoothing filter over a recorded path (points 8 ticks
// apart): a bootstrap ride through sparse checkpoints weaves, and a robot
// following the weave exactly loses more than the corners it cuts once
// ironed out (replays on the runner's proving ground: 4 passes 65.1 s,
// 16 64.6 s, 40 64.1 s, 100 62.9 s against the 60.8 s recorded; 100
// rounds the tighter corners off too far).
constexpr int SMOOTHING_PASSES = 40;
// Turns of about this radius take half of a pace push, tighter ones less.
constexpr double CORNER_RADIUS = 150;
// Sideways acceleration (ft/s^2) a robot plans a turn with: what 30 degrees
// of lean holds, short of the 35 degrees the aids allow.
constexpr double LEAN_ACCELERATION = 18.5;
// Share of the planned braking left leaned right over.
constexpr double BEND_BRAKING_SHARE = 0.25;
constexpr int STUCK_TICKS = 3 * TICKS_PER_SECOND;  // this long without PROGRESS_DISTANCE ft of headway
constexpr double PROGRESS_DISTANCE = 10;
constexpr int BACKING_TICKS = (int)(1.5 * TICKS_PER_SECOND);
// This long below STANDSTILL_SPEED (ft/s) on the throttle, it is stuck.
constexpr int SPIN_STUCK_TICKS = TICKS_PER_SECOND;
constexpr double STANDSTILL_SPEED = 1.5;
constexpr int POWER_TICKS = 2 * TICKS_PER_SECOND;
// Below this speed (ft/s) the throttle is never cut below 0.3: a bike in a
// hollow or on a bank face needs some drive to climb out, but a wheel
// spinning flat out on dirt has no grip at all.
constexpr double SPIN_SPEED = 15;
// Leaning this far (rad) below this speed (ft/s) the bike is lying against
// something, not cornering.
constexpr double TOPPLED_SPEED = 6;
constexpr int TOPPLE_TICKS = TICKS_PER_SECOND;  // longest it tries a foot down at a time
// Touching another bike this long (ticks, gaps shorter than TOUCH_GAP
// ignored), the two are tangled.
constexpr int TANGLE_TICKS = TICKS_PER_SECOND / 2;
constexpr int TOUCH_GAP = 16;
constexpr double TANGLE_STEER = 0.4;  // steering (lean) away from a bike it is tangled with
// Faster than this (ft/s), two bikes in touch are rubbing side by side at
// racing speed rather than tangled.
constexpr double RUBBING_SPEED = 20;
// Still tangled this long at walking pace, the two are caught fast: taking
// turns as above has not parted them, so they try other ways by turns of
// LOCK_PHASE_TICKS each: roles swapped, both let go with a foot down,
// roles as they were, let go again.
constexpr int LOCK_TICKS = 3 * TICKS_PER_SECOND;
constexpr int LOCK_PHASE_TICKS = (int)(1.5 * TICKS_PER_SECOND);
constexpr double LOCK_SPEED = 4;
constexpr double CRAWL_SPEED = 2.5;
constexpr double TURN_BACK_COS = -0.2;  // heading this far off the path's it turns round for it
constexpr int START_STRAIGHT_TICKS = 2 * TICKS_PER_SECOND;  // straight ahead off the gate
// Seconds later off the gate for each gate's width (ft) further from the
// first checkpoint than the nearest starting gate.
constexpr double START_STAGGER = 0.1, GATE_PITCH = 3.5;  // ft/s forward that still counts as getting somewhere when stuck
constexpr double TOPPLED_LEAN = 0.55;
// At walking pace the bars steer directly and the bike leans as far as
// they are turned: no more than this share of lock, or it lies down.
constexpr double WALKING_STEER = 0.6;

uint32_t next_random(uint32_t* state) {
  // xorshift32: the same sequence on every machine.
  uint32_t x = *state;
  x ^= x << 13;
  x ^= x >> 17;
  x ^= x << 5;
  *state = x;
  return x;
}
double uniform(uint32_t* state) { return (next_random(state) >> 8) * (1.0 / 16777216.0); }

DVec horizontal(DVec v) { return DVec{v.x, 0, v.z}; }

DVec heading_of(const Bike& b) {
  DVec f = horizontal(bike_forward(b));
  if (length_squared(f) < 1e-9) f = horizontal(-bike_up(b));
  return normalized(f, DVec{0, 0, -1});
}

bool airborne(const Bike& b) { return !(b.wheel[WHEEL_FRONT].depth > 0) && !(b.wheel[WHEEL_REAR].depth > 0); }

// True when one of the bodies in the mask (bit 1 << BikeBody) touches the
// bike in slot `other` this tick (any bike for a negative `other`).
bool touches_bike(const Bike& b, int other, unsigned bodies) {
  for (int i = 0; i < b.bike_note_count && i < PART_CONTACT_NOTES; i++) {
    const ContactNote& n = b.bike_notes[i];
    if (n.other >= 0 && (other < 0 || n.other == other) && n.body >= 0 && n.body < 32 && (bodies >> n.body & 1u))
      return true;
  }
  return false;
}
constexpr unsigned FRONT_END = 1u << BODY_FRONT_WHEEL | 1u << BODY_FORK_UPPER | 1u << BODY_FORK_LOWER;
constexpr unsigned BACK_END = 1u << BODY_REAR_WHEEL | 1u << BODY_SWINGARM;

// True when one of the bodies in the mask touches the ground with its own shape.
bool touches_ground(const Bike& b, unsigned bodies) {
  for (int i = 0; i < b.part_note_count && i < PART_CONTACT_NOTES; i++)
    if (bodies & 1u << b.part_notes[i].body) return true;
  return false;
}

// Nearest point of segment [a, b] to p, horizontally: parameter and distance².
double segment_nearest(Vec3 a, Vec3 b, DVec p, double* t_out) {
  double abx = b.x - a.x, abz = b.z - a.z;
  double apx = p.x - a.x, apz = p.z - a.z;
  double len2 = abx * abx + abz * abz;
  double t = len2 > 1e-12 ? clampd((apx * abx + apz * abz) / len2, 0, 1) : 0;
  double dx = apx - t * abx, dz = apz - t * abz;
  *t_out = t;
  return dx * dx + dz * dz;
}

// Index of the path point a distance `ahead` past index i (the last point
// when the path ends first).
int point_ahead(const std::vector<PathPoint>& path, int i, double ahead) {
  double goal = path[(size_t)i].s + ahead;
  int n = (int)path.size();
  while (i + 1 < n && path[(size_t)i].s < goal) i++;
  return i;
}

// Where the bike will be when it comes down: a ballistic step until the
// frame is no higher above the ground than it rides.
DVec landing_point(const Terrain& terrain, DVec p, DVec v) {
  const double dt = 1.0 / 32;
  for (int i = 0; i < 96; i++) {
    p = p + v * dt;
    v.y += GRAVITY_Y * dt;
    if (p.y <= height_at(terrain, (float)p.x, (float)p.z) + 2.0) break;
  }
  return p;
}

void hold_for_start(float control[ROBOT_CONTROLS]) {
  control[CONTROL_FRONT_BRAKE] = 1;
  control[CONTROL_REAR_BRAKE] = 1;
}

void start_mistake(Robot* r) {
  // A mistake is either a wobble (the bars off by a random amount) or a
  // moment of over-eagerness (braking points taken too fast).
  r->mistake_ticks = (int)(0.4 * TICKS_PER_SECOND + uniform(&r->random) * 0.6 * TICKS_PER_SECOND);
  if (uniform(&r->random) < 0.5) {
    r->mistake_steer = (float)((uniform(&r->random) - 0.5) * 0.5);
    r->mistake_pace = 1;
  } else {
    r->mistake_steer = 0;
    r->mistake_pace = (float)(1.06 + 0.06 * uniform(&r->random));
  }
}

void schedule_mistake(Robot* r, int tick) {
  if (r->style.mistake_interval <= 0) {
    r->next_mistake_tick = -1;
    return;
  }
  // Exponential gaps: mistakes come at random, at the mean rate.
  double u = std::fmax(uniform(&r->random), 1e-6);
  r->next_mistake_tick = tick + (int)(-std::log(u) * r->style.mistake_interval * TICKS_PER_SECOND);
}

// The split the robot must reach next: the first at or after the next gate.
int next_target(const RobotWorld& w, const BikeTiming& timing) {
  return next_split_gate(*w.gates, timing.gates_passed - 1);
}

// Ends the record of the line being ridden from its start: ridden to its
// split, or given up (a crash, knocked off it, stuck).
void close_line(Robot* r, const RobotWorld& w, bool ridden) {
  if (!r->line_open) return;
  r->line_open = false;
  if (!w.keep_record) return;
  if (ridden) note_line_ridden(w.store, r->group, r->line_slot, w.tick - r->line_start_tick);
  else note_line_failed(w.store, r->group, r->line_slot);
}

void choose(Robot* r, const RobotWorld& w, const Bike& bike, int target, bool at_start) {
  close_line(r, w, false);
  r->target_gate = target;
  r->from_start = at_start;
  r->ridden_clean = true;
  r->line_start_tick = w.tick;
  if (!pick_line(r, w, bike, target)) r->from_start = false;
  r->in_trouble = false;
  r->line_open = r->from_start;
}

// Keeps the nearest path point current, searching a window around the last
// one so a path that passes near itself cannot capture the robot.
void track_path(Robot* r, DVec p) {
  int n = (int)r->path.size();
  if (n < 2) {
    r->nearest = 0;
    r->lateral = 1e9f;
    return;
  }
  int lo = r->nearest - 4 < 0 ? 0 : r->nearest - 4;
  int hi = r->nearest + 60 > n - 1 ? n - 1 : r->nearest + 60;
  double best = 1e300, best_t = 0;
  int best_i = lo;
  for (int i = lo; i < hi; i++) {
    double t;
    double d2 = segment_nearest(r->path[(size_t)i].position, r->path[(size_t)i + 1].position, p, &t);
    if (d2 < best) {
      best = d2;
      best_i = i;
      best_t = t;
    }
  }
  r->nearest = best_t > 0.5 && best_i + 1 < n ? best_i + 1 : best_i;
  const Vec3 a = r->path[(size_t)best_i].position, b = r->path[(size_t)best_i + 1].position;
  DVec along = normalized(DVec{b.x - a.x, 0, b.z - a.z}, DVec{0, 0, -1});
  DVec right = cross(along, DVec{0, 1, 0});
  double side = dot(DVec{p.x - a.x, 0, p.z - a.z}, right);
  r->lateral = (float)(side >= 0 ? std::sqrt(best) : -std::sqrt(best));
}

double path_curvature(const std::vector<PathPoint>& path, int i);

// Ticks a robot waits after the gate drop. Lines from every starting place
// meet at the first turn; the bikes standing nearest the first checkpoint
// go at once and those further out a moment later, each in turn, so that
// they funnel in rather than arrive side by side.
int start_delay(const RobotWorld& w, DVec p) {
  if (w.gates->starting_gates.empty() || w.gates->sequence.empty()) return 0;
  const Vec3 goal = checkpoint_of_gate(*w.gates, 0).point;
  auto distance = [&](Vec3 q) { return std::sqrt((q.x - goal.x) * (q.x - goal.x) + (q.z - goal.z) * (q.z - goal.z)); };
  double nearest = 1e300;
  for (const StartingGate& g : w.gates->starting_gates) nearest = std::fmin(nearest, distance(g.position));
  double extra = std::fmax(0.0, distance(to_vec3(p)) - nearest);
  return (int)(START_STAGGER * extra / GATE_PITCH * TICKS_PER_SECOND);
}

// Keeps count of how long the bike has been touching another one (short
// gaps in the contacts do not end it), and on which side that one is.
void note_touch(Robot* r, const RobotWorld& w, const Bike& bike, DVec p, DVec fwd) {
  int other = -1;
  for (int i = 0; i < bike.bike_note_count && i < PART_CONTACT_NOTES; i++)
    if (bike.bike_notes[i].other >= 0 && bike.bike_notes[i].other < MAX_BIKES) other = bike.bike_notes[i].other;
  const Bike* o = other >= 0 && w.bikes ? w.bikes[other] : nullptr;
  if (o) {
    if (w.tick - r->last_touch_tick > TOUCH_GAP) r->touch_ticks = 0;
    r->touch_ticks++;
    r->last_touch_tick = w.tick;
    r->touch_slot = other;
    DVec right = cross(fwd, DVec{0, 1, 0});
    DVec d = horizontal(body_position(*o, BODY_FRAME) - p);
    r->touch_side = dot(d, right) >= 0 ? 1 : -1;
    double along = dot(d, fwd);
    // The one behind gives way; level with it, the higher slot.
    r->touch_yield = along > 1.0 || (along > -1.0 && other < bike.slot);
  } else if (w.tick - r->last_touch_tick > TOUCH_GAP) {
    r->touch_ticks = 0;
  }
}

// Moves the aim sideways to get by, or slows, for bikes ahead; keeps clear
// of bikes alongside. Returns the speed cap it leaves (ft/s).
double keep_clear(Robot* r, const RobotWorld& w, const Bike& bike, DVec p, DVec fwd, double speed) {
  DVec right = cross(fwd, DVec{0, 1, 0});
  double want_offset = 0, cap = 1e9, bend_cap = 1e9, ahead_cap = 1e9;
  struct Near {
    double along, side;
  } near[8];
  int near_count = 0;
  bool in_bend = false, pass_slow = false;
  double margin = 1.0 + 1.5 * (1 - r->style.aggression);
  for (int i = 0; i < MAX_BIKES; i++) {
    const Bike* o = w.bikes ? w.bikes[i] : nullptr;
    if (!o || o == &bike || !o->enabled) continue;
    DVec d = horizontal(body_position(*o, BODY_FRAME) - p);
    double along = dot(d, fwd), side = dot(d, right);
    if (along < -6 || along > 40 || std::fabs(side) > 7) continue;
    double other_speed = o->crash_timer > 0 ? 0 : dot(horizontal(body_velocity(*o, BODY_FRAME)), fwd);
    if (near_count < 8 && along < 15) near[near_count++] = Near{along, side};
    if (along > 3) {
      double closing = speed - other_speed;
      if (closing <= 0) continue;
      // Pass on the side away from it; if it is dead ahead and near,
      // also hold back until there is room.
      double away = side > 0 ? -1 : 1;
      double need = away * (5.0 + margin - std::fabs(side));
      if (std::fabs(need) > std::fabs(want_offset)) want_offset = need;
      double time_to_reach = (along - 3) / closing;
      if (std::fabs(side) < 3.0 && time_to_reach < margin) cap = std::fmin(cap, other_speed + (along - 3) * 0.5);
      if (std::fabs(side) < 4.0 && time_to_reach < margin + 1)
        ahead_cap = std::fmin(ahead_cap, std::fmax(other_speed, 0.0) + (along - 3) * 0.5);
      // In a bend there is no going by: wait behind anything near the line.
      // A bike stopped or down there is passed however tight the bend.
      if (other_speed < SLOW_BIKE_SPEED) pass_slow = true;
      else if (std::fabs(side) < 5.0 && time_to_reach < margin + 1)
        bend_cap = std::fmin(bend_cap, other_speed + (along - 3) * 0.5);
    } else if (std::fabs(side) < 6) {
      // Alongside: move away from it, and (the higher slot of the two, so
      // that they do not both) drop back behind it: bikes that ride
      // touching catch on each other.
      double need = (side > 0 ? -1 : 1) * (6 - std::fabs(side));
      if (std::fabs(need) > std::fabs(want_offset)) want_offset = need;
      // (Beside a bike standing still, on the gate say, waiting would be for
      // ever.)
      if (i < bike.slot && along > -1 && other_speed >= SLOW_BIKE_SPEED) {
        if (std::fabs(side) < 4) cap = std::fmin(cap, other_speed - 4);
        bend_cap = std::fmin(bend_cap, other_speed - 4);
      }
    }
  }
  // With a turn coming, never aim inside the line: the line's speed is
  // what its own radius holds, and a tighter one runs wide off it. A bike
  // that cannot go round on the outside waits behind.
  if (r->path.size() > 2) {
    double turn = 0;  // signed curvature of the sharpest bend in the next 1.5 s, + right
    for (double t = 0.25; t <= 1.5; t += 0.25) {
      double k = path_curvature(r->path, point_ahead(r->path, r->nearest, std::fmax(speed, 10.0) * t));
      if (std::fabs(k) > std::fabs(turn)) turn = k;
    }
    if (std::fabs(turn) > INSIDE_CURVATURE) {
      want_offset = turn > 0 ? std::fmin(want_offset, 0.0) : std::fmax(want_offset, 0.0);
      // Nor far outside it: the outside of a berm is its lip, and over it
      // lies the bank behind. Round a bend a robot follows, it does not pass.
      if (!pass_slow) want_offset = clampd(want_offset, -BEND_OFFSET, BEND_OFFSET);
      in_bend = true;
    }
  }
  if (in_bend) cap = std::fmin(cap, bend_cap);
  // Moving aside into another bike's room makes two bikes out of one
  // problem: with that side taken the robot holds its line and waits.
  // (Back towards the line is always allowed.)
  double move = want_offset - r->side_offset;
  if (std::fabs(move) > 0.5 && std::fabs(want_offset) > std::fabs(r->side_offset)) {
    for (int k = 0; k < near_count; k++) {
      const Near& n = near[k];
      if (n.side * move > 0 && std::fabs(n.side) < std::fabs(move) + 3 && n.along > -6) {
        want_offset = r->side_offset;
        cap = std::fmin(cap, ahead_cap);
        break;
      }
    }
  }
  double step = MERGE_RATE * TICK_SECONDS;  // ft per tick the aim may move
  double delta = clampd(want_offset - r->side_offset, -step, step);
  r->side_offset = (float)clampd(r->side_offset + delta, -MAX_SIDE_OFFSET, MAX_SIDE_OFFSET);
  return cap;
}

// How far (ft, + right) the robot must move so as not to miss the
// checkpoint of overall gate `gate` (to pass it GATE_MARGIN ft or more
// inside its half-disc, or no nearer its edge than the path; a lap's end
// LAP_END_MARGIN ft inside, wherever the path passes), if it stays
// as far off the path as it is now; 0 when it will pass it, or when the
// path does not cross it within GATE_LOOK ft. (Ridden wide of a line that
// passes near a checkpoint's edge, a robot can miss it, and the way back
// to it is a long one.)
double gate_need(const Robot& r, const TimingGates& gates, int gate) {
  if (gate < 0 || gates.sequence.empty() || r.path.size() < 2) return 0;
  const double look = is_lap_end(gates, gate) ? LAP_END_LOOK : GATE_LOOK;
  const Checkpoint& c = checkpoint_of_gate(gates, gate);
  DVec dir = normalized(DVec{c.direction.x, 0, c.direction.z}, DVec{0, 0, -1});
  DVec centre = dvec(c.point);
  auto depth = [&](size_t i) { return dot(horizontal(dvec(r.path[i].position) - centre), dir); };
  size_t n = r.path.size();
  double s0 = r.path[(size_t)r.nearest].s;
  for (size_t i = (size_t)r.nearest; i + 1 < n && r.path[i].s - s0 < look; i++) {
    double d0 = depth(i), d1 = depth(i + 1);
    if (!(d0 < 0 && d1 >= 0)) continue;  // (a line ends on the plane of its split)
    DVec a = dvec(r.path[i].position), b = dvec(r.path[i + 1].position);
    DVec crossing = a + (b - a) * (d0 / (d0 - d1));
    DVec right = cross(normalized(horizontal(b - a), dir), DVec{0, 1, 0});
    double u0 = dot(horizontal(centre - crossing), right);
    if (std::fabs(u0) > c.radius + MAX_SIDE_OFFSET) continue;  // far from it: another stretch of the track
    double at = r.lateral;
    if (is_lap_end(gates, gate)) {
      // Even off a line that passes near its edge.
      double half = std::fmax(c.radius - LAP_END_MARGIN, 0.5 * c.radius);
      return clampd(at, u0 - half, u0 + half) - at;
    }
    double half = std::fmax(c.radius - GATE_MARGIN, 0.5 * c.radius);
    return clampd(at, std::fmin(u0 - half, 0.0), std::fmax(u0 + half, 0.0)) - at;
  }
  return 0;
}

// Unit tangent of the path at index i (horizontal).
DVec path_direction(const std::vector<PathPoint>& path, int i, DVec fallback) {
  int n = (int)path.size();
  int a = i > 0 ? i - 1 : 0, b = i + 1 < n ? i + 1 : n - 1;
  const Vec3 pa = path[(size_t)a].position, pb = path[(size_t)b].position;
  return normalized(DVec{pb.x - pa.x, 0, pb.z - pa.z}, fallback);
}

// Signed curvature (1/ft, + turning right) of the path around index i, over
// about 10 ft either side so single points do not make it jump.
double path_curvature(const std::vector<PathPoint>& path, int i) {
  int n = (int)path.size();
  if (n < 3) return 0;
  int a = i, b = i;
  while (a > 0 && path[(size_t)i].s - path[(size_t)a].s < 10) a--;
  while (b + 1 < n && path[(size_t)b].s - path[(size_t)i].s < 10) b++;
  if (a == i || b == i) return 0;
  DVec t1 = normalized(horizontal(dvec(path[(size_t)i].position) - dvec(path[(size_t)a].position)), DVec{0, 0, -1});
  DVec t2 = normalized(horizontal(dvec(path[(size_t)b].position) - dvec(path[(size_t)i].position)), DVec{0, 0, -1});
  DVec right = cross(t1, DVec{0, 1, 0});
  double turn = std::atan2(dot(t2, right), dot(t2, t1));
  double length = path[(size_t)b].s - path[(size_t)a].s;
  return length > 1e-3 ? turn / (0.5 * length) : 0;
}

// Irons the rider's weave out of a recorded path: a few passes of a
// [1 2 1] filter over the positions (points 8 ticks apart), ends held, then
// the distances measured again.
void smooth_path(std::vector<PathPoint>* path, size_t from, int passes) {
  std::vector<PathPoint>& p = *path;
  for (int k = 0; k < passes; k++) {
    Vec3 previous = from < p.size() ? p[from].position : Vec3{0, 0, 0};
    for (size_t i = from + 1; i + 1 < p.size(); i++) {
      Vec3 here = p[i].position;
      p[i].position.x = 0.25f * previous.x + 0.5f * here.x + 0.25f * p[i + 1].position.x;
      p[i].position.z = 0.25f * previous.z + 0.5f * here.z + 0.25f * p[i + 1].position.z;
      previous = here;
    }
  }
  for (size_t i = from + 1; i < p.size(); i++) {
    float dx = p[i].position.x - p[i - 1].position.x, dz = p[i].position.z - p[i - 1].position.z;
    p[i].s = p[i - 1].s + std::sqrt(dx * dx + dz * dz);
  }
}

void fill_curvature(std::vector<PathPoint>* path) {
  for (size_t i = 0; i < path->size(); i++) (*path)[i].curve = (float)std::fabs(path_curvature(*path, (int)i));
}

void fly(const RobotWorld& w, const Bike& bike, DVec p, DVec v, float control[ROBOT_CONTROLS]) {
  DVec land = landing_point(*w.terrain, p, v);
  DVec dir = normalized(horizontal(v), heading_of(bike));
  auto h = [&](double ahead) {
    return (double)height_at(*w.terrain, (float)(land.x + dir.x * ahead), (float)(land.z + dir.z * ahead));
  };
  double ground_pitch = std::atan((h(3) - h(-3)) / 6);
  DVec fwd = bike_forward(bike);
  double pitch = std::asin(clampd(fwd.y, -1, 1));
  DVec pitch_axis = mat_column(body_rotation(bike, BODY_FRAME), 0);
  double pitch_rate = dot(body_angular_velocity(bike, BODY_FRAME), pitch_axis);
  // Land a touch nose-high of the slope: the rear wheel first.
  double error = ground_pitch + 0.04 - pitch;
  control[CONTROL_LEAN] = (float)clampd(3.0 * error - 0.5 * pitch_rate, -1, 1);
  control[CONTROL_THROTTLE] = 0.35f;
}

// Two bikes caught fast on each other (see LOCK_TICKS): overrides the
// controls for this tick with the current phase's way of parting them.
// The phases run on the race clock, so the two bikes keep in step.
void break_lock(const Robot& r, const RobotWorld& w, const Bike& bike, float control[ROBOT_CONTROLS]) {
  if (r.touch_ticks <= LOCK_TICKS || bike.crash_timer > 0 || airborne(bike)) return;
  if (length(horizontal(body_velocity(bike, BODY_FRAME))) > LOCK_SPEED) return;
  int phase = (w.tick / LOCK_PHASE_TICKS) % 4;
  for (int i = 0; i < ROBOT_CONTROLS; i++) control[i] = 0;
  if (phase == 1 || phase == 3) {
    control[CONTROL_SIT] = 1;  // stand the bike up and let the other roll
    return;
  }
  bool backs_out = backs_out_of_lock(w, bike, r.touch_slot);
  bool yield = phase == 0 ? backs_out : !backs_out;
  if (yield) {
    // Backing out front wheel high, the bars turned away, so the wheel
    // lifts and rolls off whatever it is caught on.
    control[CONTROL_BACK_UP] = 1;
    control[CONTROL_LEAN] = 1;
    control[CONTROL_STEER] = (float)(-WALKING_STEER * r.touch_side);
  } else {
    // Held at the back (the other against its rear wheel or swingarm), it
    // turns towards the other: the back end then swings away from it.
    bool held_behind = touches_bike(bike, -1, BACK_END);
    control[CONTROL_THROTTLE] = (float)r.throttle_cap;
    control[CONTROL_LEAN] = -1;
    control[CONTROL_STEER] = (float)((held_behind ? WALKING_STEER : -WALKING_STEER) * r.touch_side);
  }
}

}  // namespace

// True when this bike, of two caught fast on each other, is the one to
// back out. Both bikes of the pair reach opposite answers: the one whose
// front end is in the other (its wheel or fork in the other's side, a
// T-bone) backs out and the other drives on; otherwise the one that has
// the other more squarely ahead, and level, the higher slot. (Each judging
// only by where the other lies in its own frame, two bikes at right angles
// both find the other ahead, and both back out or both push, for ever.)
bool backs_out_of_lock(const RobotWorld& w, const Bike& bike, int other) {
  const Bike* o = other >= 0 && other < MAX_BIKES && w.bikes ? w.bikes[other] : nullptr;
  if (!o) return false;
  bool mine = touches_bike(bike, other, FRONT_END), theirs = touches_bike(*o, bike.slot, FRONT_END);
  if (mine != theirs) return mine;
  DVec d = horizontal(body_position(*o, BODY_FRAME) - body_position(bike, BODY_FRAME));
  double my_along = dot(d, heading_of(bike)), their_along = -dot(d, heading_of(*o));
  if (std::fabs(my_along - their_along) > 0.5) return my_along > their_along;
  return other < bike.slot;
}

RobotStyle robot_style(int skill, double aggression, double consistency) {
  const SkillRow& row = SKILLS[skill >= 0 && skill < SKILL_COUNT ? skill : ROBOT_NOVICE];
  aggression = clampd(aggression, 0, 1);
  consistency = clampd(consistency, 0, 1);
  RobotStyle s;
  s.pace = row.pace * (1 + 0.03 * (aggression - 0.5));
  s.braking = row.braking * (1 + 0.1 * (aggression - 0.5));
  s.corner_grip = row.corner_grip;
  s.choice_noise = clampd(row.choice_noise * (1.5 - consistency), 0, 1);
  s.mistake_interval = row.mistake_interval * (0.5 + consistency);
  s.aggression = aggression;
  s.consistency = consistency;
  return s;
}

void init_robot(Robot* r, int slot, const RobotStyle& style, uint32_t seed) {
  *r = Robot();
  r->active = true;
  r->slot = slot;
  r->style = style;
  r->random = (seed ^ 0x9e3779b9u) * 2654435761u + (uint32_t)slot * 40503u;
  if (r->random == 0) r->random = 1;
  r->mode = ROBOT_WAITING;
  r->group = -1;
  r->line_slot = -1;
  r->target_gate = -1;
  r->seen_gates = -1;
  r->next_mistake_tick = -1;
  r->mistake_pace = 1;
  r->throttle_cap = 1;
}

double planned_speed(const Robot& r, int i, double speed) {
  const std::vector<PathPoint>& path = r.path;
  if (path.empty()) return 0;
  double pace = r.mode == ROBOT_BOOTSTRAP ? 1.0 : r.style.pace;
  if (r.mistake_ticks > 0) pace *= r.mistake_pace;
  // Faster than the line was ridden, the push goes mostly into the
  // straights: in a tight turn the grip is what it was.
  // Nor does it aim for more than leaning short of the limit turns: the
  // steering needs room left to correct.
  auto paced = [&](const PathPoint& q) {
    double k = q.curve * CORNER_RADIUS;
    double v = pace <= 1 ? q.speed * pace : q.speed * (1 + (pace - 1) / (1 + k * k));
    if (q.curve > 1e-5) v = std::fmin(v, std::sqrt(LEAN_ACCELERATION / q.curve));
    return v;
  };
  // Braking is planned backwards from the end of the look ahead, with
  // what the tyres have left beside the turn at each point: leaned over at
  // the speed planned there, the brakes get the share the controller gives
  // them (see grip_left in ride), so a bend's braking is done
  // before it, upright, rather than in it, running wide.
  double a = r.style.braking;
  double reach = speed * speed / (2 * a * BEND_BRAKING_SHARE) + 20;
  double s0 = path[(size_t)i].s;
  size_t last = (size_t)i;
  while (last + 1 < path.size() && path[last + 1].s - s0 < reach) last++;
  double v = paced(path[last]);
  for (size_t j = last; j > (size_t)i; j--) {
    const PathPoint& q = path[j - 1];
    double lean = std::atan(v * v * q.curve / G);
    double share = clampd(lean / 0.6, 0, 1);
    double braking = a * (1 - (1 - BEND_BRAKING_SHARE) * share * share);
    v = std::fmin(paced(q), std::sqrt(v * v + 2 * braking * (path[j].s - q.s)));
  }
  return v;
}

// The ride itself; robot_controls adds parting from a bike caught fast.
static void ride(Robot* r, const RobotWorld& world, const Bike& bike, const BikeTiming& timing,
                 float control[ROBOT_CONTROLS]) {
  // Past the finish a robot rides on round the track at an easy pace, out
  // of the way of those still racing: stopping on the line would leave it
  // in their path. What it rides then is no record of its lines.
  RobotWorld w = world;
  if (timing.finished) w.keep_record = false;
  for (int i = 0; i < ROBOT_CONTROLS; i++) control[i] = 0;
  if (!r->active || !w.gates || !w.gates->timed || !w.store || !w.terrain) {
    hold_for_start(control);
    return;
  }
  if (!w.racing) {
    r->mode = ROBOT_WAITING;
    hold_for_start(control);
    return;
  }
  if (bike.crash_timer > 0) {
    r->mode = ROBOT_DOWN;
    r->ridden_clean = false;
    close_line(r, w, false);
    return;
  }
  DVec p = body_position(bike, BODY_FRAME);
  DVec v = body_velocity(bike, BODY_FRAME);
  DVec fwd = heading_of(bike);
  double speed = length(horizontal(v));

  // 1. Gates.
  if (r->mode == ROBOT_WAITING) {
    r->start_tick = w.tick;
    r->start_position = to_vec3(p);
    r->start_heading = to_vec3(fwd);
    r->start_delay = start_delay(w, p);
    r->seen_gates = timing.gates_passed;
    schedule_mistake(r, w.tick);
    choose(r, w, bike, next_target(w, timing), timing.gates_passed == 0);
  } else if (r->mode == ROBOT_DOWN) {
    r->in_trouble = true;  // wherever it fell, it may be off the track
    choose(r, w, bike, next_target(w, timing), false);
  }
  if (timing.gates_passed != r->seen_gates) {
    int passed = timing.gates_passed - 1;
    r->seen_gates = timing.gates_passed;
    if (passed == r->target_gate) {
      close_line(r, w, r->ridden_clean);
      choose(r, w, bike, next_split_gate(*w.gates, passed), true);
    } else if (next_target(w, timing) != r->target_gate) {
      choose(r, w, bike, next_target(w, timing), false);
    }
  }

  // Off the gate in turn (see start_delay).
  if (timing.gates_passed == 0 && w.tick - r->start_tick < r->start_delay) {
    hold_for_start(control);
    return;
  }

  // 2. Where on the path.
  track_path(r, p);
  bool lost = std::fabs(r->lateral - r->side_offset) > REJOIN_DISTANCE;
  bool ran_out = r->nearest >= (int)r->path.size() - 2;
  if ((lost || ran_out) && w.tick - r->line_start_tick >= REPICK_COOLDOWN && r->mode != ROBOT_BACKING) {
    // Finished, the gates no longer count it: the end of the path is its
    // split passed.
    int target = r->target_gate;
    if (timing.finished && ran_out && target >= 0) target = next_split_gate(*w.gates, target);
    // Off a path through the checkpoints (or past its end short of the
    // gate), it may be off the track too.
    if (r->mode == ROBOT_BOOTSTRAP) r->in_trouble = true;
    choose(r, w, bike, target, false);
    track_path(r, p);
    // Past the end of every line and still short of the gate: make for its
    // checkpoint.
    if (r->nearest >= (int)r->path.size() - 2) {
      build_bootstrap_path(r, w, to_vec3(p), timing.finished ? r->target_gate : timing.gates_passed, r->target_gate);
      track_path(r, p);
    }
  }
  if (r->path.size() < 2) return;

  note_touch(r, w, bike, p, fwd);

  if (r->next_mistake_tick >= 0 && w.tick >= r->next_mistake_tick) {
    start_mistake(r);
    schedule_mistake(r, w.tick);
  }
  if (r->mistake_ticks > 0) r->mistake_ticks--;

  // Stuck: no headway along the path for a while (against something, or
  // spinning in a hollow). Back off, then drive out with the throttle open
  // whatever the rear wheel does.
  if (r->mode == ROBOT_BACKING) {
    if (--r->backing_ticks <= 0) {
      r->in_trouble = true;
      choose(r, w, bike, r->target_gate, false);
      // (choose does that from a bootstrap path.)
      bool escaping = r->mode == ROBOT_BOOTSTRAP;
      track_path(r, p);
      r->power_ticks = POWER_TICKS;
      // Out past whatever held it, on the side it backed away to (two
      // bikes caught on each other must not both try the same way again).
      r->side_offset = escaping ? 0.0f : (float)(r->backing_side * 6.0);
    } else {
      control[CONTROL_BACK_UP] = 1;
      control[CONTROL_STEER] = (float)(r->backing_side * 0.7);
      return;
    }
  }
  if (r->power_ticks > 0) r->power_ticks--;
  // Standing still on the throttle (on a slope it cannot climb, or its
  // front wheel against a face, the rear wheel spinning) it is stuck,
  // without waiting the full STUCK_TICKS for the sign of it.
  {
    bool driving = bike.input.throttle > 0.2f && bike.input.back_up <= 0;
    bool standing = speed < STANDSTILL_SPEED && !airborne(bike);
    // (A wheel that catches for a moment rocks the bike: that is no headway.)
    if (standing && driving && r->touch_ticks == 0) r->spin_ticks++;
    else r->spin_ticks = r->spin_ticks > 2 ? r->spin_ticks - 2 : 0;
  }
  // Headway: getting nearer the checkpoint of the split ahead.
  const Checkpoint& goal = checkpoint_of_gate(*w.gates, r->target_gate >= 0 ? r->target_gate : 0);
  double to_goal = std::sqrt((p.x - goal.point.x) * (p.x - goal.point.x) + (p.z - goal.point.z) * (p.z - goal.point.z));
  // Or along a path that leads round something first.
  double along_path = r->path[(size_t)r->nearest].s;
  bool along = r->path_serial == r->progress_serial && along_path > r->progress_along + PROGRESS_DISTANCE;
  if (r->target_gate != r->progress_gate || to_goal < r->progress_s - PROGRESS_DISTANCE || along) {
    r->progress_gate = r->target_gate;
    r->progress_s = (float)to_goal;
    r->progress_serial = r->path_serial;
    r->progress_along = (float)along_path;
    r->stuck_ticks = 0;
  } else if (++r->stuck_ticks > STUCK_TICKS || r->spin_ticks > SPIN_STUCK_TICKS) {
    r->spin_ticks = 0;
    r->stuck_ticks = 0;
    r->progress_s = (float)to_goal;
    r->progress_serial = r->path_serial;
    r->progress_along = (float)along_path;
    r->ridden_clean = false;
    // Caught on another bike: the one in the higher slot gives way (backs
    // off for longer), the other drives on, so the two do not mirror each
    // other for ever.
    bool give_way = false, hold_on = false;
    for (int i = 0; i < bike.bike_note_count && i < PART_CONTACT_NOTES; i++) {
      int other = bike.bike_notes[i].other;
      if (other >= 0 && other < bike.slot) give_way = true;
      if (other > bike.slot) hold_on = true;
    }
    double forward_speed = dot(horizontal(v), fwd);
    if (hold_on && !give_way) {
      r->power_ticks = POWER_TICKS;
    } else if (!give_way && forward_speed > CRAWL_SPEED) {
      // Still creeping on (up a bank, say): backing off would throw away
      // the height gained; open up instead.
      r->power_ticks = POWER_TICKS;
    } else if (speed < 6 && !airborne(bike)) {
      r->mode = ROBOT_BACKING;
      r->backing_ticks = give_way ? 2 * BACKING_TICKS : BACKING_TICKS;
      r->backing_side = uniform(&r->random) < 0.5 ? -1 : 1;
      // Sat on its frame on a crest: straight back down the face, far
      // enough to take a run at it.
      if (touches_ground(bike, 1u << BODY_FRAME)) {
        r->backing_ticks = 3 * BACKING_TICKS;
        r->backing_side = 0;
      }
    } else if (speed < 12) {
      r->power_ticks = POWER_TICKS;
    }
  }

  // 3. Steering: the sideways acceleration that the path's curvature just
  // ahead needs, corrected for being beside the path and for heading across
  // it, turned into the lean that gives it. Sideways the bike behaves as a
  // double integrator behind its lean response; the correction places it at
  // 1 rad/s, critically damped (faster rings against the lean lag, slower
  // drifts wide in the turns). At walking pace the bars steer directly, so
  // the robot points them at a spot ahead on the path.
  double cap = keep_clear(r, w, bike, p, fwd, speed);
  double lap_end_need = 0;
  {
    // Moved over at twice the merging rate while it would miss the
    // checkpoint ahead, eased back once it would not. (On a line only: a
    // path through the checkpoints passes them square.)
    bool on_line = r->mode == ROBOT_FOLLOWING && std::fabs(r->lateral) < GATE_LATERAL;
    double need = 0;
    if (!timing.finished && on_line) {
      int next = timing.gates_passed;
      need = gate_need(*r, *w.gates, next);
      if (is_lap_end(*w.gates, next)) {
        lap_end_need = need;
      } else if (is_lap_end(*w.gates, next + 1)) {
        // The lap's end just beyond the next checkpoint (which may be
        // skipped; the lap's end may not).
        lap_end_need = gate_need(*r, *w.gates, next + 1);
        if (need == 0) need = lap_end_need;
      }
    }
    double step = MERGE_RATE * TICK_SECONDS;
    double change = need != 0 ? clampd(need, -2 * step, 2 * step) : clampd(-r->gate_aside, -step, step);
    r->gate_aside = (float)clampd(r->gate_aside + change, -MAX_SIDE_OFFSET, MAX_SIDE_OFFSET);
  }
  double steer;
  double alpha = 0;
  {
    const double wy = 1.0, zeta = 1.0;
    int here = r->nearest;
    DVec right = cross(fwd, DVec{0, 1, 0});
    int aim_index = point_ahead(r->path, here, clampd(0.9 * speed, 20, 70));
    DVec aim = dvec(r->path[(size_t)aim_index].position);
    double aim_aside = r->side_offset + r->gate_aside + r->path[(size_t)aim_index].keep_in;
    if (aim_aside != 0) aim = aim + cross(path_direction(r->path, aim_index, fwd), DVec{0, 1, 0}) * aim_aside;
    DVec to = horizontal(aim - p);
    alpha = std::atan2(dot(to, right), dot(to, fwd));
    if (speed > 10) {
      DVec tangent = path_direction(r->path, here, fwd);
      double curvature = path_curvature(r->path, point_ahead(r->path, here, speed * 0.3));
      double heading_error = std::atan2(dot(tangent, right), dot(tangent, fwd));  // + the path bears right
      double offset = r->lateral - r->side_offset - r->gate_aside - r->path[(size_t)here].keep_in;  // + we are right of it
      double accel = speed * speed * curvature - wy * wy * offset + 2 * zeta * wy * speed * std::sin(heading_error);
      double limit = std::fmin(bike.tuning.roll_limit_angle, 50 * PI / 180);
      steer = limit > 1e-3 ? std::atan(accel / G) / limit : 0;
      // Facing away from the path (after a fall, or run past it), the law
      // above no longer turns the bike: turn for the aim point instead.
      // A bank on the side it would turn to: round the other way.
      if (std::cos(heading_error) < TURN_BACK_COS) {
        double side = alpha > 0 ? 1.0 : -1.0;
        auto h = [&](double d) {
          return (double)height_at(*w.terrain, (float)(p.x + right.x * d), (float)(p.z + right.z * d));
        };
        if (h(6 * side) - h(0) > 1.5 && h(-6 * side) - h(0) < 1.5) side = -side;
        steer = side;
      }
    } else {
      steer = 2.0 * alpha;
    }
  }
  if (r->mistake_ticks > 0) steer += r->mistake_steer;
  bool tangled = r->touch_ticks > TANGLE_TICKS;
  // Rubbing at racing speed into a bend that turns towards the other bike,
  // leaning away from it runs wide off the line (and over the berm's lip):
  // there the robot holds its line and the one giving way drops back.
  bool racing_pace = speed > RUBBING_SPEED;
  bool bend_towards = false;
  if (tangled && racing_pace) {
    double k = path_curvature(r->path, point_ahead(r->path, r->nearest, speed * 0.5));
    bend_towards = std::fabs(k) > INSIDE_CURVATURE && (k > 0 ? 1 : -1) == r->touch_side;
  }
  if (tangled && !bend_towards) steer -= TANGLE_STEER * r->touch_side;
  if (speed < TOPPLED_SPEED) steer = clampd(steer, -WALKING_STEER, WALKING_STEER);
  // Off the gate every bike first drives straight ahead, as its neighbours
  // do: turning for the line at once, side by side, they collide.
  if (timing.gates_passed <= 1 && w.tick - r->start_tick - r->start_delay < START_STRAIGHT_TICKS) {
    DVec ahead = dvec(r->start_position) + dvec(r->start_heading) * 60.0;
    DVec to = horizontal(ahead - p);
    DVec right = cross(fwd, DVec{0, 1, 0});
    steer = clampd(2.0 * std::atan2(dot(to, right), dot(to, fwd)), -0.3, 0.3);
  }
  // The bars move at a rider's pace: snapping from lock to lock sets the
  // bike rocking.
  steer = clampd(steer, -1, 1);
  steer = clampd(steer, r->steer - STEER_RATE, r->steer + STEER_RATE);
  r->steer = (float)steer;
  control[CONTROL_STEER] = (float)steer;

  // 5. In the air.
  if (airborne(bike)) {
    fly(w, bike, p, v, control);
    return;
  }

  // Down a gear when the engine bogs (the automatic box waits for grip).
  if (!bike.neutral && bike.gear > 0 && engine_rpm(bike) < bike.model.engine_speed_marks[0] && (w.tick & 1))
    control[CONTROL_SHIFT] = -1;

  // 4. Speed.
  double want = planned_speed(*r, r->nearest, speed) * (timing.finished ? FINISHED_PACE : 1.0);
  double off = std::fabs(r->lateral - r->side_offset);
  want *= 1 - 0.5 * clampd((off - 2) / 10, 0, 1);
  want *= 1 - 0.5 * clampd((std::fabs(alpha) - 0.35) / 0.9, 0, 1);
  want *= 1 - clampd(LAP_END_SLOWING * (std::fabs(lap_end_need) - 0.5), 0, 0.3);
  want = std::fmax(want, 12.0);  // never stall on the track
  if (std::fabs(alpha) > PI / 2) want = 12.0;  // turning round for a path behind
  // Except behind or beside a bike it must not run into.
  want = std::fmin(want, cap);
  double error = want - speed;
  // Feel for grip: a spinning or locked rear wheel has no side grip left,
  // so the throttle (and the rear brake) back off until it bites again.
  double rear_slide = std::sqrt(length_squared(bike.wheel[WHEEL_REAR].sliding_velocity));
  bool rear_grounded = bike.wheel[WHEEL_REAR].depth > 0;
  if (rear_grounded && rear_slide > 8)
    r->throttle_cap = (float)std::fmax(r->throttle_cap - 0.04, speed < SPIN_SPEED ? 0.3 : 0.15);
  else if (!rear_grounded || rear_slide < 4) r->throttle_cap = (float)std::fmin(r->throttle_cap + 0.01, 1.0);
  // Grip is shared between turning and braking or driving: leaned over,
  // the robot squeezes the brakes and the throttle gently.
  // (At walking pace a lean is no turn's load: the bike leans on a bank.)
  double lean_share = clampd(std::fabs(bike_lean_angle(bike)) / 0.6, 0, 1) * clampd((speed - 6) / 10, 0, 1);
  double grip_left = 1 - 0.75 * lean_share * lean_share;
  if (error < -2) {
    double brake = clampd(-(error + 2) * 0.15, 0, 1) * grip_left;
    control[CONTROL_FRONT_BRAKE] = (float)brake;
    control[CONTROL_REAR_BRAKE] = (float)(rear_grounded && rear_slide > 8 ? 0 : brake * 0.6);
    r->throttle_integral = 0;
  } else {
    r->throttle_integral = clampd(r->throttle_integral + error * 0.002, -0.3, 0.4);
    control[CONTROL_THROTTLE] =
        (float)clampd(0.3 + 0.1 * error + r->throttle_integral, 0, r->throttle_cap * (0.4 + 0.6 * grip_left));
  }
  // (Not facing away from the path: that would ride it off further.)
  if (r->power_ticks > 0 && std::fabs(alpha) < PI / 2) {
    control[CONTROL_THROTTLE] = std::fmax(control[CONTROL_THROTTLE], r->throttle_cap);
    control[CONTROL_FRONT_BRAKE] = control[CONTROL_REAR_BRAKE] = 0;
  }
  // Toppled against a bank or another bike at walking pace: a foot down
  // pushes the bike upright (and off the other); only then does the
  // throttle drive it anywhere. When the foot does no good, after a while
  // the robot drives (or backs) out as it is.
  if (speed < TOPPLED_SPEED && std::fabs(bike_lean_angle(bike)) > TOPPLED_LEAN) {
    if (++r->topple_ticks < TOPPLE_TICKS) {
      control[CONTROL_SIT] = 1;
      control[CONTROL_THROTTLE] = 0;
    } else if (r->topple_ticks > 3 * TOPPLE_TICKS) {
      r->topple_ticks = 0;
    }
  } else {
    r->topple_ticks = 0;
  }
  // Tangled with another bike: both lean away from each other, and the
  // one in the higher slot drops back, so they come apart instead of
  // sliding on locked together.
  if (tangled) {
    // The one behind (or, level, the higher slot) gives way: it rolls off
    // and brakes if they are moving, backs out if they are not; the other
    // drives on. Each bike of a knot of three judges by the one it touches
    // last, so the front one always gets away first.
    if (r->touch_yield) {
      control[CONTROL_THROTTLE] = 0;
      if (speed > SLOW_BIKE_SPEED) {
        control[CONTROL_FRONT_BRAKE] = std::fmax(control[CONTROL_FRONT_BRAKE], 0.3f);
        control[CONTROL_REAR_BRAKE] = std::fmax(control[CONTROL_REAR_BRAKE], 0.2f);
      } else {
        control[CONTROL_FRONT_BRAKE] = control[CONTROL_REAR_BRAKE] = 0;
        control[CONTROL_BACK_UP] = 1;
      }
    } else if (!racing_pace) {
      control[CONTROL_FRONT_BRAKE] = control[CONTROL_REAR_BRAKE] = 0;
      control[CONTROL_THROTTLE] = (float)std::fmax(control[CONTROL_THROTTLE], 0.6 * r->throttle_cap);
    }
    // (At racing speed the one ahead rides its own pace, braking for the
    // bends as planned: driving on flat out into one, it runs wide.)
  }
}

void robot_controls(Robot* r, const RobotWorld& world, const Bike& bike, const BikeTiming& timing,
                    float control[ROBOT_CONTROLS]) {
  ride(r, world, bike, timing, control);
  if (world.racing) break_lock(*r, world, bike, control);
}

// --- choosing lines and building paths -------------------------------------------

void append_line_path(std::vector<PathPoint>* path, const RobotLine& line, int first) {
  int n = (int)line.points.size();
  if (first < 0) first = 0;
  auto push = [&](DVec q, double speed) {
    float s = 0;
    if (!path->empty()) {
      const Vec3 b = path->back().position;
      double dx = q.x - b.x, dz = q.z - b.z;
      s = path->back().s + (float)std::sqrt(dx * dx + dz * dz);
    }
    path->push_back(PathPoint{to_vec3(q), (float)speed, s, 0, 0});
  };
  for (int i = first; i + 1 < n; i++) {
    const LinePoint &a = line.points[(size_t)i], &b = line.points[(size_t)i + 1];
    int t0 = line_point_tick(line, i), t1 = line_point_tick(line, i + 1);
    double span = (t1 - t0) * TICK_SECONDS;
    int steps = (t1 - t0 + 4) / 8;
    if (steps < 1) steps = 1;
    DVec p0 = dvec(a.position), p1 = dvec(b.position), v0 = dvec(a.velocity), v1 = dvec(b.velocity);
    double s0 = length(horizontal(v0)), s1 = length(horizontal(v1));
    for (int k = 0; k < steps; k++) {
      double u = (double)k / steps, u2 = u * u, u3 = u2 * u;
      double h00 = 2 * u3 - 3 * u2 + 1, h10 = u3 - 2 * u2 + u, h01 = -2 * u3 + 3 * u2, h11 = u3 - u2;
      DVec q = p0 * h00 + v0 * (h10 * span) + p1 * h01 + v1 * (h11 * span);
      push(q, s0 + (s1 - s0) * u);
    }
  }
  if (n > 0) push(dvec(line.points[(size_t)n - 1].position), length(horizontal(dvec(line.points[(size_t)n - 1].velocity))));
}

void build_bootstrap_path(Robot* r, const RobotWorld& w, Vec3 start, int from, int to, const Vec3* via,
                          const Vec3* through) {
  r->mode = ROBOT_BOOTSTRAP;
  r->group = -1;
  r->line_slot = -1;
  r->path_serial++;
  r->path.clear();
  r->nearest = 0;
  const TimingGates& g = *w.gates;
  std::vector<DVec> knots{dvec(start)};
  if (via) knots.push_back(dvec(*via));
  if (from < 0) from = 0;
  if (to < from) to = from;
  int end_knot = 0;
  for (int gate = from; gate <= to + 2; gate++) {
    knots.push_back(dvec(gate == from && through ? *through : checkpoint_of_gate(g, gate).point));
    if (gate == to) end_knot = (int)knots.size() - 1;
  }
  // A Catmull-Rom curve through the knots, a point every 4 ft or so.
  std::vector<DVec> points;
  int n = (int)knots.size();
  for (int i = 0; i + 1 < n; i++) {
    DVec p0 = knots[(size_t)(i > 0 ? i - 1 : 0)], p1 = knots[(size_t)i], p2 = knots[(size_t)i + 1];
    DVec p3 = knots[(size_t)(i + 2 < n ? i + 2 : n - 1)];
    int steps = (int)(length(horizontal(p2 - p1)) / 4) + 1;
    for (int k = 0; k < steps; k++) {
      double u = (double)k / steps, u2 = u * u, u3 = u2 * u;
      DVec q = (p1 * 2 + (p2 - p0) * u + (p0 * 2 - p1 * 5 + p2 * 4 - p3) * u2 + (p1 * 3 - p0 - p2 * 3 + p3) * u3) * 0.5;
      points.push_back(q);
    }
    if (i + 1 == end_knot) r->path_end = (int)points.size();
  }
  points.push_back(knots.back());
  // Speeds: what the corner's grip and the ground's crests allow, no more
  // than a careful first ride.
  const double top = 58;
  size_t m = points.size();
  std::vector<double> s(m, 0), speed(m, top);
  for (size_t i = 1; i < m; i++) s[i] = s[i - 1] + length(horizontal(points[i] - points[i - 1]));
  for (size_t i = 1; i + 1 < m; i++) {
    DVec a = horizontal(points[i] - points[i - 1]), b = horizontal(points[i + 1] - points[i]);
    double la = length(a), lb = length(b);
    if (la < 1e-6 || lb < 1e-6) continue;
    double turn = std::acos(clampd(dot(a, b) / (la * lb), -1, 1));
    double curvature = turn / (0.5 * (la + lb));
    if (curvature > 1e-6) speed[i] = std::fmin(speed[i], std::sqrt(r->style.corner_grip / curvature));
  }
  // A crest throws the bike when v^2 x curvature passes g; stay under it.
  // Crests are the track's shape: ruts dug since are ridden through, not
  // planned for (seen at a 4 ft baseline each would read as a crest).
  for (size_t i = 0; i < m; i++) {
    auto h = [&](double ahead) {
      DVec dir = i + 1 < m ? normalized(horizontal(points[i + 1] - points[i]), DVec{0, 0, -1})
                           : normalized(horizontal(points[i] - points[i - 1]), DVec{0, 0, -1});
      return (double)undug_height_at(*w.terrain, (float)(points[i].x + dir.x * ahead), (float)(points[i].z + dir.z * ahead));
    };
    double crest = -(h(4) - 2 * h(0) + h(-4)) / 16;
    if (crest > 1e-4) speed[i] = std::fmin(speed[i], 0.85 * std::sqrt(G / crest));
  }
  for (size_t i = 0; i < m; i++) {
    Vec3 q = to_vec3(points[i]);
    q.y = height_at(*w.terrain, q.x, q.z);
    r->path.push_back(PathPoint{q, (float)std::fmax(speed[i], 12.0), (float)s[i], 0, 0});
  }
  if (r->path_end <= 0 || r->path_end > (int)r->path.size()) r->path_end = (int)r->path.size();
  fill_curvature(&r->path);
  fill_edges(&r->path, *w.terrain);
}

void fill_edges(std::vector<PathPoint>* path, const Terrain& terrain) {
  std::vector<PathPoint>& q = *path;
  std::vector<float> keep(q.size(), 0);
  for (size_t i = 0; i < q.size(); i++) {
    double k = path_curvature(q, (int)i);
    if (std::fabs(k) < INSIDE_CURVATURE) continue;
    DVec along = path_direction(q, (int)i, DVec{0, 0, -1});
    DVec out = cross(along, DVec{0, 1, 0}) * (k > 0 ? -1.0 : 1.0);  // away from the bend's centre
    const Vec3 at = q[i].position;
    auto h = [&](double d) { return (double)height_at(terrain, (float)(at.x + out.x * d), (float)(at.z + out.z * d)); };
    double ground = h(0);
    double drop = ground - std::fmin(h(EDGE_NEAR), h(EDGE_FAR));
    double in = clampd(drop - EDGE_DROP, 0, EDGE_KEEP_IN);
    keep[i] = (float)(k > 0 ? in : -in);
  }
  // Eased in and out over a few points either side, so the aim does not jump.
  for (size_t i = 0; i < q.size(); i++) {
    float v = 0;
    for (int d = -6; d <= 6; d++) {
      long j = (long)i + d;
      if (j < 0 || j >= (long)q.size()) continue;
      float w = keep[(size_t)j] * (1 - std::fabs(d) / 7.0f);
      if (std::fabs(w) > std::fabs(v)) v = w;
    }
    q[i].keep_in = v;
  }
}

namespace {

// Steepest climb (rise over run) riding straight from a to b, in 5 ft steps.
double steepest_climb(const Terrain& terrain, Vec3 a, Vec3 b) {
  double dx = b.x - a.x, dz = b.z - a.z;
  double length = std::sqrt(dx * dx + dz * dz);
  int steps = (int)(length / 5) + 1;
  double previous = height_at(terrain, a.x, a.z), steepest = 0;
  for (int k = 1; k <= steps; k++) {
    double u = (double)k / steps;
    double h = height_at(terrain, (float)(a.x + dx * u), (float)(a.z + dz * u));
    steepest = std::fmax(steepest, (h - previous) / (length / steps));
    previous = h;
  }
  return steepest;
}

}  // namespace

bool escape_route(const Terrain& terrain, Vec3 p, const Checkpoint& gate, Vec3* via, bool* has_via, Vec3* through) {
  // Points of the half-disc, well inside it.
  DVec dir = normalized(DVec{gate.direction.x, 0, gate.direction.z}, DVec{0, 0, -1});
  DVec across = cross(dir, DVec{0, 1, 0});
  double reach = std::fmax(gate.radius - 3.0, 1.0);
  auto span = [](Vec3 from, Vec3 to) {
    double dx = to.x - from.x, dz = to.z - from.z;
    return std::sqrt(dx * dx + dz * dz);
  };
  auto cost_of = [&](Vec3 from, Vec3 to) {
    return steepest_climb(terrain, from, to) + ESCAPE_LENGTH_COST * span(from, to);
  };
  double straight = cost_of(p, gate.point);
  double best = straight;
  bool found = false;
  for (int ai = 0; ai < 3; ai++) {
    for (int bi = -3; bi <= 3; bi++) {
      double along = reach * (0.15 + 0.35 * ai), side = reach * bi / 3.5;
      if (along * along + side * side > reach * reach) continue;
      Vec3 t{(float)(gate.point.x + dir.x * along + across.x * side), gate.point.y,
             (float)(gate.point.z + dir.z * along + across.z * side)};
      double direct = cost_of(p, t);
      if (direct < best - ESCAPE_GAIN) {
        best = direct;
        *through = t;
        *has_via = false;
        found = true;
      }
      for (int k = 0; k < 16; k++) {
        double h = k * PI / 8;
        for (double radius : {20.0, 40.0, 80.0}) {
          Vec3 v{(float)(p.x + std::sin(h) * radius), p.y, (float)(p.z + std::cos(h) * radius)};
          double c = std::fmax(steepest_climb(terrain, p, v), steepest_climb(terrain, v, t)) +
                     ESCAPE_LENGTH_COST * (span(p, v) + span(v, t));
          if (c < best - ESCAPE_GAIN) {
            best = c;
            *through = t;
            *via = v;
            *has_via = true;
            found = true;
          }
        }
      }
    }
  }
  return found;
}

// A bootstrap path from where the robot is; after a fall or being stuck
// (it may be off the track below a bank), by the gentlest way up to the
// gate ahead (escape_route). Riding the track, the checkpoints' way: a
// jump's face is steep too, and meant to be ridden.
void bootstrap_from(Robot* r, const RobotWorld& w, Vec3 start, int from, int to) {
  Vec3 via, through;
  bool has_via = false;
  bool trouble = r->in_trouble;
  r->in_trouble = false;
  if (trouble && from >= 0 && from <= to &&
      escape_route(*w.terrain, start, checkpoint_of_gate(*w.gates, from), &via, &has_via, &through))
    build_bootstrap_path(r, w, start, from, to, has_via ? &via : nullptr, &through);
  else
    build_bootstrap_path(r, w, start, from, to);
}

bool pick_line(Robot* r, const RobotWorld& w, const Bike& bike, int target) {
  r->picks++;
  r->side_offset = 0;
  int group = split_group(*w.gates, target);
  DVec p = body_position(bike, BODY_FRAME);
  DVec v = horizontal(body_velocity(bike, BODY_FRAME));
  DVec heading = length(v) > 5 ? normalized(v, heading_of(bike)) : heading_of(bike);
  Vec3 start = to_vec3(p);
  int from = r->seen_gates > 0 ? r->seen_gates : 0;
  if (group < 0 || group >= (int)w.store->groups.size()) {
    bootstrap_from(r, w, start, from, target);
    return false;
  }
  LineGroup& lines = w.store->groups[(size_t)group];
  double best_value = 1e300;
  for (const RobotLine& l : lines.lines)
    if (l.used) best_value = std::fmin(best_value, replacement_value(l));
  int chosen = -1, chosen_point = 0;
  double chosen_total = -1, chosen_score = 0, chosen_match = 0, chosen_last = 0;
  double sharpness = 1 + 8 * (1 - r->style.choice_noise);
  for (int i = 0; i < LINE_SLOTS; i++) {
    const RobotLine& l = lines.lines[i];
    if (!l.used) continue;
    // How well the line fits where the robot is and where it is going: its
    // nearest sample, and the heading there.
    int nearest = 0;
    double d2 = 1e300;
    for (size_t k = 0; k < l.points.size(); k++) {
      double dx = l.points[k].position.x - p.x, dz = l.points[k].position.z - p.z;
      if (dx * dx + dz * dz < d2) {
        d2 = dx * dx + dz * dz;
        nearest = (int)k;
      }
    }
    if (nearest + 1 >= (int)l.points.size()) continue;  // all of it lies behind
    // Facing across a line (after a fall, say) still leaves it worth
    // joining; facing back along it does not.
    DVec dir = normalized(horizontal(dvec(l.points[(size_t)nearest].velocity)), heading);
    double agree = dot(dir, heading);
    if (agree <= -0.5) continue;
    // Lines continue best from where they were ridden: the distance counts
    // most, then the heading, then how far the speed is off.
    double dv = length(horizontal(dvec(l.points[(size_t)nearest].velocity))) - length(v);
    double match = std::exp(-d2 / (MATCH_DISTANCE * MATCH_DISTANCE) - dv * dv / (MATCH_SPEED * MATCH_SPEED)) *
                   (agree + 0.5) / 1.5;
    double score = best_value / replacement_value(l);
    double last = l.last_picked < 0 ? 1000.0 : (w.tick - l.last_picked) * TICK_SECONDS;
    double recency = 1 - 0.3 * std::exp(-last / 4);
    double noise = 1 + r->style.choice_noise * (uniform(&r->random) - 0.5);
    double total = std::pow(score, sharpness) * match * recency * noise;
    if (total > chosen_total) {
      chosen_total = total;
      chosen = i;
      chosen_point = nearest;
      chosen_score = score;
      chosen_match = match;
      chosen_last = last;
    }
  }
  if (chosen < 0 || chosen_match < 0.01) {
    bootstrap_from(r, w, start, from, target);
    return false;
  }
  log_printf("auto pilot: picking %d score = %f match = %f last_picked = %f\n", chosen, chosen_score, chosen_match,
             chosen_last);
  note_line_picked(w.store, group, chosen, w.tick);
  r->mode = ROBOT_FOLLOWING;
  r->group = group;
  r->line_slot = chosen;
  r->path_serial++;
  r->path.clear();
  r->nearest = 0;
  append_line_path(&r->path, lines.lines[chosen], chosen_point > 0 ? chosen_point - 1 : 0);
  r->path_end = (int)r->path.size();
  // Look past the split along the fastest line of the next stretch, so the
  // braking for a corner just beyond it starts in time.
  int next_group = split_group(*w.gates, next_split_gate(*w.gates, target));
  if (next_group >= 0 && next_group < (int)w.store->groups.size()) {
    const LineGroup& after = w.store->groups[(size_t)next_group];
    int fastest = -1;
    for (int i = 0; i < LINE_SLOTS; i++)
      if (after.lines[i].used && (fastest < 0 || replacement_value(after.lines[i]) < replacement_value(after.lines[fastest])))
        fastest = i;
    if (fastest >= 0) append_line_path(&r->path, after.lines[fastest], 1);
  }
  smooth_path(&r->path, 0, SMOOTHING_PASSES);
  fill_curvature(&r->path);
  fill_edges(&r->path, *w.terrain);
  track_path(r, p);
  r->side_offset = (float)clampd(r->lateral, -MAX_SIDE_OFFSET, MAX_SIDE_OFFSET);
  return true;
}
