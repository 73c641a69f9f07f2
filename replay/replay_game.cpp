#include "replay/replay_game.h"

#include "core/command_line.h"
#include "core/config.h"
#include "core/game_hooks.h"
#include "race/race_game.h"

RaceReplay g_race_replay;

namespace {

bool (*g_race_bike_view)(int slot, BikeView* out) = nullptr;

bool load_demo(const char* file, std::string* track) { return load_race_demo(&g_race_replay, file, track); }

void rewind() { seek_race_replay(&g_race_replay, &g_race, -1.0, g_run_options.accurate_skip); }
void skip() { seek_race_replay(&g_race_replay, &g_race, +1.0, g_run_options.accurate_skip); }

// The race's view of a bike, hidden while its demo has no state near the
// tick, muted while a skip runs, and marked when it is the lap's ghost.
bool bike_view(int slot, BikeView* out) {
  if (!g_race_bike_view || !g_race_bike_view(slot, out)) return false;
  if (!race_rider_visible(g_race_replay, g_race, slot)) return false;
  out->skipping = g_race.mode[slot] == RACE_SLOT_HISTORY && g_race_replay.player->skipping;
  for (int i = 0; i < g_race_replay.ghost_count; i++) out->ghost = out->ghost || g_race_replay.ghost_slots[i] == slot;
  return true;
}

}  // namespace

void install_replay_hooks() {
  g_race_replay.demo_backups = &g_config.demo_backups;
  install_race_replay(&g_race, &g_race_replay);
  ReplayHooks& replay = g_game_hooks.replay;
  replay.load_demo = load_demo;
  replay.rewind = rewind;
  replay.skip = skip;
  if (g_game_hooks.race.bike != bike_view) {
    g_race_bike_view = g_game_hooks.race.bike;
    g_game_hooks.race.bike = bike_view;
  }
}
