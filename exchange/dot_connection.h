// One DNS over TLS connection to one server, kept for many questions: a
// non-blocking TCP socket whose events signal the shell's shared stream
// event, a TlsSession on it, and a StreamMux of the questions in flight.
// Questions asked before the session is open wait in it and go out, padded,
// as soon as the certificate passed; none goes out if it fails. The shell
// calls Service() whenever the shared event fires (it cannot tell which
// connection it fired for) and takes the replies it returns.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "codec/vbdns.h"
#include "exchange/core/name_case.h"
#include "exchange/core/stream_mux.h"
#include "exchange/server_list.h"
#include "exchange/tls_session.h"
#include "runtime/handles.h"

namespace vavizav::exchange {

enum class DotState : std::uint8_t {
  Connecting,   // TCP connect under way
  Handshaking,  // TLS handshake under way
  Open,         // questions go out as they are asked
  Untrusted,    // the certificate failed: Check() says why; nothing was sent
  Ended,        // refused, reset, closed by the server, or a TLS failure
};

class DotConnection {
 public:
  // `server`: a tls:// entry (its address, port and certificate name).
  explicit DotConnection(const ServerEndpoint& server);
  DotConnection(const DotConnection&) = delete;
  DotConnection& operator=(const DotConnection&) = delete;

  // Starts the connect; the socket's events then set `event`. false (Ended)
  // when it cannot even start.
  bool Open(HANDLE event);
  // Asks `query` for `ticket` (the caller's name for the question): its ID
  // on this connection, nullopt when none can be had or the connection has
  // ended. Sent at once when Open, else once the session is.
  std::optional<std::uint16_t> Ask(std::uint32_t ticket, const vbDNS::DNSQuery& query, RandomPool& random);
  // The question no longer waits here; its reply, if one comes, is dropped.
  void Forget(std::uint16_t id);
  // Points the socket's events at `event` (another call's), or at none
  // (nullptr: kept between calls; the socket stays non-blocking). What is
  // already waiting signals the new event at once.
  void Watch(HANDLE event);
  // Moves the connection on (connect, handshake, writes, reads) and returns
  // the replies that came, each with its ticket.
  std::vector<StreamMux::Reply> Service();

  DotState State() const { return state_; }
  const CertificateCheck& Check() const { return session_.Check(); }
  // The tickets still waiting: once Ended or Untrusted, none will be answered.
  std::vector<std::uint32_t> Waiting() const { return mux_.Waiting(); }
  std::size_t InFlight() const { return mux_.InFlight(); }
  // Sends close_notify (when open) and closes the socket: an idle
  // connection's end.
  void Close();

 private:
  void End(DotState state);
  bool Flush();
  bool ReadAll(std::vector<StreamMux::Reply>& replies);
  void SendQueued();

  ServerEndpoint server_;
  runtime::unique_socket socket_;
  TlsSession session_;
  StreamMux mux_;
  DotState state_ = DotState::Connecting;
  std::vector<std::uint8_t> queued_;  // framed queries asked before the session was open
  std::vector<std::uint8_t> out_;     // encrypted octets the socket had no room for yet
};

}  // namespace vavizav::exchange
