// Unpredictable numbers from the system's cryptographic generator.
#pragma once

#include <cstdint>
#include <optional>

namespace vavizav {

// 16 bits from BCryptGenRandom (the system-preferred RNG), or RtlGenRandom when
// that fails; nullopt when neither delivers.
std::optional<std::uint16_t> Random16() noexcept;

}  // namespace vavizav
