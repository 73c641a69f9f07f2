// The game executable on a private Xvfb: start-up with a small data set and a
// configuration, frames rendered and recorded, the shutdown a signal starts.
//
// The data set's "zzzz.saf" cannot carry the shipped set's digest, so these
// tests run the test build of the executable (dirtvane_test_game: the same
// program, whose data check takes the expected digest from
// DV_TEST_GAME_DATA_DIGEST; the shipped dirtvane has no such door).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/datafile.h"
#include "tests/platform/xvfb.h"
#include "tests/track/track_fixture.h"

namespace {

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_text(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

long file_size(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? (long)st.st_size : -1;
}

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
    digest_ = game_data_digest(data_->path("zzzz.saf").c_str());
    char pattern[] = "/tmp/dv_shell_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    home_ = root_ + "/xdg/Dirtvane/";
    write_text(root_ + "/lsan.supp", "leak:libdbus-1.so\nleak:_dri.so\nleak:libLLVM\nleak:libgallium\nleak:libGLX\nleak:libglapi\n");
    // A window of 160 x 120, one key that exists and one that does not.
    write_text(home_ + "config",
               "video_mode=Windowed\nxres=160\nyres=120\nthrottle_key=(k)q\nclutch_key=(k)hyper-turbo\n"
               "left_key=(0.000000,-1.000000)joystick-a-x\n");
  }
  void TearDown() override {
    if (!root_.empty()) std::filesystem::remove_all(root_);
  }

  // Starts the game with stdout and stderr in files under the root.
  pid_t start(const std::vector<std::string>& arguments, const char* display = nullptr) {
    pid_t pid = fork();
    if (pid == 0) {
      if (chdir(root_.c_str()) != 0) _exit(126);
      setenv("HOME", root_.c_str(), 1);
      setenv("XDG_DATA_HOME", (root_ + "/xdg").c_str(), 1);
      setenv("DV_HOME", data_->root.c_str(), 1);
      setenv("DV_TEST_GAME_DATA_DIGEST", digest_.c_str(), 1);
      setenv("VORN_OPTIONS", "[message-box:off]", 1);
      setenv("SDL_AUDIODRIVER", "dummy", 1);
      // Under the sanitizer build: the desktop's D-Bus library keeps its
      // connection buffers until exit, which is not ours to free.
      std::string lsan = "suppressions=" + root_ + "/lsan.supp";
      if (const char* given = getenv("LSAN_OPTIONS")) lsan = std::string(given) + ":" + lsan;
      setenv("LSAN_OPTIONS", lsan.c_str(), 1);
      unsetenv("VORN_LOGFILE");
      if (display) setenv("DISPLAY", display, 1);
      int out = open((root_ + "/out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      int err = open((root_ + "/err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(out, 1);
      dup2(err, 2);
      std::vector<char*> argv;
      std::string name = "dirtvane";
      argv.push_back(name.data());
      std::vector<std::string> copies = arguments;
      for (std::string& a : copies) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(DV_TEST_GAME_PATH, argv.data());
      _exit(127);
    }
    return pid;
  }

  // Polls until `ready` holds or `seconds` pass; false on timeout or when the
  // game ended first.
  template <typename Ready>
  bool wait_until(pid_t pid, double seconds, Ready ready) {
    for (int i = 0; i < seconds * 20; i++) {
      if (ready()) return true;
      int status;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        exited_ = true;
        status_ = status;
        return ready();
      }
      usleep(50000);
    }
    return false;
  }

  // Waits for the game to end (killing it after `seconds`); the exit code, or
  // -1 when it did not exit by itself.
  int finish(pid_t pid, double seconds = 20) {
    if (!exited_) {
      wait_until(pid, seconds, [] { return false; });
      if (!exited_) {
        kill(pid, SIGKILL);
        waitpid(pid, &status_, 0);
        return -1;
      }
    }
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
  }

  std::string log() const { return read_text(home_ + "lastlog.txt"); }
  std::string diagnostics() const { return "log:\n" + log() + "\nstderr:\n" + read_text(root_ + "/err"); }

  static Xvfb* server_;
  static bool running_;
  static std::string why_;
  std::unique_ptr<ScratchData> data_;
  std::string digest_, root_, home_;
  bool exited_ = false;
  int status_ = 0;
};

Xvfb* GameShellTest::server_ = nullptr;
bool GameShellTest::running_ = false;
std::string GameShellTest::why_;

constexpr long FRAME_BYTES = 15 + 160 * 120 * 3;  // "P6\n160 120\n255\n" and the pixels

TEST_F(GameShellTest, RendersRecordsAndShutsDownOnSigterm) {
  pid_t pid = start({"--record-video", "--record-audio", root_ + "/audio.raw", "--debug"});
  ASSERT_GT(pid, 0);
  std::string video = root_ + "/out";
  bool rendering = wait_until(pid, 60, [&] { return file_size(video) >= 5 * FRAME_BYTES; });
  kill(pid, SIGTERM);
  EXPECT_EQ(finish(pid), 0) << diagnostics();
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
  EXPECT_EQ(finish(pid), 1) << diagnostics();
  EXPECT_NE(read_text(root_ + "/err").find("Can't open the game window"), std::string::npos) << diagnostics();
  EXPECT_EQ(read_text(home_ + "config").find("fov="), std::string::npos);
}

}  // namespace
