// The seven fixed collision shapes of every bike (".shp", in each body's
// own frame: origin at the body's build position, the bike facing -Z).
// Their digest is held by the program, so they change only on purpose.
//
// Each shape is a set of low-poly blobs around the places a part touches
// the world (engine cases, footpegs, bar ends, fork feet, helmet, boots...):
// the simulation fits its collision spheres to the outermost vertices.
#include <cmath>

#include "tools/dataset/dataset.h"
#include "tools/dataset/mesh.h"

namespace dvdata {

namespace {

struct Blob {
  V3 centre;
  V3 radii;
};

Mesh blobs(const std::vector<Blob>& list) {
  Mesh m;
  for (const Blob& b : list) m.append(ellipsoid(b.centre, b.radii, 8, 4));
  return m;
}

void put_shape(DataSet* set, const char* archive, const char* name, const Mesh& m) {
  std::string text = shp_text(m);
  put_member(set, archive, name, std::vector<unsigned char>(text.begin(), text.end()));
}

}  // namespace

Mesh frame_shape() {
  return blobs({
      {{0, -0.63, -0.6}, {0.3, 0.3, 0.3}},     {{0, -0.63, 0.1}, {0.3, 0.3, 0.3}},      // engine and skid plate
      {{0.55, 0.62, -0.9}, {0.3, 0.3, 0.3}},   {{-0.55, 0.62, -0.9}, {0.3, 0.3, 0.3}},  // shrouds
      {{0, 1.12, -0.4}, {0.3, 0.3, 0.3}},      {{0, 1.22, 0.8}, {0.3, 0.3, 0.3}},       // tank, seat
      {{0, 1.32, 2.3}, {0.25, 0.25, 0.25}},                                             // rear fender
      {{0.6, -0.43, 0.65}, {0.15, 0.15, 0.15}}, {{-0.6, -0.43, 0.65}, {0.15, 0.15, 0.15}},  // footpegs
      {{0.5, 0.62, 1.4}, {0.25, 0.25, 0.25}},  {{-0.45, 0.62, 1.4}, {0.25, 0.25, 0.25}},    // silencer, panel
  });
}

Mesh fork_upper_shape() {
  return blobs({
      {{1.3, 0.6, 0.14}, {0.12, 0.12, 0.12}}, {{-1.3, 0.6, 0.14}, {0.12, 0.12, 0.12}},  // bar ends
      {{0, 0.1, 0.04}, {0.3, 0.3, 0.3}},                                               // top clamp
      {{0, 0.1, -0.36}, {0.25, 0.25, 0.25}},                                           // number plate
  });
}

Mesh fork_lower_shape() {
  return blobs({
      {{0.42, -0.62, -0.39}, {0.14, 0.14, 0.14}}, {{-0.42, -0.62, -0.39}, {0.14, 0.14, 0.14}},  // fork feet
      {{0.42, 0.03, 0.01}, {0.14, 0.14, 0.14}},   {{-0.42, 0.03, 0.01}, {0.14, 0.14, 0.14}},    // legs
      {{0, 0.48, -0.69}, {0.2, 0.2, 0.2}},                                                    // front fender
  });
}

Mesh swingarm_shape() {
  return blobs({
      {{0.42, 0.21, -0.69}, {0.15, 0.15, 0.15}}, {{-0.42, 0.21, -0.69}, {0.15, 0.15, 0.15}},
      {{0.42, -0.24, 0.81}, {0.12, 0.12, 0.12}}, {{-0.42, -0.24, 0.81}, {0.12, 0.12, 0.12}},
      {{0.42, -0.09, -0.09}, {0.12, 0.12, 0.12}}, {{-0.42, -0.09, -0.09}, {0.12, 0.12, 0.12}},
  });
}

Mesh rider_shape() {
  return blobs({
      {{0, 1.5, -0.72}, {0.45, 0.45, 0.45}},                                               // helmet
      {{0, 0.4, -0.32}, {0.55, 0.55, 0.55}},                                               // chest
      {{0, -0.6, 0.18}, {0.5, 0.5, 0.5}},                                                  // hips
      {{0.7, -1.5, -0.82}, {0.25, 0.25, 0.25}},   {{-0.7, -1.5, -0.82}, {0.25, 0.25, 0.25}},  // knees
      {{1.25, -0.95, -1.77}, {0.15, 0.15, 0.15}}, {{-1.25, -0.95, -1.77}, {0.15, 0.15, 0.15}},  // hands
      {{0.55, -2.85, 0.13}, {0.2, 0.2, 0.2}},     {{-0.55, -2.85, 0.13}, {0.2, 0.2, 0.2}},    // boots
  });
}

void build_bike_shapes(DataSet* set) {
  // These live in the archive the game checks first, with the digest it holds.
  put_shape(set, "zzzz.saf", "generic_frame.shp", frame_shape());
  put_shape(set, "zzzz.saf", "generic_fork_upper.shp", fork_upper_shape());
  put_shape(set, "zzzz.saf", "generic_fork_lower.shp", fork_lower_shape());
  put_shape(set, "zzzz.saf", "generic_swingarm.shp", swingarm_shape());
  put_shape(set, "zzzz.saf", "front_wheel.shp", torus_x({0, 0, 0}, 0.8333, 0.3333, 24, 8));
  put_shape(set, "zzzz.saf", "rear_wheel.shp", torus_x({0, 0, 0}, 0.75, 0.3333, 24, 8));
  put_shape(set, "zzzz.saf", "generic_rider.shp", rider_shape());
}

void build_check_archive(DataSet* set) {
  // "zzzz.saf" also names the data set, so a changed set is told apart.
  std::string version = "Dirtvane data set 1\n";
  put_member(set, "zzzz.saf", "dataset_version.txt", std::vector<unsigned char>(version.begin(), version.end()));
}

}  // namespace dvdata
