// Winsock start-up for the whole process.
#pragma once

namespace vavizav::runtime {

// Calls WSAStartup (version 2.2) once per process, whichever thread comes first;
// true when Winsock is usable. A failed start is tried again by the next call.
// There is no matching WSACleanup: a DLL must not call it while being unloaded,
// and the process's end releases Winsock anyway.
bool EnsureWinsock() noexcept;

}  // namespace vavizav::runtime
