// The menu tree: which items each menu holds, built from the setting rows,
// the track, demo and series lists and the server history.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "bike/bike_model.h"
#include "core/config.h"
#include "core/discovery.h"
#include "core/game_hooks.h"
#include "core/types.h"
#include "ui/menu.h"

namespace {

// Physical read-out conversions of the suspension menu.
constexpr double FORK_KG_PER_MM_PER_LBF_PER_FOOT = 0.0007440819724087572;  // per leg

MenuItem submenu(const char* label, MenuId id, const char* help, int arg = 0) {
  MenuItem item;
  item.kind = ITEM_SUBMENU;
  item.label = label;
  item.target = id;
  item.arg = arg;
  item.help = help;
  return item;
}

MenuItem action(const std::string& label, MenuAction act, int arg, const char* help) {
  MenuItem item;
  item.kind = ITEM_ACTION;
  item.label = label;
  item.target = act;
  item.arg = arg;
  item.help = help;
  return item;
}

MenuItem heading(const std::string& label) {
  MenuItem item;
  item.kind = ITEM_HEADING;
  item.label = label;
  return item;
}

MenuItem readout(const std::string& label, const std::string& value) {
  MenuItem item;
  item.kind = ITEM_READOUT;
  item.label = label;
  item.value = value;
  return item;
}

MenuItem setting(const char* key, std::string (*detail)(const MenuItem&) = nullptr) {
  MenuItem item;
  int element = 0;
  const SettingRow* row = find_setting(key, &element);
  if (!row) return heading(std::string("(missing setting ") + key + ")");
  item.kind = ITEM_SETTING;
  item.row = row;
  item.element = element;
  item.label = setting_label(*row, element);
  item.help = row->help ? row->help : "";
  item.detail = detail;
  return item;
}

MenuItem track_item() {
  MenuItem item;
  item.kind = ITEM_TRACK;
  item.label = "Track";
  item.help = "The track to ride";
  return item;
}

// --- suspension and gearing read-outs ---------------------------------------------------

const BikeModel* selected_model() {
  const SettingRow* row = find_setting("bike", nullptr);
  if (!row) return nullptr;
  const char* name = choice_name(*row, 0);
  if (!name || !name[0]) return nullptr;
  int index = find_bike_model(name);
  return index < 0 ? nullptr : &bike_model_at(index);
}

double adjustment(const MenuItem& item) { return item.row && item.row->number ? *item.row->number : 0.0; }

double fraction(const MenuItem& item) { return std::clamp(adjustment(item) * 0.01, 0.0, 1.0); }

double between(const float range[2], double t) { return range[0] + t * (range[1] - range[0]); }

std::string format(const char* pattern, double value) {
  char text[64];
  snprintf(text, sizeof text, pattern, value);
  return text;
}

std::string damping_detail(const MenuItem& item) {
  double scale = std::clamp(std::exp2(adjustment(item) * 0.04 - 2.0), 0.25, 4.0);
  return format("x%.2f", scale);
}

std::string slow_damping_detail(const MenuItem& item) {
  double offset = std::clamp(adjustment(item) * 0.02 - 1.0, -1.0, 1.0);
  return format("%+.0f%%", offset * 100.0);
}

std::string fork_spring_detail(const MenuItem& item) {
  const BikeModel* m = selected_model();
  if (!m) return "";
  return format("%.3f kg/mm", between(m->fork_spring_rate, fraction(item)) * FORK_KG_PER_MM_PER_LBF_PER_FOOT);
}

std::string fork_preload_detail(const MenuItem& item) {
  const BikeModel* m = selected_model();
  if (!m) return "";
  return format("%.2f mm", between(m->fork_preload, fraction(item)) * MM_PER_FOOT);
}

std::string fork_air_detail(const MenuItem& item) {
  const BikeModel* m = selected_model();
  if (!m) return "";
  return format("%.2f mm", between(m->fork_air_length, fraction(item)) * MM_PER_FOOT);
}

std::string shock_spring_detail(const MenuItem& item) {
  const BikeModel* m = selected_model();
  if (!m) return "";
  return format("%.3f kg/mm", between(m->shock_spring_rate, fraction(item)) * KG_PER_MM_PER_LBF_PER_FOOT);
}

std::string shock_preload_detail(const MenuItem& item) {
  const BikeModel* m = selected_model();
  if (!m) return "";
  return format("%.2f mm", between(m->shock_preload, fraction(item)) * MM_PER_FOOT);
}

// The sprocket the adjustment gives, as the drivetrain counts it (whole
// teeth, never fewer than 3).
std::string sprocket_detail(const MenuItem& item, bool rear) {
  const BikeModel* m = selected_model();
  if (!m) return "";
  double stock = rear ? m->rear_sprocket : m->countershaft_sprocket;
  double teeth = std::max(3.0, std::floor(stock + std::clamp(adjustment(item), -2.0, 2.0)));
  return format("%.2f teeth", teeth);
}
std::string front_sprocket_detail(const MenuItem& item) { return sprocket_detail(item, false); }
std::string rear_sprocket_detail(const MenuItem& item) { return sprocket_detail(item, true); }

std::string final_drive_detail(const MenuItem&) {
  const BikeModel* m = selected_model();
  if (!m) return "";
  double front = std::max(3.0, std::floor(m->countershaft_sprocket +
                                          std::clamp(g_bike_setup.front_sprocket_adjustment, -2.0, 2.0)));
  double rear = std::max(3.0, std::floor(m->rear_sprocket + std::clamp(g_bike_setup.rear_sprocket_adjustment, -2.0, 2.0)));
  return format("%.3f : 1", rear / front);
}

// --- the menus --------------------------------------------------------------------------

void main_menu(MenuPage* page) {
  auto& items = page->items;
  items.push_back(submenu("Practice", MENU_PRACTICE, "Ride the track alone"));
  items.push_back(submenu("Race", MENU_RACE, "Race against robot riders"));
  items.push_back(submenu("Time Trial", MENU_TIME_TRIAL, "Set the fastest lap against your own ghost"));
  items.push_back(submenu("Points Series", MENU_SERIES, "A season of races scored by points"));
  items.push_back(submenu("Multiplayer", MENU_MULTIPLAYER, "Race other players on a server"));
  items.push_back(submenu("Demos", MENU_DEMOS, "Watch recorded rides"));
  items.push_back(submenu("Bike Setup", MENU_BIKE_SETUP, "Bike, rider, graphics and riding aids"));
  items.push_back(submenu("Suspension and Gearing", MENU_SUSPENSION, "Springs, damping and sprockets"));
  items.push_back(submenu("Advanced Stability Setup", MENU_STABILITY, "Fine tuning of the riding aids"));
  items.push_back(submenu("Controls", MENU_CONTROLS, "Keys, buttons and axes"));
  items.push_back(submenu("Graphics", MENU_GRAPHICS, "Detail, video mode and cameras"));
  items.push_back(submenu("Sound", MENU_SOUND, "Engine volumes"));
  items.push_back(action("Quit", ACTION_QUIT, 0, "Leave the game"));
}

void practice_menu(MenuPage* page) {
  auto& items = page->items;
  items.push_back(track_item());
  items.push_back(setting("record"));
  items.push_back(setting("ghost_fade_distance"));
  items.push_back(action("Start Practice", ACTION_START_PRACTICE, 0, "Ride alone; your fastest lap rides along as a ghost"));
}

void race_menu(MenuPage* page) {
  auto& items = page->items;
  items.push_back(track_item());
  items.push_back(setting("laps"));
  items.push_back(setting("minutes"));
  items.push_back(setting("skill"));
  items.push_back(setting("record"));
  items.push_back(submenu("Starting Gates", MENU_LINEUP, "Who starts from which gate"));
  items.push_back(action("Start Race", ACTION_START_RACE, 0, "Line up and wait for the gate to drop"));
}

void lineup_menu(MenuPage* page) {
  auto& items = page->items;
  items.push_back(action("All Gates Robots", ACTION_FILL_LINEUP, SLOT_ROBOT, "You on gate 1, robots on every other gate"));
  items.push_back(action("All Gates Empty", ACTION_FILL_LINEUP, SLOT_EMPTY, "You on gate 1, every other gate empty"));
  for (int i = 0; i < CONFIG_LINEUP_SLOTS; i++) {
    char key[16];
    snprintf(key, sizeof key, "slot%02d", i);
    items.push_back(setting(key));
  }
}

void time_trial_menu(MenuPage* page) {
  auto& items = page->items;
  items.push_back(track_item());
  items.push_back(setting("time_trial_abort"));
  items.push_back(setting("ghost_fade_distance"));
  items.push_back(setting("record"));
  items.push_back(action("Start Time Trial", ACTION_START_TIME_TRIAL, 0, "Five minutes to set your best lap"));
}

void series_menu(MenuPage* page) {
  const SeriesHooks& series = g_game_hooks.series;
  int count = series.count ? series.count() : 0;
  for (int i = 0; i < count; i++) {
    SeriesView view;
    if (!series.view || !series.view(i, &view)) continue;
    page->items.push_back(submenu(view.name.c_str(), MENU_SERIES_EVENT, "Standings and the next event", i));
  }
  if (page->items.empty()) page->items.push_back(heading("No points series found"));
}

void series_event_menu(MenuPage* page, int index) {
  const SeriesHooks& series = g_game_hooks.series;
  SeriesView view;
  if (!series.view || !series.view(index, &view)) {
    page->items.push_back(heading("No such series"));
    return;
  }
  char line[1024];
  page->title = view.name;
  if (!view.next_event.empty()) {
    snprintf(line, sizeof line, "Next Event: %.900s", view.next_event.c_str());
    page->items.push_back(heading(line));
    page->items.push_back(action("Start Next Event", ACTION_START_SERIES_EVENT, index, "Race the next event of the series"));
    page->items.push_back(heading("Standings"));
  } else {
    snprintf(line, sizeof line, "%.900s Final Standings", view.name.c_str());
    page->items.push_back(heading(line));
  }
  for (const std::string& standing : view.standings) page->items.push_back(readout(standing, ""));
  if (view.standings.empty()) page->items.push_back(readout("No events completed yet", ""));
}

void multiplayer_menu(MenuPage* page) {
  auto& items = page->items;
  items.push_back(setting("server_name"));
  items.push_back(action("Connect", ACTION_CONNECT, 0, "Connect to the server above"));
  items.push_back(setting("name"));
  items.push_back(setting("number"));
  items.push_back(action("Disconnect", ACTION_DISCONNECT, 0, "Leave the server"));
  bool any = false;
  for (int i = 0; i < SERVER_HISTORY_ENTRIES; i++) {
    const char* name = g_config.server_name_history[i];
    if (!name[0]) continue;
    if (!any) items.push_back(heading("Recent Servers"));
    any = true;
    items.push_back(action(name, ACTION_CONNECT_HISTORY, i, "Connect to this server again"));
  }
}

void demos_menu(MenuPage* page) {
  auto& items = page->items;
  items.push_back(setting("playback_mode"));
  int count = (int)g_demos.paths.size();
  if (count == 0) {
    items.push_back(heading("No demos found"));
    return;
  }
  int pages = (count + DEMO_PAGE_ENTRIES - 1) / DEMO_PAGE_ENTRIES;
  int first = std::clamp(g_demos.first_shown, 0, count - 1);
  first -= first % DEMO_PAGE_ENTRIES;
  g_demos.first_shown = first;
  char line[64];
  snprintf(line, sizeof line, "Page %d of %d", first / DEMO_PAGE_ENTRIES + 1, pages);
  items.push_back(heading(line));
  for (int i = first; i < std::min(count, first + DEMO_PAGE_ENTRIES); i++) {
    items.push_back(action(g_demos.names[(size_t)i], ACTION_PLAY_DEMO, i, "Play this demo"));
  }
  if (first > 0) items.push_back(action("Previous Page", ACTION_DEMO_PAGE, -1, "The demos before these"));
  if (first + DEMO_PAGE_ENTRIES < count) items.push_back(action("Next Page", ACTION_DEMO_PAGE, +1, "The demos after these"));
}

void bike_setup_menu(MenuPage* page) {
  for (const char* key : {"bike", "name", "number", "rider_texture", "head_texture", "bike_texture", "wheel_texture",
                          "stability", "arcade", "front_brake", "rear_brake", "stop_wheelies", "auto_shift", "auto_dab",
                          "auto_align", "sticky_dab", "reverse_steering", "lean_indicator", "auto_clutch_rpms",
                          "brake_torque", "rear_brake_torque", "max_dab_speed"}) {
    page->items.push_back(setting(key));
  }
}

void suspension_menu(MenuPage* page) {
  auto& items = page->items;
  items.push_back(heading("Gearing"));
  items.push_back(setting("front_sprocket_adjustment", front_sprocket_detail));
  items.push_back(setting("rear_sprocket_adjustment", rear_sprocket_detail));
  MenuItem ratio = readout("Final Drive Ratio", "");
  ratio.detail = final_drive_detail;
  items.push_back(ratio);
  items.push_back(heading("Fork"));
  items.push_back(setting("fork_spring_rate_adjustment", fork_spring_detail));
  items.push_back(setting("fork_preload_adjustment", fork_preload_detail));
  items.push_back(setting("fork_oil_level_adjustment", fork_air_detail));
  items.push_back(setting("fork_compression_adjustment", damping_detail));
  items.push_back(setting("fork_slow_compression_adjustment", slow_damping_detail));
  items.push_back(setting("fork_rebound_adjustment", damping_detail));
  items.push_back(setting("fork_slow_rebound_adjustment", slow_damping_detail));
  items.push_back(heading("Shock"));
  items.push_back(setting("shock_spring_rate_adjustment", shock_spring_detail));
  items.push_back(setting("shock_preload_adjustment", shock_preload_detail));
  items.push_back(setting("shock_compression_adjustment", damping_detail));
  items.push_back(setting("shock_slow_compression_adjustment", slow_damping_detail));
  items.push_back(setting("shock_rebound_adjustment", damping_detail));
  items.push_back(setting("shock_slow_rebound_adjustment", slow_damping_detail));
  items.push_back(heading("Rider"));
  for (const char* key : {"rider_yspring", "rider_ydamping", "rider_zspring", "rider_zdamping", "rider_mass_distribution"})
    items.push_back(setting(key));
}

void stability_menu(MenuPage* page) {
  for (const char* key : {"stability", "leveling", "roll_damping", "roll_limit_angle", "roll_limit_factor",
                          "steering_damping", "steering_strength", "max_steering_force", "direct_steering",
                          "slow_damping_speed", "slow_damping_factor", "land_damping_falloff", "land_damping_factor",
                          "full_lock_speed", "restricted_lock_speed", "restricted_lock"}) {
    page->items.push_back(setting(key));
  }
}

void controls_menu(MenuPage* page) {
  for (const SettingRow& row : config_rows()) {
    if (row.kind == SettingKind::binding) page->items.push_back(setting(row.key));
  }
  page->items.push_back(action("Default Keys", ACTION_DEFAULT_BINDINGS, 0, "Every control back to its default key"));
}

void graphics_menu(MenuPage* page) {
  for (const char* key : {"video_mode", "fov", "ground_detail", "ground_texture_detail", "ground_texture_dim",
                          "ground_mipmaps", "texture_compress", "render_texture", "use_shader", "model_detail",
                          "model_texture_detail", "roost_density", "lens_flare", "reflections", "hide_rider",
                          "rigid_camera", "first_person_height", "first_person_angle", "third_person_height",
                          "third_person_distance"}) {
    page->items.push_back(setting(key));
  }
}

void sound_menu(MenuPage* page) {
  page->items.push_back(setting("volume"));
  page->items.push_back(setting("comp_volume"));
}

}  // namespace

const char* menu_title(MenuId id) {
  switch (id) {
    case MENU_MAIN: return "Dirtvane";
    case MENU_PRACTICE: return "Practice";
    case MENU_RACE: return "Race";
    case MENU_LINEUP: return "Starting Gates";
    case MENU_TIME_TRIAL: return "Time Trial";
    case MENU_SERIES: return "Points Series";
    case MENU_SERIES_EVENT: return "Points Series";
    case MENU_MULTIPLAYER: return "Multiplayer";
    case MENU_DEMOS: return "Demos";
    case MENU_BIKE_SETUP: return "Bike Setup";
    case MENU_SUSPENSION: return "Suspension and Gearing";
    case MENU_STABILITY: return "Advanced Stability Setup";
    case MENU_CONTROLS: return "Controls";
    case MENU_GRAPHICS: return "Graphics";
    case MENU_SOUND: return "Sound";
    case MENU_COUNT: break;
  }
  return "";
}

bool is_setup_menu(MenuId id) { return id == MENU_BIKE_SETUP || id == MENU_SUSPENSION || id == MENU_STABILITY; }

void build_menu(MenuId id, int context, MenuPage* page) {
  page->id = id;
  page->title = menu_title(id);
  page->items.clear();
  switch (id) {
    case MENU_MAIN: main_menu(page); break;
    case MENU_PRACTICE: practice_menu(page); break;
    case MENU_RACE: race_menu(page); break;
    case MENU_LINEUP: lineup_menu(page); break;
    case MENU_TIME_TRIAL: time_trial_menu(page); break;
    case MENU_SERIES: series_menu(page); break;
    case MENU_SERIES_EVENT: series_event_menu(page, context); break;
    case MENU_MULTIPLAYER: multiplayer_menu(page); break;
    case MENU_DEMOS: demos_menu(page); break;
    case MENU_BIKE_SETUP: bike_setup_menu(page); break;
    case MENU_SUSPENSION: suspension_menu(page); break;
    case MENU_STABILITY: stability_menu(page); break;
    case MENU_CONTROLS: controls_menu(page); break;
    case MENU_GRAPHICS: graphics_menu(page); break;
    case MENU_SOUND: sound_menu(page); break;
    case MENU_COUNT: break;
  }
}
