// PPM and PGM, binary and text, through every entry point that reads them,
// then the pixel work a texture goes through.
#include <cstddef>
#include <cstdint>

#include "core/datafile.h"
#include "render/image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  g_image_max_pixels = 1 << 20;
  bool (*readers[])(DataStream*, Image*) = {read_ppm, read_pgm, read_rgb_image};
  for (auto reader : readers) {
    DataStream* stream = data_open_memory(data, size);
    Image image;
    bool ok = reader(stream, &image);
    data_close(stream);
    if (!ok) continue;
    if (image.pixels.size() != size_t(image.width) * image.height * image.channels) __builtin_trap();
    resample_to_power_of_two(&image);
    generate_mipmaps(&image, true);
    reduce_detail(&image, 4);
  }
  return 0;
}
