// The rows of the record table, for the codec's own files: record_table.cpp
// indexes them, message.cpp makes each row's check from them when compiled.
#pragma once

#include <initializer_list>

#include "codec/record_table.h"

namespace vbDNS::detail {

using K = FieldKind;
using M = Member;

// LOC prints latitude, longitude, altitude, then size and the precisions.
inline constexpr std::uint8_t LOC_TEXT_ORDER[] = {4, 5, 6, 1, 2, 3, 0};

// Octets of a field with nothing to check but its length; 0 for the others.
constexpr std::size_t PlainWidth(FieldKind kind) {
  switch (kind) {
    case K::U8: return 1;
    case K::U16: case K::Type: return 2;
    case K::U32: case K::Timestamp: case K::IPv4: return 4;
    case K::IPv6: return 16;
    default: return 0;
  }
}

constexpr TypeRow Row(std::uint16_t type, std::initializer_list<FieldSpec> fields, bool classInOnly = false,
                      const std::uint8_t* textOrder = nullptr) {
  TypeRow row;
  row.Type = type;
  row.ClassInOnly = classInOnly;
  row.TextOrder = textOrder;
  for (const FieldSpec& field : fields) row.Fields[row.Count++] = field;
  // A check that needs the value of a number before it (a digest's length by
  // its type, NSEC3's hash by its algorithm) reads that number itself.
  bool valuesNeeded = false;
  for (const FieldSpec& field : fields) {
    valuesNeeded = valuesNeeded || field.Kind == K::DsDigest || field.Kind == K::SshfpDigest ||
                   field.Kind == K::HashedName;
  }
  for (; !valuesNeeded && row.PlainFields < row.Count; ++row.PlainFields) {
    const std::size_t width = PlainWidth(row.Fields[row.PlainFields].Kind);
    if (width == 0) break;
    row.PlainOctets = static_cast<std::uint8_t>(row.PlainOctets + width);
  }
  for (; !valuesNeeded && row.PlainFields + row.PlainTailFields < row.Count; ++row.PlainTailFields) {
    const std::size_t width = PlainWidth(row.Fields[row.Count - 1 - row.PlainTailFields].Kind);
    if (width == 0) break;
    row.PlainTailOctets = static_cast<std::uint8_t>(row.PlainTailOctets + width);
  }
  return row;
}

// One row per type read into fields. RFC 1035 (NS CNAME SOA PTR HINFO MX TXT),
// RFC 3596 (AAAA), RFC 1876 (LOC), RFC 2782 (SRV), RFC 3403 (NAPTR), RFC 6672
// (DNAME), RFC 4034 (DS RRSIG NSEC DNSKEY), RFC 4255 (SSHFP), RFC 5155
// (NSEC3 NSEC3PARAM), RFC 6698 (TLSA), RFC 8162 (SMIMEA), RFC 7344 (CDS
// CDNSKEY), RFC 7929 (OPENPGPKEY), RFC 9460 (SVCB HTTPS), RFC 7208 (SPF),
// RFC 7553 (URI), RFC 8659 (CAA).
inline constexpr TypeRow ROWS[] = {
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
    Row(52, {{K::U8, M::Usage}, {K::U8, M::Selector}, {K::U8, M::MatchingType}, {K::HexToEnd, M::Digest}}),
    Row(53, {{K::U8, M::Usage}, {K::U8, M::Selector}, {K::U8, M::MatchingType}, {K::HexToEnd, M::Digest}}),
    Row(59, {{K::U16, M::KeyTag}, {K::U8, M::Algorithm}, {K::U8, M::DigestType}, {K::DsDigest, M::Digest}}),
    Row(60, {{K::U16, M::Flags}, {K::U8, M::Protocol}, {K::U8, M::Algorithm}, {K::Base64ToEnd, M::PublicKey}}),
    Row(61, {{K::Base64ToEnd, M::PublicKey}}),
    Row(64, {{K::U16, M::Priority}, {K::Name, M::Target}, {K::SvcParams, M::Params}}, true),
    Row(65, {{K::U16, M::Priority}, {K::Name, M::Target}, {K::SvcParams, M::Params}}, true),
    Row(99, {{K::CharStrings, M::Strings}}),
    Row(256, {{K::U16, M::Priority}, {K::U16, M::Weight}, {K::QuotedToEnd, M::Target}}),
    Row(257, {{K::U8, M::Flags}, {K::Tag, M::Tag}, {K::QuotedToEnd, M::Value}}),
};


constexpr bool RowsAreSound() {
  for (const TypeRow& row : ROWS) {
    if (row.Type >= INDEXED_TYPES || row.Count == 0 || row.Count > MAX_FIELDS) return false;
    for (std::size_t i = 0; i + 1 < row.Count; ++i) {
      // Fields that run to the end stand last.
      switch (row.Fields[i].Kind) {
        case K::CharStrings: case K::QuotedToEnd: case K::HexToEnd: case K::DsDigest:
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

// Row R, for code made from the rows when compiled.
template <std::size_t R>
inline constexpr const TypeRow& ROW = ROWS[R];

}  // namespace vbDNS::detail
