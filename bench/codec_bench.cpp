// The codec against two peer libraries, c-ares and ldns, on the same bytes.
//
// Every row times what a caller of that library has to do to get the same
// result: parse and free for replies (ours: read and make the first class's
// text), build, encode and free for queries.
// Before anything is timed, each library's result on each fixture is checked
// against the expected addresses, names and query octets; a disagreement ends
// the run, so no row ever times an error path.
//
//   codec_bench [--verify-only] [Google Benchmark flags]
//
// Benchmark names are ROW/LIBRARY; bench/codec_table.py turns the JSON output
// into the comparison table. The row without a library (copy_query_a)
// measures what copying a query record costs and stands outside it.
// ldns/common.h turns bool, true and false into macros unless stdbool.h came first.
#include <stdbool.h>

#include <arpa/inet.h>
#include <arpa/nameser.h>
#include <ares.h>
#include <ldns/ldns.h>
#include <netdb.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "codec/message.h"
#include "codec/vbdns.h"
#include "codec_bench.h"
#include "codec_fixtures.h"
#include "packets.h"
#include "resolver/lookup.h"
#include "text.h"

namespace codec_bench {
namespace {

// ---------------------------------------------------------------------------
// The rows. Each operation is one call a caller makes, results freed; the
// timer loops over it, and --loop runs it untimed for callgrind.

// A reply as the first class's lookups take it: ReadMessage as they read
// replies, then their formatting, the dotted addresses joined by CR LF or the
// host name, into text whose room is kept from call to call, as a caller
// reusing its buffer would: nothing is allocated.
template <bool Forward>
void OursLookupRead(std::span<const std::uint8_t> bytes) {
  static std::string text = [] {
    std::string room;
    room.reserve(256);
    return room;
  }();
  text.clear();
  const auto reply = vbDNS::ReadMessage(bytes, vbDNS::ReadScope::AnswerOctets);
  const bool answered = Forward ? vavizav::resolver::AppendForwardResult(*reply, text)
                                : vavizav::resolver::AppendReverseResult(*reply, text);
  benchmark::DoNotOptimize(answered);
  benchmark::DoNotOptimize(text.data());
}

// The cheapest way to addresses through c-ares: TTL records only, no hostent
// to build and free. (With a hostent as well it costs about a third more.)
void CaresParseA(std::span<const std::uint8_t> bytes) {
  ares_addrttl ttls[8];
  int count = 8;
  benchmark::DoNotOptimize(ares_parse_a_reply(bytes.data(), static_cast<int>(bytes.size()), nullptr, ttls, &count));
  benchmark::DoNotOptimize(ttls);
}

void CaresParsePtr(std::span<const std::uint8_t> bytes) {
  hostent* host = nullptr;
  benchmark::DoNotOptimize(ares_parse_ptr_reply(bytes.data(), static_cast<int>(bytes.size()), PTR_ADDRESS,
                                                sizeof PTR_ADDRESS, AF_INET, &host));
  ares_free_hostent(host);
}

void LdnsParse(std::span<const std::uint8_t> bytes) {
  ldns_pkt* packet = nullptr;
  benchmark::DoNotOptimize(ldns_wire2pkt(&packet, bytes.data(), bytes.size()));
  ldns_pkt_free(packet);
}

// The datagram goes into the caller's buffer, with the ID to send, as the
// exchange does it.
void OursQueryOp(std::uint16_t type, const char* name) {
  const auto query = vbDNS::BuildQuery(type, std::string_view(name));
  vbDNS::QueryDatagram datagram;
  benchmark::DoNotOptimize(vbDNS::EncodeQuery(*query, BENCH_QUERY_ID, datagram));
  benchmark::DoNotOptimize(datagram.data());
}

void CaresQueryOp(int type, const char* name) {
  unsigned char* buffer = nullptr;
  int length = 0;
  benchmark::DoNotOptimize(ares_create_query(name, ns_c_in, type, BENCH_QUERY_ID, 1, &buffer, &length, 0));
  benchmark::DoNotOptimize(buffer);
  ares_free_string(buffer);
}

void LdnsQueryOp(ldns_rr_type type, const char* name) {
  ldns_pkt* packet = ldns_pkt_query_new(ldns_dname_new_frm_str(name), type, LDNS_RR_CLASS_IN, LDNS_RD);
  ldns_pkt_set_id(packet, BENCH_QUERY_ID);
  std::uint8_t* wire = nullptr;
  std::size_t size = 0;
  benchmark::DoNotOptimize(ldns_pkt2wire(&wire, packet, &size));
  benchmark::DoNotOptimize(wire);
  std::free(wire);
  ldns_pkt_free(packet);
}

// The reverse query starts from address text. A c-ares or ldns caller turns
// it into the in-addr.arpa name itself (as ares_gethostbyaddr does), so that
// step belongs to their rows as TextToIP and the reversal belong to ours.
void CaresReverseQueryOp(const char* text) {
  char name[32];
  ReverseNameOf(text, name);
  CaresQueryOp(ns_t_ptr, name);
}

void LdnsReverseQueryOp(const char* text) {
  char name[32];
  ReverseNameOf(text, name);
  LdnsQueryOp(LDNS_RR_TYPE_PTR, name);
}

[[gnu::noinline]] void ParseOneAOurs() { OursLookupRead<true>(ONE_A); }
[[gnu::noinline]] void ParseOneACares() { CaresParseA(ONE_A); }
[[gnu::noinline]] void ParseOneALdns() { LdnsParse(ONE_A); }
[[gnu::noinline]] void ParseCnameOurs() { OursLookupRead<true>(CNAME_FOUR_A); }
[[gnu::noinline]] void ParseCnameCares() { CaresParseA(CNAME_FOUR_A); }
[[gnu::noinline]] void ParseCnameLdns() { LdnsParse(CNAME_FOUR_A); }
[[gnu::noinline]] void ParsePtrOurs() { OursLookupRead<false>(PTR_REPLY); }
[[gnu::noinline]] void ParsePtrCares() { CaresParsePtr(PTR_REPLY); }
[[gnu::noinline]] void ParsePtrLdns() { LdnsParse(PTR_REPLY); }
[[gnu::noinline]] void QueryAOurs() { OursQueryOp(vbDNS::TYPE_A, QUERY_NAME); }
[[gnu::noinline]] void QueryACares() { CaresQueryOp(ns_t_a, QUERY_NAME); }
[[gnu::noinline]] void QueryALdns() { LdnsQueryOp(LDNS_RR_TYPE_A, QUERY_NAME); }
[[gnu::noinline]] void QueryPtrOurs() { OursQueryOp(vbDNS::TYPE_PTR, REVERSE_TEXT); }
[[gnu::noinline]] void QueryPtrCares() { CaresReverseQueryOp(REVERSE_TEXT); }
[[gnu::noinline]] void QueryPtrLdns() { LdnsReverseQueryOp(REVERSE_TEXT); }


// Typed reads: every record of the reply, no text.
void OursRead(std::span<const std::uint8_t> bytes) {
  auto message = vbDNS::ReadMessage(bytes);
  benchmark::DoNotOptimize(message);
}

// The text of every record, from the wire: ours reads and prints each
// record's line (owner, TTL, class, type, data) as ldns_rr2str does.
void OursText(std::span<const std::uint8_t> bytes) {
  const auto message = vbDNS::ReadMessage(bytes);
  for (const auto& record : message->AllRecords()) {
    std::string line = OurLine(*message, record);
    benchmark::DoNotOptimize(line.data());
  }
}

void LdnsText(std::span<const std::uint8_t> bytes) {
  ldns_pkt* packet = nullptr;
  ldns_wire2pkt(&packet, bytes.data(), bytes.size());
  for (const ldns_rr_list* list : {ldns_pkt_answer(packet), ldns_pkt_authority(packet), ldns_pkt_additional(packet)}) {
    for (std::size_t i = 0; i < ldns_rr_list_rr_count(list); ++i) {
      char* text = ldns_rr2str(ldns_rr_list_rr(list, i));
      benchmark::DoNotOptimize(text);
      std::free(text);
    }
  }
  ldns_pkt_free(packet);
}

[[gnu::noinline]] void ReadMixOurs() { OursRead(MIX12); }
[[gnu::noinline]] void ReadMixCares() { benchmark::DoNotOptimize(CaresMixCount(MIX12)); }
[[gnu::noinline]] void ReadMixLdns() { LdnsParse(MIX12); }
[[gnu::noinline]] void ReadNxdomainOurs() { OursRead(NXDOMAIN_SOA); }
[[gnu::noinline]] void ReadNxdomainLdns() { LdnsParse(NXDOMAIN_SOA); }
[[gnu::noinline]] void ReadFortyOurs() { OursRead(FORTY_A); }
[[gnu::noinline]] void ReadFortyCares() {
  ares_addrttl ttls[40];
  int count = 40;
  benchmark::DoNotOptimize(ares_parse_a_reply(FORTY_A.data(), static_cast<int>(FORTY_A.size()), nullptr, ttls, &count));
  benchmark::DoNotOptimize(ttls);
}
[[gnu::noinline]] void ReadFortyLdns() { LdnsParse(FORTY_A); }
[[gnu::noinline]] void TextMixOurs() { OursText(MIX12); }
[[gnu::noinline]] void TextMixLdns() { LdnsText(MIX12); }
[[gnu::noinline]] void TextNxdomainOurs() { OursText(NXDOMAIN_SOA); }
[[gnu::noinline]] void TextNxdomainLdns() { LdnsText(NXDOMAIN_SOA); }
[[gnu::noinline]] void TextFortyOurs() { OursText(FORTY_A); }
[[gnu::noinline]] void TextFortyLdns() { LdnsText(FORTY_A); }

// What the query record costs to copy (a plain value, copied whole): a built
// query copied once. Reported by codec_counts.py; the row has no peer, so the
// table leaves it out.
template <class Record>
void Copy(const Record& source) {
  Record copy = source;
  benchmark::DoNotOptimize(copy);
}
[[gnu::noinline]] void CopyQueryA() {
  static const vbDNS::DNSQuery source = *vbDNS::BuildQuery(vbDNS::TYPE_A, std::string_view(QUERY_NAME));
  Copy(source);
}

struct Row {
  const char* name;  // ROW/LIBRARY; "ours" is this codec
  void (*op)();
  void (*timed)(benchmark::State&);
};

template <void (*Op)()>
void Timed(benchmark::State& state) {
  for (auto _ : state) Op();
}

#define VAVIZAV_ROW(name, op) Row{name, op, Timed<op>}
constexpr Row ROWS[] = {
    VAVIZAV_ROW("lookup_one_a/ours", ParseOneAOurs),     VAVIZAV_ROW("lookup_one_a/c-ares", ParseOneACares),
    VAVIZAV_ROW("lookup_one_a/ldns", ParseOneALdns),     VAVIZAV_ROW("lookup_cname_4a/ours", ParseCnameOurs),
    VAVIZAV_ROW("lookup_cname_4a/c-ares", ParseCnameCares), VAVIZAV_ROW("lookup_cname_4a/ldns", ParseCnameLdns),
    VAVIZAV_ROW("lookup_ptr/ours", ParsePtrOurs),        VAVIZAV_ROW("lookup_ptr/c-ares", ParsePtrCares),
    VAVIZAV_ROW("lookup_ptr/ldns", ParsePtrLdns),        VAVIZAV_ROW("query_a/ours", QueryAOurs),
    VAVIZAV_ROW("query_a/c-ares", QueryACares),         VAVIZAV_ROW("query_a/ldns", QueryALdns),
    VAVIZAV_ROW("query_ptr/ours", QueryPtrOurs),        VAVIZAV_ROW("query_ptr/c-ares", QueryPtrCares),
    VAVIZAV_ROW("query_ptr/ldns", QueryPtrLdns),
    VAVIZAV_ROW("read_mix12/ours", ReadMixOurs),        VAVIZAV_ROW("read_mix12/c-ares", ReadMixCares),
    VAVIZAV_ROW("read_mix12/ldns", ReadMixLdns),        VAVIZAV_ROW("read_nxdomain_soa/ours", ReadNxdomainOurs),
    VAVIZAV_ROW("read_nxdomain_soa/ldns", ReadNxdomainLdns),
    VAVIZAV_ROW("read_40a/ours", ReadFortyOurs),        VAVIZAV_ROW("read_40a/c-ares", ReadFortyCares),
    VAVIZAV_ROW("read_40a/ldns", ReadFortyLdns),
    VAVIZAV_ROW("text_mix12/ours", TextMixOurs),        VAVIZAV_ROW("text_mix12/ldns", TextMixLdns),
    VAVIZAV_ROW("text_nxdomain_soa/ours", TextNxdomainOurs), VAVIZAV_ROW("text_nxdomain_soa/ldns", TextNxdomainLdns),
    VAVIZAV_ROW("text_40a/ours", TextFortyOurs),        VAVIZAV_ROW("text_40a/ldns", TextFortyLdns),
    VAVIZAV_ROW("copy_query_a", CopyQueryA),
};
#undef VAVIZAV_ROW

// --loop ROW/LIBRARY N: the operation N times, untimed, for
//   valgrind --tool=callgrind --toggle-collect='*ParseOneAOurs*' codec_bench --loop lookup_one_a/ours 100000
// whose collected Ir divided by N is the instruction count of one call.
int Loop(std::string_view name, const char* count) {
  const long n = std::strtol(count, nullptr, 10);
  for (const Row& row : ROWS) {
    if (name != row.name) continue;
    void (*volatile op)() = row.op;  // called through memory: never inlined into the loop
    for (long i = 0; i < n; ++i) op();
    return 0;
  }
  std::fprintf(stderr, "codec_bench: no row %.*s\n", static_cast<int>(name.size()), name.data());
  return 2;
}


}  // namespace
}  // namespace codec_bench

using namespace codec_bench;

int main(int argc, char** argv) {
  bool verifyOnly = false;
  const char* loopRow = nullptr;
  const char* loopCount = nullptr;
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--verify-only") {
      verifyOnly = true;
    } else if (arg == "--loop" && i + 2 < argc) {
      loopRow = argv[++i];
      loopCount = argv[++i];
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;

  if (ares_library_init(ARES_LIB_INIT_ALL) != ARES_SUCCESS) {
    std::fprintf(stderr, "codec_bench: ares_library_init failed\n");
    return 1;
  }
  if (!VerifyAll()) {
    std::fprintf(stderr, "codec_bench: %d mismatch(es); nothing timed\n", g_failures);
    return 1;
  }
  if (verifyOnly) {
    std::printf("codec_bench: every library agrees on every fixture\n");
    return 0;
  }
  if (loopRow != nullptr) return Loop(loopRow, loopCount);

  for (const Row& row : ROWS) benchmark::RegisterBenchmark(row.name, row.timed);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  ares_library_cleanup();
  return 0;
}
