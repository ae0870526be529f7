#include <array>
#include <cstring>

#include "codec/vbdns.h"

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

char* PutIPText(char* out, std::span<const std::uint8_t, 4> octets) noexcept {
  // Three digit places copied for each part, its count of them kept: the
  // copy for the last part ends by out + 15 at most.
  char* p = out;
  for (std::size_t i = 0; i < 4; ++i) {
    const std::array<char, 4>& digits = detail::DECIMAL_OCTETS[octets[i]];
    std::memcpy(p, digits.data() + 1, 3);
    p += digits[0];
    if (i != 3) *p++ = '.';
  }
  return p;
}

std::string IPToText(std::span<const std::uint8_t, 4> octets) {
  // "255.255.255.255" is 15 characters: within std::string's own buffer.
  char text[MAX_IPV4_TEXT];
  return std::string(text, PutIPText(text, octets));
}

}  // namespace vbDNS
