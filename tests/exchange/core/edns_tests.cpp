// EDNS(0) in the exchange's core: the OPT record a question carries, and the
// servers that do not take it (RFC 6891 section 7), remembered by the object.
#include <gtest/gtest.h>

#include "codec/reply_check.h"
#include "core_harness.h"

namespace vavizav::testing {
namespace {

using exchange::ExchangeFailure;
using exchange::ExchangeOutcome;
using exchange::ServerMemory;

constexpr std::uint8_t FORMERR = 1, NOTIMP = 4, SERVFAIL = 2;

vbDNS::DNSQuery AskEdns(std::string_view name, bool dnssecOk = false) {
  vbDNS::DNSQuery query = Ask(name);
  query.EdnsUdpSize = vbDNS::EDNS_UDP_SIZE;
  query.DnssecOk = dnssecOk;
  return query;
}

bool CarriesOpt(const SentDatagram& sent) { return sent.Octets[11] == 1; }

// The datagram as if it had gone without its OPT record: what AnswerTo echoes.
SentDatagram WithoutOpt(SentDatagram sent) {
  if (CarriesOpt(sent)) {
    sent.Octets.resize(sent.Octets.size() - vbDNS::OPT_RECORD_SIZE);
    sent.Octets[11] = 0;
  }
  return sent;
}

vbDNS::Packet WithOpt(vbDNS::Packet reply) {
  const vbDNS::Packet opt = Opt(1232);
  reply.insert(reply.end(), opt.begin(), opt.end());
  ++reply[11];
  return reply;
}

// The header and question of the query, with `rcode` and no records: what a
// server that refuses the OPT record sends.
vbDNS::Packet ErrorTo(const SentDatagram& sent, std::uint8_t rcode) {
  vbDNS::Packet reply = AnswerTo(WithoutOpt(sent), REPLY_FLAGS1, 0);
  reply[3] = static_cast<std::uint8_t>((reply[3] & ~vbDNS::RCODE_MASK) | rcode);
  return reply;
}

// A server of the old kind: `rcode` to any query with OPT, a plain answer otherwise.
ServerScript Refuses(std::uint8_t rcode) {
  return [=](const SentDatagram& sent) {
    return std::vector<ServerReply>{{CarriesOpt(sent) ? ErrorTo(sent, rcode) : AnswerTo(sent), 1}};
  };
}

std::uint8_t Rcode(const vbDNS::Packet& reply) { return reply[3] & vbDNS::RCODE_MASK; }

TEST(ExchangeCoreEdns, TheQuestionsOptRecordGoesOutAndAReplyWithOptIsTaken) {
  ServerMemory memory;
  const ServerScript modern = [](const SentDatagram& sent) {
    return std::vector<ServerReply>{{WithOpt(AnswerTo(WithoutOpt(sent))), 1}};
  };
  CoreRun run({AskEdns("Signed.Example", true)}, {modern}, 1000, 1, memory, 500);
  const std::vector<ExchangeOutcome> outcomes = run.Run();
  ASSERT_EQ(outcomes[0].Failure, ExchangeFailure::None);
  EXPECT_EQ(outcomes[0].EndedAt, 501u) << "the reply came 1 ms after the send at 500";
  ASSERT_EQ(run.Net.Sent.size(), 1u);
  const vbDNS::Packet& sent = run.Net.Sent[0].Octets;
  ASSERT_TRUE(CarriesOpt(run.Net.Sent[0]));
  // Root owner, TYPE 41, CLASS 1232, extended RCODE 0, version 0, DO, no options.
  const vbDNS::Packet opt(sent.end() - 11, sent.end());
  EXPECT_EQ(opt, (vbDNS::Packet{0, 0, 41, 0x04, 0xD0, 0, 0, 0x80, 0, 0, 0}));
  EXPECT_FALSE(memory.Find(L"192.0.2.1")->NoEdns);
}

// FORMERR or NOTIMP without OPT: asked again at once without it, and the
// server is asked so from then on; a plain reply without OPT is taken as it
// came and marks the server the same way.
TEST(ExchangeCoreEdns, AServerWithoutEdnsIsAskedAgainWithoutOptAndRemembered) {
  for (const std::uint8_t rcode : {FORMERR, NOTIMP}) {
    ServerMemory memory;
    CoreRun first({AskEdns("Old.Example")}, {Refuses(rcode)}, 2000, 1, memory);
    std::vector<ExchangeOutcome> outcomes = first.Run();
    ASSERT_EQ(outcomes[0].Failure, ExchangeFailure::None);
    EXPECT_EQ(Rcode(*outcomes[0].Reply), 0) << "the answer to the plain query, not the error";
    ASSERT_EQ(first.Net.Sent.size(), 2u);
    EXPECT_TRUE(CarriesOpt(first.Net.Sent[0]));
    EXPECT_FALSE(CarriesOpt(first.Net.Sent[1]));
    EXPECT_EQ(first.Net.Sent[1].Octets.size(), first.Net.Sent[0].Octets.size() - vbDNS::OPT_RECORD_SIZE);
    EXPECT_LT(first.Now(), 10u) << "at once, not after a resend interval";
    EXPECT_TRUE(memory.Find(L"192.0.2.1")->NoEdns);

    CoreRun later({AskEdns("Other.Example")}, {Refuses(rcode)}, 2000, 1, memory);
    outcomes = later.Run();
    ASSERT_EQ(outcomes[0].Failure, ExchangeFailure::None);
    ASSERT_EQ(later.Net.Sent.size(), 1u);
    EXPECT_FALSE(CarriesOpt(later.Net.Sent[0]));
  }

  ServerMemory memory;
  CoreRun plain({AskEdns("Plain.Example")}, {Answers()}, 2000, 1, memory);
  const std::vector<ExchangeOutcome> outcomes = plain.Run();
  ASSERT_EQ(outcomes[0].Failure, ExchangeFailure::None);
  EXPECT_EQ(plain.Net.Sent.size(), 1u);
  EXPECT_TRUE(memory.Find(L"192.0.2.1")->NoEdns);
}

// A server that knows EDNS and says FORMERR with OPT, or fails otherwise
// without OPT, gave its verdict: taken, nothing asked again.
TEST(ExchangeCoreEdns, OtherErrorsAndErrorsWithOptAreTheServersVerdict) {
  ServerMemory memory;
  const ServerScript formerrWithOpt = [](const SentDatagram& sent) {
    return std::vector<ServerReply>{{WithOpt(ErrorTo(sent, FORMERR)), 1}};
  };
  CoreRun knows({AskEdns("Bad.Example")}, {formerrWithOpt}, 2000, 1, memory);
  std::vector<ExchangeOutcome> outcomes = knows.Run();
  ASSERT_EQ(outcomes[0].Failure, ExchangeFailure::None);
  EXPECT_EQ(Rcode(*outcomes[0].Reply), FORMERR);
  EXPECT_EQ(knows.Net.Sent.size(), 1u);
  EXPECT_FALSE(memory.Find(L"192.0.2.1")->NoEdns);

  const ServerScript failing = [](const SentDatagram& sent) {
    return std::vector<ServerReply>{{ErrorTo(sent, SERVFAIL), 1}};
  };
  CoreRun fails({AskEdns("Broken.Example")}, {failing}, 2000, 1, memory);
  outcomes = fails.Run();
  EXPECT_EQ(Rcode(*outcomes[0].Reply), SERVFAIL);
  EXPECT_EQ(fails.Net.Sent.size(), 1u);

  // The first class's queries carry no OPT.
  CoreRun classic({Ask("Classic.Example")}, {Answers()}, 2000, 1, memory);
  classic.Run();
  EXPECT_FALSE(CarriesOpt(classic.Net.Sent[0]));
}

TEST(ReplyOpt, FindsTheOptRecordOnlyInTheAdditionalSection) {
  const vbDNS::Packet plain = AnswerTo(SentDatagram{0, 0, vbDNS::EncodeQuery(Ask("a.example")), 0});
  EXPECT_EQ(vbDNS::ReplyOpt(plain), vbDNS::OptPresence::Absent);
  EXPECT_EQ(vbDNS::ReplyOpt(WithOpt(plain)), vbDNS::OptPresence::Present);
  vbDNS::Packet cut = WithOpt(plain);
  cut.resize(cut.size() - 3);
  EXPECT_EQ(vbDNS::ReplyOpt(cut), vbDNS::OptPresence::Unreadable);
  // A record of type 41 in the answer section is no OPT record.
  vbDNS::Packet inAnswer = plain;
  const vbDNS::Packet opt = Opt(1232);
  inAnswer.insert(inAnswer.end(), opt.begin(), opt.end());
  ++inAnswer[7];
  EXPECT_EQ(vbDNS::ReplyOpt(inAnswer), vbDNS::OptPresence::Absent);
  EXPECT_EQ(vbDNS::ReplyOpt(vbDNS::Packet{1, 2, 3}), vbDNS::OptPresence::Unreadable);
}

}  // namespace
}  // namespace vavizav::testing
