#include "lookup.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace vavizav {
namespace {

LookupOutcome Failure(std::string_view text) { return {std::string(), std::string(text)}; }

// Sends the query and decodes the answer; nullopt with `failure` set when the
// lookup has already ended.
std::optional<vbDNS::DNSReply> Ask(const vbDNS::DNSQuery& query, QueryExchange& exchange,
                                   std::string_view unresolvedText, LookupOutcome& failure) {
  const std::optional<vbDNS::Packet> datagram = exchange.Exchange(query);
  if (!datagram || datagram->empty()) {
    failure = Failure(ERROR_TIMED_OUT);
    return std::nullopt;
  }
  std::optional<vbDNS::DNSReply> reply = vbDNS::ParseReply(query.Question.QType, *datagram);
  // A reply the parser refuses, or one whose RCODE (all four bits) reports a
  // failure, answers nothing.
  if (!reply || !vbDNS::RCodeIsNoError(reply->Header.Flags2)) {
    failure = Failure(unresolvedText);
    return std::nullopt;
  }
  return reply;
}

}  // namespace

LookupOutcome ForwardLookup(std::u16string_view asciiName, QueryExchange& exchange) {
  const std::optional<vbDNS::DNSQuery> query = vbDNS::BuildQuery(vbDNS::TYPE_A, asciiName);
  if (!query) return Failure(ERROR_UNRESOLVED_NAME);

  LookupOutcome failure;
  const std::optional<vbDNS::DNSReply> reply = Ask(*query, exchange, ERROR_UNRESOLVED_NAME, failure);
  if (!reply) return failure;

  // RData holds the 4 octets of every address answer in reply order, whatever
  // else (CNAMEs of a chain, say) the answer section carried around them.
  const std::span<const std::uint8_t> addresses = reply->Answer.RData.octets();
  if (addresses.empty()) return Failure(ERROR_UNRESOLVED_NAME);

  LookupOutcome outcome;
  for (std::size_t at = 0; at + 4 <= addresses.size(); at += 4) {
    if (!outcome.Result.empty()) outcome.Result += "\r\n";
    outcome.Result += vbDNS::IPToText(addresses.subspan(at).first<4>());
  }
  return outcome;
}

LookupOutcome ReverseLookup(std::u16string_view addressText, QueryExchange& exchange) {
  if (!vbDNS::TextToIP(addressText)) return Failure(ERROR_BAD_ADDRESS);
  const std::optional<vbDNS::DNSQuery> query = vbDNS::BuildQuery(vbDNS::TYPE_PTR, addressText);
  if (!query) return Failure(ERROR_UNRESOLVED_ADDRESS);

  LookupOutcome failure;
  const std::optional<vbDNS::DNSReply> reply = Ask(*query, exchange, ERROR_UNRESOLVED_ADDRESS, failure);
  if (!reply) return failure;

  // The last IN PTR answer's name; empty when there was none, or when it was the
  // root name, which names no host.
  if (reply->Answer.RData.empty()) return Failure(ERROR_UNRESOLVED_ADDRESS);
  return {std::string(reply->Answer.RData.view()), std::string()};
}

}  // namespace vavizav
