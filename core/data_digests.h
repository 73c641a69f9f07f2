// RIPEMD-160 digests of the data set we ship, as 40 lower-case hex digits.
// The data-set builder (tools/dvdata) prints the values for a freshly built
// set and fails when they differ from these; a test does the same, so the
// builder's output and these constants cannot drift apart silently.
#pragma once

// First 1048576 bytes of "zzzz.saf".
inline constexpr char GAME_DATA_DIGEST[] = "868a26ad15860fe74f54474a747c5de23bddafa8";

// The seven fixed shape files, in check order; up to three accepted
// versions. There is only one so far: the other slots match no file.
inline constexpr const char* FIXED_MODEL_DIGESTS[3] = {
    "e38b69640e35a2df991953f363b2f0b23e20e866",
    "0000000000000000000000000000000000000000",
    "0000000000000000000000000000000000000000",
};

inline constexpr const char* FIXED_MODEL_FILES[7] = {
    "@generic_frame.shp", "@generic_fork_upper.shp", "@generic_fork_lower.shp", "@generic_swingarm.shp",
    "@front_wheel.shp",   "@rear_wheel.shp",         "@generic_rider.shp",
};
