// Scripted rides for the scenario tests.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "bike_test_util.h"
#include "tools/ride/ride.h"

// Rides the script on its course, calling `each` after every tick. Returns
// false (and fails the test) when the script is bad.
inline bool ride_script(const std::string& text, const std::function<void(const Ride&)>& each,
                        const std::function<void(Ride&)>& before = nullptr) {
  RideScript script;
  char error[128];
  if (!parse_ride_script(text.data(), text.size(), &script, error, sizeof error)) {
    ADD_FAILURE() << error;
    return false;
  }
  Course course = COURSE_FLAT;
  course_by_name(script.course.c_str(), &course);
  if (!run_ride(script, course_terrain(course), [&](Ride& r) { each(r); }, before, error, sizeof error)) {
    ADD_FAILURE() << error;
    return false;
  }
  return true;
}

inline double seconds(const Ride& r) { return r.tick * TICK_SECONDS; }
inline double mph(const Ride& r) { return bike_speed(*r.bike) / FEET_PER_SECOND_PER_MPH; }
