// Building a track directory from a plan: a closed lap and a start spur laid
// as smooth centre lines over rolling ground, with jumps, whoops and berms
// shaped along them, surfaces painted per stretch, and everything the track
// directory holds (heights, baked shading and shadows, tiles, timing gates,
// lighting, objects, cameras, overview map) derived from that one plan.
#pragma once

#include <string>
#include <vector>

#include "tools/dataset/dataset.h"

namespace dvdata {

// Ground surfaces of the shipped tracks; each has a tile texture of the
// same name in "@ground/".
enum Surface { SURFACE_LOOSE, SURFACE_HARDPACK, SURFACE_LOAM, SURFACE_GRASS, SURFACE_SAND, SURFACE_COUNT };
const char* surface_name(int surface);

struct PathPoint {
  double x, z;
  double half_width;
};

// Where along a path (ft from its start) a surface begins.
struct SurfaceZone {
  double s;
  int surface;
};

// A profile along the path made of straight pieces between knots whose
// corners are rounded over `round` feet on each side: jump faces, tables,
// landings and bumps.
struct ProfileKnot {
  double u;      // ft from the feature's start
  double h;      // ft above the path's base profile
  double round;  // half-length of the rounding at this knot
};

struct Feature {
  std::string kind;  // "tabletop", "double", "whoops" ...: for the log and markers
  double s;          // where it starts along the lap
  std::vector<ProfileKnot> knots;
  double length() const { return knots.empty() ? 0 : knots.back().u; }
};

// Jump and bump shapes, heights in ft, angles in degrees.
Feature tabletop(double s, double height, double face_degrees, double table, double landing_degrees);
Feature gap_jump(const char* kind, double s, double height, double face_degrees, double gap, double landing_height,
                 double landing_degrees);  // doubles and triples: take-off, gap, landing
Feature step_up(double s, double height, double face_degrees, double top);
Feature step_down(double s, double height, double face_degrees, double drop_degrees);
Feature whoops(double s, int count, double spacing, double height);
Feature rhythm(double s, int count, double spacing, double height, double face_degrees);
Feature roller(double s, double height, double length);

struct TrackObjectsPlan {
  bool trees = true;
  int tree_count = 300;
  bool markers = true;
  bool hay_bales = true;
  bool tuff_blocks = false;  // blocks lining both edges (stadium tracks)
  int banner_count = 12;
  bool crowd = false;        // spectators on the stands (stadium tracks)
};

struct TrackPlan {
  std::string dir, display_name, description;
  int n = 9;
  double spacing = 2.0;
  uint32_t seed = 1;
  // Ground: base height plus rolling hills.
  double base_height = 40;
  double hill_height = 30;  // peak to trough, roughly
  double hill_scale = 500;  // ft per hill
  // A stadium instead of hills: a level floor inside [x0, z0, x1, z1] with
  // stands rising in terraces around it.
  bool stadium = false;
  double floor_rect[4] = {0, 0, 0, 0};
  double stand_height = 40;
  int off_track = SURFACE_GRASS;  // the surface beside the track (on the floor)
  double profile_smoothing = 120;  // ft: the lap follows the ground this loosely
  double max_grade = 0.12;         // steepest climb of the base profile

  std::vector<PathPoint> lap;    // closed: the last point joins the first
  std::vector<PathPoint> start;  // open: gate line first, ends on the lap
  std::vector<SurfaceZone> lap_surfaces;
  std::vector<SurfaceZone> start_surfaces;
  std::vector<Feature> features;  // along the lap
  double berm_degrees = 24;       // bank of the tightest turns
  double berm_radius = 90;        // turns tighter than this get a berm
  double shoulder = 10;           // ft from the edge back to the ground
  double edge_mound = 0.6;        // a low ridge of pushed-up dirt at the edges

  int gate_count = 40;
  double gate_spacing = 3.5;
  int gate_line_s = 12;       // ft along the start piece to the gate line; the
                              // rows of a full lineup stand up to 31 ft behind it
  double checkpoint_spacing = 70;
  double finish_s = 0;       // lap position of the finish line
  int camera_count = 10;
  std::string sky = "sky";   // sky texture set: "@<sky>-n.ppm" ...
  std::string lighting;      // lighting file text (sky names are filled in)
  TrackObjectsPlan objects;
};

// Builds and writes the whole directory "<dir>/" of the plan.
void build_track(DataSet* set, const TrackPlan& plan);

// The centre line of a path, sampled every foot: positions, unit
// directions, curvature (1/ft, positive turning left seen from above) and
// the distance along the path.
struct PathSample {
  double x, z, dx, dz, curvature, s, half_width;
};
std::vector<PathSample> sample_path(const std::vector<PathPoint>& points, bool closed);
double path_length(const std::vector<PathSample>& samples);
// Where along the sampled path the sample nearest to (x, z) lies.
double path_position_near(const std::vector<PathSample>& samples, double x, double z);

}  // namespace dvdata
