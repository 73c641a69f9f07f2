#include "core/startup.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

#include "core/alloc_check.h"
#include "core/config.h"
#include "core/datafile.h"
#include "core/discovery.h"
#include "core/fatal.h"
#include "core/message.h"
#include "platform/log.h"

std::vector<VideoMode> g_video_modes;
StartupStages g_startup_stages = {};
bool (*g_game_data_check)() = check_game_data;

std::vector<VideoMode> build_video_mode_list(const std::vector<DisplayMode>& display_modes) {
  std::vector<VideoMode> modes = {{"Default Fullscreen", 0, 0}, {"Windowed", 0, 0}};
  if (display_modes.empty()) return modes;
  const int depth = display_modes[0].colour_bits;
  for (const DisplayMode& mode : display_modes) {
    if (mode.colour_bits != depth) continue;
    bool listed = false;
    for (size_t i = 2; i < modes.size(); i++) {
      listed = listed || (modes[i].width == mode.width && modes[i].height == mode.height);
    }
    if (listed) continue;
    char name[32];
    snprintf(name, sizeof name, "%dx%d", mode.width, mode.height);
    modes.push_back({name, mode.width, mode.height});
  }
  return modes;
}

void install_video_modes(const std::vector<DisplayMode>& display_modes) {
  g_video_modes = build_video_mode_list(display_modes);
  std::vector<std::string> names;
  for (const VideoMode& mode : g_video_modes) names.push_back(mode.name);
  set_choice_values(ChoiceListId::video_modes, names);
}

bool cpu_has_mmx() {
#if defined(__x86_64__) || defined(__i386__)
  unsigned eax, ebx, ecx, edx;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  return (edx & (1u << 23)) != 0;
#else
  return false;
#endif
}

namespace {

// Selects "--track" or the configured track; the selected track is the one
// to load unless a server will choose it.
void select_start_track(RunOptions* options) {
  const std::string wanted = options->track.empty() ? g_config.track : options->track;
  if (select_track(&g_tracks, wanted.c_str()) >= 0) {
    snprintf(g_config.track, sizeof g_config.track, "%s", wanted.c_str());
  }
  // A configured track that has gone keeps its name in the file; the first
  // track stands in for it this run.
  options->track = options->connect.empty() ? g_tracks.paths[static_cast<size_t>(g_tracks.selected)]
                                            : std::string();
}

// Everything after the session, common to every way start-up can end once
// the log is open.
void release_core() {
  log_printf(nullptr);
  g_tracks = TrackList{};
  g_demos = DemoList{};
  free_data_files();
  print_allocation_report();
}

}  // namespace

int start_core(RunOptions* options) {
  // 5.
  log_printf("Dirtvane version %s\n", DIRTVANE_VERSION);

  // 6. Fixed models, history, video modes, MMX.
  options->fixed_files_match = check_fixed_models();
  clear_server_history();
  std::vector<DisplayMode> display_modes;
  if (g_startup_stages.list_display_modes) g_startup_stages.list_display_modes(&display_modes);
  install_video_modes(display_modes);
  options->has_mmx = cpu_has_mmx();
  if (!options->has_mmx) log_printf("This CPU does not have MMX!\n");

  // 7. Stability preset and render parameters from the defaults; the value
  // lists the configuration needs before it is read.
  apply_stability(g_bike_setup.stability);
  options->render = derive_render_parameters(g_config);
  if (g_startup_stages.provide_setting_lists) g_startup_stages.provide_setting_lists();

  // 8. The configuration file.
  read_config();

  // 9. What the command line changes, and the derived render parameters.
  apply_command_line(options, &g_config);

  // 10. A server chooses the track.
  if (!options->connect.empty()) options->track.clear();

  // 11. Tracks, demos and series.
  discover_tracks(&g_tracks, options->debug_level);
  discover_demos(&g_demos, options->debug_level);
  if (g_startup_stages.discover_series) g_startup_stages.discover_series(options->debug_level);
  if (g_tracks.paths.empty()) {
    fputs("No tracks found\n", stderr);
    release_core();
    return 1;
  }

  // 12. The track choice.
  select_start_track(options);

  return -1;
}

void shut_down_core() {
  if (write_config()) {
    log_printf("Configuration saved\n");
  } else {
    log_printf("Can't save the configuration in '%s'\n", home_directory() ? home_directory() : "(no home directory)");
  }
  release_core();
}

int dirtvane_main(int argc, char** argv) {
  install_out_of_memory_handler();
  RunOptions& options = g_run_options;

  // 1. Defaults.
  options = RunOptions{};
  reset_config();

  // 2. A lone "--open-home" does nothing else.
  if (argc == 2 && strcmp(argv[1], "--open-home") == 0) {
    open_home_folder();
    return 0;
  }

  // The command line is checked before anything touches the disk, so a
  // mistyped option is reported as such even without game data; what the
  // options change in the configuration is applied after it is read (9.).
  std::string diagnostics;
  CommandLineResult parsed = parse_command_line(argc, argv, &options, &diagnostics);
  fputs(diagnostics.c_str(), stderr);
  if (parsed == CommandLineResult::error) return 1;
  if (parsed == CommandLineResult::open_home) {
    open_home_folder();
    return 0;
  }

  // 3. Message lines. Standard input needs no binary mode here.
  clear_message_lines();

  // 4. Home directory, log, game data.
  create_home_directory();
  log_printf("VORN_LOGFILE=%slastlog.txt", home_directory());
  if (!g_game_data_check()) {
    show_message_box("Problem starting Dirtvane", "Can't find game data\n");
    release_core();
    return 0;
  }

  int code = start_core(&options);
  if (code >= 0) return code;

  // 13-21 belong to the window, audio, GL and game layers.
  bool session_open = false;
  if (g_startup_stages.open_session) {
    SessionStart start = g_startup_stages.open_session(&options);
    if (start == SessionStart::failed) {
      if (g_startup_stages.close_session) g_startup_stages.close_session();
      release_core();
      return 1;
    }
    session_open = true;
    if (start == SessionStart::started && g_startup_stages.run_session) {
      g_startup_stages.run_session(&options);
    }
  } else {
    printf("Dirtvane: no window layer in this build yet. Start-up found %zu track%s and %zu demo%s"
           " and read the configuration; nothing can be shown.\n",
           g_tracks.paths.size(), g_tracks.paths.size() == 1 ? "" : "s", g_demos.paths.size(),
           g_demos.paths.size() == 1 ? "" : "s");
    fflush(stdout);
  }

  // Shutdown.
  // 1-2. Network, race, track, sound, images, audio, window.
  if (session_open && g_startup_stages.close_session) g_startup_stages.close_session();
  // 3. Configuration, log, lists.
  shut_down_core();
  // 4. Give the audio device and the window a moment to go away.
  if (session_open) sleep(1);
  return 0;
}
