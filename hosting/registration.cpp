// The entries, under HKEY_LOCAL_MACHINE\Software\Classes (the machine half of
// HKEY_CLASSES_ROOT; a 32-bit module on 64-bit Windows lands in its 32-bit view):
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
// and the type library, registered by oleaut32 as 2.0, locale 0, win32, at the
// module's path. oleaut32 also registers _VeviVORIdezaz under Interface\ with
// the automation marshaller, so calls from other apartments are marshalled
// from the type library; the module needs no proxy/stub code of its own.

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

std::wstring GuidText(REFGUID guid) {
  wchar_t text[39] = {};
  StringFromGUID2(guid, text, 39);
  return text;
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
  const std::wstring classKey = L"CLSID\\" + clsid;

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

HRESULT RegisterTypeLibrary(const std::wstring& modulePath) {
  com_ptr<ITypeLib> library;
  HRESULT hr = LoadTypeLibEx(modulePath.c_str(), REGKIND_NONE, library.put());
  if (FAILED(hr)) return hr;
  // RegisterTypeLib takes non-const strings but only reads them.
  std::wstring path = modulePath;
  return RegisterTypeLib(library.get(), path.data(), nullptr);
}

HRESULT UnregisterTypeLibrary() {
  const std::wstring versionKey = L"TypeLib\\" + GuidText(LIBID_Vavizav) + L"\\" + TYPELIB_VERSION;
  if (!RegistryKeyExists(HKEY_CLASSES_ROOT, versionKey.c_str())) return S_OK;
  return UnRegisterTypeLib(LIBID_Vavizav, TYPELIB_MAJOR, TYPELIB_MINOR, 0, SYS_WIN32);
}

HRESULT RemoveClassEntries(HKEY classes) {
  HRESULT first = DeleteRegistryTree(classes, PROG_ID);
  const std::wstring classKey = L"CLSID\\" + GuidText(CLSID_VeviVORIdezaz);
  const HRESULT hr = DeleteRegistryTree(classes, classKey.c_str());
  return FAILED(first) ? first : hr;
}

HRESULT OpenClasses(unique_hkey& classes) noexcept {
  return CreateRegistryKey(HKEY_LOCAL_MACHINE, CLASSES_KEY, KEY_READ | KEY_WRITE | DELETE, classes);
}

}  // namespace

HRESULT RegisterServer() noexcept {
  try {
    std::wstring modulePath;
    HRESULT hr = GetModulePath(modulePath);
    if (FAILED(hr)) return hr;
    unique_hkey classes;
    hr = OpenClasses(classes);
    if (FAILED(hr)) return hr;
    hr = WriteClassEntries(classes.get(), modulePath);
    if (SUCCEEDED(hr)) hr = RegisterTypeLibrary(modulePath);
    if (FAILED(hr)) {
      UnregisterTypeLibrary();
      RemoveClassEntries(classes.get());
    }
    return hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

HRESULT UnregisterServer() noexcept {
  try {
    unique_hkey classes;
    HRESULT hr = OpenClasses(classes);
    if (FAILED(hr)) return hr;
    const HRESULT typeLibResult = UnregisterTypeLibrary();
    hr = RemoveClassEntries(classes.get());
    return FAILED(typeLibResult) ? typeLibResult : hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace vavizav::hosting
