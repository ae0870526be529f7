// A hostile server: every reply carries the right ID, QR and the question as
// asked, so the exchange must take it, and then anything at all. Each lookup
// has to end at once with addresses or a name, or with its failure text, and
// give exactly what the lookups' decisions give for the same bytes: nothing is
// lost, cut or mixed up between the wire and the caller.
//
// VAVIZAV_HOSTILE_SEED and VAVIZAV_HOSTILE_ROUNDS change the seed and the
// number of lookups per direction. The replies are fixed by the seed but for
// the query's random ID; a failure names the seed and the round and shows the
// reply whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "environment.h"
#include "exchange_fixture.h"
#include "fake_dns_server.h"
#include "packets.h"
#include "resolver/lookup.h"
#include "scripted_server_fixture.h"
#include "stand_in_exchange.h"
#include "test_support.h"

namespace vavizav::testing {
namespace {

constexpr wchar_t FORWARD_NAME[] = L"hostile.vavizav.test";
constexpr char16_t FORWARD_NAME16[] = u"hostile.vavizav.test";
constexpr wchar_t REVERSE_ADDRESS[] = L"192.0.2.77";
constexpr char16_t REVERSE_ADDRESS16[] = u"192.0.2.77";
// Long enough that a reply the exchange wrongly drops shows as a time-out.
constexpr LONG TIMEOUT_MS = 3000;

// Builds hostile replies from one seeded generator; remembers what it sent.
class Hostile {
 public:
  explicit Hostile(std::uint64_t seed) : random_(seed) {}

  vbDNS::Packet Make(const Query& query) {
    vbDNS::Packet reply(query.Bytes);  // ID and question as asked
    questionEnd_ = reply.size();
    reply[2] = static_cast<std::uint8_t>(vbDNS::FLAG_QR | (Byte() & 0x7F));
    // A server failure (RCODE) ends every lookup alike: a quarter of the time.
    reply[3] = static_cast<std::uint8_t>(Below(4) == 0 ? Byte() : Byte() & ~vbDNS::RCODE_MASK);
    SetCount(reply, 6, Count());
    SetCount(reply, 8, Below(3) == 0 ? Count() : 0);
    SetCount(reply, 10, Below(3) == 0 ? Count() : 0);
    if (Below(3) == 0) {
      for (std::size_t n = Below(600); n > 0; --n) reply.push_back(Byte());
    } else {
      const std::size_t records = 1 + Below(6);
      if (Below(4) != 0) SetCount(reply, 6, records);
      for (std::size_t i = 0; i < records; ++i) AppendRecord(reply);
      if (Below(3) == 0) Mutate(reply);
    }
    return reply;
  }

 private:
  std::size_t Below(std::size_t bound) { return std::uniform_int_distribution<std::size_t>(0, bound - 1)(random_); }
  std::uint8_t Byte() { return static_cast<std::uint8_t>(Below(256)); }
  std::size_t Count() { return Below(4) == 0 ? Below(65536) : Below(8); }
  static void SetCount(vbDNS::Packet& reply, std::size_t at, std::size_t value) {
    reply[at] = static_cast<std::uint8_t>(value >> 8);
    reply[at + 1] = static_cast<std::uint8_t>(value);
  }

  // A name: the question's, labels of any octets, the root, or pointers that
  // lead anywhere, back to themselves included.
  void AppendName(vbDNS::Packet& reply) {
    const std::size_t here = reply.size();
    switch (Below(10)) {
      case 0:
      case 1:
      case 2:
      case 3:
        reply.insert(reply.end(), {0xC0, 0x0C});
        break;
      case 4:
        reply.insert(reply.end(), {static_cast<std::uint8_t>(0xC0 | here >> 8), static_cast<std::uint8_t>(here)});
        break;
      case 5: {
        // Not into the ID, which changes from run to run.
        const std::size_t target = 2 + Below(here + 6);
        reply.insert(reply.end(),
                     {static_cast<std::uint8_t>(0xC0 | (target >> 8 & 0x3F)), static_cast<std::uint8_t>(target)});
        break;
      }
      case 6:
        reply.push_back(0);
        break;
      default:
        for (std::size_t labels = Below(4); labels > 0; --labels) {
          const std::size_t length = Below(12) == 0 ? Below(256) : Below(20);
          reply.push_back(static_cast<std::uint8_t>(length));
          for (std::size_t i = 0; i < length; ++i) reply.push_back(static_cast<std::uint8_t>(Below(3) == 0 ? Byte() : 'a' + Below(26)));
        }
        if (Below(2) == 0) reply.insert(reply.end(), {0xC0, 0x0C});
        else if (Below(8) != 0) reply.push_back(0);
    }
  }

  void AppendRecord(vbDNS::Packet& reply) {
    AppendName(reply);
    static constexpr std::uint16_t TYPES[] = {
        vbDNS::TYPE_A, vbDNS::TYPE_A, vbDNS::TYPE_CNAME, vbDNS::TYPE_PTR, vbDNS::TYPE_PTR, 28, 0, 0xFFFF};
    const std::uint16_t type = TYPES[Below(std::size(TYPES))];
    const std::uint16_t klass = Below(6) == 0 ? static_cast<std::uint16_t>(Below(65536)) : vbDNS::CLASS_IN;
    reply.insert(reply.end(), {static_cast<std::uint8_t>(type >> 8), static_cast<std::uint8_t>(type),
                               static_cast<std::uint8_t>(klass >> 8), static_cast<std::uint8_t>(klass), Byte(), Byte(),
                               Byte(), Byte(), 0, 0});
    const std::size_t lengthAt = reply.size() - 2;
    if (type == vbDNS::TYPE_A) {
      for (std::size_t n = Below(5) == 0 ? Below(9) : 4; n > 0; --n) reply.push_back(Byte());
    } else if (type == vbDNS::TYPE_CNAME || type == vbDNS::TYPE_PTR) {
      AppendName(reply);
    } else {
      for (std::size_t n = Below(20); n > 0; --n) reply.push_back(Byte());
    }
    std::size_t length = reply.size() - lengthAt - 2;
    if (Below(16) == 0) length = Below(65536);  // past the end, or short of it
    SetCount(reply, lengthAt, length);
  }

  // Flipped octets or a cut, never in the ID, the QR flag, QDCount or the
  // question: the exchange would rightly drop such a datagram.
  void Mutate(vbDNS::Packet& reply) {
    const std::size_t tail = reply.size() - questionEnd_;
    if (Below(2) == 0) {
      for (std::size_t n = 1 + Below(4); n > 0 && tail > 0; --n) reply[questionEnd_ + Below(tail)] ^= static_cast<std::uint8_t>(1u << Below(8));
    } else {
      reply.resize(questionEnd_ + Below(tail + 1));
    }
  }

  std::mt19937_64 random_;
  std::size_t questionEnd_ = 0;
};

bool IsPrintable(const std::wstring& text) {
  for (const wchar_t c : text) {
    if (c < 0x21 || c > 0x7E) return false;
  }
  return true;
}

// Addresses in dotted form, one a line.
bool IsAddressList(const std::wstring& text) {
  std::size_t at = 0;
  for (;;) {
    const std::size_t end = std::min(text.find(L"\r\n", at), text.size());
    const std::wstring line = text.substr(at, end - at);
    if (!vbDNS::TextToIP(std::u16string(line.begin(), line.end()))) return false;
    if (end == text.size()) return true;
    at = end + 2;
  }
}

class HostileServer : public ScriptedServerTest {
 protected:
  void SetUp() override {
    ScriptedServerTest::SetUp();
    Configure(object_, SERVER_ADDRESS, TIMEOUT_MS);
  }

  hosting::VeviVORIdezaz object_;
};

// Both lookups, round after round, against replies from one seeded generator.
TEST_F(HostileServer, EveryLookupEndsAsTheDecisionsSayForTheBytesSent) {
  const std::uint64_t seed = EnvironmentNumber("VAVIZAV_HOSTILE_SEED", 20240611);
  const unsigned long rounds = EnvironmentNumber("VAVIZAV_HOSTILE_ROUNDS", 1000);
  // The server's thread makes the replies; the test reads the last one.
  struct Shared {
    explicit Shared(std::uint64_t seed) : Generator(seed) {}
    std::mutex Mutex;
    Hostile Generator;
    vbDNS::Packet Last;
  };
  const auto shared = std::make_shared<Shared>(seed);
  const Script script = [shared](const Query& query) {
    const std::lock_guard lock(shared->Mutex);
    shared->Last = shared->Generator.Make(query);
    return std::vector<Send>{{shared->Last}};
  };

  int failures = 0, successes[2] = {0, 0};
  for (unsigned long round = 0; round < 2 * rounds && failures < 5; ++round) {
    const bool forward = round % 2 == 0;
    Server().Reset(script);
    const Answer answer = forward ? Forward(object_, FORWARD_NAME) : Reverse(object_, REVERSE_ADDRESS);
    vbDNS::Packet sent;
    {
      const std::lock_guard lock(shared->Mutex);
      sent = shared->Last;
    }
    // The decisions of a lookup fed the same reply directly, its question spelt
    // as the lookup asked (the name went out in random case).
    const vbDNS::DNSQuery asked = forward ? *vbDNS::BuildQuery(vbDNS::TYPE_A, std::u16string_view(FORWARD_NAME16))
                                          : *vbDNS::BuildQuery(vbDNS::TYPE_PTR, std::u16string_view(REVERSE_ADDRESS16));
    RespellQuestion(sent, asked.Question.QName);
    StandInExchange replay(sent);
    const resolver::LookupOutcome expected =
        forward ? resolver::ForwardLookup(FORWARD_NAME16, replay) : resolver::ReverseLookup(REVERSE_ADDRESS16, replay);

    const std::wstring failure = forward ? L"Unable to Resolve HostName" : L"Cannot Reverse Resolve Host";
    const bool consistent =
        answer.Status == S_OK && Server().Queries().size() == 1 && answer.Result == Widen(expected.Result) &&
        answer.LastError == Widen(expected.LastError) &&
        (answer.LastError.empty()
             ? !answer.Result.empty() && (forward ? IsAddressList(answer.Result) : IsPrintable(answer.Result))
             : answer.Result.empty() && answer.LastError == failure);
    if (!consistent) {
      ++failures;
      ADD_FAILURE() << "seed " << seed << ", round " << round << (forward ? " (forward)" : " (reverse)") << ": status "
                    << answer.Status << ", result \"" << Narrow(answer.Result) << "\", LastError \""
                    << Narrow(answer.LastError) << "\"; decisions give \"" << expected.Result << "\", \""
                    << expected.LastError << "\"; queries " << Server().Queries().size() << "; reply " << Hex(sent);
    }
    if (answer.LastError.empty()) ++successes[forward ? 0 : 1];
  }
  // The generator reaches the success path of both lookups too.
  EXPECT_GT(successes[0], 0) << "seed " << seed;
  EXPECT_GT(successes[1], 0) << "seed " << seed;
  std::printf("hostile server: seed %llu, %lu rounds per lookup, %d forward and %d reverse successes\n",
              static_cast<unsigned long long>(seed), rounds, successes[0], successes[1]);
}

// Replies built around one well-formed answer, altered the ways a broken or
// malicious server alters them.
TEST_F(HostileServer, TargetedReplies) {
  const auto answering = [](std::function<void(vbDNS::Packet&)> change, std::vector<Record> records) -> Script {
    return [=](const Query& query) {
      vbDNS::Packet reply = Reply(query, records);
      change(reply);
      return std::vector<Send>{{reply}};
    };
  };

  // Every cut after the question, in every field of two answers: never a
  // time-out, never a partial address list.
  const std::size_t questionEnd =
      vbDNS::EncodeQuery(*vbDNS::BuildQuery(vbDNS::TYPE_A, std::u16string_view(FORWARD_NAME16))).size();
  const std::size_t whole = questionEnd + 2 * 16;
  for (std::size_t cut = questionEnd; cut < whole; ++cut) {
    Server().Reset(answering([cut](vbDNS::Packet& p) { p.resize(cut); }, {A("192.0.2.1"), A("192.0.2.2")}));
    const Answer answer = Forward(object_, FORWARD_NAME);
    EXPECT_EQ(answer.Result, L"") << "cut at " << cut;
    EXPECT_EQ(answer.LastError, L"Unable to Resolve HostName") << "cut at " << cut;
  }

  // Counts and pointers that would send a careless reader past the end or
  // round in circles.
  const auto pointer = [](vbDNS::Packet& p, std::size_t at, std::size_t target) {
    p[at] = static_cast<std::uint8_t>(0xC0 | target >> 8);
    p[at + 1] = static_cast<std::uint8_t>(target);
  };
  const struct {
    const char* Case;
    Script Answering;
    bool ForwardLookup;
  } cases[] = {
      {"ANCount 65535 with one answer", answering([](vbDNS::Packet& p) { p[6] = p[7] = 0xFF; }, {A("192.0.2.1")}),
       true},
      {"answer name pointing at itself",
       answering([&](vbDNS::Packet& p) { pointer(p, p.size() - 16, p.size() - 16); }, {A("192.0.2.1")}), true},
      {"PTR name pointing at itself",
       answering([&](vbDNS::Packet& p) { pointer(p, p.size() - 2, p.size() - 2); }, {{vbDNS::TYPE_PTR, {0, 0}}}),
       false},
      {"two pointers pointing at each other",
       answering(
           [&](vbDNS::Packet& p) {
             pointer(p, p.size() - 4, p.size() - 2);
             pointer(p, p.size() - 2, p.size() - 4);
           },
           {{vbDNS::TYPE_PTR, {0, 0, 0, 0}}}),
       false},
  };
  for (const auto& c : cases) {
    Server().Reset(c.Answering);
    const Answer answer = c.ForwardLookup ? Forward(object_, FORWARD_NAME) : Reverse(object_, REVERSE_ADDRESS);
    EXPECT_EQ(answer.Status, S_OK) << c.Case;
    EXPECT_EQ(answer.Result, L"") << c.Case;
    EXPECT_EQ(answer.LastError, c.ForwardLookup ? L"Unable to Resolve HostName" : L"Cannot Reverse Resolve Host")
        << c.Case;
  }
}

// A datagram within 16 octets of the largest UDP payload over IPv4, packed
// with address answers, arrives whole and gives every address.
TEST_F(HostileServer, LargestDatagramArrivesWhole) {
  constexpr std::size_t MAX_UDP_PAYLOAD = 65507;
  std::size_t addresses = 0;
  Server().Reset([&addresses](const Query& query) {
    vbDNS::Packet reply = Reply(query, {});
    addresses = (MAX_UDP_PAYLOAD - reply.size()) / 16;
    for (std::size_t i = 0; i < addresses; ++i) {
      const std::uint8_t address[] = {10, static_cast<std::uint8_t>(i >> 16), static_cast<std::uint8_t>(i >> 8),
                                      static_cast<std::uint8_t>(i)};
      const vbDNS::Packet answer = packets::Record(packets::Pointer(vbDNS::HEADER_SIZE), vbDNS::TYPE_A,
                                                   vbDNS::Packet(std::begin(address), std::end(address)));
      reply.insert(reply.end(), answer.begin(), answer.end());
    }
    reply[6] = static_cast<std::uint8_t>(addresses >> 8);
    reply[7] = static_cast<std::uint8_t>(addresses);
    return std::vector<Send>{{reply}};
  });
  const Answer answer = Forward(object_, FORWARD_NAME);
  ASSERT_EQ(answer.LastError, L"");
  ASSERT_GT(addresses, 4000u);
  const std::size_t lines = 1 + static_cast<std::size_t>(std::count(answer.Result.begin(), answer.Result.end(), L'\n'));
  EXPECT_EQ(lines, addresses);
  const std::wstring last =
      L"10.0." + std::to_wstring((addresses - 1) >> 8) + L"." + std::to_wstring((addresses - 1) & 0xFF);
  EXPECT_EQ(answer.Result.substr(answer.Result.size() - last.size()), last);
}

}  // namespace
}  // namespace vavizav::testing
