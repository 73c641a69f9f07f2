// The game's race joined to our server through the network client: the
// online reset with the server's lineup, track and gate drop, the remote
// riders as history-driven bikes fed with their states, their timing
// entries in the race's tables, and the local bike's states reaching them.
#include <gtest/gtest.h>

#include <memory>

#include "core/discovery.h"
#include "net/race_link.h"
#include "platform/clock.h"
#include "render/texture.h"
#include "replay/history.h"
#include "tests/race/race_fixture.h"
#include "tools/net_riders/headless_rider.h"
#include "tools/race_server/server.h"

namespace {

class RaceLinkTest : public RaceTest {
 protected:
  void SetUp() override {
    RaceTest::SetUp();
    write_race_track(data, "flat", 4);
    discover_tracks(&g_tracks, 0);
  }
  void TearDown() override {
    for (auto& r : riders_) net_shutdown(&r->client);
    net_shutdown(&client_);
    stop_server(&server_);
    free_runner_world(&world_);
    RaceTest::TearDown();
    purge_textures(true);
  }

  void start() {
    ServerConfig config;
    config.quiet = true;
    config.port = 0;
    config.tracks = {"flat"};
    config.laps = 1;
    config.warmup_seconds = 3.0;
    config.gate_drop_seconds = 2.0;
    config.finish_seconds = 2.0;
    config.robot_speed = 150.0f;
    config.robots = robots_;
    ASSERT_TRUE(start_server(&server_, config, platform_seconds()));
    init_runner_world(&world_);
    const std::string address = "127.0.0.1:" + std::to_string(server_port(server_));
    for (int i = 0; i < 2; i++) {
      riders_.push_back(std::make_unique<HeadlessRider>());
      init_headless_rider(riders_.back().get(), &world_, i, "Rider");
      riders_.back()->speed = 120.0f;
      net_connect(&riders_.back()->client, address.c_str());
    }
    link_.client = &client_;
    link_.race = race.get();
    link_client_to_race(&link_);
    init_net_client(&client_);
    client_.own_info.model = race->player.model;
    client_.own_info.name = "Player";
    net_connect(&client_, address.c_str());
  }
  // Real time for the server and the riders; the game's client steps its
  // race at 128 ticks a second once the server's clock has arrived.
  template <typename Done>
  bool run(double seconds, Done done) {
    const double end = platform_seconds() + seconds;
    double next = platform_seconds();
    while (platform_seconds() < end) {
      const double now = platform_seconds();
      server_tick(&server_, now);
      for (auto& r : riders_) run_headless_rider(r.get(), now);
      for (int i = 0; i < 4 && next <= now; i++, next += TICK_SECONDS) {
        net_service(&client_, now);
        if (client_.latest_server_tick > 0) race_step(race.get());
      }
      if (next < now - 0.2) next = now;
      if (done()) return true;
      wait_readable(server_.socket, 0.001);
    }
    return false;
  }

  int robots_ = 0;
  RaceServer server_;
  RunnerWorld world_;
  std::vector<std::unique_ptr<HeadlessRider>> riders_;
  NetClient client_;
  RaceLink link_;
};

TEST_F(RaceLinkTest, TheGamesRaceRidesOnTheServersRace) {
  robots_ = 2;
  start();
  ASSERT_TRUE(run(60.0, [&] { return server_.phase == PHASE_RACE && client_.race_id == server_.race_id && client_.state == NET_RACING; }));
  const int own = client_.riding_slot;
  ASSERT_NE(own, NO_BIKE);
  EXPECT_EQ(race->local_slot, own);
  EXPECT_EQ(race->mode[own], RACE_SLOT_LOCAL);
  EXPECT_EQ(race->gate_drop_tick, server_.gate_drop_tick);
  EXPECT_EQ(race->track->name, "flat");
  EXPECT_TRUE(race->seams.net.online(race->seams.net.context));
  EXPECT_TRUE(race->seams.net.server_race_running(race->seams.net.context));
  std::vector<int> remote;
  for (auto& r : riders_) remote.push_back(r->client.client_slot);
  for (int slot : remote) {
    ASSERT_NE(race->bikes[slot], nullptr) << slot;
    EXPECT_EQ(race->mode[slot], RACE_SLOT_HISTORY);
    EXPECT_EQ(race->riders[slot].name.rfind("Rider ", 0), 0u) << race->riders[slot].name;
    EXPECT_EQ(client_.slot_request[slot], SLOT_REQUEST_PLAYER);
  }
  // The server's robots come as robot numbers 0 and 1 in the top slots,
  // ridden by the server's states, not by a robot of our own.
  for (int n = 0; n < robots_; n++) {
    const int slot = server_.config.max_riders - 1 - n;
    EXPECT_EQ(client_.slot_request[slot], SLOT_REQUEST_ROBOT + n) << slot;
    EXPECT_EQ(lineup_code_for_request(client_.slot_request[slot]), LINEUP_ROBOT_NUMBER + n);
    ASSERT_NE(race->bikes[slot], nullptr) << slot;
    EXPECT_EQ(race->mode[slot], RACE_SLOT_HISTORY);
    EXPECT_EQ(race->personality[slot], n);
    EXPECT_EQ(race->riders[slot].name, "Robot " + std::to_string(n + 1));
    remote.push_back(slot);
  }

  // The riders race their lap; the results wait for every entry to arrive.
  std::vector<BikeTiming> at_results;
  ASSERT_TRUE(run(90.0, [&] {
    if (server_.races_finished == 0) return false;
    for (int slot : remote) at_results.push_back(race->timing[slot]);
    return true;
  }));
  for (size_t i = 0; i < remote.size(); i++) {
    const BikeTiming& ours = at_results[i];
    const BikeTiming& servers = server_.clients[(size_t)remote[i]].timing;
    EXPECT_GT(servers.gates_passed, 0);
    EXPECT_EQ(ours.gates_passed, servers.gates_passed) << "slot " << remote[i];
    for (int g = 0; g < servers.gates_passed; g++) EXPECT_EQ(pass_tick(ours, g), pass_tick(servers, g)) << g;
    EXPECT_GT(history_size(g_histories[remote[i]]), 0);
    // And our bike reached the riders.
    if (i < riders_.size()) {
      EXPECT_GT(riders_[i]->states_received[own], 20);
    }
  }
}

}  // namespace
