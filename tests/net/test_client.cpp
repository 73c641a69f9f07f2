#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <set>
#include <string>

#include "core/datafile.h"
#include "net/client.h"
#include "tests/net/client_fixture.h"

namespace {

class ClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    client_.hooks = game_.hooks();
    init_net_client(&client_);
    client_.own_info.model = "cr250";
    client_.own_info.number = "12";
    client_.own_info.name = "Tester";
  }
  void TearDown() override { reset_connection(&client_); }

  // One service with time `t`, after waiting for datagrams to arrive.
  void service(double t) {
    if (client_.socket >= 0) wait_readable(client_.socket, 0.05);
    net_service(&client_, t);
  }

  ServerMessage accept(uint32_t version = SERVER_PROTOCOL_VERSION) {
    ServerMessage m = server_message(SV_ACCEPT);
    m.slot = 3;
    m.key = 0xabcdef01;
    m.version = version;
    return m;
  }
  ServerMessage track(uint32_t race_id, const char* name = "rabbithill") {
    ServerMessage m = server_message(SV_TRACK);
    m.race_id = race_id;
    m.laps = 2;
    m.gate_drop_tick = 1920;
    memcpy(m.digest, game_.digest, TRACK_DIGEST_BYTES);
    m.text = reinterpret_cast<const uint8_t*>(name);
    m.text_length = (int)strlen(name);
    return m;
  }
  ServerMessage bike(uint32_t slot, const std::string& text) {
    texts_.push_back(text);
    ServerMessage m = server_message(SV_BIKE);
    m.race_id = client_.race_id;
    m.bike_slot = slot;
    m.text = reinterpret_cast<const uint8_t*>(texts_.back().data());
    m.text_length = (int)texts_.back().size();
    return m;
  }
  ServerMessage race_ready(uint32_t riding) {
    ServerMessage m = bike(riding, "cr250|a|b|c|d\n12\nTester");
    m.type = SV_RACE_READY;
    return m;
  }
  ServerMessage time_message(uint32_t server_tick, uint32_t echo = 0) {
    ServerMessage m = server_message(SV_TIME);
    m.race_id = client_.race_id;
    m.server_tick = server_tick;
    m.echo = echo;
    return m;
  }
  ServerMessage reliable(uint32_t sequence, uint8_t subtype, const std::string& payload) {
    texts_.push_back(payload);
    ServerMessage m = server_message(SV_RELIABLE);
    m.sequence = sequence;
    m.subtype = subtype;
    m.text = reinterpret_cast<const uint8_t*>(texts_.back().data());
    m.text_length = (int)texts_.back().size();
    return m;
  }

  void connect() {
    net_connect(&client_, server_.address().c_str());
    service(now_);
    ASSERT_GE(client_.socket, 0);
    ASSERT_EQ(server_.take(CL_CONTACT).size(), 1u);
  }
  // Contact, accept, login, track, one bike in slot 1, race ready in slot 3, time.
  void join_race() {
    connect();
    server_.send(accept());
    service(now_ += 0.01);
    ASSERT_EQ(client_.state, NET_LOGGING_IN);
    server_.send(track(5));
    service(now_ += 0.01);
    ASSERT_EQ(client_.state, NET_TRACK_ACKNOWLEDGED);
    server_.send(bike(1, "yz125|r|b|w|h\n7\nOther"));
    service(now_ += 0.01);
    ASSERT_EQ(client_.state, NET_BIKE_ACKNOWLEDGED);
    server_.send(race_ready(3));
    service(now_ += 0.01);
    ASSERT_EQ(client_.state, NET_WAITING);
    server_.send(time_message(2000));
    service(now_ += 0.01);
    ASSERT_EQ(client_.state, NET_RACING);
    server_.receive_all(0.05);
  }

  TestGame game_;
  NetClient client_;
  BareServer server_;
  double now_ = 100.0;
  std::vector<std::string> texts_;
};

TEST_F(ClientTest, ContactCarriesProtocolNonceAndPasswordFlag) {
  connect();
  EXPECT_TRUE(game_.printed_line("Contacting server\n"));
  const std::vector<uint8_t>& raw = server_.kept[0];
  ASSERT_EQ(raw.size(), 21u);
  EXPECT_EQ(raw[1], 0);
  ClientMessage m;
  ASSERT_TRUE(decode_client_message(raw.data(), 21, &m));
  EXPECT_EQ(m.protocol, 25u);
  EXPECT_EQ(m.nonce, client_.nonce);
  // Repeated once a second, not more often.
  service(now_ + 0.5);
  EXPECT_TRUE(server_.take(CL_CONTACT, 0.05).empty());
  service(now_ + 1.0);
  EXPECT_EQ(server_.take(CL_CONTACT).size(), 1u);

  reset_connection(&client_);
  client_.password = "pw";
  connect();
  EXPECT_EQ(server_.kept[0][1], 1);
}

TEST_F(ClientTest, VersionMismatchPrintsAndSendsDisconnects) {
  connect();
  server_.send(accept(5));
  service(now_ += 0.01);
  EXPECT_TRUE(game_.printed_line("Server version does not match client version\n"));
  EXPECT_EQ(client_.state, NET_LEAVING);
  auto first = server_.take(CL_DISCONNECT);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(server_.kept[0].size(), 9u);
  EXPECT_EQ(first[0].slot, 3u);
  EXPECT_EQ(first[0].key, 0xabcdef01u);
  service(now_ += 1.0);
  EXPECT_EQ(server_.take(CL_DISCONNECT).size(), 1u);
  EXPECT_TRUE(game_.printed_line("Disconnecting\n"));
  // The server's answer ends it.
  server_.send(server_message(SV_DISCONNECTED));
  service(now_ += 0.01);
  EXPECT_TRUE(game_.printed_line("Disconnected\n"));
  EXPECT_EQ(client_.socket, -1);
  EXPECT_EQ(client_.client_slot, NO_BIKE);
}

TEST_F(ClientTest, ClientInfoCarriesTheProofAndTheText) {
  client_.password = "letmein";
  connect();
  server_.send(accept());
  service(now_ += 0.01);
  auto info = server_.take(CL_CLIENT_INFO);
  ASSERT_EQ(info.size(), 1u);
  EXPECT_EQ(info[0].proof, password_proof("letmein", 0xabcdef01));
  EXPECT_EQ(info[0].nonce, client_.nonce);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(info[0].payload), (size_t)info[0].payload_length),
            "cr250||||\n12\nTester");
  EXPECT_TRUE(game_.printed_line("Sending client info\n"));
}

TEST_F(ClientTest, HandshakeToRacingWithBikesInOrder) {
  connect();
  server_.send(accept());
  service(now_ += 0.01);
  // A track that is not installed ends the connection.
  server_.send(track(5, "nowhere"));
  service(now_ += 0.01);
  EXPECT_TRUE(game_.printed_line("Can't find track 'nowhere'\n"));
  EXPECT_EQ(client_.state, NET_LEAVING);

  reset_connection(&client_);
  connect();
  server_.send(accept());
  service(now_ += 0.01);
  server_.send(track(5));
  service(now_ += 0.01);
  EXPECT_EQ(client_.state, NET_TRACK_ACKNOWLEDGED);
  EXPECT_EQ(client_.race_id, 5u);
  EXPECT_EQ(client_.gate_drop_tick, 1920);
  auto acks = server_.take(CL_TRACK_ACK);
  ASSERT_EQ(acks.size(), 1u);
  EXPECT_EQ(acks[0].race_id, 5u);

  server_.send(bike(4, "yz125|r|b|w|h\n7\nFour"));
  service(now_ += 0.01);
  auto bike_acks = server_.take(CL_BIKE_ACK);
  ASSERT_EQ(bike_acks.size(), 1u);
  EXPECT_EQ(bike_acks[0].value, 4u);
  EXPECT_TRUE(game_.printed_line("Sending bike acknowledgment 4\n"));
  // At or below the last acknowledged: ignored.
  server_.send(bike(4, "kx250\n9\nAgain"));
  server_.send(bike(2, "kx250\n9\nTwo"));
  service(now_ += 0.01);
  EXPECT_EQ(client_.riders[4].name, "Four");
  EXPECT_EQ(client_.slot_request[2], SLOT_REQUEST_NONE);
  EXPECT_EQ(client_.last_bike_acknowledged, 4);
  // A slot outside the table is ignored; a later one taken.
  server_.send(bike(200, "kx250\n9\nFar"));
  // The server's robot number 3: its rider as sent, its slot as the robot.
  server_.send(bike(9, "kx250\n9\nNine\nrobot 3"));
  service(now_ += 0.01);
  EXPECT_EQ(client_.last_bike_acknowledged, 9);
  // A bike of another race is stale.
  ServerMessage stale = bike(12, "kx250\n9\nStale");
  stale.race_id = 4;
  server_.send(stale);
  service(now_ += 0.01);
  EXPECT_EQ(client_.last_bike_acknowledged, 9);

  server_.send(race_ready(3));
  service(now_ += 0.01);
  EXPECT_EQ(client_.state, NET_WAITING);
  EXPECT_EQ(game_.setups, 1);
  EXPECT_EQ(game_.requests[3], SLOT_REQUEST_SELF);
  EXPECT_EQ(game_.requests[4], SLOT_REQUEST_PLAYER);
  EXPECT_EQ(game_.requests[9], SLOT_REQUEST_ROBOT + 3);
  EXPECT_EQ(game_.riders[9].name, "Nine");
  EXPECT_TRUE(game_.remote[9]);
  EXPECT_EQ(game_.requests[2], SLOT_REQUEST_NONE);
  EXPECT_EQ(game_.riders[4].model, "yz125");
  EXPECT_EQ(game_.riders[3].helmet_skin, "d");
  EXPECT_EQ(game_.race_laps, 2);
  EXPECT_EQ(server_.take(CL_WAITING).size(), 1u);

  server_.send(time_message(2000));
  service(now_ += 0.01);
  EXPECT_EQ(client_.state, NET_RACING);
  EXPECT_TRUE(game_.printed_line("2 laps\n"));
  // The clock jumps to the server's and then runs on by one per service.
  EXPECT_EQ(game_.tick, 2000);
  EXPECT_EQ(client_.latest_server_tick, 2000);
  service(now_ += 0.01);
  EXPECT_EQ(client_.latest_server_tick, 2001);
}

TEST_F(ClientTest, TheServersClockRunsOnWithRealTimeNotWithOurSteps) {
  join_race();
  const int heard = client_.latest_server_tick;
  // Ten steps in no time (a client catching up before the gate drop):
  // the server's clock does not run on with them.
  for (int i = 0; i < 10; i++) net_service(&client_, now_);
  EXPECT_EQ(client_.latest_server_tick, heard);
  net_service(&client_, now_ + 1.0);
  EXPECT_EQ(client_.latest_server_tick, heard + 128);
  // An older tick (a message held up on the way) changes nothing; a newer one is taken.
  server_.send(time_message((uint32_t)heard + 50));
  service(now_ + 1.0);
  EXPECT_EQ(client_.latest_server_tick, heard + 128);
  server_.send(time_message((uint32_t)heard + 300));
  service(now_ + 1.0);
  EXPECT_EQ(client_.latest_server_tick, heard + 300);
}

TEST_F(ClientTest, ModifiedTrackEndsTheConnection) {
  connect();
  server_.send(accept());
  service(now_ += 0.01);
  ServerMessage t = track(5);
  t.digest[7] ^= 1;
  server_.send(t);
  service(now_ += 0.01);
  server_.send(race_ready(3));
  service(now_ += 0.01);
  EXPECT_TRUE(game_.printed_line("Client track modified - does not match server's track (rabbithill)\n"));
  EXPECT_EQ(client_.state, NET_LEAVING);
}

TEST_F(ClientTest, StatesEveryFourthTickWhileRiding) {
  join_race();
  int sent = 0;
  for (int i = 0; i < 16; i++) {
    game_.tick++;
    service(now_ += TICK_SECONDS);
    for (const ClientMessage& m : server_.take(CL_STATE, 0.0)) {
      sent++;
      EXPECT_EQ(m.tick % 4, 0u);
      EXPECT_EQ(m.race_id, 5u);
      EXPECT_EQ(m.slot, 3u);
      EXPECT_EQ(m.record.bytes[0], 0x5a);
      EXPECT_EQ((int)m.server_tick, client_.latest_server_tick);
    }
  }
  EXPECT_EQ(sent, 4);
  // Without a bike nothing goes out.
  game_.has_bike = false;
  for (int i = 0; i < 8; i++) {
    game_.tick++;
    service(now_ += TICK_SECONDS);
  }
  EXPECT_TRUE(server_.take(CL_STATE, 0.05).empty());
}

TEST_F(ClientTest, StateEntriesStaleOutOfRangeAndCut) {
  join_race();
  auto states = [&](std::vector<StateEntry> entries, int cut, uint32_t count) {
    static uint8_t bytes[MAX_DATAGRAM];
    for (size_t i = 0; i < entries.size(); i++) write_state_entry(entries[i], bytes + i * STATE_ENTRY_BYTES);
    ServerMessage m = server_message(SV_STATES);
    m.race_id = 5;
    m.server_tick = 2100;
    m.count = count;
    m.text = bytes;
    m.text_length = (int)entries.size() * STATE_ENTRY_BYTES - cut;
    server_.send(m);
    service(now_ += 0.01);
  };
  StateEntry e = {};
  e.slot = 1;
  e.stamp = 2050;
  e.ping = 9;
  StateEntry older = e;
  older.stamp = 2050;
  StateEntry far = e;
  far.slot = 200;
  far.stamp = 3000;
  StateEntry not_remote = e;
  not_remote.slot = 6;
  states({e, older, far, not_remote}, 0, 4);
  ASSERT_EQ(game_.states.size(), 1u);
  EXPECT_EQ(game_.states[0].slot, 1);
  EXPECT_EQ(game_.states[0].tick, 2050);
  EXPECT_EQ(client_.slot_ping[1], 9);
  EXPECT_FALSE(game_.printed_line("State packet too small\n"));
  // A newer one is taken; an entry cut short is reported and ends the packet.
  StateEntry newer = e;
  newer.stamp = 2054;
  StateEntry after = e;
  after.stamp = 2058;
  states({newer, after}, 1, 2);
  ASSERT_EQ(game_.states.size(), 2u);
  EXPECT_EQ(game_.states[1].tick, 2054);
  EXPECT_TRUE(game_.printed_line("State packet too small\n"));
  // A count far beyond the datagram stops at the first missing entry.
  StateEntry last = e;
  last.stamp = 2062;
  states({last}, 0, 0xffffffffu);
  EXPECT_EQ(game_.states.size(), 3u);
  EXPECT_EQ(game_.count_printed("State packet too small\n"), 2);
}

TEST_F(ClientTest, ReliableMessagesTwiceAndOutOfOrder) {
  join_race();
  server_.send(reliable(0, RELIABLE_TEXT, "first"));
  server_.send(reliable(0, RELIABLE_TEXT, "first"));
  service(now_ += 0.01);
  auto acks = server_.take(CL_ACK);
  ASSERT_EQ(acks.size(), 2u);
  EXPECT_EQ(acks[0].value, 0u);
  EXPECT_EQ(acks[1].value, 0u);
  EXPECT_EQ(game_.console, std::vector<std::string>({"first"}));
  // Expecting 1: 3, 2, 1 arrive and are handled 1, 2, 3.
  server_.send(reliable(3, RELIABLE_TEXT, "three"));
  service(now_ += 0.01);
  server_.send(reliable(2, RELIABLE_TEXT, "two"));
  service(now_ += 0.01);
  EXPECT_EQ(game_.console.size(), 1u);
  server_.send(reliable(1, RELIABLE_TEXT, "one"));
  service(now_ += 0.01);
  EXPECT_EQ(game_.console, std::vector<std::string>({"first", "one", "two", "three"}));
  EXPECT_TRUE(game_.printed_line("three\n"));
}

TEST_F(ClientTest, ServerCommands) {
  join_race();
  uint32_t seq = 0;
  auto command = [&](const std::string& text) {
    server_.send(reliable(seq++, RELIABLE_COMMAND, text));
    service(now_ += 0.01);
  };
  command("knockout 5 10");
  EXPECT_EQ(client_.knockout[0], 5);
  for (int i = 1; i < KNOCKOUT_ENTRIES; i++) EXPECT_EQ(client_.knockout[i], 10) << i;
  command("knockout x 3");
  EXPECT_EQ(client_.knockout[0], 0);
  EXPECT_EQ(client_.knockout[1], 3);
  EXPECT_EQ(client_.knockout[15], 3);
  command("knockoutx 9");  // not the whole word
  EXPECT_EQ(client_.knockout[0], 0);
  command("off_course_bias 4.5");
  command("off_course_scale 2");
  command("off_course_scale nan");
  EXPECT_DOUBLE_EQ(client_.off_course_bias, 4.5);
  EXPECT_DOUBLE_EQ(client_.off_course_scale, 2.0);
  command("no_arcade");
  command("no_arcade");
  EXPECT_TRUE(client_.arcade_disabled);
  EXPECT_EQ(game_.count_printed("Arcade physics disabled\n"), 1);
  // A disconnect puts the switches back.
  reset_connection(&client_);
  EXPECT_FALSE(client_.arcade_disabled);
  EXPECT_DOUBLE_EQ(client_.off_course_bias, DEFAULT_OFF_COURSE_BIAS);
  EXPECT_DOUBLE_EQ(client_.off_course_scale, DEFAULT_OFF_COURSE_SCALE);
  EXPECT_EQ(client_.knockout[1], 0);
}

TEST_F(ClientTest, TimingEntriesReachOtherBikesAndLapReportsGoOut) {
  join_race();
  uint8_t p[8 + 3 * 12];
  write_u32(p, 5);
  write_u32(p + 4, 3);
  const uint32_t entries[3][3] = {{1, 0, 2100}, {3, 0, 2101}, {250, 0, 1}};
  for (int i = 0; i < 3; i++)
    for (int j = 0; j < 3; j++) write_u32(p + 8 + i * 12 + j * 4, entries[i][j]);
  server_.send(reliable(0, RELIABLE_TIMING, std::string(reinterpret_cast<char*>(p), sizeof p)));
  service(now_ += 0.01);
  ASSERT_EQ(game_.applied.size(), 1u);  // not our own slot 3, not slot 250
  EXPECT_EQ(game_.applied[0].slot, 1);
  EXPECT_EQ(game_.applied[0].tick, 2100);
  EXPECT_EQ(game_.standings, 1);
  // Another race's entries are not applied.
  write_u32(p, 4);
  server_.send(reliable(1, RELIABLE_TIMING, std::string(reinterpret_cast<char*>(p), sizeof p)));
  service(now_ += 0.01);
  EXPECT_EQ(game_.applied.size(), 1u);

  server_.receive_all(0.05);
  game_.own_count = 1;
  game_.own_tick = 2222;
  service(now_ += 0.01);  // queued after the queue's head went out
  service(now_ += 0.01);
  auto reports = server_.take(CL_RELIABLE);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].subtype, RELIABLE_TIMING);
  ASSERT_EQ(reports[0].payload_length, 12);
  EXPECT_EQ(read_u32(reports[0].payload), 5u);
  EXPECT_EQ(read_u32(reports[0].payload + 4), 0u);
  EXPECT_EQ(read_u32(reports[0].payload + 8), 2222u);
  // Resent after half a second until acknowledged, then gone.
  service(now_ += 0.2);
  EXPECT_TRUE(server_.take(CL_RELIABLE, 0.05).empty());
  service(now_ += 0.4);
  EXPECT_EQ(server_.take(CL_RELIABLE).size(), 1u);
  ServerMessage ack = server_message(SV_ACK);
  ack.sequence = reports[0].value;
  server_.send(ack);
  service(now_ += 0.01);
  EXPECT_TRUE(client_.outgoing.queue.empty());
}

TEST_F(ClientTest, RestartGoesBackThroughTheTrack) {
  join_race();
  ServerMessage restart = server_message(SV_RESTART);
  restart.race_id = 4;  // not above the held one
  server_.send(restart);
  service(now_ += 0.01);
  EXPECT_EQ(client_.state, NET_RACING);
  restart.race_id = 6;
  server_.send(restart);
  service(now_ += 0.01);
  EXPECT_EQ(client_.state, NET_RESTARTING);
  auto acks = server_.take(CL_RESTART_ACK);
  ASSERT_EQ(acks.size(), 1u);
  EXPECT_EQ(acks[0].race_id, 6u);
  // The old race's track is ignored, the new one taken.
  server_.send(track(5));
  service(now_ += 0.01);
  EXPECT_EQ(client_.state, NET_RESTARTING);
  server_.send(track(6));
  service(now_ += 0.01);
  EXPECT_EQ(client_.state, NET_TRACK_ACKNOWLEDGED);
  EXPECT_EQ(client_.riding_slot, NO_BIKE);
  EXPECT_EQ(client_.latest_server_tick, 0);
  EXPECT_EQ(client_.slot_request[1], SLOT_REQUEST_NONE);
}

TEST_F(ClientTest, FixedFileMismatchAndBadAddresses) {
  client_.fixed_files_match = false;
  net_connect(&client_, server_.address().c_str());
  net_service(&client_, now_);
  EXPECT_TRUE(game_.printed_line("Fixed file mismatch\n"));
  EXPECT_EQ(client_.socket, -1);
  EXPECT_TRUE(client_.pending_address.empty());
  client_.fixed_files_match = true;
  net_connect(&client_, "localhost:abc");
  net_service(&client_, now_);
  EXPECT_TRUE(game_.printed_line("Can't resolve address\n"));
  EXPECT_EQ(client_.socket, -1);
}

TEST_F(ClientTest, RedirectWithOurNonceOnly) {
  connect();
  BareServer other;
  const std::string target = other.address();
  ServerMessage r = server_message(SV_REDIRECT);
  r.nonce = client_.nonce + 1;
  r.text = reinterpret_cast<const uint8_t*>(target.data());
  r.text_length = (int)target.size();
  server_.send(r);
  service(now_ += 0.01);
  EXPECT_EQ(client_.server_address.port, server_.port);
  r.nonce = client_.nonce;
  server_.send(r);
  service(now_ += 0.01);
  EXPECT_EQ(client_.server_address.port, other.port);
  EXPECT_EQ(other.take(CL_CONTACT).size(), 1u);
}

TEST_F(ClientTest, DatagramsFromOtherAddressesAreIgnored) {
  connect();
  BareServer stranger;
  stranger.client = server_.client;
  stranger.send(accept());
  service(now_ += 0.01);
  EXPECT_EQ(client_.state, NET_CONTACTING);
  server_.send(server_message(SV_FULL));
  service(now_ += 0.01);
  EXPECT_TRUE(game_.printed_line("Server is full\n"));
  EXPECT_EQ(client_.state, NET_CONTACTING);
}

TEST_F(ClientTest, FakeLossDropsAndFakeLagHolds) {
  set_fake_link(&client_, 0.0, 100, 1);
  net_connect(&client_, server_.address().c_str());
  net_service(&client_, now_);
  EXPECT_TRUE(server_.take(CL_CONTACT, 0.1).empty());
  reset_connection(&client_);
  set_fake_link(&client_, 0.3, 0, 1);
  net_connect(&client_, server_.address().c_str());
  net_service(&client_, now_);
  EXPECT_TRUE(server_.take(CL_CONTACT, 0.05).empty());
  net_service(&client_, now_ + 0.29);
  EXPECT_TRUE(server_.take(CL_CONTACT, 0.05).empty());
  net_service(&client_, now_ + 0.31);
  EXPECT_EQ(server_.take(CL_CONTACT).size(), 1u);
  // Received datagrams wait too.
  server_.send(accept());
  service(now_ + 0.35);
  EXPECT_EQ(client_.state, NET_CONTACTING);
  net_service(&client_, now_ + 0.7);
  EXPECT_EQ(client_.state, NET_LOGGING_IN);
}

TEST_F(ClientTest, DisconnectBeforeAndAfterAcceptance) {
  connect();
  net_disconnect(&client_);
  EXPECT_EQ(client_.socket, -1);
  connect();
  server_.send(accept());
  service(now_ += 0.01);
  net_disconnect(&client_);
  EXPECT_EQ(client_.state, NET_LEAVING);
  service(now_ += 0.01);
  EXPECT_EQ(server_.take(CL_DISCONNECT).size(), 1u);
  // At program end one more goes out and the socket closes.
  net_shutdown(&client_);
  EXPECT_EQ(client_.socket, -1);
  EXPECT_EQ(server_.take(CL_DISCONNECT).size(), 1u);
}

TEST(RaceFormat, LapsMinutesAndBoth) {
  EXPECT_EQ(race_format_text(0, 3), "3 laps");
  EXPECT_EQ(race_format_text(10 * 60 * 128, 0), "10 minutes");
  EXPECT_EQ(race_format_text(10 * 60 * 128 + 100, 2), "10 minutes + 2 laps");
  EXPECT_EQ(race_format_text(90 * 128, 1), "2 minutes + 1 laps");
}

TEST(CommandWord, WholeWordsOnly) {
  const char* args = nullptr;
  EXPECT_TRUE(command_word("sendready", "sendready", &args));
  EXPECT_STREQ(args, "");
  EXPECT_TRUE(command_word("knockout\t1 2", "knockout", &args));
  EXPECT_STREQ(args, "1 2");
  EXPECT_FALSE(command_word("sendreadyx", "sendready", &args));
  EXPECT_FALSE(command_word("send", "sendready", &args));
}

class UploadTest : public ClientTest {
 protected:
  void SetUp() override {
    ClientTest::SetUp();
    char pattern[] = "/tmp/dv_upload_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    std::filesystem::create_directories(root_ + "/outgoing");
    set_search_directories({root_});
  }
  void TearDown() override {
    ClientTest::TearDown();
    std::filesystem::remove_all(root_);
  }
  std::string root_;
};

TEST_F(UploadTest, NameRulesAndTheConnection) {
  start_upload(&client_, "../secret");
  EXPECT_TRUE(game_.printed_line("Filename may only contain alphanumeric characters, '_' or '.'\n"));
  game_.printed.clear();
  start_upload(&client_, "..");
  EXPECT_TRUE(game_.printed_line("Filename may only contain alphanumeric characters, '_' or '.'\n"));
  start_upload(&client_, std::string(460, 'a').c_str());
  EXPECT_TRUE(game_.printed_line("Filename too long\n"));
  start_upload(&client_, "missing.txt");
  EXPECT_TRUE(game_.printed_line("Can't open file\n"));
  FILE* f = fopen((root_ + "/outgoing/lap.txt").c_str(), "wb");
  fputs("hello", f);
  fclose(f);
  invalidate_catalogue();
  start_upload(&client_, "lap.txt");
  EXPECT_TRUE(game_.printed_line("Not connected to server\n"));
  EXPECT_EQ(client_.upload.file, nullptr);
}

TEST_F(UploadTest, PartsFlowAfterSendReadyAndEndWithTheName) {
  std::string content;
  for (int i = 0; i < 600; i++) content += (char)('a' + i % 26);
  FILE* f = fopen((root_ + "/outgoing/big.txt").c_str(), "wb");
  fwrite(content.data(), 1, content.size(), f);
  fclose(f);
  invalidate_catalogue();
  join_race();
  start_upload(&client_, "big.txt");
  EXPECT_TRUE(game_.printed_line("Sending file\n"));
  service(now_ += 0.01);
  auto ask = server_.take(CL_RELIABLE);
  ASSERT_EQ(ask.size(), 1u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(ask[0].payload), (size_t)ask[0].payload_length), "sendfile");
  uint32_t server_seq = 0;
  auto ack = [&](uint32_t sequence) {
    ServerMessage a = server_message(SV_ACK);
    a.sequence = sequence;
    server_.send(a);
  };
  ack(ask[0].value);
  server_.send(reliable(server_seq++, RELIABLE_COMMAND, "sendready"));
  std::string received;
  std::string closing;
  std::set<uint32_t> seen = {ask[0].value};
  for (int i = 0; i < 40 && closing.empty(); i++) {
    service(now_ += 0.13);
    for (const ClientMessage& m : server_.take(CL_RELIABLE, 0.02)) {
      std::string payload(reinterpret_cast<const char*>(m.payload), (size_t)m.payload_length);
      if (!seen.insert(m.value).second) continue;
      if (payload.rfind("sendpart -", 0) == 0) {
        received += payload.substr(10);
      } else {
        closing = payload;
      }
      ack(m.value);
    }
  }
  EXPECT_EQ(received, content);
  EXPECT_EQ(closing, "namefile big.txt");
  EXPECT_EQ(client_.upload.file, nullptr);
}

TEST_F(UploadTest, SendDeniedClosesTheFile) {
  FILE* f = fopen((root_ + "/outgoing/x.txt").c_str(), "wb");
  fputs("x", f);
  fclose(f);
  invalidate_catalogue();
  join_race();
  start_upload(&client_, "x.txt");
  ASSERT_NE(client_.upload.file, nullptr);
  start_upload(&client_, "x.txt");
  EXPECT_TRUE(game_.printed_line("Stopping previous transfer\n"));
  server_.send(reliable(0, RELIABLE_COMMAND, "senddenied"));
  service(now_ += 0.01);
  EXPECT_TRUE(game_.printed_line("Send file denied\n"));
  EXPECT_EQ(client_.upload.file, nullptr);
}

}  // namespace

#include "core/command_line.h"
#include "core/game_hooks.h"
#include "net/game_client.h"

TEST(GameClient, InstallTakesTheOptionsAndFillsTheNetSection) {
  RunOptions saved = g_run_options;
  g_run_options.fake_lag = 0.2;
  g_run_options.fake_loss = 30;
  g_run_options.password = "pw";
  g_run_options.fixed_files_match = false;
  g_run_options.connect = "127.0.0.1:1";
  static int tick = 0;
  NetClientHooks hooks = {};
  hooks.current_tick = [](void*) { return tick; };
  install_net_client(hooks);
  EXPECT_EQ(g_net_client.fake_send.loss, 30);
  EXPECT_DOUBLE_EQ(g_net_client.fake_receive.lag, 0.2);
  EXPECT_EQ(g_net_client.password, "pw");
  EXPECT_FALSE(g_net_client.fixed_files_match);
  EXPECT_EQ(g_net_client.pending_address, "127.0.0.1:1");
  ASSERT_NE(g_game_hooks.net.state, nullptr);
  ASSERT_NE(g_game_hooks.net.step, nullptr);
  ASSERT_NE(g_game_hooks.net.disconnect, nullptr);
  ASSERT_NE(g_net_client.hooks.console_text, nullptr);  // into the demo being recorded
  g_net_client.socket = open_socket();
  g_net_client.pending_address.clear();
  g_net_client.client_slot = 4;
  g_net_client.state = NET_RACING;
  g_net_client.laps = 2;
  g_net_client.latest_server_tick = 900;
  g_net_client.gate_drop_tick = 1920;
  tick = 880;
  NetState state;
  g_game_hooks.net.state(&state);
  EXPECT_TRUE(state.connected);
  EXPECT_TRUE(state.server_race_running);
  EXPECT_TRUE(state.first_server_tick_seen);
  EXPECT_EQ(state.newest_server_tick, 900);
  EXPECT_EQ(state.local_tick, 880);
  EXPECT_EQ(state.gate_drop_tick, 1920);
  // Warmup: a race of no laps and no time.
  g_net_client.laps = 0;
  g_game_hooks.net.state(&state);
  EXPECT_FALSE(state.server_race_running);
  g_game_hooks.net.disconnect();
  EXPECT_EQ(g_net_client.socket, -1);
  g_game_hooks.net = NetHooks();
  g_run_options = saved;
}
