// The bench's output: medians and percentiles, the report lines, and the
// stall guard that ends a run nothing progresses in.
#include "bench.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <limits>
#include <thread>

namespace wine_bench {

double Median(std::vector<double> values) { return Percentile(std::move(values), 0.5); }

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return std::numeric_limits<double>::quiet_NaN();
  std::sort(values.begin(), values.end());
  const double at = fraction * static_cast<double>(values.size() - 1);
  const std::size_t low = static_cast<std::size_t>(at);
  const std::size_t high = std::min(low + 1, values.size() - 1);
  return values[low] + (values[high] - values[low]) * (at - static_cast<double>(low));
}

void Emit(const std::string& key, double value, const char* unit, const std::string& note) {
  const double size = std::fabs(value);
  const int decimals = value == std::floor(value) ? 0 : size >= 100 ? 1 : size >= 1 ? 2 : 4;
  std::printf("%s %.*f %s%s%s\n", key.c_str(), decimals, value, unit, note.empty() ? "" : " ", note.c_str());
  std::fflush(stdout);
}

void EmitNa(const std::string& key, const char* unit, const std::string& reason) {
  std::printf("%s n/a %s %s\n", key.c_str(), unit, reason.c_str());
  std::fflush(stdout);
}

void Comment(const std::string& text) {
  std::printf("# %s\n", text.c_str());
  std::fflush(stdout);
}

namespace {

std::atomic<std::uint64_t> progress{0};

}  // namespace

void Progress() { progress.fetch_add(1, std::memory_order_relaxed); }

void StartStallGuard() {
  std::thread([] {
    std::uint64_t seen = progress.load();
    int idle = 0;
    for (;;) {
      ::Sleep(1000);
      const std::uint64_t now = progress.load();
      idle = now == seen ? idle + 1 : 0;
      seen = now;
      if (idle >= STALL_SECONDS) {
        std::printf("error stalled: nothing finished for %d s\n", STALL_SECONDS);
        std::fflush(stdout);
        ::ExitProcess(3);
      }
    }
  }).detach();
}

std::string WineVersion() {
  using Version = const char*(CDECL*)();
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  const auto version = reinterpret_cast<Version>(reinterpret_cast<void*>(::GetProcAddress(ntdll, "wine_get_version")));
  return version ? std::string("Wine ") + version() : std::string("not Wine");
}

}  // namespace wine_bench
