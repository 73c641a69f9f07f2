// Noise, anti-aliased drawing and the little lettering font of the builder.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "tools/dataset/dataset.h"

namespace dvdata {

double lattice_value(uint32_t seed, int x, int y) {
  uint32_t h = seed * 0x9e3779b1u ^ (uint32_t)x * 0x85ebca6bu ^ (uint32_t)y * 0xc2b2ae35u;
  h ^= h >> 15;
  h *= 0x2c1b3c6du;
  h ^= h >> 12;
  h *= 0x297a2d39u;
  h ^= h >> 15;
  return (double)(h & 0xffffff) / (double)0xffffff;
}

double value_noise(uint32_t seed, double x, double y, int period) {
  double fx = std::floor(x), fy = std::floor(y);
  int x0 = (int)fx, y0 = (int)fy;
  double tx = x - fx, ty = y - fy;
  tx = tx * tx * tx * (tx * (tx * 6 - 15) + 10);
  ty = ty * ty * ty * (ty * (ty * 6 - 15) + 10);
  auto v = [&](int i, int j) {
    if (period > 0) {
      i = ((i % period) + period) % period;
      j = ((j % period) + period) % period;
    }
    return lattice_value(seed, i, j);
  };
  double a = v(x0, y0), b = v(x0 + 1, y0), c = v(x0, y0 + 1), d = v(x0 + 1, y0 + 1);
  return (a + (b - a) * tx + (c - a) * ty + (a - b - c + d) * tx * ty) * 2.0 - 1.0;
}

double fractal_noise(uint32_t seed, double x, double y, int octaves, double gain, int period) {
  double sum = 0, amplitude = 1, norm = 0;
  for (int o = 0; o < octaves; o++) {
    sum += amplitude * value_noise(seed + (uint32_t)o * 1013u, x, y, period);
    norm += amplitude;
    amplitude *= gain;
    x *= 2, y *= 2;
    if (period > 0) period *= 2;
  }
  return sum / norm;
}

// --- pictures ---------------------------------------------------------------------

void Picture::blend(int x, int y, Rgb c, double a) {
  if (x < 0 || y < 0 || x >= width || y >= height || a <= 0) return;
  if (a > 1) a = 1;
  double* p = at(x, y);
  double out_a = a + p[3] * (1 - a);
  if (out_a <= 0) return;
  p[0] = (c.r * a + p[0] * p[3] * (1 - a)) / out_a;
  p[1] = (c.g * a + p[1] * p[3] * (1 - a)) / out_a;
  p[2] = (c.b * a + p[2] * p[3] * (1 - a)) / out_a;
  p[3] = out_a;
}

void Picture::fill(Rgb c, double a) {
  for (int y = 0; y < height; y++)
    for (int x = 0; x < width; x++) set(x, y, c, a);
}

void Picture::disc(double cx, double cy, double radius, Rgb c, double a) {
  int x0 = (int)std::floor(cx - radius - 1), x1 = (int)std::ceil(cx + radius + 1);
  int y0 = (int)std::floor(cy - radius - 1), y1 = (int)std::ceil(cy + radius + 1);
  for (int y = std::max(y0, 0); y <= std::min(y1, height - 1); y++)
    for (int x = std::max(x0, 0); x <= std::min(x1, width - 1); x++) {
      double d = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
      blend(x, y, c, a * clamp01(radius - d + 0.5));
    }
}

void Picture::rect(double x0, double y0, double x1, double y1, Rgb c, double a) {
  for (int y = std::max((int)std::floor(y0), 0); y <= std::min((int)std::ceil(y1), height - 1); y++)
    for (int x = std::max((int)std::floor(x0), 0); x <= std::min((int)std::ceil(x1), width - 1); x++) {
      double cover_x = clamp01(std::min(x + 1.0, x1) - std::max((double)x, x0));
      double cover_y = clamp01(std::min(y + 1.0, y1) - std::max((double)y, y0));
      blend(x, y, c, a * cover_x * cover_y);
    }
}

void Picture::line(double x0, double y0, double x1, double y1, double w, Rgb c, double a) {
  double dx = x1 - x0, dy = y1 - y0, len2 = dx * dx + dy * dy;
  int bx0 = (int)std::floor(std::min(x0, x1) - w - 1), bx1 = (int)std::ceil(std::max(x0, x1) + w + 1);
  int by0 = (int)std::floor(std::min(y0, y1) - w - 1), by1 = (int)std::ceil(std::max(y0, y1) + w + 1);
  for (int y = std::max(by0, 0); y <= std::min(by1, height - 1); y++)
    for (int x = std::max(bx0, 0); x <= std::min(bx1, width - 1); x++) {
      double px = x + 0.5 - x0, py = y + 0.5 - y0;
      double t = len2 > 0 ? std::clamp((px * dx + py * dy) / len2, 0.0, 1.0) : 0.0;
      double d = std::hypot(px - t * dx, py - t * dy);
      blend(x, y, c, a * clamp01(w * 0.5 - d + 0.5));
    }
}

void Picture::polygon(const std::vector<double>& xy, Rgb c, double a) {
  size_t n = xy.size() / 2;
  if (n < 3) return;
  double minx = xy[0], maxx = xy[0], miny = xy[1], maxy = xy[1];
  for (size_t i = 0; i < n; i++) {
    minx = std::min(minx, xy[2 * i]), maxx = std::max(maxx, xy[2 * i]);
    miny = std::min(miny, xy[2 * i + 1]), maxy = std::max(maxy, xy[2 * i + 1]);
  }
  // 4 x 4 supersampled even-odd fill.
  for (int y = std::max((int)miny, 0); y <= std::min((int)maxy + 1, height - 1); y++)
    for (int x = std::max((int)minx, 0); x <= std::min((int)maxx + 1, width - 1); x++) {
      int inside = 0;
      for (int sy = 0; sy < 4; sy++)
        for (int sx = 0; sx < 4; sx++) {
          double px = x + (sx + 0.5) / 4, py = y + (sy + 0.5) / 4;
          bool in = false;
          for (size_t i = 0, j = n - 1; i < n; j = i++) {
            double xi = xy[2 * i], yi = xy[2 * i + 1], xj = xy[2 * j], yj = xy[2 * j + 1];
            if ((yi > py) != (yj > py) && px < (xj - xi) * (py - yi) / (yj - yi) + xi) in = !in;
          }
          inside += in;
        }
      blend(x, y, c, a * inside / 16.0);
    }
}

std::vector<uint8_t> Picture::rgb() const {
  std::vector<uint8_t> out((size_t)width * height * 3);
  for (size_t i = 0; i < (size_t)width * height; i++)
    for (int k = 0; k < 3; k++) out[i * 3 + k] = to_byte(px[i * 4 + k]);
  return out;
}

std::vector<uint8_t> Picture::rgba() const {
  std::vector<uint8_t> out((size_t)width * height * 4);
  for (size_t i = 0; i < (size_t)width * height * 4; i++) out[i] = to_byte(px[i]);
  return out;
}

// --- lettering --------------------------------------------------------------------

namespace {

struct Glyph {
  char c;
  uint8_t rows[7];  // 5 bits each, bit 4 = leftmost column
};

const Glyph GLYPHS[] = {
    {'A', {0x0e, 0x11, 0x11, 0x1f, 0x11, 0x11, 0x11}}, {'B', {0x1e, 0x11, 0x11, 0x1e, 0x11, 0x11, 0x1e}},
    {'C', {0x0e, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0e}}, {'D', {0x1e, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1e}},
    {'E', {0x1f, 0x10, 0x10, 0x1e, 0x10, 0x10, 0x1f}}, {'F', {0x1f, 0x10, 0x10, 0x1e, 0x10, 0x10, 0x10}},
    {'G', {0x0e, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0f}}, {'H', {0x11, 0x11, 0x11, 0x1f, 0x11, 0x11, 0x11}},
    {'I', {0x0e, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0e}}, {'J', {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0c}},
    {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}}, {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1f}},
    {'M', {0x11, 0x1b, 0x15, 0x15, 0x11, 0x11, 0x11}}, {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},
    {'O', {0x0e, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0e}}, {'P', {0x1e, 0x11, 0x11, 0x1e, 0x10, 0x10, 0x10}},
    {'Q', {0x0e, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0d}}, {'R', {0x1e, 0x11, 0x11, 0x1e, 0x14, 0x12, 0x11}},
    {'S', {0x0f, 0x10, 0x10, 0x0e, 0x01, 0x01, 0x1e}}, {'T', {0x1f, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0e}}, {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0a, 0x04}},
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0a}}, {'X', {0x11, 0x11, 0x0a, 0x04, 0x0a, 0x11, 0x11}},
    {'Y', {0x11, 0x11, 0x0a, 0x04, 0x04, 0x04, 0x04}}, {'Z', {0x1f, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1f}},
    {'0', {0x0e, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0e}}, {'1', {0x04, 0x0c, 0x04, 0x04, 0x04, 0x04, 0x0e}},
    {'2', {0x0e, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1f}}, {'3', {0x1f, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0e}},
    {'4', {0x02, 0x06, 0x0a, 0x12, 0x1f, 0x02, 0x02}}, {'5', {0x1f, 0x10, 0x1e, 0x01, 0x01, 0x11, 0x0e}},
    {'6', {0x06, 0x08, 0x10, 0x1e, 0x11, 0x11, 0x0e}}, {'7', {0x1f, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0e, 0x11, 0x11, 0x0e, 0x11, 0x11, 0x0e}}, {'9', {0x0e, 0x11, 0x11, 0x0f, 0x01, 0x02, 0x0c}},
    {'-', {0x00, 0x00, 0x00, 0x1f, 0x00, 0x00, 0x00}}, {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0c, 0x0c}},
    {'!', {0x04, 0x04, 0x04, 0x04, 0x04, 0x00, 0x04}}, {'/', {0x01, 0x01, 0x02, 0x04, 0x08, 0x10, 0x10}},
    {':', {0x00, 0x0c, 0x0c, 0x00, 0x0c, 0x0c, 0x00}}, {'+', {0x00, 0x04, 0x04, 0x1f, 0x04, 0x04, 0x00}},
    {'#', {0x0a, 0x0a, 0x1f, 0x0a, 0x1f, 0x0a, 0x0a}}, {' ', {0, 0, 0, 0, 0, 0, 0}},
};

const Glyph* find_glyph(char c) {
  if (c >= 'a' && c <= 'z') c = (char)(c - 'a' + 'A');
  for (const Glyph& g : GLYPHS)
    if (g.c == c) return &g;
  return nullptr;
}

}  // namespace

double text_width(const char* text, double pixel) { return (double)strlen(text) * 6 * pixel - pixel; }

void draw_text(Picture* picture, const char* text, double x, double y, double pixel, Rgb c, double a) {
  for (const char* p = text; *p; p++, x += 6 * pixel) {
    const Glyph* g = find_glyph(*p);
    if (!g) continue;
    for (int row = 0; row < 7; row++)
      for (int col = 0; col < 5; col++)
        if (g->rows[row] & (0x10 >> col))
          picture->rect(x + col * pixel, y + row * pixel, x + (col + 1) * pixel, y + (row + 1) * pixel, c, a);
  }
}

}  // namespace dvdata
