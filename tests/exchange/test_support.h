// Calling the resolver object as an automation client would, and timing it.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <string_view>

#include "handles.h"
#include "vevivoridezaz.h"

namespace vavizav::testing {

inline unique_variant Text(std::wstring_view text) {
  unique_variant value;
  V_BSTR(value.get()) = MakeBstr(text).release();
  V_VT(value.get()) = VT_BSTR;
  return value;
}

inline unique_variant Long(LONG number) {
  unique_variant value;
  V_VT(value.get()) = VT_I4;
  V_I4(value.get()) = number;
  return value;
}

struct Answer {
  HRESULT Status;
  std::wstring Result;
  std::wstring LastError;
};

inline std::wstring LastError(const VeviVORIdezaz& object) {
  unique_bstr text;
  object.get_LastError(text.put());
  return std::wstring(BstrView(text.get()));
}

template <typename Member>
Answer Call(VeviVORIdezaz& object, Member member, VARIANT& argument) {
  unique_bstr result;
  const HRESULT status = (object.*member)(&argument, result.put());
  return {status, std::wstring(BstrView(result.get())), LastError(object)};
}
inline Answer Forward(VeviVORIdezaz& object, VARIANT& argument) {
  return Call(object, &VeviVORIdezaz::GetIPFromName, argument);
}
inline Answer Forward(VeviVORIdezaz& object, std::wstring_view name) { return Forward(object, *Text(name)); }
inline Answer Reverse(VeviVORIdezaz& object, VARIANT& argument) {
  return Call(object, &VeviVORIdezaz::GetNameFromIP, argument);
}
inline Answer Reverse(VeviVORIdezaz& object, std::wstring_view address) { return Reverse(object, *Text(address)); }

inline void Configure(VeviVORIdezaz& object, std::wstring_view server, LONG timeoutMs) {
  object.put_DNSServer(Text(server).get());
  object.put_TimeOut(&timeoutMs);
}

class Stopwatch {
 public:
  Stopwatch() { ::QueryPerformanceCounter(&start_); }
  double ElapsedMs() const {
    LARGE_INTEGER now, frequency;
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(now.QuadPart - start_.QuadPart) / static_cast<double>(frequency.QuadPart);
  }

 private:
  LARGE_INTEGER start_;
};

// Kernel plus user time of the calling thread so far, in milliseconds.
inline double ThreadCpuMs() {
  FILETIME created, exited, kernel, user;
  ::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel, &user);
  const auto ms = [](const FILETIME& t) {
    return static_cast<double>(static_cast<ULONGLONG>(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 10000.0;
  };
  return ms(kernel) + ms(user);
}

}  // namespace vavizav::testing

#include <functional>

namespace vavizav::testing {

// A message-only window (HWND_MESSAGE) that hands every message it gets to
// `handler`; it works without a display.
class MessageWindow {
 public:
  using Handler = std::function<void(UINT message, WPARAM wParam)>;
  explicit MessageWindow(Handler handler) : handler_(std::move(handler)) {
    static const ATOM windowClass = [] {
      WNDCLASSW description{};
      description.lpfnWndProc = Procedure;
      description.hInstance = ::GetModuleHandleW(nullptr);
      description.lpszClassName = L"VavizavTestMessageWindow";
      return ::RegisterClassW(&description);
    }();
    window_ = ::CreateWindowExW(0, MAKEINTATOM(windowClass), L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                ::GetModuleHandleW(nullptr), nullptr);
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  MessageWindow(const MessageWindow&) = delete;
  MessageWindow& operator=(const MessageWindow&) = delete;
  ~MessageWindow() { ::DestroyWindow(window_); }
  HWND get() const { return window_; }

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<MessageWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self && message >= WM_APP) {
      self->handler_(message, wParam);
      return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
  }
  Handler handler_;
  HWND window_ = nullptr;
};

}  // namespace vavizav::testing
