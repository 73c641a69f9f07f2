// Configuration reader and writer: the file format, the reading rules and
// the records they fill.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/message.h"

namespace {

const std::vector<std::string> k_test_bikes = {"450sxf(2016)", "crf450(2016)", "crf250(2008)",
                                               "yz250f(2008)", "rs50yz"};

class ConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    set_choice_values(ChoiceListId::bike_models, k_test_bikes);
    set_choice_values(ChoiceListId::rider_textures, {"gear_red", "gear_blue"});
    set_choice_values(ChoiceListId::head_textures, {"helmet_white", "helmet_black"});
    set_choice_values(ChoiceListId::bike_textures, {"stock", "team"});
    set_choice_values(ChoiceListId::wheel_textures, {"black", "gold"});
    set_choice_values(ChoiceListId::video_modes,
                      {"Default Fullscreen", "Windowed", "1920x1080", "1280x720"});
    g_bike_graphics_provider = nullptr;
    reset_config();
  }

  void TearDown() override {
    g_bike_graphics_provider = nullptr;
    reset_config();
  }
};

void read_text(const std::string& text) {
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) read_config_line((line + "\n").c_str());
}

std::vector<std::string> keys_of(const std::string& text) {
  std::vector<std::string> keys;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) keys.push_back(line.substr(0, line.find('=')));
  return keys;
}

bool has_line(const std::string& text, const std::string& line) {
  return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}

// Moves every record away from its default, so that a reader or writer that
// drops or mangles any setting shows up in the round trip.
void edit_every_setting() {
  for (std::span<const SettingRow> table : {config_rows(), bike_setup_rows()}) {
    for (const SettingRow& row : table) {
      for (int i = 0; i < row.count; i++) {
        switch (row.kind) {
          case SettingKind::integer: row.integer[i] = 7 + i; break;
          case SettingKind::real: row.real[i] = 2.5f; break;
          case SettingKind::number:
            row.number[i] = row.default_value == row.maximum ? row.minimum : row.maximum;
            break;
          case SettingKind::choice:
            row.choice[i] = static_cast<int>(row.choices->names.size()) - 1 - (i % 2);
            break;
          case SettingKind::text:
            snprintf(row.text + i * (row.max_length + 1), static_cast<size_t>(row.max_length) + 1,
                     "v%d", i);
            break;
          case SettingKind::binding:
            if ((row.binding - g_config.bindings) % 2 == 0) {
              row.binding[i] = Binding{};
              row.binding[i].axis_name = "joystick-a-y";
              row.binding[i].low = -0.5;
              row.binding[i].high = 0.75;
            } else {
              row.binding[i].key_name = "keypad enter";
            }
            break;
          default: break;
        }
      }
    }
  }
}

TEST_F(ConfigTest, DefaultFileHasTheListedOrderAndFormats) {
  std::string text = config_text();
  std::vector<std::string> expected = {"xres", "yres", "draw_fps", "draw_time", "draw_ping",
                                       "spy", "track", "record", "skill", "minutes", "laps"};
  for (int i = 0; i < 40; i++) expected.push_back((i < 10 ? "slot0" : "slot") + std::to_string(i));
  for (const char* key :
       {"ghost_fade_distance", "time_trial_abort", "bike", "name", "number", "rider_texture",
        "head_texture", "bike_texture", "wheel_texture", "stability", "leveling", "roll_damping",
        "roll_limit_angle", "roll_limit_factor", "steering_damping", "steering_strength",
        "max_steering_force", "direct_steering", "slow_damping_speed", "slow_damping_factor",
        "land_damping_falloff", "land_damping_factor", "full_lock_speed",
        "restricted_lock_speed", "restricted_lock", "arcade", "front_brake", "rear_brake",
        "stop_wheelies", "auto_shift", "auto_dab", "auto_align", "sticky_dab",
        "reverse_steering", "lean_indicator", "auto_clutch_rpms", "brake_torque",
        "rear_brake_torque", "max_dab_speed", "front_sprocket_adjustment",
        "rear_sprocket_adjustment", "fork_compression_adjustment",
        "fork_slow_compression_adjustment", "fork_rebound_adjustment",
        "fork_slow_rebound_adjustment", "fork_spring_rate_adjustment", "fork_preload_adjustment",
        "fork_oil_level_adjustment", "shock_compression_adjustment",
        "shock_slow_compression_adjustment", "shock_rebound_adjustment",
        "shock_slow_rebound_adjustment", "shock_spring_rate_adjustment",
        "shock_preload_adjustment", "rider_yspring", "rider_ydamping", "rider_zspring",
        "rider_zdamping", "rider_mass_distribution", "video_mode", "server_name"}) {
    expected.push_back(key);
  }
  for (int i = 0; i < 16; i++) {
    expected.push_back((i < 10 ? "server_name_hist0" : "server_name_hist") + std::to_string(i));
  }
  for (const char* key :
       {"ground_detail", "ground_texture_detail", "ground_texture_dim", "ground_mipmaps",
        "texture_compress", "render_texture", "use_shader", "roost_density", "lens_flare",
        "reflections", "hide_rider", "rigid_camera", "model_detail", "model_texture_detail",
        "fov", "first_person_height", "first_person_angle", "third_person_height",
        "third_person_distance", "volume", "comp_volume", "playback_mode",
        "billboard_optimize_lookahead", "message_lines", "demo_backups", "map_scale",
        "throttle_key", "front_brake_key", "rear_brake_key", "left_key", "right_key",
        "clutch_key", "upshift_key", "downshift_key", "dab_key", "back_up_key",
        "lean_forward_key", "lean_backward_key", "pause_key", "step_key", "rewind_key",
        "skip_key", "prev_key", "next_key", "console_key", "screenshot_key"}) {
    expected.push_back(key);
  }
  EXPECT_EQ(keys_of(text), expected);

  const std::string start = "xres=640\nyres=480\ndraw_fps=0\ndraw_time=0\ndraw_ping=1\nspy=0\n";
  EXPECT_EQ(text.substr(0, start.size()), start);
  for (const char* line :
       {"track=rabbithill", "record=No", "skill=Novice", "minutes=0.000000", "laps=5.000000",
        "slot00=Empty", "slot39=Empty", "time_trial_abort=Yes", "bike=450sxf(2016)",
        "name=Joe Motocross", "number=999", "rider_texture=gear_red", "stability=100.000000",
        "restricted_lock=5.000000", "front_brake=Antilock", "stop_wheelies=No",
        "rider_mass_distribution=0.330000", "video_mode=Default Fullscreen",
        "server_name_hist00=", "ground_texture_dim=128x128", "render_texture=Hardware/Direct",
        "fov=110.000000", "first_person_height=0.000000", "playback_mode=Playback Only",
        "billboard_optimize_lookahead=8", "message_lines=5", "demo_backups=0",
        "map_scale=1.000000", "throttle_key=(k)x", "dab_key=(k)right ctrl",
        "rewind_key=(k)\\", "screenshot_key=(k)s"}) {
    EXPECT_TRUE(has_line(text, line)) << line;
  }
  // Read-only keys never reach the file.
  EXPECT_EQ(text.find("use_fbo"), std::string::npos);
  EXPECT_EQ(text.find("ground_texture_distance"), std::string::npos);
}

TEST_F(ConfigTest, ReadWriteReadGivesIdenticalFiles) {
  edit_every_setting();
  std::string first = config_text();
  reset_config();
  ASSERT_NE(config_text(), first);
  read_text(first);
  std::string second = config_text();
  EXPECT_EQ(second, first);
  reset_config();
  read_text(second);
  EXPECT_EQ(config_text(), first);
  EXPECT_TRUE(has_line(first, "throttle_key=(-0.500000,0.750000)joystick-a-y"));
  EXPECT_TRUE(has_line(first, "front_brake_key=(k)keypad enter"));
}

TEST_F(ConfigTest, EveryKeyIsUniqueAcrossBothTables) {
  // The reader looks keys up in one table after the other; with unique keys
  // the order in which it compares them cannot change what a line sets.
  std::vector<std::string> keys;
  for (std::span<const SettingRow> table : {config_rows(), bike_setup_rows()}) {
    for (const SettingRow& row : table) {
      for (int i = 0; row.key && i < row.count; i++) keys.push_back(setting_key(row, i));
    }
  }
  std::sort(keys.begin(), keys.end());
  EXPECT_EQ(std::adjacent_find(keys.begin(), keys.end()), keys.end());
}

TEST_F(ConfigTest, NumbersAreClampedAndBadValuesIgnored) {
  read_text("fov=200\nmap_scale=0.01\nlaps=-3\nvolume=abc\nminutes=nan\nthird_person_height=inf\n");
  EXPECT_EQ(g_config.fov, 170.0);
  EXPECT_EQ(g_config.map_scale, 0.125f);
  EXPECT_EQ(g_config.laps, 0.0);
  EXPECT_EQ(g_config.volume, 10.0);
  EXPECT_EQ(g_config.minutes, 0.0);
  EXPECT_EQ(g_config.third_person_height, 5.0);

  read_text("map_scale=100\nfov=  42.5x\n");
  EXPECT_EQ(g_config.map_scale, 8.0f);
  EXPECT_EQ(g_config.fov, 42.5);
}

TEST_F(ConfigTest, IntegersFollowPercentD) {
  read_text("xres=1024px\nyres=\ndraw_fps=-2\nspy=99999999999999\nmessage_lines=12\n");
  EXPECT_EQ(g_config.xres, 1024);
  EXPECT_EQ(g_config.yres, 480);
  EXPECT_EQ(g_config.draw_fps, -2);
  EXPECT_EQ(g_config.spy, 2147483647);
  EXPECT_EQ(g_message_line_limit, 12);
}

TEST_F(ConfigTest, ChoicesMatchNamesExactly) {
  read_text("skill=expert\n");
  EXPECT_EQ(g_config.skill, SKILL_NOVICE);
  read_text("skill=Expert\nslot03=Robot (4 stroke)\nslot40=Human\nslot3=Human\n");
  EXPECT_EQ(g_config.skill, SKILL_EXPERT);
  EXPECT_EQ(g_config.slot[3], SLOT_ROBOT_4_STROKE);
  for (int i = 0; i < CONFIG_LINEUP_SLOTS; i++) {
    if (i != 3) {
      EXPECT_EQ(g_config.slot[i], SLOT_EMPTY) << i;
    }
  }
  read_text("video_mode=1280x720\n");
  EXPECT_EQ(g_config.video_mode, 3);
}

TEST_F(ConfigTest, UseFboPicksTheTerrainMethodUntilRenderTextureFollows) {
  read_text("use_fbo=No\n");
  EXPECT_EQ(g_config.render_texture, RENDER_HARDWARE_COPY);
  read_text("use_fbo=Yes\n");
  EXPECT_EQ(g_config.render_texture, RENDER_HARDWARE_DIRECT);
  read_text("use_fbo=No\nrender_texture=Shaders/Direct\n");
  EXPECT_EQ(g_config.render_texture, RENDER_SHADERS_DIRECT);
}

TEST_F(ConfigTest, BindingsParseKeysAndAxes) {
  read_text("left_key=(0,1)joystick-a-x\nright_key=(k)left\nclutch_key=left\n"
            "throttle_key=   (k)x\nfront_brake_key=(-1.5,2)\n");
  const Binding& axis = g_config.bindings[BINDING_LEFT];
  EXPECT_EQ(axis.axis_name, "joystick-a-x");
  EXPECT_EQ(axis.key_name, "");
  EXPECT_EQ(axis.low, 0.0);
  EXPECT_EQ(axis.high, 1.0);
  EXPECT_EQ(g_config.bindings[BINDING_RIGHT].key_name, "left");
  EXPECT_EQ(g_config.bindings[BINDING_RIGHT].axis_name, "");
  EXPECT_EQ(g_config.bindings[BINDING_CLUTCH].key_name, "left");
  EXPECT_EQ(g_config.bindings[BINDING_THROTTLE].key_name, "x");
  // An axis range without an axis name binds nothing; the file drops it.
  EXPECT_TRUE(binding_is_empty(g_config.bindings[BINDING_FRONT_BRAKE]));
  EXPECT_EQ(config_text().find("front_brake_key"), std::string::npos);

  Binding binding;
  parse_binding(&binding, "(x,1)mouse-x");  // not a range: the whole text is a key name
  EXPECT_EQ(binding.key_name, "(x,1)mouse-x");
  parse_binding(&binding, "(0.25,0.75)mouse-x (k)y");
  EXPECT_EQ(binding.axis_name, "mouse-x (k)y");
  EXPECT_EQ(binding.low, 0.25);
  EXPECT_EQ(binding.high, 0.75);
  parse_binding(&binding, "(nan,1)mouse-x");
  EXPECT_EQ(binding.axis_name, "");
}

TEST_F(ConfigTest, StabilityPresetsTheAids) {
  read_text("stability=50\n");
  EXPECT_DOUBLE_EQ(g_bike_setup.roll_damping, 65.0);
  EXPECT_DOUBLE_EQ(g_bike_setup.restricted_lock, 7.5);
  EXPECT_DOUBLE_EQ(g_bike_setup.roll_limit_angle, 42.5);
  EXPECT_DOUBLE_EQ(g_bike_setup.slow_damping_factor, 1.75);

  // Aid lines after "stability" (as the file has them) keep their values.
  read_text("stability=0\nroll_damping=12\n");
  EXPECT_EQ(g_bike_setup.roll_damping, 12.0);
  EXPECT_EQ(g_bike_setup.roll_limit_angle, 90.0);
  EXPECT_EQ(g_bike_setup.direct_steering, 1.0);
  EXPECT_EQ(g_bike_setup.restricted_lock, 45.0);
}

TEST_F(ConfigTest, ApplyStabilityInterpolatesBetweenLevels) {
  apply_stability(0);
  EXPECT_EQ(g_bike_setup.land_damping_falloff, 0.0);
  EXPECT_EQ(g_bike_setup.roll_limit_factor, 0.0);
  apply_stability(30);  // halfway between the 20 and 40 columns
  EXPECT_DOUBLE_EQ(g_bike_setup.roll_damping, 55.0);
  EXPECT_DOUBLE_EQ(g_bike_setup.roll_limit_factor, 7.5);
  EXPECT_DOUBLE_EQ(g_bike_setup.land_damping_falloff, 0.1875);
  EXPECT_DOUBLE_EQ(g_bike_setup.restricted_lock, 12.5);
  apply_stability(90);  // the last level interpolates towards stability 100
  EXPECT_DOUBLE_EQ(g_bike_setup.roll_damping, 77.5);
  EXPECT_DOUBLE_EQ(g_bike_setup.direct_steering, 0.5);
  apply_stability(250);  // beyond the range: the stability 100 preset
  EXPECT_EQ(g_bike_setup.direct_steering, 0.0);
  EXPECT_EQ(g_bike_setup.roll_damping, 80.0);
  apply_stability(-40);
  EXPECT_EQ(g_bike_setup.roll_damping, 40.0);
}

TEST_F(ConfigTest, StabilityHundredIsTheBikeSetupDefault) {
  // Start-up applies the default stability; it must not move any aid away
  // from the defaults the setup table lists.
  std::string defaults = config_text();
  apply_stability(37);
  ASSERT_NE(config_text(), defaults);
  apply_stability(100);
  EXPECT_EQ(config_text(), defaults);
}

TEST_F(ConfigTest, BikeAliasesAndGraphicsReset) {
  static std::vector<std::string> asked;
  asked.clear();
  g_bike_graphics_provider = [](const char* bike) { asked.push_back(bike); };
  read_text("bike_texture=team\n");
  EXPECT_EQ(g_bike_setup.bike_texture, 1);
  read_text("bike=yz250f\n");
  EXPECT_EQ(g_bike_setup.bike, 3);
  EXPECT_EQ(g_bike_setup.bike_texture, 0);
  read_text("bike=kx250f(2008)\n");  // not installed: ignored, nothing rebuilt
  EXPECT_EQ(g_bike_setup.bike, 3);
  read_text("bike=crf250\nbike_texture=team\n");
  EXPECT_EQ(g_bike_setup.bike, 2);
  EXPECT_EQ(g_bike_setup.bike_texture, 1);
  EXPECT_EQ(asked, (std::vector<std::string>{"yz250f(2008)", "crf250(2008)"}));
  EXPECT_STREQ(canonical_bike_name("rmz250"), "rmz250(2008)");
  EXPECT_STREQ(canonical_bike_name("rmz250(2008)"), "rmz250(2008)");
}

TEST_F(ConfigTest, NamesReadBeforeTheirListExistsSurviveTheRoundTrip) {
  // Without the data that lists bikes and texture sets, a run must write the
  // player's choices back as it found them.
  set_choice_values(ChoiceListId::bike_models, {});
  set_choice_values(ChoiceListId::bike_textures, {});
  reset_config();
  read_text("bike=crf450(2016)\nbike_texture=team\nskill=Amateur\n");
  std::string text = config_text();
  EXPECT_TRUE(has_line(text, "bike=crf450(2016)"));
  EXPECT_TRUE(has_line(text, "bike_texture=team"));
  set_choice_values(ChoiceListId::bike_models, k_test_bikes);
  set_choice_values(ChoiceListId::bike_textures, {"stock", "team"});
  EXPECT_EQ(g_bike_setup.bike, 1);
  EXPECT_EQ(g_bike_setup.bike_texture, 1);
}

TEST_F(ConfigTest, ServerHistoryTakesAtMost126Characters) {
  std::string name126(126, 'h'), name127(127, 'h');
  read_text("server_name_hist00=" + name126 + "\nserver_name_hist01=" + name127 +
            "\nserver_name=" + name127 + "x\n");
  EXPECT_EQ(std::string(g_config.server_name_history[0]), name126);
  EXPECT_EQ(std::string(g_config.server_name_history[1]), "");
  EXPECT_EQ(std::string(g_config.server_name), name127);  // cut at 127
}

TEST_F(ConfigTest, TextsAreCutToTheirLength) {
  read_text("name=" + std::string(80, 'n') + "\nnumber=12345\ntrack=hills\r\n");
  EXPECT_EQ(std::string(g_bike_setup.name), std::string(63, 'n'));
  EXPECT_STREQ(g_bike_setup.number, "123");
  EXPECT_STREQ(g_config.track, "hills");
  // A cut that ends in CRs would lose them on the next read; they go now.
  read_text("number=1\r\r\rx\nskip_key=" + std::string(62, 'k') + "\r\ry\n");
  EXPECT_STREQ(g_bike_setup.number, "1");
  EXPECT_EQ(g_config.bindings[BINDING_SKIP].key_name, std::string(62, 'k'));
}

TEST_F(ConfigTest, LinesWithoutEqualsAndUnknownKeysAreSkipped) {
  std::string before = config_text();
  read_text("volume\nVolume=3\nfov =20\n=5\nno_such_key=1\n\n# fov=20\n");
  EXPECT_EQ(config_text(), before);
  // Only trailing CR and LF are removed from a value.
  read_text("name= Ann \r\r\n");
  EXPECT_STREQ(g_bike_setup.name, " Ann ");
}

TEST_F(ConfigTest, RememberServerKeepsSixteenNewestFirst) {
  remember_server("alpha");
  remember_server("alpha");
  EXPECT_STREQ(g_config.server_name, "alpha");
  EXPECT_STREQ(g_config.server_name_history[0], "alpha");
  EXPECT_STREQ(g_config.server_name_history[1], "");
  for (int i = 0; i < 16; i++) remember_server(("host" + std::to_string(i)).c_str());
  EXPECT_STREQ(g_config.server_name_history[0], "host15");
  EXPECT_STREQ(g_config.server_name_history[15], "host0");  // "alpha" fell off
  remember_server("");
  EXPECT_STREQ(g_config.server_name, "host15");
  // A name ends at a control character: nothing can add lines to the file.
  remember_server("evil\nxres=1");
  EXPECT_STREQ(g_config.server_name, "evil");
  EXPECT_TRUE(has_line(config_text(), "xres=640"));
}

TEST_F(ConfigTest, ValuesNeverSplitIntoExtraLines) {
  snprintf(g_bike_setup.name, sizeof g_bike_setup.name, "Ann\nfov=20");
  g_config.bindings[BINDING_STEP].key_name = "a\nspy=1";
  std::string text = config_text();
  EXPECT_TRUE(has_line(text, "name=Ann"));
  EXPECT_TRUE(has_line(text, "step_key=(k)a"));
  reset_config();
  read_text(text);
  EXPECT_EQ(g_config.fov, 110.0);
  EXPECT_EQ(g_config.spy, 0);
}

TEST_F(ConfigTest, SettingChangedRunsTheSideEffects) {
  static int calls = 0;
  calls = 0;
  g_bike_graphics_provider = [](const char*) { calls++; };
  g_bike_setup.bike_texture = 1;
  g_bike_setup.bike = 4;
  setting_changed(*find_setting("bike", nullptr));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(g_bike_setup.bike_texture, 0);

  g_bike_setup.stability = 50;
  setting_changed(*find_setting("stability", nullptr));
  EXPECT_DOUBLE_EQ(g_bike_setup.roll_damping, 65.0);
}

}  // namespace
