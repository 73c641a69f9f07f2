// The history ring: insertion order rules, the unsaved count the demo
// writer relies on, choosing and interpolating records for a tick, the
// extrapolation cap, visibility and sampling.
#include <gtest/gtest.h>

#include <cstring>

#include "replay/history.h"
#include "replay_test_util.h"

namespace {

const RecordModel MODEL = default_record_model();

// A record whose frame x tells which one it is: x = 1000 + tag.
StateRecord tagged(double tag, double steering = 0) {
  BikeState s = synthetic_state(0, 0);
  s.position[0].x = 1000 + tag;
  s.steering = steering;
  return encode_state(s, MODEL, TEST_SCALE, nullptr);
}

double tag_of(const StateRecord& r) { return record_frame_position(r, TEST_SCALE).x - 1000; }

struct History : ::testing::Test {
  StateHistory h;
  void SetUp() override { clear_history(&h); }
  std::vector<int> stamps_oldest_first() {
    std::vector<int32_t> s(HISTORY_ENTRIES);
    StateHistory copy = h;
    copy.unsaved = HISTORY_ENTRIES;
    int n = take_unsaved(&copy, s.data(), nullptr);
    return std::vector<int>(s.begin(), s.begin() + n);
  }
  ReplayChoice choose(int tick, int version = 5) {
    ReplayChoice c{};
    EXPECT_TRUE(choose_replay_record(h, tick, version, &c));
    return c;
  }
};

const double XSTEP = 2048.0 / 16777215;

}  // namespace

TEST_F(History, FirstRecordForATickWins) {
  add_state(&h, tagged(1), 100);
  add_state(&h, tagged(2), 104);
  add_state(&h, tagged(3), 104);  // same tick as the head
  add_state(&h, tagged(4), 100);  // same tick as an older entry
  EXPECT_EQ(stamps_oldest_first(), (std::vector<int>{100, 104}));
  EXPECT_NEAR(tag_of(h.record[h.head]), 2, XSTEP);
  EXPECT_EQ(h.unsaved, 2);
}

TEST_F(History, OlderRecordDiscardsEveryNewerOne) {
  for (int t = 8; t <= 40; t += 4) add_state(&h, tagged(t), t);
  h.unsaved = 3;  // the writer saved all but 32, 36, 40
  add_state(&h, tagged(99), 30);
  EXPECT_EQ(stamps_oldest_first(), (std::vector<int>{8, 12, 16, 20, 24, 28, 30}));
  EXPECT_EQ(h.stamp[h.head], 30);
  EXPECT_NEAR(tag_of(h.record[h.head]), 99, XSTEP);
  // Only the new entry is left to save; the discarded ones are gone and
  // the saved ones are not written twice.
  EXPECT_EQ(unsaved_count(h), 1);
  // Older than everything held: the new record is all that is left.
  add_state(&h, tagged(7), 2);
  EXPECT_EQ(stamps_oldest_first(), (std::vector<int>{2}));
  add_state(&h, tagged(8), -4);  // never stored: -1 marks empty entries
  EXPECT_EQ(history_size(h), 1);
}

TEST_F(History, RingKeepsTheNewest128AndCountsUnsavedUpTo128) {
  for (int t = 0; t < 300; t++) add_state(&h, tagged(t % 50), t * 4);
  EXPECT_EQ(history_size(h), HISTORY_ENTRIES);
  std::vector<int> s = stamps_oldest_first();
  EXPECT_EQ(s.front(), (300 - 128) * 4);
  EXPECT_EQ(s.back(), 299 * 4);
  EXPECT_EQ(h.unsaved, HISTORY_ENTRIES);
  int32_t stamps[HISTORY_ENTRIES];
  StateRecord records[HISTORY_ENTRIES];
  EXPECT_EQ(take_unsaved(&h, stamps, records), HISTORY_ENTRIES);
  EXPECT_EQ(stamps[0], (300 - 128) * 4);
  EXPECT_NEAR(tag_of(records[127]), 299 % 50, XSTEP);
  EXPECT_EQ(unsaved_count(h), 0);
  add_state(&h, tagged(1), 2000);
  EXPECT_EQ(take_unsaved(&h, stamps, nullptr), 1);
  EXPECT_EQ(stamps[0], 2000);
}

TEST_F(History, ChoosesOrInterpolatesTheRecordForATick) {
  add_state(&h, tagged(0), 100);
  // One entry: it is used as is, whatever the tick.
  ReplayChoice c = choose(50);
  EXPECT_EQ(memcmp(c.record.bytes, h.record[h.head].bytes, STATE_RECORD_BYTES), 0);
  EXPECT_EQ(c.span, 1);
  c = choose(200);
  EXPECT_NEAR(tag_of(c.record), 0, XSTEP);

  add_state(&h, tagged(4), 104);
  add_state(&h, tagged(8), 108);
  // On a stamp: that record, sampled marker kept, velocity span to the one before.
  c = choose(104);
  EXPECT_TRUE(record_sampled(c.record));
  EXPECT_NEAR(tag_of(c.record), 4, XSTEP);
  EXPECT_EQ(c.span, 4);
  // Between stamps: interpolated, marked as such.
  c = choose(106);
  EXPECT_FALSE(record_sampled(c.record));
  EXPECT_NEAR(tag_of(c.record), 6, 2 * XSTEP);
  EXPECT_NEAR(tag_of(c.before), 4, XSTEP);
  EXPECT_NEAR(tag_of(c.after), 8, XSTEP);
  // Before the oldest entry: the oldest, with velocities over its real gap.
  c = choose(-30);
  EXPECT_NEAR(tag_of(c.record), 0, XSTEP);
  EXPECT_EQ(c.span, 4);
  // Version-4 demos are never interpolated: the earlier record as is.
  c = choose(106, 4);
  EXPECT_TRUE(record_sampled(c.record));
  EXPECT_NEAR(tag_of(c.record), 4, XSTEP);
}

TEST_F(History, EmptyHistoryLeavesTheBikeAlone) {
  ReplayChoice c{};
  EXPECT_FALSE(choose_replay_record(h, 0, 5, &c));
  EXPECT_FALSE(choose_replay_record(h, 5000, 5, &c));
}

TEST_F(History, ExtrapolatesAtMost64TicksPastTheNewestRecord) {
  add_state(&h, tagged(0, 0.1), 96);
  add_state(&h, tagged(4, 0.5), 100);  // moving 1 ft per tick
  ReplayChoice c = choose(120);
  EXPECT_NEAR(tag_of(c.record), 24, 4 * XSTEP);
  c = choose(300);  // 200 ticks past the newest: held at newest + 64
  EXPECT_NEAR(tag_of(c.record), 68, 4 * XSTEP);
  BikeState newest = decode_state(h.record[h.head], MODEL, TEST_SCALE);
  BikeState held = decode_state(c.record, MODEL, TEST_SCALE);
  EXPECT_DOUBLE_EQ(held.steering, newest.steering);
  EXPECT_NEAR(held.fork, newest.fork, 1.0 / 255 + 1e-12);  // less the sampled marker
  EXPECT_EQ(c.record.bytes[36], h.record[h.head].bytes[36]);
  EXPECT_LT(angle_between(held.orientation[0], newest.orientation[0]), 1e-4);
}

TEST_F(History, VisibleOnlyWithinASecondOfAnEntry) {
  EXPECT_FALSE(history_visible(h, 0));
  add_state(&h, tagged(0), 1000);
  EXPECT_TRUE(history_visible(h, 1000 + VISIBILITY_TICKS));
  EXPECT_TRUE(history_visible(h, 1000 - VISIBILITY_TICKS));
  EXPECT_FALSE(history_visible(h, 1000 + VISIBILITY_TICKS + 1));
  EXPECT_FALSE(history_visible(h, 1000 - VISIBILITY_TICKS - 1));
}

namespace {

int g_encoded[MAX_BIKES];
bool encode_counting(void*, int slot, StateRecord* record) {
  if (slot == 7) return false;  // a mode without a bike after all
  g_encoded[slot]++;
  *record = tagged(slot);
  return true;
}

}  // namespace

TEST(Sampling, EveryFourthTickOrWhenForcedAndOnlySimulatedSlots) {
  static StateHistory histories[MAX_BIKES];
  clear_all_histories(histories);
  memset(g_encoded, 0, sizeof g_encoded);
  int mode[MAX_BIKES];
  for (int& m : mode) m = SLOT_MODE_EMPTY;
  mode[0] = SLOT_MODE_PLAYER;
  mode[3] = SLOT_MODE_HISTORY;
  mode[5] = SLOT_MODE_ROBOT;
  mode[6] = 3;  // present, not taking part
  mode[7] = SLOT_MODE_ROBOT;
  for (int tick = 0; tick < 16; tick++) sample_states(histories, mode, tick, false, encode_counting, nullptr);
  sample_states(histories, mode, 17, true, encode_counting, nullptr);
  EXPECT_EQ(g_encoded[0], 5);
  EXPECT_EQ(g_encoded[5], 5);
  EXPECT_EQ(g_encoded[3], 0);
  EXPECT_EQ(g_encoded[6], 0);
  EXPECT_EQ(history_size(histories[0]), 5);
  EXPECT_EQ(histories[0].stamp[histories[0].head], 17);
  EXPECT_EQ(history_size(histories[7]), 0);
}

TEST(Sampling, SlotOutOfRangeIsReportedAndDropped) {
  clear_message_lines();
  clear_all_histories(g_histories);
  add_state_to_history(160, tagged(1), 4);
  add_state_to_history(-1, tagged(1), 4);
  EXPECT_TRUE(message_shown("add_state_to_history: slot out of range"));
  add_state_to_history(159, tagged(1), 4);
  EXPECT_EQ(history_size(g_histories[159]), 1);
}
