#include "resolver/lookup.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

namespace vavizav::resolver {
namespace {

LookupOutcome Failure(std::string_view text) { return {std::string(), std::string(text)}; }

// The reply's octets as the first class reads them. No DNS message is longer
// than MAX_MESSAGE_SIZE (TCP's 16-bit length; a UDP datagram holds less), so
// the exchange never hands over more; should it, the lookup reads the first
// MAX_MESSAGE_SIZE octets, where every record the header counts lies unless
// the reply is one no server sends (the reader it replaced took such a reply
// whole; its outcomes on the longer replies of the corpora stay).
vbDNS::PacketView LookupOctets(const vbDNS::Packet& datagram) {
  return vbDNS::PacketView(datagram).first(std::min(datagram.size(), vbDNS::MAX_MESSAGE_SIZE));
}

// Sends the query, reads the reply and makes the result; a failure text when
// the lookup ends without one.
template <class AppendResult>
LookupOutcome Ask(const vbDNS::DNSQuery& query, QueryExchange& exchange, std::string_view unresolvedText,
                  AppendResult appendResult) {
  const std::optional<vbDNS::Packet> datagram = exchange.Exchange(query);
  if (!datagram || datagram->empty()) return Failure(ERROR_TIMED_OUT);
  // The answer section alone, its data as octets (ReadScope::AnswerOctets):
  // what this class has always judged a reply by. A record the whole read
  // would refuse elsewhere in the reply (a malformed authority record, an
  // OPT out of place, an A record of 6 octets among the answers) costs no
  // answer here, as it never did.
  const std::optional<vbDNS::Message> reply = vbDNS::ReadMessage(LookupOctets(*datagram), vbDNS::ReadScope::AnswerOctets);
  LookupOutcome outcome;
  if (!reply || !appendResult(*reply, outcome.Result)) return Failure(unresolvedText);
  return outcome;
}

}  // namespace

bool AppendForwardResult(const vbDNS::Message& reply, std::string& out) {
  if (!vbDNS::RCodeIsNoError(reply.Header().Flags2)) return false;
  const std::size_t start = out.size();
  for (const vbDNS::ResourceRecord& record : reply.Records(vbDNS::Section::Answer)) {
    if (record.Type != vbDNS::TYPE_A || record.Class != vbDNS::CLASS_IN || record.RDataLength != 4) continue;
    // CR LF and the dotted text, appended at once.
    char text[2 + vbDNS::MAX_IPV4_TEXT] = {'\r', '\n'};
    char* const end = vbDNS::PutIPText(text + 2, reply.Packet().subspan(record.RDataOffset).first<4>());
    const std::size_t skip = out.size() == start ? 2 : 0;
    out.append(text + skip, static_cast<std::size_t>(end - text) - skip);
  }
  return out.size() != start;
}

bool AppendReverseResult(const vbDNS::Message& reply, std::string& out) {
  if (!vbDNS::RCodeIsNoError(reply.Header().Flags2)) return false;
  const std::size_t start = out.size();
  for (const vbDNS::ResourceRecord& record : reply.Records(vbDNS::Section::Answer)) {
    // Another class's PTR names no host of the Internet; its data is not looked at.
    if (record.Type != vbDNS::TYPE_PTR || record.Class != vbDNS::CLASS_IN) continue;
    // The last one's name is the result; an unreadable one, wherever it
    // stands, makes the whole reply unreadable.
    out.resize(start);
    if (!vbDNS::AppendDataName(reply, record, vbDNS::NameStyle::Host, out)) return false;
  }
  return out.size() != start;  // no PTR answer, or the root, which names no host
}

LookupOutcome ForwardLookup(std::u16string_view asciiName, QueryExchange& exchange) {
  const std::optional<vbDNS::DNSQuery> query = vbDNS::BuildQuery(vbDNS::TYPE_A, asciiName);
  if (!query) return Failure(ERROR_UNRESOLVED_NAME);
  return Ask(*query, exchange, ERROR_UNRESOLVED_NAME, AppendForwardResult);
}

LookupOutcome ReverseLookup(std::u16string_view addressText, QueryExchange& exchange) {
  if (!vbDNS::TextToIP(addressText)) return Failure(ERROR_BAD_ADDRESS);
  const std::optional<vbDNS::DNSQuery> query = vbDNS::BuildQuery(vbDNS::TYPE_PTR, addressText);
  if (!query) return Failure(ERROR_UNRESOLVED_ADDRESS);
  return Ask(*query, exchange, ERROR_UNRESOLVED_ADDRESS, AppendReverseResult);
}

}  // namespace vavizav::resolver
