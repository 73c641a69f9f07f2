// The object files of a track: the first byte picks "decals", "billboards",
// "statues", "flaggers" or "cameras", the rest is the file.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_track_common.h"
#include "track/objects.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quiet_track_fuzzing();
  if (size < 1) return 0;
  const Terrain& ground = fuzz_ground();
  TrackObjects objects;
  init_track_objects(&objects);
  ObjectLoadOptions options{};
  DataStream* s = data_open_memory(data + 1, size - 1);
  const int checkpoints = data[0] >> 3;  // 0 .. 31
  switch (data[0] % 5) {
    case 0:
      read_decals(&objects, s, options);
      break;
    case 1:
      read_billboards(&objects, ground, s, options);
      break;
    case 2:
      read_statues(&objects, ground, s, options);
      break;
    case 3:
      read_flaggers(&objects, ground, s, checkpoints, options);
      for (const Flagger& f : objects.flagger_set.flaggers)
        for (int g : f.gates)
          if (g < -1 || g > (checkpoints > 0 ? checkpoints - 1 : -1)) __builtin_trap();
      break;
    default:
      read_cameras(&objects, ground, s, options);
      for (int camera : objects.camera_for_gate)
        if (camera < -1 || camera > (int)objects.cameras.size()) __builtin_trap();
      break;
  }
  data_close(s);
  for (const Flagger& f : objects.flagger_set.flaggers)
    if (f.billboard < 0 || f.billboard >= (int)objects.billboards.size()) __builtin_trap();
  free_track_objects(&objects);
  return 0;
}
