// The replay seams in a race driven by the race runner: a recorded race of
// five riders played back onto the positions the riders really had, the
// runner's own check of a playback, recording from the race start to the
// reset with backups, "Race Against" beside the demo's riders, seeking a
// playback-only race, and the lap demos of time trials and practice that
// keep the fastest lap.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bike/bike.h"
#include "bike/roost.h"
#include "core/datafile.h"
#include "core/message.h"
#include "replay/demo_modes.h"
#include "tests/race/race_fixture.h"
#include "tests/tools/follow_script.h"
#include "tools/race_runner/runner.h"

namespace {

// Frame positions of slots 0..4 by tick, and whether the bike was down.
struct Positions {
  static constexpr int SLOTS = 5;
  std::vector<DVec> at[SLOTS];
  std::vector<char> seen[SLOTS], crashed[SLOTS];
  bool only_sampled = false;  // live: the ticks the recording samples
  void put(int slot, int tick, const Bike& b) {
    if (tick < 0) return;
    if ((size_t)tick >= at[slot].size()) {
      at[slot].resize((size_t)tick + 1);
      seen[slot].resize((size_t)tick + 1, 0);
      crashed[slot].resize((size_t)tick + 1, 0);
    }
    at[slot][(size_t)tick] = body_position(b, BODY_FRAME);
    seen[slot][(size_t)tick] = 1;
    crashed[slot][(size_t)tick] = b.crash_timer > 0;
  }
};

void capture(void* context, const Race& race) {
  Positions* p = static_cast<Positions*>(context);
  if (p->only_sampled && race.tick % SAMPLE_INTERVAL != 0) return;
  for (int s = 0; s < Positions::SLOTS; s++)
    if (race.bikes[s]) p->put(s, race.tick, *race.bikes[s]);
}

std::unique_ptr<Runner> start(const RunnerOptions& options) {
  auto runner = std::make_unique<Runner>();
  char error[256];
  EXPECT_TRUE(start_runner(runner.get(), options, error, sizeof error)) << error;
  return runner;
}

struct LapRecord {
  std::vector<int> order;       // slots, leader first
  std::vector<int> lap1_ticks;  // by slot
};

LapRecord laps_of(const Race& race) {
  LapRecord out;
  for (int i = 0; i < race.running_count; i++) out.order.push_back(race.running_order[i].slot);
  for (int s = 0; s < Positions::SLOTS; s++) out.lap1_ticks.push_back(race_lap_time(race, s, 1));
  return out;
}

// The ticks of a demo's first and last states (its riders' entries).
bool demo_span(const std::string& path, int* first, int* last) {
  DemoPlayer p;
  if (!open_demo(&p, path.c_str(), false)) return false;
  StateHistory* h = new StateHistory[MAX_BIKES];
  clear_all_histories(h);
  for (int i = 0; i < p.rider_count; i++) set_demo_rider_slot(&p, i, i, nullptr);
  *first = *last = -1;
  int tick = 0;
  for (int guard = 0; guard < 1000000 && !p.ended; guard++) {
    read_demo_ahead(&p, h, &tick);
    for (int i = 0; i < p.rider_count; i++) {
      const StateHistory& r = h[i];
      for (int e = 0; e < HISTORY_ENTRIES; e++) {
        if (r.stamp[e] < 0) continue;
        if (*first < 0 || r.stamp[e] < *first) *first = r.stamp[e];
        if (r.stamp[e] > *last) *last = r.stamp[e];
      }
    }
    tick += DEMO_CHUNK_INTERVAL;
  }
  delete[] h;
  close_demo(&p);
  return *first >= 0;
}

std::string file_bytes(const std::string& path) {
  std::string out;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return out;
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) out.append(buffer, n);
  fclose(f);
  return out;
}

class RaceReplayTest : public ::testing::Test {
 protected:
  void SetUp() override { write_race_track(data, "flat", 10); }
  RunnerOptions race_options(const char* lineup) {
    RunnerOptions options;
    options.track = "flat";
    options.script = follow_script(25);
    options.laps = 1;
    options.follow_robots = true;
    char error[128];
    EXPECT_TRUE(parse_lineup(lineup, &options.lineup, error, sizeof error)) << error;
    return options;
  }
  // Records a race of the lineup into `path`; returns its laps.
  LapRecord record(const char* lineup, const std::string& path, Positions* live) {
    RunnerOptions options = race_options(lineup);
    options.record_demo = path;
    auto runner = start(options);
    if (live) {
      live->only_sampled = true;
      runner->replay.posed = capture;
      runner->replay.posed_context = live;
    }
    run_runner(runner.get(), nullptr);
    LapRecord laps = laps_of(runner->race);
    end_runner(runner.get());
    EXPECT_TRUE(runner->demo_saved);
    return laps;
  }
  LogCapture log;
  ScratchData data;
};

}  // namespace

TEST_F(RaceReplayTest, FiveRidersPlayBackOntoTheirRecordedPositions) {
  const std::string demo = data.path("race.dvdemo");
  Positions live, played;
  LapRecord recorded = record("h,r,r,r,r", demo, &live);
  ASSERT_EQ(recorded.order.size(), 5u);

  RunnerOptions options;
  options.play_demo = demo;
  auto runner = start(options);
  const Race& race = runner->race;
  for (int s = 0; s < 5; s++) {
    ASSERT_NE(race.bikes[s], nullptr) << s;
    EXPECT_EQ(race.mode[s], RACE_SLOT_HISTORY);
  }
  EXPECT_EQ(race.bikes[5], nullptr);
  EXPECT_TRUE(playback_only(runner->replay, race));
  runner->replay.posed = capture;
  runner->replay.posed_context = &played;
  run_runner(runner.get(), nullptr);

  const RecordScale& scale = *runner->replay.scale;
  const double step[3] = {scale.size / 16777215.0, scale.range / 16777215.0, scale.size / 16777215.0};
  int compared = 0, down = 0, far = 0;
  for (int s = 0; s < 5; s++) {
    for (size_t t = 0; t < live.at[s].size(); t++) {
      if (!live.seen[s][t]) continue;
      if (live.crashed[s][t]) {
        down++;
        continue;
      }
      ASSERT_TRUE(t < played.seen[s].size() && played.seen[s][t]) << "slot " << s << " tick " << t;
      const DVec a = live.at[s][t], b = played.at[s][t];
      const double d[3] = {std::fabs(a.x - b.x), std::fabs(a.y - b.y), std::fabs(a.z - b.z)};
      for (int k = 0; k < 3; k++) {
        if (d[k] > step[k] * 1.0001) {
          if (far++ < 5) ADD_FAILURE() << "slot " << s << " tick " << t << " axis " << k << " off by " << d[k];
        }
      }
      compared++;
    }
  }
  EXPECT_EQ(far, 0);
  EXPECT_GT(compared, 5 * 20 * 32);  // every rider over at least 20 s of sampled ticks
  EXPECT_LT(down, compared / 10);
  // The played race is timed from the played poses: the same finish.
  LapRecord again = laps_of(race);
  EXPECT_EQ(again.order, recorded.order);
  EXPECT_EQ(again.lap1_ticks, recorded.lap1_ticks);
  end_runner(runner.get());
}

TEST_F(RaceReplayTest, TheRunnersPlaybackCheckComparesEveryStateOfTheFile) {
  const std::string demo = data.path("two.dvdemo");
  record("h,r", demo, nullptr);
  RunnerOptions options;
  options.play_demo = demo;
  auto runner = start(options);
  run_runner(runner.get(), nullptr);
  end_runner(runner.get());
  const PlaybackCheck check = runner->check;
  EXPECT_TRUE(check.problem.empty()) << check.problem;
  EXPECT_EQ(check.riders, 2);
  EXPECT_EQ(check.missed_states, 0);
  // A state every fourth tick per rider, the last ones forced at the end.
  const int span = check.last_tick + 1;
  EXPECT_GE(check.states + check.crashed_states, 2 * (span / SAMPLE_INTERVAL));
  EXPECT_LE(check.states + check.crashed_states, 2 * (span / SAMPLE_INTERVAL + 2));
  FILE* out = tmpfile();
  EXPECT_TRUE(write_playback_check(out, check));
  fclose(out);

  // A file cut inside a chunk plays up to the cut, and the check says so.
  std::string bytes = file_bytes(demo);
  data.write("cut.dvdemo", bytes.substr(0, bytes.size() * 2 / 3));
  options.play_demo = data.path("cut.dvdemo");
  runner = start(options);
  run_runner(runner.get(), nullptr);
  end_runner(runner.get());
  EXPECT_EQ(runner->check.problem, "the last chunk is cut short");
  EXPECT_GT(runner->check.states, 0);
  EXPECT_EQ(runner->check.missed_states, 0);
  EXPECT_LT(runner->race.tick, check.last_tick);

  // A missing file does not start.
  options.play_demo = data.path("none.dvdemo");
  auto missing = std::make_unique<Runner>();
  char error[128];
  EXPECT_FALSE(start_runner(missing.get(), options, error, sizeof error));
  end_runner(missing.get());
}

TEST_F(RaceReplayTest, RecordingRunsFromTheStartToTheResetAndKeepsBackups) {
  int backups = 2;
  RunnerOptions options = race_options("r,e,h");
  options.ticks = 600;
  options.record_demo = data.path("out.dvdemo");
  auto runner = start(options);
  runner->replay.demo_backups = &backups;
  const DemoRecorder& recorder = *runner->replay.recorder;
  ASSERT_TRUE(demo_recording(recorder));
  EXPECT_EQ(recorder.path, DEMO_DEFAULT_PATH);
  EXPECT_EQ(recorder.rider_count, 2);
  EXPECT_EQ(recorder.slot[0], 0);
  EXPECT_EQ(recorder.slot[1], 2);
  run_runner(runner.get(), nullptr);
  const int stopped_at = runner->race.tick;

  // A reset closes the race's demo, complete to its last tick; the next
  // recording moves it to the first backup.
  RaceSetup setup = {"flat", options.lineup.data(), false, true, 0, 1, 0};
  ASSERT_TRUE(reset_race(&runner->race, setup));
  EXPECT_TRUE(demo_recording(recorder));
  int first = 0, last = 0;
  ASSERT_TRUE(demo_span(data.path("demos/default00.dvdemo"), &first, &last));
  EXPECT_EQ(first, 0);
  EXPECT_EQ(last, stopped_at);
  for (int i = 0; i < 50; i++) step_runner(runner.get());
  end_runner(runner.get());
  ASSERT_TRUE(runner->demo_saved);
  EXPECT_FALSE(demo_recording(recorder));
  ASSERT_TRUE(demo_span(data.path("out.dvdemo"), &first, &last));
  EXPECT_EQ(last, 50);
  EXPECT_FALSE(std::filesystem::exists(data.path("demos/default01.dvdemo")));

  // Without the recording switch nothing is written.
  data.remove("demos/default.dvdemo");
  options.record_demo.clear();
  runner = start(options);
  EXPECT_FALSE(demo_recording(recorder));
  end_runner(runner.get());
  EXPECT_FALSE(std::filesystem::exists(data.path("demos/default.dvdemo")));
}

TEST_F(RaceReplayTest, RaceAgainstPutsTheDemoRidersBesideTheLiveOnes) {
  record("h,r,r", data.path("demos/default.dvdemo"), nullptr);
  copy_demo_file("@demos/default.dvdemo", "@demos/three.dvdemo");
  RunnerOptions options = race_options("h");
  options.ticks = 300;
  auto runner = start(options);
  Race& race = runner->race;
  RaceReplay& replay = runner->replay;

  // Racing the default demo with recording on would write over it.
  std::string track;
  ASSERT_TRUE(load_race_demo(&replay, "@demos/default.dvdemo", &track));
  EXPECT_EQ(track, "flat");
  clear_message_lines();
  RaceSetup setup = {"flat", options.lineup.data(), true, true, 0, 1, 0};
  ASSERT_TRUE(reset_race(&race, setup));
  EXPECT_TRUE(message_shown("Can't record and play from same file - recording disabled"));
  EXPECT_FALSE(demo_recording(*replay.recorder));
  EXPECT_EQ(race.mode[0], RACE_SLOT_LOCAL);
  for (int s = 1; s <= 3; s++) EXPECT_EQ(race.mode[s], RACE_SLOT_HISTORY) << s;
  EXPECT_EQ(race.bikes[4], nullptr);
  EXPECT_EQ(race.local_slot, 0);
  EXPECT_FALSE(playback_only(replay, race));
  EXPECT_FALSE(seek_race_replay(&replay, &race, -1.0, false));

  // Another demo records the live rider alone.
  ASSERT_TRUE(load_race_demo(&replay, "@demos/three.dvdemo", &track));
  ASSERT_TRUE(reset_race(&race, setup));
  ASSERT_TRUE(demo_recording(*replay.recorder));
  EXPECT_EQ(replay.recorder->rider_count, 1);
  EXPECT_EQ(replay.recorder->slot[0], 0);
  // The demo's riders ride through the live one: before the drop the
  // ghost of the demo's first rider stands on the player's gate, and the
  // player is not pushed off it.
  const DVec gate = body_position(*race.bikes[0], BODY_FRAME);
  for (int i = 0; i < 200; i++) step_runner(runner.get());
  ASSERT_LT(race.tick, race.gate_drop_tick);
  EXPECT_TRUE(race_rider_visible(replay, race, 1));
  const DVec ghost = body_position(*race.bikes[1], BODY_FRAME), player = body_position(*race.bikes[0], BODY_FRAME);
  EXPECT_LT(std::hypot(ghost.x - player.x, ghost.z - player.z), 1.0);
  EXPECT_LT(std::hypot(player.x - gate.x, player.z - gate.z), 0.25);
  end_runner(runner.get());
}

TEST_F(RaceReplayTest, RewindAndSkipOfAPlaybackOnlyRace) {
  const std::string demo = data.path("seek.dvdemo");
  record("h,r", demo, nullptr);
  RunnerOptions options;
  options.play_demo = demo;
  auto runner = start(options);
  Race& race = runner->race;
  for (int i = 0; i < 50; i++) step_runner(runner.get());
  ASSERT_EQ(race.tick, 50);
  // Rewinding a second at tick 50 lands on tick 0, and one step runs.
  ASSERT_TRUE(seek_race_replay(&runner->replay, &race, -1.0, false));
  EXPECT_EQ(race.tick, 1);
  EXPECT_GT(history_size(runner->replay.histories[0]), 0);
  // A skip runs a second of steps, the roost switched off for it only.
  g_roost_enabled = true;
  ASSERT_TRUE(seek_race_replay(&runner->replay, &race, 1.0, false));
  EXPECT_EQ(race.tick, 1 + TICKS_PER_SECOND);
  EXPECT_TRUE(g_roost_enabled);
  // Back past laps already ridden: their gates are forgotten.
  for (int i = 0; i < 40 * TICKS_PER_SECOND; i++) step_runner(runner.get());
  const int gates = race.timing[0].gates_passed;
  ASSERT_GT(gates, 1);
  ASSERT_TRUE(seek_race_replay(&runner->replay, &race, -30.0, false));
  EXPECT_LT(race.timing[0].gates_passed, gates);
  EXPECT_TRUE(race_rider_visible(runner->replay, race, 0));
  end_runner(runner.get());
}

TEST_F(RaceReplayTest, TimeTrialKeepsTheFastestLapAsTheGhost) {
  const std::string fast = data.path("flat/fastlap.dvdemo"), last = data.path("flat/lastlap.dvdemo");
  auto session = [&](double mph, int laps) {
    RunnerOptions options = race_options("h");
    options.time_trial = true;
    options.script = follow_script(mph);
    options.laps = laps;
    auto runner = start(options);
    run_runner(runner.get(), nullptr);
    std::vector<int> times;
    const Race& race = runner->race;
    for (int lap = 2; lap <= laps; lap++) times.push_back(race_lap_time(race, race.local_slot, lap));
    // The fast lap rides beside the rider as a ghost.
    EXPECT_EQ(race.mode[1], RACE_SLOT_HISTORY);
    EXPECT_NE(race.bikes[1], nullptr);
    end_runner(runner.get());
    return times;
  };
  auto duration = [](const std::string& path) {
    int first = 0, last_tick = 0;
    return demo_span(path, &first, &last_tick) ? last_tick - first : -1;
  };

  // The first session: the fast lap is the best of its timed laps, the
  // last lap the one before the session ended.
  std::vector<int> slow = session(20, 4);
  ASSERT_EQ(slow.size(), 3u);
  const int best_slow = std::min({slow[0], slow[1], slow[2]});
  ASSERT_GT(best_slow, 0);
  EXPECT_EQ(duration(fast), best_slow);
  // The recording of the lap after the last one has just begun.
  EXPECT_LT(duration(last), 64);

  // A lap no faster (the same ride's first timed lap: slower, or level on
  // the same tick) leaves the fast lap alone; a faster one replaces it.
  std::string kept = file_bytes(fast);
  std::vector<int> slower = session(20, 2);
  ASSERT_EQ(slower.size(), 1u);
  ASSERT_GE(slower[0], best_slow);
  EXPECT_EQ(file_bytes(fast), kept);
  std::vector<int> faster = session(25, 2);
  const int best_fast = *std::min_element(faster.begin(), faster.end());
  ASSERT_LT(best_fast, best_slow);
  EXPECT_EQ(duration(fast), best_fast);
}

TEST_F(RaceReplayTest, PracticeLapsAreLapDemosToo) {
  RunnerOptions options = race_options("h");
  options.practice = true;
  options.laps = 1000;
  options.ticks = 128 * 150;
  auto runner = start(options);
  EXPECT_TRUE(runner->race.practice);
  ASSERT_TRUE(demo_recording(*runner->replay.recorder));
  EXPECT_EQ(runner->replay.recorder->path, "@flat/lastlap.dvdemo");
  run_runner(runner.get(), nullptr);
  const Race& race = runner->race;
  ASSERT_GE(race_lap_state(race, 0).completed_laps, 2);
  EXPECT_TRUE(std::filesystem::exists(data.path("flat/fastlap.dvdemo")));
  EXPECT_EQ(race.mode[1], RACE_SLOT_HISTORY);  // the ghost
  end_runner(runner.get());
  // A race is no practice: it records into the demos folder when asked.
  EXPECT_FALSE(std::filesystem::exists(data.path("demos/default.dvdemo")));
}

TEST_F(RaceReplayTest, AnOlderDemoPlaysToItsEndUnchecked) {
  // Version 5: a frame per tick of one record per rider, from the first frame on.
  constexpr int FRAMES = 300;
  std::string file = "DV05 2 0 3\nflat\ncrf450(2016)|a|b|c|d\n7\nkx250(2006)|a|b|c|d\n8\n";
  for (int t = 0; t < FRAMES; t++) {
    for (int rider = 0; rider < 2; rider++) {
      BikeState s{};
      s.position[STATE_FRAME] = DVec{200.0 + 10 * rider, 2.0, 300.0 - t * 0.25};
      s.position[STATE_RIDER] = s.position[STATE_FRAME] + DVec{0, 2, 0};
      s.orientation[STATE_FRAME] = s.orientation[STATE_RIDER] = DQuat{1, 0, 0, 0};
      StateRecord r = encode_state(s, default_record_model(), RecordScale{512, 0, 64}, nullptr);
      file.append((const char*)r.bytes, STATE_RECORD_BYTES);
    }
  }
  data.write("old.dvdemo", file);
  RunnerOptions options;
  options.play_demo = data.path("old.dvdemo");
  auto runner = start(options);
  const Race& race = runner->race;
  EXPECT_EQ(race.gate_drop_tick, DEMO_DEFAULT_GATE_DROP);
  ASSERT_NE(race.bikes[1], nullptr);
  EXPECT_EQ(race.mode[1], RACE_SLOT_HISTORY);
  run_runner(runner.get(), nullptr);
  EXPECT_GE(race.tick, FRAMES);
  EXPECT_LT(race.tick, FRAMES + 16);
  // The second rider stands where its last frame put it.
  const DVec p = body_position(*race.bikes[1], BODY_FRAME);
  EXPECT_NEAR(p.x, 210.0, 0.5);
  EXPECT_NEAR(p.z, 300.0 - (FRAMES - 1) * 0.25, 2.0);
  end_runner(runner.get());
  EXPECT_EQ(runner->check.problem, "only demos of the current version are checked");
  FILE* out = tmpfile();
  EXPECT_FALSE(write_playback_check(out, runner->check));
  fclose(out);
}
