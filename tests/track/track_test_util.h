// Helpers of the track tests: shown-message and log checks.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/message.h"
#include "platform/log.h"

// True when one of the message lines shown since the last clear contains the text.
inline bool message_shown(const std::string& text) {
  for (int i = 0; const char* line = message_line(i); i++)
    if (std::string(line).find(text) != std::string::npos) return true;
  return false;
}

inline int messages_containing(const std::string& text) {
  int count = 0;
  for (int i = 0; const char* line = message_line(i); i++)
    if (std::string(line).find(text) != std::string::npos) count++;
  return count;
}

// Sends the log to a scratch file for the lifetime of the object.
class LogCapture {
 public:
  LogCapture() {
    char pattern[] = "/tmp/dv_track_log_XXXXXX";
    int fd = mkstemp(pattern);
    if (fd >= 0) close(fd);
    file_ = pattern;
    setenv("VORN_LOGFILE", file_.c_str(), 1);
    log_reset_for_tests();
  }
  ~LogCapture() {
    log_reset_for_tests();
    unsetenv("VORN_LOGFILE");
    remove(file_.c_str());
  }
  std::string text() const {
    std::string bytes;
    FILE* f = fopen(file_.c_str(), "rb");
    if (!f) return bytes;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
    fclose(f);
    return bytes;
  }

 private:
  std::string file_;
};
