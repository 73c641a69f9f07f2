// The race server driven datagram by datagram, on a clock of its own, with
// what it sends caught instead of put on the wire.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>

#include "render/texture.h"
#include "tests/track/track_fixture.h"
#include "tools/race_server/server.h"

namespace {

struct Sent {
  SocketAddress to;
  std::vector<uint8_t> bytes;
};

SocketAddress address(int n) { return SocketAddress{0x7f000001u, (uint16_t)(40000 + n)}; }

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override { build_fixture_track(data_, "rabbithill", true); }
  void TearDown() override {
    if (started_) stop_server(&server_);
    purge_textures(true);
  }

  void start(ServerConfig config = ServerConfig()) {
    config.quiet = getenv("DV_SERVER_LOG") == nullptr;
    if (config.tracks.empty()) config.tracks = {"rabbithill"};
    server_.io.context = this;
    server_.io.send = [](void* c, const SocketAddress& to, const uint8_t* bytes, int length) {
      static_cast<ServerTest*>(c)->sent_.push_back({to, std::vector<uint8_t>(bytes, bytes + length)});
    };
    ASSERT_TRUE(start_server(&server_, config, now_));
    started_ = true;
  }
  void tick(double seconds = TICK_SECONDS) {
    now_ += seconds;
    server_tick(&server_, now_);
  }
  void send(int from, const ClientMessage& m) {
    uint8_t bytes[MAX_DATAGRAM];
    int n = encode_client_message(m, bytes, sizeof bytes);
    ASSERT_GT(n, 0);
    handle_client_datagram(&server_, address(from), bytes, n);
  }
  // What went to one address since the last call, by type (0: all).
  std::vector<ServerMessage> take(int to, uint8_t type = 0) {
    std::vector<ServerMessage> out;
    kept_.clear();
    for (const Sent& s : sent_)
      if (same_address(s.to, address(to))) kept_.push_back(s.bytes);
    sent_.erase(std::remove_if(sent_.begin(), sent_.end(), [&](const Sent& s) { return same_address(s.to, address(to)); }),
                sent_.end());
    for (const auto& bytes : kept_) {
      ServerMessage m;
      if (decode_server_message(bytes.data(), (int)bytes.size(), &m) && (type == 0 || m.type == type)) out.push_back(m);
    }
    return out;
  }
  static std::string text(const ServerMessage& m) {
    return std::string(reinterpret_cast<const char*>(m.text), (size_t)m.text_length);
  }
  // The console texts (reliable subtype 19) sent to an address, acknowledged.
  std::vector<std::string> console(int who, uint32_t slot, uint32_t key) {
    std::vector<std::string> lines;
    // Rounds of 0.05 s: a head sent earlier and never acknowledged comes
    // again after half a second.
    for (int round = 0; round < 12; round++) {
      tick(0.05);
      for (const ServerMessage& m : take(who, SV_RELIABLE)) {
        if (m.subtype == RELIABLE_TEXT) lines.push_back(text(m));
        ClientMessage ack = client_message(CL_ACK, slot, key);
        ack.value = m.sequence;
        send(who, ack);
      }
    }
    return lines;
  }

  struct Login {
    uint32_t slot, key;
  };
  Login contact(int who, const std::string& password = "") {
    ClientMessage c = client_message(CL_CONTACT, 0, 0);
    c.protocol = CLIENT_PROTOCOL;
    c.nonce = 1000u + (uint32_t)who;
    c.password = !password.empty();
    send(who, c);
    contact_error_.clear();
    Login l = {NO_BIKE, 0};
    for (const ServerMessage& m : take(who)) {
      if (m.type == SV_ERROR) contact_error_ = text(m);
      if (m.type != SV_ACCEPT) continue;
      EXPECT_EQ(m.version, SERVER_PROTOCOL_VERSION);
      l = {m.slot, m.key};
    }
    return l;
  }
  void client_info(int who, Login l, const std::string& info, const std::string& password = "") {
    ClientMessage m = client_message(CL_CLIENT_INFO, l.slot, l.key);
    m.nonce = 1000u + (uint32_t)who;
    m.proof = password_proof(password, l.key);
    m.payload = reinterpret_cast<const uint8_t*>(info.data());
    m.payload_length = (int)info.size();
    send(who, m);
  }
  // Through the whole handshake of the current race into racing.
  Login join(int who, const std::string& name) {
    Login l = contact(who);
    client_info(who, l, "cr250\n" + std::to_string(who) + "\n" + name);
    auto tracks = take(who, SV_TRACK);
    EXPECT_EQ(tracks.size(), 1u);
    if (tracks.empty()) return l;
    const uint32_t race = tracks[0].race_id;
    ClientMessage ack = client_message(CL_TRACK_ACK, l.slot, l.key);
    ack.race_id = race;
    send(who, ack);
    for (int guard = 0; guard < MAX_BIKES; guard++) {
      auto got = take(who);
      bool ready = false;
      for (const ServerMessage& m : got) {
        if (m.type == SV_BIKE) {
          ClientMessage b = client_message(CL_BIKE_ACK, l.slot, l.key);
          b.race_id = race;
          b.value = m.bike_slot;
          send(who, b);
        }
        if (m.type == SV_RACE_READY) ready = true;
      }
      if (ready) break;
    }
    ClientMessage w = client_message(CL_WAITING, l.slot, l.key);
    w.race_id = race;
    send(who, w);
    EXPECT_EQ(take(who, SV_TIME).size(), 1u);
    return l;
  }
  void lap_report(int who, Login l, uint32_t gate, uint32_t tick) {
    uint8_t p[12];
    write_u32(p, server_.race_id);
    write_u32(p + 4, gate);
    write_u32(p + 8, tick);
    ClientMessage m = client_message(CL_RELIABLE, l.slot, l.key);
    m.value = sequence_[who]++;
    m.subtype = RELIABLE_TIMING;
    m.payload = p;
    m.payload_length = 12;
    send(who, m);
  }
  void state(int who, Login l, uint32_t tick, Vec3 position) {
    ClientMessage m = client_message(CL_STATE, l.slot, l.key);
    m.race_id = server_.race_id;
    m.tick = tick;
    m.server_tick = (uint32_t)server_.server_tick;
    BikeState b = {};
    for (int i = 0; i < STATE_BODIES; i++) {
      b.position[i] = dvec(position);
      b.orientation[i] = DQuat{1, 0, 0, 0};
    }
    m.record = encode_state(b, default_record_model(), server_.scale, nullptr);
    send(who, m);
  }
  void start_race() {
    server_command(&server_, "start");
    ASSERT_EQ(server_.phase, PHASE_RACE);
  }

  ScratchData data_;
  RaceServer server_;
  bool started_ = false;
  double now_ = 1000.0;
  std::vector<Sent> sent_;
  std::vector<std::vector<uint8_t>> kept_;
  uint32_t sequence_[64] = {};
  std::string contact_error_;  // the error the last contact drew
};

TEST_F(ServerTest, ContactChecksProtocolPasswordAndRoom) {
  ServerConfig config;
  config.max_riders = 2;
  config.password = "pw";
  start(config);
  ClientMessage c = client_message(CL_CONTACT, 0, 0);
  c.protocol = 24;
  send(1, c);
  auto errors = take(1, SV_ERROR);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(text(errors[0]).find("protocol 25"), std::string::npos);
  // No password flag on a server with one.
  EXPECT_EQ(contact(2).slot, (uint32_t)NO_BIKE);
  EXPECT_EQ(contact_error_, "This server needs a password\n");
  Login a = contact(3, "pw");
  Login b = contact(4, "pw");
  EXPECT_EQ(a.slot, 0u);
  EXPECT_EQ(b.slot, 1u);
  EXPECT_NE(a.key, b.key);
  // A repeated contact is answered with the same slot and key.
  Login again = contact(3, "pw");
  EXPECT_EQ(again.slot, a.slot);
  EXPECT_EQ(again.key, a.key);
  ClientMessage full = client_message(CL_CONTACT, 0, 0);
  full.protocol = CLIENT_PROTOCOL;
  full.password = true;
  send(5, full);
  auto got = take(5);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].type, SV_FULL);
  EXPECT_EQ(kept_[0].size(), 1u);
}

TEST_F(ServerTest, WrongProofIsRefusedAndFreesTheSlot) {
  ServerConfig config;
  config.password = "open sesame";
  start(config);
  Login l = contact(1, "x");
  client_info(1, l, "cr250\n1\nMallory", "guess");
  EXPECT_EQ(text(take(1, SV_ERROR).at(0)), "Wrong password\n");
  EXPECT_EQ(server_.clients[l.slot].state, CLIENT_FREE);
  Login m = contact(2, "x");
  client_info(2, m, "cr250\n2\nAlice", "open sesame");
  auto tracks = take(2, SV_TRACK);
  ASSERT_EQ(tracks.size(), 1u);
  EXPECT_EQ(text(tracks[0]), "rabbithill");
  EXPECT_EQ(memcmp(tracks[0].digest, server_.track.digest, TRACK_DIGEST_BYTES), 0);
  EXPECT_EQ(server_.clients[m.slot].info.name, "Alice");
}

TEST_F(ServerTest, DatagramsWithTheWrongKeyAddressOrSizeAreDropped) {
  start();
  Login l = join(1, "Alice");
  const long refused = server_.refused;
  ClientMessage bad = client_message(CL_WAITING, l.slot, l.key + 1);
  bad.race_id = server_.race_id;
  send(1, bad);
  ClientMessage other = client_message(CL_WAITING, l.slot, l.key);
  other.race_id = server_.race_id;
  send(2, other);  // right key, wrong address
  ClientMessage far = client_message(CL_WAITING, 500, l.key);
  send(1, far);
  uint8_t short_state[59] = {CL_STATE};
  handle_client_datagram(&server_, address(1), short_state, sizeof short_state);
  EXPECT_EQ(server_.refused, refused + 4);
  EXPECT_TRUE(take(1).empty());
  EXPECT_TRUE(take(2).empty());
  // A stranger's disconnect is answered so it stops sending them.
  ClientMessage d = client_message(CL_DISCONNECT, 7, 9);
  send(3, d);
  auto answer = take(3);
  ASSERT_EQ(answer.size(), 1u);
  EXPECT_EQ(answer[0].type, SV_DISCONNECTED);
}

TEST_F(ServerTest, BikesGoOneAtATimeInSlotOrderThenRaceReady) {
  ServerConfig config;
  config.max_riders = 5;
  config.robots = 1;  // in the last slot
  start(config);
  join(1, "Alice");
  join(2, "Bob");
  join(3, "Carol");
  // A warmup restart tells everyone of the newcomers.
  start_race();
  auto restarts = take(1, SV_RESTART);
  ASSERT_EQ(restarts.size(), 1u);
  Login alice = {0, server_.clients[0].key};
  ClientMessage ack = client_message(CL_RESTART_ACK, alice.slot, alice.key);
  ack.race_id = restarts[0].race_id;
  send(1, ack);
  auto track = take(1, SV_TRACK);
  ASSERT_EQ(track.size(), 1u);
  EXPECT_EQ(track[0].laps, (uint32_t)server_.laps);
  EXPECT_EQ((int)track[0].gate_drop_tick, server_.gate_drop_tick);
  ClientMessage t = client_message(CL_TRACK_ACK, alice.slot, alice.key);
  t.race_id = track[0].race_id;
  send(1, t);
  auto first = take(1, SV_BIKE);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].bike_slot, 1u);
  EXPECT_EQ(text(first[0]), "cr250||||\n2\nBob");
  // The repeated track acknowledgment brings the same bike again.
  send(1, t);
  EXPECT_EQ(take(1, SV_BIKE).at(0).bike_slot, 1u);
  ClientMessage b = client_message(CL_BIKE_ACK, alice.slot, alice.key);
  b.race_id = track[0].race_id;
  b.value = 1;
  send(1, b);
  EXPECT_EQ(take(1, SV_BIKE).at(0).bike_slot, 2u);
  b.value = 2;
  send(1, b);
  // The robot's bike names its robot number.
  auto robot = take(1, SV_BIKE);
  ASSERT_EQ(robot.size(), 1u);
  EXPECT_EQ(robot[0].bike_slot, 4u);
  EXPECT_EQ(robot_number_of_text(robot[0].text, robot[0].text_length), 0) << text(robot[0]);
  EXPECT_NE(text(robot[0]).find("\nRobot 1\nrobot 0"), std::string::npos) << text(robot[0]);
  b.value = 4;
  send(1, b);
  auto ready = take(1, SV_RACE_READY);
  ASSERT_EQ(ready.size(), 1u);
  EXPECT_EQ(ready[0].bike_slot, 0u);
  EXPECT_EQ(text(ready[0]), "cr250||||\n1\nAlice");
}

TEST_F(ServerTest, StatesAreRelayedToTheOthersWithPingAndEcho) {
  start();
  Login a = join(1, "Alice");
  Login b = join(2, "Bob");
  start_race();
  // Both through the new race's handshake.
  for (int who : {1, 2}) {
    Login l = who == 1 ? a : b;
    ClientMessage ack = client_message(CL_RESTART_ACK, l.slot, l.key);
    ack.race_id = server_.race_id;
    send(who, ack);
    ClientMessage t = client_message(CL_TRACK_ACK, l.slot, l.key);
    t.race_id = server_.race_id;
    send(who, t);
    ClientMessage bk = client_message(CL_BIKE_ACK, l.slot, l.key);
    bk.race_id = server_.race_id;
    bk.value = who == 1 ? 1 : 0;
    send(who, bk);
    ClientMessage w = client_message(CL_WAITING, l.slot, l.key);
    w.race_id = server_.race_id;
    send(who, w);
  }
  take(1);
  take(2);
  for (int i = 0; i < 20; i++) tick();
  state(1, a, 16, Vec3{10, 5, 10});
  state(1, a, 12, Vec3{10, 5, 10});  // older than the last: dropped
  tick();
  auto states = take(2, SV_STATES);
  ASSERT_EQ(states.size(), 1u);
  ASSERT_EQ(states[0].count, 1u);
  StateEntry e;
  ASSERT_TRUE(state_entry(states[0], 0, &e));
  EXPECT_EQ(e.slot, a.slot);
  EXPECT_EQ(e.stamp, 16u);
  EXPECT_TRUE(take(1, SV_STATES).empty());  // nobody else's news for Alice
  // Bob's own state comes back to Bob as the echo of his tick.
  state(2, b, 20, Vec3{12, 5, 12});
  tick();
  auto to_alice = take(1, SV_STATES);
  ASSERT_EQ(to_alice.size(), 1u);
  auto to_bob = take(2, SV_STATES);
  EXPECT_TRUE(to_bob.empty());
  state(1, a, 24, Vec3{10, 5, 10});
  tick();
  to_bob = take(2, SV_STATES);
  ASSERT_EQ(to_bob.size(), 1u);
  EXPECT_EQ(to_bob[0].echo, 20u);
  // A state of a race that is over earns a restart, not a relay.
  tick(0.6);
  take(1);
  ClientMessage stale = client_message(CL_STATE, a.slot, a.key);
  stale.race_id = server_.race_id - 1;
  stale.tick = 30;
  send(1, stale);
  EXPECT_EQ(take(1, SV_RESTART).size(), 1u);
}

class LapReportTest : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    ServerConfig config;
    config.gate_drop_seconds = 1.0;
    config.laps = 2;
    start(config);
    alice_ = join(1, "Alice");
    bob_ = join(2, "Bob");
    start_race();
    for (int who : {1, 2}) {
      Login l = who == 1 ? alice_ : bob_;
      ClientMessage w = client_message(CL_WAITING, l.slot, l.key);
      // Through the handshake quickly: the restart, track and waiting steps.
      ClientMessage ack = client_message(CL_RESTART_ACK, l.slot, l.key);
      ack.race_id = server_.race_id;
      send(who, ack);
      server_.clients[l.slot].race_id = server_.race_id;
      w.race_id = server_.race_id;
      send(who, w);
    }
    for (int i = 0; i < 400; i++) tick();
    take(1);
    take(2);
  }
  Vec3 gate_point(int gate) {
    const TimingGates& g = server_.track.gates;
    return g.checkpoints[(size_t)(g.sequence[(size_t)folded_gate(g, gate)] % NO_SPLIT_MARK)].point;
  }
  // Timing entries (slot, index, tick) queued for a client.
  // Several rounds of taking and acknowledging, as the queue sends one at a time.
  std::vector<std::array<uint32_t, 3>> entries_for(int who, Login l) {
    std::vector<std::array<uint32_t, 3>> out;
    // Rounds of 0.05 s: a head sent earlier and never acknowledged comes
    // again after half a second.
    for (int round = 0; round < 12; round++) {
      tick(0.05);
      for (const ServerMessage& m : take(who, SV_RELIABLE)) {
        if (m.subtype == RELIABLE_TIMING) {
          const uint32_t count = read_u32(m.text + 4);
          for (uint32_t i = 0; i < count; i++)
            out.push_back(
                {read_u32(m.text + 8 + i * 12), read_u32(m.text + 12 + i * 12), read_u32(m.text + 16 + i * 12)});
        }
        ClientMessage ack = client_message(CL_ACK, l.slot, l.key);
        ack.value = m.sequence;
        send(who, ack);
      }
    }
    return out;
  }
  // Time on, everything reliable sent to Alice and Bob acknowledged.
  void tick_and_acknowledge(double seconds) {
    tick(seconds);
    for (int who : {1, 2}) {
      const Login l = who == 1 ? alice_ : bob_;
      for (const ServerMessage& m : take(who, SV_RELIABLE)) {
        ClientMessage ack = client_message(CL_ACK, l.slot, l.key);
        ack.value = m.sequence;
        send(who, ack);
      }
    }
  }
  Login alice_, bob_;
};

TEST_F(LapReportTest, ReportsFollowTheGateRulesAndReachTheOthers) {
  lap_report(1, alice_, 0, 200);
  lap_report(1, alice_, 2, 250);  // skips gate 1
  lap_report(1, alice_, 1, 240);  // gate 1 is two back and missed: taken, gates passed moves back
  auto got = entries_for(2, bob_);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0], (std::array<uint32_t, 3>{alice_.slot, 0, 200}));
  EXPECT_EQ(got[1], (std::array<uint32_t, 3>{alice_.slot, 2, 250}));
  EXPECT_EQ(got[2], (std::array<uint32_t, 3>{alice_.slot, 1, 240}));
  EXPECT_EQ(server_.clients[alice_.slot].timing.gates_passed, 2);
  // Refused: beyond reach, the lap end skipped, a tick from the future, a
  // tick before the last gate, and a report of another race.
  lap_report(1, alice_, 6, 300);
  lap_report(1, alice_, 4, 300);  // gate 3 ends lap 1 and was never passed
  lap_report(1, alice_, 2, 100000);
  lap_report(1, alice_, 2, 100);
  uint8_t p[12];
  write_u32(p, server_.race_id + 5);
  write_u32(p + 4, 2);
  write_u32(p + 8, 300);
  ClientMessage m = client_message(CL_RELIABLE, alice_.slot, alice_.key);
  m.value = sequence_[1]++;
  m.subtype = RELIABLE_TIMING;
  m.payload = p;
  m.payload_length = 12;
  send(1, m);
  EXPECT_TRUE(entries_for(2, bob_).empty());
  EXPECT_EQ(server_.clients[alice_.slot].timing.gates_passed, 2);
}

TEST_F(LapReportTest, StatesFarFromTheGateRefuseTheReport) {
  const Vec3 g0 = gate_point(0);
  // The fixture track is small; a far point is its opposite corner.
  const float w = server_.track.terrain.width;
  const Vec3 corner = {g0.x < w / 2 ? w : 0.0f, g0.y, g0.z < w / 2 ? w : 0.0f};
  state(1, alice_, 200, corner);
  lap_report(1, alice_, 0, 200);
  EXPECT_TRUE(entries_for(2, bob_).empty());
  state(1, alice_, 204, g0);
  lap_report(1, alice_, 0, 204);
  EXPECT_EQ(entries_for(2, bob_).size(), 1u);
}

TEST_F(LapReportTest, TheRaceEndsWithResultsAfterEveryoneFinishes) {
  const TimingGates& g = server_.track.gates;
  const int gates = g.first_lap + g.normal_lap;  // two laps
  int tick = 200;
  for (int i = 0; i < gates; i++) {
    lap_report(1, alice_, (uint32_t)i, (uint32_t)(tick += 10));
    lap_report(2, bob_, (uint32_t)i, (uint32_t)(tick + 5));
  }
  EXPECT_TRUE(server_.clients[alice_.slot].timing.finished);
  EXPECT_TRUE(server_.clients[bob_.slot].timing.finished);
  const int races = server_.races_finished;
  for (int i = 0; i < 200 && server_.races_finished == races; i++) {
    // Keep both talking and acknowledging.
    state(1, alice_, (uint32_t)server_.server_tick, gate_point(0));
    state(2, bob_, (uint32_t)server_.server_tick, gate_point(0));
    entries_for(1, alice_);
    entries_for(2, bob_);
  }
  ASSERT_EQ(server_.races_finished, races + 1);
  EXPECT_EQ(server_.final_order, (std::vector<int>{(int)alice_.slot, (int)bob_.slot}));
  ASSERT_EQ(server_.results.size(), 2u);
  EXPECT_NE(server_.results[0].find("Alice"), std::string::npos);
  // The next warmup waits until the results are acknowledged.
  EXPECT_EQ(server_.phase, PHASE_RESULTS);
  entries_for(1, alice_);
  entries_for(2, bob_);
  EXPECT_EQ(server_.phase, PHASE_WARMUP);
}

// Lap reports cross a lossy link one at a time and can trail the bike by a
// minute. Bob finished five ticks behind Alice, but his reports come in one
// every three seconds, long after her finish window is over in real time:
// the results wait for them while they keep coming, and a rider whose
// reports stop holds nothing up.
TEST_F(LapReportTest, ResultsWaitForReportsStillComingFromInsideTheFinishWindow) {
  server_.config.finish_seconds = 2.0;
  const TimingGates& g = server_.track.gates;
  const int gates = g.first_lap + g.normal_lap;  // two laps
  int tick = 200;
  for (int i = 0; i < gates; i++) lap_report(1, alice_, (uint32_t)i, (uint32_t)(tick += 10));
  ASSERT_TRUE(server_.clients[alice_.slot].timing.finished);
  const int races = server_.races_finished;
  int next = 0;  // Bob's next gate; his tick is always five after Alice's
  for (int round = 0; round < 200 && server_.races_finished == races; round++) {
    // Three seconds a round, the states and acknowledgments going on.
    for (int half = 0; half < 6; half++) {
      state(1, alice_, (uint32_t)server_.server_tick, gate_point(0));
      state(2, bob_, (uint32_t)server_.server_tick, gate_point(0));
      for (int i = 0; i < 10; i++) tick_and_acknowledge(0.05);
    }
    if (next < gates && server_.races_finished == races) {
      lap_report(2, bob_, (uint32_t)next, (uint32_t)(210 + next * 10 + 5));
      next++;
    }
  }
  ASSERT_EQ(server_.races_finished, races + 1);
  EXPECT_EQ(next, gates);  // every report of Bob's was in before the results
  EXPECT_GT(next * 3.0, server_.config.finish_seconds + 10.0);  // and they came after the window
  EXPECT_EQ(server_.final_order, (std::vector<int>{(int)alice_.slot, (int)bob_.slot}));
  ASSERT_EQ(server_.results.size(), 2u);
  EXPECT_EQ(server_.results[1].find("not finished"), std::string::npos) << server_.results[1];
}

TEST_F(LapReportTest, ARiderWhoseReportsStopDoesNotHoldTheResults) {
  server_.config.finish_seconds = 2.0;
  const TimingGates& g = server_.track.gates;
  const int gates = g.first_lap + g.normal_lap;
  int tick = 200;
  for (int i = 0; i < gates; i++) lap_report(1, alice_, (uint32_t)i, (uint32_t)(tick += 10));
  for (int i = 0; i < 5; i++) lap_report(2, bob_, (uint32_t)i, (uint32_t)(215 + i * 10));
  const int races = server_.races_finished;
  double waited = 0.0;
  // Bob stands still after five gates but keeps sending states.
  while (waited < 60.0 && server_.races_finished == races) {
    state(1, alice_, (uint32_t)server_.server_tick, gate_point(0));
    state(2, bob_, (uint32_t)server_.server_tick, gate_point(0));
    for (int i = 0; i < 10; i++) tick_and_acknowledge(0.05);
    waited += 0.5;
  }
  ASSERT_EQ(server_.races_finished, races + 1);
  // The finish window, its grace and the patience for one more report, not
  // the limit for late reports.
  EXPECT_LT(waited, 40.0);
  ASSERT_EQ(server_.results.size(), 2u);
  EXPECT_NE(server_.results[1].find("not finished"), std::string::npos) << server_.results[1];
}

TEST_F(LapReportTest, ARestartNeedsMoreThanHalfTheRidersVotes) {
  auto request = [&](int who, Login l, uint32_t value) {
    ClientMessage m = client_message(CL_RESTART_REQUEST, l.slot, l.key);
    m.value = value;
    send(who, m);
  };
  lap_report(1, alice_, 0, 200);
  const uint32_t race = server_.race_id;
  request(1, alice_, 1);
  request(1, alice_, 1);  // one rider, one vote however often sent
  request(2, bob_, 0);    // only the value 1 asks for a restart
  tick();
  EXPECT_EQ(server_.race_id, race);
  EXPECT_TRUE(take(1, SV_RESTART).empty());
  // A stranger's request (wrong key) counts for nothing either.
  request(2, Login{bob_.slot, bob_.key + 1}, 1);
  EXPECT_EQ(server_.race_id, race);

  request(2, bob_, 1);
  EXPECT_EQ(server_.race_id, race + 1);
  EXPECT_EQ(server_.phase, PHASE_RACE);
  for (int who : {1, 2}) {
    auto restarts = take(who, SV_RESTART);
    ASSERT_EQ(restarts.size(), 1u) << who;
    EXPECT_EQ(restarts[0].race_id, race + 1);
  }
  // The new race starts with clean timing and no votes left over.
  EXPECT_EQ(server_.clients[alice_.slot].timing.gates_passed, 0);
  EXPECT_TRUE(server_.timing_log.empty());
  for (int who : {1, 2}) {
    const Login l = who == 1 ? alice_ : bob_;
    ClientMessage ack = client_message(CL_RESTART_ACK, l.slot, l.key);
    ack.race_id = server_.race_id;
    send(who, ack);
    ClientMessage w = client_message(CL_WAITING, l.slot, l.key);
    w.race_id = server_.race_id;
    send(who, w);
  }
  request(1, alice_, 1);
  EXPECT_EQ(server_.race_id, race + 1);
}

TEST_F(LapReportTest, AFloodingClientIsCutAtItsShareAndTheOthersGoOn) {
  tick();
  take(1);
  take(2);
  const long refused = server_.refused;
  // Alice sends 500 states within one tick; only her share is handled.
  const uint32_t base = (uint32_t)server_.server_tick;
  for (int i = 0; i < 500; i++) state(1, alice_, base - 200 + (uint32_t)i, gate_point(0));
  EXPECT_EQ(server_.refused - refused, 500 - SERVER_DATAGRAMS_PER_TICK);
  EXPECT_EQ(server_.clients[alice_.slot].last_stamp, (int)base - 200 + SERVER_DATAGRAMS_PER_TICK - 1);
  // Bob's state in the same tick is taken and reaches Alice.
  state(2, bob_, base, gate_point(1));
  EXPECT_EQ(server_.clients[bob_.slot].last_stamp, (int)base);
  tick();
  auto to_alice = take(1, SV_STATES);
  ASSERT_EQ(to_alice.size(), 1u);
  StateEntry e;
  ASSERT_TRUE(state_entry(to_alice[0], 0, &e));
  EXPECT_EQ(e.slot, bob_.slot);
  // The next tick Alice is heard again.
  state(1, alice_, base + 1, gate_point(0));
  EXPECT_EQ(server_.clients[alice_.slot].last_stamp, (int)base + 1);
}

TEST_F(LapReportTest, AClientThatAcknowledgesNothingIsDroppedWhileTheOthersKeepUp) {
  const int sent = (int)SERVER_RELIABLE_LIMIT + 100;
  int lines = 0;
  for (int i = 0; i < sent + 200; i++) {
    if (i < sent) server_say(&server_, -1, "line %d", i);
    tick(0.01);
    // Bob sends states (he is not silent) but never acknowledges.
    state(2, bob_, (uint32_t)server_.server_tick, gate_point(0));
    take(2);
    for (const ServerMessage& m : take(1, SV_RELIABLE)) {
      lines += m.subtype == RELIABLE_TEXT && text(m) == "line " + std::to_string(lines);
      ClientMessage ack = client_message(CL_ACK, alice_.slot, alice_.key);
      ack.value = m.sequence;
      send(1, ack);
    }
  }
  EXPECT_EQ(server_.clients[bob_.slot].state, CLIENT_FREE);
  EXPECT_EQ(server_.clients[alice_.slot].state, CLIENT_JOINED);
  // Alice heard every line, in order, and nothing waits for her.
  EXPECT_EQ(lines, sent);
  EXPECT_TRUE(server_.clients[alice_.slot].out.queue.empty());
}

TEST_F(ServerTest, ChatIsRelayedAndFloodsAreCut) {
  start();
  Login a = join(1, "Alice");
  Login b = join(2, "Bob");
  console(1, a.slot, a.key);
  console(2, b.slot, b.key);
  auto chat = [&](const std::string& line) {
    ClientMessage m = client_message(CL_RELIABLE, a.slot, a.key);
    m.value = sequence_[1]++;
    m.subtype = RELIABLE_TEXT;
    m.payload = reinterpret_cast<const uint8_t*>(line.data());
    m.payload_length = (int)line.size();
    send(1, m);
    tick();
  };
  chat("hello\x01there");
  std::vector<std::string> lines = console(2, b.slot, b.key);
  EXPECT_EQ(lines, std::vector<std::string>({"Alice: hello there"}));
  for (int i = 0; i < 6; i++) chat("again");
  bool spam = false;
  for (const std::string& l : console(1, a.slot, a.key)) spam = spam || l == "No one likes a spammer";
  EXPECT_TRUE(spam);
}

TEST_F(ServerTest, KickAndBan) {
  start();
  Login a = join(1, "Alice");
  server_command(&server_, "kick Alice");
  EXPECT_EQ(text(take(1, SV_ERROR).at(0)), "Kicked from the server\n");
  EXPECT_EQ(server_.clients[a.slot].state, CLIENT_FREE);
  Login again = join(1, "Alice");
  server_command(&server_, ("ban " + std::to_string(again.slot)).c_str());
  EXPECT_EQ(server_.clients[again.slot].state, CLIENT_FREE);
  take(1);
  EXPECT_EQ(contact(1).slot, (uint32_t)NO_BIKE);
  EXPECT_EQ(contact_error_, "You are banned from this server\n");
  server_command(&server_, "unban 127.0.0.1");
  EXPECT_NE(contact(1).slot, (uint32_t)NO_BIKE);
}

TEST_F(ServerTest, SilentClientsTimeOut) {
  ServerConfig config;
  config.client_timeout = 2.0;
  start(config);
  Login a = join(1, "Alice");
  tick(1.5);
  EXPECT_EQ(server_.clients[a.slot].state, CLIENT_JOINED);
  tick(1.0);
  EXPECT_EQ(server_.clients[a.slot].state, CLIENT_FREE);
  // A contact that never logs in is let go sooner.
  Login b = contact(2);
  tick(config.join_timeout + 0.1);
  EXPECT_EQ(server_.clients[b.slot].state, CLIENT_FREE);
}

class UploadServerTest : public ServerTest {
 protected:
  void upload_command(Login l, const std::string& payload) {
    ClientMessage m = client_message(CL_RELIABLE, l.slot, l.key);
    m.value = sequence_[1]++;
    m.subtype = RELIABLE_COMMAND;
    m.payload = reinterpret_cast<const uint8_t*>(payload.data());
    m.payload_length = (int)payload.size();
    send(1, m);
  }
  std::vector<std::string> commands(Login l) {
    std::vector<std::string> out;
    for (int i = 0; i < 12; i++) {
      tick(0.05);
      for (const ServerMessage& m : take(1, SV_RELIABLE)) {
        if (m.subtype == RELIABLE_COMMAND) out.push_back(text(m));
        ClientMessage ack = client_message(CL_ACK, l.slot, l.key);
        ack.value = m.sequence;
        send(1, ack);
      }
    }
    return out;
  }
};

TEST_F(UploadServerTest, AFileArrivesWholeUnderItsName) {
  ServerConfig config;
  config.upload_max_bytes = 1000;
  start(config);
  Login a = join(1, "Alice");
  commands(a);
  upload_command(a, "sendfile");
  EXPECT_EQ(commands(a), std::vector<std::string>({"sendready"}));
  std::string content;
  for (int i = 0; i < 700; i++) content += (char)(i * 7);
  for (size_t at = 0; at < content.size(); at += 256) upload_command(a, "sendpart -" + content.substr(at, 256));
  upload_command(a, "namefile lap_times.txt");
  EXPECT_EQ(data_.read("uploads/lap_times.txt"), content);
  // The same name again is kept beside the first.
  upload_command(a, "sendfile");
  commands(a);
  upload_command(a, "sendpart -second");
  upload_command(a, "namefile lap_times.txt");
  EXPECT_EQ(data_.read("uploads/lap_times.txt.1"), "second");
  // Too large: refused and nothing kept.
  upload_command(a, "sendfile");
  commands(a);
  for (int i = 0; i < 3; i++) upload_command(a, "sendpart -" + std::string(400, 'x'));
  EXPECT_EQ(commands(a), std::vector<std::string>({"senddenied"}));
  upload_command(a, "namefile big.bin");
  EXPECT_FALSE(std::filesystem::exists(data_.path("uploads/big.bin")));
  // A name with a path in it is refused.
  upload_command(a, "sendfile");
  commands(a);
  upload_command(a, "sendpart -x");
  upload_command(a, "namefile ../escape");
  EXPECT_FALSE(std::filesystem::exists(data_.path("escape")));
  for (const auto& entry : std::filesystem::directory_iterator(data_.path("uploads")))
    EXPECT_NE(entry.path().filename().string().rfind(".partial", 0), 0u) << entry.path();
}

TEST_F(UploadServerTest, UploadsSwitchedOffAreDenied) {
  ServerConfig config;
  config.uploads = false;
  start(config);
  Login a = join(1, "Alice");
  commands(a);
  upload_command(a, "sendfile");
  EXPECT_EQ(commands(a), std::vector<std::string>({"senddenied"}));
}

TEST(ServerConfig, FileSettingsAndTheirErrors) {
  char path[] = "/tmp/dv_server_config_XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  const char text[] = "# a server\nport=20001\ntrack rabbithill\ntrack hills\nlaps=4\npassword = secret word\n"
                      "max_riders=500\nuploads=maybe\nfrobnicate=1\nrobots=3\n";
  ASSERT_EQ(write(fd, text, sizeof text - 1), (ssize_t)(sizeof text - 1));
  close(fd);
  ServerConfig c;
  std::string errors;
  EXPECT_FALSE(read_server_config(path, &c, &errors));
  unlink(path);
  EXPECT_EQ(c.port, 20001);
  EXPECT_EQ(c.tracks, (std::vector<std::string>{"rabbithill", "hills"}));
  EXPECT_EQ(c.laps, 4);
  EXPECT_EQ(c.password, "secret word");
  EXPECT_EQ(c.max_riders, SERVER_DEFAULT_RIDERS);
  EXPECT_TRUE(c.uploads);
  EXPECT_EQ(c.robots, 3);
  EXPECT_NE(errors.find("Bad value '500' for 'max_riders'"), std::string::npos) << errors;
  EXPECT_NE(errors.find("Bad value 'maybe' for 'uploads'"), std::string::npos) << errors;
  EXPECT_NE(errors.find("Unknown setting 'frobnicate'"), std::string::npos) << errors;
}

}  // namespace
