// PNG with its info text: the input is an info text, a zero byte, then the
// PNG file. The picture goes through the 8-bit and the 16-bit grey reader
// and, with the options of the combined info text, through the whole
// preparation and upload of a texture.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "core/datafile.h"
#include "render/texture.h"
#include "render/texture_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  g_image_max_pixels = 1 << 18;
  g_texture_recorder.max_records = 0;
  const uint8_t* zero = static_cast<const uint8_t*>(memchr(data, 0, size));
  size_t info_size = zero ? size_t(zero - data) : 0;
  const uint8_t* png = zero ? zero + 1 : data;
  size_t png_size = size - size_t(png - data);

  HeightImage heights;
  DataStream* stream = data_open_memory(png, png_size);
  if (read_png_grey16(stream, "fuzz", &heights) && heights.samples.size() != size_t(heights.width) * heights.height)
    __builtin_trap();
  data_close(stream);

  Image image;
  std::string info;
  stream = data_open_memory(png, png_size);
  bool ok = read_png(stream, "fuzz", &image, &info);
  data_close(stream);
  if (!ok) return 0;
  if (image.pixels.size() != size_t(image.width) * image.height * image.channels) __builtin_trap();
  info.append(reinterpret_cast<const char*>(data), info_size);
  g_texture_settings.detail = int(info.size() % 5);
  prepare_texture_image(&image, "fuzz", info_has_option(info, "[mip_max_alpha]"),
                        info_has_option(info, "[mip_custom]"), info_has_option(info, "[full]"));
  if (image.pixels.size() != chain_bytes(image.width, image.height, image.channels, image.levels)) __builtin_trap();
  Texture* texture = upload_texture(image, info_has_option(info, "[compress]") ? TEXTURE_COMPRESS : 0);
  destroy_texture(texture);
  if (!g_texture_recorder.live.empty()) __builtin_trap();
  return 0;
}
