// The main loop: one iteration per rendered frame (view choice, drawing,
// engine sound, frame timing), then fixed steps of 1/128 s until the
// simulation has caught up, each taking the input events due before it, the
// key commands, the player's control vector and the race step. Also the
// session's start (the demo argument, the start lineup and the first race
// reset). Headless: the platform comes in as FramePlatform, every subsystem
// through g_game_hooks (core/game_hooks.h).
#pragma once

#include <cstdio>

#include "core/cameras.h"
#include "core/command_line.h"
#include "core/controls.h"
#include "core/frame_timing.h"
#include "core/game_hooks.h"

enum AudioOutput : int { AUDIO_NONE = 0, AUDIO_DEVICE = 1, AUDIO_CAPTURE = 2 };

// What the loop needs from the platform. Entries other than the timing may
// be null (a test, a headless run).
struct FramePlatform {
  LoopPlatform timing;  // clock, precise sleep, event wait and poll
  bool (*window_closed)();
  bool (*begin_frame)();  // false while the window cannot be drawn
  bool (*end_frame)();    // swaps; false when the window is gone
  void (*drawable_size)(int* width, int* height);
  int (*read_axis)(int handle);
  void (*clear_frame)();    // to the clear colour, when no renderer draws
  void (*finish_frame)();   // "--glfinish"
  bool (*write_frame)(FILE* out);  // the frame as a binary PPM
  int (*audio_output)();           // AudioOutput
  void (*submit_audio)();          // device: hands the mixed block over, once per frame
  bool (*capture_audio_tick)();    // capture: appends one step's samples
};

struct MainLoop {
  ViewMode mode;
  bool paused;
  bool single_step;  // the Step binding: one race step while paused
  bool quit;         // leave at the next frame
  int viewed_slot;   // NO_BIKE when there is nothing to look at
  unsigned seen_reset_count;
  bool recording_video;  // "--record-video", until standard output refuses a frame
  bool capturing_audio;  // until the capture file refuses a step's samples

  KeyState keys;
  ControlTable table;
  float controls[CONTROL_COUNT];
  ControlLatch latch;

  ChaseOrbit orbit;
  TrackCameraState track_cameras;
  CameraPose last_pose;  // the last third-person or track-camera view drawn
  bool have_last_pose;

  FrameClock clock;
  double next_decal_drop;  // game clock of the next lowering of g_decal_count_max

  bool cursor_left_held;
  int cursor_x, cursor_y;  // raw axis values of the previous frame
  bool menu_changed;       // the open menu changed during the current step
  bool esc_quits_logged;

  long frames;  // frames run and race steps taken, for the log
  long race_steps;
};

extern MainLoop g_main_loop;
// The lineup the race resets start from ("slot" codes per bike slot); the
// menus edit it, the warp restart rotates it.
extern int g_start_lineup[MAX_BIKES];
// The largest decal count the render statistics show; the renderer raises
// it, the loop lowers it by one every 5 seconds of game time.
extern int g_decal_count_max;

constexpr double DECAL_MAXIMUM_DECAY_SECONDS = 5.0;
constexpr int START_LAPS = 1000;

// Start-up steps 19 and 20: the demo file argument, the start lineup (a
// robot rides unless a demo plays) and the first race reset.
void start_session(const RunOptions& options);

// Starts the clock and the controls; the first frame follows.
void start_main_loop(MainLoop* loop, const FramePlatform& platform);
// One frame and the steps it advances. False once the loop is to end (the
// window closed, the swap failed, or Esc without menus).
bool run_frame(MainLoop* loop, const FramePlatform& platform);
// start_main_loop, then frames until run_frame says to stop.
void run_main_loop(const FramePlatform& platform);

// The parts of a frame, for tests.
void choose_view_mode(MainLoop* loop, const RaceState& race);
void handle_event(MainLoop* loop, const InputEvent& event);
// The Tab key: first person -> third person (editor with "--editor"),
// editor -> third person (bikes settled onto the ground first), third
// person -> track camera -> first person.
void cycle_view(MainLoop* loop);
// Previous (-1) or next (+1) bike in the running order, where allowed.
void change_viewed_bike(MainLoop* loop, int direction);
// Loudness of the viewed bike's engine: 0 paused or in the editor, 0.25
// behind a menu when the player is not riding, else 1; times "volume" / 10.
float sound_master_factor(const MainLoop& loop, bool menu_open, bool riding);
// Each bike settled onto the ground: down 0.125, up 0.25 while it collides,
// down 0.125.
void settle_bikes_onto_ground();
