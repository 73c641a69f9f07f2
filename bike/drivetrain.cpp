// Engine, clutch, gearbox and brakes.
#include "bike/drivetrain.h"

#include <cmath>

#include "bike/bike.h"

namespace {

double wrap_angle(double a) {
  if (a > PI_D) a -= 2 * PI_D;
  else if (a < -PI_D) a += 2 * PI_D;
  return a;
}

// Walking pace: below it the gearbox may be put in neutral.
constexpr double NEUTRAL_SPEED = 3.0;

}  // namespace

double engine_torque(const BikeModel& m, double rpm, double throttle) {
  double x = clampd(rpm * 0.002, 0, TORQUE_TABLE_ENTRIES - 1);
  int i = (int)std::floor(x);
  double f = x - i;
  int j = i + 1 < TORQUE_TABLE_ENTRIES ? i + 1 : TORQUE_TABLE_ENTRIES - 1;
  double closed = m.closed_torque[i] + (m.closed_torque[j] - m.closed_torque[i]) * f;
  double open = m.full_torque[i] + (m.full_torque[j] - m.full_torque[i]) * f;
  return closed + (open - closed) * throttle;
}

double clutch_engagement(double rpm, double input, double Ra) {
  if (rpm <= Ra + 2000) return std::fmin(clampd((rpm - Ra) / 2000, 0, 1), input);
  return input;
}

double overall_reduction(const Bike& b, int gear) {
  return b.model.primary_reduction * b.model.gear_ratio[gear] * b.tuning.final_drive;
}

DrivetrainStep drivetrain_step(double we, double q, double Te, double clutch_input, double Ra, double G, double Kd,
                               double Cd, double I, double axle_angle, double ww) {
  double rpm = we * RPM_PER_RAD_PER_SECOND;
  double c = clutch_engagement(rpm, clutch_input, Ra);
  double d = wrap_angle(q - axle_angle);
  double T = clampd((we - G * ww) * Cd, -500, 500) + Kd * d;
  // Engine braking: the automatic clutch does not open under a trailing load.
  if (T < 0) c = clutch_input;
  T = clampd(T, -1e6, 1e6);
  double limit = c * PI_D / 4;
  if (d > limit) q = axle_angle + limit;
  else if (d < -limit) q = axle_angle - limit;
  double Tw = c * c * T;
  we += TICK_SECONDS * (Te - Tw / G) / I;
  q += TICK_SECONDS * we / G;
  q = wrap_angle(wrap_angle(q));
  return DrivetrainStep{we, q, Tw, c};
}

int automatic_gear(const BikeModel& m, int g, double r) {
  if (r < m.engine_speed_marks[0]) g--;
  else if (r > m.engine_speed_marks[1]) g++;
  if (g < 0) g = 0;
  if (g > GEAR_COUNT - 1) g = GEAR_COUNT - 1;
  while (g > 0 && !(m.gear_ratio[g] > 0)) g--;
  return g;
}

void manual_shift(Bike* b, int shift, double speed) {
  bool rising = shift != 0 && shift != b->previous_shift;
  b->previous_shift = shift;
  if (!rising) return;
  int top = bike_gear_count(b->model) - 1;
  bool may_neutral = !b->tuning.auto_shift && speed < NEUTRAL_SPEED;
  if (shift > 0) {
    if (b->neutral) b->neutral = false;
    else if (b->gear < top) b->gear++;
  } else {
    if (b->neutral) return;
    if (b->gear > 0) b->gear--;
    else if (may_neutral) b->neutral = true;
  }
}

BrakeLimits brake_limits(const Bike& b) {
  const WheelShape& front = b.wheel[WHEEL_FRONT];
  const WheelShape& rear = b.wheel[WHEEL_REAR];
  double f = b.tuning.brake_torque * b.input.front_brake;
  if (b.tuning.front_brake_mode == BRAKE_ANTILOCK && front.depth > 0 && length_squared(front.sliding_velocity) > 4)
    f = 0;
  if (b.tuning.stop_wheelies != STOP_WHEELIES_NO && front.depth > 0 && !(rear.depth > 0)) f = 0;
  double r = b.tuning.rear_brake_torque * b.input.rear_brake;
  if (b.tuning.rear_brake_mode == BRAKE_ANTILOCK && rear.depth > 0 && length_squared(rear.sliding_velocity) > 4)
    r = 0;
  return BrakeLimits{f, r};
}

bool wheelie_cut_active(const Bike& b) {
  if (b.tuning.stop_wheelies != STOP_WHEELIES_YES) return false;
  if (b.wheel[WHEEL_FRONT].depth > 0 || !(b.wheel[WHEEL_REAR].depth > 0)) return false;
  DVec w = body_angular_velocity(b, BODY_FRAME);
  double pitch_rate = dot(w, mat_column(body_rotation(b, BODY_FRAME), 0));
  return pitch_rate > -0.03125;
}

void update_drivetrain(Bike* b, int64_t tick) {
  const BikeModel& m = b->model;
  double rpm = engine_rpm(*b);
  double Te = engine_torque(m, rpm, b->input.throttle);
  if (Te > 0 && wheelie_cut_active(*b)) Te = 0;
  b->engine_torque = Te;

  double G = overall_reduction(*b, b->gear);
  double clutch = b->neutral ? 0.0 : b->input.clutch;
  DrivetrainStep s = drivetrain_step(b->engine_speed, b->drivetrain_angle, Te, clutch, b->tuning.auto_clutch_rpms,
                                     G, m.drivetrain_stiffness, m.drivetrain_damping, m.engine_inertia,
                                     wheel_spin_angle(*b, WHEEL_REAR), wheel_spin_rate(*b, WHEEL_REAR));
  // An engine never turns backwards; it stalls at zero instead.
  b->engine_speed = std::fmax(s.engine_speed, 0.0);
  b->drivetrain_angle = s.drivetrain_angle;
  b->drive_torque = s.wheel_torque;
  b->clutch_engagement = s.engagement;
  if (s.wheel_torque != 0) {
    dBodyAddRelTorque(b->body[BODY_REAR_WHEEL], -s.wheel_torque, 0, 0);
    dBodyAddRelTorque(b->body[BODY_FRAME], s.wheel_torque, 0, 0);
  }

  // Gear changes: the rider's request, then four times a second the
  // automatic box when it is on.
  if (b->crash_timer == 0) manual_shift(b, b->input.shift, bike_speed(*b));
  const WheelShape& rear = b->wheel[WHEEL_REAR];
  if (b->tuning.auto_shift && !b->neutral && tick % 32 == 0 && swingarm_angle(*b) < -0.01 &&
      (!(rear.depth > 0) || length_squared(rear.sliding_velocity) <= 4)) {
    double r = m.gear_ratio[b->gear] * m.primary_reduction * b->tuning.final_drive * wheel_spin_rate(*b, WHEEL_REAR) *
               9.549296;
    b->gear = automatic_gear(m, b->gear, r);
  }

  BrakeLimits brakes = brake_limits(*b);
  dJointSetHingeParam(b->joint[JOINT_FRONT_AXLE], dParamVel, 0);
  dJointSetHingeParam(b->joint[JOINT_FRONT_AXLE], dParamFMax, brakes.front);
  dJointSetHingeParam(b->joint[JOINT_REAR_AXLE], dParamVel, 0);
  dJointSetHingeParam(b->joint[JOINT_REAR_AXLE], dParamFMax, brakes.rear);
}
