#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>

#include "codec/vbdns.h"
#include "fixtures.h"

using namespace vbDNS;
using fixtures::Built;
using fixtures::Octets;

namespace {

const Packet QUERY_A_BC = {
    0x30, 0x39, 0x01, 0x00,              // ID 12345, Flags1 RD, Flags2 0
    0x00, 0x01, 0x00, 0x00,              // QDCount 1, ANCount 0
    0x00, 0x00, 0x00, 0x00,              // NSCount 0, ARCount 0
    1, 'a', 2, 'b', 'c', 0,              // QName a.bc
    0x00, 0x01, 0x00, 0x01,              // QType A, QClass IN
};

const Packet kQueryReverse192_0_2_1 = {
    0x30, 0x39, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // header as above
    1, '1', 1, '2', 1, '0', 3, '1', '9', '2',                               // QName 1.2.0.192
    7, 'i', 'n', '-', 'a', 'd', 'd', 'r', 4, 'a', 'r', 'p', 'a', 0,         //   .in-addr.arpa
    0x00, 0x0C, 0x00, 0x01,                                                 // QType PTR, QClass IN
};

std::optional<Packet> Encoded(std::uint16_t type, std::string_view name) {
  const auto query = BuildQuery(type, name);
  return query ? std::optional(EncodeQuery(*query)) : std::nullopt;
}

std::string Labels(std::initializer_list<std::size_t> sizes) {
  std::string name;
  for (const std::size_t size : sizes) name += (name.empty() ? "" : ".") + std::string(size, 'x');
  return name;
}

TEST(BuildQuery, ForwardAndReverseQueriesEncodeExactly) {
  EXPECT_EQ(Encoded(TYPE_A, "a.bc"), QUERY_A_BC);
  EXPECT_EQ(Encoded(TYPE_A, "a.bc."), QUERY_A_BC) << "one trailing dot only marks the name fully qualified";
  EXPECT_EQ(EncodeQuery(Built(TYPE_A, u"a.bc")), QUERY_A_BC);
  EXPECT_EQ(Encoded(TYPE_PTR, "192.0.2.1"), kQueryReverse192_0_2_1);
  EXPECT_EQ(EncodeQuery(Built(TYPE_PTR, u"192.0.2.1")), kQueryReverse192_0_2_1);
}

TEST(BuildQuery, ReverseNamePrintsPlainDecimal) {
  EXPECT_EQ(Built(TYPE_PTR, "010.0.0.001").Question.QName,
            Octets({1, '1', 1, '0', 1, '0', 2, '1', '0', 7, 'i', 'n', '-', 'a', 'd', 'd', 'r', 4, 'a', 'r', 'p', 'a', 0}));
  EXPECT_FALSE(BuildQuery(TYPE_PTR, "1.2.3"));
  EXPECT_FALSE(BuildQuery(TYPE_PTR, "1.2.3.4."));
  EXPECT_FALSE(BuildQuery(TYPE_PTR, "ab.cd"));
}

TEST(BuildQuery, NameLimits) {
  EXPECT_EQ(Built(TYPE_A, Labels({63})).Question.QName[0], '\x3F');
  EXPECT_FALSE(BuildQuery(TYPE_A, Labels({64})));
  EXPECT_FALSE(BuildQuery(TYPE_A, Labels({1, 64, 1})));
  // Wire form: 3 x 64 + (1 + n) + final zero.
  EXPECT_EQ(Built(TYPE_A, Labels({63, 63, 63, 61})).Question.QName.size(), 255u);
  EXPECT_EQ(Built(TYPE_A, Labels({63, 63, 63, 61}) + ".").Question.QName.size(), 255u);
  EXPECT_FALSE(BuildQuery(TYPE_A, Labels({63, 63, 63, 62})));
}

// The label rule written out plainly, one label at a time, against which the
// encoder's eight-octet steps are checked.
std::optional<std::string> PlainWireName(std::string_view text) {
  if (text.ends_with('.')) text.remove_suffix(1);
  if (text.empty()) return std::nullopt;
  std::string wire;
  for (;;) {
    const std::size_t dot = text.find('.');
    const std::string_view label = text.substr(0, dot);
    if (label.empty() || label.size() > 63) return std::nullopt;
    wire += static_cast<char>(label.size());
    wire += label;
    if (dot == std::string_view::npos) break;
    text.remove_prefix(dot + 1);
  }
  wire += '\0';
  if (wire.size() > 255) return std::nullopt;
  return wire;
}

TEST(BuildQuery, EveryDotPlacementFollowsTheLabelRule) {
  // Every length up to the limit and past it, dots sparse to dense, so that
  // dots and label ends fall on, before and after each 8-octet boundary.
  std::mt19937 random(20261207);
  for (std::size_t size = 1; size <= 256; ++size) {
    for (const unsigned oneIn : {2u, 3u, 5u, 9u, 40u, 70u}) {
      std::string name(size, 'a');
      std::u16string name16(size, u'a');
      for (std::size_t i = 0; i < size; ++i) {
        if (random() % oneIn == 0) name[i] = '.';
        else name[i] = static_cast<char>('a' + random() % 26);
        name16[i] = static_cast<char16_t>(name[i]);
      }
      const std::optional<std::string> expected = PlainWireName(name);
      const auto query = BuildQuery(TYPE_A, name);
      ASSERT_EQ(query.has_value(), expected.has_value()) << '"' << name << '"';
      ASSERT_EQ(BuildQuery(TYPE_A, name16), query) << '"' << name << '"';
      if (query) {
        ASSERT_EQ(query->Question.QName, *expected) << '"' << name << '"';
      }
    }
  }
}

TEST(BuildQuery, Refusals) {
  for (const std::string_view name : {"", ".", "..", ".a", "a..b", "a..", "a.bc.."}) {
    EXPECT_FALSE(BuildQuery(TYPE_A, name)) << '"' << name << '"';
  }
  EXPECT_FALSE(BuildQuery(TYPE_CNAME, "a.bc"));
  EXPECT_FALSE(BuildQuery(28, "a.bc"));
  EXPECT_FALSE(BuildQuery(TYPE_A, u"a.b\u0100"));
  EXPECT_FALSE(BuildQuery(TYPE_PTR, u"1.2.3.\u0664"));
}

TEST(BuildQuery, CharactersUpToFFAreOneOctetEach) {
  EXPECT_EQ(Built(TYPE_A, u"Caf\u00E9").Question.QName, Octets({4, 'C', 'a', 'f', 0xE9, 0}));
}

TEST(EncodeQuery, FieldsAreBigEndianAndUnsigned) {
  DNSQuery query;
  EXPECT_EQ(EncodeQuery(query), Packet(16, 0));
  query.Header.ID = 0x8001;
  query.Question = {WireName(Octets({0})), 0x00FF, 0x0180};
  EXPECT_EQ(EncodeQuery(query), Packet({0x80, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x00, 0xFF, 0x01, 0x80}));
}

TEST(EncodeQuery, IntoTheCallersBufferWithTheIdToSend) {
  const DNSQuery query = Built(TYPE_A, "a.bc");
  QueryDatagram datagram;
  ASSERT_EQ(EncodeQuery(query, 0xBEEF, datagram), QUERY_A_BC.size());
  Packet expected = QUERY_A_BC;
  expected[0] = 0xBE;
  expected[1] = 0xEF;
  EXPECT_EQ(Packet(datagram.begin(), datagram.begin() + QUERY_A_BC.size()), expected);
  EXPECT_EQ(query.Header.ID, QUERY_ID) << "the record keeps its own ID";

  // Exactly the length is room enough; one octet less gets nothing written.
  Packet exact(QUERY_A_BC.size(), 0xAA);
  EXPECT_EQ(EncodeQuery(query, QUERY_ID, exact), exact.size());
  EXPECT_EQ(exact, QUERY_A_BC);
  Packet tooShort(QUERY_A_BC.size() - 1, 0xAA);
  EXPECT_EQ(EncodeQuery(query, QUERY_ID, tooShort), 0u);
  EXPECT_EQ(tooShort, Packet(QUERY_A_BC.size() - 1, 0xAA));
  EXPECT_EQ(EncodeQuery(query, QUERY_ID, std::span<std::uint8_t>()), 0u);

  // The longest name fills the fixed datagram to the last octet.
  EXPECT_EQ(EncodeQuery(Built(TYPE_A, Labels({63, 63, 63, 61})), QUERY_ID, datagram), MAX_QUERY_SIZE);
  EXPECT_EQ(datagram[MAX_QUERY_SIZE - 1], CLASS_IN);
}

}  // namespace
