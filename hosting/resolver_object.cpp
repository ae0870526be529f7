#include "resolver_object.h"

#include <oleauto.h>

#include <atomic>
#include <new>
#include <vector>

#include "handles.h"
#include "module.h"
#include "vavizav.h"
#include "vevivoridezaz.h"

namespace vavizav::hosting {
namespace {

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

// Checks that a caller's argument can be copied without following a null
// pointer: VariantCopyInd dereferences every by-reference pointer it meets, and
// a record needs its IRecordInfo.
HRESULT CheckArgument(const VARIANT& argument) noexcept {
  const VARTYPE type = V_VT(&argument);
  if (!(type & VT_BYREF)) {
    return (type & VT_TYPEMASK) == VT_RECORD && V_RECORDINFO(&argument) == nullptr ? E_POINTER : S_OK;
  }
  if (V_BYREF(&argument) == nullptr) return E_POINTER;
  if ((type & VT_TYPEMASK) == VT_VARIANT && !(type & VT_ARRAY)) {
    // One level of indirection is all VariantCopyInd follows; a variant that
    // refers to another reference is not an automation value.
    const VARIANT& inner = *V_VARIANTREF(&argument);
    if (V_VT(&inner) & VT_BYREF) return DISP_E_BADVARTYPE;
    return CheckArgument(inner);
  }
  if ((type & VT_TYPEMASK) == VT_RECORD && V_RECORDINFO(&argument) == nullptr) return E_POINTER;
  return S_OK;
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
  HRESULT CopyFrom(const DISPPARAMS* params, UINT* argumentError) {
    if (params == nullptr) return E_INVALIDARG;
    if (params->cArgs > 0 && params->rgvarg == nullptr) return E_INVALIDARG;
    if (params->cNamedArgs > params->cArgs) return E_INVALIDARG;
    if (params->cNamedArgs > 0 && params->rgdispidNamedArgs == nullptr) return E_INVALIDARG;

    names_.assign(params->rgdispidNamedArgs, params->rgdispidNamedArgs + params->cNamedArgs);
    values_.reserve(params->cArgs);
    for (UINT i = 0; i < params->cArgs; ++i) {
      HRESULT hr = CheckArgument(params->rgvarg[i]);
      VARIANT copy;
      ::VariantInit(&copy);
      if (SUCCEEDED(hr)) hr = ::VariantCopyInd(&copy, &params->rgvarg[i]);
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

// The members forward to the resolver object, which never lets a lookup's
// failure through: only bad pointers and exhausted memory come back as errors.
// Out-pointers are cleared before anything else, so a caller never sees an
// uninitialised value whatever the result.
class VeviVORIdezazComObject final : public _VeviVORIdezaz {
 public:
  VeviVORIdezazComObject() noexcept { ObjectCreated(); }
  VeviVORIdezazComObject(const VeviVORIdezazComObject&) = delete;
  VeviVORIdezazComObject& operator=(const VeviVORIdezazComObject&) = delete;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) noexcept override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IDispatch) && !IsEqualIID(iid, IID__VeviVORIdezaz)) {
      return E_NOINTERFACE;
    }
    *object = static_cast<_VeviVORIdezaz*>(this);
    AddRef();
    return S_OK;
  }

  ULONG STDMETHODCALLTYPE AddRef() noexcept override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }

  ULONG STDMETHODCALLTYPE Release() noexcept override {
    const ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
  }

  // IDispatch: everything goes through the type information of the embedded
  // type library, so late-bound callers reach exactly the function-table
  // members. A put of LastError finds no member there and fails with
  // DISP_E_MEMBERNOTFOUND.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) noexcept override {
    if (count == nullptr) return E_POINTER;
    *count = 1;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** typeInfo) noexcept override {
    if (typeInfo == nullptr) return E_POINTER;
    *typeInfo = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    const InterfaceTypeInfo* info = nullptr;
    const HRESULT hr = GetInterfaceTypeInfo(&info);
    if (FAILED(hr)) return hr;
    info->dispatchView->AddRef();
    *typeInfo = info->dispatchView;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) noexcept override {
    if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    // oleaut32 reads both arrays without looking at them.
    if (ids == nullptr) return E_POINTER;
    if (names == nullptr || count == 0) return E_INVALIDARG;
    for (UINT i = 0; i < count; ++i) {
      if (names[i] == nullptr) return E_INVALIDARG;
    }
    const InterfaceTypeInfo* info = nullptr;
    const HRESULT hr = GetInterfaceTypeInfo(&info);
    if (FAILED(hr)) return hr;
    return info->vtableView->GetIDsOfNames(names, count, ids);
  }

  // The caller's DISPPARAMS and the variables they refer to are only read:
  // the type information works on copies (DispatchArguments).
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* exception, UINT* argumentError) noexcept override {
    if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    const InterfaceTypeInfo* info = nullptr;
    HRESULT hr = GetInterfaceTypeInfo(&info);
    if (FAILED(hr)) return hr;
    // Converting an argument may run a client's code (an object's default
    // property), which may drop the caller's last reference to this object.
    CallGuard guard(this);
    try {
      DispatchArguments arguments;
      hr = arguments.CopyFrom(params, argumentError);
      if (FAILED(hr)) return hr;
      return info->vtableView->Invoke(static_cast<_VeviVORIdezaz*>(this), id, flags, arguments.get(), result,
                                      exception, argumentError);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }

  // _VeviVORIdezaz: the resolver object checks and clears the pointers itself.
  // Every member holds a reference for its span: converting a put's value may
  // run a client's default property, and a lookup dispatches the thread's
  // messages; either may release the client's last reference.
  HRESULT STDMETHODCALLTYPE get_LastError(BSTR* value) noexcept override {
    return Call(&vavizav::VeviVORIdezaz::get_LastError, value);
  }
  HRESULT STDMETHODCALLTYPE get_DNSServer(VARIANT* value) noexcept override {
    return Call(&vavizav::VeviVORIdezaz::get_DNSServer, value);
  }
  HRESULT STDMETHODCALLTYPE put_DNSServer(VARIANT* vData) noexcept override {
    return Call(&vavizav::VeviVORIdezaz::put_DNSServer, vData);
  }
  HRESULT STDMETHODCALLTYPE get_TimeOut(LONG* value) noexcept override {
    return Call(&vavizav::VeviVORIdezaz::get_TimeOut, value);
  }
  HRESULT STDMETHODCALLTYPE put_TimeOut(LONG* vData) noexcept override {
    return Call(&vavizav::VeviVORIdezaz::put_TimeOut, vData);
  }
  HRESULT STDMETHODCALLTYPE GetIPFromName(VARIANT* vIPAddr, BSTR* result) noexcept override {
    return Call(&vavizav::VeviVORIdezaz::GetIPFromName, vIPAddr, result);
  }
  HRESULT STDMETHODCALLTYPE GetNameFromIP(VARIANT* vIPAddr, BSTR* result) noexcept override {
    return Call(&vavizav::VeviVORIdezaz::GetNameFromIP, vIPAddr, result);
  }

 private:
  ~VeviVORIdezazComObject() { ObjectDestroyed(); }

  // One member of the resolver, with a reference held for its span.
  template <typename Member, typename... Arguments>
  HRESULT Call(Member member, Arguments... arguments) noexcept {
    CallGuard guard(this);
    return (resolver_.*member)(arguments...);
  }

  std::atomic<ULONG> refs_{1};
  vavizav::VeviVORIdezaz resolver_;
};

}  // namespace

HRESULT CreateResolverObject(REFIID iid, void** object) noexcept {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  VeviVORIdezazComObject* created = nullptr;
  try {
    created = new VeviVORIdezazComObject();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
  // The creation reference is dropped after the query: an unknown interface
  // destroys the object again.
  const HRESULT hr = created->QueryInterface(iid, object);
  created->Release();
  return hr;
}

}  // namespace vavizav::hosting
