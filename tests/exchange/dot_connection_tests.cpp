// One kept DNS over TLS connection with many questions on it, against the
// real servers: all answered, by ID, in the order the servers answer; the
// questions asked during the handshake sent once the certificate passed and
// never when it fails; a server that closes mid-batch or refuses the
// connection leaves its questions waiting, for the core to take elsewhere.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "exchange/dot_connection.h"
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
