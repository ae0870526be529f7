// One batch of the Resolver (ResolveMany, ResolveManyAsync) as plain work
// that owns no COM object: each element's questions (several through the
// search list), the cache looked at before each round, the exchange of every
// round, and each element's answer told as soon as it is final. It runs on the
// caller's thread (ResolveMany) or on a thread of the component
// (ResolveManyAsync); what it shares with its Resolver is behind a lock.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "codec/vbdns.h"
#include "exchange/core/outcome.h"
#include "exchange/core/server_memory.h"
#include "exchange/engine.h"
#include "hosting/answer_objects.h"
#include "resolver/cache.h"
#include "runtime/handles.h"
#include "runtime/message_pump.h"

namespace vavizav::hosting {

// A Resolver's cache, shared with the batches that run on other threads. A
// flush starts a new generation: what a batch of an older one (asked of other
// servers, perhaps) learns is not kept.
class SharedCache {
 public:
  explicit SharedCache(std::size_t capacity) : cache_(capacity) {}

  std::optional<resolver::CachedAnswer> Find(const vbDNS::DNSQuery& query, std::uint64_t nowMs);
  void Keep(std::uint64_t generation, const vbDNS::DNSQuery& query, const resolver::CachedAnswer& answer,
            resolver::CacheRule rule, std::uint64_t arrivedMs);
  void Flush();
  void SetCapacity(std::size_t capacity);
  std::uint64_t Generation();
  std::size_t Size();

 private:
  std::mutex lock_;
  resolver::AnswerCache cache_;
  std::uint64_t generation_ = 0;
};

// The questions a Resolver's batches have in flight. A batch that would ask
// a question another batch on another thread is asking waits for that
// answer instead (the same thread's batches nest, and the inner one cannot
// wait for the outer: it asks again).
class InFlightQuestions {
 public:
  struct Entry {
    DWORD Thread = 0;        // of the batch asking it
    bool Ended = false;      // Answer holds the answer, or (Abandoned) nothing will
    bool Abandoned = false;  // the asker ended without an answer: cancelled
    AnswerContent Answer;
  };

  InFlightQuestions();
  // The calling thread's batch asks `key` now (nullptr), or waits for the
  // entry another thread's batch has in flight.
  std::shared_ptr<Entry> Claim(const std::string& key);
  // The claimed question ended with `answer`, or without one (nullptr).
  void End(const std::string& key, const AnswerContent* answer);
  // Waits until one of `entries` may have ended, `waitMs` at most; pumps the
  // thread's messages meanwhile when `pump`; `wake` (may be null) ends it.
  void WaitForEnds(DWORD waitMs, bool pump, HANDLE wake);
  bool HasEnded(const Entry& entry);

 private:
  std::mutex lock_;
  std::unordered_map<std::string, std::shared_ptr<Entry>> entries_;
  // Set at each end; every waiter also looks again after a short while, as
  // one waiter's reset may hide an end from another.
  runtime::unique_handle ended_;
};

// What a batch is asked with: the Resolver's settings as they were when it
// started.
struct BatchSettings {
  std::vector<std::string> Suffixes;  // the search list, wire forms
  std::wstring Servers;
  DWORD TimeoutMs = 10000;
  unsigned MaxInFlight = 64;
  std::shared_ptr<exchange::ServerMemory> Memory;
  bool DnssecOk = false;
  std::shared_ptr<SharedCache> Cache;  // none: the cache is off
  std::uint64_t CacheGeneration = 0;
  std::shared_ptr<InFlightQuestions> InFlight;  // none: asks everything itself
  std::shared_ptr<exchange::DotPool> Connections;  // DNS over TLS connections kept between calls
  HANDLE Wake = nullptr;  // set by another thread to end the batch (see BatchSink::Cancelled)
  bool Pump = true;       // dispatch the thread's messages while waiting
};

// Where a batch's answers go, and how it is ended.
class BatchSink {
 public:
  // Element `element`'s answer is final: its content will not change again.
  virtual void Answered(std::size_t element) = 0;
  // Asked between the batch's steps: true ends it; the elements without a
  // final answer get CANCELLED and are not told through Answered.
  virtual bool Cancelled() = 0;

 protected:
  ~BatchSink() = default;
};

// IDNA of one label, as NameFromText asks it.
std::optional<std::string> LabelIdna(std::u16string_view label);

class BatchWork {
 public:
  // `type` nullopt: no element can be asked (BADNAME each), `typeText` shows.
  // Made on the caller's thread, whose messages `pacer` lets through.
  BatchWork(const std::vector<std::optional<std::wstring>>& texts, std::optional<std::uint16_t> type,
            const std::wstring& typeText, BatchSettings settings, runtime::PumpPacer& pacer);
  BatchWork(const BatchWork&) = delete;
  BatchWork& operator=(const BatchWork&) = delete;

  // Every round to the end or the cancel. Throws only std::bad_alloc.
  void Run(BatchSink& sink);
  // Every element without its final answer gets CANCELLED (Run ends so).
  void Abandon();

  std::size_t Total() const { return contents_.size(); }
  // Element i's answer: final once told (or once Run returned).
  const std::shared_ptr<AnswerContent>& ContentOf(std::size_t element) const { return contents_[element]; }
  std::vector<std::shared_ptr<AnswerContent>>& Contents() { return contents_; }
  // Why a server could not be used, the first the batch met (an encrypted
  // server's certificate); empty when none. Read once Run has returned.
  const std::wstring& Problem() const { return problem_; }
  // Why the first element that cannot be asked cannot (NameProblemText);
  // empty when every element can.
  const std::wstring& NameError() const { return nameError_; }

 private:
  class RoundObserver;
  bool FromCache(const vbDNS::DNSQuery& query, AnswerContent& content) const;
  void Take(std::size_t element, std::size_t round, const exchange::ExchangeOutcome& outcome,
            const vbDNS::DNSQuery& query, BatchSink& sink);
  void MakeFinal(std::size_t element, BatchSink& sink);
  bool IsLastTry(std::size_t element, std::size_t round) const;
  // Answers from other batches' exchanges for the elements that waited for
  // them; true when all came (the rest is to be asked here).
  void AwaitOthers(std::size_t round, std::vector<std::size_t>& waiting,
                   std::vector<std::shared_ptr<InFlightQuestions::Entry>>& entries, BatchSink& sink);
  void EndClaims(const AnswerContent* answer, const vbDNS::DNSQuery& query);
  // Asks `queries` (of elements `asked`) through the engine.
  void Ask(std::size_t round, const std::vector<vbDNS::DNSQuery>& queries, const std::vector<std::size_t>& asked,
           BatchSink& sink);

  BatchSettings settings_;
  std::vector<std::shared_ptr<AnswerContent>> contents_;
  std::vector<std::vector<vbDNS::DNSQuery>> questions_;
  std::vector<bool> final_;
  std::size_t rounds_ = 0;
  std::wstring problem_;
  std::wstring nameError_;
  std::unordered_set<std::string> claimed_;  // keys this batch asks in the current round
};

}  // namespace vavizav::hosting
