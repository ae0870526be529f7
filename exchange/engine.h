// The exchange engine on Windows: the shell around the exchange's core
// (core/exchange_core.h). It owns the sockets, the one wait and the thread's
// message pump; the core decides what goes out, when, and what counts.
#pragma once

#include <windows.h>

#include <memory>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "codec/vbdns.h"
#include "exchange/core/outcome.h"
#include "exchange/core/server_memory.h"

namespace vavizav::exchange {

// DNS over TLS connections kept between an object's calls (dot_pool.h). Only
// named here: the TLS headers bring Windows' security headers, whose logon
// type "Batch" would clash with the type library's class of that name.
class DotPool;
std::shared_ptr<DotPool> NewConnectionPool();

// What a caller hears while ExchangeMany runs, and how it ends the call. The
// engine calls it on its own thread between its steps, never from inside the
// core: a member may do what the caller may, a nested call included.
class ExchangeObserver {
 public:
  // Query `query` has its outcome, the one the call will return for it.
  virtual void Ended(std::size_t query, const ExchangeOutcome& outcome) = 0;
  // Asked between the steps and after every message dispatched: true ends
  // the call at once. Every question still open ends Cancelled, no outcome
  // is reported after, and nothing more is sent.
  virtual bool Cancelled() = 0;

 protected:
  ~ExchangeObserver() = default;
};

struct EngineSettings {
  EngineSettings() = default;
  EngineSettings(std::wstring_view servers, DWORD timeoutMs, unsigned maxInFlight,
                 std::shared_ptr<ServerMemory> memory = nullptr)
      : Servers(servers), TimeoutMs(timeoutMs), MaxInFlight(maxInFlight), Memory(std::move(memory)) {}

  std::wstring_view Servers;  // a server list: entries separated by commas, semicolons or blanks
  DWORD TimeoutMs = 10000;    // bound of each question, from its own first send
  unsigned MaxInFlight = 64;  // 1..1024; values outside are brought inside
  // What the calling object has learnt of its servers, kept between its
  // calls; none: this call learns for itself alone.
  std::shared_ptr<ServerMemory> Memory;
  ExchangeObserver* Observer = nullptr;
  // An event another thread sets to have Observer->Cancelled() asked at once.
  HANDLE Wake = nullptr;
  // Whether the calling thread's messages are dispatched while it waits (a
  // thread with windows must; a worker of the component has none).
  bool Pump = true;
  // Whether tls:// and https:// entries are asked (DNS over TLS, one
  // connection per server for the call; DNS over HTTPS, one WinHTTP session
  // per server with up to 8 kept connections, each question a POST with ID
  // 0, a status other than 200 ending that server for the call with the
  // status in the outcomes' Problem; the certificate checked by the component
  // either way); otherwise they drop out of the list like any entry that
  // cannot be used.
  bool Encrypted = false;
  // Where DNS over TLS connections are kept between the object's calls;
  // none: each call's connections close at its end.
  std::shared_ptr<DotPool> Connections;
};

// One outcome per query, in input order. At most MaxInFlight distinct
// questions are outstanding at once; each is sent at the offsets of
// SendSchedule(TimeoutMs) from its own first send, to the servers in turn, and
// asked again over TCP of the answering server after a reply with TC set (RFC
// 7766). Servers that left questions unanswered while another answered go to
// the back (Memory keeps that between calls); once a server's round trip is
// known, questions double from max(200 ms, 4 x its smoothed round trip)
// instead, when that is sooner. Each resend leaves from a socket of its own.
// Identical questions (name without regard to case, type, class) go out once
// and answer every asker.
//
// Every UDP query goes out from a socket bound to a random port that carries
// at most 100 queries in its life, with a random ID that no other query on
// that socket had, and with the letters of its name in random case (DNS
// 0x20). A reply counts only from the server, port and socket the query went
// to, with its ID, and with the question repeated octet for octet. A reply
// that repeats the name only without regard to case sends the question over
// TCP to that server; when TCP cannot be had within half the time left, the
// question goes to that server over UDP as the caller spelt it, and its folded
// echo is taken (ID, port and question still checked); the server is then
// remembered as folding and asked so from the start. A reply without a
// question section counts only when it carries no answers. Names in the reply
// that repeat the sent question's letters come back as the caller spelt them.
//
// Pumps the thread's messages while it waits (unless settings.Pump is false). Each call owns its sockets,
// events and state, so a call nested in the messages another call dispatches
// never disturbs it. More than MAX_QUESTIONS_PER_CALL queries: every outcome
// is NothingSent and nothing goes out. Throws only std::bad_alloc.
std::vector<ExchangeOutcome> ExchangeMany(std::span<const vbDNS::DNSQuery> queries, const EngineSettings& settings);

}  // namespace vavizav::exchange
