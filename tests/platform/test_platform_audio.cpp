// The audio output on SDL's "dummy" driver (a real audio thread, no sound)
// and the capture file.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <mutex>
#include <vector>

#include "platform/audio_edges.h"
#include "platform/log.h"
#include "platform/platform.h"

namespace {

struct Tap {
  std::mutex mutex;
  std::vector<int16_t> left, right;
};

void record_tap(void* user, const int16_t* samples, int frames, int channels) {
  Tap* tap = (Tap*)user;
  std::lock_guard<std::mutex> lock(tap->mutex);
  for (int i = 0; i < frames; i++) {
    tap->left.push_back(samples[i * channels]);
    tap->right.push_back(samples[i * channels + 1]);
  }
}

// A mixer that writes a running count, so order and gaps show.
struct Ramp {
  int next = 1;
  int calls = 0;
  int last_channels = 0;
};

void ramp_mixer(void* user, int16_t* out, int frames, int channels) {
  Ramp* r = (Ramp*)user;
  r->calls++;
  r->last_channels = channels;
  for (int i = 0; i < frames; i++, r->next++)
    for (int c = 0; c < channels; c++) out[i * channels + c] = (int16_t)(c == 0 ? r->next : -r->next);
}

class AudioTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    unsetenv("VORN_OPTIONS");
    options_reset_for_tests();
    set_audio_mixer(nullptr, nullptr);
    set_audio_tap(nullptr, nullptr);
  }
  void TearDown() override {
    close_audio();
    set_audio_tap(nullptr, nullptr);
    set_audio_mixer(nullptr, nullptr);
    unsetenv("VORN_OPTIONS");
    options_reset_for_tests();
  }

  // Waits (up to 3 s) until the device has taken `frames` submitted frames.
  static bool wait_played(int64_t frames) {
    double give_up = platform_seconds() + 3.0;
    while (audio_stats().frames_played < frames) {
      if (platform_seconds() > give_up) return false;
      precise_sleep(0.005);
    }
    return true;
  }
};

TEST_F(AudioTest, DeviceTakesSubmittedBlocksInOrder) {
  setenv("VORN_OPTIONS", "[sound-rate:44100][sound-mixahead:100][sound-channels:24]", 1);
  options_reset_for_tests();
  Tap tap;
  set_audio_tap(record_tap, &tap);
  ASSERT_TRUE(open_audio_device());
  AudioFormat f = audio_format();
  EXPECT_EQ(f.rate, 44100);
  EXPECT_EQ(f.channels, 2);
  EXPECT_EQ(f.mixer_channels, 24);
  EXPECT_EQ(f.mixahead_ms, 100);

  // Four blocks, each its own slice of a running count.
  std::vector<int16_t> block(2 * 1000);
  for (int b = 0; b < 4; b++) {
    for (int i = 0; i < 1000; i++) {
      block[2 * i] = (int16_t)(b * 1000 + i + 1);
      block[2 * i + 1] = (int16_t)-(b * 1000 + i + 1);
    }
    ASSERT_EQ(submit_audio_block(block.data(), 1000), 1000);
  }
  ASSERT_TRUE(wait_played(4000));
  EXPECT_EQ(audio_stats().frames_submitted, 4000);
  close_audio();  // joins the audio thread: the tap is complete

  // Silence until the first block, then every frame once, in order. Coming
  // out of silence the first frames may be faded in, and the end fades out.
  size_t mark = 0;
  while (mark < tap.left.size() && tap.left[mark] != AUDIO_EDGE_FRAMES + 1) mark++;
  ASSERT_GE(mark, (size_t)AUDIO_EDGE_FRAMES);
  size_t first = mark - AUDIO_EDGE_FRAMES;
  ASSERT_GE(tap.left.size(), first + 4000);
  for (int i = 0; i < 4000; i++) {
    if (i < AUDIO_EDGE_FRAMES) {
      ASSERT_GE(tap.left[first + i], 0) << "frame " << i;
      ASSERT_LE(tap.left[first + i], i + 1) << "frame " << i;
      continue;
    }
    ASSERT_EQ(tap.left[first + i], i + 1) << "frame " << i;
    ASSERT_EQ(tap.right[first + i], -(i + 1));
  }
  for (size_t i = 0; i < first; i++) ASSERT_EQ(tap.left[i], 0);
  for (size_t i = first + 4000; i < tap.left.size(); i++) {
    ASSERT_LT(tap.left[i], 4000) << "fading, never louder than the last frame";
    if (i >= first + 4000 + AUDIO_EDGE_FRAMES) {
      ASSERT_EQ(tap.left[i], 0);
    }
  }
  EXPECT_FALSE(audio_is_open());
}

TEST_F(AudioTest, MixAheadBoundsWhatIsWantedAndBadOptionsFallBack) {
  setenv("VORN_OPTIONS", "[sound-rate:5][sound-mixahead:200][sound-channels:100000]", 1);
  options_reset_for_tests();
  ASSERT_TRUE(open_audio_device());
  EXPECT_EQ(audio_format().rate, 22050);
  EXPECT_EQ(audio_format().mixer_channels, 16);
  Ramp ramp;
  set_audio_mixer(ramp_mixer, &ramp);
  int wanted = audio_frames_wanted();
  EXPECT_TRUE(wanted > 0 && wanted <= 22050 * 200 / 1000) << wanted;
  mix_audio_frame();
  EXPECT_EQ(ramp.last_channels, 2);
  EXPECT_LT(audio_frames_wanted(), wanted);
  // A flood is cut at the ring's capacity instead of overwriting unplayed sound.
  std::vector<int16_t> flood(2 * 22050 * 5, 7);
  int taken = submit_audio_block(flood.data(), 22050 * 5);
  EXPECT_TRUE(taken > 0 && taken < 22050 * 5) << taken;
  EXPECT_EQ(audio_frames_wanted(), 0);
}

TEST_F(AudioTest, CaptureWritesOneTickOf690SamplesAt1380Bytes) {
  EXPECT_FALSE(open_audio_capture("/nonexistent-dir/capture.raw"));
  EXPECT_FALSE(audio_is_open());
  std::string path = std::string(::testing::TempDir()) + "dv_capture.raw";
  ASSERT_TRUE(open_audio_capture(path.c_str()));
  AudioFormat f = audio_format();
  EXPECT_EQ(f.rate, 88320);
  EXPECT_EQ(f.channels, 1);
  EXPECT_TRUE(f.capture);
  EXPECT_EQ(audio_frames_wanted(), 0);  // the device path is idle in capture mode

  EXPECT_TRUE(capture_audio_tick());  // no mixer yet: one tick of silence
  Ramp ramp;
  set_audio_mixer(ramp_mixer, &ramp);
  for (int t = 0; t < 9; t++) EXPECT_TRUE(capture_audio_tick());
  EXPECT_EQ(ramp.last_channels, 1);
  close_audio();
  EXPECT_FALSE(capture_audio_tick());

  std::ifstream in(path, std::ios::binary);
  std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_EQ(bytes.size(), 10u * 1380u);
  for (int i = 0; i < 690; i++) ASSERT_EQ(bytes[2 * i] | bytes[2 * i + 1], 0);
  for (int i = 0; i < 9 * 690; i++) {
    int16_t v = (int16_t)(bytes[1380 + 2 * i] | bytes[1380 + 2 * i + 1] << 8);  // little-endian
    ASSERT_EQ(v, (int16_t)(i + 1)) << "sample " << i;
  }
}

}  // namespace
