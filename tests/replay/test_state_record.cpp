// The 39-byte record: its exact byte layout, the round trip through the
// quantisation, the state byte, the flag bits, the old 26-byte form and the
// interpolation rules.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "replay/state_record.h"
#include "replay_test_util.h"

namespace {

const RecordModel MODEL = default_record_model();

uint32_t field(const StateRecord& r, int at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; i--) v = (v << 8) | r.bytes[at + i];
  return v;
}

BikeState resting_state() {
  BikeState s{};
  for (int i = 0; i < STATE_BODIES; i++) {
    s.position[i] = DVec{1024, 70, 512};
    s.orientation[i] = DQuat{1, 0, 0, 0};
  }
  s.position[STATE_RIDER] = DVec{1024, 72.5, 512.5};
  return s;
}

}  // namespace

TEST(StateRecord, FieldsSitAtTheirOffsetsLittleEndian) {
  BikeState s = resting_state();
  s.steering = PI_D / 4;  // top of its range
  s.fork = -1;            // fully compressed: raw 0, then the sampled bit
  s.swingarm = 0;         // extended: raw 255, bit 0 cleared without integrity
  s.front_spin = -PI_D;
  s.rear_spin = PI_D;
  s.engine_speed = 16384 / 9.549296585513721;
  StateRecord r = encode_state(s, MODEL, TEST_SCALE, nullptr);
  EXPECT_EQ(field(r, 0, 3), 0x7FFFFFu);  // x = half of the track
  EXPECT_EQ(field(r, 3, 3), (uint32_t)std::floor(90.0 / 180.0 * 16777215));
  EXPECT_EQ(field(r, 6, 3), (uint32_t)std::floor(0.25 * 16777215));
  EXPECT_EQ(field(r, 9, 2), 0xFFFFu);   // w = 1
  EXPECT_EQ(field(r, 11, 2), 0x7FFFu);  // x = y = z = 0 rounds down to the middle
  EXPECT_EQ(field(r, 13, 2), 0x7FFFu);
  EXPECT_EQ(field(r, 15, 2), 0x7FFFu);
  EXPECT_EQ(r.bytes[17], 255);
  EXPECT_EQ(r.bytes[18], 1);  // raw 0 | sampled
  EXPECT_EQ(r.bytes[19], 254);
  EXPECT_EQ(field(r, 20, 2), 0x7FFFu);  // rider offset x = 0
  EXPECT_EQ(field(r, 22, 2), (uint32_t)std::floor(18.5 / 32 * 65535));
  EXPECT_EQ(field(r, 24, 2), (uint32_t)std::floor(16.5 / 32 * 65535));
  EXPECT_EQ(field(r, 26, 2), 0xFFFFu);
  EXPECT_EQ(r.bytes[34], 0);
  EXPECT_EQ(r.bytes[35], 255);
  EXPECT_EQ(r.bytes[36], 0);  // first gear, no brake, closed throttle
  EXPECT_EQ(field(r, 37, 2), 0x7FFFu);
}

TEST(StateRecord, DecodesEveryCarriedFieldWithinOneQuantisationStep) {
  for (int rider = 0; rider < 5; rider++) {
    for (int tick = 0; tick < 2400; tick += 37) {
      BikeState want = synthetic_state(rider, tick);
      BikeState got = decode_state(encode_state(want, MODEL, TEST_SCALE, nullptr), MODEL, TEST_SCALE);
      expect_state_near(want, got, MODEL, TEST_SCALE, ("rider " + std::to_string(rider)).c_str());
      EXPECT_TRUE(got.sampled);
    }
  }
}

TEST(StateRecord, ValuesOutsideTheirRangesClampAndNeverMisbehave) {
  BikeState s = resting_state();
  s.engine_speed = 40000 / 9.549296585513721;  // above 32768 rpm
  s.position[0].x = -5;                         // off the track's edge
  s.position[0].z = 1e30;
  s.steering = std::numeric_limits<double>::quiet_NaN();
  s.position[STATE_RIDER] = s.position[0] + DVec{40, 0, 0};  // a thrown rider beyond 16 ft
  StateRecord r = encode_state(s, MODEL, TEST_SCALE, nullptr);
  EXPECT_EQ(field(r, 37, 2), 0xFFFFu);
  EXPECT_EQ(field(r, 0, 3), 0u);
  EXPECT_EQ(field(r, 6, 3), 0xFFFFFFu);
  EXPECT_EQ(r.bytes[17], 0);
  EXPECT_EQ(field(r, 20, 2), 0xFFFFu);
  s.engine_speed = -50;  // engine braking below zero
  EXPECT_EQ(field(encode_state(s, MODEL, TEST_SCALE, nullptr), 37, 2), 0u);
  // A flat track has no height range: every height stores its one value.
  RecordScale flat{2048, 12, 0};
  StateRecord f = encode_state(s, MODEL, flat, nullptr);
  EXPECT_EQ(field(f, 3, 3), 0u);
  EXPECT_DOUBLE_EQ(record_frame_position(f, flat).y, 12);
}

TEST(StateRecord, StateByteCarriesGearBrakeThrottleOrTheCrashTimer) {
  const float five_speed[6] = {2, 1.6f, 1.3f, 1.1f, 1, -1};
  EXPECT_EQ(encode_state_byte(3, 0.5f, true, 0), 3 | 8 | (7 << 4));
  EXPECT_EQ(encode_state_byte(9, 2.0f, false, 0), 6 | (15 << 4));  // gear and throttle clamp
  EXPECT_EQ(encode_state_byte(-2, -1.0f, false, 0), 0);
  // Crash counter 1: low bits 7, high nibble 0, and back to 1.
  EXPECT_EQ(encode_state_byte(4, 1.0f, true, 1), 7);
  EXPECT_EQ(decode_state_byte(7, five_speed).crash_timer, 1);
  EXPECT_EQ(encode_state_byte(0, 0, false, 128), 7 | ((128 * 15 - 15) / 127 << 4));
  EXPECT_EQ(encode_state_byte(0, 0, false, 512), 0xF7);
  EXPECT_EQ(decode_state_byte(0xF7, five_speed).crash_timer, 15 * 127 / 15 + 1);
  EXPECT_EQ(encode_state_byte(0, 0, false, 1 << 30), 0xF7);  // no overflow on absurd timers
  DecodedStateByte d = decode_state_byte(3 | 8 | (7 << 4), five_speed);
  EXPECT_EQ(d.gear, 3);
  EXPECT_TRUE(d.braking);
  EXPECT_FLOAT_EQ(d.throttle, 7.0f / 15);
  EXPECT_EQ(d.crash_timer, 0);
  // Sixth gear (or the spare value 6) on a five-speed box decodes as fifth.
  EXPECT_EQ(decode_state_byte(6, five_speed).gear, 4);
  EXPECT_EQ(decode_state_byte(5, five_speed).gear, 4);
  const float six_speed[6] = {2, 1.6f, 1.3f, 1.1f, 1, 0.9f};
  EXPECT_EQ(decode_state_byte(6, six_speed).gear, 5);
}

TEST(StateRecord, IntegrityBitFollowsTheEngineSpeedByte) {
  IntegrityValue value = make_integrity_value("dirtvane", 8);
  BikeState s = resting_state();
  int ones = 0;
  for (int rpm = 0; rpm < 32768; rpm += 61) {
    s.engine_speed = rpm / 9.549296585513721;
    StateRecord r = encode_state(s, MODEL, TEST_SCALE, &value);
    EXPECT_EQ(record_integrity_bit(r), expected_integrity_bit(value, r));
    ones += record_integrity_bit(r);
    // The bit never disturbs the swingarm angle beyond its lowest bit.
    StateRecord plain = encode_state(s, MODEL, TEST_SCALE, nullptr);
    EXPECT_EQ(r.bytes[19] & ~1, plain.bytes[19]);
  }
  EXPECT_GT(ones, 100);  // a digest, not a constant
  EXPECT_LT(ones, 437);
}

TEST(StateRecord, OldRecordPutsTheRiderOnTheTurnedFrame) {
  OldStateRecord old{};
  BikeState s = resting_state();
  s.orientation[0] = quat_axis_angle(DVec{0, 1, 0}, PI_D / 2);  // facing -x
  StateRecord modern = encode_state(s, MODEL, TEST_SCALE, nullptr);
  memcpy(old.bytes, modern.bytes, 20);
  old.bytes[20] = 255;  // the high rider position
  old.bytes[21] = 10;
  old.bytes[22] = 20;
  old.bytes[23] = 0x32;
  old.bytes[24] = 0x34;
  old.bytes[25] = 0x12;
  StateRecord r = convert_old_record(old, MODEL);
  EXPECT_EQ(memcmp(r.bytes, old.bytes, 20), 0);
  BikeState d = decode_state(r, MODEL, TEST_SCALE);
  DVec offset = d.position[STATE_RIDER] - d.position[STATE_FRAME];
  DVec want = quat_rotate(s.orientation[0], MODEL.rider_high);  // (0, 3.02, 0.52) turned a quarter
  EXPECT_NEAR(offset.x, want.x, 1e-3);
  EXPECT_NEAR(offset.y, want.y, 1e-3);
  EXPECT_NEAR(offset.z, want.z, 1e-3);
  EXPECT_LT(angle_between(d.orientation[STATE_RIDER], d.orientation[STATE_FRAME]), 1e-6);
  EXPECT_EQ(r.bytes[34], 10);
  EXPECT_EQ(r.bytes[35], 20);
  EXPECT_EQ(r.bytes[36], 0x32);
  EXPECT_EQ(field(r, 37, 2), 0x1234u);
}

// --- interpolation ----------------------------------------------------------

namespace {

StateRecord with_wheel(uint8_t front) {
  StateRecord r = encode_state(resting_state(), MODEL, TEST_SCALE, nullptr);
  r.bytes[34] = front;
  return r;
}

StateRecord facing(double yaw, bool negate) {
  BikeState s = resting_state();
  DQuat q = quat_axis_angle(DVec{0, 1, 0}, yaw);
  if (negate) q = DQuat{-q.w, -q.x, -q.y, -q.z};
  s.orientation[0] = q;
  return encode_state(s, MODEL, TEST_SCALE, nullptr);
}

double yaw_of(const StateRecord& r) {
  DQuat q = decode_state(r, MODEL, TEST_SCALE).orientation[0];
  if (q.w < 0) q = DQuat{-q.w, -q.x, -q.y, -q.z};
  return 2 * std::atan2(q.y, q.w);
}

}  // namespace

TEST(Interpolation, WheelSpinMovesForwardThroughTheWrap) {
  // 0.95 to 0.05 of a turn: forward through 1.0, never back through 0.5.
  StateRecord a = with_wheel((uint8_t)std::floor(0.95 * 255)), b = with_wheel((uint8_t)std::floor(0.05 * 255));
  uint8_t quarter = interpolate_records(a, b, 0.25, 5).bytes[34];
  uint8_t three_quarters = interpolate_records(a, b, 0.75, 5).bytes[34];
  EXPECT_GE(quarter, 245);
  EXPECT_LE(three_quarters, 5);
  // A small step backwards across the wrap stays small too.
  uint8_t back = interpolate_records(b, a, 0.5, 5).bytes[34];
  EXPECT_TRUE(back >= 250 || back <= 5) << (int)back;
  // Plain forward motion is linear.
  EXPECT_EQ(interpolate_records(with_wheel(100), with_wheel(140), 0.5, 5).bytes[34], 120);
}

TEST(Interpolation, QuaternionsOfOppositeSignTakeTheShortWay) {
  StateRecord a = facing(0.2, false), b = facing(0.6, true);
  EXPECT_NEAR(yaw_of(interpolate_records(a, b, 0.5, 5)), 0.4, 2e-3);
  EXPECT_NEAR(yaw_of(interpolate_records(a, b, 0.25, 5)), 0.3, 3e-3);
  // Past b the orientation stays at b.
  EXPECT_NEAR(yaw_of(interpolate_records(a, b, 3.0, 5)), 0.6, 1e-3);
}

TEST(Interpolation, FramePositionAloneIsExtrapolated) {
  BikeState s0 = resting_state(), s1 = resting_state();
  s1.position[0].x += 4;
  s1.position[STATE_RIDER].x += 4;
  s1.steering = 0.3;
  s1.gear = 2;
  StateRecord a = encode_state(s0, MODEL, TEST_SCALE, nullptr), b = encode_state(s1, MODEL, TEST_SCALE, nullptr);
  StateRecord r = interpolate_records(a, b, 2.5, 5);
  BikeState d = decode_state(r, MODEL, TEST_SCALE);
  EXPECT_NEAR(d.position[0].x, 1024 + 10, 1e-3);
  EXPECT_NEAR(d.steering, decode_state(b, MODEL, TEST_SCALE).steering, 1e-12);
  EXPECT_EQ(r.bytes[36], b.bytes[36]);  // extrapolated: b's gear and throttle
  EXPECT_EQ(interpolate_records(a, b, 0.5, 5).bytes[36], a.bytes[36]);
  // Extrapolation stops at the track's edge.
  s1.position[0].x = 2047;
  b = encode_state(s1, MODEL, TEST_SCALE, nullptr);
  EXPECT_EQ(field(interpolate_records(a, b, 4, 5), 0, 3), 0xFFFFFFu);
}

TEST(Interpolation, MarksTheResultAndLeavesVersionFourAndZeroAlone) {
  StateRecord a = facing(0.1, false), b = facing(0.5, false);
  ASSERT_TRUE(record_sampled(a));
  EXPECT_FALSE(record_sampled(interpolate_records(a, b, 0.5, 5)));
  EXPECT_FALSE(record_sampled(interpolate_records(a, b, 1.0, 6)));
  StateRecord same = interpolate_records(a, b, 0.0, 5);
  EXPECT_EQ(memcmp(same.bytes, a.bytes, sizeof a.bytes), 0);
  StateRecord old = interpolate_records(a, b, 0.7, 4);
  EXPECT_EQ(memcmp(old.bytes, a.bytes, sizeof a.bytes), 0);
  StateRecord nan = interpolate_records(a, b, std::numeric_limits<double>::quiet_NaN(), 5);
  EXPECT_EQ(memcmp(nan.bytes, a.bytes, sizeof a.bytes), 0);
}
