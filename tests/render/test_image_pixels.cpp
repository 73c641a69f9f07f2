// Mipmap rules, the hand-drawn layout, detail reduction, resampling and the
// border colour, checked against values worked out by hand.
#include "render_fixture.h"

namespace {

void set_px(Image& image, int x, int y, std::initializer_list<int> v) {
  int k = 0;
  for (int c : v) image.pixels[(size_t(y) * image.width + x) * image.channels + k++] = uint8_t(c);
}

const uint8_t* px(const Image& image, int level, int x, int y) {
  return image_level(image, level) + (size_t(y) * level_size(image.width, level) + x) * image.channels;
}

TEST(Mipmaps, ChainShapeAndOffsets) {
  EXPECT_EQ(full_chain_levels(1, 1), 1);
  EXPECT_EQ(full_chain_levels(256, 256), 9);
  EXPECT_EQ(full_chain_levels(8, 2), 4);  // 8x2, 4x1, 2x1, 1x1
  EXPECT_EQ(chain_bytes(8, 2, 3, 4), size_t(3 * (16 + 4 + 2 + 1)));
  EXPECT_EQ(level_offset(8, 2, 4, 2), size_t(4 * (16 + 4)));
  Image image = make_image(8, 2, 4, 1);
  generate_mipmaps(&image, false);
  EXPECT_EQ(image.levels, 4);
  EXPECT_EQ(image.pixels.size(), chain_bytes(8, 2, 4, 4));
}

TEST(Mipmaps, AlphaWeightedColourAndMeanOrMaxAlpha) {
  Image image;
  init_image(&image, 2, 2, 4);
  // Red channel 200, 100, 50, 0 with alpha 255, 0, 128, 0: the transparent
  // texels' colour must not count.
  set_px(image, 0, 0, {200, 10, 0, 255});
  set_px(image, 1, 0, {100, 10, 0, 0});
  set_px(image, 0, 1, {50, 10, 0, 128});
  set_px(image, 1, 1, {0, 10, 0, 0});
  Image mean = image, max = image;
  generate_mipmaps(&mean, false);
  generate_mipmaps(&max, true);
  // (200*255 + 50*128) / 383 = 149.87 -> 149; green is 10 everywhere.
  EXPECT_EQ(px(mean, 1, 0, 0)[0], 149);
  EXPECT_EQ(px(mean, 1, 0, 0)[1], 10);
  EXPECT_EQ(px(mean, 1, 0, 0)[3], 383 >> 2);
  EXPECT_EQ(px(max, 1, 0, 0)[0], 149);
  EXPECT_EQ(px(max, 1, 0, 0)[3], 255);
}

TEST(Mipmaps, UniformAlphaUsesThePlainMean) {
  for (int alpha : {0, 255}) {
    Image image;
    init_image(&image, 2, 2, 4);
    set_px(image, 0, 0, {200, 1, 2, alpha});
    set_px(image, 1, 0, {100, 1, 2, alpha});
    set_px(image, 0, 1, {50, 1, 2, alpha});
    set_px(image, 1, 1, {3, 1, 2, alpha});
    generate_mipmaps(&image, false);
    EXPECT_EQ(px(image, 1, 0, 0)[0], (200 + 100 + 50 + 3) >> 2) << alpha;
    EXPECT_EQ(px(image, 1, 0, 0)[3], alpha);
  }
}

TEST(Mipmaps, RgbBoxesAndPairsAlongAThinSide) {
  Image image;
  init_image(&image, 4, 2, 3);
  set_px(image, 0, 0, {10, 0, 0});
  set_px(image, 1, 0, {20, 0, 0});
  set_px(image, 0, 1, {30, 0, 0});
  set_px(image, 1, 1, {41, 0, 0});
  set_px(image, 2, 0, {255, 0, 0});
  set_px(image, 3, 0, {255, 0, 0});
  set_px(image, 2, 1, {255, 0, 0});
  set_px(image, 3, 1, {254, 0, 0});
  generate_mipmaps(&image, false);
  ASSERT_EQ(image.levels, 3);
  EXPECT_EQ(px(image, 1, 0, 0)[0], 25);   // 101 >> 2
  EXPECT_EQ(px(image, 1, 1, 0)[0], 254);  // 1019 >> 2
  EXPECT_EQ(px(image, 2, 0, 0)[0], (25 + 254) >> 1);

  Image column;
  init_image(&column, 1, 4, 3);
  set_px(column, 0, 0, {7, 0, 0});
  set_px(column, 0, 1, {10, 0, 0});
  generate_mipmaps(&column, false);
  EXPECT_EQ(px(column, 1, 0, 0)[0], 8);  // (7 + 10) >> 1
}

// Fills the rectangle of a level with its level number + 1.
void fill_rect(Image& image, int x0, int y0, int w, int h, int value) {
  for (int y = y0; y < y0 + h; y++)
    for (int x = x0; x < x0 + w; x++) set_px(image, x, y, {value, value, value});
}

TEST(CustomMipLayout, LevelsComeFromTheLowerThird) {
  Image image;
  init_image(&image, 256, 384, 3);
  // The layout worked out by hand: level 1 under the base at the left, level
  // 2 right of it at the top of the band, then each level under the last.
  fill_rect(image, 0, 0, 256, 256, 1);
  fill_rect(image, 0, 256, 128, 128, 2);
  fill_rect(image, 128, 256, 64, 64, 3);
  int y = 320;
  for (int level = 3, size = 32; level <= 8; level++, size /= 2) {
    fill_rect(image, 128, y, size, size, level + 1);
    y += size;
  }
  ASSERT_TRUE(extract_custom_mipmaps(&image));
  EXPECT_EQ(image.width, 256);
  EXPECT_EQ(image.height, 256);
  ASSERT_EQ(image.levels, 9);
  for (int level = 0; level < 9; level++) {
    int n = level_size(256, level);
    const uint8_t* p = image_level(image, level);
    int wrong = 0;
    for (int i = 0; i < n * n * 3; i++) wrong += p[i] != level + 1;
    EXPECT_EQ(wrong, 0) << "level " << level;
  }
}

TEST(CustomMipLayout, WrongHeightIsRefusedAndLeavesTheImage) {
  Image image = make_image(256, 300, 4, 3);
  Image before = image;
  EXPECT_FALSE(extract_custom_mipmaps(&image));
  EXPECT_EQ(image.height, 300);
  EXPECT_EQ(image.pixels, before.pixels);
}

TEST(DetailReduction, DropsTopLevelsDownTo128) {
  Image big = make_image(1024, 1024, 3, 5);
  generate_mipmaps(&big, false);
  std::vector<uint8_t> level2(image_level(big, 2), image_level(big, 2) + 256 * 256 * 3);
  EXPECT_EQ(reduce_detail(&big, 2), 2);
  EXPECT_EQ(big.width, 256);
  EXPECT_EQ(big.height, 256);
  EXPECT_EQ(big.levels, 9);
  EXPECT_EQ(std::vector<uint8_t>(big.pixels.begin(), big.pixels.begin() + 256 * 256 * 3), level2);
  EXPECT_EQ(big.pixels.size(), chain_bytes(256, 256, 3, 9));

  Image wide = make_image(256, 128, 3, 6);
  generate_mipmaps(&wide, false);
  EXPECT_EQ(reduce_detail(&wide, 2), 0);
  EXPECT_EQ(wide.width, 256);

  Image square = make_image(256, 256, 4, 7);
  generate_mipmaps(&square, false);
  EXPECT_EQ(reduce_detail(&square, 4), 1);
  EXPECT_EQ(square.width, 128);
}

TEST(Resampling, NearestPixelToThePowersOfTwoAbove) {
  Image image;
  init_image(&image, 3, 3, 3);
  for (int y = 0; y < 3; y++)
    for (int x = 0; x < 3; x++) set_px(image, x, y, {x, y, 9});
  resample_to_power_of_two(&image);
  ASSERT_EQ(image.width, 4);
  ASSERT_EQ(image.height, 4);
  EXPECT_EQ(image.levels, 1);
  // Source column j*3/4 and row i*3/4: 0, 0, 1, 2.
  const int expect[4] = {0, 0, 1, 2};
  for (int i = 0; i < 4; i++)
    for (int j = 0; j < 4; j++) {
      EXPECT_EQ(px(image, 0, j, i)[0], expect[j]);
      EXPECT_EQ(px(image, 0, j, i)[1], expect[i]);
    }
  Image exact = make_image(64, 32, 4, 2);
  Image copy = exact;
  resample_to_power_of_two(&copy);
  EXPECT_EQ(copy.pixels, exact.pixels);
}

TEST(BorderColour, FullestEdgeBinWins) {
  Image image;
  init_image(&image, 8, 8, 3);
  for (int y = 0; y < 8; y++)
    for (int x = 0; x < 8; x++) set_px(image, x, y, {0, 0, 255});  // blue inside
  for (int i = 0; i < 8; i++) {
    set_px(image, i, 0, {250, 0, 0});
    set_px(image, i, 7, {252, 30, 0});
    set_px(image, 0, i, {255, 255, 255});
  }
  // Edge pixels: 14 reds that quantise alike (top and bottom rows but their
  // first pixel), 8 whites (left column), 6 blues (right column).
  float rgba[4];
  border_colour(image, rgba);
  EXPECT_FLOAT_EQ(rgba[0], 6.0f / 7.0f);  // 250 * 7 / 255 = 6
  EXPECT_FLOAT_EQ(rgba[1], 0.0f);
  EXPECT_FLOAT_EQ(rgba[2], 0.0f);
  EXPECT_FLOAT_EQ(rgba[3], 1.0f);
}

}  // namespace
