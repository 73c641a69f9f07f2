#include "render/ground_lod.h"

#include <algorithm>
#include <cmath>

#include "track/terrain.h"

namespace {

constexpr double HALF_SQRT2 = 0.7071067811865476;

int cells_per_node(int n, int level) { return 1 << (n + 1 - level); }

// Height of the node's two-triangle stand-in at vertex (c, r).
float plane_height(const Terrain& t, int c0, int r0, int w, bool same_parity, int c, int r) {
  float h00 = grid_height(t, c0, r0), h10 = grid_height(t, c0 + w, r0);
  float h01 = grid_height(t, c0, r0 + w), h11 = grid_height(t, c0 + w, r0 + w);
  float fx = (float)(c - c0) / (float)w, fz = (float)(r - r0) / (float)w;
  if (same_parity) {
    if (fz <= fx) return h10 + (1 - fx) * (h00 - h10) + fz * (h11 - h10);
    return h01 + fx * (h11 - h01) + (1 - fz) * (h00 - h01);
  }
  if (fx + fz <= 1) return h00 + fx * (h10 - h00) + fz * (h01 - h00);
  return h11 + (1 - fx) * (h01 - h11) + (1 - fz) * (h10 - h11);
}

// Nodes of `level` that the refresh region touches, widened by one node so
// that changes of the finer level's values reach the nodes they nest into.
void level_range(const GroundLod& lod, int level, int* i0, int* j0, int* i1, int* j1) {
  int w = cells_per_node(lod.n, level), last = (1 << level) - 1;
  *i0 = std::clamp((lod.region[0] - w) / w, 0, last);
  *j0 = std::clamp((lod.region[1] - w) / w, 0, last);
  *i1 = std::clamp((lod.region[2] + w) / w, 0, last);
  *j1 = std::clamp((lod.region[3] + w) / w, 0, last);
  if (lod.region[0] - w < 0) *i0 = 0;
  if (lod.region[1] - w < 0) *j0 = 0;
}

float node_value(const GroundLod& lod, int level, int i, int j, float height_error) {
  const int n = lod.n;
  double hw = node_half_width(n, level);
  double own = height_error / lod.detail + lod.spacing * HALF_SQRT2 * hw;
  double value = own * own;
  if (level < n) {
    // Children, and the finer nodes just outside each edge: if any of them
    // splits at the camera's distance, this node must already have split.
    const int side = 1 << (level + 1);
    const int ci = 2 * i, cj = 2 * j;
    const int around[12][2] = {{ci, cj},         {ci + 1, cj},     {ci, cj + 1},     {ci + 1, cj + 1},
                               {ci, cj - 1},     {ci + 1, cj - 1}, {ci, cj + 2},     {ci + 1, cj + 2},
                               {ci - 1, cj},     {ci - 1, cj + 1}, {ci + 2, cj},     {ci + 2, cj + 1}};
    float largest = 0;
    for (const auto& a : around) {
      if (a[0] < 0 || a[1] < 0 || a[0] >= side || a[1] >= side) continue;
      largest = std::max(largest, lod.error[(size_t)node_index(level + 1, a[0], a[1])]);
    }
    double nested = std::sqrt((double)largest) + hw * lod.spacing * NEST_FACTOR;
    value = std::max(value, nested * nested);
  }
  return (float)std::min(value, 3.0e38);
}

}  // namespace

float node_height_error(const Terrain& t, int n, int level, int i, int j) {
  int w = cells_per_node(n, level), c0 = i * w, r0 = j * w;
  bool same = ((i ^ j) & 1) == 0;
  float largest = 0;
  for (int r = r0; r <= r0 + w; r++)
    for (int c = c0; c <= c0 + w; c++)
      largest = std::max(largest, std::fabs(grid_height(t, c, r) - plane_height(t, c0, r0, w, same, c, r)));
  return largest;
}

void init_ground_lod(GroundLod* lod, const Terrain& terrain, double detail) {
  *lod = GroundLod{};
  lod->n = terrain.n;
  lod->spacing = terrain.spacing;
  lod->detail = detail > 1e-6 ? detail : 1e-6;
  lod->error.assign((size_t)node_count(terrain.n), 0.0f);
  lod->split.assign((size_t)node_count(terrain.n), 0);
  mark_ground_errors_dirty(lod, 0, 0, terrain.N - 1, terrain.N - 1);
}

namespace {

void start_refresh(GroundLod* lod, int c0, int r0, int c1, int r1) {
  lod->region[0] = c0;
  lod->region[1] = r0;
  lod->region[2] = c1;
  lod->region[3] = r1;
  lod->refreshing = true;
  lod->level = lod->n;
  int i0, j0, i1, j1;
  level_range(*lod, lod->n, &i0, &j0, &i1, &j1);
  lod->column = i0;
  lod->row = j0;
  lod->inner = 0;
  lod->partial = 0;
  lod->node_measured = false;
  lod->work = 0;
  for (int level = lod->n; level >= 0; level--) {
    int w = cells_per_node(lod->n, level);
    level_range(*lod, level, &i0, &j0, &i1, &j1);
    lod->work += (long)(i1 - i0 + 1) * (long)(j1 - j0 + 1) * ((long)(w + 1) * (w + 1) + 1);
  }
}

// Vertices [from, to) of the node (row by row, (w + 1) a row) against its
// stand-in: the largest difference, merged into *partial. The same numbers
// as plane_height gives vertex by vertex (w is a power of two, so the
// fractions are exact either way).
void measure_node(const Terrain& t, int c0, int r0, int w, bool same, long from, long to, float* partial) {
  const float h00 = grid_height(t, c0, r0), h10 = grid_height(t, c0 + w, r0);
  const float h01 = grid_height(t, c0, r0 + w), h11 = grid_height(t, c0 + w, r0 + w);
  const float fw = (float)w;
  float largest = *partial;
  long k = from;
  while (k < to) {
    const int dr = (int)(k / (w + 1));
    int dc = (int)(k % (w + 1));
    const long row_end = std::min(to, (long)(dr + 1) * (w + 1));
    const int r = r0 + dr;
    const float* row = t.heights.data() + (size_t)t.N * (size_t)r + (size_t)c0;
    const float fz = (float)dr / fw;
    for (; k < row_end; k++, dc++) {
      const float fx = (float)dc / fw;
      float plane;
      if (same) plane = fz <= fx ? h10 + (1 - fx) * (h00 - h10) + fz * (h11 - h10)
                                 : h01 + fx * (h11 - h01) + (1 - fz) * (h00 - h01);
      else plane = fx + fz <= 1 ? h00 + fx * (h10 - h00) + fz * (h01 - h00)
                                : h11 + (1 - fx) * (h01 - h11) + (1 - fz) * (h10 - h11);
      largest = std::max(largest, std::fabs(row[dc] - plane));
    }
  }
  *partial = largest;
}

}  // namespace

long ground_error_budget(const GroundLod& lod) {
  if (!lod.refreshing) return GROUND_ERROR_BUDGET;
  long share = lod.work / GROUND_REFRESH_FRAMES + 1;
  return std::clamp(share, GROUND_ERROR_BUDGET, GROUND_ERROR_BUDGET_MAX);
}

void mark_ground_errors_dirty(GroundLod* lod, int c0, int r0, int c1, int r1) {
  if (lod->error.empty()) return;
  if (!lod->refreshing) {
    start_refresh(lod, c0, r0, c1, r1);
    return;
  }
  // Restarting here would never finish while the ground changes every
  // frame; the cells wait for the next refresh instead.
  if (lod->pending) {
    c0 = std::min(c0, lod->pending_region[0]);
    r0 = std::min(r0, lod->pending_region[1]);
    c1 = std::max(c1, lod->pending_region[2]);
    r1 = std::max(r1, lod->pending_region[3]);
  }
  lod->pending = true;
  lod->pending_region[0] = c0;
  lod->pending_region[1] = r0;
  lod->pending_region[2] = c1;
  lod->pending_region[3] = r1;
}

bool update_ground_errors(GroundLod* lod, const Terrain& t, long budget) {
  while (lod->refreshing) {
    if (budget == 0) return false;
    const int level = lod->level, w = cells_per_node(lod->n, level);
    const int i = lod->column, j = lod->row, c0 = i * w, r0 = j * w;
    if (!lod->node_measured) {
      const long vertices = (long)(w + 1) * (w + 1);
      bool same = ((i ^ j) & 1) == 0;
      if (lod->inner < vertices) {
        if (budget == 0) return false;
        long to = budget < 0 ? vertices : std::min(vertices, lod->inner + budget);
        measure_node(t, c0, r0, w, same, lod->inner, to, &lod->partial);
        if (budget > 0) budget -= to - lod->inner;
        lod->inner = to;
        if (lod->inner < vertices) return false;
      }
      lod->node_measured = true;
    }
    lod->error[(size_t)node_index(level, i, j)] = node_value(*lod, level, i, j, lod->partial);
    lod->inner = 0;
    lod->partial = 0;
    lod->node_measured = false;
    if (budget > 0) budget--;
    // Next node, row, level.
    int i0, j0, i1, j1;
    level_range(*lod, level, &i0, &j0, &i1, &j1);
    if (++lod->column > i1) {
      lod->column = i0;
      if (++lod->row > j1) {
        if (level == 0) {
          lod->refreshing = false;
          if (!lod->pending) return true;
          lod->pending = false;
          start_refresh(lod, lod->pending_region[0], lod->pending_region[1], lod->pending_region[2],
                        lod->pending_region[3]);
          continue;
        }
        lod->level--;
        level_range(*lod, lod->level, &i0, &j0, &i1, &j1);
        lod->column = i0;
        lod->row = j0;
      }
    }
  }
  return true;
}

void mark_split_nodes(GroundLod* lod, const Terrain& t, float camera_x, float camera_z) {
  const int n = lod->n;
  std::fill(lod->split.begin(), lod->split.end(), 0);
  for (int level = 0; level <= n - 6; level++) {
    int first = node_index(level, 0, 0);
    std::fill(lod->split.begin() + first, lod->split.begin() + first + (1 << (2 * level)), 1);
  }
  // Under and around the viewer the ground is always at full resolution.
  for (int level = n; level >= 1; level--) {
    const int side = 1 << level;
    const float node_width = (float)cells_per_node(n, level) * t.spacing;
    auto start = [&](float p) {
      float s = std::round(p / node_width) - 2.0f;
      if (!(s > 0)) return 0;
      return std::min((int)s, std::max(side - 4, 0));
    };
    int i0 = start(camera_x), j0 = start(camera_z);
    for (int j = j0; j < std::min(j0 + 4, side); j++)
      for (int i = i0; i < std::min(i0 + 4, side); i++) lod->split[(size_t)node_index(level, i, j)] = 1;
  }
  // From the root: split where the value exceeds the horizontal distance.
  struct Item {
    int level, i, j;
  };
  std::vector<Item> stack = {{0, 0, 0}};
  while (!stack.empty()) {
    Item it = stack.back();
    stack.pop_back();
    size_t index = (size_t)node_index(it.level, it.i, it.j);
    if (it.level < n && !lod->split[index]) {
      const float w = (float)cells_per_node(n, it.level) * t.spacing;
      float dx = camera_x - ((float)it.i + 0.5f) * w, dz = camera_z - ((float)it.j + 0.5f) * w;
      if (lod->error[index] > dx * dx + dz * dz) lod->split[index] = 1;
    }
    if (!lod->split[index] || it.level == n) continue;
    for (int k = 0; k < 4; k++) stack.push_back({it.level + 1, it.i * 2 + (k & 1), it.j * 2 + (k >> 1)});
  }
}

void collect_ground_fans(const GroundLod& lod, std::vector<GroundFan>* fans) {
  fans->clear();
  const int n = lod.n;
  struct Item {
    int level, i, j;
  };
  std::vector<Item> stack = {{0, 0, 0}};
  while (!stack.empty()) {
    Item it = stack.back();
    stack.pop_back();
    if (node_split(lod, it.level, it.i, it.j)) {
      if (it.level == n) {
        fans->push_back({it.level, it.i, it.j, 0x0f});
      } else {
        for (int k = 0; k < 4; k++) stack.push_back({it.level + 1, it.i * 2 + (k & 1), it.j * 2 + (k >> 1)});
      }
      continue;
    }
    // A split neighbour draws finer along the shared edge: meet its midpoint.
    const int side = 1 << it.level;
    const int neighbour[4][2] = {{it.i, it.j - 1}, {it.i + 1, it.j}, {it.i, it.j + 1}, {it.i - 1, it.j}};
    uint8_t mask = 0;
    for (int e = 0; e < 4; e++) {
      int a = neighbour[e][0], b = neighbour[e][1];
      if (a >= 0 && b >= 0 && a < side && b < side && node_split(lod, it.level, a, b)) mask |= (uint8_t)(1 << e);
    }
    fans->push_back({it.level, it.i, it.j, mask});
  }
}

int fan_vertices(const GroundLod& lod, const GroundFan& fan, int columns[10], int rows[10]) {
  const int w = cells_per_node(lod.n, fan.level), h = w / 2;
  const int c0 = fan.i * w, r0 = fan.j * w, c1 = c0 + w, r1 = r0 + w;
  int count = 0;
  auto put = [&](int c, int r) {
    columns[count] = c;
    rows[count] = r;
    count++;
  };
  put(c0 + h, r0 + h);
  // Counter-clockwise seen from above (+Y): down the -x edge, along +z, up +x, back along -z.
  put(c0, r0);
  if (fan.midpoints & 8) put(c0, r0 + h);
  put(c0, r1);
  if (fan.midpoints & 4) put(c0 + h, r1);
  put(c1, r1);
  if (fan.midpoints & 2) put(c1, r0 + h);
  put(c1, r0);
  if (fan.midpoints & 1) put(c0 + h, r0);
  put(c0, r0);
  return count;
}
