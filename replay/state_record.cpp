#include "replay/state_record.h"

#include <nettle/sha2.h>

#include <cmath>
#include <cstring>

namespace {

constexpr double PI = PI_D;
constexpr double RIDER_OFFSET_LIMIT = 16.0;
constexpr double RPM_LIMIT = 32768.0;
constexpr double RPM_PER_RAD_S = 9.549296585513721;

uint32_t max_raw(int bytes) { return bytes >= 4 ? 0xFFFFFFFFu : (1u << (8 * bytes)) - 1u; }

uint32_t get_le(const uint8_t* p, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; i--) v = (v << 8) | p[i];
  return v;
}

void put_le(uint8_t* p, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; i++) p[i] = (uint8_t)(v >> (8 * i));
}

// Fraction 0..1 of a stored field.
double fraction_of(uint32_t raw, int bytes) { return (double)raw / (double)max_raw(bytes); }
void put_quantised(uint8_t* p, double value, double lo, double hi, int bytes) {
  put_le(p, quantise(value, lo, hi, bytes), bytes);
}
double get_quantised(const uint8_t* p, double lo, double hi, int bytes) {
  return dequantise(get_le(p, bytes), lo, hi, bytes);
}

void put_quat(uint8_t* p, DQuat q) {
  put_quantised(p + 0, q.w, -1, 1, 2);
  put_quantised(p + 2, q.x, -1, 1, 2);
  put_quantised(p + 4, q.y, -1, 1, 2);
  put_quantised(p + 6, q.z, -1, 1, 2);
}
DQuat get_quat(const uint8_t* p) {
  DQuat q{get_quantised(p + 0, -1, 1, 2), get_quantised(p + 2, -1, 1, 2), get_quantised(p + 4, -1, 1, 2),
          get_quantised(p + 6, -1, 1, 2)};
  return quat_normalized(q);
}

// Short-way blend of two stored quaternions; f is at most 1 here.
void blend_quat(uint8_t* out, const uint8_t* a, const uint8_t* b, double f) {
  DQuat qa = get_quat(a), qb = get_quat(b);
  if (qa.w * qb.w + qa.x * qb.x + qa.y * qb.y + qa.z * qb.z < 0) qa = DQuat{-qa.w, -qa.x, -qa.y, -qa.z};
  DQuat q{qa.w + (qb.w - qa.w) * f, qa.x + (qb.x - qa.x) * f, qa.y + (qb.y - qa.y) * f, qa.z + (qb.z - qa.z) * f};
  put_quat(out, quat_normalized(q));
}

// Lerp of the stored fractions, clamped to 0..1 and stored again. Working on
// the raw integers is the same arithmetic without the round trip through a
// fraction, which could land a hair under a whole step and lose it.
void blend_field(uint8_t* out, const uint8_t* a, const uint8_t* b, int bytes, double f) {
  double x = get_le(a, bytes), y = get_le(b, bytes);
  double v = x + (y - x) * f;
  double top = max_raw(bytes);
  uint32_t raw = !(v > 0) ? 0u : (v >= top ? max_raw(bytes) : (uint32_t)std::floor(v));
  put_le(out, raw, bytes);
}

// Wheel spin as a fraction of a turn that only moves forward (increasing),
// through the wrap from 1 back to 0; in 255ths of a turn.
uint8_t blend_wheel(uint8_t a, uint8_t b, double f) {
  double x = a, y = b;
  if (y < x - 0.125 * 255) {
    x -= 255;
  } else if (y > x + 0.875 * 255) {
    y -= 255;
  }
  double v = x + (y - x) * f;
  if (v < 0) v += 255;
  if (!(v > 0)) v = 0;
  if (v > 255) v = 255;
  return (uint8_t)std::floor(v);
}

int clamp_int(double v, int lo, int hi) {
  if (!(v >= lo)) return lo;  // also NaN
  if (v > hi) return hi;
  return (int)v;
}

}  // namespace

uint32_t quantise(double value, double lo, double hi, int bytes) {
  if (!(hi > lo)) return 0;  // an empty range (a flat track's heights) stores its only value
  if (!(value > lo)) return 0;
  if (value >= hi) return max_raw(bytes);
  double raw = std::floor((value - lo) / (hi - lo) * (double)max_raw(bytes));
  if (raw >= (double)max_raw(bytes)) return max_raw(bytes);
  return (uint32_t)raw;
}

double dequantise(uint32_t raw, double lo, double hi, int bytes) {
  return (double)raw / (double)max_raw(bytes) * (hi - lo) + lo;
}

RecordModel default_record_model() {
  RecordModel m;
  m.fork_travel = 1.0;
  m.swingarm_travel = 0.530304;
  const float ratios[STATE_GEARS] = {1.8f, 1.471f, 1.235f, 1.05f, 0.9091f, -1.0f};
  memcpy(m.gear_ratio, ratios, sizeof ratios);
  // Rider build position (0, 4.5, 4.12) less the frame's (0, 1.98, 3.6),
  // lowered by 2/3 ft or raised by 1/2 ft.
  m.rider_low = DVec{0, 2.52 - 2.0 / 3.0, 0.52};
  m.rider_high = DVec{0, 2.52 + 0.5, 0.52};
  return m;
}

IntegrityValue make_integrity_value(const void* bytes, size_t size) {
  IntegrityValue v;
  sha256_ctx ctx;
  sha256_init(&ctx);
  sha256_update(&ctx, size, static_cast<const uint8_t*>(bytes));
  sha256_digest(&ctx, sizeof v.bits, v.bits);
  return v;
}

uint8_t encode_state_byte(int gear, float throttle, bool braking, int crash_timer) {
  if (crash_timer > 0) {
    long c = crash_timer > 1000000 ? 1000000 : crash_timer;
    long high = (c * 15 - 15) / 127;
    if (high > 15) high = 15;
    return (uint8_t)(7 | (high << 4));
  }
  int g = gear < 0 ? 0 : (gear > 6 ? 6 : gear);
  int t = clamp_int(std::trunc((double)throttle * 15.0), 0, 15);
  return (uint8_t)(g | (braking ? 8 : 0) | (t << 4));
}

DecodedStateByte decode_state_byte(uint8_t byte, const float gear_ratio[STATE_GEARS]) {
  DecodedStateByte d{0, 0.0f, false, 0};
  int low = byte & 7, high = byte >> 4;
  if (low == 7) {
    d.crash_timer = high * 127 / 15 + 1;
    return d;
  }
  int g = low > 5 ? 5 : low;
  while (g > 0 && !(gear_ratio[g] > 0)) g--;
  d.gear = g;
  d.throttle = (float)high / 15.0f;
  d.braking = (byte & 8) != 0;
  return d;
}

StateRecord encode_state(const BikeState& s, const RecordModel& model, const RecordScale& scale,
                         const IntegrityValue* integrity) {
  StateRecord r;
  uint8_t* p = r.bytes;
  const DVec& frame = s.position[STATE_FRAME];
  put_quantised(p + 0, frame.x, 0, scale.size, 3);
  put_quantised(p + 3, frame.y, scale.low, scale.low + scale.range, 3);
  put_quantised(p + 6, frame.z, 0, scale.size, 3);
  put_quat(p + 9, s.orientation[STATE_FRAME]);
  put_quantised(p + 17, s.steering, -PI / 4, PI / 4, 1);
  p[18] = (uint8_t)((quantise(s.fork, -model.fork_travel, 0, 1) & ~1u) | 1u);
  uint8_t swingarm = (uint8_t)(quantise(s.swingarm, -model.swingarm_travel, 0, 1) & ~1u);
  DVec rider = s.position[STATE_RIDER] - frame;
  put_quantised(p + 20, rider.x, -RIDER_OFFSET_LIMIT, RIDER_OFFSET_LIMIT, 2);
  put_quantised(p + 22, rider.y, -RIDER_OFFSET_LIMIT, RIDER_OFFSET_LIMIT, 2);
  put_quantised(p + 24, rider.z, -RIDER_OFFSET_LIMIT, RIDER_OFFSET_LIMIT, 2);
  put_quat(p + 26, s.orientation[STATE_RIDER]);
  put_quantised(p + 34, s.front_spin, -PI, PI, 1);
  put_quantised(p + 35, s.rear_spin, -PI, PI, 1);
  p[36] = encode_state_byte(s.gear, s.throttle, s.front_brake > 0 || s.rear_brake > 0, s.crash_timer);
  put_quantised(p + 37, s.engine_speed * RPM_PER_RAD_S, 0, RPM_LIMIT, 2);
  p[19] = swingarm;
  if (integrity) p[19] |= (uint8_t)expected_integrity_bit(*integrity, r);
  return r;
}

BikeState decode_state(const StateRecord& r, const RecordModel& model, const RecordScale& scale) {
  const uint8_t* p = r.bytes;
  BikeState s{};
  DVec frame = record_frame_position(r, scale);
  DQuat qf = get_quat(p + 9);
  for (int i = 0; i < STATE_BODIES; i++) {
    s.position[i] = frame;
    s.orientation[i] = qf;
  }
  s.steering = get_quantised(p + 17, -PI / 4, PI / 4, 1);
  s.fork = get_quantised(p + 18, -model.fork_travel, 0, 1);
  s.swingarm = get_quantised(p + 19, -model.swingarm_travel, 0, 1);
  DVec rider{get_quantised(p + 20, -RIDER_OFFSET_LIMIT, RIDER_OFFSET_LIMIT, 2),
             get_quantised(p + 22, -RIDER_OFFSET_LIMIT, RIDER_OFFSET_LIMIT, 2),
             get_quantised(p + 24, -RIDER_OFFSET_LIMIT, RIDER_OFFSET_LIMIT, 2)};
  s.position[STATE_RIDER] = frame + rider;
  s.orientation[STATE_RIDER] = get_quat(p + 26);
  s.front_spin = get_quantised(p + 34, -PI, PI, 1);
  s.rear_spin = get_quantised(p + 35, -PI, PI, 1);
  DecodedStateByte d = decode_state_byte(p[36], model.gear_ratio);
  s.gear = d.gear;
  s.throttle = d.throttle;
  s.front_brake = s.rear_brake = d.braking ? 1.0f : 0.0f;
  s.crash_timer = d.crash_timer;
  s.engine_speed = fraction_of(get_le(p + 37, 2), 2) * RPM_LIMIT * PI / 30.0;
  s.sampled = record_sampled(r);
  return s;
}

DVec record_frame_position(const StateRecord& r, const RecordScale& scale) {
  return DVec{get_quantised(r.bytes + 0, 0, scale.size, 3),
              get_quantised(r.bytes + 3, scale.low, scale.low + scale.range, 3),
              get_quantised(r.bytes + 6, 0, scale.size, 3)};
}

StateRecord convert_old_record(const OldStateRecord& old, const RecordModel& model) {
  StateRecord r;
  const uint8_t* o = old.bytes;
  memcpy(r.bytes, o, 20);
  double f = o[20] / 255.0;
  DVec local = model.rider_low + (model.rider_high - model.rider_low) * f;
  DVec offset = quat_rotate(get_quat(o + 9), local);
  put_quantised(r.bytes + 20, offset.x, -RIDER_OFFSET_LIMIT, RIDER_OFFSET_LIMIT, 2);
  put_quantised(r.bytes + 22, offset.y, -RIDER_OFFSET_LIMIT, RIDER_OFFSET_LIMIT, 2);
  put_quantised(r.bytes + 24, offset.z, -RIDER_OFFSET_LIMIT, RIDER_OFFSET_LIMIT, 2);
  memcpy(r.bytes + 26, o + 9, 8);  // the rider sat rigidly on the frame
  r.bytes[34] = o[21];
  r.bytes[35] = o[22];
  r.bytes[36] = o[23];
  r.bytes[37] = o[24];
  r.bytes[38] = o[25];
  return r;
}

StateRecord interpolate_records(const StateRecord& a, const StateRecord& b, double f, int demo_version) {
  if (f == 0 || demo_version == 4 || std::isnan(f)) return a;
  StateRecord r;
  uint8_t* out = r.bytes;
  const uint8_t* pa = a.bytes;
  const uint8_t* pb = b.bytes;
  // The frame position alone is extrapolated.
  for (int axis = 0; axis < 3; axis++) blend_field(out + 3 * axis, pa + 3 * axis, pb + 3 * axis, 3, f);
  double g = f > 1 ? 1 : f;
  blend_quat(out + 9, pa + 9, pb + 9, g);
  for (int i = 17; i <= 19; i++) blend_field(out + i, pa + i, pb + i, 1, g);
  for (int axis = 0; axis < 3; axis++) blend_field(out + 20 + 2 * axis, pa + 20 + 2 * axis, pb + 20 + 2 * axis, 2, g);
  blend_quat(out + 26, pa + 26, pb + 26, g);
  out[34] = blend_wheel(pa[34], pb[34], g);
  out[35] = blend_wheel(pa[35], pb[35], g);
  // Gear, throttle and crash state change at b's tick: before it they are
  // a's, and once past b (extrapolating) they are b's.
  out[36] = f < 1 ? pa[36] : pb[36];
  blend_field(out + 37, pa + 37, pb + 37, 2, g);
  out[18] &= (uint8_t)~1u;
  out[19] = (uint8_t)((out[19] & ~1u) | (pa[19] & 1u));
  return r;
}
