#include "runtime/random.h"

#include <windows.h>
#include <bcrypt.h>
#include <ntsecapi.h>

namespace vavizav::runtime {

std::optional<std::uint16_t> Random16() noexcept {
  std::uint16_t value = 0;
  const NTSTATUS status =
      ::BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&value), sizeof value, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
  if (status >= 0) return value;
  if (::RtlGenRandom(&value, sizeof value)) return value;
  return std::nullopt;
}

bool RandomFill(std::span<std::uint8_t> out) noexcept {
  if (out.empty()) return true;
  if (::BCryptGenRandom(nullptr, out.data(), static_cast<ULONG>(out.size()), BCRYPT_USE_SYSTEM_PREFERRED_RNG) >= 0) {
    return true;
  }
  return ::RtlGenRandom(out.data(), static_cast<ULONG>(out.size()));
}

}  // namespace vavizav::runtime
