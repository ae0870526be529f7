// Unpredictable numbers from the system's cryptographic generator.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace vavizav::runtime {

// 16 bits from BCryptGenRandom (the system-preferred RNG), or RtlGenRandom when
// that fails; nullopt when neither delivers.
std::optional<std::uint16_t> Random16() noexcept;

// Fills `out` the same way; false (and `out` unspecified) when neither
// generator delivers.
bool RandomFill(std::span<std::uint8_t> out) noexcept;

}  // namespace vavizav::runtime
