// The form of one DNSServer entry, read without asking anything of the
// system: which transport it names, the host text, the port, and for the
// encrypted transports the name the server's certificate must carry and the
// HTTP path. The shell turns the host text into an address afterwards.
//
//   plain   ADDRESS | ADDRESS:PORT | [IPV6] | [IPV6]:PORT | IPV6 (two colons
//           or more: no port) | NAME | NAME:PORT           port 53
//   tls://  ADDRESS[:PORT]#NAME, IPv6 in brackets when a port follows
//           (RFC 7858)                                      port 853
//   https:// HOST[:PORT]/PATH, HOST a name (its own certificate name) or an
//           address followed at the end by #NAME (RFC 8484) port 443
//
// The schemes are read in any letter case.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vavizav::exchange {

enum class ServerTransport : std::uint8_t { Plain, Tls, Https };

struct ServerForm {
  ServerTransport Transport = ServerTransport::Plain;
  std::wstring Host;             // an address or a name, brackets taken off
  bool Bracketed = false;        // written as "[...]": only an IPv6 address
  bool AddressOnly = false;      // a name is refused here (tls://, https:// with #NAME)
  std::uint16_t Port = 0;
  std::wstring CertificateName;  // tls:// and https://: what the certificate must name
  std::wstring Path;             // https:// only: from its "/" on
};

// Why an entry cannot be used; each has one text (ServerFormRefusalText).
enum class ServerFormRefusal : std::uint8_t {
  Empty,
  UnknownScheme,
  BadPort,
  BadBrackets,
  BadHost,
  MissingCertificateName,
  BadCertificateName,
  CertificateNameOnPlain,
  CertificateNameWithHostName,
  MissingPath,
  BadPath,
  Count_,
};

struct ServerFormReading {
  std::optional<ServerForm> Form;   // set when the entry can be used
  ServerFormRefusal Refusal{};      // otherwise why not
};

inline constexpr std::uint16_t PLAIN_DNS_PORT = 53;
inline constexpr std::uint16_t TLS_DNS_PORT = 853;
inline constexpr std::uint16_t HTTPS_DNS_PORT = 443;

// Reads one entry (already split from its list). Never asks the system.
ServerFormReading ReadServerForm(std::wstring_view entry);

// The refusal as a caller reads it in LastError, e.g. "tls:// needs #NAME,
// the name its certificate must carry".
std::wstring_view ServerFormRefusalText(ServerFormRefusal refusal);

}  // namespace vavizav::exchange
