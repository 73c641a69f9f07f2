// Ride scripts, the path follower and the ride loop.
#include "tools/ride/ride.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "bike/bike.h"
#include "bike/proving_ground.h"
#include "bike/roost.h"
#include "track/terrain.h"
#include "track/timing_gates.h"

namespace {

int control_by_name(const char* name) {
  static const struct {
    const char* name;
    int index;
  } names[] = {{"steer", CONTROL_STEER},         {"throttle", CONTROL_THROTTLE}, {"front_brake", CONTROL_FRONT_BRAKE},
               {"rear_brake", CONTROL_REAR_BRAKE}, {"shift", CONTROL_SHIFT},      {"clutch", CONTROL_CLUTCH},
               {"sit", CONTROL_SIT},             {"back_up", CONTROL_BACK_UP},   {"lean", CONTROL_LEAN}};
  for (const auto& n : names)
    if (strcmp(n.name, name) == 0) return n.index;
  return -1;
}

bool number(const char* text, double* out) {
  if (!text || !*text) return false;
  char* end = nullptr;
  double v = strtod(text, &end);
  if (*end != '\0' || !std::isfinite(v)) return false;
  *out = v;
  return true;
}

bool fail(char* error, size_t size, int line, const char* why) {
  if (error && size) snprintf(error, size, "line %d: %s", line, why);
  return false;
}

constexpr int MAX_LINE = 1024;
constexpr int MAX_WORDS = 32;
constexpr size_t MAX_KEYS = 100000;

}  // namespace

bool parse_ride_script(const char* text, size_t size, RideScript* out, char* error, size_t error_size) {
  RideScript s;
  size_t pos = 0;
  int line_number = 0;
  while (pos < size) {
    line_number++;
    char line[MAX_LINE + 1];
    size_t n = 0;
    bool too_long = false;
    while (pos < size && text[pos] != '\n') {
      if (n < MAX_LINE) line[n++] = text[pos];
      else too_long = true;
      pos++;
    }
    if (pos < size) pos++;  // the line feed
    if (too_long) return fail(error, error_size, line_number, "line too long");
    line[n] = '\0';
    for (size_t i = 0; i < n; i++) {
      if (line[i] == '#') {
        line[i] = '\0';
        break;
      }
      if (line[i] == '\0') return fail(error, error_size, line_number, "NUL character");
    }
    char* words[MAX_WORDS];
    int count = 0;
    for (char* p = strtok(line, " \t\r"); p; p = strtok(nullptr, " \t\r")) {
      if (count == MAX_WORDS) return fail(error, error_size, line_number, "too many words");
      words[count++] = p;
    }
    if (count == 0) continue;
    const char* cmd = words[0];
    if (strcmp(cmd, "bike") == 0 || strcmp(cmd, "course") == 0) {
      if (count != 2 || strlen(words[1]) > 31) return fail(error, error_size, line_number, "expected one name");
      (cmd[0] == 'b' ? s.bike : s.course) = words[1];
    } else if (strcmp(cmd, "start") == 0) {
      if (count != 4 || !number(words[1], &s.start_x) || !number(words[2], &s.start_z) ||
          !number(words[3], &s.start_heading))
        return fail(error, error_size, line_number, "expected: start x z heading");
      s.has_start = true;
    } else if (strcmp(cmd, "duration") == 0) {
      if (count != 2 || !number(words[1], &s.duration) || s.duration <= 0 || s.duration > 3600)
        return fail(error, error_size, line_number, "expected a duration of 0 to 3600 seconds");
    } else if (strcmp(cmd, "setup") == 0) {
      double v;
      BikeSetup probe;
      if (count != 3 || !number(words[2], &v) || !set_setup_value(&probe, words[1], v))
        return fail(error, error_size, line_number, "expected: setup key value");
      s.setup.emplace_back(words[1], v);
    } else if (strcmp(cmd, "follow") == 0) {
      if (count < 2 || count > 3 || !number(words[1], &s.follow_speed) || s.follow_speed < 0 ||
          s.follow_speed > 200 || (count == 3 && strcmp(words[2], "keys") != 0))
        return fail(error, error_size, line_number, "expected: follow mph [keys]");
      s.follow_keys = count == 3;
    } else if (strcmp(cmd, "at") == 0 || strcmp(cmd, "ramp") == 0) {
      bool ramp = cmd[0] == 'r';
      int first = ramp ? 3 : 2;
      RideKey key{};
      key.ramp = ramp;
      if (count <= first || !number(words[1], &key.time) || key.time < 0 ||
          (ramp && (!number(words[2], &key.end) || key.end <= key.time)))
        return fail(error, error_size, line_number, ramp ? "expected: ramp t0 t1 control=a:b" : "expected: at t control=value");
      for (int w = first; w < count; w++) {
        char* eq = strchr(words[w], '=');
        if (!eq) return fail(error, error_size, line_number, "expected control=value");
        *eq = '\0';
        key.control = control_by_name(words[w]);
        if (key.control < 0) return fail(error, error_size, line_number, "unknown control");
        char* value = eq + 1;
        if (ramp) {
          char* colon = strchr(value, ':');
          if (!colon) return fail(error, error_size, line_number, "expected from:to");
          *colon = '\0';
          if (!number(value, &key.value) || !number(colon + 1, &key.to))
            return fail(error, error_size, line_number, "bad number");
        } else if (!number(value, &key.value)) {
          return fail(error, error_size, line_number, "bad number");
        }
        if (std::fabs(key.value) > 1e6 || std::fabs(key.to) > 1e6)
          return fail(error, error_size, line_number, "value out of range");
        if (s.keys.size() >= MAX_KEYS) return fail(error, error_size, line_number, "too many keys");
        s.keys.push_back(key);
      }
    } else {
      return fail(error, error_size, line_number, "unknown statement");
    }
  }
  *out = std::move(s);
  return true;
}

void script_controls(const RideScript& s, double t, float control[CONTROL_COUNT]) {
  for (int i = 0; i < CONTROL_COUNT; i++) control[i] = 0;
  for (const RideKey& k : s.keys) {
    if (t < k.time) continue;
    if (!k.ramp) {
      control[k.control] = (float)k.value;
    } else {
      double f = clampd((t - k.time) / (k.end - k.time), 0, 1);
      control[k.control] = (float)(k.value + (k.to - k.value) * f);
    }
  }
}

namespace {

constexpr double FOLLOW_SIDE_ACCELERATION = 11.0;  // ft/s^2 a bend may ask for
constexpr double FOLLOW_BRAKING = 12.0;            // ft/s^2 held while slowing
constexpr double FOLLOW_LOWEST = 14.0;             // ft/s, never planned slower
constexpr double LIP_SLOPE = 0.12;                 // a ramp steeper than this ...
constexpr double LIP_BREAK = 0.18;                 // ... whose slope falls this much throws the bike

constexpr double FOLLOW_IMPACT = 13.0;             // ft/s into the ground a landing may take
constexpr double FOLLOW_JUMP_REACH = 1.35;         // take-off speeds looked at, over the wanted speed
constexpr double FOLLOW_FACE_LOSS = 0.7;           // share of a face's climb the engine does not make up
constexpr size_t FOLLOW_RUN_UP = 120;              // ft before a face ridden at its speed
constexpr size_t FOLLOW_ROW_GAP = 30;              // three or more lips this close (ft) make a row
constexpr double FOLLOW_ROW_SPEED = 18.0;          // ft/s through a row of them

struct TakeOff {
  double speed = 0;   // ft/s
  size_t landing = 0; // sample where that flight comes down
};

// The speed (ft/s) for leaving the ground at `lip` along the profile h (one
// sample per foot): the middle of the speeds, up to `limit`, whose flights
// come down on a falling landing with less than FOLLOW_IMPACT along the
// ground's normal, so that a few ft/s either way still land on it; else
// the gentlest landing of all speeds up to `reach`. Speed 0 when no
// candidate really flies (a bump, not a jump).
TakeOff take_off_speed(const std::vector<double>& h, size_t lip, double reach, double limit) {
  const double rise = (h[lip] - h[lip - 3]) / 3;
  const double angle = std::atan(rise);
  TakeOff slowest_good, fastest_good, gentlest;
  double least = 1e300;
  bool any_flight = false;
  for (double v = FOLLOW_LOWEST; v <= reach + 1e-9; v += 1.0) {
    const double vx = v * std::cos(angle), vy = v * std::sin(angle);
    double impact = 1e300, ground = 0;
    size_t landing = 0;
    for (size_t k = 2; lip + k + 1 < h.size() && k < 400; k++) {
      const double t = (double)k / vx;
      const double y = h[lip] + vy * t - 0.5 * 32.0 * t * t;
      if (y > h[lip + k]) continue;
      if (k > 8) any_flight = true;
      ground = (h[lip + k + 1] - h[lip + k - 1]) / 2;
      impact = std::fabs(-vx * ground + (vy - 32.0 * t)) / std::hypot(ground, 1.0);
      landing = lip + k;
      break;
    }
    if (landing == 0) continue;
    if (impact < least - 0.25) {
      least = impact;
      gentlest = TakeOff{v, landing};
    }
    if (impact < FOLLOW_IMPACT && ground < -0.1 && v <= limit + 1e-9) {
      if (slowest_good.speed == 0) slowest_good = TakeOff{v, landing};
      fastest_good = TakeOff{v, landing};
    }
  }
  if (!any_flight) return TakeOff{};
  if (fastest_good.speed == 0) return gentlest;
  // The flight of the middle speed lands between the two.
  return TakeOff{0.5 * (slowest_good.speed + fastest_good.speed), fastest_good.landing};
}

}  // namespace

std::vector<float> plan_follow_speeds(const Vec3* p, int n, double top, const Terrain* terrain, bool closed,
                                      bool bends) {
  std::vector<float> limits((size_t)std::max(n, 0), (float)top);
  if (n < 3) return limits;
  // Take-off speeds are looked for up to this (the follower still keeps to
  // the speed it is given: a jump that needs more is taken at that).
  const double reach = std::min(top * FOLLOW_JUMP_REACH, 95.0);
  std::vector<float> bend((size_t)n, (float)reach);
  auto point = [&](int i) { return p[closed ? ((i % n) + n) % n : std::clamp(i, 0, n - 1)]; };
  // Bends: the circle through a point and its neighbours two away.
  for (int i = 0; i < n && bends; i++) {
    Vec3 a = point(i - 2), b = point(i), c = point(i + 2);
    double abx = b.x - a.x, abz = b.z - a.z, bcx = c.x - b.x, bcz = c.z - b.z, acx = c.x - a.x, acz = c.z - a.z;
    double d = std::hypot(abx, abz) * std::hypot(bcx, bcz) * std::hypot(acx, acz);
    if (d < 1e-9) continue;
    double k = 2 * std::fabs(abx * bcz - abz * bcx) / d;
    if (k > 1e-6) bend[(size_t)i] = (float)std::clamp(std::sqrt(FOLLOW_SIDE_ACCELERATION / k), FOLLOW_LOWEST, reach);
    limits[(size_t)i] = std::min((float)top, bend[(size_t)i]);
  }
  // Take-offs: the ground along the line a foot at a time.
  std::vector<bool> air((size_t)n, false);
  if (terrain && !terrain->heights.empty()) {
    std::vector<double> h;
    std::vector<int> owner;  // the line point each sample belongs to
    const int segments = closed ? n : n - 1;
    for (int i = 0; i < segments; i++) {
      Vec3 a = point(i), b = point(i + 1);
      int steps = std::max(1, (int)std::lround(std::hypot(b.x - a.x, b.z - a.z)));
      for (int k = 0; k < steps; k++) {
        float t = (float)k / (float)steps;
        h.push_back(height_at(*terrain, a.x + (b.x - a.x) * t, a.z + (b.z - a.z) * t));
        owner.push_back(i);
      }
    }
    std::vector<size_t> lips;
    for (size_t s = 3; s + 3 < h.size(); s++) {
      double before = (h[s] - h[s - 3]) / 3, after = (h[s + 3] - h[s]) / 3;
      if (before < LIP_SLOPE || before - after < LIP_BREAK) continue;
      // The lip itself: the last sample before the slope breaks.
      if ((h[s + 1] - h[s]) > before * 0.6) continue;
      // One lip per crest: a rounded one breaks over a few samples.
      if (!lips.empty() && s - lips.back() < 8) lips.back() = s;
      else lips.push_back(s);
    }
    auto foot_of = [&](size_t s) {
      size_t foot = s;
      while (foot > 1 && h[foot] - h[foot - 1] > LIP_SLOPE * 0.5) foot--;
      return foot;
    };
    size_t clear = 0;  // samples before this are flown over
    for (size_t j = 0; j < lips.size(); j++) {
      const size_t s = lips[j];
      if (s < clear) continue;
      // A row of lips close together (a rhythm section, whoops) is rolled
      // at an even, modest speed: landing in the middle of one is worse
      // than any speed lost.
      size_t last = j;
      while (last + 1 < lips.size() && lips[last + 1] - lips[last] < FOLLOW_ROW_GAP) last++;
      if (last >= j + 2) {
        const size_t from = foot_of(s) > 60 ? foot_of(s) - 60 : 0;
        for (int i = owner[from]; i <= owner[std::min(lips[last] + 10, owner.size() - 1)]; i++)
          limits[(size_t)i] = std::min(limits[(size_t)i], (float)FOLLOW_ROW_SPEED);
        j = last;
        continue;
      }
      const int at = owner[s];
      TakeOff jump = take_off_speed(h, s, reach, limits[(size_t)at]);
      if (jump.speed <= 0) continue;
      // The face costs speed: ride at it fast enough to leave the lip at
      // the take-off speed (the engine makes up part of the climb), and be
      // at that speed a little way before.
      const size_t foot = foot_of(s);
      const double climb = h[s] - h[foot];
      const float approach = (float)std::sqrt(jump.speed * jump.speed + 2 * 32.0 * climb * FOLLOW_FACE_LOSS);
      const size_t from = foot > FOLLOW_RUN_UP ? foot - FOLLOW_RUN_UP : 0;
      for (int i = owner[from]; i <= at; i++)
        if (!air[(size_t)i]) limits[(size_t)i] = std::min(bend[(size_t)i], std::max(limits[(size_t)i], approach));
      limits[(size_t)at] = std::min(bend[(size_t)at], approach);
      // In the air there is nothing to slow for: what the flight passes
      // over (the landing's own crest included) is not ridden.
      for (size_t k = s + 1; k <= jump.landing && k < owner.size(); k++)
        if (owner[k] != at) air[(size_t)owner[k]] = true;
      clear = jump.landing;
    }
  }
  for (int i = 0; i < n; i++)
    if (air[(size_t)i]) limits[(size_t)i] = std::max(limits[(size_t)i], std::min((float)top, bend[(size_t)i]));
  // Slow down in time for what comes next.
  const int passes = closed ? 2 : 1;
  for (int pass = 0; pass < passes; pass++)
    for (int i = n - 2 + (closed ? 1 : 0); i >= 0; i--) {
      Vec3 a = point(i), b = point(i + 1);
      double d = std::hypot(b.x - a.x, b.z - a.z);
      if (air[(size_t)i]) continue;
      float next = limits[(size_t)((i + 1) % n)];
      float reach = (float)std::sqrt((double)next * next + 2 * FOLLOW_BRAKING * d);
      if (reach < limits[(size_t)i]) limits[(size_t)i] = reach;
    }
  return limits;
}

void follow_path(PathFollower* f, const Bike& b, const ControlOptions& options, float control[CONTROL_COUNT]) {
  if (!f->points || f->count < 2) return;
  DVec p = body_position(b, BODY_FRAME);
  DVec v = body_velocity(b, BODY_FRAME);
  double speed = length(v);
  // Track the nearest line point in a window ahead of the last one, so the
  // follower can neither lose the line nor jump across the loop.
  auto distance2 = [&](int i) {
    double dx = f->points[i].x - p.x, dz = f->points[i].z - p.z;
    return dx * dx + dz * dz;
  };
  int nearest = f->next;
  for (int k = 1; k < 12; k++) {
    int i = (f->next + k) % f->count;
    if (distance2(i) < distance2(nearest)) nearest = i;
  }
  f->next = nearest;
  double lookahead = clampd(speed * 0.9, 20, 70);
  int target = nearest;
  for (int guard = 0; guard < f->count && distance2(target) < lookahead * lookahead; guard++)
    target = (target + 1) % f->count;
  Vec3 q = f->points[target];
  DVec to = normalized(DVec{q.x - p.x, 0, q.z - p.z}, DVec{0, 0, -1});
  DVec fwd = bike_forward(b);
  fwd = normalized(DVec{fwd.x, 0, fwd.z}, DVec{0, 0, -1});
  DVec right = cross(fwd, DVec{0, 1, 0});
  double error = std::atan2(dot(to, right), dot(to, fwd));
  double steer = clampd(1.6 * error, -1, 1);  // bike terms: positive turns right
  if (f->keys) steer = steer > 0.25 ? 1 : (steer < -0.25 ? -1 : 0);
  control[CONTROL_STEER] = (float)(options.reverse_steering ? -steer : steer);
  // Slow down for a sharp heading error, as a rider would.
  double want = f->speed * (1 - 0.5 * clampd(std::fabs(error) / 0.8, 0, 1));
  if (f->limits) {
    // The plan of this stretch and the next (each already allows for
    // braking down to the one after it), within the speed asked for.
    double plan = std::min({(double)f->limits[nearest], (double)f->limits[(nearest + 1) % f->count], f->speed});
    want = plan * (1 - 0.5 * clampd(std::fabs(error) / 0.8, 0, 1));
  }
  double gap = want - speed;
  f->integral = clampd(f->integral + gap * 0.002, -0.3, 0.5);
  control[CONTROL_THROTTLE] = (float)clampd(0.25 + 0.08 * gap + f->integral, 0, 1);
  // A spinning rear wheel: ease off until it hooks up (which also lets the
  // automatic box change up; it waits for grip).
  const WheelShape& rear = b.wheel[WHEEL_REAR];
  if (f->limits && rear.depth > 0 && length_squared(rear.sliding_velocity) > 9)
    control[CONTROL_THROTTLE] = std::min(control[CONTROL_THROTTLE], 0.45f);
  // With planned limits the brakes come in early: the plan counts on them.
  control[CONTROL_FRONT_BRAKE] = (float)clampd(-(gap + (f->limits ? 2 : 6)) * 0.1, 0, 1);
  control[CONTROL_REAR_BRAKE] = control[CONTROL_FRONT_BRAKE];
  if (f->limits) {
    // No front brake unless both wheels are down, and never all of it: a
    // grabbed front brake on a landing goes over the bars.
    const bool both_down = b.wheel[WHEEL_FRONT].depth > 0 && b.wheel[WHEEL_REAR].depth > 0;
    control[CONTROL_FRONT_BRAKE] = both_down ? std::min(control[CONTROL_FRONT_BRAKE], 0.6f) : 0.0f;
  }
}

bool load_ride_track(const char* track, Terrain* terrain, RideScript* script, char* error, size_t error_size) {
  auto fail = [&](const char* why) {
    if (error && error_size) snprintf(error, error_size, "%s: %s", track, why);
    return false;
  };
  if (!load_terrain(terrain, track, TerrainLoadOptions{GROUND_DIRECT, false, 0})) return fail("no terrain");
  TimingGates gates;
  clear_timing_gates(&gates);
  std::string name = std::string("@") + track + "/timing_gates";
  if (!read_timing_gates_file(&gates, name.c_str(), 0) || !gates.timed || gates.starting_gates.empty())
    return fail("no timed laps or no starting gates");
  if (!script->has_start) {
    const StartingGate& g = gates.starting_gates[gates.starting_gates.size() / 2];
    script->start_x = g.position.x + std::sin(g.heading) * 0.625;
    script->start_z = g.position.z + std::cos(g.heading) * 0.625;
    script->start_heading = g.heading * 180 / PI_D;
    script->has_start = true;
  }
  std::vector<Vec3> p = {vec3((float)script->start_x, 0, (float)script->start_z)};
  for (int g = 0; g < gates.first_lap + gates.normal_lap; g++) p.push_back(checkpoint_of_gate(gates, g).point);
  auto at = [&](int i) { return p[(size_t)std::clamp(i, 0, (int)p.size() - 1)]; };
  script->line.clear();
  for (int i = 0; i + 1 < (int)p.size(); i++)
    for (int k = 0; k < 6; k++) {
      // Catmull-Rom through the gates.
      float t = k / 6.0f, t2 = t * t, t3 = t2 * t;
      Vec3 a = at(i - 1), b = at(i), c = at(i + 1), d = at(i + 2);
      script->line.push_back(b * (1.5f * t3 - 2.5f * t2 + 1) + c * (-1.5f * t3 + 2 * t2 + 0.5f * t) +
                             a * (-0.5f * t3 + t2 - 0.5f * t) + d * (0.5f * t3 - 0.5f * t2));
    }
  return true;
}

bool start_ride(Ride* r, const Terrain& terrain, const RideScript& script, char* error, size_t error_size) {
  *r = Ride();
  r->terrain = &terrain;
  r->script = script;
  for (const auto& kv : script.setup) set_setup_value(&r->setup, kv.first.c_str(), kv.second);
  r->options.reverse_steering = r->setup.reverse_steering != 0;
  r->options.sticky_dab = r->setup.sticky_dab != 0;
  create_bike_world();
  clear_roost(&g_roost);
  r->bike = create_bike(script.bike.c_str(), 0, nullptr, nullptr, nullptr, nullptr, "1");
  Course course = COURSE_FLAT;
  CourseStart start = course_by_name(script.course.c_str(), &course) ? course_start(course) : CourseStart{};
  if (script.has_start) {
    start.position = Vec3{(float)script.start_x, 0, (float)script.start_z};
    start.heading = (float)(script.start_heading * PI_D / 180);
  }
  start.position.y = height_at(terrain, start.position.x, start.position.z);
  place_bike(r->bike, start.position, start.heading);
  if (!apply_setup(r->bike, r->setup, 0)) {
    if (error && error_size) snprintf(error, error_size, "setup refused");
    end_ride(r);
    return false;
  }
  if (script.follow_speed > 0) {
    if (!r->script.line.empty()) {
      r->follower.points = r->script.line.data();
      r->follower.count = (int)r->script.line.size();
      r->limits = plan_follow_speeds(r->follower.points, r->follower.count,
                                     script.follow_speed * FEET_PER_SECOND_PER_MPH, &terrain, false);
      r->follower.limits = r->limits.data();
    } else {
      r->follower.points = proving_ground_line(&r->follower.count);
    }
    r->follower.speed = script.follow_speed * FEET_PER_SECOND_PER_MPH;
    r->follower.keys = script.follow_keys;
    // Chase the nearest point first.
    double best = 1e300;
    for (int i = 0; i < r->follower.count; i++) {
      double dx = r->follower.points[i].x - start.position.x, dz = r->follower.points[i].z - start.position.z;
      if (dx * dx + dz * dz < best) {
        best = dx * dx + dz * dz;
        r->follower.next = i;
      }
    }
  }
  return true;
}

bool step_ride(Ride* r) {
  double t = r->tick * TICK_SECONDS;
  if (t >= r->script.duration) return false;
  float control[CONTROL_COUNT];
  if (r->follower.points) {
    float scripted[CONTROL_COUNT];
    script_controls(r->script, t, scripted);
    for (float& c : control) c = 0;
    follow_path(&r->follower, *r->bike, r->options, control);
    // Scripted values other than zero override the follower.
    for (int i = 0; i < CONTROL_COUNT; i++)
      if (scripted[i] != 0) control[i] = scripted[i];
  } else {
    script_controls(r->script, t, control);
  }
  for (int i = 0; i < CONTROL_COUNT; i++) r->control[i] = control[i];
  apply_control_vector(r->bike, control, r->options);
  Bike* bikes[MAX_BIKES] = {};
  bikes[0] = r->bike;
  run_bike_tick(bikes, *r->terrain, r->tick);
  advance_roost(&g_roost, *r->terrain);
  r->tick++;
  return true;
}

void end_ride(Ride* r) {
  delete_bike(r->bike);
  r->bike = nullptr;
  destroy_bike_world();
}

void write_telemetry_header(FILE* out) {
  fprintf(out,
          "tick,time,x,y,z,speed_mph,rpm,gear,throttle,front_brake,rear_brake,fork,swingarm,lean,steer,"
          "crash_timer\n");
}

void write_telemetry_row(FILE* out, const Ride& r) {
  const Bike& b = *r.bike;
  DVec p = body_position(b, BODY_FRAME);
  int gear = b.neutral ? 0 : b.gear + 1;
  fprintf(out, "%lld,%.4f,%.4f,%.4f,%.4f,%.3f,%.1f,%d,%.3f,%.3f,%.3f,%.4f,%.4f,%.4f,%.4f,%d\n",
          (long long)r.tick, r.tick * TICK_SECONDS, p.x, p.y, p.z, bike_speed(b) / FEET_PER_SECOND_PER_MPH,
          engine_rpm(b), gear, b.input.throttle, b.input.front_brake, b.input.rear_brake, fork_position(b),
          swingarm_angle(b), bike_lean_angle(b), steering_angle(b), b.crash_timer);
}

bool run_ride(const RideScript& script, const Terrain& terrain, const std::function<void(Ride&)>& each,
              const std::function<void(Ride&)>& before, char* error, size_t error_size) {
  Ride ride;
  if (!start_ride(&ride, terrain, script, error, error_size)) return false;
  if (before) before(ride);
  while (step_ride(&ride))
    if (each) each(ride);
  end_ride(&ride);
  return true;
}

namespace {

double ride_mph(const Ride& r) { return bike_speed(*r.bike) / FEET_PER_SECOND_PER_MPH; }

bool flat_script(const char* model, double duration, RideScript* script, char* error, size_t error_size) {
  char text[160];
  snprintf(text, sizeof text, "course flat\nduration %g\nat 0.5 throttle=1\nbike %s\n", duration, model);
  return parse_ride_script(text, strlen(text), script, error, error_size);
}

}  // namespace

bool measure_full_throttle(const char* model, const Terrain& flat, SprintFigures* out, char* error,
                           size_t error_size) {
  RideScript script;
  if (!flat_script(model, 16, &script, error, error_size)) return false;
  SprintFigures a;
  bool ok = run_ride(
      script, flat,
      [&](Ride& r) {
        double t = r.tick * TICK_SECONDS - 0.5, v = ride_mph(r);
        if (v >= 30 && a.to30 == 0) a.to30 = t;
        if (v >= 60 && a.to60 == 0) a.to60 = t;
        if (v > a.top) a.top = v, a.top_rpm = r.bike->engine_speed * 60 / (2 * PI_D);
        if (r.bike->crash_timer > 0) a.crashed = true;
      },
      nullptr, error, error_size);
  *out = a;
  return ok;
}

bool measure_braking(const char* model, const Terrain& flat, double from_mph, BrakingFigures* out, char* error,
                     size_t error_size) {
  RideScript script;
  if (!flat_script(model, 14, &script, error, error_size)) return false;
  BrakingFigures b;
  double start_z = 0, braking_at = -1;
  bool ok = run_ride(
      script, flat,
      [&](Ride& r) {
        double t = r.tick * TICK_SECONDS;
        if (braking_at < 0 && ride_mph(r) >= from_mph) {
          braking_at = t;
          start_z = body_position(*r.bike, BODY_FRAME).z;
          r.script.keys.push_back(RideKey{t, 0, CONTROL_THROTTLE, 0, 0, false});
          r.script.keys.push_back(RideKey{t, 0, CONTROL_FRONT_BRAKE, 1, 0, false});
          r.script.keys.push_back(RideKey{t, 0, CONTROL_REAR_BRAKE, 1, 0, false});
        }
        if (braking_at >= 0 && !b.stopped && ride_mph(r) < 0.5) {
          b.stopped = true;
          b.distance = start_z - body_position(*r.bike, BODY_FRAME).z;
        }
        if (r.bike->crash_timer > 0) b.crashed = true;
      },
      nullptr, error, error_size);
  *out = b;
  return ok;
}
