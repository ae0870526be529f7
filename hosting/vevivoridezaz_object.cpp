#include "vevivoridezaz_object.h"

#include <oleauto.h>

#include <atomic>
#include <new>
#include <vector>

#include "dispatch_arguments.h"
#include "type_info_dispatch.h"
#include "handles.h"
#include "module.h"
#include "vavizav.h"
#include "vevivoridezaz_members.h"

namespace vavizav::hosting {
namespace {

// The members forward to the class's members (vavizav::VeviVORIdezaz), which never lets a lookup's
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
    return TypeInfoOfInterface(IID__VeviVORIdezaz, index, typeInfo);
  }

  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) noexcept override {
    return IdsOfInterfaceNames(IID__VeviVORIdezaz, iid, names, count, ids);
  }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* exception, UINT* argumentError) noexcept override {
    return InvokeThroughTypeInfo(IID__VeviVORIdezaz, static_cast<_VeviVORIdezaz*>(this), id, iid, flags, params,
                                 result, exception, argumentError);
  }

  // _VeviVORIdezaz: the members check and clears the pointers itself.
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
  HRESULT STDMETHODCALLTYPE GetIPFromName(VARIANT* hostName, BSTR* result) noexcept override {
    return Call(&vavizav::VeviVORIdezaz::GetIPFromName, hostName, result);
  }
  HRESULT STDMETHODCALLTYPE GetNameFromIP(VARIANT* address, BSTR* result) noexcept override {
    return Call(&vavizav::VeviVORIdezaz::GetNameFromIP, address, result);
  }

 private:
  ~VeviVORIdezazComObject() { ObjectDestroyed(); }

  // One of the members, with a reference held for its span.
  template <typename Member, typename... Arguments>
  HRESULT Call(Member member, Arguments... arguments) noexcept {
    CallGuard guard(this);
    return (members_.*member)(arguments...);
  }

  std::atomic<ULONG> refs_{1};
  vavizav::VeviVORIdezaz members_;
};

}  // namespace

HRESULT CreateVeviVORIdezazObject(REFIID iid, void** object) noexcept {
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
