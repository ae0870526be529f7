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
  EXPECT_FALSE(exists(L"Vavizav.VeviVORIdezaz")) << "the class name entry was left behind";
  EXPECT_FALSE(exists(std::wstring(L"TypeLib\\") + libid));
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, classKey.c_str());
}

}  // namespace
}  // namespace vavizav::testing
