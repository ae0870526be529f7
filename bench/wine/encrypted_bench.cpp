// encrypted_bench: DNS over TLS against plain UDP through ExchangeMany under
// Wine, both asked of the same dnsdist (in front of the same unbound).
//
//   encrypted_bench.exe DNSDIST_ADDRESS CERTIFICATE_NAME [--count N] [--lookups L] [--repeat R]
//
// Prints "KEY value unit note" lines: a batch of N distinct questions (default
// 10,000, window 64) over one DoT connection and over UDP, the median of R
// runs (3) each, and their ratio; then L single lookups in a row (200) over
// a DoT connection kept between the calls (an object's pool, warmed by one
// lookup first) and over UDP, the median of each, and their ratio. Exit
// status 0 when every question was answered, 1 otherwise, 2 for a usage error.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "codec/vbdns.h"
#include "exchange/engine.h"

namespace {

std::vector<vbDNS::DNSQuery> Questions(std::size_t count, std::size_t offset) {
  std::vector<vbDNS::DNSQuery> queries;
  for (std::size_t i = 0; i < count; ++i) {
    // Distinct names in a zone the servers answer (NXDOMAIN is an answer).
    queries.push_back(*vbDNS::BuildQuestion(vbDNS::TYPE_A, "n" + std::to_string(offset + i) + ".vavizav.test"));
  }
  return queries;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

// Milliseconds of one ExchangeMany; `answered` counts the questions with a reply.
double Timed(const std::vector<vbDNS::DNSQuery>& queries, const vavizav::exchange::EngineSettings& settings,
             std::size_t& answered) {
  LARGE_INTEGER frequency, start, end;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&start);
  const std::vector<vavizav::exchange::ExchangeOutcome> outcomes = vavizav::exchange::ExchangeMany(queries, settings);
  ::QueryPerformanceCounter(&end);
  for (const auto& outcome : outcomes) answered += outcome.Failure == vavizav::exchange::ExchangeFailure::None;
  return static_cast<double>(end.QuadPart - start.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: encrypted_bench DNSDIST_ADDRESS CERTIFICATE_NAME [--count N] [--lookups L] [--repeat R]\n");
    return 2;
  }
  const std::wstring address = argv[1];
  const std::wstring tls = L"tls://" + address + L"#" + argv[2];
  std::size_t count = 10000, lookups = 200, repeat = 3;
  for (int i = 3; i + 1 < argc; i += 2) {
    const std::wstring flag = argv[i];
    const auto value = static_cast<std::size_t>(std::wcstoul(argv[i + 1], nullptr, 10));
    if (flag == L"--count") count = value;
    if (flag == L"--lookups") lookups = value;
    if (flag == L"--repeat") repeat = value;
  }
  std::size_t asked = 0, answered = 0;
  const auto settingsFor = [](const std::wstring& servers) {
    vavizav::exchange::EngineSettings settings(servers, 10000, 64);
    settings.Encrypted = true;
    settings.Pump = false;
    return settings;
  };

  std::vector<double> overTls, overUdp;
  for (std::size_t run = 0; run < repeat; ++run) {
    const std::vector<vbDNS::DNSQuery> queries = Questions(count, run * count * 2);
    const std::vector<vbDNS::DNSQuery> others = Questions(count, run * count * 2 + count);
    overTls.push_back(Timed(queries, settingsFor(tls), answered));
    overUdp.push_back(Timed(others, settingsFor(address), answered));
    asked += 2 * count;
  }
  const double batchTls = Median(overTls), batchUdp = Median(overUdp);
  std::printf("encrypted.batch_tls %.1f ms %zu names over one DoT connection, window 64, median of %zu\n", batchTls,
              count, repeat);
  std::printf("encrypted.batch_udp %.1f ms the same over UDP to the same server\n", batchUdp);
  std::printf("encrypted.batch_ratio %.2f x DoT / UDP (goal <= 2)\n", batchUdp > 0 ? batchTls / batchUdp : 0);

  // Single lookups in a row: the DoT connection kept between the calls.
  vavizav::exchange::EngineSettings warm = settingsFor(tls);
  warm.Connections = vavizav::exchange::NewConnectionPool();
  std::size_t warmUp = 0;
  Timed(Questions(1, 900000), warm, warmUp);
  std::vector<double> singleTls, singleUdp;
  for (std::size_t i = 0; i < lookups; ++i) {
    singleTls.push_back(Timed(Questions(1, 1000000 + i), warm, answered));
    singleUdp.push_back(Timed(Questions(1, 2000000 + i), settingsFor(address), answered));
    asked += 2;
  }
  const double oneTls = Median(singleTls), oneUdp = Median(singleUdp);
  std::printf("encrypted.lookup_tls %.3f ms one lookup on a warm DoT connection, median of %zu\n", oneTls, lookups);
  std::printf("encrypted.lookup_udp %.3f ms one lookup over UDP, median of %zu\n", oneUdp, lookups);
  std::printf("encrypted.lookup_ratio %.2f x DoT / UDP (goal <= 1.5)\n", oneUdp > 0 ? oneTls / oneUdp : 0);
  std::printf("encrypted.answered %zu of %zu\n", answered, asked);
  return answered == asked ? 0 : 1;
}
