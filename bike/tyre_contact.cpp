// Wheel contact search, contact joints, friction and rolling resistance.
#include "bike/tyre_contact.h"

#include <cmath>
#include <cstring>

#include "bike/bike.h"
#include "track/terrain.h"

namespace {

void to_dvec(const Vec3 in[3], DVec out[3]) {
  for (int i = 0; i < 3; i++) out[i] = dvec(in[i]);
}

// Far more than the rounding of any distance the torus test works out on a
// field a few thousand feet across, far less than anything a tyre feels.
constexpr double CLEAR_MARGIN = 1e-6;

// Whether a cell's two triangles are settled without the torus test: both
// lie in the box of the cell's corners below its highest corner. When that
// box is wholly below the core circle, no circle point lies under a triangle
// point, so the clearance the torus test finds is the distance from a circle
// point to a triangle point (over the face, beside an edge or at a wall);
// when the box is also farther than R + (r - beat) from the centre, every such
// distance is at least r - beat, so neither triangle can give a contact
// deeper than beat and the test would turn both down. On level ground only
// the cells under the centre are left for the test.
bool cell_clear_of_torus(const Vec3 first[3], const Vec3 second[3], DVec c, double circle_bottom, double R,
                         double r, double beat) {
  // The corners are p10, p00, p11 of the first triangle and p01 of the
  // second, whichever way the cell is split.
  const Vec3 corner[4] = {first[0], first[1], first[2], second[0]};
  float x0 = corner[0].x, x1 = x0, z0 = corner[0].z, z1 = z0, top = corner[0].y;
  for (int i = 1; i < 4; i++) {
    x0 = corner[i].x < x0 ? corner[i].x : x0;
    x1 = corner[i].x > x1 ? corner[i].x : x1;
    z0 = corner[i].z < z0 ? corner[i].z : z0;
    z1 = corner[i].z > z1 ? corner[i].z : z1;
    top = corner[i].y > top ? corner[i].y : top;
  }
  if (!((double)top < circle_bottom)) return false;
  const double reach = R + (r - beat) + CLEAR_MARGIN;
  if (!(reach > 0)) return true;
  const double dx = c.x < x0 ? x0 - c.x : (c.x > x1 ? c.x - x1 : 0.0);
  const double dz = c.z < z0 ? z0 - c.z : (c.z > z1 ? c.z - z1 : 0.0);
  const double dy = c.y - (double)top;
  return dx * dx + dy * dy + dz * dz > reach * reach;
}

}  // namespace

bool find_wheel_contact(const Terrain& t, DVec c, DVec axle, double R, double r, TriangleContact* out) {
  if (t.N < 2) return false;
  double ext = R + r;
  int c0, c1, r0, r1;
  cell_span_beyond_edges(t, c.x - ext, c.x + ext, &c0, &c1);
  cell_span_beyond_edges(t, c.z - ext, c.z + ext, &r0, &r1);

  // Start with the triangle under the circle's lowest point: on smooth ground
  // it holds the deepest contact, and knowing it lets the others give up early.
  DVec a = normalized(axle, DVec{1, 0, 0});
  DVec down = normalized(DVec{0, -1, 0} - a * dot(DVec{0, -1, 0}, a), DVec{0, -1, 0});
  DVec low = c + down * R;
  int lc = (int)std::floor(clampd(low.x / t.spacing, -1e6, 1e6));
  int lr = (int)std::floor(clampd(low.z / t.spacing, -1e6, 1e6));

  TriangleContact best{0, {0, 0, 0}, {0, 1, 0}};
  bool found = false;
  const PreparedTorus torus = make_torus(c, a, R, r);
  // No point of the core circle lies lower than this (less a hair for the
  // rounding of the circle points the torus test works out).
  const double circle_bottom = c.y - R * std::sqrt(std::fmax(0.0, 1 - torus.a.y * torus.a.y)) - CLEAR_MARGIN;
  auto test_cell = [&](int cc, int rr) {
    Vec3 first[3], second[3];
    cell_triangles(t, cc, rr, first, second);
    if (cell_clear_of_torus(first, second, c, circle_bottom, R, r, best.depth)) return;
    DVec tri[3];
    TriangleContact hit;
    to_dvec(first, tri);
    if (torus_triangle_contact(torus, tri, &hit, best.depth)) {
      best = hit;
      found = true;
    }
    to_dvec(second, tri);
    if (torus_triangle_contact(torus, tri, &hit, best.depth)) {
      best = hit;
      found = true;
    }
  };
  bool low_inside = lc >= c0 && lc <= c1 && lr >= r0 && lr <= r1;
  if (low_inside) test_cell(lc, lr);
  for (int rr = r0; rr <= r1; rr++)
    for (int cc = c0; cc <= c1; cc++)
      if (!(low_inside && cc == lc && rr == lr)) test_cell(cc, rr);
  if (!found) return false;

  DVec n = best.normal;
  if (n.y < 0) {
    if (n.x * n.x + n.z * n.z >= 1.0 / 1024) n.y = 0;
    else n = DVec{0, 1, 0};
    n = normalized(n);
  }
  best.normal = n;
  *out = best;
  return true;
}

double contact_friction(const Tile& tile, double sliding_speed, bool arcade, double lean) {
  double mu = friction_at(tile, (float)sliding_speed);
  if (arcade) mu *= 1 - 0.375 * std::fmin(1.0, 4 * std::fabs(lean) / PI_D);
  return mu;
}

SoftContact soft_contact(double k, double c) {
  double cfm = 1.0 / (c + TICK_SECONDS * k);
  return SoftContact{TICK_SECONDS * k * cfm, cfm};
}

SoftContact wheel_contact_softness(double g) {
  g = clampd(g, 0, 1);
  double g3 = g * g * g;
  return soft_contact(1000 + 24000 * g3, 200 + 2300 * g3);
}

DVec friction_direction(DVec n, DVec v, DVec axle) {
  DVec f = cross(n, v);
  if (length_squared(f) < 1.0 / 1024) f = cross(n, axle);
  return normalized(f, DVec{1, 0, 0});
}

void make_wheel_contact(Bike* b, int index, const Terrain& terrain) {
  WheelShape& w = b->wheel[index];
  DVec centre = dvec(dBodyGetPosition(w.body));
  DVec axle = mat_mul(dBodyGetRotation(w.body), w.axle_axis);
  TriangleContact hit;
  if (!find_wheel_contact(terrain, centre, axle, w.major_radius, w.minor_radius, &hit) || !(hit.depth > 0)) {
    w.depth = 0;
    w.tile = -1;
    w.friction = 0;
    w.sliding_velocity = DVec{0, 0, 0};
    memset(&w.feedback, 0, sizeof w.feedback);
    return;
  }
  w.depth = hit.depth;
  w.contact_point = hit.point;
  w.contact_normal = hit.normal;
  dVector3 pv;
  dBodyGetPointVel(w.body, hit.point.x, hit.point.y, hit.point.z, pv);
  w.sliding_velocity = dvec(pv);
  w.tile = tile_at(terrain, (float)hit.point.x, (float)hit.point.z);
  const Tile& tile = terrain.tiles[w.tile];
  double slide = length(w.sliding_velocity);
  w.friction = contact_friction(tile, slide, b->tuning.arcade != 0, bike_lean_angle(*b));

  double g = std::fmin(hit.depth / w.minor_radius, 1.0);
  SoftContact soft = wheel_contact_softness(g);
  DVec fdir = friction_direction(hit.normal, w.sliding_velocity, axle);

  dContact contact;
  memset(&contact, 0, sizeof contact);
  contact.surface.mode = dContactApprox1 | dContactSoftERP | dContactSoftCFM | dContactFDir1;
  contact.surface.mu = w.friction;
  contact.surface.soft_erp = soft.erp;
  contact.surface.soft_cfm = soft.cfm;
  contact.geom.pos[0] = hit.point.x;
  contact.geom.pos[1] = hit.point.y;
  contact.geom.pos[2] = hit.point.z;
  contact.geom.normal[0] = hit.normal.x;
  contact.geom.normal[1] = hit.normal.y;
  contact.geom.normal[2] = hit.normal.z;
  contact.geom.depth = hit.depth;
  contact.fdir1[0] = fdir.x;
  contact.fdir1[1] = fdir.y;
  contact.fdir1[2] = fdir.z;
  dJointID j = dJointCreateContact(g_bike_world.world, g_bike_world.contacts, &contact);
  dJointAttach(j, w.body, nullptr);
  dJointSetFeedback(j, &w.feedback);
  b->has_touched_ground = true;

  // Rolling resistance against the wheel's motion along the ground.
  DVec vel = dvec(dBodyGetLinearVel(w.body));
  DVec along = vel - hit.normal * dot(vel, hit.normal);
  double s = length(along);
  double resistance = rolling_resistance_at(tile, (float)s, (float)g);
  if (s > 1) along = along * (1.0 / s);
  DVec force = along * -resistance;
  dBodyAddForce(w.body, force.x, force.y, force.z);
}
