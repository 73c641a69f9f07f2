// The painted ground textures' layout and the software painter: windows that
// scroll by whole textures and reuse their slots, the finest valid texture
// for a node, dirty marks, decals and their pieces, the low-detail sizes and
// the composed colours.
#include <gtest/gtest.h>

#include <cmath>

#include "render/ground_paint.h"
#include "render/image.h"
#include "track/objects.h"
#include "track/terrain.h"

namespace {

Image solid_image(int size, uint8_t r, uint8_t g, uint8_t b, int channels = 3, uint8_t a = 255) {
  Image image;
  init_image(&image, size, size, channels);
  for (size_t i = 0; i < image.pixels.size(); i += (size_t)channels) {
    image.pixels[i] = r;
    image.pixels[i + 1] = g;
    image.pixels[i + 2] = b;
    if (channels == 4) image.pixels[i + 3] = a;
  }
  generate_mipmaps(&image, false);
  return image;
}

Decal decal_at(float x, float z, float angle, float width, float ratio, Image* image) {
  Decal d{};
  d.x = x;
  d.z = z;
  d.angle = angle;
  d.width = width;
  d.length_ratio = ratio;
  d.sine = std::sin(angle);
  d.cosine = std::cos(angle);
  d.image = image;
  return d;
}

}  // namespace

TEST(GroundLayout, CoarseLayerAndWindowsScrollByWholeTextures) {
  GroundLayout layout;
  init_ground_layout(&layout, 6, 1);
  EXPECT_EQ(layout.coarse_side, 1);  // n = 6: one coarse texture
  init_ground_layout(&layout, 9, 1);
  EXPECT_EQ(layout.coarse_side, 8);
  // The first placement exposes every slot of the painted levels 1..5.
  EXPECT_EQ(scroll_detail_windows(&layout, 200.0f, 300.0f), 5 * 16);
  EXPECT_EQ(scroll_detail_windows(&layout, 200.2f, 300.1f), 0);  // still inside: nothing new
  for (int l = 1; l < DETAIL_LEVELS; l++)
    for (PaintedTexture& t : layout.detail[l]) {
      t.dirty = false;
      t.valid = true;
    }
  // Half a level-1 texture (2 tiles) to the right moves that window by one
  // texture and no other: one column of four slots
  // comes back in at the other side, showing the new tiles.
  EXPECT_EQ(scroll_detail_windows(&layout, 201.0f, 300.0f), 4);
  int fresh = 0;
  for (const PaintedTexture& t : layout.detail[1]) {
    if (!t.dirty) continue;
    fresh++;
    EXPECT_FALSE(t.valid);
    EXPECT_EQ(t.tile_x, (layout.window_x[1] + 3) * 2);
  }
  EXPECT_EQ(fresh, 4);
  EXPECT_EQ(layout.window_x[1], 99);
  // Level 0 lies below the painted levels: never placed.
  EXPECT_FALSE(layout.window_placed[0]);
}

TEST(GroundLayout, NodesTakeTheFinestValidTextureHoldingThem) {
  GroundLayout layout;
  init_ground_layout(&layout, 9, 1);
  scroll_detail_windows(&layout, 100.0f, 100.0f);
  Texture* fake = reinterpret_cast<Texture*>(0x10);
  for (int l = 1; l < DETAIL_LEVELS; l++)
    for (PaintedTexture& t : layout.detail[l]) {
      t.texture = fake;
      t.valid = true;
    }
  // A tile node (level 9) at tile (100, 100): the level-1 texture holding it.
  const PaintedTexture* t = texture_for_node(layout, 9, 100, 100);
  EXPECT_EQ(t->tiles, 2);
  EXPECT_EQ(t->tile_x, 100);
  // An 8-tile node there: level 3.
  t = texture_for_node(layout, 6, 12, 12);
  EXPECT_EQ(t->tiles, 8);
  // The level-1 texture not yet painted: the next coarser one takes over.
  for (PaintedTexture& p : layout.detail[1]) p.valid = false;
  EXPECT_EQ(texture_for_node(layout, 9, 100, 100)->tiles, 4);
  // Far away from every window: the coarse texture of its 64-tile block.
  t = texture_for_node(layout, 9, 400, 20);
  EXPECT_EQ(t->tiles, COARSE_TILES);
  EXPECT_EQ(t->tile_x, 384);
  EXPECT_EQ(t->tile_z, 0);
}

TEST(GroundLayout, DeformationMarksTheTexturesOverItsCellsOldestFirst) {
  GroundLayout layout;
  init_ground_layout(&layout, 8, 1);
  for (PaintedTexture& t : layout.coarse) t.dirty = false;
  EXPECT_EQ(oldest_dirty_coarse(&layout), nullptr);
  mark_ground_textures_dirty(&layout, 300, 10, 305, 12);  // cells -> tiles 150..152: block (2, 0)
  mark_ground_textures_dirty(&layout, 10, 260, 12, 262);  // block (0, 2)
  PaintedTexture* first = oldest_dirty_coarse(&layout);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->tile_x, 128);
  EXPECT_EQ(first->tile_z, 0);
  first->dirty = false;
  EXPECT_EQ(oldest_dirty_coarse(&layout)->tile_z, 128);
  // A vertex on a block border touches both blocks.
  for (PaintedTexture& t : layout.coarse) t.dirty = false;
  mark_ground_textures_dirty(&layout, 128, 40, 128, 40);
  int dirty = 0;
  for (const PaintedTexture& t : layout.coarse) dirty += t.dirty;
  EXPECT_EQ(dirty, 2);
}

TEST(GroundPainting, LowDetailSizesAndDecalPieces) {
  EXPECT_EQ(low_detail_count(9), 3);  // 1024 cells: ((8 + 2) / 3)
  EXPECT_EQ(low_detail_size(9, 0), 512);
  EXPECT_EQ(low_detail_size(9, 2), 512);  // 1024 - 768 + 128 = 384 -> 512
  EXPECT_EQ(low_detail_count(6), 1);
  EXPECT_EQ(low_detail_size(6, 0), 256);
  EXPECT_EQ(low_detail_count(4), 1);  // smaller than the formula foresees: still one
  // Every 128-cell block lies inside one texture.
  for (int n : {6, 7, 8, 9, 10})
    for (int v = 0; v < (1 << (n + 1)); v += 128) {
      int i = low_detail_for(n, v, v + 128);
      EXPECT_LE(low_detail_origin(i), v);
      EXPECT_GE(low_detail_origin(i) + low_detail_size(n, i) - 1, v + 128) << n << " " << v;
    }
  EXPECT_EQ(decal_pieces(600.0f, true), 4);
  EXPECT_EQ(decal_pieces(600.0f, false), 1);
  EXPECT_EQ(decal_pieces(200.0f, true), 1);
  EXPECT_EQ(decal_pieces(300.0f, true), 2);
}

TEST(GroundPainting, SoftwareComposesTilesDecalsAndShading) {
  Terrain t;
  init_flat_terrain(&t, 5, 1.0f, 0.0f);  // 32 x 32 tiles of 2 x 2 cells
  Image green = solid_image(16, 40, 160, 60), brown = solid_image(16, 150, 100, 50);
  t.tile_count = 2;
  init_tile(&t.tiles[0]);
  init_tile(&t.tiles[1]);
  t.tiles[0].image = &green;
  t.tiles[1].image = &brown;
  for (int z = 0; z < 32; z++)
    for (int x = 16; x < 32; x++) t.tile_map[(size_t)(z * 32 + x)] = 1;  // the right half brown
  t.shading.assign((size_t)t.N * t.N * 3, 128);  // half scale: the colours as they are (x 256/255)
  std::vector<Decal> decals;
  DecalIndex index;
  build_decal_index(&index, decals, t);
  Image out;
  paint_ground_software(t, decals, index, 0, 0, 32, 64, &out);
  ASSERT_EQ(out.width, 64);
  auto at = [&](int x, int y) { return &out.pixels[((size_t)y * 64 + x) * 3]; };
  EXPECT_NEAR(at(10, 10)[1], 160, 2);
  EXPECT_NEAR(at(50, 10)[0], 150, 2);

  // Shading 255 on the right brightens twice (clamped), 0 darkens to black.
  for (int r = 0; r < t.N; r++)
    for (int c = 0; c < t.N; c++) {
      uint8_t v = c > 40 ? 255 : (c < 20 ? 0 : 128);
      for (int k = 0; k < 3; k++) t.shading[((size_t)r * t.N + c) * 3 + k] = v;
    }
  paint_ground_software(t, decals, index, 0, 0, 32, 64, &out);
  EXPECT_EQ(at(5, 30)[1], 0);
  EXPECT_EQ(at(60, 30)[0], 255);  // 2 x 150 clamps
  EXPECT_NEAR(at(60, 30)[2], 100, 2);

  // A half-transparent black decal 8 wide, 4 long (along z), turned by 90
  // degrees: it now spans 4 in x and 8 in z around (16, 16).
  for (uint8_t& v : t.shading) v = 128;
  Image black = solid_image(8, 0, 0, 0, 4, 128);
  decals.push_back(decal_at(16.0f, 16.0f, 1.5707963f, 8.0f, 0.5f, &black));
  build_decal_index(&index, decals, t);
  paint_ground_software(t, decals, index, 0, 0, 32, 64, &out);
  // Texel (x, y) shows world (x + 0.5, z = y + 0.5): the decal covers x 14..18, z 12..20.
  EXPECT_NEAR(at(16, 13)[1], 80, 3);   // inside: halfway to black
  EXPECT_NEAR(at(14, 19)[1], 80, 3);
  EXPECT_NEAR(at(16, 21)[1], 160, 2);  // past its width along z
  EXPECT_NEAR(at(19, 16)[1], 160, 2);  // past its length along x
  free_terrain(&t);
}
