#include "runtime/text_conversion.h"

#include <winnls.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <new>

#include "runtime/handles.h"

namespace vavizav::runtime {
namespace {

// VT_BYREF | VT_VARIANT may point at another such variant when a value passes
// through several late-bound calls; a longer chain than this is not a value.
constexpr int MAX_VARIANT_REFERENCES = 8;

// VariantCopyInd and VariantChangeTypeEx only read their source; MinGW's
// declarations lack the const.
VARIANT* Readable(const VARIANT* source) noexcept { return const_cast<VARIANT*>(source); }

bool IsAscii(wchar_t c) noexcept { return c < 0x80; }

TextConversion Failure(TextConversionStatus status) { return TextConversion{status, std::wstring()}; }

TextConversion FromBstr(BSTR value) noexcept {
  try {
    return TextConversion{TextConversionStatus::Ok, std::wstring(BstrView(value))};
  } catch (const std::bad_alloc&) {
    return Failure(TextConversionStatus::OutOfMemory);
  }
}

}  // namespace

std::wstring_view TextConversion::Description() const noexcept {
  switch (Status) {
    case TextConversionStatus::Ok: return {};
    case TextConversionStatus::InvalidUseOfNull: return L"Invalid use of Null";
    case TextConversionStatus::TypeMismatch: return L"Type mismatch";
    case TextConversionStatus::OutOfMemory: return L"Out of memory";
  }
  return L"Type mismatch";
}

TextConversion VariantToText(const VARIANT& value) noexcept {
  const VARIANT* source = &value;
  for (int depth = 0; V_VT(source) == (VT_BYREF | VT_VARIANT); ++depth) {
    if (depth == MAX_VARIANT_REFERENCES || !V_VARIANTREF(source)) return Failure(TextConversionStatus::TypeMismatch);
    source = V_VARIANTREF(source);
  }

  const VARTYPE type = V_VT(source);
  if (type == VT_BSTR) return FromBstr(V_BSTR(source));
  if (type == (VT_BYREF | VT_BSTR)) {
    if (!V_BSTRREF(source)) return Failure(TextConversionStatus::TypeMismatch);
    return FromBstr(*V_BSTRREF(source));
  }
  if ((type & VT_TYPEMASK) == VT_NULL) return Failure(TextConversionStatus::InvalidUseOfNull);
  if (type & VT_ARRAY) return Failure(TextConversionStatus::TypeMismatch);

  // Work on a copy without the reference, so that the conversion cannot reach
  // the caller's variable.
  unique_variant direct;
  if (type & VT_BYREF) {
    const HRESULT hr = ::VariantCopyInd(direct.get(), Readable(source));
    if (hr == E_OUTOFMEMORY) return Failure(TextConversionStatus::OutOfMemory);
    if (FAILED(hr)) return Failure(TextConversionStatus::TypeMismatch);
    if (V_VT(direct.get()) == VT_NULL) return Failure(TextConversionStatus::InvalidUseOfNull);
    source = direct.get();
  }

  unique_variant text;
  const HRESULT hr = ::VariantChangeTypeEx(text.get(), Readable(source), LOCALE_USER_DEFAULT, VARIANT_ALPHABOOL, VT_BSTR);
  if (hr == E_OUTOFMEMORY) return Failure(TextConversionStatus::OutOfMemory);
  if (FAILED(hr) || V_VT(text.get()) != VT_BSTR) return Failure(TextConversionStatus::TypeMismatch);
  return FromBstr(V_BSTR(text.get()));
}


bool IsNumberType(VARTYPE type) noexcept {
  switch (type) {
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_INT: case VT_UINT:
    case VT_I8: case VT_UI8: case VT_R4: case VT_R8: case VT_CY: case VT_DECIMAL:
      return true;
    default:
      return false;
  }
}

std::optional<double> VariantToDouble(const VARIANT& value) noexcept {
  unique_variant number;
  if (FAILED(::VariantChangeType(number.get(), Readable(&value), 0, VT_R8)) || V_VT(number.get()) != VT_R8) {
    return std::nullopt;
  }
  return V_R8(number.get());
}

bool IsWholeNumber(double value, double high) noexcept {
  // Compared before any cast: a double outside the range has no integer to cast to.
  return value >= 0 && value <= high && std::floor(value) == value;
}

std::wstring AsciiToText(std::string_view ascii) {
  std::wstring text(ascii.size(), L'\0');
  for (std::size_t i = 0; i < ascii.size(); ++i) text[i] = static_cast<unsigned char>(ascii[i]);
  return text;
}

std::optional<std::string> TextToAscii(std::wstring_view text) {
  std::string octets(text.size(), '\0');
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!IsAscii(text[i])) return std::nullopt;
    octets[i] = static_cast<char>(text[i]);
  }
  return octets;
}

std::u16string TextToUtf16(std::wstring_view text) { return std::u16string(text.begin(), text.end()); }

std::wstring Utf16ToText(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

std::wstring OctetsToText(std::string_view octets) {
  const bool ascii = std::all_of(octets.begin(), octets.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (!ascii && octets.size() < INT_MAX) {
    const int size = static_cast<int>(octets.size());
    const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, octets.data(), size, nullptr, 0);
    if (length > 0) {
      std::wstring text(static_cast<std::size_t>(length), L'\0');
      ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, octets.data(), size, text.data(), length);
      return text;
    }
  }
  return AsciiToText(octets);
}


std::optional<std::wstring> HostNameToAscii(std::wstring_view name) {
  if (std::all_of(name.begin(), name.end(), IsAscii)) return std::wstring(name);
  if (name.size() > INT_MAX) return std::nullopt;

  // Flags 0: no unassigned code points, no STD3 restrictions beyond IDNA's own.
  const int inputLength = static_cast<int>(name.size());
  const int needed = ::IdnToAscii(0, name.data(), inputLength, nullptr, 0);
  if (needed <= 0) return std::nullopt;
  std::wstring ascii(static_cast<std::size_t>(needed), L'\0');
  const int written = ::IdnToAscii(0, name.data(), inputLength, ascii.data(), needed);
  if (written <= 0) return std::nullopt;
  ascii.resize(static_cast<std::size_t>(written));
  return ascii;
}


std::optional<std::string> HostNameToAsciiOctets(std::wstring_view name) {
  const std::optional<std::wstring> ascii = HostNameToAscii(name);
  if (!ascii) return std::nullopt;
  return TextToAscii(*ascii);
}

}  // namespace vavizav::runtime
