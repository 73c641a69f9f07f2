// The renderer joined to the game: its settings from the configuration and
// the command line, the render hooks (start-up on the new context, one frame
// of the view, shutdown) and the track's model and ground hooks.
#include <cmath>

#include "bike/roost.h"
#include "core/command_line.h"
#include "core/config.h"
#include "core/game_hooks.h"
#include "core/main_loop.h"
#include "core/message.h"
#include "render/gl_ground.h"
#include "render/model.h"
#include "render/renderer.h"
#include "track/assets.h"
#include "track/track.h"

namespace {

GlProcLookup g_lookup = nullptr;

// From the configuration and the command line, as start-up left them.
void read_game_settings() {
  RenderSettings& r = g_render_settings;
  const RenderParameters& p = g_run_options.render;
  r.use_shaders = g_config.use_shader != CHOICE_NO;
  r.terrain_choice = g_config.render_texture;
  r.ground_texture_size = p.ground_texture_size;
  r.ground_texture_level = p.ground_texture_level;
  r.detail_factor = p.detail_factor;
  r.ground_mipmaps = p.mipmaps;
  r.lod_scale = p.lod_scale;
  r.lod_bias = p.lod_bias;
  r.texture_level = p.texture_level;
  r.texture_compress = p.texture_compression;
  r.reflections = p.reflections;
  r.lens_flares = g_config.lens_flare != CHOICE_NO;
  r.hide_rider = g_config.hide_rider == CHOICE_YES;
  r.immediate_mode = g_run_options.no_vertex_arrays;
  r.flat_shading = g_run_options.flat_shading;
  r.first_person_height = (float)g_config.first_person_height;
  r.first_person_angle = (float)g_config.first_person_angle;
  r.verbosity = g_run_options.debug_level;
}

// --- the game's hooks ----------------------------------------------------------------

void start_gl_hook() {
  read_game_settings();
  if (!start_renderer(g_lookup)) show_message("Can't start the renderer: no usable OpenGL");
}

void draw_view_hook(const ViewSetup& view) {
  Scene scene{};
  scene.track = g_track.name.empty() ? nullptr : &g_track;
  scene.width = view.width;
  scene.height = view.height;
  scene.roost = &g_roost;
  scene.seconds = g_game_clock;
  RaceState race = {};
  race.gate_drop_tick = -1;
  if (g_game_hooks.race.state) g_game_hooks.race.state(&race);
  scene.tick = race.tick ? race.tick : g_main_loop.race_steps;
  scene.gate_drop_tick = race.gate_drop_tick;
  const Bike* viewed = nullptr;
  if (g_game_hooks.race.bike && g_game_hooks.race.bike_body) {
    // Ghosts fade by their distance from the player's bike (or, without
    // one, from the camera).
    BikeView player;
    Vec3 near_to = view.eye;
    if (race.player_slot >= 0 && race.player_slot < MAX_BIKES && g_game_hooks.race.bike(race.player_slot, &player))
      near_to = player.position;
    for (int slot = 0; slot < MAX_BIKES; slot++) {
      BikeView bv{};
      if (!g_game_hooks.race.bike(slot, &bv)) continue;
      const Bike* b = g_game_hooks.race.bike_body(slot);
      if (!b) continue;
      bool fp = view.mode == VIEW_FIRST_PERSON && slot == view.viewed_slot;
      if (fp) viewed = b;
      SceneBike sb = {b, bv.gate, fp};
      if (bv.ghost && !fp) sb.opacity = ghost_opacity(std::sqrt(dot(bv.position - near_to, bv.position - near_to)), (float)g_config.ghost_fade_distance);
      scene.bikes.push_back(sb);
    }
  }
  if (view.mode == VIEW_FIRST_PERSON && viewed) {
    scene.camera = first_person_camera(*viewed, view.fov);
  } else {
    Vec3 eye = view.eye, target = view.target;
    if (view.mode == VIEW_MENU_SCREEN || (eye.x == target.x && eye.y == target.y && eye.z == target.z)) {
      // Nothing to look at yet: over the middle of the field, looking across it.
      float w = scene.track ? scene.track->terrain.width : 100.0f;
      float h = scene.track ? height_at(scene.track->terrain, w * 0.5f, w * 0.5f) : 0.0f;
      eye = {w * 0.5f, h + 30.0f, w * 0.75f};
      target = {w * 0.5f, h, w * 0.5f};
    }
    scene.camera = look_at(eye, target, view.fov);
  }
  render_scene(scene);
}

void free_hook() { free_renderer(); }

Model* track_model(const char* name) { return renderer_started() ? load_model(name) : nullptr; }

bool prepare_ground_hook(Terrain* terrain, int method, bool shader_path) {
  return prepare_ground(terrain, method, shader_path);
}

}  // namespace

void install_renderer(GlProcLookup lookup) {
  g_lookup = lookup;
  RenderHooks& render = g_game_hooks.render;
  render.start_gl = start_gl_hook;
  render.draw_view = draw_view_hook;
  render.free = free_hook;
  g_track_hooks.load_model = track_model;
  g_track_hooks.prepare_ground = prepare_ground_hook;
  g_track_hooks.index_decals = index_ground_decals;
  g_track_hooks.ground_changed = ground_changed;
}
