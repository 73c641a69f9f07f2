// The race's history and demo seams: each race step samples every live
// bike into its state history and passes the unsaved records to the
// recording demo; a reset or the race's end closes the demo.
#pragma once

#include "race/race.h"
#include "replay/demo.h"
#include "replay/history.h"
#include "replay/state_record.h"

struct RaceReplay {
  StateHistory histories[MAX_BIKES];
  DemoRecorder recorder;
  RecordScale scale{};
  Race* race = nullptr;
};

// Fills the history_step and close_demos entries of the race's replay seams.
void install_race_replay(RaceReplaySeams* seams, RaceReplay* replay);
