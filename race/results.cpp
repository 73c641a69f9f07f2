#include "race/results.h"

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "core/datafile.h"
#include "platform/log.h"
#include "race/series.h"

namespace {

const char* const RESULTS_FILE = "@results.txt";

int completed_laps(const TimingGates& gates, int gates_passed) {
  if (!gates.timed || gates_passed < gates.first_lap) return 0;
  return (gates_passed - gates.first_lap) / gates.normal_lap + 1;
}

std::vector<const BikeTiming*> field_of(const ResultsInput& input) {
  std::vector<const BikeTiming*> field;
  field.reserve(input.bikes.size());
  for (const ResultsBike& bike : input.bikes) field.push_back(bike.timing);
  return field;
}

RaceResultEntry plain_entry(const ResultsInput& input, const ResultsBike& bike) {
  RaceResultEntry e{};
  e.slot = bike.slot;
  e.timing = bike.timing;
  e.gates_passed = bike.timing->gates_passed;
  e.last_tick = last_pass_tick(*bike.timing, e.gates_passed, input.gate_drop_tick);
  e.finished = bike.timing->finished;
  e.number = bike.number ? bike.number : "";
  e.bike_name = bike.bike_name ? bike.bike_name : "";
  e.rider = bike.rider ? bike.rider : "";
  return e;
}

// Lap count and best lap from the entry's gates passed, so that laps taken
// away for cutting are neither counted nor timed. The best lap is the one
// the cutting penalty measures against: from lap 2 on, since lap 1 starts
// at the gate drop and may take a path of its own.
void fill_laps(const ResultsInput& input, RaceResultEntry* e) {
  e->completed_laps = completed_laps(*input.gates, e->gates_passed);
  e->best_lap = 0;
  e->best_lap_ticks = 0;
  for (int lap = 2; lap <= e->completed_laps; lap++) {
    int ticks = lap_time(*input.gates, *e->timing, lap, input.gate_drop_tick);
    if (ticks > 0 && (e->best_lap == 0 || ticks < e->best_lap_ticks)) {
      e->best_lap = lap;
      e->best_lap_ticks = ticks;
    }
  }
}

void appendf(std::string* text, const char* format, ...) __attribute__((format(printf, 2, 3)));
void appendf(std::string* text, const char* format, ...) {
  char buffer[1024];
  va_list args;
  va_start(args, format);
  int n = vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (n < 0) return;
  if ((size_t)n < sizeof buffer) {
    text->append(buffer, (size_t)n);
    return;
  }
  // A long track or bike name: format again into a buffer of the right size.
  std::string big((size_t)n + 1, '\0');
  va_start(args, format);
  vsnprintf(big.data(), big.size(), format, args);
  va_end(args);
  big.resize((size_t)n);
  text->append(big);
}

// Minutes, seconds and milliseconds of a tick count, cut (not rounded) to
// the millisecond like a stopwatch.
void append_clock(std::string* text, int ticks) {
  int64_t ms = (int64_t)std::max(0, ticks) * 1000 / TICKS_PER_SECOND;
  appendf(text, "%3d:%02d.%03d", (int)(ms / 60000), (int)(ms / 1000 % 60), (int)(ms % 1000));
}

}  // namespace

void sort_results(std::vector<RaceResultEntry>* entries) {
  std::sort(entries->begin(), entries->end(), [](const RaceResultEntry& a, const RaceResultEntry& b) {
    if (a.gates_passed != b.gates_passed) return a.gates_passed > b.gates_passed;
    if (a.last_tick != b.last_tick) return a.last_tick < b.last_tick;
    return a.slot < b.slot;
  });
}

RaceResults unofficial_results(const ResultsInput& input) {
  RaceResults results{{}, false, input.race_id};
  for (const ResultsBike& bike : input.bikes) {
    results.entries.push_back(plain_entry(input, bike));
    fill_laps(input, &results.entries.back());
  }
  sort_results(&results.entries);
  return results;
}

RaceResults compute_final_results(const ResultsInput& input) {
  RaceResults results{{}, true, input.race_id};
  // Every penalty is measured against the field as it finished, before any
  // bike loses laps.
  const std::vector<const BikeTiming*> field = field_of(input);
  for (const ResultsBike& bike : input.bikes) {
    RaceResultEntry e = plain_entry(input, bike);
    CuttingPenalty penalty =
        cutting_penalty(*input.gates, field.data(), (int)field.size(), *bike.timing, input.gate_drop_tick);
    e.gates_passed = penalty.gates_passed;
    e.penalty_ticks = penalty.ticks;
    e.laps_taken = penalty.laps_taken;
    e.last_tick = last_pass_tick(*bike.timing, e.gates_passed, input.gate_drop_tick) + penalty.ticks;
    fill_laps(input, &e);
    results.entries.push_back(e);
  }
  sort_results(&results.entries);
  return results;
}

bool is_penalised(const RaceResultEntry& entry) { return entry.penalty_ticks > 0 || entry.laps_taken > 0; }

const char* results_board_title(const RaceResults& results) {
  return results.final ? "Final Results" : "Unofficial Results";
}

std::string penalty_board_line(const RaceResultEntry& entry) {
  std::string line;
  if (!is_penalised(entry)) return line;
  appendf(&line, "%3s penalized ", entry.number.c_str());
  if (entry.laps_taken > 0) appendf(&line, "%d %s ", entry.laps_taken, entry.laps_taken == 1 ? "lap" : "laps");
  appendf(&line, "%.2f seconds for cutting track", entry.penalty_ticks / (double)TICKS_PER_SECOND);
  return line;
}

std::string results_file_text(const RaceResults& results, const ResultsInput& input, long date) {
  std::string text;
  appendf(&text, "Time=%.2f|Laps=%d|Track=%s|Date=%ld\r\n", input.time_limit_ticks / (double)TICKS_PER_SECOND,
          input.laps, input.track ? input.track : "", date);
  appendf(&text, "%4s | %12s | %4s | %10s | %4s | %10s\r\n", "No.", "Bike", "Laps", "Total Time", "BLap", "Best Time");
  for (const RaceResultEntry& e : results.entries) {
    if (!e.finished) continue;
    appendf(&text, "%4s | %12s | %4d | ", e.number.c_str(), e.bike_name.c_str(), e.completed_laps);
    append_clock(&text, e.last_tick - input.gate_drop_tick);
    appendf(&text, " | %4d | ", e.best_lap);
    append_clock(&text, e.best_lap_ticks);
    text += "\r\n";
  }
  for (const RaceResultEntry& e : results.entries) {
    if (!e.finished) continue;
    appendf(&text, "\r\n%d\r\n", e.gates_passed);
    for (int gate = 0; gate < e.gates_passed; gate++) {
      const int tick = pass_tick(*e.timing, gate);
      if (tick < 0)
        appendf(&text, "%8d", -1);
      else
        appendf(&text, "%8.3f", (tick - input.gate_drop_tick) / (double)TICKS_PER_SECOND);
      const bool lap_end = input.gates->timed && is_lap_end(*input.gates, gate);
      text += lap_end ? "\r\n" : " ";
    }
    // A bike that stopped mid-lap still ends its last line.
    if (e.gates_passed > 0 && !(input.gates->timed && is_lap_end(*input.gates, e.gates_passed - 1))) {
      text.back() = '\r';
      text += "\n";
    }
  }
  return text;
}

bool write_results_file(const RaceResults& results, const ResultsInput& input) {
  const std::string text = results_file_text(results, input, (long)time(nullptr));
  DataStream* stream = data_open(RESULTS_FILE, "wb");
  if (!stream) {
    log_printf("Can't write '%s'\n", RESULTS_FILE + 1);
    return false;
  }
  bool written = data_write(stream, text.data(), text.size()) == text.size();
  written = data_flush(stream) == 0 && written;
  data_close(stream);
  if (!written) log_printf("Can't write '%s'\n", RESULTS_FILE + 1);
  return written;
}

RaceResults final_results(const ResultsInput& input, SeriesList* series) {
  RaceResults results = compute_final_results(input);
  write_results_file(results, input);
  if (series) record_series_result(series, results, results.race_id);
  return results;
}
