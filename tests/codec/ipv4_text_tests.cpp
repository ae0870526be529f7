#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "codec/vbdns.h"

using namespace vbDNS;

namespace {

TEST(TextToIP, AcceptsFourDecimalNumbers) {
  const std::pair<std::string_view, std::uint32_t> cases[] = {
      {"1.2.3.4", 0x01020304},         {"0.0.0.0", 0},
      {"255.255.255.255", 0xFFFFFFFF}, {"192.0.2.1", 0xC0000201},
      {"010.0.0.1", 0x0A000001},       {"000000000255.1.1.1", 0xFF010101},
  };
  for (const auto& [text, address] : cases) EXPECT_EQ(TextToIP(text), address) << text;
  EXPECT_EQ(TextToIP(u"10.0.0.1"), 0x0A000001u);
}

TEST(TextToIP, RejectsEverythingElse) {
  for (const std::string_view text :
       {"", "1.2.3", "1.2.3.", ".1.2.3", "1..2.3", "1.2.3..5", "256.1.1.1", "1.2.3.256", "1.2.3.4294967297",
        "-1.2.3.4", "+1.2.3.4", " 1.2.3.4", "1.2.3.4 ", "1.2 .3.4", "1.2.3.4.", "1.2.3.4.5", "1.2.3.5.5",
        "1.2.3.255.9", "1.2.3.4e0", "0x1.2.3.4", "1,2,3,4", "a.b.c.d"}) {
    EXPECT_FALSE(TextToIP(text)) << '"' << text << '"';
  }
  EXPECT_FALSE(TextToIP(u"1.2.3.\u0664"));
  EXPECT_FALSE(TextToIP(u"1.2.3.4\u0100"));
  EXPECT_FALSE(TextToIP(std::string_view("1.2.3.4\0", 8)));
}

TEST(IPToText, FourOctetsInWireOrder) {
  EXPECT_EQ(IPToText(std::array<std::uint8_t, 4>{1, 2, 3, 4}), "1.2.3.4");
  EXPECT_EQ(IPToText(std::array<std::uint8_t, 4>{0, 0, 0, 0}), "0.0.0.0");
  EXPECT_EQ(IPToText(std::array<std::uint8_t, 4>{255, 255, 255, 255}), "255.255.255.255");
  EXPECT_EQ(IPToText(std::array<std::uint8_t, 4>{100, 99, 10, 9}), "100.99.10.9");
}

TEST(PutIPText, WritesWithinTheLongestText) {
  // A buffer of exactly MAX_IPV4_TEXT on the heap: a write past it is an
  // AddressSanitizer error. Every octet value at every position.
  for (unsigned value = 0; value < 256; ++value) {
    for (std::size_t at = 0; at < 4; ++at) {
      std::array<std::uint8_t, 4> octets = {255, 255, 255, 255};
      octets[at] = static_cast<std::uint8_t>(value);
      const std::unique_ptr<char[]> text(new char[MAX_IPV4_TEXT]);
      char* const end = PutIPText(text.get(), octets);
      ASSERT_EQ(std::string(text.get(), end), IPToText(octets));
    }
  }
  std::array<char, MAX_IPV4_TEXT> room;
  EXPECT_EQ(std::string(room.data(), PutIPText(room.data(), std::array<std::uint8_t, 4>{0, 10, 100, 7})),
            "0.10.100.7");
}

TEST(IPToText, UndoesTextToIP) {
  for (const std::string_view text : {"1.2.3.4", "192.0.2.1", "0.0.0.0", "255.255.255.255", "10.100.9.99"}) {
    const std::uint32_t address = TextToIP(text).value();
    // The number's most significant octet is the first on the wire.
    const std::array<std::uint8_t, 4> octets = {
        static_cast<std::uint8_t>(address >> 24), static_cast<std::uint8_t>(address >> 16),
        static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)};
    EXPECT_EQ(IPToText(octets), text);
  }
}

}  // namespace
