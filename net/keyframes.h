// The keyframe camera the console edits: camera poses stamped with a time,
// and the flight through them (positions on a Catmull-Rom curve, rotations
// by spherical interpolation) that films a replay along a planned path.
// Also the track info file that "savetrackinfo" writes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/types.h"

struct Quat {
  float w, x, y, z;
};

struct Keyframe {
  Vec3 position;
  Quat rotation;
  double time;  // seconds
};

struct KeyframeTrack {
  std::vector<Keyframe> keys;  // in time order
  int current = -1;            // the keyframe the last add or delete left selected
  bool active = false;         // "togglekeycam": the camera flies the keyframes
};

// Inserts in time order (a key at the time of an existing one replaces it)
// and makes it current.
void add_keyframe(KeyframeTrack* track, const Keyframe& key);
// Removes the current keyframe; the one before it becomes current. False
// when there is none.
bool delete_keyframe(KeyframeTrack* track);
void clear_keyframes(KeyframeTrack* track);
// "pos = { %.2f, %.2f, %.2f }, rot = { %.2f, %.2f, %.2f, %.2f }, time = %.2f"
std::string keyframe_line(const Keyframe& key);
// The pose at a time: held at the first and last keyframes, in between on
// the curve. False without keyframes.
bool keyframe_pose(const KeyframeTrack& track, double time, Vec3* position, Quat* rotation);

// A camera's rotation as a keyframe holds it: the turn that takes the
// camera's own forward (-Z, up +Y) to look along `forward` with the world's
// up kept up (yaw about Y, then pitch). And back: where a rotation looks.
Quat look_rotation(Vec3 forward);
Vec3 rotation_forward(const Quat& q);

// --- track info files --------------------------------------------------------------------

struct TrackInfo {
  std::string dir;        // the track directory
  std::string long_name;  // from the track list, or the directory
  int first_lap = 0, normal_lap = 0, gate_count = 0;
  uint8_t digest[20] = {};
};

// "dir=%s\n" "longname=%s\n" "firstlap=%d\n" "normallap=%d\n" "gatecount=%d\n"
// "hash=<40 lower-case hex digits>\n".
std::string track_info_text(const TrackInfo& info);
// Writes "@" + dir + ".trackinfo"; the path written goes to *path. False
// when the file cannot be written (or the directory name would leave the
// home directory).
bool write_track_info(const TrackInfo& info, std::string* path);
