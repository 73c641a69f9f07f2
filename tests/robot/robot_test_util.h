// Shared pieces of the robot tests: gates built in code, a log capture and
// lines made up point by point.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/log.h"
#include "robot/line_store.h"
#include "track/timing_gates.h"

// Checkpoint k at x = 100 k, radius 10, open towards +x; the sequences are
// given as written in a file (marks included).
inline TimingGates straight_gates(int checkpoints, const std::vector<int>& first, const std::vector<int>& normal) {
  TimingGates t;
  clear_timing_gates(&t);
  for (int k = 0; k < checkpoints; k++) t.checkpoints.push_back(Checkpoint{{100.0f * k, 0, 0}, {1, 0, 0}, 10, false});
  t.sequence = first;
  t.sequence.insert(t.sequence.end(), normal.begin(), normal.end());
  t.first_lap = (int)first.size();
  t.normal_lap = (int)normal.size();
  normalise_timing_gates(&t, 0);
  return t;
}

// Every log line written while it lives.
class LogCapture {
 public:
  LogCapture() {
    char name[] = "/tmp/dv_robot_log_XXXXXX";
    int fd = mkstemp(name);
    if (fd >= 0) close(fd);
    path_ = name;
    log_printf(nullptr);
    log_reset_for_tests();
    setenv("VORN_LOGFILE", (">>" + path_).c_str(), 1);  // reopening appends
  }
  ~LogCapture() {
    log_printf(nullptr);
    log_reset_for_tests();
    unsetenv("VORN_LOGFILE");
    remove(path_.c_str());
  }
  // The lines so far without their time stamps (every line is flushed).
  std::vector<std::string> lines() {
    std::vector<std::string> out;
    std::ifstream in(path_);
    for (std::string line; std::getline(in, line);) {
      size_t close = line.find("] ");
      if (line.size() > 1 && line[0] == '[' && close != std::string::npos) out.push_back(line.substr(close + 2));
    }
    return out;
  }
  bool has(const std::string& text) {
    for (const std::string& l : lines())
      if (l == text) return true;
    return false;
  }
  int count_prefix(const std::string& prefix) {
    int n = 0;
    for (const std::string& l : lines()) n += l.compare(0, prefix.size(), prefix) == 0;
    return n;
  }

 private:
  std::string path_;
};

// A line along z = offset from x0 to x1, ridden in `ticks` at constant speed.
inline RobotLine straight_line(float x0, float x1, int ticks, float offset = 0, int from_gate = GATE_DROP) {
  RobotLine l;
  clear_line(&l);
  l.from_gate = from_gate;
  l.ticks = ticks;
  float speed = (x1 - x0) / (float)(ticks * TICK_SECONDS);
  int count = (ticks + LINE_SAMPLE_TICKS - 1) / LINE_SAMPLE_TICKS + 1;
  for (int i = 0; i < count; i++) {
    int t = i + 1 < count ? i * LINE_SAMPLE_TICKS : ticks;
    l.points.push_back(LinePoint{{x0 + speed * (float)(t * TICK_SECONDS), 0, offset}, {speed, 0, 0}});
  }
  return l;
}
