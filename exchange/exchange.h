// The UDP exchange: one query datagram to the configured server, the first
// datagram that really answers it back, or nothing after the time-out.
#pragma once

#include <windows.h>

#include <optional>
#include <string_view>

#include "lookup.h"
#include "vbdns.h"

namespace vavizav {

// Sends `query` (its ID replaced by a fresh random one) to `server` and waits at
// most `timeoutMs` from the start, pumping the thread's messages meanwhile.
// `server`: "192.0.2.1", "192.0.2.1:5300", "::1", "[::1]:5300" or a host name;
// port 53 by default. nullopt after the time-out, or at once when the server
// text is empty or unresolvable, or the socket cannot be created or sent on.
std::optional<vbDNS::Packet> ExchangeQuery(const vbDNS::DNSQuery& query, std::wstring_view server,
                                           DWORD timeoutMs);

// The exchange bound to one lookup's settings, as the lookups take it.
class UdpQueryExchange final : public QueryExchange {
 public:
  UdpQueryExchange(std::wstring server, DWORD timeoutMs) : server_(std::move(server)), timeoutMs_(timeoutMs) {}
  std::optional<vbDNS::Packet> Exchange(const vbDNS::DNSQuery& query) override {
    return ExchangeQuery(query, server_, timeoutMs_);
  }

 private:
  std::wstring server_;
  DWORD timeoutMs_;
};

}  // namespace vavizav
