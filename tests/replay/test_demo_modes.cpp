// The mode rules around the files: the playback file, the guard against
// racing and recording the same demo, keeping the fastest lap, and the
// timing a rewind takes back.
#include <gtest/gtest.h>

#include "race/timing.h"
#include "replay/demo_modes.h"
#include "replay_test_util.h"

struct DemoModes : ScratchHome {};

TEST_F(DemoModes, PlaybackFileFollowsThePickThenTheMode) {
  EXPECT_EQ(playback_demo_path("/tmp/x.dvdemo", true, "mx1"), "/tmp/x.dvdemo");
  EXPECT_EQ(playback_demo_path(nullptr, true, "mx1"), "@mx1/fastlap.dvdemo");
  EXPECT_EQ(playback_demo_path("", false, "mx1"), "@demos/default.dvdemo");
}

TEST_F(DemoModes, RacingTheDefaultDemoSwitchesRecordingOff) {
  write("demos/default.dvdemo", "DV06 0 0 3\nt\n");
  write("demos/heat.dvdemo", "DV06 0 0 3\nt\n");
  EXPECT_TRUE(recording_allowed_while_playing("@demos/heat.dvdemo", true));
  EXPECT_FALSE(message_shown("Can't record"));
  EXPECT_FALSE(recording_allowed_while_playing("@demos/heat.dvdemo", false));
  // However it is spelt, the default demo is the file being recorded.
  for (std::string same : {std::string("@demos/default.dvdemo"), path("demos//default.dvdemo")}) {
    clear_message_lines();
    EXPECT_FALSE(recording_allowed_while_playing(same.c_str(), true)) << same;
    EXPECT_TRUE(message_shown("Can't record and play from same file - recording disabled"));
  }
}

TEST_F(DemoModes, OnlyAFirstOrBetterLapReplacesTheFastLap) {
  static StateHistory histories[MAX_BIKES];
  Bike* bikes[MAX_BIKES] = {};
  int mode[MAX_BIKES];
  for (int& m : mode) m = SLOT_MODE_EMPTY;
  DemoRecorder recorder;
  DemoPlayer player;
  write("mx1/lastlap.dvdemo", "lap one");
  EXPECT_TRUE(end_practice_lap(&recorder, &player, histories, bikes, mode, 100, "mx1", false));  // none yet
  EXPECT_EQ(read("mx1/fastlap.dvdemo"), "lap one");
  write("mx1/lastlap.dvdemo", "slower lap");
  EXPECT_FALSE(end_practice_lap(&recorder, &player, histories, bikes, mode, 200, "mx1", false));
  EXPECT_EQ(read("mx1/fastlap.dvdemo"), "lap one");
  write("mx1/lastlap.dvdemo", "faster lap");
  EXPECT_TRUE(end_practice_lap(&recorder, &player, histories, bikes, mode, 300, "mx1", true));
  EXPECT_EQ(read("mx1/fastlap.dvdemo"), "faster lap");
  EXPECT_FALSE(exists("mx1/fastlap.dvdemo.new"));
}

TEST(RewindTiming, DropsThePassesAfterTheTick) {
  BikeTiming t;
  reset_bike_timing(&t);
  for (int g = 0; g < 6; g++) set_pass_tick(&t, g, 100 * (g + 1));
  set_pass_tick(&t, 3, -1);  // a missed gate stays missed
  t.gates_passed = 6;
  t.finished = true;
  rewind_timing(&t, 450);
  EXPECT_EQ(t.gates_passed, 4);
  EXPECT_FALSE(t.finished);
  EXPECT_EQ(pass_tick(t, 2), 300);
  EXPECT_EQ(pass_tick(t, 4), -1);
  rewind_timing(&t, 0);
  EXPECT_EQ(t.gates_passed, 0);
}
