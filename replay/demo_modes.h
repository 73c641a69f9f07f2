// The demo files of the race modes: which file a playback opens, the
// "Race Against" guard against recording over the demo being raced, and the
// practice and time-trial laps that keep the fastest lap as a ghost
// ("lastlap.dvdemo" and "fastlap.dvdemo" in the track's home folder).
#pragma once

#include <string>

#include "core/types.h"
#include "replay/demo.h"

struct Bike;
struct BikeTiming;

extern const char* const LAST_LAP_DEMO;  // "lastlap.dvdemo"
extern const char* const FAST_LAP_DEMO;  // "fastlap.dvdemo"

// "@" + track directory + "/" + file.
std::string track_demo_path(const char* track, const char* file);

// The file a playback opens: the one named on the command line or picked from
// the demo list; with none, in practice the track's fast lap, otherwise the
// default demo.
std::string playback_demo_path(const char* picked, bool practice, const char* track);

// True when both names lead to the same file ("@" names are looked up in the
// search directories, home first).
bool same_demo_file(const char* a, const char* b);

// "Race Against" with recording on: racing "@demos/default.dvdemo" while
// recording it would overwrite the demo being read. Then shows "Can't record
// and play from same file - recording disabled" and returns false: the race
// runs without recording.
bool recording_allowed_while_playing(const char* playing, bool record);

// Copies a demo file; the target is replaced in one step, so a failed copy
// keeps the old one.
bool copy_demo_file(const char* from, const char* to);

// The end of a practice or time-trial lap: closes the ghost's playback,
// stops the lap's recording and, when the track has no fast lap yet or this
// lap is the better one, copies "lastlap.dvdemo" over "fastlap.dvdemo".
// Returns whether the fast lap was replaced. The race then removes the ghost
// bikes, and begin_practice_lap starts the next lap.
bool end_practice_lap(DemoRecorder* recorder, DemoPlayer* player, StateHistory histories[MAX_BIKES],
                      Bike* const bikes[MAX_BIKES], const int mode[MAX_BIKES], int tick, const char* track,
                      bool lap_improves);

// Opens the fast lap as the ghost (true when there is one; the race then
// creates its riders as history-driven bikes from slot 1 up and maps them
// with set_demo_rider_slot) and starts recording the new "lastlap.dvdemo".
bool begin_practice_lap(DemoRecorder* recorder, DemoPlayer* player, const DemoRecordingSetup& recording);

// A rewind to a tick removes the bike's gate passes stamped after it (the
// race recomputes the standings afterwards).
void rewind_timing(BikeTiming* timing, int tick);
