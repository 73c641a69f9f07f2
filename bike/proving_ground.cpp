// The test courses.
#include "bike/proving_ground.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "track/terrain.h"

namespace {

constexpr float PI_F = 3.14159265f;
constexpr int COURSE_EXPONENT = 9;  // 1025 vertices a side
constexpr float COURSE_SPACING = 2;  // ft: 2048 ft square

float clampf(float v, float lo, float hi) { return v < lo ? lo : (v > hi ? hi : v); }
float smooth(float t) {
  t = clampf(t, 0, 1);
  return t * t * (3 - 2 * t);
}

// A ramp across z: rises from 0 at z0 to top at z1 (either direction).
float ramp(float z, float z0, float z1, float top) {
  return top * clampf((z - z0) / (z1 - z0), 0, 1);
}

// Straight-line features ridden towards -z from the start.
float slope_height(float, float z) {
  const float t10 = std::tan(10 * PI_F / 180), t20 = std::tan(20 * PI_F / 180);
  if (z >= 800) return 0;
  if (z >= 500) return (800 - z) * t10;
  return 300 * t10 + (500 - z) * t20;
}

float jump_height(float x, float z) {
  // Take-off from z 700 up to the lip at 685 (5 ft, about 18 degrees), a
  // 40 ft gap, then a landing slope from 5 ft at 645 down to 0 at 615.
  float h = 0;
  if (z <= 700 && z > 685) h = ramp(z, 700, 685, 5);
  else if (z <= 645 && z > 615) h = ramp(z, 615, 645, 5);
  // The features are 60 ft wide and fall away at their sides.
  float side = smooth((30 - std::fabs(x - 1024)) / 6);
  return h * side;
}

float berm_height(float x, float z) {
  // Turn centre (964, 300), riding radius 60 on the x = 1024 lane.
  const float cx = 964, cz = 300;
  float dx = x - cx, dz = z - cz;
  float rho = std::sqrt(dx * dx + dz * dz);
  float fade = z <= cz ? 1 : smooth((cz + 40 - z) / 40);
  float bank = clampf((rho - 45) * std::tan(30 * PI_F / 180), 0, 25);
  return bank * fade;
}

float wall_height(float, float z) { return z < 500 ? 30.0f : 0.0f; }

// Whoops 1.5 ft high, 20 ft apart, from z 900 down to 500.
float bumps_height(float x, float z) {
  if (z > 900 || z < 500) return 0;
  float side = smooth((40 - std::fabs(x - 1024)) / 8);
  return 0.75f * (1 - std::cos((900 - z) * (2 * PI_F / 20))) * side;
}

// The proving ground: an oval with bermed ends, whoops and a table-top.
const float OVAL_RADIUS = 200;
const float OVAL_X_OUT = 1224, OVAL_X_BACK = 824;
const float OVAL_Z_NEAR = 600, OVAL_Z_FAR = 1448;

float oval_height(float x, float z) {
  float h = 0;
  // Berms at both ends: the bank rises outwards from radius 185, so the
  // riding line (radius 200) sits about 3 ft up it; it builds up over the
  // last 150 ft of each straight so that it never kicks like a ramp.
  struct Turn {
    float cz;
    float sign;  // which side of the centre the half-disc lies
  } turns[2] = {{OVAL_Z_NEAR, -1}, {OVAL_Z_FAR, 1}};
  for (const Turn& t : turns) {
    float dx = x - 1024, dz = z - t.cz;
    float rho = std::sqrt(dx * dx + dz * dz);
    float into = dz * t.sign;
    float fade = into >= 0 ? 1 : smooth((150 + into) / 150);
    float band = 1 - smooth((rho - 250) / 20);
    float bank = clampf((rho - 185) * std::tan(20 * PI_F / 180), 0, 20);
    h += bank * band * fade;
  }
  // Table-top on the back straight (ridden towards +z).
  if (std::fabs(x - OVAL_X_BACK) < 40) {
    float top = 0;
    if (z >= 1000 && z < 1015) top = ramp(z, 1000, 1015, 5);
    else if (z >= 1015 && z < 1055) top = 5;
    else if (z >= 1055 && z < 1085) top = ramp(z, 1085, 1055, 5);
    h += top * smooth((40 - std::fabs(x - OVAL_X_BACK)) / 8);
  }
  // Whoops on the out straight (ridden towards -z).
  if (z < 1000 && z > 850 && std::fabs(x - OVAL_X_OUT) < 40) {
    float whoop = 0.5f * (1 - std::cos((1000 - z) * (2 * PI_F / 25)));
    h += whoop * smooth((40 - std::fabs(x - OVAL_X_OUT)) / 8);
  }
  return h;
}

float course_height(Course c, float x, float z) {
  switch (c) {
    case COURSE_FLAT: return 0;
    case COURSE_SLOPE: return slope_height(x, z);
    case COURSE_JUMP: return jump_height(x, z);
    case COURSE_BERM: return berm_height(x, z);
    case COURSE_WALL: return wall_height(x, z);
    case COURSE_BUMPS: return bumps_height(x, z);
    case COURSE_PROVING_GROUND: return oval_height(x, z);
    default: return 0;
  }
}

const char* const NAMES[COURSE_COUNT] = {"flat", "slope", "jump", "berm", "wall", "bumps", "proving_ground"};

}  // namespace

void make_dirt_tile(Tile* tile) {
  init_tile(tile);
  snprintf(tile->name, sizeof tile->name, "dirt");
  // Grip falls off as the tyre slides faster: static grip near 1.1, a
  // spinning or locked tyre near 0.75.
  const FrictionPoint friction[] = {{1.1f, 2}, {0.95f, 10}, {0.8f, 25}, {0.75f, 50}};
  for (int i = 0; i < TILE_CURVE_POINTS; i++) tile->friction[i] = FrictionPoint{0.75f, 0};
  for (int i = 0; i < 4; i++) tile->friction[i] = friction[i];
  RoostKind& roost = tile->roost[0];
  init_roost_kind(&roost);
  roost.mode = ROOST_DIRT;
  roost.count = 6;
}

void build_course(Terrain* t, Course c) {
  init_flat_terrain(t, COURSE_EXPONENT, COURSE_SPACING, 0);
  float low = 1e30f, high = -1e30f;
  for (int r = 0; r < t->N; r++)
    for (int col = 0; col < t->N; col++) {
      float h = course_height(c, col * t->spacing, r * t->spacing);
      t->heights[(size_t)col + (size_t)t->N * (size_t)r] = h;
      low = std::fmin(low, h);
      high = std::fmax(high, h);
    }
  t->low = low;
  t->high = high;
  make_dirt_tile(&t->tiles[0]);
  t->tile_count = 1;
}

CourseStart course_start(Course c) {
  switch (c) {
    case COURSE_FLAT: return CourseStart{{1024, 0, 1900}, 0};
    case COURSE_SLOPE: return CourseStart{{1024, 0, 950}, 0};
    case COURSE_JUMP: return CourseStart{{1024, 0, 1000}, 0};
    case COURSE_BERM: return CourseStart{{1024, 0, 900}, 0};
    case COURSE_WALL: return CourseStart{{1024, 0, 700}, 0};
    case COURSE_BUMPS: return CourseStart{{1024, 0, 1000}, 0};
    case COURSE_PROVING_GROUND: return CourseStart{{OVAL_X_OUT, 0, 1300}, 0};
    default: return CourseStart{{1024, 0, 1024}, 0};
  }
}

const char* course_name(Course c) { return c >= 0 && c < COURSE_COUNT ? NAMES[c] : "?"; }

bool course_by_name(const char* name, Course* c) {
  for (int i = 0; i < COURSE_COUNT; i++)
    if (name && strcmp(name, NAMES[i]) == 0) {
      *c = (Course)i;
      return true;
    }
  return false;
}

const Vec3* proving_ground_line(int* count) {
  static const std::vector<Vec3> line = [] {
    std::vector<Vec3> points;
    const float step = 20;
    // Out straight towards -z, near turn (left, about the near centre),
    // back straight towards +z, far turn, and back to the start.
    for (float z = 1300; z > OVAL_Z_NEAR; z -= step) points.push_back({OVAL_X_OUT, 0, z});
    for (int i = 0; i <= 30; i++) {
      float a = PI_F * i / 30;  // from +x round through -z to -x
      points.push_back({1024 + OVAL_RADIUS * std::cos(a), 0, OVAL_Z_NEAR - OVAL_RADIUS * std::sin(a)});
    }
    for (float z = OVAL_Z_NEAR + step; z < OVAL_Z_FAR; z += step) points.push_back({OVAL_X_BACK, 0, z});
    for (int i = 0; i <= 30; i++) {
      float a = PI_F + PI_F * i / 30;  // from -x round through +z to +x
      points.push_back({1024 + OVAL_RADIUS * std::cos(a), 0, OVAL_Z_FAR - OVAL_RADIUS * std::sin(a)});
    }
    for (float z = OVAL_Z_FAR - step; z > 1300; z -= step) points.push_back({OVAL_X_OUT, 0, z});
    return points;
  }();
  *count = (int)line.size();
  return line.data();
}
