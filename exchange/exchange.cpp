#include "exchange/exchange.h"

#include <span>
#include <utility>
#include <vector>

namespace vavizav::exchange {

std::optional<vbDNS::Packet> ExchangeQuery(const vbDNS::DNSQuery& query, std::wstring_view servers, DWORD timeoutMs,
                                           std::shared_ptr<ServerMemory> memory) {
  const EngineSettings settings{servers, timeoutMs, 1, std::move(memory)};
  std::vector<ExchangeOutcome> outcomes = ExchangeMany(std::span(&query, 1), settings);
  // Set after a reply, and after a truncated one that TCP could not replace.
  return std::move(outcomes.front().Reply);
}

}  // namespace vavizav::exchange
