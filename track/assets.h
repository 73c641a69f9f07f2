// The track's seams to the image, texture and model layers: the few calls
// the track readers make to load textures, in-memory images, image files and
// models, and the hooks the renderer fills to prepare the ground and index
// decals. Headless runs work with the defaults (no models, no ground prep).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Texture;
struct Image;
struct Model;
struct Terrain;
struct TrackObjects;

// --- textures and images ------------------------------------------------

// A cached texture by name ("@" names are searched in the data directories),
// or nullptr when it cannot be loaded.
Texture* track_texture(const char* name);
// A cached in-memory image (the software ground method), or nullptr.
Image* track_image(const char* name);
// Bytes of texture memory uploaded since the counter was last reset.
unsigned long track_texture_memory();
void reset_track_texture_memory();
// Starts a new texture generation (at every track load) / drops the
// textures that the new track did not use again.
void begin_track_texture_generation();
void purge_old_track_textures();

// --- image files ----------------------------------------------------------

struct PixelImage {
  int width = 0, height = 0, channels = 0;  // channels 1 (grey), 3 or 4
  std::vector<uint8_t> pixels;              // rows top to bottom, no mip chain
};

enum ImageFileResult { IMAGE_FILE_MISSING, IMAGE_FILE_BAD, IMAGE_FILE_OK };

// "P6"/"P3" PPM or the "J6"/"J7" formats, as 3 or 4 channels.
ImageFileResult read_colour_image_file(const char* name, PixelImage* image);
// "P5"/"P2" PGM, one channel.
ImageFileResult read_grey_image_file(const char* name, PixelImage* image);
// Any PNG as 16-bit grey samples (8-bit values v widened to v * 257).
bool read_grey16_png_file(const char* name, int* width, int* height, std::vector<uint16_t>* samples);
bool write_grey16_png_file(const char* name, int width, int height, const uint16_t* samples);
// Binary PGM ("P5") writer, 1 channel.
bool write_pgm_file(const char* name, int width, int height, const uint8_t* grey);

// "@<track>/<file>": the data-file name of a file in a track directory.
std::string track_file_name(const char* track, const char* file);

// True when the data-file lookup finds the name.
bool track_file_exists(const char* name);

// --- models and renderer hooks --------------------------------------------

struct TrackHooks {
  // Loads a drawable model (".shp", "JM"); nullptr when there is none. The
  // headless default loads nothing.
  Model* (*load_model)(const char* name);
  // Loads a collision shape for the simulation. Null: shapes are not
  // loaded at all (and so not reported missing).
  Model* (*load_shape)(const char* name);
  // Called when a statue (or a starting gate object) is placed, so the
  // simulation can add its collision shape; may be null.
  void (*register_statue)(const struct Statue& statue);
  // Low-detail textures and node errors of the loaded field (methods 2, 3);
  // false fails the load. May be null.
  bool (*prepare_ground)(Terrain* terrain, int ground_method, bool shader_path);
  // Enters the decals into the ground painter's spatial index; may be null.
  void (*index_decals)(const TrackObjects& objects);
  // Deformation changed the heights of cells [c0, c1] x [r0, r1] (shading
  // already recomputed): the renderer refreshes its errors and textures
  // there. May be null.
  void (*ground_changed)(const Terrain& terrain, int c0, int r0, int c1, int r1);
};

extern TrackHooks g_track_hooks;
