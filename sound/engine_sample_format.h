// Sample files named by engine sound tables (".braap" "soundtable" lines).
//
// A sample file is raw mono PCM, 8-bit unsigned (128 is silence), at 11025
// samples per second, the engine synthesis's own rate. It holds a whole
// number of engine cycles recorded (or, for the shipped data, synthesised)
// at its cell's engine speed and load, so it loops without a click. The
// cell's period is the length of one firing interval in samples, and its
// index list gives the sample offsets where firings start within it.
//
// The shipped tables are "@sounds/<class>.table" for the classes that have
// one; their samples are "@sounds/<class>_<rpm>_<load>.raw" (stored
// gzip-compressed in the archive; the data-file layer inflates them).
#pragma once

namespace engine_sample_format {

constexpr int SAMPLE_RATE = 11025;
constexpr int SAMPLE_SILENCE = 128;

}  // namespace engine_sample_format
