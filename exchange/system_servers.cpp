#include "exchange/system_servers.h"

#include <iphlpapi.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

namespace vavizav::exchange {
namespace {

// Windows reports these on an adapter with IPv6 but no IPv6 DNS server
// configured: the site-local "well-known" server addresses of an early IPv6
// draft, deprecated by RFC 3879.
bool IsSiteLocalPlaceholder(const in6_addr& address) {
  // fec0:0:0:ffff::1..3 is fec0:0000:0000:ffff:0000:0000:0000:000N.
  static constexpr std::array<std::uint8_t, 15> PREFIX{0xfe, 0xc0, 0, 0, 0, 0, 0xff, 0xff, 0, 0, 0, 0, 0, 0, 0};
  return std::memcmp(address.s6_addr, PREFIX.data(), PREFIX.size()) == 0 && address.s6_addr[15] >= 1 &&
         address.s6_addr[15] <= 3;
}

bool IsLinkLocal(const in6_addr& address) {
  return address.s6_addr[0] == 0xfe && (address.s6_addr[1] & 0xc0) == 0x80;
}

// The entry of one address, or "" for one that is left out.
std::wstring EntryText(const SOCKET_ADDRESS& address) {
  // The family is read only from an address long enough to hold one.
  if (address.lpSockaddr == nullptr || address.iSockaddrLength < static_cast<INT>(sizeof(ADDRESS_FAMILY))) return {};
  wchar_t text[INET6_ADDRSTRLEN + 16] = {};
  if (address.lpSockaddr->sa_family == AF_INET) {
    if (address.iSockaddrLength < static_cast<INT>(sizeof(sockaddr_in))) return {};
    const auto& v4 = *reinterpret_cast<const sockaddr_in*>(address.lpSockaddr);
    if (v4.sin_addr.s_addr == INADDR_ANY) return {};
    if (::InetNtopW(AF_INET, &v4.sin_addr, text, std::size(text)) == nullptr) return {};
    return text;
  }
  if (address.lpSockaddr->sa_family == AF_INET6) {
    if (address.iSockaddrLength < static_cast<INT>(sizeof(sockaddr_in6))) return {};
    const auto& v6 = *reinterpret_cast<const sockaddr_in6*>(address.lpSockaddr);
    if (IN6_IS_ADDR_UNSPECIFIED(&v6.sin6_addr) || IsSiteLocalPlaceholder(v6.sin6_addr)) return {};
    if (::InetNtopW(AF_INET6, &v6.sin6_addr, text, std::size(text)) == nullptr) return {};
    std::wstring entry = text;
    // A link-local address means nothing without the interface it is on.
    if (IsLinkLocal(v6.sin6_addr) && v6.sin6_scope_id != 0) entry += L'%' + std::to_wstring(v6.sin6_scope_id);
    return entry;
  }
  return {};
}

// GetAdaptersAddresses' servers, or nothing when it fails.
std::vector<std::wstring> AdapterServers() {
  constexpr ULONG FLAGS = GAA_FLAG_SKIP_UNICAST | GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST |
                          GAA_FLAG_SKIP_FRIENDLY_NAME;
  // The size the call asks for can grow between two calls (an adapter comes
  // up): a few tries, each with the size last asked for.
  ULONG size = 16 * 1024;
  std::vector<ULONGLONG> buffer;  // ULONGLONG: aligned for the structures
  ULONG result = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < 4 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.assign(size / sizeof(ULONGLONG) + 1, 0);
    size = static_cast<ULONG>(buffer.size() * sizeof(ULONGLONG));
    result = ::GetAdaptersAddresses(AF_UNSPEC, FLAGS, nullptr,
                                    reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  std::vector<std::wstring> servers;
  if (result != NO_ERROR) return servers;
  for (const IP_ADAPTER_ADDRESSES* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data());
       adapter != nullptr; adapter = adapter->Next) {
    // A disconnected adapter keeps its configuration, but nothing is asked there.
    if (adapter->OperStatus != IfOperStatusUp) continue;
    for (const IP_ADAPTER_DNS_SERVER_ADDRESS* server = adapter->FirstDnsServerAddress; server != nullptr;
         server = server->Next) {
      servers.push_back(EntryText(server->Address));
    }
  }
  return servers;
}

// GetNetworkParams' list: IPv4 only, as dotted text.
std::vector<std::wstring> NetworkParamsServers() {
  std::vector<std::wstring> servers;
  ULONG size = 0;
  if (::GetNetworkParams(nullptr, &size) != ERROR_BUFFER_OVERFLOW || size == 0) return servers;
  std::vector<ULONGLONG> buffer(size / sizeof(ULONGLONG) + 1);
  size = static_cast<ULONG>(buffer.size() * sizeof(ULONGLONG));
  auto* info = reinterpret_cast<FIXED_INFO*>(buffer.data());
  if (::GetNetworkParams(info, &size) != NO_ERROR) return servers;
  for (const IP_ADDR_STRING* entry = &info->DnsServerList; entry != nullptr; entry = entry->Next) {
    // The text is a fixed 16-char array; read it only up to its end.
    const char* text = entry->IpAddress.String;
    const std::size_t length = strnlen(text, sizeof entry->IpAddress.String);
    if (length == 0 || length == sizeof entry->IpAddress.String) continue;
    sockaddr_in v4{};
    v4.sin_family = AF_INET;
    if (::InetPtonA(AF_INET, std::string(text, length).c_str(), &v4.sin_addr) != 1) continue;
    servers.push_back(EntryText(SOCKET_ADDRESS{reinterpret_cast<sockaddr*>(&v4), sizeof v4}));
  }
  return servers;
}

std::wstring JoinUnique(const std::vector<std::wstring>& entries) {
  std::vector<std::wstring_view> seen;
  std::wstring list;
  for (const std::wstring& entry : entries) {
    if (entry.empty() || std::find(seen.begin(), seen.end(), entry) != seen.end()) continue;
    seen.push_back(entry);
    if (!list.empty()) list += L' ';
    list += entry;
  }
  return list;
}

}  // namespace

std::wstring ServerListText(std::span<const SOCKET_ADDRESS> addresses) {
  std::vector<std::wstring> entries;
  entries.reserve(addresses.size());
  for (const SOCKET_ADDRESS& address : addresses) entries.push_back(EntryText(address));
  return JoinUnique(entries);
}

std::wstring SystemDnsServers() {
  std::wstring list = JoinUnique(AdapterServers());
  if (list.empty()) list = JoinUnique(NetworkParamsServers());
  return list;
}

}  // namespace vavizav::exchange
