// Self-registration: what DllRegisterServer and DllUnregisterServer do.
#pragma once

#include <windows.h>

namespace vavizav::hosting {

// Writes the class-name, class and type library entries for this module's
// path. Whatever cannot be written is reported, and what was written is
// removed again, so that a failed registration leaves no half-working class.
HRESULT RegisterServer() noexcept;

// Removes the same entries; entries already absent are not an error.
HRESULT UnregisterServer() noexcept;

}  // namespace vavizav::hosting
