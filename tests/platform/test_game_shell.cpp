// The game executable on a private Xvfb: start-up with a small data set and a
// configuration, frames rendered and recorded, the shutdown a signal starts.
//
// The data set's "zzzz.saf" cannot carry the shipped set's digest, so these
// tests run the test build of the executable (dirtvane_test_game: the same
// program, whose data check takes the expected digest from
// DV_TEST_GAME_DATA_DIGEST; the shipped dirtvane has no such door).
#include <gtest/gtest.h>

#include <signal.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "core/datafile.h"
#include "tests/platform/game_process.h"
#include "tests/platform/xvfb.h"
#include "tests/track/track_fixture.h"

namespace {

// The last line of a log without its time stamp.
std::string last_line(const std::string& log) {
  std::string text = log;
  while (!text.empty() && text.back() == '\n') text.pop_back();
  std::string line = text.substr(text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1);
  size_t stamp = line.find("] ");
  return stamp == std::string::npos ? line : line.substr(stamp + 2);
}

class GameShellTest : public ::testing::Test {
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
    data_ = std::make_unique<ScratchData>();
    build_fixture_track(*data_, "rabbithill", true);
    data_->write("zzzz.saf", "-\nthe test data set\n");
    game_.data_root = data_->root;
    game_.digest = game_data_digest(data_->path("zzzz.saf").c_str());
    ASSERT_TRUE(game_.make_root("dv_shell"));
    root_ = game_.root;
    home_ = game_.home;
    // A window of 160 x 120, one key that exists and one that does not.
    write_text(home_ + "config",
               "video_mode=Windowed\nxres=160\nyres=120\nthrottle_key=(k)q\nclutch_key=(k)hyper-turbo\n"
               "left_key=(0.000000,-1.000000)joystick-a-x\n");
  }

  pid_t start(const std::vector<std::string>& arguments, const char* display = nullptr) {
    return game_.start(DV_TEST_GAME_PATH, arguments, display);
  }
  template <typename Ready>
  bool wait_until(double seconds, Ready ready) { return game_.wait_until(seconds, ready); }
  int finish(double seconds = 20) { return game_.finish(seconds); }
  std::string log() const { return game_.log(); }
  std::string diagnostics() const { return game_.diagnostics(); }

  static Xvfb* server_;
  static bool running_;
  static std::string why_;
  std::unique_ptr<ScratchData> data_;
  GameProcess game_;
  std::string root_, home_;
};

Xvfb* GameShellTest::server_ = nullptr;
bool GameShellTest::running_ = false;
std::string GameShellTest::why_;

constexpr long FRAME_BYTES = 15 + 160 * 120 * 3;  // "P6\n160 120\n255\n" and the pixels

TEST_F(GameShellTest, RendersRecordsAndShutsDownOnSigterm) {
  pid_t pid = start({"--record-video", "--record-audio", root_ + "/audio.raw", "--debug"});
  ASSERT_GT(pid, 0);
  std::string video = root_ + "/out";
  bool rendering = wait_until(60, [&] { return file_size(video) >= 5 * FRAME_BYTES; });
  kill(pid, SIGTERM);
  EXPECT_EQ(finish(), 0) << diagnostics();
  ASSERT_TRUE(rendering) << diagnostics();

  // The start-up the log tells of: GL, bindings, the track, then the shutdown.
  std::string text = log();
  for (const char* line : {"] GL_VENDOR: ", "] GL_RENDERER: ", "] GL_VERSION: ", "] GL_EXTENSIONS: ",
                           "] throttle_key: key 'q' (113)\n", "] Unknown key 'hyper-turbo' for Clutch\n",
                           "] left_key: axis 'joystick-a-x'", "] Shutting down\n", "] Main loop ended after "}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
  }
  EXPECT_EQ(text.find("Error"), std::string::npos) << text;
  EXPECT_EQ(last_line(text), "Configuration saved") << text;

  // Saved at exit: the whole configuration, the player's bindings kept as written.
  std::string config = read_text(home_ + "config");
  EXPECT_NE(config.find("fov=110.000000\n"), std::string::npos) << config;
  EXPECT_NE(config.find("throttle_key=(k)q\n"), std::string::npos) << config;
  EXPECT_NE(config.find("clutch_key=(k)hyper-turbo\n"), std::string::npos) << config;
  EXPECT_NE(config.find("video_mode=Windowed\n"), std::string::npos) << config;
  EXPECT_NE(config.find("track=rabbithill\n"), std::string::npos) << config;

  // Whole binary PPM frames, one after another, each a picture of the track
  // (no longer the bare clear colour of a frame nobody draws).
  std::string frames = read_text(video);
  ASSERT_GE((long)frames.size(), 5 * FRAME_BYTES);
  EXPECT_EQ(frames.size() % FRAME_BYTES, 0u);
  for (size_t at = 0; at + FRAME_BYTES <= frames.size(); at += FRAME_BYTES) {
    ASSERT_EQ(frames.compare(at, 15, "P6\n160 120\n255\n"), 0) << "frame at byte " << at;
    const unsigned char* pixels = (const unsigned char*)frames.data() + at + 15;
    int clear = 0;
    for (int i = 0; i < 160 * 120; i++) {
      const unsigned char* p = pixels + i * 3;
      clear += std::abs(p[0] - 50) <= 1 && std::abs(p[1] - 153) <= 1 && std::abs(p[2] - 204) <= 1;
    }
    EXPECT_LT(clear, 160 * 120 / 2) << "frame at byte " << at;
  }

  // Every race step appended its block of 690 16-bit samples.
  long audio = file_size(root_ + "/audio.raw");
  EXPECT_GT(audio, 0);
  EXPECT_EQ(audio % 1380, 0);
}

TEST_F(GameShellTest, NoWindowEndsWithCodeOneAndSavesNothing) {
  pid_t pid = start({"--nosound"}, ":9999");  // no X server there
  ASSERT_GT(pid, 0);
  EXPECT_EQ(finish(), 1) << diagnostics();
  EXPECT_NE(read_text(root_ + "/err").find("Can't open the game window"), std::string::npos) << diagnostics();
  EXPECT_EQ(read_text(home_ + "config").find("fov="), std::string::npos);
}

}  // namespace
