// The ground's level of detail: a quadtree over the height field's cells
// whose node error values say how far away a node may be before it has to be
// split, the resumable computation of those values, the per-frame split
// marking around the camera, and the crack-free triangle fans that draw the
// unsplit nodes. Pure geometry: the GL side draws what collect_ground_fans
// gives it.
//
// Level L has 2^L x 2^L nodes; level 0 is the whole field, the finest level
// n has one node per tile (2 x 2 cells). Node (L, i, j) covers the cells
// [i w, (i + 1) w) x [j w, (j + 1) w) with w = 2^(n + 1 - L). Nodes are
// numbered level by level: level L starts at (4^L - 1) / 3.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct Terrain;

// Squared distance of the nesting margin's unit: a node's value exceeds the
// values around it by its size x spacing x this factor.
constexpr double NEST_FACTOR = 3.1622777 * 0.50048828125;
constexpr long GROUND_ERROR_BUDGET = 8000;  // work units per frame, at least
// A refresh (after a stroke of deformation, say) spreads over about this many
// frames, however large, so the far ground's shape follows within a fifth
// of a second; no frame takes more than the cap (about a millisecond).
constexpr int GROUND_REFRESH_FRAMES = 12;
constexpr long GROUND_ERROR_BUDGET_MAX = 200000;

struct GroundLod {
  int n = 0;            // finest level
  float spacing = 1;
  double detail = 0.02;  // g: allowed height error per unit of distance ("--detail")
  std::vector<float> error;   // per node: a squared distance
  std::vector<uint8_t> split;  // per node, this frame

  // The resumable refresh: a rectangle of cells (inclusive) whose nodes are
  // recomputed level by level from the finest, and where it stands.
  bool refreshing = false;
  int region[4] = {0, 0, 0, 0};  // c0, r0, c1, r1
  int level = 0, row = 0, column = 0;  // node being computed
  long inner = 0;                      // vertices of it compared so far
  float partial = 0;                   // largest difference found in it so far
  bool node_measured = false;          // its height error is known, nesting pending
  // Cells changed while a refresh was under way: refreshed next, so that
  // ground changing every frame (ruts) still sees each refresh through.
  bool pending = false;
  int pending_region[4] = {0, 0, 0, 0};
  long work = 0;  // work units of the refresh under way, in all
};

inline int node_index(int level, int i, int j) { return ((1 << (2 * level)) - 1) / 3 + (j << level) + i; }
inline int node_count(int n) { return ((1 << (2 * (n + 1))) - 1) / 3; }
// Half a node's width in cells: the per-level length of the error formula.
inline int node_half_width(int n, int level) { return 1 << (n - level); }

// Sets up the tree for the terrain (all values zero) and starts a complete
// refresh; run update_ground_errors with no budget to finish it at once.
void init_ground_lod(GroundLod* lod, const Terrain& terrain, double detail);

// The largest vertical difference between the true heights inside the node
// and the two triangles it would draw in their place (diagonal by the
// checkerboard rule, taking the node as one big cell).
float node_height_error(const Terrain& terrain, int n, int level, int i, int j);

// Heights of cells [c0, c1] x [r0, r1] changed: their nodes (and, through
// the nesting, the nodes around them) are recomputed by the next updates.
// During a refresh the cells wait (merged with any others waiting) for the
// next one, which starts as soon as this one ends.
void mark_ground_errors_dirty(GroundLod* lod, int c0, int r0, int c1, int r1);

// Works on the pending refresh for about `budget` work units (one per height
// compared); budget < 0 runs it to the end. True when nothing is pending.
bool update_ground_errors(GroundLod* lod, const Terrain& terrain, long budget);
// This frame's budget for update_ground_errors: the refresh under way's work
// over GROUND_REFRESH_FRAMES, within GROUND_ERROR_BUDGET ..
// GROUND_ERROR_BUDGET_MAX.
long ground_error_budget(const GroundLod& lod);

// This frame's split bits: the coarse levels 0 .. n - 6 always, a 4 x 4
// block of nodes centred on the camera's cell at every level from n down to
// 1, and from the root every node whose value exceeds the squared horizontal
// distance from the camera to its centre vertex.
void mark_split_nodes(GroundLod* lod, const Terrain& terrain, float camera_x, float camera_z);

inline bool node_split(const GroundLod& lod, int level, int i, int j) {
  return lod.split[(size_t)node_index(level, i, j)] != 0;
}

// One fan: an unsplit node whose parent is split, or a split node of the
// finest level drawn at full resolution (every edge midpoint).
struct GroundFan {
  int level, i, j;
  uint8_t midpoints;  // bit e: the midpoint of edge e is in the ring (0 -z, 1 +x, 2 +z, 3 -x)
};

// Every fan of this frame's split marking.
void collect_ground_fans(const GroundLod& lod, std::vector<GroundFan>* fans);

// The fan's vertices as grid (column, row) pairs: the centre first, then the
// ring counter-clockwise seen from above, closed by repeating its first
// vertex. Returns the vertex count (at most 10).
int fan_vertices(const GroundLod& lod, const GroundFan& fan, int columns[10], int rows[10]);
