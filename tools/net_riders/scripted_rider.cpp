#include "tools/net_riders/scripted_rider.h"

#include <cmath>

#include "track/track.h"

namespace {

// The point the rider steers for: inside the half-disc of the gate it must
// pass next, a little on the side the gate's direction points to.
Vec3 gate_target(const ScriptedRider& r) {
  const TimingGates& g = r.track->gates;
  const Checkpoint& c = g.checkpoints[(size_t)(g.sequence[(size_t)folded_gate(g, r.timing.gates_passed)] % NO_SPLIT_MARK)];
  float dx = c.direction.x, dz = c.direction.z;
  float length = std::sqrt(dx * dx + dz * dz);
  if (length > 0) {
    dx /= length;
    dz /= length;
  }
  const float into = c.radius * 0.4f;
  // Sideways across the gate (perpendicular to its direction), within its radius.
  float side = std::fmax(-c.radius * 0.5f, std::fmin(c.radius * 0.5f, r.lateral));
  return Vec3{c.point.x + dx * into - dz * side, c.point.y, c.point.z + dz * into + dx * side};
}

float ground(const ScriptedRider& r, float x, float z) { return height_at(r.track->terrain, x, z); }

}  // namespace

void start_scripted_rider(ScriptedRider* r, const LoadedTrack& track, const RecordScale& scale, int slot,
                          float speed) {
  r->track = &track;
  r->scale = scale;
  r->model = default_record_model();
  r->speed = speed;
  r->lateral = (float)((slot % 5) - 2) * 0.8f;
  reset_bike_timing(&r->timing);
  const std::vector<StartingGate>& gates = track.gates.starting_gates;
  const Terrain& t = track.terrain;
  if (!gates.empty()) {
    const int count = (int)gates.size();
    const StartingGate& gate = gates[(size_t)(slot % count)];
    const float row = (float)(slot / count) + 0.0625f;
    r->heading = gate.heading;
    r->position = Vec3{gate.position.x + std::sin(gate.heading) * row * 10.0f, gate.position.y,
                       gate.position.z + std::cos(gate.heading) * row * 10.0f};
  } else {
    const float centre = t.spacing * (float)(t.N - 1) * 0.5f;
    r->heading = 0.0f;
    r->position = Vec3{centre + 5.0f * (float)slot, 0.0f, centre};
  }
  r->position.y = ground(*r, r->position.x, r->position.z) + 1.5f;
}

GateStepResult step_scripted_rider(ScriptedRider* r, int tick, int gate_drop_tick, const RaceProgress& race) {
  GateStepResult none = {-1, false, false};
  if (!r->track->gates.timed || r->timing.finished) return none;
  if (tick > gate_drop_tick) {
    Vec3 target = gate_target(*r);
    float dx = target.x - r->position.x, dz = target.z - r->position.z;
    float distance = std::sqrt(dx * dx + dz * dz);
    float step = r->speed * (float)TICK_SECONDS;
    if (distance > 1e-4f) {
      float f = distance < step ? 1.0f : step / distance;
      r->position.x += dx * f;
      r->position.z += dz * f;
      r->heading = std::atan2(-dx, -dz);
    }
    r->position.y = ground(*r, r->position.x, r->position.z) + 1.5f;
  }
  return gate_step(r->track->gates, &r->timing, r->position, tick, race);
}

StateRecord scripted_record(const ScriptedRider& r) {
  BikeState s = {};
  const DQuat yaw = quat_axis_angle(dvec(0, 1, 0), r.heading);
  for (int b = 0; b < STATE_BODIES; b++) {
    s.position[b] = dvec(r.position);
    s.orientation[b] = yaw;
  }
  s.position[STATE_RIDER] = dvec(r.position) + dvec(0, 2.0, 0);
  s.engine_speed = 600.0;
  s.gear = 2;
  s.throttle = 0.6f;
  return encode_state(s, r.model, r.scale, nullptr);
}
