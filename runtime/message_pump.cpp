#include "runtime/message_pump.h"

#include <windows.h>

namespace vavizav::runtime {

PumpResult PumpMessages() noexcept {
  MSG message;
  for (int count = 0; count < MAX_MESSAGES_PER_PASS && ::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE); ++count) {
    if (message.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(message.wParam));
      return PumpResult::Quit;
    }
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  return PumpResult::Dispatched;
}

}  // namespace vavizav::runtime
