// The client's datagram handler on arbitrary server datagrams. The first
// bytes pick the state the client starts in and its race; the rest is a
// sequence of length-prefixed datagrams handled in order, so the fuzzer can
// walk the handshake. Every table index and stamp it stores must stay in range.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "net/client.h"

namespace {

struct Game {
  int tick = 0;
  bool remote[MAX_BIKES] = {};
};

Game g_game;
NetClient g_client;

NetClientHooks hooks() {
  NetClientHooks h = {};
  h.context = &g_game;
  h.print = [](void*, const char* text) {
    if (strlen(text) > 2000) __builtin_trap();
  };
  h.track_installed = [](void*, const char* name) { return strcmp(name, "rabbithill") == 0; };
  h.setup_race = [](void* c, const OnlineRace& race, uint8_t digest[TRACK_DIGEST_BYTES]) {
    Game* g = static_cast<Game*>(c);
    if (race.riding_slot < 0 || race.riding_slot > NO_BIKE) __builtin_trap();
    for (int s = 0; s < MAX_BIKES; s++) {
      const int q = race.requests[s];
      if (q < 0 || (q > SLOT_REQUEST_PLAYER && q < SLOT_REQUEST_ROBOT) || q >= SLOT_REQUEST_ROBOT + MAX_ROBOT_NUMBER)
        __builtin_trap();
      if (race.riders[s].number.size() > 3 || race.riders[s].name.size() > CLIENT_INFO_FIELD_MAX) __builtin_trap();
      g->remote[s] = remote_request(race.requests[s]);
    }
    memset(digest, 0, TRACK_DIGEST_BYTES);
    return true;
  };
  h.current_tick = [](void* c) { return static_cast<Game*>(c)->tick; };
  h.set_tick = [](void* c, int tick) {
    if (tick < 0) __builtin_trap();
    static_cast<Game*>(c)->tick = tick;
  };
  h.apply_timing = [](void*, int slot, int index, int tick) {
    if (slot < 0 || slot >= MAX_BIKES || index < 0 || tick < 0) __builtin_trap();
  };
  h.remote_bike = [](void* c, int slot) {
    if (slot < 0 || slot >= MAX_BIKES) __builtin_trap();
    return static_cast<Game*>(c)->remote[slot];
  };
  h.add_remote_state = [](void*, int slot, const StateRecord&, int tick) {
    if (slot < 0 || slot >= MAX_BIKES || tick < 0) __builtin_trap();
  };
  h.disable_arcade = [](void*) { return true; };
  return h;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 6) return 0;
  g_game = Game();
  g_client.hooks = hooks();
  init_net_client(&g_client);
  static const int states[] = {NET_CONTACTING, NET_LOGGING_IN, NET_TRACK_ACKNOWLEDGED, NET_BIKE_ACKNOWLEDGED,
                               NET_WAITING,    NET_RACING,     NET_RESTARTING,         NET_LEAVING};
  g_client.state = states[data[0] & 7];
  g_client.client_slot = (data[0] >> 3) & 1 ? 3 : NO_BIKE;
  g_client.race_id = data[1];
  g_client.nonce = read_u32(data + 2);
  g_game.tick = 1000;
  size_t at = 6;
  while (at + 2 <= size) {
    size_t length = (size_t)data[at] | (size_t)(data[at + 1] & 3) << 8;
    at += 2;
    if (length > size - at) length = size - at;
    // A copy of exactly the datagram's size, so reading past it is caught.
    uint8_t* datagram = new uint8_t[length ? length : 1];
    memcpy(datagram, data + at, length);
    handle_server_datagram(&g_client, datagram, (int)length);
    delete[] datagram;
    at += length;
    g_game.tick += 4;
    if (g_client.riding_slot < 0 || g_client.riding_slot > NO_BIKE) __builtin_trap();
    if (g_client.last_bike_acknowledged < 0 || g_client.last_bike_acknowledged > NO_BIKE) __builtin_trap();
    if (g_client.incoming.early.size() > (size_t)RELIABLE_EARLY_MAX) __builtin_trap();
  }
  reset_connection(&g_client);
  return 0;
}
