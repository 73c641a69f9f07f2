// Engine sound: the five class definitions "@default50.braap" ...
// "@default450f.braap", and sound tables for the 450 four-stroke and the
// 125 two-stroke whose samples are synthesised here: one firing of the
// engine at each table speed and load, an exhaust pulse ringing in the
// pipe with combustion noise that grows with load, a few cycles long so it
// loops cleanly (format in sound/engine_sample_format.h).
#include <algorithm>
#include <cmath>

#include "sound/engine_sample_format.h"
#include "tools/dataset/dataset.h"

namespace dvdata {

namespace {

struct EngineVoice {
  const char* table;      // "450f": "@sounds/450f.table"
  double firings_per_rev;
  double ring_hz;         // pipe resonance
  double ring_decay;      // seconds
  double pulse_decay;
  double noise;           // combustion and mechanical noise at full load
  std::vector<double> rpm;
  std::vector<double> load;
};

std::vector<unsigned char> bytes_of(const std::string& s) { return std::vector<unsigned char>(s.begin(), s.end()); }

// One sample file: `cycles` firing periods of `period` samples.
std::vector<unsigned char> firing_sample(const EngineVoice& v, double rpm, double load, double period, int cycles,
                                         uint32_t seed) {
  const double rate = engine_sample_format::SAMPLE_RATE;
  int count = (int)std::lround(period * cycles);
  std::vector<double> out((size_t)count, 0.0);
  Random random(seed);
  for (int c = 0; c < cycles; c++) {
    // Each firing a little different, as a real engine's are.
    double strength = (0.55 + 0.45 * load) * random.range(0.9, 1.1);
    double start = c * period;
    for (int i = 0; i < count; i++) {
      // The pulse and its ring continue into the next period and wrap
      // around, so the loop has no seam.
      double t = std::fmod(i - start + count, (double)count) / rate;
      double ring = std::exp(-t / v.ring_decay) *
                    (std::sin(2 * M_PI * v.ring_hz * t) + 0.45 * std::sin(2 * M_PI * v.ring_hz * 2.7 * t + 0.7));
      double pulse = std::exp(-t / v.pulse_decay) * (1 - std::exp(-t / 0.0004));
      out[(size_t)i] += strength * (0.8 * pulse + 0.5 * ring);
    }
  }
  // Noise, shaped by the firings and louder under load and at speed.
  double noise_level = v.noise * (0.3 + 0.7 * load) * (0.6 + 0.4 * std::min(1.0, rpm / 10000));
  double low = 0;
  for (int i = 0; i < count; i++) {
    double phase = std::fmod(i, period) / period;
    low += (random.range(-1, 1) - low) * 0.35;
    out[(size_t)i] += noise_level * low * (0.4 + 0.6 * std::exp(-phase * 4));
  }
  // Remove the mean and scale to the 8-bit range with headroom.
  double mean = 0, peak = 1e-9;
  for (double s : out) mean += s;
  mean /= count;
  for (double& s : out) s -= mean, peak = std::max(peak, std::fabs(s));
  double gain = (0.35 + 0.55 * load) / peak;
  std::vector<unsigned char> bytes((size_t)count);
  for (int i = 0; i < count; i++) {
    double s = out[(size_t)i] * gain;
    bytes[(size_t)i] = (unsigned char)std::clamp((long)std::lround(engine_sample_format::SAMPLE_SILENCE + s * 127), 0L, 255L);
  }
  return bytes;
}

void sound_table(DataSet* set, const EngineVoice& v) {
  const double rate = engine_sample_format::SAMPLE_RATE;
  std::string text = format("SOUNDTABLE %d %d\n", (int)v.rpm.size(), (int)v.load.size());
  for (double r : v.rpm) text += format("%.0f ", r);
  text += "\n";
  for (double l : v.load) text += format("%.2f ", l);
  text += "\n";
  for (size_t r = 0; r < v.rpm.size(); r++)
    for (size_t l = 0; l < v.load.size(); l++) {
      double period = rate * 60.0 / (v.rpm[r] * v.firings_per_rev);
      // Enough whole periods that the sample is a whole number of samples
      // (to a hundredth) and at least a twentieth of a second long.
      int cycles = 1;
      while (cycles < 64 && (cycles * period < rate * 0.05 ||
                             std::fabs(cycles * period - std::round(cycles * period)) > 0.01))
        cycles++;
      std::string name = format("sounds/%s_%.0f_%.0f.raw", v.table, v.rpm[r], v.load[l] * 100);
      put_member(set, "sounds.saf", name,
                 firing_sample(v, v.rpm[r], v.load[l], period, cycles, (uint32_t)(r * 31 + l * 7 + 1)), true);
      // No start offsets: each firing's pulse begins its period.
      text += format("-1 %.4f @%s\n", period, name.c_str());
    }
  put_member(set, "sounds.saf", format("sounds/%s.table", v.table), bytes_of(text));
}

}  // namespace

void build_sounds(DataSet* set) {
  EngineVoice four{"450f", 0.5, 95, 0.018, 0.004, 0.45, {1500, 3000, 5000, 7000, 9000, 11000}, {0, 0.5, 1}};
  EngineVoice two{"125", 1.0, 260, 0.006, 0.0015, 0.6, {2000, 4500, 7000, 9500, 12000}, {0, 0.5, 1}};
  sound_table(set, four);
  sound_table(set, two);
  // The definitions, one per engine class. Torques are loudness steps
  // (each about 1.8 dB); bias and scale give each firing of the cycle its
  // own weight, so singles lope at idle.
  put_member(set, "", "default450f.braap", bytes_of(
      "# 450 four-stroke single: deep, boomy pipe, thump at low revs\n"
      "pipe 5.0 0.918207 -0.85 0 15\n"
      "minrpm 1100\n"
      "lowtorque -2.5\n"
      "hightorque 2.6\n"
      "bias 0.05 -0.04 0.02 -0.06 0.04 0.0 -0.03 0.02\n"
      "scale 1.06 0.95 1.02 0.97 1.04 0.96\n"
      "soundtable @sounds/450f.table\n"));
  put_member(set, "", "default250f.braap", bytes_of(
      "# 250 four-stroke: higher and tighter than the 450\n"
      "pipe 3.9 0.9 -0.82 0 15\n"
      "minrpm 1400\n"
      "lowtorque -2.6\n"
      "hightorque 2.3\n"
      "bias 0.03 -0.03 0.02 -0.04\n"
      "scale 1.04 0.97 1.01 0.98\n"));
  put_member(set, "", "default250.braap", bytes_of(
      "# 250 two-stroke: a long expansion chamber, crackle off the throttle\n"
      "pipe 2.4 0.35 -0.78 0 15\n"
      "minrpm 1200\n"
      "lowtorque -3.6\n"
      "hightorque 3.4\n"
      "bias 0.0 0.08 -0.05 0.03 -0.08 0.06\n"
      "scale 1.0 0.9 1.08 0.95\n"));
  put_member(set, "", "default125.braap", bytes_of(
      "# 125 two-stroke: short chamber, screams near the top\n"
      "pipe 1.75 0.3 -0.75 0 15\n"
      "minrpm 1500\n"
      "lowtorque -3.5\n"
      "hightorque 3.5\n"
      "bias 0.02 -0.06 0.05 -0.02\n"
      "scale 1.02 0.96 1.05 0.97\n"
      "soundtable @sounds/125.table\n"));
  put_member(set, "", "default50.braap", bytes_of(
      "# 50 two-stroke: a buzzing little pipe\n"
      "pipe 1.1 0.3 -0.7 0 15\n"
      "minrpm 1800\n"
      "lowtorque -3.5\n"
      "hightorque 1.5\n"));
}

}  // namespace dvdata
