// Module-wide state of Vavizav.dll: its handle and path, the counts that
// decide DllCanUnloadNow, and the type information of the library's dual
// interfaces read from the type library embedded in the module. The exports
// (exports.cpp) read and set it.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>

#include "runtime/handles.h"

namespace vavizav::hosting {

// DllMain's attach: the module's handle. Its detach by FreeLibrary (not at
// process exit): the cached type information is released.
void ModuleLoaded(HMODULE module) noexcept;
void ModuleUnloading() noexcept;

HMODULE ModuleHandle() noexcept;

// Full path of this module as the loader knows it (not of the host process).
HRESULT GetModulePath(std::wstring& path) noexcept;

// Live COM objects and outstanding IClassFactory::LockServer(TRUE) calls.
// Objects may live in several apartments at once, so both are atomic.
void ObjectCreated() noexcept;
void ObjectDestroyed() noexcept;
void LockModule() noexcept;
void UnlockModule() noexcept;
bool ModuleInUse() noexcept;

// A dual interface as the embedded type library describes it, loaded on first use
// and kept until the module is unloaded; the caller borrows the pointers
// (no reference is added for it). `dispatchView` is the type information handed to clients (the
// dispatch side of the dual interface); `vtableView` is its function-table side,
// through which ITypeInfo::Invoke calls the members directly.
struct InterfaceTypeInfo {
  runtime::com_ptr<ITypeInfo> dispatchView;
  runtime::com_ptr<ITypeInfo> vtableView;
};
// `iid` is any dual interface of the library (_VeviVORIdezaz, _Resolver,
// _Answer, _Records, _Record); TYPE_E_ELEMENTNOTFOUND for any other IID.
HRESULT GetInterfaceTypeInfo(REFIID iid, const InterfaceTypeInfo** info) noexcept;

// Any type of the embedded library by its GUID (a coclass, the events'
// dispinterface), read afresh: for the rare callers that ask.
HRESULT GetLibraryTypeInfo(REFGUID guid, ITypeInfo** info) noexcept;

}  // namespace vavizav::hosting
