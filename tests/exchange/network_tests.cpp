// Lookups against the native peer (net_peer.c, on VAVIZAV_NET_PEER_ADDRESS): a flood of
// wrong-ID datagrams that must not stretch the wait or stop the thread's
// messages, and the TCP query after a truncated reply, with every way a TCP
// answer can go wrong.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "exchange/engine.h"
#include "test_addresses.h"
#include "test_support.h"

namespace vavizav::testing {
namespace {

constexpr wchar_t PEER[] = VAVIZAV_NET_PEER_ADDRESS;            // UDP and TCP on port 53
constexpr wchar_t PEER_UDP_ONLY[] = VAVIZAV_NET_PEER_ADDRESS L":5301";  // TCP refused here
// What the truncated UDP reply holds, and the whole answers over TCP.
constexpr wchar_t TRUNCATED_ANSWER[] = L"192.0.2.1";

std::wstring Addresses(int count) {
  std::wstring text;
  for (int i = 1; i <= count; ++i) text += (i > 1 ? L"\r\n" : L"") + (L"10.0.0." + std::to_wstring(i));
  return text;
}

TEST(Flood, EveryLookupEndsAtItsTimeOutAndMessagesFlow) {
  constexpr LONG TIMEOUT_MS = 500;
  hosting::VeviVORIdezaz object;
  Configure(object, PEER, TIMEOUT_MS);
  bool inLookup = false;
  int handledInLookup = 0;
  MessageWindow window([&](UINT, WPARAM) { handledInLookup += inLookup ? 1 : 0; });
  double worst = 0;
  for (int round = 0; round < 6; ++round) {
    ::PostMessageW(window.get(), WM_APP, 0, 0);
    inLookup = true;
    const Stopwatch clock;
    const Answer answer = Forward(object, L"flood.vavizav.test");
    const double elapsed = clock.ElapsedMs();
    inLookup = false;
    worst = std::max(worst, elapsed);
    EXPECT_EQ(answer.LastError, L"DNS Request Timed Out") << "round " << round;
    EXPECT_LT(elapsed, 1.2 * TIMEOUT_MS + 100) << "round " << round;
    EXPECT_EQ(handledInLookup, round + 1) << "the posted message waited for the flood to end";
  }
  std::printf("[ measure  ] flood of wrong-ID replies, TimeOut %ld: longest of 6 lookups %.0f ms\n", TIMEOUT_MS,
              worst);
  ::Sleep(2600);  // the peer's flood ends before the next test
}

// The flood hits the socket a whole batch shares: the flooded question ends at
// its time-out, the others (each truncated over UDP, then asked over TCP) are
// answered, and the thread's messages flow.
TEST(Flood, BatchBesideAFloodIsAnsweredAndTheFloodedQuestionEndsInTime) {
  // Room for three TCP exchanges beside the flood on a slow host (Wine's heap
  // checks make every receive of the flood dearer).
  constexpr DWORD TIMEOUT_MS = 2000;
  std::vector<vbDNS::DNSQuery> queries;
  for (const char* name : {"flood.vavizav.test", "whole.one.vavizav.test", "whole.two.vavizav.test", "Whole.Vavizav.Test"}) {
    queries.push_back(*vbDNS::BuildQuery(vbDNS::TYPE_A, std::string_view(name)));
  }
  int handled = 0;
  MessageWindow window([&](UINT, WPARAM) { ++handled; });
  ::PostMessageW(window.get(), WM_APP, 0, 0);
  const Stopwatch clock;
  const std::vector<exchange::ExchangeOutcome> outcomes = exchange::ExchangeMany(queries, {PEER, TIMEOUT_MS, 4});
  const double elapsed = clock.ElapsedMs();
  std::printf("[ measure  ] batch beside a flood, TimeOut %lu: %.0f ms\n", TIMEOUT_MS, elapsed);
  EXPECT_EQ(outcomes[0].Failure, exchange::ExchangeFailure::TimedOut);
  for (std::size_t i = 1; i < outcomes.size(); ++i) {
    ASSERT_EQ(outcomes[i].Failure, exchange::ExchangeFailure::None) << i;
    const vbDNS::Packet& reply = *outcomes[i].Reply;
    EXPECT_EQ(reply[6] << 8 | reply[7], 40) << i;
  }
  EXPECT_LT(elapsed, 1.2 * TIMEOUT_MS + 100);
  EXPECT_EQ(handled, 1);
  // Each send of the flooded question (the last at 1500 ms) starts the peer's
  // 2500 ms flood again: it ends before the next test.
  ::Sleep(2600);
}

class Truncated : public ::testing::Test {
 protected:
  Answer Lookup(std::wstring_view name, std::wstring_view server = PEER, LONG timeoutMs = 3000) {
    Configure(object_, server, timeoutMs);
    return Forward(object_, name);
  }
  hosting::VeviVORIdezaz object_;
};

TEST_F(Truncated, AskedAgainOverTcpForTheWholeAnswer) {
  const Stopwatch clock;
  const Answer whole = Lookup(L"whole.vavizav.test");
  std::printf("[ measure  ] truncated UDP reply, then 40 records over TCP: %.1f ms\n", clock.ElapsedMs());
  EXPECT_EQ(whole.Result, Addresses(40));
  EXPECT_EQ(whole.LastError, L"");
  // However the reply is cut into segments.
  EXPECT_EQ(Lookup(L"dribble.vavizav.test").Result, Addresses(3));
}

TEST_F(Truncated, FailedTcpLeavesTheTruncatedReplyAsItIs) {
  struct Case {
    const wchar_t* Name;
    const wchar_t* Server;
  } const cases[] = {
      {L"refused.vavizav.test", PEER_UDP_ONLY},  // no TCP listener on the port
      {L"short.vavizav.test", PEER},             // the length prefix promises more than comes
      {L"wrongid.vavizav.test", PEER},
      {L"closed.vavizav.test", PEER},            // closed without a reply
  };
  for (const Case& c : cases) {
    const Stopwatch clock;
    const Answer answer = Lookup(c.Name, c.Server);
    const std::string name(c.Name, c.Name + std::wstring_view(c.Name).size());
    EXPECT_EQ(answer.Result, TRUNCATED_ANSWER) << name;
    EXPECT_LT(clock.ElapsedMs(), 2000.0) << "waited out the time-out: " << name;
  }
}

TEST_F(Truncated, SilentTcpServerEndsAtTheTimeOutWithTheTruncatedReply) {
  const Stopwatch clock;
  const Answer answer = Lookup(L"silent.vavizav.test", PEER, 800);
  const double elapsed = clock.ElapsedMs();
  EXPECT_EQ(answer.Result, TRUNCATED_ANSWER);
  EXPECT_GE(elapsed, 750.0);
  EXPECT_LT(elapsed, 1.2 * 800 + 100);
}

}  // namespace
}  // namespace vavizav::testing
