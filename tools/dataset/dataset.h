// The data-set builder's shared pieces: where files go (loose, or into one
// of the ".saf" archives, optionally gzip-compressed), a seeded random
// source and value noise, small colour and image helpers, and the entry
// points of each part of the set (tracks, bikes, riders, sounds, HUD art,
// fonts). Everything is made from code; the same inputs give the same bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace dvdata {

// --- output ---------------------------------------------------------------------

struct DataSet {
  std::string out;  // output directory, ends in "/"
  // Members of each archive, by archive file name ("bikes.saf" ...), in the
  // order they were added.
  struct Archive {
    std::string file;
    std::vector<std::string> names;
    std::vector<std::vector<unsigned char>> bytes;
  };
  std::vector<Archive> archives;
  std::vector<std::string> loose;  // relative names written as loose files
  bool failed = false;
};

// Writes a loose file below the output directory (directories made on the way).
void put_file(DataSet* set, const std::string& name, const void* bytes, size_t size);
void put_text(DataSet* set, const std::string& name, const std::string& text);
// Queues a member of an archive ("" = loose file). With gzip the member is
// stored as name + ".gz", compressed.
void put_member(DataSet* set, const std::string& archive, const std::string& name, std::vector<unsigned char> bytes,
                bool gzip = false);
// Writes every queued archive.
void write_archives(DataSet* set);
// Deterministic gzip (no time stamp, no name) of a byte string.
std::vector<unsigned char> gzip_bytes(const std::vector<unsigned char>& bytes);

// In-memory encoders that go through the game's own writers.
std::vector<unsigned char> png_rgb_bytes(const uint8_t* rgb, int width, int height);
// With a text chunk: the description the texture reader collects.
std::vector<unsigned char> png_rgb_bytes_text(const uint8_t* rgb, int width, int height, const std::string& text);
std::vector<unsigned char> png_rgba_bytes(const uint8_t* rgba, int width, int height);
std::vector<unsigned char> ppm_bytes(const uint8_t* rgb, int width, int height);

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// --- randomness -----------------------------------------------------------------

// SplitMix64: small, fast and the same on every machine.
struct Random {
  uint64_t state;
  explicit Random(uint64_t seed) : state(seed) {}
  uint64_t next() {
    uint64_t z = (state += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
  }
  double uniform() { return (double)(next() >> 11) * (1.0 / 9007199254740992.0); }
  double range(double lo, double hi) { return lo + (hi - lo) * uniform(); }
  int below(int n) { return (int)(uniform() * n); }
};

// Hash of integer lattice coordinates to 0..1.
double lattice_value(uint32_t seed, int x, int y);
// Smooth value noise at (x, y) in lattice units; with period > 0 the noise
// repeats every `period` units in both directions (seamless textures).
double value_noise(uint32_t seed, double x, double y, int period = 0);
// Sum of octaves, each twice the frequency and `gain` times the amplitude;
// result roughly -1..1.
double fractal_noise(uint32_t seed, double x, double y, int octaves, double gain, int period = 0);

inline double clamp01(double v) { return v < 0 ? 0 : (v > 1 ? 1 : v); }
inline double smoothstep(double a, double b, double x) {
  double t = clamp01((x - a) / (b - a));
  return t * t * (3 - 2 * t);
}
inline uint8_t to_byte(double v) {
  v = v * 255.0 + 0.5;
  return (uint8_t)(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// --- pictures -------------------------------------------------------------------

struct Rgb {
  double r, g, b;
};
inline Rgb mix(Rgb a, Rgb b, double t) { return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t}; }
inline Rgb scale(Rgb a, double s) { return {a.r * s, a.g * s, a.b * s}; }
inline Rgb operator+(Rgb a, Rgb b) { return {a.r + b.r, a.g + b.g, a.b + b.b}; }

// An RGBA picture in doubles 0..1, rows top first.
struct Picture {
  int width = 0, height = 0;
  std::vector<double> px;  // 4 per pixel
  Picture() = default;
  Picture(int w, int h) : width(w), height(h), px((size_t)w * h * 4, 0.0) {}
  double* at(int x, int y) { return &px[((size_t)y * width + x) * 4]; }
  void set(int x, int y, Rgb c, double a = 1.0) {
    double* p = at(x, y);
    p[0] = c.r, p[1] = c.g, p[2] = c.b, p[3] = a;
  }
  // Paints colour c with coverage a over the pixel (alpha "over").
  void blend(int x, int y, Rgb c, double a);
  void fill(Rgb c, double a = 1.0);
  // Filled shapes with anti-aliased edges, in pixel coordinates.
  void disc(double cx, double cy, double radius, Rgb c, double a = 1.0);
  void rect(double x0, double y0, double x1, double y1, Rgb c, double a = 1.0);
  void line(double x0, double y0, double x1, double y1, double width, Rgb c, double a = 1.0);
  void polygon(const std::vector<double>& xy, Rgb c, double a = 1.0);
  std::vector<uint8_t> rgb() const;
  std::vector<uint8_t> rgba() const;
};

// A tiny built-in 5 x 7 pixel font for lettering on textures (plates,
// banners, the title); upper case, digits and a few signs.
void draw_text(Picture* picture, const char* text, double x, double y, double pixel, Rgb c, double a = 1.0);
double text_width(const char* text, double pixel);

// --- the parts of the set ---------------------------------------------------------

void build_ground_textures(DataSet* set);
void build_sky_and_effects(DataSet* set);
void build_track_objects(DataSet* set);
void build_rabbithill(DataSet* set);
void build_second_track(DataSet* set);
void build_bike_shapes(DataSet* set);
void build_bike_models(DataSet* set);
void build_rider_models(DataSet* set);
void build_appearance_textures(DataSet* set);
void build_sounds(DataSet* set);
void build_hud_images(DataSet* set);
void build_series(DataSet* set);
void build_fonts(DataSet* set);
// Trains and writes the three robot line files of each track directory
// (after the tracks and archives are written: it reads them back).
void build_robot_lines(DataSet* set, const std::vector<std::string>& tracks);
// The archive that must sort last and whose digest the game holds.
void build_check_archive(DataSet* set);

}  // namespace dvdata
