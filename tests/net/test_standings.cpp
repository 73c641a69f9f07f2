#include <gtest/gtest.h>

#include "net/game_client.h"
#include "net/standings.h"

namespace {

// Four gates a lap, the first lap too: lap ends at 3, 7, 11 ...
TimingGates four_gate_laps() {
  TimingGates g;
  clear_timing_gates(&g);
  for (int i = 0; i < 4; i++) g.checkpoints.push_back({Vec3{(float)i, 0, 0}, Vec3{1, 0, 0}, 5.0f, false});
  g.sequence = {0, 1, 2, 3, 0, 1, 2, 3};
  g.first_lap = 4;
  g.normal_lap = 4;
  normalise_timing_gates(&g, 0);
  return g;
}

BikeTiming ride(int gates, int first_tick, int step) {
  BikeTiming t;
  reset_bike_timing(&t);
  for (int i = 0; i < gates; i++) set_pass_tick(&t, i, first_tick + i * step);
  t.gates_passed = gates;
  return t;
}

}  // namespace

TEST(SettleFinishes, LappedBikeThatRodeOnIsPutBackAtItsFinish) {
  const TimingGates g = four_gate_laps();
  ASSERT_TRUE(g.timed);
  BikeTiming leader = ride(8, 100, 10);   // 2 laps, finishing gate 7 at tick 170
  BikeTiming lapped = ride(8, 100, 25);   // lap end 3 at 175 (after the leader's finish), then on
  BikeTiming close = ride(8, 100, 11);    // its own second lap ends at 177: finished on laps
  BikeTiming slow = ride(3, 100, 40);     // has not reached a lap end yet
  BikeTiming* bikes[] = {&leader, &lapped, &close, &slow};
  settle_finishes(g, bikes, 4, 2);
  EXPECT_TRUE(leader.finished);
  EXPECT_EQ(leader.gates_passed, 8);
  EXPECT_TRUE(lapped.finished);
  EXPECT_EQ(lapped.gates_passed, 4);
  EXPECT_EQ((int)lapped.pass_ticks.size(), 4);
  EXPECT_TRUE(close.finished);
  EXPECT_EQ(close.gates_passed, 8);
  EXPECT_FALSE(slow.finished);
  // Settling again changes nothing.
  settle_finishes(g, bikes, 4, 2);
  EXPECT_EQ(lapped.gates_passed, 4);
}

TEST(SettleFinishes, BeforeTheLeadersFinishNobodyIsCutAndOpenRacesAreLeftAlone) {
  const TimingGates g = four_gate_laps();
  BikeTiming a = ride(6, 100, 10);
  BikeTiming b = ride(5, 100, 10);
  BikeTiming* bikes[] = {&a, &b};
  settle_finishes(g, bikes, 2, 2);
  EXPECT_FALSE(a.finished);
  EXPECT_FALSE(b.finished);
  EXPECT_EQ(a.gates_passed, 6);
  BikeTiming c = ride(12, 100, 10);
  BikeTiming* open[] = {&c};
  settle_finishes(g, open, 1, 0);
  EXPECT_FALSE(c.finished);
  EXPECT_EQ(c.gates_passed, 12);
}

TEST(OffCourse, ASlowStretchAmongTheLastThreeHidesTheRider) {
  BikeTiming first = ride(8, 100, 128);  // a second per stretch
  BikeTiming steady = ride(8, 100, 200);
  BikeTiming wanderer = ride(8, 100, 128);
  // Its sixth stretch (gate 5 to 6) took 15 s: beyond 1 s x 1.5 + 10 s.
  for (int g = 6; g < 8; g++) set_pass_tick(&wanderer, g, pass_tick(wanderer, g) + 15 * 128);
  EXPECT_FALSE(off_course(first, first, 1.5, 10.0));
  EXPECT_FALSE(off_course(steady, first, 1.5, 10.0));
  EXPECT_TRUE(off_course(wanderer, first, 1.5, 10.0));
  // Older than the last three stretches: forgiven.
  BikeTiming recovered = wanderer;
  for (int g = 8; g < 11; g++) set_pass_tick(&recovered, g, pass_tick(recovered, g - 1) + 128);
  recovered.gates_passed = 11;
  BikeTiming long_first = ride(11, 100, 128);
  EXPECT_FALSE(off_course(recovered, long_first, 1.5, 10.0));
}

TEST(OffCourse, HiddenWhenSilentOrOffCourseUnlessWeAreToo) {
  NetClient c;
  init_net_client(&c);
  c.gate_drop_tick = 1000;
  c.last_state_time[4] = 50.0;
  BikeTiming first = ride(8, 1100, 128);
  BikeTiming wanderer = ride(8, 1100, 128);
  set_pass_tick(&wanderer, 7, pass_tick(wanderer, 7) + 20 * 128);
  const int late = 1000 + 30 * 128;
  EXPECT_FALSE(remote_rider_hidden(c, 4, 50.5, late, first, first, nullptr));
  EXPECT_TRUE(remote_rider_hidden(c, 4, 51.0, late, first, first, nullptr));  // a second without a state
  EXPECT_TRUE(remote_rider_hidden(c, 4, 50.5, late, wanderer, first, nullptr));
  EXPECT_FALSE(remote_rider_hidden(c, 4, 50.5, late, wanderer, first, &wanderer));
  // Too early in the race for the test.
  EXPECT_FALSE(remote_rider_hidden(c, 4, 50.5, 1000 + 5 * 128, wanderer, first, nullptr));
  EXPECT_TRUE(remote_rider_hidden(c, 200, 50.5, late, first, first, nullptr));
}
