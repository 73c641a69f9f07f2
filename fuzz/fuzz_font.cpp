// The font reader. The input gets a correct checksum appended first, so the
// fuzzer reaches the structural checks behind it instead of stopping at the
// checksum; what reads must write back to the same bytes, and laying text
// out over its glyphs must stay inside them.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/datafile.h"
#include "render/font.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  uint32_t crc = uint32_t(crc32(0L, bytes.data(), uInt(bytes.size())));
  for (int i = 0; i < 4; i++) bytes.push_back(uint8_t(crc >> (8 * i)));
  DataStream* stream = data_open_memory(bytes.data(), bytes.size());
  Font font;
  bool ok = read_font(stream, "fuzz", &font);
  data_close(stream);
  if (!ok) return 0;
  std::vector<uint8_t> again;
  std::string error;
  if (!encode_font(font, &again, &error)) __builtin_trap();
  Font back;
  stream = data_open_memory(again.data(), again.size());
  if (!read_font(stream, "fuzz", &back)) __builtin_trap();
  data_close(stream);
  if (back.glyphs.size() != font.glyphs.size() || back.atlas.pixels != font.atlas.pixels) __builtin_trap();
  // Every glyph's box lies in the atlas, so drawing it reads only pixels that exist.
  for (const FontGlyph& g : font.glyphs)
    if (g.x + g.width > font.atlas.width || g.y + g.height > font.atlas.height) __builtin_trap();
  const char* sample = "The quick brown fox \xC3\xA9\xE2\x82\xAC\xFF";
  (void)font_text_width(font, sample);
  (void)font_text_width(font, reinterpret_cast<const char*>(data), size < 64 ? size : 64);
  return 0;
}
