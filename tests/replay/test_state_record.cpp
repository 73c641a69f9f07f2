// The 39-byte record: its byte layout, the round trip through the
// quantisation, clamping, the state byte, the flag bits, the old 26-byte
// form and the interpolation rules.
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

BikeState resting(double yaw = 0) {
  BikeState s{};
  DQuat q = quat_axis_angle(DVec{0, 1, 0}, yaw);
  for (int i = 0; i < STATE_BODIES; i++) {
    s.position[i] = DVec{1024, 70, 512};
    s.orientation[i] = q;
  }
  s.position[STATE_RIDER] = DVec{1024, 72.5, 512.5};
  return s;
}

StateRecord encode(const BikeState& s) { return encode_state(s, MODEL, TEST_SCALE, nullptr); }

double yaw_of(const StateRecord& r) {
  DQuat q = decode_state(r, MODEL, TEST_SCALE).orientation[0];
  return 2 * std::atan2(q.w < 0 ? -q.y : q.y, std::fabs(q.w));
}

}  // namespace

TEST(StateRecord, FieldsSitAtTheirOffsetsLittleEndian) {
  BikeState s = resting();
  s.steering = PI_D / 4;  // top of its range
  s.fork = -1;            // raw 0, then the sampled marker
  s.swingarm = 0;         // raw 255 with bit 0 cleared (no integrity value)
  s.front_spin = -PI_D;
  s.rear_spin = PI_D;
  s.engine_speed = 16384 / 9.549296585513721;
  StateRecord r = encode(s);
  EXPECT_EQ(field(r, 0, 3), 0x7FFFFFu);  // half the track
  EXPECT_EQ(field(r, 3, 3), (uint32_t)std::floor(0.5 * 16777215));
  EXPECT_EQ(field(r, 6, 3), (uint32_t)std::floor(0.25 * 16777215));
  EXPECT_EQ(field(r, 9, 2), 0xFFFFu);  // w = 1; x, y, z = 0 round down to the middle
  EXPECT_EQ(field(r, 11, 2), 0x7FFFu);
  const uint8_t bytes_17_to_19[] = {255, 1, 254};
  EXPECT_EQ(memcmp(r.bytes + 17, bytes_17_to_19, 3), 0);
  EXPECT_EQ(field(r, 20, 2), 0x7FFFu);
  EXPECT_EQ(field(r, 22, 2), (uint32_t)std::floor(18.5 / 32 * 65535));  // rider 2.5 ft up
  EXPECT_EQ(field(r, 24, 2), (uint32_t)std::floor(16.5 / 32 * 65535));
  EXPECT_EQ(field(r, 26, 2), 0xFFFFu);
  EXPECT_EQ(r.bytes[34], 0);
  EXPECT_EQ(r.bytes[35], 255);
  EXPECT_EQ(r.bytes[36], 0);
  EXPECT_EQ(field(r, 37, 2), 0x7FFFu);
}

TEST(StateRecord, DecodesEveryCarriedFieldWithinOneQuantisationStep) {
  for (int rider = 0; rider < 5; rider++) {
    for (int tick = 0; tick < 2400; tick += 37) {
      BikeState want = synthetic_state(rider, tick);
      BikeState got = decode_state(encode(want), MODEL, TEST_SCALE);
      expect_state_near(want, got, MODEL, TEST_SCALE, "decode");
      EXPECT_TRUE(got.sampled);
    }
  }
}

TEST(StateRecord, OutOfRangeValuesClampSafely) {
  BikeState s = resting();
  s.engine_speed = 40000 / 9.549296585513721;  // above 32768 rpm
  s.position[0].x = -5;
  s.position[0].z = 1e30;
  s.steering = std::numeric_limits<double>::quiet_NaN();
  s.position[STATE_RIDER] = s.position[0] + DVec{40, 0, 0};  // thrown beyond 16 ft
  StateRecord r = encode(s);
  EXPECT_EQ(field(r, 37, 2), 0xFFFFu);
  EXPECT_EQ(field(r, 0, 3), 0u);
  EXPECT_EQ(field(r, 6, 3), 0xFFFFFFu);
  EXPECT_EQ(r.bytes[17], 0);
  EXPECT_EQ(field(r, 20, 2), 0xFFFFu);
  // A flat track has no height range: heights store its one value.
  RecordScale flat{2048, 12, 0};
  EXPECT_DOUBLE_EQ(record_frame_position(encode_state(s, MODEL, flat, nullptr), flat).y, 12);
}

TEST(StateRecord, StateByteCarriesGearBrakeThrottleOrTheCrashTimer) {
  const float five_speed[6] = {2, 1.6f, 1.3f, 1.1f, 1, -1};
  EXPECT_EQ(encode_state_byte(3, 0.5f, true, 0), 3 | 8 | (7 << 4));
  EXPECT_EQ(encode_state_byte(9, 2.0f, false, 0), 6 | (15 << 4));
  // Crash counter 1: low bits 7, high nibble 0, and back to 1.
  EXPECT_EQ(encode_state_byte(4, 1.0f, true, 1), 7);
  EXPECT_EQ(decode_state_byte(7, five_speed).crash_timer, 1);
  EXPECT_EQ(encode_state_byte(0, 0, false, 512), 0xF7);
  EXPECT_EQ(encode_state_byte(0, 0, false, 1 << 30), 0xF7);
  EXPECT_EQ(decode_state_byte(0xF7, five_speed).crash_timer, 128);
  DecodedStateByte d = decode_state_byte(3 | 8 | (7 << 4), five_speed);
  EXPECT_EQ(d.gear, 3);
  EXPECT_TRUE(d.braking);
  EXPECT_FLOAT_EQ(d.throttle, 7.0f / 15);
  EXPECT_EQ(d.crash_timer, 0);
  // A gear the box does not have decodes as its top gear.
  EXPECT_EQ(decode_state_byte(6, five_speed).gear, 4);
}

TEST(StateRecord, IntegrityBitFollowsTheEngineSpeedByte) {
  IntegrityValue value = make_integrity_value("dirtvane", 8);
  BikeState s = resting();
  int ones = 0;
  for (int rpm = 0; rpm < 32768; rpm += 61) {
    s.engine_speed = rpm / 9.549296585513721;
    StateRecord r = encode_state(s, MODEL, TEST_SCALE, &value);
    EXPECT_EQ(record_integrity_bit(r), expected_integrity_bit(value, r));
    EXPECT_EQ(r.bytes[19] & ~1, encode(s).bytes[19]);
    ones += record_integrity_bit(r);
  }
  EXPECT_GT(ones, 100);
  EXPECT_LT(ones, 437);
}

TEST(StateRecord, OldRecordPutsTheRiderOnTheTurnedFrame) {
  StateRecord modern = encode(resting(PI_D / 2));
  OldStateRecord old{};
  memcpy(old.bytes, modern.bytes, 20);
  const uint8_t tail[] = {255, 10, 20, 0x32, 0x34, 0x12};  // high seat, wheels, state, engine
  memcpy(old.bytes + 20, tail, 6);
  StateRecord r = convert_old_record(old, MODEL);
  EXPECT_EQ(memcmp(r.bytes, old.bytes, 20), 0);
  BikeState d = decode_state(r, MODEL, TEST_SCALE);
  DVec offset = d.position[STATE_RIDER] - d.position[STATE_FRAME];
  DVec want = quat_rotate(quat_axis_angle(DVec{0, 1, 0}, PI_D / 2), MODEL.rider_high);
  EXPECT_LT(length(offset - want), 1e-3);
  EXPECT_LT(angle_between(d.orientation[STATE_RIDER], d.orientation[STATE_FRAME]), 1e-6);
  const uint8_t moved[] = {10, 20, 0x32, 0x34, 0x12};
  EXPECT_EQ(memcmp(r.bytes + 34, moved, 5), 0);
}

TEST(Interpolation, WheelSpinMovesForwardThroughTheWrap) {
  StateRecord a = encode(resting()), b = a;
  a.bytes[34] = (uint8_t)std::floor(0.95 * 255);
  b.bytes[34] = (uint8_t)std::floor(0.05 * 255);
  EXPECT_GE(interpolate_records(a, b, 0.25, 5).bytes[34], 245);  // through 1.0, not back through 0.5
  EXPECT_LE(interpolate_records(a, b, 0.75, 5).bytes[34], 5);
  uint8_t back = interpolate_records(b, a, 0.5, 5).bytes[34];  // a small step backwards stays small
  EXPECT_TRUE(back >= 250 || back <= 5) << (int)back;
  a.bytes[34] = 100;
  b.bytes[34] = 140;
  EXPECT_EQ(interpolate_records(a, b, 0.5, 5).bytes[34], 120);
}

TEST(Interpolation, QuaternionsOfOppositeSignTakeTheShortWay) {
  BikeState turned = resting(0.6);
  for (DQuat& q : turned.orientation) q = DQuat{-q.w, -q.x, -q.y, -q.z};
  StateRecord a = encode(resting(0.2)), b = encode(turned);
  EXPECT_NEAR(yaw_of(interpolate_records(a, b, 0.5, 5)), 0.4, 2e-3);
  EXPECT_NEAR(yaw_of(interpolate_records(a, b, 3.0, 5)), 0.6, 1e-3);  // stops at b
}

TEST(Interpolation, OnlyTheFramePositionIsExtrapolated) {
  BikeState s0 = resting(), s1 = resting();
  s1.position[0].x += 4;
  s1.position[STATE_RIDER].x += 4;
  s1.steering = 0.3;
  s1.gear = 2;
  StateRecord a = encode(s0), b = encode(s1);
  StateRecord r = interpolate_records(a, b, 2.5, 5);
  EXPECT_NEAR(record_frame_position(r, TEST_SCALE).x, 1034, 1e-3);
  EXPECT_EQ(r.bytes[17], b.bytes[17]);
  EXPECT_EQ(r.bytes[36], b.bytes[36]);  // past b: b's gear and throttle
  EXPECT_EQ(interpolate_records(a, b, 0.5, 5).bytes[36], a.bytes[36]);
  s1.position[0].x = 2047;  // and stops at the track's edge
  EXPECT_EQ(field(interpolate_records(a, encode(s1), 4, 5), 0, 3), 0xFFFFFFu);
}

TEST(Interpolation, MarksTheResultAndLeavesVersionFourAndZeroAlone) {
  StateRecord a = encode(resting(0.1)), b = encode(resting(0.5));
  ASSERT_TRUE(record_sampled(a));
  EXPECT_FALSE(record_sampled(interpolate_records(a, b, 0.5, 5)));
  EXPECT_FALSE(record_sampled(interpolate_records(a, b, 1.0, 6)));
  for (StateRecord same : {interpolate_records(a, b, 0.0, 5), interpolate_records(a, b, 0.7, 4),
                           interpolate_records(a, b, std::numeric_limits<double>::quiet_NaN(), 5)}) {
    EXPECT_EQ(memcmp(same.bytes, a.bytes, sizeof a.bytes), 0);
  }
}
