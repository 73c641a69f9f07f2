// What the renderer did in the frame just drawn: the render statistics
// display (subsystem 10) and the frame benchmark read these.
#pragma once

#include <cstdint>

struct RenderStats {
  uint64_t triangles;         // every triangle handed to the GL: ground, models, sprites
  uint64_t vertices;
  int ground_nodes;           // terrain fans drawn
  int painted_textures;       // ground textures painted (detail levels and the coarse layer)
  int models;                 // model draws (one per level chosen)
  int decals_painted;
};

extern RenderStats g_render_stats;

inline void reset_render_stats() { g_render_stats = RenderStats{}; }
