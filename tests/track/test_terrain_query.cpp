#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "track/terrain.h"

namespace {

// A 5 x 5 field (n = 1) whose vertex (c, r) has height 10c + r, spacing 2.
Terrain ramp_terrain() {
  Terrain t{};
  init_flat_terrain(&t, 1, 2.0f, 0.0f);
  for (int r = 0; r < t.N; r++)
    for (int c = 0; c < t.N; c++) t.heights[c + t.N * r] = 10.0f * c + r;
  return t;
}

void set_height(Terrain& t, int c, int r, float h) { t.heights[c + t.N * r] = h; }

TEST(TerrainQuery, SizesFollowTheExponent) {
  Terrain t{};
  init_flat_terrain(&t, 0, 1.0f, 3.0f);
  EXPECT_EQ(t.N, 3);
  EXPECT_EQ(t.tiles_per_side, 1);
  EXPECT_FLOAT_EQ(t.width, 2.0f);
  EXPECT_FLOAT_EQ(height_at(t, 0.7f, 1.3f), 3.0f);
}

TEST(TerrainQuery, PlanarFieldIsReproducedExactlyInBothTriangles) {
  Terrain t = ramp_terrain();
  // A plane is interpolated exactly by any triangulation.
  for (float x : {0.1f, 1.0f, 2.5f, 3.9f, 5.2f, 7.7f})
    for (float z : {0.3f, 1.9f, 2.1f, 4.4f, 6.0f})
      EXPECT_NEAR(height_at(t, x, z), 10.0f * x / 2 + z / 2, 1e-4f) << x << "," << z;
}

TEST(TerrainQuery, DiagonalFollowsTheCheckerboard) {
  Terrain t{};
  init_flat_terrain(&t, 1, 1.0f, 0.0f);
  // Even cell (0,0): diagonal (0,0)-(1,1). Raise only (0,0) and (1,1).
  set_height(t, 0, 0, 4.0f);
  set_height(t, 1, 1, 2.0f);
  EXPECT_FLOAT_EQ(height_at(t, 0.5f, 0.5f), 3.0f);  // midpoint of that diagonal
  // Odd cell (1,0): diagonal (2,0)-(1,1). Its centre averages those corners.
  set_height(t, 2, 0, 6.0f);
  EXPECT_FLOAT_EQ(height_at(t, 1.5f, 0.5f), 4.0f);
  // On the even cell, a point just off the diagonal sees only one triangle:
  // fz < fx uses (1,0), (0,0), (1,1).
  EXPECT_NEAR(height_at(t, 0.75f, 0.25f), 0.25f * 4.0f + 0.25f * 2.0f, 1e-5f);
  // fz > fx uses (0,1), (1,1), (0,0): height (1,0) does not matter there.
  set_height(t, 1, 0, 100.0f);
  EXPECT_NEAR(height_at(t, 0.25f, 0.75f), 0.25f * 4.0f + 0.25f * 2.0f, 1e-5f);
}

TEST(TerrainQuery, OutsideTheFieldTheEdgeContinuesFlat) {
  Terrain t = ramp_terrain();
  EXPECT_FLOAT_EQ(height_at(t, -5.0f, 2.0f), height_at(t, 0.0f, 2.0f));
  EXPECT_FLOAT_EQ(height_at(t, 100.0f, 100.0f), grid_height(t, 4, 4));
  EXPECT_FLOAT_EQ(height_at(t, -1e30f, 1e30f), grid_height(t, 0, 4));
}

TEST(TerrainQuery, TriangleAtAgreesWithHeightAt) {
  Terrain t = ramp_terrain();
  set_height(t, 2, 2, 50.0f);
  for (float x = 0.05f; x < 8.0f; x += 0.37f) {
    for (float z = 0.05f; z < 8.0f; z += 0.41f) {
      Vec3 p[3];
      triangle_at(t, x, z, p);
      Vec3 n = cross(p[1] - p[0], p[2] - p[0]);
      ASSERT_NE(n.y, 0.0f);
      float y = p[0].y - (n.x * (x - p[0].x) + n.z * (z - p[0].z)) / n.y;
      EXPECT_NEAR(y, height_at(t, x, z), 1e-3f) << x << "," << z;
    }
  }
}

TEST(TerrainQuery, VertexNormals) {
  Terrain flat{};
  init_flat_terrain(&flat, 1, 1.0f, 7.0f);
  Vec3 n = vertex_normal(flat, 2, 2);
  EXPECT_FLOAT_EQ(n.x, 0.0f);
  EXPECT_FLOAT_EQ(n.y, 1.0f);
  EXPECT_FLOAT_EQ(n.z, 0.0f);
  // A plane rising 1 per unit in x: the normal is (-1, 1, 0) / sqrt 2.
  Terrain slope{};
  init_flat_terrain(&slope, 1, 1.0f, 0.0f);
  for (int r = 0; r < slope.N; r++)
    for (int c = 0; c < slope.N; c++) set_height(slope, c, r, (float)c);
  n = vertex_normal(slope, 2, 2);
  EXPECT_NEAR(n.x, -std::sqrt(0.5f), 1e-5f);
  EXPECT_NEAR(n.y, std::sqrt(0.5f), 1e-5f);
  EXPECT_NEAR(n.z, 0.0f, 1e-5f);
}

// The normal as the plain sum of the eight unit triangle normals around the
// vertex, one at a time: the grouped arithmetic must give the same bits, or
// shading baked in pieces would not match a whole-field bake elsewhere.
Vec3 reference_normal(const Terrain& t, int c, int r) {
  const float s = t.spacing;
  static const int ring[8][2] = {{-1, -1}, {0, -1}, {1, -1}, {1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}};
  Vec3 p[8];
  for (int j = 0; j < 8; j++) {
    int cc = c + ring[j][0], rr = r + ring[j][1];
    p[j] = Vec3{(float)cc * s - (float)c * s, grid_height(t, cc, rr) - grid_height(t, c, r), (float)rr * s - (float)r * s};
  }
  Vec3 sum = {0, 0, 0};
  for (int j = 0; j < 8; j++) {
    Vec3 n = cross(p[(j + 1) & 7], p[j]);
    float len = sqrtf(dot(n, n));
    if (len > 0) sum = sum + n * (1.0f / len);
  }
  float len = sqrtf(dot(sum, sum));
  if (len <= 0) return Vec3{0, 1, 0};
  return sum * (1.0f / len);
}

TEST(TerrainQuery, VertexNormalsMatchTheOneAtATimeSumBitForBit) {
  Terrain t{};
  init_flat_terrain(&t, 3, 1.7f, 0.0f);  // 17 x 17
  uint32_t seed = 12345;
  for (float& h : t.heights) {
    seed = seed * 1664525u + 1013904223u;
    h = (float)(seed >> 8) / 16777216.0f * 40.0f - 20.0f;
  }
  // Cliffs, a flat patch (zero-area triangles do not occur, but level ones
  // do) and huge steps.
  for (int c = 0; c < 5; c++)
    for (int r = 0; r < 5; r++) t.heights[(size_t)(c + 6) + (size_t)t.N * (size_t)(r + 6)] = 3.0f;
  t.heights[(size_t)12 + (size_t)t.N * 3] = 1e6f;
  t.heights[(size_t)13 + (size_t)t.N * 3] = -1e6f;
  for (int r = 0; r < t.N; r++)
    for (int c = 0; c < t.N; c++) {
      Vec3 a = vertex_normal(t, c, r), b = reference_normal(t, c, r);
      ASSERT_EQ(memcmp(&a, &b, sizeof a), 0) << c << "," << r << ": " << a.x << " " << a.y << " " << a.z;
    }
  // Four at a time, in scattered groups, lane by lane the same.
  std::vector<uint32_t> inner;
  for (int r = 1; r < t.N - 1; r++)
    for (int c = 1; c < t.N - 1; c++) inner.push_back((uint32_t)(c + t.N * r));
  for (size_t k = 0; k + 4 <= inner.size(); k += 4) {
    uint32_t group[4] = {inner[k], inner[(k * 7 + 1) % inner.size()], inner[(k * 13 + 5) % inner.size()],
                         inner[k + 3]};
    Vec3 n[4];
    vertex_normals4(t, group, n);
    for (int g = 0; g < 4; g++) {
      Vec3 want = reference_normal(t, (int)(group[g] % t.N), (int)(group[g] / t.N));
      ASSERT_EQ(memcmp(&n[g], &want, sizeof want), 0) << group[g] << " lane " << g;
    }
  }
}

TEST(TerrainQuery, TileAtClampsToTheMap) {
  Terrain t{};
  init_flat_terrain(&t, 2, 1.0f, 0.0f);  // 4 x 4 tiles of 2 x 2 units
  for (int i = 0; i < 16; i++) t.tile_map[i] = (uint8_t)i;
  t.tile_count = 16;
  EXPECT_EQ(tile_at(t, 0.5f, 0.5f), 0);
  EXPECT_EQ(tile_at(t, 2.5f, 0.5f), 1);
  EXPECT_EQ(tile_at(t, 0.5f, 2.5f), 4);
  EXPECT_EQ(tile_at(t, -3.0f, 5.0f), 8);   // left of the field: column 0
  EXPECT_EQ(tile_at(t, 100.0f, 100.0f), 15);
  EXPECT_EQ(tile_at(t, NAN, NAN), 0);
}

TEST(TileCurves, DefaultsAndTheTwoPointFriction) {
  Tile tile;
  init_tile(&tile);
  EXPECT_FLOAT_EQ(friction_at(tile, 0.0f), 1.0f);
  EXPECT_FLOAT_EQ(friction_at(tile, 50.0f), 1.0f);
  EXPECT_FLOAT_EQ(rolling_resistance_at(tile, 3.0f, 0.0f), 5.0f);
  EXPECT_FLOAT_EQ(rolling_resistance_at(tile, 3.0f, 1.0f), 15.0f);
  EXPECT_FLOAT_EQ(rolling_resistance_at(tile, 3.0f, 0.5f), 10.0f);

  tile.friction[0] = {0.5f, 2.0f};
  tile.friction[1] = {1.0f, 4.0f};
  tile.friction[2] = {1.0f, 0.0f};
  EXPECT_FLOAT_EQ(friction_at(tile, 1.0f), 0.5f);
  EXPECT_NEAR(friction_at(tile, std::sqrt(10.0f)), 0.75f, 1e-6f);  // linear in v^2
  EXPECT_FLOAT_EQ(friction_at(tile, 5.0f), 1.0f);

  // A list that starts with a zero key always gives the first value.
  tile.friction[0] = {0.3f, 0.0f};
  EXPECT_FLOAT_EQ(friction_at(tile, 9.0f), 0.3f);
}

TEST(TileCurves, RollingResistanceIsLinearInSpeed) {
  Tile tile;
  init_tile(&tile);
  tile.roll_resist[0] = {2.0f, 4.0f, 10.0f};
  tile.roll_resist[1] = {6.0f, 12.0f, 20.0f};
  EXPECT_FLOAT_EQ(rolling_resistance_at(tile, 5.0f, 0.0f), 2.0f);
  EXPECT_FLOAT_EQ(rolling_resistance_at(tile, 15.0f, 0.0f), 4.0f);
  EXPECT_FLOAT_EQ(rolling_resistance_at(tile, 15.0f, 1.0f), 8.0f);
  EXPECT_FLOAT_EQ(rolling_resistance_at(tile, 30.0f, 0.5f), 9.0f);
}

}  // namespace
