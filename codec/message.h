// The reply reader: every record of every section, typed, and the
// presentation text dig prints for it. Both classes read replies here: the
// second whole, the first class's lookups in the narrower ReadScope below.
//
// Reading and text are separate steps. ReadMessage checks the whole message
// and records where each record and each name inside a record's data starts;
// it makes no text and copies no octet. NameTextOf, DataText and Fields read
// those places again when asked, so a script that wants three records of a
// forty-record reply pays text for three.
//
// Soundness. Every read is bounded by the message and by the record's
// RDLENGTH. A record whose data does not fit its type's layout (cut short,
// octets left over, a name running past RDLENGTH, a compression pointer where
// none is allowed) makes the whole message malformed: ReadMessage returns
// nullopt and no record of it is handed out, as dig refuses such a message.
// Where the RFCs leave a minimum open the layouts follow dig: TXT and SPF hold
// one string or more, a CAA tag is 1 or more letters and digits, TLSA data and
// a DS digest of an unknown type 1 octet or more, a DS digest of type 1, 2, 4
// and an SSHFP fingerprint of type 1, 2 exactly their digest's length.
//
// Compressed names inside RDATA (RFC 3597 section 4). Followed in the typed
// types that hold names as dig follows them: NS, CNAME, PTR, MX, SOA (RFC
// 1035), SRV and NAPTR (RFC 3597 names them, as old servers compress them),
// and DNAME, NSEC's next name and the SVCB/HTTPS target, which RFC 6672, RFC
// 4034 and RFC 9460 say are not to be sent compressed but which dig reads
// compressed: refusing them would refuse whole replies dig shows. RRSIG's
// signer name must stand uncompressed, as dig has it. The pointers obey the
// rules of every name (backwards only, at most 128, 255 octets). Untyped data
// is octets and never looked into for names.
//
// Types read into fields: each type with a row in record_table.h, which
// declares its layout once: A, AAAA, NS, CNAME, DNAME, PTR, MX, TXT, SPF, SRV,
// SOA, CAA, NAPTR, HINFO, SSHFP, TLSA, DS, and SVCB, HTTPS, URI, DNSKEY,
// CDNSKEY, CDS, RRSIG, NSEC, NSEC3, NSEC3PARAM, OPENPGPKEY, SMIMEA, LOC. A,
// AAAA, SRV, NAPTR, SVCB and HTTPS are defined for class IN only; in any other
// class, for LOC of a version other than 0, and for every other type, the
// data stays octets and prints as RFC 3597's "\# LEN HEX". Where the RFCs
// leave a check open the rows follow dig's: keys, signatures and OPENPGPKEY
// of 1 octet or more, a SHA-1 NSEC3 hash of 20 octets, an NSEC bitmap of one
// window at least, the keys SVCB's mandatory lists present in the record.
// (dig also refuses an NSEC3 whose owner does not start with a base32hex
// label; this reader reads it.)
//
// An OPT record (EDNS(0), RFC 6891) is read as metadata (Edns()) and never
// listed: it must stand in the additional section, once, with the root as
// owner, and its options must fill its data exactly.
//
// Octets after the last record the header counts are ignored.
//
// Allocation: a message of at most RECORDS_IN_PLACE records (OPT excluded)
// keeps them inside the Message and reading it allocates nothing. More records
// go to the heap, one allocation, sized by what the packet can hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "codec/record_table.h"
#include "codec/vbdns.h"

namespace vbDNS {

inline constexpr std::uint16_t TYPE_NS = 2;
inline constexpr std::uint16_t TYPE_SOA = 6;
inline constexpr std::uint16_t TYPE_HINFO = 13;
inline constexpr std::uint16_t TYPE_MX = 15;
inline constexpr std::uint16_t TYPE_TXT = 16;
inline constexpr std::uint16_t TYPE_AAAA = 28;
inline constexpr std::uint16_t TYPE_LOC = 29;
inline constexpr std::uint16_t TYPE_SRV = 33;
inline constexpr std::uint16_t TYPE_NAPTR = 35;
inline constexpr std::uint16_t TYPE_DNAME = 39;
inline constexpr std::uint16_t TYPE_OPT = 41;
inline constexpr std::uint16_t TYPE_DS = 43;
inline constexpr std::uint16_t TYPE_SSHFP = 44;
inline constexpr std::uint16_t TYPE_RRSIG = 46;
inline constexpr std::uint16_t TYPE_NSEC = 47;
inline constexpr std::uint16_t TYPE_DNSKEY = 48;
inline constexpr std::uint16_t TYPE_NSEC3 = 50;
inline constexpr std::uint16_t TYPE_NSEC3PARAM = 51;
inline constexpr std::uint16_t TYPE_TLSA = 52;
inline constexpr std::uint16_t TYPE_SMIMEA = 53;
inline constexpr std::uint16_t TYPE_CDS = 59;
inline constexpr std::uint16_t TYPE_CDNSKEY = 60;
inline constexpr std::uint16_t TYPE_OPENPGPKEY = 61;
inline constexpr std::uint16_t TYPE_SVCB = 64;
inline constexpr std::uint16_t TYPE_HTTPS = 65;
inline constexpr std::uint16_t TYPE_SPF = 99;
inline constexpr std::uint16_t TYPE_URI = 256;
inline constexpr std::uint16_t TYPE_CAA = 257;

// Longest DNS message (the 16-bit length of RFC 1035 section 4.2.2 over TCP).
inline constexpr std::size_t MAX_MESSAGE_SIZE = 65535;

// Records a Message holds without allocating.
inline constexpr std::size_t RECORDS_IN_PLACE = 64;

enum class Section : std::uint8_t { Answer, Authority, Additional };

// EDNS(0) metadata from an OPT record (never listed as a record).
struct EdnsInfo {
  std::uint16_t UdpSize = 0;       // the OPT record's CLASS
  std::uint8_t ExtendedRcode = 0;  // upper 8 bits of the 12-bit RCODE
  std::uint8_t Version = 0;
  std::uint16_t Flags = 0;  // DO is 0x8000
  // Where the options lie in the message (each a code, a length, its data).
  std::uint16_t OptionsOffset = 0, OptionsLength = 0;
  friend bool operator==(const EdnsInfo&, const EdnsInfo&) = default;
};

// Where a validated name starts in the message (its first label or pointer);
// read through the Message it came from.
struct NameRef {
  std::uint16_t Offset = 0;
  friend bool operator==(const NameRef&, const NameRef&) = default;
};

// One record as read: where its parts lie in the message. Cheap to copy, no
// heap. The typed form is the checked layout of its type plus where the names
// inside its data start; the fixed fields are read from the data when asked.
struct ResourceRecord {
  NameRef Owner;
  std::uint16_t Type = 0, Class = 0;
  std::uint32_t TTL = 0;
  std::uint16_t RDataOffset = 0, RDataLength = 0;
  // Names inside the data, in the order they stand (the first two): the
  // target of NS, CNAME, DNAME, PTR, the MX exchange, the SRV and SVCB
  // target, SOA MNAME then RNAME, the NAPTR replacement, RRSIG's signer,
  // NSEC's next name. Offset 0 (the header) when there is none.
  NameRef DataNames[2];
  // Whether the data was read into its type's fields (false: octets only).
  bool Typed = false;
};

class Message {
 public:
  Message() noexcept : count_(0) {}
  Message(const Message& other);
  Message& operator=(const Message& other);
  Message(Message&& other) noexcept;
  Message& operator=(Message&& other) noexcept;
  ~Message() = default;

  const DNSHeader& Header() const noexcept { return header_; }
  bool HasQuestion() const noexcept { return header_.QDCount == 1; }
  NameRef QuestionName() const noexcept { return questionName_; }
  std::uint16_t QuestionType() const noexcept { return questionType_; }
  std::uint16_t QuestionClass() const noexcept { return questionClass_; }
  const std::optional<EdnsInfo>& Edns() const noexcept { return edns_; }
  // The 4 header bits, plus the OPT record's extended bits above them (12 bits).
  std::uint16_t Rcode() const noexcept;
  std::span<const ResourceRecord> Records(Section section) const noexcept;
  // Every record (OPT excluded), answer, authority, additional in order.
  std::span<const ResourceRecord> AllRecords() const noexcept { return {Data(), count_}; }
  PacketView Packet() const noexcept { return packet_; }

 private:
  friend std::optional<Message> ReadMessage(PacketView packet);
// A temporary Packet would be gone before the Message is used.
std::optional<Message> ReadMessage(vbDNS::Packet&& packet) = delete;
  friend struct MessageBuilder;

  const ResourceRecord* Data() const noexcept { return heap_.empty() ? slots_.records : heap_.data(); }
  ResourceRecord* Data() noexcept { return heap_.empty() ? slots_.records : heap_.data(); }

  // The in-place records are left unset until written: a Message costs no
  // clearing of RECORDS_IN_PLACE records before it is read into.
  union Slots {
    Slots() noexcept {}
    ResourceRecord records[RECORDS_IN_PLACE];
  };

  PacketView packet_;
  DNSHeader header_;
  NameRef questionName_;
  std::uint16_t questionType_ = 0, questionClass_ = 0;
  std::optional<EdnsInfo> edns_;
  std::uint32_t count_;
  std::uint32_t sectionEnd_[3] = {0, 0, 0};  // end index of answer, authority, additional
  std::vector<ResourceRecord> heap_;        // every record when over RECORDS_IN_PLACE, else empty
  Slots slots_;
};

// Reads the whole message. nullopt: malformed as a whole (shorter than a
// header, longer than MAX_MESSAGE_SIZE, more than one question, a bad name, fewer records than counted, any
// record's data not matching its type's layout, a misplaced or second OPT).
// The Message views `packet`: the caller keeps the octets alive.
std::optional<Message> ReadMessage(PacketView packet);
// A temporary Packet would be gone before the Message is used.
std::optional<Message> ReadMessage(vbDNS::Packet&& packet) = delete;

// How much of a reply a read takes in. Whole: all of it, as above.
// AnswerOctets: what the first class's lookups have always taken from a reply
// (their outcomes are pinned by tests/resolver/lookup_golden_tests): the
// header, at most one question, and the answer section's records, each
// checked as an owner name, TYPE to RDLENGTH and data inside the message. The
// data is not read by type (every record untyped, DataNames unset), an OPT
// there is a record like any other, and the authority and additional
// sections are not read, their counts not checked (Records gives them empty).
// A message over MAX_MESSAGE_SIZE is refused in both.
enum class ReadScope : std::uint8_t { Whole, AnswerOctets };
std::optional<Message> ReadMessage(PacketView packet, ReadScope scope);
std::optional<Message> ReadMessage(vbDNS::Packet&& packet, ReadScope scope) = delete;

// The text of the name at the start of a record's data (as PTR, CNAME and
// NS data hold one) in the style given (NameStyle, vbdns.h), appended to
// `out`: its own octets must lie within RDLENGTH (octets after it are not
// looked at), its pointers may lead anywhere before the data. False, `out`
// unchanged, when it is no valid name. For records whose data a read left
// as octets; the first class's reverse lookup takes its host name here.
bool AppendDataName(const Message& message, const ResourceRecord& record, NameStyle style, std::string& out);

// Presentation text, made only when asked, as dig +noall +answer +nosplit
// prints it.
// A name: absolute with the trailing dot, the root ".". Inside a label "." "\"
// '"' "(" ")" ";" are escaped with a backslash, every octet outside
// 0x21..0x7E is written \DDD.
std::string NameTextOf(const Message& message, NameRef name);
// A name's uncompressed wire form.
WireName NameWire(const Message& message, NameRef name);
// A record's data column. Character-strings quoted, '"' and '\' escaped with a
// backslash and octets outside 0x20..0x7E written \DDD; AAAA in RFC 5952 form
// (with a dotted IPv4 tail for ::a.b.c.d and ::ffff:a.b.c.d, as dig prints
// them); hex upper-case and base64 unsplit; RRSIG's times as YYYYMMDDHHMMSS
// in UTC, each the instant nearest the clock that its 32 bits can name (RFC
// 4034 section 3.1.5, serial numbers, as dig reads them); LOC in degrees,
// minutes and seconds; SVCB parameters as key=value; untyped data as
// "\# LEN HEX" (RFC 3597; "\# 0" when empty).
std::string DataText(const Message& message, const ResourceRecord& record);

// Mnemonics as dig prints them.
std::string TypeMnemonic(std::uint16_t type);                          // "A", "MX", ..., "TYPE65534"
std::optional<std::uint16_t> TypeFromMnemonic(std::string_view text);  // case-insensitive, "TYPEnnn" too; 0 refused
std::string RcodeMnemonic(std::uint16_t rcode);                        // "NOERROR", ..., "RCODE4000"
std::string ClassMnemonic(std::uint16_t klass);                        // "IN", "CH", "HS", "NONE", "ANY", "CLASS300"

// The typed fields of one record, owning, for presentation layers: one slot
// per Member (record_table.h), filled from the record's row. Fields a type
// lacks stay empty / nullopt and are not Present. Names are presentation
// text (NameTextOf); strings and binary fields are the raw octets; a type
// bitmap and SVCB parameters their text in the data column.
struct RecordFields {
  std::string Address;                      // A, AAAA: "192.0.2.1", RFC 5952 "2001:db8::1"
  // NS CNAME DNAME PTR, MX exchange, SRV SVCB HTTPS target, NAPTR replacement, URI.
  std::string Target;
  std::optional<std::uint16_t> Preference;  // MX, NAPTR
  std::optional<std::uint16_t> Priority, Weight, Port;  // SRV; SVCB, HTTPS and URI priority, URI weight
  std::vector<std::string> Strings;                     // TXT/SPF character-strings; HINFO CPU and OS
  std::string PrimaryServer, ResponsibleMailbox;        // SOA
  std::optional<std::uint32_t> Serial, Refresh, Retry, Expire, Minimum;  // SOA
  std::optional<std::uint16_t> Flags;                                    // CAA, DNSKEY, CDNSKEY, NSEC3, NSEC3PARAM
  std::string Tag, Value;                                                // CAA
  std::optional<std::uint16_t> Order;                                    // NAPTR
  std::string NaptrFlags, Services, Regexp;                              // NAPTR
  std::optional<std::uint16_t> KeyTag;                                   // DS, CDS, RRSIG
  std::optional<std::uint8_t> Algorithm;  // DS, CDS, SSHFP, RRSIG, DNSKEY, CDNSKEY; NSEC3, NSEC3PARAM hash
  std::optional<std::uint8_t> DigestType;                                // DS, CDS, SSHFP (fingerprint type)
  std::optional<std::uint8_t> Usage, Selector, MatchingType;             // TLSA, SMIMEA
  std::string Digest;  // DS, CDS digest, SSHFP fingerprint, TLSA and SMIMEA data
  std::optional<std::uint8_t> Protocol;                                  // DNSKEY, CDNSKEY
  std::string PublicKey;                                                 // DNSKEY, CDNSKEY, OPENPGPKEY
  std::optional<std::uint16_t> TypeCovered;                              // RRSIG
  std::optional<std::uint8_t> Labels;                                    // RRSIG
  std::optional<std::uint32_t> OriginalTTL;                              // RRSIG
  std::optional<std::int64_t> Expiration, Inception;  // RRSIG: seconds since 1970, the serial nearest now
  std::string SignerName, Signature;                  // RRSIG
  std::string NextName;                               // NSEC
  std::string Types;                                  // NSEC, NSEC3: "A NS SOA RRSIG"
  std::optional<std::uint16_t> Iterations;            // NSEC3, NSEC3PARAM
  std::string Salt, NextHashedOwner;                  // NSEC3 (Salt also NSEC3PARAM)
  std::string Params;                                 // SVCB, HTTPS: "alpn=\"h2\" port=443"
  std::optional<double> Latitude, Longitude;          // LOC: degrees, north and east positive
  std::optional<double> Altitude;                     // LOC: metres above the WGS 84 spheroid
  std::optional<double> Size, HorizontalPrecision, VerticalPrecision;  // LOC: metres
  // Which members the record's type has (bit 1 << Member).
  std::uint64_t Present = 0;
  bool Has(Member member) const noexcept { return (Present >> static_cast<unsigned>(member) & 1u) != 0; }
};
RecordFields Fields(const Message& message, const ResourceRecord& record);

// A member's value as a script sees it (MemberInfoOf gives its form):
// numbers, degrees and metres as Real or Number, octets already in their
// text form (hex, base64, base32hex), a type as its mnemonic, a time as
// seconds since 1970 in Number. Empty when the record's type lacks it.
struct MemberValue {
  enum class Kind : std::uint8_t { Empty, Long, Double, Text, Strings, Date } Is = Kind::Empty;
  std::int64_t Number = 0;
  double Real = 0;
  std::string Text;
  const std::vector<std::string>* Strings = nullptr;  // into the RecordFields
};
MemberValue ValueOf(const RecordFields& fields, Member member);

}  // namespace vbDNS
