// Datagram encoding and decoding, the client's handling of a full states
// packet, and the race server's tick with many riders (relay included; the
// datagrams are counted instead of sent).
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>

#include "net/client.h"
#include "render/texture.h"
#include "tests/track/track_fixture.h"
#include "tools/race_server/server.h"

namespace {

StateRecord sample_record() {
  StateRecord r;
  for (int i = 0; i < STATE_RECORD_BYTES; i++) r.bytes[i] = (uint8_t)(i * 37 + 11);
  return r;
}

void BM_EncodeStateMessage(benchmark::State& state) {
  ClientMessage m = client_message(CL_STATE, 3, 0x12345678);
  m.race_id = 9;
  m.record = sample_record();
  uint8_t bytes[MAX_DATAGRAM];
  for (auto _ : state) {
    m.tick += 4;
    benchmark::DoNotOptimize(encode_client_message(m, bytes, sizeof bytes));
  }
}
BENCHMARK(BM_EncodeStateMessage);

void BM_DecodeStateMessage(benchmark::State& state) {
  ClientMessage m = client_message(CL_STATE, 3, 0x12345678);
  m.record = sample_record();
  uint8_t bytes[MAX_DATAGRAM];
  const int n = encode_client_message(m, bytes, sizeof bytes);
  ClientMessage out;
  for (auto _ : state) {
    benchmark::DoNotOptimize(decode_client_message(bytes, n, &out));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_DecodeStateMessage);

// A full states packet (21 entries) built and then read entry by entry.
void BM_StatesPacket(benchmark::State& state) {
  uint8_t entries[MAX_STATE_ENTRIES * STATE_ENTRY_BYTES];
  uint8_t bytes[MAX_DATAGRAM];
  for (auto _ : state) {
    for (int i = 0; i < MAX_STATE_ENTRIES; i++)
      write_state_entry({(uint16_t)i, 5, 1000u + (uint32_t)i, sample_record()}, entries + i * STATE_ENTRY_BYTES);
    ServerMessage m = server_message(SV_STATES);
    m.count = MAX_STATE_ENTRIES;
    m.text = entries;
    m.text_length = (int)sizeof entries;
    const int n = encode_server_message(m, bytes, sizeof bytes);
    ServerMessage d;
    decode_server_message(bytes, n, &d);
    StateEntry e;
    uint32_t sum = 0;
    for (int i = 0; i < MAX_STATE_ENTRIES; i++)
      if (state_entry(d, i, &e)) sum += e.stamp;
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * MAX_STATE_ENTRIES);
}
BENCHMARK(BM_StatesPacket);

// The client taking a full states packet into its histories.
void BM_ClientHandleStates(benchmark::State& state) {
  NetClient client;
  NetClientHooks h = {};
  static int tick = 0;
  h.current_tick = [](void*) { return tick; };
  h.remote_bike = [](void*, int) { return true; };
  h.add_remote_state = [](void*, int, const StateRecord& r, int t) { benchmark::DoNotOptimize(r.bytes[t & 31]); };
  client.hooks = h;
  init_net_client(&client);
  client.state = NET_RACING;
  client.race_id = 1;
  client.latest_server_tick = 100;
  uint8_t entries[MAX_STATE_ENTRIES * STATE_ENTRY_BYTES];
  uint8_t bytes[MAX_DATAGRAM];
  uint32_t stamp = 1000;
  for (auto _ : state) {
    stamp += 4;
    for (int i = 0; i < MAX_STATE_ENTRIES; i++)
      write_state_entry({(uint16_t)i, 5, stamp, sample_record()}, entries + i * STATE_ENTRY_BYTES);
    ServerMessage m = server_message(SV_STATES);
    m.race_id = 1;
    m.server_tick = stamp;
    m.count = MAX_STATE_ENTRIES;
    m.text = entries;
    m.text_length = (int)sizeof entries;
    const int n = encode_server_message(m, bytes, sizeof bytes);
    handle_server_datagram(&client, bytes, n);
  }
  state.SetItemsProcessed(state.iterations() * MAX_STATE_ENTRIES);
}
BENCHMARK(BM_ClientHandleStates);

// One server tick with N riders racing, each sending its state every fourth
// tick: the checks, the relay to everyone else and the per-client work.
void BM_ServerTick(benchmark::State& state) {
  const int riders = (int)state.range(0);
  ScratchData data;
  build_fixture_track(data, "rabbithill", true);
  auto server = std::make_unique<RaceServer>();
  static long sent_bytes;
  sent_bytes = 0;
  server->io.send = [](void*, const SocketAddress&, const uint8_t*, int length) { sent_bytes += length; };
  ServerConfig config;
  config.quiet = true;
  config.tracks = {"rabbithill"};
  config.max_riders = riders;
  config.client_timeout = 1e9;
  double now = 100.0;
  if (!start_server(server.get(), config, now)) {
    state.SkipWithError("no server");
    return;
  }
  server_command(server.get(), "start");
  for (int i = 0; i < riders; i++) {
    ServerClient& c = server->clients[(size_t)i];
    c.state = CLIENT_JOINED;
    c.address = {0x7f000001u, (uint16_t)(30000 + i)};
    c.key = 1000u + (uint32_t)i;
    c.info.name = "Rider";
    c.rider = c.in_race = true;
    c.race_id = server->race_id;
    c.last_heard = 1e18;
  }
  ClientMessage m = client_message(CL_STATE, 0, 0);
  m.race_id = server->race_id;
  m.record = sample_record();
  uint8_t bytes[MAX_DATAGRAM];
  long ticks = 0;
  for (auto _ : state) {
    now += TICK_SECONDS;
    ticks++;
    // A quarter of the riders send this tick.
    for (int i = (int)(ticks % 4); i < riders; i += 4) {
      m.slot = (uint32_t)i;
      m.key = 1000u + (uint32_t)i;
      m.tick = (uint32_t)(server->server_tick > 0 ? server->server_tick : 1);
      m.server_tick = m.tick;
      const int n = encode_client_message(m, bytes, sizeof bytes);
      server->clients[(size_t)i].last_heard = now;
      handle_client_datagram(server.get(), server->clients[(size_t)i].address, bytes, n);
    }
    server_tick(server.get(), now);
  }
  const double seconds = (double)ticks * TICK_SECONDS;
  state.counters["bytes/s out per rider"] = (double)sent_bytes / seconds / riders;
  state.counters["riders"] = riders;
  stop_server(server.get());
  purge_textures(true);
}
BENCHMARK(BM_ServerTick)->Arg(10)->Arg(40)->Arg(160)->Unit(benchmark::kMicrosecond);

}  // namespace
