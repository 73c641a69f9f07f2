// Audio output over SDL2: the device is fed on SDL's audio thread from a ring
// the main thread fills with mixed blocks; capture mode renders into a file.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/audio_edges.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "platform/sdl_internal.h"

namespace {

constexpr int DEVICE_CHANNELS = 2;

struct AudioRing {
  std::mutex mutex;
  std::vector<int16_t> samples;  // capacity_frames x DEVICE_CHANNELS
  int capacity_frames = 0;
  int read_frame = 0;
  int fill_frames = 0;
  AudioTapFunction tap = nullptr;
  void* tap_user = nullptr;
};

AudioRing g_ring;
SDL_AudioDeviceID g_device = 0;
FILE* g_capture = nullptr;
AudioFormat g_format = {};
AudioMixFunction g_mixer = nullptr;
void* g_mixer_user = nullptr;
std::vector<int16_t> g_mix_buffer;

std::atomic<int64_t> g_submitted{0};
std::atomic<int64_t> g_played{0};
std::atomic<int64_t> g_underrun{0};
AudioEdgeState g_edges = {};  // the audio thread's own

// SDL's audio thread: copy what the ring holds, silence for the rest, with
// the edges of a shortfall faded.
void SDLCALL device_callback(void*, Uint8* stream, int length) {
  int frames = length / (int)(sizeof(int16_t) * DEVICE_CHANNELS);
  int16_t* out = (int16_t*)stream;
  int taken = 0;
  AudioTapFunction tap;
  void* tap_user;
  {
    std::lock_guard<std::mutex> lock(g_ring.mutex);
    tap = g_ring.tap;
    tap_user = g_ring.tap_user;
    taken = std::min(frames, g_ring.fill_frames);
    int first = std::min(taken, g_ring.capacity_frames - g_ring.read_frame);
    memcpy(out, g_ring.samples.data() + (size_t)g_ring.read_frame * DEVICE_CHANNELS,
           (size_t)first * DEVICE_CHANNELS * sizeof(int16_t));
    memcpy(out + (size_t)first * DEVICE_CHANNELS, g_ring.samples.data(),
           (size_t)(taken - first) * DEVICE_CHANNELS * sizeof(int16_t));
    g_ring.read_frame = (g_ring.read_frame + taken) % std::max(1, g_ring.capacity_frames);
    g_ring.fill_frames -= taken;
  }
  memset(out + (size_t)taken * DEVICE_CHANNELS, 0, (size_t)(frames - taken) * DEVICE_CHANNELS * sizeof(int16_t));
  soften_audio_edges(out, frames, taken, DEVICE_CHANNELS, &g_edges);
  g_played += taken;
  g_underrun += frames - taken;
  if (tap) tap(tap_user, out, frames, DEVICE_CHANNELS);
}

int option_in_range(const char* name, int fallback, int lo, int hi) {
  int value = option_number(name, fallback);
  if (value < lo || value > hi) {
    log_printf("%s %d is out of range %d..%d; using %d\n", name, value, lo, hi, fallback);
    return fallback;
  }
  return value;
}

// The device's own buffer: a power of two of about a quarter of the mix-ahead,
// so the ring, not the device, holds most of the latency.
int device_buffer_frames(int rate, int mixahead_ms) {
  int want = rate * mixahead_ms / 4000;
  int frames = 256;
  while (frames * 2 <= want && frames < 4096) frames *= 2;
  return frames;
}

void reset_stats() {
  g_submitted = 0;
  g_played = 0;
  g_underrun = 0;
  g_edges = {};
}

}  // namespace

void set_audio_mixer(AudioMixFunction mix, void* user) {
  g_mixer = mix;
  g_mixer_user = user;
}

void set_audio_tap(AudioTapFunction tap, void* user) {
  std::lock_guard<std::mutex> lock(g_ring.mutex);
  g_ring.tap = tap;
  g_ring.tap_user = user;
}

bool open_audio_device() {
  close_audio();
  // Both output paths switched off in the options means no sound device.
  if (!option_flag("dsnd", 1) && !option_flag("waveout", 1)) {
    log_printf("Sound output is switched off by the dsnd and waveout options\n");
    return false;
  }
  int rate = option_in_range("sound-rate", 22050, 8000, 192000);
  int voices = option_in_range("sound-channels", 16, 1, 256);
  int mixahead = option_in_range("sound-mixahead", 125, 10, 2000);
  if (!sdl_init(SDL_INIT_AUDIO)) return false;

  SDL_AudioSpec want = {}, have = {};
  want.freq = rate;
  want.format = AUDIO_S16SYS;
  want.channels = DEVICE_CHANNELS;
  want.samples = (Uint16)device_buffer_frames(rate, mixahead);
  want.callback = device_callback;
  // No allowed changes: SDL converts to whatever the hardware runs at, so the
  // mixer always writes exactly the format it was told.
  g_device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
  if (g_device == 0) {
    log_printf("Can't open the sound device: %s\n", SDL_GetError());
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(g_ring.mutex);
    // Room for twice the mix-ahead plus the device's buffer, so a frame that
    // submits late never has to drop what the mixer made.
    g_ring.capacity_frames = rate * mixahead * 2 / 1000 + have.samples * 2;
    g_ring.samples.assign((size_t)g_ring.capacity_frames * DEVICE_CHANNELS, 0);
    g_ring.read_frame = 0;
    g_ring.fill_frames = 0;
  }
  reset_stats();
  g_format = {rate, DEVICE_CHANNELS, voices, mixahead, false};
  log_printf("Sound: %d Hz stereo 16-bit, %d mixer channels, mix-ahead %d ms, device buffer %d frames (%s)\n", rate,
             voices, mixahead, (int)have.samples, SDL_GetCurrentAudioDriver());
  SDL_PauseAudioDevice(g_device, 0);
  return true;
}

bool open_audio_capture(const char* path) {
  close_audio();
  g_capture = fopen(path, "wb");
  if (!g_capture) {
    log_printf("Can't write audio to \"%.900s\"\n", path);
    return false;
  }
  reset_stats();
  g_format = {CAPTURE_RATE, 1, option_in_range("sound-channels", 16, 1, 256), 0, true};
  log_printf("Recording audio to \"%.900s\" (%d Hz mono 16-bit)\n", path, CAPTURE_RATE);
  return true;
}

void close_audio() {
  if (g_device) {
    SDL_CloseAudioDevice(g_device);  // stops and joins the audio thread
    g_device = 0;
    std::lock_guard<std::mutex> lock(g_ring.mutex);
    g_ring.samples.clear();
    g_ring.capacity_frames = 0;
    g_ring.read_frame = 0;
    g_ring.fill_frames = 0;
  }
  if (g_capture) {
    if (fclose(g_capture) != 0) log_printf("Writing the audio recording failed\n");
    g_capture = nullptr;
  }
  g_format = {};
}

bool audio_is_open() { return g_device != 0 || g_capture != nullptr; }

AudioFormat audio_format() { return g_format; }

int audio_frames_wanted() {
  if (!g_device) return 0;
  std::lock_guard<std::mutex> lock(g_ring.mutex);
  int target = g_format.rate * g_format.mixahead_ms / 1000;
  return std::clamp(target - g_ring.fill_frames, 0, g_ring.capacity_frames - g_ring.fill_frames);
}

int submit_audio_block(const int16_t* samples, int frames) {
  if (!g_device || frames <= 0) return 0;
  int taken;
  {
    std::lock_guard<std::mutex> lock(g_ring.mutex);
    taken = std::min(frames, g_ring.capacity_frames - g_ring.fill_frames);
    int write = (g_ring.read_frame + g_ring.fill_frames) % g_ring.capacity_frames;
    int first = std::min(taken, g_ring.capacity_frames - write);
    memcpy(g_ring.samples.data() + (size_t)write * DEVICE_CHANNELS, samples,
           (size_t)first * DEVICE_CHANNELS * sizeof(int16_t));
    memcpy(g_ring.samples.data(), samples + (size_t)first * DEVICE_CHANNELS,
           (size_t)(taken - first) * DEVICE_CHANNELS * sizeof(int16_t));
    g_ring.fill_frames += taken;
  }
  g_submitted += taken;
  return taken;
}

void mix_audio_frame() {
  int frames = audio_frames_wanted();
  if (frames <= 0) return;
  g_mix_buffer.assign((size_t)frames * DEVICE_CHANNELS, 0);
  if (g_mixer) g_mixer(g_mixer_user, g_mix_buffer.data(), frames, DEVICE_CHANNELS);
  submit_audio_block(g_mix_buffer.data(), frames);
}

bool capture_audio_tick() {
  if (!g_capture) return false;
  int16_t block[CAPTURE_SAMPLES_PER_TICK] = {};
  if (g_mixer) g_mixer(g_mixer_user, block, CAPTURE_SAMPLES_PER_TICK, 1);
  // The file is little-endian whatever the machine.
  uint8_t bytes[CAPTURE_SAMPLES_PER_TICK * 2];
  for (int i = 0; i < CAPTURE_SAMPLES_PER_TICK; i++) {
    uint16_t v = (uint16_t)block[i];
    bytes[2 * i] = (uint8_t)(v & 0xff);
    bytes[2 * i + 1] = (uint8_t)(v >> 8);
  }
  if (fwrite(bytes, 1, sizeof bytes, g_capture) != sizeof bytes) {
    log_printf("Writing the audio recording failed; recording stopped\n");
    fclose(g_capture);
    g_capture = nullptr;
    g_format = {};
    return false;
  }
  g_submitted += CAPTURE_SAMPLES_PER_TICK;
  return true;
}

AudioStats audio_stats() { return {g_submitted.load(), g_played.load(), g_underrun.load()}; }
