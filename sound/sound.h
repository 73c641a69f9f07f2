// Engine sound of every bike: each bike slot's sound state (definition and
// synthesis), the listener, and the mixer that combines the channels,
// converts them to the output rate and clips them to 16 bits for the audio
// device or the "--record-audio" capture. Headless: the platform pulls the
// mixed samples through mix_engine_sound (see sound/sound_output.h for the
// glue the main loop uses).
//
// The main loop's part:
//   start-up    open_sound_output (sound_output.h), which calls start_sound_output
//   bike made   create_bike_sound(slot, bike skin, model engine class)
//   each frame  set_sound_listener(camera); for every bike with sound
//               produce_bike_sound(slot, input, factor, slot == viewed);
//               then submit_sound_block()
//   each step   with "--record-audio", capture_sound_tick() after the race step
//   bike gone   delete_bike_sound(slot)
//
// Samples are synthesised when the mixer needs them, with the controls the
// last produce_bike_sound gave: a slow frame asks for a longer block and gets
// exactly the samples a run of quick frames would have given, so the device
// never sees a seam, and a capture depends only on the calls made.
#pragma once

#include <cstdint>

#include "core/types.h"

// What the bike simulation tells the sound each frame.
struct EngineSoundInput {
  double rpm;              // engine speed
  double throttle;         // 0..1
  double load;             // 0..1: how hard the engine is pulling
  double firings_per_rev;  // 0: the engine class's own
  bool on_limiter;         // the rev limiter is cutting
  Vec3 position;           // of the engine, ft
  Vec3 velocity;           // ft/s, for the Doppler shift
};

// The camera the player hears through.
struct SoundListener {
  Vec3 position;
  Vec3 velocity;
  Vec3 right;  // unit vector to the listener's right
};

// Output format, from the platform: the device's rate (or the capture's
// 88320), its channel count (1 mixes without panning) and how many bikes
// may sound at once ("sound-channels").
void start_sound_output(int rate, int channels, int voices);
void stop_sound_output();
bool sound_output_started();

// Chooses and reads the bike's definition from its skin name (or none) and
// engine class, and opens its channel. Replaces any sound the slot had.
bool create_bike_sound(int slot, const char* skin_name, const char* engine_class);
void delete_bike_sound(int slot);
// Every slot's sound, then the shared sound tables.
void delete_all_bike_sounds();
bool bike_has_sound(int slot);
// The definition file the slot's sound was read from ("" for built-in).
const char* bike_sound_file(int slot);
struct EngineSynth;
const EngineSynth* bike_sound_synth(int slot);

void set_sound_listener(const SoundListener& listener);

// Sets the bike's engine state and loudness for the coming samples. The
// viewed bike plays at the factor, centred; others are also lowered, muffled
// and panned by their distance and direction from the listener.
void produce_bike_sound(int slot, const EngineSoundInput& input, float factor, bool viewed);

// The loudness factors of a frame: the master factor (0 when paused or in the
// editor view, 0.25 with a menu open while not riding, else 1, times volume x
// 0.1) and the competitors' (master x comp_volume x 0.1).
float sound_master_factor(bool paused, bool editor_view, bool menu_open, bool riding, int volume);
float sound_competitor_factor(float master, int comp_volume);

// The platform's mixer seam (platform/platform.h AudioMixFunction): fills
// frames x channels interleaved 16-bit samples at the started rate. Silence
// before start_sound_output.
void mix_engine_sound(void* user, int16_t* out, int frames, int channels);

// The "pipe" console command: "%f %f %f %d %d" for the slot's sound, numbers
// left out as in a definition file. Shows "Pipe updated" (unless the caller
// answers itself: announce false); false (and a message) when the slot has
// no sound.
bool set_bike_sound_pipe(int slot, const char* arguments, bool announce = true);
