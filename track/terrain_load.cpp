// Loading and writing the height field: "terrain.hf" with inline or PNG
// heights, the heights digest, the baked shading and the shadows.
#include <nettle/ripemd160.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/datafile.h"
#include "core/message.h"
#include "platform/log.h"
#include "track/assets.h"
#include "track/deform.h"
#include "track/loading.h"
#include "track/terrain.h"

namespace {

constexpr float SAMPLE_SCALE = 0.000015259021896696422f;  // 1 / 65535

void reset_terrain(Terrain* t) {
  free_terrain(t);
  t->spacing = 0;
  t->width = 0;
  t->low = t->high = 0;
  for (Tile& tile : t->tiles) init_tile(&tile);
  t->modification_count = 0;
  t->locked_for_editor = false;
  t->light = default_shading_light();
  memset(t->heights_digest, 0, sizeof t->heights_digest);
}

bool bad_parameters() {
  show_message("Bad height field parameters");
  show_message("Error reading heights");
  return false;
}

// Raw samples, row by row, straight after the ":" of the header. Read row
// by row so a short file costs no more memory than it holds.
bool read_inline_samples(DataStream* s, int N, std::vector<uint16_t>* raw, LoadingStage* stage) {
  std::vector<uint8_t> row((size_t)N * 2);
  raw->clear();
  raw->reserve((size_t)N * 4);
  for (int r = 0; r < N; r++) {
    if (data_read(s, row.data(), row.size()) != row.size()) return false;
    for (int c = 0; c < N; c++) raw->push_back((uint16_t)(row[2 * c] | row[2 * c + 1] << 8));
    tick_loading_stage(stage);
  }
  return true;
}

// Heights from "terrain.png": a smaller image repeats its last row and
// column; an unreadable one leaves every sample 0 (the low height).
void read_png_samples(const char* track, int N, std::vector<uint16_t>* raw, LoadingStage* stage) {
  raw->assign((size_t)N * (size_t)N, 0);
  int width = 0, height = 0;
  std::vector<uint16_t> png;
  std::string name = track_file_name(track, "terrain.png");
  if (!read_grey16_png_file(name.c_str(), &width, &height, &png) || width <= 0 || height <= 0) return;
  for (int r = 0; r < N; r++) {
    const uint16_t* source = png.data() + (size_t)(r < height ? r : height - 1) * (size_t)width;
    uint16_t* target = raw->data() + (size_t)r * (size_t)N;
    for (int c = 0; c < N; c++) target[c] = source[c < width ? c : width - 1];
    tick_loading_stage(stage);
  }
}

void digest_samples(Terrain* t, const std::vector<uint16_t>& raw) {
  struct ripemd160_ctx ctx;
  ripemd160_init(&ctx);
  uint8_t bytes[2048];
  size_t used = 0;
  for (uint16_t v : raw) {
    bytes[used++] = (uint8_t)(v & 0xff);
    bytes[used++] = (uint8_t)(v >> 8);
    if (used == sizeof bytes) {
      ripemd160_update(&ctx, used, bytes);
      used = 0;
    }
  }
  ripemd160_update(&ctx, used, bytes);
  ripemd160_digest(&ctx, RIPEMD160_DIGEST_SIZE, t->heights_digest);
}

}  // namespace

int g_terrain_max_exponent = 12;

std::string track_file_name(const char* track, const char* file) {
  std::string name = "@";
  name += track;
  name += "/";
  name += file;
  return name;
}

bool read_height_field(Terrain* t, const char* track, int debug_level) {
  std::string name = track_file_name(track, "terrain.hf");
  DataStream* s = data_open(name.c_str(), "rb");
  if (!s) {
    reset_terrain(t);
    show_message("Can't open '%.950s'", name.c_str());
    return false;
  }
  bool ok = read_height_field_stream(t, s, name.c_str(), track, debug_level);
  data_close(s);
  return ok;
}

bool read_height_field_stream(Terrain* t, DataStream* s, const char* name, const char* track, int debug_level) {
  reset_terrain(t);
  LoadingStage stage;
  begin_loading_stage(&stage, "Loading terrain");
  int n = 0;
  float spacing = 0, low = 0, high = 0;
  int fields = data_scanf(s, "%d %f %f %f ", &n, &spacing, &low, &high);
  // A zero or non-finite spacing would turn every height query into a
  // division by zero, so those headers are refused like unreadable ones.
  if (fields < 4 || n < 0 || n > g_terrain_max_exponent || !(spacing > 0) || !std::isfinite(spacing) ||
      !std::isfinite(low) || !std::isfinite(high))
    return bad_parameters();
  end_loading_stage(&stage);

  const int N = (1 << (n + 1)) + 1;
  begin_loading_stage(&stage, "Loading heights");
  std::vector<uint16_t> raw;
  if (data_getc(s) == ':') {
    if (!read_inline_samples(s, N, &raw, &stage)) {
      show_message("'%.900s' holds fewer than %d x %d height samples", name, N, N);
      show_message("Error reading heights");
      return false;
    }
  } else {
    read_png_samples(track, N, &raw, &stage);
  }

  t->n = n;
  t->N = N;
  t->spacing = spacing;
  t->width = spacing * (float)(1 << (n + 1));
  t->low = low;
  t->high = high;
  t->tiles_per_side = 1 << n;
  const size_t count = (size_t)N * (size_t)N;
  t->heights.resize(count);
  const float step = (high - low) * SAMPLE_SCALE;
  for (size_t i = 0; i < count; i++) t->heights[i] = low + (float)raw[i] * step;
  reset_terrain_changes(t);
  digest_samples(t, raw);
  if (debug_level == 2) {
    char hex[41];
    for (int i = 0; i < 20; i++) snprintf(hex + 2 * i, 3, "%02x", t->heights_digest[i]);
    log_printf("%s\n", hex);
  }
  end_loading_stage(&stage);
  return true;
}

bool read_shading(Terrain* t, const char* track) {
  LoadingStage stage;
  begin_loading_stage(&stage, "Loading shading");
  PixelImage image;
  bool halve = false;
  std::string name = track_file_name(track, "shadingx2.ppm");
  ImageFileResult result = read_colour_image_file(name.c_str(), &image);
  if (result == IMAGE_FILE_MISSING) {
    // The older full-scale file: halved into the stored half scale.
    halve = true;
    name = track_file_name(track, "shading.ppm");
    result = read_colour_image_file(name.c_str(), &image);
  }
  if (result == IMAGE_FILE_MISSING) {
    show_message("Can't open '%.950s'", name.c_str());
    return false;
  }
  if (result != IMAGE_FILE_OK || image.channels < 3) {
    show_message("Error reading shading");
    return false;
  }
  if (image.width != t->N || image.height != t->N) {
    show_message("Bad shading dimensions (%dx%d)", image.width, image.height);
    return false;
  }
  const size_t count = (size_t)t->N * (size_t)t->N;
  t->shading.resize(count * 3);
  const int channels = image.channels;
  for (size_t i = 0; i < count; i++) {
    for (int k = 0; k < 3; k++) {
      uint8_t v = image.pixels[i * (size_t)channels + (size_t)k];
      t->shading[i * 3 + (size_t)k] = halve ? (uint8_t)(v >> 1) : v;
    }
    if ((i & 0xffff) == 0) tick_loading_stage(&stage);
  }
  end_loading_stage(&stage);
  return true;
}

bool read_shadows(Terrain* t, const char* track) {
  LoadingStage stage;
  begin_loading_stage(&stage, "Loading shadows");
  const size_t count = (size_t)t->N * (size_t)t->N;
  t->shadows.assign(count, 0);
  PixelImage image;
  std::string name = track_file_name(track, "shadows.pgm");
  ImageFileResult result = read_grey_image_file(name.c_str(), &image);
  if (result == IMAGE_FILE_MISSING) {
    end_loading_stage(&stage);
    return true;
  }
  if (result != IMAGE_FILE_OK || image.channels != 1) {
    show_message("Error reading shadows");
    return false;
  }
  if (image.width != t->N || image.height != t->N) {
    log_printf("Bad shadow dimensions (%dx%d)\n", image.width, image.height);
    return false;
  }
  // The file holds light (255 = unshadowed); the record holds shadow.
  for (size_t i = 0; i < count; i++) t->shadows[i] = (uint8_t)(255 - image.pixels[i]);
  end_loading_stage(&stage);
  return true;
}

bool write_terrain(const Terrain& t, const char* track) {
  if (t.N <= 0 || t.heights.size() != (size_t)t.N * (size_t)t.N) return false;
  float lowest = t.heights[0], highest = t.heights[0];
  for (float h : t.heights) {
    if (h < lowest) lowest = h;
    if (h > highest) highest = h;
  }
  std::string name = track_file_name(track, "terrain.hf");
  DataStream* s = data_open(name.c_str(), "wb");
  if (!s) {
    show_message("Can't open '%.950s'", name.c_str());
    return false;
  }
  data_printf(s, "%d %f %f %f\n", t.n, (double)t.spacing, (double)lowest, (double)highest);
  bool written = data_flush(s) == 0;
  data_close(s);
  if (!written) return false;

  std::vector<uint16_t> samples(t.heights.size());
  const double range = (double)highest - (double)lowest;
  for (size_t i = 0; i < samples.size(); i++) {
    double v = range > 0 ? ((double)t.heights[i] - lowest) / range * 65535.0 : 0.0;
    samples[i] = (uint16_t)lround(v < 0 ? 0 : (v > 65535 ? 65535 : v));
  }
  name = track_file_name(track, "terrain.png");
  return write_grey16_png_file(name.c_str(), t.N, t.N, samples.data());
}
