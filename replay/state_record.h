// The compact state record of one bike: the 39-byte quantised form that the
// state history, demo files and the network carry, the older 26-byte form of
// the first demo files, the plain BikeState they are encoded from and decoded
// to, and the interpolation between two records.
//
// Layout (little-endian; a quantised field of n bytes maps lo..hi onto
// 0 .. 2^(8n)-1, rounding down):
//   0-8    frame position x, y, z       3 x u24  x, z over [0, track size],
//                                                 y over [low, low + range]
//   9-16   frame quaternion w, x, y, z   4 x u16  over [-1, 1]
//   17     steering angle                u8       [-pi/4, pi/4]
//   18     fork slider position          u8       [-fork travel, 0], bit 0: sampled
//   19     swingarm angle                u8       [-swingarm travel, 0], bit 0: integrity
//   20-25  rider minus frame position    3 x u16  over [-16, 16]
//   26-33  rider quaternion              4 x u16  over [-1, 1]
//   34, 35 front, rear wheel spin        u8       [-pi, pi]
//   36     state byte                    u8       gear, brake, throttle or crash timer
//   37-38  engine speed                  u16      rpm over [0, 32768]
#pragma once

#include <cstdint>

#include "bike/bike_math.h"

constexpr int STATE_RECORD_BYTES = 39;
constexpr int OLD_STATE_RECORD_BYTES = 26;
constexpr int STATE_BODIES = 7;  // frame, front wheel, rear wheel, fork upper, fork lower, swingarm, rider
constexpr int STATE_FRAME = 0;
constexpr int STATE_RIDER = 6;
constexpr int STATE_GEARS = 6;

struct StateRecord {
  uint8_t bytes[STATE_RECORD_BYTES];
};

// Demo files of version 4: bytes 0-19 as above, then the rider's height as a
// fraction between the model's two rider positions, both wheel spins, the
// state byte and the engine speed.
struct OldStateRecord {
  uint8_t bytes[OLD_STATE_RECORD_BYTES];
};

// What the record carries about a bike, in plain numbers. The bike fills it
// from its bodies and joints and is posed from it; bodies 1-5 are not in the
// record and are rebuilt by the bike from the frame pose and the joint values.
struct BikeState {
  DVec position[STATE_BODIES];
  DQuat orientation[STATE_BODIES];
  double steering;    // steering hinge angle, rad
  double fork;        // fork slider position, ft (0 extended, negative compressed)
  double swingarm;    // swingarm hinge angle, rad (0 extended, negative compressed)
  double front_spin;  // front axle hinge angle, rad in [-pi, pi]
  double rear_spin;   // rear axle hinge angle, rad in [-pi, pi]
  double engine_speed;      // crank angular speed, rad/s
  double drivetrain_angle;  // not carried: decoding leaves it 0
  int gear;                 // 0 = first
  float throttle, front_brake, rear_brake;  // 0..1; decoding sets both brakes to the brake flag
  int crash_timer;          // ticks, 0 while riding
  bool sampled;             // decoded: the record came from a live bike, not from interpolation
};

// The quantisation ranges of the loaded track. Take them right after the
// track load, before riding deforms the terrain: deformation widens the
// terrain's height range, and every record of a race, and every peer, must
// decode against the same numbers.
struct RecordScale {
  double size;        // the terrain's edge length, ft
  double low;         // lowest height as loaded, ft
  double range;       // highest minus lowest, ft
};

// What a record needs of the bike's model.
struct RecordModel {
  double fork_travel;               // ft
  double swingarm_travel;           // rad
  float gear_ratio[STATE_GEARS];    // a ratio that is not positive marks a missing gear
  // The two rider positions of the old 26-byte record, as offsets from the
  // frame body in the frame's own axes: fraction 0 and fraction 1.
  DVec rider_low, rider_high;
};

// The geometry every model shares (and a five-speed gearbox); used where no
// bike is at hand, such as the riders of an old demo before their bikes exist.
RecordModel default_record_model();

// The client's 256-bit integrity value; the record carries one bit of it,
// chosen by the low byte of the engine-speed field.
struct IntegrityValue {
  uint8_t bits[32];
};
// The value formed from the bytes the client vouches for (its bike model
// record, its setup, the fixed shapes, ...): their SHA-256 digest.
IntegrityValue make_integrity_value(const void* bytes, size_t size);
// The integrity bit a record carries (bit 0 of byte 19).
inline int record_integrity_bit(const StateRecord& r) { return r.bytes[19] & 1; }
// The bit of the value that a record with this engine-speed field must carry.
inline int expected_integrity_bit(const IntegrityValue& value, const StateRecord& r) {
  int n = r.bytes[37];
  return (value.bits[n >> 3] >> (n & 7)) & 1;
}

// --- encoding and decoding -------------------------------------------------------

// A record of a live bike: the sampled marker is set. integrity may be null
// (the bit is then 0).
StateRecord encode_state(const BikeState& state, const RecordModel& model, const RecordScale& scale,
                         const IntegrityValue* integrity);
// Fills position/orientation of the frame (0) and the rider (6), the joint
// values and the dynamic fields; bodies 1-5 are left as identity at the frame.
BikeState decode_state(const StateRecord& record, const RecordModel& model, const RecordScale& scale);

// The 39-byte record an old one stands for: rider at its interpolated place
// on the frame, turned with the frame.
StateRecord convert_old_record(const OldStateRecord& old, const RecordModel& model);

// State byte.
uint8_t encode_state_byte(int gear, float throttle, bool braking, int crash_timer);
struct DecodedStateByte {
  int gear;
  float throttle;
  bool braking;
  int crash_timer;  // 0 unless crashed
};
DecodedStateByte decode_state_byte(uint8_t byte, const float gear_ratio[STATE_GEARS]);

// Quantisation of one value (exposed for the tests and the interpolation).
uint32_t quantise(double value, double lo, double hi, int bytes);
double dequantise(uint32_t raw, double lo, double hi, int bytes);

inline bool record_sampled(const StateRecord& r) { return r.bytes[18] & 1; }

// The record between a and b at factor f (f may exceed 1 to extrapolate the
// frame position; everything else stops at b). f == 0 and records of a
// version-4 demo give a unchanged. The result's sampled marker is clear.
StateRecord interpolate_records(const StateRecord& a, const StateRecord& b, double f, int demo_version);

// Decoded frame position of a record (the round-trip checks use it).
DVec record_frame_position(const StateRecord& r, const RecordScale& scale);
