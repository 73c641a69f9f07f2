// DV_CHECK_ALLOC: the probe program is run in a child process, because the
// decision to record is taken at the first allocation of a process.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> run_probe(const std::string& environment, const char* mode) {
  std::string command = environment + " " + ALLOC_PROBE_PATH + " " + mode + " 2>&1";
  std::vector<std::string> lines;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return lines;
  char line[512];
  while (fgets(line, sizeof line, pipe)) {
    std::string text(line);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    lines.push_back(text);
  }
  pclose(pipe);
  return lines;
}

bool sanitizer_build() {
#if defined(__SANITIZE_ADDRESS__)
  return true;
#else
  return false;
#endif
}

int count_prefix(const std::vector<std::string>& lines, const std::string& prefix) {
  int n = 0;
  for (const std::string& l : lines)
    if (l.compare(0, prefix.size(), prefix) == 0) n++;
  return n;
}

TEST(AllocCheck, ReportsLiveBlocksAndUnknownFrees) {
  if (sanitizer_build()) GTEST_SKIP() << "the sanitizer owns operator new in this build";
  std::vector<std::string> lines = run_probe("DV_CHECK_ALLOC=1", "leak");
  std::string leaked, vector_object, vector_data, foreign;
  size_t live = 0;
  std::vector<std::pair<std::string, int>> report;
  for (const std::string& l : lines) {
    char a[64], b[64], c[64];
    int serial;
    if (sscanf(l.c_str(), "leaked %63s %63s %63s", a, b, c) == 3) {
      leaked = a;
      vector_object = b;
      vector_data = c;
    } else if (sscanf(l.c_str(), "foreign %63s", a) == 1) {
      foreign = a;
    } else if (sscanf(l.c_str(), "live %zu", &live) == 1) {
    } else if (sscanf(l.c_str(), "%63[0-9a-fx]:%d", a, &serial) == 2) {
      report.emplace_back(a, serial);
    }
  }
  ASSERT_FALSE(leaked.empty());
  EXPECT_EQ(count_prefix(lines, "Allocation not found for " + foreign + "!"), 1);
  // Our three blocks (the int, the vector, its storage) are among the live
  // ones; the freed array is not, though it took a serial number.
  EXPECT_GE(live, 3u);
  EXPECT_EQ(report.size(), live);
  int leaked_serial = -1, object_serial = -1, data_serial = -1;
  for (size_t i = 0; i < report.size(); i++) {
    if (i > 0) {
      EXPECT_LT(report[i - 1].second, report[i].second);  // oldest first
    }
    if (report[i].first == leaked) leaked_serial = report[i].second;
    if (report[i].first == vector_object) object_serial = report[i].second;
    if (report[i].first == vector_data) data_serial = report[i].second;
  }
  EXPECT_GE(leaked_serial, 0);
  EXPECT_EQ(object_serial, leaked_serial + 2);
  EXPECT_EQ(data_serial, leaked_serial + 3);
}

TEST(AllocCheck, SilentWithoutTheVariable) {
  if (sanitizer_build()) GTEST_SKIP() << "the sanitizer owns operator new in this build";
  std::vector<std::string> lines = run_probe("env -u DV_CHECK_ALLOC", "leak");
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(count_prefix(lines, "Allocation not found"), 0);
  EXPECT_EQ(count_prefix(lines, "live 0"), 1);
  EXPECT_EQ(lines.size(), 3u);  // "leaked", "foreign", "live" and no report
}

TEST(AllocCheck, StopsBeyondTheLiveLimit) {
  if (sanitizer_build()) GTEST_SKIP() << "the sanitizer owns operator new in this build";
  std::vector<std::string> lines = run_probe("DV_CHECK_ALLOC=1", "many");
  EXPECT_EQ(count_prefix(lines, "Too many allocations to check!"), 1);
  EXPECT_EQ(count_prefix(lines, "Allocation not found"), 0);  // frees after the stop are not checked
  EXPECT_EQ(count_prefix(lines, "active 0"), 1);
  EXPECT_EQ(lines.size(), 2u);
}

}  // namespace
