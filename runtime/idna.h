// Host names to the ASCII form that goes on the wire (IDNA, RFC 5890/5891).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vavizav {

// A name of ASCII characters only is returned unchanged (its checks are the
// query builder's). Any other name goes through IdnToAscii, which turns each
// label with other characters into its xn-- form; nullopt when it refuses the
// name (a prohibited or unassigned character, a label too long when encoded).
std::optional<std::wstring> HostNameToAscii(std::wstring_view name);

}  // namespace vavizav
