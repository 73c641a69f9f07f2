// The older one-line-per-tile "texturelist".
#include <cstddef>
#include <cstdint>
#include <memory>

#include "fuzz/fuzz_track_common.h"
#include "track/tiles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quiet_track_fuzzing();
  static std::unique_ptr<Terrain> t = std::make_unique<Terrain>();
  init_flat_terrain(t.get(), 2, 1.0f, 0.0f);
  DataStream* s = data_open_memory(data, size);
  read_texturelist(t.get(), s, TileLoadOptions{false, false});
  data_close(s);
  if (t->tile_count < 1 || t->tile_count > MAX_TILES) __builtin_trap();
  for (int i = 0; i < t->tile_count; i++) {
    int32_t code = t->tiles[i].blend_code;
    if ((code >> 16) >= t->tile_count || ((code >> 8) & 0xff) >= t->tile_count) __builtin_trap();
  }
  return 0;
}
