// Terrain deformation: the brush that raises or lowers the field around a
// point, the per-bike erosion queue of wheel contacts that dig ruts, the
// application of queued contacts once the bike has moved on, and the record
// of which parts of the field changed and when, that the renderer reads to
// refresh only what it must.
//
// A wheel that pushes on the ground hard enough takes soil from under
// itself and piles it up behind, against the push. The physics and the
// robots read the heights straight from the field, so they ride the new
// ground at once. Shading and the normal map of the vertices a stroke
// changed wait in the terrain's due list until the game's per-frame
// refresh_deformed_shading, so a vertex dug many times between two frames
// is re-baked once; the renderer's own derived data (level-of-detail
// errors, painted ground textures) follows the change record, which each
// stroke writes at once.
#pragma once

#include <cstddef>
#include <cstdint>

struct Terrain;
struct Tile;

// --- the brush --------------------------------------------------------------

// A rectangle of grid vertices, inclusive on both ends.
struct TerrainRegion {
  int c0, r0, c1, r1;
};

// Largest brush radius in cells. A tile may ask for any radius; beyond this
// a single stroke would touch tens of thousands of vertices, every tick.
constexpr float MAX_BRUSH_CELLS = 64.0f;

// Brush weight at distance d from the centre for a brush of radius R (both
// in cells): 1 at the centre, 0 at and beyond the rim, smooth at both.
inline float brush_weight(float d, float R) {
  if (!(d <= R) || !(R > 0)) return 0.0f;
  float q = d / R;
  return 2.0f * q * q * q - 3.0f * q * q + 1.0f;
}

// Adds amount x weight to every grid vertex within `radius` (world units)
// of (x, z); vertices outside the grid are skipped. Widens the height
// range, records the change, bumps the modification count and re-bakes
// shading and the normal map of everything due (this stroke's region and
// any strokes still waiting). Nothing happens for an amount of 0, a
// non-positive radius, non-finite input, or while the terrain is locked for
// the editor. True when the field changed.
bool deform(Terrain* terrain, float x, float z, float radius, float amount);

// The same, leaving the re-bake to the next refresh_deformed_shading (the
// vertices go on the due list): the vertices it changed are merged into
// *touched (left alone when nothing changed; start from an empty region).
bool deform_heights(Terrain* terrain, float x, float z, float radius, float amount, TerrainRegion* touched);

// Re-bakes the shading and normal map of every vertex on the due list and
// empties it; returns how many vertices it re-baked. The game calls it once
// per frame after the race steps, before the next frame is drawn; tools
// call it when they are done riding.
size_t refresh_deformed_shading(Terrain* terrain);
// The game re-bakes dug ground at most this often: every other frame at
// 60 frames a second, so ruts show within two frames of being dug, and a
// bike's strokes of several ticks (which overlap almost entirely) are
// re-baked together.
constexpr double SHADING_REFRESH_SECONDS = 4.0 / 128.0;
// The frame's call: refresh_deformed_shading once at least
// SHADING_REFRESH_SECONDS of game time have passed since the last one (at
// once when the clock went back: a new race, a rewind). Returns the
// vertices re-baked.
size_t refresh_deformed_shading_on_pace(Terrain* terrain, double game_seconds);

// Re-bakes shading and the normal map over the region and its ring of
// neighbours (their normals see the changed heights) and records the
// change with the current modification count, at once.
void refresh_deformed_region(Terrain* terrain, TerrainRegion region);

constexpr TerrainRegion EMPTY_REGION = {0, 0, -1, -1};
inline bool region_empty(const TerrainRegion& r) { return r.c1 < r.c0 || r.r1 < r.r0; }

// --- erosion ----------------------------------------------------------------

constexpr int EROSION_QUEUE_SIZE = 1024;
constexpr int EROSION_RECORDS_PER_STEP = 4;
// A record is applied only once the chassis is this far away from it, so
// the ground under a bike changes only after it has moved on.
constexpr float EROSION_CLEAR_DISTANCE = 10.0f;
// Depth of one stroke at erosion scale 1 and a tile depth of 1.
constexpr float EROSION_STROKE = 0.00048828125f;  // 2^-11
// Pushes shorter than this (squared) are never queued.
constexpr float EROSION_MIN_PUSH_SQUARED = 0.0009765625f;  // 2^-10

// Soil moves only in the loose layer on top of the hard ground: a rut
// goes at most this deep below the ground as it was before any digging,
// and a pile stands at most this high above it, for a tile of depth 1 (the
// band scales with the tile's depth, up to EROSION_MAX_BAND). A stroke that
// would take a vertex past the band is made shallower, dig and pile alike,
// so soil is still moved rather than made. Without the band every lap digs
// deeper where the push rises and piles higher where it falls, the ground
// turns into steps no bike can ride, and a field of riders stalls.
constexpr float EROSION_LOOSE_LAYER = 0.25f;  // ft
constexpr float EROSION_MAX_BAND = 2.0f;     // ft
// The band of a tile of erosion depth `depth`.
inline float erosion_band(float depth) {
  if (depth < 0) depth = -depth;  // a negative depth piles where it would dig
  float band = EROSION_LOOSE_LAYER * depth;
  if (!(band > 0)) return 0.0f;
  return band < EROSION_MAX_BAND ? band : EROSION_MAX_BAND;
}

// The ground height at (x, z) as it was before any rut was dug (the same
// triangulation as height_at; height_at itself while nothing is dug). A
// robot plans its speeds on the track's shape, not on the ruts in it.
float undug_height_at(const Terrain& terrain, float x, float z);

// One wheel contact: where it was, and the horizontal push of the ground on
// the wheel, already scaled by how fast the wheel moved.
struct ErosionRecord {
  float x, z;
  float push_x, push_z;
};

// A ring of records: empty when read == write, full when advancing write
// would make it equal to read (so it holds EROSION_QUEUE_SIZE - 1). A
// zeroed queue is empty.
struct ErosionQueue {
  ErosionRecord record[EROSION_QUEUE_SIZE];
  int write, read;
};

inline int erosion_queue_length(const ErosionQueue& q) {
  return (q.write - q.read + EROSION_QUEUE_SIZE) % EROSION_QUEUE_SIZE;
}
void clear_erosion_queue(ErosionQueue* queue);

// Queues one wheel contact at (x, z) of a wheel moving at `speed` whose
// ground contact pushed it with the horizontal force (force_x, force_z) in
// the last step. The tile under the contact fades the push in between its
// off and on speeds; the record is queued only when the faded push is
// longer than the tile's lower threshold (and than 2^-5). Nothing is queued
// when the wheel is not touching (depth <= 0) or the queue is full. True
// when a record was queued.
bool queue_erosion_record(ErosionQueue* queue, const Terrain& terrain, float x, float z, float depth, float speed,
                          float force_x, float force_z);

// Applies the oldest queued records, at most EROSION_RECORDS_PER_STEP,
// stopping at the first one still within EROSION_CLEAR_DISTANCE of the
// chassis at (chassis_x, chassis_z). Each digs at the record and piles the
// soil behind it unless the pile would climb too steep a slope, within the
// loose layer of the tile under the contact. `scale` is the erosion
// setting (0..100). Shading and the normal map follow with the next
// refresh_deformed_shading. Returns the number of records taken off the
// queue.
int apply_erosion_records(ErosionQueue* queue, Terrain* terrain, float chassis_x, float chassis_z, float scale);

// --- what changed -------------------------------------------------------------

// The renderer paints ground textures over 128-cell blocks; finer patches
// let a small texture tell whether it is affected.
constexpr int CHANGE_BLOCK_CELLS = 128;
constexpr int CHANGE_PATCH_CELLS = 8;

// Sizes the change record for the terrain's grid, every stamp 0. The
// loaders call it; deformation calls it too if the grid changed since.
void reset_terrain_changes(Terrain* terrain);

// Marks every patch and block that holds a vertex of the region (clamped to
// the grid) as changed at the current modification count. A vertex on a
// boundary belongs to the patches and blocks on both sides.
void mark_terrain_changed(Terrain* terrain, TerrainRegion region);

// The vertices of block (bc, br): [bc x 128, bc x 128 + 128] on each axis,
// clamped to the grid, so neighbouring blocks share their boundary row.
TerrainRegion change_block_region(const Terrain& terrain, int bc, int br);

// The blocks changed after modification count `since`, in row order (index
// br x change_blocks_per_side + bc). Writes up to `capacity` indices and
// returns how many there are in all. A reader keeps the modification count
// it last looked at and passes it as `since` next time.
int changed_blocks_since(const Terrain& terrain, int64_t since, int* blocks, int capacity);

// True when any vertex of the region changed after `since`, at patch
// granularity (a patch that changed anywhere counts as changed throughout).
bool region_changed_since(const Terrain& terrain, int64_t since, TerrainRegion region);
