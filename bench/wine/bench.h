// What the files of wine_bench share, each declared here and defined in the
// file named in its section: the clock, medians, report lines and stall guard
// (report.cpp), the process footprint (footprint.cpp), the module under test
// (component.cpp) and the baselines it is compared with (bare_exchange.cpp).
// The sections that measure are in wine_bench_speed.cpp and
// wine_bench_endurance.cpp, the options and main in wine_bench.cpp.
#pragma once

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <oleauto.h>
#include <windns.h>
// clang-format on

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "codec/vbdns.h"
#include "com_client.h"
#include "loaded_module.h"
#include "runtime/handles.h"
#include "vavizav.h"

namespace wine_bench {

// The name every timed lookup asks for and the one address it must give.
inline constexpr wchar_t FORWARD_NAME[] = L"one.vavizav.test";
inline constexpr wchar_t FORWARD_ADDRESS[] = L"192.0.2.1";
inline constexpr wchar_t REVERSE_ADDRESS[] = L"192.0.2.1";
inline constexpr wchar_t REVERSE_NAME[] = L"one.vavizav.test";

// --- clock and statistics (report.cpp) ----------------------------------------

inline double NowUs() {
  static const double perUs = [] {
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(frequency.QuadPart) / 1e6;
  }();
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / perUs;
}

double Median(std::vector<double> values);  // NaN for none
double Percentile(std::vector<double> values, double fraction);

// --- report lines (report.cpp) ------------------------------------------------

// "key value unit [note]", one a line; n/a for a figure that could not be had.
void Emit(const std::string& key, double value, const char* unit, const std::string& note = {});
void EmitNa(const std::string& key, const char* unit, const std::string& reason);
void Comment(const std::string& text);
// "Wine 8.0", or "not Wine" on Windows.
std::string WineVersion();

// --- stall guard (report.cpp) -------------------------------------------------

// Every finished lookup or exchange calls Progress(); when none finishes for
// STALL_SECONDS the process prints an error line and exits with status 3, so
// no lost datagram or wedged server can hold a run for ever.
inline constexpr int STALL_SECONDS = 15;
// A program whose steps take longer (a batch of many questions) passes its own bound.
void StartStallGuard(int seconds = STALL_SECONDS);
void Progress();

// --- process footprint (footprint.cpp) ----------------------------------------

// Under Wine, GetProcessHandleCount gives 0 (a stub), PrivateUsage counts
// swapped-out memory only, and GetGuiResources fails with
// ERROR_CALL_NOT_IMPLEMENTED; each figure then comes from a second source,
// named in the report.
struct Footprint {
  double Handles = 0;
  const char* HandleSource = "GetProcessHandleCount";
  double PrivateKiB = 0;
  const char* PrivateSource = "PrivateUsage";
  double UnixAnonymousKiB = -1;  // RssAnon of the process under Wine
  double UserObjects = 0;
  DWORD UserError = 0;  // GetGuiResources' error when it gave 0
  double Windows = 0;   // top-level and message-only windows of the process, with their children
};
Footprint Measure();
// "KEY GROWTH UNIT from BEFORE to AFTER, NOTE".
void EmitGrowth(const std::string& key, double before, double after, const char* unit, const std::string& note);

// --- the module under test (component.cpp) ----------------------------------

class Component {
 public:
  // Loads the module by path; Problem() says why it cannot make objects.
  explicit Component(const std::wstring& dllPath) : module_(dllPath.c_str()) {}
  const std::string& Problem() const { return module_.Problem(); }
  // A new object configured for `server` and `timeoutMs`; empty on failure.
  vavizav::runtime::com_ptr<_VeviVORIdezaz> NewObject(const std::wstring& server, LONG timeoutMs) const;
  // A new Vavizav.Resolver configured the same way; empty on failure.
  vavizav::runtime::com_ptr<_Resolver> NewResolver(const std::wstring& server, LONG timeoutMs) const;

 private:
  vavizav::testing::LoadedModule module_;
};

// One lookup through the function table (early bound) or through
// IDispatch::Invoke (as a script host calls it): the result text, LastError
// and the time the lookup member took (reading LastError afterwards excluded).
using Outcome = vavizav::testing::Answer;
Outcome EarlyForward(_VeviVORIdezaz* object, VARIANT& name);
Outcome EarlyReverse(_VeviVORIdezaz* object, VARIANT& address);
Outcome LateForward(IDispatch* object, VARIANT& name);
// Resolve(name) of type A through the function table, then the Answer's Text
// (what a script reads, as it reads GetIPFromName's result); Us covers both.
Outcome EarlyResolve(_Resolver* resolver, VARIANT& name);

// A VT_BSTR variant holding `text`.
inline vavizav::runtime::unique_variant TextVariant(const wchar_t* text) { return vavizav::testing::Text(text); }

// --- baselines (bare_exchange.cpp) -------------------------------------------

// The same query datagram the object sends for FORWARD_NAME, to one IPv4
// server, with no event, no message pumping and no parsing: only the socket
// calls a query-reply exchange cannot do without.
class BareExchange {
 public:
  // `server`: "a.b.c.d" or "a.b.c.d:port".
  explicit BareExchange(const std::wstring& server);
  const std::string& Problem() const { return problem_; }
  std::uint16_t Port() const { return ntohs(server_.sin_port); }
  const in_addr& Address() const { return server_.sin_addr; }

  // socket, sendto, recvfrom until the reply with this query's ID, closesocket.
  bool FreshSocket();
  // sendto and recvfrom on one socket kept for the whole run.
  bool LongLivedSocket();

 private:
  bool SendAndReceive(SOCKET socket);

  sockaddr_in server_{};
  vbDNS::Packet query_;
  std::uint16_t nextId_ = 1;
  std::vector<char> buffer_ = std::vector<char>(65536);
  vavizav::runtime::unique_socket longLived_;
  std::string problem_;
};

// The platform resolver (DnsQuery_A) pointed at one server through an
// IP4_ARRAY, bypassing its cache. Problem() is set when it cannot be made to
// ask that server (a port other than 53, or a probe that fails).
class PlatformResolver {
 public:
  explicit PlatformResolver(const BareExchange& target);
  const std::string& Problem() const { return problem_; }
  bool Lookup();

 private:
  IP4_ARRAY servers_{};  // the one address
  std::string problem_;
};

}  // namespace wine_bench
