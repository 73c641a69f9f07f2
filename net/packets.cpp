#include "net/packets.h"

#include <nettle/ripemd160.h>

#include <cstring>

namespace {

// Layout sizes, by type; the types that end in text or payload give their
// fixed part.
int client_length(uint8_t type) {
  switch (type) {
    case CL_CONTACT: return 21;
    case CL_CLIENT_INFO: return 41;
    case CL_TRACK_ACK: return 13;
    case CL_BIKE_ACK: return 17;
    case CL_WAITING: return 13;
    case CL_STATE: return 21 + STATE_RECORD_BYTES;
    case CL_RESTART_REQUEST: return 13;
    case CL_RESTART_ACK: return 13;
    case CL_DISCONNECT: return 9;
    case CL_RELIABLE: return 14;
    case CL_ACK: return 13;
    default: return -1;
  }
}

bool client_has_tail(uint8_t type) { return type == CL_CLIENT_INFO || type == CL_RELIABLE; }

int server_length(uint8_t type) {
  switch (type) {
    case SV_FULL: return 1;
    case SV_ACCEPT: return 13;
    case SV_TRACK: return 17 + TRACK_DIGEST_BYTES;
    case SV_BIKE: return 9;
    case SV_RACE_READY: return 9;
    case SV_TIME: return 13;
    case SV_STATES: return STATES_HEADER_BYTES;
    case SV_VALUE: return 5;
    case SV_RESTART: return 5;
    case SV_DISCONNECTED: return 1;
    case SV_ERROR: return 1;
    case SV_RELIABLE: return 6;
    case SV_ACK: return 5;
    case SV_REDIRECT: return 5;
    default: return -1;
  }
}

bool server_has_tail(uint8_t type) {
  return type == SV_TRACK || type == SV_BIKE || type == SV_RACE_READY || type == SV_STATES || type == SV_ERROR ||
         type == SV_RELIABLE || type == SV_REDIRECT;
}

}  // namespace

int client_message_min_length(uint8_t type) { return client_length(type); }
int server_message_min_length(uint8_t type) { return server_length(type); }

ClientMessage client_message(uint8_t type, uint32_t slot, uint32_t key) {
  ClientMessage m;
  memset(&m, 0, sizeof m);
  m.type = type;
  m.slot = slot;
  m.key = key;
  return m;
}

ServerMessage server_message(uint8_t type) {
  ServerMessage m;
  memset(&m, 0, sizeof m);
  m.type = type;
  return m;
}

bool decode_client_message(const uint8_t* p, int length, ClientMessage* m) {
  if (!p || length < 1) return false;
  const uint8_t type = p[0];
  const int fixed = client_length(type);
  if (fixed < 0) return false;
  if (client_has_tail(type) ? (length < fixed || length > MAX_RELIABLE_DATAGRAM) : length != fixed) return false;
  *m = client_message(type, 0, 0);
  if (type == CL_CONTACT) {
    m->password = p[1] != 0;
    m->protocol = read_u32(p + 9);
    m->nonce = read_u32(p + 13);
    return true;
  }
  m->slot = read_u32(p + 1);
  m->key = read_u32(p + 5);
  switch (type) {
    case CL_CLIENT_INFO:
      m->proof = read_u32(p + 9);
      m->nonce = read_u32(p + 17);
      m->payload = p + 41;
      m->payload_length = length - 41;
      break;
    case CL_TRACK_ACK:
    case CL_WAITING:
    case CL_RESTART_ACK: m->race_id = read_u32(p + 9); break;
    case CL_BIKE_ACK:
      m->race_id = read_u32(p + 9);
      m->value = read_u32(p + 13);
      break;
    case CL_STATE:
      m->race_id = read_u32(p + 9);
      m->server_tick = read_u32(p + 13);
      m->tick = read_u32(p + 17);
      memcpy(m->record.bytes, p + 21, STATE_RECORD_BYTES);
      break;
    case CL_RESTART_REQUEST:
    case CL_ACK: m->value = read_u32(p + 9); break;
    case CL_RELIABLE:
      m->value = read_u32(p + 9);
      m->subtype = p[13];
      m->payload = p + 14;
      m->payload_length = length - 14;
      break;
    default: break;  // CL_DISCONNECT: slot and key only
  }
  return true;
}

int encode_client_message(const ClientMessage& m, uint8_t* p, int capacity) {
  const int fixed = client_length(m.type);
  if (fixed < 0) return -1;
  const int tail = client_has_tail(m.type) ? m.payload_length : 0;
  const int length = fixed + tail;
  if (tail < 0 || length > capacity || (tail > 0 && !m.payload)) return -1;
  if (client_has_tail(m.type) && length > MAX_RELIABLE_DATAGRAM) return -1;
  memset(p, 0, (size_t)fixed);
  p[0] = m.type;
  if (m.type == CL_CONTACT) {
    p[1] = m.password ? 1 : 0;
    write_u32(p + 9, m.protocol);
    write_u32(p + 13, m.nonce);
    return length;
  }
  write_u32(p + 1, m.slot);
  write_u32(p + 5, m.key);
  switch (m.type) {
    case CL_CLIENT_INFO:
      write_u32(p + 9, m.proof);
      write_u32(p + 17, m.nonce);
      break;
    case CL_TRACK_ACK:
    case CL_WAITING:
    case CL_RESTART_ACK: write_u32(p + 9, m.race_id); break;
    case CL_BIKE_ACK:
      write_u32(p + 9, m.race_id);
      write_u32(p + 13, m.value);
      break;
    case CL_STATE:
      write_u32(p + 9, m.race_id);
      write_u32(p + 13, m.server_tick);
      write_u32(p + 17, m.tick);
      memcpy(p + 21, m.record.bytes, STATE_RECORD_BYTES);
      break;
    case CL_RESTART_REQUEST:
    case CL_ACK: write_u32(p + 9, m.value); break;
    case CL_RELIABLE:
      write_u32(p + 9, m.value);
      p[13] = m.subtype;
      break;
    default: break;
  }
  if (tail > 0) memcpy(p + fixed, m.payload, (size_t)tail);
  return length;
}

bool decode_server_message(const uint8_t* p, int length, ServerMessage* m) {
  if (!p || length < 1) return false;
  const uint8_t type = p[0];
  const int fixed = server_length(type);
  if (fixed < 0 || length < fixed) return false;
  *m = server_message(type);
  switch (type) {
    case SV_ACCEPT:
      m->slot = read_u32(p + 1);
      m->key = read_u32(p + 5);
      m->version = read_u32(p + 9);
      break;
    case SV_TRACK:
      m->race_id = read_u32(p + 1);
      m->race_time = read_u32(p + 5);
      m->laps = read_u32(p + 9);
      m->gate_drop_tick = read_u32(p + 13);
      memcpy(m->digest, p + 17, TRACK_DIGEST_BYTES);
      break;
    case SV_BIKE:
    case SV_RACE_READY:
      m->race_id = read_u32(p + 1);
      m->bike_slot = read_u32(p + 5);
      break;
    case SV_TIME:
    case SV_STATES:
      m->race_id = read_u32(p + 1);
      m->server_tick = read_u32(p + 5);
      m->echo = read_u32(p + 9);
      if (type == SV_STATES) m->count = read_u32(p + 13);
      break;
    case SV_VALUE: m->value = read_u32(p + 1); break;
    case SV_RESTART: m->race_id = read_u32(p + 1); break;
    case SV_RELIABLE:
      m->sequence = read_u32(p + 1);
      m->subtype = p[5];
      break;
    case SV_ACK: m->sequence = read_u32(p + 1); break;
    case SV_REDIRECT: m->nonce = read_u32(p + 1); break;
    default: break;  // full, disconnected, error: type only
  }
  if (server_has_tail(type)) {
    m->text = p + fixed;
    m->text_length = length - fixed;
  }
  return true;
}

int encode_server_message(const ServerMessage& m, uint8_t* p, int capacity) {
  const int fixed = server_length(m.type);
  if (fixed < 0) return -1;
  const int tail = server_has_tail(m.type) ? m.text_length : 0;
  const int length = fixed + tail;
  if (tail < 0 || length > capacity || length > MAX_DATAGRAM || (tail > 0 && !m.text)) return -1;
  memset(p, 0, (size_t)fixed);
  p[0] = m.type;
  switch (m.type) {
    case SV_ACCEPT:
      write_u32(p + 1, m.slot);
      write_u32(p + 5, m.key);
      write_u32(p + 9, m.version);
      break;
    case SV_TRACK:
      write_u32(p + 1, m.race_id);
      write_u32(p + 5, m.race_time);
      write_u32(p + 9, m.laps);
      write_u32(p + 13, m.gate_drop_tick);
      memcpy(p + 17, m.digest, TRACK_DIGEST_BYTES);
      break;
    case SV_BIKE:
    case SV_RACE_READY:
      write_u32(p + 1, m.race_id);
      write_u32(p + 5, m.bike_slot);
      break;
    case SV_TIME:
    case SV_STATES:
      write_u32(p + 1, m.race_id);
      write_u32(p + 5, m.server_tick);
      write_u32(p + 9, m.echo);
      if (m.type == SV_STATES) write_u32(p + 13, m.count);
      break;
    case SV_VALUE: write_u32(p + 1, m.value); break;
    case SV_RESTART: write_u32(p + 1, m.race_id); break;
    case SV_RELIABLE:
      write_u32(p + 1, m.sequence);
      p[5] = m.subtype;
      break;
    case SV_ACK: write_u32(p + 1, m.sequence); break;
    case SV_REDIRECT: write_u32(p + 1, m.nonce); break;
    default: break;
  }
  if (tail > 0) memmove(p + fixed, m.text, (size_t)tail);
  return length;
}

bool state_entry(const ServerMessage& states, int index, StateEntry* out) {
  if (states.type != SV_STATES || index < 0 || !states.text) return false;
  const long start = (long)index * STATE_ENTRY_BYTES;
  if (start + STATE_ENTRY_BYTES > states.text_length) return false;
  const uint8_t* p = states.text + start;
  out->slot = read_u16(p);
  out->ping = read_u16(p + 2);
  out->stamp = read_u32(p + 4);
  memcpy(out->record.bytes, p + 8, STATE_RECORD_BYTES);
  return true;
}

void write_state_entry(const StateEntry& e, uint8_t* p) {
  write_u16(p, e.slot);
  write_u16(p + 2, e.ping);
  write_u32(p + 4, e.stamp);
  memcpy(p + 8, e.record.bytes, STATE_RECORD_BYTES);
}

// --- client info text -----------------------------------------------------------------

std::string client_info_text(const DemoRider& r, int max_length) {
  std::string text = r.model + "|" + r.rider_skin + "|" + r.bike_skin + "|" + r.wheel_skin + "|" + r.helmet_skin +
                     "\n" + r.number + "\n" + r.name;
  if ((int)text.size() <= max_length) return text;
  text = r.model + "\n" + r.number + "\n" + r.name;
  if (max_length < 0) max_length = 0;
  if ((int)text.size() > max_length) text.resize((size_t)max_length);
  return text;
}

void parse_client_info_text(const uint8_t* text, int length, DemoRider* rider) {
  int i = 0;
  // Reads up to one of the stop characters (or a control character, which
  // never belongs in a name), keeping at most `keep` characters.
  auto field = [&](bool stop_at_bar, int keep) {
    std::string value;
    while (i < length && text[i] != '\n' && !(stop_at_bar && text[i] == '|')) {
      if (text[i] < 32 || text[i] == 127) {
        // The rest of the field is dropped, the line's structure kept.
        while (i < length && text[i] != '\n' && !(stop_at_bar && text[i] == '|')) i++;
        break;
      }
      if ((int)value.size() < keep) value += (char)text[i];
      i++;
    }
    return value;
  };
  std::string* targets[5] = {&rider->model, &rider->rider_skin, &rider->bike_skin, &rider->wheel_skin,
                             &rider->helmet_skin};
  for (std::string* t : targets) t->clear();
  for (int f = 0; f < 5; f++) {
    *targets[f] = field(true, CLIENT_INFO_FIELD_MAX);
    if (i < length && text[i] == '|') {
      i++;
      continue;
    }
    break;  // the line (or the text) ended: the remaining fields stay unset
  }
  // Anything past a fifth "|" belongs to nothing.
  while (i < length && text[i] != '\n') i++;
  if (i < length) i++;
  rider->number = field(false, DEMO_NUMBER_CHARS);
  while (i < length && text[i] != '\n') i++;
  if (i < length) i++;
  rider->name = field(false, CLIENT_INFO_FIELD_MAX);
}

std::string robot_bike_text(const DemoRider& rider, int robot_number, int max_length) {
  const std::string line = "\nrobot " + std::to_string(robot_number);
  // The robot line is never cut: the rider's text gives way to it and to
  // the line feeds a text cut short of its third line gets back, so the
  // robot line starts after the name's.
  std::string text = client_info_text(rider, max_length - (int)line.size() - 2);
  int feeds = 0;
  for (char ch : text) feeds += ch == '\n';
  for (; feeds < 2; feeds++) text += '\n';
  return text + line;
}

int robot_number_of_text(const uint8_t* text, int length) {
  int i = 0, feeds = 0;
  for (; i < length && feeds < 3; i++) feeds += text[i] == '\n';
  if (feeds < 3) return -1;
  static const char PREFIX[] = "robot ";
  const int prefix = (int)sizeof PREFIX - 1;
  if (length - i < prefix + 1 || memcmp(text + i, PREFIX, (size_t)prefix) != 0) return -1;
  long n = 0;
  for (i += prefix; i < length; i++) {
    if (text[i] < '0' || text[i] > '9') return -1;
    n = n * 10 + (text[i] - '0');
    if (n >= MAX_ROBOT_NUMBER) return -1;
  }
  return (int)n;
}

// --- password proof --------------------------------------------------------------------

uint32_t password_proof(const std::string& password, uint32_t key) {
  if (password.empty()) return 0;
  ripemd160_ctx ctx;
  ripemd160_init(&ctx);
  ripemd160_update(&ctx, password.size(), reinterpret_cast<const uint8_t*>(password.data()));
  uint8_t k[4];
  write_u32(k, key);
  ripemd160_update(&ctx, 4, k);
  uint8_t digest[RIPEMD160_DIGEST_SIZE];
  ripemd160_digest(&ctx, RIPEMD160_DIGEST_SIZE, digest);
  // On the wire: byte 3 first, byte 0 last.
  return (uint32_t)digest[3] | (uint32_t)digest[2] << 8 | (uint32_t)digest[1] << 16 | (uint32_t)digest[0] << 24;
}

uint32_t make_nonce(long microseconds) { return (uint32_t)microseconds * 1103515245u + 12345u; }
