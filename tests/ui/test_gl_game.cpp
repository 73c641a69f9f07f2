// The game played through its menus: the test build of the executable on a
// private Xvfb, driven by key presses sent through the X server. It changes a
// number, a choice and a binding, starts a race, takes a screenshot and
// quits; the configuration file and the screenshot it leaves are checked.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/datafile.h"
#include "render/image.h"
#include "tests/platform/game_process.h"
#include "tests/platform/xvfb.h"
#include "tests/sound/sound_test_util.h"
#include "tests/track/track_fixture.h"
#include "ui_gl_fixture.h"
#include "xtest_keys.h"

namespace {

class GamePlayTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = new Xvfb();
    running_ = server_->start(&why_);
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }

  void SetUp() override {
    if (!running_) GTEST_SKIP() << why_;
    if (!keys_.open(&why_)) GTEST_SKIP() << why_;
    data_ = std::make_unique<ScratchData>();
    build_fixture_track(*data_, "rabbithill", true);
    data_->write("zzzz.saf", "-\nthe test data set\n");
    Font text, mono;
    ASSERT_TRUE(rasterise_font(DEJAVU_SANS, 32, &text, &why_)) << why_;
    ASSERT_TRUE(rasterise_font(DEJAVU_MONO, 24, &mono, &why_)) << why_;
    std::filesystem::create_directories(data_->path("fonts"));
    ASSERT_TRUE(write_font_file(data_->path("fonts/text.dvfont").c_str(), text));
    ASSERT_TRUE(write_font_file(data_->path("fonts/mono.dvfont").c_str(), mono));
    write_rgba_png(data_->path("tach.png"), make_tach_image(256));
    game_.data_root = data_->root;
    game_.digest = game_data_digest(data_->path("zzzz.saf").c_str());
    ASSERT_TRUE(game_.make_root("dv_play"));
    root_ = game_.root;
    home_ = game_.home;
    write_text(home_ + "config", "video_mode=Windowed\nxres=640\nyres=480\n");
  }

  // The game with "--super-debug" and, unless the arguments open audio
  // some other way, "--nosound".
  pid_t start(std::vector<std::string> args = {"--nosound"}) {
    args.push_back("--super-debug");
    return game_.start(DV_TEST_GAME_PATH, args);
  }
  int finish(double seconds) { return game_.finish(seconds); }
  // Starts the game and gives its window the keyboard once GL is up and the
  // first frames (the main menu) are drawn; false when either never came.
  bool start_with_focus(std::vector<std::string> args = {"--nosound"}) {
    if (start(std::move(args)) <= 0) return false;
    unsigned long window = 0;
    for (int i = 0; i < 200 && !window; i++) {
      window = keys_.find_window("Dirtvane");
      if (!window) usleep(50000);
    }
    if (!window || !wait_for_log("GL_EXTENSIONS", 20)) return false;
    usleep(800000);
    keys_.focus(window);
    usleep(200000);
    return true;
  }
  // From the main menu: Race, Start Race.
  void start_race_from_menu() {
    keys_.tap("Home");
    keys_.tap("Down");
    keys_.tap("Return");
    keys_.tap("End");
    keys_.tap("Return");
  }
  bool wait_for_log(const std::string& text, double seconds) { return game_.wait_for_log(text, seconds); }
  std::string diagnostics() const { return game_.diagnostics(); }

  static Xvfb* server_;
  static bool running_;
  static std::string why_;
  XKeyboard keys_;
  std::unique_ptr<ScratchData> data_;
  GameProcess game_;
  std::string root_, home_;
};

Xvfb* GamePlayTest::server_ = nullptr;
bool GamePlayTest::running_ = false;
std::string GamePlayTest::why_;

}  // namespace

TEST_F(GamePlayTest, MenusChangeSettingsStartARaceAndTakeAScreenshot) {
  ASSERT_TRUE(start_with_focus()) << diagnostics();

  // Graphics: the field of view up by five.
  keys_.tap("Down", 10);
  keys_.tap("Return");
  keys_.tap("Down");
  keys_.tap("Right", 5);
  keys_.tap("Escape");
  // Race: two laps against Amateur robots.
  keys_.tap("Home");
  keys_.tap("Down");
  keys_.tap("Return");
  keys_.tap("Down");
  keys_.tap("Left", 3);
  keys_.tap("Down", 2);
  keys_.tap("Right");
  keys_.tap("Escape");
  // Controls: the throttle on "q".
  keys_.tap("Down", 8);
  keys_.tap("Return");
  keys_.tap("Return");
  keys_.tap("q");
  keys_.tap("Escape");
  // Race, Start Race.
  start_race_from_menu();
  usleep(1000000);
  // The screenshot key, then Esc for the menu and Quit at its end.
  keys_.tap("s");
  ASSERT_TRUE(wait_for_log("Saved \"screenshot000.png\"", 10)) << diagnostics();
  keys_.tap("Escape");
  keys_.tap("End");
  keys_.tap("Return");
  EXPECT_EQ(finish(30), 0) << diagnostics();

  std::string config = read_text(home_ + "config");
  EXPECT_NE(config.find("fov=115.000000\n"), std::string::npos) << config << diagnostics();
  EXPECT_NE(config.find("laps=2.000000\n"), std::string::npos) << config;
  EXPECT_NE(config.find("skill=Amateur\n"), std::string::npos) << config;
  EXPECT_NE(config.find("throttle_key=(k)q\n"), std::string::npos) << config;

  // The screenshot: the window's size, taken in the race view (the track's
  // map in the corner, no menu over the middle).
  Image shot;
  std::string info;
  ASSERT_TRUE(read_png_file((home_ + "screenshot000.png").c_str(), &shot, &info)) << diagnostics();
  EXPECT_EQ(shot.width, 640);
  EXPECT_EQ(shot.height, 480);
  std::filesystem::create_directories(DV_UI_SHOTS_DIR);
  std::filesystem::copy_file(home_ + "screenshot000.png", std::string(DV_UI_SHOTS_DIR) + "/game_race.png",
                             std::filesystem::copy_options::overwrite_existing);
  int map_pixels = 0;
  for (int y = 0; y < 480 / 3; y++)
    for (int x = 640 * 2 / 3; x < 640; x++) {
      const uint8_t* p = &shot.pixels[((size_t)y * 640 + x) * 3];
      // Anything but the clear colour (50, 153, 204): the map of the track.
      if (std::abs(p[0] - 50) + std::abs(p[1] - 153) + std::abs(p[2] - 204) > 60) map_pixels++;
    }
  EXPECT_GT(map_pixels, 2000);
  std::string log = read_text(home_ + "lastlog.txt");
  EXPECT_NE(log.find("Configuration saved"), std::string::npos) << log;
}

TEST_F(GamePlayTest, PointsSeriesMenuStartsTheNextEvent) {
  // A series of one event on the test track, found at start-up.
  std::string series = "\"Club Cup\"\n2 Novice\n999 82\n1\n\"Opener\" rabbithill\n0 1\n";
  for (int i = 0; i < 40; i++) series += std::to_string(i < 3 ? 10 - 3 * i : 0) + " ";
  series += "\n";
  for (int i = 0; i < 40; i++) series += i == 0 ? "1 " : i == 1 ? "2 " : "0 ";
  data_->write("series/club.series", series + "\n");

  ASSERT_TRUE(start_with_focus()) << diagnostics();
  std::string log = read_text(home_ + "lastlog.txt");
  EXPECT_NE(log.find("series series/club.series (Club Cup)\n"), std::string::npos) << log;
  EXPECT_NE(log.find("  event rabbithill (Opener)\n"), std::string::npos) << log;

  // The start-up race first, so that the next reset is the series'.
  auto resets = [&] {
    std::string now = read_text(home_ + "lastlog.txt");
    int n = 0;
    for (size_t at = now.find("Resetting\n"); at != std::string::npos; at = now.find("Resetting\n", at + 1)) n++;
    return n;
  };
  for (int i = 0; i < 200 && resets() < 1; i++) usleep(50000);
  ASSERT_EQ(resets(), 1) << diagnostics();

  // Points Series, the series, Start Next Event (the page's only action).
  keys_.tap("Home");
  keys_.tap("Down", 3);
  keys_.tap("Return");
  keys_.tap("Return");
  keys_.tap("Return");
  bool reset = false;
  for (int i = 0; i < 200 && !reset; i++) {
    std::string now = read_text(home_ + "lastlog.txt");
    size_t second = now.rfind("Resetting\n");
    reset = resets() == 2 && now.find("Loading bikes", second) != std::string::npos;
    if (!reset) usleep(50000);
  }
  EXPECT_TRUE(reset) << diagnostics();
  keys_.tap("Escape");
  keys_.tap("End");
  keys_.tap("Return");
  EXPECT_EQ(finish(30), 0) << diagnostics();
}

namespace {

// One "Engine sound:" line of the game's "--super-debug" log.
struct EngineLogLine {
  long step;
  double rpm, throttle, loudness, firings;
};

std::vector<EngineLogLine> engine_log(const std::string& log) {
  std::vector<EngineLogLine> lines;
  for (size_t at = log.find("Engine sound: step "); at != std::string::npos;
       at = log.find("Engine sound: step ", at + 1)) {
    EngineLogLine e;
    int slot, gear;
    double load, speed, slip;
    if (sscanf(log.c_str() + at,
               "Engine sound: step %ld slot %d rpm %lf gear %d throttle %lf load %lf speed %lf mph rear slip %lf mph "
               "loudness %lf firings %lf",
               &e.step, &slot, &e.rpm, &gear, &e.throttle, &load, &speed, &slip, &e.loudness, &e.firings) == 10)
      lines.push_back(e);
  }
  return lines;
}

}  // namespace

TEST_F(GamePlayTest, RecordedAudioOfARideFollowsTheEngine) {
  const std::string raw = root_ + "/ride.raw";
  ASSERT_TRUE(start_with_focus({"--record-audio", raw})) << diagnostics();
  // Race, Start Race; the engine idles behind the gate, then the throttle
  // is held wide open until the limiter holds it, and let go.
  start_race_from_menu();
  // Waited for in race steps: a loaded machine runs the game slower.
  auto steps_logged = [&] {
    std::string now = read_text(home_ + "lastlog.txt");
    size_t at = now.rfind("Engine sound: step ");
    return at == std::string::npos ? 0L : atol(now.c_str() + at + 19);
  };
  auto wait_steps = [&](long steps) {
    long until = steps_logged() + steps;
    for (int i = 0; i < 600 && steps_logged() < until; i++) usleep(50000);
  };
  wait_steps(128 * 4);
  keys_.hold("x", true);
  wait_steps(128 * 3);
  keys_.hold("x", false);
  wait_steps(128);
  keys_.tap("Escape");
  keys_.tap("End");
  keys_.tap("Return");
  ASSERT_EQ(finish(30), 0) << diagnostics();

  // One block of 690 samples for every race step the game ran.
  std::string log = read_text(home_ + "lastlog.txt");
  long frames = 0, steps = 0;
  size_t ended = log.find("Main loop ended after ");
  ASSERT_NE(ended, std::string::npos) << log;
  ASSERT_EQ(sscanf(log.c_str() + ended, "Main loop ended after %ld frames and %ld race steps", &frames, &steps), 2);
  std::string bytes = read_text(raw);
  ASSERT_GT(steps, 128 * 2);
  ASSERT_EQ((long)bytes.size(), steps * 690 * 2) << steps << " steps";
  std::vector<float> samples(bytes.size() / 2);
  for (size_t i = 0; i < samples.size(); i++)
    samples[i] = (float)(int16_t)((uint8_t)bytes[2 * i] | (uint8_t)bytes[2 * i + 1] << 8);
  std::filesystem::create_directories(DV_UI_SHOTS_DIR);
  std::filesystem::copy_file(raw, std::string(DV_UI_SHOTS_DIR) + "/game_ride.raw",
                             std::filesystem::copy_options::overwrite_existing);

  // Where the engine ran steadily for a quarter second, the recording's
  // pitch is its firing rate, rpm / 60 x firings per revolution, both at
  // idle and on the limiter.
  std::vector<EngineLogLine> engine = engine_log(log);
  ASSERT_GT(engine.size(), 20u) << log;
  bool idle = false, limiter = false, open_throttle_heard = false;
  int windows = 0;
  // Half a second (six firings at idle) between three log lines that agree.
  for (size_t i = 0; i + 2 < engine.size(); i++) {
    const EngineLogLine& a = engine[i];
    const EngineLogLine& b = engine[i + 2];
    if (b.step - a.step != 64 || a.loudness <= 0 || b.loudness != a.loudness || a.rpm < 1200) continue;
    bool steady = engine[i + 1].loudness == a.loudness;
    for (size_t k = i + 1; k <= i + 2; k++)
      steady = steady && std::fabs(engine[k].rpm - a.rpm) <= 0.015 * a.rpm && engine[k].throttle == a.throttle;
    if (!steady) continue;
    std::vector<float> window(samples.begin() + a.step * 690, samples.begin() + b.step * 690);
    double level = sound_test::rms(window);
    EXPECT_GT(level, 30.0) << "step " << a.step << " rpm " << a.rpm;
    double hz = sound_test::fundamental_hz(window, 88320, 8, 400);
    double expected = engine[i + 1].rpm / 60.0 * a.firings;
    EXPECT_NEAR(hz, expected, 0.05 * expected) << "step " << a.step << " rpm " << a.rpm;
    windows++;
    if (a.rpm < 2500 && a.throttle == 0) idle = true;
    if (a.rpm > 8000 && a.throttle == 1) {
      limiter = true;
      open_throttle_heard = level > 300;
    }
  }
  EXPECT_GE(windows, 3);
  EXPECT_TRUE(idle) << log;
  EXPECT_TRUE(limiter) << log;
  EXPECT_TRUE(open_throttle_heard);
}

namespace {

int count_of(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
  return n;
}

// Types a line into the chat line (opened with the Chat key, "t"), sends it
// and waits for the answer. Typed text exists only once the line is open, a
// frame after the key: a player sees it open before typing and reads the
// answer before opening it again, and so does this one (the game's
// "--super-debug" log shows both).
void type_line(XKeyboard& keys, const std::string& log_path, const std::string& text) {
  auto log = [&] {
    std::ifstream in(log_path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  };
  int before = count_of(log(), "Chat line open\n");
  keys.tap("t");
  for (int i = 0; i < 200 && count_of(log(), "Chat line open\n") == before; i++) usleep(50000);
  for (char c : text) {
    std::string key(1, c);
    if (c == ' ') key = "space";
    else if (c == '/') key = "slash";
    else if (c == '.') key = "period";
    else if (c == '-') key = "minus";
    keys.tap(key.c_str());
  }
  size_t length = log().size();
  keys.tap("Return");
  for (int i = 0; i < 200 && log().size() == length; i++) usleep(50000);
  usleep(200000);
}

}  // namespace

TEST_F(GamePlayTest, ConsoleCommandsReachTheirSubsystems) {
  ASSERT_TRUE(start_with_focus({})) << diagnostics();  // the audio device (SDL's dummy driver), for the pipe
  // Race, Start Race: the player on the gate, the chase view.
  start_race_from_menu();
  usleep(1500000);
  keys_.tap("Tab");
  usleep(300000);

  type_line(keys_, home_ + "lastlog.txt", "/savetrackinfo");
  ASSERT_TRUE(wait_for_log("Track info saved to " + home_ + "rabbithill.trackinfo", 10)) << diagnostics();
  type_line(keys_, home_ + "lastlog.txt", "/pipe 2.5 0.5 -0.8 0 15");
  type_line(keys_, home_ + "lastlog.txt", "/randdump");
  type_line(keys_, home_ + "lastlog.txt", "/renderstats");
  type_line(keys_, home_ + "lastlog.txt", "/addkey");
  type_line(keys_, home_ + "lastlog.txt", "/camangle 90 -10");
  type_line(keys_, home_ + "lastlog.txt", "/togglegraph");
  ASSERT_TRUE(wait_for_log("Suspension graph ON", 10)) << diagnostics();
  usleep(1500000);  // the graph's traces fill
  keys_.tap("s");
  ASSERT_TRUE(wait_for_log("Saved \"screenshot000.png\"", 10)) << diagnostics();
  type_line(keys_, home_ + "lastlog.txt", "/forcereload");
  ASSERT_TRUE(wait_for_log("Track will be reloaded on next restart", 10)) << diagnostics();
  int loads = count_of(read_text(home_ + "lastlog.txt"), "Loading heights\n");
  // Race, Start Race again on the same track.
  keys_.tap("Escape");
  start_race_from_menu();
  usleep(1500000);
  keys_.tap("Escape");
  keys_.tap("End");
  keys_.tap("Return");
  EXPECT_EQ(finish(30), 0) << diagnostics();

  std::string log = read_text(home_ + "lastlog.txt");
  EXPECT_NE(log.find("Pipe updated"), std::string::npos) << log;
  EXPECT_NE(log.find("Race random "), std::string::npos) << log;
  EXPECT_NE(log.find("Render statistics reset"), std::string::npos) << log;
  EXPECT_NE(log.find("Keyframe added"), std::string::npos) << log;
  EXPECT_NE(log.find("Camera aimed"), std::string::npos) << log;
  EXPECT_EQ(log.find("is not available here"), std::string::npos) << log;
  EXPECT_EQ(count_of(log, "Loading heights\n"), loads + 1) << log;

  // The info file: the loaded track's directory, name from the track list,
  // gates (the fixture's four, one lap of four) and a digest.
  std::string info = read_text(home_ + "rabbithill.trackinfo");
  const std::string head = "dir=rabbithill\nlongname=Fixture Hills\nfirstlap=4\nnormallap=4\ngatecount=4\nhash=";
  ASSERT_EQ(info.substr(0, head.size()), head) << info;
  std::string hash = info.substr(head.size());
  ASSERT_EQ(hash.size(), 41u) << info;
  EXPECT_EQ(hash.find_first_not_of("0123456789abcdef"), 40u) << hash;
  EXPECT_NE(hash, std::string(40, '0') + "\n");

  std::filesystem::create_directories(DV_UI_SHOTS_DIR);
  std::filesystem::copy_file(home_ + "screenshot000.png", std::string(DV_UI_SHOTS_DIR) + "/game_suspension_graph.png",
                             std::filesystem::copy_options::overwrite_existing);
}
