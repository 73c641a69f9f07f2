// The race cycle: warmup, race and finish, the track rotation, the riders'
// states relayed to the others, lap reports checked against the timing
// gates, the race length with a time limit, and the results.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "net/standings.h"
#include "replay/bike_replay.h"
#include "tools/race_server/server.h"

namespace {

constexpr int OPEN_LAPS = 1000000;
// How far from a checkpoint's centre (beyond its radius) a rider's state
// of the reported tick may lie (the record's quantisation and the frame's
// offset from where the gate test looks), and how fast a bike can cover
// the distance from a state a few ticks off: faster than any bike goes.
constexpr float GATE_EVIDENCE_MARGIN = 10.0f;
constexpr float GATE_EVIDENCE_SPEED = 150.0f;  // ft/s
// States this close in time to a reported pass are its evidence.
constexpr int GATE_EVIDENCE_TICKS = 32;
// A client's clock may run this far ahead of ours before its stamps are refused.
constexpr int CLOCK_SLACK_TICKS = 256;
// Lap reports travel one at a time through the reliable queue, so on a
// lossy link they can trail the bike by a minute and more. A rider still
// short of its finish whose reports keep coming is waited for: until none
// has come for this long (at 30 % loss each way a report can take a few
// seconds of resends), ...
constexpr double REPORT_PATIENCE_SECONDS = 15.0;
// ... and at most this long past the finish window.
constexpr double LATE_REPORT_LIMIT_SECONDS = 180.0;
// The finish window: the configured time after the first finish, and this
// much more for slow links.
constexpr double FINISH_GRACE_SECONDS = 10.0;

bool timed_race(const RaceServer& s) {
  return (s.phase == PHASE_RACE || s.phase == PHASE_FINISH) && s.track.gates.timed;
}

int last_pass(const BikeTiming& t) { return t.gates_passed > 0 ? pass_tick(t, t.gates_passed - 1) : -1; }

bool load_track_named(RaceServer* s, const std::string& name) {
  if (s->track_loaded && s->track.name == name) return true;
  if (s->track_loaded) deallocate_track(&s->track);
  s->track_loaded = false;
  s->track.name = name;
  TrackLoadSettings settings = {GROUND_SOFTWARE, false, 0};
  if (!load_track(&s->track, settings)) {
    server_log(s, "Can't load track '%s'\n", name.c_str());
    return false;
  }
  s->scale = record_scale_for_terrain(s->track.terrain);
  s->track_loaded = true;
  server_log(s, "Track '%s' loaded (%s)\n", name.c_str(), s->track.gates.timed ? "timed" : "not timed");
  return true;
}

// The next installed track of the rotation that loads.
void advance_track(RaceServer* s) {
  const int count = (int)s->track_names.size();
  for (int tries = 0; tries < count; tries++) {
    s->track_index = (s->track_index + 1) % count;
    if (load_track_named(s, s->track_names[(size_t)s->track_index])) return;
  }
}

RaceProgress progress(const RaceServer& s, const std::vector<int>& order) {
  RaceProgress p;
  p.lap_total = s.phase == PHASE_RACE || s.phase == PHASE_FINISH ? s.lap_total : OPEN_LAPS;
  p.leader_passed_finishing_gate =
      !order.empty() && passed_finishing_gate(s.track.gates, s.clients[(size_t)order[0]].timing, p.lap_total);
  return p;
}

void log_pass(RaceServer* s, int slot, int index, int tick) {
  if (timed_race(*s)) s->timing_log.push_back({slot, index, tick});
}

void record_position(ServerClient* c, int tick, Vec3 position) {
  c->positions[c->position_head] = {tick, position};
  c->position_head = (c->position_head + 1) % SERVER_POSITION_RING;
  if (c->position_count < SERVER_POSITION_RING) c->position_count++;
}

void step_robots(RaceServer* s) {
  const std::vector<int> order = server_running_order(*s);
  const RaceProgress race = progress(*s, order);
  for (size_t i = 0; i < s->clients.size(); i++) {
    ServerClient& c = s->clients[i];
    if (!c.robot || !c.rider) continue;
    GateStepResult r = step_scripted_rider(&c.scripted, s->server_tick, s->gate_drop_tick, race);
    c.timing = c.scripted.timing;
    if (r.gate >= 0) {
      log_pass(s, (int)i, r.gate, s->server_tick);
      if (s->phase != PHASE_WARMUP) settle_server_finishes(s);
    }
    if (s->server_tick % 4 == 0 && s->server_tick > c.last_stamp) {
      c.record = scripted_record(c.scripted);
      c.last_stamp = s->server_tick;
      c.fresh_state = true;
      c.last_state_time = s->now;
      record_position(&c, s->server_tick, c.scripted.position);
    }
  }
}

// Race length with a time limit: L0 more laps after the first lap the
// leader completes after the limit.
void update_lap_total(RaceServer* s) {
  if (s->race_time <= 0 || !s->track.gates.timed) return;
  const std::vector<int> order = server_running_order(*s);
  if (order.empty()) return;
  const TimingGates& g = s->track.gates;
  const int leader_laps = lap_state(g, s->clients[(size_t)order[0]].timing).completed_laps;
  const int D = s->gate_drop_tick, T = s->race_time, L0 = s->laps;
  if (s->half_way_lap >= OPEN_LAPS && s->server_tick >= D + T / 2) s->half_way_lap = leader_laps + 1;
  if (s->server_tick < D + T) return;
  int o = std::max(1, std::min(s->lap_total, leader_laps - 1));
  for (int guard = 0; guard < 1000; guard++, o++) {
    const int end_gate = g.first_lap - 1 + (o - 1) * g.normal_lap;
    int earliest = -1;
    for (int slot : order) {
      int t = pass_tick(s->clients[(size_t)slot].timing, end_gate);
      if (t >= 0 && (earliest < 0 || t < earliest)) earliest = t;
    }
    if (earliest < 0) return;
    if (earliest >= D + T) {
      s->lap_total = std::min(s->lap_total, o + L0);
      return;
    }
    s->lap_total = std::max(s->lap_total == OPEN_LAPS ? 0 : s->lap_total, o + L0 + 1);
  }
}

std::string format_ticks(int ticks) {
  if (ticks < 0) return "-";
  char text[32];
  const int ms = (int)std::lround(ticks * TICK_SECONDS * 1000.0);
  snprintf(text, sizeof text, "%d:%02d.%03d", ms / 60000, ms / 1000 % 60, ms % 1000);
  return text;
}

void final_results(RaceServer* s) {
  const std::vector<int> order = server_running_order(*s);
  // Every entry goes ahead of the results in each client's ordered queue,
  // so a client has them all when the results arrive, however slow its link.
  for (ServerClient& c : s->clients)
    if (c.state == CLIENT_JOINED && !c.robot && c.in_race && c.race_id == s->race_id)
      while (c.timing_sent < s->timing_log.size() && c.state == CLIENT_JOINED) queue_timing(s, &c);
  s->results.clear();
  s->final_order = order;
  s->races_finished++;
  int position = 1;
  for (int slot : order) {
    const ServerClient& c = s->clients[(size_t)slot];
    const LapState lap = lap_state(s->track.gates, c.timing);
    const int last = last_pass(c.timing);
    char line[160];
    snprintf(line, sizeof line, "%d. %.3s %.40s  %d laps  %s%s", position++, c.info.number.c_str(),
             c.info.name.c_str(), lap.completed_laps, format_ticks(last < 0 ? -1 : last - s->gate_drop_tick).c_str(),
             c.timing.finished ? "" : " (not finished)");
    s->results.push_back(line);
  }
  server_log(s, "Results on %s:\n", s->track.name.c_str());
  server_say(s, -1, "Results:");
  for (const std::string& line : s->results) {
    server_log(s, "  %s\n", line.c_str());
    server_say(s, -1, "%s", line.c_str());
  }
}

void show_results(RaceServer* s) {
  final_results(s);
  s->phase = PHASE_RESULTS;
  // Long enough for a slow link to take a dozen lines one by one; a client
  // that never takes them times out on its own.
  s->phase_end = s->now + 30.0;
}

bool race_over(const RaceServer& s, const std::vector<int>& order) {
  if (order.empty()) return true;
  for (int slot : order) {
    const ServerClient& c = s.clients[(size_t)slot];
    if (c.timing.finished) continue;
    if (!c.robot && s.now - c.last_state_time >= 1.0) continue;  // gone quiet: counts as done
    return false;
  }
  return true;
}

// The earliest tick at which any rider passed the finishing gate, or -1.
int first_finish_tick(const RaceServer& s) {
  const int gate = finishing_gate(s.track.gates, s.lap_total);
  int first = -1;
  for (const ServerClient& c : s.clients) {
    if (c.state != CLIENT_JOINED || !c.rider) continue;
    const int t = pass_tick(c.timing, gate);
    if (t >= 0 && (first < 0 || t < first)) first = t;
  }
  return first;
}

// Whether some rider's lap reports are still on their way: it has not
// finished, still sends states, had a report taken lately, and its newest
// gate is from before the end of the finish window (counted in race ticks
// from the first finish, however late the reports of either arrived).
bool reports_still_coming(const RaceServer& s) {
  const int first = first_finish_tick(s);
  if (first < 0) return false;
  const long window_end = first + std::lround((s.config.finish_seconds + FINISH_GRACE_SECONDS) * TICKS_PER_SECOND);
  for (const ServerClient& c : s.clients) {
    if (c.state != CLIENT_JOINED || c.robot || !c.rider || c.timing.finished) continue;
    if (s.now - c.last_state_time >= 1.0 || s.now - c.last_report_time >= REPORT_PATIENCE_SECONDS) continue;
    if (last_pass(c.timing) < window_end) return true;
  }
  return false;
}

int human_riders(const RaceServer& s) {
  int n = 0;
  for (const ServerClient& c : s.clients) n += c.state == CLIENT_JOINED && !c.robot;
  return n;
}

// Whether the recorded states near `tick` put the rider near the checkpoint;
// true when none are near enough in time to tell.
bool gate_evidence(const ServerClient& c, const Checkpoint& cp, int tick) {
  bool any = false;
  for (int i = 0; i < c.position_count; i++) {
    const RecordedPosition& p = c.positions[i];
    const int off = std::abs(p.tick - tick);
    if (off > GATE_EVIDENCE_TICKS) continue;
    any = true;
    const float dx = p.position.x - cp.point.x, dz = p.position.z - cp.point.z;
    const float reach = cp.radius + GATE_EVIDENCE_MARGIN + GATE_EVIDENCE_SPEED * (float)(off * TICK_SECONDS);
    if (dx * dx + dz * dz <= reach * reach) return true;
  }
  return !any;
}

// The gate step's rules for which gate may be taken next, applied to a
// report instead of a position.
const char* check_report(const RaceServer& s, const ServerClient& c, int gate, int tick) {
  const TimingGates& g = s.track.gates;
  const BikeTiming& t = c.timing;
  const int p = t.gates_passed;
  const int offset = gate - p;
  if (gate < 0 || gate > MAX_GATE_INDEX) return "gate out of range";
  if (offset != -3 && offset != -2 && offset != 0 && offset != 1 && offset != 2) return "not a gate it can reach";
  if (offset < 0 && pass_tick(t, gate) >= 0) return "gate already passed";
  for (int k = p; k < gate; k++)
    if (is_lap_end(g, k) && pass_tick(t, k) < 0) return "skips the end of a lap";
  if (tick < 0 || tick > s.server_tick + CLOCK_SLACK_TICKS) return "tick out of range";
  if (offset >= 0 && tick < last_pass(t)) return "earlier than its last gate";
  const Checkpoint& cp = g.checkpoints[(size_t)(g.sequence[(size_t)folded_gate(g, gate)] % NO_SPLIT_MARK)];
  if (!gate_evidence(c, cp, tick)) return "not near the gate";
  return nullptr;
}

void reset_rider(ServerClient* c) {
  c->last_stamp = -1;
  c->fresh_state = false;
  c->position_count = c->position_head = 0;
  reset_bike_timing(&c->timing);
  c->restart_vote = false;
  c->timing_sent = 0;
  c->last_state_time = 0.0;
  c->last_report_time = -1e9;
}

}  // namespace

std::vector<int> server_running_order(const RaceServer& s) {
  std::vector<int> order;
  for (size_t i = 0; i < s.clients.size(); i++)
    if (s.clients[i].state == CLIENT_JOINED && s.clients[i].rider) order.push_back((int)i);
  std::sort(order.begin(), order.end(), [&](int a, int b) {
    const BikeTiming& ta = s.clients[(size_t)a].timing;
    const BikeTiming& tb = s.clients[(size_t)b].timing;
    if (ta.gates_passed != tb.gates_passed) return ta.gates_passed > tb.gates_passed;
    const int la = last_pass(ta), lb = last_pass(tb);
    if (la != lb) return la < lb;
    return a < b;
  });
  return order;
}

void begin_phase(RaceServer* s, int phase) {
  if (phase == PHASE_WARMUP && (s->phase != PHASE_WARMUP || s->track_index < 0)) advance_track(s);
  if (!s->track_loaded) return;
  s->phase = phase;
  s->race_id++;
  s->race_start = s->now;
  s->server_tick = 0;
  s->processed_tick = 0;
  s->timing_log.clear();
  s->roster_change = 0.0;
  if (phase == PHASE_WARMUP) {
    s->laps = 0;
    s->race_time = 0;
    s->gate_drop_tick = 0;
    s->lap_total = s->half_way_lap = OPEN_LAPS;
    s->phase_end = s->now + s->config.warmup_seconds;
  } else {
    s->laps = std::max(0, s->config.laps);
    s->race_time = (int)std::lround(std::max(0.0, s->config.minutes) * 60.0 * TICKS_PER_SECOND);
    if (s->laps == 0 && s->race_time == 0) s->laps = 1;  // a race must end somewhere
    s->gate_drop_tick = (int)std::lround(s->config.gate_drop_seconds * TICKS_PER_SECOND);
    if (s->race_time > 0) {
      s->lap_total = s->half_way_lap = OPEN_LAPS;
    } else {
      s->lap_total = s->laps;
      s->half_way_lap = (s->laps + 1) / 2;
    }
  }
  for (size_t i = 0; i < s->clients.size(); i++) {
    ServerClient& c = s->clients[i];
    reset_rider(&c);
    c.in_race = false;
    c.rider = c.state == CLIENT_JOINED;
    if (c.robot) {
      start_scripted_rider(&c.scripted, s->track, s->scale, (int)i, s->config.robot_speed);
      c.race_id = s->race_id;
      continue;
    }
    // Those racing hear of the new race at once; the rest when they next
    // send something of the old one.
    c.last_restart_sent = -1e9;
    if (c.state == CLIENT_JOINED) {
      ServerMessage m = server_message(SV_RESTART);
      m.race_id = s->race_id;
      server_send_message(s, &c, m);
      c.last_restart_sent = s->now;
    }
  }
  if (phase == PHASE_WARMUP) {
    server_log(s, "Warmup %u on %s\n", s->race_id, s->track.name.c_str());
    server_say(s, -1, "Warmup on %s - the race starts in %d seconds", s->track.name.c_str(),
               (int)std::lround(s->config.warmup_seconds));
  } else {
    const int minutes = (int)std::lround(s->race_time * TICK_SECONDS / 60.0);
    char format[64];
    if (s->race_time == 0)
      snprintf(format, sizeof format, "%d laps", s->laps);
    else if (s->laps == 0)
      snprintf(format, sizeof format, "%d minutes", minutes);
    else
      snprintf(format, sizeof format, "%d minutes + %d laps", minutes, s->laps);
    server_log(s, "Race %u on %s: %s\n", s->race_id, s->track.name.c_str(), format);
    server_say(s, -1, "Race on %s: %s", s->track.name.c_str(), format);
  }
}

void join_current_race(RaceServer* s, ServerClient* c) {
  reset_rider(c);
  c->in_race = false;
  if (s->phase == PHASE_WARMUP) {
    c->rider = true;
    // The others learn of the new bike when the warmup restarts, once the
    // riders arriving together are all in.
    s->roster_change = s->now + 5.0;
  } else {
    c->rider = false;
    server_say(s, client_index(*s, c), "A race is running - you are watching until the next one");
  }
}

void send_track(RaceServer* s, ServerClient* c) {
  if (c->race_id == 0 || c->race_id > s->race_id) c->race_id = s->race_id;
  ServerMessage m = server_message(SV_TRACK);
  m.race_id = c->race_id;
  m.race_time = (uint32_t)s->race_time;
  m.laps = (uint32_t)s->laps;
  m.gate_drop_tick = (uint32_t)s->gate_drop_tick;
  memcpy(m.digest, s->track.digest, TRACK_DIGEST_BYTES);
  m.text = reinterpret_cast<const uint8_t*>(s->track.name.data());
  m.text_length = (int)std::min<size_t>(s->track.name.size(), MAX_DATAGRAM - 37);
  server_send_message(s, c, m);
}

void send_next_bike(RaceServer* s, ServerClient* c) {
  const int self = client_index(*s, c);
  const int after = c->last_bike_acknowledged;
  // A client still shaking hands for a race that is over needs no bikes:
  // race ready takes it to the waiting state, where it hears of the new race.
  const bool stale = c->race_id != s->race_id;
  for (int slot = after == NO_BIKE ? 0 : after + 1; !stale && slot < (int)s->clients.size(); slot++) {
    const ServerClient& other = s->clients[(size_t)slot];
    if (slot == self || other.state != CLIENT_JOINED || !other.rider) continue;
    // Clients put a robot in the slot as lineup code 1000 + its number.
    const std::string text = other.robot ? robot_bike_text(other.info, other.robot_number, MAX_DATAGRAM - 9)
                                         : client_info_text(other.info, MAX_DATAGRAM - 9);
    ServerMessage m = server_message(SV_BIKE);
    m.race_id = c->race_id;
    m.bike_slot = (uint32_t)slot;
    m.text = reinterpret_cast<const uint8_t*>(text.data());
    m.text_length = (int)text.size();
    server_send_message(s, c, m);
    return;
  }
  const std::string text = client_info_text(c->info, MAX_DATAGRAM - 9);
  ServerMessage m = server_message(SV_RACE_READY);
  m.race_id = c->race_id;
  m.bike_slot = c->rider ? (uint32_t)self : (uint32_t)NO_BIKE;
  m.text = reinterpret_cast<const uint8_t*>(text.data());
  m.text_length = (int)text.size();
  server_send_message(s, c, m);
}

void take_state(RaceServer* s, ServerClient* c, const ClientMessage& m) {
  if (m.tick >= (1u << 30)) return;
  const int tick = (int)m.tick;
  if (tick <= c->last_stamp || tick > s->server_tick + CLOCK_SLACK_TICKS) return;
  c->last_stamp = tick;
  c->record = m.record;
  c->fresh_state = true;
  c->echo = m.tick;
  const long ping = (long)s->server_tick - (long)m.server_tick;
  c->ping = (int)std::clamp(ping, 0L, 65535L);
  c->last_state_time = s->now;
  const DVec p = record_frame_position(m.record, s->scale);
  record_position(c, tick, to_vec3(p));
}

void relay_states(RaceServer* s) {
  std::vector<int> fresh;
  for (size_t i = 0; i < s->clients.size(); i++)
    if (s->clients[i].fresh_state && s->clients[i].rider) fresh.push_back((int)i);
  if (fresh.empty()) return;
  uint8_t entries[MAX_STATE_ENTRIES * STATE_ENTRY_BYTES];
  for (size_t r = 0; r < s->clients.size(); r++) {
    ServerClient& to = s->clients[r];
    if (to.robot || to.state != CLIENT_JOINED || !to.in_race || to.race_id != s->race_id) continue;
    int count = 0;
    auto flush = [&]() {
      if (count == 0) return;
      ServerMessage m = server_message(SV_STATES);
      m.race_id = s->race_id;
      m.server_tick = (uint32_t)s->server_tick;
      m.echo = to.echo;
      m.count = (uint32_t)count;
      m.text = entries;
      m.text_length = count * STATE_ENTRY_BYTES;
      server_send_message(s, &to, m);
      count = 0;
    };
    for (int slot : fresh) {
      if (slot == (int)r) continue;
      const ServerClient& from = s->clients[(size_t)slot];
      StateEntry e;
      e.slot = (uint16_t)slot;
      e.ping = (uint16_t)from.ping;
      e.stamp = (uint32_t)from.last_stamp;
      e.record = from.record;
      write_state_entry(e, entries + count * STATE_ENTRY_BYTES);
      if (++count == MAX_STATE_ENTRIES) flush();
    }
    flush();
  }
  for (int slot : fresh) s->clients[(size_t)slot].fresh_state = false;
}

void take_lap_report(RaceServer* s, ServerClient* c, const uint8_t* p, int length) {
  if (length != 12 || read_u32(p) != s->race_id || c->race_id != s->race_id) return;
  if (!timed_race(*s) || !c->rider || c->timing.finished) return;
  const uint32_t gate = read_u32(p + 4), tick = read_u32(p + 8);
  const int g = gate > (uint32_t)MAX_GATE_INDEX ? -1 : (int)gate;
  const int t = tick >= (1u << 30) ? -1 : (int)tick;
  if (const char* why = check_report(*s, *c, g, t)) {
    server_log(s, "Lap report of %s refused: gate %u at %u, %s\n", c->info.name.c_str(), gate, tick, why);
    return;
  }
  set_pass_tick(&c->timing, g, t);
  set_gates_passed(&c->timing, g + 1);
  c->last_report_time = s->now;
  log_pass(s, client_index(*s, c), g, t);
  settle_server_finishes(s);
}

void settle_server_finishes(RaceServer* s) {
  std::vector<BikeTiming*> bikes;
  for (ServerClient& c : s->clients)
    if (c.state == CLIENT_JOINED && c.rider) bikes.push_back(&c.timing);
  settle_finishes(s->track.gates, bikes.data(), (int)bikes.size(), s->phase == PHASE_WARMUP ? 0 : s->lap_total);
  for (ServerClient& c : s->clients)
    if (c.robot && c.rider) c.scripted.timing = c.timing;
}

void flush_timing(RaceServer* s, ServerClient* c) {
  // Batched: entries wait while a message is in flight and go out together.
  if (!c->out.queue.empty()) return;
  queue_timing(s, c);
}

void queue_timing(RaceServer* s, ServerClient* c) {
  if (c->timing_sent >= s->timing_log.size()) return;
  uint8_t payload[8 + TIMING_ENTRIES_PER_MESSAGE * 12];
  const int self = client_index(*s, c);
  int count = 0;
  while (c->timing_sent < s->timing_log.size() && count < TIMING_ENTRIES_PER_MESSAGE) {
    const TimingLogEntry& e = s->timing_log[c->timing_sent++];
    if (e.slot == self) continue;
    uint8_t* q = payload + 8 + count * 12;
    write_u32(q, (uint32_t)e.slot);
    write_u32(q + 4, (uint32_t)e.index);
    write_u32(q + 8, (uint32_t)e.tick);
    count++;
  }
  if (count == 0) return;
  write_u32(payload, s->race_id);
  write_u32(payload + 4, (uint32_t)count);
  server_queue_reliable(s, c, RELIABLE_TIMING, payload, 8 + count * 12);
}

void consider_restart_votes(RaceServer* s) {
  int votes = 0, riders = 0;
  for (const ServerClient& c : s->clients) {
    if (c.state != CLIENT_JOINED || c.robot || !c.rider) continue;
    riders++;
    votes += c.restart_vote;
  }
  if (riders == 0 || votes * 2 <= riders) return;
  server_log(s, "Restart voted (%d of %d)\n", votes, riders);
  server_say(s, -1, "Restarting the race");
  begin_phase(s, PHASE_RACE);
}

void run_race_cycle(RaceServer* s) {
  if (!s->track_loaded) return;
  step_robots(s);
  const int humans = human_riders(*s);
  switch (s->phase) {
    case PHASE_WARMUP:
      if (humans == 0) {
        s->phase_end = s->now + s->config.warmup_seconds;  // nobody to race: wait
        break;
      }
      // Only with time left for everyone to shake hands again.
      if (s->roster_change > 0.0 && s->now >= s->roster_change && s->now < s->phase_end - 10.0) {
        // Same track, a fresh warmup race id: every client learns the new bikes.
        const double end = s->phase_end;
        begin_phase(s, PHASE_WARMUP);
        s->phase_end = end;
        break;
      }
      if (s->now >= s->phase_end) begin_phase(s, PHASE_RACE);
      break;
    case PHASE_RACE:
    case PHASE_FINISH: {
      if (humans == 0) {
        server_log(s, "Everyone left; back to warmup\n");
        begin_phase(s, PHASE_WARMUP);
        break;
      }
      if (s->server_tick % 512 == 510) update_lap_total(s);
      if (s->server_tick > s->gate_drop_tick + (int)(s->config.max_race_seconds * TICKS_PER_SECOND)) {
        server_log(s, "The race ran out of time\n");
        show_results(s);
        break;
      }
      const std::vector<int> order = server_running_order(*s);
      if (s->phase == PHASE_RACE && progress(*s, order).leader_passed_finishing_gate) {
        s->phase = PHASE_FINISH;
        s->phase_end = s->now + s->config.finish_seconds;
        server_log(s, "%s wins\n", s->clients[(size_t)order[0]].info.name.c_str());
      }
      // Timing entries must reach everyone before the results: wait while
      // any client still has some queued.
      bool delivered = true;
      for (const ServerClient& c : s->clients)
        if (c.in_race && !c.robot && (c.timing_sent < s->timing_log.size() || !c.out.queue.empty()))
          delivered = false;
      // Past the finish window those who have not finished are out, unless
      // their reports are still arriving from inside it.
      const double window_end = s->phase_end + FINISH_GRACE_SECONDS;
      const bool window_over =
          s->now >= window_end && (s->now >= window_end + LATE_REPORT_LIMIT_SECONDS || !reports_still_coming(*s));
      if (s->phase == PHASE_FINISH &&
          ((race_over(*s, order) && (delivered || s->now >= s->phase_end + 5.0)) || window_over)) {
        show_results(s);
      }
      break;
    }
    case PHASE_RESULTS: {
      // The results reach everyone while they are still in the race; the
      // next warmup's restart would otherwise overtake them.
      bool delivered = true;
      for (const ServerClient& c : s->clients)
        if (c.in_race && !c.robot && !c.out.queue.empty()) delivered = false;
      if (humans == 0 || delivered || s->now >= s->phase_end) begin_phase(s, PHASE_WARMUP);
      break;
    }
    default: break;
  }
}
