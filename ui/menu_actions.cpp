// What the menus start: races of every kind, demo playback, the server
// connection, the points series, and the bike setup taken over on leaving a
// setup menu. All of it goes through the game's hook table.
#include <cstdio>
#include <string>

#include "core/command_line.h"
#include "core/config.h"
#include "core/discovery.h"
#include "core/game_hooks.h"
#include "core/main_loop.h"
#include "core/message.h"
#include "ui/ui.h"

namespace {

// A lineup with nobody in it would start a race without riders: the player
// takes gate 1 and robots fill the first row, for this race only.
constexpr int DEFAULT_ROBOT_GATES = 9;

const char* selected_track() { return g_config.track[0] ? g_config.track : nullptr; }

void reset_race(const int* lineup, bool playback, double minutes, int laps) {
  if (!g_game_hooks.race.reset) {
    show_message("This build has no races");
    return;
  }
  if (lineup) {
    for (int i = 0; i < MAX_BIKES; i++) g_start_lineup[i] = lineup[i];
  }
  g_game_hooks.race.reset({selected_track(), lineup, playback, minutes, laps, g_config.skill});
}

void start_local_race() {
  int lineup[MAX_BIKES] = {};
  bool anyone = false, human = false;
  for (int i = 0; i < CONFIG_LINEUP_SLOTS; i++) {
    lineup[i] = g_config.slot[i];
    anyone |= lineup[i] != SLOT_EMPTY;
    human |= lineup[i] == SLOT_HUMAN;
  }
  if (!anyone) {
    lineup[0] = SLOT_HUMAN;
    for (int i = 1; i <= DEFAULT_ROBOT_GATES; i++) lineup[i] = SLOT_ROBOT;
    show_message("Every gate was empty: you start from gate 1 against %d robots", DEFAULT_ROBOT_GATES);
  } else if (!human) {
    show_message("No gate is set to Human: you watch this race");
  }
  g_run_options.practice = false;
  reset_race(lineup, false, g_config.minutes, (int)g_config.laps);
}

void start_practice() {
  int lineup[MAX_BIKES] = {};
  lineup[0] = SLOT_HUMAN;
  g_run_options.practice = true;
  reset_race(lineup, false, 0.0, START_LAPS);
}

void start_time_trial() {
  g_run_options.practice = false;
  reset_race(nullptr, false, 0.0, START_LAPS);
}

void play_demo(int index) {
  if (index < 0 || index >= (int)g_demos.paths.size()) return;
  const std::string& path = g_demos.paths[(size_t)index];
  std::string name = "@" + path;
  if (!g_game_hooks.replay.load_demo) {
    show_message("Can't play '%.900s': this build has no demo playback", path.c_str());
    return;
  }
  std::string track;
  if (!g_game_hooks.replay.load_demo(name.c_str(), &track)) return;  // the reader said why
  int lineup[MAX_BIKES] = {};
  if (g_config.playback_mode == PLAYBACK_RACE_AGAINST) lineup[0] = SLOT_HUMAN;
  g_run_options.practice = false;
  if (!g_game_hooks.race.reset) return;
  for (int i = 0; i < MAX_BIKES; i++) g_start_lineup[i] = lineup[i];
  g_game_hooks.race.reset({track.empty() ? selected_track() : track.c_str(), lineup, true, 0.0, START_LAPS,
                           g_config.skill});
}

void connect(const char* server) {
  if (!server[0]) {
    show_message("Type a server name first");
    return;
  }
  std::string name = server;  // remember_server may shift the history it points into
  remember_server(name.c_str());
  if (!g_game_hooks.net.connect) {
    show_message("This build has no multiplayer");
    return;
  }
  g_game_hooks.net.connect(g_config.server_name, g_run_options.password.c_str());
}

}  // namespace

void run_menu_action(MenuAction action, int arg) {
  switch (action) {
    case ACTION_START_PRACTICE: start_practice(); break;
    case ACTION_START_RACE: start_local_race(); break;
    case ACTION_START_TIME_TRIAL: start_time_trial(); break;
    case ACTION_START_SERIES_EVENT:
      if (!g_game_hooks.series.start_next_event || !g_game_hooks.series.start_next_event(arg))
        show_message("The series has no event left to race");
      break;
    case ACTION_CONNECT: connect(g_config.server_name); break;
    case ACTION_CONNECT_HISTORY:
      if (arg >= 0 && arg < SERVER_HISTORY_ENTRIES) connect(g_config.server_name_history[arg]);
      break;
    case ACTION_DISCONNECT:
      if (g_game_hooks.net.disconnect) g_game_hooks.net.disconnect();
      break;
    case ACTION_PLAY_DEMO: play_demo(arg); break;
    case ACTION_QUIT: g_main_loop.quit = true; break;
    case ACTION_DEMO_PAGE:
    case ACTION_FILL_LINEUP:
    case ACTION_DEFAULT_BINDINGS: break;  // the menu does these itself
  }
}

void apply_menu_setup() {
  if (g_game_hooks.race.apply_setup) g_game_hooks.race.apply_setup();
}
