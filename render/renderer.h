// The renderer: start-up on a fresh GL context (probe, shaders, texture
// uploads, ground method), the settings it draws with, and one frame of the
// 3-D view: projection and camera, light and fog, the sky box, the ground,
// the track's objects (statues, starting gates, billboards, flaggers), the
// bikes with their riders, roost and lens flares. The game joins it to the
// main loop through install_renderer() (the render section of g_game_hooks
// and the track's model and ground hooks).
#pragma once

#include <cstdint>
#include <vector>

#include "core/types.h"
#include "render/gl_api.h"

struct Bike;
struct LoadedTrack;
struct RoostRing;

struct RenderSettings {
  bool use_shaders = true;       // "Use Shader Programs"
  int terrain_choice = 2;        // "Terrain Rendering Method" choice, 0..4
  int ground_texture_size = 128; // "Ground Texture Resolution"
  int ground_texture_level = 1;  // painted detail levels start here
  double detail_factor = 0.02;   // "--detail"
  bool ground_mipmaps = true;
  double lod_scale = 1.0, lod_bias = 0.0;
  int texture_level = 0;         // model texture detail reduction
  int texture_compress = 1;
  bool reflections = true;
  bool lens_flares = true;
  bool hide_rider = false;       // "Hide 1st Person Rider"
  bool immediate_mode = false;   // "--no-vertex-arrays"
  bool flat_shading = false;     // "--fugly"
  float first_person_height = 0; // eye above the rider's head
  float first_person_angle = 0;  // degrees of downward tilt
  int verbosity = 0;
};
extern RenderSettings g_render_settings;

// The GL context exists: probes it, decides the shader programs and the
// ground method, and routes texture uploads to the GPU. False without a
// usable GL (everything then draws nothing).
bool start_renderer(GlProcLookup lookup);
void free_renderer();
bool renderer_started();
// The ground method the GL can paint with for the settings' choice, and
// whether the shader ground is asked for: what track loads pass on.
int renderer_ground_method();
bool renderer_shader_choice();

// One frame's camera: the eye and the rotation that turns world directions
// into the eye's frame (rows: right, up, back), and the field of view across
// the window's wider side.
struct SceneCamera {
  Vec3 eye;
  float world_to_eye[9];
  float fov;
};
// A camera at `eye` looking at `target` with +Y up (a straight-down look
// takes -Z as up).
SceneCamera look_at(Vec3 eye, Vec3 target, float fov);

struct SceneBike {
  const Bike* bike;
  int gate;          // timing gate passed last, -1 before the first
  bool first_person; // the bike the first-person view rides: its own rider is drawn from inside
  float opacity = 1.0f;  // below 1 the bike is a see-through ghost; 0 draws nothing
};

// How solid a ghost bike is drawn `distance` feet from the player's bike:
// at its full see-through opacity from `fade_distance` out, fading to
// nothing at half that distance so it never hides the track close ahead.
// A fade distance of 0 never fades.
float ghost_opacity(float distance, float fade_distance);

struct Scene {
  const LoadedTrack* track;  // null: only the sky colour
  int width, height;
  SceneCamera camera;
  std::vector<SceneBike> bikes;
  const RoostRing* roost;  // may be null
  double seconds;          // game clock, for the flaggers' and gates' motion
  int64_t tick;            // simulation steps, for texture animations
  int64_t gate_drop_tick;  // < 0: the gates stand
};

// Draws the frame (clearing it first). Texture painting for the ground
// happens first and uses the frame buffer's corner.
void render_scene(const Scene& scene);

// The first-person camera of a bike: at the rider's eyes, looking along the
// frame's heading, tilted down by the setting.
SceneCamera first_person_camera(const Bike& bike, float fov);

// Joins the renderer to the game: the render hooks and the track's model and
// ground hooks. `lookup` fetches GL entry points once the context exists.
void install_renderer(GlProcLookup lookup);
