// Settings a long-running test takes from the environment (seeds, rounds).
#pragma once

#include <cstdlib>

namespace vavizav::testing {

// The decimal number in environment variable `name`, or `fallback` when it is
// unset or empty.
inline unsigned long EnvironmentNumber(const char* name, unsigned long fallback) {
  const char* text = std::getenv(name);
  return text != nullptr && *text != '\0' ? std::strtoul(text, nullptr, 10) : fallback;
}

}  // namespace vavizav::testing
