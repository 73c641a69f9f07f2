// Helpers of the series tests: ".series" texts built from parts, and
// reading one from memory against a track list.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>
#include <utility>
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

// --- working out a series by hand from "results.txt" -------------------------------

inline double clock_seconds(const std::string& text) {
  int minutes = 0, seconds = 0, ms = 0;
  EXPECT_EQ(sscanf(text.c_str(), "%d:%d.%d", &minutes, &seconds, &ms), 3) << text;
  return minutes * 60 + seconds + ms / 1000.0;
}

// The race numbers in result order, each with whether its total time is
// more than the time at its last gate (a cutting penalty).
inline std::vector<std::pair<std::string, bool>> read_results_file(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  std::vector<std::pair<std::string, double>> bikes;
  size_t i = 2;
  for (; i < lines.size() && !lines[i].empty(); i++) {
    std::stringstream row(lines[i]);
    std::string number, bar, name, laps, total;
    row >> number >> bar >> name >> bar >> laps >> bar >> total;
    bikes.push_back({number, clock_seconds(total)});
  }
  std::vector<std::pair<std::string, bool>> out;
  for (const auto& bike : bikes) {
    if (i + 1 >= lines.size() || !lines[i].empty()) {
      ADD_FAILURE() << "gate times missing for " << bike.first;
      break;
    }
    int gates = std::stoi(lines[i + 1]);
    i += 2;
    double last = 0;
    for (int seen = 0; seen < gates && i < lines.size(); i++) {
      std::stringstream row(lines[i]);
      for (double t; row >> t; seen++) last = t;
    }
    out.push_back({bike.first, bike.second > last + 0.0015});
  }
  return out;
}

// One event's places (1-based, R + 1 for not placed, one entry beyond the
// riders) from the order of the results: penalised bikes and numbers
// outside the series are skipped.
inline std::vector<int> places_from(const std::vector<std::pair<std::string, bool>>& results,
                                    const std::vector<int>& riders) {
  const int r = (int)riders.size();
  std::vector<int> places((size_t)r + 1, r + 1);
  int next = 1;
  for (const auto& [number, penalised] : results) {
    auto it = std::find(riders.begin(), riders.end(), std::stoi(number));
    if (penalised || it == riders.end() || places[(size_t)(it - riders.begin())] != r + 1) continue;
    places[(size_t)(it - riders.begin())] = next++;
  }
  return places;
}

inline std::string standings_file_line(const std::vector<int>& places) {
  std::string line;
  for (int p : places) line += std::to_string(p) + " ";
  return line + "\n";
}

// Race numbers by points, ties to the better place in the last event; the
// totals by rider index go to *totals.
inline std::vector<int> hand_ranking(const std::vector<std::vector<int>>& places, const std::vector<int>& points,
                                     const std::vector<int>& riders, std::vector<long long>* totals) {
  const size_t r = riders.size();
  totals->assign(r, 0);
  for (const std::vector<int>& event : places)
    for (size_t i = 0; i < r; i++)
      if (event[i] <= (int)r && event[i] <= (int)points.size()) (*totals)[i] += points[(size_t)event[i] - 1];
  std::vector<int> order(r);
  for (size_t i = 0; i < r; i++) order[i] = (int)i;
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    if ((*totals)[(size_t)a] != (*totals)[(size_t)b]) return (*totals)[(size_t)a] > (*totals)[(size_t)b];
    return places.back()[(size_t)a] < places.back()[(size_t)b];
  });
  std::vector<int> numbers;
  for (int i : order) numbers.push_back(riders[(size_t)i]);
  return numbers;
}
