#include "tools/net_riders/headless_rider.h"

#include <algorithm>
#include <cstring>

#include "bike/bike_model.h"
#include "core/frame_timing.h"
#include "core/message.h"
#include "net/standings.h"
#include "replay/bike_replay.h"

namespace {

constexpr int OPEN_LAPS = 1000000;

bool world_has_track(RunnerWorld* w, const char* name) {
  for (const std::string& p : w->tracks.paths)
    if (p == name) return true;
  return false;
}

bool world_load(RunnerWorld* w, const char* name) {
  if (w->loaded && w->track.name == name) return true;
  if (w->loaded) deallocate_track(&w->track);
  w->loaded = false;
  w->track.name = name;
  TrackLoadSettings settings = {GROUND_SOFTWARE, false, 0};
  if (!load_track(&w->track, settings)) return false;
  w->scale = record_scale_for_terrain(w->track.terrain);
  w->loaded = true;
  return true;
}

HeadlessRider* rider_of(void* context) { return static_cast<HeadlessRider*>(context); }

// The states between two stamps of one rider that never came. A step of more
// than a few seconds is a rider that left and came back, not a loss.
long states_skipped(int previous, int stamp) {
  if (previous < 0 || stamp <= previous) return 0;
  const int step = stamp - previous;
  if (step > 4 * TICKS_PER_SECOND) return 0;
  return (step + STATE_SEND_INTERVAL / 2) / STATE_SEND_INTERVAL - 1;
}

int last_pass(const BikeTiming& t) { return t.gates_passed > 0 ? pass_tick(t, t.gates_passed - 1) : -1; }

RaceProgress rider_progress(const HeadlessRider& r) {
  RaceProgress p;
  const NetClient& c = r.client;
  p.lap_total = (c.laps == 0 && c.race_time == 0) || c.race_time > 0 ? OPEN_LAPS : c.laps;
  std::vector<int> order = rider_running_order(r);
  p.leader_passed_finishing_gate =
      !order.empty() && passed_finishing_gate(r.world->track.gates, r.timing[order[0]], p.lap_total);
  return p;
}

NetClientHooks rider_hooks(HeadlessRider* rider) {
  NetClientHooks h = {};
  h.context = rider;
  h.print = [](void* c, const char* text) {
    HeadlessRider* r = rider_of(c);
    if (r->messages.size() < 4096) r->messages.push_back(text);
    if (!r->quiet) show_message("%s", text);
  };
  h.track_installed = [](void* c, const char* name) { return world_has_track(rider_of(c)->world, name); };
  h.setup_race = [](void* c, const OnlineRace& race, uint8_t digest[TRACK_DIGEST_BYTES]) {
    HeadlessRider* r = rider_of(c);
    if (!world_load(r->world, race.track)) return false;
    memcpy(digest, r->world->track.digest, TRACK_DIGEST_BYTES);
    memcpy(r->requests, race.requests, sizeof r->requests);
    for (BikeTiming& t : r->timing) reset_bike_timing(&t);
    for (int& stamp : r->last_seen_stamp) stamp = -1;
    r->tick = 0;
    r->has_bike = race.riding_slot != NO_BIKE;
    r->race_slot = race.riding_slot;
    if (r->has_bike) start_scripted_rider(&r->bike, r->world->track, r->world->scale, race.riding_slot, r->speed);
    r->races_set_up++;
    return true;
  };
  h.current_tick = [](void* c) { return rider_of(c)->tick; };
  h.set_tick = [](void* c, int tick) { rider_of(c)->tick = tick; };
  h.own_state = [](void* c, int, StateRecord* out) {
    HeadlessRider* r = rider_of(c);
    if (!r->has_bike) return false;
    *out = scripted_record(r->bike);
    return true;
  };
  h.own_timing = [](void* c, int, int* count, int* tick) {
    HeadlessRider* r = rider_of(c);
    if (!r->has_bike) return false;
    *count = r->bike.timing.gates_passed;
    *tick = last_pass(r->bike.timing);
    return true;
  };
  h.apply_timing = [](void* c, int slot, int index, int tick) {
    BikeTiming& t = rider_of(c)->timing[slot];
    set_pass_tick(&t, index, tick);
    set_gates_passed(&t, index + 1);
  };
  h.update_standings = [](void* c) {
    // Entries from the server may show that the leader finished before our
    // own bike's last lap end: settle puts it back where it finished.
    HeadlessRider* r = rider_of(c);
    std::vector<BikeTiming*> bikes;
    const int own = r->client.riding_slot;
    if (r->has_bike && own != NO_BIKE) r->timing[own] = r->bike.timing;
    for (int s = 0; s < MAX_BIKES; s++)
      if (r->requests[s] != SLOT_REQUEST_NONE) bikes.push_back(&r->timing[s]);
    const NetClient& n = r->client;
    settle_finishes(r->world->track.gates, bikes.data(), (int)bikes.size(), n.race_time > 0 ? 0 : n.laps);
    if (r->has_bike && own != NO_BIKE) r->bike.timing = r->timing[own];
  };
  h.remote_bike = [](void* c, int slot) { return remote_request(rider_of(c)->requests[slot]); };
  h.add_remote_state = [](void* c, int slot, const StateRecord&, int tick) {
    HeadlessRider* r = rider_of(c);
    r->states_received[slot]++;
    r->states_missed += states_skipped(r->last_seen_stamp[slot], tick);
    r->last_seen_stamp[slot] = tick;
    const int delay = r->tick - tick;
    if (delay > r->worst_delay) r->worst_delay = delay;
    r->delay_sum += delay;
    r->delay_count++;
  };
  h.console_text = [](void* c, const char* text, int) {
    HeadlessRider* r = rider_of(c);
    if (strcmp(text, "Results:") == 0) {
      r->results_seen = true;
      r->results.clear();
      r->final_order = rider_running_order(*r);
      r->final_finished = rider_finished(*r);
      // The next race's track may have come first: the slot ridden is the
      // one of the race set up last.
      r->final_slot = r->race_slot;
    } else if (r->results_seen && text[0] >= '0' && text[0] <= '9') {
      r->results.push_back(text);
    }
  };
  return h;
}

void race_step(HeadlessRider* r) {
  NetClient& c = r->client;
  if (r->has_bike && r->mode == RIDER_SCRIPTED && c.state == NET_RACING && c.riding_slot != NO_BIKE) {
    step_scripted_rider(&r->bike, r->tick, c.gate_drop_tick, rider_progress(*r));
    r->timing[c.riding_slot] = r->bike.timing;
  }
  r->tick++;
}

}  // namespace

void init_runner_world(RunnerWorld* world) {
  discover_tracks(&world->tracks, 0);
  world->loaded = false;
}

void free_runner_world(RunnerWorld* world) {
  if (world->loaded) deallocate_track(&world->track);
  world->loaded = false;
}

void init_headless_rider(HeadlessRider* r, RunnerWorld* world, int index, const char* name_prefix) {
  r->world = world;
  r->client.hooks = rider_hooks(r);
  init_net_client(&r->client);
  // A bike of the model table, so every peer builds it without a substitute.
  r->client.own_info.model = bike_model_at(index % 4).name;
  r->client.own_info.number = std::to_string(index + 1).substr(0, 3);
  r->client.own_info.name = std::string(name_prefix) + " " + std::to_string(index + 1);
  for (BikeTiming& t : r->timing) reset_bike_timing(&t);
  for (int& stamp : r->last_seen_stamp) stamp = -1;
}

void run_headless_rider(HeadlessRider* r, double now) {
  const NetClient& c = r->client;
  ConnectedClock clock = {net_connected(c), c.latest_server_tick, r->tick, c.gate_drop_tick};
  const bool first = r->clock.reading < 0;
  const int steps = real_time_steps_due(&r->clock, now, clock);
  if (first) net_service(&r->client, now);
  for (int i = 0; i < steps; i++) {
    net_service(&r->client, now);
    if (!net_connected(r->client) || r->client.latest_server_tick > 0) race_step(r);
  }
}

std::vector<int> rider_running_order(const HeadlessRider& r) {
  std::vector<int> order;
  for (int s = 0; s < MAX_BIKES; s++)
    if (r.requests[s] != SLOT_REQUEST_NONE) order.push_back(s);
  std::sort(order.begin(), order.end(), [&](int a, int b) {
    const BikeTiming& ta = r.timing[a];
    const BikeTiming& tb = r.timing[b];
    if (ta.gates_passed != tb.gates_passed) return ta.gates_passed > tb.gates_passed;
    const int la = last_pass(ta), lb = last_pass(tb);
    if (la != lb) return la < lb;
    return a < b;
  });
  return order;
}

bool rider_finished(const HeadlessRider& r) { return r.has_bike && r.bike.timing.finished; }
