#include "exchange/dot_pool.h"

#include <utility>

namespace vavizav::exchange {
namespace {

// Closed outside the lock: a close sends close_notify.
void CloseAll(std::vector<std::unique_ptr<DotConnection>>& closing) {
  for (std::unique_ptr<DotConnection>& connection : closing) connection->Close();
}

}  // namespace

DotPool::~DotPool() {
  for (Entry& entry : entries_) entry.Connection->Close();
}

void DotPool::CloseIdle(std::uint64_t now, std::vector<std::unique_ptr<DotConnection>>& closing) {
  for (auto it = entries_.begin(); it != entries_.end();) {
    if (now - it->Since >= IDLE_MS || it->Connection->State() != DotState::Open) {
      closing.push_back(std::move(it->Connection));
      it = entries_.erase(it);
    } else {
      ++it;
    }
  }
}

std::unique_ptr<DotConnection> DotPool::Take(std::wstring_view server, std::uint64_t now) {
  std::vector<std::unique_ptr<DotConnection>> closing;
  std::unique_ptr<DotConnection> taken;
  {
    std::lock_guard held(lock_);
    CloseIdle(now, closing);
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (it->Server != server) continue;
      taken = std::move(it->Connection);
      entries_.erase(it);
      break;
    }
  }
  CloseAll(closing);
  return taken;
}

void DotPool::Give(std::wstring server, std::unique_ptr<DotConnection> connection, std::uint64_t now) {
  if (!connection) return;
  std::vector<std::unique_ptr<DotConnection>> closing;
  connection->Watch(nullptr);
  if (connection->State() != DotState::Open || connection->InFlight() != 0) {
    closing.push_back(std::move(connection));
  } else {
    std::lock_guard held(lock_);
    CloseIdle(now, closing);
    bool kept = entries_.size() >= MAX_KEPT;
    for (const Entry& entry : entries_) kept = kept || entry.Server == server;
    if (kept) {
      closing.push_back(std::move(connection));
    } else {
      entries_.push_back(Entry{std::move(server), std::move(connection), now});
    }
  }
  CloseAll(closing);
}

std::size_t DotPool::Kept() {
  std::lock_guard held(lock_);
  return entries_.size();
}

}  // namespace vavizav::exchange
