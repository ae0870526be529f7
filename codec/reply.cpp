#include "names.h"
#include "vbdns.h"
#include "wire_reader.h"

namespace vbDNS {

namespace {

using detail::WireReader;

DNSHeader ReadHeader(WireReader& in) {
  DNSHeader header;
  header.ID = in.U16();
  header.Flags1 = in.U8();
  header.Flags2 = in.U8();
  header.QDCount = in.U16();
  header.ANCount = in.U16();
  header.NSCount = in.U16();
  header.ARCount = in.U16();
  return header;
}

// One resource record. Its data is always consumed by RDLength, so a type the
// parser does not collect can never misalign the records after it.
void ReadAnswer(WireReader& in, std::uint16_t queryType, DNSAnswer& answer) {
  ByteString owner = detail::ReadName(in);
  const std::uint16_t type = in.U16();
  const std::uint16_t klass = in.U16();
  const std::uint32_t ttl = in.U32();
  const std::uint16_t rdLength = in.U16();
  WireReader rdata = in.Sub(rdLength);
  if (!in.Ok()) return;

  answer.AName = detail::NameText(owner);
  answer.AType = type;
  answer.AClass = klass;
  answer.TTL = ttl;
  answer.RDLength = rdLength;
  if (queryType == TYPE_A && type == TYPE_A && klass == CLASS_IN && rdLength == 4) {
    const PacketView address = rdata.Bytes(4);
    answer.RData.append(address.begin(), address.end());
  } else if (queryType == TYPE_PTR && type == TYPE_PTR) {
    // The name's own octets must lie within RDLength; its pointers may lead
    // anywhere earlier in the message.
    const ByteString target = detail::ReadName(rdata);
    if (!rdata.Ok()) {
      in.Fail();
      return;
    }
    answer.RData = detail::NameText(target);
  }
}

}  // namespace

std::optional<DNSReply> ParseReply(std::uint16_t queryType, PacketView packet) {
  WireReader in(packet);
  DNSReply reply;
  reply.Header = ReadHeader(in);
  if (!in.Ok() || reply.Header.QDCount > 1) return std::nullopt;

  if (reply.Header.QDCount == 1) {
    const ByteString qname = detail::ReadName(in);
    reply.Question.QType = in.U16();
    reply.Question.QClass = in.U16();
    if (!in.Ok()) return std::nullopt;
    reply.Question.QName = detail::NameText(qname);
  }

  for (std::uint16_t i = 0; i < reply.Header.ANCount; ++i) {
    ReadAnswer(in, queryType, reply.Answer);
    if (!in.Ok()) return std::nullopt;
  }
  return reply;
}

bool ReplyMatchesQuery(PacketView datagram, std::uint16_t id, const DNSQuestion& sentQuestion) {
  WireReader in(datagram);
  const DNSHeader header = ReadHeader(in);
  if (!in.Ok() || header.ID != id || (header.Flags1 & FLAG_QR) == 0) return false;
  if (header.QDCount == 0) return true;  // some servers omit the question in errors
  if (header.QDCount > 1) return false;

  const ByteString qname = detail::ReadName(in);
  const std::uint16_t qtype = in.U16();
  const std::uint16_t qclass = in.U16();
  return in.Ok() && detail::SameWireName(qname, sentQuestion.QName) && qtype == sentQuestion.QType &&
         qclass == sentQuestion.QClass;
}

}  // namespace vbDNS
