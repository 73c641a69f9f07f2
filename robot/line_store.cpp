// The line store: split gates, the store rules and recording.
#include "robot/line_store.h"

#include <zlib.h>

#include <cmath>
#include <cstring>
#include <utility>

#include "platform/log.h"
#include "track/timing_gates.h"

namespace {

const char* const FILE_NAMES[SKILL_COUNT] = {"lines_novice", "lines_amateur", "lines_expert"};

// Untested lines count as a little slower than they were ridden: a line
// robots have proved is worth more than one they have not tried.
constexpr double UNTESTED_FACTOR = 1.03;

bool is_split_entry(int entry) { return entry < NO_SPLIT_MARK; }

float horizontal_distance_to_segment(Vec3 p, Vec3 a, Vec3 b) {
  float abx = b.x - a.x, abz = b.z - a.z;
  float apx = p.x - a.x, apz = p.z - a.z;
  float len2 = abx * abx + abz * abz;
  float t = len2 > 0 ? (apx * abx + apz * abz) / len2 : 0;
  t = t < 0 ? 0 : (t > 1 ? 1 : t);
  float dx = apx - t * abx, dz = apz - t * abz;
  return std::sqrt(dx * dx + dz * dz);
}

float one_way_deviation(const RobotLine& a, const RobotLine& b) {
  float worst = 0;
  for (const LinePoint& p : a.points) {
    float best = 1e30f;
    if (b.points.size() == 1) best = horizontal_distance_to_segment(p.position, b.points[0].position, b.points[0].position);
    for (size_t i = 1; i < b.points.size(); i++)
      best = std::fmin(best, horizontal_distance_to_segment(p.position, b.points[i - 1].position, b.points[i].position));
    worst = std::fmax(worst, best);
  }
  return worst;
}

void log_eviction(int slot, const RobotLine& old, const RobotLine& replacement) {
  log_printf("auto pilot: evicting %d (times: %.2f %.2f tested (%d %d): %.2f %.2f repl: %f %f)\n", slot,
             line_seconds(old), line_seconds(replacement), old.picked, old.completed, old.ridden_mean,
             old.ridden_best, replacement_value(old), replacement_value(replacement));
}

void put_line(RobotLine* slot, RobotLine&& line) {
  *slot = std::move(line);
  slot->used = true;
  slot->picked = 0;
  slot->completed = 0;
  slot->ridden_mean = 0;
  slot->ridden_best = 0;
  slot->last_picked = -1;
}

// A sample further from the previous one than riding at both samples'
// speeds could have carried the bike (with room for a hard landing): the
// bike was moved, not ridden.
bool jumped(const LinePoint& last, Vec3 position, Vec3 velocity, int ticks) {
  Vec3 d = position - last.position;
  float distance = std::sqrt(dot(d, d));
  float speed = 0.5f * (std::sqrt(dot(last.velocity, last.velocity)) + std::sqrt(dot(velocity, velocity)));
  return distance > speed * (float)(ticks * TICK_SECONDS) * 1.5f + 10.0f;
}

}  // namespace

const char* line_file_name(int skill) { return FILE_NAMES[skill >= 0 && skill < SKILL_COUNT ? skill : 0]; }

void clear_line(RobotLine* line) {
  line->used = false;
  line->from_gate = GATE_DROP;
  line->ticks = 0;
  line->points.clear();
  line->picked = 0;
  line->completed = 0;
  line->ridden_mean = 0;
  line->ridden_best = 0;
  line->last_picked = -1;
}

void size_line_store(LineStore* store, const TimingGates& gates, const std::string& track, int skill) {
  store->track = track;
  store->skill = skill >= 0 && skill < SKILL_COUNT ? skill : ROBOT_NOVICE;
  store->layout = gates_layout(gates);
  store->first_splits = gates.timed ? gates.first_lap_splits : 0;
  store->normal_splits = gates.timed ? gates.normal_lap_splits : 0;
  store->groups.clear();
  store->groups.resize((size_t)(store->first_splits + store->normal_splits));
  for (LineGroup& g : store->groups)
    for (RobotLine& l : g.lines) clear_line(&l);
  store->changed = false;
}

int line_count(const LineStore& store) {
  int n = 0;
  for (const LineGroup& g : store.groups)
    for (const RobotLine& l : g.lines) n += l.used;
  return n;
}

uint32_t gates_layout(const TimingGates& gates) {
  // Fed as little-endian bytes so the digest is the same on every machine.
  std::vector<unsigned char> bytes;
  auto put = [&](uint32_t v) {
    for (int i = 0; i < 4; i++) bytes.push_back((unsigned char)(v >> (8 * i)));
  };
  auto put_float = [&](float f) {
    uint32_t v;
    memcpy(&v, &f, 4);
    put(v);
  };
  put((uint32_t)gates.checkpoints.size());
  for (const Checkpoint& c : gates.checkpoints) {
    put_float(c.point.x), put_float(c.point.y), put_float(c.point.z);
    put_float(c.direction.x), put_float(c.direction.y), put_float(c.direction.z);
    put_float(c.radius);
  }
  put((uint32_t)gates.first_lap);
  put((uint32_t)gates.normal_lap);
  for (int e : gates.sequence) put((uint32_t)e);
  return (uint32_t)crc32(0, bytes.data(), (uInt)bytes.size());
}

// --- split gates ------------------------------------------------------------------

bool is_split_gate(const TimingGates& gates, int g) {
  if (!gates.timed || g < 0) return false;
  return is_split_entry(gates.sequence[(size_t)folded_gate(gates, g)]);
}

int split_group(const TimingGates& gates, int g) {
  if (!is_split_gate(gates, g)) return -1;
  int slot = folded_gate(gates, g);
  int group = slot < gates.first_lap ? 0 : gates.first_lap_splits;
  for (int i = slot < gates.first_lap ? 0 : gates.first_lap; i < slot; i++)
    group += is_split_entry(gates.sequence[(size_t)i]);
  return group;
}

int next_split_gate(const TimingGates& gates, int g) {
  if (!gates.timed) return -1;
  int from = g < 0 ? 0 : g + 1;
  // Every normal lap holds a split, so one first lap and one normal lap
  // always reach one.
  for (int h = from; h <= from + gates.first_lap + gates.normal_lap; h++)
    if (is_split_gate(gates, h)) return h;
  return -1;
}

// --- store rules ------------------------------------------------------------------

double replacement_value(const RobotLine& line) {
  double base = line.completed > 0 ? line.ridden_mean : line_seconds(line) * UNTESTED_FACTOR;
  int failures = line.picked > line.completed ? line.picked - line.completed : 0;
  double failure_share = line.picked > 0 ? (double)failures / line.picked : 0;
  return base * (1 + 0.5 * failure_share);
}

int best_line_ticks(const LineStore& store, int group) {
  if (group < 0 || group >= (int)store.groups.size()) return 0;
  int best = 0;
  for (const RobotLine& l : store.groups[(size_t)group].lines)
    if (l.used && (best == 0 || l.ticks < best)) best = l.ticks;
  return best;
}

float line_deviation(const RobotLine& a, const RobotLine& b) {
  if (a.points.empty() || b.points.empty()) return 1e30f;
  return std::fmax(one_way_deviation(a, b), one_way_deviation(b, a));
}

bool same_start(const RobotLine& a, const RobotLine& b) {
  if (a.from_gate != b.from_gate) return false;
  if (a.from_gate != GATE_DROP || a.points.empty() || b.points.empty()) return true;
  float dx = a.points[0].position.x - b.points[0].position.x, dz = a.points[0].position.z - b.points[0].position.z;
  return dx * dx + dz * dz <= START_PLACE_DISTANCE * START_PLACE_DISTANCE;
}

LineOutcome offer_line(LineStore* store, int group, RobotLine line, int* slot_out) {
  if (slot_out) *slot_out = -1;
  if (group < 0 || group >= (int)store->groups.size() || line.points.size() < 2 || line.ticks <= 0)
    return LINE_REFUSED;
  LineGroup& g = store->groups[(size_t)group];
  // Lines from the gate drop are measured against those from the same
  // starting place only: a place at the end of the gate is slower to the
  // first split, and its line is the only one that starts there.
  int best = 0;
  for (const RobotLine& l : g.lines)
    if (l.used && l.ticks > 0 && same_start(l, line) && (best == 0 || l.ticks < best)) best = l.ticks;
  if (best > 0 && line.ticks > best * TOO_SLOW_FACTOR) {
    log_printf("auto pilot: %d rejected (too slow)\n", group);
    return LINE_TOO_SLOW;
  }
  for (int i = 0; i < LINE_SLOTS; i++) {
    RobotLine& old = g.lines[i];
    if (!old.used || !same_start(old, line)) continue;
    if (line_deviation(line, old) > DUPLICATE_DISTANCE) continue;
    double ratio = (double)line.ticks / old.ticks;
    if (std::fabs(ratio - 1) <= DUPLICATE_TIME) {
      log_printf("auto pilot: %d rejected (duplicate)\n", group);
      return LINE_DUPLICATE;
    }
    if (ratio > 1) {
      log_printf("auto pilot: %d rejected (too slow)\n", group);
      return LINE_TOO_SLOW;
    }
    log_eviction(i, old, line);
    put_line(&old, std::move(line));
    store->changed = true;
    if (slot_out) *slot_out = i;
    return LINE_EVICTED;
  }
  for (int i = 0; i < LINE_SLOTS; i++)
    if (!g.lines[i].used) {
      put_line(&g.lines[i], std::move(line));
      store->changed = true;
      if (slot_out) *slot_out = i;
      return LINE_STORED;
    }
  int worst = 0;
  for (int i = 1; i < LINE_SLOTS; i++)
    if (replacement_value(g.lines[i]) > replacement_value(g.lines[worst])) worst = i;
  RobotLine candidate = std::move(line);
  candidate.picked = candidate.completed = 0;
  if (replacement_value(candidate) >= replacement_value(g.lines[worst])) {
    log_printf("auto pilot: %d rejected (too slow)\n", group);
    return LINE_TOO_SLOW;
  }
  log_eviction(worst, g.lines[worst], candidate);
  put_line(&g.lines[worst], std::move(candidate));
  store->changed = true;
  if (slot_out) *slot_out = worst;
  return LINE_EVICTED;
}

namespace {

RobotLine* line_at(LineStore* store, int group, int slot) {
  if (group < 0 || group >= (int)store->groups.size() || slot < 0 || slot >= LINE_SLOTS) return nullptr;
  RobotLine* l = &store->groups[(size_t)group].lines[slot];
  return l->used ? l : nullptr;
}

}  // namespace

void note_line_picked(LineStore* store, int group, int slot, int tick) {
  if (RobotLine* l = line_at(store, group, slot)) l->last_picked = tick;
}

void note_line_ridden(LineStore* store, int group, int slot, int ticks) {
  RobotLine* l = line_at(store, group, slot);
  if (!l || ticks <= 0) return;
  float seconds = (float)(ticks * TICK_SECONDS);
  l->ridden_mean = (l->ridden_mean * (float)l->completed + seconds) / (float)(l->completed + 1);
  l->ridden_best = l->completed == 0 ? seconds : std::fmin(l->ridden_best, seconds);
  l->completed++;
  l->picked++;
  store->changed = true;
}

void note_line_failed(LineStore* store, int group, int slot) {
  if (RobotLine* l = line_at(store, group, slot)) {
    l->picked++;
    store->changed = true;
  }
}

// --- recording ----------------------------------------------------------------------

void reset_line_recorder(LineRecorder* r) {
  r->active = false;
  r->start_gate = GATE_DROP;
  r->expected_gate = 0;
  r->target_gate = -1;
  r->start_tick = 0;
  clear_line(&r->line);
}

void start_line(LineRecorder* r, const TimingGates& gates, int start_gate, int tick, const RecordSample& s) {
  reset_line_recorder(r);
  r->target_gate = next_split_gate(gates, start_gate);
  if (r->target_gate < 0) return;
  r->active = true;
  r->start_gate = start_gate;
  r->expected_gate = start_gate < 0 ? 0 : start_gate + 1;
  r->start_tick = tick;
  r->line.from_gate = start_gate < 0 ? GATE_DROP : folded_gate(gates, start_gate);
  r->line.points.reserve(64);
  r->line.points.push_back(LinePoint{s.position, s.velocity});
}

void cancel_line(LineRecorder* r, const TimingGates& gates) {
  if (!r->active) return;
  log_printf("auto pilot: %d canceled\n", split_group(gates, r->target_gate));
  reset_line_recorder(r);
}

int record_line_tick(LineStore* store, LineRecorder* r, const TimingGates& gates, const RecordSample& s, int tick) {
  if (!gates.timed) return -1;
  int verdict = -1;
  if (r->active) {
    int elapsed = tick - r->start_tick;
    if (s.crashed || elapsed < 0) {
      cancel_line(r, gates);
    } else if (elapsed > 0 && elapsed % LINE_SAMPLE_TICKS == 0) {
      const LinePoint& last = r->line.points.back();
      if ((int)r->line.points.size() >= MAX_LINE_POINTS || jumped(last, s.position, s.velocity, LINE_SAMPLE_TICKS))
        cancel_line(r, gates);
      else
        r->line.points.push_back(LinePoint{s.position, s.velocity});
    }
  }
  if (s.gate >= 0) {
    if (r->active && s.gate != r->expected_gate) {
      cancel_line(r, gates);
    } else if (r->active && s.gate == r->target_gate) {
      int elapsed = tick - r->start_tick;
      RobotLine& line = r->line;
      int last_tick = ((int)line.points.size() - 1) * LINE_SAMPLE_TICKS;
      bool ok = elapsed > 0;
      if (ok && last_tick != elapsed) {
        ok = (int)line.points.size() < MAX_LINE_POINTS &&
             !jumped(line.points.back(), s.position, s.velocity, elapsed - last_tick);
        if (ok) line.points.push_back(LinePoint{s.position, s.velocity});
      }
      if (ok) {
        line.ticks = elapsed;
        verdict = offer_line(store, split_group(gates, r->target_gate), std::move(line));
        reset_line_recorder(r);
      } else {
        cancel_line(r, gates);
      }
    } else if (r->active) {
      r->expected_gate++;
    }
    if (!r->active && !s.finished && !s.crashed && is_split_gate(gates, s.gate))
      start_line(r, gates, s.gate, tick, s);
  }
  return verdict;
}
