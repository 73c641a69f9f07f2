// The loaded track as the main loop sees it, and the stand-in race the game
// runs until the race flow joins it.
#include <algorithm>
#include <cstring>
#include <string>

#include "core/config.h"
#include "core/discovery.h"
#include "core/game_hooks.h"
#include "core/message.h"
#include "platform/game_stages.h"
#include "render/renderer.h"
#include "track/deform.h"
#include "track/track.h"

namespace {

bool track_loaded() { return !g_track.name.empty(); }

float ground_height(float x, float z) { return track_loaded() ? height_at(g_track.terrain, x, z) : 0.0f; }

int camera_count() { return track_loaded() ? (int)g_track.objects.cameras.size() : 0; }

bool track_camera(int index, TrackCameraRecord* out) {
  if (index < 0 || index >= camera_count()) return false;
  const TrackCamera& camera = g_track.objects.cameras[(size_t)index];
  *out = {camera.position, camera.fov, camera.auto_fov_size};
  return true;
}

int camera_for_gate(int gate) {
  if (!track_loaded() || gate < 0 || gate >= CAMERA_GATE_ENTRIES) return -1;
  return g_track.objects.camera_for_gate[gate];
}

void free_track() { deallocate_track(&g_track); }

// Shading and the normal map of the ground the race steps dug, before the
// next frame is drawn (every other frame at 60 a second).
void terrain_frame() {
  if (track_loaded()) refresh_deformed_shading_on_pace(&g_track.terrain, g_game_clock);
}

// The course for the map: the checkpoints of a normal lap in riding order
// (the first lap's when the track has only that).
bool track_map(float* size_x, float* size_z, std::vector<Vec3>* course) {
  course->clear();
  if (!track_loaded()) return false;
  *size_x = *size_z = g_track.terrain.width;
  const TimingGates& gates = g_track.gates;
  size_t first = (size_t)std::max(gates.first_lap, 0);
  size_t start = gates.normal_lap > 0 && first < gates.sequence.size() ? first : 0;
  for (size_t i = start; i < gates.sequence.size(); i++) {
    int checkpoint = gates.sequence[i] % NO_SPLIT_MARK;
    if (checkpoint >= 0 && checkpoint < (int)gates.checkpoints.size()) course->push_back(gates.checkpoints[(size_t)checkpoint].point);
  }
  return true;
}

int find_track_entry(const char* name) {
  for (size_t i = 0; i < g_tracks.paths.size(); i++) {
    if (g_tracks.paths[i] == name) return (int)i;
  }
  return -1;
}

}  // namespace

void install_track_world_hooks() {
  WorldHooks& world = g_game_hooks.world;
  world.ground_height = ground_height;
  world.camera_count = camera_count;
  world.camera = track_camera;
  world.camera_for_gate = camera_for_gate;
  world.free_track = free_track;
  world.terrain_frame = terrain_frame;
  world.track_map = track_map;
  g_find_track_entry = find_track_entry;
}
