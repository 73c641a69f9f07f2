// Fork and shock force laws.
#include "bike/suspension.h"

#include <cmath>

#include "bike/bike.h"

namespace {
constexpr double BAND_LOW = 0.125;
constexpr double BAND_HIGH = 8;
constexpr double AIR_SCALE = 82.4616928100586;
constexpr double AIR_EXPONENT = 1.399999976158142;  // 1.4 as the single-precision constant
constexpr double MOTOR_SPEED = 100;
}  // namespace

double damping_force(double s, double compression, double slow_compression, double rebound, double slow_rebound) {
  if (s < 0) {
    double D = -s * compression;
    return clampd(slow_compression + D, D * BAND_LOW, D * BAND_HIGH);
  }
  double D = -s * rebound;
  return clampd(D - slow_rebound, D * BAND_HIGH, D * BAND_LOW);
}

double fork_air_spring(double x, double travel, double air_length) {
  double L = travel + air_length;
  double xa = clampd(x, 0, travel);
  return AIR_SCALE * (std::pow(L / (L - xa), AIR_EXPONENT) - 1);
}

double fork_force(const ForkParameters& f, double p, double v) {
  double x = -p;
  double spring = f.spring * (f.preload - p);
  double damping = damping_force(v, f.compression, f.slow_compression, f.rebound, f.slow_rebound);
  double air = fork_air_spring(x, f.travel, f.air_length);
  double fade = clampd(32 * x / f.travel, 0, 1);
  return (spring + damping + air) * fade;
}

LinkagePoint linkage_curve(const LinkageParameters& l, double u) {
  double Lg, t, y0, y1, g0, g1;
  if (u <= l.knee) {
    Lg = l.knee;
    t = u / l.knee;
    y0 = 0;
    y1 = l.end1;
    g0 = l.slope0 * Lg;
    g1 = l.slope1 * Lg;
  } else {
    Lg = 1 - l.knee;
    t = (u - l.knee) / Lg;
    y0 = l.end1;
    y1 = l.end2;
    g0 = l.slope1 * Lg;
    g1 = l.slope2 * Lg;
  }
  double c2 = 3 * (y1 - y0) - 2 * g0 - g1;
  double c3 = 2 * (y0 - y1) + g0 + g1;
  LinkagePoint out;
  out.compression = y0 + g0 * t + c2 * t * t + c3 * t * t * t;
  out.ratio = (g0 + 2 * c2 * t + 3 * c3 * t * t) / Lg;
  return out;
}

double shock_torque(const ShockParameters& s, double a, double w) {
  double u = clampd(-a / s.travel, 0, 1);
  LinkagePoint k = linkage_curve(s.linkage, u);
  double speed = k.ratio * w;
  double spring = s.spring * (k.compression + s.preload);
  double damping = damping_force(speed, s.compression, s.slow_compression, s.rebound, s.slow_rebound);
  double fade = clampd(32 * u, 0, 1);
  return (spring + damping) * k.ratio * fade;
}

ForkParameters fork_parameters(const Bike& b) {
  const BikeTuning& t = b.tuning;
  return ForkParameters{t.fork_spring,      t.fork_preload,          t.fork_air_length, b.model.fork_travel,
                        t.fork_compression, t.fork_slow_compression, t.fork_rebound,    t.fork_slow_rebound};
}

ShockParameters shock_parameters(const Bike& b) {
  const BikeTuning& t = b.tuning;
  const BikeModel& m = b.model;
  return ShockParameters{t.shock_spring,
                         t.shock_preload,
                         m.swingarm_travel,
                         t.shock_compression,
                         t.shock_slow_compression,
                         t.shock_rebound,
                         t.shock_slow_rebound,
                         LinkageParameters{m.linkage_knee, m.linkage_end[0], m.linkage_end[1], m.linkage_slope[0],
                                           m.linkage_slope[1], m.linkage_slope[2]}};
}

void apply_suspension(Bike* b) {
  // The slider position grows as the upper body moves up the axis away from
  // the lower one, and the swingarm angle grows as the arm drops, so a
  // positive motor speed extends both.
  double F = fork_force(fork_parameters(*b), fork_position(*b), fork_rate(*b));
  dJointSetSliderParam(b->joint[JOINT_FORK], dParamFMax, std::fabs(F));
  dJointSetSliderParam(b->joint[JOINT_FORK], dParamVel, F >= 0 ? MOTOR_SPEED : 0);

  double torque = shock_torque(shock_parameters(*b), swingarm_angle(*b), swingarm_rate(*b));
  dJointSetHingeParam(b->joint[JOINT_SWINGARM], dParamFMax, std::fabs(torque));
  dJointSetHingeParam(b->joint[JOINT_SWINGARM], dParamVel, torque >= 0 ? MOTOR_SPEED : 0);
}

double fork_spring_kg_per_mm(double spring) { return spring * 0.0007440819724087572; }
double shock_spring_kg_per_mm(double spring) { return spring * 0.0014881639448175144; }

double low_speed_share(double slow_base, double linear_base, double speed) {
  double d = slow_base + linear_base * std::fabs(speed);
  return d > 0 ? slow_base / d : 0;
}
