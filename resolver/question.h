// The turn from what a script gave the Resolver class to a question, free of
// Windows: a number as a question type, and why a question cannot be asked,
// in the words LastError shows (a name's text: resolver/name_text.h).
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

// Why a question cannot be asked; the answer's Status is then BADNAME.
enum class Refusal : std::uint8_t {
  TypeNumberOutOfRange,  // a number that is no type (0, 65536, 2.5)
  TypeNumberUnreadable,  // a number automation could not read as one
  TypeWithoutText,       // a type without a text form (Null, an array)
  TypeNotAType,          // a text that is neither a mnemonic nor a number from 1 to 65535
  NameWithoutText,       // a name without a text form (a name's text that cannot be asked: name_text.h)
};

// LastError's text for `refusal`. `given` is what the caller gave as text (the
// number's text, the type's or the name's), or for TypeWithoutText and
// NameWithoutText the failed conversion's description ("Invalid use of
// Null"); TypeNumberUnreadable shows none.
std::u16string RefusalText(Refusal refusal, std::u16string_view given);

}  // namespace vavizav::resolver
