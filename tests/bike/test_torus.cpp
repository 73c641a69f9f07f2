// The torus-triangle test against brute-force sampling of the torus surface.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>

#include "bike/torus_contact.h"

namespace {

struct Torus {
  DVec c, a;
  double R, r;
};

struct Tri {
  DVec p[3];
};

DVec up_normal(const Tri& t) {
  DVec n = normalized(cross(t.p[1] - t.p[0], t.p[2] - t.p[0]));
  return n.y < 0 ? -n : n;
}

bool over(const Tri& t, DVec n, DVec x) {
  for (int i = 0; i < 3; i++) {
    DVec e = t.p[(i + 1) % 3] - t.p[i];
    DVec m = cross(n, e);
    if (dot(m, t.p[(i + 2) % 3] - t.p[i]) < 0) m = -m;
    if (dot(x - t.p[i], m) < 0) return false;
  }
  return true;
}

// Deepest point of the sampled torus surface below the triangle's plane
// while over the triangle (negative when no sample is below it).
double sampled_depth(const Torus& T, const Tri& t, int steps_around = 360, int steps_section = 120) {
  DVec n = up_normal(t);
  DVec helper = std::fabs(T.a.x) < 0.6 ? DVec{1, 0, 0} : DVec{0, 1, 0};
  DVec u = normalized(cross(T.a, helper)), v = cross(T.a, u);
  double deepest = -1e9;
  for (int i = 0; i < steps_around; i++) {
    double th = 2 * PI_D * i / steps_around;
    DVec radial = u * std::cos(th) + v * std::sin(th);
    for (int j = 0; j < steps_section; j++) {
      double ph = 2 * PI_D * j / steps_section;
      DVec s = T.c + radial * (T.R + T.r * std::cos(ph)) + T.a * (T.r * std::sin(ph));
      double below = dot(t.p[0] - s, n);
      if (below > deepest && over(t, n, s)) deepest = below;
    }
  }
  return deepest;
}

// Whether any sampled point of the triangle lies inside the solid torus.
bool triangle_inside_torus(const Torus& T, const Tri& t, int steps = 160) {
  for (int i = 0; i <= steps; i++)
    for (int j = 0; i + j <= steps; j++) {
      double a = (double)i / steps, b = (double)j / steps;
      DVec x = t.p[0] + (t.p[1] - t.p[0]) * a + (t.p[2] - t.p[0]) * b;
      if (point_circle_distance(x, T.c, T.a, T.R, nullptr) < T.r) return true;
    }
  return false;
}

Torus moved(Torus T, DVec d) {
  T.c = T.c + d;
  return T;
}

struct Random {
  uint32_t s = 12345;
  double next() {
    s = s * 1664525u + 1013904223u;
    return (s >> 8) * (1.0 / 16777216.0);
  }
  double in(double lo, double hi) { return lo + (hi - lo) * next(); }
};

// The returned depth is the distance the torus must move along the returned
// normal to clear the triangle: a little less still overlaps it, a little
// more does not. The ground is taken as the triangle's surface, whose
// neighbours in a height field cover what lies beyond its edges.
void expect_separating_depth(const Torus& T, const Tri& t, const TriangleContact& hit, double margin) {
  EXPECT_NEAR(length(hit.normal), 1, 1e-9);
  DVec on = closest_point_on_triangle(hit.point, t.p);
  EXPECT_LT(length(on - hit.point), 1e-6) << "contact point off the triangle";
  Torus clear = moved(T, hit.normal * (hit.depth + margin));
  EXPECT_FALSE(triangle_inside_torus(clear, t));
  // For a face contact nothing of the sampled surface is left below the face.
  if (dot(hit.normal, up_normal(t)) > 0.999) {
    EXPECT_LT(sampled_depth(clear, t), margin);
  }
  if (hit.depth > margin) {
    EXPECT_TRUE(triangle_inside_torus(moved(T, hit.normal * (hit.depth - margin)), t));
  }
}

}  // namespace

TEST(TorusTriangle, UprightWheelOnAFaceMatchesTheSampledDepth) {
  Tri t{{{-3, 0, -3}, {3, 0.3, -2}, {0, -0.2, 4}}};
  Torus T{{0.2, 1.05, 0.1}, {1, 0, 0}, 0.8333, 0.3333};
  TriangleContact hit;
  ASSERT_TRUE(torus_triangle_contact(T.c, T.a, T.R, T.r, t.p, &hit));
  EXPECT_NEAR(hit.depth, sampled_depth(T, t, 1440, 360), 2e-3);
  EXPECT_NEAR(dot(hit.normal, up_normal(t)), 1, 1e-12);
  expect_separating_depth(T, t, hit, 0.02);
}

TEST(TorusTriangle, DeepWheelWhoseRingCrossesThePlane) {
  Tri t{{{-3, 0, -3}, {3, 0, -3}, {0, 0, 4}}};
  Torus T{{0, 0.5, 0}, {1, 0, 0}, 0.8333, 0.3333};  // ring dips 0.33 below the ground
  TriangleContact hit;
  ASSERT_TRUE(torus_triangle_contact(T.c, T.a, T.R, T.r, t.p, &hit));
  EXPECT_NEAR(hit.depth, 0.3333 + 0.3333, 1e-9);
  EXPECT_NEAR(hit.depth, sampled_depth(T, t, 1440, 360), 2e-3);
}

TEST(TorusTriangle, WheelOverARidgeEdgeGetsAnEdgeNormal) {
  // A ridge top: the wheel sits beyond the triangle's edge at z = 0, lower
  // than the edge, so only the edge can touch it, pushing out towards the ring.
  Tri t{{{-2, 0.5, 0}, {2, 0.5, 0}, {0, -1.5, -3}}};
  Torus T{{0, 1.35, 0.6}, {1, 0, 0}, 0.8333, 0.3333};
  TriangleContact hit;
  ASSERT_TRUE(torus_triangle_contact(T.c, T.a, T.R, T.r, t.p, &hit));
  EXPECT_NEAR(hit.point.z, 0, 1e-6);
  EXPECT_GT(hit.normal.z, 0.1);
  // Hand check: the edge is the x axis at height 0.5; the ring's nearest
  // point to it lies along the line from the edge to the ring centre.
  DVec nearest;
  double d = point_circle_distance(DVec{0, 0.5, 0}, T.c, T.a, T.R, &nearest);
  EXPECT_NEAR(hit.depth, T.r - d, 1e-6);
  expect_separating_depth(T, t, hit, 0.02);
}

TEST(TorusTriangle, RingParallelToTheGround) {
  Tri t{{{-3, 0, -3}, {3, 0, -3}, {0, 0, 4}}};
  Torus T{{0.3, 0.25, 0.2}, {0, 1, 0}, 0.8333, 0.3333};  // lying flat
  TriangleContact hit;
  ASSERT_TRUE(torus_triangle_contact(T.c, T.a, T.R, T.r, t.p, &hit));
  EXPECT_NEAR(hit.depth, 0.3333 - 0.25, 1e-9);
  EXPECT_NEAR(hit.normal.y, 1, 1e-12);
}

TEST(TorusTriangle, ClearOrTouchingIsNoContact) {
  Tri t{{{-3, 0, -3}, {3, 0, -3}, {0, 0, 4}}};
  TriangleContact hit;
  EXPECT_FALSE(torus_triangle_contact(DVec{0, 1.1666, 0}, DVec{1, 0, 0}, 0.8333, 0.3333, t.p, &hit));
  EXPECT_FALSE(torus_triangle_contact(DVec{0, 1.2, 0}, DVec{1, 0, 0}, 0.8333, 0.3333, t.p, &hit));
  EXPECT_FALSE(torus_triangle_contact(DVec{9, 0.5, 0}, DVec{1, 0, 0}, 0.8333, 0.3333, t.p, &hit));
  // A depth that cannot beat the one already found is not reported.
  EXPECT_TRUE(torus_triangle_contact(DVec{0, 1.0, 0}, DVec{1, 0, 0}, 0.8333, 0.3333, t.p, &hit));
  EXPECT_FALSE(torus_triangle_contact(DVec{0, 1.0, 0}, DVec{1, 0, 0}, 0.8333, 0.3333, t.p, &hit, 0.2));
  // Degenerate triangles never touch.
  Tri flat{{{0, 0, 0}, {1, 0, 0}, {2, 0, 0}}};
  EXPECT_FALSE(torus_triangle_contact(DVec{1, 0.5, 0}, DVec{1, 0, 0}, 0.8333, 0.3333, flat.p, &hit));
}

TEST(TorusTriangle, RandomPosesAgreeWithSampling) {
  Random rng;
  int contacts = 0, edges = 0;
  for (int k = 0; k < 80; k++) {
    Tri t;
    for (DVec& p : t.p) p = DVec{rng.in(-1.5, 1.5), rng.in(-0.6, 0.6), rng.in(-1.5, 1.5)};
    if (length(cross(t.p[1] - t.p[0], t.p[2] - t.p[0])) < 0.3) continue;
    DVec a = normalized(DVec{rng.in(0.6, 1), rng.in(-0.5, 0.5), rng.in(-0.3, 0.3)});
    Torus T{{rng.in(-1, 1), rng.in(0.4, 1.6), rng.in(-1, 1)}, a, 0.8333, 0.3333};
    TriangleContact hit;
    bool found = torus_triangle_contact(T.c, T.a, T.R, T.r, t.p, &hit);
    if (!found) {
      EXPECT_FALSE(triangle_inside_torus(T, t)) << "missed a contact, case " << k;
      continue;
    }
    contacts++;
    if (std::fabs(dot(hit.normal, up_normal(t))) < 0.999) {
      edges++;
    } else {
      // Face contacts: the depth of the sampled surface below the face.
      EXPECT_NEAR(hit.depth, sampled_depth(T, t), 0.01) << "case " << k;
    }
    expect_separating_depth(T, t, hit, 0.03);
  }
  EXPECT_GT(contacts, 15);
  EXPECT_GT(edges, 2);
}

TEST(SphereTriangle, FaceEdgeAndClear) {
  Tri t{{{-1, 0, -1}, {1, 0, -1}, {0, 0, 1}}};
  TriangleContact hit;
  ASSERT_TRUE(sphere_triangle_contact(DVec{0, 0.1, 0}, 0.3, t.p, &hit));
  EXPECT_NEAR(hit.depth, 0.2, 1e-12);
  EXPECT_NEAR(hit.normal.y, 1, 1e-12);
  ASSERT_TRUE(sphere_triangle_contact(DVec{0, 0.1, -1.2}, 0.3, t.p, &hit));  // beside the edge z = -1
  EXPECT_NEAR(hit.depth, 0.3 - std::sqrt(0.01 + 0.04), 1e-12);
  EXPECT_NEAR(hit.point.z, -1, 1e-12);
  EXPECT_FALSE(sphere_triangle_contact(DVec{0, 0.31, 0}, 0.3, t.p, &hit));
}

TEST(PointCircle, DistanceAndNearestPoint) {
  DVec nearest;
  EXPECT_NEAR(point_circle_distance(DVec{0, 2, 0}, DVec{0, 0, 0}, DVec{1, 0, 0}, 1, &nearest), 1, 1e-12);
  EXPECT_NEAR(nearest.y, 1, 1e-12);
  EXPECT_NEAR(point_circle_distance(DVec{0.5, 0, 0}, DVec{0, 0, 0}, DVec{1, 0, 0}, 1, &nearest),
              std::sqrt(1.25), 1e-12);  // on the axis
}

TEST(TorusTriangle, ABestSoFarTurnsDownOnlyTrianglesThatCannotBeatIt) {
  // Ground-like triangles under wheels of every lean and depth: told the
  // best depth so far, the test gives exactly the contact it gives without
  // it or nothing, and turns down no contact deeper than the best. (Where
  // the ring dips through the plane, depth above r, the crossing alone
  // decides before the deepest reach is looked for, so there a contact
  // whose reach would beat the best can be turned down.)
  Random rng;
  int deeper = 0, turned_down = 0;
  for (int k = 0; k < 20000; k++) {
    Tri t;
    double x0 = rng.in(-2, 0), z0 = rng.in(-2, 0);
    double rough = k % 4 == 0 ? 0 : rng.in(0, 0.8);  // a quarter level
    t.p[0] = DVec{x0, rng.in(-rough, rough), z0};
    t.p[1] = DVec{x0 + 2, rng.in(-rough, rough), z0};
    t.p[2] = DVec{x0 + (k % 2 ? 0 : 2), rng.in(-rough, rough), z0 + 2};
    DVec a = k % 3 == 0 ? normalized(DVec{rng.in(-1, 1), 0, rng.in(-1, 1)})
                        : normalized(DVec{rng.in(-1, 1), rng.in(-1, 1), rng.in(-1, 1)});
    if (!(length(a) > 0.5)) continue;
    DVec c{rng.in(-1.5, 1.5), rng.in(0.3, 1.3), rng.in(-1.5, 1.5)};
    PreparedTorus torus = make_torus(c, a, 0.8333, 0.3333);
    TriangleContact plain, told;
    bool found = torus_triangle_contact(torus, t.p, &plain, 0);
    double depth = found ? plain.depth : 0;
    const double beats[4] = {depth * rng.in(0, 1), depth * 0.999, depth + rng.in(0, 0.05), rng.in(0, 0.4)};
    for (double beat : beats) {
      if (torus_triangle_contact(torus, t.p, &told, beat)) {
        ASSERT_TRUE(found) << "case " << k;
        ASSERT_GT(told.depth, beat) << "case " << k;
        ASSERT_EQ(memcmp(&told, &plain, sizeof told), 0) << "case " << k << " beat " << beat;
        deeper++;
      } else {
        ASSERT_FALSE(found && plain.depth <= torus.r && plain.depth > beat + 1e-12)
            << "case " << k << ": depth " << plain.depth << " turned down for " << beat;
        turned_down++;
      }
    }
  }
  EXPECT_GT(deeper, 10000);
  EXPECT_GT(turned_down, 10000);
}
