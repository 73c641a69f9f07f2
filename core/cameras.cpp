#include "core/cameras.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr float PI = 3.14159265358979f;
constexpr float ORBIT_TURN_PER_STEP = PI / 512.0f;
constexpr float ORBIT_ZOOM_PER_STEP = 1.0f / 64.0f;
constexpr float FREE_TURN_PER_STEP = PI / 512.0f;

float length(Vec3 v) { return std::sqrt(dot(v, v)); }

// v / |v|, or fallback for a vector too short to have a direction.
Vec3 normalised(Vec3 v, Vec3 fallback) {
  float n = length(v);
  return n > 1e-6f ? v * (1.0f / n) : fallback;
}

Vec3 horizontal(Vec3 v) { return {v.x, 0.0f, v.z}; }

float wrap_angle(float a) {
  while (a > PI) a -= 2.0f * PI;
  while (a < -PI) a += 2.0f * PI;
  return a;
}

Vec3 rotate(const float m[9], Vec3 v) {
  return {m[0] * v.x + m[1] * v.y + m[2] * v.z, m[3] * v.x + m[4] * v.y + m[5] * v.z,
          m[6] * v.x + m[7] * v.y + m[8] * v.z};
}

void keep_above_ground(Vec3* p, GroundHeightFn ground, float clearance) {
  if (!ground) return;
  p->y = std::max(p->y, ground(p->x, p->z) + clearance);
}

}  // namespace

Vec3 bike_point_to_world(const BikeView& bike, Vec3 local) { return bike.position + rotate(bike.rotation, local); }

void reset_chase_orbit(ChaseOrbit* orbit) { *orbit = {0.0f, 10.0f, 5.0f}; }

void steer_chase_orbit(ChaseOrbit* orbit, const float controls[CONTROL_COUNT]) {
  orbit->angle = wrap_angle(orbit->angle + controls[CONTROL_STEER] * ORBIT_TURN_PER_STEP);
  orbit->distance += (controls[CONTROL_FRONT_BRAKE] - controls[CONTROL_THROTTLE]) * ORBIT_ZOOM_PER_STEP;
  orbit->distance = std::max(orbit->distance, ORBIT_MIN_DISTANCE);
  orbit->height += controls[CONTROL_SHIFT] * (float)TICK_SECONDS;
}

CameraPose third_person_camera(const BikeView& bike, bool riding, const ChaseOrbit& orbit,
                               const ChaseSettings& settings, GroundHeightFn ground) {
  CameraPose pose = {};
  pose.target = bike_point_to_world(bike, settings.center);
  if (!riding) {
    pose.eye = pose.target + Vec3{std::sin(orbit.angle) * orbit.distance, orbit.height,
                                  std::cos(orbit.angle) * orbit.distance};
    keep_above_ground(&pose.eye, ground, ORBIT_MIN_CLEARANCE);
    return pose;
  }
  // A bike standing on its tail has no horizontal heading; look along -Z then.
  Vec3 back = normalised(horizontal(rotate(bike.rotation, {0.0f, 0.0f, 1.0f})), {0.0f, 0.0f, 1.0f});
  Vec3 direction = back;
  if (!settings.rigid) {
    Vec3 travel = horizontal(bike.velocity);
    float s = length(travel);
    if (s >= CHASE_FULL_VELOCITY_SPEED) {
      direction = travel * (-1.0f / s);
    } else {
      float t = std::clamp((s - 10.0f) * 0.05f, 0.0f, 1.0f);
      if (t > 0.0f) {
        Vec3 against = travel * (-1.0f / s);
        // Riding backwards at the blend's midpoint the two cancel: stay behind.
        direction = normalised(back * (1.0f - t) + against * t, back);
      }
    }
  }
  pose.eye = pose.target + direction * settings.distance;
  pose.eye.y = pose.target.y + settings.height;
  keep_above_ground(&pose.eye, ground, CHASE_MIN_CLEARANCE);
  return pose;
}

void reset_track_cameras(TrackCameraState* state) {
  *state = TrackCameraState{};
  state->automatic = true;
  state->selected = -1;
}

Vec3 free_camera_direction(const FreeCamera& camera) {
  float c = std::cos(camera.pitch);
  return {std::sin(camera.yaw) * c, std::sin(camera.pitch), -std::cos(camera.yaw) * c};
}

void place_free_camera(FreeCamera* camera, const CameraPose& from) {
  Vec3 d = normalised(from.target - from.eye, {0.0f, 0.0f, -1.0f});
  camera->position = from.eye;
  camera->yaw = std::atan2(d.x, -d.z);
  camera->pitch = std::clamp(std::asin(std::clamp(d.y, -1.0f, 1.0f)), -FREE_CAMERA_MAX_PITCH, FREE_CAMERA_MAX_PITCH);
  camera->speed = 0.0f;
  camera->placed = true;
}

void steer_track_camera(TrackCameraState* state, const float controls[CONTROL_COUNT], GroundHeightFn ground) {
  bool high = controls[CONTROL_LEAN] > 0.5f;
  if (high && !state->lean_was_high) state->automatic = !state->automatic;
  state->lean_was_high = high;
  if (state->selected >= 0) return;

  FreeCamera& f = state->free;
  const float dt = (float)TICK_SECONDS;
  float thrust = controls[CONTROL_THROTTLE] - controls[CONTROL_FRONT_BRAKE];
  if (thrust != 0.0f) {
    f.speed = std::clamp(f.speed + thrust * FREE_CAMERA_THRUST * dt, -FREE_CAMERA_MAX_SPEED, FREE_CAMERA_MAX_SPEED);
  } else if (f.speed > 0.0f) {
    f.speed = std::max(0.0f, f.speed - FREE_CAMERA_DRAG * dt);
  } else {
    f.speed = std::min(0.0f, f.speed + FREE_CAMERA_DRAG * dt);
  }
  // Left steers positive: turning left looks further toward -X.
  f.yaw = wrap_angle(f.yaw - controls[CONTROL_STEER] * FREE_TURN_PER_STEP);
  f.pitch = std::clamp(f.pitch + controls[CONTROL_SHIFT] * FREE_TURN_PER_STEP, -FREE_CAMERA_MAX_PITCH,
                       FREE_CAMERA_MAX_PITCH);
  f.position = f.position + free_camera_direction(f) * (f.speed * dt);
  keep_above_ground(&f.position, ground, FREE_CAMERA_MIN_CLEARANCE);
}

void select_track_camera(TrackCameraState* state, int digit, int camera_count) {
  state->selected = std::min(digit, std::max(camera_count, 0)) - 1;
  state->automatic = false;
}

void follow_bike_with_track_cameras(TrackCameraState* state, int gate, int (*camera_for_gate)(int),
                                    int camera_count) {
  if (state->selected >= camera_count) state->selected = -1;  // the track changed under it
  if (!state->automatic || !camera_for_gate || gate < 0) return;
  int camera = camera_for_gate(gate);
  if (camera >= 0 && camera < camera_count) state->selected = camera;
}

CameraPose track_camera_view(const TrackCameraState& state, const TrackCameraRecord* camera, const BikeView* bike,
                             bool paused, float default_fov) {
  CameraPose pose = {};
  if (state.selected < 0 || !camera) {
    pose.eye = state.free.position;
    pose.target = pose.eye + free_camera_direction(state.free);
    pose.fov = default_fov;
    return pose;
  }
  pose.eye = camera->position;
  pose.fov = camera->fov > 0.0f ? camera->fov : default_fov;
  if (!bike) {
    // Nothing to follow: look out over the track, which lies toward +X and +Z.
    pose.target = pose.eye + Vec3{0.7f, -0.3f, 0.7f};
    return pose;
  }
  Vec3 velocity = paused ? Vec3{0.0f, 0.0f, 0.0f} : bike->velocity;
  pose.target = bike->position + velocity * TRACK_CAMERA_LEAD_SECONDS;
  float distance = length(pose.target - pose.eye);
  if (camera->auto_fov_size > 0.0f && distance > 1e-3f) {
    float fit = 2.0f * std::atan(0.5f * camera->auto_fov_size / distance) * (180.0f / PI);
    pose.fov = std::clamp(fit, 1.0f, pose.fov);
  }
  return pose;
}
