#include <array>

#include "names.h"
#include "vbdns.h"
#include "wire_reader.h"

namespace vbDNS {

namespace {

using detail::ReadHeader;
using detail::WireReader;

using detail::Get16;
using detail::Get32;

// One resource record. Its data is always consumed by RDLength, so a type the
// parser does not collect can never misalign the records after it.
// The owner is kept from the last answer only; the others are just checked.
// Most owners are a bare pointer to the question's name, already read.
void ReadAnswer(WireReader& in, std::uint16_t queryType, DNSAnswer& answer, bool last,
                const DNSReplyQuestion* question) {
  if (question != nullptr && in.NextIsPointerTo(HEADER_SIZE)) {
    in.Skip(2);
    if (last) answer.AName = question->QName;
  } else if (last) {
    // Straight into the record: a failure below discards the whole reply.
    detail::ReadNameText(in, answer.AName);
  } else {
    detail::SkipName(in);
  }
  // TYPE, CLASS, TTL, RDLENGTH.
  const std::array<std::uint8_t, 10> fixed = in.Fixed<10>();
  const std::uint16_t type = Get16<0>(fixed);
  const std::uint16_t klass = Get16<2>(fixed);
  const std::uint32_t ttl = Get32<4>(fixed);
  const std::uint16_t rdLength = Get16<8>(fixed);
  WireReader rdata = in.Sub(rdLength);
  if (!in.Ok()) return;

  answer.AType = type;
  answer.AClass = klass;
  answer.TTL = ttl;
  answer.RDLength = rdLength;
  if (queryType == TYPE_A && type == TYPE_A && klass == CLASS_IN && rdLength == 4) {
    const PacketView address = rdata.Bytes(4);
    answer.RData.append({reinterpret_cast<const char*>(address.data()), address.size()});
  } else if (queryType == TYPE_PTR && type == TYPE_PTR && klass == CLASS_IN) {
    // Another class's PTR names no host of the Internet; like any other record
    // it is skipped by RDLength. The name's own octets must lie within
    // RDLength; its pointers may lead anywhere earlier in the message.
    detail::ReadNameText(rdata, answer.RData);
    if (!rdata.Ok()) in.Fail();
  }
}

// Fills `reply`; false when the packet is malformed.
bool ReadReply(std::uint16_t queryType, PacketView packet, DNSReply& reply) {
  WireReader in(packet);
  reply.Header = ReadHeader(in);
  if (!in.Ok() || reply.Header.QDCount > 1) return false;

  if (reply.Header.QDCount == 1) {
    detail::ReadNameText(in, reply.Question.QName);
    const std::array<std::uint8_t, 4> fixed = in.Fixed<4>();
    reply.Question.QType = Get16<0>(fixed);
    reply.Question.QClass = Get16<2>(fixed);
    if (!in.Ok()) return false;
  }

  const DNSReplyQuestion* question = reply.Header.QDCount == 1 ? &reply.Question : nullptr;
  for (std::uint16_t i = 0; i < reply.Header.ANCount; ++i) {
    ReadAnswer(in, queryType, reply.Answer, i + 1 == reply.Header.ANCount, question);
    if (!in.Ok()) return false;
  }
  return true;
}

}  // namespace

std::optional<DNSReply> ParseReply(std::uint16_t queryType, PacketView packet) {
  // Parsed where it is returned. The record comes from a default-initialised
  // one: empty texts cost nothing to move, where value-initialising the
  // optional's record would clear every text buffer first.
  DNSReply empty;
  std::optional<DNSReply> reply(std::in_place, std::move(empty));
  if (!ReadReply(queryType, packet, *reply)) reply.reset();
  return reply;
}

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
