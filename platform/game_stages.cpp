// Start-up steps 13 to 21 and shutdown steps 1 and 2 on the real platform.
#include "platform/game_stages.h"

#include <algorithm>
#include <csignal>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/command_line.h"
#include "core/controls.h"
#include "core/fatal.h"
#include "core/message.h"
#include "core/startup.h"
#include "platform/gl_state.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "bike/ruts.h"
#include "net/game_client.h"
#include "race/race_game.h"
#include "race/race_results.h"
#include "race/series.h"
#include "render/renderer.h"
#include "replay/replay_game.h"
#include "render/texture.h"
#include "sound/bike_sound.h"
#include "sound/sound.h"
#include "sound/sound_output.h"
#include "track/track.h"
#include "ui/ui.h"

namespace {

// Ruts: every wheel pass of the race step digs at the "--erode" strength.
void erode_under_wheels(void*, Bike* bike, LoadedTrack* track) {
  if (g_run_options.erosion > 0 && track) erosion_step(bike, &track->terrain, (float)g_run_options.erosion);
}

constexpr int WINDOW_WAIT_ATTEMPTS = 162;
constexpr double WINDOW_WAIT_INTERVAL = 1.0 / 16.0;
// Far beyond any display, short of sizes the window system rejects outright.
constexpr int WINDOW_MAX_SIDE = 16384;

void list_modes(std::vector<DisplayMode>* modes) { *modes = list_display_modes(); }

}  // namespace

WindowSettings game_window_settings(const RunOptions& options) {
  WindowSettings settings = {"Dirtvane", g_config.xres, g_config.yres, options.depth, options.zdepth, false};
  int index = g_config.video_mode;
  if (index < 0 || index >= (int)g_video_modes.size()) index = VIDEO_MODE_DEFAULT_FULLSCREEN;
  if (index != VIDEO_MODE_WINDOWED) {
    settings.fullscreen = true;
    settings.width = g_video_modes[(size_t)index].width;
    settings.height = g_video_modes[(size_t)index].height;
  }
  settings.width = std::min(settings.width, WINDOW_MAX_SIDE);
  settings.height = std::min(settings.height, WINDOW_MAX_SIDE);
  return settings;
}

namespace {

void open_audio(const RunOptions& options) {
  // Without a device the game runs silent; the log says why.
  bool capture = !options.record_audio.empty();
  if (!open_sound_output(capture ? options.record_audio.c_str() : nullptr, options.no_sound) && capture) {
    show_message("Can't record audio to '%.900s'\n", options.record_audio.c_str());
  }
}

bool wait_for_window() {
  for (int attempt = 0; attempt < WINDOW_WAIT_ATTEMPTS; attempt++) {
    if (begin_frame()) return true;
    if (window_closed()) return false;
    precise_sleep(WINDOW_WAIT_INTERVAL);
  }
  return false;
}

void log_bindings() {
  for (const SettingRow& row : config_rows()) {
    if (row.kind != SettingKind::binding) continue;
    const Binding& b = *row.binding;
    if (b.key_code > 0) {
      log_printf("%s: key '%s' (%d)\n", row.key, b.key_name.c_str(), b.key_code);
    } else if (b.axis >= 0) {
      log_printf("%s: axis '%s' (%d) %f..%f\n", row.key, b.axis_name.c_str(), b.axis, b.low, b.high);
    }
  }
}

SessionStart open_game_session(RunOptions* options) {
  // A reader of the video stream that goes away must not end the game
  // without its shutdown: the write fails instead and recording stops.
  if (options->record_video) signal(SIGPIPE, SIG_IGN);

  // 13.
  if (!create_window(game_window_settings(*options))) {
    show_message_box("Problem starting Dirtvane", "Can't open the game window\n");
    return SessionStart::failed;
  }
  // 14.
  open_audio(*options);
  // 15.
  if (!wait_for_window()) {
    log_printf("The window never became ready to draw\n");
    return SessionStart::shut_down;
  }
  // 16.
  log_gl_strings();
  if (g_game_hooks.render.start_gl) g_game_hooks.render.start_gl();
  set_initial_gl_state(options->flat_shading);
  // 17.
  if (g_game_hooks.ui.load_assets) g_game_hooks.ui.load_assets();
  bind_all_controls(g_config.bindings);
  bind_menu_keys(&g_menu_keys);
  if (options->debug_level >= 1) log_bindings();
  // 18.
  if (g_game_hooks.physics.create_world) g_game_hooks.physics.create_world();
  return SessionStart::started;
}

// 19 to 21.
void run_game_session(RunOptions* options) {
  if (window_closed()) return;  // told to stop during start-up
  start_session(*options);
  run_main_loop(sdl_frame_platform());
}

void close_game_session() {
  log_printf("Shutting down\n");
  const GameHooks& hooks = g_game_hooks;
  // 1.
  if (hooks.net.disconnect) hooks.net.disconnect();
  // 2.
  if (hooks.race.free_race) hooks.race.free_race();
  if (hooks.physics.free_world) hooks.physics.free_world();
  if (hooks.world.free_track) hooks.world.free_track();
  if (hooks.sound.free) hooks.sound.free();
  if (hooks.ui.free) hooks.ui.free();
  if (hooks.render.free) hooks.render.free();
  purge_textures(true);  // the texture and image caches, while the GL context still exists
  platform_shutdown();  // audio or the capture file, the window and its context, SDL
}

int audio_output() {
  if (!audio_is_open()) return AUDIO_NONE;
  return audio_format().capture ? AUDIO_CAPTURE : AUDIO_DEVICE;
}

void native_message_box(const char* title, const char* text) { show_native_message_box(title, text); }

void free_bike_sound(void*, int slot) { delete_bike_sound(slot); }

}  // namespace

FramePlatform sdl_frame_platform() {
  FramePlatform platform = {};
  platform.timing = {platform_seconds, precise_sleep_until, wait_input_event, poll_input_event};
  platform.window_closed = window_closed;
  platform.begin_frame = begin_frame;
  platform.end_frame = end_frame;
  platform.drawable_size = drawable_size;
  platform.read_axis = read_axis;
  platform.clear_frame = clear_gl_frame;
  platform.finish_frame = finish_gl_frame;
  platform.write_frame = write_frame_ppm;
  platform.audio_output = audio_output;
  platform.submit_audio = mix_audio_frame;
  platform.capture_audio_tick = capture_audio_tick;
  return platform;
}

void install_game_stages() {
  install_shutdown_signals();
  g_fatal_hooks = {native_message_box, close_platform_devices};

  g_startup_stages.list_display_modes = list_modes;
  g_startup_stages.discover_series = discover_game_series;
  g_startup_stages.open_session = open_game_session;
  g_startup_stages.run_session = run_game_session;
  g_startup_stages.close_session = close_game_session;

  // The subsystems, each filling its own section of g_game_hooks.
  install_track_world_hooks();
  install_race_hooks();
  install_replay_hooks();
  install_results_hooks();
  install_game_network();
  install_console_hooks();
  install_sound_hooks(&g_game_hooks, race_bike_in_slot);
  g_race.seams.bike_freed = free_bike_sound;
  g_race.seams.wheel_terrain = erode_under_wheels;
  install_renderer(gl_proc_address);
  install_ui_hooks();
}
