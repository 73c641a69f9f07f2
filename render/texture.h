// Textures: the cache of loaded textures keyed by name (with generations that
// let a track load drop what the previous track used), the in-memory image
// table for the software ground painter, ".seq" animations, "LINK" aliases,
// the texture-memory counter, and the narrow backend through which every
// texture reaches the GPU. The OpenGL backend lives in the gl_* files; tests
// and headless runs use the recording backend defined here.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "render/image.h"

// --- the backend --------------------------------------------------------------

enum TextureFlag : unsigned {
  TEXTURE_REPEAT_S = 1u << 0,    // repeat horizontally, else clamp to edge
  TEXTURE_REPEAT_T = 1u << 1,    // repeat vertically, else clamp to edge
  TEXTURE_NO_MIPMAPS = 1u << 2,  // a single level, linear minification
  TEXTURE_COMPRESS = 1u << 3,    // a compressed internal format where the GL has one
  TEXTURE_FULL_RES = 1u << 4,    // "!" name: no detail reduction
};

// Everything an upload needs. Level l of the chain starts at
// pixels + level_offset(width, height, channels, l) and is
// level_size(width, l) x level_size(height, l).
struct TextureUpload {
  const uint8_t* pixels;
  int width, height;
  int channels;  // 3 RGB, 4 RGBA (1 luminance for callers' own grey maps)
  int levels;    // 1 with TEXTURE_NO_MIPMAPS, else the full chain
  unsigned flags;
  float border[4];  // for clamping where clamp-to-edge is unavailable (RGB)
};

struct TextureBackend {
  const char* name;
  // Creates a texture object and uploads every level. Returns its handle
  // (never 0) or 0 on failure; *memory receives the bytes it occupies.
  unsigned (*create)(const TextureUpload& upload, uint64_t* memory);
  // Replaces every level of an existing texture in place (same size and format).
  void (*update)(unsigned handle, const TextureUpload& upload);
  void (*destroy)(unsigned handle);
};

// nullptr selects the recording backend (the default).
void set_texture_backend(const TextureBackend* backend);
const TextureBackend* texture_backend();

// What the recording backend saw. Pixel copies are kept only when asked for.
struct RecordedUpload {
  enum Kind { CREATE, UPDATE, DESTROY } kind;
  unsigned handle;
  int width, height, channels, levels;
  unsigned flags;
  float border[4];
  uint64_t memory;                  // bytes accounted (CREATE)
  std::vector<uint8_t> pixels;      // every level, when keep_pixels
};

struct TextureRecorder {
  std::deque<RecordedUpload> uploads;  // the most recent max_records operations
  size_t max_records = 65536;
  bool keep_pixels = false;
  unsigned next_handle = 1;
  std::vector<unsigned> live;  // handles created and not yet destroyed
  uint64_t creates = 0, updates = 0, destroys = 0;
  uint64_t bytes_uploaded = 0;  // pixel bytes handed over by create and update
};

extern TextureRecorder g_texture_recorder;
extern const TextureBackend g_recording_texture_backend;
void reset_texture_recorder();
// Bytes a GPU keeps for one level in the block-compressed formats the GL
// backends use (8 bytes per 4 x 4 block for RGB, 16 for RGBA).
uint64_t compressed_level_bytes(int width, int height, int channels);

// --- textures -----------------------------------------------------------------

struct Animation;

// One cache entry (or, from create_texture, a texture its caller owns).
struct Texture {
  unsigned handle = 0;       // the backend's name for it
  std::string name;          // as requested, without "!"
  int generation = 0;        // 0 = permanent
  int width = 0, height = 0, channels = 0;  // base level as uploaded
  int file_width = 0, file_height = 0;      // as stored in the file
  int levels = 0;            // levels uploaded
  unsigned flags = 0;        // TEXTURE_* it was uploaded with
  bool mip_max_alpha = false, mip_custom = false;  // info text options
  uint64_t memory = 0;       // texture memory this entry accounts for
  std::string info;          // PNG text chunks + ".info" file; empty = none
  Animation* animation = nullptr;  // frames of a ".seq" texture
  bool cached = false;       // owned by the cache (else by whoever created it)
};

// A ".seq" texture's frames and clock.
struct Animation {
  Texture* texture = nullptr;
  int frame_count = 0;
  std::vector<int> sequence;
  int ticks_per_frame = 1;
  bool loop = false;
  int64_t start_tick = 0;
  bool paused = false;
  int current_frame = 0;       // frame now uploaded
  std::vector<Image> frames;   // prepared for upload, chains included
};

struct TextureSettings {
  int detail = 0;     // top levels dropped, 0..4 ("--texture-detail", "Model Texture Detail")
  int compress = 1;   // "texture_compress": 0 never, 1 on "[compress]", 2 every PNG
  int verbosity = 0;  // the log verbosity (debug level)
};
extern TextureSettings g_texture_settings;

// Loads (or reuses) a texture by data-file name. A leading "!" keeps full
// resolution; "-repeat.", "-hrepeat." or "-vrepeat." before the extension
// choose repeating. Returns nullptr when there is none (the caller draws
// untextured). Formats: PNG (+ ".info"), J6/J7, PPM/PGM, ".seq", LINK.
Texture* load_texture(const char* name);

// Loads (or reuses) an image kept in memory, with its mip chain (the software
// ground painter). nullptr on failure.
Image* load_image(const char* name);

// A texture outside the cache (painted ground, number plates, low-detail
// terrain textures); the caller frees it with destroy_texture. Without
// TEXTURE_NO_MIPMAPS a missing chain is generated first.
Texture* create_texture(const Image& image, unsigned flags);
Texture* create_texture_without_mipmaps(const Image& image, unsigned flags);
// Re-uploads every level of a caller-owned texture from an image of the same size.
void update_texture(Texture* texture, const Image& image);
void destroy_texture(Texture* texture);

// Name options: TEXTURE_REPEAT_* from the suffix, TEXTURE_FULL_RES for "!".
unsigned texture_name_flags(const char* name);
// True when the info text holds the bracketed option, e.g. "[compress]".
bool info_has_option(const std::string& info, const char* option);

// The per-frame animation clock (simulation steps).
void update_animations(int64_t tick);
void start_animation(Texture* texture, int64_t tick);
void pause_animation(Texture* texture);

// Track loads: advance the generation before loading, purge after. With all
// set everything goes, tables included (shutdown).
int advance_texture_generation();
int texture_generation();
void purge_textures(bool all);

// Bytes of every texture level uploaded (or reused) since the last reset.
uint64_t texture_memory_used();
void reset_texture_memory();

// Read access for diagnostics and tests.
int cached_texture_count();
Texture* cached_texture(int index);
int cached_image_count();
int animation_count();

// Choice lists of the appearance menus: entry 0 is "default" with no file;
// then every ".png" data file (not "_norm.png" or "_spec.png") whose base name
// starts with the prefix: file "@" + name, display name = base name without
// the prefix and ".png".
struct TextureChoices {
  std::vector<std::string> files;
  std::vector<std::string> names;
};
TextureChoices list_textures_with_prefix(const char* prefix);
