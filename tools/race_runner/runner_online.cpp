#include "tools/race_runner/runner_online.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/discovery.h"
#include "core/frame_timing.h"
#include "race/race.h"

namespace {

void print_message(void* context, const char* text) {
  OnlineRunner* o = static_cast<OnlineRunner*>(static_cast<RaceLink*>(context)->owner);
  std::string line = text;
  while (!line.empty() && line.back() == '\n') line.pop_back();
  if (line == "Results:") o->results_seen++;
  if (o->echo) printf("%s\n", line.c_str());
  o->messages.push_back(line);
}

// A new race from the server: the line and the robot for its track and laps.
void prepare_when_new(OnlineRunner* o) {
  const NetClient& c = o->client;
  if (c.state != NET_WAITING && c.state != NET_RACING) return;
  if (c.race_id == o->prepared_race && c.riding_slot == o->prepared_slot) return;
  o->prepared_race = c.race_id;
  o->prepared_slot = c.riding_slot;
  o->races_prepared++;
  o->runner.start_tick = o->runner.race.tick;
  if (o->runner.race.local_slot != NO_BIKE) prepare_player(&o->runner, c.race_time > 0 ? 0 : c.laps);
}

}  // namespace

bool start_online_runner(OnlineRunner* o, const RunnerOptions& given, const char* address, char* error,
                         size_t error_size) {
  discover_tracks(&g_tracks, 0);
  RunnerOptions options = given;
  if (options.track.empty() && options.course.empty()) {
    if (g_tracks.paths.empty()) {
      snprintf(error, error_size, "no track is installed");
      return false;
    }
    options.track = g_tracks.paths[0];
  }
  options.record_demo.clear();
  options.play_demo.clear();
  if (!start_runner(&o->runner, options, error, error_size)) return false;
  o->link.client = &o->client;
  o->link.race = &o->runner.race;
  o->link.skill = options.skill;
  o->link.owner = o;
  o->client.hooks.print = print_message;
  link_client_to_race(&o->link);
  init_net_client(&o->client);
  const RaceRider& player = o->runner.race.player;
  o->client.own_info.model = player.model;
  o->client.own_info.number = player.number;
  o->client.own_info.name = player.name;
  net_connect(&o->client, address);
  return true;
}

void run_online_runner(OnlineRunner* o, double now) {
  const NetClient& c = o->client;
  const Race& race = o->runner.race;
  ConnectedClock clock = {net_connected(c), c.latest_server_tick, race.tick, c.gate_drop_tick};
  const bool first = o->clock.reading < 0;
  const int steps = real_time_steps_due(&o->clock, now, clock);
  if (first) net_service(&o->client, now);
  for (int i = 0; i < steps; i++) {
    net_service(&o->client, now);
    prepare_when_new(o);
    // The race runs on the server's clock once it has arrived.
    if (net_connected(o->client) && o->client.latest_server_tick > 0 && race.track) step_runner(&o->runner);
  }
}

void end_online_runner(OnlineRunner* o) {
  net_shutdown(&o->client);
  end_runner(&o->runner);
}
