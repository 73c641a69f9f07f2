#include "core/discovery.h"

#include <strings.h>

#include <cstring>
#include <utility>

#include "core/datafile.h"
#include "platform/log.h"

TrackList g_tracks;
DemoList g_demos;

namespace {

constexpr size_t k_display_name_max = 255;

bool ends_with(const std::string& text, const char* suffix) {
  size_t length = strlen(suffix);
  return text.size() >= length && strcasecmp(text.c_str() + text.size() - length, suffix) == 0;
}

// The first line of the track's "desc" file; the path itself when there is
// no such file or its first line is empty.
std::string track_display_name(const std::string& path) {
  std::string name;
  std::string desc = "@" + path + "/desc";
  if (DataStream* stream = data_open(desc.c_str(), "rb")) {
    for (int c = data_getc(stream); c > 0 && c != '\r' && c != '\n'; c = data_getc(stream)) {
      if (name.size() < k_display_name_max) name.push_back(static_cast<char>(c));
    }
    data_close(stream);
  }
  return name.empty() ? path : name;
}

}  // namespace

void sort_tracks(TrackList* tracks) {
  // A selection pass: entry i is swapped with every later entry that sorts
  // before it. Quadratic, but there are tens of tracks, and the order of
  // equal names stays the one players have always seen.
  std::vector<std::string>& names = tracks->names;
  std::vector<std::string>& paths = tracks->paths;
  for (size_t i = 0; i < names.size(); i++) {
    for (size_t j = i + 1; j < names.size(); j++) {
      if (strcasecmp(names[i].c_str(), names[j].c_str()) > 0) {
        std::swap(names[i], names[j]);
        std::swap(paths[i], paths[j]);
      }
    }
  }
}

void discover_tracks(TrackList* tracks, int debug_level) {
  tracks->paths.clear();
  tracks->names.clear();
  tracks->selected = 0;
  int count = data_file_count();
  for (int i = 0; i < count; i++) {
    std::string file = data_file_name(i);
    if (!ends_with(file, "/terrain.hf") && !ends_with(file, "/terrain.hf.gz")) continue;
    std::string path = file.substr(0, file.rfind('/'));
    // "terrain.hf" and "terrain.hf.gz" in one directory are one track.
    bool known = false;
    for (const std::string& other : tracks->paths) {
      known = known || strcasecmp(other.c_str(), path.c_str()) == 0;
    }
    if (known) continue;
    tracks->paths.push_back(path);
    tracks->names.push_back(track_display_name(path));
  }
  sort_tracks(tracks);
  if (debug_level >= 1) {
    for (size_t i = 0; i < tracks->paths.size(); i++) {
      log_printf("%s -> %s\n", tracks->paths[i].c_str(), tracks->names[i].c_str());
    }
  }
}

std::string demo_display_name(const std::string& path) {
  size_t slash = path.rfind('/');
  size_t start = slash == std::string::npos ? 0 : slash + 1;
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || dot < start) return path.substr(start);
  return path.substr(start, dot - start);
}

void discover_demos(DemoList* demos, int debug_level) {
  demos->paths.clear();
  demos->names.clear();
  demos->first_shown = 0;
  int count = data_file_count();
  for (int i = 0; i < count; i++) {
    std::string file = data_file_name(i);
    if (strncasecmp(file.c_str(), "demos/", 6) != 0 || !ends_with(file, ".dvdemo")) continue;
    demos->paths.push_back(file);
    demos->names.push_back(demo_display_name(file));
    if (debug_level >= 1) log_printf("%s -> %s\n", file.c_str(), demos->names.back().c_str());
  }
}

int select_track(TrackList* tracks, const char* directory) {
  for (size_t i = 0; i < tracks->paths.size(); i++) {
    if (tracks->paths[i] == directory) {
      tracks->selected = static_cast<int>(i);
      return tracks->selected;
    }
  }
  return -1;
}
