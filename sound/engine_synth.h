// Per-bike engine synthesis: turns engine speed, throttle and load into
// samples at 44100 Hz from the bike's sound definition. A firing clock paces
// everything; each firing draws a new loudness, four oscillators read the
// wave set over the firing cycle, and the result excites a pipe resonator.
// Headless and deterministic: the same calls give the same samples.
#pragma once

#include <cstdint>

#include "sound/sound_definition.h"

constexpr int SYNTH_RATE = 44100;
constexpr int SYNTH_RING_SAMPLES = 32768;  // a power of two
constexpr int SYNTH_MAX_BLOCK = 8820;      // samples per synthesize call (0.2 s)
constexpr float SYNTH_CLAMP = 16.0f;
constexpr double MIN_FIRING_HZ = 5.0;
constexpr int PIPE_TAPS = 16;

// What the synthesis needs from the bike each frame.
struct EngineControls {
  double rpm;
  double throttle;         // 0..1
  double load;             // 0..1
  double firings_per_rev;  // 0: the definition's
  bool on_limiter;
  double pitch;            // Doppler factor, 1 for the viewed bike
};

// The pipe as the delay lines use it, derived from PipeSettings.
struct PipeResonator {
  static constexpr int LINE = 4096;  // power of two, > twice the longest pipe
  int delay;                         // engine to open end, samples
  int inlet_offset, pickup_offset;   // tap positions, samples from the engine
  float engine_reflection, open_reflection;
  float forward[LINE];   // what arrives at the open end, by time
  float backward[LINE];  // what arrives at the engine, by time
  float open_lowpass;
  int now;
};

// One period of a sound-table cell played per firing, stretched to the
// firing interval.
struct TablePlayer {
  const SoundCell* cell;  // nullptr: silent
  double position, step;  // in the cell's samples
  float weight;
  int period_cursor, index_cursor;
};

struct EngineSynth {
  EngineSoundDefinition definition;
  PipeResonator pipe;

  EngineControls target;
  // Smoothed controls, stepped every SYNTH_CONTROL_SAMPLES.
  float rpm, throttle, load;
  uint32_t phase_step;  // firing cycles per sample, in 2^-32
  int control_countdown;

  uint32_t phase;      // within the firing cycle, in 2^-32 of it
  float firing_amp;    // this firing's loudness
  float burst;         // combustion noise envelope, decays through the firing
  float burst_decay;
  float harmonic_2, harmonic_3, mechanical;  // oscillator weights of this firing
  int bias_index, scale_index;
  uint32_t noise;
  float intake_lowpass;

  // Rev limiter: cuts firings in a ~14 Hz pattern, each cut a small pop.
  double limiter_clock;
  bool cut;

  // Sound-table playback of the current firing: the cell found by engine
  // speed and load, and the neighbouring row's cell blended in by speed.
  TablePlayer table[2];

  float dc_in, dc_out;  // DC blocker state

  float ring[SYNTH_RING_SAMPLES];
  int64_t written;  // samples written so far (ring position = written mod size)
  int64_t firings;
};

// Resets the state for a definition (the ring is cleared to 0). seed makes
// bikes sound apart while staying deterministic.
void start_engine_synth(EngineSynth* synth, const EngineSoundDefinition& definition, uint32_t seed);
// Sets up the resonator from pipe numbers; the lines keep what they hold.
void set_engine_pipe(EngineSynth* synth, const PipeSettings& pipe);
void set_engine_controls(EngineSynth* synth, const EngineControls& controls);
// Synthesizes count samples (at most SYNTH_MAX_BLOCK) into the ring, each
// within [-SYNTH_CLAMP, SYNTH_CLAMP]; returns where they start in the ring.
int synthesize_engine(EngineSynth* synth, int count);
// The firing rate the synthesis aims for with these controls, in Hz.
double engine_firing_hz(const EngineSoundDefinition& definition, const EngineControls& controls);
