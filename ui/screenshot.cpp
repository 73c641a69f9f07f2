#include "ui/screenshot.h"

#include <sys/stat.h>

#include <cstdio>

#include "core/datafile.h"
#include "core/message.h"
#include "render/image.h"

namespace {

std::string name_for(int n) {
  char name[32];
  snprintf(name, sizeof name, "screenshot%03d.png", n);
  return name;
}

bool taken(const std::string& name) {
  const char* home = home_directory();
  if (!home) return false;
  struct stat st;
  return lstat((std::string(home) + name).c_str(), &st) == 0;
}

}  // namespace

std::string next_screenshot_name() {
  for (int n = 0; n < SCREENSHOT_NAMES; n++) {
    std::string name = name_for(n);
    if (!taken(name)) return name;
  }
  return "";
}

bool save_screenshot(const uint8_t* rgb, int width, int height) {
  if (!rgb || width <= 0 || height <= 0) {
    show_message("Can't take a screenshot: nothing was drawn");
    return false;
  }
  std::string name = next_screenshot_name();
  if (name.empty()) {
    show_message("Can't save a screenshot: screenshot000.png to screenshot999.png all exist");
    return false;
  }
  create_home_directory();
  std::string path = std::string(home_directory() ? home_directory() : "") + name;
  if (!write_png_rgb_file(path.c_str(), rgb, width, height, false)) {
    show_message("Can't save \"%s\"", name.c_str());
    return false;
  }
  show_message("Saved \"%s\"", name.c_str());
  return true;
}
