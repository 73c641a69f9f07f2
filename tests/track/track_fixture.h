// Track directories built in code for tests and benchmarks: a scratch data
// directory (the only search directory, so "@" names resolve and writes land
// there) and a writer of minimal and complete track directories.
#pragma once

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "core/datafile.h"
#include "render/image.h"

struct ScratchData {
  std::string root;

  ScratchData() {
    char pattern[] = "/tmp/dv_track_XXXXXX";
    if (mkdtemp(pattern)) root = pattern;
    set_search_directories({root});
  }
  ~ScratchData() {
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
  }
  ScratchData(const ScratchData&) = delete;
  ScratchData& operator=(const ScratchData&) = delete;

  std::string path(const std::string& relative) const { return root + "/" + relative; }

  void write(const std::string& relative, const std::string& bytes) const {
    std::filesystem::create_directories(std::filesystem::path(path(relative)).parent_path());
    FILE* f = fopen(path(relative).c_str(), "wb");
    if (!f) return;
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
    invalidate_catalogue();
  }
  void remove(const std::string& relative) const {
    std::filesystem::remove(path(relative));
    invalidate_catalogue();
  }
  std::string read(const std::string& relative) const {
    std::string bytes;
    FILE* f = fopen(path(relative).c_str(), "rb");
    if (!f) return bytes;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
    fclose(f);
    return bytes;
  }
};

// Raw height sample of the fixture's rolling ground at vertex (c, r).
inline uint16_t fixture_sample(int c, int r, int N) {
  double x = (double)c / (N - 1), z = (double)r / (N - 1);
  double v = 0.5 + 0.25 * sin(x * 6.28318) * cos(z * 6.28318) + 0.2 * x * z;
  return (uint16_t)lround(v * 65535.0);
}

inline std::string fixture_inline_height_field(int n, float spacing, float low, float high) {
  const int N = (1 << (n + 1)) + 1;
  char header[128];
  snprintf(header, sizeof header, "%d %f %f %f\n:", n, (double)spacing, (double)low, (double)high);
  std::string bytes = header;
  for (int r = 0; r < N; r++)
    for (int c = 0; c < N; c++) {
      uint16_t v = fixture_sample(c, r, N);
      bytes += (char)(v & 0xff);
      bytes += (char)(v >> 8);
    }
  return bytes;
}

inline std::string fixture_ppm(int width, int height, uint8_t value) {
  std::string bytes = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
  bytes.append((size_t)width * (size_t)height * 3, (char)value);
  return bytes;
}

inline std::string fixture_pgm(int width, int height, uint8_t value) {
  std::string bytes = "P5\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
  bytes.append((size_t)width * (size_t)height, (char)value);
  return bytes;
}

inline void fixture_png(const ScratchData& data, const std::string& relative, int size, uint8_t seed) {
  std::vector<uint8_t> rgb((size_t)size * (size_t)size * 3);
  for (size_t i = 0; i < rgb.size(); i++) rgb[i] = (uint8_t)(seed + i * 7);
  std::filesystem::create_directories(std::filesystem::path(data.path(relative)).parent_path());
  write_png_rgb_file(data.path(relative).c_str(), rgb.data(), size, size, false);
  invalidate_catalogue();
}

// Writes track `name` with only its required files (inline heights,
// "shading.ppm", "texturelist", "tilemap"), or with every file a track can
// have when `complete` is set. n sets the grid (2^(n+1) + 1 vertices a side).
inline void build_fixture_track(const ScratchData& data, const std::string& name, bool complete, int n = 3) {
  const int N = (1 << (n + 1)) + 1;
  const int tiles = 1 << n;
  const std::string d = name + "/";
  std::string tilemap((size_t)tiles * (size_t)tiles, '\0');
  for (int r = 0; r < tiles; r++)
    for (int c = 0; c < tiles; c++) tilemap[(size_t)(r * tiles + c)] = (char)((c + r) % 3);
  data.write(d + "tilemap", tilemap);
  fixture_png(data, d + "dirt.png", 16, 10);
  fixture_png(data, d + "grass.png", 16, 20);
  fixture_png(data, d + "dirt-grass-1010.png", 16, 30);

  if (!complete) {
    data.write(d + "terrain.hf", fixture_inline_height_field(n, 2.0f, 0.0f, 40.0f));
    data.write(d + "shading.ppm", fixture_ppm(N, N, 200));
    data.write(d + "texturelist", "0.9 6 16 " + d + "dirt.png\n" + d + "grass.png\n" + d + "dirt-grass-1010.png\n");
    return;
  }

  char header[96];
  snprintf(header, sizeof header, "%d %f %f %f\n", n, 2.0, 0.0, 40.0);
  data.write(d + "terrain.hf", header);
  std::vector<uint16_t> samples((size_t)N * (size_t)N);
  for (int r = 0; r < N; r++)
    for (int c = 0; c < N; c++) samples[(size_t)(r * N + c)] = fixture_sample(c, r, N);
  write_png_grey16_file(data.path(d + "terrain.png").c_str(), samples.data(), N, N);
  data.write(d + "shadingx2.ppm", fixture_ppm(N, N, 100));
  data.write(d + "shadows.pgm", fixture_pgm(N, N, 255));
  data.write(d + "tileinfo",
             "texture @" + d + "dirt.png\n"
             "friction 1.1 4\nfriction 0.8 1\nroll_resist 4 12 2\n"
             "roost count=12 texture=\"@" + d + "roost one.png\" fade_a=-512\n"
             "erode_depth 0.5\naddtile\n"
             "texture @" + d + "grass.png\nfriction 0.6 1\naddtile\n"
             "texture @" + d + "dirt-grass-1010.png\naddtile\n");
  fixture_png(data, d + "roost one.png", 8, 40);
  data.write(d + "texturelist", d + "dirt.png\n");  // shadowed by "tileinfo"
  fixture_png(data, d + "sky.png", 8, 50);
  fixture_png(data, d + "flare.png", 8, 60);
  data.write(d + "lighting",
             "sun_vector [ 0.3 1 0.2 ]\nsun_color [ 1 0.95 0.9 ]\nambient [ 0.4 0.4 0.45 ]\n"
             "sky_n @" + d + "sky.png\nsky_e @" + d + "sky.png\nsky_s @" + d + "sky.png\n"
             "sky_w @" + d + "sky.png\nsky_u @" + d + "sky.png\nsky_env @" + d + "sky.png\n"
             "flare_element [ 0.1 0.5 ] [ 1 1 0.8 ] 2 @" + d + "flare.png\n"
             "flare_vector [ 0.3 1 0.2 ]\nfog [ 0.7 0.7 0.8 ] 0.001\nnear_plane 0.5\nfar_plane 3000\n");
  fixture_png(data, d + "decal.png", 16, 70);
  data.write(d + "decals", "[ 10 12 ] 0.5 6 2 @" + d + "decal.png\n[ 20 8 ] 0 4 1 @" + d + "decal.png\n");
  const float w = 2.0f * (float)(1 << (n + 1));
  char gates[1024];
  snprintf(gates, sizeof gates,
           "startinggate:\n[%f 31.5 %f] 0\n[%f 32 %f] 0\ncheckpoints:\n"
           "6 [%f 0 %f] [0 0 -1]\n6 [%f 0 %f] [1 0 0]\n6 [%f 0 %f] [0 0 1]\n6 [%f 0 %f] [-1 0 0]\n"
           "firstlap:\n0 1 2 3\nnormallap:\n0 1 2 3\n",
           w * 0.4, w * 0.8, w * 0.45, w * 0.8, w * 0.5, w * 0.2, w * 0.8, w * 0.5, w * 0.5, w * 0.8, w * 0.2,
           w * 0.5);
  data.write(d + "timing_gates", gates);
  fixture_png(data, d + "flag.png", 8, 80);
  const std::string flag = " @" + d + "flag.png";
  data.write(d + "flaggers", "[ 5 0 5 ] [ 6 0 6 ] 1 2 0" + flag + flag + flag + flag + flag + "\n[ 7 0 7 ] 1 2" +
                                 flag + flag + flag + flag + "\n[ 8 0 8 ] 1 2 0 1 2 3" + flag + flag + "\n");
  fixture_png(data, d + "tree.png", 8, 90);
  data.write(d + "billboards", "[ 3 0 4 ] 2 5 @" + d + "tree.png\n[ 9 1 4 ] 2 5 #ff0000#@" + d + "tree.png\n");
  data.write(d + "rock.shp", "3 1\n0 0 0 0 1 0 0 0\n1 0 0 0 1 0 1 0\n0 0 1 0 1 0 0 1\n0 1 2\n");
  data.write(d + "hay.shp", "3 1\n0 0 0 0 1 0 0 0\n2 0 0 0 1 0 1 0\n0 0 2 0 1 0 0 1\n0 1 2\n");
  data.write(d + "statues", "[ 12 0 12 ] 0.5 @" + d + "rock.shp @" + d + "tree.png @" + d + "rock.shp\n" +
                                "[ 14 0 12 ] 1.5 @" + d + "rock.shp @" + d + "tree.png null\n" +
                                "[ 16 0 12 ] 4 @" + d + "hay.shp null @" + d + "hay.shp\n");
  fixture_png(data, d + "map.png", 32, 100);
  data.write(d + "cameras", "gate 0 2\nfov 60\naddcamera 10 8 10\ngate 1\naddcamera 20 8 20\n");
  data.write(d + "desc", "Fixture Hills\n");
}
