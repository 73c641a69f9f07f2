#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "core/datafile.h"
#include "core/message.h"
#include "race/timing.h"
#include "tests/track/track_fixture.h"
#include "track/timing_gates.h"

namespace {

TimingGates parse(const std::string& text) {
  TimingGates t;
  clear_timing_gates(&t);
  DataStream* s = data_open_memory(text.data(), text.size());
  read_timing_gates(&t, s, 0);
  data_close(s);
  return t;
}

// Checkpoint k stands at x = 10k, a disc of radius 2 open towards +x, so a
// bike at x = 10k + 1 is inside checkpoint k and no other.
std::string line_of_checkpoints(int count) {
  std::string text = "checkpoints:\n";
  for (int k = 0; k < count; k++) text += "2 [" + std::to_string(10 * k) + " 0 0] [1 0 0]\n";
  return text;
}

Vec3 at_checkpoint(int k) { return Vec3{10.0f * k + 1.0f, 0, 0}; }

// First lap 0 1 2 (F = 3), normal lap 3 4 5 6 (N = 4): overall gate 2 ends
// lap 1, gates 6, 10, 14 end laps 2, 3, 4.
TimingGates laps_track() {
  return parse(line_of_checkpoints(7) + "firstlap:\n0 1 2\nnormallap:\n3 4 5 6\n");
}

const RaceProgress OPEN_RACE{false, 1000000};

class GateStep : public ::testing::Test {
 protected:
  void SetUp() override { reset_bike_timing(&bike); }
  // Rides to the checkpoint of overall gate g and runs one step.
  GateStepResult ride(int g, int tick, const RaceProgress& race = OPEN_RACE) {
    int slot = folded_gate(gates, g);
    return gate_step(gates, &bike, at_checkpoint(gates.sequence[(size_t)slot] % NO_SPLIT_MARK), tick, race);
  }
  TimingGates gates = laps_track();
  BikeTiming bike;
};

TEST(TimingGatesFile, SectionsHeadingsAndDefaults) {
  TimingGates t = parse(
      "startinggate:\n"
      "[1 2 3] 4.0\n"
      "  [4 5 6] -0.5 @m.jm @t.png\n"
      "\n"
      "[7 8 9] 10 null @t2.png @s.shp\n"
      "checkpoints: 3 [0 0 0] [0 0 1]\n"
      "4 [10 0 0] [1 0 0]\n"
      "firstlap: 0 1\n"
      "normallap:\n1 0\n");
  ASSERT_EQ(t.starting_gates.size(), 3u);
  EXPECT_FLOAT_EQ(t.starting_gates[0].heading, (float)(4.0 - 2 * M_PI));
  EXPECT_EQ(t.starting_gates[0].model, "@startgate.jm");
  EXPECT_EQ(t.starting_gates[0].shape, "@startgate.shp");
  EXPECT_FLOAT_EQ(t.starting_gates[1].position.z, 6.0f);
  EXPECT_FLOAT_EQ(t.starting_gates[1].heading, -0.5f);
  EXPECT_EQ(t.starting_gates[1].texture, "@t.png");
  EXPECT_EQ(t.starting_gates[1].shape, "@startgate.shp");
  EXPECT_EQ(t.starting_gates[2].model, "");
  EXPECT_NEAR(t.starting_gates[2].heading, 10 - 4 * M_PI, 1e-5);
  ASSERT_EQ(t.checkpoints.size(), 2u);
  EXPECT_FLOAT_EQ(t.checkpoints[1].radius, 4.0f);
  EXPECT_FLOAT_EQ(t.checkpoints[0].direction.z, 1.0f);
  EXPECT_TRUE(t.timed);
  EXPECT_EQ(t.first_lap, 2);
  EXPECT_EQ(t.normal_lap, 2);
  EXPECT_EQ(t.sequence, (std::vector<int>{0, 1, 1, 0}));
}

TEST(TimingGatesFile, NormalisationAndMarks) {
  TimingGates t = parse(line_of_checkpoints(3) + "firstlap:\n100003 -4 1\nnormallap:\n2 200001 7\n");
  ASSERT_TRUE(t.timed);
  EXPECT_EQ(t.sequence, (std::vector<int>{100002, 0, 1, 2, 100001, 2}));
  EXPECT_EQ(t.first_lap_splits, 2);
  EXPECT_EQ(t.normal_lap_splits, 2);
  EXPECT_EQ(checkpoint_of_gate(t, 4).point.x, 10.0f);  // the mark does not change the checkpoint
}

TEST(TimingGatesFile, IncompleteFilesLeaveTheTrackUntimed) {
  const char* untimed[] = {
      "checkpoints:\n2 [0 0 0] [1 0 0]\nfirstlap:\n0\n",                                   // no normal lap
      "checkpoints:\nfirstlap:\n0\nnormallap:\n0\n",                                       // no checkpoints
      "checkpoints:\n2 [0 0 0] [1 0 0]\nfirstlap:\n100000\nnormallap:\n0\n",              // no split in lap 1
      "checkpoints:\n2 [0 0 0] [1 0 0]\nfirstlap:\n0\nnormallap:\n100000 100000\n",        // none in the normal lap
      "checkpoints:\n2 [0 0 0] [1 0 0]\nfirstlaps:\n0\nnormallap:\n0\n",                   // misspelt section
      "checkpoints:2 [0 0 0] [1 0 0]\nfirstlap:\n0\nnormallap:\n0\n",                      // name not followed by a blank
      "startinggate:\n[0 0 0] 0\nbogus\ncheckpoints:\n2 [0 0 0] [1 0 0]\nfirstlap: 0 normallap: 0\n",
      "",
  };
  for (const char* text : untimed) {
    TimingGates t = parse(text);
    EXPECT_FALSE(t.timed) << text;
    EXPECT_TRUE(t.checkpoints.empty()) << text;
    EXPECT_TRUE(t.sequence.empty()) << text;
  }
  // The starting gates stay even when the timing goes.
  EXPECT_EQ(parse(untimed[6]).starting_gates.size(), 1u);
}

TEST(TimingGatesFile, WriterOutputReadsBackTheSame) {
  ScratchData data;
  TimingGates t = parse("startinggate:\n[1.5 2 3] 0.25\n[4 5 6] 1 @m.jm null @s.shp\n" + line_of_checkpoints(2) +
                        "firstlap:\n0 100001\nnormallap:\n1 0\n");
  ASSERT_TRUE(write_timing_gates(t, "w"));
  const std::string written = data.read("w/timing_gates");
  EXPECT_EQ(written,
            "startinggate:\n"
            "[1.500000 2.000000 3.000000] 0.250000\n"
            "[4.000000 5.000000 6.000000] 1.000000 @m.jm null @s.shp\n"
            "checkpoints:\n"
            "2.000000 [0.000000 0.000000 0.000000] [1.000000 0.000000 0.000000]\n"
            "2.000000 [10.000000 0.000000 0.000000] [1.000000 0.000000 0.000000]\n"
            "firstlap:\n0 100001 \nnormallap:\n1 0 \n");
  TimingGates back = parse(written);
  EXPECT_EQ(back.sequence, t.sequence);
  EXPECT_EQ(back.starting_gates[1].texture, "");
  EXPECT_EQ(back.starting_gates[1].shape, "@s.shp");

  TimingGates empty;
  clear_timing_gates(&empty);
  ASSERT_TRUE(write_timing_gates(empty, "w"));
  EXPECT_EQ(data.read("w/timing_gates"), "");
}

TEST(TimingGatesFile, WriteFailureIsReported) {
  ScratchData data;
  clear_message_lines();
  data.write("blocked", "a file where the track directory should be");
  TimingGates t = laps_track();
  EXPECT_FALSE(write_timing_gates(t, "blocked"));
  ASSERT_NE(message_line(0), nullptr);
  EXPECT_STREQ(message_line(0), "Can't open 'timing_gates'\n");
}

TEST(TimingGatesIndex, FoldingLapEndsAndTheFinishingGate) {
  TimingGates t = laps_track();
  EXPECT_EQ(folded_gate(t, 2), 2);
  EXPECT_EQ(folded_gate(t, 3), 3);
  EXPECT_EQ(folded_gate(t, 7), 3);
  EXPECT_EQ(folded_gate(t, 14), 6);
  std::vector<int> ends;
  for (int g = 0; g < 16; g++)
    if (is_lap_end(t, g)) ends.push_back(g);
  EXPECT_EQ(ends, (std::vector<int>{2, 6, 10, 14}));
  EXPECT_EQ(finishing_gate(t, 0), 0);
  EXPECT_EQ(finishing_gate(t, 1), 2);
  EXPECT_EQ(finishing_gate(t, 3), 10);
  EXPECT_EQ(lap_end_gate(t, 3), 10);
}

TEST(TimingGatesIndex, HalfDiscs) {
  Checkpoint c{Vec3{5, 100, 5}, Vec3{0, 7, -1}, 2, false};
  EXPECT_TRUE(checkpoint_contains(c, 5, 5));       // the centre line counts
  EXPECT_TRUE(checkpoint_contains(c, 6, 4));
  EXPECT_FALSE(checkpoint_contains(c, 6, 3));      // 1 + 4 > r^2
  EXPECT_FALSE(checkpoint_contains(c, 5, 6));      // behind the line
  EXPECT_TRUE(checkpoint_contains(c, 5, 3));       // on the rim
  EXPECT_FALSE(checkpoint_contains(c, 5, 2.9f));   // just outside
}

TEST_F(GateStep, ForwardAcceptanceLeavesMissedGatesUnpassed) {
  gates = parse(line_of_checkpoints(10) + "firstlap:\n0 1 2 3 4 5\nnormallap:\n6 7 8 9\n");
  EXPECT_EQ(ride(0, 10).gate, 0);
  EXPECT_EQ(ride(1, 20).gate, 1);
  EXPECT_EQ(ride(3, 30).gate, 3);  // gate 2 missed
  EXPECT_EQ(bike.gates_passed, 4);
  EXPECT_EQ(bike.pass_ticks, (std::vector<int32_t>{10, 20, -1, 30}));
  EXPECT_EQ(ride(5, 40).gate, 5);  // two ahead is still in reach
  EXPECT_EQ(ride(9, 50).gate, -1); // three ahead is not
  EXPECT_EQ(pass_tick(bike, 4), -1);
}

TEST_F(GateStep, SkippingALapEndIsBlocked) {
  EXPECT_EQ(ride(0, 10).gate, 0);
  EXPECT_EQ(ride(1, 20).gate, 1);
  EXPECT_EQ(ride(3, 30).gate, -1);  // gate 2 ends lap 1
  EXPECT_EQ(bike.gates_passed, 2);
}

TEST_F(GateStep, GoingBackForAMissedGateThreePlacesBack) {
  // A longer normal lap so that three back stays within one lap.
  gates = parse(line_of_checkpoints(10) + "firstlap:\n0\nnormallap:\n1 2 3 4 5 6 7 8 9\n");
  for (int g : {0, 1, 2, 3, 4}) ride(g, 10 * g);
  ride(6, 60);  // gate 5 missed
  ride(7, 70);
  ASSERT_EQ(bike.gates_passed, 8);
  ASSERT_EQ(pass_tick(bike, 5), -1);
  EXPECT_EQ(ride(5, 90).gate, 5);
  EXPECT_EQ(pass_tick(bike, 5), 90);
  EXPECT_EQ(bike.gates_passed, 6);
  EXPECT_EQ(pass_tick(bike, 7), 70);  // later ticks stay until overwritten
  // Standing in gate 5 again changes nothing: it is the gate just passed.
  EXPECT_EQ(ride(5, 91).gate, -1);
  // Gate 6 (next) was passed before; a forward candidate is accepted anyway.
  EXPECT_EQ(ride(6, 95).gate, 6);
  EXPECT_EQ(pass_tick(bike, 6), 95);
}

TEST_F(GateStep, PassedGatesBehindAreNotTakenAgain) {
  for (int g = 0; g <= 4; g++) ride(g, g + 1);
  ASSERT_EQ(bike.gates_passed, 5);
  EXPECT_EQ(ride(2, 50).gate, -1);  // three back, already passed
  EXPECT_EQ(ride(3, 50).gate, -1);  // two back, already passed
  EXPECT_EQ(ride(4, 50).gate, -1);  // the gate just passed
  EXPECT_EQ(bike.gates_passed, 5);
  EXPECT_EQ(pass_tick(bike, 2), 3);
}

TEST_F(GateStep, AnUnpassedLapEndBlocksTheGatesBeyondIt) {
  for (int g = 0; g <= 5; g++) ride(g, g + 1);  // up to gate 5; gate 6 ends lap 2
  EXPECT_EQ(ride(8, 100).gate, -1);  // two beyond the unpassed lap end
  EXPECT_EQ(ride(7, 100).gate, -1);
  EXPECT_EQ(bike.gates_passed, 6);
  GateStepResult r = ride(6, 101);
  EXPECT_EQ(r.gate, 6);
  EXPECT_TRUE(r.lap_completed);
  EXPECT_FALSE(r.finished);
  LapState lap = lap_state(gates, bike);
  EXPECT_EQ(lap.completed_laps, 2);
  EXPECT_EQ(lap.gates_into_lap, 0);
}

TEST_F(GateStep, UntimedTracksAndFinishedBikesStayPut) {
  gates = parse(line_of_checkpoints(2) + "firstlap:\n0 1\n");
  EXPECT_EQ(gate_step(gates, &bike, at_checkpoint(0), 1, OPEN_RACE).gate, -1);
  gates = laps_track();
  bike.finished = true;
  EXPECT_EQ(ride(0, 1).gate, -1);
  EXPECT_EQ(bike.gates_passed, 0);
}

TEST_F(GateStep, FinishingOnTheLapTotalOrAfterTheLeader) {
  const RaceProgress two_laps{false, 2};
  for (int g = 0; g <= 2; g++) EXPECT_FALSE(ride(g, g + 1, two_laps).finished);
  EXPECT_EQ(ride(3, 10, two_laps).gate, 3);
  for (int g = 4; g <= 5; g++) ride(g, g + 10, two_laps);
  GateStepResult r = ride(6, 30, two_laps);
  EXPECT_TRUE(r.finished);
  EXPECT_TRUE(bike.finished);
  EXPECT_TRUE(passed_finishing_gate(gates, bike, 2));

  // A bike a lap down finishes at its next lap end once the leader is home.
  BikeTiming back_marker;
  reset_bike_timing(&back_marker);
  std::swap(bike, back_marker);
  for (int g = 0; g <= 1; g++) ride(g, g + 1, RaceProgress{true, 2});
  EXPECT_FALSE(bike.finished);
  EXPECT_TRUE(ride(2, 40, RaceProgress{true, 2}).finished);
  EXPECT_FALSE(passed_finishing_gate(gates, bike, 2));
}

TEST_F(GateStep, PassTicksGrowAndGatesPassedTruncates) {
  set_pass_tick(&bike, 40, 77);
  EXPECT_EQ(bike.pass_ticks.size(), 41u);
  EXPECT_EQ(pass_tick(bike, 39), -1);
  EXPECT_EQ(pass_tick(bike, 40), 77);
  EXPECT_EQ(pass_tick(bike, 1000), -1);
  EXPECT_EQ(pass_tick(bike, -1), -1);
  set_pass_tick(&bike, 2000000000, 5);  // a wild index from the network reserves nothing
  EXPECT_EQ(bike.pass_ticks.size(), 41u);
  bike.gates_passed = 41;
  bike.finished = true;
  set_gates_passed(&bike, 45);
  EXPECT_TRUE(bike.finished);
  set_gates_passed(&bike, 12);
  EXPECT_FALSE(bike.finished);
  EXPECT_EQ(bike.pass_ticks.size(), 12u);
  EXPECT_EQ(pass_tick(bike, 40), -1);
  LapState lap = lap_state(gates, bike);  // 12 = 3 + 2 * 4 + 1
  EXPECT_EQ(lap.completed_laps, 3);
  EXPECT_EQ(lap.gates_into_lap, 1);
  set_gates_passed(&bike, 2);
  EXPECT_EQ(lap_state(gates, bike).completed_laps, 0);
  EXPECT_EQ(lap_state(gates, bike).gates_into_lap, 2);
}

TEST_F(GateStep, LapTimes) {
  for (int g = 0; g <= 10; g++) ride(g, 100 + 50 * g);
  EXPECT_EQ(lap_time(gates, bike, 1, 60), 200 - 60);  // from the drop to gate 2
  EXPECT_EQ(lap_time(gates, bike, 2, 60), 4 * 50);
  EXPECT_EQ(lap_time(gates, bike, 3, 60), 4 * 50);
  EXPECT_EQ(lap_time(gates, bike, 4, 60), -1);  // not ridden yet
  set_pass_tick(&bike, 6, -1);
  EXPECT_EQ(lap_time(gates, bike, 2, 60), -1);
  EXPECT_EQ(lap_time(gates, bike, 3, 60), -1);
}

TEST(StretchReference, AveragesPerBikeThenOverBikes) {
  TimingGates t = laps_track();
  BikeTiming a, b, c;
  for (BikeTiming* bike : {&a, &b, &c}) reset_bike_timing(bike);
  // Bike a: gates 0..10 at 10 ticks each; the stretch 4..5 recurs at 8..9.
  for (int g = 0; g <= 10; g++) set_pass_tick(&a, g, 10 * g + 10);
  a.gates_passed = 11;
  // Bike b: one passage of 4..5 taking 30 ticks, then gate 8 missed.
  for (int g = 0; g <= 9; g++) set_pass_tick(&b, g, 20 * g);
  set_pass_tick(&b, 5, 20 * 4 + 30);
  set_pass_tick(&b, 8, -1);
  b.gates_passed = 10;
  // Bike c never got that far.
  set_pass_tick(&c, 0, 5);
  c.gates_passed = 1;
  const BikeTiming* order[] = {&a, &b, &c};
  EXPECT_DOUBLE_EQ(stretch_reference_time(t, order, 3, 4, 5, 0), (10.0 + 30.0) / 2);
  // Asked with the later occurrence, the same stretch is meant.
  EXPECT_DOUBLE_EQ(stretch_reference_time(t, order, 3, 8, 9, 0), (10.0 + 30.0) / 2);
  // From the drop to gate 1: first lap only, once per bike.
  EXPECT_DOUBLE_EQ(stretch_reference_time(t, order, 3, -1, 1, 4), ((20 - 4) + (20 - 4)) / 2.0);
  // A stretch of lap 5 is the same stretch as in every other normal lap.
  EXPECT_DOUBLE_EQ(stretch_reference_time(t, order, 1, 20, 22, 0), 20.0);
  EXPECT_DOUBLE_EQ(stretch_reference_time(t, order + 2, 1, 0, 1, 0), 7680.0);
}

}  // namespace
