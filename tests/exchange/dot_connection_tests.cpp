// One kept DNS over TLS connection with many questions on it, against the
// real servers: all answered, by ID, in the order the servers answer; the
// questions asked during the handshake sent once the certificate passed and
// never when it fails; a server that closes mid-batch or refuses the
// connection leaves its questions waiting, for the core to take elsewhere.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>

#include "exchange/dot_connection.h"
#include "exchange/dot_pool.h"
#include "exchange/engine.h"
#include "exchange/server_list.h"
#include "runtime/handles.h"
#include "runtime/random.h"
#include "runtime/winsock_startup.h"
#include "test_addresses.h"

namespace vavizav::testing {
namespace {

using exchange::DotConnection;
using exchange::DotState;
using exchange::StreamMux;

constexpr std::uint16_t TYPE_SOA = 6;

bool Random(std::span<std::uint8_t> octets) { return runtime::RandomFill(octets); }

exchange::ServerEndpoint Tls(const std::wstring& entry) {
  std::optional<exchange::ServerEndpoint> server = exchange::ResolveServer(entry);
  EXPECT_TRUE(server && server->Transport == exchange::ServerTransport::Tls);
  return server.value_or(exchange::ServerEndpoint{});
}

// Runs the connection until `tickets` replies came, it stopped, or 5 s
// passed; the replies by ticket, in the order they came.
struct Replies {
  std::vector<std::uint32_t> Order;
  std::map<std::uint32_t, vbDNS::Packet> ByTicket;
};
Replies Drive(DotConnection& connection, HANDLE event, std::size_t tickets) {
  Replies run;
  const ULONGLONG until = ::GetTickCount64() + 5000;
  while (run.Order.size() < tickets && connection.State() != DotState::Ended &&
         connection.State() != DotState::Untrusted && ::GetTickCount64() < until) {
    ::WaitForSingleObject(event, 100);
    for (StreamMux::Reply& reply : connection.Service()) {
      run.Order.push_back(reply.Ticket);
      run.ByTicket[reply.Ticket] = std::move(reply.Message);
    }
  }
  return run;
}

class DotConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(runtime::EnsureWinsock());
    event_.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  }
  runtime::unique_handle event_;
  exchange::RandomPool random_{Random};
};

// Asked before the connection stands: forty questions, the first a slow
// one, on one connection to each server; each reply to its own ticket, the
// slow one not first.
TEST_F(DotConnectionTest, AnswersManyQuestionsOnOneConnectionByIdInAnyOrder) {
  for (const std::wstring address : {VAVIZAV_DNSDIST_ADDRESS, VAVIZAV_UNBOUND_TLS_ADDRESS}) {
    SCOPED_TRACE(std::string(address.begin(), address.end()));
    DotConnection connection(Tls(L"tls://" + address + L"#dot.test"));
    ASSERT_TRUE(connection.Open(event_.get()));
    std::map<std::uint32_t, std::uint16_t> ids;
    const bool slow = address == VAVIZAV_DNSDIST_ADDRESS;
    if (slow) ids[0] = connection.Ask(0, *vbDNS::BuildQuestion(vbDNS::TYPE_A, "a.slow.test"), random_).value();
    for (std::uint32_t ticket = 1; ticket < 40; ++ticket) {
      ids[ticket] = connection.Ask(ticket, *vbDNS::BuildQuestion(TYPE_SOA, "vavizav.test"), random_).value();
    }
    const Replies run = Drive(connection, event_.get(), ids.size());
    ASSERT_EQ(run.ByTicket.size(), ids.size()) << static_cast<int>(connection.State());
    EXPECT_EQ(connection.State(), DotState::Open);
    for (const auto& [ticket, reply] : run.ByTicket) {
      EXPECT_EQ((reply[0] << 8 | reply[1]), ids[ticket]) << ticket;
    }
    // Asked first, answered after others: taken by its ID all the same.
    if (slow) {
      EXPECT_NE(run.Order.front(), 0u) << "the slow question's reply came first";
    }
    // Kept: a question asked now goes on the same connection.
    const std::uint16_t later = connection.Ask(99, *vbDNS::BuildQuestion(TYPE_SOA, "vavizav.test"), random_).value();
    const Replies again = Drive(connection, event_.get(), 1);
    ASSERT_EQ(again.ByTicket.count(99), 1u);
    EXPECT_EQ((again.ByTicket.at(99)[0] << 8 | again.ByTicket.at(99)[1]), later);
    connection.Close();
    EXPECT_EQ(connection.State(), DotState::Ended);
  }
}

// The certificate fails: the questions asked meanwhile never go out and
// stay waiting; the verdict says why.
TEST_F(DotConnectionTest, SendsNothingToAServerWhoseCertificateFails) {
  const struct {
    const wchar_t* Entry;
    exchange::CertificateVerdict Verdict;
  } cases[] = {
      {L"tls://" VAVIZAV_DNSDIST_ADDRESS L":854#dot.test", exchange::CertificateVerdict::WrongName},
      {L"tls://" VAVIZAV_DNSDIST_ADDRESS L":855#dot.test", exchange::CertificateVerdict::Expired},
      {L"tls://" VAVIZAV_DNSDIST_ADDRESS L":856#dot.test", exchange::CertificateVerdict::UntrustedRoot},
      {L"tls://" VAVIZAV_UNBOUND_TLS_ADDRESS L"#other.test", exchange::CertificateVerdict::WrongName},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Entry, c.Entry + wcslen(c.Entry)));
    DotConnection connection(Tls(c.Entry));
    ASSERT_TRUE(connection.Open(event_.get()));
    ASSERT_TRUE(connection.Ask(1, *vbDNS::BuildQuestion(TYPE_SOA, "vavizav.test"), random_));
    const Replies run = Drive(connection, event_.get(), 1);
    EXPECT_TRUE(run.ByTicket.empty());
    EXPECT_EQ(connection.State(), DotState::Untrusted);
    EXPECT_EQ(connection.Check().Verdict, c.Verdict);
    EXPECT_EQ(connection.Waiting(), (std::vector<std::uint32_t>{1}));
    EXPECT_FALSE(connection.Ask(2, *vbDNS::BuildQuestion(TYPE_SOA, "vavizav.test"), random_));
  }
}

// dnsdist drops the connection at a question under closes.test: what was
// answered before stays answered, the rest waits for another way.
TEST_F(DotConnectionTest, AServerClosingMidBatchLeavesTheRestWaiting) {
  DotConnection connection(Tls(L"tls://" VAVIZAV_DNSDIST_ADDRESS L"#dot.test"));
  ASSERT_TRUE(connection.Open(event_.get()));
  connection.Ask(1, *vbDNS::BuildQuestion(TYPE_SOA, "vavizav.test"), random_);
  ASSERT_EQ(Drive(connection, event_.get(), 1).ByTicket.size(), 1u);
  connection.Ask(2, *vbDNS::BuildQuestion(vbDNS::TYPE_A, "a.slow.test"), random_);
  connection.Ask(3, *vbDNS::BuildQuestion(vbDNS::TYPE_A, "x.closes.test"), random_);
  const Replies run = Drive(connection, event_.get(), 2);
  EXPECT_EQ(connection.State(), DotState::Ended);
  EXPECT_EQ(run.ByTicket.count(3), 0u);
  EXPECT_EQ(run.ByTicket.count(2), 0u) << "the slow reply had not come when the server closed";
  EXPECT_EQ(connection.Waiting(), (std::vector<std::uint32_t>{2, 3}));
}

TEST_F(DotConnectionTest, ARefusedConnectionEndsWithItsQuestionsWaiting) {
  DotConnection connection(Tls(L"tls://" VAVIZAV_SILENT_ADDRESS L"#dot.test"));
  if (connection.Open(event_.get())) {
    connection.Ask(5, *vbDNS::BuildQuestion(TYPE_SOA, "vavizav.test"), random_);
    Drive(connection, event_.get(), 1);
  }
  EXPECT_EQ(connection.State(), DotState::Ended);
}

}  // namespace
}  // namespace vavizav::testing

namespace vavizav::testing {
namespace {

std::vector<vbDNS::DNSQuery> SoaQuestions(std::size_t count) {
  std::vector<vbDNS::DNSQuery> queries;
  for (std::size_t i = 0; i < count; ++i) {
    queries.push_back(*vbDNS::BuildQuestion(TYPE_SOA, "n" + std::to_string(i) + ".vavizav.test"));
  }
  return queries;
}

std::vector<exchange::ExchangeOutcome> Exchange(std::wstring_view servers, std::size_t count, bool encrypted = true) {
  exchange::EngineSettings settings(servers, 3000, 64);
  settings.Encrypted = encrypted;
  settings.Pump = false;
  const std::vector<vbDNS::DNSQuery> queries = SoaQuestions(count);
  return exchange::ExchangeMany(queries, settings);
}

// The engine over DNS over TLS: a batch on one connection to each server,
// every question answered over it.
TEST(DotEngine, AnswersABatchOverOneTlsConnection) {
  for (const std::wstring server : {L"tls://" VAVIZAV_DNSDIST_ADDRESS L"#dot.test",
                                    L"tls://" VAVIZAV_UNBOUND_TLS_ADDRESS L":853#dot.test"}) {
    SCOPED_TRACE(std::string(server.begin(), server.end()));
    const std::vector<exchange::ExchangeOutcome> outcomes = Exchange(server, 200);
    ASSERT_EQ(outcomes.size(), 200u);
    for (const exchange::ExchangeOutcome& outcome : outcomes) {
      ASSERT_EQ(outcome.Failure, exchange::ExchangeFailure::None);
      EXPECT_EQ(outcome.Transport, exchange::ReplyTransport::Encrypted);
      EXPECT_EQ(outcome.Server, server.find(L":853") != std::wstring::npos
                                    ? L"tls://" VAVIZAV_UNBOUND_TLS_ADDRESS L"#dot.test"
                                    : server);
    }
  }
}

// An object's pool keeps a call's connection for the next call, which asks
// on it without a new handshake; one idle past IDLE_MS is closed, not lent.
TEST(DotEngine, AConnectionIsKeptBetweenCallsAndClosedWhenIdle) {
  const std::shared_ptr<exchange::DotPool> pool = exchange::NewConnectionPool();
  const std::wstring server = L"tls://" VAVIZAV_DNSDIST_ADDRESS L"#dot.test";
  exchange::EngineSettings settings(server, 3000, 64);
  settings.Encrypted = true;
  settings.Pump = false;
  settings.Connections = pool;
  const std::vector<vbDNS::DNSQuery> queries = SoaQuestions(20);
  for (int call = 0; call < 3; ++call) {
    for (const exchange::ExchangeOutcome& outcome : exchange::ExchangeMany(queries, settings)) {
      ASSERT_EQ(outcome.Failure, exchange::ExchangeFailure::None) << call;
    }
    EXPECT_EQ(pool->Kept(), 1u) << "one connection, kept after call " << call;
  }
  std::unique_ptr<exchange::DotConnection> kept = pool->Take(server, ::GetTickCount64());
  ASSERT_TRUE(kept);
  EXPECT_EQ(kept->State(), exchange::DotState::Open);
  pool->Give(server, std::move(kept), ::GetTickCount64());
  EXPECT_FALSE(pool->Take(server, ::GetTickCount64() + exchange::DotPool::IDLE_MS)) << "idle too long: closed";
  EXPECT_EQ(pool->Kept(), 0u);
  // Without the pool's connection, the next call opens its own again.
  for (const exchange::ExchangeOutcome& outcome : exchange::ExchangeMany(queries, settings)) {
    EXPECT_EQ(outcome.Failure, exchange::ExchangeFailure::None);
  }
}

// A certificate that fails: UNTRUSTED for every question, at once; with a
// plain server after it in the list, that one answers, as the list says.
TEST(DotEngine, AFailedCertificateIsUntrustedUnlessTheListGoesOn) {
  const ULONGLONG start = ::GetTickCount64();
  for (const exchange::ExchangeOutcome& outcome : Exchange(L"tls://" VAVIZAV_DNSDIST_ADDRESS L":855#dot.test", 20)) {
    EXPECT_EQ(outcome.Failure, exchange::ExchangeFailure::Untrusted);
  }
  EXPECT_LT(::GetTickCount64() - start, 2000u) << "not left to the time-out";
  for (const exchange::ExchangeOutcome& outcome :
       Exchange(L"tls://" VAVIZAV_DNSDIST_ADDRESS L":856#dot.test " VAVIZAV_UNBOUND_ADDRESS, 20)) {
    EXPECT_EQ(outcome.Failure, exchange::ExchangeFailure::None);
    EXPECT_EQ(outcome.Server, VAVIZAV_UNBOUND_ADDRESS);
    EXPECT_EQ(outcome.Transport, exchange::ReplyTransport::Udp);
  }
}

// 10,000 names through dnsdist over DNS over TLS (one connection) and over
// UDP to the same dnsdist and the same upstream: every one answered over
// TLS; the times printed for the notes.
TEST(DotEngine, MeasuresTenThousandNamesAgainstUdp) {
  const std::vector<vbDNS::DNSQuery> queries = SoaQuestions(10000);
  const auto timed = [&](std::wstring_view servers, std::size_t& answered) {
    exchange::EngineSettings settings(servers, 10000, 64);
    settings.Encrypted = true;
    settings.Pump = false;
    const ULONGLONG start = ::GetTickCount64();
    const std::vector<exchange::ExchangeOutcome> outcomes = exchange::ExchangeMany(queries, settings);
    const ULONGLONG elapsed = ::GetTickCount64() - start;
    answered = 0;
    for (const exchange::ExchangeOutcome& outcome : outcomes) answered += outcome.Failure == exchange::ExchangeFailure::None;
    return elapsed;
  };
  std::size_t overTls = 0, overUdp = 0;
  const ULONGLONG tls = timed(L"tls://" VAVIZAV_DNSDIST_ADDRESS L"#dot.test", overTls);
  const ULONGLONG udp = timed(VAVIZAV_DNSDIST_ADDRESS, overUdp);
  EXPECT_EQ(overTls, queries.size());
  std::printf("[ measure  ] 10000 names through dnsdist, window 64: DoT %llu ms (%zu answered), UDP %llu ms (%zu)\n", tls,
              overTls, udp, overUdp);
}

// Without the caller taking encrypted servers, a tls:// entry drops out:
// never asked in plain DNS.
TEST(DotEngine, TlsEntriesDropOutWhereEncryptionIsNotTaken) {
  for (const exchange::ExchangeOutcome& outcome : Exchange(L"tls://" VAVIZAV_DNSDIST_ADDRESS L"#dot.test", 3, false)) {
    EXPECT_EQ(outcome.Failure, exchange::ExchangeFailure::NoUsableServer);
  }
}

// dnsdist ends the connection at the question under closes.test: the other
// questions on it end unanswered or answered, none hangs past the time-out.
TEST(DotEngine, AServerClosingMidBatchEndsTheCallInTime) {
  std::vector<vbDNS::DNSQuery> queries = SoaQuestions(10);
  queries.push_back(*vbDNS::BuildQuestion(vbDNS::TYPE_A, "x.closes.test"));
  exchange::EngineSettings settings(L"tls://" VAVIZAV_DNSDIST_ADDRESS L"#dot.test", 3000, 64);
  settings.Encrypted = true;
  settings.Pump = false;
  const ULONGLONG start = ::GetTickCount64();
  const std::vector<exchange::ExchangeOutcome> outcomes = exchange::ExchangeMany(queries, settings);
  EXPECT_LT(::GetTickCount64() - start, 4000u);
  EXPECT_NE(outcomes.back().Failure, exchange::ExchangeFailure::None);
}

// The engine over DNS over HTTPS against dnsdist's DoH listener: a batch on
// one WinHTTP session, every question answered over HTTPS with the ID 0 the
// server echoes taken (the core matches the reply by its ticket and checks
// its question), named as the list named the server.
TEST(DohEngine, AnswersABatchOverHttps) {
  const std::wstring server = L"https://" VAVIZAV_DNSDIST_ADDRESS L"/dns-query#doh.test";
  const std::vector<exchange::ExchangeOutcome> outcomes = Exchange(server, 100);
  ASSERT_EQ(outcomes.size(), 100u);
  for (const exchange::ExchangeOutcome& outcome : outcomes) {
    ASSERT_EQ(outcome.Failure, exchange::ExchangeFailure::None) << ::testing::PrintToString(outcome.Problem);
    EXPECT_EQ(outcome.Transport, exchange::ReplyTransport::Https);
    EXPECT_EQ(outcome.Server, server);
    ASSERT_TRUE(outcome.Reply);
    EXPECT_EQ((*outcome.Reply)[0], 0);
    EXPECT_EQ((*outcome.Reply)[1], 0) << "ID 0 on the wire (RFC 8484 section 4.1)";
    EXPECT_TRUE(outcome.Problem.empty());
  }
}

// 1,000 names over DNS over HTTPS and over UDP to the same dnsdist: every
// one answered over HTTPS; the times printed for the notes.
TEST(DohEngine, MeasuresAThousandNamesAgainstUdp) {
  const std::vector<vbDNS::DNSQuery> queries = SoaQuestions(1000);
  const auto timed = [&](std::wstring_view servers, std::size_t& answered) {
    exchange::EngineSettings settings(servers, 10000, 64);
    settings.Encrypted = true;
    settings.Pump = false;
    const ULONGLONG start = ::GetTickCount64();
    const std::vector<exchange::ExchangeOutcome> outcomes = exchange::ExchangeMany(queries, settings);
    const ULONGLONG elapsed = ::GetTickCount64() - start;
    answered = 0;
    for (const exchange::ExchangeOutcome& outcome : outcomes) {
      answered += outcome.Failure == exchange::ExchangeFailure::None && outcome.Transport != exchange::ReplyTransport::Udp;
    }
    return elapsed;
  };
  std::size_t overHttps = 0, overUdp = 0;
  const ULONGLONG https = timed(L"https://" VAVIZAV_DNSDIST_ADDRESS L"/dns-query#doh.test", overHttps);
  const ULONGLONG udp = timed(VAVIZAV_DNSDIST_ADDRESS, overUdp);
  EXPECT_EQ(overHttps, queries.size());
  std::printf("[ measure  ] 1000 names through dnsdist, window 64: DoH %llu ms (%zu answered), UDP %llu ms\n", https,
              overHttps, udp);
}

// A certificate that fails: UNTRUSTED at once, the outcome saying which server
// and why; a plain server after it answers, as the list says. A status other
// than 200 fails the server, the outcome naming the status.
TEST(DohEngine, AFailedCertificateOrStatusEndsTheServerAndSaysWhy) {
  const ULONGLONG start = ::GetTickCount64();
  for (const exchange::ExchangeOutcome& outcome :
       Exchange(L"https://" VAVIZAV_DNSDIST_ADDRESS L":444/dns-query#doh.test", 10)) {
    EXPECT_EQ(outcome.Failure, exchange::ExchangeFailure::Untrusted);
    EXPECT_NE(outcome.Problem.find(L"https://" VAVIZAV_DNSDIST_ADDRESS L":444/dns-query#doh.test: "), std::wstring::npos)
        << ::testing::PrintToString(outcome.Problem);
    EXPECT_NE(outcome.Problem.find(L"does not carry the name doh.test"), std::wstring::npos)
        << ::testing::PrintToString(outcome.Problem);
  }
  EXPECT_LT(::GetTickCount64() - start, 2000u) << "not left to the time-out";
  for (const exchange::ExchangeOutcome& outcome :
       Exchange(L"https://" VAVIZAV_DNSDIST_ADDRESS L"/dns-query#other.test " VAVIZAV_UNBOUND_ADDRESS, 10)) {
    EXPECT_EQ(outcome.Failure, exchange::ExchangeFailure::None);
    EXPECT_EQ(outcome.Server, VAVIZAV_UNBOUND_ADDRESS);
    EXPECT_EQ(outcome.Transport, exchange::ReplyTransport::Udp);
  }
  const ULONGLONG notFound = ::GetTickCount64();
  for (const exchange::ExchangeOutcome& outcome :
       Exchange(L"https://" VAVIZAV_DNSDIST_ADDRESS L"/elsewhere#doh.test", 5)) {
    EXPECT_NE(outcome.Failure, exchange::ExchangeFailure::None);
    EXPECT_NE(outcome.Failure, exchange::ExchangeFailure::Untrusted);
    EXPECT_NE(outcome.Problem.find(L"https://" VAVIZAV_DNSDIST_ADDRESS L"/elsewhere#doh.test: the server answered HTTP status "),
              std::wstring::npos)
        << ::testing::PrintToString(outcome.Problem);
  }
  EXPECT_LT(::GetTickCount64() - notFound, 2000u) << "not left to the time-out";
}

// A call ends without waiting for its DNS over HTTPS workers: cancelled while
// dnsdist holds the question (slow.test. waits 300 ms upstream), it returns
// at once and the worker ends on its own.
TEST(DohEngine, ACancelledCallDoesNotWaitForItsWorkers) {
  struct Canceller final : exchange::ExchangeObserver {
    std::atomic<bool> Stop{false};
    void Ended(std::size_t, const exchange::ExchangeOutcome&) override {}
    bool Cancelled() override { return Stop.load(); }
  } canceller;
  const runtime::unique_handle wake(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  exchange::EngineSettings settings(L"https://" VAVIZAV_DNSDIST_ADDRESS L"/dns-query#doh.test", 3000, 64);
  settings.Encrypted = true;
  settings.Pump = false;
  settings.Observer = &canceller;
  settings.Wake = wake.get();
  const std::vector<vbDNS::DNSQuery> queries = {*vbDNS::BuildQuestion(vbDNS::TYPE_A, "x.slow.test")};
  std::thread cancel([&] {
    ::Sleep(50);
    canceller.Stop = true;
    ::SetEvent(wake.get());
  });
  const ULONGLONG start = ::GetTickCount64();
  const std::vector<exchange::ExchangeOutcome> outcomes = exchange::ExchangeMany(queries, settings);
  const ULONGLONG elapsed = ::GetTickCount64() - start;
  cancel.join();
  ASSERT_EQ(outcomes.size(), 1u);
  EXPECT_EQ(outcomes[0].Failure, exchange::ExchangeFailure::Cancelled);
  EXPECT_LT(elapsed, 250u) << "waited for the worker";
  ::Sleep(400);  // the worker ends before the fixture's servers go
}

// Without the caller taking encrypted servers an https:// entry drops out:
// never asked in plain DNS.
TEST(DohEngine, HttpsEntriesDropOutWhereEncryptionIsNotTaken) {
  for (const exchange::ExchangeOutcome& outcome :
       Exchange(L"https://" VAVIZAV_DNSDIST_ADDRESS L"/dns-query#doh.test", 3, false)) {
    EXPECT_EQ(outcome.Failure, exchange::ExchangeFailure::NoUsableServer);
  }
}

}  // namespace
}  // namespace vavizav::testing
