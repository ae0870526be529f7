// The fixtures of the codec benchmark: the replies every library parses and
// the queries every library builds, with what each must find in them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "codec/vbdns.h"
#include "packets.h"

namespace codec_bench {

// ---------------------------------------------------------------------------
// Reply fixtures, as a recursive server sends them. Offsets are from the start
// of the message; compression pointers are C0 followed by the offset.

// (1) www.example.com A: one address.
inline constexpr std::uint8_t ONE_A[] = {
    // Header: ID 12345, QR RD / RA NOERROR, QD 1, AN 1, NS 0, AR 0.
    0x30, 0x39, 0x81, 0x80, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,
    // @12 question: www.example.com (example.com @16), type A, class IN.
    3, 'w', 'w', 'w', 7, 'e', 'x', 'a', 'm', 'p', 'l', 'e', 3, 'c', 'o', 'm', 0,
    0x00, 0x01, 0x00, 0x01,
    // @33 answer: ->@12, A, IN, TTL 3600, RDLength 4, 192.0.2.1.
    0xC0, 0x0C, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x0E, 0x10, 0x00, 0x04,
    192, 0, 2, 1,
};

// (2) www.example.com A: a CNAME to cdn.example.com, then four addresses of it.
inline constexpr std::uint8_t CNAME_FOUR_A[] = {
    // Header: ID 12345, QR RD / RA NOERROR, QD 1, AN 5, NS 0, AR 0.
    0x30, 0x39, 0x81, 0x80, 0x00, 0x01, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00,
    // @12 question: www.example.com (example.com @16), type A, class IN.
    3, 'w', 'w', 'w', 7, 'e', 'x', 'a', 'm', 'p', 'l', 'e', 3, 'c', 'o', 'm', 0,
    0x00, 0x01, 0x00, 0x01,
    // @33 answer: ->@12, CNAME, IN, TTL 300, RDLength 6,
    //     @45 cdn + ->@16 (cdn.example.com).
    0xC0, 0x0C, 0x00, 0x05, 0x00, 0x01, 0x00, 0x00, 0x01, 0x2C, 0x00, 0x06,
    3, 'c', 'd', 'n', 0xC0, 0x10,
    // @51, @67, @83, @99 answers: ->@45, A, IN, TTL 60, RDLength 4, 198.51.100.10..13.
    0xC0, 0x2D, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x3C, 0x00, 0x04,
    198, 51, 100, 10,
    0xC0, 0x2D, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x3C, 0x00, 0x04,
    198, 51, 100, 11,
    0xC0, 0x2D, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x3C, 0x00, 0x04,
    198, 51, 100, 12,
    0xC0, 0x2D, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x3C, 0x00, 0x04,
    198, 51, 100, 13,
};

// (3) 1.2.0.192.in-addr.arpa PTR: the owner compressed, host.example.com.
inline constexpr std::uint8_t PTR_REPLY[] = {
    // Header: ID 12345, QR RD / RA NOERROR, QD 1, AN 1, NS 0, AR 0.
    0x30, 0x39, 0x81, 0x80, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,
    // @12 question: 1.2.0.192.in-addr.arpa, type PTR, class IN.
    1, '1', 1, '2', 1, '0', 3, '1', '9', '2', 7, 'i', 'n', '-', 'a', 'd', 'd', 'r',
    4, 'a', 'r', 'p', 'a', 0, 0x00, 0x0C, 0x00, 0x01,
    // @40 answer: ->@12, PTR, IN, TTL 86400, RDLength 18, host.example.com.
    0xC0, 0x0C, 0x00, 0x0C, 0x00, 0x01, 0x00, 0x01, 0x51, 0x80, 0x00, 0x12,
    4, 'h', 'o', 's', 't', 7, 'e', 'x', 'a', 'm', 'p', 'l', 'e', 3, 'c', 'o', 'm', 0,
};

// What every library must find in them.
inline const std::vector<std::string> ONE_A_ADDRESSES = {"192.0.2.1"};
inline const std::vector<std::string> CNAME_FOUR_A_ADDRESSES = {"198.51.100.10", "198.51.100.11", "198.51.100.12",
                                                       "198.51.100.13"};
inline constexpr std::string_view PTR_NAME = "host.example.com";
inline constexpr std::uint8_t PTR_ADDRESS[4] = {192, 0, 2, 1};

// The queries: the name a caller hands over, and for the reverse query the
// address text it starts from.
inline constexpr const char* QUERY_NAME = "www.example.com";
inline constexpr const char* REVERSE_TEXT = "192.0.2.1";
inline constexpr std::uint16_t BENCH_QUERY_ID = vbDNS::QUERY_ID;

// ---------------------------------------------------------------------------
// Whole replies, every record typed, for the read_ and text_ rows (the
// whole-reply reader against c-ares's per-type parsers and ldns_wire2pkt).
// Built with the packet builder, annotated by its parts.

namespace p = vavizav::packets;

// (4) example.com ANY: 3 MX, 3 TXT, 3 SRV, 3 NS, every name compressed into
// the question (@12).
inline const vbDNS::Packet MIX12 = [] {
  const auto own = p::Pointer(12);
  const auto host = [&](std::string_view label) { return p::Join({p::CharacterString(label), p::Pointer(12)}); };
  return p::Join({
      p::MessageHeader(1, 12, 0, 0),                        // QD 1, AN 12
      p::Question(p::DottedName("example.com"), 255),       // @12 example.com ANY
      p::Record(own, 15, p::Join({p::U16(10), host("mx1")}), 3600),  // MX 10 mx1.example.com.
      p::Record(own, 15, p::Join({p::U16(20), host("mx2")}), 3600),
      p::Record(own, 15, p::Join({p::U16(30), host("mx3")}), 3600),
      p::Record(own, 16, p::CharacterString("v=spf1 include:_spf.example.com ~all"), 300),  // TXT
      p::Record(own, 16, p::CharacterString("site-verification=0123456789abcdef0123456789abcdef"), 300),
      p::Record(own, 16, p::Join({p::CharacterString("hello"), p::CharacterString("world")}), 300),
      p::Record(own, 33, p::Join({p::U16(10), p::U16(60), p::U16(5060), host("sip1")}), 600),  // SRV
      p::Record(own, 33, p::Join({p::U16(10), p::U16(40), p::U16(5060), host("sip2")}), 600),
      p::Record(own, 33, p::Join({p::U16(20), p::U16(0), p::U16(5061), host("sip3")}), 600),
      p::Record(own, 2, host("ns1"), 86400),                                                    // NS
      p::Record(own, 2, host("ns2"), 86400),
      p::Record(own, 2, host("ns3"), 86400),
  });
}();

// (5) nothere.example.com A: NXDOMAIN, the zone's SOA in the authority
// section, its names compressed into the question (example.com @20).
inline const vbDNS::Packet NXDOMAIN_SOA = p::Join({
    p::MessageHeader(1, 0, 1, 0, 0x83),                     // NXDOMAIN, QD 1, NS 1
    p::Question(p::DottedName("nothere.example.com"), 1),   // @12; example.com @20
    p::Record(p::Pointer(20), 6,                            // example.com SOA
              p::Join({p::CharacterString("ns1"), p::Pointer(20),         // ns1.example.com.
                       p::CharacterString("hostmaster"), p::Pointer(20),  // hostmaster.example.com.
                       p::U32(2026120801), p::U32(7200), p::U32(3600), p::U32(1209600), p::U32(300)}),
              300),
});

// (6) www.example.com A: 40 addresses, owners compressed (@12).
inline const vbDNS::Packet FORTY_A = [] {
  vbDNS::Packet packet = p::Join({p::MessageHeader(1, 40, 0, 0), p::Question(p::DottedName("www.example.com"), 1)});
  for (std::uint8_t i = 1; i <= 40; ++i) packet = p::Join({packet, p::Record(p::Pointer(12), 1, {198, 51, 100, i})});
  return packet;
}();

}  // namespace codec_bench
