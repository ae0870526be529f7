#include <gtest/gtest.h>

#include "fixtures.h"
#include "vbdns.h"

using namespace vbDNS;
using namespace fixtures;

namespace {

TEST(ParseReply, OneAddressAnswerReadWhole) {
  const auto reply = ParseReply(TYPE_A, REPLY_AB_CD);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->Header, (DNSHeader{12345, REPLY_FLAGS1, ReplyFlags2(), 1, 1, 0, 0}));
  EXPECT_EQ(reply->Question, (DNSReplyQuestion{NameText("ab.cd"), TYPE_A, CLASS_IN}));
  EXPECT_EQ(reply->Answer,
            (DNSAnswer{NameText("ab.cd"), TYPE_A, CLASS_IN, 60, 4, AnswerData(Octets({0x0A, 0, 0, 1}))}));
}

TEST(ParseReply, EveryShorterCutFails) {
  for (std::size_t size = 0; size < REPLY_AB_CD.size(); ++size) {
    EXPECT_FALSE(ParseReply(TYPE_A, Cut(REPLY_AB_CD, size))) << size << " octets";
  }
}

TEST(ParseReply, SectionCounts) {
  EXPECT_FALSE(ParseReply(TYPE_A, Patched(REPLY_AB_CD, 7, 2))) << "ANCount beyond the answers present";
  EXPECT_FALSE(ParseReply(TYPE_A, Patched(REPLY_AB_CD, 5, 2))) << "two questions";
  const auto noAnswers = ParseReply(TYPE_A, Patched(REPLY_AB_CD, 7, 0));
  ASSERT_TRUE(noAnswers);
  EXPECT_EQ(noAnswers->Answer, DNSAnswer{});
  const auto noQuestion = ParseReply(TYPE_A, Patched(Patched(REPLY_AB_CD, 5, 0), 7, 0));
  ASSERT_TRUE(noQuestion);
  EXPECT_EQ(noQuestion->Question, DNSReplyQuestion{});
  // Authority and additional records are counted, not read.
  EXPECT_TRUE(ParseReply(TYPE_A, Patched(Patched(REPLY_AB_CD, 9, 5), 11, 5)));
}

TEST(ParseReply, WireFieldsAreUnsigned) {
  EXPECT_EQ(Parsed(TYPE_A, Patched(Patched(REPLY_AB_CD, 0, 0x80), 1, 0x00)).Header.ID, 0x8000);
  Packet ttl = REPLY_AB_CD;
  std::fill(ttl.begin() + 29, ttl.begin() + 33, 0xFF);
  EXPECT_EQ(Parsed(TYPE_A, ttl).Answer.TTL, 4294967295u);
  EXPECT_EQ(Parsed(TYPE_A, Patched(REPLY_AB_CD, 25, 0xFF)).Answer.AType, 0xFF01);
}

TEST(ParseReply, RCodeUsesAllFourBits) {
  EXPECT_TRUE(RCodeIsNoError(ReplyFlags2(RCODE_NOERROR)));
  EXPECT_FALSE(RCodeIsNoError(ReplyFlags2(RCODE_NXDOMAIN)));
  EXPECT_FALSE(RCodeIsNoError(ReplyFlags2(RCODE_NXRRSET)));  // the high RCODE bit alone
  EXPECT_FALSE(RCodeIsNoError(Parsed(TYPE_A, Patched(REPLY_AB_CD, 3, ReplyFlags2(RCODE_NXRRSET))).Header.Flags2));
}

TEST(ParseReply, AddressAnswersAroundAliases) {
  const auto cnameFirst = ParseReply(TYPE_A, Join({Header(3), QUESTION_WWW, CNAME_WWW, AnswerA(1), AnswerA(2)}));
  ASSERT_TRUE(cnameFirst);
  EXPECT_EQ(cnameFirst->Question.QName, "www.ab.cd");
  EXPECT_EQ(cnameFirst->Answer.AType, TYPE_A);
  EXPECT_EQ(cnameFirst->Answer.RData, Octets({10, 0, 0, 1, 10, 0, 0, 2}));

  const auto cnameLast = ParseReply(TYPE_A, Join({Header(3), QUESTION_WWW, AnswerA(1), AnswerA(2), CNAME_WWW}));
  ASSERT_TRUE(cnameLast);
  EXPECT_EQ(cnameLast->Answer.AName, "www.ab.cd");
  EXPECT_EQ(cnameLast->Answer.AType, TYPE_CNAME);
  EXPECT_EQ(cnameLast->Answer.RDLength, 2);
  EXPECT_EQ(cnameLast->Answer.RData, Octets({10, 0, 0, 1, 10, 0, 0, 2}));
}

TEST(ParseReply, OnlyInternetFourOctetAddressesAreCollected) {
  const Packet sixOctets = Record(Pointer(16), TYPE_A, {1, 2, 3, 4, 5, 6});
  const Packet chaos = Patched(AnswerA(9), 5, 3);  // AClass CH
  const auto reply = ParseReply(TYPE_A, Join({Header(4), QUESTION_WWW, sixOctets, AnswerA(1), chaos, AnswerA(2)}));
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->Answer.RData, Octets({10, 0, 0, 1, 10, 0, 0, 2}));
  EXPECT_EQ(Parsed(TYPE_PTR, REPLY_AB_CD).Answer.RData, "") << "addresses are not collected for PTR";
}

const Packet PTR_PLAIN = {
    0xC0, 0x0C,                                   // owner -> 1.in-addr.arpa
    0x00, 0x0C, 0x00, 0x01,                       // PTR IN
    0x00, 0x00, 0x00, 0x3C,                       // TTL 60
    0x00, 0x09,                                   // RDLength 9
    4, 'h', 'o', 's', 't', 2, 'a', 'b', 0,        // host.ab
};
const Packet PTR_LABEL_THEN_POINTER = {
    0xC0, 0x0C, 0x00, 0x0C, 0x00, 0x01,           // owner -> 12, PTR IN
    0x00, 0x00, 0x00, 0x3C, 0x00, 0x08,           // TTL 60, RDLength 8
    5, 'h', 'o', 's', 't', '2', 0xC0, 0x0E,       // host2 -> in-addr.arpa at 14
};

TEST(ParseReply, PointerNames) {
  EXPECT_EQ(Parsed(TYPE_PTR, Join({Header(1), QUESTION_PTR, PTR_PLAIN})).Answer.RData, "host.ab");
  EXPECT_EQ(Parsed(TYPE_PTR, Join({Header(1), QUESTION_PTR, PTR_LABEL_THEN_POINTER})).Answer.RData,
            "host2.in-addr.arpa");
  const auto two = ParseReply(TYPE_PTR, Join({Header(2), QUESTION_PTR, PTR_PLAIN, PTR_LABEL_THEN_POINTER}));
  ASSERT_TRUE(two);
  EXPECT_EQ(two->Answer.RData, "host2.in-addr.arpa");
  EXPECT_EQ(Parsed(TYPE_PTR, Join({Header(1), QUESTION_PTR, Record(Pointer(12), TYPE_PTR, {0})})).Answer.RData,
            "");
  EXPECT_EQ(Parsed(TYPE_A, Join({Header(1), QUESTION_PTR, PTR_PLAIN})).Answer.RData, "");
}

TEST(ParseReply, OnlyInternetPointerNamesAreCollected) {
  const Packet chaos = Patched(PTR_PLAIN, 5, 3);  // AClass CH
  EXPECT_EQ(Parsed(TYPE_PTR, Join({Header(1), QUESTION_PTR, chaos})).Answer.RData, "");
  EXPECT_EQ(Parsed(TYPE_PTR, Join({Header(2), QUESTION_PTR, PTR_PLAIN, chaos})).Answer.RData, "host.ab");
  // Another class's data is skipped by RDLength, not decoded: a pointer to
  // itself there breaks nothing.
  const Packet badName = Record(Pointer(12), TYPE_PTR, Pointer(44));  // its data at 44
  const auto skipped = ParseReply(TYPE_PTR, Join({Header(1), QUESTION_PTR, Patched(badName, 5, 3)}));
  ASSERT_TRUE(skipped);
  EXPECT_EQ(skipped->Answer.AClass, 3);
  EXPECT_EQ(skipped->Answer.RData, "");
  EXPECT_FALSE(ParseReply(TYPE_PTR, Join({Header(1), QUESTION_PTR, badName}))) << "decoded for class IN";
}

TEST(ParseReply, PointerNameMustFitItsData) {
  const Packet reply = Join({Header(1), QUESTION_PTR, PTR_PLAIN});
  const std::size_t rdLength = 32 + 11;
  EXPECT_FALSE(ParseReply(TYPE_PTR, Patched(reply, rdLength, 8)));
  EXPECT_FALSE(ParseReply(TYPE_PTR, Patched(reply, rdLength, 0)));
  EXPECT_FALSE(ParseReply(TYPE_PTR, Patched(reply, rdLength, 10)));
  EXPECT_TRUE(ParseReply(TYPE_PTR, Join({Patched(reply, rdLength, 10), {0}}))) << "octets after the name";
  const Packet labelThenPointer = Join({Header(1), QUESTION_PTR, PTR_LABEL_THEN_POINTER});
  EXPECT_FALSE(ParseReply(TYPE_PTR, Patched(labelThenPointer, rdLength, 7))) << "pointer cut by RDLength";
  EXPECT_TRUE(ParseReply(TYPE_A, Patched(reply, rdLength, 0))) << "not decoded for A";
}

TEST(ReplyMatchesQuery, SameIdResponseAndQuestion) {
  const DNSQuestion sent = Built(TYPE_A, "AB.cd.").Question;
  EXPECT_TRUE(ReplyMatchesQuery(REPLY_AB_CD, 12345, sent));
  EXPECT_FALSE(ReplyMatchesQuery(REPLY_AB_CD, 12346, sent));
  EXPECT_TRUE(ReplyMatchesQuery(Patched(Patched(REPLY_AB_CD, 0, 0x80), 1, 0), 0x8000, sent));
  EXPECT_FALSE(ReplyMatchesQuery(Patched(REPLY_AB_CD, 2, 0x01), 12345, sent)) << "QR clear";
  EXPECT_TRUE(ReplyMatchesQuery(Patched(REPLY_AB_CD, 5, 0), 12345, sent)) << "no question";
  EXPECT_FALSE(ReplyMatchesQuery(Patched(REPLY_AB_CD, 5, 2), 12345, sent)) << "two questions";
  EXPECT_FALSE(ReplyMatchesQuery(Patched(REPLY_AB_CD, 13, 'x'), 12345, sent)) << "other name";
  EXPECT_FALSE(ReplyMatchesQuery(Patched(REPLY_AB_CD, 20, 0x1C), 12345, sent)) << "other type";
  EXPECT_FALSE(ReplyMatchesQuery(Patched(REPLY_AB_CD, 22, 0x03), 12345, sent)) << "other class";
  EXPECT_FALSE(ReplyMatchesQuery(Cut(REPLY_AB_CD, 11), 12345, sent));
  EXPECT_FALSE(ReplyMatchesQuery(Cut(REPLY_AB_CD, 22), 12345, sent));
  EXPECT_TRUE(ReplyMatchesQuery(Cut(REPLY_AB_CD, 23), 12345, sent)) << "answers are not its concern";
}

}  // namespace
