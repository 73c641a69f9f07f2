// Reading, normalising and writing "timing_gates".
#include "track/timing_gates.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/datafile.h"
#include "core/message.h"
#include "platform/log.h"
#include "track/objects.h"
#include "track/terrain.h"

const char* const DEFAULT_START_GATE_MODEL = "@startgate.jm";
const char* const DEFAULT_START_GATE_TEXTURE = "@startgate.ppm";
const char* const DEFAULT_START_GATE_SHAPE = "@startgate.shp";

namespace {

constexpr double PI = 3.14159265358979323846;

std::string name_or_none(const char* word) { return strcmp(word, "null") == 0 ? std::string() : std::string(word); }

bool is_blank(const char* line) {
  for (; *line; line++)
    if (!strchr(" \t\r\n\f\v", *line)) return false;
  return true;
}

// The starting-gate lines. Returns the next section token, or "" when the
// line that ended the section was not a section name.
std::string read_starting_gates(TimingGates* t, DataStream* s) {
  data_scanf(s, " ");
  char line[4096];
  for (;;) {
    long start = data_tell(s);
    if (!data_gets(line, sizeof line, s)) return std::string();
    if (is_blank(line)) continue;
    float x, y, z, heading;
    char names[3][1024] = {"", "", ""};
    int fields = sscanf(line, " [ %f %f %f ] %f %1023s %1023s %1023s", &x, &y, &z, &heading, names[0], names[1],
                        names[2]);
    if (fields < 4) {
      char word[81] = "";
      int used = 0;
      if (sscanf(line, " %80s%n", word, &used) == 1 && strcmp(word, "checkpoints:") == 0) {
        // Carry on right after the section name: its records may share the line.
        data_seek(s, start + used);
        return word;
      }
      return std::string();
    }
    // Gates past the table's end are skipped, so the sections after them still count.
    if ((int)t->starting_gates.size() >= MAX_STARTING_GATES) continue;
    StartingGate gate;
    gate.position = Vec3{x, y, z};
    gate.heading = wrap_heading(heading);
    gate.model = fields > 4 ? name_or_none(names[0]) : DEFAULT_START_GATE_MODEL;
    gate.texture = fields > 5 ? name_or_none(names[1]) : DEFAULT_START_GATE_TEXTURE;
    gate.shape = fields > 6 ? name_or_none(names[2]) : DEFAULT_START_GATE_SHAPE;
    t->starting_gates.push_back(gate);
  }
}

void read_checkpoints(TimingGates* t, DataStream* s) {
  Checkpoint c{};
  while ((int)t->checkpoints.size() < MAX_CHECKPOINTS &&
         data_scanf(s, "%f [ %f %f %f ] [ %f %f %f ] ", &c.radius, &c.point.x, &c.point.y, &c.point.z,
                    &c.direction.x, &c.direction.y, &c.direction.z) == 7) {
    t->checkpoints.push_back(c);
  }
}

int read_lap(TimingGates* t, DataStream* s) {
  int count = 0, entry;
  while (count < MAX_LAP_ENTRIES && data_scanf(s, "%d", &entry) == 1) {
    t->sequence.push_back(entry);
    count++;
  }
  return count;
}

std::string next_token(DataStream* s) {
  char token[81];
  if (data_scanf(s, " %80s", token) != 1) return std::string();
  return token;
}

void drop_timing(TimingGates* t) {
  t->checkpoints.clear();
  t->sequence.clear();
  t->first_lap = t->normal_lap = 0;
  t->first_lap_splits = t->normal_lap_splits = 0;
  t->timed = false;
}

bool write_name(DataStream* s, const std::string& name) { return data_puts(s, name.empty() ? "null" : name.c_str()) >= 0; }

}  // namespace

float wrap_heading(float h) {
  if (h >= -PI && h <= PI) return h;
  double f = (h + PI) / (2 * PI);
  return (float)((f - floor(f)) * 2 * PI - PI);
}

void clear_timing_gates(TimingGates* t) {
  t->starting_gates.clear();
  drop_timing(t);
}

void normalise_timing_gates(TimingGates* t, int debug_level) {
  const int C = (int)t->checkpoints.size();
  t->first_lap_splits = t->normal_lap_splits = 0;
  for (size_t i = 0; i < t->sequence.size(); i++) {
    int e = t->sequence[i];
    if (e < 0) e = 0;
    int mark = e >= NO_SPLIT_MARK ? NO_SPLIT_MARK : 0;
    int k = e % NO_SPLIT_MARK;
    if (k > C - 1) k = C > 0 ? C - 1 : 0;
    t->sequence[i] = mark + k;
    if (!mark) ((int)i < t->first_lap ? t->first_lap_splits : t->normal_lap_splits)++;
  }
  t->timed = C > 0 && t->first_lap > 0 && t->normal_lap > 0 && t->first_lap_splits > 0 && t->normal_lap_splits > 0;
  if (!t->timed) {
    drop_timing(t);
    return;
  }
  if (debug_level >= 1)
    log_printf("Found %d timing gates, first lap has %d gates, normal lap has %d\n", C, t->first_lap, t->normal_lap);
}

void read_timing_gates(TimingGates* t, DataStream* s, int debug_level) {
  clear_timing_gates(t);
  std::string token = next_token(s);
  if (token == "startinggate:") token = read_starting_gates(t, s);
  if (token == "checkpoints:") {
    read_checkpoints(t, s);
    if (next_token(s) == "firstlap:") {
      t->first_lap = read_lap(t, s);
      if (next_token(s) == "normallap:") t->normal_lap = read_lap(t, s);
    }
  }
  normalise_timing_gates(t, debug_level);
}

bool read_timing_gates_file(TimingGates* t, const char* name, int debug_level) {
  clear_timing_gates(t);
  // Read through memory: the gate lines need to step back within a line,
  // which a compressed stream cannot do.
  std::vector<unsigned char> bytes;
  if (!data_read_all(name, bytes)) return false;
  DataStream* s = data_open_memory(bytes.data(), bytes.size());
  if (!s) return false;
  read_timing_gates(t, s, debug_level);
  data_close(s);
  return true;
}

bool write_timing_gates(const TimingGates& t, const char* track) {
  std::string name = std::string("@") + track + "/timing_gates";
  DataStream* s = data_open(name.c_str(), "wb");
  if (!s) {
    show_message("Can't open 'timing_gates'\n");
    return false;
  }
  if (!t.starting_gates.empty()) data_puts(s, "startinggate:\n");
  for (const StartingGate& g : t.starting_gates) {
    data_printf(s, "[%f %f %f]", (double)g.position.x, (double)g.position.y, (double)g.position.z);
    data_printf(s, " %f", (double)g.heading);
    if (g.model == DEFAULT_START_GATE_MODEL && g.texture == DEFAULT_START_GATE_TEXTURE &&
        g.shape == DEFAULT_START_GATE_SHAPE) {
      data_puts(s, "\n");
    } else {
      data_puts(s, " ");
      write_name(s, g.model);
      data_puts(s, " ");
      write_name(s, g.texture);
      data_puts(s, " ");
      write_name(s, g.shape);
      data_puts(s, "\n");
    }
  }
  if (!t.checkpoints.empty()) data_puts(s, "checkpoints:\n");
  for (const Checkpoint& c : t.checkpoints) {
    data_printf(s, "%f ", (double)c.radius);
    data_printf(s, "[%f %f %f]", (double)c.point.x, (double)c.point.y, (double)c.point.z);
    data_puts(s, " ");
    data_printf(s, "[%f %f %f]", (double)c.direction.x, (double)c.direction.y, (double)c.direction.z);
    data_puts(s, "\n");
  }
  const int F = t.first_lap, N = t.normal_lap;
  if (F > 0) {
    data_puts(s, "firstlap:\n");
    for (int i = 0; i < F; i++) data_printf(s, "%d ", t.sequence[(size_t)i]);
    data_puts(s, "\n");
  }
  if (N > 0) {
    data_puts(s, "normallap:\n");
    for (int i = 0; i < N; i++) data_printf(s, "%d ", t.sequence[(size_t)(F + i)]);
    data_puts(s, "\n");
  }
  bool ok = data_flush(s) == 0;
  data_close(s);
  return ok;
}

void place_starting_gate_objects(const TimingGates& t, TrackObjects* objects, const Terrain& terrain,
                                 const ObjectLoadOptions& options) {
  objects->start_gates.clear();
  for (const StartingGate& g : t.starting_gates) {
    float h = g.heading;
    // A gate's height is where it stands in the world (the bikes start
    // from it), not a height above the ground as in "statues".
    Vec3 at{g.position.x - 3 * sinf(h), 0, g.position.z - 3 * cosf(h)};
    at.y = terrain.heights.empty() ? g.position.y : g.position.y - height_at(terrain, at.x, at.z);
    objects->start_gates.push_back(
        make_statue(terrain, at, h, g.model.c_str(), g.texture.c_str(), g.shape.c_str(), options));
  }
}
