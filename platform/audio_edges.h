// Softens the edges of an audio device starved by slow frames: when the ring
// runs dry inside a device block the last sample fades to silence instead of
// dropping to zero, and when blocks arrive again the signal fades back in, so
// a stalled frame is heard as a short dip rather than two clicks.
#pragma once

#include <algorithm>
#include <cstdint>

constexpr int AUDIO_EDGE_FRAMES = 64;  // about 1.5 ms at 44100 Hz
constexpr int AUDIO_EDGE_MAX_CHANNELS = 8;

struct AudioEdgeState {
  int16_t last[AUDIO_EDGE_MAX_CHANNELS];  // the last frame sent to the device
  bool starved;                           // the previous block ran dry
};

// out holds frames x channels interleaved samples of which the first taken
// frames came from the ring and the rest are silence.
inline void soften_audio_edges(int16_t* out, int frames, int taken, int channels, AudioEdgeState* state) {
  channels = std::clamp(channels, 1, AUDIO_EDGE_MAX_CHANNELS);
  taken = std::clamp(taken, 0, frames);
  if (state->starved && taken > 0) {
    int ramp = std::min(taken, AUDIO_EDGE_FRAMES);
    for (int f = 0; f < ramp; f++)
      for (int c = 0; c < channels; c++)
        out[f * channels + c] = (int16_t)(out[f * channels + c] * (f + 1) / (ramp + 1));
  }
  if (taken < frames) {
    // Fade from the last real frame: this block's, or the previous block's.
    int16_t from[AUDIO_EDGE_MAX_CHANNELS];
    for (int c = 0; c < channels; c++) from[c] = taken > 0 ? out[(taken - 1) * channels + c] : state->last[c];
    int ramp = std::min(frames - taken, AUDIO_EDGE_FRAMES);
    for (int f = 0; f < ramp; f++)
      for (int c = 0; c < channels; c++)
        out[(taken + f) * channels + c] = (int16_t)(from[c] * (ramp - f - 1) / ramp);
    for (int c = 0; c < channels; c++) state->last[c] = 0;
    state->starved = true;
  } else {
    for (int c = 0; c < channels; c++) state->last[c] = frames > 0 ? out[(frames - 1) * channels + c] : state->last[c];
    state->starved = false;
  }
}
