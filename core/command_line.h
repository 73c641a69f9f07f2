// The command line: option matching on an argument cursor, the run options
// it sets, and the render parameters derived from the configuration that the
// options may replace.
#pragma once

#include <optional>
#include <string>

#include "core/types.h"

struct Config;

// Render parameters derived from the configuration (and replaceable by options).
struct RenderParameters {
  double detail_factor = 0.0025;
  int ground_texture_level = 1;
  int ground_texture_size = 128;
  double lod_scale = 1.0;
  double lod_bias = 0.0;
  int texture_level = 1;
  int roost_frequency = 250;
  bool mipmaps = true;
  int texture_compression = 1;  // TEXTURE_COMPRESS_*
  bool reflections = true;
};

struct RunOptions {
  bool flat_shading = false;     // "--fugly"
  bool no_vertex_arrays = false;
  bool no_sound = false;
  bool learn = false;            // robot line learning
  bool ignore_mmx = false;       // "--nommx"
  int debug_level = 0;           // 1 "--debug", 2 "--super-debug"
  bool practice = false;
  bool warp = false;
  RenderParameters render;
  double erosion = 0.0;          // 0..100
  double max_detail_distance = 70.0;
  double detail_fade_end = 75.0;
  double lock_fps = 0.0;         // 0: off
  double fake_lag = 0.0;         // seconds, 0..1
  int fake_loss = 0;             // percent, 0..100
  std::string record_audio;      // file name; empty: none
  bool record_video = false;
  int rotate_lineup = 0;
  bool editor = false;
  bool show_paused_text = true;
  bool show_hud = true;
  int width = 640, height = 480;
  int depth = 16, zdepth = 16;
  int draw_render_stats = 0;
  bool accurate_skip = false;
  std::string track;             // "--track"; empty: the configured one
  std::string connect;           // server to connect to; empty: none
  std::string password;
  Vec3 chase_center = {0.0f, 2.52f, 0.52f};
  bool glfinish = false;
  bool print_orientation = false;
  std::string file;              // demo file argument

  // Values given on the command line for things that otherwise come from the
  // configuration; apply_command_line() lets them win.
  struct Given {
    std::optional<int> texture_level, ground_texture_level, roost_frequency;
    std::optional<double> detail_factor, lod_scale, lod_bias;
    std::optional<int> width, height;
    std::optional<int> draw_fps, draw_time, draw_ping;
  } given;

  // Found at start-up rather than asked for.
  bool has_mmx = false;
  bool fixed_files_match = false;
};

extern RunOptions g_run_options;

// The remaining arguments and whether a bare "--" ended the options.
struct ArgumentCursor {
  int remaining;
  char** next;
  bool options_ended;
};

// A flag matches only an argument equal to its name, and consumes it.
bool match_flag(ArgumentCursor* cursor, const char* name);
// A value option matches "name value" (both consumed; *value is nullptr when
// name was the last argument) and "name=value". A bare "--" ends the options:
// it is consumed and matches nothing.
bool match_value(ArgumentCursor* cursor, const char* name, const char** value);

enum class CommandLineResult {
  run,        // go on with start-up
  open_home,  // "--open-home": open the home folder and end with 0
  error,      // end with 1
};

// Parses argv[1..] into options. Everything meant for standard error (the
// error that ends the run, or notes such as the one for "--bikes") is
// appended to diagnostics.
CommandLineResult parse_command_line(int argc, char** argv, RunOptions* options,
                                     std::string* diagnostics);

// The render parameters the configuration's settings give.
RenderParameters derive_render_parameters(const Config& config);

// Start-up's use of the parsed options once the configuration is read:
// "--connect" becomes the server name and history entry, the window size
// and HUD switches given on the command line replace the configured ones,
// and the derived render parameters are computed with the given values
// winning. "--nommx" turns off a detected MMX unit.
void apply_command_line(RunOptions* options, Config* config);
