// RIPEMD-160 digests of the data set we ship, as 40 lower-case hex digits.
// The data-set builder prints the values for a freshly built set
// (game_data_digest() and fixed_models_digest() in core/datafile.h); these
// constants are updated from that output whenever the shipped data changes.
#pragma once

// First 1048576 bytes of "zzzz.saf".
// PLACEHOLDER until the data-set builder exists: matches no real file.
inline constexpr char GAME_DATA_DIGEST[] = "0000000000000000000000000000000000000000";

// The seven fixed shape files, in check order; three accepted versions.
// PLACEHOLDERS until the data-set builder exists: they match no real files.
inline constexpr const char* FIXED_MODEL_DIGESTS[3] = {
    "0000000000000000000000000000000000000000",
    "0000000000000000000000000000000000000000",
    "0000000000000000000000000000000000000000",
};

inline constexpr const char* FIXED_MODEL_FILES[7] = {
    "@generic_frame.shp", "@generic_fork_upper.shp", "@generic_fork_lower.shp", "@generic_swingarm.shp",
    "@front_wheel.shp",   "@rear_wheel.shp",         "@generic_rider.shp",
};
