// The TCP side of the engine: one question asked over a TCP connection of its
// own (RFC 7766), after a truncated UDP reply or when a server does not keep
// the letter case of the name. Non-blocking throughout: the engine waits on
// the event every connection signals, then lets each connection advance.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "handles.h"
#include "server_list.h"
#include "vbdns.h"

namespace vavizav {

class TcpAsk {
 public:
  enum class State { Pending, Answered, Failed };

  // Connects to `server` and sends `query` with `id` behind its two-octet
  // length as soon as the connection stands; `ready` is signalled whenever
  // the connection can move on.
  TcpAsk(HANDLE ready, const vbDNS::DNSQuery& query, std::uint16_t id, const ServerEndpoint& server);
  TcpAsk(const TcpAsk&) = delete;
  TcpAsk& operator=(const TcpAsk&) = delete;

  State CurrentState() const { return state_; }

  // Writes and reads what the connection allows now. Answered once the reply
  // is whole and passes the checks of a datagram (ID, QR, the question without
  // regard to case: nobody off the path can write into the stream); Failed
  // when the connection is refused, reset or closed early, or the reply is
  // short or does not match.
  State Advance();

  vbDNS::Packet TakeReply() { return std::move(in_); }

 private:
  void Fail();
  bool Write();
  bool ReadSome(bool& closed);

  vbDNS::DNSQuestion question_;
  std::uint16_t id_ = 0;
  unique_socket socket_;
  State state_ = State::Pending;
  bool connected_ = false;
  std::array<std::uint8_t, 2 + vbDNS::MAX_QUERY_SIZE> out_{};
  std::size_t outSize_ = 0;
  std::size_t written_ = 0;
  std::array<std::uint8_t, 2> length_{};
  std::size_t have_ = 0;  // octets of the length prefix and the message read so far
  vbDNS::Packet in_;
};

}  // namespace vavizav
