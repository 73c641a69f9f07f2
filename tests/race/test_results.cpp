#include <gtest/gtest.h>

#include <string>

#include "core/datafile.h"
#include "race/penalty.h"
#include "race/results.h"
#include "tests/core/data_test_util.h"
#include "tests/race/results_test_util.h"

namespace {

constexpr int D = 1664;  // gate drop at 13 s

CuttingPenalty penalty_of(const TimingGates& gates, const std::vector<const BikeTiming*>& field, int bike) {
  return cutting_penalty(gates, field.data(), (int)field.size(), *field[(size_t)bike], D);
}

TEST(CuttingPenalty, SkippingTwoGatesThreeSecondsInsideTheAllowance) {
  // First lap gates 0..3, normal laps of four. Two clean riders take 10 s
  // and 12 s from gate 0 to gate 3, so the reference is 11 s and the
  // allowance 12 s; the cutter skips gates 1 and 2 and takes 9 s.
  TimingGates gates = lap_gates(4, 4);
  BikeTiming a = ride({2, 5, 8, 12, 17, 22, 27, 32}, D);
  BikeTiming b = ride({3, 6, 10, 15, 20, 25, 30, 35}, D);
  BikeTiming cutter = ride({2, -1, -1, 11, 16, 21, 26, 31}, D);
  std::vector<const BikeTiming*> field{&a, &b, &cutter};

  CuttingPenalty p = penalty_of(gates, field, 2);
  EXPECT_EQ(p.ticks, 3 * TICKS_PER_SECOND);
  EXPECT_EQ(p.laps_taken, 0);
  EXPECT_EQ(p.gates_passed, 8);
  EXPECT_EQ(penalty_of(gates, field, 0).ticks, 0);
  EXPECT_EQ(last_pass_tick(cutter, 8, D), D + 31 * TICKS_PER_SECOND);

  // Inside the second of grace only what beats the allowance counts; a
  // cut slower than the allowance costs nothing.
  cutter = ride({2, -1, -1, 13.5, 16, 21, 26, 31}, D);
  EXPECT_EQ(penalty_of(gates, field, 2).ticks, TICKS_PER_SECOND / 2);
  cutter = ride({2, -1, -1, 14.5, 16, 21, 26, 31}, D);
  EXPECT_EQ(penalty_of(gates, field, 2).ticks, 0);
}

TEST(CuttingPenalty, StretchesFromTheGateDropAndInNormalLaps) {
  TimingGates gates = lap_gates(4, 4);
  // Missing gate 0 measures from the gate drop: the clean riders reach
  // gate 1 after 5 s and 7 s, the cutter after 3 s (allowance 7 s: 4 s).
  BikeTiming a = ride({2, 5, 8, 12, 17, 22, 27, 32, 37, 42, 47, 52}, D);
  BikeTiming b = ride({3, 7, 10, 15, 20, 25, 30, 35, 40, 45, 50, 55}, D);
  BikeTiming cutter = ride({-1, 3, 8, 12, 17, 22, 27, 32, 37, 42, 47, 52}, D);
  std::vector<const BikeTiming*> field{&a, &b, &cutter};
  EXPECT_EQ(penalty_of(gates, field, 2).ticks, 4 * TICKS_PER_SECOND);

  // Gate 9 missed in lap 3: the stretch 8..10 recurs in laps 2 and 3
  // (gates 4..6 and 8..10), 10 s for both clean riders both times, and the
  // cutter's own clean lap 2 joins the average. Allowance 11 s, taken 6 s.
  cutter = ride({2, 5, 8, 12, 17, 22, 27, 32, 37, -1, 43, 48}, D);
  EXPECT_EQ(penalty_of(gates, field, 2).ticks, 5 * TICKS_PER_SECOND);
}

TEST(CuttingPenalty, APenaltyBeyondTheBestLapCostsLaps) {
  // First lap gates 0..2, normal laps 3..6: laps end at 2, 6, 10, 14. A
  // lone rider skips gates 0 and 1 and reaches gate 2 after 5 s; with no
  // clean passage anywhere the reference is 60 s, so it gained 56 s. Its
  // best lap from lap 2 on is 20 s: two laps go (56 - 40 = 16 s remain).
  TimingGates gates = lap_gates(3, 4);
  BikeTiming lone = ride({-1, -1, 5, 10, 15, 20, 25, 30, 35, 40, 46, 51, 56, 61, 67}, D);
  std::vector<const BikeTiming*> field{&lone};
  EXPECT_EQ(best_normal_lap(gates, lone), 20 * TICKS_PER_SECOND);
  CuttingPenalty p = penalty_of(gates, field, 0);
  EXPECT_EQ(p.laps_taken, 2);
  EXPECT_EQ(p.gates_passed, 7);
  EXPECT_EQ(p.ticks, 16 * TICKS_PER_SECOND);

  // The first lap is never taken away; what is left stays as time.
  lone = ride({-1, -1, 5, 10, 15, 20, 25}, D);
  p = penalty_of(gates, field, 0);
  EXPECT_EQ(p.laps_taken, 1);
  EXPECT_EQ(p.gates_passed, 3);
  EXPECT_EQ(p.ticks, 36 * TICKS_PER_SECOND);

  // Without a lap from lap 2 on there is no best lap to measure against.
  lone = ride({-1, -1, 5}, D);
  p = penalty_of(gates, field, 0);
  EXPECT_EQ(p.laps_taken, 0);
  EXPECT_EQ(p.ticks, 56 * TICKS_PER_SECOND);
}

// Two laps of two gates each. Slot 0 rides clean; slot 3 skips gate 2 and
// crosses the line first but is charged 3 s and drops behind; slot 5 has
// not finished and is left out of the file.
class ResultsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    input.gates = &gates;
    input.gate_drop_tick = D;
    input.time_limit_ticks = 0;
    input.laps = 2;
    input.track = "tracks/test";
    input.race_id = 1;
    input.bikes = {{5, &slow, "3", "kx65"}, {3, &cutter, "12", "cr125"}, {0, &clean, "7", "yz250f"}};
  }
  TimingGates gates = lap_gates(2, 2);
  BikeTiming clean = ride({5, 12, 18, 23}, D);
  BikeTiming cutter = ride({5.5, 11.5, -1, 20.5}, D);
  BikeTiming slow = ride({8, 16}, D, false);
  ResultsInput input;
};

const char* const EXPECTED_BODY =
    " No. |         Bike | Laps | Total Time | BLap |  Best Time\r\n"
    "   7 |       yz250f |    2 |   0:23.000 |    2 |   0:11.000\r\n"
    "  12 |        cr125 |    2 |   0:23.500 |    2 |   0:09.000\r\n"
    "\r\n"
    "4\r\n"
    "   5.000   12.000\r\n"
    "  18.000   23.000\r\n"
    "\r\n"
    "4\r\n"
    "   5.500   11.500\r\n"
    "      -1   20.500\r\n";

TEST_F(ResultsFile, LayoutOrderAndPenalties) {
  RaceResults results = compute_final_results(input);
  ASSERT_EQ(results.entries.size(), 3u);
  EXPECT_EQ(results.entries[0].slot, 0);
  EXPECT_EQ(results.entries[1].slot, 3);
  EXPECT_EQ(results.entries[2].slot, 5);
  EXPECT_EQ(results.entries[1].penalty_ticks, 3 * TICKS_PER_SECOND);
  EXPECT_EQ(std::string(results_board_title(results)), "Final Results");
  EXPECT_EQ(results.race_id, 1u);
  EXPECT_EQ(penalty_board_line(results.entries[1]), " 12 penalized 3.00 seconds for cutting track");
  EXPECT_EQ(penalty_board_line(results.entries[0]), "");

  std::string text = results_file_text(results, input, 1234567890L);
  EXPECT_EQ(text, std::string("Time=0.00|Laps=2|Track=tracks/test|Date=1234567890\r\n") + EXPECTED_BODY);

  // Unofficially the cutter still leads, and nothing is charged.
  RaceResults running = unofficial_results(input);
  EXPECT_EQ(std::string(results_board_title(running)), "Unofficial Results");
  EXPECT_EQ(running.entries[0].slot, 3);
  EXPECT_FALSE(is_penalised(running.entries[0]));
}

TEST_F(ResultsFile, LapsTakenShowOnTheBoardAndInTheFile) {
  input.time_limit_ticks = 10 * 60 * TICKS_PER_SECOND;
  // Lap ends at gates 2, 6, 10 and 14: the lone cutter of the penalty test.
  gates = lap_gates(3, 4);
  cutter = ride({-1, -1, 5, 10, 15, 20, 25, 30, 35, 40, 46, 51, 56, 61, 67}, D);
  input.bikes = {{3, &cutter, "12", "cr125"}};
  RaceResults results = compute_final_results(input);
  const RaceResultEntry& e = results.entries[0];
  EXPECT_EQ(penalty_board_line(e), " 12 penalized 2 laps 16.00 seconds for cutting track");
  EXPECT_EQ(e.completed_laps, 2);
  std::string text = results_file_text(results, input, 0);
  EXPECT_EQ(text.substr(0, 12), "Time=600.00|");
  // 25 s at its last remaining gate plus 16 s; best lap 2 of the laps kept.
  EXPECT_NE(text.find("  12 |        cr125 |    2 |   0:41.000 |    2 |   0:20.000\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\n7\r\n      -1       -1    5.000\r\n  10.000   15.000   20.000   25.000\r\n"),
            std::string::npos);

  // Sorted by the gates left: a rider a lap down but clean finishes ahead
  // of the cutter, whose slow-starting rival now sets a 70 s reference.
  BikeTiming second = ride({20, 40, 70, 75, 80, 85, 90, 95, 100, 105, 110}, D);
  input.bikes = {{3, &cutter, "12", "cr125"}, {4, &second, "8", "rm250"}};
  results = compute_final_results(input);
  EXPECT_EQ(results.entries[1].laps_taken, 3);
  EXPECT_EQ(results.entries[0].slot, 4);  // a lap ahead once the cutter lost laps
}

TEST_F(ResultsFile, WrittenIntoTheHomeDirectoryOrNotAtAll) {
  ScratchDirectory home;
  set_search_directories({home.path()});
  RaceResults results = final_results(input, nullptr);
  EXPECT_TRUE(results.final);
  std::string written = read_file(home / "results.txt");
  const std::string header = "Time=0.00|Laps=2|Track=tracks/test|Date=";
  ASSERT_EQ(written.substr(0, header.size()), header);
  EXPECT_EQ(written.substr(written.find("\r\n") + 2), EXPECTED_BODY);

  // A home directory that cannot take the file: the results stand.
  set_search_directories({"/dev/null/home"});
  EXPECT_FALSE(write_results_file(results, input));
  results = final_results(input, nullptr);
  EXPECT_EQ(results.entries.size(), 3u);
  set_search_directories({});
}

}  // namespace
