#include "resolver/status.h"

#include <string_view>

#include "codec/message.h"

namespace vavizav::resolver {
namespace {

// The text of each end that carries no response code, by StatusKind.
constexpr std::string_view KIND_TEXT[] = {"", "TRUNCATED", "TIMEOUT", "NOSERVER", "BADNAME", "MALFORMED", "CANCELLED", "UNTRUSTED"};

}  // namespace

std::string StatusText(AnswerStatus status) {
  if (status.Kind == StatusKind::Rcode) return vbDNS::RcodeMnemonic(status.Rcode);
  const auto kind = static_cast<std::size_t>(status.Kind);
  return std::string(kind < std::size(KIND_TEXT) ? KIND_TEXT[kind] : "MALFORMED");
}

}  // namespace vavizav::resolver
