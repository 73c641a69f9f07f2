// The platform clock, the precise sleep and the shutdown request that SIGINT
// and SIGTERM raise. No SDL: the headless tools and the race server use them too.
#pragma once

// Monotonic time split into whole seconds and microseconds, the form the
// frame timing reads.
void platform_clock(long* seconds, long* microseconds);
// The same reading as seconds (seconds + microseconds x 1e-6).
double platform_seconds();

// Sleeps until platform_seconds() >= deadline: the whole milliseconds less
// one are slept, the rest is spent yielding, so the wake-up is late by at most
// a scheduler slice instead of a timer tick. Returns at once, or early, once
// shutdown has been requested.
void precise_sleep_until(double deadline);
void precise_sleep(double seconds);

// SIGINT and SIGTERM only raise the shutdown request, so the game leaves its
// loop and shuts down normally (configuration saved, log closed).
void install_shutdown_signals();
void request_shutdown();
bool shutdown_requested();
void clear_shutdown_request_for_tests();
