// The exchange the lookups' tests put in place of the network: it records every
// query it is given and answers each with the same scripted reply (nullopt:
// nothing arrived).
#pragma once

#include <optional>
#include <utility>
#include <vector>

#include "resolver/lookup.h"

namespace vavizav::testing {

class StandInExchange final : public resolver::QueryExchange {
 public:
  explicit StandInExchange(std::optional<vbDNS::Packet> reply) : reply_(std::move(reply)) {}
  std::optional<vbDNS::Packet> Exchange(const vbDNS::DNSQuery& query) override {
    sent.push_back(query);
    return reply_;
  }
  std::vector<vbDNS::DNSQuery> sent;

 private:
  std::optional<vbDNS::Packet> reply_;
};

}  // namespace vavizav::testing
