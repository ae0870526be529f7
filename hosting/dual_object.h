// The COM identity every object of the library shares: reference count,
// module object count, and IDispatch through the type information of its dual
// interface, behind the same door as VeviVORIdezazComObject (the caller's
// arguments copied before conversion, a reference held for the span of a
// call). Errors a member raises carry their text through IErrorInfo, which
// ITypeInfo::Invoke turns into the caller's EXCEPINFO.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <new>
#include <string_view>

#include "module.h"
#include "type_info_dispatch.h"

namespace vavizav::hosting {

// Sets the thread's error information (source `source`, interface `iid`,
// description `text`) and returns `status`, for a member to return.
HRESULT RaiseError(HRESULT status, REFIID iid, const wchar_t* source, std::wstring_view text) noexcept;

template <typename Interface>
class DualObject : public Interface, public ISupportErrorInfo {
 public:
  explicit DualObject(REFIID iid) noexcept : iid_(iid) { ObjectCreated(); }
  DualObject(const DualObject&) = delete;
  DualObject& operator=(const DualObject&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) noexcept override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, iid_)) {
      *object = static_cast<Interface*>(this);
    } else if (IsEqualIID(iid, IID_ISupportErrorInfo)) {
      *object = static_cast<ISupportErrorInfo*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() noexcept override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
  ULONG STDMETHODCALLTYPE Release() noexcept override {
    const ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) noexcept override {
    return IsEqualIID(iid, iid_) ? S_OK : S_FALSE;
  }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) noexcept override {
    if (count == nullptr) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** typeInfo) noexcept override {
    return TypeInfoOfInterface(iid_, index, typeInfo);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) noexcept override {
    return IdsOfInterfaceNames(iid_, iid, names, count, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* exception, UINT* argumentError) noexcept override {
    return InvokeThroughTypeInfo(iid_, static_cast<Interface*>(this), id, iid, flags, params, result, exception,
                                 argumentError);
  }

 protected:
  virtual ~DualObject() { ObjectDestroyed(); }

 private:
  std::atomic<ULONG> refs_{1};
  const IID& iid_;
};

// Makes a new `Object` from `arguments` and hands out its interface `iid`;
// the creation reference is dropped after the query.
template <typename Object, typename... Arguments>
HRESULT CreateDualObject(REFIID iid, void** out, Arguments&&... arguments) noexcept {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  Object* created = nullptr;
  try {
    created = new Object(std::forward<Arguments>(arguments)...);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
  const HRESULT hr = created->QueryInterface(iid, out);
  created->Release();
  return hr;
}

}  // namespace vavizav::hosting
