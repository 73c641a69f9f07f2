// Steering and balance aids, dabbing, realignment, arcade extras, backing up.
#include "bike/aids.h"

#include <cmath>

#include "bike/bike.h"
#include "core/message.h"

namespace {

constexpr double G = 32.0;
// Lean controller: the bars steer into an unwanted lean so the turn stands
// the bike back up, which also counter-steers into a requested lean. The
// gains place the roll dynamics of an inverted pendulum of this height at
// this natural frequency and damping ratio.
constexpr double CG_HEIGHT = 2.5;
constexpr double LEAN_OMEGA = 4.0;
constexpr double LEAN_ZETA = 0.8;
constexpr double MIN_CONTROL_SPEED = 6.0;  // ft/s: below it the law's gains stop growing
constexpr double MAX_LEAN_REQUEST = 50 * PI_D / 180;
// Balance motor torque ceiling.
constexpr double BALANCE_MAX_TORQUE = 6000;
// Dabbing: a foot on the ground holds the bike up, less so as speed rises.
constexpr double DAB_STIFFNESS = 3000;
constexpr double DAB_DAMPING = 500;
// Picking the bike up after a fall.
constexpr double REALIGN_RATE = 2.0;       // 1/s of orientation error
constexpr double REALIGN_MAX_SPIN = 1.5;   // rad/s
constexpr double REALIGN_TORQUE = 2500;    // lbf ft per axis
// Arcade: the rider's lean pitches the bike in the air.
constexpr double AIR_PITCH_TORQUE = 300;
// Backing up: the rider paddles the bike backwards with its feet.
constexpr double BACK_UP_FORCE = 60;
constexpr double BACK_UP_SPEED = 4;

double requested_lean(const Bike& b) {
  return clampd(b.input.steer, -1, 1) * std::fmin(b.tuning.roll_limit_angle, MAX_LEAN_REQUEST);
}

double heading_angle(DVec forward, DVec up) {
  if (forward.x * forward.x + forward.z * forward.z < 1e-12) forward = -up;
  return std::atan2(-forward.x, -forward.z);
}

DVec horizontal_forward(const Bike& b) {
  DVec f = bike_forward(b);
  DVec h{f.x, 0, f.z};
  if (length_squared(h) < 1e-12) {
    DVec u = bike_up(b);
    h = DVec{-u.x, 0, -u.z};
  }
  return normalized(h, DVec{0, 0, -1});
}

double since_landing_seconds(const Bike& b, int64_t tick) {
  if (b.landing_tick <= 0 || b.landing_tick < b.takeoff_tick) return 1e9;
  return (double)(tick - b.landing_tick) / TICKS_PER_SECOND;
}

dJointID make_world_motor(Bike* b, int axes) {
  dJointID m = dJointCreateAMotor(g_bike_world.world, g_bike_world.contacts);
  dJointAttach(m, b->body[BODY_FRAME], nullptr);
  dJointSetAMotorMode(m, dAMotorUser);
  dJointSetAMotorNumAxes(m, axes);
  return m;
}

const int VEL[3] = {dParamVel, dParamVel2, dParamVel3};
const int FMAX[3] = {dParamFMax, dParamFMax2, dParamFMax3};
const int CFM[3] = {dParamCFM, dParamCFM2, dParamCFM3};

// A damper of coefficient D about the axis that also pushes with the given
// torque: the motor's mixing makes its force D x (target - rate).
void set_motor_axis(dJointID m, int i, DVec axis, double torque, double D, double fmax) {
  if (!(D > 1e-6)) D = 1e-6;
  dJointSetAMotorAxis(m, i, 0, axis.x, axis.y, axis.z);
  dJointSetAMotorParam(m, VEL[i], torque / D);
  dJointSetAMotorParam(m, FMAX[i], fmax);
  dJointSetAMotorParam(m, CFM[i], 1.0 / D);
}

void steer(Bike* b, double speed, double lean, double roll_rate, double multiplier) {
  const BikeTuning& t = b->tuning;
  dJointID j = b->joint[JOINT_STEERING];
  double target = b->crash_timer > 0 ? 0.0 : steering_target(*b, speed, lean, roll_rate);
  double K = t.steering_strength * STEERING_STRENGTH_UNIT;
  double D = std::fmax(t.steering_damping * STEERING_DAMPING_UNIT * multiplier, 1e-3);
  double fmax = t.max_steering_force;
  if (b->crash_guard > 0) fmax = std::fmin(fmax, 200 * clampd((192 - b->crash_guard) / 192.0, 0, 1));
  if (b->crash_timer > 0) fmax = std::fmin(fmax, 20.0);  // bars flop, just straighten slowly
  double error = target - steering_angle(*b);
  dJointSetHingeParam(j, dParamVel, K * error / D);
  dJointSetHingeParam(j, dParamFMax, fmax);
  dJointSetHingeParam(j, dParamCFM, 1.0 / D);
}

void balance(Bike* b, double speed, double lean, double multiplier, bool grounded) {
  const BikeTuning& t = b->tuning;
  // Past lying flat no rider can hold the bike any more: it goes over.
  if (std::fabs(lean) >= PI_D / 2) return;
  DVec axis = horizontal_forward(*b);
  // Leveling pulls towards the lean the rider asks for (upright with the
  // bars straight); in the air it pulls upright so the bike lands on both
  // wheels.
  double settle = grounded ? requested_lean(*b) : 0.0;
  double torque = -t.leveling * LEVELING_UNIT * (lean - settle);
  double excess = std::fabs(lean) - t.roll_limit_angle;
  if (excess > 0) torque -= (lean > 0 ? 1 : -1) * t.roll_limit_factor * ROLL_LIMIT_UNIT * excess;
  double D = t.roll_damping * ROLL_DAMPING_UNIT * multiplier;
  if (b->dabbing) {
    double hold = clampd(1 - speed / std::fmax(t.max_dab_speed, 1.0), 0, 1);
    torque -= DAB_STIFFNESS * hold * lean;
    D += DAB_DAMPING * hold;
  }
  if (!(std::fabs(torque) > 0) && !(D > 0)) return;
  dJointID m = make_world_motor(b, 1);
  set_motor_axis(m, 0, axis, torque, D, BALANCE_MAX_TORQUE);
}

// Turns the frame upright about its heading; with "Realign After Fall" the
// bike is also turned back to the way it was going when the rider fell.
// Pitch is left alone so the wheels settle on a slope as they lie.
void realign(Bike* b, double lean) {
  double heading = heading_angle(bike_forward(*b), bike_up(*b));
  double turn = 0;
  if (b->tuning.auto_align) turn = std::remainder(b->crash_heading - heading, 2 * PI_D);
  double roll_spin = clampd(-REALIGN_RATE * lean, -REALIGN_MAX_SPIN, REALIGN_MAX_SPIN);
  double yaw_spin = clampd(REALIGN_RATE * turn, -REALIGN_MAX_SPIN, REALIGN_MAX_SPIN);
  dJointID m = make_world_motor(b, 2);
  DVec roll_axis = horizontal_forward(*b);
  dJointSetAMotorAxis(m, 0, 0, roll_axis.x, roll_axis.y, roll_axis.z);
  dJointSetAMotorParam(m, dParamVel, roll_spin);
  dJointSetAMotorParam(m, dParamFMax, REALIGN_TORQUE);
  dJointSetAMotorAxis(m, 1, 0, 0, 1, 0);
  dJointSetAMotorParam(m, dParamVel2, yaw_spin);
  dJointSetAMotorParam(m, dParamFMax2, REALIGN_TORQUE);
}

}  // namespace

double lock_angle(const BikeTuning& t, double v) {
  double full = PI_D / 4;
  double restricted = clampd(t.restricted_lock, 0, full);
  if (v <= t.full_lock_speed) return full;
  if (v >= t.restricted_lock_speed || t.restricted_lock_speed <= t.full_lock_speed) return restricted;
  double f = (v - t.full_lock_speed) / (t.restricted_lock_speed - t.full_lock_speed);
  return full + (restricted - full) * f;
}

double damping_multiplier(const BikeTuning& t, double v, double since_landing) {
  double m = 1;
  if (t.slow_damping_speed > 0 && v < t.slow_damping_speed) {
    // Full factor below three quarters of the speed, fading out to it.
    double f = clampd((t.slow_damping_speed - v) / (0.25 * t.slow_damping_speed), 0, 1);
    m *= 1 + (t.slow_damping_factor - 1) * f;
  }
  if (t.land_damping_falloff > 0 && since_landing < t.land_damping_falloff)
    m *= 1 + (t.land_damping_factor - 1) * (1 - since_landing / t.land_damping_falloff);
  return m;
}

double steering_target(const Bike& b, double v, double lean, double roll_rate) {
  const BikeTuning& t = b.tuning;
  const BikeModel& m = b.model;
  double steer = clampd(b.input.steer, -1, 1);
  double lock = lock_angle(t, v);
  double wheelbase = std::fabs((double)m.rear_axle.z - m.front_axle.z);
  DVec axis = b.steering_axis;
  double cos_rake = std::fabs(axis.y);

  // Angles in this function count positive for turning right.
  double want = requested_lean(b);
  double vc = std::fmax(v, MIN_CONTROL_SPEED);
  double gain = wheelbase / (vc * vc * cos_rake);
  double hold = gain * G * std::tan(want);
  double correct = gain * ((G + CG_HEIGHT * LEAN_OMEGA * LEAN_OMEGA) * (lean - want) +
                           2 * LEAN_ZETA * LEAN_OMEGA * CG_HEIGHT * roll_rate);
  double by_lean = clampd(hold + correct, -lock, lock);
  double direct = steer * lock;
  double ds = clampd(t.direct_steering, 0, 1);
  double right = (1 - ds) * by_lean + ds * direct;
  // At walking pace leaning does not steer a bike; the bars follow the input.
  double walk = clampd((v - 0.5 * t.full_lock_speed) / std::fmax(0.5 * t.full_lock_speed, 1e-3), 0, 1);
  right = walk * right + (1 - walk) * direct;
  return -clampd(right, -lock, lock);
}

bool wants_dab(const Bike& b, double speed) {
  if (b.crash_timer > 0 || speed >= b.tuning.max_dab_speed) return false;
  if (!(b.wheel[WHEEL_FRONT].depth > 0 || b.wheel[WHEEL_REAR].depth > 0)) return false;
  if (b.input.sit > 0.5f) return true;
  return b.tuning.auto_dab && speed < DAB_STOP_SPEED && b.input.throttle < 0.1f;
}

void update_aids(Bike* b, const Terrain& terrain, int64_t tick) {
  (void)terrain;
  DVec v = body_velocity(*b, BODY_FRAME);
  double speed = length(v);
  DVec axis = horizontal_forward(*b);
  double forward_speed = dot(v, axis);
  double lean = bike_lean_angle(*b);
  double roll_rate = dot(body_angular_velocity(*b, BODY_FRAME), axis);
  bool grounded = b->wheel[WHEEL_FRONT].depth > 0 || b->wheel[WHEEL_REAR].depth > 0;
  double multiplier = damping_multiplier(b->tuning, speed, since_landing_seconds(*b, tick));

  steer(b, speed, lean, roll_rate, multiplier);

  if (b->crash_timer > 0) {
    if (b->crash_timer < 512) realign(b, lean);
    return;
  }

  bool dab = wants_dab(*b, speed);
  if (dab && !b->dabbing && b->announce_messages) show_message("Dabbing!");
  b->dabbing = dab;
  b->status_text = dab ? "Dabbing!" : nullptr;
  balance(b, speed, lean, multiplier, grounded);

  if (b->tuning.arcade && !grounded && b->input.lean != 0) {
    DVec pitch_axis = mat_column(body_rotation(*b, BODY_FRAME), 0);
    DVec torque = pitch_axis * (AIR_PITCH_TORQUE * b->input.lean);
    dBodyAddTorque(b->body[BODY_FRAME], torque.x, torque.y, torque.z);
  }

  if (b->input.back_up > 0.5f && grounded && forward_speed > -BACK_UP_SPEED && forward_speed < BACK_UP_SPEED) {
    DVec push = axis * (-BACK_UP_FORCE * b->input.back_up);
    dBodyAddForce(b->body[BODY_FRAME], push.x, push.y, push.z);
  }
}
