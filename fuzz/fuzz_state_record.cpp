// Records from arbitrary bytes: decoding (both layouts), interpolation and
// extrapolation in every demo version, and a history fed and replayed from
// the same bytes. Every decoded number must be finite and every quaternion
// unit length.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "replay/history.h"
#include "replay/state_record.h"

namespace {

void check(const BikeState& s) {
  for (int i = 0; i < STATE_BODIES; i++) {
    const DVec& p = s.position[i];
    const DQuat& q = s.orientation[i];
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) __builtin_trap();
    double n = q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z;
    if (!(std::fabs(n - 1) < 1e-9)) __builtin_trap();
  }
  if (!std::isfinite(s.steering) || !std::isfinite(s.engine_speed) || s.engine_speed < 0) __builtin_trap();
  if (s.gear < 0 || s.gear > 5 || s.crash_timer < 0 || s.crash_timer > 128) __builtin_trap();
}

StateHistory g_history;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 * STATE_RECORD_BYTES + OLD_STATE_RECORD_BYTES + 8) return 0;
  StateRecord a, b;
  OldStateRecord old;
  double f;
  memcpy(a.bytes, data, STATE_RECORD_BYTES);
  memcpy(b.bytes, data + STATE_RECORD_BYTES, STATE_RECORD_BYTES);
  memcpy(old.bytes, data + 2 * STATE_RECORD_BYTES, OLD_STATE_RECORD_BYTES);
  memcpy(&f, data + 2 * STATE_RECORD_BYTES + OLD_STATE_RECORD_BYTES, sizeof f);
  const uint8_t* rest = data + 2 * STATE_RECORD_BYTES + OLD_STATE_RECORD_BYTES + 8;
  size_t left = size - (2 * STATE_RECORD_BYTES + OLD_STATE_RECORD_BYTES + 8);

  const RecordModel model = default_record_model();
  const RecordScale scale{2048, -30, 300};
  check(decode_state(a, model, scale));
  check(decode_state(convert_old_record(old, model), model, scale));
  for (int version = 4; version <= 6; version++) {
    StateRecord r = interpolate_records(a, b, f, version);
    check(decode_state(r, model, scale));
    if (version > 4 && f != 0 && f == f && (r.bytes[18] & 1)) __builtin_trap();
  }
  // Re-encoding a decoded record lands within a step of every field.
  StateRecord again = encode_state(decode_state(a, model, scale), model, scale, nullptr);
  check(decode_state(again, model, scale));

  // The rest drives a history: (tick, which record) pairs, then replays.
  clear_history(&g_history);
  for (size_t i = 0; i + 3 <= left; i += 3) {
    int tick = rest[i] | rest[i + 1] << 8;
    add_state(&g_history, rest[i + 2] & 1 ? a : b, tick);
    if (g_history.unsaved < 0 || g_history.unsaved > HISTORY_ENTRIES) __builtin_trap();
  }
  for (int tick = -8; tick < 70000; tick += 251) {
    ReplayChoice c;
    if (choose_replay_record(g_history, tick, 5, &c)) {
      check(decode_state(c.record, model, scale));
      if (c.span < 1) __builtin_trap();
    }
  }
  return 0;
}
