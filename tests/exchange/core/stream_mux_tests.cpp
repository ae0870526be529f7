// Many queries on one encrypted stream: padded framing (RFC 8467), IDs
// unique among those in flight, replies taken by ID in any order and in any
// cut, strays and a broken length.
#include <gtest/gtest.h>

#include <set>

#include "core_harness.h"
#include "exchange/core/stream_mux.h"

namespace vavizav::testing {
namespace {

using exchange::EncodePaddedStreamQuery;
using exchange::PaddedStreamQuery;
using exchange::StreamMux;

vbDNS::Packet Framed(const vbDNS::Packet& message) {
  return Join({U16(static_cast<std::uint16_t>(message.size())), message});
}

vbDNS::Packet ReplyWithId(std::uint16_t id) {
  return Join({U16(id), Header(0), Question(DottedName("vavizav.test"), vbDNS::TYPE_A)});
}

TEST(PaddedStreamQuery, PadsEachQueryToBlocksOf128InItsOptRecord) {
  const std::string label63(63, 'a'), label31(31, 'b');
  const struct {
    std::string Name;
    std::size_t Padded;
  } cases[] = {
      {"vavizav.test", 128},
      // 12 + 97 + 4 + 11 + 4 = 128: no zeros at all, the option still there.
      {label63 + "." + label31, 128},
      // One octet more: the next block.
      {label63 + "." + label31 + "c", 256},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name.size());
    PaddedStreamQuery out;
    const std::size_t size = EncodePaddedStreamQuery(Ask(c.Name), 0xBEEF, out);
    ASSERT_EQ(size, 2 + c.Padded);
    EXPECT_EQ((std::size_t{out[0]} << 8) | out[1], c.Padded) << "the length prefix";
    const vbDNS::Packet message(out.begin() + 2, out.begin() + static_cast<std::ptrdiff_t>(size));
    EXPECT_EQ(message[0], 0xBE);
    EXPECT_EQ(message[1], 0xEF);
    EXPECT_EQ(message[11], 1) << "ARCOUNT: the OPT record";
    // The OPT record after the question: root name, type 41, size 1232,
    // TTL 0, then RDLENGTH covering the one padding option.
    const std::size_t opt = vbDNS::HEADER_SIZE + c.Name.size() + 2 + 4;
    const std::size_t zeros = c.Padded - opt - vbDNS::OPT_RECORD_SIZE - 4;
    const vbDNS::Packet expected = Join({
        Packet{0},                                          // root
        U16(41), U16(vbDNS::EDNS_UDP_SIZE), U32(0),         // OPT, payload size, TTL
        U16(static_cast<std::uint16_t>(4 + zeros)),         // RDLENGTH
        U16(12), U16(static_cast<std::uint16_t>(zeros)),    // PADDING, its length
        Packet(zeros, 0),                                   // the zeros
    });
    EXPECT_EQ(vbDNS::Packet(message.begin() + static_cast<std::ptrdiff_t>(opt), message.end()), expected);
  }
}

TEST(PaddedStreamQuery, KeepsTheQuerysOwnEdnsSize) {
  vbDNS::DNSQuery query = Ask("vavizav.test");
  query.EdnsUdpSize = 4096;
  PaddedStreamQuery out;
  ASSERT_EQ(EncodePaddedStreamQuery(query, 1, out), 2u + 128u);
  const std::size_t opt = 2 + vbDNS::HEADER_SIZE + 14 + 4;
  EXPECT_EQ(out[opt + 3], 0x10);
  EXPECT_EQ(out[opt + 4], 0x00);
}

TEST(StreamMux, GivesEachQueryInFlightAnIdOfItsOwn) {
  exchange::RandomPool random(TestRandom);
  StreamMux mux;
  std::set<std::uint16_t> ids;
  for (std::uint32_t ticket = 0; ticket < StreamMux::MAX_IN_FLIGHT; ++ticket) {
    const std::optional<std::uint16_t> id = mux.Reserve(ticket, random);
    ASSERT_TRUE(id) << ticket;
    EXPECT_TRUE(ids.insert(*id).second);
  }
  EXPECT_FALSE(mux.Reserve(99999, random)) << "no more than MAX_IN_FLIGHT at once";
  mux.Release(*ids.begin());
  EXPECT_TRUE(mux.Reserve(99999, random));
}

// Replies come in another order than the queries went, cut anywhere: each
// goes to the ticket that waited on its ID, once.
TEST(StreamMux, TakesRepliesByIdInAnyOrderAndAnyCut) {
  exchange::RandomPool random(TestRandom);
  StreamMux mux;
  const std::uint16_t a = *mux.Reserve(10, random), b = *mux.Reserve(20, random), c = *mux.Reserve(30, random);
  const vbDNS::Packet stream = Join({Framed(ReplyWithId(c)), Framed(ReplyWithId(a)), Framed(ReplyWithId(b))});
  std::vector<std::uint32_t> order;
  for (const std::uint8_t octet : stream) {  // one octet at a time
    for (StreamMux::Reply& reply : mux.Feed(vbDNS::PacketView(&octet, 1))) {
      order.push_back(reply.Ticket);
      EXPECT_EQ(reply.Message, ReplyWithId(reply.Id));
    }
  }
  EXPECT_EQ(order, (std::vector<std::uint32_t>{30, 10, 20}));
  EXPECT_EQ(mux.InFlight(), 0u);
  // All three in one piece, to a fresh stream: the same.
  StreamMux whole;
  const std::uint16_t x = *whole.Reserve(1, random), y = *whole.Reserve(2, random);
  const std::vector<StreamMux::Reply> both = whole.Feed(Join({Framed(ReplyWithId(y)), Framed(ReplyWithId(x))}));
  ASSERT_EQ(both.size(), 2u);
  EXPECT_EQ(both[0].Ticket, 2u);
  EXPECT_EQ(both[1].Ticket, 1u);
}

// A reply to nothing in flight (released, answered already, never asked) is
// dropped; too many and the stream is not worth reading.
TEST(StreamMux, DropsStraysAndGivesUpOnAStreamOfThem) {
  exchange::RandomPool random(TestRandom);
  StreamMux mux;
  const std::uint16_t kept = *mux.Reserve(1, random), released = *mux.Reserve(2, random);
  mux.Release(released);
  EXPECT_TRUE(mux.Feed(Framed(ReplyWithId(released))).empty());
  ASSERT_EQ(mux.Feed(Framed(ReplyWithId(kept))).size(), 1u);
  EXPECT_TRUE(mux.Feed(Framed(ReplyWithId(kept))).empty()) << "answered once only";
  EXPECT_FALSE(mux.Broken());
  const std::uint16_t waiting = *mux.Reserve(3, random);
  for (unsigned i = 2; i < StreamMux::MAX_STRAYS; ++i) mux.Feed(Framed(ReplyWithId(static_cast<std::uint16_t>(waiting + 1))));
  EXPECT_TRUE(mux.Broken());
  EXPECT_TRUE(mux.Feed(Framed(ReplyWithId(waiting))).empty()) << "nothing read once broken";
  EXPECT_EQ(mux.Waiting(), (std::vector<std::uint32_t>{3}));
}

TEST(StreamMux, ALengthBelowAHeaderBreaksTheStreamAndLeavesTheRestWaiting) {
  exchange::RandomPool random(TestRandom);
  StreamMux mux;
  mux.Reserve(7, random);
  mux.Reserve(8, random);
  EXPECT_TRUE(mux.Feed(Join({U16(11), Packet(11, 0)})).empty());
  EXPECT_TRUE(mux.Broken());
  EXPECT_EQ(mux.Waiting(), (std::vector<std::uint32_t>{7, 8}));
}

}  // namespace
}  // namespace vavizav::testing
