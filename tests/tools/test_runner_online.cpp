// The race runner as a player on our server: its race joined through the
// network client, its bike ridden by a robot or by the script's follower in
// real time, against a headless rider. The server must take the runner's
// lap reports (checked against its gates and its states), count it as
// finished in the results, and the runner must see those results and the
// other rider as a bike fed by the server's states.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "core/discovery.h"
#include "platform/clock.h"
#include "render/texture.h"
#include "replay/history.h"
#include "tests/race/race_fixture.h"
#include "tests/tools/follow_script.h"
#include "tools/net_riders/headless_rider.h"
#include "tools/race_runner/runner_online.h"
#include "tools/race_server/server.h"

namespace {

class RunnerOnline : public ::testing::Test {
 protected:
  void SetUp() override { write_race_track(data_, "flat", 4); }
  void TearDown() override {
    if (online_) end_online_runner(online_.get());
    net_shutdown(&rider_.client);
    if (started_) stop_server(&server_);
    free_runner_world(&world_);
    purge_textures(true);
  }

  void ride(int player) {
    ServerConfig config;
    config.quiet = true;
    config.port = 0;
    config.tracks = {"flat"};
    config.laps = 1;
    config.warmup_seconds = 4.0;
    config.gate_drop_seconds = 2.0;
    config.finish_seconds = 20.0;
    ASSERT_TRUE(start_server(&server_, config, platform_seconds()));
    started_ = true;
    const std::string address = "127.0.0.1:" + std::to_string(server_port(server_));

    RunnerOptions options;
    options.script = follow_script(25);
    options.player_rider = player;
    online_ = std::make_unique<OnlineRunner>();
    char error[256];
    ASSERT_TRUE(start_online_runner(online_.get(), options, address.c_str(), error, sizeof error)) << error;
    init_runner_world(&world_);
    init_headless_rider(&rider_, &world_, 0, "Rider");
    rider_.speed = 40.0f;
    net_connect(&rider_.client, address.c_str());

    // Real time for everyone until the runner has seen the results.
    const double end = platform_seconds() + 150.0;
    while (platform_seconds() < end && online_->results_seen == 0) {
      const double now = platform_seconds();
      server_tick(&server_, now);
      run_headless_rider(&rider_, now);
      run_online_runner(online_.get(), now);
      if (server_.phase == PHASE_RACE) saw_race_ = true;
      wait_readable(server_.socket, 0.001);
    }
    ASSERT_EQ(online_->results_seen, 1);
    const int own = online_->client.riding_slot;
    ASSERT_NE(own, NO_BIKE);
    runner_slot_ = own;
    EXPECT_EQ(online_->runner.race.local_slot, own);
    EXPECT_EQ(online_->runner.race.track->name, "flat");
    EXPECT_GE(online_->races_prepared, 2);  // a warmup, then the race
    // The other rider rode in the runner's race on the server's states.
    const int other = rider_.client.client_slot;
    ASSERT_NE(online_->runner.race.bikes[other], nullptr);
    EXPECT_EQ(online_->runner.race.mode[other], RACE_SLOT_HISTORY);
    EXPECT_GT(history_size(g_histories[other]), 20);
    EXPECT_GT(rider_.states_received[own], 20);
  }

  ScratchData data_;
  RaceServer server_;
  bool started_ = false;
  RunnerWorld world_;
  HeadlessRider rider_;
  std::unique_ptr<OnlineRunner> online_;
  bool saw_race_ = false;
  int runner_slot_ = NO_BIKE;
};

TEST_F(RunnerOnline, ARobotRidesTheServersRaceToTheFinish) {
  ride(PLAYER_ROBOT);
  if (HasFatalFailure()) return;
  EXPECT_TRUE(saw_race_);
  const BikeTiming& servers = server_.clients[(size_t)runner_slot_].timing;
  EXPECT_TRUE(servers.finished);
  EXPECT_EQ(servers.gates_passed, server_.track.gates.first_lap);
  // The server and the runner agree on every gate's tick.
  const BikeTiming& ours = online_->runner.race.timing[runner_slot_];
  for (int g = 0; g < servers.gates_passed; g++) EXPECT_EQ(pass_tick(ours, g), pass_tick(servers, g)) << g;
  ASSERT_FALSE(server_.results.empty());
  EXPECT_EQ(std::count_if(server_.results.begin(), server_.results.end(),
                          [](const std::string& l) { return l.find("not finished") != std::string::npos; }),
            0);
}

TEST_F(RunnerOnline, TheScriptedPlayerFinishes) {
  ride(PLAYER_SCRIPTED);
  if (HasFatalFailure()) return;
  EXPECT_TRUE(server_.clients[(size_t)runner_slot_].timing.finished);
}

TEST_F(RunnerOnline, AnIdlePlayerWaitsAtItsGate) {
  ride(PLAYER_IDLE);
  if (HasFatalFailure()) return;
  EXPECT_EQ(server_.clients[(size_t)runner_slot_].timing.gates_passed, 0);
  EXPECT_FALSE(server_.clients[(size_t)runner_slot_].timing.finished);
}

}  // namespace
