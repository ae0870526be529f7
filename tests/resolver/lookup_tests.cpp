// The lookups' decisions against a stand-in exchange that records the query it
// was given and answers with scripted reply octets, built by the shared packet
// builder.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>

#include "packets.h"
#include "resolver/lookup.h"
#include "stand_in_exchange.h"

using vavizav::resolver::LookupOutcome;
using vbDNS::Packet;
using namespace vavizav::packets;
using vavizav::testing::StandInExchange;

namespace {

// Offset 12: the question's name, right after the header.
const Packet kQuestionName = Pointer(vbDNS::HEADER_SIZE);

Packet ForwardReply(std::uint8_t flags2, std::uint8_t answerCount, std::initializer_list<Packet> answers) {
  Packet reply = Join({Header(answerCount, flags2),                 // ID 12345, QR RD, RA + RCODE
                       Question(Name({"ab", "cd"}), vbDNS::TYPE_A)});  // ab.cd at offset 12
  for (const Packet& answer : answers) reply = Join({reply, answer});
  return reply;
}

// Answer records whose owner is a pointer to the question name at offset 12.
Packet AAnswer(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
  return Record(kQuestionName, vbDNS::TYPE_A, {a, b, c, d});
}
// CNAME ab.cd -> x.ab.cd: label x, then a pointer to the question name.
const Packet kCnameAnswer = Record(kQuestionName, vbDNS::TYPE_CNAME, Join({{1, 'x'}, kQuestionName}));

LookupOutcome Forward(std::u16string_view name, StandInExchange& exchange) {
  return vavizav::resolver::ForwardLookup(name, exchange);
}

const LookupOutcome kUnresolvedName{"", "Unable to Resolve HostName"};
const LookupOutcome kUnresolvedAddress{"", "Cannot Reverse Resolve Host"};
const LookupOutcome kTimedOut{"", "DNS Request Timed Out"};

}  // namespace

TEST(ForwardLookup, AddressesInReplyOrderJoinedByCrLf) {
  StandInExchange exchange(ForwardReply(ReplyFlags2(), 2, {AAnswer(192, 0, 2, 1), AAnswer(198, 51, 100, 7)}));
  const LookupOutcome outcome = Forward(u"ab.cd", exchange);
  EXPECT_EQ(outcome, (LookupOutcome{"192.0.2.1\r\n198.51.100.7", ""}));
  EXPECT_EQ(outcome.Result.size(), 23u);

  ASSERT_EQ(exchange.sent.size(), 1u);
  EXPECT_EQ(exchange.sent[0].Question.QName, std::string("\x02" "ab" "\x02" "cd", 6) + '\0');
  EXPECT_EQ(exchange.sent[0].Question.QType, vbDNS::TYPE_A);
}

TEST(ForwardLookup, OneAddressHasNoSeparator) {
  StandInExchange exchange(ForwardReply(ReplyFlags2(), 1, {AAnswer(10, 0, 0, 1)}));
  EXPECT_EQ(Forward(u"ab.cd", exchange), (LookupOutcome{"10.0.0.1", ""}));
}

TEST(ForwardLookup, CnameChainsAroundAddressesStillSucceed) {
  // A CNAME first, and (the case a last-answer rule got wrong) a CNAME last.
  StandInExchange cnameFirst(ForwardReply(ReplyFlags2(), 3, {kCnameAnswer, AAnswer(192, 0, 2, 1), AAnswer(192, 0, 2, 2)}));
  EXPECT_EQ(Forward(u"ab.cd", cnameFirst), (LookupOutcome{"192.0.2.1\r\n192.0.2.2", ""}));
  StandInExchange cnameLast(ForwardReply(ReplyFlags2(), 2, {AAnswer(192, 0, 2, 1), kCnameAnswer}));
  EXPECT_EQ(Forward(u"ab.cd", cnameLast), (LookupOutcome{"192.0.2.1", ""}));
}

TEST(ForwardLookup, NoAddressIsUnresolved) {
  StandInExchange noAnswers(ForwardReply(ReplyFlags2(), 0, {}));
  EXPECT_EQ(Forward(u"ab.cd", noAnswers), kUnresolvedName);
  StandInExchange onlyCname(ForwardReply(ReplyFlags2(), 1, {kCnameAnswer}));
  EXPECT_EQ(Forward(u"ab.cd", onlyCname), kUnresolvedName);
}

TEST(ForwardLookup, EveryRcodeBitCounts) {
  StandInExchange nameError(ForwardReply(ReplyFlags2(RCODE_NXDOMAIN), 0, {}));
  EXPECT_EQ(Forward(u"ab.cd", nameError), kUnresolvedName);
  // RCODE 8 (NOTZONE) has only the fourth bit set; its addresses are not an answer.
  StandInExchange rcode8(ForwardReply(ReplyFlags2(RCODE_NXRRSET), 1, {AAnswer(10, 0, 0, 1)}));
  EXPECT_EQ(Forward(u"ab.cd", rcode8), kUnresolvedName);
}

TEST(ForwardLookup, SilenceIsATimeOut) {
  StandInExchange silent(std::nullopt);
  EXPECT_EQ(Forward(u"ab.cd", silent), kTimedOut);
  StandInExchange empty(Packet{});
  EXPECT_EQ(Forward(u"ab.cd", empty), kTimedOut);
}

TEST(ForwardLookup, UnreadableReplyIsUnresolved) {
  Packet reply = ForwardReply(ReplyFlags2(), 1, {AAnswer(10, 0, 0, 1)});
  StandInExchange elevenOctets(Packet(reply.begin(), reply.begin() + 11));
  EXPECT_EQ(Forward(u"ab.cd", elevenOctets), kUnresolvedName);
  reply.resize(reply.size() - 2);  // the address cut short
  StandInExchange cut(reply);
  EXPECT_EQ(Forward(u"ab.cd", cut), kUnresolvedName);
}

// The lookups read the answer section alone, its data as octets
// (ReadScope::AnswerOctets), as they always have: what the whole read refuses
// elsewhere costs no answer.
TEST(ForwardLookup, WhatLiesOutsideTheAddressesIsNotJudged) {
  const Packet badSoa = Record(kQuestionName, vbDNS::TYPE_SOA, {0xC0, 0x60});  // forward pointer, no numbers
  Packet reply = ForwardReply(ReplyFlags2(), 1, {AAnswer(10, 0, 0, 1), badSoa, Opt(1232), Opt(512)});
  reply[9] = 1;   // NSCount: the SOA
  reply[11] = 2;  // ARCount: two OPT records, which the whole read refuses
  StandInExchange otherSections(reply);
  EXPECT_EQ(Forward(u"ab.cd", otherSections), (LookupOutcome{"10.0.0.1", ""}));

  const Packet sixOctets = Record(kQuestionName, vbDNS::TYPE_A, {1, 2, 3, 4, 5, 6});
  const Packet chaos = Record(kQuestionName, vbDNS::TYPE_A, {9, 9, 9, 9}, 60, 3);
  const Packet badCname = Record(kQuestionName, vbDNS::TYPE_CNAME, Pointer(0x3FF0));
  StandInExchange answers(ForwardReply(ReplyFlags2(), 4, {sixOctets, chaos, badCname, AAnswer(10, 0, 0, 2)}));
  EXPECT_EQ(Forward(u"ab.cd", answers), (LookupOutcome{"10.0.0.2", ""}));
}

TEST(ForwardLookup, AddressesPastTheRecordsHeldInPlace) {
  // 300 answers: the reply's records go to the heap (RECORDS_IN_PLACE is 64).
  Packet reply = Join({MessageHeader(1, 300, 0, 0), Question(Name({"ab", "cd"}), vbDNS::TYPE_A)});
  std::string expected;
  for (int i = 0; i < 300; ++i) {
    reply = Join({reply, AAnswer(10, 0, static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i))});
    expected += (i == 0 ? "" : "\r\n") + std::string("10.0.") + std::to_string(i >> 8) + '.' + std::to_string(i & 0xFF);
  }
  StandInExchange exchange(reply);
  EXPECT_EQ(Forward(u"ab.cd", exchange), (LookupOutcome{expected, ""}));
}

TEST(ForwardLookup, RepliesOverTheLongestMessageAreReadToIt) {
  // No exchange hands over more than 65,535 octets; were it to, the lookup
  // reads that much, as its records all lie there.
  Packet reply = ForwardReply(ReplyFlags2(), 1, {AAnswer(10, 0, 0, 1)});
  reply.resize(vbDNS::MAX_MESSAGE_SIZE + 1, 0xEE);
  StandInExchange exchange(reply);
  EXPECT_EQ(Forward(u"ab.cd", exchange), (LookupOutcome{"10.0.0.1", ""}));
}

TEST(ForwardLookup, NamesThatCannotBeQueriedSendNothing) {
  const std::u16string label64(64, u'a');
  for (std::u16string_view name : {std::u16string_view(u""), std::u16string_view(u".ab"),
                                   std::u16string_view(u"a..b"), std::u16string_view(label64),
                                   std::u16string_view(u"caf\u00e9\u0100.example")}) {
    StandInExchange exchange(ForwardReply(ReplyFlags2(), 1, {AAnswer(10, 0, 0, 1)}));
    EXPECT_EQ(Forward(name, exchange), kUnresolvedName);
    EXPECT_TRUE(exchange.sent.empty());
  }
}

namespace {

Packet ReverseReply(std::uint8_t flags2, std::uint8_t answerCount, std::initializer_list<Packet> answers) {
  Packet reply = Join({Header(answerCount, flags2),  // ID 12345, QR RD, RA + RCODE
                       Question(DottedName("1.2.0.192.in-addr.arpa"), vbDNS::TYPE_PTR)});  // at offset 12
  for (const Packet& answer : answers) reply = Join({reply, answer});
  return reply;
}

// PTR answers: owner pointer to offset 12, class IN (or another), TTL 60, then the name.
Packet PtrAnswer(const Packet& name, std::uint16_t rrClass = vbDNS::CLASS_IN) {
  return Record(kQuestionName, vbDNS::TYPE_PTR, name, 60, rrClass);
}
constexpr std::uint16_t CLASS_CH = 3;

LookupOutcome Reverse(std::u16string_view text, StandInExchange& exchange) {
  return vavizav::resolver::ReverseLookup(text, exchange);
}

}  // namespace

TEST(ReverseLookup, NameOfTheAddress) {
  StandInExchange exchange(ReverseReply(ReplyFlags2(), 1, {PtrAnswer(DottedName("host.test"))}));
  EXPECT_EQ(Reverse(u"192.0.2.1", exchange), (LookupOutcome{"host.test", ""}));
  ASSERT_EQ(exchange.sent.size(), 1u);
  EXPECT_EQ(exchange.sent[0].Question.QType, vbDNS::TYPE_PTR);
  EXPECT_EQ(exchange.sent[0].Question.QName.size(), 24u);  // 1.2.0.192.in-addr.arpa in wire form
}

TEST(ReverseLookup, LastPtrAnswerWins) {
  StandInExchange exchange(ReverseReply(ReplyFlags2(), 2, {PtrAnswer(Name({"a"})), PtrAnswer(Name({"b"}))}));
  EXPECT_EQ(Reverse(u"192.0.2.1", exchange), (LookupOutcome{"b", ""}));
}

TEST(ReverseLookup, OnlyInternetClassPtrAnswersCount) {
  StandInExchange chaosOnly(ReverseReply(ReplyFlags2(), 1, {PtrAnswer(Name({"a"}), CLASS_CH)}));
  EXPECT_EQ(Reverse(u"192.0.2.1", chaosOnly), kUnresolvedAddress);
  // A later answer of another class does not override the Internet one.
  StandInExchange internetThenChaos(
      ReverseReply(ReplyFlags2(), 2, {PtrAnswer(Name({"in"})), PtrAnswer(Name({"a"}), CLASS_CH)}));
  EXPECT_EQ(Reverse(u"192.0.2.1", internetThenChaos), (LookupOutcome{"in", ""}));
}

TEST(ReverseLookup, ControlCharactersArriveEscaped) {
  StandInExchange exchange(ReverseReply(ReplyFlags2(), 1, {PtrAnswer(Name({"a\r\n."}))}));
  EXPECT_EQ(Reverse(u"192.0.2.1", exchange), (LookupOutcome{"a\\013\\010\\.", ""}));
  // The characters a zone file gives a meaning stand as they are (dig would escape them).
  StandInExchange zoneCharacters(ReverseReply(ReplyFlags2(), 1, {PtrAnswer(Name({"a\"();@$"}))}));
  EXPECT_EQ(Reverse(u"192.0.2.1", zoneCharacters), (LookupOutcome{"a\"();@$", ""}));
}

TEST(ReverseLookup, EveryInternetPtrNameMustBeReadable) {
  // Octets after the name inside its data are left alone.
  StandInExchange trailing(ReverseReply(ReplyFlags2(), 1, {PtrAnswer(Join({Name({"h"}), {7, 7}}))}));
  EXPECT_EQ(Reverse(u"192.0.2.1", trailing), (LookupOutcome{"h", ""}));
  // A name running past its data, even in an answer before the last, leaves the reply unread.
  StandInExchange cut(ReverseReply(ReplyFlags2(), 2, {PtrAnswer(Packet{1, 'h'}), PtrAnswer(Name({"b"}))}));
  EXPECT_EQ(Reverse(u"192.0.2.1", cut), kUnresolvedAddress);
  // Another class's data is never read.
  StandInExchange chaos(ReverseReply(ReplyFlags2(), 2, {PtrAnswer(Packet{1, 'h'}, CLASS_CH), PtrAnswer(Name({"b"}))}));
  EXPECT_EQ(Reverse(u"192.0.2.1", chaos), (LookupOutcome{"b", ""}));
}

TEST(ReverseLookup, NoHostNameIsUnresolved) {
  StandInExchange rootName(ReverseReply(ReplyFlags2(), 1, {PtrAnswer(Name({}))}));
  EXPECT_EQ(Reverse(u"192.0.2.1", rootName), kUnresolvedAddress);
  StandInExchange noAnswers(ReverseReply(ReplyFlags2(), 0, {}));
  EXPECT_EQ(Reverse(u"192.0.2.1", noAnswers), kUnresolvedAddress);
  StandInExchange nameError(ReverseReply(ReplyFlags2(RCODE_NXDOMAIN), 0, {}));
  EXPECT_EQ(Reverse(u"192.0.2.1", nameError), kUnresolvedAddress);
  StandInExchange rcode8(ReverseReply(ReplyFlags2(RCODE_NXRRSET), 1, {PtrAnswer(Name({"a"}))}));
  EXPECT_EQ(Reverse(u"192.0.2.1", rcode8), kUnresolvedAddress);
  StandInExchange tooShort(Packet(11, 0));
  EXPECT_EQ(Reverse(u"192.0.2.1", tooShort), kUnresolvedAddress);
}

TEST(ReverseLookup, SilenceIsATimeOut) {
  StandInExchange silent(std::nullopt);
  EXPECT_EQ(Reverse(u"192.0.2.1", silent), kTimedOut);
}

TEST(ReverseLookup, TextThatIsNoAddressSendsNothing) {
  for (std::u16string_view text : {u"", u"1.2.3", u"1.2.3.", u"256.1.1.1", u"1.2.3.5.5", u" 1.2.3.4", u"1.2.3.\u0664"}) {
    StandInExchange exchange(ReverseReply(ReplyFlags2(), 0, {}));
    EXPECT_EQ(Reverse(text, exchange), (LookupOutcome{"", "IP Address not recognized"}));
    EXPECT_TRUE(exchange.sent.empty());
  }
}

TEST(ReverseLookup, AllOnesIsAnAddressLikeAnyOther) {
  StandInExchange exchange(std::nullopt);
  EXPECT_EQ(Reverse(u"255.255.255.255", exchange), kTimedOut);
  ASSERT_EQ(exchange.sent.size(), 1u);
  EXPECT_EQ(exchange.sent[0].Question.QName.view().substr(0, 4), "\x03" "255");
}
