// Reply fixtures shared by the codec tests. Each array is annotated with the
// message offset and field of its octets; malformed cases patch one octet or
// cut a valid fixture short. Headers, records and pointers come from the
// shared packet builder (tests/support/packets.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>

#include <gtest/gtest.h>

#include "codec/message.h"
#include "codec/reply_check.h"
#include "codec/vbdns.h"
#include "packets.h"

namespace fixtures {

using vbDNS::Packet;
using vavizav::packets::Header;
using vavizav::packets::Join;
using vavizav::packets::Opt;
using vavizav::packets::Pointer;
using vavizav::packets::Record;
using vavizav::packets::RCODE_NOERROR;
using vavizav::packets::RCODE_NXDOMAIN;
using vavizav::packets::RCODE_NXRRSET;
using vavizav::packets::REPLY_FLAGS1;
using vavizav::packets::ReplyFlags2;

inline Packet Patched(Packet packet, std::size_t offset, std::uint8_t value) {
  packet.at(offset) = value;
  return packet;
}

inline Packet Cut(Packet packet, std::size_t size) {
  packet.resize(size);
  return packet;
}

// The built query; a refusal fails the test and gives an empty record.
inline vbDNS::DNSQuery Built(std::uint16_t type, auto name) {
  const auto query = vbDNS::BuildQuery(type, name);
  if (!query) ADD_FAILURE() << "query refused";
  return query.value_or(vbDNS::DNSQuery{});
}

inline std::string Octets(std::initializer_list<std::uint8_t> octets) { return {octets.begin(), octets.end()}; }

// A reply for ab.cd with one answer, 10.0.0.1 (39 octets): the smallest whole
// answer, which the malformed cases patch and cut.
inline const Packet REPLY_AB_CD = {
    0x30, 0x39,                          //  0 ID 12345
    REPLY_FLAGS1, ReplyFlags2(),         //  2 Flags1 QR RD, Flags2 RA
    0x00, 0x01, 0x00, 0x01,              //  4 QDCount 1, ANCount 1
    0x00, 0x00, 0x00, 0x00,              //  8 NSCount 0, ARCount 0
    2, 'a', 'b', 2, 'c', 'd', 0,         // 12 QName ab.cd
    0x00, 0x01, 0x00, 0x01,              // 19 QType A, QClass IN
    0xC0, 0x0C,                          // 23 AName -> 12
    0x00, 0x01, 0x00, 0x01,              // 25 AType A, AClass IN
    0x00, 0x00, 0x00, 0x3C,              // 29 TTL 60
    0x00, 0x04,                          // 33 RDLength 4
    0x0A, 0x00, 0x00, 0x01,              // 35 RData 10.0.0.1
};

// Question for an A query; its answers point at offsets 12 and 16.
inline const Packet QUESTION_WWW = {
    3, 'w', 'w', 'w', 2, 'a', 'b', 2, 'c', 'd', 0,  // 12 QName www.ab.cd (ab.cd at 16)
    0x00, 0x01, 0x00, 0x01,                         // 23 QType A, QClass IN
};

// Question for a PTR query, 20 octets, so the first answer starts at 32.
inline const Packet QUESTION_PTR = {
    1, '1', 7, 'i', 'n', '-', 'a', 'd', 'd', 'r', 4, 'a', 'r', 'p', 'a', 0,  // 12 QName 1.in-addr.arpa
    0x00, 0x0C, 0x00, 0x01,                                                  // 28 QType PTR, QClass IN
};

// Answers whose owners point into QUESTION_WWW; each is position independent.
inline const Packet CNAME_WWW = {
    0xC0, 0x0C,                          // owner -> www.ab.cd
    0x00, 0x05, 0x00, 0x01,              // CNAME IN
    0x00, 0x00, 0x0E, 0x10,              // TTL 3600
    0x00, 0x02, 0xC0, 0x10,              // RDLength 2, alias -> ab.cd
};
inline Packet AnswerA(std::uint8_t last) {
  return {0xC0, 0x10,                    // owner -> ab.cd
          0x00, 0x01, 0x00, 0x01,        // A IN
          0x00, 0x00, 0x00, 0x3C,        // TTL 60
          0x00, 0x04, 10, 0, 0, last};   // RDLength 4, 10.0.0.last
}

// Whether the exchange would take `reply` as the answer to the query that went
// out with `id` and `sent`.
inline bool Matches(vbDNS::PacketView reply, std::uint16_t id, const vbDNS::DNSQuestion& sent) {
  return vbDNS::CheckReply(reply, id, sent).Fit == vbDNS::ReplyFit::Matches;
}

}  // namespace fixtures
