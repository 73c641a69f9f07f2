// Scenes built in code for the renderer's tests and benchmark: a track
// directory with rolling hills, a dirt lane through grass, sky faces, fog, a
// flare, decals, trees, a hay bale and cameras; simple models in the JM
// format (boxes, wheels, a skinned rider on the rider bones) written under
// the names a bike model asks for.
#pragma once

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "bike/bike_model.h"
#include "render/image.h"
#include "render/rider_skeleton.h"
#include "tests/track/track_fixture.h"
#include "track/lighting.h"
#include "track/terrain.h"

namespace scene_fixture {

// --- pictures -------------------------------------------------------------------

// Noise around a colour, seamless enough at tile scale.
inline void write_noise_png(const ScratchData& data, const std::string& name, int size, int r, int g, int b,
                            int spread, uint32_t seed) {
  std::vector<uint8_t> rgb((size_t)size * size * 3);
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < rgb.size(); i += 3) {
    x = x * 1664525u + 1013904223u;
    int n = (int)((x >> 24) % (2 * spread + 1)) - spread;
    rgb[i] = (uint8_t)std::clamp(r + n, 0, 255);
    rgb[i + 1] = (uint8_t)std::clamp(g + n, 0, 255);
    rgb[i + 2] = (uint8_t)std::clamp(b + n / 2, 0, 255);
  }
  write_png_rgb_file(data.path(name).c_str(), rgb.data(), size, size, false);
  invalidate_catalogue();
}

// A sky side: blue at the top fading to pale at the horizon (image top = up).
inline void write_sky_png(const ScratchData& data, const std::string& name, bool up) {
  const int S = 32;
  std::vector<uint8_t> rgb((size_t)S * S * 3);
  for (int y = 0; y < S; y++)
    for (int x = 0; x < S; x++) {
      float t = up ? 0.0f : (float)y / (S - 1);
      uint8_t* p = &rgb[((size_t)y * S + x) * 3];
      p[0] = (uint8_t)(70 + 140 * t);
      p[1] = (uint8_t)(130 + 90 * t);
      p[2] = (uint8_t)(230 + 20 * t);
    }
  write_png_rgb_file(data.path(name).c_str(), rgb.data(), S, S, false);
  invalidate_catalogue();
}

// RGBA sprite: a dark green tree (a triangle on a trunk) on transparency.
inline void write_tree_png(const ScratchData& data, const std::string& name) {
  const int W = 32, H = 64;
  std::vector<uint8_t> rgba((size_t)W * H * 4, 0);
  for (int y = 0; y < H; y++)
    for (int x = 0; x < W; x++) {
      uint8_t* p = &rgba[((size_t)y * W + x) * 4];
      bool crown = y < 52 && std::abs(x - W / 2) < (y + 4) * W / 2 / 56;
      bool trunk = y >= 52 && std::abs(x - W / 2) < 3;
      if (crown) {
        p[0] = 30, p[1] = 100, p[2] = 35, p[3] = 255;
      } else if (trunk) {
        p[0] = 90, p[1] = 60, p[2] = 30, p[3] = 255;
      }
    }
  // The PNG writer takes RGB; RGBA goes out through the J7 writer instead.
  Image image;
  init_image(&image, W, H, 4);
  image.pixels = rgba;
  write_j_image_file(data.path(name).c_str(), image);
  invalidate_catalogue();
}

// --- meshes ------------------------------------------------------------------------

struct MeshText {
  std::vector<std::string> vertices;  // "px py pz nx ny nz u v [weights]"
  std::vector<int> triangles;
  void vertex(float x, float y, float z, float nx, float ny, float nz, float u, float v, const std::string& extra = "") {
    char line[256];
    snprintf(line, sizeof line, "%g %g %g %g %g %g %g %g%s", x, y, z, nx, ny, nz, u, v, extra.c_str());
    vertices.push_back(line);
  }
  // A box from (x0, y0, z0) to (x1, y1, z1), outward faces, counter-clockwise.
  void box(float x0, float y0, float z0, float x1, float y1, float z1, const std::string& extra = "") {
    const float c[2][3] = {{x0, y0, z0}, {x1, y1, z1}};
    // Each face: normal axis, sign, and the two other axes in a right-handed order.
    for (int axis = 0; axis < 3; axis++)
      for (int side = 0; side < 2; side++) {
        int a = (axis + 1) % 3, b = (axis + 2) % 3;
        if (side == 0) std::swap(a, b);
        int base = (int)vertices.size();
        const int corner[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
        for (const auto& k : corner) {
          float p[3];
          p[axis] = c[side][axis];
          p[a] = c[k[0]][a];
          p[b] = c[k[1]][b];
          float n[3] = {0, 0, 0};
          n[axis] = side ? 1.0f : -1.0f;
          vertex(p[0], p[1], p[2], n[0], n[1], n[2], (float)k[0], (float)k[1], extra);
        }
        for (int t : {0, 1, 2, 0, 2, 3}) triangles.push_back(base + t);
      }
  }
  // A wheel: a disc of radius r and width w about the x axis, at the origin.
  void wheel(float r, float w, int sides = 16) {
    for (int face = 0; face < 2; face++) {
      float x = face ? w / 2 : -w / 2;
      int centre = (int)vertices.size();
      vertex(x, 0, 0, face ? 1.0f : -1.0f, 0, 0, 0.5f, 0.5f);
      for (int i = 0; i <= sides; i++) {
        float a = 6.2831853f * i / sides;
        vertex(x, r * std::cos(a), r * std::sin(a), face ? 1.0f : -1.0f, 0, 0, 0.5f + 0.5f * std::cos(a),
               0.5f + 0.5f * std::sin(a));
      }
      for (int i = 0; i < sides; i++) {
        triangles.push_back(centre);
        triangles.push_back(face ? centre + 1 + i : centre + 2 + i);
        triangles.push_back(face ? centre + 2 + i : centre + 1 + i);
      }
    }
    int base = (int)vertices.size();
    for (int i = 0; i <= sides; i++) {
      float a = 6.2831853f * i / sides;
      for (int face = 0; face < 2; face++)
        vertex(face ? w / 2 : -w / 2, r * std::cos(a), r * std::sin(a), 0, std::cos(a), std::sin(a), (float)i / sides,
               (float)face);
    }
    for (int i = 0; i < sides; i++) {
      int a = base + 2 * i;
      for (int t : {0, 2, 1, 1, 2, 3}) triangles.push_back(a + t);
    }
  }
  std::string body(float s, float a, float r, float g, float b) const {
    char header[128];
    snprintf(header, sizeof header, "%g %g %g %g %g %d %d\n", s, a, r, g, b, (int)vertices.size(),
             (int)triangles.size() / 3);
    std::string text = header;
    for (const std::string& v : vertices) text += v + "\n";
    for (size_t i = 0; i < triangles.size(); i += 3)
      text += std::to_string(triangles[i]) + " " + std::to_string(triangles[i + 1]) + " " +
              std::to_string(triangles[i + 2]) + "\n";
    return text;
  }
};

inline std::string jm1(const MeshText& m, float s = 16, float r = 0.3f, float g = 0.3f, float b = 0.3f) {
  return "JM1\n" + m.body(s, 1, r, g, b);
}

// Weights putting a vertex wholly on one of the rider's bones.
inline std::string on_bone(int bone) {
  std::string w;
  for (int b = 0; b < RIDER_BONE_COUNT; b++) w += b == bone ? " 1" : " 0";
  return w;
}

// A blocky rider on the rider bones: a torso box and a box along each limb
// segment of the figure (rider body frame).
inline std::string rider_jm(const BikeModel& m, bool first_person) {
  MeshText mesh;
  const Vec3 origin = m.rider_position;
  auto local = [&](Vec3 p) { return p - origin; };
  if (!first_person) mesh.box(-0.5f, -0.75f, -0.35f, 0.5f, 0.9f, 0.45f, on_bone(RIDER_BONE_TORSO));
  auto limb = [&](Vec3 a, Vec3 b, float radius, int bone) {
    // An axis-aligned box around the segment is enough for the tests' eyes.
    mesh.box(std::min(a.x, b.x) - radius, std::min(a.y, b.y) - radius, std::min(a.z, b.z) - radius,
             std::max(a.x, b.x) + radius, std::max(a.y, b.y) + radius, std::max(a.z, b.z) + radius, on_bone(bone));
  };
  for (int s = 0; s < 2; s++) {
    Vec3 shoulder = {s ? -RIDER_SHOULDER[0] : RIDER_SHOULDER[0], RIDER_SHOULDER[1], RIDER_SHOULDER[2]};
    limb(shoulder, local(m.rider_figure[FIGURE_RIGHT_ELBOW + s]), 0.12f, RIDER_BONE_RIGHT_UPPER_ARM + s);
    limb(local(m.rider_figure[FIGURE_RIGHT_ELBOW + s]), local(m.rider_figure[FIGURE_RIGHT_HAND + s]), 0.1f,
         RIDER_BONE_RIGHT_FOREARM + s);
    limb(local(m.rider_figure[FIGURE_RIGHT_HIP + s]), local(m.rider_figure[FIGURE_RIGHT_KNEE + s]), 0.15f,
         RIDER_BONE_RIGHT_THIGH + s);
    limb(local(m.rider_figure[FIGURE_RIGHT_KNEE + s]), local(m.rider_figure[FIGURE_RIGHT_FOOT + s]), 0.13f,
         RIDER_BONE_RIGHT_SHIN + s);
  }
  return std::string("JM2 ") + std::to_string(RIDER_BONE_COUNT) + " " + RIDER_SKELETON + "\n" +
         mesh.body(16, 1, 0.4f, 0.4f, 0.4f);
}

// Writes every drawable model file a bike model names (frame, forks,
// swingarm, wheels, rider, plates) and its textures, in bright colours so
// that a bike stands out against the ground.
inline void write_bike_models(const ScratchData& data, const BikeModel& m) {
  auto file = [&](int index) {
    std::string name = m.files[index];
    return name.size() > 1 && name[0] == '@' ? name.substr(1) : name;
  };
  auto part = [&](int index, Vec3 build, Vec3 lo, Vec3 hi) {
    MeshText mesh;
    mesh.box(lo.x - build.x, lo.y - build.y, lo.z - build.z, hi.x - build.x, hi.y - build.y, hi.z - build.z);
    data.write(file(index), jm1(mesh));
  };
  part(FILE_FRAME_MODEL, m.frame_position, {-0.45f, 1.6f, 2.0f}, {0.45f, 3.1f, 5.0f});
  part(FILE_FORK_UPPER_MODEL, m.fork_upper_position, {-0.5f, 2.6f, 1.9f}, {0.5f, 3.2f, 2.4f});
  part(FILE_FORK_LOWER_MODEL, m.fork_lower_position, {-0.3f, 1.1f, 1.1f}, {0.3f, 2.4f, 2.0f});
  part(FILE_SWINGARM_MODEL, m.swingarm_position, {-0.3f, 1.0f, 4.0f}, {0.3f, 1.6f, 6.0f});
  MeshText plates;
  plates.box(-0.5f, -0.2f, -0.7f, 0.5f, 0.5f, 0.2f);
  data.write(file(FILE_SIDE_PLATES_MODEL), jm1(plates));
  data.write(file(FILE_FRONT_PLATE_MODEL), jm1(plates));
  data.write(file(FILE_RIDER_PLATE_MODEL), jm1(plates));
  MeshText wheel;
  wheel.wheel(m.front_ring_radius + m.front_section_radius, 0.5f);
  data.write(file(FILE_FRONT_WHEEL_MODEL), jm1(wheel));
  data.write(file(FILE_REAR_WHEEL_MODEL), jm1(wheel));
  MeshText head;
  head.box(-0.4f, 0.9f, -0.55f, 0.4f, 1.7f, 0.25f);
  data.write(file(FILE_RIDER_HEAD_MODEL), jm1(head));
  data.write(file(FILE_RIDER_BODY_MODEL), rider_jm(m, false));
  data.write(file(FILE_RIDER_BODY_FP_MODEL), rider_jm(m, true));
  // Red bike, yellow rider, white helmet, black wheels.
  write_noise_png(data, file(FILE_BIKE_TEXTURE), 16, 230, 30, 20, 4, 1);
  write_noise_png(data, file(FILE_WHEEL_TEXTURE), 16, 25, 25, 25, 4, 2);
  write_noise_png(data, file(FILE_RIDER_BODY_TEXTURE), 16, 240, 210, 30, 4, 3);
  write_noise_png(data, file(FILE_RIDER_HEAD_TEXTURE), 16, 240, 240, 240, 4, 4);
}

// --- the track -----------------------------------------------------------------------

inline float hills(float x, float z) {
  return 10.0f * std::sin(x / 45.0f) * std::cos(z / 60.0f) + 3.0f * std::sin(x / 14.0f + z / 19.0f);
}

struct SceneTrack {
  std::string name;
  int n;
  float spacing;
  float width() const { return spacing * (float)(1 << (n + 1)); }
};

// Writes the track and returns where it lies. Tiles: 0 grass, 1 dirt (the
// lane along z = x), 2 hard-pack beside the lane.
inline SceneTrack write_scene_track(const ScratchData& data, const std::string& name, int n = 7, float spacing = 1.5f,
                                    bool lighting_file = true) {
  const std::string d = name + "/";
  const int N = (1 << (n + 1)) + 1, tiles = 1 << n;
  Terrain t;
  init_flat_terrain(&t, n, spacing, 0.0f);
  float low = 1e9f, high = -1e9f;
  for (int r = 0; r < N; r++)
    for (int c = 0; c < N; c++) {
      float h = hills(c * spacing, r * spacing);
      t.heights[(size_t)(c + N * r)] = h;
      low = std::min(low, h);
      high = std::max(high, h);
    }
  char header[96];
  snprintf(header, sizeof header, "%d %f %f %f\n", n, (double)spacing, (double)low, (double)high);
  data.write(d + "terrain.hf", header);
  std::vector<uint16_t> samples((size_t)N * N);
  for (size_t i = 0; i < samples.size(); i++)
    samples[i] = (uint16_t)std::lround((t.heights[i] - low) / (high - low) * 65535.0f);
  write_png_grey16_file(data.path(d + "terrain.png").c_str(), samples.data(), N, N);
  // Reread what the file gives back, so the shading matches the loaded field.
  for (size_t i = 0; i < samples.size(); i++) t.heights[i] = low + samples[i] * (high - low) / 65535.0f;

  TrackLighting light;
  init_lighting(&light);
  light.sun_vector = {0.4f, 0.8f, 0.45f};
  float l = std::sqrt(dot(light.sun_vector, light.sun_vector));
  light.sun_vector = light.sun_vector * (1.0f / l);
  light.sun_colour = {0.75f, 0.72f, 0.65f};
  light.ambient = {0.42f, 0.44f, 0.5f};
  t.shading.assign((size_t)N * N * 3, 0);
  t.shadows.assign((size_t)N * N, 0);
  recompute_shading(&t, light, 0, 0, N - 1, N - 1);
  std::string ppm = "P6\n" + std::to_string(N) + " " + std::to_string(N) + "\n255\n";
  ppm.append((const char*)t.shading.data(), t.shading.size());
  data.write(d + "shadingx2.ppm", ppm);
  free_terrain(&t);

  write_noise_png(data, d + "grass.png", 32, 70, 130, 45, 18, 11);
  write_noise_png(data, d + "dirt.png", 32, 150, 105, 65, 20, 12);
  write_noise_png(data, d + "hardpack.png", 32, 125, 100, 80, 10, 13);
  data.write(d + "tileinfo", "texture @" + d + "grass.png\nfriction 0.7 1\naddtile\ntexture @" + d +
                                 "dirt.png\naddtile\ntexture @" + d + "hardpack.png\naddtile\n");
  std::string map((size_t)tiles * tiles, '\0');
  for (int z = 0; z < tiles; z++)
    for (int x = 0; x < tiles; x++) {
      int off = std::abs(x - z);
      map[(size_t)(z * tiles + x)] = (char)(off <= 3 ? 1 : (off <= 5 ? 2 : 0));
    }
  data.write(d + "tilemap", map);

  if (lighting_file) {
    for (const char* face : {"n", "e", "s", "w"}) write_sky_png(data, d + "sky-" + face + ".png", false);
    write_sky_png(data, d + "sky-u.png", true);
    write_noise_png(data, d + "flare.png", 8, 255, 240, 200, 0, 5);
    std::string sky;
    for (const char* face : {"n", "e", "s", "w", "u"}) sky += std::string("sky_") + face + " @" + d + "sky-" + face + ".png\n";
    data.write(d + "lighting", "sun_vector [ 0.4 0.8 0.45 ]\nsun_color [ 0.75 0.72 0.65 ]\nambient [ 0.42 0.44 0.5 ]\n"
                               "global_ambient [ 0.1 0.1 0.1 ]\n" + sky + "sky_env @" + d + "sky-u.png\n"
                               "flare_element [ 1.0 0.0 ] [ 1 0.9 0.7 ] 0.2 @" + d + "flare.png\n"
                               "flare_element [ -0.3 1.0 ] [ 0.6 0.7 1 ] 0.05 @" + d + "flare.png\n"
                               "flare_vector [ 0.4 0.8 0.45 ]\nfog [ 0.72 0.78 0.85 ] 0.0015\n"
                               "dynamic_lighting 1\nnear_plane 0.5\nfar_plane 3000\n");
  }
  // A dark patch on the lane, trees and a hay bale beside it.
  std::vector<uint8_t> patch(16 * 16 * 3, 50);
  write_png_rgb_file(data.path(d + "patch.png").c_str(), patch.data(), 16, 16, false);
  invalidate_catalogue();
  char decals[256];
  float w = spacing * (float)(1 << (n + 1));
  snprintf(decals, sizeof decals, "[ %f %f ] 0.785 6 1.5 @%spatch.png\n", w * 0.55, w * 0.55, d.c_str());
  data.write(d + "decals", decals);
  write_tree_png(data, d + "tree.j7");
  std::string trees;
  for (int k = 0; k < 12; k++) {
    char line[160];
    float along = w * (0.2f + 0.05f * k);
    snprintf(line, sizeof line, "[ %f 0 %f ] 6 14 @%stree.j7\n", along + 24.0f, along - 4.0f, d.c_str());
    trees += line;
  }
  data.write(d + "billboards", trees);
  MeshText bale;
  bale.box(-2, 0, -1.5f, 2, 2.5f, 1.5f);
  data.write(d + "bale.jm", jm1(bale, 8, 0.1f, 0.1f, 0.1f));
  write_noise_png(data, d + "bale.png", 16, 210, 190, 90, 10, 6);
  char statue[256];
  snprintf(statue, sizeof statue, "[ %f 0 %f ] 0.3 @%sbale.jm @%sbale.png null\n", w * 0.5 + 12, w * 0.5 - 6, d.c_str(),
           d.c_str());
  data.write(d + "statues", statue);
  char cameras[256];
  snprintf(cameras, sizeof cameras, "fov 60\naddcamera %f 12 %f\naddcamera %f 20 %f\n", w * 0.3, w * 0.45, w * 0.75,
           w * 0.6);
  data.write(d + "cameras", cameras);
  return {name, n, spacing};
}

}  // namespace scene_fixture
