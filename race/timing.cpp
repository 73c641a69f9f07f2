// The gate step, pass ticks, laps and stretch reference times.
#include "race/timing.h"

namespace {

// Offsets from the next gate tried each tick, in this order. The gate just
// passed (-1) is never tried, so standing in it changes nothing; -3 and -2
// let a rider go back for a gate missed just before.
const int CANDIDATE_OFFSETS[5] = {-3, -2, 0, 1, 2};

constexpr double NO_REFERENCE_TICKS = 60.0 * TICKS_PER_SECOND;

bool unpassed(const BikeTiming& timing, int gate) { return pass_tick(timing, gate) == -1; }

}  // namespace

void reset_bike_timing(BikeTiming* t) {
  t->gates_passed = 0;
  t->pass_ticks.clear();
  t->pass_ticks.reserve(16);
  t->finished = false;
}

int pass_tick(const BikeTiming& t, int gate) {
  if (gate < 0 || (size_t)gate >= t.pass_ticks.size()) return -1;
  return t.pass_ticks[(size_t)gate];
}

void set_pass_tick(BikeTiming* t, int gate, int tick) {
  if (gate < 0 || gate > MAX_GATE_INDEX) return;
  if ((size_t)gate >= t->pass_ticks.size()) t->pass_ticks.resize((size_t)gate + 1, -1);
  t->pass_ticks[(size_t)gate] = tick;
}

void set_gates_passed(BikeTiming* t, int count) {
  if (count < 0) count = 0;
  if (count > MAX_GATE_INDEX) count = MAX_GATE_INDEX;
  if (count < t->gates_passed) t->finished = false;
  t->gates_passed = count;
  if ((size_t)count < t->pass_ticks.size()) t->pass_ticks.resize((size_t)count);
}

LapState lap_state(const TimingGates& g, const BikeTiming& t) {
  if (!g.timed) return LapState{0, 0};
  const int p = t.gates_passed;
  // In the first lap the gates into the lap are simply the gates passed.
  if (p < g.first_lap) return LapState{0, p};
  return LapState{(p - g.first_lap) / g.normal_lap + 1, (p - g.first_lap) % g.normal_lap};
}

bool checkpoint_contains(const Checkpoint& c, float x, float z) {
  float dx = x - c.point.x;
  float dz = z - c.point.z;
  return c.radius * c.radius >= dx * dx + dz * dz && dx * c.direction.x + dz * c.direction.z >= 0;
}

bool passed_finishing_gate(const TimingGates& g, const BikeTiming& t, int laps) {
  return g.timed && pass_tick(t, finishing_gate(g, laps)) != -1;
}

GateStepResult gate_step(const TimingGates& g, BikeTiming* t, Vec3 position, int tick, const RaceProgress& race) {
  GateStepResult result{-1, false, false};
  if (!g.timed || t->finished) return result;
  const int p = t->gates_passed;
  for (int offset : CANDIDATE_OFFSETS) {
    const int gate = p + offset;
    if (gate < 0) continue;
    const bool open = unpassed(*t, gate);
    if (checkpoint_contains(checkpoint_of_gate(g, gate), position.x, position.z)) {
      if (open || offset >= 0) {
        result.gate = gate;
        break;
      }
    } else if (open && is_lap_end(g, gate)) {
      // No gate beyond a lap end the bike has not passed can be taken.
      break;
    }
  }
  if (result.gate < 0 || result.gate >= MAX_GATE_INDEX) return GateStepResult{-1, false, false};

  set_pass_tick(t, result.gate, tick);
  t->gates_passed = result.gate + 1;
  if (is_lap_end(g, result.gate)) {
    result.lap_completed = true;
    if (race.leader_passed_finishing_gate || lap_state(g, *t).completed_laps >= race.lap_total) {
      t->finished = true;
      result.finished = true;
    }
  }
  return result;
}

int lap_time(const TimingGates& g, const BikeTiming& t, int lap, int gate_drop_tick) {
  if (!g.timed || lap < 1) return -1;
  int end = pass_tick(t, lap_end_gate(g, lap));
  if (end < 0) return -1;
  int start = lap == 1 ? gate_drop_tick : pass_tick(t, lap_end_gate(g, lap - 1));
  if (start < 0) return -1;
  return end - start;
}

double stretch_reference_time(const TimingGates& g, const BikeTiming* const* bikes, int bike_count, int a, int b,
                              int gate_drop_tick) {
  if (!g.timed || b < 0 || b <= a || a < -1) return NO_REFERENCE_TICKS;
  // A stretch inside the normal laps recurs every lap, starting from its
  // place in the first normal lap; anything touching the first lap occurs once.
  const bool recurring = a >= g.first_lap;
  const int first_a = recurring ? g.first_lap + (a - g.first_lap) % g.normal_lap : a;
  const int length = b - a;
  double sum_of_averages = 0;
  int bikes_with_time = 0;
  for (int i = 0; i < bike_count; i++) {
    const BikeTiming& t = *bikes[i];
    double total = 0;
    int passages = 0;
    for (int from = first_a;; from += g.normal_lap) {
      const int to = from + length;
      if (to >= t.gates_passed) break;
      bool clean = true;
      for (int gate = from < 0 ? 0 : from; gate <= to && clean; gate++) clean = pass_tick(t, gate) != -1;
      int start = from < 0 ? gate_drop_tick : pass_tick(t, from);
      int end = pass_tick(t, to);
      if (clean && end >= start) {
        total += end - start;
        passages++;
      }
      if (!recurring) break;
    }
    if (passages > 0) {
      sum_of_averages += total / passages;
      bikes_with_time++;
    }
  }
  return bikes_with_time > 0 ? sum_of_averages / bikes_with_time : NO_REFERENCE_TICKS;
}
