// The engine against the scripted server: outcomes in input order, identical
// questions asked once, the window, each question's own schedule, the
// sockets' rotation and the letter case of names on the wire.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "exchange/engine.h"
#include "runtime/handles.h"
#include "exchange_fixture.h"
#include "fake_dns_server.h"
#include "packets.h"
#include "scripted_server_fixture.h"
#include "test_support.h"

namespace vavizav::testing {

using exchange::ExchangeFailure;
using exchange::ExchangeMany;
using exchange::ExchangeOutcome;

namespace {

vbDNS::DNSQuery Question(std::string_view name, std::uint16_t type = vbDNS::TYPE_A) {
  vbDNS::DNSQuery query = *vbDNS::BuildQuery(vbDNS::TYPE_A, name);
  query.Question.QType = type;
  return query;
}

// Texts joined (without the chains of + that GCC 12 misreads as overlapping copies).
std::string Join(std::initializer_list<std::string_view> parts) {
  std::string text;
  for (const std::string_view part : parts) text += part;
  return text;
}

std::string Lower(std::string text) {
  for (char& c : text) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c | 0x20) : c;
  return text;
}

// A distinct address for every name (without regard to case): 10.0.N/256.N%256
// for "nN...", 192.0.2.200 otherwise.
std::string AddressOf(const std::string& name) {
  const std::string lower = Lower(name);
  if (lower.size() < 2 || lower[0] != 'n') return "192.0.2.200";
  const int n = std::atoi(lower.c_str() + 1) & 0xFFFF;
  return Join({"10.0.", std::to_string(n >> 8), ".", std::to_string(n & 0xFF)});
}

Script AnswerByName(DWORD delayMs = 0) {
  return [=](const Query& query) { return std::vector<Send>{{Reply(query, {A(AddressOf(query.Name()))}), delayMs}}; };
}

// The question name of a reply, in wire form.
std::string ReplyName(const vbDNS::Packet& reply, std::size_t length) {
  return std::string(reinterpret_cast<const char*>(reply.data()) + vbDNS::HEADER_SIZE, length);
}

// The address of the first answer (the scripted replies hold one A record last).
std::string LastAddress(const vbDNS::Packet& reply) {
  const std::size_t at = reply.size() - 4;
  return Join({std::to_string(reply[at]), ".", std::to_string(reply[at + 1]), ".", std::to_string(reply[at + 2]), ".",
               std::to_string(reply[at + 3])});
}

class EngineTest : public ScriptedServerTest {};

TEST_F(EngineTest, OutcomesInInputOrderAndIdenticalQuestionsAskedOnce) {
  Server().Reset(AnswerByName());
  const std::vector<vbDNS::DNSQuery> queries = {
      Question("n1.abcdefghijklmnopqrstuvwxyz.test"), Question("n2.test"),
      Question("N1.ABCDEFGHIJKLMNOPQRSTUVWXYZ.TEST"),  // the first again, in other letters
      Question("n3.test"), Question("n1.abcdefghijklmnopqrstuvwxyz.test"),
      Question("n1.abcdefghijklmnopqrstuvwxyz.test", 28),  // another type: another question
  };
  const std::vector<ExchangeOutcome> outcomes = ExchangeMany(queries, {SERVER_ADDRESS, 2000, 64});
  ASSERT_EQ(outcomes.size(), queries.size());
  for (std::size_t i = 0; i < queries.size(); ++i) {
    ASSERT_EQ(outcomes[i].Failure, ExchangeFailure::None) << i;
    ASSERT_TRUE(outcomes[i].Reply) << i;
    EXPECT_EQ(outcomes[i].Server, SERVER_ADDRESS) << i;
    const std::string_view asked = queries[i].Question.QName.view();
    EXPECT_EQ(ReplyName(*outcomes[i].Reply, asked.size()), asked) << "spelt as asked: " << i;
    const std::uint16_t type = static_cast<std::uint16_t>((*outcomes[i].Reply)[12 + asked.size()] << 8 |
                                                          (*outcomes[i].Reply)[13 + asked.size()]);
    EXPECT_EQ(type, queries[i].Question.QType) << i;
  }
  EXPECT_EQ(LastAddress(*outcomes[1].Reply), "10.0.0.2");
  EXPECT_EQ(LastAddress(*outcomes[3].Reply), "10.0.0.3");

  // Four distinct questions went out, once each, the long name in mixed case.
  const std::vector<Query> sent = Server().Queries();
  ASSERT_EQ(sent.size(), 4u);
  std::multiset<std::string> names;
  for (const Query& query : sent) names.insert(Join({query.LowerName(), "/", std::to_string(query.Type())}));
  EXPECT_EQ(names, (std::multiset<std::string>{"n1.abcdefghijklmnopqrstuvwxyz.test/1", "n2.test/1", "n3.test/1",
                                               "n1.abcdefghijklmnopqrstuvwxyz.test/28"}));
  for (const Query& query : sent) {
    if (query.Name().size() < 20) continue;
    EXPECT_NE(query.Name(), query.LowerName()) << "26 letters all in lower case: no random case on the wire";
  }
}

// Hears every outcome as the engine tells it, and ends the call after
// `stopAfter` of them (never, by default).
class Recorder final : public exchange::ExchangeObserver {
 public:
  explicit Recorder(std::size_t stopAfter = SIZE_MAX) : stopAfter_(stopAfter) {}
  void Ended(std::size_t query, const ExchangeOutcome& outcome) override {
    Told.push_back(query);
    Outcomes.push_back(outcome);
  }
  bool Cancelled() override { return Told.size() >= stopAfter_; }
  std::vector<std::size_t> Told;
  std::vector<ExchangeOutcome> Outcomes;

 private:
  std::size_t stopAfter_;
};

TEST_F(EngineTest, ObserverHearsEachQueryOnceWithTheOutcomeTheCallReturns) {
  Server().Reset(AnswerByName(5));
  std::vector<vbDNS::DNSQuery> queries;
  for (int n = 1; n <= 20; ++n) queries.push_back(Question(Join({"n", std::to_string(n), ".observed.test"})));
  queries.push_back(Question("N3.OBSERVED.TEST"));  // asked once, told to both askers in their spelling
  Recorder recorder;
  exchange::EngineSettings settings{SERVER_ADDRESS, 2000, 4};
  settings.Observer = &recorder;
  const std::vector<ExchangeOutcome> outcomes = ExchangeMany(queries, settings);
  ASSERT_EQ(outcomes.size(), queries.size());
  std::vector<std::size_t> told = recorder.Told;
  std::sort(told.begin(), told.end());
  std::vector<std::size_t> every(queries.size());
  for (std::size_t i = 0; i < every.size(); ++i) every[i] = i;
  EXPECT_EQ(told, every);
  for (std::size_t k = 0; k < recorder.Told.size(); ++k) {
    const std::size_t i = recorder.Told[k];
    ASSERT_TRUE(recorder.Outcomes[k].Reply) << i;
    EXPECT_EQ(*recorder.Outcomes[k].Reply, *outcomes[i].Reply) << i;
  }
  EXPECT_EQ(Server().Queries().size(), 20u);
}

TEST_F(EngineTest, CancelEndsOpenQuestionsAndNothingIsSentAfter) {
  // Slow answers, four at a time: the cancel comes with most questions unasked.
  Server().Reset(AnswerByName(30));
  std::vector<vbDNS::DNSQuery> queries;
  for (int n = 1; n <= 40; ++n) queries.push_back(Question(Join({"n", std::to_string(n), ".cancel.test"})));
  Recorder recorder(6);
  exchange::EngineSettings settings{SERVER_ADDRESS, 2000, 4};
  settings.Observer = &recorder;
  const std::vector<ExchangeOutcome> outcomes = ExchangeMany(queries, settings);
  ::Sleep(50);  // what left before the call returned has reached the server
  const std::size_t sentByThen = Server().Queries().size();
  std::size_t answered = 0, cancelled = 0;
  for (const ExchangeOutcome& outcome : outcomes) {
    if (outcome.Failure == ExchangeFailure::None) ++answered;
    if (outcome.Failure == ExchangeFailure::Cancelled) ++cancelled;
  }
  // Those told were answered; some that ended in the same step as the sixth
  // are answered without being told, as the cancel came first.
  for (const std::size_t i : recorder.Told) EXPECT_EQ(outcomes[i].Failure, ExchangeFailure::None) << i;
  EXPECT_GE(answered, recorder.Told.size());
  EXPECT_EQ(answered + cancelled, queries.size());
  EXPECT_LT(sentByThen, 20u);
  ::Sleep(200);  // a resend due later would have gone by now
  EXPECT_EQ(Server().Queries().size(), sentByThen);
}

TEST_F(EngineTest, WakeEventEndsAWaitAtOnce) {
  // Nothing answers: only the wake can end the call before the time-out.
  Server().Reset([](const Query&) { return std::vector<Send>{}; });
  struct Flag final : exchange::ExchangeObserver {
    void Ended(std::size_t, const ExchangeOutcome&) override {}
    bool Cancelled() override { return Set.load(); }
    std::atomic<bool> Set{false};
  } flag;
  runtime::unique_handle wake(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  exchange::EngineSettings settings{SERVER_ADDRESS, 20000, 4};
  settings.Observer = &flag;
  settings.Wake = wake.get();
  settings.Pump = false;
  std::thread canceller([&] {
    ::Sleep(100);
    flag.Set = true;
    ::SetEvent(wake.get());
  });
  const Stopwatch clock;
  const std::vector<ExchangeOutcome> outcomes =
      ExchangeMany(std::vector<vbDNS::DNSQuery>{Question("n1.wake.test"), Question("n2.wake.test")}, settings);
  canceller.join();
  EXPECT_LT(clock.ElapsedMs(), 5000.0);  // not the 20 s time-out
  for (const ExchangeOutcome& outcome : outcomes) EXPECT_EQ(outcome.Failure, ExchangeFailure::Cancelled);
}

TEST_F(EngineTest, NeverMoreThanMaxInFlightOutstanding) {
  // Every reply leaves 40 ms after its query; at each arrival the server counts
  // the queries whose reply is not yet due (never more than are really
  // outstanding: a reply only leaves once it is due).
  struct Tally {
    std::mutex Mutex;
    std::vector<ULONGLONG> Due;
    std::size_t Worst = 0;
  };
  const auto tally = std::make_shared<Tally>();
  constexpr DWORD DELAY_MS = 40;
  Server().Reset([tally](const Query& query) {
    const std::lock_guard lock(tally->Mutex);
    const ULONGLONG now = ::GetTickCount64();
    const std::size_t outstanding =
        1 + static_cast<std::size_t>(std::count_if(tally->Due.begin(), tally->Due.end(), [&](ULONGLONG due) { return due > now; }));
    tally->Worst = std::max(tally->Worst, outstanding);
    tally->Due.push_back(now + DELAY_MS);
    return std::vector<Send>{{Reply(query, {A(AddressOf(query.Name()))}), DELAY_MS}};
  });
  std::vector<vbDNS::DNSQuery> queries;
  for (int n = 1; n <= 12; ++n) queries.push_back(Question(Join({"n", std::to_string(n), ".window.test"})));
  const Stopwatch clock;
  const std::vector<ExchangeOutcome> outcomes = ExchangeMany(queries, {SERVER_ADDRESS, 2000, 3});
  const double elapsed = clock.ElapsedMs();
  for (std::size_t i = 0; i < outcomes.size(); ++i) {
    ASSERT_EQ(outcomes[i].Failure, ExchangeFailure::None) << i;
    EXPECT_EQ(LastAddress(*outcomes[i].Reply), Join({"10.0.0.", std::to_string(i + 1)}));
  }
  EXPECT_EQ(Server().Queries().size(), 12u);
  EXPECT_EQ(tally->Worst, 3u);
  EXPECT_GE(elapsed, 4 * DELAY_MS - 5.0);  // 12 questions, 3 at a time
}

TEST_F(EngineTest, EachQuestionHasItsOwnScheduleAndTimeOut) {
  // One at a time: the first answered after 1800 ms; the second's first send
  // is lost, its resend 500 ms later (timeout 2000) answered at once. The
  // second is answered about 2300 ms after the call began: its time-out
  // counts from its own first send.
  auto seen = std::make_shared<std::map<std::string, int>>();
  Server().Reset([seen](const Query& query) {
    const std::string name = query.LowerName();
    const int earlier = (*seen)[name]++;
    if (name == "n1.schedule.test") {
      // Only its first send is answered, late.
      return earlier == 0 ? std::vector<Send>{{Reply(query, {A("10.0.0.1")}), 1800}} : std::vector<Send>{};
    }
    return earlier == 0 ? std::vector<Send>{} : std::vector<Send>{{Reply(query, {A("10.0.0.2")})}};
  });
  const std::vector<vbDNS::DNSQuery> queries = {Question("n1.schedule.test"), Question("n2.schedule.test")};
  const Stopwatch clock;
  const std::vector<ExchangeOutcome> outcomes = ExchangeMany(queries, {SERVER_ADDRESS, 2000, 1});
  const double elapsed = clock.ElapsedMs();
  ASSERT_EQ(outcomes[0].Failure, ExchangeFailure::None);
  ASSERT_EQ(outcomes[1].Failure, ExchangeFailure::None);
  EXPECT_EQ(LastAddress(*outcomes[1].Reply), "10.0.0.2");
  EXPECT_GE(elapsed, 2250.0);
  EXPECT_LT(elapsed, 3500.0);
  // n1 at 0, 500, 1500; n2 at about 1800 and 2300.
  std::vector<std::string> order;
  for (const Query& query : Server().Queries()) order.push_back(query.LowerName());
  EXPECT_EQ(order, (std::vector<std::string>{"n1.schedule.test", "n1.schedule.test", "n1.schedule.test",
                                             "n2.schedule.test", "n2.schedule.test"}));
}

TEST_F(EngineTest, LaterQuestionsResendSoonerOnceTheRoundTripIsKnown) {
  // The first question is answered at once; the second's first send is lost.
  // Its resend comes 200 ms after it (the floor above 4 x a round trip of a
  // millisecond or so), not after the fixed 500 ms of a 2000 ms time-out.
  auto seen = std::make_shared<std::map<std::string, int>>();
  Server().Reset([seen](const Query& query) {
    const int earlier = (*seen)[query.LowerName()]++;
    if (query.LowerName() == "n2.rtt.test" && earlier == 0) return std::vector<Send>{};
    return std::vector<Send>{{Reply(query, {A(AddressOf(query.Name()))})}};
  });
  const std::vector<vbDNS::DNSQuery> queries = {Question("n1.rtt.test"), Question("n2.rtt.test")};
  const Stopwatch clock;
  const std::vector<ExchangeOutcome> outcomes = ExchangeMany(queries, {SERVER_ADDRESS, 2000, 1});
  const double elapsed = clock.ElapsedMs();
  ASSERT_EQ(outcomes[1].Failure, ExchangeFailure::None);
  EXPECT_GE(elapsed, 190.0);
  EXPECT_LT(elapsed, 450.0);
  // A single question has no round trip to go by: today's schedule.
  seen->clear();
  const Stopwatch single;
  EXPECT_EQ(ExchangeMany(std::span(&queries[1], 1), {SERVER_ADDRESS, 2000, 1})[0].Failure, ExchangeFailure::None);
  EXPECT_GE(single.ElapsedMs(), 480.0);
}

TEST_F(EngineTest, SocketsCarryAtMostOneHundredQueriesAndNeverShareAnIdInFlight) {
  Server().Reset(AnswerByName());
  std::vector<vbDNS::DNSQuery> queries;
  for (int n = 1; n <= 450; ++n) queries.push_back(Question(Join({"n", std::to_string(n), ".rotation.test"})));
  const std::vector<ExchangeOutcome> outcomes = ExchangeMany(queries, {SERVER_ADDRESS, 3000, 64});
  for (std::size_t i = 0; i < outcomes.size(); ++i) ASSERT_EQ(outcomes[i].Failure, ExchangeFailure::None) << i;

  std::map<std::uint16_t, std::vector<std::uint16_t>> idsByPort;
  for (const Query& query : Server().Queries()) idsByPort[query.SourcePort].push_back(query.Id());
  EXPECT_GE(idsByPort.size(), 5u);
  for (const auto& [port, ids] : idsByPort) {
    EXPECT_LE(ids.size(), 100u) << "port " << port;
    EXPECT_EQ(std::set<std::uint16_t>(ids.begin(), ids.end()).size(), ids.size()) << "an ID twice on port " << port;
  }
  std::printf("[ measure  ] 450 questions left from %zu ports\n", idsByPort.size());
}

// A server that folds case and takes no TCP (the scripted server has none):
// the folded echo sends the question to TCP, refused, then over UDP as the
// caller spelt it, and that folded echo is the answer, long before the
// time-out. Only the first echo, of a name sent in random case, is refused.
TEST_F(EngineTest, CaseFoldingServerWithoutTcpAnswersThroughUdpInTheCallersSpelling) {
  Server().Reset([](const Query& query) {
    vbDNS::Packet folded = Reply(query, {A(GENUINE)});
    for (std::size_t i = vbDNS::HEADER_SIZE; i < folded.size() && folded[i] != 0; ++i) {
      if (folded[i] >= 'A' && folded[i] <= 'Z') folded[i] |= 0x20;
    }
    return std::vector<Send>{{folded}};
  });
  const vbDNS::DNSQuery query = Question("MixedCaseName.Vavizav.Test");
  const Stopwatch clock;
  const std::vector<ExchangeOutcome> outcomes = ExchangeMany(std::span(&query, 1), {SERVER_ADDRESS, 3000, 1});
  ASSERT_EQ(outcomes[0].Failure, ExchangeFailure::None);
  EXPECT_EQ(LastAddress(*outcomes[0].Reply), GENUINE);
  EXPECT_EQ(ReplyName(*outcomes[0].Reply, query.Question.QName.size()), std::string(query.Question.QName.view()));
  EXPECT_LT(clock.ElapsedMs(), 1000.0);
  const std::vector<Query> queries = Server().Queries();
  ASSERT_EQ(queries.size(), 2u);
  EXPECT_EQ(queries[1].Name(), "MixedCaseName.Vavizav.Test");
  // A name without letters cannot be checked so, and needs no TCP.
  Server().Reset(AnswerByName());
  const vbDNS::DNSQuery digits = Question("1.2.3");
  EXPECT_EQ(ExchangeMany(std::span(&digits, 1), {SERVER_ADDRESS, 3000, 1})[0].Failure, ExchangeFailure::None);
}

TEST_F(EngineTest, QuestionlessReplyCountsOnlyWithoutAnswers) {
  const auto questionless = [](std::uint8_t answers) {
    return [answers](const Query& query) {
      // Header only: ID, QR RD, RA SERVFAIL, no question, `answers` in ANCount.
      vbDNS::Packet reply = {query.Bytes[0], query.Bytes[1], packets::REPLY_FLAGS1,
                             packets::ReplyFlags2(packets::RCODE_SERVFAIL), 0, 0, 0, answers, 0, 0, 0, 0};
      return std::vector<Send>{{reply}};
    };
  };
  const vbDNS::DNSQuery query = Question("host.test");
  Server().Reset(questionless(0));
  std::vector<ExchangeOutcome> outcomes = ExchangeMany(std::span(&query, 1), {SERVER_ADDRESS, 400, 1});
  ASSERT_EQ(outcomes[0].Failure, ExchangeFailure::None);
  EXPECT_EQ(outcomes[0].Reply->size(), vbDNS::HEADER_SIZE);
  Server().Reset(questionless(1));
  outcomes = ExchangeMany(std::span(&query, 1), {SERVER_ADDRESS, 400, 1});
  EXPECT_EQ(outcomes[0].Failure, ExchangeFailure::TimedOut);
}

TEST_F(EngineTest, FailuresHaveTheirReasons) {
  const vbDNS::DNSQuery query = Question("host.test");
  EXPECT_EQ(ExchangeMany(std::span(&query, 1), {L" ;, ", 400, 1})[0].Failure, ExchangeFailure::NoUsableServer);
  EXPECT_EQ(ExchangeMany(std::span(&query, 1), {L"127.0.0.1:0", 400, 1})[0].Failure, ExchangeFailure::NoUsableServer);
  EXPECT_TRUE(ExchangeMany({}, {SERVER_ADDRESS, 400, 1}).empty());
  // From the server with the ID, but cut inside the question.
  Server().Reset([](const Query& q) {
    vbDNS::Packet cut = Reply(q, {});
    cut.resize(vbDNS::HEADER_SIZE + 3);
    return std::vector<Send>{{cut}};
  });
  const std::vector<ExchangeOutcome> outcomes = ExchangeMany(std::span(&query, 1), {SERVER_ADDRESS, 300, 1});
  EXPECT_EQ(outcomes[0].Failure, ExchangeFailure::Malformed);
  EXPECT_FALSE(outcomes[0].Reply);
  // Window values outside 1..1024 are brought inside.
  Server().Reset(AnswerByName());
  const std::vector<vbDNS::DNSQuery> two = {Question("n1.test"), Question("n2.test")};
  for (const unsigned window : {0u, 5000u}) {
    const std::vector<ExchangeOutcome> both = ExchangeMany(two, {SERVER_ADDRESS, 1000, window});
    EXPECT_EQ(both[0].Failure, ExchangeFailure::None) << window;
    EXPECT_EQ(both[1].Failure, ExchangeFailure::None) << window;
  }
}

}  // namespace
}  // namespace vavizav::testing
