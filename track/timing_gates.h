// The track's timing data from "timing_gates": starting gates, checkpoints
// (half-discs a bike's frame must enter) and the gate sequence of the first
// and the normal lap, with the index arithmetic that turns an overall gate
// count into sequence slots and lap ends. Per-bike progress is race/'s.
#pragma once

#include <string>
#include <vector>

#include "core/types.h"

struct DataStream;
struct Terrain;
struct TrackObjects;
struct ObjectLoadOptions;

constexpr int MAX_STARTING_GATES = 160;
constexpr int MAX_CHECKPOINTS = 256;
constexpr int MAX_LAP_ENTRIES = 256;
// Added to a sequence entry: the gate is not a split point of robot lines.
constexpr int NO_SPLIT_MARK = 100000;

extern const char* const DEFAULT_START_GATE_MODEL;    // "@startgate.jm"
extern const char* const DEFAULT_START_GATE_TEXTURE;  // "@startgate.ppm"
extern const char* const DEFAULT_START_GATE_SHAPE;    // "@startgate.shp"

struct StartingGate {
  Vec3 position;
  float heading;  // radians, -pi .. pi
  std::string model, texture, shape;  // empty = none ("null" in the file)
};

struct Checkpoint {
  Vec3 point;
  Vec3 direction;  // the half-disc lies on the side this points to (y unused)
  float radius;
  bool mark;  // run time: a fallen rider is heading here (flaggers wave)
};

struct TimingGates {
  std::vector<StartingGate> starting_gates;
  std::vector<Checkpoint> checkpoints;
  std::vector<int> sequence;  // first-lap entries, then normal-lap entries
  int first_lap;              // F
  int normal_lap;             // N
  int first_lap_splits;       // F': unmarked entries of the first lap
  int normal_lap_splits;      // N'
  bool timed;                 // C, F, N, F' and N' all non-zero
};

void clear_timing_gates(TimingGates* gates);

// Reads the file format; a missing or malformed part leaves the track
// untimed (the starting gates stay). Never fails on content.
void read_timing_gates(TimingGates* gates, DataStream* stream, int debug_level);
// Opens the data-file name; false (and nothing read) when it is missing.
bool read_timing_gates_file(TimingGates* gates, const char* name, int debug_level);
// Writes "@<track>/timing_gates" (into the home directory).
bool write_timing_gates(const TimingGates& gates, const char* track);

// Clamps every entry to 0 .. C-1 keeping its split mark, counts F' and N'
// and decides whether the track is timed (dropping checkpoints and
// sequences when not).
void normalise_timing_gates(TimingGates* gates, int debug_level);

// h wrapped into -pi .. pi.
float wrap_heading(float heading);

// The starting gates' objects, each 3 units behind its gate line.
void place_starting_gate_objects(const TimingGates& gates, TrackObjects* objects, const Terrain& terrain,
                                 const ObjectLoadOptions& options);

// Sequence slot of overall gate index g (first lap, then normal laps).
inline int folded_gate(const TimingGates& t, int g) {
  return g < t.first_lap ? g : t.first_lap + (g - t.first_lap) % t.normal_lap;
}
// True when passing overall gate g completes a lap.
inline bool is_lap_end(const TimingGates& t, int g) {
  return g >= t.first_lap - 1 && (g + 1 - t.first_lap) % t.normal_lap == 0;
}
// The checkpoint that overall gate g refers to.
inline const Checkpoint& checkpoint_of_gate(const TimingGates& t, int g) {
  return t.checkpoints[(size_t)(t.sequence[(size_t)folded_gate(t, g)] % NO_SPLIT_MARK)];
}
// Overall index of the gate that ends lap `lap` (1-based).
inline int lap_end_gate(const TimingGates& t, int lap) { return t.first_lap - 1 + (lap - 1) * t.normal_lap; }
// The gate whose passing ends a race of `laps` laps (0 when laps is 0).
inline int finishing_gate(const TimingGates& t, int laps) {
  return laps == 0 ? 0 : t.first_lap + t.normal_lap * (laps - 1) - 1;
}
