// The Resolver class over DNS over TLS, late-bound as scripts call it, against
// dnsdist (in front of the tests' unbound) with the test root trusted in the
// prefix: answers come over TLS; a certificate with the wrong name, an expired
// one and one of an untrusted root give UNTRUSTED and a LastError that says
// which server and why; a plain server later in the list still answers.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>

#include <string>

#include "late_bound.h"
#include "test_addresses.h"

namespace vavizav::testing {
namespace {

using runtime::com_ptr;
using runtime::unique_variant;

const std::wstring DOT = std::wstring(L"tls://") + VAVIZAV_DNSDIST_ADDRESS;

unique_variant Bool(bool value) {
  unique_variant flag;
  V_VT(flag.get()) = VT_BOOL;
  V_BOOL(flag.get()) = value ? VARIANT_TRUE : VARIANT_FALSE;
  return flag;
}

com_ptr<IDispatch> ResolverOf(const std::wstring& servers) {
  com_ptr<IDispatch> resolver = NewResolver();
  EXPECT_EQ(Put(resolver.get(), L"DNSServer", Text(servers).get()).Status, S_OK);
  EXPECT_EQ(Put(resolver.get(), L"TimeOut", Long(3000).get()).Status, S_OK);
  return resolver;
}

TEST(ResolverOverTls, AnswersComeOverTlsOneConnectionForABatch) {
  com_ptr<IDispatch> resolver = ResolverOf(DOT + L"#dot.test");
  com_ptr<IDispatch> answer = Resolve(resolver.get(), L"many.vavizav.test");
  ASSERT_TRUE(answer);
  EXPECT_EQ(TextOf(answer.get(), L"Status"), L"NOERROR");
  EXPECT_EQ(TextOf(answer.get(), L"Transport"), L"TLS");
  EXPECT_EQ(TextOf(answer.get(), L"Text"), L"192.0.2.10\r\n192.0.2.11\r\n192.0.2.12");
  EXPECT_EQ(TextOf(resolver.get(), L"LastError"), L"");

  unique_variant names;
  SAFEARRAYBOUND bound{30, 0};
  V_VT(names.get()) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(names.get()) = SafeArrayCreate(VT_VARIANT, 1, &bound);
  for (LONG i = 0; i < 30; ++i) {
    unique_variant name = Text(i % 2 ? L"one.vavizav.test" : L"n" + std::to_wstring(i) + L".vavizav.test");
    SafeArrayPutElement(V_ARRAY(names.get()), &i, name.get());
  }
  EXPECT_EQ(Put(resolver.get(), L"Cache", Bool(false).get()).Status, S_OK);
  Result batch = Call(resolver.get(), L"ResolveMany", {names.get()});
  ASSERT_EQ(batch.Status, S_OK);
  VARIANT* answers = nullptr;
  SafeArrayAccessData(V_ARRAY(batch.Value.get()), reinterpret_cast<void**>(&answers));
  for (int i = 0; i < 30; ++i) {
    EXPECT_EQ(TextOf(V_DISPATCH(&answers[i]), L"Status"), i % 2 ? L"NOERROR" : L"NXDOMAIN") << i;
    EXPECT_EQ(TextOf(V_DISPATCH(&answers[i]), L"Transport"), L"TLS") << i;
  }
  SafeArrayUnaccessData(V_ARRAY(batch.Value.get()));
}

TEST(ResolverOverTls, CertificatesThatFailGiveUntrustedAndSayWhy) {
  struct Case {
    const wchar_t* Entry;  // after tls://ADDRESS
    const wchar_t* Why;
  };
  const Case cases[] = {
      {L":854#dot.test", L"does not carry the name dot.test"},
      {L"#other.test", L"does not carry the name other.test"},
      {L":855#dot.test", L"has expired"},
      {L":856#dot.test", L"does not lead to a trusted root"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << ::testing::PrintToString(std::wstring(c.Entry)));
    com_ptr<IDispatch> resolver = ResolverOf(DOT + c.Entry);
    com_ptr<IDispatch> answer = Resolve(resolver.get(), L"one.vavizav.test");
    ASSERT_TRUE(answer);
    EXPECT_EQ(TextOf(answer.get(), L"Status"), L"UNTRUSTED");
    EXPECT_EQ(TextOf(answer.get(), L"Server"), L"");
    const std::wstring why = TextOf(resolver.get(), L"LastError");
    EXPECT_NE(why.find(DOT), std::wstring::npos) << "names the server: " << ::testing::PrintToString(why);
    EXPECT_NE(why.find(c.Why), std::wstring::npos) << ::testing::PrintToString(why);
  }
}

TEST(ResolverOverTls, APlainServerLaterInTheListAnswersAfterAFailedCertificate) {
  com_ptr<IDispatch> resolver = ResolverOf(DOT + L":854#dot.test " + VAVIZAV_UNBOUND_ADDRESS);
  com_ptr<IDispatch> answer = Resolve(resolver.get(), L"one.vavizav.test");
  ASSERT_TRUE(answer);
  EXPECT_EQ(TextOf(answer.get(), L"Status"), L"NOERROR");
  EXPECT_EQ(TextOf(answer.get(), L"Transport"), L"UDP");
  EXPECT_EQ(TextOf(answer.get(), L"Server"), VAVIZAV_UNBOUND_ADDRESS);
}

const std::wstring DOH = std::wstring(L"https://") + VAVIZAV_DNSDIST_ADDRESS;

TEST(ResolverOverHttps, AnswersComeOverHttpsAlsoForABatch) {
  com_ptr<IDispatch> resolver = ResolverOf(DOH + L"/dns-query#doh.test");
  com_ptr<IDispatch> answer = Resolve(resolver.get(), L"many.vavizav.test");
  ASSERT_TRUE(answer);
  EXPECT_EQ(TextOf(answer.get(), L"Status"), L"NOERROR");
  EXPECT_EQ(TextOf(answer.get(), L"Transport"), L"HTTPS");
  EXPECT_EQ(TextOf(answer.get(), L"Server"), DOH + L"/dns-query#doh.test");
  EXPECT_EQ(TextOf(answer.get(), L"Text"), L"192.0.2.10\r\n192.0.2.11\r\n192.0.2.12");
  EXPECT_EQ(TextOf(resolver.get(), L"LastError"), L"");

  unique_variant names;
  SAFEARRAYBOUND bound{30, 0};
  V_VT(names.get()) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(names.get()) = SafeArrayCreate(VT_VARIANT, 1, &bound);
  for (LONG i = 0; i < 30; ++i) {
    unique_variant name = Text(i % 2 ? L"one.vavizav.test" : L"n" + std::to_wstring(i) + L".vavizav.test");
    SafeArrayPutElement(V_ARRAY(names.get()), &i, name.get());
  }
  EXPECT_EQ(Put(resolver.get(), L"Cache", Bool(false).get()).Status, S_OK);
  Result batch = Call(resolver.get(), L"ResolveMany", {names.get()});
  ASSERT_EQ(batch.Status, S_OK);
  VARIANT* answers = nullptr;
  SafeArrayAccessData(V_ARRAY(batch.Value.get()), reinterpret_cast<void**>(&answers));
  for (int i = 0; i < 30; ++i) {
    EXPECT_EQ(TextOf(V_DISPATCH(&answers[i]), L"Status"), i % 2 ? L"NOERROR" : L"NXDOMAIN") << i;
    EXPECT_EQ(TextOf(V_DISPATCH(&answers[i]), L"Transport"), L"HTTPS") << i;
  }
  SafeArrayUnaccessData(V_ARRAY(batch.Value.get()));
}

TEST(ResolverOverHttps, AWrongNameGivesUntrustedAndSaysWhy) {
  for (const wchar_t* entry : {L":444/dns-query#doh.test", L"/dns-query#other.test"}) {
    SCOPED_TRACE(::testing::Message() << ::testing::PrintToString(std::wstring(entry)));
    com_ptr<IDispatch> resolver = ResolverOf(DOH + entry);
    com_ptr<IDispatch> answer = Resolve(resolver.get(), L"one.vavizav.test");
    ASSERT_TRUE(answer);
    EXPECT_EQ(TextOf(answer.get(), L"Status"), L"UNTRUSTED");
    EXPECT_EQ(TextOf(answer.get(), L"Server"), L"");
    const std::wstring why = TextOf(resolver.get(), L"LastError");
    EXPECT_NE(why.find(DOH + entry), std::wstring::npos) << "names the server: " << ::testing::PrintToString(why);
    EXPECT_NE(why.find(L"does not carry the name"), std::wstring::npos) << ::testing::PrintToString(why);
  }
}

TEST(ResolverOverHttps, AStatusOtherThan200FailsWithTheCodeInLastError) {
  com_ptr<IDispatch> resolver = ResolverOf(DOH + L"/elsewhere#doh.test");
  com_ptr<IDispatch> answer = Resolve(resolver.get(), L"one.vavizav.test");
  ASSERT_TRUE(answer);
  EXPECT_NE(TextOf(answer.get(), L"Status"), L"NOERROR");
  EXPECT_NE(TextOf(answer.get(), L"Status"), L"UNTRUSTED");
  const std::wstring why = TextOf(resolver.get(), L"LastError");
  EXPECT_NE(why.find(DOH + L"/elsewhere#doh.test: the server answered HTTP status 4"), std::wstring::npos)
      << ::testing::PrintToString(why);
}

}  // namespace
}  // namespace vavizav::testing
