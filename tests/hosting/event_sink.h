// What the Resolver's reports look like to a compiled client: an event sink
// (an IDispatch a connection point calls, or a listener object found by name)
// that records every report with the thread it came on, and the batches'
// helpers the events and hostile tests share: lists of names, missing
// arguments, pumping the thread's messages.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>
#include <ocidl.h>

#include <cwchar>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "dispatch_double.h"
#include "runtime/handles.h"
#include "vavizav.h"

namespace vavizav::testing {

inline constexpr DISPID DISPID_PROGRESS = 1, DISPID_ANSWERED = 2;

// One report as the sink received it. Progress: First = Done, Second = Total;
// Answered: First = Index, Answer the answer.
struct Report {
  DISPID Member = DISPID_UNKNOWN;
  LONG First = -1;
  LONG Second = -1;
  DWORD Thread = 0;
  runtime::com_ptr<IDispatch> Answer;
};

// Which interfaces the sink's QueryInterface answers besides IUnknown.
enum class SinkFace { EventsAndDispatch, DispatchOnly, EventsOnly, Neither };

class EventSink final : public DispatchDouble {
 public:
  explicit EventSink(SinkFace face = SinkFace::EventsAndDispatch) : face_(face) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) noexcept override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    const bool events = face_ == SinkFace::EventsAndDispatch || face_ == SinkFace::EventsOnly;
    const bool dispatch = face_ == SinkFace::EventsAndDispatch || face_ == SinkFace::DispatchOnly;
    if (IsEqualIID(iid, IID_IUnknown) || (events && IsEqualIID(iid, DIID__ResolverEvents)) ||
        (dispatch && IsEqualIID(iid, IID_IDispatch))) {
      *object = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  // A listener object's members, by name (GetIDsOfNames, as a JScript object answers).
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) noexcept override {
    if (names == nullptr || ids == nullptr || count == 0 || names[0] == nullptr) return E_INVALIDARG;
    ++lookups_;
    if (_wcsicmp(names[0], L"Progress") == 0 && offersProgress_) return *ids = DISPID_PROGRESS, S_OK;
    if (_wcsicmp(names[0], L"Answered") == 0 && offersAnswered_) return *ids = DISPID_ANSWERED, S_OK;
    *ids = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* exception, UINT*) noexcept override {
    if (result != nullptr) VariantInit(result);
    Report report;
    report.Member = id;
    report.Thread = ::GetCurrentThreadId();
    // Progress(long Done, long Total), Answered(long Index, _Answer* Answer):
    // two positional arguments, the last first.
    const bool shaped = params != nullptr && params->cArgs == 2 && params->cNamedArgs == 0 &&
                        params->rgvarg != nullptr && (flags & DISPATCH_METHOD) && V_VT(&params->rgvarg[1]) == VT_I4;
    if (shaped && id == DISPID_PROGRESS && V_VT(&params->rgvarg[0]) == VT_I4) {
      report.First = V_I4(&params->rgvarg[1]);
      report.Second = V_I4(&params->rgvarg[0]);
    } else if (shaped && id == DISPID_ANSWERED && V_VT(&params->rgvarg[0]) == VT_DISPATCH &&
               V_DISPATCH(&params->rgvarg[0]) != nullptr) {
      report.First = V_I4(&params->rgvarg[1]);
      V_DISPATCH(&params->rgvarg[0])->AddRef();
      report.Answer.attach(V_DISPATCH(&params->rgvarg[0]));
    } else {
      ++malformed_;
    }
    // The handler may cause reports of its own (a nested batch): it gets a copy.
    const Report seen{report.Member, report.First, report.Second, report.Thread, report.Answer.copy()};
    Reports.push_back(std::move(report));
    if (OnReport) OnReport(seen);
    if (FailOn != DISPID_UNKNOWN && id != FailOn) return S_OK;
    if (Result == DISP_E_EXCEPTION && exception != nullptr) {
      *exception = EXCEPINFO{};
      exception->scode = E_FAIL;
      exception->bstrDescription = ::SysAllocString(L"the sink failed on purpose");
    }
    return Result;
  }

  // Which members a listener object offers by name (a sink is called by DISPID).
  void Offer(bool progress, bool answered) {
    offersProgress_ = progress;
    offersAnswered_ = answered;
  }

  std::vector<Report> Reports;
  std::function<void(const Report&)> OnReport;  // after the report is recorded
  HRESULT Result = S_OK;                         // what Invoke returns (DISP_E_EXCEPTION with a description)
  DISPID FailOn = DISPID_UNKNOWN;                // only this member returns Result; DISPID_UNKNOWN: both

  int Malformed() const { return malformed_; }
  int Lookups() const { return lookups_; }
  std::size_t Count(DISPID member) const {
    std::size_t n = 0;
    for (const Report& report : Reports) n += report.Member == member;
    return n;
  }

 private:
  ~EventSink() override = default;
  SinkFace face_;
  bool offersProgress_ = true, offersAnswered_ = true;
  int malformed_ = 0, lookups_ = 0;
};

inline VARIANT Missing() {
  VARIANT missing;
  V_VT(&missing) = VT_ERROR;
  V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
  return missing;
}

// "h<first>.<suffix>" .. "h<first + count - 1>.<suffix>" as a one-dimensional
// array of Variants from 0, as VBScript's Array() makes it.
inline runtime::unique_variant NameList(int count, std::wstring_view suffix, int first = 0) {
  runtime::unique_variant list;
  SAFEARRAYBOUND bound{static_cast<ULONG>(count), 0};
  SAFEARRAY* array = ::SafeArrayCreate(VT_VARIANT, 1, &bound);
  VARIANT* elements = nullptr;
  if (array == nullptr || FAILED(::SafeArrayAccessData(array, reinterpret_cast<void**>(&elements)))) return list;
  for (int i = 0; i < count; ++i) {
    const std::wstring name = L"h" + std::to_wstring(first + i) + L"." + std::wstring(suffix);
    V_VT(&elements[i]) = VT_BSTR;
    V_BSTR(&elements[i]) = ::SysAllocString(name.c_str());
  }
  ::SafeArrayUnaccessData(array);
  V_VT(list.get()) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(list.get()) = array;
  return list;
}

// Dispatches the thread's messages for `ms` milliseconds.
inline void PumpFor(DWORD ms) {
  const ULONGLONG end = ::GetTickCount64() + ms;
  for (ULONGLONG now = ::GetTickCount64(); now < end; now = ::GetTickCount64()) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
  }
}

// The elements of an answers array in memory order: each Answer's Status, or
// "<empty>" for an element without one.
inline std::vector<std::wstring> StatusesOf(const VARIANT& answers) {
  std::vector<std::wstring> statuses;
  if (V_VT(&answers) != (VT_ARRAY | VT_VARIANT) || V_ARRAY(&answers) == nullptr) return statuses;
  SAFEARRAY* array = V_ARRAY(&answers);
  ULONG count = 1;
  for (UINT d = 0; d < array->cDims; ++d) count *= array->rgsabound[d].cElements;
  VARIANT* elements = nullptr;
  if (FAILED(::SafeArrayAccessData(array, reinterpret_cast<void**>(&elements)))) return statuses;
  for (ULONG i = 0; i < count; ++i) {
    runtime::com_ptr<_Answer> answer;
    runtime::unique_bstr status;
    if (V_VT(&elements[i]) == VT_DISPATCH && V_DISPATCH(&elements[i]) != nullptr &&
        SUCCEEDED(V_DISPATCH(&elements[i])->QueryInterface(IID__Answer, answer.put_void())) &&
        SUCCEEDED(answer->get_Status(status.put()))) {
      statuses.emplace_back(runtime::BstrView(status.get()));
    } else {
      statuses.emplace_back(V_VT(&elements[i]) == VT_EMPTY ? L"<empty>" : L"<not an answer>");
    }
  }
  ::SafeArrayUnaccessData(array);
  return statuses;
}

inline std::wstring AnswerText(IDispatch* answer, HRESULT (STDMETHODCALLTYPE _Answer::*member)(BSTR*)) {
  runtime::com_ptr<_Answer> typed;
  runtime::unique_bstr text;
  if (answer == nullptr || FAILED(answer->QueryInterface(IID__Answer, typed.put_void())) ||
      FAILED((typed.get()->*member)(text.put()))) {
    return L"<no answer>";
  }
  return std::wstring(runtime::BstrView(text.get()));
}

}  // namespace vavizav::testing
