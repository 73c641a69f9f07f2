#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "platform/log.h"

namespace {

std::string temp_path(const char* name) {
  return std::string(::testing::TempDir()) + name;
}

std::vector<std::string> read_lines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Each test starts with a closed log and no environment overrides.
class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    log_reset_for_tests();
    options_reset_for_tests();
    unsetenv("VORN_LOGFILE");
    unsetenv("VORN_LOGFILE_FLAGS");
    unsetenv("VORN_OPTIONS");
  }
  void TearDown() override { log_printf(nullptr); log_reset_for_tests(); }
};

TEST_F(LogTest, FirstMessageNamesTheFileAndIsNotWritten) {
  std::string path = temp_path("dv_log_first.txt");
  remove(path.c_str());
  log_printf("VORN_LOGFILE=%s", path.c_str());
  log_printf("hello %d\n", 42);
  log_printf("\x13secret\n");  // control-S lines are dropped
  log_printf(nullptr);
  auto lines = read_lines(path);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[0].find("Logfile \"" + path + "\" opened"), std::string::npos);
  EXPECT_NE(lines[1].find("VORN 0.31"), std::string::npos);
  EXPECT_TRUE(std::regex_match(lines[2], std::regex(R"(\[\d+:\d\d:\d\d\.\d\d\] hello 42)"))) << lines[2];
}

TEST_F(LogTest, EnvironmentNameWinsAndDoubleGreaterThanAppends) {
  std::string path = temp_path("dv_log_append.txt");
  {
    std::ofstream out(path);
    out << "old line\n";
  }
  std::string name = ">>" + path;
  setenv("VORN_LOGFILE", name.c_str(), 1);
  log_printf("VORN_LOGFILE=/nonexistent/elsewhere.txt");
  log_printf("new line\n");
  log_printf(nullptr);
  auto lines = read_lines(path);
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[0], "old line");
  EXPECT_NE(lines.back().find("new line"), std::string::npos);
}

TEST_F(LogTest, NoFileMeansNothingIsWrittenAndNothingCrashes) {
  log_printf("just a line\n");
  log_error("something failed");
  EXPECT_STREQ(last_error(), "something failed");
}

TEST_F(LogTest, ConcurrentWritersNeverSplitALine) {
  std::string path = temp_path("dv_log_threads.txt");
  remove(path.c_str());
  log_printf("VORN_LOGFILE=%s", path.c_str());
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; t++) {
    threads.emplace_back([t] {
      for (int i = 0; i < 300; i++) log_printf("thread %d line %d %s\n", t, i, std::string(100, 'a' + t).c_str());
    });
  }
  for (auto& th : threads) th.join();
  log_printf(nullptr);
  auto lines = read_lines(path);
  ASSERT_EQ(lines.size(), 2u + 4 * 300);
  std::regex whole(R"(\[\d+:\d\d:\d\d\.\d\d\] thread (\d) line \d+ ([a-d])\2{99})");
  for (size_t i = 2; i < lines.size(); i++) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[i], m, whole)) << lines[i];
    EXPECT_EQ(m[2].str()[0], 'a' + (m[1].str()[0] - '0'));
  }
}

TEST_F(LogTest, OptionsAreFoundAnywhereInTheText) {
  setenv("VORN_OPTIONS", "junk [sound-rate:44100] more [threaded:yes][dsnd:maybe][waveout:off]", 1);
  EXPECT_EQ(option_number("sound-rate", 22050), 44100);
  EXPECT_EQ(option_flag("threaded", 0), 1);
  EXPECT_EQ(option_flag("waveout", 1), 0);
  EXPECT_EQ(option_flag("dsnd", 1), 1);  // unrecognised value keeps the default
  EXPECT_EQ(option_flag("dinput", 1), 1);
  EXPECT_EQ(option_number("sound-channels", 16), 16);
}

TEST_F(LogTest, UnrecognisedSettingIsLogged) {
  std::string path = temp_path("dv_log_options.txt");
  remove(path.c_str());
  setenv("VORN_OPTIONS", "[dsnd:maybe][sound-mixahead:soon]", 1);
  log_printf("VORN_LOGFILE=%s", path.c_str());
  EXPECT_EQ(option_flag("dsnd", 1), 1);
  EXPECT_EQ(option_number("sound-mixahead", 125), 125);
  log_printf(nullptr);
  auto lines = read_lines(path);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_NE(lines[2].find("unrecognized setting for dsnd"), std::string::npos);
  EXPECT_NE(lines[3].find("unrecognized setting for sound-mixahead"), std::string::npos);
}

}  // namespace
