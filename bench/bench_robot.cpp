// Robot decision time per tick against the bike simulation's cost per bike,
// for robots riding the proving ground's gates together.
//
//   bench_robot [--seconds S] [--counts 1,20] [--csv FILE]
//
// A first solo ride records a lap of lines; then `count` robots ride them
// from the grid (they meet, pass and pick lines at every split). Per tick
// the robots' controls are timed on their own, and the bike tick (contacts,
// bike pairs, world step, roost, force update) as a whole; both are given
// per bike. A bootstrap row times robots on paths through the checkpoints.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bike/bike.h"
#include "bike/bike_sim.h"
#include "bike/proving_ground.h"
#include "bike/roost.h"
#include "robot/practice_ride.h"
#include "robot/training_ground.h"
#include "track/terrain.h"
#include "track/timing_gates.h"

namespace {

using Clock = std::chrono::steady_clock;
double since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

struct Figures {
  int robots, ticks;
  double robot_us, bike_us;  // per bike per tick
};

Figures measure(const Terrain& terrain, const TimingGates& gates, LineStore* store, int count, double seconds) {
  std::vector<RobotStyle> styles;
  for (int i = 0; i < count; i++) styles.push_back(robot_style(ROBOT_EXPERT, (i % 5) / 4.0, 0.5));
  PracticeRide ride;
  start_practice(&ride, terrain, gates, store, count, styles.data(), 1000, false, 3);
  const ControlOptions options{false, false};
  double robot = 0, bike = 0;
  int ticks = 0;
  // Past the gate drop first, so every tick timed is a racing tick.
  while (ride.tick < ride.drop_tick) step_practice(&ride);
  while (robot + bike < seconds) {
    RobotWorld world{store, &gates, &terrain, ride.bikes, ride.tick, true, true};
    Clock::time_point t0 = Clock::now();
    for (int i = 0; i < count; i++) {
      float control[ROBOT_CONTROLS];
      robot_controls(&ride.robots[i], world, *ride.bikes[i], ride.timing[i], control);
      apply_control_vector(ride.bikes[i], control, options);
    }
    robot += since(t0);
    Clock::time_point t1 = Clock::now();
    run_bike_tick(ride.bikes, terrain, ride.tick);
    advance_roost(&g_roost, terrain);
    bike += since(t1);
    for (int i = 0; i < count; i++) {
      DVec p = body_position(*ride.bikes[i], BODY_FRAME);
      gate_step(gates, &ride.timing[i], Vec3{(float)p.x, (float)p.y, (float)p.z}, ride.tick - ride.drop_tick,
                RaceProgress{false, 1000});
    }
    ride.tick++;
    ticks++;
  }
  end_practice(&ride);
  return Figures{count, ticks, robot / ticks / count * 1e6, bike / ticks / count * 1e6};
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 5;
  std::vector<int> counts = {1, 20};
  const char* csv = nullptr;
  for (int i = 1; i < argc; i++) {
    if (strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) seconds = atof(argv[++i]);
    else if (strcmp(argv[i], "--csv") == 0 && i + 1 < argc) csv = argv[++i];
    else if (strcmp(argv[i], "--counts") == 0 && i + 1 < argc) {
      counts.clear();
      for (char* p = strtok(argv[++i], ","); p; p = strtok(nullptr, ",")) counts.push_back(atoi(p));
    } else {
      fprintf(stderr, "usage: bench_robot [--seconds S] [--counts 1,20] [--csv FILE]\n");
      return 1;
    }
  }
  if (!(seconds > 0) || seconds > 600) seconds = 5;
  static Terrain terrain;
  build_course(&terrain, COURSE_PROVING_GROUND);
  TimingGates gates;
  training_ground_gates(&gates);
  LineStore empty, lines;
  size_line_store(&empty, gates, "proving_ground", ROBOT_EXPERT);
  size_line_store(&lines, gates, "proving_ground", ROBOT_EXPERT);
  {
    RobotStyle style = robot_style(ROBOT_EXPERT, 0.5, 1.0);
    PracticeRide ride;
    start_practice(&ride, terrain, gates, &lines, 1, &style, 2, true, 1);
    while (!practice_finished(ride) && ride.tick < 300 * TICKS_PER_SECOND) step_practice(&ride);
    end_practice(&ride);
  }
  printf("robots  ticks  robot us/bike/tick  bike sim us/bike/tick  robot share\n");
  FILE* out = csv ? fopen(csv, "a") : nullptr;
  for (int pass = 0; pass < 2; pass++)
    for (int count : counts) {
      if (count < 1 || count > MAX_BIKES) continue;
      Figures f = measure(terrain, gates, pass == 0 ? &lines : &empty, count, seconds);
      printf("%6d %6d %19.2f %22.2f %11.1f%%  %s\n", f.robots, f.ticks, f.robot_us, f.bike_us,
             100 * f.robot_us / (f.robot_us + f.bike_us), pass == 0 ? "lines" : "bootstrap");
      if (out)
        fprintf(out, "%s,%d,%d,%.3f,%.3f\n", pass == 0 ? "lines" : "bootstrap", f.robots, f.ticks, f.robot_us,
                f.bike_us);
    }
  if (out) fclose(out);
  free_terrain(&terrain);
  return 0;
}
