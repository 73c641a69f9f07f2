// The history driving real bikes: five simulated riders on the proving
// ground are recorded to a demo, five history-driven bikes are posed from
// it, and every body matches at every sampled tick; the soft follow of a
// crashed bike; visibility after the demo runs out.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "bike/bike.h"
#include "bike/bike_sim.h"
#include "bike/proving_ground.h"
#include "replay/bike_replay.h"
#include "replay_test_util.h"
#include "tools/ride/ride.h"
#include "track/terrain.h"

namespace {

constexpr int RIDERS = 5;
constexpr int PLAY_SLOT = 10;
StateHistory g_h[MAX_BIKES];

const Terrain& proving_ground() {
  static Terrain* t = [] {
    Terrain* made = new Terrain();
    build_course(made, COURSE_PROVING_GROUND);
    return made;
  }();
  return *t;
}

struct Truth {
  BikePose pose;
  DVec velocity;
  double rpm;
  bool crashed;
};

struct BikeReplay : ScratchHome {
  Bike* bikes[MAX_BIKES] = {};
  int mode[MAX_BIKES];
  void SetUp() override {
    ScratchHome::SetUp();
    create_bike_world();
    for (int& m : mode) m = SLOT_MODE_EMPTY;
    clear_all_histories(g_h);
  }
  void TearDown() override {
    for (int s = 0; s < MAX_BIKES; s++) remove(s);
    destroy_bike_world();
    ScratchHome::TearDown();
  }
  Bike* add(int slot, int slot_mode, Vec3 at, float heading) {
    bikes[slot] = create_bike("crf450(2016)", slot, nullptr, nullptr, nullptr, nullptr, "9");
    at.y = height_at(proving_ground(), at.x, at.z);
    place_bike(bikes[slot], at, heading);
    mode[slot] = slot_mode;
    return bikes[slot];
  }
  void remove(int slot) {
    delete_bike(bikes[slot]);
    bikes[slot] = nullptr;
    mode[slot] = SLOT_MODE_EMPTY;
  }
};

}  // namespace

TEST_F(BikeReplay, FiveRidersRecordedAndPlayedBackMatchAtEverySampledTick) {
  const Terrain& terrain = proving_ground();
  const RecordScale scale = record_scale_for_terrain(terrain);
  const int last = 128 * 16;
  CourseStart start = course_start(COURSE_PROVING_GROUND);
  PathFollower followers[RIDERS];
  std::vector<DemoRider> riders;
  int slots[RIDERS];
  for (int i = 0; i < RIDERS; i++) {
    add(i, i ? SLOT_MODE_ROBOT : SLOT_MODE_PLAYER, Vec3{start.position.x + (i - 2) * 9.0f, 0, start.position.z - 15.0f * i},
        start.heading);
    followers[i].points = proving_ground_line(&followers[i].count);
    followers[i].speed = (28 + 3 * i) * FEET_PER_SECOND_PER_MPH;
    riders.push_back(demo_rider_for_bike(*bikes[i], ("Rider " + std::to_string(i)).c_str()));
    slots[i] = i;
  }
  DemoRecorder recorder;
  ASSERT_TRUE(start_recording(&recorder, DemoRecordingSetup{false, "pg", 0, 2, 1700, 0, RIDERS, slots, riders.data()}));
  std::map<int, std::vector<Truth>> truth;
  const ControlOptions options{false, false};
  for (int tick = 0;; tick++) {
    record_tick(&recorder, g_h, bikes, mode, tick, tick == 0, scale, nullptr);
    for (int i = 0; i < RIDERS && tick % SAMPLE_INTERVAL == 0; i++) {
      truth[tick].push_back(Truth{read_bike_pose(*bikes[i]), body_velocity(*bikes[i], BODY_FRAME),
                                  engine_rpm(*bikes[i]), bikes[i]->crash_timer > 0});
    }
    if (tick == last) break;
    for (int i = 0; i < RIDERS; i++) {
      float control[CONTROL_COUNT] = {};
      follow_path(&followers[i], *bikes[i], options, control);
      apply_control_vector(bikes[i], control, options);
    }
    run_bike_tick(bikes, terrain, tick);
  }
  stop_recording_bikes(&recorder, g_h, bikes, mode, last, scale, nullptr);
  for (int i = 0; i < RIDERS; i++) remove(i);

  // Playback into history-driven bikes standing elsewhere on the track.
  DemoPlayer player;
  ASSERT_TRUE(open_demo(&player, DEMO_DEFAULT_PATH, false));
  ASSERT_EQ(player.rider_count, RIDERS);
  EXPECT_EQ(player.riders[3].name, "Rider 3");
  EXPECT_EQ(player.riders[3].model, "crf450(2016)");
  clear_all_histories(g_h);
  for (int i = 0; i < RIDERS; i++) {
    RecordModel model = record_model_for(add(PLAY_SLOT + i, SLOT_MODE_HISTORY, Vec3{300.0f + 20 * i, 0, 300}, 1)->model);
    set_demo_rider_slot(&player, i, PLAY_SLOT + i, &model);
  }
  const double xz = scale.size / 16777215 + 1e-9, y = scale.range / 16777215 + 1e-9;
  int checked = 0, crashed = 0;
  double worst_part = 0, worst_wheel = 0, worst_velocity = 0;
  for (int current = 0; current <= last; current++) {
    read_demo_ahead(&player, g_h, &current);
    replay_bikes(bikes, mode, g_h, current, replay_version(player), scale);
    for (int i = 0; truth.count(current) && i < RIDERS; i++) {
      const Truth& want = truth[current][i];
      const Bike& b = *bikes[PLAY_SLOT + i];
      if (want.crashed) {  // followed softly: the test below
        crashed++;
        continue;
      }
      const BodyPose* w = want.pose.body;
      DVec p = body_position(b, BODY_FRAME);
      ASSERT_NEAR(p.x, w[0].position.x, xz) << "tick " << current << " rider " << i;
      ASSERT_NEAR(p.y, w[0].position.y, y);
      ASSERT_NEAR(p.z, w[0].position.z, xz);
      EXPECT_LT(angle_between(body_quaternion(b, BODY_FRAME), w[0].orientation), 2e-4);
      EXPECT_LT(length((body_position(b, BODY_RIDER) - p) - (w[BODY_RIDER].position - w[0].position)), 1e-3);
      for (int k = BODY_FRONT_WHEEL; k < BODY_RIDER; k++) {
        worst_part = std::fmax(worst_part, length(body_position(b, k) - w[k].position));
        double turn = angle_between(body_quaternion(b, k), w[k].orientation);
        if (k <= BODY_REAR_WHEEL) {
          worst_wheel = std::fmax(worst_wheel, turn);
        } else {
          EXPECT_LT(turn, 0.02) << "body " << k;
        }
      }
      if (current > 0) worst_velocity = std::fmax(worst_velocity, length(body_velocity(b, BODY_FRAME) - want.velocity));
      EXPECT_NEAR(engine_rpm(b), want.rpm, 0.6);
      checked++;
    }
    step_bike_world();
  }
  EXPECT_EQ(checked + crashed, RIDERS * (last / SAMPLE_INTERVAL + 1));
  EXPECT_GT(checked, RIDERS * last / SAMPLE_INTERVAL * 3 / 4);
  // Parts placed from the quantised joint angles, against a live bike whose
  // joints give a little under load: within half an inch; the wheels within
  // a step of their spin plus the steering and swingarm steps.
  EXPECT_LT(worst_part, 0.045);
  EXPECT_LT(worst_wheel, 2 * PI_D / 255 + 0.015);
  // Velocities from records 4 ticks apart: the average over them against
  // the instantaneous value.
  EXPECT_LT(worst_velocity, 2.0);
  // Past the demo's end the bikes hold still, and vanish after a second.
  EXPECT_TRUE(rider_visible(SLOT_MODE_HISTORY, g_h[PLAY_SLOT], last + VISIBILITY_TICKS));
  EXPECT_FALSE(rider_visible(SLOT_MODE_HISTORY, g_h[PLAY_SLOT], last + VISIBILITY_TICKS + 1));
  EXPECT_TRUE(rider_visible(SLOT_MODE_PLAYER, g_h[0], 0));
  close_demo(&player);
}

TEST_F(BikeReplay, CrashedBikeFollowsItsRecordSoftlyAndSnapsWhenFarOff) {
  Bike* b = add(3, SLOT_MODE_HISTORY, Vec3{1000, 0, 1000}, 0);
  const RecordScale scale = record_scale_for_terrain(proving_ground());
  BikeState s = read_bike_state(*b);
  s.crash_timer = 300;
  auto record_at = [&](double dx) {
    BikeState m = s;
    for (DVec& p : m.position) p.x += dx;
    StateRecord r = encode_state(m, record_model_for(b->model), scale, nullptr);
    return ReplayChoice{r, r, r, 4};
  };
  DVec before = body_position(*b, BODY_FRAME);
  pose_bike_from_choice(b, record_at(0.5), scale);
  EXPECT_FALSE(b->rider_attached);
  EXPECT_GT(b->crash_timer, 0);
  // Near the record: not moved, but heading for it over four ticks.
  EXPECT_LT(length(body_position(*b, BODY_FRAME) - before), 1e-12);
  EXPECT_NEAR(body_velocity(*b, BODY_FRAME).x, 0.5 / (4 * TICK_SECONDS), 0.5);
  pose_bike_from_choice(b, record_at(30), scale);  // far off (a seek): placed outright
  EXPECT_NEAR(body_position(*b, BODY_FRAME).x, before.x + 30, 1e-3);
  EXPECT_LT(length(body_velocity(*b, BODY_FRAME)), 1e-9);
  s.crash_timer = 0;  // riding again: rider back on, pose exact
  pose_bike_from_choice(b, record_at(30.25), scale);
  EXPECT_TRUE(b->rider_attached);
  EXPECT_NEAR(body_position(*b, BODY_FRAME).x, before.x + 30.25, 1e-3);
}
