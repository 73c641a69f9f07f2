// ".seq" animations read into the texture cache through the recording
// backend, then played and purged.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/datafile.h"
#include "render/texture.h"
#include "render/texture_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  g_image_max_pixels = 1 << 18;
  g_texture_recorder.max_records = 0;
  // The word "ANIM1" is what sends a file here; the fuzzer supplies the rest.
  DataStream* stream = data_open_memory(data, size);
  Texture* texture = load_animation(stream, "@fuzz.seq", 0);
  data_close(stream);
  if (texture) {
    start_animation(texture, 3);
    for (int64_t tick = 0; tick < 64; tick += 7) update_animations(tick);
    pause_animation(texture);
    update_animations(1000);
    // The animation's texture is not in the cache, so a purge frees the
    // animation; the texture itself is ours to destroy afterwards.
    purge_textures(false);
    destroy_texture(texture);
  }
  if (!g_texture_recorder.live.empty()) __builtin_trap();
  return 0;
}
