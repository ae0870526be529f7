// Name decoding wherever a name stands, with the RFC 9267 traps.
#include <gtest/gtest.h>

#include "fixtures.h"
#include "vbdns.h"

using namespace vbDNS;
using namespace fixtures;

namespace {

// A PTR reply whose answer name is built from a TXT record's data: three
// 63-octet labels, then a pointer to a label of `tailLabel` octets. Wire form:
// 3 x 64 + 1 + tailLabel + 1.
Packet NameAcrossPointer(std::uint8_t tailLabel) {
  Packet tail = {tailLabel};
  tail.resize(1 + tailLabel, 'x');
  tail.push_back(0);
  Packet head;
  for (int i = 0; i < 3; ++i) {
    head.push_back(63);
    head.resize(head.size() + 63, 'y');
  }
  const std::size_t tailOffset = 32 + 12;  // after the question and the TXT record's fixed part
  return Join({Header(2), QUESTION_PTR, Record(Pointer(12), TYPE_TXT, tail),
               Record(Pointer(12), TYPE_PTR, Join({head, Pointer(tailOffset)}))});
}

// A PTR reply whose answer name is a chain of `jumps` pointers ending at the
// root: TXT data holds the root, then pointers each leading to the one before.
Packet PointerChain(std::size_t jumps) {
  const auto link = [](std::size_t k) -> std::size_t { return k == 0 ? 44 : 44 + 2 * k - 1; };  // 44: TXT data
  Packet chain = {0};
  for (std::size_t k = 1; k < jumps; ++k) chain = Join({chain, Pointer(link(k - 1))});
  return Join({Header(2), QUESTION_PTR, Record(Pointer(12), TYPE_TXT, chain),
               Record(Pointer(12), TYPE_PTR, Pointer(link(jumps - 1)))});
}

TEST(NameDecoding, PointerTraps) {
  EXPECT_FALSE(ParseReply(TYPE_A, Patched(REPLY_AB_CD, 24, 25))) << "forward pointer";
  EXPECT_FALSE(ParseReply(TYPE_A, Patched(REPLY_AB_CD, 24, 23))) << "self pointer";
  EXPECT_FALSE(ParseReply(TYPE_A, Patched(Patched(REPLY_AB_CD, 12, 0xC0), 13, 12))) << "question pointing at itself";
  EXPECT_FALSE(ParseReply(TYPE_A, Cut(REPLY_AB_CD, 24))) << "pointer in the last octet";
  EXPECT_FALSE(ParseReply(TYPE_A, Patched(REPLY_AB_CD, 23, 0xC1))) << "pointer past the end";
  EXPECT_TRUE(ParseReply(TYPE_A, Patched(REPLY_AB_CD, 24, 15))) << "pointer into the middle of a name";
  EXPECT_EQ(Parsed(TYPE_A, Patched(REPLY_AB_CD, 24, 15)).Answer.AName, "cd");

  const Packet loop = {
      0x30, 0x39, REPLY_FLAGS1, ReplyFlags2(), 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00,  //  0 header, QD 0, AN 2
      0x00,                                                                    // 12 owner: root
      0x00, 0x10, 0x00, 0x01, 0x00, 0x00, 0x00, 0x3C, 0x00, 0x02,              // 13 TXT IN, TTL 60, RDLength 2
      0xC0, 0x19,                                                              // 23 its data: -> 25
      0xC0, 0x17,                                                              // 25 owner -> 23
      0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x3C, 0x00, 0x00,              // 27 A IN, TTL 60, RDLength 0
  };
  EXPECT_FALSE(ParseReply(TYPE_A, loop)) << "two-pointer loop";
  EXPECT_TRUE(ParseReply(TYPE_A, Patched(loop, 24, 0x0C))) << "the same layout without the loop";
}

TEST(NameDecoding, LabelTypesAndLengths) {
  EXPECT_FALSE(ParseReply(TYPE_A, Patched(REPLY_AB_CD, 12, 0x40))) << "reserved label type 01";
  EXPECT_FALSE(ParseReply(TYPE_A, Patched(REPLY_AB_CD, 12, 0x80))) << "reserved label type 10";
  EXPECT_FALSE(ParseReply(TYPE_A, Patched(REPLY_AB_CD, 15, 0x3F))) << "label runs past the end";

  const auto withLabel = [](std::uint8_t length) {
    Packet qname = {length};
    qname.resize(1 + length, 'q');
    qname.push_back(0);
    return Join({Header(0), qname, {0x00, 0x01, 0x00, 0x01}});
  };
  EXPECT_EQ(Parsed(TYPE_A, withLabel(63)).Question.QName, std::string(63, 'q'));
  EXPECT_FALSE(ParseReply(TYPE_A, withLabel(64)));
}

TEST(NameDecoding, NameLengthCountsOctetsReachedThroughPointers) {
  const auto longest = ParseReply(TYPE_PTR, NameAcrossPointer(61));
  ASSERT_TRUE(longest);
  EXPECT_EQ(longest->Answer.RData.size(), 3 * 64 + 61u);
  EXPECT_FALSE(ParseReply(TYPE_PTR, NameAcrossPointer(62)));
}

TEST(NameDecoding, AtMost128Jumps) {
  const auto chained = ParseReply(TYPE_PTR, PointerChain(128));
  ASSERT_TRUE(chained);
  EXPECT_EQ(chained->Answer.RData, "") << "the chain ends at the root";
  EXPECT_FALSE(ParseReply(TYPE_PTR, PointerChain(129)));
}

// A name in wire form of labels of the given lengths, every octet `fill`.
Packet LabelsOf(std::initializer_list<std::uint8_t> lengths, std::uint8_t fill) {
  Packet name;
  for (const std::uint8_t length : lengths) {
    name.push_back(length);
    name.insert(name.end(), length, fill);
  }
  name.push_back(0);
  return name;
}

TEST(NameDecoding, LongestNamesFitTheirRecords) {
  // 255 octets in wire form, every octet printed "\DDD": the longest text.
  const Packet question = Join({LabelsOf({63, 63, 63, 61}, 0x01), {0x00, 0x0C, 0x00, 0x01}});  // 12 PTR IN
  const auto reply = ParseReply(TYPE_PTR, Join({Header(1), question, Record(Pointer(12), TYPE_PTR, Pointer(12))}));
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->Question.QName.size(), 4 * 250 + 3u);
  EXPECT_EQ(reply->Question.QName.view().substr(0, 8), R"(\001\001)");
  EXPECT_EQ(reply->Answer.AName, reply->Question.QName);
  EXPECT_EQ(reply->Answer.RData, reply->Question.QName.view());

  // The matcher reads the reply's question into a wire name of exactly 255 octets.
  const DNSQuestion sent = Built(TYPE_A, std::string(63, 'x') + '.' + std::string(63, 'x') + '.' +
                                             std::string(63, 'x') + '.' + std::string(61, 'x')).Question;
  const Packet answer = Join({Header(0), LabelsOf({63, 63, 63, 61}, 'X'), {0x00, 0x01, 0x00, 0x01}});
  EXPECT_TRUE(ReplyMatchesQuery(answer, 12345, sent));
  EXPECT_FALSE(ReplyMatchesQuery(Join({Header(0), LabelsOf({63, 63, 63, 62}, 'x'), {0x00, 0x01, 0x00, 0x01}}),
                                 12345, sent))
      << "256 octets";
}

TEST(NameText, PresentationEscapes) {
  const Packet ptr = Record(Pointer(12), TYPE_PTR, {7, 'a', '.', '\\', 0x0A, ' ', 0xFF, 0x7F, 2, 'O', 'k', 0});
  const auto reply = ParseReply(TYPE_PTR, Join({Header(1), QUESTION_PTR, ptr}));
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->Answer.RData, R"(a\.\\\010\032\255\127.Ok)");
  EXPECT_EQ(Parsed(TYPE_A, Patched(REPLY_AB_CD, 13, 0x0D)).Question.QName, R"(\013b.cd)");
  EXPECT_EQ(Parsed(TYPE_A, Patched(REPLY_AB_CD, 13, 0x00)).Answer.AName, R"(\000b.cd)");
  const Packet rootQuestion = {0x00, 0x00, 0x01, 0x00, 0x01};  // 12 QName root, QType A, QClass IN
  EXPECT_EQ(Parsed(TYPE_A, Join({Header(0), rootQuestion})).Question.QName, "");
}

}  // namespace
