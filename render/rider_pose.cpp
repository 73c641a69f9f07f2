#include "render/rider_pose.h"

#include <algorithm>
#include <cmath>

#include "bike/bike_model.h"

namespace {

float length(Vec3 v) { return std::sqrt(dot(v, v)); }
Vec3 unit(Vec3 v, Vec3 fallback) {
  float l = length(v);
  return l > 1e-6f ? v * (1.0f / l) : fallback;
}

Vec3 apply(const float r[9], Vec3 v) {
  return {r[0] * v.x + r[1] * v.y + r[2] * v.z, r[3] * v.x + r[4] * v.y + r[5] * v.z,
          r[6] * v.x + r[7] * v.y + r[8] * v.z};
}
Vec3 apply_transposed(const float r[9], Vec3 v) {
  return {r[0] * v.x + r[3] * v.y + r[6] * v.z, r[1] * v.x + r[4] * v.y + r[7] * v.z,
          r[2] * v.x + r[5] * v.y + r[8] * v.z};
}

// A point fixed to a body (given in the build frame) in the rider's frame.
Vec3 into_rider(const RiderPoseInput& in, const BodyTransform& body, Vec3 body_build, Vec3 build_point) {
  Vec3 world = apply(body.rotation, build_point - body_build) + body.position;
  return apply_transposed(in.rider.rotation, world - in.rider.position);
}

// Two-bone reach from `root` towards `target`: the middle joint bends
// towards `pole` (its place in the figure). Returns the middle joint and
// the end as far as the limb reaches.
void reach(Vec3 root, Vec3 target, Vec3 pole, float a, float b, Vec3* middle, Vec3* end) {
  Vec3 to = target - root;
  Vec3 dir = unit(to, Vec3{0, -1, 0});
  float d = std::clamp(length(to), std::fabs(a - b) + 1e-4f, a + b - 1e-4f);
  float c = std::clamp((a * a + d * d - b * b) / (2 * a * d), -1.0f, 1.0f);
  float s = std::sqrt(std::max(0.0f, 1 - c * c));
  Vec3 p = pole - root;
  Vec3 side = unit(p - dir * dot(p, dir), std::fabs(dir.y) < 0.9f ? unit(cross(dir, Vec3{0, 1, 0}), Vec3{1, 0, 0})
                                                                     : Vec3{1, 0, 0});
  *middle = root + (dir * c + side * s) * a;
  *end = root + dir * d;
}

// Orthonormal frame (columns x, y, z) of a limb segment in its bending plane.
void segment_frame(Vec3 along, Vec3 normal, float out[9]) {
  Vec3 x = unit(along, Vec3{1, 0, 0});
  Vec3 z = normal - x * dot(normal, x);
  z = unit(z, std::fabs(x.y) < 0.9f ? unit(cross(x, Vec3{0, 1, 0}), Vec3{0, 0, 1}) : Vec3{0, 0, 1});
  Vec3 y = cross(z, x);
  const Vec3 cols[3] = {x, y, z};
  for (int c = 0; c < 3; c++) {
    out[c * 3] = cols[c].x;
    out[c * 3 + 1] = cols[c].y;
    out[c * 3 + 2] = cols[c].z;
  }
}

// The bone that carries a bind segment onto a posed one: R = posed frame x
// bind frame transposed, both by columns.
void set_bone(RiderBones* bones, int bone, Vec3 bind_from, Vec3 bind_to, Vec3 bind_normal, Vec3 from, Vec3 to,
              Vec3 normal) {
  float fb[9], fp[9];
  segment_frame(bind_to - bind_from, bind_normal, fb);
  segment_frame(to - from, normal, fp);
  float* r = bones->rotations + bone * 9;
  for (int row = 0; row < 3; row++)
    for (int col = 0; col < 3; col++) {
      float sum = 0;
      for (int k = 0; k < 3; k++) sum += fp[k * 3 + row] * fb[k * 3 + col];  // (Fp Fb^T)(row, col)
      r[col * 3 + row] = sum;
    }
  float* c = bones->centres + bone * 3;
  float* t = bones->translations + bone * 3;
  c[0] = bind_from.x;
  c[1] = bind_from.y;
  c[2] = bind_from.z;
  t[0] = from.x;
  t[1] = from.y;
  t[2] = from.z;
}

void identity_bones(RiderBones* bones) {
  for (int b = 0; b < RIDER_BONES; b++) {
    for (int k = 0; k < 3; k++) bones->centres[b * 3 + k] = bones->translations[b * 3 + k] = 0;
    for (int k = 0; k < 9; k++) bones->rotations[b * 9 + k] = (k % 4 == 0) ? 1.0f : 0.0f;
  }
}

}  // namespace

void rider_bind_joints(const BikeModel& m, RiderJoints* j) {
  const Vec3 origin = m.rider_position;
  for (int side = 0; side < 2; side++) {
    j->shoulder[side] = {side == 0 ? RIDER_SHOULDER[0] : -RIDER_SHOULDER[0], RIDER_SHOULDER[1], RIDER_SHOULDER[2]};
    j->hand[side] = m.rider_figure[FIGURE_RIGHT_HAND + side] - origin;
    j->elbow[side] = m.rider_figure[FIGURE_RIGHT_ELBOW + side] - origin;
    j->foot[side] = m.rider_figure[FIGURE_RIGHT_FOOT + side] - origin;
    j->knee[side] = m.rider_figure[FIGURE_RIGHT_KNEE + side] - origin;
    j->hip[side] = m.rider_figure[FIGURE_RIGHT_HIP + side] - origin;
  }
}

void pose_rider(const RiderPoseInput& in, RiderBones* bones, RiderJoints* joints) {
  RiderJoints bind;
  rider_bind_joints(*in.model, &bind);
  identity_bones(bones);
  *joints = bind;
  if (!in.attached) return;
  const BikeModel& m = *in.model;
  for (int side = 0; side < 2; side++) {
    // Hands on the bars, feet on the pegs.
    Vec3 hand = into_rider(in, in.fork_upper, m.fork_upper_position, m.rider_figure[FIGURE_RIGHT_HAND + side]);
    Vec3 foot = into_rider(in, in.frame, m.frame_position, m.rider_figure[FIGURE_RIGHT_FOOT + side]);
    float upper = length(bind.elbow[side] - bind.shoulder[side]), fore = length(bind.hand[side] - bind.elbow[side]);
    float thigh = length(bind.knee[side] - bind.hip[side]), shin = length(bind.foot[side] - bind.knee[side]);
    reach(bind.shoulder[side], hand, bind.elbow[side], upper, fore, &joints->elbow[side], &joints->hand[side]);
    reach(bind.hip[side], foot, bind.knee[side], thigh, shin, &joints->knee[side], &joints->foot[side]);

    // The bending planes, oriented alike in the figure and the pose.
    Vec3 arm_bind_normal = cross(bind.hand[side] - bind.shoulder[side], bind.elbow[side] - bind.shoulder[side]);
    Vec3 arm_normal = cross(joints->hand[side] - bind.shoulder[side], joints->elbow[side] - bind.shoulder[side]);
    Vec3 leg_bind_normal = cross(bind.foot[side] - bind.hip[side], bind.knee[side] - bind.hip[side]);
    Vec3 leg_normal = cross(joints->foot[side] - bind.hip[side], joints->knee[side] - bind.hip[side]);
    set_bone(bones, RIDER_BONE_RIGHT_UPPER_ARM + side, bind.shoulder[side], bind.elbow[side], arm_bind_normal,
             bind.shoulder[side], joints->elbow[side], arm_normal);
    set_bone(bones, RIDER_BONE_RIGHT_FOREARM + side, bind.elbow[side], bind.hand[side], arm_bind_normal, joints->elbow[side],
             joints->hand[side], arm_normal);
    set_bone(bones, RIDER_BONE_RIGHT_THIGH + side, bind.hip[side], bind.knee[side], leg_bind_normal, bind.hip[side],
             joints->knee[side], leg_normal);
    set_bone(bones, RIDER_BONE_RIGHT_SHIN + side, bind.knee[side], bind.foot[side], leg_bind_normal, joints->knee[side],
             joints->foot[side], leg_normal);
  }
}
