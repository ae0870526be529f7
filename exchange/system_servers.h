// The DNS servers Windows is configured with, as a server list text the
// exchange reads (what an empty DNSServer stands for).
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <span>
#include <string>

namespace vavizav::exchange {

// The configured DNS servers of the adapters that are up, from
// GetAdaptersAddresses (adapters in the order it reports them, each adapter's
// servers in their configured order), or, when that reports none or fails, the
// list of GetNetworkParams. Written as a server list:
// entries separated by single spaces, duplicates left out, "" when none.
// Throws only std::bad_alloc.
std::wstring SystemDnsServers();

// The server list text of socket addresses, as SystemDnsServers writes it:
// IPv4 "192.0.2.53", IPv6 "2001:db8::53" (RFC 5952, bracket-free), a
// link-local IPv6 address with its scope ("fe80::1%12"; the exchange passes
// that form to the system), separated by spaces, in the given order, each
// address once (the port is not part of it: DNS servers of an adapter are
// always on port 53). Left out: addresses that are neither IPv4 nor IPv6, the
// unspecified addresses, and the site-local fec0:0:0:ffff::1, ::2 and ::3
// that Windows reports on adapters without any configured IPv6 server (RFC
// 3879 deprecated them; nothing answers there).
// Throws only std::bad_alloc.
std::wstring ServerListText(std::span<const SOCKET_ADDRESS> addresses);

}  // namespace vavizav::exchange
