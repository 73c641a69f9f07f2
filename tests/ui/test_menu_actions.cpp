// What the menus start through the hook table: races with their lineups,
// practice and time trial, demo playback, connecting, the series event.
#include "core/command_line.h"
#include "core/main_loop.h"
#include "ui_test_util.h"

namespace {

struct Resets {
  int count = 0;
  std::string track;
  bool had_lineup = false;
  int lineup[MAX_BIKES] = {};
  bool playback = false;
  double minutes = 0;
  int laps = 0;
  int skill = 0;
  std::string demo;
  bool demo_ok = true;
  std::string connected_to;
  int series_started = -1;
};
Resets* g_resets = nullptr;

class MenuActionTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    g_resets = &resets;
    g_game_hooks.race.reset = [](const RaceReset& r) {
      g_resets->count++;
      g_resets->track = r.track ? r.track : "";
      g_resets->had_lineup = r.lineup != nullptr;
      for (int i = 0; i < MAX_BIKES; i++) g_resets->lineup[i] = r.lineup ? r.lineup[i] : -1;
      g_resets->playback = r.playback;
      g_resets->minutes = r.minutes;
      g_resets->laps = r.laps;
      g_resets->skill = r.skill;
    };
    g_game_hooks.replay.load_demo = [](const char* file, std::string* track) {
      g_resets->demo = file;
      *track = "dunes";
      return g_resets->demo_ok;
    };
    g_game_hooks.net.connect = [](const char* server, const char*) { g_resets->connected_to = server; };
    g_game_hooks.series.start_next_event = [](int series) {
      g_resets->series_started = series;
      return series == 0;
    };
    snprintf(g_config.track, sizeof g_config.track, "rabbithill");
  }
  void TearDown() override {
    g_resets = nullptr;
    g_run_options.practice = false;
    UiTest::TearDown();
  }
  Resets resets;
};

}  // namespace

TEST_F(MenuActionTest, ARaceStartsFromTheGatesAsSet) {
  g_config.slot[0] = SLOT_ROBOT;
  g_config.slot[3] = SLOT_HUMAN;
  g_config.slot[39] = SLOT_ROBOT_2_STROKE;
  g_config.laps = 3;
  g_config.minutes = 10;
  g_config.skill = SKILL_EXPERT;
  run_menu_action(ACTION_START_RACE, 0);
  ASSERT_EQ(resets.count, 1);
  EXPECT_EQ(resets.track, "rabbithill");
  ASSERT_TRUE(resets.had_lineup);
  EXPECT_EQ(resets.lineup[0], SLOT_ROBOT);
  EXPECT_EQ(resets.lineup[3], SLOT_HUMAN);
  EXPECT_EQ(resets.lineup[39], SLOT_ROBOT_2_STROKE);
  for (int i = 40; i < MAX_BIKES; i++) EXPECT_EQ(resets.lineup[i], SLOT_EMPTY);
  EXPECT_EQ(resets.laps, 3);
  EXPECT_EQ(resets.minutes, 10);
  EXPECT_EQ(resets.skill, SKILL_EXPERT);
  EXPECT_FALSE(resets.playback);
  EXPECT_EQ(g_start_lineup[3], SLOT_HUMAN);  // the warp restart rotates this one
}

TEST_F(MenuActionTest, AnEmptyLineupStillRacesWithoutChangingTheGates) {
  run_menu_action(ACTION_START_RACE, 0);  // every gate "Empty", as a new player has them
  ASSERT_EQ(resets.count, 1);
  EXPECT_EQ(resets.lineup[0], SLOT_HUMAN);
  int robots = 0;
  for (int i = 1; i < MAX_BIKES; i++) robots += resets.lineup[i] == SLOT_ROBOT;
  EXPECT_EQ(robots, 9);
  EXPECT_TRUE(shown("you start from gate 1"));
  for (int i = 0; i < CONFIG_LINEUP_SLOTS; i++) EXPECT_EQ(g_config.slot[i], SLOT_EMPTY);

  // Robots only: the player watches, and is told so.
  g_config.slot[5] = SLOT_ROBOT;
  run_menu_action(ACTION_START_RACE, 0);
  EXPECT_EQ(resets.lineup[0], SLOT_EMPTY);
  EXPECT_TRUE(shown("you watch this race"));
}

TEST_F(MenuActionTest, PracticeAndTimeTrial) {
  run_menu_action(ACTION_START_PRACTICE, 0);
  EXPECT_TRUE(g_run_options.practice);
  EXPECT_EQ(resets.lineup[0], SLOT_HUMAN);
  for (int i = 1; i < MAX_BIKES; i++) EXPECT_EQ(resets.lineup[i], SLOT_EMPTY);
  EXPECT_EQ(resets.laps, START_LAPS);

  run_menu_action(ACTION_START_TIME_TRIAL, 0);
  EXPECT_FALSE(g_run_options.practice);
  EXPECT_FALSE(resets.had_lineup);  // no lineup: the race makes it a time trial
  EXPECT_EQ(resets.count, 2);
}

TEST_F(MenuActionTest, DemosPlayOnTheirOwnTrackAsWatchedOrRaced) {
  g_demos.paths = {"demos/a.dvdemo", "demos/b.dvdemo"};
  g_demos.names = {"a", "b"};
  run_menu_action(ACTION_PLAY_DEMO, 1);
  EXPECT_EQ(resets.demo, "@demos/b.dvdemo");
  EXPECT_EQ(resets.track, "dunes");
  EXPECT_TRUE(resets.playback);
  EXPECT_EQ(resets.lineup[0], SLOT_EMPTY);
  g_config.playback_mode = PLAYBACK_RACE_AGAINST;
  run_menu_action(ACTION_PLAY_DEMO, 0);
  EXPECT_EQ(resets.lineup[0], SLOT_HUMAN);
  // A demo that does not read starts nothing; an index off the list neither.
  resets.demo_ok = false;
  run_menu_action(ACTION_PLAY_DEMO, 0);
  run_menu_action(ACTION_PLAY_DEMO, 7);
  EXPECT_EQ(resets.count, 2);
}

TEST_F(MenuActionTest, ConnectingRemembersTheServer) {
  snprintf(g_config.server_name, sizeof g_config.server_name, "first.example");
  run_menu_action(ACTION_CONNECT, 0);
  EXPECT_EQ(resets.connected_to, "first.example");
  EXPECT_STREQ(g_config.server_name_history[0], "first.example");
  snprintf(g_config.server_name, sizeof g_config.server_name, "second.example");
  run_menu_action(ACTION_CONNECT, 0);
  // Reconnecting to an entry of the history moves it to the front.
  run_menu_action(ACTION_CONNECT_HISTORY, 1);
  EXPECT_EQ(resets.connected_to, "first.example");
  EXPECT_STREQ(g_config.server_name, "first.example");
  EXPECT_STREQ(g_config.server_name_history[0], "first.example");
  EXPECT_STREQ(g_config.server_name_history[1], "second.example");
  run_menu_action(ACTION_CONNECT_HISTORY, 99);  // off the history: nothing
  g_config.server_name[0] = '\0';
  resets.connected_to.clear();
  run_menu_action(ACTION_CONNECT, 0);
  EXPECT_TRUE(resets.connected_to.empty());
  EXPECT_TRUE(shown("Type a server name first"));
}

TEST_F(MenuActionTest, SeriesQuitAndBuildsWithoutTheHooks) {
  run_menu_action(ACTION_START_SERIES_EVENT, 0);
  EXPECT_EQ(resets.series_started, 0);
  run_menu_action(ACTION_START_SERIES_EVENT, 1);
  EXPECT_TRUE(shown("no event left"));
  g_main_loop.quit = false;
  run_menu_action(ACTION_QUIT, 0);
  EXPECT_TRUE(g_main_loop.quit);
  g_main_loop.quit = false;

  g_game_hooks = {};
  clear_message_lines();
  run_menu_action(ACTION_START_RACE, 0);
  EXPECT_TRUE(shown("This build has no races"));
  run_menu_action(ACTION_CONNECT_HISTORY, 0);
  g_demos.paths = {"demos/a.dvdemo"};
  run_menu_action(ACTION_PLAY_DEMO, 0);
  EXPECT_TRUE(shown("no demo playback"));
}
