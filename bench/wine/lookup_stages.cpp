// lookup_stages: where a single lookup's time goes, stage by stage, under Wine.
//
//   lookup_stages.exe SERVER DLL [--runs N] [--iterations N]
//   lookup_stages.exe SERVER DLL --trace N
//
// Times, in the process, each step a GetIPFromName call makes on its way, each
// alone in a loop (median over runs of the time per call), next to the whole:
// the COM lookup, ExchangeQuery called directly (no COM, no text conversions)
// and the bare exchange on a fresh socket. Steps that talk to the Wine server
// (socket creation, the FIONREAD check, the event and its selection) are timed
// the same way. --trace N runs each step N times between named events, for
// bench/wine/server-calls to count the Wine server requests of each.
// Prints "stage.NAME VALUE us note" lines.
#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "bench.h"
#include "codec/message.h"
#include "codec/reply_check.h"
#include "exchange/exchange.h"
#include "resolver/lookup.h"
#include "runtime/random.h"
#include "runtime/text_conversion.h"
#include "runtime/winsock_startup.h"
#include "text.h"

namespace wine_bench {
namespace {

using vavizav::runtime::com_ptr;
using vavizav::runtime::unique_variant;
using vavizav::testing::Narrow;

struct Stage {
  const char* Key;  // letters and underscores only: server-calls reads it from the marker names
  const char* Note;
  int Scale;        // iterations run = --iterations / Scale (the slow stages run fewer)
  std::function<void()> Step;
};

// The 50-octet reply one.vavizav.test gets: one A record, 192.0.2.1.
const std::uint8_t REPLY[] = {
    0x30, 0x39, 0x81, 0x80, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,  // ID, QR RD RA, 1 question, 1 answer
    3, 'o', 'n', 'e', 7, 'v', 'a', 'v', 'i', 'z', 'a', 'v', 4, 't', 'e', 's', 't', 0,  // one.vavizav.test
    0x00, 0x01, 0x00, 0x01,                                          // QTYPE A, QCLASS IN
    0xC0, 0x0C, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x01, 0x2C,      // owner -> question, A, IN, TTL 300
    0x00, 0x04, 192, 0, 2, 1};                                       // RDLENGTH 4, 192.0.2.1

volatile std::size_t sink;

void Marker(const std::string& name) {
  const std::wstring wide(name.begin(), name.end());
  ::CloseHandle(::CreateEventW(nullptr, FALSE, FALSE, wide.c_str()));
}

}  // namespace
}  // namespace wine_bench

int wmain(int argc, wchar_t** argv) {
  using namespace wine_bench;
  if (argc < 3) {
    std::fprintf(stderr, "usage: lookup_stages SERVER DLL [--runs N] [--iterations N] | --trace N\n");
    return 2;
  }
  const std::wstring server = argv[1], dll = argv[2];
  int runs = 7, iterations = 2000, trace = 0;
  for (int i = 3; i + 1 < argc; i += 2) {
    const std::wstring option = argv[i];
    const int value = static_cast<int>(std::wcstol(argv[i + 1], nullptr, 10));
    if (value < 1 || value > 10000000) return 2;
    if (option == L"--runs") runs = value;
    else if (option == L"--iterations") iterations = value;
    else if (option == L"--trace") trace = value;
    else return 2;
  }
  WSADATA winsock;
  if (::WSAStartup(MAKEWORD(2, 2), &winsock) != 0 || FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    return 2;
  }
  const Component component(dll);
  com_ptr<_VeviVORIdezaz> object = component.NewObject(server, 2000);
  BareExchange bare(server);
  if (!component.Problem().empty() || !object || !bare.Problem().empty()) {
    std::fprintf(stderr, "lookup_stages: %s%s\n", component.Problem().c_str(), bare.Problem().c_str());
    return 2;
  }
  unique_variant name = TextVariant(FORWARD_NAME);
  const std::optional<vbDNS::DNSQuery> query = vbDNS::BuildQuery(vbDNS::TYPE_A, std::u16string_view(u"one.vavizav.test"));
  if (!query || !vavizav::exchange::ExchangeQuery(*query, server, 2000)) {
    std::fprintf(stderr, "lookup_stages: no answer from %ls\n", server.c_str());
    return 2;
  }
  const vavizav::runtime::unique_socket idle(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));

  std::vector<Stage> stages = {
      {"com_lookup", "the whole GetIPFromName, early bound", 20,
       [&] {
         const Outcome outcome = EarlyForward(object.get(), *name);
         sink = outcome.Result.size();
       }},
      {"exchange_query", "ExchangeQuery alone: no COM, no text conversions, no parsing", 20,
       [&] { sink = vavizav::exchange::ExchangeQuery(*query, server, 2000)->size(); }},
      {"bare_fresh_socket", "socket, sendto, recvfrom, closesocket", 20, [&] { sink = bare.FreshSocket(); }},
      {"com_call", "an early-bound call that does nothing much: get_LastError and SysFreeString", 1,
       [&] {
         BSTR text = nullptr;
         object->get_LastError(&text);
         ::SysFreeString(text);
       }},
      {"variant_to_text", "VariantToText of the BSTR argument", 1,
       [&] { sink = vavizav::runtime::VariantToText(*name).Text.size(); }},
      {"idna", "HostNameToAscii (an ASCII name: a check and a copy)", 1,
       [&] { sink = vavizav::runtime::HostNameToAscii(L"one.vavizav.test")->size(); }},
      {"build_query", "wide text to UTF-16 copy, BuildQuery", 1,
       [&] {
         const std::wstring_view text = L"one.vavizav.test";
         const std::u16string utf16(text.begin(), text.end());
         sink = vbDNS::BuildQuery(vbDNS::TYPE_A, utf16).has_value();
       }},
      {"server_text", "the server text copied, split and read (InetPtonW)", 1,
       [&] {
         const std::wstring copy = server;
         for (const std::wstring_view entry : vavizav::exchange::SplitServerList(copy)) {
           sink = vavizav::exchange::ResolveServer(entry).has_value();
         }
       }},
      {"winsock_check", "EnsureWinsock", 1, [&] { sink = vavizav::runtime::EnsureWinsock(); }},
      {"send_schedule", "SendSchedule(2000) (a vector; the exchange plans without one)", 1,
       [&] { sink = vavizav::exchange::SendSchedule(2000).size(); }},
      {"random_id", "Random16 (BCryptGenRandom)", 1, [&] { sink = vavizav::runtime::Random16().value_or(0); }},
      {"encode_query", "EncodeQuery into a QueryDatagram", 1,
       [&] {
         vbDNS::QueryDatagram datagram;
         sink = vbDNS::EncodeQuery(*query, 4660, datagram);
       }},
      {"tick_count", "GetTickCount64 (the exchange reads it 4 times or more)", 1,
       [&] { sink = static_cast<std::size_t>(::GetTickCount64()); }},
      {"receive_buffer", "the 64 KiB receive buffer: allocated and zeroed, freed", 1,
       [&] {
         std::vector<std::uint8_t> buffer;
         buffer.resize(65536);
         sink = buffer[sink & 0xFFFF];
       }},
      {"read_reply", "the 50-octet reply read as the lookups read it, and its address text", 1,
       [&] {
         const auto reply = vbDNS::ReadMessage(vbDNS::PacketView(REPLY, sizeof REPLY), vbDNS::ReadScope::AnswerOctets);
         std::string text;
         sink = reply && vavizav::resolver::AppendForwardResult(*reply, text) ? text.size() : 0;
       }},
      {"check_reply", "CheckReply", 1,
       [&] {
         sink = static_cast<std::size_t>(
             vbDNS::CheckReply(vbDNS::PacketView(REPLY, sizeof REPLY), 0x3039, query->Question).Fit);
       }},
      {"result_text", "IPToText, widened, copied into a BSTR and freed", 1,
       [&] {
         const std::uint8_t octets[4] = {192, 0, 2, 1};
         const std::string text = vbDNS::IPToText(std::span<const std::uint8_t, 4>(octets));
         const std::wstring wide(text.begin(), text.end());
         vavizav::runtime::unique_bstr copy = vavizav::runtime::MakeBstr(wide);
         sink = wide.size();
       }},
      {"socket_close", "socket and closesocket (UDP)", 10,
       [&] { vavizav::runtime::unique_socket s(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP)); }},
      {"fionread", "ioctlsocket FIONREAD on a socket with nothing queued", 10,
       [&] {
         u_long queued = 0;
         ::ioctlsocket(idle.get(), FIONREAD, &queued);
         sink = queued;
       }},
      {"event_select", "WSACreateEvent, WSAEventSelect FD_READ, WSACloseEvent (the slow path's set-up)", 10,
       [&] {
         vavizav::runtime::unique_socket s(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
         const WSAEVENT event = ::WSACreateEvent();
         ::WSAEventSelect(s.get(), event, FD_READ);
         ::WSACloseEvent(event);
       }},
      {"peek_message", "PeekMessageW with no message (one pass of the pump)", 10,
       [&] {
         MSG message;
         sink = static_cast<std::size_t>(::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));
       }},
  };

  if (trace > 0) {
    for (const Stage& stage : stages) {
      Marker(std::string("wine_bench.trace.") + stage.Key + ".begin");
      for (int i = 0; i < trace; ++i) stage.Step();
      Marker(std::string("wine_bench.trace.") + stage.Key + ".end");
    }
    std::fflush(stdout);
    ::CoUninitialize();
    return 0;
  }

  Comment("lookup_stages: server " + Narrow(server) + ", median of " + std::to_string(runs) +
          " runs, each stage alone in a loop; socket rows subtract nothing (their own calls only)");
  // Runs go round all stages, so a slow spell of the machine spreads over all.
  std::vector<std::vector<double>> perCall(stages.size());
  for (int run = 0; run < runs; ++run) {
    for (std::size_t s = 0; s < stages.size(); ++s) {
      const int count = std::max(1, iterations / stages[s].Scale);
      const double start = NowUs();
      for (int i = 0; i < count; ++i) stages[s].Step();
      perCall[s].push_back((NowUs() - start) / count);
    }
  }
  for (std::size_t s = 0; s < stages.size(); ++s) {
    Emit(std::string("stage.") + stages[s].Key, Median(perCall[s]), "us", stages[s].Note);
  }
  // The three whole exchanges one by one, interleaved: a lookup whose reply
  // is not queued yet when it first looks takes the event-and-wait path, which
  // shows as a second hump well above the median.
  std::vector<std::vector<double>> single(3);
  for (int i = 0; i < iterations; ++i) {
    for (std::size_t s = 0; s < 3; ++s) {
      const double start = NowUs();
      stages[s].Step();
      single[s].push_back(NowUs() - start);
    }
  }
  for (std::size_t s = 0; s < 3; ++s) {
    const double median = Median(single[s]);
    const auto slow = std::count_if(single[s].begin(), single[s].end(), [&](double t) { return t > median + 60; });
    Emit(std::string("single.") + stages[s].Key + ".p10", Percentile(single[s], 0.1), "us");
    Emit(std::string("single.") + stages[s].Key + ".p50", median, "us");
    Emit(std::string("single.") + stages[s].Key + ".p90", Percentile(single[s], 0.9), "us");
    Emit(std::string("single.") + stages[s].Key + ".mean", [&] {
      double sum = 0;
      for (double t : single[s]) sum += t;
      return sum / static_cast<double>(single[s].size());
    }(), "us", std::to_string(100.0 * static_cast<double>(slow) / static_cast<double>(single[s].size())).substr(0, 4) +
                   " % more than 60 us above the median");
  }
  std::fflush(stdout);
  object.reset();
  ::CoUninitialize();
  return 0;
}
