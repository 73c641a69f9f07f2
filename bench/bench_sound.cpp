// Engine sound cost: one bike's synthesis alone, and whole frames of the
// mixer (produce every bike, mix a frame's block at the device rate) for
// packs of bikes, and the capture's tick blocks. "core_percent" is the share
// of one core that one second of audio costs; the goal is 40 audible bikes
// under 5%.
//
//   build/bench/bench_sound --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/datafile.h"

#include "core/types.h"
#include "sound/engine_synth.h"
#include "sound/sound.h"

namespace {

constexpr int FRAME_RATE = 60;

// A data directory like the shipped one: a definition per class with a
// 6 x 3 sound table of 8-bit samples, so the benchmark pays for the table
// players as the game does.
struct TableData {
  std::string directory;
  TableData() {
    char pattern[] = "/tmp/dv_bench_sound_XXXXXX";
    if (!mkdtemp(pattern)) abort();
    directory = std::string(pattern) + "/";
    for (const char* c : {"250", "450f"}) {
      double firings = c[3] == 'f' ? 0.5 : 1.0;
      std::string table = "SOUNDTABLE 6 3\n2000 4000 6000 8000 10000 12000\n0 0.5 1\n";
      for (int r = 1; r <= 6; r++)
        for (int l = 0; l < 3; l++) {
          double period = 11025.0 / (2000.0 * r * firings / 60.0);
          std::string name = std::string(c) + "_" + std::to_string(r) + "_" + std::to_string(l) + ".raw";
          std::string bytes((size_t)(period * 8), '\0');
          for (size_t i = 0; i < bytes.size(); i++)
            bytes[i] = (char)(128 + (int)(100 * std::exp(-std::fmod((double)i, period) / (0.2 * period)) *
                                          std::sin((double)i * 0.7)));
          write(name, bytes);
          table += "0 -1 " + std::to_string(period) + " @" + name + "\n";
        }
      write(std::string(c) + ".table", table);
      write(std::string("default") + c + ".braap",
            "pipe 3 0.6 -0.8 0 15\nbias 0.02 -0.03 0.01\nscale 1.02 0.98\nsoundtable @" + std::string(c) + ".table\n");
    }
  }
  ~TableData() { std::filesystem::remove_all(directory); }
  void write(const std::string& name, const std::string& bytes) {
    FILE* f = fopen((directory + name).c_str(), "wb");
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
  }
};

void use_tables(bool on) {
  static TableData data;
  set_search_directories({on ? data.directory : "/nonexistent/dv-bench"});
}

// A bike somewhere on the track, its engine wandering through the range.
EngineSoundInput pack_input(int bike, double t) {
  double rpm = 6500 + 4000 * std::sin(0.7 * t + bike * 1.3);
  float x = (float)(40 * std::cos(bike * 0.9) + 5 * t);
  float z = (float)(15 * bike);
  return {rpm, 0.8 + 0.2 * std::sin(t + bike), 0.7, 0, false, {x, 3, z}, {5, 0, -40}};
}

// CPU seconds per second of audio, as a percentage of one core. (The library
// prints an inverted rate with an "s" after it: "core_percent=3.4s" means
// 3.4%.)
void report(benchmark::State& state, double audio_seconds) {
  state.counters["core_percent"] =
      benchmark::Counter(audio_seconds * 0.01, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_SynthesizeOneBike(benchmark::State& state) {
  static EngineSynth synth;
  use_tables(state.range(1) != 0);
  EngineSoundDefinition d = choose_engine_sound(nullptr, state.range(0) ? "450f" : "250");
  start_engine_synth(&synth, d, 1);
  const int block = SYNTH_RATE / FRAME_RATE;
  double t = 0;
  double audio = 0;
  for (auto _ : state) {
    EngineControls c = {6500 + 4000 * std::sin(t), 0.9, 0.7, 0, false, 1};
    set_engine_controls(&synth, c);
    benchmark::DoNotOptimize(synthesize_engine(&synth, block));
    t += 1.0 / FRAME_RATE;
    audio += 1.0 / FRAME_RATE;
  }
  report(state, audio);
  state.SetLabel(std::string(state.range(0) ? "four-stroke" : "two-stroke") + (state.range(1) ? " with table" : ""));
  delete_all_bike_sounds();  // frees the tables
}
BENCHMARK(BM_SynthesizeOneBike)->Args({0, 0})->Args({1, 0})->Args({0, 1})->Args({1, 1});

// args: bikes, voices, output rate, sound tables.
void BM_MixFrame(benchmark::State& state) {
  int bikes = (int)state.range(0), voices = (int)state.range(1), rate = (int)state.range(2);
  use_tables(state.range(3) != 0);
  start_sound_output(rate, 2, voices);
  for (int i = 0; i < bikes; i++) create_bike_sound(i, nullptr, i % 2 ? "450f" : "250");
  set_sound_listener({{0, 5, 0}, {0, 0, -40}, {1, 0, 0}});
  const int frames = rate / FRAME_RATE;
  static int16_t out[48000 * 2 / FRAME_RATE + 16];
  double t = 0, audio = 0;
  for (auto _ : state) {
    for (int i = 0; i < bikes; i++) produce_bike_sound(i, pack_input(i, t), i == 0 ? 1.0f : 0.8f, i == 0);
    mix_engine_sound(nullptr, out, frames, 2);
    benchmark::DoNotOptimize(out[0]);
    t += 1.0 / FRAME_RATE;
    audio += (double)frames / rate;
  }
  report(state, audio);
  delete_all_bike_sounds();
  stop_sound_output();
}
BENCHMARK(BM_MixFrame)
    ->Args({1, 16, 22050, 1})
    ->Args({8, 16, 22050, 1})
    ->Args({40, 40, 22050, 0})
    ->Args({40, 40, 22050, 1})
    ->Args({40, 16, 22050, 1})
    ->Args({40, 40, 48000, 1})
    ->Args({40, 40, 44100, 1});

// The capture path: 690 mono samples at 88320 Hz per tick.
void BM_CaptureTick(benchmark::State& state) {
  int bikes = (int)state.range(0);
  use_tables(true);
  start_sound_output(88320, 1, bikes);
  for (int i = 0; i < bikes; i++) create_bike_sound(i, nullptr, "450f");
  set_sound_listener({{0, 5, 0}, {0, 0, 0}, {1, 0, 0}});
  static int16_t out[690];
  double t = 0, audio = 0;
  for (auto _ : state) {
    for (int i = 0; i < bikes; i++) produce_bike_sound(i, pack_input(i, t), 1.0f, i == 0);
    mix_engine_sound(nullptr, out, 690, 1);
    benchmark::DoNotOptimize(out[0]);
    t += TICK_SECONDS;
    audio += TICK_SECONDS;
  }
  report(state, audio);
  delete_all_bike_sounds();
  stop_sound_output();
}
BENCHMARK(BM_CaptureTick)->Arg(1)->Arg(40);

}  // namespace
