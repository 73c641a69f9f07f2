// The race runner's race, log, report and benchmark.
#include "tools/race_runner/runner.h"

#include <chrono>
#include <cmath>
#include <algorithm>
#include <cstring>
#include <ctime>
#include <memory>

#include "bike/bike.h"
#include "bike/bike_sim.h"
#include "bike/part_shapes.h"
#include "bike/proving_ground.h"
#include "bike/roost.h"
#include "core/datafile.h"
#include "bike/ruts.h"
#include "render/texture.h"
#include "replay/demo_modes.h"
#include "track/track.h"

namespace {

constexpr int COURSE_CHECKPOINTS = 8;
constexpr float COURSE_CHECKPOINT_RADIUS = 40;
constexpr int COURSE_GATES = 10;
constexpr float COURSE_GATE_SPACING = 4;
constexpr int LINE_POINTS_PER_GATE = 6;
// Laps of line past the race's end (a rolling finish), and for a timed race.
constexpr int LINE_EXTRA_LAPS = 2;
constexpr int TIMED_RACE_LINE_LAPS = 100;
constexpr int FINISH_GRACE_TICKS = 30 * TICKS_PER_SECOND;  // after the last gate passed, the leader home
constexpr double ROBOT_FOLLOW_SPEED = 30 * FEET_PER_SECOND_PER_MPH;

const char* const COURSE_PREFIX = "course:";

// The wheel-terrain effects of the race step: the runner's own erosion
// setting, as the game's is its command line's.
void runner_wheel_terrain(void* context, Bike* bike, LoadedTrack* track) {
  const Runner* r = (const Runner*)context;
  if (r->options.erosion > 0 && track) erosion_step(bike, &track->terrain, r->options.erosion);
}

void set_error(char* error, size_t size, const char* text) {
  if (error && size) snprintf(error, size, "%s", text);
}

int nearest_point(const std::vector<Vec3>& line, Vec3 p) {
  int best = 0;
  double best_d = 1e300;
  for (size_t i = 0; i < line.size(); i++) {
    double dx = line[i].x - p.x, dz = line[i].z - p.z;
    if (dx * dx + dz * dz < best_d) {
      best_d = dx * dx + dz * dz;
      best = (int)i;
    }
  }
  return best;
}

void start_follower(PathFollower* f, const std::vector<Vec3>& line, const Bike& bike, double speed, bool keys) {
  *f = PathFollower{};
  if (line.size() < 2) return;
  f->points = line.data();
  f->count = (int)line.size();
  f->speed = speed;
  f->keys = keys;
  DVec p = body_position(bike, BODY_FRAME);
  f->next = nearest_point(line, Vec3{(float)p.x, 0, (float)p.z});
}

// On a track's line the follower looks for its place from the last gate
// the bike passed, so neither a crash nor a missed turn loses it.
void anchor_to_gates(const Runner& r, int slot, PathFollower* f) {
  if (!r.line_by_gates || !f->points) return;
  f->next = std::min(LINE_POINTS_PER_GATE * r.race.timing[slot].gates_passed, f->count - 1);
}

// The follower's speed on a line: no faster than the corners of the next
// stretch allow (a lateral grip of under a third of a g), reached after braking
// gently.
constexpr double CORNER_LOOKAHEAD = 150;    // ft
constexpr double CORNER_GRIP = 9;           // ft/s^2 across the line
constexpr double CORNER_BRAKING = 10;       // ft/s^2 along it
constexpr double CORNER_SLOWEST = 12 * FEET_PER_SECOND_PER_MPH;

double line_speed_limit(const std::vector<Vec3>& line, int from, double top) {
  double limit = top, distance = 0;
  for (int i = std::max(from, 0); i + 2 < (int)line.size() && distance < CORNER_LOOKAHEAD; i++) {
    const Vec3 a = line[(size_t)i], b = line[(size_t)i + 1], c = line[(size_t)i + 2];
    const double l1 = std::hypot(b.x - a.x, b.z - a.z), l2 = std::hypot(c.x - b.x, c.z - b.z);
    distance += l1;
    if (l1 < 1e-3 || l2 < 1e-3) continue;
    const double cosine = ((b.x - a.x) * (c.x - b.x) + (b.z - a.z) * (c.z - b.z)) / (l1 * l2);
    const double turn = std::acos(std::clamp(cosine, -1.0, 1.0));
    if (turn < 1e-4) continue;
    const double corner = std::sqrt(CORNER_GRIP * 0.5 * (l1 + l2) / turn);
    limit = std::min(limit, std::sqrt(corner * corner + 2 * CORNER_BRAKING * distance));
  }
  return std::max(std::min(limit, top), std::min(top, CORNER_SLOWEST));
}

void follow_line(const Runner& r, int slot, PathFollower* f, double top, const ControlOptions& options,
                 float control[CONTROL_COUNT]) {
  anchor_to_gates(r, slot, f);
  f->speed = line_speed_limit(r.line, f->next, top);
  follow_path(f, *r.race.bikes[slot], options, control);
}

// The stand-in robot controller of the runner: chase the line.
void follow_line_controls(void* context, const Race& race, int slot, float control[RACE_CONTROLS]) {
  Runner* r = (Runner*)context;
  PathFollower& f = r->robot_followers[slot];
  if (!f.points) {
    start_follower(&f, r->line, *race.bikes[slot], ROBOT_FOLLOW_SPEED, false);
    if (!r->robot_limits.empty()) f.limits = r->robot_limits.data();
  }
  follow_line(*r, slot, &f, ROBOT_FOLLOW_SPEED, ControlOptions{false, false}, control);
}

void player_controls(Runner* r, float control[CONTROL_COUNT]) {
  const RideScript& script = r->options.script;
  const double t = (r->race.tick - r->start_tick) * TICK_SECONDS;
  if (r->player_follower.points) {
    float scripted[CONTROL_COUNT];
    script_controls(script, t, scripted);
    for (int i = 0; i < CONTROL_COUNT; i++) control[i] = 0;
    follow_line(*r, r->race.local_slot, &r->player_follower, script.follow_speed * FEET_PER_SECOND_PER_MPH,
                r->player_options, control);
    // Scripted values other than zero override the follower.
    for (int i = 0; i < CONTROL_COUNT; i++)
      if (scripted[i] != 0) control[i] = scripted[i];
  } else {
    script_controls(script, t, control);
  }
}

// --- playback check ---------------------------------------------------------------------

uint32_t le32(const uint8_t* p) { return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24; }

// Every state of the demo's chunks, walked by the format's own links
// (independently of the player), sorted by tick and rider.
bool read_demo_states(Runner* r, const char* path) {
  PlaybackCheck& check = r->check;
  DemoPlayer header;
  if (!open_demo(&header, path, false)) {
    check.problem = "the demo's header does not read";
    return false;
  }
  const int version = header.version, riders = header.rider_count;
  const long start = header.data_start;
  close_demo(&header);
  if (version != DEMO_VERSION) {
    check.problem = "only demos of the current version are checked";
    return false;
  }
  DataStream* s = data_open(path, "rb");
  if (!s || !data_seek(s, start)) {
    if (s) data_close(s);
    check.problem = "the demo does not reopen";
    return false;
  }
  uint32_t previous = 0;
  std::vector<uint8_t> payload;
  uint8_t head[DEMO_CHUNK_HEADER_BYTES];
  while (data_read(s, head, sizeof head) == sizeof head) {
    const uint32_t n = le32(head) ^ previous;
    previous = n;
    // Read in pieces, so a damaged length costs no more than the file holds.
    payload.clear();
    uint8_t piece[4096];
    uint32_t left = n;
    while (left > 0) {
      size_t want = std::min<uint32_t>(left, sizeof piece), got = data_read(s, piece, want);
      payload.insert(payload.end(), piece, piece + got);
      if (got < want) break;
      left -= (uint32_t)got;
    }
    if (payload.size() < n) {
      check.problem = "the last chunk is cut short";
      break;
    }
    if (head[8] != DEMO_CHUNK_STATES || n % DEMO_ENTRY_BYTES != 0) continue;
    for (size_t at = 0; at < n; at += DEMO_ENTRY_BYTES) {
      Runner::DemoState e{};
      e.rider = payload[at];
      e.tick = (int)le32(&payload[at + 1]);
      memcpy(e.record.bytes, &payload[at + 5], STATE_RECORD_BYTES);
      if (e.rider < riders) r->demo_states.push_back(e);
    }
  }
  data_close(s);
  std::stable_sort(r->demo_states.begin(), r->demo_states.end(), [](const Runner::DemoState& a, const Runner::DemoState& b) {
    return a.tick != b.tick ? a.tick < b.tick : a.rider < b.rider;
  });
  check.last_tick = r->demo_states.empty() ? -1 : r->demo_states.back().tick;
  return true;
}

// After the history-driven bikes were posed: the file's states of this tick
// against the bikes.
void check_posed(void* context, const Race& race) {
  Runner* r = static_cast<Runner*>(context);
  PlaybackCheck& check = r->check;
  const DemoPlayer& player = *r->replay.player;
  auto& states = r->demo_states;
  for (; r->next_demo_state < states.size() && states[r->next_demo_state].tick < race.tick; r->next_demo_state++)
    if (!states[r->next_demo_state].posed) check.missed_states++;
  for (size_t k = r->next_demo_state; k < states.size() && states[k].tick == race.tick; k++) {
    Runner::DemoState& e = states[k];
    const int slot = e.rider < player.rider_count ? player.slot[e.rider] : -1;
    if (slot < 0 || !race.bikes[slot] || e.posed) continue;
    e.posed = true;
    if ((e.record.bytes[36] & 7) == 7) {
      check.crashed_states++;
      continue;
    }
    const DVec played = body_position(*race.bikes[slot], BODY_FRAME);
    const DVec recorded = record_frame_position(e.record, *r->replay.scale);
    const double d[3] = {std::fabs(played.x - recorded.x), std::fabs(played.y - recorded.y),
                         std::fabs(played.z - recorded.z)};
    for (int a = 0; a < 3; a++) check.largest_error[a] = std::max(check.largest_error[a], d[a]);
    const Bike& bike = *race.bikes[slot];
    const BikeState state = decode_state(e.record, record_model_for(bike.model), *r->replay.scale);
    const DQuat q = body_quaternion(bike, BODY_FRAME), w = state.orientation[STATE_FRAME];
    const double dot = std::min(1.0, std::fabs(q.w * w.w + q.x * w.x + q.y * w.y + q.z * w.z));
    check.largest_turn = std::max(check.largest_turn, 2 * std::acos(dot));
    check.largest_rider_error =
        std::max(check.largest_rider_error, length(body_position(bike, BODY_RIDER) - state.position[STATE_RIDER]));
    check.states++;
  }
}

std::vector<int> gates_before(const Race& race) {
  std::vector<int> gates(MAX_BIKES, 0);
  for (int s = 0; s < MAX_BIKES; s++) gates[(size_t)s] = race.timing[s].gates_passed;
  return gates;
}

}  // namespace

bool parse_lineup(const char* text, std::vector<int>* lineup, char* error, size_t error_size) {
  std::vector<int> out;
  const char* p = text;
  while (*p) {
    const char* end = strchr(p, ',');
    std::string word = end ? std::string(p, (size_t)(end - p)) : std::string(p);
    int code;
    if (word == "h") code = LINEUP_HUMAN;
    else if (word == "r") code = LINEUP_ROBOT;
    else if (word == "t") code = LINEUP_ROBOT_2_STROKE;
    else if (word == "f") code = LINEUP_ROBOT_4_STROKE;
    else if (word == "e") code = LINEUP_EMPTY;
    else {
      char* stop = nullptr;
      long v = strtol(word.c_str(), &stop, 10);
      if (word.empty() || *stop || v < 0 || v > LINEUP_ROBOT_4_STROKE) {
        set_error(error, error_size, "lineup entries are h, r, t, f, e or the codes 0 to 4");
        return false;
      }
      code = (int)v;
    }
    if (out.size() >= MAX_BIKES) {
      set_error(error, error_size, "more than 160 lineup entries");
      return false;
    }
    out.push_back(code);
    if (!end) break;
    p = end + 1;
  }
  out.resize(MAX_BIKES, LINEUP_EMPTY);
  *lineup = std::move(out);
  return true;
}

std::vector<Vec3> track_riding_line(const TimingGates& g, Vec3 start, int laps) {
  std::vector<Vec3> line;
  if (!g.timed || laps < 1) return line;
  std::vector<Vec3> p = {Vec3{start.x, 0, start.z}};
  for (int gate = 0; gate <= lap_end_gate(g, laps); gate++) {
    Vec3 c = checkpoint_of_gate(g, gate).point;
    p.push_back(Vec3{c.x, 0, c.z});
  }
  auto at = [&](int i) { return p[(size_t)std::clamp(i, 0, (int)p.size() - 1)]; };
  for (int i = 0; i + 1 < (int)p.size(); i++)
    for (int k = 0; k < LINE_POINTS_PER_GATE; k++) {
      // Catmull-Rom through the checkpoints.
      float t = (float)k / LINE_POINTS_PER_GATE, t2 = t * t, t3 = t2 * t;
      Vec3 a = at(i - 1), b = at(i), c = at(i + 1), d = at(i + 2);
      line.push_back(b * (1.5f * t3 - 2.5f * t2 + 1) + c * (-1.5f * t3 + 2 * t2 + 0.5f * t) +
                     a * (-0.5f * t3 + t2 - 0.5f * t) + d * (0.5f * t3 - 0.5f * t2));
    }
  line.push_back(p.back());
  return line;
}

bool build_course_track(LoadedTrack* track, const char* name) {
  Course course;
  if (!course_by_name(name, &course)) return false;
  deallocate_track(track);
  build_course(&track->terrain, course);
  track->name = std::string(COURSE_PREFIX) + name;
  track->list_entry = -1;
  clear_timing_gates(&track->gates);
  if (course != COURSE_PROVING_GROUND) return true;
  int count = 0;
  const Vec3* line = proving_ground_line(&count);
  TimingGates& g = track->gates;
  // Checkpoints at every eighth of the loop, the last on the start line.
  for (int k = 1; k <= COURSE_CHECKPOINTS; k++) {
    int i = (k * count / COURSE_CHECKPOINTS) % count;
    Vec3 a = line[(i + count - 1) % count], b = line[(i + 1) % count];
    g.checkpoints.push_back(Checkpoint{line[i], Vec3{b.x - a.x, 0, b.z - a.z}, COURSE_CHECKPOINT_RADIUS, false});
  }
  for (int lap = 0; lap < 2; lap++)
    for (int k = 0; k < COURSE_CHECKPOINTS; k++) g.sequence.push_back(k);
  g.first_lap = g.normal_lap = COURSE_CHECKPOINTS;
  normalise_timing_gates(&g, 0);
  // The gates across the start, facing along the line.
  Vec3 a = line[0], b = line[1];
  float heading = std::atan2(-(b.x - a.x), -(b.z - a.z));
  Vec3 across{std::cos(heading), 0, -std::sin(heading)};
  for (int i = 0; i < COURSE_GATES; i++) {
    float offset = ((float)i - (COURSE_GATES - 1) * 0.5f) * COURSE_GATE_SPACING;
    Vec3 at = a + across * offset;
    at.y = height_at(track->terrain, at.x, at.z);
    g.starting_gates.push_back(StartingGate{at, heading, "", "", ""});
  }
  return true;
}

bool start_runner(Runner* r, const RunnerOptions& options, char* error, size_t error_size) {
  r->options = options;
  init_race(&r->race);
  r->race.ground_method = GROUND_SOFTWARE;
  r->events.clear();
  create_bike_world();
  clear_roost(&g_roost);
  // The part shapes of the data set, where it has them.
  build_default_part_shapes(&g_part_shapes);
  load_part_shapes(&g_part_shapes);
  r->replay = RaceReplay{};
  install_race_replay(&r->race, &r->replay);
  r->demo_states.clear();
  r->next_demo_state = 0;
  r->check = PlaybackCheck{};
  r->demo_saved = false;
  std::string track_name = options.track;
  std::string course = options.course;
  const bool playback = !options.play_demo.empty();
  if (playback) {
    // The demo plays on its own track.
    std::string demo_track;
    if (!load_race_demo(&r->replay, options.play_demo.c_str(), &demo_track)) {
      set_error(error, error_size, "the demo does not play");
      return false;
    }
    read_demo_states(r, options.play_demo.c_str());
    r->replay.posed = check_posed;
    r->replay.posed_context = r;
    if (demo_track.rfind(COURSE_PREFIX, 0) == 0) {
      course = demo_track.substr(strlen(COURSE_PREFIX));
    } else {
      course.clear();
      track_name = demo_track;
    }
  }
  if (!course.empty()) {
    if (!build_course_track(&g_track, course.c_str())) {
      set_error(error, error_size, "unknown course");
      return false;
    }
    r->own_track = true;
    track_name = g_track.name;
  }
  // The player.
  const RideScript& script = options.script;
  RaceRider& player = r->race.player;
  player.model = script.bike;
  player.number = "1";
  player.name = "Scripted rider";
  player.setup = script.setup;
  r->player_setup = BikeSetup{};
  for (const auto& [key, value] : script.setup) set_setup_value(&r->player_setup, key.c_str(), value);
  r->player_options = ControlOptions{r->player_setup.reverse_steering != 0, r->player_setup.sticky_dab != 0};
  r->race.learn = options.learn;
  r->race.seams.context = r;
  r->race.seams.wheel_terrain = runner_wheel_terrain;
  if (options.follow_robots && options.player_rider == PLAYER_ROBOT) {
    set_error(error, error_size, "a robot player needs the robot riders, not --follow-robots");
    return false;
  }
  if (options.follow_robots) {
    r->race.seams.robot.context = r;
    r->race.seams.robot.controls = follow_line_controls;
  } else {
    install_race_robots(&r->race, &r->robots);
  }

  std::vector<int> lineup = options.lineup;
  if (playback) {
    lineup.assign(MAX_BIKES, LINEUP_EMPTY);  // nobody but the demo's riders
  } else if (lineup.empty()) {
    lineup.assign(MAX_BIKES, LINEUP_EMPTY);
    lineup[0] = LINEUP_HUMAN;
  }
  RaceSetup setup = {track_name.c_str(), options.time_trial && !playback ? nullptr : lineup.data(), playback,
                     !options.record_demo.empty(), (int)(options.minutes * 60 * TICKS_PER_SECOND), options.laps,
                     options.skill, options.practice};
  if (track_name.empty() || !reset_race(&r->race, setup)) {
    set_error(error, error_size, "the track did not load");
    return false;
  }
  if (playback) {
    const RecordScale& scale = *r->replay.scale;
    const double levels = 16777215.0;  // u24
    r->check.step[0] = r->check.step[2] = scale.size / levels;
    r->check.step[1] = scale.range / levels;
    for (int i = 0; i < r->replay.player->rider_count; i++) r->check.riders += r->replay.player->slot[i] >= 0;
  }
  r->start_tick = r->race.tick;
  r->ground = RutRideResult{};
  if (options.record_ground) begin_rut_record(r->race.track->terrain, &r->ground);
  prepare_player(r, options.minutes > 0 ? 0 : options.laps);
  return true;
}

void prepare_player(Runner* r, int laps_to_ride) {
  const RunnerOptions& options = r->options;
  const RideScript& script = options.script;
  r->line.clear();
  r->line_by_gates = false;
  if (options.course == "proving_ground") {
    int count = 0;
    const Vec3* line = proving_ground_line(&count);
    r->line.assign(line, line + count);
  } else {
    const int local = r->race.local_slot;
    Vec3 start = local != NO_BIKE ? starting_place(g_track, local).position : Vec3{0, 0, 0};
    int laps = laps_to_ride <= 0 ? TIMED_RACE_LINE_LAPS : std::max(laps_to_ride, 1) + LINE_EXTRA_LAPS;
    r->line = track_riding_line(g_track.gates, start, laps);
    r->line_by_gates = !r->line.empty();
  }
  r->player_follower = PathFollower{};
  for (PathFollower& f : r->robot_followers) f = PathFollower{};
  r->player_limits.clear();
  r->robot_limits.clear();
  if (r->line_by_gates) {
    // Open line: the laps end to end. The corners keep the runner's own
    // rule (line_speed_limit), the plan adds the take-offs.
    r->player_limits = plan_follow_speeds(r->line.data(), (int)r->line.size(),
                                          script.follow_speed * FEET_PER_SECOND_PER_MPH, &g_track.terrain, false, false);
    r->robot_limits =
        plan_follow_speeds(r->line.data(), (int)r->line.size(), ROBOT_FOLLOW_SPEED, &g_track.terrain, false, false);
    // Ground without jumps is ridden as before: the follower keeps its own
    // braking and throttle.
    auto plans_nothing = [](const std::vector<float>& v, double top) {
      return std::all_of(v.begin(), v.end(), [&](float x) { return x >= (float)top; });
    };
    if (plans_nothing(r->player_limits, script.follow_speed * FEET_PER_SECOND_PER_MPH)) r->player_limits.clear();
    if (plans_nothing(r->robot_limits, ROBOT_FOLLOW_SPEED)) r->robot_limits.clear();
  }
  const int local = r->race.local_slot;
  if (local != NO_BIKE && script.follow_speed > 0 && r->line.size() >= 2) {
    start_follower(&r->player_follower, r->line, *r->race.bikes[local], script.follow_speed * FEET_PER_SECOND_PER_MPH,
                   script.follow_keys);
    // Only a line with take-offs to plan gets the plan: on ground without
    // jumps the follower keeps its own braking, which holds the line through
    // the hairpins the planned braking can leave it circling in.
    const float top = (float)(script.follow_speed * FEET_PER_SECOND_PER_MPH);
    const bool planned = std::any_of(r->player_limits.begin(), r->player_limits.end(), [&](float v) { return v != top; });
    if (planned) r->player_follower.limits = r->player_limits.data();
  }
  // A robot on the player's bike starts afresh with each race.
  if (local != NO_BIKE && options.player_rider == PLAYER_ROBOT) race_robot_created(&r->robots, local, 0, options.skill);
}

void step_runner(Runner* r) {
  Race& race = r->race;
  const int local = race.local_slot;
  if (local != NO_BIKE && race.bikes[local] && race.mode[local] == RACE_SLOT_LOCAL && !race.timing[local].finished) {
    float control[CONTROL_COUNT] = {};
    if (r->options.player_rider == PLAYER_ROBOT) {
      race_robot_controls(&r->robots, race, local, control);
      apply_control_vector(race.bikes[local], control, ControlOptions{false, false});
    } else if (r->options.player_rider == PLAYER_SCRIPTED) {
      player_controls(r, control);
      apply_control_vector(race.bikes[local], control, r->player_options);
    }
    // An idle player's bike keeps its controls at rest.
  }
  std::vector<int> before = gates_before(race);
  const int tick = race.tick;
  race_step(&race);
  if (r->options.record_ground)
    for (int s = 0; s < MAX_BIKES; s++)
      if (race.bikes[s]) mark_wheel_contacts(race.track->terrain, *race.bikes[s], &r->ground);
  const TimingGates& g = race.track->gates;
  for (int s = 0; s < MAX_BIKES; s++) {
    const BikeTiming& t = race.timing[s];
    if (!race.bikes[s] || t.gates_passed == before[(size_t)s] || t.gates_passed == 0) continue;
    TimingEvent e{tick, s, t.gates_passed - 1, 0, 0, -1, t.finished};
    e.checkpoint = g.sequence[(size_t)folded_gate(g, e.gate)] % NO_SPLIT_MARK;
    if (is_lap_end(g, e.gate) && pass_tick(t, e.gate) == tick) {
      e.lap = race_lap_state(race, s).completed_laps;
      e.lap_ticks = race_lap_time(race, s, e.lap);
    }
    r->events.push_back(e);
  }
}

bool runner_done(const Runner& r) {
  const Race& race = r.race;
  const int ran = race.tick - r.start_tick;
  if (r.options.ticks > 0) return ran >= r.options.ticks;
  if (ran >= r.options.max_ticks) return true;
  // A playback ends after the demo's last state (or, for a file the check
  // does not walk, once the reader reached its end).
  if (!r.options.play_demo.empty()) {
    if (r.check.last_tick >= 0) return race.tick > r.check.last_tick;
    const DemoPlayer& player = *r.replay.player;
    return !demo_playing(player) || (player.ended && race.tick >= player.next_tick);
  }
  if (race.results_final) return true;
  if (race.time_trial) {
    // A time trial has no end: stop once the asked laps are done.
    return race.local_slot != NO_BIKE && race_lap_state(race, race.local_slot).completed_laps >= r.options.laps;
  }
  // Bikes that never move never finish: once the leader is home, the field
  // races on while somebody still gets through gates, and no longer than
  // the grace after the last gate anybody passed.
  if (race_over(race) && race.running_count > 0) {
    const int leader = race.running_order[0].slot;
    int finish = pass_tick(race.timing[leader], finishing_gate(race.track->gates, race.lap_total));
    int latest = finish;
    for (const TimingEvent& e : r.events) latest = std::max(latest, e.tick);
    return finish >= 0 && race.tick - latest >= FINISH_GRACE_TICKS;
  }
  return false;
}

void write_trace(FILE* out, const Runner& r) {
  int first = r.options.trace_slot >= 0 ? r.options.trace_slot : r.race.local_slot, last = first;
  if (r.options.trace_slot == TRACE_ALL) first = 0, last = MAX_BIKES - 1;
  for (int s = first; s >= 0 && s <= last && s < MAX_BIKES; s++) {
    if (!r.race.bikes[s]) continue;
    const Bike& b = *r.race.bikes[s];
    DVec p = body_position(b, BODY_FRAME);
    fprintf(out, "%9.3f  trace  x %8.2f  y %7.2f  z %8.2f  %5.1f mph  gear %d  crashes %d%s",
            (r.race.tick - r.race.gate_drop_tick) * TICK_SECONDS, p.x, p.y, p.z,
            bike_speed(b) / FEET_PER_SECOND_PER_MPH, b.neutral ? 0 : b.gear + 1, b.crash_count,
            b.crash_timer > 0 ? "  down" : "");
    if (r.options.trace_slot != -1) fprintf(out, "  slot %d", s);
    const Robot& robot = r.robots.robots[s];
    if (r.race.mode[s] == RACE_SLOT_ROBOT && robot.active) {
      static const char* const modes[] = {"waiting", "line", "bootstrap", "down", "backing"};
      float keep_in = robot.nearest >= 0 && (size_t)robot.nearest < robot.path.size()
                          ? robot.path[(size_t)robot.nearest].keep_in
                          : 0.0f;
      fprintf(out, "  robot %s line %d/%d target %d off %.1f aside %.1f gate %.1f in %.1f", modes[robot.mode],
              robot.group, robot.line_slot, robot.target_gate, robot.lateral, robot.side_offset, robot.gate_aside,
              keep_in);
      if (robot.touch_ticks > 0) fprintf(out, "  touch %d x%d", robot.touch_slot, robot.touch_ticks);
    }
    // What is on the ground: f and r the wheels, then the bodies whose
    // own shapes touch it.
    char ground[BODY_COUNT + 4];
    int n = 0;
    if (b.wheel[WHEEL_FRONT].depth > 0) ground[n++] = 'f';
    if (b.wheel[WHEEL_REAR].depth > 0) ground[n++] = 'r';
    for (int i = 0; i < b.part_note_count && i < PART_CONTACT_NOTES && n < BODY_COUNT + 2; i++)
      ground[n++] = (char)('0' + b.part_notes[i].body);
    ground[n] = 0;
    fprintf(out, "  ground %s", n ? ground : "-");
    fprintf(out, "  thr %.2f brk %.2f/%.2f steer %.2f lean %.0f rpm %.0f\n", b.input.throttle, b.input.front_brake,
            b.input.rear_brake, b.input.steer, bike_lean_angle(b) * 57.29578, engine_rpm(b));
  }
}

void run_runner(Runner* r, FILE* log) {
  while (!runner_done(*r)) {
    size_t seen = r->events.size();
    if (log && r->options.trace_every > 0 && (r->race.tick - r->start_tick) % r->options.trace_every == 0)
      write_trace(log, *r);
    step_runner(r);
    if (log)
      for (size_t i = seen; i < r->events.size(); i++) write_timing_event(log, *r, r->events[i]);
  }
}

void end_ground_record(Runner* r) {
  if (!r->options.record_ground || !r->race.track) return;
  Terrain* t = &r->race.track->terrain;
  refresh_deformed_shading(t);
  r->ground.ticks = r->race.tick - r->start_tick;
  finish_rut_record(*t, &r->ground);
}

void write_ground_report(FILE* out, const Runner& r) {
  if (!r.options.record_ground || !r.race.track) return;
  const RutRideResult& g = r.ground;
  const Terrain& t = r.race.track->terrain;
  fprintf(out, "Ground at erosion %g: vertices changed %d of %zu, outside the wheel tracks %d, heights %s\n",
          (double)r.options.erosion, g.changed, t.heights.size(), g.changed_off_track,
          g.all_finite ? "finite" : "NOT FINITE");
  fprintf(out, "  deepest dig %.4f ft, highest pile %.4f ft, soil moved %.2f cu ft (net %.4f), modifications %lld\n",
          g.deepest_dig, g.highest_pile, g.moved_volume, g.net_volume, (long long)g.modifications);
}

void end_runner(Runner* r) {
  for (; r->next_demo_state < r->demo_states.size(); r->next_demo_state++)
    if (!r->demo_states[r->next_demo_state].posed) r->check.missed_states++;
  finish_race_replay(&r->replay);
  if (!r->options.record_demo.empty())
    r->demo_saved = copy_demo_file(DEMO_DEFAULT_PATH, r->options.record_demo.c_str());
  // What a learning run rode is remembered as a reset would.
  if (r->race.seams.robot.context == &r->robots && r->race.track && !r->race.track->name.empty())
    remember_race_lines(&r->robots, r->race.track->name.c_str());
  free_race(&r->race);
  deallocate_track(&g_track);
  purge_textures(true);  // what the track's objects and lighting left in the cache
  destroy_bike_world();
}

bool write_playback_check(FILE* out, const PlaybackCheck& c) {
  if (!c.problem.empty()) {
    fprintf(out, "Playback not checked: %s\n", c.problem.c_str());
    return false;
  }
  fprintf(out, "Playback check: %d riders, %d states compared, %d while crashed, %d never posed\n", c.riders,
          c.states, c.crashed_states, c.missed_states);
  bool within = c.states > 0 && c.missed_states == 0;
  for (int a = 0; a < 3; a++) within &= c.largest_error[a] <= c.step[a] * 1.0001;
  fprintf(out, "Largest frame position difference x %.3g y %.3g z %.3g ft (steps %.3g %.3g %.3g ft): %s\n",
          c.largest_error[0], c.largest_error[1], c.largest_error[2], c.step[0], c.step[1], c.step[2],
          within ? "within the quantisation" : "NOT within the quantisation");
  fprintf(out, "Largest frame turn %.3g rad, rider body %.3g ft\n", c.largest_turn, c.largest_rider_error);
  return within;
}

void write_timing_event(FILE* out, const Runner& r, const TimingEvent& e) {
  fprintf(out, "%9.3f  slot %3d  gate %4d  checkpoint %3d", (e.tick - r.race.gate_drop_tick) * TICK_SECONDS, e.slot,
          e.gate, e.checkpoint);
  if (e.lap > 0) {
    fprintf(out, "  lap %d", e.lap);
    if (e.lap_ticks >= 0) fprintf(out, " in %.3f s (%d ticks)", e.lap_ticks * TICK_SECONDS, e.lap_ticks);
  }
  if (e.finished) fprintf(out, "  finished");
  fprintf(out, "\n");
}

void write_race_report(FILE* out, const Runner& r) {
  const Race& race = r.race;
  fprintf(out, "Track %s, %s, gate drop at tick %d, %d ticks run\n", race.track->name.c_str(),
          race.time_trial ? "time trial"
          : race.time_limit > 0 ? "timed race"
                                : "lap race",
          race.gate_drop_tick, race.tick - r.start_tick);
  if (race.time_limit > 0) fprintf(out, "Time limit %.2f min + %d laps\n", race.time_limit / (60.0 * 128), race.configured_laps);
  fprintf(out, "Race laps %s\n", race.lap_total >= OPEN_LAPS ? "open" : std::to_string(race.lap_total).c_str());
  RunningEntry order[MAX_BIKES];
  const int count = current_running_order(race, order);
  fprintf(out, "Running order:\n");
  fprintf(out, "  pos slot  no. rider                  bike             laps gates  last gate\n");
  for (int i = 0; i < count; i++) {
    const RunningEntry& e = order[i];
    const RaceRider& rider = race.riders[e.slot];
    fprintf(out, "  %3d  %3d %4s %-22.22s %-16.16s %4d %5d  ", i + 1, e.slot, rider.number.c_str(),
            rider.name.c_str(), rider.model.c_str(), race_lap_state(race, e.slot).completed_laps, e.gates_passed);
    if (e.last_tick >= 0) fprintf(out, "%9.3f", (e.last_tick - race.gate_drop_tick) * TICK_SECONDS);
    else fprintf(out, "%9s", "-");
    fprintf(out, "%s\n", race.timing[e.slot].finished ? "  finished" : "");
  }
  fprintf(out, "Lap times:\n");
  for (int i = 0; i < count; i++) {
    const int s = order[i].slot;
    const int laps = race_lap_state(race, s).completed_laps;
    if (laps == 0) continue;
    fprintf(out, "  slot %3d:", s);
    for (int lap = 1; lap <= laps; lap++) {
      int t = race_lap_time(race, s, lap);
      if (t >= 0) fprintf(out, "  lap %d %.3f s (%d)", lap, t * TICK_SECONDS, t);
      else fprintf(out, "  lap %d -", lap);
    }
    int best_number = 0;
    int best = race_best_lap(race, s, &best_number);
    if (best > 0) fprintf(out, "  best lap %d", best_number);
    if (race.bikes[s]) fprintf(out, "  crashes %d", race.bikes[s]->crash_count);
    fprintf(out, "\n");
  }
  if (race.time_trial && race.session_best_lap > 0)
    fprintf(out, "Best lap %.3f s (%d ticks)\n", race.session_best_lap * TICK_SECONDS, race.session_best_lap);
}

// --- benchmark ----------------------------------------------------------------------------

namespace {

using Clock = std::chrono::steady_clock;

// Processor time of this thread: on a machine shared with other work the
// wall clock counts the time the thread waited for a core.
double thread_seconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return (double)t.tv_sec + 1e-9 * (double)t.tv_nsec;
}

// Spread along the line, facing along it, as the bike benchmark places them.
void spread_along_line(Runner* r, int count) {
  const int points = (int)r->line.size();
  for (int i = 0; i < count; i++) {
    Bike* b = r->race.bikes[i];
    int k = (int)((long long)i * points / count);
    Vec3 a = r->line[(size_t)k], c = r->line[(size_t)((k + 1) % points)];
    a.y = height_at(g_track.terrain, a.x, a.z);
    place_bike(b, a, std::atan2(-(c.x - a.x), -(c.z - a.z)));
    r->robot_followers[i] = PathFollower{};
    start_follower(&r->robot_followers[i], r->line, *b, ROBOT_FOLLOW_SPEED, false);
    r->robot_followers[i].next = k;
  }
}

}  // namespace

bool bench_race_step(int count, double seconds, RaceBenchFigures* out, char* error, size_t error_size) {
  RunnerOptions options;
  options.course = "proving_ground";
  options.lineup.assign(MAX_BIKES, LINEUP_EMPTY);
  for (int i = 0; i < count && i < MAX_BIKES; i++) options.lineup[(size_t)i] = LINEUP_ROBOT;
  options.follow_robots = true;
  options.laps = 1000;
  auto runner = std::make_unique<Runner>();
  if (!start_runner(runner.get(), options, error, error_size)) return false;
  Race& race = runner->race;
  const int ticks = std::max(1, (int)(seconds * TICKS_PER_SECOND));
  const int warm = 256;

  // The race running (gates down, not pushing). Race steps and bare bike
  // ticks alternate on the same bikes, so both see the same riding.
  spread_along_line(runner.get(), count);
  race.tick = race.gate_drop_tick + GATE_PUSH_TICKS + 1;
  const ControlOptions robot_options{false, false};
  auto bike_tick = [&]() {
    for (int s = 0; s < count; s++) {
      float control[CONTROL_COUNT] = {};
      follow_path(&runner->robot_followers[s], *race.bikes[s], robot_options, control);
      apply_control_vector(race.bikes[s], control, robot_options);
    }
    run_bike_tick(race.bikes, g_track.terrain, race.tick);
    advance_roost(&g_roost, g_track.terrain);
    race.tick++;
  };
  double race_seconds = 0, bike_seconds = 0, race_cpu = 0;
  for (int i = 0; i < warm + 2 * ticks; i++) {
    const bool timed = i >= warm;
    auto t0 = Clock::now();
    const double c0 = thread_seconds();
    if (i % 2 == 0) race_step(&race);
    else bike_tick();
    const double cpu = thread_seconds() - c0;
    double spent = std::chrono::duration<double>(Clock::now() - t0).count();
    if (timed) (i % 2 == 0 ? race_seconds : bike_seconds) += spent;
    if (timed && i % 2 == 0) race_cpu += cpu;
  }
  end_runner(runner.get());

  out->bikes = count;
  out->ticks = ticks;
  out->race_ticks_per_second = ticks / race_seconds;
  out->bike_ticks_per_second = ticks / bike_seconds;
  out->race_cpu_ticks_per_second = ticks / race_cpu;
  return true;
}
