#include "resolver/outcome.h"

namespace vavizav::resolver {

AnswerModel JudgeExchange(ExchangeEnd end, const std::optional<vbDNS::Packet>& reply, const vbDNS::DNSQuery& asked) {
  switch (end) {
    case ExchangeEnd::Answered:
      return reply ? JudgeReply(*reply, asked) : AnswerWithoutReply(TIMEOUT_STATUS);
    case ExchangeEnd::TruncatedTcpFailed:
      // Only what fitted the datagram: a NOERROR in it is no verdict.
      return reply ? JudgeTruncatedReply(*reply, asked) : AnswerWithoutReply(TIMEOUT_STATUS);
    case ExchangeEnd::Malformed:
      return AnswerWithoutReply(MALFORMED_STATUS);
    case ExchangeEnd::NoUsableServer:
    case ExchangeEnd::NothingSent:
      return AnswerWithoutReply(NOSERVER_STATUS);
    case ExchangeEnd::Cancelled:
      return AnswerWithoutReply(CANCELLED_STATUS);
    case ExchangeEnd::Untrusted:
      return AnswerWithoutReply(UNTRUSTED_STATUS);
    case ExchangeEnd::TimedOut:
      break;
  }
  return AnswerWithoutReply(TIMEOUT_STATUS);
}

}  // namespace vavizav::resolver
