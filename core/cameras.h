// The cameras of the loop's views: the third-person chase camera (behind the
// riding bike, or orbiting it under the camera controls) and the track-camera
// view (the track's own cameras, cut automatically as the bike moves round,
// or the free-flying camera). Headless: the ground and the track's cameras
// come in as the world hooks provide them.
#pragma once

#include "core/controls.h"
#include "core/game_hooks.h"

struct CameraPose {
  Vec3 eye, target;
  float fov;  // degrees
};

typedef float (*GroundHeightFn)(float x, float z);

// A point given in the bike's frame, in the world.
Vec3 bike_point_to_world(const BikeView& bike, Vec3 local);

// --- third person ----------------------------------------------------------

constexpr float CHASE_MIN_CLEARANCE = 5.0f;        // above the ground while riding
constexpr float CHASE_FULL_VELOCITY_SPEED = 30.0f;  // ft/s: at and above, the camera follows the velocity
constexpr float ORBIT_MIN_DISTANCE = 0.25f;
constexpr float ORBIT_MIN_CLEARANCE = 1.0f;  // never inside the ground while orbiting

struct ChaseSettings {
  Vec3 center;     // the point looked at, in the bike's frame ("--chase-center")
  float distance;  // "third_person_distance"
  float height;    // "third_person_height"
  bool rigid;      // "rigid_camera": always straight behind the bike
};

// The orbit a bike is watched from while the player is not riding it.
struct ChaseOrbit {
  float angle;  // about the vertical, 0 = on the +Z side, -pi..pi
  float distance;
  float height;  // above the looked-at point
};
void reset_chase_orbit(ChaseOrbit* orbit);
// One step of the orbit controls: steer turns it by steer x pi/512, throttle
// closes in and the front brake backs off by 1/64 each, the shift control
// raises or lowers it at 1 unit per second.
void steer_chase_orbit(ChaseOrbit* orbit, const float controls[CONTROL_COUNT]);

// The riding camera sits `distance` behind the looked-at point (behind the
// heading, or with a loose camera behind the direction of travel, blending
// in between 10 and 30 ft/s) and `height` above it, never closer to the
// ground than CHASE_MIN_CLEARANCE. ground may be null (no terrain).
CameraPose third_person_camera(const BikeView& bike, bool riding, const ChaseOrbit& orbit,
                               const ChaseSettings& settings, GroundHeightFn ground);

// --- track cameras --------------------------------------------------------------

constexpr float FREE_CAMERA_THRUST = 80.0f;  // units/s^2
constexpr float FREE_CAMERA_DRAG = 60.0f;    // units/s^2 toward rest without thrust
constexpr float FREE_CAMERA_MAX_SPEED = 100.0f;
constexpr float FREE_CAMERA_MIN_CLEARANCE = 2.0f;
constexpr float FREE_CAMERA_MAX_PITCH = 1.4f;
// A track camera aims this far ahead of the bike along its velocity, so a
// fast bike stays framed rather than leaving the picture first.
constexpr float TRACK_CAMERA_LEAD_SECONDS = 0.2f;

struct FreeCamera {
  Vec3 position;
  float yaw;    // 0 looks along -Z, pi/2 along +X
  float pitch;  // up is positive
  float speed;  // along the view direction, -100..100
  bool placed;  // false until it has a position
};

struct TrackCameraState {
  bool automatic;  // cut to the camera of each timing gate the bike passes
  bool lean_was_high;
  int selected;  // track camera index, -1 = the free camera
  FreeCamera free;
};

// Automatic switching on, the free camera selected and not yet placed.
void reset_track_cameras(TrackCameraState* state);
// Puts the free camera where a view was, looking the same way.
void place_free_camera(FreeCamera* camera, const CameraPose& from);
Vec3 free_camera_direction(const FreeCamera& camera);

// One step of the track-camera controls: the lean control toggles automatic
// switching on each rise through 0.5; the free camera flies (throttle
// forward, front brake backward, steer turns, shift pitches) and keeps
// FREE_CAMERA_MIN_CLEARANCE above the ground.
void steer_track_camera(TrackCameraState* state, const float controls[CONTROL_COUNT], GroundHeightFn ground);
// Digit key d selects camera min(d, camera_count) - 1: "0" is the free
// camera. Choosing a camera by hand ends automatic switching.
void select_track_camera(TrackCameraState* state, int digit, int camera_count);
// With automatic switching on: the camera of the gate the bike passed last
// (a cut; gates without a camera keep the current one).
void follow_bike_with_track_cameras(TrackCameraState* state, int gate, int (*camera_for_gate)(int),
                                    int camera_count);
// The view: a selected track camera at its position, aimed at the bike (with
// its automatic field of view when it has one), or the free camera.
// `camera` is the selected camera's record (null for the free camera), `bike`
// the viewed bike (null when there is none).
CameraPose track_camera_view(const TrackCameraState& state, const TrackCameraRecord* camera, const BikeView* bike,
                             bool paused, float default_fov);
