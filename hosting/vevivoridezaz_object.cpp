#include "hosting/vevivoridezaz_object.h"

#include <oleauto.h>

#include "hosting/dispatch_arguments.h"
#include "hosting/dual_object.h"
#include "hosting/vevivoridezaz_members.h"
#include "vavizav.h"

namespace vavizav::hosting {
namespace {

// IUnknown, IDispatch and _VeviVORIdezaz only: the first class answers no
// ISupportErrorInfo, since its members raise no errors.
constexpr InterfaceEntry VEVIVORIDEZAZ_INTERFACES[] = {
    {&IID_IUnknown, 0}, {&IID_IDispatch, 0}, {&IID__VeviVORIdezaz, 0}};

// The members forward to the class's members (vavizav::hosting::VeviVORIdezaz), which
// never let a lookup's failure through: only bad pointers and exhausted memory
// come back as errors. Out-pointers are cleared before anything else, so a
// caller never sees an uninitialised value whatever the result. IDispatch goes
// through the type information of the embedded type library, so late-bound
// callers reach exactly the function-table members: a put of LastError finds
// no member there and fails with DISP_E_MEMBERNOTFOUND.
class VeviVORIdezazComObject final : public DispatchObject<_VeviVORIdezaz> {
 public:
  VeviVORIdezazComObject() noexcept : DispatchObject(VEVIVORIDEZAZ_INTERFACES) {}

  // _VeviVORIdezaz: the members check and clear the pointers themselves.
  // Every member holds a reference for its span: converting a put's value may
  // run a client's default property, and a lookup dispatches the thread's
  // messages; either may release the client's last reference.
  HRESULT STDMETHODCALLTYPE get_LastError(BSTR* value) noexcept override {
    return Call(&vavizav::hosting::VeviVORIdezaz::get_LastError, value);
  }
  HRESULT STDMETHODCALLTYPE get_DNSServer(VARIANT* value) noexcept override {
    return Call(&vavizav::hosting::VeviVORIdezaz::get_DNSServer, value);
  }
  HRESULT STDMETHODCALLTYPE put_DNSServer(VARIANT* vData) noexcept override {
    return Call(&vavizav::hosting::VeviVORIdezaz::put_DNSServer, vData);
  }
  HRESULT STDMETHODCALLTYPE get_TimeOut(LONG* value) noexcept override {
    return Call(&vavizav::hosting::VeviVORIdezaz::get_TimeOut, value);
  }
  HRESULT STDMETHODCALLTYPE put_TimeOut(LONG* vData) noexcept override {
    return Call(&vavizav::hosting::VeviVORIdezaz::put_TimeOut, vData);
  }
  HRESULT STDMETHODCALLTYPE GetIPFromName(VARIANT* hostName, BSTR* result) noexcept override {
    return Call(&vavizav::hosting::VeviVORIdezaz::GetIPFromName, hostName, result);
  }
  HRESULT STDMETHODCALLTYPE GetNameFromIP(VARIANT* address, BSTR* result) noexcept override {
    return Call(&vavizav::hosting::VeviVORIdezaz::GetNameFromIP, address, result);
  }

 private:
  // One of the members, with a reference held for its span.
  template <typename Member, typename... Arguments>
  HRESULT Call(Member member, Arguments... arguments) noexcept {
    CallGuard guard(this);
    return (members_.*member)(arguments...);
  }

  vavizav::hosting::VeviVORIdezaz members_;
};

}  // namespace

HRESULT CreateVeviVORIdezazObject(REFIID iid, void** object) noexcept {
  return CreateComObject<VeviVORIdezazComObject>(iid, object);
}

}  // namespace vavizav::hosting
