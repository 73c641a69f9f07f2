// Shared set-up of the track fuzz targets: no data directories to search,
// no loading screen, no textures, a small flat field to place objects on.
#pragma once

#include <memory>

#include "core/datafile.h"
#include "track/loading.h"
#include "track/terrain.h"

inline void quiet_track_fuzzing() {
  static bool done = false;
  if (done) return;
  done = true;
  set_search_directories({"/nonexistent/dv-fuzz"});
  g_draw_loading_screen = nullptr;
}

inline const Terrain& fuzz_ground() {
  static std::unique_ptr<Terrain> terrain;
  if (!terrain) {
    terrain = std::make_unique<Terrain>();
    init_flat_terrain(terrain.get(), 3, 2.0f, 1.0f);
    for (size_t i = 0; i < terrain->heights.size(); i++) terrain->heights[i] = (float)(i % 7);
  }
  return *terrain;
}
