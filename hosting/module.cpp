// The module's entry routine, its exports and the module-wide state.
//
// DllMain keeps the module handle. When the module is unloaded by FreeLibrary
// (CoFreeUnusedLibraries after DllCanUnloadNow said S_OK, not at process exit)
// it also releases the cached type information, as Wine's own automation DLLs
// do; oleaut32 is still loaded then, since this module imports it. The
// component keeps no other per-thread or per-process state of its own here.

#include "module.h"

#include <oleauto.h>

#include <atomic>
#include <new>
#include <utility>

#include "class_factory.h"
#include "handles.h"
#include "registration.h"
#include "vavizav.h"

namespace vavizav::hosting {
namespace {

HMODULE g_module = nullptr;
std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};

// The type information of each dual interface of the library, published once
// by compare-and-swap; a thread that loses the race frees its copy.
struct CachedTypeInfo {
  const IID* iid;
  std::atomic<InterfaceTypeInfo*> info;
};
CachedTypeInfo g_typeInfos[] = {
    {&IID__VeviVORIdezaz, nullptr}, {&IID__Resolver, nullptr}, {&IID__Answer, nullptr},
    {&IID__Records, nullptr},       {&IID__Record, nullptr},
};

// For a dual interface the library holds the dispatch side under the IID; its
// function-table side is the type the dispatch side refers to as implemented
// type -1. ITypeInfo::Invoke must be given that side: on the dispatch side it
// would call back into our own IDispatch::Invoke.
HRESULT LoadInterfaceTypeInfo(REFIID iid, InterfaceTypeInfo** loaded) noexcept {
  *loaded = nullptr;
  std::wstring path;
  HRESULT hr = GetModulePath(path);
  if (FAILED(hr)) return hr;

  com_ptr<ITypeLib> library;
  hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.put());
  if (FAILED(hr)) return hr;
  com_ptr<ITypeInfo> dispatchView;
  hr = library->GetTypeInfoOfGuid(iid, dispatchView.put());
  if (FAILED(hr)) return hr;

  com_ptr<ITypeInfo> vtableView = dispatchView.copy();
  TYPEATTR* attributes = nullptr;
  hr = dispatchView->GetTypeAttr(&attributes);
  if (FAILED(hr)) return hr;
  const bool dispatchSide = attributes->typekind == TKIND_DISPATCH;
  dispatchView->ReleaseTypeAttr(attributes);
  if (dispatchSide) {
    HREFTYPE vtableRef = 0;
    hr = dispatchView->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtableRef);
    if (SUCCEEDED(hr)) hr = dispatchView->GetRefTypeInfo(vtableRef, vtableView.put());
    if (FAILED(hr)) return hr;
  }

  // A failed allocation leaves the initialisers unevaluated: the com_ptrs still own.
  auto* info = new (std::nothrow) InterfaceTypeInfo{std::move(dispatchView), std::move(vtableView)};
  if (info == nullptr) return E_OUTOFMEMORY;
  *loaded = info;
  return S_OK;
}

}  // namespace

HRESULT GetModulePath(std::wstring& path) noexcept {
  try {
    // GetModuleFileNameW truncates silently; grow until the whole path fits.
    path.assign(MAX_PATH, L'\0');
    for (;;) {
      const DWORD length = GetModuleFileNameW(g_module, path.data(), static_cast<DWORD>(path.size()));
      if (length == 0) return HRESULT_FROM_WIN32(GetLastError());
      if (length < path.size()) {
        path.resize(length);
        return S_OK;
      }
      if (path.size() >= 32768) return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
      path.assign(path.size() * 2, L'\0');
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

void ObjectCreated() noexcept { g_objects.fetch_add(1, std::memory_order_relaxed); }
void ObjectDestroyed() noexcept { g_objects.fetch_sub(1, std::memory_order_release); }
void LockModule() noexcept { g_locks.fetch_add(1, std::memory_order_relaxed); }
void UnlockModule() noexcept { g_locks.fetch_sub(1, std::memory_order_release); }
bool ModuleInUse() noexcept {
  return g_objects.load(std::memory_order_acquire) != 0 || g_locks.load(std::memory_order_acquire) != 0;
}

HRESULT GetInterfaceTypeInfo(REFIID iid, const InterfaceTypeInfo** info) noexcept {
  *info = nullptr;
  CachedTypeInfo* cached = nullptr;
  for (CachedTypeInfo& entry : g_typeInfos) {
    if (IsEqualIID(*entry.iid, iid)) cached = &entry;
  }
  if (cached == nullptr) return TYPE_E_ELEMENTNOTFOUND;
  *info = cached->info.load(std::memory_order_acquire);
  if (*info != nullptr) return S_OK;
  InterfaceTypeInfo* loaded = nullptr;
  const HRESULT hr = LoadInterfaceTypeInfo(iid, &loaded);
  if (FAILED(hr)) return hr;
  InterfaceTypeInfo* expected = nullptr;
  if (cached->info.compare_exchange_strong(expected, loaded, std::memory_order_acq_rel)) {
    *info = loaded;
  } else {
    delete loaded;
    *info = expected;
  }
  return S_OK;
}

}  // namespace vavizav::hosting

using namespace vavizav::hosting;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      g_module = instance;
      break;
    case DLL_PROCESS_DETACH:
      // At process exit (reserved != null) other modules may already be gone:
      // leave the references to the process's end.
      if (reserved == nullptr) {
        for (CachedTypeInfo& entry : g_typeInfos) delete entry.info.exchange(nullptr);
      }
      break;
    default:
      break;
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  IClassFactory* factory = ClassFactoryFor(clsid);
  if (factory == nullptr) return CLASS_E_CLASSNOTAVAILABLE;
  return factory->QueryInterface(iid, object);
}

STDAPI DllCanUnloadNow() { return ModuleInUse() ? S_FALSE : S_OK; }

STDAPI DllRegisterServer() { return RegisterServer(RegistrationScope::Machine); }

STDAPI DllUnregisterServer() { return UnregisterServer(RegistrationScope::Machine); }

// regsvr32 /n /i:user calls DllInstall(TRUE, L"user"), and /u /n /i:user
// DllInstall(FALSE, L"user"): registration for the current user, no
// administrator rights needed. regsvr32 /i without /n calls it after
// DllRegisterServer with an empty command line: the machine-wide registration
// again, which is idempotent.
STDAPI DllInstall(BOOL install, PCWSTR commandLine) {
  RegistrationScope scope = RegistrationScope::Machine;
  if (!ParseInstallScope(commandLine, scope)) return E_INVALIDARG;
  return install ? RegisterServer(scope) : UnregisterServer(scope);
}
