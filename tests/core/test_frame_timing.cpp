#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "core/frame_timing.h"

namespace {

// A scripted world: real time moves only when the loop sleeps or waits, plus
// whatever the test says a frame took. Events become "queued" once the clock
// has reached their stamp.
double g_now = 0;
double g_oversleep = 0;
std::vector<InputEvent> g_script;  // sorted by time
size_t g_next = 0;
int g_waits = 0;

double fake_now() { return g_now; }
void fake_sleep_until(double deadline) { g_now = std::max(g_now, deadline + g_oversleep); }

bool fake_wait(double deadline, InputEvent* out) {
  g_waits++;
  if (g_next < g_script.size() && g_script[g_next].time <= deadline) {
    g_now = std::max(g_now, g_script[g_next].time);
    *out = g_script[g_next++];
    return true;
  }
  g_now = std::max(g_now, deadline);
  return false;
}

bool fake_poll(double deadline, InputEvent* out) {
  if (g_next < g_script.size() && g_script[g_next].time <= deadline && g_script[g_next].time <= g_now) {
    *out = g_script[g_next++];
    return true;
  }
  return false;
}

const LoopPlatform FAKE = {fake_now, fake_sleep_until, fake_wait, fake_poll};
const ConnectedClock OFFLINE = {false, 0, 0, 0};

InputEvent key_at(int key, double time) {
  InputEvent e = {};
  e.kind = INPUT_KEY;
  e.key = key;
  e.pressed = true;
  e.time = time;
  return e;
}

class FrameTimingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_now = 100.0;
    g_oversleep = 0;
    g_script.clear();
    g_next = 0;
    g_waits = 0;
    start_frame_clock(&clock, g_now);
  }

  // One frame that took `seconds` of real time since the previous frame's
  // reading (at least what the previous frame's steps spent waiting); returns
  // the steps run.
  int frame(double seconds, const FrameTimingSettings& settings = {0, false}, const ConnectedClock& net = OFFLINE) {
    g_now = std::max(g_now, clock.reading + seconds);
    last_dt = advance_frame_clock(&clock, settings, net, FAKE);
    int steps = 0;
    double deadline;
    while (begin_fixed_step(&clock, &deadline)) {
      InputEvent e;
      while (next_step_event(FAKE, deadline, &e)) delivered.push_back({steps, e.key});
      steps++;
    }
    return steps;
  }

  struct Delivery {
    int step;
    int key;
  };
  FrameClock clock;
  double last_dt = 0;
  std::vector<Delivery> delivered;
};

TEST_F(FrameTimingTest, LockFpsAdvancesExactlyTheLockPerFrameAndSleepsShortFrames) {
  const FrameTimingSettings lock30 = {30.0, false};
  const double frames[] = {0.001, 0.020, 0.050, 0.0, 0.2, 0.033};
  for (double took : frames) {
    double previous = clock.reading;
    frame(took, lock30);
    EXPECT_EQ(last_dt, 1.0 / 30.0) << "frame of " << took;
    // A short frame waits out its thirtieth of a second; a long one does not.
    EXPECT_NEAR(clock.reading - previous, std::max(took, 1.0 / 30.0), 1e-9) << "frame of " << took;
    // Steps always catch the simulation up to within one step of the target.
    EXPECT_GE(clock.simulated, clock.target);
    EXPECT_LT(clock.simulated - clock.target, STEP_SECONDS);
  }
}

TEST_F(FrameTimingTest, LongFrameIsCappedAtSixteenSteps) {
  EXPECT_EQ(frame(0.5), 16);
  EXPECT_DOUBLE_EQ(clock.target, 0.125);
  EXPECT_EQ(clock.simulated, 0.125);
  EXPECT_DOUBLE_EQ(clock.stats.longest, 0.125);
  // The next, ordinary frame is not owed the lost time.
  EXPECT_EQ(frame(STEP_SECONDS * 2), 2);
}

TEST_F(FrameTimingTest, FrameShorterThanAStepSleepsForTheRemainder) {
  g_oversleep = 0.0002;
  double previous = clock.reading;
  frame(0.002);
  EXPECT_NEAR(last_dt, STEP_SECONDS + 0.0002, 1e-9);
  EXPECT_NEAR(clock.reading - previous, STEP_SECONDS + 0.0002, 1e-9);
  // A frozen clock and a sleep that returns at once must not hang the loop.
  LoopPlatform frozen = FAKE;
  frozen.sleep_until = [](double) {};
  g_now = clock.reading;
  EXPECT_EQ(advance_frame_clock(&clock, {0, false}, OFFLINE, frozen), STEP_SECONDS);
}

TEST_F(FrameTimingTest, WarpRunsAHundredStepsOfflineOnly) {
  EXPECT_EQ(frame(0.001, {0, true}), WARP_STEPS_PER_FRAME);
  // Connected, warp (and lock) give way to the real slice and the server clock.
  ConnectedClock level = {true, 11, 10, 0};  // x = 0 after the gate drop
  EXPECT_EQ(frame(STEP_SECONDS * 3.5, {30.0, true}, level), 4);
}

TEST_F(FrameTimingTest, ConnectedStretchAndShrink) {
  // 64 ticks (0.5 s) behind the server before the gate drop: 2.5x.
  EXPECT_DOUBLE_EQ(connected_time_scale({true, 1000 + 65, 1000, 2000}), 2.5);
  // After the drop the catch-up is gentle: at most 1/8 faster, reached at 1/8 s behind.
  EXPECT_DOUBLE_EQ(connected_time_scale({true, 1000 + 65, 1000, 500}), 1.125);
  EXPECT_DOUBLE_EQ(connected_time_scale({true, 1000 + 9, 1000, 500}), 1.0625);
  // Ahead of the server: slow down, to half speed at a second or more ahead.
  EXPECT_DOUBLE_EQ(connected_time_scale({true, 1000 - 63, 1000, 0}), 0.75);
  EXPECT_DOUBLE_EQ(connected_time_scale({true, 1000 - 500, 1000, 0}), 0.5);
  EXPECT_DOUBLE_EQ(connected_time_scale({false, 5000, 1000, 2000}), 1.0);

  // Applied after the cap: a 0.1 s frame 0.5 s behind before the drop.
  frame(0.1, {0, false}, {true, 1065, 1000, 2000});
  EXPECT_NEAR(clock.target, 0.25, 1e-9);
  EXPECT_NEAR(clock.game_clock, 0.25, 1e-9);
  EXPECT_NEAR(clock.stats.longest, 0.1, 1e-9);  // statistics see the unscaled slice
}

TEST_F(FrameTimingTest, StatisticsCountEachFrameInItsBucket) {
  const double slices[] = {0.005, 0.010, 0.030, 0.040, 0.100, 0.200, 0.300, 1.0, 0.0079};
  for (double s : slices) frame(s);
  const long expected[FRAME_TIME_BUCKETS] = {1, 2, 1, 1, 1, 1, 2};
  for (int k = 0; k < FRAME_TIME_BUCKETS; k++) EXPECT_EQ(clock.stats.counts[k], expected[k]) << "bucket " << k;
  // The 5 ms frame slept up to one step; the long ones were capped.
  EXPECT_DOUBLE_EQ(clock.stats.shortest, STEP_SECONDS);
  EXPECT_DOUBLE_EQ(clock.stats.longest, 0.125);
}

TEST_F(FrameTimingTest, EventsReachTheFirstStepWhoseDeadlineFollowsThem) {
  // A 50 ms frame runs 7 steps; with the clock started at 100, step k's
  // deadline is 100 + (k + 1) / 128, and the last lies 4.7 ms in the future.
  const double t0 = 100.0;
  g_script = {key_at('a', t0 + 0.001),         key_at('b', t0 + STEP_SECONDS),  // on a deadline: that step
              key_at('c', t0 + STEP_SECONDS + 1e-6), key_at('d', t0 + 0.030),
              key_at('e', t0 + 0.052),                                          // after the reading: waited for
              key_at('f', t0 + 0.060)};                                         // belongs to the next frame
  EXPECT_EQ(frame(0.050), 7);
  ASSERT_EQ(delivered.size(), 5u);
  const int expected_step[] = {0, 0, 1, 3, 6};
  for (int i = 0; i < 5; i++) {
    EXPECT_EQ(delivered[i].key, "abcde"[i]);
    EXPECT_EQ(delivered[i].step, expected_step[i]) << (char)delivered[i].key;
  }
  // The last step waited out its deadline in real time.
  EXPECT_NEAR(g_now, t0 + 7 * STEP_SECONDS, 1e-12);

  delivered.clear();
  EXPECT_EQ(frame(0.010), 1);  // deadline 100 + 8/128 = 100.0625
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0].key, 'f');
}

TEST_F(FrameTimingTest, LaggedFrameSpreadsQueuedEventsOverItsSteps) {
  // Every deadline of this frame is past when it runs: nothing is waited for,
  // yet queued events still go to their own steps, not all to the first.
  const double t0 = 100.0;
  for (int k = 0; k < 16; k++) g_script.push_back(key_at(k + 1, t0 + 0.375 + (k + 0.5) * STEP_SECONDS));
  EXPECT_EQ(frame(0.5), 16);
  ASSERT_EQ(delivered.size(), 16u);
  for (int k = 0; k < 16; k++) EXPECT_EQ(delivered[k].step, k);
  EXPECT_EQ(g_waits, 0);
}

}  // namespace
