// The exchange as a state machine that owns no clock and no socket: many
// questions in flight at once, each with its own resend schedule inside the
// time-out, over UDP with the name's letters in random case (DNS 0x20), TCP
// after a truncated reply or a folded echo, the servers ranked by what the
// object has learnt of them. A question with an OPT record (EdnsUdpSize)
// goes without it to a server known not to take EDNS; a reply of FORMERR or
// NOTIMP without OPT to one with it asks that server again without, and any
// reply without OPT marks the server so for the object's life. Its shell (exchange/engine.cpp on Windows, a
// fake in the tests) feeds it the time and what the network did, and carries
// out what it asks through CoreTransport.
//
// In: Advance(now) for the timers; OnDatagram, OnUnreachable, OnStreamData,
// OnStreamEnded as they happen. Out: datagrams to send and sockets to close,
// streams to open and close (CoreTransport), NextDeadline(), and once
// Finished() one outcome per question (TakeOutcomes).
//
// The shell's part of the bargain: every datagram queued on a socket is
// handed in before the next Advance (a reply read late is a question timed
// out though answered), and `now` is read fresh for each call.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "codec/reply_check.h"
#include "codec/vbdns.h"
#include "exchange/core/name_case.h"
#include "exchange/core/outcome.h"
#include "exchange/core/send_plan.h"
#include "exchange/core/server_memory.h"

namespace vavizav::exchange {

// Every UDP socket carries at most QUERIES_PER_SOCKET queries in its life;
// then a fresh one (a fresh random port) takes over (RFC 5452 section 9.2).
inline constexpr unsigned QUERIES_PER_SOCKET = 100;
// Sends made by one Advance at most: the shell reads what came back and
// takes the time again between turns, so no send goes out on a stale clock.
inline constexpr std::size_t SENDS_PER_TURN = 64;
// Datagrams with an ID a socket does not wait for, after which it takes no
// new query: a flood aimed at it would drown the replies of later sends too.
inline constexpr unsigned STRAYS_BEFORE_RETIRING = 64;
// A server ranked behind another for leaving questions unanswered gets one
// question's first send as a probe this often, so that it can come back.
inline constexpr std::uint64_t PROBE_INTERVAL_MS = 1000;
// Once a server's round trip is known, a question's first resend comes after
// RTT_FACTOR times it, at least MIN_FIRST_RESEND_MS, when that is sooner
// than the fixed schedule's.
inline constexpr std::uint64_t RTT_FACTOR = 4;
inline constexpr std::uint64_t MIN_FIRST_RESEND_MS = 200;
// ...when at most this many questions are in flight.
inline constexpr std::size_t RTT_LOAD_LIMIT = 64;

struct CoreServer {
  std::wstring Text;  // as outcomes name it; the key of its memory
  int Family = 0;     // a datagram to it leaves from a socket of this family
  // DNS over TLS or HTTPS: asked through SendEncrypted only, never over UDP
  // or TCP, in the caller's spelling (nobody off the path reads or writes the
  // stream, so random case adds nothing).
  bool Encrypted = false;
};

// The datagram came from an address and port that is none of the servers.
inline constexpr std::size_t FROM_ELSEWHERE = static_cast<std::size_t>(-1);

// What the core asks of its shell. The core calls it from its own members
// only; the shell must not call back into the core from inside.
class CoreTransport {
 public:
  // Sends `datagram` to server `server` from socket `socket`: a serial number
  // never reused within a call; the shell opens it at its first use, bound to
  // a random port, of the family given. false when nothing went out.
  virtual bool SendDatagram(std::uint32_t socket, int family, std::size_t server, vbDNS::PacketView datagram) = 0;
  // Nothing more is expected on the socket.
  virtual void CloseSocket(std::uint32_t socket) = 0;
  // Connects a new stream to `server` and writes `octets` once it stands.
  // false when it cannot even be started.
  virtual bool OpenStream(std::uint32_t stream, std::size_t server, vbDNS::PacketView octets) = 0;
  virtual void CloseStream(std::uint32_t stream) = 0;
  // Asks `query` of encrypted server `server` on the shell's connection to
  // it, for `ticket` (never reused within a call): the shell frames it, pads
  // it, gives it an ID of the connection's and hands the reply back through
  // OnEncryptedReply with the ticket. false when nothing went out (the
  // connection ended, or its certificate failed: OnEncryptedFailed follows).
  virtual bool SendEncrypted(std::uint32_t /*ticket*/, std::size_t /*server*/, const vbDNS::DNSQuery& /*query*/) {
    return false;
  }
  // The ticket no longer waits: a reply to it is dropped.
  virtual void ForgetEncrypted(std::uint32_t /*ticket*/, std::size_t /*server*/) {}

 protected:
  ~CoreTransport() = default;
};

class ExchangeCore {
 public:
  // `queries[firsts[q]]` is question q, spelt as its outcome's reply will be.
  // Questions started by the first Advance count their time-out from
  // `callStart`, later ones from their own first send.
  ExchangeCore(std::span<const vbDNS::DNSQuery> queries, std::span<const std::size_t> firsts,
               std::vector<CoreServer> servers, std::uint32_t timeoutMs, unsigned window, ServerMemory& memory,
               RandomPool& random, CoreTransport& transport, std::uint64_t callStart);
  ExchangeCore(const ExchangeCore&) = delete;
  ExchangeCore& operator=(const ExchangeCore&) = delete;

  // Ends the questions whose time-out passed, makes the sends that are due
  // (at most SENDS_PER_TURN) and starts new questions in the free places.
  void Advance(std::uint64_t now);

  // A datagram that came on `socket` from server `from` (or FROM_ELSEWHERE).
  void OnDatagram(std::uint64_t now, std::uint32_t socket, std::size_t from, vbDNS::PacketView datagram);
  // An ICMP port unreachable on `socket`, for one of its sends, unknown which.
  void OnUnreachable(std::uint64_t now, std::uint32_t socket);
  // What a stream gave, in order; and its end (refused, reset, closed).
  void OnStreamData(std::uint64_t now, std::uint32_t stream, vbDNS::PacketView octets);
  void OnStreamEnded(std::uint64_t now, std::uint32_t stream);
  // The reply an encrypted server gave to `ticket`.
  void OnEncryptedReply(std::uint64_t now, std::uint32_t ticket, vbDNS::PacketView reply);
  // The connection to encrypted server `server` ended (`untrusted`: its
  // certificate failed the check): it takes nothing more in this call, and
  // the questions waiting on it go on to the next server at once. Once no
  // server is left, every open question ends: Untrusted when a certificate
  // failed, else as if unanswered.
  void OnEncryptedFailed(std::uint64_t now, std::size_t server, bool untrusted);

  // When Advance is next needed: 0 for at once; nullopt once Finished.
  std::optional<std::uint64_t> NextDeadline() const;
  bool Finished() const { return done_ == outcomes_.size(); }
  // One outcome per question, in order; the questions still open end with
  // `failure` (the shell's wait failed).
  std::vector<ExchangeOutcome> TakeOutcomes(ExchangeFailure failure = ExchangeFailure::TimedOut);
  // The questions that ended since the last call, in the order they ended;
  // each one's outcome stays readable through OutcomeOf until TakeOutcomes.
  std::vector<std::size_t> TakeEnded() { return std::exchange(ended_, {}); }
  const ExchangeOutcome& OutcomeOf(std::size_t question) const { return outcomes_[question]; }

  std::size_t OpenSockets() const { return sockets_.size(); }

 private:
  static constexpr std::size_t MAX_RECORDS = MAX_SENDS + 4;

  // One datagram of a question: where it went, on which ticket.
  struct SendRecord {
    std::uint32_t Socket = 0;
    std::uint16_t Id = 0;
    std::size_t Server = 0;
    std::uint64_t At = 0;
    bool Live = false;     // a reply to it may still count
    bool Mixed = true;     // the name in random case (else as the caller spelt it)
    bool Counted = false;  // already counted as left unanswered
    bool Probe = false;    // an extra first send to a server ranked behind
    bool Edns = false;     // carried the question's OPT record
    bool Encrypted = false;     // went through SendEncrypted, under Ticket
    std::uint32_t Ticket = 0;
  };
  struct Slot {
    bool Busy = false;
    std::size_t Question = 0;
    vbDNS::DNSQuery Wire;  // with the name in random case
    std::array<SendRecord, MAX_RECORDS> Sends{};
    std::size_t Records = 0;
    std::size_t Planned = 0;     // sends of the plan made
    std::size_t Delivered = 0;   // of those, sent
    std::size_t LastPlanned = 0; // record of the latest send of the plan
    SendPlan Plan;
    std::uint64_t Start = 0;
    std::uint64_t NextSend = 0;
    std::uint64_t Deadline = 0;
    std::uint64_t Tried = 0;  // servers asked in this round of the list (the first 64)
    bool Streaming = false;
    bool StreamForCase = false;  // asked over TCP for a folded echo (else for TC)
    std::uint32_t Stream = 0;
    std::size_t StreamServer = 0;
    std::uint16_t StreamId = 0;
    std::uint64_t StreamStart = 0;
    std::uint64_t StreamDeadline = 0;
    vbDNS::StreamMessage In;
    std::optional<vbDNS::Packet> Truncated;  // respelt already
    std::size_t TruncatedServer = 0;
    bool Malformed = false;
  };
  struct Carried {
    std::uint16_t Id = 0;
    bool Live = false;
    std::uint32_t Owner = 0;   // slot
    std::uint8_t Record = 0;   // in the slot's Sends
  };
  struct UdpSocket {
    int Family = 0;
    unsigned Used = 0;
    unsigned Live = 0;
    unsigned Strays = 0;
    bool Retired = false;  // takes no new query: used up or flooded
    std::array<Carried, QUERIES_PER_SOCKET> Queries{};
  };

  const vbDNS::DNSQuery& Asked(const Slot& slot) const { return queries_[firsts_[slot.Question]]; }
  void Admit(std::uint64_t now);
  void SendDue(Slot& slot, std::uint64_t now);
  // The socket a send leaves from: the first sends' in turn, the resends' in
  // turn, or one of its own.
  enum class SendWay { First, Resend, Alone };
  bool SendOn(Slot& slot, std::size_t record, SendWay way);
  bool SendEncryptedOn(Slot& slot, std::size_t record);
  bool AllFailed() const { return failedCount_ == servers_.size(); }
  ExchangeFailure FailureOnceAllFailed(const Slot& slot) const;
  std::size_t PickServer(Slot& slot);
  void Probe(Slot& slot, std::uint64_t now);
  void AskOverStream(Slot& slot, std::size_t server, bool forCase, std::uint64_t now);
  void StreamFailed(Slot& slot, std::uint64_t now);
  void CaseFallback(Slot& slot, std::size_t server, std::uint64_t now);
  void SendAlone(Slot& slot, std::size_t server, bool mixed, std::uint64_t now);
  bool WithEdns(const Slot& slot, std::size_t server) const;
  void Expire(Slot& slot);
  // The reply that will stand (or the cut one kept) came now over `transport`.
  void NoteReplied(const Slot& slot, ReplyTransport transport, std::uint64_t now);
  void Finish(Slot& slot, ExchangeFailure failure, std::optional<vbDNS::Packet> reply, std::size_t server);
  void Release(SendRecord& record);
  void ReleaseSends(Slot& slot);
  void Sweep();
  Slot* SlotOfStream(std::uint32_t stream);
  void NoteAnswer(std::size_t server, std::uint64_t rttMs, std::uint64_t now);
  void NoteUnanswered(std::size_t server, std::uint64_t now);
  void MoveOffIfSilent(std::size_t server, std::uint64_t now);
  bool Behind(std::size_t server) const;
  void Rank();

  const std::span<const vbDNS::DNSQuery> queries_;
  const std::span<const std::size_t> firsts_;
  const std::vector<CoreServer> servers_;
  std::vector<std::shared_ptr<ServerState>> states_;
  std::vector<bool> silentNoted_;
  std::vector<std::size_t> ranking_;
  std::vector<bool> behind_;
  bool rankingStale_ = true;
  const std::uint32_t timeoutMs_;
  const SendPlan plan_;
  const std::size_t window_;
  const std::uint64_t callStart_;
  RandomPool& random_;
  CoreTransport& transport_;
  std::vector<ExchangeOutcome> outcomes_;
  std::vector<std::size_t> ended_;
  std::vector<Slot> slots_;
  std::vector<std::size_t> free_;
  std::size_t next_ = 0;  // the next question to start
  std::size_t done_ = 0;
  std::size_t budget_ = 0;
  bool moreDue_ = false;
  bool firstTurn_ = true;
  std::uint64_t now_ = 0;  // the time of the latest event fed in
  std::unordered_map<std::uint32_t, UdpSocket> sockets_;
  struct Current {
    int Family;
    int Pool;  // 0: first sends, 1: resends
    std::uint32_t Socket;
  };
  std::vector<Current> current_;  // the socket in turn of each family and pool
  std::uint32_t nextSocket_ = 1;
  std::uint32_t nextStream_ = 1;
  // Encrypted servers whose connection ended in this call, and the sends
  // waiting on the encrypted ones: ticket -> slot and record.
  std::vector<bool> failed_;
  std::size_t failedCount_ = 0;
  bool untrusted_ = false;
  std::unordered_map<std::uint32_t, std::pair<std::uint32_t, std::uint8_t>> encrypted_;
  std::uint32_t nextTicket_ = 1;
};

}  // namespace vavizav::exchange
