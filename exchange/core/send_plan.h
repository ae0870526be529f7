// When the sends of one question go out: at 0 after its first send, then after
// min(1000, timeoutMs / 4) ms (at least 1), each later interval doubled, every
// one before the time-out (RFC 1123 section 6.1.3.3).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vavizav::exchange {

// At most 23 sends: below a time-out of 4000 ms the plan has at most three,
// and from there the first interval is 1000 ms, so send 23 would go at
// 1000 * (2^23 - 1) ms, past any 32-bit time-out.
inline constexpr std::size_t MAX_SENDS = 23;

// The schedule without a list: send k goes First * (2^k - 1) ms after the first.
struct SendPlan {
  std::uint64_t First = 1;
  std::size_t Count = 1;
  std::uint64_t Offset(std::size_t k) const { return First * ((std::uint64_t{1} << k) - 1); }
};

SendPlan PlanSends(std::uint32_t timeoutMs);

// The same doubling from another first interval (at least 1 ms): as many sends
// as fall before the time-out, at most MAX_SENDS.
SendPlan PlanSends(std::uint32_t timeoutMs, std::uint64_t firstIntervalMs);

// The offsets of PlanSends as a list: 10000 gives 0, 1000, 3000, 7000.
std::vector<std::uint32_t> SendSchedule(std::uint32_t timeoutMs);

}  // namespace vavizav::exchange
