// GL tests: one private Xvfb per test process, one window with its context
// (Mesa's software GL), the renderer's entry points fetched from it, and
// frame read-back helpers for checking pictures.
#pragma once

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "platform/log.h"
#include "platform/platform.h"
#include "render/gl_api.h"
#include "render/gl_probe.h"
#include "tests/platform/xvfb.h"

// The GL driver is unloaded when the display closes, before the leak check
// runs; keeping it mapped keeps the blocks it still holds reachable.
inline void pin_gl_driver() {
  std::ifstream maps("/proc/self/maps");
  for (std::string line; std::getline(maps, line);) {
    size_t slash = line.find('/');
    if (slash == std::string::npos || line.find("_dri.so") == std::string::npos) continue;
    dlopen(line.c_str() + slash, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
  }
}

struct Rgb {
  int r, g, b;
};

class GlTest : public ::testing::Test {
 public:
  static constexpr int WIDTH = 320, HEIGHT = 240;

  static void SetUpTestSuite() {
    server_ = new Xvfb();
    running_ = server_->start(&why_);
    if (!running_) return;
    WindowSettings s = {"Dirtvane render test", WIDTH, HEIGHT, 24, 24, false};
    running_ = create_window(s);
    if (!running_) {
      why_ = "no window or GL context";
      return;
    }
    pin_gl_driver();
    for (int i = 0; i < 162 && !begin_frame(); i++) precise_sleep(1.0 / 16);
  }
  static void TearDownTestSuite() {
    unload_gl_api();
    platform_shutdown();
    delete server_;
    server_ = nullptr;
  }
  void SetUp() override {
    if (!running_) GTEST_SKIP() << why_;
    ASSERT_TRUE(probe_gl(gl_proc_address));
    gl.Viewport(0, 0, WIDTH, HEIGHT);
  }

  // Every error the GL has noted since the last call (0 when none).
  static GLenum gl_errors() {
    GLenum first = GL_NO_ERROR;
    for (int i = 0; i < 32; i++) {
      GLenum e = gl.GetError();
      if (e == GL_NO_ERROR) break;
      if (first == GL_NO_ERROR) first = e;
    }
    return first;
  }

  // The back buffer, bottom row first (GL's order).
  static std::vector<uint8_t> read_back() {
    std::vector<uint8_t> rgb((size_t)WIDTH * HEIGHT * 3);
    gl.PixelStorei(GL_PACK_ALIGNMENT, 1);
    gl.ReadPixels(0, 0, WIDTH, HEIGHT, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
    return rgb;
  }
  // Pixel (x, y) with y counted from the bottom.
  static Rgb pixel(const std::vector<uint8_t>& rgb, int x, int y) {
    const uint8_t* p = &rgb[((size_t)y * WIDTH + (size_t)x) * 3];
    return {p[0], p[1], p[2]};
  }

  static Xvfb* server_;
  static bool running_;
  static std::string why_;
};

inline Xvfb* GlTest::server_ = nullptr;
inline bool GlTest::running_ = false;
inline std::string GlTest::why_;
