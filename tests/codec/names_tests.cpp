// Name decoding wherever a name stands, with the RFC 9267 traps, and the one
// table of label escapes in both its styles.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "codec/message.h"
#include "codec/vbdns.h"
#include "fixtures.h"

using namespace vbDNS;
using namespace fixtures;

namespace {

// What the reverse lookup reads of a reply: the host text of the last PTR
// answer's data name; nullopt when the reply or a PTR's name is unreadable.
std::optional<std::string> LastPtrName(const Packet& packet) {
  const auto message = ReadMessage(packet, ReadScope::AnswerOctets);
  if (!message) return std::nullopt;
  std::string text;
  for (const ResourceRecord& record : message->Records(Section::Answer)) {
    if (record.Type != TYPE_PTR) continue;
    text.clear();
    if (!AppendDataName(*message, record, NameStyle::Host, text)) return std::nullopt;
  }
  return text;
}

// Both reads refuse a bad name alike; whether they took the packet.
bool Readable(const Packet& packet) {
  const bool answers = ReadMessage(packet, ReadScope::AnswerOctets).has_value();
  EXPECT_EQ(ReadMessage(packet).has_value(), answers);
  return answers;
}

// The last answer's owner as the second class prints it.
std::string OwnerText(const Packet& packet) {
  const auto message = ReadMessage(packet, ReadScope::AnswerOctets);
  if (!message) return "unreadable";
  return NameTextOf(*message, message->Records(Section::Answer).back().Owner);
}

// A PTR reply for QUESTION_PTR whose one answer's data is `name`.
Packet PtrReply(const Packet& name) { return Join({Header(1), QUESTION_PTR, Record(Pointer(12), TYPE_PTR, name)}); }

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
  EXPECT_FALSE(Readable(Patched(REPLY_AB_CD, 24, 25))) << "forward pointer";
  EXPECT_FALSE(Readable(Patched(REPLY_AB_CD, 24, 23))) << "self pointer";
  EXPECT_FALSE(Readable(Patched(Patched(REPLY_AB_CD, 12, 0xC0), 13, 12))) << "question pointing at itself";
  EXPECT_FALSE(Readable(Cut(REPLY_AB_CD, 24))) << "pointer in the last octet";
  EXPECT_FALSE(Readable(Patched(REPLY_AB_CD, 23, 0xC1))) << "pointer past the end";
  EXPECT_TRUE(Readable(Patched(REPLY_AB_CD, 24, 15))) << "pointer into the middle of a name";
  EXPECT_EQ(OwnerText(Patched(REPLY_AB_CD, 24, 15)), "cd.");

  const Packet loop = {
      0x30, 0x39, REPLY_FLAGS1, ReplyFlags2(), 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00,  //  0 header, QD 0, AN 2
      0x00,                                                                    // 12 owner: root
      0x00, 0x10, 0x00, 0x01, 0x00, 0x00, 0x00, 0x3C, 0x00, 0x02,              // 13 TXT IN, TTL 60, RDLength 2
      0xC0, 0x19,                                                              // 23 its data: -> 25
      0xC0, 0x17,                                                              // 25 owner -> 23
      0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x3C, 0x00, 0x00,              // 27 A IN, TTL 60, RDLength 0
  };
  // The TXT data is no character-string and the A record empty: only the
  // first class's read takes the layout without the loop.
  EXPECT_FALSE(ReadMessage(loop, ReadScope::AnswerOctets)) << "two-pointer loop";
  const Packet noLoop = Patched(loop, 24, 0x0C);
  EXPECT_TRUE(ReadMessage(noLoop, ReadScope::AnswerOctets)) << "the same layout without the loop";
}

TEST(NameDecoding, LabelTypesAndLengths) {
  EXPECT_FALSE(Readable(Patched(REPLY_AB_CD, 12, 0x40))) << "reserved label type 01";
  EXPECT_FALSE(Readable(Patched(REPLY_AB_CD, 12, 0x80))) << "reserved label type 10";
  EXPECT_FALSE(Readable(Patched(REPLY_AB_CD, 15, 0x3F))) << "label runs past the end";

  const auto withLabel = [](std::uint8_t length) {
    Packet qname = {length};
    qname.resize(1 + length, 'q');
    qname.push_back(0);
    return Join({Header(0), qname, {0x00, 0x01, 0x00, 0x01}});
  };
  const Packet label63 = withLabel(63);
  const auto longest = ReadMessage(label63);
  ASSERT_TRUE(longest);
  EXPECT_EQ(NameTextOf(*longest, longest->QuestionName()), std::string(63, 'q') + '.');
  EXPECT_FALSE(Readable(withLabel(64)));
}

TEST(NameDecoding, NameLengthCountsOctetsReachedThroughPointers) {
  const std::optional<std::string> longest = LastPtrName(NameAcrossPointer(61));
  ASSERT_TRUE(longest);
  EXPECT_EQ(longest->size(), 3 * 64 + 61u);
  EXPECT_FALSE(LastPtrName(NameAcrossPointer(62)));
}

TEST(NameDecoding, AtMost128Jumps) {
  EXPECT_EQ(LastPtrName(PointerChain(128)), "") << "the chain ends at the root";
  EXPECT_FALSE(LastPtrName(PointerChain(129)));
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

TEST(NameDecoding, LongestNamesPrintWhole) {
  // 255 octets in wire form, every octet printed "\DDD": the longest text.
  const Packet question = Join({LabelsOf({63, 63, 63, 61}, 0x01), {0x00, 0x0C, 0x00, 0x01}});  // 12 PTR IN
  const Packet reply = Join({Header(1), question, Record(Pointer(12), TYPE_PTR, Pointer(12))});
  const std::optional<std::string> name = LastPtrName(reply);
  ASSERT_TRUE(name);
  EXPECT_EQ(name->size(), 4 * 250 + 3u);
  EXPECT_LE(name->size(), MAX_NAME_TEXT);
  EXPECT_EQ(name->substr(0, 8), R"(\001\001)");
  EXPECT_EQ(OwnerText(reply), *name + '.');

  // The matcher reads the reply's question into a wire name of exactly 255 octets.
  const DNSQuestion sent = Built(TYPE_A, std::string(63, 'x') + '.' + std::string(63, 'x') + '.' +
                                             std::string(63, 'x') + '.' + std::string(61, 'x')).Question;
  const Packet answer = Join({Header(0), LabelsOf({63, 63, 63, 61}, 'X'), {0x00, 0x01, 0x00, 0x01}});
  EXPECT_TRUE(Matches(answer, 12345, sent));
  EXPECT_FALSE(Matches(Join({Header(0), LabelsOf({63, 63, 63, 62}, 'x'), {0x00, 0x01, 0x00, 0x01}}),
                                 12345, sent))
      << "256 octets";
}

// One table, two styles: the host style (the first class's results) leaves
// the zone-file characters as they are, the zone style (dig's) escapes them;
// both escape "." and "\" and write every other octet outside 0x21..0x7E as \DDD.
TEST(NameText, OneTableTwoStyles) {
  const Packet name = {13, 'a', '.', '\\', 0x0A, ' ', 0xFF, 0x7F, '"', '(', ')', ';', '@', '$', 2, 'O', 'k', 0};
  const Packet reply = PtrReply(name);
  EXPECT_EQ(LastPtrName(reply), R"(a\.\\\010\032\255\127"();@$.Ok)");
  const auto message = ReadMessage(reply);
  ASSERT_TRUE(message);
  const NameRef data = message->Records(Section::Answer)[0].DataNames[0];
  EXPECT_EQ(NameTextOf(*message, data), R"(a\.\\\010\032\255\127\"\(\)\;\@\$.Ok.)");
  EXPECT_EQ(WireNameText(std::string(name.begin(), name.end())), NameTextOf(*message, data));

  EXPECT_EQ(LastPtrName(PtrReply({3, 0x0D, 'b', 0x00, 0})), R"(\013b\000)");
  EXPECT_EQ(LastPtrName(PtrReply({0})), "") << "the root";
  const Packet rootOwner = Join({Header(1), QUESTION_WWW, Record({0}, TYPE_A, {1, 2, 3, 4})});
  EXPECT_EQ(OwnerText(rootOwner), ".");
  EXPECT_EQ(WireNameText(std::string(1, '\0')), ".");
  EXPECT_EQ(WireNameText("\x02" "ab"), "") << "no final zero: not a name";
}

}  // namespace
