// Part collision shapes: parsing, fitting, the generic shapes and the part
// contacts against the terrain and between bikes.
#include "bike/part_shapes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bike/bike.h"
#include "bike/tyre_contact.h"
#include "track/terrain.h"

PartShapes g_part_shapes = [] {
  PartShapes shapes;
  build_default_part_shapes(&shapes);
  return shapes;
}();

namespace {

// --- parsing ----------------------------------------------------------------------

struct Scanner {
  const char* p;
  const char* end;
};

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

// One white-space separated word as a finite number. Copies the word into a
// bounded buffer first so the conversion never reads past the input.
bool scan_number(Scanner* s, double* out) {
  while (s->p < s->end && is_space(*s->p)) s->p++;
  if (s->p >= s->end) return false;
  char word[64];
  size_t n = 0;
  while (s->p < s->end && !is_space(*s->p)) {
    if (n + 1 >= sizeof word) return false;
    word[n++] = *s->p++;
  }
  word[n] = '\0';
  char* stop = nullptr;
  double v = strtod(word, &stop);
  if (stop != word + n || !std::isfinite(v)) return false;
  *out = v;
  return true;
}

bool scan_count(Scanner* s, int lo, int hi, int* out) {
  double v;
  if (!scan_number(s, &v) || v != std::floor(v) || v < lo || v > hi) return false;
  *out = (int)v;
  return true;
}

void set_error(char* error, size_t size, const char* text) {
  if (error && size) snprintf(error, size, "%s", text);
}

// --- terrain tests ------------------------------------------------------------------

struct SphereHit {
  int body;
  double depth;
  DVec point, normal;
};

void cell_span(const Terrain& t, double lo, double hi, int* first, int* last) {
  int a = (int)std::floor(clampd(lo / t.spacing, -1e6, 1e6));
  int b = (int)std::floor(clampd(hi / t.spacing, -1e6, 1e6));
  int top = t.N - 2;
  *first = std::clamp(a, 0, top);
  *last = std::clamp(b, 0, top);
}

// Highest terrain vertex under a square: a cheap bound for skipping bodies
// that are clear of the ground (off the field the edge cells' vertices
// include the edge heights the flat ground beyond has, so it still holds).
double highest_ground(const Terrain& t, double x, double z, double half) {
  int c0, c1, r0, r1;
  cell_span(t, x - half, x + half, &c0, &c1);
  cell_span(t, z - half, z + half, &r0, &r1);
  // cell_span keeps c1 + 1 and r1 + 1 on the grid (N >= 2), so the rows
  // are read straight; the highest float widens to the same double.
  float top = -INFINITY;
  for (int r = r0; r <= r1 + 1; r++) {
    const float* row = t.heights.data() + (size_t)t.N * (size_t)r;
    for (int c = c0; c <= c1 + 1; c++) top = std::max(top, row[c]);
  }
  return top > -1e300 ? (double)top : -1e300;
}

bool sphere_terrain_contact(const Terrain& t, DVec c, double radius, TriangleContact* out) {
  int c0, c1, r0, r1;
  cell_span_beyond_edges(t, c.x - radius, c.x + radius, &c0, &c1);
  cell_span_beyond_edges(t, c.z - radius, c.z + radius, &r0, &r1);
  bool found = false;
  out->depth = 0;
  for (int r = r0; r <= r1; r++)
    for (int cc = c0; cc <= c1; cc++) {
      Vec3 a[3], b[3];
      cell_triangles(t, cc, r, a, b);
      for (const Vec3* tri : {a, b}) {
        DVec d[3] = {dvec(tri[0]), dvec(tri[1]), dvec(tri[2])};
        TriangleContact hit;
        if (sphere_triangle_contact(c, radius, d, &hit) && hit.depth > out->depth) {
          *out = hit;
          found = true;
        }
      }
    }
  return found;
}

}  // namespace

void add_part_contact(dBodyID a, dBodyID b, DVec point, DVec normal, double depth, double mu, dJointFeedback* feedback) {
  SoftContact soft = soft_contact(2500, 250);
  dContact contact;
  memset(&contact, 0, sizeof contact);
  contact.surface.mode = dContactApprox1 | dContactSoftERP | dContactSoftCFM;
  contact.surface.mu = mu;
  contact.surface.soft_erp = soft.erp;
  contact.surface.soft_cfm = soft.cfm;
  contact.geom.pos[0] = point.x;
  contact.geom.pos[1] = point.y;
  contact.geom.pos[2] = point.z;
  contact.geom.normal[0] = normal.x;
  contact.geom.normal[1] = normal.y;
  contact.geom.normal[2] = normal.z;
  contact.geom.depth = depth;
  dJointID j = dJointCreateContact(g_bike_world.world, g_bike_world.contacts, &contact);
  dJointAttach(j, a, b);
  if (feedback) dJointSetFeedback(j, feedback);
}

// Part friction against the ground: plastic and metal slide more easily than
// a tyre grips; a tumbling rider digs in.
constexpr double PART_GRIP = 0.6;
constexpr double RIDER_GRIP = 0.8;
constexpr int CONTACTS_PER_BODY = 4;
constexpr double BIKE_CONTACT_GRIP = 0.3;
constexpr int CONTACTS_PER_BIKE_PAIR = 4;
constexpr double SUNK_DEPTH = 0.1;  // ft

// Collision spheres of a bike in the world, for bike-to-bike tests: the
// part spheres and eight spheres around each tyre.
int world_spheres(const Bike& b, int body, WorldSphere* out) {
  int n = 0;
  DVec p = body_position(b, body);
  const double* R = body_rotation(b, body);
  if (b.shape[body]) {
    const CollisionShape& s = *b.shape[body];
    for (int i = 0; i < s.count; i++) out[n++] = WorldSphere{body, p + mat_mul(R, s.sphere[i].centre), s.sphere[i].radius};
    return n;
  }
  const WheelShape& w = b.wheel[body == BODY_FRONT_WHEEL ? WHEEL_FRONT : WHEEL_REAR];
  for (int k = 0; k < 8; k++) {
    double angle = k * (PI_D / 4);
    DVec local{0, w.major_radius * std::cos(angle), w.major_radius * std::sin(angle)};
    out[n++] = WorldSphere{body, p + mat_mul(R, local), w.minor_radius};
  }
  return n;
}

double body_bound(const Bike& b, int body) {
  if (b.shape[body]) return b.shape[body]->bound_radius;
  const WheelShape& w = b.wheel[body == BODY_FRONT_WHEEL ? WHEEL_FRONT : WHEEL_REAR];
  return w.major_radius + w.minor_radius;
}

bool parse_shape_mesh(const char* text, size_t size, ShapeMesh* mesh, char* error, size_t error_size) {
  Scanner s{text, text + size};
  int V, T;
  if (!scan_count(&s, 1, SHAPE_MAX_COUNT, &V) || !scan_count(&s, 1, SHAPE_MAX_COUNT, &T)) {
    set_error(error, error_size, "bad vertex or triangle count");
    return false;
  }
  ShapeMesh out;
  out.positions.resize((size_t)V);
  for (int i = 0; i < V; i++) {
    double v[8];
    for (double& x : v)
      if (!scan_number(&s, &x)) {
        set_error(error, error_size, "missing vertex number");
        return false;
      }
    out.positions[(size_t)i] = DVec{v[0], v[1], v[2]};
  }
  out.triangles.resize((size_t)T * 3);
  for (int i = 0; i < T * 3; i++)
    if (!scan_count(&s, 0, V - 1, &out.triangles[(size_t)i])) {
      set_error(error, error_size, "missing or bad triangle index");
      return false;
    }
  *mesh = std::move(out);
  return true;
}

void make_collision_shape(CollisionShape* shape, const ShapeSphere* spheres, int count) {
  count = std::clamp(count, 0, SHAPE_MAX_SPHERES);
  shape->count = count;
  shape->bound_radius = 0;
  for (int i = 0; i < count; i++) {
    shape->sphere[i] = spheres[i];
    shape->bound_radius = std::max(shape->bound_radius, length(spheres[i].centre) + spheres[i].radius);
  }
}

bool fit_collision_shape(const ShapeMesh& mesh, CollisionShape* shape) {
  const std::vector<DVec>& v = mesh.positions;
  if (v.empty()) return false;
  DVec lo = v[0], hi = v[0], centroid{0, 0, 0};
  for (const DVec& p : v) {
    lo = DVec{std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
    hi = DVec{std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
    centroid += p;
  }
  centroid = centroid * (1.0 / (double)v.size());
  double extent = std::min({hi.x - lo.x, hi.y - lo.y, hi.z - lo.z});
  double radius = clampd(0.25 * extent, 0.1, 0.35);

  // Farthest-point sampling over the vertices.
  std::vector<double> nearest(v.size(), 1e300);
  size_t pick = 0;
  double far = -1;
  for (size_t i = 0; i < v.size(); i++) {
    double d = length_squared(v[i] - centroid);
    if (d > far) {
      far = d;
      pick = i;
    }
  }
  ShapeSphere spheres[SHAPE_FITTED_SPHERES];
  int count = 0;
  while (count < SHAPE_FITTED_SPHERES) {
    DVec p = v[pick];
    DVec inward = centroid - p;
    double l = length(inward);
    DVec centre = l > radius ? p + inward * (radius / l) : centroid;
    spheres[count++] = ShapeSphere{centre, radius};
    double next_far = 0;
    size_t next = pick;
    for (size_t i = 0; i < v.size(); i++) {
      nearest[i] = std::min(nearest[i], length_squared(v[i] - p));
      if (nearest[i] > next_far) {
        next_far = nearest[i];
        next = i;
      }
    }
    // Stop once every vertex lies within a radius of a chosen one.
    if (next_far <= radius * radius) break;
    pick = next;
  }
  make_collision_shape(shape, spheres, count);
  return true;
}

void build_default_part_shapes(PartShapes* s) {
  // Sphere centres in each body's own frame (build position subtracted).
  const ShapeSphere frame[] = {
      {{0, -0.63, -0.6}, 0.3},   {{0, -0.63, 0.1}, 0.3},     // engine cases and skid plate
      {{0.55, 0.62, -0.9}, 0.3}, {{-0.55, 0.62, -0.9}, 0.3}, // radiator shrouds
      {{0, 1.12, -0.4}, 0.3},    {{0, 1.22, 0.8}, 0.3},      // tank and seat
      {{0, 1.32, 2.3}, 0.25},                                // rear fender
      {{0.6, -0.43, 0.65}, 0.15}, {{-0.6, -0.43, 0.65}, 0.15},  // footpegs
      {{0.5, 0.62, 1.4}, 0.25},  {{-0.45, 0.62, 1.4}, 0.25},     // silencer and side panel
  };
  const ShapeSphere fork_upper[] = {
      {{1.3, 0.6, 0.14}, 0.12}, {{-1.3, 0.6, 0.14}, 0.12},  // bar ends
      {{0, 0.1, 0.04}, 0.3},                                // top clamp
      {{0, 0.1, -0.36}, 0.25},                              // number plate
  };
  const ShapeSphere fork_lower[] = {
      {{0.42, -0.62, -0.39}, 0.14}, {{-0.42, -0.62, -0.39}, 0.14},  // fork feet
      {{0.42, 0.03, 0.01}, 0.14},   {{-0.42, 0.03, 0.01}, 0.14},    // legs
      {{0, 0.48, -0.69}, 0.2},                                      // front fender
  };
  const ShapeSphere swingarm[] = {
      {{0.42, 0.21, -0.69}, 0.15},  {{-0.42, 0.21, -0.69}, 0.15},
      {{0.42, -0.24, 0.81}, 0.12},  {{-0.42, -0.24, 0.81}, 0.12},
      {{0.42, -0.09, -0.09}, 0.12},
  };
  const ShapeSphere rider[] = {
      {{0, 1.5, -0.72}, 0.45},                                     // helmet
      {{0, 0.4, -0.32}, 0.55},                                     // chest
      {{0, -0.6, 0.18}, 0.5},                                      // hips
      {{0.7, -1.5, -0.82}, 0.25},  {{-0.7, -1.5, -0.82}, 0.25},    // knees
      {{1.25, -0.95, -1.77}, 0.15}, {{-1.25, -0.95, -1.77}, 0.15}, // hands
      {{0.55, -2.85, 0.13}, 0.2},  {{-0.55, -2.85, 0.13}, 0.2},    // boots
  };
  make_collision_shape(&s->frame, frame, (int)(sizeof frame / sizeof frame[0]));
  make_collision_shape(&s->fork_upper, fork_upper, (int)(sizeof fork_upper / sizeof fork_upper[0]));
  make_collision_shape(&s->fork_lower, fork_lower, (int)(sizeof fork_lower / sizeof fork_lower[0]));
  make_collision_shape(&s->swingarm, swingarm, (int)(sizeof swingarm / sizeof swingarm[0]));
  make_collision_shape(&s->rider, rider, (int)(sizeof rider / sizeof rider[0]));
}

void make_part_contacts(Bike* b, const Terrain& terrain) {
  b->rider_note_count = b->part_note_count = 0;
  b->rider_shape_touching = false;
  if (terrain.N < 2) return;
  static const int bodies[] = {BODY_FRAME, BODY_FORK_UPPER, BODY_FORK_LOWER, BODY_SWINGARM, BODY_RIDER};
  for (int body : bodies) {
    const CollisionShape* shape = b->shape[body];
    if (!shape || shape->count == 0) continue;
    DVec p = body_position(*b, body);
    if (p.y - shape->bound_radius > highest_ground(terrain, p.x, p.z, shape->bound_radius)) continue;
    // Every sphere's square lies inside the body's (a hair wider for the
    // rounding of the rotation), so a sphere clear of the highest ground
    // under the body is clear of the ground under itself: most spheres are
    // settled without a look at their own cells.
    const double body_top = highest_ground(terrain, p.x, p.z, shape->bound_radius * (1 + 1e-9) + 1e-6);
    const double* R = body_rotation(*b, body);
    SphereHit hits[SHAPE_MAX_SPHERES];
    int n = 0;
    for (int i = 0; i < shape->count; i++) {
      DVec c = p + mat_mul(R, shape->sphere[i].centre);
      double radius = shape->sphere[i].radius;
      if (c.y - radius > body_top) continue;
      if (c.y - radius > highest_ground(terrain, c.x, c.z, radius)) continue;
      TriangleContact hit{};
      if (sphere_terrain_contact(terrain, c, shape->sphere[i].radius, &hit))
        hits[n++] = SphereHit{body, hit.depth, hit.point, hit.normal};
    }
    if (n == 0) continue;
    std::stable_sort(hits, hits + n, [](const SphereHit& x, const SphereHit& y) { return x.depth > y.depth; });
    if (n > CONTACTS_PER_BODY) n = CONTACTS_PER_BODY;
    double speed = length(body_velocity(*b, body));
    for (int i = 0; i < n; i++) {
      const SphereHit& h = hits[i];
      const Tile& tile = tile_record_at(terrain, (float)h.point.x, (float)h.point.z);
      double slide = length(body_point_velocity(*b, body, h.point));
      double mu = friction_at(tile, (float)slide) * (body == BODY_RIDER ? RIDER_GRIP : PART_GRIP);
      ContactNote note{(int16_t)body, -1, (float)h.depth, (float)speed, 0};
      if (body == BODY_RIDER) {
        if (b->rider_note_count >= RIDER_CONTACT_NOTES) break;
        b->rider_notes[b->rider_note_count++] = note;
      } else {
        if (b->part_note_count >= PART_CONTACT_NOTES) break;
        b->part_notes[b->part_note_count] = note;
      }
      dJointFeedback* fb = body == BODY_RIDER ? nullptr : &b->part_feedback[b->part_note_count++];
      add_part_contact(b->body[body], nullptr, h.point, h.normal, h.depth, mu, fb);
    }
    b->has_touched_ground = true;
    if (body == BODY_RIDER) {
      b->rider_shape_touching = true;
      DVec rider_up = mat_column(R, 1);
      if (rider_up.y < 0 && speed > 5 && b->crash_timer == 0) b->upside_down_crash = true;
    }
  }
}

int collide_bike_pair(Bike* a, Bike* b) {
  DVec pa = body_position(*a, BODY_FRAME), pb = body_position(*b, BODY_FRAME);
  if (length_squared(pa - pb) > (2 * BIKE_REACH) * (2 * BIKE_REACH)) return 0;

  struct Hit {
    int body_a, body_b;
    double depth;
    DVec point, normal;
  };
  Hit hits[CONTACTS_PER_BIKE_PAIR];
  int count = 0;
  WorldSphere sa[SHAPE_MAX_SPHERES], sb[SHAPE_MAX_SPHERES];
  for (int i = 0; i < BODY_COUNT; i++) {
    DVec ca = body_position(*a, i);
    double ra = body_bound(*a, i);
    int na = -1;
    for (int j = 0; j < BODY_COUNT; j++) {
      DVec cb = body_position(*b, j);
      double rb = body_bound(*b, j);
      if (length_squared(ca - cb) > (ra + rb) * (ra + rb)) continue;
      if (na < 0) na = world_spheres(*a, i, sa);
      int nb = world_spheres(*b, j, sb);
      for (int x = 0; x < na; x++)
        for (int y = 0; y < nb; y++) {
          DVec d = sa[x].centre - sb[y].centre;
          double reach = sa[x].radius + sb[y].radius;
          double d2 = length_squared(d);
          if (d2 >= reach * reach) continue;
          double dist = std::sqrt(d2);
          DVec normal = normalized(d);
          // Parts sunk deep into the other bike push the bikes apart as
          // wholes: sphere by sphere, a wheel caught between the other's
          // wheel and frame is pushed out of one into the other, and the
          // two stay merged.
          if (reach - dist > SUNK_DEPTH && dot(normal, pa - pb) < 0)
            normal = normalized(DVec{pa.x - pb.x, 0, pa.z - pb.z}, normal);
          Hit h{i, j, reach - dist, sb[y].centre + normalized(d) * (sb[y].radius - 0.5 * (reach - dist)), normal};
          // Keep the deepest few, in a stable order.
          int at = count;
          while (at > 0 && hits[at - 1].depth < h.depth) at--;
          if (at >= CONTACTS_PER_BIKE_PAIR) continue;
          int last = std::min(count, CONTACTS_PER_BIKE_PAIR - 1);
          for (int k = last; k > at; k--) hits[k] = hits[k - 1];
          hits[at] = h;
          if (count < CONTACTS_PER_BIKE_PAIR) count++;
        }
    }
  }
  for (int k = 0; k < count; k++) {
    const Hit& h = hits[k];
    add_part_contact(a->body[h.body_a], b->body[h.body_b], h.point, h.normal, h.depth, BIKE_CONTACT_GRIP, nullptr);
    if (a->bike_note_count < PART_CONTACT_NOTES)
      a->bike_notes[a->bike_note_count++] = ContactNote{(int16_t)h.body_a, (int16_t)b->slot, (float)h.depth, 0, 0};
    if (b->bike_note_count < PART_CONTACT_NOTES)
      b->bike_notes[b->bike_note_count++] = ContactNote{(int16_t)h.body_b, (int16_t)a->slot, (float)h.depth, 0, 0};
  }
  return count;
}
