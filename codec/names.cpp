#include "names.h"

#include <array>

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

// Octets that stand for themselves in presentation text, as a table: the
// label loop then costs a load and a test per octet.
constexpr auto kPlain = [] {
  std::array<bool, 256> plain{};
  for (int octet = 0x21; octet <= 0x7E; ++octet) plain[octet] = octet != '.' && octet != '\\';
  return plain;
}();
bool Plain(unsigned char octet) { return kPlain[octet]; }

// Longest presentation text of a name: one label of 253 octets, each "\DDD".
constexpr std::size_t MAX_NAME_TEXT = 4 * (MAX_NAME_WIRE - 2);

// A label's text at `out`, which has room for it; returns the end.
char* PutLabelText(char* out, PacketView label) {
  for (const std::uint8_t octet : label) {
    if (Plain(octet)) {
      *out++ = static_cast<char>(octet);
    } else if (octet == '.' || octet == '\\') {
      *out++ = '\\';
      *out++ = static_cast<char>(octet);
    } else {
      // Control characters, blanks and 8-bit octets never reach a caller raw.
      *out++ = '\\';
      *out++ = static_cast<char>('0' + octet / 100);
      *out++ = static_cast<char>('0' + octet / 10 % 10);
      *out++ = static_cast<char>('0' + octet % 10);
    }
  }
  return out;
}

// Walks the name at the reader's position (the rules of ReadName), handing
// each label to onLabel. False, and the reader failed, on a bad name.
template <class OnLabel>
bool WalkName(WireReader& in, OnLabel&& onLabel) {
  WireReader labels = in;
  // A pointer must land before the start of whatever is being read now: the
  // name itself, then each pointer's target. No loop can form.
  std::size_t before = in.Offset();
  bool jumped = false;
  int jumps = 0;
  std::size_t wireLength = 1;  // the terminating zero
  for (;;) {
    const std::uint8_t length = labels.U8();
    if (!labels.Ok()) break;
    if (length == 0) {
      if (!jumped) in = labels;
      return true;
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
    wireLength += 1 + length;
    if (wireLength > MAX_NAME_WIRE) break;
    const PacketView label = labels.Bytes(length);
    if (!labels.Ok()) break;
    onLabel(label);
  }
  in.Fail();
  return false;
}

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

ByteString ReadName(WireReader& in) {
  ByteString wire;
  const bool ok = WalkName(in, [&wire](PacketView label) {
    wire += static_cast<char>(label.size());
    wire.append(reinterpret_cast<const char*>(label.data()), label.size());
  });
  if (!ok) return {};
  wire += '\0';
  return wire;
}

void ReadNameText(WireReader& in, std::string& text) {
  // Composed on the stack, then stored with one copy.
  char buffer[MAX_NAME_TEXT];
  char* end = buffer;
  WalkName(in, [&end, &buffer](PacketView label) {
    if (end != buffer) *end++ = '.';
    end = PutLabelText(end, label);
  });
  text.assign(buffer, static_cast<std::size_t>(end - buffer));
}

void SkipName(WireReader& in) {
  WalkName(in, [](PacketView) {});
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
  // The text after a placeholder octet and before the final zero; then each
  // dot, and the placeholder, becomes the length of the label after it.
  ByteString wire(text.size() + 2, '\0');
  text.copy(wire.data() + 1, text.size());
  std::size_t lengthAt = 0;
  for (std::size_t i = 1; i <= text.size() + 1; ++i) {
    if (i <= text.size() && wire[i] != '.') continue;
    const std::size_t length = i - lengthAt - 1;
    if (length == 0 || length > MAX_LABEL) return std::nullopt;
    wire[lengthAt] = static_cast<char>(length);
    lengthAt = i;
  }
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
