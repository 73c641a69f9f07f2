// Training runs and the elite pool of runs whose lines become the store.
#include "robot/training.h"

#include <algorithm>
#include <memory>

#include "bike/bike.h"
#include "race/race.h"
#include "robot/race_robots.h"
#include "robot/robot.h"
#include "track/track.h"

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

// Races one robot alone for the laps from the grid slot, following a copy
// of `follow`, recording into a store of its own. With stop_splits > 0 the
// run ends once that many splits of the first lap are passed (the lines
// from the gate drop and just after it are all a grid place changes).
Run ride_run(LoadedTrack* track, const LineStore& follow, const RobotStyle& style, int laps, int slot,
             uint32_t seed, const std::string& bike, TrainingResult* result, int stop_splits = 0) {
  const TimingGates& gates = track->gates;
  Run run{0, false, std::make_unique<LineStore>()};
  size_line_store(run.lines.get(), gates, follow.track, follow.skill);
  auto race = std::make_unique<Race>();
  auto robots = std::make_unique<RaceRobots>();
  init_race(race.get());
  race->track = track;
  race->ground_method = GROUND_SOFTWARE;
  race->learn = true;
  install_race_robots(race.get(), robots.get());
  robots->owner_fills_store = true;
  robots->store = follow;
  robots->record_store = run.lines.get();
  std::vector<int> lineup(MAX_BIKES, LINEUP_EMPTY);
  lineup[(size_t)slot] = LINEUP_ROBOT;
  // The reset seeds the race's random numbers (gate drop, personalities)
  // from the tick; starting it elsewhere varies the rider between runs.
  race->tick = (int)(seed & 0xffff);
  RaceSetup setup{"", lineup.data(), false, false, 0, laps, follow.skill};
  if (!reset_race(race.get(), setup) || !race->bikes[slot]) {
    free_race(race.get());
    return run;
  }
  RaceRider rider = race->riders[slot];
  rider.model = bike;
  race_add_bike(race.get(), slot, RACE_SLOT_ROBOT, rider);
  robots->robots[slot].style = style;
  // Slower than this the run is lost (stuck somewhere): stop it.
  int limit = race->gate_drop_tick + laps * 240 * TICKS_PER_SECOND;
  int stop_gate = -1;  // overall index of the split that ends a short run
  if (stop_splits > 0) {
    stop_gate = next_split_gate(gates, GATE_DROP);
    for (int k = 1; k < stop_splits && stop_gate >= 0 && split_group(gates, stop_gate) + 1 < follow.first_splits; k++)
      stop_gate = next_split_gate(gates, stop_gate);
    limit = race->gate_drop_tick + 120 * TICKS_PER_SECOND;
  }
  auto done = [&] {
    if (stop_gate >= 0) return race->timing[slot].gates_passed > stop_gate;
    return race_bike_finished(*race, slot);
  };
  while (!done() && race->tick < limit) race_step(race.get());
  const int crashes = race->bikes[slot]->crash_count;
  run.clean = done() && crashes == 0;
  for (int lap = 2; lap <= laps; lap++) {
    int ticks = race_lap_time(*race, slot, lap);
    if (ticks > 0 && (run.lap == 0 || ticks * TICK_SECONDS < run.lap)) run.lap = ticks * TICK_SECONDS;
  }
  if (laps == 1) {
    int ticks = race_lap_time(*race, slot, 1);
    if (ticks > 0) run.lap = ticks * TICK_SECONDS;
  }
  result->runs++;
  result->clean_runs += run.clean;
  result->crashes += crashes;
  if (run.clean && laps > 1 && run.lap > 0 && (result->best_lap == 0 || run.lap < result->best_lap))
    result->best_lap = run.lap;
  free_race(race.get());
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
std::vector<Run> grid_pass(LoadedTrack* track, const LineStore& store, RobotStyle style, const TrainingOptions& o,
                           uint32_t* random, TrainingResult* result) {
  std::vector<Run> runs;
  int slots = std::max(1, std::min(o.grid_slots, MAX_BIKES));
  for (int slot = 0; slot < slots; slot++) {
    Run r = ride_run(track, store, style, 1, slot, next(random), o.bike, result, o.grid_splits);
    if (r.clean) runs.push_back(std::move(r));
  }
  return runs;
}

}  // namespace

double training_pace(int skill) {
  switch (skill) {
    case ROBOT_NOVICE: return 0.82;
    case ROBOT_AMATEUR: return 0.92;
    default: return 1.0;
  }
}

TrainingResult train_expert_lines(LoadedTrack* track, const TrainingOptions& o, LineStore* expert) {
  TrainingResult result{0, {}, 0, 0, 0};
  const TimingGates& gates = track->gates;
  size_line_store(expert, gates, track->name, ROBOT_EXPERT);
  if (expert->groups.empty()) return result;
  uint32_t random = o.seed * 2654435761u + 1;
  std::vector<Run> pool;
  int laps = std::max(2, o.laps);
  for (int gen = 0; gen < std::max(1, o.generations); gen++) {
    // Generation 0 rides the bootstrap paths (the store is empty); the
    // runs differ in their starting place and the grip they trust.
    std::vector<Run> fresh;
    for (int i = 0; i < o.runs; i++) {
      RobotStyle style = robot_style(ROBOT_EXPERT, 0.5, 1.0);
      style.mistake_interval = 0;
      style.choice_noise = 0.3;
      style.pace = 1 + o.push * uniform(&random);
      style.corner_grip *= 0.9 + 0.25 * uniform(&random);
      int slot = (int)(next(&random) % (uint32_t)std::max(1, std::min(o.grid_slots, MAX_BIKES)));
      fresh.push_back(ride_run(track, *expert, style, laps, slot, next(&random), o.bike, &result));
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
  RobotStyle style = robot_style(ROBOT_EXPERT, 0.5, 1.0);
  style.mistake_interval = 0;
  style.pace = 1.0;
  std::vector<Run> grid = grid_pass(track, *expert, style, o, &random, &result);
  rebuild(expert, pool, grid, gates);
  if (o.report) fprintf(o.report, "expert: %d lines, %zu of %d starting places\n", line_count(*expert), grid.size(), o.grid_slots);
  expert->changed = true;
  return result;
}

TrainingResult train_skill_lines(LoadedTrack* track, const LineStore& expert, int skill, const TrainingOptions& o,
                                 LineStore* out) {
  TrainingResult result{0, {}, 0, 0, 0};
  const TimingGates& gates = track->gates;
  size_line_store(out, gates, expert.track, skill);
  if (out->groups.empty()) return result;
  // The runs follow the expert lines at the skill's pace, with its choices
  // and mistakes.
  LineStore follow = expert;
  follow.skill = skill;
  uint32_t random = (o.seed + 977u * (uint32_t)skill) * 2654435761u + 1;
  RobotStyle style = robot_style(skill, 0.5, 0.5);
  style.pace = training_pace(skill);
  std::vector<Run> pool;
  for (int i = 0; i < o.runs; i++) {
    int slot = (int)(next(&random) % (uint32_t)std::max(1, std::min(o.grid_slots, MAX_BIKES)));
    Run r = ride_run(track, follow, style, std::max(2, o.laps), slot, next(&random), o.bike, &result);
    if (r.clean && r.lap > 0) pool.push_back(std::move(r));
  }
  std::stable_sort(pool.begin(), pool.end(), faster);
  if ((int)pool.size() > o.elite) pool.resize((size_t)std::max(1, o.elite));
  std::vector<Run> grid = grid_pass(track, follow, style, o, &random, &result);
  rebuild(out, pool, grid, gates);
  if (o.report)
    fprintf(o.report, "%s: %d lines from %zu clean runs, best lap %.2f\n", line_file_name(skill), line_count(*out),
            pool.size(), result.best_lap);
  out->changed = true;
  return result;
}

namespace {

bool write_store(const LineStore& store, const std::string& directory) {
  std::string path = directory + "/" + line_file_name(store.skill);
  std::vector<unsigned char> bytes = encode_lines(store);
  FILE* f = fopen(path.c_str(), "wb");
  bool ok = f && fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (f) ok = fclose(f) == 0 && ok;
  if (!ok) fprintf(stderr, "Can't write '%.900s'\n", path.c_str());
  return ok;
}

}  // namespace

bool train_track_lines(LoadedTrack* track, const TrainingOptions& options, const std::string& directory,
                       TrainingResult* expert_result, TrainingResult skill_results[2]) {
  LineStore expert;
  TrainingResult trained = train_expert_lines(track, options, &expert);
  LineStore stores[2];
  TrainingResult skills[2];
  for (int skill = ROBOT_NOVICE; skill <= ROBOT_AMATEUR; skill++)
    skills[skill] = train_skill_lines(track, expert, skill, options, &stores[skill]);
  bool ok = write_store(stores[ROBOT_NOVICE], directory);
  ok = write_store(stores[ROBOT_AMATEUR], directory) && ok;
  ok = write_store(expert, directory) && ok;
  if (expert_result) *expert_result = trained;
  if (skill_results) {
    skill_results[0] = skills[0];
    skill_results[1] = skills[1];
  }
  return ok;
}
