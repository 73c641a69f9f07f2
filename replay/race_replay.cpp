#include "replay/race_replay.h"

#include <vector>

#include "bike/bike.h"
#include "bike/roost.h"
#include "core/message.h"
#include "race/timing.h"
#include "replay/demo_modes.h"
#include "track/track.h"

namespace {

RaceReplay* of(void* context) { return static_cast<RaceReplay*>(context); }

bool race_online(const Race& race) { return race.seams.net.online && race.seams.net.online(race.seams.net.context); }

const IntegrityValue* integrity_of(const RaceReplay& rr) { return rr.integrity ? *rr.integrity : nullptr; }

// The slots a recording starting now takes, in slot order, with their header blocks.
struct RecordedRiders {
  std::vector<int> slots;
  std::vector<DemoRider> riders;
};

RecordedRiders recorded_riders(const Race& race) {
  RecordedRiders out;
  const bool online = race_online(race);
  for (int s = 0; s < MAX_BIKES; s++) {
    if (!race.bikes[s] || !slot_recorded(race.mode[s], online, race.local_slot)) continue;
    out.slots.push_back(s);
    out.riders.push_back(demo_rider_for_bike(*race.bikes[s], race.riders[s].name.c_str()));
  }
  return out;
}

DemoRecordingSetup recording_setup(const RaceReplay& rr, const Race& race, const RecordedRiders& riders,
                                   bool practice) {
  DemoRecordingSetup setup{};
  setup.practice = practice;
  setup.track = race.track->name.c_str();
  setup.race_time = race.time_limit;
  setup.laps = race.configured_laps;
  setup.gate_drop_tick = race.gate_drop_tick;
  setup.demo_backups = rr.demo_backups ? *rr.demo_backups : 0;
  setup.rider_count = (int)riders.slots.size();
  setup.slots = riders.slots.data();
  setup.riders = riders.riders.data();
  return setup;
}

// The first chunk of a recording: every recorded bike as it stands now.
void record_start(RaceReplay* rr, Race* race) {
  record_tick(rr->recorder, rr->histories, race->bikes, race->mode, race->tick, true, *rr->scale, integrity_of(*rr));
}

// The playing demo's riders as history-driven bikes in the free slots from
// `first` upward, mapped to their header ordinals. Returns how many were made.
int create_demo_riders(RaceReplay* rr, Race* race, int first, int* slots) {
  DemoPlayer* p = rr->player;
  int made = 0, slot = first;
  for (int i = 0; i < p->rider_count; i++) {
    while (slot < MAX_BIKES && race->bikes[slot]) slot++;
    if (slot >= MAX_BIKES) break;  // the rest stay unmapped: their states are dropped
    if (!race_add_bike(race, slot, RACE_SLOT_HISTORY, race_rider_from_demo(p->riders[(size_t)i]))) break;
    RecordModel model = record_model_for(race->bikes[slot]->model);
    set_demo_rider_slot(p, i, slot, &model);
    if (slots) slots[made] = slot;
    made++;
    slot++;
  }
  return made;
}

void remove_ghosts(RaceReplay* rr, Race* race) {
  for (int i = 0; i < rr->ghost_count; i++) race_remove_bike(race, rr->ghost_slots[i]);
  rr->ghost_count = 0;
  rr->ghost_loaded = false;
}

// A new lap: the fast lap as the ghost in slots 1 upward and a new
// "lastlap.dvdemo" from this tick.
void begin_lap(RaceReplay* rr, Race* race) {
  clear_all_histories(rr->histories);
  RecordedRiders riders = recorded_riders(*race);
  DemoRecordingSetup setup = recording_setup(*rr, *race, riders, true);
  rr->ghost_loaded = begin_practice_lap(rr->recorder, rr->player, setup);
  rr->ghost_count = rr->ghost_loaded ? create_demo_riders(rr, race, 1, rr->ghost_slots) : 0;
  record_start(rr, race);
}

// The ghost has states after now (or more of its file to read): the rider
// finished the lap ahead of it.
bool ghost_still_riding(const RaceReplay& rr, const Race& race) {
  if (!demo_playing(*rr.player)) return false;
  if (!rr.player->ended) return true;
  for (int i = 0; i < rr.ghost_count; i++) {
    const StateHistory& h = rr.histories[rr.ghost_slots[i]];
    if (h.stamp[h.head] > race.tick) return true;
  }
  return false;
}

// --- the seams ----------------------------------------------------------------------------

void history_step(void* context, Race* race) {
  RaceReplay* rr = of(context);
  rr->race = race;
  if (demo_recording(*rr->recorder)) {
    record_tick(rr->recorder, rr->histories, race->bikes, race->mode, race->tick, false, *rr->scale,
                integrity_of(*rr));
  } else {
    sample_bikes(rr->histories, race->bikes, race->mode, race->tick, false, *rr->scale, integrity_of(*rr));
  }
  if (demo_playing(*rr->player)) read_demo_ahead(rr->player, rr->histories, &race->tick);
  replay_bikes(race->bikes, race->mode, rr->histories, race->tick, replay_version(*rr->player), *rr->scale);
  if (rr->posed) rr->posed(rr->posed_context, *race);
}

void close_demos(void* context) {
  RaceReplay* rr = of(context);
  Race* race = rr->race;
  if (race) {
    stop_recording_bikes(rr->recorder, rr->histories, race->bikes, race->mode, race->tick, *rr->scale,
                         integrity_of(*rr));
  } else {
    stop_recording(rr->recorder, rr->histories, 0);
  }
  close_demo(rr->player);
  clear_all_histories(rr->histories);
  rr->ghost_loaded = false;
  rr->ghost_count = 0;
}

const char* playback_track(void* context) {
  RaceReplay* rr = of(context);
  if (!demo_playing(*rr->player) && !rr->playback_path.empty()) open_demo(rr->player, rr->playback_path.c_str(), false);
  return demo_playing(*rr->player) ? rr->player->track.c_str() : nullptr;
}

void create_playback_riders(void* context, Race* race) {
  RaceReplay* rr = of(context);
  rr->race = race;
  if (!demo_playing(*rr->player)) return;
  // The race runs to the demo's format and starts when the demo's did.
  const DemoPlayer& p = *rr->player;
  race->time_limit = p.race_time > 0 ? p.race_time : 0;
  race->configured_laps = p.laps > 0 ? p.laps : 0;
  race->gate_drop_tick = p.gate_drop_tick;
  create_demo_riders(rr, race, 0, nullptr);
}

void race_started(void* context, Race* race) {
  RaceReplay* rr = of(context);
  rr->race = race;
  *rr->scale = record_scale_for_terrain(race->track->terrain);
  clear_all_histories(rr->histories);
  rr->ghost_loaded = false;
  rr->ghost_count = 0;
  rr->lap_demos = (race->time_trial || race->practice) && !race->playback && race->track->gates.timed &&
                  race->local_slot != NO_BIKE && !race_online(*race);
  if (rr->lap_demos) {
    begin_lap(rr, race);
    return;
  }
  if (!race->record) return;
  if (race->playback) {
    // Watching a demo records nothing; racing against one records the live
    // riders unless that would write over the demo being read.
    bool live = false;
    for (int s = 0; s < MAX_BIKES; s++) live |= race->bikes[s] && race->mode[s] != RACE_SLOT_HISTORY;
    if (!live || !recording_allowed_while_playing(rr->playback_path.c_str(), true)) return;
  }
  RecordedRiders riders = recorded_riders(*race);
  if (start_recording(rr->recorder, recording_setup(*rr, *race, riders, false))) record_start(rr, race);
}

void time_trial_lap(void* context, Race* race, int lap_ticks, bool) {
  RaceReplay* rr = of(context);
  if (!rr->lap_demos) return;
  if (lap_ticks > 0) {
    const bool improves = !rr->ghost_loaded || ghost_still_riding(*rr, *race);
    end_practice_lap(rr->recorder, rr->player, rr->histories, race->bikes, race->mode, race->tick,
                     race->track->name.c_str(), improves);
  } else {
    // The untimed first lap (from the gates, not round the loop) is never
    // the fast lap: it would stand against every later lap unfairly.
    close_demo(rr->player);
    stop_recording_bikes(rr->recorder, rr->histories, race->bikes, race->mode, race->tick, *rr->scale,
                         integrity_of(*rr));
  }
  remove_ghosts(rr, race);
  begin_lap(rr, race);
}

void attempt_restarted(void* context, Race* race) {
  RaceReplay* rr = of(context);
  if (!rr->lap_demos) return;
  remove_ghosts(rr, race);
  begin_lap(rr, race);
}

// --- seeking ------------------------------------------------------------------------------

int seek_tick(void* context) { return of(context)->race->tick; }
void seek_set_tick(void* context, int tick) { of(context)->race->tick = tick; }
void seek_step(void* context) { race_step(of(context)->race); }
bool seek_set_roost(void*, bool on) {
  bool was = g_roost_enabled;
  g_roost_enabled = on;
  return was;
}
void seek_rewind_timing(void* context, int tick) {
  Race* race = of(context)->race;
  for (int s = 0; s < MAX_BIKES; s++)
    if (race->bikes[s]) rewind_timing(&race->timing[s], tick);
  update_standings(race);
}

}  // namespace

void install_race_replay(Race* race, RaceReplay* replay) {
  replay->race = race;
  RaceReplaySeams& seams = race->seams.replay;
  seams.context = replay;
  seams.history_step = history_step;
  seams.close_demos = close_demos;
  seams.playback_track = playback_track;
  seams.create_playback_riders = create_playback_riders;
  seams.race_started = race_started;
  seams.time_trial_lap = time_trial_lap;
  seams.attempt_restarted = attempt_restarted;
}

bool load_race_demo(RaceReplay* replay, const char* path, std::string* track) {
  replay->playback_path.clear();
  if (!path || !path[0]) return false;
  DemoPlayer probe;
  if (!open_demo(&probe, path, false)) {
    show_message("Can't play the demo '%.900s'", path);
    return false;
  }
  if (track) *track = probe.track;
  close_demo(&probe);
  replay->playback_path = path;
  return true;
}

void finish_race_replay(RaceReplay* replay) { close_demos(replay); }

bool playback_only(const RaceReplay& replay, const Race& race) {
  if (!demo_playing(*replay.player) || demo_recording(*replay.recorder)) return false;
  bool any = false;
  for (int s = 0; s < MAX_BIKES; s++) {
    if (!race.bikes[s]) continue;
    if (race.mode[s] != RACE_SLOT_HISTORY) return false;
    any = true;
  }
  return any;
}

bool seek_race_replay(RaceReplay* replay, Race* race, double seconds, bool accurate) {
  replay->race = race;
  ReplayRace seek{replay,        seek_tick,          seek_set_tick, seek_step, seek_set_roost, seek_rewind_timing,
                  playback_only(*replay, *race)};
  return seek_replay(replay->player, replay->histories, seconds, accurate, seek);
}

bool race_rider_visible(const RaceReplay& replay, const Race& race, int slot) {
  if (slot < 0 || slot >= MAX_BIKES || !race.bikes[slot]) return false;
  return rider_visible(race.mode[slot], replay.histories[slot], race.tick);
}

RaceRider race_rider_from_demo(const DemoRider& d) {
  RaceRider r;
  r.model = d.model;
  r.rider_skin = d.rider_skin;
  r.bike_skin = d.bike_skin;
  r.wheel_skin = d.wheel_skin;
  r.helmet_skin = d.helmet_skin;
  r.number = d.number;
  r.name = d.name;
  return r;
}
