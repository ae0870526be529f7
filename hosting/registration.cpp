// The entries, under Software\Classes of HKEY_LOCAL_MACHINE (machine-wide) or
// of HKEY_CURRENT_USER (this user only); HKEY_CLASSES_ROOT merges the two, the
// user's entries first. For each creatable class:
//
//   Vavizav.VeviVORIdezaz                    = Vavizav.VeviVORIdezaz
//     CLSID                                  = {class id}
//   Vavizav.Resolver                         = Vavizav.Resolver
//     CLSID                                  = {class id}
//     CurVer                                 = Vavizav.Resolver.1
//   Vavizav.Resolver.1                       = Vavizav.Resolver
//     CLSID                                  = {class id}
//   CLSID\{class id}                         = its ProgID
//     InprocServer32                         = full path of this module
//       ThreadingModel                       = Apartment
//     ProgID                                 = its (versioned) ProgID
//     VersionIndependentProgID               = Vavizav.Resolver (Resolver only)
//     TypeLib                                = {library id}
//     Version                                = 2.0
//
// and the type library, registered by oleaut32 as 2.0, locale 0, at the
// module's path under the key of the module's bitness (win32 or win64).
// oleaut32 also registers the dual interfaces under Interface\ with the
// automation marshaller, so calls from other apartments are marshalled from
// the type library; the module needs no proxy/stub code of its own. Every
// name, GUID and version comes from the generated vavizav_identity.h.
//
// On 64-bit Windows the registry has a view per bitness. CLSID (and Interface)
// keys are per view: a 32-bit module's land under WOW6432Node, the 64-bit
// module's in the native view, and each process finds the class of its own
// bitness. Class-name and TypeLib keys are shared by both views. Both modules
// can be registered side by side; unregistering one leaves the shared keys to
// the other while the other's class is still registered.

#include "hosting/registration.h"

#include <oleauto.h>

#include <new>
#include <string>

#include "hosting/module.h"
#include "hosting/registry_key.h"
#include "runtime/handles.h"
#include "vavizav.h"
#include "vavizav_identity.h"

namespace vavizav::hosting {
namespace {

using namespace vavizav::identity;

constexpr wchar_t CLASSES_KEY[] = L"Software\\Classes";

// A creatable class: its CLSID, the ProgID its class key names, and, when
// that one carries a version, the version-independent ProgID besides.
struct ClassIdentity {
  const wchar_t* Clsid;
  const wchar_t* ProgId;
  const wchar_t* VersionIndependentProgId;  // nullptr: ProgId has no version
};
constexpr ClassIdentity CLASSES[] = {
    {VEVI_CLSID, VEVI_PROGID, nullptr},
    {RESOLVER_CLSID, RESOLVER_VERSIONED_PROGID, RESOLVER_PROGID},
};

// The library's interfaces (the duals and the events' dispinterface), for the
// user scope's Interface keys.
struct InterfaceIdentity {
  const wchar_t* Iid;
  const wchar_t* Name;
  const wchar_t* ProxyStub;  // the marshaller RegisterTypeLib would name
};
constexpr InterfaceIdentity INTERFACES[] = {
    {VEVI_IID, VEVI_INTERFACE, AUTOMATION_MARSHALLER},       {RESOLVER_IID, RESOLVER_INTERFACE, AUTOMATION_MARSHALLER},
    {ANSWER_IID, ANSWER_INTERFACE, AUTOMATION_MARSHALLER},   {RECORDS_IID, RECORDS_INTERFACE, AUTOMATION_MARSHALLER},
    {RECORD_IID, RECORD_INTERFACE, AUTOMATION_MARSHALLER},   {BATCH_IID, BATCH_INTERFACE, AUTOMATION_MARSHALLER},
    {EVENTS_IID, EVENTS_INTERFACE, DISPATCH_MARSHALLER},
};

// This module's bitness and the registry view of the other one. On 32-bit
// Windows there is one view and the flag is ignored.
#ifdef _WIN64
constexpr SYSKIND OWN_SYSKIND = SYS_WIN64;
constexpr wchar_t OWN_SYSKIND_KEY[] = L"win64";
constexpr REGSAM OTHER_VIEW = KEY_WOW64_32KEY;
#else
constexpr SYSKIND OWN_SYSKIND = SYS_WIN32;
constexpr wchar_t OWN_SYSKIND_KEY[] = L"win32";
constexpr REGSAM OTHER_VIEW = KEY_WOW64_64KEY;
#endif

std::wstring ClassKey(const ClassIdentity& identity) { return std::wstring(L"CLSID\\") + identity.Clsid; }
std::wstring LibraryKey() { return std::wstring(L"TypeLib\\") + LIBID; }
std::wstring TypeLibVersionKey() { return LibraryKey() + L"\\" + TYPELIB_VERSION; }
// The key that names this module's file as the type library: locale 0, own bitness.
std::wstring OwnTypeLibPathKey() { return TypeLibVersionKey() + L"\\0\\" + OWN_SYSKIND_KEY; }

HKEY ScopeRoot(RegistrationScope scope) noexcept {
  return scope == RegistrationScope::User ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

// Creates `path` with `value` as its default value and, if `name` is given,
// one named value besides.
HRESULT WriteKey(HKEY classes, const std::wstring& path, const wchar_t* value, const wchar_t* name = nullptr,
                 const wchar_t* namedValue = nullptr) noexcept {
  runtime::unique_hkey key;
  HRESULT hr = CreateRegistryKey(classes, path.c_str(), KEY_WRITE, key);
  if (SUCCEEDED(hr)) hr = SetRegistryString(key.get(), nullptr, value);
  if (SUCCEEDED(hr) && name != nullptr) hr = SetRegistryString(key.get(), name, namedValue);
  return hr;
}

// The class-name keys of one class: the ProgID and, for a versioned one,
// the version-independent ProgID that names it as its current version. Both
// read as the class's plain name.
HRESULT WriteProgIds(HKEY classes, const ClassIdentity& identity) {
  const wchar_t* plainName = identity.VersionIndependentProgId ? identity.VersionIndependentProgId : identity.ProgId;
  const std::wstring progIdKey = identity.ProgId;
  HRESULT hr = WriteKey(classes, progIdKey, plainName);
  if (SUCCEEDED(hr)) hr = WriteKey(classes, progIdKey + L"\\CLSID", identity.Clsid);
  if (SUCCEEDED(hr) && identity.VersionIndependentProgId) {
    const std::wstring independentKey = identity.VersionIndependentProgId;
    hr = WriteKey(classes, independentKey, plainName);
    if (SUCCEEDED(hr)) hr = WriteKey(classes, independentKey + L"\\CLSID", identity.Clsid);
    if (SUCCEEDED(hr)) hr = WriteKey(classes, independentKey + L"\\CurVer", identity.ProgId);
  }
  return hr;
}

HRESULT WriteClassEntries(HKEY classes, const std::wstring& modulePath) {
  HRESULT hr = S_OK;
  for (const ClassIdentity& identity : CLASSES) {
    const std::wstring classKey = ClassKey(identity);
    const wchar_t* plainName = identity.VersionIndependentProgId ? identity.VersionIndependentProgId : identity.ProgId;
    if (SUCCEEDED(hr)) hr = WriteProgIds(classes, identity);
    if (SUCCEEDED(hr)) hr = WriteKey(classes, classKey, plainName);
    if (SUCCEEDED(hr)) {
      hr = WriteKey(classes, classKey + L"\\InprocServer32", modulePath.c_str(), L"ThreadingModel", THREADING_MODEL);
    }
    if (SUCCEEDED(hr)) hr = WriteKey(classes, classKey + L"\\ProgID", identity.ProgId);
    if (SUCCEEDED(hr) && identity.VersionIndependentProgId) {
      hr = WriteKey(classes, classKey + L"\\VersionIndependentProgID", identity.VersionIndependentProgId);
    }
    if (SUCCEEDED(hr)) hr = WriteKey(classes, classKey + L"\\TypeLib", LIBID);
    if (SUCCEEDED(hr)) hr = WriteKey(classes, classKey + L"\\Version", TYPELIB_VERSION);
  }
  return hr;
}

// The machine's type library registration is oleaut32's (RegisterTypeLib).
// For the user scope the same keys are written here, under the user's
// Software\Classes: Wine's RegisterTypeLibForUser and UnRegisterTypeLibForUser
// work on the machine's keys, and even with HKEY_CLASSES_ROOT mapped to the
// user's classes Wine's oleaut32 writes and deletes the interface's entries in
// the machine's other view. Writing them directly behaves the same on Windows
// and Wine and never touches the machine's keys.
std::wstring InterfaceKey(const InterfaceIdentity& identity) { return std::wstring(L"Interface\\") + identity.Iid; }

HRESULT WriteUserTypeLibEntries(HKEY classes, const std::wstring& modulePath) {
  // The module's folder, as RegisterTypeLib writes it: no final backslash.
  const size_t separator = modulePath.find_last_of(L'\\');
  const std::wstring folder = separator == std::wstring::npos ? std::wstring() : modulePath.substr(0, separator);
  const std::wstring version = TypeLibVersionKey();
  HRESULT hr = WriteKey(classes, version, LIBRARY_NAME);
  if (SUCCEEDED(hr)) hr = WriteKey(classes, version + L"\\FLAGS", L"0");
  if (SUCCEEDED(hr)) hr = WriteKey(classes, version + L"\\HELPDIR", folder.c_str());
  if (SUCCEEDED(hr)) hr = WriteKey(classes, OwnTypeLibPathKey(), modulePath.c_str());
  for (const InterfaceIdentity& identity : INTERFACES) {
    const std::wstring interfaceKey = InterfaceKey(identity);
    if (SUCCEEDED(hr)) hr = WriteKey(classes, interfaceKey, identity.Name);
    if (SUCCEEDED(hr)) hr = WriteKey(classes, interfaceKey + L"\\ProxyStubClsid", identity.ProxyStub);
    if (SUCCEEDED(hr)) hr = WriteKey(classes, interfaceKey + L"\\ProxyStubClsid32", identity.ProxyStub);
    if (SUCCEEDED(hr)) hr = WriteKey(classes, interfaceKey + L"\\TypeLib", LIBID, L"Version", TYPELIB_VERSION);
  }
  return hr;
}

HRESULT RegisterTypeLibrary(RegistrationScope scope, HKEY classes, const std::wstring& modulePath) {
  runtime::com_ptr<ITypeLib> library;
  HRESULT hr = LoadTypeLibEx(modulePath.c_str(), REGKIND_NONE, library.put());
  if (FAILED(hr)) return hr;
  if (scope == RegistrationScope::User) return WriteUserTypeLibEntries(classes, modulePath);
  // RegisterTypeLib takes non-const strings but only reads them.
  std::wstring path = modulePath;
  return RegisterTypeLib(library.get(), path.data(), nullptr);
}

// True while the module of the other bitness is registered in this scope: its
// class key in the other view names an in-process server.
bool OtherBitnessRegistered(HKEY scopeRoot) noexcept {
  try {
    const std::wstring key = std::wstring(CLASSES_KEY) + L"\\" + ClassKey(CLASSES[0]) + L"\\InprocServer32";
    runtime::unique_hkey opened;
    return RegOpenKeyExW(scopeRoot, key.c_str(), 0, KEY_READ | OTHER_VIEW, opened.put()) == ERROR_SUCCESS;
  } catch (...) {
    return true;  // when in doubt, keep what may be shared
  }
}

// Removes this module's type library registration. With the other bitness
// still registered only the key naming this module's file goes: oleaut32's
// unregistration would take the shared library key and the interface's
// marshalling entries with it.
HRESULT UnregisterTypeLibrary(RegistrationScope scope, HKEY classes, bool otherStays) {
  const std::wstring ownKey = OwnTypeLibPathKey();
  if (!RegistryKeyExists(classes, ownKey.c_str())) return S_OK;
  if (otherStays) return DeleteRegistryTree(classes, ownKey.c_str());
  if (scope == RegistrationScope::User) {
    HRESULT interfaceResult = S_OK;
    for (const InterfaceIdentity& identity : INTERFACES) {
      const HRESULT hr = DeleteRegistryTree(classes, InterfaceKey(identity).c_str());
      if (SUCCEEDED(interfaceResult)) interfaceResult = hr;
    }
    const HRESULT versionResult = DeleteRegistryTree(classes, TypeLibVersionKey().c_str());
    // The library's key goes too unless another version of it is registered.
    RegDeleteKeyW(classes, LibraryKey().c_str());  // fails harmlessly while not empty
    return FAILED(interfaceResult) ? interfaceResult : versionResult;
  }
  return UnRegisterTypeLib(LIBID_Vavizav, TYPELIB_MAJOR, TYPELIB_MINOR, 0, OWN_SYSKIND);
}

HRESULT OpenClasses(RegistrationScope scope, runtime::unique_hkey& classes) noexcept {
  return CreateRegistryKey(ScopeRoot(scope), CLASSES_KEY, KEY_READ | KEY_WRITE | DELETE, classes);
}

HRESULT Unregister(RegistrationScope scope, HKEY classes) {
  // Our class keys go first, so that on 32-bit Windows, where the other
  // view is this one, the other bitness is found not registered.
  HRESULT classResult = S_OK;
  for (const ClassIdentity& identity : CLASSES) {
    const HRESULT hr = DeleteRegistryTree(classes, ClassKey(identity).c_str());
    if (SUCCEEDED(classResult)) classResult = hr;
  }
  const bool otherStays = OtherBitnessRegistered(ScopeRoot(scope));
  const HRESULT typeLibResult = UnregisterTypeLibrary(scope, classes, otherStays);
  HRESULT progIdResult = S_OK;
  if (!otherStays) {
    for (const ClassIdentity& identity : CLASSES) {
      HRESULT hr = DeleteRegistryTree(classes, identity.ProgId);
      if (SUCCEEDED(hr) && identity.VersionIndependentProgId) {
        hr = DeleteRegistryTree(classes, identity.VersionIndependentProgId);
      }
      if (SUCCEEDED(progIdResult)) progIdResult = hr;
    }
  }
  if (FAILED(typeLibResult)) return typeLibResult;
  return FAILED(classResult) ? classResult : progIdResult;
}

}  // namespace

HRESULT RegisterServer(RegistrationScope scope) noexcept {
  try {
    std::wstring modulePath;
    HRESULT hr = GetModulePath(modulePath);
    if (FAILED(hr)) return hr;
    runtime::unique_hkey classes;
    hr = OpenClasses(scope, classes);
    if (FAILED(hr)) return hr;
    hr = WriteClassEntries(classes.get(), modulePath);
    if (SUCCEEDED(hr)) hr = RegisterTypeLibrary(scope, classes.get(), modulePath);
    if (FAILED(hr)) Unregister(scope, classes.get());
    return hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

HRESULT UnregisterServer(RegistrationScope scope) noexcept {
  try {
    runtime::unique_hkey classes;
    const HRESULT hr = OpenClasses(scope, classes);
    if (FAILED(hr)) return hr;
    return Unregister(scope, classes.get());
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

bool ParseInstallScope(const wchar_t* commandLine, RegistrationScope& scope) noexcept {
  if (commandLine == nullptr || commandLine[0] == L'\0' || lstrcmpiW(commandLine, L"machine") == 0) {
    scope = RegistrationScope::Machine;
    return true;
  }
  if (lstrcmpiW(commandLine, L"user") == 0) {
    scope = RegistrationScope::User;
    return true;
  }
  return false;
}

}  // namespace vavizav::hosting
