// UDP sockets: resolving a server address given as text, one non-blocking
// IPv4 datagram socket per connection, sending and receiving datagrams, and
// the symbolic name of the last socket error for the player's messages.
//
// Error names follow the long-established socket error vocabulary that the
// protocol's messages use ("WSAECONNREFUSED", ...); the BSD calls' errno and
// resolver codes are mapped onto the equivalent condition. A call that would
// block or was interrupted records no name.
#pragma once

#include <cstdint>
#include <string>

constexpr int DEFAULT_SERVER_PORT = 19800;

// An IPv4 address and port, both in host byte order.
struct SocketAddress {
  uint32_t host;
  uint16_t port;
};

inline bool same_address(const SocketAddress& a, const SocketAddress& b) {
  return a.host == b.host && a.port == b.port;
}

// "a.b.c.d:port".
std::string format_address(const SocketAddress& address);

// The text is a host, or a host, a colon and a port: it is split at the last
// ":", and when what follows parses as a decimal number ("%d") that is the
// port; otherwise the whole text is the host and default_port applies. The
// host is looked up by name (a dotted address resolves too) and the first
// IPv4 result is taken. A port outside 1..65535 is refused rather than
// wrapped onto some other port.
bool resolve_address(const char* text, int default_port, SocketAddress* out);
// The split alone: the host part and the port (default_port when the text
// after the last ":" is not a number).
void split_address(const char* text, int default_port, std::string* host, int* port);

// An IPv4 datagram socket in non-blocking mode, or -1 (error name recorded).
int open_socket();
// Binds to a local port on every interface (0: any free port); false on
// failure with the error name recorded. The race server and the tests use it.
bool bind_socket(int socket, int port);
// The local port a socket is bound to, or -1.
int socket_port(int socket);
// One datagram; the number of bytes sent, or -1 with the error name recorded.
int send_datagram(int socket, const void* bytes, int length, const SocketAddress& to);
// One datagram without waiting: its length, or -1 when none is waiting (no
// name) or on error (name recorded). A datagram longer than the capacity is
// dropped whole and reported as "WSAEMSGSIZE", never handed on cut short.
int receive_datagram(int socket, void* buffer, int capacity, SocketAddress* from);
// Waits up to `seconds` for a datagram to become readable; true when one is.
bool wait_readable(int socket, double seconds);
void close_socket(int socket);
// Releases the sockets library (nothing to release on BSD sockets; kept so
// start-up and shutdown read the same on every system).
void shutdown_sockets();

// The name of the most recent socket error, or null when the last operation
// succeeded or only would have blocked. Every operation above clears it first.
const char* socket_error();

// --- error names ----------------------------------------------------------------

// The name of an error code of the socket error table ("WSAEINVAL" for
// 10022); null for an interrupted call (10004) and a call that would block
// (10035); any other code as its decimal text ("12345").
std::string socket_error_name(int code);
// The table code of the condition an errno value stands for: 10004 for EINTR,
// 10035 for EAGAIN, 10061 for ECONNREFUSED ...; -1 when there is none.
int socket_code_for_errno(int error);
// The same for a getaddrinfo() result (EAI_NONAME -> 11001 ...); EAI_SYSTEM
// goes through errno.
int socket_code_for_resolver(int result, int error);
// Records the name of an errno value as the last error (none for would-block
// and interrupted calls; the errno's number when it has no equivalent).
void record_socket_errno(int error);
void clear_socket_error();
