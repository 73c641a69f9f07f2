// The game's race: the one Race the game runs, its section of the hook
// table the shell drives it through, and the player's rider as the
// configuration describes it.
#pragma once

#include "race/race.h"

extern Race g_race;

struct Bike;
// The bike in a slot of g_race, null for none (the engine sound's view).
const Bike* race_bike_in_slot(int slot);

// The player's bike, looks and setup from the configuration.
RaceRider configured_player_rider();

// Fills g_game_hooks.race (and the physics entries nobody has filled) with
// g_race on g_track.
void install_race_hooks();
