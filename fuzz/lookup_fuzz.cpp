// The lookups' decision path on arbitrary reply octets: whatever the server
// sends, a lookup ends with addresses or a name and no error text, or with no
// result and one of the failure texts, and the result is printable text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "resolver/lookup.h"
#include "stand_in_exchange.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckOutcome(const vavizav::resolver::LookupOutcome& outcome, std::string_view unresolved, bool forward) {
  if (outcome.Result.empty()) {
    Check(outcome.LastError == unresolved || outcome.LastError == vavizav::resolver::ERROR_TIMED_OUT);
    return;
  }
  Check(outcome.LastError.empty());
  for (const char c : outcome.Result) {
    if (forward) Check((c >= '0' && c <= '9') || c == '.' || c == '\r' || c == '\n');
    else Check(c >= 0x21 && c <= 0x7E);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vavizav::testing::StandInExchange exchange(vbDNS::Packet(data, data + size));
  CheckOutcome(vavizav::resolver::ForwardLookup(u"ab.cd", exchange), vavizav::resolver::ERROR_UNRESOLVED_NAME, true);
  CheckOutcome(vavizav::resolver::ReverseLookup(u"192.0.2.1", exchange), vavizav::resolver::ERROR_UNRESOLVED_ADDRESS,
               false);
  return 0;
}
