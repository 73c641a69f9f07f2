// Double-precision vector and rotation helpers for the bike simulation. The
// rigid-body library works in double precision; the shared Vec3 is float and
// is only used where data crosses to other subsystems.
#pragma once

#include <cmath>

#include "core/types.h"

struct DVec {
  double x, y, z;
};

inline DVec dvec(double x, double y, double z) { return DVec{x, y, z}; }
inline DVec dvec(Vec3 v) { return DVec{v.x, v.y, v.z}; }
inline DVec dvec(const double* v) { return DVec{v[0], v[1], v[2]}; }
inline Vec3 to_vec3(DVec v) { return Vec3{(float)v.x, (float)v.y, (float)v.z}; }

inline DVec operator+(DVec a, DVec b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline DVec operator-(DVec a, DVec b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline DVec operator-(DVec a) { return {-a.x, -a.y, -a.z}; }
inline DVec operator*(DVec a, double s) { return {a.x * s, a.y * s, a.z * s}; }
inline DVec operator*(double s, DVec a) { return {a.x * s, a.y * s, a.z * s}; }
inline DVec& operator+=(DVec& a, DVec b) {
  a = a + b;
  return a;
}
inline DVec& operator-=(DVec& a, DVec b) {
  a = a - b;
  return a;
}
inline double dot(DVec a, DVec b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline DVec cross(DVec a, DVec b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline double length_squared(DVec a) { return dot(a, a); }
inline double length(DVec a) { return std::sqrt(dot(a, a)); }
// Unit vector along a, or the fallback when a is (nearly) zero.
inline DVec normalized(DVec a, DVec fallback = DVec{0, 1, 0}) {
  double l = length(a);
  if (!(l > 1e-300)) return fallback;
  return a * (1.0 / l);
}

inline double clampd(double v, double lo, double hi) { return v < lo ? lo : (v > hi ? hi : v); }

// Rotation matrices are stored as the rigid-body library stores them: 3 rows
// of 4 (the fourth column unused), element (row, column) at [row * 4 + column].
inline DVec mat_column(const double* R, int column) { return DVec{R[column], R[4 + column], R[8 + column]}; }
inline DVec mat_mul(const double* R, DVec v) {
  return DVec{R[0] * v.x + R[1] * v.y + R[2] * v.z, R[4] * v.x + R[5] * v.y + R[6] * v.z,
              R[8] * v.x + R[9] * v.y + R[10] * v.z};
}
inline DVec mat_mul_transposed(const double* R, DVec v) {
  return DVec{R[0] * v.x + R[4] * v.y + R[8] * v.z, R[1] * v.x + R[5] * v.y + R[9] * v.z,
              R[2] * v.x + R[6] * v.y + R[10] * v.z};
}

// Quaternions (w, x, y, z).
struct DQuat {
  double w, x, y, z;
};

inline DQuat quat_mul(DQuat a, DQuat b) {
  return DQuat{a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z, a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y,
               a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x, a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w};
}
inline DQuat quat_conjugate(DQuat q) { return DQuat{q.w, -q.x, -q.y, -q.z}; }
inline DQuat quat_axis_angle(DVec axis, double angle) {
  DVec a = normalized(axis, DVec{1, 0, 0});
  double s = std::sin(angle * 0.5);
  return DQuat{std::cos(angle * 0.5), a.x * s, a.y * s, a.z * s};
}
inline DQuat quat_normalized(DQuat q) {
  double l = std::sqrt(q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z);
  if (!(l > 0)) return DQuat{1, 0, 0, 0};
  return DQuat{q.w / l, q.x / l, q.y / l, q.z / l};
}
inline DVec quat_rotate(DQuat q, DVec v) {
  DVec u{q.x, q.y, q.z};
  DVec t = cross(u, v) * 2.0;
  return v + t * q.w + cross(u, t);
}
// Angular velocity that turns orientation a into b in dt seconds (world frame),
// taking the short way round.
inline DVec quat_angular_velocity(DQuat a, DQuat b, double dt) {
  DQuat d = quat_mul(b, quat_conjugate(a));
  if (d.w < 0) d = DQuat{-d.w, -d.x, -d.y, -d.z};
  double s = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
  if (!(s > 1e-12)) return DVec{d.x * 2.0 / dt, d.y * 2.0 / dt, d.z * 2.0 / dt};
  double angle = 2.0 * std::atan2(s, d.w);
  return DVec{d.x / s, d.y / s, d.z / s} * (angle / dt);
}

constexpr double PI_D = 3.14159265358979323846;
