// The console line: chat to the race server, or, after "/" or "\", a local
// command matched as a whole word. Every command answers on the message
// lines. The interface's chat line runs its own display commands first
// ("togglefps", "toggletime", "toggleping", "togglegraph", "messagelines",
// "mapscale", ui/chat.h) and hands everything else here. The switches the
// console owns (keyframe camera, a forced track reload) live in g_console
// for the cameras and the race reset to read; what belongs to other subsystems (render statistics,
// the sound pipe, the camera's aim, the random state, the camera pose for a
// keyframe) comes through g_console_hooks, and a command whose hook is
// missing says so.
#pragma once

#include <string>

#include "net/client.h"
#include "net/keyframes.h"

constexpr double CHAT_REPEAT_SECONDS = 2.0;

struct ConsoleState {
  double last_chat = -1e9;        // real time of the last chat line sent
  bool force_reload = false;      // "forcereload": the next restart reloads the track
  KeyframeTrack keyframes;        // "addkey", "listkeys", "togglekeycam" ...
};

extern ConsoleState g_console;

struct ConsoleHooks {
  void (*reset_render_stats)();
  // The viewed bike's sound pipe: "pipe %f %f %f %d %d".
  bool (*set_pipe)(float a, float b, float c, int d, int e);
  // Aims the camera; radians.
  void (*aim_camera)(float yaw, float pitch);
  // The random generator's state as text.
  std::string (*random_state)();
  // The camera's pose now and the time a keyframe is stamped with (seconds
  // of replay or game time); false when there is no view.
  bool (*camera_pose)(Vec3* position, Quat* rotation, double* time);
  // The loaded track for "savetrackinfo"; false when none is loaded.
  bool (*track_info)(TrackInfo* info);
};

extern ConsoleHooks g_console_hooks;

// One line typed into the console, at real time `now`, for `client` (the
// game's: g_net_client). Chat goes to the server; commands run here. The
// interface's chat line keeps the two-second rule itself and passes
// spam_rule false.
void console_line(NetClient* client, const char* line, double now, bool spam_rule = true);

// Only letters, digits, '_' and '.', and not dots alone: a name that stays
// inside the folder it is put in.
bool valid_file_name(const std::string& name);

// "@setups/" + name, the bike setup block of the configuration file.
bool write_setup_file(const std::string& name);
bool read_setup_file(const std::string& name);

// The frame-time histogram as "%d=%d " pairs (bucket 128 >> i, count).
std::string frame_histogram_text(const long counts[7]);
