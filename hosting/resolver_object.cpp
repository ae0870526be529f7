#include "hosting/resolver_object.h"

#include <oleauto.h>

#include <algorithm>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "exchange/engine.h"
#include "exchange/system_servers.h"
#include "hosting/answer_objects.h"
#include "hosting/com_boundary.h"
#include "hosting/dual_object.h"
#include "hosting/names_argument.h"
#include "resolver/answer.h"
#include "resolver/cache.h"
#include "resolver/name_text.h"
#include "resolver/outcome.h"
#include "resolver/question.h"
#include "runtime/handles.h"
#include "runtime/text_conversion.h"
#include "vavizav.h"

namespace vavizav::hosting {
namespace {

constexpr wchar_t SOURCE[] = L"Vavizav.Resolver";
constexpr LONG DEFAULT_TIMEOUT_MS = 10000, MIN_TIMEOUT_MS = 1, MAX_TIMEOUT_MS = 65534;
constexpr LONG DEFAULT_MAX_IN_FLIGHT = 64, MIN_MAX_IN_FLIGHT = 1, MAX_MAX_IN_FLIGHT = 1024;
constexpr LONG MIN_CACHE_SIZE = 1, MAX_CACHE_SIZE_SETTING = static_cast<LONG>(resolver::MAX_CACHE_SIZE);
// The most queries the engine takes in one call; larger batches go in turns.
constexpr std::size_t ENGINE_BATCH = exchange::MAX_QUESTIONS_PER_CALL;

// What a Type argument asks: the type, and the text an Answer shows for it.
struct TypeArgument {
  std::optional<std::uint16_t> Type;  // nullopt: no type can be made of it
  std::wstring Text;                  // the mnemonic, or the caller's text
  std::wstring Error;                 // LastError when there is no type
};

std::wstring Refused(resolver::Refusal refusal, std::wstring_view given) {
  return runtime::Utf16ToText(resolver::RefusalText(refusal, runtime::TextToUtf16(given)));
}

TypeArgument ReadType(const VARIANT& argument) {
  TypeArgument read;
  const VARIANT* value = &argument;
  if (V_VT(value) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(value) != nullptr) value = V_VARIANTREF(value);
  const VARTYPE type = V_VT(value);
  // Left out (DISP_E_PARAMNOTFOUND) or Empty: "A".
  if (type == VT_EMPTY || (type == VT_ERROR && V_ERROR(value) == DISP_E_PARAMNOTFOUND)) {
    read.Type = vbDNS::TYPE_A;
  } else if (runtime::IsNumberType(type & VT_TYPEMASK) && !(type & VT_ARRAY)) {
    const std::optional<double> number = runtime::VariantToDouble(*value);
    if (!number) {
      read.Error = Refused(resolver::Refusal::TypeNumberUnreadable, {});
      return read;
    }
    read.Type = resolver::QuestionTypeFromNumber(*number);
    if (!read.Type) {
      const runtime::TextConversion text = runtime::VariantToText(*value);
      read.Text = text.Ok() ? text.Text : std::wstring(L"?");
      read.Error = Refused(resolver::Refusal::TypeNumberOutOfRange, read.Text);
      return read;
    }
  } else {
    runtime::TextConversion text = runtime::VariantToText(*value);
    if (text.Status == runtime::TextConversionStatus::OutOfMemory) throw std::bad_alloc();
    if (!text.Ok()) {
      read.Error = Refused(resolver::Refusal::TypeWithoutText, text.Description());
      return read;
    }
    read.Text = text.Text;
    if (const std::optional<std::string> ascii = runtime::TextToAscii(text.Text))
      read.Type = resolver::ParseQuestionType(*ascii);
    if (!read.Type) {
      read.Error = Refused(resolver::Refusal::TypeNotAType, text.Text);
      return read;
    }
  }
  read.Text = runtime::AsciiToText(vbDNS::TypeMnemonic(*read.Type));
  return read;
}

// IDNA of one label, as NameFromText asks it.
std::optional<std::string> LabelIdna(std::u16string_view label) {
  return runtime::HostNameToAsciiOctets(runtime::Utf16ToText(label));
}

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

bool TriesNextSuffix(const AnswerContent& content) { return resolver::AsksNextSuffixAfter(content.Model.Status); }

std::shared_ptr<AnswerContent> Content(std::wstring name, std::wstring type) {
  auto content = std::make_shared<AnswerContent>();
  content->Name = std::move(name);
  content->Type = std::move(type);
  return content;
}

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
};

// The engine's outcome as a script reads it.
void Judge(const exchange::ExchangeOutcome& outcome, const vbDNS::DNSQuery& query, AnswerContent& content) {
  resolver::ExchangeEnd end = resolver::ExchangeEnd::TimedOut;
  for (const FailureEnd& row : FAILURE_ENDS) {
    if (row.Failure == outcome.Failure) end = row.End;
  }
  content.Model = JudgeExchange(end, outcome.Reply, query);
  // No usable reply, no server to name, no way it came.
  if (content.Model.Status.FromReply()) {
    content.Server = outcome.Server;
    content.Transport = outcome.Transport == exchange::ReplyTransport::Tcp ? L"TCP" : L"UDP";
    content.ElapsedMs = static_cast<LONG>(std::min<std::uint64_t>(outcome.ElapsedMs, MAXLONG));
  } else {
    content.Server.clear();
    content.Transport.clear();
    content.ElapsedMs = 0;
  }
}

class ResolverObject final : public DualObject<_Resolver> {
 public:
  HRESULT STDMETHODCALLTYPE get_DNSServer(BSTR* value) noexcept override { return CopyOut(dnsServer_, value); }
  HRESULT STDMETHODCALLTYPE put_DNSServer(BSTR value) noexcept override {
    return Guarded([&] {
      // Stored as given; a text no server can be made of shows as NOSERVER.
      dnsServer_.assign(runtime::BstrView(value));
      // Answers of other servers are not these servers' answers.
      cache_.Flush();
      lastError_.clear();
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE get_TimeOut(LONG* value) noexcept override { return Number(timeOut_, value); }
  HRESULT STDMETHODCALLTYPE put_TimeOut(LONG value) noexcept override {
    return PutRange(value, MIN_TIMEOUT_MS, MAX_TIMEOUT_MS, timeOut_, L"TimeOut");
  }
  HRESULT STDMETHODCALLTYPE get_MaxInFlight(LONG* value) noexcept override { return Number(maxInFlight_, value); }
  HRESULT STDMETHODCALLTYPE put_MaxInFlight(LONG value) noexcept override {
    return PutRange(value, MIN_MAX_IN_FLIGHT, MAX_MAX_IN_FLIGHT, maxInFlight_, L"MaxInFlight");
  }
  HRESULT STDMETHODCALLTYPE get_LastError(BSTR* value) noexcept override { return CopyOut(lastError_, value); }
  HRESULT STDMETHODCALLTYPE get_SearchList(BSTR* value) noexcept override {
    if (value == nullptr) return E_POINTER;
    *value = nullptr;
    return Guarded([&] { return CopyOut(SearchListText(), value); });
  }
  HRESULT STDMETHODCALLTYPE put_SearchList(BSTR value) noexcept override {
    return Guarded([&] {
      searchList_ = std::wstring(runtime::BstrView(value));
      lastError_.clear();
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE get_DnssecOk(VARIANT_BOOL* value) noexcept override { return Flag(dnssecOk_, value); }
  HRESULT STDMETHODCALLTYPE put_DnssecOk(VARIANT_BOOL value) noexcept override {
    dnssecOk_ = value != VARIANT_FALSE;
    lastError_.clear();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Cache(VARIANT_BOOL* value) noexcept override { return Flag(cacheOn_, value); }
  HRESULT STDMETHODCALLTYPE put_Cache(VARIANT_BOOL value) noexcept override {
    cacheOn_ = value != VARIANT_FALSE;
    // Off: nothing kept is handed out later, and its memory goes now.
    if (!cacheOn_) cache_.Flush();
    lastError_.clear();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_CacheSize(LONG* value) noexcept override { return Number(cacheSize_, value); }
  HRESULT STDMETHODCALLTYPE put_CacheSize(LONG value) noexcept override {
    const HRESULT hr = PutRange(value, MIN_CACHE_SIZE, MAX_CACHE_SIZE_SETTING, cacheSize_, L"CacheSize");
    if (SUCCEEDED(hr)) cache_.SetCapacity(static_cast<std::size_t>(cacheSize_));
    return hr;
  }
  HRESULT STDMETHODCALLTYPE Cancel() noexcept override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Listener(VARIANT* value) noexcept override {
    if (value == nullptr) return E_POINTER;
    ::VariantInit(value);
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE put_Listener(VARIANT) noexcept override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE putref_Listener(VARIANT) noexcept override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ResolveManyAsync(VARIANT, VARIANT, _Batch** batch) noexcept override {
    if (batch == nullptr) return E_POINTER;
    *batch = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE FlushCache() noexcept override {
    cache_.Flush();
    lastError_.clear();
    return S_OK;
  }

  // The engine pumps the thread's messages: the script may use this object
  // meanwhile, even release it. The settings are copied first and a
  // reference is held to the end.
  HRESULT STDMETHODCALLTYPE Resolve(VARIANT Name, VARIANT Type, _Answer** answer) noexcept override {
    if (answer == nullptr) return E_POINTER;
    *answer = nullptr;
    HRESULT hr = CheckArgument(Name, REFERENCE_CHAIN);
    if (SUCCEEDED(hr)) hr = CheckArgument(Type, REFERENCE_CHAIN);
    if (FAILED(hr)) return hr;
    CallGuard guard(static_cast<_Resolver*>(this));
    return Guarded([&]() -> HRESULT {
      lastError_.clear();
      const TypeArgument type = ReadType(Dereferenced(Type));
      runtime::TextConversion name = runtime::VariantToText(Dereferenced(Name));
      if (name.Status == runtime::TextConversionStatus::OutOfMemory) return E_OUTOFMEMORY;
      std::shared_ptr<AnswerContent> content = Content(name.Ok() ? name.Text : std::wstring(), type.Text);

      std::vector<vbDNS::DNSQuery> questions;
      const Settings settings = CurrentSettings();
      if (!type.Type) {
        lastError_ = type.Error;
      } else if (!name.Ok()) {
        lastError_ = Refused(resolver::Refusal::NameWithoutText, name.Description());
      } else {
        questions = QuestionsFor(name.Text, *type.Type, settings.Suffixes, lastError_);
      }
      if (questions.empty()) content->Model = resolver::AnswerWithoutReply(resolver::BADNAME_STATUS);
      for (std::size_t k = 0; k < questions.size(); ++k) {
        questions[k].DnssecOk = dnssecOk_;
        if (FromCache(questions[k], *content)) {
          if (!TriesNextSuffix(*content)) break;
          continue;
        }
        const std::vector<exchange::ExchangeOutcome> outcomes =
            exchange::ExchangeMany(std::span(&questions[k], 1), settings.Engine());
        if (outcomes.size() != 1) return E_UNEXPECTED;
        Judge(outcomes.front(), questions[k], *content);
        Keep(outcomes.front(), questions[k], *content);
        if (!TriesNextSuffix(*content)) break;
      }
      return CreateAnswerObject(std::move(content), answer);
    });
  }

  HRESULT STDMETHODCALLTYPE ResolveMany(VARIANT Names, VARIANT Type, VARIANT* answers) noexcept override {
    if (answers == nullptr) return E_POINTER;
    ::VariantInit(answers);
    HRESULT hr = CheckArgument(Type, REFERENCE_CHAIN);
    if (FAILED(hr)) return hr;
    CallGuard guard(static_cast<_Resolver*>(this));
    return Guarded([&]() -> HRESULT {
      lastError_.clear();
      NamesArgument names;
      std::wstring error;
      HRESULT read = ReadNames(Names, names, error);
      if (read == E_OUTOFMEMORY) return read;
      if (FAILED(read)) {
        if (error.empty()) return read;  // a reference that points nowhere
        lastError_ = error;
        return RaiseError(read, IID__Resolver, SOURCE, error);
      }
      const TypeArgument type = ReadType(Dereferenced(Type));
      if (!type.Type) lastError_ = type.Error;

      // Each element's questions in turn (more than one through the search
      // list): in each round one question per element still asking; the
      // engine asks duplicates once.
      const Settings settings = CurrentSettings();
      const std::size_t count = names.Texts.size();
      std::vector<std::shared_ptr<AnswerContent>> contents(count);
      std::vector<std::vector<vbDNS::DNSQuery>> questions(count);
      std::size_t rounds = 0;
      for (std::size_t i = 0; i < count; ++i) {
        const std::optional<std::wstring>& text = names.Texts[i];
        contents[i] = Content(text ? *text : std::wstring(), type.Text);
        std::wstring ignored;
        if (type.Type && text) questions[i] = QuestionsFor(*text, *type.Type, settings.Suffixes, ignored);
        if (questions[i].empty()) contents[i]->Model = resolver::AnswerWithoutReply(resolver::BADNAME_STATUS);
        for (vbDNS::DNSQuery& question : questions[i]) question.DnssecOk = dnssecOk_;
        rounds = std::max(rounds, questions[i].size());
      }
      names.Texts.clear();

      for (std::size_t round = 0; round < rounds; ++round) {
        std::vector<vbDNS::DNSQuery> queries;
        std::vector<std::size_t> asked;  // the element of each query
        for (std::size_t i = 0; i < count; ++i) {
          if (round >= questions[i].size() || (round > 0 && !TriesNextSuffix(*contents[i]))) continue;
          if (FromCache(questions[i][round], *contents[i])) continue;  // answered without sending
          queries.push_back(questions[i][round]);
          asked.push_back(i);
        }
        for (std::size_t first = 0; first < queries.size(); first += ENGINE_BATCH) {
          const std::size_t size = std::min(ENGINE_BATCH, queries.size() - first);
          const std::span<const vbDNS::DNSQuery> turn(queries.data() + first, size);
          const std::vector<exchange::ExchangeOutcome> outcomes = exchange::ExchangeMany(turn, settings.Engine());
          if (outcomes.size() != size) return E_UNEXPECTED;
          for (std::size_t k = 0; k < size; ++k) {
            AnswerContent& content = *contents[asked[first + k]];
            Judge(outcomes[k], turn[k], content);
            Keep(outcomes[k], turn[k], content);
          }
        }
      }

      runtime::unique_safearray result;
      hr = MakeResultArray(names.Bounds, result);
      if (FAILED(hr)) return hr;
      if (count != 0) {
        VARIANT* elements = nullptr;
        if (FAILED(SafeArrayAccessData(result.get(), reinterpret_cast<void**>(&elements)))) return E_UNEXPECTED;
        for (std::size_t i = 0; i < count && SUCCEEDED(hr); ++i) {
          _Answer* answer = nullptr;
          hr = CreateAnswerObject(std::move(contents[i]), &answer);
          if (SUCCEEDED(hr)) {
            V_VT(&elements[i]) = VT_DISPATCH;
            V_DISPATCH(&elements[i]) = answer;
          }
        }
        SafeArrayUnaccessData(result.get());
        if (FAILED(hr)) return hr;
      }
      V_VT(answers) = VT_ARRAY | VT_VARIANT;
      V_ARRAY(answers) = result.release();
      return S_OK;
    });
  }

 private:
  struct Settings {
    std::vector<std::string> Suffixes;  // wire forms
    std::wstring Servers;
    DWORD TimeoutMs;
    unsigned MaxInFlight;
    std::shared_ptr<exchange::ServerMemory> Memory;
    exchange::EngineSettings Engine() const {
      return exchange::EngineSettings{Servers, TimeoutMs, MaxInFlight, Memory};
    }
  };

  Settings CurrentSettings() const {
    // "": the servers the system is configured with, read at each call.
    return Settings{resolver::SearchSuffixes(runtime::TextToUtf16(SearchListText()), LabelIdna),
                    dnsServer_.empty() ? exchange::SystemDnsServers() : dnsServer_, static_cast<DWORD>(timeOut_),
                    static_cast<unsigned>(maxInFlight_), servers_};
  }

  // What the script set, or by default the system's search list when the
  // system's servers are asked (read at each call), none otherwise.
  std::wstring SearchListText() const {
    if (searchList_) return *searchList_;
    return dnsServer_.empty() ? exchange::SystemSearchList() : std::wstring();
  }

  static HRESULT CopyOut(const std::wstring& text, BSTR* out) noexcept {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    runtime::unique_bstr copy = runtime::MakeBstr(text);
    if (!copy) return E_OUTOFMEMORY;
    *out = copy.release();
    return S_OK;
  }
  // The kept answer to `query`, shown in `content`: false when the cache is
  // off or holds none.
  bool FromCache(const vbDNS::DNSQuery& query, AnswerContent& content) {
    if (!cacheOn_) return false;
    std::optional<resolver::CachedAnswer> hit = cache_.Find(query, ::GetTickCount64());
    if (!hit) return false;
    content.Model = std::move(hit->Model);
    content.Server = std::move(hit->Server);
    content.FromCache = true;
    return true;
  }
  // Keeps what the exchange of `query` made of `content`, counted from when
  // its reply arrived.
  void Keep(const exchange::ExchangeOutcome& outcome, const vbDNS::DNSQuery& query, const AnswerContent& content) {
    if (!cacheOn_) return;
    const resolver::CacheRule rule = resolver::CacheRuleFor(content.Model, outcome.Reply);
    if (rule.Seconds != 0) cache_.Keep(query, resolver::CachedAnswer{content.Model, content.Server}, rule, outcome.EndedAt);
  }
  static HRESULT Flag(bool flag, VARIANT_BOOL* out) noexcept {
    if (out == nullptr) return E_POINTER;
    *out = flag ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  static HRESULT Number(LONG number, LONG* out) noexcept {
    if (out == nullptr) return E_POINTER;
    *out = number;
    return S_OK;
  }
  // A value outside the range is refused with an error the script sees, and
  // the setting keeps its value.
  HRESULT PutRange(LONG value, LONG low, LONG high, LONG& setting, const wchar_t* name) noexcept {
    return Guarded([&] {
      if (value < low || value > high) {
        lastError_ = std::wstring(name) + L" must be from " + std::to_wstring(low) + L" to " + std::to_wstring(high) +
                     L"; " + std::to_wstring(value) + L" was refused";
        return RaiseError(E_INVALIDARG, IID__Resolver, SOURCE, lastError_);
      }
      setting = value;
      lastError_.clear();
      return S_OK;
    });
  }

  std::wstring dnsServer_;
  std::optional<std::wstring> searchList_;  // nullopt: the default
  std::wstring lastError_;
  LONG timeOut_ = DEFAULT_TIMEOUT_MS;
  LONG maxInFlight_ = DEFAULT_MAX_IN_FLIGHT;
  bool dnssecOk_ = false;
  bool cacheOn_ = true;
  LONG cacheSize_ = static_cast<LONG>(resolver::DEFAULT_CACHE_SIZE);
  // Answers kept for this object's next calls (resolver/cache.h), on the
  // clock the engine reports arrivals on.
  resolver::AnswerCache cache_{resolver::DEFAULT_CACHE_SIZE};
  // What this object's calls learnt of its servers, for the next calls.
  std::shared_ptr<exchange::ServerMemory> servers_ = std::make_shared<exchange::ServerMemory>();
};

}  // namespace

HRESULT CreateResolverObject(REFIID iid, void** object) noexcept {
  return CreateDualObject<ResolverObject>(iid, object);
}

}  // namespace vavizav::hosting
