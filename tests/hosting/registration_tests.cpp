// DllRegisterServer when the registry refuses part of the registration.
#include <gtest/gtest.h>

#include <string>

#include "module_fixture.h"

namespace vavizav::testing {
namespace {

// A registration that cannot be written is reported through the result and
// leaves nothing behind. The registry refuses a lasting subkey below a
// volatile key, so a volatile class key makes the InprocServer32 entry fail
// after the class-name entries were written. (The prefix ends up unregistered;
// the client tests register again.)
TEST(Registration, AFailedRegistrationIsReportedAndUndone) {
  const LoadedModule& module = Module();
  ASSERT_NE(module.RegisterServer, nullptr);
  ASSERT_NE(module.UnregisterServer, nullptr);
  ASSERT_EQ(module.UnregisterServer(), S_OK);

  wchar_t clsid[39] = {};
  StringFromGUID2(CLSID_VeviVORIdezaz, clsid, 39);
  const std::wstring classKey = std::wstring(L"Software\\Classes\\CLSID\\") + clsid;
  HKEY blocker = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, classKey.c_str(), 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                            nullptr, &blocker, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(blocker);

  EXPECT_EQ(module.RegisterServer(), HRESULT_FROM_WIN32(ERROR_CHILD_MUST_BE_VOLATILE));
  auto exists = [](const std::wstring& key) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
    RegCloseKey(opened);
    return true;
  };
  wchar_t libid[39] = {};
  StringFromGUID2(LIBID_Vavizav, libid, 39);
  // In a 64-bit prefix the 32-bit module may be registered beside this one:
  // the shared entries are its too and stay; this module's type library goes.
  HKEY other = nullptr;
  const bool otherRegistered =
      sizeof(void*) == 8 && RegOpenKeyExW(HKEY_LOCAL_MACHINE, (classKey + L"\\InprocServer32").c_str(), 0,
                                          KEY_READ | KEY_WOW64_32KEY, &other) == ERROR_SUCCESS;
  if (other != nullptr) RegCloseKey(other);
  EXPECT_EQ(exists(L"Vavizav.VeviVORIdezaz"), otherRegistered) << "the class name entry";
  EXPECT_EQ(exists(std::wstring(L"TypeLib\\") + libid), otherRegistered);
  EXPECT_FALSE(
      exists(std::wstring(L"TypeLib\\") + libid + (sizeof(void*) == 8 ? L"\\2.0\\0\\win64" : L"\\2.0\\0\\win32")));
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, classKey.c_str());
}

// DllInstall knows the scopes "user" and "machine" (or none); anything else is
// refused before the registry is touched.
TEST(Registration, DllInstallRefusesAnUnknownScope) {
  using InstallFunction = HRESULT(STDAPICALLTYPE*)(BOOL, PCWSTR);
  const auto install = reinterpret_cast<InstallFunction>(
      reinterpret_cast<void*>(GetProcAddress(Module().Handle, "DllInstall")));
  ASSERT_NE(install, nullptr);
  for (const wchar_t* line : {L"everyone", L"user ", L"/user", L"users"}) {
    EXPECT_EQ(install(TRUE, line), E_INVALIDARG) << ::testing::PrintToString(std::wstring(line));
    EXPECT_EQ(install(FALSE, line), E_INVALIDARG) << ::testing::PrintToString(std::wstring(line));
  }
  HKEY opened = nullptr;
  EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Classes\\Vavizav.VeviVORIdezaz", 0, KEY_READ, &opened),
            ERROR_SUCCESS);
  if (opened != nullptr) RegCloseKey(opened);
}

}  // namespace
}  // namespace vavizav::testing
