// The record types the whole-reply reader knows, each declared once as the
// list of fields its data holds. One row per type drives everything done
// with that type: the check of a record's data in ReadMessage, its
// presentation text (DataText), its typed fields (Fields) and the members a
// script reads (the Record object). A type without a row is octets.
//
// A field is a kind (how its octets are laid out, checked and printed) and
// the member it shows as, if any. Kinds that run "to the end" take whatever
// is left of RDLENGTH and stand last; every layout must fill RDLENGTH
// exactly.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vbDNS {

enum class FieldKind : std::uint8_t {
  U8,
  U16,
  U32,
  Type,           // a 16-bit type, printed as its mnemonic (RRSIG's type covered)
  Timestamp,      // 32-bit seconds since 1970 as serial numbers, printed YYYYMMDDHHMMSS
  // A domain name; compression pointers followed (RFC 3597 section 4). NSEC's
  // next name and the SVCB target are not to be sent compressed (RFC 4034,
  // RFC 9460), but dig reads them compressed, and so does this reader rather
  // than refuse whole replies dig shows.
  Name,
  PlainName,      // a domain name with no compression pointer: RRSIG's signer, as dig has it
  CharString,     // one <character-string>, printed quoted
  CharStrings,    // one or more character-strings to the end, each quoted
  Tag,            // a CAA tag: a length octet, 1 or more letters and digits, printed bare
  QuotedToEnd,    // octets to the end, printed as one quoted string (CAA value, URI target)
  IPv4,           // 4 octets, dotted
  IPv6,           // 16 octets, RFC 5952
  HexToEnd,       // octets to the end, 1 or more, upper-case hex (TLSA and SMIMEA data)
  DsDigest,       // hex to the end, of its digest type's length (the field before)
  SshfpDigest,    // hex to the end, of its fingerprint type's length (the field before)
  Base64ToEnd,    // octets to the end, base64
  Salt,           // a length octet and that many octets: hex, "-" when none (NSEC3)
  HashedName,     // a length octet and 1 or more octets: base32hex (NSEC3's next owner)
  TypeBitmap,     // window blocks to the end: the types' mnemonics (NSEC, NSEC3)
  SvcParams,      // key, length, value to the end, keys ascending (RFC 9460)
  LocVersion,     // LOC's version octet: 0, else the data is octets; not printed
  LocPrecision,   // LOC's size and precisions: mantissa and power of ten, centimetres
  LocLatitude,    // LOC's thousandths of a second of arc, 2^31 at the equator
  LocLongitude,   // the same from the prime meridian
  LocAltitude,    // centimetres above 100,000 m below the WGS 84 spheroid
};

// What a field shows as to a script: one member of the Record object. The
// typed fields (RecordFields) hold one slot per member.
enum class Member : std::uint8_t {
  None,
  Address,
  Target,
  Preference,
  Priority,
  Weight,
  Port,
  Text,  // Strings joined (no slot of its own)
  Strings,
  PrimaryServer,
  ResponsibleMailbox,
  Serial,
  Refresh,
  Retry,
  Expire,
  Minimum,
  Flags,
  Tag,
  Value,
  Order,
  NaptrFlags,
  Services,
  Regexp,
  KeyTag,
  Algorithm,
  DigestType,
  Digest,
  Usage,
  Selector,
  MatchingType,
  Protocol,
  PublicKey,
  TypeCovered,
  Labels,
  OriginalTTL,
  Expiration,
  Inception,
  SignerName,
  Signature,
  NextName,
  Types,
  Iterations,
  Salt,
  NextHashedOwner,
  Params,
  Latitude,
  Longitude,
  Altitude,
  Size,
  HorizontalPrecision,
  VerticalPrecision,
  Count_  // not a member
};
inline constexpr std::size_t MEMBER_COUNT = static_cast<std::size_t>(Member::Count_);
static_assert(MEMBER_COUNT <= 64, "RecordFields keeps presence in 64 bits");

struct FieldSpec {
  FieldKind Kind;
  Member Shows = Member::None;
};

// Longest layout (RRSIG's nine fields).
inline constexpr std::size_t MAX_FIELDS = 9;

struct TypeRow {
  std::uint16_t Type = 0;
  bool ClassInOnly = false;  // laid out for class IN only (A, AAAA, SRV, NAPTR); octets elsewhere
  std::uint8_t Count = 0;
  FieldSpec Fields[MAX_FIELDS] = {};
  // The order fields are printed in, when it is not the order they stand in
  // (LOC prints its position before its precisions); Count entries.
  const std::uint8_t* TextOrder = nullptr;
  // Derived from the fields: the leading fields that are plain numbers or
  // addresses (nothing to check but their length) and the octets they span,
  // so that a reader checks them with one length test; the same of the
  // trailing ones (SOA's numbers) when not all are plain.
  std::uint8_t PlainFields = 0;
  std::uint8_t PlainOctets = 0;
  std::uint8_t PlainTailFields = 0;
  std::uint8_t PlainTailOctets = 0;
};

// Every type with a row is below this.
inline constexpr std::size_t INDEXED_TYPES = 258;
namespace detail {
// Each type's row, nullptr for none (record_table.cpp).
extern const std::array<const TypeRow*, INDEXED_TYPES> ROW_OF;
}  // namespace detail

// The row of `type` in class `klass`; nullptr when the data is octets.
inline const TypeRow* FindTypeRow(std::uint16_t type, std::uint16_t klass) noexcept {
  if (type >= INDEXED_TYPES) return nullptr;
  const TypeRow* row = detail::ROW_OF[type];
  return row == nullptr || (row->ClassInOnly && klass != 1) ? nullptr : row;
}

// How a member shows to a script.
enum class Shown : std::uint8_t {
  Long,         // a number of 8 or 16 bits
  Double,       // an unsigned 32-bit number, or degrees and metres (LOC)
  Text,         // octets or presentation text, as they are
  Hex,          // octets as upper-case hex
  Base64,       // octets as base64
  Base32Hex,    // octets as base32hex without padding (RFC 4648 section 7)
  TypeName,     // a type number as its mnemonic
  Date,         // seconds since 1970, in UTC
  StringArray,  // the character-strings one by one
  Joined,       // the character-strings joined without separator
};

struct MemberInfo {
  Member Id;
  std::string_view Name;  // as a script spells it
  Shown As;
};

// The member's row; Member::None for an out-of-range id.
const MemberInfo& MemberInfoOf(Member member) noexcept;

}  // namespace vbDNS
