// The answers a Resolver object keeps, as a caching resolver keeps them:
// positive answers for their smallest TTL (at most a day), NXDOMAIN and
// NODATA for the negative TTL their SOA gives (RFC 2308 section 5, at most an
// hour; none without SOA), failures a few seconds (RFC 9520), each counted
// from when its reply arrived; records handed out carry the TTL that is left.
// Keys are the name without regard to ASCII case, the type, the class and the
// DO bit; NXDOMAIN holds for every type of the name. At most Capacity()
// entries, the one used longest ago going first. Portable: the clock is the
// caller's, in milliseconds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include "codec/vbdns.h"
#include "resolver/answer.h"

namespace vavizav::resolver {

inline constexpr std::uint32_t MAX_POSITIVE_SECONDS = 86400;  // one day
inline constexpr std::uint32_t MAX_NEGATIVE_SECONDS = 3600;   // one hour (RFC 2308 section 5 suggests 1 to 3)
inline constexpr std::uint32_t FAILURE_SECONDS = 5;           // RFC 9520 section 3.2: at least 1, at most 5 minutes
inline constexpr std::size_t DEFAULT_CACHE_SIZE = 10000;
inline constexpr std::size_t MAX_CACHE_SIZE = 1000000;

// How long an answer may be kept, and for what.
struct CacheRule {
  std::uint32_t Seconds = 0;  // 0: not kept
  bool WholeName = false;     // NXDOMAIN for the name itself: every type
};

// The rule for `answer`, judged from `reply` (the octets it was read from;
// none for an exchange that ended without one).
CacheRule CacheRuleFor(const AnswerModel& answer, const std::optional<vbDNS::Packet>& reply);

// What a hit hands out: the answer with its records' TTLs counted down.
struct CachedAnswer {
  AnswerModel Model;
  std::wstring Server;
};

class AnswerCache {
 public:
  explicit AnswerCache(std::size_t capacity = DEFAULT_CACHE_SIZE) : capacity_(capacity) {}

  // The kept answer to `query` at `nowMs`, or nullopt; a hit becomes the
  // most recently used, an expired entry goes.
  std::optional<CachedAnswer> Find(const vbDNS::DNSQuery& query, std::uint64_t nowMs);
  // Keeps `answer` to `query`, whose reply arrived at `arrivedMs`, by `rule`
  // (nothing for Seconds 0). Replaces what was kept under the same key.
  void Keep(const vbDNS::DNSQuery& query, const CachedAnswer& answer, CacheRule rule, std::uint64_t arrivedMs);

  void Flush();
  std::size_t Size() const { return entries_.size(); }
  std::size_t Capacity() const { return capacity_; }
  // Brings the entries down to `capacity` at once, oldest use first.
  void SetCapacity(std::size_t capacity);

 private:
  struct Entry {
    std::string Key;
    CachedAnswer Answer;
    std::uint64_t ArrivedMs = 0;
    std::uint64_t ExpiresMs = 0;
  };
  using List = std::list<Entry>;  // most recently used first

  std::optional<CachedAnswer> FindKey(const std::string& key, std::uint64_t nowMs);
  void Trim();

  std::size_t capacity_;
  List entries_;
  std::unordered_map<std::string, List::iterator> index_;
  std::string key_;  // the key of the latest lookup: its room is reused
};

}  // namespace vavizav::resolver
