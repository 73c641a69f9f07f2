#include <gtest/gtest.h>

#include "tests/tools/race_fixture.h"

namespace {

ServerConfig quick_race(int laps) {
  ServerConfig c;
  c.quiet = true;
  c.tracks = {"rabbithill"};
  c.laps = laps;
  c.warmup_seconds = 3.0;
  c.gate_drop_seconds = 1.5;
  c.finish_seconds = 20.0;
  return c;
}

// Everyone got everyone's states, and every rider's own view of the final
// order is the server's.
void expect_same_race(LoopbackRace& race) {
  const std::vector<int> order = race.server.final_order;
  ASSERT_EQ(order.size(), race.riders.size());
  for (auto& r : race.riders) {
    EXPECT_TRUE(r->final_finished) << r->client.own_info.name;
    EXPECT_EQ(r->final_order, order) << r->client.own_info.name;
    EXPECT_EQ(r->results, race.server.results) << r->client.own_info.name;
    for (int slot : order) {
      if (slot == r->final_slot) continue;
      EXPECT_GT(r->states_received[slot], 20) << r->client.own_info.name << " from slot " << slot;
    }
  }
  for (const std::string& line : race.server.results) EXPECT_EQ(line.find("not finished"), std::string::npos) << line;
}

}  // namespace

TEST(RaceLoopback, TwoRidersRaceTwoLaps) {
  LoopbackRace race;
  ASSERT_TRUE(race.start(quick_race(2)));
  race.add_rider();
  race.add_rider();
  ASSERT_TRUE(race.run(60.0, [&] { return race.all_results(); }));
  expect_same_race(race);
  EXPECT_EQ(race.server.results.size(), 2u);
}

TEST(RaceLoopback, TenRidersWithLossAndLagFinishInTheSameOrder) {
  LoopbackRace race;
  ServerConfig config = quick_race(2);
  // Every bike of the handshake takes a round trip of 0.6 s or more here.
  config.warmup_seconds = 15.0;
  config.gate_drop_seconds = 25.0;
  config.quiet = getenv("DV_SERVER_LOG") == nullptr;
  ASSERT_TRUE(race.start(config));
  for (int i = 0; i < 10; i++) race.add_rider(0.3, 30);
  ASSERT_TRUE(race.run(120.0, [&] { return race.all_results(); }));
  expect_same_race(race);
}
