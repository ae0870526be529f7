// Every conversion of text and numbers between automation's forms and the
// resolver's, in one place: a VARIANT to text as script callers expect of a
// String parameter, a VARIANT to a number, automation text (UTF-16) to the
// ASCII octets a question is made of (after IDNA for an international name),
// and the resolver's octets back to automation text.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <optional>
#include <string>
#include <string_view>

namespace vavizav::runtime {

// ---------------------------------------------------------------------------
// VARIANT to text.

enum class TextConversionStatus {
  Ok,
  InvalidUseOfNull,  // the value is Null
  TypeMismatch,      // an array, an object without a value, anything else without a text form
  OutOfMemory,
};

struct TextConversion {
  TextConversionStatus Status = TextConversionStatus::Ok;
  std::wstring Text;  // the text when Status is Ok

  bool Ok() const noexcept { return Status == TextConversionStatus::Ok; }
  // The failure's description as automation callers know it; empty after success.
  std::wstring_view Description() const noexcept;
};

// The text of `value`. A string (also by reference) passes unchanged, embedded
// NULs included; a by-reference value is read through its reference, never
// written; everything else goes through VariantChangeTypeEx to VT_BSTR in the
// user's locale, Booleans as "True"/"False", Empty as "".
TextConversion VariantToText(const VARIANT& value) noexcept;

// ---------------------------------------------------------------------------
// VARIANT to a number.

// Whether a variant of `type` (without VT_BYREF and VT_ARRAY) holds a number:
// the integer types, the floating types, Currency and Decimal.
bool IsNumberType(VARTYPE type) noexcept;

// The value of `value` as a Double (VariantChangeType, so a text or a Boolean
// converts as automation converts them); nullopt when it has none. A
// by-reference value is read, never written.
std::optional<double> VariantToDouble(const VARIANT& value) noexcept;

// Whether `value` is a whole number from 0 to `high` (false for NaN).
bool IsWholeNumber(double value, double high) noexcept;

// ---------------------------------------------------------------------------
// Automation text and the resolver's octets.

// ASCII octets as automation text, each octet the character of the same code
// (the resolver's texts are ASCII; any other octet comes out as Latin-1).
std::wstring AsciiToText(std::string_view ascii);

// Automation text as ASCII octets; nullopt when a character is outside ASCII.
std::optional<std::string> TextToAscii(std::wstring_view text);

// Automation text as UTF-16 code units and back, unchanged (wchar_t is UTF-16 here).
std::u16string TextToUtf16(std::wstring_view text);
std::wstring Utf16ToText(std::u16string_view text);

// Octets of a record (TXT strings, CAA values) as automation text: UTF-8 when
// they are valid UTF-8 (ASCII is), each octet as the character of the same
// code otherwise.
std::wstring OctetsToText(std::string_view octets);

// ---------------------------------------------------------------------------
// Host names (IDNA, RFC 5890/5891).

// A name of ASCII characters only is returned unchanged (its checks are the
// query builder's). Any other name goes through IdnToAscii, which turns each
// label with other characters into its xn-- form; nullopt when it refuses the
// name (a prohibited or unassigned character, a label too long when encoded).
std::optional<std::wstring> HostNameToAscii(std::wstring_view name);

// The octets a question is made of: the name after HostNameToAscii, as ASCII
// octets; nullopt when IDNA refuses it.
std::optional<std::string> HostNameToAsciiOctets(std::wstring_view name);

}  // namespace vavizav::runtime
