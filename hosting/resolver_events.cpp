#include "hosting/resolver_events.h"

#include <oleauto.h>
#include <olectl.h>

#include <cstdio>
#include <utility>

#include "hosting/com_object.h"
#include "hosting/dispatch_arguments.h"
#include "vavizav.h"

namespace vavizav::hosting {
namespace {

// The events' DISPIDs in the type library.
constexpr DISPID PROGRESS_EVENT = 1;
constexpr DISPID ANSWERED_EVENT = 2;

// A member of the listener by name. A VBScript class instance answers only
// IDispatchEx::GetDispID under Wine (its GetIDsOfNames is a stub); JScript
// names are case-sensitive, VBScript's are not.
std::optional<DISPID> MemberOf(IDispatch* object, IDispatchEx* extended, const wchar_t* name) {
  runtime::unique_bstr text = runtime::MakeBstr(name);
  if (!text) throw std::bad_alloc();
  DISPID id = DISPID_UNKNOWN;
  if (extended != nullptr) {
    for (const DWORD flags : {DWORD{fdexNameCaseSensitive}, DWORD{fdexNameCaseInsensitive}}) {
      if (SUCCEEDED(extended->GetDispID(text.get(), flags, &id)) && id != DISPID_UNKNOWN) return id;
    }
  }
  LPOLESTR names[] = {text.get()};
  if (SUCCEEDED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id)) && id != DISPID_UNKNOWN) {
    return id;
  }
  return std::nullopt;
}

std::wstring HresultText(HRESULT hr) {
  wchar_t text[16];
  std::swprintf(text, std::size(text), L"0x%08lX", static_cast<unsigned long>(hr));
  return text;
}

// The one point a Resolver has, as EnumConnectionPoints hands it out.
class PointEnumerator final : public ComObject<Lifetime::Counted, IEnumConnectionPoints> {
 public:
  PointEnumerator(IConnectionPoint* point, ULONG position) noexcept
      : ComObject(Interfaces()), point_(point), position_(position) {
    point_->AddRef();
  }
  ~PointEnumerator() override { point_->Release(); }

  HRESULT STDMETHODCALLTYPE Next(ULONG count, IConnectionPoint** points, ULONG* fetched) noexcept override {
    if (fetched != nullptr) *fetched = 0;
    if (points == nullptr || (count > 1 && fetched == nullptr)) return E_POINTER;
    ULONG given = 0;
    if (count > 0 && position_ == 0) {
      point_->AddRef();
      points[0] = point_;
      given = 1;
      position_ = 1;
    }
    if (fetched != nullptr) *fetched = given;
    return given == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) noexcept override {
    const ULONG left = 1 - position_;
    position_ = count >= left ? 1 : position_ + count;
    return count <= left ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Reset() noexcept override {
    position_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumConnectionPoints** copy) noexcept override {
    return CreateComObject<PointEnumerator>(IID_IEnumConnectionPoints, reinterpret_cast<void**>(copy), point_,
                                            position_);
  }

 private:
  static std::span<const InterfaceEntry> Interfaces() noexcept {
    static const InterfaceEntry interfaces[] = {{&IID_IUnknown, 0}, {&IID_IEnumConnectionPoints, 0}};
    return interfaces;
  }
  IConnectionPoint* point_;
  ULONG position_;
};

}  // namespace

bool ResolverEvents::SetListener(const VARIANT& given) {
  const VARIANT& value = Dereferenced(given);
  runtime::com_ptr<IDispatch> object;
  switch (V_VT(&value)) {
    case VT_EMPTY:
    case VT_NULL:
      break;
    case VT_DISPATCH:
    case VT_UNKNOWN:
      // Nothing is an object reference that points nowhere.
      if (V_UNKNOWN(&value) != nullptr) {
        if (FAILED(V_UNKNOWN(&value)->QueryInterface(IID_IDispatch, object.put_void()))) return false;
      }
      break;
    case VT_DISPATCH | VT_BYREF:
      if (V_DISPATCHREF(&value) != nullptr && *V_DISPATCHREF(&value) != nullptr) {
        (*V_DISPATCHREF(&value))->AddRef();
        object.attach(*V_DISPATCHREF(&value));
      }
      break;
    default:
      return false;
  }
  runtime::com_ptr<IDispatchEx> extended = object.query<IDispatchEx>();
  std::optional<DISPID> progress, answered;
  if (object) {
    progress = MemberOf(object.get(), extended.get(), L"Progress");
    answered = MemberOf(object.get(), extended.get(), L"Answered");
  }
  // The old listener goes last: releasing it may run its code.
  std::swap(listener_, object);
  std::swap(listenerEx_, extended);
  listenerProgress_ = progress;
  listenerAnswered_ = answered;
  return true;
}

HRESULT ResolverEvents::GetListener(VARIANT* value) const noexcept {
  if (value == nullptr) return E_POINTER;
  ::VariantInit(value);
  // None reads as Nothing.
  V_VT(value) = VT_DISPATCH;
  V_DISPATCH(value) = listener_.copy().detach();
  return S_OK;
}

std::wstring ResolverEvents::Report(const std::optional<DISPID>& member, const wchar_t* name, VARIANT* arguments,
                                    UINT count, DISPID event) {
  std::wstring error;
  DISPPARAMS params{arguments, nullptr, count, 0};
  if (member && listener_) {
    // Held for the call: the listener may let itself go (Listener = Nothing).
    const runtime::com_ptr<IDispatch> listener = listener_.copy();
    const runtime::com_ptr<IDispatchEx> extended = listenerEx_.copy();
    EXCEPINFO exception{};
    runtime::unique_variant result;
    const HRESULT hr =
        extended ? extended->InvokeEx(*member, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result.get(),
                                      &exception, nullptr)
                 : listener->Invoke(*member, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result.get(),
                                    &exception, nullptr);
    if (hr == DISP_E_EXCEPTION && exception.pfnDeferredFillIn != nullptr) exception.pfnDeferredFillIn(&exception);
    const runtime::unique_bstr description(exception.bstrDescription), source(exception.bstrSource),
        help(exception.bstrHelpFile);
    if (FAILED(hr)) {
      std::wstring why(runtime::BstrView(description.get()));
      if (why.empty()) why = HresultText(hr == DISP_E_EXCEPTION && exception.scode != 0 ? exception.scode : hr);
      error = std::wstring(L"Listener.") + name + L" raised an error: " + why;
    }
  }
  if (!sinks_.empty()) {
    // A sink may unadvise itself, or others, from inside its call.
    std::vector<runtime::com_ptr<IDispatch>> targets;
    targets.reserve(sinks_.size());
    for (const Sink& sink : sinks_) targets.push_back(sink.Target.copy());
    for (const runtime::com_ptr<IDispatch>& target : targets) {
      runtime::unique_variant result;
      target->Invoke(event, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result.get(), nullptr, nullptr);
    }
  }
  return error;
}

std::wstring ResolverEvents::Progress(LONG done, LONG total) {
  if (!WantsProgress()) return {};
  // Arguments go last to first.
  VARIANT arguments[2];
  V_VT(&arguments[0]) = VT_I4;
  V_I4(&arguments[0]) = total;
  V_VT(&arguments[1]) = VT_I4;
  V_I4(&arguments[1]) = done;
  return Report(listenerProgress_, L"Progress", arguments, 2, PROGRESS_EVENT);
}

std::wstring ResolverEvents::Answered(LONG index, IDispatch* answer) {
  if (!WantsAnswers()) return {};
  VARIANT arguments[2];
  V_VT(&arguments[0]) = VT_DISPATCH;
  V_DISPATCH(&arguments[0]) = answer;
  V_VT(&arguments[1]) = VT_I4;
  V_I4(&arguments[1]) = index;
  return Report(listenerAnswered_, L"Answered", arguments, 2, ANSWERED_EVENT);
}

HRESULT ResolverEvents::QueryInterface(REFIID iid, void** object) noexcept {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IConnectionPoint)) return E_NOINTERFACE;
  AddRef();
  *object = static_cast<IConnectionPoint*>(this);
  return S_OK;
}

HRESULT ResolverEvents::GetConnectionInterface(IID* iid) noexcept {
  if (iid == nullptr) return E_POINTER;
  *iid = DIID__ResolverEvents;
  return S_OK;
}

HRESULT ResolverEvents::GetConnectionPointContainer(IConnectionPointContainer** container) noexcept {
  if (container == nullptr) return E_POINTER;
  container_->AddRef();
  *container = container_;
  return S_OK;
}

HRESULT ResolverEvents::Advise(IUnknown* sink, DWORD* cookie) noexcept {
  if (cookie == nullptr) return E_POINTER;
  *cookie = 0;
  if (sink == nullptr) return E_POINTER;
  if (sinks_.size() >= MAX_EVENT_SINKS) return CONNECT_E_ADVISELIMIT;
  runtime::com_ptr<IDispatch> target;
  if (FAILED(sink->QueryInterface(DIID__ResolverEvents, target.put_void())) &&
      FAILED(sink->QueryInterface(IID_IDispatch, target.put_void()))) {
    return CONNECT_E_CANNOTCONNECT;
  }
  if (!target) return CONNECT_E_CANNOTCONNECT;
  try {
    sinks_.push_back(Sink{nextCookie_, std::move(target)});
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  *cookie = nextCookie_++;
  if (nextCookie_ == 0) nextCookie_ = 1;
  return S_OK;
}

HRESULT ResolverEvents::Unadvise(DWORD cookie) noexcept {
  for (auto it = sinks_.begin(); it != sinks_.end(); ++it) {
    if (it->Cookie != cookie) continue;
    // Released after it left the list: its Release may run its code.
    runtime::com_ptr<IDispatch> leaving = std::move(it->Target);
    sinks_.erase(it);
    return S_OK;
  }
  return CONNECT_E_NOCONNECTION;
}

HRESULT ResolverEvents::EnumConnections(IEnumConnections** connections) noexcept {
  if (connections != nullptr) *connections = nullptr;
  return E_NOTIMPL;
}

HRESULT EnumerateOnePoint(IConnectionPoint* point, IEnumConnectionPoints** points) noexcept {
  return CreateComObject<PointEnumerator>(IID_IEnumConnectionPoints, reinterpret_cast<void**>(points), point, 0UL);
}

}  // namespace vavizav::hosting
