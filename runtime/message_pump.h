// Keeping the calling thread's window messages flowing while it waits.
#pragma once

namespace vavizav::runtime {

enum class PumpResult {
  Dispatched,  // the pending messages were dispatched
  Quit,        // WM_QUIT was taken off the queue; it has been posted again
};

// Dispatches (with TranslateMessage) the messages pending for the calling
// thread, sent messages from other threads included, and returns when none is
// left, or after MAX_MESSAGES_PER_PASS of them, so that a handler that keeps
// posting to itself (or a WM_PAINT nobody validates) cannot hold the caller
// here for ever; never waits. A WM_QUIT belongs to the thread's own message
// loop: it is put back with its exit code and the caller should stop pumping,
// or it would take it off again at once.
inline constexpr int MAX_MESSAGES_PER_PASS = 256;
PumpResult PumpMessages() noexcept;

// For long work on a thread with windows: Tick() dispatches the thread's
// messages when INTERVAL_MS have passed since it last did, so that the
// thread's windows stay responsive while it works.
class PumpPacer {
 public:
  static constexpr unsigned long long INTERVAL_MS = 10;
  explicit PumpPacer(bool enabled) noexcept;
  void Tick() noexcept;

 private:
  bool enabled_;
  unsigned long long last_;
};

}  // namespace vavizav::runtime
