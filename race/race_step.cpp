// The race step, the starting gates, the false start, the player's controls
// and the time-trial restart.
#include <algorithm>
#include <cmath>

#include "bike/bike.h"
#include "bike/bike_sim.h"
#include "bike/part_shapes.h"
#include "bike/roost.h"
#include "bike/tyre_contact.h"
#include "core/message.h"
#include "race/race.h"
#include "race/race_internal.h"
#include "track/track.h"

static_assert(RACE_CONTROLS == CONTROL_COUNT, "the robot seam passes the bike's control vector");

namespace {

// A robot's controls pass through the bike's own application, without the
// player's reversal and latch settings.
const ControlOptions ROBOT_CONTROL_OPTIONS = {false, false};

constexpr float GATE_FALL_ACCELERATION = 32.0f;  // per second per second, in fall angle
constexpr float GATE_FALL_MAX_SPEED = 8.0f;
constexpr double GATE_GRIP = 0.3;
constexpr int GATE_CONTACTS_PER_BIKE = 8;
constexpr int RESTART_RAISE_LIMIT = 400;  // 100 ft above the ground at most

bool online(const Race& r) { return r.seams.net.online && r.seams.net.online(r.seams.net.context); }

bool contacts_enabled(const Race& r) {
  if (!online(r)) return true;
  return r.seams.net.server_race_running && r.seams.net.server_race_running(r.seams.net.context);
}

Vec3 frame_position(const Bike& b) {
  DVec p = body_position(b, BODY_FRAME);
  return Vec3{(float)p.x, (float)p.y, (float)p.z};
}

// Sphere against the box: the contact pushing the sphere out, if any.
bool sphere_box_contact(const GateBox& box, DVec centre, double radius, DVec* point, DVec* normal, double* depth) {
  DVec d = centre - box.centre;
  double local[3], clamped[3];
  for (int i = 0; i < 3; i++) {
    local[i] = dot(d, box.axis[i]);
    clamped[i] = clampd(local[i], -box.half[i], box.half[i]);
  }
  DVec offset{0, 0, 0};
  for (int i = 0; i < 3; i++) offset += box.axis[i] * (local[i] - clamped[i]);
  double distance = length(offset);
  if (distance > 1e-9) {
    if (distance >= radius) return false;
    *normal = offset * (1.0 / distance);
    *depth = radius - distance;
    *point = centre - offset;
    return true;
  }
  // The centre lies inside: out through the nearest face.
  int axis = 0;
  double least = 1e300;
  for (int i = 0; i < 3; i++) {
    double room = box.half[i] - std::fabs(local[i]);
    if (room < least) {
      least = room;
      axis = i;
    }
  }
  *normal = box.axis[axis] * (local[axis] < 0 ? -1.0 : 1.0);
  *depth = radius + least;
  *point = centre;
  return true;
}

// The starting gates push the bikes that touch them; a touched gate stops falling.
void push_with_gates(Race* r) {
  const LoadedTrack& track = *r->track;
  for (size_t g = 0; g < r->gates.size() && g < track.gates.starting_gates.size(); g++) {
    GateBox box = starting_gate_box(track, (int)g, r->gates[g].angle);
    double reach = length(DVec{box.half[0], box.half[1], box.half[2]});
    for (int s = 0; s < MAX_BIKES; s++) {
      Bike* b = r->bikes[s];
      if (!b || r->mode[s] == RACE_SLOT_HISTORY || !b->enabled) continue;
      if (length(body_position(*b, BODY_FRAME) - box.centre) > BIKE_REACH + reach) continue;
      int contacts = 0;
      for (int body = 0; body < BODY_COUNT && contacts < GATE_CONTACTS_PER_BIKE; body++) {
        if (length(body_position(*b, body) - box.centre) > body_bound(*b, body) + reach) continue;
        WorldSphere spheres[SHAPE_MAX_SPHERES];
        int n = world_spheres(*b, body, spheres);
        for (int i = 0; i < n && contacts < GATE_CONTACTS_PER_BIKE; i++) {
          DVec point, normal;
          double depth;
          if (!sphere_box_contact(box, spheres[i].centre, spheres[i].radius, &point, &normal, &depth)) continue;
          add_part_contact(b->body[body], nullptr, point, normal, depth, GATE_GRIP, nullptr);
          contacts++;
          // A gate falls away from the riders: only something in front of
          // it, where it is falling, stops it. Riders pushing at its back
          // are held until the drop and then let go.
          if (dot(normal, box.axis[2]) < 0) r->gates[g].touched = true;
        }
      }
    }
  }
}

void animate_gates(Race* r) {
  const int D = r->gate_drop_tick;
  if (r->tick > D + GATE_PUSH_TICKS) return;
  for (GateFall& gate : r->gates) {
    if (r->tick < D) {
      gate.angle = 1.0f;
      gate.speed = 0.0f;
    } else if (gate.touched) {
      gate.speed = 0.0f;
    } else {
      gate.speed = std::min(gate.speed + (float)TICK_SECONDS * GATE_FALL_ACCELERATION, GATE_FALL_MAX_SPEED);
      gate.angle = std::max(gate.angle - (float)TICK_SECONDS * gate.speed, 0.0f);
    }
  }
}

// The occupied slots in an order rotated by the tick: the k-th of n is
// visited at position (k + tick) mod n.
void wheel_terrain_effects(Race* r) {
  if (!r->seams.wheel_terrain) return;
  int occupied[MAX_BIKES], n = 0;
  for (int s = 0; s < MAX_BIKES; s++)
    if (r->bikes[s]) occupied[n++] = s;
  if (n == 0) return;
  int order[MAX_BIKES];
  const int64_t tick = r->tick < 0 ? 0 : r->tick;
  for (int k = 0; k < n; k++) order[(int)((k + tick) % n)] = occupied[k];
  const int rate = std::max(0, r->wheel_terrain_rate);
  for (int p = 0; p < n; p++) {
    int times = rate / 100;
    if (rate % 100 != 0 && (int)(next_race_random(&r->random) % 100) < rate % 100) times++;
    for (int i = 0; i < times; i++) r->seams.wheel_terrain(r->seams.context, r->bikes[order[p]], r->track);
  }
}

void force_held_controls(Bike* b) {
  b->input.front_brake = 1;
  b->input.rear_brake = 1;
  b->input.back_up = 0;
  b->input.clutch = 0;
  b->input.throttle = 0;
  b->input.sit = 1;
}

// Online: moving 3 units from the start before the drop holds the bike
// until 15 s after it.
void false_start_step(Race* r) {
  const int s = r->local_slot;
  if (s < 0 || s >= MAX_BIKES || !r->bikes[s] || r->mode[s] != RACE_SLOT_LOCAL || r->timing[s].finished) return;
  Bike* b = r->bikes[s];
  if (r->penalty_hold == 0 && r->tick <= r->gate_drop_tick) {
    b->input.sit = 1;
    Vec3 d = frame_position(*b) - r->start_position;
    if (dot(d, d) >= FALSE_START_DISTANCE_SQUARED) {
      r->penalty_hold = r->gate_drop_tick + FALSE_START_PENALTY_TICKS - r->tick;
      show_message("15 second false start penalty");
    }
  }
  if (r->penalty_hold > 0) {
    r->penalty_hold--;
    force_held_controls(b);
  }
}

// Step 8 for the local rider of a time trial or practice.
void time_trial_lap(Race* r) {
  const int lap = race_lap_state(*r, r->local_slot).completed_laps;
  // The first lap runs from the gates: only the laps after it are timed.
  const int ticks = lap >= 2 ? race_lap_time(*r, r->local_slot, lap) : -1;
  bool faster = false;
  if (ticks > 0) {
    r->last_lap = ticks;
    faster = r->session_best_lap < 0 || ticks < r->session_best_lap;
    if (faster) r->session_best_lap = ticks;
    if (r->best_lap < 0 || ticks < r->best_lap) r->best_lap = ticks;
  }
  if (r->seams.replay.time_trial_lap) r->seams.replay.time_trial_lap(r->seams.replay.context, r, ticks, faster);
}

}  // namespace

GateBox starting_gate_box(const LoadedTrack& track, int gate, float fall_angle) {
  const StartingGate& g = track.gates.starting_gates[(size_t)gate];
  const double h = g.heading;
  const DVec forward{-std::sin(h), 0, -std::cos(h)};
  const DVec across{std::cos(h), 0, -std::sin(h)};
  DVec hinge{g.position.x + forward.x * GATE_LINE_AHEAD, g.position.y, g.position.z + forward.z * GATE_LINE_AHEAD};
  if (!track.terrain.heights.empty()) hinge.y = height_at(track.terrain, (float)hinge.x, (float)hinge.z);
  // Closed it stands up; falling it swings forward about the hinge, away
  // from the riders.
  const double up_angle = clampd(fall_angle, 0, 1) * (PI_D / 2);
  const DVec up{0, 1, 0};
  const DVec panel = up * std::sin(up_angle) + forward * std::cos(up_angle);
  const DVec face = up * std::cos(up_angle) - forward * std::sin(up_angle);
  GateBox box;
  box.axis[0] = across;
  box.axis[1] = panel;
  box.axis[2] = face;
  box.half[0] = GATE_WIDTH / 2;
  box.half[1] = GATE_HEIGHT / 2;
  box.half[2] = GATE_THICKNESS / 2;
  box.centre = hinge + panel * (GATE_HEIGHT / 2);
  return box;
}

bool bike_touches_ground(const Bike& b, const Terrain& terrain) {
  for (int w = 0; w < 2; w++) {
    const WheelShape& wheel = b.wheel[w];
    const int body = w == WHEEL_FRONT ? BODY_FRONT_WHEEL : BODY_REAR_WHEEL;
    DVec axle = mat_mul(body_rotation(b, body), wheel.axle_axis);
    TriangleContact hit;
    if (find_wheel_contact(terrain, body_position(b, body), axle, wheel.major_radius, wheel.minor_radius, &hit))
      return true;
  }
  for (int body = 0; body < BODY_COUNT; body++) {
    if (!b.shape[body]) continue;
    WorldSphere spheres[SHAPE_MAX_SPHERES];
    int n = world_spheres(b, body, spheres);
    for (int i = 0; i < n; i++) {
      const DVec& c = spheres[i].centre;
      if (c.y - spheres[i].radius < height_at(terrain, (float)c.x, (float)c.z)) return true;
    }
  }
  return false;
}

void race_step(Race* r) {
  if (!r->track || r->track->name.empty()) return;
  LoadedTrack& track = *r->track;
  const Terrain& terrain = track.terrain;
  const bool on_server = online(*r);

  // 1.
  if (r->seams.replay.history_step) r->seams.replay.history_step(r->seams.replay.context, r);
  // 2.
  for (int s = 0; s < MAX_BIKES; s++)
    if (r->bikes[s] && r->mode[s] != RACE_SLOT_HISTORY) bike_contact_step(r->bikes[s], terrain);
  // 3.
  if (contacts_enabled(*r)) {
    // Offline a history-driven bike is a demo's rider or a ghost: it
    // passes through the others.
    Bike* contact_bikes[MAX_BIKES];
    for (int s = 0; s < MAX_BIKES; s++)
      contact_bikes[s] = on_server || r->mode[s] != RACE_SLOT_HISTORY ? r->bikes[s] : nullptr;
    collide_bikes(contact_bikes);
  } else {
    for (Bike* b : r->bikes)
      if (b) b->bike_note_count = 0;
  }
  for (GateFall& gate : r->gates) gate.touched = false;
  if (r->tick <= r->gate_drop_tick + GATE_PUSH_TICKS) push_with_gates(r);
  // 4.
  wheel_terrain_effects(r);
  // 5.
  step_bike_world();
  if (on_server) false_start_step(r);

  // 6.
  bool local_lap = false;
  for (int s = 0; s < MAX_BIKES; s++) {
    Bike* b = r->bikes[s];
    if (!b) continue;
    emit_roost(&g_roost, b, terrain);
    if (r->mode[s] == RACE_SLOT_ROBOT) {
      float control[CONTROL_COUNT] = {};
      if (r->seams.robot.controls) r->seams.robot.controls(r->seams.robot.context, *r, s, control);
      apply_control_vector(b, control, ROBOT_CONTROL_OPTIONS);
    }
    if (r->mode[s] != RACE_SLOT_HISTORY) bike_force_update(b, terrain, r->tick);
    if (r->seams.bike_stepped) r->seams.bike_stepped(r->seams.context, s, *b);
    // Remote riders' timing comes from the server.
    if (on_server && r->mode[s] == RACE_SLOT_HISTORY) continue;
    RaceProgress progress = {false, r->lap_total};
    if (r->running_count > 0)
      progress.leader_passed_finishing_gate =
          passed_finishing_gate(track.gates, r->timing[r->running_order[0].slot], r->lap_total);
    GateStepResult result = gate_step(track.gates, &r->timing[s], frame_position(*b), r->tick, progress);
    if (r->seams.robot.record_line && (!on_server || s == r->local_slot))
      r->seams.robot.record_line(r->seams.robot.context, *r, s, result.gate);
    if (result.finished && s == r->local_slot && r->mode[s] == RACE_SLOT_LOCAL) {
      // The player's controls stop reaching the bike: it rolls out.
      b->input.throttle = 0;
      b->input.back_up = 0;
    }
    if (result.lap_completed) {
      update_standings(r);
      if (s == r->local_slot && (r->time_trial || r->practice)) local_lap = true;
    }
  }
  advance_roost(&g_roost, terrain);
  // 6 of the race flow: the gates fall.
  animate_gates(r);
  // 7.
  r->tick++;
  if (on_server && r->tick % ONLINE_STANDINGS_INTERVAL == ONLINE_STANDINGS_INTERVAL - 2) update_standings(r);
  // 8.
  if (local_lap) time_trial_lap(r);
}

void restart_attempt(Race* r) {
  const int s = r->local_slot;
  if (!r->time_trial || s < 0 || s >= MAX_BIKES || !r->bikes[s] || !r->track) return;
  if (r->seams.replay.close_demos) r->seams.replay.close_demos(r->seams.replay.context);
  for (int other = 0; other < MAX_BIKES; other++)
    if (other != s) race_remove_bike(r, other);
  const LoadedTrack& track = *r->track;
  const TimingGates& gates = track.gates;
  Bike* b = r->bikes[s];
  if (gates.timed) {
    const int gate = std::max(gates.first_lap - 2, 0);
    const Checkpoint& c = checkpoint_of_gate(gates, gate);
    const float heading = std::atan2(-c.direction.x, -c.direction.z);
    Vec3 at{c.point.x, height_at(track.terrain, c.point.x, c.point.z), c.point.z};
    place_bike(b, at, heading);
    for (int i = 0; i < RESTART_RAISE_LIMIT && bike_touches_ground(*b, track.terrain); i++) {
      at.y += RESTART_RAISE_STEP;
      place_bike(b, at, heading);
    }
    set_gates_passed(&r->timing[s], gate);
    r->timing[s].finished = false;
  } else {
    StartPlace place = starting_place(track, s);
    place_bike(b, place.position, place.heading);
  }
  r->best_lap = -1;
  update_standings(r);
  if (r->seams.replay.attempt_restarted) r->seams.replay.attempt_restarted(r->seams.replay.context, r);
}

void set_player_controls(Race* r, const RaceControls& c) {
  const int s = r->local_slot;
  if (s < 0 || s >= MAX_BIKES || !r->bikes[s] || r->mode[s] != RACE_SLOT_LOCAL) return;
  Bike* b = r->bikes[s];
  if (b->crash_timer > 0 || r->timing[s].finished) return;
  auto unit = [](float v) { return std::isfinite(v) ? std::clamp(v, 0.0f, 1.0f) : 0.0f; };
  auto signed_unit = [](float v) { return std::isfinite(v) ? std::clamp(v, -1.0f, 1.0f) : 0.0f; };
  b->input.steer = signed_unit(c.steer);
  b->input.front_brake = unit(c.front_brake);
  b->input.rear_brake = unit(c.rear_brake);
  b->input.throttle = unit(c.throttle);
  b->input.sit = unit(c.dab);
  b->input.back_up = unit(c.back_up);
  b->input.lean = signed_unit(c.lean);
  b->input.clutch = unit(c.clutch_engagement);
  b->input.shift = c.shift > 0 ? 1 : (c.shift < 0 ? -1 : 0);
}

void race_create_world() { create_bike_world(); }
void race_free_world() { destroy_bike_world(); }

void race_move_bike(Race* r, int slot, float dy) {
  if (slot < 0 || slot >= MAX_BIKES || !r->bikes[slot]) return;
  Bike* b = r->bikes[slot];
  for (int i = 0; i < BODY_COUNT; i++) {
    DVec p = body_position(*b, i);
    dBodySetPosition(b->body[i], p.x, p.y + dy, p.z);
  }
}

bool race_bike_collides(const Race& r, int slot) {
  if (slot < 0 || slot >= MAX_BIKES || !r.bikes[slot] || !r.track) return false;
  return bike_touches_ground(*r.bikes[slot], r.track->terrain);
}
