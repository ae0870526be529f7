#include "exchange/core/server_memory.h"

#include <algorithm>

namespace vavizav::exchange {

std::shared_ptr<ServerState> ServerMemory::For(std::wstring_view server) {
  ++uses_;
  for (Entry& entry : servers_) {
    if (entry.Server == server) {
      entry.Used = uses_;
      return entry.State;
    }
  }
  if (servers_.size() == MAX_SERVERS) {
    const auto oldest = std::min_element(servers_.begin(), servers_.end(),
                                         [](const Entry& a, const Entry& b) { return a.Used < b.Used; });
    servers_.erase(oldest);
  }
  servers_.push_back(Entry{std::wstring(server), std::make_shared<ServerState>(), uses_});
  return servers_.back().State;
}

const ServerState* ServerMemory::Find(std::wstring_view server) const {
  for (const Entry& entry : servers_) {
    if (entry.Server == server) return entry.State.get();
  }
  return nullptr;
}

ServerMemory ServerMemory::Copy() const {
  ServerMemory copy;
  copy.uses_ = copy.copiedAt_ = uses_;
  for (const Entry& entry : servers_) {
    copy.servers_.push_back(Entry{entry.Server, std::make_shared<ServerState>(*entry.State), entry.Used});
  }
  return copy;
}

void ServerMemory::Merge(const ServerMemory& learnt) {
  for (const Entry& entry : learnt.servers_) {
    if (entry.Used > learnt.copiedAt_) *For(entry.Server) = *entry.State;
  }
}

}  // namespace vavizav::exchange
