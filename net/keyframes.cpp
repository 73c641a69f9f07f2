#include "net/keyframes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "core/datafile.h"

namespace {

Vec3 catmull_rom(Vec3 p0, Vec3 p1, Vec3 p2, Vec3 p3, float t) {
  const float t2 = t * t, t3 = t2 * t;
  auto axis = [&](float a, float b, float c, float d) {
    return 0.5f * (2.0f * b + (-a + c) * t + (2.0f * a - 5.0f * b + 4.0f * c - d) * t2 + (-a + 3.0f * b - 3.0f * c + d) * t3);
  };
  return Vec3{axis(p0.x, p1.x, p2.x, p3.x), axis(p0.y, p1.y, p2.y, p3.y), axis(p0.z, p1.z, p2.z, p3.z)};
}

Quat normalised(Quat q) {
  const float n = std::sqrt(q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z);
  if (!(n > 0.0f)) return Quat{1, 0, 0, 0};
  return Quat{q.w / n, q.x / n, q.y / n, q.z / n};
}

Quat slerp(Quat a, Quat b, float t) {
  float d = a.w * b.w + a.x * b.x + a.y * b.y + a.z * b.z;
  if (d < 0) {  // the short way round
    b = Quat{-b.w, -b.x, -b.y, -b.z};
    d = -d;
  }
  if (d > 0.9995f) {
    return normalised(Quat{a.w + (b.w - a.w) * t, a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t, a.z + (b.z - a.z) * t});
  }
  const float angle = std::acos(d), s = std::sin(angle);
  const float wa = std::sin((1 - t) * angle) / s, wb = std::sin(t * angle) / s;
  return Quat{wa * a.w + wb * b.w, wa * a.x + wb * b.x, wa * a.y + wb * b.y, wa * a.z + wb * b.z};
}

}  // namespace

void add_keyframe(KeyframeTrack* track, const Keyframe& key) {
  Keyframe k = key;
  k.rotation = normalised(k.rotation);
  auto& keys = track->keys;
  auto at = std::lower_bound(keys.begin(), keys.end(), k.time, [](const Keyframe& a, double t) { return a.time < t; });
  if (at != keys.end() && at->time == k.time) {
    *at = k;
  } else {
    at = keys.insert(at, k);
  }
  track->current = (int)(at - keys.begin());
}

bool delete_keyframe(KeyframeTrack* track) {
  if (track->current < 0 || track->current >= (int)track->keys.size()) return false;
  track->keys.erase(track->keys.begin() + track->current);
  track->current = std::min(track->current - 1 < 0 ? 0 : track->current - 1, (int)track->keys.size() - 1);
  if (track->keys.empty()) track->current = -1;
  return true;
}

void clear_keyframes(KeyframeTrack* track) {
  track->keys.clear();
  track->current = -1;
}

std::string keyframe_line(const Keyframe& k) {
  char text[256];
  snprintf(text, sizeof text, "pos = { %.2f, %.2f, %.2f }, rot = { %.2f, %.2f, %.2f, %.2f }, time = %.2f",
           (double)k.position.x, (double)k.position.y, (double)k.position.z, (double)k.rotation.w,
           (double)k.rotation.x, (double)k.rotation.y, (double)k.rotation.z, k.time);
  return text;
}

bool keyframe_pose(const KeyframeTrack& track, double time, Vec3* position, Quat* rotation) {
  const auto& k = track.keys;
  if (k.empty()) return false;
  if (time <= k.front().time || k.size() == 1) {
    *position = k.front().position;
    *rotation = k.front().rotation;
    return true;
  }
  if (time >= k.back().time) {
    *position = k.back().position;
    *rotation = k.back().rotation;
    return true;
  }
  size_t i = 0;
  while (i + 2 < k.size() && k[i + 1].time <= time) i++;
  const Keyframe& a = k[i];
  const Keyframe& b = k[i + 1];
  const float t = (float)((time - a.time) / (b.time - a.time));
  // Past either end the curve continues straight on, so the camera neither
  // eases in nor overshoots at the first and last keyframes.
  const Vec3 before = i > 0 ? k[i - 1].position : a.position * 2.0f - b.position;
  const Vec3 after = i + 2 < k.size() ? k[i + 2].position : b.position * 2.0f - a.position;
  *position = catmull_rom(before, a.position, b.position, after, t);
  *rotation = slerp(a.rotation, b.rotation, t);
  return true;
}

Quat look_rotation(Vec3 forward) {
  const float length = std::sqrt(forward.x * forward.x + forward.y * forward.y + forward.z * forward.z);
  if (!(length > 1e-6f)) return Quat{1, 0, 0, 0};
  const float yaw = std::atan2(-forward.x, -forward.z);  // about +Y; 0 looks along -Z
  const float pitch = std::asin(std::clamp(forward.y / length, -1.0f, 1.0f));  // about +X; up is positive
  // turn (about Y) x tilt (about X): the tilt first in the camera's frame.
  const float tw = std::cos(yaw / 2), ty = std::sin(yaw / 2);
  const float pw = std::cos(pitch / 2), px = std::sin(pitch / 2);
  return Quat{tw * pw, tw * px, ty * pw, -ty * px};
}

Vec3 rotation_forward(const Quat& q) {
  // q (0, 0, -1) q*, written out.
  return Vec3{-2.0f * (q.x * q.z + q.w * q.y), -2.0f * (q.y * q.z - q.w * q.x),
              -(1.0f - 2.0f * (q.x * q.x + q.y * q.y))};
}

std::string track_info_text(const TrackInfo& info) {
  std::string text = "dir=" + info.dir + "\nlongname=" + (info.long_name.empty() ? info.dir : info.long_name) + "\n";
  char numbers[96];
  snprintf(numbers, sizeof numbers, "firstlap=%d\nnormallap=%d\ngatecount=%d\nhash=", info.first_lap,
           info.normal_lap, info.gate_count);
  text += numbers;
  for (uint8_t byte : info.digest) {
    char hex[3];
    snprintf(hex, sizeof hex, "%02x", byte);
    text += hex;
  }
  return text + "\n";
}

bool write_track_info(const TrackInfo& info, std::string* path) {
  // The directory comes from the track list; still, a name that climbs out
  // of the home directory is not written.
  if (info.dir.empty() || info.dir.find("..") != std::string::npos || info.dir[0] == '/') return false;
  const std::string name = "@" + info.dir + ".trackinfo";
  const std::string full = std::string(home_directory() ? home_directory() : "") + info.dir + ".trackinfo";
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(full).parent_path(), ec);
  DataStream* s = data_open(name.c_str(), "wb");
  if (!s) return false;
  const std::string text = track_info_text(info);
  const bool ok = data_write(s, text.data(), text.size()) == text.size();
  data_close(s);
  if (path) *path = full;
  return ok;
}
