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
// The owner is kept from the last answer only; the others are just checked.
// Most owners are a bare pointer to the question's name, already read.
void ReadAnswer(WireReader& in, std::uint16_t queryType, DNSAnswer& answer, bool last, const DNSQuestion* question) {
  if (question != nullptr && in.NextIsPointerTo(HEADER_SIZE)) {
    in.Skip(2);
    if (last) answer.AName = question->QName;
  } else if (last) {
    // Straight into the record: a failure below discards the whole reply.
    detail::ReadNameText(in, answer.AName);
  } else {
    detail::SkipName(in);
  }
  const std::uint16_t type = in.U16();
  const std::uint16_t klass = in.U16();
  const std::uint32_t ttl = in.U32();
  const std::uint16_t rdLength = in.U16();
  WireReader rdata = in.Sub(rdLength);
  if (!in.Ok()) return;

  answer.AType = type;
  answer.AClass = klass;
  answer.TTL = ttl;
  answer.RDLength = rdLength;
  if (queryType == TYPE_A && type == TYPE_A && klass == CLASS_IN && rdLength == 4) {
    const PacketView address = rdata.Bytes(4);
    answer.RData.append(reinterpret_cast<const char*>(address.data()), address.size());
  } else if (queryType == TYPE_PTR && type == TYPE_PTR) {
    // The name's own octets must lie within RDLength; its pointers may lead
    // anywhere earlier in the message.
    detail::ReadNameText(rdata, answer.RData);
    if (!rdata.Ok()) in.Fail();
  }
}

}  // namespace

std::optional<DNSReply> ParseReply(std::uint16_t queryType, PacketView packet) {
  WireReader in(packet);
  DNSReply reply;
  reply.Header = ReadHeader(in);
  if (!in.Ok() || reply.Header.QDCount > 1) return std::nullopt;

  if (reply.Header.QDCount == 1) {
    detail::ReadNameText(in, reply.Question.QName);
    reply.Question.QType = in.U16();
    reply.Question.QClass = in.U16();
    if (!in.Ok()) return std::nullopt;
  }

  const DNSQuestion* question = reply.Header.QDCount == 1 ? &reply.Question : nullptr;
  for (std::uint16_t i = 0; i < reply.Header.ANCount; ++i) {
    ReadAnswer(in, queryType, reply.Answer, i + 1 == reply.Header.ANCount, question);
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
