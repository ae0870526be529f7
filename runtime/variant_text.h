// Automation values to text, as script callers expect of a String parameter.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <string_view>

namespace vavizav {

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

}  // namespace vavizav
