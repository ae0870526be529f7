// A cache hit of the Resolver natively: the lookup in a cache of 10,000
// answers and the Answer's data handed out (records copied, TTLs counted
// down), without COM. Target: at most 2 us.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "packets.h"
#include "resolver/answer.h"
#include "resolver/cache.h"

namespace {

using namespace vavizav::packets;

vbDNS::Packet TwoAddresses(std::string_view name) {
  return Join({MessageHeader(1, 2, 0, 0), Question(DottedName(name), vbDNS::TYPE_A),
               Record(Pointer(12), vbDNS::TYPE_A, {192, 0, 2, 1}, 300),
               Record(Pointer(12), vbDNS::TYPE_A, {192, 0, 2, 2}, 300)});
}

void CacheHit(benchmark::State& state) {
  vavizav::resolver::AnswerCache cache;
  std::vector<vbDNS::DNSQuery> queries;
  for (int i = 0; i < 10000; ++i) {
    const std::string name = "host" + std::to_string(i) + ".example.org";
    const vbDNS::DNSQuery query = *vbDNS::BuildQuestion(vbDNS::TYPE_A, name);
    const vbDNS::Packet reply = TwoAddresses(name);
    const vavizav::resolver::AnswerModel model = vavizav::resolver::JudgeReply(reply, query);
    cache.Keep(query, vavizav::resolver::CachedAnswer{model, L"192.0.2.53"}, vavizav::resolver::CacheRuleFor(model, reply), 0);
    queries.push_back(query);
  }
  std::size_t i = 0;
  std::uint64_t now = 1500;
  for (auto _ : state) {
    std::optional<vavizav::resolver::CachedAnswer> hit = cache.Find(queries[i], now);
    benchmark::DoNotOptimize(hit);
    i = (i + 7919) % queries.size();
    ++now;
  }
}
BENCHMARK(CacheHit);

}  // namespace

BENCHMARK_MAIN();
