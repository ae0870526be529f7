#include "names.h"
#include "vbdns.h"

namespace vbDNS {

namespace {

// RFC 1035 section 3.5: the octets of the address in reverse order, under in-addr.arpa.
std::string ReverseName(std::uint32_t address) {
  std::string name;
  for (int octet = 0; octet < 4; ++octet, address >>= 8) name += std::to_string(address & 0xFF) + '.';
  return name + "in-addr.arpa";
}

void Put16(Packet& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value >> 8));
  out.push_back(static_cast<std::uint8_t>(value & 0xFF));
}

}  // namespace

std::optional<DNSQuery> BuildQuery(std::uint16_t queryType, std::string_view name) {
  if (queryType != TYPE_A && queryType != TYPE_PTR) return std::nullopt;
  std::string reverseName;
  if (queryType == TYPE_PTR) {
    const auto address = TextToIP(name);
    if (!address) return std::nullopt;
    reverseName = ReverseName(*address);
    name = reverseName;
  }
  auto wireName = detail::TextToWireName(name);
  if (!wireName) return std::nullopt;

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
  Packet out;
  out.reserve(HEADER_SIZE + query.Question.QName.size() + 4);
  Put16(out, query.Header.ID);
  out.push_back(query.Header.Flags1);
  out.push_back(query.Header.Flags2);
  Put16(out, query.Header.QDCount);
  Put16(out, query.Header.ANCount);
  Put16(out, query.Header.NSCount);
  Put16(out, query.Header.ARCount);
  out.insert(out.end(), query.Question.QName.begin(), query.Question.QName.end());
  Put16(out, query.Question.QType);
  Put16(out, query.Question.QClass);
  return out;
}

}  // namespace vbDNS
