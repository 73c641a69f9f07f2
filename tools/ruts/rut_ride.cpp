// A field of path followers lapping a course with deformation on.
#include "tools/ruts/rut_ride.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "bike/bike.h"
#include "bike/bike_sim.h"
#include "bike/roost.h"
#include "render/image.h"
#include "tools/ride/ride.h"
#include "track/deform.h"
#include "track/terrain.h"

namespace {

const char* const MODELS[3] = {"crf450(2016)", "crf250(2016)", "yz250(2012)"};

// How far from a wheel contact the ground may move, in cells: the widest
// brush of any tile plus how far its pile can land from the dig, and one
// cell for rounding.
int mask_reach(const Terrain& t) {
  float reach = 0;
  for (int i = 0; i < std::max(t.tile_count, 1); i++) {
    const Erosion& e = t.tiles[i].erosion;
    float radius = std::min(e.radius / t.spacing, MAX_BRUSH_CELLS);
    float pile = std::fabs(e.displacement) / t.spacing;
    if (std::isfinite(radius + pile)) reach = std::max(reach, radius + pile);
  }
  return (int)std::ceil(reach) + 1;
}

void mark_contact(const Terrain& t, int reach, DVec at, std::vector<uint8_t>* mask) {
  int cx = (int)std::floor(at.x / t.spacing), cz = (int)std::floor(at.z / t.spacing);
  for (int r = std::max(cz - reach, 0); r <= std::min(cz + reach + 1, t.N - 1); r++)
    for (int c = std::max(cx - reach, 0); c <= std::min(cx + reach + 1, t.N - 1); c++)
      (*mask)[(size_t)c + (size_t)t.N * (size_t)r] = 1;
}

bool bike_finite(const Bike& b) {
  for (int i = 0; i < BODY_COUNT; i++) {
    DVec p = body_position(b, i);
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) return false;
  }
  return true;
}

}  // namespace

void begin_rut_record(const Terrain& t, RutRideResult* r) {
  r->before = t.heights;
  r->wheel_mask.assign(t.heights.size(), 0);
  r->changed = r->changed_off_track = 0;
  r->deepest_dig = r->highest_pile = 0;
  r->net_volume = r->moved_volume = 0;
}

void mark_wheel_contacts(const Terrain& t, const Bike& b, RutRideResult* r) {
  if (r->wheel_mask.size() != t.heights.size()) return;
  const int reach = mask_reach(t);
  for (const WheelShape& w : b.wheel)
    if (w.depth > 0) mark_contact(t, reach, w.contact_point, &r->wheel_mask);
}

void finish_rut_record(const Terrain& t, RutRideResult* r) {
  if (r->before.size() != t.heights.size()) return;
  const double cell_area = (double)t.spacing * t.spacing;
  for (size_t i = 0; i < t.heights.size(); i++) {
    float h = t.heights[i];
    if (!std::isfinite(h)) r->all_finite = false;
    if (h == r->before[i]) continue;
    float d = h - r->before[i];
    r->changed++;
    if (!r->wheel_mask[i]) r->changed_off_track++;
    r->deepest_dig = std::min(r->deepest_dig, d);
    r->highest_pile = std::max(r->highest_pile, d);
    r->net_volume += d * cell_area;
    if (d < 0) r->moved_volume -= d * cell_area;
  }
  r->modifications = t.modification_count;
}

void ride_ruts(Terrain* t, const RutRideOptions& o, RutRideResult* out) {
  *out = RutRideResult();
  auto started = std::chrono::steady_clock::now();
  begin_rut_record(*t, out);
  const int count = std::clamp(o.bikes, 1, MAX_BIKES);

  create_bike_world();
  clear_roost(&g_roost);
  Bike* bikes[MAX_BIKES] = {};
  PathFollower followers[MAX_BIKES];
  int points = 0;
  const Vec3* centre_line = proving_ground_line(&points);
  // Riders spread over the width of the track rather than all riding the
  // one line to the inch: bike i keeps a lane offset to the right of the
  // centre line.
  std::vector<std::vector<Vec3>> lanes(count);
  for (int i = 0; i < count; i++) {
    float offset = o.lane_width * (float)((i % 5) - 2) / 4.0f;
    for (int k = 0; k < points; k++) {
      Vec3 a = centre_line[(k + points - 1) % points], b = centre_line[(k + 1) % points];
      float dx = b.x - a.x, dz = b.z - a.z, len = std::sqrt(dx * dx + dz * dz);
      Vec3 p = centre_line[k];
      // Right of travel is (-dz, dx) for a bike facing (dx, dz) with +y up.
      lanes[i].push_back(Vec3{p.x - dz / len * offset, 0, p.z + dx / len * offset});
    }
  }
  ControlOptions options{true, false};
  std::vector<int> progress(count, 0), laps(count, 0);
  std::vector<int64_t> lap_start(count, 0);
  for (int i = 0; i < count; i++) {
    char number[8];
    snprintf(number, sizeof number, "%d", i + 1);
    bikes[i] = create_bike(MODELS[i % 3], i, nullptr, nullptr, nullptr, nullptr, number);
    // Spread along the line, facing along it.
    int k = (int)((long long)i * points / count);
    const Vec3* line = lanes[i].data();
    Vec3 a = line[k], b = line[(k + 1) % points];
    Vec3 at{a.x, height_at(*t, a.x, a.z), a.z};
    place_bike(bikes[i], at, std::atan2(-(b.x - a.x), -(b.z - a.z)));
    followers[i].points = line;
    followers[i].count = points;
    followers[i].next = k;
    followers[i].speed = (o.base_speed + 2.0 * (i % 5)) * FEET_PER_SECOND_PER_MPH;
  }

  const double limit = o.max_seconds > 0 ? o.max_seconds : 120.0 * std::max(o.laps, 1);
  const int64_t last_tick = (int64_t)(limit * TICKS_PER_SECOND);
  int64_t tick = 0;
  for (; tick < last_tick; tick++) {
    for (int i = 0; i < count; i++) {
      float control[CONTROL_COUNT] = {};
      int before = followers[i].next;
      follow_path(&followers[i], *bikes[i], options, control);
      apply_control_vector(bikes[i], control, options);
      progress[i] += (followers[i].next - before + points) % points;
      if (progress[i] >= points * (laps[i] + 1)) {
        laps[i]++;
        out->lap_seconds.push_back((double)(tick - lap_start[i]) * TICK_SECONDS);
        out->lap_number.push_back(laps[i]);
        lap_start[i] = tick;
      }
    }
    run_bike_tick(bikes, t, tick, o.erosion);
    advance_roost(&g_roost, *t);
    for (int i = 0; i < count; i++) {
      mark_wheel_contacts(*t, *bikes[i], out);
      if (out->all_finite && !bike_finite(*bikes[i])) out->all_finite = false;
    }
    if (*std::min_element(laps.begin(), laps.end()) >= o.laps) {
      tick++;
      break;
    }
  }
  out->ticks = tick;
  out->min_laps = *std::min_element(laps.begin(), laps.end());
  out->finished = out->min_laps >= o.laps;
  out->laps = laps;
  for (int i = 0; i < count; i++) {
    out->crashes += bikes[i]->crash_count;
    out->crashes_per_bike.push_back(bikes[i]->crash_count);
    out->final_position.push_back(to_vec3(body_position(*bikes[i], BODY_FRAME)));
    delete_bike(bikes[i]);
  }
  destroy_bike_world();
  refresh_deformed_shading(t);

  finish_rut_record(*t, out);
  out->wall_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

bool write_rut_image(const char* path, const Terrain& t, const RutRideResult& r, float full_scale, TerrainRegion crop,
                     int zoom) {
  if (t.N <= 0 || r.before.size() != t.heights.size()) return false;
  if (region_empty(crop)) crop = TerrainRegion{0, 0, t.N - 1, t.N - 1};
  crop.c0 = std::max(crop.c0, 0);
  crop.r0 = std::max(crop.r0, 0);
  crop.c1 = std::min(crop.c1, t.N - 1);
  crop.r1 = std::min(crop.r1, t.N - 1);
  zoom = std::clamp(zoom, 1, 16);
  if (region_empty(crop)) return false;
  const int w = (crop.c1 - crop.c0 + 1) * zoom, h = (crop.r1 - crop.r0 + 1) * zoom;
  std::vector<uint8_t> rgb((size_t)w * (size_t)h * 3);
  float range = std::max(t.high - t.low, 1e-6f);
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      size_t i = (size_t)(crop.c0 + x / zoom) + (size_t)t.N * (size_t)(crop.r0 + y / zoom);
      uint8_t* p = &rgb[((size_t)y * (size_t)w + (size_t)x) * 3];
      float old = r.before[i];
      float base = 60 + 60 * std::clamp((old - t.low) / range, 0.0f, 1.0f);
      float d = t.heights[i] - old;
      if (d != 0 && !r.wheel_mask[i]) {
        p[0] = p[1] = p[2] = 255;
        continue;
      }
      float strength = std::clamp(std::fabs(d) / full_scale, 0.0f, 1.0f);
      float red = base, green = base, blue = base + (r.wheel_mask[i] ? 25 : 0);
      if (d < 0) red = base + (255 - base) * std::max(strength, 0.35f);
      if (d > 0) green = base + (255 - base) * std::max(strength, 0.35f);
      p[0] = (uint8_t)std::min(red, 255.0f);
      p[1] = (uint8_t)std::min(green, 255.0f);
      p[2] = (uint8_t)std::min(blue, 255.0f);
    }
  return write_png_rgb_file(path, rgb.data(), w, h, false);
}

void print_rut_profile(FILE* out, const Terrain& t, const RutRideResult& r, float x, float z0, float z1) {
  if (t.N <= 0 || r.before.size() != t.heights.size()) return;
  int c = std::clamp((int)std::lround(x / t.spacing), 0, t.N - 1);
  int r0 = std::clamp((int)std::lround(std::min(z0, z1) / t.spacing), 0, t.N - 1);
  int r1 = std::clamp((int)std::lround(std::max(z0, z1) / t.spacing), 0, t.N - 1);
  for (int row = r0; row <= r1; row++) {
    size_t i = (size_t)c + (size_t)t.N * (size_t)row;
    fprintf(out, "%g %g %.4f %.4f\n", c * t.spacing, row * t.spacing, r.before[i], t.heights[i]);
  }
}
