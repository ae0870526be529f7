// The DNS servers the system is configured with, as a server list text. Run by
// tests/exchange/system-servers inside its own mount and network namespaces,
// where Wine reports the servers of a resolv.conf the runner wrote; the runner
// passes the list it expects in VAVIZAV_EXPECTED_SYSTEM_SERVERS.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "exchange/server_list.h"
#include "exchange/system_servers.h"

namespace vavizav {

using exchange::ResolveServer;
using exchange::ServerListText;
using exchange::SplitServerList;
using exchange::SystemDnsServers;

namespace {

// Socket addresses as GetAdaptersAddresses hands them out.
class Addresses {
 public:
  Addresses() { storage_.reserve(16); }  // List() points into the storage: it never moves
  Addresses& V4(const wchar_t* text) {
    sockaddr_in& v4 = storage_.emplace_back().v4;
    v4.sin_family = AF_INET;
    EXPECT_EQ(::InetPtonW(AF_INET, text, &v4.sin_addr), 1);
    return *this;
  }
  Addresses& V6(const wchar_t* text, ULONG scope = 0) {
    sockaddr_in6& v6 = storage_.emplace_back().v6;
    v6.sin6_family = AF_INET6;
    v6.sin6_scope_id = scope;
    EXPECT_EQ(::InetPtonW(AF_INET6, text, &v6.sin6_addr), 1);
    return *this;
  }
  Addresses& Family(ADDRESS_FAMILY family) {
    storage_.emplace_back().v6.sin6_family = static_cast<decltype(sockaddr_in6::sin6_family)>(family);
    return *this;
  }
  std::vector<SOCKET_ADDRESS> List() {
    std::vector<SOCKET_ADDRESS> list;
    for (Storage& s : storage_) {
      const INT length = s.v6.sin6_family == AF_INET ? sizeof s.v4 : sizeof s.v6;
      list.push_back({reinterpret_cast<sockaddr*>(&s), length});
    }
    return list;
  }

 private:
  union Storage {
    sockaddr_in v4;
    sockaddr_in6 v6;
  };
  std::vector<Storage> storage_;
};

TEST(ServerListText, WritesEachAddressOnceInOrderAsTheExchangeReadsIt) {
  Addresses addresses;
  addresses.V4(L"192.0.2.53")
      .V6(L"2001:0db8:0000:0000:0000:0000:0000:0053")
      .V4(L"198.51.100.1")
      .V4(L"192.0.2.53")
      .V6(L"2001:db8::53")
      .V6(L"fe80::1", 12)
      .V6(L"fe80::1", 12);
  const std::vector<SOCKET_ADDRESS> list = addresses.List();
  const std::wstring text = ServerListText(list);
  EXPECT_EQ(text, L"192.0.2.53 2001:db8::53 198.51.100.1 fe80::1%12");
  for (const std::wstring_view entry : SplitServerList(text)) {
    EXPECT_TRUE(ResolveServer(entry)) << std::string(entry.begin(), entry.end());
  }
}

TEST(ServerListText, LeavesOutWhatCannotBeAsked) {
  Addresses addresses;
  addresses.V4(L"0.0.0.0")
      .V6(L"::")
      .V6(L"fec0:0:0:ffff::1", 1)
      .V6(L"fec0:0:0:ffff::2", 1)
      .V6(L"fec0:0:0:ffff::3", 1)
      .Family(AF_UNSPEC)
      .Family(AF_IPX);
  std::vector<SOCKET_ADDRESS> list = addresses.List();
  EXPECT_EQ(ServerListText(list), L"");
  // A configured site-local server outside the placeholders stays.
  Addresses site;
  site.V6(L"fec0:0:0:ffff::4").V6(L"fec0::1");
  EXPECT_EQ(ServerListText(site.List()), L"fec0:0:0:ffff::4 fec0::1");
  // No address, or one shorter than its family's: left out, never read.
  sockaddr_in6 truncated{};
  truncated.sin6_family = AF_INET6;
  const SOCKET_ADDRESS broken[] = {{nullptr, 0},
                                   {reinterpret_cast<sockaddr*>(&truncated), sizeof(sockaddr_in)},
                                   {reinterpret_cast<sockaddr*>(&truncated), 0}};
  EXPECT_EQ(ServerListText(broken), L"");
  EXPECT_EQ(ServerListText({}), L"");
}

TEST(SystemDnsServers, ReadsTheServersTheSystemReports) {
  const char* expected = std::getenv("VAVIZAV_EXPECTED_SYSTEM_SERVERS");
  ASSERT_NE(expected, nullptr) << "run through tests/exchange/system-servers";
  const std::wstring servers = SystemDnsServers();
  EXPECT_EQ(std::string(servers.begin(), servers.end()), expected);
  EXPECT_EQ(SystemDnsServers(), servers);  // read afresh, the same
}

}  // namespace
}  // namespace vavizav
