// The UDP exchange against the scripted server: which datagram is the reply,
// how long the wait lasts and what it costs, and the thread's messages meanwhile.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <set>
#include <string>
#include <thread>

#include "exchange_fixture.h"
#include "fake_dns_server.h"
#include "scripted_server_fixture.h"
#include "test_addresses.h"
#include "test_support.h"

namespace vavizav::testing {
namespace {


Script Answer(const char* address, DWORD delayMs = 0) {
  return [=](const Query& query) { return std::vector<Send>{{Reply(query, {A(address)}), delayMs}}; };
}

class ExchangeTest : public ScriptedServerTest {};


TEST(ResolveServer, ReadsAddressesPortsAndBrackets) {
  const auto port = [](const exchange::ServerEndpoint& e) {
    return ::ntohs(reinterpret_cast<const sockaddr_in&>(e.Address).sin_port);
  };
  const struct {
    const wchar_t* Text;
    int Family;
    std::uint16_t Port;
  } good[] = {{L"127.0.0.1", AF_INET, 53},  {L"127.0.0.1:5300", AF_INET, 5300}, {L"::1", AF_INET6, 53},
              {L"[::1]", AF_INET6, 53},     {L"[::1]:5300", AF_INET6, 5300},    {L"2001:db8::1", AF_INET6, 53},
              {L"127.0.0.1:65535", AF_INET, 65535}};
  for (const auto& c : good) {
    const std::optional<exchange::ServerEndpoint> endpoint = exchange::ResolveServer(c.Text);
    ASSERT_TRUE(endpoint) << std::wstring(c.Text).size();
    EXPECT_EQ(endpoint->Address.ss_family, c.Family);
    EXPECT_EQ(port(*endpoint), c.Port);
  }
  // A 64-octet label: refused by the system without asking any DNS server.
  const std::wstring unresolvable = std::wstring(64, L'x') + L".invalid";
  for (const std::wstring bad : {L"", L":53", L"127.0.0.1:", L"127.0.0.1:0", L"127.0.0.1:65536", L"127.0.0.1:53x",
                                 L"[::1", L"[::1]x", L"[::1]:", L"[127.0.0.1]", L"[]", unresolvable.c_str()}) {
    EXPECT_FALSE(exchange::ResolveServer(bad)) << bad.size();
  }
}

// The encrypted forms resolve to their address with what the shell needs;
// tls:// takes only an address. The list leaves them out while the shell
// does not speak them, rather than ask them in plain DNS.
TEST(ResolveServer, ReadsEncryptedFormsAndKeepsThemOutOfPlainLists) {
  const std::optional<exchange::ServerEndpoint> tls = exchange::ResolveServer(L"tls://127.0.0.1#dot.test");
  ASSERT_TRUE(tls);
  EXPECT_EQ(tls->Transport, exchange::ServerTransport::Tls);
  EXPECT_EQ(::ntohs(reinterpret_cast<const sockaddr_in&>(tls->Address).sin_port), 853);
  EXPECT_EQ(tls->CertificateName, L"dot.test");
  const std::optional<exchange::ServerEndpoint> https =
      exchange::ResolveServer(L"https://[::1]:8443/dns-query#doh.test");
  ASSERT_TRUE(https);
  EXPECT_EQ(https->Transport, exchange::ServerTransport::Https);
  EXPECT_EQ(https->Address.ss_family, AF_INET6);
  EXPECT_EQ(https->Path, L"/dns-query");
  EXPECT_EQ(https->CertificateName, L"doh.test");
  EXPECT_FALSE(exchange::ResolveServer(L"tls://localhost#dot.test"));
  EXPECT_FALSE(exchange::ResolveServer(L"tls://127.0.0.1"));

  const std::vector<exchange::ServerEndpoint> list = exchange::ResolveServerList(
      L"tls://127.0.0.1#dot.test, https://127.0.0.1/dns-query#doh.test, 127.0.0.1:5300", ::GetTickCount64() + 5000);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].Transport, exchange::ServerTransport::Plain);
  EXPECT_EQ(exchange::EndpointText(list[0]), L"127.0.0.1:5300");

  // A caller that takes encrypted servers gets both forms, in list order,
  // each named as outcomes name it.
  const std::vector<exchange::ServerEndpoint> encrypted = exchange::ResolveServerList(
      L"tls://127.0.0.1#dot.test, https://127.0.0.1/dns-query#doh.test https://[::1]:8443/q#doh.test 127.0.0.1:5300",
      ::GetTickCount64() + 5000, true);
  ASSERT_EQ(encrypted.size(), 4u);
  EXPECT_EQ(exchange::EndpointText(encrypted[0]), L"tls://127.0.0.1#dot.test");
  EXPECT_EQ(exchange::EndpointText(encrypted[1]), L"https://127.0.0.1/dns-query#doh.test");
  EXPECT_EQ(exchange::EndpointText(encrypted[2]), L"https://[::1]:8443/q#doh.test");
  EXPECT_EQ(encrypted[3].Transport, exchange::ServerTransport::Plain);
  // A host given by name: resolved through the system, its name the
  // certificate's and the request's host, no #NAME in its text.
  const std::optional<exchange::ServerEndpoint> named = exchange::ResolveServer(L"https://localhost:8443/dns-query");
  ASSERT_TRUE(named);
  EXPECT_EQ(named->CertificateName, L"localhost");
  EXPECT_EQ(named->Host, L"localhost");
  EXPECT_EQ(exchange::EndpointText(*named), L"https://localhost:8443/dns-query");
}

TEST_F(ExchangeTest, SendsTheQueryWithAFreshIdAndReturnsTheReplyWhole) {
  Server().Reset(Answer(GENUINE));
  std::set<std::uint16_t> ids;
  for (int i = 0; i < 4; ++i) {
    const std::optional<vbDNS::Packet> reply = Exchange(SERVER_ADDRESS, 2000);
    ASSERT_TRUE(reply);
    const Query sent = Server().Queries().back();
    // The name goes out in random letter case and comes back as asked.
    EXPECT_EQ(Folded(sent.Bytes), Folded(vbDNS::EncodeQuery(HostQuery())));
    EXPECT_EQ(*reply, AsAsked(Reply(sent, {A(GENUINE)})));  // exactly the datagram, nothing appended
    ids.insert(sent.Id());
  }
  EXPECT_GT(ids.size(), 1u) << "the same ID in four exchanges";
}

// A datagram that is not the reply, sent before the genuine one.
struct Impostor {
  const char* Name;
  std::function<Send(const Query&)> Make;
};

Send Altered(const Query& query, const std::function<void(vbDNS::Packet&)>& change) {
  vbDNS::Packet bytes = Reply(query, {A(FORGED)});
  change(bytes);
  return {bytes};
}

const Impostor IMPOSTORS[] = {
    {"FromOtherPort", [](const Query& q) { return Send{Reply(q, {A(FORGED)}), 0, From::OtherPort}; }},
    {"FromOtherAddress", [](const Query& q) { return Send{Reply(q, {A(FORGED)}), 0, From::OtherAddress}; }},
    {"WrongId", [](const Query& q) { return Altered(q, [](vbDNS::Packet& p) { p[1] ^= 0x01; }); }},
    {"WrongName", [](const Query& q) { return Altered(q, [](vbDNS::Packet& p) { p[13] ^= 0x01; }); }},
    {"WrongType", [](const Query& q) { return Altered(q, [&](vbDNS::Packet& p) { p[q.Bytes.size() - 3] = 28; }); }},
    {"QrClear", [](const Query& q) { return Altered(q, [](vbDNS::Packet& p) { p[2] &= static_cast<std::uint8_t>(~vbDNS::FLAG_QR); }); }},
    {"Empty", [](const Query&) { return Send{}; }},
    {"Short", [](const Query& q) { return Altered(q, [](vbDNS::Packet& p) { p.resize(11); }); }},
};

void PrintTo(const Impostor& impostor, std::ostream* out) { *out << impostor.Name; }

class ImpostorTest : public ExchangeTest, public ::testing::WithParamInterface<Impostor> {};

TEST_P(ImpostorTest, IsDroppedAndTheGenuineReplyWins) {
  Server().Reset([](const Query& query) {
    return std::vector<Send>{GetParam().Make(query), {Reply(query, {A(GENUINE)}), 30}};
  });
  const std::optional<vbDNS::Packet> reply = Exchange(SERVER_ADDRESS, 3000);
  ASSERT_TRUE(reply);
  EXPECT_EQ(*reply, AsAsked(Reply(Server().Queries().at(0), {A(GENUINE)})));
}

INSTANTIATE_TEST_SUITE_P(Exchange, ImpostorTest, ::testing::ValuesIn(IMPOSTORS),
                         [](const auto& test) { return std::string(test.param.Name); });

TEST_F(ExchangeTest, FirstOfTwoRepliesWinsAndTheNextExchangeSeesNeitherAgain) {
  Server().Reset([](const Query& query) {
    return std::vector<Send>{{Reply(query, {A(GENUINE)})}, {Reply(query, {A(FORGED)})}};
  });
  const std::optional<vbDNS::Packet> first = Exchange(SERVER_ADDRESS, 2000);
  ASSERT_TRUE(first);
  EXPECT_EQ(*first, AsAsked(Reply(Server().Queries().at(0), {A(GENUINE)})));

  Server().Reset(Answer("198.51.100.7", 100));
  const std::optional<vbDNS::Packet> second = Exchange(SERVER_ADDRESS, 2000);
  ASSERT_TRUE(second);
  EXPECT_EQ(*second, AsAsked(Reply(Server().Queries().at(0), {A("198.51.100.7")})));
}

TEST_F(ExchangeTest, SilentWaitSleeps) {
  const Stopwatch clock;
  const double cpuBefore = ThreadCpuMs();
  EXPECT_FALSE(Exchange(SERVER_ADDRESS, 2000));
  const double cpu = ThreadCpuMs() - cpuBefore;
  const double elapsed = clock.ElapsedMs();
  const double share = 100.0 * cpu / elapsed;
  std::printf("[ measure  ] silent 2 s wait: %.0f ms elapsed, %.1f ms thread CPU, %.2f%% CPU\n", elapsed, cpu, share);
  EXPECT_LT(share, 10.0) << "the wait spins";
}

TEST_F(ExchangeTest, SlowReplyCountsOnlyInsideTheTimeOut) {
  Server().Reset(Answer(GENUINE, 250));
  Stopwatch clock;
  EXPECT_TRUE(Exchange(SERVER_ADDRESS, 3000));
  EXPECT_LT(clock.ElapsedMs(), 3000.0);

  Server().Reset(Answer(GENUINE, 700));
  clock = Stopwatch();
  EXPECT_FALSE(Exchange(SERVER_ADDRESS, 300));
  EXPECT_GE(clock.ElapsedMs(), 280.0);
  ::Sleep(1000);  // the late replies (to the resends too) land on a closed port, not in the next test
}

TEST_F(ExchangeTest, Ipv6Server) {
  if (!Server().HasIpv6()) GTEST_SKIP() << "no IPv6 loopback";
  Server().Reset([](const Query& query) {
    return std::vector<Send>{{Reply(query, {A(FORGED)}), 0, From::OtherPort}, {Reply(query, {A(GENUINE)}), 30}};
  });
  for (const wchar_t* server : {L"::1", L"[::1]", L"[::1]:53"}) {
    const std::optional<vbDNS::Packet> reply = Exchange(server, 3000);
    ASSERT_TRUE(reply);
    EXPECT_EQ(*reply, AsAsked(Reply(Server().Queries().back(), {A(GENUINE)})));
    EXPECT_EQ(Server().Queries().back().ReceivedOn, Listener::Main6);
  }
}

TEST_F(ExchangeTest, ServerWithPort) {
  // From the alternative port's view, port 53 is the other port.
  Server().Reset([](const Query& query) {
    return std::vector<Send>{{Reply(query, {A(FORGED)}), 0, From::OtherPort}, {Reply(query, {A(GENUINE)}), 30}};
  });
  const std::wstring server = std::wstring(SERVER_ADDRESS) + L":" + std::to_wstring(ALT_PORT);
  const std::optional<vbDNS::Packet> reply = Exchange(server, 3000);
  ASSERT_TRUE(reply);
  EXPECT_EQ(*reply, AsAsked(Reply(Server().Queries().at(0), {A(GENUINE)})));
  EXPECT_EQ(Server().Queries().at(0).ReceivedOn, Listener::AltPort);
}

TEST_F(ExchangeTest, UnusableServerEndsAtOnceWithoutSending) {
  Server().Reset(Answer(GENUINE));
  const std::wstring unresolvable = std::wstring(64, L'x') + L".invalid";
  for (const std::wstring server : {L"", VAVIZAV_SCRIPTED_ADDRESS L":0", L"[" VAVIZAV_SCRIPTED_ADDRESS L"]", unresolvable.c_str()}) {
    const Stopwatch clock;
    EXPECT_FALSE(Exchange(server, 60000));
    EXPECT_LT(clock.ElapsedMs(), 10000.0) << server.size();
  }
  EXPECT_TRUE(Server().Queries().empty());
}

TEST_F(ExchangeTest, PortUnreachableDoesNotEndTheWait) {
  // A port nobody listens on: the ICMP answer must not end the exchange early.
  runtime::unique_socket probe(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  sockaddr_in where{};
  where.sin_family = AF_INET;
  ::InetPtonW(AF_INET, VAVIZAV_CLOSED_PORT_ADDRESS, &where.sin_addr);
  int length = sizeof where;
  ASSERT_EQ(::bind(probe.get(), reinterpret_cast<sockaddr*>(&where), length), 0);
  ::getsockname(probe.get(), reinterpret_cast<sockaddr*>(&where), &length);
  const std::wstring closed = std::wstring(VAVIZAV_CLOSED_PORT_ADDRESS) + L":" + std::to_wstring(::ntohs(where.sin_port));
  probe.reset();

  const Stopwatch clock;
  EXPECT_FALSE(Exchange(closed, 400));
  EXPECT_GE(clock.ElapsedMs(), 380.0);
}

TEST_F(ExchangeTest, DispatchesMessagesSentFromAnotherThreadDuringTheWait) {
  bool waiting = true, handledWhileWaiting = false;
  MessageWindow window([&](UINT, WPARAM) { handledWhileWaiting = waiting; });
  Server().Reset(Answer(GENUINE, 600));
  // SendMessage blocks the other thread until this one dispatches the message.
  std::atomic<bool> senderDone = false;
  std::thread sender([&] {
    ::Sleep(50);
    DWORD_PTR ignored;
    ::SendMessageTimeoutW(window.get(), WM_APP, 0, 0, SMTO_NORMAL, 10000, &ignored);
    senderDone = true;
  });
  EXPECT_TRUE(Exchange(SERVER_ADDRESS, 10000));
  waiting = false;
  MSG message;
  while (!senderDone) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_SENDMESSAGE);
    ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);  // lets a late SendMessage through
  }
  sender.join();
  EXPECT_TRUE(handledWhileWaiting) << "the sent message waited for the reply";
}

TEST_F(ExchangeTest, QuitMessageIsPutBackAndTheWaitGoesOn) {
  int handled = 0;
  MessageWindow window([&](UINT, WPARAM) { ++handled; });
  Server().Reset(Answer(GENUINE, 500));
  ::PostMessageW(window.get(), WM_APP, 0, 0);
  ::PostQuitMessage(7);
  const Stopwatch clock;
  const double cpuBefore = ThreadCpuMs();
  EXPECT_TRUE(Exchange(SERVER_ADDRESS, 5000));
  const double cpu = ThreadCpuMs() - cpuBefore, elapsed = clock.ElapsedMs();
  EXPECT_LT(cpu, 0.1 * elapsed + 20) << "spinning on the quit message: " << cpu << " ms CPU in " << elapsed << " ms";
  EXPECT_EQ(handled, 1);
  MSG message;
  ASSERT_TRUE(::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(message.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(message.wParam, 7u);
}

TEST_F(ExchangeTest, HandlerThatKeepsPostingToItselfDoesNotHoldTheWait) {
  // Without a limit per pass the queue never runs dry; the handler gives up
  // after 2 s so that such a fault fails instead of hanging.
  HWND self = nullptr;
  bool repost = true, heldUp = false;
  const Stopwatch clock;
  MessageWindow window([&](UINT, WPARAM) {
    if (repost && !(heldUp = clock.ElapsedMs() > 2000)) ::PostMessageW(self, WM_APP, 0, 0);
  });
  self = window.get();
  Server().Reset(Answer(GENUINE, 100));
  ::PostMessageW(self, WM_APP, 0, 0);
  EXPECT_TRUE(Exchange(SERVER_ADDRESS, 5000));
  EXPECT_FALSE(heldUp) << "the reply waited for the message queue to run dry";
  repost = false;
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
}

}  // namespace
}  // namespace vavizav::testing
