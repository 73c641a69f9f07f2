// Starting the renderer on a new context and the first-person camera.
#include <cmath>
#include <cstring>

#include "bike/bike.h"
#include "platform/log.h"
#include "render/gl_ground.h"
#include "render/gl_model.h"
#include "render/gl_probe.h"
#include "render/gl_scene.h"
#include "render/gl_shaders.h"
#include "render/gl_texture.h"
#include "render/model.h"
#include "render/renderer.h"
#include "render/texture.h"
#include "track/track.h"

RenderSettings g_render_settings;

namespace {

bool g_started = false;
int g_ground_method = GROUND_DIRECT;

constexpr float PI = 3.14159265358979f;

// The eye in the rider body's frame: just in front of the face.
constexpr Vec3 FIRST_PERSON_EYE = {0.0f, 1.25f, -0.45f};

void apply_settings() {
  const RenderSettings& r = g_render_settings;
  g_model_settings.lod_scale = r.lod_scale;
  g_model_settings.lod_bias = r.lod_bias;
  g_model_settings.verbosity = r.verbosity;
  g_model_immediate_mode = r.immediate_mode;
  g_texture_settings.detail = r.texture_level;
  g_texture_settings.compress = r.texture_compress;
  g_texture_settings.verbosity = r.verbosity;
  g_ground_settings.method = ground_method_for_choice(r.terrain_choice);
  g_ground_settings.texture_size = r.ground_texture_size;
  g_ground_settings.first_level = r.ground_texture_level;
  g_ground_settings.detail = r.detail_factor;
  g_ground_settings.mipmaps = r.ground_mipmaps;
  g_ground_settings.verbosity = r.verbosity;
}

}  // namespace

bool start_renderer(GlProcLookup lookup) {
  g_started = false;
  apply_settings();
  if (!probe_gl(lookup)) return false;
  start_gl_textures();
  g_release_model_gpu = release_model_gpu;
  bool shaders = start_shader_programs(g_render_settings.use_shaders);
  log_printf("Shader programs %s\n", shaders ? "active" : "not active");
  g_ground_method = ground_method_available(g_ground_settings.method);
  g_ground_settings.shader_choice = shaders && shader_choice(g_render_settings.terrain_choice);
  g_started = true;
  return true;
}

void free_renderer() {
  free_ground();
  free_bike_drawing();
  if (g_started) {
    purge_models(true);
    // The texture cache goes while its textures can still be deleted on the GL.
    purge_textures(true);
    free_shaders();
    stop_gl_textures();
  }
  g_release_model_gpu = nullptr;
  g_started = false;
}

bool renderer_started() { return g_started; }
int renderer_ground_method() { return g_started ? g_ground_method : ground_method_for_choice(g_render_settings.terrain_choice); }
bool renderer_shader_choice() { return g_started && g_ground_settings.shader_choice; }

SceneCamera first_person_camera(const Bike& b, float fov) {
  SceneCamera c{};
  c.fov = fov;
  const dReal* p = dBodyGetPosition(b.body[BODY_RIDER]);
  const dReal* r = dBodyGetRotation(b.body[BODY_RIDER]);
  Vec3 local = FIRST_PERSON_EYE;
  local.y += g_render_settings.first_person_height;
  float R[9];
  for (int row = 0; row < 3; row++)
    for (int col = 0; col < 3; col++) R[row * 3 + col] = (float)r[row * 4 + col];
  c.eye = {R[0] * local.x + R[1] * local.y + R[2] * local.z + (float)p[0],
           R[3] * local.x + R[4] * local.y + R[5] * local.z + (float)p[1],
           R[6] * local.x + R[7] * local.y + R[8] * local.z + (float)p[2]};
  // The eye's axes are the rider's, tilted down about its right axis.
  float a = g_render_settings.first_person_angle * PI / 180.0f, ca = std::cos(a), sa = std::sin(a);
  Vec3 right = {R[0], R[3], R[6]}, up = {R[1], R[4], R[7]}, back = {R[2], R[5], R[8]};
  Vec3 tilted_up = up * ca - back * sa;
  Vec3 tilted_back = back * ca + up * sa;
  const Vec3 rows[3] = {right, tilted_up, tilted_back};
  for (int i = 0; i < 3; i++) {
    c.world_to_eye[i * 3] = rows[i].x;
    c.world_to_eye[i * 3 + 1] = rows[i].y;
    c.world_to_eye[i * 3 + 2] = rows[i].z;
  }
  return c;
}

