// The Resolver class's EDNS, DNSSEC flags, extended errors and cache, called
// late-bound as scripts call it, against the scripted server, which counts
// every query it receives: the OPT record and AD on the wire, a server that
// answers FORMERR to OPT, 60 addresses in one datagram, TTLs counted down,
// negative answers for the SOA's negative TTL, the failure hold, eviction,
// FlushCache, random case still hitting one entry, and a batch of cached
// names that sends nothing.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "fake_dns_server.h"
#include "late_bound.h"
#include "packets.h"

namespace vavizav::testing {
namespace {

using namespace vavizav::packets;
using runtime::com_ptr;
using runtime::unique_variant;

constexpr std::uint16_t TYPE_SOA = 6, TYPE_MX = 15;

unique_variant Bool(bool value) {
  unique_variant flag;
  V_VT(flag.get()) = VT_BOOL;
  V_BOOL(flag.get()) = value ? VARIANT_TRUE : VARIANT_FALSE;
  return flag;
}

bool FlagOf(IDispatch* object, const wchar_t* name) {
  Result result = Call(object, name);
  EXPECT_EQ(result.Status, S_OK) << name;
  EXPECT_EQ(V_VT(result.Value.get()), VT_BOOL) << name;
  return V_BOOL(result.Value.get()) != VARIANT_FALSE;
}

com_ptr<IDispatch> ScriptedResolver() {
  com_ptr<IDispatch> resolver = NewResolver();
  Put(resolver.get(), L"DNSServer", Text(SERVER_ADDRESS).get());
  Put(resolver.get(), L"TimeOut", Long(2000).get());
  return resolver;
}

std::size_t QuestionEnd(const Query& query) {
  return vbDNS::HEADER_SIZE + (query.Name().empty() ? 1 : query.Name().size() + 2) + 4;
}
bool CarriesOpt(const Query& query) { return query.Bytes[11] == 1 && query.Bytes.size() == QuestionEnd(query) + 11; }

// The reply with an OPT record (UDP size 1232, `options` as its data) at the end.
vbDNS::Packet WithOpt(vbDNS::Packet reply, const vbDNS::Packet& options = {}) {
  const vbDNS::Packet opt = Opt(1232, 0, 0, 0, options);
  reply.insert(reply.end(), opt.begin(), opt.end());
  reply[11] = 1;
  return reply;
}

// NXDOMAIN or NODATA with an SOA whose TTL and MINIMUM are given.
vbDNS::Packet Negative(const Query& query, std::uint8_t rcode, std::uint32_t ttl, std::uint32_t minimum) {
  vbDNS::Packet reply = Reply(query, {}, ReplyFlags2(rcode));
  const vbDNS::Packet soa =
      packets::Record(DottedName("test"), TYPE_SOA,
                      Join({DottedName("ns.test"), DottedName("admin.test"), U32(1), U32(3600), U32(600), U32(86400),
                            U32(minimum)}),
                      ttl);
  reply.insert(reply.end(), soa.begin(), soa.end());
  reply[9] = 1;  // NSCount
  return reply;
}

std::size_t QueriesFor(std::string_view lowerName) {
  std::size_t count = 0;
  for (const Query& query : Server().Queries()) count += query.LowerName() == lowerName;
  return count;
}

class ResolverCacheTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(Server().Problem(), ""); }
  void TearDown() override { Server().Reset(); }
};

TEST_F(ResolverCacheTest, QueriesCarryOptAndAdAndAServerThatAnswersFormerrToOptIsAskedWithout) {
  Server().Reset([](const Query& query) {
    if (CarriesOpt(query)) {
      vbDNS::Packet formerr(query.Bytes.begin(), query.Bytes.begin() + static_cast<std::ptrdiff_t>(QuestionEnd(query)));
      formerr[2] = vbDNS::FLAG_QR | vbDNS::FLAG_RD;
      formerr[3] = RCODE_FORMERR;
      formerr[11] = 0;
      return std::vector<Send>{{formerr}};
    }
    return std::vector<Send>{{Reply(query, {A("192.0.2.7")})}};
  });
  com_ptr<IDispatch> resolver = ScriptedResolver();
  EXPECT_FALSE(FlagOf(resolver.get(), L"DnssecOk"));
  com_ptr<IDispatch> answer = Resolve(resolver.get(), L"old.test");
  EXPECT_EQ(TextOf(answer.get(), L"Status"), L"NOERROR");
  EXPECT_EQ(TextOf(answer.get(), L"Text"), L"192.0.2.7");
  std::vector<Query> queries = Server().Queries();
  ASSERT_EQ(queries.size(), 2u);
  ASSERT_TRUE(CarriesOpt(queries[0]));
  const vbDNS::Packet& first = queries[0].Bytes;
  EXPECT_EQ(first[3], vbDNS::FLAG_AD) << "AD set, everything else of Flags2 clear";
  // OPT: the root, type 41, UDP size 1232, extended RCODE and version 0, DO clear.
  EXPECT_EQ(vbDNS::Packet(first.end() - 11, first.end()), (vbDNS::Packet{0, 0, 41, 0x04, 0xD0, 0, 0, 0, 0, 0, 0}));
  EXPECT_FALSE(CarriesOpt(queries[1]));
  EXPECT_EQ(queries[1].Bytes.size(), QuestionEnd(queries[1]));

  // Remembered for the object's life: the next question goes without OPT at once.
  EXPECT_EQ(TextOf(Resolve(resolver.get(), L"old2.test").get(), L"Status"), L"NOERROR");
  queries = Server().Queries();
  ASSERT_EQ(queries.size(), 3u);
  EXPECT_FALSE(CarriesOpt(queries[2]));
}

TEST_F(ResolverCacheTest, SixtyAddressesComeInOneDatagramAndDnssecFlagsAndExtendedErrorsShow) {
  Server().Reset([](const Query& query) {
    if (query.LowerName() == "sixty-edns.cache.test") {
      std::vector<Record> sixty;
      for (int i = 0; i < 60; ++i) {
        std::string address = "198.51.100.";
        address += std::to_string(i + 1);
        sixty.push_back(A(address));
      }
      return std::vector<Send>{{WithOpt(Reply(query, sixty))}};
    }
    // DO asked: AD set, and an extended error with its text.
    const bool dnssecOk = CarriesOpt(query) && (query.Bytes[query.Bytes.size() - 4] & 0x80) != 0;
    vbDNS::Packet reply = Reply(query, {A("192.0.2.8")}, static_cast<std::uint8_t>(0x80 | (dnssecOk ? 0x20 : 0)));
    return std::vector<Send>{{WithOpt(reply, Join({U16(15), U16(8), U16(3), Octets("stale!")}))}};
  });
  com_ptr<IDispatch> resolver = ScriptedResolver();
  com_ptr<IDispatch> sixty = Resolve(resolver.get(), L"sixty-edns.cache.test");
  EXPECT_EQ(TextOf(sixty.get(), L"Status"), L"NOERROR");
  EXPECT_EQ(TextOf(ObjectOf(Call(sixty.get(), L"Records")).get(), L"Count"), L"60");
  EXPECT_EQ(Server().Queries().size(), 1u) << "one UDP exchange: the reply's 1,000 octets fit 1232";

  com_ptr<IDispatch> plain = Resolve(resolver.get(), L"plain.cache.test");
  EXPECT_FALSE(FlagOf(plain.get(), L"Authenticated"));
  EXPECT_EQ(TextOf(plain.get(), L"ExtendedError"), L"3 Stale Answer (stale!)");
  EXPECT_EQ(Put(resolver.get(), L"DnssecOk", Bool(true).get()).Status, S_OK);
  EXPECT_TRUE(FlagOf(resolver.get(), L"DnssecOk"));
  com_ptr<IDispatch> signed_ = Resolve(resolver.get(), L"plain.cache.test");
  EXPECT_TRUE(FlagOf(signed_.get(), L"Authenticated"));
  EXPECT_FALSE(FlagOf(signed_.get(), L"FromCache")) << "DO is part of the cache's key";
  EXPECT_EQ(QueriesFor("plain.cache.test"), 2u);
}

TEST_F(ResolverCacheTest, AnswersAreKeptForTheirTtlCountedDownAndRandomCaseHitsOneEntry) {
  Server().Reset([](const Query& query) {
    if (query.LowerName() == "long.cache.test") {
      vbDNS::Packet reply = Reply(query, {});
      const vbDNS::Packet record = packets::Record(Pointer(12), vbDNS::TYPE_A, {192, 0, 2, 9}, 200000);
      reply.insert(reply.end(), record.begin(), record.end());
      reply[7] = 1;
      return std::vector<Send>{{reply}};
    }
    return std::vector<Send>{{Reply(query, {A("192.0.2.1")})}};  // TTL 300
  });
  com_ptr<IDispatch> resolver = ScriptedResolver();
  EXPECT_TRUE(FlagOf(resolver.get(), L"Cache"));
  EXPECT_EQ(TextOf(resolver.get(), L"CacheSize"), L"10000");
  com_ptr<IDispatch> first = Resolve(resolver.get(), L"www.cache.test");
  EXPECT_FALSE(FlagOf(first.get(), L"FromCache"));
  EXPECT_EQ(TextOf(RecordOf(first.get(), 0).get(), L"TTL"), L"300");
  ::Sleep(1100);
  for (const wchar_t* spelling : {L"www.cache.test", L"WWW.Cache.TEST", L"wWw.cAcHe.tEsT."}) {
    com_ptr<IDispatch> again = Resolve(resolver.get(), spelling);
    EXPECT_TRUE(FlagOf(again.get(), L"FromCache")) << spelling;
    EXPECT_EQ(TextOf(again.get(), L"Name"), spelling);
    EXPECT_EQ(TextOf(again.get(), L"Text"), L"192.0.2.1");
    EXPECT_EQ(TextOf(again.get(), L"Server"), SERVER_ADDRESS);
    const std::wstring ttl = TextOf(RecordOf(again.get(), 0).get(), L"TTL");
    EXPECT_TRUE(ttl == L"299" || ttl == L"298") << ttl;
  }
  EXPECT_EQ(QueriesFor("www.cache.test"), 1u);
  EXPECT_EQ(TextOf(RecordOf(Resolve(resolver.get(), L"long.cache.test").get(), 0).get(), L"TTL"), L"200000")
      << "as the server gave it";
  EXPECT_EQ(TextOf(RecordOf(Resolve(resolver.get(), L"long.cache.test").get(), 0).get(), L"TTL"), L"86400")
      << "out of the cache: kept a day at most";

  // FlushCache, and Cache off, ask again.
  EXPECT_EQ(Call(resolver.get(), L"FlushCache").Status, S_OK);
  EXPECT_FALSE(FlagOf(Resolve(resolver.get(), L"www.cache.test").get(), L"FromCache"));
  EXPECT_EQ(QueriesFor("www.cache.test"), 2u);
  EXPECT_EQ(Put(resolver.get(), L"Cache", Bool(false).get()).Status, S_OK);
  EXPECT_FALSE(FlagOf(Resolve(resolver.get(), L"www.cache.test").get(), L"FromCache"));
  EXPECT_FALSE(FlagOf(Resolve(resolver.get(), L"www.cache.test").get(), L"FromCache"));
  EXPECT_EQ(QueriesFor("www.cache.test"), 4u);
}

TEST_F(ResolverCacheTest, NegativeAnswersForTheSoasNegativeTtlAndFailuresHeldFiveSeconds) {
  Server().Reset([](const Query& query) {
    if (query.LowerName() == "gone.cache.test") return std::vector<Send>{{Negative(query, RCODE_NXDOMAIN, 300, 1)}};
    if (query.LowerName() == "nodata.cache.test") return std::vector<Send>{{Negative(query, RCODE_NOERROR, 1, 300)}};
    if (query.LowerName() == "nosoa.cache.test") return std::vector<Send>{{Reply(query, {}, ReplyFlags2(RCODE_NXDOMAIN))}};
    return std::vector<Send>{{Reply(query, {}, ReplyFlags2(RCODE_SERVFAIL))}};
  });
  com_ptr<IDispatch> resolver = ScriptedResolver();
  EXPECT_EQ(TextOf(Resolve(resolver.get(), L"gone.cache.test").get(), L"Status"), L"NXDOMAIN");
  com_ptr<IDispatch> otherType = Resolve(resolver.get(), L"Gone.Cache.Test", L"MX");
  EXPECT_EQ(TextOf(otherType.get(), L"Status"), L"NXDOMAIN");
  EXPECT_TRUE(FlagOf(otherType.get(), L"FromCache")) << "NXDOMAIN is for every type of the name";
  EXPECT_EQ(TextOf(Resolve(resolver.get(), L"nodata.cache.test", L"MX").get(), L"Status"), L"NOERROR");
  EXPECT_TRUE(FlagOf(Resolve(resolver.get(), L"nodata.cache.test", L"MX").get(), L"FromCache"));
  EXPECT_FALSE(FlagOf(Resolve(resolver.get(), L"nodata.cache.test", L"A").get(), L"FromCache"));
  Resolve(resolver.get(), L"nosoa.cache.test");
  EXPECT_FALSE(FlagOf(Resolve(resolver.get(), L"nosoa.cache.test").get(), L"FromCache")) << "no SOA: not kept";
  EXPECT_EQ(TextOf(Resolve(resolver.get(), L"broken.cache.test").get(), L"Status"), L"SERVFAIL");
  com_ptr<IDispatch> held = Resolve(resolver.get(), L"broken.cache.test");
  EXPECT_EQ(TextOf(held.get(), L"Status"), L"SERVFAIL");
  EXPECT_TRUE(FlagOf(held.get(), L"FromCache"));

  ::Sleep(1100);  // past the negative TTLs of 1 s
  EXPECT_FALSE(FlagOf(Resolve(resolver.get(), L"gone.cache.test").get(), L"FromCache"));
  EXPECT_FALSE(FlagOf(Resolve(resolver.get(), L"nodata.cache.test", L"MX").get(), L"FromCache"));
  EXPECT_TRUE(FlagOf(Resolve(resolver.get(), L"broken.cache.test").get(), L"FromCache"));
  ::Sleep(4000);  // past the failure hold of 5 s
  EXPECT_FALSE(FlagOf(Resolve(resolver.get(), L"broken.cache.test").get(), L"FromCache"));
  EXPECT_EQ(QueriesFor("gone.cache.test"), 2u);
  EXPECT_EQ(QueriesFor("nodata.cache.test"), 3u);
  EXPECT_EQ(QueriesFor("nosoa.cache.test"), 2u);
  EXPECT_EQ(QueriesFor("broken.cache.test"), 2u);
}

TEST_F(ResolverCacheTest, EvictionAtCacheSizeAndABatchOfCachedNamesSendsNothing) {
  Server().Reset([](const Query& query) { return std::vector<Send>{{Reply(query, {A("192.0.2.2")})}}; });
  com_ptr<IDispatch> resolver = ScriptedResolver();
  EXPECT_EQ(Put(resolver.get(), L"CacheSize", Long(0).get()).Description,
            L"CacheSize must be from 1 to 1000000; 0 was refused");
  EXPECT_EQ(Put(resolver.get(), L"CacheSize", Long(2).get()).Status, S_OK);
  for (const wchar_t* name : {L"e1.cache.test", L"e2.cache.test", L"e3.cache.test"}) Resolve(resolver.get(), name);
  EXPECT_FALSE(FlagOf(Resolve(resolver.get(), L"e1.cache.test").get(), L"FromCache")) << "the oldest went";
  EXPECT_TRUE(FlagOf(Resolve(resolver.get(), L"e3.cache.test").get(), L"FromCache"));
  EXPECT_EQ(Put(resolver.get(), L"CacheSize", Long(100).get()).Status, S_OK);

  unique_variant names;
  SAFEARRAYBOUND bound{50, 0};
  V_VT(names.get()) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(names.get()) = SafeArrayCreate(VT_VARIANT, 1, &bound);
  for (LONG i = 0; i < 50; ++i) {
    unique_variant name = Text(L"b" + std::to_wstring(i) + L".batch.cache.test");
    SafeArrayPutElement(V_ARRAY(names.get()), &i, name.get());
  }
  Result first = Call(resolver.get(), L"ResolveMany", {names.get()});
  ASSERT_EQ(first.Status, S_OK);
  const std::size_t sent = Server().Queries().size();
  Result second = Call(resolver.get(), L"ResolveMany", {names.get()});
  ASSERT_EQ(second.Status, S_OK);
  EXPECT_EQ(Server().Queries().size(), sent) << "every name answered from the cache";
  VARIANT* answers = nullptr;
  SafeArrayAccessData(V_ARRAY(second.Value.get()), reinterpret_cast<void**>(&answers));
  for (int i = 0; i < 50; ++i) {
    EXPECT_TRUE(FlagOf(V_DISPATCH(&answers[i]), L"FromCache")) << i;
    EXPECT_EQ(TextOf(V_DISPATCH(&answers[i]), L"Text"), L"192.0.2.2");
  }
  SafeArrayUnaccessData(V_ARRAY(second.Value.get()));
}

// Names in flight in a batch running on the component's thread are not asked
// again by a batch of the same object on the caller's thread: it waits for
// their answers. The cache is off, so only the sharing can spare the queries.
TEST_F(ResolverCacheTest, NamesInFlightInAnotherBatchAreNotAskedTwice) {
  Server().Reset([](const Query& query) { return std::vector<Send>{{Reply(query, {A("192.0.2.7")}), 300}}; });
  com_ptr<IDispatch> resolver = ScriptedResolver();
  EXPECT_EQ(Put(resolver.get(), L"Cache", Bool(false).get()).Status, S_OK);
  unique_variant names;
  SAFEARRAYBOUND bound{20, 0};
  V_VT(names.get()) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(names.get()) = SafeArrayCreate(VT_VARIANT, 1, &bound);
  for (LONG i = 0; i < 20; ++i) {
    unique_variant name = Text(L"f" + std::to_wstring(i) + L".flight.test");
    SafeArrayPutElement(V_ARRAY(names.get()), &i, name.get());
  }
  com_ptr<IDispatch> batch = ObjectOf(Call(resolver.get(), L"ResolveManyAsync", {names.get()}));
  ASSERT_TRUE(batch);
  // The worker has its questions out well before their replies come.
  ::Sleep(100);
  Result alongside = Call(resolver.get(), L"ResolveMany", {names.get()});
  ASSERT_EQ(alongside.Status, S_OK);
  Result waited = Call(batch.get(), L"Wait");
  ASSERT_EQ(waited.Status, S_OK);
  VARIANT* answers = nullptr;
  SafeArrayAccessData(V_ARRAY(alongside.Value.get()), reinterpret_cast<void**>(&answers));
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(TextOf(V_DISPATCH(&answers[i]), L"Text"), L"192.0.2.7") << i;
    EXPECT_FALSE(FlagOf(V_DISPATCH(&answers[i]), L"FromCache")) << i;
  }
  SafeArrayUnaccessData(V_ARRAY(alongside.Value.get()));
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(QueriesFor("f" + std::to_string(i) + ".flight.test"), 1u) << i;
  }
}

TEST_F(ResolverCacheTest, NewMembersKeepTheirDispatchIdentifiers) {
  Server().Reset([](const Query& query) { return std::vector<Send>{{Reply(query, {A("192.0.2.3")})}}; });
  com_ptr<IDispatch> resolver = ScriptedResolver();
  EXPECT_EQ(IdOf(resolver.get(), L"DnssecOk"), 20);
  EXPECT_EQ(IdOf(resolver.get(), L"Cache"), 21);
  EXPECT_EQ(IdOf(resolver.get(), L"CacheSize"), 22);
  EXPECT_EQ(IdOf(resolver.get(), L"FlushCache"), 23);
  com_ptr<IDispatch> answer = Resolve(resolver.get(), L"ids.cache.test");
  EXPECT_EQ(IdOf(answer.get(), L"Authenticated"), 20);
  EXPECT_EQ(IdOf(answer.get(), L"ExtendedError"), 21);
  EXPECT_EQ(IdOf(answer.get(), L"FromCache"), 22);
}

}  // namespace
}  // namespace vavizav::testing

namespace vavizav::testing {
namespace {

using runtime::com_ptr;

// A validating unbound (tests/e2e/dnssec-local) over zones signed at test
// time: AD on the good zone's answer, SERVFAIL with "6 DNSSEC Bogus" on the
// zone whose signature no longer matches its data.
TEST(ValidatingResolver, AuthenticatedOnASignedZoneAndDnssecBogusOnABrokenOne) {
  com_ptr<IDispatch> resolver = NewResolver();
  Put(resolver.get(), L"DNSServer", Text(VAVIZAV_VALIDATOR_ADDRESS).get());
  Put(resolver.get(), L"TimeOut", Long(5000).get());
  com_ptr<IDispatch> good = Resolve(resolver.get(), L"www.signed.test");
  EXPECT_EQ(TextOf(good.get(), L"Status"), L"NOERROR");
  EXPECT_EQ(TextOf(good.get(), L"Text"), L"192.0.2.80");
  EXPECT_TRUE(FlagOf(good.get(), L"Authenticated"));
  EXPECT_EQ(TextOf(good.get(), L"ExtendedError"), L"");

  // With DO the signature comes along, typed by the record table.
  EXPECT_EQ(Put(resolver.get(), L"DnssecOk", Bool(true).get()).Status, S_OK);
  com_ptr<IDispatch> withSignatures = Resolve(resolver.get(), L"www.signed.test", L"ANY");
  bool sawRrsig = false;
  const LONG count = std::stol(TextOf(ObjectOf(Call(withSignatures.get(), L"Records")).get(), L"Count"));
  for (LONG i = 0; i < count; ++i) sawRrsig |= TextOf(RecordOf(withSignatures.get(), i).get(), L"Type") == L"RRSIG";
  EXPECT_TRUE(sawRrsig);

  com_ptr<IDispatch> bogus = Resolve(resolver.get(), L"www.broken.test");
  EXPECT_EQ(TextOf(bogus.get(), L"Status"), L"SERVFAIL");
  EXPECT_FALSE(FlagOf(bogus.get(), L"Authenticated"));
  const std::wstring error = TextOf(bogus.get(), L"ExtendedError");
  EXPECT_EQ(error.rfind(L"6 DNSSEC Bogus", 0), 0u) << error;
}

}  // namespace
}  // namespace vavizav::testing
