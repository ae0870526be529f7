// The rows of the record table and the members they show as.
#include "record_table.h"

#include <array>

namespace vbDNS {
namespace {

using K = FieldKind;
using M = Member;

// LOC prints latitude, longitude, altitude, then size and the precisions.
constexpr std::uint8_t LOC_TEXT_ORDER[] = {4, 5, 6, 1, 2, 3, 0};

constexpr TypeRow Row(std::uint16_t type, std::initializer_list<FieldSpec> fields, bool classInOnly = false,
                      const std::uint8_t* textOrder = nullptr) {
  TypeRow row;
  row.Type = type;
  row.ClassInOnly = classInOnly;
  row.TextOrder = textOrder;
  for (const FieldSpec& field : fields) row.Fields[row.Count++] = field;
  return row;
}

// One row per type read into fields. RFC 1035 (NS CNAME SOA PTR HINFO MX TXT),
// RFC 3596 (AAAA), RFC 1876 (LOC), RFC 2782 (SRV), RFC 3403 (NAPTR), RFC 6672
// (DNAME), RFC 4034 (DS RRSIG NSEC DNSKEY), RFC 4255 (SSHFP), RFC 5155
// (NSEC3 NSEC3PARAM), RFC 6698 (TLSA), RFC 8162 (SMIMEA), RFC 7344 (CDS
// CDNSKEY), RFC 7929 (OPENPGPKEY), RFC 9460 (SVCB HTTPS), RFC 7208 (SPF),
// RFC 7553 (URI), RFC 8659 (CAA).
constexpr TypeRow ROWS[] = {
    Row(1, {{K::IPv4, M::Address}}, true),
    Row(2, {{K::Name, M::Target}}),
    Row(5, {{K::Name, M::Target}}),
    Row(6, {{K::Name, M::PrimaryServer},
            {K::Name, M::ResponsibleMailbox},
            {K::U32, M::Serial},
            {K::U32, M::Refresh},
            {K::U32, M::Retry},
            {K::U32, M::Expire},
            {K::U32, M::Minimum}}),
    Row(12, {{K::Name, M::Target}}),
    Row(13, {{K::CharString, M::Strings}, {K::CharString, M::Strings}}),
    Row(15, {{K::U16, M::Preference}, {K::Name, M::Target}}),
    Row(16, {{K::CharStrings, M::Strings}}),
    Row(28, {{K::IPv6, M::Address}}, true),
    Row(29,
        {{K::LocVersion},
         {K::LocPrecision, M::Size},
         {K::LocPrecision, M::HorizontalPrecision},
         {K::LocPrecision, M::VerticalPrecision},
         {K::LocLatitude, M::Latitude},
         {K::LocLongitude, M::Longitude},
         {K::LocAltitude, M::Altitude}},
        false, LOC_TEXT_ORDER),
    Row(33, {{K::U16, M::Priority}, {K::U16, M::Weight}, {K::U16, M::Port}, {K::Name, M::Target}}, true),
    Row(35,
        {{K::U16, M::Order},
         {K::U16, M::Preference},
         {K::CharString, M::NaptrFlags},
         {K::CharString, M::Services},
         {K::CharString, M::Regexp},
         {K::Name, M::Target}},
        true),
    Row(39, {{K::Name, M::Target}}),
    Row(43, {{K::U16, M::KeyTag}, {K::U8, M::Algorithm}, {K::U8, M::DigestType}, {K::DsDigest, M::Digest}}),
    Row(44, {{K::U8, M::Algorithm}, {K::U8, M::DigestType}, {K::SshfpDigest, M::Digest}}),
    Row(46, {{K::Type, M::TypeCovered},
             {K::U8, M::Algorithm},
             {K::U8, M::Labels},
             {K::U32, M::OriginalTTL},
             {K::Timestamp, M::Expiration},
             {K::Timestamp, M::Inception},
             {K::U16, M::KeyTag},
             {K::PlainName, M::SignerName},
             {K::Base64ToEnd, M::Signature}}),
    Row(47, {{K::Name, M::NextName}, {K::TypeBitmap, M::Types}}),
    Row(48, {{K::U16, M::Flags}, {K::U8, M::Protocol}, {K::U8, M::Algorithm}, {K::Base64ToEnd, M::PublicKey}}),
    Row(50, {{K::U8, M::Algorithm},
             {K::U8, M::Flags},
             {K::U16, M::Iterations},
             {K::Salt, M::Salt},
             {K::HashedName, M::NextHashedOwner},
             {K::TypeBitmap, M::Types}}),
    Row(51, {{K::U8, M::Algorithm}, {K::U8, M::Flags}, {K::U16, M::Iterations}, {K::Salt, M::Salt}}),
    Row(52, {{K::U8, M::Usage}, {K::U8, M::Selector}, {K::U8, M::MatchingType}, {K::HexToEndSome, M::Digest}}),
    Row(53, {{K::U8, M::Usage}, {K::U8, M::Selector}, {K::U8, M::MatchingType}, {K::HexToEndSome, M::Digest}}),
    Row(59, {{K::U16, M::KeyTag}, {K::U8, M::Algorithm}, {K::U8, M::DigestType}, {K::DsDigest, M::Digest}}),
    Row(60, {{K::U16, M::Flags}, {K::U8, M::Protocol}, {K::U8, M::Algorithm}, {K::Base64ToEnd, M::PublicKey}}),
    Row(61, {{K::Base64ToEnd, M::PublicKey}}),
    Row(64, {{K::U16, M::Priority}, {K::Name, M::Target}, {K::SvcParams, M::Params}}, true),
    Row(65, {{K::U16, M::Priority}, {K::Name, M::Target}, {K::SvcParams, M::Params}}, true),
    Row(99, {{K::CharStrings, M::Strings}}),
    Row(256, {{K::U16, M::Priority}, {K::U16, M::Weight}, {K::QuotedToEnd, M::Target}}),
    Row(257, {{K::U8, M::Flags}, {K::Tag, M::Tag}, {K::QuotedToEnd, M::Value}}),
};

// Every type with a row is below this.
constexpr std::size_t INDEXED_TYPES = 258;

// Type number to its row's index plus one (0: no row).
constexpr auto ROW_INDEX = [] {
  std::array<std::uint8_t, INDEXED_TYPES> index{};
  for (std::size_t i = 0; i < std::size(ROWS); ++i) index[ROWS[i].Type] = static_cast<std::uint8_t>(i + 1);
  return index;
}();

constexpr bool RowsAreSound() {
  for (const TypeRow& row : ROWS) {
    if (row.Type >= INDEXED_TYPES || row.Count == 0 || row.Count > MAX_FIELDS) return false;
    for (std::size_t i = 0; i + 1 < row.Count; ++i) {
      // Fields that run to the end stand last.
      switch (row.Fields[i].Kind) {
        case K::CharStrings: case K::QuotedToEnd: case K::HexToEnd: case K::HexToEndSome: case K::DsDigest:
        case K::SshfpDigest: case K::Base64ToEnd: case K::TypeBitmap: case K::SvcParams:
          return false;
        default:
          break;
      }
    }
  }
  return true;
}
static_assert(RowsAreSound());

// One row per member, in the order of the enumeration.
constexpr MemberInfo MEMBERS[] = {
    {M::None, "", Shown::Text},
    {M::Address, "Address", Shown::Text},
    {M::Target, "Target", Shown::Text},
    {M::Preference, "Preference", Shown::Long},
    {M::Priority, "Priority", Shown::Long},
    {M::Weight, "Weight", Shown::Long},
    {M::Port, "Port", Shown::Long},
    {M::Text, "Text", Shown::Joined},
    {M::Strings, "Strings", Shown::StringArray},
    {M::PrimaryServer, "PrimaryServer", Shown::Text},
    {M::ResponsibleMailbox, "ResponsibleMailbox", Shown::Text},
    {M::Serial, "Serial", Shown::Double},
    {M::Refresh, "Refresh", Shown::Double},
    {M::Retry, "Retry", Shown::Double},
    {M::Expire, "Expire", Shown::Double},
    {M::Minimum, "Minimum", Shown::Double},
    {M::Flags, "Flags", Shown::Long},
    {M::Tag, "Tag", Shown::Text},
    {M::Value, "Value", Shown::Text},
    {M::Order, "Order", Shown::Long},
    {M::NaptrFlags, "NaptrFlags", Shown::Text},
    {M::Services, "Services", Shown::Text},
    {M::Regexp, "Regexp", Shown::Text},
    {M::KeyTag, "KeyTag", Shown::Long},
    {M::Algorithm, "Algorithm", Shown::Long},
    {M::DigestType, "DigestType", Shown::Long},
    {M::Digest, "Digest", Shown::Hex},
    {M::Usage, "Usage", Shown::Long},
    {M::Selector, "Selector", Shown::Long},
    {M::MatchingType, "MatchingType", Shown::Long},
    {M::Protocol, "Protocol", Shown::Long},
    {M::PublicKey, "PublicKey", Shown::Base64},
    {M::TypeCovered, "TypeCovered", Shown::TypeName},
    {M::Labels, "Labels", Shown::Long},
    {M::OriginalTTL, "OriginalTTL", Shown::Double},
    {M::Expiration, "Expiration", Shown::Date},
    {M::Inception, "Inception", Shown::Date},
    {M::SignerName, "SignerName", Shown::Text},
    {M::Signature, "Signature", Shown::Base64},
    {M::NextName, "NextName", Shown::Text},
    {M::Types, "Types", Shown::Text},
    {M::Iterations, "Iterations", Shown::Long},
    {M::Salt, "Salt", Shown::Hex},
    {M::NextHashedOwner, "NextHashedOwner", Shown::Base32Hex},
    {M::Params, "Params", Shown::Text},
    {M::Latitude, "Latitude", Shown::Double},
    {M::Longitude, "Longitude", Shown::Double},
    {M::Altitude, "Altitude", Shown::Double},
    {M::Size, "Size", Shown::Double},
    {M::HorizontalPrecision, "HorizontalPrecision", Shown::Double},
    {M::VerticalPrecision, "VerticalPrecision", Shown::Double},
};
static_assert(std::size(MEMBERS) == MEMBER_COUNT);
constexpr bool MembersInOrder() {
  for (std::size_t i = 0; i < std::size(MEMBERS); ++i) {
    if (static_cast<std::size_t>(MEMBERS[i].Id) != i) return false;
  }
  return true;
}
static_assert(MembersInOrder());

}  // namespace

const TypeRow* FindTypeRow(std::uint16_t type, std::uint16_t klass) noexcept {
  if (type >= INDEXED_TYPES || ROW_INDEX[type] == 0) return nullptr;
  const TypeRow& row = ROWS[ROW_INDEX[type] - 1];
  if (row.ClassInOnly && klass != 1) return nullptr;
  return &row;
}

const MemberInfo& MemberInfoOf(Member member) noexcept {
  const auto index = static_cast<std::size_t>(member);
  return index < std::size(MEMBERS) ? MEMBERS[index] : MEMBERS[0];
}

}  // namespace vbDNS
