// The network client: one connection to a race server over one UDP socket.
// It owns the connection variables, the handshake state machine with its
// one-second repeats, the reliable queues, the per-slot rider tables fed by
// the server, the server's commands (arcade switch, off-course hiding,
// knockout list, file upload answers), the lap reports of the local bike,
// the fake lag and loss of "--fake-lag" and "--fake-loss", and the upload of
// one file from "@outgoing/".
//
// The client never reaches into the race: what it needs of the game (the
// track list, the race set-up, the tick, the bike's state and timing, the
// histories of remote riders) comes through NetClientHooks, so the same
// client serves the game, the race runner's many headless riders and tests.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "core/types.h"
#include "net/packets.h"
#include "net/reliable.h"
#include "net/socket.h"
#include "replay/demo.h"

struct DataStream;

constexpr double HANDSHAKE_REPEAT_SECONDS = 1.0;
constexpr double UPLOAD_PART_SECONDS = 0.25;
constexpr int UPLOAD_PART_BYTES = 256;
constexpr int KNOCKOUT_ENTRIES = 16;
constexpr double DEFAULT_OFF_COURSE_BIAS = 10.0;
constexpr double DEFAULT_OFF_COURSE_SCALE = 1.5;
constexpr int STATE_SEND_INTERVAL = 4;  // ticks between state messages
// The reliable queue holds at most this many messages; a client that could
// not send for that long has lost its server anyway.
constexpr size_t CLIENT_RELIABLE_LIMIT = 4096;

// Connection states.
enum NetClientState : int {
  NET_CONTACTING = 0,
  NET_LOGGING_IN = 3,
  NET_TRACK_ACKNOWLEDGED = 5,
  NET_BIKE_ACKNOWLEDGED = 7,
  NET_WAITING = 9,
  NET_RACING = 11,
  NET_RESTARTING = 14,
  NET_LEAVING = 15,
};

// What the race set-up puts in a slot.
constexpr int SLOT_REQUEST_NONE = 0;
constexpr int SLOT_REQUEST_SELF = 1;
constexpr int SLOT_REQUEST_PLAYER = 5;
constexpr int SLOT_REQUEST_ROBOT = 1000;  // + n: the server's robot number n, its states relayed like a player's
// Another rider whose states come from the server: a player or a robot.
inline bool remote_request(int request) { return request == SLOT_REQUEST_PLAYER || request >= SLOT_REQUEST_ROBOT; }

// The race the server announced, for the race set-up (race reset online).
struct OnlineRace {
  const char* track;
  int race_time;       // ticks, 0 for laps only
  int laps;
  int gate_drop_tick;  // on the server's clock
  int riding_slot;     // NO_BIKE while spectating
  const int* requests; // MAX_BIKES slot requests (SLOT_REQUEST_*)
  const DemoRider* riders;  // MAX_BIKES rider tables
};

struct NetClientHooks {
  void* context;
  // Messages for the player; null: the message lines.
  void (*print)(void* context, const char* text);
  // The track list of start-up.
  bool (*track_installed)(void* context, const char* name);
  // Sets up the race (loading the track when needed, every slot from its
  // request) and gives the loaded track's digest; false on failure.
  bool (*setup_race)(void* context, const OnlineRace& race, uint8_t digest[TRACK_DIGEST_BYTES]);
  // Clears every state history.
  void (*clear_histories)(void* context);
  // The race clock.
  int (*current_tick)(void* context);
  void (*set_tick)(void* context, int tick);
  // The riding bike's record for the state message; false when it has none.
  bool (*own_state)(void* context, int slot, StateRecord* out);
  // The riding bike's number of timing entries (gates passed) and the tick
  // of its newest one; false when it has no bike.
  bool (*own_timing)(void* context, int slot, int* count, int* newest_tick);
  // A timing entry from the server for another slot's bike: the entry is
  // set and every later one removed.
  void (*apply_timing)(void* context, int slot, int index, int tick);
  void (*update_standings)(void* context);
  // True when the slot holds a history-driven bike (mode 1).
  bool (*remote_bike)(void* context, int slot);
  void (*add_remote_state)(void* context, int slot, const StateRecord& record, int tick);
  // A console line from the server, for the demo being recorded.
  void (*console_text)(void* context, const char* text, int tick);
  // "no_arcade": every locally controlled bike leaves arcade mode; true when
  // arcade physics was on.
  bool (*disable_arcade)(void* context);
  // True while the bike or skin chooser menus are open (client info waits).
  bool (*chooser_open)(void* context);
};

// Fake lag and loss on one direction: datagrams are dropped at the loss
// percentage and the rest held back for the lag.
struct FakeDatagram {
  double due;
  SocketAddress address;
  int length;
  uint8_t bytes[MAX_DATAGRAM];
};
struct FakeLink {
  double lag = 0.0;  // seconds
  int loss = 0;      // percent
  uint32_t random = 1;
  std::deque<FakeDatagram> held;
};

struct FileUpload {
  DataStream* file = nullptr;
  bool ready = false;        // the server said "sendready"
  double last_part = 0.0;
  std::string name_command;  // "namefile " + name, sent after the last part
};

struct NetClient {
  NetClientHooks hooks = {};
  // Set by the game before connecting.
  std::string password;
  bool fixed_files_match = true;
  DemoRider own_info;              // this client's bike, skins, number and name
  bool client_info_changed = false;

  // The connection variables.
  int socket = -1;
  std::string pending_address;     // to connect to at the next service; empty: none
  SocketAddress server_address = {};
  int client_slot = NO_BIKE;
  uint32_t key = 0;
  uint32_t nonce = 0;
  int state = NET_CONTACTING;
  uint32_t race_id = 0;
  int riding_slot = NO_BIKE;
  int last_bike_acknowledged = NO_BIKE;
  // The server's clock: the newest tick heard, run on with real time (see
  // net_service). Counting it on by one per service instead would freeze
  // the gap the frame timing closes: a client that once ran ahead (the
  // speed-up before the gate drop) would run ahead for good.
  int latest_server_tick = 0;
  int heard_server_tick = 0;      // the newest tick taken from a message
  double heard_server_time = 0.0;  // and when it came
  int race_time = 0, laps = 0, gate_drop_tick = 0;
  uint8_t server_digest[TRACK_DIGEST_BYTES] = {};
  std::string track;               // the server's track directory
  int last_lap_report = 0;
  bool arcade_disabled = false;
  double off_course_bias = DEFAULT_OFF_COURSE_BIAS;
  double off_course_scale = DEFAULT_OFF_COURSE_SCALE;
  int knockout[KNOCKOUT_ENTRIES] = {};
  uint32_t server_value = 0;       // type 13
  int ping = 0;                    // this client's, in ticks

  // Per-slot tables, cleared when a track arrives.
  DemoRider riders[MAX_BIKES];
  int slot_request[MAX_BIKES] = {};
  int last_stamp[MAX_BIKES] = {};   // -1: none yet
  int slot_ping[MAX_BIKES] = {};
  double last_state_time[MAX_BIKES] = {};  // when the last state for the slot arrived

  ReliableOut outgoing;
  ReliableIn incoming;
  double last_handshake = -1e9;    // when the state's message went out last
  double now = 0.0;                // the service's time, for handlers
  FakeLink fake_send, fake_receive;
  FileUpload upload;

  // Counters for the race runner and the tests.
  long datagrams_sent = 0, datagrams_received = 0;
  long bytes_sent = 0, bytes_received = 0;
  long send_failures = 0;  // datagrams the socket did not take
};

// Clears everything to the reset values (no socket).
void init_net_client(NetClient* client);
// "--fake-lag" seconds and "--fake-loss" percent on both directions; the
// seed makes the losses of one client repeatable.
void set_fake_link(NetClient* client, double lag, int loss, uint32_t seed);

// The server to connect to at the next service (default port 19800). A
// connection already open is reset first.
void net_connect(NetClient* client, const char* address);
// The player's disconnect: before acceptance the connection is reset at
// once; after it the client goes to state 15 and sends disconnect messages.
void net_disconnect(NetClient* client);
// At program end: one disconnect message when accepted, then the reset.
void net_shutdown(NetClient* client);
// Closes the socket and returns every connection variable to its reset
// value; both reliable lists are emptied and any upload closed.
void reset_connection(NetClient* client);

// Once per simulation step, before the race step. now: real seconds.
void net_service(NetClient* client, double now);
// Handles one datagram from the server (the service calls it for every one
// waiting; the fuzz target and the tests call it directly).
void handle_server_datagram(NetClient* client, const uint8_t* bytes, int length);

// The player's restart menu item (state 11 only).
void request_restart(NetClient* client);
// Queues a reliable message; false when not connected or the queue is full.
bool queue_reliable(NetClient* client, uint8_t subtype, const void* payload, int length);

// True while a socket is open and the server has accepted this client.
bool net_connected(const NetClient& client);
// False during warmup: the server announces a free ride between races as a
// race of no laps and no time limit.
bool server_race_running(const NetClient& client);

// A server command (subtype 24) as the server's text.
void handle_server_command(NetClient* client, const char* text);
// "knockout" followed by up to 16 numbers: a missing or unreadable number
// repeats the previous one (the first defaults to 0).
void parse_knockout(const char* arguments, int list[KNOCKOUT_ENTRIES]);
// The text starts with `word` followed by white space or the end.
bool command_word(const char* text, const char* word, const char** arguments);

// "%d laps", "%d minutes" or "%d minutes + %d laps".
std::string race_format_text(int race_time, int laps);

// --- file upload ------------------------------------------------------------------

// "sendfile": checks the name, stops a transfer still open, opens
// "@outgoing/" + name and asks the server. Every outcome is printed.
void start_upload(NetClient* client, const char* name);
void stop_upload(NetClient* client);
