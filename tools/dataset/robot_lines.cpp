// The robots' shipped lines: every track of the set is trained by the
// robot trainer's own runs (robot/training.h) on the track just written,
// and its three line files land in the track's directory. The tracks train
// side by side, one child process each (the bike world is one per
// process); every run is seeded, so the files are the same on every build.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bike/bike.h"
#include "bike/part_shapes.h"
#include "platform/log.h"
#include "robot/training.h"
#include "tools/dataset/dataset.h"
#include "track/track.h"

namespace dvdata {

namespace {

// What the data set's training rides: a few generations of solo runs, then
// every starting place through the first splits. Enough for robots that
// lap near the pace the trainer finds with more generations, at a cost
// that keeps the build short.
TrainingOptions shipped_training() {
  TrainingOptions o;
  o.generations = 3;
  o.runs = 3;
  o.laps = 2;
  o.seed = 1;
  return o;
}

int train_one(const std::string& out, const char* name) {
  static LoadedTrack loaded;
  create_bike_world();
  build_default_part_shapes(&g_part_shapes);
  load_part_shapes(&g_part_shapes);
  loaded.name = name;
  if (!load_track(&loaded, TrackLoadSettings{GROUND_SOFTWARE, false, 0})) {
    fprintf(stderr, "dvdata: can't load track '%s' back to train its robot lines\n", name);
    return 1;
  }
  if (!loaded.gates.timed) {
    fprintf(stderr, "dvdata: track '%s' has no timing gates to train robot lines on\n", name);
    return 1;
  }
  TrainingResult expert, skills[2];
  bool ok = train_track_lines(&loaded, shipped_training(), out + name, &expert, skills);
  printf("dvdata: %s: robot lines, best lap %.2f s (expert), %.2f s (amateur), %.2f s (novice)\n", name,
         expert.best_lap, skills[ROBOT_AMATEUR].best_lap, skills[ROBOT_NOVICE].best_lap);
  fflush(stdout);
  deallocate_track(&loaded);
  destroy_bike_world();
  // Lines that made no clean lap would leave robots on the bootstrap paths.
  return ok && expert.best_lap > 0 ? 0 : 1;
}

}  // namespace

void build_robot_lines(DataSet* set, const std::vector<std::string>& tracks) {
  fflush(stdout);
  fflush(stderr);
  std::vector<pid_t> children;
  for (const std::string& track : tracks) {
    pid_t pid = fork();
    if (pid == 0) {
      // The store upkeep and the robots' picks go to no log.
      log_printf("VORN_LOGFILE=/dev/null");
      _exit(train_one(set->out, track.c_str()));
    }
    if (pid < 0) {
      fprintf(stderr, "dvdata: can't start the robot training of '%s'\n", track.c_str());
      set->failed = true;
      continue;
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) set->failed = true;
  }
}

}  // namespace dvdata
