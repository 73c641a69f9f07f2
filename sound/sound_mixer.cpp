// Bike sound states and the mixer. The channels are mixed onto a stereo bus
// at the synthesis rate, the bus is converted to the output rate once, and
// the result is soft-clipped to 16 bits: one conversion however many bikes.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "core/message.h"
#include "platform/platform.h"
#include "sound/engine_synth.h"
#include "sound/resampler.h"
#include "sound/sound.h"

static_assert(std::is_same_v<decltype(&mix_engine_sound), AudioMixFunction>);

namespace {

constexpr double SPEED_OF_SOUND = 1125.0;  // ft/s
// Competitors are at full loudness within this distance and fall off as
// 1/distance beyond it; far ones also lose their highs.
constexpr float NEAR_DISTANCE = 20.0f;
constexpr float MUFFLE_DISTANCE = 150.0f;
constexpr float PAN_WIDTH = 0.8f;  // never quite in one ear
// Synthesis units to full scale: a lone bike at full throttle peaks around
// half scale, leaving room for a pack before the clipper works.
constexpr float OUTPUT_SCALE = 0.45f;
constexpr float CLIP_KNEE = 0.7f;
constexpr int BUS_CHUNK = 2048;
// Loudness and pan changes glide over 10 ms: quick enough to follow a bike
// past, slow enough not to click.
constexpr int GLIDE_SAMPLES = 441;
constexpr int MAX_OUTPUT_BLOCK = 2048;
constexpr float VOICE_KEEP_BONUS = 1.19f;  // 1.5 dB: stops voices flapping

struct SoundChannel {
  std::unique_ptr<EngineSynth> synth;
  std::string file;
  // Where produce_bike_sound wants the ear gains (a mono output takes the
  // unpanned gain) and the distance low-pass (1 = open).
  float target_left, target_right, target_mono, target_muffle;
  // The gains now, and a glide of GLIDE_SAMPLES toward dest. Glides run in
  // bus samples, not per block, so the sound does not depend on how the
  // platform splits its requests.
  float left, right, muffle;
  float dest_left, dest_right, dest_muffle;
  float step_left, step_right, step_muffle;
  int glide;
  float muffle_state;
  bool voiced;
};

struct SoundMixer {
  bool started;
  int rate, voices;
  bool mono;  // the bus has one channel (the capture)
  SoundListener listener;
  SoundChannel channel[MAX_BIKES];
  Resampler resampler;
  // The bus at the synthesis rate: bus[0] is absolute sample bus_start.
  std::vector<float> bus_left, bus_right;
  int64_t bus_start;
  // Output frames made since the start; the bus position of frame k is
  // lead + k x step, computed afresh so that no rounding accumulates and
  // any split into blocks reads the bus at the same places.
  int64_t frames_out;
  int lead;
};

SoundMixer g_mixer;

bool valid_slot(int slot) { return slot >= 0 && slot < MAX_BIKES; }

float length(Vec3 v) { return std::sqrt(dot(v, v)); }

// Chooses the channels that sound this block: the loudest `voices`, with a
// small bonus for those already sounding.
void choose_voices() {
  int order[MAX_BIKES];
  float weight[MAX_BIKES];
  int count = 0;
  for (int i = 0; i < MAX_BIKES; i++) {
    SoundChannel& c = g_mixer.channel[i];
    if (!c.synth) continue;
    float w = std::max(c.target_left, c.target_right);
    if (c.voiced) w *= VOICE_KEEP_BONUS;
    weight[i] = w;
    if (w > 0) order[count++] = i;
  }
  std::stable_sort(order, order + count, [&](int a, int b) { return weight[a] > weight[b]; });
  bool keep[MAX_BIKES] = {};
  for (int k = 0; k < count && k < g_mixer.voices; k++) keep[order[k]] = true;
  for (int i = 0; i < MAX_BIKES; i++) g_mixer.channel[i].voiced = keep[i];
}

// Adds count samples from the ring to the bus, gliding or steady, filtered
// or open, onto one bus or two.
template <bool Mono, bool Glide, bool Filter>
void add_span(SoundChannel& c, const float* ring, int start, int count, float* bus_l, float* bus_r) {
  float left = c.left, right = c.right, muffle = c.muffle, y = c.muffle_state;
  const float step_left = c.step_left, step_right = c.step_right, step_muffle = c.step_muffle;
  for (int i = 0; i < count; i++) {
    float x = ring[(start + i) & (SYNTH_RING_SAMPLES - 1)];
    if (Glide) {
      left += step_left;
      right += step_right;
      muffle += step_muffle;
    }
    // y (1 - m) + x m keeps the loop-carried chain to one multiply-add.
    y = Filter ? y * (1.0f - muffle) + x * muffle : x;
    bus_l[i] += left * y;
    if (!Mono) bus_r[i] += right * y;
  }
  c.left = left;
  c.right = right;
  c.muffle = muffle;
  c.muffle_state = y;
}

template <bool Mono>
void add_channel(SoundChannel& c, const float* ring, int start, int count, float* bus_l, float* bus_r) {
  while (count > 0) {
    if (c.glide > 0) {
      int n = std::min(count, c.glide);
      add_span<Mono, true, true>(c, ring, start, n, bus_l, bus_r);
      c.glide -= n;
      if (c.glide == 0) {
        // Land exactly: a silent channel must not stay a hair above zero.
        c.left = c.dest_left;
        c.right = c.dest_right;
        c.muffle = c.dest_muffle;
      }
      start += n;
      bus_l += n;
      bus_r += n;
      count -= n;
    } else if (c.muffle == 1.0f) {
      // Near bikes and the viewed one: no filter and no serial chain.
      add_span<Mono, false, false>(c, ring, start, count, bus_l, bus_r);
      return;
    } else {
      add_span<Mono, false, true>(c, ring, start, count, bus_l, bus_r);
      return;
    }
  }
}

// Adds n synthesised samples of every sounding channel to the bus from
// index `at`.
void mix_channels(int at, int n) {
  float* bus_l = g_mixer.bus_left.data() + at;
  float* bus_r = g_mixer.mono ? bus_l : g_mixer.bus_right.data() + at;
  std::fill(bus_l, bus_l + n, 0.0f);
  if (!g_mixer.mono) std::fill(bus_r, bus_r + n, 0.0f);
  for (SoundChannel& c : g_mixer.channel) {
    if (!c.synth) continue;
    float to_left = c.voiced ? (g_mixer.mono ? c.target_mono : c.target_left) : 0.0f;
    float to_right = c.voiced && !g_mixer.mono ? c.target_right : 0.0f;
    float to_muffle = c.target_muffle;
    if (to_left == 0 && to_right == 0 && c.left == 0 && c.right == 0) {
      // Silent and staying so: nothing to make, and the filter can jump.
      c.dest_left = c.dest_right = 0;
      c.muffle = c.dest_muffle = to_muffle;
      c.glide = 0;
      continue;
    }
    if (to_left != c.dest_left || to_right != c.dest_right || to_muffle != c.dest_muffle) {
      c.dest_left = to_left;
      c.dest_right = to_right;
      c.dest_muffle = to_muffle;
      c.step_left = (to_left - c.left) / GLIDE_SAMPLES;
      c.step_right = (to_right - c.right) / GLIDE_SAMPLES;
      c.step_muffle = (to_muffle - c.muffle) / GLIDE_SAMPLES;
      c.glide = GLIDE_SAMPLES;
    }
    for (int done = 0; done < n;) {
      int part = std::min(n - done, SYNTH_MAX_BLOCK);
      int start = synthesize_engine(c.synth.get(), part);
      if (g_mixer.mono)
        add_channel<true>(c, c.synth->ring, start, part, bus_l + done, bus_r + done);
      else
        add_channel<false>(c, c.synth->ring, start, part, bus_l + done, bus_r + done);
      done += part;
    }
  }
}

// Makes sure the bus holds samples up to absolute index `end` (exclusive).
void fill_bus(int64_t end) {
  int64_t have = g_mixer.bus_start + (int64_t)g_mixer.bus_left.size();
  while (have < end) {
    int n = (int)std::min<int64_t>(end - have, BUS_CHUNK);
    size_t at = g_mixer.bus_left.size();
    g_mixer.bus_left.resize(at + (size_t)n);
    g_mixer.bus_right.resize(at + (size_t)n);
    mix_channels((int)at, n);
    have += n;
  }
}

double output_position(int64_t frame) { return g_mixer.lead + (double)frame * g_mixer.resampler.step; }

// Drops bus samples the resampler will not read again.
void trim_bus() {
  int64_t keep_from = (int64_t)std::floor(output_position(g_mixer.frames_out)) - g_mixer.resampler.half_taps;
  int64_t drop = keep_from - g_mixer.bus_start;
  if (drop <= 0) return;
  drop = std::min<int64_t>(drop, (int64_t)g_mixer.bus_left.size());
  g_mixer.bus_left.erase(g_mixer.bus_left.begin(), g_mixer.bus_left.begin() + drop);
  g_mixer.bus_right.erase(g_mixer.bus_right.begin(), g_mixer.bus_right.begin() + drop);
  g_mixer.bus_start += drop;
}

inline int16_t to_pcm(float x) {
  float a = std::fabs(x);
  if (a > CLIP_KNEE) {
    // Soft knee: smooth up to full scale instead of a hard corner.
    float over = (a - CLIP_KNEE) / (1.0f - CLIP_KNEE);
    a = CLIP_KNEE + (1.0f - CLIP_KNEE) * std::tanh(over);
    x = x < 0 ? -a : a;
  }
  float scaled = x * 32767.0f;
  return (int16_t)(scaled < 0 ? scaled - 0.5f : scaled + 0.5f);
}

void reset_bus() {
  g_mixer.bus_left.clear();
  g_mixer.bus_right.clear();
  // Start with the kernel's reach of silence behind the first output frame.
  int lead = g_mixer.resampler.half_taps;
  g_mixer.bus_left.assign((size_t)lead, 0.0f);
  g_mixer.bus_right.assign((size_t)lead, 0.0f);
  g_mixer.bus_start = 0;
  g_mixer.frames_out = 0;
  g_mixer.lead = lead;
}

}  // namespace

void start_sound_output(int rate, int channels, int voices) {
  g_mixer.mono = channels == 1;
  g_mixer.rate = std::clamp(rate, 1000, 384000);
  g_mixer.voices = std::clamp(voices, 1, MAX_BIKES);
  setup_resampler(&g_mixer.resampler, SYNTH_RATE, g_mixer.rate);
  reset_bus();
  g_mixer.started = true;
}

void stop_sound_output() {
  g_mixer.started = false;
  g_mixer.bus_left.clear();
  g_mixer.bus_right.clear();
}

bool sound_output_started() { return g_mixer.started; }

bool create_bike_sound(int slot, const char* skin_name, const char* engine_class) {
  if (!valid_slot(slot)) return false;
  SoundChannel& c = g_mixer.channel[slot];
  if (!c.synth) c.synth = std::make_unique<EngineSynth>();
  EngineSoundDefinition definition = choose_engine_sound(skin_name, engine_class, &c.file);
  start_engine_synth(c.synth.get(), definition, (uint32_t)slot + 1);
  c.target_left = c.target_right = c.target_mono = 0;
  c.left = c.right = c.dest_left = c.dest_right = 0;
  c.target_muffle = c.muffle = c.dest_muffle = 1;
  c.step_left = c.step_right = c.step_muffle = 0;
  c.glide = 0;
  c.muffle_state = 0;
  c.voiced = false;
  return true;
}

void delete_bike_sound(int slot) {
  if (!valid_slot(slot)) return;
  g_mixer.channel[slot].synth.reset();
  g_mixer.channel[slot].file.clear();
  g_mixer.channel[slot].voiced = false;
}

void delete_all_bike_sounds() {
  for (int i = 0; i < MAX_BIKES; i++) delete_bike_sound(i);
  free_sound_tables();
}

bool bike_has_sound(int slot) { return valid_slot(slot) && g_mixer.channel[slot].synth != nullptr; }

const char* bike_sound_file(int slot) { return bike_has_sound(slot) ? g_mixer.channel[slot].file.c_str() : ""; }

const EngineSynth* bike_sound_synth(int slot) { return bike_has_sound(slot) ? g_mixer.channel[slot].synth.get() : nullptr; }

void set_sound_listener(const SoundListener& listener) { g_mixer.listener = listener; }

void produce_bike_sound(int slot, const EngineSoundInput& input, float factor, bool viewed) {
  if (!bike_has_sound(slot)) return;
  SoundChannel& c = g_mixer.channel[slot];
  if (!std::isfinite(factor) || factor < 0) factor = 0;
  factor = std::min(factor, 4.0f);
  double pitch = 1.0;
  float gain = factor, pan = 0, muffle = 1;
  if (!viewed) {
    const SoundListener& l = g_mixer.listener;
    Vec3 offset = input.position - l.position;
    float distance = length(offset);
    if (std::isfinite(distance) && distance > 1e-3f) {
      Vec3 toward = offset * (1.0f / distance);
      gain *= NEAR_DISTANCE / std::max(NEAR_DISTANCE, distance);
      muffle = 1.0f / (1.0f + distance / MUFFLE_DISTANCE);
      pan = std::clamp(dot(toward, l.right), -1.0f, 1.0f) * PAN_WIDTH;
      // Listener moving toward the source raises the pitch; the source
      // moving away lowers it.
      double closing = dot(l.velocity, toward);
      double receding = dot(input.velocity, toward);
      pitch = (SPEED_OF_SOUND + closing) / std::max(1.0, SPEED_OF_SOUND + receding);
      if (!std::isfinite(pitch)) pitch = 1.0;
    } else if (!std::isfinite(distance)) {
      gain = 0;
    }
  }
  // Equal power: a centred bike gives each ear 1/sqrt(2).
  float angle = (pan + 1.0f) * 0.25f * 3.14159265f;
  c.target_left = gain * std::cos(angle);
  c.target_right = gain * std::sin(angle);
  c.target_mono = gain;
  c.target_muffle = muffle;
  EngineControls controls = {input.rpm, input.throttle, input.load, input.firings_per_rev, input.on_limiter, pitch};
  set_engine_controls(c.synth.get(), controls);
}

float sound_master_factor(bool paused, bool editor_view, bool menu_open, bool riding, int volume) {
  float master;
  if (paused || editor_view)
    master = 0.0f;
  else if (!menu_open)
    master = 1.0f;
  else if (!riding)
    master = 0.25f;
  else
    master = 1.0f;
  return master * (float)volume * 0.1f;
}

float sound_competitor_factor(float master, int comp_volume) { return master * (float)comp_volume * 0.1f; }

void mix_engine_sound(void*, int16_t* out, int frames, int channels) {
  if (frames <= 0 || channels <= 0) return;
  if (!g_mixer.started) {
    memset(out, 0, (size_t)frames * (size_t)channels * sizeof(int16_t));
    return;
  }
  choose_voices();
  const Resampler& r = g_mixer.resampler;
  constexpr float MONO = 0.70710678f;  // a centred bike keeps its level in mono
  for (int done = 0; done < frames;) {
    int n = std::min(frames - done, MAX_OUTPUT_BLOCK);
    double last = output_position(g_mixer.frames_out + n - 1);
    fill_bus((int64_t)std::floor(last) + r.half_taps + 1);
    for (int i = 0; i < n; i++) {
      double at = output_position(g_mixer.frames_out + i) - (double)g_mixer.bus_start;
      int16_t* frame = out + (size_t)(done + i) * (size_t)channels;
      if (g_mixer.mono) {
        int16_t v = to_pcm(resample_at(r, g_mixer.bus_left.data(), at) * OUTPUT_SCALE);
        for (int ch = 0; ch < channels; ch++) frame[ch] = v;
        continue;
      }
      float left, right;
      resample_pair_at(r, g_mixer.bus_left.data(), g_mixer.bus_right.data(), at, &left, &right);
      left *= OUTPUT_SCALE;
      right *= OUTPUT_SCALE;
      if (channels == 1) {
        frame[0] = to_pcm((left + right) * MONO);
      } else {
        frame[0] = to_pcm(left);
        frame[1] = to_pcm(right);
        for (int ch = 2; ch < channels; ch++) frame[ch] = 0;
      }
    }
    g_mixer.frames_out += n;
    trim_bus();
    done += n;
  }
}

bool set_bike_sound_pipe(int slot, const char* arguments, bool announce) {
  if (!bike_has_sound(slot)) {
    show_message("No engine sound to change");
    return false;
  }
  set_engine_pipe(g_mixer.channel[slot].synth.get(), parse_pipe_numbers(arguments ? arguments : ""));
  if (announce) show_message("Pipe updated");
  return true;
}
