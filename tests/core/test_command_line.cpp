// Option matching, the option table's clamps and messages, and what the
// options change once the configuration is read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/command_line.h"
#include "core/config.h"

namespace {

struct Parsed {
  CommandLineResult result;
  RunOptions options;
  std::string diagnostics;
};

Parsed parse(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "dirtvane");
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  Parsed parsed;
  parsed.result = parse_command_line(static_cast<int>(arguments.size()), argv.data(),
                                     &parsed.options, &parsed.diagnostics);
  return parsed;
}

class CommandLineTest : public ::testing::Test {
 protected:
  void SetUp() override { reset_config(); }
  void TearDown() override { reset_config(); }
};

TEST(ArgumentCursor, DoubleDashEndsOptionsOnlyForValueMatchers) {
  char a0[] = "--", a1[] = "--debug";
  char* argv[] = {a0, a1};
  ArgumentCursor cursor{2, argv, false};
  const char* value;
  EXPECT_FALSE(match_flag(&cursor, "--debug"));
  EXPECT_EQ(cursor.remaining, 2);
  EXPECT_FALSE(match_value(&cursor, "--width", &value));
  EXPECT_TRUE(cursor.options_ended);
  EXPECT_EQ(cursor.remaining, 1);
  EXPECT_FALSE(match_flag(&cursor, "--debug"));
}

TEST_F(CommandLineTest, TextureDetailIsClampedBothWays) {
  for (auto arguments : {std::vector<std::string>{"--texture-detail", "7"},
                         std::vector<std::string>{"--texture-detail=7"}}) {
    Parsed p = parse(arguments);
    ASSERT_EQ(p.result, CommandLineResult::run);
    EXPECT_EQ(p.options.given.texture_level, 4);
    EXPECT_EQ(p.options.given.ground_texture_level, 4);
  }
  Parsed p = parse({"--texture-detail", "-3"});
  ASSERT_EQ(p.result, CommandLineResult::run);
  apply_command_line(&p.options, &g_config);
  EXPECT_EQ(p.options.render.texture_level, 0);
  EXPECT_EQ(p.options.render.ground_texture_level, 0);

  p = parse({"--texture-detail=2", "--ground-texture-detail", "9"});
  apply_command_line(&p.options, &g_config);
  EXPECT_EQ(p.options.render.texture_level, 2);
  EXPECT_EQ(p.options.render.ground_texture_level, 4);
}

TEST_F(CommandLineTest, NetworkSimulationIsClamped) {
  Parsed p = parse({"--fake-lag", "2500", "--fake-loss", "150"});
  ASSERT_EQ(p.result, CommandLineResult::run);
  EXPECT_EQ(p.options.fake_lag, 1.0);
  EXPECT_EQ(p.options.fake_loss, 100);
  p = parse({"--fake-lag=250", "--fake-loss=-4"});
  EXPECT_DOUBLE_EQ(p.options.fake_lag, 0.25);
  EXPECT_EQ(p.options.fake_loss, 0);
  p = parse({"--fake-lag", "-1"});
  EXPECT_EQ(p.options.fake_lag, 0.0);
}

TEST_F(CommandLineTest, OtherClamps) {
  Parsed p = parse({"--roostfrequency", "5000", "--erode=500", "--lod-scale", "0",
                    "--max-detail-distance", "40", "--detail", "-2.5"});
  ASSERT_EQ(p.result, CommandLineResult::run);
  EXPECT_EQ(p.options.given.roost_frequency, 1000);
  EXPECT_EQ(p.options.erosion, 100.0);
  EXPECT_EQ(p.options.given.lod_scale, 1e-6);
  EXPECT_EQ(p.options.max_detail_distance, 40.0);
  EXPECT_EQ(p.options.detail_fade_end, 45.0);
  EXPECT_EQ(p.options.given.detail_factor, -2.5);  // unclamped
  p = parse({"--lod-scale=1e9", "--roostfrequency=-1", "--erode", "-1"});
  EXPECT_EQ(p.options.given.lod_scale, 1e6);
  EXPECT_EQ(p.options.given.roost_frequency, 0);
  EXPECT_EQ(p.options.erosion, 0.0);
}

TEST_F(CommandLineTest, BadValuesGiveTheOptionsMessage) {
  struct Case {
    std::vector<std::string> arguments;
    const char* message;
  };
  const Case cases[] = {
      {{"--texture-detail"}, "Bad arg for --texture-detail\n"},
      {{"--texture-detail="}, "Bad arg for --texture-detail\n"},
      {{"--ground-texture-detail", "lots"}, "Bad arg for --ground-texture-detail\n"},
      {{"--roostfrequency"}, "Bad arg for --roostfrequency\n"},
      {{"--erode", "nan"}, "Bad arg for --erode\n"},
      {{"--detail", "inf"}, "Bad arg for --detail\n"},
      {{"--max-detail-distance", "far"}, "Bad arg for --max-detail-distance\n"},
      {{"--lod-scale"}, "Bad arg for --lod-scale\n"},
      {{"--lod-bias=x"}, "Bad arg for --lod-bias\n"},
      {{"--lock-fps", "-"}, "Bad arg for --lock-fps\n"},
      {{"--fake-lag"}, "Bad arg for --fake-lag\n"},
      {{"--fake-loss", "some"}, "Bad arg for --fake-loss\n"},
      {{"--chase-center", "1,2"}, "Bad arg for --chase-center\n"},
      {{"--chase-center"}, "Bad arg for --chase-center\n"},
      {{"--debug", "--erode", "x", "--bad"}, "Bad arg for --erode\n"},
  };
  for (const Case& c : cases) {
    Parsed p = parse(c.arguments);
    EXPECT_EQ(p.result, CommandLineResult::error) << c.arguments[0];
    EXPECT_EQ(p.diagnostics, c.message) << c.arguments[0];
  }
}

TEST_F(CommandLineTest, OptionsWithoutMessageTreatALastMissingValueAsZero) {
  Parsed p = parse({"--depth", "24", "--width"});
  ASSERT_EQ(p.result, CommandLineResult::run);
  EXPECT_EQ(p.options.depth, 24);
  EXPECT_EQ(p.options.given.width, 0);
  p = parse({"--rotate-lineup", "three", "--bikes", "8", "--zdepth", "24bits", "--track"});
  ASSERT_EQ(p.result, CommandLineResult::run);
  EXPECT_EQ(p.options.rotate_lineup, 0);
  EXPECT_EQ(p.options.zdepth, 24);
  EXPECT_EQ(p.options.track, "");
  EXPECT_EQ(p.diagnostics, "--bikes doesn't do anything anymore\n");
}

TEST_F(CommandLineTest, FileArgumentsAndBadOptions) {
  Parsed p = parse({"--", "-x"});
  ASSERT_EQ(p.result, CommandLineResult::run);
  EXPECT_EQ(p.options.file, "-x");

  p = parse({"--", "-x", "other.dvdemo"});
  EXPECT_EQ(p.result, CommandLineResult::error);
  EXPECT_EQ(p.diagnostics, "Too many files!\n");

  p = parse({"a.dvdemo", "--debug", "b.dvdemo"});
  EXPECT_EQ(p.result, CommandLineResult::error);
  EXPECT_EQ(p.diagnostics, "Too many files!\n");

  p = parse({"--bad-option"});
  EXPECT_EQ(p.result, CommandLineResult::error);
  EXPECT_EQ(p.diagnostics, "bad option '--bad-option'\n");

  p = parse({"-"});
  EXPECT_EQ(p.diagnostics, "bad option '-'\n");

  // After "--" even an option's name is a file.
  p = parse({"race.dvdemo", "--", "--debug"});
  EXPECT_EQ(p.diagnostics, "Too many files!\n");
  p = parse({"--", "--debug"});
  EXPECT_EQ(p.options.file, "--debug");
  EXPECT_EQ(p.options.debug_level, 0);

  p = parse({"--debug", "--"});
  ASSERT_EQ(p.result, CommandLineResult::run);
  EXPECT_EQ(p.options.file, "");
}

TEST_F(CommandLineTest, OpenHomeStopsParsing) {
  Parsed p = parse({"--debug", "--open-home", "--bad-option"});
  EXPECT_EQ(p.result, CommandLineResult::open_home);
  p = parse({"--bad-option", "--open-home"});
  EXPECT_EQ(p.result, CommandLineResult::error);
}

TEST_F(CommandLineTest, ConnectStripsThePrefixAndKeepsHistory) {
  Parsed p = parse({"--connect", "dirtvane:race.example.org"});
  ASSERT_EQ(p.result, CommandLineResult::run);
  EXPECT_EQ(p.options.connect, "race.example.org");
  apply_command_line(&p.options, &g_config);
  EXPECT_STREQ(g_config.server_name, "race.example.org");
  EXPECT_STREQ(g_config.server_name_history[0], "race.example.org");

  // The same host again adds nothing; another host goes in front.
  p = parse({"--connect=race.example.org"});
  apply_command_line(&p.options, &g_config);
  EXPECT_STREQ(g_config.server_name_history[1], "");
  p = parse({"--connect", "dirtvane:other.example.org"});
  apply_command_line(&p.options, &g_config);
  EXPECT_STREQ(g_config.server_name_history[0], "other.example.org");
  EXPECT_STREQ(g_config.server_name_history[1], "race.example.org");

  // Nothing after the prefix changes nothing.
  p = parse({"--connect", "dirtvane:"});
  apply_command_line(&p.options, &g_config);
  EXPECT_EQ(p.options.connect, "");
  EXPECT_STREQ(g_config.server_name, "other.example.org");
}

TEST_F(CommandLineTest, ApplyReplacesConfiguredValues) {
  g_config.xres = 1024;
  g_config.yres = 768;
  Parsed p = parse({"--height", "600", "--draw-fps", "1", "--lod-bias", "3"});
  apply_command_line(&p.options, &g_config);
  EXPECT_EQ(p.options.width, 1024);
  EXPECT_EQ(p.options.height, 600);
  EXPECT_EQ(g_config.yres, 600);
  EXPECT_EQ(g_config.draw_fps, 1);
  EXPECT_EQ(p.options.render.lod_bias, 3.0);
  EXPECT_EQ(p.options.render.lod_scale, 1.0);  // derived from model_detail 50

  // A window size that cannot work falls back to the default window.
  p = parse({"--width", "0"});
  apply_command_line(&p.options, &g_config);
  EXPECT_EQ(p.options.width, 640);
  EXPECT_EQ(p.options.height, 480);
}

TEST_F(CommandLineTest, NoMmxClearsADetectedUnit) {
  Parsed p = parse({"--nommx"});
  p.options.has_mmx = true;
  apply_command_line(&p.options, &g_config);
  EXPECT_FALSE(p.options.has_mmx);
  p = parse({});
  p.options.has_mmx = true;
  apply_command_line(&p.options, &g_config);
  EXPECT_TRUE(p.options.has_mmx);
}

TEST_F(CommandLineTest, RenderParametersFromTheConfiguration) {
  RenderParameters r = derive_render_parameters(g_config);
  EXPECT_DOUBLE_EQ(r.detail_factor, 0.0025);
  EXPECT_EQ(r.ground_texture_level, 1);
  EXPECT_EQ(r.ground_texture_size, 128);
  EXPECT_EQ(r.lod_scale, 1.0);
  EXPECT_EQ(r.lod_bias, 0.0);
  EXPECT_EQ(r.texture_level, 1);
  EXPECT_EQ(r.roost_frequency, 250);
  EXPECT_TRUE(r.mipmaps);

  g_config.model_detail = 0;
  g_config.ground_texture_dim = 5;
  g_config.ground_texture_detail = 0.5;
  g_config.model_texture_detail = 12;
  g_config.roost_density = 99.9;
  g_config.ground_mipmaps = CHOICE_NO;
  r = derive_render_parameters(g_config);
  EXPECT_DOUBLE_EQ(r.lod_scale, 8.0);  // 2, cubed once above 1
  EXPECT_EQ(r.lod_bias, 50.0);
  EXPECT_EQ(r.ground_texture_size, 1024);
  EXPECT_EQ(r.ground_texture_level, 9);  // trunc(9.5)
  EXPECT_EQ(r.texture_level, 0);
  EXPECT_EQ(r.roost_frequency, 99);
  EXPECT_FALSE(r.mipmaps);

  g_config.model_detail = 80;
  r = derive_render_parameters(g_config);
  EXPECT_DOUBLE_EQ(r.lod_scale, 0.4);
  EXPECT_EQ(r.lod_bias, 0.0);
  g_config.model_detail = 20;
  r = derive_render_parameters(g_config);
  EXPECT_DOUBLE_EQ(r.lod_scale, 1.6 * 1.6 * 1.6);
  EXPECT_DOUBLE_EQ(r.lod_bias, 25.0);
}

}  // namespace
