// The ground's level of detail: node values and their nesting, the
// resumable refresh, split marking around the camera, and fans that meet
// without cracks wherever the camera stands.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>

#include "render/ground_lod.h"
#include "track/terrain.h"

namespace {

// Rolling ground with a few sharp bumps, so that every level has work.
void bumpy(Terrain* t, int n, float spacing, uint32_t seed) {
  init_flat_terrain(t, n, spacing, 0.0f);
  std::mt19937 rng(seed);
  for (int r = 0; r < t->N; r++)
    for (int c = 0; c < t->N; c++)
      t->heights[(size_t)(c + t->N * r)] = 6.0f * std::sin(c * 0.21f) * std::cos(r * 0.13f) + (rng() % 100) * 0.01f;
}

struct Edge {
  int a, b;  // vertex keys, a < b
  bool operator<(const Edge& o) const { return a < o.a || (a == o.a && b < o.b); }
};

// Every ring edge of every fan, counted. A crack (a vertex of one fan lying
// inside another fan's edge) leaves an inner edge counted once.
void check_crack_free(const GroundLod& lod, const Terrain& t) {
  std::vector<GroundFan> fans;
  collect_ground_fans(lod, &fans);
  ASSERT_FALSE(fans.empty());
  std::map<Edge, int> edges;
  double area = 0;
  const int last = t.N - 1;
  for (const GroundFan& f : fans) {
    int c[10], r[10];
    int count = fan_vertices(lod, f, c, r);
    ASSERT_GE(count, 6);
    for (int k = 1; k + 1 < count; k++) {
      int a = c[k] + t.N * r[k], b = c[k + 1] + t.N * r[k + 1];
      edges[{std::min(a, b), std::max(a, b)}]++;
      // Counter-clockwise seen from above: the y of (p - centre) x (q - centre) is positive.
      double ax = c[k] - c[0], az = r[k] - r[0], bx = c[k + 1] - c[0], bz = r[k + 1] - r[0];
      double up = az * bx - ax * bz;
      ASSERT_GT(up, 0) << "fan " << f.level << "," << f.i << "," << f.j;
      area += up / 2;
    }
  }
  EXPECT_DOUBLE_EQ(area, (double)last * last);  // the fans tile the field exactly
  for (const auto& [edge, n] : edges) {
    int ca = edge.a % t.N, ra = edge.a / t.N, cb = edge.b % t.N, rb = edge.b / t.N;
    bool border = (ca == cb && (ca == 0 || ca == last)) || (ra == rb && (ra == 0 || ra == last));
    EXPECT_EQ(n, border ? 1 : 2) << "edge (" << ca << "," << ra << ")-(" << cb << "," << rb << ")";
  }
}

}  // namespace

TEST(GroundLod, FansMeetWithoutCracksWhereverTheCameraStands) {
  for (int n : {5, 6, 7}) {
    Terrain t;
    bumpy(&t, n, 2.0f, (uint32_t)n);
    GroundLod lod;
    init_ground_lod(&lod, t, 0.02);
    ASSERT_TRUE(update_ground_errors(&lod, t, -1));
    std::mt19937 rng(7);
    for (int k = 0; k < 6; k++) {
      float x = (float)(rng() % 1000) / 1000.0f * t.width, z = (float)(rng() % 1000) / 1000.0f * t.width;
      if (k == 0) x = z = 0.0f;             // a corner
      if (k == 1) x = z = t.width * 2.0f;   // outside the field
      mark_split_nodes(&lod, t, x, z);
      SCOPED_TRACE("n " + std::to_string(n) + " camera " + std::to_string(x) + "," + std::to_string(z));
      check_crack_free(lod, t);
    }
    free_terrain(&t);
  }
}

TEST(GroundLod, ValuesNestSoASplitNodeNeverHasAnUnsplitParent) {
  Terrain t;
  bumpy(&t, 6, 1.5f, 3);
  GroundLod lod;
  init_ground_lod(&lod, t, 0.02);
  update_ground_errors(&lod, t, -1);
  const int n = lod.n;
  for (int level = 0; level < n; level++) {
    double margin = node_half_width(n, level) * t.spacing * NEST_FACTOR;
    for (int j = 0; j < (1 << level); j++)
      for (int i = 0; i < (1 << level); i++) {
        double v = lod.error[(size_t)node_index(level, i, j)];
        for (int k = 0; k < 4; k++) {
          double child = lod.error[(size_t)node_index(level + 1, 2 * i + (k & 1), 2 * j + (k >> 1))];
          EXPECT_GE(v * 1.0001, std::pow(std::sqrt(child) + margin, 2));
        }
        if (2 * i + 2 < (1 << (level + 1))) {
          double side = lod.error[(size_t)node_index(level + 1, 2 * i + 2, 2 * j)];
          EXPECT_GE(v * 1.0001, std::pow(std::sqrt(side) + margin, 2));
        }
      }
  }
  // The error term itself: H / g plus the node's own reach.
  float h = node_height_error(t, n, n, 5, 9);
  double own = h / 0.02 + t.spacing * 0.7071067811865476 * node_half_width(n, n);
  EXPECT_FLOAT_EQ(lod.error[(size_t)node_index(n, 5, 9)], (float)(own * own));
  free_terrain(&t);
}

TEST(GroundLod, HeightErrorFollowsTheCheckerboardDiagonal) {
  Terrain t;
  init_flat_terrain(&t, 3, 1.0f, 0.0f);
  // One raised vertex in the middle of node (3, 0, 0), a 2 x 2-cell node.
  t.heights[(size_t)(1 + t.N * 1)] = 2.0f;
  EXPECT_FLOAT_EQ(node_height_error(t, 3, 3, 0, 0), 2.0f);
  // A tilted plane is drawn exactly by either diagonal: no error anywhere.
  for (int r = 0; r < t.N; r++)
    for (int c = 0; c < t.N; c++) t.heights[(size_t)(c + t.N * r)] = 0.5f * c + 0.25f * r;
  EXPECT_FLOAT_EQ(node_height_error(t, 3, 0, 0, 0), 0.0f);
  // Raising one corner bends the node: the far triangle stays flat, the
  // near one tilts, and nothing inside differs more than the raise itself.
  for (float& h : t.heights) h = 0.0f;
  t.heights[(size_t)(2 + t.N * 0)] = 4.0f;  // corner (c1, r0) of node (3, 0, 0)
  EXPECT_FLOAT_EQ(node_height_error(t, 3, 3, 0, 0), 2.0f);  // the midpoint (1, 0) lies at 0, the plane at 2
  free_terrain(&t);
}

TEST(GroundLod, BudgetedRefreshEndsWhereTheFullOneDoes) {
  Terrain t;
  bumpy(&t, 6, 1.0f, 11);
  GroundLod full, stepped;
  init_ground_lod(&full, t, 0.02);
  update_ground_errors(&full, t, -1);
  init_ground_lod(&stepped, t, 0.02);
  int frames = 0;
  while (!update_ground_errors(&stepped, t, GROUND_ERROR_BUDGET)) frames++;
  EXPECT_GT(frames, 10);  // a 129 x 129 field is more than one frame's work
  EXPECT_EQ(full.error, stepped.error);

  // A dug hole: the region's refresh gives what a complete one would.
  for (int r = 40; r < 46; r++)
    for (int c = 70; c < 75; c++) t.heights[(size_t)(c + t.N * r)] -= 3.0f;
  mark_ground_errors_dirty(&stepped, 70, 40, 74, 45);
  while (!update_ground_errors(&stepped, t, 500)) {
  }
  init_ground_lod(&full, t, 0.02);
  update_ground_errors(&full, t, -1);
  EXPECT_EQ(full.error, stepped.error);
  free_terrain(&t);
}

TEST(GroundLod, GroundChangingEveryFrameStillSeesEachRefreshThrough) {
  Terrain t;
  bumpy(&t, 6, 1.0f, 5);
  GroundLod lod, full;
  init_ground_lod(&lod, t, 0.02);
  update_ground_errors(&lod, t, -1);
  // A hole, then a patch somewhere marked changed every frame (as a field
  // of bikes digging does; its heights stay put here so that the answer is
  // known): the hole's refresh still ends, so while the marks keep coming
  // its values, up to the root, are already what a complete refresh gives.
  // (Deep enough to change the values of the coarsest nodes too.)
  for (int r = 40; r < 46; r++)
    for (int c = 70; c < 75; c++) t.heights[(size_t)(c + t.N * r)] -= 40.0f;
  init_ground_lod(&full, t, 0.02);
  update_ground_errors(&full, t, -1);
  mark_ground_errors_dirty(&lod, 70, 40, 74, 45);
  for (int frame = 0; frame < 400; frame++) {
    EXPECT_FALSE(update_ground_errors(&lod, t, GROUND_ERROR_BUDGET));
    int c = 10 + frame % 20;
    mark_ground_errors_dirty(&lod, c, 100, c + 2, 102);
  }
  EXPECT_EQ(full.error, lod.error);
  // Once the marks stop, what waited is done too.
  int frames = 0;
  while (!update_ground_errors(&lod, t, GROUND_ERROR_BUDGET)) frames++;
  EXPECT_LT(frames, 400);
  EXPECT_EQ(full.error, lod.error);
  free_terrain(&t);
}

TEST(GroundLod, AFarRutReachesTheCoarseNodesWithinAFewFramesOnAFullSizeField) {
  // 1025 x 1025: the coarse nodes of a small rut's refresh span the whole
  // field, far more than the least budget gets through in a second. The
  // frame budget follows the refresh's size instead.
  Terrain t;
  bumpy(&t, 9, 2.0f, 3);
  GroundLod lod, full;
  init_ground_lod(&lod, t, 0.02);
  update_ground_errors(&lod, t, -1);
  for (int r = 600; r < 604; r++)
    for (int c = 300; c < 303; c++) t.heights[(size_t)(c + t.N * r)] -= 30.0f;
  init_ground_lod(&full, t, 0.02);
  update_ground_errors(&full, t, -1);
  mark_ground_errors_dirty(&lod, 300, 600, 302, 603);
  const long work = lod.work;
  EXPECT_GT(work / GROUND_ERROR_BUDGET, 60);  // a second and more at the least budget
  int frames = 0;
  while (true) {
    long budget = ground_error_budget(lod);
    ASSERT_GE(budget, GROUND_ERROR_BUDGET);
    ASSERT_LE(budget, GROUND_ERROR_BUDGET_MAX);
    frames++;
    if (update_ground_errors(&lod, t, budget)) break;
    ASSERT_LT(frames, 100);
  }
  // The spread, or the cap where the work is more than the spread allows:
  // a quarter of a second at 60 frames a second here.
  EXPECT_LE(frames, std::max<long>(GROUND_REFRESH_FRAMES, work / GROUND_ERROR_BUDGET_MAX + 1) + 1);
  EXPECT_LE(frames, 16);
  EXPECT_EQ(full.error, lod.error);
  // Ruts dug every frame somewhere else: each refresh still ends promptly,
  // the hole's included.
  for (int r = 200; r < 204; r++)
    for (int c = 800; c < 803; c++) t.heights[(size_t)(c + t.N * r)] += 25.0f;
  init_ground_lod(&full, t, 0.02);
  update_ground_errors(&full, t, -1);
  mark_ground_errors_dirty(&lod, 800, 200, 802, 203);
  for (int frame = 0; frame < 2 * GROUND_REFRESH_FRAMES + 2; frame++) {
    update_ground_errors(&lod, t, ground_error_budget(lod));
    int c = 100 + frame;
    mark_ground_errors_dirty(&lod, c, 100, c + 2, 102);  // heights unchanged there
  }
  EXPECT_EQ(full.error, lod.error);
  free_terrain(&t);
}

TEST(GroundLod, FullResolutionUnderTheCameraAndHorizontalDistanceOnly) {
  Terrain t;
  init_flat_terrain(&t, 7, 1.0f, 0.0f);
  // A cliff 40 high along column 128.
  for (int r = 0; r < t.N; r++)
    for (int c = 128; c < t.N; c++) t.heights[(size_t)(c + t.N * r)] = 40.0f;
  GroundLod lod;
  init_ground_lod(&lod, t, 0.02);
  update_ground_errors(&lod, t, -1);
  const int n = lod.n;
  // Straight above the cliff's foot: the camera's height plays no part.
  mark_split_nodes(&lod, t, 126.0f, 30.0f);
  std::vector<GroundFan> fans;
  collect_ground_fans(lod, &fans);
  bool full_under_camera = false;
  for (const GroundFan& f : fans) full_under_camera |= f.level == n && f.i == 63 && f.j == 15 && f.midpoints == 0x0f;
  EXPECT_TRUE(full_under_camera);
  // Far along the cliff the nodes straddling it still split to the finest
  // level (their error is huge), while flat ground that far stays coarse.
  EXPECT_TRUE(node_split(lod, n - 1, 31, 50) || node_split(lod, n - 1, 32, 50));
  EXPECT_FALSE(node_split(lod, n - 3, 2, 14));
  free_terrain(&t);
}
