// The exchange engine: many questions in flight at once, each with its own
// resend schedule inside the time-out, over UDP from random ports with the
// name's letters in random case, TCP where UDP cannot be trusted or is cut
// short, and one wait for all of it that keeps the thread's messages flowing.
#pragma once

#include <windows.h>

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "vbdns.h"

namespace vavizav {

// Why a question got no reply.
enum class ExchangeFailure {
  None,                // answered: Reply holds it
  NoUsableServer,      // no entry of the server list could be used
  NothingSent,         // not one send of the question went out
  TimedOut,            // nothing that counts came inside the time-out
  TruncatedTcpFailed,  // the UDP reply had TC set and TCP gave nothing better (Reply keeps the cut reply)
  Malformed,           // only replies that could not be read came from the servers asked
};

struct ExchangeOutcome {
  ExchangeFailure Failure = ExchangeFailure::TimedOut;
  // The reply's octets: set when Failure is None, and the truncated UDP reply
  // when Failure is TruncatedTcpFailed.
  std::optional<vbDNS::Packet> Reply;
  // The server that answered: "127.0.0.1", "127.0.0.1:5300", "::1", "[::1]:5300".
  std::wstring Server;
};

struct EngineSettings {
  std::wstring_view Servers;  // a server list: entries separated by commas, semicolons or blanks
  DWORD TimeoutMs = 10000;    // bound of each question, from its own first send
  unsigned MaxInFlight = 64;  // 1..1024; values outside are brought inside
};

inline constexpr std::size_t MAX_QUESTIONS_PER_CALL = 100000;
inline constexpr unsigned MAX_IN_FLIGHT = 1024;

// One outcome per query, in input order. At most MaxInFlight distinct
// questions are outstanding at once; each is sent at the offsets of
// SendSchedule(TimeoutMs) from its own first send, to the servers of the list
// in turn, and asked again over TCP of the answering server after a reply with
// TC set (RFC 7766). Once replies of this call have shown the servers' round
// trip, later questions double from max(200 ms, 4 x the smoothed round trip)
// instead, when that is sooner. Each resend leaves from a socket of its own. Identical questions (name without regard to case, type,
// class) go out once and answer every asker.
//
// Every UDP query goes out from a socket bound to a random port that carries
// at most 100 queries in its life, with a random ID that no other query still
// waiting on that socket has, and with the letters of its name in random case
// (DNS 0x20). A reply counts only from the server, port and socket the query
// went to, with its ID, and with the question repeated octet for octet; a
// reply that repeats the name only without regard to case (a server that does
// not keep case, or a forger) is never taken: the question is asked at once
// over TCP of that server instead, within its time-out. A reply without a
// question section counts only when it carries no answers. The reply's
// question name is given back spelt as the caller's query had it.
//
// Pumps the thread's messages while it waits. Each call owns its sockets,
// events and state, so a call nested in the messages another call dispatches
// never disturbs it. More than MAX_QUESTIONS_PER_CALL queries: every outcome
// is NothingSent and nothing goes out. Throws only std::bad_alloc.
std::vector<ExchangeOutcome> ExchangeMany(std::span<const vbDNS::DNSQuery> queries, const EngineSettings& settings);

}  // namespace vavizav
