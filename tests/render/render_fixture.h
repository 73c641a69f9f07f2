// Shared pieces of the render tests: a scratch data directory set as the only
// search directory, and small image builders.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "core/datafile.h"
#include "core/message.h"
#include "render/image.h"
#include "render/texture.h"

class DataDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/dv_render_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    set_search_directories({dir_});
    clear_message_lines();
  }
  void TearDown() override {
    purge_textures(true);
    set_texture_backend(nullptr);
    g_texture_settings = TextureSettings{};
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  void write_file(const std::string& name, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path(name)).parent_path());
    FILE* f = fopen(path(name).c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
    invalidate_catalogue();
  }
  std::string read_file(const std::string& name) const {
    std::string bytes;
    FILE* f = fopen(path(name).c_str(), "rb");
    if (!f) return bytes;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
    fclose(f);
    return bytes;
  }
  // True when one of the shown message lines contains the text.
  static bool shown(const std::string& text) {
    for (int i = 0; const char* line = message_line(i); i++)
      if (std::string(line).find(text) != std::string::npos) return true;
    return false;
  }
  std::string dir_;
};

inline Image make_image(int w, int h, int channels, uint32_t seed) {
  Image image;
  init_image(&image, w, h, channels);
  std::mt19937 rng(seed);
  for (auto& v : image.pixels) v = uint8_t(rng());
  return image;
}

// A smooth picture (gradients), the kind the predictive format is made for.
inline Image make_gradient(int w, int h, int channels) {
  Image image;
  init_image(&image, w, h, channels);
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++)
      for (int k = 0; k < channels; k++)
        image.pixels[(size_t(y) * w + x) * channels + k] = uint8_t(x * (k + 1) + y * (3 - k % 3) + 17 * k);
  return image;
}
