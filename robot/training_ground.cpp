// The proving ground's timing gates.
#include "robot/training_ground.h"

#include <cmath>

#include "bike/proving_ground.h"
#include "track/timing_gates.h"

void training_ground_gates(TimingGates* t) {
  clear_timing_gates(t);
  int count = 0;
  const Vec3* line = proving_ground_line(&count);
  // The line starts at z = 1300 on the out straight; the finish line sits
  // there and the starting gates just past it.
  const int every = 7;
  for (int i = every; i + 1 < count; i += every) {
    Vec3 p = line[i], q = line[i + 1];
    float dx = q.x - p.x, dz = q.z - p.z, l = std::sqrt(dx * dx + dz * dz);
    t->checkpoints.push_back(Checkpoint{p, {dx / l, 0, dz / l}, 30, false});
  }
  t->checkpoints.push_back(Checkpoint{line[0], {0, 0, -1}, 30, false});
  const int c = (int)t->checkpoints.size();
  for (int lap = 0; lap < 2; lap++)
    for (int k = 0; k < c; k++) t->sequence.push_back(k % 3 == 2 && k != c - 1 ? k + NO_SPLIT_MARK : k);
  t->first_lap = t->normal_lap = c;
  for (int g = 0; g < 8; g++) {
    StartingGate s;
    s.position = Vec3{line[0].x + (g - 3.5f) * 6.0f, 0, line[0].z - 12};
    s.heading = 0;
    t->starting_gates.push_back(s);
  }
  normalise_timing_gates(t, 0);
}
