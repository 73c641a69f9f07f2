// The race reset, the lineup and its placement, the standings and the race
// length, and the bike slots.
#include "race/race.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bike/bike.h"
#include "bike/bike_setup.h"
#include "platform/log.h"
#include "render/texture.h"
#include "replay/history.h"
#include "robot/personalities.h"
#include "track/loading.h"
#include "track/track.h"

static_assert(RACE_SLOT_EMPTY == SLOT_MODE_EMPTY && RACE_SLOT_LOCAL == SLOT_MODE_PLAYER &&
                  RACE_SLOT_HISTORY == SLOT_MODE_HISTORY && RACE_SLOT_ROBOT == SLOT_MODE_ROBOT,
              "the race's slot modes are the state history's");
static_assert(PERSONALITY_COUNT == 80, "the reset shuffles 80 personalities");

namespace {

const char* or_null(const std::string& text) { return text.empty() ? nullptr : text.c_str(); }

bool online(const Race& r) { return r.seams.net.online && r.seams.net.online(r.seams.net.context); }

// The first unused personality in the shuffled order that fits; once every
// fitting one is taken they are handed out again in the same order.
int pick_personality(Race* r, PersonalityKind kind, bool used[PERSONALITY_COUNT]) {
  for (int pass = 0; pass < 2; pass++) {
    for (int i = 0; i < PERSONALITY_COUNT; i++) {
      int p = r->personality_order[i];
      if (!used[p] && personality_fits(g_robot_personalities[p], kind)) {
        used[p] = true;
        return p;
      }
    }
    for (int p = 0; p < PERSONALITY_COUNT; p++)
      if (personality_fits(g_robot_personalities[p], kind)) used[p] = false;
  }
  return r->personality_order[0];  // no personality fits at all
}

RaceRider personality_rider(int index) {
  const RobotPersonality& p = g_robot_personalities[index];
  RaceRider rider;
  rider.model = p.bike;
  rider.rider_skin = p.gear_skin;
  rider.helmet_skin = p.helmet_skin;
  rider.number = p.number;
  rider.name = p.name;
  return rider;
}

PersonalityKind kind_for_code(int code) {
  if (code == LINEUP_ROBOT_2_STROKE) return PERSONALITY_TWO_STROKE;
  if (code == LINEUP_ROBOT_4_STROKE) return PERSONALITY_FOUR_STROKE;
  return PERSONALITY_ANY;
}

bool known_code(int code) {
  return (code >= LINEUP_EMPTY && code <= LINEUP_REMOTE_PLAYER) || code >= LINEUP_ROBOT_NUMBER;
}

// Earliest tick at which any present bike completed lap `lap`, -1 for none.
int earliest_lap_completion(const Race& r, int lap) {
  const TimingGates& g = r.track->gates;
  int gate = lap_end_gate(g, lap);
  int earliest = -1;
  for (int s = 0; s < MAX_BIKES; s++) {
    if (r.mode[s] == RACE_SLOT_EMPTY) continue;
    int t = pass_tick(r.timing[s], gate);
    if (t >= 0 && (earliest < 0 || t < earliest)) earliest = t;
  }
  return earliest;
}

void create_lineup_bikes(Race* r, const int lineup[MAX_BIKES], LoadingStage* stage) {
  bool used[PERSONALITY_COUNT] = {};
  for (int s = 0; s < MAX_BIKES; s++) {
    int code = lineup[s];
    if (code == LINEUP_EMPTY) continue;
    tick_loading_stage(stage);
    if (code == LINEUP_HUMAN) {
      race_add_bike(r, s, RACE_SLOT_LOCAL, r->player);
    } else if (code == LINEUP_REMOTE_PLAYER || code >= LINEUP_ROBOT_NUMBER) {
      RaceRider rider;
      const RaceNetSeams& net = r->seams.net;
      // A rider from the server's tables rides as the server's states say,
      // a robot of the server's included; robot n without them is ridden
      // here by personality n.
      const bool remote = net.slot_rider && net.slot_rider(net.context, s, code, &rider);
      int personality = code >= LINEUP_ROBOT_NUMBER ? (code - LINEUP_ROBOT_NUMBER) % PERSONALITY_COUNT : -1;
      if (!remote && personality < 0) continue;
      if (!remote) rider = personality_rider(personality);
      race_add_bike(r, s, remote ? RACE_SLOT_HISTORY : RACE_SLOT_ROBOT, rider);
      if (personality >= 0) r->personality[s] = personality;
      if (!remote && r->seams.robot.robot_created)
        r->seams.robot.robot_created(r->seams.robot.context, s, personality, r->skill);
    } else {
      int personality = pick_personality(r, kind_for_code(code), used);
      race_add_bike(r, s, RACE_SLOT_ROBOT, personality_rider(personality));
      r->personality[s] = personality;
      if (r->seams.robot.robot_created) r->seams.robot.robot_created(r->seams.robot.context, s, personality, r->skill);
    }
  }
}

}  // namespace

// --- rules -----------------------------------------------------------------------------

uint32_t next_race_random(uint32_t* state) {
  *state = *state * 1103515245u + 12345u;
  return *state;
}

int random_gate_drop_tick(uint32_t* state) {
  double u = next_race_random(state) / 4294967296.0;
  return (int)((1.0 / TICK_SECONDS) * (2.0 * u + 13.0));
}

void shuffle_personalities(int order[80], uint32_t* state) {
  for (int i = 0; i < 80; i++) order[i] = i;
  for (int j = 79; j >= 1; j--) {
    uint32_t r = next_race_random(state);
    std::swap(order[j], order[(r / 65536) % (uint32_t)j]);
  }
}

void normalise_lineup(const int* in, bool playback, int out[MAX_BIKES]) {
  bool human = false, any = false;
  for (int s = 0; s < MAX_BIKES; s++) {
    int code = in ? in[s] : LINEUP_EMPTY;
    if (!known_code(code)) code = LINEUP_EMPTY;
    if (code == LINEUP_HUMAN) {
      if (human) code = LINEUP_EMPTY;
      human = true;
    }
    out[s] = code;
    any = any || code != LINEUP_EMPTY;
  }
  if (!any && !playback) out[0] = LINEUP_ROBOT;
}

StartPlace starting_place(const LoadedTrack& track, int slot) {
  const std::vector<StartingGate>& gates = track.gates.starting_gates;
  const Terrain& terrain = track.terrain;
  StartPlace place;
  if (!gates.empty()) {
    const int G = (int)gates.size();
    const StartingGate& gate = gates[(size_t)(slot % G)];
    const float behind = ((float)(slot / G) + ROW_OFFSET) * ROW_SPACING;
    place.heading = gate.heading;
    place.position = Vec3{gate.position.x + std::sin(gate.heading) * behind, gate.position.y,
                          gate.position.z + std::cos(gate.heading) * behind};
  } else {
    const float centre = terrain.width * 0.5f;
    place.heading = 0;
    place.position = Vec3{centre + NO_GATE_SPACING * (float)slot, 0, centre};
  }
  if (!terrain.heights.empty()) place.position.y = height_at(terrain, place.position.x, place.position.z);
  return place;
}

void set_race_length(Race* r, int time_limit, int laps) {
  r->time_limit = std::max(0, time_limit);
  r->configured_laps = std::max(0, laps);
  if (r->time_limit > 0) {
    r->lap_total = r->half_way_lap = OPEN_LAPS;
  } else {
    r->lap_total = r->configured_laps;
    r->half_way_lap = (r->configured_laps + 1) / 2;
  }
}

void update_race_length(Race* r) {
  if (r->time_limit <= 0 || r->running_count == 0 || !r->track || !r->track->gates.timed) return;
  const int leader_laps = race_lap_state(*r, r->running_order[0].slot).completed_laps;
  const int D = r->gate_drop_tick, T = r->time_limit;
  if (r->half_way_lap == OPEN_LAPS && r->tick >= D + T / 2) r->half_way_lap = leader_laps + 1;
  if (r->tick < D + T) return;
  for (int lap = std::max(1, std::min(r->lap_total, leader_laps - 1));; lap++) {
    int earliest = earliest_lap_completion(*r, lap);
    if (earliest < 0) return;
    if (earliest >= D + T) {
      r->lap_total = std::min(r->lap_total, lap + r->configured_laps);
      return;
    }
    r->lap_total = std::max(r->lap_total, lap + r->configured_laps + 1);
  }
}

// --- slots ----------------------------------------------------------------------------

void init_race(Race* r) {
  *r = Race{};
  r->track = &g_track;
  for (int s = 0; s < MAX_BIKES; s++) {
    r->mode[s] = RACE_SLOT_EMPTY;
    r->personality[s] = -1;
    reset_bike_timing(&r->timing[s]);
  }
  for (int i = 0; i < PERSONALITY_COUNT; i++) r->personality_order[i] = i;
}

bool race_add_bike(Race* r, int slot, int mode, const RaceRider& rider) {
  if (slot < 0 || slot >= MAX_BIKES || !r->track) return false;
  race_remove_bike(r, slot);
  const char* model = rider.model.empty() ? "crf450(2016)" : rider.model.c_str();
  Bike* b = create_bike(model, slot, or_null(rider.bike_skin), or_null(rider.rider_skin), or_null(rider.helmet_skin),
                        or_null(rider.wheel_skin), rider.number.c_str());
  if (!rider.setup.empty()) {
    BikeSetup setup;
    for (const auto& [key, value] : rider.setup) set_setup_value(&setup, key.c_str(), value);
    apply_setup(b, setup, 0);  // a bike that was just built stands still
  }
  StartPlace place = starting_place(*r->track, slot);
  place_bike(b, place.position, place.heading);
  r->bikes[slot] = b;
  r->mode[slot] = mode;
  r->riders[slot] = rider;
  r->personality[slot] = -1;
  reset_bike_timing(&r->timing[slot]);
  if (r->seams.bike_created) r->seams.bike_created(r->seams.context, slot, *b);
  return true;
}

void race_remove_bike(Race* r, int slot) {
  if (slot < 0 || slot >= MAX_BIKES) return;
  if (r->bikes[slot]) {
    if (r->seams.bike_freed) r->seams.bike_freed(r->seams.context, slot);
    delete_bike(r->bikes[slot]);
  }
  r->bikes[slot] = nullptr;
  r->mode[slot] = RACE_SLOT_EMPTY;
  r->personality[slot] = -1;
  r->riders[slot] = RaceRider{};
  reset_bike_timing(&r->timing[slot]);
}

void free_race(Race* r) {
  for (int s = 0; s < MAX_BIKES; s++) race_remove_bike(r, s);
  r->local_slot = NO_BIKE;
  r->running_count = 0;
}

// --- reset ------------------------------------------------------------------------------

bool reset_race(Race* r, const RaceSetup& setup) {
  const RaceSeams& seams = r->seams;
  reset_loading_gaps();
  // 1.
  show_loading_message("Resetting...");
  log_printf("Resetting\n");
  r->random = (uint32_t)r->tick;
  shuffle_personalities(r->personality_order, &r->random);
  LoadingStage stage;
  // 2.
  begin_loading_stage(&stage, "Remembering lines");
  if (seams.robot.remember_lines && !r->track->name.empty())
    seams.robot.remember_lines(seams.robot.context, r->track->name.c_str());
  if (seams.replay.close_demos) seams.replay.close_demos(seams.replay.context);
  end_loading_stage(&stage);
  // 3.
  begin_loading_stage(&stage, "Cleaning up");
  log_printf("Deallocating bikes\n");
  free_race(r);
  log_printf("Finished deallocating bikes\n");
  end_loading_stage(&stage);

  // 4.
  const bool on_server = online(*r);
  r->tick = 0;
  r->skill = setup.skill;
  r->playback = setup.playback;
  r->record = setup.record;
  r->practice = setup.practice && setup.lineup != nullptr && !setup.playback;
  r->time_limit = std::max(0, setup.time_limit);
  r->configured_laps = std::max(0, setup.laps);
  r->gate_drop_tick = on_server && seams.net.gate_drop_tick ? seams.net.gate_drop_tick(seams.net.context)
                                                            : random_gate_drop_tick(&r->random);
  r->time_trial = setup.lineup == nullptr;
  if (r->time_trial) {
    for (int& code : r->lineup) code = LINEUP_EMPTY;
    r->lineup[0] = LINEUP_HUMAN;
    r->tick = TIME_TRIAL_START_TICK;
  } else {
    normalise_lineup(setup.lineup, setup.playback, r->lineup);
  }
  r->results_final = false;
  r->penalty_hold = 0;
  r->best_lap = r->session_best_lap = r->last_lap = -1;
  r->gates.clear();
  // 5.
  if (!on_server && seams.net.clear_online_data) seams.net.clear_online_data(seams.net.context);

  // 6.
  std::string name = r->track->name;
  if (setup.playback && seams.replay.playback_track) {
    const char* demo_track = seams.replay.playback_track(seams.replay.context);
    if (demo_track && *demo_track) name = demo_track;
  } else if (on_server && seams.net.track) {
    const char* server_track = seams.net.track(seams.net.context);
    if (server_track && *server_track) name = server_track;
  } else if (setup.track && *setup.track) {
    name = setup.track;
  }
  TrackLoadSettings load = {r->ground_method, r->shader_path, r->debug_level};
  r->reset_count++;
  bool force = seams.net.take_forced_reload && seams.net.take_forced_reload(seams.net.context);
  if (name.empty() || !reload_track(r->track, name, force, load)) {
    r->local_slot = NO_BIKE;
    return false;
  }
  r->gates.assign(r->track->gates.starting_gates.size(), GateFall{1.0f, 0.0f, false});

  // 7.
  begin_loading_stage(&stage, "Analyzing lines");
  if (seams.robot.analyze_lines) seams.robot.analyze_lines(seams.robot.context, name.c_str(), r->skill);
  end_loading_stage(&stage);

  // 8.
  begin_loading_stage(&stage, "Loading bikes");
  create_lineup_bikes(r, r->lineup, &stage);
  if (setup.playback && seams.replay.create_playback_riders)
    seams.replay.create_playback_riders(seams.replay.context, r);
  end_loading_stage(&stage);

  // 9.
  log_printf("%d MB texture memory used\n", (int)(texture_memory_used() >> 20));
  set_race_length(r, r->time_limit, r->configured_laps);
  // A time trial starts long after the drop: its gates lie down from the start.
  for (GateFall& gate : r->gates) gate = GateFall{r->time_trial ? 0.0f : 1.0f, 0.0f, false};
  if (r->time_trial) r->lap_total = r->half_way_lap = OPEN_LAPS;

  // 10.
  r->local_slot = NO_BIKE;
  for (int s = 0; s < MAX_BIKES && r->local_slot == NO_BIKE; s++) {
    if (setup.playback ? r->bikes[s] != nullptr : r->lineup[s] == LINEUP_HUMAN && r->bikes[s]) r->local_slot = s;
  }
  if (r->local_slot != NO_BIKE) {
    Bike* b = r->bikes[r->local_slot];
    b->announce_messages = r->mode[r->local_slot] == RACE_SLOT_LOCAL;
    DVec p = body_position(*b, BODY_FRAME);
    r->start_position = Vec3{(float)p.x, (float)p.y, (float)p.z};
  }
  update_standings(r);
  if (seams.replay.race_started) seams.replay.race_started(seams.replay.context, r);
  log_longest_loading_gap();
  return true;
}

// --- standings --------------------------------------------------------------------------

int current_running_order(const Race& r, RunningEntry out[MAX_BIKES]) {
  int n = 0;
  for (int s = 0; s < MAX_BIKES; s++) {
    if (r.mode[s] == RACE_SLOT_EMPTY) continue;
    const BikeTiming& t = r.timing[s];
    out[n++] = RunningEntry{s, t.gates_passed, t.gates_passed > 0 ? pass_tick(t, t.gates_passed - 1) : -1};
  }
  std::sort(out, out + n, [](const RunningEntry& a, const RunningEntry& b) {
    if (a.gates_passed != b.gates_passed) return a.gates_passed > b.gates_passed;
    if (a.last_tick != b.last_tick) return a.last_tick < b.last_tick;
    return a.slot < b.slot;
  });
  return n;
}

void update_standings(Race* r) {
  const int n = current_running_order(*r, r->running_order);
  r->running_count = n;
  update_race_length(r);
  if (n == 0 || r->results_final || r->time_trial) return;
  const RaceNetSeams& net = r->seams.net;
  const bool on_server = net.online && net.online(net.context);
  for (int i = 0; i < n; i++) {
    const int s = r->running_order[i].slot;
    if (r->timing[s].finished) continue;
    // Online a rider gone quiet (left, or lost) holds nobody's results.
    if (on_server && r->mode[s] == RACE_SLOT_HISTORY && net.slot_inactive && net.slot_inactive(net.context, s))
      continue;
    return;
  }
  r->results_final = true;
  if (r->seams.final_results) r->seams.final_results(r->seams.context, r);
}

bool race_bike_finished(const Race& r, int slot) {
  return slot >= 0 && slot < MAX_BIKES && r.mode[slot] != RACE_SLOT_EMPTY && r.timing[slot].finished;
}

bool race_over(const Race& r) {
  if (r.running_count == 0 || !r.track || !r.track->gates.timed) return false;
  return race_lap_state(r, r.running_order[0].slot).completed_laps >= r.lap_total;
}

LapState race_lap_state(const Race& r, int slot) {
  if (slot < 0 || slot >= MAX_BIKES || !r.track) return LapState{0, 0};
  return lap_state(r.track->gates, r.timing[slot]);
}

int race_lap_time(const Race& r, int slot, int lap) {
  if (slot < 0 || slot >= MAX_BIKES || !r.track) return -1;
  return lap_time(r.track->gates, r.timing[slot], lap, r.gate_drop_tick);
}

int race_best_lap(const Race& r, int slot, int* lap_number) {
  int best = -1, best_number = 0;
  int laps = race_lap_state(r, slot).completed_laps;
  for (int lap = 2; lap <= laps; lap++) {
    int t = race_lap_time(r, slot, lap);
    if (t > 0 && (best < 0 || t < best)) {
      best = t;
      best_number = lap;
    }
  }
  if (lap_number) *lap_number = best_number;
  return best;
}

bool race_bike_info(const Race& r, int slot, RaceBikeInfo* out) {
  if (slot < 0 || slot >= MAX_BIKES || !r.bikes[slot]) return false;
  const Bike& b = *r.bikes[slot];
  DVec p = body_position(b, BODY_FRAME), v = body_velocity(b, BODY_FRAME);
  const double* R = body_rotation(b, BODY_FRAME);  // rows of four
  out->position = Vec3{(float)p.x, (float)p.y, (float)p.z};
  out->velocity = Vec3{(float)v.x, (float)v.y, (float)v.z};
  for (int row = 0; row < 3; row++)
    for (int col = 0; col < 3; col++) out->rotation[row * 3 + col] = (float)R[row * 4 + col];
  out->clutch_engagement = (float)b.clutch_engagement;
  out->checkpoint = -1;
  const BikeTiming& t = r.timing[slot];
  const TimingGates& g = r.track->gates;
  if (g.timed && t.gates_passed > 0) out->checkpoint = g.sequence[(size_t)folded_gate(g, t.gates_passed - 1)] % NO_SPLIT_MARK;
  out->status_line = b.status_text;
  return true;
}
