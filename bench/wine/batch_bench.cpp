// batch_bench: many questions in flight through ExchangeMany under Wine,
// against the delaying responder (tests/support/delay_responder.c), which
// answers hN.* with 10.(N>>16&255).(N>>8&255).(N&255).
//
//   batch_bench.exe SERVER [--count N] [--window W] [--timeout-ms T] [--label KEY] [--repeat R] [--remember 1]
//   batch_bench.exe SERVER --trace N [--window W] [--timeout-ms T]
//
// Asks N distinct A questions (h0 .. hN-1 .batch.vavizav.test, default 10000)
// with MaxInFlight W (64) and a time-out of T ms (2000), R times (1), and
// prints "KEY.* value unit note" lines: the wall time of each batch, how many
// were answered and answered right (the A record the name calls for, the
// question spelt as asked), and the process's handles and private bytes before
// the first batch and after each. A warm-up batch of 100 other names runs
// first (Winsock and the allocator's first growth are not the batch's).
// SERVER may be a list ("DEAD LIVE"). --remember 1 gives the R batches one
// memory of the servers, as one Resolver object's calls share it (the
// warm-up keeps its own): the second batch shows what the first learnt.
// --trace N runs one batch of N questions between two named events, for
// bench/wine/server-calls to count the Wine server requests per question.
// Exit status 0 when every question of every batch was answered right, 1
// otherwise, 2 for a usage or set-up failure.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench.h"
#include "codec/message.h"
#include "text.h"

#if __has_include("exchange/engine.h")
#include "exchange/engine.h"
#define BATCH_BENCH_HAS_ENGINE 1
#endif

namespace wine_bench {
namespace {

using vavizav::testing::Narrow;

struct Options {
  std::wstring Server;
  int Count = 10000, Window = 64, TimeoutMs = 2000, Repeat = 1, Trace = 0;
  bool Remember = false;
  std::string Label = "batch";
};

std::string NameOf(int n, const char* zone) {
  char name[64];
  std::snprintf(name, sizeof name, "h%d.%s", n, zone);
  return name;
}

#ifdef BATCH_BENCH_HAS_ENGINE

std::vector<vbDNS::DNSQuery> Questions(int count, const char* zone) {
  std::vector<vbDNS::DNSQuery> queries;
  queries.reserve(static_cast<std::size_t>(count));
  for (int n = 0; n < count; ++n) {
    std::optional<vbDNS::DNSQuery> query = vbDNS::BuildQuery(vbDNS::TYPE_A, NameOf(n, zone));
    if (!query) std::abort();  // the names are built right here
    queries.push_back(*query);
  }
  return queries;
}

// Whether `outcome` answers question n: NOERROR, the question octet for
// octet as asked (the engine gives back the caller's spelling), and one A
// record with the address the responder derives from n.
bool AnsweredRight(const vavizav::exchange::ExchangeOutcome& outcome, const vbDNS::DNSQuery& query, int n) {
  if (outcome.Failure != vavizav::exchange::ExchangeFailure::None || !outcome.Reply) return false;
  const vbDNS::Packet& reply = *outcome.Reply;
  vbDNS::QueryDatagram datagram;
  const std::size_t asked = vbDNS::EncodeQuery(query, 0, datagram);
  if (asked == 0 || reply.size() < asked || !std::equal(datagram.begin() + 12, datagram.begin() + asked,
                                                        reply.begin() + 12)) {
    return false;
  }
  const std::optional<vbDNS::Message> read = vbDNS::ReadMessage(vbDNS::PacketView(reply.data(), reply.size()));
  if (!read || !vbDNS::RCodeIsNoError(read->Header().Flags2)) return false;
  const auto answers = read->Records(vbDNS::Section::Answer);
  if (answers.size() != 1 || answers[0].Type != vbDNS::TYPE_A) return false;
  const auto octets = read->Packet().subspan(answers[0].RDataOffset, answers[0].RDataLength);
  const std::uint8_t expected[4] = {10, static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 8),
                                    static_cast<std::uint8_t>(n)};
  return octets.size() == 4 && std::equal(octets.begin(), octets.end(), expected);
}

struct BatchResult {
  double Seconds = 0;
  int Answered = 0, Right = 0;
  int TimedOut = 0, OtherFailures = 0;
};

BatchResult RunBatch(const Options& options, const std::vector<vbDNS::DNSQuery>& queries,
                     std::shared_ptr<vavizav::exchange::ServerMemory> memory = nullptr) {
  vavizav::exchange::EngineSettings settings;
  settings.Servers = options.Server;
  settings.TimeoutMs = static_cast<DWORD>(options.TimeoutMs);
  settings.MaxInFlight = static_cast<unsigned>(options.Window);
  settings.Memory = std::move(memory);
  BatchResult result;
  const double start = NowUs();
  const std::vector<vavizav::exchange::ExchangeOutcome> outcomes = vavizav::exchange::ExchangeMany(queries, settings);
  result.Seconds = (NowUs() - start) / 1e6;
  Progress();
  for (std::size_t i = 0; i < outcomes.size() && i < queries.size(); ++i) {
    if (outcomes[i].Failure == vavizav::exchange::ExchangeFailure::None) ++result.Answered;
    else if (outcomes[i].Failure == vavizav::exchange::ExchangeFailure::TimedOut) ++result.TimedOut;
    else ++result.OtherFailures;
    if (AnsweredRight(outcomes[i], queries[i], static_cast<int>(i))) ++result.Right;
  }
  if (outcomes.size() != queries.size()) result.OtherFailures += static_cast<int>(queries.size());
  return result;
}

void Marker(const wchar_t* name) { ::CloseHandle(::CreateEventW(nullptr, FALSE, FALSE, name)); }

int Run(const Options& options) {
  const std::vector<vbDNS::DNSQuery> warmUp = Questions(100, "warm.vavizav.test");
  if (RunBatch(options, warmUp).Answered == 0) {
    std::fprintf(stderr, "batch_bench: no answer from %ls\n", options.Server.c_str());
    return 2;
  }
  if (options.Trace > 0) {
    const std::vector<vbDNS::DNSQuery> queries = Questions(options.Trace, "batch.vavizav.test");
    Marker(L"wine_bench.trace.batch.begin");
    const BatchResult result = RunBatch(options, queries);
    Marker(L"wine_bench.trace.batch.end");
    return result.Right == options.Trace ? 0 : 1;
  }
  const std::vector<vbDNS::DNSQuery> queries = Questions(options.Count, "batch.vavizav.test");
  const std::string& key = options.Label;
  Comment(key + ": " + std::to_string(options.Count) + " distinct A questions through " + Narrow(options.Server) +
          ", MaxInFlight " + std::to_string(options.Window) + ", time-out " + std::to_string(options.TimeoutMs) +
          " ms, " + WineVersion());
  const Footprint before = Measure();
  bool allRight = true;
  std::vector<double> seconds;
  const auto memory = std::make_shared<vavizav::exchange::ServerMemory>();
  for (int r = 0; r < options.Repeat; ++r) {
    const BatchResult result = RunBatch(options, queries, options.Remember ? memory : nullptr);
    seconds.push_back(result.Seconds);
    const std::string run = options.Repeat > 1 ? " (batch " + std::to_string(r + 1) + ")" : "";
    Emit(key + ".wall", result.Seconds, "s",
         std::to_string(options.Count) + " questions, window " + std::to_string(options.Window) + run);
    Emit(key + ".answered_right", result.Right, "questions",
         "of " + std::to_string(options.Count) + "; answered " + std::to_string(result.Answered) + ", timed out " +
             std::to_string(result.TimedOut) + ", other failures " + std::to_string(result.OtherFailures) + run);
    allRight = allRight && result.Right == options.Count;
    const Footprint after = Measure();
    EmitGrowth(key + ".handles.growth", before.Handles, after.Handles, "handles", after.HandleSource + run);
    EmitGrowth(key + ".private.growth", before.PrivateKiB, after.PrivateKiB, "KiB", after.PrivateSource + run);
  }
  if (options.Repeat > 1) Emit(key + ".wall.median", Median(seconds), "s", std::to_string(options.Repeat) + " batches");
  return allRight ? 0 : 1;
}

#else

int Run(const Options&) {
  std::fprintf(stderr,
               "batch_bench: built without exchange/engine.h (ExchangeMany); merge the engine branch and rebuild\n");
  return 2;
}

#endif

}  // namespace
}  // namespace wine_bench

int wmain(int argc, wchar_t** argv) {
  using namespace wine_bench;
  Options options;
  bool ok = argc >= 2;
  if (ok) options.Server = argv[1];
  for (int i = 2; ok && i < argc; i += 2) {
    if (i + 1 >= argc) {
      ok = false;
      break;
    }
    const std::wstring name = argv[i], value = argv[i + 1];
    if (name == L"--label") {
      options.Label = Narrow(value);
      continue;
    }
    wchar_t* end = nullptr;
    const long number = std::wcstol(value.c_str(), &end, 10);
    ok = *end == 0;
    if (name == L"--count" && number >= 1 && number <= 100000) options.Count = static_cast<int>(number);
    else if (name == L"--window" && number >= 1 && number <= 1024) options.Window = static_cast<int>(number);
    else if (name == L"--timeout-ms" && number >= 1 && number <= 65534) options.TimeoutMs = static_cast<int>(number);
    else if (name == L"--repeat" && number >= 1 && number <= 100) options.Repeat = static_cast<int>(number);
    else if (name == L"--trace" && number >= 1 && number <= 100000) options.Trace = static_cast<int>(number);
    else if (name == L"--remember" && (number == 0 || number == 1)) options.Remember = number == 1;
    else ok = false;
  }
  if (!ok) {
    std::fprintf(stderr,
                 "usage: batch_bench SERVER [--count N] [--window W] [--timeout-ms T] [--label KEY] [--repeat R]\n"
                 "                   [--remember 1]\n"
                 "       batch_bench SERVER --trace N [--window W] [--timeout-ms T]\n");
    return 2;
  }
  WSADATA winsock;
  if (::WSAStartup(MAKEWORD(2, 2), &winsock) != 0) return 2;
  // A batch with drops waits out its time-outs with a window held up: far
  // longer than a lookup, still bounded.
  StartStallGuard(120);
  const int status = Run(options);
  std::fflush(stdout);
  return status;
}
