// The J6/J7 reader, and the writer on what it read: decoding the written
// bytes must give the same picture back.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <unistd.h>

#include "core/datafile.h"
#include "render/image.h"

namespace {
std::string scratch_file() {
  char name[64];
  snprintf(name, sizeof name, "/tmp/dv_fuzz_j_%d.j", int(getpid()));
  return name;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  g_image_max_pixels = 1 << 18;
  static const std::string file = scratch_file();
  DataStream* stream = data_open_memory(data, size);
  Image image;
  bool ok = read_j_image(stream, &image);
  data_close(stream);
  if (!ok) return 0;
  if (image.pixels.size() != size_t(image.width) * image.height * image.channels) __builtin_trap();

  if (!write_j_image_file(file.c_str(), image)) __builtin_trap();
  DataStream* again = data_open(file.c_str(), "rb");
  Image reread;
  if (!again || !read_j_image(again, &reread) || reread.pixels != image.pixels) __builtin_trap();
  data_close(again);

  Image custom = image;
  if (extract_custom_mipmaps(&custom) && custom.levels != full_chain_levels(custom.width, custom.height))
    __builtin_trap();
  generate_mipmaps(&image, false);
  return 0;
}
