// What the exchange gives back for each question, and its bounds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "codec/vbdns.h"

namespace vavizav::exchange {

// Why a question got no reply.
enum class ExchangeFailure {
  None,                // answered: Reply holds it
  NoUsableServer,      // no entry of the server list could be used
  NothingSent,         // not one send of the question went out
  TimedOut,            // nothing that counts came inside the time-out
  TruncatedTcpFailed,  // the UDP reply had TC set and TCP gave nothing better (Reply keeps the cut reply)
  Malformed,           // only replies that could not be read came from the servers asked
  Cancelled,           // the caller ended the call before the question did
  Untrusted,           // the servers left were encrypted ones whose certificate failed
};

// How the reply of an outcome came: None without one. The core says
// Encrypted; the engine tells DNS over HTTPS (Https) from DNS over TLS.
enum class ReplyTransport : std::uint8_t { None, Udp, Tcp, Encrypted, Https };

struct ExchangeOutcome {
  ExchangeFailure Failure = ExchangeFailure::TimedOut;
  // The reply's octets: set when Failure is None, and the truncated UDP reply
  // when Failure is TruncatedTcpFailed.
  std::optional<vbDNS::Packet> Reply;
  // The server that answered: "127.0.0.1", "127.0.0.1:5300", "::1", "[::1]:5300".
  std::wstring Server;
  // How Reply came (a cut reply kept after TruncatedTcpFailed came over UDP),
  // and the milliseconds from the question's first send to its arrival.
  ReplyTransport Transport = ReplyTransport::None;
  std::uint64_t ElapsedMs = 0;
  // When the reply came (or the question ended without one), on the clock
  // the exchange was fed: what a cache counts TTLs down from.
  std::uint64_t EndedAt = 0;
  // Why it failed, where the servers say more than the failure: an
  // encrypted server's certificate ("the server's certificate does not carry
  // the name dot.test"), or the HTTP status a DNS over HTTPS server gave
  // ("https://127.0.0.1/q#doh.test: the server answered HTTP status 404").
  // Empty otherwise.
  std::wstring Problem;
};

inline constexpr std::size_t MAX_QUESTIONS_PER_CALL = 100000;
inline constexpr unsigned MAX_IN_FLIGHT = 1024;

}  // namespace vavizav::exchange
