// Counts of what a process holds, from sources that work under Wine as on
// Windows: its handles and its busy heap blocks.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace vavizav::testing {

// The process's entries in the system handle list (NtQuerySystemInformation,
// SystemHandleInformation); -1 when it cannot be had. Under Wine,
// GetProcessHandleCount is a stub that says 0.
inline double HandlesInSystemList() {
  struct Entry {
    ULONG OwnerPid;
    BYTE ObjectType;
    BYTE HandleFlags;
    USHORT HandleValue;
    PVOID ObjectPointer;
    ULONG AccessMask;
  };
  using Query = LONG(NTAPI*)(ULONG, PVOID, ULONG, PULONG);
  const auto query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  if (!query) return -1;
  constexpr ULONG SYSTEM_HANDLE_INFORMATION = 16;
  std::vector<std::uint8_t> buffer(1 << 16);
  for (int attempt = 0; attempt < 8; ++attempt) {
    ULONG needed = 0;
    const LONG status = query(SYSTEM_HANDLE_INFORMATION, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
    if (status == 0) {
      ULONG count = 0;
      std::memcpy(&count, buffer.data(), sizeof count);
      const auto* entries = reinterpret_cast<const Entry*>(buffer.data() + sizeof(ULONG_PTR));
      double mine = 0;
      for (ULONG i = 0; i < count; ++i) mine += entries[i].OwnerPid == ::GetCurrentProcessId() ? 1 : 0;
      return mine;
    }
    buffer.resize(std::max<std::size_t>(buffer.size() * 2, needed + 4096));
  }
  return -1;
}

// The process's handles: GetProcessHandleCount where it works, else the
// system handle list.
inline double OwnHandles() {
  DWORD handles = 0;
  if (::GetProcessHandleCount(::GetCurrentProcess(), &handles) && handles != 0) return handles;
  return HandlesInSystemList();
}

// Blocks in use on every heap of the process (HeapWalk).
inline std::size_t BusyHeapBlocks() {
  std::vector<HANDLE> heaps(64);
  const DWORD count = ::GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data());
  heaps.resize(std::min<DWORD>(count, static_cast<DWORD>(heaps.size())));
  std::size_t busy = 0;
  for (HANDLE heap : heaps) {
    if (!::HeapLock(heap)) continue;
    PROCESS_HEAP_ENTRY entry{};
    while (::HeapWalk(heap, &entry)) busy += (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) ? 1 : 0;
    ::HeapUnlock(heap);
  }
  return busy;
}

}  // namespace vavizav::testing
