// The records' strings held in place: their bounds, value semantics, and
// answer data that outgrows its room in place.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>

#include "fixtures.h"
#include "vbdns.h"

using namespace vbDNS;
using namespace fixtures;

namespace {

TEST(FixedString, WritesPastTheCapacityChangeNothing) {
  WireName name;
  EXPECT_TRUE(name.empty());
  EXPECT_TRUE(name.assign(std::string(250, 'x')));
  EXPECT_TRUE(name.append("yyyyy"));
  EXPECT_FALSE(name.append("z"));
  EXPECT_FALSE(name.assign(std::string(256, 'z')));
  EXPECT_FALSE(name.resize(256));
  EXPECT_EQ(name, std::string(250, 'x') + "yyyyy");
  EXPECT_THROW(WireName(std::string(256, 'x')), std::length_error);
  EXPECT_EQ(NameText(std::string(MAX_NAME_TEXT, 'x')).size(), MAX_NAME_TEXT);
  EXPECT_THROW(NameText(std::string(MAX_NAME_TEXT + 1, 'x')), std::length_error);
}

TEST(Records, NewOnesAreEmpty) {
  const DNSReply reply{};
  EXPECT_EQ(reply.Header, DNSHeader{});
  EXPECT_TRUE(reply.Question.QName.empty());
  EXPECT_TRUE(reply.Answer.AName.empty());
  EXPECT_TRUE(reply.Answer.RData.empty());
  EXPECT_EQ(reply.Answer.TTL, 0u);
  const DNSQuery query;
  EXPECT_TRUE(query.Question.QName.empty());
  EXPECT_EQ(query.Question.QType, 0);
}

TEST(Records, CopiesAreIndependentValues) {
  const DNSReply source = Parsed(TYPE_A, REPLY_AB_CD);
  DNSReply copy = source;
  EXPECT_EQ(copy, source);
  copy.Answer.RData.append(Octets({10, 0, 0, 2}));
  copy.Question.QName.assign("other");
  copy.Answer.AName.clear();
  EXPECT_EQ(source.Answer.RData, Octets({10, 0, 0, 1}));
  EXPECT_EQ(source.Question.QName, "ab.cd");
  EXPECT_EQ(source.Answer.AName, "ab.cd");
  EXPECT_NE(copy, source);
  copy = source;
  EXPECT_EQ(copy, source);

  DNSQuery query = Built(TYPE_A, "ab.cd");
  const DNSQuery queryCopy = query;
  query.Question.QName.assign(Octets({1, 'x', 0}));
  EXPECT_EQ(queryCopy.Question.QName, Octets({2, 'a', 'b', 2, 'c', 'd', 0}));
}

TEST(AnswerData, AcrossItsRoomInPlace) {
  const std::string inPlace(ANSWER_DATA_IN_PLACE - 2, 'p');
  AnswerData data(inPlace);
  data.append("abcd");  // now on the heap, the octets before kept
  ASSERT_EQ(data.size(), ANSWER_DATA_IN_PLACE + 2);
  EXPECT_EQ(data, inPlace + "abcd");

  const AnswerData copy = data;
  EXPECT_EQ(copy, data);
  AnswerData moved = std::move(data);
  EXPECT_EQ(moved, copy);
  EXPECT_TRUE(data.empty()) << "a moved-from value on the heap is left empty";  // NOLINT(bugprone-use-after-move)
  data = copy;
  EXPECT_EQ(data, copy);

  moved.resize(3);  // back in place
  EXPECT_EQ(moved, "ppp");
  moved.append("q");
  EXPECT_EQ(moved, "pppq");
  EXPECT_EQ(copy.size(), ANSWER_DATA_IN_PLACE + 2);

  AnswerData small("xy");
  AnswerData movedSmall = std::move(small);
  EXPECT_EQ(movedSmall, "xy");
  small = std::move(movedSmall);
  EXPECT_EQ(small, "xy");
  small.clear();
  EXPECT_TRUE(small.empty());
}

TEST(AnswerData, AddressesBeyondWhatFitsInPlace) {
  // 300 A answers: 1200 octets of addresses, more than the 1012 held in place.
  Packet reply = Join({Patched(Patched(Header(0), 6, 300 >> 8), 7, 300 & 0xFF), QUESTION_WWW});
  for (int i = 0; i < 300; ++i) reply = Join({reply, AnswerA(static_cast<std::uint8_t>(i))});
  const auto parsed = ParseReply(TYPE_A, reply);
  ASSERT_TRUE(parsed);
  const AnswerData& addresses = parsed->Answer.RData;
  ASSERT_EQ(addresses.size(), 1200u);
  EXPECT_EQ(addresses.view().substr(0, 8), Octets({10, 0, 0, 0, 10, 0, 0, 1}));
  EXPECT_EQ(addresses.view().substr(1196), Octets({10, 0, 0, 299 & 0xFF}));
  const DNSReply copy = *parsed;
  EXPECT_EQ(copy, *parsed);
}

}  // namespace
