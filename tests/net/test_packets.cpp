#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "net/packets.h"

namespace {

std::vector<uint8_t> encode(const ClientMessage& m) {
  std::vector<uint8_t> bytes(MAX_DATAGRAM);
  int n = encode_client_message(m, bytes.data(), (int)bytes.size());
  bytes.resize(n < 0 ? 0 : (size_t)n);
  return bytes;
}

}  // namespace

TEST(ClientMessages, EveryTypeHasItsLayoutSizeAndRoundTrips) {
  const uint8_t payload[5] = {'h', 'e', 'l', 'l', 'o'};
  struct Case {
    uint8_t type;
    int size;
  } cases[] = {{CL_CONTACT, 21},    {CL_CLIENT_INFO, 46},     {CL_TRACK_ACK, 13},     {CL_BIKE_ACK, 17},
               {CL_WAITING, 13},    {CL_STATE, 60},           {CL_RESTART_REQUEST, 13}, {CL_RESTART_ACK, 13},
               {CL_DISCONNECT, 9},  {CL_RELIABLE, 19},        {CL_ACK, 13}};
  for (const Case& c : cases) {
    ClientMessage m = client_message(c.type, 7, 0xdeadbeef);
    m.race_id = 42;
    m.value = 99;
    m.server_tick = 1000;
    m.tick = 996;
    for (int i = 0; i < STATE_RECORD_BYTES; i++) m.record.bytes[i] = (uint8_t)(i * 3);
    m.password = true;
    m.protocol = CLIENT_PROTOCOL;
    m.nonce = 0x01020304;
    m.proof = 0x0a0b0c0d;
    m.subtype = RELIABLE_TEXT;
    m.payload = payload;
    m.payload_length = 5;
    std::vector<uint8_t> bytes = encode(m);
    ASSERT_EQ((int)bytes.size(), c.size) << "type " << (int)c.type;
    EXPECT_EQ(bytes[0], c.type);
    ClientMessage d;
    ASSERT_TRUE(decode_client_message(bytes.data(), (int)bytes.size(), &d)) << (int)c.type;
    EXPECT_EQ(d.type, c.type);
    if (c.type == CL_CONTACT) {
      EXPECT_TRUE(d.password);
      EXPECT_EQ(d.protocol, CLIENT_PROTOCOL);
      EXPECT_EQ(d.nonce, 0x01020304u);
      EXPECT_EQ(bytes[1], 1);
      continue;
    }
    EXPECT_EQ(d.slot, 7u);
    EXPECT_EQ(d.key, 0xdeadbeefu);
    if (c.type == CL_STATE) {
      EXPECT_EQ(d.race_id, 42u);
      EXPECT_EQ(d.server_tick, 1000u);
      EXPECT_EQ(d.tick, 996u);
      EXPECT_EQ(memcmp(d.record.bytes, m.record.bytes, STATE_RECORD_BYTES), 0);
    }
    if (c.type == CL_BIKE_ACK) {
      EXPECT_EQ(d.value, 99u);
    }
    if (c.type == CL_CLIENT_INFO || c.type == CL_RELIABLE) {
      ASSERT_EQ(d.payload_length, 5);
      EXPECT_EQ(memcmp(d.payload, payload, 5), 0);
    }
    if (c.type == CL_CLIENT_INFO) {
      EXPECT_EQ(d.proof, 0x0a0b0c0du);
      EXPECT_EQ(d.nonce, 0x01020304u);
    }
    if (c.type == CL_RELIABLE) {
      EXPECT_EQ(d.subtype, RELIABLE_TEXT);
    }
  }
}

TEST(ClientMessages, AnyOtherLengthIsRefused) {
  for (uint8_t type : {CL_CONTACT, CL_TRACK_ACK, CL_BIKE_ACK, CL_WAITING, CL_STATE, CL_RESTART_REQUEST,
                       CL_RESTART_ACK, CL_DISCONNECT, CL_ACK}) {
    const int size = client_message_min_length(type);
    std::vector<uint8_t> bytes((size_t)size + 1, 0);
    bytes[0] = type;
    ClientMessage d;
    EXPECT_TRUE(decode_client_message(bytes.data(), size, &d)) << (int)type;
    EXPECT_FALSE(decode_client_message(bytes.data(), size - 1, &d)) << (int)type;
    EXPECT_FALSE(decode_client_message(bytes.data(), size + 1, &d)) << (int)type;
  }
  std::vector<uint8_t> reliable(MAX_RELIABLE_DATAGRAM + 1, 0);
  reliable[0] = CL_RELIABLE;
  ClientMessage d;
  EXPECT_TRUE(decode_client_message(reliable.data(), MAX_RELIABLE_DATAGRAM, &d));
  EXPECT_EQ(d.payload_length, MAX_RELIABLE_PAYLOAD);
  EXPECT_FALSE(decode_client_message(reliable.data(), MAX_RELIABLE_DATAGRAM + 1, &d));
  EXPECT_FALSE(decode_client_message(reliable.data(), 13, &d));
  const uint8_t unknown[13] = {2};
  EXPECT_FALSE(decode_client_message(unknown, 13, &d));
  EXPECT_FALSE(decode_client_message(unknown, 0, &d));
}

TEST(ClientMessages, PayloadBeyondTheReliableLimitIsNotEncoded) {
  std::vector<uint8_t> payload(MAX_RELIABLE_PAYLOAD + 1, 'x');
  ClientMessage m = client_message(CL_RELIABLE, 1, 2);
  m.payload = payload.data();
  m.payload_length = MAX_RELIABLE_PAYLOAD + 1;
  uint8_t bytes[MAX_DATAGRAM];
  EXPECT_EQ(encode_client_message(m, bytes, sizeof bytes), -1);
  m.payload_length = MAX_RELIABLE_PAYLOAD;
  EXPECT_EQ(encode_client_message(m, bytes, sizeof bytes), MAX_RELIABLE_DATAGRAM);
}

TEST(ServerMessages, ShortDatagramsAreRefusedAndTextRunsToTheEnd) {
  for (int type = 0; type < 256; type++) {
    const int size = server_message_min_length((uint8_t)type);
    if (size < 0) continue;
    std::vector<uint8_t> bytes((size_t)size + 4, 'a');
    bytes[0] = (uint8_t)type;
    ServerMessage m;
    EXPECT_TRUE(decode_server_message(bytes.data(), size, &m)) << type;
    if (size > 1) {
      EXPECT_FALSE(decode_server_message(bytes.data(), size - 1, &m)) << type;
    }
  }
  ServerMessage track = server_message(SV_TRACK);
  track.race_id = 3;
  track.race_time = 7680;
  track.laps = 2;
  track.gate_drop_tick = 1920;
  for (int i = 0; i < TRACK_DIGEST_BYTES; i++) track.digest[i] = (uint8_t)(200 + i);
  const char name[] = "rabbithill";
  track.text = reinterpret_cast<const uint8_t*>(name);
  track.text_length = 10;
  uint8_t bytes[MAX_DATAGRAM];
  int n = encode_server_message(track, bytes, sizeof bytes);
  ASSERT_EQ(n, 37 + 10);
  ServerMessage d;
  ASSERT_TRUE(decode_server_message(bytes, n, &d));
  EXPECT_EQ(d.race_id, 3u);
  EXPECT_EQ(d.race_time, 7680u);
  EXPECT_EQ(d.laps, 2u);
  EXPECT_EQ(d.gate_drop_tick, 1920u);
  EXPECT_EQ(memcmp(d.digest, track.digest, TRACK_DIGEST_BYTES), 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(d.text), (size_t)d.text_length), "rabbithill");
  uint8_t unknown[8] = {3};
  EXPECT_FALSE(decode_server_message(unknown, 8, &d));
}

TEST(ServerMessages, StateEntriesMustLieWhollyInsideTheDatagram) {
  uint8_t bytes[MAX_DATAGRAM] = {};
  ServerMessage m = server_message(SV_STATES);
  m.race_id = 1;
  m.server_tick = 500;
  m.count = 3;
  uint8_t entries[3 * STATE_ENTRY_BYTES];
  for (int i = 0; i < 3; i++) {
    StateEntry e = {};
    e.slot = (uint16_t)(i + 4);
    e.ping = 12;
    e.stamp = 400u + (uint32_t)i;
    e.record.bytes[0] = (uint8_t)i;
    write_state_entry(e, entries + i * STATE_ENTRY_BYTES);
  }
  m.text = entries;
  m.text_length = (int)sizeof entries - 1;  // the last entry is one byte short
  int n = encode_server_message(m, bytes, sizeof bytes);
  ASSERT_EQ(n, STATES_HEADER_BYTES + 3 * STATE_ENTRY_BYTES - 1);
  ServerMessage d;
  ASSERT_TRUE(decode_server_message(bytes, n, &d));
  EXPECT_EQ(d.count, 3u);
  StateEntry e;
  ASSERT_TRUE(state_entry(d, 1, &e));
  EXPECT_EQ(e.slot, 5);
  EXPECT_EQ(e.ping, 12);
  EXPECT_EQ(e.stamp, 401u);
  EXPECT_EQ(e.record.bytes[0], 1);
  EXPECT_FALSE(state_entry(d, 2, &e));
  EXPECT_FALSE(state_entry(d, -1, &e));
  EXPECT_FALSE(state_entry(d, 1 << 30, &e));
}

TEST(ClientInfoText, LongFormShortFormAndParsing) {
  DemoRider r;
  r.model = "cr250";
  r.rider_skin = "red";
  r.bike_skin = "stock";
  r.wheel_skin = "";
  r.helmet_skin = "white";
  r.number = "27";
  r.name = "Mo";
  EXPECT_EQ(client_info_text(r, 466), "cr250|red|stock||white\n27\nMo");
  EXPECT_EQ(client_info_text(r, 20), "cr250\n27\nMo");
  EXPECT_EQ(client_info_text(r, 5), "cr250");

  const std::string text = "cr250|red|stock||white\n27x\nMo";
  DemoRider p;
  parse_client_info_text(reinterpret_cast<const uint8_t*>(text.data()), (int)text.size(), &p);
  EXPECT_EQ(p.model, "cr250");
  EXPECT_EQ(p.rider_skin, "red");
  EXPECT_EQ(p.bike_skin, "stock");
  EXPECT_EQ(p.wheel_skin, "");
  EXPECT_EQ(p.helmet_skin, "white");
  EXPECT_EQ(p.number, "27x");
  EXPECT_EQ(p.name, "Mo");

  // The short form leaves the skins unset; a long number keeps three characters.
  const std::string short_form = "yz125\n1234\nSam\nextra";
  DemoRider q = r;
  parse_client_info_text(reinterpret_cast<const uint8_t*>(short_form.data()), (int)short_form.size(), &q);
  EXPECT_EQ(q.model, "yz125");
  EXPECT_EQ(q.rider_skin, "");
  EXPECT_EQ(q.helmet_skin, "");
  EXPECT_EQ(q.number, "123");
  EXPECT_EQ(q.name, "Sam");

  // Control characters and over-long fields from a hostile server.
  std::string bad = std::string(300, 'm') + "|a\x01zz|b\n9\n" + std::string(1, '\0') + "x";
  DemoRider b;
  parse_client_info_text(reinterpret_cast<const uint8_t*>(bad.data()), (int)bad.size(), &b);
  EXPECT_EQ(b.model.size(), (size_t)CLIENT_INFO_FIELD_MAX);
  EXPECT_EQ(b.rider_skin, "a");
  EXPECT_EQ(b.bike_skin, "b");
  EXPECT_EQ(b.number, "9");
  EXPECT_EQ(b.name, "");
}

int robot_of(const std::string& text) {
  return robot_number_of_text(reinterpret_cast<const uint8_t*>(text.data()), (int)text.size());
}

TEST(ClientInfoText, RobotLinesFollowTheNameAndAreReadStrictly) {
  DemoRider r;
  r.model = "cr250";
  r.number = "901";
  r.name = "Robot 2";
  const std::string text = robot_bike_text(r, 1, 466);
  EXPECT_EQ(text, "cr250||||\n901\nRobot 2\nrobot 1");
  EXPECT_EQ(robot_of(text), 1);
  // The rider's own fields are read as before: the robot line is past the name.
  DemoRider p;
  parse_client_info_text(reinterpret_cast<const uint8_t*>(text.data()), (int)text.size(), &p);
  EXPECT_EQ(p.name, "Robot 2");
  EXPECT_EQ(p.number, "901");
  // A tight limit cuts the rider's text, never the robot line, and the line
  // still starts after a third line feed.
  for (int limit : {30, 20, 12}) {
    const std::string cut = robot_bike_text(r, 37, limit);
    EXPECT_LE((int)cut.size(), limit) << cut;
    EXPECT_EQ(robot_of(cut), 37) << limit;
  }

  EXPECT_EQ(robot_of("cr250\n9\nMo"), -1);             // a player
  EXPECT_EQ(robot_of("cr250\n9\nMo\n"), -1);
  EXPECT_EQ(robot_of("cr250\n9\nMo\nrobot "), -1);
  EXPECT_EQ(robot_of("cr250\n9\nMo\nrobot x"), -1);
  EXPECT_EQ(robot_of("cr250\n9\nMo\nrobot 5 "), -1);
  EXPECT_EQ(robot_of("cr250\n9\nMo\nrobot -5"), -1);
  EXPECT_EQ(robot_of("cr250\n9\nMo\nrobots 5"), -1);
  EXPECT_EQ(robot_of("cr250\n9\nMo\nrobot 10000"), -1);  // out of range
  EXPECT_EQ(robot_of("cr250\n9\nMo\nrobot 99999999999999999999"), -1);
  EXPECT_EQ(robot_of("cr250\n9\nrobot 5"), -1);        // a rider named so is no robot
  EXPECT_EQ(robot_of("cr250\n9\nMo\nrobot 9999"), 9999);
  EXPECT_EQ(robot_of(""), -1);
}

TEST(PasswordProof, DigestBytesThreeToZeroOnTheWire) {
  // RIPEMD-160("secret" 78 56 34 12) = dc6f875c b18275ba ... (computed apart).
  uint32_t proof = password_proof("secret", 0x12345678u);
  uint8_t wire[4];
  write_u32(wire, proof);
  EXPECT_EQ(wire[0], 0x5c);
  EXPECT_EQ(wire[1], 0x87);
  EXPECT_EQ(wire[2], 0x6f);
  EXPECT_EQ(wire[3], 0xdc);
  EXPECT_EQ(password_proof("", 0x12345678u), 0u);
  EXPECT_NE(password_proof("secret", 0x12345679u), proof);
  // Any length, long ones included.
  for (size_t length : {1, 55, 56, 64, 1000, 100000}) {
    std::string p(length, 'k');
    EXPECT_NE(password_proof(p, 1), password_proof(p, 2)) << length;
  }
}

TEST(Nonce, MicrosecondsThroughTheGenerator) {
  EXPECT_EQ(make_nonce(0), 12345u);
  EXPECT_EQ(make_nonce(1), 1103515245u + 12345u);
  EXPECT_EQ(make_nonce(999999), (uint32_t)(999999u * 1103515245u + 12345u));
}
