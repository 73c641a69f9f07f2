// The game's race as the heads-up display reads it: the suspension graph's
// read-outs of the player's bike at rest, in the air and landing.
#include <gtest/gtest.h>

#include "bike/bike.h"
#include "core/config.h"
#include "core/game_hooks.h"
#include "tests/race/race_fixture.h"
#include "race/race_game.h"

namespace {

TEST(RaceHud, SuspensionReadoutsFollowTheBike) {
  ScratchData data;
  write_race_track(data, "flat", 2);
  reset_config();
  install_race_hooks();
  race_create_world();
  std::vector<int> lineup = lineup_of({LINEUP_HUMAN});
  g_game_hooks.race.reset({"flat", lineup.data(), false, 0.0, 3, 0});
  ASSERT_NE(g_race.bikes[0], nullptr);
  ASSERT_NE(g_game_hooks.race.hud_bike, nullptr);
  for (int i = 0; i < 3 * TICKS_PER_SECOND; i++) g_game_hooks.race.step();

  // Standing on its wheels: sagged into its travel, the dampers still.
  HudBike rest = {};
  ASSERT_TRUE(g_game_hooks.race.hud_bike(0, &rest));
  EXPECT_GT(rest.fork_position, 0.02f);
  EXPECT_LT(rest.fork_position, 0.8f);
  EXPECT_GT(rest.swingarm_position, 0.02f);
  EXPECT_LT(rest.swingarm_position, 0.8f);
  EXPECT_LT(std::fabs(rest.fork_speed), 0.2f);
  EXPECT_LT(std::fabs(rest.shock_speed), 0.2f);
  // The stock setting's low-speed term is zero: all of the damping is the
  // speed-proportional part.
  EXPECT_EQ(rest.fork_low_speed_share, 0.0f);

  // Lifted clear of the ground, both ends spring out (rebound: speed > 0)
  // toward full extension.
  Bike* bike = g_race.bikes[0];
  for (int b = 0; b < BODY_COUNT; b++) {
    const dReal* p = dBodyGetPosition(bike->body[b]);
    dBodySetPosition(bike->body[b], p[0], p[1] + 6, p[2]);
  }
  float most_rebound = 0;
  HudBike air = {};
  for (int i = 0; i < 12; i++) {
    g_game_hooks.race.step();
    ASSERT_TRUE(g_game_hooks.race.hud_bike(0, &air));
    most_rebound = std::max(most_rebound, air.fork_speed);
  }
  EXPECT_GT(most_rebound, 0.05f);
  EXPECT_LT(air.fork_position, rest.fork_position);
  EXPECT_LT(air.swingarm_position, rest.swingarm_position);

  // Landing compresses them (speed < 0) past the sag.
  float deepest_fork = 0, deepest_shock = 0, most_compression = 0;
  for (int i = 0; i < TICKS_PER_SECOND; i++) {
    g_game_hooks.race.step();
    HudBike now = {};
    ASSERT_TRUE(g_game_hooks.race.hud_bike(0, &now));
    deepest_fork = std::max(deepest_fork, now.fork_position);
    deepest_shock = std::max(deepest_shock, now.swingarm_position);
    most_compression = std::min(most_compression, now.shock_speed);
    EXPECT_GE(now.fork_position, 0.0f);
    EXPECT_LE(now.fork_position, 1.0f);
  }
  EXPECT_GT(deepest_fork, rest.fork_position);
  EXPECT_GT(deepest_shock, rest.swingarm_position);
  EXPECT_LT(most_compression, -0.05f);

  free_race(&g_race);
  deallocate_track(&g_track);
  race_free_world();
  g_game_hooks = {};
}

}  // namespace
