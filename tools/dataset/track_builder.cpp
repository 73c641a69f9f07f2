// The ground of a track plan: base hills, the lap and the start spur cut
// into them with their profiles, banks and shoulders, and the surface of
// every tile. The other files of the directory follow in track_files.cpp.
#include "tools/dataset/track_builder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "tools/dataset/track_internal.h"

namespace dvdata {

namespace {

// Softened "ramp" max(0, x): a parabola over -r..r keeps the slope continuous.
double soft_ramp(double x, double r) {
  if (r <= 0) return x > 0 ? x : 0;
  if (x <= -r) return 0;
  if (x >= r) return x;
  return (x + r) * (x + r) / (4 * r);
}

}  // namespace

double feature_height(const Feature& f, double u) {
  const std::vector<ProfileKnot>& k = f.knots;
  if (k.size() < 2) return 0;
  double h = k[0].h, slope_before = 0;
  for (size_t i = 0; i < k.size(); i++) {
    double slope_after = i + 1 < k.size() ? (k[i + 1].h - k[i].h) / std::max(1e-9, k[i + 1].u - k[i].u) : 0.0;
    h += (slope_after - slope_before) * soft_ramp(u - k[i].u, k[i].round);
    slope_before = slope_after;
  }
  return h;
}

double outside_floor(const TrackPlan& plan, double x, double z) {
  const double* f = plan.floor_rect;
  double dx = std::max({f[0] - x, 0.0, x - f[2]}), dz = std::max({f[1] - z, 0.0, z - f[3]});
  return std::hypot(dx, dz);
}

double base_ground(const TrackPlan& plan, double x, double z) {
  if (plan.stadium) {
    // Terraces: 5 ft deep, 3 ft high, each step's edge rounded over a foot.
    double d = outside_floor(plan, x, z) - 6;
    if (d <= 0) return plan.base_height;
    double step = std::floor(d / 5), within = d - step * 5;
    double h = 3 * step + 3 * smoothstep(4, 5, within) + 1.5;
    return plan.base_height + std::min(h, plan.stand_height);
  }
  double n = fractal_noise(plan.seed, x / plan.hill_scale, z / plan.hill_scale, 4, 0.45);
  return plan.base_height + 0.5 * plan.hill_height * n * 1.6;
}

int off_track_surface(const TrackPlan& plan, double x, double z) {
  if (plan.stadium && outside_floor(plan, x, z) > 6) return SURFACE_GRASS;
  return plan.off_track;
}

namespace {

// A circular (closed) or clamped (open) moving average.
std::vector<double> smooth(const std::vector<double>& v, int half, bool closed) {
  const int n = (int)v.size();
  std::vector<double> prefix((size_t)n * 3 + 1, 0.0);
  // Work on three copies for the closed case so the window wraps.
  auto get = [&](int i) {
    if (closed) return v[(size_t)(((i % n) + n) % n)];
    return v[(size_t)std::clamp(i, 0, n - 1)];
  };
  std::vector<double> out((size_t)n);
  double sum = 0;
  for (int k = -half; k <= half; k++) sum += get(k);
  for (int i = 0; i < n; i++) {
    out[(size_t)i] = sum / (2 * half + 1);
    sum += get(i + half + 1) - get(i - half);
  }
  return out;
}

void limit_grade(std::vector<double>* p, double grade, bool closed) {
  // Forward and backward passes: no sample may rise or fall faster than the
  // grade per foot from its neighbour.
  const int n = (int)p->size();
  for (int pass = 0; pass < 4; pass++) {
    for (int i = 1; i < n + (closed ? n : 0); i++) {
      double& a = (*p)[(size_t)((i - 1) % n)];
      double& b = (*p)[(size_t)(i % n)];
      b = std::clamp(b, a - grade, a + grade);
    }
    for (int i = n - 2 + (closed ? n : 0); i >= 0; i--) {
      double& a = (*p)[(size_t)((i + 1) % n)];
      double& b = (*p)[(size_t)(i % n)];
      b = std::clamp(b, a - grade, a + grade);
    }
  }
}

int surface_at(const std::vector<SurfaceZone>& zones, double s, int fallback) {
  int surface = fallback;
  double from = -1;
  for (const SurfaceZone& z : zones)
    if (z.s <= s && z.s >= from) surface = z.surface, from = z.s;
  return surface;
}

}  // namespace

void make_piece(const TrackPlan& plan, TrackPiece* piece, const std::vector<PathPoint>& points, bool closed,
                const std::vector<SurfaceZone>& zones, const TrackPiece* join) {
  piece->closed = closed;
  piece->path = sample_path(points, closed);
  piece->length = path_length(piece->path);
  const int n = (int)piece->path.size();
  std::vector<double> ground((size_t)n);
  for (int i = 0; i < n; i++) ground[(size_t)i] = base_ground(plan, piece->path[(size_t)i].x, piece->path[(size_t)i].z);
  int half = std::max(1, (int)(plan.profile_smoothing * 0.5));
  std::vector<double> profile = smooth(smooth(ground, half, closed), half, closed);
  limit_grade(&profile, plan.max_grade, closed);
  piece->base = profile;
  piece->profile = profile;
  // A spur takes the lap's profile where it runs on the lap.
  if (join) {
    for (int i = 0; i < n; i++) {
      const PathSample& q = piece->path[(size_t)i];
      double best = 1e30;
      int at = 0;
      for (size_t j = 0; j < join->path.size(); j++) {
        double d = std::hypot(join->path[j].x - q.x, join->path[j].z - q.z);
        if (d < best) best = d, at = (int)j;
      }
      double w = smoothstep(200, 10, best);
      piece->profile[(size_t)i] = piece->profile[(size_t)i] + (join->profile[(size_t)at] - piece->profile[(size_t)i]) * w;
    }
    // Level ground at the gates.
    double level = piece->profile[std::min((size_t)30, piece->profile.size() - 1)];
    for (int i = 0; i < n; i++) {
      double w = smoothstep(60, 30, piece->path[(size_t)i].s);
      piece->profile[(size_t)i] += (level - piece->profile[(size_t)i]) * w;
    }
  }
  // Banks: signed, positive raising the right-hand side (the outside of a
  // left turn).
  std::vector<double> bank((size_t)n);
  const double full = std::tan(plan.berm_degrees * M_PI / 180.0);
  for (int i = 0; i < n; i++) {
    double k = piece->path[(size_t)i].curvature;
    double r = 1.0 / std::max(1e-6, std::fabs(k));
    double amount = full * smoothstep(plan.berm_radius * 1.6, plan.berm_radius * 0.5, r);
    bank[(size_t)i] = k > 0 ? amount : -amount;
  }
  piece->bank = smooth(bank, 12, closed);
  piece->surface.resize((size_t)n);
  for (int i = 0; i < n; i++) piece->surface[(size_t)i] = surface_at(zones, piece->path[(size_t)i].s, SURFACE_LOAM);
}

void add_features(TrackPiece* piece, const std::vector<Feature>& features) {
  const int n = (int)piece->path.size();
  for (const Feature& f : features) {
    int first = (int)std::floor(f.s), last = (int)std::ceil(f.s + f.length());
    for (int i = first; i <= last; i++) {
      int j = piece->closed ? ((i % n) + n) % n : i;
      if (j < 0 || j >= n) continue;
      piece->profile[(size_t)j] += feature_height(f, i - f.s);
    }
  }
}

// --- heights on the grid ---------------------------------------------------------------

namespace {

constexpr double BUCKET = 32.0;

struct SegmentIndex {
  int columns = 0;
  double reach = 0;
  std::vector<std::vector<std::pair<int, int>>> buckets;  // (piece, sample)
};

}  // namespace

struct GroundBuilder {
  const TrackPlan* plan;
  std::vector<TrackPiece>* pieces;
  SegmentIndex index;
  double width;
};

namespace {

void build_index(GroundBuilder* g) {
  SegmentIndex& ix = g->index;
  ix.columns = (int)std::ceil(g->width / BUCKET) + 1;
  ix.buckets.assign((size_t)ix.columns * ix.columns, {});
  double reach = 0;
  for (const TrackPiece& p : *g->pieces)
    for (const PathSample& q : p.path) reach = std::max(reach, q.half_width + g->plan->shoulder * 3 + 20);
  ix.reach = reach;
  for (int pi = 0; pi < (int)g->pieces->size(); pi++) {
    const TrackPiece& p = (*g->pieces)[(size_t)pi];
    for (int i = 0; i < (int)p.path.size(); i++) {
      const PathSample& q = p.path[(size_t)i];
      int c0 = (int)std::floor((q.x - reach) / BUCKET), c1 = (int)std::floor((q.x + reach) / BUCKET);
      int r0 = (int)std::floor((q.z - reach) / BUCKET), r1 = (int)std::floor((q.z + reach) / BUCKET);
      for (int r = std::max(r0, 0); r <= std::min(r1, ix.columns - 1); r++)
        for (int c = std::max(c0, 0); c <= std::min(c1, ix.columns - 1); c++) {
          auto& b = ix.buckets[(size_t)r * ix.columns + c];
          if (b.empty() || b.back() != std::make_pair(pi, i)) b.emplace_back(pi, i);
        }
    }
  }
}

}  // namespace

bool nearest_on_piece(const TrackPiece& p, const std::vector<std::pair<int, int>>& candidates, int piece_index,
                      double x, double z, PieceHit* hit) {
  double best = 1e30;
  int at = -1;
  for (const auto& [pi, i] : candidates) {
    if (pi != piece_index) continue;
    const PathSample& q = p.path[(size_t)i];
    double d = (q.x - x) * (q.x - x) + (q.z - z) * (q.z - z);
    if (d < best) best = d, at = i;
  }
  if (at < 0) return false;
  // Refine on the two segments around the nearest sample.
  const int n = (int)p.path.size();
  double best_t = 0;
  int best_seg = at;
  best = 1e30;
  for (int k = -1; k <= 0; k++) {
    int a = at + k, b = a + 1;
    if (p.closed) a = (a + n) % n, b = (b + n) % n;
    else if (a < 0 || b >= n) continue;
    const PathSample& qa = p.path[(size_t)a];
    const PathSample& qb = p.path[(size_t)b];
    double ex = qb.x - qa.x, ez = qb.z - qa.z, l2 = ex * ex + ez * ez;
    double t = l2 > 0 ? std::clamp(((x - qa.x) * ex + (z - qa.z) * ez) / l2, 0.0, 1.0) : 0.0;
    double px = qa.x + ex * t, pz = qa.z + ez * t;
    double d = (px - x) * (px - x) + (pz - z) * (pz - z);
    if (d < best) best = d, best_t = t, best_seg = a;
  }
  int a = best_seg, b = p.closed ? (a + 1) % n : std::min(a + 1, n - 1);
  const PathSample& qa = p.path[(size_t)a];
  const PathSample& qb = p.path[(size_t)b];
  double t = best_t;
  hit->sample = t < 0.5 ? a : b;
  hit->t = t;
  hit->a = a;
  hit->b = b;
  double cx = qa.x + (qb.x - qa.x) * t, cz = qa.z + (qb.z - qa.z) * t;
  double dx = qa.dx + (qb.dx - qa.dx) * t, dz = qa.dz + (qb.dz - qa.dz) * t;
  double l = std::hypot(dx, dz);
  dx /= l, dz /= l;
  // Lateral offset: positive to the side (-dz, dx), where a positive
  // curvature turns.
  hit->lateral = (x - cx) * -dz + (z - cz) * dx;
  hit->along = std::hypot(x - cx - hit->lateral * -dz, z - cz - hit->lateral * dx);
  hit->s = qa.s + t * (qb.s - qa.s);
  hit->half_width = qa.half_width + (qb.half_width - qa.half_width) * t;
  hit->profile = p.profile[(size_t)a] + (p.profile[(size_t)b] - p.profile[(size_t)a]) * t;
  hit->bank = p.bank[(size_t)a] + (p.bank[(size_t)b] - p.bank[(size_t)a]) * t;
  hit->distance = std::sqrt(best);
  return true;
}

// Height of a piece's surface at lateral offset d (clamped to the track),
// and how much the piece covers the point (1 on the track, 0 beyond its
// shoulder).
void piece_surface(const TrackPlan& plan, const PieceHit& h, double ground, double* height, double* cover) {
  double hw = h.half_width;
  double d = std::clamp(h.lateral, -hw, hw);
  // The bank raises the outside of the turn: from a little inside the
  // centre line up to the outer edge, as a smooth bowl.
  double outward = h.bank > 0 ? -d : d;
  double bank = std::fabs(h.bank) * soft_ramp(outward + 0.25 * hw, 0.35 * hw);
  double surface = h.profile + bank;
  // Beyond the edge the dirt pushed off the track forms a low mound, then
  // the shoulder falls back to the ground.
  // Past the ends of an open path the distance along it counts too.
  double beyond = std::max(std::fabs(h.lateral) - hw, h.along);
  double mound = plan.edge_mound * std::exp(-std::pow((beyond - 2.0) / 2.5, 2));
  double drop = std::fabs(surface - ground);
  double shoulder = plan.shoulder + 1.6 * drop;
  *cover = 1.0 - smoothstep(0.0, shoulder, beyond);
  *height = surface + (beyond > -3 ? mound : 0.0);
}

void build_ground(const TrackPlan& plan, std::vector<TrackPiece>* pieces, Terrain* terrain,
                  std::vector<uint8_t>* corner_surface, std::vector<float>* cover_out) {
  GroundBuilder g{&plan, pieces, {}, terrain->width};
  build_index(&g);
  const int N = terrain->N;
  corner_surface->assign((size_t)N * N, (uint8_t)plan.off_track);
  cover_out->assign((size_t)N * N, 0.0f);
  for (int r = 0; r < N; r++)
    for (int c = 0; c < N; c++) {
      double x = c * plan.spacing, z = r * plan.spacing;
      double ground = base_ground(plan, x, z);
      int bc = std::min((int)(x / BUCKET), g.index.columns - 1), br = std::min((int)(z / BUCKET), g.index.columns - 1);
      const auto& cand = g.index.buckets[(size_t)br * g.index.columns + bc];
      double sum_a = 0, sum_w = 0, best_cover = 0;
      int surface = off_track_surface(plan, x, z);
      double surface_cover = 0;
      for (int pi = 0; pi < (int)pieces->size() && !cand.empty(); pi++) {
        PieceHit hit;
        if (!nearest_on_piece((*pieces)[(size_t)pi], cand, pi, x, z, &hit)) continue;
        double h, a;
        piece_surface(plan, hit, ground, &h, &a);
        if (a <= 0) continue;
        sum_a += a;
        sum_w += a * a * (h - ground);
        best_cover = std::max(best_cover, a);
        // The surface paint reaches a foot beyond the edge.
        double paint = std::fabs(hit.lateral) <= hit.half_width + 1.0 ? 1.0 : 0.0;
        if (paint > surface_cover || (paint == surface_cover && paint > 0 && a > best_cover - 1e-9)) {
          surface_cover = paint;
          if (paint > 0) surface = (*pieces)[(size_t)pi].surface[(size_t)hit.sample];
        }
      }
      double height = ground + (sum_a > 0 ? sum_w / sum_a : 0.0);
      terrain->heights[(size_t)c + (size_t)N * r] = (float)height;
      (*corner_surface)[(size_t)c + (size_t)N * r] = (uint8_t)surface;
      (*cover_out)[(size_t)c + (size_t)N * r] = (float)best_cover;
    }
}

bool nearest_on_track(const std::vector<TrackPiece>& pieces, int piece, double x, double z, PieceHit* hit) {
  const TrackPiece& p = pieces[(size_t)piece];
  std::vector<std::pair<int, int>> all;
  all.reserve(p.path.size());
  for (int i = 0; i < (int)p.path.size(); i++) all.emplace_back(piece, i);
  return nearest_on_piece(p, all, piece, x, z, hit);
}

}  // namespace dvdata
