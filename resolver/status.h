// How a question of the Resolver class ended, as a value: the server's
// response code, or one of the ends that carry none. It becomes text
// (Answer.Status) only at the COM edge, through StatusText.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

namespace vavizav::resolver {

enum class StatusKind : std::uint8_t {
  Rcode,      // the server answered with Rcode (NOERROR, NXDOMAIN, ..., extended codes included)
  Truncated,  // cut short (TC), TCP failed, and the cut reply said NOERROR: no verdict
  Timeout,    // no reply that counts came in time
  NoServer,   // no server could be used; nothing was sent
  BadName,    // the name or the type cannot be asked; nothing was sent
  Malformed,  // only replies that could not be read came back
  Cancelled,  // the caller ended the batch first (Resolver.Cancel, Batch.Cancel)
  Untrusted,  // the encrypted servers' certificates failed the component's check; nothing was sent
};

struct AnswerStatus {
  StatusKind Kind = StatusKind::Rcode;
  std::uint16_t Rcode = 0;  // the response code when Kind is Rcode, 0 otherwise

  // A status that came with a reply, so a server answered: Rcode and Truncated.
  constexpr bool FromReply() const noexcept { return Kind == StatusKind::Rcode || Kind == StatusKind::Truncated; }
  friend constexpr bool operator==(const AnswerStatus&, const AnswerStatus&) = default;
};

constexpr AnswerStatus RcodeStatus(std::uint16_t rcode) noexcept { return AnswerStatus{StatusKind::Rcode, rcode}; }
inline constexpr AnswerStatus NOERROR_STATUS = RcodeStatus(0);
inline constexpr AnswerStatus TIMEOUT_STATUS{StatusKind::Timeout, 0};
inline constexpr AnswerStatus NOSERVER_STATUS{StatusKind::NoServer, 0};
inline constexpr AnswerStatus BADNAME_STATUS{StatusKind::BadName, 0};
inline constexpr AnswerStatus MALFORMED_STATUS{StatusKind::Malformed, 0};
inline constexpr AnswerStatus TRUNCATED_STATUS{StatusKind::Truncated, 0};
inline constexpr AnswerStatus CANCELLED_STATUS{StatusKind::Cancelled, 0};
inline constexpr AnswerStatus UNTRUSTED_STATUS{StatusKind::Untrusted, 0};

// The text a script reads: the RCODE's IANA mnemonic ("NOERROR", "NXDOMAIN",
// "BADVERS", "RCODE12" for a code without one), or "TRUNCATED", "TIMEOUT",
// "NOSERVER", "BADNAME", "MALFORMED", "CANCELLED", "UNTRUSTED".
std::string StatusText(AnswerStatus status);

// For test messages.
inline std::ostream& operator<<(std::ostream& out, AnswerStatus status) { return out << StatusText(status); }

}  // namespace vavizav::resolver
