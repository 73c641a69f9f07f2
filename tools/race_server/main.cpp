// race_server: runs online races for the game's clients.
//
//   race_server [--config FILE] [--data DIR]... [--home DIR] [--set key=value]...
//
// Settings (file lines or --set): port, track (once per track of the
// rotation), laps, minutes, password, robots, robot_speed, max_riders,
// warmup, gate_drop, finish_time, max_race, client_timeout, uploads,
// upload_folder, upload_max_bytes, command_file, log_file, motd, no_arcade,
// ban. Commands are read from standard input and from the command file;
// "help" lists them.
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/datafile.h"
#include "platform/clock.h"
#include "render/texture.h"
#include "tools/race_server/server.h"

namespace {

void usage() {
  fprintf(stderr,
          "usage: race_server [--config FILE] [--data DIR]... [--home DIR] [--set key=value]...\n"
          "       (settings: port track laps minutes password robots max_riders warmup gate_drop\n"
          "        finish_time max_race client_timeout uploads upload_folder upload_max_bytes\n"
          "        command_file log_file motd no_arcade ban)\n");
}

// Lines typed on standard input, without blocking the tick.
void poll_console(RaceServer* server, std::string* pending, bool* open) {
  if (!*open) return;
  pollfd p{0, POLLIN, 0};
  while (poll(&p, 1, 0) > 0 && (p.revents & (POLLIN | POLLHUP))) {
    char buffer[512];
    ssize_t n = read(0, buffer, sizeof buffer);
    if (n <= 0) {
      *open = false;
      return;
    }
    pending->append(buffer, (size_t)n);
    size_t end;
    while ((end = pending->find('\n')) != std::string::npos) {
      server_command(server, pending->substr(0, end).c_str());
      pending->erase(0, end + 1);
    }
    if (pending->size() > 4096) pending->clear();
  }
}

}  // namespace

int main(int argc, char** argv) {
  ServerConfig config;
  std::vector<std::string> directories;
  std::string home;
  std::string errors;
  for (int i = 1; i < argc; i++) {
    const std::string a = argv[i];
    const bool has_value = i + 1 < argc;
    if (a == "--config" && has_value) {
      if (!read_server_config(argv[++i], &config, &errors)) {
        fprintf(stderr, "%s", errors.c_str());
        return 1;
      }
    } else if (a == "--data" && has_value) {
      directories.push_back(argv[++i]);
    } else if (a == "--home" && has_value) {
      home = argv[++i];
    } else if (a == "--set" && has_value) {
      const std::string kv = argv[++i];
      const size_t eq = kv.find('=');
      if (eq == std::string::npos ||
          !apply_server_setting(&config, kv.substr(0, eq).c_str(), kv.substr(eq + 1).c_str(), &errors)) {
        fprintf(stderr, "%s", errors.empty() ? ("Bad setting '" + kv + "'\n").c_str() : errors.c_str());
        return 1;
      }
    } else if (a == "--help" || a == "-h") {
      usage();
      return 0;
    } else {
      fprintf(stderr, "Unknown option '%s'\n", a.c_str());
      usage();
      return 1;
    }
  }
  if (!home.empty() || !directories.empty()) {
    std::vector<std::string> search;
    search.push_back(home.empty() ? "." : home);
    search.insert(search.end(), directories.begin(), directories.end());
    set_search_directories(search);
  }
  create_home_directory();
  install_shutdown_signals();

  static RaceServer server;
  double start = platform_seconds();
  if (!start_server(&server, config, start)) return 1;
  std::string pending;
  bool console_open = true;
  double next = start;
  while (!server.quit && !shutdown_requested()) {
    server_tick(&server, platform_seconds());
    poll_console(&server, &pending, &console_open);
    const double now = platform_seconds();
    if (next < now - 0.25) next = now;  // fell far behind: no burst of catching up
    while (next <= now) next += TICK_SECONDS;
    // Sleep to the next tick, but wake for a datagram so replies go out at once.
    wait_readable(server.socket, next - now);
  }
  stop_server(&server);
  purge_textures(true);  // the track's, from the shared cache
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  const double cpu = (double)usage.ru_utime.tv_sec + usage.ru_utime.tv_usec * 1e-6 + (double)usage.ru_stime.tv_sec +
                     usage.ru_stime.tv_usec * 1e-6;
  const double wall = platform_seconds() - start;
  printf("CPU %.2f s in %.1f s (%.1f%% of one core); %ld datagrams in, %ld out, %ld bytes in, %ld out\n", cpu, wall,
         wall > 0 ? 100.0 * cpu / wall : 0.0, server.datagrams_in, server.datagrams_out, server.bytes_in,
         server.bytes_out);
  printf("refused %ld datagrams; %ld sends failed\n", server.refused, server.send_failures);
  return 0;
}
