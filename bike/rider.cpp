// Rider links, crash tests, the crash sequence and the feet.
#include "bike/rider.h"

#include <cmath>
#include <cstring>

#include "bike/bike.h"
#include "bike/tyre_contact.h"
#include "track/terrain.h"

namespace {

constexpr double LEG_LENGTH = 2.9;  // hip to foot, ft, legs straight
// Where a foot goes down beside the bike (build frame, right side).
constexpr double DAB_FOOT_X = 1.35;
constexpr double DAB_FOOT_Z = 3.7;

DVec frame_to_world(const Bike& b, DVec build_point) {
  return body_position(b, BODY_FRAME) +
         mat_mul(body_rotation(b, BODY_FRAME), build_point - b.build_position[BODY_FRAME]);
}

DVec rider_to_world(const Bike& b, DVec build_point) {
  return body_position(b, BODY_RIDER) +
         mat_mul(body_rotation(b, BODY_RIDER), build_point - b.build_position[BODY_RIDER]);
}

// A one-row soft contact between the rider and the frame along a frame axis,
// pushing the rider along +axis for a positive error.
void make_link(Bike* b, DVec axis_world, const RiderLink& link, double scale) {
  if (!(std::fabs(link.error) > 0)) return;
  double k = link.stiffness * scale, c = link.damping * scale;
  if (!(k > 0 || c > 0)) return;
  SoftContact soft = soft_contact(k, c);
  DVec n = link.error > 0 ? axis_world : -axis_world;
  DVec p = body_position(*b, BODY_RIDER);
  dContact contact;
  memset(&contact, 0, sizeof contact);
  contact.surface.mode = dContactSoftERP | dContactSoftCFM;
  contact.surface.mu = 0;
  contact.surface.soft_erp = soft.erp;
  contact.surface.soft_cfm = soft.cfm;
  contact.geom.pos[0] = p.x;
  contact.geom.pos[1] = p.y;
  contact.geom.pos[2] = p.z;
  contact.geom.normal[0] = n.x;
  contact.geom.normal[1] = n.y;
  contact.geom.normal[2] = n.z;
  contact.geom.depth = std::fabs(link.error);
  dJointID j = dJointCreateContact(g_bike_world.world, g_bike_world.contacts, &contact);
  dJointAttach(j, b->body[BODY_RIDER], b->body[BODY_FRAME]);
}

double heading_of(const Bike& b) {
  DVec f = bike_forward(b);
  if (f.x * f.x + f.z * f.z < 1e-12) f = -bike_up(b);
  // The bike faces (-sin h, 0, -cos h).
  return std::atan2(-f.x, -f.z);
}

}  // namespace

RiderOffset rider_offset(const Bike& b) {
  DVec rel = mat_mul_transposed(body_rotation(b, BODY_FRAME), body_position(b, BODY_RIDER) - body_position(b, BODY_FRAME));
  DVec built = b.build_position[BODY_RIDER] - b.build_position[BODY_FRAME];
  // The bike faces -Z, so "forward" is a smaller z; "down" a smaller y.
  return RiderOffset{built.z - rel.z, built.y - rel.y};
}

double rider_mass_scale(double rider_mass) { return rider_mass * 0.21333333333333335; }

RiderLink fore_aft_link(double z, double y, double sit, double lean, double zspring) {
  double target = clampd((0.5 + 0.5 * sit) * y - lean, -0.75, 0.75);
  RiderLink link;
  link.error = z - target;
  if (z < -0.75 || z >= 0.75) link.stiffness = 2500;
  else link.stiffness = std::fabs(z - target) * 100 + zspring * 600;
  // The mount joint's own compliance damps this direction.
  link.damping = 0;
  return link;
}

RiderLink vertical_link(double y, double sit, double yspring, double ydamping) {
  RiderLink link;
  link.error = y + 0.125 - 0.5 * sit;
  if (y > 0.5 || y < -0.75) {
    link.stiffness = 2500;
    link.damping = 2500;
  } else {
    link.stiffness = yspring * 400;
    link.damping = ydamping * 100;
  }
  return link;
}

double crash_tolerance(double A, double L) {
  double a = clampd((A - 0.559) * 7.9365087, 0, 1);
  double b = clampd((L - 0.25) * -8, 0, 1);
  return 1.5 - 0.5 * a * b;
}

void make_rider_links(Bike* b) {
  if (!b->rider_attached) return;
  const BikeTuning& t = b->tuning;
  double scale = rider_mass_scale(b->model.rider_mass);
  RiderOffset off = rider_offset(*b);
  const double* R = body_rotation(*b, BODY_FRAME);
  // The offset counts forward positive; the frame's +Z points backwards, so
  // a positive error (too far forward) pushes the rider along +Z.
  RiderLink fa = fore_aft_link(off.fore_aft, off.vertical, b->input.sit, b->input.lean, t.rider_zspring);
  make_link(b, mat_column(R, 2), fa, scale);
  // Positive vertical error means the rider sits too low: push it up.
  RiderLink up = vertical_link(off.vertical, b->input.sit, t.rider_yspring, t.rider_ydamping);
  make_link(b, mat_column(R, 1), up, scale);
  double k = (t.rider_zdamping * 30 + 5) * scale;
  dJointSetHinge2Param(b->joint[JOINT_RIDER_MOUNT], dParamSuspensionERP, 0);
  dJointSetHinge2Param(b->joint[JOINT_RIDER_MOUNT], dParamSuspensionCFM, 1.0 / k);
}

void track_flight(Bike* b, int64_t tick) {
  bool grounded = b->wheel[WHEEL_FRONT].depth > 0 || b->wheel[WHEEL_REAR].depth > 0;
  if (!grounded) {
    if (!b->airborne_falling && body_velocity(*b, BODY_FRAME).y < 0) {
      b->takeoff_tick = tick;
      b->airborne_falling = true;
    }
  } else if (b->airborne_falling) {
    b->landing_tick = tick;
    b->airborne_falling = false;
  }
}

void start_crash(Bike* b) {
  if (b->crash_timer > 0) return;
  b->crash_heading = heading_of(*b);
  detach_rider(b);
  for (int side = 0; side < 2; side++) {
    DVec p = frame_to_world(*b, dvec(b->model.rider_figure[FIGURE_RIGHT_FOOT + side]));
    b->feet[side].position = p;
    b->feet[side].velocity = body_point_velocity(*b, BODY_RIDER, p);
  }
  int index = b->crash_count < 15 ? b->crash_count : 15;
  b->crash_timer = 512 + b->extra_crash_delay[index];
  b->crash_held = 0;
  b->crash_count++;
  // The rider lets go: the throttle springs shut and the brakes come off.
  b->input.throttle = 0;
  b->input.front_brake = 0;
  b->input.rear_brake = 0;
  b->dabbing = false;
  b->status_text = nullptr;
}

bool update_rider(Bike* b, const Terrain& terrain, int64_t tick) {
  DVec v = body_velocity(*b, BODY_RIDER);
  int slot = (int)(tick & 3);
  DVec v_old = b->rider_velocity_ring[slot];
  b->rider_velocity_ring[slot] = v;

  if (b->crash_guard > 1) b->crash_guard--;
  else if (b->crash_guard < -1) b->crash_guard++;
  else b->crash_guard = 0;

  if (b->crash_timer == 0) {
    if (b->crash_guard < 0 || !b->rider_attached) return false;
    double t = 1.5;
    if (b->landing_tick >= b->takeoff_tick && b->landing_tick > 0) {
      double A = (double)(b->landing_tick - b->takeoff_tick) / TICKS_PER_SECOND;
      double L = (double)(tick - b->landing_tick) / TICKS_PER_SECOND;
      t = crash_tolerance(A, L);
    }
    DVec frame_v = body_point_velocity(*b, BODY_FRAME, body_position(*b, BODY_RIDER));
    bool separated = length(v - frame_v) > 31 * t;
    DVec accel = (v - v_old) * 32.0 + DVec{0, 32, 0};
    bool impact = b->ticks_simulated >= 4 && length(accel) > 1376 * t;
    bool upside_down = b->upside_down_crash;
    b->upside_down_crash = false;
    if (separated || impact || upside_down) {
      start_crash(b);
      return true;
    }
    return false;
  }

  // Crashed.
  b->upside_down_crash = false;
  double speed = length(v);
  if (b->crash_timer < 512) {
    // While being drawn back the rider moves with the bike; only its own
    // motion against the frame holds the clock.
    speed = length(v - body_point_velocity(*b, BODY_FRAME, body_position(*b, BODY_RIDER)));
  }
  // The clock waits for the rider to come to rest, but not for ever: a
  // bike rolling down a long slope drags its rider along at walking pace
  // for half a minute.
  if (speed < 2 || b->crash_held >= CRASH_HOLD_LIMIT) b->crash_timer--;
  else b->crash_held++;

  if (b->crash_timer > 0 && b->crash_timer < 512) {
    double strength = 5 * clampd((b->crash_timer - 128) / 384.0, 0, 1);
    DVec target = frame_to_world(*b, b->build_position[BODY_RIDER]);
    DVec target_v = body_point_velocity(*b, BODY_FRAME, target);
    double w = 2 * strength;
    dMass mass;
    dBodyGetMass(b->body[BODY_RIDER], &mass);
    DVec p = body_position(*b, BODY_RIDER);
    DVec pull = ((target - p) * (w * w) + (target_v - v) * (2 * w)) * mass.mass;
    pull.y += mass.mass * 32 * std::fmin(1.0, strength);
    dBodyAddForce(b->body[BODY_RIDER], pull.x, pull.y, pull.z);
    // Calm the tumbling so the rider arrives upright.
    DVec spin = body_angular_velocity(*b, BODY_RIDER) * (-2 * w * mass.I[0]);
    dBodyAddTorque(b->body[BODY_RIDER], spin.x, spin.y, spin.z);
  }
  if (b->crash_timer <= 0) {
    b->crash_timer = 0;
    reattach_rider(b);
    b->crash_guard = 192;
  }
  (void)terrain;
  return false;
}

void update_feet(Bike* b, const Terrain& terrain) {
  const BikeModel& m = b->model;
  double lean = bike_lean_angle(*b);
  int down_side = lean >= 0 ? 0 : 1;  // 0 = right foot
  if (b->crash_timer == 0) {
    for (int side = 0; side < 2; side++) {
      DVec p = frame_to_world(*b, dvec(m.rider_figure[FIGURE_RIGHT_FOOT + side]));
      if (b->dabbing && side == down_side) {
        double x = side == 0 ? DAB_FOOT_X : -DAB_FOOT_X;
        p = frame_to_world(*b, DVec{x, 0, DAB_FOOT_Z});
        p.y = height_at(terrain, (float)p.x, (float)p.z) + 0.25;
      }
      b->feet[side].velocity = body_point_velocity(*b, BODY_FRAME, p);
      b->feet[side].position = p;
    }
    return;
  }
  for (int side = 0; side < 2; side++) {
    Foot& f = b->feet[side];
    if (b->crash_timer <= 319 && side == down_side) {
      double x = side == 0 ? DAB_FOOT_X : -DAB_FOOT_X;
      DVec target = frame_to_world(*b, DVec{x, 0, DAB_FOOT_Z});
      target.y = height_at(terrain, (float)target.x, (float)target.z) + 0.25;
      f.velocity = (target - f.position) * 6.0;
    }
    f.velocity.y -= 32.0 / 128;
    f.position += f.velocity * (1.0 / 128);
    double ground = height_at(terrain, (float)f.position.x, (float)f.position.z) + 0.25;
    if (f.position.y < ground) {
      f.position.y = ground;
      f.velocity = DVec{0, 0, 0};
    }
    f.velocity = f.velocity * 0.9375;
    DVec hip = rider_to_world(*b, dvec(m.rider_figure[FIGURE_RIGHT_HIP + side]));
    DVec leg = f.position - hip;
    double len = length(leg);
    if (len > LEG_LENGTH) f.position = hip + leg * (LEG_LENGTH / len);
  }
}
