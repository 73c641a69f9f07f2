#include <gtest/gtest.h>

#include <memory>

#include "render/image.h"
#include "render/texture.h"
#include "tests/track/track_fixture.h"
#include "tests/track/track_test_util.h"
#include "track/assets.h"
#include "track/lighting.h"
#include "track/terrain.h"

namespace {

class TerrainLoad : public ::testing::Test {
 protected:
  void SetUp() override { clear_message_lines(); }
  void TearDown() override { purge_textures(true); }
  std::string raw_samples(const std::vector<uint16_t>& v) {
    std::string bytes;
    for (uint16_t s : v) {
      bytes += (char)(s & 0xff);
      bytes += (char)(s >> 8);
    }
    return bytes;
  }
  ScratchData data;
  std::unique_ptr<Terrain> t = std::make_unique<Terrain>();
};

TEST_F(TerrainLoad, InlineSamplesMapOntoTheHeightRange) {
  // n = 0: a 3 x 3 grid and one tile.
  std::vector<uint16_t> v = {0, 65535, 32768, 1, 2, 3, 4, 5, 65535};
  data.write("t/terrain.hf", "0 1.5 -10 30\n:" + raw_samples(v));
  ASSERT_TRUE(read_height_field(t.get(), "t"));
  EXPECT_EQ(t->N, 3);
  EXPECT_EQ(t->tiles_per_side, 1);
  EXPECT_FLOAT_EQ(t->width, 3.0f);
  EXPECT_FLOAT_EQ(t->heights[0], -10.0f);
  EXPECT_FLOAT_EQ(t->heights[1], 30.0f);
  EXPECT_NEAR(t->heights[2], -10.0f + 32768.0f * 40.0f / 65535.0f, 1e-4f);
  // Row-major with x fastest: sample 3 is column 0 of row 1.
  EXPECT_NEAR(grid_height(*t, 0, 1), -10.0f + 40.0f / 65535.0f, 1e-5f);
}

TEST_F(TerrainLoad, ShortInlineFileFailsInsteadOfReadingGarbage) {
  data.write("t/terrain.hf", "1 2 0 10\n:" + raw_samples(std::vector<uint16_t>(24, 7)));  // needs 25
  EXPECT_FALSE(read_height_field(t.get(), "t"));
  EXPECT_TRUE(message_shown("Error reading heights"));
  EXPECT_TRUE(t->heights.empty());
}

TEST_F(TerrainLoad, BadHeadersAndMissingFiles) {
  EXPECT_FALSE(read_height_field(t.get(), "t"));
  EXPECT_TRUE(message_shown("Can't open '@t/terrain.hf'"));
  for (const char* header : {"1 2 3", "x 1 2 3", "1 0 0 10", "-1 1 0 1", "40 1 0 1", "1 nan 0 1", "1 1 inf 1"}) {
    clear_message_lines();
    data.write("t/terrain.hf", header);
    EXPECT_FALSE(read_height_field(t.get(), "t")) << header;
    EXPECT_TRUE(message_shown("Bad height field parameters")) << header;
    EXPECT_TRUE(message_shown("Error reading heights")) << header;
  }
}

TEST_F(TerrainLoad, PngHeightsRepeatTheirLastRowAndColumn) {
  data.write("t/terrain.hf", "1 1 0 65535\n");  // 5 x 5 grid, heights equal to the samples
  std::vector<uint16_t> png = {10, 20, 30, 40};  // 2 x 2
  write_png_grey16_file(data.path("t/terrain.png").c_str(), png.data(), 2, 2);
  invalidate_catalogue();
  ASSERT_TRUE(read_height_field(t.get(), "t"));
  EXPECT_FLOAT_EQ(grid_height(*t, 0, 0), 10.0f);
  EXPECT_FLOAT_EQ(grid_height(*t, 4, 0), 20.0f);
  EXPECT_FLOAT_EQ(grid_height(*t, 0, 3), 30.0f);
  EXPECT_FLOAT_EQ(grid_height(*t, 4, 4), 40.0f);
  EXPECT_FLOAT_EQ(grid_height(*t, 2, 1), 40.0f);
}

TEST_F(TerrainLoad, UnreadablePngGivesAFlatFieldAtTheLowHeight) {
  data.write("t/terrain.hf", "1 1 5 9\n");
  data.write("t/terrain.png", "not a png");
  ASSERT_TRUE(read_height_field(t.get(), "t"));
  for (float h : t->heights) EXPECT_FLOAT_EQ(h, 5.0f);
}

TEST_F(TerrainLoad, HeightsDigestDependsOnTheSamplesNotTheirStorage) {
  std::vector<uint16_t> v(25);
  for (size_t i = 0; i < v.size(); i++) v[i] = (uint16_t)(i * 2000 + 3);
  data.write("a/terrain.hf", "1 1 0 100\n:" + raw_samples(v));
  data.write("b/terrain.hf", "1 1 0 100\n");
  write_png_grey16_file(data.path("b/terrain.png").c_str(), v.data(), 5, 5);
  invalidate_catalogue();
  {
    LogCapture log;
    ASSERT_TRUE(read_height_field(t.get(), "a", 2));
    char hex[41];
    for (int i = 0; i < 20; i++) snprintf(hex + 2 * i, 3, "%02x", t->heights_digest[i]);
    EXPECT_NE(log.text().find(std::string("] ") + hex + "\n"), std::string::npos);
  }
  uint8_t inline_digest[20];
  memcpy(inline_digest, t->heights_digest, 20);
  ASSERT_TRUE(read_height_field(t.get(), "b"));
  EXPECT_EQ(0, memcmp(inline_digest, t->heights_digest, 20));
  v[24] ^= 0x100;  // the high byte of the last sample
  data.write("a/terrain.hf", "1 1 0 100\n:" + raw_samples(v));
  ASSERT_TRUE(read_height_field(t.get(), "a"));
  EXPECT_NE(0, memcmp(inline_digest, t->heights_digest, 20));
}

TEST_F(TerrainLoad, ShadingIsHalvedOnlyFromTheOlderFile) {
  data.write("t/terrain.hf", fixture_inline_height_field(1, 1, 0, 1));
  ASSERT_TRUE(read_height_field(t.get(), "t"));
  EXPECT_FALSE(read_shading(t.get(), "t"));
  EXPECT_TRUE(message_shown("Can't open '@t/shading.ppm'"));

  data.write("t/shading.ppm", fixture_ppm(5, 5, 201));
  ASSERT_TRUE(read_shading(t.get(), "t"));
  EXPECT_EQ(t->shading[0], 100);
  EXPECT_EQ(t->shading[74], 100);

  Image j = {};
  init_image(&j, 5, 5, 4);
  for (size_t i = 0; i < j.pixels.size(); i++) j.pixels[i] = (uint8_t)(i % 4 == 3 ? 0 : 60 + i % 4);
  write_j_image_file(data.path("t/shadingx2.ppm").c_str(), j);
  invalidate_catalogue();
  ASSERT_TRUE(read_shading(t.get(), "t"));
  EXPECT_EQ(t->shading[0], 60);
  EXPECT_EQ(t->shading[1], 61);
  EXPECT_EQ(t->shading[3], 60);  // the alpha channel is dropped

  clear_message_lines();
  data.write("t/shadingx2.ppm", fixture_ppm(4, 5, 1));
  EXPECT_FALSE(read_shading(t.get(), "t"));
  EXPECT_TRUE(message_shown("Bad shading dimensions (4x5)"));
  data.write("t/shadingx2.ppm", "P6\n5 5\n255\nshort");
  EXPECT_FALSE(read_shading(t.get(), "t"));
  EXPECT_TRUE(message_shown("Error reading shading"));
}

TEST_F(TerrainLoad, ShadowsAreInvertedAndMustMatchTheGrid) {
  LogCapture log;
  data.write("t/terrain.hf", fixture_inline_height_field(1, 1, 0, 1));
  ASSERT_TRUE(read_height_field(t.get(), "t"));
  ASSERT_TRUE(read_shadows(t.get(), "t"));  // no file: no shadows
  for (uint8_t s : t->shadows) EXPECT_EQ(s, 0);

  std::string pgm = "P2\n5 5\n255\n";
  for (int i = 0; i < 25; i++) pgm += i == 6 ? "55 " : "255 ";
  data.write("t/shadows.pgm", pgm);
  ASSERT_TRUE(read_shadows(t.get(), "t"));
  EXPECT_EQ(t->shadows[6], 200);
  EXPECT_EQ(t->shadows[7], 0);

  data.write("t/shadows.pgm", fixture_pgm(5, 6, 0));
  EXPECT_FALSE(read_shadows(t.get(), "t"));
  EXPECT_NE(log.text().find("Bad shadow dimensions (5x6)"), std::string::npos);
  data.write("t/shadows.pgm", "P5\n5 x\n");
  EXPECT_FALSE(read_shadows(t.get(), "t"));
  EXPECT_TRUE(message_shown("Error reading shadows"));
}

TEST_F(TerrainLoad, WriterRoundTripsThroughThePngHeights) {
  init_flat_terrain(t.get(), 2, 1.5f, 0.0f);
  for (int r = 0; r < t->N; r++)
    for (int c = 0; c < t->N; c++) t->heights[(size_t)(c + t->N * r)] = -3.0f + 0.5f * c + 0.25f * r * r;
  ASSERT_TRUE(write_terrain(*t, "w"));
  EXPECT_EQ(data.read("w/terrain.hf"), "2 1.500000 -3.000000 17.000000\n");
  auto back = std::make_unique<Terrain>();
  ASSERT_TRUE(read_height_field(back.get(), "w"));
  ASSERT_EQ(back->N, t->N);
  EXPECT_FLOAT_EQ(back->spacing, 1.5f);
  for (size_t i = 0; i < t->heights.size(); i++) EXPECT_NEAR(back->heights[i], t->heights[i], 16.0f / 65535 + 1e-5f);
}

TEST_F(TerrainLoad, ShadingRecomputationAndTheNormalMap) {
  init_flat_terrain(t.get(), 1, 1.0f, 0.0f);
  TrackLighting light;
  init_lighting(&light);
  light.sun_vector = Vec3{0, 1, 0};
  t->shadows[12] = 255;
  // A slope along x in the last column's neighbourhood.
  for (int r = 0; r < t->N; r++) t->heights[(size_t)(4 + t->N * r)] = 1.0f;
  build_normal_map(t.get());
  recompute_shading(t.get(), light, 0, 0, 2, 4);
  // Flat and lit: (1 + 0.5) / 2 of full scale; fully shadowed: ambient only.
  EXPECT_EQ(t->shading[3 * 0], 191);
  EXPECT_EQ(t->shading[3 * 12 + 1], 63);
  EXPECT_EQ(t->normal_map[3 * 0 + 0], 128);
  EXPECT_EQ(t->normal_map[3 * 12 + 1], 0);
  EXPECT_EQ(t->normal_map[3 * 0 + 1], 255);
  // Outside the region nothing changed (initial shading is 128).
  EXPECT_EQ(t->shading[3 * 3], 128);
  recompute_shading(t.get(), light, -10, -10, 100, 100);  // clamped to the grid
  // At column 3 the ground tilts away from +x: less direct light, x normal negative.
  EXPECT_LT(t->shading[3 * 3], 191);
  EXPECT_LT(t->normal_map[3 * 3], 128);
}

}  // namespace
