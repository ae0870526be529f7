// The UDP side of the engine: the sockets its queries go out from, which
// query each (socket, ID) carries, and the reading of what comes back.
//
// Every socket is bound to a random port and carries at most
// QUERIES_PER_SOCKET queries in its life; then a fresh one takes over, so a
// long batch keeps changing ports (RFC 5452 section 9.2). No two queries that
// may still be answered share a socket and an ID. All sockets signal one event
// when a datagram is queued, so the engine waits on one handle however many
// sockets are open (once armed: before that they block, for ReadQueued).
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "handles.h"
#include "name_case.h"
#include "server_list.h"
#include "vbdns.h"

namespace vavizav {

inline constexpr unsigned QUERIES_PER_SOCKET = 100;

// One query on the wire: the socket (by serial number, never reused within an
// engine) and the ID it went out with.
struct UdpTicket {
  std::uint32_t Socket = 0;
  std::uint16_t Id = 0;
  friend bool operator==(const UdpTicket&, const UdpTicket&) = default;
};

class UdpSide {
 public:
  explicit UdpSide(RandomPool& random);
  ~UdpSide();
  UdpSide(const UdpSide&) = delete;
  UdpSide& operator=(const UdpSide&) = delete;

  // Sends `query` with a fresh random ID to `server` on behalf of `owner`,
  // from the socket in turn, or with `alone` from a socket of its own that
  // carries nothing else. nullopt when nothing went out (no socket, no random
  // ID, send refused).
  std::optional<UdpTicket> Send(const vbDNS::DNSQuery& query, const ServerEndpoint& server, std::uint32_t owner,
                                bool alone = false);

  // Nothing more is expected on this ticket: a datagram with its ID is dropped
  // from now on, and a socket whose life is used up closes when it carries no
  // live ticket any more (at the next Sweep).
  void Release(const UdpTicket& ticket);
  void Sweep();

  // What the reads found. Handler needs:
  //   void OnDatagram(std::uint32_t owner, const UdpTicket&, const sockaddr_storage& from, vbDNS::PacketView);
  //   void OnUnreachable(std::uint32_t owner, const UdpTicket&);  // ICMP port unreachable on that socket
  //   bool Finished();  // true once nothing more needs reading
  // Reads every socket until it has nothing queued or READS_PER_SOCKET
  // datagrams were taken from it, so a flood on one socket never starves the
  // others. Returns true when some socket may have more queued.
  template <typename Handler>
  bool Read(Handler& handler);

  // Reads, while the sockets still block, what is queued already (FIONREAD
  // says a read will not wait), at most QUEUED_READS datagrams per socket; the
  // handler as for Read. For a near server the reply is often there right
  // after the send, and the event, its selection and the wait are spared:
  // under Wine each of those is a round trip to the Wine server.
  template <typename Handler>
  void ReadQueued(Handler& handler);

  // From now on every socket, those opened later too, sets `readable` when a
  // datagram is queued (and is non-blocking, so reads stop at an empty
  // queue). false when a selection fails.
  bool Arm(HANDLE readable);
  bool Armed() const { return readable_ != nullptr; }

  std::size_t OpenSockets() const { return sockets_.size(); }

 private:
  static constexpr int READS_PER_SOCKET = 32;
  static constexpr int QUEUED_READS = 4;
  static constexpr int QUEUED_CHECKS = 3;
  // Datagrams with an ID the socket does not wait for, after which it takes
  // no new query: a flood aimed at it fills its receive queue and would drown
  // the replies of later sends too, so resends go out from a fresh socket.
  static constexpr unsigned STRAYS_BEFORE_RETIRING = 64;
  struct Carried {
    std::uint16_t Id = 0;
    bool Live = false;
    std::uint32_t Owner = 0;
  };
  struct Socket {
    unique_socket Handle;
    int Family = AF_INET;
    std::uint32_t Serial = 0;
    unsigned Used = 0;
    unsigned Live = 0;
    unsigned Strays = 0;
    bool Retired = false;  // takes no new query: used up, or flooded
    std::array<Carried, QUERIES_PER_SOCKET> Queries{};
  };

  Socket* Current(int family);
  Socket* Open(int family);
  Socket* Find(std::uint32_t serial);
  unique_socket OpenBound(int family);
  enum class Received { Datagram, Nothing, Unreachable, Skipped };
  Received ReceiveOne(Socket& socket, sockaddr_storage& from, int& size);
  static std::optional<u_long> QueuedOctets(SOCKET socket);
  template <typename Handler>
  void Dispatch(Socket& socket, const sockaddr_storage& from, int size, Handler& handler);

  HANDLE readable_ = nullptr;
  RandomPool& random_;
  std::vector<std::unique_ptr<Socket>> sockets_;
  std::uint32_t nextSerial_ = 1;
  // Not zeroed: only the octets a receive wrote are ever read.
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::size_t readStart_ = 0;
};

template <typename Handler>
bool UdpSide::Read(Handler& handler) {
  bool more = false;
  const std::size_t count = sockets_.size();
  // Handlers may release tickets but never open or close sockets here, so
  // the list stays as it is during the reads; the first socket read rotates.
  for (std::size_t n = 0; n < count; ++n) {
    Socket& socket = *sockets_[(readStart_ + n) % count];
    int reads = 0;
    for (; reads < READS_PER_SOCKET; ++reads) {
      sockaddr_storage from{};
      int size = 0;
      const Received received = ReceiveOne(socket, from, size);
      if (received == Received::Nothing) break;
      if (received == Received::Skipped) continue;
      if (received == Received::Unreachable) {
        for (const Carried& carried : socket.Queries) {
          if (carried.Live) handler.OnUnreachable(carried.Owner, UdpTicket{socket.Serial, carried.Id});
        }
        continue;
      }
      Dispatch(socket, from, size, handler);
      // Once every question has its answer, nothing more needs reading.
      if (handler.Finished()) return false;
    }
    if (reads == READS_PER_SOCKET) more = true;
  }
  if (count != 0) readStart_ = (readStart_ + 1) % count;
  return more;
}

template <typename Handler>
void UdpSide::Dispatch(Socket& socket, const sockaddr_storage& from, int size, Handler& handler) {
  bool carried = false;
  if (size >= 2) {
    const auto id = static_cast<std::uint16_t>(buffer_[0] << 8 | buffer_[1]);
    for (const Carried& query : socket.Queries) {
      if (query.Live && query.Id == id) {
        carried = true;
        handler.OnDatagram(query.Owner, UdpTicket{socket.Serial, id}, from,
                           vbDNS::PacketView(buffer_.get(), static_cast<std::size_t>(size)));
        break;
      }
    }
  }
  if (!carried && ++socket.Strays >= STRAYS_BEFORE_RETIRING) socket.Retired = true;
}

template <typename Handler>
void UdpSide::ReadQueued(Handler& handler) {
  const std::size_t count = sockets_.size();
  for (std::size_t n = 0; n < count; ++n) {
    Socket& socket = *sockets_[n];
    int checks = 0;
    for (int read = 0; read < QUEUED_READS;) {
      // A server on this machine may need only the processor this thread
      // holds: it gets it for a moment before each look at the queue (a
      // yield costs no Wine server request; each look costs one).
      if (read == 0) ::SwitchToThread();
      const std::optional<u_long> queued = QueuedOctets(socket.Handle.get());
      if (!queued) break;
      if (*queued == 0) {
        if (++checks == QUEUED_CHECKS) break;
        continue;
      }
      ++read;
      sockaddr_storage from{};
      int size = 0;
      const Received received = ReceiveOne(socket, from, size);
      if (received == Received::Nothing) break;
      if (received != Received::Datagram) continue;
      Dispatch(socket, from, size, handler);
      if (handler.Finished()) return;
    }
  }
}

}  // namespace vavizav
