// Calling the resolver object as automation clients do: through its members
// directly (early bound; the object in-process or the dual interface of the
// module) and through IDispatch::Invoke (late bound, as a script host).
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cwchar>
#include <initializer_list>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "clock.h"
#include "runtime/handles.h"

namespace vavizav::testing {

// The dispatch identifiers of the interface's members, as the type library
// assigns them.
inline constexpr DISPID DISPID_TIMEOUT = 0x68030000;
inline constexpr DISPID DISPID_DNS_SERVER = 0x68030001;
inline constexpr DISPID DISPID_LAST_ERROR = 0x68030002;
inline constexpr DISPID DISPID_GET_IP_FROM_NAME = 0x60030003;
inline constexpr DISPID DISPID_GET_NAME_FROM_IP = 0x60030004;

// A VT_BSTR variant holding `text`.
inline runtime::unique_variant Text(std::wstring_view text) {
  runtime::unique_variant value;
  V_BSTR(value.get()) = runtime::MakeBstr(text).release();
  V_VT(value.get()) = VT_BSTR;
  return value;
}

inline runtime::unique_variant Long(LONG number) {
  runtime::unique_variant value;
  V_VT(value.get()) = VT_I4;
  V_I4(value.get()) = number;
  return value;
}

inline std::wstring HresultText(HRESULT status) {
  wchar_t text[16];
  std::swprintf(text, std::size(text), L"0x%08lX", static_cast<unsigned long>(status));
  return text;
}

// What one lookup gave: the member's result, its text and LastError read
// afterwards, and the time the lookup member alone took.
struct Answer {
  HRESULT Status = E_FAIL;
  VARTYPE ResultType = VT_BSTR;  // of the late-bound result
  std::wstring Result;
  HRESULT LastErrorStatus = E_FAIL;
  std::wstring LastError;  // a text in angle brackets when LastError could not be read
  double Us = 0;
};

// LastError of the object in-process (VeviVORIdezaz) or through the dual
// interface (_VeviVORIdezaz); `status`, when given, receives get_LastError's result.
template <typename Object>
std::wstring LastError(Object& object, HRESULT* status = nullptr) {
  runtime::unique_bstr text;
  const HRESULT hr = object.get_LastError(text.put());
  if (status) *status = hr;
  if (FAILED(hr)) return L"<get_LastError failed: " + HresultText(hr) + L">";
  return std::wstring(runtime::BstrView(text.get()));
}

template <typename Object>
void Configure(Object& object, std::wstring_view server, LONG timeoutMs) {
  object.put_DNSServer(Text(server).get());
  object.put_TimeOut(&timeoutMs);
}

// Early-bound lookups: the member called directly, then LastError.
enum class Direction { Forward, Reverse };
template <typename Object>
Answer EarlyLookup(Object& object, Direction direction, VARIANT& argument) {
  runtime::unique_bstr result;
  Answer answer;
  const Stopwatch clock;
  answer.Status = direction == Direction::Forward ? object.GetIPFromName(&argument, result.put())
                                                  : object.GetNameFromIP(&argument, result.put());
  answer.Us = clock.ElapsedUs();
  answer.Result = runtime::BstrView(result.get());
  answer.LastError = LastError(object, &answer.LastErrorStatus);
  return answer;
}
template <typename Object>
Answer Forward(Object& object, VARIANT& argument) {
  return EarlyLookup(object, Direction::Forward, argument);
}
template <typename Object>
Answer Reverse(Object& object, VARIANT& argument) {
  return EarlyLookup(object, Direction::Reverse, argument);
}
template <typename Object>
Answer Forward(Object& object, std::wstring_view name) {
  return Forward(object, *Text(name));
}
template <typename Object>
Answer Reverse(Object& object, std::wstring_view address) {
  return Reverse(object, *Text(address));
}

// Frees the texts Invoke may have filled into `exception`.
inline void FreeExceptionInfo(EXCEPINFO& exception) {
  ::SysFreeString(exception.bstrSource);
  ::SysFreeString(exception.bstrDescription);
  ::SysFreeString(exception.bstrHelpFile);
}

// IDispatch::Invoke with the arguments in call order (Invoke takes them
// reversed), freeing whatever EXCEPINFO it fills. The array holds shallow
// copies of the caller's variants: the component's Invoke only reads its
// arguments, so a value freed behind them would show as a double free under
// Wine's heap checks. `elapsedUs`, when given, receives the time of the Invoke
// call alone.
inline HRESULT Invoke(IDispatch* object, DISPID member, WORD flags, std::initializer_list<VARIANT*> arguments,
                      VARIANT* result, UINT* argumentError = nullptr, double* elapsedUs = nullptr) {
  std::vector<VARIANT> reversed;
  for (auto argument = std::rbegin(arguments); argument != std::rend(arguments); ++argument) {
    reversed.push_back(**argument);
  }
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
    params.rgdispidNamedArgs = &put;
    params.cNamedArgs = 1;
  }
  EXCEPINFO exception{};
  UINT error = 0;
  const Stopwatch clock;
  const HRESULT hr = object->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, &exception,
                                    argumentError ? argumentError : &error);
  if (elapsedUs) *elapsedUs = clock.ElapsedUs();
  FreeExceptionInfo(exception);
  return hr;
}

// What a script host does for `object.GetIPFromName(argument)` (or
// GetNameFromIP) once it knows the dispatch identifier: Invoke with one
// by-value argument, then LastError by another Invoke. A result that is no
// string, or a LastError that cannot be read, shows as a text in angle brackets.
inline Answer LateLookup(IDispatch* object, DISPID member, VARIANT& argument) {
  Answer answer;
  runtime::unique_variant result;
  answer.Status = Invoke(object, member, DISPATCH_METHOD, {&argument}, result.get(), nullptr, &answer.Us);
  answer.ResultType = V_VT(result.get());
  if (V_VT(result.get()) == VT_BSTR) answer.Result = runtime::BstrView(V_BSTR(result.get()));
  else if (SUCCEEDED(answer.Status)) answer.Result = L"<result of type " + std::to_wstring(V_VT(result.get())) + L">";
  runtime::unique_variant lastError;
  answer.LastErrorStatus = Invoke(object, DISPID_LAST_ERROR, DISPATCH_PROPERTYGET, {}, lastError.get());
  if (FAILED(answer.LastErrorStatus)) {
    answer.LastError = L"<LastError failed: " + HresultText(answer.LastErrorStatus) + L">";
  } else if (V_VT(lastError.get()) == VT_BSTR) {
    answer.LastError = runtime::BstrView(V_BSTR(lastError.get()));
  } else {
    answer.LastError = L"<LastError of type " + std::to_wstring(V_VT(lastError.get())) + L">";
  }
  return answer;
}

}  // namespace vavizav::testing
