#include "names.h"
#include "vbdns.h"

namespace vbDNS {

namespace {

// RFC 1035 section 3.5: the octets of the address in reverse order, under
// in-addr.arpa, straight in wire form.
ByteString ReverseWireName(std::uint32_t address) {
  static constexpr char kSuffix[] = "\7in-addr\4arpa";  // and the terminating zero
  char wire[4 * 4 + sizeof kSuffix];
  char* p = wire;
  for (int octet = 0; octet < 4; ++octet, address >>= 8) {
    const unsigned value = address & 0xFF;
    char* length = p++;
    if (value >= 100) *p++ = static_cast<char>('0' + value / 100);
    if (value >= 10) *p++ = static_cast<char>('0' + value / 10 % 10);
    *p++ = static_cast<char>('0' + value % 10);
    *length = static_cast<char>(p - length - 1);
  }
  for (const char c : kSuffix) *p++ = c;
  return ByteString(wire, static_cast<std::size_t>(p - wire));
}

std::uint8_t* Put16(std::uint8_t* out, std::uint16_t value) {
  out[0] = static_cast<std::uint8_t>(value >> 8);
  out[1] = static_cast<std::uint8_t>(value & 0xFF);
  return out + 2;
}

}  // namespace

std::optional<DNSQuery> BuildQuery(std::uint16_t queryType, std::string_view name) {
  if (queryType != TYPE_A && queryType != TYPE_PTR) return std::nullopt;
  std::optional<ByteString> wireName;
  if (queryType == TYPE_PTR) {
    const auto address = TextToIP(name);
    if (!address) return std::nullopt;
    wireName = ReverseWireName(*address);
  } else {
    wireName = detail::TextToWireName(name);
    if (!wireName) return std::nullopt;
  }

  DNSQuery query;
  query.Header.ID = QUERY_ID;
  query.Header.Flags1 = FLAG_RD;
  query.Header.QDCount = 1;
  query.Question.QName = std::move(*wireName);
  query.Question.QType = queryType;
  query.Question.QClass = CLASS_IN;
  return query;
}

std::optional<DNSQuery> BuildQuery(std::uint16_t queryType, std::u16string_view name) {
  const auto octets = detail::ToOctets(name);
  if (!octets) return std::nullopt;
  return BuildQuery(queryType, std::string_view(*octets));
}

Packet EncodeQuery(const DNSQuery& query) {
  const ByteString& name = query.Question.QName;
  Packet out(HEADER_SIZE + name.size() + 4);
  std::uint8_t* p = Put16(out.data(), query.Header.ID);
  *p++ = query.Header.Flags1;
  *p++ = query.Header.Flags2;
  p = Put16(p, query.Header.QDCount);
  p = Put16(p, query.Header.ANCount);
  p = Put16(p, query.Header.NSCount);
  p = Put16(p, query.Header.ARCount);
  for (const char c : name) *p++ = static_cast<std::uint8_t>(c);
  p = Put16(p, query.Question.QType);
  Put16(p, query.Question.QClass);
  return out;
}

}  // namespace vbDNS
