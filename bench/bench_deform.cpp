// Terrain deformation piece by piece: one brush stroke with and without
// the re-baking of shading and the normal map, the re-bake itself per
// vertex, and one queued wheel contact applied (dig, pile, re-bake) as a
// bike lays them down along a line. Radii in cells: 2 is the default brush
// on 2-ft ground, 4 on 1-ft ground. The whole per-tick cost with 40 bikes is
// bench_bike --counts 40 --erode 100.
#include <benchmark/benchmark.h>

#include <cmath>

#include "track/deform.h"
#include "track/terrain.h"

namespace {

// Rolling ground of 1025 x 1025 vertices, shading and normal map on.
Terrain* ground(float spacing) {
  static Terrain t;
  static float built = 0;
  if (built != spacing) {
    init_flat_terrain(&t, 9, spacing, 0.0f);
    for (int r = 0; r < t.N; r++)
      for (int c = 0; c < t.N; c++) t.heights[(size_t)c + (size_t)t.N * r] = 3 * sinf(c * 0.05f) * cosf(r * 0.07f);
    build_normal_map(&t);
    built = spacing;
  }
  return &t;
}

// Centres walk along a diagonal line in small steps, as a wheel does, and
// alternate the sign so the field stays near its shape.
void BM_Stroke(benchmark::State& state) {
  Terrain* t = ground(1.0f);
  float radius = (float)state.range(0);
  bool refresh = state.range(1) != 0;
  float x = 100, z = 100, sign = 1;
  for (auto _ : state) {
    TerrainRegion touched = EMPTY_REGION;
    if (refresh) deform(t, x, z, radius, 0.01f * sign);
    else deform_heights(t, x, z, radius, 0.01f * sign, &touched);
    x += 0.37f;
    z += 0.21f;
    if (x > 900) x = z = 100;
    sign = -sign;
  }
}
BENCHMARK(BM_Stroke)->ArgsProduct({{2, 4}, {0, 1}})->ArgNames({"cells", "refresh"});

void BM_RebakePerVertex(benchmark::State& state) {
  Terrain* t = ground(1.0f);
  const int side = (int)state.range(0);
  int c = 100;
  for (auto _ : state) {
    refresh_deformed_region(t, TerrainRegion{c, 200, c + side - 3, 200 + side - 3});  // + the ring: side^2
    c = c > 800 ? 100 : c + 7;
  }
  state.SetItemsProcessed(state.iterations() * side * side);
}
BENCHMARK(BM_RebakePerVertex)->Arg(8)->Arg(16);

// One record per iteration: a wheel pushing 100 lbf (half way between the
// default thresholds) along its line, the chassis always far enough away.
void BM_ApplyRecord(benchmark::State& state) {
  Terrain* t = ground((float)state.range(0) / 2.0f);
  ErosionQueue q{};
  float x = 100, z = 100;
  for (auto _ : state) {
    queue_erosion_record(&q, *t, x, z, 0.1f, 30, 80, -60);
    apply_erosion_records(&q, t, -1000, -1000, 100);
    x += 0.35f;
    if (x > 0.9f * t->width) x = 100, z += 5;
  }
}
BENCHMARK(BM_ApplyRecord)->Arg(2)->Arg(4)->ArgName("spacing_x2");

}  // namespace
