// The DLL's entry routine and its exports: the class objects, the unload
// question, and registration machine-wide and per user.
//
// DllMain keeps the module handle. When the module is unloaded by FreeLibrary
// (CoFreeUnusedLibraries after DllCanUnloadNow said S_OK, not at process exit)
// it also releases the cached type information, as Wine's own automation DLLs
// do; oleaut32 is still loaded then, since this module imports it. The
// component keeps no other per-thread or per-process state of its own.
#include <windows.h>
#include <objbase.h>

#include "hosting/class_factory.h"
#include "hosting/module.h"
#include "hosting/registration.h"

using namespace vavizav::hosting;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      ModuleLoaded(instance);
      break;
    case DLL_PROCESS_DETACH:
      // At process exit (reserved != null) other modules may already be gone:
      // leave the references to the process's end.
      if (reserved == nullptr) ModuleUnloading();
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
