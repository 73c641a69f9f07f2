#include "net/reliable.h"

#include <algorithm>
#include <cstring>

void clear_reliable_out(ReliableOut* out) {
  out->queue.clear();
  out->next_sequence = 0;
}

uint32_t take_sequence(ReliableOut* out) { return out->next_sequence++; }

bool push_reliable(ReliableOut* out, uint32_t sequence, const uint8_t* datagram, int length, size_t limit) {
  if (length <= 0 || length > MAX_RELIABLE_DATAGRAM || out->queue.size() >= limit) return false;
  OutgoingReliable& m = out->queue.emplace_back();
  m.send_time = 0.0;
  m.sequence = sequence;
  m.length = length;
  memcpy(m.bytes, datagram, (size_t)length);
  return true;
}

const OutgoingReliable* due_reliable(const ReliableOut& out, double now) {
  if (out.queue.empty()) return nullptr;
  const OutgoingReliable& head = out.queue.front();
  return now >= head.send_time ? &head : nullptr;
}

void mark_reliable_sent(ReliableOut* out, double now) {
  if (!out->queue.empty()) out->queue.front().send_time = now + RELIABLE_RESEND_SECONDS;
}

bool acknowledge_reliable(ReliableOut* out, uint32_t sequence) {
  if (out->queue.empty() || out->queue.front().sequence != sequence) return false;
  out->queue.pop_front();
  return true;
}

void clear_reliable_in(ReliableIn* in) {
  in->expected = 0;
  in->early.clear();
}

ReliableArrival receive_reliable(ReliableIn* in, uint32_t sequence, uint8_t subtype, const uint8_t* payload,
                                 int length, ReliableHandler handle, void* context) {
  // Sequence numbers are compared by their signed distance, so the counters
  // may wrap.
  const int32_t ahead = (int32_t)(sequence - in->expected);
  if (ahead < 0) return ReliableArrival::repeat;
  if (ahead > 0) {
    if (ahead > RELIABLE_EARLY_MAX) return ReliableArrival::refused;
    auto at = std::lower_bound(in->early.begin(), in->early.end(), sequence,
                               [&](const IncomingReliable& m, uint32_t s) {
                                 return (int32_t)(m.sequence - in->expected) < (int32_t)(s - in->expected);
                               });
    if (at != in->early.end() && at->sequence == sequence) return ReliableArrival::duplicate;
    if ((int)in->early.size() >= RELIABLE_EARLY_MAX) return ReliableArrival::refused;
    IncomingReliable m;
    m.sequence = sequence;
    m.subtype = subtype;
    if (length > 0) m.payload.assign(payload, payload + length);
    in->early.insert(at, std::move(m));
    return ReliableArrival::early;
  }
  in->expected++;
  handle(context, subtype, payload, length);
  while (!in->early.empty() && in->early.front().sequence == in->expected) {
    // Moved out first: the handler may receive more messages meanwhile.
    IncomingReliable next = std::move(in->early.front());
    in->early.erase(in->early.begin());
    in->expected++;
    handle(context, next.subtype, next.payload.data(), (int)next.payload.size());
  }
  return ReliableArrival::handled;
}
