// Track objects: billboards, statues, decals, flaggers and cameras, their
// files ("billboards", "statues", "decals", "flaggers", "cameras") and their
// placement on the ground. Drawing them belongs to the renderer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/types.h"

struct Texture;
struct Image;
struct Model;
struct Terrain;
struct DataStream;
struct LoadingStage;

constexpr int CAMERA_GATE_ENTRIES = 256;
constexpr int RUNTIME_BILLBOARD_POOL = 2000;
constexpr float STATUE_SIZE_ANGLE = 3.25f;  // angles from here on give a size, not a turn

struct Billboard {
  Vec3 position;  // ground height already added
  float width, height;
  uint8_t colour[4];  // RGBA, opaque white unless the name had a colour prefix
  Texture* texture;
};

struct Statue {
  Model* model;  // nullptr when "null" or not loadable (and always headless)
  Texture* texture;
  Texture* normal_texture;
  Texture* specular_texture;
  Model* shape;  // collision shape
  std::string model_name, texture_name, shape_name;  // empty for "null"
  Vec3 position;       // ground height already added
  float rotation[9];   // about the vertical axis, row-major
  float size;          // 2^angle for angles >= 3.25, else 0
};

struct Decal {
  Texture* texture;  // hardware ground methods
  Image* image;      // software ground method
  Texture* normal_texture;
  Texture* specular_texture;
  float x, z;  // centre
  float angle, width, length_ratio;  // the decal is width wide, length_ratio * width long
  float sine, cosine;
};

struct Flagger {
  int billboard;  // index into the billboard table
  Texture* textures[2];
  int gates[4];  // checkpoint numbers, -1 = none
};

struct FlaggerSet {
  bool present;  // the file had at least its first billboard
  int first_billboard;
  Texture* first_textures[5];
  Vec3 point_b;
  float ninth;  // kept for the renderer; no rule of ours reads it
  int second_billboard;  // -1 when absent
  Texture* second_textures[4];
  std::vector<Flagger> flaggers;
};

struct TrackCamera {
  Vec3 position;  // ground height already added
  float fov;
  float auto_fov_size;
};

struct TrackObjects {
  std::vector<Billboard> billboards;
  std::vector<Statue> statues;
  std::vector<Statue> start_gates;  // the objects drawn at the starting gates
  std::vector<Decal> decals;
  FlaggerSet flagger_set;
  std::vector<TrackCamera> cameras;
  int camera_for_gate[CAMERA_GATE_ENTRIES];  // -1 = none
  int billboard_pool_first;  // first of the run-time marker billboards, -1 before the pool exists
};

// How object textures are loaded.
struct ObjectLoadOptions {
  bool load_textures;   // false: names only (fuzzing, tools)
  bool software_images; // decals as in-memory images (software ground method)
  bool shader_path;     // look for normal and specular companions
  int debug_level;
  LoadingStage* progress;  // ticked once per entry; may be null
};

// Empty tables (growable tables start with room for 16 entries).
void init_track_objects(TrackObjects* objects);
// Drops every entry; the textures stay in the texture cache until purged.
void free_track_objects(TrackObjects* objects);

// Adds a billboard at (x, ground + y, z) and returns its index. A null or
// empty name gives an untextured billboard.
int add_billboard(TrackObjects* objects, const Terrain& terrain, float x, float y, float z, float width,
                  float height, const char* texture_name, const ObjectLoadOptions& options);
// The run-time marker pool: RUNTIME_BILLBOARD_POOL untextured 1 x 1 billboards.
void create_billboard_pool(TrackObjects* objects, const Terrain& terrain);

// Builds a statue (or a starting-gate object) from its names, "null" or
// empty meaning none: loads its model, textures and collision shape.
// Registering it with the simulation is the loader's last step.
Statue make_statue(const Terrain& terrain, Vec3 above_ground, float angle, const char* model, const char* texture,
                   const char* shape, const ObjectLoadOptions& options);

// The readers take an open stream; the *_file forms open the data-file name
// and do nothing when it is missing.
void read_decals(TrackObjects* objects, DataStream* stream, const ObjectLoadOptions& options);
void read_billboards(TrackObjects* objects, const Terrain& terrain, DataStream* stream,
                     const ObjectLoadOptions& options);
void read_statues(TrackObjects* objects, const Terrain& terrain, DataStream* stream,
                  const ObjectLoadOptions& options);
// Gate numbers are clamped to -1 .. checkpoint_count - 1.
void read_flaggers(TrackObjects* objects, const Terrain& terrain, DataStream* stream, int checkpoint_count,
                   const ObjectLoadOptions& options);
void read_cameras(TrackObjects* objects, const Terrain& terrain, DataStream* stream, const ObjectLoadOptions& options);

bool read_decals_file(TrackObjects* objects, const char* name, const ObjectLoadOptions& options);
bool read_billboards_file(TrackObjects* objects, const Terrain& terrain, const char* name,
                          const ObjectLoadOptions& options);
bool read_statues_file(TrackObjects* objects, const Terrain& terrain, const char* name,
                       const ObjectLoadOptions& options);
bool read_flaggers_file(TrackObjects* objects, const Terrain& terrain, const char* name, int checkpoint_count,
                        const ObjectLoadOptions& options);
bool read_cameras_file(TrackObjects* objects, const Terrain& terrain, const char* name,
                       const ObjectLoadOptions& options);

// Splits a billboard texture name "#RRGGBB#rest" into its colour and the
// rest; false (and the name untouched) without the prefix.
bool split_colour_prefix(const char* name, uint8_t colour[4], const char** rest);
