// The rider's pose for drawing: the skinned rider body's bones, posed each
// frame from the model's rider figure points and where the bike's bodies
// are. Hands stay on the bars (which turn with the steering), feet on the
// pegs (which ride with the frame), hips and shoulders go with the rider's
// own body (which the sit/stand and lean controls and the suspension move);
// elbows and knees bend to join them, pointing the way the figure points
// them. A rider thrown off keeps the figure's shape and tumbles with its body.
//
// The rider body models and their bones are described in
// render/rider_skeleton.h; the bind pose is the model's rider figure with
// the shoulders at RIDER_SHOULDER.
#pragma once

#include "core/types.h"
#include "render/rider_skeleton.h"

struct BikeModel;

constexpr int RIDER_BONES = RIDER_BONE_COUNT;

// A body's place: rotation (row-major, body to world) and position.
struct BodyTransform {
  float rotation[9];
  Vec3 position;
};

struct RiderPoseInput {
  const BikeModel* model;
  BodyTransform frame, fork_upper, rider;
  bool attached;  // false once the rider has been thrown off
};

// Bones in the shader's and the skinning's layout: vertex p moves to
// R (p - c) + t, R stored by columns.
struct RiderBones {
  float centres[RIDER_BONES * 3];
  float translations[RIDER_BONES * 3];
  float rotations[RIDER_BONES * 9];
};

// The joints where the pose puts them, in the rider body's frame (for
// checks and for anything drawn at a hand or a foot).
struct RiderJoints {
  Vec3 shoulder[2], elbow[2], hand[2], hip[2], knee[2], foot[2];  // right, left
};

void pose_rider(const RiderPoseInput& input, RiderBones* bones, RiderJoints* joints);
// The figure itself (the bind pose), in the rider body's frame.
void rider_bind_joints(const BikeModel& model, RiderJoints* joints);
