// A window for tests that post messages to a thread while it waits.
#pragma once

#include <windows.h>

#include <functional>
#include <utility>

namespace vavizav::testing {

// A message-only window (HWND_MESSAGE) that hands every message from WM_APP
// up to `handler`; it works without a display.
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
