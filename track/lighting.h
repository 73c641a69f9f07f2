// Track lighting: the sun, ambient light, clipping planes, sky faces, the
// environment texture, fog and lens flares, read from a track's "lighting".
#pragma once

#include <vector>

#include "core/types.h"

struct Texture;
struct DataStream;

constexpr int MAX_FLARE_ELEMENTS = 8;
constexpr float MIN_NEAR_PLANE = 0.0009765625f;  // 2^-10
constexpr float MAX_NEAR_PLANE = 0.875f;
constexpr float MAX_FAR_PLANE = 1048576.0f;

enum SkyFace { SKY_NORTH, SKY_EAST, SKY_SOUTH, SKY_WEST, SKY_UP, SKY_FACES };

struct FlareElement {
  float placement[2];  // how the renderer spreads the element along the flare line
  Vec3 colour;
  float size;
  Texture* texture;
};

struct LensFlare {
  Vec3 where;           // a point, or a direction when is_direction is set
  bool is_direction;    // infinitely far away along `where`
  int element_count;
  FlareElement elements[MAX_FLARE_ELEMENTS];
};

struct TrackLighting {
  Vec3 sun_vector;  // towards the sun, unit length after loading
  Vec3 sun_colour;
  Vec3 ambient;
  Vec3 global_ambient;
  float near_plane, far_plane;
  bool dynamic_lighting;
  char sky_names[SKY_FACES][1024];
  char environment_name[1024];
  Texture* sky[SKY_FACES];  // loaded only when the track has a "lighting" file
  Texture* environment;
  Vec3 fog_colour;
  float fog_density;  // 0: no fog; exponential fog otherwise
  std::vector<LensFlare> flares;
};

// Every default, no textures.
void init_lighting(TrackLighting* lighting);
// Reads "lighting" (the full data-file name). A missing file leaves the
// defaults and loads no sky textures. An unknown keyword stops the reading
// with a message; what was read stays. Returns false only when the file is
// missing.
bool read_lighting(TrackLighting* lighting, const char* file_name);
// The same from an open stream (fuzz targets, tools): the defaults are set
// first and the textures are loaded when asked.
void read_lighting_stream(TrackLighting* lighting, DataStream* stream, bool load_textures);
