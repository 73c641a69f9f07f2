// "terrain.hf": header and inline heights, then queries over the result.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "fuzz/fuzz_track_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quiet_track_fuzzing();
  // Large exponents are valid (a flat field when no PNG is found) but take
  // a gigabyte per input; the parser paths they exercise are the same.
  g_terrain_max_exponent = 8;
  static std::unique_ptr<Terrain> t = std::make_unique<Terrain>();
  DataStream* s = data_open_memory(data, size);
  bool ok = read_height_field_stream(t.get(), s, "fuzz/terrain.hf", "fuzz", 0);
  data_close(s);
  if (!ok) {
    if (!t->heights.empty()) __builtin_trap();
    return 0;
  }
  if (t->heights.size() != (size_t)t->N * (size_t)t->N) __builtin_trap();
  volatile float h = height_at(*t, 0.3f * t->width, 0.7f * t->width) + height_at(*t, -1e30f, 1e30f);
  Vec3 normal = vertex_normal(*t, t->N / 2, t->N - 1);
  (void)h;
  (void)normal;
  return 0;
}
