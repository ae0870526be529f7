// The servers of one exchange: a list text split into entries, each entry read
// as an address and port (host names through the system), and the test of
// whether a datagram came from one of them.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "exchange/core/server_form.h"

namespace vavizav::exchange {

// Where the queries of one server text go: an IPv4 or IPv6 socket address with
// its port, and how: plain DNS, or DNS over TLS or HTTPS with the name the
// server's certificate must carry (and for HTTPS the host text and path the
// request names).
struct ServerEndpoint {
  sockaddr_storage Address{};
  int Length = 0;
  ServerTransport Transport = ServerTransport::Plain;
  std::wstring CertificateName;
  std::wstring Host;
  std::wstring Path;
};

// The entries of a server list: the texts between commas, semicolons and
// blanks (space, tab, CR, LF), empty ones left out.
std::vector<std::wstring_view> SplitServerList(std::wstring_view servers);

// One server text: "192.0.2.1", "192.0.2.1:5300", "2001:db8::1" (two colons or
// more: an address without port), "[2001:db8::1]" or "[2001:db8::1]:5300", a
// host name with or without ":port", resolved by the system (its first
// address); or an encrypted form, "tls://ADDRESS[:PORT]#NAME" or
// "https://HOST[:PORT]/PATH[#NAME]" (exchange/core/server_form.h). Ports
// 1..65535, 53 (853, 443) when none is given. nullopt for a text the form
// refuses, an address-only form given a name, or a name the system cannot
// resolve.
std::optional<ServerEndpoint> ResolveServer(std::wstring_view server);

// Every usable entry of `servers`, in list order; entries that cannot be used
// drop out, and so do the encrypted ones (tls:// and https://) unless the
// caller takes them (`encrypted`): they are never asked in plain DNS instead. Stops resolving once the tick count reaches
// `until` (a host name can take the system a while).
std::vector<ServerEndpoint> ResolveServerList(std::wstring_view servers, ULONGLONG until, bool encrypted = false);

// Whether `from` is the server's address and port.
bool IsEndpoint(const sockaddr_storage& from, const ServerEndpoint& server);

// The server as a caller sees it: "127.0.0.1", "127.0.0.1:5300", "::1",
// "[::1]:5300" (the port only when it is not 53); "tls://127.0.0.1#dot.test",
// "tls://[::1]:8853#dot.test" (the port only when it is not 853);
// "https://127.0.0.1/dns-query#doh.test", "https://doh.test:8443/dns-query"
// (the port only when it is not 443, #NAME only after an address).
std::wstring EndpointText(const ServerEndpoint& server);

}  // namespace vavizav::exchange
