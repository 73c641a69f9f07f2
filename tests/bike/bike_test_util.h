// Helpers shared by the bike tests: a fresh world per test and the test
// courses built once per process.
#pragma once

#include <gtest/gtest.h>

#include "bike/bike.h"
#include "bike/bike_sim.h"
#include "bike/proving_ground.h"
#include "track/terrain.h"

inline const Terrain& course_terrain(Course c) {
  static Terrain* built[COURSE_COUNT] = {};
  if (!built[c]) {
    built[c] = new Terrain();
    build_course(built[c], c);
  }
  return *built[c];
}

// A world with one bike standing at a course's start.
struct BikeWorldTest : ::testing::Test {
  Bike* bike = nullptr;
  void SetUp() override { create_bike_world(); }
  void TearDown() override {
    delete_bike(bike);
    bike = nullptr;
    destroy_bike_world();
  }
  Bike* make(const char* model, Course course) {
    bike = create_bike(model, 0, nullptr, nullptr, nullptr, nullptr, "7");
    CourseStart s = course_start(course);
    s.position.y = height_at(course_terrain(course), s.position.x, s.position.z);
    place_bike(bike, s.position, s.heading);
    return bike;
  }
  void run(Course course, int ticks, int64_t* tick) {
    Bike* bikes[MAX_BIKES] = {};
    bikes[0] = bike;
    for (int i = 0; i < ticks; i++) run_bike_tick(bikes, course_terrain(course), (*tick)++);
  }
};
