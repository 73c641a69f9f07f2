// What the client does with each datagram from the server, the reliable
// messages' subtypes, the server's commands and the file upload.
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/datafile.h"
#include "net/client_internal.h"

namespace {

// Ticks from the wire are unsigned; a value past the race clock's range
// would only ever come from a broken server.
constexpr uint32_t TICK_LIMIT = 1u << 30;

int wire_tick(uint32_t value) { return value < TICK_LIMIT ? (int)value : (int)TICK_LIMIT; }

// A text field as printable text: up to the first NUL, at most `limit` bytes.
std::string wire_text(const uint8_t* text, int length, int limit) {
  std::string s;
  for (int i = 0; i < length && i < limit && text[i] != 0; i++) s += (char)text[i];
  return s;
}

void clear_slot_tables(NetClient* c) {
  for (int s = 0; s < MAX_BIKES; s++) {
    c->riders[s] = DemoRider();
    c->slot_request[s] = SLOT_REQUEST_NONE;
    c->last_stamp[s] = -1;
    c->slot_ping[s] = 0;
    c->last_state_time[s] = 0.0;
  }
}

// Algorithms 2.
void take_track(NetClient* c, const ServerMessage& m) {
  c->race_id = m.race_id;
  c->race_time = wire_tick(m.race_time);
  c->laps = m.laps < 1000000u ? (int)m.laps : 1000000;
  c->gate_drop_tick = wire_tick(m.gate_drop_tick);
  memcpy(c->server_digest, m.digest, TRACK_DIGEST_BYTES);
  const std::string name = wire_text(m.text, m.text_length, 1000);
  bool found = !name.empty() && c->hooks.track_installed && c->hooks.track_installed(c->hooks.context, name.c_str());
  if (!found) {
    client_print(c, "Can't find track '%.150s'\n", name.c_str());
    enter_state(c, NET_LEAVING);
    return;
  }
  c->track = name;
  clear_slot_tables(c);
  if (c->hooks.clear_histories) c->hooks.clear_histories(c->hooks.context);
  c->riding_slot = NO_BIKE;
  c->last_bike_acknowledged = NO_BIKE;
  c->latest_server_tick = 0;
  c->last_lap_report = 0;
  enter_state(c, NET_TRACK_ACKNOWLEDGED);
}

// Algorithms 3.
void take_bike(NetClient* c, const ServerMessage& m) {
  if (m.bike_slot >= (uint32_t)MAX_BIKES) return;
  const int slot = (int)m.bike_slot;
  if (c->last_bike_acknowledged != NO_BIKE && slot <= c->last_bike_acknowledged) return;
  parse_client_info_text(m.text, m.text_length, &c->riders[slot]);
  const int robot = robot_number_of_text(m.text, m.text_length);
  c->slot_request[slot] = robot >= 0 ? SLOT_REQUEST_ROBOT + robot : SLOT_REQUEST_PLAYER;
  c->last_bike_acknowledged = slot;
  enter_state(c, NET_BIKE_ACKNOWLEDGED);
}

// Algorithms 4.
void take_race_ready(NetClient* c, const ServerMessage& m) {
  c->riding_slot = m.bike_slot < (uint32_t)MAX_BIKES ? (int)m.bike_slot : NO_BIKE;
  if (c->riding_slot != NO_BIKE) {
    c->slot_request[c->riding_slot] = SLOT_REQUEST_SELF;
    parse_client_info_text(m.text, m.text_length, &c->riders[c->riding_slot]);
  }
  OnlineRace race = {c->track.c_str(), c->race_time,    c->laps,  c->gate_drop_tick,
                     c->riding_slot,   c->slot_request, c->riders};
  uint8_t digest[TRACK_DIGEST_BYTES] = {};
  if (!c->hooks.setup_race || !c->hooks.setup_race(c->hooks.context, race, digest)) {
    client_print(c, "Can't set up the race on '%.150s'\n", c->track.c_str());
    enter_state(c, NET_LEAVING);
    return;
  }
  enter_state(c, NET_WAITING);
  if (memcmp(digest, c->server_digest, TRACK_DIGEST_BYTES) != 0) {
    client_print(c, "Client track modified - does not match server's track (%.100s)\n", c->track.c_str());
    enter_state(c, NET_LEAVING);
  }
}

// The echo and the server tick of a time or states message (Algorithms 5).
void take_clock(NetClient* c, const ServerMessage& m) {
  const int tick = client_tick(c);
  if (m.echo != 0) c->ping = tick - wire_tick(m.echo);
  const int server_tick = wire_tick(m.server_tick);
  if (c->latest_server_tick <= 0 && c->hooks.set_tick) c->hooks.set_tick(c->hooks.context, server_tick);
  if (server_tick > c->latest_server_tick) {
    c->latest_server_tick = server_tick;
    c->heard_server_tick = server_tick;
    c->heard_server_time = c->now;
  }
  if (c->state == NET_WAITING) {
    client_print(c, "%s\n", race_format_text(c->race_time, c->laps).c_str());
    enter_state(c, NET_RACING);
  }
}

// Algorithms 6.
void take_states(NetClient* c, const ServerMessage& m) {
  for (uint32_t i = 0; i < m.count; i++) {
    StateEntry e;
    if (!state_entry(m, (int)i, &e)) {
      client_print(c, "State packet too small\n");
      break;
    }
    if (e.slot >= MAX_BIKES) continue;
    const int stamp = wire_tick(e.stamp);
    if (stamp <= c->last_stamp[e.slot]) continue;
    if (!c->hooks.remote_bike || !c->hooks.remote_bike(c->hooks.context, e.slot)) continue;
    c->last_stamp[e.slot] = stamp;
    c->slot_ping[e.slot] = e.ping;
    c->last_state_time[e.slot] = c->now;
    if (c->hooks.add_remote_state) c->hooks.add_remote_state(c->hooks.context, e.slot, e.record, stamp);
  }
  take_clock(c, m);
}

// Subtype 21 from the server: u32 race id, u32 count, count x (slot, index, tick).
void take_timing(NetClient* c, const uint8_t* p, int length) {
  if (length < 8 || read_u32(p) != c->race_id) return;
  const uint32_t count = read_u32(p + 4);
  bool changed = false;
  for (uint32_t i = 0; i < count; i++) {
    const long at = 8 + (long)i * 12;
    if (at + 12 > length) break;
    const uint32_t slot = read_u32(p + at), index = read_u32(p + at + 4), tick = read_u32(p + at + 8);
    if (slot >= (uint32_t)MAX_BIKES || (int)slot == c->riding_slot || index > (uint32_t)INT_MAX) continue;
    if (c->hooks.apply_timing) c->hooks.apply_timing(c->hooks.context, (int)slot, (int)index, wire_tick(tick));
    changed = true;
  }
  if (changed && c->hooks.update_standings) c->hooks.update_standings(c->hooks.context);
}

void handle_reliable(void* context, uint8_t subtype, const uint8_t* payload, int length) {
  NetClient* c = static_cast<NetClient*>(context);
  switch (subtype) {
    case RELIABLE_TEXT: {
      const std::string text = wire_text(payload, length, MAX_RELIABLE_PAYLOAD);
      client_print(c, "%s\n", text.c_str());
      if (c->hooks.console_text) c->hooks.console_text(c->hooks.context, text.c_str(), client_tick(c));
      break;
    }
    case RELIABLE_TIMING: take_timing(c, payload, length); break;
    case RELIABLE_COMMAND: handle_server_command(c, wire_text(payload, length, MAX_RELIABLE_PAYLOAD).c_str()); break;
    default: break;
  }
}

bool in_state(const NetClient* c, int a, int b) { return c->state == a || c->state == b; }

}  // namespace

void handle_server_datagram(NetClient* c, const uint8_t* bytes, int length) {
  ServerMessage m;
  if (!decode_server_message(bytes, length, &m)) return;
  // Messages of a race other than the one held are stale.
  const bool race_message = m.type == SV_BIKE || m.type == SV_RACE_READY || m.type == SV_TIME || m.type == SV_STATES;
  if (race_message && m.race_id != c->race_id) return;

  switch (m.type) {
    case SV_FULL: client_print(c, "Server is full\n"); break;
    case SV_ACCEPT:
      if (c->state != NET_CONTACTING || m.slot >= (uint32_t)MAX_BIKES) break;
      c->client_slot = (int)m.slot;
      c->key = m.key;
      if (m.version == SERVER_PROTOCOL_VERSION) {
        enter_state(c, NET_LOGGING_IN);
      } else {
        client_print(c, "Server version does not match client version\n");
        enter_state(c, NET_LEAVING);
      }
      break;
    case SV_TRACK:
      if (!in_state(c, NET_LOGGING_IN, NET_RESTARTING) || c->client_slot == NO_BIKE) break;
      if (c->race_id != 0 && m.race_id != c->race_id) break;
      take_track(c, m);
      break;
    case SV_BIKE:
      if (in_state(c, NET_TRACK_ACKNOWLEDGED, NET_BIKE_ACKNOWLEDGED)) take_bike(c, m);
      break;
    case SV_RACE_READY:
      if (in_state(c, NET_TRACK_ACKNOWLEDGED, NET_BIKE_ACKNOWLEDGED)) take_race_ready(c, m);
      break;
    case SV_TIME:
      if (in_state(c, NET_WAITING, NET_RACING)) take_clock(c, m);
      break;
    case SV_STATES:
      if (in_state(c, NET_WAITING, NET_RACING)) take_states(c, m);
      break;
    case SV_VALUE:
      if (in_state(c, NET_WAITING, NET_RACING)) c->server_value = m.value;
      break;
    case SV_RESTART:
      if (in_state(c, NET_WAITING, NET_RACING) && m.race_id > c->race_id) {
        c->race_id = m.race_id;
        enter_state(c, NET_RESTARTING);
      }
      break;
    case SV_DISCONNECTED:
      client_print(c, "Disconnected\n");
      reset_connection(c);
      break;
    case SV_ERROR:
      client_print(c, "%s", wire_text(m.text, m.text_length, 900).c_str());
      enter_state(c, NET_LEAVING);
      break;
    case SV_RELIABLE: {
      ReliableArrival arrival = receive_reliable(&c->incoming, m.sequence, m.subtype, m.text, m.text_length,
                                                 handle_reliable, c);
      // A handler may have reset the connection (nothing does today, but
      // the acknowledgment must then not go out on a closed socket).
      if (arrival != ReliableArrival::refused && c->socket >= 0) {
        ClientMessage ack = client_message(CL_ACK, (uint32_t)c->client_slot, c->key);
        ack.value = m.sequence;
        client_send_message(c, ack);
      }
      break;
    }
    case SV_ACK: acknowledge_reliable(&c->outgoing, m.sequence); break;
    case SV_REDIRECT:
      if (c->state == NET_CONTACTING && m.nonce == c->nonce) {
        const std::string address = wire_text(m.text, m.text_length, REDIRECT_ADDRESS_MAX);
        reset_connection(c);
        c->pending_address = address;
      }
      break;
    default: break;
  }
}

std::string race_format_text(int race_time, int laps) {
  char text[64];
  if (race_time == 0) {
    snprintf(text, sizeof text, "%d laps", laps);
  } else {
    const int minutes = (int)lround(race_time * TICK_SECONDS / 60.0);
    if (laps == 0)
      snprintf(text, sizeof text, "%d minutes", minutes);
    else
      snprintf(text, sizeof text, "%d minutes + %d laps", minutes, laps);
  }
  return text;
}

// --- server commands --------------------------------------------------------------------

bool command_word(const char* text, const char* word, const char** arguments) {
  const size_t n = strlen(word);
  if (strncmp(text, word, n) != 0) return false;
  const char next = text[n];
  if (next != 0 && !isspace((unsigned char)next)) return false;
  if (arguments) {
    const char* a = text + n;
    while (*a && isspace((unsigned char)*a)) a++;
    *arguments = a;
  }
  return true;
}

void parse_knockout(const char* arguments, int list[KNOCKOUT_ENTRIES]) {
  const char* p = arguments ? arguments : "";
  int previous = 0;
  for (int i = 0; i < KNOCKOUT_ENTRIES; i++) {
    while (*p && isspace((unsigned char)*p)) p++;
    int value = previous;
    if (*p) {
      const char* start = p;
      while (*p && !isspace((unsigned char)*p)) p++;
      std::string token(start, p);
      char* end = nullptr;
      long v = strtol(token.c_str(), &end, 10);
      if (end && *end == 0 && end != token.c_str() && v >= INT_MIN && v <= INT_MAX) value = (int)v;
    }
    list[i] = value;
    previous = value;
  }
}

void handle_server_command(NetClient* c, const char* text) {
  const char* args = nullptr;
  if (command_word(text, "no_arcade", &args)) {
    bool was_on = c->hooks.disable_arcade && c->hooks.disable_arcade(c->hooks.context);
    if (was_on && !c->arcade_disabled) client_print(c, "Arcade physics disabled\n");
    c->arcade_disabled = true;
  } else if (command_word(text, "off_course_bias", &args)) {
    double v;
    if (sscanf(args, "%lf", &v) == 1 && std::isfinite(v)) c->off_course_bias = v;
  } else if (command_word(text, "off_course_scale", &args)) {
    double v;
    if (sscanf(args, "%lf", &v) == 1 && std::isfinite(v)) c->off_course_scale = v;
  } else if (command_word(text, "knockout", &args)) {
    parse_knockout(args, c->knockout);
  } else if (command_word(text, "sendready", &args)) {
    if (c->upload.file) c->upload.ready = true;
  } else if (command_word(text, "senddenied", &args)) {
    client_print(c, "Send file denied\n");
    stop_upload(c);
  }
}

// --- file upload -------------------------------------------------------------------------

void stop_upload(NetClient* c) {
  if (c->upload.file) data_close(c->upload.file);
  c->upload = FileUpload();
}

void start_upload(NetClient* c, const char* name) {
  while (*name && isspace((unsigned char)*name)) name++;
  std::string n = name;
  while (!n.empty() && isspace((unsigned char)n.back())) n.pop_back();
  if (n.empty()) {
    client_print(c, "Usage: sendfile <filename>\n");
    return;
  }
  bool only_dots = true;
  for (char ch : n) {
    if (!isalnum((unsigned char)ch) && ch != '_' && ch != '.') {
      client_print(c, "Filename may only contain alphanumeric characters, '_' or '.'\n");
      return;
    }
    if (ch != '.') only_dots = false;
  }
  // "." and ".." name folders, never a file to send.
  if (only_dots) {
    client_print(c, "Filename may only contain alphanumeric characters, '_' or '.'\n");
    return;
  }
  const std::string path = "@outgoing/" + n;
  const std::string name_command = "namefile " + n;
  // The closing message must carry the whole name, or the server would
  // store the file under a cut one.
  if (path.size() > 1023 || (int)name_command.size() > MAX_RELIABLE_PAYLOAD) {
    client_print(c, "Filename too long\n");
    return;
  }
  if (c->upload.file) {
    client_print(c, "Stopping previous transfer\n");
    stop_upload(c);
  }
  DataStream* file = data_open(path.c_str(), "rb");
  if (!file) {
    client_print(c, "Can't open file\n");
    return;
  }
  if (!net_connected(*c)) {
    data_close(file);
    client_print(c, "Not connected to server\n");
    return;
  }
  c->upload.file = file;
  c->upload.name_command = name_command;
  c->upload.ready = false;
  c->upload.last_part = 0.0;
  queue_reliable(c, RELIABLE_COMMAND, "sendfile", 8);
  client_print(c, "Sending file\n");
}
