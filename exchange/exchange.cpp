#include "exchange.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "handles.h"
#include "message_pump.h"
#include "random.h"
#include "winsock_startup.h"

namespace vavizav {
namespace {

constexpr std::uint16_t DNS_PORT = 53;
// Room for any UDP payload (at most 65,507 octets over IPv4, 65,527 over IPv6):
// a datagram is never cut.
constexpr std::size_t RECEIVE_BUFFER_SIZE = 65536;
// Datagrams read before the wait when some are queued right after the send.
constexpr int FAST_PATH_DATAGRAMS = 4;

std::optional<std::uint16_t> ParsePort(std::wstring_view text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  unsigned value = 0;
  for (const wchar_t c : text) {
    if (c < L'0' || c > L'9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - L'0');
  }
  if (value == 0 || value > 65535) return std::nullopt;
  return static_cast<std::uint16_t>(value);
}

std::optional<ServerEndpoint> NumericEndpoint(const std::wstring& host, std::uint16_t port, bool ipv6Only) {
  ServerEndpoint endpoint;
  if (!ipv6Only) {
    sockaddr_in v4{};
    if (::InetPtonW(AF_INET, host.c_str(), &v4.sin_addr) == 1) {
      v4.sin_family = AF_INET;
      v4.sin_port = ::htons(port);
      std::memcpy(&endpoint.Address, &v4, sizeof v4);
      endpoint.Length = sizeof v4;
      return endpoint;
    }
  }
  sockaddr_in6 v6{};
  if (::InetPtonW(AF_INET6, host.c_str(), &v6.sin6_addr) == 1) {
    v6.sin6_family = AF_INET6;
    v6.sin6_port = ::htons(port);
    std::memcpy(&endpoint.Address, &v6, sizeof v6);
    endpoint.Length = sizeof v6;
    return endpoint;
  }
  return std::nullopt;
}

struct AddrInfoDeleter {
  void operator()(ADDRINFOW* list) const noexcept { ::FreeAddrInfoW(list); }
};

// Through the system: host names, and numeric forms InetPtonW does not take
// (an IPv6 scope such as "fe80::1%2").
std::optional<ServerEndpoint> SystemEndpoint(const std::wstring& host, std::uint16_t port, bool ipv6Only) {
  ADDRINFOW hints{};
  hints.ai_family = ipv6Only ? AF_INET6 : AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_protocol = IPPROTO_UDP;
  if (ipv6Only) hints.ai_flags = AI_NUMERICHOST;
  ADDRINFOW* raw = nullptr;
  if (::GetAddrInfoW(host.c_str(), nullptr, &hints, &raw) != 0) return std::nullopt;
  const std::unique_ptr<ADDRINFOW, AddrInfoDeleter> list(raw);
  for (const ADDRINFOW* entry = list.get(); entry; entry = entry->ai_next) {
    ServerEndpoint endpoint;
    if (entry->ai_family == AF_INET && entry->ai_addrlen >= sizeof(sockaddr_in)) {
      std::memcpy(&endpoint.Address, entry->ai_addr, sizeof(sockaddr_in));
      reinterpret_cast<sockaddr_in&>(endpoint.Address).sin_port = ::htons(port);
      endpoint.Length = sizeof(sockaddr_in);
      return endpoint;
    }
    if (entry->ai_family == AF_INET6 && entry->ai_addrlen >= sizeof(sockaddr_in6)) {
      std::memcpy(&endpoint.Address, entry->ai_addr, sizeof(sockaddr_in6));
      reinterpret_cast<sockaddr_in6&>(endpoint.Address).sin6_port = ::htons(port);
      endpoint.Length = sizeof(sockaddr_in6);
      return endpoint;
    }
  }
  return std::nullopt;
}

// Whether `from` is the server's address and port.
bool FromServer(const sockaddr_storage& from, const ServerEndpoint& server) {
  if (from.ss_family != server.Address.ss_family) return false;
  if (from.ss_family == AF_INET) {
    const auto& a = reinterpret_cast<const sockaddr_in&>(from);
    const auto& b = reinterpret_cast<const sockaddr_in&>(server.Address);
    return a.sin_port == b.sin_port && a.sin_addr.s_addr == b.sin_addr.s_addr;
  }
  if (from.ss_family == AF_INET6) {
    const auto& a = reinterpret_cast<const sockaddr_in6&>(from);
    const auto& b = reinterpret_cast<const sockaddr_in6&>(server.Address);
    return a.sin6_port == b.sin6_port && std::memcmp(&a.sin6_addr, &b.sin6_addr, sizeof a.sin6_addr) == 0;
  }
  return false;
}

// One exchange's socket, what went out on it and where replies must come from.
struct PendingQuery {
  SOCKET Socket;
  const ServerEndpoint& Server;
  std::uint16_t Id;
  const vbDNS::DNSQuestion& Question;
  std::vector<std::uint8_t>& Buffer;
};

// One datagram off the socket, judged: the reply (RFC 5452 section 9), a
// datagram to drop, or nothing to read now.
enum class Received { Reply, Dropped, Nothing };
Received ReceiveOne(const PendingQuery& pending, std::optional<vbDNS::Packet>& reply) {
  sockaddr_storage from{};
  int fromLength = sizeof from;
  const int received = ::recvfrom(pending.Socket, reinterpret_cast<char*>(pending.Buffer.data()),
                                  static_cast<int>(pending.Buffer.size()), 0, reinterpret_cast<sockaddr*>(&from),
                                  &fromLength);
  if (received == SOCKET_ERROR) {
    const int error = ::WSAGetLastError();
    // An ICMP port unreachable for our query shows on Windows as
    // WSAECONNRESET at the next receive; the server may still answer later.
    if (error == WSAECONNRESET || error == WSAEMSGSIZE) return Received::Dropped;
    // WSAEWOULDBLOCK: nothing more queued. Any other error: the wait goes on
    // until a new datagram or the deadline.
    return Received::Nothing;
  }
  const vbDNS::PacketView datagram(pending.Buffer.data(), static_cast<std::size_t>(received));
  if (!FromServer(from, pending.Server) || !vbDNS::ReplyMatchesQuery(datagram, pending.Id, pending.Question)) {
    return Received::Dropped;
  }
  reply.emplace(datagram.begin(), datagram.end());
  return Received::Reply;
}

// Reads every queued datagram until the reply turns up; others are dropped.
// nullopt when the queue is empty without a reply.
std::optional<vbDNS::Packet> TakeReply(const PendingQuery& pending) {
  std::optional<vbDNS::Packet> reply;
  while (ReceiveOne(pending, reply) == Received::Dropped) {
  }
  return reply;
}

// Sleeps until a datagram, a message for the thread or the deadline, whichever
// comes first, and dispatches the messages. The datagram queue is read before
// the deadline is judged, so a reply that arrived in time while a nested call
// kept this wait from running is still taken.
std::optional<vbDNS::Packet> AwaitReply(const PendingQuery& pending, WSAEVENT readable, ULONGLONG deadline) {
  bool pumping = true;
  for (;;) {
    const ULONGLONG now = ::GetTickCount64();
    const DWORD remaining = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
    const bool withMessages = pumping && remaining > 0;
    const DWORD woken = withMessages ? ::MsgWaitForMultipleObjectsEx(1, &readable, remaining, QS_ALLINPUT,
                                                                     MWMO_INPUTAVAILABLE)
                                     : ::WaitForSingleObject(readable, remaining);
    if (woken == WAIT_OBJECT_0) {
      // Usually the first datagram is the reply, and the event dies with the
      // exchange. Otherwise the queue is empty now: clear the signal, then read
      // once more, as a datagram that came just before the clearing has
      // signalled already and would not signal again until a receive re-arms
      // FD_READ.
      if (std::optional<vbDNS::Packet> reply = TakeReply(pending)) return reply;
      ::WSAResetEvent(readable);
      if (std::optional<vbDNS::Packet> reply = TakeReply(pending)) return reply;
      if (remaining == 0) return std::nullopt;
      // A stream of stray datagrams must not hold up the thread's messages.
      if (pumping && PumpMessages() == PumpResult::Quit) pumping = false;
    } else if (withMessages && woken == WAIT_OBJECT_0 + 1) {
      if (PumpMessages() == PumpResult::Quit) pumping = false;
    } else {
      return std::nullopt;  // the deadline, or a wait that cannot be done
    }
  }
}

}  // namespace

std::optional<ServerEndpoint> ResolveServer(std::wstring_view server) {
  std::wstring_view host = server;
  std::uint16_t port = DNS_PORT;
  bool bracketed = false;
  if (!server.empty() && server.front() == L'[') {
    const std::size_t close = server.find(L']');
    if (close == std::wstring_view::npos) return std::nullopt;
    host = server.substr(1, close - 1);
    const std::wstring_view rest = server.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != L':') return std::nullopt;
      const std::optional<std::uint16_t> parsed = ParsePort(rest.substr(1));
      if (!parsed) return std::nullopt;
      port = *parsed;
    }
    bracketed = true;
  } else if (std::count(server.begin(), server.end(), L':') == 1) {
    const std::size_t colon = server.find(L':');
    host = server.substr(0, colon);
    const std::optional<std::uint16_t> parsed = ParsePort(server.substr(colon + 1));
    if (!parsed) return std::nullopt;
    port = *parsed;
  }
  // An embedded NUL would cut the text short for the system calls below.
  if (host.empty() || host.find(L'\0') != std::wstring_view::npos) return std::nullopt;

  const std::wstring hostText(host);
  if (std::optional<ServerEndpoint> endpoint = NumericEndpoint(hostText, port, bracketed)) return endpoint;
  if (!EnsureWinsock()) return std::nullopt;
  return SystemEndpoint(hostText, port, bracketed);
}

std::optional<vbDNS::Packet> ExchangeQuery(const vbDNS::DNSQuery& query, std::wstring_view server, DWORD timeoutMs) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  if (!EnsureWinsock()) return std::nullopt;
  const std::optional<ServerEndpoint> endpoint = ResolveServer(server);
  if (!endpoint) return std::nullopt;
  const std::optional<std::uint16_t> id = Random16();
  if (!id) return std::nullopt;

  // The record keeps QUERY_ID; the wire carries a fresh unpredictable ID
  // (RFC 5452 section 9.2).
  vbDNS::Packet datagram = vbDNS::EncodeQuery(query);
  if (datagram.size() < vbDNS::HEADER_SIZE || datagram.size() > RECEIVE_BUFFER_SIZE) return std::nullopt;
  datagram[0] = static_cast<std::uint8_t>(*id >> 8);
  datagram[1] = static_cast<std::uint8_t>(*id & 0xFF);

  // A socket of its own, on a port the system picks at the send: nothing of an
  // earlier exchange, or of one running around this one, can reach it.
  const unique_socket socket(::socket(endpoint->Address.ss_family, SOCK_DGRAM, IPPROTO_UDP));
  if (!socket) return std::nullopt;
  const int sent = ::sendto(socket.get(), reinterpret_cast<const char*>(datagram.data()),
                            static_cast<int>(datagram.size()), 0,
                            reinterpret_cast<const sockaddr*>(&endpoint->Address), endpoint->Length);
  if (sent != static_cast<int>(datagram.size())) return std::nullopt;

  std::vector<std::uint8_t> buffer(RECEIVE_BUFFER_SIZE);
  const PendingQuery pending{socket.get(), *endpoint, *id, query.Question, buffer};
  // A server close by has often answered by now: what is queued already is
  // read while the socket still blocks (FIONREAD says a read will not wait),
  // and the event, its selection and the wait are spared. Under Wine each of
  // those is a round trip to the Wine server. A bounded number of datagrams,
  // so that a stream of strays cannot hold the thread here.
  for (int read = 0; read < FAST_PATH_DATAGRAMS; ++read) {
    u_long queued = 0;
    if (::ioctlsocket(socket.get(), FIONREAD, &queued) != 0 || queued == 0) break;
    std::optional<vbDNS::Packet> reply;
    const Received received = ReceiveOne(pending, reply);
    if (received == Received::Reply) return reply;
    if (received == Received::Nothing) break;
  }
  // Also makes the socket non-blocking, so that reading drains the queue; a
  // datagram queued before this signals the event at once.
  const unique_wsaevent readable(::WSACreateEvent());
  if (!readable) return std::nullopt;
  if (::WSAEventSelect(socket.get(), readable.get(), FD_READ) != 0) return std::nullopt;
  return AwaitReply(pending, readable.get(), deadline);
}

}  // namespace vavizav
