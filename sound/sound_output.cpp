#include "sound/sound_output.h"

#include "platform/platform.h"
#include "sound/sound.h"

bool open_sound_output(const char* capture_path, bool no_sound) {
  close_sound_output();
  bool opened;
  if (capture_path && *capture_path)
    opened = open_audio_capture(capture_path);
  else
    opened = !no_sound && open_audio_device();
  if (!opened) return false;
  AudioFormat format = audio_format();
  start_sound_output(format.rate, format.channels, format.mixer_channels);
  set_audio_mixer(mix_engine_sound, nullptr);
  return true;
}

void close_sound_output() {
  set_audio_mixer(nullptr, nullptr);
  close_audio();
  stop_sound_output();
}

bool sound_output_open() { return audio_is_open() && sound_output_started(); }

bool sound_capturing() { return audio_is_open() && audio_format().capture; }

void submit_sound_block() {
  if (sound_output_open() && !audio_format().capture) mix_audio_frame();
}

bool capture_sound_tick() { return sound_capturing() && capture_audio_tick(); }
