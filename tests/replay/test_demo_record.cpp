// Recording: a multi-rider race written by the writer and played back by
// the reader, the file's exact size, backups and "namedemo".
#include <gtest/gtest.h>

#include "core/config.h"
#include "demo_test_util.h"
#include "replay/demo.h"

namespace {

constexpr int RIDERS = 5;
const int SLOTS[RIDERS] = {0, 2, 5, 9, 11};
StateHistory g_rec[MAX_BIKES], g_play[MAX_BIKES];
int g_tick;

bool encode_synthetic(void*, int slot, StateRecord* record) {
  for (int i = 0; i < RIDERS; i++)
    if (SLOTS[i] == slot) *record = synthetic_record(i, g_tick);
  return true;
}

DemoRecordingSetup race_setup(int backups = 0) {
  static std::vector<DemoRider> riders(RIDERS);
  for (int i = 0; i < RIDERS; i++) riders[i] = DemoRider{"crf450(2016)", "g", "b", "w", "h", "7", "Rider"};
  riders[1].name = "Bar|Line\nBreak";  // would break the header if written raw
  riders[1].bike_skin = "blue|white";
  riders[2].number = "12345";
  return DemoRecordingSetup{false, "testtrack", 0, 3, 1800, backups, RIDERS, SLOTS, riders.data()};
}

// Records ticks 0..last of the synthetic race to the default demo.
void record_race(int last, int backups = 0) {
  int mode[MAX_BIKES];
  for (int& m : mode) m = SLOT_MODE_EMPTY;
  for (int i = 0; i < RIDERS; i++) mode[SLOTS[i]] = i % 2 ? SLOT_MODE_ROBOT : SLOT_MODE_PLAYER;
  DemoRecorder recorder;
  clear_all_histories(g_rec);
  ASSERT_TRUE(start_recording(&recorder, race_setup(backups)));
  for (g_tick = 0; g_tick <= last; g_tick++) {
    sample_states(g_rec, mode, g_tick, g_tick == 0, encode_synthetic, nullptr);
    write_demo_tick(&recorder, g_rec, g_tick, false);
  }
  g_tick = last;
  sample_states(g_rec, mode, last, true, encode_synthetic, nullptr);
  stop_recording(&recorder, g_rec, last);
}

}  // namespace

struct DemoRecording : ScratchHome {};

TEST_F(DemoRecording, FiveRidersPlayBackWithinTheQuantisationStepAtEverySampledTick) {
  const int last = 128 * 40 + 6;  // a few ticks past the last regular chunk
  record_race(last);
  DemoPlayer player;
  ASSERT_TRUE(open_demo(&player, DEMO_DEFAULT_PATH, false));
  EXPECT_EQ(player.rider_count, RIDERS);
  EXPECT_EQ(player.track, "testtrack");
  EXPECT_EQ(player.gate_drop_tick, 1800);
  EXPECT_EQ(player.riders[1].name, "Bar|Line Break");
  EXPECT_EQ(player.riders[1].bike_skin, "blue/white");
  EXPECT_EQ(player.riders[1].wheel_skin, "w");
  EXPECT_EQ(player.riders[2].number, "123");
  for (int i = 0; i < RIDERS; i++) set_demo_rider_slot(&player, i, 20 + i, nullptr);
  clear_all_histories(g_play);
  const RecordModel model = default_record_model();
  int checked = 0;
  for (int current = 0; current <= last; current++) {
    read_demo_ahead(&player, g_play, &current);
    for (int i = 0; i < RIDERS; i++) {
      const StateHistory& h = g_play[20 + i];
      // The clock is always covered, never by much more than the half second.
      ASSERT_GE(h.stamp[h.head], current);
      ASSERT_LE(h.stamp[h.head], current + DEMO_READ_AHEAD_TICKS + DEMO_CHUNK_INTERVAL);
      if (current % SAMPLE_INTERVAL && current != last) continue;
      ReplayChoice c;
      ASSERT_TRUE(choose_replay_record(h, current, player.version, &c));
      ASSERT_TRUE(record_sampled(c.record)) << current;
      expect_state_near(synthetic_state(i, current), decode_state(c.record, model, TEST_SCALE), model, TEST_SCALE,
                        "playback");
      checked++;
    }
  }
  EXPECT_EQ(checked, RIDERS * (last / 4 + 2));
  close_demo(&player);
}

TEST_F(DemoRecording, FileHoldsFortyFourBytesPerSampleAndNineBytesPerChunk) {
  const int last = 128 * 10;  // a multiple of 16: stopping adds no chunk
  record_race(last);
  std::string file = read("demos/default.dvdemo");
  size_t header = 0;
  for (int line = 0; line < 2 + 4 * RIDERS; line++) header = file.find('\n', header) + 1;
  EXPECT_EQ(file.size(), header + RIDERS * (last / 4 + 1) * DEMO_ENTRY_BYTES + (last / 16 + 1) * 9);
}

TEST_F(DemoRecording, BackupsRotateOnlyAsFarAsTheSettingSays) {
  write("demos/default.dvdemo", "old race");
  record_race(64, 0);  // no backups: overwritten
  EXPECT_EQ(read("demos/default.dvdemo").compare(0, 4, "DV06"), 0);
  EXPECT_FALSE(exists("demos/default00.dvdemo"));

  write("demos/default.dvdemo", "newest");
  write("demos/default00.dvdemo", "older");
  write("demos/default01.dvdemo", "oldest");
  write("demos/default02.dvdemo", "dropped");
  record_race(64, 3);
  EXPECT_EQ(read("demos/default00.dvdemo"), "newest");
  EXPECT_EQ(read("demos/default01.dvdemo"), "older");
  EXPECT_EQ(read("demos/default02.dvdemo"), "oldest");
  EXPECT_FALSE(exists("demos/default03.dvdemo"));
  set_demo_backups(250);
  EXPECT_EQ(g_config.demo_backups, 100);
  EXPECT_TRUE(message_shown("Now keeping 100 demo backups"));
}

TEST_F(DemoRecording, NamedDemoIsRenamedWhenTheRecordingStops) {
  DemoRecorder recorder;
  EXPECT_FALSE(name_demo(&recorder, "heat1"));
  EXPECT_TRUE(message_shown("Not currently recording a demo"));
  clear_all_histories(g_rec);
  ASSERT_TRUE(start_recording(&recorder, race_setup()));
  EXPECT_FALSE(name_demo(&recorder, std::string(1017, 'x').c_str()));
  EXPECT_TRUE(message_shown("Name too long"));
  EXPECT_FALSE(name_demo(&recorder, "../../escaped"));
  EXPECT_FALSE(name_demo(&recorder, ".."));
  EXPECT_TRUE(name_demo(&recorder, "final.dvdemo"));
  EXPECT_EQ(recorder.pending_name, "final.dvdemo");
  EXPECT_TRUE(name_demo(&recorder, "heat1"));
  EXPECT_EQ(recorder.pending_name, "heat1.dvdemo");
  record_demo_text(&recorder, "Rider 3 wins", 10);
  stop_recording(&recorder, g_rec, 16);
  EXPECT_TRUE(exists("demos/heat1.dvdemo"));
  EXPECT_FALSE(exists("demos/default.dvdemo"));
  DemoPlayer player;  // the console line comes back as a message
  ASSERT_TRUE(open_demo(&player, "@demos/heat1.dvdemo", false));
  int current = 0;
  read_demo_ahead(&player, g_play, &current);
  EXPECT_TRUE(message_shown("Rider 3 wins"));
  close_demo(&player);

  DemoRecordingSetup practice = race_setup();
  practice.practice = true;
  ASSERT_TRUE(start_recording(&recorder, practice));
  EXPECT_FALSE(name_demo(&recorder, "lap"));  // practice laps take no name
  stop_recording(&recorder, g_rec, 16);
  EXPECT_TRUE(exists("testtrack/lastlap.dvdemo"));
}
