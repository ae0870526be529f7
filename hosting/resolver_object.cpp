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
// messages while it waits, and a client may release its last reference from a
// handler that runs then; the object must outlive the lookup that runs in it.
class CallGuard {
 public:
  explicit CallGuard(IUnknown* object) noexcept : object_(object) { object_->AddRef(); }
  CallGuard(const CallGuard&) = delete;
  CallGuard& operator=(const CallGuard&) = delete;
  ~CallGuard() { object_->Release(); }

 private:
  IUnknown* object_;
};

// Script hosts pass their variables by reference (VT_BYREF | VT_VARIANT, or
// VT_BYREF with the variable's own type); Wine's VBScript does so even for the
// value of a property assignment. oleaut32's ITypeInfo::Invoke hands such an
// argument to an [in, out] parameter only when the referenced type already
// matches, and otherwise fails with DISP_E_TYPEMISMATCH: it converts by-value
// arguments only. So `o.TimeOut = n`, n holding an Integer, would fail. The
// members only ever read their arguments, so every by-reference argument is
// passed on as a copy of its value, which the type information then converts
// like any by-value argument; the caller's variables stay untouched either way.
class ArgumentValues {
 public:
  ArgumentValues() = default;
  ArgumentValues(const ArgumentValues&) = delete;
  ArgumentValues& operator=(const ArgumentValues&) = delete;
  // The copies belong to this caller of ITypeInfo::Invoke, whatever Invoke
  // left in them: for an [in, out] parameter given by value it may clear the
  // argument itself, or put another value there. So each is cleared once, here,
  // from the array Invoke saw (clearing a cleared variant does nothing); a
  // second owner of the same BSTR would free it twice.
  ~ArgumentValues() {
    for (VARIANT& value : values_) VariantClear(&value);
  }

  // `params` itself when no argument is by reference, else a copy of it with
  // values in place of references.
  HRESULT Prepare(DISPPARAMS* params, DISPPARAMS** prepared, UINT* argumentError) {
    *prepared = params;
    if (params == nullptr || params->cArgs == 0 || params->rgvarg == nullptr) return S_OK;
    bool anyReference = false;
    for (UINT i = 0; i < params->cArgs; ++i) anyReference = anyReference || (V_VT(&params->rgvarg[i]) & VT_BYREF);
    if (!anyReference) return S_OK;

    values_.resize(params->cArgs);  // value-initialised: VT_EMPTY
    for (UINT i = 0; i < params->cArgs; ++i) {
      const HRESULT hr = VariantCopyInd(&values_[i], &params->rgvarg[i]);
      if (FAILED(hr)) {
        // rgvarg runs from the last argument to the first.
        if (argumentError != nullptr) *argumentError = i;
        return hr == E_OUTOFMEMORY ? hr : DISP_E_TYPEMISMATCH;
      }
    }
    copy_ = *params;
    copy_.rgvarg = values_.data();
    *prepared = &copy_;
    return S_OK;
  }

 private:
  std::vector<VARIANT> values_;  // owned copies, laid out for DISPPARAMS
  DISPPARAMS copy_{};
};

// The members forward to the resolver object, which never lets a lookup's
// failure through: only bad pointers and exhausted memory come back as errors.
// Out-pointers are cleared before anything else, so a caller never sees an
// uninitialised value whatever the result.
class ResolverObject final : public _VeviVORIdezaz {
 public:
  ResolverObject() noexcept { ObjectCreated(); }
  ResolverObject(const ResolverObject&) = delete;
  ResolverObject& operator=(const ResolverObject&) = delete;

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
    const InterfaceTypeInfo* info = nullptr;
    const HRESULT hr = GetInterfaceTypeInfo(&info);
    if (FAILED(hr)) return hr;
    return info->vtableView->GetIDsOfNames(names, count, ids);
  }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* exception, UINT* argumentError) noexcept override {
    if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    const InterfaceTypeInfo* info = nullptr;
    HRESULT hr = GetInterfaceTypeInfo(&info);
    if (FAILED(hr)) return hr;
    try {
      ArgumentValues values;
      DISPPARAMS* prepared = nullptr;
      hr = values.Prepare(params, &prepared, argumentError);
      if (FAILED(hr)) return hr;
      return info->vtableView->Invoke(static_cast<_VeviVORIdezaz*>(this), id, flags, prepared, result, exception,
                                      argumentError);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }

  // _VeviVORIdezaz: the resolver object checks and clears the pointers itself.
  HRESULT STDMETHODCALLTYPE get_LastError(BSTR* value) noexcept override { return resolver_.get_LastError(value); }
  HRESULT STDMETHODCALLTYPE get_DNSServer(VARIANT* value) noexcept override { return resolver_.get_DNSServer(value); }
  HRESULT STDMETHODCALLTYPE put_DNSServer(VARIANT* vData) noexcept override { return resolver_.put_DNSServer(vData); }
  HRESULT STDMETHODCALLTYPE get_TimeOut(LONG* value) noexcept override { return resolver_.get_TimeOut(value); }
  HRESULT STDMETHODCALLTYPE put_TimeOut(LONG* vData) noexcept override { return resolver_.put_TimeOut(vData); }

  HRESULT STDMETHODCALLTYPE GetIPFromName(VARIANT* vIPAddr, BSTR* result) noexcept override {
    CallGuard guard(this);
    return resolver_.GetIPFromName(vIPAddr, result);
  }

  HRESULT STDMETHODCALLTYPE GetNameFromIP(VARIANT* vIPAddr, BSTR* result) noexcept override {
    CallGuard guard(this);
    return resolver_.GetNameFromIP(vIPAddr, result);
  }

 private:
  ~ResolverObject() { ObjectDestroyed(); }

  std::atomic<ULONG> refs_{1};
  vavizav::VeviVORIdezaz resolver_;
};

}  // namespace

HRESULT CreateResolverObject(REFIID iid, void** object) noexcept {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  ResolverObject* created = nullptr;
  try {
    created = new ResolverObject();
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
