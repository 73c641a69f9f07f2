// The "lighting" file, then shading baked from whatever it produced.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "fuzz/fuzz_track_common.h"
#include "track/lighting.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quiet_track_fuzzing();
  static std::unique_ptr<Terrain> t;
  if (!t) {
    t = std::make_unique<Terrain>();
    init_flat_terrain(t.get(), 1, 1.0f, 0.0f);
    for (size_t i = 0; i < t->heights.size(); i++) t->heights[i] = (float)(i % 3);
    build_normal_map(t.get());
  }
  static TrackLighting light;
  DataStream* s = data_open_memory(data, size);
  read_lighting_stream(&light, s, false);
  data_close(s);
  if (!(light.near_plane >= MIN_NEAR_PLANE && light.near_plane <= MAX_NEAR_PLANE)) __builtin_trap();
  if (!(light.far_plane >= light.near_plane && light.far_plane <= MAX_FAR_PLANE)) __builtin_trap();
  for (const LensFlare& flare : light.flares)
    if (flare.element_count < 0 || flare.element_count > MAX_FLARE_ELEMENTS) __builtin_trap();
  recompute_shading(t.get(), light, 0, 0, t->N - 1, t->N - 1);
  return 0;
}
