#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "platform/audio_edges.h"

namespace {

// The largest jump between neighbouring frames of one channel.
int largest_step(const std::vector<int16_t>& s, int channels, int16_t before) {
  int worst = std::abs(s[0] - before);
  for (size_t i = (size_t)channels; i < s.size(); i++) worst = std::max(worst, std::abs(s[i] - s[i - (size_t)channels]));
  return worst;
}

}  // namespace

TEST(AudioEdges, ShortfallFadesInsteadOfDropping) {
  const int channels = 2, frames = 256, taken = 100;
  std::vector<int16_t> block((size_t)frames * channels, 0);
  for (int f = 0; f < taken; f++) block[(size_t)f * 2] = 20000, block[(size_t)f * 2 + 1] = -20000;
  AudioEdgeState state = {};
  soften_audio_edges(block.data(), frames, taken, channels, &state);
  EXPECT_EQ(block[(size_t)(taken - 1) * 2], 20000) << "real samples are kept";
  EXPECT_LT(largest_step(block, channels, 20000), 20000 / AUDIO_EDGE_FRAMES + 2);
  EXPECT_EQ(block.back(), 0);
  EXPECT_TRUE(state.starved);

  // The next block brings the signal back in without a step either.
  std::vector<int16_t> next((size_t)frames * channels, 20000);
  soften_audio_edges(next.data(), frames, frames, channels, &state);
  EXPECT_LT(largest_step(next, channels, 0), 20000 / AUDIO_EDGE_FRAMES + 2);
  EXPECT_EQ(next.back(), 20000);
  EXPECT_FALSE(state.starved);
}

TEST(AudioEdges, EmptyBlockFadesThePreviousBlocksLastFrame) {
  AudioEdgeState state = {};
  std::vector<int16_t> full(128, -12000);
  soften_audio_edges(full.data(), 128, 128, 1, &state);
  for (int16_t v : full) ASSERT_EQ(v, -12000) << "a full block is untouched";

  std::vector<int16_t> empty(128, 0);
  soften_audio_edges(empty.data(), 128, 0, 1, &state);
  EXPECT_LT(largest_step(empty, 1, -12000), 12000 / AUDIO_EDGE_FRAMES + 2);
  EXPECT_EQ(empty[AUDIO_EDGE_FRAMES - 1], 0);
  // Once faded, more empty blocks stay silent.
  std::vector<int16_t> again(128, 0);
  soften_audio_edges(again.data(), 128, 0, 1, &state);
  for (int16_t v : again) ASSERT_EQ(v, 0);
}
