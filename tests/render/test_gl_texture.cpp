// The texture cache on the GPU backend: what the GL holds after a load
// (wrapping, filters, levels, pixels, border colour, compression), animation
// frames replaced in place, and purged textures gone from the GL.
#include <filesystem>

#include "core/datafile.h"
#include "render/gl_texture.h"
#include "tests/render/gl_fixture.h"

namespace {

class GlTextureTest : public GlTest {
 protected:
  void SetUp() override {
    GlTest::SetUp();
    if (IsSkipped()) return;
    char pattern[] = "/tmp/dv_gltex_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    set_search_directories({dir_});
    start_gl_textures();
  }
  void TearDown() override {
    if (!dir_.empty()) {
      purge_textures(true);
      stop_gl_textures();
      g_texture_settings = TextureSettings{};
      std::error_code ec;
      std::filesystem::remove_all(dir_, ec);
    }
  }
  void write(const std::string& name, const std::string& bytes) {
    FILE* f = fopen((dir_ + "/" + name).c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
    invalidate_catalogue();
  }
  // A size x size RGB picture: a diagonal gradient with a blue edge.
  void write_png(const std::string& name, int w, int h) {
    std::vector<uint8_t> rgb((size_t)w * h * 3);
    for (int y = 0; y < h; y++)
      for (int x = 0; x < w; x++) {
        uint8_t* p = &rgb[((size_t)y * w + x) * 3];
        bool edge = x == 0 || y == 0 || x == w - 1 || y == h - 1;
        p[0] = edge ? 0 : (uint8_t)(x * 255 / w);
        p[1] = edge ? 0 : (uint8_t)(y * 255 / h);
        p[2] = edge ? 255 : 40;
      }
    ASSERT_TRUE(write_png_rgb_file((dir_ + "/" + name).c_str(), rgb.data(), w, h, false));
    invalidate_catalogue();
  }
  static GLint parameter(const Texture* t, GLenum name) {
    GLint v = 0;
    gl.BindTexture(GL_TEXTURE_2D, t->handle);
    gl.GetTexParameteriv(GL_TEXTURE_2D, name, &v);
    return v;
  }
  static GLint level_width(const Texture* t, int level) {
    GLint v = 0;
    gl.BindTexture(GL_TEXTURE_2D, t->handle);
    gl.GetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_WIDTH, &v);
    return v;
  }
  static std::vector<uint8_t> level_pixels(const Texture* t, int level, int channels) {
    std::vector<uint8_t> out((size_t)level_width(t, level) * level_width(t, level) * channels);
    gl.PixelStorei(GL_PACK_ALIGNMENT, 1);
    gl.GetTexImage(GL_TEXTURE_2D, level, channels == 4 ? GL_RGBA : GL_RGB, GL_UNSIGNED_BYTE, out.data());
    return out;
  }
  std::string dir_;
};

}  // namespace

TEST_F(GlTextureTest, NameSuffixesChooseWrappingAndEveryLevelIsUploaded) {
  write_png("grass-repeat.png", 64, 64);
  write_png("rail-hrepeat.png", 64, 64);
  write_png("post-vrepeat.png", 64, 64);
  write_png("sign.png", 64, 64);
  Texture* grass = load_texture("@grass-repeat.png");
  Texture* rail = load_texture("@rail-hrepeat.png");
  Texture* post = load_texture("@post-vrepeat.png");
  Texture* sign = load_texture("@sign.png");
  ASSERT_TRUE(grass && rail && post && sign);
  EXPECT_EQ(parameter(grass, GL_TEXTURE_WRAP_S), GL_REPEAT);
  EXPECT_EQ(parameter(grass, GL_TEXTURE_WRAP_T), GL_REPEAT);
  EXPECT_EQ(parameter(rail, GL_TEXTURE_WRAP_S), GL_REPEAT);
  EXPECT_EQ(parameter(rail, GL_TEXTURE_WRAP_T), GL_CLAMP_TO_EDGE);
  EXPECT_EQ(parameter(post, GL_TEXTURE_WRAP_S), GL_CLAMP_TO_EDGE);
  EXPECT_EQ(parameter(post, GL_TEXTURE_WRAP_T), GL_REPEAT);
  EXPECT_EQ(parameter(sign, GL_TEXTURE_WRAP_S), GL_CLAMP_TO_EDGE);
  EXPECT_EQ(parameter(sign, GL_TEXTURE_MIN_FILTER), GL_LINEAR_MIPMAP_NEAREST);
  EXPECT_EQ(parameter(sign, GL_TEXTURE_MAG_FILTER), GL_LINEAR);
  // 64 down to 1: seven levels, each the chain the cache generated.
  EXPECT_EQ(level_width(sign, 6), 1);
  EXPECT_EQ(level_width(sign, 2), 16);
  Image expected;
  init_image(&expected, 64, 64, 3);
  ASSERT_TRUE(read_png_file("@sign.png", &expected, nullptr));
  generate_mipmaps(&expected, false);
  std::vector<uint8_t> level2 = level_pixels(sign, 2, 3);
  const uint8_t* want = image_level(expected, 2);
  EXPECT_TRUE(std::equal(level2.begin(), level2.end(), want));
  EXPECT_EQ(gl_errors(), (GLenum)GL_NO_ERROR);
}

TEST_F(GlTextureTest, RgbTexturesGetTheirEdgeColourAsBorder) {
  write_png("edge.png", 32, 32);
  Texture* t = load_texture("@edge.png");
  ASSERT_NE(t, nullptr);
  float border[4] = {-1, -1, -1, -1};
  gl.BindTexture(GL_TEXTURE_2D, t->handle);
  gl.GetTexParameterfv(GL_TEXTURE_2D, GL_TEXTURE_BORDER_COLOR, border);
  EXPECT_FLOAT_EQ(border[0], 0.0f);
  EXPECT_FLOAT_EQ(border[1], 0.0f);
  EXPECT_FLOAT_EQ(border[2], 1.0f);  // the blue frame
}

TEST_F(GlTextureTest, DetailReductionUploadsTheSmallerTop) {
  write_png("big.png", 1024, 1024);
  write_png("wide.png", 256, 128);
  g_texture_settings.detail = 2;
  Texture* big = load_texture("@big.png");
  Texture* wide = load_texture("@wide.png");
  Texture* full = load_texture("!@big.png");
  ASSERT_TRUE(big && wide);
  EXPECT_EQ(level_width(big, 0), 256);
  EXPECT_EQ(level_width(wide, 0), 256);  // stops at 128 on the short side
  // "!" shares the cache entry made first; a fresh "!" load keeps 1024.
  EXPECT_EQ(full, big);
  purge_textures(true);
  full = load_texture("!@big.png");
  ASSERT_NE(full, nullptr);
  EXPECT_EQ(level_width(full, 0), 1024);
}

TEST_F(GlTextureTest, CompressionWhenAskedCountsWhatTheGlReports) {
  write_png("packed.png", 64, 64);
  write("packed.png.info", "[compress]\n");
  write_png("plain.png", 64, 64);
  reset_texture_memory();
  Texture* plain = load_texture("@plain.png");
  ASSERT_NE(plain, nullptr);
  uint64_t raw = texture_memory_used();
  EXPECT_EQ(raw, chain_bytes(64, 64, 3, 7));
  GLint is_compressed = 1;
  gl.BindTexture(GL_TEXTURE_2D, plain->handle);
  gl.GetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_COMPRESSED_ARB, &is_compressed);
  EXPECT_EQ(is_compressed, 0);

  reset_texture_memory();
  Texture* packed = load_texture("@packed.png");
  ASSERT_NE(packed, nullptr);
  gl.BindTexture(GL_TEXTURE_2D, packed->handle);
  gl.GetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_COMPRESSED_ARB, &is_compressed);
  uint64_t counted = texture_memory_used();
  if (is_compressed) {
    GLint size = 0;
    gl.GetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_COMPRESSED_IMAGE_SIZE_ARB, &size);
    EXPECT_GT(size, 0);
    EXPECT_LT(counted, raw);
  } else {
    EXPECT_EQ(counted, raw);  // a GL without a compressed format keeps the plain one
  }
  // "never" leaves even a "[compress]" texture plain.
  purge_textures(true);
  g_texture_settings.compress = 0;
  packed = load_texture("@packed.png");
  ASSERT_NE(packed, nullptr);
  gl.BindTexture(GL_TEXTURE_2D, packed->handle);
  gl.GetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_COMPRESSED_ARB, &is_compressed);
  EXPECT_EQ(is_compressed, 0);
  EXPECT_EQ(gl_errors(), (GLenum)GL_NO_ERROR);
}

TEST_F(GlTextureTest, AnimationFramesReplaceTheLevelsInPlace) {
  // Two 4 x 4 PNG frames of different greys.
  std::vector<uint8_t> a(4 * 4 * 3, 30), b(4 * 4 * 3, 200);
  ASSERT_TRUE(write_png_rgb_file((dir_ + "/f0.png").c_str(), a.data(), 4, 4, false));
  ASSERT_TRUE(write_png_rgb_file((dir_ + "/f1.png").c_str(), b.data(), 4, 4, false));
  write("flag.seq", "ANIM1 2 2 4 1\n0 1\nPNG @f0.png\nPNG @f1.png\n");
  Texture* t = load_texture("@flag.seq");
  ASSERT_NE(t, nullptr);
  ASSERT_NE(t->animation, nullptr);
  unsigned handle = t->handle;
  gl.BindTexture(GL_TEXTURE_2D, t->handle);
  EXPECT_EQ(level_pixels(t, 0, 3)[0], 30);
  start_animation(t, 0);
  update_animations(4);  // frame 1 after four ticks
  EXPECT_EQ(t->handle, handle);  // the same GL texture, new pixels
  gl.BindTexture(GL_TEXTURE_2D, t->handle);
  EXPECT_EQ(level_pixels(t, 0, 3)[0], 200);
  EXPECT_EQ(level_pixels(t, 2, 3)[0], 200);  // every level
  update_animations(8);
  gl.BindTexture(GL_TEXTURE_2D, t->handle);
  EXPECT_EQ(level_pixels(t, 0, 3)[0], 30);
  EXPECT_EQ(gl_errors(), (GLenum)GL_NO_ERROR);
}

TEST_F(GlTextureTest, PurgeDeletesOlderGenerationsFromTheGl) {
  write_png("old.png", 16, 16);
  write_png("kept.png", 16, 16);
  advance_texture_generation();
  Texture* old_one = load_texture("@old.png");
  Texture* kept = load_texture("@kept.png");
  ASSERT_TRUE(old_one && kept);
  GLuint old_handle = old_one->handle, kept_handle = kept->handle;
  advance_texture_generation();
  ASSERT_EQ(load_texture("@kept.png"), kept);  // used again by the new load
  purge_textures(false);
  EXPECT_FALSE(gl.IsTexture(old_handle));
  EXPECT_TRUE(gl.IsTexture(kept_handle));
  purge_textures(true);
  EXPECT_FALSE(gl.IsTexture(kept_handle));
}
