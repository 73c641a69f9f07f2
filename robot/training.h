// Training the shipped lines: solo races of one robot on a track (the race
// flow of race/race.h with its gate drop, the robot seam of
// robot/race_robots.h and the personality's bike), first along
// bootstrap paths through the checkpoints, then for generations along the
// lines of the fastest clean runs so far, each run a little faster than the
// lines it follows; the lines of the fastest runs form the expert store.
// The novice and amateur stores are ridden over the expert lines at their
// own pace, with their own braking, choices and mistakes. Everything is
// seeded, so the same options on the same track make the same files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "robot/line_store.h"

struct LoadedTrack;

struct TrainingOptions {
  int generations = 8;
  int runs = 8;         // solo runs per generation
  int laps = 3;         // per run: lap 1 gives the first lap's lines, the rest the normal lap's
  double push = 0.06;   // a run rides its lines up to this much faster
  int elite = 6;        // runs whose lines are kept, fastest first
  int grid_slots = 20;  // starting places given lines from the gate drop
  int grid_splits = 4;  // a starting place's run ends after this many splits (0: a whole lap)
  uint32_t seed = 1;
  // Every run rides this bike, so that runs differ by their riding alone
  // (races put the personalities on their own bikes).
  std::string bike = "crf450(2016)";
  FILE* report = nullptr;  // progress lines, or none
};

struct TrainingResult {
  double best_lap;                  // seconds: the fastest clean lap any run rode
  std::vector<double> generation_best;  // per generation, seconds (0: no clean lap)
  int runs, clean_runs, crashes;
};

// Pace at which the novice and amateur stores are recorded over the expert
// lines (the expert store is its own).
double training_pace(int skill);

// Trains the expert store of the loaded track (sized and filled, named
// after the track). The bike world must exist.
TrainingResult train_expert_lines(LoadedTrack* track, const TrainingOptions& options, LineStore* expert);
// Rides the expert lines at the skill's pace and keeps what it rode.
TrainingResult train_skill_lines(LoadedTrack* track, const LineStore& expert, int skill,
                                 const TrainingOptions& options, LineStore* out);

// All three stores of the loaded track, written as
// <directory>/lines_novice, lines_amateur and lines_expert (the directory
// must exist). False, with a message on standard error, when a file could
// not be written. `expert_result` and `skill_results` (novice, amateur)
// may be null.
bool train_track_lines(LoadedTrack* track, const TrainingOptions& options, const std::string& directory,
                       TrainingResult* expert_result, TrainingResult skill_results[2]);
