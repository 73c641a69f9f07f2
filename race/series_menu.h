// The points-series menus as state and actions, without drawing: the list
// of series to pick from, each series' page (its next event, or its final
// standings once every event is done) with the standings table, and the
// action that starts the next event's race with that event's settings.
// The user interface lays these out and calls the actions.
#pragma once

#include <string>
#include <vector>

#include "core/types.h"
#include "race/series.h"

struct RaceReset;
struct TrackList;

struct SeriesStandingsRow {
  int place;             // 1-based
  int rider;             // index into the series riders
  int number;            // race number
  long long points;
  int last_position;     // 1-based place in the latest completed event, 0 = not placed
};

struct SeriesPage {
  std::string title;  // "Next Event: <event>" or "<series> Final Standings"
  bool finished;      // every event is completed
  int events_completed, event_count;
  std::vector<SeriesStandingsRow> standings;
};

// The menu item that starts the next event, "Next Event: %.900s".
std::string next_event_label(const Series& series);
// The heading once the series is over, "%.900s Final Standings".
std::string final_standings_label(const Series& series);

SeriesPage series_page(const Series& series);
// One row of the standings as the menu lists it: " 1. #22    54 points".
std::string standings_line(const SeriesStandingsRow& row);

// The series menu's own state: which series is chosen.
struct SeriesMenu {
  int selected = 0;
};

// Display names of the series, in discovery order.
std::vector<std::string> series_menu_items(const SeriesList& list);
void series_menu_move(SeriesMenu* menu, const SeriesList& list, int step);

// The race reset of the next event: its track, lineup (only the codes of a
// local race are kept; others become empty), length and the series' skill.
// The lineup must have MAX_BIKES entries; an event whose lineup is empty
// takes the configured one. False when the series is over.
bool next_event_reset(const Series& series, const TrackList& tracks, RaceReset* reset, int lineup[MAX_BIKES]);

// "Next Event": resets the race through the race hooks for the chosen
// series' next event and remembers that race as the event's. False (and
// nothing started) when the series is over or there is no race to reset.
bool start_next_event(SeriesList* list, int series, const TrackList& tracks);
