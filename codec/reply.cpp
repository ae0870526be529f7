// The exchange's check of a received datagram against the query it sent.
#include <array>

#include "codec/names.h"
#include "codec/vbdns.h"
#include "codec/wire_reader.h"

namespace vbDNS {

using detail::Get16;
using detail::ReadHeader;
using detail::WireReader;

bool ReplyMatchesQuery(PacketView datagram, std::uint16_t id, const DNSQuestion& sentQuestion) {
  WireReader in(datagram);
  const DNSHeader header = ReadHeader(in);
  if (!in.Ok() || header.ID != id || (header.Flags1 & FLAG_QR) == 0) return false;
  if (header.QDCount == 0) return true;  // some servers omit the question in errors
  if (header.QDCount > 1) return false;

  WireName qname;
  detail::ReadName(in, qname);
  const std::array<std::uint8_t, 4> fixed = in.Fixed<4>();
  return in.Ok() && detail::SameWireName(qname, sentQuestion.QName) && Get16<0>(fixed) == sentQuestion.QType &&
         Get16<2>(fixed) == sentQuestion.QClass;
}

}  // namespace vbDNS
