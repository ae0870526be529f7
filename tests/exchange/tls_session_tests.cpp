// A TLS session through Schannel against the real encrypted servers
// (dnsdist and unbound's tls-port, tests/e2e/encrypted-local), driven here
// over a blocking socket: the handshake, the component's own certificate
// check for each bad certificate, DNS messages on one session answered out of
// order, and a server that closes the session.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "exchange/core/stream_mux.h"
#include "exchange/tls_session.h"
#include "packets.h"
#include "runtime/handles.h"
#include "runtime/winsock_startup.h"
#include "test_addresses.h"

namespace vavizav::testing {
namespace {

using exchange::CertificateVerdict;
using exchange::TlsSession;
using exchange::TlsState;
using namespace packets;
constexpr std::uint16_t TYPE_SOA = 6;

// A query of one question, with its two-octet length before it (RFC 7766).
std::vector<std::uint8_t> FramedQuery(std::uint16_t id, std::string_view name, std::uint16_t type) {
  const Packet message = Join({U16(id), U16(0x0100), U16(1), U16(0), U16(0), U16(0), Question(DottedName(name), type)});
  return Join({U16(static_cast<std::uint16_t>(message.size())), message});
}

class Connection {
 public:
  Connection(const wchar_t* address, std::uint16_t port, const wchar_t* name) : session_(name) {
    EXPECT_TRUE(runtime::EnsureWinsock());
    socket_.reset(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = ::htons(port);
    ::InetPtonW(AF_INET, address, &to.sin_addr);
    const DWORD timeoutMs = 5000;
    ::setsockopt(socket_.get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs), sizeof timeoutMs);
    connected_ = ::connect(socket_.get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0;
  }

  // The handshake to its end: Open, Untrusted, Failed or Closed.
  TlsState Handshake() {
    if (!connected_ || !session_.Start()) return session_.State();
    Flush();
    while (session_.State() == TlsState::Handshaking && Receive()) Flush();
    return session_.State();
  }

  bool Send(const std::vector<std::uint8_t>& plain) { return session_.Send(plain) && Flush(); }

  // The next whole DNS message, nullopt when the session ends first.
  std::optional<Packet> ReadMessage() {
    while (true) {
      if (plain_.size() >= 2) {
        const std::size_t size = (std::size_t{plain_[0]} << 8) | plain_[1];
        if (plain_.size() >= 2 + size) {
          Packet message(plain_.begin() + 2, plain_.begin() + 2 + static_cast<std::ptrdiff_t>(size));
          plain_.erase(plain_.begin(), plain_.begin() + 2 + static_cast<std::ptrdiff_t>(size));
          return message;
        }
      }
      if (!Receive()) return std::nullopt;
    }
  }

  TlsSession& Session() { return session_; }

 private:
  bool Flush() {
    const std::vector<std::uint8_t> out = session_.TakeOutgoing();
    return out.empty() || ::send(socket_.get(), reinterpret_cast<const char*>(out.data()), static_cast<int>(out.size()), 0) ==
                              static_cast<int>(out.size());
  }
  bool Receive() {
    char buffer[16384];
    const int got = ::recv(socket_.get(), buffer, sizeof buffer, 0);
    if (got <= 0) return false;
    const bool fed = session_.Feed(std::span(reinterpret_cast<const std::uint8_t*>(buffer), static_cast<std::size_t>(got)));
    const std::vector<std::uint8_t> plain = session_.TakePlain();
    plain_.insert(plain_.end(), plain.begin(), plain.end());
    return fed || !plain.empty();
  }

  TlsSession session_;
  runtime::unique_socket socket_;
  bool connected_ = false;
  std::vector<std::uint8_t> plain_;
};

std::uint16_t IdOf(const Packet& message) { return static_cast<std::uint16_t>((message[0] << 8) | message[1]); }

TEST(TlsSession, AsksBothServersOverTlsWithTheCertificateChecked) {
  for (const wchar_t* address : {VAVIZAV_DNSDIST_ADDRESS, VAVIZAV_UNBOUND_TLS_ADDRESS}) {
    SCOPED_TRACE(std::string(address, address + wcslen(address)));
    Connection connection(address, 853, L"dot.test");
    ASSERT_EQ(connection.Handshake(), TlsState::Open) << std::hex << connection.Session().Code() << " "
                                                     << connection.Session().Check().Code;
    EXPECT_EQ(connection.Session().Check().Verdict, CertificateVerdict::Trusted);
    // TLS 1.2 or later, whichever the server and the system agree on.
    EXPECT_TRUE(connection.Session().Version() == SP_PROT_TLS1_2_CLIENT ||
                connection.Session().Version() == SP_PROT_TLS1_3_CLIENT)
        << std::hex << connection.Session().Version();
    // dnsdist takes the ALPN offer; unbound 1.17 answers none.
    if (std::wstring_view(address) == VAVIZAV_DNSDIST_ADDRESS) {
      EXPECT_EQ(connection.Session().Protocol(), "dot");
    }
    // Padded to 128 octets, as every query on an encrypted stream goes.
    exchange::PaddedStreamQuery padded;
    const std::size_t size = exchange::EncodePaddedStreamQuery(*vbDNS::BuildQuestion(TYPE_SOA, "vavizav.test"), 0x5A17, padded);
    ASSERT_EQ(size, 2u + 128u);
    ASSERT_TRUE(connection.Send(std::vector<std::uint8_t>(padded.begin(), padded.begin() + static_cast<std::ptrdiff_t>(size))));
    const std::optional<Packet> reply = connection.ReadMessage();
    ASSERT_TRUE(reply);
    EXPECT_EQ(IdOf(*reply), 0x5A17);
    EXPECT_EQ((*reply)[3] & 0x0F, 0) << "rcode";
  }
}

// The handshake completes (Wine's Schannel takes any certificate), but the
// component's check refuses, for each reason.
TEST(TlsSession, RefusesEachBadCertificateForItsReason) {
  const struct {
    std::uint16_t Port;
    const wchar_t* Name;
    CertificateVerdict Verdict;
  } cases[] = {
      {853, L"other.test", CertificateVerdict::WrongName},
      {854, L"dot.test", CertificateVerdict::WrongName},
      {855, L"dot.test", CertificateVerdict::Expired},
      {856, L"dot.test", CertificateVerdict::UntrustedRoot},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Port);
    Connection connection(VAVIZAV_DNSDIST_ADDRESS, c.Port, c.Name);
    EXPECT_EQ(connection.Handshake(), TlsState::Untrusted);
    EXPECT_EQ(connection.Session().Check().Verdict, c.Verdict) << std::hex << connection.Session().Check().Code;
    // Nothing goes out on a session whose certificate failed.
    EXPECT_FALSE(connection.Session().Send(FramedQuery(1, "vavizav.test", TYPE_SOA)));
  }
}

// Two queries on one session: the slow one's reply (a delaying upstream)
// comes after the quick one's; each is taken by its ID.
TEST(TlsSession, RepliesOnOneSessionComeInAnyOrder) {
  Connection connection(VAVIZAV_DNSDIST_ADDRESS, 853, L"dot.test");
  ASSERT_EQ(connection.Handshake(), TlsState::Open);
  std::vector<std::uint8_t> both = FramedQuery(0x0101, "a.slow.test", vbDNS::TYPE_A);
  const std::vector<std::uint8_t> quick = FramedQuery(0x0202, "vavizav.test", TYPE_SOA);
  both.insert(both.end(), quick.begin(), quick.end());
  ASSERT_TRUE(connection.Send(both));
  const std::optional<Packet> first = connection.ReadMessage();
  const std::optional<Packet> second = connection.ReadMessage();
  ASSERT_TRUE(first && second);
  EXPECT_EQ(IdOf(*first), 0x0202);
  EXPECT_EQ(IdOf(*second), 0x0101);
}

// A server that ends the session with questions on it: the reader sees the
// end, not a hang nor a reply.
TEST(TlsSession, AServerClosingMidBatchEndsTheSession) {
  Connection connection(VAVIZAV_DNSDIST_ADDRESS, 853, L"dot.test");
  ASSERT_EQ(connection.Handshake(), TlsState::Open);
  ASSERT_TRUE(connection.Send(FramedQuery(0x0303, "vavizav.test", TYPE_SOA)));
  ASSERT_TRUE(connection.ReadMessage());
  std::vector<std::uint8_t> batch = FramedQuery(0x0404, "x.closes.test", vbDNS::TYPE_A);
  const std::vector<std::uint8_t> after = FramedQuery(0x0505, "vavizav.test", TYPE_SOA);
  batch.insert(batch.end(), after.begin(), after.end());
  ASSERT_TRUE(connection.Send(batch));
  const std::optional<Packet> reply = connection.ReadMessage();
  // dnsdist may answer the question sent with it before it closes.
  if (reply) {
    EXPECT_EQ(IdOf(*reply), 0x0505);
    EXPECT_FALSE(connection.ReadMessage());
  }
}

}  // namespace
}  // namespace vavizav::testing
