// The race protocol's datagrams: the layout of every message in both
// directions, bounds-checked little-endian reading and writing, the state
// entries of a states message, the client info text, and the password proof.
//
// Decoding never reads past the datagram: a message shorter than its layout
// (or, from a client, of any other length than its layout) is refused, and
// text and payload fields point into the datagram with their length.
#pragma once

#include <cstdint>
#include <string>

#include "replay/demo.h"
#include "replay/state_record.h"

constexpr int MAX_DATAGRAM = 1023;        // receive buffer of both ends
constexpr int MAX_RELIABLE_DATAGRAM = 480;
constexpr int MAX_RELIABLE_PAYLOAD = 466;  // 480 less the client's 14-byte header
constexpr uint32_t CLIENT_PROTOCOL = 25;   // sent in the contact message
constexpr uint32_t SERVER_PROTOCOL_VERSION = 6;  // the server's accept carries it
constexpr int STATE_ENTRY_BYTES = 2 + 2 + 4 + STATE_RECORD_BYTES;  // 47
constexpr int STATES_HEADER_BYTES = 17;
constexpr int MAX_STATE_ENTRIES = (MAX_DATAGRAM - STATES_HEADER_BYTES) / STATE_ENTRY_BYTES;  // 21
constexpr int TRACK_DIGEST_BYTES = 20;
constexpr int REDIRECT_ADDRESS_MAX = 127;
// Longest client info text a client info message carries (the datagram stays
// within the reliable size).
constexpr int CLIENT_INFO_TEXT_MAX = MAX_RELIABLE_DATAGRAM - 41;

// Client to server.
enum ClientMessageType : uint8_t {
  CL_CONTACT = 0,
  CL_CLIENT_INFO = 3,
  CL_TRACK_ACK = 5,
  CL_BIKE_ACK = 7,
  CL_WAITING = 9,
  CL_STATE = 11,
  CL_RESTART_REQUEST = 13,
  CL_RESTART_ACK = 14,
  CL_DISCONNECT = 15,
  CL_RELIABLE = 17,
  CL_ACK = 18,
};

// Server to client.
enum ServerMessageType : uint8_t {
  SV_FULL = 1,
  SV_ACCEPT = 2,
  SV_TRACK = 4,
  SV_BIKE = 6,
  SV_RACE_READY = 8,
  SV_TIME = 10,
  SV_STATES = 11,
  SV_VALUE = 13,
  SV_RESTART = 14,
  SV_DISCONNECTED = 15,
  SV_ERROR = 16,
  SV_RELIABLE = 17,
  SV_ACK = 18,
  SV_REDIRECT = 25,
};

// Subtypes of reliable messages.
enum ReliableSubtype : uint8_t {
  RELIABLE_CLIENT_INFO = 3,
  RELIABLE_TEXT = 19,     // chat from a client, console text from the server
  RELIABLE_TIMING = 21,   // lap report from a client, timing entries from the server
  RELIABLE_COMMAND = 24,  // file transfer and server commands
};

// One client message, decoded or to encode. Which fields count depends on
// the type (see the comments); payload points into the datagram.
struct ClientMessage {
  uint8_t type;
  uint32_t slot, key;         // every type but the contact
  uint32_t race_id;           // 5, 7, 9, 11, 14
  uint32_t value;             // 7: last bike acknowledged; 13: the request value; 17, 18: sequence
  uint32_t server_tick, tick; // 11: latest server tick, current tick
  StateRecord record;         // 11
  bool password;              // 0: a password is set
  uint32_t protocol, nonce;   // 0 (protocol, nonce), 3 (nonce)
  uint32_t proof;             // 3
  uint8_t subtype;            // 17
  const uint8_t* payload;     // 3: the client info text; 17: the payload
  int payload_length;
};

// One server message, decoded or to encode.
struct ServerMessage {
  uint8_t type;
  uint32_t slot, key, version;        // 2
  uint32_t race_id;                   // 4, 6, 8, 10, 11, 14
  uint32_t race_time, laps, gate_drop_tick;  // 4
  uint8_t digest[TRACK_DIGEST_BYTES];        // 4
  uint32_t bike_slot;                 // 6: the bike's slot; 8: the riding slot
  uint32_t server_tick, echo;         // 10, 11
  uint32_t count;                     // 11: entries announced (not checked against the length)
  uint32_t value;                     // 13
  uint32_t sequence;                  // 17, 18
  uint8_t subtype;                    // 17
  uint32_t nonce;                     // 25
  const uint8_t* text;                // 4 track name, 6 and 8 client info, 16 error text,
  int text_length;                    // 17 payload, 25 address; 11: the entry bytes
};

// The smallest datagram of each type; -1 for types outside the protocol.
int client_message_min_length(uint8_t type);
int server_message_min_length(uint8_t type);

// Strict: the type must be known and the length exactly the layout's (at
// least the layout's for the types ending in text or payload, at most
// MAX_RELIABLE_DATAGRAM for those). False otherwise; *out is then undefined.
bool decode_client_message(const uint8_t* bytes, int length, ClientMessage* out);
// Lenient about trailing bytes (text runs to the end), strict about short
// ones: false for an unknown type or a datagram shorter than its layout.
bool decode_server_message(const uint8_t* bytes, int length, ServerMessage* out);

// Encoders return the datagram's length, or -1 when it would not fit.
int encode_client_message(const ClientMessage& message, uint8_t* out, int capacity);
int encode_server_message(const ServerMessage& message, uint8_t* out, int capacity);

// A zeroed message of the type.
ClientMessage client_message(uint8_t type, uint32_t slot, uint32_t key);
ServerMessage server_message(uint8_t type);

// --- states message entries -------------------------------------------------------

struct StateEntry {
  uint16_t slot;
  uint16_t ping;   // ticks
  uint32_t stamp;  // tick
  StateRecord record;
};

// Entry i of a decoded states message; false when it does not lie wholly
// inside the datagram.
bool state_entry(const ServerMessage& states, int index, StateEntry* out);
void write_state_entry(const StateEntry& entry, uint8_t* out);

// --- little-endian fields -----------------------------------------------------------

inline uint32_t read_u32(const uint8_t* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}
inline uint16_t read_u16(const uint8_t* p) { return (uint16_t)(p[0] | p[1] << 8); }
inline void write_u32(uint8_t* p, uint32_t v) {
  p[0] = (uint8_t)v;
  p[1] = (uint8_t)(v >> 8);
  p[2] = (uint8_t)(v >> 16);
  p[3] = (uint8_t)(v >> 24);
}
inline void write_u16(uint8_t* p, uint16_t v) {
  p[0] = (uint8_t)v;
  p[1] = (uint8_t)(v >> 8);
}

// --- client info text ----------------------------------------------------------------

// Longest field a parsed client info keeps (names and skins).
constexpr int CLIENT_INFO_FIELD_MAX = 63;

// "%s|%s|%s|%s|%s\n%s\n%s" (model, rider gear, bike, wheel and helmet skins,
// number, name); the short form "%s\n%s\n%s" (model, number, name) when the
// long one exceeds max_length; the short form cut to max_length when even it
// does not fit.
std::string client_info_text(const DemoRider& rider, int max_length);
// Splits the first line at "|" into up to five fields (a missing field leaves
// the rest empty), takes the second line's first three characters as
// the number and the third line as the name. Control characters end a field;
// fields are cut to CLIENT_INFO_FIELD_MAX.
void parse_client_info_text(const uint8_t* text, int length, DemoRider* rider);

// A bike message for one of the server's robots carries, after the client
// info text, a fourth line "robot %d" with the robot's number (0 and up,
// below MAX_ROBOT_NUMBER). The line is past the name, so a client that does
// not know it still takes the rider as a player.
constexpr int MAX_ROBOT_NUMBER = 10000;
std::string robot_bike_text(const DemoRider& rider, int robot_number, int max_length);
// The robot number of a bike message's text; -1 when the text is a player's
// (no fourth line, or one that is not exactly "robot " and a number in range).
int robot_number_of_text(const uint8_t* text, int length);

// --- password proof --------------------------------------------------------------------

// RIPEMD-160 of the password's bytes followed by the connection key as four
// little-endian bytes; the value whose little-endian bytes on the wire are the
// digest's bytes 3, 2, 1, 0. 0 for an empty password.
uint32_t password_proof(const std::string& password, uint32_t key);

// The contact's nonce: the microseconds of the current time x 1103515245 +
// 12345 (mod 2^32).
uint32_t make_nonce(long microseconds);
