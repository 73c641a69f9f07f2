// The operator's side: the configuration file, console commands (typed or
// dropped into the command file), chat relay, and file uploads.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "core/datafile.h"
#include "net/client.h"
#include "tools/race_server/server.h"

namespace {

constexpr double CHAT_WINDOW_SECONDS = 10.0;  // at most five lines in this window
constexpr int UPLOAD_NAME_MAX = 200;

std::string trim(const std::string& text) {
  size_t a = 0, b = text.size();
  while (a < b && isspace((unsigned char)text[a])) a++;
  while (b > a && isspace((unsigned char)text[b - 1])) b--;
  return text.substr(a, b - a);
}

bool parse_int(const char* text, long lo, long hi, int* out) {
  char* end = nullptr;
  errno = 0;
  long v = strtol(text, &end, 10);
  if (errno || end == text || *end || v < lo || v > hi) return false;
  *out = (int)v;
  return true;
}

bool parse_double(const char* text, double lo, double hi, double* out) {
  char* end = nullptr;
  double v = strtod(text, &end);
  if (end == text || *end || !std::isfinite(v) || v < lo || v > hi) return false;
  *out = v;
  return true;
}

bool parse_bool(const char* text, bool* out) {
  std::string t = text;
  for (char& ch : t) ch = (char)tolower((unsigned char)ch);
  if (t == "1" || t == "yes" || t == "on" || t == "true") return *out = true, true;
  if (t == "0" || t == "no" || t == "off" || t == "false") return *out = false, true;
  return false;
}

// "@name" lies in the home directory; anything else is taken as a path.
std::string home_path(const std::string& name) {
  if (!name.empty() && name[0] == '@') return std::string(home_directory() ? home_directory() : "./") + name.substr(1);
  return name;
}

bool upload_name_ok(const std::string& name) {
  if (name.empty() || name.size() > UPLOAD_NAME_MAX) return false;
  bool only_dots = true;
  for (char ch : name) {
    if (!isalnum((unsigned char)ch) && ch != '_' && ch != '.') return false;
    if (ch != '.') only_dots = false;
  }
  // A leading dot would hide the file beside our partial ones.
  return !only_dots && name[0] != '.';
}

void send_command(RaceServer* s, ServerClient* c, const char* text) {
  server_queue_reliable(s, c, RELIABLE_COMMAND, text, (int)strlen(text));
}

int find_client(RaceServer* s, const std::string& who) {
  int slot;
  if (parse_int(who.c_str(), 0, (long)s->clients.size() - 1, &slot)) return slot;
  for (size_t i = 0; i < s->clients.size(); i++)
    if (s->clients[i].state == CLIENT_JOINED && s->clients[i].info.name == who) return (int)i;
  return -1;
}

void kick(RaceServer* s, int slot, const char* text, const char* reason) {
  ServerClient& c = s->clients[(size_t)slot];
  if (c.state == CLIENT_FREE || c.robot) return;
  ServerMessage m = server_message(SV_ERROR);
  m.text = reinterpret_cast<const uint8_t*>(text);
  m.text_length = (int)strlen(text);
  server_send_message(s, &c, m);
  drop_client(s, slot, reason);
}

}  // namespace

// --- configuration -----------------------------------------------------------------------

bool apply_server_setting(ServerConfig* c, const char* key_text, const char* value_text, std::string* errors) {
  const std::string key = trim(key_text), value = trim(value_text);
  const char* v = value.c_str();
  bool ok = true, flag = false;
  if (key == "port") {
    ok = parse_int(v, 0, 65535, &c->port);
  } else if (key == "track") {
    ok = !value.empty() && value.find("..") == std::string::npos;
    if (ok) c->tracks.push_back(value);
  } else if (key == "laps") {
    ok = parse_int(v, 0, 1000, &c->laps);
  } else if (key == "minutes") {
    ok = parse_double(v, 0, 600, &c->minutes);
  } else if (key == "password") {
    c->password = value;
  } else if (key == "robots") {
    ok = parse_int(v, 0, SERVER_MAX_RIDERS, &c->robots);
  } else if (key == "robot_speed") {
    double speed;
    ok = parse_double(v, 1, 200, &speed);
    if (ok) c->robot_speed = (float)speed;
  } else if (key == "max_riders") {
    ok = parse_int(v, 1, SERVER_MAX_RIDERS, &c->max_riders);
  } else if (key == "warmup") {
    ok = parse_double(v, 0, 3600, &c->warmup_seconds);
  } else if (key == "gate_drop") {
    ok = parse_double(v, 1, 120, &c->gate_drop_seconds);
  } else if (key == "finish_time") {
    ok = parse_double(v, 0, 3600, &c->finish_seconds);
  } else if (key == "max_race") {
    ok = parse_double(v, 10, 86400, &c->max_race_seconds);
  } else if (key == "client_timeout") {
    ok = parse_double(v, 1, 3600, &c->client_timeout);
  } else if (key == "uploads") {
    ok = parse_bool(v, &flag);
    if (ok) c->uploads = flag;
  } else if (key == "upload_folder") {
    ok = !value.empty();
    if (ok) c->upload_folder = value.back() == '/' ? value : value + "/";
  } else if (key == "upload_max_bytes") {
    int bytes;
    ok = parse_int(v, 0, 1L << 30, &bytes);
    if (ok) c->upload_max_bytes = bytes;
  } else if (key == "command_file") {
    c->command_file = value;
  } else if (key == "log_file") {
    c->log_file = value;
  } else if (key == "motd") {
    c->motd = value;
  } else if (key == "no_arcade") {
    ok = parse_bool(v, &flag);
    if (ok) c->no_arcade = flag;
  } else if (key == "ban") {
    ok = !value.empty();
    if (ok) c->bans.push_back(value);
  } else {
    if (errors) *errors += "Unknown setting '" + key + "'\n";
    return false;
  }
  if (!ok && errors) *errors += "Bad value '" + value + "' for '" + key + "'\n";
  return ok;
}

bool read_server_config(const char* path, ServerConfig* config, std::string* errors) {
  FILE* f = fopen(path, "r");
  if (!f) {
    if (errors) *errors += std::string("Can't open '") + path + "'\n";
    return false;
  }
  char line[1024];
  bool ok = true;
  int number = 0;
  while (fgets(line, sizeof line, f)) {
    number++;
    std::string text = trim(line);
    if (text.empty() || text[0] == '#') continue;
    size_t split = text.find('=');
    if (split == std::string::npos) split = text.find_first_of(" \t");
    if (split == std::string::npos) {
      if (errors) *errors += "Line " + std::to_string(number) + ": no value for '" + text + "'\n";
      ok = false;
      continue;
    }
    ok = apply_server_setting(config, text.substr(0, split).c_str(), text.substr(split + 1).c_str(), errors) && ok;
  }
  fclose(f);
  return ok;
}

// --- console commands ---------------------------------------------------------------------

void server_command(RaceServer* s, const char* line_text) {
  const std::string line = trim(line_text ? line_text : "");
  if (line.empty() || line[0] == '#') return;
  const size_t space = line.find_first_of(" \t");
  const std::string word = line.substr(0, space);
  const std::string args = space == std::string::npos ? "" : trim(line.substr(space));

  if (word == "help") {
    server_log(s, "Commands: list, status, results, say <text>, kick <slot|name>, ban <slot|name|address>, "
                  "unban <address>, start, restart, next, warmup, track <name>, set <setting> <value>, quit\n");
  } else if (word == "list") {
    for (size_t i = 0; i < s->clients.size(); i++) {
      const ServerClient& c = s->clients[i];
      if (c.state == CLIENT_FREE) continue;
      const LapState lap = lap_state(s->track.gates, c.timing);
      server_log(s, "%3d %-20.20s %-21s %s ping %d gates %d laps %d\n", (int)i, c.info.name.c_str(),
                 c.robot ? "robot" : format_address(c.address).c_str(),
                 c.state == CLIENT_CONTACTED ? "joining" : (c.rider ? "riding" : "watching"), c.ping,
                 c.timing.gates_passed, lap.completed_laps);
    }
  } else if (word == "status") {
    const char* phases[] = {"warmup", "race", "finish", "results"};
    server_log(s, "%s %u on %s, tick %d, %ld datagrams in, %ld out, %ld refused\n", phases[s->phase], s->race_id,
               s->track.name.c_str(), s->server_tick, s->datagrams_in, s->datagrams_out, s->refused);
  } else if (word == "results") {
    for (const std::string& r : s->results) server_log(s, "%s\n", r.c_str());
  } else if (word == "say") {
    server_say(s, -1, "Server: %.440s", args.c_str());
    server_log(s, "Server: %s\n", args.c_str());
  } else if (word == "kick") {
    int slot = find_client(s, args);
    if (slot < 0 || s->clients[(size_t)slot].state == CLIENT_FREE)
      server_log(s, "No client '%s'\n", args.c_str());
    else
      kick(s, slot, "Kicked from the server\n", "was kicked");
  } else if (word == "ban") {
    int slot = find_client(s, args);
    std::string host = args;
    if (slot >= 0 && s->clients[(size_t)slot].state != CLIENT_FREE && !s->clients[(size_t)slot].robot) {
      host = format_address(s->clients[(size_t)slot].address);
      host.resize(host.rfind(':'));
    }
    SocketAddress probe;
    if (host.empty() || !resolve_address(host.c_str(), 1, &probe)) {
      server_log(s, "No client or address '%s'\n", args.c_str());
      return;
    }
    s->config.bans.push_back(host);
    server_log(s, "Banned %s\n", host.c_str());
    for (size_t i = 0; i < s->clients.size(); i++) {
      std::string a = format_address(s->clients[i].address);
      a.resize(a.rfind(':'));
      if (s->clients[i].state != CLIENT_FREE && !s->clients[i].robot && a == host)
        kick(s, (int)i, "You are banned from this server\n", "was banned");
    }
  } else if (word == "unban") {
    auto& bans = s->config.bans;
    size_t before = bans.size();
    bans.erase(std::remove(bans.begin(), bans.end(), args), bans.end());
    server_log(s, bans.size() < before ? "Unbanned %s\n" : "%s was not banned\n", args.c_str());
  } else if (word == "start" || word == "restart") {
    begin_phase(s, PHASE_RACE);
  } else if (word == "warmup") {
    // The same track again: only a warmup after a race moves to the next.
    s->phase = PHASE_WARMUP;
    begin_phase(s, PHASE_WARMUP);
  } else if (word == "next") {
    s->phase = PHASE_RACE;  // so the warmup moves on to the next track
    begin_phase(s, PHASE_WARMUP);
  } else if (word == "track") {
    int found = -1;
    for (size_t i = 0; i < s->track_names.size(); i++)
      if (s->track_names[i] == args) found = (int)i;
    if (found < 0) {
      server_log(s, "Track '%s' is not in the rotation\n", args.c_str());
      return;
    }
    s->track_index = found - 1;
    s->phase = PHASE_RACE;
    begin_phase(s, PHASE_WARMUP);
  } else if (word == "set") {
    const size_t split = args.find_first_of(" \t");
    std::string errors;
    if (split == std::string::npos ||
        !apply_server_setting(&s->config, args.substr(0, split).c_str(), args.substr(split + 1).c_str(), &errors))
      server_log(s, "%s", errors.empty() ? "Usage: set <setting> <value>\n" : errors.c_str());
    else
      server_log(s, "%s set for the next race\n", args.substr(0, split).c_str());
  } else if (word == "quit") {
    s->quit = true;
  } else {
    server_log(s, "Unknown command '%s' (try help)\n", word.c_str());
  }
}

void poll_command_file(RaceServer* s) {
  if (s->config.command_file.empty()) return;
  const std::string path = home_path(s->config.command_file);
  FILE* f = fopen(path.c_str(), "r");
  if (!f) return;
  std::vector<std::string> lines;
  char line[1024];
  while (fgets(line, sizeof line, f)) lines.emplace_back(line);
  fclose(f);
  if (lines.empty()) return;
  // Emptied before running, so a command that stops the server is not run
  // again at the next start.
  if (FILE* w = fopen(path.c_str(), "w")) fclose(w);
  for (const std::string& l : lines) {
    server_log(s, "> %s", l.c_str());
    server_command(s, l.c_str());
  }
}

// --- chat ------------------------------------------------------------------------------------

void take_chat(RaceServer* s, ServerClient* c, const uint8_t* payload, int length) {
  std::string text;
  for (int i = 0; i < length && i < MAX_RELIABLE_PAYLOAD; i++) {
    unsigned char ch = payload[i];
    if (ch == 0) break;
    text += ch < 32 ? ' ' : (char)ch;
  }
  text = trim(text);
  if (text.empty()) return;
  // The client keeps two seconds between lines; a client that does not gets
  // five lines in ten seconds.
  double* oldest = &c->chat_times[0];
  for (double& t : c->chat_times)
    if (t < *oldest) oldest = &t;
  if (*oldest > 0.0 && s->now - *oldest < CHAT_WINDOW_SECONDS) {
    server_say(s, client_index(*s, c), "No one likes a spammer");
    return;
  }
  *oldest = s->now;
  server_log(s, "%s: %s\n", c->info.name.c_str(), text.c_str());
  server_say(s, -1, "%.40s: %.400s", c->info.name.c_str(), text.c_str());
}

// --- uploads -----------------------------------------------------------------------------------

void close_upload(ServerClient* c, bool keep) {
  if (c->upload.file) fclose(c->upload.file);
  if (!keep && !c->upload.partial.empty()) unlink(c->upload.partial.c_str());
  c->upload = ServerUpload();
}

void take_command(RaceServer* s, ServerClient* c, const uint8_t* payload, int length) {
  const char* args = nullptr;
  const std::string text(reinterpret_cast<const char*>(payload), (size_t)length);
  if (command_word(text.c_str(), "sendfile", &args)) {
    if (!s->config.uploads || c->upload.file) {
      send_command(s, c, "senddenied");
      return;
    }
    const std::string folder = home_path(s->config.upload_folder);
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    c->upload.partial = folder + ".partial-" + std::to_string(client_index(*s, c)) + "-" + std::to_string(c->key);
    c->upload.file = fopen(c->upload.partial.c_str(), "wb");
    if (!c->upload.file) {
      server_log(s, "Can't write '%s'\n", c->upload.partial.c_str());
      c->upload = ServerUpload();
      send_command(s, c, "senddenied");
      return;
    }
    server_log(s, "%s is sending a file\n", c->info.name.c_str());
    send_command(s, c, "sendready");
  } else if (length >= 10 && memcmp(payload, "sendpart -", 10) == 0) {
    if (!c->upload.file) return;
    const long part = length - 10;
    if (c->upload.bytes + part > s->config.upload_max_bytes) {
      server_log(s, "Upload from %s passed %ld bytes; stopped\n", c->info.name.c_str(), s->config.upload_max_bytes);
      close_upload(c, false);
      server_say(s, client_index(*s, c), "File too large for this server");
      send_command(s, c, "senddenied");
      return;
    }
    if (fwrite(payload + 10, 1, (size_t)part, c->upload.file) != (size_t)part) {
      server_log(s, "Upload from %s could not be written\n", c->info.name.c_str());
      close_upload(c, false);
      send_command(s, c, "senddenied");
      return;
    }
    c->upload.bytes += part;
  } else if (command_word(text.c_str(), "namefile", &args)) {
    if (!c->upload.file) return;
    const std::string name = trim(args);
    if (!upload_name_ok(name)) {
      server_log(s, "Upload from %s refused: bad name\n", c->info.name.c_str());
      close_upload(c, false);
      server_say(s, client_index(*s, c), "File name refused");
      return;
    }
    fclose(c->upload.file);
    c->upload.file = nullptr;
    const std::string folder = home_path(s->config.upload_folder);
    std::string target = folder + name;
    // Never over an earlier upload: "name.1", "name.2", ...
    struct stat st;
    for (int n = 1; stat(target.c_str(), &st) == 0 && n < 1000; n++) target = folder + name + "." + std::to_string(n);
    if (stat(target.c_str(), &st) == 0 || rename(c->upload.partial.c_str(), target.c_str()) != 0) {
      server_log(s, "Can't store the upload as '%s'\n", target.c_str());
      close_upload(c, false);
      return;
    }
    server_log(s, "Received '%s' (%ld bytes) from %s\n", target.c_str(), c->upload.bytes, c->info.name.c_str());
    server_say(s, client_index(*s, c), "File received");
    c->upload = ServerUpload();
  }
}
