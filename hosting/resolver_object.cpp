#include "hosting/resolver_object.h"

#include <oleauto.h>
#include <olectl.h>

#include <algorithm>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "exchange/system_servers.h"
#include "hosting/answer_objects.h"
#include "hosting/batch_object.h"
#include "hosting/batch_work.h"
#include "hosting/com_boundary.h"
#include "hosting/dual_object.h"
#include "hosting/module.h"
#include "hosting/names_argument.h"
#include "hosting/resolver_events.h"
#include "resolver/answer.h"
#include "resolver/cache.h"
#include "resolver/name_text.h"
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
// The Listener property's DISPID in the type library.
constexpr DISPID LISTENER_DISPID = 9;
// Progress at most this often while a batch runs.
constexpr ULONGLONG PROGRESS_INTERVAL_MS = 100;

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

class ResolverObject final
    : public DualObject<_Resolver, IConnectionPointContainer, IProvideClassInfo2>,
      public BatchOwner {
 public:
  ResolverObject() noexcept : DualObject(Interfaces()), events_(this) {}

  HRESULT STDMETHODCALLTYPE get_DNSServer(BSTR* value) noexcept override { return CopyOut(dnsServer_, value); }
  HRESULT STDMETHODCALLTYPE put_DNSServer(BSTR value) noexcept override {
    return Guarded([&] {
      // Stored as given; a text no server can be made of shows as NOSERVER.
      dnsServer_.assign(runtime::BstrView(value));
      // Answers of other servers are not these servers' answers.
      cache_->Flush();
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
    if (!cacheOn_) cache_->Flush();
    lastError_.clear();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_CacheSize(LONG* value) noexcept override { return Number(cacheSize_, value); }
  HRESULT STDMETHODCALLTYPE put_CacheSize(LONG value) noexcept override {
    const HRESULT hr = PutRange(value, MIN_CACHE_SIZE, MAX_CACHE_SIZE_SETTING, cacheSize_, L"CacheSize");
    if (SUCCEEDED(hr)) {
      return Guarded([&] {
        cache_->SetCapacity(static_cast<std::size_t>(cacheSize_));
        return S_OK;
      });
    }
    return hr;
  }
  HRESULT STDMETHODCALLTYPE FlushCache() noexcept override {
    return Guarded([&] {
      cache_->Flush();
      lastError_.clear();
      return S_OK;
    });
  }

  HRESULT STDMETHODCALLTYPE Cancel() noexcept override {
    lastError_.clear();
    for (SyncReports* running : running_) running->Cancel();
    // Each waits for its worker to stop sending; the list may change meanwhile.
    std::vector<std::shared_ptr<AsyncBatch>> batches;
    try {
      for (const std::weak_ptr<AsyncBatch>& batch : batches_) {
        if (std::shared_ptr<AsyncBatch> live = batch.lock()) batches.push_back(std::move(live));
      }
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    for (const std::shared_ptr<AsyncBatch>& batch : batches) batch->Cancel();
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE get_Listener(VARIANT* value) noexcept override { return events_.GetListener(value); }
  HRESULT STDMETHODCALLTYPE put_Listener(VARIANT value) noexcept override { return SetListener(value); }
  HRESULT STDMETHODCALLTYPE putref_Listener(VARIANT value) noexcept override { return SetListener(value); }

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
      std::vector<std::optional<std::wstring>> texts(1);
      if (!type.Type) {
        lastError_ = type.Error;
      } else if (!name.Ok()) {
        lastError_ = Refused(resolver::Refusal::NameWithoutText, name.Description());
      } else {
        texts[0] = name.Text;
      }
      // Shown with the name as given, even one that cannot be asked.
      runtime::PumpPacer pacer(false);  // one name: no time to speak of
      BatchWork work(texts, type.Type, type.Text, CurrentSettings(), pacer);
      if (!work.NameError().empty()) lastError_ = work.NameError();
      if (!texts[0]) work.Contents()[0]->Name = name.Ok() ? name.Text : std::wstring();
      NoReports quiet;
      work.Run(quiet);
      if (!work.Problem().empty()) lastError_ = work.Problem();
      return CreateAnswerObject(work.ContentOf(0), answer);
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
      std::unique_ptr<BatchWork> work;
      std::vector<SAFEARRAYBOUND> bounds;
      // The thread's windows are served from the start to the end of the call.
      runtime::PumpPacer pacer(true);
      hr = PrepareBatch(Names, Type, CurrentSettings(), pacer, work, bounds);
      if (FAILED(hr)) return hr;

      SyncReports reports(*this, *work);
      running_.push_back(&reports);
      struct Leave {
        std::vector<SyncReports*>& running;
        SyncReports* reports;
        ~Leave() { running.erase(std::find(running.begin(), running.end(), reports)); }
      } leave{running_, &reports};
      work->Run(reports);
      if (!work->Problem().empty()) lastError_ = work->Problem();
      reports.Ended();

      runtime::unique_safearray result;
      hr = MakeResultArray(bounds, result);
      if (FAILED(hr)) return hr;
      const std::size_t count = work->Total();
      if (count != 0) {
        VARIANT* elements = nullptr;
        if (FAILED(SafeArrayAccessData(result.get(), reinterpret_cast<void**>(&elements)))) return E_UNEXPECTED;
        for (std::size_t i = 0; i < count && SUCCEEDED(hr); ++i) {
          pacer.Tick();
          _Answer* answer = nullptr;
          hr = CreateAnswerObject(std::move(work->Contents()[i]), &answer);
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

  HRESULT STDMETHODCALLTYPE ResolveManyAsync(VARIANT Names, VARIANT Type, _Batch** batch) noexcept override {
    if (batch == nullptr) return E_POINTER;
    *batch = nullptr;
    HRESULT hr = CheckArgument(Type, REFERENCE_CHAIN);
    if (FAILED(hr)) return hr;
    CallGuard guard(static_cast<_Resolver*>(this));
    return Guarded([&]() -> HRESULT {
      lastError_.clear();
      auto state = std::make_shared<AsyncBatch>();
      // The worker learns into a copy of what this object knows of its
      // servers; it comes back when the batch's end is reported here.
      auto memory = std::make_shared<exchange::ServerMemory>(servers_->Copy());
      BatchSettings settings = CurrentSettings();
      settings.Memory = memory;
      settings.Wake = state->WakeEvent();
      settings.Pump = false;  // the worker has no windows
      std::unique_ptr<BatchWork> work;
      std::vector<SAFEARRAYBOUND> bounds;
      runtime::PumpPacer pacer(true);
      hr = PrepareBatch(Names, Type, std::move(settings), pacer, work, bounds);
      if (FAILED(hr)) return hr;
      // Batches that ended are forgotten here.
      std::erase_if(batches_, [](const std::weak_ptr<AsyncBatch>& running) { return running.expired(); });
      batches_.push_back(state);
      hr = StartAsyncBatch(*this, state, std::move(work), std::move(memory), std::move(bounds), batch);
      if (FAILED(hr)) batches_.pop_back();
      return hr;
    });
  }

  // Reading Listener with arguments asks oleaut32 for the listener's default
  // member; without a listener there is none, and Wine's oleaut32 would call
  // into the null object it read.
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception, UINT* argumentError) noexcept override {
    if (id == LISTENER_DISPID && (flags & DISPATCH_PROPERTYGET) && params != nullptr && params->cArgs > 0 &&
        !events_.HasListener()) {
      return DISP_E_NOTACOLLECTION;
    }
    return DualObject::Invoke(id, iid, locale, flags, params, result, exception, argumentError);
  }

  // IConnectionPointContainer: the one point, for _ResolverEvents.
  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** points) noexcept override {
    if (points == nullptr) return E_POINTER;
    *points = nullptr;
    return EnumerateOnePoint(&events_, points);
  }
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** point) noexcept override {
    if (point == nullptr) return E_POINTER;
    *point = nullptr;
    if (!IsEqualIID(iid, DIID__ResolverEvents)) return CONNECT_E_NOCONNECTION;
    events_.AddRef();
    *point = &events_;
    return S_OK;
  }

  // IProvideClassInfo2: the coclass and its events, for hosts that connect
  // by class (WScript.ConnectObject, HTA pages, VBA's WithEvents).
  HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** typeInfo) noexcept override {
    return GetLibraryTypeInfo(CLSID_Resolver, typeInfo);
  }
  HRESULT STDMETHODCALLTYPE GetGUID(DWORD kind, GUID* guid) noexcept override {
    if (guid == nullptr) return E_POINTER;
    *guid = GUID_NULL;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) return E_INVALIDARG;
    *guid = DIID__ResolverEvents;
    return S_OK;
  }

  // BatchOwner.
  IUnknown* OwnerUnknown() noexcept override { return static_cast<_Resolver*>(this); }
  bool WantsAnswers() noexcept override { return events_.WantsAnswers(); }
  void ReportAnswered(LONG index, const std::shared_ptr<AnswerContent>& content) override {
    if (!events_.WantsAnswers()) return;
    runtime::com_ptr<_Answer> answer;
    if (FAILED(CreateAnswerObject(content, answer.put()))) throw std::bad_alloc();
    NoteListenerError(events_.Answered(index, answer.get()));
  }
  void ReportProgress(LONG done, LONG total) override {
    if (events_.WantsProgress()) NoteListenerError(events_.Progress(done, total));
  }
  void BatchEnded(AsyncBatch& batch) override {
    servers_->Merge(batch.Learnt());
    if (!batch.Problem().empty()) lastError_ = batch.Problem();
    std::erase_if(batches_, [&](const std::weak_ptr<AsyncBatch>& running) {
      const std::shared_ptr<AsyncBatch> live = running.lock();
      return !live || live.get() == &batch;
    });
  }

 private:
  // A ResolveMany's reports, made on this thread as its answers come.
  class SyncReports final : public BatchSink {
   public:
    SyncReports(ResolverObject& owner, BatchWork& work)
        : owner_(owner), work_(work), lastProgress_(::GetTickCount64()) {}
    void Answered(std::size_t element) override {
      ++done_;
      owner_.ReportAnswered(static_cast<LONG>(element), work_.ContentOf(element));
      const ULONGLONG now = ::GetTickCount64();
      if (now - lastProgress_ >= PROGRESS_INTERVAL_MS && !cancelled_) {
        lastProgress_ = now;
        owner_.ReportProgress(done_, static_cast<LONG>(work_.Total()));
      }
    }
    bool Cancelled() override { return cancelled_; }
    void Cancel() { cancelled_ = true; }
    // Once at the end, a cancelled batch's too.
    void Ended() {
      if (work_.Total() != 0) owner_.ReportProgress(done_, static_cast<LONG>(work_.Total()));
    }

   private:
    ResolverObject& owner_;
    BatchWork& work_;
    ULONGLONG lastProgress_;
    LONG done_ = 0;
    bool cancelled_ = false;
  };
  // Resolve's one question: nobody hears it, nothing ends it early.
  class NoReports final : public BatchSink {
   public:
    void Answered(std::size_t) override {}
    bool Cancelled() override { return false; }
  };

  static std::span<const InterfaceEntry> Interfaces() noexcept {
    static const InterfaceEntry interfaces[] = {
        {&IID_IUnknown, 0},          {&IID_IDispatch, 0},
        {&IID__Resolver, 0},         {&IID_ISupportErrorInfo, 1},
        {&IID_IConnectionPointContainer, 2}, {&IID_IProvideClassInfo, 3},
        {&IID_IProvideClassInfo2, 3},
    };
    return interfaces;
  }

  HRESULT SetListener(const VARIANT& value) noexcept {
    const HRESULT checked = CheckArgument(value, REFERENCE_CHAIN);
    if (FAILED(checked)) return checked;
    CallGuard guard(static_cast<_Resolver*>(this));
    return Guarded([&] {
      if (!events_.SetListener(value)) {
        lastError_ = L"Listener must be an object or Nothing";
        return RaiseError(E_INVALIDARG, IID__Resolver, SOURCE, lastError_);
      }
      lastError_.clear();
      return S_OK;
    });
  }

  void NoteListenerError(std::wstring error) {
    if (!error.empty()) lastError_ = std::move(error);
  }

  // Reads a batch's arguments into its work: E_INVALIDARG raised, with
  // LastError, for Names that are no array of names.
  HRESULT PrepareBatch(VARIANT& Names, VARIANT& Type, BatchSettings settings, runtime::PumpPacer& pacer,
                       std::unique_ptr<BatchWork>& work, std::vector<SAFEARRAYBOUND>& bounds) {
    NamesArgument names;
    std::wstring error;
    const HRESULT read = ReadNames(Names, names, error);
    if (read == E_OUTOFMEMORY) return read;
    if (FAILED(read)) {
      if (error.empty()) return read;  // a reference that points nowhere
      lastError_ = error;
      return RaiseError(read, IID__Resolver, SOURCE, error);
    }
    const TypeArgument type = ReadType(Dereferenced(Type));
    if (!type.Type) lastError_ = type.Error;
    work = std::make_unique<BatchWork>(names.Texts, type.Type, type.Text, std::move(settings), pacer);
    bounds = std::move(names.Bounds);
    return S_OK;
  }

  BatchSettings CurrentSettings() const {
    BatchSettings settings;
    settings.Suffixes = resolver::SearchSuffixes(runtime::TextToUtf16(SearchListText()), LabelIdna);
    // "": the servers the system is configured with, read at each call.
    settings.Servers = dnsServer_.empty() ? exchange::SystemDnsServers() : dnsServer_;
    settings.TimeoutMs = static_cast<DWORD>(timeOut_);
    settings.MaxInFlight = static_cast<unsigned>(maxInFlight_);
    settings.Memory = servers_;
    settings.DnssecOk = dnssecOk_;
    settings.InFlight = inFlight_;
    settings.Connections = connections_;
    if (cacheOn_) {
      settings.Cache = cache_;
      settings.CacheGeneration = cache_->Generation();
    }
    return settings;
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
  // clock the engine reports arrivals on; shared with its running batches.
  std::shared_ptr<SharedCache> cache_ = std::make_shared<SharedCache>(resolver::DEFAULT_CACHE_SIZE);
  // What this object's calls learnt of its servers, for the next calls.
  std::shared_ptr<exchange::ServerMemory> servers_ = std::make_shared<exchange::ServerMemory>();
  // The questions this object's batches are asking, so that a batch on
  // another thread waits for an answer in flight rather than asking again.
  std::shared_ptr<InFlightQuestions> inFlight_ = std::make_shared<InFlightQuestions>();
  // Its DNS over TLS connections, kept between calls and closed when idle.
  std::shared_ptr<exchange::DotPool> connections_ = exchange::NewConnectionPool();
  ResolverEvents events_;
  std::vector<SyncReports*> running_;                 // the ResolveMany calls under way, nested ones too
  std::vector<std::weak_ptr<AsyncBatch>> batches_;    // the ResolveManyAsync batches not yet ended
};

}  // namespace

HRESULT CreateResolverObject(REFIID iid, void** object) noexcept {
  return CreateDualObject<ResolverObject>(iid, object);
}

}  // namespace vavizav::hosting
