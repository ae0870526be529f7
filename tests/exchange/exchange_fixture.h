// What the exchange tests share: one question, the addresses the scripted
// server answers with, and an exchange of that question.
#pragma once

#include <optional>
#include <string_view>

#include "exchange.h"
#include "scripted_server_test.h"
#include "vbdns.h"

namespace vavizav::testing {

inline constexpr char GENUINE[] = "192.0.2.1";
inline constexpr char FORGED[] = "203.0.113.66";

inline vbDNS::DNSQuery HostQuery() { return *vbDNS::BuildQuery(vbDNS::TYPE_A, std::string_view("host.test")); }

inline std::optional<vbDNS::Packet> Exchange(std::wstring_view servers, DWORD timeoutMs) {
  return ExchangeQuery(HostQuery(), servers, timeoutMs);
}

}  // namespace vavizav::testing
