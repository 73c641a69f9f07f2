// The message lines every subsystem reports through.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "core/config.h"
#include "core/message.h"
#include "platform/log.h"

namespace {

class MessageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_config();
    clear_message_lines();
    g_game_clock = 0.0;
  }
  void TearDown() override {
    reset_config();
    clear_message_lines();
  }
};

TEST_F(MessageTest, VisibleLinesRiseToTheConfiguredCount) {
  read_config_line("message_lines=3\n");
  g_game_clock = 41.5;
  for (int i = 0; i < 5; i++) show_message("line %d", i);
  EXPECT_EQ(g_messages.visible, 3);
  EXPECT_EQ(g_messages.total, 5);
  EXPECT_STREQ(message_line(0), "line 4");
  EXPECT_STREQ(message_line(4), "line 0");
  EXPECT_EQ(message_line(5), nullptr);
  EXPECT_DOUBLE_EQ(g_messages.hide_time, 43.5);
  show_message("%s", std::string(300, 'q').c_str());
  EXPECT_EQ(std::string(message_line(0)), std::string(127, 'q'));
}

TEST_F(MessageTest, HugeLineCountsAreLimitedToTheRing) {
  read_config_line("message_lines=5000\n");
  EXPECT_EQ(g_message_line_limit, 5000);  // the file's value stays as it is
  for (int i = 0; i < 1200; i++) show_message("m%d\n", i);
  EXPECT_EQ(g_messages.visible, MESSAGE_RING_LINES);
  EXPECT_EQ(g_messages.total, MESSAGE_RING_LINES);
  EXPECT_STREQ(message_line(0), "m1199\n");
  EXPECT_STREQ(message_line(999), "m200\n");

  read_config_line("message_lines=-4\n");
  show_message("hidden");
  EXPECT_EQ(g_messages.visible, 0);
}

TEST_F(MessageTest, LogGetsOneLineWithTheColourResetBeforeTheBreak) {
  std::string path = std::string(::testing::TempDir()) + "dv_message_log.txt";
  log_printf(nullptr);
  log_reset_for_tests();
  setenv("VORN_LOGFILE", path.c_str(), 1);
  show_message("\033[31mred\n");
  show_message("no newline");
  show_message("plain\n");
  log_printf(nullptr);
  log_reset_for_tests();
  unsetenv("VORN_LOGFILE");

  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  std::string log = text.str();
  EXPECT_NE(log.find("] \033[31mred\033[0m\n["), std::string::npos) << log;
  EXPECT_NE(log.find("] no newline\n["), std::string::npos) << log;
  EXPECT_NE(log.find("] plain\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("plain\n\n"), std::string::npos) << log;
}

}  // namespace
