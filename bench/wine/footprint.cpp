// The process's footprint for the soak: handles, committed private memory,
// the Unix process's anonymous memory, user objects and windows, each from the
// source that works under Wine.
#include "bench.h"
// After windows.h, which bench.h includes.
#include <psapi.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "process_counts.h"
#include "text.h"

namespace wine_bench {

using vavizav::testing::HandlesInSystemList;
using vavizav::testing::Narrow;

namespace {

// Committed private memory, the regions VirtualQuery reports as MEM_PRIVATE.
double CommittedPrivateKiB() {
  double total = 0;
  MEMORY_BASIC_INFORMATION region;
  for (const char* at = nullptr; ::VirtualQuery(at, &region, sizeof region) == sizeof region;) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += static_cast<double>(region.RegionSize);
    const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
    if (next <= at) break;
    at = next;
  }
  return total / 1024;
}

std::string ReadSmallFile(const std::wstring& path) {
  const vavizav::runtime::unique_file_handle file(::CreateFileW(
      path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  char text[4096];
  DWORD read = 0;
  if (!file || !::ReadFile(file.get(), text, sizeof text - 1, &read, nullptr)) return {};
  return std::string(text, read);
}

// The Unix process id of this process under Wine, found by its name in /proc
// (the Wine server opens files, so /proc/self would be the server); 0 when
// there is no /proc or more than one process of the name.
unsigned long UnixProcessId() {
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring name(path, length);
  name = name.substr(name.find_last_of(L"\\/") + 1).substr(0, 15);  // the kernel keeps 15 characters
  const std::string comm = Narrow(name) + "\n";
  WIN32_FIND_DATAW entry;
  const HANDLE search = ::FindFirstFileW(L"Z:\\proc\\*", &entry);
  if (search == INVALID_HANDLE_VALUE) return 0;
  unsigned long found = 0;
  int matches = 0;
  do {
    const unsigned long pid = std::wcstoul(entry.cFileName, nullptr, 10);
    if (pid != 0 && ReadSmallFile(L"Z:\\proc\\" + std::wstring(entry.cFileName) + L"\\comm") == comm) {
      found = pid;
      ++matches;
    }
  } while (::FindNextFileW(search, &entry));
  ::FindClose(search);
  return matches == 1 ? found : 0;
}

// A "Name: value kB" line of the process's Unix status, or -1.
double UnixStatusKiB(const char* field) {
  static const unsigned long pid = UnixProcessId();
  if (pid == 0) return -1;
  const std::string text = ReadSmallFile(L"Z:\\proc\\" + std::to_wstring(pid) + L"\\status");
  const std::size_t at = text.find(field);
  return at == std::string::npos ? -1 : std::strtod(text.c_str() + at + std::strlen(field), nullptr);
}

BOOL CALLBACK CountWindow(HWND window, LPARAM count) {
  DWORD process = 0;
  ::GetWindowThreadProcessId(window, &process);
  if (process == ::GetCurrentProcessId()) {
    ++*reinterpret_cast<double*>(count);
    ::EnumChildWindows(window, CountWindow, count);
  }
  return TRUE;
}

double WindowsOfProcess() {
  double count = 0;
  ::EnumWindows(CountWindow, reinterpret_cast<LPARAM>(&count));
  for (HWND window = nullptr; (window = ::FindWindowExW(HWND_MESSAGE, window, nullptr, nullptr)) != nullptr;) {
    CountWindow(window, reinterpret_cast<LPARAM>(&count));
  }
  return count;
}

}  // namespace

Footprint Measure() {
  Footprint footprint;
  DWORD handles = 0;
  ::GetProcessHandleCount(::GetCurrentProcess(), &handles);
  footprint.Handles = handles;
  if (handles == 0) {
    footprint.Handles = HandlesInSystemList();
    footprint.HandleSource = "system handle list";
  }
  PROCESS_MEMORY_COUNTERS_EX memory{};
  memory.cb = sizeof memory;
  ::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory);
  footprint.PrivateKiB = static_cast<double>(memory.PrivateUsage) / 1024;
  if (memory.PrivateUsage == 0) {
    footprint.PrivateKiB = CommittedPrivateKiB();
    footprint.PrivateSource = "committed MEM_PRIVATE regions";
  }
  footprint.UnixAnonymousKiB = UnixStatusKiB("RssAnon:");
  ::SetLastError(0);
  footprint.UserObjects = ::GetGuiResources(::GetCurrentProcess(), GR_USEROBJECTS);
  if (footprint.UserObjects == 0) footprint.UserError = ::GetLastError();
  footprint.Windows = WindowsOfProcess();
  return footprint;
}

void EmitGrowth(const std::string& key, double before, double after, const char* unit, const std::string& note) {
  char text[64];
  std::snprintf(text, sizeof text, "from %.0f to %.0f", before, after);
  Emit(key, after - before, unit, std::string(text) + (note.empty() ? "" : ", " + note));
}

}  // namespace wine_bench
