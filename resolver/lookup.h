// The two lookups' decisions, free of Windows: which query goes out, how the
// reply is judged, what the caller gets back and which text LastError shows.
// The first class's members (hosting/vevivoridezaz_members.h) supply the text and the exchange;
// tests supply a stand-in exchange.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "vbdns.h"

namespace vavizav {

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

}  // namespace vavizav
