// wine_bench: Vavizav.dll end to end, against one DNS server that serves
// one.vavizav.test (tests/e2e/*.zone), printing one figure a line.
//
//   wine_bench.exe SERVER DLL [--only SECTIONS] [--runs N] [--samples N]
//                  [--per-thread N] [--soak N] [--silent ADDRESS] [--silent-waits N]
//   wine_bench.exe SERVER DLL --trace N
//
// SECTIONS is a comma-separated subset of latency,throughput,silent,soak (all
// by default). Defaults: 5 runs of 200 interleaved samples per method, 1000
// lookups per apartment (min(runs, 3) runs), 100000 soak lookups, 3 waits of
// 2 s on 127.0.0.99. Output lines are "key value unit [note]"; value is a number or
// n/a (the note says why); lines starting with "#" are context. Exit status 0
// when every section ran (targets missed included), 1 when a lookup gave a
// wrong answer, 2 for a usage or set-up failure, 3 when a run stalled.
//
// --trace N runs N lookups, N fresh-socket exchanges, N long-lived-socket
// exchanges and N DnsQuery_A calls, each group between two named events
// (wine_bench.trace.*), for bench/wine/server-calls to count the Wine server
// requests in between.
#include "bench.h"

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

using vavizav::com_ptr;
using vavizav::unique_variant;
using vavizav::testing::Narrow;
using vavizav::testing::ProcessCpuMs;
using vavizav::testing::ThreadCpuMs;

namespace {

// --- options ------------------------------------------------------------------

struct Options {
  std::wstring Server;
  std::wstring Dll;
  std::string Only = "latency,throughput,silent,soak";
  int Runs = 5;
  int Samples = 200;
  int PerThread = 1000;
  int Soak = 100000;
  std::wstring Silent = L"127.0.0.99";
  int SilentWaits = 3;
  int Trace = 0;

  bool Wants(const char* section) const {
    return ("," + Only + ",").find(std::string(",") + section + ",") != std::string::npos;
  }
};

std::optional<Options> ParseOptions(int argc, wchar_t** argv) {
  if (argc < 3) return std::nullopt;
  Options options;
  options.Server = argv[1];
  options.Dll = argv[2];
  const struct {
    const wchar_t* Name;
    int* Field;
    long Least;
  } numbers[] = {{L"--runs", &options.Runs, 1},
                 {L"--samples", &options.Samples, 1},
                 {L"--per-thread", &options.PerThread, 1},
                 {L"--soak", &options.Soak, 0},
                 {L"--silent-waits", &options.SilentWaits, 1},
                 {L"--trace", &options.Trace, 1}};
  for (int i = 3; i < argc; i += 2) {
    if (i + 1 == argc) return std::nullopt;  // an option without its value
    const std::wstring name = argv[i], value = argv[i + 1];
    if (name == L"--only") {
      options.Only = Narrow(value);
    } else if (name == L"--silent") {
      options.Silent = value;
    } else {
      const auto option = std::find_if(std::begin(numbers), std::end(numbers),
                                       [&](const auto& candidate) { return name == candidate.Name; });
      wchar_t* end = nullptr;
      const long number = std::wcstol(value.c_str(), &end, 10);
      if (option == std::end(numbers) || *end != 0 || number < option->Least || number > 100000000) {
        return std::nullopt;
      }
      *option->Field = static_cast<int>(number);
    }
  }
  return options;
}

bool ForwardOk(const Outcome& outcome) {
  return outcome.Status == S_OK && outcome.Result == FORWARD_ADDRESS && outcome.LastError.empty();
}

// Counts wrong answers; the exit status reports them.
int wrongAnswers = 0;

void WrongAnswer(const char* where, const Outcome& outcome) {
  if (++wrongAnswers <= 5) {
    Comment(std::string("wrong answer in ") + where + ": status " + std::to_string(outcome.Status) + ", result \"" +
            Narrow(outcome.Result) + "\", LastError \"" + Narrow(outcome.LastError) + "\"");
  }
}

// --- latency ------------------------------------------------------------------

// One way of getting one.vavizav.test answered; the time in microseconds or
// nullopt on failure.
struct Method {
  std::string Key;
  std::function<std::optional<double>()> Run;
  std::vector<double> RunMedians;
};

std::optional<double> Timed(const std::function<bool()>& exchange) {
  const double start = NowUs();
  const bool ok = exchange();
  const double elapsed = NowUs() - start;
  Progress();
  return ok ? std::optional<double>(elapsed) : std::nullopt;
}

double MedianRatio(const Method& numerator, const Method& denominator) {
  std::vector<double> ratios;
  for (std::size_t run = 0; run < numerator.RunMedians.size(); ++run) {
    ratios.push_back(numerator.RunMedians[run] / denominator.RunMedians[run]);
  }
  return Median(ratios);
}

void Latency(const Options& options, const Component& component) {
  com_ptr<_VeviVORIdezaz> object = component.NewObject(options.Server, 2000);
  com_ptr<IDispatch> dispatch = object.query<IDispatch>();
  BareExchange bare(options.Server);
  if (!object || !dispatch || !bare.Problem().empty()) {
    Comment("latency: skipped: " + (bare.Problem().empty() ? std::string("no object") : bare.Problem()));
    return;
  }
  unique_variant name = TextVariant(FORWARD_NAME);

  std::vector<Method> methods;
  methods.push_back({"latency.com_early",
                     [&]() -> std::optional<double> {
                       const Outcome outcome = EarlyForward(object.get(), *name);
                       Progress();
                       if (ForwardOk(outcome)) return outcome.Us;
                       WrongAnswer("latency.com_early", outcome);
                       return std::nullopt;
                     },
                     {}});
  methods.push_back({"latency.com_dispatch",
                     [&]() -> std::optional<double> {
                       const Outcome outcome = LateForward(dispatch.get(), *name);
                       Progress();
                       if (ForwardOk(outcome)) return outcome.Us;
                       WrongAnswer("latency.com_dispatch", outcome);
                       return std::nullopt;
                     },
                     {}});
  methods.push_back({"latency.fresh_socket", [&] { return Timed([&] { return bare.FreshSocket(); }); }, {}});
  methods.push_back({"latency.long_lived_socket", [&] { return Timed([&] { return bare.LongLivedSocket(); }); }, {}});
  // The second class: Resolve and the Answer's Text, early bound as com_early.
  com_ptr<_Resolver> resolver = component.NewResolver(options.Server, 2000);
  const bool withResolver = static_cast<bool>(resolver);
  if (withResolver) {
    methods.push_back({"latency.resolver_resolve",
                       [&]() -> std::optional<double> {
                         const Outcome outcome = EarlyResolve(resolver.get(), *name);
                         Progress();
                         if (ForwardOk(outcome)) return outcome.Us;
                         WrongAnswer("latency.resolver_resolve", outcome);
                         return std::nullopt;
                       },
                       {}});
  }
  PlatformResolver platform(bare);
  if (platform.Problem().empty()) {
    methods.push_back({"latency.dnsquery_a", [&] { return Timed([&] { return platform.Lookup(); }); }, {}});
  }

  // Warm-up, then the methods interleaved, each iteration starting with the
  // next one, so that drift and order touch all alike.
  for (int i = 0; i < 50; ++i) {
    for (Method& method : methods) method.Run();
  }
  std::vector<int> failures(methods.size());
  for (int run = 0; run < options.Runs; ++run) {
    std::vector<std::vector<double>> samples(methods.size());
    for (int i = 0; i < options.Samples; ++i) {
      for (std::size_t k = 0; k < methods.size(); ++k) {
        const std::size_t which = (k + static_cast<std::size_t>(i)) % methods.size();
        const std::optional<double> us = methods[which].Run();
        if (us) samples[which].push_back(*us);
        failures[which] += us ? 0 : 1;
      }
    }
    for (std::size_t k = 0; k < methods.size(); ++k) methods[k].RunMedians.push_back(Median(samples[k]));
  }

  const std::string shape = std::to_string(options.Runs) + " runs x " + std::to_string(options.Samples);
  for (std::size_t k = 0; k < methods.size(); ++k) {
    const auto [low, high] = std::minmax_element(methods[k].RunMedians.begin(), methods[k].RunMedians.end());
    char spread[96];
    std::snprintf(spread, sizeof spread, "run medians %.1f..%.1f, %d failed", *low, *high, failures[k]);
    Emit(methods[k].Key + ".median", Median(methods[k].RunMedians), "us", shape + ", " + spread);
  }
  if (!platform.Problem().empty()) EmitNa("latency.dnsquery_a.median", "us", platform.Problem());

  const Method& early = methods[0];
  // The project's own goal (docs/performance.md): a lookup costs at most 1.2
  // times the bare exchange on a fresh socket.
  const double fresh = MedianRatio(early, methods[2]);
  Emit("ratio.com_early/fresh_socket", fresh, "x", std::string("target <= 1.2: ") + (fresh <= 1.2 ? "met" : "MISSED"));
  Emit("ratio.com_early/long_lived_socket", MedianRatio(early, methods[3]), "x");
  Emit("ratio.com_dispatch/com_early", MedianRatio(methods[1], early), "x");
  if (withResolver) {
    const double resolve = MedianRatio(methods[4], early);
    Emit("ratio.resolver_resolve/com_early", resolve, "x",
         std::string("one Resolve against one GetIPFromName, target <= 1.1: ") + (resolve <= 1.1 ? "met" : "MISSED"));
  } else {
    EmitNa("ratio.resolver_resolve/com_early", "x", "no Resolver object");
  }
  const std::size_t platformIndex = withResolver ? 5 : 4;
  if (methods.size() > platformIndex) {
    Emit("ratio.com_early/dnsquery_a", MedianRatio(early, methods[platformIndex]), "x");
  } else {
    EmitNa("ratio.com_early/dnsquery_a", "x", platform.Problem());
  }
}

// --- throughput -----------------------------------------------------------------

// Lookups per second of `threads` apartments, each with its own object doing
// `perThread` lookups, all started together; wall time until the last ends.
std::optional<double> LookupsPerSecond(const Options& options, const Component& component, int threads) {
  const vavizav::unique_handle start(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  std::vector<double> finished(static_cast<std::size_t>(threads));
  std::atomic<int> readyCount{0}, failed{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
      const bool apartment = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
      {
        com_ptr<_VeviVORIdezaz> object = component.NewObject(options.Server, 2000);
        unique_variant name = TextVariant(FORWARD_NAME);
        for (int i = 0; object && i < 20; ++i) EarlyForward(object.get(), *name);
        ++readyCount;
        ::WaitForSingleObject(start.get(), INFINITE);
        for (int i = 0; i < options.PerThread; ++i) {
          if (!object) {
            ++failed;
            break;
          }
          const Outcome outcome = EarlyForward(object.get(), *name);
          Progress();
          if (!ForwardOk(outcome)) ++failed;
        }
        finished[static_cast<std::size_t>(t)] = NowUs();
      }
      if (apartment) ::CoUninitialize();
    });
  }
  while (readyCount.load() < threads) ::Sleep(1);
  const double begin = NowUs();
  ::SetEvent(start.get());
  for (std::thread& worker : workers) worker.join();
  if (failed.load() > 0) {
    wrongAnswers += failed.load();
    Comment("throughput: " + std::to_string(failed.load()) + " lookups failed with " + std::to_string(threads) +
            " apartments");
    return std::nullopt;
  }
  const double end = *std::max_element(finished.begin(), finished.end());
  return static_cast<double>(threads) * options.PerThread / ((end - begin) / 1e6);
}

void Throughput(const Options& options, const Component& component) {
  double single = 0;
  for (const int threads : {1, 2, 4}) {
    std::vector<double> rates;
    for (int run = 0; run < std::min(options.Runs, 3); ++run) {
      if (const std::optional<double> rate = LookupsPerSecond(options, component, threads)) rates.push_back(*rate);
    }
    const std::string key = "throughput." + std::to_string(threads) + "_apartments";
    if (rates.empty()) {
      EmitNa(key, "lookups/s", "lookups failed");
      continue;
    }
    const double rate = Median(rates);
    if (threads == 1) single = rate;
    Emit(key, rate, "lookups/s",
         std::to_string(rates.size()) + " runs x " + std::to_string(threads * options.PerThread) + " lookups" +
             (threads > 1 && single > 0 ? ", " + std::to_string(rate / single).substr(0, 4) + "x one apartment" : ""));
  }
}

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
    if (!ForwardOk(EarlyForward(object.get(), *name))) ++wrongAnswers;
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

}  // namespace
}  // namespace wine_bench

int wmain(int argc, wchar_t** argv) {
  using namespace wine_bench;
  const std::optional<Options> options = ParseOptions(argc, argv);
  if (!options) {
    std::fprintf(stderr,
                 "usage: wine_bench SERVER DLL [--only latency,throughput,silent,soak] [--runs N] [--samples N]\n"
                 "                  [--per-thread N] [--soak N] [--silent ADDRESS] [--silent-waits N] [--trace N]\n");
    return 2;
  }
  WSADATA winsock;
  if (::WSAStartup(MAKEWORD(2, 2), &winsock) != 0 || FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    std::fprintf(stderr, "wine_bench: WSAStartup or CoInitializeEx failed\n");
    return 2;
  }
  const Component component(options->Dll);
  if (!component.Problem().empty()) {
    std::fprintf(stderr, "wine_bench: %s\n", component.Problem().c_str());
    return 2;
  }
  {
    // The server must answer before any figure means anything.
    com_ptr<_VeviVORIdezaz> probe = component.NewObject(options->Server, 2000);
    unique_variant name = TextVariant(FORWARD_NAME);
    const Outcome outcome = probe ? EarlyForward(probe.get(), *name) : Outcome{};
    if (!ForwardOk(outcome)) {
      std::fprintf(stderr, "wine_bench: one.vavizav.test through %ls gave \"%ls\", LastError \"%ls\"\n",
                   options->Server.c_str(), outcome.Result.c_str(), outcome.LastError.c_str());
      return 2;
    }
  }
  SYSTEM_INFO system;
  ::GetNativeSystemInfo(&system);
  Comment("wine_bench: server " + Narrow(options->Server) + ", " + WineVersion() + ", " +
          std::to_string(system.dwNumberOfProcessors) + " processors; lookups call the function table (early bound)");
  StartStallGuard();

  if (options->Trace > 0) {
    Trace(*options, component);
  } else {
    if (options->Wants("latency")) Latency(*options, component);
    if (options->Wants("throughput")) Throughput(*options, component);
    if (options->Wants("silent")) SilentWait(*options, component);
    if (options->Wants("soak") && options->Soak > 0) Soak(*options, component);
  }
  std::fflush(stdout);
  // Objects are gone; the module stays loaded until the process ends.
  ::CoUninitialize();
  return wrongAnswers > 0 ? 1 : 0;
}
