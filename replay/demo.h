// Demo files: recording a race or a practice lap to a ".dvdemo" file and
// playing one back into the state histories of history-driven slots.
//
// A file is a text header (the version line "DV06 riders race-time laps
// gate-drop", the track directory, and per rider "model|rider skin|bike
// skin|wheel skin|helmet skin", the race number, the rider name and an empty
// line) followed by chunks:
//   u32 link   payload length of the previous chunk XOR this chunk's
//   i32 tick   when the chunk was written
//   u8  type   1: states, 2: a console line
//   payload    type 1: entries of u8 rider ordinal, i32 tick, 39-byte record,
//              grouped by rider in header order, oldest first
// The links let a reader walk back from any chunk to the first. Versions 4
// and 5 (read, never written) have two-line rider blocks and plain frames of
// one record per rider per tick (26 bytes in version 4, 39 in version 5).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/types.h"
#include "replay/history.h"
#include "replay/state_record.h"

struct DataStream;

constexpr int DEMO_VERSION = 6;
constexpr int DEMO_LINE_MAX = 1023;          // header lines and printed text chunks
constexpr int DEMO_CHUNK_HEADER_BYTES = 9;
constexpr int DEMO_ENTRY_BYTES = 1 + 4 + STATE_RECORD_BYTES;
constexpr int DEMO_CHUNK_INTERVAL = 16;      // state chunks are written on multiples of 16 ticks
constexpr int DEMO_READ_AHEAD_TICKS = 64;
constexpr int DEMO_FRAME_READ_AHEAD_TICKS = 7;  // versions 4 and 5
constexpr int DEMO_CHUNKS_PER_READ = 128;
constexpr int DEMO_DEFAULT_GATE_DROP = 1792;  // 14 s, when the header gives none
constexpr int DEMO_OPEN_LAPS = 1000;          // when the header gives no lap count
constexpr int DEMO_MAX_BACKUPS = 100;
constexpr int DEMO_NAME_MAX = 1016;
constexpr int DEMO_NUMBER_CHARS = 3;
constexpr int DEMO_PLAIN_VERSION = 5;  // the version replay uses with no demo playing

enum DemoChunkType { DEMO_CHUNK_STATES = 1, DEMO_CHUNK_TEXT = 2 };

extern const char* const DEMO_DEFAULT_PATH;  // "@demos/default.dvdemo"

// One rider line block of the header.
struct DemoRider {
  std::string model;        // bike model name
  std::string rider_skin;   // rider gear and the rider's number plate
  std::string bike_skin;    // frame, forks, swingarm, plates
  std::string wheel_skin;
  std::string helmet_skin;
  std::string number;       // race number, up to 3 characters
  std::string name;         // rider name (version 6)
};

// --- recording -------------------------------------------------------------------

struct DemoRecorder {
  DataStream* file = nullptr;
  std::string path;              // what the file was opened as
  uint32_t previous_length = 0;  // payload length of the last chunk written
  std::string pending_name;      // set by "namedemo": the file name under "@demos/"
  bool practice = false;
  int rider_count = 0;
  int slot[MAX_BIKES] = {};      // the recorded slots, in slot order (rider ordinal -> slot)
  std::vector<uint8_t> chunk;    // room for the largest state chunk, made at the start
};

extern DemoRecorder g_demo_recorder;

// Whether a slot in this mode is recorded: offline the local player and the
// robots; online while riding also the remote riders; online while only
// spectating (local slot 160 or more) the remote riders and the robots.
bool slot_recorded(int mode, bool online, int local_slot);

struct DemoRecordingSetup {
  bool practice;          // record the track's "lastlap.dvdemo"
  const char* track;      // track directory
  int race_time;          // ticks, 0 for a race decided by laps only
  int laps;
  int gate_drop_tick;
  int demo_backups;       // the "demo_backups" setting (clamped to 0..100)
  int rider_count;        // recorded riders, in slot order
  const int* slots;       // their slots
  const DemoRider* riders;
};

// Rotates the backups (not in practice) and opens the file. A file that
// cannot be opened records nothing and says nothing; false then.
bool start_recording(DemoRecorder* recorder, const DemoRecordingSetup& setup);
inline bool demo_recording(const DemoRecorder& recorder) { return recorder.file != nullptr; }

// Writes one state chunk of every recorded slot's unsaved entries, on ticks
// that are multiples of 16 or when forced, and flushes the file. The caller
// samples the simulated bikes first (replay/bike_replay.h record_tick does both).
void write_demo_tick(DemoRecorder* recorder, StateHistory histories[MAX_BIKES], int tick, bool forced);
// A console line received from the server, as a text chunk.
void record_demo_text(DemoRecorder* recorder, const char* text, int tick);
// Forced chunk, close; then a pending name renames "@demos/default.dvdemo".
void stop_recording(DemoRecorder* recorder, StateHistory histories[MAX_BIKES], int tick);

// "@demos/default%02d.dvdemo" i -> i + 1 for i = k-2 .. 0, then, with k > 0,
// "@demos/default.dvdemo" -> "@demos/default00.dvdemo".
void rotate_demo_backups(int backups);

// The "namedemo" command: "Not currently recording a demo" (nothing recorded,
// or practice), "Name too long", "Bad demo name" (path separators or dots
// only), otherwise the name gets ".dvdemo" unless it ends so, and
// "Demo name updated". Shows the message; true when the name was taken.
bool name_demo(DemoRecorder* recorder, const char* name);
// The "demobackups" command: stores the count in the configuration and
// shows "Now keeping %d demo backups".
void set_demo_backups(int backups);

// --- playback --------------------------------------------------------------------

struct DemoPlayer {
  DataStream* file = nullptr;
  std::string path;              // reopened by name when the stream cannot seek
  int version = 0;
  std::string track;
  int race_time = 0, laps = 0, gate_drop_tick = 0;
  int rider_count = 0;
  std::vector<DemoRider> riders;
  std::vector<RecordModel> rider_models;  // converts version-4 records
  int slot[MAX_BIKES] = {};      // rider ordinal -> slot, or -1
  int first_chunk_tick = -1;     // -1 until the first state chunk is read
  int offset = 0;                // added to every stamp (a practice ghost starts now)
  int next_tick = 1;             // the tick of the next chunk or frame to read
  long next_position = 0;        // file position of the next chunk or frame
  uint32_t previous_length = 0;  // payload length of the chunk before next_position
  long data_start = 0;
  bool practice = false;
  bool ended = false;            // end of the data (or a cut) reached
  bool skipping = false;         // a skip forward is running (engine sound is muted)
  bool frames_started = false;   // versions 4 and 5: the first frame was stamped
  int frame_base = 0;            // tick of frame 0
  bool unmapped_reported = false;
};

extern DemoPlayer g_demo_player;

// Reads the header. A file that cannot be opened fails silently; a bad header
// or one naming more riders than there are slots fails with a message. On
// success every rider is unmapped (-1) until set_demo_rider_slot.
bool open_demo(DemoPlayer* player, const char* path, bool practice);
// The same over an open stream (taken over, closed on failure); name is used
// in messages and to reopen the file for seeking (may be empty).
bool open_demo_stream(DemoPlayer* player, DataStream* stream, const char* name, bool practice);
void close_demo(DemoPlayer* player);
inline bool demo_playing(const DemoPlayer& player) { return player.file != nullptr; }

// The race set-up maps each header rider to the slot of its history-driven
// bike. model (may be null) converts the rider's version-4 records.
void set_demo_rider_slot(DemoPlayer* player, int rider, int slot, const RecordModel* model);

// Each simulation step after the record tick: feeds the histories up to
// about 64 ticks ahead of the current tick. The first state chunk of a
// playback moves the current tick to the chunk's tick; in practice it sets
// the offset instead, so the ghost starts now.
void read_demo_ahead(DemoPlayer* player, StateHistory histories[MAX_BIKES], int* current_tick);

// The version replay interpolates for: the playing demo's, or 5.
inline int replay_version(const DemoPlayer& player) {
  return demo_playing(player) ? player.version : DEMO_PLAIN_VERSION;
}

// --- seeking ---------------------------------------------------------------------

// Positions the reader for tick c: a version-6 reader walks back through the
// chunk links to a chunk stamped at or before max(0, c - 64), or to the first
// chunk; versions 4 and 5 go straight to frame c. The next tick becomes c.
// False when the file cannot be positioned (playback then ends).
bool reposition_demo(DemoPlayer* player, int tick);

// What a seek needs of the race.
struct ReplayRace {
  void* context;
  int (*tick)(void* context);
  void (*set_tick)(void* context, int tick);
  void (*step)(void* context);                // one whole simulation step; the reader runs in it
  bool (*set_roost)(void* context, bool on);  // returns the previous setting
  void (*rewind_timing)(void* context, int tick);  // drop lap and gate entries after the tick, recompute standings
  bool playback_only;  // a demo plays, nothing is recorded, every occupied slot is history-driven
};

// Rewind (seconds < 0) or skip (seconds > 0) during playback. A version-6
// skip forward, or any skip with accurate set, runs the steps with roost
// off; otherwise the reader is repositioned to max(0, tick + seconds*128 - 1),
// the timing is rewound, the histories cleared, the reader reads ahead and
// one step runs. False when no seek is possible now.
bool seek_replay(DemoPlayer* player, StateHistory histories[MAX_BIKES], double seconds, bool accurate,
                 const ReplayRace& race);
