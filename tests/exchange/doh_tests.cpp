// DNS over HTTPS through WinHTTP against dnsdist's DoH listeners: a POST
// answered, a status other than 200 a failure with its code, and a
// certificate that fails the component's check ending the request before
// the question is written.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "exchange/doh_request.h"
#include "exchange/server_list.h"
#include "runtime/winsock_startup.h"
#include "test_addresses.h"

namespace vavizav::testing {
namespace {

using exchange::DohExchange;
using exchange::DohOutcome;

constexpr std::uint16_t TYPE_SOA = 6;

vbDNS::Packet QueryWithIdZero() {
  vbDNS::DNSQuery query = *vbDNS::BuildQuestion(TYPE_SOA, "vavizav.test");
  vbDNS::QueryDatagram datagram;
  const std::size_t size = vbDNS::EncodeQuery(query, 0, datagram);
  return vbDNS::Packet(datagram.begin(), datagram.begin() + static_cast<std::ptrdiff_t>(size));
}

exchange::ServerEndpoint Https(const std::wstring& entry) {
  EXPECT_TRUE(runtime::EnsureWinsock());
  std::optional<exchange::ServerEndpoint> server = exchange::ResolveServer(entry);
  EXPECT_TRUE(server && server->Transport == exchange::ServerTransport::Https);
  return server.value_or(exchange::ServerEndpoint{});
}

TEST(DnsOverHttps, PostsTheQueryAndTakesTheDnsMessage) {
  const exchange::DohResult result =
      DohExchange(Https(L"https://" VAVIZAV_DNSDIST_ADDRESS L"/dns-query#doh.test"), QueryWithIdZero(), 5000);
  ASSERT_EQ(result.Outcome, DohOutcome::Answered) << result.Error << " " << result.HttpStatus;
  EXPECT_EQ(result.HttpStatus, 200u);
  EXPECT_EQ(result.Check.Verdict, exchange::CertificateVerdict::Trusted);
  ASSERT_GE(result.Reply.size(), vbDNS::HEADER_SIZE);
  EXPECT_EQ(result.Reply[0], 0);
  EXPECT_EQ(result.Reply[1], 0) << "ID 0 (RFC 8484 section 4.1)";
  EXPECT_EQ(result.Reply[3] & 0x0F, 0) << "rcode";
}

TEST(DnsOverHttps, AStatusOtherThan200IsAFailureWithItsCode) {
  const exchange::DohResult result =
      DohExchange(Https(L"https://" VAVIZAV_DNSDIST_ADDRESS L"/elsewhere#doh.test"), QueryWithIdZero(), 5000);
  EXPECT_EQ(result.Outcome, DohOutcome::HttpError);
  EXPECT_NE(result.HttpStatus, 200u);
  EXPECT_NE(result.HttpStatus, 0u);
}

TEST(DnsOverHttps, ACertificateThatFailsEndsTheRequestUnsent) {
  const struct {
    const wchar_t* Entry;
    exchange::CertificateVerdict Verdict;
  } cases[] = {
      {L"https://" VAVIZAV_DNSDIST_ADDRESS L":444/dns-query#doh.test", exchange::CertificateVerdict::WrongName},
      {L"https://" VAVIZAV_DNSDIST_ADDRESS L"/dns-query#other.test", exchange::CertificateVerdict::WrongName},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Entry, c.Entry + wcslen(c.Entry)));
    const exchange::DohResult result = DohExchange(Https(c.Entry), QueryWithIdZero(), 5000);
    EXPECT_EQ(result.Outcome, DohOutcome::Untrusted) << result.Error << " " << result.HttpStatus;
    EXPECT_EQ(result.Check.Verdict, c.Verdict);
    EXPECT_TRUE(result.Reply.empty());
  }
}

// One client kept for many requests (as the engine keeps one per server): every
// one answered; the cost of a request on the warm connection printed.
TEST(DnsOverHttps, OneClientAnswersRequestAfterRequest) {
  const exchange::DohClient client(Https(L"https://" VAVIZAV_DNSDIST_ADDRESS L"/dns-query#doh.test"));
  const vbDNS::Packet query = QueryWithIdZero();
  ASSERT_EQ(client.Exchange(query, 5000).Outcome, DohOutcome::Answered);
  constexpr int REQUESTS = 20;
  const ULONGLONG start = ::GetTickCount64();
  for (int i = 0; i < REQUESTS; ++i) {
    const exchange::DohResult result = client.Exchange(query, 5000);
    ASSERT_EQ(result.Outcome, DohOutcome::Answered) << i << " " << result.Error << " " << result.HttpStatus;
  }
  std::printf("[ measure  ] DoH request on a warm connection: %.1f ms\n",
              static_cast<double>(::GetTickCount64() - start) / REQUESTS);
}

TEST(DnsOverHttps, NobodyListeningIsAFailure) {
  const exchange::DohResult result =
      DohExchange(Https(L"https://" VAVIZAV_SILENT_ADDRESS L"/dns-query#doh.test"), QueryWithIdZero(), 2000);
  EXPECT_EQ(result.Outcome, DohOutcome::Failed);
}

}  // namespace
}  // namespace vavizav::testing
