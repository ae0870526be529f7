#include <array>
#include <bit>
#include <cstring>
#include <string>

#include "codec/ipv6_text.h"
#include "codec/vbdns.h"
#include "codec/wire_writer.h"

namespace vbDNS {

namespace {

// RFC 1035 section 3.5: the octets of the address in reverse order, under
// in-addr.arpa, straight in wire form: at most 4 x 4 + 14 octets, so the
// padding written past each label always fits.
void ReverseWireName(std::uint32_t address, WireName& wire) {
  static constexpr char IN_ADDR_ARPA[] = "\7in-addr\4arpa";  // and the terminating zero
  char* const start = wire.data();
  char* p = start;
  for (int octet = 0; octet < 4; ++octet, address >>= 8) {
    // Each octet's digits after their count: a label in wire form.
    const std::array<char, 4>& label = detail::DECIMAL_OCTETS[address & 0xFF];
    std::memcpy(p, label.data(), 4);
    p += 1 + label[0];
  }
  std::memcpy(p, IN_ADDR_ARPA, sizeof IN_ADDR_ARPA);
  wire.resize(static_cast<std::size_t>(p - start) + sizeof IN_ADDR_ARPA);
}

// Bit 7 of each octet of `chunk` that is a dot, the other bits clear. Exact
// per octet: no carry crosses from one octet to the next.
constexpr std::uint64_t DotBits(std::uint64_t chunk) {
  constexpr std::uint64_t LOW_SEVEN_BITS = 0x7F7F7F7F7F7F7F7Full;
  const std::uint64_t zeroIfDot = chunk ^ 0x2E2E2E2E2E2E2E2Eull;
  return ~(((zeroIfDot & LOW_SEVEN_BITS) + LOW_SEVEN_BITS) | zeroIfDot | LOW_SEVEN_BITS);
}

// Copies the `size` octets of dotted text at `in` to out + 1 and writes the
// length octets: each label's length goes where the dot before it stands (for
// the first label, to out[0]). `in` may be out + 1 itself. False on an empty
// label or one over 63 octets. Eight octets are copied and searched for dots
// at a time, which makes the usual host name a handful of steps.
bool PutWireName(const char* in, std::size_t size, char* out) {
  std::size_t start = 0;  // index in the text of the current label's first octet
  const auto endLabel = [out, &start](std::size_t dot) {
    const std::size_t length = dot - start;
    if (length == 0 || length > MAX_LABEL) return false;
    out[start] = static_cast<char>(length);
    start = dot + 1;
    return true;
  };
  if (std::endian::native == std::endian::little && size >= 8) {
    // In octet order, the lowest set bit is the first dot.
    const auto endLabels = [&endLabel](std::size_t at, std::uint64_t dots) {
      for (; dots != 0; dots &= dots - 1) {
        if (!endLabel(at + static_cast<std::size_t>(std::countr_zero(dots)) / 8)) return false;
      }
      return true;
    };
    // The last 8 octets first: their copy overlaps the chunks before it, and
    // must not land on a length octet written for one of them.
    const std::size_t tailAt = size - 8;
    std::uint64_t tail;
    std::memcpy(&tail, in + tailAt, 8);
    std::memcpy(out + 1 + tailAt, &tail, 8);
    std::size_t at = 0;
    for (; at + 8 <= size; at += 8) {
      std::uint64_t chunk;
      std::memcpy(&chunk, in + at, 8);
      std::memcpy(out + 1 + at, &chunk, 8);
      if (!endLabels(at, DotBits(chunk))) return false;
    }
    // Dots of the tail not seen in the chunks.
    if (at < size && !endLabels(tailAt, DotBits(tail) & ~std::uint64_t{0} << 8 * (at - tailAt))) return false;
  } else {
    for (std::size_t i = 0; i < size; ++i) {
      out[i + 1] = in[i];
      if (in[i] == '.' && !endLabel(i)) return false;
    }
  }
  return endLabel(size);  // the last label ends at the final zero
}

// Wire form of dotted text; false for an empty name or label, a label over 63
// octets, a name over 255 octets, or (automation text) a character that is not
// one octet. One trailing dot is allowed and marks the name fully qualified.
bool TextToWireName(std::string_view text, WireName& wire) {
  if (text.ends_with('.')) text.remove_suffix(1);
  // Wire form: a length octet for each label in place of its dot, plus the
  // first length octet and the final zero.
  const std::size_t size = text.size();
  if (size == 0 || size + 2 > MAX_NAME_WIRE) return false;
  char* const out = wire.data();
  if (!PutWireName(text.data(), size, out)) return false;
  out[size + 1] = '\0';
  wire.resize(size + 2);
  return true;
}

bool TextToWireName(std::u16string_view text, WireName& wire) {
  if (text.ends_with(u'.')) text.remove_suffix(1);
  const std::size_t size = text.size();
  if (size == 0 || size + 2 > MAX_NAME_WIRE) return false;
  char* const out = wire.data();
  // Narrowed in place first; one test at the end keeps the loop simple.
  char16_t all = 0;
  for (std::size_t i = 0; i < size; ++i) {
    all |= text[i];
    out[i + 1] = static_cast<char>(text[i]);
  }
  if (all > 0xFF || !PutWireName(out + 1, size, out)) return false;
  out[size + 1] = '\0';
  wire.resize(size + 2);
  return true;
}

template <class Char>
bool Fill(std::uint16_t queryType, std::basic_string_view<Char> name, DNSQuery& query) {
  if (queryType == TYPE_PTR) {
    const std::optional<std::uint32_t> address = TextToIP(name);
    if (!address) return false;
    ReverseWireName(*address, query.Question.QName);
  } else if (queryType != TYPE_A || !TextToWireName(name, query.Question.QName)) {
    return false;
  }
  query.Header.ID = QUERY_ID;
  query.Header.Flags1 = FLAG_RD;
  query.Header.QDCount = 1;
  query.Question.QType = queryType;
  query.Question.QClass = CLASS_IN;
  return true;
}

template <class Char>
std::optional<DNSQuery> Build(std::uint16_t queryType, std::basic_string_view<Char> name) {
  // Built where it is returned (the one return keeps it there). The record
  // comes from a default-initialised one: an empty name costs nothing to
  // move, where value-initialising the optional's record would clear the
  // whole name buffer first.
  DNSQuery empty;
  std::optional<DNSQuery> query(std::in_place, std::move(empty));
  if (!Fill(queryType, name, *query)) query.reset();
  return query;
}

}  // namespace

std::optional<DNSQuery> BuildQuery(std::uint16_t queryType, std::string_view name) { return Build(queryType, name); }

std::optional<DNSQuery> BuildQuery(std::uint16_t queryType, std::u16string_view name) {
  return Build(queryType, name);
}

std::optional<DNSQuery> BuildQuestion(std::uint16_t type, std::string_view asciiName) {
  DNSQuery empty;
  std::optional<DNSQuery> query(std::in_place, std::move(empty));
  bool named;
  if (asciiName == ".") named = query->Question.QName.assign(std::string_view("", 1));  // the root: one zero octet
  else named = TextToWireName(asciiName, query->Question.QName);
  if (type == 0 || !named) {
    query.reset();
    return query;
  }
  query->Header.ID = QUERY_ID;
  query->Header.Flags1 = FLAG_RD;
  query->Header.QDCount = 1;
  query->Question.QType = type;
  query->Question.QClass = CLASS_IN;
  return query;
}

std::string ReverseName(std::string_view address) {
  static constexpr char HEX_DIGITS[] = "0123456789abcdef";
  if (const std::optional<std::uint32_t> v4 = TextToIP(address)) {
    std::string name;
    for (int octet = 0; octet < 4; ++octet) {
      name += std::to_string(*v4 >> (8 * octet) & 0xFF);
      name += '.';
    }
    return name + "in-addr.arpa";
  }
  const std::optional<std::array<std::uint8_t, 16>> v6 = detail::ParseIPv6(address);
  if (!v6) return {};
  std::string name;
  name.reserve(32 * 2 + 8);
  for (std::size_t i = v6->size(); i-- > 0;) {
    const std::uint8_t octet = (*v6)[i];
    name += HEX_DIGITS[octet & 0xF];
    name += '.';
    name += HEX_DIGITS[octet >> 4];
    name += '.';
  }
  return name + "ip6.arpa";
}

std::size_t EncodeQuery(const DNSQuery& query, std::uint16_t id, std::span<std::uint8_t> out) noexcept {
  const WireName& name = query.Question.QName;
  const bool edns = query.EdnsUdpSize != 0;
  const std::size_t size = HEADER_SIZE + name.size() + 4 + (edns ? OPT_RECORD_SIZE : 0);
  if (out.size() < size) return 0;
  // Header, name, type and class: three writes, each checked once.
  std::array<std::uint8_t, HEADER_SIZE> header;
  Set16<0>(header, id);
  header[2] = query.Header.Flags1;
  header[3] = query.Header.Flags2;
  Set16<4>(header, query.Header.QDCount);
  Set16<6>(header, query.Header.ANCount);
  Set16<8>(header, query.Header.NSCount);
  Set16<10>(header, static_cast<std::uint16_t>(query.Header.ARCount + (edns ? 1 : 0)));
  std::array<std::uint8_t, 4> typeAndClass;
  Set16<0>(typeAndClass, query.Question.QType);
  Set16<2>(typeAndClass, query.Question.QClass);
  WireWriter writer(out.first(size));
  writer.Fixed(header);
  writer.Bytes(name.view());
  writer.Fixed(typeAndClass);
  if (edns) {
    // RFC 6891 section 6.1.2: owner the root, TYPE 41, CLASS the UDP size,
    // TTL the extended RCODE (0), version 0 and the flags, no options.
    std::array<std::uint8_t, OPT_RECORD_SIZE> opt{};
    Set16<1>(opt, 41);
    Set16<3>(opt, query.EdnsUdpSize);
    Set16<7>(opt, query.DnssecOk ? EDNS_FLAG_DO : std::uint16_t{0});
    writer.Fixed(opt);
  }
  return writer.Ok() ? size : 0;
}

Packet EncodeQuery(const DNSQuery& query) {
  QueryDatagram datagram;
  const std::size_t size = EncodeQuery(query, query.Header.ID, datagram);
  return Packet(datagram.begin(), datagram.begin() + static_cast<std::ptrdiff_t>(size));
}

}  // namespace vbDNS
