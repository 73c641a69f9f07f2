// The engine synthesis: pitch against engine speed, its clamp, and that it
// audibly follows throttle, load, the limiter and the pipe.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <memory>

#include "core/message.h"
#include "sound/engine_synth.h"
#include "sound/sound.h"
#include "tests/sound/sound_test_util.h"

namespace {

using sound_test::band_energy;
using sound_test::fundamental_hz;
using sound_test::render;
using sound_test::rms;

std::unique_ptr<EngineSynth> make_synth(const EngineSoundDefinition& d, uint32_t seed = 1) {
  auto s = std::make_unique<EngineSynth>();
  start_engine_synth(s.get(), d, seed);
  return s;
}

EngineControls steady(double rpm, double throttle = 0.8, double load = 0.6) {
  return {rpm, throttle, load, 0, false, 1};
}

TEST(EngineSynth, FiringFrequencyTracksRpmForBothStrokes) {
  for (const char* engine_class : {"450f", "250"}) {
    EngineSoundDefinition d = builtin_engine_sound(engine_class);
    // Firing-to-firing variation must not move the pitch.
    d.bias_count = 5;
    d.scale_count = 3;
    for (int i = 0; i < 5; i++) d.bias[i] = 0.04f * (float)(i - 2);
    for (int i = 0; i < 3; i++) d.scale[i] = 1.0f + 0.05f * (float)(i - 1);
    for (double rpm : {1500.0, 2200.0, 3000.0, 4500.0, 6000.0, 8000.0, 10000.0, 12000.0}) {
      auto s = make_synth(d);
      double measured = fundamental_hz(render(s.get(), steady(rpm), 0.25, 0.75), SYNTH_RATE, 4.0, 1500.0);
      double expected = rpm * d.firings_per_rev / 60.0;
      EXPECT_NEAR(measured / expected, 1.0, 0.02) << engine_class << " at " << rpm << " rpm: " << measured << " Hz";
    }
  }
}

// Recorded samples play one period per firing, stretched to the engine's
// firing interval: the pitch stays the firing rate, not the sample's own,
// and the neighbouring row is blended in by engine speed.
TEST(EngineSynth, SoundTableSamplesFollowTheFiringClock) {
  auto bark = [](std::vector<float>& v, double period) {  // one decaying bark a period
    for (size_t i = 0; i < v.size(); i++) {
      double t = std::fmod((double)i, period);
      v[i] = (float)(std::exp(-t / (0.2 * period)) * std::sin(2 * M_PI * 5 * t / period));
    }
  };
  static std::vector<float> low(1323), high(1176);
  bark(low, 330.75);
  bark(high, 147);
  SoundTable table{"t", 2, 1, {4000, 9000}, {0.5}, {}};
  table.cells = {SoundCell{low.data(), (int)low.size(), 330.75, {0}, 4000, 0.5},
                 SoundCell{high.data(), (int)high.size(), 147, {}, 9000, 0.5}};
  EngineSoundDefinition d = builtin_engine_sound("450f");
  d.sound_table = &table;
  for (double rpm : {2500.0, 5000.0, 7600.0, 11000.0}) {
    auto s = make_synth(d);
    std::vector<float> out = render(s.get(), steady(rpm), 0.25, 0.75);
    EXPECT_NEAR(fundamental_hz(out, SYNTH_RATE, 4.0, 1500.0) / (rpm / 120.0), 1.0, 0.02) << rpm;
    EXPECT_EQ(s->table[0].cell, &table.cells[rpm < 6500 ? 0 : 1]);
    if (rpm > 4000 && rpm < 9000) {
      EXPECT_EQ(s->table[1].cell, &table.cells[rpm < 6500 ? 1 : 0]);
      EXPECT_NEAR(s->table[1].weight, rpm < 6500 ? (rpm - 4000) / 5000 : (9000 - rpm) / 5000, 0.01);
    } else {
      EXPECT_EQ(s->table[1].cell, nullptr);
    }
  }
}

TEST(EngineSynth, FiringClockNeverRunsBelowFiveHertz) {
  EngineSoundDefinition d = builtin_engine_sound("450f");
  d.min_rpm = 0;
  EXPECT_EQ(engine_firing_hz(d, steady(300)), 5.0);  // 2.5 Hz by the engine speed
  auto s = make_synth(d);
  render(s.get(), steady(0), 0.0, 2.0);
  EXPECT_NEAR((double)s->firings, 10.0, 1.0);
  // The definition's minimum engine speed holds a stalled engine at idle.
  EngineSoundDefinition idle = builtin_engine_sound("250");
  idle.min_rpm = 1200;
  auto t = make_synth(idle);
  EXPECT_NEAR(fundamental_hz(render(t.get(), steady(0), 0.2, 0.8), SYNTH_RATE, 4.0, 1500.0), 20.0, 0.4);
}

TEST(EngineSynth, OutputStaysWithinItsClampWhateverTheDefinitionOrControls) {
  EngineSoundDefinition d = builtin_engine_sound("250");
  d.bias_count = 2;
  d.bias[0] = 1e30f;
  d.bias[1] = -1e30f;
  d.scale_count = 1;
  d.scale[0] = 1e30f;
  d.low_torque = -1e9;
  d.high_torque = 1e9;
  d.gain = 1e9;
  d.min_rpm = -5;
  d.pipe = {1e9, 5, -5, -3, 99};
  auto s = make_synth(d);
  for (EngineControls c : {EngineControls{NAN, 5, -3, 0, false, 1}, EngineControls{1e12, 1, 1, 1e9, true, 1e9},
                           EngineControls{INFINITY, NAN, NAN, NAN, false, NAN}, EngineControls{3000, 1, 1, -4, false, 0}})
    for (float v : render(s.get(), c, 0.0, 0.3)) ASSERT_LE(std::fabs(v), SYNTH_CLAMP);  // false for NaN too
  // A stock definition at full throttle stays clear of the clamp.
  auto stock = make_synth(builtin_engine_sound("450f"));
  float peak = 0;
  for (float v : render(stock.get(), steady(9000, 1, 1), 0.1, 1.0)) peak = std::max(peak, std::fabs(v));
  EXPECT_GT(peak, 0.5f);
  EXPECT_LT(peak, SYNTH_CLAMP * 0.75f);
}

TEST(EngineSynth, SoundFollowsThrottleLoadAndTheLimiter) {
  for (const char* engine_class : {"450f", "250"}) {
    EngineSoundDefinition d = builtin_engine_sound(engine_class);
    auto open = make_synth(d), closed = make_synth(d), light = make_synth(d);
    std::vector<float> full = render(open.get(), steady(7000, 1, 1), 0.2, 1.0);
    std::vector<float> unloaded = render(light.get(), steady(7000, 1, 0), 0.2, 1.0);
    EXPECT_GT(rms(full), 2.0 * rms(render(closed.get(), steady(7000, 0, 0), 0.2, 1.0))) << engine_class;
    // Load raises the note and brightens it.
    EXPECT_GT(rms(full), rms(unloaded)) << engine_class;
    EXPECT_GT(band_energy(full, SYNTH_RATE, 2000, 22050) / band_energy(full, SYNTH_RATE, 0, 22050),
              1.2 * band_energy(unloaded, SYNTH_RATE, 2000, 22050) / band_energy(unloaded, SYNTH_RATE, 0, 22050))
        << engine_class;

    // On the limiter the loudness beats at the cut rate, about 14 times a
    // second, down to near silence; off it, the loudness holds.
    for (bool limiter : {false, true}) {
      auto s = make_synth(d);
      EngineControls c = steady(11500, 1, 0.3);
      c.on_limiter = limiter;
      std::vector<float> out = render(s.get(), c, 0.2, 2.0);
      std::vector<double> envelope;  // 5 ms windows
      for (size_t at = 0; at + 220 <= out.size(); at += 220) envelope.push_back(rms(out, at, at + 220));
      double mean = 0;
      for (double e : envelope) mean += e / (double)envelope.size();
      double depth = 0, depth_hz = 0;
      for (double hz = 8; hz <= 20; hz += 0.25) {
        std::complex<double> sum = 0;
        for (size_t k = 0; k < envelope.size(); k++)
          sum += envelope[k] * std::polar(1.0, -2 * M_PI * hz * (double)k * 220 / SYNTH_RATE);
        double m = 2 * std::abs(sum) / ((double)envelope.size() * mean);
        if (m > depth) depth = m, depth_hz = hz;
      }
      std::sort(envelope.begin(), envelope.end());
      double quiet = envelope[envelope.size() / 20] / envelope[envelope.size() / 2];
      if (limiter) {
        EXPECT_GT(depth, 0.4) << engine_class;
        EXPECT_NEAR(depth_hz, 14.0, 1.0) << engine_class;
        EXPECT_LT(quiet, 0.35) << engine_class;
      } else {
        EXPECT_LT(depth, 0.15) << engine_class;
        EXPECT_GT(quiet, 0.6) << engine_class;
      }
    }
  }
}

TEST(EngineSynth, PipeResonatesWhereItsRoundTripSays) {
  // 5 ms round trip with an inverting open end: resonances at 100, 300,
  // 500 Hz, little at 200 and 400. Halving the pipe moves them to 200, 600
  // and the balance between the bands turns over.
  auto s = make_synth(builtin_engine_sound("450f"));
  double ratio[2][2];
  for (int pass = 0; pass < 2; pass++) {
    if (pass) set_engine_pipe(s.get(), parse_pipe_numbers("2.5 0.918207"));
    std::vector<float> out = render(s.get(), steady(2100, 1, 1), 0.3, 1.5);
    ratio[pass][0] = band_energy(out, SYNTH_RATE, 90, 110) / band_energy(out, SYNTH_RATE, 190, 210);
    ratio[pass][1] = band_energy(out, SYNTH_RATE, 590, 610) / band_energy(out, SYNTH_RATE, 390, 410);
  }
  EXPECT_GT(ratio[0][0], 10 * ratio[1][0]);
  EXPECT_GT(ratio[1][1], 10 * ratio[0][1]);
  EXPECT_GT(ratio[0][0], 1.0);
  EXPECT_LT(ratio[1][0], 1.0);
}

TEST(EngineSynth, SameCallsGiveTheSameSamplesHoweverTheyAreSplit) {
  EngineSoundDefinition d = builtin_engine_sound("250f");
  auto a = make_synth(d, 4), b = make_synth(d, 4), other = make_synth(d, 5);
  EngineControls c = steady(8000, 0.9, 0.7);
  std::vector<float> whole = render(a.get(), c, 0.0, 0.5);
  set_engine_controls(b.get(), c);
  std::vector<float> pieces;
  for (int n : {1, 31, 32, 33, 1000, 8820, 3, 3000, 4000, 8820}) {
    int start = synthesize_engine(b.get(), n);
    for (int i = 0; i < n && pieces.size() < whole.size(); i++)
      pieces.push_back(b->ring[(start + i) & (SYNTH_RING_SAMPLES - 1)]);
  }
  EXPECT_EQ(whole, pieces);
  // Another bike (seed) of the same class is not a sample-for-sample copy.
  EXPECT_NE(whole, render(other.get(), c, 0.0, 0.5));
}

TEST(EngineSynth, PipeCommandChangesTheViewedBikesPipe) {
  clear_message_lines();
  EXPECT_FALSE(set_bike_sound_pipe(12, "1 2 3 4 5"));
  ASSERT_TRUE(create_bike_sound(12, nullptr, "450f"));
  EXPECT_TRUE(set_bike_sound_pipe(12, "2.5 0.5"));
  EXPECT_STREQ(message_line(0), "Pipe updated");
  const EngineSynth* s = bike_sound_synth(12);
  EXPECT_EQ(s->definition.pipe.engine_reflection, 0.5);
  EXPECT_EQ(s->definition.pipe.open_reflection, -0.85);
  EXPECT_EQ(s->pipe.delay, 55);  // 1.25 ms one way at 44100
  delete_all_bike_sounds();
}

}  // namespace
