#include "names.h"

namespace vbDNS::detail {

namespace {

constexpr std::uint8_t POINTER_BITS = 0xC0;

void AppendLabelOctet(std::string& text, unsigned char octet) {
  if (octet == '.' || octet == '\\') {
    text += '\\';
    text += static_cast<char>(octet);
  } else if (octet < 0x21 || octet > 0x7E) {
    // Control characters, blanks and 8-bit octets never reach a caller raw.
    text += '\\';
    text += static_cast<char>('0' + octet / 100);
    text += static_cast<char>('0' + octet / 10 % 10);
    text += static_cast<char>('0' + octet % 10);
  } else {
    text += static_cast<char>(octet);
  }
}

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

ByteString ReadName(WireReader& in) {
  ByteString wire;
  WireReader labels = in;
  // A pointer must land before the start of whatever is being read now: the
  // name itself, then each pointer's target. No loop can form.
  std::size_t before = in.Offset();
  bool jumped = false;
  int jumps = 0;
  for (;;) {
    const std::uint8_t length = labels.U8();
    if (!labels.Ok()) break;
    if (length == 0) {
      wire += '\0';
      if (!jumped) in = labels;
      return wire;
    }
    if ((length & POINTER_BITS) == POINTER_BITS) {
      const std::size_t target = static_cast<std::size_t>(length & 0x3F) << 8 | labels.U8();
      if (!labels.Ok() || target >= before || ++jumps > MAX_POINTER_JUMPS) break;
      if (!jumped) in = labels;
      jumped = true;
      before = target;
      labels = in.At(target);
      continue;
    }
    if (length > MAX_LABEL) break;  // 0x40..0xBF: reserved label types
    // Room for this label and the terminating zero.
    if (wire.size() + 1 + length + 1 > MAX_NAME_WIRE) break;
    const PacketView label = labels.Bytes(length);
    if (!labels.Ok()) break;
    wire += static_cast<char>(length);
    wire.append(label.begin(), label.end());
  }
  in.Fail();
  return {};
}

std::string NameText(std::string_view wire) {
  std::string text;
  std::size_t pos = 0;
  while (pos < wire.size() && wire[pos] != '\0') {
    const auto length = static_cast<unsigned char>(wire[pos]);
    if (pos > 0) text += '.';
    for (const char octet : wire.substr(pos + 1, length)) AppendLabelOctet(text, static_cast<unsigned char>(octet));
    pos += 1 + length;
  }
  return text;
}

std::optional<ByteString> TextToWireName(std::string_view text) {
  if (text.ends_with('.')) text.remove_suffix(1);  // fully qualified: the root ends it
  // Wire form: a length octet for each label in place of its dot, plus the
  // first length octet and the final zero.
  if (text.empty() || text.size() + 2 > MAX_NAME_WIRE) return std::nullopt;
  ByteString wire;
  for (;;) {
    const std::size_t dot = text.find('.');
    const std::string_view label = text.substr(0, dot);
    if (label.empty() || label.size() > MAX_LABEL) return std::nullopt;
    wire += static_cast<char>(label.size());
    wire += label;
    if (dot == std::string_view::npos) break;
    text.remove_prefix(dot + 1);
  }
  wire += '\0';
  return wire;
}

bool SameWireName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  // Length octets are below 0x40 and so never taken for letters.
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

std::optional<std::string> ToOctets(std::u16string_view text) {
  std::string octets;
  octets.reserve(text.size());
  for (const char16_t unit : text) {
    if (unit > 0xFF) return std::nullopt;
    octets += static_cast<char>(unit);
  }
  return octets;
}

}  // namespace vbDNS::detail
