// The predictive "J6" (RGB) and "J7" (RGBA) formats: a short text header,
// then per pixel and channel the difference from a prediction made from the
// left, upper and upper-left neighbours, modulo 256. Smooth pictures turn into
// long runs of small bytes that the archive's gzip layer packs well.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/datafile.h"
#include "platform/log.h"
#include "render/image.h"

namespace {

inline int predict(const uint8_t* pixels, size_t row, int channels, int x, int y, int k) {
  if (y == 0) return x == 0 ? 0 : pixels[size_t(x - 1) * channels + k];
  const uint8_t* up = pixels + size_t(y - 1) * row + size_t(x) * channels + k;
  if (x == 0) return *up;
  int left = up[row - channels];
  int p = left + up[0] - up[-channels];
  return p < 0 ? 0 : (p > 255 ? 255 : p);
}

// A row below the first: the upper neighbour starts it, then the clamped
// gradient. This loop is the whole cost of a large image; the left pixel
// stays in registers so that each byte does not wait for the store of the
// one before it.
template <int C>
void decode_row(uint8_t* out, const uint8_t* up, int width) {
  int left[C];
  for (int k = 0; k < C; k++) left[k] = out[k] = uint8_t(out[k] + up[k]);
  for (int x = 1; x < width; x++) {
    uint8_t* o = out + size_t(x) * C;
    const uint8_t* u = up + size_t(x) * C;
    for (int k = 0; k < C; k++) {
      int p = left[k] + u[k] - u[k - C];
      p = p < 0 ? 0 : (p > 255 ? 255 : p);
      left[k] = uint8_t(o[k] + p);
      o[k] = uint8_t(left[k]);
    }
  }
}

bool fail(const char* text) {
  log_error(text);
  return false;
}

}  // namespace

bool read_j_after_magic(DataStream* stream, int channels, Image* image) {
  char text[128];
  int width = 0, height = 0;
  data_skip_comments(stream);
  bool ok = data_scanf(stream, "%d", &width) == 1;
  data_skip_comments(stream);
  ok = ok && data_scanf(stream, "%d", &height) == 1;
  if (!ok || width <= 0 || height <= 0) return fail("Can't get J image dimensions");
  if (!image_size_acceptable(width, height)) {
    snprintf(text, sizeof text, "J image too large (%dx%d)", width, height);
    return fail(text);
  }
  data_getc(stream);  // separator after the height

  size_t row = size_t(width) * channels;
  std::vector<uint8_t> pixels;
  // Room for a typical texture at once; beyond that the buffer grows with
  // the data actually present.
  pixels.reserve(std::min(row * size_t(height), size_t(16) << 20));
  for (int y = 0; y < height; y++) {
    size_t base = pixels.size();
    pixels.resize(base + row);
    uint8_t* out = pixels.data() + base;
    if (data_read(stream, out, row) != row) {
      snprintf(text, sizeof text, "J image data ends at row %d of %d", y, height);
      return fail(text);
    }
    if (y == 0) {
      for (size_t i = size_t(channels); i < row; i++) out[i] = uint8_t(out[i] + out[i - channels]);
      continue;
    }
    if (channels == 4)
      decode_row<4>(out, out - row, width);
    else
      decode_row<3>(out, out - row, width);
  }
  image->width = width;
  image->height = height;
  image->channels = channels;
  image->levels = 1;
  image->pixels = std::move(pixels);
  return true;
}

bool read_j_image(DataStream* stream, Image* image) {
  char magic[16] = "";
  if (data_scanf(stream, "%15s", magic) != 1 || (strcmp(magic, "J6") != 0 && strcmp(magic, "J7") != 0))
    return fail("Can't parse J image header");
  return read_j_after_magic(stream, magic[1] == '6' ? 3 : 4, image);
}

bool write_j_image(DataStream* stream, const Image& image) {
  int c = image.channels;
  if (!stream || (c != 3 && c != 4) || image.levels < 1 || image.width <= 0 || image.height <= 0) return false;
  if (data_printf(stream, "J%d\n%d %d\n", c + 3, image.width, image.height) < 0) return false;
  size_t row = size_t(image.width) * c;
  std::vector<uint8_t> out(row);
  for (int y = 0; y < image.height; y++) {
    const uint8_t* in = image.pixels.data() + size_t(y) * row;
    for (int x = 0; x < image.width; x++)
      for (int k = 0; k < c; k++)
        out[size_t(x) * c + k] = uint8_t(in[size_t(x) * c + k] - predict(image.pixels.data(), row, c, x, y, k));
    if (data_write(stream, out.data(), row) != row) return false;
  }
  return true;
}

bool write_j_image_file(const char* name, const Image& image) {
  DataStream* stream = data_open(name, "wb");
  if (!stream) {
    log_printf("Can't write '%.900s'\n", name);
    return false;
  }
  bool ok = write_j_image(stream, image);
  ok = data_flush(stream) == 0 && ok;
  data_close(stream);
  if (!ok) log_printf("Error writing '%.900s'\n", name);
  return ok;
}
