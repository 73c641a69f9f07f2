// What the race's own files and its tests share beyond race/race.h: the
// starting gate as a box the bikes collide with, and the ground test of the
// time-trial restart. Includes the bike headers, so the game's hook code
// stays away from it.
#pragma once

#include "bike/bike_math.h"

struct Bike;
struct LoadedTrack;
struct Terrain;

// A starting gate: a panel hinged on the ground GATE_LINE_AHEAD in front of
// its gate line (where its track object stands), upright while closed,
// falling away from the riders and lying flat in front when down.
constexpr double GATE_LINE_AHEAD = 3.0;
constexpr double GATE_WIDTH = 3.0;
constexpr double GATE_HEIGHT = 1.75;
constexpr double GATE_THICKNESS = 0.15;

struct GateBox {
  DVec centre;
  DVec axis[3];    // across the gate, along the panel (hinge to top), out of the riders' side
  double half[3];  // half extents along the axes
};
GateBox starting_gate_box(const LoadedTrack& track, int gate, float fall_angle);

// True when a tyre or a part of the bike reaches into the ground.
bool bike_touches_ground(const Bike& bike, const Terrain& terrain);
