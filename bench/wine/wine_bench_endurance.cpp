// wine_bench's long-running sections: waits on a silent server, the soak,
// and the traced groups of calls for bench/wine/server-calls.
#include "wine_bench.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>

#include "clock.h"
#include "text.h"

namespace wine_bench {

// --- waiting for a silent server -----------------------------------------------

void SilentWait(const Options& options, const Component& component) {
  constexpr LONG WAIT_MS = 2000;
  com_ptr<_VeviVORIdezaz> object = component.NewObject(options.Silent, WAIT_MS);
  if (!object) {
    Comment("silent: skipped: no object");
    return;
  }
  unique_variant name = TextVariant(FORWARD_NAME);
  // The clocks must see CPU time at all: 200 ms of spinning first.
  {
    const double threadStart = ThreadCpuMs(), processStart = ProcessCpuMs(), start = NowUs();
    while (NowUs() - start < 200e3) {
    }
    Emit("silent.clock_check", ThreadCpuMs() - threadStart, "ms",
         "thread CPU of 200 ms spinning (process: " + std::to_string(std::lround(ProcessCpuMs() - processStart)) +
             " ms)");
  }
  const double threadBefore = ThreadCpuMs(), processBefore = ProcessCpuMs(), wallBefore = NowUs();
  int early = 0;
  for (int i = 0; i < options.SilentWaits; ++i) {
    const double waitStart = NowUs();
    const Outcome outcome = EarlyForward(object.get(), *name);
    Progress();
    if (outcome.LastError != L"DNS Request Timed Out" || NowUs() - waitStart < 0.95e3 * WAIT_MS) ++early;
  }
  const double wallMs = (NowUs() - wallBefore) / 1e3;
  const double threadMs = ThreadCpuMs() - threadBefore, processMs = ProcessCpuMs() - processBefore;
  const std::string shape = std::to_string(options.SilentWaits) + " waits of " + std::to_string(WAIT_MS) + " ms on " +
                            Narrow(options.Silent) + ", " + std::to_string(std::lround(wallMs)) + " ms in all";
  if (early > 0) {
    Comment("silent: " + std::to_string(early) + " waits ended early: something answers on " + Narrow(options.Silent));
  }
  // Wine reads thread times from /proc in ticks of 10 ms: none at all puts the
  // share below one tick over the whole wait.
  const double share = 100.0 * threadMs / wallMs;
  char bound[64];
  std::snprintf(bound, sizeof bound, "no clock tick, so under %.2f%%", 100.0 * 10 / wallMs);
  Emit("silent.thread_cpu", threadMs, "ms", shape);
  // The project's own goal: a waiting thread takes under 1 % of its CPU.
  Emit("silent.thread_cpu_share", share, "%",
       std::string("target < 1%: ") + (share < 1.0 ? "met" : "MISSED") +
           (threadMs == 0 ? std::string(", ") + bound : ""));
  Emit("silent.process_cpu_share", 100.0 * processMs / wallMs, "%", "every thread of the process");
}

// --- soak ---------------------------------------------------------------------

namespace {

// Alternates forward and reverse lookups, and takes a new object every
// OBJECT_LIFETIME lookups, so that object creation and release soak too.
class SoakDriver {
 public:
  static constexpr int OBJECT_LIFETIME = 1000;

  SoakDriver(const Options& options, const Component& component) : options_(options), component_(component) {}

  // Runs `count` lookups; the time of each goes to times[0..count) when given.
  void Run(int count, float* times) {
    for (int i = 0; i < count; ++i, ++done_) {
      if (done_ % OBJECT_LIFETIME == 0) object_ = component_.NewObject(options_.Server, 2000);
      if (!object_) {
        ++failures_;
        continue;
      }
      const bool forward = done_ % 2 == 0;
      const Outcome outcome = forward ? EarlyForward(object_.get(), *name_) : EarlyReverse(object_.get(), *address_);
      Progress();
      const bool ok = outcome.Status == S_OK && outcome.LastError.empty() &&
                      outcome.Result == (forward ? FORWARD_ADDRESS : REVERSE_NAME);
      if (!ok) {
        ++failures_;
        WrongAnswer("soak", outcome);
      }
      if (times) times[i] = static_cast<float>(outcome.Us);
    }
  }
  int Failures() const { return failures_; }

 private:
  const Options& options_;
  const Component& component_;
  com_ptr<_VeviVORIdezaz> object_;
  unique_variant name_ = TextVariant(FORWARD_NAME);
  unique_variant address_ = TextVariant(REVERSE_ADDRESS);
  long long done_ = 0;
  int failures_ = 0;
};

}  // namespace

void Soak(const Options& options, const Component& component) {
  constexpr int WARM_UP = 500;
  // Written through before the first footprint, so that its pages are
  // resident already.
  std::vector<float> times(static_cast<std::size_t>(options.Soak), 0.0f);
  SoakDriver driver(options, component);
  driver.Run(WARM_UP, nullptr);
  const Footprint before = Measure();
  const double start = NowUs();
  const int checkpoints = 10;
  int done = 0;
  for (int part = 0; part < checkpoints; ++part) {
    const int count = options.Soak / checkpoints + (part < options.Soak % checkpoints ? 1 : 0);
    driver.Run(count, times.data() + done);
    done += count;
    const Footprint now = Measure();
    char line[160];
    std::snprintf(line, sizeof line, "soak: %d lookups: %.0f handles, %.0f KiB private, %.0f KiB RssAnon, %.0f windows",
                  done, now.Handles, now.PrivateKiB, now.UnixAnonymousKiB, now.Windows);
    Comment(line);
  }
  const double seconds = (NowUs() - start) / 1e6;
  const Footprint after = Measure();
  std::vector<double> all(times.begin(), times.end());

  const std::string shape = std::to_string(options.Soak) + " lookups after " + std::to_string(WARM_UP) + " warm-up";
  Emit("soak.lookups", options.Soak, "lookups",
       shape + ", forward and reverse, a new object every " + std::to_string(SoakDriver::OBJECT_LIFETIME));
  Emit("soak.failures", driver.Failures(), "lookups");
  Emit("soak.duration", seconds, "s");
  Emit("soak.median", Median(all), "us");
  Emit("soak.p99", Percentile(all, 0.99), "us");
  EmitGrowth("soak.handles.growth", before.Handles, after.Handles, "handles", after.HandleSource);
  EmitGrowth("soak.private.growth", before.PrivateKiB, after.PrivateKiB, "KiB", after.PrivateSource);
  if (after.UnixAnonymousKiB >= 0) {
    EmitGrowth("soak.unix_anonymous.growth", before.UnixAnonymousKiB, after.UnixAnonymousKiB, "KiB",
               "RssAnon, the Unix side included");
  }
  if (before.UserObjects == 0 && before.UserError != 0) {
    EmitNa("soak.user_objects.growth", "objects",
           "GetGuiResources(GR_USEROBJECTS) failed with error " + std::to_string(before.UserError));
  } else {
    EmitGrowth("soak.user_objects.growth", before.UserObjects, after.UserObjects, "objects", "GR_USEROBJECTS");
  }
  EmitGrowth("soak.windows.growth", before.Windows, after.Windows, "windows", "the process's own");
}

// --- Wine server requests ---------------------------------------------------------

// A named event whose creation shows in the Wine server's request trace.
void Marker(const wchar_t* name) { ::CloseHandle(::CreateEventW(nullptr, FALSE, FALSE, name)); }

void Trace(const Options& options, const Component& component) {
  com_ptr<_VeviVORIdezaz> object = component.NewObject(options.Server, 2000);
  BareExchange bare(options.Server);
  unique_variant name = TextVariant(FORWARD_NAME);
  if (!object || !bare.Problem().empty()) {
    Comment("trace: skipped");
    return;
  }
  for (int i = 0; i < 20; ++i) {
    EarlyForward(object.get(), *name);
    bare.FreshSocket();
    bare.LongLivedSocket();
  }
  Marker(L"wine_bench.trace.com_early.begin");
  for (int i = 0; i < options.Trace; ++i, Progress()) {
    if (!ForwardOk(EarlyForward(object.get(), *name))) ++WrongAnswers();
  }
  Marker(L"wine_bench.trace.com_early.end");
  Marker(L"wine_bench.trace.fresh_socket.begin");
  for (int i = 0; i < options.Trace; ++i, Progress()) bare.FreshSocket();
  Marker(L"wine_bench.trace.fresh_socket.end");
  Marker(L"wine_bench.trace.long_lived_socket.begin");
  for (int i = 0; i < options.Trace; ++i, Progress()) bare.LongLivedSocket();
  Marker(L"wine_bench.trace.long_lived_socket.end");
  PlatformResolver platform(bare);
  if (platform.Problem().empty()) {
    Marker(L"wine_bench.trace.dnsquery_a.begin");
    for (int i = 0; i < options.Trace; ++i, Progress()) platform.Lookup();
    Marker(L"wine_bench.trace.dnsquery_a.end");
  }
  Emit("trace.iterations", options.Trace, "each");
}

}  // namespace wine_bench
