#include "resolver/cache.h"

#include <algorithm>

#include "codec/message.h"

namespace vavizav::resolver {
namespace {

constexpr std::uint16_t TYPE_SOA = 6;
constexpr std::uint16_t RCODE_NXDOMAIN = 3, RCODE_SERVFAIL = 2, RCODE_REFUSED = 5;
// The type a whole-name entry (NXDOMAIN) is kept under: no question asks type 0.
constexpr std::uint16_t WHOLE_NAME = 0;

// RFC 2181 section 8: a TTL with the top bit set counts as 0.
std::uint32_t Ttl(std::uint32_t ttl) { return (ttl & 0x80000000u) != 0 ? 0 : ttl; }

// Written into `key`, whose room is kept from one lookup to the next.
void KeyOf(const vbDNS::DNSQuery& query, std::uint16_t type, std::string& key) {
  const std::string_view name = query.Question.QName.view();
  key.clear();
  for (const char c : name) key += (c >= 'A' && c <= 'Z') ? static_cast<char>(c | 0x20) : c;
  key += static_cast<char>(type >> 8);
  key += static_cast<char>(type & 0xFF);
  key += static_cast<char>(query.Question.QClass >> 8);
  key += static_cast<char>(query.Question.QClass & 0xFF);
  key += query.DnssecOk ? '\1' : '\0';
}

// RFC 2308 section 5: the negative TTL is the smaller of the SOA record's TTL
// and its MINIMUM field, and no more than any TTL of the answer section (the
// chain that led to the name). 0 without SOA in the authority section.
std::uint32_t NegativeSeconds(const vbDNS::Message& message) {
  std::optional<std::uint32_t> seconds;
  for (const vbDNS::ResourceRecord& record : message.Records(vbDNS::Section::Authority)) {
    if (record.Type != TYPE_SOA || record.RDataLength < 20) continue;
    const vbDNS::PacketView data = message.Packet().subspan(record.RDataOffset, record.RDataLength);
    const std::size_t at = data.size() - 4;
    const std::uint32_t minimum = static_cast<std::uint32_t>(data[at]) << 24 | static_cast<std::uint32_t>(data[at + 1]) << 16 |
                                  static_cast<std::uint32_t>(data[at + 2]) << 8 | data[at + 3];
    seconds = std::min(Ttl(record.TTL), Ttl(minimum));
    break;
  }
  if (!seconds) return 0;
  for (const vbDNS::ResourceRecord& record : message.Records(vbDNS::Section::Answer)) {
    seconds = std::min(*seconds, Ttl(record.TTL));
  }
  return std::min(*seconds, MAX_NEGATIVE_SECONDS);
}

}  // namespace

CacheRule CacheRuleFor(const AnswerModel& answer, const std::optional<vbDNS::Packet>& reply) {
  const AnswerStatus status = answer.Status;
  if (status == TIMEOUT_STATUS) return {FAILURE_SECONDS, false};
  if (status.Kind != StatusKind::Rcode || !reply) return {};
  if (status.Rcode == RCODE_SERVFAIL || status.Rcode == RCODE_REFUSED) return {FAILURE_SECONDS, false};
  if (status.Rcode != 0 && status.Rcode != RCODE_NXDOMAIN) return {};
  const std::optional<vbDNS::Message> message = vbDNS::ReadMessage(*reply);
  if (!message) return {};
  const auto answers = message->Records(vbDNS::Section::Answer);
  if (status.Rcode == RCODE_NXDOMAIN) {
    // Without a chain in the answer the name itself does not exist: no type of it.
    return {NegativeSeconds(*message), answers.empty()};
  }
  if (answer.Records.empty()) return {NegativeSeconds(*message), false};  // NODATA
  std::uint32_t seconds = MAX_POSITIVE_SECONDS;
  for (const vbDNS::ResourceRecord& record : answers) seconds = std::min(seconds, Ttl(record.TTL));
  return {seconds, false};
}

std::optional<CachedAnswer> AnswerCache::Find(const vbDNS::DNSQuery& query, std::uint64_t nowMs) {
  KeyOf(query, query.Question.QType, key_);
  if (std::optional<CachedAnswer> hit = FindKey(key_, nowMs)) return hit;
  KeyOf(query, WHOLE_NAME, key_);
  return FindKey(key_, nowMs);
}

std::optional<CachedAnswer> AnswerCache::FindKey(const std::string& key, std::uint64_t nowMs) {
  const auto found = index_.find(key);
  if (found == index_.end()) return std::nullopt;
  const List::iterator entry = found->second;
  if (nowMs >= entry->ExpiresMs || nowMs < entry->ArrivedMs) {
    index_.erase(found);
    entries_.erase(entry);
    return std::nullopt;
  }
  entries_.splice(entries_.begin(), entries_, entry);
  CachedAnswer hit = entry->Answer;
  // Counted down as a caching resolver hands records on: the whole seconds
  // since the reply came off each TTL.
  const std::uint64_t elapsed = (nowMs - entry->ArrivedMs) / 1000;
  for (RecordModel& record : hit.Model.Records) {
    record.TTL = record.TTL > elapsed ? static_cast<std::uint32_t>(record.TTL - elapsed) : 0;
  }
  return hit;
}

void AnswerCache::Keep(const vbDNS::DNSQuery& query, const CachedAnswer& answer, CacheRule rule,
                       std::uint64_t arrivedMs) {
  if (rule.Seconds == 0 || capacity_ == 0) return;
  std::string key;
  KeyOf(query, rule.WholeName ? WHOLE_NAME : query.Question.QType, key);
  if (const auto found = index_.find(key); found != index_.end()) {
    entries_.erase(found->second);
    index_.erase(found);
  }
  Entry entry{key, answer, arrivedMs, arrivedMs + std::uint64_t{rule.Seconds} * 1000};
  for (RecordModel& record : entry.Answer.Model.Records) record.TTL = std::min(Ttl(record.TTL), MAX_POSITIVE_SECONDS);
  entries_.push_front(std::move(entry));
  index_.emplace(std::move(key), entries_.begin());
  Trim();
}

void AnswerCache::Flush() {
  index_.clear();
  entries_.clear();
}

void AnswerCache::SetCapacity(std::size_t capacity) {
  capacity_ = capacity;
  Trim();
}

void AnswerCache::Trim() {
  while (entries_.size() > capacity_) {
    index_.erase(entries_.back().Key);
    entries_.pop_back();
  }
}

}  // namespace vavizav::resolver
