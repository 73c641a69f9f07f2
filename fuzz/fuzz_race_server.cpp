// The race server's datagram handler on arbitrary datagrams from a handful
// of addresses, with ticks in between. Keys come from a fixed seed, so the
// fuzzer can learn them and reach past the handshake. Queues and tables must
// stay within their bounds and nothing may be read past a datagram.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "render/texture.h"
#include "tests/track/track_fixture.h"
#include "tools/race_server/server.h"

namespace {

RaceServer* g_server = nullptr;
ScratchData* g_data = nullptr;

void setup() {
  g_data = new ScratchData();
  build_fixture_track(*g_data, "rabbithill", true);
  g_server = new RaceServer();
  g_server->io.send = [](void*, const SocketAddress&, const uint8_t* bytes, int length) {
    if (length < 1 || length > MAX_DATAGRAM || !bytes) __builtin_trap();
  };
  ServerConfig config;
  config.quiet = true;
  config.tracks = {"rabbithill"};
  config.max_riders = 8;
  config.robots = 1;
  config.upload_max_bytes = 4096;
  config.warmup_seconds = 0.5;
  config.gate_drop_seconds = 1.0;
  if (!start_server(g_server, config, 100.0)) abort();
  atexit([] {
    stop_server(g_server);
    purge_textures(true);  // the track's textures live in the shared cache
    delete g_server;
    delete g_data;  // removes the scratch directory
  });
}

// Back to a fresh warmup on the loaded track with the same keys as before.
void reset() {
  for (ServerClient& c : g_server->clients) {
    close_upload(&c, false);
    if (!c.robot) c = ServerClient();
  }
  g_server->random = 0x9e3779b9u;
  g_server->now = 100.0;
  g_server->phase = PHASE_WARMUP;
  g_server->race_id = 0;
  begin_phase(g_server, PHASE_WARMUP);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!g_server) setup();
  reset();
  double now = 100.0;
  size_t at = 0;
  while (at + 3 <= size) {
    const uint8_t from = data[at];
    size_t length = (size_t)data[at + 1] | (size_t)(data[at + 2] & 3) << 8;
    at += 3;
    if (length > size - at) length = size - at;
    uint8_t* datagram = new uint8_t[length ? length : 1];
    memcpy(datagram, data + at, length);
    const SocketAddress address = {0x7f000001u, (uint16_t)(40000 + (from & 3))};
    handle_client_datagram(g_server, address, datagram, (int)length);
    delete[] datagram;
    at += length;
    // The top bits of the address byte move the clock on.
    now += (double)(from >> 2) * 0.05;
    server_tick(g_server, now);
    for (const ServerClient& c : g_server->clients) {
      if (c.out.queue.size() > SERVER_RELIABLE_LIMIT) __builtin_trap();
      if (c.in.early.size() > (size_t)RELIABLE_EARLY_MAX) __builtin_trap();
      if (c.upload.bytes > g_server->config.upload_max_bytes) __builtin_trap();
    }
  }
  return 0;
}
