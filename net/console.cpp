#include "net/console.h"

#include <strings.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "core/config.h"
#include "core/datafile.h"
#include "core/main_loop.h"
#include "core/message.h"
#include "replay/demo.h"

ConsoleState g_console;
ConsoleHooks g_console_hooks;

namespace {

constexpr double DEGREES = 0.017453292519943295;

std::string trim(const char* text) {
  std::string s = text ? text : "";
  size_t a = 0, b = s.size();
  while (a < b && isspace((unsigned char)s[a])) a++;
  while (b > a && isspace((unsigned char)s[b - 1])) b--;
  return s.substr(a, b - a);
}

void toggle(int* value, const char* what) {
  *value = *value ? 0 : 1;
  show_message("%.60s %s", what, *value ? "ON" : "OFF");
}

void toggle(bool* value, const char* what) {
  *value = !*value;
  show_message("%.60s %s", what, *value ? "ON" : "OFF");
}

// A whole number argument, or false.
bool integer_argument(const std::string& args, int* out) {
  char* end = nullptr;
  const long v = strtol(args.c_str(), &end, 10);
  if (end == args.c_str() || (*end && !isspace((unsigned char)*end)) || v < -1000000000L || v > 1000000000L)
    return false;
  *out = (int)v;
  return true;
}

bool number_argument(const std::string& args, double* out) {
  char* end = nullptr;
  const double v = strtod(args.c_str(), &end);
  if (end == args.c_str() || !std::isfinite(v)) return false;
  *out = v;
  return true;
}

void unavailable(const char* command) { show_message("%s is not available here", command); }

void chat(NetClient* client, const std::string& line, double now, bool spam_rule) {
  if (spam_rule && now - g_console.last_chat < CHAT_REPEAT_SECONDS) {
    show_message("No one likes a spammer");
    return;
  }
  if (!client || !net_connected(*client)) {
    show_message("Not connected to server");
    return;
  }
  const int length = (int)std::min<size_t>(line.size(), MAX_RELIABLE_PAYLOAD);
  if (queue_reliable(client, RELIABLE_TEXT, line.data(), length)) g_console.last_chat = now;
}

void list_files() {
  invalidate_catalogue();
  int shown = 0;
  for (int i = 0; i < data_file_count(); i++) {
    const char* name = data_file_name(i);
    if (strncasecmp(name, "outgoing/", 9) != 0 || !name[9]) continue;
    show_message("%.900s", name + 9);
    shown++;
  }
  if (shown == 0) show_message("No files in outgoing");
}

void run_command(NetClient* client, const std::string& word, const std::string& args) {
  int n = 0;
  double x = 0;
  if (word == "savetrackinfo") {
    TrackInfo info;
    std::string path;
    if (!g_console_hooks.track_info || !g_console_hooks.track_info(&info))
      show_message("No track loaded");
    else if (!write_track_info(info, &path))
      show_message("Can't write the track info");
    else
      show_message("Track info saved to %.900s", path.c_str());
  } else if (word == "renderstats") {
    if (g_console_hooks.reset_render_stats) {
      g_console_hooks.reset_render_stats();
      show_message("Render statistics reset");
    } else {
      unavailable("renderstats");
    }
  } else if (word == "togglespy") {
    toggle(&g_config.spy, "Spy mode");
  } else if (word == "bbopt") {
    if (!integer_argument(args, &n) || n < 0) {
      show_message("Usage: bbopt <window>");
      return;
    }
    g_config.billboard_optimize_lookahead = n;
    show_message("Billboard optimization window is now %d", n);
  } else if (word == "pipe") {
    float a, b, c;
    int d, e;
    if (sscanf(args.c_str(), "%f %f %f %d %d", &a, &b, &c, &d, &e) != 5 || !std::isfinite(a) ||
        !std::isfinite(b) || !std::isfinite(c)) {
      show_message("Usage: pipe <a> <b> <c> <d> <e>");
      return;
    }
    if (!g_console_hooks.set_pipe || !g_console_hooks.set_pipe(a, b, c, d, e)) {
      unavailable("pipe");
      return;
    }
    show_message("Pipe updated");
  } else if (word == "namedemo") {
    name_demo(&g_demo_recorder, args.c_str());
  } else if (word == "camangle") {
    double yaw, pitch;
    if (sscanf(args.c_str(), "%lf %lf", &yaw, &pitch) != 2 || !std::isfinite(yaw) || !std::isfinite(pitch)) {
      show_message("Usage: camangle <yaw> <pitch>");
      return;
    }
    if (!g_console_hooks.aim_camera) {
      unavailable("camangle");
      return;
    }
    g_console_hooks.aim_camera((float)(yaw * DEGREES), (float)(pitch * DEGREES));
    show_message("Camera aimed");
  } else if (word == "fov") {
    if (!number_argument(args, &x) || x <= 0 || x >= 180) {
      show_message("Usage: fov <degrees>");
      return;
    }
    g_config.fov = x;
    show_message("fov set");
  } else if (word == "fpshist") {
    show_message("%s", frame_histogram_text(g_main_loop.clock.stats.counts).c_str());
  } else if (word == "forcereload") {
    g_console.force_reload = true;
    show_message("Track will be reloaded on next restart");
  } else if (word == "readsetup" || word == "writesetup") {
    if (!valid_file_name(args)) {
      show_message("Filename may only contain alphanumeric characters, '_' or '.'");
      return;
    }
    if (word == "writesetup") {
      show_message(write_setup_file(args) ? "Setup written" : "Can't write setup");
    } else if (read_setup_file(args)) {
      show_message("Setup updated");
      if (client) client->client_info_changed = true;
    } else {
      show_message("Error reading setup");
    }
  } else if (word == "randdump") {
    if (g_console_hooks.random_state)
      show_message("%.900s", g_console_hooks.random_state().c_str());
    else
      unavailable("randdump");
  } else if (word == "addkey") {
    Keyframe k;
    if (!g_console_hooks.camera_pose || !g_console_hooks.camera_pose(&k.position, &k.rotation, &k.time)) {
      unavailable("addkey");
      return;
    }
    add_keyframe(&g_console.keyframes, k);
    show_message("Keyframe added");
  } else if (word == "deletekey" || word == "rmkey") {
    show_message(delete_keyframe(&g_console.keyframes) ? "Keyframe deleted" : "No keyframe to delete");
  } else if (word == "clearkeys") {
    clear_keyframes(&g_console.keyframes);
    show_message("Keyframes cleared");
  } else if (word == "listkeys") {
    for (const Keyframe& k : g_console.keyframes.keys) show_message("%s", keyframe_line(k).c_str());
    if (g_console.keyframes.keys.empty()) show_message("No keyframes");
  } else if (word == "togglekeycam") {
    toggle(&g_console.keyframes.active, "Keycam mode");
  } else if (word == "listfiles") {
    list_files();
  } else if (word == "demobackups") {
    if (!integer_argument(args, &n)) {
      show_message("Usage: demobackups <count>");
      return;
    }
    set_demo_backups(n);
  } else if (word == "sendfile") {
    if (client)
      start_upload(client, args.c_str());
    else
      show_message("Not connected to server");
  } else {
    show_message("Unknown command '%.60s'", word.c_str());
  }
}

}  // namespace

bool valid_file_name(const std::string& name) {
  if (name.empty()) return false;
  bool only_dots = true;
  for (char ch : name) {
    if (!isalnum((unsigned char)ch) && ch != '_' && ch != '.') return false;
    if (ch != '.') only_dots = false;
  }
  return !only_dots;
}

bool write_setup_file(const std::string& name) {
  if (!valid_file_name(name)) return false;
  std::error_code ec;
  std::filesystem::create_directories(std::string(home_directory() ? home_directory() : "") + "setups", ec);
  const std::string path = "@setups/" + name;
  DataStream* s = data_open(path.c_str(), "w");
  if (!s) return false;
  const bool ok = write_bike_setup_block(s);
  data_close(s);
  return ok;
}

bool read_setup_file(const std::string& name) {
  if (!valid_file_name(name)) return false;
  const std::string path = "@setups/" + name;
  DataStream* s = data_open(path.c_str(), "r");
  if (!s) return false;
  char line[CONFIG_LINE_MAX + 1];
  int taken = 0;
  while (data_gets(line, sizeof line, s)) {
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    const size_t eq = text.find('=');
    if (eq == std::string::npos) continue;
    if (parse_bike_setup_line(text.substr(0, eq).c_str(), text.substr(eq + 1).c_str())) taken++;
  }
  const bool failed = data_stream_failed(s);
  data_close(s);
  return taken > 0 && !failed;
}

std::string frame_histogram_text(const long counts[7]) {
  std::string text;
  char pair[48];
  for (int i = 0; i < 7; i++) {
    snprintf(pair, sizeof pair, "%d=%ld ", 128 >> i, counts[i]);
    text += pair;
  }
  return text;
}

void console_line(NetClient* client, const char* text, double now, bool spam_rule) {
  const std::string line = trim(text);
  if (line.empty()) return;
  if (line[0] != '/' && line[0] != '\\') {
    chat(client, line, now, spam_rule);
    return;
  }
  const std::string rest = line.substr(1);
  size_t end = 0;
  while (end < rest.size() && !isspace((unsigned char)rest[end])) end++;
  const std::string word = rest.substr(0, end);
  if (word.empty()) {
    show_message("Unknown command ''");
    return;
  }
  run_command(client, word, trim(rest.c_str() + end));
}
