// Test courses built in code: flat ground, slopes, a jump, a berm, a wall
// and a looped proving ground that combines them. The tests, the ride
// harness and the benchmark all ride these, so a figure measured on one is
// comparable with the others.
#pragma once

#include "core/types.h"

struct Terrain;

enum Course {
  COURSE_FLAT,            // 2048 ft square, level
  COURSE_SLOPE,           // level, then 10 degrees up, then 20 degrees up
  COURSE_JUMP,            // run-up, 5 ft take-off ramp, 40 ft gap, down-slope landing
  COURSE_BERM,            // straight into a 180 degree left-hand berm banked 30 degrees
  COURSE_WALL,            // straight into a 30 ft wall
  COURSE_BUMPS,           // level with a field of rolling whoops
  COURSE_PROVING_GROUND,  // an oval with two bermed turns and a table-top
  COURSE_COUNT
};

struct CourseStart {
  Vec3 position;  // ground point under the bike's middle
  float heading;  // the bike faces (-sin h, 0, -cos h)
};

// Fills the terrain (any previous contents are freed): heights, a dirt tile
// with a friction curve and roost, and the tile map.
void build_course(Terrain* terrain, Course course);
CourseStart course_start(Course course);
const char* course_name(Course course);
// By name ("flat", "slope", ...); false when unknown.
bool course_by_name(const char* name, Course* course);

// Points around the proving ground's oval, in riding order, for a simple
// path follower (count written to *count).
const Vec3* proving_ground_line(int* count);

// The dirt tile every course uses (exposed for tests).
void make_dirt_tile(struct Tile* tile);
