#include "variant_text.h"

#include <new>

#include "handles.h"

namespace vavizav {
namespace {

// VT_BYREF | VT_VARIANT may point at another such variant when a value passes
// through several late-bound calls; a longer chain than this is not a value.
constexpr int MAX_VARIANT_REFERENCES = 8;

// VariantCopyInd and VariantChangeTypeEx only read their source; MinGW's
// declarations lack the const.
VARIANT* Readable(const VARIANT* source) noexcept { return const_cast<VARIANT*>(source); }

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

}  // namespace vavizav
