// The turn from what a script gave the Resolver class to a question, free of
// Windows: a number as a question type, a name (after IDNA) as the question,
// and why a question cannot be asked, in the words LastError shows.
// hosting/resolver_object.cpp reads the caller's variants and calls these.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "codec/vbdns.h"

namespace vavizav::resolver {

// A number given as the type: a whole number from 1 to 65535, nullopt otherwise.
std::optional<std::uint16_t> QuestionTypeFromNumber(double number) noexcept;

// The question `asciiName` (the name after IDNA, as octets) and `type` make;
// nullopt for an empty name and wherever BuildResolverQuestion refuses (an
// empty label, a label over 63 octets, over 255 in all).
std::optional<vbDNS::DNSQuery> QuestionForName(std::string_view asciiName, std::uint16_t type);

// Why a question cannot be asked; the answer's Status is then BADNAME.
enum class Refusal : std::uint8_t {
  TypeNumberOutOfRange,  // a number that is no type (0, 65536, 2.5)
  TypeNumberUnreadable,  // a number automation could not read as one
  TypeWithoutText,       // a type without a text form (Null, an array)
  TypeNotAType,          // a text that is neither a mnemonic nor a number from 1 to 65535
  NameWithoutText,       // a name without a text form
  NameCannotBeAsked,     // empty, an empty label, a label over 63 octets, over 255 in all, refused by IDNA
};

// LastError's text for `refusal`. `given` is what the caller gave as text (the
// number's text, the type's or the name's), or for TypeWithoutText and
// NameWithoutText the failed conversion's description ("Invalid use of
// Null"); TypeNumberUnreadable shows none.
std::u16string RefusalText(Refusal refusal, std::u16string_view given);

}  // namespace vavizav::resolver
