// Training runs and the elite pool of runs whose lines become the store.
#include "robot/training.h"

#include <algorithm>
#include <memory>

#include "robot/practice_ride.h"
#include "robot/robot.h"
#include "track/timing_gates.h"

namespace {

// A run's own recorded lines and how it went.
struct Run {
  double lap;  // its fastest clean normal lap, seconds; 0 when none
  bool clean;  // finished with no crash
  std::unique_ptr<LineStore> lines;
};

uint32_t next(uint32_t* state) {
  *state = *state * 1664525u + 1013904223u;
  return *state >> 8;
}
double uniform(uint32_t* state) { return next(state) * (1.0 / 16777216.0); }

// Rides one robot for the laps, following `follow`, recording into a store
// of its own.
Run ride_run(const Terrain& terrain, const TimingGates& gates, LineStore* follow, const RobotStyle& style,
             int laps, int slot, uint32_t seed, const TrainingOptions& o, TrainingResult* result) {
  Run run{0, false, std::make_unique<LineStore>()};
  size_line_store(run.lines.get(), gates, follow->track, follow->skill);
  PracticeRide ride;
  if (!start_practice(&ride, terrain, gates, follow, 1, &style, laps, true, seed, o.bike_model.c_str(), slot))
    return run;
  ride.record_store = run.lines.get();
  // Slower than this the run is lost (stuck somewhere): stop it.
  const int limit = ride.drop_tick + laps * 240 * TICKS_PER_SECOND;
  while (!practice_finished(ride) && ride.tick < limit) step_practice(&ride);
  run.clean = ride.timing[0].finished && ride.crashes[0] == 0;
  for (int lap = 2; lap <= laps; lap++) {
    int ticks = practice_lap_ticks(ride, 0, lap);
    if (ticks > 0 && (run.lap == 0 || ticks * TICK_SECONDS < run.lap)) run.lap = ticks * TICK_SECONDS;
  }
  result->runs++;
  result->clean_runs += run.clean;
  result->crashes += ride.crashes[0];
  if (run.clean && run.lap > 0 && (result->best_lap == 0 || run.lap < result->best_lap)) result->best_lap = run.lap;
  end_practice(&ride);
  return run;
}

// Offers every line of the store to `into` (group by group, slot order).
void merge_lines(LineStore* into, const LineStore& from, int first_group, int end_group) {
  for (int g = first_group; g < end_group && g < (int)from.groups.size(); g++)
    for (const RobotLine& l : from.groups[(size_t)g].lines)
      if (l.used) offer_line(into, g, l);
}

bool faster(const Run& a, const Run& b) {
  if (a.clean != b.clean) return a.clean;
  if ((a.lap > 0) != (b.lap > 0)) return a.lap > 0;
  return a.lap < b.lap;
}

// The lines of the pool's runs, fastest run first, then the start lines of
// every grid slot.
void rebuild(LineStore* store, const std::vector<Run>& pool, const std::vector<Run>& grid, const TimingGates& gates) {
  std::string track = store->track;
  int skill = store->skill;
  size_line_store(store, gates, track, skill);
  for (const Run& r : pool) merge_lines(store, *r.lines, 0, (int)store->groups.size());
  for (const Run& r : grid) merge_lines(store, *r.lines, 0, store->first_splits);
}

// From every starting place, one lap over the store's lines at the pace:
// the lines from the gate drop for each place.
std::vector<Run> grid_pass(const Terrain& terrain, const TimingGates& gates, LineStore* store, RobotStyle style,
                           const TrainingOptions& o, uint32_t* random, TrainingResult* result) {
  std::vector<Run> runs;
  int slots = std::max(1, std::min(o.grid_slots, MAX_BIKES));
  for (int slot = 0; slot < slots; slot++) {
    Run r = ride_run(terrain, gates, store, style, 1, slot, next(random), o, result);
    if (r.clean) runs.push_back(std::move(r));
  }
  return runs;
}

}  // namespace

double training_pace(int skill) {
  switch (skill) {
    case SKILL_NOVICE: return 0.82;
    case SKILL_AMATEUR: return 0.92;
    default: return 1.0;
  }
}

TrainingResult train_expert_lines(const Terrain& terrain, const TimingGates& gates, const std::string& track,
                                  const TrainingOptions& o, LineStore* expert) {
  TrainingResult result{0, {}, 0, 0, 0};
  size_line_store(expert, gates, track, SKILL_EXPERT);
  if (expert->groups.empty()) return result;
  uint32_t random = o.seed * 2654435761u + 1;
  std::vector<Run> pool;
  int laps = std::max(2, o.laps);
  for (int gen = 0; gen < std::max(1, o.generations); gen++) {
    // Generation 0 rides the bootstrap paths (the store is empty); the
    // runs differ in their starting place and the grip they trust.
    std::vector<Run> fresh;
    for (int i = 0; i < o.runs; i++) {
      RobotStyle style = robot_style(SKILL_EXPERT, 0.5, 1.0);
      style.mistake_interval = 0;
      style.choice_noise = 0.3;
      style.pace = 1 + o.push * uniform(&random);
      style.corner_grip *= 0.9 + 0.25 * uniform(&random);
      int slot = (int)(next(&random) % (uint32_t)std::max(1, std::min(o.grid_slots, MAX_BIKES)));
      fresh.push_back(ride_run(terrain, gates, expert, style, laps, slot, next(&random), o, &result));
    }
    double best = 0;
    for (const Run& r : fresh)
      if (r.clean && r.lap > 0 && (best == 0 || r.lap < best)) best = r.lap;
    result.generation_best.push_back(best);
    for (Run& r : fresh)
      if (r.clean && r.lap > 0) pool.push_back(std::move(r));
    std::stable_sort(pool.begin(), pool.end(), faster);
    if ((int)pool.size() > o.elite) pool.resize((size_t)std::max(1, o.elite));
    rebuild(expert, pool, {}, gates);
    if (o.report)
      fprintf(o.report, "generation %d: best lap %.2f, pool best %.2f, %d lines\n", gen, best,
              pool.empty() ? 0.0 : pool[0].lap, line_count(*expert));
  }
  RobotStyle style = robot_style(SKILL_EXPERT, 0.5, 1.0);
  style.mistake_interval = 0;
  style.pace = 1.0;
  std::vector<Run> grid = grid_pass(terrain, gates, expert, style, o, &random, &result);
  rebuild(expert, pool, grid, gates);
  if (o.report) fprintf(o.report, "expert: %d lines, %zu of %d starting places\n", line_count(*expert), grid.size(), o.grid_slots);
  expert->changed = true;
  return result;
}

TrainingResult train_skill_lines(const Terrain& terrain, const TimingGates& gates, const LineStore& expert,
                                 int skill, const TrainingOptions& o, LineStore* out) {
  TrainingResult result{0, {}, 0, 0, 0};
  size_line_store(out, gates, expert.track, skill);
  if (out->groups.empty()) return result;
  // The runs follow a copy of the expert lines (their record changes as
  // they are ridden) at the skill's pace, with its choices and mistakes.
  LineStore follow = expert;
  uint32_t random = (o.seed + 977u * (uint32_t)skill) * 2654435761u + 1;
  RobotStyle style = robot_style(skill, 0.5, 0.5);
  style.pace = training_pace(skill);
  std::vector<Run> pool;
  for (int i = 0; i < o.runs; i++) {
    int slot = (int)(next(&random) % (uint32_t)std::max(1, std::min(o.grid_slots, MAX_BIKES)));
    Run r = ride_run(terrain, gates, &follow, style, std::max(2, o.laps), slot, next(&random), o, &result);
    if (r.clean && r.lap > 0) pool.push_back(std::move(r));
  }
  std::stable_sort(pool.begin(), pool.end(), faster);
  if ((int)pool.size() > o.elite) pool.resize((size_t)std::max(1, o.elite));
  std::vector<Run> grid = grid_pass(terrain, gates, &follow, style, o, &random, &result);
  rebuild(out, pool, grid, gates);
  if (o.report)
    fprintf(o.report, "%s: %d lines from %zu clean runs, best lap %.2f\n", line_file_name(skill), line_count(*out),
            pool.size(), result.best_lap);
  out->changed = true;
  return result;
}
