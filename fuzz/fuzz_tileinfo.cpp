// The "tileinfo" grammar with its roost words, then the look-ups over the
// tiles it made and a tile map read from the same bytes.
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
  read_tileinfo(t.get(), s, TileLoadOptions{false, false});
  data_close(s);
  if (t->tile_count < 1 || t->tile_count > MAX_TILES) __builtin_trap();
  for (int i = 0; i < t->tile_count; i++) {
    volatile float f = friction_at(t->tiles[i], 3.0f) + rolling_resistance_at(t->tiles[i], 7.0f, 0.5f);
    (void)f;
  }
  s = data_open_memory(data, size);
  if (read_tile_map_stream(t.get(), s))
    for (uint8_t b : t->tile_map)
      if (b >= t->tile_count) __builtin_trap();
  data_close(s);
  return 0;
}
