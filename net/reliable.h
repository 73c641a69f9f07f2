// Reliable messages over datagrams, for both ends of a connection: the
// outgoing queue (kept in order of creation, only the head in flight,
// resent every half second until acknowledged) and the incoming side (the
// next expected sequence number and an ordered list of early arrivals, so
// every message is handled once and in order).
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "net/packets.h"

constexpr double RELIABLE_RESEND_SECONDS = 0.5;
// Early arrivals kept at most, and how far ahead of the expected number one
// may be: an honest peer has one message in flight, so anything beyond is a
// broken or hostile one and is neither kept nor acknowledged.
constexpr int RELIABLE_EARLY_MAX = 128;

struct OutgoingReliable {
  double send_time;  // 0: at once
  uint32_t sequence;
  int length;
  uint8_t bytes[MAX_RELIABLE_DATAGRAM];
};

struct ReliableOut {
  std::deque<OutgoingReliable> queue;
  uint32_t next_sequence = 0;
};

void clear_reliable_out(ReliableOut* out);
// The sequence number the next message gets (and advances the counter).
uint32_t take_sequence(ReliableOut* out);
// Appends a finished datagram carrying `sequence`; false when it is larger
// than MAX_RELIABLE_DATAGRAM or the queue already holds `limit` messages.
bool push_reliable(ReliableOut* out, uint32_t sequence, const uint8_t* datagram, int length, size_t limit);
// The head when it is due at `now` (its send time has passed), else null.
// The caller sends it and calls mark_reliable_sent.
const OutgoingReliable* due_reliable(const ReliableOut& out, double now);
void mark_reliable_sent(ReliableOut* out, double now);
// An acknowledgment: removes the head when it carries this sequence.
bool acknowledge_reliable(ReliableOut* out, uint32_t sequence);

struct IncomingReliable {
  uint32_t sequence;
  uint8_t subtype;
  std::vector<uint8_t> payload;
};

struct ReliableIn {
  uint32_t expected = 0;
  std::vector<IncomingReliable> early;  // ascending sequence numbers
};

void clear_reliable_in(ReliableIn* in);

enum class ReliableArrival {
  handled,     // the expected one: handled, then every early one now in line
  repeat,      // below the expected number: already handled, dropped
  early,       // kept until its turn
  duplicate,   // a second copy of an early one, dropped
  refused,     // too far ahead: dropped and not to be acknowledged
};

using ReliableHandler = void (*)(void* context, uint8_t subtype, const uint8_t* payload, int length);
// Takes one arrival. Everything but `refused` must be acknowledged.
ReliableArrival receive_reliable(ReliableIn* in, uint32_t sequence, uint8_t subtype, const uint8_t* payload,
                                 int length, ReliableHandler handle, void* context);
