// Reading demo files: the three versions, header quirks and damage, text
// and unknown chunks, chunks cut by the end of the file, the walk back
// through the chunk links, and rewind and skip.
#include <gtest/gtest.h>

#include <cstring>

#include "demo_test_util.h"
#include "replay/demo.h"

namespace {

StateHistory g_h[MAX_BIKES];

struct DemoRead : ScratchHome {
  DemoPlayer player;
  void SetUp() override {
    ScratchHome::SetUp();
    clear_all_histories(g_h);
  }
  void TearDown() override {
    close_demo(&player);
    ScratchHome::TearDown();
  }
  bool open(const std::string& bytes, bool practice = false) {
    write("demos/test.dvdemo", bytes);
    return open_demo(&player, "@demos/test.dvdemo", practice);
  }
  int newest(int slot) const { return g_h[slot].stamp[g_h[slot].head]; }
  int tag_at(int slot, int tick) {
    ReplayChoice c;
    EXPECT_TRUE(choose_replay_record(g_h[slot], tick, replay_version(player), &c));
    return decoded_tag(c.record);
  }
};

// Frames of version 4 or 5: rider r of frame f carries tag 3 f + r.
std::string frames(int riders, int count, bool old) {
  std::string out;
  for (int f = 0; f < count; f++) {
    for (int r = 0; r < riders; r++) {
      std::string rec = record_bytes(tag_record(3 * f + r));
      if (old) rec = rec.substr(0, 20) + std::string("\x80\x01\x02\x13\x00\x10", 6);
      out += rec;
    }
  }
  return out;
}

// States for rider 0 every 4 ticks up to the chunk's tick, tagged by tick / 4.
std::string states_upto(int from, int tick) {
  std::string payload;
  for (int t = from; t <= tick; t += 4) payload += ChunkWriter::entry(0, t, tag_record(t / 4));
  return payload;
}

}  // namespace

TEST_F(DemoRead, VersionFiveWithoutGateTickStartsAt1792AndStampsFramesFromNow) {
  ASSERT_TRUE(open("DV05 2 0 3\ntrack5\nkx125|a|b|c|d\n7\nyz125\n8\n" + frames(2, 20, false) +
                   record_bytes(tag_record(60))));  // frame 20 holds only its first rider
  EXPECT_EQ(player.version, 5);
  EXPECT_EQ(player.gate_drop_tick, DEMO_DEFAULT_GATE_DROP);
  EXPECT_EQ(player.laps, 3);
  EXPECT_EQ(player.race_time, 0);
  EXPECT_EQ(player.track, "track5");
  EXPECT_EQ(player.riders[0].wheel_skin, "c");
  EXPECT_EQ(player.riders[1].model, "yz125");
  EXPECT_EQ(player.riders[1].helmet_skin, "");
  set_demo_rider_slot(&player, 0, 3, nullptr);
  set_demo_rider_slot(&player, 1, 4, nullptr);
  int current = 0;
  read_demo_ahead(&player, g_h, &current);
  EXPECT_EQ(newest(3), DEMO_FRAME_READ_AHEAD_TICKS);
  EXPECT_EQ(tag_at(3, 5), 15);
  EXPECT_EQ(tag_at(4, 5), 16);
  // Straight to frame 15.
  ASSERT_TRUE(reposition_demo(&player, 15));
  clear_all_histories(g_h);
  current = 15;
  read_demo_ahead(&player, g_h, &current);
  EXPECT_EQ(tag_at(3, 15), 45);
  EXPECT_EQ(tag_at(4, 19), 58);
  // Frame 20 is cut after its first rider: the second gets nothing for it.
  current = 19;
  read_demo_ahead(&player, g_h, &current);
  EXPECT_EQ(newest(3), 20);
  EXPECT_EQ(newest(4), 19);
  EXPECT_TRUE(player.ended);
}

TEST_F(DemoRead, VersionFourRecordsAreConvertedAndNeverInterpolated) {
  ASSERT_TRUE(open("DV04 1 0 2 900\ntrack4\nrm250|||\n3\n" + frames(1, 10, true)));
  EXPECT_EQ(player.gate_drop_tick, 900);
  set_demo_rider_slot(&player, 0, 0, nullptr);
  int current = 0;
  read_demo_ahead(&player, g_h, &current);
  ReplayChoice c;
  ASSERT_TRUE(choose_replay_record(g_h[0], 3, replay_version(player), &c));
  EXPECT_EQ(decoded_tag(c.record), 9);
  EXPECT_EQ(c.record.bytes[36], 0x13);
  EXPECT_EQ(c.record.bytes[37] | c.record.bytes[38] << 8, 0x1000);
  EXPECT_EQ(replay_version(player), 4);
}

TEST_F(DemoRead, RiderBlocksMayCarryExtraLinesAndWindowsLineEnds) {
  ChunkWriter w;
  w.chunk(0, DEMO_CHUNK_STATES, ChunkWriter::entry(0, 0, tag_record(1)) + ChunkWriter::entry(1, 0, tag_record(2)));
  ASSERT_TRUE(open(v6_header(2, 1792, "paint=red\nanother line\n") + w.bytes));
  EXPECT_EQ(player.riders[1].name, "Rider 1");
  player.slot[0] = 0;
  player.slot[1] = 1;
  int current = 0;
  read_demo_ahead(&player, g_h, &current);
  EXPECT_EQ(tag_at(0, 0), 1);
  EXPECT_EQ(tag_at(1, 0), 2);

  std::string crlf;
  for (char c : v6_header(2)) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  ASSERT_TRUE(open(crlf + w.bytes));
  EXPECT_EQ(player.track, "testtrack");
  EXPECT_EQ(player.riders[0].number, "10");
  player.slot[1] = 9;
  clear_all_histories(g_h);
  current = 0;
  read_demo_ahead(&player, g_h, &current);
  EXPECT_EQ(tag_at(9, 0), 2);
}

TEST_F(DemoRead, MalformedHeadersAreRefusedCleanly) {
  EXPECT_FALSE(open_demo(&player, "@demos/missing.dvdemo", false));
  EXPECT_FALSE(message_shown("missing"));  // a missing file is silent
  const std::string bad[] = {
      "DV06 1\ntrack\n",                                  // fewer than three numbers
      "DV07 0 0 3\ntrack\n",                              // a future version
      "DV03 0 0 3\ntrack\n",
      "XX06 0 0 3\ntrack\n",
      "DV06 -2 0 3\ntrack\n",
      "DV06 1 0 3\ntrack\nmodel|a|b|c|d\n7\nname\n",      // the block's empty line is missing
      "DV06 0 0 3\ntrack",                                // no line feed
      "DV06 0 0 3\n" + std::string(1100, 't') + "\n",     // a line over 1023 characters
  };
  for (const std::string& b : bad) {
    clear_message_lines();
    EXPECT_FALSE(open(b)) << b.substr(0, 30);
    EXPECT_FALSE(demo_playing(player));
    EXPECT_TRUE(message_shown("Bad demo file"));
  }
  // More riders than slots is refused before any rider line is read.
  clear_message_lines();
  EXPECT_FALSE(open("DV06 161 0 3\ntrack\n"));
  EXPECT_TRUE(message_shown("161 riders"));
  EXPECT_TRUE(open("DV06 0 0 3\ntrack\n"));  // no riders, no data: still a demo
}

TEST_F(DemoRead, LongTextChunksAndUnknownChunksKeepTheReaderAligned) {
  std::string text;
  for (int i = 0; i < 2000; i++) text += (char)('a' + i % 26);
  ChunkWriter w;
  w.chunk(0, DEMO_CHUNK_STATES, states_upto(0, 0));
  w.chunk(4, DEMO_CHUNK_TEXT, text);
  w.chunk(8, 9, std::string(100, '\x55'));                  // a type this reader does not know
  w.chunk(12, DEMO_CHUNK_STATES, std::string(45, '\x01'));  // not whole entries: skipped
  w.chunk(16, DEMO_CHUNK_STATES, states_upto(4, 16));
  ASSERT_TRUE(open(v6_header(1) + w.bytes));
  player.slot[0] = 0;
  int current = 0;
  read_demo_ahead(&player, g_h, &current);
  EXPECT_TRUE(message_shown("abcdefghijklmnopqrstuvwxyzabcdef"));
  EXPECT_EQ(newest(0), 16);
  EXPECT_EQ(tag_at(0, 12), 3);
  EXPECT_EQ(history_size(g_h[0]), 5);
}

TEST_F(DemoRead, ChunksRunningPastTheFileAreCutWithAMessage) {
  ChunkWriter w;
  w.chunk(0, DEMO_CHUNK_STATES, states_upto(0, 8));
  std::string claimed = states_upto(12, 48);  // ten entries claimed, three there
  w.chunk(48, DEMO_CHUNK_STATES, claimed);
  std::string file = v6_header(1) + w.bytes.substr(0, w.bytes.size() - claimed.size() + 3 * DEMO_ENTRY_BYTES + 7);
  ASSERT_TRUE(open(file));
  player.slot[0] = 0;
  int current = 0;
  read_demo_ahead(&player, g_h, &current);
  EXPECT_TRUE(message_shown("is cut short"));
  EXPECT_TRUE(player.ended);
  EXPECT_EQ(newest(0), 20);  // entries 12, 16 and 20 arrived whole
  read_demo_ahead(&player, g_h, &current);
  EXPECT_EQ(history_size(g_h[0]), 6);

  // A text chunk whose length reaches past the end, and a torn chunk header.
  ChunkWriter t;
  t.chunk(0, DEMO_CHUNK_TEXT, std::string(5000, 'x'));
  for (const std::string& f : {v6_header(1) + t.bytes.substr(0, 3000), v6_header(1) + t.bytes.substr(0, 5)}) {
    clear_message_lines();
    ASSERT_TRUE(open(f));
    read_demo_ahead(&player, g_h, &current);
    EXPECT_TRUE(message_shown("is cut short"));
  }
}

TEST_F(DemoRead, RidersWithoutASlotAreDroppedAndReportedOnce) {
  ChunkWriter w;
  std::string payload;
  for (int t = 0; t <= 16; t += 4) payload += ChunkWriter::entry(1, t, tag_record(t));
  for (int t = 0; t <= 16; t += 4) payload += ChunkWriter::entry(0, t, tag_record(t));
  payload += ChunkWriter::entry(7, 16, tag_record(99));  // an ordinal past the header's riders
  w.chunk(16, DEMO_CHUNK_STATES, payload);
  ASSERT_TRUE(open(v6_header(2) + w.bytes));
  player.slot[0] = 4;
  int current = 0;
  read_demo_ahead(&player, g_h, &current);
  int reports = 0;
  for (int age = 0; const char* line = message_line(age); age++) reports += strstr(line, "slot out of range") != nullptr;
  EXPECT_EQ(reports, 1);
  EXPECT_EQ(history_size(g_h[4]), 5);
  for (int s = 0; s < MAX_BIKES; s++) {
    if (s != 4) {
      EXPECT_EQ(history_size(g_h[s]), 0) << s;
    }
  }
}

TEST_F(DemoRead, PracticeGhostStartsNowAndPlaybackJumpsToTheFirstChunk) {
  ChunkWriter w;
  w.chunk(320, DEMO_CHUNK_STATES, states_upto(308, 320));
  w.chunk(336, DEMO_CHUNK_STATES, states_upto(324, 336));
  ASSERT_TRUE(open(v6_header(1) + w.bytes, true));
  player.slot[0] = 1;
  int current = 5000;
  read_demo_ahead(&player, g_h, &current);
  EXPECT_EQ(current, 5000);
  EXPECT_EQ(player.offset, 5000 - 320);
  EXPECT_EQ(newest(1), 336 + 5000 - 320);
  EXPECT_EQ(tag_at(1, 5000), 80);

  ASSERT_TRUE(open(v6_header(1) + w.bytes, false));
  player.slot[0] = 1;
  clear_all_histories(g_h);
  current = 0;
  read_demo_ahead(&player, g_h, &current);
  EXPECT_EQ(current, 320);
  EXPECT_EQ(newest(1), 336);
}

TEST_F(DemoRead, LinksWalkBackFromEveryChunkToTheFirst) {
  ChunkWriter w;
  int tick = 0;
  for (int k = 0; k < 60; k++, tick += 16) {
    if (k % 7 == 3) {
      w.chunk(tick, DEMO_CHUNK_TEXT, std::string((size_t)(k * 13 % 50), 'm'));
    } else if (k % 11 == 5) {
      w.chunk(tick, 5, std::string((size_t)k, 'u'));
    } else {
      w.chunk(tick, DEMO_CHUNK_STATES, states_upto(tick - (k % 3) * 4 >= 0 ? tick - (k % 3) * 4 : 0, tick));
    }
  }
  ASSERT_TRUE(open(v6_header(1) + w.bytes));
  const long start = player.data_start;
  const size_t n = w.starts.size();
  auto chunk_length = [&](size_t k) -> uint32_t {
    size_t end = k + 1 < n ? w.starts[k + 1] : w.bytes.size();
    return (uint32_t)(end - w.starts[k] - DEMO_CHUNK_HEADER_BYTES);
  };
  for (size_t k = 0; k <= n; k++) {
    // Standing before chunk k (k = n: at the end of the file).
    player.next_position = start + (long)(k < n ? w.starts[k] : w.bytes.size());
    player.previous_length = k == 0 ? 0 : chunk_length(k - 1);
    ASSERT_TRUE(reposition_demo(&player, 0));
    EXPECT_EQ(player.next_position, start) << k;
    EXPECT_EQ(player.previous_length, 0u);
  }
  // From the end, a seek to c stands at the last chunk stamped at or before c - 64.
  for (int c : {100, 400, 555, 941}) {
    player.next_position = start + (long)w.bytes.size();
    player.previous_length = chunk_length(n - 1);
    ASSERT_TRUE(reposition_demo(&player, c));
    size_t k = 0;
    while (k < n && start + (long)w.starts[k] != player.next_position) k++;
    ASSERT_LT(k, n);
    EXPECT_LE((int)k * 16, c - 64);
    EXPECT_GT((int)(k + 1) * 16, c - 64);
    EXPECT_EQ(player.previous_length, k == 0 ? 0u : chunk_length(k - 1));
    EXPECT_EQ(player.next_tick, c);
  }
}

// --- rewind and skip -----------------------------------------------------------

namespace {

struct FakeRace {
  DemoPlayer* player;
  int tick = 0;
  bool roost = true;
  bool roost_while_stepping = true;
  int steps = 0;
  int rewound_to = -1;
  bool skipping_seen = false;
};

int race_tick(void* c) { return static_cast<FakeRace*>(c)->tick; }
void race_set_tick(void* c, int t) { static_cast<FakeRace*>(c)->tick = t; }
void race_step(void* c) {
  FakeRace* r = static_cast<FakeRace*>(c);
  read_demo_ahead(r->player, g_h, &r->tick);
  r->roost_while_stepping = r->roost_while_stepping && r->roost;
  r->skipping_seen = r->skipping_seen || r->player->skipping;
  r->steps++;
  r->tick++;
}
bool race_set_roost(void* c, bool on) {
  FakeRace* r = static_cast<FakeRace*>(c);
  bool was = r->roost;
  r->roost = on;
  return was;
}
void race_rewind_timing(void* c, int t) { static_cast<FakeRace*>(c)->rewound_to = t; }

ReplayRace hooks(FakeRace* r) {
  return ReplayRace{r, race_tick, race_set_tick, race_step, race_set_roost, race_rewind_timing, true};
}

std::string recorded_run(int last) {
  ChunkWriter w;
  for (int t = 0; t <= last; t += 16) w.chunk(t, DEMO_CHUNK_STATES, states_upto(t >= 12 ? t - 12 : 0, t));
  return v6_header(1) + w.bytes;
}

}  // namespace

TEST_F(DemoRead, RewindingASecondAtTick50LandsOnTickZero) {
  ASSERT_TRUE(open(recorded_run(2000)));
  player.slot[0] = 0;
  FakeRace race{&player};
  while (race.tick < 50) race_step(&race);
  ASSERT_TRUE(seek_replay(&player, g_h, -1.0, false, hooks(&race)));
  EXPECT_EQ(race.rewound_to, 0);
  EXPECT_EQ(race.steps, 51);  // one step after the seek
  EXPECT_EQ(race.tick, 1);
  EXPECT_EQ(tag_at(0, 0), 0);
}

TEST_F(DemoRead, RewindRefillsTheHistoryAroundTheNewTick) {
  ASSERT_TRUE(open(recorded_run(2000)));
  player.slot[0] = 0;
  FakeRace race{&player};
  while (race.tick < 1000) race_step(&race);
  ASSERT_TRUE(seek_replay(&player, g_h, -1.0, false, hooks(&race)));
  EXPECT_EQ(race.rewound_to, 1000 - 128 - 1);
  EXPECT_EQ(race.tick, 872);
  // Nothing from before the seek survives, and the new tick is covered.
  EXPECT_LE(newest(0), 871 + DEMO_READ_AHEAD_TICKS + 2 * DEMO_CHUNK_INTERVAL);
  EXPECT_EQ(tag_at(0, 872), 218);
  EXPECT_EQ(tag_at(0, 808), 202);
}

TEST_F(DemoRead, SkipForwardRunsTheStepsWithRoostOff) {
  ASSERT_TRUE(open(recorded_run(2000)));
  player.slot[0] = 0;
  FakeRace race{&player};
  while (race.tick < 100) race_step(&race);
  race.steps = 0;
  ASSERT_TRUE(seek_replay(&player, g_h, 1.0, false, hooks(&race)));
  EXPECT_EQ(race.tick, 228);
  EXPECT_EQ(race.steps, 128);
  EXPECT_FALSE(race.roost_while_stepping);
  EXPECT_TRUE(race.roost);
  EXPECT_TRUE(race.skipping_seen);
  EXPECT_FALSE(player.skipping);
  EXPECT_EQ(tag_at(0, 228), 57);
  // Not a playback-only race: no seeking.
  ReplayRace live = hooks(&race);
  live.playback_only = false;
  EXPECT_FALSE(seek_replay(&player, g_h, -1.0, false, live));
  EXPECT_EQ(race.tick, 228);
}

TEST_F(DemoRead, OlderVersionsSkipByJumpingUnlessAccurate) {
  ASSERT_TRUE(open("DV05 1 0 3\nt\nm|||\n1\n" + frames(1, 600, false)));
  player.slot[0] = 0;
  FakeRace race{&player};
  while (race.tick < 10) race_step(&race);
  race.steps = 0;
  ASSERT_TRUE(seek_replay(&player, g_h, 2.0, false, hooks(&race)));
  EXPECT_EQ(race.steps, 1);
  EXPECT_EQ(race.rewound_to, -1);  // forward: the timing stays
  EXPECT_EQ(race.tick, 10 + 256);
  EXPECT_EQ(tag_at(0, 10 + 255), 3 * 265);
  race.steps = 0;
  ASSERT_TRUE(seek_replay(&player, g_h, 1.0, true, hooks(&race)));
  EXPECT_EQ(race.steps, 128);
}
