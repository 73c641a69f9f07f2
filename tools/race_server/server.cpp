// Connections: the socket, the checks every datagram passes, the handshake
// from contact to racing, reliable messages, timeouts and the tick loop.
#include "tools/race_server/server.h"

#include <cmath>
#include <cstdarg>
#include <cstring>

#include "bike/bike_model.h"
#include "core/datafile.h"
#include "core/discovery.h"

namespace {

uint32_t next_random(RaceServer* s) {
  // xorshift32: keys only need to be unguessable by a peer that cannot see
  // the traffic, and the seed mixes in the clock.
  uint32_t x = s->random;
  x ^= x << 13;
  x ^= x >> 17;
  x ^= x << 5;
  s->random = x;
  return x;
}

bool banned(const RaceServer& s, const SocketAddress& from) {
  std::string host = format_address(from);
  host.resize(host.rfind(':'));
  for (const std::string& b : s.config.bans)
    if (b == host) return true;
  return false;
}

void send_error_to(RaceServer* s, const SocketAddress& to, const char* text) {
  ServerMessage m = server_message(SV_ERROR);
  m.text = reinterpret_cast<const uint8_t*>(text);
  m.text_length = (int)strlen(text);
  uint8_t bytes[MAX_DATAGRAM];
  int n = encode_server_message(m, bytes, sizeof bytes);
  if (n > 0) server_send_to(s, to, bytes, n);
}

void send_type_only(RaceServer* s, const SocketAddress& to, uint8_t type) {
  uint8_t byte = type;
  server_send_to(s, to, &byte, 1);
}

void reset_client(ServerClient* c) {
  close_upload(c, false);
  *c = ServerClient();
}

void send_accept(RaceServer* s, ServerClient* c) {
  ServerMessage m = server_message(SV_ACCEPT);
  m.slot = (uint32_t)client_index(*s, c);
  m.key = c->key;
  m.version = SERVER_PROTOCOL_VERSION;
  server_send_message(s, c, m);
}

void take_contact(RaceServer* s, const SocketAddress& from, const ClientMessage& m) {
  if (m.protocol != CLIENT_PROTOCOL) {
    char text[96];
    snprintf(text, sizeof text, "This server needs client protocol %u (the client has %u)\n", CLIENT_PROTOCOL,
             m.protocol);
    send_error_to(s, from, text);
    return;
  }
  for (ServerClient& c : s->clients) {
    if (c.state == CLIENT_FREE || c.robot || !same_address(c.address, from)) continue;
    if (c.nonce == m.nonce) {
      // Our accept was lost: the same again.
      c.last_heard = s->now;
      send_accept(s, &c);
      return;
    }
    // The same address with a new nonce is a restarted client: the old
    // connection is dead.
    drop_client(s, client_index(*s, &c), "reconnected");
  }
  if (!s->config.password.empty() && !m.password) {
    send_error_to(s, from, "This server needs a password\n");
    return;
  }
  ServerClient* slot = nullptr;
  for (ServerClient& c : s->clients)
    if (c.state == CLIENT_FREE) {
      slot = &c;
      break;
    }
  if (!slot) {
    send_type_only(s, from, SV_FULL);
    return;
  }
  reset_client(slot);
  slot->state = CLIENT_CONTACTED;
  slot->address = from;
  do slot->key = next_random(s);
  while (slot->key == 0);
  slot->nonce = m.nonce;
  slot->joined_at = slot->last_heard = s->now;
  send_accept(s, slot);
}

void take_client_info(RaceServer* s, ServerClient* c, const ClientMessage& m) {
  if (m.nonce != c->nonce) return;
  if (!s->config.password.empty() && m.proof != password_proof(s->config.password, c->key)) {
    server_log(s, "Wrong password from %s\n", format_address(c->address).c_str());
    send_error_to(s, c->address, "Wrong password\n");
    reset_client(c);
    return;
  }
  if (c->state == CLIENT_CONTACTED) {
    parse_client_info_text(m.payload, m.payload_length, &c->info);
    if (c->info.name.empty()) c->info.name = "Rider " + std::to_string(client_index(*s, c));
    c->state = CLIENT_JOINED;
    server_log(s, "%s joined in slot %d from %s\n", c->info.name.c_str(), client_index(*s, c),
               format_address(c->address).c_str());
    server_say(s, -1, "%s joined", c->info.name.c_str());
    if (!s->config.motd.empty()) server_say(s, client_index(*s, c), "%s", s->config.motd.c_str());
    if (s->config.no_arcade) server_queue_reliable(s, c, RELIABLE_COMMAND, "no_arcade", 9);
    join_current_race(s, c);
  }
  send_track(s, c);
}

void send_restart(RaceServer* s, ServerClient* c) {
  if (s->now - c->last_restart_sent < 0.5) return;
  c->last_restart_sent = s->now;
  ServerMessage m = server_message(SV_RESTART);
  m.race_id = s->race_id;
  server_send_message(s, c, m);
}

void send_time(RaceServer* s, ServerClient* c) {
  ServerMessage m = server_message(SV_TIME);
  m.race_id = s->race_id;
  m.server_tick = (uint32_t)s->server_tick;
  m.echo = c->echo;
  server_send_message(s, c, m);
}

struct ReliableContext {
  RaceServer* server;
  ServerClient* client;
};

void handle_reliable(void* context, uint8_t subtype, const uint8_t* payload, int length) {
  ReliableContext* r = static_cast<ReliableContext*>(context);
  ServerClient* c = r->client;
  if (c->state != CLIENT_JOINED) return;
  switch (subtype) {
    case RELIABLE_CLIENT_INFO:
      parse_client_info_text(payload, length, &c->info);
      if (c->info.name.empty()) c->info.name = "Rider " + std::to_string(client_index(*r->server, c));
      c->info_changed = true;
      break;
    case RELIABLE_TEXT: take_chat(r->server, c, payload, length); break;
    case RELIABLE_TIMING: take_lap_report(r->server, c, payload, length); break;
    case RELIABLE_COMMAND: take_command(r->server, c, payload, length); break;
    default: break;
  }
}

void take_message(RaceServer* s, ServerClient* c, const ClientMessage& m) {
  const bool joined = c->state == CLIENT_JOINED;
  switch (m.type) {
    case CL_CLIENT_INFO: take_client_info(s, c, m); break;
    case CL_TRACK_ACK:
      if (joined && m.race_id == c->race_id) {
        c->last_bike_acknowledged = NO_BIKE;
        send_next_bike(s, c);
      }
      break;
    case CL_BIKE_ACK:
      if (joined && m.race_id == c->race_id && m.value < (uint32_t)MAX_BIKES) {
        c->last_bike_acknowledged = (int)m.value;
        send_next_bike(s, c);
      }
      break;
    case CL_WAITING:
      if (!joined) break;
      if (m.race_id == s->race_id && c->race_id == s->race_id) {
        if (!c->in_race) {
          c->in_race = true;
          c->timing_sent = 0;
        }
        send_time(s, c);
      } else {
        send_restart(s, c);
      }
      break;
    case CL_STATE:
      if (!joined) break;
      if (m.race_id != s->race_id || c->race_id != s->race_id || !c->in_race) {
        send_restart(s, c);
        break;
      }
      if (c->rider) take_state(s, c, m);
      break;
    case CL_RESTART_REQUEST:
      if (joined && c->in_race && c->rider && m.value == 1) {
        c->restart_vote = true;
        consider_restart_votes(s);
      }
      break;
    case CL_RESTART_ACK:
      // Answered with the track of the race the client holds; a newer race
      // follows through the waiting state.
      if (joined && m.race_id > 0 && m.race_id <= s->race_id) {
        c->race_id = m.race_id;
        c->last_bike_acknowledged = NO_BIKE;
        c->in_race = false;
        send_track(s, c);
      }
      break;
    case CL_DISCONNECT: {
      send_type_only(s, c->address, SV_DISCONNECTED);
      drop_client(s, client_index(*s, c), "left");
      break;
    }
    case CL_RELIABLE: {
      ReliableContext context = {s, c};
      ReliableArrival arrival =
          receive_reliable(&c->in, m.value, m.subtype, m.payload, m.payload_length, handle_reliable, &context);
      if (arrival != ReliableArrival::refused && c->state != CLIENT_FREE) {
        ServerMessage ack = server_message(SV_ACK);
        ack.sequence = m.value;
        server_send_message(s, c, ack);
      }
      break;
    }
    case CL_ACK: acknowledge_reliable(&c->out, m.value); break;
    default: break;
  }
}

void send_due_reliable(RaceServer* s, ServerClient* c) {
  if (const OutgoingReliable* head = due_reliable(c->out, s->now)) {
    server_send(s, c, head->bytes, head->length);
    mark_reliable_sent(&c->out, s->now);
  }
}

}  // namespace

// --- shared ---------------------------------------------------------------------------

int client_index(const RaceServer& s, const ServerClient* c) { return (int)(c - s.clients.data()); }

void server_send_to(RaceServer* s, const SocketAddress& to, const uint8_t* bytes, int length) {
  s->datagrams_out++;
  s->bytes_out += length;
  if (s->io.send) {
    s->io.send(s->io.context, to, bytes, length);
    return;
  }
  if (s->socket >= 0 && send_datagram(s->socket, bytes, length, to) < 0) s->send_failures++;
}

void server_send(RaceServer* s, ServerClient* c, const uint8_t* bytes, int length) {
  if (c->robot || c->state == CLIENT_FREE) return;
  c->bytes_out += length;
  server_send_to(s, c->address, bytes, length);
}

void server_send_message(RaceServer* s, ServerClient* c, const ServerMessage& m) {
  uint8_t bytes[MAX_DATAGRAM];
  int n = encode_server_message(m, bytes, sizeof bytes);
  if (n > 0) server_send(s, c, bytes, n);
}

bool server_queue_reliable(RaceServer* s, ServerClient* c, uint8_t subtype, const void* payload, int length) {
  if (c->robot || c->state == CLIENT_FREE || length < 0 || length > MAX_RELIABLE_PAYLOAD) return false;
  if (c->out.queue.size() >= SERVER_RELIABLE_LIMIT) {
    // It has not acknowledged anything for a long time; keeping its queue
    // would only hold memory for a connection that is gone.
    drop_client(s, client_index(*s, c), "not keeping up");
    return false;
  }
  ServerMessage m = server_message(SV_RELIABLE);
  m.sequence = take_sequence(&c->out);
  m.subtype = subtype;
  m.text = static_cast<const uint8_t*>(payload);
  m.text_length = length;
  uint8_t bytes[MAX_RELIABLE_DATAGRAM];
  int n = encode_server_message(m, bytes, sizeof bytes);
  return n > 0 && push_reliable(&c->out, m.sequence, bytes, n, SERVER_RELIABLE_LIMIT);
}

void drop_client(RaceServer* s, int slot, const char* reason) {
  if (slot < 0 || slot >= (int)s->clients.size()) return;
  ServerClient& c = s->clients[(size_t)slot];
  if (c.state == CLIENT_FREE) return;
  const bool joined = c.state == CLIENT_JOINED;
  const bool rode_warmup = c.rider && s->phase == PHASE_WARMUP;
  const std::string name = c.info.name;
  if (joined) server_log(s, "%s (slot %d) %s\n", name.c_str(), slot, reason);
  reset_client(&c);
  if (joined) server_say(s, -1, "%s %s", name.c_str(), reason);
  // Everyone's warmup should lose the bike soon; a race keeps it to the end.
  if (rode_warmup) s->roster_change = s->now + 2.0;
}

void handle_client_datagram(RaceServer* s, const SocketAddress& from, const uint8_t* bytes, int length) {
  s->datagrams_in++;
  s->bytes_in += length;
  ClientMessage m;
  if (!decode_client_message(bytes, length, &m)) {
    s->refused++;
    return;
  }
  if (banned(*s, from)) {
    if (m.type == CL_CONTACT) send_error_to(s, from, "You are banned from this server\n");
    s->refused++;
    return;
  }
  if (m.type == CL_CONTACT) {
    take_contact(s, from, m);
    return;
  }
  ServerClient* c = m.slot < s->clients.size() ? &s->clients[m.slot] : nullptr;
  if (!c || c->state == CLIENT_FREE || c->robot || !same_address(c->address, from) || c->key != m.key) {
    // A client we do not know any more keeps sending disconnects until told.
    if (m.type == CL_DISCONNECT) send_type_only(s, from, SV_DISCONNECTED);
    s->refused++;
    return;
  }
  if (++c->datagrams_this_tick > SERVER_DATAGRAMS_PER_TICK) {
    s->refused++;
    return;
  }
  c->last_heard = s->now;
  c->bytes_in += length;
  take_message(s, c, m);
}

int server_port(const RaceServer& s) { return s.socket >= 0 ? socket_port(s.socket) : -1; }

bool start_server(RaceServer* s, const ServerConfig& config, double now) {
  s->config = config;
  s->now = now;
  s->random ^= (uint32_t)(now * 1e6) * 2654435761u;
  if (s->random == 0) s->random = 1;
  if (!s->config.log_file.empty()) s->log = fopen(s->config.log_file.c_str(), "a");
  if (s->config.max_riders < 1) s->config.max_riders = 1;
  if (s->config.max_riders > SERVER_MAX_RIDERS) s->config.max_riders = SERVER_MAX_RIDERS;
  if (s->config.robots < 0) s->config.robots = 0;
  if (s->config.robots > s->config.max_riders) s->config.robots = s->config.max_riders;
  s->clients.assign((size_t)s->config.max_riders, ServerClient());

  if (!s->io.send) {
    s->socket = open_socket();
    if (s->socket < 0 || !bind_socket(s->socket, s->config.port)) {
      server_log(s, "Can't open port %d (%s)\n", s->config.port, socket_error() ? socket_error() : "?");
      close_socket(s->socket);
      s->socket = -1;
      return false;
    }
  }

  TrackList installed;
  discover_tracks(&installed, 0);
  s->track_names.clear();
  if (s->config.tracks.empty()) {
    s->track_names = installed.paths;
  } else {
    for (const std::string& t : s->config.tracks) {
      bool found = false;
      for (const std::string& p : installed.paths) found = found || p == t;
      if (found)
        s->track_names.push_back(t);
      else
        server_log(s, "Track '%s' is not installed; skipped\n", t.c_str());
    }
  }
  if (s->track_names.empty()) {
    server_log(s, "No tracks to race on\n");
    return false;
  }
  // Robots take the highest slots, so players fill the front rows.
  for (int i = 0; i < s->config.robots; i++) {
    ServerClient& c = s->clients[(size_t)(s->config.max_riders - 1 - i)];
    c.state = CLIENT_JOINED;
    c.robot = true;
    c.robot_number = i;
    c.info.model = bike_model_at(i % 4).name;
    c.info.number = std::to_string(900 + i).substr(0, 3);
    c.info.name = "Robot " + std::to_string(i + 1);
  }
  s->track_index = -1;
  begin_phase(s, PHASE_WARMUP);
  if (!s->track_loaded) return false;
  server_log(s, "Race server listening on port %d with %d slots\n", server_port(*s), s->config.max_riders);
  return true;
}

void stop_server(RaceServer* s) {
  for (size_t i = 0; i < s->clients.size(); i++) {
    ServerClient& c = s->clients[i];
    if (c.state != CLIENT_FREE && !c.robot) send_type_only(s, c.address, SV_DISCONNECTED);
    reset_client(&c);
  }
  if (s->track_loaded) deallocate_track(&s->track);
  s->track_loaded = false;
  close_socket(s->socket);
  s->socket = -1;
  server_log(s, "Race server stopped\n");
  if (s->log) fclose(s->log);
  s->log = nullptr;
}

void server_tick(RaceServer* s, double now) {
  s->now = now;
  s->server_tick = (int)std::floor((now - s->race_start) * TICKS_PER_SECOND);
  const bool new_tick = s->server_tick != s->processed_tick;
  if (new_tick)
    for (ServerClient& c : s->clients) c.datagrams_this_tick = 0;

  if (s->socket >= 0) {
    uint8_t buffer[MAX_DATAGRAM];
    SocketAddress from;
    int length;
    // Bounded, so a flood cannot hold the tick; what is left waits a tick.
    for (int i = 0; i < 8192 && (length = receive_datagram(s->socket, buffer, sizeof buffer, &from)) >= 0; i++)
      handle_client_datagram(s, from, buffer, length);
  }

  if (new_tick) {
    // A tick the loop slept through is still stepped (robots move by ticks).
    const int from = s->processed_tick < 0 || s->server_tick - s->processed_tick > 16 || s->server_tick < s->processed_tick
                         ? s->server_tick
                         : s->processed_tick + 1;
    const int current = s->server_tick;
    for (int t = from; t <= current; t++) {
      s->server_tick = t;
      s->processed_tick = t;
      const uint32_t race = s->race_id;
      run_race_cycle(s);
      if (s->race_id != race) break;  // a new race restarted the clock
    }
  }
  relay_states(s);

  for (size_t i = 0; i < s->clients.size(); i++) {
    ServerClient& c = s->clients[i];
    if (c.state == CLIENT_FREE || c.robot) continue;
    if (!new_tick) {
      send_due_reliable(s, &c);
      continue;
    }
    const double silent = now - c.last_heard;
    if ((c.state == CLIENT_CONTACTED && now - c.joined_at > s->config.join_timeout) ||
        silent > s->config.client_timeout) {
      drop_client(s, (int)i, "timed out");
      continue;
    }
    if (c.in_race && c.race_id == s->race_id) {
      // A second's clock for riders with nobody else's states to hear.
      if ((s->server_tick & 127) == (int)(i & 127)) send_time(s, &c);
      flush_timing(s, &c);
    }
    send_due_reliable(s, &c);
  }
  if (now - s->last_command_poll >= 1.0) {
    s->last_command_poll = now;
    poll_command_file(s);
  }
}

void server_log(RaceServer* s, const char* format, ...) {
  char text[1200];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  const double t = s->now;
  const int seconds = (int)t;
  char stamp[48];
  snprintf(stamp, sizeof stamp, "[%d:%02d:%02d.%02d] ", seconds / 3600 % 1000, seconds / 60 % 60, seconds % 60,
           (int)((t - seconds) * 100));
  size_t n = strlen(text);
  const char* end = n > 0 && text[n - 1] == '\n' ? "" : "\n";
  if (!s->config.quiet) printf("%s%s%s", stamp, text, end);
  if (s->log) {
    fprintf(s->log, "%s%s%s", stamp, text, end);
    fflush(s->log);
  }
}

void server_say(RaceServer* s, int slot, const char* format, ...) {
  char text[MAX_RELIABLE_PAYLOAD + 1];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  const int length = (int)strlen(text);
  for (size_t i = 0; i < s->clients.size(); i++) {
    ServerClient& c = s->clients[i];
    if (c.state != CLIENT_JOINED || c.robot || (slot >= 0 && (int)i != slot)) continue;
    server_queue_reliable(s, &c, RELIABLE_TEXT, text, length);
  }
}
