// Configuration: every user setting as a typed record described once in the
// settings tables (file key, menu label, default, range, step, help), the
// values the rest of the game reads, the "@config" reader and writer, key and
// axis bindings, and the bike setup block that bike setup files share.
//
// The menus walk config_rows() and bike_setup_rows(), edit the values through
// the row's target pointers and then call setting_changed(); the reader and
// the writer walk the same rows, so a setting exists in exactly one place.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "core/setup_choices.h"

struct DataStream;

constexpr int CONFIG_LINEUP_SLOTS = 40;      // "slot00".."slot39"
constexpr int SERVER_HISTORY_ENTRIES = 16;   // "server_name_hist00".."15"
constexpr int SERVER_NAME_MAX = 127;
// A history entry is only taken from the file when it is shorter than the
// server name buffer, so an entry never fills it completely.
constexpr int SERVER_HISTORY_READ_MAX = 126;
constexpr int TRACK_NAME_MAX = 1000;
constexpr int RIDER_NAME_MAX = 63;
constexpr int RACE_NUMBER_MAX = 3;
constexpr int MESSAGE_LINES_MAX = 1000;      // the message ring's size
// Longest line the reader takes (the read-line primitive's limit).
constexpr int CONFIG_LINE_MAX = 1023;
// Key and axis names are short platform names ("keypad enter",
// "joystick-a-x"); longer binding texts are cut, and axis range ends are
// limited, so that every binding line the writer produces can be read back.
constexpr size_t BINDING_NAME_MAX = 63;
constexpr double BINDING_AXIS_LIMIT = 1e6;

enum class SettingKind : unsigned char {
  integer,           // plain int, read "%d", written "%d"
  real,              // plain float (map_scale), read and written "%f"
  number,            // double with range and step, read "%f" and clamped
  choice,            // index into a list of value names, stored as the name
  text,              // bounded character buffer
  binding,           // key or axis binding
  ignored,           // accepted on reading and dropped, never written
  bike_setup_block,  // marks where the writer puts the bike setup block
};

// A key binding (key_name set) or an axis binding (axis_name set, with the
// raw range low..high mapped onto 0..1). Start-up turns the names into the
// platform's key code or axis handle.
struct Binding {
  std::string key_name;
  int key_code = -1;
  std::string axis_name;
  int axis = -1;
  double low = 0.0;
  double high = 1.0;
};

inline bool binding_is_empty(const Binding& binding) {
  return binding.key_name.empty() && binding.axis_name.empty();
}

// The value names of a choice. Fixed lists are filled once; the lists that
// depend on the installed data (bike models, texture sets, display modes)
// are handed over at start-up through set_choice_values().
struct ChoiceList {
  std::vector<std::string> names;
  // A name read from the file while the list was still empty. It is written
  // back unchanged, so running without the data that fills the list never
  // loses the player's choice, and it is resolved once the list arrives.
  std::string pending;
};

enum SettingFlag : unsigned {
  SETTING_NOT_WRITTEN = 1u,  // read for old files only
  SETTING_HISTORY = 2u,      // server history: longer values are not taken
};

// One setting, or a run of "%02d"-numbered settings (count > 1) stored in a
// plain array. Exactly one target pointer matches the kind.
struct SettingRow {
  const char* key;    // file key; holds "%02d" when count > 1
  SettingKind kind;
  int count;
  const char* label;  // menu label ("%d" = element + 1 when count > 1); nullptr: not in a menu
  const char* help;   // one line for the menu's help bar
  double default_value;  // integer, real and number defaults; the index for choices
  double minimum, maximum, step;  // numbers (and map_scale's clamp)
  int max_length;           // texts
  const char* default_text; // texts; the key name for bindings
  unsigned flags;
  ChoiceList* choices;
  int* integer;
  float* real;
  double* number;
  int* choice;
  char* text;  // element i starts at text + i * (max_length + 1)
  Binding* binding;
};

// --- choice indices the game compares against ----------------------------------

constexpr int CHOICE_NO = 0;
constexpr int CHOICE_YES = 1;

constexpr int SKILL_NOVICE = 0, SKILL_AMATEUR = 1, SKILL_EXPERT = 2;
constexpr int SLOT_EMPTY = 0, SLOT_HUMAN = 1, SLOT_ROBOT = 2, SLOT_ROBOT_2_STROKE = 3,
              SLOT_ROBOT_4_STROKE = 4;
constexpr int VIDEO_MODE_DEFAULT_FULLSCREEN = 0, VIDEO_MODE_WINDOWED = 1;
constexpr int TEXTURE_COMPRESS_NO = 0, TEXTURE_COMPRESS_YES = 1, TEXTURE_COMPRESS_ALWAYS = 2;
constexpr int RENDER_SOFTWARE = 0, RENDER_HARDWARE_COPY = 1, RENDER_HARDWARE_DIRECT = 2,
              RENDER_SHADERS_COPY = 3, RENDER_SHADERS_DIRECT = 4;
constexpr int PLAYBACK_ONLY = 0, PLAYBACK_RACE_AGAINST = 1;

// Bindings in the order the file stores them.
enum BindingIndex {
  BINDING_THROTTLE,
  BINDING_FRONT_BRAKE,
  BINDING_REAR_BRAKE,
  BINDING_LEFT,
  BINDING_RIGHT,
  BINDING_CLUTCH,
  BINDING_UPSHIFT,
  BINDING_DOWNSHIFT,
  BINDING_DAB,
  BINDING_BACK_UP,
  BINDING_LEAN_FORWARD,
  BINDING_LEAN_BACKWARD,
  BINDING_PAUSE,
  BINDING_STEP,
  BINDING_REWIND,
  BINDING_SKIP,
  BINDING_PREVIOUS_BIKE,
  BINDING_NEXT_BIKE,
  BINDING_CHAT,
  BINDING_SCREENSHOT,
  BINDING_COUNT
};

// --- the values ---------------------------------------------------------------

struct Config {
  int xres, yres;
  int draw_fps, draw_time, draw_ping;
  int spy;
  char track[TRACK_NAME_MAX + 1];
  int record;
  int skill;
  double minutes, laps;
  int slot[CONFIG_LINEUP_SLOTS];
  double ghost_fade_distance;
  int time_trial_abort;
  int video_mode;
  char server_name[SERVER_NAME_MAX + 1];
  char server_name_history[SERVER_HISTORY_ENTRIES][SERVER_NAME_MAX + 1];  // newest first
  double ground_detail;
  double ground_texture_detail;
  int ground_texture_dim;
  int ground_mipmaps;
  int texture_compress;
  int use_fbo;  // only read, from older files; it sets render_texture
  int render_texture;
  int use_shader;
  double model_detail, model_texture_detail;
  double roost_density;
  int lens_flare, reflections, hide_rider, rigid_camera;
  double fov;
  double first_person_height, first_person_angle;
  double third_person_height, third_person_distance;
  double volume, comp_volume;
  int playback_mode;
  int billboard_optimize_lookahead;
  // "message_lines" is g_message_line_limit (core/message.h).
  int demo_backups;
  float map_scale;
  Binding bindings[BINDING_COUNT];
};

// The player's rider and bike setup, as the setup menus and bike setup files
// hold it. Turning it into physical values (the simulation's BikeSetup) is the
// bike simulation's job.
struct PlayerSetup {
  int bike;
  char name[RIDER_NAME_MAX + 1];
  char number[RACE_NUMBER_MAX + 1];
  int rider_texture, head_texture, bike_texture, wheel_texture;
  double stability;
  // Rider aids, preset by apply_stability().
  double leveling, roll_damping, roll_limit_angle, roll_limit_factor;
  double steering_damping, steering_strength, max_steering_force, direct_steering;
  double slow_damping_speed, slow_damping_factor;
  double land_damping_falloff, land_damping_factor;
  double full_lock_speed, restricted_lock_speed, restricted_lock;
  int arcade, front_brake, rear_brake, stop_wheelies, auto_shift, auto_dab, auto_align;
  int sticky_dab, reverse_steering, lean_indicator;
  double auto_clutch_rpms, brake_torque, rear_brake_torque, max_dab_speed;
  double front_sprocket_adjustment, rear_sprocket_adjustment;
  double fork_compression_adjustment, fork_slow_compression_adjustment;
  double fork_rebound_adjustment, fork_slow_rebound_adjustment;
  double fork_spring_rate_adjustment, fork_preload_adjustment, fork_oil_level_adjustment;
  double shock_compression_adjustment, shock_slow_compression_adjustment;
  double shock_rebound_adjustment, shock_slow_rebound_adjustment;
  double shock_spring_rate_adjustment, shock_preload_adjustment;
  double rider_yspring, rider_ydamping, rider_zspring, rider_zdamping;
  double rider_mass_distribution;
};

extern Config g_config;
extern PlayerSetup g_bike_setup;

// --- the tables -------------------------------------------------------------------

// Rows in the order the file is written (read-only rows included).
std::span<const SettingRow> config_rows();
std::span<const SettingRow> bike_setup_rows();
// The row holding a file key ("fov", "slot07", "bike"); *element gets the
// index within a numbered row. nullptr for unknown keys.
const SettingRow* find_setting(const char* key, int* element);
// "slot07" for element 7 of "slot%02d"; the key itself otherwise.
std::string setting_key(const SettingRow& row, int element);
// "Gate 8" for element 7 of "Gate %d"; the label itself otherwise.
std::string setting_label(const SettingRow& row, int element);
// The value as the file stores it ("110.000000", "Yes", "(k)left").
std::string setting_value_text(const SettingRow& row, int element);

// Run-time value lists: the bike model names and the texture sets found in
// the data, and the video-mode names. Set them before read_config(); a list
// set later still picks up a name read while it was empty.
enum class ChoiceListId {
  bike_models,
  rider_textures,
  head_textures,
  bike_textures,
  wheel_textures,
  video_modes,
};
void set_choice_values(ChoiceListId list, const std::vector<std::string>& names);
const ChoiceList& choice_values(ChoiceListId list);
// The current value name of a choice ("" when its list is empty and nothing
// was read).
const char* choice_name(const SettingRow& row, int element);

// Called with the selected bike's name whenever the bike changes (reading the
// file, or a menu through setting_changed), so that the texture layer can
// hand over that bike's graphics sets with set_choice_values(bike_textures).
extern void (*g_bike_graphics_provider)(const char* bike_name);

// --- operations -----------------------------------------------------------------

// Every record back to its default (bindings unbound, history empty,
// message lines 5); the aid values are the stability 100 preset.
void reset_config();

// Reads "@config"; a missing or unreadable file leaves everything as it is
// and returns false, silently.
bool read_config();
void read_config_stream(DataStream* stream);
// One line of the file; a trailing CR/LF is dropped. Lines without "=" and
// unknown keys are ignored.
void read_config_line(const char* line);
// Applies one bike setup key; false when the key is not a bike setup key.
bool parse_bike_setup_line(const char* key, const char* value);
// "(lo,hi)axis", "(k)key" or "key"; leading white space is skipped.
void parse_binding(Binding* binding, const char* text);

// The configuration file's whole text, as write_config() stores it.
std::string config_text();
// Writes "@config" in the first search directory that takes it, through a
// temporary file renamed over the old one: a crash or a full disk leaves the
// previous file intact. False when nothing was replaced.
bool write_config();
void append_bike_setup_block(std::string* text);
bool write_bike_setup_block(DataStream* stream);

// Presets the rider aid values from a stability of 0..100 by interpolating
// between the five stability levels.
void apply_stability(double stability);

// What a menu calls after editing a record: the bike choice rebuilds the
// bike graphics list, stability presets the aids, use_fbo sets render_texture.
void setting_changed(const SettingRow& row);

// The bike name aliases of older files ("yz250f" -> "yz250f(2008)").
const char* canonical_bike_name(const char* name);

void clear_server_history();
// Makes name the server to connect to: it becomes "server_name" and, when it
// is not empty and differs from the newest entry, the newest history entry
// (the oldest falls off). Control characters end the name.
void remember_server(const char* name);
