#include <gtest/gtest.h>

#include <string>

#include "fixtures.h"
#include "vbdns.h"

using namespace vbDNS;
using fixtures::Built;
using fixtures::Octets;

namespace {

const Packet kQueryABc = {
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
  EXPECT_EQ(Encoded(TYPE_A, "a.bc"), kQueryABc);
  EXPECT_EQ(Encoded(TYPE_A, "a.bc."), kQueryABc) << "one trailing dot only marks the name fully qualified";
  EXPECT_EQ(EncodeQuery(Built(TYPE_A, u"a.bc")), kQueryABc);
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
  EXPECT_EQ(Built(TYPE_A, Labels({63})).Question.QName.front(), '\x3F');
  EXPECT_FALSE(BuildQuery(TYPE_A, Labels({64})));
  EXPECT_FALSE(BuildQuery(TYPE_A, Labels({1, 64, 1})));
  // Wire form: 3 x 64 + (1 + n) + final zero.
  EXPECT_EQ(Built(TYPE_A, Labels({63, 63, 63, 61})).Question.QName.size(), 255u);
  EXPECT_EQ(Built(TYPE_A, Labels({63, 63, 63, 61}) + ".").Question.QName.size(), 255u);
  EXPECT_FALSE(BuildQuery(TYPE_A, Labels({63, 63, 63, 62})));
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
  query.Question = {Octets({0}), 0x00FF, 0x0180};
  EXPECT_EQ(EncodeQuery(query), Packet({0x80, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x00, 0xFF, 0x01, 0x80}));
}

}  // namespace
