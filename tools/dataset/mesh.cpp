// Mesh builders, transforms and the ".shp" / "JM" writers.
#include "tools/dataset/mesh.h"

#include <cmath>
#include <algorithm>
#include <cstdio>
#include <cstring>

namespace dvdata {

V3 normalized(V3 v) {
  double l = std::sqrt(dot3(v, v));
  return l > 1e-12 ? v * (1.0 / l) : V3{0, 1, 0};
}

int Mesh::add(V3 p, V3 n, double u, double v) {
  vertices.push_back(MeshVertex{p, normalized(n), u, v, {}});
  return (int)vertices.size() - 1;
}

void Mesh::append(const Mesh& other) {
  int base = (int)vertices.size();
  vertices.insert(vertices.end(), other.vertices.begin(), other.vertices.end());
  for (const auto& t : other.triangles) triangles.push_back({t[0] + base, t[1] + base, t[2] + base});
}

namespace {

double lerp(double a, double b, double t) { return a + (b - a) * t; }

// Two unit vectors perpendicular to `axis` and to each other.
void basis(V3 axis, V3* e1, V3* e2) {
  V3 a = normalized(axis);
  V3 helper = std::fabs(a.y) < 0.9 ? V3{0, 1, 0} : V3{1, 0, 0};
  *e1 = normalized(cross3(helper, a));
  *e2 = cross3(a, *e1);
}

}  // namespace

Mesh box(V3 c, V3 h, UvRect uv) {
  Mesh m;
  const V3 normals[6] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
  for (const V3& n : normals) {
    // Two in-face axes such that (e1 x e2) = n.
    V3 e1, e2;
    if (std::fabs(n.y) > 0.5) e1 = {1, 0, 0}, e2 = cross3(n, e1);
    else e1 = {0, 1, 0}, e2 = cross3(n, e1);
    // Extents along each axis.
    auto ext = [&](V3 e) { return V3{e.x * h.x, e.y * h.y, e.z * h.z}; };
    V3 centre = c + V3{n.x * h.x, n.y * h.y, n.z * h.z};
    V3 a1 = ext(e1), a2 = ext(e2);
    int i0 = m.add(centre - a1 - a2, n, uv.u0, uv.v1);
    int i1 = m.add(centre + a1 - a2, n, uv.u1, uv.v1);
    int i2 = m.add(centre + a1 + a2, n, uv.u1, uv.v0);
    int i3 = m.add(centre - a1 + a2, n, uv.u0, uv.v0);
    // e1 x e2 = n: (i0, i1, i2) is counter-clockwise seen from outside.
    if (dot3(cross3(e2, e1), n) > 0) m.quad(i0, i1, i2, i3);
    else m.quad(i0, i3, i2, i1);
  }
  return m;
}

Mesh cone(V3 a, V3 b, double ra, double rb, int sides, bool caps, UvRect uv) {
  Mesh m;
  V3 axis = b - a, e1, e2;
  basis(axis, &e1, &e2);
  double len = std::sqrt(dot3(axis, axis));
  double slope = (ra - rb) / std::max(1e-9, len);
  for (int i = 0; i <= sides; i++) {
    double t = 2 * M_PI * i / sides;
    V3 radial = e1 * std::cos(t) + e2 * std::sin(t);
    V3 n = radial + normalized(axis) * slope;
    double u = lerp(uv.u0, uv.u1, (double)i / sides);
    m.add(a + radial * ra, n, u, uv.v1);
    m.add(b + radial * rb, n, u, uv.v0);
  }
  for (int i = 0; i < sides; i++) {
    int k = 2 * i;
    m.quad(k, k + 2, k + 3, k + 1);
  }
  if (caps) {
    m.append(disc(a, axis * -1.0, ra, sides, uv));
    m.append(disc(b, axis, rb, sides, uv));
  }
  return m;
}

Mesh cylinder(V3 a, V3 b, double r, int sides, bool caps, UvRect uv) { return cone(a, b, r, r, sides, caps, uv); }

Mesh disc(V3 c, V3 n, double r, int sides, UvRect uv) {
  Mesh m;
  V3 e1, e2;
  basis(n, &e1, &e2);
  int centre = m.add(c, n, (uv.u0 + uv.u1) * 0.5, (uv.v0 + uv.v1) * 0.5);
  for (int i = 0; i <= sides; i++) {
    double t = 2 * M_PI * i / sides;
    V3 p = c + (e1 * std::cos(t) + e2 * std::sin(t)) * r;
    m.add(p, n, lerp(uv.u0, uv.u1, 0.5 + 0.5 * std::cos(t)), lerp(uv.v0, uv.v1, 0.5 - 0.5 * std::sin(t)));
  }
  for (int i = 0; i < sides; i++) m.triangle(centre, centre + 1 + i, centre + 2 + i);
  return m;
}

Mesh torus_x(V3 c, double R, double r, int ring_sides, int tube_sides, UvRect uv) {
  Mesh m;
  for (int i = 0; i <= ring_sides; i++) {
    double a = 2 * M_PI * i / ring_sides;
    V3 radial{0, std::cos(a), std::sin(a)};
    for (int j = 0; j <= tube_sides; j++) {
      double b = 2 * M_PI * j / tube_sides;
      V3 n = radial * std::cos(b) + V3{1, 0, 0} * std::sin(b);
      m.add(c + radial * R + n * r, n, lerp(uv.u0, uv.u1, (double)i / ring_sides),
            lerp(uv.v0, uv.v1, (double)j / tube_sides));
    }
  }
  const int row = tube_sides + 1;
  for (int i = 0; i < ring_sides; i++)
    for (int j = 0; j < tube_sides; j++) {
      int k = i * row + j;
      m.quad(k, k + 1, k + row + 1, k + row);
    }
  return m;
}

Mesh ellipsoid(V3 c, V3 r, int slices, int stacks, UvRect uv) {
  Mesh m;
  for (int i = 0; i <= stacks; i++) {
    double phi = M_PI * i / stacks;  // 0 at the top
    for (int j = 0; j <= slices; j++) {
      double theta = 2 * M_PI * j / slices;
      V3 unit{std::sin(phi) * std::cos(theta), std::cos(phi), std::sin(phi) * std::sin(theta)};
      V3 p = c + V3{unit.x * r.x, unit.y * r.y, unit.z * r.z};
      V3 n{unit.x / r.x, unit.y / r.y, unit.z / r.z};
      m.add(p, n, lerp(uv.u0, uv.u1, (double)j / slices), lerp(uv.v0, uv.v1, (double)i / stacks));
    }
  }
  const int row = slices + 1;
  for (int i = 0; i < stacks; i++)
    for (int j = 0; j < slices; j++) {
      int k = i * row + j;
      m.quad(k, k + 1, k + row + 1, k + row);
    }
  return m;
}

Mesh extrude_x(const std::vector<std::pair<double, double>>& outline, double x0, double x1, UvRect uv) {
  Mesh m;
  const int n = (int)outline.size();
  // Winding of the outline in the (y, z) plane decides which way is out.
  double area = 0;
  for (int i = 0; i < n; i++) {
    const auto& p = outline[(size_t)i];
    const auto& q = outline[(size_t)((i + 1) % n)];
    area += p.first * q.second - q.first * p.second;
  }
  double sign = area > 0 ? 1 : -1;
  double ylo = 1e30, yhi = -1e30, zlo = 1e30, zhi = -1e30;
  for (const auto& p : outline) {
    ylo = std::min(ylo, p.first), yhi = std::max(yhi, p.first);
    zlo = std::min(zlo, p.second), zhi = std::max(zhi, p.second);
  }
  auto cap_uv = [&](double y, double z, double* u, double* v) {
    *u = lerp(uv.u0, uv.u1, (z - zlo) / std::max(1e-9, zhi - zlo));
    *v = lerp(uv.v0, uv.v1, (yhi - y) / std::max(1e-9, yhi - ylo));
  };
  for (int i = 0; i < n; i++) {
    const auto& p = outline[(size_t)i];
    const auto& q = outline[(size_t)((i + 1) % n)];
    double dy = q.first - p.first, dz = q.second - p.second;
    // In the (y, z) plane the outward normal of an anticlockwise outline
    // edge (dy, dz) is (dz, -dy) scaled by the winding.
    V3 nrm = normalized(V3{0, dz * sign, -dy * sign});
    double u0, v0, u1, v1;
    cap_uv(p.first, p.second, &u0, &v0);
    cap_uv(q.first, q.second, &u1, &v1);
    int a = m.add({x0, p.first, p.second}, nrm, u0, v0);
    int b = m.add({x0, q.first, q.second}, nrm, u1, v1);
    int c = m.add({x1, q.first, q.second}, nrm, u1, v1);
    int d = m.add({x1, p.first, p.second}, nrm, u0, v0);
    m.quad(a, b, c, d);
  }
  // Caps as fans (the outlines used are convex enough or star-shaped
  // around their mean).
  double my = 0, mz = 0;
  for (const auto& p : outline) my += p.first, mz += p.second;
  my /= n, mz /= n;
  for (int side = 0; side < 2; side++) {
    double x = side ? x1 : x0;
    V3 nrm{side ? 1.0 : -1.0, 0, 0};
    // Seen from outside, the +x cap has the front (-z) on its right, so its
    // u runs the other way: pictures read the right way round on both.
    double u, v;
    auto flip = [&](double value) { return side ? uv.u0 + uv.u1 - value : value; };
    cap_uv(my, mz, &u, &v);
    int centre = m.add({x, my, mz}, nrm, flip(u), v);
    for (int i = 0; i < n; i++) {
      cap_uv(outline[(size_t)i].first, outline[(size_t)i].second, &u, &v);
      m.add({x, outline[(size_t)i].first, outline[(size_t)i].second}, nrm, flip(u), v);
    }
    for (int i = 0; i < n; i++) {
      int a = centre + 1 + i, b = centre + 1 + (i + 1) % n;
      // +x cap faces out with (a, b) clockwise in (y, z) for an
      // anticlockwise outline.
      bool flip = (side == 1) == (sign > 0);
      if (flip) m.triangle(centre, a, b);
      else m.triangle(centre, b, a);
    }
  }
  return m;
}

Mesh panel(V3 a, V3 b, V3 c, V3 d, UvRect uv) {
  Mesh m;
  V3 n = normalized(cross3(b - a, c - a));
  int i0 = m.add(a, n, uv.u0, uv.v1);
  int i1 = m.add(b, n, uv.u1, uv.v1);
  int i2 = m.add(c, n, uv.u1, uv.v0);
  int i3 = m.add(d, n, uv.u0, uv.v0);
  m.quad(i0, i1, i2, i3);
  return m;
}

// --- transforms -------------------------------------------------------------------------

void translate(Mesh* m, V3 by) {
  for (MeshVertex& v : m->vertices) v.p = v.p + by;
}

namespace {

void rotate(Mesh* m, double angle, int axis) {
  double c = std::cos(angle), s = std::sin(angle);
  auto turn = [&](V3 p) {
    if (axis == 0) return V3{p.x, c * p.y - s * p.z, s * p.y + c * p.z};
    if (axis == 1) return V3{c * p.x + s * p.z, p.y, -s * p.x + c * p.z};
    return V3{c * p.x - s * p.y, s * p.x + c * p.y, p.z};
  };
  for (MeshVertex& v : m->vertices) v.p = turn(v.p), v.n = turn(v.n);
}

}  // namespace

void rotate_x(Mesh* m, double angle) { rotate(m, angle, 0); }
void rotate_y(Mesh* m, double angle) { rotate(m, angle, 1); }
void rotate_z(Mesh* m, double angle) { rotate(m, angle, 2); }

void scale_mesh(Mesh* m, V3 f) {
  for (MeshVertex& v : m->vertices) {
    v.p = V3{v.p.x * f.x, v.p.y * f.y, v.p.z * f.z};
    v.n = normalized(V3{v.n.x / f.x, v.n.y / f.y, v.n.z / f.z});
  }
}

Mesh mirrored_x(const Mesh& m) {
  Mesh out = m;
  for (MeshVertex& v : out.vertices) v.p.x = -v.p.x, v.n.x = -v.n.x;
  for (auto& t : out.triangles) std::swap(t[1], t[2]);
  return out;
}

void recompute_normals(Mesh* m) {
  std::vector<V3> sum(m->vertices.size(), V3{0, 0, 0});
  for (const auto& t : m->triangles) {
    V3 a = m->vertices[(size_t)t[0]].p, b = m->vertices[(size_t)t[1]].p, c = m->vertices[(size_t)t[2]].p;
    V3 n = cross3(b - a, c - a);
    for (int k = 0; k < 3; k++) sum[(size_t)t[(size_t)k]] = sum[(size_t)t[(size_t)k]] + n;
  }
  for (size_t i = 0; i < sum.size(); i++) m->vertices[i].n = normalized(sum[i]);
}

void bind_all(Mesh* m, int bones, int bone) {
  for (MeshVertex& v : m->vertices) {
    v.weights.assign((size_t)bones, 0.0);
    if (bone >= 0 && bone < bones) v.weights[(size_t)bone] = 1.0;
  }
}

// --- files -------------------------------------------------------------------------------

namespace {

// Fixed-precision numbers without a "-0.0000".
void number(std::string* out, double v, int decimals = 4) {
  char buffer[48];
  snprintf(buffer, sizeof buffer, "%.*f", decimals, v);
  if (buffer[0] == '-') {
    bool zero = true;
    for (const char* p = buffer + 1; *p; p++)
      if (*p != '0' && *p != '.') zero = false;
    if (zero) memmove(buffer, buffer + 1, strlen(buffer));
  }
  *out += buffer;
}

void vertex_line(std::string* out, const MeshVertex& v, bool weights) {
  const double values[8] = {v.p.x, v.p.y, v.p.z, v.n.x, v.n.y, v.n.z, v.u, 1.0 - v.v};
  for (int i = 0; i < 8; i++) {
    if (i) *out += ' ';
    number(out, values[i]);
  }
  if (weights)
    for (double w : v.weights) {
      *out += ' ';
      number(out, w, 3);
    }
  *out += '\n';
}

}  // namespace

std::string shp_text(const Mesh& m) {
  std::string out;
  char buffer[64];
  snprintf(buffer, sizeof buffer, "%d %d\n", (int)m.vertices.size(), (int)m.triangles.size());
  out += buffer;
  for (const MeshVertex& v : m.vertices) vertex_line(&out, v, false);
  for (const auto& t : m.triangles) {
    snprintf(buffer, sizeof buffer, "%d %d %d\n", t[0], t[1], t[2]);
    out += buffer;
  }
  return out;
}

std::string jm_text(const std::vector<Mesh>& meshes, int bones, const char* skeleton) {
  std::string out;
  char buffer[160];
  if (bones > 0) {
    snprintf(buffer, sizeof buffer, "JM2\n%d %s\n", bones, skeleton ? skeleton : "skeleton");
  } else {
    snprintf(buffer, sizeof buffer, "JM1\n");
  }
  out += buffer;
  for (const Mesh& m : meshes) {
    // s, a, r, g, b, V, T
    number(&out, m.specular, 3);
    out += ' ';
    number(&out, m.alpha, 3);
    out += ' ';
    number(&out, m.r, 3);
    out += ' ';
    number(&out, m.g, 3);
    out += ' ';
    number(&out, m.b, 3);
    snprintf(buffer, sizeof buffer, " %d %d\n", (int)m.vertices.size(), (int)m.triangles.size());
    out += buffer;
    for (const MeshVertex& v : m.vertices) vertex_line(&out, v, bones > 0);
    for (const auto& t : m.triangles) {
      snprintf(buffer, sizeof buffer, "%d %d %d\n", t[0], t[1], t[2]);
      out += buffer;
    }
  }
  return out;
}

}  // namespace dvdata
