// Trains the robot lines of a track and writes the three line files.
//
//   robot_trainer (--track NAME --data DIR | --course NAME) [--out DIR]
//                 [--generations N] [--runs N] [--laps N] [--push X]
//                 [--seed N] [--grid N] [--log FILE] [--quiet]
//
// --track loads the track from the data directory DIR (its "timing_gates"
// decide the split gates); --course trains an in-code course of the race
// runner ("proving_ground": its timed loop). The runs are races of one robot
// in the race flow (robot/training.h). The files go to
// <out>/<track>/lines_novice, lines_amateur and lines_expert (default out:
// the data directory, or "." for a course). The same options make the same
// files. Exit code 0 on success, 1 on bad options or an untimed or missing
// track.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bike/bike.h"
#include "bike/part_shapes.h"
#include "core/datafile.h"
#include "platform/log.h"
#include "robot/line_store.h"
#include "robot/training.h"
#include "tools/race_runner/runner.h"
#include "track/track.h"

namespace {

void usage() {
  fprintf(stderr,
          "usage: robot_trainer (--track NAME --data DIR | --course NAME) [--out DIR]\n"
          "                     [--generations N] [--runs N] [--laps N] [--push X] [--seed N]\n"
          "                     [--grid N] [--log FILE] [--quiet]\n");
}

bool number(const char* text, long lo, long hi, long* out) {
  char* end = nullptr;
  errno = 0;
  long v = strtol(text, &end, 10);
  if (!*text || *end || errno || v < lo || v > hi) return false;
  *out = v;
  return true;
}

bool make_directories(const std::string& path) {
  for (size_t i = 1; i <= path.size(); i++)
    if (i == path.size() || path[i] == '/') {
      std::string part = path.substr(0, i);
      if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  TrainingOptions options;
  std::string track, course, data, out, log_name;
  bool quiet = false;
  for (int i = 1; i < argc; i++) {
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        fprintf(stderr, "%s needs a value\n", name);
        exit(1);
      }
      return argv[++i];
    };
    long n = 0;
    const char* a = argv[i];
    if (strcmp(a, "--track") == 0) track = value(a);
    else if (strcmp(a, "--data") == 0) data = value(a);
    else if (strcmp(a, "--out") == 0) out = value(a);
    else if (strcmp(a, "--log") == 0) log_name = value(a);
    else if (strcmp(a, "--course") == 0) course = value(a);
    else if (strcmp(a, "--quiet") == 0) quiet = true;
    else if (strcmp(a, "--generations") == 0 && number(value(a), 1, 100, &n)) options.generations = (int)n;
    else if (strcmp(a, "--runs") == 0 && number(value(a), 1, 100, &n)) options.runs = (int)n;
    else if (strcmp(a, "--laps") == 0 && number(value(a), 2, 20, &n)) options.laps = (int)n;
    else if (strcmp(a, "--grid") == 0 && number(value(a), 1, MAX_BIKES, &n)) options.grid_slots = (int)n;
    else if (strcmp(a, "--seed") == 0 && number(value(a), 0, 0x7fffffff, &n)) options.seed = (uint32_t)n;
    else if (strcmp(a, "--push") == 0) {
      char* end = nullptr;
      const char* text = value(a);
      double p = strtod(text, &end);
      if (!*text || *end || !(p >= 0 && p <= 0.5)) {
        fprintf(stderr, "Bad arg for --push (0 to 0.5)\n");
        return 1;
      }
      options.push = p;
    } else {
      fprintf(stderr, "Bad option or value: '%.200s'\n", a);
      usage();
      return 1;
    }
  }
  if (course.empty() == track.empty() || (!track.empty() && data.empty())) {
    usage();
    return 1;
  }
  // The store maintenance and the robots' picks go to the log, not the terminal.
  log_printf("VORN_LOGFILE=%s", log_name.empty() ? "/dev/null" : log_name.c_str());
  options.report = quiet ? nullptr : stdout;

  static LoadedTrack loaded;
  create_bike_world();
  build_default_part_shapes(&g_part_shapes);
  if (!course.empty()) {
    if (!build_course_track(&loaded, course.c_str())) {
      fprintf(stderr, "Unknown course '%.64s'\n", course.c_str());
      return 1;
    }
    if (out.empty()) out = ".";
  } else {
    set_search_directories({data});
    load_part_shapes(&g_part_shapes);
    loaded.name = track;
    if (!load_track(&loaded, TrackLoadSettings{GROUND_SOFTWARE, false, 0})) {
      fprintf(stderr, "Can't load track '%.900s' from '%.900s'\n", track.c_str(), data.c_str());
      return 1;
    }
    if (out.empty()) out = data;
  }
  if (!loaded.gates.timed) {
    fprintf(stderr, "Track '%.900s' has no timing gates to train on\n", loaded.name.c_str());
    return 1;
  }
  std::string directory = out + "/" + loaded.name;
  if (!make_directories(directory)) {
    fprintf(stderr, "Can't make '%.900s'\n", directory.c_str());
    return 1;
  }

  TrainingResult trained, skills[2];
  bool ok = train_track_lines(&loaded, options, directory, &trained, skills);
  printf("%s: best lap %.2f s (expert), %.2f s (amateur), %.2f s (novice); %d + %d + %d runs, %d crashes\n",
         loaded.name.c_str(), trained.best_lap, skills[ROBOT_AMATEUR].best_lap, skills[ROBOT_NOVICE].best_lap, trained.runs,
         skills[ROBOT_AMATEUR].runs, skills[ROBOT_NOVICE].runs,
         trained.crashes + skills[0].crashes + skills[1].crashes);
  deallocate_track(&loaded);
  destroy_bike_world();
  return ok ? 0 : 1;
}
