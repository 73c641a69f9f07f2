// The mixer: silence, distance and panning, voices, clipping, rate
// conversion, and the capture's determinism.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "sound/engine_synth.h"
#include "sound/resampler.h"
#include "sound/sound.h"

namespace {

class MixerTest : public ::testing::Test {
 protected:
  void SetUp() override { set_sound_listener({{0, 5, 0}, {0, 0, 0}, {1, 0, 0}}); }
  void TearDown() override {
    delete_all_bike_sounds();
    stop_sound_output();
  }
  static std::vector<int16_t> mix(int frames, int channels) {
    std::vector<int16_t> out((size_t)frames * (size_t)channels);
    mix_engine_sound(nullptr, out.data(), frames, channels);
    return out;
  }
  static EngineSoundInput at(double rpm, Vec3 position) { return {rpm, 1, 0.8, 0, false, position, {0, 0, 0}}; }
  static double channel_rms(const std::vector<int16_t>& x, int channel, int channels) {
    double sum = 0;
    for (size_t i = (size_t)channel; i < x.size(); i += (size_t)channels) sum += (double)x[i] * x[i];
    return std::sqrt(sum * channels / (double)x.size());
  }
};

TEST_F(MixerTest, MasterFactorZeroIsExactSilence) {
  start_sound_output(22050, 2, 16);
  for (int slot : {0, 5, 9}) ASSERT_TRUE(create_bike_sound(slot, nullptr, slot ? "250" : "450f"));
  auto produce_all = [&](float master) {
    produce_bike_sound(0, at(9000, {0, 3, 0}), master, true);
    produce_bike_sound(5, at(7000, {10, 3, -5}), sound_competitor_factor(master, 8), false);
    produce_bike_sound(9, at(5000, {-30, 3, 40}), sound_competitor_factor(master, 8), false);
  };
  float paused = sound_master_factor(true, false, false, true, 10);
  for (int frame = 0; frame < 60; frame++) {
    produce_all(paused);
    for (int16_t v : mix(367, 2)) ASSERT_EQ(v, 0);
  }
  for (int frame = 0; frame < 20; frame++) {
    produce_all(sound_master_factor(false, false, false, true, 10));
    mix(367, 2);
  }
  EXPECT_GT(channel_rms(mix(367, 2), 0, 2), 100.0);
  // Paused again: after the fade and the converter's reach (two frames)
  // the output is exactly 0.
  for (int frame = 0; frame < 12; frame++) {
    produce_all(paused);
    std::vector<int16_t> out = mix(367, 2);
    if (frame < 2) continue;
    for (int16_t v : out) ASSERT_EQ(v, 0);
  }
}

// A scripted ride of two bikes recorded the way "--record-audio" does.
std::vector<int16_t> capture_ride(int ticks) {
  delete_all_bike_sounds();
  start_sound_output(88320, 1, 16);
  create_bike_sound(0, nullptr, "450f");
  create_bike_sound(1, nullptr, "125");
  std::vector<int16_t> file;
  for (int t = 0; t < ticks; t++) {
    float s = (float)t / 128;
    set_sound_listener({{0, 5, -20 * s}, {0, 0, -20}, {1, 0, 0}});
    produce_bike_sound(0, {3000 + 6000 * std::fmod(s, 1.0), 1, 0.9, 0, false, {0, 3, -20 * s}, {0, 0, -20}}, 1, true);
    produce_bike_sound(1, {11000, 1, 0.5, 0, t % 50 < 20, {15, 3, -50 * s}, {0, 0, -50}}, 0.8f, false);
    int16_t block[690];
    mix_engine_sound(nullptr, block, 690, 1);
    file.insert(file.end(), block, block + 690);
  }
  return file;
}

TEST_F(MixerTest, CaptureIsTheSameForTheSameRide) {
  std::vector<int16_t> first = capture_ride(384);
  EXPECT_EQ(first, capture_ride(384));
  EXPECT_GT(channel_rms(first, 0, 1), 300.0);
}

TEST_F(MixerTest, BlockSizesDoNotChangeTheSound) {
  // A slow frame asks for one long block, quick frames for many short ones:
  // with the same controls the device must get the same samples.
  std::vector<int16_t> out[2];
  for (int pass = 0; pass < 2; pass++) {
    delete_all_bike_sounds();
    start_sound_output(48000, 2, 16);
    create_bike_sound(0, nullptr, "250f");
    create_bike_sound(1, nullptr, "250");
    produce_bike_sound(0, at(8000, {0, 3, 0}), 1.0f, true);
    produce_bike_sound(1, at(9500, {-60, 3, 80}), 0.8f, false);
    for (int n : pass ? std::vector<int>{1, 2, 799, 6000, 3, 2048, 2049, 1098} : std::vector<int>{12000}) {
      std::vector<int16_t> block = mix(n, 2);
      out[pass].insert(out[pass].end(), block.begin(), block.end());
    }
  }
  EXPECT_EQ(out[0], out[1]);
}

TEST_F(MixerTest, CompetitorsAreLoweredAndPannedByDistance) {
  start_sound_output(44100, 2, 16);
  create_bike_sound(0, nullptr, "250");
  // The viewed bike sits in the middle, wherever it is.
  for (int i = 0; i < 30; i++) {
    produce_bike_sound(0, at(7000, {300, 3, 0}), 1.0f, true);
    std::vector<int16_t> out = mix(735, 2);
    for (size_t k = 0; k < out.size(); k += 2) ASSERT_EQ(out[k], out[k + 1]);
  }
  double level[2][2];  // [near, far][left, right]
  for (int far = 0; far < 2; far++) {
    create_bike_sound(0, nullptr, "250");
    std::vector<int16_t> out;
    for (int i = 0; i < 40; i++) {
      produce_bike_sound(0, at(7000, {far ? 200.0f : 20.0f, 3, 0}), 1.0f, false);
      std::vector<int16_t> block = mix(735, 2);
      if (i >= 5) out.insert(out.end(), block.begin(), block.end());
    }
    level[far][0] = channel_rms(out, 0, 2);
    level[far][1] = channel_rms(out, 1, 2);
  }
  EXPECT_GT(level[1][1], 3 * level[1][0]);  // to the listener's right
  EXPECT_GT(level[1][0], 0.0);              // never quite one ear
  EXPECT_GT(level[0][0] + level[0][1], 5 * (level[1][0] + level[1][1]));  // ten times nearer
}

TEST_F(MixerTest, OnlyTheLoudestBikesTakeTheVoices) {
  start_sound_output(22050, 2, 2);
  const float distance[4] = {400, 30, 900, 60};
  for (int i = 0; i < 4; i++) create_bike_sound(i, nullptr, "250");
  for (int frame = 0; frame < 5; frame++) {
    for (int i = 0; i < 4; i++) produce_bike_sound(i, at(8000, {distance[i], 3, 0}), 1.0f, false);
    mix(367, 2);
  }
  EXPECT_GT(bike_sound_synth(1)->written, 0);
  EXPECT_GT(bike_sound_synth(3)->written, 0);
  EXPECT_EQ(bike_sound_synth(0)->written, 0);
  EXPECT_EQ(bike_sound_synth(2)->written, 0);
}

TEST_F(MixerTest, APackDrivenIntoTheClipperKeepsItsShape) {
  // The same 40 bikes quietly and far too loud: where the quiet mix has a
  // clear sign the loud one has the same sign (nothing wraps round), and
  // the loud one saturates near full scale.
  std::vector<int16_t> mixes[2];
  for (int pass = 0; pass < 2; pass++) {
    delete_all_bike_sounds();
    start_sound_output(22050, 2, 40);
    for (int i = 0; i < 40; i++) create_bike_sound(i, nullptr, i % 2 ? "450f" : "250");
    for (int frame = 0; frame < 30; frame++) {
      for (int i = 0; i < 40; i++)
        produce_bike_sound(i, at(6000 + 100 * i, {5.0f + i, 3, 0}), pass ? 4.0f : 0.02f, i == 0);
      std::vector<int16_t> block = mix(367, 2);
      mixes[pass].insert(mixes[pass].end(), block.begin(), block.end());
    }
  }
  int peak = 0, agreeing = 0, compared = 0;
  for (size_t i = 0; i < mixes[0].size(); i++) {
    peak = std::max(peak, std::abs((int)mixes[1][i]));
    if (std::abs(mixes[0][i]) < 200) continue;
    compared++;
    agreeing += (mixes[0][i] > 0) == (mixes[1][i] > 0);
  }
  EXPECT_GT(compared, 1000);
  EXPECT_EQ(agreeing, compared);
  EXPECT_GT(peak, 28000);
}

TEST(Resampler, KeepsThePassBandAndRemovesWhatTheNewRateCannotHold) {
  struct Case {
    int rate;
    double hz, gain;  // expected output amplitude
  };
  for (Case c : {Case{22050, 1000, 1}, Case{22050, 8000, 1}, Case{22050, 11600, 0}, Case{22050, 15000, 0},
                 Case{48000, 16000, 1}, Case{88320, 5000, 1}, Case{11025, 7000, 0}}) {
    Resampler r;
    setup_resampler(&r, 44100, c.rate);
    std::vector<float> input(44100);
    for (size_t i = 0; i < input.size(); i++) input[i] = (float)std::sin(2 * M_PI * c.hz * (double)i / 44100);
    double sum = 0;
    int n = 0;
    for (double at = 2000; at < 40000; at += r.step, n++) sum += std::pow(resample_at(r, input.data(), at), 2);
    double amplitude = std::sqrt(2 * sum / n);
    if (c.gain > 0)
      EXPECT_NEAR(amplitude, c.gain, 0.01) << c.rate << " Hz output, " << c.hz << " Hz tone";
    else
      EXPECT_LT(amplitude, 0.003) << c.rate << " Hz output, " << c.hz << " Hz tone";  // below -50 dB
  }
}

}  // namespace
