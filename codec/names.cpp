#include "names.h"

#include <array>
#include <cstring>

namespace vbDNS::detail {

namespace {

// Octets that stand for themselves in presentation text, as a table: the
// label loop then costs a load and a test per octet.
constexpr auto kPlain = [] {
  std::array<bool, 256> plain{};
  for (int octet = 0x21; octet <= 0x7E; ++octet) plain[octet] = octet != '.' && octet != '\\';
  return plain;
}();
bool Plain(unsigned char octet) { return kPlain[octet]; }

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

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The presentation text of the name at the reader's position into `out`,
// which has room for MAX_NAME_TEXT characters; its length, or 0 with the
// reader failed on a bad name.
std::size_t PutNameText(WireReader& in, char* out) {
  char* end = out;
  const bool ok = WalkName(in, [&end, out](PacketView label) {
    // At most 4 characters per octet and a dot: within MAX_NAME_TEXT as long
    // as the wire form is within 255 octets, which WalkName enforces.
    if (static_cast<std::size_t>(end - out) + 1 + 4 * label.size() > MAX_NAME_TEXT) return false;
    if (end != out) *end++ = '.';
    end = PutLabelText(end, label);
    return true;
  });
  return ok ? static_cast<std::size_t>(end - out) : 0;
}

}  // namespace

void ReadName(WireReader& in, WireName& wire) {
  char* const out = wire.data();
  std::size_t size = 0;
  const bool ok = WalkName(in, [out, &size](PacketView label) {
    // WalkName keeps the wire length within 255 octets; checked here as well,
    // as this writes into a buffer of exactly that size.
    if (size + 1 + label.size() + 1 > MAX_NAME_WIRE) return false;
    out[size++] = static_cast<char>(label.size());
    std::memcpy(out + size, label.data(), label.size());
    size += label.size();
    return true;
  });
  if (!ok) {
    wire.clear();
    return;
  }
  out[size++] = '\0';
  wire.resize(size);
}

void ReadNameText(WireReader& in, NameText& text) { text.resize(PutNameText(in, text.data())); }

void ReadNameText(WireReader& in, AnswerData& text) {
  static_assert(ANSWER_DATA_IN_PLACE >= MAX_NAME_TEXT, "a name's text stays in place");
  text.resize(MAX_NAME_TEXT);
  text.resize(PutNameText(in, text.data()));
}

void SkipName(WireReader& in) {
  WalkName(in, [](PacketView) { return true; });
}

bool SameWireName(const WireName& a, const WireName& b) {
  if (a.size() != b.size()) return false;
  // Length octets are below 0x40 and so never taken for letters.
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

void CheckName(WireReader& in, KnownNames& known) {
  const std::size_t start = in.Offset();
  // Most owners are a bare pointer to a name already checked.
  if (const std::uint16_t first = in.Peek16(); first >= 0xC000) {
    const std::size_t target = first & 0x3FFF;
    const KnownNames::Entry* name = target < start ? known.Find(target) : nullptr;
    if (name != nullptr && 1 + name->Jumps <= MAX_POINTER_JUMPS) {
      in.Skip(2);
      return;
    }
  }
  WireReader labels = in;
  std::size_t before = start;
  bool jumped = false;
  int jumps = 0;
  std::size_t wireLength = 1;  // the terminating zero
  // The first pointer's target and what was counted up to it, to remember
  // that name as well once its end is reached.
  std::size_t firstTarget = 0, lengthBeforeTarget = 0;
  int jumpsBeforeTarget = 0;
  for (;;) {
    const std::uint8_t length = labels.U8();
    if (!labels.Ok()) break;
    if (length == 0) {
      if (!jumped) in = labels;
      known.Add(start, wireLength, jumps);
      if (jumped) known.Add(firstTarget, wireLength - lengthBeforeTarget, jumps - jumpsBeforeTarget);
      return;
    }
    if ((length & POINTER_BITS) == POINTER_BITS) {
      const std::size_t target = static_cast<std::size_t>(length & 0x3F) << 8 | labels.U8();
      if (!labels.Ok() || target >= before || ++jumps > MAX_POINTER_JUMPS) break;
      if (!jumped) in = labels;
      if (const KnownNames::Entry* name = known.Find(target)) {
        // The walk from `target` on is the one already made.
        if (jumps + name->Jumps > MAX_POINTER_JUMPS || wireLength - 1 + name->WireLength > MAX_NAME_WIRE) break;
        // A bare pointer is not worth a place: replies point at labels.
        if (wireLength > 1) known.Add(start, wireLength - 1 + name->WireLength, jumps + name->Jumps);
        return;
      }
      if (!jumped) {
        firstTarget = target;
        lengthBeforeTarget = wireLength - 1;
        jumpsBeforeTarget = jumps;
      }
      jumped = true;
      before = target;
      labels = in.At(target);
      continue;
    }
    if (length > MAX_LABEL) break;  // 0x40..0xBF: reserved label types
    wireLength += 1 + length;
    if (wireLength > MAX_NAME_WIRE) break;
    labels.Skip(length);
    if (!labels.Ok()) break;
  }
  in.Fail();
}

}  // namespace vbDNS::detail
