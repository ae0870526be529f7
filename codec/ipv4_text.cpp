#include "names.h"
#include "vbdns.h"

namespace vbDNS {

std::optional<std::uint32_t> TextToIP(std::string_view text) {
  std::uint32_t address = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (!text.starts_with('.')) return std::nullopt;
      text.remove_prefix(1);
    }
    std::uint32_t number = 0;
    std::size_t digits = 0;
    for (; digits < text.size() && text[digits] >= '0' && text[digits] <= '9'; ++digits) {
      number = number * 10 + static_cast<std::uint32_t>(text[digits] - '0');
      if (number > 255) return std::nullopt;
    }
    if (digits == 0) return std::nullopt;
    text.remove_prefix(digits);
    address = address << 8 | number;
  }
  if (!text.empty()) return std::nullopt;
  return address;
}

std::optional<std::uint32_t> TextToIP(std::u16string_view text) {
  const auto octets = detail::ToOctets(text);
  if (!octets) return std::nullopt;
  return TextToIP(std::string_view(*octets));
}

std::string IPToText(std::uint32_t value) {
  std::string text;
  for (int octet = 0; octet < 4; ++octet, value >>= 8) {
    if (octet > 0) text += '.';
    text += std::to_string(value & 0xFF);
  }
  return text;
}

}  // namespace vbDNS
