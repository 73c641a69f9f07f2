// The "cameras" file: track-side cameras and the gates that switch to them.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/datafile.h"
#include "platform/log.h"
#include "track/objects.h"
#include "track/terrain.h"
#include "track/text_lines.h"

namespace {

constexpr float DEFAULT_FOV = 90.0f;

// "gate 3 7 12": each number maps that gate to the next camera added.
void map_gates(TrackObjects* o, const char* numbers) {
  const int next_camera = (int)o->cameras.size();
  const char* p = numbers;
  for (;;) {
    char* end = nullptr;
    errno = 0;
    long gate = strtol(p, &end, 10);
    if (end == p || errno != 0 || gate < 0 || gate >= CAMERA_GATE_ENTRIES) return;
    o->camera_for_gate[gate] = next_camera;
    p = end;
  }
}

}  // namespace

void read_cameras(TrackObjects* o, const Terrain& terrain, DataStream* s, const ObjectLoadOptions& options) {
  float fov = DEFAULT_FOV, auto_fov_size = 0.0f;
  char line[1024];
  while (read_text_line(s, line, sizeof line)) {
    char* keyword;
    char* argument;
    if (!split_keyword(line, " \t\r\n", &keyword, &argument)) continue;
    float x, y, z, value;
    if (strcmp(keyword, "addcamera") == 0) {
      if (sscanf(argument, "%f %f %f", &x, &y, &z) != 3) continue;
      o->cameras.push_back(TrackCamera{Vec3{x, height_at(terrain, x, z) + y, z}, fov, auto_fov_size});
      fov = DEFAULT_FOV;
      auto_fov_size = 0.0f;
    } else if (strcmp(keyword, "fov") == 0) {
      if (sscanf(argument, "%f", &value) == 1) fov = fabsf(value);
    } else if (strcmp(keyword, "autofovsize") == 0) {
      if (sscanf(argument, "%f", &value) == 1) auto_fov_size = fabsf(value);
    } else if (strcmp(keyword, "gate") == 0) {
      map_gates(o, argument);
    }
  }
  if (options.debug_level >= 1) log_printf("%d cameras found\n", (int)o->cameras.size());
}
