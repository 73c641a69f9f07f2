// sound_sweep: rides a scripted run (idle, full throttle up through the
// gears with a shift at the top of each, a spell on the rev limiter, a
// closed-throttle run down) and records its engine sound exactly as
// "--record-audio" does: 690 16-bit mono samples per tick at 88320 Hz.
//
//   sound_sweep [--class 450f] [--skin name.png] [--data dir] [--pass-by]
//               [--log ticks.txt] out.raw
//
// --pass-by adds a competitor riding past the listener at 60 mph. --log
// writes one line per tick: time, rpm, throttle, load, gear, limiter.
// Convert with: sox -t raw -r 88320 -e signed -b 16 -c 1 out.raw out.wav
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/datafile.h"
#include "core/types.h"
#include "sound/sound.h"
#include "sound/sound_output.h"

namespace {

// A five-speed gearbox: engine rpm per ft/s of road speed in each gear.
constexpr double GEAR_RPM_PER_FPS[] = {300, 215, 165, 132, 110};
constexpr int GEARS = 5;
constexpr double SHIFT_RPM = 10500;
constexpr double LIMIT_RPM = 11500;

struct Ride {
  double time = 0, speed = 0, rpm = 1400;
  int gear = 0;
  double throttle = 0, load = 0;
  bool limiter = false;
  double shift_timer = 0;  // clutch pulled while shifting
};

// One tick of the scripted ride. Phases: 0-1.5 s idle, then full throttle
// through the gears, 1.2 s on the limiter in top, then off the throttle.
void step_ride(Ride* r, double dt, double* limiter_time) {
  r->time += dt;
  if (r->time < 1.5) {
    r->throttle = 0.0;
    r->load = 0.05;
    r->rpm += (1400 - r->rpm) * 0.1;
    r->limiter = false;
    return;
  }
  bool accelerating = *limiter_time < 1.2;
  if (accelerating) {
    if (r->shift_timer > 0) {
      // Clutch in, throttle off for 80 ms: the revs sag toward the next
      // gear's speed.
      r->shift_timer -= dt;
      r->throttle = 0.1;
      r->load = 0.1;
      double target = r->speed * GEAR_RPM_PER_FPS[r->gear];
      r->rpm += (target - r->rpm) * 0.35;
      return;
    }
    r->throttle = 1.0;
    // Drive force falls with gear; drag grows with speed.
    double accel = 40.0 * GEAR_RPM_PER_FPS[r->gear] / GEAR_RPM_PER_FPS[0] - 0.0009 * r->speed * r->speed;
    if (r->rpm >= LIMIT_RPM) accel = std::min(accel, 0.0);
    r->speed = std::max(0.0, r->speed + accel * dt);
    double wheel_rpm = r->speed * GEAR_RPM_PER_FPS[r->gear];
    // First gear slips the clutch up to 4500.
    r->rpm = std::max(wheel_rpm, r->gear == 0 ? std::min(4500.0, r->rpm + 6000 * dt) : wheel_rpm);
    r->load = r->limiter ? 0.3 : 0.9;
    if (r->rpm > SHIFT_RPM && r->gear < GEARS - 1) {
      r->gear++;
      r->shift_timer = 0.08;
    }
    r->limiter = r->gear == GEARS - 1 && r->rpm >= LIMIT_RPM - 50;
    if (r->rpm > LIMIT_RPM) r->rpm = LIMIT_RPM;
    if (r->limiter) *limiter_time += dt;
  } else {
    r->throttle = 0.0;
    r->load = 0.0;
    r->limiter = false;
    r->speed = std::max(0.0, r->speed - 14.0 * dt);
    r->rpm = std::max(1400.0, r->speed * GEAR_RPM_PER_FPS[r->gear]);
  }
}

int usage() {
  fprintf(stderr,
          "usage: sound_sweep [--class 450f] [--skin name.png] [--data dir] [--pass-by] [--log ticks.txt] out.raw\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const char* engine_class = "450f";
  const char* skin = nullptr;
  const char* out = nullptr;
  const char* log_path = nullptr;
  bool pass_by = false;
  for (int i = 1; i < argc; i++) {
    if (strcmp(argv[i], "--class") == 0 && i + 1 < argc) {
      engine_class = argv[++i];
    } else if (strcmp(argv[i], "--skin") == 0 && i + 1 < argc) {
      skin = argv[++i];
    } else if (strcmp(argv[i], "--data") == 0 && i + 1 < argc) {
      set_search_directories({argv[++i]});
    } else if (strcmp(argv[i], "--log") == 0 && i + 1 < argc) {
      log_path = argv[++i];
    } else if (strcmp(argv[i], "--pass-by") == 0) {
      pass_by = true;
    } else if (argv[i][0] == '-' || out) {
      return usage();
    } else {
      out = argv[i];
    }
  }
  if (!out) return usage();
  if (!open_sound_output(out, false)) {
    fprintf(stderr, "sound_sweep: can't write %s\n", out);
    return 1;
  }
  FILE* log = log_path ? fopen(log_path, "w") : nullptr;
  create_bike_sound(0, skin, engine_class);
  if (pass_by) create_bike_sound(1, nullptr, "250");
  printf("engine sound: %s\n", *bike_sound_file(0) ? bike_sound_file(0) : "built-in");

  Ride ride;
  double limiter_time = 0;
  const double total = 14.0;
  SoundListener listener = {{0, 5, 0}, {0, 0, 0}, {1, 0, 0}};
  set_sound_listener(listener);
  for (int64_t tick = 0; tick * TICK_SECONDS < total; tick++) {
    step_ride(&ride, TICK_SECONDS, &limiter_time);
    EngineSoundInput input = {ride.rpm, ride.throttle, ride.load, 0, ride.limiter, {0, 3, 0}, {0, 0, 0}};
    produce_bike_sound(0, input, 1.0f, true);
    if (pass_by) {
      // 88 ft/s along -Z, 30 ft to the listener's right, closest at 7 s.
      double t = ride.time - 7.0;
      EngineSoundInput other = {8500, 1, 0.8, 0, false, {30, 3, (float)(-88 * t)}, {0, 0, -88}};
      produce_bike_sound(1, other, 0.8f, false);
    }
    if (!capture_sound_tick()) {
      fprintf(stderr, "sound_sweep: writing %s failed\n", out);
      return 1;
    }
    if (log)
      fprintf(log, "%.4f %.0f %.2f %.2f %d %d\n", ride.time, ride.rpm, ride.throttle, ride.load, ride.gear + 1,
              ride.limiter ? 1 : 0);
  }
  if (log) fclose(log);
  close_sound_output();
  delete_all_bike_sounds();
  return 0;
}
