#include "render/image.h"

#include <algorithm>
#include <cstring>

// 8192 x 8192: four times the largest terrain shading and far beyond any
// texture the game ships, yet small enough that a lying header cannot make
// us reserve gigabytes.
int64_t g_image_max_pixels = int64_t(1) << 26;

int full_chain_levels(int width, int height) {
  int levels = 1;
  while (width > 1 || height > 1) {
    width = width > 1 ? width / 2 : 1;
    height = height > 1 ? height / 2 : 1;
    levels++;
  }
  return levels;
}

size_t level_offset(int width, int height, int channels, int level) {
  size_t offset = 0;
  for (int l = 0; l < level; l++)
    offset += size_t(level_size(width, l)) * size_t(level_size(height, l)) * size_t(channels);
  return offset;
}

size_t chain_bytes(int width, int height, int channels, int levels) {
  return level_offset(width, height, channels, levels);
}

int next_power_of_two(int v) {
  int p = 1;
  while (p < v && p < (1 << 30)) p <<= 1;
  return p;
}

bool image_size_acceptable(int width, int height) {
  if (width <= 0 || height <= 0) return false;
  if (width > IMAGE_MAX_SIDE || height > IMAGE_MAX_SIDE) return false;
  return int64_t(width) * int64_t(height) <= g_image_max_pixels;
}

void init_image(Image* image, int width, int height, int channels) {
  image->width = width;
  image->height = height;
  image->channels = channels;
  image->levels = 1;
  image->pixels.assign(size_t(width) * size_t(height) * size_t(channels), 0);
}

// --- mipmaps ------------------------------------------------------------------

namespace {

// Combines n samples (n = 4 for a 2 x 2 box, 2 for a pair along a side that
// is already one pixel) into one pixel. Transparent texels must not bleed
// their colour into the level below, so RGBA colour is weighted by alpha;
// when every sample has the same extreme alpha the weights are all equal and
// the plain mean gives the same answer without the division.
inline void combine(const uint8_t* const* p, int n, int channels, bool max_alpha, uint8_t* out) {
  int shift = n == 4 ? 2 : 1;
  if (channels != 4) {
    for (int k = 0; k < channels; k++) {
      int sum = 0;
      for (int i = 0; i < n; i++) sum += p[i][k];
      out[k] = uint8_t(sum >> shift);
    }
    return;
  }
  int alpha_sum = 0, alpha_max = 0;
  for (int i = 0; i < n; i++) {
    alpha_sum += p[i][3];
    alpha_max = std::max(alpha_max, int(p[i][3]));
  }
  bool uniform = alpha_sum == 0 || alpha_sum == 255 * n;
  for (int k = 0; k < 3; k++) {
    int sum = 0;
    if (uniform) {
      for (int i = 0; i < n; i++) sum += p[i][k];
      out[k] = uint8_t(sum >> shift);
    } else {
      for (int i = 0; i < n; i++) sum += p[i][k] * p[i][3];
      out[k] = uint8_t(sum / alpha_sum);
    }
  }
  out[3] = uint8_t(max_alpha ? alpha_max : alpha_sum >> shift);
}

}  // namespace

void downsample_level(const uint8_t* src, int sw, int sh, int channels, bool max_alpha, uint8_t* dst) {
  int dw = sw > 1 ? sw / 2 : 1;
  int dh = sh > 1 ? sh / 2 : 1;
  size_t row = size_t(sw) * channels;
  const uint8_t* p[4];
  for (int y = 0; y < dh; y++) {
    for (int x = 0; x < dw; x++) {
      uint8_t* out = dst + (size_t(y) * dw + x) * channels;
      if (sw > 1 && sh > 1) {
        const uint8_t* a = src + size_t(2 * y) * row + size_t(2 * x) * channels;
        p[0] = a;
        p[1] = a + channels;
        p[2] = a + row;
        p[3] = a + row + channels;
        combine(p, 4, channels, max_alpha, out);
      } else if (sw > 1) {
        const uint8_t* a = src + size_t(y) * row + size_t(2 * x) * channels;
        p[0] = a;
        p[1] = a + channels;
        combine(p, 2, channels, max_alpha, out);
      } else {
        const uint8_t* a = src + size_t(2 * y) * row + size_t(x) * channels;
        p[0] = a;
        p[1] = a + row;
        combine(p, 2, channels, max_alpha, out);
      }
    }
  }
}

void generate_mipmaps(Image* image, bool max_alpha) {
  if (image->levels <= 0) return;
  int levels = full_chain_levels(image->width, image->height);
  image->pixels.resize(chain_bytes(image->width, image->height, image->channels, levels));
  for (int l = 1; l < levels; l++) {
    const uint8_t* src =
        image->pixels.data() + level_offset(image->width, image->height, image->channels, l - 1);
    uint8_t* dst = image->pixels.data() + level_offset(image->width, image->height, image->channels, l);
    downsample_level(src, level_size(image->width, l - 1), level_size(image->height, l - 1),
                     image->channels, max_alpha, dst);
  }
  image->levels = levels;
}

// --- custom layout ------------------------------------------------------------

bool extract_custom_mipmaps(Image* image) {
  int w = image->width, total = image->height, c = image->channels;
  if (image->levels < 1 || total < 3 || (total * 2) % 3 != 0) return false;
  // The base must be a power of two high as well: a 256 x 300 picture splits
  // into thirds, but its 200-pixel base would be resampled and the drawn
  // levels lost, so it is better used as one plain image.
  int h = total * 2 / 3;
  if (!is_power_of_two(h)) return false;
  int levels = full_chain_levels(w, h);

  // Rectangles of every level inside the picture, base first.
  struct Rect {
    int x, y, w, h;
  };
  std::vector<Rect> rects;
  rects.push_back({0, 0, w, h});
  int band_top = h;
  Rect cur{0, h, level_size(w, 1), level_size(h, 1)};
  for (int l = 1; l < levels; l++) {
    if (l > 1) {
      int nw = level_size(w, l), nh = level_size(h, l);
      const Rect& prev = rects.back();
      if (prev.y + prev.h + nh <= total)
        cur = {prev.x, prev.y + prev.h, nw, nh};
      else
        cur = {prev.x + prev.w, band_top, nw, nh};
    }
    if (cur.x + cur.w > w || cur.y + cur.h > total) return false;
    rects.push_back(cur);
  }

  std::vector<uint8_t> chain(chain_bytes(w, h, c, levels));
  size_t row = size_t(w) * c;
  for (int l = 0; l < levels; l++) {
    const Rect& r = rects[l];
    uint8_t* dst = chain.data() + level_offset(w, h, c, l);
    for (int y = 0; y < r.h; y++)
      memcpy(dst + size_t(y) * r.w * c, image->pixels.data() + size_t(r.y + y) * row + size_t(r.x) * c,
             size_t(r.w) * c);
  }
  image->height = h;
  image->levels = levels;
  image->pixels = std::move(chain);
  return true;
}

// --- detail and size ------------------------------------------------------------

int reduce_detail(Image* image, int steps) {
  int dropped = 0;
  while (dropped < steps && image->levels > 1 && image->width > 128 && image->height > 128) {
    size_t top = size_t(image->width) * image->height * image->channels;
    image->pixels.erase(image->pixels.begin(), image->pixels.begin() + ptrdiff_t(top));
    image->width = level_size(image->width, 1);
    image->height = level_size(image->height, 1);
    image->levels--;
    dropped++;
  }
  return dropped;
}

void resample_to_power_of_two(Image* image) {
  int w = image->width, h = image->height, c = image->channels;
  int nw = next_power_of_two(w), nh = next_power_of_two(h);
  std::vector<uint8_t> out(size_t(nw) * nh * c);
  for (int i = 0; i < nh; i++) {
    int sy = int(int64_t(i) * h / nh);
    for (int j = 0; j < nw; j++) {
      int sx = int(int64_t(j) * w / nw);
      memcpy(&out[(size_t(i) * nw + j) * c], &image->pixels[(size_t(sy) * w + sx) * c], size_t(c));
    }
  }
  image->width = nw;
  image->height = nh;
  image->levels = 1;
  image->pixels = std::move(out);
}

void border_colour(const Image& image, float rgba[4]) {
  rgba[0] = rgba[1] = rgba[2] = 0.0f;
  rgba[3] = 1.0f;
  if (image.levels < 1 || image.channels < 3) return;
  int w = image.width, h = image.height, c = image.channels;
  int bins[512] = {};
  auto add = [&](int x, int y) {
    const uint8_t* p = &image.pixels[(size_t(y) * w + x) * c];
    bins[(p[0] * 7 / 255) * 64 + (p[1] * 7 / 255) * 8 + p[2] * 7 / 255]++;
  };
  for (int x = 0; x < w; x++) {
    add(x, 0);
    if (h > 1) add(x, h - 1);
  }
  for (int y = 1; y + 1 < h; y++) {
    add(0, y);
    if (w > 1) add(w - 1, y);
  }
  // Ties go to the lowest bin, so the result does not depend on pixel order.
  int best = 0;
  for (int i = 1; i < 512; i++)
    if (bins[i] > bins[best]) best = i;
  rgba[0] = float(best / 64) / 7.0f;
  rgba[1] = float(best / 8 % 8) / 7.0f;
  rgba[2] = float(best % 8) / 7.0f;
}
