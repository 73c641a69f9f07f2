// The bones of the skinned rider models ("@rider_body.jm" and
// "@rider_body_fp.jm", JM version 2, skeleton word "rider"): their order in
// the files and the joint each one turns about in the bind pose.
//
// The bind pose is the bike model's rider figure (hands on the bars, feet on
// the pegs, knees at the tank), with model coordinates in the rider body's
// own frame: the build-frame position minus the rider body's build position
// (0, 4.5, 4.12). To pose the rider, each limb bone maps its bind segment
// (centre to the next joint) onto the segment between the current figure
// points; the torso bone follows the rider body itself. Hands belong to the
// forearms, boots to the shins.
#pragma once

enum RiderBone {
  RIDER_BONE_TORSO,           // hips to neck; centre: between the hips
  RIDER_BONE_RIGHT_UPPER_ARM, // shoulder to elbow
  RIDER_BONE_LEFT_UPPER_ARM,
  RIDER_BONE_RIGHT_FOREARM,   // elbow to hand
  RIDER_BONE_LEFT_FOREARM,
  RIDER_BONE_RIGHT_THIGH,     // hip to knee
  RIDER_BONE_LEFT_THIGH,
  RIDER_BONE_RIGHT_SHIN,      // knee to foot
  RIDER_BONE_LEFT_SHIN,
  RIDER_BONE_COUNT
};

// The skeleton word of the rider models.
inline constexpr char RIDER_SKELETON[] = "rider";

// Shoulders are not among the figure points; they sit here in the rider
// body's frame (right side; the left mirrors x).
inline constexpr float RIDER_SHOULDER[3] = {0.56f, 0.68f, -0.37f};
