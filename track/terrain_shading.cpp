// The terrain load as a whole, shading recomputation and the normal map.
#include <cmath>

#include "track/assets.h"
#include "track/lighting.h"
#include "track/terrain.h"

namespace {

uint8_t normal_byte(float component) {
  float v = component * 127.0f;
  if (!(v > -127.0f)) v = -127.0f;  // also NaN
  if (v > 127.0f) v = 127.0f;
  return (uint8_t)((int)v + 128);
}

void clamp_region(const Terrain& t, int* c0, int* r0, int* c1, int* r1) {
  auto clamp = [&](int v) { return v < 0 ? 0 : (v >= t.N ? t.N - 1 : v); };
  *c0 = clamp(*c0);
  *r0 = clamp(*r0);
  *c1 = clamp(*c1);
  *r1 = clamp(*r1);
}

void bake_normal(Terrain* t, size_t i, Vec3 n) {
  t->normal_map[i * 3 + 0] = normal_byte(n.x);
  t->normal_map[i * 3 + 1] = (uint8_t)(255 - t->shadows[i]);
  t->normal_map[i * 3 + 2] = normal_byte(n.z);
}

// Shading of one vertex, and its normal map entry when there is one.
struct ShadingBake {
  float sun[3], ambient[3];
  Vec3 sun_vector;
  bool normals;
};

ShadingBake shading_bake(const Terrain& t, const ShadingLight& l) {
  const size_t count = (size_t)t.N * (size_t)t.N;
  return ShadingBake{{l.sun_colour.x, l.sun_colour.y, l.sun_colour.z},
                     {l.ambient.x, l.ambient.y, l.ambient.z},
                     l.sun_vector,
                     t.normal_map.size() == count * 3};
}

inline void bake_vertex(Terrain* t, const ShadingBake& b, size_t i, Vec3 n) {
  float d = dot(b.sun_vector, n);
  if (!(d > 0)) d = 0;
  if (d > 1) d = 1;
  float lit = d * (1.0f - (float)t->shadows[i] / 255.0f);
  for (int k = 0; k < 3; k++) {
    float v = floorf((b.sun[k] * lit + b.ambient[k]) * 0.5f * 255.0f);
    if (!(v > 0)) v = 0;
    if (v > 255) v = 255;
    t->shading[i * 3 + (size_t)k] = (uint8_t)v;
  }
  if (b.normals) bake_normal(t, i, n);
}

inline void bake_vertex(Terrain* t, const ShadingBake& b, int c, int r) {
  bake_vertex(t, b, (size_t)c + (size_t)t->N * (size_t)r, vertex_normal(*t, c, r));
}

// A vertex whose eight neighbours are all on the grid.
inline bool inner_vertex(const Terrain& t, uint32_t i) {
  uint32_t N = (uint32_t)t.N, c = i % N, r = i / N;
  return c > 0 && r > 0 && c + 1 < N && r + 1 < N;
}

}  // namespace

bool load_terrain(Terrain* t, const char* track, const TerrainLoadOptions& options) {
  TileLoadOptions tiles{options.ground_method == GROUND_SOFTWARE, true};
  bool ok = read_height_field(t, track, options.debug_level) && read_shading(t, track) && read_shadows(t, track) &&
            read_track_tiles(t, track, tiles) && read_tile_map(t, track);
  if (ok && options.shader_path) build_normal_map(t);
  if (ok && g_track_hooks.prepare_ground)
    ok = g_track_hooks.prepare_ground(t, options.ground_method, options.shader_path);
  if (!ok) free_terrain(t);
  return ok;
}

void update_normal_map(Terrain* t, int c0, int r0, int c1, int r1) {
  if (t->normal_map.empty()) return;
  clamp_region(*t, &c0, &r0, &c1, &r1);
  for (int r = r0; r <= r1; r++) {
    for (int c = c0; c <= c1; c++) {
      bake_normal(t, (size_t)c + (size_t)t->N * (size_t)r, vertex_normal(*t, c, r));
    }
  }
}

void rebake_normal_map_vertices(Terrain* t, const uint32_t* vertices, size_t count) {
  const size_t total = (size_t)t->N * (size_t)t->N;
  if (t->normal_map.size() != total * 3 || t->shadows.size() != total) return;
  for (size_t k = 0; k < count; k++) {
    if (vertices[k] >= total) continue;
    int c = (int)(vertices[k] % (uint32_t)t->N), r = (int)(vertices[k] / (uint32_t)t->N);
    bake_normal(t, vertices[k], vertex_normal(*t, c, r));
  }
}

void build_normal_map(Terrain* t) {
  t->normal_map.assign((size_t)t->N * (size_t)t->N * 3, 0);
  if (t->shadows.size() != (size_t)t->N * (size_t)t->N) t->shadows.assign((size_t)t->N * (size_t)t->N, 0);
  update_normal_map(t, 0, 0, t->N - 1, t->N - 1);
}

void recompute_shading(Terrain* t, const TrackLighting& l, int c0, int r0, int c1, int r1) {
  recompute_shading(t, shading_light(l), c0, r0, c1, r1);
}

void recompute_shading(Terrain* t, const ShadingLight& l, int c0, int r0, int c1, int r1) {
  const size_t count = (size_t)t->N * (size_t)t->N;
  if (t->N <= 0 || t->shading.size() != count * 3 || t->shadows.size() != count) return;
  clamp_region(*t, &c0, &r0, &c1, &r1);
  const ShadingBake bake = shading_bake(*t, l);
  for (int r = r0; r <= r1; r++) {
    int c = c0;
    if (r > 0 && r + 1 < t->N) {
      // Inner runs four at a time.
      for (; c == 0 && c <= c1; c++) bake_vertex(t, bake, c, r);
      for (; c + 3 <= c1 && c + 4 < t->N; c += 4) {
        uint32_t first = (uint32_t)((size_t)c + (size_t)t->N * (size_t)r);
        uint32_t group[4] = {first, first + 1, first + 2, first + 3};
        Vec3 n[4];
        vertex_normals4(*t, group, n);
        for (int g = 0; g < 4; g++) bake_vertex(t, bake, group[g], n[g]);
      }
    }
    for (; c <= c1; c++) bake_vertex(t, bake, c, r);
  }
}

void rebake_vertices(Terrain* t, const ShadingLight& l, const uint32_t* vertices, size_t count) {
  const size_t total = (size_t)t->N * (size_t)t->N;
  if (t->N <= 0 || t->shading.size() != total * 3 || t->shadows.size() != total) return;
  const ShadingBake bake = shading_bake(*t, l);
  // Inner vertices four at a time, the rest one by one.
  uint32_t group[4];
  int grouped = 0;
  for (size_t k = 0; k < count; k++) {
    uint32_t i = vertices[k];
    if (i >= total) continue;
    if (!inner_vertex(*t, i)) {
      bake_vertex(t, bake, (int)(i % (uint32_t)t->N), (int)(i / (uint32_t)t->N));
      continue;
    }
    group[grouped++] = i;
    if (grouped < 4) continue;
    Vec3 n[4];
    vertex_normals4(*t, group, n);
    for (int g = 0; g < 4; g++) bake_vertex(t, bake, group[g], n[g]);
    grouped = 0;
  }
  for (int g = 0; g < grouped; g++)
    bake_vertex(t, bake, (int)(group[g] % (uint32_t)t->N), (int)(group[g] / (uint32_t)t->N));
}

ShadingLight shading_light(const TrackLighting& l) { return ShadingLight{l.sun_vector, l.sun_colour, l.ambient}; }

ShadingLight default_shading_light() {
  TrackLighting l;
  init_lighting(&l);
  float length = sqrtf(dot(l.sun_vector, l.sun_vector));
  ShadingLight light = shading_light(l);
  light.sun_vector = l.sun_vector * (1.0f / length);
  return light;
}
