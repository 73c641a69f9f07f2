// Helpers of the series tests: ".series" texts built from parts, and
// reading one from memory against a track list.
#pragma once

#include <string>
#include <vector>

#include "core/datafile.h"
#include "core/discovery.h"
#include "race/series.h"

struct SeriesEventText {
  std::string name, track;
  int minutes, laps;
  std::vector<int> points;  // padded with zeros to 40
  std::vector<int> lineup;  // padded with zeros to 40
};

inline std::string list_text(std::vector<int> values) {
  values.resize(SERIES_LIST_VALUES, 0);
  std::string text;
  for (int v : values) text += std::to_string(v) + " ";
  return text + "\n";
}

inline std::string series_text(const std::string& name, const std::string& skill, const std::vector<int>& riders,
                               const std::vector<SeriesEventText>& events) {
  std::string text = name + "\n" + std::to_string(riders.size()) + " " + skill + "\n";
  for (int r : riders) text += std::to_string(r) + " ";
  text += "\n" + std::to_string(events.size()) + "\n";
  for (const SeriesEventText& e : events) {
    text += e.name + " " + e.track + "\n" + std::to_string(e.minutes) + " " + std::to_string(e.laps) + "\n";
    text += list_text(e.points) + list_text(e.lineup);
  }
  return text;
}

inline TrackList two_tracks() {
  TrackList tracks;
  tracks.paths = {"tracks/a", "tracks/b"};
  tracks.names = {"Alpha", "Bravo"};
  return tracks;
}

inline bool parse_series(const std::string& text, Series* series, const TrackList& tracks = two_tracks()) {
  DataStream* s = data_open_memory(text.data(), text.size());
  bool ok = read_series(series, s, tracks);
  data_close(s);
  return ok;
}

// Points 25, 20, 16, 13, 11 for places 1 to 5; robots at gates 2 to 4.
inline const std::vector<int>& cup_points() {
  static const std::vector<int> points{25, 20, 16, 13, 11};
  return points;
}
