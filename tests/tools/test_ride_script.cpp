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

// --- the follower's speed plan -------------------------------------------------------

#include <cmath>
#include <vector>

#include "track/terrain.h"

namespace {

// A line along +x at z = 200, a point every 12 ft.
std::vector<Vec3> straight_line() {
  std::vector<Vec3> line;
  for (float x = 20; x <= 500; x += 12) line.push_back(Vec3{x, 0, 200});
  return line;
}

// Where a bike leaving (x0, h0) at speed v up a slope `rise` comes down on
// the ground, stepping a foot at a time.
float landing_x(const Terrain& t, float x0, float h0, double rise, double v) {
  const double a = std::atan(rise), vx = v * std::cos(a), vy = v * std::sin(a);
  for (double x = x0 + 1; x < t.width; x += 1) {
    double time = (x - x0) / vx;
    if (h0 + vy * time - 16 * time * time <= height_at(t, (float)x, 200)) return (float)x;
  }
  return t.width;
}

}  // namespace

TEST(FollowSpeeds, BendsAreTakenAtTheirRadiusAndBrakedForInTime) {
  // Straight, a half circle of radius 60 ft, straight back.
  std::vector<Vec3> line;
  for (int i = 0; i < 20; i++) line.push_back(Vec3{100.0f + 12 * i, 0, 100});
  const float cx = 100 + 12 * 19, cz = 160;
  for (int k = 1; k < 16; k++) {
    double a = -M_PI / 2 + M_PI * k / 16;
    line.push_back(Vec3{cx + 60 * (float)std::cos(a), 0, cz + 60 * (float)std::sin(a)});
  }
  for (int i = 0; i < 20; i++) line.push_back(Vec3{cx - 12.0f * i, 0, 220});
  const double top = 60;
  std::vector<float> v = plan_follow_speeds(line.data(), (int)line.size(), top, nullptr, false);
  ASSERT_EQ(v.size(), line.size());
  const size_t apex = 20 + 7;
  EXPECT_NEAR(v[apex], std::sqrt(11.0 * 60), 2.0);
  EXPECT_FLOAT_EQ(v[0], (float)top);
  EXPECT_FLOAT_EQ(v.back(), (float)top);
  // Before the bend the limit falls no faster than the braking allows, and
  // does fall: the follower starts braking before it gets there.
  for (size_t i = 0; i + 1 < 20; i++) {
    EXPECT_GE(v[i], v[i + 1] - 1e-3f) << i;
    EXPECT_LE(v[i], std::sqrt((double)v[i + 1] * v[i + 1] + 2 * 12.0 * 12.0) + 1e-3) << i;
  }
  EXPECT_LT(v[15], top);
}

TEST(FollowSpeeds, TableIsJumpedOntoItsLandingNotShortOrFlatPastIt) {
  Terrain t;
  init_flat_terrain(&t, 8, 2.0f, 0.0f);
  // Face 200..215 ft rising 0.4 to 6 ft, deck to 245, landing down to 0 at 265.
  auto profile = [](float x) {
    if (x < 200 || x > 265) return 0.0f;
    if (x < 215) return 0.4f * (x - 200);
    if (x < 245) return 6.0f;
    return 6.0f * (265 - x) / 20;
  };
  for (int r = 0; r < t.N; r++)
    for (int c = 0; c < t.N; c++) t.heights[(size_t)c + (size_t)t.N * r] = profile(c * t.spacing);
  std::vector<Vec3> line = straight_line();
  const double top = 70;
  std::vector<float> v = plan_follow_speeds(line.data(), (int)line.size(), top, &t, false);
  std::vector<float> flat = plan_follow_speeds(line.data(), (int)line.size(), top, nullptr, false);
  // The point before the lip carries the speed to ride up the face at: the
  // climb of 5.6 ft takes some of it (between all and half of it, as the
  // engine helps), and what is left must carry the bike onto the landing.
  const size_t lip = (size_t)((214 - 20) / 12);
  ASSERT_LT(v[lip], top);
  for (double share : {0.5, 1.0}) {
    const double left = std::sqrt((double)v[lip] * v[lip] - 2 * 32 * 5.6 * share);
    const float lands = landing_x(t, 214, 5.6f, 0.4, left);
    EXPECT_GT(lands, 244.0f) << "short, on the deck, at " << left;
    EXPECT_LT(lands, 275.0f) << "flat past the landing, at " << left;
  }
  // Nothing in the air is slowed for; without ground there is no jump.
  for (size_t i = lip + 1; i < line.size(); i++) EXPECT_FLOAT_EQ(v[i], (float)top) << i;
  for (float f : flat) EXPECT_FLOAT_EQ(f, (float)top);
  free_terrain(&t);
}
