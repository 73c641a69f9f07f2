// Height, triangle, normal and tile queries on the loaded height field.
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "track/deform.h"
#include "track/terrain.h"

void init_flat_terrain(Terrain* t, int n, float spacing, float height) {
  free_terrain(t);
  t->n = n;
  t->N = (1 << (n + 1)) + 1;
  t->spacing = spacing;
  t->width = spacing * (float)(1 << (n + 1));
  size_t count = (size_t)t->N * (size_t)t->N;
  t->heights.assign(count, height);
  t->low = t->high = height;
  t->shading.assign(count * 3, 128);
  t->shadows.assign(count, 0);
  t->normal_map.clear();
  t->tiles_per_side = 1 << n;
  t->tile_map.assign((size_t)t->tiles_per_side * (size_t)t->tiles_per_side, 0);
  t->tile_count = 1;
  for (Tile& tile : t->tiles) init_tile(&tile);
  t->modification_count = 0;
  t->locked_for_editor = false;
  t->light = default_shading_light();
  reset_terrain_changes(t);
  memset(t->heights_digest, 0, sizeof t->heights_digest);
}

void free_terrain(Terrain* t) {
  t->heights = std::vector<float>();
  t->shading = std::vector<uint8_t>();
  t->shadows = std::vector<uint8_t>();
  t->normal_map = std::vector<uint8_t>();
  t->tile_map = std::vector<uint8_t>();
  t->patch_stamp = std::vector<int64_t>();
  t->block_stamp = std::vector<int64_t>();
  t->shading_due = std::vector<uint32_t>();
  t->shading_due_mask = std::vector<uint64_t>();
  t->change_patches_per_side = 0;
  t->change_blocks_per_side = 0;
  t->n = 0;
  t->N = 0;
  t->tiles_per_side = 0;
  t->tile_count = 0;
}

float height_at(const Terrain& t, float x, float z) {
  float u = x / t.spacing;
  float w = z / t.spacing;
  float cf = floorf(u);
  float rf = floorf(w);
  float fx = u - cf;
  float fz = w - rf;
  // Far outside the field every corner clamps to the same edge vertex; keep
  // the cell index in int range so the parity test stays defined.
  const float limit = 1e9f;
  if (!(cf > -limit && cf < limit)) cf = cf > 0 ? limit : -limit;
  if (!(rf > -limit && rf < limit)) rf = rf > 0 ? limit : -limit;
  int c = (int)cf;
  int r = (int)rf;
  if (c >= 0 && r >= 0 && c + 1 < t.N && r + 1 < t.N) {
    // Inside the field no corner needs clamping: the same sums on the four
    // corners read straight from their rows.
    const float* row = t.heights.data() + (size_t)c + (size_t)t.N * (size_t)r;
    const float h00 = row[0], h10 = row[1], h01 = row[t.N], h11 = row[t.N + 1];
    if (((c + r) & 1) == 0) {
      if (fz <= fx) return h10 + (1 - fx) * (h00 - h10) + fz * (h11 - h10);
      return h01 + fx * (h11 - h01) + (1 - fz) * (h00 - h01);
    }
    if (fx + fz <= 1) return h00 + fx * (h10 - h00) + fz * (h01 - h00);
    return h11 + (1 - fx) * (h01 - h11) + (1 - fz) * (h10 - h11);
  }
  if (((c + r) & 1) == 0) {
    if (fz <= fx) {
      float h10 = grid_height(t, c + 1, r);
      return h10 + (1 - fx) * (grid_height(t, c, r) - h10) + fz * (grid_height(t, c + 1, r + 1) - h10);
    }
    float h01 = grid_height(t, c, r + 1);
    return h01 + fx * (grid_height(t, c + 1, r + 1) - h01) + (1 - fz) * (grid_height(t, c, r) - h01);
  }
  if (fx + fz <= 1) {
    float h00 = grid_height(t, c, r);
    return h00 + fx * (grid_height(t, c + 1, r) - h00) + fz * (grid_height(t, c, r + 1) - h00);
  }
  float h11 = grid_height(t, c + 1, r + 1);
  return h11 + (1 - fx) * (grid_height(t, c, r + 1) - h11) + (1 - fz) * (grid_height(t, c + 1, r) - h11);
}

void cell_triangles(const Terrain& t, int c, int r, Vec3 first[3], Vec3 second[3]) {
  // The four corners once; heights clamp to the grid, positions do not.
  const float x0 = (float)c * t.spacing, x1 = (float)(c + 1) * t.spacing;
  const float z0 = (float)r * t.spacing, z1 = (float)(r + 1) * t.spacing;
  float h00, h10, h01, h11;
  if (c >= 0 && r >= 0 && c + 1 < t.N && r + 1 < t.N) {
    const float* row = t.heights.data() + (size_t)c + (size_t)t.N * (size_t)r;
    h00 = row[0];
    h10 = row[1];
    h01 = row[t.N];
    h11 = row[t.N + 1];
  } else {
    h00 = grid_height(t, c, r);
    h10 = grid_height(t, c + 1, r);
    h01 = grid_height(t, c, r + 1);
    h11 = grid_height(t, c + 1, r + 1);
  }
  const Vec3 p00{x0, h00, z0}, p10{x1, h10, z0}, p01{x0, h01, z1}, p11{x1, h11, z1};
  if (((c + r) & 1) == 0) {
    first[0] = p10;
    first[1] = p00;
    first[2] = p11;
    second[0] = p01;
    second[1] = p11;
    second[2] = p00;
  } else {
    first[0] = p00;
    first[1] = p10;
    first[2] = p01;
    second[0] = p11;
    second[1] = p01;
    second[2] = p10;
  }
}

void triangle_at(const Terrain& t, float x, float z, Vec3 corners[3]) {
  float u = x / t.spacing;
  float w = z / t.spacing;
  int c = (int)floorf(u);
  int r = (int)floorf(w);
  float fx = u - (float)c;
  float fz = w - (float)r;
  Vec3 first[3], second[3];
  cell_triangles(t, c, r, first, second);
  bool in_first = ((c + r) & 1) == 0 ? fz <= fx : fx + fz <= 1;
  const Vec3* chosen = in_first ? first : second;
  for (int i = 0; i < 3; i++) corners[i] = chosen[i];
}

Vec3 vertex_normal(const Terrain& t, int c, int r) {
  // The ring's offsets from the centre, worked out once per axis exactly as
  // the difference of the two world positions (so the result is the same as
  // subtracting whole grid points). Heights clamp to the grid, positions do
  // not.
  const float s = t.spacing;
  const float x0 = (float)c * s, z0 = (float)r * s;
  const float dx[3] = {(float)(c - 1) * s - x0, 0.0f, (float)(c + 1) * s - x0};
  const float dz[3] = {(float)(r - 1) * s - z0, 0.0f, (float)(r + 1) * s - z0};
  float h[3][3];  // [dr + 1][dc + 1]
  if (c > 0 && r > 0 && c < t.N - 1 && r < t.N - 1) {
    const float* row = t.heights.data() + (size_t)c + (size_t)t.N * (size_t)(r - 1);
    for (int j = 0; j < 3; j++, row += t.N)
      for (int i = 0; i < 3; i++) h[j][i] = row[i - 1];
  } else {
    for (int j = 0; j < 3; j++)
      for (int i = 0; i < 3; i++) h[j][i] = grid_height(t, c + i - 1, r + j - 1);
  }
  static const int ring[8][2] = {{-1, -1}, {0, -1}, {1, -1}, {1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}};
  const float centre = h[1][1];
  // The ring points p[j] and the next ones along, a[j] = p[j + 1 mod 8];
  // the normal of the triangle between them is a x p.
  alignas(16) float px[8], py[8], pz[8], ax[8], ay[8], az[8];
  for (int j = 0; j < 8; j++) {
    int i = ring[j][0] + 1, k = ring[j][1] + 1;
    px[j] = dx[i];
    py[j] = h[k][i] - centre;
    pz[j] = dz[k];
  }
  for (int j = 0; j < 8; j++) {
    ax[j] = px[(j + 1) & 7];
    ay[j] = py[(j + 1) & 7];
    az[j] = pz[(j + 1) & 7];
  }
  alignas(16) float nx[8], ny[8], nz[8], lengths[8], inv[8];
#if defined(__SSE2__)
  // Four triangles at a time; every operation is the scalar one, correctly
  // rounded, so the bytes baked are the same on any build.
  for (int j = 0; j < 8; j += 4) {
    __m128 a_x = _mm_load_ps(ax + j), a_y = _mm_load_ps(ay + j), a_z = _mm_load_ps(az + j);
    __m128 p_x = _mm_load_ps(px + j), p_y = _mm_load_ps(py + j), p_z = _mm_load_ps(pz + j);
    __m128 n_x = _mm_sub_ps(_mm_mul_ps(a_y, p_z), _mm_mul_ps(a_z, p_y));
    __m128 n_y = _mm_sub_ps(_mm_mul_ps(a_z, p_x), _mm_mul_ps(a_x, p_z));
    __m128 n_z = _mm_sub_ps(_mm_mul_ps(a_x, p_y), _mm_mul_ps(a_y, p_x));
    __m128 l2 = _mm_add_ps(_mm_add_ps(_mm_mul_ps(n_x, n_x), _mm_mul_ps(n_y, n_y)), _mm_mul_ps(n_z, n_z));
    __m128 l = _mm_sqrt_ps(l2);
    _mm_store_ps(nx + j, n_x);
    _mm_store_ps(ny + j, n_y);
    _mm_store_ps(nz + j, n_z);
    _mm_store_ps(lengths + j, l);
    _mm_store_ps(inv + j, _mm_div_ps(_mm_set1_ps(1.0f), l));
  }
#else
  for (int j = 0; j < 8; j++) {
    Vec3 n = cross(Vec3{ax[j], ay[j], az[j]}, Vec3{px[j], py[j], pz[j]});
    nx[j] = n.x;
    ny[j] = n.y;
    nz[j] = n.z;
    lengths[j] = sqrtf(dot(n, n));
    inv[j] = 1.0f / lengths[j];
  }
#endif
  Vec3 sum = {0, 0, 0};
  for (int j = 0; j < 8; j++)
    if (lengths[j] > 0) sum = sum + Vec3{nx[j], ny[j], nz[j]} * inv[j];
  float len = sqrtf(dot(sum, sum));
  if (len <= 0) return Vec3{0, 1, 0};
  return sum * (1.0f / len);
}

void vertex_normals4(const Terrain& t, const uint32_t vertices[4], Vec3 out[4]) {
#if defined(__SSE2__)
  // Lane k is vertex k; every step is the one vertex_normal takes, so each
  // lane ends with the bits a call for its vertex gives.
  static const int ring[8][2] = {{-1, -1}, {0, -1}, {1, -1}, {1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}};
  alignas(16) int cs[4], rs[4];
  alignas(16) float h[3][3][4];  // [dr + 1][dc + 1][lane]
  const uint32_t N = (uint32_t)t.N;
  for (int k = 0; k < 4; k++) {
    cs[k] = (int)(vertices[k] % N);
    rs[k] = (int)(vertices[k] / N);
    const float* row = t.heights.data() + vertices[k] - N;
    for (int j = 0; j < 3; j++, row += N)
      for (int i = 0; i < 3; i++) h[j][i][k] = row[i - 1];
  }
  const __m128 s = _mm_set1_ps(t.spacing);
  const __m128i c = _mm_load_si128((const __m128i*)cs), r = _mm_load_si128((const __m128i*)rs);
  const __m128i one = _mm_set1_epi32(1);
  const __m128 x0 = _mm_mul_ps(_mm_cvtepi32_ps(c), s), z0 = _mm_mul_ps(_mm_cvtepi32_ps(r), s);
  const __m128 zero = _mm_setzero_ps();
  const __m128 dx[3] = {_mm_sub_ps(_mm_mul_ps(_mm_cvtepi32_ps(_mm_sub_epi32(c, one)), s), x0), zero,
                        _mm_sub_ps(_mm_mul_ps(_mm_cvtepi32_ps(_mm_add_epi32(c, one)), s), x0)};
  const __m128 dz[3] = {_mm_sub_ps(_mm_mul_ps(_mm_cvtepi32_ps(_mm_sub_epi32(r, one)), s), z0), zero,
                        _mm_sub_ps(_mm_mul_ps(_mm_cvtepi32_ps(_mm_add_epi32(r, one)), s), z0)};
  const __m128 centre = _mm_load_ps(h[1][1]);
  __m128 px[8], py[8], pz[8];
  for (int j = 0; j < 8; j++) {
    int i = ring[j][0] + 1, k = ring[j][1] + 1;
    px[j] = dx[i];
    py[j] = _mm_sub_ps(_mm_load_ps(h[k][i]), centre);
    pz[j] = dz[k];
  }
  __m128 sx = zero, sy = zero, sz = zero;
  for (int j = 0; j < 8; j++) {
    const int a = (j + 1) & 7;
    __m128 nx = _mm_sub_ps(_mm_mul_ps(py[a], pz[j]), _mm_mul_ps(pz[a], py[j]));
    __m128 ny = _mm_sub_ps(_mm_mul_ps(pz[a], px[j]), _mm_mul_ps(px[a], pz[j]));
    __m128 nz = _mm_sub_ps(_mm_mul_ps(px[a], py[j]), _mm_mul_ps(py[a], px[j]));
    __m128 len = _mm_sqrt_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(nx, nx), _mm_mul_ps(ny, ny)), _mm_mul_ps(nz, nz)));
    __m128 inv = _mm_div_ps(_mm_set1_ps(1.0f), len);
    __m128 take = _mm_cmpgt_ps(len, zero);  // lanes with a triangle of some area
    sx = _mm_or_ps(_mm_and_ps(take, _mm_add_ps(sx, _mm_mul_ps(nx, inv))), _mm_andnot_ps(take, sx));
    sy = _mm_or_ps(_mm_and_ps(take, _mm_add_ps(sy, _mm_mul_ps(ny, inv))), _mm_andnot_ps(take, sy));
    sz = _mm_or_ps(_mm_and_ps(take, _mm_add_ps(sz, _mm_mul_ps(nz, inv))), _mm_andnot_ps(take, sz));
  }
  alignas(16) float ox[4], oy[4], oz[4];
  _mm_store_ps(ox, sx);
  _mm_store_ps(oy, sy);
  _mm_store_ps(oz, sz);
  for (int k = 0; k < 4; k++) {
    Vec3 sum{ox[k], oy[k], oz[k]};
    float len = sqrtf(dot(sum, sum));
    out[k] = len <= 0 ? Vec3{0, 1, 0} : sum * (1.0f / len);
  }
#else
  for (int k = 0; k < 4; k++)
    out[k] = vertex_normal(t, (int)(vertices[k] % (uint32_t)t.N), (int)(vertices[k] / (uint32_t)t.N));
#endif
}

static int tile_index_on_axis(const Terrain& t, float coordinate) {
  float f = coordinate * (0.5f / t.spacing);
  float last = (float)(t.tiles_per_side - 1);
  if (!(f >= 0)) f = 0;  // also catches NaN
  if (f > last) f = last;
  return (int)f;
}

int tile_at(const Terrain& t, float x, float z) {
  if (t.tiles_per_side <= 0) return 0;
  int column = tile_index_on_axis(t, x);
  int row = tile_index_on_axis(t, z);
  return t.tile_map[(size_t)row * (size_t)t.tiles_per_side + (size_t)column];
}
