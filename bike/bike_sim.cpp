// The per-bike work of a tick and the control vector.
#include "bike/bike_sim.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "bike/aids.h"
#include "bike/bike.h"
#include "bike/drivetrain.h"
#include "bike/part_shapes.h"
#include "bike/rider.h"
#include "bike/roost.h"
#include "bike/ruts.h"
#include "bike/suspension.h"
#include "bike/tyre_contact.h"

namespace {

bool racing(const Bike* b) { return b && b->enabled && b->crash_timer == 0; }

// The solver's joint forces between the bike's own bodies should cancel; what
// is left over after a step (joint error, softness) is taken back off the
// frame so the assembly gains no momentum from its own joints.
void correct_joint_forces(Bike* b) {
  for (int i = 0; i < JOINT_COUNT; i++)
    if (!dJointGetBody(b->joint[i], 0) || !dJointGetBody(b->joint[i], 1)) return;
  DVec frame = body_position(*b, BODY_FRAME);
  DVec force{0, 0, 0}, torque{0, 0, 0};
  for (int i = 0; i < JOINT_COUNT; i++) {
    const dJointFeedback& f = b->joint_feedback[i];
    DVec f1 = dvec(f.f1), f2 = dvec(f.f2);
    DVec r1 = dvec(dBodyGetPosition(dJointGetBody(b->joint[i], 0))) - frame;
    DVec r2 = dvec(dBodyGetPosition(dJointGetBody(b->joint[i], 1))) - frame;
    force += f1 + f2;
    torque += dvec(f.t1) + dvec(f.t2) + cross(r1, f1) + cross(r2, f2);
  }
  dBodyAddForce(b->body[BODY_FRAME], -force.x, -force.y, -force.z);
  dBodyAddTorque(b->body[BODY_FRAME], -torque.x, -torque.y, -torque.z);
}

}  // namespace

void bike_contact_step(Bike* b, const Terrain& terrain) {
  if (!b || !b->enabled) return;
  make_part_contacts(b, terrain);
}

void collide_bikes(Bike* const bikes[MAX_BIKES]) {
  // Sweep along x to find the pairs near enough to touch, then test them in
  // slot order so the contacts are made in the same order every run.
  struct Entry {
    double x, z;
    int slot;
  };
  Entry entries[MAX_BIKES];
  int n = 0;
  for (int i = 0; i < MAX_BIKES; i++) {
    if (!bikes[i]) continue;
    bikes[i]->bike_note_count = 0;
    if (racing(bikes[i])) {
      DVec p = body_position(*bikes[i], BODY_FRAME);
      entries[n++] = Entry{p.x, p.z, i};
    }
  }
  std::sort(entries, entries + n, [](const Entry& a, const Entry& b) { return a.x < b.x || (a.x == b.x && a.slot < b.slot); });
  // Each pair packed as lower slot x 256 + higher slot, so sorting the keys
  // sorts the pairs in slot order.
  static uint32_t pairs[MAX_BIKES * (MAX_BIKES - 1) / 2];
  int count = 0;
  for (int a = 0; a < n; a++)
    for (int b = a + 1; b < n && entries[b].x - entries[a].x <= 2 * BIKE_REACH; b++) {
      if (std::fabs(entries[b].z - entries[a].z) > 2 * BIKE_REACH) continue;
      int lo = std::min(entries[a].slot, entries[b].slot), hi = std::max(entries[a].slot, entries[b].slot);
      pairs[count++] = (uint32_t)(lo * 256 + hi);
    }
  std::sort(pairs, pairs + count);
  for (int k = 0; k < count; k++) collide_bike_pair(bikes[pairs[k] / 256], bikes[pairs[k] % 256]);
}

void bike_force_update(Bike* b, const Terrain& terrain, int64_t tick) {
  if (!b || !b->enabled) return;
  make_wheel_contact(b, WHEEL_FRONT, terrain);
  make_wheel_contact(b, WHEEL_REAR, terrain);
  track_flight(b, tick);
  if (b->ticks_simulated > 0 && b->crash_timer == 0) correct_joint_forces(b);
  apply_suspension(b);
  update_drivetrain(b, tick);
  update_rider(b, terrain, tick);
  make_rider_links(b);
  update_feet(b, terrain);
  update_aids(b, terrain, tick);
  b->input.shift = 0;
  b->ticks_simulated++;
}

void apply_control_vector(Bike* b, const float c[CONTROL_COUNT], const ControlOptions& options) {
  if (!b || b->crash_timer > 0) return;
  BikeInputs& in = b->input;
  auto unit = [](float v) { return v < 0 ? 0.0f : (v > 1 ? 1.0f : v); };
  float steer = options.reverse_steering ? -c[CONTROL_STEER] : c[CONTROL_STEER];
  in.steer = steer < -1 ? -1 : (steer > 1 ? 1 : steer);
  in.front_brake = unit(c[CONTROL_FRONT_BRAKE]);
  in.rear_brake = unit(c[CONTROL_REAR_BRAKE]);
  in.throttle = unit(c[CONTROL_THROTTLE]);
  float dab = c[CONTROL_SIT];
  if (options.sticky_dab) {
    if (dab > 0.5f && !(b->previous_dab_input > 0.5f)) b->sticky_dab_latched = !b->sticky_dab_latched;
    in.sit = b->sticky_dab_latched ? 1.0f : 0.0f;
  } else {
    in.sit = unit(dab);
  }
  b->previous_dab_input = dab;
  in.back_up = unit(c[CONTROL_BACK_UP]);
  in.lean = c[CONTROL_LEAN] < -1 ? -1 : (c[CONTROL_LEAN] > 1 ? 1 : c[CONTROL_LEAN]);
  double e = clampd(1 - c[CONTROL_CLUTCH] * 1.1428571, 0, 1);
  double engaged = in.clutch < e ? in.clutch + 4 * TICK_SECONDS : e;
  in.clutch = (float)(engaged > 1 ? 1 : engaged);
  in.shift = c[CONTROL_SHIFT] > 0.5f ? 1 : (c[CONTROL_SHIFT] < -0.5f ? -1 : 0);
}

// Step 6 for every bike: roost, then the force update.
static void finish_bike_tick(Bike* const bikes[MAX_BIKES], const Terrain& terrain, int64_t tick) {
  for (int i = 0; i < MAX_BIKES; i++) {
    if (!bikes[i]) continue;
    emit_roost(&g_roost, bikes[i], terrain);
    bike_force_update(bikes[i], terrain, tick);
  }
}

void run_bike_tick(Bike* const bikes[MAX_BIKES], const Terrain& terrain, int64_t tick) {
  for (int i = 0; i < MAX_BIKES; i++)
    if (bikes[i]) bike_contact_step(bikes[i], terrain);
  collide_bikes(bikes);
  step_bike_world();
  finish_bike_tick(bikes, terrain, tick);
}

void run_bike_tick(Bike* const bikes[MAX_BIKES], Terrain* terrain, int64_t tick, float erosion) {
  for (int i = 0; i < MAX_BIKES; i++)
    if (bikes[i]) bike_contact_step(bikes[i], *terrain);
  collide_bikes(bikes);
  if (erosion > 0) {
    int order[MAX_BIKES];
    int n = wheel_terrain_order(bikes, tick, order);
    for (int k = 0; k < n; k++) erosion_step(bikes[order[k]], terrain, erosion);
  }
  step_bike_world();
  finish_bike_tick(bikes, *terrain, tick);
}

