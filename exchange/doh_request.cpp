#include "exchange/doh_request.h"

#include <winhttp.h>

#include <algorithm>
#include <array>
#include <climits>

#include "runtime/certificate_handles.h"

namespace vavizav::exchange {
namespace {

// The largest reply taken: a DNS message is at most 65,535 octets.
constexpr std::size_t MAX_REPLY = 65535;

// What the status callback found when the connection stood.
struct Gate {
  std::wstring Name;
  bool Checked = false;
  CertificateCheck Check{};
};

void CALLBACK OnStatus(HINTERNET request, DWORD_PTR context, DWORD status, LPVOID, DWORD) {
  if (status != WINHTTP_CALLBACK_STATUS_SENDING_REQUEST || context == 0) return;
  Gate& gate = *reinterpret_cast<Gate*>(context);
  if (gate.Checked) return;
  gate.Checked = true;
  PCCERT_CONTEXT certificate = nullptr;
  DWORD size = sizeof certificate;
  if (!::WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &certificate, &size) || !certificate) {
    gate.Check = {CertificateVerdict::Unchecked, ::GetLastError()};
  } else {
    const runtime::unique_cert_context owned(certificate);
    gate.Check = CheckServerCertificate(owned.get(), gate.Name);
  }
  // A certificate that fails ends the request before anything is written.
  if (gate.Check.Verdict != CertificateVerdict::Trusted) ::WinHttpCloseHandle(request);
}

std::uint16_t PortOf(const ServerEndpoint& server) {
  if (server.Address.ss_family == AF_INET6) return ::ntohs(reinterpret_cast<const sockaddr_in6&>(server.Address).sin6_port);
  return ::ntohs(reinterpret_cast<const sockaddr_in&>(server.Address).sin_port);
}

DohResult Failure(DohOutcome outcome) {
  DohResult result;
  result.Outcome = outcome;
  result.Error = ::GetLastError();
  return result;
}

}  // namespace

void InternetTraits::Close(type value) noexcept { ::WinHttpCloseHandle(value); }

DohClient::DohClient(const ServerEndpoint& server) : server_(server) {
  if (server.Transport != ServerTransport::Https) return;
  // Only the server itself: never a proxy.
  session_.reset(::WinHttpOpen(L"Vavizav", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                               WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session_) return;
  // HTTP/2 where the system offers it (Windows 10 1607 and later); a system
  // without it refuses the option and speaks HTTP/1.1 with keep-alive.
  DWORD protocols = WINHTTP_PROTOCOL_FLAG_HTTP2;
  ::WinHttpSetOption(session_.get(), WINHTTP_OPTION_ENABLE_HTTP_PROTOCOL, &protocols, sizeof protocols);
  connection_.reset(::WinHttpConnect(session_.get(), server.Host.c_str(), PortOf(server), 0));
}

DohResult DohExchange(const ServerEndpoint& server, vbDNS::PacketView query, DWORD timeoutMs) {
  return DohClient(server).Exchange(query, timeoutMs);
}

DohResult DohClient::Exchange(vbDNS::PacketView query, DWORD timeoutMs) const {
  const ServerEndpoint& server = server_;
  if (!connection_ || query.size() > MAX_REPLY) return Failure(DohOutcome::Failed);
  const wchar_t* accept[] = {L"application/dns-message", nullptr};
  unique_internet request(::WinHttpOpenRequest(connection_.get(), L"POST", server.Path.c_str(), nullptr,
                                               WINHTTP_NO_REFERER, accept, WINHTTP_FLAG_SECURE));
  if (!request) return Failure(DohOutcome::Failed);
  const int timeout = static_cast<int>(std::min<DWORD>(timeoutMs, INT_MAX));
  ::WinHttpSetTimeouts(request.get(), timeout, timeout, timeout, timeout);
  DWORD flags = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
                SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;
  ::WinHttpSetOption(request.get(), WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
  Gate gate{server.CertificateName};
  ::WinHttpSetStatusCallback(request.get(), OnStatus, WINHTTP_CALLBACK_FLAG_SEND_REQUEST, 0);
  const wchar_t headers[] = L"Content-Type: application/dns-message\r\n";
  const BOOL sent = ::WinHttpSendRequest(request.get(), headers, static_cast<DWORD>(-1L),
                                         const_cast<std::uint8_t*>(query.data()), static_cast<DWORD>(query.size()),
                                         static_cast<DWORD>(query.size()), reinterpret_cast<DWORD_PTR>(&gate));
  if (gate.Checked && gate.Check.Verdict != CertificateVerdict::Trusted) {
    (void)request.release();  // closed by the callback
    DohResult result;
    result.Outcome = DohOutcome::Untrusted;
    result.Check = gate.Check;
    return result;
  }
  if (!sent || !::WinHttpReceiveResponse(request.get(), nullptr)) return Failure(DohOutcome::Failed);
  if (!gate.Checked) return Failure(DohOutcome::Failed);  // no moment to check the certificate was seen

  DohResult result;
  result.Check = gate.Check;
  DWORD size = sizeof result.HttpStatus;
  if (!::WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &result.HttpStatus, &size, WINHTTP_NO_HEADER_INDEX)) {
    return Failure(DohOutcome::Failed);
  }
  if (result.HttpStatus != 200) {
    result.Outcome = DohOutcome::HttpError;
    return result;
  }
  std::array<std::uint8_t, 4096> chunk;
  for (;;) {
    DWORD read = 0;
    if (!::WinHttpReadData(request.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &read)) {
      return Failure(DohOutcome::Failed);
    }
    if (read == 0) break;
    if (result.Reply.size() + read > MAX_REPLY) {
      result.Outcome = DohOutcome::HttpError;
      return result;
    }
    result.Reply.insert(result.Reply.end(), chunk.begin(), chunk.begin() + read);
  }
  result.Outcome = result.Reply.size() >= vbDNS::HEADER_SIZE ? DohOutcome::Answered : DohOutcome::HttpError;
  return result;
}

}  // namespace vavizav::exchange
