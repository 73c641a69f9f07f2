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
  auto test_cell = [&](int cc, int rr) {
    Vec3 first[3], second[3];
    cell_triangles(t, cc, rr, first, second);
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
