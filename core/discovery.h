// Track and demo discovery over the data-file name list: which tracks and
// demo files exist, with the names the menus show.
#pragma once

#include <string>
#include <vector>

// Tracks: the directory holding "terrain.hf" (or "terrain.hf.gz") and the
// first line of its "desc" file, sorted together by display name.
struct TrackList {
  std::vector<std::string> paths;
  std::vector<std::string> names;
  int selected = 0;  // the track choice
};

constexpr int DEMO_PAGE_ENTRIES = 20;

// Demo files below "demos/", in catalogue order; the name is the file name
// without its directory and extension. The demo menu shows one page of
// DEMO_PAGE_ENTRIES from first_shown.
struct DemoList {
  std::vector<std::string> paths;
  std::vector<std::string> names;
  int first_shown = 0;
};

extern TrackList g_tracks;
extern DemoList g_demos;

// Both log "%s -> %s\n" (path, name) per entry at debug level 1 or more.
void discover_tracks(TrackList* tracks, int debug_level);
void discover_demos(DemoList* demos, int debug_level);

// The display name of a demo file name: between the last "/" and the last ".".
std::string demo_display_name(const std::string& path);

// Sorts paths and names together by name, ignoring case.
void sort_tracks(TrackList* tracks);

// Selects the track whose directory is exactly directory; returns its index,
// or -1 (selection unchanged) when there is none.
int select_track(TrackList* tracks, const char* directory);
