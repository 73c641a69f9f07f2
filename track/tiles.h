// Surface types ("tiles"): texture, friction and rolling-resistance curves,
// roost kinds and erosion parameters of each tile, and the lookups of a
// surface property by speed. The tile map lives in the Terrain record.
#pragma once

#include <cstdint>

struct Texture;
struct Image;

constexpr int MAX_TILES = 256;
constexpr int TILE_CURVE_POINTS = 8;
constexpr int TILE_ROOST_KINDS = 4;

struct FrictionPoint {
  float value;
  float key;  // slip speed; 0 ends the list
};

struct RollResistPoint {
  float light;  // resistance at light load
  float heavy;  // resistance at full load
  float key;    // tangential speed; 0 ends the list
};

enum RoostMode { ROOST_DISABLED = 0, ROOST_DIRT = 1, ROOST_SPLASH = 2 };

struct RoostKind {
  int mode;
  Texture* texture;
  float count, dig, slip_threshold;
  float slow_angle, fast_angle, slow_speed, fast_speed;
  float size, grow, drag, vscale, randomize;
  uint8_t color[4];
  int8_t fade[4];  // per-tick change
};

struct Erosion {
  float depth, lower, upper, displacement, radius, max_slope, off_speed, on_speed;
};

struct Tile {
  Texture* texture;  // hardware ground methods
  Image* image;      // software ground method
  char name[64];     // texture name without "@" and directory
  int32_t blend_code;
  FrictionPoint friction[TILE_CURVE_POINTS];
  RollResistPoint roll_resist[TILE_CURVE_POINTS];
  Erosion erosion;
  RoostKind roost[TILE_ROOST_KINDS];
};

// A tile with every default of the tileinfo grammar.
void init_tile(Tile* tile);
void init_roost_kind(RoostKind* roost);

// Friction at slip speed v: walk of at most eight points, interpolated in v^2.
float friction_at(const Tile& tile, float slip_speed);
// Rolling resistance at tangential speed v and load ratio (0..1),
// interpolated linearly in v.
float rolling_resistance_at(const Tile& tile, float speed, float load_ratio);
