#include "codec/ipv6_text.h"

#include "codec/vbdns.h"

namespace vbDNS::detail {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

char* PutDecimalOctet(char* out, unsigned value) {
  if (value >= 100) *out++ = static_cast<char>('0' + value / 100);
  if (value >= 10) *out++ = static_cast<char>('0' + value / 10 % 10);
  *out++ = static_cast<char>('0' + value % 10);
  return out;
}

}  // namespace

std::optional<std::array<std::uint8_t, 16>> ParseIPv6(std::string_view text) {
  if (text.size() < 2 || text.size() > 45) return std::nullopt;
  std::array<std::uint16_t, 8> groups{};
  constexpr std::size_t NO_GAP = SIZE_MAX;  // no "::" seen
  std::size_t count = 0;             // groups written
  std::size_t gapAt = NO_GAP;        // where "::" stands, in groups
  std::size_t i = 0;
  if (text.starts_with("::")) {
    gapAt = 0;
    i = 2;
  } else if (text[0] == ':') {
    return std::nullopt;
  }
  while (i < text.size()) {
    if (count == 8) return std::nullopt;
    // A dotted tail takes the last two groups.
    const std::size_t end = text.find(':', i);
    const std::string_view part = text.substr(i, end == std::string_view::npos ? std::string_view::npos : end - i);
    if (part.find('.') != std::string_view::npos) {
      if (end != std::string_view::npos || count > 6) return std::nullopt;
      const std::optional<std::uint32_t> v4 = TextToIP(part);
      if (!v4) return std::nullopt;
      groups[count++] = static_cast<std::uint16_t>(*v4 >> 16);
      groups[count++] = static_cast<std::uint16_t>(*v4 & 0xFFFF);
      i = text.size();
      break;
    }
    if (part.empty() || part.size() > 4) return std::nullopt;
    std::uint16_t value = 0;
    for (const char c : part) {
      const int digit = HexValue(c);
      if (digit < 0) return std::nullopt;
      value = static_cast<std::uint16_t>(value << 4 | digit);
    }
    groups[count++] = value;
    i += part.size();
    if (i == text.size()) break;
    ++i;  // the colon
    if (i < text.size() && text[i] == ':') {
      if (gapAt != NO_GAP) return std::nullopt;
      gapAt = count;
      ++i;
    } else if (i == text.size()) {
      return std::nullopt;  // a single trailing colon
    }
  }
  std::array<std::uint16_t, 8> full{};
  if (gapAt != NO_GAP) {
    if (count > 7) return std::nullopt;  // "::" stands for at least one group
    const std::size_t tail = count - gapAt;
    for (std::size_t k = 0; k < gapAt; ++k) full[k] = groups[k];
    for (std::size_t k = 0; k < tail; ++k) full[8 - tail + k] = groups[gapAt + k];
  } else {
    if (count != 8) return std::nullopt;
    full = groups;
  }
  std::array<std::uint8_t, 16> octets{};
  for (std::size_t k = 0; k < 8; ++k) {
    octets[2 * k] = static_cast<std::uint8_t>(full[k] >> 8);
    octets[2 * k + 1] = static_cast<std::uint8_t>(full[k] & 0xFF);
  }
  return octets;
}

char* PutIPv6Text(char* out, std::span<const std::uint8_t, 16> octets) {
  static constexpr char HEX_DIGITS[] = "0123456789abcdef";
  std::uint16_t words[8];
  for (std::size_t k = 0; k < 8; ++k) words[k] = static_cast<std::uint16_t>(octets[2 * k] << 8 | octets[2 * k + 1]);
  int bestBase = -1, bestLength = 0;
  for (int k = 0; k < 8;) {
    if (words[k] != 0) {
      ++k;
      continue;
    }
    int run = k;
    while (run < 8 && words[run] == 0) ++run;
    if (run - k > bestLength) {
      bestBase = k;
      bestLength = run - k;
    }
    k = run;
  }
  if (bestLength < 2) bestBase = -1;  // RFC 5952 section 4.2.2: one zero group stays
  for (int k = 0; k < 8; ++k) {
    if (bestBase >= 0 && k >= bestBase && k < bestBase + bestLength) {
      if (k == bestBase) *out++ = ':';
      continue;
    }
    if (k != 0) *out++ = ':';
    // An IPv4-compatible or IPv4-mapped address keeps its dotted tail.
    if (k == 6 && bestBase == 0 && (bestLength == 6 || (bestLength == 5 && words[5] == 0xFFFF))) {
      out = PutDecimalOctet(out, octets[12]);
      for (std::size_t o = 13; o < 16; ++o) {
        *out++ = '.';
        out = PutDecimalOctet(out, octets[o]);
      }
      return out;
    }
    const unsigned w = words[k];
    bool started = false;
    for (int shift = 12; shift >= 0; shift -= 4) {
      const unsigned digit = w >> shift & 0xF;
      if (digit != 0 || started || shift == 0) {
        *out++ = HEX_DIGITS[digit];
        started = true;
      }
    }
  }
  if (bestBase >= 0 && bestBase + bestLength == 8) *out++ = ':';
  return out;
}

}  // namespace vbDNS::detail
