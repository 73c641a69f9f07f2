// The brush, the erosion queue and the change record.
#include "track/deform.h"

#include <algorithm>
#include <cmath>

#include "track/terrain.h"

namespace {

// Clamp to 0..1 that also sends NaN (0/0 from a tile whose two thresholds
// are equal) to 0.
float clamp01(float v) {
  if (!(v > 0)) return 0;
  return v > 1 ? 1 : v;
}

// Coordinates this far out are off any field and would overflow the grid
// index arithmetic; false for NaN and infinities too.
bool within_reach(float v) { return std::fabs(v) < 1073741824.0f; }

TerrainRegion merged(TerrainRegion a, TerrainRegion b) {
  if (region_empty(a)) return b;
  if (region_empty(b)) return a;
  return TerrainRegion{std::min(a.c0, b.c0), std::min(a.r0, b.r0), std::max(a.c1, b.c1), std::max(a.r1, b.r1)};
}

bool clamp_to_grid(const Terrain& t, TerrainRegion* r) {
  r->c0 = std::max(r->c0, 0);
  r->r0 = std::max(r->r0, 0);
  r->c1 = std::min(r->c1, t.N - 1);
  r->r1 = std::min(r->r1, t.N - 1);
  return !region_empty(*r);
}

int units_per_side(int N, int cells) {
  if (N <= 1) return 0;
  return std::max(1, (N - 1 + cells - 1) / cells);
}

// The units (patches or blocks of `cells` cells) holding vertices lo..hi on
// one axis. Unit i spans vertices i*cells .. (i+1)*cells, so a vertex on a
// boundary falls in both units beside it.
void unit_span(int lo, int hi, int cells, int per_side, int* first, int* last) {
  *first = lo > 0 ? (lo - 1) / cells : 0;
  *last = std::min(hi / cells, per_side - 1);
}

void stamp_units(std::vector<int64_t>* stamps, int per_side, int cells, TerrainRegion r, int64_t stamp) {
  int bc0, bc1, br0, br1;
  unit_span(r.c0, r.c1, cells, per_side, &bc0, &bc1);
  unit_span(r.r0, r.r1, cells, per_side, &br0, &br1);
  for (int br = br0; br <= br1; br++)
    for (int bc = bc0; bc <= bc1; bc++) (*stamps)[(size_t)bc + (size_t)per_side * (size_t)br] = stamp;
}

void size_change_record(Terrain* t) {
  t->change_patches_per_side = units_per_side(t->N, CHANGE_PATCH_CELLS);
  t->change_blocks_per_side = units_per_side(t->N, CHANGE_BLOCK_CELLS);
  t->patch_stamp.assign((size_t)t->change_patches_per_side * (size_t)t->change_patches_per_side, 0);
  t->block_stamp.assign((size_t)t->change_blocks_per_side * (size_t)t->change_blocks_per_side, 0);
}

bool changes_sized(const Terrain& t) {
  int patches = units_per_side(t.N, CHANGE_PATCH_CELLS), blocks = units_per_side(t.N, CHANGE_BLOCK_CELLS);
  return t.change_patches_per_side == patches && t.change_blocks_per_side == blocks &&
         t.patch_stamp.size() == (size_t)patches * (size_t)patches &&
         t.block_stamp.size() == (size_t)blocks * (size_t)blocks;
}

// The heights the loose-layer band is measured from, taken before the
// first stroke of erosion (again after a reload or a grid change).
const float* undug_heights(Terrain* t) {
  if (t->undug_heights.size() != t->heights.size()) t->undug_heights = t->heights;
  return t->undug_heights.data();
}

// Queues the shading and normal map of the changed vertices and of the ring
// around them (a vertex normal sees its eight neighbours) for the next
// refresh_deformed_shading, each vertex once however many strokes reach
// it, and records the change for the renderer.
void note_shading_due(Terrain* t, TerrainRegion changed) {
  TerrainRegion lit{changed.c0 - 1, changed.r0 - 1, changed.c1 + 1, changed.r1 + 1};
  if (!clamp_to_grid(*t, &lit)) return;
  const size_t words_per_row = ((size_t)t->N + 63) / 64;
  if (t->shading_due_mask.size() != words_per_row * (size_t)t->N) {
    t->shading_due_mask.assign(words_per_row * (size_t)t->N, 0);
    t->shading_due.clear();
  }
  for (int r = lit.r0; r <= lit.r1; r++) {
    uint64_t* row = t->shading_due_mask.data() + words_per_row * (size_t)r;
    for (int c = lit.c0; c <= lit.c1; c++) {
      uint64_t bit = (uint64_t)1 << (c & 63);
      if (row[c >> 6] & bit) continue;
      row[c >> 6] |= bit;
      t->shading_due.push_back((uint32_t)((size_t)c + (size_t)t->N * (size_t)r));
    }
  }
  mark_terrain_changed(t, lit);
}

// The vertices one stroke reaches with a weight above 0 and their weights,
// worked out once for the band check and for the stroke itself. Small
// brushes (every tile's default) stay on the stack.
struct BrushPoint {
  uint32_t index;
  float weight;
};
constexpr int FOOTPRINT_LOCAL = 1024;
struct Footprint {
  BrushPoint local[FOOTPRINT_LOCAL];
  std::vector<BrushPoint> heap;  // brushes wider than 32 cells
  BrushPoint* points = local;
  int count = 0;
  TerrainRegion changed = EMPTY_REGION;  // bounding box of the points
};

// Fills *f for a stroke at (x, z); false when it reaches no vertex (or the
// field or the input is unusable).
bool brush_footprint(const Terrain& t, float x, float z, float radius, Footprint* f) {
  f->count = 0;
  f->changed = EMPTY_REGION;
  if (!(radius > 0) || t.N <= 0 || !(t.spacing > 0) || t.heights.size() != (size_t)t.N * (size_t)t.N) return false;
  float R = radius / t.spacing;
  if (!(R <= MAX_BRUSH_CELLS)) R = MAX_BRUSH_CELLS;
  float u = x / t.spacing;
  float w = z / t.spacing;
  if (!within_reach(u) || !within_reach(w)) return false;
  const int half = (int)ceilf(R);  // k / 2
  const int cx = (int)floorf(u);
  const int cz = (int)floorf(w);
  TerrainRegion window{cx - half + 1, cz - half + 1, cx + half, cz + half};
  if (!clamp_to_grid(t, &window)) return false;
  size_t most = (size_t)(window.c1 - window.c0 + 1) * (size_t)(window.r1 - window.r0 + 1);
  if (most > (size_t)FOOTPRINT_LOCAL) {
    f->heap.resize(most);
    f->points = f->heap.data();
  } else {
    f->points = f->local;
  }
  // Beyond the rim the weight is 0; the margin leaves the vertices right at
  // it to the weight function itself, so the result is the same as weighing
  // every vertex of the window.
  const float outside = R * R * 1.0001f;
  int c0 = window.c1 + 1, c1 = window.c0 - 1, r0 = window.r1 + 1, r1 = window.r0 - 1;
  for (int r = window.r0; r <= window.r1; r++) {
    float dz = (float)r - w;
    for (int c = window.c0; c <= window.c1; c++) {
      float dx = (float)c - u;
      float d2 = dx * dx + dz * dz;
      if (d2 > outside) continue;
      float weight = brush_weight(sqrtf(d2), R);
      if (weight == 0) continue;
      f->points[f->count++] = BrushPoint{(uint32_t)((size_t)c + (size_t)t.N * (size_t)r), weight};
      c0 = std::min(c0, c);
      c1 = std::max(c1, c);
      r0 = std::min(r0, r);
      r1 = std::max(r1, r);
    }
  }
  if (f->count == 0) return false;
  f->changed = TerrainRegion{c0, r0, c1, r1};
  return true;
}

// How much of a stroke of `amount` (negative digs) fits in the band: the
// largest s in 0..1 for which every vertex the brush reaches, moved by
// s x amount x weight, stays within `band` of its undug height. A vertex
// already beyond the band (an editor's stroke) stops the stroke from moving
// it further out.
float stroke_room(const Terrain& t, const float* undug, const Footprint& f, float amount, float band) {
  float room = 1;
  for (int k = 0; k < f.count; k++) {
    size_t i = f.points[k].index;
    float step = amount * f.points[k].weight;
    float left = step < 0 ? t.heights[i] - (undug[i] - band) : (undug[i] + band) - t.heights[i];
    if (!(left > 0)) return 0;
    room = std::min(room, left / std::fabs(step));
  }
  return room;
}

// The stroke itself; the caller has checked the amount and the lock.
void apply_footprint(Terrain* t, const Footprint& f, float amount, TerrainRegion* touched) {
  float low = t->low, high = t->high;
  float* heights = t->heights.data();
  for (int k = 0; k < f.count; k++) {
    float& h = heights[f.points[k].index];
    h += amount * f.points[k].weight;
    low = std::min(low, h);
    high = std::max(high, h);
  }
  t->low = low;
  t->high = high;
  t->modification_count++;
  note_shading_due(t, f.changed);
  *touched = merged(*touched, f.changed);
}

// One queued record: the dig at the contact and the pile behind it, or
// nothing when the pile would climb too steep a slope. The vertices the
// strokes reach are merged into *touched.
void apply_record(Terrain* t, const ErosionRecord& r, float scale, TerrainRegion* touched) {
  const Erosion& e = tile_record_at(*t, r.x, r.z).erosion;
  float A = sqrtf(r.push_x * r.push_x + r.push_z * r.push_z);
  if (!(A > 0) || !within_reach(r.x) || !within_reach(r.z)) return;
  float B = clamp01((A - e.lower) / (e.upper - e.lower));
  float F = B * e.displacement;
  float pile_x = r.x - r.push_x / A * F;
  float pile_z = r.z - r.push_z / A * F;
  if (!within_reach(pile_x) || !within_reach(pile_z)) return;
  float D = height_at(*t, r.x, r.z);
  float H = height_at(*t, pile_x, pile_z);
  // Written as "not within the limit" so a NaN slope from a tile file
  // leaves the ground alone too.
  if (!(H - D <= F * e.max_slope)) return;
  float a = scale * EROSION_STROKE * e.depth;
  if (!(a != 0) || !std::isfinite(a) || t->locked_for_editor || t->N <= 0 || !(t->spacing > 0) ||
      t->heights.size() != (size_t)t->N * (size_t)t->N)
    return;
  // Dig and pile shrink together, so what is dug is what is piled.
  // Ground dug to the bottom of the band is common on a line many riders
  // take, so the pile is not weighed before the dig has room.
  Footprint dig, pile;
  const float* undug = undug_heights(t);
  const float band = erosion_band(e.depth);
  bool digs = brush_footprint(*t, r.x, r.z, e.radius, &dig);
  float room = stroke_room(*t, undug, dig, -a, band);
  if (!(room > 0)) return;
  bool piles = brush_footprint(*t, pile_x, pile_z, e.radius, &pile);
  if (!digs && !piles) return;
  a *= std::min(room, stroke_room(*t, undug, pile, a, band));
  if (!(a != 0)) return;
  if (digs) apply_footprint(t, dig, -a, touched);
  if (piles) apply_footprint(t, pile, a, touched);
}

}  // namespace

float undug_height_at(const Terrain& t, float x, float z) {
  if (t.undug_heights.size() != t.heights.size() || t.N <= 0) return height_at(t, x, z);
  auto H = [&](int c, int r) {
    c = std::clamp(c, 0, t.N - 1);
    r = std::clamp(r, 0, t.N - 1);
    return t.undug_heights[(size_t)c + (size_t)t.N * (size_t)r];
  };
  float u = x / t.spacing, w = z / t.spacing;
  float cf = floorf(u), rf = floorf(w);
  float fx = u - cf, fz = w - rf;
  const float limit = 1e9f;
  if (!(cf > -limit && cf < limit)) cf = cf > 0 ? limit : -limit;
  if (!(rf > -limit && rf < limit)) rf = rf > 0 ? limit : -limit;
  int c = (int)cf, r = (int)rf;
  if (((c + r) & 1) == 0) {
    if (fz <= fx) return H(c + 1, r) + (1 - fx) * (H(c, r) - H(c + 1, r)) + fz * (H(c + 1, r + 1) - H(c + 1, r));
    return H(c, r + 1) + fx * (H(c + 1, r + 1) - H(c, r + 1)) + (1 - fz) * (H(c, r) - H(c, r + 1));
  }
  if (fx + fz <= 1) return H(c, r) + fx * (H(c + 1, r) - H(c, r)) + fz * (H(c, r + 1) - H(c, r));
  return H(c + 1, r + 1) + (1 - fx) * (H(c, r + 1) - H(c + 1, r + 1)) + (1 - fz) * (H(c + 1, r) - H(c + 1, r + 1));
}

// --- the brush ------------------------------------------------------------------

bool deform_heights(Terrain* t, float x, float z, float radius, float amount, TerrainRegion* touched) {
  if (t->locked_for_editor || amount == 0 || !std::isfinite(amount)) return false;
  Footprint f;
  if (!brush_footprint(*t, x, z, radius, &f)) return false;
  apply_footprint(t, f, amount, touched);
  return true;
}

size_t refresh_deformed_shading(Terrain* t) {
  size_t count = t->shading_due.size();
  if (count == 0) return 0;
  const size_t vertices = (size_t)t->N * (size_t)t->N;
  const size_t words_per_row = ((size_t)t->N + 63) / 64;
  if (t->shading_due_mask.size() != words_per_row * (size_t)t->N) {  // the grid changed under it
    t->shading_due.clear();
    t->shading_due_mask.assign(words_per_row * (size_t)t->N, 0);
    return 0;
  }
  bool lit = t->shading.size() == vertices * 3 && t->shadows.size() == vertices;
  if (lit) rebake_vertices(t, t->light, t->shading_due.data(), count);
  else if (t->normal_map.size() == vertices * 3) rebake_normal_map_vertices(t, t->shading_due.data(), count);
  for (uint32_t i : t->shading_due) {
    size_t c = i % (size_t)t->N, r = i / (size_t)t->N;
    t->shading_due_mask[words_per_row * r + (c >> 6)] &= ~((uint64_t)1 << (c & 63));
  }
  t->shading_due.clear();
  return count;
}

size_t refresh_deformed_shading_on_pace(Terrain* t, double game_seconds) {
  double since = game_seconds - t->shading_refreshed_at;
  // A little slack so frames that fall on the pace exactly are not put off
  // by rounding in the clock.
  if (since >= 0 && since < SHADING_REFRESH_SECONDS * 0.999) return 0;
  t->shading_refreshed_at = game_seconds;
  return refresh_deformed_shading(t);
}

void refresh_deformed_region(Terrain* t, TerrainRegion region) {
  if (region_empty(region) || t->N <= 0) return;
  TerrainRegion lit{region.c0 - 1, region.r0 - 1, region.c1 + 1, region.r1 + 1};
  if (!clamp_to_grid(*t, &lit)) return;
  const size_t count = (size_t)t->N * (size_t)t->N;
  if (t->shading.size() == count * 3 && t->shadows.size() == count)
    recompute_shading(t, t->light, lit.c0, lit.r0, lit.c1, lit.r1);  // the normal map with it
  else
    update_normal_map(t, lit.c0, lit.r0, lit.c1, lit.r1);
  mark_terrain_changed(t, lit);
}

bool deform(Terrain* t, float x, float z, float radius, float amount) {
  TerrainRegion touched = EMPTY_REGION;
  if (!deform_heights(t, x, z, radius, amount, &touched)) return false;
  refresh_deformed_shading(t);
  return true;
}

// --- erosion ----------------------------------------------------------------------

void clear_erosion_queue(ErosionQueue* q) {
  q->write = 0;
  q->read = 0;
}

bool queue_erosion_record(ErosionQueue* q, const Terrain& t, float x, float z, float depth, float speed,
                          float force_x, float force_z) {
  if (!(depth > 0)) return false;
  int next = (q->write + 1) % EROSION_QUEUE_SIZE;
  if (next == q->read) return false;
  if (!within_reach(x) || !within_reach(z)) return false;
  const Erosion& e = tile_record_at(t, x, z).erosion;
  float s = clamp01((speed - e.off_speed) / (e.on_speed - e.off_speed));
  ErosionRecord r{x, z, s * force_x, s * force_z};
  float length2 = r.push_x * r.push_x + r.push_z * r.push_z;
  if (!(length2 > e.lower * e.lower) || !(length2 > EROSION_MIN_PUSH_SQUARED) || !std::isfinite(length2))
    return false;
  q->record[q->write] = r;
  q->write = next;
  return true;
}

int apply_erosion_records(ErosionQueue* q, Terrain* t, float chassis_x, float chassis_z, float scale) {
  int applied = 0;
  while (applied < EROSION_RECORDS_PER_STEP && q->read != q->write) {
    const ErosionRecord& r = q->record[q->read];
    float dx = r.x - chassis_x, dz = r.z - chassis_z;
    if (dx * dx + dz * dz < EROSION_CLEAR_DISTANCE * EROSION_CLEAR_DISTANCE) break;
    TerrainRegion touched = EMPTY_REGION;
    apply_record(t, r, scale, &touched);
    q->read = (q->read + 1) % EROSION_QUEUE_SIZE;
    applied++;
  }
  return applied;
}

// --- what changed -------------------------------------------------------------

void reset_terrain_changes(Terrain* t) {
  t->undug_heights.clear();
  t->shading_due.clear();
  t->shading_due_mask.clear();
  t->shading_refreshed_at = 0;
  size_change_record(t);
}

void mark_terrain_changed(Terrain* t, TerrainRegion region) {
  if (!clamp_to_grid(*t, &region)) return;
  if (!changes_sized(*t)) size_change_record(t);
  stamp_units(&t->patch_stamp, t->change_patches_per_side, CHANGE_PATCH_CELLS, region, t->modification_count);
  stamp_units(&t->block_stamp, t->change_blocks_per_side, CHANGE_BLOCK_CELLS, region, t->modification_count);
}

TerrainRegion change_block_region(const Terrain& t, int bc, int br) {
  if (bc < 0 || br < 0 || bc >= t.change_blocks_per_side || br >= t.change_blocks_per_side) return EMPTY_REGION;
  TerrainRegion r{bc * CHANGE_BLOCK_CELLS, br * CHANGE_BLOCK_CELLS, (bc + 1) * CHANGE_BLOCK_CELLS,
                  (br + 1) * CHANGE_BLOCK_CELLS};
  if (!clamp_to_grid(t, &r)) return EMPTY_REGION;
  return r;
}

int changed_blocks_since(const Terrain& t, int64_t since, int* blocks, int capacity) {
  if (!changes_sized(t)) return 0;
  int found = 0;
  for (size_t i = 0; i < t.block_stamp.size(); i++) {
    if (t.block_stamp[i] <= since) continue;
    if (found < capacity) blocks[found] = (int)i;
    found++;
  }
  return found;
}

bool region_changed_since(const Terrain& t, int64_t since, TerrainRegion region) {
  if (!changes_sized(t) || !clamp_to_grid(t, &region)) return false;
  int per_side = t.change_patches_per_side;
  int pc0, pc1, pr0, pr1;
  unit_span(region.c0, region.c1, CHANGE_PATCH_CELLS, per_side, &pc0, &pc1);
  unit_span(region.r0, region.r1, CHANGE_PATCH_CELLS, per_side, &pr0, &pr1);
  for (int pr = pr0; pr <= pr1; pr++)
    for (int pc = pc0; pc <= pc1; pc++)
      if (t.patch_stamp[(size_t)pc + (size_t)per_side * (size_t)pr] > since) return true;
  return false;
}
