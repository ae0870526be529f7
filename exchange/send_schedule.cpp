#include "send_schedule.h"

#include <algorithm>

namespace vavizav {
namespace {

// The first resend comes after min(FIRST_RESEND_MS, time-out / 4).
constexpr ULONGLONG FIRST_RESEND_MS = 1000;

}  // namespace

SendPlan PlanSends(DWORD timeoutMs) { return PlanSends(timeoutMs, std::min<ULONGLONG>(FIRST_RESEND_MS, timeoutMs / 4)); }

SendPlan PlanSends(DWORD timeoutMs, ULONGLONG firstIntervalMs) {
  SendPlan plan{std::max<ULONGLONG>(1, firstIntervalMs), 1};
  while (plan.Count < MAX_SENDS && plan.Offset(plan.Count) < timeoutMs) ++plan.Count;
  return plan;
}

std::vector<DWORD> SendSchedule(DWORD timeoutMs) {
  const SendPlan plan = PlanSends(timeoutMs);
  std::vector<DWORD> offsets;
  for (std::size_t k = 0; k < plan.Count; ++k) offsets.push_back(static_cast<DWORD>(plan.Offset(k)));
  return offsets;
}

}  // namespace vavizav
