// The wheel's contact search settles many cells without the torus test; it
// must find exactly what testing every triangle finds.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>

#include "bike/tyre_contact.h"
#include "track/terrain.h"

namespace {

// Every triangle of the cells under the wheel through the torus test, the
// one under the circle's lowest point first, as the search has always done.
bool every_triangle_search(const Terrain& t, DVec c, DVec axle, double R, double r, TriangleContact* out) {
  double ext = R + r;
  int c0, c1, r0, r1;
  cell_span_beyond_edges(t, c.x - ext, c.x + ext, &c0, &c1);
  cell_span_beyond_edges(t, c.z - ext, c.z + ext, &r0, &r1);
  DVec a = normalized(axle, DVec{1, 0, 0});
  DVec down = normalized(DVec{0, -1, 0} - a * dot(DVec{0, -1, 0}, a), DVec{0, -1, 0});
  DVec low = c + down * R;
  int lc = (int)std::floor(clampd(low.x / t.spacing, -1e6, 1e6));
  int lr = (int)std::floor(clampd(low.z / t.spacing, -1e6, 1e6));
  TriangleContact best{0, {0, 0, 0}, {0, 1, 0}};
  bool found = false;
  const PreparedTorus torus = make_torus(c, a, R, r);
  auto test_cell = [&](int cc, int rr) {
    Vec3 tris[2][3];
    cell_triangles(t, cc, rr, tris[0], tris[1]);
    for (const Vec3* tri : tris) {
      DVec d[3] = {dvec(tri[0]), dvec(tri[1]), dvec(tri[2])};
      TriangleContact hit;
      if (torus_triangle_contact(torus, d, &hit, best.depth)) {
        best = hit;
        found = true;
      }
    }
  };
  bool low_inside = lc >= c0 && lc <= c1 && lr >= r0 && lr <= r1;
  if (low_inside) test_cell(lc, lr);
  for (int rr = r0; rr <= r1; rr++)
    for (int cc = c0; cc <= c1; cc++)
      if (!(low_inside && cc == lc && rr == lr)) test_cell(cc, rr);
  if (!found) return false;
  DVec n = best.normal;
  if (n.y < 0) {
    n = n.x * n.x + n.z * n.z >= 1.0 / 1024 ? DVec{n.x, 0, n.z} : DVec{0, 1, 0};
    n = normalized(n);
  }
  best.normal = n;
  *out = best;
  return true;
}

struct Lcg {
  uint64_t s;
  double next() {
    s = s * 6364136223846793005ull + 1442695040888963407ull;
    return (double)(s >> 11) * (1.0 / 9007199254740992.0);
  }
  double between(double lo, double hi) { return lo + (hi - lo) * next(); }
};

bool same_bits(const TriangleContact& x, const TriangleContact& y) {
  return memcmp(&x.depth, &y.depth, sizeof x.depth) == 0 && memcmp(&x.point, &y.point, sizeof x.point) == 0 &&
         memcmp(&x.normal, &y.normal, sizeof x.normal) == 0;
}

}  // namespace

TEST(WheelContactSearch, SettlingCellsEarlyFindsWhatEveryTriangleFinds) {
  // A small field with level patches (where neighbouring triangles tie), a
  // ramp, a steep step, loose bumps and the flat ground beyond its edges.
  auto terrain = std::make_unique<Terrain>();
  Terrain& t = *terrain;
  init_flat_terrain(&t, 3, 2.0f, 0.0f);
  Lcg random{12345};
  for (int r = 0; r < t.N; r++)
    for (int c = 0; c < t.N; c++) {
      float h = 0;
      if (c >= 10 && r < 6) h = 0.75f;                                          // raised level shelf
      else if (c >= 10) h = (float)(0.5 * (c - 10));                            // ramp
      else if (r >= 11) h = (float)random.between(-0.4, 0.4);                   // bumps
      else if (r >= 8) h = (c & 2) ? 1.5f : 0.0f;                               // steep steps
      t.heights[(size_t)c + (size_t)t.N * (size_t)r] = h;
    }
  int contacts = 0, deep = 0, rejected = 0;
  for (int k = 0; k < 60000; k++) {
    double x = random.between(-3, 35), z = random.between(-3, 35);
    double R = random.next() < 0.5 ? 0.8333 : 0.75, r = 0.3333;
    DVec axle;
    double pick = random.next();
    if (pick < 0.3) axle = DVec{random.between(-1, 1), 0, random.between(-1, 1)};  // upright
    else if (pick < 0.4) axle = DVec{0, 1, 0};                                        // lying flat
    else if (pick < 0.45) axle = DVec{1, 0, 0};
    else axle = DVec{random.between(-1, 1), random.between(-1, 1), random.between(-1, 1)};  // any lean
    if (!(length(axle) > 1e-3)) axle = DVec{0, 0, 1};
    axle = normalized(axle);
    // From clear of the ground to buried below it.
    double ground = height_at(t, (float)x, (float)z);
    double y = ground + R + r - random.between(-0.3, 1.6);
    DVec c{x, y, z};
    TriangleContact fast{}, plain{};
    bool got_fast = find_wheel_contact(t, c, axle, R, r, &fast);
    bool got_plain = every_triangle_search(t, c, axle, R, r, &plain);
    ASSERT_EQ(got_fast, got_plain) << "case " << k;
    if (!got_fast) {
      rejected++;
      continue;
    }
    ASSERT_TRUE(same_bits(fast, plain)) << "case " << k << ": depth " << fast.depth << " against " << plain.depth;
    contacts++;
    if (fast.depth > r) deep++;
  }
  // The cases reach every outcome.
  EXPECT_GT(contacts, 20000);
  EXPECT_GT(deep, 2000);
  EXPECT_GT(rejected, 2000);
}
