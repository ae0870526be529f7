#include "exchange/core/exchange_core.h"

#include <algorithm>
#include <climits>

namespace vavizav::exchange {
namespace {
constexpr std::uint8_t RCODE_FORMERR = 1;
constexpr std::uint8_t RCODE_NOTIMP = 4;
}  // namespace

ExchangeCore::ExchangeCore(std::span<const vbDNS::DNSQuery> queries, std::span<const std::size_t> firsts,
                           std::vector<CoreServer> servers, std::uint32_t timeoutMs, unsigned window,
                           ServerMemory& memory, RandomPool& random, CoreTransport& transport,
                           std::uint64_t callStart)
    : queries_(queries), firsts_(firsts), servers_(std::move(servers)), timeoutMs_(timeoutMs),
      plan_(PlanSends(timeoutMs)), window_(std::clamp<std::size_t>(window, 1, MAX_IN_FLIGHT)), callStart_(callStart),
      random_(random), transport_(transport), outcomes_(firsts.size()),
      slots_(std::min(window_, firsts.size())) {
  for (const CoreServer& server : servers_) states_.push_back(memory.For(server.Text));
  silentNoted_.assign(servers_.size(), false);
  failed_.assign(servers_.size(), false);
  now_ = callStart;
  for (std::size_t i = slots_.size(); i-- > 0;) free_.push_back(i);
  if (servers_.empty()) {
    for (ExchangeOutcome& outcome : outcomes_) {
      outcome.Failure = ExchangeFailure::NoUsableServer;
      outcome.EndedAt = callStart;
    }
    done_ = next_ = outcomes_.size();
  }
}

// A server is behind when it left questions unanswered since its last reply
// while another answered after that and has left none since: a silent server
// goes to the back as soon as another answers where it does not, and a reply
// (to a probe, or to a resend that reached it) brings it back. A server with
// a miss of its own is never put behind one that was never heard.
bool ExchangeCore::Behind(std::size_t server) const {
  const ServerState& state = *states_[server];
  if (state.Unanswered == 0) return false;
  return std::any_of(states_.begin(), states_.end(), [&](const auto& other) {
    return other.get() != &state && other->Unanswered == 0 && other->LastAnswer &&
           (!state.LastAnswer || *other->LastAnswer > *state.LastAnswer);
  });
}

// The servers in list order, those behind last (fewer misses first).
void ExchangeCore::Rank() {
  if (!rankingStale_) return;
  rankingStale_ = false;
  ranking_.resize(servers_.size());
  behind_.assign(servers_.size(), false);
  for (std::size_t i = 0; i < ranking_.size(); ++i) {
    ranking_[i] = i;
    behind_[i] = Behind(i);
  }
  std::stable_sort(ranking_.begin(), ranking_.end(), [this](std::size_t a, std::size_t b) {
    if (behind_[a] != behind_[b]) return !behind_[a];
    return behind_[a] && states_[a]->Unanswered < states_[b]->Unanswered;
  });
}

void ExchangeCore::NoteAnswer(std::size_t server, std::uint64_t rttMs, std::uint64_t now) {
  ServerState& state = *states_[server];
  if (state.Unanswered != 0) rankingStale_ = true;
  state.Unanswered = 0;
  state.LastAnswer = now;
  // Each send has an ID and a socket of its own: the reply says which send it
  // answers, so every reply is a sample, resends or not.
  state.SmoothedRttMs = state.SmoothedRttMs ? (7 * *state.SmoothedRttMs + rttMs) / 8 : rttMs;
  silentNoted_[server] = false;
  for (std::size_t other = 0; other < states_.size(); ++other) {
    if (other != server && states_[other]->Unanswered != 0) {
      rankingStale_ = true;
      MoveOffIfSilent(other, now);
    }
  }
}

void ExchangeCore::NoteUnanswered(std::size_t server, std::uint64_t now) {
  ServerState& state = *states_[server];
  ++state.Unanswered;
  rankingStale_ = true;
  MoveOffIfSilent(server, now);
}

// Once another server answers where this one does not, it is known silent:
// the questions waiting on it go on to the next server now, not after their
// interval.
void ExchangeCore::MoveOffIfSilent(std::size_t server, std::uint64_t now) {
  if (silentNoted_[server] || !Behind(server)) return;
  silentNoted_[server] = true;
  for (Slot& slot : slots_) {
    if (!slot.Busy || slot.Streaming || slot.Planned == 0 || slot.Planned >= slot.Plan.Count) continue;
    const SendRecord& latest = slot.Sends[slot.LastPlanned];
    if (latest.Live && latest.Server == server) slot.NextSend = std::min(slot.NextSend, now);
  }
}

void ExchangeCore::Advance(std::uint64_t now) {
  now_ = now;
  budget_ = SENDS_PER_TURN;
  moreDue_ = false;
  for (Slot& slot : slots_) {
    if (!slot.Busy) continue;
    if (now >= slot.Deadline) {
      Expire(slot);
    } else if (slot.Streaming) {
      if (slot.StreamForCase && now >= slot.StreamDeadline) StreamFailed(slot, now);
    } else {
      SendDue(slot, now);
    }
  }
  Admit(now);
  firstTurn_ = false;
  Sweep();
}

void ExchangeCore::Admit(std::uint64_t now) {
  while (!free_.empty() && next_ < outcomes_.size()) {
    if (budget_ == 0) {
      moreDue_ = true;
      return;
    }
    const std::size_t index = free_.back();
    free_.pop_back();
    Slot& slot = slots_[index];
    slot.Busy = true;
    slot.Question = next_++;
    slot.Wire = Asked(slot);
    if (std::optional<vbDNS::WireName> mixed = MixCase(slot.Wire.Question.QName, random_)) {
      slot.Wire.Question.QName = *mixed;
    }
    slot.Records = slot.Planned = slot.Delivered = slot.LastPlanned = 0;
    slot.Tried = 0;
    slot.Streaming = false;
    slot.Truncated.reset();
    slot.Malformed = false;
    Rank();
    slot.Plan = plan_;
    const ServerState& first = *states_[ranking_.front()];
    // Under a full window a reply waits behind the others to be read: a
    // round trip measured alone would call for resends of questions whose
    // replies are only queued.
    const std::size_t inFlight = slots_.size() - free_.size();
    if (first.SmoothedRttMs && plan_.First > MIN_FIRST_RESEND_MS && inFlight <= RTT_LOAD_LIMIT) {
      const std::uint64_t interval = std::max(MIN_FIRST_RESEND_MS, RTT_FACTOR * *first.SmoothedRttMs);
      if (interval < plan_.First) slot.Plan = PlanSends(timeoutMs_, interval);
    }
    slot.Start = slot.NextSend = now;
    // The questions of the first turn count their time-out from the call, as
    // a single lookup always has (the servers' names were resolved in it);
    // later ones from their own first send.
    slot.Deadline = (firstTurn_ ? callStart_ : now) + timeoutMs_;
    SendDue(slot, now);
    if (slot.Busy) Probe(slot, now);
  }
}

// Every send of the plan that is due now, each to the next server of the
// ranking this question has not asked in this round. A send that cannot be
// made lets the next one go at once; sends that would fall after the deadline
// never go. A resend leaves from a socket of its own: a fresh port, and out of
// reach of whatever floods the socket its earlier send shared.
void ExchangeCore::SendDue(Slot& slot, std::uint64_t now) {
  if (AllFailed()) return Finish(slot, FailureOnceAllFailed(slot), std::nullopt, servers_.size());
  while (slot.Planned < slot.Plan.Count && now >= slot.NextSend) {
    if (budget_ == 0 || slot.Records == MAX_RECORDS) {
      moreDue_ = budget_ == 0;
      return;
    }
    --budget_;
    if (slot.Planned > 0) {
      // The interval passed without a reply from the latest send's server.
      SendRecord& previous = slot.Sends[slot.LastPlanned];
      if (!previous.Counted) {
        previous.Counted = true;
        NoteUnanswered(previous.Server, now);
      }
    }
    SendWay way = SendWay::First;
    if (slot.Planned > 0) {
      const auto earlier = sockets_.find(slot.Sends[slot.LastPlanned].Socket);
      way = earlier != sockets_.end() && earlier->second.Strays > 0 ? SendWay::Alone : SendWay::Resend;
    }
    const std::size_t server = PickServer(slot);
    const std::size_t record = slot.Records++;
    slot.Sends[record] = SendRecord{0, 0, server, now, false, !states_[server]->FoldsCase, false, false,
                                    WithEdns(slot, server)};
    slot.LastPlanned = record;
    ++slot.Planned;
    if (SendOn(slot, record, way)) {
      ++slot.Delivered;
      slot.NextSend = slot.Planned < slot.Plan.Count ? slot.Start + slot.Plan.Offset(slot.Planned) : slot.Deadline;
    } else {
      slot.Sends[record].Counted = true;
      slot.NextSend = now;
    }
  }
  if (slot.Planned == slot.Plan.Count && slot.Delivered == 0) {
    Finish(slot, ExchangeFailure::NothingSent, std::nullopt, servers_.size());
  }
}

// Servers whose encrypted connection failed in this call are passed over
// (SendDue makes sure one is left).
std::size_t ExchangeCore::PickServer(Slot& slot) {
  Rank();
  const std::size_t count = servers_.size();
  if (count > 64) {
    for (std::size_t k = 0; k < count; ++k) {
      const std::size_t server = ranking_[(slot.Planned + k) % count];
      if (!failed_[server]) return server;
    }
    return ranking_.front();
  }
  const std::uint64_t all = count == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << count) - 1;
  std::uint64_t failed = 0;
  for (std::size_t server = 0; server < count; ++server) {
    if (failed_[server]) failed |= std::uint64_t{1} << server;
  }
  if (((slot.Tried | failed) & all) == all) slot.Tried = 0;
  for (const std::size_t server : ranking_) {
    const std::uint64_t bit = std::uint64_t{1} << server;
    if (!((slot.Tried | failed) & bit)) {
      slot.Tried |= bit;
      return server;
    }
  }
  return ranking_.front();
}

// A server ranked behind for silence gets this question's first send too,
// at most once per PROBE_INTERVAL_MS: a reply shows it back.
void ExchangeCore::Probe(Slot& slot, std::uint64_t now) {
  if (servers_.size() < 2 || slot.Records == MAX_RECORDS || budget_ == 0) return;
  for (std::size_t rank = 1; rank < ranking_.size(); ++rank) {
    const std::size_t server = ranking_[rank];
    ServerState& state = *states_[server];
    if (!behind_[server] || failed_[server]) continue;
    if (state.LastProbe && now - *state.LastProbe < PROBE_INTERVAL_MS) continue;
    state.LastProbe = now;
    --budget_;
    const std::size_t record = slot.Records++;
    slot.Sends[record] = SendRecord{0, 0, server, now, false, !state.FoldsCase, false, true, WithEdns(slot, server)};
    SendOn(slot, record, SendWay::Resend);
    return;
  }
}

bool ExchangeCore::SendOn(Slot& slot, std::size_t record, SendWay way) {
  SendRecord& send = slot.Sends[record];
  if (servers_[send.Server].Encrypted) return SendEncryptedOn(slot, record);
  const int family = servers_[send.Server].Family;
  // First sends share the socket in turn; resends share another, so that a
  // resend never leaves from the port of the send it repeats. A resend whose
  // earlier send's socket took strays (a flood, most likely) leaves from a
  // socket of its own, out of reach of whatever floods the shared ones.
  std::uint32_t serial = 0;
  UdpSocket* socket = nullptr;
  const int pool = way == SendWay::First ? 0 : 1;
  if (way != SendWay::Alone) {
    for (const Current& current : current_) {
      if (current.Family != family || current.Pool != pool) continue;
      const auto it = sockets_.find(current.Socket);
      if (it != sockets_.end() && !it->second.Retired) {
        serial = current.Socket;
        socket = &it->second;
      }
    }
  }
  if (!socket) {
    serial = nextSocket_++;
    socket = &sockets_[serial];
    socket->Family = family;
    if (way == SendWay::Alone) {
      socket->Retired = true;
    } else {
      std::erase_if(current_, [&](const Current& c) { return c.Family == family && c.Pool == pool; });
      current_.push_back({family, pool, serial});
    }
  }
  // A fresh unpredictable ID (RFC 5452 section 9.2), none that this socket
  // has carried before: at most 100 to avoid, so a few draws at most.
  std::optional<std::uint16_t> id;
  const auto begin = socket->Queries.begin();
  const auto end = begin + socket->Used;
  for (int draw = 0; draw < 16 && !id; ++draw) {
    id = random_.Next16();
    if (!id) return false;
    if (std::any_of(begin, end, [&](const Carried& c) { return c.Id == *id; })) id.reset();
  }
  if (!id) return false;
  vbDNS::QueryDatagram datagram;
  const vbDNS::DNSQuery& query = send.Mixed ? slot.Wire : Asked(slot);
  std::size_t size = 0;
  if (send.Edns || query.EdnsUdpSize == 0) {
    size = vbDNS::EncodeQuery(query, *id, datagram);
  } else {
    vbDNS::DNSQuery plain = query;
    plain.EdnsUdpSize = 0;
    size = vbDNS::EncodeQuery(plain, *id, datagram);
  }
  if (size == 0) return false;
  // The place is used whether or not the send goes: a socket's life counts sends.
  Carried& carried = socket->Queries[socket->Used++];
  if (socket->Used == QUERIES_PER_SOCKET) socket->Retired = true;
  carried = Carried{*id, false, static_cast<std::uint32_t>(&slot - slots_.data()), static_cast<std::uint8_t>(record)};
  if (!transport_.SendDatagram(serial, family, send.Server, vbDNS::PacketView(datagram.data(), size))) return false;
  carried.Live = true;
  ++socket->Live;
  send.Socket = serial;
  send.Id = *id;
  send.Live = true;
  return true;
}

// A send to an encrypted server: the question as the caller spelt it (with
// its OPT record when the server takes it), on the shell's connection.
bool ExchangeCore::SendEncryptedOn(Slot& slot, std::size_t record) {
  SendRecord& send = slot.Sends[record];
  if (failed_[send.Server]) return false;
  send.Mixed = false;
  vbDNS::DNSQuery query = Asked(slot);
  if (!send.Edns) query.EdnsUdpSize = 0;
  const std::uint32_t ticket = nextTicket_++;
  if (!transport_.SendEncrypted(ticket, send.Server, query)) return false;
  send.Encrypted = true;
  send.Ticket = ticket;
  send.Live = true;
  encrypted_[ticket] = {static_cast<std::uint32_t>(&slot - slots_.data()), static_cast<std::uint8_t>(record)};
  return true;
}

void ExchangeCore::OnEncryptedReply(std::uint64_t now, std::uint32_t ticket, vbDNS::PacketView reply) {
  now_ = now;
  const auto found = encrypted_.find(ticket);
  if (found == encrypted_.end()) return;
  Slot& slot = slots_[found->second.first];
  SendRecord& record = slot.Sends[found->second.second];
  if (!slot.Busy || !record.Live || !record.Encrypted || record.Ticket != ticket) return;
  const std::size_t server = record.Server;
  // The shell matched the connection's ID; the question is checked as ever,
  // its case not (it went as the caller spelt it).
  const std::optional<std::uint16_t> id = vbDNS::ReplyId(reply);
  const vbDNS::ReplyCheck check = vbDNS::CheckReply(reply, id.value_or(0), Asked(slot).Question);
  if (check.Fit == vbDNS::ReplyFit::Unreadable) {
    slot.Malformed = true;
    return;
  }
  if (check.Fit != vbDNS::ReplyFit::Matches) return;
  NoteAnswer(server, now - record.At, now);
  if (record.Edns && vbDNS::ReplyOpt(reply) == vbDNS::OptPresence::Absent) {
    states_[server]->NoEdns = true;
    if (check.RCode == RCODE_FORMERR || check.RCode == RCODE_NOTIMP) return SendAlone(slot, server, false, now);
  }
  NoteReplied(slot, ReplyTransport::Encrypted, now);
  // A stream has no size limit to cut at: a reply with TC set is taken as
  // it is, never asked again in the clear.
  Finish(slot, ExchangeFailure::None, vbDNS::Packet(reply.begin(), reply.end()), server);
}

void ExchangeCore::OnEncryptedFailed(std::uint64_t now, std::size_t server, bool untrusted) {
  now_ = now;
  if (server >= servers_.size() || failed_[server]) return;
  failed_[server] = true;
  ++failedCount_;
  untrusted_ = untrusted_ || untrusted;
  for (Slot& slot : slots_) {
    if (!slot.Busy) continue;
    if (AllFailed()) {
      Finish(slot, FailureOnceAllFailed(slot), std::nullopt, servers_.size());
      continue;
    }
    bool waited = false;
    for (std::size_t k = 0; k < slot.Records; ++k) {
      SendRecord& record = slot.Sends[k];
      if (record.Live && record.Encrypted && record.Server == server) {
        Release(record);
        waited = waited || k == slot.LastPlanned;
      }
    }
    // The plan's next send goes to another server now; with the plan spent,
    // one more send to another server.
    if (!waited) continue;
    if (slot.Planned < slot.Plan.Count) {
      slot.NextSend = std::min(slot.NextSend, now);
    } else {
      const std::size_t next = PickServer(slot);
      SendAlone(slot, next, !states_[next]->FoldsCase, now);
    }
  }
}

// Every server's encrypted connection failed: a certificate that failed is
// the reason given, else the question was never answered.
ExchangeFailure ExchangeCore::FailureOnceAllFailed(const Slot& slot) const {
  if (untrusted_) return ExchangeFailure::Untrusted;
  if (slot.Malformed) return ExchangeFailure::Malformed;
  return slot.Delivered == 0 ? ExchangeFailure::NothingSent : ExchangeFailure::TimedOut;
}

void ExchangeCore::OnDatagram(std::uint64_t now, std::uint32_t socketSerial, std::size_t from,
                              vbDNS::PacketView datagram) {
  now_ = now;
  const auto found = sockets_.find(socketSerial);
  if (found == sockets_.end()) return;
  UdpSocket& socket = found->second;
  const std::optional<std::uint16_t> id = vbDNS::ReplyId(datagram);
  const Carried* carried = nullptr;
  if (id) {
    for (unsigned i = 0; i < socket.Used && !carried; ++i) {
      if (socket.Queries[i].Live && socket.Queries[i].Id == *id) carried = &socket.Queries[i];
    }
  }
  if (!carried) {
    if (++socket.Strays >= STRAYS_BEFORE_RETIRING) socket.Retired = true;
    return;
  }
  Slot& slot = slots_[carried->Owner];
  SendRecord& record = slot.Sends[carried->Record];
  if (!slot.Busy || slot.Streaming || !record.Live || record.Socket != socketSerial || record.Id != *id) return;
  // Only from the server, address and port, the query went to.
  if (from != record.Server) return;
  const std::size_t server = record.Server;
  const vbDNS::DNSQuestion& sent = record.Mixed ? slot.Wire.Question : Asked(slot).Question;
  const vbDNS::ReplyCheck check = vbDNS::CheckReply(datagram, *id, sent);
  if (check.Fit == vbDNS::ReplyFit::Unreadable) {
    // From the server, with the ID, but not readable up to the end of its
    // question: remembered, for the failure's reason.
    slot.Malformed = true;
    return;
  }
  if (check.Fit != vbDNS::ReplyFit::Matches) return;
  switch (check.Echo) {
    case vbDNS::NameEcho::Exact:
      break;
    case vbDNS::NameEcho::Absent:
      // Without a question nothing shows the case was kept: only a reply
      // with no answer to forge is taken so.
      if (check.Header.ANCount != 0) return;
      break;
    case vbDNS::NameEcho::Folded:
      // Asked in the caller's spelling of a server known to fold: taken.
      if (!record.Mixed) break;
      // A server that does not keep case, or a forger: the question goes to
      // that server over TCP, or, once it is known to fold, in the caller's
      // spelling over UDP.
      NoteAnswer(server, now - record.At, now);
      if (states_[server]->FoldsCase) CaseFallback(slot, server, now);
      else AskOverStream(slot, server, true, now);
      return;
  }
  NoteAnswer(server, now - record.At, now);
  if (record.Edns && vbDNS::ReplyOpt(datagram) == vbDNS::OptPresence::Absent) {
    // A server that does not know EDNS (RFC 6891 section 7): its errors
    // about the OPT record are no verdict on the question, asked again
    // without it; its other replies are what it would have said without.
    states_[server]->NoEdns = true;
    if (check.RCode == RCODE_FORMERR || check.RCode == RCODE_NOTIMP) return SendAlone(slot, server, record.Mixed, now);
  }
  vbDNS::Packet reply(datagram.begin(), datagram.end());
  vbDNS::RespellReply(reply, sent.QName, Asked(slot).Question.QName);
  NoteReplied(slot, ReplyTransport::Udp, now);
  if (check.Truncated) {
    slot.Truncated = std::move(reply);
    slot.TruncatedServer = server;
    AskOverStream(slot, server, false, now);
    return;
  }
  Finish(slot, ExchangeFailure::None, std::move(reply), server);
}

void ExchangeCore::OnUnreachable(std::uint64_t now, std::uint32_t socketSerial) {
  now_ = now;
  const auto found = sockets_.find(socketSerial);
  if (found == sockets_.end()) return;
  // The questions whose latest send went out on it send their next one at
  // once rather than after the interval.
  for (unsigned i = 0; i < found->second.Used; ++i) {
    const Carried& carried = found->second.Queries[i];
    if (!carried.Live) continue;
    Slot& slot = slots_[carried.Owner];
    if (slot.Busy && !slot.Streaming && slot.Planned > 0 && slot.LastPlanned == carried.Record) {
      slot.NextSend = std::min(slot.NextSend, now);
    }
  }
}

// The question again over TCP of `server` (RFC 7766), in the caller's
// spelling: no UDP reply counts for it any more. After a folded echo the
// stream has half the time left; after TC, all of it.
void ExchangeCore::AskOverStream(Slot& slot, std::size_t server, bool forCase, std::uint64_t now) {
  ReleaseSends(slot);
  slot.Streaming = true;
  slot.StreamForCase = forCase;
  slot.Stream = nextStream_++;
  slot.StreamServer = server;
  slot.StreamStart = now;
  slot.StreamDeadline = forCase ? now + (slot.Deadline - now) / 2 : slot.Deadline;
  slot.In = vbDNS::StreamMessage();
  const std::optional<std::uint16_t> id = random_.Next16();
  vbDNS::StreamQuery octets;
  vbDNS::DNSQuery query = Asked(slot);
  if (!WithEdns(slot, server)) query.EdnsUdpSize = 0;
  const std::size_t size = id ? vbDNS::EncodeStreamQuery(query, *id, octets) : 0;
  slot.StreamId = id.value_or(0);
  if (size == 0 || !transport_.OpenStream(slot.Stream, server, vbDNS::PacketView(octets.data(), size))) {
    StreamFailed(slot, now);
  }
}

void ExchangeCore::StreamFailed(Slot& slot, std::uint64_t now) {
  transport_.CloseStream(slot.Stream);
  slot.Streaming = false;
  if (slot.Truncated) {
    Finish(slot, ExchangeFailure::TruncatedTcpFailed, std::move(slot.Truncated), slot.TruncatedServer);
    return;
  }
  // A server that folds case and takes no TCP: asked in the caller's
  // spelling, its folded echo taken from now on.
  states_[slot.StreamServer]->FoldsCase = true;
  CaseFallback(slot, slot.StreamServer, now);
}

// The question over UDP to `server` in the caller's spelling, at once, from a
// socket of its own; ID, port and question are checked as ever, only the
// case of the echo is not. The plan's resends go on after it.
void ExchangeCore::CaseFallback(Slot& slot, std::size_t server, std::uint64_t now) {
  SendAlone(slot, server, false, now);
}

// The question to `server` at once, from a socket of its own, as the server
// is now known to take it (its case, EDNS); earlier sends no longer count.
void ExchangeCore::SendAlone(Slot& slot, std::size_t server, bool mixed, std::uint64_t now) {
  ReleaseSends(slot);
  if (slot.Records == MAX_RECORDS) return;
  const std::size_t record = slot.Records++;
  slot.Sends[record] = SendRecord{0, 0, server, now, false, mixed, true, false, WithEdns(slot, server)};
  if (!SendOn(slot, record, SendWay::Alone)) return;
  ++slot.Delivered;
  // The plan's next send, overdue while the stream was tried, waits a first
  // interval for this one's reply.
  slot.NextSend = std::max(slot.NextSend, now + slot.Plan.First);
}

bool ExchangeCore::WithEdns(const Slot& slot, std::size_t server) const {
  return slot.Wire.EdnsUdpSize != 0 && !states_[server]->NoEdns;
}

void ExchangeCore::OnStreamData(std::uint64_t now, std::uint32_t stream, vbDNS::PacketView octets) {
  now_ = now;
  Slot* slot = SlotOfStream(stream);
  if (!slot) return;
  slot->In.Feed(octets);
  if (slot->In.Refused()) return StreamFailed(*slot, now);
  if (!slot->In.Complete()) return;
  vbDNS::Packet reply = slot->In.TakeMessage();
  // Nobody off the path can write into the stream: ID and question are
  // checked, the name's case is not.
  const vbDNS::ReplyCheck check = vbDNS::CheckReply(reply, slot->StreamId, Asked(*slot).Question);
  if (check.Fit != vbDNS::ReplyFit::Matches) return StreamFailed(*slot, now);
  const std::size_t server = slot->StreamServer;
  NoteAnswer(server, now - slot->StreamStart, now);
  if (slot->StreamForCase) states_[server]->FoldsCase = true;
  vbDNS::RespellReply(reply, Asked(*slot).Question.QName, Asked(*slot).Question.QName);
  NoteReplied(*slot, ReplyTransport::Tcp, now);
  Finish(*slot, ExchangeFailure::None, std::move(reply), server);
}

void ExchangeCore::OnStreamEnded(std::uint64_t now, std::uint32_t stream) {
  now_ = now;
  if (Slot* slot = SlotOfStream(stream)) StreamFailed(*slot, now);
}

ExchangeCore::Slot* ExchangeCore::SlotOfStream(std::uint32_t stream) {
  for (Slot& slot : slots_) {
    if (slot.Busy && slot.Streaming && slot.Stream == stream) return &slot;
  }
  return nullptr;
}

void ExchangeCore::Expire(Slot& slot) {
  for (std::size_t k = 0; k < slot.Records; ++k) {
    SendRecord& record = slot.Sends[k];
    if (record.Live && !record.Counted && !record.Probe) {
      record.Counted = true;
      NoteUnanswered(record.Server, slot.Deadline);
    }
  }
  if (slot.Truncated) {
    Finish(slot, ExchangeFailure::TruncatedTcpFailed, std::move(slot.Truncated), slot.TruncatedServer);
  } else {
    Finish(slot, slot.Malformed ? ExchangeFailure::Malformed : ExchangeFailure::TimedOut, std::nullopt,
           servers_.size());
  }
}

void ExchangeCore::Release(SendRecord& record) {
  if (!record.Live) return;
  record.Live = false;
  if (record.Encrypted) {
    encrypted_.erase(record.Ticket);
    transport_.ForgetEncrypted(record.Ticket, record.Server);
    return;
  }
  const auto found = sockets_.find(record.Socket);
  if (found == sockets_.end()) return;
  UdpSocket& socket = found->second;
  for (unsigned i = 0; i < socket.Used; ++i) {
    Carried& carried = socket.Queries[i];
    if (carried.Live && carried.Id == record.Id) {
      carried.Live = false;
      --socket.Live;
      return;
    }
  }
}

void ExchangeCore::ReleaseSends(Slot& slot) {
  for (std::size_t k = 0; k < slot.Records; ++k) Release(slot.Sends[k]);
}

// `server` == servers_.size(): none to name.
void ExchangeCore::NoteReplied(const Slot& slot, ReplyTransport transport, std::uint64_t now) {
  ExchangeOutcome& outcome = outcomes_[slot.Question];
  outcome.Transport = transport;
  outcome.ElapsedMs = now - slot.Start;
}

void ExchangeCore::Finish(Slot& slot, ExchangeFailure failure, std::optional<vbDNS::Packet> reply,
                          std::size_t server) {
  ExchangeOutcome& outcome = outcomes_[slot.Question];
  outcome.Failure = failure;
  if (!reply) outcome.Transport = ReplyTransport::None;
  outcome.Reply = std::move(reply);
  outcome.EndedAt = now_;
  if (server < servers_.size()) outcome.Server = servers_[server].Text;
  ReleaseSends(slot);
  if (slot.Streaming) {
    transport_.CloseStream(slot.Stream);
    slot.Streaming = false;
  }
  slot.Truncated.reset();
  slot.Busy = false;
  free_.push_back(static_cast<std::size_t>(&slot - slots_.data()));
  ended_.push_back(slot.Question);
  ++done_;
}

void ExchangeCore::Sweep() {
  for (auto it = sockets_.begin(); it != sockets_.end();) {
    if (it->second.Retired && it->second.Live == 0) {
      transport_.CloseSocket(it->first);
      it = sockets_.erase(it);
    } else {
      ++it;
    }
  }
}

std::optional<std::uint64_t> ExchangeCore::NextDeadline() const {
  if (Finished()) return std::nullopt;
  if (moreDue_ || (!free_.empty() && next_ < outcomes_.size())) return 0;
  std::uint64_t until = UINT64_MAX;
  for (const Slot& slot : slots_) {
    if (!slot.Busy) continue;
    until = std::min(until, slot.Deadline);
    if (slot.Streaming) {
      if (slot.StreamForCase) until = std::min(until, slot.StreamDeadline);
    } else if (slot.Planned < slot.Plan.Count) {
      until = std::min(until, slot.NextSend);
    }
  }
  return until;
}

std::vector<ExchangeOutcome> ExchangeCore::TakeOutcomes(ExchangeFailure failure) {
  for (Slot& slot : slots_) {
    if (slot.Busy) Finish(slot, failure, std::nullopt, servers_.size());
  }
  while (next_ < outcomes_.size()) outcomes_[next_++].Failure = failure;
  for (auto& [serial, socket] : sockets_) transport_.CloseSocket(serial);
  sockets_.clear();
  return std::move(outcomes_);
}

}  // namespace vavizav::exchange
