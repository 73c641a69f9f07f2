// The game itself online: our server and ten headless riders in this
// process, the game executable on a private Xvfb joining with "--connect",
// two laps of "rabbithill" from the shipped data set. The game's rider
// stands at its gate; the others race. Everyone must hear everyone's bike,
// the riders must agree with the server on the order, the game must show
// the results, record every rider's bike in its demo of the race, and at its
// end it must say goodbye to the server.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "core/datafile.h"
#include "platform/clock.h"
#include "render/texture.h"
#include "replay/demo.h"
#include "replay/history.h"
#include "tests/platform/game_process.h"
#include "tests/platform/xvfb.h"
#include "tools/net_riders/headless_rider.h"
#include "tools/race_server/server.h"

namespace {

// For every rider named in the game's recorded demos (the race's own and
// the numbered backups of those recorded before and after it), the most
// distinct state ticks any one demo holds: what the game heard of that bike.
std::map<std::string, size_t> demo_states_by_rider(const std::string& demos) {
  std::map<std::string, size_t> most;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(demos, error)) {
    if (entry.path().extension() != ".dvdemo") continue;
    DemoPlayer p;
    if (!open_demo(&p, entry.path().string().c_str(), false)) continue;
    std::vector<StateHistory> h(MAX_BIKES);
    clear_all_histories(h.data());
    for (int i = 0; i < p.rider_count; i++) set_demo_rider_slot(&p, i, i, nullptr);
    std::vector<std::set<int>> ticks((size_t)p.rider_count);
    int tick = 0;
    for (int guard = 0; guard < 1000000 && !p.ended; guard++) {
      read_demo_ahead(&p, h.data(), &tick);
      for (int i = 0; i < p.rider_count; i++)
        for (int e = 0; e < HISTORY_ENTRIES; e++)
          if (h[(size_t)i].stamp[e] >= 0) ticks[(size_t)i].insert(h[(size_t)i].stamp[e]);
      tick += DEMO_CHUNK_INTERVAL;
    }
    for (int i = 0; i < p.rider_count && i < (int)p.riders.size(); i++) {
      size_t& best = most[p.riders[(size_t)i].name];
      best = std::max(best, ticks[(size_t)i].size());
    }
    close_demo(&p);
  }
  return most;
}

class OnlineGame : public ::testing::Test {
 protected:
  void SetUp() override {
    data_ = DV_GAME_DIR;
    if (!std::filesystem::exists(data_ + "/zzzz.saf") || !std::filesystem::exists(data_ + "/dirtvane"))
      GTEST_SKIP() << "the shipped data set is not built in " << data_;
    std::string why;
    if (!xvfb_.start(&why)) GTEST_SKIP() << why;
    ASSERT_TRUE(game_.make_root("dv_online"));
    game_.data_root = data_;
    root_ = game_.root;
    std::filesystem::create_directories(root_ + "/server");
    write_text(game_.home + "config", "video_mode=Windowed\nxres=160\nyres=120\nname=Game Player\nrecord=Yes\ndemo_backups=5\n");
    set_search_directories({root_ + "/server", data_});
  }
  void TearDown() override {
    game_.finish(0);
    for (auto& r : riders_) net_shutdown(&r->client);
    if (started_) stop_server(&server_);
    free_runner_world(&world_);
    purge_textures(true);
  }

  void start_game(int port, bool lossy) {
    const std::string address = "127.0.0.1:" + std::to_string(port);
    std::vector<std::string> arguments = {"--connect", address};
    if (lossy) arguments.insert(arguments.end(), {"--fake-lag", "300", "--fake-loss", "30"});
    game_.start((data_ + "/dirtvane").c_str(), arguments);
  }

  // Server and riders in real time until done().
  template <typename Done>
  bool run(double seconds, Done done) {
    const double end = platform_seconds() + seconds;
    while (platform_seconds() < end) {
      const double now = platform_seconds();
      server_tick(&server_, now);
      for (auto& r : riders_) run_headless_rider(r.get(), now);
      if (done()) return true;
      wait_readable(server_.socket, 0.001);
    }
    return false;
  }
  int game_slot() const {
    for (size_t i = 0; i < server_.clients.size(); i++)
      if (server_.clients[i].state == CLIENT_JOINED && server_.clients[i].info.name == "Game Player") return (int)i;
    return -1;
  }

  void race(bool lossy);

  Xvfb xvfb_;
  std::string data_, root_;
  RaceServer server_;
  bool started_ = false;
  RunnerWorld world_;
  std::vector<std::unique_ptr<HeadlessRider>> riders_;
  GameProcess game_;
};

void OnlineGame::race(bool lossy) {
  ServerConfig config;
  config.quiet = true;
  config.port = 0;
  config.tracks = {"rabbithill"};
  config.laps = 2;
  // Every bike of the handshake costs a round trip, 0.6 s and more when lossy.
  config.warmup_seconds = lossy ? 40.0 : 20.0;
  config.gate_drop_seconds = lossy ? 30.0 : 8.0;
  // A lossy link's lap reports trail its bike by a minute and more (one in
  // flight at a time, two gates a second at this speed), some riders' far
  // more than others': a finish window this short is over long before the
  // last of them arrive, and the server must wait for those still coming.
  config.finish_seconds = 5.0;
  config.log_file = root_ + "/server.log";
  ASSERT_TRUE(start_server(&server_, config, platform_seconds()));
  started_ = true;
  init_runner_world(&world_);
  start_game(server_port(server_), lossy);
  ASSERT_TRUE(run(60.0, [&] { return game_slot() >= 0; })) << game_.diagnostics();
  const std::string address = "127.0.0.1:" + std::to_string(server_port(server_));
  for (int i = 0; i < 10; i++) {
    riders_.push_back(std::make_unique<HeadlessRider>());
    init_headless_rider(riders_.back().get(), &world_, i, "Rider");
    riders_.back()->speed = 150.0f;
    if (lossy) set_fake_link(&riders_.back()->client, 0.3, 30, (uint32_t)i * 7919u + 1u);
    net_connect(&riders_.back()->client, address.c_str());
  }
  const int game = game_slot();
  int game_stamp = -1;
  auto all_results = [&] {
    if (server_.phase == PHASE_RACE || server_.phase == PHASE_FINISH)
      game_stamp = std::max(game_stamp, server_.clients[(size_t)game].last_stamp);
    for (auto& r : riders_)
      if (!r->results_seen || r->results.size() < riders_.size() + 1) return false;
    return true;
  };
  // Two laps through 300 ms of lag and 30 % loss take about five minutes
  // here, most of it the lap reports catching up; a sanitizer build on a
  // busy machine takes longer.
  ASSERT_TRUE(run(lossy ? 720.0 : 300.0, all_results));

  // The game rode the race, sent its states, and every rider heard them.
  const std::vector<int>& order = server_.final_order;
  EXPECT_EQ(order.size(), riders_.size() + 1);
  EXPECT_NE(std::find(order.begin(), order.end(), game), order.end());
  EXPECT_GT(game_stamp, server_.gate_drop_tick);
  if (getenv("DV_SERVER_LOG")) printf("%s", read_text(root_ + "/server.log").c_str());
  for (auto& r : riders_) {
    EXPECT_GT(r->states_received[game], 20) << r->client.own_info.name;
    for (auto& other : riders_) {
      if (other == r) continue;
      EXPECT_GT(r->states_received[other->client.client_slot], 20) << r->client.own_info.name;
    }
    EXPECT_EQ(r->final_order, order) << r->client.own_info.name;
    EXPECT_EQ(r->results, server_.results);
  }
  // The game printed the same results (its message lines go to its log).
  run(3.0, [] { return false; });
  const std::string log = game_.log();
  for (const std::string& line : server_.results) EXPECT_NE(log.find(line), std::string::npos) << line;
  // At its end the game disconnects.
  kill(game_.pid, SIGTERM);
  ASSERT_TRUE(run(20.0, [&] { return server_.clients[(size_t)game].state == CLIENT_FREE; }));
  EXPECT_EQ(game_.finish(20), 0) << game_.diagnostics();

  // The game heard every rider: its recording of the race holds each
  // headless rider's bike, moved by the states it received.
  const std::map<std::string, size_t> recorded = demo_states_by_rider(game_.home + "demos");
  std::string names;
  for (const auto& [name, count] : recorded) names += " '" + name + "' " + std::to_string(count);
  for (auto& r : riders_) {
    auto found = recorded.find(r->client.own_info.name);
    ASSERT_NE(found, recorded.end()) << r->client.own_info.name << " is in none of the game's demos, which hold" << names;
    EXPECT_GT(found->second, 100u) << r->client.own_info.name;
  }
}


TEST_F(OnlineGame, TheGameAndTenRidersRaceTwoLapsOfRabbitHill) { race(false); }

// "--fake-lag 300 ms" and "--fake-loss 30" on every client, the game's too.
TEST_F(OnlineGame, WithLossAndLagTheyStillFinishInTheSameOrder) { race(true); }

}  // namespace
