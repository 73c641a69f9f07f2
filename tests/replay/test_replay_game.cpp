// The game's replay hooks on the game's race: a demo given by name plays
// on its own track through the hook table, rewinds and skips, and its riders
// stop being drawn a second after their last state.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/game_hooks.h"
#include "race/race_game.h"
#include "replay/replay_game.h"
#include "tests/replay/replay_game_demo.h"
#include "track/track.h"

namespace {

int g_views = 0;
bool counting_view(int, BikeView* out) {
  g_views++;
  *out = {};
  return true;
}

}  // namespace

TEST(ReplayGame, ADemoPlaysThroughTheGamesHooks) {
  constexpr int RECORDED = 400;
  auto scratch = record_short_demo("demos/short.dvdemo", RECORDED);
  ASSERT_TRUE(scratch);

  install_race_hooks();
  install_replay_hooks();
  // A second install keeps a single wrapper round the race's bike view.
  g_game_hooks.race.bike = counting_view;
  install_replay_hooks();
  install_replay_hooks();
  race_create_world();
  const GameHooks& hooks = g_game_hooks;
  ASSERT_NE(hooks.replay.load_demo, nullptr);
  std::string track;
  EXPECT_FALSE(hooks.replay.load_demo("@demos/missing.dvdemo", &track));
  ASSERT_TRUE(hooks.replay.load_demo("@demos/short.dvdemo", &track));
  EXPECT_EQ(track, "flat");

  int lineup[MAX_BIKES] = {};
  hooks.race.reset({track.c_str(), lineup, true, 0.0, 1000, 0});
  ASSERT_EQ(g_track.name, "flat");
  ASSERT_NE(g_race.bikes[0], nullptr);
  ASSERT_NE(g_race.bikes[1], nullptr);
  EXPECT_EQ(g_race.bikes[2], nullptr);
  EXPECT_EQ(g_race.local_slot, 0);
  for (int i = 0; i < 200; i++) hooks.race.step();
  BikeView view;
  g_views = 0;
  EXPECT_TRUE(hooks.race.bike(1, &view));
  EXPECT_EQ(g_views, 1);
  EXPECT_FALSE(view.skipping);
  EXPECT_FALSE(view.ghost);  // a demo's rider, not a lap's ghost

  hooks.replay.rewind();
  EXPECT_EQ(g_race.tick, 200 - TICKS_PER_SECOND);
  hooks.replay.skip();
  EXPECT_EQ(g_race.tick, 200);
  // Past the demo's end the riders stand on their last state for a second,
  // then are no longer drawn.
  while (g_race.tick < RECORDED + 100) hooks.race.step();
  EXPECT_TRUE(hooks.race.bike(0, &view));
  while (g_race.tick < RECORDED + 140) hooks.race.step();
  EXPECT_FALSE(hooks.race.bike(0, &view));
  EXPECT_FALSE(hooks.race.bike(1, &view));

  hooks.race.free_race();
  race_free_world();
  deallocate_track(&g_track);
}
