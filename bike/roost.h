// Roost: the dirt a slipping tyre throws up. The simulation emits particles
// into one ring from the wheel contacts and the tile's roost kinds and moves
// them each tick; the renderer only draws the ring. Roost never acts back on
// the bikes.
#pragma once

#include <cstdint>

#include "core/types.h"

struct Bike;
struct Terrain;
struct Texture;

constexpr int ROOST_RING_SIZE = 8192;

struct RoostParticle {
  Vec3 position;
  Vec3 velocity;
  float size;
  float grow;    // size growth per second
  float drag;    // share of the velocity lost per second
  float vscale;  // vertical scale of the drawn sprite
  uint8_t color[4];
  int8_t fade[4];  // per-tick colour change
  Texture* texture;
  int mode;  // ROOST_DIRT or ROOST_SPLASH; 0 = dead slot
};

struct RoostRing {
  RoostParticle particle[ROOST_RING_SIZE];
  int next;  // slot the next particle takes (the oldest is overwritten)
  int tail;  // oldest slot that may still be live: [tail, next) holds them all
  int live;
};

extern RoostRing g_roost;
// Particles thrown per tick at full slip for a kind of count 1 is
// count x frequency / 1000; the run option "roost frequency" (0..1000).
extern int g_roost_frequency;
// Off while skipping through a replay.
extern bool g_roost_enabled;

void clear_roost(RoostRing* ring);
// Emission from both wheels of a bike for this tick.
void emit_roost(RoostRing* ring, Bike* bike, const Terrain& terrain);
// Moves, grows and fades every live particle by one tick.
void advance_roost(RoostRing* ring, const Terrain& terrain);
