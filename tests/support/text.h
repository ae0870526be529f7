// Text for messages and reports: UTF-16 shown in ASCII and back, octets in hex.
#pragma once

#include <cstdint>
#include <string>

#include "codec/vbdns.h"

namespace vavizav::testing {

// Printable ASCII kept, every other character shown as '?'.
inline std::string Narrow(const std::wstring& text) {
  std::string narrow;
  for (const wchar_t c : text) narrow += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
  return narrow;
}

inline std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

inline std::string Hex(const vbDNS::Packet& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (const std::uint8_t b : bytes) {
    text += digits[b >> 4];
    text += digits[b & 15];
  }
  return text;
}

}  // namespace vavizav::testing
