// A DNS server the tests script: it records every query and answers each with
// whatever datagrams the current script returns, when and from where it says.
//
// Wine binds a UDP socket meant for 127.0.0.x (x other than 1) to 0.0.0.0, so
// its datagrams would leave from 127.0.0.1 and hold the port on every address.
// The IPv4 listeners are therefore played by one raw socket (IP_HDRINCL): it
// sees every UDP datagram to SERVER_ADDRESS ports 53 and ALT_PORT and to
// FORGER_ADDRESS port 53, and sends from exactly those addresses and ports. That takes CAP_NET_RAW
// (root), as the tests run here. IPv6 uses ordinary sockets on [::1].
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "codec/vbdns.h"
#include "test_addresses.h"

namespace vavizav::testing {

inline constexpr wchar_t SERVER_ADDRESS[] = VAVIZAV_SCRIPTED_ADDRESS;  // ports 53 and ALT_PORT
inline constexpr wchar_t FORGER_ADDRESS[] = VAVIZAV_FORGER_ADDRESS;  // port 53
inline constexpr std::uint16_t ALT_PORT = 5300;

// Main6 is [::1]:53, AltPort6 [::1] on a port of the system's choice.
enum class Listener { Main, AltPort, OtherAddress, Main6, AltPort6 };
enum class From { Receiver, OtherPort, OtherAddress };  // relative to the listener that got the query

struct Query {
  vbDNS::Packet Bytes;
  Listener ReceivedOn = Listener::Main;
  std::uint16_t SourcePort = 0;  // the sender's port
  std::uint16_t Id() const { return static_cast<std::uint16_t>(Bytes.at(0) << 8 | Bytes.at(1)); }
  std::string Name() const;  // the question's name as dotted text, case kept
  // The same with ASCII letters in lower case: names go out in random case.
  std::string LowerName() const;
  std::uint16_t Type() const;
};

struct Send {
  vbDNS::Packet Bytes;
  DWORD DelayMs = 0;  // after the query arrived
  From Source = From::Receiver;
};
using Script = std::function<std::vector<Send>(const Query&)>;

class FakeDnsServer {
 public:
  FakeDnsServer();  // binds every listener; check Problem()
  ~FakeDnsServer();
  const std::string& Problem() const;  // empty when the IPv4 listeners are up
  bool HasIpv6() const;

  // Forgets the recorded queries and the pending sends, and answers from now on
  // with `script` (nothing at all without one).
  void Reset(Script script = nullptr);
  std::vector<Query> Queries() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The one server of the test program.
FakeDnsServer& Server();

// Reply datagrams built from a query.
struct Record {
  std::uint16_t Type;
  vbDNS::Packet Data;
};
Record A(std::string_view dotted);
Record Ptr(std::string_view name);  // "" is the root name
vbDNS::Packet Reply(const Query& query, const std::vector<Record>& answers, std::uint8_t flags2 = 0x80);

}  // namespace vavizav::testing
