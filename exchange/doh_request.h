// One DNS over HTTPS exchange through WinHTTP (RFC 8484): a POST of the
// query, as application/dns-message with ID 0, to the server's path; HTTP/1.1
// with keep-alive (WinHTTP keeps the connection for the session's later
// requests), HTTP/2 where the system offers it. WinHTTP is told to accept
// any certificate, and the component checks it itself the moment the
// connection stands, before the request (and so the question) is written:
// WinHTTP reports that moment as SENDING_REQUEST.
//
// This first form blocks until the reply or the time-out; the shell will run
// it on WinHTTP's asynchronous mode, with the same checks.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "codec/vbdns.h"
#include "exchange/certificate_check.h"
#include "exchange/server_list.h"

namespace vavizav::exchange {

enum class DohOutcome : std::uint8_t {
  Answered,   // 200 with a DNS message
  Untrusted,  // the certificate failed: nothing was sent (Check says why)
  HttpError,  // a status other than 200 (HttpStatus), or not a DNS message
  Failed,     // no connection, a time-out, or WinHTTP refused (Error)
};

struct DohResult {
  DohOutcome Outcome = DohOutcome::Failed;
  DWORD HttpStatus = 0;
  DWORD Error = 0;  // WinHTTP's last error
  CertificateCheck Check{};
  vbDNS::Packet Reply;
};

// `server` an https:// entry; `query` the DNS message (ID 0).
DohResult DohExchange(const ServerEndpoint& server, vbDNS::PacketView query, DWORD timeoutMs);

}  // namespace vavizav::exchange
