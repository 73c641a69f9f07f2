// Engine sound definitions and sound tables from arbitrary bytes: the first
// byte picks the reader (and the engine class), the rest is the file. What
// was read is then played for a moment, so every number the readers let
// through also goes through the synthesis, whose output must stay finite
// and within its clamp.
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "core/datafile.h"
#include "sound/engine_synth.h"
#include "sound/sound_definition.h"

namespace {

std::string g_directory;

void remove_directory() {
  for (const char* name : {"s.raw", "t.table"}) unlink((g_directory + name).c_str());
  rmdir(g_directory.c_str());
}

void write(const std::string& name, const std::string& bytes) {
  FILE* f = fopen((g_directory + name).c_str(), "wb");
  if (!f) abort();
  fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
}

// A data directory holding one good table and its sample, for "soundtable
// @t.table" lines and "@s.raw" cells to find.
void set_up() {
  if (!g_directory.empty()) return;
  char pattern[] = "/tmp/dv_fuzz_braap_XXXXXX";
  if (!mkdtemp(pattern)) abort();
  g_directory = std::string(pattern) + "/";
  std::string sample(400, '\0');
  for (size_t i = 0; i < sample.size(); i++) sample[i] = (char)(128 + (int)(90 * std::sin((double)i * 0.2)));
  write("s.raw", sample);
  write("t.table", "SOUNDTABLE 2 2\n3000 9000\n0 1\n0 -1 100 @s.raw\n5 -1 100 @s.raw\n-1 50 @s.raw\n0 7 -1 33.3 @s.raw\n");
  set_search_directories({g_directory});
  atexit(remove_directory);
}

// Paths the readers would open outside the data directory: a device or a
// pipe could block the run. Everything else a path can name is fair.
bool names_special_file(const uint8_t* data, size_t size) {
  std::string text((const char*)data, size);
  for (const char* bad : {"/dev", "/proc", "/sys", "fd/"})
    if (text.find(bad) != std::string::npos) return true;
  return false;
}

void play(const EngineSoundDefinition& d, const uint8_t* data, size_t size) {
  static std::unique_ptr<EngineSynth> synth = std::make_unique<EngineSynth>();
  start_engine_synth(synth.get(), d, (uint32_t)size);
  double rpm = size > 1 ? data[1] * 100.0 : 3000.0;
  for (int pass = 0; pass < 3; pass++) {
    set_engine_controls(synth.get(), {rpm * (pass + 1), pass * 0.5, 1.0 - pass * 0.5, 0, pass == 2, 1});
    int start = synthesize_engine(synth.get(), 700);
    for (int i = 0; i < 700; i++) {
      float v = synth->ring[(start + i) & (SYNTH_RING_SAMPLES - 1)];
      if (!(std::fabs(v) <= SYNTH_CLAMP)) __builtin_trap();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  set_up();
  if (size < 1 || names_special_file(data, size)) return 0;
  static const char* const CLASSES[] = {"450f", "250f", "250", "125", "50", "", "999f"};
  const char* engine_class = CLASSES[(data[0] >> 1) % 7];
  DataStream* stream = data_open_memory(data + 1, size - 1);
  if (data[0] & 1) {
    std::unique_ptr<SoundTable> table(read_sound_table(stream, "@fuzz.table"));
    if (table) {
      if (table->cells.size() != (size_t)table->rows * (size_t)table->columns) __builtin_trap();
      for (const SoundCell& cell : table->cells)
        for (int i : cell.index)
          if (i < 0 || i >= (int)cell.period) __builtin_trap();
      EngineSoundDefinition d = builtin_engine_sound(engine_class);
      d.sound_table = table.get();
      play(d, data, size);
    }
  } else {
    EngineSoundDefinition d;
    read_engine_sound(stream, engine_class, &d);
    if (d.bias_count < 0 || d.bias_count > SOUND_CURVE_MAX || d.scale_count < 0 || d.scale_count > SOUND_CURVE_MAX)
      __builtin_trap();
    play(d, data, size);
  }
  data_close(stream);
  free_sound_tables();
  return 0;
}
