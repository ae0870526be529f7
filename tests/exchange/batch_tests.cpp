// Batches through the engine against the delaying responder (a native
// program, tests/support/delay_responder.c), started by CTest fixtures:
//   RESPONDER          every reply 5 ms after its query
//   FOLDING_RESPONDER  the same, the question lower-cased (a server that folds case)
//   LOSSY_RESPONDER    5 ms, and 5 % of the UDP queries dropped
//   FOLDING_NO_TCP     5 ms, the question lower-cased, and no TCP listener
//   DEAD               every query dropped
// (their addresses from tests/CMakeLists.txt).
// Names "hN.<anything>" are answered with 10.(N>>16).(N>>8&255).(N&255).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "clock.h"
#include "com_client.h"
#include "exchange/engine.h"
#include "hosting/vevivoridezaz_members.h"
#include "message_window.h"
#include "test_addresses.h"

namespace vavizav::testing {

using exchange::ExchangeFailure;
using exchange::ExchangeMany;
using exchange::ExchangeOutcome;
using exchange::ServerMemory;

namespace {

constexpr wchar_t RESPONDER[] = VAVIZAV_RESPONDER_ADDRESS;
constexpr wchar_t FOLDING_RESPONDER[] = VAVIZAV_FOLDING_RESPONDER_ADDRESS;
constexpr wchar_t LOSSY_RESPONDER[] = VAVIZAV_LOSSY_RESPONDER_ADDRESS;
constexpr wchar_t FOLDING_NO_TCP[] = VAVIZAV_FOLDING_NO_TCP_ADDRESS;
constexpr wchar_t DEAD_FIRST[] = VAVIZAV_DEAD_RESPONDER_ADDRESS L" " VAVIZAV_RESPONDER_ADDRESS;
constexpr wchar_t LIVE_FIRST[] = VAVIZAV_RESPONDER_ADDRESS L" " VAVIZAV_DEAD_RESPONDER_ADDRESS;

// "hN.<suffix>" for N = 1..count, in the letters' case given.
std::vector<vbDNS::DNSQuery> Numbered(int count, std::string_view suffix) {
  std::vector<vbDNS::DNSQuery> queries;
  for (int n = 1; n <= count; ++n) {
    std::string name = "h";
    name += std::to_string(n);
    name += '.';
    name += suffix;
    queries.push_back(*vbDNS::BuildQuery(vbDNS::TYPE_A, name));
  }
  return queries;
}

std::string AddressOf(int n) {
  return "10." + std::to_string(n >> 16 & 255) + "." + std::to_string(n >> 8 & 255) + "." + std::to_string(n & 255);
}

std::string LastAddress(const vbDNS::Packet& reply) {
  const std::size_t at = reply.size() - 4;
  return std::to_string(reply[at]) + "." + std::to_string(reply[at + 1]) + "." + std::to_string(reply[at + 2]) + "." +
         std::to_string(reply[at + 3]);
}

// Every outcome answered with its own address and its question spelt as asked.
void ExpectEveryAnswer(const std::vector<vbDNS::DNSQuery>& queries, const std::vector<ExchangeOutcome>& outcomes) {
  ASSERT_EQ(outcomes.size(), queries.size());
  int wrong = 0;
  for (std::size_t i = 0; i < outcomes.size() && wrong < 5; ++i) {
    const ExchangeOutcome& outcome = outcomes[i];
    const std::string_view name = queries[i].Question.QName.view();
    const bool right = outcome.Failure == ExchangeFailure::None && outcome.Reply &&
                       outcome.Reply->size() > vbDNS::HEADER_SIZE + name.size() &&
                       std::string_view(reinterpret_cast<const char*>(outcome.Reply->data()) + vbDNS::HEADER_SIZE,
                                        name.size()) == name &&
                       LastAddress(*outcome.Reply) == AddressOf(static_cast<int>(i) + 1);
    if (!right) {
      ++wrong;
      ADD_FAILURE() << "question " << i << ": failure " << static_cast<int>(outcome.Failure);
    }
  }
}

TEST(Batch, TwoThousandQuestionsThroughAWindowOf64) {
  const std::vector<vbDNS::DNSQuery> queries = Numbered(2000, "Batch.Vavizav.Test");
  const Stopwatch clock;
  const std::vector<ExchangeOutcome> outcomes = ExchangeMany(queries, {RESPONDER, 2000, 64});
  std::printf("[ measure  ] 2000 questions, 5 ms each, window 64: %.0f ms\n", clock.ElapsedMs());
  ExpectEveryAnswer(queries, outcomes);
  EXPECT_EQ(outcomes.front().Server, RESPONDER);
}

TEST(Batch, EveryQuestionAnsweredDespiteFivePercentLoss) {
  const std::vector<vbDNS::DNSQuery> queries = Numbered(2000, "loss.vavizav.test");
  const Stopwatch clock;
  const std::vector<ExchangeOutcome> outcomes = ExchangeMany(queries, {LOSSY_RESPONDER, 2000, 64});
  std::printf("[ measure  ] 2000 questions, 5 %% lost, window 64: %.0f ms\n", clock.ElapsedMs());
  ExpectEveryAnswer(queries, outcomes);
}

TEST(Batch, CaseFoldingServerIsAnsweredThroughTcp) {
  // Every UDP reply repeats the name in lower case: none may count, and every
  // question is answered over TCP, spelt as the caller spelt it.
  const std::vector<vbDNS::DNSQuery> queries = Numbered(100, "Fold.Vavizav.Test");
  const std::vector<ExchangeOutcome> outcomes = ExchangeMany(queries, {FOLDING_RESPONDER, 3000, 16});
  ExpectEveryAnswer(queries, outcomes);
}

// A server that folds case and refuses TCP: every question answered through
// UDP in the caller's spelling, and, once the server is known to fold, asked
// so from the start.
TEST(Batch, CaseFoldingServerWithoutTcpIsAnsweredInTheCallersSpelling) {
  const std::vector<vbDNS::DNSQuery> queries = Numbered(100, "NoTcp.Vavizav.Test");
  const auto memory = std::make_shared<ServerMemory>();
  ExpectEveryAnswer(queries, ExchangeMany(queries, {FOLDING_NO_TCP, 3000, 16, memory}));
  ASSERT_TRUE(memory->Find(FOLDING_NO_TCP));
  EXPECT_TRUE(memory->Find(FOLDING_NO_TCP)->FoldsCase);
  const Stopwatch clock;
  ExpectEveryAnswer(queries, ExchangeMany(queries, {FOLDING_NO_TCP, 3000, 16, memory}));
  EXPECT_LT(clock.ElapsedMs(), 1000.0);
}

TEST(Batch, FirstClassLookupsOfACaseFoldingServerWithoutTcp) {
  hosting::VeviVORIdezaz object;
  Configure(object, FOLDING_NO_TCP, 3000);
  for (int n = 1; n <= 3; ++n) {
    const Answer answer = Forward(object, L"h" + std::to_wstring(n) + L".NoTcp.Vavizav.Test");
    EXPECT_EQ(answer.LastError, L"");
    EXPECT_EQ(answer.Result, L"10.0.0." + std::to_wstring(n));
    EXPECT_LT(answer.Us, 1000000.0);
  }
}

// A server that drops everything listed first: a batch pays at most one
// first interval for it, and the next batch of the same object nothing.
TEST(Batch, DeadFirstServerCostsABatchOneIntervalAndTheNextNothing) {
  const std::vector<vbDNS::DNSQuery> queries = Numbered(5000, "dead.vavizav.test");
  Stopwatch clock;
  ExpectEveryAnswer(queries, ExchangeMany(queries, {LIVE_FIRST, 2000, 1024}));
  const double live = clock.ElapsedMs();
  const auto memory = std::make_shared<ServerMemory>();
  clock = Stopwatch();
  ExpectEveryAnswer(queries, ExchangeMany(queries, {DEAD_FIRST, 2000, 1024, memory}));
  const double dead = clock.ElapsedMs();
  clock = Stopwatch();
  ExpectEveryAnswer(queries, ExchangeMany(queries, {DEAD_FIRST, 2000, 1024, memory}));
  const double again = clock.ElapsedMs();
  std::printf("[ measure  ] 5000 names, live first %.0f ms, dead first %.0f ms, again %.0f ms\n", live, dead, again);
  // The goals (live + 1.5 s, 1.2 x live) are the bench's. The fault this
  // holds is a resend interval per question (tens of seconds for 5,000
  // names); the bounds leave room for a loaded machine's scheduling.
  EXPECT_LE(dead, live + 4000.0);
  EXPECT_LE(again, 1.5 * live + 3000.0);
  EXPECT_GT(memory->Find(VAVIZAV_DEAD_RESPONDER_ADDRESS)->Unanswered, 0u);
  EXPECT_EQ(memory->Find(VAVIZAV_RESPONDER_ADDRESS)->Unanswered, 0u);
}

TEST(Batch, FirstClassLookupsInARowWithADeadFirstServer) {
  const auto lookups = [](std::wstring_view servers) {
    hosting::VeviVORIdezaz object;
    Configure(object, servers, 2000);
    const Stopwatch clock;
    for (int n = 1; n <= 200; ++n) {
      const Answer answer = Forward(object, L"h" + std::to_wstring(n) + L".row.vavizav.test");
      EXPECT_EQ(answer.Result, L"10.0.0." + std::to_wstring(n)) << n;
    }
    return clock.ElapsedMs();
  };
  const double live = lookups(LIVE_FIRST);
  const double dead = lookups(DEAD_FIRST);
  std::printf("[ measure  ] 200 lookups, live first %.0f ms, dead first %.0f ms\n", live, dead);
  EXPECT_LE(dead, live + 2500.0);  // the goal, 1.5 s, is the bench's
}

// A full window answered faster than it is read, with a short time-out:
// every question answered, none reported timed out.
TEST(Batch, AFullWindowOfQuickAnswersWithAShortTimeOut) {
  for (const int count : {1100, 3000}) {
    const std::vector<vbDNS::DNSQuery> queries = Numbered(count, "window.vavizav.test");
    const Stopwatch clock;
    const std::vector<ExchangeOutcome> outcomes = ExchangeMany(queries, {RESPONDER, 300, 1024});
    std::printf("[ measure  ] %d names, window 1024, time-out 300: %.0f ms\n", count, clock.ElapsedMs());
    ExpectEveryAnswer(queries, outcomes);
  }
}

TEST(Batch, MessagesFlowWhileABatchWaits) {
  int handled = 0;
  MessageWindow window([&](UINT, WPARAM) { ++handled; });
  ::PostMessageW(window.get(), WM_APP, 0, 0);
  const std::vector<vbDNS::DNSQuery> queries = Numbered(300, "pump.vavizav.test");
  ExpectEveryAnswer(queries, ExchangeMany(queries, {RESPONDER, 2000, 8}));
  EXPECT_EQ(handled, 1);
}

}  // namespace
}  // namespace vavizav::testing
