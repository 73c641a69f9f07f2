// Surface types ("tiles"): texture, friction and rolling-resistance curves,
// roost kinds and erosion parameters of each tile, and the lookups of a
// surface property by speed. The tile map lives in the Terrain record.
#pragma once

#include <cstdint>

struct Texture;
struct Image;
struct Terrain;
struct DataStream;

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

// --- the tile files --------------------------------------------------------

// How tile textures are loaded: as textures, or as in-memory images for the
// software ground method. Without load_textures nothing is loaded (fuzzing,
// tools that only need the surface physics).
struct TileLoadOptions {
  bool software_images;
  bool load_textures;
};

// Reads the "tileinfo" grammar into the terrain's tile table and computes
// the blend codes. Problems are warnings; the reader always succeeds.
void read_tileinfo(Terrain* terrain, DataStream* stream, const TileLoadOptions& options);
// Reads the one-line-per-tile "texturelist" and computes the blend codes.
void read_texturelist(Terrain* terrain, DataStream* stream, const TileLoadOptions& options);
// Reads "tileinfo", or "texturelist" when it is missing, from "@<track>/";
// false (with "Can't open") when neither exists.
bool read_track_tiles(Terrain* terrain, const char* track, const TileLoadOptions& options);

// The words of a "roost" argument into one roost kind (mode set to dirt
// first); unknown or bad words give warnings and leave the field unchanged.
void parse_roost_arguments(RoostKind* roost, const char* argument, const TileLoadOptions& options);

// Blend code of a tile from its name and the names of all tiles.
int32_t tile_blend_code(const Tile* tiles, int tile_count, int index);
void compute_blend_codes(Terrain* terrain);

// Reads the 2^n x 2^n "tilemap" bytes, clamped to the last tile; a missing
// or short file fails with a message.
bool read_tile_map(Terrain* terrain, const char* track);
bool read_tile_map_stream(Terrain* terrain, DataStream* stream);
// Writes "@<track>/tilemap" (tools).
bool write_tile_map(const Terrain& terrain, const char* track);
