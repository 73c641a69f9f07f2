// Program entry: the start-up order, the video-mode list and CPU check, the
// one seam through which the window, audio, GL and main-loop layers join in
// (StartupStages), and the shutdown order.
#pragma once

#include <string>
#include <vector>

#include "core/command_line.h"
#include "platform/display_mode.h"

constexpr const char* DIRTVANE_VERSION = "2016-10-27-1316 snapshot";

// One entry of the "Video Mode" choice: 0 "Default Fullscreen" and
// 1 "Windowed" (both 0 x 0: the desktop size or the configured window), then
// the display modes.
struct VideoMode {
  std::string name;
  int width, height;
};

extern std::vector<VideoMode> g_video_modes;

// Entries 0 and 1, then "%dx%d" for every display mode with the colour depth
// of the first one, in the platform's order; a size listed again (at another
// refresh rate) is not repeated.
std::vector<VideoMode> build_video_mode_list(const std::vector<DisplayMode>& display_modes);
// Makes the list g_video_modes and the "video_mode" setting's value names.
void install_video_modes(const std::vector<DisplayMode>& display_modes);

// CPUID leaf 1, EDX bit 23. False on processors without CPUID leaf 1 and on
// other architectures.
bool cpu_has_mmx();

enum class SessionStart {
  started,   // window, audio and GL are up: run the session
  shut_down, // the window never became drawable: shut down normally
  failed,    // the window could not be created: end with code 1
};

// What the layers above the headless core add to start-up. Each entry may be
// left empty; the game executable fills them before calling dirtvane_main().
struct StartupStages {
  // Start-up step 6: the platform's display modes, in its own order.
  void (*list_display_modes)(std::vector<DisplayMode>* modes);
  // Step 7: hands the configuration its run-time value lists (bike model
  // names, rider/helmet/bike/wheel texture sets) with set_choice_values().
  void (*provide_setting_lists)();
  // Step 11: points-series discovery, after tracks and demos.
  void (*discover_series)(int debug_level);
  // Steps 13-18: the window, audio (or audio capture), waiting for the
  // window, GL state and extensions, fonts, HUD images and bindings, the
  // physics world.
  SessionStart (*open_session)(RunOptions* options);
  // Steps 19-21: the demo file argument, the lineup and race reset on the
  // selected track, then the main loop until the window closes.
  void (*run_session)(RunOptions* options);
  // Shutdown steps 1-2: disconnect, free the race, track, sound, fonts,
  // images and bindings, close audio, destroy the window and GL context.
  void (*close_session)();
};

extern StartupStages g_startup_stages;

// The game data check of start-up step 4 (check_game_data() from
// core/datafile.h). Only the test build of the game executable points it
// elsewhere; the shipped program has no way to change it.
extern bool (*g_game_data_check)();

// Returns the process exit code.
int dirtvane_main(int argc, char** argv);

// The headless parts dirtvane_main() runs around the stages.
// Start-up steps 5-12, once the log is open and the game data was found:
// video modes, CPU, stability preset, the configuration file, the command
// line's effects, discovery and the track choice. Returns -1 to go on, or
// the exit code (1 after "No tracks found").
int start_core(RunOptions* options);
// Shutdown step 3: writes the configuration, closes the log and frees the
// lists and the data-file tables.
void shut_down_core();
