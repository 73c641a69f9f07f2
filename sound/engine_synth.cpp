// The engine synthesis. Everything is locked to the firing clock: the four
// oscillators read the wave set at whole multiples of the firing phase, so
// the note's fundamental is exactly the firing rate however the timbre moves,
// and each firing's loudness changes where the waves pass through zero.
#include "sound/engine_synth.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Controls are smoothed and the firing rate recomputed every this many
// samples (0.73 ms): per-sample smoothing cost a third of the loop and
// nothing audible changes at this rate.
constexpr int SYNTH_CONTROL_SAMPLES = 32;
constexpr float RPM_FOLLOW = 0.114f;       // about 6 ms
constexpr float THROTTLE_FOLLOW = 0.07f;   // about 10 ms
constexpr float LOAD_FOLLOW = 0.035f;      // about 20 ms
constexpr double MAX_RPM = 30000.0;
constexpr float TORQUE_LOUDNESS = 0.3f;    // log2 loudness per torque unit
constexpr float MAX_FIRING_AMP = 16.0f;
// Recorded samples come normalised near full scale; this sits them level
// with the synthesised note instead of over it.
constexpr float TABLE_MIX = 0.3f;
constexpr float OPEN_END_LOWPASS = 0.6f;
constexpr float DC_BLOCK = 0.9986f;        // about 10 Hz
constexpr float MAX_REFLECTION = 0.99f;
constexpr double MAX_PIPE_MS = 80.0;       // round trip; fits PipeResonator::LINE
constexpr double MIN_PIPE_SAMPLES = 2.0;

// The limiter cuts ignition in bursts: 14 cycles a second, half of each cut,
// and the engine speed sags 3% while it is cut.
constexpr double LIMITER_HZ = 14.0;
constexpr double LIMITER_CUT_SHARE = 0.5;
constexpr float LIMITER_SAG = 0.97f;

// A linear congruential generator: two operations a sample. Its low bits
// are poor, so only the top ones are used.
inline uint32_t next_noise(uint32_t* state) {
  *state = *state * 1664525u + 1013904223u;
  return *state >> 8;
}

// -1..1
inline float noise_value(uint32_t* state) {
  *state = *state * 1664525u + 1013904223u;
  return (float)(int32_t)*state * (1.0f / 2147483648.0f);
}

// The waves span one firing cycle with entry k at k / 1023 of it; phases are
// 32-bit fractions of a cycle, so the harmonics' phases are plain wrapping
// multiples and never need a floor.
constexpr float PHASE_TO_ENTRY = (float)(WAVE_TABLE_ENTRIES - 1) / 4294967296.0f;

inline float table_at(const float* table, uint32_t phase) {
  float x = (float)phase * PHASE_TO_ENTRY;
  int i = (int)x;
  // Rounding can carry the last phases up to 1023 itself.
  i = i < WAVE_TABLE_ENTRIES - 2 ? i : WAVE_TABLE_ENTRIES - 2;
  float f = x - (float)i;
  return table[i] + (table[i + 1] - table[i]) * f;
}

// Without interpolation, for the faint upper oscillators: the error sits
// some 60 dB under the firing itself and it saves a fifth of the loop.
inline float table_nearest(const float* table, uint32_t phase) {
  return table[(uint32_t)(((uint64_t)phase * (WAVE_TABLE_ENTRIES - 1) + (1u << 31)) >> 32)];
}

double sanitize(double value, double lo, double hi, double fallback) {
  if (!std::isfinite(value)) return fallback;
  return std::clamp(value, lo, hi);
}

double firing_hz(const EngineSoundDefinition& d, double rpm, double firings_per_rev, double pitch) {
  double firings = firings_per_rev > 0 ? firings_per_rev : d.firings_per_rev;
  if (!(firings > 0) || !std::isfinite(firings)) firings = 1.0;
  return std::max(MIN_FIRING_HZ, rpm * firings / 60.0 * pitch);
}

// A table player's sample, one step on.
inline float table_sample(TablePlayer& t) {
  const SoundCell* cell = t.cell;
  int at = (int)t.position;
  float f = (float)(t.position - at);
  int next = at + 1 < cell->sample_count ? at + 1 : 0;
  float v = cell->samples[at] + (cell->samples[next] - cell->samples[at]) * f;
  t.position += t.step;
  if (t.position >= cell->sample_count) {
    t.position -= cell->sample_count;
    // A period longer than its sample steps past the end more than once.
    if (t.position >= cell->sample_count) t.position = std::fmod(t.position, cell->sample_count);
  }
  return v * t.weight;
}

// Starts the player on the cell's next period (and next firing start).
void start_table_player(TablePlayer& t, const SoundCell* cell, float weight, double cycles) {
  t.cell = cell;
  t.weight = weight;
  if (!cell) return;
  int periods = std::max(1, (int)(cell->sample_count / cell->period));
  t.period_cursor = (t.period_cursor + 1) % periods;
  double start = t.period_cursor * cell->period;
  if (!cell->index.empty()) {
    t.index_cursor = (t.index_cursor + 1) % (int)cell->index.size();
    start += cell->index[(size_t)t.index_cursor];
  }
  t.position = std::fmod(start, (double)cell->sample_count);
  t.step = cell->period * cycles;
}

void update_controls(EngineSynth* s) {
  const EngineSoundDefinition& d = s->definition;
  s->rpm += ((float)s->target.rpm - s->rpm) * RPM_FOLLOW;
  s->throttle += ((float)s->target.throttle - s->throttle) * THROTTLE_FOLLOW;
  s->load += ((float)s->target.load - s->load) * LOAD_FOLLOW;
  if (s->target.on_limiter) {
    s->limiter_clock += SYNTH_CONTROL_SAMPLES * LIMITER_HZ / SYNTH_RATE;
    s->limiter_clock -= std::floor(s->limiter_clock);
    s->cut = s->limiter_clock < LIMITER_CUT_SHARE;
  } else {
    s->limiter_clock = 0;
    s->cut = false;
  }
  double rpm = s->cut ? s->rpm * LIMITER_SAG : s->rpm;
  double cycles = firing_hz(d, rpm, s->target.firings_per_rev, s->target.pitch) / SYNTH_RATE;
  // Firing frequencies near the sample rate make no sense for an engine.
  cycles = std::min(cycles, 0.25);
  s->phase_step = (uint32_t)std::lround(cycles * 4294967296.0);
  for (TablePlayer& t : s->table)
    if (t.cell) t.step = t.cell->period * cycles;
  s->control_countdown = SYNTH_CONTROL_SAMPLES;
}

void begin_firing(EngineSynth* s) {
  const EngineSoundDefinition& d = s->definition;
  s->firings++;
  float torque = (float)(d.low_torque + (d.high_torque - d.low_torque) * s->throttle);
  float amp = std::exp2(TORQUE_LOUDNESS * std::clamp(torque, -20.0f, 20.0f));
  amp *= (float)(1.0 - d.load_share + d.load_share * s->load);
  if (d.bias_count > 0) {
    amp += d.bias[s->bias_index];
    s->bias_index = (s->bias_index + 1) % d.bias_count;
  }
  if (d.scale_count > 0) {
    amp *= d.scale[s->scale_index];
    s->scale_index = (s->scale_index + 1) % d.scale_count;
  }
  if (!(amp >= 0)) amp = 0;  // also catches NaN from a hostile curve
  amp = std::min(amp, MAX_FIRING_AMP);

  uint32_t roll = next_noise(&s->noise);
  float burst = amp * (0.08f + 0.3f * s->load);
  if (s->cut) {
    // No combustion; now and then the unburnt charge pops in the pipe.
    burst = (roll % 4 == 0) ? amp * 0.6f : 0.0f;
    amp = 0;
  } else if (s->throttle < 0.05f && s->rpm > 4000 && roll % 11 == 0) {
    burst += amp * 0.6f;  // overrun crackle on a closed throttle
  }
  s->firing_amp = amp;
  s->burst = burst;
  float cycles = (float)s->phase_step * (1.0f / 4294967296.0f);
  s->burst_decay = std::max(0.0f, 1.0f - 14.0f * cycles);
  s->harmonic_2 = 0.35f + 0.65f * s->load;
  s->harmonic_3 = (0.2f + 0.8f * s->load) * (float)d.load_share;
  s->mechanical = 0.02f + 0.05f * std::min(s->rpm, 15000.0f) / 10000.0f;

  if (d.sound_table) {
    double share;
    const SoundCell& cell = sound_table_cell(*d.sound_table, s->rpm, s->load);
    const SoundCell* neighbour = sound_table_neighbour(*d.sound_table, s->rpm, s->load, &share);
    start_table_player(s->table[0], &cell, (float)(1.0 - share), cycles);
    start_table_player(s->table[1], neighbour, (float)share, cycles);
  }
}

}  // namespace

double engine_firing_hz(const EngineSoundDefinition& definition, const EngineControls& controls) {
  double rpm = sanitize(controls.rpm, sanitize(definition.min_rpm, 0, MAX_RPM, 0), MAX_RPM, definition.min_rpm);
  return firing_hz(definition, rpm, controls.firings_per_rev, controls.pitch > 0 ? controls.pitch : 1.0);
}

void set_engine_pipe(EngineSynth* synth, const PipeSettings& p) {
  PipeResonator& r = synth->pipe;
  double ms = sanitize(p.round_trip_ms, 0, MAX_PIPE_MS, PIPE_LINE_DEFAULTS.round_trip_ms);
  double one_way = std::max(MIN_PIPE_SAMPLES, ms * 0.001 * SYNTH_RATE * 0.5);
  r.delay = (int)std::lround(one_way);
  int inlet = std::clamp(p.inlet_tap, 0, PIPE_TAPS - 1);
  int pickup = std::clamp(p.pickup_tap, 0, PIPE_TAPS - 1);
  r.inlet_offset = (int)std::lround((double)r.delay * inlet / (PIPE_TAPS - 1));
  r.pickup_offset = (int)std::lround((double)r.delay * pickup / (PIPE_TAPS - 1));
  r.engine_reflection = (float)sanitize(p.engine_reflection, -MAX_REFLECTION, MAX_REFLECTION, 0);
  r.open_reflection = (float)sanitize(p.open_reflection, -MAX_REFLECTION, MAX_REFLECTION, 0);
  synth->definition.pipe = p;
}

void start_engine_synth(EngineSynth* s, const EngineSoundDefinition& definition, uint32_t seed) {
  memset(s, 0, sizeof *s);
  s->definition = definition;
  if (!s->definition.wave_set) s->definition.wave_set = find_wave_set("default_two_stroke");
  s->definition.bias_count = std::clamp(s->definition.bias_count, 0, SOUND_CURVE_MAX);
  s->definition.scale_count = std::clamp(s->definition.scale_count, 0, SOUND_CURVE_MAX);
  set_engine_pipe(s, definition.pipe);
  s->rpm = 1000;
  s->target = {1000, 0, 0, 0, false, 1};
  s->noise = seed * 2654435761u + 0x9e3779b9u;
  if (s->noise == 0) s->noise = 1;
  update_controls(s);
}

void set_engine_controls(EngineSynth* s, const EngineControls& c) {
  const EngineSoundDefinition& d = s->definition;
  double min_rpm = sanitize(d.min_rpm, 0, MAX_RPM, 0);
  s->target.rpm = sanitize(c.rpm, min_rpm, MAX_RPM, min_rpm);
  s->target.throttle = sanitize(c.throttle, 0, 1, 0);
  s->target.load = sanitize(c.load, 0, 1, 0);
  s->target.firings_per_rev = sanitize(c.firings_per_rev, 0, 16, 0);
  s->target.on_limiter = c.on_limiter;
  s->target.pitch = sanitize(c.pitch, 0.5, 2.0, 1.0);
}

int synthesize_engine(EngineSynth* s, int count) {
  count = std::clamp(count, 0, SYNTH_MAX_BLOCK);
  const int start = (int)(s->written & (SYNTH_RING_SAMPLES - 1));
  const float* __restrict wave = s->definition.wave_set->wave;
  const float* __restrict quarter = s->definition.wave_set->quarter;
  PipeResonator& pipe = s->pipe;
  float* __restrict forward = pipe.forward;
  float* __restrict backward = pipe.backward;
  float* __restrict ring = s->ring;
  constexpr int MASK = PipeResonator::LINE - 1;
  const int delay = pipe.delay;
  const int inlet = delay - pipe.inlet_offset;
  const int pickup_forward = delay - pipe.pickup_offset;
  const int pickup_backward = pipe.pickup_offset;
  const float gain = (float)sanitize(s->definition.gain, 0, 16, 1);
  const float engine_reflection = pipe.engine_reflection, open_reflection = pipe.open_reflection;
  int ring_at = start;
  int now = pipe.now;
  uint32_t phase = s->phase;
  uint32_t noise = s->noise;
  float open_lowpass = pipe.open_lowpass, intake = s->intake_lowpass;
  float dc_in = s->dc_in, dc_out = s->dc_out;

  // Runs of samples between control updates; within a run everything the
  // loop needs sits in locals (stores to the float lines could otherwise
  // alias the state's floats and force reloads every sample).
  for (int done = 0; done < count;) {
    if (s->control_countdown <= 0) update_controls(s);
    int run = std::min(count - done, s->control_countdown);
    s->control_countdown -= run;
    const uint32_t phase_step = s->phase_step;
    const float intake_level = s->throttle * 0.06f;
    float amp = s->firing_amp, burst = s->burst, burst_decay = s->burst_decay;
    float harmonic_2 = s->harmonic_2, harmonic_3 = s->harmonic_3, mechanical = s->mechanical;
    for (int i = 0; i < run; i++) {
      phase += phase_step;
      if (phase < phase_step) {  // wrapped: a new firing
        s->noise = noise;
        begin_firing(s);
        noise = s->noise;
        amp = s->firing_amp;
        burst = s->burst;
        burst_decay = s->burst_decay;
        harmonic_2 = s->harmonic_2;
        harmonic_3 = s->harmonic_3;
        mechanical = s->mechanical;
      }
      // The four oscillators: the firing itself, its second and third
      // harmonics from the quarter-level wave (brighter under load), and a
      // faint mechanical rattle at six times the firing rate.
      float o1 = table_at(wave, phase);
      float o2 = table_at(quarter, phase * 2);
      float o3 = table_nearest(quarter, phase * 3);
      float o4 = table_nearest(wave, phase * 6);
      float n = noise_value(&noise);
      // Each filter as y a + x b: one multiply-add on the loop-carried chain.
      intake = intake * 0.95f + n * 0.05f;
      float excitation =
          amp * (o1 + harmonic_2 * o2 + harmonic_3 * o3) + mechanical * o4 + burst * n + intake * intake_level;
      burst *= burst_decay;

      // The pipe: waves travel to the open end and back, reflecting at both.
      forward[(now + inlet) & MASK] += excitation;
      float arrived_open = forward[now & MASK];
      float arrived_engine = backward[now & MASK];
      forward[(now + delay) & MASK] += engine_reflection * arrived_engine;
      open_lowpass = open_lowpass * (1.0f - OPEN_END_LOWPASS) + arrived_open * OPEN_END_LOWPASS;
      backward[(now + delay) & MASK] += open_reflection * open_lowpass;
      float out = forward[(now + pickup_forward) & MASK] + backward[(now + pickup_backward) & MASK];
      forward[now & MASK] = 0;
      backward[now & MASK] = 0;
      now++;

      if (s->table[0].cell) {
        float v = table_sample(s->table[0]);
        if (s->table[1].cell) v += table_sample(s->table[1]);
        out += amp * v * TABLE_MIX;
      }

      float y = out * gain;
      dc_out = y - dc_in + DC_BLOCK * dc_out;
      dc_in = y;
      ring[ring_at] = std::clamp(dc_out, -SYNTH_CLAMP, SYNTH_CLAMP);
      ring_at = (ring_at + 1) & (SYNTH_RING_SAMPLES - 1);
    }
    s->burst = burst;
    done += run;
  }

  s->phase = phase;
  s->noise = noise;
  pipe.now = now & MASK;
  pipe.open_lowpass = open_lowpass;
  s->intake_lowpass = intake;
  s->dc_in = dc_in;
  s->dc_out = dc_out;
  s->written += count;
  return start;
}
