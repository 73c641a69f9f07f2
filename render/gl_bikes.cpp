// Bikes and riders, drawn from their bodies' poses each frame: every part's
// model at its body (the wheels spin because their bodies do), the rider's
// head and skinned body posed from the figure points, the number plates with
// the rider's number, the roost the wheels throw, and a lap's ghost drawn
// see-through.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <string>

#include "bike/bike.h"
#include "bike/roost.h"
#include "render/gl_scene.h"
#include "render/gl_texture.h"
#include "render/render_stats.h"
#include "render/rider_pose.h"
#include "render/texture.h"
#include "track/track.h"

namespace {

// What one bike looks like: its models and textures, looked up again after
// every track load (the caches may have dropped what an older load used).
struct BikeLook {
  int generation = -1;
  std::string key;  // model, textures and number it was made for
  Model* frame = nullptr;
  Model* fork_upper = nullptr;
  Model* fork_lower = nullptr;
  Model* swingarm = nullptr;
  Model* wheel[2] = {nullptr, nullptr};
  Model* head = nullptr;
  Model* body = nullptr;
  Model* body_first_person = nullptr;
  Model* side_plates = nullptr;
  Model* front_plate = nullptr;
  Model* rider_plate = nullptr;
  Texture* bike_texture = nullptr;
  Texture* wheel_texture = nullptr;
  Texture* head_texture = nullptr;
  Texture* rider_texture = nullptr;
  Texture* plate = nullptr;  // the number, ours
};

std::map<const Bike*, BikeLook> g_looks;

// Seven-segment digits for the plates: segments a..g per digit.
const uint8_t SEGMENTS[10] = {0x3f, 0x06, 0x5b, 0x4f, 0x66, 0x6d, 0x7d, 0x07, 0x7f, 0x6f};

// A 128 x 64 plate: white ground, the number in black bars.
Texture* make_plate(const char* number) {
  const int W = 128, H = 64;
  Image image;
  init_image(&image, W, H, 3);
  std::fill(image.pixels.begin(), image.pixels.end(), 245);
  int digits = 0;
  for (const char* p = number; *p && digits < 4; p++) digits += *p >= '0' && *p <= '9';
  if (digits > 0) {
    const int cell = W / std::max(digits, 2), w = cell * 7 / 10, h = H * 8 / 10, t = std::max(w / 5, 2);
    int x0 = (W - cell * digits) / 2 + (cell - w) / 2, y0 = (H - h) / 2, index = 0;
    auto bar = [&](int x, int y, int bw, int bh) {
      for (int yy = std::max(y, 0); yy < std::min(y + bh, H); yy++)
        for (int xx = std::max(x, 0); xx < std::min(x + bw, W); xx++) {
          uint8_t* px = &image.pixels[((size_t)yy * W + xx) * 3];
          px[0] = px[1] = px[2] = 20;
        }
    };
    for (const char* p = number; *p && index < digits; p++) {
      if (*p < '0' || *p > '9') continue;
      uint8_t s = SEGMENTS[*p - '0'];
      int x = x0 + index * cell, half = h / 2;
      // Rows run top to bottom in the image.
      if (s & 0x01) bar(x, y0, w, t);                     // a: top
      if (s & 0x02) bar(x + w - t, y0, t, half);          // b: upper right
      if (s & 0x04) bar(x + w - t, y0 + half, t, half);   // c: lower right
      if (s & 0x08) bar(x, y0 + h - t, w, t);             // d: bottom
      if (s & 0x10) bar(x, y0 + half, t, half);           // e: lower left
      if (s & 0x20) bar(x, y0, t, half);                  // f: upper left
      if (s & 0x40) bar(x, y0 + half - t / 2, w, t);      // g: middle
      index++;
    }
  }
  return create_texture(image, 0);
}

const char* chosen(const char* own, const char* fallback) { return own && own[0] ? own : fallback; }

BikeLook& look_of(const Bike& b) {
  BikeLook& look = g_looks[&b];
  const BikeModel& m = b.model;
  std::string key = std::string(m.name) + "|" + b.bike_texture + "|" + b.wheel_texture + "|" + b.rider_texture + "|" +
                    b.head_texture + "|" + b.number;
  if (look.generation == texture_generation() && look.key == key) return look;
  Texture* old_plate = look.key == key ? look.plate : nullptr;
  if (look.plate && !old_plate) destroy_texture(look.plate);
  look = BikeLook{};
  look.generation = texture_generation();
  look.key = key;
  auto model = [&](int file) { return load_model(m.files[file]); };
  look.frame = model(FILE_FRAME_MODEL);
  look.fork_upper = model(FILE_FORK_UPPER_MODEL);
  look.fork_lower = model(FILE_FORK_LOWER_MODEL);
  look.swingarm = model(FILE_SWINGARM_MODEL);
  look.wheel[WHEEL_FRONT] = model(FILE_FRONT_WHEEL_MODEL);
  look.wheel[WHEEL_REAR] = model(FILE_REAR_WHEEL_MODEL);
  look.head = model(FILE_RIDER_HEAD_MODEL);
  look.body = model(FILE_RIDER_BODY_MODEL);
  look.body_first_person = model(FILE_RIDER_BODY_FP_MODEL);
  look.side_plates = model(FILE_SIDE_PLATES_MODEL);
  look.front_plate = model(FILE_FRONT_PLATE_MODEL);
  look.rider_plate = model(FILE_RIDER_PLATE_MODEL);
  look.bike_texture = load_texture(chosen(b.bike_texture, m.files[FILE_BIKE_TEXTURE]));
  look.wheel_texture = load_texture(chosen(b.wheel_texture, m.files[FILE_WHEEL_TEXTURE]));
  look.head_texture = load_texture(chosen(b.head_texture, m.files[FILE_RIDER_HEAD_TEXTURE]));
  look.rider_texture = load_texture(chosen(b.rider_texture, m.files[FILE_RIDER_BODY_TEXTURE]));
  look.plate = old_plate ? old_plate : make_plate(b.number);
  return look;
}

BodyTransform body_transform(const Bike& b, int body) {
  BodyTransform t{};
  const dReal* p = dBodyGetPosition(b.body[body]);
  const dReal* r = dBodyGetRotation(b.body[body]);
  for (int row = 0; row < 3; row++)
    for (int col = 0; col < 3; col++) t.rotation[row * 3 + col] = (float)r[row * 4 + col];
  t.position = {(float)p[0], (float)p[1], (float)p[2]};
  return t;
}

void draw_part(const Model* model, const BodyTransform& t, const DrawCamera& camera, const Texture* texture,
               const BoneSet* bones, const Texture* environment) {
  if (!model) return;
  float m[16];
  object_matrix(t.rotation, t.position, m);
  draw_model_lit(*model, m, camera, bones, {texture, nullptr, nullptr});
  if (g_render_settings.reflections && model->reflective) draw_model_reflective(*model, m, camera, bones, environment);
}

void draw_bike(const SceneBike& sb, const DrawCamera& camera, const Texture* environment) {
  const Bike& b = *sb.bike;
  BikeLook& look = look_of(b);
  BodyTransform frame = body_transform(b, BODY_FRAME), fork_upper = body_transform(b, BODY_FORK_UPPER);
  BodyTransform rider = body_transform(b, BODY_RIDER);
  draw_part(look.frame, frame, camera, look.bike_texture, nullptr, environment);
  draw_part(look.side_plates, frame, camera, look.plate, nullptr, environment);
  draw_part(look.fork_upper, fork_upper, camera, look.bike_texture, nullptr, environment);
  draw_part(look.front_plate, fork_upper, camera, look.plate, nullptr, environment);
  draw_part(look.fork_lower, body_transform(b, BODY_FORK_LOWER), camera, look.bike_texture, nullptr, environment);
  draw_part(look.swingarm, body_transform(b, BODY_SWINGARM), camera, look.bike_texture, nullptr, environment);
  draw_part(look.wheel[WHEEL_FRONT], body_transform(b, BODY_FRONT_WHEEL), camera, look.wheel_texture, nullptr,
            environment);
  draw_part(look.wheel[WHEEL_REAR], body_transform(b, BODY_REAR_WHEEL), camera, look.wheel_texture, nullptr,
            environment);

  // The rider: from inside in the first-person view (no head, the body
  // made for that view, or nothing with "Hide 1st Person Rider").
  if (sb.first_person && g_render_settings.hide_rider) return;
  RiderPoseInput in = {&b.model, frame, fork_upper, rider, b.rider_attached};
  RiderBones bones;
  RiderJoints joints;
  pose_rider(in, &bones, &joints);
  BoneSet set = {RIDER_BONES, bones.centres, bones.translations, bones.rotations};
  const Model* body = sb.first_person && look.body_first_person ? look.body_first_person : look.body;
  draw_part(body, rider, camera, look.rider_texture, &set, environment);
  if (!sb.first_person) {
    draw_part(look.head, rider, camera, look.head_texture, nullptr, environment);
    draw_part(look.rider_plate, rider, camera, look.plate, nullptr, environment);
  }
}

}  // namespace

float ghost_opacity(float distance, float fade_distance) {
  const float SEE_THROUGH = 0.45f;
  if (!(fade_distance > 0)) return SEE_THROUGH;
  float t = (distance - 0.5f * fade_distance) / (0.5f * fade_distance);
  return SEE_THROUGH * std::clamp(t, 0.0f, 1.0f);
}

void draw_bikes(const Scene& s, const DrawCamera& camera) {
  const Texture* environment = s.track ? s.track->lighting.environment : nullptr;
  for (const SceneBike& sb : s.bikes)
    if (sb.bike && sb.opacity >= 1.0f) draw_bike(sb, camera, environment);
  // Ghosts after the solid bikes, blended by a constant alpha so every pass
  // of the model drawing (lit, unlit, reflective, either pipeline) fades
  // alike; they still write depth, so a ghost shows only its near side.
  bool blending = false;
  for (const SceneBike& sb : s.bikes) {
    if (!sb.bike || sb.opacity >= 1.0f || !(sb.opacity > 0.0f)) continue;
    if (!blending) {
      gl.Enable(GL_BLEND);
      gl.BlendFunc(GL_CONSTANT_ALPHA, GL_ONE_MINUS_CONSTANT_ALPHA);
      blending = true;
    }
    gl.BlendColor(0, 0, 0, sb.opacity);
    draw_bike(sb, camera, environment);
  }
  if (blending) {
    gl.Disable(GL_BLEND);
    gl.BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    gl.BlendColor(0, 0, 0, 0);
  }
  // Bikes that are gone take their plates with them.
  for (auto it = g_looks.begin(); it != g_looks.end();) {
    bool shown = std::any_of(s.bikes.begin(), s.bikes.end(), [&](const SceneBike& sb) { return sb.bike == it->first; });
    if (shown) {
      ++it;
      continue;
    }
    destroy_texture(it->second.plate);
    it = g_looks.erase(it);
  }
}

void refresh_bike_looks(const Scene& s) {
  for (const SceneBike& sb : s.bikes)
    if (sb.bike) look_of(*sb.bike);
}

void draw_roost(const Scene& s) {
  if (!s.roost || s.roost->live == 0) return;
  const RoostRing& ring = *s.roost;
  Billboarding axes = billboarding(s.camera);
  gl.Disable(GL_LIGHTING);
  gl.Disable(GL_CULL_FACE);
  gl.Enable(GL_TEXTURE_2D);
  gl.Enable(GL_BLEND);
  gl.BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  gl.DepthMask(GL_FALSE);
  const Texture* bound = reinterpret_cast<const Texture*>(1);
  bool open = false;
  for (int i = 0; i < ROOST_RING_SIZE; i++) {
    const RoostParticle& p = ring.particle[i];
    if (p.mode == 0 || p.size <= 0) continue;
    if (p.texture != bound) {
      if (open) gl.End();
      bind_texture(p.texture);
      bound = p.texture;
      gl.Begin(GL_QUADS);
      open = true;
    }
    Vec3 r = axes.right * (p.size * 0.5f), u = axes.up * (p.size * 0.5f * (p.vscale > 0 ? p.vscale : 1.0f));
    gl.Color4ub(p.color[0], p.color[1], p.color[2], p.color[3]);
    const Vec3 c = p.position;
    const Vec3 corners[4] = {c - r - u, c + r - u, c + r + u, c - r + u};
    const float uv[4][2] = {{0, 1}, {1, 1}, {1, 0}, {0, 0}};
    for (int k = 0; k < 4; k++) {
      gl.TexCoord2f(uv[k][0], uv[k][1]);
      gl.Vertex3f(corners[k].x, corners[k].y, corners[k].z);
    }
    g_render_stats.triangles += 2;
  }
  if (open) gl.End();
  gl.DepthMask(GL_TRUE);
  gl.Disable(GL_BLEND);
  gl.Enable(GL_CULL_FACE);
  gl.Color4f(1, 1, 1, 1);
}

void free_bike_drawing() {
  for (auto& [bike, look] : g_looks) destroy_texture(look.plate);
  g_looks.clear();
}
