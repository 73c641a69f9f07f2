// "--record-audio" through the platform's capture file: 1380 bytes a tick,
// the same bytes as the mixer gives headless, and "--nosound" opening nothing.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "platform/platform.h"
#include "sound/sound.h"
#include "sound/sound_output.h"
#include "tests/core/data_test_util.h"

namespace {

void ride_tick(int t) {
  double s = t / 128.0;
  set_sound_listener({{0, 5, 0}, {0, 0, 0}, {1, 0, 0}});
  produce_bike_sound(0, {2000 + 8000 * s, 1, 0.9, 0, false, {0, 3, 0}, {0, 0, 0}}, 1.0f, true);
  produce_bike_sound(1, {9000, 1, 0.6, 0, false, {40, 3, (float)(60 - 80 * s)}, {0, 0, -80}}, 0.8f, false);
}

void make_bikes() {
  delete_all_bike_sounds();
  create_bike_sound(0, nullptr, "250f");
  create_bike_sound(1, nullptr, "125");
}

TEST(SoundCapture, RecordAudioWritesEachTicksBlockAsTheMixerMakesIt) {
  ScratchDirectory dir;
  const std::string path = dir / "ride.raw";
  ASSERT_TRUE(open_sound_output(path.c_str(), false));
  EXPECT_TRUE(sound_capturing());
  make_bikes();
  const int ticks = 200;
  for (int t = 0; t < ticks; t++) {
    ride_tick(t);
    submit_sound_block();  // the frame's device submit does nothing while capturing
    ASSERT_TRUE(capture_sound_tick());
  }
  EXPECT_EQ(audio_stats().frames_submitted, (int64_t)ticks * CAPTURE_SAMPLES_PER_TICK);
  close_sound_output();
  EXPECT_FALSE(capture_sound_tick());

  // The same ride mixed headless, written little-endian.
  start_sound_output(CAPTURE_RATE, 1, 16);
  make_bikes();
  std::string expected;
  for (int t = 0; t < ticks; t++) {
    ride_tick(t);
    int16_t block[CAPTURE_SAMPLES_PER_TICK];
    mix_engine_sound(nullptr, block, CAPTURE_SAMPLES_PER_TICK, 1);
    for (int16_t v : block) {
      expected += (char)((uint16_t)v & 0xff);
      expected += (char)((uint16_t)v >> 8);
    }
  }
  stop_sound_output();
  delete_all_bike_sounds();
  std::string file = read_file(path);
  ASSERT_EQ(file.size(), (size_t)ticks * 1380);
  EXPECT_EQ(file, expected);
  EXPECT_NE(file, std::string(file.size(), '\0'));
}

TEST(SoundCapture, NoSoundOpensNothing) {
  EXPECT_FALSE(open_sound_output(nullptr, true));
  EXPECT_FALSE(sound_output_open());
  EXPECT_FALSE(capture_sound_tick());
  submit_sound_block();
  EXPECT_FALSE(open_sound_output("/nonexistent-dir/x.raw", false));
  EXPECT_FALSE(sound_output_open());
}

}  // namespace
