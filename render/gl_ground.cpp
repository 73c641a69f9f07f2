#include "render/gl_ground.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/datafile.h"
#include "core/message.h"
#include "platform/log.h"
#include "render/gl_api.h"
#include "render/gl_probe.h"
#include "render/gl_shaders.h"
#include "render/gl_texture.h"
#include "render/ground_lod.h"
#include "render/ground_paint.h"
#include "render/render_stats.h"
#include "render/texture.h"
#include "track/deform.h"
#include "track/lighting.h"
#include "track/objects.h"
#include "track/terrain.h"

GroundSettings g_ground_settings;

namespace {

struct TileCompanions {
  Texture* normal = nullptr;
  Texture* specular = nullptr;
};

struct Ground {
  // The field this state belongs to; a new load or a freed field replaces it.
  const Terrain* terrain = nullptr;
  const float* heights = nullptr;
  int N = 0;
  int method = GROUND_DIRECT;
  bool shader_choice = false;
  bool shader_path = false;
  int size = 128;
  bool built = false;           // textures made (first frame)
  bool coarse_complete = false; // the whole coarse layer painted once
  bool workaround = false;      // decals in pieces for one driver's big-quad bug
  GroundLod lod;
  GroundLayout layout;
  DecalIndex decals;
  const TrackObjects* objects = nullptr;
  int low_count = 0;
  std::vector<Texture*> low;  // low_count^2
  std::vector<TileCompanions> tiles;
  GLuint framebuffer = 0;
  std::vector<GroundFan> fans;
  int64_t seen_modifications = 0;  // the field's modification count last followed
};

Ground g_ground;
bool g_workaround_logged = false;

const char* method_text(int method) {
  switch (method) {
    case GROUND_SOFTWARE:
      return "Terrain texture rendering with TexSubImage";
    case GROUND_COPY:
      return "Terrain texture rendering with CopyTexSubImage";
    case GROUND_DIRECT:
      return "Terrain texture rendering with framebuffer objects";
    default:
      return nullptr;
  }
}

void destroy_textures() {
  Ground& g = g_ground;
  auto drop = [](Texture*& t) {
    destroy_texture(t);
    t = nullptr;
  };
  for (PaintedTexture& t : g.layout.coarse) {
    drop(t.texture);
    drop(t.normal);
    drop(t.specular);
  }
  for (auto& level : g.layout.detail)
    for (PaintedTexture& t : level) {
      drop(t.texture);
      drop(t.normal);
      drop(t.specular);
    }
  for (Texture*& t : g.low) drop(t);
  g.low.clear();
  if (g.framebuffer && gl.framebuffer) gl.DeleteFramebuffersEXT(1, &g.framebuffer);
  g.framebuffer = 0;
  g.built = false;
}

bool same_field(const Terrain* t) {
  return t && t == g_ground.terrain && t->heights.data() == g_ground.heights && t->N == g_ground.N;
}

// --- texture making ------------------------------------------------------------------

Texture* make_painted(int size, bool mipmaps) {
  Image blank;
  init_image(&blank, size, size, 3);
  unsigned flags = mipmaps ? 0u : (unsigned)TEXTURE_NO_MIPMAPS;
  Texture* t = create_texture(blank, flags);
  // The GPU methods change level 0 only; the GL keeps the chain in step.
  if (t && mipmaps && g_ground.method == GROUND_COPY && g_gl_info.generate_mipmap) {
    gl.BindTexture(GL_TEXTURE_2D, t->handle);
    gl.TexParameteri(GL_TEXTURE_2D, GL_GENERATE_MIPMAP_SGIS, GL_TRUE);
  }
  return t;
}

void make_slot(PaintedTexture* p) {
  Ground& g = g_ground;
  bool mipmaps = g_ground_settings.mipmaps && (g.method != GROUND_COPY || g_gl_info.generate_mipmap);
  if (!p->texture) p->texture = make_painted(g.size, mipmaps);
  if (g.shader_path) {
    if (!p->normal) p->normal = make_painted(g.size, mipmaps);
    if (!p->specular) p->specular = make_painted(g.size, mipmaps);
  }
}

void build_low_detail(const Terrain& t) {
  Ground& g = g_ground;
  g.low_count = low_detail_count(t.n);
  g.low.assign((size_t)g.low_count * g.low_count, nullptr);
  if (g.method == GROUND_SOFTWARE) return;  // the software painter reads the shading itself
  if (g_ground_settings.verbosity >= 1)
    log_printf("%dx%d low detail textures needed for %dx%d field\n", g.low_count, g.low_count, t.N, t.N);
  for (int j = 0; j < g.low_count; j++)
    for (int i = 0; i < g.low_count; i++) {
      Image image;
      fill_low_detail(t, i, j, g.shader_path, &image);
      g.low[(size_t)(j * g.low_count + i)] = create_texture_without_mipmaps(image, 0);
    }
}

Texture* companion(const Texture* base, const char* suffix) {
  if (!base || base->name.empty()) return nullptr;
  std::string name = base->name;
  size_t dot = name.rfind('.');
  size_t slash = name.rfind('/');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) name.resize(dot);
  for (const char* ext : {".png", ".ppm"}) {
    std::string candidate = name + suffix + ext;
    DataStream* s = data_open(candidate.c_str(), "rb");
    if (!s) continue;
    data_close(s);
    return load_texture(candidate.c_str());
  }
  return nullptr;
}

void build(const GroundFrame& f) {
  Ground& g = g_ground;
  const Terrain& t = *f.terrain;
  destroy_textures();
  g.objects = f.objects;
  g.shader_path = g.shader_choice && shaders_active() && f.lighting && f.lighting->dynamic_lighting &&
                  g.method != GROUND_SOFTWARE && !t.normal_map.empty();
  int size = std::clamp(next_power_of_two(std::max(g_ground_settings.texture_size, 8)), 8, 2048);
  if (g.method != GROUND_DIRECT) size = std::min(size, 256);
  // The copy method paints in the frame buffer's corner, which must hold it.
  if (g.method == GROUND_COPY) {
    while (size > 8 && (size > f.window_width || size > f.window_height)) size /= 2;
  }
  g.size = size;
  if (g.method == GROUND_DIRECT) {
    gl.GenFramebuffersEXT(1, &g.framebuffer);
    if (!g.framebuffer) {
      show_message("%s", method_text(GROUND_SOFTWARE));
      g.method = GROUND_SOFTWARE;
    }
  }
  g.workaround = g_gl_info.renderer.find("ATI Radeon X1270") != std::string::npos;
  if (g.workaround && !g_workaround_logged) {
    log_printf("Working around ATI Radeon X1270 bug\n");
    g_workaround_logged = true;
  }
  init_ground_layout(&g.layout, t.n, g_ground_settings.first_level);
  for (PaintedTexture& p : g.layout.coarse) make_slot(&p);
  for (int l = g.layout.first_level; l < DETAIL_LEVELS; l++)
    for (PaintedTexture& p : g.layout.detail[l]) make_slot(&p);
  build_low_detail(t);
  g.tiles.assign((size_t)t.tile_count, {});
  if (g.shader_path) {
    for (int i = 0; i < t.tile_count; i++) {
      g.tiles[(size_t)i].normal = companion(t.tiles[i].texture, "_tnorm");
      g.tiles[(size_t)i].specular = companion(t.tiles[i].texture, "_tspec");
    }
  }
  if (f.objects && g.decals.side == 0) build_decal_index(&g.decals, f.objects->decals, t);
  g.built = true;
  g.coarse_complete = false;
}

// --- GPU painting -----------------------------------------------------------------------

// Region corners in the painting projection: (-1 .. 1) covers the texture.
struct Region {
  int tx0, tz0, tiles;
  float to_screen(float tile, int origin) const { return -1.0f + 2.0f * (tile - (float)origin) / (float)tiles; }
};

void quad(float x0, float y0, float x1, float y1, float u0, float v0, float u1, float v1) {
  gl.TexCoord2f(u0, v0);
  gl.Vertex3f(x0, y0, -1);
  gl.TexCoord2f(u1, v0);
  gl.Vertex3f(x1, y0, -1);
  gl.TexCoord2f(u1, v1);
  gl.Vertex3f(x1, y1, -1);
  gl.TexCoord2f(u0, v1);
  gl.Vertex3f(x0, y1, -1);
}

// One quad per tile of the region, grouped by tile type; `texture_of` picks
// the tile's texture for this pass (colour, normal or specular).
template <typename Pick>
void draw_tiles(const Terrain& t, const Region& r, Pick texture_of) {
  std::vector<std::vector<int>> by_type((size_t)std::max(t.tile_count, 1));
  const int tps = t.tiles_per_side;
  for (int z = r.tz0; z < r.tz0 + r.tiles; z++)
    for (int x = r.tx0; x < r.tx0 + r.tiles; x++) {
      int cx = std::clamp(x, 0, tps - 1), cz = std::clamp(z, 0, tps - 1);
      int type = t.tile_map.empty() ? 0 : t.tile_map[(size_t)cz * tps + cx];
      if (type >= t.tile_count) type = 0;
      by_type[(size_t)type].push_back(x + (z << 16) - (r.tx0 + (r.tz0 << 16)));
    }
  const float m0 = TILE_MARGIN, m1 = 1.0f - TILE_MARGIN;
  for (size_t type = 0; type < by_type.size(); type++) {
    if (by_type[type].empty()) continue;
    const Texture* texture = texture_of((int)type);
    if (!texture) continue;
    bind_texture(texture);
    gl.Begin(GL_QUADS);
    for (int packed : by_type[type]) {
      int dx = packed & 0xffff, dz = packed >> 16;
      float x0 = r.to_screen((float)(r.tx0 + dx), r.tx0), x1 = r.to_screen((float)(r.tx0 + dx + 1), r.tx0);
      float y0 = r.to_screen((float)(r.tz0 + dz), r.tz0), y1 = r.to_screen((float)(r.tz0 + dz + 1), r.tz0);
      quad(x0, y0, x1, y1, m0, m0, m1, m1);
    }
    gl.End();
  }
}

template <typename Pick>
void draw_decals(const Terrain& t, const Region& r, Pick texture_of) {
  if (!g_ground.objects) return;
  const std::vector<Decal>& decals = g_ground.objects->decals;
  std::vector<int> found;
  decals_in_region(g_ground.decals, decals, t, r.tx0, r.tz0, r.tiles, &found);
  const float tile_world = 2.0f * t.spacing;
  for (int k : found) {
    const Decal& d = decals[(size_t)k];
    const Texture* texture = texture_of(d);
    if (!texture) continue;
    bind_texture(texture);
    float c[4][2];
    decal_corners(d, c);
    const int m = decal_pieces(d.width, g_ground.workaround);
    auto corner = [&](float u, float v, float out[2]) {
      // Bilinear across the rectangle, then into the painting's screen.
      for (int a = 0; a < 2; a++) {
        float bottom = c[0][a] + (c[1][a] - c[0][a]) * u, top = c[3][a] + (c[2][a] - c[3][a]) * u;
        out[a] = bottom + (top - bottom) * v;
      }
      out[0] = r.to_screen(out[0] / tile_world, r.tx0);
      out[1] = r.to_screen(out[1] / tile_world, r.tz0);
    };
    gl.Begin(GL_QUADS);
    for (int pv = 0; pv < m; pv++)
      for (int pu = 0; pu < m; pu++) {
        float u0 = (float)pu / m, u1 = (float)(pu + 1) / m, v0 = (float)pv / m, v1 = (float)(pv + 1) / m;
        float p[4][2];
        corner(u0, v0, p[0]);
        corner(u1, v0, p[1]);
        corner(u1, v1, p[2]);
        corner(u0, v1, p[3]);
        const float uv[4][2] = {{u0, v0}, {u1, v0}, {u1, v1}, {u0, v1}};
        for (int q = 0; q < 4; q++) {
          gl.TexCoord2f(uv[q][0], uv[q][1]);
          gl.Vertex3f(p[q][0], p[q][1], -1);
        }
      }
    gl.End();
    g_render_stats.decals_painted++;
  }
}

// The low-detail texture over the region, texel centres on the vertices.
void draw_low_detail(const Terrain& t, const Region& r) {
  Ground& g = g_ground;
  int v0 = 2 * r.tx0, w0 = 2 * r.tz0, v1 = 2 * (r.tx0 + r.tiles), w1 = 2 * (r.tz0 + r.tiles);
  int i = low_detail_for(t.n, v0, v1), j = low_detail_for(t.n, w0, w1);
  Texture* low = g.low.empty() ? nullptr : g.low[(size_t)(j * g.low_count + i)];
  if (!low) return;
  float su = (float)low_detail_size(t.n, i), sv = (float)low_detail_size(t.n, j);
  float ox = (float)low_detail_origin(i), oz = (float)low_detail_origin(j);
  bind_texture(low);
  gl.Begin(GL_QUADS);
  quad(-1, -1, 1, 1, ((float)v0 - ox + 0.5f) / su, ((float)w0 - oz + 0.5f) / sv, ((float)v1 - ox + 0.5f) / su,
       ((float)w1 - oz + 0.5f) / sv);
  gl.End();
}

// Texture matrix 1 for the normal programs: painting-space vertex -> base texture coordinates.
void set_base_matrix(const Terrain& t, const Region& r, const Texture** base) {
  Ground& g = g_ground;
  int v0 = 2 * r.tx0, w0 = 2 * r.tz0;
  int i = low_detail_for(t.n, v0, 2 * (r.tx0 + r.tiles)), j = low_detail_for(t.n, w0, 2 * (r.tz0 + r.tiles));
  *base = g.low.empty() ? nullptr : g.low[(size_t)(j * g.low_count + i)];
  float su = (float)low_detail_size(t.n, i), sv = (float)low_detail_size(t.n, j);
  float ox = (float)low_detail_origin(i), oz = (float)low_detail_origin(j);
  // x in -1..1 spans 2 * tiles vertices from v0.
  float ax = (float)r.tiles / su, bx = ((float)v0 + (float)r.tiles - ox + 0.5f) / su;
  float az = (float)r.tiles / sv, bz = ((float)w0 + (float)r.tiles - oz + 0.5f) / sv;
  const float m[16] = {ax, 0, 0, 0, 0, az, 0, 0, 0, 0, 1, 0, bx, bz, 0, 1};
  gl.ActiveTextureARB(GL_TEXTURE1_ARB);
  gl.MatrixMode(GL_TEXTURE);
  gl.LoadMatrixf(m);
  bind_texture(*base);
  gl.Enable(GL_TEXTURE_2D);
  gl.ActiveTextureARB(GL_TEXTURE0_ARB);
  gl.MatrixMode(GL_MODELVIEW);
}

void clear_base_matrix() {
  gl.ActiveTextureARB(GL_TEXTURE1_ARB);
  gl.MatrixMode(GL_TEXTURE);
  gl.LoadIdentity();
  gl.Disable(GL_TEXTURE_2D);
  gl.BindTexture(GL_TEXTURE_2D, 0);
  gl.ActiveTextureARB(GL_TEXTURE0_ARB);
  gl.MatrixMode(GL_MODELVIEW);
}

enum PaintPass { PASS_COLOUR, PASS_NORMAL, PASS_SPECULAR };

void paint_pass(const Terrain& t, const Region& r, PaintPass pass) {
  Ground& g = g_ground;
  gl.ClearColor(0, 0, 0, 1);
  gl.Clear(GL_COLOR_BUFFER_BIT);
  gl.Disable(GL_BLEND);
  if (pass == PASS_COLOUR) {
    draw_tiles(t, r, [&](int type) -> const Texture* { return t.tiles[type].texture; });
    gl.Enable(GL_BLEND);
    gl.BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    draw_decals(t, r, [](const Decal& d) -> const Texture* { return d.texture; });
    if (!g.shader_path) {
      // 2 x texture x shading: destination times source, twice.
      gl.BlendFunc(GL_DST_COLOR, GL_SRC_COLOR);
      draw_low_detail(t, r);
    }
  } else if (pass == PASS_NORMAL) {
    draw_low_detail(t, r);  // the terrain's own normals and light factor
    const Texture* base = nullptr;
    set_base_matrix(t, r, &base);
    use_program(PROGRAM_TERRAIN_NORMALS);
    gl.Enable(GL_BLEND);
    gl.BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    draw_tiles(t, r, [&](int type) -> const Texture* { return g.tiles[(size_t)type].normal; });
    draw_decals(t, r, [](const Decal& d) -> const Texture* { return d.normal_texture; });
    use_program(PROGRAM_FIXED);
    clear_base_matrix();
  } else {
    draw_tiles(t, r, [&](int type) -> const Texture* { return g.tiles[(size_t)type].specular; });
    gl.Enable(GL_BLEND);
    gl.BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    draw_decals(t, r, [](const Decal& d) -> const Texture* { return d.specular_texture; });
  }
  gl.Disable(GL_BLEND);
}

// Paints one target texture through the frame buffer or the framebuffer object.
void paint_target(const Terrain& t, const Region& r, PaintPass pass, Texture* target) {
  Ground& g = g_ground;
  if (!target) return;
  if (g.method == GROUND_DIRECT) {
    gl.BindFramebufferEXT(GL_FRAMEBUFFER_EXT, g.framebuffer);
    gl.FramebufferTexture2DEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_TEXTURE_2D, target->handle, 0);
    GLenum status = gl.CheckFramebufferStatusEXT(GL_FRAMEBUFFER_EXT);
    if (status != GL_FRAMEBUFFER_COMPLETE_EXT) {
      show_message("Framebuffer error %x", status);
      gl.BindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
      return;
    }
  }
  paint_pass(t, r, pass);
  bind_texture(target);
  if (g.method == GROUND_COPY) {
    gl.CopyTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 0, 0, g.size, g.size);
  } else {
    gl.BindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
    if (target->levels > 1 && gl.framebuffer) gl.GenerateMipmapEXT(GL_TEXTURE_2D);
  }
}

void begin_painting() {
  gl.Viewport(0, 0, g_ground.size, g_ground.size);
  gl.MatrixMode(GL_PROJECTION);
  gl.PushMatrix();
  gl.LoadIdentity();
  gl.Frustum(-0.5, 0.5, -0.5, 0.5, 0.5, 2);
  gl.MatrixMode(GL_MODELVIEW);
  gl.PushMatrix();
  gl.LoadIdentity();
  gl.Disable(GL_DEPTH_TEST);
  gl.DepthMask(GL_FALSE);
  gl.Disable(GL_LIGHTING);
  gl.Disable(GL_FOG);
  gl.Disable(GL_CULL_FACE);
  gl.Disable(GL_ALPHA_TEST);
  gl.Enable(GL_TEXTURE_2D);
  gl.TexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
  gl.Color4f(1, 1, 1, 1);
}

void end_painting(const GroundFrame& f) {
  gl.DepthMask(GL_TRUE);
  gl.Enable(GL_DEPTH_TEST);
  gl.Enable(GL_CULL_FACE);
  gl.MatrixMode(GL_PROJECTION);
  gl.PopMatrix();
  gl.MatrixMode(GL_MODELVIEW);
  gl.PopMatrix();
  gl.Viewport(0, 0, f.window_width, f.window_height);
}

void paint(const Terrain& t, PaintedTexture* p) {
  Ground& g = g_ground;
  if (!p->texture) return;
  if (g.method == GROUND_SOFTWARE) {
    Image image;
    static const std::vector<Decal> no_decals;
    paint_ground_software(t, g.objects ? g.objects->decals : no_decals, g.decals, p->tile_x, p->tile_z, p->tiles,
                          g.size, &image);
    if (p->texture->levels > 1) generate_mipmaps(&image, false);
    update_texture(p->texture, image);
  } else {
    Region r = {p->tile_x, p->tile_z, p->tiles};
    paint_target(t, r, PASS_COLOUR, p->texture);
    if (g.shader_path) {
      paint_target(t, r, PASS_NORMAL, p->normal);
      paint_target(t, r, PASS_SPECULAR, p->specular);
    }
  }
  p->valid = true;
  p->dirty = false;
  g_render_stats.painted_textures++;
}

}  // namespace

int ground_method_available(int wanted) {
  int method = usable_ground_method(g_gl_info, wanted);
  if (method == GROUND_DIRECT && gl.framebuffer) {
    // Some drivers list the extension yet refuse to make one.
    GLuint probe = 0;
    gl.GenFramebuffersEXT(1, &probe);
    if (!probe) method = GROUND_SOFTWARE;
    if (probe) gl.DeleteFramebuffersEXT(1, &probe);
  }
  return method;
}

bool prepare_ground(Terrain* terrain, int method, bool shader_path) {
  free_ground();
  Ground& g = g_ground;
  const char* text = method_text(method);
  if (!text) {
    show_message("Something went wrong setting up terrain texture rendering!");
    method = GROUND_SOFTWARE;
    text = method_text(method);
  }
  log_printf("%s\n", text);
  g.terrain = terrain;
  g.seen_modifications = terrain->modification_count;
  g.heights = terrain->heights.data();
  g.N = terrain->N;
  g.method = method;
  g.shader_choice = shader_path;
  init_ground_lod(&g.lod, *terrain, g_ground_settings.detail);
  update_ground_errors(&g.lod, *terrain, -1);
  return true;
}

void index_ground_decals(const TrackObjects& objects) {
  if (!g_ground.terrain) return;
  g_ground.objects = &objects;
  build_decal_index(&g_ground.decals, objects.decals, *g_ground.terrain);
}

namespace {

// Errors and painted textures over the cells; the low-detail textures that
// overlap them are flagged in *low_due (refilled once however many changed
// regions they overlap).
void mark_changed(const Terrain& t, TerrainRegion c, std::vector<char>* low_due) {
  Ground& g = g_ground;
  mark_ground_errors_dirty(&g.lod, c.c0, c.r0, c.c1, c.r1);
  if (!g.built) return;
  mark_ground_textures_dirty(&g.layout, c.c0, c.r0, c.c1, c.r1);
  low_due->resize((size_t)(g.low_count * g.low_count), 0);
  for (int j = 0; j < g.low_count; j++)
    for (int i = 0; i < g.low_count; i++) {
      int ox = low_detail_origin(i), oz = low_detail_origin(j);
      if (c.c1 < ox || c.c0 >= ox + low_detail_size(t.n, i) || c.r1 < oz || c.r0 >= oz + low_detail_size(t.n, j))
        continue;
      (*low_due)[(size_t)(j * g.low_count + i)] = 1;
    }
}

void refill_low_detail(const Terrain& t, const std::vector<char>& low_due) {
  Ground& g = g_ground;
  for (int j = 0; j < g.low_count; j++)
    for (int i = 0; i < g.low_count; i++) {
      size_t k = (size_t)(j * g.low_count + i);
      if (k >= low_due.size() || !low_due[k] || k >= g.low.size() || !g.low[k]) continue;
      Image image;
      fill_low_detail(t, i, j, g.shader_path, &image);
      update_texture(g.low[k], image);
    }
}

// What deformation changed since the last frame, by the change record's
// 128-cell blocks: a frame refreshes each block and each low-detail texture
// once, however many strokes fell there.
void follow_deformation(const Terrain& t) {
  Ground& g = g_ground;
  if (t.modification_count == g.seen_modifications) return;
  std::vector<int> blocks((size_t)std::max(t.change_blocks_per_side * t.change_blocks_per_side, 1));
  int n = changed_blocks_since(t, g.seen_modifications, blocks.data(), (int)blocks.size());
  g.seen_modifications = t.modification_count;
  std::vector<char> low_due;
  for (int k = 0; k < n && k < (int)blocks.size(); k++) {
    const int per_side = t.change_blocks_per_side;
    TerrainRegion r = change_block_region(t, blocks[(size_t)k] % per_side, blocks[(size_t)k] / per_side);
    if (!region_empty(r)) mark_changed(t, r, &low_due);
  }
  refill_low_detail(t, low_due);
}

}  // namespace

void ground_changed(const Terrain& t, int c0, int r0, int c1, int r1) {
  if (!same_field(&t)) return;
  std::vector<char> low_due;
  mark_changed(t, TerrainRegion{c0, r0, c1, r1}, &low_due);
  refill_low_detail(t, low_due);
}

void update_ground(const GroundFrame& f) {
  Ground& g = g_ground;
  if (!f.terrain || !same_field(f.terrain)) return;
  const Terrain& t = *f.terrain;
  if (!g.built) build(f);
  follow_deformation(t);
  update_ground_errors(&g.lod, t, ground_error_budget(g.lod));
  const float tile = 0.5f / t.spacing;
  scroll_detail_windows(&g.layout, f.camera.x * tile, f.camera.z * tile);
  bool gpu = g.method != GROUND_SOFTWARE;
  bool any = false;
  auto start = [&]() {
    if (gpu && !any) begin_painting();
    any = true;
  };
  // The first frame of a field paints its whole coarse layer; afterwards the
  // layer takes one texture per frame, the one dirty longest.
  if (!g.coarse_complete) {
    for (PaintedTexture& p : g.layout.coarse) {
      start();
      paint(t, &p);
    }
    g.coarse_complete = true;
  } else if (PaintedTexture* p = oldest_dirty_coarse(&g.layout)) {
    start();
    paint(t, p);
  }
  for (int l = g.layout.first_level; l < DETAIL_LEVELS; l++)
    for (PaintedTexture& p : g.layout.detail[l]) {
      if (!p.dirty) continue;
      start();
      paint(t, &p);
    }
  if (gpu && any) end_painting(f);
}

void draw_ground(const GroundFrame& f) {
  Ground& g = g_ground;
  if (!f.terrain || !same_field(f.terrain) || !g.built) return;
  const Terrain& t = *f.terrain;
  mark_split_nodes(&g.lod, t, f.camera.x, f.camera.z);
  collect_ground_fans(g.lod, &g.fans);

  // Fans grouped by the texture they use, as plain triangles.
  struct Batch {
    std::vector<float> xyz, uv;
  };
  std::unordered_map<const PaintedTexture*, Batch> batches;
  const float s = t.spacing;
  for (const GroundFan& fan : g.fans) {
    const PaintedTexture* p = texture_for_node(g.layout, fan.level, fan.i, fan.j);
    Batch& b = batches[p];
    int c[10], r[10];
    int count = fan_vertices(g.lod, fan, c, r);
    const float inv = 1.0f / (float)p->tiles;
    auto put = [&](int k) {
      b.xyz.push_back((float)c[k] * s);
      b.xyz.push_back(grid_height(t, c[k], r[k]));
      b.xyz.push_back((float)r[k] * s);
      b.uv.push_back(((float)c[k] * 0.5f - (float)p->tile_x) * inv);
      b.uv.push_back(((float)r[k] * 0.5f - (float)p->tile_z) * inv);
    };
    for (int k = 1; k + 1 < count; k++) {
      put(0);
      put(k);
      put(k + 1);
    }
    g_render_stats.ground_nodes++;
  }

  const bool shaded = g.shader_path;
  gl.Disable(GL_LIGHTING);
  gl.Enable(GL_TEXTURE_2D);
  gl.Color4f(1, 1, 1, 1);
  gl.TexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
  if (shaded) use_program(PROGRAM_TERRAIN);
  gl.EnableClientState(GL_VERTEX_ARRAY);
  gl.EnableClientState(GL_TEXTURE_COORD_ARRAY);
  for (auto& [p, b] : batches) {
    if (b.xyz.empty()) continue;
    bind_texture(p->texture);
    if (shaded) {
      gl.ActiveTextureARB(GL_TEXTURE1_ARB);
      bind_texture(p->normal);
      gl.ActiveTextureARB(GL_TEXTURE2_ARB);
      bind_texture(p->specular);
      gl.ActiveTextureARB(GL_TEXTURE0_ARB);
    }
    gl.VertexPointer(3, GL_FLOAT, 0, b.xyz.data());
    gl.TexCoordPointer(2, GL_FLOAT, 0, b.uv.data());
    gl.DrawArrays(GL_TRIANGLES, 0, (GLsizei)(b.xyz.size() / 3));
    g_render_stats.triangles += b.xyz.size() / 9;
    g_render_stats.vertices += b.xyz.size() / 3;
  }
  gl.DisableClientState(GL_TEXTURE_COORD_ARRAY);
  gl.DisableClientState(GL_VERTEX_ARRAY);
  if (shaded) {
    use_program(PROGRAM_FIXED);
    for (GLenum unit : {GL_TEXTURE2_ARB, GL_TEXTURE1_ARB}) {
      gl.ActiveTextureARB(unit);
      gl.BindTexture(GL_TEXTURE_2D, 0);
    }
    gl.ActiveTextureARB(GL_TEXTURE0_ARB);
  }
}

void free_ground() {
  destroy_textures();
  g_ground = Ground{};
}

int ground_method_in_use() { return g_ground.method; }
int ground_texture_size_in_use() { return g_ground.size; }
bool ground_shader_path_in_use() { return g_ground.shader_path; }
int painted_ground_texture_count() {
  int n = 0;
  for (const PaintedTexture& p : g_ground.layout.coarse) n += p.texture != nullptr;
  for (const auto& level : g_ground.layout.detail)
    for (const PaintedTexture& p : level) n += p.texture != nullptr;
  return n;
}
