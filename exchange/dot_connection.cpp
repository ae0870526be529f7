#include "exchange/dot_connection.h"

#include <array>

namespace vavizav::exchange {
namespace {
constexpr std::size_t READ_CHUNK = 16384;
}  // namespace

DotConnection::DotConnection(const ServerEndpoint& server) : server_(server), session_(server.CertificateName) {}

void DotConnection::End(DotState state) {
  state_ = state;
  socket_.reset();
  queued_.clear();
  out_.clear();
}

bool DotConnection::Open(HANDLE event) {
  socket_.reset(::socket(server_.Address.ss_family, SOCK_STREAM, IPPROTO_TCP));
  if (!socket_) {
    End(DotState::Ended);
    return false;
  }
  // Questions go out as they are asked: no waiting to fill a segment.
  const BOOL noDelay = TRUE;
  ::setsockopt(socket_.get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
  // Makes the socket non-blocking: the connect below returns at once.
  if (::WSAEventSelect(socket_.get(), event, FD_CONNECT | FD_WRITE | FD_READ | FD_CLOSE) != 0) {
    End(DotState::Ended);
    return false;
  }
  if (::connect(socket_.get(), reinterpret_cast<const sockaddr*>(&server_.Address), server_.Length) == 0) {
    state_ = DotState::Handshaking;
    if (!session_.Start() || !Flush()) {
      End(DotState::Ended);
      return false;
    }
  } else if (::WSAGetLastError() != WSAEWOULDBLOCK) {
    End(DotState::Ended);
    return false;
  }
  return true;
}

std::optional<std::uint16_t> DotConnection::Ask(std::uint32_t ticket, const vbDNS::DNSQuery& query, RandomPool& random) {
  if (state_ == DotState::Untrusted || state_ == DotState::Ended) return std::nullopt;
  const std::optional<std::uint16_t> id = mux_.Reserve(ticket, random);
  if (!id) return std::nullopt;
  PaddedStreamQuery framed;
  const std::size_t size = EncodePaddedStreamQuery(query, *id, framed);
  if (size == 0) {
    mux_.Release(*id);
    return std::nullopt;
  }
  if (state_ != DotState::Open) {
    queued_.insert(queued_.end(), framed.begin(), framed.begin() + static_cast<std::ptrdiff_t>(size));
    return id;
  }
  if (!session_.Send(std::span(framed.data(), size))) {
    End(DotState::Ended);
    return std::nullopt;
  }
  if (!Flush()) End(DotState::Ended);
  return id;
}

void DotConnection::Forget(std::uint16_t id) { mux_.Release(id); }

// Writes what the session made, as far as the socket takes it; FD_WRITE
// tells when there is room for the rest.
bool DotConnection::Flush() {
  const std::vector<std::uint8_t> made = session_.TakeOutgoing();
  out_.insert(out_.end(), made.begin(), made.end());
  std::size_t written = 0;
  while (written < out_.size()) {
    const int sent = ::send(socket_.get(), reinterpret_cast<const char*>(out_.data() + written),
                            static_cast<int>(out_.size() - written), 0);
    if (sent == SOCKET_ERROR) {
      if (::WSAGetLastError() != WSAEWOULDBLOCK) return false;
      break;
    }
    written += static_cast<std::size_t>(sent);
  }
  out_.erase(out_.begin(), out_.begin() + static_cast<std::ptrdiff_t>(written));
  return true;
}

void DotConnection::SendQueued() {
  if (queued_.empty()) return;
  const std::vector<std::uint8_t> queued = std::exchange(queued_, {});
  if (!session_.Send(queued)) End(DotState::Ended);
}

std::vector<StreamMux::Reply> DotConnection::Service() {
  std::vector<StreamMux::Reply> replies;
  if (!socket_) return replies;
  WSANETWORKEVENTS events{};
  // No event handle: the event is shared, and was reset by the wait.
  if (::WSAEnumNetworkEvents(socket_.get(), nullptr, &events) != 0 ||
      ((events.lNetworkEvents & FD_CONNECT) && events.iErrorCode[FD_CONNECT_BIT] != 0)) {
    End(DotState::Ended);
    return replies;
  }
  if ((events.lNetworkEvents & FD_CONNECT) && state_ == DotState::Connecting) {
    state_ = DotState::Handshaking;
    if (!session_.Start()) {
      End(DotState::Ended);
      return replies;
    }
  }
  if (state_ != DotState::Connecting && !Flush()) {
    End(DotState::Ended);
    return replies;
  }
  if (events.lNetworkEvents & (FD_READ | FD_CLOSE)) {
    if (!ReadAll(replies)) return replies;
  }
  if (events.lNetworkEvents & FD_CLOSE) End(DotState::Ended);
  return replies;
}

// Every octet the socket holds, through the session: the handshake's, then
// replies. false once the connection ended.
bool DotConnection::ReadAll(std::vector<StreamMux::Reply>& replies) {
  std::array<std::uint8_t, READ_CHUNK> chunk;
  for (;;) {
    const int received = ::recv(socket_.get(), reinterpret_cast<char*>(chunk.data()), static_cast<int>(chunk.size()), 0);
    if (received == 0) {
      End(DotState::Ended);
      return false;
    }
    if (received == SOCKET_ERROR) {
      if (::WSAGetLastError() == WSAEWOULDBLOCK) return true;
      End(DotState::Ended);
      return false;
    }
    const bool wasHandshaking = session_.State() == TlsState::Handshaking;
    const bool fed = session_.Feed(std::span(chunk.data(), static_cast<std::size_t>(received)));
    if (wasHandshaking && session_.State() == TlsState::Open) {
      state_ = DotState::Open;
      SendQueued();
    }
    const std::vector<std::uint8_t> plain = session_.TakePlain();
    for (StreamMux::Reply& reply : mux_.Feed(plain)) replies.push_back(std::move(reply));
    if (!fed || (session_.State() != TlsState::Open && session_.State() != TlsState::Handshaking)) {
      End(session_.State() == TlsState::Untrusted ? DotState::Untrusted : DotState::Ended);
      return false;
    }
    if (mux_.Broken() || !Flush()) {
      End(DotState::Ended);
      return false;
    }
  }
}

void DotConnection::Close() {
  if (socket_ && state_ == DotState::Open) {
    session_.Shutdown();
    Flush();
  }
  End(DotState::Ended);
}

void DotConnection::Watch(HANDLE event) {
  if (!socket_) return;
  const long events = event != nullptr ? FD_CONNECT | FD_WRITE | FD_READ | FD_CLOSE : 0;
  if (::WSAEventSelect(socket_.get(), event, events) != 0 && event != nullptr) End(DotState::Ended);
}

}  // namespace vavizav::exchange
