// The main loop on a scripted clock and event queue, with a fake race, menu,
// sound and video behind g_game_hooks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/main_loop.h"

namespace {

// --- the scripted platform ----------------------------------------------------------

double g_now = 0;
std::vector<InputEvent> g_script;  // sorted by time
size_t g_next = 0;
int g_frames_written = 0;
int g_captured = 0;
int g_audio = AUDIO_NONE;

double fake_now() { return g_now; }
void fake_sleep_until(double deadline) { g_now = std::max(g_now, deadline); }
bool fake_wait(double deadline, InputEvent* out) {
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
int fake_axis(int) { return 0; }
bool fake_write_frame(FILE*) {
  g_frames_written++;
  return true;
}
int fake_audio_output() { return g_audio; }
bool fake_capture() {
  g_captured++;
  return true;
}

FramePlatform fake_platform() {
  FramePlatform p = {};
  p.timing = {fake_now, fake_sleep_until, fake_wait, fake_poll};
  p.read_axis = fake_axis;
  p.write_frame = fake_write_frame;
  p.audio_output = fake_audio_output;
  p.capture_audio_tick = fake_capture;
  return p;
}

// --- the fake game -------------------------------------------------------------------

struct FakeGame {
  RaceState race;
  NetState net;
  std::vector<int> order;     // running order; every listed slot has a bike
  std::vector<float> throttle_per_step;  // what the player's bike got each race step
  BikeControls last_controls;
  bool controls_applied;
  int restarts;
  int resets;
  RaceReset last_reset;
  std::string reset_track;  // last_reset.track, kept
  int lineup_at_reset[MAX_BIKES];
  bool menu;
  std::vector<InputEvent> menu_keys;
  int menu_closes, menu_opens;
  std::vector<float> moves;     // editor settle: bike 0's moves
  int collisions_left;
  bool sound;  // every bike has a sound state
  // Each engine sound produced: slot, loudness, race steps and captured
  // blocks at the time.
  struct Produced {
    int slot;
    float loudness;
    int steps, captured;
  };
  std::vector<Produced> produced;
};
FakeGame g;

void fake_state(RaceState* out) { *out = g.race; }
void fake_net(NetState* out) { *out = g.net; }
bool fake_bike(int slot, BikeView* out) {
  if (std::find(g.order.begin(), g.order.end(), slot) == g.order.end()) return false;
  out->position = {10.0f * slot, 0, 0};
  for (int i = 0; i < 9; i++) out->rotation[i] = i % 4 == 0 ? 1.0f : 0.0f;
  out->clutch_engagement = 0.5f;
  out->has_sound = g.sound;
  return true;
}
void fake_produce(int slot, float loudness) {
  g.produced.push_back({slot, loudness, (int)g.throttle_per_step.size(), g_captured});
}
int fake_order(int slots[MAX_BIKES]) {
  for (size_t i = 0; i < g.order.size(); i++) slots[i] = g.order[i];
  return (int)g.order.size();
}
void fake_step() {
  g.throttle_per_step.push_back(g.controls_applied ? g.last_controls.throttle : -1.0f);
  g.controls_applied = false;
}
void fake_apply(const BikeControls& c) {
  g.last_controls = c;
  g.controls_applied = true;
}
void fake_restart() { g.restarts++; }
void fake_reset(const RaceReset& r) {
  g.resets++;
  g.last_reset = r;
  g.reset_track = r.track ? r.track : "(loaded)";
  memcpy(g.lineup_at_reset, r.lineup, sizeof g.lineup_at_reset);
  g.race.race_over = false;
  g.race.reset_count++;
}
bool fake_menu_open() { return g.menu; }
void fake_menu_key(const InputEvent& e) { g.menu_keys.push_back(e); }
void fake_open_menu() {
  g.menu = true;
  g.menu_opens++;
}
void fake_close_menu() {
  g.menu = false;
  g.menu_closes++;
}
void fake_move(int slot, float dy) {
  if (slot == 0) g.moves.push_back(dy);
}
bool fake_collides(int slot) { return slot == 0 && g.collisions_left-- > 0; }

class MainLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_config();
    g_run_options = RunOptions{};
    bind_all_controls(g_config.bindings);
    g = FakeGame{};
    g.race = {true, 0, true, true, false, false, 0.0, 3, 0};
    g.order = {0, 1, 2};
    g_game_hooks = {};
    RaceHooks& race = g_game_hooks.race;
    race.state = fake_state;
    race.bike = fake_bike;
    race.running_order = fake_order;
    race.step = fake_step;
    race.apply_controls = fake_apply;
    race.restart_attempt = fake_restart;
    race.reset = fake_reset;
    g_game_hooks.physics.move_bike = fake_move;
    g_game_hooks.physics.bike_collides = fake_collides;
    g_game_hooks.net.state = fake_net;
    g_now = 100.0;
    g_script.clear();
    g_next = 0;
    g_frames_written = 0;
    g_captured = 0;
    g_audio = AUDIO_NONE;
    platform = fake_platform();
    start_main_loop(&loop, platform);
  }
  void TearDown() override { g_game_hooks = {}; }

  void with_menus() {
    g_game_hooks.ui.menu_open = fake_menu_open;
    g_game_hooks.ui.menu_key = fake_menu_key;
    g_game_hooks.ui.open_main_menu = fake_open_menu;
    g_game_hooks.ui.close_menu = fake_close_menu;
  }
  // One frame that took `seconds` of real time; returns the race steps it ran.
  int frame(double seconds) {
    g_now = std::max(g_now, loop.clock.reading + seconds);
    size_t before = g.throttle_per_step.size();
    EXPECT_TRUE(run_frame(&loop, platform));
    return (int)(g.throttle_per_step.size() - before);
  }
  void key(int code, double time, bool down = true, bool repeat = false) {
    InputEvent e = {};
    e.kind = INPUT_KEY;
    e.key = code;
    e.pressed = down;
    e.repeat = repeat;
    e.time = time;
    g_script.push_back(e);
  }
  // A key event handled right now, as a step would.
  void press(int code) {
    InputEvent e = {INPUT_KEY, code, true};
    handle_event(&loop, e);
  }

  FramePlatform platform;
  MainLoop loop;
};

TEST_F(MainLoopTest, KeyReachesTheStepWhoseDeadlineFollowsIt) {
  frame(0.0);  // settles the view and runs one step
  g.throttle_per_step.clear();
  double start = loop.clock.reading;
  // Steps of the next frame (0.05 s) have deadlines start + k/128: 7.8, 15.6,
  // 23.4, 31.3, 39.1 ms ... The throttle goes down at 20 ms and up at 35 ms.
  key('x', start + 0.020);
  key('x', start + 0.035, false);
  ASSERT_EQ(frame(0.05), 7);
  std::vector<float> expected = {0, 0, 1, 1, 0, 0, 0};
  EXPECT_EQ(g.throttle_per_step, expected);
}

TEST_F(MainLoopTest, FrameTimingAsTheOptionsAndTheServerSay) {
  // A frame that took half a second advances 16 steps.
  EXPECT_EQ(frame(0.5), 16);
  EXPECT_EQ(loop.clock.target, 0.125);

  // "--lock-fps 30": a frame advances exactly 1/30 s however fast it was.
  g_run_options.lock_fps = 30;
  int steps = 0;
  for (int i = 0; i < 30; i++) {
    double target = loop.clock.target;
    steps += frame(0.001);
    EXPECT_NEAR(loop.clock.target - target, 1.0 / 30, 1e-12);
  }
  EXPECT_NEAR(steps, 128, 1);  // a second's worth, give or take the rounding of 30 thirtieths
  g_run_options.lock_fps = 0;

  // Connected, half a second behind the server before the gate drop: frames
  // advance 2.5 times their real duration; the race waits for the server's
  // first tick, and pause does not hold it.
  g.net = {true, true, false, 1000 + 1 + 64, 1000, 5000};
  double target = loop.clock.target;
  EXPECT_EQ(frame(0.04), 0);
  EXPECT_NEAR(loop.clock.target - target, 0.1, 1e-9);
  g.net.first_server_tick_seen = true;
  loop.paused = true;
  EXPECT_GT(frame(0.04), 0);
  EXPECT_FALSE(loop.paused);
  // Half a second ahead of the server: frames run at three quarters.
  g.net = {true, true, true, 1000 + 1 - 64, 1000, 0};
  target = loop.clock.target;
  frame(0.04);
  EXPECT_NEAR(loop.clock.target - target, 0.03, 1e-9);
}

TEST_F(MainLoopTest, ControlsReachTheBikeTheWayTheSetupSays) {
  g_bike_setup.reverse_steering = 1;
  frame(0.0);
  key(KEY_LEFT, loop.clock.reading + 0.001);
  frame(0.008);
  EXPECT_EQ(g.last_controls.steer, -1.0f);

  // Backing up aborts a time-trial attempt when the setting says so.
  g.race.time_trial = true;
  key('b', loop.clock.reading + 0.001);
  frame(0.008);
  EXPECT_GE(g.restarts, 1);
  g_config.time_trial_abort = CHOICE_NO;
  int restarts = g.restarts;
  frame(0.016);
  EXPECT_EQ(g.restarts, restarts);
}

TEST_F(MainLoopTest, OpenMenuTakesEveryKeyDownAndHoldsTheOfflineRace) {
  with_menus();
  frame(0.0);
  g.menu = true;
  double t = loop.clock.reading;
  const int keys[] = {KEY_PAUSE, KEY_TAB, '3', 'x', KEY_CURSOR_LEFT, 't'};
  for (int i = 0; i < 6; i++) key(keys[i], t + 0.001 * (i + 1));
  key('x', t + 0.008, false);  // key-ups are not the menu's
  int steps = frame(0.05);
  ASSERT_EQ(g.menu_keys.size(), 6u);
  for (int i = 0; i < 6; i++) EXPECT_EQ(g.menu_keys[(size_t)i].key, keys[i]) << i;
  EXPECT_FALSE(loop.paused);
  EXPECT_EQ(loop.mode, VIEW_FIRST_PERSON);
  EXPECT_EQ(loop.track_cameras.selected, -1);
  EXPECT_EQ(steps, 0);  // the player rides offline: the race holds behind the menu

  // Esc closes the menu (it never reaches the menu's keys) and opens it again.
  press(KEY_ESC);
  EXPECT_EQ(g.menu_closes, 1);
  EXPECT_FALSE(g.menu);
  press(KEY_ESC);
  EXPECT_EQ(g.menu_opens, 1);
  EXPECT_EQ(g.menu_keys.size(), 6u);

  // Connected, the race goes on behind a menu.
  g.net = {true, true, true, 100, 99, 0};
  EXPECT_GT(frame(0.05), 0);
}

TEST_F(MainLoopTest, EscWithoutMenusQuits) {
  frame(0.0);
  press(KEY_ESC);
  g_now += 0.01;
  EXPECT_FALSE(run_frame(&loop, platform));
}

TEST_F(MainLoopTest, PauseHoldsTheRaceAndStepRunsExactlyOne) {
  frame(0.0);
  press(KEY_PAUSE);
  ASSERT_TRUE(loop.paused);
  g_audio = AUDIO_CAPTURE;
  g_run_options.record_video = true;
  loop.recording_video = true;
  EXPECT_EQ(frame(0.1), 0);
  EXPECT_EQ(g_captured, 0);
  frame(0.0);
  EXPECT_EQ(g_frames_written, 0);  // no video of a paused race

  key('.', loop.clock.reading + 0.002);
  EXPECT_EQ(frame(0.1), 1);
  EXPECT_EQ(g_captured, 1);  // one step's samples for the one step
  EXPECT_TRUE(loop.paused);

  press(KEY_PAUSE);
  EXPECT_EQ(frame(0.1), 13);
  EXPECT_EQ(g_captured, 14);
  EXPECT_GE(g_frames_written, 1);

  // Connected, pause is not the player's to take.
  g.net = {true, true, true, 100, 99, 0};
  press(KEY_PAUSE);
  EXPECT_FALSE(loop.paused);
}

TEST_F(MainLoopTest, ARecordingHearsTheEnginesOfEveryStep) {
  g.sound = true;
  g_game_hooks.sound.produce = fake_produce;
  g_config.volume = 10;
  g_config.comp_volume = 5;
  g_audio = AUDIO_CAPTURE;
  frame(0.0);
  g.produced.clear();
  g_captured = 0;
  int before = (int)g.throttle_per_step.size();
  int steps = frame(0.1);
  ASSERT_GT(steps, 8);
  ASSERT_EQ(g_captured, steps);
  // After each step's race step and before its block is taken, every bike
  // with sound: the viewed one at the master factor, the others lower.
  for (int k = 1; k <= steps; k++) {
    int found = 0;
    for (const FakeGame::Produced& p : g.produced) {
      if (p.steps != before + k || p.captured != k - 1) continue;
      EXPECT_FLOAT_EQ(p.loudness, p.slot == 0 ? 1.0f : 0.5f) << "slot " << p.slot;
      found++;
    }
    EXPECT_EQ(found, 3) << "step " << k;
  }

  // Playing to the device, the sound is produced once a frame.
  g_audio = AUDIO_DEVICE;
  g.produced.clear();
  frame(0.1);
  EXPECT_EQ(g.produced.size(), 3u);
}

TEST_F(MainLoopTest, TheKeyframeCameraFliesOverTheRidingViews) {
  static ViewSetup drawn;
  static bool flying;
  flying = false;
  g_game_hooks.render.draw_view = [](const ViewSetup& v) { drawn = v; };
  g_game_hooks.net.keyframe_camera = [](Vec3* eye, Vec3* target) {
    *eye = {1, 2, 3};
    *target = {1, 2, -7};
    return flying;
  };
  frame(0.0);
  EXPECT_EQ(drawn.mode, VIEW_FIRST_PERSON);
  flying = true;
  frame(0.05);
  EXPECT_EQ(drawn.mode, VIEW_TRACK_CAMERA);
  EXPECT_EQ(drawn.eye.y, 2.0f);
  EXPECT_EQ(drawn.target.z, -7.0f);
  EXPECT_EQ(loop.mode, VIEW_FIRST_PERSON);  // the view chosen stays for when it stops
  EXPECT_TRUE(loop.have_last_pose);         // the sound hears from where it films
  EXPECT_EQ(loop.last_pose.eye.z, 3.0f);
  flying = false;
  frame(0.05);
  EXPECT_EQ(drawn.mode, VIEW_FIRST_PERSON);
}

TEST_F(MainLoopTest, TabCyclesTheViewsAndLeavesTheEditorWithBikesSettled) {
  frame(0.0);
  ASSERT_EQ(loop.mode, VIEW_FIRST_PERSON);
  const ViewMode cycle[] = {VIEW_THIRD_PERSON, VIEW_TRACK_CAMERA, VIEW_FIRST_PERSON};
  for (ViewMode mode : cycle) {
    press(KEY_TAB);
    EXPECT_EQ(loop.mode, mode);
  }

  g_run_options.editor = true;
  press(KEY_TAB);
  EXPECT_EQ(loop.mode, VIEW_EDITOR);
  g.collisions_left = 2;
  press(KEY_TAB);
  EXPECT_EQ(loop.mode, VIEW_THIRD_PERSON);
  EXPECT_EQ(g.moves, (std::vector<float>{-0.125f, 0.25f, 0.25f, -0.125f}));

  // A bike stuck inside something solid is raised a bounded number of times.
  g.moves.clear();
  g.collisions_left = 1 << 30;
  loop.mode = VIEW_EDITOR;
  settle_bikes_onto_ground();
  EXPECT_EQ(g.moves.size(), 4096u + 2u);
}

TEST_F(MainLoopTest, ViewModeFollowsTheRace) {
  frame(0.0);
  loop.mode = VIEW_TRACK_CAMERA;
  choose_view_mode(&loop, g.race);  // riding: every view is allowed
  EXPECT_EQ(loop.mode, VIEW_TRACK_CAMERA);
  RaceState race = g.race;
  race.player_riding = false;
  choose_view_mode(&loop, race);
  EXPECT_EQ(loop.mode, VIEW_FIRST_PERSON);
  loop.mode = VIEW_EDITOR;
  choose_view_mode(&loop, race);
  EXPECT_EQ(loop.mode, VIEW_EDITOR);
  loop.mode = VIEW_THIRD_PERSON;
  race.player_slot = 7;  // no bike in slot 7: the player has none
  choose_view_mode(&loop, race);
  EXPECT_EQ(loop.mode, VIEW_TRACK_CAMERA);
  race.track_loaded = false;
  choose_view_mode(&loop, race);
  EXPECT_EQ(loop.mode, VIEW_MENU_SCREEN);
  race = g.race;
  choose_view_mode(&loop, race);
  EXPECT_EQ(loop.mode, VIEW_FIRST_PERSON);
}

TEST_F(MainLoopTest, PreviousAndNextBikeOnlyWhereWatchingIsAllowed) {
  frame(0.0);
  ASSERT_EQ(loop.viewed_slot, 0);
  press(']');
  EXPECT_EQ(loop.viewed_slot, 0);  // riding, no spy
  g_config.spy = 1;
  press(']');
  press(']');
  press(']');
  EXPECT_EQ(loop.viewed_slot, 2);  // clamped at the last
  g_config.spy = 0;
  g.race.player_riding = false;
  press('[');
  EXPECT_EQ(loop.viewed_slot, 1);
  g.race.player_riding = true;
  g.net = {true, false, true, 0, 0, 0};  // the server's warmup
  press('[');
  press('[');
  EXPECT_EQ(loop.viewed_slot, 0);  // clamped at the first
}

std::vector<std::string> g_banners;
void fake_banner(const char* text, float, float) { g_banners.push_back(text); }

TEST_F(MainLoopTest, WarmupTextOnlyWhileRidingConnectedWithNoServerRace) {
  g_game_hooks.ui.draw_banner = fake_banner;
  const std::string warmup = "Warmup mode - collisions disabled";
  auto shown = [&] {
    g_banners.clear();
    frame(0.01);
    return std::count(g_banners.begin(), g_banners.end(), warmup);
  };
  EXPECT_EQ(shown(), 0);  // offline
  g.net = {true, false, true, 100, 99, 0};
  EXPECT_EQ(shown(), 1);  // the server's warmup
  g.net.server_race_running = true;
  EXPECT_EQ(shown(), 0);  // its race
  g.net.server_race_running = false;
  g.race.player_riding = false;
  EXPECT_EQ(shown(), 0);  // watching
}

TEST_F(MainLoopTest, SessionStartAndWarpRestartRotateTheLineup) {
  g_run_options.track = "mx";
  start_session(g_run_options);
  ASSERT_EQ(g.resets, 1);
  EXPECT_EQ(g.reset_track, "mx");
  EXPECT_EQ(g.lineup_at_reset[0], SLOT_ROBOT);
  EXPECT_EQ(g.lineup_at_reset[1], SLOT_EMPTY);
  EXPECT_EQ(g.last_reset.laps, START_LAPS);
  EXPECT_FALSE(g.last_reset.playback);

  g_run_options.warp = true;
  g_start_lineup[MAX_BIKES - 1] = 4;
  frame(0.0);
  EXPECT_EQ(g.resets, 1);
  g.race.race_over = true;
  frame(0.0);
  ASSERT_EQ(g.resets, 2);
  EXPECT_EQ(g.lineup_at_reset[0], 4);  // the last moved to the front
  EXPECT_EQ(g.lineup_at_reset[1], SLOT_ROBOT);
  EXPECT_EQ(g.last_reset.laps, 3);
  EXPECT_EQ(g.reset_track, "(loaded)");
}

}  // namespace
