// The game executable's part of start-up and shutdown: the window, audio,
// GL state, bindings and the main loop on the real platform, joined to the
// headless start-up through g_startup_stages, and the subsystems joined to
// the shell through g_game_hooks.
#pragma once

#include "core/main_loop.h"
#include "platform/platform.h"

// Fills g_startup_stages, g_fatal_hooks and every subsystem's section of
// g_game_hooks, and makes SIGINT and SIGTERM end the game through its normal
// shutdown. Called by main() before dirtvane_main().
void install_game_stages();

// The window start-up opens: "Dirtvane", a window of the configured size in
// the "Windowed" video mode, else full screen at the chosen mode's size (the
// desktop's own for "Default Fullscreen"); the depths from the options.
WindowSettings game_window_settings(const RunOptions& options);

// The main loop's view of the SDL platform.
FramePlatform sdl_frame_platform();

// The console's commands joined to the renderer, the sound, the cameras and
// the race (after the network, whose console they serve).
void install_console_hooks();

// The loaded track for the loop (ground height, track cameras, freeing it).
void install_track_world_hooks();
