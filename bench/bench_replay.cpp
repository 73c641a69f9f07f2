// Cost of recording and of playing back per rider per tick, and the demo
// size per rider per minute against the 352 bytes a second that 44-byte
// entries sampled every fourth tick make. Riders are synthetic (smooth
// laps of the track); the live-bike cases read and pose real bikes.
//
//   build/bench/bench_replay --benchmark_counters_tabular=true
#include <benchmark/benchmark.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "bike/bike.h"
#include "core/datafile.h"
#include "core/message.h"
#include "replay/bike_replay.h"
#include "replay/demo.h"

namespace {

const RecordScale SCALE{2048.0, -20.0, 180.0};
StateHistory g_bench[MAX_BIKES];

BikeState lap_state(int rider, int tick) {
  BikeState s{};
  double t = tick / 128.0, heading = 0.2 * t + rider;
  DVec centre{1024 + 300 * std::cos(heading), 40 + 5 * std::sin(t), 1024 + 300 * std::sin(heading)};
  DQuat q = quat_axis_angle(DVec{0, 1, 0}, -heading);
  for (int i = 0; i < STATE_BODIES; i++) {
    s.position[i] = centre;
    s.orientation[i] = q;
  }
  s.position[STATE_RIDER] = centre + quat_rotate(q, DVec{0, 2.5, 0.5});
  s.steering = 0.3 * std::sin(t);
  s.fork = -0.4;
  s.swingarm = -0.2;
  s.front_spin = std::remainder(9 * t, 2 * PI_D);
  s.rear_spin = s.front_spin;
  s.engine_speed = 1000;
  s.gear = 2;
  s.throttle = 0.7f;
  return s;
}

struct Riders {
  int mode[MAX_BIKES];
  int slots[MAX_BIKES];
  std::vector<DemoRider> riders;
  int tick = 0;
  explicit Riders(int n) : riders((size_t)n) {
    for (int& m : mode) m = SLOT_MODE_EMPTY;
    for (int i = 0; i < n; i++) {
      mode[i] = SLOT_MODE_ROBOT;
      slots[i] = i;
      riders[(size_t)i] = DemoRider{"crf450(2016)", "", "", "", "", "1", "Robot"};
    }
  }
};

bool encode_synthetic(void* context, int slot, StateRecord* record) {
  const Riders* r = static_cast<const Riders*>(context);
  *record = encode_state(lap_state(slot, r->tick), default_record_model(), SCALE, nullptr);
  return true;
}

std::string g_home;
void use_scratch_home() {
  if (!g_home.empty()) return;
  char pattern[] = "/tmp/dv_bench_replay_XXXXXX";
  g_home = std::string(mkdtemp(pattern)) + "/";
  set_search_directories({g_home});
  std::atexit([] { std::system(("rm -rf '" + g_home + "'").c_str()); });
}

DemoRecordingSetup setup_for(Riders& r) {
  return DemoRecordingSetup{false, "bench", 0, 3, 1792, 0, (int)r.riders.size(), r.slots, r.riders.data()};
}

// Records `seconds` of the riders into "@demos/default.dvdemo".
void record_seconds(Riders& r, int seconds) {
  DemoRecorder recorder;
  clear_all_histories(g_bench);
  start_recording(&recorder, setup_for(r));
  for (r.tick = 0; r.tick < seconds * TICKS_PER_SECOND; r.tick++) {
    sample_states(g_bench, r.mode, r.tick, r.tick == 0, encode_synthetic, &r);
    write_demo_tick(&recorder, g_bench, r.tick, false);
  }
  sample_states(g_bench, r.mode, r.tick, true, encode_synthetic, &r);
  stop_recording(&recorder, g_bench, r.tick);
}

// One simulation tick of recording: sampling (every fourth tick) and the
// chunk every sixteenth, written and flushed. The states are precomputed,
// so the figure is the history and file cost alone.
void BM_RecordTick(benchmark::State& state) {
  use_scratch_home();
  const int n = (int)state.range(0);
  Riders riders(n);
  std::vector<StateRecord> lap((size_t)n * 1024);
  for (int i = 0; i < n; i++)
    for (int t = 0; t < 1024; t++) lap[(size_t)i * 1024 + t] = encode_state(lap_state(i, t * 4), default_record_model(), SCALE, nullptr);
  DemoRecorder recorder;
  clear_all_histories(g_bench);
  start_recording(&recorder, setup_for(riders));
  int tick = 0;
  for (auto _ : state) {
    if (tick % SAMPLE_INTERVAL == 0) {
      for (int i = 0; i < n; i++) add_state(&g_bench[i], lap[(size_t)i * 1024 + (tick / 4) % 1024], tick);
    }
    write_demo_tick(&recorder, g_bench, tick, false);
    if (++tick == 128 * 600) {  // start a fresh file every ten minutes of race
      state.PauseTiming();
      stop_recording(&recorder, g_bench, tick);
      clear_all_histories(g_bench);
      start_recording(&recorder, setup_for(riders));
      tick = 0;
      state.ResumeTiming();
    }
  }
  stop_recording(&recorder, g_bench, tick);
  // Seconds per rider per tick (printed with an SI suffix: "n" for ns).
  state.counters["s_per_rider_tick"] =
      benchmark::Counter((double)state.iterations() * n, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_RecordTick)->Arg(1)->Arg(5)->Arg(40)->Arg(160);

// The encoding of a state (what sampling adds per rider every fourth tick).
void BM_EncodeState(benchmark::State& state) {
  BikeState s = lap_state(1, 1000);
  RecordModel m = default_record_model();
  for (auto _ : state) {
    s.position[0].x += 1e-6;
    benchmark::DoNotOptimize(encode_state(s, m, SCALE, nullptr));
  }
}
BENCHMARK(BM_EncodeState);

// One tick of playback: the reader's read-ahead and, per rider, choosing or
// interpolating the record and decoding it.
void BM_PlaybackTick(benchmark::State& state) {
  use_scratch_home();
  const int n = (int)state.range(0);
  Riders riders(n);
  record_seconds(riders, 60);
  DemoPlayer player;
  const RecordModel model = default_record_model();
  auto restart = [&] {
    open_demo(&player, DEMO_DEFAULT_PATH, false);
    for (int i = 0; i < n; i++) set_demo_rider_slot(&player, i, i, nullptr);
    clear_all_histories(g_bench);
  };
  restart();
  int current = 0;
  double sink = 0;
  for (auto _ : state) {
    read_demo_ahead(&player, g_bench, &current);
    for (int i = 0; i < n; i++) {
      ReplayChoice c;
      if (choose_replay_record(g_bench[i], current, player.version, &c)) {
        sink += decode_state(c.record, model, SCALE).position[0].x;
      }
    }
    if (++current >= 60 * TICKS_PER_SECOND) {
      state.PauseTiming();
      restart();
      current = 0;
      state.ResumeTiming();
    }
  }
  benchmark::DoNotOptimize(sink);
  close_demo(&player);
  // Seconds per rider per tick (printed with an SI suffix: "n" for ns).
  state.counters["s_per_rider_tick"] =
      benchmark::Counter((double)state.iterations() * n, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_PlaybackTick)->Arg(1)->Arg(5)->Arg(40)->Arg(160);

// A real bike: reading its bodies and joints into a record, and posing a
// history-driven bike from a chosen record with derived velocities.
void BM_LiveBike(benchmark::State& state) {
  create_bike_world();
  Bike* bike = create_bike("crf450(2016)", 0, nullptr, nullptr, nullptr, nullptr, "1");
  place_bike(bike, Vec3{1024, 40, 1024}, 0.3f);
  const bool pose = state.range(0) == 1;
  ReplayChoice c;
  c.before = encode_bike(*bike, SCALE, nullptr);
  c.after = c.record = c.before;
  c.span = 4;
  for (auto _ : state) {
    if (pose) {
      pose_bike_from_choice(bike, c, SCALE);
    } else {
      benchmark::DoNotOptimize(encode_bike(*bike, SCALE, nullptr));
    }
  }
  state.SetLabel(pose ? "pose from record" : "encode");
  delete_bike(bike);
  destroy_bike_world();
}
BENCHMARK(BM_LiveBike)->Arg(0)->Arg(1);

// Demo size: a minute of racing, per rider, against the format's 352 bytes
// a second (one 44-byte entry per 4 ticks) plus 9 bytes per chunk shared by
// all riders.
void BM_DemoSizePerRiderMinute(benchmark::State& state) {
  use_scratch_home();
  const int n = (int)state.range(0);
  double bytes = 0;
  for (auto _ : state) {
    Riders riders(n);
    record_seconds(riders, 60);
    struct stat st;
    stat((g_home + "demos/default.dvdemo").c_str(), &st);
    bytes = (double)st.st_size;
  }
  state.counters["bytes_per_rider_minute"] = bytes / n;
  state.counters["bytes_per_rider_second"] = bytes / n / 60;
  state.counters["format_bytes_per_rider_second"] = 352;
}
BENCHMARK(BM_DemoSizePerRiderMinute)->Arg(1)->Arg(5)->Arg(20)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
