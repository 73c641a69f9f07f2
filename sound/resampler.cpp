#include "sound/resampler.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr int PHASES = 64;
// 16 input samples either side when upsampling; downsampling stretches the
// kernel with the ratio so the stop band stays where it should. At 32 taps
// a Blackman-Harris window left 44100 -> 22050 at -1.6 dB by 9 kHz; the
// Kaiser window below is flat (0.1 dB) to 0.75 of the lower Nyquist
// frequency and down 50 dB past 1.05 of it.
constexpr int BASE_HALF_TAPS = 16;
// The kernel's -6 dB point as a share of the lower Nyquist frequency.
constexpr double CUTOFF_SHARE = 0.9;
constexpr double KAISER_BETA = 7.0;

// The modified Bessel function of the first kind, order 0 (its series).
double bessel_i0(double x) {
  double sum = 1, term = 1;
  for (int k = 1; k < 40; k++) {
    term *= (x / (2 * k)) * (x / (2 * k));
    sum += term;
    if (term < sum * 1e-17) break;
  }
  return sum;
}

double kaiser(double x) {  // x in -1..1
  double inside = std::max(0.0, 1 - x * x);
  return bessel_i0(KAISER_BETA * std::sqrt(inside)) / bessel_i0(KAISER_BETA);
}

}  // namespace

void setup_resampler(Resampler* r, int input_rate, int output_rate) {
  output_rate = std::max(output_rate, input_rate / 48);
  r->step = (double)input_rate / (double)output_rate;
  r->passthrough = input_rate == output_rate;
  r->phases = PHASES;
  double stretch = std::max(1.0, r->step);
  // Even, so the kernel's 2 x half_taps fill whole groups of four.
  r->half_taps = 2 * (int)std::ceil(BASE_HALF_TAPS * 0.5 * stretch);
  int taps = 2 * r->half_taps;
  // Cut-off in cycles per input sample.
  double cutoff = 0.5 * CUTOFF_SHARE / stretch;
  r->kernel.assign((size_t)(PHASES + 1) * (size_t)taps, 0.0f);
  for (int k = 0; k <= PHASES; k++) {
    double frac = (double)k / PHASES;
    for (int m = 0; m < taps; m++) {
      // Tap m weighs input floor(position) - half_taps + 1 + m.
      double t = (m - r->half_taps + 1) - frac;
      double x = 2 * cutoff * t;
      double sinc = std::fabs(x) < 1e-12 ? 1.0 : std::sin(PI * x) / (PI * x);
      double w = kaiser(t / (r->half_taps + 1));
      r->kernel[(size_t)k * (size_t)taps + (size_t)m] = (float)(2 * cutoff * sinc * w);
    }
  }
  // Normalise each row to unit gain at 0 Hz so a constant stays constant.
  for (int k = 0; k <= PHASES; k++) {
    double sum = 0;
    for (int m = 0; m < taps; m++) sum += r->kernel[(size_t)k * (size_t)taps + (size_t)m];
    for (int m = 0; m < taps; m++) r->kernel[(size_t)k * (size_t)taps + (size_t)m] = (float)(r->kernel[(size_t)k * (size_t)taps + (size_t)m] / sum);
  }
}

namespace {

constexpr int MAX_TAPS = 2 * 16 * 48 + 8;  // half taps x 2 at the lowest rate ratio the mixer allows

// Four lanes at a time through the compiler's vector types (SSE here, NEON
// elsewhere); the lanes are summed in a fixed order, so results stay
// bit-identical from run to run.
typedef float Lanes __attribute__((vector_size(16)));

inline Lanes load(const float* p) {
  Lanes v;
  memcpy(&v, p, sizeof v);
  return v;
}

// The kernel for this position, interpolated between its two phase rows.
// Returns the first input index it weighs.
long kernel_at(const Resampler& r, double position, float* kernel, const float** row) {
  long base = (long)std::floor(position);
  double phase = (position - (double)base) * r.phases;
  int k = std::min((int)phase, r.phases - 1);
  float blend = (float)(phase - k);
  int taps = 2 * r.half_taps;
  const float* a = &r.kernel[(size_t)k * (size_t)taps];
  if (blend == 0.0f) {
    // Rates in a simple ratio (44100 to 22050) land on the rows themselves.
    *row = a;
  } else {
    const float* b = a + taps;
    Lanes t = {blend, blend, blend, blend};
    for (int m = 0; m < taps; m += 4) {
      Lanes va = load(a + m);
      Lanes v = va + (load(b + m) - va) * t;
      memcpy(kernel + m, &v, sizeof v);
    }
    *row = kernel;
  }
  return base - r.half_taps + 1;
}

inline float dot(const float* kernel, const float* x, int taps) {
  Lanes sum = {0, 0, 0, 0};
  for (int m = 0; m < taps; m += 4) sum += load(kernel + m) * load(x + m);
  return (sum[0] + sum[1]) + (sum[2] + sum[3]);
}

}  // namespace

float resample_at(const Resampler& r, const float* input, double position) {
  if (r.passthrough) return input[(long)std::floor(position)];
  float kernel[MAX_TAPS];
  const float* row;
  long first = kernel_at(r, position, kernel, &row);
  return dot(row, input + first, 2 * r.half_taps);
}

void resample_pair_at(const Resampler& r, const float* left, const float* right, double position, float* out_left,
                      float* out_right) {
  if (r.passthrough) {
    long at = (long)std::floor(position);
    *out_left = left[at];
    *out_right = right[at];
    return;
  }
  float kernel[MAX_TAPS];
  const float* row;
  long first = kernel_at(r, position, kernel, &row);
  *out_left = dot(row, left + first, 2 * r.half_taps);
  *out_right = dot(row, right + first, 2 * r.half_taps);
}
