// A game behind the client's hooks and a bare server socket, for the client
// tests and the server's own tests.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "net/client.h"

struct TestGame {
  int tick = 0;
  std::vector<std::string> printed;
  std::set<std::string> tracks = {"rabbithill"};
  uint8_t digest[TRACK_DIGEST_BYTES] = {};
  bool setup_ok = true;
  int setups = 0;
  int requests[MAX_BIKES] = {};
  DemoRider riders[MAX_BIKES];
  int race_laps = -1, race_time = -1, riding_slot = -1;
  int own_count = 0, own_tick = 0;
  bool has_bike = true;
  struct Timing {
    int slot, index, tick;
  };
  std::vector<Timing> applied;
  int standings = 0;
  bool remote[MAX_BIKES] = {};
  struct State {
    int slot, tick;
  };
  std::vector<State> states;
  std::vector<std::string> console;
  bool arcade = true;
  int arcade_disables = 0;
  int history_clears = 0;

  bool printed_line(const std::string& text) const {
    for (const std::string& p : printed)
      if (p == text) return true;
    return false;
  }
  int count_printed(const std::string& text) const {
    int n = 0;
    for (const std::string& p : printed) n += p == text;
    return n;
  }

  NetClientHooks hooks() {
    NetClientHooks h = {};
    h.context = this;
    h.print = [](void* c, const char* text) { static_cast<TestGame*>(c)->printed.push_back(text); };
    h.track_installed = [](void* c, const char* name) { return static_cast<TestGame*>(c)->tracks.count(name) > 0; };
    h.setup_race = [](void* c, const OnlineRace& race, uint8_t digest[TRACK_DIGEST_BYTES]) {
      TestGame* g = static_cast<TestGame*>(c);
      g->setups++;
      memcpy(g->requests, race.requests, sizeof g->requests);
      for (int s = 0; s < MAX_BIKES; s++) {
        g->riders[s] = race.riders[s];
        g->remote[s] = remote_request(race.requests[s]);
      }
      g->race_laps = race.laps;
      g->race_time = race.race_time;
      g->riding_slot = race.riding_slot;
      g->tick = 0;
      memcpy(digest, g->digest, TRACK_DIGEST_BYTES);
      return g->setup_ok;
    };
    h.clear_histories = [](void* c) { static_cast<TestGame*>(c)->history_clears++; };
    h.current_tick = [](void* c) { return static_cast<TestGame*>(c)->tick; };
    h.set_tick = [](void* c, int tick) { static_cast<TestGame*>(c)->tick = tick; };
    h.own_state = [](void* c, int, StateRecord* out) {
      TestGame* g = static_cast<TestGame*>(c);
      memset(out->bytes, 0x5a, sizeof out->bytes);
      return g->has_bike;
    };
    h.own_timing = [](void* c, int, int* count, int* tick) {
      TestGame* g = static_cast<TestGame*>(c);
      *count = g->own_count;
      *tick = g->own_tick;
      return g->has_bike;
    };
    h.apply_timing = [](void* c, int slot, int index, int tick) {
      static_cast<TestGame*>(c)->applied.push_back({slot, index, tick});
    };
    h.update_standings = [](void* c) { static_cast<TestGame*>(c)->standings++; };
    h.remote_bike = [](void* c, int slot) { return static_cast<TestGame*>(c)->remote[slot]; };
    h.add_remote_state = [](void* c, int slot, const StateRecord&, int tick) {
      static_cast<TestGame*>(c)->states.push_back({slot, tick});
    };
    h.console_text = [](void* c, const char* text, int) { static_cast<TestGame*>(c)->console.push_back(text); };
    h.disable_arcade = [](void* c) {
      TestGame* g = static_cast<TestGame*>(c);
      g->arcade_disables++;
      bool was = g->arcade;
      g->arcade = false;
      return was;
    };
    return h;
  }
};

// A bound socket that plays the server by hand.
struct BareServer {
  int socket = -1;
  int port = 0;
  SocketAddress client = {};
  bool heard = false;

  BareServer() {
    socket = open_socket();
    bind_socket(socket, 0);
    port = socket_port(socket);
  }
  ~BareServer() { close_socket(socket); }
  std::string address() const { return "127.0.0.1:" + std::to_string(port); }

  // Every datagram waiting (after a short wait for the first).
  std::vector<std::vector<uint8_t>> receive_all(double wait = 0.2) {
    std::vector<std::vector<uint8_t>> got;
    uint8_t buffer[MAX_DATAGRAM];
    SocketAddress from;
    if (!wait_readable(socket, wait)) return got;
    int n;
    while ((n = receive_datagram(socket, buffer, sizeof buffer, &from)) >= 0) {
      client = from;
      heard = true;
      got.emplace_back(buffer, buffer + n);
    }
    return got;
  }
  // The decoded messages of one type among those waiting.
  std::vector<ClientMessage> take(uint8_t type, double wait = 0.2) {
    std::vector<ClientMessage> out;
    kept = receive_all(wait);
    for (auto& bytes : kept) {
      ClientMessage m;
      if (decode_client_message(bytes.data(), (int)bytes.size(), &m) && m.type == type) out.push_back(m);
    }
    return out;
  }
  void send(const ServerMessage& m) {
    uint8_t bytes[MAX_DATAGRAM];
    int n = encode_server_message(m, bytes, sizeof bytes);
    if (n > 0) send_datagram(socket, bytes, n, client);
  }
  void send_raw(const std::vector<uint8_t>& bytes) {
    send_datagram(socket, bytes.data(), (int)bytes.size(), client);
  }
  std::vector<std::vector<uint8_t>> kept;
};
