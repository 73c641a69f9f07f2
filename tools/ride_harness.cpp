// Headless ride harness: rides a scripted timeline of controls on a course
// and writes per-tick telemetry as CSV.
//
//   ride_harness --script FILE [--course NAME] [--bike NAME]
//                [--start X,Z,HEADING] [--every N] [--out FILE]
//                [--track NAME --data DIR]
//
// The script format is described in tools/ride/ride.h. "-" reads the script
// from standard input. With --track the ride is on a track of the data set
// in DIR instead of a course: the bike starts at the middle starting gate
// (unless --start says otherwise) and "follow" rides the first lap's
// timing gates. Exit code 0 on success, 1 on bad input.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bike/bike.h"
#include "bike/proving_ground.h"
#include "core/datafile.h"
#include "tools/ride/ride.h"
#include "track/terrain.h"

namespace {

void usage() {
  fprintf(stderr,
          "usage: ride_harness --script FILE [--course NAME] [--bike NAME] [--start X,Z,HEADING]\n"
          "                    [--every N] [--out FILE] [--track NAME --data DIR]\n"
          "courses:");
  for (int c = 0; c < COURSE_COUNT; c++) fprintf(stderr, " %s", course_name((Course)c));
  fprintf(stderr, "\n");
}

bool read_file(const char* name, std::vector<char>* out) {
  FILE* f = strcmp(name, "-") == 0 ? stdin : fopen(name, "rb");
  if (!f) return false;
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) out->insert(out->end(), buffer, buffer + n);
  bool ok = !ferror(f);
  if (f != stdin) fclose(f);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  const char* script_name = nullptr;
  const char* out_name = nullptr;
  const char* course_override = nullptr;
  const char* bike_override = nullptr;
  const char* start_text = nullptr;
  const char* track_name = nullptr;
  const char* data_dir = nullptr;
  int every = 1;
  for (int i = 1; i < argc; i++) {
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        fprintf(stderr, "%s needs a value\n", name);
        exit(1);
      }
      return argv[++i];
    };
    if (strcmp(argv[i], "--script") == 0) script_name = value("--script");
    else if (strcmp(argv[i], "--out") == 0) out_name = value("--out");
    else if (strcmp(argv[i], "--course") == 0) course_override = value("--course");
    else if (strcmp(argv[i], "--bike") == 0) bike_override = value("--bike");
    else if (strcmp(argv[i], "--start") == 0) start_text = value("--start");
    else if (strcmp(argv[i], "--track") == 0) track_name = value("--track");
    else if (strcmp(argv[i], "--data") == 0) data_dir = value("--data");
    else if (strcmp(argv[i], "--every") == 0) {
      char* end = nullptr;
      long n = strtol(value("--every"), &end, 10);
      if (*end || n < 1 || n > 100000) {
        fprintf(stderr, "Bad arg for --every\n");
        return 1;
      }
      every = (int)n;
    } else {
      usage();
      return 1;
    }
  }
  if (!script_name) {
    usage();
    return 1;
  }
  std::vector<char> text;
  if (!read_file(script_name, &text)) {
    fprintf(stderr, "Can't read '%.900s'\n", script_name);
    return 1;
  }
  RideScript script;
  char error[256];
  if (!parse_ride_script(text.data(), text.size(), &script, error, sizeof error)) {
    fprintf(stderr, "%.900s: %s\n", script_name, error);
    return 1;
  }
  if (course_override) script.course = course_override;
  if (bike_override) script.bike = bike_override;
  if (start_text) {
    if (sscanf(start_text, "%lf,%lf,%lf", &script.start_x, &script.start_z, &script.start_heading) != 3) {
      fprintf(stderr, "Bad arg for --start\n");
      return 1;
    }
    script.has_start = true;
  }
  static Terrain terrain;
  Course course = COURSE_FLAT;
  if (track_name) {
    if (!data_dir) {
      fprintf(stderr, "--track needs --data\n");
      return 1;
    }
    set_search_directories({data_dir});
    if (!load_ride_track(track_name, &terrain, &script, error, sizeof error)) {
      fprintf(stderr, "%s\n", error);
      return 1;
    }
  } else if (!course_by_name(script.course.c_str(), &course)) {
    fprintf(stderr, "Unknown course '%.64s'\n", script.course.c_str());
    usage();
    return 1;
  }
  FILE* out = stdout;
  if (out_name && !(out = fopen(out_name, "w"))) {
    fprintf(stderr, "Can't write '%.900s'\n", out_name);
    return 1;
  }

  if (!track_name) build_course(&terrain, course);
  Ride ride;
  if (!start_ride(&ride, terrain, script, error, sizeof error)) {
    fprintf(stderr, "%s\n", error);
    return 1;
  }
  write_telemetry_header(out);
  write_telemetry_row(out, ride);
  while (step_ride(&ride))
    if (ride.tick % every == 0) write_telemetry_row(out, ride);
  end_ride(&ride);
  free_terrain(&terrain);
  if (out != stdout) fclose(out);
  return 0;
}
