// The race runner on a race server: the runner's race joined to the server
// through the network client (net/race_link.h), in real time with the
// connected stretch of the game's frame timing. The player's bike is ridden
// by the ride script's follower, by a robot rider or by nobody (it waits at
// its gate), as RunnerOptions::player_rider says; every other rider is the
// server's. After each race reset from the server the riding line and the
// robot are prepared again for the server's track and laps.
#pragma once

#include <string>
#include <vector>

#include "core/frame_timing.h"
#include "net/client.h"
#include "net/race_link.h"
#include "tools/race_runner/runner.h"

struct OnlineRunner {
  Runner runner;
  NetClient client;
  RaceLink link;
  RealTimeSteps clock;
  // The race (server race id and riding slot) the player was prepared for.
  uint32_t prepared_race = 0;
  int prepared_slot = NO_BIKE;
  int races_prepared = 0;
  std::vector<std::string> messages;  // what the client printed, line by line
  int results_seen = 0;               // the server's "Results:" lines
  bool echo = false;                  // messages also to standard output
};

// Starts the runner (options.track is the track loaded before the server's
// arrives; empty: the first installed one) and the connection to `address`.
bool start_online_runner(OnlineRunner* online, const RunnerOptions& options, const char* address, char* error,
                         size_t error_size);
// Once per loop: the network service and the race steps real time `now` asks for.
void run_online_runner(OnlineRunner* online, double now);
// The disconnect and the runner's end.
void end_online_runner(OnlineRunner* online);
