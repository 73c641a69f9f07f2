// Start-up pieces: the video-mode list, CPU detection, track and demo
// discovery, and the dirtvane executable's command-line exits.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/datafile.h"
#include "core/discovery.h"
#include "core/startup.h"
#include "platform/log.h"

namespace {

std::string make_temp_dir() {
  char pattern[] = "/tmp/dv_startup_XXXXXX";
  EXPECT_NE(mkdtemp(pattern), nullptr);
  return pattern;
}

void remove_tree(const std::string& path) {
  std::string command = "rm -rf '" + path + "'";
  EXPECT_EQ(system(command.c_str()), 0);
}

void write_file(const std::string& path, const std::string& text) {
  std::string command = "mkdir -p \"$(dirname '" + path + "')\"";
  ASSERT_EQ(system(command.c_str()), 0);
  std::ofstream out(path, std::ios::binary);
  out << text;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

TEST(VideoModes, FixedEntriesThenModesOfTheFirstDepth) {
  std::vector<VideoMode> modes = build_video_mode_list({{1920, 1080, 32, 60},
                                                         {1920, 1080, 32, 144},
                                                         {800, 600, 16, 60},
                                                         {1280, 720, 32, 60},
                                                         {1024, 768, 32, 75}});
  std::vector<std::string> names;
  for (const VideoMode& mode : modes) names.push_back(mode.name);
  EXPECT_EQ(names, (std::vector<std::string>{"Default Fullscreen", "Windowed", "1920x1080",
                                             "1280x720", "1024x768"}));
  EXPECT_EQ(modes[0].width, 0);
  EXPECT_EQ(modes[1].height, 0);
  EXPECT_EQ(modes[3].width, 1280);
  EXPECT_EQ(modes[3].height, 720);
  EXPECT_EQ(build_video_mode_list({}).size(), 2u);
}

TEST(Cpu, EveryX86_64ProcessorHasMmx) {
#if defined(__x86_64__)
  EXPECT_TRUE(cpu_has_mmx());
#else
  GTEST_SKIP() << "MMX exists on x86 only";
#endif
}

class DiscoveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = make_temp_dir();
    home_ = root_ + "/home";
    data_ = root_ + "/data";
    mkdir(home_.c_str(), 0755);
    set_search_directories({home_, data_});
  }
  void TearDown() override {
    free_data_files();
    remove_tree(root_);
  }
  std::string root_, home_, data_;
};

TEST_F(DiscoveryTest, TracksAreNamedByTheirDescAndSortedIgnoringCase) {
  write_file(data_ + "/zeta/terrain.hf", "h");
  write_file(data_ + "/zeta/desc", "Zeta Hills\r\nsecond line");
  write_file(data_ + "/plain/terrain.hf.gz", "g");
  write_file(data_ + "/mx/terrain.hf", "h");
  write_file(data_ + "/mx/terrain.hf.gz", "g");  // the same track twice
  write_file(data_ + "/mx/desc", "alpha");
  write_file(data_ + "/series/deep/terrain.hf", "h");
  write_file(data_ + "/series/deep/desc", std::string("Mud\0junk", 8));
  write_file(data_ + "/empty/terrain.hf", "h");
  write_file(data_ + "/empty/desc", "");
  write_file(data_ + "/notrack/terrain.hfx", "h");
  write_file(home_ + "/zeta/desc", "Zeta (home copy)\n");  // the home directory comes first

  TrackList tracks;
  discover_tracks(&tracks, 0);
  EXPECT_EQ(tracks.names, (std::vector<std::string>{"alpha", "empty", "Mud", "plain",
                                                    "Zeta (home copy)"}));
  EXPECT_EQ(tracks.paths,
            (std::vector<std::string>{"mx", "empty", "series/deep", "plain", "zeta"}));

  EXPECT_EQ(select_track(&tracks, "series/deep"), 2);
  EXPECT_EQ(tracks.selected, 2);
  EXPECT_EQ(select_track(&tracks, "Series/Deep"), -1);  // directory names match exactly
  EXPECT_EQ(tracks.selected, 2);
}

TEST_F(DiscoveryTest, DebugLevelLogsEveryEntry) {
  write_file(data_ + "/mx/terrain.hf", "h");
  write_file(data_ + "/mx/desc", "Motocross");
  write_file(data_ + "/demos/first.dvdemo", "d");
  std::string log = root_ + "/log.txt";
  log_printf(nullptr);
  log_reset_for_tests();
  setenv("VORN_LOGFILE", log.c_str(), 1);
  TrackList tracks;
  DemoList demos;
  discover_tracks(&tracks, 0);
  discover_demos(&demos, 0);
  log_printf("quiet so far\n");
  discover_tracks(&tracks, 1);
  discover_demos(&demos, 1);
  log_printf(nullptr);
  log_reset_for_tests();
  unsetenv("VORN_LOGFILE");

  std::string text = read_file(log);
  EXPECT_NE(text.find("] mx -> Motocross\n"), std::string::npos) << text;
  EXPECT_NE(text.find("] demos/first.dvdemo -> first\n"), std::string::npos) << text;
  EXPECT_LT(text.find("quiet so far"), text.find("mx -> Motocross"));
  EXPECT_EQ(text.find("mx -> Motocross"), text.rfind("mx -> Motocross"));
}

TEST(TrackSort, SelectionPassKeepsNamesAndPathsTogether) {
  TrackList tracks;
  tracks.names = {"b", "B", "a", "Cc", "ca"};
  tracks.paths = {"p1", "p2", "p3", "p4", "p5"};
  sort_tracks(&tracks);
  EXPECT_EQ(tracks.names, (std::vector<std::string>{"a", "B", "b", "ca", "Cc"}));
  EXPECT_EQ(tracks.paths, (std::vector<std::string>{"p3", "p2", "p1", "p5", "p4"}));
}

TEST_F(DiscoveryTest, DemosBelowDemosWithTheirFileNames) {
  write_file(home_ + "/demos/race1.dvdemo", "d");
  write_file(home_ + "/demos/old/best.lap.dvdemo", "d");
  write_file(data_ + "/demos/notes.txt", "n");
  write_file(data_ + "/demo/other.dvdemo", "d");
  write_file(data_ + "/x/demos/nested.dvdemo", "d");
  DemoList demos;
  discover_demos(&demos, 0);
  EXPECT_EQ(demos.paths,
            (std::vector<std::string>{"demos/old/best.lap.dvdemo", "demos/race1.dvdemo"}));
  EXPECT_EQ(demos.names, (std::vector<std::string>{"best.lap", "race1"}));
  EXPECT_EQ(demo_display_name("a.b/noext"), "noext");
  EXPECT_EQ(demo_display_name("plain"), "plain");
}

// --- the executable ---------------------------------------------------------------

struct ProcessResult {
  int exit_code;
  std::string out, err;
};

class ExecutableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = make_temp_dir();
    mkdir((root_ + "/empty_data").c_str(), 0755);
  }
  void TearDown() override { remove_tree(root_); }

  // Runs the built game with a private home and an empty game data directory.
  ProcessResult run(const std::string& arguments) {
    std::string binary = std::string(DV_GAME_DIR) + "/dirtvane";
    EXPECT_EQ(access(binary.c_str(), X_OK), 0) << "build the dirtvane target first: " << binary;
    // No modal box may wait for a click in an unattended run.
    std::string command = "cd '" + root_ + "' && env -u VORN_LOGFILE VORN_OPTIONS='[message-box:off]' HOME='" +
                          root_ + "' XDG_DATA_HOME='" + root_ + "/xdg' DV_HOME='" + root_ +
                          "/empty_data' '" + binary + "' " + arguments + " >out.txt 2>err.txt";
    int status = system(command.c_str());
    ProcessResult result;
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = read_file(root_ + "/out.txt");
    result.err = read_file(root_ + "/err.txt");
    return result;
  }
  std::string root_;
};

TEST_F(ExecutableTest, BadOptionEndsWithCodeOne) {
  ProcessResult result = run("--bad-option");
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.err, "bad option '--bad-option'\n");
}

TEST_F(ExecutableTest, ValueOptionAsLastArgumentReportsItsMessage) {
  ProcessResult result = run("--texture-detail");
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.err, "Bad arg for --texture-detail\n");
  result = run("--debug --erode=lots");
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.err, "Bad arg for --erode\n");
}

TEST_F(ExecutableTest, MissingGameDataIsReportedAndEndsWithZero) {
  ProcessResult result = run("--debug");
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_NE(result.err.find("Problem starting Dirtvane"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("Can't find game data"), std::string::npos) << result.err;
  // The home directory and its log exist by then.
  struct stat status;
  EXPECT_EQ(stat((root_ + "/xdg/Dirtvane/lastlog.txt").c_str(), &status), 0);
}

}  // namespace

// --- start-up and shutdown in process -------------------------------------------------

namespace {

class CoreStartTest : public DiscoveryTest {
 protected:
  void SetUp() override {
    DiscoveryTest::SetUp();
    reset_config();
    write_file(data_ + "/mx/terrain.hf", "h");
    write_file(data_ + "/zeta/terrain.hf", "h");
  }
  void TearDown() override {
    reset_config();
    g_startup_stages = {};
    DiscoveryTest::TearDown();
  }

  int start(std::vector<std::string> arguments, RunOptions* options) {
    arguments.insert(arguments.begin(), "dirtvane");
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    std::string diagnostics;
    EXPECT_EQ(parse_command_line(static_cast<int>(argv.size()), argv.data(), options, &diagnostics),
              CommandLineResult::run);
    return start_core(options);
  }
};

TEST_F(CoreStartTest, ConfigurationThenCommandLineThenTrackChoice) {
  write_file(home_ + "/config", "track=zeta\nfov=200\nmodel_detail=0\nserver_name_hist00=old\n");
  g_startup_stages.list_display_modes = [](std::vector<DisplayMode>* modes) {
    modes->push_back({1600, 900, 32, 60});
  };
  RunOptions options;
  ASSERT_EQ(start({"--lod-bias", "7"}, &options), -1);
  EXPECT_EQ(g_config.fov, 170.0);
  EXPECT_EQ(g_tracks.paths[static_cast<size_t>(g_tracks.selected)], "zeta");
  EXPECT_EQ(options.track, "zeta");
  EXPECT_DOUBLE_EQ(options.render.lod_scale, 8.0);  // from the file's model_detail
  EXPECT_EQ(options.render.lod_bias, 7.0);          // the command line wins
  EXPECT_STREQ(g_config.server_name_history[0], "old");
  ASSERT_EQ(g_video_modes.size(), 3u);

  // Shutdown writes the file back with what the run changed.
  g_config.fov = 95;
  shut_down_core();
  std::string written = read_file(home_ + "/config");
  EXPECT_NE(written.find("\ntrack=zeta\n"), std::string::npos);
  EXPECT_NE(written.find("\nfov=95.000000\n"), std::string::npos);
  EXPECT_NE(written.find("\nserver_name_hist00=old\n"), std::string::npos);
}

TEST_F(CoreStartTest, UnknownTrackKeepsItsNameButLoadsTheFirst) {
  write_file(home_ + "/config", "track=gone\n");
  RunOptions options;
  ASSERT_EQ(start({}, &options), -1);
  EXPECT_EQ(options.track, "mx");
  EXPECT_STREQ(g_config.track, "gone");
}

TEST_F(CoreStartTest, ConnectingLeavesTheTrackToTheServer) {
  RunOptions options;
  ASSERT_EQ(start({"--track", "mx", "--connect", "dirtvane:host.example"}, &options), -1);
  EXPECT_EQ(options.track, "");
  EXPECT_EQ(options.connect, "host.example");
  EXPECT_STREQ(g_config.server_name, "host.example");
  EXPECT_STREQ(g_config.server_name_history[0], "host.example");
}

TEST_F(CoreStartTest, NoTracksEndsWithCodeOne) {
  remove_tree(data_);
  invalidate_catalogue();
  RunOptions options;
  testing::internal::CaptureStderr();
  EXPECT_EQ(start({}, &options), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "No tracks found\n");
}

}  // namespace
