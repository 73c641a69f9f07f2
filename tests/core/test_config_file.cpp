// The configuration file on disk: reading through the data-file layer and
// replacing the file safely at shutdown.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "core/config.h"
#include "core/datafile.h"

namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

void spit(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

class ConfigFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/dv_config_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    home_ = pattern;
    set_search_directories({home_});
    set_choice_values(ChoiceListId::bike_models, {"450sxf(2016)", "rs50yz"});
    reset_config();
  }
  void TearDown() override {
    reset_config();
    free_data_files();
    std::string command = "rm -rf '" + home_ + "'";
    ASSERT_EQ(system(command.c_str()), 0);
  }
  std::string home_;
};

TEST_F(ConfigFileTest, MissingFileLeavesDefaults) {
  std::string defaults = config_text();
  EXPECT_FALSE(read_config());
  EXPECT_EQ(config_text(), defaults);
}

TEST_F(ConfigFileTest, WriteThenReadGivesTheSameFile) {
  g_config.fov = 95;
  g_bike_setup.bike = 1;
  snprintf(g_config.track, sizeof g_config.track, "%s", "mudpit");
  ASSERT_TRUE(write_config());
  std::string written = slurp(home_ + "/config");
  EXPECT_EQ(written, config_text());
  EXPECT_NE(access((home_ + "/config.new").c_str(), F_OK), 0) << "temporary file left behind";

  reset_config();
  invalidate_catalogue();
  ASSERT_TRUE(read_config());
  EXPECT_EQ(g_config.fov, 95.0);
  EXPECT_EQ(g_bike_setup.bike, 1);
  EXPECT_STREQ(g_config.track, "mudpit");
  EXPECT_EQ(config_text(), written);
}

TEST_F(ConfigFileTest, FailedWriteKeepsThePreviousFile) {
  spit(home_ + "/config", "fov=42\n");
  // The temporary name is taken by a directory: the new file cannot be made.
  ASSERT_EQ(mkdir((home_ + "/config.new").c_str(), 0755), 0);
  EXPECT_FALSE(write_config());
  EXPECT_EQ(slurp(home_ + "/config"), "fov=42\n");
}

TEST_F(ConfigFileTest, ReplacesAnOlderLongerFileCompletely) {
  spit(home_ + "/config", std::string(20000, '#') + "\n");
  ASSERT_TRUE(write_config());
  EXPECT_EQ(slurp(home_ + "/config"), config_text());
}

TEST_F(ConfigFileTest, OverlongLinesAreDroppedWhole) {
  // The tail of a line longer than the reader's limit must not be read as a
  // line of its own.
  std::string line_1023 = "name=" + std::string(1018, 'a');
  std::string text = "server_name=" + std::string(1500, 'x') + "fov=20\n" + line_1023 + "\n" +
                     "laps=7\nvolume=3";  // the last line has no newline
  spit(home_ + "/config", text);
  const std::string default_server = g_config.server_name;
  ASSERT_TRUE(read_config());
  EXPECT_EQ(g_config.fov, 110.0);
  EXPECT_EQ(g_config.server_name, default_server);
  EXPECT_EQ(std::string(g_bike_setup.name), std::string(63, 'a'));
  EXPECT_EQ(g_config.laps, 7.0);
  EXPECT_EQ(g_config.volume, 3.0);
}

TEST_F(ConfigFileTest, ReadsFromAnyStreamAndANulEndsOnlyItsLine) {
  const char text[] = "fov=60\0laps=9\r\nbike=rs50yz\r\n\0\nvolume=4\n";
  DataStream* stream = data_open_memory(text, sizeof text - 1);
  ASSERT_NE(stream, nullptr);
  read_config_stream(stream);
  data_close(stream);
  EXPECT_EQ(g_config.fov, 60.0);
  EXPECT_EQ(g_config.laps, 5.0);
  EXPECT_EQ(g_bike_setup.bike, 1);
  EXPECT_EQ(g_config.volume, 4.0);
}

TEST_F(ConfigFileTest, EveryWrittenBindingLineCanBeReadBack) {
  // Huge range ends and long names would make "%f" lines longer than the
  // reader takes; the binding keeps them within bounds instead.
  std::string text = "left_key=(-1e300,1e300)" + std::string(990, 'a') + "\n";
  DataStream* stream = data_open_memory(text.data(), text.size());
  read_config_stream(stream);
  data_close(stream);
  const Binding& left = g_config.bindings[BINDING_LEFT];
  EXPECT_EQ(left.low, -BINDING_AXIS_LIMIT);
  EXPECT_EQ(left.high, BINDING_AXIS_LIMIT);
  EXPECT_EQ(left.axis_name.size(), BINDING_NAME_MAX);
  std::string written = config_text();
  reset_config();
  stream = data_open_memory(written.data(), written.size());
  read_config_stream(stream);
  data_close(stream);
  EXPECT_EQ(g_config.bindings[BINDING_LEFT].axis_name, std::string(BINDING_NAME_MAX, 'a'));
  EXPECT_EQ(config_text(), written);
}

TEST_F(ConfigFileTest, BikeSetupBlockWritesToAStream) {
  std::string path = home_ + "/setup.txt";
  DataStream* stream = data_open(path.c_str(), "wb");
  ASSERT_NE(stream, nullptr);
  EXPECT_TRUE(write_bike_setup_block(stream));
  data_close(stream);
  std::string block = slurp(path);
  std::string expected;
  append_bike_setup_block(&expected);
  EXPECT_EQ(block, expected);
  EXPECT_EQ(block.substr(0, 39), "bike=450sxf(2016)\nname=Joe Motocross\nnu");
  EXPECT_TRUE(parse_bike_setup_line("roll_damping", "12"));
  EXPECT_FALSE(parse_bike_setup_line("fov", "12"));
}

}  // namespace
