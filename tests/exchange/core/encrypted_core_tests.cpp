// Encrypted servers in the core: asked through SendEncrypted in the caller's
// spelling and never over UDP or TCP, replies taken by ticket, and a
// connection that ends or whose certificate fails passed over for the call,
// down to UNTRUSTED once none is left.
#include <gtest/gtest.h>

#include "core_harness.h"

namespace vavizav::testing {
namespace {

using exchange::ExchangeFailure;

// The shell's side: what was asked of which server under which ticket.
class EncryptedNet final : public exchange::CoreTransport {
 public:
  struct Ask {
    std::uint32_t Ticket = 0;
    std::size_t Server = 0;
    vbDNS::DNSQuery Query;
  };
  bool SendDatagram(std::uint32_t, int, std::size_t server, vbDNS::PacketView) override {
    Datagrams.push_back(server);
    return true;
  }
  void CloseSocket(std::uint32_t) override {}
  bool OpenStream(std::uint32_t, std::size_t server, vbDNS::PacketView) override {
    Streams.push_back(server);
    return true;
  }
  void CloseStream(std::uint32_t) override {}
  bool SendEncrypted(std::uint32_t ticket, std::size_t server, const vbDNS::DNSQuery& query) override {
    if (Refuse) return false;
    Asks.push_back({ticket, server, query});
    return true;
  }
  void ForgetEncrypted(std::uint32_t ticket, std::size_t) override { Forgotten.push_back(ticket); }

  std::vector<Ask> Asks;
  std::vector<std::uint32_t> Forgotten;
  std::vector<std::size_t> Datagrams;
  std::vector<std::size_t> Streams;
  bool Refuse = false;
};

// The reply an encrypted server gives (the shell put the connection's ID
// back to whatever; the core reads the question).
vbDNS::Packet ReplyTo(const vbDNS::DNSQuery& query, std::uint16_t id = 0x4242) {
  const vbDNS::Packet name(query.Question.QName.begin(), query.Question.QName.end());
  return Join({U16(id), {REPLY_FLAGS1, ReplyFlags2()}, U16(1), U16(1), U16(0), U16(0),
               Question(name, query.Question.QType), Record(Pointer(vbDNS::HEADER_SIZE), vbDNS::TYPE_A, {192, 0, 2, 7})});
}

struct Call {
  explicit Call(std::vector<exchange::CoreServer> servers, std::vector<vbDNS::DNSQuery> asked = {Ask("Host.Example")})
      : queries(std::move(asked)) {
    for (std::size_t i = 0; i < queries.size(); ++i) firsts.push_back(i);
    core.emplace(queries, firsts, std::move(servers), 5000, 64, memory, random, net, 0);
  }
  std::vector<vbDNS::DNSQuery> queries;
  std::vector<std::size_t> firsts;
  exchange::ServerMemory memory;
  exchange::RandomPool random{TestRandom};
  EncryptedNet net;
  std::optional<exchange::ExchangeCore> core;
};

const exchange::CoreServer DOT{L"tls://192.0.2.1#dot.test", 2, true};
const exchange::CoreServer DOT2{L"tls://192.0.2.2#dot.test", 2, true};
const exchange::CoreServer PLAIN{L"192.0.2.3", 2, false};

TEST(EncryptedCore, AsksInTheCallersSpellingAndTakesTheReplyByTicket) {
  Call call({DOT});
  call.core->Advance(0);
  ASSERT_EQ(call.net.Asks.size(), 1u);
  EXPECT_TRUE(call.net.Datagrams.empty());
  const EncryptedNet::Ask ask = call.net.Asks[0];
  EXPECT_EQ(ask.Query.Question.QName, call.queries[0].Question.QName) << "no random case on an encrypted stream";
  call.core->OnEncryptedReply(20, ask.Ticket + 1, ReplyTo(ask.Query));  // no such ticket
  EXPECT_FALSE(call.core->Finished());
  call.core->OnEncryptedReply(25, ask.Ticket, ReplyTo(ask.Query));
  ASSERT_TRUE(call.core->Finished());
  const std::vector<exchange::ExchangeOutcome> outcomes = call.core->TakeOutcomes();
  EXPECT_EQ(outcomes[0].Failure, ExchangeFailure::None);
  EXPECT_EQ(outcomes[0].Transport, exchange::ReplyTransport::Encrypted);
  EXPECT_EQ(outcomes[0].Server, DOT.Text);
  EXPECT_EQ(outcomes[0].ElapsedMs, 25u);
  EXPECT_TRUE(call.net.Streams.empty());
}

// A reply to another question on the ticket (a server mixing them up) does
// not count; a late reply after the question ended is dropped.
TEST(EncryptedCore, ChecksTheQuestionOfEveryReply) {
  Call call({DOT}, {Ask("one.example"), Ask("two.example")});
  call.core->Advance(0);
  ASSERT_EQ(call.net.Asks.size(), 2u);
  const EncryptedNet::Ask one = call.net.Asks[0], two = call.net.Asks[1];
  call.core->OnEncryptedReply(5, one.Ticket, ReplyTo(two.Query));
  EXPECT_TRUE(call.core->TakeEnded().empty());
  call.core->OnEncryptedReply(6, two.Ticket, ReplyTo(two.Query));
  EXPECT_EQ(call.core->TakeEnded(), (std::vector<std::size_t>{1}));
  call.core->OnEncryptedReply(7, two.Ticket, ReplyTo(two.Query));
  EXPECT_TRUE(call.core->TakeEnded().empty());
  call.core->OnEncryptedReply(8, one.Ticket, ReplyTo(one.Query));
  EXPECT_TRUE(call.core->Finished());
}

// The certificate of the first server fails: its questions go on at once to
// the next server in the list (an encrypted one, then a plain one, as the
// list says), never again to it, and not in the clear to it.
TEST(EncryptedCore, PassesOverAServerWhoseCertificateFailedForTheRestOfTheCall) {
  Call call({DOT, PLAIN});
  call.core->Advance(0);
  ASSERT_EQ(call.net.Asks.size(), 1u);
  const std::uint32_t ticket = call.net.Asks[0].Ticket;
  call.core->OnEncryptedFailed(3, 0, true);
  EXPECT_EQ(call.net.Forgotten, (std::vector<std::uint32_t>{ticket}));
  call.core->Advance(3);
  ASSERT_EQ(call.net.Datagrams, (std::vector<std::size_t>{1})) << "the plain server next, at once";
  // The whole plan goes on among the servers left: never the failed one.
  for (std::uint64_t now = 4; now < 6000 && !call.core->Finished(); now += 100) call.core->Advance(now);
  EXPECT_EQ(call.net.Asks.size(), 1u);
  for (const std::size_t server : call.net.Datagrams) EXPECT_EQ(server, 1u);
  EXPECT_EQ(call.core->TakeOutcomes()[0].Failure, ExchangeFailure::TimedOut);
}

// Every server an encrypted one whose certificate failed: the open
// questions end at once as UNTRUSTED, and the ones not started yet too.
TEST(EncryptedCore, EndsUntrustedOnceNoServerIsLeft) {
  std::vector<vbDNS::DNSQuery> many;
  for (int i = 0; i < 100; ++i) many.push_back(Ask("host" + std::to_string(i) + ".example"));
  Call call({DOT, DOT2}, many);
  call.core->Advance(0);
  call.core->OnEncryptedFailed(2, 1, false);  // refused: not a certificate
  EXPECT_FALSE(call.core->Finished());
  call.core->OnEncryptedFailed(3, 0, true);
  call.core->Advance(3);
  ASSERT_TRUE(call.core->Finished());
  for (const exchange::ExchangeOutcome& outcome : call.core->TakeOutcomes()) {
    EXPECT_EQ(outcome.Failure, ExchangeFailure::Untrusted);
  }
  EXPECT_TRUE(call.net.Datagrams.empty());
}

TEST(EncryptedCore, ConnectionsThatEndWithoutACertificateFailingAreNotUntrusted) {
  Call call({DOT});
  call.net.Refuse = true;  // nothing can go out
  call.core->Advance(0);
  call.core->OnEncryptedFailed(1, 0, false);
  call.core->Advance(1);
  ASSERT_TRUE(call.core->Finished());
  EXPECT_EQ(call.core->TakeOutcomes()[0].Failure, ExchangeFailure::NothingSent);
}

// A server that does not know EDNS: its FORMERR to the OPT record gets the
// question again without it, on the same connection.
TEST(EncryptedCore, AsksAgainWithoutEdnsAfterAFormerrWithoutOpt) {
  vbDNS::DNSQuery query = Ask("host.example");
  query.EdnsUdpSize = vbDNS::EDNS_UDP_SIZE;
  Call call({DOT}, {query});
  call.core->Advance(0);
  ASSERT_EQ(call.net.Asks.size(), 1u);
  EXPECT_NE(call.net.Asks[0].Query.EdnsUdpSize, 0);
  vbDNS::Packet formerr = ReplyTo(call.net.Asks[0].Query);
  formerr[3] = static_cast<std::uint8_t>((formerr[3] & 0xF0) | 1);
  formerr[7] = 0;  // no answer
  formerr.resize(vbDNS::HEADER_SIZE + 12 + 2 + 4);
  call.core->OnEncryptedReply(4, call.net.Asks[0].Ticket, formerr);
  ASSERT_EQ(call.net.Asks.size(), 2u);
  EXPECT_EQ(call.net.Asks[1].Query.EdnsUdpSize, 0);
  call.core->OnEncryptedReply(6, call.net.Asks[1].Ticket, ReplyTo(call.net.Asks[1].Query));
  EXPECT_TRUE(call.core->Finished());
}

}  // namespace
}  // namespace vavizav::testing
