// The baselines a lookup is measured against: the bare socket round trip on a
// fresh or on a long-lived socket, and the platform's own resolver.
#include <cstring>

#include "bench.h"

namespace wine_bench {

BareExchange::BareExchange(const std::wstring& server) {
  std::wstring host = server;
  std::uint16_t port = 53;
  if (const std::size_t colon = server.find(L':'); colon != std::wstring::npos) {
    host = server.substr(0, colon);
    port = static_cast<std::uint16_t>(std::wcstoul(server.c_str() + colon + 1, nullptr, 10));
  }
  server_.sin_family = AF_INET;
  server_.sin_port = htons(port);
  if (port == 0 || ::InetPtonW(AF_INET, host.c_str(), &server_.sin_addr) != 1) {
    problem_ = "the bare exchange takes an IPv4 address with an optional :port";
    return;
  }
  const std::optional<vbDNS::DNSQuery> query = vbDNS::BuildQuery(vbDNS::TYPE_A, std::string_view("one.vavizav.test"));
  query_ = vbDNS::EncodeQuery(*query);
  longLived_.reset(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  if (!longLived_) problem_ = "socket failed: error " + std::to_string(::WSAGetLastError());
}

bool BareExchange::FreshSocket() {
  const vavizav::runtime::unique_socket socket(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  return socket && SendAndReceive(socket.get());
}

bool BareExchange::LongLivedSocket() { return SendAndReceive(longLived_.get()); }

// A blocking receive: the stall guard bounds a reply that never comes. Replies
// to earlier queries (possible on the long-lived socket only) are skipped.
bool BareExchange::SendAndReceive(SOCKET socket) {
  const std::uint16_t id = nextId_++;
  query_[0] = static_cast<std::uint8_t>(id >> 8);
  query_[1] = static_cast<std::uint8_t>(id);
  if (::sendto(socket, reinterpret_cast<const char*>(query_.data()), static_cast<int>(query_.size()), 0,
               reinterpret_cast<const sockaddr*>(&server_), sizeof server_) != static_cast<int>(query_.size())) {
    return false;
  }
  for (;;) {
    const int received = ::recvfrom(socket, buffer_.data(), static_cast<int>(buffer_.size()), 0, nullptr, nullptr);
    if (received == SOCKET_ERROR) return false;
    if (received >= static_cast<int>(vbDNS::HEADER_SIZE) && static_cast<std::uint8_t>(buffer_[0]) == (id >> 8) &&
        static_cast<std::uint8_t>(buffer_[1]) == (id & 0xFF) && (buffer_[2] & vbDNS::FLAG_QR)) {
      return true;
    }
  }
}

PlatformResolver::PlatformResolver(const BareExchange& target) {
  if (target.Port() != 53) {
    problem_ = "DnsQuery_A asks port 53 only";
    return;
  }
  servers_.AddrCount = 1;
  std::memcpy(&servers_.AddrArray[0], &target.Address(), sizeof(IP4_ADDRESS));
  // The name exists only on the bench's server: a right answer proves the
  // query went there.
  PDNS_RECORDA records = nullptr;
  const DNS_STATUS status = ::DnsQuery_A("one.vavizav.test", DNS_TYPE_A,
                                         DNS_QUERY_BYPASS_CACHE | DNS_QUERY_WIRE_ONLY | DNS_QUERY_NO_HOSTS_FILE,
                                         &servers_, reinterpret_cast<PDNS_RECORD*>(&records), nullptr);
  if (status != ERROR_SUCCESS) {
    problem_ = "DnsQuery_A with the server in pExtra failed: status " + std::to_string(status);
    return;
  }
  bool found = false;
  for (PDNS_RECORDA record = records; record; record = record->pNext) {
    if (record->wType == DNS_TYPE_A && record->Data.A.IpAddress == htonl(0xC0000201)) found = true;
  }
  ::DnsRecordListFree(reinterpret_cast<PDNS_RECORD>(records), DnsFreeRecordList);
  if (!found) problem_ = "DnsQuery_A answered without 192.0.2.1: it did not ask the given server";
}

bool PlatformResolver::Lookup() {
  PDNS_RECORDA records = nullptr;
  const DNS_STATUS status = ::DnsQuery_A("one.vavizav.test", DNS_TYPE_A,
                                         DNS_QUERY_BYPASS_CACHE | DNS_QUERY_WIRE_ONLY | DNS_QUERY_NO_HOSTS_FILE,
                                         &servers_, reinterpret_cast<PDNS_RECORD*>(&records), nullptr);
  if (records) ::DnsRecordListFree(reinterpret_cast<PDNS_RECORD>(records), DnsFreeRecordList);
  return status == ERROR_SUCCESS;
}

}  // namespace wine_bench
