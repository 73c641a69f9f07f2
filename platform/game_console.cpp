// The console's commands joined to the subsystems they act on: render
// statistics, the viewed bike's sound pipe, the camera's aim, the race's
// random numbers, the camera pose a keyframe takes, the loaded track's info,
// the keyframe camera's flight and the forced track reload.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "bike/bike.h"
#include "core/discovery.h"
#include "core/main_loop.h"
#include "net/console.h"
#include "platform/game_stages.h"
#include "race/race_game.h"
#include "render/render_stats.h"
#include "sound/sound.h"
#include "track/track.h"

namespace {

constexpr float KEYFRAME_LOOK_DISTANCE = 10.0f;  // ft ahead of the eye

void reset_stats() { reset_render_stats(); }

bool set_pipe(float a, float b, float c, int d, int e) {
  char numbers[160];
  snprintf(numbers, sizeof numbers, "%.9g %.9g %.9g %d %d", (double)a, (double)b, (double)c, d, e);
  return set_bike_sound_pipe(g_main_loop.viewed_slot, numbers, false);
}

// The free track camera takes the aim where the view is now, and the view
// becomes that camera.
void aim_camera(float yaw, float pitch) {
  MainLoop& loop = g_main_loop;
  FreeCamera& camera = loop.track_cameras.free;
  if (loop.have_last_pose) place_free_camera(&camera, loop.last_pose);
  camera.yaw = yaw;
  camera.pitch = std::clamp(pitch, -FREE_CAMERA_MAX_PITCH, FREE_CAMERA_MAX_PITCH);
  camera.speed = 0.0f;
  loop.track_cameras.selected = -1;
  loop.track_cameras.automatic = false;
  if (camera.placed) loop.mode = VIEW_TRACK_CAMERA;
}

std::string random_state() {
  char text[160];
  const Bike* bike = race_bike_in_slot(g_main_loop.viewed_slot);
  if (bike)
    snprintf(text, sizeof text, "Race random %u (0x%08x), roost random of bike %d %u (0x%08x)", g_race.random,
             g_race.random, g_main_loop.viewed_slot, bike->roost_random, bike->roost_random);
  else
    snprintf(text, sizeof text, "Race random %u (0x%08x)", g_race.random, g_race.random);
  return text;
}

// The view drawn last; keyframes are stamped with the race clock, which a
// replay runs, rewinds and skips.
bool camera_pose(Vec3* position, Quat* rotation, double* time) {
  const MainLoop& loop = g_main_loop;
  if (!loop.have_last_pose || g_track.name.empty()) return false;
  *position = loop.last_pose.eye;
  *rotation = look_rotation(loop.last_pose.target - loop.last_pose.eye);
  *time = (double)g_race.tick / TICKS_PER_SECOND;
  return true;
}

bool keyframe_camera(Vec3* eye, Vec3* target) {
  if (!g_console.keyframes.active || g_track.name.empty()) return false;
  Quat rotation;
  if (!keyframe_pose(g_console.keyframes, (double)g_race.tick / TICKS_PER_SECOND, eye, &rotation)) return false;
  *target = *eye + rotation_forward(rotation) * KEYFRAME_LOOK_DISTANCE;
  return true;
}

bool track_info(TrackInfo* info) {
  if (g_track.name.empty()) return false;
  info->dir = g_track.name;
  int entry = g_track.list_entry;
  info->long_name = entry >= 0 && entry < (int)g_tracks.names.size() ? g_tracks.names[(size_t)entry] : g_track.name;
  info->first_lap = g_track.gates.first_lap;
  info->normal_lap = g_track.gates.normal_lap;
  info->gate_count = (int)g_track.gates.checkpoints.size();
  std::copy(std::begin(g_track.digest), std::end(g_track.digest), info->digest);
  return true;
}

bool take_forced_reload(void*) {
  bool asked = g_console.force_reload;
  g_console.force_reload = false;
  return asked;
}

}  // namespace

void install_console_hooks() {
  g_console_hooks.reset_render_stats = reset_stats;
  g_console_hooks.set_pipe = set_pipe;
  g_console_hooks.aim_camera = aim_camera;
  g_console_hooks.random_state = random_state;
  g_console_hooks.camera_pose = camera_pose;
  g_console_hooks.track_info = track_info;
  g_game_hooks.net.keyframe_camera = keyframe_camera;
  g_race.seams.net.take_forced_reload = take_forced_reload;
}
