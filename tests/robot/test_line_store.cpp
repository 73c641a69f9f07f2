#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "race/timing.h"
#include "robot/line_store.h"
#include "robot_test_util.h"

namespace {

// First lap 0 1 (2 marked) 3, normal lap 4 (5 marked) 6: F = 4, F' = 3,
// N = 3, N' = 2.
TimingGates marked_gates() { return straight_gates(7, {0, 1, 100002, 3}, {4, 100005, 6}); }

TEST(SplitGates, GroupsFollowTheUnmarkedEntries) {
  TimingGates gates = marked_gates();
  ASSERT_TRUE(gates.timed);
  LineStore store;
  size_line_store(&store, gates, "loop", ROBOT_EXPERT);
  EXPECT_EQ(store.groups.size(), 5u);
  EXPECT_EQ(sizeof(store.groups[0].lines) / sizeof(RobotLine), 45u);
  // Overall gates 0..3 are the first lap, then 4 5 6, 7 8 9, ... fold onto
  // the normal lap.
  const int groups[] = {0, 1, -1, 2, 3, -1, 4, 3, -1, 4};
  for (int g = 0; g < 10; g++) EXPECT_EQ(split_group(gates, g), groups[g]) << "gate " << g;
  EXPECT_EQ(next_split_gate(gates, GATE_DROP), 0);
  EXPECT_EQ(next_split_gate(gates, 1), 3);  // over the marked gate
  EXPECT_EQ(next_split_gate(gates, 3), 4);  // from the first lap into the second
  EXPECT_EQ(next_split_gate(gates, 4), 6);
  EXPECT_EQ(next_split_gate(gates, 6), 7);  // round the lap end

  TimingGates untimed = straight_gates(3, {0, 1, 2}, {});
  size_line_store(&store, untimed, "loop", ROBOT_EXPERT);
  EXPECT_TRUE(store.groups.empty());
  EXPECT_EQ(next_split_gate(untimed, GATE_DROP), -1);
  // Every entry marked leaves no split in the first lap: untimed too.
  EXPECT_FALSE(straight_gates(3, {100000, 100001}, {2}).timed);
}

TEST(SplitGates, LayoutChangesWithGatesAndMarks) {
  TimingGates a = marked_gates(), b = marked_gates();
  EXPECT_EQ(gates_layout(a), gates_layout(b));
  b.sequence[2] = 2;  // unmarked
  EXPECT_NE(gates_layout(a), gates_layout(b));
  b = marked_gates();
  b.checkpoints[3].radius = 11;
  EXPECT_NE(gates_layout(a), gates_layout(b));
}

// A bike riding along z = lane at 50 ft/s from x = -50 with the real gate
// step, recorded every tick.
struct StraightRide {
  TimingGates gates = marked_gates();
  LineStore store;
  LineRecorder recorder;
  BikeTiming timing;
  std::vector<int> verdicts;
  int tick = 0;
  float x = -50, lane = 0;

  StraightRide() {
    size_line_store(&store, gates, "loop", ROBOT_EXPERT);
    reset_line_recorder(&recorder);
    reset_bike_timing(&timing);
    start_line(&recorder, gates, GATE_DROP, 0, sample(-1, false));
  }
  RecordSample sample(int gate, bool crashed) const {
    return RecordSample{{x, 0, lane}, {50, 0, 0}, crashed, gate, timing.finished};
  }
  void step(bool crashed = false) {
    tick++;
    x += 50.0f * (float)TICK_SECONDS;
    GateStepResult r = gate_step(gates, &timing, Vec3{x, 0, lane}, tick, RaceProgress{false, 1000});
    int v = record_line_tick(&store, &recorder, gates, sample(r.gate, crashed), tick);
    if (v >= 0) verdicts.push_back(v);
  }
  void ride_to(float end) {
    while (x < end) step();
  }
};

TEST(LineRecording, SamplesEveryThirtyTwoTicksAndEndsAtTheSplit) {
  StraightRide ride;
  ride.ride_to(5);  // through gate 0 at x = 0, one second after the drop
  ASSERT_EQ(ride.verdicts.size(), 1u);
  EXPECT_EQ(ride.verdicts[0], LINE_STORED);
  const RobotLine& first = ride.store.groups[0].lines[0];
  ASSERT_TRUE(first.used);
  EXPECT_EQ(first.from_gate, GATE_DROP);
  EXPECT_EQ(first.ticks, 128);
  ASSERT_EQ(first.points.size(), 5u);  // 0, 32, 64, 96 and the gate at 128
  for (int i = 0; i < 5; i++) EXPECT_NEAR(first.points[i].position.x, -50 + 50 * i * 0.25f, 0.01) << i;
  EXPECT_EQ(ride.recorder.target_gate, 1);

  // A line from gate 0 to gate 1 that ends between two samples keeps the
  // exact passage as its last point.
  ride.x += 0.3f;
  ride.ride_to(105);
  ASSERT_EQ(ride.verdicts.size(), 2u);
  const RobotLine& second = ride.store.groups[1].lines[0];
  EXPECT_EQ(second.from_gate, 0);
  EXPECT_EQ(line_point_tick(second, (int)second.points.size() - 1), second.ticks);
  EXPECT_GT(second.ticks, ((int)second.points.size() - 2) * LINE_SAMPLE_TICKS);
  EXPECT_GE(second.points.back().position.x, 100.0f);
  // Over the marked gate 2 into the split at 3, then into the second lap.
  ride.ride_to(405);
  ASSERT_EQ(ride.verdicts.size(), 4u);
  EXPECT_TRUE(ride.store.groups[2].lines[0].used);
  EXPECT_EQ(ride.store.groups[2].lines[0].from_gate, 1);
  EXPECT_TRUE(ride.store.groups[3].lines[0].used);
  EXPECT_EQ(ride.store.groups[3].lines[0].from_gate, 3);
  EXPECT_EQ(line_count(ride.store), 4);
  EXPECT_TRUE(ride.store.changed);
}

TEST(LineRecording, CrashMissedGateAndJumpCancel) {
  LogCapture log;
  {
    StraightRide ride;
    ride.ride_to(5);
    ride.ride_to(50);
    ride.step(true);  // the rider goes down on the way to gate 1
    EXPECT_FALSE(ride.recorder.active);
    ride.ride_to(105);  // gate 1 starts a fresh line
    EXPECT_EQ(ride.verdicts.size(), 1u);
    EXPECT_TRUE(ride.recorder.active);
    EXPECT_EQ(ride.recorder.start_gate, 1);
  }
  EXPECT_TRUE(log.has("auto pilot: 1 canceled"));
  {
    // Round gate 1 (out in lane 30), back in for the marked gate 2: missed.
    StraightRide ride;
    ride.ride_to(5);
    ride.ride_to(60);
    ride.lane = 30;
    ride.ride_to(150);
    ride.lane = 0;
    ride.ride_to(205);
    EXPECT_EQ(ride.timing.gates_passed, 3);
    EXPECT_FALSE(ride.recorder.active);  // a marked gate starts nothing
    ride.ride_to(305);
    EXPECT_TRUE(ride.recorder.active);
    EXPECT_EQ(ride.recorder.start_gate, 3);
    EXPECT_EQ(line_count(ride.store), 1);
  }
  EXPECT_EQ(log.count_prefix("auto pilot: 1 canceled"), 2);
  {
    StraightRide ride;
    ride.ride_to(5);
    ride.ride_to(20);
    ride.x += 60;  // moved, not ridden
    for (int i = 0; i < 40; i++) ride.step();
    EXPECT_FALSE(ride.recorder.active);
  }
  EXPECT_EQ(log.count_prefix("auto pilot: 1 canceled"), 3);
}

class StoreRules : public ::testing::Test {
 protected:
  void SetUp() override { size_line_store(&store, marked_gates(), "loop", ROBOT_EXPERT); }
  // Group 1 lines run from gate 0 (sequence slot 0) to gate 1.
  RobotLine line(int ticks, float lane = 0) { return straight_line(0, 100, ticks, lane, 0); }
  LineStore store;
  LogCapture log;
};

TEST_F(StoreRules, DuplicatesTwinsAndTooSlow) {
  int slot = -1;
  EXPECT_EQ(offer_line(&store, 1, line(400), &slot), LINE_STORED);
  EXPECT_EQ(slot, 0);
  // The same path within 2% of its time: a duplicate; 2 ft to the side is
  // still the same path.
  EXPECT_EQ(offer_line(&store, 1, line(405, 2)), LINE_DUPLICATE);
  EXPECT_TRUE(log.has("auto pilot: 1 rejected (duplicate)"));
  // The same path 5% slower adds nothing.
  EXPECT_EQ(offer_line(&store, 1, line(420)), LINE_TOO_SLOW);
  EXPECT_TRUE(log.has("auto pilot: 1 rejected (too slow)"));
  // Faster on the same path replaces its twin in place.
  EXPECT_EQ(offer_line(&store, 1, line(380), &slot), LINE_EVICTED);
  EXPECT_EQ(slot, 0);
  EXPECT_EQ(store.groups[1].lines[0].ticks, 380);
  EXPECT_TRUE(log.has("auto pilot: evicting 0 (times: 3.12 2.97 tested (0 0): 0.00 0.00 repl: 3.218750 3.057813)"));
  // Another path takes a new slot, unless it is far slower than the best.
  EXPECT_EQ(offer_line(&store, 1, line(450, 8), &slot), LINE_STORED);
  EXPECT_EQ(slot, 1);
  EXPECT_EQ(offer_line(&store, 1, line(476, 16)), LINE_TOO_SLOW);  // > 1.25 x 380
  EXPECT_EQ(line_count(store), 2);
  // A line from another start is not a twin.
  RobotLine other = line(400);
  other.from_gate = 5;
  EXPECT_EQ(offer_line(&store, 1, other), LINE_STORED);
  EXPECT_EQ(offer_line(&store, 9, line(400)), LINE_REFUSED);
}

// Lines from the gate drop serve the starting place they begin at: a
// neighbour's line on nearly the same path is no twin, and a place far out
// on the gate may be slower than the best start by more than the factor.
// From the same place the rules hold as for any split.
TEST_F(StoreRules, GateDropLinesKeepOnePerStartingPlace) {
  auto start_line = [](int ticks, float place, float lane_at_end) {
    RobotLine l = straight_line(0, 100, ticks, place);
    for (size_t i = 0; i < l.points.size(); i++)
      l.points[i].position.z += (lane_at_end - place) * (float)i / (float)(l.points.size() - 1);
    return l;
  };
  EXPECT_EQ(offer_line(&store, 0, start_line(400, 0, 0)), LINE_STORED);
  // 3.5 ft along the gate, merging onto the same path: stored.
  EXPECT_EQ(offer_line(&store, 0, start_line(404, 3.5f, 0)), LINE_STORED);
  EXPECT_EQ(offer_line(&store, 0, start_line(402, 1.0f, 0)), LINE_DUPLICATE);  // the first one's place
  // Far out and 40% slower: still the line of its own place.
  EXPECT_EQ(offer_line(&store, 0, start_line(560, 35, 0)), LINE_STORED);
  EXPECT_EQ(offer_line(&store, 0, start_line(720, 35.5f, 0)), LINE_TOO_SLOW);  // > 1.25 x 560
  EXPECT_EQ(offer_line(&store, 0, start_line(520, 35, 0)), LINE_EVICTED);
  EXPECT_EQ(line_count(store), 3);
  // Lines of a split keep one measure for all.
  EXPECT_EQ(offer_line(&store, 1, line(400)), LINE_STORED);
  EXPECT_EQ(offer_line(&store, 1, line(560, 35)), LINE_TOO_SLOW);
}

TEST_F(StoreRules, FullGroupEvictsTheWorstByReplacementValue) {
  for (int i = 0; i < LINE_SLOTS; i++) ASSERT_EQ(offer_line(&store, 1, line(400 + i, 4.0f * i)), LINE_STORED) << i;
  EXPECT_EQ(line_count(store), LINE_SLOTS);
  // Slower than every stored line: nothing goes.
  EXPECT_EQ(offer_line(&store, 1, line(460, -50)), LINE_TOO_SLOW);
  int slot = -1;
  EXPECT_EQ(offer_line(&store, 1, line(420, -50), &slot), LINE_EVICTED);
  EXPECT_EQ(slot, LINE_SLOTS - 1);  // the slowest
  // A fast line that robots keep crashing on is worth less than its time
  // says; one they ride well is judged by what they ride.
  RobotLine& fast = store.groups[1].lines[0];
  for (int i = 0; i < 3; i++) note_line_failed(&store, 1, 0);
  note_line_picked(&store, 1, 0, 77);
  note_line_ridden(&store, 1, 0, 400);
  EXPECT_EQ(fast.last_picked, 77);
  EXPECT_EQ(fast.picked, 4);
  EXPECT_EQ(fast.completed, 1);
  EXPECT_NEAR(replacement_value(fast), 400 * TICK_SECONDS * (1 + 0.5 * 0.75), 1e-4);
  EXPECT_EQ(offer_line(&store, 1, line(430, -80), &slot), LINE_EVICTED);
  EXPECT_EQ(slot, 0);
  EXPECT_TRUE(log.has("auto pilot: evicting 0 (times: 3.12 3.36 tested (4 1): 3.12 3.12 repl: 4.296875 3.460156)"));
}

TEST(LineDeviation, MeasuresTheWorstSideDistance) {
  RobotLine a = straight_line(0, 100, 256), b = straight_line(0, 100, 256, 2.5f);
  EXPECT_NEAR(line_deviation(a, b), 2.5f, 1e-4);
  b.points[3].position.z = 9;  // one point strays
  EXPECT_NEAR(line_deviation(a, b), 9.0f, 1e-4);
  RobotLine shorter = straight_line(0, 50, 128);
  EXPECT_NEAR(line_deviation(a, shorter), 50.0f, 1e-3);  // a's far end is 50 ft past it
}

}  // namespace
