// Demo playback: the header of versions 4 to 6, the read-ahead that feeds
// the histories, and repositioning for rewind and skip.
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "core/datafile.h"
#include "core/message.h"
#include "replay/demo.h"

DemoPlayer g_demo_player;

namespace {

uint32_t get32(const uint8_t* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

bool read_exact(DataStream* s, void* bytes, size_t size) { return data_read(s, bytes, size) == size; }

// Reads and drops n bytes; false when the stream ends first. Works on every
// kind of stream, compressed ones included.
bool skip_bytes(DataStream* s, uint64_t n) {
  uint8_t scratch[4096];
  while (n > 0) {
    size_t take = n < sizeof scratch ? (size_t)n : sizeof scratch;
    if (data_read(s, scratch, take) != take) return false;
    n -= take;
  }
  return true;
}

// One header line without its line end (a trailing CR is dropped too, so a
// file that went through a text editor still reads); false when the line
// has no line feed within DEMO_LINE_MAX characters.
bool read_header_line(DataStream* s, char line[DEMO_LINE_MAX + 1]) {
  if (!data_gets(line, DEMO_LINE_MAX + 1, s)) return false;
  size_t n = strlen(line);
  if (n == 0 || line[n - 1] != '\n') return false;
  line[--n] = '\0';
  if (n > 0 && line[n - 1] == '\r') line[--n] = '\0';
  return true;
}

// "DV%d %d %d %d %d": up to five numbers after "DV"; the count read.
int scan_version_line(const char* line, long values[5]) {
  if (line[0] != 'D' || line[1] != 'V') return 0;
  const char* p = line + 2;
  int count = 0;
  while (count < 5) {
    char* end = nullptr;
    errno = 0;
    long v = strtol(p, &end, 10);
    if (end == p) break;
    if (v > INT_MAX || errno == ERANGE) v = v < 0 ? INT_MIN : INT_MAX;
    if (v < INT_MIN) v = INT_MIN;
    values[count++] = v;
    p = end;
  }
  return count;
}

void split_bar_line(const char* line, DemoRider* rider) {
  std::string* fields[5] = {&rider->model, &rider->rider_skin, &rider->bike_skin, &rider->wheel_skin,
                            &rider->helmet_skin};
  const char* p = line;
  for (int f = 0; f < 5 && p; f++) {
    const char* bar = f < 4 ? strchr(p, '|') : nullptr;
    if (bar) {
      fields[f]->assign(p, (size_t)(bar - p));
      p = bar + 1;
    } else {
      fields[f]->assign(p);
      p = nullptr;
    }
  }
}

bool parse_header(DemoPlayer* p, DataStream* s, bool* reported) {
  char line[DEMO_LINE_MAX + 1];
  if (!read_header_line(s, line)) return false;
  long v[5] = {0, 0, 0, DEMO_OPEN_LAPS, DEMO_DEFAULT_GATE_DROP};
  int count = scan_version_line(line, v);
  if (count < 3 || v[0] < 4 || v[0] > DEMO_VERSION || v[1] < 0) return false;
  if (v[1] > MAX_BIKES) {
    show_message("Demo '%.200s' names %ld riders; at most %d can play", p->path.c_str(), v[1], MAX_BIKES);
    *reported = true;
    return false;
  }
  p->version = (int)v[0];
  p->rider_count = (int)v[1];
  p->race_time = (int)v[2];
  p->laps = (int)v[3];
  p->gate_drop_tick = (int)v[4];
  if (!read_header_line(s, line)) return false;
  p->track = line;
  p->riders.assign((size_t)p->rider_count, DemoRider{});
  for (DemoRider& rider : p->riders) {
    if (!read_header_line(s, line)) return false;
    split_bar_line(line, &rider);
    if (!read_header_line(s, line)) return false;
    rider.number.assign(line, strnlen(line, DEMO_NUMBER_CHARS));
    if (p->version < 6) continue;
    if (!read_header_line(s, line)) return false;
    rider.name = line;
    // Lines a later writer may add, up to the block's empty line.
    do {
      if (!read_header_line(s, line)) return false;
    } while (line[0] != '\0');
  }
  return true;
}

void end_cut(DemoPlayer* p, int tick) {
  show_message("Demo '%.200s' is cut short at tick %d", p->path.c_str(), tick);
  p->ended = true;
}

// Positions the stream; a stream that cannot seek (a compressed file) is
// opened again and read up to the position.
bool seek_stream(DemoPlayer* p, long position) {
  if (position < 0) return false;
  if (data_seek(p->file, position)) return true;
  if (p->path.empty()) return false;
  data_close(p->file);
  p->file = data_open(p->path.c_str(), "rb");
  if (!p->file) return false;
  return skip_bytes(p->file, (uint64_t)position);
}

void add_entry(DemoPlayer* p, StateHistory histories[MAX_BIKES], int ordinal, int64_t stamp,
               const StateRecord& record) {
  if (ordinal >= p->rider_count || stamp < 0 || stamp > INT_MAX) return;  // damaged entry
  int slot = p->slot[ordinal];
  if (slot < 0) {
    // A rider left without a bike (more riders than free slots): said once.
    if (!p->unmapped_reported) add_state_to_slot(histories, slot, record, (int)stamp);
    p->unmapped_reported = true;
    return;
  }
  add_state_to_slot(histories, slot, record, (int)stamp);
}

void read_chunks(DemoPlayer* p, StateHistory histories[MAX_BIKES], int* current_tick) {
  for (int chunks = 0; chunks < DEMO_CHUNKS_PER_READ && !p->ended; chunks++) {
    if ((int64_t)p->next_tick > (int64_t)*current_tick + DEMO_READ_AHEAD_TICKS) return;
    uint8_t head[DEMO_CHUNK_HEADER_BYTES];
    size_t got = data_read(p->file, head, sizeof head);
    if (got < sizeof head) {
      if (got > 0) {
        end_cut(p, p->next_tick);
      } else {
        p->ended = true;
      }
      return;
    }
    const uint32_t n = get32(head) ^ p->previous_length;
    const int32_t tick = (int32_t)get32(head + 4);
    const int type = head[8];
    if (type == DEMO_CHUNK_STATES && n % DEMO_ENTRY_BYTES == 0) {
      if (p->first_chunk_tick < 0) {
        p->first_chunk_tick = tick;
        if (p->practice) {
          p->offset = (int)((int64_t)*current_tick - tick);
        } else {
          *current_tick = tick;
        }
      }
      for (uint32_t e = 0; e < n / DEMO_ENTRY_BYTES; e++) {
        uint8_t entry[DEMO_ENTRY_BYTES];
        if (!read_exact(p->file, entry, sizeof entry)) return end_cut(p, tick);
        StateRecord record;
        memcpy(record.bytes, entry + 5, STATE_RECORD_BYTES);
        add_entry(p, histories, entry[0], (int64_t)(int32_t)get32(entry + 1) + p->offset, record);
      }
    } else if (type == DEMO_CHUNK_TEXT) {
      char text[DEMO_LINE_MAX + 1];
      uint32_t shown = n < (uint32_t)DEMO_LINE_MAX ? n : (uint32_t)DEMO_LINE_MAX;
      if (!read_exact(p->file, text, shown)) return end_cut(p, tick);
      text[shown] = '\0';
      show_message("%s", text);
      if (!skip_bytes(p->file, n - shown)) return end_cut(p, tick);
    } else {
      if (!skip_bytes(p->file, n)) return end_cut(p, tick);
    }
    p->previous_length = n;
    p->next_position += (long)n + DEMO_CHUNK_HEADER_BYTES;
    if (p->first_chunk_tick >= 0) p->next_tick = (int)((int64_t)tick + p->offset);
  }
}

void read_frames(DemoPlayer* p, StateHistory histories[MAX_BIKES], int current_tick) {
  const size_t size = p->version == 4 ? OLD_STATE_RECORD_BYTES : STATE_RECORD_BYTES;
  if (!p->frames_started) {
    p->frames_started = true;
    p->frame_base = p->next_tick = current_tick;
  }
  for (int frames = 0; frames < DEMO_CHUNKS_PER_READ && !p->ended; frames++) {
    if ((int64_t)p->next_tick > (int64_t)current_tick + DEMO_FRAME_READ_AHEAD_TICKS) return;
    for (int rider = 0; rider < p->rider_count; rider++) {
      uint8_t bytes[STATE_RECORD_BYTES];
      if (!read_exact(p->file, bytes, size)) {
        p->ended = true;  // the end of the file ends the frame
        return;
      }
      p->next_position += (long)size;
      int slot = p->slot[rider];
      if (slot < 0) continue;
      StateRecord record;
      if (p->version == 4) {
        OldStateRecord old;
        memcpy(old.bytes, bytes, OLD_STATE_RECORD_BYTES);
        record = convert_old_record(old, p->rider_models[(size_t)rider]);
      } else {
        memcpy(record.bytes, bytes, STATE_RECORD_BYTES);
      }
      add_state_to_slot(histories, slot, record, p->next_tick);
    }
    p->next_tick++;
  }
}

}  // namespace

bool open_demo(DemoPlayer* p, const char* path, bool practice) {
  close_demo(p);
  if (!path || !path[0]) return false;
  DataStream* s = data_open(path, "rb");
  if (!s) return false;
  return open_demo_stream(p, s, path, practice);
}

bool open_demo_stream(DemoPlayer* p, DataStream* s, const char* name, bool practice) {
  close_demo(p);
  *p = DemoPlayer{};
  p->path = name ? name : "";
  p->practice = practice;
  for (int& slot : p->slot) slot = -1;
  bool reported = false;
  if (!s || !parse_header(p, s, &reported)) {
    if (s && !reported) show_message("Bad demo file '%.200s'", p->path.c_str());
    data_close(s);
    *p = DemoPlayer{};
    for (int& slot : p->slot) slot = -1;
    return false;
  }
  p->file = s;
  p->rider_models.assign((size_t)p->rider_count, default_record_model());
  p->data_start = p->next_position = data_tell(s);
  p->first_chunk_tick = -1;
  p->offset = 0;
  p->next_tick = 1;
  p->previous_length = 0;
  return true;
}

void close_demo(DemoPlayer* p) {
  if (p->file) data_close(p->file);
  p->file = nullptr;
  p->skipping = false;
}

void set_demo_rider_slot(DemoPlayer* p, int rider, int slot, const RecordModel* model) {
  if (rider < 0 || rider >= p->rider_count) return;
  p->slot[rider] = slot >= 0 && slot < MAX_BIKES ? slot : -1;
  if (model) p->rider_models[(size_t)rider] = *model;
}

void read_demo_ahead(DemoPlayer* p, StateHistory histories[MAX_BIKES], int* current_tick) {
  if (!p->file || p->ended) return;
  if (p->version == DEMO_VERSION) {
    read_chunks(p, histories, current_tick);
  } else {
    read_frames(p, histories, *current_tick);
  }
}

bool reposition_demo(DemoPlayer* p, int tick) {
  if (!p->file) return false;
  p->ended = false;
  if (tick < 0) tick = 0;
  long position;
  if (p->version == DEMO_VERSION) {
    const int64_t target = tick - DEMO_READ_AHEAD_TICKS > 0 ? tick - DEMO_READ_AHEAD_TICKS : 0;
    long pos = p->next_position;
    uint32_t length = p->previous_length;
    // Every step moves back by at least a chunk header, so damaged links
    // cannot loop; a link that points before the data starts over from the
    // first chunk.
    while (pos > p->data_start) {
      uint8_t head[DEMO_CHUNK_HEADER_BYTES];
      if (seek_stream(p, pos) && read_exact(p->file, head, sizeof head) &&
          (int64_t)(int32_t)get32(head + 4) + p->offset <= target) {
        break;
      }
      if (!p->file) break;
      long back = pos - (long)length - DEMO_CHUNK_HEADER_BYTES;
      if (back < p->data_start || !seek_stream(p, back) || !read_exact(p->file, head, sizeof head)) {
        pos = p->data_start;
        break;
      }
      length = get32(head) ^ length;
      pos = back;
    }
    if (pos <= p->data_start) {
      pos = p->data_start;
      length = 0;
    }
    position = pos;
    p->previous_length = length;
    p->next_tick = tick;
  } else {
    const long size = p->version == 4 ? OLD_STATE_RECORD_BYTES : STATE_RECORD_BYTES;
    if (!p->frames_started) {
      p->frames_started = true;
      p->frame_base = 0;
    }
    long index = tick > p->frame_base ? tick - p->frame_base : 0;
    position = p->data_start + index * (long)p->rider_count * size;
    p->next_tick = p->frame_base + (int)index;
  }
  p->next_position = position;
  if (!p->file || !seek_stream(p, position)) {
    p->ended = true;
    return false;
  }
  return true;
}

bool seek_replay(DemoPlayer* p, StateHistory histories[MAX_BIKES], double seconds, bool accurate,
                 const ReplayRace& race) {
  if (!p->file || !race.playback_only || !(seconds == seconds) || seconds == 0) return false;
  const int tick = race.tick(race.context);
  double shift = seconds * TICKS_PER_SECOND;
  if (shift > 1e9) shift = 1e9;
  if (shift < -1e9) shift = -1e9;
  const int64_t ticks = (int64_t)shift;
  if (seconds > 0 && (p->version == DEMO_VERSION || accurate)) {
    const int64_t target = (int64_t)tick + ticks;
    bool roost = race.set_roost(race.context, false);
    p->skipping = true;
    // Bounded by the distance, in case a step does not advance the clock.
    for (int64_t n = 0; n < ticks && race.tick(race.context) < target; n++) race.step(race.context);
    p->skipping = false;
    race.set_roost(race.context, roost);
    return true;
  }
  int64_t c64 = (int64_t)tick + ticks - 1;
  const int c = c64 < 0 ? 0 : (c64 > INT_MAX ? INT_MAX : (int)c64);
  reposition_demo(p, c);
  if (c < tick) race.rewind_timing(race.context, c);
  race.set_tick(race.context, c);
  clear_all_histories(histories);
  int now = c;
  read_demo_ahead(p, histories, &now);
  if (now != c) race.set_tick(race.context, now);
  race.step(race.context);
  return true;
}
