// Batches through the engine against the delaying responder (a native
// program, tests/support/delay_responder.c), started by CTest fixtures:
//   RESPONDER          every reply 5 ms after its query
//   FOLDING_RESPONDER  the same, the question lower-cased (a server that folds case)
//   LOSSY_RESPONDER    5 ms, and 5 % of the UDP queries dropped
// (their addresses from tests/CMakeLists.txt).
// Names "hN.<anything>" are answered with 10.(N>>16).(N>>8&255).(N&255).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "clock.h"
#include "engine.h"
#include "message_window.h"
#include "test_addresses.h"

namespace vavizav::testing {
namespace {

constexpr wchar_t RESPONDER[] = VAVIZAV_RESPONDER_ADDRESS;
constexpr wchar_t FOLDING_RESPONDER[] = VAVIZAV_FOLDING_RESPONDER_ADDRESS;
constexpr wchar_t LOSSY_RESPONDER[] = VAVIZAV_LOSSY_RESPONDER_ADDRESS;

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
