// The exchange's core on a fake clock and network: the schedule, resends,
// time-outs, rotation and ranking of servers, the 0x20 fallbacks,
// truncation, floods, and a full window of replies read late.
#include <gtest/gtest.h>

#include "core_harness.h"

namespace vavizav::testing {
namespace {

std::vector<std::uint64_t> SendTimes(const FakeNet& net) {
  std::vector<std::uint64_t> times;
  for (const SentDatagram& sent : net.Sent) times.push_back(sent.At);
  return times;
}

std::string Lower(std::string text) {
  for (char& c : text) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c | 0x20) : c;
  return text;
}

TEST(ExchangeCore, AnswersInOrderInTheCallersSpellingAndMixedCaseOnTheWire) {
  exchange::ServerMemory memory;
  CoreRun run({Ask("Host.Example"), Ask("other.example"), Ask("HOST.EXAMPLE")}, {Answers()}, 2000, 64, memory);
  const std::vector<exchange::ExchangeOutcome> outcomes = run.Run();
  ASSERT_EQ(outcomes.size(), 3u);
  ASSERT_EQ(run.Net.Sent.size(), 2u);  // the same question in other letters goes out once
  for (const exchange::ExchangeOutcome& outcome : outcomes) {
    ASSERT_EQ(outcome.Failure, exchange::ExchangeFailure::None);
    EXPECT_EQ(outcome.Server, L"192.0.2.1");
  }
  const auto name = [](const exchange::ExchangeOutcome& o) {
    return std::string(o.Reply->begin() + 12, o.Reply->begin() + 26);
  };
  EXPECT_EQ(name(outcomes[0]), std::string("\4Host\7Example\0", 14));
  EXPECT_EQ(name(outcomes[2]), std::string("\4HOST\7EXAMPLE\0", 14));
  EXPECT_EQ(Lower(run.Net.Sent[0].Name()), std::string("\4host\7example\0", 14));
}

TEST(ExchangeCore, SilentServerGetsTheScheduledSendsAndTimesOutAtTheDeadline) {
  exchange::ServerMemory memory;
  CoreRun run({Ask("a.example")}, {Silent()}, 800, 1, memory);
  const std::vector<exchange::ExchangeOutcome> outcomes = run.Run();
  EXPECT_EQ(outcomes[0].Failure, exchange::ExchangeFailure::TimedOut);
  EXPECT_EQ(SendTimes(run.Net), (std::vector<std::uint64_t>{0, 200, 600}));
  EXPECT_EQ(run.Now(), 800u);
  // Every send its own ID; resends never from the first send's socket.
  EXPECT_NE(run.Net.Sent[0].Socket, run.Net.Sent[1].Socket);
  EXPECT_NE(run.Net.Sent[0].Socket, run.Net.Sent[2].Socket);
  EXPECT_NE(run.Net.Sent[1].Id(), run.Net.Sent[2].Id());
  EXPECT_EQ(run.Net.OpenSocketCount(), 0u);
}

TEST(ExchangeCore, SendsGoRoundTheListAndTheSecondServerAnswers) {
  exchange::ServerMemory memory;
  CoreRun run({Ask("a.example")}, {Silent(), Answers(3)}, 2000, 1, memory);
  const std::vector<exchange::ExchangeOutcome> outcomes = run.Run();
  ASSERT_EQ(outcomes[0].Failure, exchange::ExchangeFailure::None);
  EXPECT_EQ(outcomes[0].Server, L"192.0.2.2");
  ASSERT_EQ(run.Net.Sent.size(), 2u);
  EXPECT_EQ(run.Net.Sent[0].Server, 0u);
  EXPECT_EQ(run.Net.Sent[1].Server, 1u);
  EXPECT_EQ(run.Net.Sent[1].At, 500u);
}

TEST(ExchangeCore, RepliesCountOnlyFromTheServerWithTheIdOnTheSocket) {
  exchange::ServerMemory memory;
  CoreRun run({Ask("a.example")}, {Answers(1)}, 400, 1, memory);
  run.Core().Advance(0);
  const SentDatagram sent = run.Net.Sent.at(0);
  SentDatagram otherId = sent;
  otherId.Octets[1] ^= 1;
  run.Core().OnDatagram(1, sent.Socket, exchange::FROM_ELSEWHERE, AnswerTo(sent));  // another address
  run.Core().OnDatagram(1, sent.Socket + 7, 0, AnswerTo(sent));                      // another socket
  run.Core().OnDatagram(1, sent.Socket, 0, AnswerTo(otherId));                       // another ID
  run.Core().OnDatagram(1, sent.Socket, 0, AnswerTo(sent, vbDNS::FLAG_RD));          // not a reply (QR clear)
  EXPECT_FALSE(run.Core().Finished());
  run.Core().OnDatagram(2, sent.Socket, 0, AnswerTo(sent));
  EXPECT_TRUE(run.Core().Finished());
}

TEST(ExchangeCore, ACutShortReplyMakesTheTimeOutMalformed) {
  exchange::ServerMemory memory;
  CoreRun run({Ask("a.example")}, {[](const SentDatagram& sent) {
                vbDNS::Packet cut = AnswerTo(sent);
                cut.resize(vbDNS::HEADER_SIZE + 3);
                return std::vector<ServerReply>{{cut, 1}};
              }},
              400, 1, memory);
  EXPECT_EQ(run.Run()[0].Failure, exchange::ExchangeFailure::Malformed);
}

TEST(ExchangeCore, AQuestionlessReplyCountsOnlyWithoutAnswers) {
  exchange::ServerMemory memory;
  const auto questionless = [](std::uint16_t answers) {
    return [answers](const SentDatagram& sent) {
      vbDNS::Packet reply = Join({U16(sent.Id()), {REPLY_FLAGS1, ReplyFlags2(RCODE_SERVFAIL)}, U16(0), U16(answers),
                                  U16(0), U16(0)});
      return std::vector<ServerReply>{{reply, 1}};
    };
  };
  CoreRun empty({Ask("a.example")}, {questionless(0)}, 400, 1, memory);
  EXPECT_EQ(empty.Run()[0].Failure, exchange::ExchangeFailure::None);
  CoreRun forged({Ask("a.example")}, {questionless(1)}, 400, 1, memory);
  EXPECT_EQ(forged.Run()[0].Failure, exchange::ExchangeFailure::TimedOut);
}

TEST(ExchangeCore, PortUnreachableSendsTheNextAtOnce) {
  exchange::ServerMemory memory;
  CoreRun run({Ask("a.example")}, {Silent(), Answers(1)}, 2000, 1, memory);
  run.Core().Advance(0);
  run.Core().OnUnreachable(5, run.Net.Sent.at(0).Socket);
  run.Jump(5);
  const std::vector<exchange::ExchangeOutcome> outcomes = run.Run();
  ASSERT_EQ(outcomes[0].Failure, exchange::ExchangeFailure::None);
  EXPECT_EQ(run.Net.Sent.at(1).At, 5u);
}

TEST(ExchangeCore, TruncatedReplyAsksOverTcpAndKeepsTheCutReplyWhenTcpFails) {
  exchange::ServerMemory memory;
  const ServerScript cut = [](const SentDatagram& sent) {
    return std::vector<ServerReply>{{AnswerTo(sent, REPLY_FLAGS1 | vbDNS::FLAG_TC), 1}};
  };
  CoreRun refused({Ask("Long.Example")}, {cut}, 1000, 1, memory);
  refused.Net.RefuseStreams = true;
  std::vector<exchange::ExchangeOutcome> outcomes = refused.Run();
  ASSERT_EQ(outcomes[0].Failure, exchange::ExchangeFailure::TruncatedTcpFailed);
  ASSERT_EQ(refused.Net.Streams.size(), 1u);
  EXPECT_TRUE(outcomes[0].Reply);

  // The stream's answer replaces the cut reply; it is asked in the caller's spelling.
  CoreRun streamed({Ask("Long.Example")}, {cut}, 1000, 1, memory);
  streamed.Core().Advance(0);
  streamed.Deliver();
  streamed.Jump(1);
  streamed.Deliver();
  ASSERT_EQ(streamed.Net.Streams.size(), 1u);
  const vbDNS::Packet& query = streamed.Net.Streams[0].Octets;
  EXPECT_EQ(std::string(query.begin() + 14, query.end() - 4), std::string("\4Long\7Example\0", 14));
  SentDatagram asked{0, 0, vbDNS::Packet(query.begin() + 2, query.end()), 1};
  const vbDNS::Packet whole = AnswerTo(asked, REPLY_FLAGS1, 3);
  const vbDNS::Packet framed = Join({U16(static_cast<std::uint16_t>(whole.size())), whole});
  // In two pieces, the length split.
  streamed.Core().OnStreamData(3, streamed.Net.Streams[0].Id, vbDNS::PacketView(framed).first(1));
  streamed.Core().OnStreamData(4, streamed.Net.Streams[0].Id, vbDNS::PacketView(framed).subspan(1));
  ASSERT_TRUE(streamed.Core().Finished());
  outcomes = streamed.Core().TakeOutcomes();
  ASSERT_EQ(outcomes[0].Failure, exchange::ExchangeFailure::None);
  EXPECT_EQ(*outcomes[0].Reply, whole);
  EXPECT_TRUE(streamed.Net.Streams[0].Closed);
}

// A server that folds case and takes no TCP: answered after the detour, and
// remembered, so the next question goes in the caller's spelling at once.
TEST(ExchangeCore, CaseFoldingServerWithoutTcpStillAnswersAndIsRemembered) {
  exchange::ServerMemory memory;
  CoreRun first({Ask("MiXed.Example")}, {FoldsCase()}, 2000, 1, memory);
  first.Net.RefuseStreams = true;
  std::vector<exchange::ExchangeOutcome> outcomes = first.Run();
  ASSERT_EQ(outcomes[0].Failure, exchange::ExchangeFailure::None);
  EXPECT_EQ(first.Net.Streams.size(), 1u);
  ASSERT_EQ(first.Net.Sent.size(), 2u);
  EXPECT_EQ(first.Net.Sent[1].Name(), std::string("\5MiXed\7Example\0", 15));  // as the caller spelt it
  EXPECT_LT(first.Now(), 10u);
  // The question as the caller spelt it, though the server folded it.
  EXPECT_EQ(std::string(outcomes[0].Reply->begin() + 12, outcomes[0].Reply->begin() + 27),
            std::string("\5MiXed\7Example\0", 15));
  ASSERT_TRUE(memory.Find(L"192.0.2.1"));
  EXPECT_TRUE(memory.Find(L"192.0.2.1")->FoldsCase);

  CoreRun later({Ask("Other.Example")}, {FoldsCase()}, 2000, 1, memory);
  outcomes = later.Run();
  ASSERT_EQ(outcomes[0].Failure, exchange::ExchangeFailure::None);
  EXPECT_TRUE(later.Net.Streams.empty());
  ASSERT_EQ(later.Net.Sent.size(), 1u);
  EXPECT_EQ(later.Net.Sent[0].Name(), std::string("\5Other\7Example\0", 15));
}

// TCP that connects but never answers has half the time left; then UDP in
// the caller's spelling.
TEST(ExchangeCore, SilentTcpGivesWayToUdpInTheCallersSpellingWithinItsShare) {
  exchange::ServerMemory memory;
  CoreRun run({Ask("MiXed.Example")}, {FoldsCase()}, 2000, 1, memory);
  const std::vector<exchange::ExchangeOutcome> outcomes = run.Run();
  ASSERT_EQ(outcomes[0].Failure, exchange::ExchangeFailure::None);
  ASSERT_EQ(run.Net.Streams.size(), 1u);
  EXPECT_TRUE(run.Net.Streams[0].Closed);
  ASSERT_EQ(run.Net.Sent.size(), 2u);
  EXPECT_GE(run.Net.Sent[1].At, 900u);
  EXPECT_LE(run.Net.Sent[1].At, 1001u);
}

TEST(ExchangeCore, AFoldedEchoFromAServerThatKeepsCaseElsewhereIsNeverTakenOverUdp) {
  // A forger that folds: the question goes to TCP; the TCP answer is the one taken.
  exchange::ServerMemory memory;
  CoreRun run({Ask("MiXed.Example")}, {FoldsCase()}, 2000, 1, memory);
  run.Core().Advance(0);
  run.Deliver();
  run.Jump(1);
  run.Deliver();
  ASSERT_EQ(run.Net.Streams.size(), 1u);
  EXPECT_FALSE(run.Core().Finished());
}

TEST(ExchangeCore, DeadFirstServerCostsOneFirstIntervalForABatchAndNothingForTheNext) {
  exchange::ServerMemory memory;
  CoreRun first(Names(5000), {Silent(), Answers(1)}, 10000, 1024, memory);
  std::vector<exchange::ExchangeOutcome> outcomes = first.Run();
  for (const exchange::ExchangeOutcome& outcome : outcomes) ASSERT_EQ(outcome.Failure, exchange::ExchangeFailure::None);
  EXPECT_LE(first.Now(), 1000u + 50u);

  exchange::ServerMemory fresh;
  CoreRun live(Names(5000), {Answers(1)}, 10000, 1024, fresh);
  live.Run();
  const std::uint64_t liveTime = live.Now();

  CoreRun second(Names(5000, ".second.example"), {Silent(), Answers(1)}, 10000, 1024, memory, 100000);
  outcomes = second.Run(200000);
  for (const exchange::ExchangeOutcome& outcome : outcomes) ASSERT_EQ(outcome.Failure, exchange::ExchangeFailure::None);
  EXPECT_LE(second.Now() - 100000, liveTime * 12 / 10 + 1);
  std::size_t toDead = 0;
  for (const SentDatagram& sent : second.Net.Sent) toDead += sent.Server == 0 ? 1 : 0;
  EXPECT_LE(toDead, 2u);  // probes only
}

TEST(ExchangeCore, LookupsInARowWithADeadFirstServerPayOnce) {
  exchange::ServerMemory memory;
  std::uint64_t now = 0;
  for (int i = 0; i < 200; ++i) {
    CoreRun lookup({Ask("host" + std::to_string(i) + ".example")}, {Silent(), Answers(1)}, 2000, 1, memory, now);
    ASSERT_EQ(lookup.Run(now + 10000)[0].Failure, exchange::ExchangeFailure::None);
    now = lookup.Now() + 1;
  }
  EXPECT_LE(now, 500u + 200u * 3u);
}

TEST(ExchangeCore, AProbeAnsweredBringsAServerBack) {
  exchange::ServerMemory memory;
  bool deadAnswers = false;
  const ServerScript dead = [&](const SentDatagram& sent) {
    return deadAnswers ? std::vector<ServerReply>{{AnswerTo(sent), 0}} : std::vector<ServerReply>{};
  };
  CoreRun first({Ask("a.example")}, {dead, Answers(5)}, 2000, 1, memory);
  first.Run();
  EXPECT_GT(memory.Find(L"192.0.2.1")->Unanswered, 0u);
  deadAnswers = true;
  CoreRun probed({Ask("b.example")}, {dead, Answers(5)}, 2000, 1, memory, 5000);
  ASSERT_EQ(probed.Run(10000)[0].Server, L"192.0.2.1");  // the probe answered first
  ASSERT_EQ(probed.Net.Sent.size(), 2u);
  EXPECT_EQ(probed.Net.Sent[0].Server, 1u);
  EXPECT_EQ(memory.Find(L"192.0.2.1")->Unanswered, 0u);
  CoreRun back({Ask("c.example")}, {dead, Answers(5)}, 2000, 1, memory, 5100);
  back.Run(10000);
  EXPECT_EQ(back.Net.Sent.at(0).Server, 0u);
}

// A miss of the first server's own (a reply later than the resend) never
// puts it behind a server that was never heard; behind one that answered
// since, it goes.
TEST(ExchangeCore, AMissPutsAServerBehindOnlyOneThatAnsweredSince) {
  const auto firstSendGoesTo = [](exchange::ServerMemory& memory) {
    CoreRun run({Ask("a.example")}, {Answers(1), Answers(1)}, 2000, 1, memory, 100);
    run.Run(10000);
    return run.Net.Sent.at(0).Server;
  };
  exchange::ServerMemory unheard;
  unheard.For(L"192.0.2.1")->Unanswered = 1;
  unheard.For(L"192.0.2.1")->LastAnswer = 5;
  unheard.For(L"192.0.2.2")->Unanswered = 3;
  EXPECT_EQ(firstSendGoesTo(unheard), 0u);

  exchange::ServerMemory answeredSince;
  answeredSince.For(L"192.0.2.1")->Unanswered = 1;
  answeredSince.For(L"192.0.2.1")->LastAnswer = 5;
  answeredSince.For(L"192.0.2.2")->LastAnswer = 10;
  EXPECT_EQ(firstSendGoesTo(answeredSince), 1u);
}

TEST(ExchangeCore, QuestionsWaitingOnAServerKnownSilentMoveOnAtOnce) {
  exchange::ServerMemory memory;
  // Known: the second answers. The first is not yet known silent.
  memory.For(L"192.0.2.2")->LastAnswer = 0;
  CoreRun run(Names(3), {Silent(), Answers(1)}, 10000, 3, memory);
  // All three go to the first; when the first's interval ends for one, the
  // others do not wait for theirs.
  run.Core().Advance(0);
  ASSERT_EQ(run.Net.Sent.size(), 3u);
  const std::vector<exchange::ExchangeOutcome> outcomes = run.Run();
  for (const exchange::ExchangeOutcome& outcome : outcomes) EXPECT_EQ(outcome.Failure, exchange::ExchangeFailure::None);
  EXPECT_LE(run.Now(), 1002u);
}

// Issue: 1,100 names answered at once, window 1024, time-out 300: replies
// read late must still count, and no resend may leave past the time-out.
TEST(ExchangeCore, AFullWindowOfRepliesReadLateAllCountAndNoSendPassesTheDeadline) {
  exchange::ServerMemory memory;
  CoreRun run(Names(1100), {Answers(0)}, 300, 1024, memory);
  // The first turn sends at most SENDS_PER_TURN; the shell then spends 250 ms
  // sending the rest while every reply waits in the socket queues.
  run.Core().Advance(0);
  EXPECT_EQ(run.Net.Sent.size(), exchange::SENDS_PER_TURN);
  for (std::uint64_t t = 1; run.Net.Sent.size() < 1024; ++t) {
    run.Jump(t * 15);
    run.Core().Advance(run.Now());
  }
  run.Jump(250);
  const std::vector<exchange::ExchangeOutcome> outcomes = run.Run();
  for (std::size_t i = 0; i < outcomes.size(); ++i) {
    ASSERT_EQ(outcomes[i].Failure, exchange::ExchangeFailure::None) << i;
  }
  // Each question's sends before its own deadline (the first window's from the call).
  for (const SentDatagram& sent : run.Net.Sent) EXPECT_LT(sent.At, 250u + 300u);
  EXPECT_EQ(run.Net.OpenSocketCount(), 0u);
}

TEST(ExchangeCore, AFloodedSocketTakesNoNewQueries) {
  exchange::ServerMemory memory;
  CoreRun run(Names(2), {Silent()}, 1000, 1, memory);
  run.Core().Advance(0);
  const SentDatagram first = run.Net.Sent.at(0);
  SentDatagram stranger = first;
  for (unsigned i = 0; i < exchange::STRAYS_BEFORE_RETIRING; ++i) {
    stranger.Octets[0] = static_cast<std::uint8_t>(first.Octets[0] ^ 0x80);
    stranger.Octets[1] = static_cast<std::uint8_t>(i);
    run.Core().OnDatagram(1, first.Socket, 0, AnswerTo(stranger));
  }
  run.Core().OnDatagram(2, first.Socket, 0, AnswerTo(first));  // the genuine reply still counts
  run.Jump(2);
  run.Core().Advance(2);
  ASSERT_EQ(run.Net.Sent.size(), 2u);
  EXPECT_NE(run.Net.Sent[1].Socket, first.Socket);
}

// Resends share a socket of their own pool; after strays on the socket of
// the earlier send (a flood), each resend leaves from a socket of its own.
TEST(ExchangeCore, ResendsShareASocketUnlessTheEarlierOneTookStrays) {
  for (const bool flooded : {false, true}) {
    exchange::ServerMemory memory;
    CoreRun run(Names(2), {Silent()}, 1000, 2, memory);
    run.Core().Advance(0);
    ASSERT_EQ(run.Net.Sent.size(), 2u);
    if (flooded) {
      SentDatagram stranger = run.Net.Sent[0];
      stranger.Octets[0] ^= 0x80;
      run.Core().OnDatagram(1, stranger.Socket, 0, AnswerTo(stranger));
    }
    run.Jump(250);
    run.Core().Advance(250);
    ASSERT_EQ(run.Net.Sent.size(), 4u);
    EXPECT_NE(run.Net.Sent[2].Socket, run.Net.Sent[0].Socket);
    EXPECT_EQ(run.Net.Sent[2].Socket == run.Net.Sent[3].Socket, !flooded);
  }
}

TEST(ExchangeCore, SocketsCarryAtMostAHundredQueriesWithDistinctIds) {
  exchange::ServerMemory memory;
  CoreRun run(Names(350), {Answers(1)}, 2000, 1024, memory);
  run.Run();
  std::map<std::uint32_t, std::set<std::uint16_t>> ids;
  for (const SentDatagram& sent : run.Net.Sent) ids[sent.Socket].insert(sent.Id());
  EXPECT_EQ(ids.size(), 4u);
  for (const auto& [socket, set] : ids) EXPECT_LE(set.size(), exchange::QUERIES_PER_SOCKET);
  EXPECT_EQ(run.Net.OpenSocketCount(), 0u);
}

TEST(ExchangeCore, NoServerAndNothingSent) {
  exchange::ServerMemory memory;
  CoreRun none({Ask("a.example")}, {}, 400, 1, memory);
  EXPECT_EQ(none.Run()[0].Failure, exchange::ExchangeFailure::NoUsableServer);
  CoreRun refused({Ask("a.example")}, {Silent()}, 400, 1, memory);
  refused.Net.FailSends = true;
  EXPECT_EQ(refused.Run()[0].Failure, exchange::ExchangeFailure::NothingSent);
}

// Answer.Transport and Answer.Elapsed: how the reply that stands came, and
// the time from the question's first send to it.
TEST(ExchangeCore, TheOutcomeSaysHowAndWhenItsReplyCame) {
  exchange::ServerMemory memory;
  CoreRun second({Ask("a.example")}, {Silent(), Answers(3)}, 2000, 1, memory);
  std::vector<exchange::ExchangeOutcome> outcomes = second.Run();
  ASSERT_EQ(outcomes[0].Failure, exchange::ExchangeFailure::None);
  EXPECT_EQ(outcomes[0].Transport, exchange::ReplyTransport::Udp);
  EXPECT_EQ(outcomes[0].ElapsedMs, 503u);  // sent at 0, again at 500, answered 3 ms later

  const ServerScript cut = [](const SentDatagram& sent) {
    return std::vector<ServerReply>{{AnswerTo(sent, REPLY_FLAGS1 | vbDNS::FLAG_TC), 1}};
  };
  CoreRun refused({Ask("long.example")}, {cut}, 1000, 1, memory);
  refused.Net.RefuseStreams = true;
  outcomes = refused.Run();
  ASSERT_EQ(outcomes[0].Failure, exchange::ExchangeFailure::TruncatedTcpFailed);
  EXPECT_EQ(outcomes[0].Transport, exchange::ReplyTransport::Udp);  // the cut reply kept
  EXPECT_EQ(outcomes[0].ElapsedMs, 1u);

  CoreRun streamed({Ask("long.example")}, {cut}, 1000, 1, memory);
  streamed.Core().Advance(0);
  streamed.Deliver();
  streamed.Jump(1);
  streamed.Deliver();
  ASSERT_EQ(streamed.Net.Streams.size(), 1u);
  const vbDNS::Packet& query = streamed.Net.Streams[0].Octets;
  SentDatagram asked{0, 0, vbDNS::Packet(query.begin() + 2, query.end()), 1};
  const vbDNS::Packet whole = AnswerTo(asked, REPLY_FLAGS1, 3);
  const vbDNS::Packet framed = Join({U16(static_cast<std::uint16_t>(whole.size())), whole});
  streamed.Core().OnStreamData(9, streamed.Net.Streams[0].Id, framed);
  ASSERT_TRUE(streamed.Core().Finished());
  outcomes = streamed.Core().TakeOutcomes();
  ASSERT_EQ(outcomes[0].Failure, exchange::ExchangeFailure::None);
  EXPECT_EQ(outcomes[0].Transport, exchange::ReplyTransport::Tcp);
  EXPECT_EQ(outcomes[0].ElapsedMs, 9u);

  CoreRun silent({Ask("a.example")}, {Silent()}, 300, 1, memory);
  outcomes = silent.Run();
  ASSERT_EQ(outcomes[0].Failure, exchange::ExchangeFailure::TimedOut);
  EXPECT_EQ(outcomes[0].Transport, exchange::ReplyTransport::None);
  EXPECT_EQ(outcomes[0].ElapsedMs, 0u);
}

// A batch on another thread learns into a copy; what it learnt of the
// servers it asked comes back, and only that.
TEST(ServerMemory, CopyLearnsApartAndMergesBackWhatItAsked) {
  exchange::ServerMemory memory;
  memory.For(L"192.0.2.1")->SmoothedRttMs = 10;
  memory.For(L"192.0.2.2")->Unanswered = 1;
  exchange::ServerMemory copy = memory.Copy();
  copy.For(L"192.0.2.1")->Unanswered = 3;  // asked by the batch
  copy.For(L"192.0.2.3")->NoEdns = true;   // new to it
  EXPECT_EQ(memory.Find(L"192.0.2.1")->Unanswered, 0u) << "the copy's states are its own";
  memory.For(L"192.0.2.2")->Unanswered = 5;  // learnt meanwhile by the object's own calls
  memory.Merge(copy);
  EXPECT_EQ(memory.Find(L"192.0.2.1")->Unanswered, 3u);
  EXPECT_EQ(memory.Find(L"192.0.2.1")->SmoothedRttMs, std::optional<std::uint64_t>(10));
  EXPECT_EQ(memory.Find(L"192.0.2.2")->Unanswered, 5u) << "not asked by the batch: not overwritten";
  ASSERT_NE(memory.Find(L"192.0.2.3"), nullptr);
  EXPECT_TRUE(memory.Find(L"192.0.2.3")->NoEdns);
}

}  // namespace
}  // namespace vavizav::testing
