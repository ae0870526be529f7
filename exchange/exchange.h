// The UDP exchange: one query datagram to the configured server, the first
// datagram that really answers it back, or nothing after the time-out.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

#include "vbdns.h"

namespace vavizav {

// Sends `query` (its ID replaced by a fresh random one) to `server` and waits at
// most `timeoutMs` from the start, pumping the thread's messages meanwhile.
// `server`: "192.0.2.1", "192.0.2.1:5300", "::1", "[::1]:5300" or a host name;
// port 53 by default. nullopt after the time-out, or at once when the server
// text is empty or unresolvable, or the socket cannot be created or sent on.
// The reply is the first datagram from the server's address and port that
// vbDNS::ReplyMatchesQuery accepts; every other one is dropped. Each call owns
// its socket, event and deadline, so calls nested in the message dispatching
// of another never disturb it. Throws only std::bad_alloc.
std::optional<vbDNS::Packet> ExchangeQuery(const vbDNS::DNSQuery& query, std::wstring_view server,
                                           DWORD timeoutMs);

// Where the queries of one server text go: an IPv4 or IPv6 socket address with
// its port.
struct ServerEndpoint {
  sockaddr_storage Address{};
  int Length = 0;
};

// The server text as ExchangeQuery reads it: "192.0.2.1", "192.0.2.1:5300",
// "2001:db8::1" (two colons or more: an address without port), "[2001:db8::1]"
// or "[2001:db8::1]:5300", a host name with or without ":port", resolved by the
// system (its first address). Ports 1..65535, 53 when none is given. nullopt for
// an empty text, a bad port or brackets, or a name the system cannot resolve.
std::optional<ServerEndpoint> ResolveServer(std::wstring_view server);

}  // namespace vavizav
