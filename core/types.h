// Shared units, constants and small value types used by every subsystem.
#pragma once

#include <cstdint>

// One simulation tick is 1/128 s; every race, lap, history, demo and network
// time is a whole number of ticks.
constexpr double TICK_SECONDS = 0.0078125;
constexpr int TICKS_PER_SECOND = 128;

// Bike slots 0..159; 160 stored as a slot number means "none".
constexpr int MAX_BIKES = 160;
constexpr int NO_BIKE = 160;

// Display conversions.
constexpr double FEET_PER_SECOND_PER_MPH = 1.4666666666666666;
constexpr double MM_PER_FOOT = 304.8;
constexpr double RPM_PER_RAD_PER_SECOND = 9.549296585513721;
constexpr double KG_PER_MM_PER_LBF_PER_FOOT = 0.0014881639448175144;

constexpr float GRAVITY_Y = -32.0f;  // ft/s^2, +Y is up

struct Vec3 {
  float x, y, z;
};

inline Vec3 vec3(float x, float y, float z) { return Vec3{x, y, z}; }
inline Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec3 operator*(Vec3 a, float s) { return {a.x * s, a.y * s, a.z * s}; }
inline float dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Vec3 cross(Vec3 a, Vec3 b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
