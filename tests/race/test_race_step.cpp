// Race step: the order of the step's hooks, the rotated wheel-terrain pass,
// robots holding still, the starting gates and the drop, laps and finishing
// after the leader, blocked lap ends, the time-limit rule, the time trial
// with its restart, the online false start, and repeatability.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "bike/rider.h"
#include "core/message.h"
#include "tests/race/race_fixture.h"

namespace {

// What the seams saw, in order.
struct Trace {
  std::vector<std::string> events;
  std::vector<int> wheel_slots;
  float throttle = 0;
  int finals = 0;
  std::vector<std::pair<int, bool>> laps;  // time-trial laps: ticks, faster
};

void trace_history(void* c, Race*) { ((Trace*)c)->events.push_back("history"); }
void trace_wheels(void* c, Bike* b, LoadedTrack*) {
  ((Trace*)c)->events.push_back("wheels");
  ((Trace*)c)->wheel_slots.push_back(b->slot);
}
void trace_controls(void* c, const Race&, int slot, float control[RACE_CONTROLS]) {
  ((Trace*)c)->events.push_back("controls " + std::to_string(slot));
  control[1] = ((Trace*)c)->throttle;  // CONTROL_THROTTLE
}
void trace_line(void* c, const Race&, int slot, int) { ((Trace*)c)->events.push_back("gate " + std::to_string(slot)); }
void trace_sound(void* c, int slot, const Bike&) { ((Trace*)c)->events.push_back("sound " + std::to_string(slot)); }
void trace_final(void* c, Race*) { ((Trace*)c)->finals++; }
void trace_lap(void* c, Race*, int ticks, bool faster) { ((Trace*)c)->laps.emplace_back(ticks, faster); }

bool always(void*) { return true; }
int drop_at_1700(void*) { return 1700; }

float horizontal_distance(Vec3 a, Vec3 b) { return std::hypot(a.x - b.x, a.z - b.z); }

class RaceStep : public RaceTest {
 protected:
  void SetUp() override {
    RaceTest::SetUp();
    install_seams();
  }
  void install_seams() {
    RaceSeams& s = race->seams;
    s.context = &trace;
    s.replay.context = &trace;
    s.robot.context = &trace;
    s.net.context = &trace;
    s.replay.history_step = trace_history;
    s.wheel_terrain = trace_wheels;
    s.robot.controls = trace_controls;
    s.robot.record_line = trace_line;
    s.final_results = trace_final;
    s.bike_stepped = trace_sound;
    s.replay.time_trial_lap = trace_lap;
  }
  // Rides through checkpoints 0..3 once: one lap.
  void lap(int slot) {
    for (int k = 0; k < 4; k++) visit(slot, k);
  }
  Trace trace;
};

}  // namespace

TEST_F(RaceStep, HooksRunInTheTickOrder) {
  write_race_track(data, "flat", 0);
  std::vector<int> lineup = lineup_of({LINEUP_ROBOT, LINEUP_ROBOT});
  ASSERT_TRUE(reset(&lineup));
  race_step(race.get());
  std::vector<std::string> expected = {"history",    "wheels",  "wheels", "controls 0", "sound 0",
                                       "gate 0",     "controls 1", "sound 1", "gate 1"};
  EXPECT_EQ(trace.events, expected);
  EXPECT_EQ(race->tick, 1);
}

TEST_F(RaceStep, WheelTerrainOrderRotatesWithTheTickAndFollowsTheRate) {
  write_race_track(data, "flat", 10);
  std::vector<int> lineup(MAX_BIKES, LINEUP_EMPTY);
  lineup[0] = lineup[5] = lineup[9] = LINEUP_ROBOT;
  ASSERT_TRUE(reset(&lineup));
  race_step(race.get());  // tick 0
  race_step(race.get());  // tick 1
  race_step(race.get());  // tick 2
  EXPECT_EQ(trace.wheel_slots, (std::vector<int>{0, 5, 9, 9, 0, 5, 5, 9, 0}));

  trace.wheel_slots.clear();
  race->wheel_terrain_rate = 250;  // twice per tick, a third time half the time
  steps(200);
  int counts[MAX_BIKES] = {};
  for (int s : trace.wheel_slots) counts[s]++;
  for (int s : {0, 5, 9}) {
    EXPECT_GE(counts[s], 400 + 60) << s;
    EXPECT_LE(counts[s], 600 - 60) << s;
  }
  trace.wheel_slots.clear();
  race->wheel_terrain_rate = 0;
  steps(5);
  EXPECT_TRUE(trace.wheel_slots.empty());
}

TEST_F(RaceStep, RobotsWithoutAControllerHoldStill) {
  write_race_track(data, "flat", 10);
  race->seams.robot.controls = nullptr;
  std::vector<int> lineup = lineup_of({LINEUP_ROBOT, LINEUP_ROBOT_2_STROKE, LINEUP_ROBOT_4_STROKE});
  ASSERT_TRUE(reset(&lineup));
  steps(64);  // settling onto the ground
  Vec3 before[3] = {frame(0), frame(1), frame(2)};
  steps(3 * 128);
  for (int s = 0; s < 3; s++) {
    EXPECT_LT(horizontal_distance(frame(s), before[s]), 0.25f) << s;
    EXPECT_EQ(race->bikes[s]->input.throttle, 0.0f);
    EXPECT_EQ(race->bikes[s]->crash_count, 0);
  }
}

TEST_F(RaceStep, TheGateHoldsAPushingBikeUntilTheDrop) {
  write_race_track(data, "flat", 1, false);
  std::vector<int> lineup = lineup_of({LINEUP_ROBOT});
  ASSERT_TRUE(reset(&lineup));
  trace.throttle = 0.6f;
  const int D = race->gate_drop_tick;
  steps(D - 1);
  // Gate line at z = 300, the gate 3 ft in front of it: the front tyre stays behind it.
  DVec front = body_position(*race->bikes[0], BODY_FRONT_WHEEL);
  EXPECT_GT(front.z, 297 - 0.2);
  EXPECT_EQ(race->gates[0].angle, 1.0f);
  steps(4 * 128);
  EXPECT_LT(race->gates[0].angle, 0.05f);
  EXPECT_LT(frame(0).z, 280);  // away after the drop
}

TEST_F(RaceStep, GatesFallInAQuarterSecondUnlessTheyLandOnABike) {
  write_race_track(data, "flat", 3, false);
  std::vector<int> lineup = lineup_of({});  // one robot, standing still
  ASSERT_TRUE(reset(&lineup));
  race->seams.robot.controls = nullptr;
  // Across the front of gate 0 (x = 236, falling towards -z from z = 297).
  place_bike(race->bikes[0], Vec3{233.5f, 0, 295.5f}, (float)(PI_D / 2));
  const int D = race->gate_drop_tick;
  steps(D);
  EXPECT_EQ(race->gates[2].angle, 1.0f);
  steps(16);
  EXPECT_GT(race->gates[2].angle, 0.5f);
  EXPECT_LT(race->gates[2].angle, 1.0f);
  steps(20);
  EXPECT_EQ(race->gates[2].angle, 0.0f);
  EXPECT_EQ(race->gates[2].speed, 8.0f);
  EXPECT_GT(race->gates[0].angle, 0.3f);  // resting on the bike
  EXPECT_LT(race->gates[0].angle, 1.0f);
}

TEST_F(RaceStep, BikesFinishOnTheLapTotalOrAfterTheLeader) {
  write_race_track(data, "flat", 10);
  std::vector<int> lineup = lineup_of({LINEUP_ROBOT, LINEUP_ROBOT, LINEUP_ROBOT});
  ASSERT_TRUE(reset(&lineup, 0, 2));
  lap(0);
  lap(1);
  EXPECT_EQ(race_lap_state(*race, 0).completed_laps, 1);
  EXPECT_EQ(race->running_order[0].slot, 0);  // first to the line
  EXPECT_EQ(race->running_order[1].slot, 1);
  EXPECT_EQ(race->running_order[2].slot, 2);  // no gate yet
  EXPECT_FALSE(race_over(*race));
  lap(0);
  EXPECT_TRUE(race_bike_finished(*race, 0));
  EXPECT_TRUE(race_over(*race));
  EXPECT_FALSE(race_bike_finished(*race, 1));
  // A finished bike stops timing.
  visit(0, 0);
  EXPECT_EQ(race->timing[0].gates_passed, 8);
  // Behind the leader, the next lap end is the flag, whatever the laps.
  for (int k = 0; k < 3; k++) visit(1, k);
  EXPECT_FALSE(race_bike_finished(*race, 1));
  visit(1, 3);
  EXPECT_TRUE(race_bike_finished(*race, 1));
  EXPECT_EQ(race_lap_state(*race, 1).completed_laps, 2);
  EXPECT_EQ(trace.finals, 0);
  lap(2);
  EXPECT_TRUE(race_bike_finished(*race, 2));
  EXPECT_EQ(race_lap_state(*race, 2).completed_laps, 1);
  EXPECT_EQ(trace.finals, 1);
  EXPECT_TRUE(race->results_final);
  int lap_number = 0;
  EXPECT_GT(race_best_lap(*race, 0, &lap_number), 0);
  EXPECT_EQ(lap_number, 2);
}

TEST_F(RaceStep, AnUnpassedLapEndBlocksTheNextLap) {
  write_race_track(data, "flat", 10);
  std::vector<int> lineup = lineup_of({LINEUP_ROBOT});
  ASSERT_TRUE(reset(&lineup, 0, 5));
  for (int k = 0; k < 3; k++) visit(0, k);
  visit(0, 0);  // past the line without crossing it
  visit(0, 1);
  EXPECT_EQ(race->timing[0].gates_passed, 3);
  EXPECT_EQ(race_lap_state(*race, 0).completed_laps, 0);
  visit(0, 3);
  EXPECT_EQ(race_lap_state(*race, 0).completed_laps, 1);
}

namespace {

// Timing-only races: slots present without bikes, laps written as pass ticks.
class RaceLength : public ::testing::Test {
 protected:
  void SetUp() override {
    init_race(&race);
    race.track = &track;
    for (const Checkpoint& c : FIXTURE_CHECKPOINTS) track.gates.checkpoints.push_back(c);
    track.gates.sequence = {0, 1, 2, 3, 0, 1, 2, 3};
    track.gates.first_lap = track.gates.normal_lap = 4;
    track.gates.first_lap_splits = track.gates.normal_lap_splits = 4;
    track.gates.timed = true;
    race.gate_drop_tick = 1700;
  }
  // Slot `slot` completes lap `lap` at the tick (every gate of the lap on it).
  void complete(int slot, int lap, int tick) {
    race.mode[slot] = RACE_SLOT_ROBOT;
    for (int g = lap_end_gate(track.gates, lap - 1) + 1; g <= lap_end_gate(track.gates, lap); g++)
      set_pass_tick(&race.timing[slot], g, tick);
    race.timing[slot].gates_passed = lap_end_gate(track.gates, lap) + 1;
  }
  int at(int minutes, int seconds) const { return race.gate_drop_tick + (minutes * 60 + seconds) * 128; }
  void standings_at(int tick) {
    race.tick = tick;
    update_standings(&race);
  }
  LoadedTrack track;
  Race race;
};

}  // namespace

TEST_F(RaceLength, TenMinutesAndTwoLapsWithTheLeaderOnLapSevenAtTheLimitGivesTen) {
  set_race_length(&race, 10 * 60 * 128, 2);
  auto ride = [&](int from, int to) {  // 1:20 laps
    for (int lap = from; lap <= to; lap++) complete(0, lap, at(lap * 80 / 60, lap * 80 % 60));
  };
  ride(1, 3);
  complete(1, 1, at(1, 30));
  standings_at(at(4, 59));
  EXPECT_EQ(race.half_way_lap, OPEN_LAPS);
  standings_at(at(5, 0));
  EXPECT_EQ(race.half_way_lap, 4);  // three laps done at half time
  ride(4, 6);
  complete(0, 7, at(9, 50));
  standings_at(at(10, 0));
  EXPECT_EQ(race.lap_total, OPEN_LAPS);  // nobody has finished a lap after the limit yet
  complete(0, 8, at(10, 40));
  standings_at(at(10, 40));
  EXPECT_EQ(race.lap_total, 10);
  complete(0, 9, at(12, 0));
  standings_at(at(12, 0));
  EXPECT_EQ(race.lap_total, 10);
  EXPECT_EQ(race.half_way_lap, 4);
}

TEST_F(RaceLength, ALapRaceKeepsItsLapsAndHalfWay) {
  set_race_length(&race, 0, 5);
  EXPECT_EQ(race.lap_total, 5);
  EXPECT_EQ(race.half_way_lap, 3);
  complete(0, 1, at(20, 0));
  standings_at(at(30, 0));
  EXPECT_EQ(race.lap_total, 5);
}

TEST_F(RaceLength, TheRunningOrderSortsByGatesThenTimeThenSlot) {
  complete(4, 1, 3000);
  complete(2, 1, 2900);
  complete(7, 1, 2900);
  complete(1, 2, 9000);
  race.mode[9] = RACE_SLOT_HISTORY;  // present, no gate yet
  update_standings(&race);
  ASSERT_EQ(race.running_count, 5);
  int expected[5] = {1, 2, 7, 4, 9};
  for (int i = 0; i < 5; i++) EXPECT_EQ(race.running_order[i].slot, expected[i]) << i;
  EXPECT_EQ(race.running_order[4].last_tick, -1);
}

TEST_F(RaceStep, TimeTrialLapsAndTheRestartBeforeTheLine) {
  write_race_track(data, "flat", 10);
  ASSERT_TRUE(reset(nullptr));
  ASSERT_EQ(race->local_slot, 0);
  RaceRider ghost;
  ASSERT_TRUE(race_add_bike(race.get(), 3, RACE_SLOT_HISTORY, ghost));
  lap(0);  // from the gates: not timed
  ASSERT_EQ(trace.laps.size(), 1u);
  EXPECT_EQ(trace.laps[0].first, -1);
  steps(100);
  lap(0);  // a timed lap
  ASSERT_EQ(trace.laps.size(), 2u);
  EXPECT_EQ(trace.laps[1].first, 104);
  EXPECT_TRUE(trace.laps[1].second);
  EXPECT_EQ(race->best_lap, 104);
  steps(200);
  lap(0);  // slower
  EXPECT_EQ(trace.laps[2].first, 204);
  EXPECT_FALSE(trace.laps[2].second);
  EXPECT_EQ(race->best_lap, 104);
  EXPECT_EQ(race->last_lap, 204);

  start_crash(race->bikes[0]);
  restart_attempt(race.get());
  EXPECT_EQ(race->bikes[3], nullptr);  // everybody else goes
  ASSERT_NE(race->bikes[0], nullptr);
  EXPECT_EQ(race->bikes[0]->crash_timer, 0);
  EXPECT_EQ(race->timing[0].gates_passed, 2);  // F - 2
  EXPECT_EQ(race->best_lap, -1);
  // At checkpoint 2, facing along its direction (-1, 0, -1), clear of the ground.
  EXPECT_LT(horizontal_distance(frame(0), Vec3{256, 0, 40}), 1.0f);
  DVec forward = bike_forward(*race->bikes[0]);
  EXPECT_NEAR(forward.x, -std::sqrt(0.5), 1e-4);
  EXPECT_NEAR(forward.z, -std::sqrt(0.5), 1e-4);
  Vec3 raised = frame(0);
  place_bike(race->bikes[0], Vec3{256, 0, 40}, 0.0f);
  EXPECT_NEAR(raised.y - frame(0).y, 0.25, 1e-4);
  // Riding into the restart gate takes it; the line then starts a lap.
  race_step(race.get());
  EXPECT_EQ(race->timing[0].gates_passed, 2);
  visit(0, 2);
  EXPECT_EQ(race->timing[0].gates_passed, 3);
  visit(0, 3);
  ASSERT_EQ(trace.laps.size(), 4u);
  EXPECT_EQ(trace.laps[3].first, -1);  // the flying start
  steps(300);
  lap(0);
  ASSERT_EQ(trace.laps.size(), 5u);
  EXPECT_EQ(trace.laps[4].first, 304);
  EXPECT_FALSE(trace.laps[4].second);  // the session's best is kept across attempts
  EXPECT_EQ(race->best_lap, 304);
}

TEST_F(RaceStep, OnlineAFalseStartHoldsTheRiderUntilFifteenSecondsAfterTheDrop) {
  write_race_track(data, "flat", 10);
  race->seams.net.online = always;
  race->seams.net.gate_drop_tick = drop_at_1700;
  race->seams.net.server_race_running = always;
  std::vector<int> lineup = lineup_of({LINEUP_HUMAN});
  ASSERT_TRUE(reset(&lineup));
  EXPECT_EQ(race->gate_drop_tick, 1700);
  steps(200);
  EXPECT_EQ(race->bikes[0]->input.sit, 1.0f);  // held seated before the drop
  EXPECT_EQ(race->penalty_hold, 0);
  clear_message_lines();
  Vec3 start = race->start_position;
  place_bike(race->bikes[0], Vec3{start.x, 0, start.z - 3.5f}, 0.0f);
  race_step(race.get());
  EXPECT_TRUE(message_shown("15 second false start penalty"));
  EXPECT_EQ(race->penalty_hold, 1700 + 1920 - 200 - 1);
  set_player_controls(race.get(), RaceControls{0, 0, 0, 1, 0, 0, 0, 1, 0});
  race_step(race.get());
  EXPECT_EQ(race->bikes[0]->input.throttle, 0.0f);
  EXPECT_EQ(race->bikes[0]->input.front_brake, 1.0f);
  EXPECT_EQ(race->bikes[0]->input.clutch, 0.0f);
  steps(1700 + 1920 - race->tick - 1);
  EXPECT_EQ(race->penalty_hold, 1);
  race_step(race.get());
  EXPECT_EQ(race->penalty_hold, 0);
  EXPECT_EQ(race->tick, 1700 + 1920);
}

bool never(void*) { return false; }

TEST_F(RaceStep, OnlineWarmupRidesThroughOtherBikesAndTheRaceDoesNot) {
  write_race_track(data, "flat", 10);
  race->seams.net.online = always;
  race->seams.net.gate_drop_tick = drop_at_1700;
  race->seams.net.server_race_running = never;
  std::vector<int> lineup = lineup_of({LINEUP_ROBOT, LINEUP_ROBOT});
  ASSERT_TRUE(reset(&lineup));
  // Two bikes side by side, half a bike's width apart: how far apart they
  // are after a quarter second.
  const Vec3 at = frame(0);
  auto overlap_then_step = [&] {
    place_bike(race->bikes[0], at, 0.0f);
    place_bike(race->bikes[1], Vec3{at.x + 0.5f, at.y, at.z}, 0.0f);
    steps(32);
    return horizontal_distance(frame(0), frame(1));
  };
  // The warmup: they ride through each other, not moved at all.
  EXPECT_NEAR(overlap_then_step(), 0.5f, 0.01f);
  // The server's race: they push each other apart.
  race->seams.net.server_race_running = always;
  EXPECT_GT(overlap_then_step(), 0.6f);
}

TEST_F(RaceStep, OnlineTheStandingsRefreshEvery512TicksAtTick510) {
  write_race_track(data, "flat", 10);
  std::vector<int> lineup = lineup_of({LINEUP_ROBOT, LINEUP_ROBOT});
  ASSERT_TRUE(reset(&lineup));
  ASSERT_EQ(race->running_order[0].slot, 0);
  // The server's word that slot 1 passed a gate: nothing else reorders.
  auto lead_with_slot_1 = [&] {
    set_pass_tick(&race->timing[1], 0, 5);
    set_gates_passed(&race->timing[1], 1);
  };
  lead_with_slot_1();
  steps(600);
  EXPECT_EQ(race->running_order[0].slot, 0);  // offline only laps reorder

  race->seams.net.online = always;
  race->seams.net.gate_drop_tick = drop_at_1700;
  race->seams.net.server_race_running = always;
  ASSERT_TRUE(reset(&lineup));
  lead_with_slot_1();
  steps(509);
  EXPECT_EQ(race->running_order[0].slot, 0);
  steps(1);
  EXPECT_EQ(race->tick, 510);
  EXPECT_EQ(race->running_order[0].slot, 1);
  // And again at 1022, not before.
  set_pass_tick(&race->timing[0], 0, 4);
  set_gates_passed(&race->timing[0], 1);
  steps(511);
  EXPECT_EQ(race->running_order[0].slot, 1);
  steps(1);
  EXPECT_EQ(race->tick, 1022);
  EXPECT_EQ(race->running_order[0].slot, 0);
}

TEST_F(RaceStep, OnlineTheResultsWaitForEveryRiderButOneGoneQuiet) {
  write_race_track(data, "flat", 10);
  static bool quiet;
  quiet = false;
  race->seams.net.online = always;
  race->seams.net.gate_drop_tick = drop_at_1700;
  race->seams.net.slot_rider = [](void*, int, int, RaceRider* rider) {
    rider->model = "yz250(2012)";
    return true;
  };
  race->seams.net.slot_inactive = [](void*, int slot) { return slot == 1 && quiet; };
  std::vector<int> lineup = lineup_of({LINEUP_HUMAN, LINEUP_REMOTE_PLAYER, LINEUP_ROBOT});
  ASSERT_TRUE(reset(&lineup));
  ASSERT_EQ(race->mode[1], RACE_SLOT_HISTORY);
  race->timing[0].finished = true;
  race->timing[2].finished = true;
  update_standings(race.get());
  EXPECT_FALSE(race->results_final);  // slot 1 is still riding
  EXPECT_EQ(trace.finals, 0);
  // Only a remote rider counts as gone; our own robot must finish.
  race->timing[2].finished = false;
  quiet = true;
  update_standings(race.get());
  EXPECT_FALSE(race->results_final);
  race->timing[2].finished = true;
  update_standings(race.get());
  EXPECT_TRUE(race->results_final);
  EXPECT_EQ(trace.finals, 1);
}

TEST_F(RaceStep, OfflineMovingBeforeTheDropIsNoFalseStart) {
  write_race_track(data, "flat", 10);
  std::vector<int> lineup = lineup_of({LINEUP_HUMAN});
  ASSERT_TRUE(reset(&lineup));
  Vec3 start = race->start_position;
  place_bike(race->bikes[0], Vec3{start.x, 0, start.z - 5}, 0.0f);
  steps(10);
  EXPECT_EQ(race->penalty_hold, 0);
  set_player_controls(race.get(), RaceControls{0, 0, 0, 1, 0, 0, 0, 1, 0});
  EXPECT_EQ(race->bikes[0]->input.throttle, 1.0f);
}

TEST_F(RaceStep, TheSameRaceTwiceIsBitIdentical) {
  write_race_track(data, "flat", 10);
  trace.throttle = 0.5f;
  std::vector<int> lineup = lineup_of({LINEUP_ROBOT, LINEUP_ROBOT, LINEUP_HUMAN, LINEUP_ROBOT_2_STROKE});
  DVec first[4];
  for (int run = 0; run < 2; run++) {
    free_race(race.get());  // a fresh race, seams and world
    destroy_bike_world();
    create_bike_world();
    init_race(race.get());
    race->ground_method = GROUND_SOFTWARE;
    install_seams();
    ASSERT_TRUE(reset(&lineup));
    for (int i = 0; i < race->gate_drop_tick + 256; i++) {
      set_player_controls(race.get(), RaceControls{0.2f, 0, 0, 0.7f, 0, 0, 0, 1, 0});
      race_step(race.get());
    }
    for (int s = 0; s < 4; s++) {
      DVec p = body_position(*race->bikes[s], BODY_FRAME);
      if (run == 0) first[s] = p;
      else EXPECT_TRUE(p.x == first[s].x && p.y == first[s].y && p.z == first[s].z) << s;
    }
  }
  EXPECT_LT(first[2].z, 290);  // the player rode off after the drop
}
