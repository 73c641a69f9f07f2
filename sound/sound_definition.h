// Engine sound definitions: what a bike's engine sounds like, read from a
// ".braap" text file found beside the bike's graphics (or the engine class's
// default file, or the built-in definition), the built-in wave sets, and the
// sound tables of recorded samples that definitions may name. Tables and
// their samples are loaded once per name and shared by every bike.
//
// ".braap" format: one statement per line (at most 1023 characters; the rest
// of a longer line is dropped), "#" starts a comment, keywords are whole words
// after any leading white space, unknown lines are ignored:
//
//   # 450 four-stroke: deep, boomy pipe
//   pipe 5.0 0.918207 -0.85 0 15    # round trip ms, engine-end reflection,
//                                   # open-end reflection, inlet tap, pickup tap
//   minrpm 1000                     # the engine never sounds slower than this
//   lowtorque -2.5                  # loudness at closed throttle
//   hightorque 2.5                  # loudness at full throttle
//   bias 0.02 -0.03 0.05 0.0        # per-firing loudness offsets, cyclic
//   scale 1.05 0.97 1.02 0.96       # per-firing loudness factors, cyclic
//   soundtable @sounds/450f.table   # optional recorded samples
//
// "pipe" numbers left out keep 5.0, 0.918207, -0.85, 0, 15 in that order
// ("pipe 4 0.8" gives 4, 0.8, -0.85, 0, 15). A file without a "pipe" line
// has the neutral pipe 1.0, 1.0, 0, 0, 15 (no open-end reflection, so no
// resonance). "bias" and "scale" keep at most 100 numbers each; a bare
// keyword clears its curve. Torques are loudness on a log scale: each unit is
// a factor of 2^0.3 (about 1.8 dB), interpolated by throttle between the two.
// Each firing's loudness is then (that + the next bias) x the next scale.
//
// The pipe is a delay line sampled at 16 taps, 0 at the engine, 15 at the
// open end: the firing pulses enter at the inlet tap, the sound is picked up
// at the pickup tap, and the travelling waves reflect at both ends with the
// two reflection factors (negative inverts, as an open pipe end does). The
// first number is the time a wave takes from the engine to the open end and
// back, in milliseconds; the loop's resonances lie at odd multiples of
// 1000 / (2 x round trip) Hz when the product of the reflections is negative.
//
// Sound table format (whitespace-separated numbers, read as a whole):
//
//   SOUNDTABLE 2 3                 # rows (engine speed) and columns (load)
//   4000 8000                      # row keys, rpm
//   0 0.5 1                        # column keys, load 0..1
//   0 -1 165.375 @sounds/a_4000_0.raw      # cell (0, 0): indices ended by
//   0 -1 165.375 @sounds/a_4000_50.raw     # -1, the firing period in
//   0 40 -1 165.375 @sounds/a_4000_100.raw # samples, the sample file
//   -1 82.6875 @sounds/a_8000_0.raw        # (no indices: firings start at
//   ...                                    #  whole periods)
//
// Cells follow row by row. A sample file is raw mono 8-bit unsigned PCM at
// 11025 samples/s (sound/engine_sample_format.h) holding whole firing
// periods; the indices are offsets within a period where firings may start
// (reduced modulo the period taken as an integer) and are used in turn. Each
// firing plays one period of the sample from the next start, stretched to the
// engine's current firing interval.
#pragma once

#include <string>
#include <vector>

constexpr int WAVE_TABLE_ENTRIES = 1024;
constexpr int SOUND_CURVE_MAX = 100;
constexpr int SOUND_LINE_CHARS = 1023;

// A pair of 1024-entry waves over one firing cycle: the wave itself and the
// same wave at a quarter of its amplitude.
struct WaveSet {
  const char* name;
  float wave[WAVE_TABLE_ENTRIES];
  float quarter[WAVE_TABLE_ENTRIES];
};

// The built-in sets, "default_four_stroke" and "default_two_stroke"; nullptr
// for any other name.
const WaveSet* find_wave_set(const char* name);

// One sample shared by every cell (of every table) that names its file.
struct SoundSample {
  std::string name;
  std::vector<float> data;  // -1..1
};

struct SoundCell {
  const float* samples;  // the shared sample's data
  int sample_count;
  double period;           // one firing interval, in samples
  std::vector<int> index;  // firing start offsets, each in 0..period-1
  double row_key, column_key;
};

struct SoundTable {
  std::string name;
  int rows, columns;
  std::vector<double> row_keys, column_keys;
  std::vector<SoundCell> cells;  // row by row
};

// The cell whose row key is nearest to rpm and whose column key is nearest to
// load (keys need not be sorted).
const SoundCell& sound_table_cell(const SoundTable& table, double rpm, double load);
// The cell of the same column in the row on the other side of rpm from that
// nearest cell, with its share (0..0.5) of a blend by engine speed, so a
// revving engine glides between rows instead of stepping; nullptr (share 0)
// when rpm lies outside the row keys.
const SoundCell* sound_table_neighbour(const SoundTable& table, double rpm, double load, double* share);

// The table of that name: the loaded copy when there is one, else read now.
// A bad cell shows "(%d, %d) Bad remap entry" (row, column) and an unreadable
// table or sample file "Error reading '%.512s'"; either way the table is
// dropped (nullptr) and the failure is remembered, so forty bikes naming one
// broken table show the message once.
const SoundTable* load_sound_table(const char* name);
// Parses a table from a stream (its samples are still loaded by name).
// nullptr on failure, after the same messages. The caller owns the result.
SoundTable* read_sound_table(struct DataStream* stream, const char* name);
// Frees every loaded table and sample (shutdown, tests).
void free_sound_tables();
int loaded_sound_table_count();
int loaded_sound_sample_count();

struct PipeSettings {
  double round_trip_ms;
  double engine_reflection;
  double open_reflection;
  int inlet_tap, pickup_tap;  // 0..15
};

// The numbers a "pipe" line leaves out.
constexpr PipeSettings PIPE_LINE_DEFAULTS = {5.0, 0.918207, -0.85, 0, 15};
// The pipe a definition file starts from before its own lines.
constexpr PipeSettings PIPE_FILE_START = {1.0, 1.0, 0.0, 0, 15};

struct EngineSoundDefinition {
  const WaveSet* wave_set;
  double firings_per_rev;  // the firing clock runs at rpm x this / 60 Hz
  double low_torque, high_torque;
  double load_share;  // how much of the loudness follows the load
  double gain;        // output level
  double min_rpm;
  PipeSettings pipe;
  float bias[SOUND_CURVE_MAX];
  int bias_count;
  float scale[SOUND_CURVE_MAX];
  int scale_count;
  const SoundTable* sound_table;  // shared, or nullptr
};

// The built-in definition of an engine class: "50" has its own, a class
// ending in "f" is a four-stroke, anything else a two-stroke.
EngineSoundDefinition builtin_engine_sound(const char* engine_class);

// "@default50.braap" ... "@default450f.braap" for the five classes, else "".
const char* default_engine_sound_file(const char* engine_class);

// Parses the numbers after a "pipe" keyword; those left out keep
// PIPE_LINE_DEFAULTS. Non-finite numbers count as left out.
PipeSettings parse_pipe_numbers(const char* text);

// Reads a definition from a stream over the built-in definition of the class
// (with the pipe set to PIPE_FILE_START).
void read_engine_sound(struct DataStream* stream, const char* engine_class, EngineSoundDefinition* out);

// Chooses and reads the bike's definition: the skin name with its extension
// replaced by ".braap", then cut back at each "-" from the right, then the
// class's default file, else the built-in definition. A skin name that does
// not start with "@" is looked up as a data file all the same (skin names
// arrive in demos and from other players and must not reach arbitrary
// paths). chosen_file receives the file read, or "" for the built-in one.
EngineSoundDefinition choose_engine_sound(const char* skin_name, const char* engine_class,
                                          std::string* chosen_file = nullptr);

// The names choose_engine_sound tries for a skin, in order (without the
// class default).
std::vector<std::string> engine_sound_candidates(const char* skin_name);
