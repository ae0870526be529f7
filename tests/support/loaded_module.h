// An in-process server loaded by path, without registration, and its entry
// points: what CoCreateInstance would do after finding the module in the
// registry, done by hand.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <string>

#include "runtime/handles.h"

namespace vavizav::testing {

class LoadedModule {
 public:
  explicit LoadedModule(const wchar_t* path) : Handle(::LoadLibraryW(path)) {
    if (!Handle) {
      problem_ = "LoadLibrary failed: error " + std::to_string(::GetLastError());
      return;
    }
    Entry(GetClassObject, "DllGetClassObject");
    Entry(CanUnloadNow, "DllCanUnloadNow");
    Entry(RegisterServer, "DllRegisterServer");
    Entry(UnregisterServer, "DllUnregisterServer");
    if (!GetClassObject) problem_ = "the module exports no DllGetClassObject";
  }
  // Kept loaded for the life of the process, as COM keeps a module in use.
  LoadedModule(const LoadedModule&) = delete;
  LoadedModule& operator=(const LoadedModule&) = delete;

  const std::string& Problem() const { return problem_; }

  // The class object of `clsid`; the failing HRESULT otherwise.
  HRESULT ClassObject(REFCLSID clsid, runtime::com_ptr<IClassFactory>& factory) const {
    factory.reset();
    if (!GetClassObject) return E_FAIL;
    return GetClassObject(clsid, IID_IClassFactory, factory.put_void());
  }

  HMODULE Handle = nullptr;
  HRESULT(STDAPICALLTYPE* GetClassObject)(REFCLSID, REFIID, void**) = nullptr;
  HRESULT(STDAPICALLTYPE* CanUnloadNow)() = nullptr;
  HRESULT(STDAPICALLTYPE* RegisterServer)() = nullptr;
  HRESULT(STDAPICALLTYPE* UnregisterServer)() = nullptr;

 private:
  template <typename Function>
  void Entry(Function& function, const char* name) {
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(Handle, name)));
  }

  std::string problem_;
};

}  // namespace vavizav::testing
