// The UDP exchange: one query datagram to the configured server, the first
// datagram that really answers it back, or nothing after the time-out.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vbdns.h"

namespace vavizav {

// Sends `query` (its ID replaced by a fresh random one at every send) to the
// servers of `servers` and waits at most `timeoutMs` from the start, pumping the
// thread's messages meanwhile.
// `servers`: one server or several separated by commas, semicolons or blanks,
// each as ResolveServer reads it; entries that cannot be used are skipped.
// The first send goes to the first server; while no reply has come, the
// question is sent again at the offsets of SendSchedule(timeoutMs), each time to
// the next server (round robin). A reply is the first datagram that comes from
// the address and port of a server that was asked and that
// vbDNS::ReplyMatchesQuery accepts for the ID of one of the sends to that
// server; every other one is dropped. A reply with TC set is asked again over
// TCP of that server (RFC 7766), inside the same time-out; the TCP reply
// replaces it when one passes the same checks.
// nullopt after the time-out, or at once when no entry is usable or nothing
// can be sent. Each call owns its sockets, event and deadline, so calls nested
// in the message dispatching of another never disturb it. Throws only
// std::bad_alloc.
std::optional<vbDNS::Packet> ExchangeQuery(const vbDNS::DNSQuery& query, std::wstring_view servers,
                                           DWORD timeoutMs);

// When the sends of one exchange go out, in milliseconds after the first: at 0,
// then after min(1000, timeoutMs / 4) (at least 1), each later interval doubled,
// every one before timeoutMs (RFC 1123 section 6.1.3.3). 10000 gives 0, 1000,
// 3000, 7000.
std::vector<DWORD> SendSchedule(DWORD timeoutMs);

// The entries of a server list: the texts between commas, semicolons and
// blanks (space, tab, CR, LF), empty ones left out.
std::vector<std::wstring_view> SplitServerList(std::wstring_view servers);

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
