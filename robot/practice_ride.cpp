// The practice ride loop.
#include "robot/practice_ride.h"

#include <cmath>

#include "bike/bike.h"
#include "bike/bike_sim.h"
#include "bike/roost.h"
#include "track/terrain.h"
#include "track/timing_gates.h"

namespace {

RecordSample sample_of(const Bike& b, int gate, bool finished) {
  return RecordSample{to_vec3(body_position(b, BODY_FRAME)), to_vec3(body_velocity(b, BODY_FRAME)),
                      b.crash_timer > 0, gate, finished};
}

}  // namespace

bool start_practice(PracticeRide* r, const Terrain& terrain, const TimingGates& gates, LineStore* store, int count,
                    const RobotStyle* styles, int laps, bool learn, uint32_t seed, const char* bike_model,
                    int first_slot) {
  *r = PracticeRide();
  if (count < 1 || first_slot < 0 || first_slot + count > MAX_BIKES) return false;
  r->terrain = &terrain;
  r->gates = &gates;
  r->store = store;
  r->record_store = store;
  r->first_slot = first_slot;
  r->bike_count = count;
  r->learn = learn;
  r->laps = laps;
  r->drop_tick = 2 * TICKS_PER_SECOND;  // time to settle on the suspension
  create_bike_world();
  clear_roost(&g_roost);
  const int G = (int)gates.starting_gates.size();
  for (int i = 0; i < count; i++) {
    char number[8];
    snprintf(number, sizeof number, "%d", i + 1);
    Bike* b = create_bike(bike_model, i, nullptr, nullptr, nullptr, nullptr, number);
    const int slot = first_slot + i;
    Vec3 position{terrain.width / 2 + 5.0f * slot, 0, terrain.width / 2};
    float heading = 0;
    if (G > 0) {
      const StartingGate& s = gates.starting_gates[(size_t)(slot % G)];
      float row = (float)(slot / G) + 0.0625f;
      heading = s.heading;
      position = Vec3{s.position.x + std::sin(heading) * row * 10, 0, s.position.z + std::cos(heading) * row * 10};
    }
    position.y = height_at(terrain, position.x, position.z);
    place_bike(b, position, heading);
    r->bikes[i] = b;
    reset_bike_timing(&r->timing[i]);
    reset_line_recorder(&r->recorders[i]);
    init_robot(&r->robots[i], i, styles[i], seed);
  }
  return true;
}

void step_practice(PracticeRide* r) {
  RobotWorld world{r->store, r->gates, r->terrain, r->bikes, r->tick, r->tick >= r->drop_tick, true};
  const ControlOptions options{false, false};  // as the race step applies robot controls
  for (int i = 0; i < r->bike_count; i++) {
    float control[CONTROL_COUNT];
    robot_controls(&r->robots[i], world, *r->bikes[i], r->timing[i], control);
    apply_control_vector(r->bikes[i], control, options);
  }
  run_bike_tick(r->bikes, *r->terrain, r->tick);
  advance_roost(&g_roost, *r->terrain);
  bool leader_done = false;
  for (int i = 0; i < r->bike_count; i++) leader_done |= passed_finishing_gate(*r->gates, r->timing[i], r->laps);
  for (int i = 0; i < r->bike_count; i++) {
    Bike* b = r->bikes[i];
    bool down = b->crash_timer > 0;
    if (down && !r->was_down[i]) r->crashes[i]++;
    r->was_down[i] = down;
    GateStepResult g{-1, false, false};
    if (r->tick >= r->drop_tick)
      g = gate_step(*r->gates, &r->timing[i], to_vec3(body_position(*b, BODY_FRAME)), r->tick - r->drop_tick,
                    RaceProgress{leader_done, r->laps});
    if (!r->learn || !r->record_store) continue;
    RecordSample s = sample_of(*b, g.gate, r->timing[i].finished);
    if (r->tick == r->drop_tick) start_line(&r->recorders[i], *r->gates, GATE_DROP, r->tick, s);
    else if (r->tick > r->drop_tick) record_line_tick(r->record_store, &r->recorders[i], *r->gates, s, r->tick);
  }
  r->tick++;
}

bool practice_finished(const PracticeRide& r) {
  for (int i = 0; i < r.bike_count; i++)
    if (!r.timing[i].finished) return false;
  return true;
}

void end_practice(PracticeRide* r) {
  for (int i = 0; i < r->bike_count; i++) {
    delete_bike(r->bikes[i]);
    r->bikes[i] = nullptr;
  }
  r->bike_count = 0;
  destroy_bike_world();
}

int practice_lap_ticks(const PracticeRide& r, int bike, int lap) {
  if (bike < 0 || bike >= r.bike_count || !r.gates->timed) return -1;
  return lap_time(*r.gates, r.timing[bike], lap, 0);
}
