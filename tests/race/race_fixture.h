// Race tests' tracks and race set-up: a flat 512 ft track written with the
// track writers into a scratch data directory, with a row of starting gates
// and a four-checkpoint loop, and a race on g_track with the world created.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

#include "bike/bike.h"
#include "race/race.h"
#include "tests/track/track_fixture.h"
#include "tests/track/track_test_util.h"
#include "track/terrain.h"
#include "track/timing_gates.h"
#include "track/track.h"

constexpr int FIXTURE_EXPONENT = 6;     // 129 x 129 vertices
constexpr float FIXTURE_SPACING = 4.0f;  // 512 ft a side

// The loop: checkpoint 0 ahead of the gates, then round anticlockwise seen
// from above. Checkpoint 2 opens diagonally so a restart there has a heading
// off the axes.
inline const Checkpoint FIXTURE_CHECKPOINTS[4] = {
    {{256, 0, 220}, {0, 0, -1}, 20, false},
    {{420, 0, 120}, {1, 0, 0}, 20, false},
    {{256, 0, 40}, {-1, 0, -1}, 20, false},
    {{90, 0, 120}, {-1, 0, 0}, 20, false},
};

// Writes track `name`: flat ground at height 0, `gate_count` starting gates
// 4 ft apart at z = 300 facing -z, and (when timed) the loop of four
// checkpoints with first lap 0 1 2 3 and normal lap 0 1 2 3.
inline void write_race_track(const ScratchData& data, const std::string& name, int gate_count, bool timed = true) {
  build_fixture_track(data, name, false, FIXTURE_EXPONENT);
  Terrain flat;
  init_flat_terrain(&flat, FIXTURE_EXPONENT, FIXTURE_SPACING, 0.0f);
  write_terrain(flat, name.c_str());
  free_terrain(&flat);
  TimingGates gates;
  clear_timing_gates(&gates);
  for (int g = 0; g < gate_count; g++)
    gates.starting_gates.push_back(StartingGate{{236.0f + 4.0f * (float)g, 0, 300}, 0.0f, DEFAULT_START_GATE_MODEL,
                                                DEFAULT_START_GATE_TEXTURE, DEFAULT_START_GATE_SHAPE});
  if (timed) {
    for (const Checkpoint& c : FIXTURE_CHECKPOINTS) gates.checkpoints.push_back(c);
    gates.sequence = {0, 1, 2, 3, 0, 1, 2, 3};
    gates.first_lap = gates.normal_lap = 4;
  }
  write_timing_gates(gates, name.c_str());
  invalidate_catalogue();
}

// A point one foot inside a checkpoint's half-disc.
inline Vec3 inside_checkpoint(int k) {
  const Checkpoint& c = FIXTURE_CHECKPOINTS[k];
  float l = std::sqrt(c.direction.x * c.direction.x + c.direction.z * c.direction.z);
  return Vec3{c.point.x + c.direction.x / l, 0, c.point.z + c.direction.z / l};
}

inline std::vector<int> lineup_of(std::initializer_list<int> codes) {
  std::vector<int> lineup(MAX_BIKES, LINEUP_EMPTY);
  int s = 0;
  for (int code : codes) lineup[(size_t)s++] = code;
  return lineup;
}

class RaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    create_bike_world();
    race = std::make_unique<Race>();
    init_race(race.get());
    race->ground_method = GROUND_SOFTWARE;
  }
  void TearDown() override {
    free_race(race.get());
    deallocate_track(&g_track);
    destroy_bike_world();
  }

  bool reset(const std::vector<int>* lineup, int time_limit = 0, int laps = 3, const char* track = "flat") {
    RaceSetup setup = {track, lineup ? lineup->data() : nullptr, false, false, time_limit, laps, 0};
    return reset_race(race.get(), setup);
  }
  void steps(int n) {
    for (int i = 0; i < n; i++) race_step(race.get());
  }
  // Puts a bike inside checkpoint k and runs a step, so its gate step sees it there.
  void visit(int slot, int k) {
    place_bike(race->bikes[slot], inside_checkpoint(k), 0.0f);
    race_step(race.get());
  }
  Vec3 frame(int slot) const {
    DVec p = body_position(*race->bikes[slot], BODY_FRAME);
    return Vec3{(float)p.x, (float)p.y, (float)p.z};
  }

  LogCapture log;  // before the scratch data: the log file stays outside it
  ScratchData data;
  std::unique_ptr<Race> race;
};
