#include "udp_side.h"

#include <algorithm>
#include <cstring>

namespace vavizav {
namespace {

// Room for any UDP payload (at most 65,507 octets over IPv4, 65,527 over
// IPv6): a datagram is never cut.
constexpr std::size_t RECEIVE_BUFFER_SIZE = 65536;
// Random ports come from 1024..65535 (RFC 6056 section 3.2); a port that is
// taken or reserved costs another draw, and after BIND_ATTEMPTS the system
// picks one.
constexpr std::uint16_t LOWEST_PORT = 1024;
constexpr int BIND_ATTEMPTS = 8;

}  // namespace

UdpSide::UdpSide(RandomPool& random) : random_(random) {}

bool UdpSide::Arm(HANDLE readable) {
  readable_ = readable;
  for (const auto& socket : sockets_) {
    if (::WSAEventSelect(socket->Handle.get(), readable_, FD_READ) != 0) return false;
  }
  return true;
}

UdpSide::~UdpSide() = default;

namespace {

// Under Wine the sockets are the host kernel's, and Linux picks a random free
// ephemeral port for a socket's first send (RFC 6056); ntdll names Wine.
bool HostPicksRandomPorts() {
  static const bool wine = ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
  return wine;
}

}  // namespace

// On Windows the port is drawn here rather than left to the system: callers
// cannot rely on its ephemeral ports being unpredictable, while a draw from
// the system generator is. Under Wine the host kernel draws it at the first
// send, and the explicit bind would only cost two Wine server requests.
unique_socket UdpSide::OpenBound(int family) {
  unique_socket socket(::socket(family, SOCK_DGRAM, IPPROTO_UDP));
  if (!socket) return socket;
  if (HostPicksRandomPorts()) {
    if (readable_ && ::WSAEventSelect(socket.get(), readable_, FD_READ) != 0) socket.reset();
    return socket;
  }
  sockaddr_storage local{};
  int length = 0;
  for (int attempt = 0; attempt <= BIND_ATTEMPTS; ++attempt) {
    std::uint16_t port = 0;  // the last attempt: the system's choice
    if (attempt < BIND_ATTEMPTS) {
      const std::optional<std::uint16_t> drawn = random_.Next16();
      if (!drawn) continue;
      port = static_cast<std::uint16_t>(LOWEST_PORT + *drawn % (65536 - LOWEST_PORT));
    }
    std::memset(&local, 0, sizeof local);
    if (family == AF_INET6) {
      auto& v6 = reinterpret_cast<sockaddr_in6&>(local);
      v6.sin6_family = AF_INET6;
      v6.sin6_port = ::htons(port);
      length = sizeof v6;
    } else {
      auto& v4 = reinterpret_cast<sockaddr_in&>(local);
      v4.sin_family = AF_INET;
      v4.sin_port = ::htons(port);
      length = sizeof v4;
    }
    if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&local), length) == 0) {
      // Also makes the socket non-blocking: reading stops at an empty queue.
      if (readable_ && ::WSAEventSelect(socket.get(), readable_, FD_READ) != 0) socket.reset();
      return socket;
    }
  }
  socket.reset();
  return socket;
}

UdpSide::Socket* UdpSide::Current(int family) {
  for (auto it = sockets_.rbegin(); it != sockets_.rend(); ++it) {
    if ((*it)->Family == family && !(*it)->Retired) return it->get();
  }
  return Open(family);
}

UdpSide::Socket* UdpSide::Open(int family) {
  unique_socket handle = OpenBound(family);
  if (!handle) return nullptr;
  if (!buffer_) buffer_.reset(new std::uint8_t[RECEIVE_BUFFER_SIZE]);
  auto socket = std::make_unique<Socket>();
  socket->Handle = std::move(handle);
  socket->Family = family;
  socket->Serial = nextSerial_++;
  sockets_.push_back(std::move(socket));
  return sockets_.back().get();
}

UdpSide::Socket* UdpSide::Find(std::uint32_t serial) {
  for (const auto& socket : sockets_) {
    if (socket->Serial == serial) return socket.get();
  }
  return nullptr;
}

std::optional<UdpTicket> UdpSide::Send(const vbDNS::DNSQuery& query, const ServerEndpoint& server,
                                       std::uint32_t owner, bool alone) {
  Socket* socket = alone ? Open(server.Address.ss_family) : Current(server.Address.ss_family);
  if (!socket) return std::nullopt;
  if (alone) socket->Retired = true;
  // A fresh unpredictable ID (RFC 5452 section 9.2), none that this socket
  // has carried before: at most 100 to avoid, so a few draws at most.
  std::optional<std::uint16_t> id;
  const auto begin = socket->Queries.begin();
  const auto end = begin + socket->Used;
  for (int draw = 0; draw < 16 && !id; ++draw) {
    id = random_.Next16();
    if (!id) return std::nullopt;
    if (std::any_of(begin, end, [&](const Carried& c) { return c.Id == *id; })) id.reset();
  }
  if (!id) return std::nullopt;
  vbDNS::QueryDatagram datagram;
  const std::size_t size = vbDNS::EncodeQuery(query, *id, datagram);
  if (size == 0) return std::nullopt;
  // The slot is used whether or not the send goes: a socket's life counts sends.
  Carried& carried = socket->Queries[socket->Used++];
  if (socket->Used == QUERIES_PER_SOCKET) socket->Retired = true;
  carried = Carried{*id, false, owner};
  const int sent = ::sendto(socket->Handle.get(), reinterpret_cast<const char*>(datagram.data()),
                            static_cast<int>(size), 0, reinterpret_cast<const sockaddr*>(&server.Address),
                            server.Length);
  if (sent != static_cast<int>(size)) return std::nullopt;
  carried.Live = true;
  ++socket->Live;
  return UdpTicket{socket->Serial, *id};
}

void UdpSide::Release(const UdpTicket& ticket) {
  Socket* socket = Find(ticket.Socket);
  if (!socket) return;
  for (unsigned i = 0; i < socket->Used; ++i) {
    Carried& carried = socket->Queries[i];
    if (carried.Live && carried.Id == ticket.Id) {
      carried.Live = false;
      --socket->Live;
      return;
    }
  }
}

void UdpSide::Sweep() {
  std::erase_if(sockets_, [](const std::unique_ptr<Socket>& s) { return s->Retired && s->Live == 0; });
}

// FIONREAD always completes at once. Asked with an OVERLAPPED that names no
// event, Wine signals nothing on completion, where ioctlsocket would set the
// thread's own event: one Wine server request less per look at the queue.
std::optional<u_long> UdpSide::QueuedOctets(SOCKET socket) {
  u_long queued = 0;
  DWORD written = 0;
  OVERLAPPED overlapped{};
  if (::WSAIoctl(socket, FIONREAD, nullptr, 0, &queued, sizeof queued, &written, &overlapped, nullptr) != 0) {
    return std::nullopt;
  }
  return queued;
}

UdpSide::Received UdpSide::ReceiveOne(Socket& socket, sockaddr_storage& from, int& size) {
  int fromLength = sizeof from;
  const int received = ::recvfrom(socket.Handle.get(), reinterpret_cast<char*>(buffer_.get()),
                                  static_cast<int>(RECEIVE_BUFFER_SIZE), 0, reinterpret_cast<sockaddr*>(&from),
                                  &fromLength);
  if (received != SOCKET_ERROR) {
    size = received;
    return Received::Datagram;
  }
  const int error = ::WSAGetLastError();
  // An ICMP port unreachable for one of the sends shows on Windows as
  // WSAECONNRESET at the next receive, without saying which send.
  if (error == WSAECONNRESET) return Received::Unreachable;
  if (error == WSAEMSGSIZE) return Received::Skipped;
  // WSAEWOULDBLOCK: nothing more queued. Any other error: the next datagram
  // signals again.
  return Received::Nothing;
}

}  // namespace vavizav
