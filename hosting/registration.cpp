// The entries, under Software\Classes of HKEY_LOCAL_MACHINE (machine-wide) or
// of HKEY_CURRENT_USER (this user only); HKEY_CLASSES_ROOT merges the two, the
// user's entries first:
//
//   Vavizav.VeviVORIdezaz                    = Vavizav.VeviVORIdezaz
//     CLSID                                  = {class id}
//   CLSID\{class id}                         = Vavizav.VeviVORIdezaz
//     InprocServer32                         = full path of this module
//       ThreadingModel                       = Apartment
//     ProgID                                 = Vavizav.VeviVORIdezaz
//     TypeLib                                = {library id}
//     Version                                = 2.0
//
// and the type library, registered by oleaut32 as 2.0, locale 0, at the
// module's path under the key of the module's bitness (win32 or win64).
// oleaut32 also registers _VeviVORIdezaz under Interface\ with the automation
// marshaller, so calls from other apartments are marshalled from the type
// library; the module needs no proxy/stub code of its own.
//
// On 64-bit Windows the registry has a view per bitness. CLSID (and Interface)
// keys are per view: a 32-bit module's land under WOW6432Node, the 64-bit
// module's in the native view, and each process finds the class of its own
// bitness. Class-name and TypeLib keys are shared by both views. Both modules
// can be registered side by side; unregistering one leaves the shared keys to
// the other while the other's class is still registered.

#include "registration.h"

#include <oleauto.h>

#include <new>
#include <string>

#include "handles.h"
#include "module.h"
#include "registry_key.h"
#include "vavizav.h"

namespace vavizav::hosting {
namespace {

constexpr wchar_t CLASSES_KEY[] = L"Software\\Classes";
constexpr wchar_t PROG_ID[] = L"Vavizav.VeviVORIdezaz";
constexpr wchar_t THREADING_MODEL[] = L"Apartment";
constexpr wchar_t TYPELIB_VERSION[] = L"2.0";
constexpr WORD TYPELIB_MAJOR = 2;
constexpr WORD TYPELIB_MINOR = 0;

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

std::wstring GuidText(REFGUID guid) {
  wchar_t text[39] = {};
  StringFromGUID2(guid, text, 39);
  return text;
}

std::wstring ClassKey() { return L"CLSID\\" + GuidText(CLSID_VeviVORIdezaz); }
std::wstring LibraryKey() { return L"TypeLib\\" + GuidText(LIBID_Vavizav); }
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
  unique_hkey key;
  HRESULT hr = CreateRegistryKey(classes, path.c_str(), KEY_WRITE, key);
  if (SUCCEEDED(hr)) hr = SetRegistryString(key.get(), nullptr, value);
  if (SUCCEEDED(hr) && name != nullptr) hr = SetRegistryString(key.get(), name, namedValue);
  return hr;
}

HRESULT WriteClassEntries(HKEY classes, const std::wstring& modulePath) {
  const std::wstring clsid = GuidText(CLSID_VeviVORIdezaz);
  const std::wstring libid = GuidText(LIBID_Vavizav);
  const std::wstring progIdKey = PROG_ID;
  const std::wstring classKey = ClassKey();

  HRESULT hr = WriteKey(classes, progIdKey, PROG_ID);
  if (SUCCEEDED(hr)) hr = WriteKey(classes, progIdKey + L"\\CLSID", clsid.c_str());
  if (SUCCEEDED(hr)) hr = WriteKey(classes, classKey, PROG_ID);
  if (SUCCEEDED(hr)) {
    hr = WriteKey(classes, classKey + L"\\InprocServer32", modulePath.c_str(), L"ThreadingModel", THREADING_MODEL);
  }
  if (SUCCEEDED(hr)) hr = WriteKey(classes, classKey + L"\\ProgID", PROG_ID);
  if (SUCCEEDED(hr)) hr = WriteKey(classes, classKey + L"\\TypeLib", libid.c_str());
  if (SUCCEEDED(hr)) hr = WriteKey(classes, classKey + L"\\Version", TYPELIB_VERSION);
  return hr;
}

// The machine's type library registration is oleaut32's (RegisterTypeLib).
// For the user scope the same keys are written here, under the user's
// Software\Classes: Wine's RegisterTypeLibForUser and UnRegisterTypeLibForUser
// work on the machine's keys, and even with HKEY_CLASSES_ROOT mapped to the
// user's classes Wine's oleaut32 writes and deletes the interface's entries in
// the machine's other view. Writing them directly behaves the same on Windows
// and Wine and never touches the machine's keys.
constexpr wchar_t LIBRARY_NAME[] = L"Vavizav";
constexpr wchar_t INTERFACE_NAME[] = L"_VeviVORIdezaz";

std::wstring InterfaceKey() { return L"Interface\\" + GuidText(IID__VeviVORIdezaz); }

HRESULT WriteUserTypeLibEntries(HKEY classes, const std::wstring& modulePath) {
  const std::wstring libid = GuidText(LIBID_Vavizav);
  // The system's automation marshaller, which marshals from the type library.
  const std::wstring automationMarshaller = L"{00020424-0000-0000-C000-000000000046}";
  // The module's folder, as RegisterTypeLib writes it: no final backslash.
  const size_t separator = modulePath.find_last_of(L'\\');
  const std::wstring folder = separator == std::wstring::npos ? std::wstring() : modulePath.substr(0, separator);
  const std::wstring version = TypeLibVersionKey();
  const std::wstring interfaceKey = InterfaceKey();
  HRESULT hr = WriteKey(classes, version, LIBRARY_NAME);
  if (SUCCEEDED(hr)) hr = WriteKey(classes, version + L"\\FLAGS", L"0");
  if (SUCCEEDED(hr)) hr = WriteKey(classes, version + L"\\HELPDIR", folder.c_str());
  if (SUCCEEDED(hr)) hr = WriteKey(classes, OwnTypeLibPathKey(), modulePath.c_str());
  if (SUCCEEDED(hr)) hr = WriteKey(classes, interfaceKey, INTERFACE_NAME);
  if (SUCCEEDED(hr)) hr = WriteKey(classes, interfaceKey + L"\\ProxyStubClsid", automationMarshaller.c_str());
  if (SUCCEEDED(hr)) hr = WriteKey(classes, interfaceKey + L"\\ProxyStubClsid32", automationMarshaller.c_str());
  if (SUCCEEDED(hr)) hr = WriteKey(classes, interfaceKey + L"\\TypeLib", libid.c_str(), L"Version", TYPELIB_VERSION);
  return hr;
}

HRESULT RegisterTypeLibrary(RegistrationScope scope, HKEY classes, const std::wstring& modulePath) {
  com_ptr<ITypeLib> library;
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
    const std::wstring key = std::wstring(CLASSES_KEY) + L"\\" + ClassKey() + L"\\InprocServer32";
    unique_hkey opened;
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
    const HRESULT interfaceResult = DeleteRegistryTree(classes, InterfaceKey().c_str());
    const HRESULT versionResult = DeleteRegistryTree(classes, TypeLibVersionKey().c_str());
    // The library's key goes too unless another version of it is registered.
    RegDeleteKeyW(classes, LibraryKey().c_str());  // fails harmlessly while not empty
    return FAILED(interfaceResult) ? interfaceResult : versionResult;
  }
  return UnRegisterTypeLib(LIBID_Vavizav, TYPELIB_MAJOR, TYPELIB_MINOR, 0, OWN_SYSKIND);
}

HRESULT OpenClasses(RegistrationScope scope, unique_hkey& classes) noexcept {
  return CreateRegistryKey(ScopeRoot(scope), CLASSES_KEY, KEY_READ | KEY_WRITE | DELETE, classes);
}

HRESULT Unregister(RegistrationScope scope, HKEY classes) {
  // Our class key goes first, so that on 32-bit Windows, where the other
  // view is this one, the other bitness is found not registered.
  const HRESULT classResult = DeleteRegistryTree(classes, ClassKey().c_str());
  const bool otherStays = OtherBitnessRegistered(ScopeRoot(scope));
  const HRESULT typeLibResult = UnregisterTypeLibrary(scope, classes, otherStays);
  const HRESULT progIdResult = otherStays ? S_OK : DeleteRegistryTree(classes, PROG_ID);
  if (FAILED(typeLibResult)) return typeLibResult;
  return FAILED(classResult) ? classResult : progIdResult;
}

}  // namespace

HRESULT RegisterServer(RegistrationScope scope) noexcept {
  try {
    std::wstring modulePath;
    HRESULT hr = GetModulePath(modulePath);
    if (FAILED(hr)) return hr;
    unique_hkey classes;
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
    unique_hkey classes;
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
