// What every dual object of the module shares at its IDispatch door: a
// reference held for the span of a call, and the caller's arguments copied
// before the type information converts them.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <vector>

namespace vavizav::hosting {

// Holds a reference for the span of a call. A lookup pumps the thread's
// messages while it waits, and converting an argument may run an object's
// default property: a client may release its last reference from either; the
// object must outlive the call that runs in it.
class CallGuard {
 public:
  explicit CallGuard(IUnknown* object) noexcept : object_(object) { object_->AddRef(); }
  CallGuard(const CallGuard&) = delete;
  CallGuard& operator=(const CallGuard&) = delete;
  ~CallGuard() { object_->Release(); }

 private:
  IUnknown* object_;
};

// An array of records keeps its IRecordInfo in front of its descriptor, and
// oleaut32 copies and frees every element through it: without one, a copy
// follows a null pointer. An array that is not marked as one of records is
// copied by what it holds.
inline bool RecordsDescribed(const SAFEARRAY* array) noexcept {
  if (array == nullptr || !(array->fFeatures & FADF_RECORD)) return true;
  IRecordInfo* info = nullptr;
  if (FAILED(::SafeArrayGetRecordInfo(const_cast<SAFEARRAY*>(array), &info)) || info == nullptr) return false;
  info->Release();
  return true;
}

// The references the second class follows to reach an argument's value:
// VBScript passes a fixed-size array as a reference to its variable, which
// itself refers to the array (two levels); VBA and compiled callers may add
// one or two more. The first class takes one level, as it always has.
inline constexpr int ONE_REFERENCE = 1;
inline constexpr int REFERENCE_CHAIN = 4;

// Checks that a caller's argument can be copied without following a null
// pointer: VariantCopyInd dereferences every by-reference pointer it meets,
// and a record needs its IRecordInfo: a record in the variant's second
// pointer, an array of records in the array. For an array that second pointer
// is undefined and never read. `levels` is how many references may lead to
// the value.
inline HRESULT CheckArgument(const VARIANT& argument, int levels = ONE_REFERENCE) noexcept {
  const VARTYPE type = V_VT(&argument);
  const bool records = (type & VT_TYPEMASK) == VT_RECORD;
  const bool record = records && !(type & VT_ARRAY);
  if (!(type & VT_BYREF)) {
    if (records && (type & VT_ARRAY)) return RecordsDescribed(V_ARRAY(&argument)) ? S_OK : E_POINTER;
    return record && V_RECORDINFO(&argument) == nullptr ? E_POINTER : S_OK;
  }
  if (V_BYREF(&argument) == nullptr) return E_POINTER;
  if (records && (type & VT_ARRAY)) return RecordsDescribed(*V_ARRAYREF(&argument)) ? S_OK : E_POINTER;
  if ((type & VT_TYPEMASK) == VT_VARIANT && !(type & VT_ARRAY)) {
    // One level of indirection is all VariantCopyInd follows; a variant that
    // refers to another reference is followed only as far as `levels` allows.
    const VARIANT& inner = *V_VARIANTREF(&argument);
    if (V_VT(&inner) & VT_BYREF) {
      if (levels <= 1) return DISP_E_BADVARTYPE;
      return CheckArgument(inner, levels - 1);
    }
    return CheckArgument(inner);
  }
  if (record && V_RECORDINFO(&argument) == nullptr) return E_POINTER;
  return S_OK;
}

// The variant at the end of a chain of references to variants that
// CheckArgument accepted: a value, or a reference to one of another type.
inline VARIANT& Dereferenced(VARIANT& argument) noexcept {
  VARIANT* value = &argument;
  while (V_VT(value) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(value) != nullptr &&
         (V_VT(V_VARIANTREF(value)) & VT_BYREF)) {
    value = V_VARIANTREF(value);
  }
  return *value;
}
inline const VARIANT& Dereferenced(const VARIANT& argument) noexcept {
  // Only read through: the chain is the caller's.
  return Dereferenced(const_cast<VARIANT&>(argument));
}

// The arguments of one Invoke call as ITypeInfo::Invoke receives them: a copy
// of every argument, by value, owned here and nowhere else.
//
// Why copies of every argument: oleaut32 converts by-value arguments in place,
// and for an [in, out] parameter it frees what the array holds and writes the
// converted value there. Handed the caller's own DISPPARAMS, that would change
// the caller's variants (a double put into TimeOut would come back as a whole
// number, a string would be freed under the caller's pointer). Why by value:
// script hosts pass their variables by reference (VT_BYREF | VT_VARIANT, or
// VT_BYREF with the variable's own type; Wine's VBScript does so even for the
// value of a property assignment), and oleaut32 hands such an argument to an
// [in, out] parameter only when the referenced type already matches: it
// converts by-value arguments only. The members only read their arguments, so
// nothing is lost. Whatever the type information frees or writes in the array
// is cleared exactly once, here, when the call is over.
class DispatchArguments {
 public:
  DispatchArguments() = default;
  DispatchArguments(const DispatchArguments&) = delete;
  DispatchArguments& operator=(const DispatchArguments&) = delete;
  ~DispatchArguments() {
    for (VARIANT& value : values_) ::VariantClear(&value);
  }

  // Copies `params`; on failure `argumentError` (when given) names the
  // argument by its index in rgvarg, which runs from the last argument to the
  // first. Throws only std::bad_alloc.
  HRESULT CopyFrom(const DISPPARAMS* params, UINT* argumentError, int levels = ONE_REFERENCE) {
    if (params == nullptr) return E_INVALIDARG;
    if (params->cArgs > 0 && params->rgvarg == nullptr) return E_INVALIDARG;
    if (params->cNamedArgs > params->cArgs) return E_INVALIDARG;
    if (params->cNamedArgs > 0 && params->rgdispidNamedArgs == nullptr) return E_INVALIDARG;

    names_.assign(params->rgdispidNamedArgs, params->rgdispidNamedArgs + params->cNamedArgs);
    values_.reserve(params->cArgs);
    for (UINT i = 0; i < params->cArgs; ++i) {
      HRESULT hr = CheckArgument(params->rgvarg[i], levels);
      VARIANT copy;
      ::VariantInit(&copy);
      if (SUCCEEDED(hr)) hr = ::VariantCopyInd(&copy, &Dereferenced(params->rgvarg[i]));
      if (FAILED(hr)) {
        if (argumentError != nullptr) *argumentError = i;
        return hr == E_OUTOFMEMORY || hr == E_POINTER || hr == DISP_E_BADVARTYPE ? hr : DISP_E_TYPEMISMATCH;
      }
      values_.push_back(copy);  // reserved: cannot throw
    }
    prepared_.rgvarg = values_.empty() ? nullptr : values_.data();
    prepared_.cArgs = params->cArgs;
    prepared_.rgdispidNamedArgs = names_.empty() ? nullptr : names_.data();
    prepared_.cNamedArgs = params->cNamedArgs;
    return S_OK;
  }

  DISPPARAMS* get() noexcept { return &prepared_; }

 private:
  std::vector<VARIANT> values_;  // cleared by the destructor, once each
  std::vector<DISPID> names_;
  DISPPARAMS prepared_{};
};

}  // namespace vavizav::hosting
