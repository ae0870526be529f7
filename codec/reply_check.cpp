#include "codec/reply_check.h"

#include <algorithm>
#include <cstring>

#include "codec/wire_reader.h"
#include "codec/wire_writer.h"

namespace vbDNS {
namespace {

using detail::Get16;
using detail::ReadHeader;
using detail::WireReader;

constexpr std::uint8_t POINTER_BITS = 0xC0;
constexpr std::uint16_t TYPE_DNAME = 39;

std::uint8_t Lower(std::uint8_t c) { return c >= 'A' && c <= 'Z' ? static_cast<std::uint8_t>(c | 0x20) : c; }

// Whether `octets` is `name` without regard to ASCII case. Length octets are
// below 64 and so never letters: comparing every octet this way compares the
// labels' lengths exactly.
bool SameIgnoringCase(const std::uint8_t* octets, std::string_view name) {
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (Lower(octets[i]) != Lower(static_cast<std::uint8_t>(name[i]))) return false;
  }
  return true;
}

// The plain labels of a name at the reader's position, up to and including
// the terminating zero; the reader fails on a pointer, a reserved label type
// or a name past MAX_NAME_WIRE octets. Returns where the name starts.
PacketView PlainName(WireReader& in, PacketView message) {
  const std::size_t start = in.Offset();
  for (;;) {
    const std::uint8_t length = in.U8();
    if (!in.Ok()) return {};
    if (length == 0) break;
    if (length > MAX_LABEL || in.Offset() - start > MAX_NAME_WIRE) {
      in.Fail();
      return {};
    }
    in.Skip(length);
  }
  if (in.Offset() - start > MAX_NAME_WIRE) {
    in.Fail();
    return {};
  }
  return message.subspan(start, in.Offset() - start);
}

// Walks a name's own octets (its labels up to the zero or its first pointer)
// and writes `spelling`'s labels over the leading ones that repeat `sent`'s
// octet for octet. The reader ends after the name's own octets, or failed.
void RespellLeadingLabels(WireReader& in, std::uint8_t* message, std::string_view sent, std::string_view spelling) {
  std::size_t at = 0;  // offset in `sent` of the label compared next
  bool matching = true;
  for (;;) {
    const std::size_t start = in.Offset();
    const std::uint8_t length = in.U8();
    if (!in.Ok() || length == 0) return;
    if ((length & POINTER_BITS) == POINTER_BITS) {
      in.Skip(1);
      return;
    }
    if (length > MAX_LABEL) return in.Fail();
    in.Skip(length);
    if (!in.Ok()) return;
    if (!matching) continue;
    // A label of `sent` is its length octet and its octets; the final zero
    // never matches a label of length 1..63.
    if (at + 1 + length > sent.size() || static_cast<std::uint8_t>(sent[at]) != length ||
        std::memcmp(message + start + 1, sent.data() + at + 1, length) != 0) {
      matching = false;
      continue;
    }
    std::memcpy(message + start + 1, spelling.data() + at + 1, length);
    at += 1 + length;
  }
}

// Steps over a name that may end in a compression pointer, without following it.
void SkipName(WireReader& in) {
  for (std::size_t labels = 0; in.Ok() && labels <= MAX_NAME_WIRE / 2; ++labels) {
    const std::uint8_t length = in.U8();
    if (!in.Ok() || length == 0) return;
    if ((length & POINTER_BITS) == POINTER_BITS) return in.Skip(1);
    if (length > MAX_LABEL) return in.Fail();
    in.Skip(length);
  }
  in.Fail();
}

}  // namespace

OptPresence ReplyOpt(PacketView reply) noexcept {
  constexpr std::uint16_t TYPE_OPT = 41;
  WireReader in(reply);
  const DNSHeader header = ReadHeader(in);
  for (unsigned q = 0; q < header.QDCount && in.Ok(); ++q) {
    SkipName(in);
    in.Skip(4);
  }
  const std::size_t before = std::size_t{header.ANCount} + header.NSCount;
  const std::size_t records = before + header.ARCount;
  for (std::size_t i = 0; i < records && in.Ok(); ++i) {
    SkipName(in);
    const std::array<std::uint8_t, 10> fixed = in.Fixed<10>();
    in.Skip(Get16<8>(fixed));
    if (in.Ok() && i >= before && Get16<0>(fixed) == TYPE_OPT) return OptPresence::Present;
  }
  return in.Ok() ? OptPresence::Absent : OptPresence::Unreadable;
}

std::optional<std::uint16_t> ReplyId(PacketView datagram) noexcept {
  WireReader in(datagram);
  const std::array<std::uint8_t, 2> id = in.Fixed<2>();
  if (!in.Ok()) return std::nullopt;
  return Get16<0>(id);
}

ReplyCheck CheckReply(PacketView reply, std::uint16_t id, const DNSQuestion& sent) noexcept {
  ReplyCheck check;
  WireReader in(reply);
  check.Header = ReadHeader(in);
  if (!in.Ok()) return check;
  check.Truncated = (check.Header.Flags1 & FLAG_TC) != 0;
  check.RCode = check.Header.Flags2 & RCODE_MASK;
  check.Fit = ReplyFit::Mismatch;
  if (check.Header.ID != id || (check.Header.Flags1 & FLAG_QR) == 0 || check.Header.QDCount > 1) return check;
  if (check.Header.QDCount == 0) {
    // Some servers leave the question out of an error.
    check.Fit = ReplyFit::Matches;
    check.Echo = NameEcho::Absent;
    return check;
  }
  const PacketView name = PlainName(in, reply);
  const std::array<std::uint8_t, 4> typeAndClass = in.Fixed<4>();
  if (!in.Ok()) {
    check.Fit = ReplyFit::Unreadable;
    return check;
  }
  const std::string_view wanted = sent.QName.view();
  if (name.size() != wanted.size() || Get16<0>(typeAndClass) != sent.QType ||
      Get16<2>(typeAndClass) != sent.QClass || !SameIgnoringCase(name.data(), wanted)) {
    return check;
  }
  check.Fit = ReplyFit::Matches;
  check.Echo = std::memcmp(name.data(), wanted.data(), wanted.size()) == 0 ? NameEcho::Exact : NameEcho::Folded;
  return check;
}

void RespellReply(Packet& reply, const WireName& sent, const WireName& spelling) noexcept {
  const std::string_view from = sent.view();
  const std::string_view to = spelling.view();
  if (from.size() != to.size()) return;
  WireReader in(reply);
  const DNSHeader header = ReadHeader(in);
  if (!in.Ok() || header.QDCount > 1) return;
  std::uint8_t* const octets = reply.data();
  if (header.QDCount == 1) {
    const std::size_t start = in.Offset();
    const PacketView name = PlainName(in, reply);
    in.Skip(4);
    if (!in.Ok()) return;
    if (name.size() == to.size() && SameIgnoringCase(name.data(), to)) std::memcpy(octets + start, to.data(), to.size());
  }
  // Names the server spelt itself, and names of a reply to a question that
  // went out as the caller spelt it, stay as they are.
  if (from == to) return;
  const std::size_t records = std::size_t{header.ANCount} + header.NSCount + header.ARCount;
  for (std::size_t i = 0; i < records && in.Ok(); ++i) {
    RespellLeadingLabels(in, octets, from, to);
    const std::array<std::uint8_t, 10> fixed = in.Fixed<10>();
    const std::uint16_t type = Get16<0>(fixed);
    WireReader data = in.Sub(Get16<8>(fixed));
    if (!in.Ok()) return;
    if (type == TYPE_CNAME || type == TYPE_DNAME) RespellLeadingLabels(data, octets, from, to);
  }
}

std::size_t EncodeStreamQuery(const DNSQuery& query, std::uint16_t id, std::span<std::uint8_t> out) noexcept {
  if (out.size() < 2) return 0;
  const std::size_t size = EncodeQuery(query, id, out.subspan(2));
  // A query is at most MAX_QUERY_SIZE octets: its length fits the prefix.
  if (size == 0 || !PutU16(out, static_cast<std::uint16_t>(size))) return 0;
  return 2 + size;
}

std::size_t StreamMessage::Feed(PacketView octets) {
  std::size_t taken = 0;
  if (state_ == State::Length) {
    const std::size_t n = std::min(octets.size(), 2 - have_);
    std::memcpy(length_.data() + have_, octets.data(), n);
    have_ += n;
    taken = n;
    if (have_ < 2) return taken;
    WireReader prefix(length_);
    wanted_ = Get16<0>(prefix.Fixed<2>());
    if (wanted_ < HEADER_SIZE) {
      state_ = State::Refused;
      return taken;
    }
    state_ = State::Body;
    have_ = 0;
    message_.resize(wanted_);
  }
  if (state_ != State::Body) return taken;
  const std::size_t n = std::min(octets.size() - taken, wanted_ - have_);
  if (n != 0) std::memcpy(message_.data() + have_, octets.data() + taken, n);
  have_ += n;
  if (have_ == wanted_) state_ = State::Complete;
  return taken + n;
}

}  // namespace vbDNS
