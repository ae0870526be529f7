#include "exchange/server_list.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "runtime/handles.h"
#include "runtime/winsock_startup.h"

namespace vavizav::exchange {
namespace {

std::optional<ServerEndpoint> NumericEndpoint(const std::wstring& host, std::uint16_t port, bool ipv6Only) {
  ServerEndpoint endpoint;
  if (!ipv6Only) {
    sockaddr_in v4{};
    if (::InetPtonW(AF_INET, host.c_str(), &v4.sin_addr) == 1) {
      v4.sin_family = AF_INET;
      v4.sin_port = ::htons(port);
      std::memcpy(&endpoint.Address, &v4, sizeof v4);
      endpoint.Length = sizeof v4;
      return endpoint;
    }
  }
  sockaddr_in6 v6{};
  if (::InetPtonW(AF_INET6, host.c_str(), &v6.sin6_addr) == 1) {
    v6.sin6_family = AF_INET6;
    v6.sin6_port = ::htons(port);
    std::memcpy(&endpoint.Address, &v6, sizeof v6);
    endpoint.Length = sizeof v6;
    return endpoint;
  }
  return std::nullopt;
}

// Through the system: host names, and numeric forms InetPtonW does not take
// (an IPv6 scope such as "fe80::1%2").
std::optional<ServerEndpoint> SystemEndpoint(const std::wstring& host, std::uint16_t port, bool ipv6Only) {
  ADDRINFOW hints{};
  hints.ai_family = ipv6Only ? AF_INET6 : AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_protocol = IPPROTO_UDP;
  if (ipv6Only) hints.ai_flags = AI_NUMERICHOST;
  runtime::unique_addrinfo list;
  if (::GetAddrInfoW(host.c_str(), nullptr, &hints, list.put()) != 0) return std::nullopt;
  for (const ADDRINFOW* entry = list.get(); entry; entry = entry->ai_next) {
    ServerEndpoint endpoint;
    if (entry->ai_family == AF_INET && entry->ai_addrlen >= sizeof(sockaddr_in)) {
      std::memcpy(&endpoint.Address, entry->ai_addr, sizeof(sockaddr_in));
      reinterpret_cast<sockaddr_in&>(endpoint.Address).sin_port = ::htons(port);
      endpoint.Length = sizeof(sockaddr_in);
      return endpoint;
    }
    if (entry->ai_family == AF_INET6 && entry->ai_addrlen >= sizeof(sockaddr_in6)) {
      std::memcpy(&endpoint.Address, entry->ai_addr, sizeof(sockaddr_in6));
      reinterpret_cast<sockaddr_in6&>(endpoint.Address).sin6_port = ::htons(port);
      endpoint.Length = sizeof(sockaddr_in6);
      return endpoint;
    }
  }
  return std::nullopt;
}

}  // namespace

std::vector<std::wstring_view> SplitServerList(std::wstring_view servers) {
  constexpr std::wstring_view SEPARATORS = L",; \t\r\n";
  std::vector<std::wstring_view> entries;
  for (std::size_t begin = servers.find_first_not_of(SEPARATORS); begin != std::wstring_view::npos;
       begin = servers.find_first_not_of(SEPARATORS, begin)) {
    const std::size_t end = std::min(servers.find_first_of(SEPARATORS, begin), servers.size());
    entries.push_back(servers.substr(begin, end - begin));
    begin = end;
  }
  return entries;
}

std::optional<ServerEndpoint> ResolveServer(std::wstring_view server) {
  const ServerFormReading reading = ReadServerForm(server);
  if (!reading.Form) return std::nullopt;
  const ServerForm& form = *reading.Form;
  std::optional<ServerEndpoint> endpoint = NumericEndpoint(form.Host, form.Port, form.Bracketed);
  // Through the system: a name where one may stand, and an address with an
  // IPv6 scope ("fe80::1%2") where only an address may.
  const bool scoped = form.Host.find(L'%') != std::wstring::npos && form.Host.find(L':') != std::wstring::npos;
  if (!endpoint && (!form.AddressOnly || scoped)) {
    if (!runtime::EnsureWinsock()) return std::nullopt;
    endpoint = SystemEndpoint(form.Host, form.Port, form.Bracketed || form.AddressOnly);
  }
  if (!endpoint) return std::nullopt;
  endpoint->Transport = form.Transport;
  endpoint->CertificateName = form.CertificateName;
  endpoint->Host = form.Host;
  endpoint->Path = form.Path;
  return endpoint;
}

std::vector<ServerEndpoint> ResolveServerList(std::wstring_view servers, ULONGLONG until, bool encrypted) {
  std::vector<ServerEndpoint> endpoints;
  for (const std::wstring_view entry : SplitServerList(servers)) {
    if (::GetTickCount64() >= until) break;
    std::optional<ServerEndpoint> endpoint = ResolveServer(entry);
    if (!endpoint) continue;
    if (endpoint->Transport == ServerTransport::Plain || encrypted) {
      endpoints.push_back(std::move(*endpoint));
    }
  }
  return endpoints;
}

bool IsEndpoint(const sockaddr_storage& from, const ServerEndpoint& server) {
  if (from.ss_family != server.Address.ss_family) return false;
  if (from.ss_family == AF_INET) {
    const auto& a = reinterpret_cast<const sockaddr_in&>(from);
    const auto& b = reinterpret_cast<const sockaddr_in&>(server.Address);
    return a.sin_port == b.sin_port && a.sin_addr.s_addr == b.sin_addr.s_addr;
  }
  if (from.ss_family == AF_INET6) {
    const auto& a = reinterpret_cast<const sockaddr_in6&>(from);
    const auto& b = reinterpret_cast<const sockaddr_in6&>(server.Address);
    return a.sin6_port == b.sin6_port && std::memcmp(&a.sin6_addr, &b.sin6_addr, sizeof a.sin6_addr) == 0;
  }
  return false;
}

std::wstring EndpointText(const ServerEndpoint& server) {
  wchar_t text[INET6_ADDRSTRLEN] = {};
  std::uint16_t port = 0;
  const bool v6 = server.Address.ss_family == AF_INET6;
  if (v6) {
    auto address = reinterpret_cast<const sockaddr_in6&>(server.Address);
    port = ::ntohs(address.sin6_port);
    ::InetNtopW(AF_INET6, &address.sin6_addr, text, INET6_ADDRSTRLEN);
  } else {
    auto address = reinterpret_cast<const sockaddr_in&>(server.Address);
    port = ::ntohs(address.sin_port);
    ::InetNtopW(AF_INET, &address.sin_addr, text, INET6_ADDRSTRLEN);
  }
  if (server.Transport == ServerTransport::Https) {
    // As given: the host (a name, or an address and the certificate's name).
    const bool bracket = server.Host.find(L':') != std::wstring::npos;
    std::wstring url = L"https://" + (bracket ? L"[" + server.Host + L"]" : server.Host);
    if (port != HTTPS_DNS_PORT) url += L":" + std::to_wstring(port);
    url += server.Path;
    if (server.CertificateName != server.Host) url += L"#" + server.CertificateName;
    return url;
  }
  if (server.Transport == ServerTransport::Tls) {
    const std::wstring address = port == TLS_DNS_PORT ? std::wstring(text)
                                 : (v6 ? L"[" + std::wstring(text) + L"]" : std::wstring(text)) + L":" + std::to_wstring(port);
    return L"tls://" + address + L"#" + server.CertificateName;
  }
  if (port == PLAIN_DNS_PORT) return text;
  return (v6 ? L"[" + std::wstring(text) + L"]" : std::wstring(text)) + L":" + std::to_wstring(port);
}

}  // namespace vavizav::exchange
