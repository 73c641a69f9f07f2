// HUD texts and read-outs, the message lines' visibility, the results board
// rows, and screenshot names.
#include <sys/stat.h>

#include <cmath>
#include <filesystem>

#include "core/datafile.h"
#include "render/image.h"
#include "ui/hud.h"
#include "ui/results.h"
#include "ui/screenshot.h"
#include "ui_test_util.h"

TEST(HudText, TimesOrdinalsAndGears) {
  EXPECT_EQ(format_lap_time(0), "0:00.000");
  EXPECT_EQ(format_lap_time(128 * 83 + 64), "1:23.500");
  EXPECT_EQ(format_lap_time(1), "0:00.008");  // 7.8125 ms, rounded
  EXPECT_EQ(format_lap_time(128 * 3600), "60:00.000");
  EXPECT_EQ(format_lap_time(-1), "-:--.---");
  EXPECT_EQ(ordinal(1), "1st");
  EXPECT_EQ(ordinal(2), "2nd");
  EXPECT_EQ(ordinal(3), "3rd");
  EXPECT_EQ(ordinal(4), "4th");
  EXPECT_EQ(ordinal(11), "11th");
  EXPECT_EQ(ordinal(12), "12th");
  EXPECT_EQ(ordinal(13), "13th");
  EXPECT_EQ(ordinal(21), "21st");
  EXPECT_EQ(ordinal(112), "112th");
  EXPECT_EQ(ordinal(123), "123rd");
  HudBike bike = {};
  EXPECT_EQ(gear_text(bike), "N");
  bike.gear = 4;
  EXPECT_EQ(gear_text(bike), "4");

  BikeView view = {};
  view.velocity = {0, 0, -44};
  EXPECT_NEAR(speed_mph(view), 30.0, 1e-9);
  view.velocity = {NAN, 0, 0};
  EXPECT_EQ(speed_mph(view), 0.0);  // a broken read-out never shows garbage
}

TEST(HudText, LapsPositionAndTimeLeft) {
  HudFrame frame;
  frame.have_race = true;
  frame.race.lap_total = 5;
  frame.bike.laps_completed = 1;
  EXPECT_EQ(lap_text(frame), "Lap 2/5");
  frame.bike.laps_completed = 5;  // over the line on the last lap, not yet flagged
  EXPECT_EQ(lap_text(frame), "Lap 5/5");
  frame.bike.finished = true;
  EXPECT_EQ(lap_text(frame), "Finished");
  frame.bike.finished = false;
  frame.bike.laps_completed = 2;
  frame.race.lap_total = 1000000;  // a timed race keeps its length open
  EXPECT_EQ(lap_text(frame), "Lap 3");
  frame.race.lap_total = 1000;  // practice starts with a long lap count it never means
  frame.race.practice = true;
  EXPECT_EQ(lap_text(frame), "Lap 3");
  frame.race.practice = false;

  frame.position = 3;
  frame.riders = 10;
  EXPECT_EQ(position_text(frame), "3rd of 10");
  frame.riders = 1;
  EXPECT_EQ(position_text(frame), "");  // alone there is no place to tell

  frame.race.time_limit_ticks = 10 * 60 * 128;
  frame.race.gate_drop_tick = 1800;
  frame.race.tick = 1800 + 128 * 60 * 5 + 1;
  EXPECT_EQ(time_left_text(frame), "5:00 left");  // a started second counts whole
  frame.race.tick = 0;  // before the drop the whole time is left
  EXPECT_EQ(time_left_text(frame), "10:00 left");
  frame.race.tick = 1800 + 10 * 60 * 128;
  EXPECT_EQ(time_left_text(frame), "Last laps");
  frame.race.time_limit_ticks = 0;
  EXPECT_EQ(time_left_text(frame), "");
}

TEST(HudText, TachometerAngleAndOrientation) {
  EXPECT_DOUBLE_EQ(tach_angle(0), TACH_ZERO_ANGLE);
  EXPECT_NEAR(tach_angle(TACH_FULL_RPM / 2), 0.0, 1e-12);  // straight up at half scale
  EXPECT_DOUBLE_EQ(tach_angle(1e9), TACH_FULL_ANGLE);
  EXPECT_DOUBLE_EQ(tach_angle(-50), TACH_ZERO_ANGLE);
  EXPECT_DOUBLE_EQ(tach_angle(NAN), TACH_ZERO_ANGLE);

  // A bike turned a quarter to its left faces -X: heading -90 like the race
  // places it (forward = (sin h, 0, cos h)); pitched 30 degrees nose up.
  BikeView view = {};
  const double p = 30 * M_PI / 180;
  // Yaw +90 about Y, then pitch about the bike's X axis.
  float yaw[9] = {0, 0, 1, 0, 1, 0, -1, 0, 0};
  float pitch[9] = {1, 0, 0, 0, (float)std::cos(p), (float)-std::sin(p), 0, (float)std::sin(p), (float)std::cos(p)};
  for (int r = 0; r < 3; r++)
    for (int c = 0; c < 3; c++) {
      float v = 0;
      for (int k = 0; k < 3; k++) v += yaw[r * 3 + k] * pitch[k * 3 + c];
      view.rotation[r * 3 + c] = v;
    }
  view.position = {1, 2, 3};
  std::string text = orientation_text(view);
  EXPECT_NE(text.find("pos (1.00, 2.00, 3.00)"), std::string::npos) << text;
  EXPECT_NE(text.find("heading -90.0"), std::string::npos) << text;
  EXPECT_NE(text.find("pitch 30.0"), std::string::npos) << text;
  EXPECT_NE(text.find("roll 0.0"), std::string::npos) << text;
}

TEST(HudText, FrameRateOverEachSecond) {
  FrameRate rate;
  for (int i = 0; i <= 60; i++) count_frame(&rate, 10.0 + i / 60.0);
  EXPECT_NEAR(rate.fps, 60.0, 0.5);
  for (int i = 1; i <= 25; i++) count_frame(&rate, 11.0 + i / 25.0);
  EXPECT_NEAR(rate.fps, 25.0, 0.5);
  count_frame(&rate, 5.0);  // the clock went back: start again
  EXPECT_EQ(rate.frames, 1);
}

TEST(SuspensionGraph, TraceKeepsTheNewestFramesInOrder) {
  SuspensionTrace trace;
  EXPECT_EQ(suspension_sample(trace, true, 0), 0.0f);
  push_suspension_sample(&trace, 0.25f, 2.0f);
  push_suspension_sample(&trace, NAN, -1.0f);
  ASSERT_EQ(trace.count, 2);
  EXPECT_EQ(suspension_sample(trace, true, 0), 0.25f);
  EXPECT_EQ(suspension_sample(trace, false, 0), 1.0f);  // clamped
  EXPECT_EQ(suspension_sample(trace, true, 1), 0.0f);   // not a number
  EXPECT_EQ(suspension_sample(trace, false, 1), 0.0f);
  EXPECT_EQ(suspension_sample(trace, true, 2), 0.0f);   // not held
  // Past the ring's length the oldest go: sample 0 is always the oldest held.
  for (int i = 0; i < SUSPENSION_TRACE_SAMPLES + 10; i++) push_suspension_sample(&trace, i * 0.001f, 0.5f);
  EXPECT_EQ(trace.count, SUSPENSION_TRACE_SAMPLES);
  EXPECT_FLOAT_EQ(suspension_sample(trace, true, 0), 0.010f);
  EXPECT_FLOAT_EQ(suspension_sample(trace, true, SUSPENSION_TRACE_SAMPLES - 1), (SUSPENSION_TRACE_SAMPLES + 9) * 0.001f);
  EXPECT_EQ(suspension_speed_text(-1.254f, 0.4f), "speed -1.25 ft/s  low speed  40%");
  EXPECT_EQ(suspension_speed_text(0.5f, 7.0f), "speed +0.50 ft/s  low speed 100%");
}

TEST(MessageLines, ConfiguredCountHiddenTwoSecondsAfterTheLast) {
  clear_message_lines();
  g_message_line_limit = 3;
  g_game_clock = 50;
  for (int i = 1; i <= 5; i++) show_message("line %d\n", i);
  std::vector<std::string> lines = visible_message_lines(51.9);
  EXPECT_EQ(lines, (std::vector<std::string>{"line 3", "line 4", "line 5"}));  // oldest first, no newline
  EXPECT_TRUE(visible_message_lines(52.0).empty());
  EXPECT_EQ(g_messages.visible, 0);
  g_game_clock = 52.4;
  show_message("line 6");
  EXPECT_EQ(visible_message_lines(52.5), std::vector<std::string>{"line 6"});  // a fresh block after hiding
  // A count larger than the ring is held to what the ring holds.
  g_message_line_limit = 5000;
  for (int i = 0; i < 1200; i++) show_message("x");
  EXPECT_EQ(visible_message_lines(52.6).size(), (size_t)MESSAGE_RING_LINES);
  g_message_line_limit = 0;
  show_message("not shown");
  EXPECT_TRUE(visible_message_lines(52.7).empty());
  g_message_line_limit = 5;
  g_game_clock = 0;
}

TEST(ResultsBoard, RowsGapsAndPenaltyLines) {
  ResultsEntry e[4] = {};
  const char* numbers[4] = {"7", "999", "23", "5"};
  for (int i = 0; i < 4; i++) {
    e[i].slot = i;
    e[i].number = numbers[i];
    e[i].name = "Rider";
    e[i].bike = "rs50yz";
    e[i].laps = 5;
    e[i].total_ticks = 128 * 300 + i * 64;
    e[i].best_lap = 2;
    e[i].best_lap_ticks = 128 * 59;
    e[i].finished = true;
  }
  e[2].laps = 4;
  e[2].laps_taken = 1;
  e[2].penalty_ticks = 416;
  e[3].finished = false;
  e[3].number = nullptr;
  ResultsBoard board = make_results_board(e, 4, false);
  EXPECT_EQ(board.title, "Unofficial Results");
  ASSERT_EQ(board.rows.size(), 4u);
  EXPECT_EQ(board.rows[0].time, "5:00.000");
  EXPECT_EQ(board.rows[1].time, "+0.500");
  EXPECT_EQ(board.rows[2].time, "+1 lap");
  EXPECT_EQ(board.rows[3].time, "Racing");
  EXPECT_EQ(board.rows[3].number, "");
  EXPECT_EQ(board.rows[0].best_lap, "0:59.000 (2)");
  ASSERT_EQ(board.penalties.size(), 1u);
  EXPECT_EQ(board.penalties[0], " 23 penalized 1 lap 3.25 seconds for cutting track");
  e[2].laps_taken = 2;
  EXPECT_EQ(penalty_line(e[2]), " 23 penalized 2 laps 3.25 seconds for cutting track");
  e[2].laps_taken = 0;
  EXPECT_EQ(penalty_line(e[2]), " 23 penalized 3.25 seconds for cutting track");
  EXPECT_EQ(penalty_line(e[0]), "");
  EXPECT_EQ(make_results_board(e, 4, true).title, "Final Results");
  EXPECT_TRUE(make_results_board(e, -3, true).rows.empty());
}

class ScreenshotTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/dv_shot_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    set_search_directories({dir_});
    clear_message_lines();
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string dir_;
};

TEST_F(ScreenshotTest, NextFreeNameNeverOverwrites) {
  std::vector<uint8_t> rgb(4 * 3 * 3, 200);
  EXPECT_EQ(next_screenshot_name(), "screenshot000.png");
  ASSERT_TRUE(save_screenshot(rgb.data(), 4, 3));
  EXPECT_TRUE(shown("Saved \"screenshot000.png\""));
  // A gap left by a deleted picture is filled first; a directory of that
  // name counts as taken.
  ASSERT_TRUE(save_screenshot(rgb.data(), 4, 3));
  std::filesystem::remove(dir_ + "/screenshot000.png");
  std::filesystem::create_directory(dir_ + "/screenshot002.png");
  EXPECT_EQ(next_screenshot_name(), "screenshot000.png");
  ASSERT_TRUE(save_screenshot(rgb.data(), 4, 3));
  EXPECT_EQ(next_screenshot_name(), "screenshot003.png");
  Image back;
  ASSERT_TRUE(read_png_file((dir_ + "/screenshot001.png").c_str(), &back, nullptr));
  EXPECT_EQ(back.width, 4);
  EXPECT_EQ(back.height, 3);
  EXPECT_EQ(back.pixels[0], 200);

  for (int n = 0; n < SCREENSHOT_NAMES; n++) {
    char name[64];
    snprintf(name, sizeof name, "%s/screenshot%03d.png", dir_.c_str(), n);
    FILE* f = fopen(name, "a");
    if (f) fclose(f);
  }
  EXPECT_EQ(next_screenshot_name(), "");
  clear_message_lines();
  EXPECT_FALSE(save_screenshot(rgb.data(), 4, 3));
  EXPECT_TRUE(shown("all exist"));
  EXPECT_FALSE(save_screenshot(nullptr, 4, 3));
}
