// Frame timing and fixed-step scheduling of the main loop: how much simulated
// time a frame advances, the frame-time statistics, and the fixed 1/128 s
// steps with the input events each step takes. Headless: the clock, the sleep
// and the event source come in as plain function pointers, so the same code
// runs on the platform layer and on a scripted clock in tests.
#pragma once

#include "core/types.h"
#include "platform/input.h"

constexpr double STEP_SECONDS = TICK_SECONDS;
constexpr double MAX_FRAME_SLICE = 0.125;  // at most 16 steps per frame
constexpr int WARP_STEPS_PER_FRAME = 100;
constexpr int FRAME_TIME_BUCKETS = 7;

// What the loop needs from the platform; platform.h's functions fit directly:
// {platform_seconds, precise_sleep_until, wait_input_event, poll_input_event}.
struct LoopPlatform {
  double (*now)();
  void (*sleep_until)(double deadline);
  bool (*wait_event)(double deadline, InputEvent* out);
  bool (*poll_event)(double deadline, InputEvent* out);
};

// Bucket k counts frames whose measured slice was below STEP_SECONDS x 2^k
// (the smallest such k); the last bucket also takes every longer frame.
struct FrameTimeStats {
  long counts[FRAME_TIME_BUCKETS];
  double shortest;  // shortest and longest dt handed to the simulation
  double longest;
};

struct FrameTimingSettings {
  double lock_fps;  // "--lock-fps": > 0 fixes every frame at 1/lock_fps
  bool warp;        // "--warp": every frame advances 100 steps
};

// The network client's view of the server clock, for the connected stretch.
struct ConnectedClock {
  bool connected;
  int newest_server_tick;  // newest tick the server has reported
  int local_tick;          // the local race tick
  int gate_drop_tick;      // the race's gate-drop tick
};

struct FrameClock {
  double reading;     // real time of the latest frame reading
  double target;      // sum of all frame slices handed to the simulation
  double simulated;   // advanced by one step per step
  double game_clock;  // advances with target
  FrameTimeStats stats;
};

// Starts the clock at real time now with no simulated time.
void start_frame_clock(FrameClock* clock, double now);

// The factor the connected stretch and shrink apply to a frame's dt.
double connected_time_scale(const ConnectedClock& net);

// Measures this frame (sleeping where the settings ask), records the
// statistics, and advances target and game clock by the returned dt.
double advance_frame_clock(FrameClock* clock, const FrameTimingSettings& settings, const ConnectedClock& net,
                           const LoopPlatform& platform);

// A headless client's real-time clock (no frames, no sleeping of its own):
// each reading of real time hands out the fixed steps now due, the
// connected stretch applied, at most MAX_FRAME_SLICE of real time a reading
// and never more than that slice's steps; a longer stall is not caught up.
struct RealTimeSteps {
  double reading = -1.0;  // real time of the latest reading; < 0 before the first
  double target = 0.0;    // simulated time due
  double simulated = 0.0;
};

// The steps to run for the reading now. The first reading only starts the
// clock (0 steps).
int real_time_steps_due(RealTimeSteps* clock, double now, const ConnectedClock& net);

// Fixed steps, used as:
//   double deadline;
//   while (begin_fixed_step(&clock, &deadline)) {
//     InputEvent e;
//     while (next_step_event(platform, deadline, &e)) handle(e);
//     ... build the control vector, run the step ...
//   }
// begin_fixed_step advances simulated time by one step while it is behind
// the target; the step's real-time deadline is reading - (target - simulated).
bool begin_fixed_step(FrameClock* clock, double* deadline);

// The next event for the step with this deadline: while the deadline lies in
// the future the platform waits for one; after it only already queued events
// stamped at or before the deadline are taken. An event stamped after the
// deadline stays queued for a later step, so every event reaches the first
// step whose deadline it precedes and never an earlier one.
bool next_step_event(const LoopPlatform& platform, double deadline, InputEvent* out);
