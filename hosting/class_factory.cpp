#include "hosting/class_factory.h"

#include "hosting/com_object.h"
#include "hosting/module.h"
#include "hosting/resolver_object.h"
#include "hosting/vevivoridezaz_object.h"
#include "vavizav.h"

namespace vavizav::hosting {
namespace {

using CreateFunction = HRESULT (*)(REFIID iid, void** object) noexcept;

constexpr InterfaceEntry FACTORY_INTERFACES[] = {{&IID_IUnknown, 0}, {&IID_IClassFactory, 0}};

// One static class object per creatable class.
class ClassFactory final : public ComObject<Lifetime::Static, IClassFactory> {
 public:
  explicit ClassFactory(CreateFunction create) noexcept : ComObject(FACTORY_INTERFACES), create_(create) {}

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) noexcept override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return create_(iid, object);
  }

  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) noexcept override {
    if (lock) {
      LockModule();
    } else {
      UnlockModule();
    }
    return S_OK;
  }

 private:
  CreateFunction create_;
};

ClassFactory g_vevivoridezazFactory(&CreateVeviVORIdezazObject);
ClassFactory g_resolverFactory(&CreateResolverObject);

}  // namespace

IClassFactory* ClassFactoryFor(REFCLSID clsid) noexcept {
  if (IsEqualCLSID(clsid, CLSID_VeviVORIdezaz)) return &g_vevivoridezazFactory;
  if (IsEqualCLSID(clsid, CLSID_Resolver)) return &g_resolverFactory;
  return nullptr;
}

}  // namespace vavizav::hosting
