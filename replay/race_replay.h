// The race's replay seams: each race step samples the simulated bikes into
// their state histories, writes the recording demo, feeds the playing demo
// ahead of the clock and poses the history-driven bikes; the race start opens
// the recording and a playback's riders; time-trial and practice laps keep
// the track's "lastlap.dvdemo" and "fastlap.dvdemo" and race the fast lap's
// ghost; rewind and skip of a playback-only race.
//
// A reset closes every demo first, so a playback is named beforehand
// (load_race_demo) and opened again when the reset asks for the demo's track.
#pragma once

#include <string>

#include "race/race.h"
#include "replay/bike_replay.h"
#include "replay/demo.h"
#include "replay/history.h"
#include "replay/state_record.h"

struct RaceReplay {
  // What the replay works on: the game's own by default (the network client
  // feeds the same histories and writes its text lines into the same recorder).
  StateHistory* histories = g_histories;
  DemoRecorder* recorder = &g_demo_recorder;
  DemoPlayer* player = &g_demo_player;
  RecordScale* scale = &g_record_scale;
  const IntegrityValue* const* integrity = &g_record_integrity;
  // The "demo_backups" setting, read at each race start (null: none kept).
  const int* demo_backups = nullptr;

  Race* race = nullptr;        // the race the seams were installed in
  std::string playback_path;   // the demo the next playback opens
  bool lap_demos = false;      // time trial or practice: lap demos and the ghost
  bool ghost_loaded = false;   // the fast lap plays as the ghost of this lap
  int ghost_count = 0;
  int ghost_slots[MAX_BIKES] = {};

  // Called in every race step once the history-driven bikes are posed, before
  // the bikes are stepped (the runner's playback check).
  void (*posed)(void* context, const Race& race) = nullptr;
  void* posed_context = nullptr;
};

// Fills the race's replay seams with this replay's.
void install_race_replay(Race* race, RaceReplay* replay);

// Names the demo the next playback reset opens: reads its header (with the
// reader's message when that fails) and gives its track. The reset itself
// opens it again.
bool load_race_demo(RaceReplay* replay, const char* path, std::string* track);

// The end of the race without a reset (the program ends): the recording is
// completed and closed, the playback closed.
void finish_race_replay(RaceReplay* replay);

// A demo plays, nothing is recorded and every occupied slot is history-driven.
bool playback_only(const RaceReplay& replay, const Race& race);

// Rewind (seconds < 0) or skip (seconds > 0) of a playback-only race; false
// when no seek is possible now.
bool seek_race_replay(RaceReplay* replay, Race* race, double seconds, bool accurate);

// False for a history-driven bike with no state within a second of the tick.
bool race_rider_visible(const RaceReplay& replay, const Race& race, int slot);

// The race rider a demo's header block describes.
RaceRider race_rider_from_demo(const DemoRider& rider);
