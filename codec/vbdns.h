// The DNS message codec: query records, query construction and encoding, the
// reply check of the exchange, name text and IPv4 address text. Replies are
// read by ReadMessage (message.h). Portable C++20, no platform headers: it
// builds natively (sanitizers, fuzzing) and for 32-bit Windows alike.
//
// Everything here is pure and re-entrant: no thread or module state, no event
// pumping. Names are held in place in the records, so building and encoding a
// query allocate nothing.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iosfwd>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vbDNS {

// Datagrams are octets. Wire-form names hold one octet per char; name texts
// are printable ASCII only.
using Packet = std::vector<std::uint8_t>;
using PacketView = std::span<const std::uint8_t>;

namespace detail {
// Each octet value's decimal digits without leading zeros after their count
// (1 to 3), padded to 4 characters: the labels of a reverse name in wire
// form (query.cpp) and the parts of dotted address text (PutIPText).
inline constexpr auto DECIMAL_OCTETS = [] {
  std::array<std::array<char, 4>, 256> table{};
  for (unsigned value = 0; value < 256; ++value) {
    std::array<char, 4>& digits = table[value];
    std::size_t count = 0;
    if (value >= 100) digits[++count] = static_cast<char>('0' + value / 100);
    if (value >= 10) digits[++count] = static_cast<char>('0' + value / 10 % 10);
    digits[++count] = static_cast<char>('0' + value % 10);
    digits[0] = static_cast<char>(count);
  }
  return table;
}();
}  // namespace detail

// Identifier BuildQuery puts in every query record. The exchange sends a fresh
// random one instead (RFC 5452 section 9.2), handed to EncodeQuery.
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
// Flags2's Z bits, as RFC 4035 section 3.2 and RFC 6840 section 5.7 use them:
// AD, the resolver validated the data; CD, the client asks for no checking.
inline constexpr std::uint8_t FLAG_AD = 0x20;
inline constexpr std::uint8_t FLAG_CD = 0x10;

inline constexpr std::size_t HEADER_SIZE = 12;
inline constexpr std::size_t MAX_NAME_WIRE = 255;  // RFC 1035 section 2.3.4
inline constexpr std::size_t MAX_LABEL = 63;
// Longest presentation text of a name of MAX_NAME_WIRE octets: one label of
// 253 octets, each printed "\DDD". (Labels of at most 63 octets print shorter.)
inline constexpr std::size_t MAX_NAME_TEXT = 4 * (MAX_NAME_WIRE - 2);
// Longest query datagram without EDNS: header, the longest name, QType and QClass.
inline constexpr std::size_t MAX_QUERY_SIZE = HEADER_SIZE + MAX_NAME_WIRE + 4;
// An OPT record without options (RFC 6891 section 6.1.2): the root, type,
// UDP size, extended RCODE and flags, and an empty data length.
inline constexpr std::size_t OPT_RECORD_SIZE = 11;
inline constexpr std::uint16_t EDNS_UDP_SIZE = 1232;  // what fits unfragmented on the paths of today
inline constexpr std::uint16_t EDNS_FLAG_DO = 0x8000;

// A byte string of at most Capacity octets held inside the object: no
// allocation ever, and a copy costs the octets in use, not the capacity. A
// write that would not fit changes nothing and returns false.
template <std::size_t Capacity>
class FixedString {
  static_assert(Capacity <= 0xFFFF);

 public:
  // Empty. The octets past size() are left unset (never read), so that a
  // record holding several of these costs nothing to create.
  FixedString() noexcept {}
  // For fixed texts (tests, constants); std::length_error when over capacity.
  explicit FixedString(std::string_view octets) {
    if (!assign(octets)) throw std::length_error("vbDNS::FixedString: over capacity");
  }
  FixedString(const FixedString& other) noexcept : size_(other.size_) { CopyFrom(other); }
  FixedString& operator=(const FixedString& other) noexcept {
    size_ = other.size_;
    if (this != &other) CopyFrom(other);
    return *this;
  }

  static constexpr std::size_t capacity() noexcept { return Capacity; }
  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  const char* data() const noexcept { return octets_; }
  char* data() noexcept { return octets_; }
  const char* begin() const noexcept { return octets_; }
  const char* end() const noexcept { return octets_ + size_; }
  char operator[](std::size_t i) const noexcept { return octets_[i]; }
  std::string_view view() const noexcept { return {octets_, size_}; }
  operator std::string_view() const noexcept { return view(); }

  void clear() noexcept { size_ = 0; }
  // Octets up to n keep their value; new ones are unset until written.
  bool resize(std::size_t n) noexcept {
    if (n > Capacity) return false;
    size_ = static_cast<std::uint16_t>(n);
    return true;
  }
  bool assign(std::string_view octets) noexcept {
    if (octets.size() > Capacity) return false;
    size_ = static_cast<std::uint16_t>(octets.size());
    if (size_ != 0) std::memcpy(octets_, octets.data(), size_);
    return true;
  }
  bool append(std::string_view octets) noexcept {
    if (octets.size() > Capacity - size_) return false;
    if (!octets.empty()) std::memcpy(octets_ + size_, octets.data(), octets.size());
    size_ = static_cast<std::uint16_t>(size_ + octets.size());
    return true;
  }

  friend bool operator==(const FixedString& a, const FixedString& b) noexcept { return a.view() == b.view(); }
  friend bool operator==(const FixedString& a, std::string_view b) noexcept { return a.view() == b; }
  friend std::ostream& operator<<(std::ostream& out, const FixedString& s) { return out << s.view(); }

 private:
  void CopyFrom(const FixedString& other) noexcept {
    if (size_ != 0) std::memcpy(octets_, other.octets_, size_);
  }

  std::uint16_t size_ = 0;
  char octets_[Capacity];
};

// A domain name in wire form: length-prefixed labels and the final zero
// octet, exactly the octets sent (RFC 1035 section 3.1). BuildQuery makes the
// ones of queries from text; NameWire (message.h) reads one from a reply.
struct WireName : FixedString<MAX_NAME_WIRE> {
  using FixedString::FixedString;
};

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

// The question of a query: the name in wire form, exactly as it goes out.
struct DNSQuestion {
  WireName QName;
  std::uint16_t QType = 0;
  std::uint16_t QClass = 0;
  friend bool operator==(const DNSQuestion&, const DNSQuestion&) = default;
};

// A query is a plain value, copied whole, its name in place (about 270
// octets; docs/performance.md has the measured costs). A copy costs the
// octets in use and never allocates.
struct DNSQuery {
  DNSHeader Header;
  DNSQuestion Question;
  // EDNS(0): the UDP size an OPT record offers; 0 sends none. DnssecOk sets
  // the OPT record's DO bit (RFC 3225).
  std::uint16_t EdnsUdpSize = 0;
  bool DnssecOk = false;
  friend bool operator==(const DNSQuery&, const DNSQuery&) = default;
};

// The server's verdict, all four RCODE bits: 0 is NOERROR, anything else a failure.
constexpr bool RCodeIsNoError(std::uint8_t flags2) noexcept { return (flags2 & RCODE_MASK) == 0; }

// Forward (TYPE_A): `name` is a host name in octets. Reverse (TYPE_PTR): `name` is
// dotted IPv4 text and becomes d.c.b.a.in-addr.arpa. Refused (nullopt): an empty
// name, an empty label, a label over 63 octets, a name over 255 octets in wire
// form, reverse text that TextToIP rejects, any other query type. One trailing dot
// is allowed and marks the name fully qualified. Allocates nothing.
std::optional<DNSQuery> BuildQuery(std::uint16_t queryType, std::string_view name);
// The same from automation text: refused as well when a character is not one octet.
std::optional<DNSQuery> BuildQuery(std::uint16_t queryType, std::u16string_view name);

// A question of any type for the second class: `type` 1..65535, class IN, RD
// set, ID QUERY_ID, `asciiName` as given (no reverse conversion, no escapes;
// one trailing dot allowed; "." alone is the root). Refused as BuildQuery
// refuses a name, and for type 0. Allocates nothing.
std::optional<DNSQuery> BuildQuestion(std::uint16_t type, std::string_view asciiName);

// The reverse-lookup name of address text, without a trailing dot: IPv4
// dotted text (as TextToIP takes it) gives "4.3.2.1.in-addr.arpa", IPv6 text
// (RFC 4291 section 2.2, a dotted IPv4 tail included) the 32 nibbles under
// ip6.arpa (RFC 3596 section 2.5). Empty when the text is neither.
std::string ReverseName(std::string_view address);

// Writes the query datagram into `out` and returns its length: header (with
// `id` in place of query.Header.ID, so the exchange sends its own random ID
// and the record keeps QUERY_ID), QName as held, QType, QClass; 16 octets plus
// QName, at most MAX_QUERY_SIZE; then, when EdnsUdpSize is set, an OPT record
// in the additional section (ARCount one more than the header's), 11 octets
// more. Returns 0 and writes nothing when `out` is shorter than that.
// Allocates nothing; a QueryDatagram always has room:
//   vbDNS::QueryDatagram datagram;
//   const std::size_t size = vbDNS::EncodeQuery(query, id, datagram);
// (For a TCP length prefix, encode into std::span(buffer).subspan(2).)
using QueryDatagram = std::array<std::uint8_t, MAX_QUERY_SIZE + OPT_RECORD_SIZE>;
std::size_t EncodeQuery(const DNSQuery& query, std::uint16_t id, std::span<std::uint8_t> out) noexcept;

// The same datagram with query.Header.ID, as a new Packet.
Packet EncodeQuery(const DNSQuery& query);

// How a name prints as presentation text (RFC 1035 section 5.1). Both
// styles escape the same way from one table: inside a label "." and "\"
// take a backslash and every octet outside 0x21..0x7E is written "\DDD".
//  - Zone, as dig prints names: absolute with the final dot, the root ".",
//    and '"' "(" ")" ";" "@" "$" take a backslash too (NameTextOf).
//  - Host, as the first class returns a host name: labels joined by ".", no
//    final dot, the root "", and the zone-file characters stand as they are.
enum class NameStyle : std::uint8_t { Zone, Host };

// The zone-style text of a validated name in uncompressed wire form (labels
// and the final zero, as WireName holds it). "" when `wire` is not one.
std::string WireNameText(std::string_view wire);

// Dotted decimal text as a number, first number in bits 31..24
// (the first octet on the wire is the most significant). Accepts exactly four
// decimal numbers 0..255 (leading zeros read as decimal) and single dots.
std::optional<std::uint32_t> TextToIP(std::string_view text);
std::optional<std::uint32_t> TextToIP(std::u16string_view text);

// Dotted text of an address given as its four octets in wire order, the
// first printed first: what a type A answer's data holds.
std::string IPToText(std::span<const std::uint8_t, 4> octets);
// The same written at `out`, which has room for MAX_IPV4_TEXT characters;
// returns the end. Allocates nothing.
inline constexpr std::size_t MAX_IPV4_TEXT = 15;  // "255.255.255.255"
char* PutIPText(char* out, std::span<const std::uint8_t, 4> octets) noexcept;

}  // namespace vbDNS
