// Reading a reply of at most RECORDS_IN_PLACE records allocates nothing; one
// record more costs one allocation. Counted by replacing the global operator
// new of this test program alone.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <vector>

#include "codec/message.h"
#include "packets.h"

namespace {
int g_allocations = 0;
}

void* operator new(std::size_t size) {
  ++g_allocations;
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }

namespace {

namespace p = vavizav::packets;

// `count` records of the mixed kinds a reply holds, an OPT after them.
vbDNS::Packet MixedReply(std::size_t count) {
  vbDNS::Packet packet = p::Join({p::MessageHeader(1, static_cast<std::uint16_t>(count), 0, 1),
                                  p::Question(p::DottedName("mix.test"), 255)});
  const vbDNS::Packet records[] = {
      p::Record(p::Pointer(12), 15, p::Join({p::U16(10), {4, 'm', 'a', 'i', 'l'}, p::Pointer(12)})),
      p::Record(p::Pointer(12), 16, p::CharacterString("v=spf1 -all")),
      p::Record(p::Pointer(12), 33, p::Join({p::U16(0), p::U16(5), p::U16(443), p::Pointer(12)})),
      p::Record(p::Pointer(12), 1, {192, 0, 2, 1}),
  };
  for (std::size_t i = 0; i < count; ++i) packet = p::Join({packet, records[i % 4]});
  return p::Join({packet, p::Opt(1232)});
}

TEST(MessageAllocation, InPlaceUpToCapacityThenOneAllocation) {
  const vbDNS::Packet inPlace = MixedReply(vbDNS::RECORDS_IN_PLACE);
  const vbDNS::Packet overCapacity = MixedReply(vbDNS::RECORDS_IN_PLACE + 1);

  // Counted around the reads alone: the test's own checks may allocate.
  g_allocations = 0;
  const auto message = vbDNS::ReadMessage(inPlace);
  const std::optional<vbDNS::Message> copy = message;  // a copy stays in place too
  const int readingInPlace = g_allocations;
  ASSERT_TRUE(message && copy);
  EXPECT_EQ(message->Records(vbDNS::Section::Answer).size(), vbDNS::RECORDS_IN_PLACE);
  EXPECT_EQ(copy->AllRecords().size(), vbDNS::RECORDS_IN_PLACE);
  EXPECT_EQ(readingInPlace, 0);

  g_allocations = 0;
  const auto onHeap = vbDNS::ReadMessage(overCapacity);
  const int readingOnHeap = g_allocations;
  ASSERT_TRUE(onHeap);
  EXPECT_EQ(onHeap->Records(vbDNS::Section::Answer).size(), vbDNS::RECORDS_IN_PLACE + 1);
  EXPECT_EQ(readingOnHeap, 1);
}

}  // namespace
