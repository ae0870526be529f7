// The image of Vavizav.dll loaded by path: its exports, its imports and its
// version resource.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>
#include <vector>

#include "vavizav_version.h"

#include "module_fixture.h"

namespace vavizav::testing {
namespace {

const IMAGE_DATA_DIRECTORY& Directory(HMODULE module, int index) {
  const auto* base = reinterpret_cast<const BYTE*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  return nt->OptionalHeader.DataDirectory[index];
}

TEST(ModuleImage, ExportsTheFourEntryPointsAndDllInstallByUndecoratedName) {
  const HMODULE module = Module().Handle;
  ASSERT_NE(module, nullptr) << "LoadLibrary failed: " << GetLastError();
  const auto* base = reinterpret_cast<const BYTE*>(module);
  const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(
      base + Directory(module, IMAGE_DIRECTORY_ENTRY_EXPORT).VirtualAddress);
  const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
  std::set<std::string> exported;
  for (DWORD i = 0; i < exports->NumberOfNames; ++i) exported.insert(reinterpret_cast<const char*>(base + names[i]));
  EXPECT_EQ(exports->NumberOfFunctions, 5u);
  EXPECT_EQ(exported, (std::set<std::string>{"DllCanUnloadNow", "DllGetClassObject", "DllInstall", "DllRegisterServer",
                                             "DllUnregisterServer"}));
}

TEST(ModuleImage, ImportsNoMinGWRuntimeLibrary) {
  const HMODULE module = Module().Handle;
  ASSERT_NE(module, nullptr);
  const auto* base = reinterpret_cast<const BYTE*>(module);
  const auto* import = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(
      base + Directory(module, IMAGE_DIRECTORY_ENTRY_IMPORT).VirtualAddress);
  std::vector<std::string> imported;
  for (; import->Name != 0; ++import) {
    std::string name = reinterpret_cast<const char*>(base + import->Name);
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    imported.push_back(name);
  }
  EXPECT_FALSE(imported.empty());
  for (const std::string& name : imported) {
    for (const char* runtime : {"libgcc", "libstdc++", "libwinpthread", "mingwm"}) {
      EXPECT_EQ(name.find(runtime), std::string::npos) << name;
    }
  }
}

TEST(ModuleImage, VersionResource) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(VAVIZAV_DLL_PATH, &ignored);
  ASSERT_NE(size, 0u);
  std::vector<BYTE> data(size);
  ASSERT_TRUE(GetFileVersionInfoW(VAVIZAV_DLL_PATH, 0, size, data.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwSignature, VS_FFI_SIGNATURE);
  // The project version, from the generated header the resource script reads too.
  constexpr DWORD VERSION_MS = VAVIZAV_VERSION_MAJOR << 16 | VAVIZAV_VERSION_MINOR;
  constexpr DWORD VERSION_LS = VAVIZAV_VERSION_PATCH << 16 | VAVIZAV_VERSION_TWEAK;
  EXPECT_EQ(fixed->dwFileVersionMS, VERSION_MS);
  EXPECT_EQ(fixed->dwFileVersionLS, VERSION_LS);
  EXPECT_EQ(fixed->dwProductVersionMS, VERSION_MS);
  EXPECT_EQ(fixed->dwProductVersionLS, VERSION_LS);
  EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask, 0u);
  EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS__WINDOWS32));
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));

  WORD* translation = nullptr;
  ASSERT_TRUE(VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                             &length));
  ASSERT_EQ(length, 4u);
  EXPECT_EQ(translation[0], 0x0409);
  EXPECT_EQ(translation[1], 1200);
  EXPECT_NE(FindResourceExW(Module().Handle, RT_VERSION, MAKEINTRESOURCEW(VS_VERSION_INFO),
                            MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)),
            nullptr);

  const std::pair<const wchar_t*, const wchar_t*> strings[] = {
      {L"Comments", L"Vavizav Resolving Component"},
      {L"ProductName", L"Vavizav Resolver"},
      {L"FileVersion", L"" VAVIZAV_VERSION_TEXT},
      {L"ProductVersion", L"" VAVIZAV_VERSION_TEXT},
      {L"InternalName", L"Vavizav"},
      {L"OriginalFilename", L"Vavizav.dll"},
      {L"OLESelfRegister", L""},
  };
  for (const auto& [field, expected] : strings) {
    const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + field;
    wchar_t* value = nullptr;
    length = 0;
    ASSERT_TRUE(VerQueryValueW(data.data(), path.c_str(), reinterpret_cast<void**>(&value), &length))
        << ::testing::PrintToString(std::wstring(field)) << " missing";
    EXPECT_EQ(std::wstring(value != nullptr && length != 0 ? value : L""), expected);
  }
}

}  // namespace
}  // namespace vavizav::testing
