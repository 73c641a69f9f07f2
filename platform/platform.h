// The platform layer the game sees: one window with its OpenGL context, the
// display modes, input events, axes, text input, message boxes and the audio
// output. Implemented over SDL2 in the sdl_*.cpp files; this header exposes
// plain structs and functions only. Everything here is called from the main
// thread except where a function says otherwise.
//
// Platform options (VORN_OPTIONS, "[name:value]"): "fullscreen" forces full
// screen; "threaded" is read and logged, but window events always stay on the
// main thread (SDL must pump them on the thread that made the window); "dinput"
// off leaves joysticks and game controllers closed ("dinputsticksonly" has no
// meaning here); "dsnd" and "waveout" both off mean no sound device;
// "sound-rate", "sound-channels", "sound-mixahead" shape the audio output;
// "message-box" off sends message boxes to standard error only (for unattended
// runs, where a modal box would wait forever).
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "platform/clock.h"
#include "platform/display_mode.h"
#include "platform/input.h"

// ---------------------------------------------------------------------------
// Window and OpenGL context

struct WindowSettings {
  const char* title;
  int width, height;  // full screen at 0 x 0 means the desktop's own size
  int colour_bits;    // 16, 24 or 32
  int depth_bits;     // z-buffer bits
  bool fullscreen;    // the "fullscreen" platform option forces it on
};

// Opens the window with an OpenGL compatibility context (double buffered,
// alpha, stencil and accumulation bits 0). Any open window is closed first, so
// a video-mode change is destroy + create. False (and a log line with the
// reason) when no window or context could be made.
bool create_window(const WindowSettings& settings);
void destroy_window();
bool window_is_open();

// True while the window can be drawn; false while it is minimised or hidden
// (the frame still runs sound, timing and ticks, it just draws nothing).
// Processes window-state changes, never input: input belongs to the ticks.
bool begin_frame();
// Swaps buffers. False when the window is gone or has been closed, which
// ends the main loop.
bool end_frame();

// The close button, SIGINT or SIGTERM: the loop leaves and shuts down normally.
bool window_closed();
// Test hook: forget the closed flag, the shutdown request and that the
// options were logged.
void platform_reset_for_tests();

// The drawable size in pixels (which differs from the window size on high-DPI
// screens); 0 x 0 without a window.
void drawable_size(int* width, int* height);

// OpenGL entry points by name, valid once the context exists (nullptr before).
// Under GLX a non-null pointer does not prove the driver has the function:
// check the version or extension string before calling what it returns.
void* gl_proc_address(const char* name);

// Reads the back buffer of the frame just drawn (call before end_frame) as RGB
// bytes, top row first, 3 x width x height bytes. False without a window.
bool read_frame_rgb(std::vector<uint8_t>* rgb, int* width, int* height);
// Reads the frame and writes it to out as a binary PPM ("P6\n%d %d\n255\n").
bool write_frame_ppm(FILE* out);

// The modes of the first display in the platform's order (largest first).
// Works before any window exists; empty when there is no display.
std::vector<DisplayMode> list_display_modes();

// ---------------------------------------------------------------------------
// Input events
//
// Events carry the platform clock time at which they happened. A tick takes
// the events stamped at or before its deadline: wait_input_event waits for one
// while the deadline lies ahead, poll_input_event only takes queued ones. An
// event stamped after the deadline stays queued for a later tick.

// Waits until an event stamped at or before deadline is available (true) or
// the deadline has passed (false).
bool wait_input_event(double deadline, InputEvent* out);
// The next queued event stamped at or before deadline, without waiting.
bool poll_input_event(double deadline, InputEvent* out);
// Drops every queued input event (after a menu hands control back, say).
void flush_input_events();

// Text input for the chat line: while on, typing also produces INPUT_TEXT
// events with the UTF-8 text (and the on-screen keyboard or input method where
// the desktop has one). Off by default.
void start_text_input();
void stop_text_input();

// Raw signed 16-bit axis value (see platform/input.h for each axis's meaning);
// 0 for an absent device or AXIS_NONE.
int read_axis(int handle);
// The pointer over the window in drawable pixels, for the menus.
void cursor_position(int* x, int* y);

// Axis learning for the controls menu: remember every axis's current value,
// then ask each frame which one has since moved the furthest beyond threshold
// (raw units, e.g. 8192 = a quarter of the range). AXIS_NONE while none has.
void start_axis_watch();
int moved_axis(int threshold);

// Joysticks and game controllers currently plugged in (hot-plug is handled
// while events are processed).
int joystick_count();
// The device name in slot ("a" = 0), or nullptr when the slot is empty.
const char* joystick_name(int slot);

// ---------------------------------------------------------------------------
// Message boxes

// A modal box through the desktop; false when none could be shown (no
// display, or the "message-box" option is off for unattended runs).
bool show_native_message_box(const char* title, const char* text);
// The native box, or "title: text" on standard error when there is none.
void platform_message_box(const char* title, const char* text);

// ---------------------------------------------------------------------------
// Audio output
//
// The device runs stereo, signed 16-bit, at "sound-rate" Hz (default 22050),
// fed from SDL's audio thread out of a ring the main thread keeps filled
// "sound-mixahead" ms ahead (default 125). Capture mode renders into a file
// instead: 690 mono samples per tick at 88320 Hz, 1380 bytes a tick.

constexpr int CAPTURE_RATE = 88320;
constexpr int CAPTURE_SAMPLES_PER_TICK = 690;

struct AudioFormat {
  int rate;            // sample frames per second
  int channels;        // interleaved channels of the samples the mixer writes
  int mixer_channels;  // voices the mixer may play at once ("sound-channels")
  int mixahead_ms;     // how far ahead of the device the ring is kept
  bool capture;        // rendering into a file instead of the device
};

// The mixer's seam: fills frames x channels interleaved samples. Called on the
// main thread, from mix_audio_frame and capture_audio_tick. Without a mixer the
// output is silence.
typedef void (*AudioMixFunction)(void* user, int16_t* out, int frames, int channels);
void set_audio_mixer(AudioMixFunction mix, void* user);

// Opens the sound device with the options above. False (and a log line) when
// there is none; the game then runs silent.
bool open_audio_device();
// Opens path for binary writing and enters capture mode.
bool open_audio_capture(const char* path);
void close_audio();
bool audio_is_open();
// The format in use; all zero when closed.
AudioFormat audio_format();

// Device mode, once per frame: the frames that would bring the ring up to the
// mix-ahead, and the submit of a mixed block (interleaved, audio_format()'s
// channels). submit returns the frames taken; a full ring takes fewer.
int audio_frames_wanted();
int submit_audio_block(const int16_t* samples, int frames);
// Asks the mixer for audio_frames_wanted() frames and submits them.
void mix_audio_frame();
// Capture mode, once per tick: one block of 690 samples from the mixer is
// appended to the file. False when not capturing or the write failed.
bool capture_audio_tick();

struct AudioStats {
  int64_t frames_submitted;
  int64_t frames_played;    // taken by the device from the ring
  int64_t underrun_frames;  // silence the device got because the ring ran dry
};
AudioStats audio_stats();

// Sees every block the device takes (on the audio thread, outside the ring's
// lock), for tests and level meters. nullptr removes it.
typedef void (*AudioTapFunction)(void* user, const int16_t* samples, int frames, int channels);
void set_audio_tap(AudioTapFunction tap, void* user);

// ---------------------------------------------------------------------------

// Closes the audio device or capture file and the window: the out-of-memory
// path and the shutdown both end here.
void close_platform_devices();
// Everything above, then SDL itself (the last call of the shutdown).
void platform_shutdown();
