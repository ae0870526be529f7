// The check of an encrypted server's certificate, made by the component
// itself rather than left to the TLS stack (Wine's Schannel takes any
// certificate): the chain built to a root the system trusts, for server
// authentication, and the name the DNSServer entry gives matched against it,
// through the system's SSL chain policy.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace vavizav::exchange {

// One table of texts (CertificateVerdictText) follows this order.
enum class CertificateVerdict : std::uint8_t {
  Trusted,
  UntrustedRoot,  // the chain ends at a root not trusted here, or does not end at a root
  WrongName,      // the certificate does not carry the name asked for
  Expired,        // a certificate of the chain is outside its dates
  NotForServers,  // the certificate is not meant for server authentication
  Unchecked,      // the chain could not be built or checked, or another failure
  Count_,
};

struct CertificateCheck {
  CertificateVerdict Verdict = CertificateVerdict::Unchecked;
  // What the system's policy check returned (a CERT_E_ or TRUST_E_ code), or
  // the chain engine's last error; 0 when trusted.
  DWORD Code = 0;
};

// Checks `certificate` (the server's own; its store supplies the
// intermediates the server sent) for `name`. Revocation is not checked: the
// servers asked may well be unable to reach any list.
CertificateCheck CheckServerCertificate(PCCERT_CONTEXT certificate, std::wstring_view name);

// What LastError says of a failed check, e.g. "the server's certificate does
// not carry the name dot.test".
std::wstring CertificateVerdictText(const CertificateCheck& check, std::wstring_view name);

}  // namespace vavizav::exchange
