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

PumpPacer::PumpPacer(bool enabled) noexcept : enabled_(enabled), last_(::GetTickCount64()) {}

void PumpPacer::Tick() noexcept {
  if (!enabled_) return;
  const ULONGLONG now = ::GetTickCount64();
  if (now - last_ < INTERVAL_MS) return;
  // A WM_QUIT is the thread's own loop's: once it is seen, no more pumping.
  if (PumpMessages() == PumpResult::Quit) enabled_ = false;
  last_ = ::GetTickCount64();
}

}  // namespace vavizav::runtime
