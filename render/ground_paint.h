// The ground's painted textures, on the CPU side: which texture covers which
// tiles (the coarse layer of 64 x 64-tile textures and six camera-centred
// detail levels of 4 x 4 textures each), their scrolling and dirty marks,
// the choice of texture for a drawn node, the decals' spatial index, the
// texels of the low-detail textures, and the software painter that composes
// a ground texture from tile images, decals and the baked shading.
#pragma once

#include <climits>
#include <cstdint>
#include <vector>

struct Terrain;
struct Texture;
struct Image;
struct TrackObjects;
struct Decal;

constexpr int DETAIL_LEVELS = 6;
constexpr int DETAIL_WINDOW = 4;  // textures per side of a detail level's window
constexpr int COARSE_TILES = 64;  // tiles per side of a coarse texture
constexpr int LOW_DETAIL_STEP = 384;
constexpr int LOW_DETAIL_MAX = 512;
// Tile textures are drawn with their coordinates inset by this much, so that
// filtering never reaches across the texture's edge.
constexpr float TILE_MARGIN = 1.0f / 256.0f;

struct PaintedTexture {
  Texture* texture = nullptr;   // the ground colour
  Texture* normal = nullptr;    // shader path: x, light factor, z
  Texture* specular = nullptr;  // shader path
  int tile_x = INT_MIN, tile_z = INT_MIN;  // first tile covered
  int tiles = 0;                           // tiles per side
  bool valid = false;  // painted for the region it now covers
  bool dirty = true;
  uint64_t dirty_since = 0;  // order in which textures became dirty
};

struct GroundLayout {
  int n = 0;            // the terrain's size exponent
  int tiles_per_side = 0;
  int first_level = 1;  // detail levels below are not painted
  int coarse_side = 1;  // coarse textures per side
  std::vector<PaintedTexture> coarse;
  PaintedTexture detail[DETAIL_LEVELS][DETAIL_WINDOW * DETAIL_WINDOW];
  int window_x[DETAIL_LEVELS], window_z[DETAIL_LEVELS];  // first texture index of each window
  bool window_placed[DETAIL_LEVELS];
  uint64_t clock = 0;  // advanced by every dirty mark
};

// Coarse textures per side: 2^(n-6), at least one.
int coarse_texture_side(int n);
// The coarse regions and the empty detail windows (no textures made).
void init_ground_layout(GroundLayout* layout, int n, int first_level);

// Moves every painted level's window to the camera's tile (by whole
// textures); slots that come to cover new tiles become dirty and invalid.
// Returns the number of slots newly exposed.
int scroll_detail_windows(GroundLayout* layout, float camera_tile_x, float camera_tile_z);

// The finest valid texture that holds the whole node (level, i, j) of a
// field of exponent n: a detail texture inside its window, else the coarse
// texture of the node's 64-tile block.
const PaintedTexture* texture_for_node(const GroundLayout& layout, int level, int i, int j);

// Marks the textures over the cells [c0, c1] x [r0, r1] dirty (in 128-cell
// blocks for the coarse layer).
void mark_ground_textures_dirty(GroundLayout* layout, int c0, int r0, int c1, int r1);
// The coarse texture that has been dirty longest, or nullptr.
PaintedTexture* oldest_dirty_coarse(GroundLayout* layout);

// --- decals ---------------------------------------------------------------------

// Decals by coarse block: each list holds the decals whose rectangle reaches
// into the block.
struct DecalIndex {
  int side = 0;
  std::vector<std::vector<int>> blocks;
};
// The four corners (x, z) of a decal's rectangle: w wide across its angle,
// a x w long along it; texture u runs across, v along.
void decal_corners(const Decal& decal, float corners[4][2]);
void build_decal_index(DecalIndex* index, const std::vector<Decal>& decals, const Terrain& terrain);
// Decals that may touch the tile square [tx0, tx0 + tiles) x [tz0, tz0 + tiles).
void decals_in_region(const DecalIndex& index, const std::vector<Decal>& decals, const Terrain& terrain, int tx0,
                      int tz0, int tiles, std::vector<int>* out);
// How many pieces per side a decal of this width is cut into when the
// driver's big-quad bug needs working round: the smallest power of two (at
// least 2) with width / m <= 256; 1 without the workaround.
int decal_pieces(float width, bool workaround);

// --- low-detail textures ---------------------------------------------------------------

// k = ((2^(n+1) / 128) + 2) / 3 per side (at least one, for fields smaller
// than the formula foresees).
int low_detail_count(int n);
// Texels of texture i along one axis: the smallest power of two at least
// 2^(n+1) - 384 i + 128, at most 512. Texel t shows vertex 384 i - 64 + t.
int low_detail_size(int n, int i);
inline int low_detail_origin(int i) { return LOW_DETAIL_STEP * i - 64; }
// The texture along one axis that holds vertices [v0, v1] (or the nearest).
int low_detail_for(int n, int v0, int v1);
// Texture (i, j): RGB, from the shading (or, with normals, the normal map
// bytes) of the vertices with their indices clamped to the grid.
void fill_low_detail(const Terrain& terrain, int i, int j, bool normals, Image* image);

// --- the software painter ---------------------------------------------------------------

// Composes the texture for `tiles` x `tiles` tiles from (tx0, tz0) into an S
// x S RGB image (base level only): tile images, the decals over it, then 2 x
// colour x shading. Tiles or decals without an image are skipped.
void paint_ground_software(const Terrain& terrain, const std::vector<Decal>& decals, const DecalIndex& index,
                           int tx0, int tz0, int tiles, int size, Image* out);
