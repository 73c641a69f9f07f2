#include "net/game_client.h"

#include "core/command_line.h"
#include "core/config.h"
#include "core/game_hooks.h"
#include "net/console.h"
#include "net/race_link.h"
#include "platform/clock.h"
#include "race/race_game.h"
#include "replay/demo.h"

NetClient g_net_client;

namespace {

std::string setting_name(const char* key) {
  int element = 0;
  const SettingRow* row = find_setting(key, &element);
  const char* name = row ? choice_name(*row, element) : nullptr;
  return name ? name : "";
}

void net_state_hook(NetState* out) { fill_net_state(g_net_client, out); }
// The run options exist only once start-up has parsed the command line and
// checked the fixed files, after the hooks were installed: they are taken
// at the first step.
bool g_options_taken = false;

void take_run_options() {
  g_options_taken = true;
  g_net_client.password = g_run_options.password;
  g_net_client.fixed_files_match = g_run_options.fixed_files_match;
  set_fake_link(&g_net_client, g_run_options.fake_lag, g_run_options.fake_loss, (uint32_t)(platform_seconds() * 1e3));
  if (!g_run_options.connect.empty() && g_net_client.socket < 0 && g_net_client.pending_address.empty())
    net_connect(&g_net_client, g_run_options.connect.c_str());
}

void net_step_hook() {
  if (!g_options_taken) take_run_options();
  refresh_client_info(&g_net_client);
  net_service(&g_net_client, platform_seconds());
  // A new connection starts with arcade physics as the setup has it.
  if (!g_net_client.arcade_disabled) restore_arcade();
}

void net_connect_hook(const char* server, const char* password) {
  g_net_client.password = password ? password : "";
  net_connect(&g_net_client, server);
}

void net_console_line_hook(const char* line) { console_line(&g_net_client, line, platform_seconds(), false); }

double net_ping_hook() {
  return net_connected(g_net_client) && g_net_client.ping > 0 ? g_net_client.ping * TICK_SECONDS : -1.0;
}
void net_disconnect_hook() { net_shutdown(&g_net_client); }

// Console lines from the server go into the demo being recorded.
void record_console_text(void*, const char* text, int tick) {
  if (demo_recording(g_demo_recorder)) record_demo_text(&g_demo_recorder, text, tick);
}

}  // namespace

void refresh_client_info(NetClient* c) {
  DemoRider info;
  info.model = setting_name("bike");
  info.rider_skin = setting_name("rider_texture");
  info.bike_skin = setting_name("bike_texture");
  info.wheel_skin = setting_name("wheel_texture");
  info.helmet_skin = setting_name("head_texture");
  info.number = g_bike_setup.number;
  info.name = g_bike_setup.name;
  if (info.model != c->own_info.model || info.rider_skin != c->own_info.rider_skin ||
      info.bike_skin != c->own_info.bike_skin || info.wheel_skin != c->own_info.wheel_skin ||
      info.helmet_skin != c->own_info.helmet_skin || info.number != c->own_info.number ||
      info.name != c->own_info.name) {
    c->own_info = info;
    c->client_info_changed = true;
  }
}

void install_net_client(const NetClientHooks& race_side) {
  g_net_client.hooks = race_side;
  if (!g_net_client.hooks.console_text) g_net_client.hooks.console_text = record_console_text;
  init_net_client(&g_net_client);
  refresh_client_info(&g_net_client);
  g_net_client.client_info_changed = false;
  g_game_hooks.net.state = net_state_hook;
  g_game_hooks.net.connect = net_connect_hook;
  g_game_hooks.net.console_line = net_console_line_hook;
  g_game_hooks.net.ping = net_ping_hook;
  g_game_hooks.net.step = net_step_hook;
  g_game_hooks.net.disconnect = net_disconnect_hook;
  take_run_options();  // what is known now; the first step takes them again
  g_options_taken = false;
}

void fill_net_state(const NetClient& c, NetState* out) {
  out->connected = net_connected(c);
  out->server_race_running = server_race_running(c);
  out->first_server_tick_seen = c.latest_server_tick > 0;
  out->newest_server_tick = c.latest_server_tick;
  out->local_tick = c.hooks.current_tick ? c.hooks.current_tick(c.hooks.context) : 0;
  out->gate_drop_tick = c.gate_drop_tick;
}

bool off_course(const BikeTiming& rider, const BikeTiming& first, double scale, double bias) {
  const int last = rider.gates_passed - 1;
  for (int k = last; k > last - 3 && k >= 1; k--) {
    const int a = pass_tick(rider, k - 1), b = pass_tick(rider, k);
    const int fa = pass_tick(first, k - 1), fb = pass_tick(first, k);
    if (a < 0 || b < 0 || fa < 0 || fb < 0) continue;
    const double took = (b - a) * TICK_SECONDS, reference = (fb - fa) * TICK_SECONDS;
    if (took > reference * scale + bias) return true;
  }
  return false;
}

bool remote_rider_hidden(const NetClient& c, int slot, double now, int tick, const BikeTiming& rider,
                         const BikeTiming& first, const BikeTiming* own) {
  if (slot < 0 || slot >= MAX_BIKES) return true;
  if (now - c.last_state_time[slot] >= 1.0) return true;
  if ((tick - c.gate_drop_tick) * TICK_SECONDS < c.off_course_bias) return false;
  if (!off_course(rider, first, c.off_course_scale, c.off_course_bias)) return false;
  return !(own && off_course(*own, first, c.off_course_scale, c.off_course_bias));
}

void install_game_network() {
  static RaceLink link;
  link.client = &g_net_client;
  link.race = &g_race;
  link.configured_player = true;
  link_client_to_race(&link);
  install_net_client(g_net_client.hooks);
}
