// One TLS client session through Schannel, without a socket of its own: the
// shell hands it what the connection gave and sends what it asks, so one
// wait serves every connection as it serves the UDP sockets. TLS 1.2 or
// later, ALPN "dot" (RFC 7858), the server name sent (SNI) for the entry's
// #NAME. Schannel is told to leave the certificate alone (Wine's accepts any):
// once the handshake is done, the component checks it itself
// (CheckServerCertificate) before any query goes out.
#pragma once

#define SECURITY_WIN32
#include <windows.h>
#include <wincrypt.h>
#include <security.h>
#include <schannel.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "exchange/certificate_check.h"
#include "runtime/certificate_handles.h"

namespace vavizav::exchange {

enum class TlsState : std::uint8_t {
  Handshaking,
  Open,       // handshake done and the certificate checked: application data flows
  Untrusted,  // the certificate failed the component's check (Check() says why)
  Closed,     // the server closed the session (close_notify) or the stream ended
  Failed,     // Schannel refused (Code() holds its status)
};

class TlsSession {
 public:
  // `name`: what the server's certificate must carry, sent as its SNI too.
  explicit TlsSession(std::wstring name);
  ~TlsSession();
  TlsSession(const TlsSession&) = delete;
  TlsSession& operator=(const TlsSession&) = delete;

  // Makes the ClientHello (in TakeOutgoing). false when Schannel refuses.
  bool Start();
  // What came from the server, in order. Advances the handshake, or
  // decrypts; what was decrypted waits in TakePlain. false once the session
  // cannot go on (State says how).
  bool Feed(std::span<const std::uint8_t> octets);
  // Application data to send, encrypted into the outgoing octets. false when
  // the session is not open or Schannel refuses.
  bool Send(std::span<const std::uint8_t> plain);
  // The octets to write to the connection now.
  std::vector<std::uint8_t> TakeOutgoing() { return std::exchange(outgoing_, {}); }
  // The application data decrypted so far.
  std::vector<std::uint8_t> TakePlain() { return std::exchange(plain_, {}); }
  // A close_notify for the server, in TakeOutgoing (when the session is open).
  void Shutdown();

  TlsState State() const { return state_; }
  // The certificate's verdict (once the handshake is done).
  const CertificateCheck& Check() const { return check_; }
  // Schannel's status of a failure.
  SECURITY_STATUS Code() const { return code_; }
  // The protocol the server chose by ALPN ("dot"), empty when it chose none.
  const std::string& Protocol() const { return protocol_; }
  // The TLS version in force (SP_PROT_TLS1_2_CLIENT, SP_PROT_TLS1_3_CLIENT),
  // 0 before the handshake is done.
  DWORD Version() const { return version_; }

 private:
  bool Handshake();
  bool Decrypt();
  bool Fail(SECURITY_STATUS code);
  void Finished();

  std::wstring name_;
  CredHandle credentials_{};
  CtxtHandle context_{};
  bool haveCredentials_ = false;
  bool haveContext_ = false;
  TlsState state_ = TlsState::Handshaking;
  SECURITY_STATUS code_ = 0;
  CertificateCheck check_{};
  std::string protocol_;
  DWORD version_ = 0;
  SecPkgContext_StreamSizes sizes_{};
  std::vector<std::uint8_t> incoming_;  // received, not yet consumed by Schannel
  std::vector<std::uint8_t> outgoing_;
  std::vector<std::uint8_t> plain_;
};

}  // namespace vavizav::exchange
