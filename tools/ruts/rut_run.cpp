// Headless rut run: a field of bikes laps a course with deformation on and
// the tool reports what happened to the ground and to the riders.
//
//   rut_run [--bikes N] [--laps L] [--erode E] [--speed MPH] [--course NAME]
//           [--image FILE.png] [--scale FT] [--crop C0,R0,C1,R1] [--zoom K]
//           [--profile X,Z0,Z1]
//
// Prints lap times, crashes, how many vertices changed and how many of
// those lie outside the wheels' reach (that must be 0), the deepest rut and
// the highest pile. The image shows dug ground red, piled ground green and
// any change off the wheel tracks white. Exit code 0 when the run finished
// with no NaN and nothing changed off the tracks, 1 otherwise.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numeric>

#include "bike/proving_ground.h"
#include "tools/ruts/rut_ride.h"
#include "track/deform.h"
#include "track/terrain.h"

namespace {

bool number_arg(const char* text, double lo, double hi, double* out) {
  char* end = nullptr;
  double v = strtod(text, &end);
  if (!end || end == text || *end || !(v >= lo && v <= hi)) return false;
  *out = v;
  return true;
}

void usage() {
  fprintf(stderr,
          "usage: rut_run [--bikes N] [--laps L] [--erode E] [--speed MPH] [--course NAME]\n"
          "               [--image FILE.png] [--scale FT] [--crop C0,R0,C1,R1] [--zoom K]\n"
          "               [--profile X,Z0,Z1]\n");
}

}  // namespace

int main(int argc, char** argv) {
  RutRideOptions options;
  const char* image = nullptr;
  TerrainRegion crop = EMPTY_REGION;
  int zoom = 1;
  float profile[3];
  bool want_profile = false;
  const char* course_arg = "proving_ground";
  double scale = 0.5;
  for (int i = 1; i < argc; i++) {
    double v = 0;
    const char* a = argv[i];
    const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
    bool ok = next != nullptr;
    if (ok && strcmp(a, "--bikes") == 0) ok = number_arg(next, 1, MAX_BIKES, &v), options.bikes = (int)v;
    else if (ok && strcmp(a, "--laps") == 0) ok = number_arg(next, 1, 1000, &v), options.laps = (int)v;
    else if (ok && strcmp(a, "--erode") == 0) ok = number_arg(next, 0, 100, &v), options.erosion = (float)v;
    else if (ok && strcmp(a, "--speed") == 0) ok = number_arg(next, 5, 80, &v), options.base_speed = v;
    else if (ok && strcmp(a, "--scale") == 0) ok = number_arg(next, 1e-6, 100, &v), scale = v;
    else if (ok && strcmp(a, "--image") == 0) image = next;
    else if (ok && strcmp(a, "--zoom") == 0) ok = number_arg(next, 1, 16, &v), zoom = (int)v;
    else if (ok && strcmp(a, "--crop") == 0)
      ok = sscanf(next, "%d,%d,%d,%d", &crop.c0, &crop.r0, &crop.c1, &crop.r1) == 4 && !region_empty(crop);
    else if (ok && strcmp(a, "--profile") == 0)
      ok = want_profile = sscanf(next, "%f,%f,%f", &profile[0], &profile[1], &profile[2]) == 3;
    else if (ok && strcmp(a, "--course") == 0) course_arg = next;
    else ok = false;
    if (!ok) {
      fprintf(stderr, "bad argument '%.100s'\n", a);
      usage();
      return 1;
    }
    i++;
  }
  Course course;
  if (!course_by_name(course_arg, &course)) {
    fprintf(stderr, "unknown course '%.100s'\n", course_arg);
    return 1;
  }
  static Terrain terrain;
  build_course(&terrain, course);
  RutRideResult r;
  ride_ruts(&terrain, options, &r);

  printf("%d bikes, %d laps, erosion %g on %s: %lld ticks (%.1f s riding) in %.1f s\n", options.bikes, options.laps,
         (double)options.erosion, course_name(course), (long long)r.ticks, r.ticks / 128.0, r.wall_seconds);
  if (!r.lap_seconds.empty()) {
    std::vector<double> laps = r.lap_seconds;
    std::sort(laps.begin(), laps.end());
    double mean = std::accumulate(laps.begin(), laps.end(), 0.0) / (double)laps.size();
    printf("laps completed: %zu (fewest by one bike %d); lap time min %.2f s, median %.2f s, max %.2f s, mean %.2f s\n",
           laps.size(), r.min_laps, laps.front(), laps[laps.size() / 2], laps.back(), mean);
    // How the riding changes as the ground wears: lap times by lap number.
    printf("by lap (bikes, median s):");
    for (int lap = 1; lap <= options.laps; lap++) {
      std::vector<double> these;
      for (size_t i = 0; i < r.lap_seconds.size(); i++)
        if (r.lap_number[i] == lap) these.push_back(r.lap_seconds[i]);
      if (these.empty()) break;
      std::sort(these.begin(), these.end());
      printf(" %d:%zu,%.1f", lap, these.size(), these[these.size() / 2]);
    }
    printf("\n");
  } else {
    printf("no lap completed\n");
  }
  printf("crashes %d, all finite %s\n", r.crashes, r.all_finite ? "yes" : "NO");
  printf("per bike laps/crashes/final x,z:");
  for (size_t i = 0; i < r.laps.size(); i++)
    printf(" %d/%d/%.0f,%.0f", r.laps[i], r.crashes_per_bike[i], r.final_position[i].x, r.final_position[i].z);
  printf("\n");
  printf("vertices changed %d of %zu, outside the wheel tracks %d\n", r.changed, terrain.heights.size(),
         r.changed_off_track);
  printf("deepest dig %.4f ft, highest pile %.4f ft, soil moved %.3f cu ft, net %.6f cu ft\n", r.deepest_dig,
         r.highest_pile, r.moved_volume, r.net_volume);
  printf("modification count %lld, height range %.4f .. %.4f\n", (long long)r.modifications, terrain.low,
         terrain.high);
  if (want_profile) print_rut_profile(stdout, terrain, r, profile[0], profile[1], profile[2]);
  if (image) {
    if (write_rut_image(image, terrain, r, (float)scale, crop, zoom)) printf("wrote %s\n", image);
    else fprintf(stderr, "can't write '%.900s'\n", image);
  }
  return r.finished && r.all_finite && r.changed_off_track == 0 ? 0 : 1;
}
