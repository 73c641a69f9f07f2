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

#include "core/datafile.h"
#include "render/image.h"
#include "tests/platform/game_process.h"
#include "tests/platform/xvfb.h"
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

  pid_t start() { return game_.start(DV_TEST_GAME_PATH, {"--nosound", "--super-debug"}); }
  int finish(double seconds) { return game_.finish(seconds); }
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
  pid_t pid = start();
  ASSERT_GT(pid, 0);
  unsigned long window = 0;
  for (int i = 0; i < 200 && !window; i++) {
    window = keys_.find_window("Dirtvane");
    if (!window) usleep(50000);
  }
  ASSERT_NE(window, 0u) << diagnostics();
  ASSERT_TRUE(wait_for_log("GL_EXTENSIONS", 20)) << diagnostics();
  usleep(800000);  // the first frames: the main menu is open
  keys_.focus(window);
  usleep(200000);

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
  keys_.tap("Home");
  keys_.tap("Down");
  keys_.tap("Return");
  keys_.tap("End");
  keys_.tap("Return");
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

  pid_t pid = start();
  ASSERT_GT(pid, 0);
  unsigned long window = 0;
  for (int i = 0; i < 200 && !window; i++) {
    window = keys_.find_window("Dirtvane");
    if (!window) usleep(50000);
  }
  ASSERT_NE(window, 0u) << diagnostics();
  ASSERT_TRUE(wait_for_log("GL_EXTENSIONS", 20)) << diagnostics();
  std::string log = read_text(home_ + "lastlog.txt");
  EXPECT_NE(log.find("series series/club.series (Club Cup)\n"), std::string::npos) << log;
  EXPECT_NE(log.find("  event rabbithill (Opener)\n"), std::string::npos) << log;
  usleep(800000);
  keys_.focus(window);
  usleep(200000);

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
