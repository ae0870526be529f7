#include "codec/names.h"

#include <array>
#include <cstring>

#include "codec/message.h"

namespace vbDNS::detail {

namespace {

// The one table of label escapes: how each octet of a label prints. '.' and
// '\' take a backslash in every style; the characters a zone file gives a
// meaning ('"' '(' ')' ';' '@' '$') take one in the zone style (dig's) and
// stand as themselves in the host style (the first class's); every octet
// outside 0x21..0x7E (blanks, control characters, 8-bit octets) is \DDD.
enum class LabelOctet : std::uint8_t { Plain, Backslash, ZoneBackslash, Decimal };
constexpr auto LABEL_OCTETS = [] {
  std::array<LabelOctet, 256> kinds{};
  for (std::size_t octet = 0; octet < 256; ++octet) {
    if (octet < 0x21 || octet > 0x7E) kinds[octet] = LabelOctet::Decimal;
    else if (octet == '.' || octet == '\\') kinds[octet] = LabelOctet::Backslash;
    else if (std::string_view("\"();@$").find(static_cast<char>(octet)) != std::string_view::npos)
      kinds[octet] = LabelOctet::ZoneBackslash;
    else kinds[octet] = LabelOctet::Plain;
  }
  return kinds;
}();

// A label's text at `out`, which has room for 4 characters per octet;
// returns the end.
char* PutLabelText(char* out, PacketView label, NameStyle style) {
  const LabelOctet zoneCharacter = style == NameStyle::Zone ? LabelOctet::Backslash : LabelOctet::Plain;
  for (const std::uint8_t octet : label) {
    LabelOctet kind = LABEL_OCTETS[octet];
    if (kind == LabelOctet::ZoneBackslash) kind = zoneCharacter;
    if (kind == LabelOctet::Plain) {
      *out++ = static_cast<char>(octet);
    } else if (kind == LabelOctet::Backslash) {
      *out++ = '\\';
      *out++ = static_cast<char>(octet);
    } else {
      *out++ = '\\';
      *out++ = static_cast<char>('0' + octet / 100);
      *out++ = static_cast<char>('0' + octet / 10 % 10);
      *out++ = static_cast<char>('0' + octet % 10);
    }
  }
  return out;
}

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

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

void SkipName(WireReader& in) {
  WalkName(in, [](PacketView) { return true; });
}

bool AppendNameText(std::string& out, WireReader& in, NameStyle style) {
  // Made whole on the stack, then appended at once. The longest text: a
  // 255-octet name of one 253-octet label, each octet "\DDD", and a dot.
  char text[MAX_NAME_TEXT + 1];
  char* end = text;
  const bool ok = WalkName(in, [&end, &text, style](PacketView label) {
    // At most 4 characters per octet and a dot: within the buffer as long as
    // the wire form is within 255 octets, which WalkName enforces.
    if (style == NameStyle::Host && end != text) *end++ = '.';
    end = PutLabelText(end, label, style);
    if (style == NameStyle::Zone) *end++ = '.';
    return true;
  });
  if (!ok) return false;
  if (style == NameStyle::Zone && end == text) *end++ = '.';  // the root
  out.append(text, static_cast<std::size_t>(end - text));
  return true;
}

bool SameWireName(const WireName& a, const WireName& b) {
  if (a.size() != b.size()) return false;
  // Length octets are below 0x40 and so never taken for letters.
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

namespace {

// The walk of CheckName past its shortcut, kept out of line so that the
// shortcut, taken for most owners, costs no more than itself.
[[gnu::noinline]] void CheckNameByWalk(WireReader& in, KnownNames& known, std::size_t start) {
  // The first pointer's target and what was counted up to it, to remember
  // that name as well once its end is reached.
  bool jumped = false, endedInKnownName = false;
  std::size_t firstTarget = 0, lengthBeforeTarget = 0;
  int jumpsBeforeTarget = 0;
  const auto onPointer = [&](std::size_t target, const WalkState& at) {
    if (const KnownNames::Entry* name = known.Find(target)) {
      // The walk from `target` on is the one already made.
      if (at.Jumps + name->Jumps > MAX_POINTER_JUMPS || at.WireLength - 1 + name->WireLength > MAX_NAME_WIRE) {
        return AtPointer::Refuse;
      }
      // A bare pointer is not worth a place: replies point at labels.
      if (at.WireLength > 1) known.Add(start, at.WireLength - 1 + name->WireLength, at.Jumps + name->Jumps);
      endedInKnownName = true;
      return AtPointer::Accept;
    }
    if (!jumped) {
      firstTarget = target;
      lengthBeforeTarget = at.WireLength - 1;
      jumpsBeforeTarget = at.Jumps;
    }
    jumped = true;
    return AtPointer::Follow;
  };
  WalkState state;
  if (!WalkName(in, [](PacketView) { return true; }, onPointer, state) || endedInKnownName) return;
  known.Add(start, state.WireLength, state.Jumps);
  if (jumped) known.Add(firstTarget, state.WireLength - lengthBeforeTarget, state.Jumps - jumpsBeforeTarget);
}

}  // namespace

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
  CheckNameByWalk(in, known, start);
}

}  // namespace vbDNS::detail

namespace vbDNS {

bool AppendDataName(const Message& message, const ResourceRecord& record, NameStyle style, std::string& out) {
  detail::WireReader data = detail::WireReader(message.Packet()).At(record.RDataOffset).Sub(record.RDataLength);
  return detail::AppendNameText(out, data, style);
}

std::string WireNameText(std::string_view wire) {
  detail::WireReader in(PacketView(reinterpret_cast<const std::uint8_t*>(wire.data()), wire.size()));
  std::string text;
  detail::AppendNameText(text, in, NameStyle::Zone);
  return text;
}

}  // namespace vbDNS
