// Shared by the sound tests: measuring pitch and level of rendered samples,
// and running a synthesiser at steady controls.
#pragma once

#include <algorithm>
#include <cmath>
#include <complex>
#include <vector>

#include "sound/engine_synth.h"

namespace sound_test {

inline void fft(std::vector<std::complex<double>>& a, bool inverse) {
  size_t n = a.size();
  for (size_t i = 1, j = 0; i < n; i++) {
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  for (size_t len = 2; len <= n; len <<= 1) {
    double angle = 2 * M_PI / (double)len * (inverse ? -1 : 1);
    std::complex<double> w_len(std::cos(angle), std::sin(angle));
    for (size_t i = 0; i < n; i += len) {
      std::complex<double> w(1);
      for (size_t k = 0; k < len / 2; k++, w *= w_len) {
        std::complex<double> u = a[i + k], v = a[i + k + len / 2] * w;
        a[i + k] = u + v;
        a[i + k + len / 2] = u - v;
      }
    }
  }
}

// The fundamental frequency of x by autocorrelation: the shortest lag whose
// correlation comes within 10% of the best one between min_hz and max_hz
// (so a strong harmonic or a repeat two periods on does not win), refined
// by a parabola through its neighbours. 0 when nothing correlates.
inline double fundamental_hz(const std::vector<float>& x, double rate, double min_hz, double max_hz) {
  size_t n = 1;
  while (n < 2 * x.size()) n <<= 1;
  double mean = 0;
  for (float v : x) mean += v;
  mean /= (double)x.size();
  std::vector<std::complex<double>> a(n);
  for (size_t i = 0; i < x.size(); i++) a[i] = x[i] - mean;
  fft(a, false);
  for (auto& v : a) v = std::norm(v);
  fft(a, true);
  std::vector<double> r(x.size());
  for (size_t lag = 0; lag < x.size(); lag++)
    // Unbiased: each lag's sum covers fewer samples.
    r[lag] = a[lag].real() / (double)(x.size() - lag);
  size_t lo = (size_t)(rate / max_hz), hi = std::min(x.size() / 2, (size_t)(rate / min_hz));
  double best = 0;
  for (size_t lag = lo; lag <= hi; lag++) best = std::max(best, r[lag]);
  if (best <= 0) return 0;
  for (size_t lag = std::max<size_t>(lo, 1); lag <= hi; lag++) {
    if (r[lag] >= 0.9 * best && r[lag] >= r[lag - 1] && r[lag] >= r[lag + 1]) {
      double y0 = r[lag - 1], y1 = r[lag], y2 = r[lag + 1];
      double d = y0 - 2 * y1 + y2;
      double shift = d != 0 ? 0.5 * (y0 - y2) / d : 0;
      return rate / ((double)lag + shift);
    }
  }
  return 0;
}

inline double rms(const std::vector<float>& x, size_t from = 0, size_t to = 0) {
  if (to == 0) to = x.size();
  double sum = 0;
  for (size_t i = from; i < to; i++) sum += (double)x[i] * x[i];
  return std::sqrt(sum / (double)(to - from));
}

// Energy between lo and hi Hz, from one FFT over the samples.
inline double band_energy(const std::vector<float>& x, double rate, double lo, double hi) {
  size_t n = 1;
  while (n < x.size()) n <<= 1;
  std::vector<std::complex<double>> a(n);
  for (size_t i = 0; i < x.size(); i++) a[i] = x[i];
  fft(a, false);
  double e = 0;
  for (size_t k = 1; k < n / 2; k++) {
    double hz = (double)k * rate / (double)n;
    if (hz >= lo && hz < hi) e += std::norm(a[k]);
  }
  return e;
}

// Runs the synthesiser at fixed controls: `settle` seconds are dropped, then
// `seconds` are returned.
inline std::vector<float> render(EngineSynth* s, const EngineControls& c, double settle, double seconds) {
  set_engine_controls(s, c);
  std::vector<float> out;
  int skip = (int)(settle * SYNTH_RATE), want = (int)(seconds * SYNTH_RATE);
  for (int done = 0; done < skip + want;) {
    int n = std::min(SYNTH_MAX_BLOCK, skip + want - done);
    int start = synthesize_engine(s, n);
    for (int i = 0; i < n; i++)
      if (done + i >= skip) out.push_back(s->ring[(start + i) & (SYNTH_RING_SAMPLES - 1)]);
    done += n;
  }
  return out;
}

}  // namespace sound_test
