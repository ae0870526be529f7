// The two lookups' decisions, free of Windows: which query goes out, how the
// reply is judged, what the caller gets back and which text LastError shows.
// The first class's members (hosting/vevivoridezaz_members.h) supply the text and the exchange;
// tests supply a stand-in exchange.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "codec/message.h"
#include "codec/vbdns.h"

namespace vavizav::resolver {

inline constexpr std::string_view ERROR_TIMED_OUT = "DNS Request Timed Out";
inline constexpr std::string_view ERROR_UNRESOLVED_NAME = "Unable to Resolve HostName";
inline constexpr std::string_view ERROR_BAD_ADDRESS = "IP Address not recognized";
inline constexpr std::string_view ERROR_UNRESOLVED_ADDRESS = "Cannot Reverse Resolve Host";

// One query datagram out, the reply that answers it back. nullopt means nothing
// usable arrived before the time-out, or nothing could be sent at all.
class QueryExchange {
 public:
  virtual ~QueryExchange() = default;
  virtual std::optional<vbDNS::Packet> Exchange(const vbDNS::DNSQuery& query) = 0;
};

struct LookupOutcome {
  std::string Result;     // printable ASCII; addresses joined by CR LF
  std::string LastError;  // empty after a success
  friend bool operator==(const LookupOutcome&, const LookupOutcome&) = default;
};

// Forward lookup (type A). `asciiName` is the host name after IDNA conversion;
// a name BuildQuery refuses fails at once and nothing is sent.
LookupOutcome ForwardLookup(std::u16string_view asciiName, QueryExchange& exchange);

// Reverse lookup (type PTR) of dotted IPv4 text.
LookupOutcome ReverseLookup(std::u16string_view addressText, QueryExchange& exchange);

// What each lookup makes of a reply it has read with
// vbDNS::ReadScope::AnswerOctets, appended to `out`; false when the reply
// answers nothing (the lookup then shows its "Unable to Resolve HostName" or
// "Cannot Reverse Resolve Host"), `out` then holding nothing useful. Neither
// allocates when `out` has the room.
// Forward: NOERROR (all four header RCODE bits clear) and at least one answer
// of type A, class IN and 4 octets of data; the addresses of all of them in
// reply order, dotted, joined by CR LF. Other answers (a CNAME chain around
// them, another class, another length) are passed over.
bool AppendForwardResult(const vbDNS::Message& reply, std::string& out);
// Reverse: NOERROR, every answer of type PTR and class IN holding a valid name
// at the start of its data (vbDNS::AppendDataName; else the reply is
// unreadable), and the last of them a name other than the root; its text in
// the host style (vbDNS::NameStyle::Host).
bool AppendReverseResult(const vbDNS::Message& reply, std::string& out);

}  // namespace vavizav::resolver
