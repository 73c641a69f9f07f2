// Torus-triangle and sphere-triangle penetration.
#include "bike/torus_contact.h"

#include <cmath>

namespace {

struct Triangle {
  DVec p[3];
  DVec n;          // unit, upwards
  DVec edge[3];    // p[i+1] - p[i]
  DVec inward[3];  // in the plane, perpendicular to edge i, towards the inside
};

// The plane alone: enough for the cheap rejections.
bool make_triangle_plane(const DVec tri[3], Triangle* t) {
  for (int i = 0; i < 3; i++) t->p[i] = tri[i];
  DVec n = cross(t->p[1] - t->p[0], t->p[2] - t->p[0]);
  double len = length(n);
  if (!(len > 1e-12)) return false;
  n = n * (1.0 / len);
  if (n.y < 0) n = -n;
  t->n = n;
  return true;
}

void finish_triangle(Triangle* t) {
  DVec n = t->n;
  for (int i = 0; i < 3; i++) {
    t->edge[i] = t->p[(i + 1) % 3] - t->p[i];
    DVec m = cross(n, t->edge[i]);
    if (dot(m, t->p[(i + 2) % 3] - t->p[i]) < 0) m = -m;
    t->inward[i] = m;
  }
}


bool over_triangle(const Triangle& t, DVec x, double slack) {
  for (int i = 0; i < 3; i++)
    if (dot(x - t.p[i], t.inward[i]) < -slack) return false;
  return true;
}

// Two unit vectors completing a to an orthonormal basis.
void circle_basis(DVec a, DVec* u, DVec* v) {
  DVec helper = std::fabs(a.x) < 0.6 ? DVec{1, 0, 0} : DVec{0, 1, 0};
  *u = normalized(cross(a, helper));
  *v = cross(a, *u);
}

struct EdgeMinimum {
  double distance;
  DVec edge_point;
  DVec circle_point;
};

// point_circle_distance without the nearest point: the same sums, so the
// same distance, for the many trial points of the edge search.
inline double circle_distance(DVec p, DVec c, DVec a, double R) {
  DVec d = p - c;
  double h = dot(d, a);
  DVec radial = d - a * h;
  double radial_gap = length(radial) - R;
  return std::sqrt(h * h + radial_gap * radial_gap);
}

// Least distance from segment [p, p + e] to the circle: a coarse scan picks
// the bracket, a golden-section search refines it.
EdgeMinimum edge_circle_minimum(DVec p, DVec e, DVec c, DVec a, double R) {
  auto at = [&](double t) { return circle_distance(p + e * t, c, a, R); };
  const int SAMPLES = 5;
  double best_t = 0, best = 1e300;
  DVec nearest;
  for (int k = 0; k < SAMPLES; k++) {
    double t = (double)k / (SAMPLES - 1);
    double d = at(t);
    if (d < best) {
      best = d;
      best_t = t;
    }
  }
  double lo = clampd(best_t - 1.0 / (SAMPLES - 1), 0, 1);
  double hi = clampd(best_t + 1.0 / (SAMPLES - 1), 0, 1);
  const double GOLD = 0.6180339887498949;
  double x1 = hi - GOLD * (hi - lo), x2 = lo + GOLD * (hi - lo);
  double f1 = at(x1), f2 = at(x2);
  for (int i = 0; i < 18; i++) {
    if (f1 < f2) {
      hi = x2;
      x2 = x1;
      f2 = f1;
      x1 = hi - GOLD * (hi - lo);
      f1 = at(x1);
    } else {
      lo = x1;
      x1 = x2;
      f1 = f2;
      x2 = lo + GOLD * (hi - lo);
      f2 = at(x2);
    }
  }
  double t = f1 < f2 ? x1 : x2;
  double d = point_circle_distance(p + e * t, c, a, R, &nearest);
  if (best < d) {  // the scan point (an end, say) beat the refined bracket
    t = best_t;
    d = point_circle_distance(p + e * t, c, a, R, &nearest);
  }
  return EdgeMinimum{d, p + e * t, nearest};
}

// Deepest reach of the torus below the triangle's plane while over the
// triangle. A ring point P at height H over the triangle reaches r - H; one
// beside it, projecting d < r from the triangle, reaches sqrt(r^2 - d^2) - H
// with the part of its tube that leans in over the edge. The reach is smooth
// along the ring: a coarse scan picks the bracket, golden section refines it.
double deepest_reach(const Triangle& t, DVec c, DVec u, DVec v, double R, double r, double start, DVec* point) {
  auto reach = [&](double theta, DVec* on_triangle) {
    DVec P = c + (u * std::cos(theta) + v * std::sin(theta)) * R;
    double h = dot(P - t.p[0], t.n);
    DVec proj = P - t.n * h;
    DVec on = closest_point_on_triangle(proj, t.p);
    double d2 = length_squared(on - proj);
    if (on_triangle) *on_triangle = on;
    if (d2 >= r * r) return -1e300;
    return std::sqrt(r * r - d2) - h;
  };
  const int SCAN = 48;
  const double STEP = 2 * PI_D / SCAN;
  double best_theta = start, best = -1e300;
  for (int k = 0; k < SCAN; k++) {
    double theta = start + k * STEP;
    double g = reach(theta, nullptr);
    if (g > best) {
      best = g;
      best_theta = theta;
    }
  }
  const double GOLD = 0.6180339887498949;
  double lo = best_theta - STEP, hi = best_theta + STEP;
  double x1 = hi - GOLD * (hi - lo), x2 = lo + GOLD * (hi - lo);
  double f1 = reach(x1, nullptr), f2 = reach(x2, nullptr);
  for (int i = 0; i < 24; i++) {
    if (f1 > f2) {
      hi = x2;
      x2 = x1;
      f2 = f1;
      x1 = hi - GOLD * (hi - lo);
      f1 = reach(x1, nullptr);
    } else {
      lo = x1;
      x1 = x2;
      f1 = f2;
      x2 = lo + GOLD * (hi - lo);
      f2 = reach(x2, nullptr);
    }
  }
  double theta = f1 > f2 ? x1 : x2;
  if (std::fmax(f1, f2) < best) theta = best_theta;
  return reach(theta, point);
}

}  // namespace

double point_circle_distance(DVec p, DVec c, DVec a, double R, DVec* nearest) {
  DVec d = p - c;
  double h = dot(d, a);
  DVec radial = d - a * h;
  double rho = length(radial);
  DVec dir;
  if (rho > 1e-12) {
    dir = radial * (1.0 / rho);
  } else {  // on the axis every circle point is equally near
    DVec u, v;
    circle_basis(a, &u, &v);
    dir = u;
  }
  if (nearest) *nearest = c + dir * R;
  double radial_gap = rho - R;
  return std::sqrt(h * h + radial_gap * radial_gap);
}

DVec closest_point_on_triangle(DVec p, const DVec tri[3]) {
  DVec a = tri[0], b = tri[1], c = tri[2];
  DVec ab = b - a, ac = c - a, ap = p - a;
  double d1 = dot(ab, ap), d2 = dot(ac, ap);
  if (d1 <= 0 && d2 <= 0) return a;
  DVec bp = p - b;
  double d3 = dot(ab, bp), d4 = dot(ac, bp);
  if (d3 >= 0 && d4 <= d3) return b;
  double vc = d1 * d4 - d3 * d2;
  if (vc <= 0 && d1 >= 0 && d3 <= 0) return a + ab * (d1 / (d1 - d3));
  DVec cp = p - c;
  double d5 = dot(ab, cp), d6 = dot(ac, cp);
  if (d6 >= 0 && d5 <= d6) return c;
  double vb = d5 * d2 - d1 * d6;
  if (vb <= 0 && d2 >= 0 && d6 <= 0) return a + ac * (d2 / (d2 - d6));
  double va = d3 * d6 - d5 * d4;
  if (va <= 0 && (d4 - d3) >= 0 && (d5 - d6) >= 0) return b + (c - b) * ((d4 - d3) / ((d4 - d3) + (d5 - d6)));
  double denom = 1.0 / (va + vb + vc);
  return a + ab * (vb * denom) + ac * (vc * denom);
}

bool sphere_triangle_contact(DVec c, double r, const DVec tri[3], TriangleContact* out) {
  // Ground wholly below the sphere touches nothing of it (the margin is
  // for rounding): settled before any of the triangle is worked out.
  const double bottom = c.y - r - 1e-9 * (1 + std::fabs(c.y) + r);
  if (tri[0].y < bottom && tri[1].y < bottom && tri[2].y < bottom) return false;
  Triangle t;
  if (!make_triangle_plane(tri, &t)) return false;
  double h = dot(c - t.p[0], t.n);
  if (h >= r) return false;
  finish_triangle(&t);
  if (over_triangle(t, c, 0)) {
    out->depth = r - h;
    out->point = c - t.n * h;
    out->normal = t.n;
    return true;
  }
  DVec cp = closest_point_on_triangle(c, tri);
  DVec d = c - cp;
  double dist = length(d);
  if (dist >= r) return false;
  out->depth = r - dist;
  out->point = cp;
  out->normal = dist > 1e-9 ? d * (1.0 / dist) : t.n;
  return true;
}

PreparedTorus make_torus(DVec c, DVec a, double R, double r) {
  PreparedTorus t{c, normalized(a, DVec{1, 0, 0}), {}, {}, R, r};
  circle_basis(t.a, &t.u, &t.v);
  return t;
}

bool torus_triangle_contact(DVec c, DVec a, double R, double r, const DVec tri[3], TriangleContact* out,
                            double beat) {
  return torus_triangle_contact(make_torus(c, a, R, r), tri, out, beat);
}

bool torus_triangle_contact(const PreparedTorus& torus, const DVec tri[3], TriangleContact* out, double beat) {
  const DVec c = torus.c, a = torus.a, u = torus.u, v = torus.v;
  const double R = torus.R, r = torus.r;

  // The torus lies in the slab |(x - c).a| <= r: the cheapest rejection,
  // before the triangle's plane is worked out.
  double s0 = dot(tri[0] - c, a), s1 = dot(tri[1] - c, a), s2 = dot(tri[2] - c, a);
  if ((s0 > r && s1 > r && s2 > r) || (s0 < -r && s1 < -r && s2 < -r)) return false;

  Triangle t;
  if (!make_triangle_plane(tri, &t)) return false;

  // Lowest point of the core circle along -n: no circle point is nearer the
  // plane, so a height of r or more there means no contact at all.
  DVec w = t.n - a * dot(t.n, a);
  double wl = length(w);
  DVec down;
  if (wl > 1e-9) {
    down = w * (-1.0 / wl);
  } else {  // circle parallel to the plane: every point equally low
    DVec centroid = (t.p[0] + t.p[1] + t.p[2]) * (1.0 / 3.0);
    DVec d = centroid - c;
    d = d - a * dot(d, a);
    down = normalized(d, u);
  }
  DVec q = c + down * R;
  double hq = dot(q - t.p[0], t.n);
  if (hq >= r - beat) return false;

  // Nothing of the torus reaches farther than R + r from its centre.
  DVec nearest_to_centre = closest_point_on_triangle(c, tri);
  const double centre_distance2 = length_squared(nearest_to_centre - c);
  if (centre_distance2 > (R + r) * (R + r)) return false;
  // With the whole ring above the plane every clearance found below is the
  // distance from a ring point to a triangle point, so at least the
  // triangle's distance from the centre less R: a triangle farther than
  // R + (r - beat) cannot beat. (The margin is far more than the rounding of
  // those distances; hq < r - beat here, so the reach is positive.)
  const double margin = 1e-6;
  const double reach = R + (r - beat) + margin;
  if (hq > margin && centre_distance2 > reach * reach) return false;

  finish_triangle(&t);
  DVec qp = q - t.n * hq;
  if (over_triangle(t, qp, 0)) {
    out->depth = r - hq;
    out->point = qp;
    out->normal = t.n;
    return true;
  }

  // The lowest point is not over the triangle. Over the triangle the height
  // along the circle is a sinusoid whose minimum lies outside, so its least
  // value over the triangle is where the circle crosses an edge wall.
  double best = 1e300;
  DVec best_point{0, 0, 0}, best_normal = t.n;
  for (int i = 0; i < 3; i++) {
    DVec m = t.inward[i];
    double K = dot(c - t.p[i], m);
    double A = R * dot(u, m), B = R * dot(v, m);
    double rho = std::sqrt(A * A + B * B);
    if (!(rho > 1e-12) || std::fabs(K) > rho) continue;
    double phi = std::atan2(B, A);
    double delta = std::acos(clampd(-K / rho, -1, 1));
    for (int sign = -1; sign <= 1; sign += 2) {
      double theta = phi + sign * delta;
      DVec P = c + (u * std::cos(theta) + v * std::sin(theta)) * R;
      bool within = true;
      for (int j = 0; j < 3 && within; j++)
        if (j != i && dot(P - t.p[j], t.inward[j]) < -1e-12 * length(t.inward[j])) within = false;
      if (!within) continue;
      double h = dot(P - t.p[0], t.n);
      if (h < best) {
        best = h;
        best_point = P - t.n * h;
        best_normal = t.n;
      }
    }
  }

  // Circle points beside the triangle: their clearance is the distance to
  // the nearest edge.
  for (int i = 0; i < 3; i++) {
    DVec p = t.p[i], e = t.edge[i];
    // Skip edges that cannot come within r of the circle or cannot beat the
    // best clearance found so far.
    double sa = dot(p - c, a), sb = dot(p + e - c, a);
    if ((sa > r && sb > r) || (sa < -r && sb < -r)) continue;
    double el2 = length_squared(e);
    double tc = el2 > 0 ? clampd(dot(c - p, e) / el2, 0, 1) : 0;
    double centre_distance = length(p + e * tc - c);
    if (centre_distance - R >= std::fmin(best, r - beat)) continue;
    EdgeMinimum em = edge_circle_minimum(p, e, c, a, R);
    if (em.distance < best) {
      best = em.distance;
      best_point = em.edge_point;
      DVec d = em.circle_point - em.edge_point;
      best_normal = em.distance > 1e-9 ? d * (1.0 / em.distance) : t.n;
    }
  }

  if (!(best < r - beat)) return false;
  if (best < 0 && best_normal.x == t.n.x && best_normal.y == t.n.y && best_normal.z == t.n.z) {
    // The ring passes through the plane over the triangle: the torus must
    // rise along the normal until the deepest part of its tube over the
    // triangle, not just the crossing, is clear.
    DVec point;
    double depth = deepest_reach(t, c, u, v, R, r, std::atan2(dot(down, v), dot(down, u)), &point);
    if (depth > r - best) {
      best = r - depth;
      best_point = point;
    }
  }
  out->depth = r - best;
  out->point = best_point;
  out->normal = best_normal;
  return true;
}
