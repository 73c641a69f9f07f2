// Helpers shared by the replay tests: a scratch home directory, smooth
// synthetic bike states for several riders, and the quantisation steps
// that say how close a decoded state must come to the one encoded.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/datafile.h"
#include "core/message.h"
#include "replay/state_record.h"

// A fresh home directory (the only search directory) for one test.
struct ScratchHome : ::testing::Test {
  std::string home;
  void SetUp() override {
    std::string pattern = std::string(::testing::TempDir()) + "dv_replay_XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    ASSERT_NE(mkdtemp(buffer.data()), nullptr);
    home = std::string(buffer.data()) + "/";
    set_search_directories({home});
    clear_message_lines();
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
  }
  std::string path(const std::string& name) const { return home + name; }
  bool exists(const std::string& name) const { return std::filesystem::exists(home + name); }
  std::string read(const std::string& name) const {
    std::ifstream in(home + name, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  void write(const std::string& name, const std::string& bytes) const {
    std::filesystem::create_directories(std::filesystem::path(home + name).parent_path());
    std::ofstream out(home + name, std::ios::binary);
    out.write(bytes.data(), (std::streamsize)bytes.size());
  }
};

// True when some message line so far contains the text.
inline bool message_shown(const char* text) {
  for (int age = 0; const char* line = message_line(age); age++) {
    if (strstr(line, text)) return true;
  }
  return false;
}

inline const RecordScale TEST_SCALE{2048.0, -20.0, 180.0};

// A rider circling the track: every field moves smoothly, the wheels spin
// through their wrap, and rider 3 is in a crash from tick 1000 to 1600.
inline BikeState synthetic_state(int rider, int tick) {
  BikeState s{};
  double t = tick * (1.0 / 128.0);
  double heading = 0.2 * t + rider;
  DVec centre{1024 + 300 * std::cos(heading) + 20 * rider, 40 + 10 * std::sin(0.7 * t + rider),
              1024 + 300 * std::sin(heading)};
  DQuat yaw = quat_axis_angle(DVec{0, 1, 0}, -heading);
  DQuat pitch = quat_axis_angle(DVec{1, 0, 0}, 0.3 * std::sin(1.3 * t + rider));
  DQuat frame = quat_mul(yaw, pitch);
  // Half the riders store the negated (equivalent) quaternion.
  if (rider % 2) frame = DQuat{-frame.w, -frame.x, -frame.y, -frame.z};
  for (int i = 0; i < STATE_BODIES; i++) {
    s.position[i] = centre;
    s.orientation[i] = frame;
  }
  s.position[STATE_RIDER] = centre + quat_rotate(frame, DVec{0.1 * std::sin(t), 2.5 + 0.3 * std::sin(2 * t), 0.5});
  s.orientation[STATE_RIDER] = quat_mul(frame, quat_axis_angle(DVec{0, 0, 1}, 0.2 * std::sin(3 * t)));
  s.steering = 0.6 * std::sin(0.9 * t + rider);
  s.fork = -0.5 + 0.4 * std::sin(5 * t);
  s.swingarm = -0.25 + 0.2 * std::sin(4 * t + rider);
  s.front_spin = std::remainder(9.0 * t + rider, 2 * PI_D);
  s.rear_spin = std::remainder(9.5 * t + 2 * rider, 2 * PI_D);
  s.engine_speed = (8000 + 4000 * std::sin(t + rider)) / 9.549296585513721;
  s.gear = (tick / 512 + rider) % 5;
  s.throttle = (float)(0.5 + 0.5 * std::sin(2 * t));
  s.front_brake = std::sin(t) > 0.9 ? 0.5f : 0.0f;
  s.crash_timer = rider == 3 && tick >= 1000 && tick < 1600 ? 1600 - tick : 0;
  return s;
}

// Largest rotation angle between two orientations, either sign.
inline double angle_between(DQuat a, DQuat b) {
  double d = std::fabs(a.w * b.w + a.x * b.x + a.y * b.y + a.z * b.z);
  return 2 * std::acos(d > 1 ? 1 : d);
}

// Checks every carried field of a decoded state against the encoded one,
// within one quantisation step of the field (two for the bytes whose bit 0
// carries a flag).
inline void expect_state_near(const BikeState& want, const BikeState& got, const RecordModel& m,
                              const RecordScale& scale, const char* where) {
  SCOPED_TRACE(where);
  const double xz = scale.size / 16777215.0, y = scale.range / 16777215.0;
  EXPECT_NEAR(got.position[0].x, want.position[0].x, xz);
  EXPECT_NEAR(got.position[0].y, want.position[0].y, y);
  EXPECT_NEAR(got.position[0].z, want.position[0].z, xz);
  DVec rider_want = want.position[6] - want.position[0], rider_got = got.position[6] - got.position[0];
  EXPECT_NEAR(rider_got.x, rider_want.x, 32.0 / 65535 + 1e-9);
  EXPECT_NEAR(rider_got.y, rider_want.y, 32.0 / 65535 + 1e-9);
  EXPECT_NEAR(rider_got.z, rider_want.z, 32.0 / 65535 + 1e-9);
  // Four 16-bit components, renormalised: well under a thousandth of a radian.
  EXPECT_LT(angle_between(got.orientation[0], want.orientation[0]), 2e-4);
  EXPECT_LT(angle_between(got.orientation[6], want.orientation[6]), 2e-4);
  EXPECT_NEAR(got.steering, want.steering, PI_D / 2 / 255 + 1e-9);
  EXPECT_NEAR(got.fork, want.fork, 2 * m.fork_travel / 255 + 1e-9);
  EXPECT_NEAR(got.swingarm, want.swingarm, 2 * m.swingarm_travel / 255 + 1e-9);
  EXPECT_NEAR(std::remainder(got.front_spin - want.front_spin, 2 * PI_D), 0, 2 * PI_D / 255 + 1e-9);
  EXPECT_NEAR(std::remainder(got.rear_spin - want.rear_spin, 2 * PI_D), 0, 2 * PI_D / 255 + 1e-9);
  EXPECT_NEAR(got.engine_speed * 9.549296585513721, want.engine_speed * 9.549296585513721, 32768.0 / 65535 + 1e-6);
  EXPECT_EQ(got.crash_timer > 0, want.crash_timer > 0);
  if (want.crash_timer == 0) {
    EXPECT_EQ(got.gear, want.gear);
    EXPECT_NEAR(got.throttle, want.throttle, 1.0 / 15 + 1e-6);
  }
}
