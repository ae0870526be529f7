#include "class_factory.h"

#include "module.h"
#include "resolver_object.h"
#include "vevivoridezaz_object.h"
#include "vavizav.h"

namespace vavizav::hosting {
namespace {

using CreateFunction = HRESULT (*)(REFIID iid, void** object) noexcept;

// One static class object per creatable class.
class ClassFactory final : public IClassFactory {
 public:
  explicit constexpr ClassFactory(CreateFunction create) noexcept : create_(create) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) noexcept override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) return E_NOINTERFACE;
    *object = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  // A static object: the counts only have to look plausible to callers.
  ULONG STDMETHODCALLTYPE AddRef() noexcept override { return 2; }
  ULONG STDMETHODCALLTYPE Release() noexcept override { return 1; }

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
