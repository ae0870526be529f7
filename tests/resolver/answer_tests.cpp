// The second class's decisions: question types as scripts write them, the
// questions names make (reverse names for PTR), and the Answer a reply makes
// (status, records of the asked type at the end of CNAME and DNAME chains,
// canonical name, text). Replies come from the shared packet builder.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "packets.h"
#include "resolver/answer.h"

using namespace vavizav::packets;
using vavizav::resolver::AnswerModel;
using vavizav::resolver::BuildResolverQuestion;
using vavizav::resolver::JudgeReply;
using vavizav::resolver::ParseQuestionType;
using vavizav::resolver::StatusText;
using vbDNS::Packet;

namespace {

constexpr std::uint16_t MX = 15, TXT = 16, AAAA = 28, DNAME = 39;

// Offset 12: the question's name, right after the header.
const Packet kQuestionName = Pointer(vbDNS::HEADER_SIZE);

vbDNS::DNSQuery Ask(std::string_view name, std::uint16_t type) {
  const std::optional<vbDNS::DNSQuery> query = BuildResolverQuestion(name, type);
  EXPECT_TRUE(query.has_value()) << name;
  return query.value_or(vbDNS::DNSQuery{});
}

// A reply to `name`/`type` with the given answer records.
Packet Reply(std::string_view name, std::uint16_t type, std::vector<Packet> answers, std::uint8_t flags2 = ReplyFlags2()) {
  Packet reply = Join({Header(static_cast<std::uint8_t>(answers.size()), flags2),  // ID, QR RD, RA + RCODE, counts
                       Question(DottedName(name), type)});                        // the question at offset 12
  for (const Packet& answer : answers) reply = Join({reply, answer});
  return reply;
}

std::vector<std::string> Datas(const AnswerModel& answer) {
  std::vector<std::string> datas;
  for (const vavizav::resolver::RecordModel& record : answer.Records) datas.push_back(record.Data);
  return datas;
}

TEST(QuestionType, MnemonicsWithoutRegardToCaseAndNumbersFromOneTo65535) {
  EXPECT_EQ(ParseQuestionType("A"), 1);
  EXPECT_EQ(ParseQuestionType("mx"), MX);
  EXPECT_EQ(ParseQuestionType("Aaaa"), AAAA);
  EXPECT_EQ(ParseQuestionType("caa"), 257);
  EXPECT_EQ(ParseQuestionType("TYPE65534"), 65534);
  EXPECT_EQ(ParseQuestionType("15"), MX);
  EXPECT_EQ(ParseQuestionType("65535"), 65535);
  EXPECT_EQ(ParseQuestionType("00016"), TXT);
  for (const char* refused : {"", "0", "65536", "100000", "-1", "+1", "1x", " MX", "MX ", "M X", "TYPE0", "BOGUS"}) {
    EXPECT_EQ(ParseQuestionType(refused), std::nullopt) << refused;
  }
}

TEST(Question, PtrOfAnAddressAsksItsReverseNameAnyOtherNameAsItIs) {
  const vbDNS::DNSQuery v4 = Ask("192.0.2.10", vbDNS::TYPE_PTR);
  EXPECT_EQ(v4.Question.QName.view(), std::string_view(reinterpret_cast<const char*>(
                                           DottedName("10.2.0.192.in-addr.arpa").data()), 25));
  EXPECT_EQ(v4.Question.QType, vbDNS::TYPE_PTR);
  EXPECT_EQ(v4.Question.QClass, vbDNS::CLASS_IN);

  const vbDNS::DNSQuery v6 = Ask("2001:db8::1", vbDNS::TYPE_PTR);
  const Packet v6Name = DottedName("1.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.8.b.d.0.1.0.0.2.ip6.arpa");
  EXPECT_EQ(v6.Question.QName.view(), std::string_view(reinterpret_cast<const char*>(v6Name.data()), v6Name.size()));

  // A name under PTR, and an address under any other type, go out as given.
  const Packet already = DottedName("1.2.0.192.in-addr.arpa");
  EXPECT_EQ(Ask("1.2.0.192.in-addr.arpa", vbDNS::TYPE_PTR).Question.QName.view(),
            std::string_view(reinterpret_cast<const char*>(already.data()), already.size()));
  const Packet address = DottedName("192.0.2.10");
  EXPECT_EQ(Ask("192.0.2.10", MX).Question.QName.view(),
            std::string_view(reinterpret_cast<const char*>(address.data()), address.size()));
  EXPECT_EQ(Ask("example.test", 65534).Question.QType, 65534);
}

TEST(Question, NamesTheCodecRefusesCannotBeAsked) {
  for (const std::string& name : {std::string(), std::string("a..b"), std::string(".a"), std::string(64, 'x') + ".test",
                                  std::string(130, 'a').replace(1, 1, ".").replace(3, 1, ".") + std::string(128, 'b')}) {
    EXPECT_EQ(BuildResolverQuestion(name, MX), std::nullopt) << name;
  }
  EXPECT_EQ(BuildResolverQuestion("example.test", 0), std::nullopt);
}

TEST(Judge, RecordsOfTheAskedTypeInReplyOrderOthersLeftOut) {
  const Packet reply = Reply("mail.test", MX, {
      Record(kQuestionName, MX, Join({U16(20), DottedName("mx2.mail.test")})),  // MX 20 mx2.mail.test.
      Record(kQuestionName, TXT, {3, 'x', 'y', 'z'}),                             // TXT "xyz": another type
      Record(kQuestionName, MX, Join({U16(10), DottedName("mx1.mail.test")})),  // MX 10 mx1.mail.test.
      Record(DottedName("other.test"), MX, Join({U16(5), DottedName("x.test")})),  // MX at another name
  });
  const AnswerModel answer = JudgeReply(reply, Ask("mail.test", MX));
  EXPECT_EQ(StatusText(answer.Status), "NOERROR");
  EXPECT_EQ(Datas(answer), (std::vector<std::string>{"20 mx2.mail.test.", "10 mx1.mail.test."}));
  EXPECT_EQ(answer.CanonicalName, "mail.test.");
  ASSERT_EQ(answer.Records.size(), 2u);
  EXPECT_EQ(answer.Records[0].Name, "mail.test.");
  EXPECT_EQ(answer.Records[0].Type, MX);
  EXPECT_EQ(answer.Records[0].TTL, 60u);
  EXPECT_EQ(answer.Records[0].Fields.Preference, 20);
  EXPECT_EQ(answer.Records[0].Fields.Target, "mx2.mail.test.");
  EXPECT_EQ(vavizav::resolver::AnswerText(answer), "20 mx2.mail.test.\r\n10 mx1.mail.test.");
}

TEST(Judge, CnameChainFollowedInReplyOrderWithoutRegardToCase) {
  // www.test CNAME Alias.TEST; alias.test CNAME host.test; host.test A 192.0.2.7
  const Packet reply = Reply("www.test", vbDNS::TYPE_A, {
      Record(kQuestionName, vbDNS::TYPE_CNAME, DottedName("Alias.TEST")),
      Record(DottedName("alias.test"), vbDNS::TYPE_CNAME, DottedName("host.test")),
      Record(DottedName("host.test"), vbDNS::TYPE_A, {192, 0, 2, 7}),
      Record(DottedName("elsewhere.test"), vbDNS::TYPE_A, {192, 0, 2, 8}),
  });
  const AnswerModel answer = JudgeReply(reply, Ask("www.test", vbDNS::TYPE_A));
  EXPECT_EQ(Datas(answer), std::vector<std::string>{"192.0.2.7"});
  EXPECT_EQ(answer.Records.at(0).Fields.Address, "192.0.2.7");
  EXPECT_EQ(answer.CanonicalName, "host.test.");

  // Asked for CNAME itself: the first link is the answer, not followed.
  const Packet cnameReply = Reply("www.test", vbDNS::TYPE_CNAME, {
      Record(kQuestionName, vbDNS::TYPE_CNAME, DottedName("alias.test"))});
  const AnswerModel cname = JudgeReply(cnameReply, Ask("www.test", vbDNS::TYPE_CNAME));
  EXPECT_EQ(Datas(cname), std::vector<std::string>{"alias.test."});
  EXPECT_EQ(cname.CanonicalName, "www.test.");
}

TEST(Judge, DnameRewritesNamesBelowItsOwner) {
  // x.old.test under DNAME old.test -> new.test, no synthesized CNAME in the
  // reply: the A record at x.new.test is the answer.
  const Packet reply = Reply("x.old.test", vbDNS::TYPE_A, {
      Record(DottedName("old.test"), DNAME, DottedName("new.test")),
      Record(DottedName("x.new.test"), vbDNS::TYPE_A, {198, 51, 100, 1}),
  });
  const AnswerModel answer = JudgeReply(reply, Ask("x.old.test", vbDNS::TYPE_A));
  EXPECT_EQ(Datas(answer), std::vector<std::string>{"198.51.100.1"});
  EXPECT_EQ(answer.CanonicalName, "x.new.test.");

  // The DNAME's owner itself is not rewritten; asked for DNAME, it is the answer.
  const Packet own = Reply("old.test", vbDNS::TYPE_A, {Record(kQuestionName, DNAME, DottedName("new.test"))});
  EXPECT_TRUE(JudgeReply(own, Ask("old.test", vbDNS::TYPE_A)).Records.empty());
  EXPECT_EQ(Datas(JudgeReply(own, Ask("old.test", DNAME))), std::vector<std::string>{"new.test."});
}

TEST(Judge, ChainsThatLoopOrLeadNowhereEndWithoutRecords) {
  const Packet loop = Reply("a.test", vbDNS::TYPE_A, {
      Record(kQuestionName, vbDNS::TYPE_CNAME, DottedName("b.test")),
      Record(DottedName("b.test"), vbDNS::TYPE_CNAME, DottedName("A.test")),
  });
  const AnswerModel looped = JudgeReply(loop, Ask("a.test", vbDNS::TYPE_A));
  EXPECT_EQ(StatusText(looped.Status), "NOERROR");
  EXPECT_TRUE(looped.Records.empty());
  EXPECT_EQ(looped.CanonicalName, "b.test.");
  EXPECT_EQ(vavizav::resolver::AnswerText(looped), "");

  // NXDOMAIN at the end of a chain: the status is the server's, the name the chain's.
  const Packet nx = Reply("www.test", vbDNS::TYPE_A, {Record(kQuestionName, vbDNS::TYPE_CNAME, DottedName("gone.test"))},
                          ReplyFlags2(RCODE_NXDOMAIN));
  const AnswerModel missing = JudgeReply(nx, Ask("www.test", vbDNS::TYPE_A));
  EXPECT_EQ(StatusText(missing.Status), "NXDOMAIN");
  EXPECT_TRUE(missing.Records.empty());
  EXPECT_EQ(missing.CanonicalName, "gone.test.");
}

TEST(Judge, StatusIsTheRcodeMnemonicOrMalformed) {
  EXPECT_EQ(StatusText(JudgeReply(Reply("x.test", MX, {}, ReplyFlags2(RCODE_SERVFAIL)), Ask("x.test", MX)).Status), "SERVFAIL");
  EXPECT_EQ(StatusText(JudgeReply(Reply("x.test", MX, {}, ReplyFlags2(RCODE_REFUSED)), Ask("x.test", MX)).Status), "REFUSED");
  EXPECT_EQ(StatusText(JudgeReply(Reply("x.test", MX, {}, ReplyFlags2(11)), Ask("x.test", MX)).Status), "DSOTYPENI");
  EXPECT_EQ(StatusText(JudgeReply(Reply("x.test", MX, {}, ReplyFlags2(12)), Ask("x.test", MX)).Status), "RCODE12");

  // ANCount 1 but the record is cut short inside its data.
  Packet cut = Reply("x.test", MX, {Record(kQuestionName, MX, Join({U16(10), DottedName("mx.x.test")}))});
  cut.resize(cut.size() - 3);
  const AnswerModel malformed = JudgeReply(cut, Ask("x.test", MX));
  EXPECT_EQ(StatusText(malformed.Status), "MALFORMED");
  EXPECT_TRUE(malformed.Records.empty());
  EXPECT_EQ(StatusText(JudgeReply(Packet{0x30, 0x39}, Ask("x.test", MX)).Status), "MALFORMED");
}

TEST(Judge, ATruncatedReplyWhoseTcpRetryFailedIsNoVerdictUnlessItIsAnError) {
  // TC with the one record that fitted: the records stay, NOERROR becomes TRUNCATED.
  Packet cut = Reply("many.test", vbDNS::TYPE_A, {Record(kQuestionName, vbDNS::TYPE_A, {192, 0, 2, 1})});
  cut[2] |= vbDNS::FLAG_TC;  // Flags1: QR RD TC
  const AnswerModel partial = vavizav::resolver::JudgeTruncatedReply(cut, Ask("many.test", vbDNS::TYPE_A));
  EXPECT_EQ(StatusText(partial.Status), "TRUNCATED");
  EXPECT_EQ(Datas(partial), std::vector<std::string>{"192.0.2.1"});

  // TC without answers, as unbound sends when the answer would not fit.
  Packet empty = Reply("many.test", vbDNS::TYPE_A, {});
  empty[2] |= vbDNS::FLAG_TC;
  EXPECT_EQ(StatusText(vavizav::resolver::JudgeTruncatedReply(empty, Ask("many.test", vbDNS::TYPE_A)).Status),
            "TRUNCATED");

  // An error code is the server's whole verdict, cut or not.
  Packet refused = Reply("many.test", vbDNS::TYPE_A, {}, ReplyFlags2(RCODE_REFUSED));
  refused[2] |= vbDNS::FLAG_TC;
  EXPECT_EQ(StatusText(vavizav::resolver::JudgeTruncatedReply(refused, Ask("many.test", vbDNS::TYPE_A)).Status),
            "REFUSED");
  EXPECT_EQ(
      StatusText(vavizav::resolver::JudgeTruncatedReply(Packet{0x30, 0x39}, Ask("many.test", vbDNS::TYPE_A)).Status),
      "MALFORMED");
}

TEST(Judge, OnlyTheQuestionsClassAndTtlsWithTheTopBitReadAsZero) {
  const Packet reply = Reply("t.test", TXT, {
      Record(kQuestionName, TXT, {2, 'c', 'h'}, 60, 3),                // class CH: not the question's
      Record(kQuestionName, TXT, Join({{6}, Packet{'v', '=', 's', 'p', 'f', '1'}, {3, ' ', '-', 'a'}}),
             0x80000001u),                                            // TTL over 2^31 - 1
  });
  const AnswerModel answer = JudgeReply(reply, Ask("t.test", TXT));
  ASSERT_EQ(answer.Records.size(), 1u);
  EXPECT_EQ(answer.Records[0].TTL, 0u);
  EXPECT_EQ(answer.Records[0].Data, "\"v=spf1\" \" -a\"");
  EXPECT_EQ(vavizav::resolver::JoinedStrings(answer.Records[0].Fields), "v=spf1 -a");
}

TEST(Judge, NoQuestionInTheReplyChainsFromTheAskedName) {
  Packet reply = {0x30, 0x39, REPLY_FLAGS1, ReplyFlags2(),  // ID, QR RD, RA NOERROR
                  0x00, 0x00, 0x00, 0x01,   // QDCount 0, ANCount 1
                  0x00, 0x00, 0x00, 0x00};  // NSCount, ARCount
  reply = Join({reply, Record(DottedName("n.test"), vbDNS::TYPE_A, {192, 0, 2, 1})});
  const AnswerModel answer = JudgeReply(reply, Ask("N.test", vbDNS::TYPE_A));
  EXPECT_EQ(Datas(answer), std::vector<std::string>{"192.0.2.1"});
  EXPECT_EQ(answer.CanonicalName, "N.test.");
}

TEST(Judge, AnAnswerWithoutReplyHasOnlyItsStatus) {
  const AnswerModel answer = vavizav::resolver::AnswerWithoutReply(vavizav::resolver::TIMEOUT_STATUS);
  EXPECT_EQ(StatusText(answer.Status), "TIMEOUT");
  EXPECT_TRUE(answer.Records.empty());
  EXPECT_EQ(answer.CanonicalName, "");
  EXPECT_EQ(vavizav::resolver::AnswerText(answer), "");
}

}  // namespace
