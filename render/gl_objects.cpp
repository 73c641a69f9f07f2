// The track's objects: statues and starting gates as models, billboards and
// flaggers as sprites that turn about the vertical to face the camera.
#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <vector>

#include "core/types.h"
#include "render/gl_scene.h"
#include "render/gl_texture.h"
#include "render/render_stats.h"
#include "render/texture.h"
#include "track/track.h"

namespace {

constexpr float PI = 3.14159265358979f;
// A dropped gate swings flat in this long.
constexpr double GATE_FALL_SECONDS = 0.25;
// Flags wave, and the starter's boards change, this often.
constexpr double FLAG_PERIOD = 0.25;

void draw_statue(const Statue& statue, const DrawCamera& camera, const TrackLighting& lighting, float fall) {
  if (!statue.model) return;
  if (statue.size > 0) {
    // A size value means: seen only within that distance.
    Vec3 d = statue.position - camera.position;
    if (dot(d, d) > statue.size * statue.size) return;
  }
  float rotation[9];
  std::copy(statue.rotation, statue.rotation + 9, rotation);
  if (fall != 0) {
    // Forward over its foot: the top goes towards the object's -Z.
    float c = std::cos(fall), s = std::sin(fall);
    const float tilt[9] = {1, 0, 0, 0, c, s, 0, -s, c};  // about X by -fall, row-major
    for (int row = 0; row < 3; row++)
      for (int col = 0; col < 3; col++) {
        float sum = 0;
        for (int k = 0; k < 3; k++) sum += statue.rotation[row * 3 + k] * tilt[k * 3 + col];
        rotation[row * 3 + col] = sum;
      }
  }
  float m[16];
  object_matrix(rotation, statue.position, m);
  draw_model_lit(*statue.model, m, camera, nullptr, {statue.texture, statue.normal_texture, statue.specular_texture});
  if (g_render_settings.reflections && statue.model->reflective)
    draw_model_reflective(*statue.model, m, camera, nullptr, lighting.environment);
}

struct Sprite {
  const Billboard* billboard;
  const Texture* texture;
  float distance;
};

// The flaggers' textures this frame, by billboard index.
void flagger_textures(const Scene& s, const FlaggerSet& set, std::unordered_map<int, const Texture*>* out) {
  if (!set.present) return;
  const long step = (long)std::floor(s.seconds / FLAG_PERIOD);
  bool dropped = s.gate_drop_tick >= 0 && s.tick >= s.gate_drop_tick;
  (*out)[set.first_billboard] = dropped ? set.first_textures[1 + (int)(step % 4)] : set.first_textures[0];
  if (set.second_billboard >= 0) (*out)[set.second_billboard] = set.second_textures[(step / 2) % 4];
  for (const Flagger& f : set.flaggers) {
    bool waving = false;
    for (const SceneBike& b : s.bikes)
      for (int g : f.gates) waving = waving || (g >= 0 && b.gate == g);
    (*out)[f.billboard] = f.textures[waving ? (int)(step % 2) : 0];
  }
}

}  // namespace

void draw_statues(const Scene& s, const DrawCamera& camera) {
  const TrackObjects& o = s.track->objects;
  const TrackLighting& l = s.track->lighting;
  for (const Statue& statue : o.statues) draw_statue(statue, camera, l, 0);
  float fall = 0;
  if (s.gate_drop_tick >= 0 && s.tick >= s.gate_drop_tick) {
    double t = (double)(s.tick - s.gate_drop_tick) * TICK_SECONDS / GATE_FALL_SECONDS;
    fall = (float)std::min(t, 1.0) * PI * 0.5f;
  }
  for (const Statue& gate : o.start_gates) draw_statue(gate, camera, l, fall);
}

void draw_billboards(const Scene& s) {
  const TrackObjects& o = s.track->objects;
  if (o.billboards.empty()) return;
  std::unordered_map<int, const Texture*> flags;
  flagger_textures(s, o.flagger_set, &flags);
  std::vector<Sprite> sprites;
  sprites.reserve(o.billboards.size());
  for (size_t i = 0; i < o.billboards.size(); i++) {
    const Billboard& b = o.billboards[i];
    bool pool = o.billboard_pool_first >= 0 && (int)i >= o.billboard_pool_first;
    // Unused markers of the run-time pool wait at the origin.
    if (pool && b.position.x == 0 && b.position.z == 0) continue;
    if (b.width <= 0 || b.height <= 0 || b.colour[3] == 0) continue;
    auto f = flags.find((int)i);
    const Texture* texture = f != flags.end() ? f->second : b.texture;
    Vec3 d = b.position - s.camera.eye;
    sprites.push_back({&b, texture, dot(d, d)});
  }
  // Far to near, for the blending.
  std::sort(sprites.begin(), sprites.end(), [](const Sprite& a, const Sprite& b) { return a.distance > b.distance; });
  Billboarding axes = billboarding(s.camera);
  Vec3 right = {axes.right.x, 0, axes.right.z};
  float rl = std::sqrt(dot(right, right));
  right = rl > 1e-6f ? right * (1.0f / rl) : Vec3{1, 0, 0};
  gl.Disable(GL_LIGHTING);
  gl.Disable(GL_CULL_FACE);
  gl.Enable(GL_TEXTURE_2D);
  gl.Enable(GL_BLEND);
  gl.BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  gl.Enable(GL_ALPHA_TEST);
  gl.AlphaFunc(GL_GREATER, 0.5f);
  const Texture* bound = reinterpret_cast<const Texture*>(1);
  bool open = false;
  for (const Sprite& sp : sprites) {
    if (sp.texture != bound) {
      if (open) gl.End();
      bind_texture(sp.texture);
      bound = sp.texture;
      gl.Begin(GL_QUADS);
      open = true;
    }
    const Billboard& b = *sp.billboard;
    Vec3 half = right * (b.width * 0.5f), p = b.position;
    gl.Color4ub(b.colour[0], b.colour[1], b.colour[2], b.colour[3]);
    gl.TexCoord2f(0, 1);
    gl.Vertex3f(p.x - half.x, p.y, p.z - half.z);
    gl.TexCoord2f(1, 1);
    gl.Vertex3f(p.x + half.x, p.y, p.z + half.z);
    gl.TexCoord2f(1, 0);
    gl.Vertex3f(p.x + half.x, p.y + b.height, p.z + half.z);
    gl.TexCoord2f(0, 0);
    gl.Vertex3f(p.x - half.x, p.y + b.height, p.z - half.z);
    g_render_stats.triangles += 2;
  }
  if (open) gl.End();
  gl.Disable(GL_ALPHA_TEST);
  gl.Disable(GL_BLEND);
  gl.Enable(GL_CULL_FACE);
  gl.Color4f(1, 1, 1, 1);
}
