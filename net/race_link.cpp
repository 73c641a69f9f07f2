#include "net/race_link.h"

#include <vector>

#include <cstring>

#include "core/config.h"
#include "core/discovery.h"
#include "net/standings.h"
#include "race/race.h"
#include "race/race_game.h"
#include "replay/bike_replay.h"
#include "replay/demo.h"
#include "replay/race_replay.h"
#include "replay/history.h"
#include "track/track.h"

namespace {

RaceLink* link_of(void* context) { return static_cast<RaceLink*>(context); }

bool valid_slot(int slot) { return slot >= 0 && slot < MAX_BIKES; }

// --- the race's net seams -------------------------------------------------------------

bool seam_online(void* c) { return net_connected(*link_of(c)->client); }
const char* seam_track(void* c) { return link_of(c)->client->track.c_str(); }
int seam_gate_drop(void* c) { return link_of(c)->client->gate_drop_tick; }
bool seam_race_running(void* c) { return server_race_running(*link_of(c)->client); }

bool seam_slot_rider(void* c, int slot, int code, RaceRider* rider) {
  RaceLink* l = link_of(c);
  if ((code != LINEUP_REMOTE_PLAYER && code < LINEUP_ROBOT_NUMBER) || !valid_slot(slot)) return false;
  // The server's robots ride as it drives them: their states come like a player's.
  *rider = race_rider_from_demo(l->client->riders[slot]);
  // A client that sent the short form gave no skins; the model it must give.
  if (rider->model.empty()) rider->model = l->race->player.model;
  return true;
}

bool seam_slot_inactive(void* c, int slot) {
  const NetClient* n = link_of(c)->client;
  return valid_slot(slot) && n->now - n->last_state_time[slot] >= 1.0;
}

void seam_clear_online(void* c) {
  NetClient* n = link_of(c)->client;
  for (int s = 0; s < MAX_BIKES; s++) {
    n->riders[s] = DemoRider();
    n->slot_request[s] = SLOT_REQUEST_NONE;
    n->last_stamp[s] = -1;
    n->slot_ping[s] = 0;
  }
  if (!net_connected(*n)) {
    n->track.clear();
    n->gate_drop_tick = 0;
  }
}

// --- the client's hooks -----------------------------------------------------------------

bool hook_track_installed(void*, const char* name) {
  for (const std::string& p : g_tracks.paths)
    if (p == name) return true;
  return g_find_track_entry && g_find_track_entry(name) >= 0;
}

bool hook_setup_race(void* c, const OnlineRace& online, uint8_t digest[TRACK_DIGEST_BYTES]) {
  RaceLink* l = link_of(c);
  Race* r = l->race;
  int lineup[MAX_BIKES];
  for (int s = 0; s < MAX_BIKES; s++) lineup[s] = lineup_code_for_request(online.requests[s]);
  if (l->configured_player) {
    // The game's race: the player, the recording switch and the skill as
    // the configuration has them now.
    r->player = configured_player_rider();
    l->record = g_config.record == CHOICE_YES;
    l->skill = g_config.skill;
  }
  RaceSetup setup = {online.track, lineup, false, l->record, online.race_time, online.laps, l->skill};
  clear_all_histories(g_histories);
  if (!reset_race(r, setup) || !r->track) return false;
  // Every peer decodes against the track as loaded, before riding deforms it.
  g_record_scale = record_scale_for_terrain(r->track->terrain);
  memcpy(digest, r->track->digest, TRACK_DIGEST_BYTES);
  return true;
}

void hook_clear_histories(void*) { clear_all_histories(g_histories); }
int hook_tick(void* c) { return link_of(c)->race->tick; }
void hook_set_tick(void* c, int tick) { link_of(c)->race->tick = tick; }

bool hook_own_state(void* c, int slot, StateRecord* out) {
  const Race* r = link_of(c)->race;
  if (!valid_slot(slot) || !r->bikes[slot] || r->mode[slot] != RACE_SLOT_LOCAL) return false;
  *out = encode_bike(*r->bikes[slot], g_record_scale, g_record_integrity);
  return true;
}

bool hook_own_timing(void* c, int slot, int* count, int* newest) {
  const Race* r = link_of(c)->race;
  if (!valid_slot(slot) || !r->bikes[slot]) return false;
  const BikeTiming& t = r->timing[slot];
  *count = t.gates_passed;
  *newest = t.gates_passed > 0 ? pass_tick(t, t.gates_passed - 1) : -1;
  return true;
}

void hook_apply_timing(void* c, int slot, int index, int tick) {
  Race* r = link_of(c)->race;
  if (!valid_slot(slot) || !r->bikes[slot]) return;
  set_pass_tick(&r->timing[slot], index, tick);
  set_gates_passed(&r->timing[slot], index + 1);
}

void hook_update_standings(void* c) {
  Race* r = link_of(c)->race;
  std::vector<BikeTiming*> bikes;
  for (int s = 0; s < MAX_BIKES; s++)
    if (r->bikes[s]) bikes.push_back(&r->timing[s]);
  if (r->track && r->lap_total < OPEN_LAPS)
    settle_finishes(r->track->gates, bikes.data(), (int)bikes.size(), r->lap_total);
  update_standings(r);
}

bool hook_remote_bike(void* c, int slot) {
  const Race* r = link_of(c)->race;
  return valid_slot(slot) && r->bikes[slot] && r->mode[slot] == RACE_SLOT_HISTORY;
}

void hook_add_state(void*, int slot, const StateRecord& record, int tick) { add_state_to_history(slot, record, tick); }

void hook_console_text(void*, const char* text, int tick) {
  if (demo_recording(g_demo_recorder)) record_demo_text(&g_demo_recorder, text, tick);
}

bool hook_disable_arcade(void* c) { return switch_off_arcade(link_of(c)->race); }

}  // namespace

int lineup_code_for_request(int request) {
  switch (request) {
    case SLOT_REQUEST_SELF: return LINEUP_HUMAN;
    case SLOT_REQUEST_PLAYER: return LINEUP_REMOTE_PLAYER;
    default:
      if (request >= SLOT_REQUEST_ROBOT && request - SLOT_REQUEST_ROBOT < MAX_ROBOT_NUMBER)
        return LINEUP_ROBOT_NUMBER + (request - SLOT_REQUEST_ROBOT);
      return LINEUP_EMPTY;
  }
}

void link_client_to_race(RaceLink* l) {
  NetClientHooks& h = l->client->hooks;
  void (*print)(void*, const char*) = h.print;
  void (*console_text)(void*, const char*, int) = h.console_text;
  h = NetClientHooks();
  h.context = l;
  h.print = print;
  h.track_installed = hook_track_installed;
  h.setup_race = hook_setup_race;
  h.clear_histories = hook_clear_histories;
  h.current_tick = hook_tick;
  h.set_tick = hook_set_tick;
  h.own_state = hook_own_state;
  h.own_timing = hook_own_timing;
  h.apply_timing = hook_apply_timing;
  h.update_standings = hook_update_standings;
  h.remote_bike = hook_remote_bike;
  h.add_remote_state = hook_add_state;
  h.console_text = console_text ? console_text : hook_console_text;
  h.disable_arcade = hook_disable_arcade;

  RaceNetSeams& n = l->race->seams.net;
  n.context = l;
  n.online = seam_online;
  n.track = seam_track;
  n.gate_drop_tick = seam_gate_drop;
  n.server_race_running = seam_race_running;
  n.slot_rider = seam_slot_rider;
  n.clear_online_data = seam_clear_online;
  n.slot_inactive = seam_slot_inactive;
}
