// Self-registration: what DllRegisterServer, DllUnregisterServer and DllInstall do.
#pragma once

#include <windows.h>

namespace vavizav::hosting {

// Where the registration goes: HKEY_LOCAL_MACHINE\Software\Classes for every
// user of the machine (needs administrator rights), or
// HKEY_CURRENT_USER\Software\Classes for the current user only (needs none).
enum class RegistrationScope { Machine, User };

// Writes the class-name, class and type library entries for this module's
// path. Whatever cannot be written is reported, and what was written is
// removed again, so that a failed registration leaves no half-working class.
HRESULT RegisterServer(RegistrationScope scope) noexcept;

// Removes the same entries; entries already absent are not an error. While the
// module of the other bitness is still registered in the same scope, the
// entries both share (class name, type library) stay for it.
HRESULT UnregisterServer(RegistrationScope scope) noexcept;

// DllInstall's command line: "user" (regsvr32 /n /i:user) is the current
// user's scope; empty or "machine" (regsvr32 /i after DllRegisterServer) the
// machine's. Case does not matter. False for anything else.
bool ParseInstallScope(const wchar_t* commandLine, RegistrationScope& scope) noexcept;

}  // namespace vavizav::hosting
