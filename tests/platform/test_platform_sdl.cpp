// Window, frames, input events, axes and signals on a private Xvfb.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "core/controls.h"
#include "core/frame_timing.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "platform/sdl_internal.h"
#include "tests/platform/xvfb.h"

// Leak checking covers our code, not the desktop libraries SDL loads: libdbus
// keeps its connection buffers until exit.
extern "C" const char* __lsan_default_suppressions() { return "leak:libdbus-1.so\n"; }

namespace {

const LoopPlatform PLATFORM = {platform_seconds, precise_sleep_until, wait_input_event, poll_input_event};
const ConnectedClock OFFLINE = {false, 0, 0, 0};

typedef void (*ClearColorFn)(float, float, float, float);
typedef void (*GlUintFn)(unsigned);
typedef void (*ScissorFn)(int, int, int, int);
constexpr unsigned GL_COLOR_BUFFER_BIT_ = 0x4000;
constexpr unsigned GL_SCISSOR_TEST_ = 0x0C11;

std::string read_text(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void push_key(SDL_Scancode scancode, SDL_Keycode sym, bool down, bool repeat = false) {
  SDL_Event e = {};
  e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
  e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
  e.key.repeat = repeat;
  e.key.keysym.scancode = scancode;
  e.key.keysym.sym = sym;
  ASSERT_EQ(SDL_PushEvent(&e), 1) << SDL_GetError();
}

// The GL driver is unloaded when the display closes, before the leak check
// runs, and the blocks it still held through its own globals would then look
// leaked; keeping it mapped keeps them reachable.
void pin_gl_driver() {
  std::ifstream maps("/proc/self/maps");
  for (std::string line; std::getline(maps, line);) {
    size_t slash = line.find('/');
    if (slash == std::string::npos || line.find("_dri.so") == std::string::npos) continue;
    dlopen(line.c_str() + slash, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
  }
}

// Everything queued now, in order.
std::vector<InputEvent> drain() {
  std::vector<InputEvent> out;
  InputEvent e;
  while (poll_input_event(platform_seconds() + 1.0, &e)) out.push_back(e);
  return out;
}

class SdlTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = new Xvfb();
    running_ = server_->start(&why_);
  }
  static void TearDownTestSuite() {
    platform_shutdown();
    delete server_;
    server_ = nullptr;
  }

  void SetUp() override {
    if (!running_) GTEST_SKIP() << why_;
    platform_reset_for_tests();
    options_reset_for_tests();
    unsetenv("VORN_OPTIONS");
  }
  void TearDown() override {
    destroy_window();
    flush_input_events();
  }

  // As start-up does: create, then up to 162 tries 1/16 s apart to begin a frame.
  bool open_window(int w = 320, int h = 240) {
    WindowSettings s = {"Dirtvane test", w, h, 16, 16, false};
    if (!create_window(s)) return false;
    pin_gl_driver();
    for (int i = 0; i < 162; i++) {
      if (begin_frame()) return true;
      precise_sleep(1.0 / 16);
    }
    return false;
  }

  static Xvfb* server_;
  static bool running_;
  static std::string why_;
};

Xvfb* SdlTest::server_ = nullptr;
bool SdlTest::running_ = false;
std::string SdlTest::why_;

TEST_F(SdlTest, WindowOpensDrawsReadsBackAndSwaps) {
  std::string log_path = std::string(::testing::TempDir()) + "dv_sdl_window_log.txt";
  log_reset_for_tests();
  setenv("VORN_LOGFILE", log_path.c_str(), 1);
  setenv("VORN_OPTIONS", "[threaded:yes]", 1);
  ASSERT_TRUE(open_window(320, 240));
  int w, h;
  drawable_size(&w, &h);
  EXPECT_EQ(w * 1000 + h, 320 * 1000 + 240);
  auto clear_color = (ClearColorFn)gl_proc_address("glClearColor");
  auto clear = (GlUintFn)gl_proc_address("glClear");
  auto enable = (GlUintFn)gl_proc_address("glEnable");
  auto disable = (GlUintFn)gl_proc_address("glDisable");
  auto scissor = (ScissorFn)gl_proc_address("glScissor");
  ASSERT_TRUE(clear_color && clear && enable && disable && scissor);

  // Blue-green frame with a red upper half: the read-back must come top row first.
  clear_color(0.2f, 0.6f, 0.8f, 1.0f);
  clear(GL_COLOR_BUFFER_BIT_);
  enable(GL_SCISSOR_TEST_);
  scissor(0, h / 2, w, h - h / 2);
  clear_color(1.0f, 0.0f, 0.0f, 1.0f);
  clear(GL_COLOR_BUFFER_BIT_);
  disable(GL_SCISSOR_TEST_);

  std::vector<uint8_t> rgb;
  int rw, rh;
  ASSERT_TRUE(read_frame_rgb(&rgb, &rw, &rh));
  ASSERT_EQ(rgb.size(), (size_t)rw * rh * 3);
  const uint8_t* bottom = &rgb[((size_t)(rh - 1) * rw) * 3];
  EXPECT_EQ(rgb[0] * 1000 + rgb[1], 255 * 1000 + 0);  // top row red
  EXPECT_NEAR(bottom[0], 51, 1);
  EXPECT_NEAR(bottom[2], 204, 1);

  FILE* ppm = tmpfile();
  ASSERT_TRUE(write_frame_ppm(ppm));
  long size = ftell(ppm);
  rewind(ppm);
  char header[16] = {};
  ASSERT_EQ(fread(header, 1, 15, ppm), 15u);
  fclose(ppm);
  EXPECT_STREQ(header, "P6\n320 240\n255\n");
  EXPECT_EQ(size, 15 + 320 * 240 * 3);

  ASSERT_TRUE(end_frame());
  ASSERT_TRUE(begin_frame());
  ASSERT_TRUE(end_frame());
  std::vector<DisplayMode> modes = list_display_modes();
  ASSERT_FALSE(modes.empty());
  EXPECT_EQ(modes[0].width * 10000 + modes[0].height, 1024 * 10000 + 768);
  EXPECT_EQ(modes[0].colour_bits, 24);

  log_printf(nullptr);
  std::string log = read_text(log_path);
  EXPECT_NE(log.find("] Options:\n"), std::string::npos) << log;
  EXPECT_NE(log.find("]  threaded: [on]\n"), std::string::npos) << log;
  EXPECT_NE(log.find("window events are pumped on the main thread"), std::string::npos);
  EXPECT_NE(log.find("Window 320x240"), std::string::npos);
  unsetenv("VORN_LOGFILE");
  log_reset_for_tests();
}

TEST_F(SdlTest, BeginFailsWhileHiddenEndFailsOnceClosedOrGoneAndSignalsClose) {
  ASSERT_TRUE(open_window());
  SDL_HideWindow(sdl_window());
  EXPECT_FALSE(begin_frame());
  EXPECT_TRUE(end_frame());  // hidden is not gone
  SDL_ShowWindow(sdl_window());
  EXPECT_TRUE(begin_frame());

  // The window manager's close button.
  SDL_Event close = {};
  close.type = SDL_WINDOWEVENT;
  close.window.event = SDL_WINDOWEVENT_CLOSE;
  close.window.windowID = SDL_GetWindowID(sdl_window());
  SDL_PushEvent(&close);
  begin_frame();
  EXPECT_TRUE(window_closed());
  EXPECT_FALSE(end_frame());

  platform_reset_for_tests();
  destroy_window();
  EXPECT_FALSE(begin_frame());
  EXPECT_FALSE(end_frame());

  // A video-mode change is destroy + create; SIGTERM and SIGINT close it
  // without ending the process, so the game can shut down normally.
  ASSERT_TRUE(open_window(400, 300));
  EXPECT_FALSE(window_closed());
  raise(SIGTERM);
  EXPECT_TRUE(window_closed());
  EXPECT_FALSE(end_frame());
  platform_reset_for_tests();
  raise(SIGINT);
  EXPECT_TRUE(window_closed());
}

TEST_F(SdlTest, KeyTranslationFollowsTheLayoutForCharactersAndPositionForTheRest) {
  ASSERT_TRUE(open_window());
  flush_input_events();
  push_key(SDL_SCANCODE_RCTRL, SDLK_RCTRL, true);
  push_key(SDL_SCANCODE_KP_ENTER, SDLK_KP_ENTER, true);
  push_key(SDL_SCANCODE_BACKSLASH, SDLK_BACKSLASH, true);
  push_key(SDL_SCANCODE_A, SDLK_q, true);  // AZERTY: the key labelled "q"
  push_key(SDL_SCANCODE_2, 0xe9, true);    // a non-ASCII symbol: the US position
  push_key(SDL_SCANCODE_ESCAPE, SDLK_ESCAPE, true, true);
  push_key(SDL_SCANCODE_PAGEUP, SDLK_PAGEUP, false);
  push_key(SDL_SCANCODE_UNKNOWN, 0x40000999, true);  // no key of ours: dropped
  std::vector<InputEvent> got = drain();
  const int expected[] = {KEY_RIGHT_CTRL, KEY_KEYPAD_ENTER, '\\', 'q', '2', KEY_ESC, KEY_PAGE_UP};
  ASSERT_EQ(got.size(), 7u);
  for (int i = 0; i < 7; i++) {
    EXPECT_EQ(got[i].kind, INPUT_KEY);
    EXPECT_EQ(got[i].key, expected[i]) << i;
  }
  EXPECT_TRUE(got[0].pressed);
  EXPECT_TRUE(got[5].repeat);
  EXPECT_FALSE(got[6].pressed);
}

TEST_F(SdlTest, InjectedKeysReachTheTickWhoseDeadlineFollowsThem) {
  ASSERT_TRUE(open_window());
  flush_input_events();
  FrameClock clock;
  start_frame_clock(&clock, platform_seconds());
  double pushed[3][2];
  const SDL_Keycode syms[3] = {SDLK_x, SDLK_c, SDLK_v};
  const SDL_Scancode codes[3] = {SDL_SCANCODE_X, SDL_SCANCODE_C, SDL_SCANCODE_V};
  for (int i = 0; i < 3; i++) {
    precise_sleep(0.021);
    pushed[i][0] = platform_seconds();
    push_key(codes[i], syms[i], true);
    pushed[i][1] = platform_seconds();
  }
  precise_sleep(0.010);
  // One late frame: its deadlines lie in the past, the events are all queued.
  advance_frame_clock(&clock, {0, false}, OFFLINE, PLATFORM);
  std::vector<double> deadlines;
  std::vector<std::pair<int, InputEvent>> got;
  double deadline;
  while (begin_fixed_step(&clock, &deadline)) {
    InputEvent e;
    while (next_step_event(PLATFORM, deadline, &e)) got.push_back({(int)deadlines.size(), e});
    deadlines.push_back(deadline);
  }
  ASSERT_GE(deadlines.size(), 9u);
  ASSERT_EQ(got.size(), 3u);
  for (int i = 0; i < 3; i++) {
    const InputEvent& e = got[i].second;
    int step = got[i].first;
    EXPECT_EQ(e.key, (int)syms[i]);
    // Stamped when it was pushed: SDL's millisecond counter rounds either way,
    // so two readings are good to 2 ms; a loaded machine may stamp it later.
    EXPECT_GE(e.time, pushed[i][0] - 0.0021);
    // Delivered to the step whose deadline follows it, not an earlier one.
    EXPECT_LE(e.time, deadlines[step]);
    if (step > 0) {
      EXPECT_GT(e.time, deadlines[step - 1]);
    }
    if (i > 0) {
      EXPECT_GE(step, got[i - 1].first + 2);  // 21 ms apart: 2-3 steps later
    }
  }
}

TEST_F(SdlTest, TicksWaitForEventsUntilTheirDeadlines) {
  ASSERT_TRUE(open_window());
  flush_input_events();
  // A frame whose steps all lie ahead: step k's deadline is start + (k+1)/128.
  double start = platform_seconds();
  FrameClock clock;
  start_frame_clock(&clock, start + 0.040);
  clock.target = 0.040;
  double pushed_at = 0;
  std::thread pusher([&] {
    precise_sleep_until(start + 0.018);
    pushed_at = platform_seconds();
    SDL_Event e = {};
    e.type = SDL_KEYDOWN;
    e.key.state = SDL_PRESSED;
    e.key.keysym.scancode = SDL_SCANCODE_B;
    e.key.keysym.sym = SDLK_b;
    SDL_PushEvent(&e);
  });
  std::vector<double> deadlines, finished;
  int step_of_key = -1;
  InputEvent key = {};
  double deadline;
  while (begin_fixed_step(&clock, &deadline)) {
    InputEvent e;
    while (next_step_event(PLATFORM, deadline, &e)) {
      step_of_key = (int)deadlines.size();
      key = e;
      EXPECT_GE(platform_seconds(), e.time);  // never handed out before it happened
    }
    deadlines.push_back(deadline);
    finished.push_back(platform_seconds());
  }
  pusher.join();
  ASSERT_EQ(deadlines.size(), 6u);
  for (size_t k = 0; k < deadlines.size(); k++) EXPECT_GE(finished[k], deadlines[k]) << "step " << k;
  if (step_of_key < 0) {
    // The pusher only ran after the frame (a loaded machine): the event must
    // still be queued, stamped after every deadline that passed without it.
    std::vector<InputEvent> later = drain();
    ASSERT_EQ(later.size(), 1u);
    EXPECT_GT(later[0].time, deadlines.back());
    return;
  }
  ASSERT_GE(step_of_key, 1);
  EXPECT_EQ(key.key, 'b');
  EXPECT_GE(key.time, pushed_at - 0.0021);
  EXPECT_LE(key.time, finished[step_of_key]);
  EXPECT_LE(key.time, deadlines[step_of_key]);
  EXPECT_GT(key.time, deadlines[step_of_key - 1]);
}

TEST_F(SdlTest, MouseButtonsWheelCursorAxesAndText) {
  ASSERT_TRUE(open_window(320, 240));
  flush_input_events();
  SDL_Event e = {};
  e.type = SDL_MOUSEBUTTONDOWN;
  e.button.button = SDL_BUTTON_LEFT;
  e.button.x = 160;
  e.button.y = 120;
  SDL_PushEvent(&e);
  e = {};
  e.type = SDL_MOUSEWHEEL;
  e.wheel.y = 1;
  SDL_PushEvent(&e);
  std::vector<InputEvent> got = drain();
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].key, KEY_CURSOR_LEFT);
  EXPECT_TRUE(got[0].pressed);
  EXPECT_EQ(got[1].key, KEY_WHEEL_UP);
  EXPECT_TRUE(got[1].pressed);
  EXPECT_FALSE(got[2].pressed);
  EXPECT_EQ(read_axis(AXIS_CURSOR_X), 0);
  int px, py;
  cursor_position(&px, &py);
  EXPECT_EQ(px * 1000 + py, 160 * 1000 + 120);

  auto move = [](int x, int y, int dx, int dy) {
    SDL_Event m = {};
    m.type = SDL_MOUSEMOTION;
    m.motion.x = x;
    m.motion.y = y;
    m.motion.xrel = dx;
    m.motion.yrel = dy;
    SDL_PushEvent(&m);
    drain();
  };
  move(0, 0, 10, -4);
  EXPECT_EQ(read_axis(AXIS_CURSOR_X), -32768);
  EXPECT_EQ(read_axis(AXIS_CURSOR_Y), -32768);
  EXPECT_EQ(read_axis(AXIS_MOUSE_X), 2560);
  EXPECT_EQ(read_axis(AXIS_MOUSE_Y), -1024);
  move(320, 180, 500, -500);  // the far edge and the ends of the range
  EXPECT_EQ(read_axis(AXIS_CURSOR_X), 32767);
  EXPECT_EQ(read_axis(AXIS_CURSOR_Y), 16384);
  EXPECT_EQ(read_axis(AXIS_MOUSE_X), 32767);
  EXPECT_EQ(read_axis(AXIS_MOUSE_Y), -32768);

  // Typed text arrives only while text input is on.
  SDL_Event text = {};
  text.type = SDL_TEXTINPUT;
  snprintf(text.text.text, sizeof text.text.text, "%s", "\xc3\xa9t");
  SDL_PushEvent(&text);
  EXPECT_TRUE(drain().empty());
  start_text_input();
  SDL_PushEvent(&text);
  got = drain();
  stop_text_input();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].kind, INPUT_TEXT);
  EXPECT_STREQ(got[0].text, "\xc3\xa9t");
}

TEST_F(SdlTest, JoysticksHotPlugAxesButtonsAndTheAxisThatMoved) {
  ASSERT_TRUE(open_window());
  int index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 6, 15, 1);
  ASSERT_GE(index, 0) << SDL_GetError();
  drain();
  ASSERT_EQ(joystick_count(), 1);
  ASSERT_NE(joystick_name(0), nullptr);
  SDL_Joystick* stick = SDL_JoystickFromInstanceID(SDL_JoystickGetDeviceInstanceID(index));
  ASSERT_NE(stick, nullptr);

  SDL_JoystickSetVirtualAxis(stick, 0, -32768);
  SDL_JoystickSetVirtualAxis(stick, 1, 32767);
  drain();
  EXPECT_EQ(read_axis(axis_from_name("joystick-a-x")), -32768);
  EXPECT_EQ(read_axis(axis_from_name("joystick-a-y")), 32767);
  EXPECT_EQ(read_axis(axis_from_name("joystick-b-x")), 0);  // no second device

  // The controls menu learning an axis: only a move past the threshold counts.
  start_axis_watch();
  SDL_JoystickSetVirtualAxis(stick, 2, 4000);
  SDL_JoystickSetVirtualAxis(stick, 3, -20000);
  drain();
  EXPECT_STREQ(axis_name(moved_axis(8192)), "joystick-a-r");

  // An axis binding reads through to the device.
  Binding throttle;
  parse_binding(&throttle, "(0,-1)joystick-a-r");
  ASSERT_TRUE(bind_control(&throttle));
  EXPECT_NEAR(axis_binding_value(read_axis(throttle.axis), throttle.low, throttle.high), 20000 / 32768.0, 1e-6);

  // Buttons are keys; pulling the device out releases the held ones.
  SDL_JoystickSetVirtualButton(stick, 2, SDL_PRESSED);
  std::vector<InputEvent> got = drain();
  bool pressed = false;
  for (const InputEvent& e : got) pressed |= e.key == key_code_from_name("joystick-a-button-3") && e.pressed;
  EXPECT_TRUE(pressed);
  ASSERT_EQ(SDL_JoystickDetachVirtual(index), 0);
  got = drain();
  bool released = false;
  for (const InputEvent& e : got) released |= e.key == key_code_from_name("joystick-a-button-3") && !e.pressed;
  EXPECT_TRUE(released);
  EXPECT_EQ(joystick_count(), 0);
  EXPECT_EQ(read_axis(axis_from_name("joystick-a-x")), 0);
}

// No display at all: the box cannot be shown and the text goes to standard error.
TEST(MessageBox, FallsBackToStandardError) {
  platform_shutdown();
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  options_reset_for_tests();
  unsetenv("VORN_OPTIONS");
  ::testing::internal::CaptureStderr();
  platform_message_box("Problem starting Dirtvane", "Can't find game data\n");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Problem starting Dirtvane: Can't find game data\n");

  // Switched off for unattended runs, whatever the display.
  setenv("VORN_OPTIONS", "[message-box:off]", 1);
  options_reset_for_tests();
  EXPECT_FALSE(show_native_message_box("Error", "Out of virtual memory"));
  ::testing::internal::CaptureStderr();
  platform_message_box("Error", "Out of virtual memory");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Error: Out of virtual memory\n");
  unsetenv("VORN_OPTIONS");
  options_reset_for_tests();
}

}  // namespace
