// A fake network and a fake clock around ExchangeCore: every datagram the
// core sends is recorded with the time, servers are scripted per index, and
// the clock only moves when a test moves it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "codec/vbdns.h"
#include "exchange/core/distinct_questions.h"
#include "exchange/core/exchange_core.h"
#include "packets.h"

namespace vavizav::testing {

using namespace vavizav::packets;

// A predictable generator: tests see the same IDs and cases every run.
inline bool TestRandom(std::span<std::uint8_t> octets) {
  static std::uint32_t state = 0x2545F491;
  for (std::uint8_t& octet : octets) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    octet = static_cast<std::uint8_t>(state >> 24);
  }
  return true;
}

inline vbDNS::DNSQuery Ask(std::string_view name, std::uint16_t type = vbDNS::TYPE_A) {
  return *vbDNS::BuildQuestion(type, name);
}

struct SentDatagram {
  std::uint32_t Socket = 0;
  std::size_t Server = 0;
  vbDNS::Packet Octets;
  std::uint64_t At = 0;
  std::uint16_t Id() const { return static_cast<std::uint16_t>(Octets[0] << 8 | Octets[1]); }
  // The question as it went: name, type and class.
  vbDNS::Packet Question() const { return vbDNS::Packet(Octets.begin() + vbDNS::HEADER_SIZE, Octets.end()); }
  std::string Name() const {
    return std::string(Octets.begin() + vbDNS::HEADER_SIZE, Octets.end() - 4);
  }
};

// The reply a plain server gives: the question as it came, one A record
// whose owner points at it, and the flags given.
inline vbDNS::Packet AnswerTo(const SentDatagram& sent, std::uint8_t flags1 = REPLY_FLAGS1,
                              std::uint16_t answers = 1) {
  vbDNS::Packet reply = Join({U16(sent.Id()), {flags1, ReplyFlags2()}, U16(1), U16(answers), U16(0), U16(0),
                              sent.Question()});
  for (std::uint16_t i = 0; i < answers; ++i) {
    const vbDNS::Packet record = Record(Pointer(vbDNS::HEADER_SIZE), vbDNS::TYPE_A, {192, 0, 2, 1});
    reply.insert(reply.end(), record.begin(), record.end());
  }
  return reply;
}

// The reply with its question's letters in lower case, as a server that
// does not keep case sends it.
inline vbDNS::Packet Folded(vbDNS::Packet octets) {
  for (std::size_t i = vbDNS::HEADER_SIZE; i < octets.size(); ++i) {
    std::uint8_t& c = octets[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<std::uint8_t>(c | 0x20);
  }
  return octets;
}

class FakeNet final : public exchange::CoreTransport {
 public:
  bool SendDatagram(std::uint32_t socket, int, std::size_t server, vbDNS::PacketView datagram) override {
    if (!openSockets_.count(socket)) {
      EXPECT_FALSE(closed_.count(socket)) << "socket " << socket << " used after its close";
      openSockets_.insert(socket);
    }
    Sent.push_back({socket, server, vbDNS::Packet(datagram.begin(), datagram.end()), *Now});
    return !FailSends;
  }
  void CloseSocket(std::uint32_t socket) override {
    openSockets_.erase(socket);
    closed_.insert(socket);
  }
  bool OpenStream(std::uint32_t stream, std::size_t server, vbDNS::PacketView octets) override {
    Streams.push_back({stream, server, vbDNS::Packet(octets.begin(), octets.end()), false});
    return !RefuseStreams;
  }
  void CloseStream(std::uint32_t stream) override {
    for (Stream& s : Streams) {
      if (s.Id == stream) s.Closed = true;
    }
  }
  std::size_t OpenSocketCount() const { return openSockets_.size(); }

  struct Stream {
    std::uint32_t Id = 0;
    std::size_t Server = 0;
    vbDNS::Packet Octets;
    bool Closed = false;
  };
  std::vector<SentDatagram> Sent;
  std::vector<Stream> Streams;
  bool RefuseStreams = false;
  bool FailSends = false;
  const std::uint64_t* Now = nullptr;

 private:
  std::set<std::uint32_t> openSockets_;
  std::set<std::uint32_t> closed_;
};

// What a scripted server does with a datagram: the datagrams it sends back
// and how long after.
struct ServerReply {
  vbDNS::Packet Octets;
  std::uint64_t DelayMs = 0;
};
using ServerScript = std::function<std::vector<ServerReply>(const SentDatagram&)>;

inline ServerScript Answers(std::uint64_t delayMs = 1) {
  return [=](const SentDatagram& sent) { return std::vector<ServerReply>{{AnswerTo(sent), delayMs}}; };
}
inline ServerScript Silent() {
  return [](const SentDatagram&) { return std::vector<ServerReply>{}; };
}
inline ServerScript FoldsCase(std::uint64_t delayMs = 1) {
  return [=](const SentDatagram& sent) { return std::vector<ServerReply>{{Folded(AnswerTo(sent)), delayMs}}; };
}

// One call of the core on the fake network: servers scripted by index, the
// clock moved from deadline to deadline, replies handed in when their time
// comes (all of those due before each Advance, as the shell must).
class CoreRun {
 public:
  CoreRun(std::vector<vbDNS::DNSQuery> queries, std::vector<ServerScript> scripts, std::uint32_t timeoutMs,
          unsigned window, exchange::ServerMemory& memory, std::uint64_t start = 0)
      : queries_(std::move(queries)), scripts_(std::move(scripts)), now_(start) {
    distinct_ = exchange::FindDistinct(queries_);
    std::vector<exchange::CoreServer> servers;
    for (std::size_t i = 0; i < scripts_.size(); ++i) servers.push_back({L"192.0.2." + std::to_wstring(i + 1), 4});
    Net.Now = &now_;
    core_.emplace(queries_, distinct_.Firsts, std::move(servers), timeoutMs, window, memory, random_, Net, start);
  }

  exchange::ExchangeCore& Core() { return *core_; }
  std::uint64_t Now() const { return now_; }

  // Hands in every reply due by `now`, in time order.
  void Deliver() {
    Collect();
    while (!pending_.empty() && pending_.begin()->first.first <= now_) {
      const auto it = pending_.begin();
      const Pending p = it->second;
      pending_.erase(it);
      ++Delivered;
      core_->OnDatagram(now_, p.Socket, p.From, p.Octets);
      Collect();
    }
  }

  // Runs to the end: returns the outcomes per query, in input order.
  std::vector<exchange::ExchangeOutcome> Run(std::uint64_t limitMs = 1000000) {
    for (;;) {
      const std::size_t sentBefore = Net.Sent.size();
      const std::size_t deliveredBefore = Delivered;
      Deliver();
      core_->Advance(now_);
      Collect();
      const std::optional<std::uint64_t> deadline = core_->NextDeadline();
      if (!deadline) break;
      std::uint64_t next = *deadline;
      if (!pending_.empty()) next = std::min(next, pending_.begin()->first.first);
      if (next <= now_) next = (sentBefore == Net.Sent.size() && deliveredBefore == Delivered) ? now_ + 1 : now_;
      now_ = next;
      if (now_ > limitMs) {
        ADD_FAILURE() << "the core did not finish by " << limitMs << " ms";
        break;
      }
    }
    return exchange::HandOut(queries_, distinct_, core_->TakeOutcomes());
  }

  // Moves the clock without handing anything in (the shell was busy).
  void Jump(std::uint64_t to) { now_ = to; }

  FakeNet Net;
  std::size_t Delivered = 0;

 private:
  struct Pending {
    std::uint32_t Socket;
    std::size_t From;
    vbDNS::Packet Octets;
  };
  // Runs each new datagram through its server's script.
  void Collect() {
    for (; seen_ < Net.Sent.size(); ++seen_) {
      const SentDatagram sent = Net.Sent[seen_];
      for (ServerReply& reply : scripts_[sent.Server](sent)) {
        pending_.emplace(std::make_pair(sent.At + reply.DelayMs, order_++),
                         Pending{sent.Socket, sent.Server, std::move(reply.Octets)});
      }
    }
  }

  std::vector<vbDNS::DNSQuery> queries_;
  std::vector<ServerScript> scripts_;
  exchange::DistinctQuestions distinct_;
  exchange::RandomPool random_{TestRandom};
  std::uint64_t now_;
  std::optional<exchange::ExchangeCore> core_;
  std::map<std::pair<std::uint64_t, std::uint64_t>, Pending> pending_;
  std::uint64_t order_ = 0;
  std::size_t seen_ = 0;
};

inline std::vector<vbDNS::DNSQuery> Names(std::size_t count, std::string_view suffix = ".batch.example") {
  std::vector<vbDNS::DNSQuery> queries;
  for (std::size_t i = 0; i < count; ++i) queries.push_back(Ask("host" + std::to_string(i) + std::string(suffix)));
  return queries;
}

}  // namespace vavizav::testing
