#include "exchange/tls_session.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

namespace vavizav::exchange {
namespace {

constexpr ULONG REQUEST_FLAGS = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_MANUAL_CRED_VALIDATION |
                                ISC_REQ_EXTENDED_ERROR;
// A record is at most 16 KiB of data plus its overhead; more than a few of
// them unread means the server sends faster than anything is taken.
constexpr std::size_t MAX_INCOMING = 64 * 1024;

// The ALPN offer as SECBUFFER_APPLICATION_PROTOCOLS lays it out: the size of
// the lists; one list: its kind (ALPN), its size, then "dot" with its length.
constexpr std::array<std::uint8_t, 14> ALPN_DOT{
    10, 0, 0, 0,                   // ProtocolListsSize: the one list below
    2,  0, 0, 0,                   // SecApplicationProtocolNegotiationExt_ALPN
    4,  0,                         // ProtocolListSize
    3,  'd', 'o', 't',             // "dot"
};

}  // namespace

TlsSession::TlsSession(std::wstring name) : name_(std::move(name)) {}

TlsSession::~TlsSession() {
  if (haveContext_) ::DeleteSecurityContext(&context_);
  if (haveCredentials_) ::FreeCredentialsHandle(&credentials_);
}

bool TlsSession::Fail(SECURITY_STATUS code) {
  code_ = code;
  state_ = TlsState::Failed;
  return false;
}

bool TlsSession::Start() {
  SCHANNEL_CRED cred{};
  cred.dwVersion = SCHANNEL_CRED_VERSION;
  cred.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT;
  // The certificate is checked here, not by Schannel; no client certificate.
  cred.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
  wchar_t package[] = UNISP_NAME_W;
  const SECURITY_STATUS acquired = ::AcquireCredentialsHandleW(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &cred,
                                                               nullptr, nullptr, &credentials_, nullptr);
  if (acquired != SEC_E_OK) return Fail(acquired);
  haveCredentials_ = true;
  return Handshake();
}

// One step of the handshake on what has come so far (nothing, for the first).
bool TlsSession::Handshake() {
  std::array<std::uint8_t, ALPN_DOT.size()> alpn = ALPN_DOT;
  std::array<SecBuffer, 2> in{};
  if (!haveContext_) {
    in[0] = {static_cast<ULONG>(alpn.size()), SECBUFFER_APPLICATION_PROTOCOLS, alpn.data()};
    in[1] = {0, SECBUFFER_EMPTY, nullptr};
  } else {
    in[0] = {static_cast<ULONG>(incoming_.size()), SECBUFFER_TOKEN, incoming_.data()};
    in[1] = {0, SECBUFFER_EMPTY, nullptr};
  }
  SecBufferDesc inDesc{SECBUFFER_VERSION, static_cast<ULONG>(in.size()), in.data()};
  std::array<SecBuffer, 2> out{};
  out[0] = {0, SECBUFFER_TOKEN, nullptr};
  out[1] = {0, SECBUFFER_ALERT, nullptr};
  SecBufferDesc outDesc{SECBUFFER_VERSION, static_cast<ULONG>(out.size()), out.data()};
  ULONG attributes = 0;
  const SECURITY_STATUS status = ::InitializeSecurityContextW(
      &credentials_, haveContext_ ? &context_ : nullptr, name_.data(), REQUEST_FLAGS, 0, 0, &inDesc, 0,
      haveContext_ ? nullptr : &context_, &outDesc, &attributes, nullptr);
  if (!haveContext_ && (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED || status == SEC_E_INCOMPLETE_MESSAGE)) {
    haveContext_ = true;
  }
  for (SecBuffer& buffer : out) {
    if (buffer.pvBuffer == nullptr) continue;
    if (buffer.BufferType == SECBUFFER_TOKEN && buffer.cbBuffer > 0) {
      const auto* octets = static_cast<const std::uint8_t*>(buffer.pvBuffer);
      outgoing_.insert(outgoing_.end(), octets, octets + buffer.cbBuffer);
    }
    ::FreeContextBuffer(buffer.pvBuffer);
  }
  if (status == SEC_E_INCOMPLETE_MESSAGE) return true;  // more octets needed
  if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED) return Fail(status);
  // What Schannel did not consume stays for the next step (or is data).
  if (haveContext_ && in[1].BufferType == SECBUFFER_EXTRA && in[1].cbBuffer > 0 && in[1].cbBuffer <= incoming_.size()) {
    incoming_.erase(incoming_.begin(), incoming_.end() - static_cast<std::ptrdiff_t>(in[1].cbBuffer));
  } else if (in[0].BufferType == SECBUFFER_TOKEN) {
    incoming_.clear();
  }
  if (status == SEC_I_CONTINUE_NEEDED) {
    // Octets left over are the next handshake message already.
    return incoming_.empty() ? true : Handshake();
  }
  Finished();
  if (state_ != TlsState::Open) return false;
  return incoming_.empty() ? true : Decrypt();
}

// The handshake is done: the sizes, the protocol, and the certificate check.
void TlsSession::Finished() {
  SECURITY_STATUS status = ::QueryContextAttributesW(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_);
  if (status != SEC_E_OK) {
    Fail(status);
    return;
  }
  SecPkgContext_ConnectionInfo connection{};
  if (::QueryContextAttributesW(&context_, SECPKG_ATTR_CONNECTION_INFO, &connection) == SEC_E_OK) {
    version_ = connection.dwProtocol;
  }
  SecPkgContext_ApplicationProtocol alpn{};
  if (::QueryContextAttributesW(&context_, SECPKG_ATTR_APPLICATION_PROTOCOL, &alpn) == SEC_E_OK &&
      alpn.ProtoNegoStatus == SecApplicationProtocolNegotiationStatus_Success) {
    protocol_.assign(reinterpret_cast<const char*>(alpn.ProtocolId), alpn.ProtocolIdSize);
  }
  runtime::unique_cert_context certificate;
  status = ::QueryContextAttributesW(&context_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, certificate.put());
  if (status != SEC_E_OK || !certificate) {
    check_ = {CertificateVerdict::Unchecked, static_cast<DWORD>(status)};
    state_ = TlsState::Untrusted;
    return;
  }
  check_ = CheckServerCertificate(certificate.get(), name_);
  state_ = check_.Verdict == CertificateVerdict::Trusted ? TlsState::Open : TlsState::Untrusted;
}

bool TlsSession::Feed(std::span<const std::uint8_t> octets) {
  if (state_ != TlsState::Handshaking && state_ != TlsState::Open) return false;
  if (incoming_.size() + octets.size() > MAX_INCOMING) return Fail(SEC_E_BUFFER_TOO_SMALL);
  incoming_.insert(incoming_.end(), octets.begin(), octets.end());
  if (state_ == TlsState::Handshaking) return haveContext_ ? Handshake() : false;
  return Decrypt();
}

// Every whole record received, decrypted in turn.
bool TlsSession::Decrypt() {
  while (!incoming_.empty() && state_ == TlsState::Open) {
    std::array<SecBuffer, 4> buffers{};
    buffers[0] = {static_cast<ULONG>(incoming_.size()), SECBUFFER_DATA, incoming_.data()};
    for (std::size_t i = 1; i < buffers.size(); ++i) buffers[i] = {0, SECBUFFER_EMPTY, nullptr};
    SecBufferDesc desc{SECBUFFER_VERSION, static_cast<ULONG>(buffers.size()), buffers.data()};
    const SECURITY_STATUS status = ::DecryptMessage(&context_, &desc, 0, nullptr);
    if (status == SEC_E_INCOMPLETE_MESSAGE) return true;
    if (status == SEC_I_CONTEXT_EXPIRED) {
      state_ = TlsState::Closed;
      return false;
    }
    if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE) return Fail(status);
    std::size_t extra = 0;
    for (const SecBuffer& buffer : buffers) {
      if (buffer.BufferType == SECBUFFER_DATA && buffer.pvBuffer != nullptr) {
        const auto* data = static_cast<const std::uint8_t*>(buffer.pvBuffer);
        plain_.insert(plain_.end(), data, data + buffer.cbBuffer);
      } else if (buffer.BufferType == SECBUFFER_EXTRA) {
        extra = buffer.cbBuffer;
      }
    }
    // The decrypted data lies inside incoming_: copied out above before the
    // consumed octets go.
    if (extra > incoming_.size()) return Fail(SEC_E_INTERNAL_ERROR);
    incoming_.erase(incoming_.begin(), incoming_.end() - static_cast<std::ptrdiff_t>(extra));
    if (status == SEC_I_RENEGOTIATE) {
      // A handshake message after the handshake (TLS 1.3 session tickets):
      // handed back to InitializeSecurityContext with what follows it.
      state_ = TlsState::Handshaking;
      if (!Handshake()) return false;
    }
  }
  return true;
}

bool TlsSession::Send(std::span<const std::uint8_t> plain) {
  if (state_ != TlsState::Open) return false;
  while (!plain.empty()) {
    const std::size_t chunk = std::min<std::size_t>(plain.size(), sizes_.cbMaximumMessage);
    std::vector<std::uint8_t> record(sizes_.cbHeader + chunk + sizes_.cbTrailer);
    std::memcpy(record.data() + sizes_.cbHeader, plain.data(), chunk);
    std::array<SecBuffer, 4> buffers{};
    buffers[0] = {sizes_.cbHeader, SECBUFFER_STREAM_HEADER, record.data()};
    buffers[1] = {static_cast<ULONG>(chunk), SECBUFFER_DATA, record.data() + sizes_.cbHeader};
    buffers[2] = {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + sizes_.cbHeader + chunk};
    buffers[3] = {0, SECBUFFER_EMPTY, nullptr};
    SecBufferDesc desc{SECBUFFER_VERSION, static_cast<ULONG>(buffers.size()), buffers.data()};
    const SECURITY_STATUS status = ::EncryptMessage(&context_, 0, &desc, 0);
    if (status != SEC_E_OK) return Fail(status);
    const std::size_t size = buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer;
    outgoing_.insert(outgoing_.end(), record.begin(), record.begin() + static_cast<std::ptrdiff_t>(size));
    plain = plain.subspan(chunk);
  }
  return true;
}

void TlsSession::Shutdown() {
  if (state_ != TlsState::Open) return;
  DWORD type = SCHANNEL_SHUTDOWN;
  SecBuffer buffer{sizeof type, SECBUFFER_TOKEN, &type};
  SecBufferDesc desc{SECBUFFER_VERSION, 1, &buffer};
  if (::ApplyControlToken(&context_, &desc) != SEC_E_OK) return;
  state_ = TlsState::Handshaking;
  Handshake();
  state_ = TlsState::Closed;
}

}  // namespace vavizav::exchange
