// The one builder of DNS messages for tests: each function returns the octets
// of one field or part, laid out as RFC 1035 section 4.1 has them, so a reply
// reads as the list of its parts. Codec fixtures and the lookups' tests build
// their replies from these pieces.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string_view>

#include "codec/vbdns.h"
#include "codec/wire_writer.h"

namespace vavizav::packets {

using vbDNS::Packet;

inline Packet Join(std::initializer_list<Packet> parts) {
  Packet joined;
  for (const Packet& part : parts) joined.insert(joined.end(), part.begin(), part.end());
  return joined;
}

// A 16-bit field, most significant octet first.
inline Packet U16(std::uint16_t value) {
  Packet field(2);
  vbDNS::PutU16(field, value);
  return field;
}

// RCODEs, the low four bits of Flags2 (RFC 1035 section 4.1.1, RFC 2136
// section 2.2 for 6..10).
inline constexpr std::uint8_t RCODE_NOERROR = 0;
inline constexpr std::uint8_t RCODE_FORMERR = 1;
inline constexpr std::uint8_t RCODE_SERVFAIL = 2;
inline constexpr std::uint8_t RCODE_NXDOMAIN = 3;
inline constexpr std::uint8_t RCODE_NOTIMP = 4;
inline constexpr std::uint8_t RCODE_REFUSED = 5;
inline constexpr std::uint8_t RCODE_NXRRSET = 8;

// Flags1 of a reply to a standard query with recursion desired: QR RD (0x81).
inline constexpr std::uint8_t REPLY_FLAGS1 = vbDNS::FLAG_QR | vbDNS::FLAG_RD;
// Flags2 of a reply from a recursive server: RA and `rcode` (RA NOERROR is 0x80).
constexpr std::uint8_t ReplyFlags2(std::uint8_t rcode = RCODE_NOERROR) {
  return static_cast<std::uint8_t>(vbDNS::FLAG_RA | rcode);
}

// The 12-octet header of a reply to one question with `answers` answers.
inline Packet Header(std::uint8_t answers, std::uint8_t flags2 = ReplyFlags2()) {
  return {0x30, 0x39,                    //  0 ID 12345
          REPLY_FLAGS1, flags2,          //  2 Flags1 QR RD, Flags2 (RA, low four bits RCODE)
          0x00, 0x01, 0x00, answers,     //  4 QDCount 1, ANCount
          0x00, 0x00, 0x00, 0x00};       //  8 NSCount 0, ARCount 0
}

// The header of any message: its four section counts (ID 12345, QR RD).
inline Packet MessageHeader(std::uint16_t questions, std::uint16_t answers, std::uint16_t authority,
                            std::uint16_t additional, std::uint8_t flags2 = ReplyFlags2()) {
  return Join({{0x30, 0x39, REPLY_FLAGS1, flags2},  // ID 12345, Flags1 QR RD, Flags2
               U16(questions), U16(answers), U16(authority), U16(additional)});
}

// A 32-bit field, most significant octet first.
inline Packet U32(std::uint32_t value) {
  Packet field(4);
  vbDNS::WireWriter(field).U32(value);
  return field;
}

// A character-string (RFC 1035 section 3.3): its length octet, then the octets.
inline Packet CharacterString(std::string_view octets) {
  Packet string = {static_cast<std::uint8_t>(octets.size())};
  string.insert(string.end(), octets.begin(), octets.end());
  return string;
}

// Raw octets from text, as they stand.
inline Packet Octets(std::string_view octets) { return Packet(octets.begin(), octets.end()); }

// A name in wire form: each label after its length octet, then the root (0).
inline Packet Name(std::initializer_list<std::string_view> labels) {
  std::size_t size = 1;
  for (const std::string_view label : labels) size += 1 + label.size();
  Packet name(size);
  vbDNS::WireWriter out(name);
  for (const std::string_view label : labels) {
    out.U8(static_cast<std::uint8_t>(label.size()));
    out.Bytes(label);
  }
  out.U8(0);
  return name;
}

// Longest name the builder writes: room for names past the 255 octets of
// RFC 1035, so that tests can send them.
inline constexpr std::size_t MAX_TEST_NAME = 1024;

// The same from dotted text ("host.example"; "" is the root name).
inline Packet DottedName(std::string_view dotted) {
  Packet name(MAX_TEST_NAME);
  vbDNS::WireWriter out(name);
  while (!dotted.empty()) {
    const std::size_t dot = std::min(dotted.find('.'), dotted.size());
    out.U8(static_cast<std::uint8_t>(dot));
    out.Bytes(dotted.substr(0, dot));
    dotted.remove_prefix(std::min(dot + 1, dotted.size()));
  }
  out.U8(0);
  if (!out.Ok()) throw std::length_error("packets::DottedName: over MAX_TEST_NAME octets");
  name.resize(out.Offset());
  return name;
}

// A compression pointer: the two top bits set, then the 14-bit offset.
inline Packet Pointer(std::size_t offset) { return U16(static_cast<std::uint16_t>(0xC000 | offset)); }

// A question of class IN.
inline Packet Question(const Packet& name, std::uint16_t type) { return Join({name, U16(type), U16(vbDNS::CLASS_IN)}); }

// A resource record (class IN unless given) around the given owner and data.
inline Packet Record(const Packet& owner, std::uint16_t type, const Packet& data, std::uint32_t ttl = 60,
                     std::uint16_t rrClass = vbDNS::CLASS_IN) {
  return Join({owner,                                         // owner name
               U16(type), U16(rrClass),                       // type, class
               U16(static_cast<std::uint16_t>(ttl >> 16)),    // TTL
               U16(static_cast<std::uint16_t>(ttl)),
               U16(static_cast<std::uint16_t>(data.size())),  // RDLength
               data});
}

// An EDNS(0) OPT record (RFC 6891 section 6.1.2): root owner, the UDP size in
// CLASS, extended RCODE, version and flags in TTL, the options as data.
inline Packet Opt(std::uint16_t udpSize, std::uint8_t extendedRcode = 0, std::uint8_t version = 0,
                  std::uint16_t flags = 0, const Packet& options = {}) {
  return Record(Name({}), 41, options,
                static_cast<std::uint32_t>(extendedRcode) << 24 | static_cast<std::uint32_t>(version) << 16 | flags,
                udpSize);
}

}  // namespace vavizav::packets
