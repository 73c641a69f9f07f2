#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/reliable.h"

namespace {

struct Log {
  std::vector<std::string> handled;
};

void record(void* context, uint8_t subtype, const uint8_t* payload, int length) {
  static_cast<Log*>(context)->handled.push_back(std::to_string(subtype) + ":" +
                                                std::string(reinterpret_cast<const char*>(payload), (size_t)length));
}

ReliableArrival arrive(ReliableIn* in, Log* log, uint32_t sequence) {
  std::string text = "m" + std::to_string(sequence);
  return receive_reliable(in, sequence, 19, reinterpret_cast<const uint8_t*>(text.data()), (int)text.size(), record,
                          log);
}

}  // namespace

TEST(ReliableIn, TwiceIsHandledOnce) {
  ReliableIn in;
  Log log;
  EXPECT_EQ(arrive(&in, &log, 0), ReliableArrival::handled);
  EXPECT_EQ(arrive(&in, &log, 0), ReliableArrival::repeat);
  EXPECT_EQ(log.handled, std::vector<std::string>({"19:m0"}));
}

TEST(ReliableIn, ThreeTwoOneAreHandledOneTwoThree) {
  ReliableIn in;
  in.expected = 1;
  Log log;
  EXPECT_EQ(arrive(&in, &log, 3), ReliableArrival::early);
  EXPECT_EQ(arrive(&in, &log, 3), ReliableArrival::duplicate);
  EXPECT_EQ(arrive(&in, &log, 2), ReliableArrival::early);
  EXPECT_TRUE(log.handled.empty());
  EXPECT_EQ(arrive(&in, &log, 1), ReliableArrival::handled);
  EXPECT_EQ(log.handled, std::vector<std::string>({"19:m1", "19:m2", "19:m3"}));
  EXPECT_EQ(in.expected, 4u);
  EXPECT_TRUE(in.early.empty());
}

TEST(ReliableIn, FarAheadIsRefusedAndCountersWrap) {
  ReliableIn in;
  Log log;
  EXPECT_EQ(arrive(&in, &log, RELIABLE_EARLY_MAX + 1), ReliableArrival::refused);
  EXPECT_EQ(arrive(&in, &log, 0x7fffffffu), ReliableArrival::refused);
  EXPECT_TRUE(in.early.empty());
  in.expected = 0xffffffffu;
  EXPECT_EQ(arrive(&in, &log, 0), ReliableArrival::early);
  EXPECT_EQ(arrive(&in, &log, 0xfffffffeu), ReliableArrival::repeat);
  EXPECT_EQ(arrive(&in, &log, 0xffffffffu), ReliableArrival::handled);
  EXPECT_EQ(log.handled, std::vector<std::string>({"19:m4294967295", "19:m0"}));
  EXPECT_EQ(in.expected, 1u);
}

TEST(ReliableOut, OnlyTheHeadIsInFlightResentEveryHalfSecond) {
  ReliableOut out;
  uint8_t a[14] = {17}, b[14] = {17, 1};
  ASSERT_TRUE(push_reliable(&out, take_sequence(&out), a, 14, 8));
  ASSERT_TRUE(push_reliable(&out, take_sequence(&out), b, 14, 8));
  const OutgoingReliable* head = due_reliable(out, 10.0);
  ASSERT_NE(head, nullptr);
  EXPECT_EQ(head->sequence, 0u);
  mark_reliable_sent(&out, 10.0);
  EXPECT_EQ(due_reliable(out, 10.49), nullptr);
  ASSERT_NE(due_reliable(out, 10.5), nullptr);
  // The ack of a message that is not the head changes nothing.
  EXPECT_FALSE(acknowledge_reliable(&out, 1));
  EXPECT_EQ(out.queue.size(), 2u);
  EXPECT_TRUE(acknowledge_reliable(&out, 0));
  head = due_reliable(out, 10.6);
  ASSERT_NE(head, nullptr);
  EXPECT_EQ(head->sequence, 1u);
  EXPECT_EQ(head->bytes[1], 1);
  // Limits: the queue's length and the datagram's size.
  EXPECT_TRUE(push_reliable(&out, take_sequence(&out), a, 14, 2));
  EXPECT_FALSE(push_reliable(&out, take_sequence(&out), a, 14, 2));
  uint8_t big[MAX_RELIABLE_DATAGRAM + 1] = {};
  EXPECT_FALSE(push_reliable(&out, 9, big, sizeof big, 100));
}
