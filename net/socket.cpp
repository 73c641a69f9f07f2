#include "net/socket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The last error: a table name, or a number formatted into the buffer.
// Socket calls are made from the main thread only; the race runner's many
// clients share it the way they share errno.
thread_local const char* g_last_error = nullptr;
thread_local char g_error_number[16];

struct NameRange {
  int first;
  const char* const* names;
  int count;
};

const char* const SINGLE_LOW[] = {"WSA_INVALID_HANDLE", "WSA_NOT_ENOUGH_MEMORY", "WSA_INVALID_PARAMETER",
                                  "WSA_OPERATION_ABORTED", "WSA_IO_INCOMPLETE", "WSA_IO_PENDING"};
const int SINGLE_LOW_CODES[] = {6, 8, 87, 995, 996, 997};

const char* const N10009[] = {"WSAEBADF"};
const char* const N10013[] = {"WSAEACCES", "WSAEFAULT"};
const char* const N10022[] = {"WSAEINVAL"};
const char* const N10024[] = {"WSAEMFILE"};
const char* const N10036[] = {
    "WSAEINPROGRESS",  "WSAEALREADY",     "WSAENOTSOCK",     "WSAEDESTADDRREQ",    "WSAEMSGSIZE",
    "WSAEPROTOTYPE",   "WSAENOPROTOOPT",  "WSAEPROTONOSUPPORT", "WSAESOCKTNOSUPPORT", "WSAEOPNOTSUPP",
    "WSAEPFNOSUPPORT", "WSAEAFNOSUPPORT", "WSAEADDRINUSE",   "WSAEADDRNOTAVAIL",   "WSAENETDOWN",
    "WSAENETUNREACH",  "WSAENETRESET",    "WSAECONNABORTED", "WSAECONNRESET",      "WSAENOBUFS",
    "WSAEISCONN",      "WSAENOTCONN",     "WSAESHUTDOWN",    "WSAETOOMANYREFS",    "WSAETIMEDOUT",
    "WSAECONNREFUSED", "WSAELOOP",        "WSAENAMETOOLONG", "WSAEHOSTDOWN",       "WSAEHOSTUNREACH",
    "WSAENOTEMPTY",    "WSAEPROCLIM",     "WSAEUSERS",       "WSAEDQUOT",          "WSAESTALE",
    "WSAEREMOTE"};
const char* const N10091[] = {"WSASYSNOTREADY", "WSAVERNOTSUPPORTED", "WSANOTINITIALISED"};
const char* const N10101[] = {"WSAEDISCON",          "WSAENOMORE",           "WSAECANCELLED",
                              "WSAEINVALIDPROCTABLE", "WSAEINVALIDPROVIDER", "WSAEPROVIDERFAILEDINIT",
                              "WSASYSCALLFAILURE",   "WSASERVICE_NOT_FOUND", "WSATYPE_NOT_FOUND",
                              "WSA_E_NO_MORE",       "WSA_E_CANCELLED",      "WSAEREFUSED"};
const char* const N11001[] = {"WSAHOST_NOT_FOUND", "WSATRY_AGAIN", "WSANO_RECOVERY", "WSANO_DATA"};
const char* const N11005[] = {
    "WSA_QOS_RECEIVERS",         "WSA_QOS_SENDERS",          "WSA_QOS_NO_SENDERS",
    "WSA_QOS_NO_RECEIVERS",      "WSA_QOS_REQUEST_CONFIRMED", "WSA_QOS_ADMISSION_FAILURE",
    "WSA_QOS_POLICY_FAILURE",    "WSA_QOS_BAD_STYLE",        "WSA_QOS_BAD_OBJECT",
    "WSA_QOS_TRAFFIC_CTRL_ERROR", "WSA_QOS_GENERIC_ERROR",   "WSA_QOS_ESERVICETYPE",
    "WSA_QOS_EFLOWSPEC",         "WSA_QOS_EPROVSPECBUF",     "WSA_QOS_EFILTERSTYLE",
    "WSA_QOS_EFILTERTYPE",       "WSA_QOS_EFILTERCOUNT",     "WSA_QOS_EOBJLENGTH",
    "WSA_QOS_EFLOWCOUNT",        "WSA_QOS_EUNKNOWNPSOBJ",    "WSA_QOS_EPOLICYOBJ",
    "WSA_QOS_EFLOWDESC",         "WSA_QOS_EPSFLOWSPEC",      "WSA_QOS_EPSFILTERSPEC",
    "WSA_QOS_ESDMODEOBJ",        "WSA_QOS_ESHAPERATEOBJ",    "WSA_QOS_RESERVED_PETYPE"};

#define RANGE(first, names) {first, names, (int)(sizeof names / sizeof names[0])}
const NameRange RANGES[] = {RANGE(10009, N10009), RANGE(10013, N10013), RANGE(10022, N10022),
                            RANGE(10024, N10024), RANGE(10036, N10036), RANGE(10091, N10091),
                            RANGE(10101, N10101), RANGE(11001, N11001), RANGE(11005, N11005)};
#undef RANGE

constexpr int CODE_INTERRUPTED = 10004;
constexpr int CODE_WOULD_BLOCK = 10035;

const char* table_name(int code) {
  for (int i = 0; i < 6; i++)
    if (SINGLE_LOW_CODES[i] == code) return SINGLE_LOW[i];
  for (const NameRange& r : RANGES)
    if (code >= r.first && code < r.first + r.count) return r.names[code - r.first];
  return nullptr;
}

void record_code(int code, int fallback_number) {
  if (code == CODE_INTERRUPTED || code == CODE_WOULD_BLOCK) {
    g_last_error = nullptr;
    return;
  }
  if (const char* name = table_name(code)) {
    g_last_error = name;
    return;
  }
  snprintf(g_error_number, sizeof g_error_number, "%d", code >= 0 ? code : fallback_number);
  g_last_error = g_error_number;
}

sockaddr_in to_sockaddr(const SocketAddress& a) {
  sockaddr_in s{};
  s.sin_family = AF_INET;
  s.sin_port = htons(a.port);
  s.sin_addr.s_addr = htonl(a.host);
  return s;
}

}  // namespace

std::string socket_error_name(int code) {
  if (code == CODE_INTERRUPTED || code == CODE_WOULD_BLOCK) return std::string();
  if (const char* name = table_name(code)) return name;
  return std::to_string(code);
}

int socket_code_for_errno(int error) {
  switch (error) {
    case EINTR: return 10004;
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EAGAIN: return 10035;
    case EBADF: return 10009;
    case EPERM:  // a firewall rule refusing the send
    case EACCES: return 10013;
    case EFAULT: return 10014;
    case EINVAL: return 10022;
    case ENFILE:
    case EMFILE: return 10024;
    case ENOMEM: return 8;
    case EINPROGRESS: return 10036;
    case EALREADY: return 10037;
    case ENOTSOCK: return 10038;
    case EDESTADDRREQ: return 10039;
    case EMSGSIZE: return 10040;
    case EPROTOTYPE: return 10041;
    case ENOPROTOOPT: return 10042;
    case EPROTONOSUPPORT: return 10043;
    case ESOCKTNOSUPPORT: return 10044;
    case EOPNOTSUPP: return 10045;
    case EPFNOSUPPORT: return 10046;
    case EAFNOSUPPORT: return 10047;
    case EADDRINUSE: return 10048;
    case EADDRNOTAVAIL: return 10049;
    case ENETDOWN: return 10050;
    case ENETUNREACH: return 10051;
    case ENETRESET: return 10052;
    case ECONNABORTED: return 10053;
    case ECONNRESET: return 10054;
    case ENOBUFS: return 10055;
    case EISCONN: return 10056;
    case ENOTCONN: return 10057;
    case EPIPE:
    case ESHUTDOWN: return 10058;
    case ETOOMANYREFS: return 10059;
    case ETIMEDOUT: return 10060;
    case ECONNREFUSED: return 10061;
    case ELOOP: return 10062;
    case ENAMETOOLONG: return 10063;
    case EHOSTDOWN: return 10064;
    case EHOSTUNREACH: return 10065;
    case ENOTEMPTY: return 10066;
    case EUSERS: return 10068;
    case EDQUOT: return 10069;
    case ESTALE: return 10070;
    case EREMOTE: return 10071;
    case ECANCELED: return 10103;
    default: return -1;
  }
}

int socket_code_for_resolver(int result, int error) {
  switch (result) {
    case EAI_NONAME: return 11001;
    case EAI_AGAIN: return 11002;
    case EAI_FAIL: return 11003;
#ifdef EAI_NODATA
    case EAI_NODATA: return 11004;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY: return 11004;
#endif
    case EAI_MEMORY: return 8;
    case EAI_FAMILY: return 10047;
    case EAI_SOCKTYPE: return 10044;
    case EAI_SERVICE: return 10109;
    case EAI_BADFLAGS: return 10022;
    case EAI_SYSTEM: return socket_code_for_errno(error);
    default: return -1;
  }
}

void record_socket_errno(int error) { record_code(socket_code_for_errno(error), error); }

void clear_socket_error() { g_last_error = nullptr; }

const char* socket_error() { return g_last_error; }

std::string format_address(const SocketAddress& a) {
  char text[32];
  snprintf(text, sizeof text, "%u.%u.%u.%u:%u", (unsigned)(a.host >> 24), (unsigned)(a.host >> 16) & 255,
           (unsigned)(a.host >> 8) & 255, (unsigned)a.host & 255, (unsigned)a.port);
  return text;
}

void split_address(const char* text, int default_port, std::string* host, int* port) {
  *host = text ? text : "";
  *port = default_port;
  size_t colon = host->rfind(':');
  if (colon != std::string::npos) {
    int value;
    if (sscanf(host->c_str() + colon + 1, "%d", &value) == 1) {
      *port = value;
      host->resize(colon);
    }
  }
}

bool resolve_address(const char* text, int default_port, SocketAddress* out) {
  clear_socket_error();
  if (!text) return false;
  std::string host;
  int port;
  split_address(text, default_port, &host, &port);
  if (port < 1 || port > 65535 || host.empty()) return false;

  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* result = nullptr;
  int status = getaddrinfo(host.c_str(), nullptr, &hints, &result);
  if (status != 0) {
    record_code(socket_code_for_resolver(status, errno), status);
    return false;
  }
  bool found = false;
  for (addrinfo* a = result; a; a = a->ai_next) {
    if (a->ai_family != AF_INET || a->ai_addrlen < (socklen_t)sizeof(sockaddr_in)) continue;
    const sockaddr_in* s = reinterpret_cast<const sockaddr_in*>(a->ai_addr);
    out->host = ntohl(s->sin_addr.s_addr);
    out->port = (uint16_t)port;
    found = true;
    break;
  }
  freeaddrinfo(result);
  return found;
}

int open_socket() {
  clear_socket_error();
  int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (s < 0) {
    record_socket_errno(errno);
    return -1;
  }
  int flags = fcntl(s, F_GETFL, 0);
  if (flags < 0 || fcntl(s, F_SETFL, flags | O_NONBLOCK) < 0) {
    record_socket_errno(errno);
    close(s);
    return -1;
  }
  return s;
}

bool bind_socket(int socket, int port) {
  clear_socket_error();
  sockaddr_in s{};
  s.sin_family = AF_INET;
  s.sin_port = htons((uint16_t)port);
  s.sin_addr.s_addr = htonl(INADDR_ANY);
  if (bind(socket, reinterpret_cast<sockaddr*>(&s), sizeof s) != 0) {
    record_socket_errno(errno);
    return false;
  }
  return true;
}

int socket_port(int socket) {
  sockaddr_in s{};
  socklen_t size = sizeof s;
  if (getsockname(socket, reinterpret_cast<sockaddr*>(&s), &size) != 0) return -1;
  return ntohs(s.sin_port);
}

int send_datagram(int socket, const void* bytes, int length, const SocketAddress& to) {
  clear_socket_error();
  if (length < 0) {
    record_code(10022, 0);
    return -1;
  }
  sockaddr_in s = to_sockaddr(to);
  ssize_t sent;
  do {
    sent = sendto(socket, bytes, (size_t)length, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&s), sizeof s);
  } while (sent < 0 && errno == EINTR);
  if (sent < 0) {
    record_socket_errno(errno);
    return -1;
  }
  return (int)sent;
}

int receive_datagram(int socket, void* buffer, int capacity, SocketAddress* from) {
  clear_socket_error();
  for (;;) {
    sockaddr_in s{};
    socklen_t size = sizeof s;
    // MSG_TRUNC makes the call report the datagram's real length, so one
    // longer than the buffer is told apart from one that fits exactly.
    ssize_t got = recvfrom(socket, buffer, capacity > 0 ? (size_t)capacity : 0, MSG_TRUNC,
                           reinterpret_cast<sockaddr*>(&s), &size);
    if (got < 0) {
      if (errno == EINTR) continue;
      // A refused earlier send shows up here on Linux; it says nothing about
      // the datagrams still waiting, so the caller just tries again later.
      record_socket_errno(errno);
      return -1;
    }
    if (got > capacity) {
      record_code(10040, 0);
      return -1;
    }
    if (from) {
      from->host = ntohl(s.sin_addr.s_addr);
      from->port = ntohs(s.sin_port);
    }
    return (int)got;
  }
}

bool wait_readable(int socket, double seconds) {
  pollfd p{socket, POLLIN, 0};
  int ms = seconds <= 0 ? 0 : (int)(seconds * 1000.0 + 0.5);
  return poll(&p, 1, ms) > 0 && (p.revents & POLLIN);
}

void close_socket(int socket) {
  if (socket >= 0) close(socket);
}

void shutdown_sockets() { clear_socket_error(); }
