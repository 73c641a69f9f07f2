// A server and headless riders in one process on loopback, over a fixture
// track, for the server's end-to-end tests and the benchmark.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "render/texture.h"
#include "tests/track/track_fixture.h"
#include "tools/net_riders/headless_rider.h"
#include "tools/race_server/server.h"

struct LoopbackRace {
  ScratchData data;
  RaceServer server;
  RunnerWorld world;
  std::vector<std::unique_ptr<HeadlessRider>> riders;

  explicit LoopbackRace(const std::string& track = "rabbithill") { build_fixture_track(data, track, true); }
  ~LoopbackRace() {
    for (auto& r : riders) net_shutdown(&r->client);
    stop_server(&server);
    free_runner_world(&world);
    purge_textures(true);
  }

  // Quiet unless the config says otherwise.
  bool start(ServerConfig config) {
    config.port = 0;
    if (!start_server(&server, config, platform_seconds())) return false;
    init_runner_world(&world);
    return true;
  }
  HeadlessRider* add_rider(double lag = 0.0, int loss = 0) {
    riders.push_back(std::make_unique<HeadlessRider>());
    HeadlessRider* r = riders.back().get();
    init_headless_rider(r, &world, (int)riders.size() - 1, "Rider");
    if (lag > 0 || loss > 0) set_fake_link(&r->client, lag, loss, (uint32_t)riders.size() * 7919u);
    net_connect(&r->client, ("127.0.0.1:" + std::to_string(server_port(server))).c_str());
    return r;
  }
  // Runs server and riders in real time until done() or the time is up.
  template <typename Done>
  bool run(double seconds, Done done) {
    const double end = platform_seconds() + seconds;
    while (platform_seconds() < end) {
      const double now = platform_seconds();
      server_tick(&server, now);
      for (auto& r : riders) run_headless_rider(r.get(), now);
      if (done()) return true;
      wait_readable(server.socket, 0.001);
    }
    return false;
  }
  // Every rider has the whole results table.
  bool all_results() const {
    for (const auto& r : riders)
      if (!r->results_seen || r->results.size() < riders.size()) return false;
    return !riders.empty();
  }
};
