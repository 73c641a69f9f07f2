// PPM and PGM, binary and text, and the PPM writer.
#include <cstdio>
#include <cstring>

#include "core/datafile.h"
#include "platform/log.h"
#include "render/image.h"

namespace {

bool fail(const char* text) {
  log_error(text);
  return false;
}

// Header numbers may each be preceded by "#" comment lines.
bool read_header_number(DataStream* stream, int* value) {
  data_skip_comments(stream);
  return data_scanf(stream, "%d", value) == 1;
}

// One decimal sample of a text file; white space and "#" comment lines may
// stand before it. Returns -1 when there is none, -2 when it is too large.
int read_text_sample(DataStream* stream) {
  int c = data_getc(stream);
  for (;;) {
    while (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') c = data_getc(stream);
    if (c != '#') break;
    while (c != '\n' && c != -1) c = data_getc(stream);
  }
  if (c < '0' || c > '9') return -1;
  int v = c - '0';
  for (c = data_peekc(stream); c >= '0' && c <= '9'; c = data_peekc(stream)) {
    data_getc(stream);
    v = v * 10 + (c - '0');
    if (v > 65535) return -2;
  }
  return v;
}

}  // namespace

bool read_pnm_after_magic(DataStream* stream, const char* magic, Image* image) {
  bool grey = magic[1] == '5' || magic[1] == '2';
  bool binary = magic[1] == '6' || magic[1] == '5';
  const char* header_error = grey ? "Can't parse PGM header" : "Can't parse PPM header";
  const char* size_error = grey ? "Can't get PGM dimensions" : "Can't get PPM dimensions";
  const char* kind = grey ? "PGM" : "PPM";
  char text[128];

  int width = 0, height = 0, maximum = 0;
  if (!read_header_number(stream, &width) || !read_header_number(stream, &height) || width <= 0 ||
      height <= 0)
    return fail(size_error);
  if (!image_size_acceptable(width, height)) {
    snprintf(text, sizeof text, "%s too large (%dx%d)", kind, width, height);
    return fail(text);
  }
  if (!read_header_number(stream, &maximum) || maximum <= 0 || maximum > 65535) return fail(header_error);

  int channels = grey ? 1 : 3;
  size_t row_samples = size_t(width) * channels;
  // The buffer grows row by row, so a header that promises more than the
  // file holds costs no more memory than the file itself.
  std::vector<uint8_t> pixels;
  if (binary) {
    data_getc(stream);  // the single separator after the maximum
    int bytes_per_sample = maximum > 255 ? 2 : 1;
    std::vector<uint8_t> row(row_samples * bytes_per_sample);
    for (int y = 0; y < height; y++) {
      if (data_read(stream, row.data(), row.size()) != row.size()) {
        snprintf(text, sizeof text, "%s data ends at row %d of %d", kind, y, height);
        return fail(text);
      }
      size_t base = pixels.size();
      pixels.resize(base + row_samples);
      for (size_t i = 0; i < row_samples; i++) {
        int v = bytes_per_sample == 2 ? (row[2 * i] << 8) | row[2 * i + 1] : row[i];
        if (v > maximum) v = maximum;
        pixels[base + i] = maximum == 255 ? uint8_t(v) : uint8_t((v * 255 + maximum / 2) / maximum);
      }
    }
  } else {
    for (int y = 0; y < height; y++) {
      size_t base = pixels.size();
      pixels.resize(base + row_samples);
      for (size_t i = 0; i < row_samples; i++) {
        int v = read_text_sample(stream);
        if (v < 0 || v > maximum) {
          snprintf(text, sizeof text, v == -1 ? "%s data ends at row %d of %d" : "Bad %s sample in row %d of %d",
                   kind, y, height);
          return fail(text);
        }
        pixels[base + i] = maximum == 255 ? uint8_t(v) : uint8_t((v * 255 + maximum / 2) / maximum);
      }
    }
  }
  image->width = width;
  image->height = height;
  image->channels = channels;
  image->levels = 1;
  image->pixels = std::move(pixels);
  return true;
}

bool read_ppm(DataStream* stream, Image* image) {
  char magic[16] = "";
  if (data_scanf(stream, "%15s", magic) != 1 || (strcmp(magic, "P6") != 0 && strcmp(magic, "P3") != 0))
    return fail("Can't parse PPM header");
  return read_pnm_after_magic(stream, magic, image);
}

bool read_pgm(DataStream* stream, Image* image) {
  char magic[16] = "";
  if (data_scanf(stream, "%15s", magic) != 1 || (strcmp(magic, "P5") != 0 && strcmp(magic, "P2") != 0))
    return fail("Can't parse PGM header");
  return read_pnm_after_magic(stream, magic, image);
}

bool read_rgb_image(DataStream* stream, Image* image) {
  char magic[16] = "";
  if (data_scanf(stream, "%15s", magic) != 1) return fail("Can't parse PPM header");
  Image read;
  if (!strcmp(magic, "P6") || !strcmp(magic, "P3") || !strcmp(magic, "P5") || !strcmp(magic, "P2")) {
    if (!read_pnm_after_magic(stream, magic, &read)) return false;
  } else if (!strcmp(magic, "J6") || !strcmp(magic, "J7")) {
    if (!read_j_after_magic(stream, magic[1] == '6' ? 3 : 4, &read)) return false;
  } else {
    return fail("Can't parse PPM header");
  }
  if (read.channels != 3) {
    size_t n = size_t(read.width) * read.height;
    std::vector<uint8_t> rgb(n * 3);
    for (size_t i = 0; i < n; i++)
      for (int k = 0; k < 3; k++)
        rgb[3 * i + k] = read.pixels[read.channels == 1 ? i : 4 * i + k];
    read.pixels = std::move(rgb);
    read.channels = 3;
  }
  *image = std::move(read);
  return true;
}

bool write_ppm(DataStream* stream, const uint8_t* rgb, int width, int height) {
  if (!stream || width <= 0 || height <= 0) return false;
  size_t bytes = size_t(width) * height * 3;
  if (data_printf(stream, "P6\n%d %d\n255\n", width, height) < 0) return false;
  return data_write(stream, rgb, bytes) == bytes;
}

bool write_ppm_file(const char* name, const uint8_t* rgb, int width, int height) {
  DataStream* stream = data_open(name, "wb");
  if (!stream) {
    log_printf("Can't write '%.900s'\n", name);
    return false;
  }
  bool ok = write_ppm(stream, rgb, width, height);
  ok = data_flush(stream) == 0 && ok;
  data_close(stream);
  if (!ok) log_printf("Error writing '%.900s'\n", name);
  return ok;
}
