// The settings tables: every setting described once, in the order the file
// is written. The reader, the writer, reset_config() and the menus all walk
// these rows.
#include <cstring>

#include "core/config.h"
#include "core/message.h"

#ifndef DV_DEFAULT_SERVER
#define DV_DEFAULT_SERVER "localhost"
#endif

Config g_config;
PlayerSetup g_bike_setup;

namespace {

// --- value lists ------------------------------------------------------------------

ChoiceList g_no_yes{{"No", "Yes"}};
ChoiceList g_skills{{"Novice", "Amateur", "Expert"}};
ChoiceList g_slot_kinds{{"Empty", "Human", "Robot", "Robot (2 stroke)", "Robot (4 stroke)"}};
ChoiceList g_texture_dims{{"32x32", "64x64", "128x128", "256x256", "512x512", "1024x1024"}};
ChoiceList g_compress_modes{{"No", "Yes", "Always"}};
ChoiceList g_render_methods{
    {"Software", "Hardware/Copy", "Hardware/Direct", "Shaders/Copy", "Shaders/Direct"}};
ChoiceList g_playback_modes{{"Playback Only", "Race Against"}};
ChoiceList g_brake_modes{{"Normal", "Antilock"}};
ChoiceList g_wheelie_modes{{"No", "Yes", "Front Only"}};

// Filled at start-up from the bike model table, the texture sets in the data
// and the platform's display modes.
ChoiceList g_bike_models;
ChoiceList g_rider_textures;
ChoiceList g_head_textures;
ChoiceList g_bike_textures;
ChoiceList g_wheel_textures;
ChoiceList g_video_modes{{"Default Fullscreen", "Windowed"}};

// --- row builders -----------------------------------------------------------------

SettingRow integer_row(const char* key, int* target, int default_value, const char* help) {
  return SettingRow{.key = key,
                    .kind = SettingKind::integer,
                    .count = 1,
                    .help = help,
                    .default_value = static_cast<double>(default_value),
                    .integer = target};
}

SettingRow real_row(const char* key, float* target, double default_value, double minimum,
                    double maximum, const char* help) {
  return SettingRow{.key = key,
                    .kind = SettingKind::real,
                    .count = 1,
                    .help = help,
                    .default_value = default_value,
                    .minimum = minimum,
                    .maximum = maximum,
                    .real = target};
}

SettingRow number_row(const char* key, double* target, const char* label, double default_value,
                      double minimum, double maximum, double step, const char* help) {
  return SettingRow{.key = key,
                    .kind = SettingKind::number,
                    .count = 1,
                    .label = label,
                    .help = help,
                    .default_value = default_value,
                    .minimum = minimum,
                    .maximum = maximum,
                    .step = step,
                    .number = target};
}

SettingRow choice_row(const char* key, int* target, const char* label, ChoiceList* choices,
                      int default_index, const char* help) {
  return SettingRow{.key = key,
                    .kind = SettingKind::choice,
                    .count = 1,
                    .label = label,
                    .help = help,
                    .default_value = static_cast<double>(default_index),
                    .choices = choices,
                    .choice = target};
}

SettingRow text_row(const char* key, char* target, const char* label, int max_length,
                    const char* default_text, const char* help) {
  return SettingRow{.key = key,
                    .kind = SettingKind::text,
                    .count = 1,
                    .label = label,
                    .help = help,
                    .max_length = max_length,
                    .default_text = default_text,
                    .text = target};
}

SettingRow binding_row(const char* key, BindingIndex index, const char* label,
                       const char* default_key, const char* help) {
  return SettingRow{.key = key,
                    .kind = SettingKind::binding,
                    .count = 1,
                    .label = label,
                    .help = help,
                    .default_text = default_key,
                    .binding = &g_config.bindings[index]};
}

SettingRow ignored_row(const char* key) {
  return SettingRow{.key = key, .kind = SettingKind::ignored, .count = 1,
                    .flags = SETTING_NOT_WRITTEN};
}

SettingRow repeated(SettingRow row, int count) {
  row.count = count;
  return row;
}

SettingRow with_flags(SettingRow row, unsigned flags) {
  row.flags |= flags;
  return row;
}

Config& c = g_config;
PlayerSetup& b = g_bike_setup;

// --- the configuration file -------------------------------------------------------

const SettingRow g_config_table[] = {
    integer_row("xres", &c.xres, 640, "Window width in windowed mode"),
    integer_row("yres", &c.yres, 480, "Window height in windowed mode"),
    integer_row("draw_fps", &c.draw_fps, 0, "HUD frame rate display"),
    integer_row("draw_time", &c.draw_time, 0, "HUD clock display"),
    integer_row("draw_ping", &c.draw_ping, 1, "HUD network round-trip display"),
    integer_row("spy", &c.spy, 0, "Non-zero lets a riding player view the other bikes"),
    text_row("track", c.track, "Track", TRACK_NAME_MAX, "rabbithill",
             "Directory name of the selected track"),
    choice_row("record", &c.record, "Record Demo", &g_no_yes, 0,
               "Save every race as a demo file"),
    choice_row("skill", &c.skill, "Robot Skill", &g_skills, SKILL_NOVICE,
               "How fast the robot riders go"),
    number_row("minutes", &c.minutes, "Minutes", 0, 0, 60, 1,
               "Race length in minutes (0: laps only)"),
    number_row("laps", &c.laps, "Laps", 5, 0, 50, 1, "Race length in laps"),
    repeated(choice_row("slot%02d", c.slot, "Gate %d", &g_slot_kinds, SLOT_EMPTY,
                        "Who starts from this gate in a local race"),
             CONFIG_LINEUP_SLOTS),
    number_row("ghost_fade_distance", &c.ghost_fade_distance, "Ghost Fade Distance", 10, 0, 40,
               1, "Distance in feet at which a ghost bike fades out"),
    choice_row("time_trial_abort", &c.time_trial_abort, "Backing Up Aborts Attempt", &g_no_yes,
               CHOICE_YES, "The back-up control restarts a time trial attempt"),
    SettingRow{.key = nullptr, .kind = SettingKind::bike_setup_block, .count = 1},
    choice_row("video_mode", &c.video_mode, "Video Mode", &g_video_modes,
               VIDEO_MODE_DEFAULT_FULLSCREEN, "Full screen resolution, or a window"),
    text_row("server_name", c.server_name, "Server", SERVER_NAME_MAX, DV_DEFAULT_SERVER,
             "Host name of the race server"),
    repeated(with_flags(text_row("server_name_hist%02d", c.server_name_history[0], nullptr,
                                 SERVER_NAME_MAX, "", "Servers connected to, newest first"),
                        SETTING_HISTORY),
             SERVER_HISTORY_ENTRIES),
    number_row("ground_detail", &c.ground_detail, "Ground Geometric Detail", 50, 0, 100, 1,
               "How finely the ground is drawn"),
    ignored_row("ground_texture_distance"),
    number_row("ground_texture_detail", &c.ground_texture_detail, "Ground Texture Levels", 9, 0,
               10, 1, "How many detail levels of ground texture are painted"),
    choice_row("ground_texture_dim", &c.ground_texture_dim, "Ground Texture Resolution",
               &g_texture_dims, 2, "Texels per side of each painted ground texture"),
    choice_row("ground_mipmaps", &c.ground_mipmaps, "Enable Ground Mipmaps", &g_no_yes,
               CHOICE_YES, "Smooth distant ground textures"),
    choice_row("texture_compress", &c.texture_compress, "Compress Textures", &g_compress_modes,
               TEXTURE_COMPRESS_YES, "Store textures compressed on the graphics card"),
    with_flags(choice_row("use_fbo", &c.use_fbo, "Use Framebuffer Objects", &g_no_yes,
                          CHOICE_YES, "Older files: picks the terrain rendering method"),
               SETTING_NOT_WRITTEN),
    choice_row("render_texture", &c.render_texture, "Terrain Rendering Method",
               &g_render_methods, RENDER_HARDWARE_DIRECT,
               "How the ground textures are painted"),
    choice_row("use_shader", &c.use_shader, "Use Shader Programs", &g_no_yes, CHOICE_YES,
               "Draw with shader programs where the card supports them"),
    number_row("roost_density", &c.roost_density, "Roost Density", 250, 0, 1000, 10,
               "How much dirt the wheels throw"),
    choice_row("lens_flare", &c.lens_flare, "Enable Lens Flares", &g_no_yes, CHOICE_YES,
               "Draw lens flares around the sun"),
    choice_row("reflections", &c.reflections, "Enable Reflections", &g_no_yes, CHOICE_YES,
               "Draw reflections on bikes and water"),
    choice_row("hide_rider", &c.hide_rider, "Hide 1st Person Rider", &g_no_yes, CHOICE_NO,
               "Leave the rider out of the first-person view"),
    choice_row("rigid_camera", &c.rigid_camera, "Rigid 3rd person camera", &g_no_yes,
               CHOICE_NO, "Keep the chase camera behind the bike instead of its path"),
    number_row("model_detail", &c.model_detail, "Model Geometric Detail", 50, 0, 100, 1,
               "How finely bikes and objects are drawn"),
    number_row("model_texture_detail", &c.model_texture_detail, "Model Texture Detail", 9, 0,
               10, 1, "Texture resolution of bikes and objects"),
    number_row("fov", &c.fov, "Field Of View", 110, 10, 170, 1, "Field of view in degrees"),
    number_row("first_person_height", &c.first_person_height, "1st Person Height", 0, 0, 1,
               0.03125, "Eye height above the rider's head in feet"),
    number_row("first_person_angle", &c.first_person_angle, "1st Person Angle", 0, 0, 40, 1,
               "Downward tilt of the first-person view in degrees"),
    number_row("third_person_height", &c.third_person_height, "3rd Person Height", 5, 0, 20, 1,
               "Chase camera height above the bike in feet"),
    number_row("third_person_distance", &c.third_person_distance, "3rd Person Distance", 10, 5,
               40, 1, "Chase camera distance behind the bike in feet"),
    number_row("volume", &c.volume, "Volume", 10, 0, 10, 1, "Loudness of the player's bike"),
    number_row("comp_volume", &c.comp_volume, "Competitor Volume", 8, 0, 10, 1,
               "Loudness of the other bikes"),
    choice_row("playback_mode", &c.playback_mode, "Playback Mode", &g_playback_modes,
               PLAYBACK_ONLY, "Watch a demo, or race against it as a ghost"),
    integer_row("billboard_optimize_lookahead", &c.billboard_optimize_lookahead, 8,
                "Billboard drawing look-ahead"),
    integer_row("message_lines", &g_message_line_limit, 5,
                "Console message lines shown at once (at most 1000)"),
    integer_row("demo_backups", &c.demo_backups, 0, "Numbered demo backups kept"),
    real_row("map_scale", &c.map_scale, 1.0, 0.125, 8.0, "Scale of the track map"),
    binding_row("throttle_key", BINDING_THROTTLE, "Throttle", "x", "Open the throttle"),
    binding_row("front_brake_key", BINDING_FRONT_BRAKE, "Front Brake", "c", "Front brake"),
    binding_row("rear_brake_key", BINDING_REAR_BRAKE, "Rear Brake", "v", "Rear brake"),
    binding_row("left_key", BINDING_LEFT, "Left", "left", "Steer left"),
    binding_row("right_key", BINDING_RIGHT, "Right", "right", "Steer right"),
    binding_row("clutch_key", BINDING_CLUTCH, "Clutch", "z", "Pull the clutch"),
    binding_row("upshift_key", BINDING_UPSHIFT, "Upshift", "up", "Shift up a gear"),
    binding_row("downshift_key", BINDING_DOWNSHIFT, "Downshift", "down", "Shift down a gear"),
    binding_row("dab_key", BINDING_DAB, "Sit/Dab", "right ctrl", "Sit down or dab a foot"),
    binding_row("back_up_key", BINDING_BACK_UP, "Back up", "b", "Push the bike backwards"),
    binding_row("lean_forward_key", BINDING_LEAN_FORWARD, "Lean Forward", "n",
                "Move the rider forward"),
    binding_row("lean_backward_key", BINDING_LEAN_BACKWARD, "Lean Backward", "m",
                "Move the rider back"),
    binding_row("pause_key", BINDING_PAUSE, "Pause", "pause", "Pause the race"),
    binding_row("step_key", BINDING_STEP, "Step", ".", "Advance one tick while paused"),
    binding_row("rewind_key", BINDING_REWIND, "Rewind", "\\", "Rewind the replay"),
    binding_row("skip_key", BINDING_SKIP, "Skip", "/", "Skip the replay forward"),
    binding_row("prev_key", BINDING_PREVIOUS_BIKE, "Previous Bike", "[",
                "View the bike ahead in the running order"),
    binding_row("next_key", BINDING_NEXT_BIKE, "Next Bike", "]",
                "View the bike behind in the running order"),
    binding_row("console_key", BINDING_CHAT, "Chat", "t", "Open the chat line"),
    binding_row("screenshot_key", BINDING_SCREENSHOT, "Screenshot", "s", "Save a screenshot"),
};

// --- the bike setup block ---------------------------------------------------------

const SettingRow g_bike_setup_table[] = {
    choice_row("bike", &b.bike, "Bike", &g_bike_models, 0, "Bike model"),
    text_row("name", b.name, "Name", RIDER_NAME_MAX, "Joe Motocross", "Rider name"),
    text_row("number", b.number, "Number", RACE_NUMBER_MAX, "999", "Race number"),
    choice_row("rider_texture", &b.rider_texture, "Riding Gear", &g_rider_textures, 0,
               "Rider's gear graphics"),
    choice_row("head_texture", &b.head_texture, "Helmet", &g_head_textures, 0,
               "Helmet graphics"),
    choice_row("bike_texture", &b.bike_texture, "Bike Graphics", &g_bike_textures, 0,
               "Graphics of the selected bike"),
    choice_row("wheel_texture", &b.wheel_texture, "Wheel Graphics", &g_wheel_textures, 0,
               "Wheel graphics"),
    number_row("stability", &b.stability, "Stability", 100, 0, 100, 1,
               "Presets the rider aids below, from raw (0) to steady (100)"),
    number_row("leveling", &b.leveling, "Leveling", 20, 0, 100, 1,
               "How strongly the bike is kept level in the air"),
    number_row("roll_damping", &b.roll_damping, "Roll Damping", 80, 0, 100, 1,
               "Damping of the bike's lean rate"),
    number_row("roll_limit_angle", &b.roll_limit_angle, "Roll Limit Angle", 35, 0, 180, 1,
               "Lean angle in degrees beyond which the roll limit acts"),
    number_row("roll_limit_factor", &b.roll_limit_factor, "Roll Limit Factor", 32, 0, 64, 1,
               "Strength of the roll limit"),
    number_row("steering_damping", &b.steering_damping, "Steering Damping", 45, 0, 100, 1,
               "Damping of the handlebars"),
    number_row("steering_strength", &b.steering_strength, "Steering Strength", 75, 0, 100, 1,
               "How hard the rider turns the handlebars"),
    number_row("max_steering_force", &b.max_steering_force, "Max Steering Force", 400, 0, 1000,
               5, "Largest force the rider puts on the handlebars"),
    number_row("direct_steering", &b.direct_steering, "Direct Steering", 0, 0, 1, 0.125,
               "Steer the bars directly instead of by leaning"),
    number_row("slow_damping_speed", &b.slow_damping_speed, "Slow Damping Speed", 40, 0, 100, 1,
               "Speed below which extra damping steadies the bike"),
    number_row("slow_damping_factor", &b.slow_damping_factor, "Slow Damping Factor", 2, 1, 10,
               0.25, "Extra damping at low speed"),
    number_row("land_damping_falloff", &b.land_damping_falloff, "Landing Damping Falloff", 0.25,
               0, 0.5, 0.0625, "How quickly the landing damping fades"),
    number_row("land_damping_factor", &b.land_damping_factor, "Landing Damping Factor", 2, 1, 3,
               0.25, "Extra damping after a landing"),
    number_row("full_lock_speed", &b.full_lock_speed, "Full Lock Speed", 10, 1, 100, 1,
               "Speed below which the bars turn to full lock"),
    number_row("restricted_lock_speed", &b.restricted_lock_speed, "Restricted Lock Speed", 50, 1,
               100, 1, "Speed above which the steering lock is restricted"),
    number_row("restricted_lock", &b.restricted_lock, "Restricted Lock Angle", 5, 0, 45, 0.125,
               "Steering lock in degrees at high speed"),
    choice_row("arcade", &b.arcade, "Arcade Physics", &g_no_yes, CHOICE_YES,
               "Forgiving physics"),
    choice_row("front_brake", &b.front_brake, "Front Brake", &g_brake_modes, BRAKE_ANTILOCK,
               "Front brake behaviour"),
    choice_row("rear_brake", &b.rear_brake, "Rear Brake", &g_brake_modes, BRAKE_NORMAL,
               "Rear brake behaviour"),
    choice_row("stop_wheelies", &b.stop_wheelies, "Stop Wheelies", &g_wheelie_modes,
               STOP_WHEELIES_NO, "Keep the front wheel down"),
    choice_row("auto_shift", &b.auto_shift, "Automatic Shifting", &g_no_yes, CHOICE_YES,
               "Shift gears automatically"),
    choice_row("auto_dab", &b.auto_dab, "Dab When Stopped", &g_no_yes, CHOICE_YES,
               "Put a foot down when the bike stops"),
    choice_row("auto_align", &b.auto_align, "Realign After Fall", &g_no_yes, CHOICE_YES,
               "Point the bike along the track after a crash"),
    choice_row("sticky_dab", &b.sticky_dab, "Sticky Sit/Dab", &g_no_yes, CHOICE_NO,
               "The Sit/Dab key toggles instead of holding"),
    choice_row("reverse_steering", &b.reverse_steering, "Reversed Steering", &g_no_yes,
               CHOICE_YES, "Steer by leaning rather than by the bars"),
    choice_row("lean_indicator", &b.lean_indicator, "Lean Indicator", &g_no_yes, CHOICE_YES,
               "Show the rider's lean on the HUD"),
    number_row("auto_clutch_rpms", &b.auto_clutch_rpms, "Auto Clutch RPMs", 5000, 0, 5000, 100,
               "Engine speed below which the clutch slips by itself"),
    number_row("brake_torque", &b.brake_torque, "Braking Torque (Front)", 250, 0, 500, 10,
               "Front brake strength"),
    number_row("rear_brake_torque", &b.rear_brake_torque, "Braking Torque (Rear)", 250, 0, 500,
               10, "Rear brake strength"),
    number_row("max_dab_speed", &b.max_dab_speed, "Max Dab Speed (MPH)", 20, 5, 60, 1,
               "Fastest speed at which the rider dabs"),
    number_row("front_sprocket_adjustment", &b.front_sprocket_adjustment,
               "Countershaft Sprocket", 0, -2, 2, 1, "Teeth added to the countershaft sprocket"),
    number_row("rear_sprocket_adjustment", &b.rear_sprocket_adjustment, "Rear Sprocket", 0, -2,
               2, 1, "Teeth added to the rear sprocket"),
    number_row("fork_compression_adjustment", &b.fork_compression_adjustment,
               "Fork High Speed Compression Damping", 50, 0, 100, 1, "50 is stock"),
    number_row("fork_slow_compression_adjustment", &b.fork_slow_compression_adjustment,
               "Fork Low Speed Compression Damping", 50, 0, 100, 1, "50 is stock"),
    number_row("fork_rebound_adjustment", &b.fork_rebound_adjustment,
               "Fork High Speed Rebound Damping", 50, 0, 100, 1, "50 is stock"),
    number_row("fork_slow_rebound_adjustment", &b.fork_slow_rebound_adjustment,
               "Fork Low Speed Rebound Damping", 50, 0, 100, 1, "50 is stock"),
    number_row("fork_spring_rate_adjustment", &b.fork_spring_rate_adjustment,
               "Fork Spring Rate", 50, 0, 100, 1, "From the softest to the stiffest spring"),
    number_row("fork_preload_adjustment", &b.fork_preload_adjustment, "Fork Preload", 50, 0,
               100, 1, "Spring preload"),
    number_row("fork_oil_level_adjustment", &b.fork_oil_level_adjustment, "Fork Oil Level", 50,
               0, 100, 1, "More oil stiffens the end of the stroke"),
    number_row("shock_compression_adjustment", &b.shock_compression_adjustment,
               "Shock High Speed Compression Damping", 50, 0, 100, 1, "50 is stock"),
    number_row("shock_slow_compression_adjustment", &b.shock_slow_compression_adjustment,
               "Shock Low Speed Compression Damping", 50, 0, 100, 1, "50 is stock"),
    number_row("shock_rebound_adjustment", &b.shock_rebound_adjustment,
               "Shock High Speed Rebound Damping", 50, 0, 100, 1, "50 is stock"),
    number_row("shock_slow_rebound_adjustment", &b.shock_slow_rebound_adjustment,
               "Shock Low Speed Rebound Damping", 50, 0, 100, 1, "50 is stock"),
    number_row("shock_spring_rate_adjustment", &b.shock_spring_rate_adjustment,
               "Shock Spring Rate", 50, 0, 100, 1, "From the softest to the stiffest spring"),
    number_row("shock_preload_adjustment", &b.shock_preload_adjustment, "Shock Preload", 50, 0,
               100, 1, "Spring preload"),
    number_row("rider_yspring", &b.rider_yspring, "Rider Vertical Spring", 50, 0, 100, 1,
               "How stiffly the rider's legs hold him up"),
    number_row("rider_ydamping", &b.rider_ydamping, "Rider Vertical Damping", 50, 0, 100, 1,
               "Damping of the rider's legs"),
    number_row("rider_zspring", &b.rider_zspring, "Rider Forward Spring", 50, 0, 100, 1,
               "How stiffly the rider's arms hold him in place"),
    number_row("rider_zdamping", &b.rider_zdamping, "Rider Forward Damping", 50, 0, 100, 1,
               "Damping of the rider's arms"),
    number_row("rider_mass_distribution", &b.rider_mass_distribution,
               "Rider Mass Distribution", 0.33, 0.33, 0.5, 0.01,
               "Share of the rider's mass that moves on the bike"),
};

ChoiceList* list_for(ChoiceListId id) {
  switch (id) {
    case ChoiceListId::bike_models: return &g_bike_models;
    case ChoiceListId::rider_textures: return &g_rider_textures;
    case ChoiceListId::head_textures: return &g_head_textures;
    case ChoiceListId::bike_textures: return &g_bike_textures;
    case ChoiceListId::wheel_textures: return &g_wheel_textures;
    case ChoiceListId::video_modes: return &g_video_modes;
  }
  return &g_bike_models;
}

}  // namespace

std::span<const SettingRow> config_rows() { return g_config_table; }
std::span<const SettingRow> bike_setup_rows() { return g_bike_setup_table; }

const ChoiceList& choice_values(ChoiceListId id) { return *list_for(id); }

void set_choice_values(ChoiceListId id, const std::vector<std::string>& names) {
  ChoiceList* list = list_for(id);
  list->names = names;
  const int count = static_cast<int>(names.size());
  for (std::span<const SettingRow> table : {config_rows(), bike_setup_rows()}) {
    for (const SettingRow& row : table) {
      if (row.choices != list) continue;
      for (int i = 0; i < row.count; i++) {
        int& index = row.choice[i];
        if (!list->pending.empty() && count > 0) {
          for (int n = 0; n < count; n++) {
            if (names[n] == list->pending) {
              index = n;
              break;
            }
          }
        }
        if (index >= count) index = 0;
        if (index < 0) index = 0;
      }
    }
  }
  if (count > 0) list->pending.clear();
}

// The records hold their defaults from the start, so tools and tests that
// never call reset_config() still see a sane configuration.
static const bool g_defaults_in_place = (reset_config(), true);
