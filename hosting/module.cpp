// The module-wide state: the module's handle, the counts of live objects and
// locks, and the type information read from the embedded type library. The
// DLL's entry routine and exports (exports.cpp) are its only writers besides
// the objects' counts.

#include "hosting/module.h"

#include <oleauto.h>

#include <atomic>
#include <new>
#include <utility>

#include "runtime/handles.h"
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
    {&IID__Records, nullptr},       {&IID__Record, nullptr},     {&IID__Batch, nullptr},
};

// For a dual interface the library holds the dispatch side under the IID; its
// function-table side is the type the dispatch side refers to as implemented
// type -1. ITypeInfo::Invoke must be given that side: on the dispatch side it
// would call back into our own IDispatch::Invoke.
// The type library embedded in this module, read afresh.
HRESULT LoadModuleTypeLib(runtime::com_ptr<ITypeLib>& library) noexcept {
  std::wstring path;
  const HRESULT hr = GetModulePath(path);
  if (FAILED(hr)) return hr;
  return LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.put());
}

HRESULT LoadInterfaceTypeInfo(REFIID iid, InterfaceTypeInfo** loaded) noexcept {
  *loaded = nullptr;
  runtime::com_ptr<ITypeLib> library;
  HRESULT hr = LoadModuleTypeLib(library);
  if (FAILED(hr)) return hr;
  runtime::com_ptr<ITypeInfo> dispatchView;
  hr = library->GetTypeInfoOfGuid(iid, dispatchView.put());
  if (FAILED(hr)) return hr;

  runtime::com_ptr<ITypeInfo> vtableView = dispatchView.copy();
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

void ModuleLoaded(HMODULE module) noexcept { g_module = module; }
HMODULE ModuleHandle() noexcept { return g_module; }

void ModuleUnloading() noexcept {
  for (CachedTypeInfo& entry : g_typeInfos) delete entry.info.exchange(nullptr);
}

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

HRESULT GetLibraryTypeInfo(REFGUID guid, ITypeInfo** info) noexcept {
  if (info == nullptr) return E_POINTER;
  *info = nullptr;
  runtime::com_ptr<ITypeLib> library;
  const HRESULT hr = LoadModuleTypeLib(library);
  if (FAILED(hr)) return hr;
  return library->GetTypeInfoOfGuid(guid, info);
}

}  // namespace vavizav::hosting

