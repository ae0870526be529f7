// The Resolver's cache on a fake clock: how long each kind of answer is kept
// (TTLs, RFC 2308's negative TTL from the SOA, failures), TTLs counted down
// from the reply's arrival, keys without regard to case, whole-name NXDOMAIN,
// the DO bit in the key, eviction of the least recently used, and the
// question the Resolver class sends (OPT, AD).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "packets.h"
#include "resolver/answer.h"
#include "resolver/cache.h"
#include "resolver/name_text.h"

using namespace vavizav::packets;
using vavizav::resolver::AnswerCache;
using vavizav::resolver::AnswerModel;
using vavizav::resolver::CachedAnswer;
using vavizav::resolver::CacheRule;
using vavizav::resolver::CacheRuleFor;
using vbDNS::Packet;

namespace {

using namespace std::string_literals;

constexpr std::uint16_t A = 1, MX = 15, CNAME = 5, SOA = 6;

vbDNS::DNSQuery Ask(std::string_view name, std::uint16_t type = A, bool dnssecOk = false) {
  std::optional<vbDNS::DNSQuery> query = vbDNS::BuildQuestion(type, name);
  EXPECT_TRUE(query) << name;
  query->DnssecOk = dnssecOk;
  return *query;
}

// A reply to `name`/`type`: answer and authority records as given.
Packet Reply(std::string_view name, std::uint16_t type, std::uint8_t rcode, std::vector<Packet> answers,
             std::vector<Packet> authority = {}) {
  Packet reply = Join({MessageHeader(1, static_cast<std::uint16_t>(answers.size()),
                                     static_cast<std::uint16_t>(authority.size()), 0, ReplyFlags2(rcode)),
                       Question(DottedName(name), type)});
  for (const Packet& record : answers) reply = Join({reply, record});
  for (const Packet& record : authority) reply = Join({reply, record});
  return reply;
}

Packet Address(std::uint32_t ttl, std::uint8_t last = 1) {
  return Record(Pointer(vbDNS::HEADER_SIZE), A, {192, 0, 2, last}, ttl);
}

// An SOA record of `zone` whose own TTL and MINIMUM field are given.
Packet Soa(std::string_view zone, std::uint32_t ttl, std::uint32_t minimum) {
  return Record(DottedName(zone), SOA,
                Join({DottedName("ns.example"), DottedName("admin.example"), U32(1), U32(3600), U32(600), U32(86400),
                      U32(minimum)}),
                ttl);
}

struct Judged {
  AnswerModel Model;
  CacheRule Rule;
};

Judged Judge(const vbDNS::DNSQuery& query, const Packet& reply) {
  Judged judged{vavizav::resolver::JudgeReply(reply, query), {}};
  judged.Rule = CacheRuleFor(judged.Model, reply);
  return judged;
}

void Keep(AnswerCache& cache, const vbDNS::DNSQuery& query, const Packet& reply, std::uint64_t arrivedMs) {
  const Judged judged = Judge(query, reply);
  cache.Keep(query, CachedAnswer{judged.Model, L"192.0.2.53"}, judged.Rule, arrivedMs);
}

TEST(CacheRule, PositiveNegativeAndFailuresAsTheRfcsSay) {
  const vbDNS::DNSQuery a = Ask("www.example");
  // The smallest TTL of the answer section, chain included; at most a day.
  const Packet chain = Join({MessageHeader(1, 3, 0, 0), Question(DottedName("www.example"), A),
                             Record(Pointer(12), CNAME, DottedName("host.example"), 120),
                             Record(DottedName("host.example"), A, {192, 0, 2, 1}, 300),
                             Record(DottedName("host.example"), A, {192, 0, 2, 2}, 200)});
  EXPECT_EQ(Judge(a, chain).Rule.Seconds, 120u);
  EXPECT_EQ(Judge(a, Reply("www.example", A, RCODE_NOERROR, {Address(9999999)})).Rule.Seconds, 86400u);
  EXPECT_EQ(Judge(a, Reply("www.example", A, RCODE_NOERROR, {Address(0x80000010)})).Rule.Seconds, 0u)
      << "a TTL with its top bit set is 0: not kept";

  // NXDOMAIN and NODATA: min(SOA TTL, MINIMUM), at most an hour; none without SOA.
  const Judged nx = Judge(a, Reply("www.example", A, RCODE_NXDOMAIN, {}, {Soa("example", 900, 300)}));
  EXPECT_EQ(nx.Rule.Seconds, 300u);
  EXPECT_TRUE(nx.Rule.WholeName);
  EXPECT_EQ(Judge(a, Reply("www.example", A, RCODE_NXDOMAIN, {}, {Soa("example", 60, 300)})).Rule.Seconds, 60u);
  EXPECT_EQ(Judge(a, Reply("www.example", A, RCODE_NXDOMAIN, {}, {Soa("example", 86400, 86400)})).Rule.Seconds,
            3600u);
  EXPECT_EQ(Judge(a, Reply("www.example", A, RCODE_NXDOMAIN, {})).Rule.Seconds, 0u);
  const Judged nodata = Judge(a, Reply("www.example", A, RCODE_NOERROR, {}, {Soa("example", 900, 240)}));
  EXPECT_EQ(nodata.Rule.Seconds, 240u);
  EXPECT_FALSE(nodata.Rule.WholeName) << "NODATA is for the name and type";
  EXPECT_EQ(Judge(a, Reply("www.example", A, RCODE_NOERROR, {})).Rule.Seconds, 0u);
  // NXDOMAIN at the end of a chain: the asked name exists.
  const Packet chainToNothing = Join({MessageHeader(1, 1, 1, 0, ReplyFlags2(RCODE_NXDOMAIN)),
                                      Question(DottedName("www.example"), A),
                                      Record(Pointer(12), CNAME, DottedName("gone.example"), 600),
                                      Soa("example", 900, 300)});
  EXPECT_FALSE(Judge(a, chainToNothing).Rule.WholeName);

  // Failures a few seconds; other codes and no reply never.
  EXPECT_EQ(Judge(a, Reply("www.example", A, RCODE_SERVFAIL, {})).Rule.Seconds, 5u);
  EXPECT_EQ(Judge(a, Reply("www.example", A, RCODE_REFUSED, {})).Rule.Seconds, 5u);
  EXPECT_EQ(Judge(a, Reply("www.example", A, RCODE_FORMERR, {})).Rule.Seconds, 0u);
  EXPECT_EQ(CacheRuleFor(vavizav::resolver::AnswerWithoutReply(vavizav::resolver::TIMEOUT_STATUS), std::nullopt).Seconds, 5u);
  EXPECT_EQ(CacheRuleFor(vavizav::resolver::AnswerWithoutReply(vavizav::resolver::NOSERVER_STATUS), std::nullopt).Seconds, 0u);
  EXPECT_EQ(CacheRuleFor(vavizav::resolver::AnswerWithoutReply(vavizav::resolver::MALFORMED_STATUS), std::nullopt).Seconds, 0u);
}

TEST(AnswerCache, TtlsCountDownFromTheArrivalAndTheEntryGoesWithTheSmallest) {
  AnswerCache cache;
  const vbDNS::DNSQuery a = Ask("www.example");
  Keep(cache, a, Reply("www.example", A, RCODE_NOERROR, {Address(300, 1), Address(60, 2)}), 10000);
  std::optional<CachedAnswer> hit = cache.Find(a, 10999);
  ASSERT_TRUE(hit);
  EXPECT_EQ(hit->Model.Records[0].TTL, 300u);
  EXPECT_EQ(hit->Model.Records[1].TTL, 60u);
  EXPECT_EQ(hit->Server, L"192.0.2.53");
  hit = cache.Find(a, 10000 + 45500);
  ASSERT_TRUE(hit);
  EXPECT_EQ(hit->Model.Records[0].TTL, 255u);
  EXPECT_EQ(hit->Model.Records[1].TTL, 15u);
  EXPECT_TRUE(cache.Find(a, 10000 + 59999));
  EXPECT_FALSE(cache.Find(a, 10000 + 60000)) << "gone with the smallest TTL";
  EXPECT_EQ(cache.Size(), 0u);
  // A TTL over a day is handed out as a day at most.
  Keep(cache, a, Reply("www.example", A, RCODE_NOERROR, {Address(500000)}), 0);
  EXPECT_EQ(cache.Find(a, 1000)->Model.Records[0].TTL, 86399u);
  EXPECT_FALSE(cache.Find(a, 86400000));
}

TEST(AnswerCache, KeysIgnoreCaseButNotTypeClassOrDo) {
  AnswerCache cache;
  Keep(cache, Ask("WwW.ExAmPlE"), Reply("WwW.ExAmPlE", A, RCODE_NOERROR, {Address(60)}), 0);
  EXPECT_TRUE(cache.Find(Ask("www.example"), 1));
  EXPECT_TRUE(cache.Find(Ask("WWW.EXAMPLE."), 1));
  EXPECT_FALSE(cache.Find(Ask("www.example", MX), 1));
  EXPECT_FALSE(cache.Find(Ask("www.example", A, true), 1)) << "the DO bit is part of the key";
  EXPECT_FALSE(cache.Find(Ask("www2.example"), 1));
}

TEST(AnswerCache, NegativeAnswersAndFailuresAreKeptForTheirTimeThenAskedAgain) {
  AnswerCache cache;
  // NXDOMAIN holds for every type of the name; NODATA for its type alone.
  Keep(cache, Ask("gone.example"), Reply("gone.example", A, RCODE_NXDOMAIN, {}, {Soa("example", 900, 30)}), 0);
  std::optional<CachedAnswer> hit = cache.Find(Ask("gone.example", MX), 29999);
  ASSERT_TRUE(hit);
  EXPECT_EQ(hit->Model.Status, vavizav::resolver::RcodeStatus(3));
  EXPECT_FALSE(cache.Find(Ask("gone.example"), 30000));

  Keep(cache, Ask("mail.example", MX), Reply("mail.example", MX, RCODE_NOERROR, {}, {Soa("example", 20, 900)}), 0);
  EXPECT_TRUE(cache.Find(Ask("mail.example", MX), 19999));
  EXPECT_FALSE(cache.Find(Ask("mail.example", A), 1));
  EXPECT_FALSE(cache.Find(Ask("mail.example", MX), 20000));

  const vbDNS::DNSQuery broken = Ask("broken.example");
  Keep(cache, broken, Reply("broken.example", A, RCODE_SERVFAIL, {}), 1000);
  EXPECT_TRUE(cache.Find(broken, 5999));
  EXPECT_FALSE(cache.Find(broken, 6000));
  // A clock that went back finds nothing rather than a TTL from the future.
  Keep(cache, broken, Reply("broken.example", A, RCODE_SERVFAIL, {}), 1000);
  EXPECT_FALSE(cache.Find(broken, 999));
}

TEST(AnswerCache, AtMostCapacityEntriesTheLeastRecentlyUsedGoingFirst) {
  AnswerCache cache(3);
  for (const char* name : {"a.example", "b.example", "c.example"}) {
    Keep(cache, Ask(name), Reply(name, A, RCODE_NOERROR, {Address(60)}), 0);
  }
  EXPECT_TRUE(cache.Find(Ask("a.example"), 1));  // a is now the most recent; b the oldest
  Keep(cache, Ask("d.example"), Reply("d.example", A, RCODE_NOERROR, {Address(60)}), 0);
  EXPECT_EQ(cache.Size(), 3u);
  EXPECT_FALSE(cache.Find(Ask("b.example"), 1));
  EXPECT_TRUE(cache.Find(Ask("a.example"), 1));
  EXPECT_TRUE(cache.Find(Ask("c.example"), 1));
  // Kept again under the same key: replaced, not added.
  Keep(cache, Ask("C.EXAMPLE"), Reply("C.EXAMPLE", A, RCODE_NOERROR, {Address(60, 9)}), 0);
  EXPECT_EQ(cache.Size(), 3u);
  EXPECT_EQ(cache.Find(Ask("c.example"), 1)->Model.Records[0].Data, "192.0.2.9");
  cache.SetCapacity(1);
  EXPECT_EQ(cache.Size(), 1u);
  EXPECT_TRUE(cache.Find(Ask("c.example"), 1)) << "the most recently used stays";
  cache.Flush();
  EXPECT_EQ(cache.Size(), 0u);
  // Many distinct names: never more than the capacity.
  AnswerCache bounded(100);
  for (int i = 0; i < 1000; ++i) {
    std::string name = std::to_string(i);  // (GCC 12 warns about "n" + string falsely)
    name.insert(0, 1, 'n');
    name += ".example";
    Keep(bounded, Ask(name), Reply(name, A, RCODE_NOERROR, {Address(60)}), 0);
  }
  EXPECT_EQ(bounded.Size(), 100u);
}

TEST(ResolverQuestion, CarriesOptAndAdAndReadsThemBack) {
  const vbDNS::DNSQuery query = vavizav::resolver::QuestionForWire("\x06signed\x07example"s + '\0', A);
  EXPECT_EQ(query.EdnsUdpSize, 1232);
  EXPECT_EQ(query.Header.Flags2 & vbDNS::FLAG_AD, vbDNS::FLAG_AD);
  const Packet wire = vbDNS::EncodeQuery(query);
  EXPECT_EQ(wire[3], vbDNS::FLAG_AD);
  EXPECT_EQ(wire[11], 1) << "ARCount: the OPT record";

  // AD in the reply, and RFC 8914's errors: known codes by name, extra text
  // in parentheses, several joined, unknown codes by number alone.
  const Packet ede = Join({U16(15), U16(5), U16(6), Octets("sig"),  // 6 DNSSEC Bogus (sig)
                           U16(10), U16(2), U16(0),                  // a cookie: not an error
                           U16(15), U16(2), U16(3),                  // 3 Stale Answer
                           U16(15), U16(2), U16(999),                // a code without a name
                           U16(15), U16(1), {7}});                   // too short: skipped
  Packet reply = Join({MessageHeader(1, 0, 0, 1, static_cast<std::uint8_t>(ReplyFlags2(RCODE_SERVFAIL) | 0x20)),
                       Question(DottedName("signed.example"), A), Opt(1232, 0, 0, 0, ede)});
  AnswerModel model = vavizav::resolver::JudgeReply(reply, query);
  EXPECT_EQ(model.Status, vavizav::resolver::RcodeStatus(RCODE_SERVFAIL));
  EXPECT_TRUE(model.Authenticated);
  EXPECT_EQ(model.ExtendedError, "6 DNSSEC Bogus (sig); 3 Stale Answer; 999");
  reply[3] = ReplyFlags2();
  model = vavizav::resolver::JudgeReply(reply, query);
  EXPECT_FALSE(model.Authenticated);
  EXPECT_EQ(vavizav::resolver::JudgeReply(Reply("signed.example", A, RCODE_NOERROR, {Address(5)}), query).ExtendedError, "");
}

}  // namespace
