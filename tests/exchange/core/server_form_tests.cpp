// The forms of a DNSServer entry: plain, tls:// and https://, each with its
// default port, and every refusal the reader gives.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "exchange/core/server_form.h"

namespace vavizav::testing {
namespace {

using exchange::ReadServerForm;
using exchange::ServerForm;
using exchange::ServerFormRefusal;
using exchange::ServerTransport;

std::string Narrow(std::wstring_view text) { return {text.begin(), text.end()}; }

TEST(ServerForm, ReadsEachTransportWithItsDefaultsAndExplicitPorts) {
  const struct {
    const wchar_t* Entry;
    ServerTransport Transport;
    const wchar_t* Host;
    std::uint16_t Port;
    const wchar_t* CertificateName;
    const wchar_t* Path;
    bool AddressOnly;
  } good[] = {
      {L"127.0.0.1", ServerTransport::Plain, L"127.0.0.1", 53, L"", L"", false},
      {L"127.0.0.1:5300", ServerTransport::Plain, L"127.0.0.1", 5300, L"", L"", false},
      {L"2001:db8::1", ServerTransport::Plain, L"2001:db8::1", 53, L"", L"", false},
      {L"[::1]:5300", ServerTransport::Plain, L"::1", 5300, L"", L"", false},
      {L"dns.example", ServerTransport::Plain, L"dns.example", 53, L"", L"", false},
      {L"tls://127.0.0.1#dot.test", ServerTransport::Tls, L"127.0.0.1", 853, L"dot.test", L"", true},
      {L"TLS://127.0.0.1:8853#dot.test", ServerTransport::Tls, L"127.0.0.1", 8853, L"dot.test", L"", true},
      {L"tls://::1#dot.test", ServerTransport::Tls, L"::1", 853, L"dot.test", L"", true},
      {L"tls://[::1]:853#a-b.c0", ServerTransport::Tls, L"::1", 853, L"a-b.c0", L"", true},
      {L"https://doh.test/dns-query", ServerTransport::Https, L"doh.test", 443, L"doh.test", L"/dns-query", false},
      {L"https://doh.test:8443/q?x=1", ServerTransport::Https, L"doh.test", 8443, L"doh.test", L"/q?x=1", false},
      {L"Https://127.0.0.1:8443/dns-query#doh.test", ServerTransport::Https, L"127.0.0.1", 8443, L"doh.test",
       L"/dns-query", true},
      {L"https://[::1]/#doh.test", ServerTransport::Https, L"::1", 443, L"doh.test", L"/", true},
  };
  for (const auto& c : good) {
    SCOPED_TRACE(Narrow(c.Entry));
    const auto reading = ReadServerForm(c.Entry);
    ASSERT_TRUE(reading.Form);
    const ServerForm& form = *reading.Form;
    EXPECT_EQ(form.Transport, c.Transport);
    EXPECT_EQ(form.Host, c.Host);
    EXPECT_EQ(form.Port, c.Port);
    EXPECT_EQ(form.CertificateName, c.CertificateName);
    EXPECT_EQ(form.Path, c.Path);
    EXPECT_EQ(form.AddressOnly, c.AddressOnly);
  }
}

TEST(ServerForm, RefusesEachBadEntryWithItsReason) {
  const std::wstring longName = std::wstring(64, L'x') + L".test";
  const std::wstring longPath = L"https://doh.test/" + std::wstring(2048, L'p');
  const std::wstring withNul = std::wstring(L"tls://127.0.0.1#dot") + L'\0' + L".test";
  const struct {
    std::wstring Entry;
    ServerFormRefusal Refusal;
  } bad[] = {
      {L"", ServerFormRefusal::Empty},
      {L"udp://127.0.0.1", ServerFormRefusal::UnknownScheme},
      {L"://127.0.0.1", ServerFormRefusal::UnknownScheme},
      {L"tlsx://127.0.0.1#a", ServerFormRefusal::UnknownScheme},
      {L"127.0.0.1:0", ServerFormRefusal::BadPort},
      {L"127.0.0.1:", ServerFormRefusal::BadPort},
      {L"[::1", ServerFormRefusal::BadBrackets},
      {L"[]", ServerFormRefusal::BadBrackets},
      {L"[::1]x", ServerFormRefusal::BadBrackets},
      {L":53", ServerFormRefusal::BadHost},
      {L"127.0.0.1#dot.test", ServerFormRefusal::CertificateNameOnPlain},
      // DNS over TLS: an address, a port, and a name that is required.
      {L"tls://127.0.0.1", ServerFormRefusal::MissingCertificateName},
      {L"tls://127.0.0.1:853", ServerFormRefusal::MissingCertificateName},
      {L"tls://127.0.0.1#", ServerFormRefusal::BadCertificateName},
      {L"tls://127.0.0.1#dot..test", ServerFormRefusal::BadCertificateName},
      {L"tls://127.0.0.1#-dot.test", ServerFormRefusal::BadCertificateName},
      {L"tls://127.0.0.1#dot.test.", ServerFormRefusal::BadCertificateName},
      {L"tls://127.0.0.1#*.test", ServerFormRefusal::BadCertificateName},
      {L"tls://127.0.0.1#" + longName, ServerFormRefusal::BadCertificateName},
      {withNul, ServerFormRefusal::BadCertificateName},
      {L"tls://127.0.0.1:65536#dot.test", ServerFormRefusal::BadPort},
      {L"tls://dot.test#dot.test", ServerFormRefusal::BadHost},
      {L"tls://#dot.test", ServerFormRefusal::BadHost},
      // DNS over HTTPS: a path, and #NAME only after an address.
      {L"https://doh.test", ServerFormRefusal::MissingPath},
      {L"https://127.0.0.1#doh.test", ServerFormRefusal::MissingPath},
      {L"https://doh.test/a b", ServerFormRefusal::BadPath},
      {longPath, ServerFormRefusal::BadPath},
      {L"https://doh.test/dns-query#other.test", ServerFormRefusal::CertificateNameWithHostName},
      {L"https://127.0.0.1/dns-query", ServerFormRefusal::MissingCertificateName},
      {L"https://[::1]:443/dns-query#", ServerFormRefusal::BadCertificateName},
      {L"https://doh_test/dns-query", ServerFormRefusal::BadHost},
      {L"https:///dns-query", ServerFormRefusal::BadHost},
      {L"https://doh.test:99999/dns-query", ServerFormRefusal::BadPort},
  };
  for (const auto& c : bad) {
    SCOPED_TRACE(Narrow(c.Entry));
    const auto reading = ReadServerForm(c.Entry);
    EXPECT_FALSE(reading.Form);
    EXPECT_EQ(reading.Refusal, c.Refusal);
  }
}

TEST(ServerForm, EveryRefusalHasItsOwnText) {
  std::set<std::wstring_view> texts;
  for (std::size_t i = 0; i < static_cast<std::size_t>(ServerFormRefusal::Count_); ++i) {
    const std::wstring_view text = exchange::ServerFormRefusalText(static_cast<ServerFormRefusal>(i));
    EXPECT_FALSE(text.empty());
    EXPECT_TRUE(texts.insert(text).second) << i;
  }
}

}  // namespace
}  // namespace vavizav::testing
