// Names as administrators type them: presentation text with escapes, white
// space around cells, reverse names only from addresses, and the search
// list's suffixes. The law under all of it: every name text the component
// prints, read again, is the same wire name.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "resolver/name_text.h"

namespace vavizav::resolver {
namespace {

using namespace std::string_literals;

// IDNA stand-in: "café" is the only international label it knows.
std::optional<std::string> FakeIdna(std::u16string_view label) {
  if (label == u"caf\u00e9") return "xn--caf-dma";
  return std::nullopt;
}

std::string Wire(std::u16string_view text) { return NameFromText(text, FakeIdna).Wire; }

TEST(NameFromText, EscapesAsDigReadsThem) {
  EXPECT_EQ(Wire(u"sp\\032ace.vz.test."), "\x06sp ace\x02vz\x04test\0"s);
  EXPECT_EQ(Wire(u"dot\\.inside.vz.test"), "\x0a" "dot.inside\x02vz\x04test\0"s);
  EXPECT_EQ(Wire(u"back\\\\slash.test"), "\x0a" "back\\slash\x04test\0"s);
  EXPECT_EQ(Wire(u"nul\\000.test"), "\x04nul\0\x04test\0"s);
  EXPECT_EQ(Wire(u"hi\\255.test"), "\x03hi\xff\x04test\0"s);
  EXPECT_EQ(Wire(u"q\\\"x\\(.test"), "\x04q\"x(\x04test\0"s);
  EXPECT_EQ(Wire(u"."), "\0"s);
  EXPECT_EQ(Wire(u"caf\u00e9.test"), "\x0bxn--caf-dma\x04test\0"s);
  EXPECT_EQ(Wire(u"Mixed.CASE"), "\x05Mixed\x04" "CASE\0"s);
  // A label with an escape is its octets as written, UTF-8 beyond ASCII.
  EXPECT_EQ(Wire(u"\\.\u00e9"), "\x03.\xc3\xa9\0"s);
  EXPECT_EQ(Wire(u"a\u3002b"), "\x01" "a\x01" "b\0"s);
}

TEST(NameFromText, RefusalsSayWhatAndWhere) {
  const NameText space = NameFromText(u" mx1 .test", FakeIdna);
  EXPECT_EQ(space.Problem, NameTextProblem::Character);
  EXPECT_EQ(space.Character, u' ');
  EXPECT_EQ(space.Position, 5u);
  EXPECT_EQ(NameProblemText(space, u" mx1 .test"),
            u"Name \" mx1 .test\": a space at position 5 cannot stand unescaped in a name (write it \\DDD, a space "
            u"\\032)");
  const NameText tab = NameFromText(u"a\tb", FakeIdna);
  EXPECT_EQ(tab.Problem, NameTextProblem::Character);
  EXPECT_EQ(tab.Position, 2u);
  EXPECT_NE(NameProblemText(tab, u"a\tb").find(u"U+0009 at position 2"), std::u16string::npos);
  for (const std::u16string_view bad : {u"a\\", u"a\\25", u"a\\256.test", u"a\\2x5"}) {
    EXPECT_EQ(NameFromText(bad, FakeIdna).Problem, NameTextProblem::Escape) << std::string(bad.begin(), bad.end());
  }
  for (const std::u16string_view bad : {u"", u"  \t", u"a..b", u".a", u"a.b..", u"na\u00efve.test"}) {
    EXPECT_EQ(NameFromText(bad, FakeIdna).Problem, NameTextProblem::CannotBeAsked);
  }
  EXPECT_EQ(NameFromText(std::u16string(63, u'a'), FakeIdna).Problem, NameTextProblem::None);
  EXPECT_EQ(NameFromText(std::u16string(64, u'a'), FakeIdna).Problem, NameTextProblem::CannotBeAsked);
  // 127 labels of one octet: 255 in wire form; one more is too long.
  std::u16string longest;
  for (int i = 0; i < 127; ++i) longest += u"a.";
  EXPECT_EQ(NameFromText(longest, FakeIdna).Wire.size(), 255u);
  EXPECT_EQ(NameFromText(longest + u"a", FakeIdna).Problem, NameTextProblem::CannotBeAsked);
}

TEST(NameFromText, CellsAreTrimmedOfWhiteSpace) {
  const std::string expected = "\x03mx1\x02vz\x04test\0"s;
  for (const std::u16string_view cell :
       {u"mx1.vz.test ", u"\tmx1.vz.test\r\n", u"\u00a0mx1.vz.test\u00a0", u"  mx1.vz.test.  "}) {
    EXPECT_EQ(Wire(cell), expected);
  }
  EXPECT_TRUE(NameFromText(u" mx1 ", FakeIdna).SingleLabel);
  EXPECT_FALSE(NameFromText(u"mx1.", FakeIdna).SingleLabel);
  EXPECT_FALSE(NameFromText(u"mx1.vz", FakeIdna).SingleLabel);
}

TEST(NameFromText, EveryPrintedNameReadsBackToTheSameWireName) {
  std::mt19937 random(22);
  for (int round = 0; round < 3000; ++round) {
    std::string wire;
    const int labels = static_cast<int>(random() % 5);
    for (int l = 0; l < labels; ++l) {
      const std::size_t length = 1 + random() % (round % 10 == 0 ? 63 : 6);
      if (wire.size() + 1 + length + 1 > vbDNS::MAX_NAME_WIRE) break;
      wire += static_cast<char>(length);
      // Every octet, the ones that print escaped most of all.
      static const std::string SPECIAL = ". \\\"()@$;\x7f\x80\xff\t"s + '\0';
      for (std::size_t k = 0; k < length; ++k) {
        wire += random() % 2 ? SPECIAL[random() % SPECIAL.size()] : static_cast<char>(random() % 256);
      }
    }
    wire += '\0';
    const std::string text = vbDNS::WireNameText(wire);
    ASSERT_FALSE(text.empty());
    const std::u16string printed(text.begin(), text.end());
    ASSERT_EQ(Wire(printed), wire) << text;
    ASSERT_EQ(Wire(u" " + printed + u"\r\n"), wire) << text;
  }
}

TEST(ReverseNameFromText, OnlyAddressesBecomeReverseNames) {
  EXPECT_EQ(ReverseNameFromText(u" 192.0.2.7 ")->Wire, "\x01" "7\x01" "2\x01" "0\x03" "192\x07in-addr\x04" "arpa\0"s);
  const std::optional<NameText> v6 = ReverseNameFromText(u"2001:db8::1");
  ASSERT_TRUE(v6);
  EXPECT_EQ(v6->Wire.size(), 64u + 10u);
  EXPECT_EQ(v6->Wire.substr(0, 4), "\x01" "1\x01" "0"s);
  for (const std::u16string_view bad : {u"999.1.1.1", u"1.2.3", u"fe80::1%12", u"1.2.3.4%1", u"1:2:3", u"::g"}) {
    const std::optional<NameText> refused = ReverseNameFromText(bad);
    if (bad == u"::g") {
      EXPECT_FALSE(refused);
      continue;
    }
    ASSERT_TRUE(refused) << std::string(bad.begin(), bad.end());
    EXPECT_EQ(refused->Problem, NameTextProblem::NotAnAddress);
  }
  // Names, asked as they are.
  for (const std::u16string_view name : {u"7.2.0.192.in-addr.arpa", u"1.2.3.4.", u"host.vz.test", u"10", u"host:80"}) {
    EXPECT_FALSE(ReverseNameFromText(name)) << std::string(name.begin(), name.end());
  }
}

TEST(SearchSuffixes, ListsAndWhatASingleLabelAsks) {
  const std::vector<std::string> suffixes = SearchSuffixes(u" corp.test, vz.test.  corp.test,,\t. bad..x", FakeIdna);
  ASSERT_EQ(suffixes.size(), 2u);
  EXPECT_EQ(suffixes[0], "\x04" "corp\x04test\0"s);
  EXPECT_EQ(suffixes[1], "\x02vz\x04test\0"s);
  const NameText mx1 = NameFromText(u"mx1", FakeIdna);
  EXPECT_EQ(NamesToAsk(mx1, suffixes),
            (std::vector<std::string>{"\x03mx1\x04" "corp\x04test\0"s, "\x03mx1\x02vz\x04test\0"s}));
  EXPECT_EQ(NamesToAsk(mx1, {}), std::vector<std::string>{mx1.Wire});
  const NameText dotted = NameFromText(u"mx1.", FakeIdna);
  EXPECT_EQ(NamesToAsk(dotted, suffixes), std::vector<std::string>{dotted.Wire});
  // A suffix too long for the label is left out; none fitting asks the name alone.
  const NameText wide = NameFromText(std::u16string(63, u'w'), FakeIdna);
  std::u16string longSuffix;
  for (int i = 0; i < 3; ++i) longSuffix += std::u16string(63, u'x') + u".";
  const std::vector<std::string> tooLong = SearchSuffixes(longSuffix, FakeIdna);
  ASSERT_EQ(tooLong.size(), 1u);
  EXPECT_EQ(NamesToAsk(wide, tooLong), std::vector<std::string>{wide.Wire});
}

TEST(SearchSuffixes, OnlyNxdomainGoesOnToTheNextSuffix) {
  EXPECT_TRUE(AsksNextSuffixAfter(RcodeStatus(3)));
  for (const AnswerStatus answer : {NOERROR_STATUS, RcodeStatus(2), RcodeStatus(5), TIMEOUT_STATUS, TRUNCATED_STATUS}) {
    EXPECT_FALSE(AsksNextSuffixAfter(answer)) << answer;
  }
}

TEST(QuestionForWire, AsBuildQuestionMakesThemWithEdnsAndAd) {
  vbDNS::DNSQuery built = *vbDNS::BuildQuestion(15, "vz.test");
  built.Header.Flags2 |= vbDNS::FLAG_AD;
  const vbDNS::DNSQuery made = QuestionForWire("\x02vz\x04test\0"s, 15);
  EXPECT_EQ(made.Header, built.Header);
  EXPECT_EQ(made.EdnsUdpSize, vbDNS::EDNS_UDP_SIZE);
  EXPECT_EQ(made.Question.QName, built.Question.QName);
  EXPECT_EQ(made.Question.QType, 15);
  EXPECT_EQ(made.Question.QClass, built.Question.QClass);
}

}  // namespace
}  // namespace vavizav::resolver
