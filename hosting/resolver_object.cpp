#include "resolver_object.h"

#include <oleauto.h>

#include <algorithm>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "answer.h"
#include "answer_objects.h"
#include "com_boundary.h"
#include "dual_object.h"
#include "engine.h"
#include "handles.h"
#include "idna.h"
#include "names_argument.h"
#include "system_servers.h"
#include "variant_text.h"
#include "vavizav.h"

namespace vavizav::hosting {
namespace {

constexpr wchar_t SOURCE[] = L"Vavizav.Resolver";
constexpr LONG DEFAULT_TIMEOUT_MS = 10000, MIN_TIMEOUT_MS = 1, MAX_TIMEOUT_MS = 65534;
constexpr LONG DEFAULT_MAX_IN_FLIGHT = 64, MIN_MAX_IN_FLIGHT = 1, MAX_MAX_IN_FLIGHT = 1024;
// The most queries the engine takes in one call; larger batches go in turns.
constexpr std::size_t ENGINE_BATCH = MAX_QUESTIONS_PER_CALL;

std::wstring Widen(std::string_view ascii) {
  std::wstring wide(ascii.size(), L'\0');
  for (std::size_t i = 0; i < ascii.size(); ++i) wide[i] = static_cast<unsigned char>(ascii[i]);
  return wide;
}

// ASCII text to octets; nullopt when a character is outside ASCII.
std::optional<std::string> Narrow(std::wstring_view text) {
  std::string octets(text.size(), '\0');
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] > 0x7F) return std::nullopt;
    octets[i] = static_cast<char>(text[i]);
  }
  return octets;
}

// What a Type argument asks: the type, and the text an Answer shows for it.
struct TypeArgument {
  std::optional<std::uint16_t> Type;  // nullopt: no type can be made of it
  std::wstring Text;                  // the mnemonic, or the caller's text
  std::wstring Error;                 // LastError when there is no type
};

bool IsNumber(VARTYPE type) {
  switch (type) {
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_INT: case VT_UINT:
    case VT_I8: case VT_UI8: case VT_R4: case VT_R8: case VT_CY: case VT_DECIMAL:
      return true;
    default:
      return false;
  }
}

const wchar_t TYPE_HINT[] = L" is not a DNS type: give a mnemonic such as \"MX\" or a number from 1 to 65535";

TypeArgument ReadType(const VARIANT& argument) {
  TypeArgument read;
  const VARIANT* value = &argument;
  if (V_VT(value) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(value) != nullptr) value = V_VARIANTREF(value);
  const VARTYPE type = V_VT(value);
  // Left out (DISP_E_PARAMNOTFOUND) or Empty: "A".
  if (type == VT_EMPTY || (type == VT_ERROR && V_ERROR(value) == DISP_E_PARAMNOTFOUND)) {
    read.Type = vbDNS::TYPE_A;
  } else if (IsNumber(type & VT_TYPEMASK) && !(type & VT_ARRAY)) {
    unique_variant number;
    if (SUCCEEDED(::VariantChangeType(number.get(), const_cast<VARIANT*>(value), 0, VT_R8))) {
      const double n = V_R8(number.get());
      // Checked before the cast: a double outside the range has no integer value to cast to.
      if (n >= 1 && n <= 65535 && n == static_cast<double>(static_cast<long>(n))) {
        read.Type = static_cast<std::uint16_t>(n);
      } else {
        const TextConversion text = VariantToText(*value);
        read.Text = text.Ok() ? text.Text : std::wstring(L"?");
        read.Error = L"Type " + read.Text + TYPE_HINT;
        return read;
      }
    }
  } else {
    TextConversion text = VariantToText(*value);
    if (text.Status == TextConversionStatus::OutOfMemory) throw std::bad_alloc();
    if (!text.Ok()) {
      read.Error = L"Type: " + std::wstring(text.Description());
      return read;
    }
    read.Text = text.Text;
    if (const std::optional<std::string> ascii = Narrow(text.Text)) read.Type = ParseQuestionType(*ascii);
    if (!read.Type) {
      read.Error = L"Type \"" + text.Text + L"\"" + TYPE_HINT;
      return read;
    }
  }
  if (!read.Type) {
    read.Error = L"Type" + std::wstring(TYPE_HINT);
    return read;
  }
  read.Text = Widen(vbDNS::TypeMnemonic(*read.Type));
  return read;
}

// The question a name makes, after IDNA; nullopt when it cannot be asked.
std::optional<vbDNS::DNSQuery> QuestionFor(const std::wstring& name, std::uint16_t type) {
  if (name.empty()) return std::nullopt;
  const std::optional<std::wstring> ascii = HostNameToAscii(name);
  if (!ascii) return std::nullopt;
  const std::optional<std::string> octets = Narrow(*ascii);
  if (!octets) return std::nullopt;
  return BuildResolverQuestion(*octets, type);
}

std::shared_ptr<AnswerContent> Content(std::wstring name, std::wstring type) {
  auto content = std::make_shared<AnswerContent>();
  content->Name = std::move(name);
  content->Type = std::move(type);
  return content;
}

// The engine's outcome as a script reads it.
void Judge(const ExchangeOutcome& outcome, const vbDNS::DNSQuery& query, AnswerContent& content) {
  content.Server = outcome.Server;
  switch (outcome.Failure) {
    case ExchangeFailure::None:
      content.Model = outcome.Reply ? JudgeReply(*outcome.Reply, query) : AnswerWithoutReply(TIMEOUT_STATUS);
      break;
    case ExchangeFailure::TruncatedTcpFailed:
      // Only what fitted the datagram: a NOERROR in it is no verdict.
      content.Model = outcome.Reply ? JudgeTruncatedReply(*outcome.Reply, query) : AnswerWithoutReply(TIMEOUT_STATUS);
      break;
    case ExchangeFailure::Malformed:
      content.Model = AnswerWithoutReply(MALFORMED_STATUS);
      break;
    case ExchangeFailure::NoUsableServer:
    case ExchangeFailure::NothingSent:
      content.Model = AnswerWithoutReply(NOSERVER_STATUS);
      content.Server.clear();
      break;
    case ExchangeFailure::TimedOut:
    default:
      content.Model = AnswerWithoutReply(TIMEOUT_STATUS);
      content.Server.clear();
      break;
  }
  // No usable reply, no server to name: a reply that could not be read counts as none.
  if (content.Model.Status == MALFORMED_STATUS) content.Server.clear();
}

class ResolverObject final : public DualObject<_Resolver> {
 public:
  ResolverObject() noexcept : DualObject(IID__Resolver) {}

  HRESULT STDMETHODCALLTYPE get_DNSServer(BSTR* value) noexcept override { return CopyOut(dnsServer_, value); }
  HRESULT STDMETHODCALLTYPE put_DNSServer(BSTR value) noexcept override {
    return Guarded([&] {
      // Stored as given; a text no server can be made of shows as NOSERVER.
      dnsServer_.assign(BstrView(value));
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

  // The engine pumps the thread's messages: the script may use this object
  // meanwhile, even release it. The settings are copied first and a
  // reference is held to the end.
  HRESULT STDMETHODCALLTYPE Resolve(VARIANT Name, VARIANT Type, _Answer** answer) noexcept override {
    if (answer == nullptr) return E_POINTER;
    *answer = nullptr;
    HRESULT hr = CheckArgument(Name);
    if (SUCCEEDED(hr)) hr = CheckArgument(Type);
    if (FAILED(hr)) return hr;
    CallGuard guard(static_cast<_Resolver*>(this));
    return Guarded([&]() -> HRESULT {
      lastError_.clear();
      const TypeArgument type = ReadType(Type);
      TextConversion name = VariantToText(Name);
      if (name.Status == TextConversionStatus::OutOfMemory) return E_OUTOFMEMORY;
      std::shared_ptr<AnswerContent> content = Content(name.Ok() ? name.Text : std::wstring(), type.Text);

      std::optional<vbDNS::DNSQuery> query;
      if (!type.Type) {
        lastError_ = type.Error;
      } else if (!name.Ok()) {
        lastError_ = L"Name: " + std::wstring(name.Description());
      } else if (!(query = QuestionFor(name.Text, *type.Type))) {
        lastError_ = L"Name \"" + name.Text + L"\" cannot be asked: it is empty, has an empty label, a label over "
                     L"63 octets, is over 255 octets in all, or IDNA refuses it";
      }
      if (!query) {
        content->Model = AnswerWithoutReply(BADNAME_STATUS);
      } else {
        const Settings settings = CurrentSettings();
        const std::vector<ExchangeOutcome> outcomes = ExchangeMany(std::span(&*query, 1), settings.Engine());
        if (outcomes.size() != 1) return E_UNEXPECTED;
        Judge(outcomes.front(), *query, *content);
      }
      return CreateAnswerObject(std::move(content), answer);
    });
  }

  HRESULT STDMETHODCALLTYPE ResolveMany(VARIANT Names, VARIANT Type, VARIANT* answers) noexcept override {
    if (answers == nullptr) return E_POINTER;
    ::VariantInit(answers);
    HRESULT hr = CheckArgument(Type);
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
      const TypeArgument type = ReadType(Type);
      if (!type.Type) lastError_ = type.Error;

      // One question per element with a name; the engine asks duplicates once.
      const std::size_t count = names.Texts.size();
      std::vector<std::shared_ptr<AnswerContent>> contents(count);
      std::vector<vbDNS::DNSQuery> queries;
      std::vector<std::size_t> asked;  // the element of each query
      for (std::size_t i = 0; i < count; ++i) {
        const std::optional<std::wstring>& text = names.Texts[i];
        contents[i] = Content(text ? *text : std::wstring(), type.Text);
        std::optional<vbDNS::DNSQuery> query;
        if (type.Type && text) query = QuestionFor(*text, *type.Type);
        if (!query) {
          contents[i]->Model = AnswerWithoutReply(BADNAME_STATUS);
          continue;
        }
        queries.push_back(*query);
        asked.push_back(i);
      }
      names.Texts.clear();

      const Settings settings = CurrentSettings();
      for (std::size_t first = 0; first < queries.size(); first += ENGINE_BATCH) {
        const std::size_t size = std::min(ENGINE_BATCH, queries.size() - first);
        const std::span<const vbDNS::DNSQuery> turn(queries.data() + first, size);
        const std::vector<ExchangeOutcome> outcomes = ExchangeMany(turn, settings.Engine());
        if (outcomes.size() != size) return E_UNEXPECTED;
        for (std::size_t k = 0; k < size; ++k) Judge(outcomes[k], turn[k], *contents[asked[first + k]]);
      }

      unique_safearray result;
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
    std::wstring Servers;
    DWORD TimeoutMs;
    unsigned MaxInFlight;
    std::shared_ptr<ServerMemory> Memory;
    EngineSettings Engine() const { return EngineSettings{Servers, TimeoutMs, MaxInFlight, Memory}; }
  };

  Settings CurrentSettings() const {
    // "": the servers the system is configured with, read at each call.
    return Settings{dnsServer_.empty() ? SystemDnsServers() : dnsServer_, static_cast<DWORD>(timeOut_),
                    static_cast<unsigned>(maxInFlight_), servers_};
  }

  static HRESULT CopyOut(const std::wstring& text, BSTR* out) noexcept {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    unique_bstr copy = MakeBstr(text);
    if (!copy) return E_OUTOFMEMORY;
    *out = copy.release();
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
  std::wstring lastError_;
  LONG timeOut_ = DEFAULT_TIMEOUT_MS;
  LONG maxInFlight_ = DEFAULT_MAX_IN_FLIGHT;
  // What this object's calls learnt of its servers, for the next calls.
  std::shared_ptr<ServerMemory> servers_ = std::make_shared<ServerMemory>();
};

}  // namespace

HRESULT CreateResolverObject(REFIID iid, void** object) noexcept {
  return CreateDualObject<ResolverObject>(iid, object);
}

}  // namespace vavizav::hosting
