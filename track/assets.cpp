// The track's calls into the image and texture layer.
#include "track/assets.h"

#include <cstdio>
#include <cstring>

#include "core/datafile.h"
#include "render/image.h"
#include "render/texture.h"

TrackHooks g_track_hooks = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};

Texture* track_texture(const char* name) { return load_texture(name); }
Image* track_image(const char* name) { return load_image(name); }
unsigned long track_texture_memory() { return (unsigned long)texture_memory_used(); }
void reset_track_texture_memory() { reset_texture_memory(); }
void begin_track_texture_generation() { advance_texture_generation(); }
void purge_old_track_textures() { purge_textures(false); }

bool track_file_exists(const char* name) {
  DataStream* s = data_open(name, "rb");
  if (!s) return false;
  data_close(s);
  return true;
}

namespace {

void copy_image(const Image& from, PixelImage* to) {
  to->width = from.width;
  to->height = from.height;
  to->channels = from.channels;
  size_t base = (size_t)from.width * (size_t)from.height * (size_t)from.channels;
  to->pixels.assign(from.pixels.begin(), from.pixels.begin() + (ptrdiff_t)base);
}

template <typename Reader>
ImageFileResult read_image_file(const char* name, PixelImage* image, Reader reader) {
  DataStream* s = data_open(name, "rb");
  if (!s) return IMAGE_FILE_MISSING;
  Image read;
  bool ok = reader(s, &read);
  data_close(s);
  if (!ok || read.pixels.size() < (size_t)read.width * (size_t)read.height * (size_t)read.channels)
    return IMAGE_FILE_BAD;
  copy_image(read, image);
  return IMAGE_FILE_OK;
}

}  // namespace

ImageFileResult read_colour_image_file(const char* name, PixelImage* image) {
  return read_image_file(name, image, read_rgb_image);
}

ImageFileResult read_grey_image_file(const char* name, PixelImage* image) {
  return read_image_file(name, image, read_pgm);
}

bool read_grey16_png_file(const char* name, int* width, int* height, std::vector<uint16_t>* samples) {
  HeightImage image;
  if (!read_png_grey16_file(name, &image)) return false;
  if (image.samples.size() < (size_t)image.width * (size_t)image.height) return false;
  *width = image.width;
  *height = image.height;
  *samples = std::move(image.samples);
  return true;
}

bool write_grey16_png_file(const char* name, int width, int height, const uint16_t* samples) {
  return write_png_grey16_file(name, samples, width, height);
}

bool write_pgm_file(const char* name, int width, int height, const uint8_t* grey) {
  DataStream* s = data_open(name, "wb");
  if (!s) return false;
  data_printf(s, "P5\n%d %d\n255\n", width, height);
  size_t bytes = (size_t)width * (size_t)height;
  bool ok = data_write(s, grey, bytes) == bytes;
  ok = data_flush(s) == 0 && ok;
  data_close(s);
  return ok;
}
