#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include <zlib.h>

#include "core/datafile.h"
#include "robot/line_store.h"
#include "robot_test_util.h"
#include "tests/track/track_fixture.h"

namespace {

TimingGates loop_gates() { return straight_gates(5, {0, 1}, {2, 100003, 4}); }  // 4 groups

// A store with lines in three groups, one of them with a ridden record.
LineStore filled_store() {
  LineStore store;
  size_line_store(&store, loop_gates(), "loop", ROBOT_AMATEUR);
  offer_line(&store, 0, straight_line(-50, 0, 128));
  offer_line(&store, 1, straight_line(0, 100, 300, 0, 0));
  offer_line(&store, 1, straight_line(0, 100, 310, 10, 0));
  offer_line(&store, 3, straight_line(200, 400, 511, 0, 2));
  note_line_picked(&store, 1, 1, 5);
  note_line_failed(&store, 1, 1);
  note_line_ridden(&store, 1, 1, 320);
  return store;
}

void expect_same_lines(const LineStore& a, const LineStore& b) {
  ASSERT_EQ(a.groups.size(), b.groups.size());
  for (size_t g = 0; g < a.groups.size(); g++)
    for (int s = 0; s < LINE_SLOTS; s++) {
      const RobotLine &x = a.groups[g].lines[s], &y = b.groups[g].lines[s];
      ASSERT_EQ(x.used, y.used) << g << "/" << s;
      if (!x.used) continue;
      EXPECT_EQ(x.from_gate, y.from_gate);
      EXPECT_EQ(x.ticks, y.ticks);
      EXPECT_EQ(x.picked, y.picked);
      EXPECT_EQ(x.completed, y.completed);
      EXPECT_EQ(x.ridden_mean, y.ridden_mean);
      EXPECT_EQ(x.ridden_best, y.ridden_best);
      ASSERT_EQ(x.points.size(), y.points.size());
      EXPECT_EQ(memcmp(x.points.data(), y.points.data(), x.points.size() * sizeof(LinePoint)), 0);
    }
}

TEST(LineFile, RoundTripThroughTheHomeDirectory) {
  ScratchData data;
  LineStore store = filled_store();
  ASSERT_TRUE(store.changed);
  ASSERT_TRUE(save_line_store(&store));
  EXPECT_FALSE(store.changed);
  // Into the track's own directory under the name of the skill, with no
  // temporary left behind.
  EXPECT_TRUE(std::filesystem::exists(data.path("loop/lines_amateur")));
  EXPECT_FALSE(std::filesystem::exists(data.path("loop/lines_amateur.new")));

  LineStore back;
  ASSERT_TRUE(load_line_store(&back, loop_gates(), "loop", ROBOT_AMATEUR));
  EXPECT_EQ(line_count(back), 4);
  EXPECT_FALSE(back.changed);
  expect_same_lines(store, back);
  EXPECT_EQ(back.groups[1].lines[1].last_picked, -1);  // recency is per race
  // Each skill has its own file; a missing one is an empty store.
  LineStore expert;
  EXPECT_FALSE(load_line_store(&expert, loop_gates(), "loop", ROBOT_EXPERT));
  EXPECT_EQ(expert.groups.size(), 4u);
  EXPECT_EQ(line_count(expert), 0);
  // Unchanged stores are not written again.
  std::filesystem::remove(data.path("loop/lines_amateur"));
  EXPECT_TRUE(save_line_store(&back));
  EXPECT_FALSE(std::filesystem::exists(data.path("loop/lines_amateur")));
}

TEST(LineFile, DamageLosesOnlyTheLinesItTouches) {
  LineStore store = filled_store();
  std::vector<unsigned char> bytes = encode_lines(store);
  LineStore back;
  size_line_store(&back, loop_gates(), "loop", ROBOT_AMATEUR);
  int damaged = -1;
  ASSERT_TRUE(decode_lines(&back, bytes.data(), bytes.size(), &damaged));
  EXPECT_EQ(damaged, 0);
  expect_same_lines(store, back);

  // One flipped byte in the second record's points.
  const size_t first_record = 32 + 36 + 5 * 24 + 4;
  std::vector<unsigned char> hit = bytes;
  hit[first_record + 36 + 30] ^= 0x40;
  ASSERT_TRUE(decode_lines(&back, hit.data(), hit.size(), &damaged));
  EXPECT_EQ(damaged, 1);
  EXPECT_EQ(line_count(back), 3);
  EXPECT_TRUE(back.groups[0].lines[0].used);
  EXPECT_FALSE(back.groups[1].lines[0].used);
  EXPECT_TRUE(back.groups[1].lines[1].used);
  EXPECT_TRUE(back.groups[3].lines[0].used);

  // Cut off in the last record: the others stay.
  ASSERT_TRUE(decode_lines(&back, bytes.data(), bytes.size() - 50, &damaged));
  EXPECT_EQ(line_count(back), 3);
  EXPECT_EQ(damaged, 1);
  EXPECT_FALSE(back.groups[3].lines[0].used);

  // A damaged header, another version or another layout: nothing is used.
  std::vector<unsigned char> header = bytes;
  header[13] ^= 1;
  EXPECT_FALSE(decode_lines(&back, header.data(), header.size(), &damaged));
  EXPECT_EQ(line_count(back), 0);
  LineStore other;
  size_line_store(&other, straight_gates(5, {0, 1}, {2, 3, 100004}), "loop", ROBOT_AMATEUR);
  EXPECT_EQ(other.groups.size(), 4u);
  EXPECT_FALSE(decode_lines(&other, bytes.data(), bytes.size(), &damaged));
  EXPECT_FALSE(decode_lines(&back, bytes.data(), 31, &damaged));

  // A record that checks out but says nonsense (here a point count and a
  // duration that disagree, with its check recomputed) is damage too.
  std::vector<unsigned char> lie = bytes;
  lie[32 + 16] = 0xff;
  lie[32 + 17] = 0x7f;
  uint32_t c = (uint32_t)crc32(0, lie.data() + 32, 36 + 5 * 24);
  for (int i = 0; i < 4; i++) lie[32 + 36 + 5 * 24 + i] = (unsigned char)(c >> (8 * i));
  ASSERT_TRUE(decode_lines(&back, lie.data(), lie.size(), &damaged));
  EXPECT_EQ(damaged, 1);
  EXPECT_FALSE(back.groups[0].lines[0].used);
  EXPECT_EQ(line_count(back), 3);
}

TEST(LineFile, RandomDamageNeverBreaksTheReader) {
  std::vector<unsigned char> bytes = encode_lines(filled_store());
  std::mt19937 random(7);
  LineStore back;
  size_line_store(&back, loop_gates(), "loop", ROBOT_AMATEUR);
  for (int round = 0; round < 2000; round++) {
    std::vector<unsigned char> copy = bytes;
    int flips = 1 + (int)(random() % 8);
    for (int i = 0; i < flips; i++) copy[random() % copy.size()] = (unsigned char)random();
    copy.resize(copy.size() - random() % 64);
    int damaged = 0;
    if (decode_lines(&back, copy.data(), copy.size(), &damaged)) {
      EXPECT_LE(line_count(back), 4);
      for (const LineGroup& g : back.groups)
        for (const RobotLine& l : g.lines)
          if (l.used) {
            EXPECT_GE(l.points.size(), 2u);
            EXPECT_GT(l.ticks, 0);
          }
    }
  }
}

TEST(LineFile, DamagedFileOnDiskIsLoggedAndSkipped) {
  ScratchData data;
  LogCapture log;
  data.write("loop/lines_expert", "DVLINES\nthis is not a line file at all");
  LineStore store;
  EXPECT_FALSE(load_line_store(&store, loop_gates(), "loop", ROBOT_EXPERT));
  EXPECT_EQ(store.groups.size(), 4u);
  EXPECT_EQ(line_count(store), 0);
  EXPECT_TRUE(log.has("auto pilot: '@loop/lines_expert' is damaged or was made for other timing gates; not used"));

  LineStore good = filled_store();
  std::vector<unsigned char> bytes = encode_lines(good);
  bytes[40] ^= 0xff;  // inside the first record
  data.write("loop/lines_amateur", std::string(bytes.begin(), bytes.end()));
  EXPECT_TRUE(load_line_store(&store, loop_gates(), "loop", ROBOT_AMATEUR));
  EXPECT_EQ(line_count(store), 3);
  EXPECT_TRUE(log.has("auto pilot: '@loop/lines_amateur': 1 damaged lines skipped"));
}

}  // namespace
