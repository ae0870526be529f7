#include "fake_dns_server.h"

#include "packets.h"

#include <array>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "packets.h"
#include "runtime/handles.h"
#include "runtime/winsock_startup.h"

namespace vavizav::testing {

std::string Query::Name() const {
  std::string name;
  for (std::size_t at = vbDNS::HEADER_SIZE; at < Bytes.size() && Bytes[at] != 0; at += Bytes[at] + 1u) {
    if (!name.empty()) name += '.';
    name.append(reinterpret_cast<const char*>(&Bytes[at + 1]), Bytes[at]);
  }
  return name;
}

std::string Query::LowerName() const {
  std::string name = Name();
  for (char& c : name) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c | 0x20) : c;
  return name;
}

std::uint16_t Query::Type() const {
  const std::size_t end = vbDNS::HEADER_SIZE + (Name().empty() ? 1 : Name().size() + 2);
  return static_cast<std::uint16_t>(Bytes.at(end) << 8 | Bytes.at(end + 1));
}

namespace {

constexpr std::size_t LISTENERS = 5;
constexpr std::size_t IPV4_LISTENERS = 3;  // Main, AltPort, OtherAddress: the raw socket
constexpr std::size_t IP_HEADER = 20, UDP_HEADER = 8;

struct Pending {
  ULONGLONG Due;
  std::size_t Listener;
  sockaddr_storage To;
  int ToLength;
  vbDNS::Packet Bytes;
  std::uint64_t Generation;
};

std::size_t Index(Listener listener) { return static_cast<std::size_t>(listener); }

// The listener a reply goes out from; LISTENERS when there is no such one.
std::size_t SourceFor(Listener receivedOn, From source) {
  if (source == From::Receiver) return Index(receivedOn);
  switch (receivedOn) {
    case Listener::Main: return Index(source == From::OtherPort ? Listener::AltPort : Listener::OtherAddress);
    case Listener::AltPort: return Index(source == From::OtherPort ? Listener::Main : Listener::OtherAddress);
    case Listener::Main6: return source == From::OtherPort ? Index(Listener::AltPort6) : LISTENERS;
    case Listener::AltPort6: return source == From::OtherPort ? Index(Listener::Main6) : LISTENERS;
    case Listener::OtherAddress: return LISTENERS;
  }
  return LISTENERS;
}

// Address (network order) and port of the IPv4 listeners.
struct Ipv4Listener {
  std::uint32_t Address;
  std::uint16_t Port;
};

std::uint32_t Ipv4(const wchar_t* text) {
  in_addr address{};
  ::InetPtonW(AF_INET, text, &address);
  return address.s_addr;
}

}  // namespace

struct FakeDnsServer::State {
  const std::array<Ipv4Listener, IPV4_LISTENERS> Ipv4Listeners{
      {{Ipv4(SERVER_ADDRESS), 53}, {Ipv4(SERVER_ADDRESS), ALT_PORT}, {Ipv4(FORGER_ADDRESS), 53}}};
  runtime::unique_socket Raw;
  std::array<runtime::unique_socket, LISTENERS> Sockets;  // the IPv6 listeners
  std::array<runtime::unique_wsaevent, LISTENERS> Events;  // the raw socket's at index 0
  runtime::unique_handle Stop{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  std::string Problem;

  mutable std::mutex Mutex;
  Script CurrentScript;
  std::vector<Query> Queries;
  std::uint64_t Generation = 0;
  std::thread Thread;

  bool OpenRaw() {
    runtime::unique_socket raw(::socket(AF_INET, SOCK_RAW, IPPROTO_UDP));
    runtime::unique_wsaevent event(::WSACreateEvent());
    const DWORD on = 1;
    if (!raw || !event ||
        ::setsockopt(raw.get(), IPPROTO_IP, IP_HDRINCL, reinterpret_cast<const char*>(&on), sizeof on) != 0 ||
        ::WSAEventSelect(raw.get(), event.get(), FD_READ) != 0) {
      return false;
    }
    Raw = std::move(raw);
    Events[0] = std::move(event);
    return true;
  }

  bool Listen6(Listener listener, std::uint16_t port) {
    sockaddr_in6 where{};
    where.sin6_family = AF_INET6;
    where.sin6_port = ::htons(port);
    where.sin6_addr = in6addr_loopback;
    runtime::unique_socket socket(::socket(AF_INET6, SOCK_DGRAM, IPPROTO_UDP));
    runtime::unique_wsaevent event(::WSACreateEvent());
    if (!socket || !event || ::bind(socket.get(), reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 ||
        ::WSAEventSelect(socket.get(), event.get(), FD_READ) != 0) {
      return false;
    }
    Sockets[Index(listener)] = std::move(socket);
    Events[Index(listener)] = std::move(event);
    return true;
  }

  void Record(Query query, const sockaddr_storage& from, int fromLength, std::vector<Pending>& pending) {
    const std::lock_guard lock(Mutex);
    // sin_port and sin6_port sit at the same place.
    query.SourcePort = ::ntohs(reinterpret_cast<const sockaddr_in&>(from).sin_port);
    Queries.push_back(query);
    if (!CurrentScript || query.Bytes.size() < vbDNS::HEADER_SIZE) return;
    for (Send& send : CurrentScript(query)) {
      pending.push_back(Pending{::GetTickCount64() + send.DelayMs, SourceFor(query.ReceivedOn, send.Source), from,
                                fromLength, std::move(send.Bytes), Generation});
    }
  }

  // Every UDP datagram of the machine passes here; those to a listener count.
  void ReceiveRaw(std::vector<Pending>& pending) {
    std::vector<std::uint8_t> packet(65536);
    for (;;) {
      const int received = ::recv(Raw.get(), reinterpret_cast<char*>(packet.data()), static_cast<int>(packet.size()), 0);
      if (received == SOCKET_ERROR) return;
      const std::size_t ipHeader = (packet[0] & 0x0F) * 4u;
      if (static_cast<std::size_t>(received) < ipHeader + UDP_HEADER || packet[9] != IPPROTO_UDP) continue;
      const std::uint8_t* udp = &packet[ipHeader];
      const std::size_t udpLength = static_cast<std::size_t>(udp[4] << 8 | udp[5]);
      if (udpLength < UDP_HEADER || ipHeader + udpLength > static_cast<std::size_t>(received)) continue;
      std::uint32_t destination, source;
      std::memcpy(&source, &packet[12], 4);
      std::memcpy(&destination, &packet[16], 4);
      const std::uint16_t destinationPort = static_cast<std::uint16_t>(udp[2] << 8 | udp[3]);
      for (std::size_t listener = 0; listener < IPV4_LISTENERS; ++listener) {
        if (Ipv4Listeners[listener].Address != destination || Ipv4Listeners[listener].Port != destinationPort) continue;
        sockaddr_storage from{};
        auto& from4 = reinterpret_cast<sockaddr_in&>(from);
        from4.sin_family = AF_INET;
        from4.sin_addr.s_addr = source;
        std::memcpy(&from4.sin_port, &udp[0], 2);
        Record(Query{vbDNS::Packet(udp + UDP_HEADER, udp + udpLength), static_cast<Listener>(listener)}, from,
               sizeof(sockaddr_in), pending);
      }
    }
  }

  void Receive6(std::size_t listener, std::vector<Pending>& pending) {
    for (;;) {
      std::vector<std::uint8_t> buffer(65536);
      sockaddr_storage from{};
      int fromLength = sizeof from;
      const int received = ::recvfrom(Sockets[listener].get(), reinterpret_cast<char*>(buffer.data()),
                                      static_cast<int>(buffer.size()), 0, reinterpret_cast<sockaddr*>(&from),
                                      &fromLength);
      if (received == SOCKET_ERROR) {
        if (::WSAGetLastError() == WSAECONNRESET) continue;
        return;
      }
      buffer.resize(static_cast<std::size_t>(received));
      Record(Query{std::move(buffer), static_cast<Listener>(listener)}, from, fromLength, pending);
    }
  }

  void Transmit(const Pending& send) {
    const auto* to = reinterpret_cast<const sockaddr*>(&send.To);
    if (send.Listener >= IPV4_LISTENERS) {
      if (Sockets[send.Listener]) {
        ::sendto(Sockets[send.Listener].get(), reinterpret_cast<const char*>(send.Bytes.data()),
                 static_cast<int>(send.Bytes.size()), 0, to, send.ToLength);
      }
      return;
    }
    if (send.To.ss_family != AF_INET || send.Bytes.size() > 65535 - IP_HEADER - UDP_HEADER) return;
    const Ipv4Listener& source = Ipv4Listeners[send.Listener];
    const auto& destination = reinterpret_cast<const sockaddr_in&>(send.To);
    const std::size_t udpLength = UDP_HEADER + send.Bytes.size(), total = IP_HEADER + udpLength;
    // Version 4, 20-octet header, TTL 64, protocol UDP; the kernel fills in the
    // identification and the header checksum; UDP checksum 0 means none.
    vbDNS::Packet packet{0x45, 0, static_cast<std::uint8_t>(total >> 8), static_cast<std::uint8_t>(total), 0, 0, 0, 0,
                         64, IPPROTO_UDP, 0, 0};
    packet.resize(IP_HEADER + UDP_HEADER);
    std::memcpy(&packet[12], &source.Address, 4);
    std::memcpy(&packet[16], &destination.sin_addr, 4);
    packet[20] = static_cast<std::uint8_t>(source.Port >> 8);
    packet[21] = static_cast<std::uint8_t>(source.Port);
    std::memcpy(&packet[22], &destination.sin_port, 2);
    packet[24] = static_cast<std::uint8_t>(udpLength >> 8);
    packet[25] = static_cast<std::uint8_t>(udpLength);
    packet.insert(packet.end(), send.Bytes.begin(), send.Bytes.end());
    ::sendto(Raw.get(), reinterpret_cast<const char*>(packet.data()), static_cast<int>(packet.size()), 0, to,
             send.ToLength);
  }

  void Run() {
    std::vector<Pending> pending;
    for (;;) {
      const ULONGLONG now = ::GetTickCount64();
      DWORD timeout = INFINITE;
      {
        const std::lock_guard lock(Mutex);
        for (auto it = pending.begin(); it != pending.end();) {
          if (it->Generation != Generation || it->Listener >= LISTENERS) {
            it = pending.erase(it);
          } else if (it->Due <= now) {
            Transmit(*it);
            it = pending.erase(it);
          } else {
            timeout = std::min<DWORD>(timeout, static_cast<DWORD>(it->Due - now));
            ++it;
          }
        }
      }
      std::vector<HANDLE> handles{Stop.get()};
      std::vector<std::size_t> sources;
      for (std::size_t i = 0; i < LISTENERS; ++i) {
        if (Events[i]) {
          handles.push_back(Events[i].get());
          sources.push_back(i);
        }
      }
      const DWORD woken = ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, timeout);
      if (woken == WAIT_OBJECT_0 || woken == WAIT_FAILED) return;
      if (woken > WAIT_OBJECT_0 && woken < WAIT_OBJECT_0 + handles.size()) {
        const std::size_t source = sources[woken - WAIT_OBJECT_0 - 1];
        ::WSAResetEvent(Events[source].get());
        if (source == 0) ReceiveRaw(pending);
        else Receive6(source, pending);
      }
    }
  }
};

FakeDnsServer::FakeDnsServer() : state_(std::make_unique<State>()) {
  State& state = *state_;
  if (!runtime::EnsureWinsock()) state.Problem = "WSAStartup failed";
  else if (!state.OpenRaw()) state.Problem = "no raw IPv4 socket (needs CAP_NET_RAW): error " + std::to_string(::WSAGetLastError());
  // IPv6 only where the machine has it.
  if (state.Listen6(Listener::Main6, 53)) state.Listen6(Listener::AltPort6, 0);
  state.Thread = std::thread([&state] { state.Run(); });
}

FakeDnsServer::~FakeDnsServer() {
  ::SetEvent(state_->Stop.get());
  state_->Thread.join();
}

const std::string& FakeDnsServer::Problem() const { return state_->Problem; }
bool FakeDnsServer::HasIpv6() const { return state_->Sockets[Index(Listener::AltPort6)].is_valid(); }

void FakeDnsServer::Reset(Script script) {
  const std::lock_guard lock(state_->Mutex);
  state_->CurrentScript = std::move(script);
  state_->Queries.clear();
  ++state_->Generation;
}

std::vector<Query> FakeDnsServer::Queries() const {
  const std::lock_guard lock(state_->Mutex);
  return state_->Queries;
}

FakeDnsServer& Server() {
  static FakeDnsServer server;
  return server;
}

Record A(std::string_view dotted) {
  Record record{vbDNS::TYPE_A, {}};
  const std::optional<std::uint32_t> value = vbDNS::TextToIP(dotted);
  if (!value) throw std::invalid_argument("not an IPv4 address");
  for (int shift = 24; shift >= 0; shift -= 8) record.Data.push_back(static_cast<std::uint8_t>(*value >> shift));
  return record;
}

Record Ptr(std::string_view name) { return {vbDNS::TYPE_PTR, packets::DottedName(name)}; }

vbDNS::Packet Reply(const Query& query, const std::vector<Record>& answers, std::uint8_t flags2) {
  vbDNS::Packet reply(query.Bytes);  // ID and question as asked
  // Without the query's OPT record, if it had one: a server of the old kind.
  const std::size_t questionEnd = vbDNS::HEADER_SIZE + (query.Name().empty() ? 1 : query.Name().size() + 2) + 4;
  if (reply.size() > questionEnd) reply.resize(questionEnd);
  reply[10] = reply[11] = 0;
  reply[2] = static_cast<std::uint8_t>(vbDNS::FLAG_QR | (query.Bytes[2] & vbDNS::FLAG_RD));
  reply[3] = flags2;
  reply[6] = 0;
  reply[7] = static_cast<std::uint8_t>(answers.size());
  for (const Record& answer : answers) {
    // Each owner is a pointer to the question's name, right after the header.
    const vbDNS::Packet record = packets::Record(packets::Pointer(vbDNS::HEADER_SIZE), answer.Type, answer.Data, 300);
    reply.insert(reply.end(), record.begin(), record.end());
  }
  return reply;
}

}  // namespace vavizav::testing
