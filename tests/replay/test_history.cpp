// The history ring: insertion rules, the unsaved count the demo writer
// relies on, choosing and interpolating records for a tick, the
// extrapolation cap, visibility and sampling.
#include <gtest/gtest.h>

#include <cstring>

#include "replay/history.h"
#include "replay_test_util.h"

namespace {

const RecordModel MODEL = default_record_model();
const double XSTEP = 2048.0 / 16777215;

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
  std::vector<int> stamps() {
    int32_t s[HISTORY_ENTRIES];
    StateHistory copy = h;
    copy.unsaved = HISTORY_ENTRIES;
    return std::vector<int>(s, s + take_unsaved(&copy, s, nullptr));
  }
  ReplayChoice choose(int tick, int version = 5) {
    ReplayChoice c{};
    EXPECT_TRUE(choose_replay_record(h, tick, version, &c));
    return c;
  }
};

}  // namespace

TEST_F(History, FirstRecordForATickWins) {
  add_state(&h, tagged(1), 100);
  add_state(&h, tagged(2), 104);
  add_state(&h, tagged(3), 104);
  add_state(&h, tagged(4), 100);
  EXPECT_EQ(stamps(), (std::vector<int>{100, 104}));
  EXPECT_NEAR(tag_of(h.record[h.head]), 2, XSTEP);
  EXPECT_EQ(h.unsaved, 2);
}

TEST_F(History, OlderRecordDiscardsEveryNewerOne) {
  for (int t = 8; t <= 40; t += 4) add_state(&h, tagged(t), t);
  h.unsaved = 3;  // the writer saved all but 32, 36 and 40
  add_state(&h, tagged(99), 30);
  EXPECT_EQ(stamps(), (std::vector<int>{8, 12, 16, 20, 24, 28, 30}));
  EXPECT_NEAR(tag_of(h.record[h.head]), 99, XSTEP);
  // Only the new entry is left to save: the saved ones are not written twice.
  EXPECT_EQ(unsaved_count(h), 1);
  add_state(&h, tagged(7), 2);  // older than everything held
  EXPECT_EQ(stamps(), (std::vector<int>{2}));
  add_state(&h, tagged(8), -4);  // never stored: -1 marks empty entries
  EXPECT_EQ(history_size(h), 1);
  // A full ring keeps the newest 128, all of them unsaved at most.
  for (int t = 0; t < 300; t++) add_state(&h, tagged(0), 10 + 4 * t);
  EXPECT_EQ(stamps().front(), 10 + 4 * (300 - 128));
  EXPECT_EQ(unsaved_count(h), HISTORY_ENTRIES);
}

TEST_F(History, ChoosesOrInterpolatesTheRecordForATick) {
  ReplayChoice c{};
  EXPECT_FALSE(choose_replay_record(h, 10, 5, &c));  // empty: the bike is left alone
  add_state(&h, tagged(0), 100);
  EXPECT_EQ(memcmp(choose(50).record.bytes, h.record[h.head].bytes, STATE_RECORD_BYTES), 0);
  EXPECT_EQ(choose(200).span, 1);
  add_state(&h, tagged(4), 104);
  add_state(&h, tagged(8), 108);
  c = choose(104);  // on a stamp: that record, marker kept
  EXPECT_TRUE(record_sampled(c.record));
  EXPECT_NEAR(tag_of(c.record), 4, XSTEP);
  EXPECT_EQ(c.span, 4);
  c = choose(106);  // between stamps: interpolated and marked so
  EXPECT_FALSE(record_sampled(c.record));
  EXPECT_NEAR(tag_of(c.record), 6, 2 * XSTEP);
  EXPECT_NEAR(tag_of(c.before), 4, XSTEP);
  EXPECT_NEAR(tag_of(c.after), 8, XSTEP);
  c = choose(-30);  // before the oldest: the oldest, velocities over the real gap
  EXPECT_NEAR(tag_of(c.record), 0, XSTEP);
  EXPECT_EQ(c.span, 4);
  c = choose(106, 4);  // version-4 demos: the earlier record as is
  EXPECT_NEAR(tag_of(c.record), 4, XSTEP);
}

TEST_F(History, ExtrapolatesAtMost64TicksPastTheNewestRecord) {
  add_state(&h, tagged(0, 0.1), 96);
  add_state(&h, tagged(4, 0.5), 100);  // 1 ft a tick
  EXPECT_NEAR(tag_of(choose(120).record), 24, 4 * XSTEP);
  ReplayChoice c = choose(300);  // held at newest + 64
  EXPECT_NEAR(tag_of(c.record), 68, 4 * XSTEP);
  EXPECT_EQ(c.record.bytes[17], h.record[h.head].bytes[17]);         // steering at the newest
  EXPECT_EQ(c.record.bytes[18], h.record[h.head].bytes[18] & ~1);    // fork, less the marker
  EXPECT_EQ(c.record.bytes[36], h.record[h.head].bytes[36]);
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
  if (slot == 7) return false;  // no bike after all
  g_encoded[slot]++;
  *record = tagged(slot);
  return true;
}

}  // namespace

TEST(Sampling, EveryFourthTickOrWhenForcedAndOnlySimulatedSlots) {
  static StateHistory histories[MAX_BIKES];
  clear_all_histories(histories);
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
  EXPECT_EQ(g_encoded[3] + g_encoded[6], 0);
  EXPECT_EQ(histories[0].stamp[histories[0].head], 17);
  EXPECT_EQ(history_size(histories[7]), 0);
  // Slots outside the table are reported and dropped.
  clear_message_lines();
  add_state_to_history(160, tagged(1), 4);
  EXPECT_TRUE(message_shown("add_state_to_history: slot out of range"));
}
