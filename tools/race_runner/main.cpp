// Headless race runner: a race on a track of the data set (or an in-code
// course) with scripted players, robots and idle bikes, as fast as the
// machine runs it; prints the timing log, the running order and lap times.
//
//   race_runner [--track NAME | --course NAME] [--data DIR] [--home DIR]
//               [--lineup h,r,t,f,e...] [--time-trial] [--script FILE]
//               [--follow-robots] [--ticks N] [--laps N] [--minutes M]
//               [--skill 0..2] [--learn] [--lines DIR] [--trace N] [--trace-slot S] [--quiet]
//               [--practice] [--record-demo FILE]
//               [--erode 0..100] [--rut-image FILE.png] [--rut-scale FT]
//               [--rut-crop C0,R0,C1,R1] [--rut-zoom K]
//   race_runner --play-demo FILE [--data DIR] [--home DIR] [--quiet]
//   race_runner --bench 1,20,160 [--seconds S]
//   race_runner --connect HOST[:PORT] [--player scripted|robot|idle] [--races N]
//               [--seconds S] [--name NAME] [--track NAME] [--script FILE] [--skill 0..2] [--data DIR] [--home DIR]
//
// Lineup entries: h the scripted player, r a robot, t a robot on a 125, f a
// robot on a four-stroke, e an empty gate. Without --lineup the player
// rides alone. Robots ride the lines of the skill (searched in the home
// directory, then --lines DIR, then the data) unless --follow-robots makes
// them chase the riding line; --learn records every bike's passages into
// the lines, saved into the home directory (keep it with --home). --trace N logs the
// player's position and speed every N steps (--trace-slot: that slot's
// bike instead, or "all" of them, with their robots' state). The script format is
// tools/ride/ride.h's; "-" reads it from standard input. --record-demo
// records the race and saves the demo to FILE; --practice makes the laps
// lap demos raced against the fast lap's ghost. --play-demo plays FILE on
// its own track and compares every state in it with the played bike's
// position. --erode makes the wheels dig ruts at that strength (clamped to
// 0..100); the report then says what changed on the ground and where, and
// --rut-image writes the difference of the heights after the race from
// those before (dug red, piled green, full colour at --rut-scale feet,
// default 0.5; any change off the wheel tracks white), of the vertices in
// --rut-crop (the whole field without it), each --rut-zoom pixels a side.
// Exit code 0 on success, 1 on bad input, a track that does not load, a
// playback that strays from its demo, or ground that changed off the wheel
// tracks or stopped being finite.
//
// With --connect the runner joins a race server as one player and rides
// the server's races in real time: its bike follows the script's riding
// line (scripted, the default; the script's "follow" speed), is ridden by a
// robot of the skill, or stands at its gate (idle). It ends when it has seen
// the results of N races (default 1) or after S seconds (default 600), and
// prints the server's messages; exit code 0 when the races were seen.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/datafile.h"
#include "platform/clock.h"
#include "tools/race_runner/runner.h"
#include "tools/race_runner/runner_online.h"
#include "track/track.h"

#ifndef DV_GAME_DIR
#define DV_GAME_DIR "."
#endif

namespace {

void usage() {
  fprintf(stderr,
          "usage: race_runner [--track NAME | --course NAME] [--data DIR] [--home DIR]\n"
          "                   [--lineup h,r,t,f,e...] [--time-trial] [--script FILE] [--follow-robots]\n"
          "                   [--ticks N] [--laps N] [--minutes M] [--skill 0..2] [--learn] [--lines DIR]\n"
          "                   [--trace N] [--trace-slot S] [--quiet] [--practice] [--record-demo FILE]\n"
          "                   [--erode 0..100] [--rut-image FILE.png]\n"
          "                   [--rut-scale FT] [--rut-crop C0,R0,C1,R1] [--rut-zoom K]\n"
          "       race_runner --play-demo FILE [--data DIR] [--home DIR] [--quiet]\n"
          "       race_runner --bench 1,20,160 [--seconds S]\n"
          "       race_runner --connect HOST[:PORT] [--player scripted|robot|idle] [--races N] [--seconds S]\n"
          "                   [--name NAME] [--track NAME] [--script FILE] [--skill 0..2] [--data DIR] [--home DIR]\n");
}

bool read_file(const char* name, std::string* out) {
  FILE* f = strcmp(name, "-") == 0 ? stdin : fopen(name, "rb");
  if (!f) return false;
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) out->append(buffer, n);
  bool ok = !ferror(f);
  if (f != stdin) fclose(f);
  return ok;
}

bool number(const char* text, double lo, double hi, double* out) {
  char* end = nullptr;
  double v = strtod(text, &end);
  if (!*text || *end || !(v >= lo && v <= hi)) return false;
  *out = v;
  return true;
}

int bad_arg(const char* option) {
  fprintf(stderr, "Bad arg for %s\n", option);
  return 1;
}

int bench(const char* counts_text, double seconds) {
  std::vector<int> counts;
  std::string copy = counts_text;
  for (char* p = strtok(copy.data(), ","); p; p = strtok(nullptr, ",")) {
    double n;
    if (!number(p, 1, MAX_BIKES, &n)) {
      fprintf(stderr, "Bad arg for --bench\n");
      return 1;
    }
    counts.push_back((int)n);
  }
  printf("race step against the bike simulation, proving ground, bikes chasing its line at 30 mph\n");
  printf("%6s %8s %14s %14s %8s %10s %10s\n", "bikes", "ticks", "race ticks/s", "bike ticks/s", "ratio", "x realtime",
         "x rt (cpu)");
  for (int count : counts) {
    RaceBenchFigures f;
    char error[256];
    if (!bench_race_step(count, seconds, &f, error, sizeof error)) {
      fprintf(stderr, "%s\n", error);
      return 1;
    }
    printf("%6d %8d %14.1f %14.1f %8.3f %10.2f %10.2f\n", f.bikes, f.ticks, f.race_ticks_per_second,
           f.bike_ticks_per_second, f.bike_ticks_per_second / f.race_ticks_per_second,
           f.race_ticks_per_second / TICKS_PER_SECOND, f.race_cpu_ticks_per_second / TICKS_PER_SECOND);
  }
  printf("ratio: time of a race step over the bike simulation's share of it; x realtime: race steps\n"
         "against the 128 a second of real time, by the wall clock and by this thread's processor time\n");
  return 0;
}

int ride_online(std::unique_ptr<OnlineRunner> online, const RunnerOptions& options, const char* address, int races,
                double seconds, const std::string& name) {
  char error[256];
  online->echo = true;
  if (!start_online_runner(online.get(), options, address, error, sizeof error)) {
    fprintf(stderr, "%s\n", error);
    return 1;
  }
  if (!name.empty()) online->runner.race.player.name = online->client.own_info.name = name;
  const double end = platform_seconds() + seconds;
  while (platform_seconds() < end && online->results_seen < races) {
    run_online_runner(online.get(), platform_seconds());
    if (online->client.socket >= 0) wait_readable(online->client.socket, 0.002);
    else precise_sleep(0.002);
  }
  const bool done = online->results_seen >= races;
  printf("%d of %d races ridden to their results, %d race resets from the server\n", online->results_seen, races,
         online->races_prepared);
  end_online_runner(online.get());
  return done ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  RunnerOptions options;
  std::string data = DV_GAME_DIR, home, lines;
  const char* script_name = nullptr;
  const char* bench_counts = nullptr;
  double seconds = 10;
  bool quiet = false;
  const char* connect = nullptr;
  double races = 1, online_seconds = 600;
  std::string name;
  const char* rut_image = nullptr;
  double rut_scale = 0.5;
  TerrainRegion rut_crop = EMPTY_REGION;
  int rut_zoom = 1;
  for (int i = 1; i < argc; i++) {
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        fprintf(stderr, "%s needs a value\n", name);
        exit(1);
      }
      return argv[++i];
    };
    double v;
    const char* a = argv[i];
    if (strcmp(a, "--track") == 0) options.track = value(a);
    else if (strcmp(a, "--course") == 0) options.course = value(a);
    else if (strcmp(a, "--data") == 0) data = value(a);
    else if (strcmp(a, "--home") == 0) home = value(a);
    else if (strcmp(a, "--script") == 0) script_name = value(a);
    else if (strcmp(a, "--time-trial") == 0) options.time_trial = true;
    else if (strcmp(a, "--practice") == 0) options.practice = true;
    else if (strcmp(a, "--record-demo") == 0) options.record_demo = value(a);
    else if (strcmp(a, "--play-demo") == 0) options.play_demo = value(a);
    else if (strcmp(a, "--follow-robots") == 0) options.follow_robots = true;
    else if (strcmp(a, "--learn") == 0) options.learn = true;
    else if (strcmp(a, "--nolearn") == 0) options.learn = false;
    else if (strcmp(a, "--lines") == 0) lines = value(a);
    else if (strcmp(a, "--quiet") == 0) quiet = true;
    else if (strcmp(a, "--bench") == 0) bench_counts = value(a);
    else if (strcmp(a, "--connect") == 0) connect = value(a);
    else if (strcmp(a, "--name") == 0) name = value(a);
    else if (strcmp(a, "--player") == 0) {
      const char* p = value(a);
      if (strcmp(p, "scripted") == 0) options.player_rider = PLAYER_SCRIPTED;
      else if (strcmp(p, "robot") == 0) options.player_rider = PLAYER_ROBOT;
      else if (strcmp(p, "idle") == 0) options.player_rider = PLAYER_IDLE;
      else return bad_arg(a);
    } else if (strcmp(a, "--races") == 0) {
      if (!number(value(a), 1, 1000, &races)) return bad_arg(a);
    }
    else if (strcmp(a, "--lineup") == 0) {
      char error[128];
      if (!parse_lineup(value(a), &options.lineup, error, sizeof error)) {
        fprintf(stderr, "Bad arg for --lineup: %s\n", error);
        return 1;
      }
    } else if (strcmp(a, "--ticks") == 0) {
      if (!number(value(a), 0, 1e9, &v)) return bad_arg(a);
      options.ticks = (int)v;
    } else if (strcmp(a, "--laps") == 0) {
      if (!number(value(a), 0, 1000, &v)) return bad_arg(a);
      options.laps = (int)v;
    } else if (strcmp(a, "--minutes") == 0) {
      if (!number(value(a), 0, 600, &v)) return bad_arg(a);
      options.minutes = v;
    } else if (strcmp(a, "--skill") == 0) {
      if (!number(value(a), 0, 2, &v)) return bad_arg(a);
      options.skill = (int)v;
    } else if (strcmp(a, "--trace") == 0) {
      if (!number(value(a), 1, 1e6, &v)) return bad_arg(a);
      options.trace_every = (int)v;
    } else if (strcmp(a, "--trace-slot") == 0) {
      const char* slot = value(a);
      if (strcmp(slot, "all") == 0) options.trace_slot = TRACE_ALL;
      else if (number(slot, 0, MAX_BIKES - 1, &v)) options.trace_slot = (int)v;
      else return bad_arg(a);
    } else if (strcmp(a, "--erode") == 0) {
      // Any number is taken, clamped to the range.
      if (!number(value(a), -1e30, 1e30, &v)) return bad_arg(a);
      options.erosion = (float)std::clamp(v, 0.0, 100.0);
    } else if (strcmp(a, "--rut-image") == 0) {
      rut_image = value(a);
    } else if (strcmp(a, "--rut-scale") == 0) {
      if (!number(value(a), 1e-6, 100, &v)) return bad_arg(a);
      rut_scale = v;
    } else if (strcmp(a, "--rut-crop") == 0) {
      TerrainRegion c;
      char end;
      if (sscanf(value(a), "%d,%d,%d,%d%c", &c.c0, &c.r0, &c.c1, &c.r1, &end) != 4 || region_empty(c))
        return bad_arg(a);
      rut_crop = c;
    } else if (strcmp(a, "--rut-zoom") == 0) {
      if (!number(value(a), 1, 16, &v)) return bad_arg(a);
      rut_zoom = (int)v;
    } else if (strcmp(a, "--seconds") == 0) {
      if (!number(value(a), 0.01, 86400, &v)) return bad_arg(a);
      seconds = v;
      online_seconds = v;
    } else {
      usage();
      return 1;
    }
  }
  if (bench_counts) return bench(bench_counts, seconds);
  if (!options.play_demo.empty() && !options.record_demo.empty()) {
    fprintf(stderr, "Can't record and play from same run\n");
    return 1;
  }
  options.record_ground = options.erosion > 0 || rut_image;
  if (connect && (!options.play_demo.empty() || !options.record_demo.empty() || !options.course.empty())) {
    fprintf(stderr, "--connect rides the server's tracks: no --course, --play-demo or --record-demo\n");
    return 1;
  }
  if (!connect && options.play_demo.empty() && options.track.empty() == options.course.empty()) {
    fprintf(stderr, "Give one of --track and --course\n");
    usage();
    return 1;
  }
  if (script_name) {
    std::string text;
    if (!read_file(script_name, &text)) {
      fprintf(stderr, "Can't read '%.900s'\n", script_name);
      return 1;
    }
    char error[256];
    if (!parse_ride_script(text.data(), text.size(), &options.script, error, sizeof error)) {
      fprintf(stderr, "%.900s: %s\n", script_name, error);
      return 1;
    }
  }

  // The home directory takes what the race writes; a scratch one unless given.
  bool scratch_home = home.empty();
  if (scratch_home) {
    char pattern[] = "/tmp/race_runner_XXXXXX";
    if (!mkdtemp(pattern)) {
      fprintf(stderr, "Can't make a scratch home directory\n");
      return 1;
    }
    home = pattern;
  }
  if (lines.empty()) set_search_directories({home, data});
  else set_search_directories({home, lines, data});

  if (connect) {
    const int code = ride_online(std::make_unique<OnlineRunner>(), options, connect, (int)races, online_seconds, name);
    if (scratch_home) {
      std::error_code ec;
      std::filesystem::remove_all(home, ec);
    }
    return code;
  }

  auto runner = std::make_unique<Runner>();
  char error[256];
  int code = 0;
  if (!start_runner(runner.get(), options, error, sizeof error)) {
    fprintf(stderr, "%s\n", error);
    code = 1;
  } else {
    printf("Timing log (seconds from the gate drop):\n");
    run_runner(runner.get(), quiet ? nullptr : stdout);
    write_race_report(stdout, *runner);
    end_ground_record(runner.get());
    write_ground_report(stdout, *runner);
    if (rut_image) {
      if (write_rut_image(rut_image, runner->race.track->terrain, runner->ground, (float)rut_scale, rut_crop,
                          rut_zoom))
        printf("Wrote %s\n", rut_image);
      else {
        fprintf(stderr, "Can't write '%.900s'\n", rut_image);
        code = 1;
      }
    }
    if (!runner->ground.all_finite || runner->ground.changed_off_track > 0) code = 1;
  }
  const int ticks_run = runner->race.tick - runner->start_tick;
  end_runner(runner.get());
  if (code == 0 && !options.play_demo.empty() && !write_playback_check(stdout, runner->check)) code = 1;
  if (code == 0 && !options.record_demo.empty()) {
    std::error_code ec;
    const auto bytes = std::filesystem::file_size(options.record_demo, ec);
    const int riders = runner->replay.recorder->rider_count;
    if (!runner->demo_saved || ec) {
      fprintf(stderr, "Can't save the demo to '%.900s'\n", options.record_demo.c_str());
      code = 1;
    } else {
      const double minutes = ticks_run / (60.0 * TICKS_PER_SECOND);
      printf("Demo %s: %ju bytes, %d riders, %.2f s", options.record_demo.c_str(), (uintmax_t)bytes, riders,
             minutes * 60);
      if (riders > 0 && minutes > 0)
        printf(": %.0f bytes per rider per minute (%.1f per second)", bytes / (riders * minutes),
               bytes / (riders * minutes * 60));
      printf("\n");
    }
  }
  if (scratch_home) {
    std::error_code ec;
    std::filesystem::remove_all(home, ec);
  }
  return code;
}
