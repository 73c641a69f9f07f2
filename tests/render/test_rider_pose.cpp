// The rider's pose: the figure itself when the bike stands as built, hands
// that stay on turning bars and feet on the pegs while the rider's body
// moves, limbs that keep their lengths, and a thrown rider keeping its shape.
#include <gtest/gtest.h>

#include <cmath>

#include "bike/bike_model.h"
#include "render/model.h"
#include "render/rider_pose.h"

namespace {

BodyTransform at_build(Vec3 position) {
  BodyTransform t{};
  for (int i = 0; i < 9; i++) t.rotation[i] = i % 4 == 0 ? 1.0f : 0.0f;
  t.position = position;
  return t;
}

float distance(Vec3 a, Vec3 b) {
  Vec3 d = a - b;
  return std::sqrt(dot(d, d));
}

// Moves a point of the rider's frame through the bones' skinning.
Vec3 skin(const RiderBones& b, int bone, Vec3 p) {
  const float* c = b.centres + bone * 3;
  const float* r = b.rotations + bone * 9;
  const float* t = b.translations + bone * 3;
  Vec3 d = {p.x - c[0], p.y - c[1], p.z - c[2]};
  return {r[0] * d.x + r[3] * d.y + r[6] * d.z + t[0], r[1] * d.x + r[4] * d.y + r[7] * d.z + t[1],
          r[2] * d.x + r[5] * d.y + r[8] * d.z + t[2]};
}

class RiderPose : public ::testing::Test {
 protected:
  void SetUp() override {
    model_ = &bike_model_at(0);
    input_ = {model_, at_build(model_->frame_position), at_build(model_->fork_upper_position),
              at_build(model_->rider_position), true};
    rider_bind_joints(*model_, &bind_);
  }
  const BikeModel* model_;
  RiderPoseInput input_;
  RiderJoints bind_;
};

}  // namespace

TEST_F(RiderPose, AsBuiltTheBonesLeaveTheFigureAlone) {
  RiderBones bones;
  RiderJoints joints;
  pose_rider(input_, &bones, &joints);
  for (int side = 0; side < 2; side++) {
    EXPECT_NEAR(distance(joints.hand[side], bind_.hand[side]), 0, 1e-4);
    EXPECT_NEAR(distance(joints.elbow[side], bind_.elbow[side]), 0, 1e-4);
    EXPECT_NEAR(distance(joints.knee[side], bind_.knee[side]), 0, 1e-4);
  }
  for (int k = 0; k < RIDER_BONES * 9; k++) EXPECT_NEAR(bones.rotations[k], k % 9 % 4 == 0 ? 1.0f : 0.0f, 1e-4);
}

TEST_F(RiderPose, HandsFollowTheBarsAndFeetThePegs) {
  // Bars turned 0.15 rad about the vertical through the fork, the rider's
  // body 0.1 higher and 0.05 forward (rising off the seat).
  float c = std::cos(0.15f), s = std::sin(0.15f);
  const float turn[9] = {c, 0, s, 0, 1, 0, -s, 0, c};
  std::copy(turn, turn + 9, input_.fork_upper.rotation);
  input_.rider.position = model_->rider_position + Vec3{0, 0.1f, -0.05f};
  RiderBones bones;
  RiderJoints joints;
  pose_rider(input_, &bones, &joints);
  for (int side = 0; side < 2; side++) {
    // Where the grip is now, in the rider's frame.
    Vec3 grip = model_->rider_figure[FIGURE_RIGHT_HAND + side] - model_->fork_upper_position;
    Vec3 turned = {turn[0] * grip.x + turn[2] * grip.z, grip.y, turn[6] * grip.x + turn[8] * grip.z};
    Vec3 want = turned + model_->fork_upper_position - input_.rider.position;
    EXPECT_LT(distance(joints.hand[side], want), 0.05f) << side;
    Vec3 peg = model_->rider_figure[FIGURE_RIGHT_FOOT + side] - input_.rider.position;
    EXPECT_LT(distance(joints.foot[side], peg), 0.05f) << side;
    // Limb lengths as in the figure.
    EXPECT_NEAR(distance(joints.elbow[side], joints.shoulder[side]), distance(bind_.elbow[side], bind_.shoulder[side]), 1e-3);
    EXPECT_NEAR(distance(joints.knee[side], joints.foot[side]), distance(bind_.knee[side], bind_.foot[side]), 1e-3);
    // The skinning carries the figure's joints where the pose put them.
    EXPECT_LT(distance(skin(bones, RIDER_BONE_RIGHT_FOREARM + side, bind_.hand[side]), joints.hand[side]), 1e-3);
    EXPECT_LT(distance(skin(bones, RIDER_BONE_RIGHT_UPPER_ARM + side, bind_.elbow[side]), joints.elbow[side]), 1e-3);
    EXPECT_LT(distance(skin(bones, RIDER_BONE_RIGHT_SHIN + side, bind_.foot[side]), joints.foot[side]), 1e-3);
  }
  // Standing up straightens the knees: the hips moved away from the pegs.
  EXPECT_GT(distance(joints.knee[0], bind_.knee[0]), 0.01f);
}

TEST_F(RiderPose, AThrownRiderKeepsItsShape) {
  input_.attached = false;
  input_.rider.position = model_->rider_position + Vec3{4, -2, 3};
  RiderBones bones;
  RiderJoints joints;
  pose_rider(input_, &bones, &joints);
  EXPECT_NEAR(distance(joints.hand[0], bind_.hand[0]), 0, 1e-6);
  for (int b = 0; b < RIDER_BONES; b++) EXPECT_FLOAT_EQ(bones.rotations[b * 9 + 4], 1.0f);
}
