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
#include "wine_bench.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "text.h"

namespace wine_bench {

namespace {

// Counts wrong answers; the exit status reports them.
int wrongAnswers = 0;

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

}  // namespace

bool ForwardOk(const Outcome& outcome) {
  return outcome.Status == S_OK && outcome.Result == FORWARD_ADDRESS && outcome.LastError.empty();
}


void WrongAnswer(const char* where, const Outcome& outcome) {
  if (++wrongAnswers <= 5) {
    Comment(std::string("wrong answer in ") + where + ": status " + std::to_string(outcome.Status) + ", result \"" +
            Narrow(outcome.Result) + "\", LastError \"" + Narrow(outcome.LastError) + "\"");
  }
}

int& WrongAnswers() { return wrongAnswers; }

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
  return WrongAnswers() > 0 ? 1 : 0;
}
