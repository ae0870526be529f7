// The DNS message codec: message records, query construction and encoding,
// the reply parser and IPv4 address text. Portable C++20, no platform headers:
// it builds natively (sanitizers, fuzzing) and for 32-bit Windows alike.
//
// Everything here is pure and re-entrant: no thread or module state, no event
// pumping, no allocation beyond the records' own strings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vbDNS {

// Byte strings hold one octet per char (datagrams, wire-form names, collected
// answer data). Texts the parser produces are printable ASCII only.
using ByteString = std::string;
using Packet = std::vector<std::uint8_t>;
using PacketView = std::span<const std::uint8_t>;

// Identifier BuildQuery puts in every query record. The exchange replaces it on
// the wire by a fresh random one (RFC 5452 section 9.2).
inline constexpr std::uint16_t QUERY_ID = 12345;

inline constexpr std::uint16_t TYPE_A = 1;
inline constexpr std::uint16_t TYPE_CNAME = 5;
inline constexpr std::uint16_t TYPE_PTR = 12;
inline constexpr std::uint16_t CLASS_IN = 1;

// Flags1: QR 0x80, Opcode 0x78, AA 0x04, TC 0x02, RD 0x01.
// Flags2: RA 0x80, Z 0x70, RCODE 0x0F.
inline constexpr std::uint8_t FLAG_QR = 0x80;
inline constexpr std::uint8_t FLAG_OPCODE = 0x78;
inline constexpr std::uint8_t FLAG_AA = 0x04;
inline constexpr std::uint8_t FLAG_TC = 0x02;
inline constexpr std::uint8_t FLAG_RD = 0x01;
inline constexpr std::uint8_t FLAG_RA = 0x80;
inline constexpr std::uint8_t FLAG_Z = 0x70;
inline constexpr std::uint8_t RCODE_MASK = 0x0F;

inline constexpr std::size_t HEADER_SIZE = 12;
inline constexpr std::size_t MAX_NAME_WIRE = 255;  // RFC 1035 section 2.3.4
inline constexpr std::size_t MAX_LABEL = 63;

struct DNSHeader {
  std::uint16_t ID = 0;
  std::uint8_t Flags1 = 0;
  std::uint8_t Flags2 = 0;
  std::uint16_t QDCount = 0;
  std::uint16_t ANCount = 0;
  std::uint16_t NSCount = 0;
  std::uint16_t ARCount = 0;
  friend bool operator==(const DNSHeader&, const DNSHeader&) = default;
};

struct DNSQuestion {
  // Query: the name in wire form (length-prefixed labels, final zero octet).
  // Reply: the name as presentation text (see ParseReply).
  ByteString QName;
  std::uint16_t QType = 0;
  std::uint16_t QClass = 0;
  friend bool operator==(const DNSQuestion&, const DNSQuestion&) = default;
};

struct DNSAnswer {
  // Owner, type, class, TTL and data length of the last answer read.
  ByteString AName;
  std::uint16_t AType = 0;
  std::uint16_t AClass = 0;
  std::uint32_t TTL = 0;
  std::uint16_t RDLength = 0;
  // Type 1 query: the 4 octets of every IN A answer, concatenated in reply order.
  // Type 12 query: the presentation text of the last PTR answer's name.
  ByteString RData;
  friend bool operator==(const DNSAnswer&, const DNSAnswer&) = default;
};

struct DNSQuery {
  DNSHeader Header;
  DNSQuestion Question;
  friend bool operator==(const DNSQuery&, const DNSQuery&) = default;
};

struct DNSReply {
  DNSHeader Header;
  DNSQuestion Question;
  DNSAnswer Answer;
  friend bool operator==(const DNSReply&, const DNSReply&) = default;
};

// The server's verdict, all four RCODE bits: 0 is NOERROR, anything else a failure.
constexpr bool RCodeIsNoError(std::uint8_t flags2) noexcept { return (flags2 & RCODE_MASK) == 0; }

// Forward (TYPE_A): `name` is a host name in octets. Reverse (TYPE_PTR): `name` is
// dotted IPv4 text and becomes d.c.b.a.in-addr.arpa. Refused (nullopt): an empty
// name, an empty label, a label over 63 octets, a name over 255 octets in wire
// form, reverse text that TextToIP rejects, any other query type. One trailing dot
// is allowed and marks the name fully qualified.
std::optional<DNSQuery> BuildQuery(std::uint16_t queryType, std::string_view name);
// The same from automation text: refused as well when a character is not one octet.
std::optional<DNSQuery> BuildQuery(std::uint16_t queryType, std::u16string_view name);

// The datagram: header, QName as held, QType, QClass; 16 octets plus QName.
Packet EncodeQuery(const DNSQuery& query);

// Decodes one reply datagram. nullopt when the packet is malformed: cut short in
// any field, a bad name (RFC 1035 section 4.1.4 with the RFC 9267 checks), more
// than one question, fewer answers than ANCount, an RDLength past the end.
// Names come out as presentation text: labels joined by ".", no trailing dot,
// the root as "", and inside a label "." "\" as "\." "\\" and every octet outside
// 0x21..0x7E as "\DDD".
std::optional<DNSReply> ParseReply(std::uint16_t queryType, PacketView packet);

// Dotted decimal text to an address, first number in bits 31..24. Accepts exactly
// four decimal numbers 0..255 (leading zeros read as decimal) and single dots.
std::optional<std::uint32_t> TextToIP(std::string_view text);
std::optional<std::uint32_t> TextToIP(std::u16string_view text);

// Dotted text of a 32-bit value, least significant octet first: the form in which
// 4 answer octets loaded little-endian print in wire order.
std::string IPToText(std::uint32_t value);

// Loads 4 octets little-endian (first octet least significant), as IPToText takes them.
constexpr std::uint32_t LoadLittleEndian32(const char* four) noexcept {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(four[0])) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(four[1])) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(four[2])) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(four[3])) << 24;
}

// Whether a received datagram answers the query that went out with `id`
// (RFC 5452 section 9): at least a header, the same ID, QR set, and, when it
// carries a question, QDCount 1 and the same name (ASCII case-insensitive),
// type and class as `sentQuestion` (the query record's wire-form QName).
bool ReplyMatchesQuery(PacketView datagram, std::uint16_t id, const DNSQuestion& sentQuestion);

}  // namespace vbDNS
