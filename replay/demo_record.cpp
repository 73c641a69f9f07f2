// Demo recording: the header, state and text chunks, the numbered backups
// of the default demo and the renaming by "namedemo".
#include <cstdio>
#include <cstring>

#include "core/config.h"
#include "core/datafile.h"
#include "core/message.h"
#include "replay/demo.h"

const char* const DEMO_DEFAULT_PATH = "@demos/default.dvdemo";
DemoRecorder g_demo_recorder;

namespace {

constexpr size_t HEADER_FIELD_MAX = 200;  // five fields and four bars stay under a line's 1023
constexpr size_t HEADER_NAME_MAX = 1000;

void put32(uint8_t* p, uint32_t v) {
  p[0] = (uint8_t)v;
  p[1] = (uint8_t)(v >> 8);
  p[2] = (uint8_t)(v >> 16);
  p[3] = (uint8_t)(v >> 24);
}

// A header string as a reader will split it back: no line ends, no bars
// inside a bar-separated field, and short enough for the reader's lines.
std::string header_text(const std::string& text, size_t limit, bool in_bar_line) {
  std::string out = text.substr(0, limit);
  for (char& c : out) {
    if (c == '\n' || c == '\r' || c == '\0') c = ' ';
    if (in_bar_line && c == '|') c = '/';
  }
  return out;
}

std::string backup_name(int i) {
  char name[64];
  snprintf(name, sizeof name, "@demos/default%02d.dvdemo", i);
  return name;
}

bool write_all(DemoRecorder* r, const void* bytes, size_t size) {
  if (data_write(r->file, bytes, size) == size) return true;
  show_message("Can't write demo '%.900s' - recording stopped", r->path.c_str());
  data_close(r->file);
  r->file = nullptr;
  return false;
}

}  // namespace

bool slot_recorded(int mode, bool online, int local_slot) {
  if (!online) return mode == SLOT_MODE_PLAYER || mode == SLOT_MODE_ROBOT;
  if (local_slot >= 0 && local_slot < MAX_BIKES) {
    return mode == SLOT_MODE_PLAYER || mode == SLOT_MODE_HISTORY || mode == SLOT_MODE_ROBOT;
  }
  return mode == SLOT_MODE_HISTORY || mode == SLOT_MODE_ROBOT;
}

void rotate_demo_backups(int backups) {
  int k = backups < 0 ? 0 : (backups > DEMO_MAX_BACKUPS ? DEMO_MAX_BACKUPS : backups);
  for (int i = k - 2; i >= 0; i--) data_rename(backup_name(i).c_str(), backup_name(i + 1).c_str());
  if (k > 0) data_rename(DEMO_DEFAULT_PATH, backup_name(0).c_str());
}

bool start_recording(DemoRecorder* r, const DemoRecordingSetup& setup) {
  if (r->file) {
    data_close(r->file);
    r->file = nullptr;
  }
  const char* track = setup.track ? setup.track : "";
  if (setup.practice) {
    r->path = std::string("@") + track + "/lastlap.dvdemo";
  } else {
    rotate_demo_backups(setup.demo_backups);
    r->path = DEMO_DEFAULT_PATH;
  }
  r->practice = setup.practice;
  r->rider_count = 0;
  for (int i = 0; i < setup.rider_count && r->rider_count < MAX_BIKES; i++) {
    int slot = setup.slots[i];
    if (slot >= 0 && slot < MAX_BIKES) r->slot[r->rider_count++] = slot;
  }
  r->file = data_open(r->path.c_str(), "wb");
  if (!r->file) return false;

  std::string header;
  char line[128];
  snprintf(line, sizeof line, "DV%02d %d %d %d %d\n", DEMO_VERSION, r->rider_count, setup.race_time, setup.laps,
           setup.gate_drop_tick);
  header += line;
  header += header_text(track, HEADER_NAME_MAX, false) + "\n";
  for (int i = 0, written = 0; i < setup.rider_count && written < r->rider_count; i++) {
    int slot = setup.slots[i];
    if (slot < 0 || slot >= MAX_BIKES) continue;
    written++;
    const DemoRider& d = setup.riders[i];
    header += header_text(d.model, HEADER_FIELD_MAX, true) + "|" + header_text(d.rider_skin, HEADER_FIELD_MAX, true) +
              "|" + header_text(d.bike_skin, HEADER_FIELD_MAX, true) + "|" +
              header_text(d.wheel_skin, HEADER_FIELD_MAX, true) + "|" +
              header_text(d.helmet_skin, HEADER_FIELD_MAX, true) + "\n";
    header += header_text(d.number, DEMO_NUMBER_CHARS, false) + "\n";
    header += header_text(d.name, HEADER_NAME_MAX, false) + "\n\n";
  }
  if (!write_all(r, header.data(), header.size())) return false;
  r->previous_length = 0;
  r->chunk.assign(DEMO_CHUNK_HEADER_BYTES + (size_t)r->rider_count * HISTORY_ENTRIES * DEMO_ENTRY_BYTES, 0);
  return true;
}

void write_demo_tick(DemoRecorder* r, StateHistory histories[MAX_BIKES], int tick, bool forced) {
  if (!r->file) return;
  if (!forced && tick % DEMO_CHUNK_INTERVAL != 0) return;
  uint32_t entries = 0;
  for (int i = 0; i < r->rider_count; i++) entries += (uint32_t)unsaved_count(histories[r->slot[i]]);
  if (entries == 0) return;
  const uint32_t n = entries * DEMO_ENTRY_BYTES;
  uint8_t* p = r->chunk.data();
  put32(p, r->previous_length ^ n);
  put32(p + 4, (uint32_t)tick);
  p[8] = DEMO_CHUNK_STATES;
  size_t at = DEMO_CHUNK_HEADER_BYTES;
  int32_t stamps[HISTORY_ENTRIES];
  StateRecord records[HISTORY_ENTRIES];
  for (int i = 0; i < r->rider_count; i++) {
    int k = take_unsaved(&histories[r->slot[i]], stamps, records);
    for (int e = 0; e < k; e++) {
      p[at] = (uint8_t)i;
      put32(p + at + 1, (uint32_t)stamps[e]);
      memcpy(p + at + 5, records[e].bytes, STATE_RECORD_BYTES);
      at += DEMO_ENTRY_BYTES;
    }
  }
  if (!write_all(r, p, at)) return;
  r->previous_length = n;
  data_flush(r->file);
}

void record_demo_text(DemoRecorder* r, const char* text, int tick) {
  if (!r->file || !text) return;
  size_t length = strlen(text);
  if (length > 0x7FFFFFFF) length = 0x7FFFFFFF;
  uint8_t head[DEMO_CHUNK_HEADER_BYTES];
  put32(head, r->previous_length ^ (uint32_t)length);
  put32(head + 4, (uint32_t)tick);
  head[8] = DEMO_CHUNK_TEXT;
  if (!write_all(r, head, sizeof head) || !write_all(r, text, length)) return;
  r->previous_length = (uint32_t)length;
}

void stop_recording(DemoRecorder* r, StateHistory histories[MAX_BIKES], int tick) {
  if (!r->file) return;
  write_demo_tick(r, histories, tick, true);
  if (r->file) data_close(r->file);
  r->file = nullptr;
  if (!r->pending_name.empty() && r->path == DEMO_DEFAULT_PATH) {
    std::string target = std::string("@demos/") + r->pending_name;
    if (!data_rename(DEMO_DEFAULT_PATH, target.c_str())) {
      show_message("Can't rename the demo to '%.900s'", target.c_str());
    }
  }
  r->pending_name.clear();
}

bool name_demo(DemoRecorder* r, const char* name) {
  if (!r->file || r->practice) {
    show_message("Not currently recording a demo");
    return false;
  }
  size_t length = name ? strlen(name) : 0;
  if (length > DEMO_NAME_MAX) {
    show_message("Name too long");
    return false;
  }
  // The name becomes a file under the demos folder and nowhere else.
  bool only_dots = strspn(name ? name : "", ".") == length;
  if (length == 0 || only_dots || strpbrk(name, "/\\")) {
    show_message("Bad demo name");
    return false;
  }
  static const char ending[] = ".dvdemo";
  const size_t ending_length = sizeof ending - 1;
  r->pending_name = name;
  if (length < ending_length || strcmp(name + length - ending_length, ending) != 0) r->pending_name += ending;
  show_message("Demo name updated");
  return true;
}

void set_demo_backups(int backups) {
  int k = backups < 0 ? 0 : (backups > DEMO_MAX_BACKUPS ? DEMO_MAX_BACKUPS : backups);
  g_config.demo_backups = k;
  show_message("Now keeping %d demo backups", k);
}
