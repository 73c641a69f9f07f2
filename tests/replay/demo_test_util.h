// Building demo files byte by byte for the reader tests, and recording
// synthetic riders through the real writer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "replay/demo.h"
#include "replay_test_util.h"

inline void append32(std::string* out, uint32_t v) {
  for (int i = 0; i < 4; i++) out->push_back((char)(v >> (8 * i)));
}

inline std::string record_bytes(const StateRecord& r) {
  return std::string(reinterpret_cast<const char*>(r.bytes), STATE_RECORD_BYTES);
}

// Chunks in order, with the XOR links filled in.
struct ChunkWriter {
  std::string bytes;
  uint32_t previous = 0;
  std::vector<size_t> starts;  // offsets of each chunk within bytes
  void chunk(int tick, int type, const std::string& payload) {
    starts.push_back(bytes.size());
    append32(&bytes, previous ^ (uint32_t)payload.size());
    append32(&bytes, (uint32_t)tick);
    bytes.push_back((char)type);
    bytes += payload;
    previous = (uint32_t)payload.size();
  }
  static std::string entry(int ordinal, int tick, const StateRecord& r) {
    std::string e(1, (char)ordinal);
    append32(&e, (uint32_t)tick);
    return e + record_bytes(r);
  }
};

inline std::string v6_header(int riders, int gate = 1792, const std::string& extra = "") {
  std::string h = "DV06 " + std::to_string(riders) + " 0 3 " + std::to_string(gate) + "\ntesttrack\n";
  for (int i = 0; i < riders; i++) {
    h += "crf450(2016)|gear" + std::to_string(i) + "|bike|wheels|helmet\n" + std::to_string(10 + i) +
         "\nRider " + std::to_string(i) + "\n" + extra + "\n";
  }
  return h;
}

// The record of synthetic rider r at a tick.
inline StateRecord synthetic_record(int rider, int tick) {
  return encode_state(synthetic_state(rider, tick), default_record_model(), TEST_SCALE, nullptr);
}

inline int decoded_tag(const StateRecord& r) {
  return (int)std::lround(record_frame_position(r, TEST_SCALE).x - 100);
}

// A record tagged by its frame x (100 + tag, tags up to 1900), for following
// entries through a file.
inline StateRecord tag_record(int tag) {
  BikeState s = synthetic_state(0, 0);
  s.position[0].x = 100 + tag;
  return encode_state(s, default_record_model(), TEST_SCALE, nullptr);
}

inline void unmapped(DemoPlayer* p) {
  for (int& s : p->slot) s = -1;
}
