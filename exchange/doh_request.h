// One DNS over HTTPS exchange through WinHTTP (RFC 8484): a POST of the
// query, as application/dns-message with ID 0, to the server's path; HTTP/1.1
// with keep-alive (WinHTTP keeps the connection for the session's later
// requests), HTTP/2 where the system offers it. WinHTTP is told to accept
// any certificate, and the component checks it itself the moment the
// connection stands, before the request (and so the question) is written:
// WinHTTP reports that moment as SENDING_REQUEST.
//
// An exchange blocks until the reply or its time-out: the engine runs each on
// a worker of its own (exchange/engine.cpp), many at once on one DohClient.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "codec/vbdns.h"
#include "exchange/certificate_check.h"
#include "exchange/server_list.h"
#include "runtime/handles.h"

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

struct InternetTraits {
  using type = void*;  // HINTERNET, without <winhttp.h> for every includer
  static type Invalid() noexcept { return nullptr; }
  static void Close(type value) noexcept;
};
using unique_internet = runtime::unique_any<InternetTraits>;

// One https:// server's WinHTTP session and connection, kept for a call:
// WinHTTP keeps the TCP and TLS connections alive between its requests and
// opens more when several are in flight at once. Exchange may run on several
// threads at once. Under Wine a request costs some 44 ms more than the server
// takes: Wine's WinHTTP writes the headers and the body in two sends without
// TCP_NODELAY, so the body waits for the ACK of the headers, which Linux
// delays by 40 ms (a client writing both at once gets its reply in 0.3 ms
// from the same dnsdist).
class DohClient {
 public:
  explicit DohClient(const ServerEndpoint& server);
  DohClient(const DohClient&) = delete;
  DohClient& operator=(const DohClient&) = delete;

  // `query` the DNS message (ID 0), bounded by `timeoutMs`.
  DohResult Exchange(vbDNS::PacketView query, DWORD timeoutMs) const;

 private:
  ServerEndpoint server_;
  unique_internet session_;
  unique_internet connection_;
};

// One exchange on a client of its own. `server` an https:// entry.
DohResult DohExchange(const ServerEndpoint& server, vbDNS::PacketView query, DWORD timeoutMs);

}  // namespace vavizav::exchange
