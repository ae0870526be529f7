// The DNS message codec: message records, query construction and encoding,
// the reply parser and IPv4 address text. Portable C++20, no platform headers:
// it builds natively (sanitizers, fuzzing) and for 32-bit Windows alike.
//
// Everything here is pure and re-entrant: no thread or module state, no event
// pumping. Names and name texts are held in place in the records, so building
// and encoding a query allocate nothing, and parsing a reply allocates only
// when its answers hold more than ANSWER_DATA_IN_PLACE octets of addresses.
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

// Datagrams are octets. The records' strings (wire-form names, collected
// answer data) hold one octet per char; texts the parser produces are
// printable ASCII only.
using Packet = std::vector<std::uint8_t>;
using PacketView = std::span<const std::uint8_t>;

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

inline constexpr std::size_t HEADER_SIZE = 12;
inline constexpr std::size_t MAX_NAME_WIRE = 255;  // RFC 1035 section 2.3.4
inline constexpr std::size_t MAX_LABEL = 63;
// Longest presentation text of a name of MAX_NAME_WIRE octets: one label of
// 253 octets, each printed "\DDD". (Labels of at most 63 octets print shorter.)
inline constexpr std::size_t MAX_NAME_TEXT = 4 * (MAX_NAME_WIRE - 2);
// Longest query datagram: header, the longest name, QType and QClass.
inline constexpr std::size_t MAX_QUERY_SIZE = HEADER_SIZE + MAX_NAME_WIRE + 4;

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
// ones of queries from text; ParseReply never yields one.
struct WireName : FixedString<MAX_NAME_WIRE> {
  using FixedString::FixedString;
};

// A domain name as presentation text, as ParseReply writes it: labels joined
// by ".", no trailing dot, escapes inside a label (see ParseReply).
struct NameText : FixedString<MAX_NAME_TEXT> {
  using FixedString::FixedString;
};

// Answer data a reply collects: 4 octets per address or a name's text. Held
// in place up to ANSWER_DATA_IN_PLACE octets (253 addresses, or any name
// text), on the heap beyond that; a copy costs the octets in use either way.
inline constexpr std::size_t ANSWER_DATA_IN_PLACE = MAX_NAME_TEXT;
class AnswerData {
 public:
  AnswerData() noexcept {}
  // For fixed octets (tests, constants).
  explicit AnswerData(std::string_view octets) { append(octets); }
  AnswerData(const AnswerData& other) : size_(other.size_), heap_(other.heap_) { CopyInPlace(other); }
  AnswerData(AnswerData&& other) noexcept : size_(other.size_), heap_(std::move(other.heap_)) {
    CopyInPlace(other);
    other.Forget();
  }
  AnswerData& operator=(const AnswerData& other) {
    if (this != &other) {
      heap_ = other.heap_;
      size_ = other.size_;
      CopyInPlace(other);
    }
    return *this;
  }
  AnswerData& operator=(AnswerData&& other) noexcept {
    if (this != &other) {
      heap_ = std::move(other.heap_);
      size_ = other.size_;
      CopyInPlace(other);
      other.Forget();
    }
    return *this;
  }

  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  const char* data() const noexcept { return OnHeap() ? heap_.data() : inPlace_; }
  char* data() noexcept { return OnHeap() ? heap_.data() : inPlace_; }
  std::string_view view() const noexcept { return {data(), size_}; }
  operator std::string_view() const noexcept { return view(); }
  std::span<const std::uint8_t> octets() const noexcept {
    return {reinterpret_cast<const std::uint8_t*>(data()), size_};
  }

  void clear() noexcept {
    size_ = 0;
    heap_.clear();
  }
  // Octets up to n keep their value; new ones are unset until written. Moves
  // them to the heap and back as n crosses ANSWER_DATA_IN_PLACE.
  void resize(std::size_t n) {
    if (n <= ANSWER_DATA_IN_PLACE) {
      if (OnHeap()) {
        std::memcpy(inPlace_, heap_.data(), n);
        heap_.clear();
      }
    } else if (OnHeap()) {
      heap_.resize(n);
    } else {
      heap_.reserve(n);
      heap_.assign(inPlace_, size_);
      heap_.resize(n);
    }
    size_ = n;
  }
  void append(std::string_view octets) {
    const std::size_t at = size_;
    if (at + octets.size() <= ANSWER_DATA_IN_PLACE) size_ += octets.size();
    else resize(at + octets.size());
    if (!octets.empty()) std::memcpy(data() + at, octets.data(), octets.size());
  }

  friend bool operator==(const AnswerData& a, const AnswerData& b) noexcept { return a.view() == b.view(); }
  friend bool operator==(const AnswerData& a, std::string_view b) noexcept { return a.view() == b; }
  friend std::ostream& operator<<(std::ostream& out, const AnswerData& s) { return out << s.view(); }

 private:
  bool OnHeap() const noexcept { return size_ > ANSWER_DATA_IN_PLACE; }
  void CopyInPlace(const AnswerData& other) noexcept {
    if (!OnHeap() && size_ != 0) std::memcpy(inPlace_, other.inPlace_, size_);
  }
  // A moved-from value whose octets were on the heap is left empty.
  void Forget() noexcept {
    if (OnHeap()) size_ = 0;
    heap_.clear();
  }

  std::size_t size_ = 0;
  std::string heap_;  // holds every octet while size_ > ANSWER_DATA_IN_PLACE, else empty
  char inPlace_[ANSWER_DATA_IN_PLACE];
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

// The question of a reply, as read back: the name as presentation text.
struct DNSReplyQuestion {
  NameText QName;
  std::uint16_t QType = 0;
  std::uint16_t QClass = 0;
  friend bool operator==(const DNSReplyQuestion&, const DNSReplyQuestion&) = default;
};

struct DNSAnswer {
  // Owner, type, class, TTL and data length of the last answer read.
  NameText AName;
  std::uint16_t AType = 0;
  std::uint16_t AClass = 0;
  std::uint32_t TTL = 0;
  std::uint16_t RDLength = 0;
  // Type 1 query: the 4 octets of every IN A answer, concatenated in reply order.
  // Type 12 query: the presentation text of the last IN PTR answer's name.
  AnswerData RData;
  friend bool operator==(const DNSAnswer&, const DNSAnswer&) = default;
};

// Records are plain values, copied whole, their strings in place: a DNSQuery
// is about 270 octets, a DNSReply about 3 KiB. A copy costs the octets in use
// (about 110 instructions for a parsed reply, 36 for a query) and allocates
// only for answer data on the heap.
struct DNSQuery {
  DNSHeader Header;
  DNSQuestion Question;
  friend bool operator==(const DNSQuery&, const DNSQuery&) = default;
};

struct DNSReply {
  DNSHeader Header;
  DNSReplyQuestion Question;
  DNSAnswer Answer;
  friend bool operator==(const DNSReply&, const DNSReply&) = default;
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
// QName, at most MAX_QUERY_SIZE. Returns 0 and writes nothing when `out` is
// shorter than that. Allocates nothing; a QueryDatagram always has room:
//   vbDNS::QueryDatagram datagram;
//   const std::size_t size = vbDNS::EncodeQuery(query, id, datagram);
// (For a TCP length prefix, encode into std::span(buffer).subspan(2).)
using QueryDatagram = std::array<std::uint8_t, MAX_QUERY_SIZE>;
std::size_t EncodeQuery(const DNSQuery& query, std::uint16_t id, std::span<std::uint8_t> out) noexcept;

// The same datagram with query.Header.ID, as a new Packet.
Packet EncodeQuery(const DNSQuery& query);

// Decodes one reply datagram. nullopt when the packet is malformed: cut short in
// any field, a bad name (RFC 1035 section 4.1.4 with the RFC 9267 checks), more
// than one question, fewer answers than ANCount, an RDLength past the end.
// Names come out as presentation text: labels joined by ".", no trailing dot,
// the root as "", and inside a label "." "\" as "\." "\\" and every octet outside
// 0x21..0x7E as "\DDD". Only answers of class IN are collected into RData.
std::optional<DNSReply> ParseReply(std::uint16_t queryType, PacketView packet);

// Dotted decimal text to an address as a number, first number in bits 31..24
// (the first octet on the wire is the most significant). Accepts exactly four
// decimal numbers 0..255 (leading zeros read as decimal) and single dots.
std::optional<std::uint32_t> TextToIP(std::string_view text);
std::optional<std::uint32_t> TextToIP(std::u16string_view text);

// Dotted text of an address given as its four octets in wire order, the
// first printed first: what a type A answer's data holds.
std::string IPToText(std::span<const std::uint8_t, 4> octets);

// Whether a received datagram answers the query that went out with `id`
// (RFC 5452 section 9): at least a header, the same ID, QR set, and, when it
// carries a question, QDCount 1 and the same name (ASCII case-insensitive),
// type and class as `sentQuestion`.
bool ReplyMatchesQuery(PacketView datagram, std::uint16_t id, const DNSQuestion& sentQuestion);

}  // namespace vbDNS
