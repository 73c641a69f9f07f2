// The connection: connecting, the service step, the handshake repeats,
// sending through the fake link, and the resets.
#include <sys/time.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "core/datafile.h"
#include "core/message.h"
#include "net/client_internal.h"

namespace {

// Deterministic per-client loss decisions (a plain LCG is plenty here).
int next_percent(FakeLink* link) {
  link->random = link->random * 1103515245u + 12345u;
  return (int)((link->random >> 16) % 100u);
}

bool fake_active(const FakeLink& link) { return link.lag > 0.0 || link.loss > 0; }

// Holds or drops one datagram; true when it was taken by the link.
bool fake_take(FakeLink* link, double now, const SocketAddress& address, const uint8_t* bytes, int length) {
  if (!fake_active(*link)) return false;
  if (link->loss > 0 && next_percent(link) < link->loss) return true;
  FakeDatagram& d = link->held.emplace_back();
  d.due = now + link->lag;
  d.address = address;
  d.length = length;
  memcpy(d.bytes, bytes, (size_t)length);
  return true;
}

void raw_send(NetClient* c, const uint8_t* bytes, int length, const SocketAddress& to) {
  if (c->socket < 0) return;
  if (send_datagram(c->socket, bytes, length, to) < 0) {
    c->send_failures++;  // a full send buffer drops the datagram without a name
    if (const char* name = socket_error()) client_print(c, "sendto error (%.100s)\n", name);
    return;
  }
  c->datagrams_sent++;
  c->bytes_sent += length;
}

void flush_fake_sends(NetClient* c) {
  while (!c->fake_send.held.empty() && c->fake_send.held.front().due <= c->now) {
    FakeDatagram d = c->fake_send.held.front();
    c->fake_send.held.pop_front();
    raw_send(c, d.bytes, d.length, d.address);
  }
}

long current_microseconds() {
  timeval tv;
  gettimeofday(&tv, nullptr);
  return (long)tv.tv_usec;
}

void send_contact(NetClient* c) {
  ClientMessage m = client_message(CL_CONTACT, 0, 0);
  m.password = !c->password.empty();
  m.protocol = CLIENT_PROTOCOL;
  m.nonce = c->nonce;
  client_send_message(c, m);
}

void send_client_info(NetClient* c) {
  client_print(c, "Sending client info\n");
  const std::string text = client_info_text(c->own_info, CLIENT_INFO_TEXT_MAX);
  ClientMessage m = client_message(CL_CLIENT_INFO, (uint32_t)c->client_slot, c->key);
  m.proof = password_proof(c->password, c->key);
  m.nonce = c->nonce;
  m.payload = reinterpret_cast<const uint8_t*>(text.data());
  m.payload_length = (int)text.size();
  client_send_message(c, m);
  c->client_info_changed = false;
}

void send_race_message(NetClient* c, uint8_t type, uint32_t value) {
  ClientMessage m = client_message(type, (uint32_t)c->client_slot, c->key);
  m.race_id = c->race_id;
  if (type == CL_BIKE_ACK) m.value = value;
  client_send_message(c, m);
}

void send_disconnect(NetClient* c) {
  client_send_message(c, client_message(CL_DISCONNECT, (uint32_t)c->client_slot, c->key));
}

// Step 6 outside state 11: the state's message, at most once a second.
void send_handshake(NetClient* c) {
  if (c->now - c->last_handshake < HANDSHAKE_REPEAT_SECONDS) return;
  c->last_handshake = c->now;
  switch (c->state) {
    case NET_CONTACTING: send_contact(c); break;
    case NET_LOGGING_IN: send_client_info(c); break;
    case NET_TRACK_ACKNOWLEDGED:
      client_print(c, "Sending track acknowledgment\n");
      send_race_message(c, CL_TRACK_ACK, 0);
      break;
    case NET_BIKE_ACKNOWLEDGED:
      client_print(c, "Sending bike acknowledgment %d\n", c->last_bike_acknowledged);
      send_race_message(c, CL_BIKE_ACK, (uint32_t)c->last_bike_acknowledged);
      break;
    case NET_WAITING: send_race_message(c, CL_WAITING, 0); break;
    case NET_RESTARTING:
      client_print(c, "Sending restart\n");
      send_race_message(c, CL_RESTART_ACK, 0);
      break;
    case NET_LEAVING:
      client_print(c, "Disconnecting\n");
      send_disconnect(c);
      break;
    default: break;
  }
}

bool riding(NetClient* c) { return c->riding_slot != NO_BIKE && c->client_slot != NO_BIKE; }

// Step 6 in state 11.
void racing_step(NetClient* c) {
  const int tick = client_tick(c);
  if (riding(c) && c->hooks.own_timing) {
    int count = 0, newest = -1;
    if (c->hooks.own_timing(c->hooks.context, c->riding_slot, &count, &newest) && count > 0 &&
        count != c->last_lap_report) {
      uint8_t payload[12];
      write_u32(payload, c->race_id);
      write_u32(payload + 4, (uint32_t)(count - 1));
      write_u32(payload + 8, (uint32_t)newest);
      if (queue_reliable(c, RELIABLE_TIMING, payload, sizeof payload)) c->last_lap_report = count;
    }
  }
  if (riding(c) && tick % STATE_SEND_INTERVAL == 0 && c->hooks.own_state) {
    ClientMessage m = client_message(CL_STATE, (uint32_t)c->client_slot, c->key);
    if (c->hooks.own_state(c->hooks.context, c->riding_slot, &m.record)) {
      m.race_id = c->race_id;
      m.server_tick = (uint32_t)c->latest_server_tick;
      m.tick = (uint32_t)tick;
      client_send_message(c, m);
    }
  }
  if (c->client_info_changed && !(c->hooks.chooser_open && c->hooks.chooser_open(c->hooks.context))) {
    const std::string text = client_info_text(c->own_info, MAX_RELIABLE_PAYLOAD);
    if (queue_reliable(c, RELIABLE_CLIENT_INFO, text.data(), (int)text.size())) c->client_info_changed = false;
  }
}

void open_pending(NetClient* c) {
  const std::string address = c->pending_address;
  c->pending_address.clear();
  if (!c->fixed_files_match) {
    client_print(c, "Fixed file mismatch\n");
    return;
  }
  if (!resolve_address(address.c_str(), DEFAULT_SERVER_PORT, &c->server_address)) {
    client_print(c, "Can't resolve address\n");
    return;
  }
  c->socket = open_socket();
  if (c->socket < 0) {
    client_print(c, "Can't create socket\n");
    return;
  }
  c->state = NET_CONTACTING;
  c->nonce = make_nonce(current_microseconds());
  send_contact(c);
  c->last_handshake = c->now;
  client_print(c, "Contacting server\n");
}

}  // namespace

// --- shared with the message handlers ------------------------------------------------

void client_print(NetClient* c, const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (c->hooks.print)
    c->hooks.print(c->hooks.context, text);
  else
    show_message("%s", text);
}

void client_send(NetClient* c, const uint8_t* bytes, int length) {
  if (c->socket < 0 || length <= 0) return;
  if (fake_take(&c->fake_send, c->now, c->server_address, bytes, length)) return;
  raw_send(c, bytes, length, c->server_address);
}

void client_send_message(NetClient* c, const ClientMessage& m) {
  uint8_t bytes[MAX_DATAGRAM];
  int length = encode_client_message(m, bytes, sizeof bytes);
  if (length > 0) client_send(c, bytes, length);
}

void enter_state(NetClient* c, int state) {
  c->state = state;
  c->last_handshake = -1e9;
}

int client_tick(NetClient* c) { return c->hooks.current_tick ? c->hooks.current_tick(c->hooks.context) : 0; }

// --- the interface ---------------------------------------------------------------------

void init_net_client(NetClient* c) {
  NetClientHooks hooks = c->hooks;
  std::string password = c->password;
  DemoRider own = c->own_info;
  bool fixed = c->fixed_files_match;
  if (c->upload.file) data_close(c->upload.file);
  if (c->socket >= 0) close_socket(c->socket);
  *c = NetClient();
  c->hooks = hooks;
  c->password = password;
  c->own_info = own;
  c->fixed_files_match = fixed;
  for (int& stamp : c->last_stamp) stamp = -1;
}

void set_fake_link(NetClient* c, double lag, int loss, uint32_t seed) {
  if (!(lag >= 0.0)) lag = 0.0;  // NaN too
  if (lag > 1.0) lag = 1.0;
  if (loss < 0) loss = 0;
  if (loss > 100) loss = 100;
  c->fake_send.lag = c->fake_receive.lag = lag;
  c->fake_send.loss = c->fake_receive.loss = loss;
  c->fake_send.random = seed * 2654435761u + 1u;
  c->fake_receive.random = seed * 2246822519u + 7u;
}

void reset_connection(NetClient* c) {
  if (c->socket >= 0) close_socket(c->socket);
  c->socket = -1;
  c->client_slot = NO_BIKE;
  c->riding_slot = NO_BIKE;
  c->last_bike_acknowledged = NO_BIKE;
  c->key = 0;
  c->nonce = 0;
  c->state = NET_CONTACTING;
  c->race_id = 0;
  c->latest_server_tick = c->heard_server_tick = 0;
  c->race_time = c->laps = c->gate_drop_tick = 0;
  memset(c->server_digest, 0, sizeof c->server_digest);
  c->last_lap_report = 0;
  c->arcade_disabled = false;
  c->off_course_bias = DEFAULT_OFF_COURSE_BIAS;
  c->off_course_scale = DEFAULT_OFF_COURSE_SCALE;
  memset(c->knockout, 0, sizeof c->knockout);
  c->server_value = 0;
  c->ping = 0;
  clear_reliable_out(&c->outgoing);
  clear_reliable_in(&c->incoming);
  c->fake_send.held.clear();
  c->fake_receive.held.clear();
  stop_upload(c);
  c->last_handshake = -1e9;
}

void net_connect(NetClient* c, const char* address) {
  if (c->socket >= 0) reset_connection(c);
  c->pending_address = address ? address : "";
  if (c->pending_address.size() > REDIRECT_ADDRESS_MAX) c->pending_address.resize(REDIRECT_ADDRESS_MAX);
}

void net_disconnect(NetClient* c) {
  c->pending_address.clear();
  if (c->socket < 0) return;
  if (c->client_slot == NO_BIKE) {
    reset_connection(c);
    return;
  }
  enter_state(c, NET_LEAVING);
}

void net_shutdown(NetClient* c) {
  c->pending_address.clear();
  if (c->socket >= 0 && c->client_slot != NO_BIKE) {
    // Straight out, past any fake lag: the program is ending.
    uint8_t bytes[16];
    int length = encode_client_message(client_message(CL_DISCONNECT, (uint32_t)c->client_slot, c->key), bytes,
                                       sizeof bytes);
    raw_send(c, bytes, length, c->server_address);
  }
  reset_connection(c);
}

bool net_connected(const NetClient& c) { return c.socket >= 0 && c.client_slot != NO_BIKE; }

bool server_race_running(const NetClient& c) {
  return net_connected(c) && (c.state == NET_WAITING || c.state == NET_RACING) && (c.laps > 0 || c.race_time > 0);
}

void request_restart(NetClient* c) {
  if (c->socket < 0 || c->state != NET_RACING) return;
  ClientMessage m = client_message(CL_RESTART_REQUEST, (uint32_t)c->client_slot, c->key);
  m.value = 1;
  client_send_message(c, m);
}

bool queue_reliable(NetClient* c, uint8_t subtype, const void* payload, int length) {
  if (c->socket < 0 || c->client_slot == NO_BIKE || length < 0 || length > MAX_RELIABLE_PAYLOAD) return false;
  ClientMessage m = client_message(CL_RELIABLE, (uint32_t)c->client_slot, c->key);
  m.subtype = subtype;
  m.payload = static_cast<const uint8_t*>(payload);
  m.payload_length = length;
  if (c->outgoing.queue.size() >= CLIENT_RELIABLE_LIMIT) return false;
  m.value = take_sequence(&c->outgoing);
  uint8_t bytes[MAX_RELIABLE_DATAGRAM];
  int size = encode_client_message(m, bytes, sizeof bytes);
  return size > 0 && push_reliable(&c->outgoing, m.value, bytes, size, CLIENT_RELIABLE_LIMIT);
}

void net_service(NetClient* c, double now) {
  c->now = now;
  // 1. A pending address with no socket open.
  if (!c->pending_address.empty() && c->socket < 0) open_pending(c);
  if (c->socket < 0) return;

  // 2. The server's clock runs on: by the real time since the newest tick
  // was heard, so it tracks the server's own clock however fast our race
  // steps run.
  if (c->latest_server_tick > 0) {
    const double since = now - c->heard_server_time;
    const int estimate = c->heard_server_tick + (since > 0 ? (int)(since * TICKS_PER_SECOND) : 0);
    if (estimate > c->latest_server_tick) c->latest_server_tick = estimate;
  }

  // 3. Every waiting datagram from the server (others are not ours).
  uint8_t buffer[MAX_DATAGRAM];
  SocketAddress from;
  int length;
  while (c->socket >= 0 && (length = receive_datagram(c->socket, buffer, sizeof buffer, &from)) >= 0) {
    if (!same_address(from, c->server_address)) continue;
    c->datagrams_received++;
    c->bytes_received += length;
    if (fake_take(&c->fake_receive, now, from, buffer, length)) continue;
    handle_server_datagram(c, buffer, length);
  }
  while (c->socket >= 0 && !c->fake_receive.held.empty() && c->fake_receive.held.front().due <= now) {
    FakeDatagram d = c->fake_receive.held.front();
    c->fake_receive.held.pop_front();
    handle_server_datagram(c, d.bytes, d.length);
  }
  if (c->socket < 0) {
    // A redirect reset the connection; the new address opens at once.
    if (!c->pending_address.empty()) open_pending(c);
    return;
  }

  // 4. The file upload's next part.
  if (c->upload.file && c->upload.ready && now - c->upload.last_part >= UPLOAD_PART_SECONDS &&
      c->outgoing.queue.size() < 8) {
    uint8_t part[10 + UPLOAD_PART_BYTES];
    memcpy(part, "sendpart -", 10);
    size_t got = data_read(c->upload.file, part + 10, UPLOAD_PART_BYTES);
    c->upload.last_part = now;
    if (got > 0) queue_reliable(c, RELIABLE_COMMAND, part, (int)(10 + got));
    if (got < (size_t)UPLOAD_PART_BYTES) {
      const std::string last = c->upload.name_command;
      stop_upload(c);
      queue_reliable(c, RELIABLE_COMMAND, last.data(), (int)last.size());
    }
  }

  // 5. The head of the reliable queue, every half second until acknowledged.
  if (const OutgoingReliable* head = due_reliable(c->outgoing, now)) {
    client_send(c, head->bytes, head->length);
    mark_reliable_sent(&c->outgoing, now);
  }

  // 6. The state's own traffic.
  if (c->state == NET_RACING)
    racing_step(c);
  else
    send_handshake(c);

  flush_fake_sends(c);
}
