// Cost of the bikes' share of a tick against the bare world step, for 1, 20
// and 160 bikes riding the proving ground together.
//
//   bench_bike [--course NAME] [--seconds S] [--counts 1,20,160] [--erode E]
//              [--csv FILE]
//
// Every bike follows the course line at 30 mph with its own path follower.
// Per tick the phases of the tick order are timed separately; the world
// step is timed on its own with exactly the contacts the bikes made, so
// "ratio" is (everything) / (world step alone). With "--erode" above 0 the
// wheel-terrain effects run too (step 4: recording, digging, piling), each
// count on freshly built ground with the normal map of the shader path, and
// the game's per-frame re-bake of the dug ground's shading and normal map
// runs inside the erode phase, called at a 60 Hz frame cadence with the
// game's pace (refresh_deformed_shading_on_pace); "erode/bike" is
// their cost per bike per tick, "rebaked/t" the vertices re-baked per tick.
// The machine may be shared: the "cpu" columns give the same ratio from
// the thread's processor time (ours = everything timed but the step).
// After each row "state" is a digest of where the run ended (every body's
// position, rotation and velocities, the ground's heights and the live
// roost): a faster build of the same simulation must print the same one.
#include <chrono>
#include <ctime>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bike/bike.h"
#include "bike/bike_sim.h"
#include "bike/proving_ground.h"
#include "bike/roost.h"
#include "bike/ruts.h"
#include "tools/ride/ride.h"
#include "track/deform.h"
#include "track/terrain.h"

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double thread_seconds() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return (double)ts.tv_sec + 1e-9 * (double)ts.tv_nsec;
}

// Frames drawn at 60 Hz while the race steps at TICKS_PER_SECOND.
constexpr int FRAMES_PER_SECOND = 60;

struct Phases {
  double controls = 0, contact = 0, collide = 0, erode = 0, step = 0, force = 0, roost = 0;
  double rebake = 0;  // the part of erode spent re-baking shading
  double ours() const { return contact + collide + erode + force + roost; }
  double total() const { return ours() + step; }
};

// FNV-1a over raw bytes.
struct Digest {
  uint64_t h = 1469598103934665603ull;
  void add(const void* data, size_t n) {
    const unsigned char* p = (const unsigned char*)data;
    for (size_t i = 0; i < n; i++) h = (h ^ p[i]) * 1099511628211ull;
  }
  void add_reals(const double* v, int n) { add(v, sizeof(double) * (size_t)n); }
};

uint64_t state_digest(Bike* const bikes[], int count, const Terrain& terrain, const RoostRing& roost) {
  Digest d;
  for (int i = 0; i < count; i++)
    for (int k = 0; k < BODY_COUNT; k++) {
      dBodyID b = bikes[i]->body[k];
      d.add_reals(dBodyGetPosition(b), 3);
      d.add_reals(dBodyGetQuaternion(b), 4);
      d.add_reals(dBodyGetLinearVel(b), 3);
      d.add_reals(dBodyGetAngularVel(b), 3);
    }
  d.add(terrain.heights.data(), sizeof(float) * terrain.heights.size());
  d.add(terrain.shading.data(), terrain.shading.size());
  d.add(terrain.normal_map.data(), terrain.normal_map.size());
  for (const RoostParticle& p : roost.particle) {
    if (p.mode == ROOST_DISABLED) continue;
    d.add(&p.position, sizeof p.position);
    d.add(&p.velocity, sizeof p.velocity);
    d.add(&p.size, sizeof p.size);
    d.add(p.color, sizeof p.color);
  }
  return d.h;
}

struct Result {
  int bikes;
  int ticks;
  Phases seconds;
  int crashed;
  int64_t strokes;  // brush strokes during the timed ticks
  int64_t rebaked;  // vertices re-baked during the timed ticks
  double cpu_ours, cpu_step;
  uint64_t digest;
};

Result measure(Terrain* ground, Course course, int count, double run_seconds, float erosion) {
  const Terrain& terrain = *ground;
  create_bike_world();
  clear_roost(&g_roost);
  Bike* bikes[MAX_BIKES] = {};
  PathFollower followers[MAX_BIKES];
  int points = 0;
  const Vec3* line = proving_ground_line(&points);
  ControlOptions options{true, false};
  for (int i = 0; i < count; i++) {
    bikes[i] = create_bike(i % 3 == 0 ? "crf450(2016)" : (i % 3 == 1 ? "crf250(2016)" : "yz250(2012)"), i, nullptr,
                           nullptr, nullptr, nullptr, "1");
    Vec3 at;
    float heading = 0;
    if (course == COURSE_PROVING_GROUND) {
      // Spread along the line, facing along it.
      int k = (int)((long long)i * points / count);
      Vec3 a = line[k], b = line[(k + 1) % points];
      at = a;
      heading = std::atan2(-(b.x - a.x), -(b.z - a.z));
      followers[i].points = line;
      followers[i].count = points;
      followers[i].next = k;
      followers[i].speed = 30 * FEET_PER_SECOND_PER_MPH;
    } else {
      CourseStart s = course_start(course);
      at = Vec3{s.position.x + (float)(i % 16) * 12 - 90, 0, s.position.z + (float)(i / 16) * 14};
      heading = s.heading;
    }
    at.y = height_at(terrain, at.x, at.z);
    place_bike(bikes[i], at, heading);
  }
  Result r{count, 0, {}, 0, 0, 0, 0, 0, 0};
  int64_t strokes_before = 0;
  int warm = 256;
  int ticks = warm + (int)(run_seconds * TICKS_PER_SECOND);
  for (int64_t tick = 0; tick < ticks; tick++) {
    bool timed = tick >= warm;
    if (tick == warm) strokes_before = terrain.modification_count;
    Phases p;
    int64_t rebaked = 0;
    auto t0 = Clock::now();
    for (int i = 0; i < count; i++) {
      float control[CONTROL_COUNT] = {};
      if (followers[i].points) follow_path(&followers[i], *bikes[i], options, control);
      else control[CONTROL_THROTTLE] = 0.5f;
      apply_control_vector(bikes[i], control, options);
    }
    p.controls = since(t0);
    double cpu0 = thread_seconds();
    t0 = Clock::now();
    for (int i = 0; i < count; i++) bike_contact_step(bikes[i], terrain);
    p.contact = since(t0);
    t0 = Clock::now();
    collide_bikes(bikes);
    p.collide = since(t0);
    if (erosion > 0) {
      t0 = Clock::now();
      int order[MAX_BIKES];
      int n = wheel_terrain_order(bikes, tick, order);
      for (int k = 0; k < n; k++) erosion_step(bikes[order[k]], ground, erosion);
      // The frame drawn after this tick's steps, when one is due.
      if ((tick + 1) * FRAMES_PER_SECOND / TICKS_PER_SECOND != tick * FRAMES_PER_SECOND / TICKS_PER_SECOND) {
        auto r0 = Clock::now();
        rebaked = (int64_t)refresh_deformed_shading_on_pace(ground, (double)(tick + 1) * TICK_SECONDS);
        p.rebake = since(r0);
      }
      p.erode = since(t0);
    }
    double cpu1 = thread_seconds();
    t0 = Clock::now();
    step_bike_world();
    p.step = since(t0);
    double cpu2 = thread_seconds();
    t0 = Clock::now();
    for (int i = 0; i < count; i++) emit_roost(&g_roost, bikes[i], terrain);
    advance_roost(&g_roost, terrain);
    p.roost = since(t0);
    t0 = Clock::now();
    for (int i = 0; i < count; i++) bike_force_update(bikes[i], terrain, tick);
    p.force = since(t0);
    double cpu3 = thread_seconds();
    if (timed) {
      r.rebaked += rebaked;
      r.cpu_ours += (cpu1 - cpu0) + (cpu3 - cpu2);
      r.cpu_step += cpu2 - cpu1;
      r.ticks++;
      r.seconds.controls += p.controls;
      r.seconds.contact += p.contact;
      r.seconds.collide += p.collide;
      r.seconds.erode += p.erode;
      r.seconds.rebake += p.rebake;
      r.seconds.step += p.step;
      r.seconds.force += p.force;
      r.seconds.roost += p.roost;
    }
  }
  r.strokes = terrain.modification_count - strokes_before;
  r.digest = state_digest(bikes, count, terrain, g_roost);
  for (int i = 0; i < count; i++) {
    if (bikes[i]->crash_count > 0) r.crashed++;
    delete_bike(bikes[i]);
  }
  destroy_bike_world();
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  const char* course_name_arg = "proving_ground";
  const char* csv = nullptr;
  double run_seconds = 10;
  double erosion = 0;
  std::vector<int> counts = {1, 20, 160};
  for (int i = 1; i < argc; i++) {
    if (strcmp(argv[i], "--course") == 0 && i + 1 < argc) course_name_arg = argv[++i];
    else if (strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) run_seconds = atof(argv[++i]);
    else if (strcmp(argv[i], "--csv") == 0 && i + 1 < argc) csv = argv[++i];
    else if (strcmp(argv[i], "--erode") == 0 && i + 1 < argc) erosion = atof(argv[++i]);
    else if (strcmp(argv[i], "--counts") == 0 && i + 1 < argc) {
      counts.clear();
      for (char* p = strtok(argv[++i], ","); p; p = strtok(nullptr, ",")) {
        int n = atoi(p);
        if (n >= 1 && n <= MAX_BIKES) counts.push_back(n);
      }
    } else {
      fprintf(stderr,
              "usage: bench_bike [--course NAME] [--seconds S] [--counts 1,20,160] [--erode E] [--csv FILE]\n");
      return 1;
    }
  }
  if (!(run_seconds > 0 && run_seconds <= 600) || counts.empty() || !(erosion >= 0 && erosion <= 100)) {
    fprintf(stderr, "bad --seconds, --counts or --erode\n");
    return 1;
  }
  Course course;
  if (!course_by_name(course_name_arg, &course)) {
    fprintf(stderr, "unknown course '%.64s'\n", course_name_arg);
    return 1;
  }
  static Terrain terrain;
  auto build = [&]() {
    build_course(&terrain, course);
    build_normal_map(&terrain);
  };
  build();

  printf("course %s, %.0f s of riding after 2 s warm-up, erosion %g; microseconds per tick\n", course_name(course),
         run_seconds, erosion);
  if (erosion > 0)
    printf("erode includes the shading re-bake: frames at %d Hz, re-baking at most every %.1f ms\n",
           FRAMES_PER_SECOND, SHADING_REFRESH_SECONDS * 1000);
  printf("%6s %9s %9s %9s %9s %9s %9s %9s %9s %7s %9s %7s %10s %10s %9s %8s %8s %8s %9s\n", "bikes", "contacts",
         "collide", "erode", "force", "roost", "ours", "step", "total", "ratio", "realtime", "crashed", "erode/bike",
         "strokes/bt", "rebaked/t", "rebake", "cpu ours", "cpu step", "cpu ratio");
  FILE* out = csv ? fopen(csv, "a") : nullptr;
  if (csv && !out) fprintf(stderr, "can't append to '%.900s'\n", csv);
  for (int n : counts) {
    if (erosion > 0) build();  // every count digs fresh ground
    Result r = measure(&terrain, course, n, run_seconds, (float)erosion);
    double per = 1e6 / r.ticks;
    const Phases& s = r.seconds;
    double ratio = s.total() / s.step;
    double realtime = TICK_SECONDS * r.ticks / s.total();
    printf("%6d %9.1f %9.1f %9.1f %9.1f %9.1f %9.1f %9.1f %9.1f %7.2f %8.1fx %7d %10.2f %10.3f %9.1f %8.1f %8.1f %8.1f %9.2f\n",
           n, s.contact * per, s.collide * per, s.erode * per, s.force * per, s.roost * per, s.ours() * per,
           s.step * per, s.total() * per, ratio, realtime, r.crashed, s.erode * per / n,
           (double)r.strokes / r.ticks / n, (double)r.rebaked / r.ticks, s.rebake * per, r.cpu_ours * per, r.cpu_step * per,
           (r.cpu_ours + r.cpu_step) / r.cpu_step);
    printf("%6s state %016llx\n", "", (unsigned long long)r.digest);
    if (out)
      fprintf(out, "%s,%d,%.2f,%.2f,%.2f,%.2f,%.2f,%.2f,%.3f,%.2f,%g,%.2f\n", course_name(course), n,
              s.contact * per, s.collide * per, s.force * per, s.roost * per, s.step * per, s.total() * per, ratio,
              realtime, erosion, s.erode * per);
  }
  if (out) fclose(out);
  return 0;
}
