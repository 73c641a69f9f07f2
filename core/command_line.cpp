#include "core/command_line.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/config.h"
#include "core/scan_number.h"
#include "platform/log.h"

RunOptions g_run_options;

bool match_flag(ArgumentCursor* cursor, const char* name) {
  if (cursor->remaining <= 0 || cursor->options_ended) return false;
  if (strcmp(cursor->next[0], name) != 0) return false;
  cursor->remaining--;
  cursor->next++;
  return true;
}

bool match_value(ArgumentCursor* cursor, const char* name, const char** value) {
  if (cursor->remaining <= 0 || cursor->options_ended) return false;
  const char* argument = cursor->next[0];
  if (strcmp(argument, "--") == 0) {
    cursor->options_ended = true;
    cursor->remaining--;
    cursor->next++;
    return false;
  }
  size_t length = strlen(name);
  if (strcmp(argument, name) == 0) {
    cursor->remaining--;
    cursor->next++;
    *value = nullptr;
    if (cursor->remaining > 0) {
      *value = cursor->next[0];
      cursor->remaining--;
      cursor->next++;
    }
    return true;
  }
  if (strncmp(argument, name, length) == 0 && argument[length] == '=') {
    cursor->remaining--;
    cursor->next++;
    *value = argument + length + 1;
    return true;
  }
  return false;
}

namespace {

struct Parser {
  ArgumentCursor cursor;
  RunOptions* options;
  std::string* diagnostics;
  bool failed = false;

  bool flag(const char* name) { return !failed && match_flag(&cursor, name); }

  bool value(const char* name, const char** text) {
    return !failed && match_value(&cursor, name, text);
  }

  void bad_argument(const char* name) {
    *diagnostics += "Bad arg for ";
    *diagnostics += name;
    *diagnostics += "\n";
    failed = true;
  }

  // "%d" options with a message: a missing or unreadable value is an error.
  bool integer(const char* name, int minimum, int maximum, int* out) {
    const char* text;
    if (!value(name, &text)) return false;
    int parsed;
    if (!scan_int(text, &parsed)) {
      bad_argument(name);
      return true;
    }
    *out = std::clamp(parsed, minimum, maximum);
    return true;
  }

  // "%f" options with a message.
  bool real(const char* name, double minimum, double maximum, double* out) {
    const char* text;
    if (!value(name, &text)) return false;
    double parsed;
    if (!scan_real(text, &parsed)) {
      bad_argument(name);
      return true;
    }
    *out = std::clamp(parsed, minimum, maximum);
    return true;
  }

  // Plain decimal options without a message: a missing or bad value is 0.
  bool plain_integer(const char* name, int* out) {
    const char* text;
    if (!value(name, &text)) return false;
    *out = scan_int_or_zero(text);
    return true;
  }

  bool text(const char* name, std::string* out) {
    const char* given;
    if (!value(name, &given)) return false;
    *out = given ? given : "";
    return true;
  }
};

constexpr double k_unclamped = 1e300;

}  // namespace

CommandLineResult parse_command_line(int argc, char** argv, RunOptions* options,
                                     std::string* diagnostics) {
  Parser p{{argc > 0 ? argc - 1 : 0, argv + (argc > 0 ? 1 : 0), false}, options, diagnostics};
  RunOptions::Given& given = options->given;
  bool have_file = false;

  while (p.cursor.remaining > 0 && !p.failed) {
    const char* text = nullptr;
    int number = 0;
    double real = 0.0;
    if (p.flag("--fugly")) {
      options->flat_shading = true;
    } else if (p.flag("--nosound")) {
      options->no_sound = true;
    } else if (p.flag("--novertexarrays")) {
      options->no_vertex_arrays = true;
    } else if (p.flag("--learn")) {
      options->learn = true;
    } else if (p.flag("--nolearn")) {
      options->learn = false;
    } else if (p.flag("--nommx")) {
      options->ignore_mmx = true;
    } else if (p.flag("--debug")) {
      options->debug_level = 1;
    } else if (p.flag("--super-debug")) {
      options->debug_level = 2;
    } else if (p.flag("--practice")) {
      options->practice = true;
    } else if (p.flag("--warp")) {
      options->warp = true;
    } else if (p.integer("--texture-detail", 0, 4, &number)) {
      if (!p.failed) given.texture_level = given.ground_texture_level = number;
    } else if (p.integer("--ground-texture-detail", 0, 4, &number)) {
      if (!p.failed) given.ground_texture_level = number;
    } else if (p.integer("--roostfrequency", 0, 1000, &number)) {
      if (!p.failed) given.roost_frequency = number;
    } else if (p.real("--erode", 0.0, 100.0, &real)) {
      if (!p.failed) options->erosion = real;
    } else if (p.real("--detail", -k_unclamped, k_unclamped, &real)) {
      if (!p.failed) given.detail_factor = real;
    } else if (p.real("--max-detail-distance", -k_unclamped, k_unclamped, &real)) {
      if (!p.failed) {
        options->max_detail_distance = real;
        options->detail_fade_end = real + 5.0;
      }
    } else if (p.real("--lod-scale", 1e-6, 1e6, &real)) {
      if (!p.failed) given.lod_scale = real;
    } else if (p.real("--lod-bias", -k_unclamped, k_unclamped, &real)) {
      if (!p.failed) given.lod_bias = real;
    } else if (p.real("--lock-fps", -k_unclamped, k_unclamped, &real)) {
      if (!p.failed) options->lock_fps = real;
    } else if (p.real("--fake-lag", -k_unclamped, k_unclamped, &real)) {
      if (!p.failed) options->fake_lag = std::clamp(real * 0.001, 0.0, 1.0);
    } else if (p.integer("--fake-loss", 0, 100, &number)) {
      if (!p.failed) options->fake_loss = number;
    } else if (p.text("--record-audio", &options->record_audio)) {
    } else if (p.flag("--record-video")) {
      options->record_video = true;
    } else if (p.plain_integer("--rotate-lineup", &options->rotate_lineup)) {
    } else if (p.flag("--editor")) {
      options->editor = true;
    } else if (p.flag("--hidden-pause")) {
      options->show_paused_text = false;
    } else if (p.flag("--hidden-hud")) {
      options->show_hud = false;
    } else if (p.value("--bikes", &text)) {
      *diagnostics += "--bikes doesn't do anything anymore\n";
    } else if (p.plain_integer("--width", &number)) {
      given.width = number;
    } else if (p.plain_integer("--height", &number)) {
      given.height = number;
    } else if (p.plain_integer("--depth", &options->depth)) {
    } else if (p.plain_integer("--zdepth", &options->zdepth)) {
    } else if (p.plain_integer("--draw-fps", &number)) {
      given.draw_fps = number;
    } else if (p.plain_integer("--draw-time", &number)) {
      given.draw_time = number;
    } else if (p.plain_integer("--draw-ping", &number)) {
      given.draw_ping = number;
    } else if (p.plain_integer("--draw-render-stats", &options->draw_render_stats)) {
    } else if (p.flag("--accurate-skip")) {
      options->accurate_skip = true;
    } else if (p.text("--track", &options->track)) {
    } else if (p.value("--connect", &text)) {
      if (text && strncmp(text, "dirtvane:", 9) == 0) text += 9;
      // A host name ends at the first control character; nothing after a
      // line break may reach the configuration file.
      size_t length = 0;
      while (text && text[length] && static_cast<unsigned char>(text[length]) >= 0x20) length++;
      options->connect.assign(text ? text : "", length);
    } else if (p.text("--password", &options->password)) {
    } else if (p.value("--chase-center", &text)) {
      float x, y, z;
      if (!text || sscanf(text, "%f,%f,%f", &x, &y, &z) != 3 || !std::isfinite(x) ||
          !std::isfinite(y) || !std::isfinite(z)) {
        p.bad_argument("--chase-center");
      } else {
        options->chase_center = vec3(x, y, z);
      }
    } else if (p.flag("--open-home")) {
      return CommandLineResult::open_home;
    } else if (p.flag("--glfinish")) {
      options->glfinish = true;
    } else if (p.flag("--print-orientation")) {
      options->print_orientation = true;
    } else if (!p.failed && p.cursor.remaining > 0) {
      // No option took it (or "--" was just consumed): the file argument.
      const char* argument = p.cursor.next[0];
      p.cursor.remaining--;
      p.cursor.next++;
      if (argument[0] == '-' && !p.cursor.options_ended) {
        *diagnostics += "bad option '";
        *diagnostics += argument;
        *diagnostics += "'\n";
        return CommandLineResult::error;
      }
      if (have_file) {
        *diagnostics += "Too many files!\n";
        return CommandLineResult::error;
      }
      options->file = argument;
      have_file = true;
    }
  }
  return p.failed ? CommandLineResult::error : CommandLineResult::run;
}

RenderParameters derive_render_parameters(const Config& config) {
  RenderParameters render;
  render.detail_factor = 0.125 / config.ground_detail;
  render.ground_texture_level =
      static_cast<int>(std::trunc(std::clamp(10.0 - config.ground_texture_detail, 0.0, 10.0)));
  render.ground_texture_size = 32 << std::clamp(config.ground_texture_dim, 0, 5);
  double scale = 0.02 * std::clamp(100.0 - config.model_detail, 0.0, 100.0);
  render.lod_scale = scale > 1.0 ? scale * scale * scale : scale;
  render.lod_bias = 50.0 - 50.0 * std::clamp((config.model_detail - 10.0) * 0.05, 0.0, 1.0);
  render.texture_level =
      static_cast<int>(std::trunc(std::clamp(10.0 - config.model_texture_detail, 0.0, 10.0)));
  render.roost_frequency = static_cast<int>(std::trunc(config.roost_density));
  render.mipmaps = config.ground_mipmaps != CHOICE_NO;
  render.texture_compression = config.texture_compress;
  render.reflections = config.reflections != CHOICE_NO;
  return render;
}

void apply_command_line(RunOptions* options, Config* config) {
  const RunOptions::Given& given = options->given;
  if (options->ignore_mmx && options->has_mmx) {
    log_printf("Ignoring MMX\n");
    options->has_mmx = false;
  }
  if (!options->connect.empty()) {
    remember_server(options->connect.c_str());
  }
  // The window size and HUD switches are settings; the command line changes
  // them like the menus would.
  if (given.width) config->xres = *given.width;
  if (given.height) config->yres = *given.height;
  if (given.draw_fps) config->draw_fps = *given.draw_fps;
  if (given.draw_time) config->draw_time = *given.draw_time;
  if (given.draw_ping) config->draw_ping = *given.draw_ping;
  options->width = config->xres;
  options->height = config->yres;
  // A window of no size cannot be created; rather than failing every start
  // until the file is edited, open the default window (windowed mode then
  // stores the real size again).
  if (options->width <= 0 || options->height <= 0 || options->width > 32768 ||
      options->height > 32768) {
    log_printf("Window size %dx%d unusable, using 640x480\n", options->width, options->height);
    options->width = 640;
    options->height = 480;
  }

  RenderParameters& render = options->render;
  render = derive_render_parameters(*config);
  if (given.detail_factor) render.detail_factor = *given.detail_factor;
  if (given.texture_level) render.texture_level = *given.texture_level;
  if (given.ground_texture_level) render.ground_texture_level = *given.ground_texture_level;
  if (given.roost_frequency) render.roost_frequency = *given.roost_frequency;
  if (given.lod_scale) render.lod_scale = *given.lod_scale;
  if (given.lod_bias) render.lod_bias = *given.lod_bias;
}
