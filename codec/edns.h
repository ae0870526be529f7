// What a reply's OPT record says beyond its header fields: the extended DNS
// errors of RFC 8914 (option 15), each an INFO-CODE and optional text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "codec/message.h"

namespace vbDNS {

inline constexpr std::uint16_t EDNS_OPTION_EDE = 15;

struct ExtendedError {
  std::uint16_t InfoCode = 0;
  std::string ExtraText;  // the octets as sent (UTF-8 by the RFC), a trailing NUL dropped
  friend bool operator==(const ExtendedError&, const ExtendedError&) = default;
};

// Every extended error of the message, in order. An option shorter than its
// INFO-CODE is skipped; none without OPT.
std::vector<ExtendedError> ExtendedErrors(const Message& message);

// The IANA name of an INFO-CODE ("DNSSEC Bogus"); "" for a code without one.
std::string_view ExtendedErrorName(std::uint16_t infoCode) noexcept;

// "6 DNSSEC Bogus (signature expired)": the code, its name when it has one,
// then the extra text in parentheses when there is some; several joined by
// "; ". "" for none.
std::string ExtendedErrorText(const std::vector<ExtendedError>& errors);

}  // namespace vbDNS
