// Centre lines and jump profiles of the track plans.
#include <algorithm>
#include <cmath>

#include "tools/dataset/track_builder.h"

namespace dvdata {

const char* surface_name(int surface) {
  static const char* const names[SURFACE_COUNT] = {"loose", "hardpack", "loam", "grass", "sand"};
  return surface >= 0 && surface < SURFACE_COUNT ? names[surface] : "grass";
}

namespace {

constexpr double DEG = M_PI / 180.0;

struct P2 {
  double x, z, w;
};

// Centripetal Catmull-Rom between p1 and p2 (never loops or cusps).
P2 catmull_rom(P2 p0, P2 p1, P2 p2, P2 p3, double t) {
  auto dist = [](P2 a, P2 b) { return std::pow(std::hypot(a.x - b.x, a.z - b.z) + 1e-9, 0.5); };
  double t0 = 0, t1 = t0 + dist(p0, p1), t2 = t1 + dist(p1, p2), t3 = t2 + dist(p2, p3);
  double u = t1 + (t2 - t1) * t;
  auto lerp = [](P2 a, P2 b, double ta, double tb, double u) {
    double k = (u - ta) / (tb - ta);
    return P2{a.x + (b.x - a.x) * k, a.z + (b.z - a.z) * k, a.w + (b.w - a.w) * k};
  };
  P2 a1 = lerp(p0, p1, t0, t1, u), a2 = lerp(p1, p2, t1, t2, u), a3 = lerp(p2, p3, t2, t3, u);
  P2 b1 = lerp(a1, a2, t0, t2, u), b2 = lerp(a2, a3, t1, t3, u);
  return lerp(b1, b2, t1, t2, u);
}

}  // namespace

std::vector<PathSample> sample_path(const std::vector<PathPoint>& points, bool closed) {
  std::vector<P2> p;
  for (const PathPoint& q : points) p.push_back(P2{q.x, q.z, q.half_width});
  const int n = (int)p.size();
  auto at = [&](int i) {
    if (closed) return p[(size_t)(((i % n) + n) % n)];
    if (i < 0) return P2{2 * p[0].x - p[1].x, 2 * p[0].z - p[1].z, p[0].w};
    if (i >= n) return P2{2 * p[(size_t)n - 1].x - p[(size_t)n - 2].x, 2 * p[(size_t)n - 1].z - p[(size_t)n - 2].z,
                          p[(size_t)n - 1].w};
    return p[(size_t)i];
  };
  // Dense curve first, then resampled at one foot by arc length.
  std::vector<P2> dense;
  const int segments = closed ? n : n - 1;
  for (int i = 0; i < segments; i++)
    for (int k = 0; k < 200; k++) dense.push_back(catmull_rom(at(i - 1), at(i), at(i + 1), at(i + 2), k / 200.0));
  dense.push_back(closed ? dense[0] : at(n - 1));
  std::vector<double> len(dense.size(), 0.0);
  for (size_t i = 1; i < dense.size(); i++)
    len[i] = len[i - 1] + std::hypot(dense[i].x - dense[i - 1].x, dense[i].z - dense[i - 1].z);
  const double total = len.back();
  const int count = std::max(2, (int)std::round(total));
  const double step = total / count;
  std::vector<PathSample> out;
  size_t j = 0;
  for (int i = 0; i < (closed ? count : count + 1); i++) {
    double s = i * step;
    while (j + 2 < len.size() && len[j + 1] < s) j++;
    double k = (s - len[j]) / std::max(1e-12, len[j + 1] - len[j]);
    k = std::clamp(k, 0.0, 1.0);
    PathSample q{};
    q.x = dense[j].x + (dense[j + 1].x - dense[j].x) * k;
    q.z = dense[j].z + (dense[j + 1].z - dense[j].z) * k;
    q.half_width = dense[j].w + (dense[j + 1].w - dense[j].w) * k;
    q.s = s;
    out.push_back(q);
  }
  const int m = (int)out.size();
  auto idx = [&](int i) { return closed ? ((i % m) + m) % m : std::clamp(i, 0, m - 1); };
  for (int i = 0; i < m; i++) {
    const PathSample& a = out[(size_t)idx(i - 1)];
    const PathSample& b = out[(size_t)idx(i + 1)];
    double dx = b.x - a.x, dz = b.z - a.z, l = std::hypot(dx, dz);
    out[(size_t)i].dx = dx / l;
    out[(size_t)i].dz = dz / l;
  }
  // Curvature from the turn of the direction over +-6 ft, smoothed.
  std::vector<double> kappa((size_t)m, 0.0);
  for (int i = 0; i < m; i++) {
    const PathSample& a = out[(size_t)idx(i - 6)];
    const PathSample& b = out[(size_t)idx(i + 6)];
    double turn = std::atan2(a.dx * b.dz - a.dz * b.dx, a.dx * b.dx + a.dz * b.dz);
    double span = closed || (i >= 6 && i + 6 < m) ? 12 * step : std::max(step, (idx(i + 6) - idx(i - 6)) * step);
    kappa[(size_t)i] = turn / span;
  }
  for (int i = 0; i < m; i++) {
    double sum = 0;
    for (int k = -8; k <= 8; k++) sum += kappa[(size_t)idx(i + k)];
    out[(size_t)i].curvature = sum / 17;
  }
  return out;
}

double path_length(const std::vector<PathSample>& samples) {
  if (samples.size() < 2) return 0;
  double step = samples[1].s - samples[0].s;
  return samples.back().s + step;
}

double path_position_near(const std::vector<PathSample>& samples, double x, double z) {
  double best = 1e30, s = 0;
  for (const PathSample& q : samples) {
    double d = std::hypot(q.x - x, q.z - z);
    if (d < best) best = d, s = q.s;
  }
  return s;
}

// --- profiles -----------------------------------------------------------------------

namespace {

Feature make(const char* kind, double s, std::vector<ProfileKnot> knots) {
  Feature f;
  f.kind = kind;
  f.s = s;
  f.knots = std::move(knots);
  return f;
}

double run_for(double height, double degrees) { return std::fabs(height) / std::tan(degrees * DEG); }

}  // namespace

Feature tabletop(double s, double h, double face, double table, double landing) {
  double a = run_for(h, face), c = run_for(h, landing);
  return make("tabletop", s,
              {{0, 0, 4}, {a, h, 1.5}, {a + table, h, 3}, {a + table + c, 0, 6}, {a + table + c + 6, 0, 0}});
}

Feature gap_jump(const char* kind, double s, double h, double face, double gap, double lh, double landing) {
  // Take-off ramp, a short back side, a flat gap, then the landing ramp's
  // gentle back face up to its crest and its long down slope.
  double a = run_for(h, face);
  double back = run_for(h, 40);
  double up = run_for(lh, 30);
  double down = run_for(lh, landing);
  double u = 0;
  std::vector<ProfileKnot> k = {{u, 0, 4}};
  k.push_back({u += a, h, 1.2});
  k.push_back({u += back, 0, 2.5});
  k.push_back({u += std::max(2.0, gap - back - up), 0, 2.5});
  k.push_back({u += up, lh, 2.5});
  k.push_back({u += down, 0, 6});
  k.push_back({u + 6, 0, 0});
  return make(kind, s, k);
}

Feature step_up(double s, double h, double face, double top) {
  double a = run_for(h, face), c = run_for(h, 14);
  return make("step-up", s, {{0, 0, 4}, {a, h, 2}, {a + top, h, 4}, {a + top + c, 0, 6}, {a + top + c + 6, 0, 0}});
}

Feature step_down(double s, double h, double face, double drop) {
  // A short climb to a plateau that ends in a long landing down the far side.
  double a = run_for(h, face), c = run_for(h, drop);
  return make("step-down", s, {{0, 0, 5}, {a, h, 4}, {a + 25, h, 1.5}, {a + 25 + c, 0, 7}, {a + 31 + c, 0, 0}});
}

Feature whoops(double s, int count, double spacing, double h) {
  std::vector<ProfileKnot> k = {{0, 0, spacing * 0.22}};
  for (int i = 0; i < count; i++) {
    k.push_back({spacing * (i + 0.5), h, spacing * 0.22});
    k.push_back({spacing * (i + 1), 0, spacing * 0.22});
  }
  k.push_back({spacing * count + 4, 0, 0});
  return make("whoops", s, k);
}

Feature rhythm(double s, int count, double spacing, double h, double face) {
  // A row of small jumps: a steep face and a longer back side each.
  std::vector<ProfileKnot> k = {{0, 0, 3}};
  double a = run_for(h, face);
  for (int i = 0; i < count; i++) {
    double u = spacing * i;
    if (i > 0) k.push_back({u, 0, 3});
    k.push_back({u + a, h, 1.5});
  }
  k.push_back({spacing * count, 0, 4});
  k.push_back({spacing * count + 6, 0, 0});
  return make("rhythm", s, k);
}

Feature roller(double s, double h, double length) {
  return make("roller", s, {{0, 0, length * 0.2}, {length * 0.5, h, length * 0.25}, {length, 0, length * 0.2},
                            {length + 2, 0, 0}});
}

}  // namespace dvdata
