#include "tcp_side.h"

#include <span>

namespace vavizav {

TcpAsk::TcpAsk(HANDLE ready, const vbDNS::DNSQuery& query, std::uint16_t id, const ServerEndpoint& server)
    : question_(query.Question), id_(id) {
  // The message behind its length: at most MAX_QUERY_SIZE octets, so the
  // length fits its two octets.
  const std::size_t length = vbDNS::EncodeQuery(query, id, std::span(out_).subspan(2));
  socket_.reset(::socket(server.Address.ss_family, SOCK_STREAM, IPPROTO_TCP));
  if (length < vbDNS::HEADER_SIZE || !socket_) {
    Fail();
    return;
  }
  out_[0] = static_cast<std::uint8_t>(length >> 8);
  out_[1] = static_cast<std::uint8_t>(length & 0xFF);
  outSize_ = 2 + length;
  // Makes the socket non-blocking: the connect below returns at once.
  if (::WSAEventSelect(socket_.get(), ready, FD_CONNECT | FD_WRITE | FD_READ | FD_CLOSE) != 0) {
    Fail();
    return;
  }
  if (::connect(socket_.get(), reinterpret_cast<const sockaddr*>(&server.Address), server.Length) == 0) {
    connected_ = true;
    if (!Write()) Fail();
  } else if (::WSAGetLastError() != WSAEWOULDBLOCK) {
    Fail();
  }
}

void TcpAsk::Fail() {
  state_ = State::Failed;
  socket_.reset();
  in_.clear();
}

bool TcpAsk::Write() {
  while (written_ < outSize_) {
    const int sent = ::send(socket_.get(), reinterpret_cast<const char*>(out_.data() + written_),
                            static_cast<int>(outSize_ - written_), 0);
    if (sent == SOCKET_ERROR) return ::WSAGetLastError() == WSAEWOULDBLOCK;  // FD_WRITE tells when there is room
    written_ += static_cast<std::size_t>(sent);
  }
  return true;
}

// Reads what is there, up to the end of the one message expected; false on an
// error of the connection.
bool TcpAsk::ReadSome(bool& closed) {
  for (;;) {
    char* into = nullptr;
    std::size_t wanted = 0;
    if (have_ < 2) {
      into = reinterpret_cast<char*>(length_.data() + have_);
      wanted = 2 - have_;
    } else {
      const std::size_t length = static_cast<std::size_t>(length_[0]) << 8 | length_[1];
      if (have_ >= 2 + length) return true;
      // Grown as the message comes, never past what its length announced.
      if (in_.size() != length) in_.resize(length);
      into = reinterpret_cast<char*>(in_.data() + (have_ - 2));
      wanted = 2 + length - have_;
    }
    const int received = ::recv(socket_.get(), into, static_cast<int>(wanted), 0);
    if (received == 0) {
      closed = true;
      return true;
    }
    if (received == SOCKET_ERROR) return ::WSAGetLastError() == WSAEWOULDBLOCK;
    have_ += static_cast<std::size_t>(received);
    if (have_ == 2) {
      const std::size_t length = static_cast<std::size_t>(length_[0]) << 8 | length_[1];
      if (length < vbDNS::HEADER_SIZE) return false;
    }
  }
}

TcpAsk::State TcpAsk::Advance() {
  if (state_ != State::Pending) return state_;
  WSANETWORKEVENTS events{};
  // No event handle here: the engine's event is shared by every connection and
  // was reset by its wait, so resetting it here could hide another's signal.
  if (::WSAEnumNetworkEvents(socket_.get(), nullptr, &events) != 0) {
    Fail();
    return state_;
  }
  if (events.lNetworkEvents & FD_CONNECT) {
    if (events.iErrorCode[FD_CONNECT_BIT] != 0) {
      Fail();
      return state_;
    }
    connected_ = true;
  }
  if (connected_ && !Write()) {
    Fail();
    return state_;
  }
  bool closed = false;
  if ((events.lNetworkEvents & (FD_READ | FD_CLOSE)) && !ReadSome(closed)) {
    Fail();
    return state_;
  }
  if (have_ >= 2) {
    const std::size_t length = static_cast<std::size_t>(length_[0]) << 8 | length_[1];
    if (have_ >= 2 + length) {
      if (!vbDNS::ReplyMatchesQuery(in_, id_, question_)) {
        Fail();
        return state_;
      }
      state_ = State::Answered;
      socket_.reset();
      return state_;
    }
  }
  if (closed || (events.lNetworkEvents & FD_CLOSE)) Fail();  // closed before the whole reply
  return state_;
}

}  // namespace vavizav
