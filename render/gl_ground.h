// The ground on the GL: preparing a loaded field (method, low-detail
// textures, node errors), painting its textures by one of the three methods
// (software with sub-image uploads, GPU with a frame-buffer copy, GPU into a
// framebuffer object) with the shader path's normal and specular companions,
// the per-frame update schedule, and drawing the level-of-detail fans.
#pragma once

#include "core/types.h"

struct Terrain;
struct TrackObjects;
struct TrackLighting;

struct GroundSettings {
  int method = 3;            // GroundMethod chosen ("Terrain Rendering Method")
  bool shader_choice = false;  // a "Shaders/..." choice with shader programs active
  int texture_size = 128;    // "Ground Texture Resolution"
  int first_level = 1;       // "ground_texture_detail": detail levels below are not painted
  double detail = 0.02;      // "--detail": node errors' g
  bool mipmaps = true;       // "Enable Ground Mipmaps"
  int verbosity = 0;
};
extern GroundSettings g_ground_settings;

// The method the GL can paint with for a wanted one (3 without framebuffer
// objects, or when making one fails, becomes 1), as the loader should load
// tiles for it.
int ground_method_available(int wanted);

// Track-load hooks (TrackHooks): the field's errors and state; the decals'
// index. Textures are made on the first frame that draws the field.
bool prepare_ground(Terrain* terrain, int method, bool shader_path);
void index_ground_decals(const TrackObjects& objects);
// Deformation changed cells [c0, c1] x [r0, r1]: errors, painted textures
// and the low-detail textures there are refreshed.
void ground_changed(const Terrain& terrain, int c0, int r0, int c1, int r1);

struct GroundFrame {
  const Terrain* terrain;
  const TrackObjects* objects;
  const TrackLighting* lighting;
  Vec3 camera;
  int window_width, window_height;  // the copy method paints in the frame buffer's corner
};

// Before the frame's own drawing (it uses the viewport and frame buffer):
// errors within the budget, scrolling, and the textures due this frame.
void update_ground(const GroundFrame& frame);
// Draws the fans with the camera's view already set.
void draw_ground(const GroundFrame& frame);
void free_ground();

// Read-outs for tests and the statistics.
int ground_method_in_use();
int ground_texture_size_in_use();
bool ground_shader_path_in_use();
int painted_ground_texture_count();
