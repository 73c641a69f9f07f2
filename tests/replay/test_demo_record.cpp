// Recording: a multi-rider race written by the writer and played back by
// the reader, the file's exact size, text chunks, backups and "namedemo".
#include <gtest/gtest.h>

#include <cstring>

#include "core/config.h"
#include "replay/demo.h"
#include "demo_test_util.h"

namespace {

constexpr int RIDERS = 5;
const int RECORDED_SLOTS[RIDERS] = {0, 2, 5, 9, 11};

StateHistory g_recording[MAX_BIKES];
StateHistory g_playing[MAX_BIKES];

struct SyntheticRace {
  int slot_rider[MAX_BIKES];
  int mode[MAX_BIKES];
  SyntheticRace() {
    for (int s = 0; s < MAX_BIKES; s++) {
      slot_rider[s] = -1;
      mode[s] = SLOT_MODE_EMPTY;
    }
    for (int i = 0; i < RIDERS; i++) {
      slot_rider[RECORDED_SLOTS[i]] = i;
      mode[RECORDED_SLOTS[i]] = i % 2 ? SLOT_MODE_ROBOT : SLOT_MODE_PLAYER;
    }
    mode[7] = SLOT_MODE_HISTORY;  // a slot that is not recorded offline
  }
};

int g_encode_tick;
bool encode_synthetic(void* context, int slot, StateRecord* record) {
  const SyntheticRace* race = static_cast<const SyntheticRace*>(context);
  *record = synthetic_record(race->slot_rider[slot], g_encode_tick);
  return true;
}

DemoRecordingSetup race_setup(const std::vector<DemoRider>& riders, int backups = 0) {
  static std::vector<DemoRider> keep;
  keep = riders;
  return DemoRecordingSetup{false, "testtrack", 0, 3, 1800, backups, RIDERS, RECORDED_SLOTS, keep.data()};
}

std::vector<DemoRider> named_riders() {
  std::vector<DemoRider> riders(RIDERS);
  for (int i = 0; i < RIDERS; i++) {
    riders[i] = DemoRider{"crf450(2016)", "gear", "bike", "wheel", "helmet", std::to_string(i + 1),
                          "Rider " + std::to_string(i)};
  }
  riders[1].name = "Bar|Line\nBreak";  // would split the header if written raw
  riders[2].number = "12345";
  return riders;
}

// Records ticks 0..last of the synthetic race; returns the recorder closed.
void record_race(DemoRecorder* recorder, int last, int backups = 0) {
  SyntheticRace race;
  clear_all_histories(g_recording);
  ASSERT_TRUE(start_recording(recorder, race_setup(named_riders(), backups)));
  for (int tick = 0; tick <= last; tick++) {
    g_encode_tick = tick;
    sample_states(g_recording, race.mode, tick, tick == 0, encode_synthetic, &race);
    write_demo_tick(recorder, g_recording, tick, false);
  }
  g_encode_tick = last;
  sample_states(g_recording, race.mode, last, true, encode_synthetic, &race);
  stop_recording(recorder, g_recording, last);
}

}  // namespace

struct DemoRecording : ScratchHome {};

TEST_F(DemoRecording, RaceOfFiveRidersPlaysBackWithinTheQuantisationStepAtEverySampledTick) {
  const int last = 128 * 40 + 6;  // 40 s and a few ticks past the last chunk
  DemoRecorder recorder;
  record_race(&recorder, last);
  ASSERT_FALSE(demo_recording(recorder));

  DemoPlayer player;
  ASSERT_TRUE(open_demo(&player, DEMO_DEFAULT_PATH, false));
  EXPECT_EQ(player.version, 6);
  EXPECT_EQ(player.rider_count, RIDERS);
  EXPECT_EQ(player.track, "testtrack");
  EXPECT_EQ(player.laps, 3);
  EXPECT_EQ(player.gate_drop_tick, 1800);
  EXPECT_EQ(player.riders[0].name, "Rider 0");
  EXPECT_EQ(player.riders[1].name, "Bar|Line Break");
  EXPECT_EQ(player.riders[2].number, "123");
  EXPECT_EQ(player.riders[4].helmet_skin, "helmet");
  for (int i = 0; i < RIDERS; i++) set_demo_rider_slot(&player, i, 20 + i, nullptr);

  clear_all_histories(g_playing);
  const RecordModel model = default_record_model();
  int checked = 0;
  for (int current = 0; current <= last; current++) {
    read_demo_ahead(&player, g_playing, &current);
    for (int i = 0; i < RIDERS; i++) {
      const StateHistory& h = g_playing[20 + i];
      // The reader keeps the clock covered, but never more than a chunk
      // past its half second of read-ahead.
      ASSERT_GE(h.stamp[h.head], current);
      ASSERT_LE(h.stamp[h.head], current + DEMO_READ_AHEAD_TICKS + DEMO_CHUNK_INTERVAL);
      if (current % SAMPLE_INTERVAL && current != last) continue;
      ReplayChoice c;
      ASSERT_TRUE(choose_replay_record(h, current, player.version, &c));
      ASSERT_TRUE(record_sampled(c.record)) << current;
      expect_state_near(synthetic_state(i, current), decode_state(c.record, model, TEST_SCALE), model, TEST_SCALE,
                        ("tick " + std::to_string(current)).c_str());
      checked++;
    }
  }
  EXPECT_EQ(checked, RIDERS * (last / 4 + 2));
  close_demo(&player);
}

TEST_F(DemoRecording, FileHoldsFortyFourBytesPerSampleAndNineBytesPerChunk) {
  const int last = 128 * 10;  // a multiple of 16: the stop adds no chunk
  DemoRecorder recorder;
  record_race(&recorder, last);
  std::string file = read("demos/default.dvdemo");
  size_t header_end = 0;
  for (int line = 0; line < 2 + 4 * RIDERS; line++) header_end = file.find('\n', header_end) + 1;
  ASSERT_EQ(file.compare(0, 5, "DV06 "), 0);
  const size_t samples = RIDERS * (last / 4 + 1), chunks = last / 16 + 1;
  EXPECT_EQ(file.size(), header_end + samples * DEMO_ENTRY_BYTES + chunks * DEMO_CHUNK_HEADER_BYTES);
}

TEST_F(DemoRecording, TextChunksComeBackAsMessages) {
  DemoRecorder recorder;
  clear_all_histories(g_recording);
  ASSERT_TRUE(start_recording(&recorder, race_setup(named_riders())));
  record_demo_text(&recorder, "Rider 3 finished 2nd", 40);
  add_state(&g_recording[0], tag_record(5), 44);
  write_demo_tick(&recorder, g_recording, 48, false);
  record_demo_text(&recorder, "Rider 0 wins", 60);
  stop_recording(&recorder, g_recording, 64);
  record_demo_text(&recorder, "after the end", 70);  // nothing is open: ignored

  clear_message_lines();
  DemoPlayer player;
  ASSERT_TRUE(open_demo(&player, DEMO_DEFAULT_PATH, false));
  set_demo_rider_slot(&player, 0, 0, nullptr);
  clear_all_histories(g_playing);
  int current = 0;
  read_demo_ahead(&player, g_playing, &current);
  EXPECT_TRUE(message_shown("Rider 3 finished 2nd"));
  EXPECT_TRUE(message_shown("Rider 0 wins"));
  EXPECT_FALSE(message_shown("after the end"));
  EXPECT_EQ(g_playing[0].stamp[g_playing[0].head], 44);
  EXPECT_EQ(current, 48);  // playback starts at the first state chunk
}

TEST_F(DemoRecording, NoBackupsOverwritesTheDefaultDemo) {
  write("demos/default.dvdemo", "old race");
  DemoRecorder recorder;
  record_race(&recorder, 64, 0);
  EXPECT_NE(read("demos/default.dvdemo"), "old race");
  EXPECT_FALSE(exists("demos/default00.dvdemo"));
}

TEST_F(DemoRecording, ThreeBackupsShiftEachOlderDemoDown) {
  write("demos/default.dvdemo", "newest");
  write("demos/default00.dvdemo", "older");
  write("demos/default01.dvdemo", "oldest");
  write("demos/default02.dvdemo", "dropped");
  DemoRecorder recorder;
  record_race(&recorder, 64, 3);
  EXPECT_EQ(read("demos/default00.dvdemo"), "newest");
  EXPECT_EQ(read("demos/default01.dvdemo"), "older");
  EXPECT_EQ(read("demos/default02.dvdemo"), "oldest");
  EXPECT_FALSE(exists("demos/default03.dvdemo"));
  EXPECT_EQ(read("demos/default.dvdemo").compare(0, 4, "DV06"), 0);
  // The setting is clamped to 0..100 by the console command.
  set_demo_backups(250);
  EXPECT_EQ(g_config.demo_backups, 100);
  EXPECT_TRUE(message_shown("Now keeping 100 demo backups"));
}

TEST_F(DemoRecording, NamedDemoIsRenamedWhenTheRecordingStops) {
  DemoRecorder recorder;
  EXPECT_FALSE(name_demo(&recorder, "heat1"));
  EXPECT_TRUE(message_shown("Not currently recording a demo"));
  clear_all_histories(g_recording);
  ASSERT_TRUE(start_recording(&recorder, race_setup(named_riders())));
  EXPECT_FALSE(name_demo(&recorder, std::string(1017, 'x').c_str()));
  EXPECT_TRUE(message_shown("Name too long"));
  EXPECT_FALSE(name_demo(&recorder, "../../escaped"));
  EXPECT_FALSE(name_demo(&recorder, ".."));
  EXPECT_TRUE(message_shown("Bad demo name"));
  EXPECT_TRUE(name_demo(&recorder, "final.dvdemo"));
  EXPECT_EQ(recorder.pending_name, "final.dvdemo");
  EXPECT_TRUE(name_demo(&recorder, "heat1"));
  EXPECT_EQ(recorder.pending_name, "heat1.dvdemo");
  EXPECT_TRUE(message_shown("Demo name updated"));
  stop_recording(&recorder, g_recording, 16);
  EXPECT_TRUE(exists("demos/heat1.dvdemo"));
  EXPECT_FALSE(exists("demos/default.dvdemo"));
  EXPECT_TRUE(recorder.pending_name.empty());

  // Practice laps have no name to give.
  DemoRecordingSetup practice = race_setup(named_riders());
  practice.practice = true;
  ASSERT_TRUE(start_recording(&recorder, practice));
  EXPECT_FALSE(name_demo(&recorder, "lap"));
  stop_recording(&recorder, g_recording, 16);
  EXPECT_TRUE(exists("testtrack/lastlap.dvdemo"));
}

TEST(DemoRecordedSlots, DependOnTheConnection) {
  EXPECT_TRUE(slot_recorded(SLOT_MODE_PLAYER, false, 0));
  EXPECT_TRUE(slot_recorded(SLOT_MODE_ROBOT, false, 0));
  EXPECT_FALSE(slot_recorded(SLOT_MODE_HISTORY, false, 0));
  EXPECT_TRUE(slot_recorded(SLOT_MODE_HISTORY, true, 3));
  EXPECT_TRUE(slot_recorded(SLOT_MODE_PLAYER, true, 3));
  EXPECT_FALSE(slot_recorded(SLOT_MODE_PLAYER, true, NO_BIKE));
  EXPECT_TRUE(slot_recorded(SLOT_MODE_HISTORY, true, NO_BIKE));
  EXPECT_FALSE(slot_recorded(3, true, 3));
}
