// One frame of the 3-D view: projection, camera, light and fog, the sky box,
// the ground, the objects, the bikes, roost and the lens flares.
#include <algorithm>
#include <cmath>

#include "core/config.h"
#include "render/gl_ground.h"
#include "render/gl_probe.h"
#include "render/gl_scene.h"
#include "render/gl_shaders.h"
#include "render/gl_texture.h"
#include "render/render_stats.h"
#include "render/texture.h"
#include "track/track.h"

namespace {

constexpr float PI = 3.14159265358979f;

Vec3 normalised(Vec3 v) {
  float l = std::sqrt(dot(v, v));
  return l > 1e-12f ? v * (1.0f / l) : Vec3{0, 0, -1};
}

void set_projection(const Scene& s, float near_plane, float far_plane) {
  gl.MatrixMode(GL_PROJECTION);
  gl.LoadIdentity();
  // The field of view spans the window's wider side.
  float fov = std::clamp(s.camera.fov, 1.0f, 179.0f) * PI / 180.0f;
  double half = near_plane * std::tan(fov * 0.5);
  double aspect = s.height > 0 ? (double)s.width / s.height : 1.0;
  double x = aspect >= 1.0 ? half : half * aspect, y = aspect >= 1.0 ? half / aspect : half;
  gl.Frustum(-x, x, -y, y, near_plane, far_plane);
  gl.MatrixMode(GL_MODELVIEW);
}

void load_view(const SceneCamera& c, bool with_translation) {
  const float* r = c.world_to_eye;
  Vec3 e = with_translation ? c.eye : Vec3{0, 0, 0};
  const float m[16] = {r[0], r[3], r[6], 0, r[1], r[4], r[7], 0, r[2], r[5], r[8], 0,
                       -(r[0] * e.x + r[1] * e.y + r[2] * e.z), -(r[3] * e.x + r[4] * e.y + r[5] * e.z),
                       -(r[6] * e.x + r[7] * e.y + r[8] * e.z), 1};
  gl.MatrixMode(GL_MODELVIEW);
  gl.LoadMatrixf(m);
}

void set_light(const TrackLighting& l) {
  const float position[4] = {l.sun_vector.x, l.sun_vector.y, l.sun_vector.z, 0};
  const float diffuse[4] = {l.sun_colour.x, l.sun_colour.y, l.sun_colour.z, 1};
  g_scene_light = {{l.global_ambient.x, l.global_ambient.y, l.global_ambient.z, 1},
                   {l.ambient.x, l.ambient.y, l.ambient.z, 1}};
  gl.Lightfv(GL_LIGHT0, GL_POSITION, position);  // in eye space, through the view matrix
  gl.Lightfv(GL_LIGHT0, GL_DIFFUSE, diffuse);
  gl.Lightfv(GL_LIGHT0, GL_SPECULAR, diffuse);
  gl.Lightfv(GL_LIGHT0, GL_AMBIENT, g_scene_light.ambient);
  gl.LightModelfv(GL_LIGHT_MODEL_AMBIENT, g_scene_light.global_ambient);
  gl.LightModeli(GL_LIGHT_MODEL_LOCAL_VIEWER, GL_TRUE);
  gl.Enable(GL_LIGHT0);
  gl.Enable(GL_NORMALIZE);
}

void set_fog(const TrackLighting& l) {
  const float colour[4] = {l.fog_colour.x, l.fog_colour.y, l.fog_colour.z, 1};
  gl.Fogi(GL_FOG_MODE, GL_EXP);
  gl.Fogf(GL_FOG_DENSITY, l.fog_density);
  gl.Fogfv(GL_FOG_COLOR, colour);
  gl.Hint(GL_FOG_HINT, GL_NICEST);
  if (l.fog_density > 0) {
    gl.Enable(GL_FOG);
  } else {
    gl.Disable(GL_FOG);
  }
}

// The sky box around the eye: north at -Z, east at +X; each side face seen
// from inside with its top up (the next face clockwise on its right); the up
// face laid out like a map, north at its top edge and east on its right.
void draw_sky(const Scene& s, const TrackLighting& l) {
  bool any = false;
  for (Texture* t : l.sky) any = any || t;
  if (!any) return;
  load_view(s.camera, false);
  const float h = std::max(std::min(l.far_plane * 0.5f, 1000.0f) / 1.8f, l.near_plane * 2.0f);
  gl.Disable(GL_DEPTH_TEST);
  gl.DepthMask(GL_FALSE);
  gl.Disable(GL_LIGHTING);
  gl.Disable(GL_FOG);
  gl.Disable(GL_CULL_FACE);
  gl.Enable(GL_TEXTURE_2D);
  gl.Color4f(1, 1, 1, 1);
  // Corners of each face: bottom-left, bottom-right, top-right, top-left seen from inside.
  const float faces[SKY_FACES][4][3] = {
      {{-h, -h, -h}, {h, -h, -h}, {h, h, -h}, {-h, h, -h}},  // north (-Z)
      {{h, -h, -h}, {h, -h, h}, {h, h, h}, {h, h, -h}},      // east (+X)
      {{h, -h, h}, {-h, -h, h}, {-h, h, h}, {h, h, h}},      // south (+Z)
      {{-h, -h, h}, {-h, -h, -h}, {-h, h, -h}, {-h, h, h}},  // west (-X)
      {{-h, h, -h}, {h, h, -h}, {h, h, h}, {-h, h, h}},      // up: top edge north
  };
  const float uv[4][2] = {{0, 1}, {1, 1}, {1, 0}, {0, 0}};
  for (int f = 0; f < SKY_FACES; f++) {
    if (!l.sky[f]) continue;
    bind_texture(l.sky[f]);
    gl.Begin(GL_QUADS);
    for (int k = 0; k < 4; k++) {
      // The up face's corners run north-west, north-east, south-east, south-west.
      const int order = f == SKY_UP ? 3 - k : k;
      gl.TexCoord2f(uv[order][0], uv[order][1]);
      gl.Vertex3fv(faces[f][k]);
    }
    gl.End();
    g_render_stats.triangles += 2;
  }
  gl.DepthMask(GL_TRUE);
  gl.Enable(GL_DEPTH_TEST);
  gl.Enable(GL_CULL_FACE);
}

// Lens flares: elements spread along the line from the flare's point on the
// screen through the screen's centre (placement 0: where along it, 1 at the
// flare, 0 at the centre, negative beyond it; placement 1: how much the
// element grows as it nears the centre), each `size` high as a share of the
// screen's height, added to the picture, fading out towards the screen's
// edges and hidden when something stands in front of the flare.
void draw_flares(const Scene& s, const TrackLighting& l) {
  if (!g_render_settings.lens_flares || l.flares.empty()) return;
  const float* r = s.camera.world_to_eye;
  float proj[16];
  gl.GetFloatv(GL_PROJECTION_MATRIX, proj);
  for (const LensFlare& flare : l.flares) {
    Vec3 d = flare.is_direction ? normalised(flare.where) : flare.where - s.camera.eye;
    // Eye-space direction; behind the eye means no flare.
    float ex = r[0] * d.x + r[1] * d.y + r[2] * d.z, ey = r[3] * d.x + r[4] * d.y + r[5] * d.z,
          ez = r[6] * d.x + r[7] * d.y + r[8] * d.z;
    if (ez >= -1e-4f) continue;
    float sx = proj[0] * ex / -ez + proj[8], sy = proj[5] * ey / -ez + proj[9];
    if (std::fabs(sx) > 1.0f || std::fabs(sy) > 1.0f) continue;
    // Occlusion: the depth buffer at the flare's pixel must still be clear.
    int px = (int)((sx * 0.5f + 0.5f) * (float)s.width), py = (int)((sy * 0.5f + 0.5f) * (float)s.height);
    float depth = 0;
    gl.ReadPixels(std::clamp(px, 0, s.width - 1), std::clamp(py, 0, s.height - 1), 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT,
                  &depth);
    if (depth < 0.9999f) continue;
    float fade = 1.0f - std::max(std::fabs(sx), std::fabs(sy));
    gl.MatrixMode(GL_PROJECTION);
    gl.PushMatrix();
    gl.LoadIdentity();
    float aspect = s.height > 0 ? (float)s.width / (float)s.height : 1.0f;
    gl.Ortho(-aspect, aspect, -1, 1, -1, 1);
    gl.MatrixMode(GL_MODELVIEW);
    gl.PushMatrix();
    gl.LoadIdentity();
    gl.Disable(GL_DEPTH_TEST);
    gl.DepthMask(GL_FALSE);
    gl.Disable(GL_FOG);
    gl.Disable(GL_LIGHTING);
    gl.Enable(GL_BLEND);
    gl.BlendFunc(GL_SRC_ALPHA, GL_ONE);
    gl.Enable(GL_TEXTURE_2D);
    for (int k = 0; k < flare.element_count; k++) {
      const FlareElement& e = flare.elements[k];
      float t = e.placement[0];
      float cx = sx * aspect * t, cy = sy * t;
      float size = e.size * (1.0f + e.placement[1] * (1.0f - std::fabs(t)));
      bind_texture(e.texture);
      gl.Color4f(e.colour.x, e.colour.y, e.colour.z, std::clamp(fade * 2.0f, 0.0f, 1.0f));
      gl.Begin(GL_QUADS);
      gl.TexCoord2f(0, 1);
      gl.Vertex2f(cx - size, cy - size);
      gl.TexCoord2f(1, 1);
      gl.Vertex2f(cx + size, cy - size);
      gl.TexCoord2f(1, 0);
      gl.Vertex2f(cx + size, cy + size);
      gl.TexCoord2f(0, 0);
      gl.Vertex2f(cx - size, cy + size);
      gl.End();
    }
    gl.Disable(GL_BLEND);
    gl.DepthMask(GL_TRUE);
    gl.Enable(GL_DEPTH_TEST);
    gl.Color4f(1, 1, 1, 1);
    gl.MatrixMode(GL_PROJECTION);
    gl.PopMatrix();
    gl.MatrixMode(GL_MODELVIEW);
    gl.PopMatrix();
  }
}

}  // namespace

SceneCamera look_at(Vec3 eye, Vec3 target, float fov) {
  SceneCamera c{};
  c.eye = eye;
  c.fov = fov;
  Vec3 f = normalised(target - eye);
  Vec3 up = std::fabs(f.y) > 0.999f ? Vec3{0, 0, -1} : Vec3{0, 1, 0};
  Vec3 right = normalised(cross(f, up));
  Vec3 u = cross(right, f);
  const Vec3 rows[3] = {right, u, f * -1.0f};
  for (int i = 0; i < 3; i++) {
    c.world_to_eye[i * 3] = rows[i].x;
    c.world_to_eye[i * 3 + 1] = rows[i].y;
    c.world_to_eye[i * 3 + 2] = rows[i].z;
  }
  return c;
}

DrawCamera draw_camera(const SceneCamera& c) {
  DrawCamera d{};
  d.position = c.eye;
  std::copy(c.world_to_eye, c.world_to_eye + 9, d.world_to_eye);
  return d;
}

Billboarding billboarding(const SceneCamera& c) {
  const float* r = c.world_to_eye;
  return {{r[0], r[1], r[2]}, {r[3], r[4], r[5]}};
}

void object_matrix(const float rotation[9], Vec3 p, float out[16]) {
  for (int row = 0; row < 3; row++)
    for (int col = 0; col < 3; col++) out[col * 4 + row] = rotation[row * 3 + col];
  out[3] = out[7] = out[11] = 0;
  out[12] = p.x;
  out[13] = p.y;
  out[14] = p.z;
  out[15] = 1;
}

void render_scene(const Scene& s) {
  if (!gl.core) return;
  reset_render_stats();
  // A track load started a new generation: what this frame shows is looked
  // up again, and models nobody uses any more go.
  static int seen_generation = -1;
  if (texture_generation() != seen_generation) {
    refresh_bike_looks(s);
    purge_models(false);
    seen_generation = texture_generation();
  }
  update_animations(s.tick);
  const LoadedTrack* track = s.track && !s.track->name.empty() ? s.track : nullptr;
  const Terrain* terrain = track ? &track->terrain : nullptr;
  GroundFrame ground = {terrain, track ? &track->objects : nullptr, track ? &track->lighting : nullptr,
                        s.camera.eye, s.width, s.height};
  // Ground textures first: the copy method paints in the frame buffer.
  if (terrain) update_ground(ground);

  gl.Viewport(0, 0, s.width, s.height);
  gl.ClearColor(0.196078f, 0.6f, 0.8f, 0.0f);
  gl.DepthMask(GL_TRUE);
  gl.Clear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  if (!track) return;
  const TrackLighting& lighting = track->lighting;
  gl.Enable(GL_DEPTH_TEST);
  gl.DepthFunc(GL_LEQUAL);
  gl.Enable(GL_CULL_FACE);
  gl.CullFace(GL_BACK);
  gl.ShadeModel(g_render_settings.flat_shading ? GL_FLAT : GL_SMOOTH);
  set_projection(s, lighting.near_plane, lighting.far_plane);

  draw_sky(s, lighting);
  load_view(s.camera, true);
  set_light(lighting);
  set_fog(lighting);

  DrawCamera camera = draw_camera(s.camera);
  draw_ground(ground);
  draw_statues(s, camera);
  draw_bikes(s, camera);
  draw_billboards(s);
  draw_roost(s);
  draw_flares(s, lighting);

  gl.Disable(GL_FOG);
  gl.Disable(GL_LIGHTING);
  gl.Disable(GL_TEXTURE_2D);
  use_program(PROGRAM_FIXED);
}
