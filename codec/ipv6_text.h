// IPv6 address text inside the codec: reading RFC 4291 text (reverse names)
// and printing the 16 octets of an AAAA record.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace vbDNS::detail {

// RFC 4291 section 2.2: eight groups of 1 to 4 hex digits, one "::" for a run
// of zero groups, an optional dotted IPv4 tail in place of the last two
// groups. No zone index, no prefix length, no blanks.
std::optional<std::array<std::uint8_t, 16>> ParseIPv6(std::string_view text);

// Longest text PutIPv6Text writes: "ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255" is 45.
inline constexpr std::size_t MAX_IPV6_TEXT = 46;

// RFC 5952 text: lower-case hex without leading zeros, the longest run of two
// or more zero groups (the first of equals) as "::". As dig (inet_ntop)
// prints them, ::a.b.c.d and ::ffff:a.b.c.d keep a dotted IPv4 tail. Writes
// at most MAX_IPV6_TEXT characters at `out`; returns the end.
char* PutIPv6Text(char* out, std::span<const std::uint8_t, 16> octets);

}  // namespace vbDNS::detail
