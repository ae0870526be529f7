#include "engine.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <memory>

#include "distinct_questions.h"
#include "handles.h"
#include "message_pump.h"
#include "name_case.h"
#include "send_schedule.h"
#include "tcp_side.h"
#include "udp_side.h"
#include "winsock_startup.h"

namespace vavizav {
namespace {

// While datagrams keep the wait busy, the thread's messages are still
// dispatched at least this often.
constexpr ULONGLONG PUMP_INTERVAL_MS = 10;
// Once this call has seen its servers' round trip, a question's first resend
// comes after RTT_FACTOR times the smoothed round trip, at least
// MIN_FIRST_RESEND_MS, when that is sooner than the fixed schedule's: more
// tries inside the time-out when the servers are near and datagrams get lost,
// and no earlier than a slow (recursing) server may still be working.
constexpr ULONGLONG RTT_FACTOR = 4;
constexpr ULONGLONG MIN_FIRST_RESEND_MS = 200;

std::uint16_t Count16(vbDNS::PacketView packet, std::size_t at) {
  return static_cast<std::uint16_t>(packet[at] << 8 | packet[at + 1]);
}

// One send of a question: where it went and on which ticket; Live while a
// reply to it may still count.
struct SendRecord {
  UdpTicket Ticket;
  std::size_t Server = 0;
  bool Live = false;
};

// A question in flight.
struct Slot {
  bool Busy = false;
  std::size_t Question = 0;  // index of the distinct question
  vbDNS::DNSQuery Wire;      // as it goes out over UDP: the name's letters in random case
  std::array<SendRecord, MAX_SENDS> Sends{};
  std::size_t SentCount = 0;
  std::size_t Delivered = 0;
  SendPlan Plan;
  ULONGLONG Start = 0;
  ULONGLONG NextSend = 0;
  ULONGLONG Deadline = 0;
  std::unique_ptr<TcpAsk> Tcp;  // asked over TCP; no UDP reply counts any more
  std::size_t TcpServer = 0;
  std::optional<vbDNS::Packet> Truncated;  // the UDP reply with TC set, kept in case TCP fails
  bool MalformedSeen = false;
};

class Engine {
 public:
  Engine(std::span<const vbDNS::DNSQuery> queries, const std::vector<std::size_t>& firsts,
         std::vector<ServerEndpoint> servers, DWORD timeoutMs, unsigned window, ULONGLONG callStart)
      : queries_(queries), firsts_(firsts), servers_(std::move(servers)), timeoutMs_(timeoutMs),
        plan_(PlanSends(timeoutMs)), callStart_(callStart), results_(firsts.size()),
        slots_(std::min<std::size_t>(window, firsts.size())) {
    for (const ServerEndpoint& server : servers_) serverTexts_.push_back(EndpointText(server));
  }

  // One outcome per distinct question.
  std::vector<ExchangeOutcome> Run() {
    udp_.emplace(random_);
    pumping_ = true;
    lastPump_ = ::GetTickCount64();
    bool firstPass = true;
    bool lookedAtQueues = false;
    for (;;) {
      const ULONGLONG now = ::GetTickCount64();
      for (Slot& slot : slots_) Advance(slot, now);
      // The questions of the first pass count their time-out from the call,
      // as a single lookup always has; later ones from their own first send.
      Admit(firstPass ? callStart_ : now, now);
      firstPass = false;
      udp_->Sweep();
      if (Finished()) break;
      if (!udp_->Armed()) {
        // A near server has often answered by now: what is queued already is
        // read before the event, its selection and the wait are set up.
        if (!lookedAtQueues) {
          lookedAtQueues = true;
          udp_->ReadQueued(*this);
          continue;
        }
        // Auto-reset: the wait that reports a signal also clears it, and
        // whatever comes after that signals again.
        udpReadable_.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
        if (!udpReadable_ || !udp_->Arm(udpReadable_.get())) return EndAll(ExchangeFailure::TimedOut);
      }
      if (!WaitAndRead()) return EndAll(ExchangeFailure::TimedOut);
    }
    return std::move(results_);
  }

  // Called by UdpSide::Read: nothing more to read once every question ended.
  bool Finished() const { return done_ == results_.size(); }

  // Called by UdpSide::Read.
  void OnDatagram(std::uint32_t owner, const UdpTicket& ticket, const sockaddr_storage& from, vbDNS::PacketView reply) {
    Slot& slot = slots_[owner];
    if (!slot.Busy || slot.Tcp) return;
    const SendRecord* record = nullptr;
    for (std::size_t k = 0; k < slot.SentCount; ++k) {
      if (slot.Sends[k].Live && slot.Sends[k].Ticket == ticket) record = &slot.Sends[k];
    }
    if (!record || !IsEndpoint(from, servers_[record->Server])) return;
    const std::size_t server = record->Server;
    const vbDNS::DNSQuestion& question = slot.Wire.Question;
    if (!vbDNS::ReplyMatchesQuery(reply, ticket.Id, question)) {
      // From the server, with the ID: a reply that cannot be read up to the end
      // of its question is remembered, for the failure's reason.
      if (reply.size() < vbDNS::HEADER_SIZE ||
          ((reply[2] & vbDNS::FLAG_QR) && Count16(reply, 4) == 1 &&
           reply.size() < vbDNS::HEADER_SIZE + question.QName.size() + 4)) {
        slot.MalformedSeen = true;
      }
      return;
    }
    switch (QuestionEcho(reply, question.QName)) {
      case Echo::Exact:
        break;
      case Echo::Questionless:
        // Without a question nothing shows the case was kept: only a reply
        // with no answer to forge is taken so.
        if (Count16(reply, 6) != 0) return;
        break;
      case Echo::Folded:
        AskOverTcp(slot, server);
        return;
    }
    if (reply[2] & vbDNS::FLAG_TC) {
      slot.Truncated.emplace(reply.begin(), reply.end());
      AskOverTcp(slot, server);
      return;
    }
    // A round trip only from questions sent once: with resends out, nobody
    // knows which send the reply answers.
    if (slot.SentCount == 1) {
      const ULONGLONG sample = ::GetTickCount64() - slot.Start;
      smoothedRttMs_ = smoothedRttMs_ ? (7 * *smoothedRttMs_ + sample) / 8 : sample;
    }
    Finish(slot, ExchangeFailure::None, vbDNS::Packet(reply.begin(), reply.end()), server);
  }

  // An ICMP port unreachable on a socket: the questions whose latest send went
  // out on it send their next one at once rather than after the interval.
  void OnUnreachable(std::uint32_t owner, const UdpTicket& ticket) {
    Slot& slot = slots_[owner];
    if (slot.Busy && !slot.Tcp && slot.SentCount > 0 && slot.Sends[slot.SentCount - 1].Ticket == ticket) {
      slot.NextSend = 0;
    }
  }

 private:
  std::vector<ExchangeOutcome> EndAll(ExchangeFailure failure) {
    for (Slot& slot : slots_) {
      if (slot.Busy) Finish(slot, failure, std::nullopt, servers_.size());
    }
    while (next_ < results_.size()) results_[next_++].Failure = failure;
    return std::move(results_);
  }

  void Admit(ULONGLONG origin, ULONGLONG now) {
    for (std::size_t index = 0; index < slots_.size() && next_ < results_.size(); ++index) {
      Slot& slot = slots_[index];
      if (slot.Busy) continue;
      slot.Busy = true;
      slot.Question = next_++;
      slot.Wire = queries_[firsts_[slot.Question]];
      if (std::optional<vbDNS::WireName> mixed = MixCase(slot.Wire.Question.QName, random_)) {
        slot.Wire.Question.QName = *mixed;
      }
      slot.SentCount = slot.Delivered = 0;
      slot.Plan = plan_;
      if (smoothedRttMs_ && plan_.First > MIN_FIRST_RESEND_MS) {
        const ULONGLONG first = std::max(MIN_FIRST_RESEND_MS, RTT_FACTOR * *smoothedRttMs_);
        if (first < plan_.First) slot.Plan = PlanSends(timeoutMs_, first);
      }
      slot.Start = slot.NextSend = now;
      slot.Deadline = origin + timeoutMs_;
      slot.MalformedSeen = false;
      SendDue(slot, index, now);
    }
  }

  void Advance(Slot& slot, ULONGLONG now) {
    if (!slot.Busy) return;
    if (now >= slot.Deadline) {
      if (slot.Truncated) {
        Finish(slot, ExchangeFailure::TruncatedTcpFailed, std::move(slot.Truncated), slot.TcpServer);
      } else {
        Finish(slot, slot.MalformedSeen ? ExchangeFailure::Malformed : ExchangeFailure::TimedOut, std::nullopt,
               servers_.size());
      }
      return;
    }
    if (!slot.Tcp) SendDue(slot, static_cast<std::size_t>(&slot - slots_.data()), now);
  }

  // Every send of the question that is due now, each to the next server of
  // the list. A send that cannot be made lets the next one go at once; sends
  // that would fall after the deadline never go. A resend leaves from a
  // socket of its own: a fresh port, and out of reach of whatever floods the
  // socket its earlier send shared with other questions.
  void SendDue(Slot& slot, std::size_t index, ULONGLONG now) {
    while (slot.SentCount < slot.Plan.Count && now >= slot.NextSend) {
      const std::size_t server = slot.SentCount % servers_.size();
      SendRecord& record = slot.Sends[slot.SentCount++];
      record = SendRecord{{}, server, false};
      if (const std::optional<UdpTicket> ticket =
              udp_->Send(slot.Wire, servers_[server], static_cast<std::uint32_t>(index), slot.SentCount > 1)) {
        record.Ticket = *ticket;
        record.Live = true;
        ++slot.Delivered;
        slot.NextSend =
            slot.SentCount < slot.Plan.Count ? slot.Start + slot.Plan.Offset(slot.SentCount) : slot.Deadline;
      } else {
        slot.NextSend = now;
      }
    }
    if (slot.SentCount == slot.Plan.Count && slot.Delivered == 0) {
      Finish(slot, ExchangeFailure::NothingSent, std::nullopt, servers_.size());
    }
  }

  // The question again over TCP of `server` (RFC 7766), with the caller's
  // spelling: no UDP reply counts for it any more.
  void AskOverTcp(Slot& slot, std::size_t server) {
    ReleaseSends(slot);
    slot.TcpServer = server;
    const std::optional<std::uint16_t> id = random_.Next16();
    if (!id) return TcpFailed(slot);
    // Made at the first question that needs TCP; shared by every connection.
    if (!tcpReady_) tcpReady_.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!tcpReady_) return TcpFailed(slot);
    slot.Tcp = std::make_unique<TcpAsk>(tcpReady_.get(), queries_[firsts_[slot.Question]], *id, servers_[server]);
    ++tcpActive_;
    if (slot.Tcp->CurrentState() == TcpAsk::State::Failed) TcpFailed(slot);
  }

  void TcpFailed(Slot& slot) {
    if (slot.Truncated) {
      Finish(slot, ExchangeFailure::TruncatedTcpFailed, std::move(slot.Truncated), slot.TcpServer);
    } else {
      // A server that does not keep case and cannot be asked over TCP gives no
      // reply that can be trusted.
      Finish(slot, ExchangeFailure::TimedOut, std::nullopt, servers_.size());
    }
  }

  void AdvanceTcp() {
    for (Slot& slot : slots_) {
      if (!slot.Busy || !slot.Tcp) continue;
      switch (slot.Tcp->Advance()) {
        case TcpAsk::State::Pending:
          break;
        case TcpAsk::State::Answered:
          Finish(slot, ExchangeFailure::None, slot.Tcp->TakeReply(), slot.TcpServer);
          break;
        case TcpAsk::State::Failed:
          TcpFailed(slot);
          break;
      }
    }
  }

  void ReleaseSends(Slot& slot) {
    for (std::size_t k = 0; k < slot.SentCount; ++k) {
      if (slot.Sends[k].Live) udp_->Release(slot.Sends[k].Ticket);
      slot.Sends[k].Live = false;
    }
  }

  // `server` == servers_.size(): none to name.
  void Finish(Slot& slot, ExchangeFailure failure, std::optional<vbDNS::Packet> reply, std::size_t server) {
    ExchangeOutcome& outcome = results_[slot.Question];
    outcome.Failure = failure;
    outcome.Reply = std::move(reply);
    if (server < serverTexts_.size()) outcome.Server = serverTexts_[server];
    ReleaseSends(slot);
    if (slot.Tcp) {
      slot.Tcp.reset();
      --tcpActive_;
    }
    slot.Truncated.reset();
    slot.Busy = false;
    ++done_;
  }

  ULONGLONG Earliest() const {
    ULONGLONG until = ULLONG_MAX;
    for (const Slot& slot : slots_) {
      if (!slot.Busy) continue;
      until = std::min(until, slot.Deadline);
      if (!slot.Tcp && slot.SentCount < slot.Plan.Count) until = std::min(until, slot.NextSend);
    }
    return until;
  }

  // Sleeps until a socket has something, the next send or deadline is due, or
  // (once per pass) the thread's messages were dispatched; then reads. With no
  // time left the events are still looked at once, so that what arrived while
  // a nested call kept this wait from running is not lost. false when the wait
  // itself fails.
  bool WaitAndRead() {
    const ULONGLONG until = Earliest();
    const HANDLE events[] = {udpReadable_.get(), tcpReady_.get()};
    const DWORD count = tcpReady_ ? 2 : 1;
    for (;;) {
      const ULONGLONG now = ::GetTickCount64();
      const DWORD remaining = now >= until ? 0 : static_cast<DWORD>(std::min<ULONGLONG>(until - now, INFINITE - 1));
      const bool withMessages = pumping_ && remaining > 0;
      const DWORD woken = withMessages ? ::MsgWaitForMultipleObjectsEx(count, events, remaining, QS_ALLINPUT,
                                                                       MWMO_INPUTAVAILABLE)
                                       : ::WaitForMultipleObjects(count, events, FALSE, remaining);
      if (woken == WAIT_OBJECT_0) {
        // A bounded read per socket; when one may hold more, the event is set
        // again so that the next wait comes straight back after the deadlines
        // and the messages had their turn.
        if (udp_->Read(*this)) ::SetEvent(udpReadable_.get());
        // A stream of datagrams keeps the first event signalled; a connection's
        // signal must not wait for it to end.
        if (tcpActive_ > 0 && ::WaitForSingleObject(tcpReady_.get(), 0) == WAIT_OBJECT_0) AdvanceTcp();
      } else if (count == 2 && woken == WAIT_OBJECT_0 + 1) {
        AdvanceTcp();
      } else if (withMessages && woken == WAIT_OBJECT_0 + count) {
        Pump();
        continue;
      } else if (woken != WAIT_TIMEOUT) {
        return false;
      }
      if (pumping_ && woken != WAIT_TIMEOUT && ::GetTickCount64() - lastPump_ >= PUMP_INTERVAL_MS) Pump();
      return true;
    }
  }

  void Pump() {
    lastPump_ = ::GetTickCount64();
    // A WM_QUIT belongs to the thread's own loop: it was put back, and taking
    // it off again at once would spin.
    if (PumpMessages() == PumpResult::Quit) pumping_ = false;
  }

  const std::span<const vbDNS::DNSQuery> queries_;
  const std::vector<std::size_t>& firsts_;  // the first query of each distinct question
  const std::vector<ServerEndpoint> servers_;
  std::vector<std::wstring> serverTexts_;
  const DWORD timeoutMs_;
  const SendPlan plan_;
  const ULONGLONG callStart_;
  std::vector<ExchangeOutcome> results_;
  std::vector<Slot> slots_;
  std::size_t next_ = 0;  // the next distinct question to admit
  std::size_t done_ = 0;
  std::size_t tcpActive_ = 0;
  std::optional<ULONGLONG> smoothedRttMs_;
  RandomPool random_;
  unique_handle udpReadable_;
  unique_handle tcpReady_;
  std::optional<UdpSide> udp_;
  bool pumping_ = true;
  ULONGLONG lastPump_ = 0;
};

std::vector<ExchangeOutcome> AllFailed(std::size_t count, ExchangeFailure failure) {
  return std::vector<ExchangeOutcome>(count, ExchangeOutcome{failure, std::nullopt, {}});
}

}  // namespace

std::vector<ExchangeOutcome> ExchangeMany(std::span<const vbDNS::DNSQuery> queries, const EngineSettings& settings) {
  const ULONGLONG start = ::GetTickCount64();
  if (queries.empty()) return {};
  if (queries.size() > MAX_QUESTIONS_PER_CALL || !EnsureWinsock()) {
    return AllFailed(queries.size(), ExchangeFailure::NothingSent);
  }
  // Every entry is resolved before the first send (a host name through the
  // system, inside the time-out); those that cannot be used drop out.
  std::vector<ServerEndpoint> servers = ResolveServerList(settings.Servers, start + settings.TimeoutMs);
  if (servers.empty()) return AllFailed(queries.size(), ExchangeFailure::NoUsableServer);

  const DistinctQuestions distinct = FindDistinct(queries);
  const unsigned window = std::clamp(settings.MaxInFlight, 1u, MAX_IN_FLIGHT);
  return HandOut(queries, distinct,
                 Engine(queries, distinct.Firsts, std::move(servers), settings.TimeoutMs, window, start).Run());
}

}  // namespace vavizav
