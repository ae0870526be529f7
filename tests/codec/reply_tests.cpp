// The first class's read of a reply (ReadScope::AnswerOctets), the name in a
// record's data (AppendDataName), and the exchange's check of a reply against
// its query.
#include <gtest/gtest.h>

#include "codec/message.h"
#include "codec/vbdns.h"
#include "fixtures.h"

using namespace vbDNS;
using namespace fixtures;

namespace {

std::optional<Message> AnswersOf(const Packet& packet) { return ReadMessage(packet, ReadScope::AnswerOctets); }

TEST(AnswerOctets, ReadsHeaderQuestionAndAnswers) {
  const auto message = AnswersOf(REPLY_AB_CD);
  ASSERT_TRUE(message);
  EXPECT_EQ(message->Header(), (DNSHeader{12345, REPLY_FLAGS1, ReplyFlags2(), 1, 1, 0, 0}));
  EXPECT_EQ(NameTextOf(*message, message->QuestionName()), "ab.cd.");
  ASSERT_EQ(message->Records(Section::Answer).size(), 1u);
  const ResourceRecord& answer = message->Records(Section::Answer)[0];
  EXPECT_EQ(answer.Type, TYPE_A);
  EXPECT_EQ(answer.TTL, 60u);
  EXPECT_EQ(answer.RDataOffset, 35);
  EXPECT_EQ(answer.RDataLength, 4);
  EXPECT_FALSE(answer.Typed) << "data stays octets";

  for (std::size_t size = 0; size < REPLY_AB_CD.size(); ++size) {
    EXPECT_FALSE(AnswersOf(Cut(REPLY_AB_CD, size))) << size << " octets";
  }
  EXPECT_FALSE(AnswersOf(Patched(REPLY_AB_CD, 7, 2))) << "ANCount beyond the answers present";
  EXPECT_FALSE(AnswersOf(Patched(REPLY_AB_CD, 5, 2))) << "two questions";
  EXPECT_FALSE(AnswersOf(Patched(REPLY_AB_CD, 24, 25))) << "an owner's forward pointer";
  EXPECT_FALSE(AnswersOf(Patched(REPLY_AB_CD, 34, 5))) << "RDLength past the end";
  EXPECT_TRUE(AnswersOf(Join({REPLY_AB_CD, {1, 2, 3}}))) << "octets after the counted records";
}

// What the whole read refuses outside the answers, or in the answers' data,
// the first class never looked at: such replies still answer it.
TEST(AnswerOctets, LeavesTheOtherSectionsAndTheDataUnread) {
  const Packet countsPastTheEnd = Patched(Patched(REPLY_AB_CD, 9, 5), 11, 5);
  EXPECT_FALSE(ReadMessage(countsPastTheEnd));
  const auto answersOnly = AnswersOf(countsPastTheEnd);
  ASSERT_TRUE(answersOnly);
  EXPECT_EQ(answersOnly->Records(Section::Answer).size(), 1u);
  EXPECT_TRUE(answersOnly->Records(Section::Authority).empty());
  EXPECT_TRUE(answersOnly->Records(Section::Additional).empty());

  const Packet sixOctets = Record(Pointer(16), TYPE_A, {1, 2, 3, 4, 5, 6});
  const Packet badCname = Record(Pointer(12), TYPE_CNAME, Pointer(60));  // forward pointer in the data
  const Packet answers = Join({Header(3), QUESTION_WWW, sixOctets, badCname, Opt(1232)});
  EXPECT_FALSE(ReadMessage(answers));
  const auto read = AnswersOf(answers);
  ASSERT_TRUE(read);
  ASSERT_EQ(read->Records(Section::Answer).size(), 3u);
  EXPECT_EQ(read->Records(Section::Answer)[2].Type, TYPE_OPT) << "an OPT among the answers is a record like any";
  EXPECT_FALSE(read->Edns());
  EXPECT_EQ(DataText(*read, read->Records(Section::Answer)[0]), "\\# 6 010203040506");
}

const Packet PTR_PLAIN = {
    0xC0, 0x0C,                                   // owner -> 1.in-addr.arpa
    0x00, 0x0C, 0x00, 0x01,                       // PTR IN
    0x00, 0x00, 0x00, 0x3C,                       // TTL 60
    0x00, 0x09,                                   // RDLength 9
    4, 'h', 'o', 's', 't', 2, 'a', 'b', 0,        // 44 host.ab
};
const Packet PTR_LABEL_THEN_POINTER = {
    0xC0, 0x0C, 0x00, 0x0C, 0x00, 0x01,           // owner -> 12, PTR IN
    0x00, 0x00, 0x00, 0x3C, 0x00, 0x08,           // TTL 60, RDLength 8
    5, 'h', 'o', 's', 't', '2', 0xC0, 0x0E,       // host2 -> in-addr.arpa at 14
};
constexpr std::size_t PTR_RDLENGTH_LOW = 32 + 11;  // the low octet of the first answer's RDLength

// The host text of the first answer's data name; "!" when it is no name.
std::string DataNameText(const Packet& packet) {
  const auto message = AnswersOf(packet);
  if (!message) return "unreadable";
  std::string text = "kept";
  if (!AppendDataName(*message, message->Records(Section::Answer)[0], NameStyle::Host, text)) {
    EXPECT_EQ(text, "kept") << "nothing appended";
    return "!";
  }
  return text.substr(4);
}

TEST(AppendDataName, TheNameAtTheStartOfTheData) {
  EXPECT_EQ(DataNameText(Join({Header(1), QUESTION_PTR, PTR_PLAIN})), "host.ab");
  EXPECT_EQ(DataNameText(Join({Header(1), QUESTION_PTR, PTR_LABEL_THEN_POINTER})), "host2.in-addr.arpa");
  EXPECT_EQ(DataNameText(Join({Header(1), QUESTION_PTR, Record(Pointer(12), TYPE_PTR, {0})})), "") << "the root";
}

TEST(AppendDataName, ItsOwnOctetsLieWithinTheData) {
  const Packet reply = Join({Header(1), QUESTION_PTR, PTR_PLAIN});
  EXPECT_EQ(DataNameText(Patched(reply, PTR_RDLENGTH_LOW, 8)), "!") << "the final zero outside";
  EXPECT_EQ(DataNameText(Patched(reply, PTR_RDLENGTH_LOW, 0)), "!") << "no data";
  EXPECT_EQ(DataNameText(Patched(reply, PTR_RDLENGTH_LOW, 10)), "unreadable") << "data past the end";
  EXPECT_EQ(DataNameText(Join({Patched(reply, PTR_RDLENGTH_LOW, 10), {0}})), "host.ab") << "octets after the name";
  const Packet labelThenPointer = Join({Header(1), QUESTION_PTR, PTR_LABEL_THEN_POINTER});
  EXPECT_EQ(DataNameText(Patched(labelThenPointer, PTR_RDLENGTH_LOW, 7)), "!") << "pointer cut by RDLength";
  EXPECT_EQ(DataNameText(Join({Header(1), QUESTION_PTR, Record(Pointer(12), TYPE_PTR, Pointer(44))})), "!")
      << "a pointer to the data itself";
}

TEST(CheckReply, MatchesOnIdResponseAndQuestion) {
  const DNSQuestion sent = Built(TYPE_A, "AB.cd.").Question;
  EXPECT_TRUE(Matches(REPLY_AB_CD, 12345, sent));
  EXPECT_FALSE(Matches(REPLY_AB_CD, 12346, sent));
  EXPECT_TRUE(Matches(Patched(Patched(REPLY_AB_CD, 0, 0x80), 1, 0), 0x8000, sent));
  EXPECT_FALSE(Matches(Patched(REPLY_AB_CD, 2, 0x01), 12345, sent)) << "QR clear";
  EXPECT_TRUE(Matches(Patched(REPLY_AB_CD, 5, 0), 12345, sent)) << "no question";
  EXPECT_FALSE(Matches(Patched(REPLY_AB_CD, 5, 2), 12345, sent)) << "two questions";
  EXPECT_FALSE(Matches(Patched(REPLY_AB_CD, 13, 'x'), 12345, sent)) << "other name";
  EXPECT_FALSE(Matches(Patched(REPLY_AB_CD, 20, 0x1C), 12345, sent)) << "other type";
  EXPECT_FALSE(Matches(Patched(REPLY_AB_CD, 22, 0x03), 12345, sent)) << "other class";
  EXPECT_FALSE(Matches(Cut(REPLY_AB_CD, 11), 12345, sent));
  EXPECT_FALSE(Matches(Cut(REPLY_AB_CD, 22), 12345, sent));
  EXPECT_TRUE(Matches(Cut(REPLY_AB_CD, 23), 12345, sent)) << "answers are not its concern";
}

}  // namespace
