// Triangle meshes for the models and collision shapes of the data set:
// primitive builders (boxes, cylinders, tori, ellipsoids, lathed and
// extruded outlines), transforms, bone weights, and the writers of the
// plain shape format (".shp") and the "JM" model format.
//
// Texture coordinates are kept as (u, v) with v running down the picture
// (row 0 at v = 0); the JM and ".shp" files store 1 - v, and the readers
// turn it back.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace dvdata {

struct V3 {
  double x, y, z;
};
inline V3 operator+(V3 a, V3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline V3 operator-(V3 a, V3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline V3 operator*(V3 a, double s) { return {a.x * s, a.y * s, a.z * s}; }
inline double dot3(V3 a, V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline V3 cross3(V3 a, V3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
V3 normalized(V3 v);

struct MeshVertex {
  V3 p, n;
  double u = 0, v = 0;
  std::vector<double> weights;  // one per bone (skinned meshes only)
};

// One mesh of a model: vertices, triangles and its material.
struct Mesh {
  std::vector<MeshVertex> vertices;
  std::vector<std::array<int, 3>> triangles;
  double specular = 32;  // >= 0: shininess; -1: reflective; <= -2: unlit
  double alpha = 1;
  double r = 1, g = 1, b = 1;

  int add(V3 p, V3 n, double u, double v);
  void triangle(int a, int b, int c) { triangles.push_back({a, b, c}); }
  void quad(int a, int b, int c, int d) { triangle(a, b, c), triangle(a, c, d); }
  void append(const Mesh& other);
};

// --- builders -----------------------------------------------------------------------
// All take a texture rectangle (u0, v0)-(u1, v1) that the part's
// coordinates are spread over.
struct UvRect {
  double u0 = 0, v0 = 0, u1 = 1, v1 = 1;
};

// Axis-aligned box from its centre and half sizes; each face gets the whole rectangle.
Mesh box(V3 centre, V3 half, UvRect uv = {});
// Cylinder between two points, `sides` around; capped when asked.
Mesh cylinder(V3 a, V3 b, double radius, int sides, bool caps, UvRect uv = {});
// Tapered tube: radius ra at a, rb at b.
Mesh cone(V3 a, V3 b, double ra, double rb, int sides, bool caps, UvRect uv = {});
// Torus around the X axis (wheels): ring radius R, tube radius r.
Mesh torus_x(V3 centre, double ring, double tube, int ring_sides, int tube_sides, UvRect uv = {});
// Ellipsoid with semi-axes (rx, ry, rz).
Mesh ellipsoid(V3 centre, V3 radii, int slices, int stacks, UvRect uv = {});
// A flat outline in the Y-Z plane (points as (y, z)), extruded along X
// from x0 to x1, with side faces and both caps.
Mesh extrude_x(const std::vector<std::pair<double, double>>& outline, double x0, double x1, UvRect uv = {});
// A disc in the plane through `centre` with normal `n` (a plate or a hub cap).
Mesh disc(V3 centre, V3 n, double radius, int sides, UvRect uv = {});
// A flat quad from four corners (counter-clockwise seen from the front).
Mesh panel(V3 a, V3 b, V3 c, V3 d, UvRect uv = {});

// --- transforms -----------------------------------------------------------------------
void translate(Mesh* m, V3 by);
void rotate_y(Mesh* m, double angle);
void rotate_x(Mesh* m, double angle);
void rotate_z(Mesh* m, double angle);
void scale_mesh(Mesh* m, V3 factors);
// Mirror in X (left-right), keeping the triangles facing out.
Mesh mirrored_x(const Mesh& m);
// Normals from the faces (smooth across shared vertices).
void recompute_normals(Mesh* m);
// Every vertex gets `bones` weights, all on bone `bone`.
void bind_all(Mesh* m, int bones, int bone);

// --- files ----------------------------------------------------------------------------

// The plain shape format: one mesh, no material.
std::string shp_text(const Mesh& m);
// "JM1" (no bones) or "JM2" with the bone count and the skeleton's name.
std::string jm_text(const std::vector<Mesh>& meshes, int bones = 0, const char* skeleton = nullptr);

}  // namespace dvdata
