// Writing a track directory from its plan: heights through the game's own
// height-field writer, baked shading and cast shadows, tile map and tile
// table, timing gates, lighting, objects, cameras, decals and the map.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>

#include "core/datafile.h"
#include "tools/dataset/track_internal.h"
#include "track/lighting.h"
#include "track/timing_gates.h"

namespace dvdata {

namespace {

struct Built {
  const TrackPlan* plan;
  std::vector<TrackPiece> pieces;  // 0: the lap, 1: the start spur
  Terrain terrain;                 // as the game reads it back
  std::vector<uint8_t> corner_surface;
  std::vector<float> cover;
  TrackLighting lighting;
  TimingGates gates;
  std::vector<int> lap_checkpoints;  // checkpoint numbers around the lap, from the finish line
  std::vector<double> lap_checkpoint_s;
  int start_checkpoints = 0;         // spur checkpoints (numbered after the lap's)
  std::vector<std::string> statue_lines, billboard_lines;
  std::vector<std::pair<double, double>> shadow_blobs;  // (x, z) of trees, for the shadow map
  std::vector<double> shadow_radius;
};

std::string dir_file(const Built& b, const char* file) { return b.plan->dir + "/" + file; }

double ground_at(const Built& b, double x, double z) { return height_at(b.terrain, (float)x, (float)z); }

// --- heights, shading, shadows ---------------------------------------------------

void write_heights(DataSet* set, Built* b) {
  const TrackPlan& plan = *b->plan;
  Terrain raw;
  init_flat_terrain(&raw, plan.n, (float)plan.spacing, 0);
  build_ground(plan, &b->pieces, &raw, &b->corner_surface, &b->cover);
  if (!write_terrain(raw, plan.dir.c_str())) {
    fprintf(stderr, "dvdata: can't write the heights of '%s'\n", plan.dir.c_str());
    set->failed = true;
  }
  set->loose.push_back(dir_file(*b, "terrain.hf"));
  set->loose.push_back(dir_file(*b, "terrain.png"));
  free_terrain(&raw);
  // Everything after this works on the heights exactly as the game loads them.
  invalidate_catalogue();
  init_flat_terrain(&b->terrain, plan.n, (float)plan.spacing, 0);
  if (!read_height_field(&b->terrain, plan.dir.c_str())) {
    fprintf(stderr, "dvdata: the heights of '%s' do not read back\n", plan.dir.c_str());
    set->failed = true;
  }
}

// Light reaching each vertex from the sun: marches towards the sun over the
// heights and darkens by how far the ground rises above the ray, with a
// soft edge; trees add round shadows.
std::vector<uint8_t> cast_shadows(const Built& b) {
  const Terrain& t = b.terrain;
  const int N = t.N;
  Vec3 sun = b.lighting.sun_vector;
  double horizontal = std::hypot(sun.x, sun.z);
  double rise = sun.y / std::max(1e-6, horizontal);  // ft up per ft towards the sun
  double sx = sun.x / std::max(1e-6, horizontal), sz = sun.z / std::max(1e-6, horizontal);
  double range = std::min(600.0, (t.high - t.low) / std::max(0.05, rise) + 10);
  std::vector<uint8_t> light((size_t)N * N, 255);
  const double step = t.spacing;
  for (int r = 0; r < N; r++)
    for (int c = 0; c < N; c++) {
      double x = c * t.spacing, z = r * t.spacing;
      double y = t.heights[(size_t)c + (size_t)N * r] + 0.05;
      double shade = 0;
      for (double d = step; d < range; d += step * (d < 40 ? 1 : 2)) {
        double ray = y + d * rise;
        if (ray > t.high) break;
        double ground = height_at(t, (float)(x + sx * d), (float)(z + sz * d));
        // Soft edge grows with distance, as a penumbra does.
        double soft = 0.3 + d * 0.02;
        shade = std::max(shade, clamp01((ground - ray) / soft));
        if (shade >= 1) break;
      }
      light[(size_t)c + (size_t)N * r] = to_byte(1.0 - 0.8 * shade);
    }
  // Trees: a dark blob on the ground where the crown's shadow falls.
  for (size_t i = 0; i < b.shadow_blobs.size(); i++) {
    double radius = b.shadow_radius[i];
    double height = radius * 2.4;
    double cx = b.shadow_blobs[i].first - sx * height / std::max(0.05, rise);
    double cz = b.shadow_blobs[i].second - sz * height / std::max(0.05, rise);
    int c0 = std::max(0, (int)((cx - radius * 1.5) / t.spacing)), c1 = std::min(N - 1, (int)((cx + radius * 1.5) / t.spacing) + 1);
    int r0 = std::max(0, (int)((cz - radius * 1.5) / t.spacing)), r1 = std::min(N - 1, (int)((cz + radius * 1.5) / t.spacing) + 1);
    for (int r = r0; r <= r1; r++)
      for (int c = c0; c <= c1; c++) {
        double d = std::hypot(c * t.spacing - cx, r * t.spacing - cz) / radius;
        double dark = 0.55 * (1 - smoothstep(0.6, 1.2, d));
        uint8_t& v = light[(size_t)c + (size_t)N * r];
        v = std::min(v, to_byte(1.0 - dark));
      }
  }
  return light;
}

void write_shading(DataSet* set, Built* b) {
  Terrain& t = b->terrain;
  const int N = t.N;
  std::vector<uint8_t> light = cast_shadows(*b);
  t.shadows.resize((size_t)N * N);
  for (size_t i = 0; i < light.size(); i++) t.shadows[i] = (uint8_t)(255 - light[i]);
  t.shading.assign((size_t)N * N * 3, 128);
  recompute_shading(&t, b->lighting, 0, 0, N - 1, N - 1);
  // The file's rows are the grid's rows (z), columns its columns (x).
  std::vector<unsigned char> ppm = ppm_bytes(t.shading.data(), N, N);
  put_file(set, dir_file(*b, "shadingx2.ppm"), ppm.data(), ppm.size());
  std::string header = format("P5\n%d %d\n255\n", N, N);
  std::vector<unsigned char> pgm(header.begin(), header.end());
  pgm.insert(pgm.end(), light.begin(), light.end());
  put_file(set, dir_file(*b, "shadows.pgm"), pgm.data(), pgm.size());
}

// --- tiles --------------------------------------------------------------------------

void write_tiles(DataSet* set, Built* b) {
  const Terrain& t = b->terrain;
  const int T = t.tiles_per_side, N = t.N;
  std::vector<std::string> names;  // tile texture names in tileinfo order
  std::vector<int> base_of;        // the surface whose physics a tile has
  auto tile_index = [&](const std::string& name, int surface) {
    for (size_t i = 0; i < names.size(); i++)
      if (names[i] == name) return (int)i;
    names.push_back(name);
    base_of.push_back(surface);
    return (int)names.size() - 1;
  };
  // Plain tiles first so that every transition's names resolve.
  for (int s = 0; s < SURFACE_COUNT; s++) tile_index(ground_tile_name(s, 0), s);
  std::vector<uint8_t> map((size_t)T * T);
  Random random(b->plan->seed * 7919u + 17);
  for (int r = 0; r < T; r++)
    for (int c = 0; c < T; c++) {
      int corner[4];
      const int cc[4][2] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
      for (int k = 0; k < 4; k++)
        corner[k] = b->corner_surface[(size_t)(2 * c + 2 * cc[k][0]) + (size_t)N * (size_t)(2 * r + 2 * cc[k][1])];
      int centre = b->corner_surface[(size_t)(2 * c + 1) + (size_t)N * (size_t)(2 * r + 1)];
      int a = centre, other = -1;
      for (int k = 0; k < 4; k++)
        if (corner[k] != a) other = other < 0 ? corner[k] : other;
      int index;
      uint64_t roll = random.next();
      if (other < 0) {
        int variants = ground_variants(a);
        int v = (int)(roll % (uint64_t)(variants * 3));  // mostly the plain look
        index = tile_index(ground_tile_name(a, v < variants ? v : 0), a);
      } else {
        // Two surfaces meet: the lower-numbered one is the transition's
        // first name; corners of any third surface count as the second.
        int lo = std::min(a, other), hi = std::max(a, other);
        int mask = 0;
        for (int k = 0; k < 4; k++) mask = mask << 1 | (corner[k] != lo ? 1 : 0);
        if (mask == 0 || mask == 15) index = tile_index(ground_tile_name(mask ? hi : lo, 0), mask ? hi : lo);
        else index = tile_index(transition_tile_name(lo, hi, mask), hi == SURFACE_GRASS ? lo : hi);
      }
      map[(size_t)r * T + c] = (uint8_t)std::min(index, MAX_TILES - 1);
    }
  std::string text;
  for (size_t i = 0; i < names.size(); i++) {
    text += format("texture @ground/%s\n", names[i].c_str());
    text += surface_tileinfo(base_of[i]);
    text += "addtile\n";
  }
  put_text(set, dir_file(*b, "tileinfo"), text);
  put_file(set, dir_file(*b, "tilemap"), map.data(), map.size());
}

// --- timing ---------------------------------------------------------------------------

Checkpoint checkpoint_at(const TrackPiece& p, double s, double extra) {
  const int n = (int)p.path.size();
  int i = std::clamp((int)std::lround(s), 0, n - 1);
  if (p.closed) i = (int)(((long)std::lround(s) % n + n) % n);
  const PathSample& q = p.path[(size_t)i];
  Checkpoint c{};
  c.point = vec3((float)q.x, (float)p.profile[(size_t)i], (float)q.z);
  c.direction = vec3((float)q.dx, 0, (float)q.dz);
  c.radius = (float)(q.half_width + extra);
  return c;
}

void write_timing(DataSet* set, Built* b) {
  const TrackPlan& plan = *b->plan;
  const TrackPiece& lap = b->pieces[0];
  const TrackPiece& spur = b->pieces[1];
  TimingGates& g = b->gates;
  clear_timing_gates(&g);
  // Starting gates across the first metres of the spur, facing along it.
  const PathSample& head = spur.path[(size_t)plan.gate_line_s];
  double hx = head.dx, hz = head.dz;
  float heading = (float)std::atan2(-hx, -hz);
  for (int i = 0; i < plan.gate_count; i++) {
    double offset = (i - (plan.gate_count - 1) * 0.5) * plan.gate_spacing;
    double x = head.x + -hz * offset, z = head.z + hx * offset;
    StartingGate s;
    s.position = vec3((float)x, (float)ground_at(*b, x, z), (float)z);
    s.heading = heading;
    s.model = DEFAULT_START_GATE_MODEL;
    s.texture = DEFAULT_START_GATE_TEXTURE;
    s.shape = DEFAULT_START_GATE_SHAPE;
    g.starting_gates.push_back(s);
  }
  // Lap checkpoints, the first on the finish line.
  int count = std::max(4, (int)std::lround(lap.length / plan.checkpoint_spacing));
  for (int k = 0; k < count; k++) {
    double s = std::fmod(plan.finish_s + lap.length * k / count, lap.length);
    g.checkpoints.push_back(checkpoint_at(lap, s, 6));
    b->lap_checkpoints.push_back(k);
    b->lap_checkpoint_s.push_back(s);
  }
  // Spur checkpoints up to where the spur meets the lap.
  PieceHit hit;
  nearest_on_track(b->pieces, 0, spur.path.back().x, spur.path.back().z, &hit);
  double join_s = hit.s;
  // The spur runs on the lap for its last stretch; its own gates stop before.
  double spur_own = spur.length;
  for (const PathSample& q : spur.path) {
    PieceHit h;
    nearest_on_track(b->pieces, 0, q.x, q.z, &h);
    if (h.distance < 4) {
      spur_own = q.s;
      join_s = h.s;
      break;
    }
  }
  std::vector<int> first;
  for (double s = 60; s < spur_own - 20; s += plan.checkpoint_spacing) {
    Checkpoint c = checkpoint_at(spur, s, 8);
    g.checkpoints.push_back(c);
    first.push_back((int)g.checkpoints.size() - 1);
    b->start_checkpoints++;
  }
  // Then the lap's checkpoints after the join, round to the finish line.
  double from_finish = std::fmod(join_s - plan.finish_s + lap.length, lap.length);
  for (int k = 1; k < count; k++)
    if (lap.length * k / count > from_finish + 10) first.push_back(k);
  first.push_back(0);
  std::vector<int> normal;
  for (int k = 1; k < count; k++) normal.push_back(k);
  normal.push_back(0);
  g.sequence = first;
  g.sequence.insert(g.sequence.end(), normal.begin(), normal.end());
  g.first_lap = (int)first.size();
  g.normal_lap = (int)normal.size();
  normalise_timing_gates(&g, 0);
  if (!write_timing_gates(g, plan.dir.c_str())) set->failed = true;
  set->loose.push_back(dir_file(*b, "timing_gates"));
}

// --- lighting, cameras, objects -----------------------------------------------------

void read_plan_lighting(Built* b) {
  const std::string& text = b->plan->lighting;
  DataStream* s = data_open_memory(text.data(), text.size());
  read_lighting_stream(&b->lighting, s, false);
  data_close(s);
}

void write_lighting(DataSet* set, const Built& b) {
  std::string sky = b.plan->sky;
  std::string text = b.plan->lighting;
  text += format("sky_n @%s-n.ppm\nsky_e @%s-e.ppm\nsky_s @%s-s.ppm\nsky_w @%s-w.ppm\nsky_u @%s-u.ppm\n",
                 sky.c_str(), sky.c_str(), sky.c_str(), sky.c_str(), sky.c_str());
  text += format("sky_env @%s-env.ppm\n", sky.c_str());
  put_text(set, dir_file(b, "lighting"), text);
}

void write_cameras(DataSet* set, const Built& b) {
  const TrackPlan& plan = *b.plan;
  const TrackPiece& lap = b.pieces[0];
  std::string text = format("# %d cameras around the lap\n", plan.camera_count);
  const int lap_gates = (int)b.lap_checkpoints.size();
  for (int k = 0; k < plan.camera_count; k++) {
    double s = std::fmod(plan.finish_s + lap.length * (k + 0.5) / plan.camera_count, lap.length);
    const PathSample& q = lap.path[(size_t)std::lround(s) % lap.path.size()];
    // Stand on the outside of the turn (or the right-hand side) a little
    // back from the track, looking across it.
    double side = q.curvature > 0 ? -1 : 1;
    double off = q.half_width + 28;
    double x = q.x + -q.dz * off * side, z = q.z + q.dx * off * side;
    x = std::clamp(x, 10.0, (double)b.terrain.width - 10);
    z = std::clamp(z, 10.0, (double)b.terrain.width - 10);
    // The gates this camera watches: the lap's checkpoints nearest to it in s.
    std::string gates = "gate";
    for (int c = 0; c < lap_gates; c++) {
      double rel = std::fmod(b.lap_checkpoint_s[(size_t)c] - plan.finish_s + lap.length, lap.length);
      int owner = std::min(plan.camera_count - 1, (int)(rel / lap.length * plan.camera_count));
      if (owner == k) gates += format(" %d", b.lap_checkpoints[(size_t)c]);
    }
    if (k == 0)
      for (int c = 0; c < b.start_checkpoints; c++) gates += format(" %d", lap_gates + c);
    text += gates + "\n";
    text += format("fov %d\n", 45 + (k % 3) * 10);
    text += format("addcamera %.2f %.2f %.2f\n", x, 14.0 + (k % 2) * 6, z);
  }
  put_text(set, dir_file(b, "cameras"), text);
}

bool clear_of_track(const Built& b, double x, double z, double margin) {
  const Terrain& t = b.terrain;
  int c0 = (int)((x - margin) / t.spacing), c1 = (int)((x + margin) / t.spacing) + 1;
  int r0 = (int)((z - margin) / t.spacing), r1 = (int)((z + margin) / t.spacing) + 1;
  if (c0 < 1 || r0 < 1 || c1 >= t.N - 1 || r1 >= t.N - 1) return false;
  for (int r = r0; r <= r1; r += 2)
    for (int c = c0; c <= c1; c += 2)
      if (b.cover[(size_t)c + (size_t)t.N * r] > 0.02f) return false;
  return true;
}

void place_objects(Built* b) {
  const TrackPlan& plan = *b->plan;
  const TrackObjectsPlan& o = plan.objects;
  const TrackPiece& lap = b->pieces[0];
  Random random(plan.seed * 31u + 5);
  const double width = b->terrain.width;
  if (o.trees) {
    int placed = 0;
    for (int tries = 0; placed < o.tree_count && tries < o.tree_count * 40; tries++) {
      // Trees grow in loose clumps.
      double x = random.range(20, width - 20), z = random.range(20, width - 20);
      double clump = value_noise(plan.seed + 99, x / 150, z / 150);
      if (clump < -0.1 || !clear_of_track(*b, x, z, 14)) continue;
      int kind = random.below(3);
      double size = random.range(0.8, 1.3);
      double w = (kind == 2 ? 14 : 20) * size, h = (kind == 2 ? 34 : 28) * size;
      b->billboard_lines.push_back(format("[ %.2f 0 %.2f ] %.2f %.2f @tree%d.png", x, z, w, h, kind + 1));
      b->shadow_blobs.emplace_back(x, z);
      b->shadow_radius.push_back(w * 0.4);
      placed++;
    }
  }
  if (o.markers) {
    // Course markers on both edges every 36 ft, on the outside of turns
    // every 18 ft.
    for (double s = 0; s < lap.length; s += 18) {
      const PathSample& q = lap.path[(size_t)s];
      bool turn = std::fabs(q.curvature) > 1.0 / 150;
      if (!turn && std::fmod(s, 36) >= 18) continue;
      for (int side = -1; side <= 1; side += 2) {
        if (turn && (q.curvature > 0 ? -1 : 1) != side && std::fmod(s, 36) >= 18) continue;
        double off = (q.half_width + 2.5) * side;
        double x = q.x + -q.dz * off, z = q.z + q.dx * off;
        b->billboard_lines.push_back(format("[ %.2f 0 %.2f ] 0.8 3.2 @marker%s.png", x, z, turn ? "_red" : ""));
      }
    }
  }
  // Banners along the straights, a little back from the edge.
  for (int k = 0; k < o.banner_count; k++) {
    double s = lap.length * (k + 0.25) / o.banner_count;
    const PathSample& q = lap.path[(size_t)s % lap.path.size()];
    double side = (k % 2) ? 1 : -1;
    double off = (q.half_width + 8) * side;
    double x = q.x + -q.dz * off, z = q.z + q.dx * off;
    b->billboard_lines.push_back(format("[ %.2f 0 %.2f ] 16 4 @banner%d.png", x, z, k % 4 + 1));
  }
  if (o.hay_bales) {
    // Bales on the outside of the tight turns.
    for (double s = 0; s < lap.length; s += 9) {
      const PathSample& q = lap.path[(size_t)s];
      if (std::fabs(q.curvature) < 1.0 / 70) continue;
      double side = q.curvature > 0 ? -1 : 1;
      double off = (q.half_width + 4.5) * side;
      double x = q.x + -q.dz * off, z = q.z + q.dx * off;
      double angle = std::atan2(-q.dx, -q.dz);
      b->statue_lines.push_back(
          format("[ %.2f 0 %.2f ] %.4f @haybale.jm @haybale.png @haybale.shp", x, z, angle));
    }
  }
  // Tuff blocks along both edges of the start, from behind the gates to
  // where the start meets the lap.
  {
    const TrackPiece& spur = b->pieces[1];
    for (double s = 0; s < spur.length - 20; s += 5.5) {
      const PathSample& q = spur.path[(size_t)s];
      for (int side = -1; side <= 1; side += 2) {
        double off = (q.half_width + 2) * side;
        double x = q.x + -q.dz * off, z = q.z + q.dx * off;
        PieceHit h;
        if (nearest_on_track(b->pieces, 0, x, z, &h) && h.distance < h.half_width + 3) continue;
        double angle = std::atan2(-q.dx, -q.dz);
        b->statue_lines.push_back(
            format("[ %.2f 0 %.2f ] %.4f @tuffblock.jm @tuffblock.png @tuffblock.shp", x, z, angle));
      }
    }
  }
  if (o.crowd) {
    // Spectators in rows on the terraces, facing the floor.
    const double* f = plan.floor_rect;
    for (double d = 14; d < 40; d += 8)
      for (int edge = 0; edge < 4; edge++) {
        double length = edge % 2 == 0 ? f[2] - f[0] : f[3] - f[1];
        for (double t = 10; t < length - 10; t += 14) {
          double x = edge == 0 ? f[0] + t : edge == 1 ? f[2] + d : edge == 2 ? f[2] - t : f[0] - d;
          double z = edge == 0 ? f[1] - d : edge == 1 ? f[1] + t : edge == 2 ? f[3] + d : f[3] - t;
          b->billboard_lines.push_back(format("[ %.2f 0 %.2f ] 14 5 @crowd%d.png", x, z, random.below(2) + 1));
        }
      }
  }
  if (o.tuff_blocks) {
    for (int pi = 0; pi < 1; pi++)
      for (double s = 0; s < lap.length; s += 6) {
        const PathSample& q = lap.path[(size_t)s];
        for (int side = -1; side <= 1; side += 2) {
          double off = (q.half_width + 2) * side;
          double x = q.x + -q.dz * off, z = q.z + q.dx * off;
          // Skip blocks that would stand on another stretch of the track.
          PieceHit h;
          if (nearest_on_track(b->pieces, 0, x, z, &h) && h.distance < h.half_width + 1) continue;
          double angle = std::atan2(-q.dx, -q.dz);
          b->statue_lines.push_back(
              format("[ %.2f 0 %.2f ] %.4f @tuffblock.jm @tuffblock.png @tuffblock.shp", x, z, angle));
        }
      }
  }
}

void write_objects(DataSet* set, const Built& b) {
  std::string text;
  for (const std::string& l : b.billboard_lines) text += l + "\n";
  put_text(set, dir_file(b, "billboards"), text);
  text.clear();
  for (const std::string& l : b.statue_lines) text += l + "\n";
  put_text(set, dir_file(b, "statues"), text);
}

void write_flaggers(DataSet* set, const Built& b) {
  const TrackPiece& lap = b.pieces[0];
  const PathSample& q = lap.path[(size_t)std::lround(b.plan->finish_s) % lap.path.size()];
  double off = q.half_width + 6;
  double ax = q.x + -q.dz * off, az = q.z + q.dx * off;
  double bx = q.x + q.dz * off, bz = q.z - q.dx * off;
  // The starter's stand by the finish line and the board beside it.
  std::string text = format(
      "[ %.2f 0 %.2f ] [ %.2f 0 %.2f ] 6 9 0 @flagstand.png @flag_green.png @flag_white.png @flag_checker.png "
      "@flag_red.png\n",
      ax, az, bx, bz);
  text += format("[ %.2f 0 %.2f ] 5 7 @board.png @board_30.png @board_15.png @board_go.png\n", ax + q.dx * 8,
                 az + q.dz * 8);
  // Flaggers at the blind spots: the crests of the jumps, each watching the
  // next gates.
  const int C = (int)b.lap_checkpoints.size();
  for (size_t f = 0; f < b.plan->features.size(); f++) {
    const Feature& feature = b.plan->features[f];
    if (feature.kind == "whoops" || feature.kind == "roller") continue;
    double s = std::fmod(feature.s + feature.length() * 0.5, lap.length);
    const PathSample& p = lap.path[(size_t)s % lap.path.size()];
    double side = f % 2 ? 1 : -1;
    double o2 = (p.half_width + 5) * side;
    int next = 0;
    double rel = std::fmod(s - b.plan->finish_s + lap.length, lap.length);
    next = std::min(C - 1, (int)(rel / lap.length * C) + 1) % C;
    text += format("[ %.2f 0 %.2f ] 3 6 %d %d %d %d @flagger.png @flagger_wave.png\n", p.x + -p.dz * o2,
                   p.z + p.dx * o2, next, (next + 1) % C, (next + 2) % C, -1);
  }
  put_text(set, dir_file(b, "flaggers"), text);
}

// A decal's angle turns its width onto (cos a, sin a) in x and z and its
// length onto (-sin a, cos a): this one lays the width across the path
// (dx, dz) and the length along it.
double decal_across(double dx, double dz) { return std::atan2(dx, -dz); }

void write_decals(DataSet* set, const Built& b) {
  const TrackPiece& spur = b.pieces[1];
  const PathSample& g = spur.path[(size_t)b.plan->gate_line_s + 2];
  std::string text;
  // The start line painted across the gate row, and the finish line.
  text += format("[ %.2f %.2f ] %.4f %.2f 0.05 @decal_line.png\n", g.x + g.dx * 4, g.z + g.dz * 4, decal_across(g.dx, g.dz),
                 b.plan->gate_count * b.plan->gate_spacing + 4);
  const TrackPiece& lap = b.pieces[0];
  const PathSample& f = lap.path[(size_t)std::lround(b.plan->finish_s) % lap.path.size()];
  text += format("[ %.2f %.2f ] %.4f %.2f 0.15 @decal_checker.png\n", f.x, f.z, decal_across(f.dx, f.dz),
                 f.half_width * 2 + 2);
  // Braking ruts and tyre marks before the tight turns.
  Random random(b.plan->seed + 4242);
  for (double s = 0; s < lap.length; s += 23) {
    const PathSample& q = lap.path[(size_t)s];
    if (std::fabs(q.curvature) < 1.0 / 60) continue;
    double jitter = random.range(-0.4, 0.4) * q.half_width;
    text += format("[ %.2f %.2f ] %.4f %.2f 4 @decal_ruts.png\n", q.x + -q.dz * jitter, q.z + q.dx * jitter,
                   decal_across(q.dx, q.dz) + random.range(-0.2, 0.2), 5.0);
  }
  put_text(set, dir_file(b, "decals"), text);
}

// --- overview map -------------------------------------------------------------------

void write_map(DataSet* set, const Built& b) {
  const int S = 512;
  const Terrain& t = b.terrain;
  Picture map(S, S);
  // Ground, darkened by the shading, mostly transparent off the track.
  for (int y = 0; y < S; y++)
    for (int x = 0; x < S; x++) {
      int c = std::min(t.N - 1, (int)((x + 0.5) / S * (t.N - 1) + 0.5));
      int r = std::min(t.N - 1, (int)((y + 0.5) / S * (t.N - 1) + 0.5));
      size_t i = (size_t)c + (size_t)t.N * r;
      double light = (t.shading[i * 3] + t.shading[i * 3 + 1] + t.shading[i * 3 + 2]) / (3.0 * 128.0);
      int surface = b.corner_surface[i];
      Rgb colour = surface == SURFACE_GRASS ? Rgb{0.25, 0.45, 0.2} : Rgb{0.62, 0.48, 0.33};
      if (surface == SURFACE_HARDPACK) colour = Rgb{0.7, 0.6, 0.45};
      if (surface == SURFACE_LOOSE) colour = Rgb{0.55, 0.4, 0.28};
      if (surface == SURFACE_SAND) colour = Rgb{0.85, 0.78, 0.55};
      map.set(x, y, scale(colour, std::clamp(light, 0.3, 1.3)), b.cover[i] > 0.5f ? 1.0 : 0.55);
    }
  const double k = (double)S / t.width;
  // Centre line, start gates and finish line.
  const TrackPiece& lap = b.pieces[0];
  for (size_t i = 0; i < lap.path.size(); i += 2) {
    const PathSample& q = lap.path[i];
    const PathSample& p = lap.path[(i + 2) % lap.path.size()];
    map.line(q.x * k, q.z * k, p.x * k, p.z * k, 1.2, Rgb{1, 1, 1}, 0.9);
  }
  for (const StartingGate& g : b.gates.starting_gates) map.disc(g.position.x * k, g.position.z * k, 1.3, Rgb{1, 0.85, 0.1});
  const Checkpoint& finish = b.gates.checkpoints[0];
  double fx = finish.direction.z, fz = -finish.direction.x;
  map.line((finish.point.x - fx * finish.radius) * k, (finish.point.z - fz * finish.radius) * k,
           (finish.point.x + fx * finish.radius) * k, (finish.point.z + fz * finish.radius) * k, 3, Rgb{0.9, 0.1, 0.1});
  for (size_t f = 0; f < b.plan->features.size(); f++) {
    const Feature& feature = b.plan->features[f];
    const PathSample& q = lap.path[(size_t)std::fmod(feature.s + feature.length() * 0.5, lap.length) % lap.path.size()];
    map.disc(q.x * k, q.z * k, 2.2, Rgb{0.1, 0.2, 0.9});
  }
  std::vector<uint8_t> rgba = map.rgba();
  std::vector<unsigned char> png = png_rgba_bytes(rgba.data(), S, S);
  put_file(set, dir_file(b, "map.png"), png.data(), png.size());
}

}  // namespace

void build_track(DataSet* set, const TrackPlan& plan) {
  Built b;
  b.plan = &plan;
  b.pieces.resize(2);
  make_piece(plan, &b.pieces[0], plan.lap, true, plan.lap_surfaces, nullptr);
  add_features(&b.pieces[0], plan.features);
  make_piece(plan, &b.pieces[1], plan.start, false, plan.start_surfaces, &b.pieces[0]);
  // Bermed turns: stretches of the lap banked at least half the full bank.
  int berms = 0;
  const TrackPiece& lap = b.pieces[0];
  const double half_bank = 0.5 * std::tan(plan.berm_degrees * M_PI / 180);
  for (size_t i = 0; i < lap.bank.size(); i++) {
    bool now = std::fabs(lap.bank[i]) >= half_bank;
    bool before = std::fabs(lap.bank[(i + lap.bank.size() - 1) % lap.bank.size()]) >= half_bank;
    if (now && !before) berms++;
  }
  fprintf(stderr, "dvdata: %s: lap %.0f ft (%.2f km), start %.0f ft, %d features, %d bermed turns\n",
          plan.dir.c_str(), lap.length, lap.length * 0.0003048, b.pieces[1].length, (int)plan.features.size(), berms);
  init_lighting(&b.lighting);
  read_plan_lighting(&b);
  write_heights(set, &b);
  write_lighting(set, b);
  write_tiles(set, &b);
  write_timing(set, &b);
  place_objects(&b);
  write_shading(set, &b);
  write_objects(set, b);
  write_flaggers(set, b);
  write_cameras(set, b);
  write_decals(set, b);
  write_map(set, b);
  put_text(set, dir_file(b, "desc"), plan.display_name + "\n" + plan.description + "\n");
  free_terrain(&b.terrain);
}

}  // namespace dvdata
