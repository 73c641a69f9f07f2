// The race server: a headless program that runs online races for the game's
// clients over one UDP socket. It owns the connections (handshake, keys,
// password proofs, bans), the race cycle (a warmup between races, then a race
// with a gate drop everyone shares), the relay of every rider's states to the
// others, lap reports checked against the track's timing gates and handed on
// as timing entries, chat and server messages, restarts, file uploads into a
// folder, robots (scripted riders the server drives itself), the operator's
// console and command file, and its log.
//
// It never trusts a client: every datagram is checked for its size, the
// sender's address, slot, key and state; per-client queues and rates are
// bounded so one client cannot stall the others.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "core/types.h"
#include "net/packets.h"
#include "net/reliable.h"
#include "net/socket.h"
#include "race/timing.h"
#include "replay/demo.h"
#include "tools/net_riders/scripted_rider.h"
#include "track/track.h"

constexpr int SERVER_MAX_RIDERS = MAX_BIKES;  // the configuration may set any count up to this
constexpr int SERVER_DEFAULT_RIDERS = 40;
// Positions kept per rider for checking its lap reports.
constexpr int SERVER_POSITION_RING = 64;
// The most datagrams one client may have handled per tick; the rest wait in
// the socket or are dropped by the system, never delaying the others.
constexpr int SERVER_DATAGRAMS_PER_TICK = 32;
constexpr size_t SERVER_RELIABLE_LIMIT = 512;
// Timing entries in one reliable message: 8 + 38 x 12 bytes fit the payload.
constexpr int TIMING_ENTRIES_PER_MESSAGE = (MAX_RELIABLE_PAYLOAD - 8) / 12;

struct ServerConfig {
  int port = DEFAULT_SERVER_PORT;
  std::vector<std::string> tracks;  // raced in turn; empty: every installed track
  int laps = 3;
  double minutes = 0.0;             // > 0: a race of that many minutes plus the laps
  std::string password;
  int robots = 0;                   // scripted riders the server drives
  float robot_speed = 45.0f;        // ft/s
  int max_riders = SERVER_DEFAULT_RIDERS;
  double warmup_seconds = 30.0;     // free riding between races
  double gate_drop_seconds = 15.0;  // from the start of a race to its gate drop
  double finish_seconds = 60.0;     // after the leader's finish, the others' time to finish
  double max_race_seconds = 1800.0; // a race nobody finishes ends after this
  double client_timeout = 20.0;     // a client silent this long is dropped
  double join_timeout = 10.0;       // a contact that never logs in frees its slot
  bool uploads = true;
  std::string upload_folder = "@uploads/";
  long upload_max_bytes = 4L << 20;  // one file
  std::string command_file;          // polled once a second; empty: none
  std::string log_file;              // empty: standard output only
  std::string motd;                  // console text for every rider who joins
  bool no_arcade = false;            // sends "no_arcade" to every client
  std::vector<std::string> bans;     // dotted addresses
  bool quiet = false;                // no log lines on standard output
};

enum ServerPhase : int {
  PHASE_WARMUP,  // free riding: no laps, no time limit, no collisions
  PHASE_RACE,    // gate drop, laps, timing
  PHASE_FINISH,  // the leader is home; the others finish their lap
  PHASE_RESULTS, // the results go out; then the next warmup
};

// A client's progress from the server's side.
enum ServerClientState : int {
  CLIENT_FREE,
  CLIENT_CONTACTED,  // accepted, waiting for its client info
  CLIENT_JOINED,     // logged in: in the handshake of its race, or racing
};

struct RecordedPosition {
  int tick;
  Vec3 position;
};

struct ServerUpload {
  FILE* file = nullptr;
  std::string partial;  // the file being written
  long bytes = 0;
};

struct ServerClient {
  int state = CLIENT_FREE;
  bool robot = false;
  int robot_number = -1;      // robots: 0 and up, sent with their bike messages
  SocketAddress address = {};
  uint32_t key = 0;
  uint32_t nonce = 0;
  double joined_at = 0.0;
  double last_heard = 0.0;
  DemoRider info;
  bool info_changed = false;  // new client info takes effect at the next race

  // The race this client holds (the id of the track message it took) and
  // how far its handshake has got.
  uint32_t race_id = 0;
  int last_bike_acknowledged = NO_BIKE;
  bool in_race = false;       // reached the waiting state of the current race
  double last_restart_sent = -1e9;

  // Riding the current race in the slot of this client.
  bool rider = false;
  int last_stamp = -1;
  uint32_t echo = 0;          // the client's own tick from its last state
  int ping = 0;               // ticks
  bool fresh_state = false;   // a state not yet relayed
  StateRecord record = {};
  double last_state_time = 0.0;
  double last_report_time = -1e9;  // when a lap report of this race was last taken
  RecordedPosition positions[SERVER_POSITION_RING] = {};
  int position_count = 0, position_head = 0;
  BikeTiming timing;
  bool restart_vote = false;

  ReliableOut out;
  ReliableIn in;
  size_t timing_sent = 0;           // entries of the race's timing log already queued
  int datagrams_this_tick = 0;
  double chat_times[5] = {};        // the last few chat lines, for the spam limit
  ServerUpload upload;
  ScriptedRider scripted;           // robots only
  long bytes_in = 0, bytes_out = 0;
};

// One accepted gate passage, in the order the server took them.
struct TimingLogEntry {
  int slot, index, tick;
};

// Where datagrams go; the socket unless a test or the fuzz target catches them.
struct ServerIo {
  void* context = nullptr;
  void (*send)(void* context, const SocketAddress& to, const uint8_t* bytes, int length) = nullptr;
};

struct RaceServer {
  ServerConfig config;
  ServerIo io;
  int socket = -1;
  FILE* log = nullptr;
  std::vector<ServerClient> clients;  // config.max_riders entries

  // The race.
  int phase = PHASE_WARMUP;
  uint32_t race_id = 0;
  double race_start = 0.0;     // real time of server tick 0
  int server_tick = 0;
  int gate_drop_tick = 0;
  int race_time = 0;           // ticks
  int laps = 0;                // as announced: 0 in warmup
  int lap_total = 0;           // L: grows with a time limit
  int half_way_lap = 0;
  double phase_end = 0.0;      // warmup: when the race starts; finish: when results are final
  double roster_change = 0.0;  // a rider joined the warmup: restart it soon so all see them
  int track_index = -1;        // into track_names
  std::vector<std::string> track_names;
  LoadedTrack track;
  RecordScale scale = {};
  bool track_loaded = false;
  std::vector<TimingLogEntry> timing_log;

  int processed_tick = -1;     // the last tick whose per-tick work ran
  uint32_t random = 0x9e3779b9u;
  double now = 0.0;
  double last_command_poll = 0.0;
  std::vector<std::string> results;  // the last race's lines
  std::vector<int> final_order;      // and its slots, winner first
  int races_finished = 0;
  bool quit = false;

  long datagrams_in = 0, datagrams_out = 0, bytes_in = 0, bytes_out = 0;
  long refused = 0;  // datagrams dropped by the checks
  long send_failures = 0;  // datagrams the socket did not take (a full send buffer)
};

// Binds the socket (port 0: any free port), finds the tracks, loads the first
// and starts the warmup. False, with the reason logged, when it cannot.
bool start_server(RaceServer* server, const ServerConfig& config, double now);
// Sends every client the disconnect, closes files and the socket.
void stop_server(RaceServer* server);
// Every waiting datagram, the relay of new states and the reliable queues;
// once per tick of 1/128 s also the race cycle, robots, timeouts and clock
// messages. May be called more often than once a tick.
void server_tick(RaceServer* server, double now);
// One datagram from an address (the fuzz target and tests call it directly).
void handle_client_datagram(RaceServer* server, const SocketAddress& from, const uint8_t* bytes, int length);
// The port the server listens on.
int server_port(const RaceServer& server);

// An operator's command line ("help" lists them). Answers are logged.
void server_command(RaceServer* server, const char* line);
// Reads a configuration file of "key=value" lines (or "key value"); unknown
// keys and bad values are reported on `errors` and skipped.
bool read_server_config(const char* path, ServerConfig* config, std::string* errors);
bool apply_server_setting(ServerConfig* config, const char* key, const char* value, std::string* errors);

void server_log(RaceServer* server, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Console text for one client (slot), or for everyone (slot -1).
void server_say(RaceServer* server, int slot, const char* format, ...) __attribute__((format(printf, 3, 4)));

// --- used between the server's source files ----------------------------------------------

void server_send(RaceServer* server, ServerClient* client, const uint8_t* bytes, int length);
void server_send_to(RaceServer* server, const SocketAddress& to, const uint8_t* bytes, int length);
void server_send_message(RaceServer* server, ServerClient* client, const ServerMessage& message);
bool server_queue_reliable(RaceServer* server, ServerClient* client, uint8_t subtype, const void* payload, int length);
void drop_client(RaceServer* server, int slot, const char* reason);
int client_index(const RaceServer& server, const ServerClient* client);

// The race cycle (server_race.cpp).
void begin_phase(RaceServer* server, int phase);
void run_race_cycle(RaceServer* server);
void relay_states(RaceServer* server);
void take_state(RaceServer* server, ServerClient* client, const ClientMessage& message);
void take_lap_report(RaceServer* server, ServerClient* client, const uint8_t* payload, int length);
void flush_timing(RaceServer* server, ServerClient* client);
// Queues the client's next message of timing entries at once.
void queue_timing(RaceServer* server, ServerClient* client);
// Every rider's finishing gate from the ticks of all entries (net/standings.h).
void settle_server_finishes(RaceServer* server);
void send_track(RaceServer* server, ServerClient* client);
void send_next_bike(RaceServer* server, ServerClient* client);
void join_current_race(RaceServer* server, ServerClient* client);
void consider_restart_votes(RaceServer* server);
// Running order of the current race's riders: slots, leader first.
std::vector<int> server_running_order(const RaceServer& server);

// Uploads and chat (server_console.cpp).
void take_command(RaceServer* server, ServerClient* client, const uint8_t* payload, int length);
void take_chat(RaceServer* server, ServerClient* client, const uint8_t* payload, int length);
void close_upload(ServerClient* client, bool keep);
void poll_command_file(RaceServer* server);
