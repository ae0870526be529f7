#include "exchange/core/send_plan.h"

#include <algorithm>

namespace vavizav::exchange {
namespace {

// The first resend comes after min(FIRST_RESEND_MS, time-out / 4).
constexpr std::uint64_t FIRST_RESEND_MS = 1000;

}  // namespace

SendPlan PlanSends(std::uint32_t timeoutMs) {
  return PlanSends(timeoutMs, std::min<std::uint64_t>(FIRST_RESEND_MS, timeoutMs / 4));
}

SendPlan PlanSends(std::uint32_t timeoutMs, std::uint64_t firstIntervalMs) {
  SendPlan plan{std::max<std::uint64_t>(1, firstIntervalMs), 1};
  while (plan.Count < MAX_SENDS && plan.Offset(plan.Count) < timeoutMs) ++plan.Count;
  return plan;
}

std::vector<std::uint32_t> SendSchedule(std::uint32_t timeoutMs) {
  const SendPlan plan = PlanSends(timeoutMs);
  std::vector<std::uint32_t> offsets;
  for (std::size_t k = 0; k < plan.Count; ++k) offsets.push_back(static_cast<std::uint32_t>(plan.Offset(k)));
  return offsets;
}

}  // namespace vavizav::exchange
