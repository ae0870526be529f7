// The DNS over TLS connections an object keeps between its calls (RFC 7858
// section 3.4: a connection is reused for later queries): at most one per
// server, lent to one call at a time, closed once idle for IDLE_MS (looked
// at whenever the pool is used) and when the object goes. Thread-safe: the
// calls of an object's batches run on several threads.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "exchange/dot_connection.h"

namespace vavizav::exchange {

class DotPool {
 public:
  static constexpr std::uint64_t IDLE_MS = 10000;
  static constexpr std::size_t MAX_KEPT = 16;

  DotPool() = default;
  DotPool(const DotPool&) = delete;
  DotPool& operator=(const DotPool&) = delete;
  ~DotPool();

  // The open connection kept for `server` (its entry's text), or none; the
  // caller re-points its events (DotConnection::Watch) before using it.
  std::unique_ptr<DotConnection> Take(std::wstring_view server, std::uint64_t now);
  // Keeps `connection` for the next call when it is open with nothing in
  // flight; closes it otherwise, or when one is kept for `server` already.
  // Its events are detached first: the call's event goes with the call.
  void Give(std::wstring server, std::unique_ptr<DotConnection> connection, std::uint64_t now);
  std::size_t Kept();

 private:
  struct Entry {
    std::wstring Server;
    std::unique_ptr<DotConnection> Connection;
    std::uint64_t Since = 0;  // idle since
  };
  void CloseIdle(std::uint64_t now, std::vector<std::unique_ptr<DotConnection>>& closing);

  std::mutex lock_;
  std::vector<Entry> entries_;
};

}  // namespace vavizav::exchange
