#include "net/standings.h"

void settle_finishes(const TimingGates& g, BikeTiming* const* bikes, int count, int laps) {
  if (!g.timed || laps <= 0 || laps >= MAX_GATE_INDEX / (g.normal_lap > 0 ? g.normal_lap : 1)) return;
  const int finishing_gate = g.first_lap + g.normal_lap * (laps - 1) - 1;
  int first_finish = -1;
  for (int i = 0; i < count; i++) {
    const int t = pass_tick(*bikes[i], finishing_gate);
    if (t >= 0 && (first_finish < 0 || t < first_finish)) first_finish = t;
  }
  for (int i = 0; i < count; i++) {
    BikeTiming* b = bikes[i];
    for (int k = g.first_lap - 1; k < b->gates_passed; k += g.normal_lap) {
      const int t = pass_tick(*b, k);
      if (t < 0) continue;
      const int lap = (k + 1 - g.first_lap) / g.normal_lap + 1;
      if (lap >= laps || (first_finish >= 0 && t > first_finish)) {
        if (b->gates_passed > k + 1) set_gates_passed(b, k + 1);
        b->finished = true;
        break;
      }
    }
  }
}
