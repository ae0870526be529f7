#include "exchange/certificate_check.h"

#include <array>

#include "runtime/certificate_handles.h"

namespace vavizav::exchange {
namespace {

struct VerdictEntry {
  CertificateVerdict Verdict;
  std::wstring_view Text;  // followed by the name where it ends in "name "
};

constexpr std::array<VerdictEntry, static_cast<std::size_t>(CertificateVerdict::Count_)> VERDICTS{{
    {CertificateVerdict::Trusted, L"the server's certificate is trusted"},
    {CertificateVerdict::UntrustedRoot, L"the server's certificate does not lead to a trusted root"},
    {CertificateVerdict::WrongName, L"the server's certificate does not carry the name "},
    {CertificateVerdict::Expired, L"the server's certificate has expired or is not yet valid"},
    {CertificateVerdict::NotForServers, L"the server's certificate is not meant for servers"},
    {CertificateVerdict::Unchecked, L"the server's certificate could not be checked"},
}};

constexpr bool VerdictsInOrder() {
  for (std::size_t i = 0; i < VERDICTS.size(); ++i) {
    if (static_cast<std::size_t>(VERDICTS[i].Verdict) != i) return false;
  }
  return true;
}
static_assert(VerdictsInOrder(), "VERDICTS lists every verdict in the enum's order");

struct CodeEntry {
  DWORD Code;
  CertificateVerdict Verdict;
};

// The policy's codes for each verdict; any other code is Unchecked.
constexpr std::array<CodeEntry, 8> POLICY_CODES{{
    {static_cast<DWORD>(CERT_E_UNTRUSTEDROOT), CertificateVerdict::UntrustedRoot},
    {static_cast<DWORD>(CERT_E_CHAINING), CertificateVerdict::UntrustedRoot},
    {static_cast<DWORD>(TRUST_E_CERT_SIGNATURE), CertificateVerdict::UntrustedRoot},
    {static_cast<DWORD>(CERT_E_UNTRUSTEDTESTROOT), CertificateVerdict::UntrustedRoot},
    {static_cast<DWORD>(CERT_E_CN_NO_MATCH), CertificateVerdict::WrongName},
    {static_cast<DWORD>(CERT_E_EXPIRED), CertificateVerdict::Expired},
    {static_cast<DWORD>(CERT_E_VALIDITYPERIODNESTING), CertificateVerdict::Expired},
    {static_cast<DWORD>(CERT_E_WRONG_USAGE), CertificateVerdict::NotForServers},
}};

CertificateVerdict VerdictOf(DWORD code) {
  for (const CodeEntry& entry : POLICY_CODES) {
    if (entry.Code == code) return entry.Verdict;
  }
  return CertificateVerdict::Unchecked;
}

}  // namespace

CertificateCheck CheckServerCertificate(PCCERT_CONTEXT certificate, std::wstring_view name) {
  if (certificate == nullptr || name.empty()) return {CertificateVerdict::Unchecked, static_cast<DWORD>(E_INVALIDARG)};
  const std::wstring serverName(name);

  char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
  LPSTR usages[] = {serverAuth};
  CERT_CHAIN_PARA chainPara{};
  chainPara.cbSize = sizeof chainPara;
  chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
  chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
  runtime::unique_cert_chain chain;
  if (!::CertGetCertificateChain(nullptr, certificate, nullptr, certificate->hCertStore, &chainPara, 0, nullptr,
                                 chain.put())) {
    return {CertificateVerdict::Unchecked, ::GetLastError()};
  }

  SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
  ssl.cbSize = sizeof ssl;
  ssl.dwAuthType = AUTHTYPE_SERVER;
  ssl.pwszServerName = const_cast<wchar_t*>(serverName.c_str());
  CERT_CHAIN_POLICY_PARA policy{};
  policy.cbSize = sizeof policy;
  policy.pvExtraPolicyPara = &ssl;
  CERT_CHAIN_POLICY_STATUS status{};
  status.cbSize = sizeof status;
  if (!::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.get(), &policy, &status)) {
    return {CertificateVerdict::Unchecked, ::GetLastError()};
  }
  if (status.dwError != 0) return {VerdictOf(status.dwError), status.dwError};
  return {CertificateVerdict::Trusted, 0};
}

std::wstring CertificateVerdictText(const CertificateCheck& check, std::wstring_view name) {
  const auto index = static_cast<std::size_t>(check.Verdict);
  const std::wstring_view text =
      index < VERDICTS.size() ? VERDICTS[index].Text : VERDICTS[static_cast<std::size_t>(CertificateVerdict::Unchecked)].Text;
  if (check.Verdict == CertificateVerdict::WrongName) return std::wstring(text) + std::wstring(name);
  return std::wstring(text);
}

}  // namespace vavizav::exchange
