#include "replay/demo_modes.h"

#include <sys/stat.h>

#include <cstdio>
#include <vector>

#include "core/datafile.h"
#include "core/message.h"
#include "race/timing.h"
#include "replay/bike_replay.h"

const char* const LAST_LAP_DEMO = "lastlap.dvdemo";
const char* const FAST_LAP_DEMO = "fastlap.dvdemo";

namespace {

// The file system path a name stands for: "@" names in the first search
// directory that holds them (the home directory when none does).
std::string resolve(const char* name) {
  if (name[0] != '@') return name;
  struct stat st;
  for (int i = 0; const char* dir = search_directory(i); i++) {
    std::string path = std::string(dir) + (name + 1);
    if (stat(path.c_str(), &st) == 0) return path;
  }
  const char* home = home_directory();
  return std::string(home ? home : "") + (name + 1);
}

bool file_exists(const char* name) {
  DataStream* s = data_open(name, "rb");
  if (!s) return false;
  data_close(s);
  return true;
}

}  // namespace

std::string track_demo_path(const char* track, const char* file) {
  return std::string("@") + (track ? track : "") + "/" + file;
}

std::string playback_demo_path(const char* picked, bool practice, const char* track) {
  if (picked && picked[0]) return picked;
  if (practice) return track_demo_path(track, FAST_LAP_DEMO);
  return DEMO_DEFAULT_PATH;
}

bool same_demo_file(const char* a, const char* b) {
  if (!a || !b) return false;
  std::string pa = resolve(a), pb = resolve(b);
  struct stat sa, sb;
  if (stat(pa.c_str(), &sa) == 0 && stat(pb.c_str(), &sb) == 0) {
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  }
  return pa == pb;
}

bool recording_allowed_while_playing(const char* playing, bool record) {
  if (!record) return false;
  if (playing && same_demo_file(playing, DEMO_DEFAULT_PATH)) {
    show_message("Can't record and play from same file - recording disabled");
    return false;
  }
  return true;
}

bool copy_demo_file(const char* from, const char* to) {
  std::vector<unsigned char> bytes;
  if (!data_read_all(from, bytes)) return false;
  std::string temporary = std::string(to) + ".new";
  DataStream* out = data_open(temporary.c_str(), "wb");
  if (!out) return false;
  bool written = data_write(out, bytes.data(), bytes.size()) == bytes.size() && data_flush(out) == 0;
  data_close(out);
  if (!written || !data_rename(temporary.c_str(), to)) {
    std::string path = resolve(temporary.c_str());
    remove(path.c_str());
    return false;
  }
  return true;
}

bool end_practice_lap(DemoRecorder* recorder, DemoPlayer* player, StateHistory histories[MAX_BIKES],
                      Bike* const bikes[MAX_BIKES], const int mode[MAX_BIKES], int tick, const char* track,
                      bool lap_improves) {
  close_demo(player);
  stop_recording_bikes(recorder, histories, bikes, mode, tick, g_record_scale, g_record_integrity);
  std::string last = track_demo_path(track, LAST_LAP_DEMO);
  std::string fast = track_demo_path(track, FAST_LAP_DEMO);
  if (file_exists(fast.c_str()) && !lap_improves) return false;
  if (copy_demo_file(last.c_str(), fast.c_str())) return true;
  show_message("Can't save the fast lap '%.200s'", fast.c_str());
  return false;
}

bool begin_practice_lap(DemoRecorder* recorder, DemoPlayer* player, const DemoRecordingSetup& recording) {
  std::string fast = track_demo_path(recording.track, FAST_LAP_DEMO);
  bool ghost = open_demo(player, fast.c_str(), true);
  start_recording(recorder, recording);
  return ghost;
}

void rewind_timing(BikeTiming* timing, int tick) {
  int keep = timing->gates_passed;
  for (size_t i = 0; i < timing->pass_ticks.size() && (int)i < keep; i++) {
    if (timing->pass_ticks[i] > tick) keep = (int)i;
  }
  set_gates_passed(timing, keep);
}
