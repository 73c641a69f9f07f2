#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tools/ride/ride.h"

namespace {
bool parse(const std::string& text, RideScript* s, std::string* why = nullptr) {
  char error[128] = "";
  bool ok = parse_ride_script(text.data(), text.size(), s, error, sizeof error);
  if (why) *why = error;
  return ok;
}
}  // namespace

TEST(RideScript, StatementsAndTimeline) {
  RideScript s;
  ASSERT_TRUE(parse(
      "# a test ride\n"
      "bike cr125\ncourse jump\nstart 10 20 90\nduration 5\nsetup auto_shift 0\n"
      "at 0 throttle=1 steer=0.25   # go\n"
      "ramp 2 4 steer=0.25:-0.75\n"
      "at 3 front_brake=1\n"
      "follow 30 keys\n",
      &s));
  EXPECT_EQ(s.bike, "cr125");
  EXPECT_EQ(s.course, "jump");
  EXPECT_TRUE(s.has_start);
  EXPECT_DOUBLE_EQ(s.start_heading, 90);
  EXPECT_DOUBLE_EQ(s.duration, 5);
  ASSERT_EQ(s.setup.size(), 1u);
  EXPECT_DOUBLE_EQ(s.follow_speed, 30);
  EXPECT_TRUE(s.follow_keys);
  float c[CONTROL_COUNT];
  script_controls(s, 1, c);
  EXPECT_FLOAT_EQ(c[CONTROL_THROTTLE], 1);
  EXPECT_FLOAT_EQ(c[CONTROL_STEER], 0.25f);
  EXPECT_FLOAT_EQ(c[CONTROL_FRONT_BRAKE], 0);
  script_controls(s, 3, c);
  EXPECT_FLOAT_EQ(c[CONTROL_STEER], -0.25f);  // half way down the ramp
  EXPECT_FLOAT_EQ(c[CONTROL_FRONT_BRAKE], 1);
  script_controls(s, 10, c);
  EXPECT_FLOAT_EQ(c[CONTROL_STEER], -0.75f);
  // An empty script is a valid, idle ride.
  ASSERT_TRUE(parse("", &s));
  EXPECT_TRUE(s.keys.empty());
}

TEST(RideScript, BadLinesAreReportedWithTheirNumber) {
  RideScript s;
  std::string why;
  const char* bad[] = {"fly 3\n",           "at x throttle=1\n",    "at 1 throttle\n",  "at 1 warp=1\n",
                       "at 1 throttle=zz\n", "ramp 2 1 steer=0:1\n", "ramp 1 2 steer=1\n", "duration -1\n",
                       "setup nonsense 3\n", "setup auto_shift 7\n", "start 1 2\n",       "follow 30 mouse\n",
                       "at 1 throttle=1e300\n", "bike\n"};
  for (const char* text : bad) {
    std::string t = std::string("course flat\n") + text;
    EXPECT_FALSE(parse(t, &s, &why)) << text;
    EXPECT_EQ(why.rfind("line 2:", 0), 0u) << why;
  }
  EXPECT_FALSE(parse(std::string(2000, 'a'), &s, &why));
  EXPECT_EQ(why, "line 1: line too long");
  EXPECT_FALSE(parse(std::string("at 1 throttle=1\0x", 18), &s, &why));
}
