#include <gtest/gtest.h>

#include <cmath>

#include "core/cameras.h"

namespace {

constexpr float MPH = (float)FEET_PER_SECOND_PER_MPH;

float flat_ground(float, float) { return 0.0f; }
float high_ground(float x, float) { return x > 5.0f ? 40.0f : 0.0f; }  // a wall on the +X side

// A bike at (0, 3, 0) facing -Z (identity rotation) with the given velocity.
BikeView bike(Vec3 velocity) {
  BikeView b = {};
  b.position = {0.0f, 3.0f, 0.0f};
  for (int i = 0; i < 9; i++) b.rotation[i] = i % 4 == 0 ? 1.0f : 0.0f;
  b.velocity = velocity;
  return b;
}

const ChaseSettings LOOSE = {{0.0f, 2.52f, 0.52f}, 10.0f, 5.0f, false};

// The horizontal direction from the looked-at point to the eye.
Vec3 behind(const CameraPose& pose) {
  Vec3 d = pose.eye - pose.target;
  float n = std::sqrt(d.x * d.x + d.z * d.z);
  return {d.x / n, 0.0f, d.z / n};
}

TEST(ThirdPerson, RidingBehindTheHeadingOrTheTravelNeverNearTheGround) {
  ChaseOrbit orbit;
  reset_chase_orbit(&orbit);
  // Slow, or a rigid camera: straight behind the heading (+Z for a bike facing -Z).
  CameraPose pose = third_person_camera(bike({20.0f, 0, 0}), true, orbit, {LOOSE.center, 10, 5, true}, flat_ground);
  EXPECT_NEAR(pose.target.y, 5.52f, 1e-5);
  EXPECT_NEAR(pose.target.z, 0.52f, 1e-5);
  EXPECT_NEAR(behind(pose).z, 1.0f, 1e-5);
  EXPECT_NEAR(pose.eye.z - pose.target.z, 10.0f, 1e-4);
  EXPECT_NEAR(pose.eye.y, pose.target.y + 5.0f, 1e-5);
  pose = third_person_camera(bike({0, 0, 9.0f}), true, orbit, LOOSE, flat_ground);
  EXPECT_NEAR(behind(pose).z, 1.0f, 1e-5);

  // 20 mph sideways (29.3 ft/s, below 30): almost, not entirely, behind the travel.
  float t = (20.0f * MPH - 10.0f) * 0.05f;
  pose = third_person_camera(bike({20.0f * MPH, 0, 0}), true, orbit, LOOSE, flat_ground);
  Vec3 d = behind(pose);
  float n = std::hypot(t, 1.0f - t);
  EXPECT_NEAR(d.x, -t / n, 1e-4);
  EXPECT_NEAR(d.z, (1.0f - t) / n, 1e-4);
  // From 30 ft/s on it follows the velocity alone; climbing does not count.
  pose = third_person_camera(bike({30.0f, 50.0f, 0}), true, orbit, LOOSE, flat_ground);
  EXPECT_NEAR(behind(pose).x, -1.0f, 1e-5);

  // Beside a wall: never lower than the ground there plus 5.
  pose = third_person_camera(bike({-40.0f, 0, 0}), true, orbit, LOOSE, high_ground);
  EXPECT_GT(pose.eye.x, 5.0f);
  EXPECT_FLOAT_EQ(pose.eye.y, 45.0f);
}

TEST(FreeCamera, ThrustCapsDragAndClearance) {
  TrackCameraState s;
  reset_track_cameras(&s);
  s.free = {{0.0f, 10.0f, 0.0f}, 0.0f, 0.0f, 0.0f, true};
  float c[CONTROL_COUNT] = {};
  c[CONTROL_THROTTLE] = 1.0f;
  for (int i = 0; i < 64; i++) steer_track_camera(&s, c, flat_ground);
  EXPECT_NEAR(s.free.speed, 40.0f, 1e-3);  // 80 units/s^2 for half a second
  for (int i = 0; i < 1280; i++) steer_track_camera(&s, c, flat_ground);
  EXPECT_EQ(s.free.speed, FREE_CAMERA_MAX_SPEED);
  EXPECT_LT(s.free.position.z, -900.0f);  // flying along -Z
  c[CONTROL_THROTTLE] = 0.0f;
  for (int i = 0; i < 128; i++) steer_track_camera(&s, c, flat_ground);
  EXPECT_NEAR(s.free.speed, 40.0f, 1e-3);  // 60 units/s^2 toward rest
  for (int i = 0; i < 128; i++) steer_track_camera(&s, c, flat_ground);
  EXPECT_EQ(s.free.speed, 0.0f);
  c[CONTROL_FRONT_BRAKE] = 1.0f;
  for (int i = 0; i < 1280; i++) steer_track_camera(&s, c, flat_ground);
  EXPECT_EQ(s.free.speed, -FREE_CAMERA_MAX_SPEED);

  // Pitched into the ground it stops 2 above it.
  c[CONTROL_FRONT_BRAKE] = 0.0f;
  c[CONTROL_THROTTLE] = 1.0f;
  c[CONTROL_SHIFT] = -1.0f;
  for (int i = 0; i < 640; i++) steer_track_camera(&s, c, flat_ground);
  EXPECT_FLOAT_EQ(s.free.pitch, -FREE_CAMERA_MAX_PITCH);
  EXPECT_FLOAT_EQ(s.free.position.y, FREE_CAMERA_MIN_CLEARANCE);
}

int gate_camera(int gate) { return gate == 3 ? 1 : gate == 5 ? 4 : -1; }

TEST(TrackCameras, LeanTogglesSwitchingDigitsSelectAndTheCameraAimsAtTheBike) {
  TrackCameraState s;
  reset_track_cameras(&s);
  EXPECT_TRUE(s.automatic);
  float c[CONTROL_COUNT] = {};
  const float lean[] = {0.2f, 0.9f, 1.0f, 0.4f, 0.6f};
  const bool automatic[] = {true, false, false, false, true};
  for (int i = 0; i < 5; i++) {
    c[CONTROL_LEAN] = lean[i];
    steer_track_camera(&s, c, flat_ground);
    EXPECT_EQ(s.automatic, automatic[i]) << i;
  }

  // Cuts follow the gates that have a camera; the others keep the current one.
  follow_bike_with_track_cameras(&s, 3, gate_camera, 3);
  EXPECT_EQ(s.selected, 1);
  follow_bike_with_track_cameras(&s, 4, gate_camera, 3);
  EXPECT_EQ(s.selected, 1);
  follow_bike_with_track_cameras(&s, 5, gate_camera, 3);  // camera 4 is not on this track
  EXPECT_EQ(s.selected, 1);

  select_track_camera(&s, 9, 3);
  EXPECT_EQ(s.selected, 2);
  EXPECT_FALSE(s.automatic);
  follow_bike_with_track_cameras(&s, 3, gate_camera, 3);
  EXPECT_EQ(s.selected, 2);  // chosen by hand: it stays
  select_track_camera(&s, 0, 3);
  EXPECT_EQ(s.selected, -1);

  // Aimed ahead of a moving bike, straight at a paused one, with the field of
  // view that fits the automatic size at the bike's distance.
  TrackCameraRecord camera = {{0.0f, 3.0f, 100.0f}, 90.0f, 10.0f};
  s.selected = 0;
  BikeView b = bike({0.0f, 0.0f, -50.0f});
  CameraPose pose = track_camera_view(s, &camera, &b, false, 110.0f);
  EXPECT_FLOAT_EQ(pose.target.z, -50.0f * TRACK_CAMERA_LEAD_SECONDS);
  pose = track_camera_view(s, &camera, &b, true, 110.0f);
  EXPECT_FLOAT_EQ(pose.target.z, 0.0f);
  EXPECT_NEAR(pose.fov, 2.0f * std::atan(5.0f / 100.0f) * 57.29578f, 1e-3);
  camera.auto_fov_size = 0.0f;
  EXPECT_FLOAT_EQ(track_camera_view(s, &camera, &b, true, 110.0f).fov, 90.0f);
}

}  // namespace
