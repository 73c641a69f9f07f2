// The terrain: one square height field with its baked shading, shadows,
// optional normal map, tile map and tile table, and the height, normal and
// surface queries that physics, robots and rendering share.
#pragma once

#include <cmath>

#include <cstdint>
#include <vector>

#include "core/types.h"
#include "track/tiles.h"

// The light the shading is baked with: the sun and ambient of the track's
// "lighting", kept with the terrain so that a deformed region can be
// re-shaded without the lighting record at hand.
struct ShadingLight {
  Vec3 sun_vector;  // unit, towards the sun
  Vec3 sun_colour;
  Vec3 ambient;
};

struct Terrain {
  int n;            // size exponent from the header
  int N;            // vertices per side: 2^(n+1) + 1
  float spacing;    // distance between neighbouring vertices
  float width;      // spacing * 2^(n+1)
  std::vector<float> heights;  // N*N, index c + N*r (x fastest)
  float low, high;  // height range, widened by deformation
  std::vector<uint8_t> shading;     // N*N*3, lit colour = 2*value/255
  std::vector<uint8_t> shadows;     // N*N, 0 lit .. 255 shadowed
  std::vector<uint8_t> normal_map;  // N*N*3 on the shader path, else empty
  int tiles_per_side;               // 2^n
  std::vector<uint8_t> tile_map;    // tiles_per_side^2, row-major (z rows)
  int tile_count;
  Tile tiles[MAX_TILES];
  // Bumped by every deformation. 64 bits: 160 bikes digging at full rate
  // would run a 32-bit count over in a few hours.
  int64_t modification_count;
  bool locked_for_editor;  // brush strokes change nothing while set
  ShadingLight light;      // what deformed regions are re-shaded with
  // Where deformation changed the field and when (track/deform.h): per
  // patch of CHANGE_PATCH_CELLS cells and per block of CHANGE_BLOCK_CELLS
  // cells, the modification count after its latest change (0: never).
  int change_patches_per_side, change_blocks_per_side;
  std::vector<int64_t> patch_stamp, block_stamp;
  // The heights before the first rut was dug (taken then; cleared with the
  // change record): ruts and piles stay within a band around them.
  std::vector<float> undug_heights;
  // Vertices whose shading and normal map wait for the next
  // refresh_deformed_shading (track/deform.h): the list in the order they
  // were changed, and one bit per vertex (rows of whole 64-bit words) so
  // each is listed once.
  std::vector<uint32_t> shading_due;
  std::vector<uint64_t> shading_due_mask;
  double shading_refreshed_at;  // game seconds of the last paced refresh
  uint8_t heights_digest[20];
};

struct TrackLighting;
struct DataStream;

// How the ground is painted (the "Terrain Rendering Method" setting): 1 on
// the CPU from in-memory tile images, 2 and 3 on the GPU from textures.
enum GroundMethod { GROUND_SOFTWARE = 1, GROUND_COPY = 2, GROUND_DIRECT = 3 };

struct TerrainLoadOptions {
  int ground_method;  // GroundMethod
  bool shader_path;   // builds the normal map and looks for "_tnorm"/"_tspec" decal maps
  int debug_level;    // 2 logs the heights digest
};

// Loads "terrain.hf", its heights, shading, shadows, the tile table and the
// tile map of track `track` (its directory in the data files: "@<track>/..."),
// builds the normal map on the shader path and hands the field to the
// renderer. The track loader reads "decals" straight after. On failure the
// player is told why and the record is left empty.
bool load_terrain(Terrain* terrain, const char* track, const TerrainLoadOptions& options);

// Largest size exponent a "terrain.hf" may give (12: 8193 x 8193 vertices);
// beyond it every array would need gigabytes. Fuzz targets lower it.
extern int g_terrain_max_exponent;

// The parts of the load, for tools and tests. Each fails with its message.
// At debug level 2 the heights digest is logged.
bool read_height_field(Terrain* terrain, const char* track, int debug_level = 0);
// The same from an open "terrain.hf" stream; `name` names it in messages.
// PNG heights are still looked for as "@<track>/terrain.png".
bool read_height_field_stream(Terrain* terrain, DataStream* stream, const char* name, const char* track,
                              int debug_level);
bool read_shading(Terrain* terrain, const char* track);
bool read_shadows(Terrain* terrain, const char* track);

// Writes "terrain.hf" (header only) and the heights as a 16-bit grey
// "terrain.png" under "@<track>/", scaled to the current height range.
bool write_terrain(const Terrain& terrain, const char* track);

// Bakes the shading of vertices [c0, c1] x [r0, r1] (clamped to the grid)
// from the lighting, and the normal map there when the terrain has one.
void recompute_shading(Terrain* terrain, const TrackLighting& lighting, int c0, int r0, int c1, int r1);
void recompute_shading(Terrain* terrain, const ShadingLight& light, int c0, int r0, int c1, int r1);
// The sun and ambient of a lighting record (sun vector as read: unit length).
ShadingLight shading_light(const TrackLighting& lighting);
// The light of a track without a "lighting" file.
ShadingLight default_shading_light();
// Allocates and fills the normal map (shader path).
void build_normal_map(Terrain* terrain);
void update_normal_map(Terrain* terrain, int c0, int r0, int c1, int r1);
// The same for a list of vertices (index c + N*r, each below N*N), with the
// same numbers as the rectangles give.
void rebake_vertices(Terrain* terrain, const ShadingLight& light, const uint32_t* vertices, size_t count);
void rebake_normal_map_vertices(Terrain* terrain, const uint32_t* vertices, size_t count);

// Allocates a flat field of the given exponent and spacing at height 0,
// with no shading, no shadows and a single default tile (tests, tools).
void init_flat_terrain(Terrain* terrain, int n, float spacing, float height);
void free_terrain(Terrain* terrain);

// Raw vertex height with both indices clamped to the grid.
inline float grid_height(const Terrain& t, int c, int r) {
  c = c < 0 ? 0 : (c >= t.N ? t.N - 1 : c);
  r = r < 0 ? 0 : (r >= t.N ? t.N - 1 : r);
  return t.heights[(size_t)c + (size_t)t.N * (size_t)r];
}

// Cells under [lo, hi] along one axis for triangle tests. Cells past the
// field's edges are kept: cell_triangles gives them the edge heights, so the
// ground goes on flat there as height_at says (bounded two fields out).
inline void cell_span_beyond_edges(const Terrain& t, double lo, double hi, int* first, int* last) {
  const double bound = 2.0 * t.N;
  const double a = lo / t.spacing, b = hi / t.spacing;
  *first = (int)std::floor(a < -bound ? -bound : (a > bound ? bound : a));
  *last = (int)std::floor(b < -bound ? -bound : (b > bound ? bound : b));
}

// Ground height at (x, z) on the checkerboard triangulation; flat beyond the edges.
float height_at(const Terrain& terrain, float x, float z);
// The triangle of the checkerboard triangulation that holds (x, z): three
// world-space corners, counter-clockwise seen from above.
void triangle_at(const Terrain& terrain, float x, float z, Vec3 corners[3]);
// Both triangles of cell (c, r), corners in world space (heights clamped).
void cell_triangles(const Terrain& terrain, int c, int r, Vec3 first[3], Vec3 second[3]);
// Unit normal at a grid vertex from its eight neighbours.
Vec3 vertex_normal(const Terrain& terrain, int column, int row);
// The same for four vertices at once (index c + N*r, each with all eight
// neighbours inside the grid), with the same bits as four calls.
void vertex_normals4(const Terrain& terrain, const uint32_t vertices[4], Vec3 out[4]);

// Tile index under (x, z), clamped to the tile map.
int tile_at(const Terrain& terrain, float x, float z);
inline const Tile& tile_record_at(const Terrain& terrain, float x, float z) {
  return terrain.tiles[tile_at(terrain, x, z)];
}
