// The few registry operations that registration needs, each reporting its
// Win32 failure as an HRESULT; keys are owned by unique_hkey (handles.h).
#pragma once

#include <windows.h>

#include <cstddef>

#include "runtime/handles.h"

namespace vavizav::hosting {

// Opens `subKey` below `parent`, creating it and its missing ancestors.
inline HRESULT CreateRegistryKey(HKEY parent, const wchar_t* subKey, REGSAM access,
                                 runtime::unique_hkey& key) noexcept {
  return HRESULT_FROM_WIN32(
      RegCreateKeyExW(parent, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, key.put(), nullptr));
}

// Sets a string value; a null `name` sets the key's default value.
inline HRESULT SetRegistryString(HKEY key, const wchar_t* name, const wchar_t* value) noexcept {
  // lstrlenW is never negative (0 for a null pointer).
  const DWORD bytes = static_cast<DWORD>((static_cast<std::size_t>(lstrlenW(value)) + 1) * sizeof(wchar_t));
  return HRESULT_FROM_WIN32(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), bytes));
}

// True when `subKey` exists below `parent` (and can be read).
inline bool RegistryKeyExists(HKEY parent, const wchar_t* subKey) noexcept {
  runtime::unique_hkey key;
  return RegOpenKeyExW(parent, subKey, 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

// Deletes `subKey` and everything below it (`parent` needs DELETE and KEY_READ);
// a key that is not there counts as deleted.
inline HRESULT DeleteRegistryTree(HKEY parent, const wchar_t* subKey) noexcept {
  const LSTATUS status = RegDeleteTreeW(parent, subKey);
  if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND) return S_OK;
  return HRESULT_FROM_WIN32(status);
}

}  // namespace vavizav::hosting
