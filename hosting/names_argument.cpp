#include "hosting/names_argument.h"

#include <cstring>
#include <string>

#include "hosting/dispatch_arguments.h"
#include "runtime/text_conversion.h"

namespace vavizav::hosting {
namespace {

std::optional<std::wstring> ElementText(const VARIANT& element) {
  // A by-reference element that points nowhere, or a record without its
  // description, has no text; neither is followed.
  if (FAILED(CheckArgument(element))) return std::nullopt;
  runtime::TextConversion text = runtime::VariantToText(element);
  if (text.Status == runtime::TextConversionStatus::OutOfMemory) throw std::bad_alloc();
  if (!text.Ok()) return std::nullopt;
  return std::move(text.Text);
}

// The size of one element of a scalar type that fits a VARIANT's value field.
std::size_t ScalarSize(VARTYPE type) {
  switch (type) {
    case VT_I1: case VT_UI1: return 1;
    case VT_I2: case VT_UI2: case VT_BOOL: return 2;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: case VT_ERROR: return 4;
    case VT_I8: case VT_UI8: case VT_R8: case VT_CY: case VT_DATE: return 8;
    case VT_DISPATCH: case VT_UNKNOWN: return sizeof(void*);
    default: return 0;
  }
}

HRESULT ReadArray(SAFEARRAY* array, NamesArgument& read, std::wstring& error) {
  if (array == nullptr) {
    error = L"ResolveMany: Names is an array without elements (not dimensioned)";
    return E_INVALIDARG;
  }
  const UINT dimensions = SafeArrayGetDim(array);
  if (dimensions == 0) {
    error = L"ResolveMany: Names is an array without dimensions";
    return E_INVALIDARG;
  }
  VARTYPE type = VT_EMPTY;
  if (FAILED(SafeArrayGetVartype(array, &type))) {
    if (array->fFeatures & FADF_VARIANT) type = VT_VARIANT;
    else if (array->fFeatures & FADF_BSTR) type = VT_BSTR;
  }
  std::size_t elementSize = 0;
  if (type == VT_VARIANT) elementSize = sizeof(VARIANT);
  else if (type == VT_BSTR) elementSize = sizeof(BSTR);
  else if (type == VT_DECIMAL) elementSize = sizeof(DECIMAL);
  else elementSize = ScalarSize(type);
  if (elementSize == 0 || SafeArrayGetElemsize(array) != elementSize) {
    error = L"ResolveMany: Names is an array whose elements are not names";
    return E_INVALIDARG;
  }

  // The descriptor's own counts, not SafeArrayGetUBound: an upper bound past
  // 0x7FFFFFFF wraps to a negative Long there, and the dimension would read as
  // empty. Every element of the answer must have an index a caller can write,
  // so a dimension whose last index does not fit a Long is refused, as a count
  // over MAX_NAMES is. rgsabound holds the last dimension first.
  read.Bounds.resize(dimensions);
  unsigned long long count = 1;
  for (UINT d = 0; d < dimensions; ++d) {
    const SAFEARRAYBOUND& bound = array->rgsabound[dimensions - 1 - d];
    if (static_cast<long long>(bound.lLbound) + bound.cElements - 1 > MAXLONG) {
      error = L"ResolveMany: Names has bounds that do not fit a Long";
      return E_INVALIDARG;
    }
    read.Bounds[d] = bound;
    count *= bound.cElements;
    if (count > MAX_NAMES) {
      error = L"ResolveMany: Names has more than " + std::to_wstring(MAX_NAMES) + L" elements";
      return E_INVALIDARG;
    }
  }
  if (count == 0) return S_OK;

  // Locked while read: converting an element may run a client's code, which
  // must not free or resize the array under the reader.
  if (FAILED(SafeArrayLock(array))) {
    error = L"ResolveMany: Names cannot be read";
    return E_INVALIDARG;
  }
  runtime::safearray_lock locked(array);
  if (array->pvData == nullptr) {
    error = L"ResolveMany: Names is an array without data";
    return E_INVALIDARG;
  }
  read.Texts.reserve(static_cast<std::size_t>(count));
  const auto* octets = static_cast<const unsigned char*>(array->pvData);
  for (std::size_t i = 0; i < count; ++i) {
    const unsigned char* at = octets + i * elementSize;
    if (type == VT_VARIANT) {
      read.Texts.push_back(ElementText(*reinterpret_cast<const VARIANT*>(at)));
    } else if (type == VT_BSTR) {
      BSTR text;
      std::memcpy(&text, at, sizeof text);
      read.Texts.emplace_back(std::wstring(runtime::BstrView(text)));
    } else {
      // A borrowed value: the VARIANT made here is never cleared.
      VARIANT element;
      ::VariantInit(&element);
      if (type == VT_DECIMAL) {
        std::memcpy(&V_DECIMAL(&element), at, sizeof(DECIMAL));
      } else {
        std::memcpy(&V_UI1(&element), at, elementSize);
      }
      V_VT(&element) = type;
      read.Texts.push_back(ElementText(element));
    }
  }
  return S_OK;
}

HRESULT ReadNamesAt(const VARIANT& names, NamesArgument& read, std::wstring& error, int depth);

// One property of `object` by name, read with DISPATCH_PROPERTYGET.
HRESULT GetProperty(IDispatch* object, const wchar_t* name, VARIANT* value) {
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) return hr;
  DISPPARAMS none{};
  EXCEPINFO exception{};
  hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, value, &exception, nullptr);
  ::SysFreeString(exception.bstrSource);
  ::SysFreeString(exception.bstrDescription);
  ::SysFreeString(exception.bstrHelpFile);
  return hr;
}

// A JScript array: "length", then the properties "0" to "length - 1"; a
// hole reads as Empty. An object without "length" whose default value is an
// array (an Excel Range) is read as that array.
HRESULT ReadObject(IDispatch* borrowed, NamesArgument& read, std::wstring& error, int depth) {
  if (borrowed == nullptr) {
    error = L"ResolveMany: Names is Nothing, not an array";
    return E_INVALIDARG;
  }
  runtime::com_ptr<IDispatch> object(borrowed);
  object->AddRef();

  runtime::unique_variant length;
  if (FAILED(GetProperty(object.get(), L"length", length.get()))) {
    runtime::unique_variant value;
    DISPPARAMS none{};
    EXCEPINFO exception{};
    const HRESULT hr = object->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                                      value.get(), &exception, nullptr);
    ::SysFreeString(exception.bstrSource);
    ::SysFreeString(exception.bstrDescription);
    ::SysFreeString(exception.bstrHelpFile);
        // Followed once: an array's default value, not a default value's default.
    if (SUCCEEDED(hr) && depth == 0 && (V_VT(value.get()) & VT_ARRAY)) {
      return ReadNamesAt(*value, read, error, depth + 1);
    }
    error = L"ResolveMany: Names is an object that is not an array (it has no length)";
    return E_INVALIDARG;
  }
  const std::optional<double> number = runtime::VariantToDouble(*length);
  // A count is a whole number below 2^63 (the largest such Double is 2^63 - 1024).
  if (!number || !runtime::IsWholeNumber(*number, 9223372036854774784.0)) {
    error = L"ResolveMany: Names has a length that is not a count";
    return E_INVALIDARG;
  }
  if (*number > static_cast<double>(MAX_NAMES)) {
    error = L"ResolveMany: Names has more than " + std::to_wstring(MAX_NAMES) + L" elements";
    return E_INVALIDARG;
  }
  const auto count = static_cast<std::size_t>(*number);
  read.Bounds = {SAFEARRAYBOUND{static_cast<ULONG>(count), 0}};
  read.Texts.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    runtime::unique_variant element;
    const std::wstring index = std::to_wstring(i);
    if (FAILED(GetProperty(object.get(), index.c_str(), element.get()))) {
      read.Texts.emplace_back(std::nullopt);
      continue;
    }
    read.Texts.push_back(ElementText(*element));
  }
  return S_OK;
}

HRESULT ReadNamesAt(const VARIANT& names, NamesArgument& read, std::wstring& error, int depth) {
  HRESULT hr = CheckArgument(names);
  if (FAILED(hr)) return hr;
  const VARIANT* value = &names;
  if (V_VT(value) == (VT_BYREF | VT_VARIANT)) value = V_VARIANTREF(value);
  const VARTYPE type = V_VT(value);
  if (type & VT_ARRAY) return ReadArray(type & VT_BYREF ? *V_ARRAYREF(value) : V_ARRAY(value), read, error);
  if ((type & VT_TYPEMASK) == VT_DISPATCH) {
    return ReadObject(type & VT_BYREF ? *V_DISPATCHREF(value) : V_DISPATCH(value), read, error, depth);
  }
  error = (type & VT_TYPEMASK) == VT_NULL ? L"ResolveMany: Names is Null, not an array"
          : (type & VT_TYPEMASK) == VT_EMPTY ? L"ResolveMany: Names is Empty, not an array"
                                             : L"ResolveMany: Names is not an array";
  return E_INVALIDARG;
}

}  // namespace

HRESULT ReadNames(const VARIANT& names, NamesArgument& read, std::wstring& error) {
  read = NamesArgument{};
  return ReadNamesAt(names, read, error, 0);
}

HRESULT MakeResultArray(const std::vector<SAFEARRAYBOUND>& bounds, runtime::unique_safearray& array) noexcept {
  std::vector<SAFEARRAYBOUND> copy;
  try {
    copy = bounds;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  array.reset(SafeArrayCreate(VT_VARIANT, static_cast<UINT>(copy.size()), copy.data()));
  return array ? S_OK : E_OUTOFMEMORY;
}

}  // namespace vavizav::hosting
