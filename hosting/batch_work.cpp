#include "hosting/batch_work.h"

#include <algorithm>
#include <span>
#include <utility>

#include "exchange/core/name_case.h"
#include "exchange/engine.h"
#include "runtime/message_pump.h"
#include "resolver/name_text.h"
#include "resolver/outcome.h"
#include "resolver/question.h"
#include "runtime/text_conversion.h"

namespace vavizav::hosting {
namespace {

// The most queries the engine takes in one call; larger rounds go in turns.
constexpr std::size_t ENGINE_BATCH = exchange::MAX_QUESTIONS_PER_CALL;

bool TriesNextSuffix(const AnswerContent& content) { return resolver::AsksNextSuffixAfter(content.Model.Status); }

// The engine's word for how a question ended, in the resolver's terms.
struct FailureEnd {
  exchange::ExchangeFailure Failure;
  resolver::ExchangeEnd End;
};
constexpr FailureEnd FAILURE_ENDS[] = {
    {exchange::ExchangeFailure::None, resolver::ExchangeEnd::Answered},
    {exchange::ExchangeFailure::NoUsableServer, resolver::ExchangeEnd::NoUsableServer},
    {exchange::ExchangeFailure::NothingSent, resolver::ExchangeEnd::NothingSent},
    {exchange::ExchangeFailure::TimedOut, resolver::ExchangeEnd::TimedOut},
    {exchange::ExchangeFailure::TruncatedTcpFailed, resolver::ExchangeEnd::TruncatedTcpFailed},
    {exchange::ExchangeFailure::Malformed, resolver::ExchangeEnd::Malformed},
    {exchange::ExchangeFailure::Cancelled, resolver::ExchangeEnd::Cancelled},
    {exchange::ExchangeFailure::Untrusted, resolver::ExchangeEnd::Untrusted},
};

// How a reply came, as Answer.Transport shows it.
struct TransportText {
  exchange::ReplyTransport Transport;
  const wchar_t* Text;
};
constexpr TransportText TRANSPORT_TEXTS[] = {
    {exchange::ReplyTransport::Udp, L"UDP"},
    {exchange::ReplyTransport::Tcp, L"TCP"},
    {exchange::ReplyTransport::Encrypted, L"TLS"},
    {exchange::ReplyTransport::Https, L"HTTPS"},
};

// The engine's outcome as a script reads it.
void Judge(const exchange::ExchangeOutcome& outcome, const vbDNS::DNSQuery& query, AnswerContent& content) {
  resolver::ExchangeEnd end = resolver::ExchangeEnd::TimedOut;
  for (const FailureEnd& row : FAILURE_ENDS) {
    if (row.Failure == outcome.Failure) end = row.End;
  }
  content.Model = JudgeExchange(end, outcome.Reply, query);
  content.FromCache = false;
  // No usable reply, no server to name, no way it came.
  if (content.Model.Status.FromReply()) {
    content.Server = outcome.Server;
    content.Transport = L"UDP";
    for (const TransportText& row : TRANSPORT_TEXTS) {
      if (row.Transport == outcome.Transport) content.Transport = row.Text;
    }
    content.ElapsedMs = static_cast<LONG>(std::min<std::uint64_t>(outcome.ElapsedMs, MAXLONG));
  } else {
    content.Server.clear();
    content.Transport.clear();
    content.ElapsedMs = 0;
  }
}

// How often a waiter looks again at the questions it waits for, whatever
// it was told.
constexpr DWORD LOOK_AGAIN_MS = 20;
// A batch waits for another's question at most its own time-out and this.
constexpr ULONGLONG WAIT_GRACE_MS = 1000;

// Questions are the same when name (without regard to ASCII case), type,
// class and the DO bit are.
std::string InFlightKey(const vbDNS::DNSQuery& query) {
  std::string key = exchange::QuestionKey(query.Question);
  key.push_back(query.DnssecOk ? '\1' : '\0');
  return key;
}

}  // namespace

InFlightQuestions::InFlightQuestions() : ended_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  if (!ended_) throw std::bad_alloc();
}

std::shared_ptr<InFlightQuestions::Entry> InFlightQuestions::Claim(const std::string& key) {
  const DWORD thread = ::GetCurrentThreadId();
  std::lock_guard held(lock_);
  auto [found, added] = entries_.try_emplace(key);
  if (added) {
    found->second = std::make_shared<Entry>();
    found->second->Thread = thread;
    return nullptr;
  }
  // Asked on this thread already (a nested batch's outer one, or this batch):
  // asked again here, the engine sends one question per call.
  if (found->second->Thread == thread) return nullptr;
  return found->second;
}

void InFlightQuestions::End(const std::string& key, const AnswerContent* answer) {
  {
    std::lock_guard held(lock_);
    const auto found = entries_.find(key);
    if (found == entries_.end() || found->second->Thread != ::GetCurrentThreadId()) return;
    Entry& entry = *found->second;
    if (answer != nullptr) entry.Answer = *answer;
    entry.Abandoned = answer == nullptr;
    entry.Ended = true;
    entries_.erase(found);
  }
  ::SetEvent(ended_.get());
}

bool InFlightQuestions::HasEnded(const Entry& entry) {
  std::lock_guard held(lock_);
  return entry.Ended;
}

void InFlightQuestions::WaitForEnds(DWORD waitMs, bool pump, HANDLE wake) {
  ::ResetEvent(ended_.get());
  const HANDLE events[] = {ended_.get(), wake};
  const DWORD count = wake != nullptr ? 2 : 1;
  const DWORD woken = pump ? ::MsgWaitForMultipleObjectsEx(count, events, std::min(waitMs, LOOK_AGAIN_MS),
                                                           QS_ALLINPUT, MWMO_INPUTAVAILABLE)
                           : ::WaitForMultipleObjects(count, events, FALSE, std::min(waitMs, LOOK_AGAIN_MS));
  if (pump && woken == WAIT_OBJECT_0 + count) runtime::PumpMessages();
}

std::optional<resolver::CachedAnswer> SharedCache::Find(const vbDNS::DNSQuery& query, std::uint64_t nowMs) {
  std::lock_guard held(lock_);
  return cache_.Find(query, nowMs);
}

void SharedCache::Keep(std::uint64_t generation, const vbDNS::DNSQuery& query, const resolver::CachedAnswer& answer,
                       resolver::CacheRule rule, std::uint64_t arrivedMs) {
  std::lock_guard held(lock_);
  if (generation == generation_) cache_.Keep(query, answer, rule, arrivedMs);
}

void SharedCache::Flush() {
  std::lock_guard held(lock_);
  cache_.Flush();
  ++generation_;
}

void SharedCache::SetCapacity(std::size_t capacity) {
  std::lock_guard held(lock_);
  cache_.SetCapacity(capacity);
}

std::uint64_t SharedCache::Generation() {
  std::lock_guard held(lock_);
  return generation_;
}

std::size_t SharedCache::Size() {
  std::lock_guard held(lock_);
  return cache_.Size();
}

std::optional<std::string> LabelIdna(std::u16string_view label) {
  return runtime::HostNameToAsciiOctets(runtime::Utf16ToText(label));
}

namespace {

// The questions a name's text asks in turn (more than one only through the
// search list); none, with `error` set, when it cannot be asked.
std::vector<vbDNS::DNSQuery> QuestionsFor(const std::wstring& text, std::uint16_t type,
                                          const std::vector<std::string>& suffixes, std::wstring& error) {
  const std::u16string given = runtime::TextToUtf16(text);
  std::optional<resolver::NameText> name;
  if (type == vbDNS::TYPE_PTR) name = resolver::ReverseNameFromText(given);
  if (!name) name = resolver::NameFromText(given, LabelIdna);
  std::vector<vbDNS::DNSQuery> questions;
  if (name->Problem != resolver::NameTextProblem::None) {
    error = runtime::Utf16ToText(resolver::NameProblemText(*name, given));
    return questions;
  }
  for (const std::string& wire : resolver::NamesToAsk(*name, suffixes)) {
    questions.push_back(resolver::QuestionForWire(wire, type));
  }
  return questions;
}

// An answer's content before its question was asked.
std::shared_ptr<AnswerContent> Content(std::wstring name, std::wstring type) {
  auto content = std::make_shared<AnswerContent>();
  content->Name = std::move(name);
  content->Type = std::move(type);
  return content;
}

}  // namespace

// Hands the engine's outcomes to the batch as they come, so that answers are
// told while the round still runs.
class BatchWork::RoundObserver final : public exchange::ExchangeObserver {
 public:
  RoundObserver(BatchWork& work, std::size_t round, std::span<const vbDNS::DNSQuery> turn,
                std::span<const std::size_t> elements, BatchSink& sink)
      : work_(work), round_(round), turn_(turn), elements_(elements), sink_(sink), told_(turn.size(), false) {}

  void Ended(std::size_t query, const exchange::ExchangeOutcome& outcome) override {
    if (outcome.Failure == exchange::ExchangeFailure::Cancelled) return;
    told_[query] = true;
    work_.Take(elements_[query], round_, outcome, turn_[query], sink_);
  }
  bool Cancelled() override { return sink_.Cancelled(); }
  bool Told(std::size_t query) const { return told_[query]; }

 private:
  BatchWork& work_;
  const std::size_t round_;
  const std::span<const vbDNS::DNSQuery> turn_;
  const std::span<const std::size_t> elements_;
  BatchSink& sink_;
  std::vector<bool> told_;
};

BatchWork::BatchWork(const std::vector<std::optional<std::wstring>>& texts, std::optional<std::uint16_t> type,
                     const std::wstring& typeText, BatchSettings settings, runtime::PumpPacer& pacer)
    : settings_(std::move(settings)),
      contents_(texts.size()),
      questions_(texts.size()),
      final_(texts.size(), false) {
  for (std::size_t i = 0; i < texts.size(); ++i) {
    pacer.Tick();
    const std::optional<std::wstring>& text = texts[i];
    contents_[i] = Content(text ? *text : std::wstring(), typeText);
    std::wstring error;
    if (type && text) questions_[i] = QuestionsFor(*text, *type, settings_.Suffixes, error);
    if (nameError_.empty()) nameError_ = std::move(error);
    if (questions_[i].empty()) contents_[i]->Model = resolver::AnswerWithoutReply(resolver::BADNAME_STATUS);
    for (vbDNS::DNSQuery& question : questions_[i]) question.DnssecOk = settings_.DnssecOk;
    rounds_ = std::max(rounds_, questions_[i].size());
  }
}

bool BatchWork::IsLastTry(std::size_t element, std::size_t round) const {
  return round + 1 >= questions_[element].size();
}

void BatchWork::MakeFinal(std::size_t element, BatchSink& sink) {
  final_[element] = true;
  sink.Answered(element);
}

// The kept answer to `query`, shown in `content`: false when the cache is off
// or holds none.
bool BatchWork::FromCache(const vbDNS::DNSQuery& query, AnswerContent& content) const {
  if (!settings_.Cache) return false;
  std::optional<resolver::CachedAnswer> hit = settings_.Cache->Find(query, ::GetTickCount64());
  if (!hit) return false;
  content.Model = std::move(hit->Model);
  content.Server = std::move(hit->Server);
  content.Transport.clear();
  content.ElapsedMs = 0;
  content.FromCache = true;
  return true;
}

void BatchWork::Take(std::size_t element, std::size_t round, const exchange::ExchangeOutcome& outcome,
                     const vbDNS::DNSQuery& query, BatchSink& sink) {
  AnswerContent& content = *contents_[element];
  Judge(outcome, query, content);
  if (problem_.empty() && !outcome.Problem.empty()) problem_ = outcome.Problem;
  // Kept counted from when its reply arrived.
  if (settings_.Cache) {
    const resolver::CacheRule rule = resolver::CacheRuleFor(content.Model, outcome.Reply);
    if (rule.Seconds != 0) {
      settings_.Cache->Keep(settings_.CacheGeneration, query, resolver::CachedAnswer{content.Model, content.Server},
                            rule, outcome.EndedAt);
    }
  }
  EndClaims(&content, query);
  if (IsLastTry(element, round) || !TriesNextSuffix(content)) MakeFinal(element, sink);
}

void BatchWork::EndClaims(const AnswerContent* answer, const vbDNS::DNSQuery& query) {
  if (!settings_.InFlight || claimed_.empty()) return;
  const std::string key = InFlightKey(query);
  if (claimed_.erase(key) != 0) settings_.InFlight->End(key, answer);
}

void BatchWork::AwaitOthers(std::size_t round, std::vector<std::size_t>& waiting,
                            std::vector<std::shared_ptr<InFlightQuestions::Entry>>& entries, BatchSink& sink) {
  const ULONGLONG until = ::GetTickCount64() + settings_.TimeoutMs + WAIT_GRACE_MS;
  while (!waiting.empty() && !sink.Cancelled()) {
    std::size_t kept = 0;
    for (std::size_t k = 0; k < waiting.size(); ++k) {
      const std::size_t element = waiting[k];
      if (!settings_.InFlight->HasEnded(*entries[k]) || entries[k]->Abandoned) {
        waiting[kept] = element;
        entries[kept++] = std::move(entries[k]);
        continue;
      }
      // The other batch's answer, shown under this element's name.
      AnswerContent& content = *contents_[element];
      const AnswerContent& answer = entries[k]->Answer;
      content.Model = answer.Model;
      content.Server = answer.Server;
      content.Transport = answer.Transport;
      content.ElapsedMs = answer.ElapsedMs;
      content.FromCache = false;
      if (IsLastTry(element, round) || !TriesNextSuffix(content)) MakeFinal(element, sink);
      if (sink.Cancelled()) return;
    }
    waiting.resize(kept);
    entries.resize(kept);
    // Abandoned ones (their batch was cancelled) are asked here.
    bool onlyAbandoned = true;
    for (const auto& entry : entries) onlyAbandoned = onlyAbandoned && settings_.InFlight->HasEnded(*entry);
    const ULONGLONG now = ::GetTickCount64();
    if (waiting.empty() || onlyAbandoned || now >= until) return;
    settings_.InFlight->WaitForEnds(static_cast<DWORD>(until - now), settings_.Pump, settings_.Wake);
  }
}

void BatchWork::Run(BatchSink& sink) {
  // Claims left at the end (a cancel, an exception) are given up: their
  // waiters ask for themselves.
  struct GiveUp {
    BatchWork& work;
    ~GiveUp() {
      if (work.settings_.InFlight) {
        for (const std::string& key : work.claimed_) work.settings_.InFlight->End(key, nullptr);
      }
      work.claimed_.clear();
    }
  } giveUp{*this};

  // A long batch on a thread with windows lets their messages through.
  runtime::PumpPacer pacer(settings_.Pump);
  for (std::size_t i = 0; i < contents_.size() && !sink.Cancelled(); ++i) {
    if (questions_[i].empty()) MakeFinal(i, sink);
    pacer.Tick();
  }
  // In each round one question per element still asking; the engine asks
  // duplicates once.
  for (std::size_t round = 0; round < rounds_ && !sink.Cancelled(); ++round) {
    std::vector<vbDNS::DNSQuery> queries;
    std::vector<std::size_t> asked;  // the element of each query
    std::vector<std::size_t> waiting;  // elements whose question another batch asks
    std::vector<std::shared_ptr<InFlightQuestions::Entry>> entries;
    for (std::size_t i = 0; i < contents_.size(); ++i) {
      if (final_[i] || round >= questions_[i].size()) continue;
      pacer.Tick();
      const vbDNS::DNSQuery& question = questions_[i][round];
      if (FromCache(question, *contents_[i])) {  // answered without sending
        if (IsLastTry(i, round) || !TriesNextSuffix(*contents_[i])) MakeFinal(i, sink);
        if (sink.Cancelled()) break;
        continue;
      }
      if (settings_.InFlight) {
        const std::string key = InFlightKey(question);
        if (std::shared_ptr<InFlightQuestions::Entry> other = settings_.InFlight->Claim(key)) {
          waiting.push_back(i);
          entries.push_back(std::move(other));
          continue;
        }
        claimed_.insert(key);
      }
      queries.push_back(question);
      asked.push_back(i);
    }
    Ask(round, queries, asked, sink);
    for (const std::string& key : claimed_) settings_.InFlight->End(key, nullptr);
    claimed_.clear();
    if (waiting.empty() || sink.Cancelled()) continue;
    AwaitOthers(round, waiting, entries, sink);
    // What did not come from the others is asked here after all.
    queries.clear();
    for (const std::size_t i : waiting) queries.push_back(questions_[i][round]);
    Ask(round, queries, waiting, sink);
  }
  Abandon();
}

void BatchWork::Ask(std::size_t round, const std::vector<vbDNS::DNSQuery>& queries,
                    const std::vector<std::size_t>& asked, BatchSink& sink) {
  for (std::size_t first = 0; first < queries.size() && !sink.Cancelled(); first += ENGINE_BATCH) {
    const std::size_t size = std::min(ENGINE_BATCH, queries.size() - first);
    const std::span<const vbDNS::DNSQuery> turn(queries.data() + first, size);
    const std::span<const std::size_t> elements(asked.data() + first, size);
    RoundObserver observer(*this, round, turn, elements, sink);
    exchange::EngineSettings engine{settings_.Servers, settings_.TimeoutMs, settings_.MaxInFlight,
                                    settings_.Memory};
    engine.Observer = &observer;
    engine.Encrypted = true;  // tls:// and https:// entries are this class's
    engine.Connections = settings_.Connections;
    engine.Wake = settings_.Wake;
    engine.Pump = settings_.Pump;
    const std::vector<exchange::ExchangeOutcome> outcomes = exchange::ExchangeMany(turn, engine);
    // What the engine did not tell as it went: a call that ended before its
    // first send (no usable server), or questions cut short by a cancel.
    for (std::size_t k = 0; k < outcomes.size() && k < size; ++k) {
      if (observer.Told(k) || outcomes[k].Failure == exchange::ExchangeFailure::Cancelled) continue;
      if (sink.Cancelled()) break;
      Take(elements[k], round, outcomes[k], turn[k], sink);
    }
  }
}

void BatchWork::Abandon() {
  // Only a cancel leaves elements without their final answer.
  for (std::size_t i = 0; i < contents_.size(); ++i) {
    if (final_[i]) continue;
    AnswerContent& content = *contents_[i];
    content.Model = resolver::AnswerWithoutReply(resolver::CANCELLED_STATUS);
    content.Server.clear();
    content.Transport.clear();
    content.ElapsedMs = 0;
    content.FromCache = false;
  }
}

}  // namespace vavizav::hosting
