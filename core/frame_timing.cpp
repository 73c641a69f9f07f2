#include "core/frame_timing.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace {

int frame_bucket(double slice) {
  for (int k = 0; k < FRAME_TIME_BUCKETS; k++) {
    if (slice < STEP_SECONDS * (double)(1 << k)) return k;
  }
  return FRAME_TIME_BUCKETS - 1;
}

}  // namespace

void start_frame_clock(FrameClock* clock, double now) {
  *clock = FrameClock{};
  clock->reading = now;
  clock->stats.shortest = DBL_MAX;
  clock->stats.longest = 0;
}

double connected_time_scale(const ConnectedClock& net) {
  if (!net.connected) return 1.0;
  // How far the server's clock is ahead of ours, less the one tick in flight.
  double x = (double)(net.newest_server_tick - net.local_tick - 1) * STEP_SECONDS;
  if (x < 0) return 0.5 + 0.5 * std::clamp(x + 1.0, 0.0, 1.0);
  // Before the gate drops there is nothing to disturb: catch up hard.
  if (net.local_tick < net.gate_drop_tick) return 1.0 + 3.0 * std::clamp(x, 0.0, 1.0);
  return 1.0 + 0.125 * std::clamp(8.0 * x, 0.0, 1.0);
}

double advance_frame_clock(FrameClock* clock, const FrameTimingSettings& settings, const ConnectedClock& net,
                           const LoopPlatform& platform) {
  double previous = clock->reading;
  double reading = platform.now();
  clock->stats.counts[frame_bucket(reading - previous)]++;

  double dt;
  if (!net.connected && settings.lock_fps > 0 && std::isfinite(settings.lock_fps)) {
    dt = 1.0 / settings.lock_fps;
    if (reading < previous + dt) {
      platform.sleep_until(previous + dt);
      reading = platform.now();
    }
  } else if (!net.connected && settings.warp) {
    dt = STEP_SECONDS * WARP_STEPS_PER_FRAME;
  } else {
    // Ahead of real time by less than a step: sleep instead of spinning.
    while (reading - previous < STEP_SECONDS) {
      platform.sleep_until(previous + STEP_SECONDS);
      double again = platform.now();
      // A clock that does not move (or a sleep that returns at once) must not
      // hang the loop: take the step's worth and go on.
      if (again <= reading) {
        reading = previous + STEP_SECONDS;
        break;
      }
      reading = again;
    }
    dt = std::min(reading - previous, MAX_FRAME_SLICE);
  }
  clock->reading = reading;
  clock->stats.shortest = std::min(clock->stats.shortest, dt);
  clock->stats.longest = std::max(clock->stats.longest, dt);

  dt *= connected_time_scale(net);
  clock->target += dt;
  clock->game_clock += dt;
  return dt;
}

int real_time_steps_due(RealTimeSteps* clock, double now, const ConnectedClock& net) {
  if (clock->reading < 0) {
    clock->reading = now;
    clock->simulated = clock->target = 0.0;
    return 0;
  }
  const double dt = std::clamp(now - clock->reading, 0.0, MAX_FRAME_SLICE);
  clock->reading = now;
  clock->target += dt * connected_time_scale(net);
  const int most = (int)std::lround(MAX_FRAME_SLICE / STEP_SECONDS);
  int steps = 0;
  while (clock->simulated + STEP_SECONDS <= clock->target && steps < most) {
    clock->simulated += STEP_SECONDS;
    steps++;
  }
  if (steps == most) clock->simulated = clock->target;
  return steps;
}

bool begin_fixed_step(FrameClock* clock, double* deadline) {
  if (clock->simulated >= clock->target) return false;
  clock->simulated += STEP_SECONDS;
  *deadline = clock->reading - (clock->target - clock->simulated);
  return true;
}

bool next_step_event(const LoopPlatform& platform, double deadline, InputEvent* out) {
  if (platform.now() < deadline && platform.wait_event(deadline, out)) return true;
  return platform.poll_event(deadline, out);
}
