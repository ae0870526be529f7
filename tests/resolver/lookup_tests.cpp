// The lookups' decisions against a stand-in exchange that records the query it
// was given and answers with scripted reply octets.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <vector>

#include "lookup.h"

using vavizav::LookupOutcome;
using vbDNS::Packet;

namespace {

class ScriptedExchange final : public vavizav::QueryExchange {
 public:
  explicit ScriptedExchange(std::optional<Packet> reply) : reply_(std::move(reply)) {}
  std::optional<Packet> Exchange(const vbDNS::DNSQuery& query) override {
    sent.push_back(query);
    return reply_;
  }
  std::vector<vbDNS::DNSQuery> sent;

 private:
  std::optional<Packet> reply_;
};

Packet Bytes(std::initializer_list<std::initializer_list<std::uint8_t>> fields) {
  Packet out;
  for (const auto& field : fields) out.insert(out.end(), field.begin(), field.end());
  return out;
}

Packet ForwardReply(std::uint8_t flags2, std::uint8_t answerCount, std::initializer_list<std::uint8_t> answers) {
  return Bytes({
      {0x30, 0x39, 0x81, flags2},           // ID 12345, QR RD, RA + RCODE
      {0x00, 0x01, 0x00, answerCount},      // QDCount 1, ANCount
      {0x00, 0x00, 0x00, 0x00},             // NSCount, ARCount
      {0x02, 'a', 'b', 0x02, 'c', 'd', 0},  // QName ab.cd (offset 12)
      {0x00, 0x01, 0x00, 0x01},             // QType A, QClass IN
      answers,
  });
}

// Answer records whose owner is a pointer to the question name at offset 12.
#define A_ANSWER(a, b, c, d) 0xC0, 0x0C, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x3C, 0x00, 0x04, a, b, c, d
// CNAME ab.cd -> x.ab.cd: label x, then a pointer to the question name.
#define CNAME_ANSWER 0xC0, 0x0C, 0x00, 0x05, 0x00, 0x01, 0x00, 0x00, 0x00, 0x3C, 0x00, 0x04, 0x01, 'x', 0xC0, 0x0C

LookupOutcome Forward(std::u16string_view name, ScriptedExchange& exchange) {
  return vavizav::ForwardLookup(name, exchange);
}

const LookupOutcome kUnresolvedName{"", "Unable to Resolve HostName"};
const LookupOutcome kUnresolvedAddress{"", "Cannot Reverse Resolve Host"};
const LookupOutcome kTimedOut{"", "DNS Request Timed Out"};

}  // namespace

TEST(ForwardLookup, AddressesInReplyOrderJoinedByCrLf) {
  ScriptedExchange exchange(ForwardReply(0x80, 2, {A_ANSWER(192, 0, 2, 1), A_ANSWER(198, 51, 100, 7)}));
  const LookupOutcome outcome = Forward(u"ab.cd", exchange);
  EXPECT_EQ(outcome, (LookupOutcome{"192.0.2.1\r\n198.51.100.7", ""}));
  EXPECT_EQ(outcome.Result.size(), 23u);

  ASSERT_EQ(exchange.sent.size(), 1u);
  EXPECT_EQ(exchange.sent[0].Question.QName, std::string("\x02" "ab" "\x02" "cd", 6) + '\0');
  EXPECT_EQ(exchange.sent[0].Question.QType, vbDNS::TYPE_A);
}

TEST(ForwardLookup, OneAddressHasNoSeparator) {
  ScriptedExchange exchange(ForwardReply(0x80, 1, {A_ANSWER(10, 0, 0, 1)}));
  EXPECT_EQ(Forward(u"ab.cd", exchange), (LookupOutcome{"10.0.0.1", ""}));
}

TEST(ForwardLookup, CnameChainsAroundAddressesStillSucceed) {
  // A CNAME first, and (the case a last-answer rule got wrong) a CNAME last.
  ScriptedExchange cnameFirst(ForwardReply(0x80, 3, {CNAME_ANSWER, A_ANSWER(192, 0, 2, 1), A_ANSWER(192, 0, 2, 2)}));
  EXPECT_EQ(Forward(u"ab.cd", cnameFirst), (LookupOutcome{"192.0.2.1\r\n192.0.2.2", ""}));
  ScriptedExchange cnameLast(ForwardReply(0x80, 2, {A_ANSWER(192, 0, 2, 1), CNAME_ANSWER}));
  EXPECT_EQ(Forward(u"ab.cd", cnameLast), (LookupOutcome{"192.0.2.1", ""}));
}

TEST(ForwardLookup, NoAddressIsUnresolved) {
  ScriptedExchange noAnswers(ForwardReply(0x80, 0, {}));
  EXPECT_EQ(Forward(u"ab.cd", noAnswers), kUnresolvedName);
  ScriptedExchange onlyCname(ForwardReply(0x80, 1, {CNAME_ANSWER}));
  EXPECT_EQ(Forward(u"ab.cd", onlyCname), kUnresolvedName);
}

TEST(ForwardLookup, EveryRcodeBitCounts) {
  ScriptedExchange nameError(ForwardReply(0x83, 0, {}));
  EXPECT_EQ(Forward(u"ab.cd", nameError), kUnresolvedName);
  // RCODE 8 (NOTZONE) has only the fourth bit set; its addresses are not an answer.
  ScriptedExchange rcode8(ForwardReply(0x88, 1, {A_ANSWER(10, 0, 0, 1)}));
  EXPECT_EQ(Forward(u"ab.cd", rcode8), kUnresolvedName);
}

TEST(ForwardLookup, SilenceIsATimeOut) {
  ScriptedExchange silent(std::nullopt);
  EXPECT_EQ(Forward(u"ab.cd", silent), kTimedOut);
  ScriptedExchange empty(Packet{});
  EXPECT_EQ(Forward(u"ab.cd", empty), kTimedOut);
}

TEST(ForwardLookup, UnreadableReplyIsUnresolved) {
  Packet reply = ForwardReply(0x80, 1, {A_ANSWER(10, 0, 0, 1)});
  ScriptedExchange elevenOctets(Packet(reply.begin(), reply.begin() + 11));
  EXPECT_EQ(Forward(u"ab.cd", elevenOctets), kUnresolvedName);
  reply.resize(reply.size() - 2);  // the address cut short
  ScriptedExchange cut(reply);
  EXPECT_EQ(Forward(u"ab.cd", cut), kUnresolvedName);
}

TEST(ForwardLookup, NamesThatCannotBeQueriedSendNothing) {
  const std::u16string label64(64, u'a');
  for (std::u16string_view name : {std::u16string_view(u""), std::u16string_view(u".ab"),
                                   std::u16string_view(u"a..b"), std::u16string_view(label64),
                                   std::u16string_view(u"caf\u00e9\u0100.example")}) {
    ScriptedExchange exchange(ForwardReply(0x80, 1, {A_ANSWER(10, 0, 0, 1)}));
    EXPECT_EQ(Forward(name, exchange), kUnresolvedName);
    EXPECT_TRUE(exchange.sent.empty());
  }
}

namespace {

Packet ReverseReply(std::uint8_t flags2, std::uint8_t answerCount, std::initializer_list<std::uint8_t> answers) {
  return Bytes({
      {0x30, 0x39, 0x81, flags2},       // ID 12345, QR RD, RA + RCODE
      {0x00, 0x01, 0x00, answerCount},  // QDCount 1, ANCount
      {0x00, 0x00, 0x00, 0x00},         // NSCount, ARCount
      // QName 1.2.0.192.in-addr.arpa (offset 12)
      {1, '1', 1, '2', 1, '0', 3, '1', '9', '2', 7, 'i', 'n', '-', 'a', 'd', 'd', 'r', 4, 'a', 'r', 'p', 'a', 0},
      {0x00, 0x0C, 0x00, 0x01},  // QType PTR, QClass IN
      answers,
  });
}

// PTR answers: owner pointer to offset 12, type 12, class IN, TTL 60, then RDLength and data.
#define PTR_HEAD(rdlength) 0xC0, 0x0C, 0x00, 0x0C, 0x00, 0x01, 0x00, 0x00, 0x00, 0x3C, 0x00, rdlength
// The same with class CH (3).
#define PTR_CH_HEAD(rdlength) 0xC0, 0x0C, 0x00, 0x0C, 0x00, 0x03, 0x00, 0x00, 0x00, 0x3C, 0x00, rdlength

LookupOutcome Reverse(std::u16string_view text, ScriptedExchange& exchange) {
  return vavizav::ReverseLookup(text, exchange);
}

}  // namespace

TEST(ReverseLookup, NameOfTheAddress) {
  ScriptedExchange exchange(ReverseReply(0x80, 1, {PTR_HEAD(11), 4, 'h', 'o', 's', 't', 4, 't', 'e', 's', 't', 0}));
  EXPECT_EQ(Reverse(u"192.0.2.1", exchange), (LookupOutcome{"host.test", ""}));
  ASSERT_EQ(exchange.sent.size(), 1u);
  EXPECT_EQ(exchange.sent[0].Question.QType, vbDNS::TYPE_PTR);
  EXPECT_EQ(exchange.sent[0].Question.QName.size(), 24u);  // 1.2.0.192.in-addr.arpa in wire form
}

TEST(ReverseLookup, LastPtrAnswerWins) {
  ScriptedExchange exchange(ReverseReply(0x80, 2, {PTR_HEAD(3), 1, 'a', 0, PTR_HEAD(3), 1, 'b', 0}));
  EXPECT_EQ(Reverse(u"192.0.2.1", exchange), (LookupOutcome{"b", ""}));
}

TEST(ReverseLookup, OnlyInternetClassPtrAnswersCount) {
  ScriptedExchange chaosOnly(ReverseReply(0x80, 1, {PTR_CH_HEAD(3), 1, 'a', 0}));
  EXPECT_EQ(Reverse(u"192.0.2.1", chaosOnly), kUnresolvedAddress);
  // A later answer of another class does not override the Internet one.
  ScriptedExchange internetThenChaos(
      ReverseReply(0x80, 2, {PTR_HEAD(4), 2, 'i', 'n', 0, PTR_CH_HEAD(3), 1, 'a', 0}));
  EXPECT_EQ(Reverse(u"192.0.2.1", internetThenChaos), (LookupOutcome{"in", ""}));
}

TEST(ReverseLookup, ControlCharactersArriveEscaped) {
  ScriptedExchange exchange(ReverseReply(0x80, 1, {PTR_HEAD(6), 4, 'a', '\r', '\n', '.', 0}));
  EXPECT_EQ(Reverse(u"192.0.2.1", exchange), (LookupOutcome{"a\\013\\010\\.", ""}));
}

TEST(ReverseLookup, NoHostNameIsUnresolved) {
  ScriptedExchange rootName(ReverseReply(0x80, 1, {PTR_HEAD(1), 0}));
  EXPECT_EQ(Reverse(u"192.0.2.1", rootName), kUnresolvedAddress);
  ScriptedExchange noAnswers(ReverseReply(0x80, 0, {}));
  EXPECT_EQ(Reverse(u"192.0.2.1", noAnswers), kUnresolvedAddress);
  ScriptedExchange nameError(ReverseReply(0x83, 0, {}));
  EXPECT_EQ(Reverse(u"192.0.2.1", nameError), kUnresolvedAddress);
  ScriptedExchange rcode8(ReverseReply(0x88, 1, {PTR_HEAD(3), 1, 'a', 0}));
  EXPECT_EQ(Reverse(u"192.0.2.1", rcode8), kUnresolvedAddress);
  ScriptedExchange tooShort(Packet(11, 0));
  EXPECT_EQ(Reverse(u"192.0.2.1", tooShort), kUnresolvedAddress);
}

TEST(ReverseLookup, SilenceIsATimeOut) {
  ScriptedExchange silent(std::nullopt);
  EXPECT_EQ(Reverse(u"192.0.2.1", silent), kTimedOut);
}

TEST(ReverseLookup, TextThatIsNoAddressSendsNothing) {
  for (std::u16string_view text : {u"", u"1.2.3", u"1.2.3.", u"256.1.1.1", u"1.2.3.5.5", u" 1.2.3.4", u"1.2.3.\u0664"}) {
    ScriptedExchange exchange(ReverseReply(0x80, 0, {}));
    EXPECT_EQ(Reverse(text, exchange), (LookupOutcome{"", "IP Address not recognized"}));
    EXPECT_TRUE(exchange.sent.empty());
  }
}

TEST(ReverseLookup, AllOnesIsAnAddressLikeAnyOther) {
  ScriptedExchange exchange(std::nullopt);
  EXPECT_EQ(Reverse(u"255.255.255.255", exchange), kTimedOut);
  ASSERT_EQ(exchange.sent.size(), 1u);
  EXPECT_EQ(exchange.sent[0].Question.QName.view().substr(0, 4), "\x03" "255");
}
