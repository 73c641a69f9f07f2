// The personality table: every entry rides a real bike, names are unique,
// both robot bike kinds can be served, and the lookup by name.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "bike/bike_model.h"
#include "robot/personalities.h"
#include "tests/track/track_test_util.h"

TEST(Personalities, EntriesAreCompleteAndDistinct) {
  std::set<std::string> names;
  int two_strokes = 0, four_strokes = 0;
  for (const RobotPersonality& p : g_robot_personalities) {
    EXPECT_GE(find_bike_model(p.bike), 0) << p.name << " rides an unknown bike " << p.bike;
    EXPECT_TRUE(names.insert(p.name).second) << "duplicate " << p.name;
    EXPECT_GE(strlen(p.number), 1u);
    EXPECT_LE(strlen(p.number), 3u);
    EXPECT_GT(strlen(p.gear_skin), 0u);
    EXPECT_GT(strlen(p.helmet_skin), 0u);
    EXPECT_GE(p.aggression, 0.0f);
    EXPECT_LE(p.aggression, 1.0f);
    EXPECT_GE(p.consistency, 0.0f);
    EXPECT_LE(p.consistency, 1.0f);
    EXPECT_TRUE(personality_fits(p, PERSONALITY_ANY));
    bool two = personality_fits(p, PERSONALITY_TWO_STROKE), four = personality_fits(p, PERSONALITY_FOUR_STROKE);
    EXPECT_FALSE(two && four) << p.name;
    two_strokes += two;
    four_strokes += four;
  }
  // Enough of each kind for a full row of gates of either.
  EXPECT_GE(two_strokes, 10);
  EXPECT_GE(four_strokes, 10);
}

TEST(Personalities, KindsFollowTheBike) {
  RobotPersonality p = g_robot_personalities[0];
  p.bike = "kx125";
  EXPECT_TRUE(personality_fits(p, PERSONALITY_TWO_STROKE));
  EXPECT_FALSE(personality_fits(p, PERSONALITY_FOUR_STROKE));
  p.bike = "yz250(2012)";  // a 250 two-stroke is neither a 125 nor a four-stroke
  EXPECT_FALSE(personality_fits(p, PERSONALITY_TWO_STROKE));
  EXPECT_FALSE(personality_fits(p, PERSONALITY_FOUR_STROKE));
  p.bike = "crf250(2016)";
  EXPECT_TRUE(personality_fits(p, PERSONALITY_FOUR_STROKE));
  p.bike = "no such bike";
  EXPECT_FALSE(personality_fits(p, PERSONALITY_FOUR_STROKE));
}

TEST(Personalities, LookupByName) {
  LogCapture log;
  EXPECT_EQ(find_personality(g_robot_personalities[17].name), 17);
  EXPECT_EQ(find_personality(g_robot_personalities[79].name), 79);
  EXPECT_EQ(log.text().find("not found"), std::string::npos);
  EXPECT_EQ(find_personality("Nobody Atall"), -1);
  EXPECT_NE(log.text().find("auto pilot personality 'Nobody Atall' not found\n"), std::string::npos);
  EXPECT_EQ(find_personality(nullptr), -1);
}
