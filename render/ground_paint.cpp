#include "render/ground_paint.h"

#include <algorithm>
#include <cmath>

#include "render/image.h"
#include "track/objects.h"
#include "track/terrain.h"

namespace {

int floor_div(int a, int b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }
int positive_mod(int a, int b) { return ((a % b) + b) % b; }

void make_dirty(GroundLayout* layout, PaintedTexture* t) {
  if (!t->dirty) t->dirty_since = ++layout->clock;
  t->dirty = true;
}

}  // namespace

int coarse_texture_side(int n) { return n > 6 ? 1 << (n - 6) : 1; }

void init_ground_layout(GroundLayout* layout, int n, int first_level) {
  layout->n = n;
  layout->tiles_per_side = 1 << n;
  layout->first_level = std::clamp(first_level, 0, DETAIL_LEVELS);
  layout->coarse_side = coarse_texture_side(n);
  layout->coarse.assign((size_t)layout->coarse_side * layout->coarse_side, PaintedTexture{});
  layout->clock = 0;
  for (int j = 0; j < layout->coarse_side; j++)
    for (int i = 0; i < layout->coarse_side; i++) {
      PaintedTexture& t = layout->coarse[(size_t)(j * layout->coarse_side + i)];
      t.tile_x = i * COARSE_TILES;
      t.tile_z = j * COARSE_TILES;
      t.tiles = COARSE_TILES;
      t.dirty_since = ++layout->clock;
    }
  for (int l = 0; l < DETAIL_LEVELS; l++) {
    layout->window_placed[l] = false;
    layout->window_x[l] = layout->window_z[l] = 0;
    for (PaintedTexture& t : layout->detail[l]) {
      t.tile_x = t.tile_z = INT_MIN;
      t.tiles = 1 << l;
      t.valid = false;
      t.dirty = true;
    }
  }
}

int scroll_detail_windows(GroundLayout* layout, float camera_tile_x, float camera_tile_z) {
  int exposed = 0;
  for (int l = layout->first_level; l < DETAIL_LEVELS; l++) {
    const int size = 1 << l;
    const int count = std::max(layout->tiles_per_side / size, 1);  // textures across the field
    auto first = [&](float p) {
      int s = (int)std::lround(p / (float)size) - DETAIL_WINDOW / 2;
      return std::clamp(s, 0, std::max(count - DETAIL_WINDOW, 0));
    };
    int wx = first(camera_tile_x), wz = first(camera_tile_z);
    layout->window_x[l] = wx;
    layout->window_z[l] = wz;
    layout->window_placed[l] = true;
    for (int iz = wz; iz < wz + DETAIL_WINDOW; iz++)
      for (int ix = wx; ix < wx + DETAIL_WINDOW; ix++) {
        // Slots are reused cyclically: the texture that scrolled out at one
        // side comes back in at the other.
        PaintedTexture& t = layout->detail[l][positive_mod(ix, DETAIL_WINDOW) + DETAIL_WINDOW * positive_mod(iz, DETAIL_WINDOW)];
        if (t.tile_x == ix * size && t.tile_z == iz * size) continue;
        t.tile_x = ix * size;
        t.tile_z = iz * size;
        t.valid = false;
        make_dirty(layout, &t);
        exposed++;
      }
  }
  return exposed;
}

const PaintedTexture* texture_for_node(const GroundLayout& layout, int level, int i, int j) {
  const int node_tiles = 1 << std::max(layout.n - level, 0);
  const int tx = i * node_tiles, tz = j * node_tiles;
  int l = 0;
  while ((1 << l) < node_tiles) l++;
  for (l = std::max(l, layout.first_level); l < DETAIL_LEVELS; l++) {
    if (!layout.window_placed[l]) continue;
    const int size = 1 << l;
    int ix = tx / size, iz = tz / size;
    if (ix < layout.window_x[l] || ix >= layout.window_x[l] + DETAIL_WINDOW || iz < layout.window_z[l] ||
        iz >= layout.window_z[l] + DETAIL_WINDOW)
      continue;
    const PaintedTexture& t = layout.detail[l][(ix & 3) + DETAIL_WINDOW * (iz & 3)];
    if (t.valid && t.texture && t.tile_x == ix * size && t.tile_z == iz * size) return &t;
  }
  int cx = std::clamp(tx / COARSE_TILES, 0, layout.coarse_side - 1), cz = std::clamp(tz / COARSE_TILES, 0, layout.coarse_side - 1);
  return &layout.coarse[(size_t)(cz * layout.coarse_side + cx)];
}

void mark_ground_textures_dirty(GroundLayout* layout, int c0, int r0, int c1, int r1) {
  // Cells to tiles; a vertex on a tile border touches the tiles on both sides.
  int tx0 = floor_div(c0 - 1, 2), tz0 = floor_div(r0 - 1, 2), tx1 = floor_div(c1, 2), tz1 = floor_div(r1, 2);
  auto touches = [&](const PaintedTexture& t) {
    return t.tiles > 0 && t.tile_x != INT_MIN && t.tile_x <= tx1 && t.tile_x + t.tiles > tx0 && t.tile_z <= tz1 &&
           t.tile_z + t.tiles > tz0;
  };
  for (PaintedTexture& t : layout->coarse)
    if (touches(t)) make_dirty(layout, &t);
  for (int l = 0; l < DETAIL_LEVELS; l++)
    for (PaintedTexture& t : layout->detail[l])
      if (touches(t)) make_dirty(layout, &t);
}

PaintedTexture* oldest_dirty_coarse(GroundLayout* layout) {
  PaintedTexture* oldest = nullptr;
  for (PaintedTexture& t : layout->coarse)
    if (t.dirty && (!oldest || t.dirty_since < oldest->dirty_since)) oldest = &t;
  return oldest;
}

// --- decals ------------------------------------------------------------------------

void decal_corners(const Decal& d, float corners[4][2]) {
  const float hw = d.width * 0.5f, hl = d.width * d.length_ratio * 0.5f;
  // Across (u) along (cos, sin), along (v) at right angles to it.
  const float ux = d.cosine * hw, uz = d.sine * hw, vx = -d.sine * hl, vz = d.cosine * hl;
  const float su[4] = {-1, 1, 1, -1}, sv[4] = {-1, -1, 1, 1};
  for (int k = 0; k < 4; k++) {
    corners[k][0] = d.x + su[k] * ux + sv[k] * vx;
    corners[k][1] = d.z + su[k] * uz + sv[k] * vz;
  }
}

namespace {

// The decal's bounding box in tiles, inclusive.
void decal_tile_box(const Decal& d, const Terrain& t, int box[4]) {
  float c[4][2];
  decal_corners(d, c);
  float x0 = c[0][0], x1 = c[0][0], z0 = c[0][1], z1 = c[0][1];
  for (int k = 1; k < 4; k++) {
    x0 = std::min(x0, c[k][0]);
    x1 = std::max(x1, c[k][0]);
    z0 = std::min(z0, c[k][1]);
    z1 = std::max(z1, c[k][1]);
  }
  const float f = 0.5f / t.spacing;
  auto tile = [](float v) { return (int)std::floor(std::clamp(v, -1e8f, 1e8f)); };
  box[0] = tile(x0 * f);
  box[1] = tile(z0 * f);
  box[2] = tile(x1 * f);
  box[3] = tile(z1 * f);
}

}  // namespace

void build_decal_index(DecalIndex* index, const std::vector<Decal>& decals, const Terrain& terrain) {
  index->side = coarse_texture_side(terrain.n);
  index->blocks.assign((size_t)index->side * index->side, {});
  for (size_t k = 0; k < decals.size(); k++) {
    int box[4];
    decal_tile_box(decals[k], terrain, box);
    int b0 = std::clamp(floor_div(box[0], COARSE_TILES), 0, index->side - 1);
    int b1 = std::clamp(floor_div(box[1], COARSE_TILES), 0, index->side - 1);
    int b2 = std::clamp(floor_div(box[2], COARSE_TILES), 0, index->side - 1);
    int b3 = std::clamp(floor_div(box[3], COARSE_TILES), 0, index->side - 1);
    if (box[2] < 0 || box[3] < 0 || box[0] >= terrain.tiles_per_side || box[1] >= terrain.tiles_per_side) continue;
    for (int j = b1; j <= b3; j++)
      for (int i = b0; i <= b2; i++) index->blocks[(size_t)(j * index->side + i)].push_back((int)k);
  }
}

void decals_in_region(const DecalIndex& index, const std::vector<Decal>& decals, const Terrain& terrain, int tx0,
                      int tz0, int tiles, std::vector<int>* out) {
  out->clear();
  if (index.side <= 0) return;
  int b0 = std::clamp(floor_div(tx0, COARSE_TILES), 0, index.side - 1);
  int b1 = std::clamp(floor_div(tz0, COARSE_TILES), 0, index.side - 1);
  int b2 = std::clamp(floor_div(tx0 + tiles - 1, COARSE_TILES), 0, index.side - 1);
  int b3 = std::clamp(floor_div(tz0 + tiles - 1, COARSE_TILES), 0, index.side - 1);
  for (int j = b1; j <= b3; j++)
    for (int i = b0; i <= b2; i++)
      for (int k : index.blocks[(size_t)(j * index.side + i)]) {
        int box[4];
        decal_tile_box(decals[(size_t)k], terrain, box);
        if (box[2] < tx0 || box[0] >= tx0 + tiles || box[3] < tz0 || box[1] >= tz0 + tiles) continue;
        if (std::find(out->begin(), out->end(), k) == out->end()) out->push_back(k);
      }
  std::sort(out->begin(), out->end());  // file order: later decals lie on top
}

int decal_pieces(float width, bool workaround) {
  if (!workaround || width <= 256.0f) return 1;
  int m = 2;
  while (width / (float)m > 256.0f && m < (1 << 20)) m *= 2;
  return m;
}

// --- low-detail textures --------------------------------------------------------------

int low_detail_count(int n) { return std::max((((1 << (n + 1)) / 128) + 2) / 3, 1); }

int low_detail_size(int n, int i) {
  int need = (1 << (n + 1)) - LOW_DETAIL_STEP * i + 128, w = 1;
  while (w < need && w < LOW_DETAIL_MAX) w *= 2;
  return w;
}

int low_detail_for(int n, int v0, int v1) {
  const int k = low_detail_count(n);
  for (int i = 0; i < k; i++) {
    int o = low_detail_origin(i);
    if (v0 >= o && v1 <= o + low_detail_size(n, i) - 1) return i;
  }
  return std::clamp((v0 + 64) / LOW_DETAIL_STEP, 0, k - 1);
}

void fill_low_detail(const Terrain& t, int i, int j, bool normals, Image* image) {
  const int w = low_detail_size(t.n, i), h = low_detail_size(t.n, j);
  init_image(image, w, h, 3);
  const std::vector<uint8_t>& source = normals && !t.normal_map.empty() ? t.normal_map : t.shading;
  const bool have = source.size() >= (size_t)t.N * t.N * 3;
  for (int y = 0; y < h; y++) {
    int r = std::clamp(low_detail_origin(j) + y, 0, t.N - 1);
    for (int x = 0; x < w; x++) {
      int c = std::clamp(low_detail_origin(i) + x, 0, t.N - 1);
      uint8_t* p = &image->pixels[((size_t)y * w + x) * 3];
      if (have) {
        std::copy_n(&source[((size_t)r * t.N + c) * 3], 3, p);
      } else {
        p[0] = normals ? 128 : 128;
        p[1] = normals ? 255 : 128;
        p[2] = 128;
      }
    }
  }
}

// --- the software painter ---------------------------------------------------------------

namespace {

// The mip level of a chain that gives at least `texels` per side.
int mip_for(const Image& image, float texels) {
  int level = 0;
  while (level + 1 < image.levels && level_size(image.width, level + 1) >= texels &&
         level_size(image.height, level + 1) >= texels)
    level++;
  return level;
}

const uint8_t* sample(const Image& image, int level, float u, float v) {
  int w = level_size(image.width, level), h = level_size(image.height, level);
  int x = std::clamp((int)(u * (float)w), 0, w - 1), y = std::clamp((int)(v * (float)h), 0, h - 1);
  return image_level(image, level) + ((size_t)y * w + x) * (size_t)image.channels;
}

// Bilinear vertex shading at (column, row) in vertex units.
void shading_at(const Terrain& t, float c, float r, float out[3]) {
  if (t.shading.size() < (size_t)t.N * t.N * 3) {
    out[0] = out[1] = out[2] = 128.0f;
    return;
  }
  c = std::clamp(c, 0.0f, (float)(t.N - 1));
  r = std::clamp(r, 0.0f, (float)(t.N - 1));
  int c0 = std::min((int)c, t.N - 2), r0 = std::min((int)r, t.N - 2);
  float fc = c - (float)c0, fr = r - (float)r0;
  auto at = [&](int cc, int rr, int k) { return (float)t.shading[((size_t)rr * t.N + cc) * 3 + k]; };
  for (int k = 0; k < 3; k++) {
    float top = at(c0, r0, k) * (1 - fc) + at(c0 + 1, r0, k) * fc;
    float bottom = at(c0, r0 + 1, k) * (1 - fc) + at(c0 + 1, r0 + 1, k) * fc;
    out[k] = top * (1 - fr) + bottom * fr;
  }
}

}  // namespace

void paint_ground_software(const Terrain& t, const std::vector<Decal>& decals, const DecalIndex& index, int tx0,
                           int tz0, int tiles, int size, Image* out) {
  init_image(out, size, size, 3);
  const float tiles_per_texel = (float)tiles / (float)size;
  const float texels_per_tile = (float)size / (float)tiles;
  const int tps = t.tiles_per_side;
  // Tile images, row by row: texel (x, y) shows tile position tx0 + (x + 0.5) * T / S.
  for (int y = 0; y < size; y++) {
    float tz = (float)tz0 + ((float)y + 0.5f) * tiles_per_texel;
    int tile_z = std::clamp((int)std::floor(tz), 0, std::max(tps - 1, 0));
    float fz = tz - std::floor(tz);
    for (int x = 0; x < size; x++) {
      float tx = (float)tx0 + ((float)x + 0.5f) * tiles_per_texel;
      int tile_x = std::clamp((int)std::floor(tx), 0, std::max(tps - 1, 0));
      float fx = tx - std::floor(tx);
      uint8_t* p = &out->pixels[((size_t)y * size + x) * 3];
      int type = t.tile_map.empty() ? 0 : t.tile_map[(size_t)tile_z * tps + tile_x];
      const Image* image = type < t.tile_count ? t.tiles[type].image : nullptr;
      if (!image || image->levels < 1) {
        p[0] = p[1] = p[2] = 128;
        continue;
      }
      const uint8_t* s = sample(*image, mip_for(*image, texels_per_tile), TILE_MARGIN + fx * (1 - 2 * TILE_MARGIN),
                                TILE_MARGIN + fz * (1 - 2 * TILE_MARGIN));
      if (image->channels >= 3) {
        p[0] = s[0];
        p[1] = s[1];
        p[2] = s[2];
      } else {
        p[0] = p[1] = p[2] = s[0];
      }
    }
  }
  // Decals over the tiles, blended by their alpha, in file order.
  std::vector<int> found;
  decals_in_region(index, decals, t, tx0, tz0, tiles, &found);
  const float world_per_texel = tiles_per_texel * 2.0f * t.spacing;
  for (int k : found) {
    const Decal& d = decals[(size_t)k];
    if (!d.image || d.image->levels < 1 || d.width <= 0 || d.length_ratio <= 0) continue;
    const float length = d.width * d.length_ratio;
    const float texels_across = d.width / world_per_texel;
    const int level = mip_for(*d.image, texels_across);
    float c[4][2];
    decal_corners(d, c);
    float x0 = c[0][0], x1 = x0, z0 = c[0][1], z1 = z0;
    for (int q = 1; q < 4; q++) {
      x0 = std::min(x0, c[q][0]);
      x1 = std::max(x1, c[q][0]);
      z0 = std::min(z0, c[q][1]);
      z1 = std::max(z1, c[q][1]);
    }
    const float world_x0 = (float)tx0 * 2.0f * t.spacing, world_z0 = (float)tz0 * 2.0f * t.spacing;
    int px0 = std::max((int)std::floor((x0 - world_x0) / world_per_texel), 0);
    int px1 = std::min((int)std::ceil((x1 - world_x0) / world_per_texel), size - 1);
    int pz0 = std::max((int)std::floor((z0 - world_z0) / world_per_texel), 0);
    int pz1 = std::min((int)std::ceil((z1 - world_z0) / world_per_texel), size - 1);
    for (int y = pz0; y <= pz1; y++)
      for (int x = px0; x <= px1; x++) {
        float wx = world_x0 + ((float)x + 0.5f) * world_per_texel - d.x;
        float wz = world_z0 + ((float)y + 0.5f) * world_per_texel - d.z;
        float u = (wx * d.cosine + wz * d.sine) / d.width + 0.5f;
        float v = (-wx * d.sine + wz * d.cosine) / length + 0.5f;
        if (u < 0 || u >= 1 || v < 0 || v >= 1) continue;
        const uint8_t* s = sample(*d.image, level, u, v);
        int a = d.image->channels == 4 ? s[3] : 255;
        uint8_t* p = &out->pixels[((size_t)y * size + x) * 3];
        for (int ch = 0; ch < 3; ch++) {
          int src = d.image->channels >= 3 ? s[ch] : s[0];
          p[ch] = (uint8_t)((src * a + p[ch] * (255 - a) + 127) / 255);
        }
      }
  }
  // The baked shading at half scale: 2 x colour x shading.
  for (int y = 0; y < size; y++)
    for (int x = 0; x < size; x++) {
      float col = ((float)tx0 + ((float)x + 0.5f) * tiles_per_texel) * 2.0f;
      float row = ((float)tz0 + ((float)y + 0.5f) * tiles_per_texel) * 2.0f;
      float light[3];
      shading_at(t, col, row, light);
      uint8_t* p = &out->pixels[((size_t)y * size + x) * 3];
      for (int ch = 0; ch < 3; ch++) p[ch] = (uint8_t)std::min(255.0f, (float)p[ch] * light[ch] * (2.0f / 255.0f) + 0.5f);
    }
}
