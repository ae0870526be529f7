// The exchange of the lookups: one question through the engine, its reply
// back, or nothing.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string_view>

#include "codec/vbdns.h"
#include "exchange/core/send_plan.h"
#include "exchange/engine.h"
#include "exchange/server_list.h"

namespace vavizav::exchange {

// Asks the question of `query` through ExchangeMany (one question, the
// servers of `servers`, `timeoutMs` from the start, the thread's messages
// pumped meanwhile, what `memory` knows of the servers used and updated).
// The reply, or the truncated UDP reply when TCP gave nothing better; nullopt
// after the time-out, or at once when no entry is usable or nothing can be
// sent. Throws only std::bad_alloc.
std::optional<vbDNS::Packet> ExchangeQuery(const vbDNS::DNSQuery& query, std::wstring_view servers, DWORD timeoutMs,
                                           std::shared_ptr<ServerMemory> memory = nullptr);

}  // namespace vavizav::exchange
