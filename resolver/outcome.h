// The turn from how a question's exchange ended to the answer a script reads,
// free of Windows: the reply judged, or the status that stands for the reply
// there was none of. hosting/resolver_object.cpp maps the engine's outcome
// to an ExchangeEnd and shows the answer.
#pragma once

#include <cstdint>
#include <optional>

#include "codec/vbdns.h"
#include "resolver/answer.h"

namespace vavizav::resolver {

// How the exchange of one question ended.
enum class ExchangeEnd : std::uint8_t {
  Answered,            // a reply came (or, against the engine's word, none did: TIMEOUT)
  NoUsableServer,      // no entry of the server list could be used
  NothingSent,         // not one send of the question went out
  TimedOut,            // nothing that counts came inside the time-out
  TruncatedTcpFailed,  // the UDP reply had TC set and TCP gave nothing better
  Malformed,           // only replies that could not be read came back
  Cancelled,           // the caller ended it first
  Untrusted,           // only encrypted servers whose certificate failed were left
};

// The answer to `asked` after `end`, with `reply` (the reply, or the cut reply
// after TruncatedTcpFailed). A reply is judged by JudgeReply, a cut one by
// JudgeTruncatedReply; without one the status is TIMEOUT, NOSERVER or
// MALFORMED. The answer names the server that answered only when its status
// came with a reply (AnswerStatus::FromReply).
AnswerModel JudgeExchange(ExchangeEnd end, const std::optional<vbDNS::Packet>& reply, const vbDNS::DNSQuery& asked);

}  // namespace vavizav::resolver
