// The rows of the record table and the members they show as.
#include "codec/record_table.h"

#include <array>

#include "codec/record_rows.h"

namespace vbDNS {
namespace {

using M = Member;
using detail::ROWS;

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

namespace detail {
constexpr std::array<const TypeRow*, INDEXED_TYPES> ROW_OF = [] {
  std::array<const TypeRow*, INDEXED_TYPES> rows{};
  for (const TypeRow& row : ROWS) rows[row.Type] = &row;
  return rows;
}();
}  // namespace detail

const MemberInfo& MemberInfoOf(Member member) noexcept {
  const auto index = static_cast<std::size_t>(member);
  return index < std::size(MEMBERS) ? MEMBERS[index] : MEMBERS[0];
}

}  // namespace vbDNS
