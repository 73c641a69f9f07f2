#include <errno.h>
#include <netdb.h>
#include <gtest/gtest.h>

#include <cstring>

#include "net/socket.h"

TEST(Resolve, DottedAddressTakesTheDefaultPortOrTheOneAfterTheColon) {
  SocketAddress a;
  ASSERT_TRUE(resolve_address("127.0.0.1", DEFAULT_SERVER_PORT, &a));
  EXPECT_EQ(a.host, 0x7f000001u);
  EXPECT_EQ(a.port, 19800);
  ASSERT_TRUE(resolve_address("127.0.0.1:20000", DEFAULT_SERVER_PORT, &a));
  EXPECT_EQ(a.port, 20000);
  ASSERT_TRUE(resolve_address("localhost:20001", DEFAULT_SERVER_PORT, &a));
  EXPECT_EQ(a.host, 0x7f000001u);
  EXPECT_EQ(a.port, 20001);
}

TEST(Resolve, ColonAndLettersAreLookedUpWholeAndTwoColonsSplitAtTheLast) {
  SocketAddress a;
  EXPECT_FALSE(resolve_address("localhost:abc", DEFAULT_SERVER_PORT, &a));
  std::string host;
  int port;
  split_address("localhost:abc", 19800, &host, &port);
  EXPECT_EQ(host, "localhost:abc");
  EXPECT_EQ(port, 19800);
  split_address("host:1:20001", 19800, &host, &port);
  EXPECT_EQ(host, "host:1");
  EXPECT_EQ(port, 20001);
  split_address("host:20001:x", 19800, &host, &port);
  EXPECT_EQ(host, "host:20001:x");
  EXPECT_EQ(port, 19800);
  // The host part keeps its colon and so never resolves.
  EXPECT_FALSE(resolve_address("127.0.0.1:5:20001", DEFAULT_SERVER_PORT, &a));
}

TEST(Resolve, PortsOutsideTheirRangeAndEmptyHostsAreRefused) {
  SocketAddress a;
  EXPECT_FALSE(resolve_address("127.0.0.1:0", DEFAULT_SERVER_PORT, &a));
  EXPECT_FALSE(resolve_address("127.0.0.1:65536", DEFAULT_SERVER_PORT, &a));
  EXPECT_FALSE(resolve_address("127.0.0.1:-5", DEFAULT_SERVER_PORT, &a));
  EXPECT_FALSE(resolve_address(":20000", DEFAULT_SERVER_PORT, &a));
  EXPECT_FALSE(resolve_address("", DEFAULT_SERVER_PORT, &a));
  EXPECT_TRUE(resolve_address("127.0.0.1:65535", DEFAULT_SERVER_PORT, &a));
}

TEST(SocketErrors, TableNamesSilentCodesAndNumbers) {
  EXPECT_EQ(socket_error_name(6), "WSA_INVALID_HANDLE");
  EXPECT_EQ(socket_error_name(997), "WSA_IO_PENDING");
  EXPECT_EQ(socket_error_name(10014), "WSAEFAULT");
  EXPECT_EQ(socket_error_name(10036), "WSAEINPROGRESS");
  EXPECT_EQ(socket_error_name(10054), "WSAECONNRESET");
  EXPECT_EQ(socket_error_name(10071), "WSAEREMOTE");
  EXPECT_EQ(socket_error_name(10093), "WSANOTINITIALISED");
  EXPECT_EQ(socket_error_name(10112), "WSAEREFUSED");
  EXPECT_EQ(socket_error_name(11004), "WSANO_DATA");
  EXPECT_EQ(socket_error_name(11031), "WSA_QOS_RESERVED_PETYPE");
  EXPECT_EQ(socket_error_name(10004), "");
  EXPECT_EQ(socket_error_name(10035), "");
  EXPECT_EQ(socket_error_name(12345), "12345");
  EXPECT_EQ(socket_error_name(10072), "10072");
  EXPECT_EQ(socket_error_name(11032), "11032");
}

TEST(SocketErrors, PosixConditionsRecordTheirEquivalentName) {
  record_socket_errno(ECONNREFUSED);
  ASSERT_NE(socket_error(), nullptr);
  EXPECT_STREQ(socket_error(), "WSAECONNREFUSED");
  record_socket_errno(EMSGSIZE);
  EXPECT_STREQ(socket_error(), "WSAEMSGSIZE");
  record_socket_errno(EAGAIN);
  EXPECT_EQ(socket_error(), nullptr);
  record_socket_errno(EINTR);
  EXPECT_EQ(socket_error(), nullptr);
  // No equivalent: the errno's own number.
  record_socket_errno(EDOM);
  ASSERT_NE(socket_error(), nullptr);
  EXPECT_STREQ(socket_error(), std::to_string(EDOM).c_str());
  EXPECT_EQ(socket_code_for_resolver(EAI_NONAME, 0), 11001);
}

class Loopback : public ::testing::Test {
 protected:
  void SetUp() override {
    a_ = open_socket();
    b_ = open_socket();
    ASSERT_GE(a_, 0);
    ASSERT_GE(b_, 0);
    ASSERT_TRUE(bind_socket(b_, 0));
    to_b_ = {0x7f000001u, (uint16_t)socket_port(b_)};
  }
  void TearDown() override {
    close_socket(a_);
    close_socket(b_);
  }
  int a_ = -1, b_ = -1;
  SocketAddress to_b_;
};

TEST_F(Loopback, EmptySocketReturnsMinusOneWithoutAName) {
  uint8_t buffer[64];
  record_socket_errno(ECONNRESET);
  EXPECT_EQ(receive_datagram(b_, buffer, sizeof buffer, nullptr), -1);
  EXPECT_EQ(socket_error(), nullptr);
}

TEST_F(Loopback, DatagramsArriveWholeAndOversizedOnesAreDroppedWithAName) {
  uint8_t big[2000];
  memset(big, 7, sizeof big);
  ASSERT_EQ(send_datagram(a_, big, sizeof big, to_b_), (int)sizeof big);
  const uint8_t small[3] = {1, 2, 3};
  ASSERT_EQ(send_datagram(a_, small, 3, to_b_), 3);
  ASSERT_TRUE(wait_readable(b_, 1.0));
  uint8_t buffer[1023];
  SocketAddress from;
  EXPECT_EQ(receive_datagram(b_, buffer, sizeof buffer, &from), -1);
  ASSERT_NE(socket_error(), nullptr);
  EXPECT_STREQ(socket_error(), "WSAEMSGSIZE");
  ASSERT_TRUE(wait_readable(b_, 1.0));
  ASSERT_EQ(receive_datagram(b_, buffer, sizeof buffer, &from), 3);
  EXPECT_EQ(socket_error(), nullptr);
  EXPECT_EQ(memcmp(buffer, small, 3), 0);
  EXPECT_EQ(from.host, 0x7f000001u);
  EXPECT_EQ(from.port, socket_port(a_));
}

TEST_F(Loopback, BindingATakenPortNamesTheCondition) {
  int c = open_socket();
  ASSERT_GE(c, 0);
  EXPECT_FALSE(bind_socket(c, to_b_.port));
  ASSERT_NE(socket_error(), nullptr);
  EXPECT_STREQ(socket_error(), "WSAEADDRINUSE");
  close_socket(c);
}
