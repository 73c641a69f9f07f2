// The engine sound as the game's bikes drive it: reads a bike's drivetrain
// into the synthesiser's input and fills the sound section of the hook table,
// which opens each bike's channel on its first frame and follows the camera
// with the listener.
#pragma once

#include "core/game_hooks.h"

struct Bike;
struct EngineSoundInput;

// The synthesiser's view of one bike's engine this tick: rpm from the crank,
// throttle from the rider, load as the share of the full-throttle torque the
// engine is giving at that rpm, and the limiter when the torque curve has
// run out under open throttle.
EngineSoundInput engine_sound_input(const Bike& bike);

// Where the sound step finds the bike in a slot (null for none).
typedef const Bike* (*BikeInSlotFn)(int slot);

void install_sound_hooks(GameHooks* hooks, BikeInSlotFn bike_in_slot);
