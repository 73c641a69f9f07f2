#include "platform/clock.h"

#include <csignal>
#include <ctime>
#include <sched.h>

namespace {

// Written from a signal handler: a lock-free flag is all it may touch.
volatile std::sig_atomic_t g_shutdown_requested = 0;

extern "C" void on_shutdown_signal(int) { g_shutdown_requested = 1; }

}  // namespace

void platform_clock(long* seconds, long* microseconds) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  *seconds = (long)now.tv_sec;
  *microseconds = now.tv_nsec / 1000;
}

double platform_seconds() {
  long s, us;
  platform_clock(&s, &us);
  return (double)s + (double)us * 1e-6;
}

void precise_sleep_until(double deadline) {
  // Once shutdown is asked for, nothing is worth waiting for.
  if (g_shutdown_requested) return;
  double remaining = deadline - platform_seconds();
  if (remaining <= 0) return;
  long whole_ms = (long)(remaining * 1000.0) - 1;
  if (whole_ms > 0) {
    timespec ts;
    ts.tv_sec = whole_ms / 1000;
    ts.tv_nsec = (whole_ms % 1000) * 1000000L;
    // An interrupted sleep (a signal) just ends early; the yield loop below
    // still waits for the deadline unless shutdown was asked for.
    nanosleep(&ts, nullptr);
  }
  while (platform_seconds() < deadline) {
    if (g_shutdown_requested) return;
    sched_yield();
  }
}

void precise_sleep(double seconds) { precise_sleep_until(platform_seconds() + seconds); }

void install_shutdown_signals() {
  struct sigaction action = {};
  action.sa_handler = on_shutdown_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

void request_shutdown() { g_shutdown_requested = 1; }

bool shutdown_requested() { return g_shutdown_requested != 0; }

void clear_shutdown_request_for_tests() { g_shutdown_requested = 0; }
