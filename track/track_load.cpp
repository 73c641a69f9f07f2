// Loading a whole track directory in its fixed order, the track digest, the
// reload rule and deallocation.
#include <nettle/ripemd160.h>

#include <cstring>
#include <set>

#include "core/datafile.h"
#include "platform/log.h"
#include "track/assets.h"
#include "track/loading.h"
#include "track/track.h"

LoadedTrack g_track = {};
int (*g_find_track_entry)(const char* name) = nullptr;

namespace {

// The files whose content identifies the ground, in digest order.
const char* const SCANNED_FILES[] = {"terrain.png", "terrain.hf", "texturelist", "tilemap", "tileinfo"};

void digest_bytes(ripemd160_ctx* digest, const std::vector<unsigned char>& bytes) {
  ripemd160_update(digest, bytes.size(), bytes.data());
}

// Reads a track file whole, feeds it into the digest and hands back the
// bytes for parsing; false when the file does not exist.
bool read_and_digest(ripemd160_ctx* digest, const std::string& name, std::vector<unsigned char>* bytes) {
  bytes->clear();
  if (!data_read_all(name.c_str(), *bytes)) return false;
  digest_bytes(digest, *bytes);
  return true;
}

ObjectLoadOptions object_options(const TrackLoadSettings& settings, LoadingStage* progress) {
  ObjectLoadOptions options{};
  options.load_textures = true;
  options.software_images = settings.ground_method == GROUND_SOFTWARE;
  options.shader_path = settings.shader_path;
  options.debug_level = settings.debug_level;
  options.progress = progress;
  return options;
}

void log_texture_memory(const char* after) {
  log_printf("%lu bytes texture memory used after %s creation\n", track_texture_memory(), after);
}

template <typename Reader>
void read_from_memory(const std::vector<unsigned char>& bytes, Reader reader) {
  DataStream* s = data_open_memory(bytes.data(), bytes.size());
  if (!s) return;
  reader(s);
  data_close(s);
}

bool fail_load(LoadedTrack* track) {
  free_track_objects(&track->objects);
  clear_timing_gates(&track->gates);
  free_terrain(&track->terrain);
  init_lighting(&track->lighting);
  track->map_texture = nullptr;
  track->name.clear();
  return false;
}

}  // namespace

void digest_track_file(ripemd160_ctx* digest, const char* name) {
  DataStream* s = data_open(name, "rb");
  if (!s) return;
  unsigned char piece[1024];
  size_t got;
  while ((got = data_read(s, piece, sizeof piece)) > 0) ripemd160_update(digest, got, piece);
  data_close(s);
}

bool load_track(LoadedTrack* track, const TrackLoadSettings& settings) {
  const std::string name = track->name;
  const char* dir = name.c_str();
  track->list_entry = g_find_track_entry ? g_find_track_entry(dir) : -1;
  init_track_objects(&track->objects);
  clear_timing_gates(&track->gates);
  track->map_texture = nullptr;
  begin_track_texture_generation();

  LoadingStage stage;
  ripemd160_ctx digest;
  ripemd160_init(&digest);
  begin_loading_stage(&stage, "Scanning");
  for (const char* file : SCANNED_FILES) {
    digest_track_file(&digest, track_file_name(dir, file).c_str());
    tick_loading_stage(&stage);
  }
  end_loading_stage(&stage);

  if (settings.debug_level >= 1) log_printf("Loading '@%s'\n", dir);
  read_lighting(&track->lighting, track_file_name(dir, "lighting").c_str());

  TerrainLoadOptions terrain_options{settings.ground_method, settings.shader_path, settings.debug_level};
  if (!load_terrain(&track->terrain, dir, terrain_options)) return fail_load(track);
  track->terrain.light = shading_light(track->lighting);
  begin_loading_stage(&stage, "Loading decals");
  read_decals_file(&track->objects, track_file_name(dir, "decals").c_str(), object_options(settings, &stage));
  end_loading_stage(&stage);
  if (settings.debug_level >= 1) log_texture_memory("hf");

  std::vector<unsigned char> bytes;
  ObjectLoadOptions quiet = object_options(settings, nullptr);
  if (read_and_digest(&digest, track_file_name(dir, "timing_gates"), &bytes)) {
    read_from_memory(bytes, [&](DataStream* s) { read_timing_gates(&track->gates, s, settings.debug_level); });
    place_starting_gate_objects(track->gates, &track->objects, track->terrain, quiet);
  }

  create_billboard_pool(&track->objects, track->terrain);

  const int checkpoints = (int)track->gates.checkpoints.size();
  begin_loading_stage(&stage, "Loading flaggers");
  read_flaggers_file(&track->objects, track->terrain, track_file_name(dir, "flaggers").c_str(), checkpoints,
                     object_options(settings, &stage));
  end_loading_stage(&stage);
  if (settings.debug_level >= 1) log_texture_memory("flagger");

  begin_loading_stage(&stage, "Loading billboards");
  read_billboards_file(&track->objects, track->terrain, track_file_name(dir, "billboards").c_str(),
                       object_options(settings, &stage));
  end_loading_stage(&stage);
  log_texture_memory("billboard");

  bool have_statues = read_and_digest(&digest, track_file_name(dir, "statues"), &bytes);
  begin_loading_stage(&stage, "Loading statues");
  if (have_statues) {
    ObjectLoadOptions options = object_options(settings, &stage);
    read_from_memory(bytes, [&](DataStream* s) { read_statues(&track->objects, track->terrain, s, options); });
  }
  end_loading_stage(&stage);

  begin_loading_stage(&stage, "Loading map");
  log_texture_memory("statue");
  track->map_texture = track_texture(track_file_name(dir, "map.png").c_str());
  end_loading_stage(&stage);

  if (g_track_hooks.register_statue)
    for (const Statue& statue : track->objects.statues) g_track_hooks.register_statue(statue);

  // Each model file counts once however many statues use it, so adding a
  // copy of a rock does not change the digest but editing the rock does.
  std::set<std::string> hashed_models;
  for (const Statue& statue : track->objects.statues) {
    if (statue.model_name.empty() || !hashed_models.insert(statue.model_name).second) continue;
    digest_track_file(&digest, statue.model_name.c_str());
  }
  ripemd160_digest(&digest, RIPEMD160_DIGEST_SIZE, track->digest);

  read_cameras_file(&track->objects, track->terrain, track_file_name(dir, "cameras").c_str(), quiet);
  purge_old_track_textures();
  return true;
}

void deallocate_track(LoadedTrack* track) {
  log_printf("Deallocating track\n");
  free_track_objects(&track->objects);
  clear_timing_gates(&track->gates);
  free_terrain(&track->terrain);
  init_lighting(&track->lighting);
  track->map_texture = nullptr;
  memset(track->digest, 0, sizeof track->digest);
  track->name.clear();
  log_printf("Finished deallocating track\n");
}

bool track_needs_load(const LoadedTrack& track, const std::string& name, bool force) {
  return track.name.empty() || track.name != name || force;
}

bool reload_track(LoadedTrack* track, const std::string& name, bool force, const TrackLoadSettings& settings) {
  if (!track_needs_load(*track, name, force)) return true;
  deallocate_track(track);
  reset_track_texture_memory();
  track->name = name;
  return load_track(track, settings);
}
