// The component's own check of a server certificate, against the chains the
// encrypted servers present (made at test time by tests/e2e/test-certificates,
// the test root trusted in this Wine prefix only by trust_root.exe).
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "exchange/certificate_check.h"
#include "runtime/certificate_handles.h"
#include "test_addresses.h"

namespace vavizav::testing {
namespace {

using exchange::CertificateVerdict;
using exchange::CheckServerCertificate;

// A chain as the server sends it: the server's certificate (returned) and its
// issuers, all in one memory store that the returned context keeps alive.
runtime::unique_cert_context LoadChain(const wchar_t* file) {
  std::ifstream in((std::wstring(L"Z:") + VAVIZAV_TEST_CERTIFICATES + L"/" + file).c_str(), std::ios::binary);
  const std::string pem((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  runtime::unique_cert_store store(::CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
  runtime::unique_cert_context first;
  constexpr std::string_view END = "-----END CERTIFICATE-----";
  for (std::size_t begin = pem.find("-----BEGIN CERTIFICATE-----"); begin != std::string::npos;
       begin = pem.find("-----BEGIN CERTIFICATE-----", begin)) {
    const std::size_t end = pem.find(END, begin) + END.size();
    const std::string block = pem.substr(begin, end - begin);
    DWORD size = 0;
    ::CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER, nullptr, &size,
                           nullptr, nullptr);
    std::string der(size, '\0');
    EXPECT_TRUE(::CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER,
                                       reinterpret_cast<BYTE*>(der.data()), &size, nullptr, nullptr));
    PCCERT_CONTEXT added = nullptr;
    EXPECT_TRUE(::CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING,
                                                   reinterpret_cast<const BYTE*>(der.data()), size,
                                                   CERT_STORE_ADD_ALWAYS, first ? nullptr : &added));
    if (!first) first.reset(added);
    begin = end;
  }
  EXPECT_TRUE(first) << "no certificate in " << std::string(file, file + wcslen(file));
  return first;
}

TEST(CertificateCheck, TrustsTheGoodChainForEachOfItsNames) {
  const runtime::unique_cert_context good = LoadChain(L"good.pem");
  ASSERT_TRUE(good);
  for (const wchar_t* name : {L"dot.test", L"doh.test", L"DOT.Test"}) {
    const exchange::CertificateCheck check = CheckServerCertificate(good.get(), name);
    EXPECT_EQ(check.Verdict, CertificateVerdict::Trusted) << std::hex << check.Code;
  }
}

// Each failure with its own verdict and text: what LastError will say.
TEST(CertificateCheck, RefusesEachBadChainForItsReason) {
  const struct {
    const wchar_t* File;
    const wchar_t* Name;
    CertificateVerdict Verdict;
    const wchar_t* Text;
  } cases[] = {
      {L"good.pem", L"other.test", CertificateVerdict::WrongName,
       L"the server's certificate does not carry the name other.test"},
      {L"good.pem", L"sub.dot.test", CertificateVerdict::WrongName,
       L"the server's certificate does not carry the name sub.dot.test"},
      {L"wrong-name.pem", L"dot.test", CertificateVerdict::WrongName,
       L"the server's certificate does not carry the name dot.test"},
      {L"expired.pem", L"dot.test", CertificateVerdict::Expired,
       L"the server's certificate has expired or is not yet valid"},
      {L"untrusted.pem", L"dot.test", CertificateVerdict::UntrustedRoot,
       L"the server's certificate does not lead to a trusted root"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.File, c.File + wcslen(c.File)));
    const runtime::unique_cert_context certificate = LoadChain(c.File);
    ASSERT_TRUE(certificate);
    const exchange::CertificateCheck check = CheckServerCertificate(certificate.get(), c.Name);
    EXPECT_EQ(check.Verdict, c.Verdict) << std::hex << check.Code;
    EXPECT_NE(check.Code, 0u);
    EXPECT_EQ(exchange::CertificateVerdictText(check, c.Name), c.Text);
  }
}

TEST(CertificateCheck, NothingToCheckIsNeverTrusted) {
  EXPECT_EQ(CheckServerCertificate(nullptr, L"dot.test").Verdict, CertificateVerdict::Unchecked);
  const runtime::unique_cert_context good = LoadChain(L"good.pem");
  ASSERT_TRUE(good);
  EXPECT_EQ(CheckServerCertificate(good.get(), L"").Verdict, CertificateVerdict::Unchecked);
}

}  // namespace
}  // namespace vavizav::testing
