#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "core/datafile.h"
#include "render/texture.h"
#include "tests/track/track_fixture.h"
#include "tests/track/track_test_util.h"
#include "track/terrain.h"
#include "track/tiles.h"

namespace {

const TileLoadOptions NO_TEXTURES{false, false};

class TileFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    clear_message_lines();
    init_flat_terrain(t.get(), 2, 1.0f, 0.0f);
  }
  void TearDown() override { purge_textures(true); }
  void tileinfo(const std::string& text, const TileLoadOptions& options = NO_TEXTURES) {
    DataStream* s = data_open_memory(text.data(), text.size());
    read_tileinfo(t.get(), s, options);
    data_close(s);
  }
  void texturelist(const std::string& text, const TileLoadOptions& options = NO_TEXTURES) {
    DataStream* s = data_open_memory(text.data(), text.size());
    read_texturelist(t.get(), s, options);
    data_close(s);
  }
  RoostKind roost(const char* words) {
    RoostKind k;
    init_roost_kind(&k);
    parse_roost_arguments(&k, words, NO_TEXTURES);
    return k;
  }
  ScratchData data;
  std::unique_ptr<Terrain> t = std::make_unique<Terrain>();
};

TEST_F(TileFiles, TilesTakeTheDefaultsAndDropTrailingProperties) {
  tileinfo("addtile\n  \t\n   texture @dir/sub/rock.png\r\nerode_depth 3\naddtile\nfriction 0.1 1\n");
  ASSERT_EQ(t->tile_count, 2);
  Tile defaults;
  init_tile(&defaults);
  EXPECT_STREQ(t->tiles[0].name, "");
  EXPECT_FLOAT_EQ(friction_at(t->tiles[0], 33.0f), 1.0f);
  EXPECT_STREQ(t->tiles[1].name, "rock.png");
  EXPECT_FLOAT_EQ(t->tiles[1].erosion.depth, 3.0f);
  EXPECT_FLOAT_EQ(t->tiles[1].erosion.upper, defaults.erosion.upper);
  EXPECT_EQ(t->tiles[1].roost[0].mode, ROOST_DISABLED);
  // The trailing friction line belonged to no stored tile.
  EXPECT_FLOAT_EQ(t->tiles[2].friction[0].value, 1.0f);
  EXPECT_EQ(messages_containing("tileinfo warning"), 0);
}

TEST_F(TileFiles, DescendingCurvesAreSortedAndClamped) {
  tileinfo("friction 1.0 4\nfriction 0.5 2\nfriction -3 0\n"
           "roll_resist 9 19 8\nroll_resist 1 2 3\naddtile\n");
  const Tile& tile = t->tiles[0];
  EXPECT_FLOAT_EQ(tile.friction[0].value, 0.0f);  // negative value clamped, key 0 lifted to 2^-20
  EXPECT_FLOAT_EQ(tile.friction[0].key, 9.536743e-7f);
  EXPECT_FLOAT_EQ(tile.friction[1].key, 2.0f);
  EXPECT_FLOAT_EQ(tile.friction[2].key, 4.0f);
  EXPECT_EQ(tile.friction[3].key, 0.0f);
  EXPECT_FLOAT_EQ(friction_at(tile, 3.0f), 0.5f + 0.5f * (9.0f - 4.0f) / 12.0f);
  EXPECT_FLOAT_EQ(friction_at(tile, 10.0f), 1.0f);
  EXPECT_FLOAT_EQ(tile.roll_resist[0].light, 1.0f);
  EXPECT_FLOAT_EQ(tile.roll_resist[1].heavy, 19.0f);
  EXPECT_FLOAT_EQ(rolling_resistance_at(tile, 5.5f, 1.0f), 2.0f + 0.5f * 17.0f);
}

TEST_F(TileFiles, EveryTileinfoWarning) {
  std::string text;
  for (int i = 0; i < 9; i++) text += "friction 1 " + std::to_string(i + 1) + "\n";
  for (int i = 0; i < 9; i++) text += "roll_resist 1 2 " + std::to_string(i + 1) + "\n";
  for (int i = 0; i < 5; i++) text += "roost count=1\n";
  text += "friction 1\nroll_resist 1 2\nwobble 3\nTexture x\n";
  const char* erosion[] = {"erode_depth", "erode_lower", "erode_upper", "erode_displacement",
                           "erode_radius", "erode_max_slope", "erode_off_speed", "erode_on_speed"};
  for (const char* key : erosion) text += std::string(key) + " soft\n";
  text += "addtile\n";
  tileinfo(text);
  // Past the eighth point even a malformed line is reported as one too many.
  EXPECT_EQ(messages_containing("tileinfo warning: too many friction points\n"), 2);
  EXPECT_EQ(messages_containing("tileinfo warning: too many roll_resist points\n"), 2);
  EXPECT_EQ(messages_containing("tileinfo warning: too many roost types\n"), 1);
  EXPECT_EQ(messages_containing("tileinfo warning: bad friction parameters\n"), 0);
  EXPECT_TRUE(message_shown("tileinfo warning: Unknown identifier 'wobble'\n"));
  EXPECT_TRUE(message_shown("tileinfo warning: Unknown identifier 'Texture'\n"));
  for (const char* key : erosion) EXPECT_TRUE(message_shown(std::string("tileinfo warning: bad ") + key + "\n")) << key;
  EXPECT_FLOAT_EQ(t->tiles[0].erosion.radius, 4.0f);
  EXPECT_FLOAT_EQ(t->tiles[0].friction[7].key, 8.0f);

  clear_message_lines();
  tileinfo("friction 1\nroll_resist 1 2\naddtile\n");
  EXPECT_TRUE(message_shown("tileinfo warning: bad friction parameters\n"));
  EXPECT_TRUE(message_shown("tileinfo warning: bad roll_resist parameters\n"));
}

TEST_F(TileFiles, RoostWordsWithQuotesColoursAndFades) {
  RoostKind k = roost("count=12 \"dig=2.5\" splash=1 r=300 g=-4 b=17.9 a=nan fade_r=128 fade_a=-512 "
                      "fast_angle=0x1p-2 size=\"0.5\"");
  EXPECT_EQ(k.mode, ROOST_SPLASH);
  EXPECT_FLOAT_EQ(k.count, 12.0f);
  EXPECT_FLOAT_EQ(k.dig, 2.5f);
  EXPECT_FLOAT_EQ(k.fast_angle, 0.25f);
  EXPECT_FLOAT_EQ(k.size, 0.5f);
  EXPECT_EQ(k.color[0], 255);
  EXPECT_EQ(k.color[1], 0);
  EXPECT_EQ(k.color[2], 17);
  EXPECT_EQ(k.color[3], 0);
  EXPECT_EQ(k.fade[0], 1);   // per second, stored per 1/128 s step
  EXPECT_EQ(k.fade[3], -4);
  EXPECT_EQ(roost("").mode, ROOST_DIRT);
  EXPECT_EQ(roost("splash=0").mode, ROOST_DIRT);
  EXPECT_EQ(messages_containing("tileinfo warning"), 0);

  const char* keys[] = {"count", "dig", "slip_threshold", "slow_angle", "fast_angle", "slow_speed", "fast_speed",
                        "size", "grow", "drag", "vscale", "randomize", "r", "g", "b", "a",
                        "fade_r", "fade_g", "fade_b", "fade_a"};
  std::string bad;
  for (const char* key : keys) bad += std::string(key) + "=x ";
  RoostKind unchanged = roost(bad.c_str());
  for (const char* key : keys) EXPECT_TRUE(message_shown(std::string("tileinfo warning: bad ") + key + "\n")) << key;
  EXPECT_FLOAT_EQ(unchanged.count, 10.0f);
  EXPECT_EQ(unchanged.fade[3], -2);
  roost("colour=1 lonely");
  EXPECT_TRUE(message_shown("tileinfo warning: unknown roost parameter 'colour=1'\n"));
  EXPECT_TRUE(message_shown("tileinfo warning: unknown roost parameter 'lonely'\n"));
}

TEST_F(TileFiles, RoostTexturesLoadWithTheirQuotesRemoved) {
  fixture_png(data, "my roost.png", 8, 1);
  fixture_png(data, "roost.png", 8, 2);
  tileinfo("roost count=3 texture=\"@my roost.png\"\nroost\naddtile\n", TileLoadOptions{false, true});
  const Tile& tile = t->tiles[0];
  ASSERT_NE(tile.roost[0].texture, nullptr);
  EXPECT_EQ(tile.roost[0].texture->name, "@my roost.png");
  EXPECT_FLOAT_EQ(tile.roost[0].count, 3.0f);
  ASSERT_NE(tile.roost[1].texture, nullptr);
  EXPECT_EQ(tile.roost[1].texture->name, "@roost.png");  // the default
  EXPECT_EQ(tile.roost[2].mode, ROOST_DISABLED);
}

TEST_F(TileFiles, BlendCodesFromTileNames) {
  tileinfo("texture @t/dirt.png\naddtile\ntexture @t/grass.png\naddtile\ntexture @t/dirt-grass-1010.png\naddtile\n"
           "texture @t/grass-alt2.png\naddtile\ntexture @t/dirt-sand-0110.png\naddtile\n"
           "texture @t/mud-grass-0001.png\naddtile\ntexture @t/grass-dirt-12.png\naddtile\n"
           "texture @t/grass-dirt.png\naddtile\n");
  ASSERT_EQ(t->tile_count, 8);
  EXPECT_EQ(t->tiles[0].blend_code, 0);
  EXPECT_EQ(t->tiles[1].blend_code, 1 << 16 | 1 << 8);
  EXPECT_EQ(t->tiles[2].blend_code, 0 << 16 | 1 << 8 | 0xa);
  EXPECT_EQ(t->tiles[3].blend_code, 1 << 16 | 1 << 8);  // an alternative look of grass
  EXPECT_EQ(t->tiles[4].blend_code, 4 << 16 | 4 << 8);  // no "sand" tile: its own code
  EXPECT_EQ(t->tiles[5].blend_code, 5 << 16 | 5 << 8);  // no "mud" tile
  EXPECT_EQ(t->tiles[6].blend_code, 1 << 16 | 0 << 8);  // "12" is no mask
  EXPECT_EQ(t->tiles[7].blend_code, 1 << 16 | 0 << 8);
}

TEST_F(TileFiles, TexturelistPrefixesAndNames) {
  fixture_png(data, "t/dirt.png", 8, 1);
  texturelist("  0.7 3 9 t/dirt.png\n\n2x.png\nt/sub/rock-repeat.png  \r\n", TileLoadOptions{false, true});
  ASSERT_EQ(t->tile_count, 3);
  EXPECT_STREQ(t->tiles[0].name, "dirt.png");
  ASSERT_NE(t->tiles[0].texture, nullptr);
  EXPECT_EQ(t->tiles[0].texture->name, "@t/dirt.png");
  for (int i = 0; i < 8; i++) {
    EXPECT_FLOAT_EQ(t->tiles[0].friction[i].value, 0.7f);
    EXPECT_FLOAT_EQ(t->tiles[0].roll_resist[i].heavy, 9.0f);
  }
  EXPECT_FLOAT_EQ(t->tiles[0].friction[0].key, 1.0f);
  EXPECT_EQ(t->tiles[0].roost[0].mode, ROOST_DIRT);
  EXPECT_EQ(t->tiles[0].roost[1].mode, ROOST_DISABLED);
  EXPECT_STREQ(t->tiles[1].name, "2x.png");
  EXPECT_FLOAT_EQ(t->tiles[1].friction[3].value, 1.0f);
  EXPECT_FLOAT_EQ(t->tiles[1].roll_resist[0].light, 5.0f);
  EXPECT_STREQ(t->tiles[2].name, "rock-repeat.png");
  EXPECT_EQ(t->tiles[2].texture, nullptr);  // no such file
}

TEST_F(TileFiles, TablesStopAt256Tiles) {
  std::string text;
  for (int i = 0; i < 300; i++) text += "addtile\n";
  tileinfo(text);
  EXPECT_EQ(t->tile_count, 256);
  texturelist(text);
  EXPECT_EQ(t->tile_count, 256);
  tileinfo("");
  EXPECT_EQ(t->tile_count, 1);  // an empty table still has one (default) tile
}

TEST_F(TileFiles, TileMapIsClampedToTheLastTile) {
  tileinfo("addtile\naddtile\naddtile\n");
  std::string map(16, '\0');
  map[0] = (char)200;
  map[5] = 1;
  map[15] = 3;
  data.write("t/tilemap", map);
  ASSERT_TRUE(read_tile_map(t.get(), "t"));
  EXPECT_EQ(t->tile_map[0], 2);
  EXPECT_EQ(t->tile_map[5], 1);
  EXPECT_EQ(t->tile_map[15], 2);
  EXPECT_EQ(tile_at(*t, -5.0f, -5.0f), 2);
  EXPECT_EQ(tile_at(*t, 2.5f, 3.0f), 1);

  ASSERT_TRUE(write_tile_map(*t, "copy"));
  EXPECT_EQ(data.read("copy/tilemap").size(), 16u);

  data.write("t/tilemap", std::string(15, '\1'));
  EXPECT_FALSE(read_tile_map(t.get(), "t"));
  EXPECT_TRUE(message_shown("holds fewer than 4 x 4 tiles"));
  data.remove("t/tilemap");
  EXPECT_FALSE(read_tile_map(t.get(), "t"));
  EXPECT_TRUE(message_shown("Can't open '@t/tilemap'"));
}

TEST_F(TileFiles, TileinfoIsPreferredAndOneOfTheTwoIsRequired) {
  EXPECT_FALSE(read_track_tiles(t.get(), "t", NO_TEXTURES));
  EXPECT_TRUE(message_shown("Can't open '@t/texturelist'"));
  data.write("t/texturelist", "a.png\nb.png\n");
  ASSERT_TRUE(read_track_tiles(t.get(), "t", NO_TEXTURES));
  EXPECT_EQ(t->tile_count, 2);
  data.write("t/tileinfo", "addtile\n");
  ASSERT_TRUE(read_track_tiles(t.get(), "t", NO_TEXTURES));
  EXPECT_EQ(t->tile_count, 1);
}

}  // namespace
