#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "track/deform.h"
#include "track/lighting.h"
#include "track/terrain.h"

namespace {

// A level field of 65 x 65 vertices, spacing 1, every tile at the defaults
// (lower 50, upper 150, displacement 2, radius 4, max slope 0.25, off and
// on speeds 10 and 15, depth 1).
Terrain flat(int n = 5, float spacing = 1.0f) {
  Terrain t{};
  init_flat_terrain(&t, n, spacing, 0.0f);
  return t;
}

float& at(Terrain& t, int c, int r) { return t.heights[(size_t)c + (size_t)t.N * (size_t)r]; }

int changed_count(const Terrain& t, float base = 0.0f) {
  int n = 0;
  for (float h : t.heights) n += h != base;
  return n;
}

// --- the brush ----------------------------------------------------------------

TEST(Brush, RadiusFourOnSpacingOneStopsShortOfTheRim) {
  Terrain t = flat();
  ASSERT_TRUE(deform(&t, 32, 32, 4, -1));
  EXPECT_FLOAT_EQ(at(t, 32, 32), -1.0f);  // weight 1 at the centre
  for (auto [c, r] : {std::pair{36, 32}, {28, 32}, {32, 36}, {32, 28}}) EXPECT_EQ(at(t, c, r), 0.0f) << c << "," << r;
  for (auto [c, r] : {std::pair{35, 32}, {29, 32}, {32, 35}, {32, 29}, {34, 34}}) EXPECT_LT(at(t, c, r), 0.0f);
  // Nothing at or beyond 4 cells, everything inside.
  for (int r = 0; r < t.N; r++)
    for (int c = 0; c < t.N; c++) {
      double d = std::hypot(c - 32.0, r - 32.0);
      if (d >= 4) EXPECT_EQ(at(t, c, r), 0.0f) << c << "," << r;
      else EXPECT_LT(at(t, c, r), 0.0f) << c << "," << r;
    }
}

TEST(Brush, MatchesTheSmoothWeightEverywhereForOffGridCentres) {
  // Checked against a brute-force pass over the whole field, so a window
  // that misses a vertex within reach shows up.
  struct Stroke {
    float x, z, radius, spacing;
  } strokes[] = {{10.3f, 20.7f, 4, 1}, {31.99f, 5.01f, 2.5f, 1}, {17.5f, 17.5f, 7, 2}, {20.25f, 3.75f, 1.2f, 0.5f}};
  for (const Stroke& s : strokes) {
    Terrain t = flat(5, s.spacing);
    ASSERT_TRUE(deform(&t, s.x, s.z, s.radius, 0.5f));
    for (int r = 0; r < t.N; r++)
      for (int c = 0; c < t.N; c++) {
        double d = std::hypot(c - s.x / s.spacing, r - s.z / s.spacing);
        double R = s.radius / s.spacing, q = d / R;
        double want = d > R ? 0 : 0.5 * (2 * q * q * q - 3 * q * q + 1);
        EXPECT_NEAR(at(t, c, r), want, 1e-5) << s.x << "," << s.z << " vertex " << c << "," << r;
      }
  }
}

TEST(Brush, OutsideTheFieldTouchesOnlyInsideVertices) {
  Terrain t = flat();
  // Centre two cells left of column 0: only columns 0 and 1 are in reach.
  ASSERT_TRUE(deform(&t, -2, 10, 4, 1));
  for (int r = 0; r < t.N; r++)
    for (int c = 0; c < t.N; c++) {
      bool inside = std::hypot(c + 2.0, r - 10.0) < 4;
      EXPECT_EQ(at(t, c, r) != 0, inside) << c << "," << r;
    }
  EXPECT_EQ(t.heights.size(), (size_t)t.N * t.N);
  // Beyond the far corner, and wholly out of reach.
  Terrain u = flat();
  EXPECT_TRUE(deform(&u, 65.5f, 65.5f, 4, 1));
  EXPECT_GT(at(u, 64, 64), 0.0f);
  int inside = 0;
  for (int r = 0; r < u.N; r++)
    for (int c = 0; c < u.N; c++) inside += std::hypot(c - 65.5, r - 65.5) < 4;
  EXPECT_EQ(changed_count(u), inside);
  int64_t count = u.modification_count;
  EXPECT_FALSE(deform(&u, -10, 30, 4, 1));
  EXPECT_FALSE(deform(&u, 3e9f, 30, 4, 1));
  EXPECT_EQ(u.modification_count, count);
}

TEST(Brush, WidensTheHeightRangeAndCountsEveryChange) {
  Terrain t = flat();
  t.low = -1;
  t.high = 1;
  EXPECT_TRUE(deform(&t, 20, 20, 4, 0.5f));
  EXPECT_EQ(t.modification_count, 1);
  EXPECT_EQ(t.low, -1.0f);  // not narrowed
  EXPECT_EQ(t.high, 1.0f);
  EXPECT_TRUE(deform(&t, 20, 20, 4, 1.0f));
  EXPECT_FLOAT_EQ(t.high, 1.5f);
  EXPECT_TRUE(deform(&t, 40, 40, 4, -3));
  EXPECT_FLOAT_EQ(t.low, -3.0f);
  EXPECT_EQ(t.modification_count, 3);
}

TEST(Brush, RefusesStrokesThatCannotChangeAnything) {
  Terrain t = flat();
  const float nan = std::nanf("");
  EXPECT_FALSE(deform(&t, 20, 20, 4, 0));
  EXPECT_FALSE(deform(&t, 20, 20, 0, 1));
  EXPECT_FALSE(deform(&t, 20, 20, -4, 1));
  EXPECT_FALSE(deform(&t, nan, 20, 4, 1));
  EXPECT_FALSE(deform(&t, 20, INFINITY, 4, 1));
  EXPECT_FALSE(deform(&t, 20, 20, nan, 1));
  EXPECT_FALSE(deform(&t, 20, 20, 4, nan));
  EXPECT_FALSE(deform(&t, 20, 20, 4, INFINITY));
  t.locked_for_editor = true;
  EXPECT_FALSE(deform(&t, 20, 20, 4, 1));
  EXPECT_EQ(changed_count(t), 0);
  EXPECT_EQ(t.modification_count, 0);
  t.locked_for_editor = false;
  EXPECT_TRUE(deform(&t, 20, 20, 4, 1));
}

TEST(Brush, HugeRadiusIsCappedInCells) {
  Terrain t = flat(8);  // 513 x 513
  ASSERT_TRUE(deform(&t, 256, 256, 1e30f, 1));
  int changed = changed_count(t);
  EXPECT_GT(changed, 12000);  // about pi x 64^2
  EXPECT_LT(changed, 2 * 64 * 2 * 64);
  EXPECT_EQ(at(t, 256 + 64, 256), 0.0f);
}

TEST(Brush, ReshadesTheBrushedRegionAndItsNeighbours) {
  // After a stroke, shading and normal map equal a full re-bake: the ring
  // of vertices next to the changed ones sees new normals too.
  Terrain t = flat();
  TrackLighting l;
  init_lighting(&l);
  l.sun_vector = Vec3{0.6f, 0.64f, 0.48f};
  t.light = shading_light(l);
  build_normal_map(&t);
  for (int i = 0; i < t.N * t.N; i++) t.shadows[i] = (uint8_t)(i * 7);
  recompute_shading(&t, t.light, 0, 0, t.N - 1, t.N - 1);
  ASSERT_TRUE(deform(&t, 30.4f, 12.2f, 4, 2));
  ASSERT_TRUE(deform(&t, 1, 63.5f, 3, -1));
  std::vector<uint8_t> shading = t.shading, normals = t.normal_map;
  recompute_shading(&t, t.light, 0, 0, t.N - 1, t.N - 1);
  EXPECT_EQ(shading, t.shading);
  EXPECT_EQ(normals, t.normal_map);
}

// --- erosion records ------------------------------------------------------------

TEST(ErosionQueue, RecordsOnlyTouchingWheelsPushingPastTheLowerThreshold) {
  Terrain t = flat();
  ErosionQueue q{};
  // At or below the on speed the push is faded; lower is 50.
  EXPECT_FALSE(queue_erosion_record(&q, t, 10, 10, 0.0f, 20, 100, 0));    // not touching
  EXPECT_FALSE(queue_erosion_record(&q, t, 10, 10, 0.05f, 20, 50, 0));    // exactly lower
  EXPECT_FALSE(queue_erosion_record(&q, t, 10, 10, 0.05f, 20, 30, 40));   // length 50
  EXPECT_FALSE(queue_erosion_record(&q, t, 10, 10, 0.05f, 10, 500, 0));   // at the off speed
  EXPECT_FALSE(queue_erosion_record(&q, t, 10, 10, 0.05f, 12.5f, 99, 0)); // faded to 49.5
  EXPECT_EQ(erosion_queue_length(q), 0);
  EXPECT_TRUE(queue_erosion_record(&q, t, 10, 10, 0.05f, 20, 50.01f, 0));
  EXPECT_TRUE(queue_erosion_record(&q, t, 11, 12, 0.05f, 12.5f, 120, -60));
  ASSERT_EQ(erosion_queue_length(q), 2);
  EXPECT_FLOAT_EQ(q.record[1].x, 11);
  EXPECT_FLOAT_EQ(q.record[1].z, 12);
  EXPECT_FLOAT_EQ(q.record[1].push_x, 60);  // half way from off to on speed
  EXPECT_FLOAT_EQ(q.record[1].push_z, -30);
  // A tile with no lower threshold still ignores pushes of 2^-5 and less.
  t.tiles[0].erosion.lower = 0;
  EXPECT_FALSE(queue_erosion_record(&q, t, 10, 10, 0.05f, 20, 0.03125f, 0));
  EXPECT_TRUE(queue_erosion_record(&q, t, 10, 10, 0.05f, 20, 0.032f, 0));
}

TEST(ErosionQueue, AFullRingDropsNewRecords) {
  Terrain t = flat();
  ErosionQueue q{};
  int queued = 0;
  for (int i = 0; i < EROSION_QUEUE_SIZE + 10; i++) queued += queue_erosion_record(&q, t, 5, 5, 0.1f, 20, 100, 0);
  EXPECT_EQ(queued, EROSION_QUEUE_SIZE - 1);
  EXPECT_EQ(erosion_queue_length(q), EROSION_QUEUE_SIZE - 1);
  // Taking records off makes room again, across the wrap.
  EXPECT_EQ(apply_erosion_records(&q, &t, 1000, 1000, 100), EROSION_RECORDS_PER_STEP);
  for (int i = 0; i < 10; i++) queued += queue_erosion_record(&q, t, 5, 5, 0.1f, 20, 100, 0);
  EXPECT_EQ(queued, EROSION_QUEUE_SIZE - 1 + EROSION_RECORDS_PER_STEP);
  EXPECT_EQ(erosion_queue_length(q), EROSION_QUEUE_SIZE - 1);
}

std::vector<int> blocks_since(const Terrain& t, int64_t since) {
  std::vector<int> out(t.block_stamp.size() + 1, -1);
  int n = changed_blocks_since(t, since, out.data(), (int)out.size());
  out.resize((size_t)n);
  return out;
}

// A record of a push of `push` along +x at (x, z), queued at full speed.
void queue_push(ErosionQueue* q, const Terrain& t, float x, float z, float push_x, float push_z = 0) {
  ASSERT_TRUE(queue_erosion_record(q, t, x, z, 0.1f, 20, push_x, push_z)) << x << "," << z;
}

constexpr float STROKE_AT_100 = 100 * 0.00048828125f;  // erosion 100, depth 1

TEST(ErosionApply, WaitsUntilTheChassisIsTenUnitsAway) {
  Terrain t = flat();
  ErosionQueue q{};
  queue_push(&q, t, 20, 20, 100);
  queue_push(&q, t, 40, 40, 100);
  // 6 and 7.9 from the first record: closer than 10, and it holds back the
  // far second one behind it.
  EXPECT_EQ(apply_erosion_records(&q, &t, 26, 27.9f, 100), 0);
  EXPECT_EQ(changed_count(t), 0);
  EXPECT_EQ(erosion_queue_length(q), 2);
  // 6 and 8: exactly 10 away is no longer closer than 10.
  EXPECT_EQ(apply_erosion_records(&q, &t, 26, 28, 100), 2);
  EXPECT_EQ(erosion_queue_length(q), 0);
  EXPECT_LT(at(t, 20, 20), 0.0f);
  EXPECT_LT(at(t, 40, 40), 0.0f);
}

TEST(ErosionApply, AtMostFourRecordsPerStep) {
  Terrain t = flat();
  ErosionQueue q{};
  for (int i = 0; i < 6; i++) queue_push(&q, t, 10.0f + 8 * i, 20, 100);
  EXPECT_EQ(apply_erosion_records(&q, &t, 60, 60, 100), 4);
  EXPECT_EQ(erosion_queue_length(q), 2);
  EXPECT_EQ(at(t, 58, 20), 0.0f);  // the fifth and sixth are still waiting
  EXPECT_EQ(apply_erosion_records(&q, &t, 60, 60, 100), 2);
  EXPECT_LT(at(t, 50, 20), 0.0f);
  EXPECT_EQ(apply_erosion_records(&q, &t, 60, 60, 100), 0);
}

TEST(ErosionApply, DigsUnderTheWheelAndPilesBehindIt) {
  Terrain t = flat();
  ErosionQueue q{};
  // Push 100 between lower 50 and upper 150: half the displacement of 2,
  // so the pile lands 1 cell behind the dig, against the push.
  queue_push(&q, t, 20, 20, 100);
  ASSERT_EQ(apply_erosion_records(&q, &t, 60, 60, 100), 1);
  // Dig weight 1 and pile weight w(1/4) = 0.84375 at the contact; the
  // other way round one cell behind.
  EXPECT_FLOAT_EQ(at(t, 20, 20), -STROKE_AT_100 * 0.15625f);
  EXPECT_FLOAT_EQ(at(t, 19, 20), STROKE_AT_100 * 0.15625f);
  EXPECT_LT(at(t, 23, 20), 0.0f);  // ahead: only the dig reaches
  EXPECT_GT(at(t, 16, 20), 0.0f);  // behind: only the pile reaches
  double volume = 0;
  for (float h : t.heights) volume += h;
  EXPECT_NEAR(volume, 0.0, 1e-5);  // soil moves, it is not made
  // Above the upper threshold the pile lands the whole displacement away.
  Terrain u = flat();
  queue_push(&q, u, 20, 20, 0, -400);
  ASSERT_EQ(apply_erosion_records(&q, &u, 60, 60, 100), 1);
  // Pile centred at z = 22: 4 cells on, only the pile's w(1/2) reaches;
  // 4 cells back from the dig, nothing does.
  EXPECT_FLOAT_EQ(at(u, 20, 24), STROKE_AT_100 * 0.5f);
  EXPECT_FLOAT_EQ(at(u, 20, 17), -STROKE_AT_100 * 0.15625f);
  EXPECT_EQ(at(u, 20, 16), 0.0f);
}

TEST(ErosionApply, LeavesTheGroundWhenThePileWouldClimbTooSteeply) {
  // Pile point 1 behind the dig; F x max slope = 1 x 0.25.
  for (float step : {0.3f, 0.2f}) {
    Terrain t = flat();
    for (int r = 0; r < t.N; r++)
      for (int c = 0; c <= 19; c++) at(t, c, r) = step;
    std::vector<float> before = t.heights;
    ErosionQueue q{};
    queue_push(&q, t, 20, 20, 100);
    EXPECT_EQ(apply_erosion_records(&q, &t, 60, 60, 100), 1);  // taken off either way
    EXPECT_EQ(erosion_queue_length(q), 0);
    if (step > 0.25f) EXPECT_EQ(t.heights, before) << step;
    else EXPECT_NE(t.heights, before) << step;
  }
}

TEST(ErosionApply, NoChangeAtErosionZero) {
  Terrain t = flat();
  ErosionQueue q{};
  queue_push(&q, t, 20, 20, 140);
  queue_push(&q, t, 30, 20, 0, 90);
  EXPECT_EQ(apply_erosion_records(&q, &t, 60, 60, 0), 2);
  EXPECT_EQ(changed_count(t), 0);
  EXPECT_EQ(t.modification_count, 0);
}

TEST(ErosionApply, TheTileUnderTheContactSetsSpeedsAndDepth) {
  Terrain t = flat();
  Tile& soft = t.tiles[1];
  init_tile(&soft);
  soft.erosion.depth = 2;
  soft.erosion.off_speed = 20;
  soft.erosion.on_speed = 30;
  t.tile_count = 2;
  for (int r = 0; r < t.tiles_per_side; r++)
    for (int c = t.tiles_per_side / 2; c < t.tiles_per_side; c++) t.tile_map[(size_t)r * t.tiles_per_side + c] = 1;
  ErosionQueue q{};
  // At 25 ft/s the hard tile passes the whole push, the soft one half.
  ASSERT_TRUE(queue_erosion_record(&q, t, 10, 20, 0.1f, 25, 100, 0));
  EXPECT_FALSE(queue_erosion_record(&q, t, 50, 20, 0.1f, 25, 100, 0));  // 50 is not past lower
  ASSERT_TRUE(queue_erosion_record(&q, t, 50, 20, 0.1f, 25, 200, 0));
  EXPECT_FLOAT_EQ(q.record[1].push_x, 100);
  ASSERT_EQ(apply_erosion_records(&q, &t, 30, 60, 100), 2);
  EXPECT_FLOAT_EQ(at(t, 50, 20), 2 * at(t, 10, 20));  // same push, twice the depth
  EXPECT_LT(at(t, 10, 20), 0.0f);
  // A tile of depth 0 never changes.
  Terrain u = flat();
  u.tiles[0].erosion.depth = 0;
  queue_push(&q, u, 20, 20, 100);
  apply_erosion_records(&q, &u, 60, 60, 100);
  EXPECT_EQ(changed_count(u), 0);
}

// The same pushes over and over at one place, as a field of bikes taking
// one line lap after lap: the rut and its pile stop at the loose layer's
// band, soil is still moved rather than made, and once there the ground
// stops changing. (The slope rule alone would stop a rut at one place too;
// it is set aside here so that only the band holds.)
TEST(ErosionApply, RutsAndPilesStopAtTheLooseLayer) {
  for (float depth : {1.0f, 2.0f, 10.0f}) {
    Terrain t = flat();
    // A bump the wheels ride over, so the band is measured from the ground
    // as it was, not from level.
    for (int r = 0; r < t.N; r++)
      for (int c = 0; c < t.N; c++) at(t, c, r) = 0.1f * std::sin(0.3f * c) + 0.05f * r;
    const std::vector<float> start = t.heights;
    t.tiles[0].erosion.depth = depth;
    t.tiles[0].erosion.max_slope = 1000;
    const float band = std::min(EROSION_LOOSE_LAYER * depth, EROSION_MAX_BAND);
    ErosionQueue q{};
    int64_t count_then = 0;
    for (int pass = 0; pass < 600; pass++) {
      if (pass == 500) count_then = t.modification_count;
      queue_push(&q, t, 20, 20, 400);        // pile 2 behind, towards -x
      queue_push(&q, t, 30.5f, 31.25f, 0, -120);  // pile 1.4 towards +z
      ASSERT_EQ(apply_erosion_records(&q, &t, 60, 60, 100), 2);
    }
    float deepest = 0, highest = 0;
    double volume = 0, moved = 0;
    for (size_t i = 0; i < t.heights.size(); i++) {
      float d = t.heights[i] - start[i];
      deepest = std::min(deepest, d);
      highest = std::max(highest, d);
      volume += d;
      moved += std::fabs(d);
    }
    // 600 full strokes would go 29 ft down; the band holds them, and both
    // rut and pile reach it.
    EXPECT_GE(deepest, -band * 1.0001f) << depth;
    EXPECT_LE(highest, band * 1.0001f) << depth;
    EXPECT_LT(deepest, -0.9f * band) << depth;
    EXPECT_GT(highest, 0.9f * band) << depth;
    EXPECT_NEAR(volume, 0.0, 1e-3 * moved) << depth;
    EXPECT_EQ(t.modification_count, count_then) << depth;  // settled
  }
}

TEST(ErosionApply, TheLooseLayerBoundsErosionNotTheBrush) {
  Terrain t = flat();
  t.tiles[0].erosion.max_slope = 1000;  // only the band may hold a stroke back
  // The editor's brush goes as deep as it is told, and the band is measured
  // from the ground as the wheels first find it.
  ASSERT_TRUE(deform(&t, 20, 20, 4, -3));
  EXPECT_FLOAT_EQ(at(t, 20, 20), -3.0f);
  ErosionQueue q{};
  for (int i = 0; i < 300; i++) {
    queue_push(&q, t, 20, 20, 400);
    ASSERT_EQ(apply_erosion_records(&q, &t, 0, 60, 100), 1);
  }
  EXPECT_LT(at(t, 20, 20), -3.0f - 0.6f * EROSION_LOOSE_LAYER);
  EXPECT_GE(at(t, 20, 20), -3.0f - 1.0001f * EROSION_LOOSE_LAYER);
  // After the ruts the brush still goes as deep as it is told.
  const float floor = at(t, 20, 20);
  ASSERT_TRUE(deform(&t, 20, 20, 4, -3));
  EXPECT_FLOAT_EQ(at(t, 20, 20), floor - 3.0f);
  // A reloaded field measures the band afresh.
  init_flat_terrain(&t, 5, 1.0f, -5.0f);
  EXPECT_TRUE(t.undug_heights.empty());
  t.tiles[0].erosion.max_slope = 1000;
  for (int i = 0; i < 300; i++) {
    queue_push(&q, t, 20, 20, 400);
    ASSERT_EQ(apply_erosion_records(&q, &t, 0, 60, 100), 1);
  }
  EXPECT_LT(at(t, 20, 20), -5.0f - 0.6f * EROSION_LOOSE_LAYER);
  EXPECT_GE(at(t, 20, 20), -5.0f - 1.0001f * EROSION_LOOSE_LAYER);
}

TEST(ErosionApply, TheUndugGroundIsTheGroundBeforeTheFirstRut) {
  Terrain t = flat();
  for (int r = 0; r < t.N; r++)
    for (int c = 0; c < t.N; c++) at(t, c, r) = 0.3f * std::sin(0.4f * c + 0.2f * r);
  const Terrain shaped = t;
  const float points[][2] = {{20.3f, 20.8f}, {21.7f, 19.1f}, {-3, 5}, {70, 70}, {33.5f, 12.25f}};
  for (auto p : points) EXPECT_EQ(undug_height_at(t, p[0], p[1]), height_at(t, p[0], p[1]));
  ErosionQueue q{};
  for (int i = 0; i < 20; i++) queue_push(&q, t, 20 + 0.2f * i, 20, 400);
  while (apply_erosion_records(&q, &t, 0, 60, 100) > 0) {
  }
  ASSERT_NE(height_at(t, 20.3f, 20.8f), height_at(shaped, 20.3f, 20.8f));
  // Same triangulation, same numbers, on the heights as they were.
  for (auto p : points) EXPECT_EQ(undug_height_at(t, p[0], p[1]), height_at(shaped, p[0], p[1]));
}

TEST(ErosionApply, HostileTileValuesNeitherCrashNorPoisonTheField) {
  void (*breakers[])(Erosion*) = {
      [](Erosion* e) { e->upper = e->lower; },
      [](Erosion* e) { e->on_speed = e->off_speed; },
      [](Erosion* e) { e->on_speed = 5; },  // below the off speed
      [](Erosion* e) { e->max_slope = std::nanf(""); },
      [](Erosion* e) { e->depth = std::nanf(""); },
      [](Erosion* e) { e->depth = INFINITY; },
      [](Erosion* e) { e->radius = INFINITY; },
      [](Erosion* e) { e->radius = -3; },
      [](Erosion* e) { e->displacement = 1e30f; },
      [](Erosion* e) { e->displacement = -2; },
      [](Erosion* e) { e->lower = std::nanf(""); },
      [](Erosion* e) { e->lower = -1e30f; },
  };
  for (auto brk : breakers) {
    Terrain t = flat();
    brk(&t.tiles[0].erosion);
    ErosionQueue q{};
    for (float speed : {9.0f, 10.0f, 12.0f, 40.0f})
      for (float push : {50.0f, 100.0f, 150.0f, 1e6f}) queue_erosion_record(&q, t, 20, 20, 0.1f, speed, push, push);
    while (apply_erosion_records(&q, &t, 60, 60, 100) > 0) {
    }
    for (float h : t.heights) ASSERT_TRUE(std::isfinite(h));
    EXPECT_TRUE(std::isfinite(t.low) && std::isfinite(t.high));
  }
}

// --- the frame's re-bake of dug ground -----------------------------------------------

// Rolling ground (so normals differ from vertex to vertex) under a low sun,
// with shadows, the normal map and everything baked.
Terrain lit_rolling_ground() {
  Terrain t = flat();
  for (int r = 0; r < t.N; r++)
    for (int c = 0; c < t.N; c++) at(t, c, r) = 0.7f * std::sin(0.3f * c) * std::cos(0.2f * r);
  TrackLighting l;
  init_lighting(&l);
  l.sun_vector = Vec3{0.6f, 0.64f, 0.48f};
  t.light = shading_light(l);
  build_normal_map(&t);
  for (int i = 0; i < t.N * t.N; i++) t.shadows[i] = (uint8_t)(i * 7);
  recompute_shading(&t, t.light, 0, 0, t.N - 1, t.N - 1);
  return t;
}

void full_bake(Terrain* t) { recompute_shading(t, t->light, 0, 0, t->N - 1, t->N - 1); }

TEST(ShadingRefresh, ErosionWaitsForTheFrameAndThenMatchesAFullBake) {
  Terrain t = lit_rolling_ground();
  const Terrain before = t;
  ErosionQueue q{};
  for (int i = 0; i < 6; i++) queue_push(&q, t, 20 + 0.4f * i, 30, 120, 40);
  while (apply_erosion_records(&q, &t, 60, 60, 100) > 0) {
  }
  ASSERT_NE(t.heights, before.heights);  // the physics sees the ruts at once
  EXPECT_EQ(t.shading, before.shading);   // the look waits for the frame
  EXPECT_EQ(t.normal_map, before.normal_map);
  EXPECT_FALSE(blocks_since(t, 0).empty());  // the renderer hears of it at once
  EXPECT_FALSE(t.shading_due.empty());

  // Far from the ruts nothing is re-baked: poison a patch there.
  for (int r = 50; r < 60; r++)
    for (int c = 50; c < 60; c++) t.shading[((size_t)r * t.N + c) * 3] = 1;
  size_t rebaked = refresh_deformed_shading(&t);
  EXPECT_GT(rebaked, 0u);
  EXPECT_TRUE(t.shading_due.empty());
  Terrain full = t;
  full_bake(&full);
  for (int r = 0; r < t.N; r++)
    for (int c = 0; c < t.N; c++) {
      size_t i = (size_t)r * t.N + c;
      bool poisoned = r >= 50 && r < 60 && c >= 50 && c < 60;
      if (poisoned) ASSERT_EQ(t.shading[i * 3], 1) << c << "," << r;
      else ASSERT_EQ(t.shading[i * 3], full.shading[i * 3]) << c << "," << r;
      ASSERT_EQ(t.shading[i * 3 + 1], full.shading[i * 3 + 1]) << c << "," << r;
      ASSERT_EQ(t.normal_map[i * 3], full.normal_map[i * 3]) << c << "," << r;
      ASSERT_EQ(t.normal_map[i * 3 + 2], full.normal_map[i * 3 + 2]) << c << "," << r;
    }
  // The ruts run from x 20 to 22 at z 30 with radius 4 and the pile behind:
  // the re-bake stays within that, plus the ring.
  EXPECT_LE(rebaked, (size_t)(16 * 14));
  EXPECT_EQ(refresh_deformed_shading(&t), 0u);  // nothing left
}

TEST(ShadingRefresh, EachVertexIsRebakedOnceHoweverManyStrokesReachIt) {
  Terrain t = lit_rolling_ground();
  TerrainRegion touched = EMPTY_REGION;
  ASSERT_TRUE(deform_heights(&t, 30.5f, 30.5f, 3, 0.1f, &touched));
  Terrain once = t;
  size_t single = refresh_deformed_shading(&once);
  // The stroke changes columns and rows 28..33; the ring makes that 8 x 8.
  EXPECT_EQ(single, 64u);
  for (int k = 0; k < 5; k++) ASSERT_TRUE(deform_heights(&t, 30.5f, 30.5f, 3, 0.1f, &touched));
  EXPECT_EQ(t.shading_due.size(), single);
  // A stroke elsewhere adds only its own vertices, overlapping ones once.
  ASSERT_TRUE(deform_heights(&t, 34.5f, 30.5f, 3, 0.1f, &touched));
  EXPECT_EQ(refresh_deformed_shading(&t), single + 4 * 8);
  Terrain full = t;
  full_bake(&full);
  EXPECT_EQ(t.shading, full.shading);
  EXPECT_EQ(t.normal_map, full.normal_map);
}

TEST(ShadingRefresh, BrushStrokesRebakeAtOnceAndTakeWhatWasDueWithThem) {
  Terrain t = lit_rolling_ground();
  TerrainRegion touched = EMPTY_REGION;
  ASSERT_TRUE(deform_heights(&t, 10, 10, 4, 0.5f, &touched));  // waiting
  ASSERT_TRUE(deform(&t, 40, 40, 4, -0.5f));                    // a tool's stroke
  EXPECT_TRUE(t.shading_due.empty());
  Terrain full = t;
  full_bake(&full);
  EXPECT_EQ(t.shading, full.shading);
  EXPECT_EQ(t.normal_map, full.normal_map);
}

TEST(ShadingRefresh, TheFramePaceWaitsFourTicksAndNotAfterTheClockGoesBack) {
  Terrain t = lit_rolling_ground();
  TerrainRegion touched = EMPTY_REGION;
  const double tick = 1.0 / 128;
  EXPECT_EQ(refresh_deformed_shading_on_pace(&t, 10 * tick), 0u);  // nothing due: nothing to do
  ASSERT_TRUE(deform_heights(&t, 20, 20, 3, 0.2f, &touched));
  // Frames at 60 a second after the last refresh at tick 10.
  EXPECT_EQ(refresh_deformed_shading_on_pace(&t, 12 * tick), 0u);
  EXPECT_EQ(refresh_deformed_shading_on_pace(&t, 13.5 * tick), 0u);
  EXPECT_GT(refresh_deformed_shading_on_pace(&t, 14 * tick), 0u);  // four ticks on
  EXPECT_TRUE(t.shading_due.empty());
  ASSERT_TRUE(deform_heights(&t, 40, 40, 3, 0.2f, &touched));
  EXPECT_EQ(refresh_deformed_shading_on_pace(&t, 16 * tick), 0u);
  // A rewind or a new race: the clock went back, so at once.
  EXPECT_GT(refresh_deformed_shading_on_pace(&t, 2 * tick), 0u);
  Terrain full = t;
  full_bake(&full);
  EXPECT_EQ(t.shading, full.shading);
}

TEST(ShadingRefresh, ANewFieldDropsWhatWasDueForTheOldOne) {
  Terrain t = lit_rolling_ground();
  TerrainRegion touched = EMPTY_REGION;
  ASSERT_TRUE(deform_heights(&t, 60, 60, 4, 0.5f, &touched));
  init_flat_terrain(&t, 2, 1.0f, 0.0f);  // 9 x 9: the old indices are out of it
  EXPECT_EQ(refresh_deformed_shading(&t), 0u);
  // A grid swapped without the loaders' reset is not overrun either.
  Terrain u = lit_rolling_ground();
  ASSERT_TRUE(deform_heights(&u, 60, 60, 4, 0.5f, &touched));
  std::vector<uint32_t> due = u.shading_due;
  u = flat(2);
  u.shading_due = due;
  EXPECT_EQ(refresh_deformed_shading(&u), 0u);
  EXPECT_TRUE(u.shading_due.empty());
  ASSERT_TRUE(deform_heights(&u, 4, 4, 1, 0.5f, &touched));
  EXPECT_GT(refresh_deformed_shading(&u), 0u);
}

// --- the change record ------------------------------------------------------------

TEST(TerrainChanges, SizedByTheGrid) {
  Terrain t = flat(9);  // 1025 vertices: 1024 cells
  EXPECT_EQ(t.change_blocks_per_side, 8);
  EXPECT_EQ(t.change_patches_per_side, 128);
  Terrain small = flat(0);  // 3 vertices
  EXPECT_EQ(small.change_blocks_per_side, 1);
  EXPECT_EQ(small.change_patches_per_side, 1);
  EXPECT_EQ(blocks_since(small, 0).size(), 0u);
  EXPECT_EQ(change_block_region(t, 7, 7).c0, 896);
  EXPECT_EQ(change_block_region(t, 7, 7).c1, 1024);
  EXPECT_EQ(change_block_region(small, 0, 0).c1, 2);
  EXPECT_TRUE(region_empty(change_block_region(t, 8, 0)));
}

TEST(TerrainChanges, BoundaryVerticesBelongToBothBlocks) {
  Terrain t = flat(9);
  struct Case {
    TerrainRegion region;
    std::vector<int> blocks;
  } cases[] = {
      {{128, 3, 128, 3}, {0, 1}},           // on the boundary column
      {{129, 3, 129, 3}, {1}},              // just past it
      {{127, 128, 127, 128}, {0, 8}},       // boundary row
      {{0, 0, 0, 0}, {0}},                  // first corner
      {{1024, 1024, 1024, 1024}, {63}},     // last corner: only the last block
      {{-50, -50, 2000, 3}, {0, 1, 2, 3, 4, 5, 6, 7}},  // clamped to the grid
      {{2000, 0, 3000, 5}, {}},             // wholly outside
      {{10, 10, 5, 20}, {}},                // empty
  };
  for (const Case& k : cases) {
    int64_t since = t.modification_count;
    t.modification_count++;
    mark_terrain_changed(&t, k.region);
    EXPECT_EQ(blocks_since(t, since), k.blocks) << k.region.c0 << "," << k.region.r0;
  }
  // Older changes stay visible to a reader that has not looked since.
  EXPECT_EQ(blocks_since(t, 0).size(), 10u);
  // A short buffer gets the first blocks and the full count.
  int two[2] = {-1, -1};
  EXPECT_EQ(changed_blocks_since(t, 0, two, 2), 10);
  EXPECT_EQ(two[0], 0);
  EXPECT_EQ(two[1], 1);
}

TEST(TerrainChanges, StrokesMarkTheirRelitRingAndPatchesNarrowIt) {
  Terrain t = flat(9);
  // Radius 4 at column 123 changes columns up to 126, re-lit to 127.
  ASSERT_TRUE(deform(&t, 123, 50, 4, 1));
  EXPECT_EQ(blocks_since(t, 0), std::vector<int>{0});
  // At column 124 the changes reach 127 and the re-lit ring the boundary.
  int64_t seen = t.modification_count;
  ASSERT_TRUE(deform(&t, 124, 50, 4, 1));
  EXPECT_EQ(blocks_since(t, seen), (std::vector<int>{0, 1}));
  EXPECT_TRUE(blocks_since(t, t.modification_count).empty());
  EXPECT_TRUE(region_changed_since(t, seen, TerrainRegion{128, 40, 135, 60}));
  EXPECT_FALSE(region_changed_since(t, seen, TerrainRegion{137, 40, 200, 60}));  // next patch along
  EXPECT_TRUE(region_changed_since(t, seen, TerrainRegion{120, 0, 130, 40}));    // row 40 borders it
  EXPECT_FALSE(region_changed_since(t, seen, TerrainRegion{120, 0, 130, 39}));   // patch row below
  EXPECT_FALSE(region_changed_since(t, t.modification_count, TerrainRegion{0, 0, 1024, 1024}));
  // A grid swapped under the record is re-sized, not overrun.
  Terrain u = flat(3);
  u.patch_stamp.clear();
  ASSERT_TRUE(deform(&u, 8, 8, 2, 1));
  EXPECT_EQ(blocks_since(u, 0), std::vector<int>{0});
}

}  // namespace
