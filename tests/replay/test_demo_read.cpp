// Reading demo files: the three versions, header quirks and damage, text
// and unknown chunks, chunks cut by the end of the file, the practice
// offset, the walk back through the chunk links, and rewind and skip.
#include <gtest/gtest.h>

#include <utility>

#include "demo_test_util.h"
#include "replay/demo.h"

namespace {

StateHistory g_h[MAX_BIKES];

struct DemoRead : ScratchHome {
  DemoPlayer player;
  int current = 0;
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
    clear_all_histories(g_h);
    current = 0;
    bool ok = open_demo(&player, "@demos/test.dvdemo", practice);
    player.slot[0] = 0;
    return ok;
  }
  void read_ahead() { read_demo_ahead(&player, g_h, &current); }
  int newest(int slot) const { return g_h[slot].stamp[g_h[slot].head]; }
  int tag_at(int slot, int tick) {
    ReplayChoice c{};
    EXPECT_TRUE(choose_replay_record(g_h[slot], tick, replay_version(player), &c));
    return decoded_tag(c.record);
  }
};

// Version 4 or 5 frames: rider r of frame f carries tag 3 f + r.
std::string frames(int riders, int count, bool old) {
  std::string out;
  for (int f = 0; f < count; f++) {
    for (int r = 0; r < riders; r++) {
      std::string rec = record_bytes(tag_record(3 * f + r));
      out += old ? rec.substr(0, 20) + std::string("\x80\x01\x02\x13\x00\x10", 6) : rec;
    }
  }
  return out;
}

// Rider 0 every 4 ticks from `from` to the chunk's tick, tagged tick / 4.
std::string states(int from, int tick) {
  std::string payload;
  for (int t = from; t <= tick; t += 4) payload += ChunkWriter::entry(0, t, tag_record(t / 4));
  return payload;
}

std::string recorded_run(int last) {
  ChunkWriter w;
  for (int t = 0; t <= last; t += 16) w.chunk(t, DEMO_CHUNK_STATES, states(t >= 12 ? t - 12 : 0, t));
  return v6_header(1) + w.bytes;
}

}  // namespace

TEST_F(DemoRead, VersionFiveWithoutGateTickStartsAt1792AndStampsFramesFromNow) {
  ASSERT_TRUE(open("DV05 2 0 3\ntrack5\nkx125|a|b|c|d\n7\nyz125\n8\n" + frames(2, 20, false) +
                   record_bytes(tag_record(60))));  // frame 20 holds only its first rider
  EXPECT_EQ(player.gate_drop_tick, DEMO_DEFAULT_GATE_DROP);
  EXPECT_EQ(player.laps, 3);
  EXPECT_EQ(player.riders[0].wheel_skin, "c");
  EXPECT_EQ(player.riders[1].model, "yz125");
  set_demo_rider_slot(&player, 1, 4, nullptr);
  read_ahead();
  EXPECT_EQ(newest(0), DEMO_FRAME_READ_AHEAD_TICKS);
  EXPECT_EQ(tag_at(0, 5), 15);
  EXPECT_EQ(tag_at(4, 5), 16);
  ASSERT_TRUE(reposition_demo(&player, 15));  // straight to frame 15
  clear_all_histories(g_h);
  current = 15;
  read_ahead();
  EXPECT_EQ(tag_at(0, 15), 45);
  EXPECT_EQ(tag_at(4, 19), 58);
  EXPECT_EQ(newest(0), 20);  // the cut frame served its first rider only
  EXPECT_EQ(newest(4), 19);
}

TEST_F(DemoRead, VersionFourRecordsAreConverted) {
  ASSERT_TRUE(open("DV04 1 0 2 900\ntrack4\nrm250|||\n3\n" + frames(1, 10, true)));
  EXPECT_EQ(player.gate_drop_tick, 900);
  EXPECT_EQ(replay_version(player), 4);
  read_ahead();
  ReplayChoice c;
  ASSERT_TRUE(choose_replay_record(g_h[0], 3, 4, &c));
  EXPECT_EQ(decoded_tag(c.record), 9);
  EXPECT_EQ(c.record.bytes[36], 0x13);
  EXPECT_EQ(c.record.bytes[37] | c.record.bytes[38] << 8, 0x1000);
}

TEST_F(DemoRead, RiderBlocksMayCarryExtraLinesAndWindowsLineEnds) {
  ChunkWriter w;
  w.chunk(0, DEMO_CHUNK_STATES, ChunkWriter::entry(0, 0, tag_record(1)) + ChunkWriter::entry(1, 0, tag_record(2)));
  std::string crlf;
  for (char c : v6_header(2)) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  for (const std::string& header : {v6_header(2, 1792, "paint=red\nanother line\n"), crlf}) {
    ASSERT_TRUE(open(header + w.bytes));
    EXPECT_EQ(player.riders[1].name, "Rider 1");
    EXPECT_EQ(player.track, "testtrack");
    player.slot[1] = 9;
    read_ahead();
    EXPECT_EQ(tag_at(0, 0), 1);
    EXPECT_EQ(tag_at(9, 0), 2);
  }
}

TEST_F(DemoRead, MalformedHeadersAreRefusedCleanly) {
  EXPECT_FALSE(open_demo(&player, "@demos/missing.dvdemo", false));
  EXPECT_EQ(message_line(0), nullptr);  // a missing file is silent
  for (const std::string& bad : {std::string("DV06 1\ntrack\n"), std::string("DV07 0 0 3\ntrack\n"),
                                 std::string("XX06 0 0 3\ntrack\n"), std::string("DV06 -2 0 3\nt\n"),
                                 std::string("DV06 1 0 3\nt\nmodel|a|b|c|d\n7\nname\n"),  // no empty line
                                 std::string("DV06 0 0 3\ntrack"), "DV06 0 0 3\n" + std::string(1100, 't') + "\n"}) {
    clear_message_lines();
    EXPECT_FALSE(open(bad)) << bad.substr(0, 20);
    EXPECT_TRUE(message_shown("Bad demo file"));
  }
  EXPECT_FALSE(open("DV06 161 0 3\ntrack\n"));  // more riders than slots
  EXPECT_TRUE(message_shown("161 riders"));
  EXPECT_TRUE(open("DV06 0 0 3\ntrack\n"));
}

TEST_F(DemoRead, LongTextChunksAndUnknownChunksKeepTheReaderAligned) {
  std::string text;
  for (int i = 0; i < 2000; i++) text += (char)('a' + i % 26);
  ChunkWriter w;
  w.chunk(0, DEMO_CHUNK_STATES, states(0, 0));
  w.chunk(4, DEMO_CHUNK_TEXT, text);
  w.chunk(8, 9, std::string(100, '\x55'));                  // a type this reader does not know
  w.chunk(12, DEMO_CHUNK_STATES, std::string(45, '\x01'));  // not whole entries: skipped
  w.chunk(16, DEMO_CHUNK_STATES, states(4, 16));
  ASSERT_TRUE(open(v6_header(1) + w.bytes));
  read_ahead();
  EXPECT_TRUE(message_shown("abcdefghijklmnopqrstuvwxyzabcdef"));
  EXPECT_EQ(history_size(g_h[0]), 5);
  EXPECT_EQ(tag_at(0, 12), 3);
}

TEST_F(DemoRead, ChunksRunningPastTheFileAreCutWithAMessage) {
  ChunkWriter w;
  w.chunk(0, DEMO_CHUNK_STATES, states(0, 8));
  std::string claimed = states(12, 48);  // ten entries claimed, three and a bit there
  w.chunk(48, DEMO_CHUNK_STATES, claimed);
  ASSERT_TRUE(open(v6_header(1) + w.bytes.substr(0, w.bytes.size() - claimed.size() + 3 * 44 + 7)));
  read_ahead();
  EXPECT_TRUE(message_shown("is cut short"));
  EXPECT_EQ(newest(0), 20);
  ChunkWriter t;
  t.chunk(0, DEMO_CHUNK_TEXT, std::string(5000, 'x'));
  for (const std::string& f : {v6_header(1) + t.bytes.substr(0, 3000), v6_header(1) + t.bytes.substr(0, 5)}) {
    clear_message_lines();
    ASSERT_TRUE(open(f));
    read_ahead();
    EXPECT_TRUE(message_shown("is cut short"));
  }
}

TEST_F(DemoRead, PracticeGhostStartsNowAndPlaybackJumpsToTheFirstChunk) {
  ChunkWriter w;
  w.chunk(320, DEMO_CHUNK_STATES, states(308, 320));
  w.chunk(336, DEMO_CHUNK_STATES, states(324, 336));
  ASSERT_TRUE(open(v6_header(2) + w.bytes, true));
  current = 5000;
  read_ahead();
  EXPECT_EQ(current, 5000);
  EXPECT_EQ(newest(0), 336 + 5000 - 320);
  EXPECT_EQ(tag_at(0, 5000), 80);
  ASSERT_TRUE(open(v6_header(2) + w.bytes, false));
  read_ahead();
  EXPECT_EQ(current, 320);
  EXPECT_EQ(newest(0), 336);
}

TEST_F(DemoRead, LinksWalkBackFromEveryChunkToTheFirst) {
  ChunkWriter w;
  for (int k = 0; k < 60; k++) {
    if (k % 7 == 3) {
      w.chunk(16 * k, DEMO_CHUNK_TEXT, std::string((size_t)(k * 13 % 50), 'm'));
    } else if (k % 11 == 5) {
      w.chunk(16 * k, 5, std::string((size_t)k, 'u'));
    } else {
      w.chunk(16 * k, DEMO_CHUNK_STATES, states(16 * k - 4 * (k % 3) > 0 ? 16 * k - 4 * (k % 3) : 0, 16 * k));
    }
  }
  ASSERT_TRUE(open(v6_header(1) + w.bytes));
  const long start = player.data_start;
  const size_t n = w.starts.size();
  auto length = [&](size_t k) {
    return (uint32_t)((k + 1 < n ? w.starts[k + 1] : w.bytes.size()) - w.starts[k] - DEMO_CHUNK_HEADER_BYTES);
  };
  auto stand_before = [&](size_t k) {  // k = n: at the end of the file
    player.next_position = start + (long)(k < n ? w.starts[k] : w.bytes.size());
    player.previous_length = k == 0 ? 0 : length(k - 1);
  };
  for (size_t k = 0; k <= n; k++) {
    stand_before(k);
    ASSERT_TRUE(reposition_demo(&player, 0));
    EXPECT_EQ(player.next_position, start) << k;
    EXPECT_EQ(player.previous_length, 0u);
  }
  // A seek to c stands at the last chunk stamped at or before c - 64.
  for (int c : {100, 555, 941}) {
    stand_before(n);
    ASSERT_TRUE(reposition_demo(&player, c));
    size_t k = (size_t)(c - 64) / 16;
    EXPECT_EQ(player.next_position, start + (long)w.starts[k]) << c;
    EXPECT_EQ(player.previous_length, length(k - 1));
    EXPECT_EQ(player.next_tick, c);
  }
}

// --- rewind and skip -----------------------------------------------------------

namespace {

struct FakeRace {
  DemoPlayer* player;
  int tick = 0;
  bool roost = true, roost_while_stepping = true, skipping_seen = false;
  int steps = 0, rewound_to = -1;
};

ReplayRace hooks(FakeRace* r) {
  return ReplayRace{
      r,
      [](void* c) { return static_cast<FakeRace*>(c)->tick; },
      [](void* c, int t) { static_cast<FakeRace*>(c)->tick = t; },
      [](void* c) {
        FakeRace* r = static_cast<FakeRace*>(c);
        read_demo_ahead(r->player, g_h, &r->tick);
        r->roost_while_stepping = r->roost_while_stepping && r->roost;
        r->skipping_seen = r->skipping_seen || r->player->skipping;
        r->steps++;
        r->tick++;
      },
      [](void* c, bool on) { return std::exchange(static_cast<FakeRace*>(c)->roost, on); },
      [](void* c, int t) { static_cast<FakeRace*>(c)->rewound_to = t; },
      true};
}

}  // namespace

TEST_F(DemoRead, RewindingASecondAtTick50LandsOnTickZero) {
  ASSERT_TRUE(open(recorded_run(2000)));
  FakeRace race{&player};
  ReplayRace h = hooks(&race);
  while (race.tick < 50) h.step(&race);
  ASSERT_TRUE(seek_replay(&player, g_h, -1.0, false, h));
  EXPECT_EQ(race.rewound_to, 0);
  EXPECT_EQ(race.steps, 51);  // one step after the seek
  EXPECT_EQ(tag_at(0, 0), 0);
  // Later in the race the history is refilled around the new tick.
  while (race.tick < 1000) h.step(&race);
  ASSERT_TRUE(seek_replay(&player, g_h, -1.0, false, h));
  EXPECT_EQ(race.rewound_to, 871);
  EXPECT_EQ(race.tick, 872);
  EXPECT_LE(newest(0), 871 + DEMO_READ_AHEAD_TICKS + 2 * DEMO_CHUNK_INTERVAL);
  EXPECT_EQ(tag_at(0, 808), 202);
}

TEST_F(DemoRead, SkipForwardRunsTheStepsWithRoostOff) {
  ASSERT_TRUE(open(recorded_run(2000)));
  FakeRace race{&player};
  ReplayRace h = hooks(&race);
  while (race.tick < 100) h.step(&race);
  race.steps = 0;
  ASSERT_TRUE(seek_replay(&player, g_h, 1.0, false, h));
  EXPECT_EQ(race.steps, 128);
  EXPECT_FALSE(race.roost_while_stepping);
  EXPECT_TRUE(race.roost);
  EXPECT_TRUE(race.skipping_seen);
  EXPECT_FALSE(player.skipping);
  EXPECT_EQ(tag_at(0, 228), 57);
  h.playback_only = false;  // a live race cannot seek
  EXPECT_FALSE(seek_replay(&player, g_h, -1.0, false, h));

  // Older versions jump forward unless the skip must be accurate.
  ASSERT_TRUE(open("DV05 1 0 3\nt\nm|||\n1\n" + frames(1, 600, false)));
  race = FakeRace{&player};
  h = hooks(&race);
  while (race.tick < 10) h.step(&race);
  ASSERT_TRUE(seek_replay(&player, g_h, 2.0, false, h));
  EXPECT_EQ(race.steps, 11);
  EXPECT_EQ(race.rewound_to, -1);  // forward: the timing stays
  EXPECT_EQ(tag_at(0, 265), 3 * 265);
  ASSERT_TRUE(seek_replay(&player, g_h, 1.0, true, h));
  EXPECT_EQ(race.steps, 11 + 128);
}
