// Collision shapes of the frame, forks, swingarm and rider: reading them from
// ".shp" mesh files, fitting the spheres the simulation collides, the generic
// shapes built in code, and the part contacts against the terrain and
// between bikes.
//
// The ".shp" file (the plain shape format the renderer also reads) is text:
//
//   V T
//   V vertex lines: px py pz nx ny nz u v
//   T triangle lines: i j k
//
// Numbers are separated by any white space (line breaks carry no meaning).
// V and T must lie in 1..65536, every index in 0..V-1, and every number must
// be a finite decimal; anything missing, malformed or out of range fails the
// whole read and leaves the shape it was meant to replace untouched.
// Vertex positions are in the part's own frame: origin at the body's build
// position, axes of the build frame (+Y up, the bike faces -Z), in feet.
//
// The simulation does not collide the triangles themselves. On load it keeps
// up to SHAPE_MAX_SPHERES spheres spread over the mesh's outermost vertices
// (farthest-point sampling from the vertex farthest from the centroid), each
// sunk inward by its radius so that its surface touches the vertex. Spheres
// against height-field triangles are cheap and never snag on the edges
// between ground cells, and a dozen of them follow a part's outline closely
// enough for scraping, landing on a part and crashing into walls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <ode/ode.h>

#include "bike/bike_math.h"

struct Bike;
struct Terrain;

constexpr int SHAPE_MAX_SPHERES = 16;
constexpr int SHAPE_FITTED_SPHERES = 12;
constexpr int SHAPE_MAX_COUNT = 65536;
// Nothing of a bike reaches farther than this from its frame (ft).
constexpr double BIKE_REACH = 6.0;

struct ShapeSphere {
  DVec centre;  // body frame
  double radius;
};

struct CollisionShape {
  int count;
  ShapeSphere sphere[SHAPE_MAX_SPHERES];
  double bound_radius;  // from the body origin, enclosing every sphere
};

struct ShapeMesh {
  std::vector<DVec> positions;
  std::vector<int> triangles;  // 3 per triangle
};

// Parses ".shp" text. On failure returns false and writes a short reason.
bool parse_shape_mesh(const char* text, size_t size, ShapeMesh* mesh, char* error, size_t error_size);

// Fits the collision spheres to a mesh (false for an empty mesh).
bool fit_collision_shape(const ShapeMesh& mesh, CollisionShape* shape);

// Builds a shape from explicit spheres (the shapes made in code).
void make_collision_shape(CollisionShape* shape, const ShapeSphere* spheres, int count);

// The shapes shared by every bike.
struct PartShapes {
  CollisionShape frame, fork_upper, fork_lower, swingarm, rider;
};
extern PartShapes g_part_shapes;

// The generic shapes made in code; g_part_shapes starts with these.
void build_default_part_shapes(PartShapes* shapes);

// Replaces the generic shapes with those of the ".shp" files of the data set
// ("@generic_frame.shp" and its siblings), one by one: a file that is missing
// keeps the shape made in code; one that fails to parse is reported on the
// message lines and keeps it too. Returns how many files were taken.
int load_part_shapes(PartShapes* shapes);

// The per-bike contact step: part shapes against the terrain, as soft
// contacts in the contact group. Notes whether the rider's shape touched the
// ground upside down at speed (the crash test reads it).
void make_part_contacts(Bike* bike, const Terrain& terrain);

// Contacts between two bikes' parts and wheels (each pair once, deepest few).
int collide_bike_pair(Bike* a, Bike* b);

// A bike's collision spheres in the world, as the bike-to-bike and other
// object tests use them: a part's spheres, or eight spheres around a tyre
// (at most SHAPE_MAX_SPHERES per body).
struct WorldSphere {
  int body;  // BikeBody
  DVec centre;
  double radius;
};
int world_spheres(const Bike& bike, int body, WorldSphere* out);
// Distance from the body's origin that encloses all of its spheres.
double body_bound(const Bike& bike, int body);

// The soft contact of every part contact (2500 lbf/ft, 250 lbf s/ft) into
// the contact group; b null attaches a to the static world.
void add_part_contact(dBodyID a, dBodyID b, DVec point, DVec normal, double depth, double mu,
                      dJointFeedback* feedback);
