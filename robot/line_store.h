// The robots' knowledge of a track: lines ridden between split gates, kept in
// one group per split gate, recorded from riders' passages, maintained by the
// store rules (stored, duplicate, too slow, evicting), and saved to and read
// from the per-skill files "lines_novice", "lines_amateur", "lines_expert".
//
// Split gates are the unmarked entries of the gate sequence (an entry of
// NO_SPLIT_MARK or more is not a split). Group k, for k < F', holds the lines
// that end at the k-th split of the first lap; group F' + j those that end at
// the j-th split of the normal lap. The first group's lines start at the gate
// drop; every other line starts at the split before its own, so the lines of
// one lap join end to start.
//
// A line is a sample of the recording bike's frame position and velocity at
// its start, every 32 ticks after that, and at the split where it ends.
//
// Line file, version 1 (all integers little-endian, floats IEEE single):
//
//   header, 32 bytes:
//     8  magic "DVLINES\n"
//     4  version (1)
//     4  group count (F' + N' of the track it was made on)
//     4  slots per group (45)
//     4  layout: a digest of the track's checkpoints and gate sequence
//     4  record count
//     4  CRC-32 of the 28 bytes before it
//   then per line, (36 + 24 x points) + 4 bytes:
//     4  record mark "LINE"
//     2  group, 2 slot
//     2  point count (2 .. MAX_LINE_POINTS), 2 reserved (0)
//     4  start gate: sequence slot of the split it starts at, -1 the gate drop
//     4  ticks from start to end
//     4  rides on it by robots, 4 of them ridden to its end cleanly
//     4  mean and 4 best ridden time in seconds (0 when never ridden)
//     24 per point: position x y z, velocity x y z
//     4  CRC-32 of the record from its mark to its last point
//
// A record whose check or content fails is skipped and the reader looks for
// the next mark, so damage loses the lines it touches and no others. A file
// whose header fails, whose version is unknown or whose layout is not the
// loaded track's is not used at all.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/types.h"

struct TimingGates;
struct BikeTiming;

constexpr int LINE_SLOTS = 45;         // lines per split gate
constexpr int LINE_SAMPLE_TICKS = 32;  // a sample every quarter second
constexpr int MAX_LINE_POINTS = 2048;  // 8.5 minutes between two splits
constexpr int GATE_DROP = -1;          // start gate of the first group's lines
constexpr uint32_t LINE_FILE_VERSION = 1;

// The "skill" choice's indices, as core/config.h numbers them.
constexpr int ROBOT_NOVICE = 0, ROBOT_AMATEUR = 1, ROBOT_EXPERT = 2, SKILL_COUNT = 3;
// "lines_novice", "lines_amateur", "lines_expert"; "lines_novice" when out of range.
const char* line_file_name(int skill);

struct LinePoint {
  Vec3 position;  // frame body
  Vec3 velocity;
};

struct RobotLine {
  bool used;
  int from_gate;  // sequence slot of the split it starts at, GATE_DROP
  int ticks;      // from its start to the split it ends at
  std::vector<LinePoint> points;
  // What robots made of it.
  int picked;          // rides on it from its start that ended, cleanly or not
  int completed;       // of those, ridden to its end without a crash
  float ridden_mean;   // seconds, over the completed rides
  float ridden_best;   // seconds
  int last_picked;     // race tick of the latest pick, -1 never (not saved)
};

struct LineGroup {
  RobotLine lines[LINE_SLOTS];
};

struct LineStore {
  std::string track;  // track directory the lines belong to; empty when none
  int skill;          // whose file they came from and go back to
  uint32_t layout;    // digest of the gates they were made on
  int first_splits;   // F'
  int normal_splits;  // N'
  std::vector<LineGroup> groups;  // F' + N'
  bool changed;       // lines or their record changed since the last read or save
};

// Tick of point i of a line: i x 32, the last one at the line's end.
inline int line_point_tick(const RobotLine& line, int i) {
  return i + 1 < (int)line.points.size() ? i * LINE_SAMPLE_TICKS : line.ticks;
}
inline double line_seconds(const RobotLine& line) { return line.ticks * TICK_SECONDS; }

void clear_line(RobotLine* line);

// Empties the store and sizes it for the gates: F' + N' groups of 45 slots,
// none when the track is untimed.
void size_line_store(LineStore* store, const TimingGates& gates, const std::string& track, int skill);
int line_count(const LineStore& store);

// A digest of what lines depend on: checkpoint positions, directions and
// radii and the gate sequence with its marks.
uint32_t gates_layout(const TimingGates& gates);

// --- split gates --------------------------------------------------------------

// True when overall gate g is a split gate.
bool is_split_gate(const TimingGates& gates, int g);
// Group of the lines that end at overall gate g, -1 when g is not a split.
int split_group(const TimingGates& gates, int g);
// Overall index of the first split after overall gate g (GATE_DROP: the
// first split of the race), -1 on an untimed track.
int next_split_gate(const TimingGates& gates, int g);

// --- store rules ----------------------------------------------------------------

enum LineOutcome { LINE_STORED, LINE_DUPLICATE, LINE_TOO_SLOW, LINE_EVICTED, LINE_REFUSED };

// Rules, tried in order for a finished line of group g, against the stored
// lines of the same start (the same split; from the gate drop, the same
// starting place: first points within START_PLACE_DISTANCE):
//  1. Slower than TOO_SLOW_FACTOR x their best time: too slow.
//  2. Along the path of one of them (no point more than
//     DUPLICATE_DISTANCE from it): within DUPLICATE_TIME of its time it is a
//     duplicate; faster, it evicts that line; slower, it is too slow.
//  3. A free slot takes it.
//  4. Else it evicts the line of the highest replacement value when its own
//     is lower, and is too slow otherwise.
// Logs "auto pilot: %d rejected (duplicate)\n", "... (too slow)\n" with the
// group, or the eviction line with the evicted slot. LINE_REFUSED for a group
// out of range or a line without points.
constexpr double TOO_SLOW_FACTOR = 1.25;
constexpr float DUPLICATE_DISTANCE = 3.0f;  // ft
constexpr double DUPLICATE_TIME = 0.02;     // share of the stored line's time
constexpr float START_PLACE_DISTANCE = 1.5f;  // ft: less than the starting places' spacing
// True when the lines start at the same split, or from the gate drop at the
// same starting place.
bool same_start(const RobotLine& a, const RobotLine& b);
LineOutcome offer_line(LineStore* store, int group, RobotLine line, int* slot_out = nullptr);

// The seconds a line costs a robot as far as the store knows: the mean ridden
// time once it has been ridden (its own time, 3% worse, before), raised by
// half its share of failed rides. The line of the highest value goes first.
double replacement_value(const RobotLine& line);
// Best recorded time of the group in ticks, 0 when it is empty.
int best_line_ticks(const LineStore& store, int group);

// Largest horizontal distance of a's points from b's path (ft).
float line_deviation(const RobotLine& a, const RobotLine& b);

// The record robots keep of the lines they follow: when one was last
// chosen (for spreading robots over lines; not saved), and how each ride on
// it from its start ended: at its split in `ticks`, or in a crash or off it.
void note_line_picked(LineStore* store, int group, int slot, int tick);
void note_line_ridden(LineStore* store, int group, int slot, int ticks);
void note_line_failed(LineStore* store, int group, int slot);

// --- recording ------------------------------------------------------------------

struct LineRecorder {
  bool active;
  int start_gate;     // overall index of the split it began at, GATE_DROP
  int expected_gate;  // next overall gate the bike must take
  int target_gate;    // overall index of the split the line ends at
  int start_tick;
  RobotLine line;
};

// What the recorder sees of the bike in one tick.
struct RecordSample {
  Vec3 position;     // frame body
  Vec3 velocity;
  bool crashed;      // the rider is down
  int gate;          // overall gate the gate step accepted this tick, -1 none
  bool finished;     // the bike has taken the flag
};

void reset_line_recorder(LineRecorder* recorder);
// Starts a line at the gate drop (GATE_DROP) or at the split just passed.
void start_line(LineRecorder* recorder, const TimingGates& gates, int start_gate, int tick, const RecordSample& s);
// Drops the line being recorded, logging "auto pilot: %d canceled\n" with
// its group.
void cancel_line(LineRecorder* recorder, const TimingGates& gates);

// One tick of recording, after the bike's gate step. Samples every 32 ticks
// since the line's start; a crash, a gate taken out of order (missed or gone
// back for), a jump in position no riding explains, or a line growing past
// MAX_LINE_POINTS cancels it; at its target split the line goes to the store
// and a new one starts there. Returns the store's verdict when a line was
// offered, -1 otherwise.
int record_line_tick(LineStore* store, LineRecorder* recorder, const TimingGates& gates, const RecordSample& s,
                     int tick);

// --- files ------------------------------------------------------------------------

// The file image of the store (the format above).
std::vector<unsigned char> encode_lines(const LineStore& store);
// Reads a file image into a store already sized for the track. Lines whose
// record is damaged are skipped. False, with the store left empty, when the
// header fails or does not fit the store. *damaged counts skipped records.
bool decode_lines(LineStore* store, const unsigned char* bytes, size_t size, int* damaged);

// "Remembering lines": writes "@<track>/lines_<skill>" into the home directory
// when the store changed since it was read, through a temporary file that
// replaces the old one in one step. Clears the changed flag on success.
bool save_line_store(LineStore* store);
// "Analyzing lines": sizes the store for the gates and reads
// "@<track>/lines_<skill>". A missing file leaves it empty and is silent;
// a damaged one is logged. True when lines were read.
bool load_line_store(LineStore* store, const TimingGates& gates, const std::string& track, int skill);
