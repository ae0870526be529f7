// wine_bench's latency and throughput sections (wine_bench.cpp has the
// options and the output format).
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

// --- latency ------------------------------------------------------------------

namespace {

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

}  // namespace

void Latency(const Options& options, const Component& component) {
  com_ptr<_VeviVORIdezaz> object = component.NewObject(options.Server, 2000);
  com_ptr<IDispatch> dispatch = object.query<IDispatch>();
  BareExchange bare(options.Server);
  if (!object || !dispatch || !bare.Problem().empty()) {
    Comment("latency: skipped: " + (bare.Problem().empty() ? std::string("no object") : bare.Problem()));
    return;
  }
  unique_variant name = TextVariant(FORWARD_NAME);

  // A lookup's own time when it gave the right answer; a wrong one is counted.
  const auto checked = [](const char* key, const Outcome& outcome) -> std::optional<double> {
    Progress();
    if (ForwardOk(outcome)) return outcome.Us;
    WrongAnswer(key, outcome);
    return std::nullopt;
  };
  std::vector<Method> methods;
  methods.push_back(
      {"latency.com_early", [&] { return checked("latency.com_early", EarlyForward(object.get(), *name)); }, {}});
  methods.push_back(
      {"latency.com_dispatch", [&] { return checked("latency.com_dispatch", LateForward(dispatch.get(), *name)); }, {}});
  methods.push_back({"latency.fresh_socket", [&] { return Timed([&] { return bare.FreshSocket(); }); }, {}});
  methods.push_back({"latency.long_lived_socket", [&] { return Timed([&] { return bare.LongLivedSocket(); }); }, {}});
  // The second class: Resolve and the Answer's Text, early bound as com_early.
  com_ptr<_Resolver> resolver = component.NewResolver(options.Server, 2000);
  const bool withResolver = static_cast<bool>(resolver);
  if (withResolver) {
    methods.push_back({"latency.resolver_resolve",
                       [&] { return checked("latency.resolver_resolve", EarlyResolve(resolver.get(), *name)); }, {}});
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

namespace {

// Lookups per second of `threads` apartments, each with its own object doing
// `perThread` lookups, all started together; wall time until the last ends.
std::optional<double> LookupsPerSecond(const Options& options, const Component& component, int threads) {
  const vavizav::runtime::unique_handle start(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
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
    WrongAnswers() += failed.load();
    Comment("throughput: " + std::to_string(failed.load()) + " lookups failed with " + std::to_string(threads) +
            " apartments");
    return std::nullopt;
  }
  const double end = *std::max_element(finished.begin(), finished.end());
  return static_cast<double>(threads) * options.PerThread / ((end - begin) / 1e6);
}

}  // namespace

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

}  // namespace wine_bench
