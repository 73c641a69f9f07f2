// Race reset: phases and their messages, the reload rule, lineup rules and
// robot kinds, placement on the gates and without them, the drop tick, the
// personality shuffle and the race length.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <vector>

#include "robot/personalities.h"
#include "tests/race/race_fixture.h"
#include "track/loading.h"

namespace {

std::vector<std::string> g_screen;
void record_screen(const char* text) { g_screen.push_back(text); }

size_t position_of(const std::string& text, const std::string& part) {
  size_t at = text.find(part);
  EXPECT_NE(at, std::string::npos) << "missing: " << part;
  return at;
}

}  // namespace

TEST_F(RaceTest, ResetRunsItsPhasesInOrderWithTheirMessages) {
  write_race_track(data, "flat", 10);
  g_screen.clear();
  auto previous = g_draw_loading_screen;
  g_draw_loading_screen = record_screen;
  std::vector<int> lineup = lineup_of({LINEUP_HUMAN, LINEUP_ROBOT});
  bool ok = reset(&lineup);
  g_draw_loading_screen = previous;
  ASSERT_TRUE(ok);

  const std::string text = log.text();
  size_t resetting = position_of(text, "Resetting\n");
  size_t remembering = position_of(text, "Remembering lines\n");
  size_t cleaning = position_of(text, "Cleaning up\n");
  size_t deallocating = position_of(text, "Deallocating bikes\n");
  size_t deallocated = position_of(text, "Finished deallocating bikes\n");
  size_t heights = position_of(text, "Loading heights");
  size_t analyzing = position_of(text, "Analyzing lines\n");
  size_t bikes = position_of(text, "Loading bikes\n");
  size_t memory = position_of(text, "MB texture memory used\n");
  EXPECT_LT(resetting, remembering);
  EXPECT_LT(remembering, cleaning);
  EXPECT_LT(cleaning, deallocating);
  EXPECT_LT(deallocating, deallocated);
  EXPECT_LT(deallocated, heights);
  EXPECT_LT(heights, analyzing);
  EXPECT_LT(analyzing, bikes);
  EXPECT_LT(bikes, memory);

  auto shown = [](const char* line) { return std::find(g_screen.begin(), g_screen.end(), line) != g_screen.end(); };
  EXPECT_EQ(g_screen.front(), "Resetting...");
  for (const char* done : {"Remembering lines...done", "Cleaning up...done", "Analyzing lines...done",
                           "Loading bikes...done"})
    EXPECT_TRUE(shown(done)) << done;
}

TEST_F(RaceTest, ATrackThatDoesNotLoadFailsWithNoBikes) {
  write_race_track(data, "flat", 10);
  std::vector<int> lineup = lineup_of({LINEUP_HUMAN, LINEUP_ROBOT});
  ASSERT_TRUE(reset(&lineup));
  EXPECT_FALSE(reset(&lineup, 0, 3, "nowhere"));
  for (Bike* b : race->bikes) EXPECT_EQ(b, nullptr);
  EXPECT_EQ(race->local_slot, NO_BIKE);
  EXPECT_EQ(race->running_count, 0);
  race_step(race.get());  // a step without a track or bikes does nothing
}

TEST_F(RaceTest, TheSameTrackIsNotLoadedAgain) {
  write_race_track(data, "flat", 10);
  std::vector<int> lineup = lineup_of({LINEUP_ROBOT});
  ASSERT_TRUE(reset(&lineup));
  g_track.terrain.modification_count = 77;  // stands for ruts ridden into it
  ASSERT_TRUE(reset(&lineup));
  EXPECT_EQ(g_track.terrain.modification_count, 77);
  // Asked once for a fresh read, the next reset loads it again, and only that one.
  static int asked;
  asked = 1;
  race->seams.net.take_forced_reload = [](void*) { return asked-- > 0; };
  ASSERT_TRUE(reset(&lineup));
  EXPECT_EQ(g_track.terrain.modification_count, 0);
  g_track.terrain.modification_count = 5;
  ASSERT_TRUE(reset(&lineup));
  EXPECT_EQ(g_track.terrain.modification_count, 5);
  race->seams.net.take_forced_reload = nullptr;
  write_race_track(data, "other", 4);
  ASSERT_TRUE(reset(&lineup, 0, 3, "other"));
  EXPECT_EQ(g_track.name, "other");
  EXPECT_EQ(g_track.gates.starting_gates.size(), 4u);
}

TEST(Lineup, OnlyTheFirstHumanIsKeptAndAnEmptyLineupGetsARobot) {
  std::vector<int> in = lineup_of({LINEUP_ROBOT, LINEUP_HUMAN, LINEUP_HUMAN, 7, -3, LINEUP_HUMAN, LINEUP_ROBOT_NUMBER + 4});
  int out[MAX_BIKES];
  normalise_lineup(in.data(), false, out);
  EXPECT_EQ(out[0], LINEUP_ROBOT);
  EXPECT_EQ(out[1], LINEUP_HUMAN);
  EXPECT_EQ(out[2], LINEUP_EMPTY);
  EXPECT_EQ(out[3], LINEUP_EMPTY);  // unknown codes are empty
  EXPECT_EQ(out[4], LINEUP_EMPTY);
  EXPECT_EQ(out[5], LINEUP_EMPTY);
  EXPECT_EQ(out[6], LINEUP_ROBOT_NUMBER + 4);

  std::vector<int> empty = lineup_of({});
  normalise_lineup(empty.data(), false, out);
  EXPECT_EQ(out[0], LINEUP_ROBOT);
  EXPECT_EQ(std::count(out, out + MAX_BIKES, LINEUP_EMPTY), MAX_BIKES - 1);
  normalise_lineup(empty.data(), true, out);  // a demo brings its own riders
  EXPECT_EQ(std::count(out, out + MAX_BIKES, LINEUP_EMPTY), MAX_BIKES);
}

TEST_F(RaceTest, RobotSlotsGetBikesOfTheirKindAndThePlayerTheConfiguredOne) {
  write_race_track(data, "flat", 10);
  race->player.model = "yz250(2012)";
  race->player.number = "42";
  std::vector<int> lineup = lineup_of({LINEUP_ROBOT_2_STROKE, LINEUP_ROBOT_4_STROKE, LINEUP_HUMAN, LINEUP_ROBOT,
                                       LINEUP_ROBOT_2_STROKE, LINEUP_HUMAN, LINEUP_ROBOT_4_STROKE});
  ASSERT_TRUE(reset(&lineup));
  EXPECT_EQ(race->local_slot, 2);
  EXPECT_EQ(race->mode[2], RACE_SLOT_LOCAL);
  EXPECT_STREQ(race->bikes[2]->model.name, "yz250(2012)");
  EXPECT_STREQ(race->bikes[2]->number, "42");
  EXPECT_TRUE(race->bikes[2]->announce_messages);
  EXPECT_EQ(race->bikes[5], nullptr);  // the second human
  std::set<int> personalities;
  for (int s : {0, 1, 3, 4, 6}) {
    ASSERT_NE(race->bikes[s], nullptr) << s;
    EXPECT_EQ(race->mode[s], RACE_SLOT_ROBOT);
    ASSERT_GE(race->personality[s], 0);
    const RobotPersonality& p = g_robot_personalities[race->personality[s]];
    EXPECT_STREQ(race->bikes[s]->model.name, p.bike);
    EXPECT_STREQ(race->bikes[s]->number, p.number);
    EXPECT_FALSE(race->bikes[s]->announce_messages);
    personalities.insert(race->personality[s]);
  }
  EXPECT_NE(strstr(race->bikes[0]->model.name, "125"), nullptr);
  EXPECT_NE(strstr(race->bikes[4]->model.name, "125"), nullptr);
  EXPECT_TRUE(personality_fits(g_robot_personalities[race->personality[1]], PERSONALITY_FOUR_STROKE));
  EXPECT_TRUE(personality_fits(g_robot_personalities[race->personality[6]], PERSONALITY_FOUR_STROKE));
  EXPECT_EQ(personalities.size(), 5u);  // nobody rides twice while others wait
}

TEST_F(RaceTest, OnlineCodesTakeTheServersRidersAndRobotNumbers) {
  write_race_track(data, "flat", 10);
  static int created;
  created = 0;
  race->seams.robot.robot_created = [](void*, int, int, int) { created++; };
  std::vector<int> lineup =
      lineup_of({LINEUP_HUMAN, LINEUP_REMOTE_PLAYER, LINEUP_ROBOT_NUMBER + 3, LINEUP_ROBOT_NUMBER + 7});
  // Without the server's tables a player cannot be placed; robot n is ridden
  // here by personality n.
  ASSERT_TRUE(reset(&lineup));
  EXPECT_EQ(race->bikes[1], nullptr);
  EXPECT_EQ(race->mode[2], RACE_SLOT_ROBOT);
  EXPECT_EQ(race->personality[2], 3);
  EXPECT_STREQ(race->bikes[2]->number, g_robot_personalities[3].number);
  EXPECT_EQ(race->personality[3], 7);
  EXPECT_EQ(created, 2);

  // With them, players and the server's robots alike ride as the server's
  // states say, under the names it gave.
  race->seams.net.slot_rider = [](void*, int slot, int code, RaceRider* rider) {
    rider->model = "yz250(2012)";
    rider->name = (code >= LINEUP_ROBOT_NUMBER ? "Robot " : "Player ") + std::to_string(slot);
    return true;
  };
  created = 0;
  ASSERT_TRUE(reset(&lineup));
  for (int s : {1, 2, 3}) {
    ASSERT_NE(race->bikes[s], nullptr) << s;
    EXPECT_EQ(race->mode[s], RACE_SLOT_HISTORY) << s;
  }
  EXPECT_EQ(race->riders[2].name, "Robot 2");
  EXPECT_EQ(race->riders[1].name, "Player 1");
  EXPECT_EQ(race->personality[1], -1);
  EXPECT_EQ(race->personality[2], 3);
  EXPECT_EQ(race->personality[3], 7);
  EXPECT_EQ(created, 0);  // no robot of ours drives them
}

TEST_F(RaceTest, AFullGridOfRobotsReusesPersonalitiesOnlyOnceAllAreTaken) {
  write_race_track(data, "flat", 10);
  std::vector<int> lineup(MAX_BIKES, LINEUP_ROBOT);
  ASSERT_TRUE(reset(&lineup));
  int uses[PERSONALITY_COUNT] = {};
  for (int s = 0; s < MAX_BIKES; s++) {
    ASSERT_NE(race->bikes[s], nullptr);
    uses[race->personality[s]]++;
  }
  for (int u : uses) EXPECT_EQ(u, 2);
  EXPECT_EQ(race->local_slot, NO_BIKE);  // nobody to ride: the player watches
}

TEST(Placement, RowsBehindTheGatesAndTheTerrainCentreWithoutThem) {
  LoadedTrack track;
  for (int g = 0; g < 10; g++)
    track.gates.starting_gates.push_back(StartingGate{{100.0f + 4 * g, 5, 50}, 0.5f, "", "", ""});
  StartPlace p = starting_place(track, 12);  // row 1, gate 2
  EXPECT_NEAR(p.position.x, 108 + std::sin(0.5) * 10.625, 1e-4);
  EXPECT_NEAR(p.position.z, 50 + std::cos(0.5) * 10.625, 1e-4);
  EXPECT_FLOAT_EQ(p.position.y, 5);  // no ground: the gate's height
  EXPECT_FLOAT_EQ(p.heading, 0.5f);
  StartPlace front = starting_place(track, 9);
  EXPECT_NEAR(front.position.x, 136 + std::sin(0.5) * 0.625, 1e-4);

  LoadedTrack bare;
  init_flat_terrain(&bare.terrain, 6, 4.0f, 3.0f);
  StartPlace c0 = starting_place(bare, 0), c3 = starting_place(bare, 3);
  EXPECT_FLOAT_EQ(c0.position.x, 256);
  EXPECT_FLOAT_EQ(c0.position.z, 256);
  EXPECT_FLOAT_EQ(c0.position.y, 3);  // standing on the ground
  EXPECT_FLOAT_EQ(c3.position.x - c0.position.x, 15);
  free_terrain(&bare.terrain);
}

TEST_F(RaceTest, BikesStandInTheirRowsAfterTheReset) {
  write_race_track(data, "flat", 10);
  std::vector<int> lineup(13, LINEUP_ROBOT);
  lineup.resize(MAX_BIKES, LINEUP_EMPTY);
  ASSERT_TRUE(reset(&lineup));
  // Slot 12: gate 2 (x = 244), row 1: 10.625 behind the gate line at z = 300.
  // The frame sits a little behind the midpoint of the axles.
  Vec3 p = frame(12);
  EXPECT_NEAR(p.x, 244, 0.01);
  EXPECT_NEAR(p.z, 310.625, 1.0);
  EXPECT_NEAR(frame(2).z + 10, p.z, 0.01);
  DVec forward = bike_forward(*race->bikes[12]);
  EXPECT_NEAR(forward.z, -1, 1e-6);
}

TEST(DropTick, ThirteenToFifteenSeconds) {
  uint32_t state = 12345;
  int lowest = 1 << 30, highest = 0;
  for (int i = 0; i < 5000; i++) {
    int d = random_gate_drop_tick(&state);
    lowest = std::min(lowest, d);
    highest = std::max(highest, d);
  }
  EXPECT_GE(lowest, 13 * 128);
  EXPECT_LT(highest, 15 * 128);
  EXPECT_LT(lowest, 13 * 128 + 10);  // the whole range is used
  EXPECT_GT(highest, 15 * 128 - 10);
}

TEST(Shuffle, APermutationThatFollowsTheSeed) {
  int a[80], b[80], c[80];
  uint32_t sa = 1000, sb = 1000, sc = 1001;
  shuffle_personalities(a, &sa);
  shuffle_personalities(b, &sb);
  shuffle_personalities(c, &sc);
  EXPECT_TRUE(std::equal(a, a + 80, b));
  EXPECT_FALSE(std::equal(a, a + 80, c));
  std::vector<int> sorted(a, a + 80);
  std::sort(sorted.begin(), sorted.end());
  for (int i = 0; i < 80; i++) EXPECT_EQ(sorted[(size_t)i], i);
  // Swapping j with an entry below j (never itself) moves every entry.
  for (int i = 0; i < 80; i++) EXPECT_NE(a[i], i);
}

TEST_F(RaceTest, ResetSetsTheClockTheDropAndTheLapTotals) {
  write_race_track(data, "flat", 10);
  std::vector<int> lineup = lineup_of({LINEUP_HUMAN});
  ASSERT_TRUE(reset(&lineup, 0, 5));
  EXPECT_EQ(race->tick, 0);
  EXPECT_GE(race->gate_drop_tick, 1664);
  EXPECT_LT(race->gate_drop_tick, 1920);
  EXPECT_EQ(race->lap_total, 5);
  EXPECT_EQ(race->half_way_lap, 3);
  for (const GateFall& g : race->gates) EXPECT_EQ(g.angle, 1.0f);
  EXPECT_FALSE(race->time_trial);

  ASSERT_TRUE(reset(&lineup, 10 * 60 * 128, 2));
  EXPECT_EQ(race->lap_total, OPEN_LAPS);
  EXPECT_EQ(race->half_way_lap, OPEN_LAPS);
  EXPECT_EQ(race->configured_laps, 2);

  ASSERT_TRUE(reset(nullptr));  // time trial: the player alone in slot 0
  EXPECT_TRUE(race->time_trial);
  EXPECT_EQ(race->tick, TIME_TRIAL_START_TICK);
  EXPECT_EQ(race->local_slot, 0);
  int bikes = 0;
  for (Bike* b : race->bikes) bikes += b != nullptr;
  EXPECT_EQ(bikes, 1);
}
