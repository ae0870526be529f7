#include "vbdns.h"

namespace vbDNS {

namespace {

// Any character outside '0'..'9' and '.' ends a number or fails the text, so
// automation text needs no conversion to octets first.
template <class Char>
std::optional<std::uint32_t> ParseDotted(std::basic_string_view<Char> text) {
  const Char* p = text.data();
  const Char* const end = p + text.size();
  std::uint32_t address = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (p == end || *p != Char('.')) return std::nullopt;
      ++p;
    }
    const Char* const digits = p;
    std::uint32_t number = 0;
    for (; p != end && static_cast<std::uint32_t>(*p) - '0' <= 9; ++p) {
      number = number * 10 + (static_cast<std::uint32_t>(*p) - '0');
      if (number > 255) return std::nullopt;
    }
    if (p == digits) return std::nullopt;
    address = address << 8 | number;
  }
  if (p != end) return std::nullopt;
  return address;
}

}  // namespace

std::optional<std::uint32_t> TextToIP(std::string_view text) { return ParseDotted(text); }
std::optional<std::uint32_t> TextToIP(std::u16string_view text) { return ParseDotted(text); }

std::string IPToText(std::span<const std::uint8_t, 4> octets) {
  // "255.255.255.255" is 15 characters: within std::string's own buffer.
  char text[16];
  char* p = text;
  for (const unsigned value : octets) {
    if (p != text) *p++ = '.';
    if (value >= 100) *p++ = static_cast<char>('0' + value / 100);
    if (value >= 10) *p++ = static_cast<char>('0' + value / 10 % 10);
    *p++ = static_cast<char>('0' + value % 10);
  }
  return std::string(text, static_cast<std::size_t>(p - text));
}

}  // namespace vbDNS
