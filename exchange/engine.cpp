#include "exchange/engine.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstring>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <span>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "codec/reply_check.h"
#include "exchange/core/distinct_questions.h"
#include "exchange/core/exchange_core.h"
#include "exchange/doh_request.h"
#include "exchange/dot_connection.h"
#include "exchange/dot_pool.h"
#include "exchange/server_list.h"
#include "runtime/handles.h"
#include "runtime/message_pump.h"
#include "runtime/random.h"
#include "runtime/winsock_startup.h"

namespace vavizav::exchange {

using runtime::EnsureWinsock;
using runtime::PumpMessages;
using runtime::PumpResult;
using runtime::RandomFill;
using runtime::unique_handle;
using runtime::unique_socket;

namespace {

// While datagrams keep the wait busy, the thread's messages are still
// dispatched at least this often.
constexpr ULONGLONG PUMP_INTERVAL_MS = 10;
// Calls of at least this many queries dispatch the messages once before
// their first send: their setup takes a few milliseconds. Smaller ones spare
// the look at the queue (a Wine server request).
constexpr std::size_t PUMP_FIRST_FROM = 256;
// Room for any UDP payload (at most 65,507 octets over IPv4, 65,527 over
// IPv6): a datagram is never cut.
constexpr std::size_t RECEIVE_BUFFER_SIZE = 65536;
// Reads per socket and wake: every reply a socket can be owed (it carries at
// most QUERIES_PER_SOCKET queries) and some strays, so that nothing the
// servers answered still waits in a queue when the core next looks at the
// time; a flood past that waits for the next wake, after the deadlines and
// the messages had their turn.
constexpr int READS_PER_SOCKET = static_cast<int>(QUERIES_PER_SOCKET) + 32;
// Before the sockets are armed: what is queued already, for a near server.
constexpr int QUEUED_READS = 4;
constexpr int QUEUED_CHECKS = 3;
// Random ports come from 1024..65535 (RFC 6056 section 3.2); a port that is
// taken or reserved costs another draw, and after BIND_ATTEMPTS the system
// picks one.
constexpr std::uint16_t LOWEST_PORT = 1024;
constexpr int BIND_ATTEMPTS = 8;
constexpr std::size_t STREAM_CHUNK = 4096;

bool SystemRandom(std::span<std::uint8_t> octets) { return RandomFill(octets); }

// A DNS over HTTPS worker's stack: WinHTTP's blocking calls and a 4 KiB chunk.
constexpr SIZE_T DOH_WORKER_STACK = 256 * 1024;
// Workers per https:// server: each asks one question at a time on a kept
// connection of its own (HTTP/1.1 has one request at a time on a connection).
constexpr unsigned DOH_WORKERS_PER_SERVER = 8;

// One DNS over HTTPS question: its result, once Finished.
struct DohJob {
  std::uint32_t Ticket = 0;
  std::size_t Server = 0;
  vbDNS::Packet Query;
  DWORD TimeoutMs = 0;
  DohResult Result;
  std::atomic<bool> Finished{false};
};

// One https:// server's questions and the workers that ask them: WinHTTP's
// blocking exchanges run on the workers, which set the shell's stream event
// as each ends, so the shell's wait never blocks on them. The workers share
// the queue (the server's session and a handle of their own to the event)
// with the shell and hold a reference to this module: a call that ends before
// its workers (answered elsewhere, cancelled) closes the queue and returns at
// once; a worker ends after its exchange in hand (bounded by its time-out).
struct DohQueue {
  explicit DohQueue(const ServerEndpoint& server) : Client(server) {}
  const DohClient Client;
  unique_handle Done;  // the shell's stream event, duplicated
  std::mutex Lock;
  std::condition_variable Ready;
  std::deque<std::shared_ptr<DohJob>> Pending;
  unsigned Workers = 0;
  unsigned Idle = 0;
  bool Closed = false;
};

void RunDohWorker(std::shared_ptr<DohQueue>* parameter) {
  const std::shared_ptr<DohQueue> queue = std::move(*parameter);
  delete parameter;
  std::unique_lock<std::mutex> lock(queue->Lock);
  for (;;) {
    if (queue->Pending.empty()) {
      if (queue->Closed) break;
      ++queue->Idle;
      queue->Ready.wait(lock, [&] { return queue->Closed || !queue->Pending.empty(); });
      --queue->Idle;
      continue;
    }
    std::shared_ptr<DohJob> job = std::move(queue->Pending.front());
    queue->Pending.pop_front();
    lock.unlock();
    try {
      job->Result = queue->Client.Exchange(job->Query, job->TimeoutMs);
    } catch (...) {
      job->Result = DohResult{};  // out of memory: a failed exchange
    }
    job->Finished.store(true, std::memory_order_release);
    ::SetEvent(queue->Done.get());
    job.reset();
    lock.lock();
  }
}

DWORD WINAPI DohWorker(LPVOID parameter) {
  // Its own reference, taken before the thread started: the module stays
  // until this thread is past its last instruction in it.
  HMODULE self = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&DohWorker), &self);
  try {
    RunDohWorker(static_cast<std::shared_ptr<DohQueue>*>(parameter));
  } catch (...) {
    // std::system_error from the lock: the worker ends; the shell's
    // questions on it end by their time-out.
  }
  ::FreeLibraryAndExitThread(self, 0);
  return 0;  // never reached
}

// Under Wine the sockets are the host kernel's, and Linux picks a random free
// ephemeral port for a socket's first send (RFC 6056); ntdll names Wine.
bool HostPicksRandomPorts() {
  static const bool wine = ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
  return wine;
}

// FIONREAD always completes at once. Asked with an OVERLAPPED that names no
// event, Wine signals nothing on completion, where ioctlsocket would set the
// thread's own event: one Wine server request less per look at the queue.
std::optional<u_long> QueuedOctets(SOCKET socket) {
  u_long queued = 0;
  DWORD written = 0;
  OVERLAPPED overlapped{};
  if (::WSAIoctl(socket, FIONREAD, nullptr, 0, &queued, sizeof queued, &written, &overlapped, nullptr) != 0) {
    return std::nullopt;
  }
  return queued;
}

// The sockets, the wait and the pump of one call; the core decides.
class Shell final : public CoreTransport {
 public:
  Shell(const std::vector<ServerEndpoint>& servers, RandomPool& random, const EngineSettings& settings,
        std::span<const vbDNS::DNSQuery> queries, const DistinctQuestions& distinct)
      : servers_(servers),
        random_(random),
        buffer_(new std::uint8_t[RECEIVE_BUFFER_SIZE]),
        observer_(settings.Observer),
        pool_(settings.Connections),
        wake_(settings.Wake),
        pumping_(settings.Pump),
        queries_(queries),
        distinct_(distinct),
        dot_(servers.size()),
        dotReported_(servers.size(), false),
        doh_(servers.size()),
        timeoutMs_(settings.TimeoutMs) {
    for (const ServerEndpoint& server : servers) {
      if (server.Transport == ServerTransport::Https) httpsTexts_.push_back(EndpointText(server));
    }
    if (observer_ == nullptr) return;
    // Who asked each distinct question, to tell each of them.
    askers_.resize(distinct.Firsts.size());
    for (std::size_t i = 0; i < distinct.Of.size(); ++i) askers_[distinct.Of[i]].push_back(i);
  }

  std::vector<ExchangeOutcome> Run(ExchangeCore& core) {
    core_ = &core;
    // A large call spent a while setting up: the thread's messages first.
    if (pumping_ && queries_.size() >= PUMP_FIRST_FROM) Pump();
    lastPump_ = ::GetTickCount64();
    if (Stopped()) return core.TakeOutcomes(ExchangeFailure::Cancelled);
    core.Advance(::GetTickCount64());
    ReportEncryptedEnds();
    bool lookedAtQueues = false;
    while (!core.Finished()) {
      Report();
      if (Stopped()) return core.TakeOutcomes(ExchangeFailure::Cancelled);
      if (!udpReadable_) {
        // A near server has often answered by now: what is queued already is
        // read before the event, its selection and the wait are set up.
        if (!lookedAtQueues) {
          lookedAtQueues = true;
          ReadQueued();
          core.Advance(::GetTickCount64());
          ReportEncryptedEnds();
          continue;
        }
        // Auto-reset: the wait that reports a signal also clears it, and
        // whatever comes after that signals again.
        udpReadable_.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
        if (!udpReadable_ || !Arm()) return core.TakeOutcomes(ExchangeFailure::TimedOut);
      }
      if (!WaitAndRead()) return core.TakeOutcomes(ExchangeFailure::TimedOut);
      // A cancel seen in the wait: nothing more goes out.
      if (Stopped()) return core.TakeOutcomes(ExchangeFailure::Cancelled);
      core.Advance(::GetTickCount64());
      ReportEncryptedEnds();
    }
    Report();
    return core.TakeOutcomes();
  }

  bool SendDatagram(std::uint32_t serial, int family, std::size_t server, vbDNS::PacketView datagram) override {
    auto found = udp_.find(serial);
    if (found == udp_.end()) {
      unique_socket opened = OpenBound(family);
      if (!opened) return false;
      found = udp_.emplace(serial, std::move(opened)).first;
    }
    const ServerEndpoint& to = servers_[server];
    const int sent = ::sendto(found->second.get(), reinterpret_cast<const char*>(datagram.data()),
                              static_cast<int>(datagram.size()), 0, reinterpret_cast<const sockaddr*>(&to.Address),
                              to.Length);
    return sent == static_cast<int>(datagram.size());
  }

  void CloseSocket(std::uint32_t serial) override { udp_.erase(serial); }

  bool OpenStream(std::uint32_t id, std::size_t server, vbDNS::PacketView octets) override {
    // Made at the first stream; shared by every connection.
    if (!tcpReady_) tcpReady_.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!tcpReady_ || octets.size() > vbDNS::StreamQuery().size()) return false;
    const ServerEndpoint& to = servers_[server];
    auto stream = std::make_unique<Stream>();
    stream->Handle.reset(::socket(to.Address.ss_family, SOCK_STREAM, IPPROTO_TCP));
    if (!stream->Handle) return false;
    std::memcpy(stream->Out.data(), octets.data(), octets.size());
    stream->OutSize = octets.size();
    // Makes the socket non-blocking: the connect below returns at once.
    if (::WSAEventSelect(stream->Handle.get(), tcpReady_.get(), FD_CONNECT | FD_WRITE | FD_READ | FD_CLOSE) != 0) {
      return false;
    }
    if (::connect(stream->Handle.get(), reinterpret_cast<const sockaddr*>(&to.Address), to.Length) == 0) {
      stream->Connected = true;
      if (!Write(*stream)) return false;
    } else if (::WSAGetLastError() != WSAEWOULDBLOCK) {
      return false;
    }
    streams_[id] = std::move(stream);
    return true;
  }

  void CloseStream(std::uint32_t id) override { streams_.erase(id); }

  // DNS over TLS: one connection per server for the call, opened at its
  // first question, its events on the streams' shared event.
  bool SendEncrypted(std::uint32_t ticket, std::size_t server, const vbDNS::DNSQuery& query) override {
    if (server >= dot_.size() || servers_[server].Transport == ServerTransport::Plain) return false;
    if (!tcpReady_) tcpReady_.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!tcpReady_) return false;
    if (servers_[server].Transport == ServerTransport::Https) return SendHttps(ticket, server, query);
    std::unique_ptr<DotConnection>& connection = dot_[server];
    if (!connection && pool_) {
      // Kept from an earlier call: no connect, no handshake.
      connection = pool_->Take(EndpointText(servers_[server]), ::GetTickCount64());
      if (connection) {
        connection->Watch(tcpReady_.get());
        // A server that closed it while it was kept (servers close idle
        // connections after a few seconds) is seen now: a new one is opened.
        connection->Service();
        if (connection->State() != DotState::Open) connection.reset();
      }
    }
    if (!connection) {
      connection = std::make_unique<DotConnection>(servers_[server]);
      connection->Open(tcpReady_.get());
    }
    const std::optional<std::uint16_t> id = connection->Ask(ticket, query, random_);
    if (!id) return false;  // ended: reported to the core after its turn
    tickets_[ticket] = *id;
    return true;
  }

  void ForgetEncrypted(std::uint32_t ticket, std::size_t server) override {
    // A DNS over HTTPS question's worker runs on; its result is dropped.
    dohLive_.erase(ticket);
    const auto found = tickets_.find(ticket);
    if (found == tickets_.end()) return;
    if (server < dot_.size() && dot_[server]) dot_[server]->Forget(found->second);
    tickets_.erase(found);
  }

  // Connections go back to the object's pool (or close) before the call's
  // event does.
  ~Shell() {
    for (std::size_t server = 0; server < dot_.size(); ++server) {
      if (!dot_[server]) continue;
      if (pool_) {
        pool_->Give(EndpointText(servers_[server]), std::move(dot_[server]), ::GetTickCount64());
      } else {
        dot_[server]->Close();
      }
    }
    // The workers end after the exchange in hand; nothing waiting is asked.
    for (const std::shared_ptr<DohQueue>& queue : doh_) {
      if (!queue) continue;
      {
        const std::lock_guard<std::mutex> lock(queue->Lock);
        queue->Closed = true;
        queue->Pending.clear();
      }
      queue->Ready.notify_all();
    }
  }

  // An outcome left Untrusted says which certificate failed, and why; one
  // that failed after a DNS over HTTPS server gave a status other than 200
  // names that status. A reply from an https:// server came over HTTPS.
  void NameProblem(ExchangeOutcome& outcome) const {
    if (outcome.Failure == ExchangeFailure::Untrusted) {
      outcome.Problem = untrustedText_;
    } else if (outcome.Failure != ExchangeFailure::None && !httpText_.empty()) {
      outcome.Problem = httpText_;
    }
    if (outcome.Transport == ReplyTransport::Encrypted &&
        std::find(httpsTexts_.begin(), httpsTexts_.end(), outcome.Server) != httpsTexts_.end()) {
      outcome.Transport = ReplyTransport::Https;
    }
  }
  void NameProblems(std::vector<ExchangeOutcome>& outcomes) const {
    for (ExchangeOutcome& outcome : outcomes) NameProblem(outcome);
  }

 private:
  bool Stopped() { return observer_ != nullptr && observer_->Cancelled(); }

  // Tells the observer of every question that ended, each asker with the
  // reply's question spelt as it spelt it. Long runs of reports still let the
  // thread's messages through.
  void Report() {
    if (observer_ == nullptr) return;
    for (const std::size_t question : core_->TakeEnded()) {
      for (const std::size_t query : askers_[question]) {
        ExchangeOutcome outcome = core_->OutcomeOf(question);
        NameProblem(outcome);
        if (outcome.Reply) {
          vbDNS::RespellReply(*outcome.Reply, queries_[distinct_.Firsts[question]].Question.QName,
                              queries_[query].Question.QName);
        }
        observer_->Ended(query, outcome);
        if (pumping_ && ::GetTickCount64() - lastPump_ >= PUMP_INTERVAL_MS) Pump();
        if (Stopped()) return;
      }
    }
  }

  // DNS over HTTPS: one WinHTTP session per server for the call, its
  // connections kept alive between requests, the questions asked by at most
  // DOH_WORKERS_PER_SERVER workers at once. The
  // query goes with ID 0 (RFC 8484 section 4.1) and the reply comes with it;
  // the core matches it by its ticket, not by ID, and checks its question
  // (OnEncryptedReply), so the ID 0 the server echoes is taken as it is.
  bool SendHttps(std::uint32_t ticket, std::size_t server, const vbDNS::DNSQuery& query) {
    if (dohFailed_.count(server)) return false;
    vbDNS::QueryDatagram datagram;
    const std::size_t size = vbDNS::EncodeQuery(query, 0, datagram);
    if (size == 0) return false;
    std::shared_ptr<DohQueue>& queue = doh_[server];
    if (!queue) {
      auto made = std::make_shared<DohQueue>(servers_[server]);
      HANDLE done = nullptr;
      if (!::DuplicateHandle(::GetCurrentProcess(), tcpReady_.get(), ::GetCurrentProcess(), &done, 0, FALSE,
                             DUPLICATE_SAME_ACCESS)) {
        return false;
      }
      made->Done.reset(done);
      queue = std::move(made);
    }
    auto job = std::make_shared<DohJob>();
    job->Ticket = ticket;
    job->Server = server;
    job->Query.assign(datagram.begin(), datagram.begin() + static_cast<std::ptrdiff_t>(size));
    job->TimeoutMs = timeoutMs_;
    {
      const std::lock_guard<std::mutex> lock(queue->Lock);
      queue->Pending.push_back(job);
      if (queue->Pending.size() > queue->Idle && queue->Workers < DOH_WORKERS_PER_SERVER && StartWorker(queue)) {
        ++queue->Workers;
      }
      if (queue->Workers == 0) {
        queue->Pending.pop_back();
        return false;
      }
    }
    queue->Ready.notify_one();
    dohLive_.insert(ticket);
    dohJobs_.push_back(std::move(job));
    return true;
  }

  // A worker for `queue`, holding a reference to this module until it exits.
  static bool StartWorker(const std::shared_ptr<DohQueue>& queue) {
    HMODULE self = nullptr;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&DohWorker), &self)) {
      return false;
    }
    auto* shared = new std::shared_ptr<DohQueue>(queue);
    const unique_handle thread(::CreateThread(nullptr, DOH_WORKER_STACK, DohWorker, shared,
                                              STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    if (thread) return true;
    delete shared;
    ::FreeLibrary(self);
    return false;
  }

  // The DNS over HTTPS workers that finished: a reply to the core; a failed
  // certificate, a status other than 200 or no exchange at all ends that
  // server for the call, like a DNS over TLS connection's end.
  void ServiceHttps() {
    for (auto it = dohJobs_.begin(); it != dohJobs_.end();) {
      if (!(*it)->Finished.load(std::memory_order_acquire)) {
        ++it;
        continue;
      }
      const std::shared_ptr<DohJob> done = std::move(*it);
      it = dohJobs_.erase(it);
      if (dohLive_.erase(done->Ticket) == 0) continue;  // the core no longer waits for it
      const DohResult& result = done->Result;
      if (result.Outcome == DohOutcome::Answered) {
        core_->OnEncryptedReply(::GetTickCount64(), done->Ticket, result.Reply);
        continue;
      }
      if (!dohFailed_.insert(done->Server).second) continue;
      {
        // The server takes nothing more in this call: what waits is not asked.
        const std::lock_guard<std::mutex> lock(doh_[done->Server]->Lock);
        doh_[done->Server]->Pending.clear();
      }
      const ServerEndpoint& server = servers_[done->Server];
      if (result.Outcome == DohOutcome::Untrusted && untrustedText_.empty()) {
        untrustedText_ = EndpointText(server) + L": " + CertificateVerdictText(result.Check, server.CertificateName);
      }
      if (result.Outcome == DohOutcome::HttpError && httpText_.empty()) {
        httpText_ = EndpointText(server) + (result.HttpStatus == 200
                                                ? std::wstring(L": the server's reply is not a DNS message")
                                                : L": the server answered HTTP status " + std::to_wstring(result.HttpStatus));
      }
      core_->OnEncryptedFailed(::GetTickCount64(), done->Server, result.Outcome == DohOutcome::Untrusted);
    }
  }

  // Every DNS over TLS connection moves on, its replies to the core.
  void ServiceEncrypted() {
    ServiceHttps();
    for (std::size_t server = 0; server < dot_.size(); ++server) {
      if (!dot_[server]) continue;
      for (StreamMux::Reply& reply : dot_[server]->Service()) {
        tickets_.erase(reply.Ticket);
        core_->OnEncryptedReply(::GetTickCount64(), reply.Ticket, reply.Message);
      }
    }
    ReportEncryptedEnds();
  }

  // A connection that ended (or whose certificate failed) is told to the
  // core once, outside the core's own calls.
  void ReportEncryptedEnds() {
    for (std::size_t server = 0; server < dot_.size(); ++server) {
      const DotConnection* connection = dot_[server].get();
      if (!connection || dotReported_[server]) continue;
      const DotState state = connection->State();
      if (state != DotState::Ended && state != DotState::Untrusted) continue;
      dotReported_[server] = true;
      // The first failed certificate says why, for the questions it leaves unanswered.
      if (state == DotState::Untrusted && untrustedText_.empty()) {
        untrustedText_ = EndpointText(servers_[server]) + L": " +
                         CertificateVerdictText(connection->Check(), servers_[server].CertificateName);
      }
      core_->OnEncryptedFailed(::GetTickCount64(), server, state == DotState::Untrusted);
    }
  }

  struct Stream {
    unique_socket Handle;
    vbDNS::StreamQuery Out{};
    std::size_t OutSize = 0;
    std::size_t Written = 0;
    bool Connected = false;
  };

  // On Windows the port is drawn here rather than left to the system: callers
  // cannot rely on its ephemeral ports being unpredictable, while a draw from
  // the system generator is. Under Wine the host kernel draws it at the first
  // send, and the explicit bind would only cost two Wine server requests.
  unique_socket OpenBound(int family) {
    unique_socket socket(::socket(family, SOCK_DGRAM, IPPROTO_UDP));
    if (!socket) return socket;
    if (!HostPicksRandomPorts()) {
      bool bound = false;
      for (int attempt = 0; attempt <= BIND_ATTEMPTS && !bound; ++attempt) {
        std::uint16_t port = 0;  // the last attempt: the system's choice
        if (attempt < BIND_ATTEMPTS) {
          const std::optional<std::uint16_t> drawn = random_.Next16();
          if (!drawn) continue;
          port = static_cast<std::uint16_t>(LOWEST_PORT + *drawn % (65536 - LOWEST_PORT));
        }
        sockaddr_storage local{};
        int length = 0;
        if (family == AF_INET6) {
          auto& v6 = reinterpret_cast<sockaddr_in6&>(local);
          v6.sin6_family = AF_INET6;
          v6.sin6_port = ::htons(port);
          length = sizeof v6;
        } else {
          auto& v4 = reinterpret_cast<sockaddr_in&>(local);
          v4.sin_family = AF_INET;
          v4.sin_port = ::htons(port);
          length = sizeof v4;
        }
        bound = ::bind(socket.get(), reinterpret_cast<const sockaddr*>(&local), length) == 0;
      }
      if (!bound) socket.reset();
    }
    // Also makes the socket non-blocking: reading stops at an empty queue.
    if (socket && udpReadable_ && ::WSAEventSelect(socket.get(), udpReadable_.get(), FD_READ) != 0) socket.reset();
    return socket;
  }

  // From now on every socket, those opened later too, sets the event when a
  // datagram is queued.
  bool Arm() {
    for (const auto& [serial, socket] : udp_) {
      if (::WSAEventSelect(socket.get(), udpReadable_.get(), FD_READ) != 0) return false;
    }
    return true;
  }

  std::size_t ServerOf(const sockaddr_storage& from) const {
    for (std::size_t i = 0; i < servers_.size(); ++i) {
      if (IsEndpoint(from, servers_[i])) return i;
    }
    return FROM_ELSEWHERE;
  }

  std::vector<std::uint32_t> Serials() const {
    std::vector<std::uint32_t> serials;
    serials.reserve(udp_.size());
    for (const auto& [serial, socket] : udp_) serials.push_back(serial);
    return serials;
  }

  enum class Received { Datagram, Nothing, Unreachable, Skipped };
  Received ReceiveOne(SOCKET socket, std::uint32_t serial) {
    sockaddr_storage from{};
    int fromLength = sizeof from;
    const int received = ::recvfrom(socket, reinterpret_cast<char*>(buffer_.get()),
                                    static_cast<int>(RECEIVE_BUFFER_SIZE), 0, reinterpret_cast<sockaddr*>(&from),
                                    &fromLength);
    if (received != SOCKET_ERROR) {
      core_->OnDatagram(::GetTickCount64(), serial, ServerOf(from),
                        vbDNS::PacketView(buffer_.get(), static_cast<std::size_t>(received)));
      return Received::Datagram;
    }
    const int error = ::WSAGetLastError();
    // An ICMP port unreachable for one of the sends shows on Windows as
    // WSAECONNRESET at the next receive, without saying which send.
    if (error == WSAECONNRESET) {
      core_->OnUnreachable(::GetTickCount64(), serial);
      return Received::Unreachable;
    }
    if (error == WSAEMSGSIZE) return Received::Skipped;
    // WSAEWOULDBLOCK: nothing more queued. Any other error: the next datagram
    // signals again.
    return Received::Nothing;
  }

  // Every socket until its queue is empty or READS_PER_SOCKET datagrams were
  // taken from it. True when some socket may have more queued.
  bool ReadAll() {
    bool more = false;
    for (const std::uint32_t serial : Serials()) {
      int reads = 0;
      for (; reads < READS_PER_SOCKET; ++reads) {
        // The core closes sockets only in Advance: the handle stays while it
        // is read here.
        const auto found = udp_.find(serial);
        if (found == udp_.end() || ReceiveOne(found->second.get(), serial) == Received::Nothing) break;
        if (core_->Finished()) return false;
      }
      if (reads == READS_PER_SOCKET) more = true;
    }
    return more;
  }

  // Reads, while the sockets still block, what is queued already (FIONREAD
  // says a read will not wait), at most QUEUED_READS datagrams per socket. For
  // a near server the reply is often there right after the send, and the
  // event, its selection and the wait are spared: under Wine each of those is
  // a round trip to the Wine server.
  void ReadQueued() {
    for (const std::uint32_t serial : Serials()) {
      int checks = 0;
      for (int read = 0; read < QUEUED_READS;) {
        // A server on this machine may need only the processor this thread
        // holds: it gets it for a moment before each look at the queue (a
        // yield costs no Wine server request; each look costs one).
        if (read == 0) ::SwitchToThread();
        const auto found = udp_.find(serial);
        if (found == udp_.end()) break;
        const std::optional<u_long> queued = QueuedOctets(found->second.get());
        if (!queued) break;
        if (*queued == 0) {
          if (++checks == QUEUED_CHECKS) break;
          continue;
        }
        ++read;
        if (ReceiveOne(found->second.get(), serial) == Received::Nothing) break;
        if (core_->Finished()) return;
      }
    }
  }

  static bool Write(Stream& stream) {
    while (stream.Written < stream.OutSize) {
      const int sent = ::send(stream.Handle.get(), reinterpret_cast<const char*>(stream.Out.data() + stream.Written),
                              static_cast<int>(stream.OutSize - stream.Written), 0);
      if (sent == SOCKET_ERROR) return ::WSAGetLastError() == WSAEWOULDBLOCK;  // FD_WRITE tells when there is room
      stream.Written += static_cast<std::size_t>(sent);
    }
    return true;
  }

  // Lets every stream move on: connect, write, and hand what it read to the
  // core. The core may close any stream from inside its handlers.
  void AdvanceStreams() {
    std::vector<std::uint32_t> ids;
    for (const auto& [id, stream] : streams_) ids.push_back(id);
    for (const std::uint32_t id : ids) AdvanceStream(id);
  }

  void AdvanceStream(std::uint32_t id) {
    auto found = streams_.find(id);
    if (found == streams_.end()) return;
    Stream& stream = *found->second;
    WSANETWORKEVENTS events{};
    // No event handle here: the event is shared by every connection and was
    // reset by the wait, so resetting it here could hide another's signal.
    if (::WSAEnumNetworkEvents(stream.Handle.get(), nullptr, &events) != 0 ||
        ((events.lNetworkEvents & FD_CONNECT) && events.iErrorCode[FD_CONNECT_BIT] != 0)) {
      return core_->OnStreamEnded(::GetTickCount64(), id);
    }
    if (events.lNetworkEvents & FD_CONNECT) stream.Connected = true;
    if (stream.Connected && !Write(stream)) return core_->OnStreamEnded(::GetTickCount64(), id);
    if (!(events.lNetworkEvents & (FD_READ | FD_CLOSE))) return;
    std::array<std::uint8_t, STREAM_CHUNK> chunk;
    for (;;) {
      found = streams_.find(id);
      if (found == streams_.end()) return;  // the core has what it needed
      const int received = ::recv(found->second->Handle.get(), reinterpret_cast<char*>(chunk.data()),
                                  static_cast<int>(chunk.size()), 0);
      if (received == 0) return core_->OnStreamEnded(::GetTickCount64(), id);
      if (received == SOCKET_ERROR) {
        if (::WSAGetLastError() != WSAEWOULDBLOCK) return core_->OnStreamEnded(::GetTickCount64(), id);
        break;
      }
      core_->OnStreamData(::GetTickCount64(), id, vbDNS::PacketView(chunk.data(), static_cast<std::size_t>(received)));
    }
    // Closed before the whole reply.
    if ((events.lNetworkEvents & FD_CLOSE) && streams_.count(id)) core_->OnStreamEnded(::GetTickCount64(), id);
  }

  // Sleeps until a socket has something, the core's next deadline, or (once
  // per pass) the thread's messages were dispatched; then reads. With no time
  // left the events are still looked at once, so that what arrived while a
  // nested call kept this wait from running is not lost. false when the wait
  // itself fails.
  bool WaitAndRead() {
    const std::optional<std::uint64_t> until = core_->NextDeadline();
    if (!until) return true;
    // The wake event last: its index moves with the streams' event.
    HANDLE events[3] = {udpReadable_.get(), tcpReady_.get(), wake_};
    DWORD count = tcpReady_ ? 2 : 1;
    if (wake_ != nullptr) events[count++] = wake_;
    const DWORD wakeIndex = wake_ != nullptr ? count - 1 : MAXDWORD;
    for (;;) {
      const ULONGLONG now = ::GetTickCount64();
      const DWORD remaining =
          now >= *until ? 0 : static_cast<DWORD>(std::min<ULONGLONG>(*until - now, INFINITE - 1));
      const bool withMessages = pumping_ && remaining > 0;
      const DWORD woken = withMessages ? ::MsgWaitForMultipleObjectsEx(count, events, remaining, QS_ALLINPUT,
                                                                       MWMO_INPUTAVAILABLE)
                                       : ::WaitForMultipleObjects(count, events, FALSE, remaining);
      if (woken == WAIT_OBJECT_0) {
        // When a socket may hold more, the event is set again so that the
        // next wait comes straight back after the deadlines and the messages.
        if (ReadAll()) ::SetEvent(udpReadable_.get());
        // A stream of datagrams keeps the first event signalled; a
        // connection's signal must not wait for it to end.
        if (tcpReady_ && (!streams_.empty() || HasEncrypted()) &&
            ::WaitForSingleObject(tcpReady_.get(), 0) == WAIT_OBJECT_0) {
          AdvanceStreams();
          ServiceEncrypted();
        }
      } else if (woken == WAIT_OBJECT_0 + wakeIndex) {
        return true;  // the caller looks at the cancel
      } else if (tcpReady_ && woken == WAIT_OBJECT_0 + 1) {
        AdvanceStreams();
        ServiceEncrypted();
      } else if (withMessages && woken == WAIT_OBJECT_0 + count) {
        Pump();
        if (Stopped()) return true;
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

  const std::vector<ServerEndpoint>& servers_;
  RandomPool& random_;
  ExchangeCore* core_ = nullptr;
  // Not zeroed: only the octets a receive wrote are ever read.
  std::unique_ptr<std::uint8_t[]> buffer_;
  // The events outlive the sockets selected on them.
  unique_handle udpReadable_;
  unique_handle tcpReady_;
  std::unordered_map<std::uint32_t, unique_socket> udp_;
  std::unordered_map<std::uint32_t, std::unique_ptr<Stream>> streams_;
  ExchangeObserver* observer_;
  std::shared_ptr<DotPool> pool_;  // the object's kept connections, if it keeps them
  HANDLE wake_;
  bool pumping_;
  ULONGLONG lastPump_ = 0;
  std::span<const vbDNS::DNSQuery> queries_;
  const DistinctQuestions& distinct_;
  std::vector<std::vector<std::size_t>> askers_;  // of each distinct question, when observed
  std::vector<std::unique_ptr<DotConnection>> dot_;  // by server: its DNS over TLS connection
  std::vector<bool> dotReported_;                    // its end told to the core
  std::wstring untrustedText_;                       // why the first failed certificate failed
  std::unordered_map<std::uint32_t, std::uint16_t> tickets_;  // the core's ticket -> the connection's ID
  std::vector<std::shared_ptr<DohQueue>> doh_;                // by server: its DNS over HTTPS session and workers
  std::list<std::shared_ptr<DohJob>> dohJobs_;                // the workers not yet taken in
  std::unordered_set<std::uint32_t> dohLive_;                 // the tickets the core still waits for over HTTPS
  std::unordered_set<std::size_t> dohFailed_;                 // the https:// servers ended for the call
  std::wstring httpText_;                                     // the first status other than 200, and who gave it
  DWORD timeoutMs_;
  std::vector<std::wstring> httpsTexts_;                      // the https:// servers as outcomes name them

  bool HasEncrypted() const {
    return !dohJobs_.empty() ||
           std::any_of(dot_.begin(), dot_.end(), [](const auto& connection) { return connection != nullptr; });
  }
};

std::vector<ExchangeOutcome> AllFailed(std::size_t count, ExchangeFailure failure) {
  ExchangeOutcome outcome;
  outcome.Failure = failure;
  return std::vector<ExchangeOutcome>(count, outcome);
}

}  // namespace

std::shared_ptr<DotPool> NewConnectionPool() { return std::make_shared<DotPool>(); }

std::vector<ExchangeOutcome> ExchangeMany(std::span<const vbDNS::DNSQuery> queries, const EngineSettings& settings) {
  const ULONGLONG start = ::GetTickCount64();
  if (queries.empty()) return {};
  if (queries.size() > MAX_QUESTIONS_PER_CALL || !EnsureWinsock()) {
    return AllFailed(queries.size(), ExchangeFailure::NothingSent);
  }
  // Every entry is resolved before the first send (a host name through the
  // system, inside the time-out); those that cannot be used drop out.
  const std::vector<ServerEndpoint> servers =
      ResolveServerList(settings.Servers, start + settings.TimeoutMs, settings.Encrypted);
  if (settings.Observer != nullptr && settings.Observer->Cancelled()) {
    return AllFailed(queries.size(), ExchangeFailure::Cancelled);
  }
  if (servers.empty()) return AllFailed(queries.size(), ExchangeFailure::NoUsableServer);
  std::vector<CoreServer> coreServers;
  for (const ServerEndpoint& server : servers) {
    coreServers.push_back({EndpointText(server), server.Address.ss_family, server.Transport != ServerTransport::Plain});
  }

  // The object's memory is held for the call: the object may go while the
  // messages are pumped.
  const std::shared_ptr<ServerMemory> memory = settings.Memory ? settings.Memory : std::make_shared<ServerMemory>();
  // A large call's setup (the distinct questions, who asked each) takes a
  // few milliseconds more: the thread's messages go first.
  if (settings.Pump && queries.size() >= PUMP_FIRST_FROM) PumpMessages();
  const DistinctQuestions distinct = FindDistinct(queries);
  RandomPool random(SystemRandom);
  Shell shell(servers, random, settings, queries, distinct);
  ExchangeCore core(queries, distinct.Firsts, std::move(coreServers), settings.TimeoutMs,
                    std::clamp(settings.MaxInFlight, 1u, MAX_IN_FLIGHT), *memory, random, shell, start);
  std::vector<ExchangeOutcome> outcomes = shell.Run(core);
  shell.NameProblems(outcomes);
  return HandOut(queries, distinct, std::move(outcomes));
}

}  // namespace vavizav::exchange
