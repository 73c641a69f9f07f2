// A ride script for the race runner's scripted player: a crf450(2016)
// following the riding line at `mph`.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tools/ride/ride.h"

inline RideScript follow_script(double mph) {
  RideScript script;
  std::string text = "bike crf450(2016)\nfollow " + std::to_string(mph) + "\n";
  char error[128];
  EXPECT_TRUE(parse_ride_script(text.data(), text.size(), &script, error, sizeof error)) << error;
  return script;
}
