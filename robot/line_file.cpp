// The line files: encoding, the damage-tolerant reader, saving and loading.
#include <sys/stat.h>
#include <zlib.h>

#include <cerrno>
#include <cmath>
#include <cstring>

#include "core/datafile.h"
#include "platform/log.h"
#include "robot/line_store.h"
#include "track/timing_gates.h"

namespace {

const unsigned char MAGIC[8] = {'D', 'V', 'L', 'I', 'N', 'E', 'S', '\n'};
const unsigned char RECORD_MARK[4] = {'L', 'I', 'N', 'E'};
constexpr size_t HEADER_BYTES = 32;
constexpr size_t RECORD_FIXED_BYTES = 36;
constexpr size_t POINT_BYTES = 24;
// Coordinates beyond this are not a track's (the largest terrain is about
// 8192 x 16 ft across); speeds beyond it are not a bike's.
constexpr float COORDINATE_LIMIT = 1e6f;
constexpr float SPEED_LIMIT = 2000.0f;

void put32(std::vector<unsigned char>& out, uint32_t v) {
  for (int i = 0; i < 4; i++) out.push_back((unsigned char)(v >> (8 * i)));
}
void put16(std::vector<unsigned char>& out, uint32_t v) {
  out.push_back((unsigned char)v);
  out.push_back((unsigned char)(v >> 8));
}
void put_float(std::vector<unsigned char>& out, float f) {
  uint32_t v;
  memcpy(&v, &f, 4);
  put32(out, v);
}
uint32_t get32(const unsigned char* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}
uint32_t get16(const unsigned char* p) { return (uint32_t)p[0] | (uint32_t)p[1] << 8; }
float get_float(const unsigned char* p) {
  uint32_t v = get32(p);
  float f;
  memcpy(&f, &v, 4);
  return f;
}
uint32_t checksum(const unsigned char* p, size_t n) { return (uint32_t)crc32(0, p, (uInt)n); }

bool sane(float v, float limit) { return std::isfinite(v) && std::fabs(v) <= limit; }

// Checks and reads the record at p (bytes left: n). Returns its length, or
// 0 when it is not a whole, intact, sensible record for this store.
size_t read_record(const LineStore& store, const unsigned char* p, size_t n, int* group_out, int* slot_out,
                   RobotLine* line) {
  if (n < RECORD_FIXED_BYTES + 4 || memcmp(p, RECORD_MARK, 4) != 0) return 0;
  int group = (int)get16(p + 4), slot = (int)get16(p + 6);
  int count = (int)get16(p + 8);
  if (count < 2 || count > MAX_LINE_POINTS) return 0;
  size_t length = RECORD_FIXED_BYTES + (size_t)count * POINT_BYTES;
  if (n < length + 4 || checksum(p, length) != get32(p + length)) return 0;
  if (group >= (int)store.groups.size() || slot >= LINE_SLOTS || get16(p + 10) != 0) return 0;
  int from = (int32_t)get32(p + 12);
  int ticks = (int32_t)get32(p + 16);
  int picked = (int32_t)get32(p + 20), completed = (int32_t)get32(p + 24);
  float mean = get_float(p + 28), best = get_float(p + 32);
  // The first group's lines start at the drop, every other group's at a
  // split; the samples must fit the duration.
  bool first_group = group == 0;
  if (first_group != (from == GATE_DROP) || from < GATE_DROP || from >= MAX_LAP_ENTRIES * 2) return 0;
  if (ticks <= (count - 2) * LINE_SAMPLE_TICKS || ticks > (count - 1) * LINE_SAMPLE_TICKS) return 0;
  if (picked < 0 || completed < 0 || completed > picked) return 0;
  if (!sane(mean, 1e6f) || !sane(best, 1e6f) || mean < 0 || best < 0) return 0;
  line->used = true;
  line->from_gate = from;
  line->ticks = ticks;
  line->picked = picked;
  line->completed = completed;
  line->ridden_mean = completed > 0 ? mean : 0;
  line->ridden_best = completed > 0 ? best : 0;
  line->last_picked = -1;
  line->points.resize((size_t)count);
  const unsigned char* q = p + RECORD_FIXED_BYTES;
  for (int i = 0; i < count; i++, q += POINT_BYTES) {
    LinePoint& pt = line->points[(size_t)i];
    pt.position = Vec3{get_float(q), get_float(q + 4), get_float(q + 8)};
    pt.velocity = Vec3{get_float(q + 12), get_float(q + 16), get_float(q + 20)};
    if (!sane(pt.position.x, COORDINATE_LIMIT) || !sane(pt.position.y, COORDINATE_LIMIT) ||
        !sane(pt.position.z, COORDINATE_LIMIT) || !sane(pt.velocity.x, SPEED_LIMIT) ||
        !sane(pt.velocity.y, SPEED_LIMIT) || !sane(pt.velocity.z, SPEED_LIMIT))
      return 0;
  }
  *group_out = group;
  *slot_out = slot;
  return length + 4;
}

std::string store_file(const LineStore& store) { return "@" + store.track + "/" + line_file_name(store.skill); }

// Creates home/<track>/ and its parents.
bool make_track_directory(const std::string& track) {
  const char* home = home_directory();
  if (!home || !create_home_directory()) return false;
  std::string path = home;
  size_t start = 0;
  while (start <= track.size()) {
    size_t end = track.find('/', start);
    if (end == std::string::npos) end = track.size();
    if (end > start) {
      path += track.substr(start, end - start) + "/";
      if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    start = end + 1;
  }
  return true;
}

}  // namespace

std::vector<unsigned char> encode_lines(const LineStore& store) {
  std::vector<unsigned char> out(MAGIC, MAGIC + 8);
  put32(out, LINE_FILE_VERSION);
  put32(out, (uint32_t)store.groups.size());
  put32(out, LINE_SLOTS);
  put32(out, store.layout);
  put32(out, (uint32_t)line_count(store));
  put32(out, checksum(out.data(), out.size()));
  for (size_t g = 0; g < store.groups.size(); g++)
    for (int s = 0; s < LINE_SLOTS; s++) {
      const RobotLine& l = store.groups[g].lines[s];
      if (!l.used) continue;
      size_t start = out.size();
      out.insert(out.end(), RECORD_MARK, RECORD_MARK + 4);
      put16(out, (uint32_t)g);
      put16(out, (uint32_t)s);
      put16(out, (uint32_t)l.points.size());
      put16(out, 0);
      put32(out, (uint32_t)l.from_gate);
      put32(out, (uint32_t)l.ticks);
      put32(out, (uint32_t)l.picked);
      put32(out, (uint32_t)l.completed);
      put_float(out, l.ridden_mean);
      put_float(out, l.ridden_best);
      for (const LinePoint& p : l.points) {
        put_float(out, p.position.x), put_float(out, p.position.y), put_float(out, p.position.z);
        put_float(out, p.velocity.x), put_float(out, p.velocity.y), put_float(out, p.velocity.z);
      }
      put32(out, checksum(out.data() + start, out.size() - start));
    }
  return out;
}

bool decode_lines(LineStore* store, const unsigned char* bytes, size_t size, int* damaged) {
  if (damaged) *damaged = 0;
  for (LineGroup& g : store->groups)
    for (RobotLine& l : g.lines) clear_line(&l);
  if (size < HEADER_BYTES || memcmp(bytes, MAGIC, 8) != 0 || checksum(bytes, 28) != get32(bytes + 28)) return false;
  if (get32(bytes + 8) != LINE_FILE_VERSION || get32(bytes + 12) != store->groups.size() ||
      get32(bytes + 16) != LINE_SLOTS || get32(bytes + 20) != store->layout)
    return false;
  uint32_t expected = get32(bytes + 24);
  int bad = 0;
  bool in_damage = false;
  size_t pos = HEADER_BYTES;
  uint32_t read = 0;
  while (pos + 4 <= size) {
    int group = 0, slot = 0;
    RobotLine line;
    clear_line(&line);
    size_t length = read_record(*store, bytes + pos, size - pos, &group, &slot, &line);
    if (length == 0) {
      // Count each damaged stretch once, then look for the next mark.
      if (!in_damage) bad++;
      in_damage = true;
      pos++;
      continue;
    }
    in_damage = false;
    RobotLine& target = store->groups[(size_t)group].lines[slot];
    if (target.used) {
      bad++;  // the same slot twice: keep the first
    } else {
      target = std::move(line);
      read++;
    }
    pos += length;
  }
  if (pos < size && !in_damage) bad++;  // a few trailing bytes
  // Records cut off at the end of the file are damage too.
  if (read + (uint32_t)bad < expected) bad = (int)(expected - read);
  if (damaged) *damaged = bad;
  store->changed = false;
  return true;
}

bool save_line_store(LineStore* store) {
  if (store->track.empty()) return false;
  if (!store->changed) return true;
  std::string name = store_file(*store);
  if (!make_track_directory(store->track)) {
    log_printf("auto pilot: can't make the directory for '%.900s'\n", name.c_str());
    return false;
  }
  std::vector<unsigned char> bytes = encode_lines(*store);
  std::string temporary = name + ".new";
  std::string path = std::string(home_directory()) + temporary.substr(1);
  DataStream* s = data_open(path.c_str(), "wb");
  bool ok = s && data_write(s, bytes.data(), bytes.size()) == bytes.size();
  if (s) ok = data_flush(s) == 0 && ok;
  data_close(s);
  if (ok) ok = data_rename(temporary.c_str(), name.c_str());
  if (!ok) {
    log_printf("auto pilot: can't write '%.900s'\n", name.c_str());
    remove(path.c_str());
    return false;
  }
  store->changed = false;
  return true;
}

bool load_line_store(LineStore* store, const TimingGates& gates, const std::string& track, int skill) {
  size_line_store(store, gates, track, skill);
  if (track.empty() || store->groups.empty()) return false;
  std::string name = store_file(*store);
  DataStream* s = data_open(name.c_str(), "rb");
  if (!s) return false;
  // No honest file is larger than a full store of the longest lines.
  const size_t limit = HEADER_BYTES + store->groups.size() * LINE_SLOTS *
                                          (RECORD_FIXED_BYTES + 4 + (size_t)MAX_LINE_POINTS * POINT_BYTES);
  std::vector<unsigned char> bytes;
  unsigned char chunk[65536];
  size_t n;
  bool too_big = false;
  while ((n = data_read(s, chunk, sizeof chunk)) > 0) {
    if (bytes.size() + n > limit) {
      too_big = true;
      break;
    }
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
  bool failed = data_stream_failed(s);
  data_close(s);
  int damaged = 0;
  if (too_big || !decode_lines(store, bytes.data(), bytes.size(), &damaged)) {
    log_printf("auto pilot: '%.900s' is damaged or was made for other timing gates; not used\n", name.c_str());
    size_line_store(store, gates, track, skill);
    return false;
  }
  if (damaged > 0 || failed)
    log_printf("auto pilot: '%.900s': %d damaged lines skipped\n", name.c_str(), damaged > 0 ? damaged : 1);
  return line_count(*store) > 0;
}
