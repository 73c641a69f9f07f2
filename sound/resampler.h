// Band-limited rate conversion of the mixed engine sound from the synthesis
// rate to the output rate: a windowed-sinc kernel tabulated at 64 fractional
// positions and interpolated between them.
#pragma once

#include <vector>

struct Resampler {
  double step;        // input samples per output sample
  bool passthrough;   // equal rates: copy, no filtering and no delay
  int half_taps;      // kernel reach on each side, input samples
  int phases;
  std::vector<float> kernel;  // (phases + 1) rows of 2 x half_taps taps
};

void setup_resampler(Resampler* r, int input_rate, int output_rate);

// One output sample at input position `position` (in samples of `input`,
// whose index 0 is the first sample held): reads input[floor(position) -
// half_taps + 1 .. floor(position) + half_taps], which the caller keeps.
float resample_at(const Resampler& r, const float* input, double position);
// The same for two inputs at once (the kernel is interpolated once).
void resample_pair_at(const Resampler& r, const float* left, const float* right, double position, float* out_left,
                      float* out_right);
