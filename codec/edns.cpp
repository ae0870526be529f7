#include "codec/edns.h"

#include <array>

#include "codec/wire_reader.h"

namespace vbDNS {
namespace {

using detail::Get16;
using detail::WireReader;

// The IANA registry "Extended DNS Error Codes", by INFO-CODE.
constexpr std::string_view EDE_NAMES[] = {
    "Other Error",
    "Unsupported DNSKEY Algorithm",
    "Unsupported DS Digest Type",
    "Stale Answer",
    "Forged Answer",
    "DNSSEC Indeterminate",
    "DNSSEC Bogus",
    "Signature Expired",
    "Signature Not Yet Valid",
    "DNSKEY Missing",
    "RRSIGs Missing",
    "No Zone Key Bit Set",
    "NSEC Missing",
    "Cached Error",
    "Not Ready",
    "Blocked",
    "Censored",
    "Filtered",
    "Prohibited",
    "Stale NXDomain Answer",
    "Not Authoritative",
    "Not Supported",
    "No Reachable Authority",
    "Network Error",
    "Invalid Data",
    "Signature Expired before Valid",
    "Too Early",
    "Unsupported NSEC3 Iterations Value",
    "Unable to conform to policy",
    "Synthesized",
    "Invalid Query Type",
};

}  // namespace

std::vector<ExtendedError> ExtendedErrors(const Message& message) {
  std::vector<ExtendedError> errors;
  const std::optional<EdnsInfo>& edns = message.Edns();
  if (!edns) return errors;
  // ReadMessage checked that the options fill the data exactly.
  WireReader in(message.Packet().subspan(edns->OptionsOffset, edns->OptionsLength));
  while (in.Ok() && in.Left() >= 4) {
    const std::array<std::uint8_t, 4> option = in.Fixed<4>();
    WireReader data = in.Sub(Get16<2>(option));
    if (!in.Ok() || Get16<0>(option) != EDNS_OPTION_EDE || data.Left() < 2) continue;
    ExtendedError error;
    error.InfoCode = Get16<0>(data.Fixed<2>());
    const PacketView text = data.Bytes(data.Left());
    error.ExtraText.assign(text.begin(), text.end());
    while (!error.ExtraText.empty() && error.ExtraText.back() == '\0') error.ExtraText.pop_back();
    errors.push_back(std::move(error));
  }
  return errors;
}

std::string_view ExtendedErrorName(std::uint16_t infoCode) noexcept {
  return infoCode < std::size(EDE_NAMES) ? EDE_NAMES[infoCode] : std::string_view();
}

std::string ExtendedErrorText(const std::vector<ExtendedError>& errors) {
  std::string text;
  for (const ExtendedError& error : errors) {
    if (!text.empty()) text += "; ";
    text += std::to_string(error.InfoCode);
    if (const std::string_view name = ExtendedErrorName(error.InfoCode); !name.empty()) {
      text += ' ';
      text += name;
    }
    if (!error.ExtraText.empty()) {
      text += " (";
      text += error.ExtraText;
      text += ')';
    }
  }
  return text;
}

}  // namespace vbDNS
