// Between the parts of the track builder: laid-out pieces of track (the lap
// and the start spur) and the nearest-point query against them.
#pragma once

#include <utility>
#include <vector>

#include "tools/dataset/track_builder.h"
#include "track/terrain.h"

namespace dvdata {

struct TrackPiece {
  bool closed = false;
  std::vector<PathSample> path;
  double length = 0;
  std::vector<double> base;     // ground profile before features
  std::vector<double> profile;  // with the features
  std::vector<double> bank;     // signed bank slope (see piece_surface)
  std::vector<int> surface;
};

struct PieceHit {
  int sample, a, b;
  double t;
  double s, lateral, along, half_width, profile, bank, distance;
};

double base_ground(const TrackPlan& plan, double x, double z);
int off_track_surface(const TrackPlan& plan, double x, double z);
double feature_height(const Feature& f, double u);
void make_piece(const TrackPlan& plan, TrackPiece* piece, const std::vector<PathPoint>& points, bool closed,
                const std::vector<SurfaceZone>& zones, const TrackPiece* join);
void add_features(TrackPiece* piece, const std::vector<Feature>& features);
bool nearest_on_piece(const TrackPiece& p, const std::vector<std::pair<int, int>>& candidates, int piece_index,
                      double x, double z, PieceHit* hit);
bool nearest_on_track(const std::vector<TrackPiece>& pieces, int piece, double x, double z, PieceHit* hit);
void piece_surface(const TrackPlan& plan, const PieceHit& h, double ground, double* height, double* cover);
// Heights of every vertex, the surface at every vertex (the corners of the
// tiles) and how much track covers it.
void build_ground(const TrackPlan& plan, std::vector<TrackPiece>* pieces, Terrain* terrain,
                  std::vector<uint8_t>* corner_surface, std::vector<float>* cover);

// Ground tiles: the tile texture names of a surface and of the transition
// between two surfaces with a corner mask (first digit: corner x0 z0, then
// x1 z0, x0 z1, x1 z1; "1" where the second surface lies).
std::string ground_tile_name(int surface, int variant);
std::string transition_tile_name(int a, int b, int mask);
int ground_variants(int surface);
// The tileinfo block (physics and roost) of a surface.
std::string surface_tileinfo(int surface);

}  // namespace dvdata
