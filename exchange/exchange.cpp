#include "exchange.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
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
// Datagrams read per wake of the wait before the deadline is judged and the
// thread's messages are dispatched.
constexpr int DATAGRAMS_PER_WAKE = 32;
// The first resend comes after min(FIRST_RESEND_MS, time-out / 4).
constexpr ULONGLONG FIRST_RESEND_MS = 1000;
// The largest DNS message: TCP carries its length in two octets.
constexpr std::size_t MAX_TCP_MESSAGE = 65535;

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

// The send schedule without a list: the first resend interval and the number
// of sends; send k goes First * (2^k - 1) ms after the first.
struct SendPlan {
  ULONGLONG First;
  std::size_t Count;
  ULONGLONG Offset(std::size_t k) const { return First * ((ULONGLONG{1} << k) - 1); }
};

// At most 23 sends: below a time-out of 4000 ms the plan has at most three,
// and from there the first interval is 1000 ms, so send 23 would go at
// 1000 * (2^23 - 1) ms, past any DWORD time-out.
constexpr std::size_t MAX_SENDS = 23;

SendPlan PlanSends(DWORD timeoutMs) {
  SendPlan plan{std::max<ULONGLONG>(1, std::min<ULONGLONG>(FIRST_RESEND_MS, timeoutMs / 4)), 1};
  while (plan.Count < MAX_SENDS && plan.Offset(plan.Count) < timeoutMs) ++plan.Count;
  return plan;
}

// One send of the exchange: to which server, with which ID.
struct Sent {
  std::size_t Server;
  std::uint16_t Id;
};

enum class Woken { Signalled, Time, Failed };

// Sleeps until `event` is signalled or the tick count reaches `until`,
// dispatching the thread's messages meanwhile (until a WM_QUIT turns `pumping`
// off). With no time left the event is still looked at once, so that what
// arrived while a nested call kept this wait from running is not lost.
Woken SleepUntil(WSAEVENT event, ULONGLONG until, bool& pumping) {
  for (;;) {
    const ULONGLONG now = ::GetTickCount64();
    const DWORD remaining = now >= until ? 0 : static_cast<DWORD>(std::min<ULONGLONG>(until - now, INFINITE - 1));
    const bool withMessages = pumping && remaining > 0;
    const DWORD woken = withMessages ? ::MsgWaitForMultipleObjectsEx(1, &event, remaining, QS_ALLINPUT,
                                                                     MWMO_INPUTAVAILABLE)
                                     : ::WaitForSingleObject(event, remaining);
    if (woken == WAIT_OBJECT_0) return Woken::Signalled;
    if (withMessages && woken == WAIT_OBJECT_0 + 1) {
      if (PumpMessages() == PumpResult::Quit) pumping = false;
      continue;
    }
    return woken == WAIT_TIMEOUT ? Woken::Time : Woken::Failed;
  }
}

// The question of `query` asked again over TCP of `server` (RFC 7766): a
// fresh connection and a fresh ID, the message behind its two-octet length,
// the reply read whole however it is cut into segments, and the same checks as
// for a datagram. Everything is non-blocking and waited for with the thread's
// messages flowing, until `deadline`. nullopt when the connection is refused,
// reset or closed early, the reply is short or does not match, or time runs out.
std::optional<vbDNS::Packet> AskOverTcp(const vbDNS::DNSQuery& query, const ServerEndpoint& server,
                                        ULONGLONG deadline, bool& pumping) {
  if (::GetTickCount64() >= deadline) return std::nullopt;
  const std::optional<std::uint16_t> id = Random16();
  if (!id) return std::nullopt;
  // The message behind its length: at most MAX_QUERY_SIZE octets, so the
  // length fits its two octets.
  std::array<std::uint8_t, 2 + vbDNS::MAX_QUERY_SIZE> out;
  const std::size_t length = vbDNS::EncodeQuery(query, *id, std::span(out).subspan(2));
  if (length < vbDNS::HEADER_SIZE) return std::nullopt;
  out[0] = static_cast<std::uint8_t>(length >> 8);
  out[1] = static_cast<std::uint8_t>(length & 0xFF);
  const std::size_t total = 2 + length;
  const vbDNS::DNSQuestion& question = query.Question;

  const unique_socket socket(::socket(server.Address.ss_family, SOCK_STREAM, IPPROTO_TCP));
  const unique_wsaevent event(::WSACreateEvent());
  if (!socket || !event) return std::nullopt;
  // Makes the socket non-blocking: the connect below returns at once.
  if (::WSAEventSelect(socket.get(), event.get(), FD_CONNECT | FD_WRITE | FD_READ | FD_CLOSE) != 0) {
    return std::nullopt;
  }
  bool connected = false;
  if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&server.Address), server.Length) == 0) {
    connected = true;
  } else if (::WSAGetLastError() != WSAEWOULDBLOCK) {
    return std::nullopt;
  }

  std::size_t written = 0;
  std::vector<std::uint8_t> in(2 + MAX_TCP_MESSAGE);
  std::size_t have = 0;
  for (;;) {
    if (SleepUntil(event.get(), deadline, pumping) != Woken::Signalled) return std::nullopt;
    WSANETWORKEVENTS events{};
    if (::WSAEnumNetworkEvents(socket.get(), event.get(), &events) != 0) return std::nullopt;
    if (events.lNetworkEvents & FD_CONNECT) {
      if (events.iErrorCode[FD_CONNECT_BIT] != 0) return std::nullopt;
      connected = true;
    }
    while (connected && written < total) {
      const int sent = ::send(socket.get(), reinterpret_cast<const char*>(out.data() + written),
                              static_cast<int>(total - written), 0);
      if (sent == SOCKET_ERROR) {
        if (::WSAGetLastError() != WSAEWOULDBLOCK) return std::nullopt;
        break;  // FD_WRITE tells when there is room again
      }
      written += static_cast<std::size_t>(sent);
    }
    bool closed = false;
    if (events.lNetworkEvents & (FD_READ | FD_CLOSE)) {
      // Reads what is there, up to the end of the one message expected.
      for (;;) {
        const std::size_t wanted = have < 2 ? 2 : 2 + (static_cast<std::size_t>(in[0]) << 8 | in[1]);
        if (have >= wanted) break;
        const int received = ::recv(socket.get(), reinterpret_cast<char*>(in.data() + have),
                                    static_cast<int>(wanted - have), 0);
        if (received == 0) {
          closed = true;
          break;
        }
        if (received == SOCKET_ERROR) {
          if (::WSAGetLastError() != WSAEWOULDBLOCK) return std::nullopt;
          break;
        }
        have += static_cast<std::size_t>(received);
      }
    }
    if (have >= 2) {
      const std::size_t length = static_cast<std::size_t>(in[0]) << 8 | in[1];
      if (length < vbDNS::HEADER_SIZE) return std::nullopt;
      if (have >= 2 + length) {
        const vbDNS::PacketView reply(in.data() + 2, length);
        if (!vbDNS::ReplyMatchesQuery(reply, *id, question)) return std::nullopt;
        return vbDNS::Packet(reply.begin(), reply.end());
      }
    }
    if (closed || (events.lNetworkEvents & FD_CLOSE)) return std::nullopt;  // closed before the whole reply
    if (::GetTickCount64() >= deadline) return std::nullopt;
  }
}

// One UDP exchange: its sockets (one per address family, made at the first send
// to that family), what went out on them, and the wait for the reply.
class UdpExchange {
 public:
  UdpExchange(const std::vector<ServerEndpoint>& servers, const vbDNS::DNSQuery& query, DWORD timeoutMs,
              ULONGLONG start)
      : servers_(servers), query_(query), plan_(PlanSends(timeoutMs)),
        start_(start), deadline_(start + timeoutMs) {}

  std::optional<vbDNS::Packet> Run() {
    bool pumping = true;
    SendDue();
    // Made while the first query is on its way, not before it goes.
    buffer_.resize(RECEIVE_BUFFER_SIZE);
    // A server close by has often answered by now: what is queued already is
    // read while the socket still blocks (FIONREAD says a read will not wait),
    // and the event, its selection and the wait are spared. Under Wine each of
    // those is a round trip to the Wine server. A bounded number of datagrams,
    // so that a stream of strays cannot hold the thread here.
    for (unique_socket& socket : sockets_) {
      if (!socket) continue;
      for (int read = 0; read < FAST_PATH_DATAGRAMS; ++read) {
        u_long queued = 0;
        if (::ioctlsocket(socket.get(), FIONREAD, &queued) != 0 || queued == 0) break;
        const Received received = ReceiveOne(socket.get());
        if (received == Received::Reply) return Finish(pumping);
        if (received == Received::Nothing) break;
      }
    }
    if (delivered_ == 0 && sentCount_ == plan_.Count) return std::nullopt;  // nothing could be sent
    // Also makes the sockets non-blocking, so that reading stops at an empty
    // queue; a datagram queued before this signals the event at once.
    readable_.reset(::WSACreateEvent());
    if (!readable_) return std::nullopt;
    for (unique_socket& socket : sockets_) {
      if (socket && ::WSAEventSelect(socket.get(), readable_.get(), FD_READ) != 0) return std::nullopt;
    }
    for (;;) {
      SendDue();
      if (delivered_ == 0 && sentCount_ == plan_.Count) return std::nullopt;
      const ULONGLONG until = sentCount_ < plan_.Count ? std::min(nextSend_, deadline_) : deadline_;
      const Woken woken = SleepUntil(readable_.get(), until, pumping);
      if (woken == Woken::Failed) return std::nullopt;
      if (woken == Woken::Signalled) {
        // At most DATAGRAMS_PER_WAKE datagrams, then the deadline and the
        // thread's messages: a flood of strays cannot hold the wait. When the
        // queue ran dry, the signal is cleared and the queue read once more, as
        // a datagram that came just before the clearing has signalled already
        // and would not signal again until a receive re-arms FD_READ.
        Batch batch = ReadBatch();
        if (batch == Batch::Reply) return Finish(pumping);
        if (batch == Batch::Drained) {
          ::WSAResetEvent(readable_.get());
          batch = ReadBatch();
          if (batch == Batch::Reply) return Finish(pumping);
          if (batch == Batch::Full) ::WSASetEvent(readable_.get());
        }
        if (::GetTickCount64() >= deadline_) return std::nullopt;
        if (pumping && PumpMessages() == PumpResult::Quit) pumping = false;
      } else if (::GetTickCount64() >= deadline_) {
        return std::nullopt;
      }
    }
  }

 private:
  // A datagram off a socket, judged: the reply (RFC 5452 section 9), a datagram
  // to drop, or nothing to read now.
  enum class Received { Reply, Dropped, Nothing };
  enum class Batch { Reply, Drained, Full };

  SOCKET SocketFor(int family) {
    unique_socket& socket = sockets_[family == AF_INET6 ? 1 : 0];
    if (!socket) {
      // A socket of its own, on a port the system picks at the first send:
      // nothing of an earlier exchange, or of one running around this one, can
      // reach it.
      socket.reset(::socket(family, SOCK_DGRAM, IPPROTO_UDP));
      if (socket && readable_ && ::WSAEventSelect(socket.get(), readable_.get(), FD_READ) != 0) socket.reset();
    }
    return socket ? socket.get() : INVALID_SOCKET;
  }

  // Sends every send that is due now. A send that cannot be made lets the next
  // one go at once.
  void SendDue() {
    // The schedule counts from the first send: the resolution of server names
    // may have taken part of the time-out, and the sends it missed are not
    // made up in a burst. Sends that would fall after the deadline never go.
    if (sentCount_ == 0) start_ = ::GetTickCount64();
    while (sentCount_ < plan_.Count && ::GetTickCount64() >= nextSend_) {
      const std::size_t server = sentCount_ % servers_.size();
      const ServerEndpoint& endpoint = servers_[server];
      // Every send carries a fresh unpredictable ID (RFC 5452 section 9.2),
      // kept with the server it went to.
      const std::optional<std::uint16_t> id = Random16();
      Sent& record = sent_[sentCount_++];
      record = Sent{server, id.value_or(0)};
      nextSend_ = sentCount_ < plan_.Count ? start_ + plan_.Offset(sentCount_) : deadline_;
      const SOCKET socket = SocketFor(endpoint.Address.ss_family);
      bool delivered = false;
      vbDNS::QueryDatagram datagram;
      const std::size_t size = id ? vbDNS::EncodeQuery(query_, *id, datagram) : 0;
      if (size != 0 && socket != INVALID_SOCKET) {
        const int sent = ::sendto(socket, reinterpret_cast<const char*>(datagram.data()), static_cast<int>(size), 0,
                                  reinterpret_cast<const sockaddr*>(&endpoint.Address), endpoint.Length);
        delivered = sent == static_cast<int>(size);
      }
      if (delivered) {
        ++delivered_;
      } else {
        record.Server = servers_.size();  // nothing went out: no reply can match it
        nextSend_ = std::min(nextSend_, ::GetTickCount64());
      }
    }
  }

  Received ReceiveOne(SOCKET socket) {
    sockaddr_storage from{};
    int fromLength = sizeof from;
    const int received = ::recvfrom(socket, reinterpret_cast<char*>(buffer_.data()), static_cast<int>(buffer_.size()),
                                    0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (received == SOCKET_ERROR) {
      const int error = ::WSAGetLastError();
      // An ICMP port unreachable for one of our sends shows on Windows as
      // WSAECONNRESET at the next receive: that server is not listening, so
      // the next send goes at once rather than after the interval. Another
      // server, or this one later, may still answer.
      if (error == WSAECONNRESET) {
        nextSend_ = std::min(nextSend_, ::GetTickCount64());
        return Received::Dropped;
      }
      if (error == WSAEMSGSIZE) return Received::Dropped;
      // WSAEWOULDBLOCK: nothing more queued. Any other error: the wait goes on
      // until a new datagram or the deadline.
      return Received::Nothing;
    }
    const vbDNS::PacketView datagram(buffer_.data(), static_cast<std::size_t>(received));
    for (std::size_t k = 0; k < sentCount_; ++k) {
      const Sent& sent = sent_[k];
      if (sent.Server < servers_.size() && FromServer(from, servers_[sent.Server]) &&
          vbDNS::ReplyMatchesQuery(datagram, sent.Id, query_.Question)) {
        reply_.emplace(datagram.begin(), datagram.end());
        replyServer_ = sent.Server;
        return Received::Reply;
      }
    }
    return Received::Dropped;
  }

  Batch ReadBatch() {
    int budget = DATAGRAMS_PER_WAKE;
    bool full = false;
    for (unique_socket& socket : sockets_) {
      if (!socket) continue;
      for (;;) {
        if (budget == 0) {
          full = true;
          break;
        }
        --budget;
        const Received received = ReceiveOne(socket.get());
        if (received == Received::Reply) return Batch::Reply;
        if (received == Received::Nothing) break;
      }
    }
    return full ? Batch::Full : Batch::Drained;
  }

  // The reply, or its TCP replacement when it was truncated.
  std::optional<vbDNS::Packet> Finish(bool& pumping) {
    if ((*reply_)[2] & vbDNS::FLAG_TC) {
      if (std::optional<vbDNS::Packet> whole =
              AskOverTcp(query_, servers_[replyServer_], deadline_, pumping)) {
        return whole;
      }
    }
    return std::move(reply_);
  }

  const std::vector<ServerEndpoint>& servers_;
  const vbDNS::DNSQuery& query_;
  const SendPlan plan_;
  ULONGLONG start_;
  const ULONGLONG deadline_;
  ULONGLONG nextSend_ = 0;
  std::vector<std::uint8_t> buffer_;
  std::array<unique_socket, 2> sockets_;  // IPv4, IPv6
  unique_wsaevent readable_;
  std::array<Sent, MAX_SENDS> sent_{};
  std::size_t sentCount_ = 0;
  std::size_t delivered_ = 0;
  std::optional<vbDNS::Packet> reply_;
  std::size_t replyServer_ = 0;
};

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

std::vector<DWORD> SendSchedule(DWORD timeoutMs) {
  const SendPlan plan = PlanSends(timeoutMs);
  std::vector<DWORD> offsets;
  for (std::size_t k = 0; k < plan.Count; ++k) offsets.push_back(static_cast<DWORD>(plan.Offset(k)));
  return offsets;
}

std::vector<std::wstring_view> SplitServerList(std::wstring_view servers) {
  constexpr std::wstring_view SEPARATORS = L",; \t\r\n";
  std::vector<std::wstring_view> entries;
  for (std::size_t begin = servers.find_first_not_of(SEPARATORS); begin != std::wstring_view::npos;
       begin = servers.find_first_not_of(SEPARATORS, begin)) {
    const std::size_t end = std::min(servers.find_first_of(SEPARATORS, begin), servers.size());
    entries.push_back(servers.substr(begin, end - begin));
    begin = end;
  }
  return entries;
}

std::optional<vbDNS::Packet> ExchangeQuery(const vbDNS::DNSQuery& query, std::wstring_view servers, DWORD timeoutMs) {
  const ULONGLONG start = ::GetTickCount64();
  if (!EnsureWinsock()) return std::nullopt;
  // Every entry is resolved before the first send (a host name through the
  // system, inside the time-out); those that cannot be used drop out.
  std::vector<ServerEndpoint> endpoints;
  for (const std::wstring_view entry : SplitServerList(servers)) {
    if (::GetTickCount64() >= start + timeoutMs) break;
    if (std::optional<ServerEndpoint> endpoint = ResolveServer(entry)) endpoints.push_back(*endpoint);
  }
  if (endpoints.empty()) return std::nullopt;

  UdpExchange exchange(endpoints, query, timeoutMs, start);
  return exchange.Run();
}

}  // namespace vavizav
