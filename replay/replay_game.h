// The game's replay: the replay seams of the game's race, the demo file
// argument and the demo list's playback, rewind and skip, and the bike views
// of riders whose demo has no state near the tick (not drawn).
#pragma once

#include "replay/race_replay.h"

extern RaceReplay g_race_replay;

// Installs into g_race (after install_race_hooks) and g_game_hooks.replay.
void install_replay_hooks();
