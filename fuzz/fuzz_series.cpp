// ".series" files, then the same bytes as that series' standings file, the
// points, rankings and the menu page over whatever they produced.
#include <cstddef>
#include <cstdint>

#include "core/datafile.h"
#include "core/discovery.h"
#include "race/series.h"
#include "race/series_menu.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TrackList tracks;
  if (tracks.paths.empty()) {
    tracks.paths = {"a", "tracks/b"};
    tracks.names = {"A", "B"};
  }
  Series series;
  DataStream* s = data_open_memory(data, size);
  bool ok = read_series(&series, s, tracks);
  data_close(s);
  if (!ok) return 0;
  const int r = series.rider_count;
  if (r < 0 || r > MAX_SERIES_RIDERS) __builtin_trap();
  for (const SeriesEvent& e : series.events)
    if (e.track < 0 || e.track >= (int)tracks.paths.size()) __builtin_trap();

  s = data_open_memory(data, size);
  int completed = read_standings(&series, s);
  data_close(s);
  if (completed < 0 || completed > (int)series.events.size() || completed != series.events_completed) __builtin_trap();
  for (int e = 0; e < completed; e++)
    for (int i = 0; i <= r; i++) {
      int p = series.events[(size_t)e].positions[i];
      if (p < 0 || p > r) __builtin_trap();
    }
  update_series_rankings(&series);
  std::vector<int> order = current_ranking(series);
  if ((int)order.size() != r) __builtin_trap();
  SeriesPage page = series_page(series);
  if ((int)page.standings.size() != r) __builtin_trap();
  standings_text(series);
  return 0;
}
