// What the exchange tests share: one question, the addresses the scripted
// server answers with, and an exchange of that question.
#pragma once

#include <algorithm>
#include <optional>
#include <string_view>

#include "codec/reply_check.h"
#include "codec/vbdns.h"
#include "exchange/exchange.h"
#include "scripted_server_fixture.h"

namespace vavizav::testing {

inline constexpr char GENUINE[] = "192.0.2.1";
inline constexpr char FORGED[] = "203.0.113.66";

inline vbDNS::DNSQuery HostQuery() { return *vbDNS::BuildQuery(vbDNS::TYPE_A, std::string_view("host.test")); }

inline std::optional<vbDNS::Packet> Exchange(std::wstring_view servers, DWORD timeoutMs) {
  return exchange::ExchangeQuery(HostQuery(), servers, timeoutMs);
}

// A query with its ID zeroed and its letters in lower case: what is left to
// compare once the name goes out in random case (DNS 0x20).
inline vbDNS::Packet Folded(vbDNS::Packet bytes) {
  for (std::uint8_t& c : bytes) c = (c >= 'A' && c <= 'Z') ? static_cast<std::uint8_t>(c | 0x20) : c;
  if (bytes.size() >= 2) bytes[0] = bytes[1] = 0;
  return bytes;
}

// A reply with its question's name spelt as `spelling` (the same name without
// regard to case): what the exchange does to the question of a reply.
inline void RespellQuestion(vbDNS::Packet& reply, const vbDNS::WireName& spelling) {
  vbDNS::WireName asSent = spelling;
  if (reply.size() < vbDNS::HEADER_SIZE + asSent.size()) return;
  std::copy_n(reply.begin() + vbDNS::HEADER_SIZE, asSent.size(), asSent.data());
  vbDNS::RespellReply(reply, asSent, spelling);
}

// A reply as the exchange hands it back: the question spelt as HostQuery has it.
inline vbDNS::Packet AsAsked(vbDNS::Packet reply) {
  RespellQuestion(reply, HostQuery().Question.QName);
  return reply;
}

}  // namespace vavizav::testing
