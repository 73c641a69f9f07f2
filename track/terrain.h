// The terrain: one square height field with its baked shading, shadows,
// optional normal map, tile map and tile table, and the height, normal and
// surface queries that physics, robots and rendering share.
#pragma once

#include <cstdint>
#include <vector>

#include "core/types.h"
#include "track/tiles.h"

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
  int modification_count;  // bumped by every deformation
  bool locked_for_editor;  // brush strokes change nothing while set
  uint8_t heights_digest[20];
};

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

// Ground height at (x, z) on the checkerboard triangulation; flat beyond the edges.
float height_at(const Terrain& terrain, float x, float z);
// The triangle of the checkerboard triangulation that holds (x, z): three
// world-space corners, counter-clockwise seen from above.
void triangle_at(const Terrain& terrain, float x, float z, Vec3 corners[3]);
// Both triangles of cell (c, r), corners in world space (heights clamped).
void cell_triangles(const Terrain& terrain, int c, int r, Vec3 first[3], Vec3 second[3]);
// Unit normal at a grid vertex from its eight neighbours.
Vec3 vertex_normal(const Terrain& terrain, int column, int row);

// Tile index under (x, z), clamped to the tile map.
int tile_at(const Terrain& terrain, float x, float z);
inline const Tile& tile_record_at(const Terrain& terrain, float x, float z) {
  return terrain.tiles[tile_at(terrain, x, z)];
}
