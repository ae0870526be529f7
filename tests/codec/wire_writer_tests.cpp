// The bounded writer: fields big-endian, the first write that does not fit
// fails for good and changes nothing, the TCP length prefix.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>

#include "codec/vbdns.h"
#include "codec/wire_writer.h"

namespace {

TEST(WireWriter, FieldsAndStickyFailure) {
  std::array<std::uint8_t, 9> buffer{};
  vbDNS::WireWriter out(buffer);
  out.U8(0xAB);
  out.U16(0x1234);
  out.U32(0xDEADBEEF);
  EXPECT_TRUE(out.Ok());
  EXPECT_EQ(out.Offset(), 7u);
  EXPECT_EQ(out.Left(), 2u);
  out.U32(0x01020304);  // 4 octets into 2: refused whole
  EXPECT_FALSE(out.Ok());
  out.U8(0x55);  // would fit, but the failure sticks
  EXPECT_EQ(out.Offset(), 7u);
  EXPECT_EQ(out.Left(), 0u);
  EXPECT_EQ(buffer, (std::array<std::uint8_t, 9>{0xAB, 0x12, 0x34, 0xDE, 0xAD, 0xBE, 0xEF, 0, 0}));
  EXPECT_EQ(out.Written().size(), 7u);

  std::array<std::uint8_t, 3> small{};
  vbDNS::WireWriter bytes(small);
  bytes.Bytes(std::string_view("abcd"));
  EXPECT_FALSE(bytes.Ok());
  EXPECT_EQ(small, (std::array<std::uint8_t, 3>{}));
  vbDNS::WireWriter exact(small);
  exact.Bytes(std::string_view("abc"));
  exact.Bytes(std::string_view());
  EXPECT_TRUE(exact.Ok());
  EXPECT_EQ(exact.Left(), 0u);
}

TEST(WireWriter, LengthPrefixBeforeAnEncodedQuery) {
  // A TCP message (RFC 7766 section 8): the length, then the datagram.
  const auto query = vbDNS::BuildQuery(vbDNS::TYPE_A, std::string_view("ab.cd"));
  ASSERT_TRUE(query);
  std::array<std::uint8_t, 2 + vbDNS::MAX_QUERY_SIZE> message{};
  const std::size_t size = vbDNS::EncodeQuery(*query, 0x3039, std::span(message).subspan(2));
  ASSERT_EQ(size, 23u);
  ASSERT_TRUE(vbDNS::PutU16(message, static_cast<std::uint16_t>(size)));
  const std::array<std::uint8_t, 25> expected = {0x00, 23, 0x30, 0x39, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
                                                 0x00, 2,  'a',  'b',  2,    'c',  'd',  0,    0x00, 0x01, 0x00, 0x01};
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), message.begin()));
  std::array<std::uint8_t, 1> tooSmall{0x77};
  EXPECT_FALSE(vbDNS::PutU16(tooSmall, 0xFFFF));
  EXPECT_EQ(tooSmall[0], 0x77);
  EXPECT_EQ(vbDNS::EncodeQuery(*query, 1, std::span(message).first(22)), 0u) << "one octet short of the datagram";
}

}  // namespace
